#include "backup/BackupForm.h"
#include "backup/LogWriter.h"
#include "backup/MainServices.h"

#include "common/TestUtils.h"
#include "core/DateTime.h"
#include "core/FormatSettings.h"
#include "core/MessageService.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/SystemUtils.h"
#include "ui/ListWindows.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <vector>

#include <sys/wait.h>
#include <unistd.h>

using namespace vl;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

const QByteArray kBom("\xEF\xBB\xBF", 3);

// The lines of a log file: it must start with the byte-order mark, and every
// line must end in CR LF (the part after the last one is not a line).
QStringList LogLines(const QString &path)
{
    const QByteArray bytes = ReadBytes(path);
    EXPECT_TRUE(bytes.startsWith(kBom)) << path.toStdString();
    const QByteArray body = bytes.mid(3);
    EXPECT_TRUE(body.isEmpty() || body.endsWith("\r\n")) << path.toStdString();
    EXPECT_EQ(body.count('\n'), body.count("\r\n")) << "bare LF in " << path.toStdString();
    QStringList lines = QString::fromUtf8(body).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

QStringList Texts(const std::vector<const char *> &texts)
{
    QStringList list;
    for (const char *t : texts)
        list << QString::fromUtf8(t);
    return list;
}

class TaskLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = test::MakeTempDir(QStringLiteral("log"));
        VlSettings.Directories.LogDir = Dir;
        VlSettings.Directories.TempDir = Dir + QStringLiteral("/tmp");
        VlSettings.LogSettings.MailLogPrefix = QStringLiteral("VL");
        VlSettings.LogSettings.LogSize = 1000;
        VlSettings.LogSettings.DecimalSizes = false;
        ProgramLogName = Dir + QStringLiteral("/Velkor.log");
        ProgramInfo.InternalName = QStringLiteral("Velkor");
        ProgramInfo.Version = QStringLiteral("6.3.27.0");
        Is64BitProgram = true;
        ProgExitCode = 0;
        ErrorCount = 0;
        SetFormatSettings(TFormatSettings::Invariant());
    }
    void TearDown() override { SetBuMainForm(nullptr); }

    QString Path(const QString &name) const { return Dir + QLatin1Char('/') + name; }

    QString Dir;
    TBackupForm Form;
};

// A process that holds path open as a log until it is told to end.
class TLogHolder {
public:
    explicit TLogHolder(const QString &path)
    {
        int ready[2], quit[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(quit), 0);
        FPid = fork();
        if (FPid == 0) {
            close(ready[0]);
            close(quit[1]);
            TLogWriter w;
            const char ok = w.Open(path) == 0 ? '1' : '0';
            (void)!write(ready[1], &ok, 1);
            char c;
            (void)!read(quit[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(quit[0]);
        FQuit = quit[1];
        char ok = '0';
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        close(ready[0]);
        EXPECT_EQ(ok, '1');
    }
    ~TLogHolder()
    {
        close(FQuit);
        int status = 0;
        waitpid(FPid, &status, 0);
    }

private:
    pid_t FPid = -1;
    int FQuit = -1;
};

class TPortableMainForm : public TNullBuMainForm {
public:
    bool IsPortable() const override { return true; }
};

} // namespace

TEST_F(TaskLog, RunWritesHeaderStartAndClosingLineAndAppendsTheNext)
{
    const TDateTime start = EncodeDateTime(2025, 3, 7, 14, 5, 9, 0);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Form.OpenLogFile(2, QStringLiteral("Run.log"), false), 0);
        Form.InitLog(QStringLiteral("Data backup"));
        Form.BeginLog(start, QStringLiteral("Task A"));
        Form.WriteToLog(QStringLiteral("   line"));
        Form.CloseLogFile(false);
    }
    EXPECT_EQ(Form.LastLogFile, Path(QStringLiteral("Run.log")));
    const QStringList one = {
        QStringLiteral("Velkor - 64-bit (6.3.27.0) [02] - Data backup"),
        QStringLiteral("  Operating system: ") + WindowsVersionText(),
        QStringLiteral("  ==> Start: 2025/03/07 14:05:09 - Task A"),
        QStringLiteral("   line"),
        QString(),
    };
    EXPECT_EQ(LogLines(Path(QStringLiteral("Run.log"))), one + one);
    EXPECT_EQ(Form.LogHeader, one[0]);
    EXPECT_EQ(Form.LogBegin, one[2]);
    EXPECT_EQ(Form.ActMode, 0);
}

TEST_F(TaskLog, LevelRuleDecidesWhichLinesReachTheFile)
{
    // Lines are named after their message mode.
    const int modes[] = {1, 2, 3, 5, 6, 7};
    const struct {
        int FileMode;
        std::vector<const char *> Written;
    } cases[] = {
        {1, {"m1", "m5"}},
        {5, {"m1", "m5", "m6", "m7"}}, // short with warnings
        {2, {"m1", "m2", "m5", "m6"}},
        {6, {"m1", "m2", "m5", "m6"}},
        {3, {"m1", "m2", "m3", "m5", "m6", "m7"}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(Form.OpenLogFile(c.FileMode | 0x100, QStringLiteral("Level.log"), false), 0);
        for (int m : modes)
            Form.WriteToLog(m, QStringLiteral("m%1").arg(m));
        Form.CloseLogFile(false);
        QStringList lines = LogLines(Path(QStringLiteral("Level.log")));
        lines.removeAll(QString());
        EXPECT_EQ(lines, Texts(c.Written)) << "file mode " << c.FileMode;
    }
}

TEST_F(TaskLog, LevelOffWithMailWritesOnlyTheTemporaryLogAtLevelShort)
{
    ASSERT_EQ(Form.OpenLogFile(0, QString(), true), 0);
    EXPECT_EQ(Form.ActMode, 0);
    EXPECT_EQ(Form.TempMode, 1);
    ASSERT_TRUE(Form.TempProt);
    const QString temp = Form.TempLogName;
    EXPECT_TRUE(temp.startsWith(Dir + QStringLiteral("/tmp/VL "))) << temp.toStdString();
    Form.WriteToLog(1, QStringLiteral("short"));
    Form.WriteToLog(2, QStringLiteral("long"));
    Form.CloseTempLog();
    EXPECT_EQ(LogLines(temp), QStringList{QStringLiteral("short")});
    EXPECT_FALSE(QFile::exists(ProgramLogName));
    Form.CloseLogFile(false);
    EXPECT_FALSE(QFile::exists(temp));
    EXPECT_TRUE(Form.TempLogName.isEmpty());
}

TEST_F(TaskLog, ErrorsAreNumberedOnlyAtLongLevelWithSummary)
{
    const struct {
        int Mode;
        std::vector<const char *> Lines;
    } cases[] = {
        {1, {"  *** failed"}},
        {5, {"  *** failed", "      -> first", "      -> second"}},
        {2, {"  *** failed", "      -> first", "      -> second", "  *** plain"}},
        {0x82, {"  *** (1) B: failed", "      -> first", "      -> second", "  *** (2): plain",
                "  *** Summary of errors:", "      => (1) B: failed", "      => (2): plain"}},
        // At level short the summary option numbers nothing.
        {0x81, {"  *** failed"}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(Form.OpenLogFile(c.Mode | 0x100, QStringLiteral("Err.log"), false), 0);
        Form.WriteErrorToLog(QStringLiteral("B"), QStringLiteral("failed"), QStringLiteral("first"),
                             QStringLiteral("second"));
        Form.WriteErrorToLog(2, QString(), QStringLiteral("plain"));
        Form.WriteErrorSummary();
        Form.CloseLogFile(false);
        QStringList lines = LogLines(Path(QStringLiteral("Err.log")));
        lines.removeAll(QString());
        EXPECT_EQ(lines, Texts(c.Lines)) << "mode " << c.Mode;
        EXPECT_TRUE(Form.LogErrorList.isEmpty());
    }
}

TEST_F(TaskLog, SummaryListsAHundredErrorsAndCountsTheRest)
{
    ASSERT_EQ(Form.OpenLogFile(0x82, QStringLiteral("Many.log"), false), 0);
    for (int i = 1; i <= 101; ++i)
        Form.WriteErrorToLog(QStringLiteral("S"), QStringLiteral("e%1").arg(i));
    ASSERT_EQ(Form.LogErrorList.size(), 101);
    Form.WriteErrorSummary();
    Form.CloseLogFile(false);
    const QStringList lines = LogLines(Path(QStringLiteral("Many.log")));
    const qsizetype head = lines.indexOf(QStringLiteral("  *** Summary of errors:"));
    ASSERT_EQ(head, 101);
    EXPECT_EQ(lines.at(100), QStringLiteral("  *** (101) S: e101"));
    EXPECT_EQ(lines.at(head + 1), QStringLiteral("      => (1) S: e1"));
    EXPECT_EQ(lines.at(head + 100), QStringLiteral("      => (100) S: e100"));
    EXPECT_EQ(lines.at(head + 101), QStringLiteral("      => 1 more errors"));
    EXPECT_EQ(lines.size(), head + 103); // and the closing empty line
}

TEST_F(TaskLog, SystemErrorCodeBecomesTheDetailLine)
{
    ASSERT_EQ(Form.OpenLogFile(2, QStringLiteral("Code.log"), false), 0);
    Form.WriteErrorToLog(QStringLiteral("B"), QStringLiteral("copy failed"), 5);
    Form.WriteErrorToLog(QStringLiteral("B"), QStringLiteral("no code"), 0);
    Form.CloseLogFile(false);
    const QStringList lines = LogLines(Path(QStringLiteral("Code.log")));
    EXPECT_EQ(lines, (QStringList{QStringLiteral("  *** copy failed"),
                                  QStringLiteral("      -> System error: ") + SystemErrorText(5),
                                  QStringLiteral("  *** no code"), QString()}));
}

TEST_F(TaskLog, NumberedErrorsFillTheLiveListTitledWithTheTaskName)
{
    Form.ShowErrors = true;
    Form.laTaskName.SetCaption(QStringLiteral("Daily"));
    ASSERT_EQ(Form.OpenLogFile(0x82, QStringLiteral("Live.log"), false), 0);
    Form.WriteErrorToLog(QStringLiteral("B"), QStringLiteral("one"));
    Form.WriteErrorToLog(QStringLiteral("B"), QStringLiteral("two"));
    TShowStringListDialog *list = StringListWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Form.Caption(), QStringLiteral("Daily"));
    EXPECT_EQ(list->laDesc.Caption(), QStringLiteral("Summary of errors:"));
    EXPECT_EQ(list->lbStrings.Items(), (QStringList{QStringLiteral("(1) one"), QStringLiteral("(2) two")}));
    EXPECT_TRUE(list->Form.Visible());
    Form.CloseLogFile(false);
    EXPECT_FALSE(list->Form.Visible());
}

TEST_F(TaskLog, LogAboveTheSizeLimitMovesToItsDatedName)
{
    const QString dated =
        Path(QStringLiteral("Big ") + FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now()) + QStringLiteral(".log"));
    const struct {
        bool Decimal;
        int Size;
        bool Moved;
    } cases[] = {{false, 1024, false}, {false, 1025, true}, {true, 1000, false}, {true, 1001, true}};
    for (const auto &c : cases) {
        QFile::remove(dated);
        VlSettings.LogSettings.LogSize = 1;
        VlSettings.LogSettings.DecimalSizes = c.Decimal;
        const QByteArray old = kBom + QByteArray(c.Size - 5, 'x') + "\r\n";
        WriteBytes(Path(QStringLiteral("Big.log")), old);
        ASSERT_EQ(Form.OpenLogFile(1, QStringLiteral("Big.log"), false), 0);
        Form.WriteToLog(QStringLiteral("new"));
        Form.CloseLogFile(false);
        const QByteArray now = ReadBytes(Path(QStringLiteral("Big.log")));
        if (c.Moved) {
            EXPECT_EQ(ReadBytes(dated), old);
            EXPECT_EQ(LogLines(Path(QStringLiteral("Big.log"))),
                      (QStringList{QStringLiteral("Continuation of \"%1\"").arg(dated), QString(),
                                   QStringLiteral("new"), QString()}));
        } else {
            EXPECT_FALSE(QFile::exists(dated));
            EXPECT_EQ(now, old + "new\r\n\r\n");
        }
    }
}

TEST_F(TaskLog, FailedMoveLeavesTheLogGrowingWithoutNote)
{
    VlSettings.LogSettings.LogSize = 0;
    const QString dated =
        Path(QStringLiteral("Big ") + FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now()) + QStringLiteral(".log"));
    WriteBytes(dated, "taken");
    WriteBytes(Path(QStringLiteral("Big.log")), kBom + "old\r\n");
    ASSERT_EQ(Form.OpenLogFile(1, QStringLiteral("Big.log"), false), 0);
    Form.WriteToLog(QStringLiteral("new"));
    Form.CloseLogFile(false);
    EXPECT_EQ(ReadBytes(dated), QByteArray("taken"));
    EXPECT_EQ(LogLines(Path(QStringLiteral("Big.log"))),
              (QStringList{QStringLiteral("old"), QStringLiteral("new"), QString()}));
}

TEST_F(TaskLog, LogHeldByAnotherProgramContinuesInNumberedSiblings)
{
    // Another process holds the named log; this process's second run finds
    // the first sibling held by the first run.
    TLogHolder holder(Path(QStringLiteral("Run.txt")));
    ASSERT_EQ(Form.OpenLogFile(1, QStringLiteral("Run.txt"), false), 0);
    EXPECT_EQ(Form.LastLogFile, Path(QStringLiteral("Run-1.log")));
    TBackupForm second;
    ASSERT_EQ(second.OpenLogFile(1, QStringLiteral("Run.txt"), false), 0);
    EXPECT_EQ(second.LastLogFile, Path(QStringLiteral("Run-2.log")));
    second.WriteToLog(QStringLiteral("second run"));
    second.CloseLogFile(false);
    EXPECT_EQ(LogLines(Path(QStringLiteral("Run-2.log"))), (QStringList{QStringLiteral("second run"), QString()}));

    // Released for an external program, the file is free; reopened it is
    // held again.
    EXPECT_TRUE(TLogWriter::IsBusy(Path(QStringLiteral("Run-1.log"))));
    Form.ReleaseLogFile(1);
    EXPECT_FALSE(TLogWriter::IsBusy(Path(QStringLiteral("Run-1.log"))));
    Form.ReopenLogFile(1);
    EXPECT_TRUE(TLogWriter::IsBusy(Path(QStringLiteral("Run-1.log"))));
    Form.CloseLogFile(false);
    EXPECT_FALSE(TLogWriter::IsBusy(Path(QStringLiteral("Run-1.log"))));
}

TEST_F(TaskLog, CommandLineModeOverridesTheTaskMode)
{
    const struct {
        int CmdMode;
        int ActMode;
        bool Anew;
    } cases[] = {{13, 3, true}, {3, 3, false}, {1, 1, false}};
    for (const auto &c : cases) {
        WriteBytes(Path(QStringLiteral("Cmd.log")), kBom + "old\r\n");
        Form.CmdProtMode = c.CmdMode;
        ASSERT_EQ(Form.OpenLogFile(0x182, QStringLiteral("Cmd.log"), false), 0);
        EXPECT_EQ(Form.ActMode, c.ActMode) << c.CmdMode;
        EXPECT_FALSE(Form.ErrorSummary) << c.CmdMode;
        Form.CloseLogFile(false);
        EXPECT_EQ(LogLines(Path(QStringLiteral("Cmd.log"))).contains(QStringLiteral("old")), !c.Anew) << c.CmdMode;
    }
}

TEST_F(TaskLog, FailedBackupAppendsToTheErrorLog)
{
    const QString errors = Path(QStringLiteral("VlErrors.log"));
    const struct {
        int ExitCode;
        bool ErrorLog;
        bool Portable;
        bool Entry;
        int Counted;
    } cases[] = {
        {1, true, false, true, 1},
        {5, true, false, true, 0},  // aborted: logged, not counted
        {0, true, false, false, 0}, // success
        {1, false, false, false, 0}, // runs that ask for no entry
        {1, true, true, false, 0},  // portable installation
    };
    TPortableMainForm portable;
    for (const auto &c : cases) {
        QFile::remove(errors);
        ErrorCount = 0;
        ProgExitCode = c.ExitCode;
        SetBuMainForm(c.Portable ? &portable : nullptr);
        ASSERT_EQ(Form.OpenLogFile(1, QStringLiteral("Run.log"), false), 0);
        Form.InitLog(QStringLiteral("Data backup"));
        Form.BeginLog(Now(), QStringLiteral("Task"));
        Form.CloseLogFile(c.ErrorLog);
        EXPECT_EQ(ErrorCount, c.Counted) << c.ExitCode;
        ASSERT_EQ(QFile::exists(errors), c.Entry) << c.ExitCode;
        if (c.Entry) {
            EXPECT_EQ(LogLines(errors), (QStringList{Form.LogHeader, Form.LogBegin,
                                                     QStringLiteral("  *** ") + TaskErrorText(c.ExitCode), QString()}));
        }
    }
}

TEST_F(TaskLog, ErrorLogHeldOpenElsewhereDropsTheEntry)
{
    const QString errors = Path(QStringLiteral("VlErrors.log"));
    TLogWriter other;
    ASSERT_EQ(other.Open(errors), 0u);
    ProgExitCode = 1;
    ASSERT_EQ(Form.OpenLogFile(1, QStringLiteral("Run.log"), false), 0);
    Form.InitLog(QStringLiteral("Data backup"));
    Form.CloseLogFile(true);
    other.Close();
    EXPECT_EQ(ReadBytes(errors), kBom);
    EXPECT_EQ(ErrorCount, 1);
}

TEST_F(TaskLog, TemporaryLogsOfOneSecondGetDistinctNames)
{
    const auto firstSibling = [](const QString &name) { return name.left(name.size() - 4) + QStringLiteral("-1.log"); };
    // A file already under this second's name belongs to another run: it
    // must be neither reused nor deleted.
    QString foreign;
    for (int tries = 0; tries < 5 && Form.TempLogName.isEmpty(); ++tries) {
        foreign = Dir + QStringLiteral("/tmp/VL") + FormatDateTime(QStringLiteral(" yy-mm-dd hh-nn-ss"), Now()) +
                  QStringLiteral(".log");
        QDir().mkpath(Dir + QStringLiteral("/tmp"));
        WriteBytes(foreign, "other run");
        ASSERT_EQ(Form.OpenLogFile(0, QString(), true), 0);
        if (Form.TempLogName == firstSibling(foreign))
            break;
        Form.CloseLogFile(false); // the second turned over; try again
        QFile::remove(foreign);
    }
    ASSERT_EQ(Form.TempLogName, firstSibling(foreign));
    TBackupForm second;
    ASSERT_EQ(second.OpenLogFile(0, QString(), true), 0);
    EXPECT_NE(second.TempLogName, Form.TempLogName);
    EXPECT_NE(second.TempLogName, foreign);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/VL \\d\\d-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d(-\\d+)?\\.log$"))
                    .match(second.TempLogName)
                    .hasMatch())
        << second.TempLogName.toStdString();
    Form.WriteToLog(QStringLiteral("first"));
    second.WriteToLog(QStringLiteral("second"));
    second.CloseTempLog();
    Form.CloseLogFile(false);
    EXPECT_EQ(LogLines(second.TempLogName), QStringList{QStringLiteral("second")});
    EXPECT_EQ(ReadBytes(foreign), QByteArray("other run"));
    second.CloseLogFile(false);
}

TEST_F(TaskLog, VerboseLinesCarryATimePrefixWhileLogTimeIsSet)
{
    ASSERT_EQ(Form.OpenLogFile(3, QStringLiteral("Time.log"), false), 0);
    Form.LogTime = true;
    Form.WriteToLog(QStringLiteral("      six blanks"));
    Form.WriteToLog(QStringLiteral("  two"));
    Form.WriteToLog();
    Form.WriteErrorSummary(); // ends the time prefixes
    Form.WriteToLog(QStringLiteral("  plain"));
    Form.CloseLogFile(false);
    const QStringList lines = LogLines(Path(QStringLiteral("Time.log")));
    ASSERT_EQ(lines.size(), 5);
    const QRegularExpression stamped(QStringLiteral("^  \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: (.*)$"));
    EXPECT_EQ(stamped.match(lines[0]).captured(1), QStringLiteral("  six blanks"));
    EXPECT_EQ(stamped.match(lines[1]).captured(1), QStringLiteral("two"));
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(lines[3], QStringLiteral("  plain"));

    // Below verbose the flag adds nothing.
    ASSERT_EQ(Form.OpenLogFile(0x102, QStringLiteral("Time.log"), false), 0);
    Form.LogTime = true;
    Form.WriteToLog(QStringLiteral("  long"));
    Form.CloseLogFile(false);
    EXPECT_EQ(LogLines(Path(QStringLiteral("Time.log"))).first(), QStringLiteral("  long"));
}

TEST_F(TaskLog, UnopenableLogIsReportedAndTheRunGoesOnWithoutIt)
{
    WriteBytes(Path(QStringLiteral("file")), "x");
    const int err = Form.OpenLogFile(2, QStringLiteral("file/sub/Run.log"), false);
    EXPECT_NE(err, 0);
    EXPECT_EQ(Form.ActMode, 0);
    Form.WriteToLog(QStringLiteral("nowhere")); // ignored

    QStringList service;
    SetServiceLogSink([&service](const QString &line) { service << line; });
    Form.CheckLogError(err, true);
    SetServiceLogSink({});
    ASSERT_EQ(service.size(), 1);
    EXPECT_TRUE(service[0].contains(QStringLiteral("Error opening log file!"))) << service[0].toStdString();

    const QString events = Path(QStringLiteral("events"));
    test::TScopedEnv env{{"VELKOR_EVENTLOG", events.toUtf8()}};
    EventLogAvailable = true;
    Form.CheckLogError(err, false);
    Form.CheckLogError(0, false);
    const QStringList entries = QString::fromUtf8(ReadBytes(events)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(entries[0].contains(QStringLiteral("0xC000000D"), Qt::CaseInsensitive)) << entries[0].toStdString();
    Form.CloseLogFile(false);
}

TEST_F(TaskLog, NameThatCannotExistIsReportedNotProbedForever)
{
    // No sibling of an over-long name can exist either: the lock test must
    // not keep looking for one.
    const int err = Form.OpenLogFile(1, QString(300, QLatin1Char('n')) + QStringLiteral(".log"), false);
    EXPECT_NE(err, 0);
    EXPECT_EQ(Form.ActMode, 0);
    Form.CloseLogFile(false);
}
