// Destination set-up of a run (local folders, the FTP password questions
// without a display) and the cycle subfolders with their archive-bit
// switches and the backup-mode line.
#include "backup/RunContext.h"
#include "backup/TimeStampFile.h"
#include "common/TestUtils.h"
#include "core/FormatSettings.h"
#include "core/PathUtils.h"
#include "core/Settings.h"
#include "core/WindowServices.h"
#include "FormLogFixture.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

class RunDestinationTest : public FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        SetFormatSettings(TFormatSettings::Invariant());
        ProgExitCode = 0;
        Src = MakeTempDir(u"src"_s);
        TExtensionList list(Form.NewPeriod, TSubDirMode::sdmNormal);
        list.SPath = Src;
        Form.SelectedDirBox.Add(Src, std::move(list));
        Form.BuModeCB.SetItems({u"Update"_s, u"Full (new)"_s, u"Differential"_s, u"Incremental"_s});
    }
    TBackupForm::TRunContext R;
    QString Src;
};

// ---- Cycle subfolders ---------------------------------------------------

struct TCycleCase {
    const char *Name;
    int StepMode, NumZyk, AktZyk;
    TSchedMode Mode;
    bool MFull, BDiff;
    int DestMode;
    bool UseBefore; // UseArchivCB before the run
    const char *Folder;
    const char *Desc;
    bool Use, Reset, Clear;
};

TEST_F(RunDestinationTest, CycleFolderNameDescriptionAndSwitches)
{
    using enum TSchedMode;
    const TCycleCase cases[] = {
        {"14 days, differential step 9", 1, 14, 9, smDiff, false, true, 0, false, "BD09D", " (2. Tuesday)", true,
         false, true},
        {"5 days, plain", 1, 5, 3, smNormal, false, false, 0, false, "BD03", " (day 3)", false, false, false},
        {"7 days, weekday only", 1, 7, 3, smNormal, false, false, 0, false, "BD03", " (Wednesday)", false, false,
         false},
        {"120 weeks, full step 7", 2, 120, 7, smDiff, true, true, 0, true, "BW007F", " (week 7)", false, true, false},
        {"incremental step", 1, 10, 4, smIncr, false, false, 0, false, "BD04I", " (day 4)", true, true, true},
        {"zip method, differential step", 1, 14, 2, smDiff, false, true, 4, false, "BD02D", " (1. Tuesday)", true,
         false, false},
        {"plain schedule keeps the options", 1, 3, 1, smNormal, false, false, 0, true, "BD01", " (day 1)", true,
         false, false},
    };
    for (const TCycleCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TAutoTask task;
        task.SchedProps.StepMode = c.StepMode;
        task.SchedProps.NumZyk = c.NumZyk;
        task.SchedProps.AktZyk = c.AktZyk;
        task.SchedProps.SchedMode = c.Mode;
        const QString dest = MakeTempDir(u"cycle"_s);
        Form.DestMode = c.DestMode;
        Form.ClearDest = false;
        Form.UseArchivCB.SetChecked(c.UseBefore);
        Form.ResArchivCB.SetChecked(false);
        R = {};
        R.Nr = 2;
        R.AutoTask = &task;
        R.MFull = c.MFull;
        R.BDiff = c.BDiff;
        R.DestDir = dest;
        Form.SetUpCycleFolder(R);
        EXPECT_EQ(Form.BaseDir, dest + u"/"_s + QString::fromUtf8(c.Folder));
        EXPECT_TRUE(QFileInfo(Form.BaseDir).isDir());
        EXPECT_EQ(R.CycleDesc, QString::fromUtf8(c.Desc));
        EXPECT_EQ(Form.UseArchivCB.Checked(), c.Use);
        EXPECT_EQ(Form.ResArchivCB.Checked(), c.Reset);
        EXPECT_EQ(Form.ClearDest, c.Clear);
        EXPECT_FALSE(R.CycleFolderFailed);
    }
}

TEST_F(RunDestinationTest, SpecialModeOfTheCommandLine)
{
    struct {
        int Spec, DestMode;
        bool Use, Reset, Clear;
    } const cases[] = {{1, 0, false, true, false}, {2, 0, true, false, true}, {3, 1, true, true, true},
                       {2, 4, true, false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Spec * 10 + c.DestMode);
        Form.SpecMode = c.Spec;
        Form.DestMode = c.DestMode;
        Form.ClearDest = false;
        Form.UseArchivCB.SetChecked(!c.Use);
        Form.ResArchivCB.SetChecked(!c.Reset);
        R = {};
        R.DestDir = Dir;
        Form.SetUpCycleFolder(R);
        EXPECT_EQ(Form.BaseDir, Dir); // no subfolder without a schedule
        EXPECT_EQ(Form.UseArchivCB.Checked(), c.Use);
        EXPECT_EQ(Form.ResArchivCB.Checked(), c.Reset);
        EXPECT_EQ(Form.ClearDest, c.Clear);
    }
}

TEST_F(RunDestinationTest, ModeLinesAndLastFullBackup)
{
    // Update by archive bit: the second line at the verbose level.
    Form.UseArchivCB.SetChecked(true);
    Form.ResArchivCB.SetChecked(true);
    Form.cbArchFile.SetChecked(true);
    R.DestDir = Dir;
    R.ModeName = u"Update"_s;
    ProgressWindow().SetLockStatus(1);
    Form.SetUpCycleFolder(R);
    EXPECT_EQ(ProgressWindow().LockStatus(), 0);
    QString log = Log();
    EXPECT_TRUE(log.contains(u"  Backup mode: Update to \""_s + Dir + u"\""_s)) << log.toStdString();
    EXPECT_TRUE(log.contains(u"\n               Archive bit: Use + Reset (Only files with archive bit set)"_s))
        << log.toStdString();
    EXPECT_EQ(R.LastFullTime, 0);

    // A run that clears: no second line, the last full backup is read.
    const TDateTime stamp = 46000.5;
    ASSERT_EQ(WriteTimeStampFile(WithTrailingDelimiter(Dir), stamp), 0u);
    Form.ClearDest = true;
    Form.DestMode = 4;
    R = {};
    R.DestDir = Dir;
    Form.SetUpCycleFolder(R);
    log = Log();
    EXPECT_TRUE(log.contains(u"  Backup mode: Create new zip archives"_s));
    EXPECT_EQ(log.count(u"Archive bit:"_s), 1);
    EXPECT_DOUBLE_EQ(R.LastFullTime, stamp);
}

TEST_F(RunDestinationTest, CycleFolderThatCannotBeCreated)
{
    WriteBytes(Dir + u"/BD01"_s, "a file in the way");
    TAutoTask task;
    task.SchedProps.StepMode = 1;
    task.SchedProps.NumZyk = 3;
    task.SchedProps.AktZyk = 1;
    R.Nr = 1;
    R.AutoTask = &task;
    R.DestDir = Dir;
    ProgressWindow().SetLockStatus(1);
    Form.SetUpCycleFolder(R);
    EXPECT_TRUE(R.CycleFolderFailed);
    EXPECT_EQ(R.StatusText, u"Could not create directory:\r\n\""_s + Dir + u"/BD01\""_s);
    EXPECT_EQ(ProgressWindow().LockStatus(), 0);
}

// ---- Local destinations -------------------------------------------------

TEST_F(RunDestinationTest, LocalDestinationIsCreatedAndReported)
{
    const QString cwd = MakeTempDir(u"cwd"_s);
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd));
    struct {
        const char *Name;
        QString Dest, BuDir, Expected;
    } const cases[] = {
        {"relative", u"Backup"_s, {}, cwd + u"/Backup"_s},
        {"missing levels", Dir + u"/a/b"_s, {}, Dir + u"/a/b"_s},
        {"relative subfolder", Dir, u"sub"_s, Dir + u"/sub"_s},
        {"absolute subfolder", Dir, Dir + u"/other"_s, Dir + u"/other"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        Form.BaseDest = c.Dest;
        Form.BuDir = c.BuDir;
        R = {};
        Form.SetUpRunDestination(R);
        EXPECT_TRUE(R.DestReady);
        EXPECT_EQ(R.DestDir, c.Expected);
        EXPECT_TRUE(QFileInfo(c.Expected).isDir());
        EXPECT_NE(Form.TargetType, TFileSystem::fsNotAvail);
        EXPECT_EQ(ProgExitCode, 0);
    }
    QDir::setCurrent(old);
    const QString log = Log();
    EXPECT_TRUE(log.contains(u"  Destination volume: "_s)) << log.toStdString();
    EXPECT_TRUE(log.contains(u" free of "_s));
    EXPECT_TRUE(log.contains(u"  File system: "_s));
    EXPECT_TRUE(log.contains(u"  User name: "_s));
    EXPECT_FALSE(log.contains(u"***"_s));
}

TEST_F(RunDestinationTest, LocalDestinationNotReady)
{
    WriteBytes(Dir + u"/file"_s, "x");
    struct {
        const char *Name;
        QString Dest;
        QString Cause; // the first failure line, empty when none
    } const cases[] = {
        {"below a file", Dir + u"/file/sub"_s, u"  *** Could not write to path \""_s + Dir + u"/file/sub\"!"_s},
        {"volume label not found", u":NoSuchVelkorLabel:/x"_s, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        ProgExitCode = 0;
        Form.BaseDest = c.Dest;
        R = {};
        Form.SetUpRunDestination(R);
        EXPECT_FALSE(R.DestReady);
        EXPECT_EQ(ProgExitCode, 2);
        const QString text = u"Directory \""_s + c.Dest + u"\" not available for backup!"_s;
        EXPECT_EQ(R.StatusText, text);
        const QString log = Log();
        EXPECT_TRUE(log.contains(u"  *** "_s + text)) << log.toStdString();
        if (!c.Cause.isEmpty()) {
            EXPECT_TRUE(log.contains(c.Cause)) << log.toStdString();
        }
        EXPECT_EQ(ProgressWindow().LockStatus(), 0);
    }
}

// ---- FTP passwords without a display ------------------------------------

TEST_F(RunDestinationTest, UnattendedFtpPasswordQuestionEndsTheSetUp)
{
    struct {
        const char *Name;
        bool Proxy;
    } const cases[] = {{"server password", false}, {"proxy password", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        ProgExitCode = 0;
        Form.BuFtp = true;
        Form.BaseDest = u"backups/%date%"_s;
        Form.FtpPar = {};
        Form.FtpPar.Host = u"127.0.0.1"_s;
        Form.FtpPar.Port = 1; // never reached
        Form.FtpPar.Username = u"ann"_s;
        if (c.Proxy) {
            Form.FtpPar.Password = "stored";
            Form.FtpPar.Proxy.Mode = TIdFtpProxyType::fpcmSite;
            Form.FtpPar.Proxy.Server = u"proxy"_s;
            Form.FtpPar.Proxy.Username = u"bob"_s;
        }
        R = {};
        Form.SetUpRunDestination(R);
        EXPECT_FALSE(R.DestReady);
        EXPECT_EQ(ProgExitCode, 2);
        EXPECT_EQ(R.StatusText, u"No FTP password available for an unattended run"_s);
        EXPECT_TRUE(Form.FtpPar.Proxy.Password.isEmpty()); // nothing entered into the task
        const QString log = Log();
        EXPECT_TRUE(log.contains(u"  *** No FTP password available for an unattended run"_s)) << log.toStdString();
        EXPECT_TRUE(log.contains(u"  ==> FTP server: backups/%date%"_s)) << log.toStdString();
        EXPECT_FALSE(log.contains(u"Trying to connect"_s));
    }
}

} // namespace
} // namespace vl::test
