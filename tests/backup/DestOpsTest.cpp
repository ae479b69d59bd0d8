#include "FormLogFixture.h"

#include "backup/DestPreparation.h"
#include "core/FakeVolumes.h"
#include "core/FileTimes.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"
#include "ui/ListTestViews.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>

using namespace vl;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

class DestOpsTest : public vl::test::FormLogTest {};

// Sets the last-write time of a file to a local date-time (the test zone
// is UTC, so local and UTC agree).
void SetAge(const QString &Name, TDateTime Time)
{
    TFileTime ft = 0;
    ASSERT_TRUE(UtcDateTimeToFileTime(ft, Time));
    ASSERT_EQ(XlSetFileTime(Name, ft, false), 0u);
}

} // namespace

// ---- Deleting ----

TEST_F(DestOpsTest, FileDeleteClearsReadOnlyAndTakesMissingFilesAsDeleted)
{
    const QString name = Dir + QStringLiteral("/ro.txt");
    WriteBytes(name, "x");
    ASSERT_EQ(XlFileSetAttr(name, faReadOnly, false), 0u);
    EXPECT_TRUE(Form.FileDelete(name));
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_TRUE(Log().contains(QStringLiteral("      File was deleted: \"") + name + QLatin1Char('"')));

    const QString before = Log();
    EXPECT_TRUE(Form.FileDelete(name));
    EXPECT_EQ(Log(), before);
}

TEST_F(DestOpsTest, FileDeleteFailureIsLoggedRelativeToDir)
{
    ASSERT_TRUE(QDir().mkpath(Dir + QStringLiteral("/sub/x")));
    EXPECT_FALSE(Form.FileDelete(Dir, Dir + QStringLiteral("/sub/x")));
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** (1) B: Error deleting file: \"sub/x\""))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("      -> System error: ")));
}

TEST_F(DestOpsTest, DeleteOldFilesRemovesMatchingFilesBeforeTheDate)
{
    test::TScopedTimeZone zone("UTC");
    const TDateTime limit = 45000.5;
    struct Case {
        const char *Name;
        TDateTime Age;
        bool Kept;
    };
    const Case cases[] = {
        {"old.bak", limit - 1, false}, {"older.bak", limit - 300, false}, {"same.bak", limit, true},
        {"new.bak", limit + 0.1, true}, {"old.txt", limit - 1, true},
    };
    for (const Case &c : cases) {
        WriteBytes(Dir + QLatin1Char('/') + QLatin1String(c.Name), "x");
        SetAge(Dir + QLatin1Char('/') + QLatin1String(c.Name), c.Age);
    }
    ASSERT_TRUE(QDir().mkdir(Dir + QStringLiteral("/dir.bak")));
    ASSERT_EQ(XlFileSetAttr(Dir + QStringLiteral("/older.bak"), faReadOnly, false), 0u);

    Form.DeleteOldFiles(Dir, QStringLiteral("*.bak"), limit);

    for (const Case &c : cases)
        EXPECT_EQ(QFile::exists(Dir + QLatin1Char('/') + QLatin1String(c.Name)), c.Kept) << c.Name;
    EXPECT_TRUE(QFileInfo(Dir + QStringLiteral("/dir.bak")).isDir());
    EXPECT_TRUE(Log().contains(QStringLiteral("      File was deleted: \"") + Dir + QStringLiteral("/old.bak\"")));
}

// ---- Renaming ----

TEST_F(DestOpsTest, RenameLogsNamesRelativeToDirAndKeepsAttributes)
{
    const QString from = Dir + QStringLiteral("/a.txt");
    const QString to = Dir + QStringLiteral("/b.txt");
    WriteBytes(from, "abc");
    ASSERT_EQ(XlFileSetAttr(from, faReadOnly | faArchive, false), 0u);
    int e = 0, w = 0;
    EXPECT_EQ(Form.FileRename(Dir, from, to, e, w), 0);
    EXPECT_EQ(ReadBytes(to), QByteArray("abc"));
    EXPECT_FALSE(QFile::exists(from));
    EXPECT_TRUE(XlFileGetAttr(to, false) & faReadOnly);
    EXPECT_EQ(e + w, 0);
    EXPECT_TRUE(Log().contains(QStringLiteral("      File was renamed: \"a.txt\" to \"b.txt\"")));
}

TEST_F(DestOpsTest, FailedRenameRetriesFiveTimesAndCountsAnError)
{
    const QString from = Dir + QStringLiteral("/a.txt");
    const QString to = Dir + QStringLiteral("/b.txt");
    WriteBytes(from, "new");
    WriteBytes(to, "old"); // never replaced by a rename
    QString errText;
    const int rc = Form.RenameDestFile(Dir, from, to, errText, 2, -1);
    EXPECT_GT(rc, 0);
    EXPECT_TRUE(errText.startsWith(QStringLiteral("System error: ")));
    EXPECT_TRUE(errText.endsWith(QStringLiteral(" (5)"))) << errText.toStdString();
    EXPECT_EQ(ReadBytes(to), QByteArray("old"));
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** (1) B: Error renaming File: \"") + from + QStringLiteral("\" to \"")
                             + to + QLatin1Char('"')));
    EXPECT_TRUE(log.contains(QStringLiteral("      -> ") + errText));

    // A missing file is no rename that happened in spite of an error,
    // even when the new name exists.
    int e = 0, w = 0;
    EXPECT_EQ(Form.FileRename(Dir + QStringLiteral("/missing"), to, e, w), int(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e, 1);
    EXPECT_EQ(w, 0);
}

// ---- Folders and attributes ----

TEST_F(DestOpsTest, ForceDestDirectoryCreatesMissingFoldersAndLogsOnlyCreation)
{
    const QString sub = Dir + QStringLiteral("/a/b/Docs");
    EXPECT_TRUE(Form.ForceDestDirectory(sub, true));
    EXPECT_TRUE(QFileInfo(sub).isDir());
    const QString top = Dir + QStringLiteral("/top");
    EXPECT_TRUE(Form.ForceDestDirectory(top, QStringLiteral("S"), false));
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("      Creating subdirectory: \"") + sub + QLatin1Char('"')));
    EXPECT_TRUE(log.contains(QStringLiteral("\r\n  Creating directory: \"") + top + QLatin1Char('"')));

    EXPECT_TRUE(Form.ForceDestDirectory(sub, true));
    EXPECT_EQ(Log(), log);
}

TEST_F(DestOpsTest, ForceDestDirectoryKeepsTheGivenNamesWithACaseChange)
{
    // Names are case-sensitive: a folder in another case would not be the
    // one the run writes into.
    Form.FnMode = TTextChange::tcUpper;
    EXPECT_TRUE(Form.ForceDestDirectory(Dir + QStringLiteral("/Docs"), true));
    EXPECT_EQ(QDir(Dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList(QStringLiteral("Docs")));
}

TEST_F(DestOpsTest, ForceDestDirectoryFailureIsAnErrorLineOfTheGroup)
{
    WriteBytes(Dir + QStringLiteral("/file"), "x");
    const QString bad = Dir + QStringLiteral("/file/sub");
    EXPECT_FALSE(Form.ForceDestDirectory(bad, QStringLiteral("S"), true));
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** (1) S: Could not create directory: \"") + bad + QLatin1Char('"')));
    EXPECT_TRUE(log.contains(QStringLiteral("      -> System error: ")));
}

TEST_F(DestOpsTest, SetDestAttributesKeepsAReadOnlyFolderReadOnly)
{
    const QString sub = Dir + QStringLiteral("/ro");
    ASSERT_TRUE(QDir().mkdir(sub));
    ASSERT_EQ(XlFileSetAttr(sub, faDirectory | faReadOnly, false), 0u);
    EXPECT_EQ(Form.SetDestAttributes(sub, faDirectory, QStringLiteral("B"), false), 0);
    EXPECT_EQ(XlFileGetAttr(sub, false) & (faDirectory | faReadOnly), uint32_t(faDirectory | faReadOnly));
    XlFileSetAttr(sub, faDirectory, false);
}

TEST_F(DestOpsTest, SetDestAttributesSetsAndLogsAndMissingGivesTwo)
{
    const QString name = Dir + QStringLiteral("/f.txt");
    WriteBytes(name, "x");
    EXPECT_EQ(Form.SetDestAttributes(name, faReadOnly | faHidden, QStringLiteral("B"), false), 0);
    EXPECT_EQ(XlFileGetAttr(name, false) & (faReadOnly | faHidden), uint32_t(faReadOnly | faHidden));
    EXPECT_TRUE(Log().contains(QStringLiteral("     -> Attributes of \"") + name + QStringLiteral("\" were changed to ")));
    EXPECT_EQ(Form.SetDestAttributes(Dir + QStringLiteral("/none"), faArchive, QStringLiteral("B"), false), 2);
}

// ---- Destination preparation ----

TEST(ExpandModePlaceholder, ReplacesAnyCaseByTheModeWord)
{
    struct Case {
        const char *Text;
        int Mode;
        const char *Result;
    };
    for (const Case &c : {Case{"/bak/%mode%", 0, "/bak/Updt"}, Case{"/bak/%Mode%", 1, "/bak/Full"},
                          Case{"/bak/%MODE%", 2, "/bak/Diff"}, Case{"/b/%mode%/%mode%", 3, "/b/Incr/Incr"},
                          Case{"/bak/plain", 2, "/bak/plain"}, Case{"/bak/%mode", 1, "/bak/%mode"},
                          Case{"/bak/%mode%", 4, "/bak/%mode%"}})
        EXPECT_EQ(ExpandModePlaceholder(QLatin1String(c.Text), c.Mode), QLatin1String(c.Result)) << c.Text;
}

TEST(IsDestinationEmpty, OnlyTheExactTimeStampNameIsIgnored)
{
    const QString dir = test::MakeTempDir();
    EXPECT_TRUE(IsDestinationEmpty(dir));
    WriteBytes(dir + QStringLiteral("/$TimeStamp.vlu"), "12345678");
    EXPECT_TRUE(IsDestinationEmpty(dir));
    ASSERT_TRUE(QDir().mkdir(dir + QStringLiteral("/empty")));
    EXPECT_FALSE(IsDestinationEmpty(dir));

    const QString other = test::MakeTempDir(QStringLiteral("o"));
    WriteBytes(other + QStringLiteral("/$timestamp.vlu"), "x");
    EXPECT_FALSE(IsDestinationEmpty(other));
    const QString hidden = test::MakeTempDir(QStringLiteral("h"));
    WriteBytes(hidden + QStringLiteral("/.x"), "x");
    EXPECT_FALSE(IsDestinationEmpty(hidden));

    // Missing: nothing there. Unreadable (a link to itself): unknown, so
    // not empty.
    EXPECT_TRUE(IsDestinationEmpty(dir + QStringLiteral("/none")));
    ASSERT_TRUE(QFile::link(QStringLiteral("loop"), dir + QStringLiteral("/loop")));
    EXPECT_FALSE(IsDestinationEmpty(dir + QStringLiteral("/loop")));
}

TEST(TestDestinationAccess, TestsTheFolderOfTheMethod)
{
    // A file stands where the method's folder would be created, so only
    // that folder's test fails.
    struct Case {
        int Mode;
        const char *Source;
        const char *Blocker; // below the destination
    };
    for (const Case &c : {Case{0, "//srv/data/docs", "srv"}, Case{6, "/home/ann/Docs", "Drvroot"},
                          Case{3, "/home/ann/Docs", "Docs"}, Case{1, "/home/ann/Docs", "home"},
                          Case{7, "/home/ann/Docs", "home"}}) {
        const QString dest = test::MakeTempDir(QStringLiteral("d"));
        TBackupForm form;
        form.DestMode = c.Mode;
        form.DriveId = QStringLiteral("Drv?");
        EXPECT_TRUE(form.TestDestinationAccess(dest, QLatin1String(c.Source))) << c.Mode;
        WriteBytes(dest + QLatin1Char('/') + QLatin1String(c.Blocker), "x");
        EXPECT_FALSE(form.TestDestinationAccess(dest, QLatin1String(c.Source))) << c.Mode;
        form.DestMode = 2;
        EXPECT_TRUE(form.TestDestinationAccess(dest, QLatin1String(c.Source))) << c.Mode;
    }
}

// ---- Source media ----

class ResolveSourceVolumeTest : public ::testing::Test {
protected:
    test::TFakeVolumes Volumes;
    TBackupForm Form;
    QString RelPath, Drive, Path;

    int Resolve(const QString &Dir, const QString &Volume, bool Prompt)
    {
        return Form.ResolveSourceVolume(Dir, Volume, RelPath, Drive, Path, Prompt);
    }
};

TEST_F(ResolveSourceVolumeTest, StickMountedElsewhereIsFoundByItsLabel)
{
    Form.DestMode = 1;
    EXPECT_EQ(Resolve(QStringLiteral("/run/media/bob/USB/Docs"), QStringLiteral("usb"), false), 0);
    EXPECT_EQ(Path, QStringLiteral("/media/ann/USB/Docs/"));
    EXPECT_EQ(RelPath, QStringLiteral("Docs/"));
    EXPECT_EQ(Drive, QStringLiteral("/media/ann/USB/"));

    Form.DestMode = 0;
    EXPECT_EQ(Resolve(QStringLiteral("/media/ann/USB"), QStringLiteral("USB"), false), 0);
    EXPECT_EQ(Path, QStringLiteral("/media/ann/USB/"));
    EXPECT_EQ(RelPath, QString());
    EXPECT_EQ(Drive, QStringLiteral("USB"));
}

TEST_F(ResolveSourceVolumeTest, PathWithoutLabelUsesItsDrive)
{
    EXPECT_EQ(Resolve(QStringLiteral("/home/ann/Docs"), QString(), false), 0);
    EXPECT_EQ(Path, QStringLiteral("/home/ann/Docs/"));
    EXPECT_EQ(Drive, QStringLiteral("/"));
    EXPECT_EQ(RelPath, QStringLiteral("home/ann/Docs/"));

    EXPECT_EQ(Resolve(QStringLiteral("/media/ann/USB/Pics"), QString(), false), 0);
    EXPECT_EQ(Drive, QStringLiteral("/media/ann/USB/"));
    EXPECT_EQ(RelPath, QStringLiteral("Pics/"));

    // With NoVolCheck the stored path is used as it is.
    Form.NoVolCheck = true;
    EXPECT_EQ(Resolve(QStringLiteral("/home/ann/Docs"), QStringLiteral("GONE"), false), 0);
    EXPECT_EQ(Path, QStringLiteral("/home/ann/Docs/"));
}

TEST_F(ResolveSourceVolumeTest, MissingLabelGivesDriveNotAvailableWithoutPrompt)
{
    EXPECT_EQ(Resolve(QStringLiteral("/media/ann/GONE/Docs"), QStringLiteral("GONE"), false), 15);
    Form.SkipDir = true;
    EXPECT_EQ(Resolve(QStringLiteral("/media/ann/GONE/Docs"), QStringLiteral("GONE"), true), 15);
}

TEST_F(ResolveSourceVolumeTest, MissingLabelAsksToSkipRetryOrCancel)
{
    test::TScriptedViews views;
    QStringList questions;
    std::function<void(TSelectDialog &)> answer;
    views.OnSelectDialog = [&](TSelectDialog &D) {
        questions << D.Form.Caption() + QLatin1Char('|') + D.stCaption.Caption();
        answer(D);
    };
    const QString dir = QStringLiteral("/media/ann/GONE/Docs");

    answer = [](TSelectDialog &D) { D.Buttons[0]->Click(); };
    EXPECT_EQ(Resolve(dir, QStringLiteral("GONE"), true), 1246);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], QStringLiteral("Backup of /media/ann/GONE/Docs/|Volume \"GONE\" (/media/ann/GONE) not found!\r\n"
                                           "Please insert medium!"));

    answer = [](TSelectDialog &D) { D.CancelBtn().Click(); };
    EXPECT_EQ(Resolve(dir, QStringLiteral("GONE"), true), 1223);

    // Retry asks again until the medium is there.
    QByteArray withoutStick = test::TFakeVolumes::DefaultMountInfo();
    withoutStick.replace("25 22 8:17 / /media/ann/USB rw,nosuid shared:4 - vfat /dev/sdb1 rw\n", "");
    Volumes.SetMountInfo(withoutStick);
    int retries = 0;
    answer = [&](TSelectDialog &D) {
        if (++retries == 2)
            Volumes.SetMountInfo(test::TFakeVolumes::DefaultMountInfo());
        D.Buttons[1]->Click();
    };
    EXPECT_EQ(Resolve(QStringLiteral("/media/ann/USB/Docs"), QStringLiteral("USB"), true), 0);
    EXPECT_EQ(retries, 2);
    EXPECT_EQ(Path, QStringLiteral("/media/ann/USB/Docs/"));
}
