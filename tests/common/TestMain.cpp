// Test entry point: a QCoreApplication, and a private temporary HOME/XDG
// tree for the whole process, removed at the end.
#include <QCoreApplication>
#ifdef VL_GUI_TESTS
#include <QApplication>
#endif
#include <QDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string MakeRoot()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velkor-test-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    return pattern;
}

void SetEnv(const char *name, const std::string &value)
{
    setenv(name, value.c_str(), 1);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string root = MakeRoot();
    for (const char *sub : {"home", "config", "data", "cache", "runtime", "tmp"})
        QDir().mkpath(QString::fromStdString(root + "/" + sub));
    SetEnv("VELKOR_TEST_ROOT", root);
    SetEnv("HOME", root + "/home");
    SetEnv("XDG_CONFIG_HOME", root + "/config");
    SetEnv("XDG_DATA_HOME", root + "/data");
    SetEnv("XDG_CACHE_HOME", root + "/cache");
    SetEnv("XDG_RUNTIME_DIR", root + "/runtime");
    SetEnv("TMPDIR", root + "/tmp");
    // Permission tests drop to an unprivileged user: it must reach its
    // folders below the root.
    chmod(root.c_str(), 0755);
    chmod((root + "/tmp").c_str(), 01777);
    chmod((root + "/runtime").c_str(), 0700);

#ifdef VL_GUI_TESTS
    // Windows are created but never shown on a real display.
    SetEnv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    testing::InitGoogleMock(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (!std::getenv("VELKOR_KEEP_TEST_ROOT"))
    {
        std::error_code ec; // names need not be UTF-8, so remove by bytes
        std::filesystem::remove_all(root, ec);
    }
    return rc;
}
