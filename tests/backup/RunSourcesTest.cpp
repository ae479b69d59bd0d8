// The source entry loop of a run on real folders: where each method puts an
// entry, unavailable sources, clearing (overlaps, once a day), removal of
// empty destinations, and the zip archives of methods 4 and 5 (names, a
// failed or cancelled archive never replacing the previous one, archive
// bits reset only once the archive is in place).
#include "FormLogFixture.h"

#include "backup/BackupEngine.h"
#include "backup/RunContext.h"
#include "core/DateTime.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/ZipRead.h"
#include "engine/ZipWrite.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cmath>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

void Put(const QString &APath, const QByteArray &AData)
{
    QDir().mkpath(APath.left(APath.lastIndexOf(QLatin1Char('/'))));
    WriteBytes(APath, AData);
}

class RunSourcesTest : public FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        Src = MakeTempDir(u"src"_s);
        Dst = Dir + u"/dst"_s;
        QDir().mkpath(Dst);
        Form.BaseDir = Dst;
        Form.TargetType = TFileSystem::fsExt4;
        Form.DriveId = u"Drv?"_s;
        Form.ZipName = u"backup.zip"_s;
        Form.StartTime = Now();
        Form.Heute = std::floor(Form.StartTime);
        ProgExitCode = 0;
    }
    int AddSource(const QString &APath)
    {
        TExtensionList list{TTimePeriod(), TSubDirMode::sdmNormal};
        list.SPath = APath;
        return Form.SelectedDirBox.Add(APath, std::move(list));
    }
    // Where methods 0 and 1 put APath below the destination.
    static QString Below(const QString &APath) { return WithTrailingDelimiter(PathBelowDrive(APath)); }
    QString DriveFolder() const { return DriveSubdirName(Form.DriveId, DriveOfPath(Src)); }
    void Run()
    {
        Form.BackupSourceEntries(R);
        Form.FinishRunArchive(R);
    }
    QStringList ZipEntries(const QString &AZip)
    {
        TZipRead zip(AZip, QByteArray(), 0, 0);
        zip.ReadDirectory();
        QStringList names;
        for (int i = 0; i < zip.Count(); ++i)
            names << zip.Filename(i);
        return names;
    }

    TBackupForm::TRunContext R;
    QString Src, Dst;
};

TEST_F(RunSourcesTest, EachMethodPutsTheEntryInItsDestination)
{
    const QString docs = Src + u"/Docs"_s;
    Put(docs + u"/a.txt"_s, "aaaa");
    struct Case {
        int Mode;
        QString Expected; // below Dst
    } cases[] = {
        {0, DriveFolder() + Below(docs) + u"a.txt"_s}, {1, Below(docs) + u"a.txt"_s},
        {2, u"a.txt"_s},                                 {3, u"Docs/a.txt"_s},
        {6, DriveFolder() + Below(docs) + u"backup.zip"_s}, {7, Below(docs) + u"backup.zip"_s},
    };
    AddSource(docs);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Mode);
        QDir(Dst).removeRecursively();
        QDir().mkpath(Dst);
        Form.DestMode = c.Mode;
        R = TBackupForm::TRunContext();
        Run();
        EXPECT_TRUE(XlFileExists(WithTrailingDelimiter(Dst) + c.Expected, false)) << qPrintable(Log());
        EXPECT_EQ(R.Count.CopiedCount, 1);
        EXPECT_EQ(R.Count.ErrorCount, 0) << qPrintable(Log());
    }
    EXPECT_TRUE(Log().contains(u"=> Status: 1 file copied"_s)) << qPrintable(Log());
    EXPECT_EQ(Form.SelectedDirBox.Objects(0).ICount, 1);
}

TEST_F(RunSourcesTest, UnavailableSourceSetsExitCodeThreeAndTheNextEntryRuns)
{
    Put(Src + u"/b/b.txt"_s, "bbbb");
    AddSource(Src + u"/missing"_s);
    AddSource(Src + u"/b"_s);
    Form.DestMode = 2;
    Run();
    EXPECT_EQ(ProgExitCode, 3);
    EXPECT_EQ(R.Count.ErrorCount, 1);
    EXPECT_TRUE(Log().contains(u"Directory \"%1/missing/\" not found!"_s.arg(Src))) << qPrintable(Log());
    EXPECT_FALSE(Form.SelectedDirBox.Objects(0).IsAvailable);
    EXPECT_FALSE(Form.SelectedDirBox.ItemEnabled(0));
    EXPECT_TRUE(XlFileExists(Dst + u"/b.txt"_s, false));
}

TEST_F(RunSourcesTest, FullBackupDoesNotClearADestinationOverlappingAnEarlierEntry)
{
    // Either way round the later entry would delete the earlier one's
    // fresh copies.
    Put(Src + u"/Docs/a.txt"_s, "a");
    Put(Src + u"/Docs/Work/b.txt"_s, "b");
    const QString outer = Src + u"/Docs"_s, inner = Src + u"/Docs/Work"_s;
    for (const QStringList &order : {QStringList{inner, outer}, QStringList{outer, inner}}) {
        SCOPED_TRACE(qPrintable(order.join(u" then "_s)));
        Form.SelectedDirBox.Clear();
        for (const QString &s : order)
            AddSource(s);
        QDir(Dst).removeRecursively();
        const QString stale = Dst + u"/"_s + Below(order.at(1)) + u"stale.txt"_s;
        Put(stale, "from an earlier run");
        Form.DestMode = 1;
        Form.ClearDest = true;
        R = TBackupForm::TRunContext();
        const QString line = u"B: Overlapping directory was not deleted: \"%1/%2\""_s.arg(Dst, Below(order.at(1)));
        const int before = int(Log().count(line));
        Run();
        // The error line and its repetition in the error summary.
        EXPECT_EQ(Log().count(line), before + 2) << qPrintable(Log());
        EXPECT_TRUE(XlFileExists(Dst + u"/"_s + Below(inner) + u"b.txt"_s, false));
        // The outer entry first: its clearing took the stale file already.
        EXPECT_EQ(XlFileExists(stale, false), order.at(0) == inner);
    }
}

TEST_F(RunSourcesTest, ArchiveBitFullBackupClearsOnlyOnceADay)
{
    Put(Src + u"/a.txt"_s, "a");
    AddSource(Src);
    Form.DestMode = 2;
    Form.ClearDest = true;
    Form.UseArchivCB.SetChecked(true);
    Form.cbArchFile.SetChecked(true);
    struct Case {
        double LastFullDaysAgo;
        bool Cleared;
    } cases[] = {{0, false}, {1, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.LastFullDaysAgo);
        Put(Dst + u"/stale.txt"_s, "x");
        R = TBackupForm::TRunContext();
        R.LastFullTime = Form.StartTime - c.LastFullDaysAgo;
        Run();
        EXPECT_EQ(XlFileExists(Dst + u"/stale.txt"_s, false), !c.Cleared) << qPrintable(Log());
    }
}

TEST_F(RunSourcesTest, EmptyDestinationIsRemovedWithItsEmptyParentsUpToBaseDir)
{
    const QString empty = Src + u"/deep/empty"_s;
    QDir().mkpath(empty);
    AddSource(empty);
    Form.DestMode = 1;
    for (bool delDir : {false, true}) {
        SCOPED_TRACE(delDir);
        Form.cbDelDir.SetChecked(delDir);
        R = TBackupForm::TRunContext();
        Run();
        EXPECT_EQ(XlDirectoryExists(Dst + u"/"_s + Below(empty), false), !delDir) << qPrintable(Log());
        EXPECT_EQ(XlDirectoryIsEmpty(Dst), delDir);
        EXPECT_TRUE(XlDirectoryExists(Dst, false));
    }
}

// ---- Method 5 ----

TEST_F(RunSourcesTest, Method5NamesEachArchiveAfterItsRootDirectory)
{
    Put(Src + u"/Documents/a.txt"_s, "a");
    AddSource(Src + u"/Documents"_s);
    Form.DestMode = 5;
    Form.ZipNameEdit.SetText(u"<root directory>-%date%"_s);
    const QString tail = ExpandDestPlaceHolders(u"-%date%"_s, QString(), 1);
    ASSERT_FALSE(tail.contains(u'%'));
    Run();
    const QString zip = Dst + u"/Documents"_s + tail + u".zip"_s;
    ASSERT_TRUE(XlFileExists(zip, false)) << qPrintable(Log());
    EXPECT_EQ(ZipEntries(zip), QStringList{u"a.txt"_s});
    // A drive root takes the name of its drive folder.
    EXPECT_EQ(Form.EntryArchiveName(u"/"_s, QString()), u"Drvroot"_s + tail + u".zip"_s);
    EXPECT_FALSE(XlFileExists(InsertNameSuffix(zip, u".tmp"_s), false));
}

TEST_F(RunSourcesTest, Method5FailedOrCancelledArchiveLeavesThePreviousOne)
{
    if (!UserXattrsSupported(Src))
        GTEST_SKIP() << "no user xattrs here";
    Put(Src + u"/Documents/a.txt"_s, "new data");
    AddSource(Src + u"/Documents"_s);
    Form.DestMode = 5;
    Form.ZipNameEdit.SetText(u"<root directory>"_s);
    Form.ResArchivCB.SetChecked(true);
    const QString zip = Dst + u"/Documents.zip"_s;
    enum { Cancelled, NotReplaceable };
    for (int kind : {Cancelled, NotReplaceable}) {
        SCOPED_TRACE(kind);
        QDir(Dst).removeRecursively();
        QDir().mkpath(Dst);
        if (kind == NotReplaceable)
            QDir().mkpath(zip + u"/in use"_s); // cannot be deleted
        else
            Put(zip, "previous archive");
        Form.BuStatus = kind == Cancelled ? TBuStatus::bsCanceled : TBuStatus::bsOK;
        R = TBackupForm::TRunContext();
        Run();
        if (kind == Cancelled) {
            EXPECT_EQ(ReadBytes(zip), "previous archive");
            EXPECT_FALSE(XlFileExists(Dst + u"/Documents.tmp.zip"_s, false));
        } else {
            EXPECT_TRUE(XlDirectoryExists(zip, false));
            EXPECT_EQ(R.Count.ErrorCount, 1) << qPrintable(Log());
            EXPECT_TRUE(Log().contains(u"\"%1\""_s.arg(zip))) << qPrintable(Log());
        }
        // The source still counts as not backed up.
        EXPECT_NE(XlFileGetAttr(Src + u"/Documents/a.txt"_s, false) & faArchive, 0u);
    }
}

// Cancels the run as the user's Cancel does once the display names the
// entry's archive (the writer exists then).
class TCancelAtArchive : public THeadlessProgressWindow {
public:
    explicit TCancelAtArchive(TBackupForm &AForm) : FForm(AForm) {}
    void SetDestination(const QString &AValue) override
    {
        if (AValue.contains(u".zip"_s)) {
            FForm.CancelBackup(false);
            SetStopped(true);
        }
    }

private:
    TBackupForm &FForm;
};

TEST_F(RunSourcesTest, Method5ArchiveCancelledRightAfterItsSetUpLeavesNoTemporaryFile)
{
    Put(Src + u"/Documents/a.txt"_s, "a");
    AddSource(Src + u"/Documents"_s);
    Form.DestMode = 5;
    Form.ZipNameEdit.SetText(u"<root directory>"_s);
    Put(Dst + u"/Documents.zip"_s, "previous archive");
    TCancelAtArchive window(Form);
    SetProgressWindow(&window);
    Run();
    SetProgressWindow(nullptr);
    EXPECT_EQ(Form.BuStatus, TBuStatus::bsCanceled);
    EXPECT_FALSE(XlFileExists(Dst + u"/Documents.tmp.zip"_s, false)) << qPrintable(Log());
    EXPECT_EQ(ReadBytes(Dst + u"/Documents.zip"_s), "previous archive");
}

TEST_F(RunSourcesTest, Method5ArchiveThatCannotBeCreatedIsAnErrorOfTheRun)
{
    Put(Src + u"/Documents/a.txt"_s, "a");
    Put(Src + u"/Later/b.txt"_s, "b");
    AddSource(Src + u"/Documents"_s);
    AddSource(Src + u"/Later"_s);
    Form.DestMode = 5;
    Form.ZipNameEdit.SetText(u"<root directory>"_s);
    QDir().mkpath(Dst + u"/Documents.tmp.zip/x"_s); // the temporary name is taken
    Run();
    EXPECT_TRUE(R.ZipCreationFailed);
    EXPECT_EQ(R.Count.ErrorCount, 1) << qPrintable(Log());
    // The loop ended there.
    EXPECT_FALSE(XlFileExists(Dst + u"/Later.zip"_s, false));
}

// ---- Method 4 ----

TEST_F(RunSourcesTest, Method4WritesOneArchiveForAllEntriesAndResetsBitsOnlyWhenItIsInPlace)
{
    Put(Src + u"/one/a.txt"_s, "a");
    Put(Src + u"/two/b.txt"_s, "b");
    AddSource(Src + u"/one"_s);
    AddSource(Src + u"/two"_s);
    Form.DestMode = 4;
    const bool xattrs = UserXattrsSupported(Src);
    Form.ResArchivCB.SetChecked(xattrs);
    Form.BackupSourceEntries(R);
    const QString zip = Dst + u"/backup.zip"_s;
    EXPECT_FALSE(XlFileExists(zip, false));
    if (xattrs)
        EXPECT_NE(XlFileGetAttr(Src + u"/one/a.txt"_s, false) & faArchive, 0u);
    Form.FinishRunArchive(R);
    ASSERT_TRUE(XlFileExists(zip, false)) << qPrintable(Log());
    EXPECT_FALSE(XlFileExists(Dst + u"/backup.tmp.zip"_s, false));
    // Names are relative to the drive of the first entry.
    const QStringList names = ZipEntries(zip);
    const QString below = PathBelowDrive(Src);
    EXPECT_TRUE(names.contains(QString(below + u"/one/a.txt"_s).replace(u'/', u'\\')) || names.contains(below + u"/one/a.txt"_s))
        << qPrintable(names.join(u", "_s));
    EXPECT_TRUE(names.contains(QString(below + u"/two/b.txt"_s).replace(u'/', u'\\')) || names.contains(below + u"/two/b.txt"_s));
    if (!xattrs)
        GTEST_SKIP() << "archive bits: no user xattrs here";
    EXPECT_EQ(XlFileGetAttr(Src + u"/one/a.txt"_s, false) & faArchive, 0u);
    EXPECT_EQ(XlFileGetAttr(Src + u"/two/b.txt"_s, false) & faArchive, 0u);
}

TEST_F(RunSourcesTest, Method4EmptyArchiveWithDeleteEmptyDirsLeavesThePreviousOne)
{
    QDir().mkpath(Src + u"/nothing/sub"_s);
    AddSource(Src + u"/nothing"_s);
    Form.DestMode = 4;
    Form.cbDelDir.SetChecked(true);
    Put(Dst + u"/backup.zip"_s, "previous archive");
    Run();
    EXPECT_EQ(ReadBytes(Dst + u"/backup.zip"_s), "previous archive") << qPrintable(Log());
    EXPECT_FALSE(XlFileExists(Dst + u"/backup.tmp.zip"_s, false));
    EXPECT_TRUE(R.StatusText.isEmpty());
}

TEST_F(RunSourcesTest, Method4VerifyFailureGivesTheStatusAndKeepsThePreviousArchive)
{
    QByteArray data(64 * 1024, '\0');
    for (char &c : data)
        c = char(QRandomGenerator::global()->generate());
    Put(Src + u"/one/data.bin"_s, data);
    AddSource(Src + u"/one"_s);
    Form.DestMode = 4;
    Form.cbVerify.SetChecked(true);
    const bool xattrs = UserXattrsSupported(Src);
    Form.ResArchivCB.SetChecked(xattrs);
    Put(Dst + u"/backup.zip"_s, "previous archive");
    Form.BackupSourceEntries(R);
    // The stored data are damaged on the medium before the verification.
    const QString temp = Dst + u"/backup.tmp.zip"_s;
    {
        QFile f(temp);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_GT(f.size(), 32 * 1024);
        f.seek(f.size() / 2);
        const QByteArray b = f.read(1);
        f.seek(f.size() / 2);
        f.write(QByteArray(1, char(~b.at(0))));
    }
    Form.FinishRunArchive(R);
    EXPECT_EQ(R.StatusText, u"Error verifying zip archive!"_s) << qPrintable(Log());
    EXPECT_EQ(ReadBytes(Dst + u"/backup.zip"_s), "previous archive");
    EXPECT_FALSE(XlFileExists(temp, false));
    EXPECT_TRUE(Log().contains(u"Zip archive \"%1\" was not created!"_s.arg(Dst + u"/backup.tmp"_s)));
    if (xattrs)
        EXPECT_NE(XlFileGetAttr(Src + u"/one/data.bin"_s, false) & faArchive, 0u);
}

TEST_F(RunSourcesTest, Method4PreviousArchiveStaysWhenTheNewOneCannotTakeItsPlace)
{
    Put(Src + u"/one/a.txt"_s, "a");
    AddSource(Src + u"/one"_s);
    Form.DestMode = 4;
    const bool xattrs = UserXattrsSupported(Src);
    Form.ResArchivCB.SetChecked(xattrs);
    const QString zip = Dst + u"/backup.zip"_s, temp = Dst + u"/backup.tmp.zip"_s;
    enum { TempGone, NoSecurityCopy };
    for (int kind : {TempGone, NoSecurityCopy}) {
        SCOPED_TRACE(kind);
        QDir(Dst).removeRecursively();
        Put(zip, "previous archive");
        R = TBackupForm::TRunContext();
        Form.KeepBakCB.SetChecked(kind == NoSecurityCopy);
        Form.BakSec.MaxHist = 1;
        Form.BakSec.FileSuffix = u"bak"_s;
        if (kind == NoSecurityCopy)
            QDir().mkpath(Dst + u"/backup.bak.zip/x"_s); // the copy's name is taken
        Form.BackupSourceEntries(R);
        ASSERT_TRUE(XlFileExists(temp, false));
        if (kind == TempGone)
            QFile::remove(temp); // removed by someone else before it is in place
        Form.FinishRunArchive(R);
        EXPECT_EQ(ReadBytes(zip), "previous archive") << qPrintable(Log());
        // Either way the run does not end as a success.
        EXPECT_TRUE(!R.StatusText.isEmpty() || R.Count.ErrorCount > 0) << qPrintable(Log());
        if (kind == NoSecurityCopy)
            EXPECT_TRUE(XlFileExists(temp, false)); // the new one is kept, not mixed in
        if (xattrs)
            EXPECT_NE(XlFileGetAttr(Src + u"/one/a.txt"_s, false) & faArchive, 0u);
    }
}

} // namespace
} // namespace vl::test
