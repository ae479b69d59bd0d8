#include "core/ShellUtils.h"

#include "common/TestUtils.h"
#include "core/ProgramEnv.h"
#include "core/PathUtils.h"
#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"
#include "platform/SysErrors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vl {
namespace {

QString Canonical(const QString &dir)
{
    return QFileInfo(dir).canonicalFilePath();
}

// Whole files on names of any bytes, with missing folders created.
void Put(const QString &path, const QByteArray &data)
{
    MakeDirs(ParentDirectory(path));
    TFile f;
    int64_t done = 0;
    ASSERT_EQ(f.Open(path, TFile::faWrite, TFile::fcCreateAlways), 0u) << path.toStdString();
    ASSERT_EQ(f.Write(data.constData(), data.size(), done), 0u);
}

QByteArray Get(const QString &path)
{
    TFile f;
    int64_t size = 0, done = 0;
    if (f.Open(path, TFile::faRead) != 0 || f.Size(size) != 0) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    QByteArray data(qsizetype(size), '\0');
    f.Read(data.data(), size, done);
    return data.left(qsizetype(done));
}

// ---------------------------------------------------------------------------
// Folders

TEST(ShellUtilsTest, FoldersFollowUserDirsAndXdgVariables)
{
    const QString config = test::MakeTempDir(QStringLiteral("shell-config"));
    const QString data = test::MakeTempDir(QStringLiteral("shell-data"));
    test::TScopedEnv env{{"XDG_CONFIG_HOME", config}, {"XDG_DATA_HOME", data}};
    const QString home = qEnvironmentVariable("HOME");
    Put(config + QStringLiteral("/user-dirs.dirs"),
                     "# written by a test\n"
                     "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                     "XDG_DOCUMENTS_DIR=\"/srv/docs \\\"q\\\"/\"\n"
                     "XDG_MUSIC_DIR=\"$HOME/\"\n"      // switched off
                     "XDG_PICTURES_DIR=\"pictures\"\n" // invalid: the default
                     "XDG_DOWNLOAD_DIR=\"$HOME/Old\"\n"
                     "XDG_DOWNLOAD_DIR=\"$HOME/Neu \\$x\"\n"); // the last one counts

    const struct {
        int Csidl;
        QString Expected;
    } cases[] = {
        {CSIDL_DESKTOP, home + QStringLiteral("/Schreibtisch")},
        {CSIDL_DESKTOPDIRECTORY, home + QStringLiteral("/Schreibtisch")},
        {CSIDL_PERSONAL, QStringLiteral("/srv/docs \"q\"")},
        {CSIDL_MYMUSIC, QString()},
        {CSIDL_MYPICTURES, home + QStringLiteral("/Pictures")},
        {CSIDL_MYVIDEO, home + QStringLiteral("/Videos")},
        {CSIDL_FAVORITES, QString()},
        {CSIDL_STARTUP, config + QStringLiteral("/autostart")},
        {CSIDL_APPDATA, config},
        {CSIDL_LOCAL_APPDATA, data},
        {CSIDL_COMMON_APPDATA, QStringLiteral("/var/lib")},
        {CSIDL_SYSTEM, QStringLiteral("/usr/bin")},
        {CSIDL_PROFILE, home},
        {CSIDL_PROGRAM_FILES, ParentDirectory(ProgramPath)},
        {CSIDL_PROGRAM_FILES_COMMONX86, ParentDirectory(ProgramPath)},
        {1234, QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShellFolderPath(c.Csidl), c.Expected) << "CSIDL " << c.Csidl;

    EXPECT_EQ(KnownFolderPath(FOLDERID_Downloads), home + QStringLiteral("/Neu $x"));
    EXPECT_EQ(KnownFolderPath(FOLDERID_Documents), QStringLiteral("/srv/docs \"q\""));
    // Saved games: nothing on Linux.
    EXPECT_EQ(KnownFolderPath(QUuid(QStringLiteral("{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}"))), QString());
    for (uint8_t kind = 0; kind <= 5; ++kind)
        EXPECT_EQ(ProgramFilesFolder(kind), ParentDirectory(ProgramPath)) << int(kind);
    EXPECT_EQ(ProgramFilesFolder(6), QString());

    // Without user-dirs.dirs the standard names; relative XDG values are
    // invalid and ignored.
    QFile::remove(config + QStringLiteral("/user-dirs.dirs"));
    EXPECT_EQ(ShellFolderPath(CSIDL_PERSONAL), home + QStringLiteral("/Documents"));
    test::TScopedEnv relative{{"XDG_DATA_HOME", QStringLiteral("rel/data")}};
    EXPECT_EQ(ShellFolderPath(CSIDL_LOCAL_APPDATA), home + QStringLiteral("/.local/share"));
}

TEST(ShellUtilsTest, ExecutableKinds)
{
    const QString dir = test::MakeTempDir(QStringLiteral("exekind"));
    auto make = [&](const char *name, const QByteArray &data, uint32_t mode) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        Put(path, data);
        Chmod(path, mode);
        return path;
    };
    const struct {
        QString File;
        int Kind;
    } cases[] = {
        {QCoreApplication::applicationFilePath(), ekConsoleProgram},
        {make("run.sh", "#!/bin/sh\necho hi\n", 0755), ekConsoleProgram},
        {make("plain.sh", "#!/bin/sh\necho hi\n", 0644), ekNone}, // not executable
        {make("notes.txt", "some text\n", 0755), ekNone},
        {make("Velkor.desktop", "[Desktop Entry]\n", 0644), ekShellLink},
        {dir + QStringLiteral("/missing"), ekNone},
        {dir, ekNone},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(GetExeKind(c.File), c.Kind) << c.File.toStdString();
        EXPECT_EQ(IsConsoleProgram(c.File), c.Kind == ekConsoleProgram) << c.File.toStdString();
    }
}

// ---------------------------------------------------------------------------
// Shortcuts

QString ValidateDesktopFile(const QString &file)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("desktop-file-validate"), {file});
    if (!p.waitForFinished(30000))
        return QStringLiteral("desktop-file-validate did not run");
    const QString out = QString::fromUtf8(p.readAll());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || out.contains(QLatin1String("error")))
        return out.isEmpty() ? QStringLiteral("exit code %1").arg(p.exitCode()) : out;
    return QString();
}

TEST(ShellUtilsTest, LinksAreValidDesktopEntriesAndReadBackIdentically)
{
    const QString dir = test::MakeTempDir(QStringLiteral("links"));
    const struct {
        QString Target, Icon, Arguments, WorkDir, Description;
        bool RunAsAdmin;
    } cases[] = {
        {QStringLiteral("/opt/velkor/Velkor"), QStringLiteral("/opt/velkor/Velkor"),
         QStringLiteral("\"/home/u/My Tasks/daily.buj\" /r /h"), QStringLiteral("/home/u/My Tasks"),
         QStringLiteral("Velkor: daily backup"), false},
        {QStringLiteral("/opt/my apps/Velkor"), QString(),
         QStringLiteral("\"say \\\"hi\\\"\" 50% \"C:\\\\dir\" \"\\$HOME and \\`cmd\\`\" \"\" \"it's\" \"~/x;y\" /ini:a=b"),
         QString(), QStringLiteral(" Line one\nline two \\ end"), true},
        {QStringLiteral("/usr/bin/true"), QStringLiteral("velkor"), QString(), QString(), QString(), false},
    };
    int n = 0;
    for (const auto &c : cases) {
        const QString link = dir + QStringLiteral("/Link %1.desktop").arg(++n);
        ASSERT_EQ(CreateShellLink(link, c.Target, c.Icon, c.Arguments, c.WorkDir, c.Description, 3, c.RunAsAdmin), S_OK);
        EXPECT_EQ(ValidateDesktopFile(link), QString()) << Get(link).toStdString();
        TStatInfo st;
        ASSERT_EQ(StatPath(link, false, st), 0u);
        EXPECT_TRUE(st.Mode & S_IXUSR);

        QString target, arguments, workDir, description, icon;
        bool admin = !c.RunAsAdmin;
        ASSERT_EQ(ReadShellLinkEx(link, target, arguments, workDir, description, admin, &icon), S_OK);
        EXPECT_EQ(target, c.Target);
        EXPECT_EQ(arguments, c.Arguments);
        EXPECT_EQ(workDir, c.WorkDir);
        EXPECT_EQ(description, c.Description);
        EXPECT_EQ(icon, c.Icon);
        EXPECT_EQ(admin, c.RunAsAdmin);
    }

    // The Exec line as the desktop reads it: each argument quoted on its
    // own, "%" doubled, backslashes escaped once for the quoting and once
    // for the value.
    const QString link = dir + QStringLiteral("/exec.desktop");
    ASSERT_EQ(CreateShellLinkSimple(link, QStringLiteral("/opt/velkor/Velkor"),
                                    QStringLiteral("'my task.buj' 100% \"a\\\\b\""), QString(), QString(), false),
              S_OK);
    EXPECT_TRUE(Get(link).contains("\nExec=/opt/velkor/Velkor \"my task.buj\" 100%% \"a\\\\\\\\b\"\n"))
        << Get(link).toStdString();
    EXPECT_TRUE(Get(link).contains("\nIcon=/opt/velkor/Velkor\n"));
    QString target, arguments, workDir, description;
    ASSERT_TRUE(ReadShellLink(link, target, arguments, workDir, description));
    EXPECT_EQ(arguments, QStringLiteral("\"my task.buj\" 100% \"a\\\\b\"")); // the quoting of the program

    // A desktop's own field codes stand for files it passes: not arguments.
    Put(link, "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer --new %U \"100%%\"\n");
    ASSERT_TRUE(ReadShellLink(link, target, arguments, workDir, description));
    EXPECT_EQ(target, QStringLiteral("viewer"));
    EXPECT_EQ(arguments, QStringLiteral("--new 100%"));

    EXPECT_EQ(CreateShellLink(link, QString(), QString(), QString(), QString(), QString(), 0, false), E_INVALIDARG);
    EXPECT_EQ(CreateShellLink(link, DecodeFileName(QByteArray("/opt/caf\xE9")), QString(), QString(), QString(), QString(), 0, false),
              E_INVALIDARG);
}

TEST(ShellUtilsTest, ReadingAMissingOrForeignLinkFailsWithEmptyOutputs)
{
    const QString dir = test::MakeTempDir(QStringLiteral("links-bad"));
    const QString notALink = dir + QStringLiteral("/notes.desktop");
    Put(notALink, "[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.org/\n");
    for (const QString &name : {dir + QStringLiteral("/missing.desktop"), notALink}) {
        QString target = QStringLiteral("x"), arguments = QStringLiteral("x"), workDir = QStringLiteral("x"),
                description = QStringLiteral("x");
        EXPECT_FALSE(ReadShellLink(name, target, arguments, workDir, description)) << name.toStdString();
        EXPECT_TRUE(target.isEmpty() && arguments.isEmpty() && workDir.isEmpty() && description.isEmpty());
    }
    QString t, a, w, d;
    bool admin = true;
    EXPECT_EQ(ReadShellLinkEx(dir + QStringLiteral("/missing.desktop"), t, a, w, d, admin), 2);
    EXPECT_FALSE(admin);
    EXPECT_EQ(ReadShellLinkEx(notALink, t, a, w, d, admin), E_FAIL);
}

// ---------------------------------------------------------------------------
// Trash

class ShellTrashTest : public testing::Test {
protected:
    QString Data = test::MakeTempDir(QStringLiteral("trash-data"));
    test::TScopedEnv Env{{"XDG_DATA_HOME", Data}};
    QString Dir = Canonical(test::MakeTempDir(QStringLiteral("trash-src")));
    QString Trash = Data + QStringLiteral("/Trash");
};

TEST_F(ShellTrashTest, FileGoesToTheTrashWithItsInfoAndNamesNeverCollide)
{
    // A blank, a percent sign and a byte that is not UTF-8.
    const QString name = DecodeFileName(QByteArray("my file%\xE9.txt"));
    const QString file = Dir + QLatin1Char('/') + name;
    const QByteArray encodedPath = EncodeFileName(Dir).toPercentEncoding("/") + "/my%20file%25%E9.txt";

    for (int round = 1; round <= 2; ++round) {
        Put(file, "content " + QByteArray::number(round));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        ASSERT_EQ(ShellDeleteFileItem(0, file, true, true), S_OK);
        EXPECT_FALSE(PathExists(file, false));

        const QString trashName = round == 1 ? name : name + QStringLiteral(".2");
        const QString trashed = Trash + QStringLiteral("/files/") + trashName;
        EXPECT_EQ(Get(trashed), "content " + QByteArray::number(round));
        const QByteArray info = Get(Trash + QStringLiteral("/info/") + trashName + QStringLiteral(".trashinfo"));
        const QRegularExpression form(QStringLiteral("^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(.*)\n$"));
        const QRegularExpressionMatch m = form.match(QString::fromLatin1(info));
        ASSERT_TRUE(m.hasMatch()) << info.toStdString();
        EXPECT_EQ(m.captured(1).toLatin1(), encodedPath);
        const QDateTime deleted = QDateTime::fromString(m.captured(2), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        ASSERT_TRUE(deleted.isValid()) << info.toStdString();
        EXPECT_GE(deleted, before);
        EXPECT_LE(deleted, QDateTime::currentDateTime());
    }

    // A folder named with a trailing delimiter goes as a whole.
    const QString folder = Dir + QStringLiteral("/folder");
    Put(folder + QStringLiteral("/inner.txt"), "x");
    ASSERT_EQ(ShellDeleteDirItem(0, folder, true, true), S_OK);
    EXPECT_EQ(Get(Trash + QStringLiteral("/files/folder/inner.txt")), "x");
    EXPECT_FALSE(PathExists(folder, false));
}

TEST_F(ShellTrashTest, FailureToTrashDeletesNothing)
{
    const QString file = Dir + QStringLiteral("/keep.txt");
    Put(file, "keep");
    Put(Trash, "a file where the Trash folder should be");
    EXPECT_LT(ShellDeleteFileItem(0, file, true, true), 0);
    EXPECT_NE(ShellDeleteFiles(0, file + QChar(0), QString(), true, true), 0u);
    EXPECT_EQ(Get(file), "keep");

    EXPECT_EQ(MoveToTrash(Dir + QStringLiteral("/missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MoveToTrash(QString()), ERROR_INVALID_PARAMETER);
}

// ---------------------------------------------------------------------------
// Item operations without the Trash

TEST(ShellUtilsTest, ItemOperationsCopyMoveAndDelete)
{
    const QString dir = test::MakeTempDir(QStringLiteral("itemops"));
    const QString a = dir + QStringLiteral("/a.txt"), b = dir + QStringLiteral("/b.txt");
    Put(a, "A");
    Put(b, "B");
    Put(dir + QStringLiteral("/tree/sub/c.txt"), "C");
    QDir().mkpath(dir + QStringLiteral("/out"));

    // Several sources into a folder; one destination per source.
    EXPECT_EQ(ShellFileOperation(0, a + QChar(0) + b + QChar(0), dir + QStringLiteral("/out"), QString(), FO_COPY, 0), 0u);
    EXPECT_EQ(Get(dir + QStringLiteral("/out/b.txt")), "B");
    EXPECT_EQ(ShellCopyFiles(0, a + QChar(0) + b, dir + QStringLiteral("/out/1") + QChar(0) + dir + QStringLiteral("/out/2"),
                             QString(), true),
              0u);
    EXPECT_EQ(Get(dir + QStringLiteral("/out/2")), "B");
    EXPECT_EQ(ShellCopyFiles(0, a + QChar(0) + b, dir + QStringLiteral("/out/1"), QString(), true), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(ShellCopyItem(0, dir + QStringLiteral("/tree/"), dir + QStringLiteral("/copy"), true), S_OK);
    EXPECT_EQ(Get(dir + QStringLiteral("/copy/sub/c.txt")), "C");
    EXPECT_EQ(ShellItemOperation(0, dir + QStringLiteral("/tree"), dir + QStringLiteral("/out/moved"), FO_MOVE, 0), S_OK);
    EXPECT_EQ(Get(dir + QStringLiteral("/out/moved/sub/c.txt")), "C");
    EXPECT_EQ(ShellCopyItem(0, a, dir + QStringLiteral("/nowhere/a.txt"), true), HResultFromError(ERROR_PATH_NOT_FOUND));

    EXPECT_EQ(ShellDeleteDirs(0, dir + QStringLiteral("/copy/") + QChar(0), QString(), false, true), 0u);
    EXPECT_FALSE(PathExists(dir + QStringLiteral("/copy"), false));
    EXPECT_EQ(ShellDeleteFileItem(0, a, false, true), S_OK);
    EXPECT_FALSE(PathExists(a, false));
    EXPECT_EQ(ShellDeleteDirItem(0, QStringLiteral("/"), false, true), HResultFromError(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ShellDeleteFiles(0, QString(), QString(), false, true), ERROR_INVALID_PARAMETER);
}

TEST(ShellUtilsTest, OpeningWithoutXdgOpenReportsFailure)
{
    test::TScopedEnv env{{"PATH", test::MakeTempDir(QStringLiteral("empty-path"))}};
    EXPECT_EQ(OpenWithPreferredApp(QStringLiteral("/tmp")), ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------------------
// Notification-area icons

class RecordingTrayIcon : public ITrayIcon {
public:
    bool AddIcon(const TTrayIconRequest &r) override { return Record(QStringLiteral("add"), r); }
    bool ModifyIcon(const TTrayIconRequest &r) override { return Record(QStringLiteral("modify"), r); }
    bool DeleteIcon(TWindowHandle, uint32_t) override { return Record(QStringLiteral("delete"), {}); }
    QString Kind;
    TTrayIconRequest Last;

private:
    bool Record(const QString &kind, const TTrayIconRequest &r)
    {
        Kind = kind;
        Last = r;
        return true;
    }
};

TEST(ShellUtilsTest, TrayRequestsFollowTheirArgumentsAndFailSoftlyWithoutATray)
{
    EXPECT_FALSE(AddTrayIcon(1, 7, 0x8001, 42, QStringLiteral("T"), QStringLiteral("x"), QStringLiteral("tip"), true));
    EXPECT_FALSE(ShowTrayBalloon(1, 7, QStringLiteral("T"), QStringLiteral("x"), true));
    EXPECT_FALSE(DeleteTrayIcon(1, 7));

    RecordingTrayIcon tray;
    SetTrayIconService(&tray);
    // An empty title shows no balloon, whatever the text.
    ASSERT_TRUE(AddTrayIconEx(1, 7, 0, 0, 0, QString(), QStringLiteral("text"), QString(), false));
    EXPECT_EQ(tray.Kind, QStringLiteral("add"));
    EXPECT_FALSE(tray.Last.ShowBalloon || tray.Last.SetTip || tray.Last.SetIcon || tray.Last.SetCallback);
    EXPECT_EQ(tray.Last.BalloonFlags, uint32_t(tbfInfo | tbfNoSound));

    // Long texts are cut to their fields, never inside a surrogate pair.
    const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E"); // two UTF-16 units
    const QString title = QString(62, QLatin1Char('t')) + clef;
    ASSERT_TRUE(AddTrayIconEx(1, 7, 0x8001, 42, 0, title, QString(300, QLatin1Char('x')), QString(200, QLatin1Char('p')), true));
    EXPECT_TRUE(tray.Last.ShowBalloon && tray.Last.SetTip && tray.Last.SetIcon && tray.Last.SetCallback);
    EXPECT_EQ(tray.Last.BalloonTitle, QString(62, QLatin1Char('t')));
    EXPECT_EQ(tray.Last.BalloonText.size(), kTrayBalloonTextMax);
    EXPECT_EQ(tray.Last.Tip.size(), kTrayTipMax);
    EXPECT_EQ(tray.Last.BalloonFlags, uint32_t(tbfUser | tbfLargeIcon));

    ASSERT_TRUE(ShowTrayBalloon(1, 7, QStringLiteral("Done"), QStringLiteral("3 files"), false));
    EXPECT_EQ(tray.Kind, QStringLiteral("modify"));
    EXPECT_TRUE(tray.Last.ShowBalloon);
    EXPECT_EQ(tray.Last.BalloonFlags, uint32_t(tbfUser | tbfNoSound));
    ASSERT_TRUE(UpdateTrayIconImage(1, 7, 43, true));
    EXPECT_TRUE(tray.Last.SetIcon && !tray.Last.SetTip && !tray.Last.ShowBalloon);
    SetTrayIconService(nullptr);
    EXPECT_FALSE(UpdateTrayIconImage(1, 7, 43, true));
}

} // namespace
} // namespace vl
