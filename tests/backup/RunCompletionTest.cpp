#include "backup/RunContext.h"

#include "FormLogFixture.h"
#include "backup/MainServices.h"
#include "backup/TimeStampFile.h"
#include "common/MessageRecorder.h"
#include "core/DateTime.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/WindowServices.h"
#include "ui/ListTestViews.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;
using test::WriteBytes;

// Records the status page and answers it (and Terminate) with set codes.
class TRecordingProgress : public THeadlessProgressWindow {
public:
    TRecordingProgress() { SetProgressWindow(this); }
    ~TRecordingProgress() override { SetProgressWindow(nullptr); }

    TModalResult ShowStatus(TResultStatus Mode, const QString &, const QString &AStatus1, const QString &AStatus2,
                            TColor AColor, int32_t) override
    {
        ++Pages;
        PageMode = Mode;
        Line1 = AStatus1;
        Line2 = AStatus2;
        Color = AColor;
        return PageCode;
    }
    TModalResult Terminate() override
    {
        ++Terminated;
        return TerminateCode;
    }

    int Pages = 0;
    int Terminated = 0;
    TResultStatus PageMode = TResultStatus::psOK;
    QString Line1, Line2;
    TColor Color = 0;
    TModalResult PageCode = prNoAction;
    TModalResult TerminateCode = prNoAction;
};

class RunCompletionTest : public test::FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        ProgExitCode = 0;
        EventLogAvailable = true;
        EventFile = MakeTempDir(QStringLiteral("events")) + QStringLiteral("/events.log");
        qputenv("VELKOR_EVENTLOG", EventFile.toUtf8());
        R.Description = QStringLiteral("Backup task: a.buj");
        Form.StartTime = Now();
    }
    void TearDown() override
    {
        qunsetenv("VELKOR_EVENTLOG");
        FormLogTest::TearDown();
    }
    QString Events() { return QString::fromUtf8(ReadBytes(EventFile)); }

    TRecordingProgress Progress;
    TBackupForm::TRunContext R;
    QString EventFile;
};

TEST_F(RunCompletionTest, FinalStatusPageExitCodeAndResult)
{
    const QString T = FilesCopiedText(5, 8, 0, 0);
    const QString failedSize = ByteSizeText(false, 3000);
    const struct {
        const char *Label;
        TBuStatus Status;
        int Warnings, Errors;
        int64_t ErrorBytes;
        QString StatusText;
        int ExitBefore;
        TResultStatus Mode;
        QString Line1, Line2;
        TColor Color;
        int Exit;
        bool Completed; // intermediate brOK: the last-backup time is shown
    } cases[] = {
        {"clean", TBuStatus::bsOK, 0, 0, 0, QString(), 0, TResultStatus::psOK, QStringLiteral(" "), T, 0x503000, 0,
         true},
        {"3 warnings keep exit 0", TBuStatus::bsOK, 3, 0, 0, QString(), 0, TResultStatus::psWarning,
         QStringLiteral(" "), QStringLiteral("3 warnings during backup - ") + T, 255, 0, true},
        {"2 errors with failed bytes", TBuStatus::bsOK, 1, 2, 3000, QString(), 0, TResultStatus::psError,
         QStringLiteral(" "), QStringLiteral("2 errors (") + failedSize + QStringLiteral(") during backup - ") + T, 255,
         4, true},
        {"missing source stays 3", TBuStatus::bsOK, 0, 1, 0, QString(), 3, TResultStatus::psError, QStringLiteral(" "),
         QStringLiteral("1 error during backup - ") + T, 255, 3, true},
        {"incomplete", TBuStatus::bsOK, 0, 0, 0, QStringLiteral("Could not create directory:\r\n\"/x\""), 0,
         TResultStatus::psError, QString(), QStringLiteral("Could not create directory:\r\n\"/x\""), 255, 4, false},
        {"cancelled", TBuStatus::bsCanceled, 0, 0, 0, QString(), 0, TResultStatus::psCancel, QStringLiteral(" "),
         QStringLiteral("Canceled by user - ") + T, 255, 5, false},
        {"full volume", TBuStatus::bsFull, 0, 1, 0, QString(), 0, TResultStatus::psCancel, QStringLiteral(" "),
         QStringLiteral("Canceled because of full destination volume - ") + T, 255, 5, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        ProgExitCode = c.ExitBefore;
        Form.BuStatus = c.Status;
        Form.LastBuTime.SetCaption(QString());
        R = {};
        R.Count.FileCount = 8;
        R.Count.CopiedCount = 5;
        R.Count.WarningCount = c.Warnings;
        R.Count.ErrorCount = c.Errors;
        R.Count.ErrorBytes = c.ErrorBytes;
        R.StatusText = c.StatusText;
        Progress.Pages = 0;
        Form.CompleteRun(R);
        EXPECT_EQ(Progress.Pages, 1);
        EXPECT_EQ(Progress.PageMode, c.Mode);
        EXPECT_EQ(Progress.Line1, c.Line1);
        EXPECT_EQ(Progress.Line2, c.Line2);
        EXPECT_EQ(Progress.Color, c.Color);
        EXPECT_EQ(ProgExitCode, c.Exit);
        EXPECT_EQ(!Form.LastBuTime.Caption().isEmpty(), c.Completed);
        EXPECT_EQ(R.Result, TBuResult::brOK); // the page's code decides
    }
    EXPECT_FALSE(QFile::exists(EventFile)); // pages, no event-log entries
}

TEST_F(RunCompletionTest, QuietRunWithErrorsWritesEventAndTakesTheWindowsAction)
{
    R.AutoClose = -1;
    R.Count.ErrorCount = 2;
    Progress.TerminateCode = prShutdown;
    Form.CompleteRun(R);
    EXPECT_EQ(Progress.Pages, 0);
    EXPECT_EQ(Progress.Terminated, 1);
    EXPECT_EQ(R.Result, TBuResult::brShutdown);
    EXPECT_EQ(ProgExitCode, 4);
    EXPECT_TRUE(Events().contains(QStringLiteral("Velkor[")));
    EXPECT_TRUE(Events().contains(QStringLiteral(" error 1 0xC0000011: 2 errors during backup")))
        << Events().toStdString();
    EXPECT_TRUE(Log().contains(QStringLiteral("  ==> The system will be shut down!")));

    // A quiet cancel: an entry with the cause, no page.
    QFile::remove(EventFile);
    Form.BuStatus = TBuStatus::bsBroken;
    R = {};
    R.AutoClose = -1;
    Form.CompleteRun(R);
    EXPECT_EQ(Progress.Pages, 0);
    EXPECT_TRUE(Events().contains(QStringLiteral("0xC0000011: FTP connection lost!")));
    EXPECT_EQ(ProgExitCode, 5);
}

TEST_F(RunCompletionTest, StatusLinesShowElapsedTime)
{
    Form.StartTime = Now() - (3600 + 2 * 60 + 3) / 86400.0;
    R.SyncOnly = true;
    Form.SyncDelCount = 1;
    R.Count.FileCount = 1;
    R.Count.CopiedCount = 1;
    Form.CompleteRun(R);
    const QString log = Log();
    const QString T = FilesCopiedText(1, 1, 0, 0) + QStringLiteral(" (1 file deleted)");
    EXPECT_TRUE(log.contains(QStringLiteral("  Status: OK - Elapsed time: 01:02:03\r\n"
                                            "          Backup: ") +
                             T + QStringLiteral("\r\n          Synchronization: 1 file deleted\r\n")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("  ==> End: ")));
}

TEST_F(RunCompletionTest, ProgramAfterBackupByState)
{
    const QString out = Dir + QStringLiteral("/status.txt");
    const QString script = Dir + QStringLiteral("/after.sh");
    WriteBytes(script, QByteArray("#!/bin/sh\necho \"$1\" > '") + out.toUtf8() + "'\n");
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const struct {
        const char *Label;
        TBuStatus Status;
        int Errors, Copied, Bits;
        QString Written; // empty: skipped
        QString Skip;
    } cases[] = {
        {"idle run with bit 4", TBuStatus::bsOK, 0, 0, 4, QString(), QStringLiteral("[0]")},
        {"copies with bit 4", TBuStatus::bsOK, 0, 1, 4, QStringLiteral("0"), QString()},
        {"cancelled runs", TBuStatus::bsCanceled, 0, 0, 2 | 4, QStringLiteral("5"), QString()},
        {"cancelled with bit 1", TBuStatus::bsCanceled, 0, 1, 1, QString(), QStringLiteral("[5]")},
        {"errors with bit 2", TBuStatus::bsOK, 1, 1, 2, QString(), QStringLiteral("[4]")},
        {"errors with bit 1", TBuStatus::bsOK, 1, 1, 1, QStringLiteral("4"), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        QFile::remove(out);
        ProgExitCode = 0;
        Form.BuStatus = c.Status;
        Form.cbPostC.SetChecked(true);
        Form.BuPostCmd = {script + QStringLiteral(" %status%"), c.Bits, kWaitRun};
        R = {};
        R.Count.ErrorCount = c.Errors;
        R.Count.CopiedCount = c.Copied;
        R.Count.FileCount = c.Copied;
        const qsizetype before = Log().size();
        Form.CompleteRun(R);
        const QString log = Log().mid(before);
        const QString skipLine = QStringLiteral("  ### External program after backup was skipped ") + c.Skip;
        if (c.Written.isEmpty()) {
            EXPECT_FALSE(QFile::exists(out));
            EXPECT_TRUE(log.contains(skipLine + QStringLiteral("\r\n"))) << log.toStdString();
        } else {
            EXPECT_EQ(QString::fromUtf8(ReadBytes(out)).trimmed(), c.Written);
            EXPECT_FALSE(log.contains(QStringLiteral("was skipped")));
            EXPECT_FALSE(R.ExtProgFailed);
        }
    }
}

TEST_F(RunCompletionTest, EmptyDestinationIsRemovedUnlessItIsTheUndatedTarget)
{
    const QString root = MakeTempDir(QStringLiteral("target"));
    const struct {
        const char *Label;
        QString Ziel, DestDir, BaseDir;
        bool Kept;
    } cases[] = {
        {"dated folder", root + QStringLiteral("/%date%"), root + QStringLiteral("/2026-12-11"),
         root + QStringLiteral("/2026-12-11"), false},
        {"undated target", root + QStringLiteral("/X"), root + QStringLiteral("/X"), root + QStringLiteral("/X"), true},
        {"subfolder of the target", root + QStringLiteral("/Y"), root + QStringLiteral("/Y"),
         root + QStringLiteral("/Y/sub"), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        ASSERT_TRUE(QDir().mkpath(c.BaseDir));
        ASSERT_EQ(WriteTimeStampFile(c.BaseDir + QLatin1Char('/'), Form.StartTime), 0u);
        Form.BuZiel.SetText(c.Ziel);
        Form.BaseDir = c.BaseDir;
        R = {};
        R.DestReady = true;
        R.DestDir = c.DestDir;
        Form.FinishRunDestination(R);
        EXPECT_EQ(QDir(c.BaseDir).exists(), c.Kept);
        EXPECT_FALSE(QFile::exists(TimeStampFileName(c.BaseDir + QLatin1Char('/'))));
    }
    EXPECT_TRUE(QDir(root + QStringLiteral("/Y")).exists());
}

TEST_F(RunCompletionTest, TimeStampFileOnlyAfterACompleteRun)
{
    const struct {
        const char *Label;
        bool ClearDest, WriteTs, Alternating;
        TBuStatus Status;
        QString StatusText;
        bool Written;
    } cases[] = {
        {"full backup", true, false, false, TBuStatus::bsOK, QString(), true},
        {"option", false, true, false, TBuStatus::bsOK, QString(), true},
        {"alternating", false, false, true, TBuStatus::bsOK, QString(), true},
        {"neither", false, false, false, TBuStatus::bsOK, QString(), false},
        {"cancelled", true, true, false, TBuStatus::bsCanceled, QString(), false},
        {"incomplete", true, true, false, TBuStatus::bsOK, QStringLiteral("Error writing zip"), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        const QString base = MakeTempDir(QStringLiteral("ts"));
        WriteBytes(base + QStringLiteral("/file.txt"), "x");
        Form.BaseDir = base;
        Form.ClearDest = c.ClearDest;
        Form.WriteTsFile = c.WriteTs;
        Form.BuStatus = c.Status;
        Form.StartTime = 46000.5;
        R = {};
        R.DestReady = true;
        R.DestDir = base;
        R.LastEntryDest = base;
        R.Alternating = c.Alternating;
        R.StatusText = c.StatusText;
        Form.FinishRunDestination(R);
        EXPECT_EQ(ReadTimeStampFile(base + QLatin1Char('/')), c.Written ? 46000.5 : 0.0);
    }
}

TEST_F(RunCompletionTest, UnwritableTimeStampFileIsAnErrorOfTheRun)
{
    const QString base = MakeTempDir(QStringLiteral("ts"));
    WriteBytes(base + QStringLiteral("/file.txt"), "x");
    // A folder where the stamp belongs: it cannot be written.
    const QString stamp = TimeStampFileName(base + QLatin1Char('/'));
    ASSERT_TRUE(QDir().mkpath(stamp + QStringLiteral("/keep")));
    Form.BaseDir = base;
    Form.WriteTsFile = true;
    R.DestReady = true;
    R.DestDir = base;
    R.LastEntryDest = base;
    R.Count.FileCount = R.Count.CopiedCount = 1;
    Form.FinishRunDestination(R);
    // Counted like every error outside the walk (ErrorCnt), and folded into
    // the run's counters once, at the end.
    Form.CompleteRun(R);
    EXPECT_EQ(R.Count.ErrorCount, 1);
    EXPECT_EQ(Progress.PageMode, TResultStatus::psError);
    EXPECT_EQ(ProgExitCode, 4);
}

TEST_F(RunCompletionTest, UncreatableDestinationIsReported)
{
    Form.BaseDir = QStringLiteral("/velkor-none/BW01");
    R.DestReady = true;
    R.CycleFolderFailed = true;
    Form.FinishRunDestination(R);
    EXPECT_EQ(R.StatusText, QStringLiteral("Could not create directory:\r\n\"/velkor-none/BW01\""));
    EXPECT_TRUE(Log().contains(QStringLiteral("  *** Could not create directory: \"/velkor-none/BW01\"\r\n")));
}

// ---- Log display ----

class LogViewTest : public RunCompletionTest {
protected:
    void SetUp() override
    {
        RunCompletionTest::SetUp();
        SetServiceLogSink([this](const QString &ALine) { Service << ALine; });
    }
    void TearDown() override
    {
        SetServiceLogSink({});
        RunCompletionTest::TearDown();
    }
    bool Shown(const QString &AFile) const
    {
        for (const QString &line : Service)
            if (line.contains(QStringLiteral("not shown")) && line.contains(AFile))
                return true;
        return false;
    }

    QStringList Service;
    test::TMessageRecorder Boxes;
    test::TScriptedViews Views;
};

TEST_F(LogViewTest, MissingLogAndMissingDefaultGiveNoLogAvailable)
{
    Form.LastLogFile = Dir + QStringLiteral("/gone.log");
    ProgramLogName = Dir + QStringLiteral("/Velkor.log");
    QString question;
    Views.OnSelectDialog = [&](TSelectDialog &D) {
        question = D.stCaption.Caption();
        D.Buttons[1]->Click(); // "Default"
    };
    Form.ProtView(false, true);
    EXPECT_TRUE(question.contains(Form.LastLogFile));
    EXPECT_EQ(Boxes.Texts, QStringList{QStringLiteral("No log available!")});

    // The default exists: it is shown instead.
    WriteBytes(ProgramLogName, "Velkor - log\r\n");
    Boxes.Texts.clear();
    Form.ProtView(false, true);
    EXPECT_TRUE(Boxes.Texts.isEmpty());
    EXPECT_TRUE(Shown(ProgramLogName));
}

TEST_F(LogViewTest, CheckModeWithoutRunLogShowsNothing)
{
    Form.LastLogFile = LogName; // exists
    Form.CloseLogFile(false);
    Form.ActMode = 0;
    Form.ProtView(true, false);
    EXPECT_EQ(Boxes.Texts, QStringList{QStringLiteral("No log available!")});
    EXPECT_FALSE(Shown(LogName));
    ASSERT_EQ(Form.OpenLogFile(0x83, LogName, false), 0);
}

TEST_F(LogViewTest, LogRequestedOnTheStatusPage)
{
    Form.LastLogFile = LogName;
    Progress.PageCode = prNoAction | prLogShown;
    Form.CompleteRun(R);
    EXPECT_TRUE(Shown(LogName));
    EXPECT_TRUE(Boxes.Texts.isEmpty());
    EXPECT_EQ(R.Result, TBuResult::brOK);
}

} // namespace
} // namespace vl
