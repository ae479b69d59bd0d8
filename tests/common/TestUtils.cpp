#include "common/TestUtils.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace vl::test {

QString TestRoot()
{
    return QString::fromLocal8Bit(qgetenv("VELKOR_TEST_ROOT"));
}

QString MakeTempDir(const QString &name)
{
    static int counter = 0;
    const QString dir = TestRoot() + QStringLiteral("/%1-%2").arg(name).arg(++counter);
    QDir().mkpath(dir);
    return dir;
}

QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return f.readAll();
}

void WriteBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

} // namespace vl::test

#include <sys/types.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <filesystem>

namespace vl::test {

void RunUnprivileged(const std::function<void()> &body)
{
    fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        if (geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kNobodyGid) != 0 || setuid(kNobodyUid) != 0)
                _exit(3);
        }
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "child died by a signal";
    ASSERT_NE(WEXITSTATUS(status), 3) << "could not drop privileges";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a check in the unprivileged child failed (see above)";
}

void ChownTree(const QString &path)
{
    if (geteuid() != 0)
        return;
    const std::string root = path.toStdString();
    if (chown(root.c_str(), kNobodyUid, kNobodyGid) != 0)
        ADD_FAILURE() << "chown " << root;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (lchown(it->path().c_str(), kNobodyUid, kNobodyGid) != 0)
            ADD_FAILURE() << "chown " << it->path();
    }
}

} // namespace vl::test

#include <ctime>

namespace vl::test {

TScopedTimeZone::TScopedTimeZone(const char *tz)
{
    const char *old = getenv("TZ");
    FHad = old != nullptr;
    if (FHad)
        FSaved = old;
    setenv("TZ", tz, 1);
    tzset();
}

TScopedTimeZone::~TScopedTimeZone()
{
    if (FHad)
        setenv("TZ", FSaved.constData(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace vl::test

namespace vl::test {

void TScopedEnv::Save(const char *name)
{
    FSaved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
}

TScopedEnv::TScopedEnv(std::initializer_list<std::pair<const char *, TEnvValue>> values)
{
    for (const auto &[name, value] : values)
        Set(name, value);
}

void TScopedEnv::Set(const char *name, const TEnvValue &value)
{
    Save(name);
    if (value.IsSet())
        qputenv(name, value.Value());
    else
        qunsetenv(name);
}

TScopedEnv::TScopedEnv(std::initializer_list<const char *> names)
{
    for (const char *name : names)
        Save(name);
}

TScopedEnv::~TScopedEnv()
{
    for (auto it = FSaved.crbegin(); it != FSaved.crend(); ++it) {
        if (it->Set)
            qputenv(it->Name, it->Value);
        else
            qunsetenv(it->Name);
    }
}

} // namespace vl::test
