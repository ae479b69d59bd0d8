#include "core/ProgramEnv.h"

#include "common/TestUtils.h"
#include "core/Registry.h"
#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vl {
namespace {

const QString kKey = QString::fromUtf8(kIniPathKey);
const QString kValue = QString::fromUtf8(kIniPathValue);

class ProgramEnvTest : public testing::Test {
protected:
    void SetUp() override { QFile::remove(RegistryFileName(TRegistryRoot::rrCurrentUser)); }
    void TearDown() override
    {
        QFile::remove(RegistryFileName(TRegistryRoot::rrCurrentUser));
        VlSettings.Directories.LogDir.clear();
        SettingsFolder.clear();
    }

    QString AppData = qEnvironmentVariable("XDG_CONFIG_HOME");
    QString Dir = test::MakeTempDir(QStringLiteral("env"));
    test::TScopedEnv Env{"XDG_CONFIG_HOME", "HOME", "TMPDIR"};
};

TEST_F(ProgramEnvTest, ProgramFolderAndNameComeFromTheExecutable)
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    EXPECT_EQ(ProgramPath, exe.canonicalPath() + QLatin1Char('/'));
    EXPECT_EQ(ProgramName, QStringLiteral("test_core"));
    EXPECT_EQ(ProgramFilesDirectory() + QLatin1Char('/'), QFileInfo(exe.canonicalPath()).path() + QLatin1Char('/'));
}

TEST_F(ProgramEnvTest, SettingsFolderChoice)
{
    TIniLoc loc = TIniLoc::ilCommand;
    // No IniPath: the default folder below application data.
    EXPECT_EQ(ChooseSettingsFolder(false, loc), AppData + QStringLiteral("/Velkor6/"));
    EXPECT_EQ(loc, TIniLoc::ilNormal);

    // An absolute IniPath wins over the default.
    const QString own = Dir + QStringLiteral("/own");
    ASSERT_TRUE(WriteRegistryString(TRegistryRoot::rrCurrentUser, kKey, kValue, own));
    EXPECT_EQ(ReadIniPathFromRegistry(QStringLiteral("Velkor6/")), own);
    EXPECT_EQ(ChooseSettingsFolder(false, loc), own + QLatin1Char('/'));
    EXPECT_EQ(loc, TIniLoc::ilRegistry);

    // A relative one lies below application data.
    ASSERT_TRUE(WriteRegistryString(TRegistryRoot::rrCurrentUser, kKey, kValue, QStringLiteral("Mine/Set")));
    EXPECT_EQ(ChooseSettingsFolder(false, loc), AppData + QStringLiteral("/Mine/Set/"));
    EXPECT_EQ(loc, TIniLoc::ilRegistry);

    // A program on a USB drive keeps its settings with it.
    EXPECT_EQ(ChooseSettingsFolder(true, loc), ProgramPath);
    EXPECT_EQ(loc, TIniLoc::ilNormal);

    // Without an application-data folder (no home), the program folder.
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    EXPECT_EQ(AppDataDirectory(), QString());
    EXPECT_EQ(UserSettingsDirectory(QStringLiteral("Velkor6/"), true), ProgramPath);
    EXPECT_EQ(ChooseSettingsFolder(false, loc), ProgramPath);
    QString settings, docs, progFiles;
    GetDefaultFolders(settings, docs, progFiles);
    EXPECT_EQ(settings, ProgramPath);
    EXPECT_EQ(docs, QString());
}

TEST_F(ProgramEnvTest, IniFileNamedOnTheCommandLine)
{
    const QString settings = Dir + QStringLiteral("/settings/");
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Dir));
    const struct {
        QString arg, file;
    } cases[] = {
        {ProgramPath + QStringLiteral("test_core.ini"), ProgramPath + QStringLiteral("test_core.ini")}, // /portable
        {Dir + QStringLiteral("/a/"), Dir + QStringLiteral("/a/test_core.ini")},
        {Dir + QStringLiteral("/b/my"), Dir + QStringLiteral("/b/my.ini")},
        {Dir + QStringLiteral("/b/my.cfg"), Dir + QStringLiteral("/b/my.cfg")},
        {QStringLiteral("other"), settings + QStringLiteral("other.ini")},
        {QStringLiteral("sub/x"), Dir + QStringLiteral("/sub/x.ini")},
    };
    for (const auto &c : cases) {
        TIniLoc loc = TIniLoc::ilNormal;
        EXPECT_EQ(ChooseIniFileName(settings, c.arg, loc), c.file) << c.arg.toStdString();
        EXPECT_EQ(loc, TIniLoc::ilCommand);
        EXPECT_TRUE(QFileInfo(QFileInfo(c.file).path()).isDir()) << c.arg.toStdString();
    }
    // A folder that cannot be created falls back to the settings folder.
    test::WriteBytes(Dir + QStringLiteral("/plain"), "x");
    TIniLoc loc = TIniLoc::ilNormal;
    EXPECT_EQ(ChooseIniFileName(settings, Dir + QStringLiteral("/plain/x.ini"), loc), settings + QStringLiteral("test_core.ini"));
    QDir::setCurrent(cwd);
}

TEST_F(ProgramEnvTest, DefaultIniIsImportedFromThePreviousVersion)
{
    QDir().mkpath(AppData + QStringLiteral("/Velkor5"));
    test::WriteBytes(AppData + QStringLiteral("/Velkor5/test_core.ini"), "[Config]\r\nold=1\r\n");
    TIniLoc loc = TIniLoc::ilCommand;
    const QString settings = AppData + QStringLiteral("/Velkor6/");
    const QString ini = ChooseIniFileName(settings, QString(), loc);
    EXPECT_EQ(ini, settings + QStringLiteral("test_core.ini"));
    EXPECT_EQ(test::ReadBytes(ini), QByteArray("[Config]\r\nold=1\r\n"));

    // An existing file is never replaced, not even by a newer old one.
    test::WriteBytes(ini, "new");
    test::WriteBytes(AppData + QStringLiteral("/Velkor5/test_core.ini"), "newer old");
    ImportPreviousVersionFile(AppData, ini);
    EXPECT_EQ(test::ReadBytes(ini), QByteArray("new"));
    QFile::remove(ini);
    QFile::remove(AppData + QStringLiteral("/Velkor5/test_core.ini"));
}

TEST_F(ProgramEnvTest, VersionCaptionKeepsTheLeadingParts)
{
    const struct {
        int parts;
        const char *caption;
    } cases[] = {{1, "Version 6"}, {2, "Version 6.3"}, {3, "Version 6.3.24"}, {4, "Version 6.3.24"}};
    for (const auto &c : cases)
        EXPECT_EQ(VersionCaption(QStringLiteral("6.3.24"), c.parts), QString::fromUtf8(c.caption));
}

TEST_F(ProgramEnvTest, CaptionWithVersionUsesTheDefaults)
{
    QString date, caption;
    ProgramCaptionWithVersion(QStringLiteral("Velkor"), QStringLiteral("6.0.1"), QStringLiteral("(c)"), date, caption, 2);
    EXPECT_EQ(caption, QStringLiteral("Velkor (Version 6.0)"));
    EXPECT_EQ(ProgramInfo.InternalName, QStringLiteral("Velkor"));
    EXPECT_FALSE(date.isEmpty());
}

TEST_F(ProgramEnvTest, TemporaryAndChosenFolders)
{
    qputenv("TMPDIR", Dir.toUtf8());
    EXPECT_EQ(GetProgramTempDir(), Dir + QStringLiteral("/Vl/"));
    EXPECT_TRUE(QFileInfo(Dir + QStringLiteral("/Vl")).isDir());
    // A temporary "folder" that cannot hold one: the temporary folder itself.
    test::WriteBytes(Dir + QStringLiteral("/plain"), "x");
    qputenv("TMPDIR", (Dir + QStringLiteral("/plain")).toUtf8());
    EXPECT_EQ(GetProgramTempDir(), Dir + QStringLiteral("/plain/"));

    EXPECT_EQ(ChooseFolder(Dir + QStringLiteral("/p/q"), QStringLiteral("/fb")), Dir + QStringLiteral("/p/q"));
    EXPECT_TRUE(QFileInfo(Dir + QStringLiteral("/p/q")).isDir());
    EXPECT_EQ(ChooseFolder(Dir + QStringLiteral("/plain/q"), QStringLiteral("/fb")), QStringLiteral("/fb"));
    EXPECT_EQ(ChooseFolder(QString(), Dir), Dir);
}

TEST_F(ProgramEnvTest, LogFolderOrder)
{
    EXPECT_EQ(GetLogFolder(), AppData);
    SettingsFolder = QStringLiteral("/s");
    EXPECT_EQ(GetLogFolder(), QStringLiteral("/s/"));
    VlSettings.Directories.LogDir = QStringLiteral("/logs");
    EXPECT_EQ(GetLogFolder(), QStringLiteral("/logs/"));
}

// A fake sysfs: dev/block/<major:minor of Dir> links to the device folder.
class UsbDriveTest : public ProgramEnvTest {
protected:
    QString Sys = test::MakeTempDir(QStringLiteral("sys"));

    void LinkDevice(const QString &devicePath, bool partition, const char *removable)
    {
        const QString dev = Sys + QStringLiteral("/devices/") + devicePath;
        QDir().mkpath(dev);
        const QString disk = partition ? QFileInfo(dev).path() : dev;
        if (partition)
            test::WriteBytes(dev + QStringLiteral("/partition"), "1\n");
        test::WriteBytes(disk + QStringLiteral("/removable"), removable);
        struct stat st {};
        ASSERT_EQ(::stat(Dir.toUtf8().constData(), &st), 0);
        QDir().mkpath(Sys + QStringLiteral("/dev/block"));
        const QString link = Sys + QStringLiteral("/dev/block/%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev));
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(dev, link));
    }
};

TEST_F(UsbDriveTest, DeviceOnTheUsbBusOrRemovable)
{
    EXPECT_FALSE(IsOnUsbDrive(Dir, Sys)); // no device entry

    LinkDevice(QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1"),
               true, "0\n");
    EXPECT_TRUE(IsOnUsbDrive(Dir, Sys));

    LinkDevice(QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda2"), true, "0\n");
    EXPECT_FALSE(IsOnUsbDrive(Dir, Sys));

    LinkDevice(QStringLiteral("pci0000:00/0000:00:1c.0/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1"), true, "1\n");
    EXPECT_TRUE(IsOnUsbDrive(Dir, Sys));
}

} // namespace
} // namespace vl
