#include "backup/BackupForm.h"
#include "backup/ExternalPrograms.h"

#include "FormLogFixture.h"
#include "common/MessageRecorder.h"
#include "common/TestUtils.h"
#include "core/MessageService.h"
#include "core/PasswordService.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "engine/WinExecute.h"
#include "platform/System.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

using namespace vl;
using vl::test::MakeTempDir;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

// Answers the password question with Password (or Cancel) and keeps the
// questions asked.
class TFixedPassword : public IPasswordService {
public:
    TFixedPassword() { SetPasswordService(this); }
    ~TFixedPassword() override { SetPasswordService(nullptr); }

    QString Password;
    bool Cancel = false;
    QStringList Questions;

    TModalResult AskPassword(QPoint, const QString &Title, const QString &Prompt, bool, bool, QString &Pwd,
                             int32_t &) override
    {
        Questions << Title + QLatin1Char('|') + Prompt;
        if (Cancel)
            return mrCancel;
        Pwd = Password;
        return mrOk;
    }
    bool AskNewPassword(QPoint, const QString &, QString &, bool, bool, int32_t) override { return false; }
    bool AskCryptPassword(const QString &, const QString &, QString &, int32_t) override { return false; }
};

class ExternalProgramsTest : public vl::test::FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        TaskDir = MakeTempDir(QStringLiteral("tasks"));
        VlSettings.Directories.TaskDir = TaskDir + QLatin1Char('/');
        Form.ActTaskName = TaskDir + QStringLiteral("/Daily.buj");
        Form.BaseDest = Dir + QLatin1Char('/');
    }

    // An executable /bin/sh script in the task folder; its path.
    QString Script(const QString &AName, const QByteArray &ABody)
    {
        const QString path = TaskDir + QLatin1Char('/') + AName;
        WriteBytes(path, "#!/bin/sh\n" + ABody + '\n');
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    TExtProgResult Run(const QString &ACommand, int32_t AWait, int32_t AErrorLevel, int AStatus,
                       TInteraction AMode = TInteraction::iaQuiet)
    {
        TExternalProg prog;
        prog.Command = ACommand;
        prog.Wait = AWait;
        prog.ErrorLevel = AErrorLevel;
        TExtProgResult result;
        Form.RunExternalProgram(prog, AMode, AStatus, result);
        return result;
    }

    QString TaskDir;
};

// The arguments a script got, one per line (the script "args.sh").
QByteArray ArgsScriptBody(const QString &AOut)
{
    return "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + AOut.toUtf8() + "'";
}

} // namespace

TEST_F(ExternalProgramsTest, PlaceholdersReachTheProgramAsTheirValues)
{
    const QString out = TaskDir + QStringLiteral("/args.txt");
    Script(QStringLiteral("args.sh"), ArgsScriptBody(out));
    Form.DestMode = 4;
    Form.ZipName = QStringLiteral("Daily.zip");
    Form.LastLogFile = LogName;
    TFixedPassword pwd;
    pwd.Password = QStringLiteral("pw");
    // Mixed case: the names are matched ignoring case.
    const TExtProgResult r =
        Run(QStringLiteral("args.sh %TaskName% %dest% %zipname% %sysdir% %taskdir% %progpath% %username% "
                           "%password% %logfile% %status%"),
            kWaitRun, 0, 3);
    EXPECT_EQ(r.State, TExtProgState::epDone) << Log().toStdString();
    const QStringList expected = {
        Form.ActTaskName, Form.BaseDest,  QStringLiteral("Daily.zip"),
        SystemDirectory(), TaskDir,       QString(ProgramPath).chopped(1),
        LogonUserName(),  QStringLiteral("pw"), LogName,
        QStringLiteral("3"),
    };
    EXPECT_EQ(QString::fromUtf8(ReadBytes(out)), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    // Shown: the password as its prompt text; before the backup no status,
    // and no zip name outside the zip modes.
    Form.DestMode = 1;
    EXPECT_EQ(Form.ExpandExecPlaceHolders(QStringLiteral("x %PASSWORD% [%status%] [%zipname%]"), QString()),
              QStringLiteral("x <password prompt> [] []"));
}

TEST_F(ExternalProgramsTest, ExitCodesOfRealPrograms)
{
    struct TCase {
        QByteArray Body;
        int Status; // < 0: before the backup
        int32_t ErrorLevel;
        TExtProgState State;
        int32_t Code;
        const char *LogText;
    };
    const TCase cases[] = {
        {"exit 0", -1, 5, TExtProgState::epDone, 0, "External program was successful: "},
        {"exit 4", -1, 5, TExtProgState::epDone, 4, "returned accepted errorlevel: 4"},
        {"exit 5", -1, 5, TExtProgState::epErrorLevel, 5, " -> Returned errorlevel = 5"},
        {"exit 7", 0, kIgnoreErrorLevel, TExtProgState::epDone, 7, "returned accepted errorlevel: 7"},
        {"exit 7", 0, kSkipAfterErrors, TExtProgState::epErrorLevel, 7, "Returned errorlevel = 7"},
        // Killed: a failure, whatever the task accepts.
        {"kill -KILL $$", -1, 255, TExtProgState::epFailed, 128 + SIGKILL, " -> Terminated by signal 9"},
        {"kill -TERM $$", 0, kIgnoreErrorLevel, TExtProgState::epFailed, 128 + SIGTERM,
         " -> Terminated by signal 15"},
    };
    int n = 0;
    for (const TCase &c : cases) {
        const QString name = QStringLiteral("code%1.sh").arg(++n);
        Script(name, c.Body);
        const TExtProgResult r = Run(name, kWaitRun, c.ErrorLevel, c.Status);
        EXPECT_EQ(r.State, c.State) << c.Body.constData();
        EXPECT_EQ(r.Code, c.Code) << c.Body.constData();
        EXPECT_TRUE(Log().contains(QLatin1String(c.LogText)))
            << c.Body.constData() << "\n"
            << Log().toStdString();
    }
}

TEST(ExternalProgramsResults, NoCodeIsMaskedIntoSuccess)
{
    struct TCase {
        uint32_t Result;
        bool Before;
        int32_t ErrorLevel;
        TExtProgOutcome Outcome;
        uint32_t Code;
    };
    const TCase cases[] = {
        {0, true, 5, TExtProgOutcome::eoSuccess, 0},
        {kExitCodeBit | 4, true, 5, TExtProgOutcome::eoAccepted, 4},
        {kExitCodeBit | 5, true, 5, TExtProgOutcome::eoErrorLevel, 5},
        // Its low 16 bits are 0: still an error, never "successful".
        {kExitCodeBit | 0x10000, true, 5, TExtProgOutcome::eoErrorLevel, 0x10000},
        {kExitCodeBit | 0x10000, false, 0, TExtProgOutcome::eoErrorLevel, 0x10000},
        {kExitCodeBit | 0x10000, false, kIgnoreErrorLevel, TExtProgOutcome::eoAccepted, 0x10000},
        {kExitCodeBit | 128, true, 200, TExtProgOutcome::eoAccepted, 128},
        {kExitCodeBit | 129, true, 200, TExtProgOutcome::eoSignal, 129},
        {kExitCodeBit | 192, false, kIgnoreErrorLevel, TExtProgOutcome::eoSignal, 192},
        {kExitCodeBit | 193, true, 200, TExtProgOutcome::eoAccepted, 193},
        {WAIT_TIMEOUT, true, 5, TExtProgOutcome::eoTimeOut, WAIT_TIMEOUT},
        {2, true, 5, TExtProgOutcome::eoStartError, 2},
    };
    for (const TCase &c : cases) {
        uint32_t code = 12345;
        EXPECT_EQ(ClassifyExtProgResult(c.Result, c.Before, c.ErrorLevel, code), c.Outcome) << std::hex << c.Result;
        EXPECT_EQ(code, c.Code) << std::hex << c.Result;
    }
}

TEST_F(ExternalProgramsTest, TimeOutFailsUnlessIgnoredOrContinued)
{
    Script(QStringLiteral("slow.sh"), "sleep 20");
    const auto started = std::chrono::steady_clock::now();
    TExtProgResult r = Run(QStringLiteral("slow.sh"), kWaitRun | 1, 5, -1);
    EXPECT_EQ(r.State, TExtProgState::epFailed);
    EXPECT_EQ(r.Code, 258);
    EXPECT_TRUE(Log().contains(QStringLiteral("  ### Time out executing external program: slow.sh")));

    r = Run(QStringLiteral("slow.sh"), kWaitRun | kWaitIgnoreTimeout | 1, 5, -1);
    EXPECT_EQ(r.State, TExtProgState::epDone);
    EXPECT_EQ(r.Code, 258);

    // Prompting: the user's answer decides.
    vl::test::TMessageRecorder boxes;
    boxes.Answer = mrNo;
    for (TModalResult answer : {mrYes, mrNo}) {
        boxes.Answer = answer;
        r = Run(QStringLiteral("slow.sh"), kWaitRun | 1, 5, -1, TInteraction::iaPrompt);
        EXPECT_EQ(r.State, answer == mrYes ? TExtProgState::epDone : TExtProgState::epFailed);
        ASSERT_FALSE(boxes.Texts.isEmpty());
        EXPECT_TRUE(boxes.Texts.last().endsWith(QStringLiteral("\r\nContinue backup?")));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(ExternalProgramsTest, StopWaitingEndsAnUnlimitedWait)
{
    Script(QStringLiteral("slow.sh"), "sleep 30");
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        Form.StopExternalProgramWait();
    });
    const auto started = std::chrono::steady_clock::now();
    const TExtProgResult r = Run(QStringLiteral("slow.sh"), kWaitRun, 5, -1);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(r.State, TExtProgState::epFailed);
    EXPECT_EQ(r.Code, 258);
    EXPECT_TRUE(Form.ExtProgWaitStopped);
}

TEST(ExternalProgramsConditions, PostProgramRunsUnlessAConditionForbidsIt)
{
    struct TCase {
        int32_t Conditions;
        bool Cancelled, Errors, Nothing;
        bool Runs;
    };
    const TCase cases[] = {
        {0, true, true, true, true},
        {kSkipAfterCancel, true, false, false, false},
        {kSkipAfterCancel, false, true, true, true},
        {kSkipAfterErrors, false, true, false, false},
        {kSkipAfterErrors, true, false, true, true},
        {kSkipAfterIdle, false, false, true, false},
        {kSkipAfterIdle, true, true, false, true},
        // The ignore bit is about the exit code, not about running.
        {kIgnoreErrorLevel, true, true, true, true},
        {kSkipAfterCancel | kSkipAfterErrors | kSkipAfterIdle, false, false, false, true},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(PostProgramMayRun(c.Conditions, c.Cancelled, c.Errors, c.Nothing), c.Runs) << c.Conditions;
}

TEST_F(ExternalProgramsTest, PasswordReachesTheProgramButNoShownText)
{
    const QString out = TaskDir + QStringLiteral("/args.txt");
    // Exits 9 so that the error box is shown too.
    Script(QStringLiteral("args.sh"), ArgsScriptBody(out) + "\nexit 9");
    TFixedPassword pwd;
    // Characters the shell would read: each place must pass them on as typed.
    pwd.Password = QStringLiteral("s3 $HOME `id` \"q\" 'a' \\ %date%");
    vl::test::TMessageRecorder boxes;
    boxes.Answer = mrNo;
    const TExtProgResult r = Run(QStringLiteral("args.sh %password% \"<%password%>\" 'x%password%'"), kWaitRun, 5,
                                 -1, TInteraction::iaPrompt);
    EXPECT_EQ(r.State, TExtProgState::epErrorLevel);
    EXPECT_EQ(QString::fromUtf8(ReadBytes(out)),
              pwd.Password + QStringLiteral("\n<") + pwd.Password + QStringLiteral(">\nx") + pwd.Password + QLatin1Char('\n'));

    const QString shown = QStringLiteral("args.sh <password prompt> \"<<password prompt>>\" 'x<password prompt>'");
    ASSERT_EQ(pwd.Questions.size(), 1);
    EXPECT_EQ(pwd.Questions[0], QStringLiteral("External program before backup|Executing the external program:\r\n")
                                    + shown + QStringLiteral("\r\nrequires a password!"));
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(boxes.Texts[0],
              QStringLiteral("Error executing:\r\n") + shown + QStringLiteral("\r\nReturned errorlevel = 9"));
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  ### Error executing: ") + shown + QStringLiteral(" -> Returned")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("s3 ")));
}

TEST_F(ExternalProgramsTest, CancelledPasswordStartsNothing)
{
    const QString marker = TaskDir + QStringLiteral("/ran");
    Script(QStringLiteral("mark.sh"), "touch '" + marker.toUtf8() + "'");
    TFixedPassword pwd;
    pwd.Cancel = true;
    const QString before = Log();
    const TExtProgResult r = Run(QStringLiteral("mark.sh %password%"), kWaitRun, 5, -1);
    EXPECT_EQ(r.State, TExtProgState::epFailed);
    EXPECT_EQ(r.Code, 0);
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_EQ(Log(), before);
}

TEST_F(ExternalProgramsTest, ProgramWritesIntoTheReleasedLog)
{
    Form.LastLogFile = LogName;
    Script(QStringLiteral("note.sh"), "printf 'from the program\\r\\n' >> \"$1\"");
    Form.WriteToLog(1, QStringLiteral("before"));
    const TExtProgResult r = Run(QStringLiteral("note.sh %logfile%"), kWaitRun, 5, 0);
    EXPECT_EQ(r.State, TExtProgState::epDone);
    Form.WriteToLog(1, QStringLiteral("after"));
    const QString log = Log();
    const qsizetype b = log.indexOf(QStringLiteral("before")), p = log.indexOf(QStringLiteral("from the program")),
                    a = log.indexOf(QStringLiteral("after"));
    EXPECT_TRUE(b >= 0 && p > b && a > p) << log.toStdString();
}

TEST_F(ExternalProgramsTest, MissingProgramIsNotFound)
{
    vl::test::TMessageRecorder boxes;
    boxes.Answer = mrNo;
    for (const QString &command : {QStringLiteral("/nonexistent/prog -x"), QStringLiteral("missing.sh"),
                                   QStringLiteral("velkor-no-such-command arg")}) {
        const TExtProgResult r = Run(command, kWaitRun, 5, -1, TInteraction::iaErrorPrompt);
        EXPECT_EQ(r.State, TExtProgState::epNotFound) << command.toStdString();
        EXPECT_TRUE(Log().contains(QStringLiteral("  ### External program not found: ") + command));
        EXPECT_EQ(boxes.Texts.last(), QStringLiteral("External program not found:\r\n") + command);
    }
}

TEST_F(ExternalProgramsTest, DisabledOrEmptyCommandDoesNothing)
{
    const QString marker = TaskDir + QStringLiteral("/ran");
    Script(QStringLiteral("mark.sh"), "touch '" + marker.toUtf8() + "'");
    EXPECT_EQ(Run(QStringLiteral("mark.sh"), 0, 5, -1).State, TExtProgState::epNotRun);
    EXPECT_EQ(Run(QString(), kWaitRun, 5, -1).State, TExtProgState::epNotRun);
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_EQ(Run(QStringLiteral("mark.sh"), kWaitRun, 5, -1).State, TExtProgState::epDone);
    EXPECT_TRUE(QFileInfo::exists(marker));
}

TEST_F(ExternalProgramsTest, CommandKinds)
{
    Script(QStringLiteral("my script.sh"), "exit 0");
    WriteBytes(TaskDir + QStringLiteral("/plain.SH"), "exit 3\n"); // no execute bit
    WriteBytes(TaskDir + QStringLiteral("/app.desktop"), "[Desktop Entry]\n");
    struct TCase {
        QString Command;
        bool Found;
        int Kind;
        bool Console;
    };
    const TCase cases[] = {
        {QStringLiteral("\"my script.sh\" %dest%"), true, kExtCmdScript, true},
        {QStringLiteral("plain.SH"), true, kExtCmdScript, false},
        {QStringLiteral("app.desktop"), true, kExtCmdShortcut, false},
        {QStringLiteral("sh -c true"), true, kExtCmdProgram, true},
        {QStringLiteral("other.sh"), false, kExtCmdScript, false},
    };
    for (const TCase &c : cases) {
        bool console = !c.Console;
        int kind = -1;
        EXPECT_EQ(CheckExternalCommand(c.Command, console, kind), c.Found) << c.Command.toStdString();
        EXPECT_EQ(kind, c.Kind) << c.Command.toStdString();
        EXPECT_EQ(console, c.Console) << c.Command.toStdString();
    }
    // A script without execute bit is read by the shell; a path with a
    // blank runs.
    EXPECT_EQ(Run(QStringLiteral("plain.SH"), kWaitRun, 9, -1).Code, 3);
    EXPECT_EQ(Run(QStringLiteral("\"my script.sh\" a"), kWaitRun, 9, -1).State, TExtProgState::epDone);
}
