#include "app/RunDispatch.h"

#include "core/MessageService.h"
#include "core/Settings.h"

#include "common/TestUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;
using test::TScopedEnv;
using test::WriteBytes;

using D = TDownMode;
using S = TSuspendMode;

// Records the boxes shown and the thread that showed them.
class TRecordingService : public THeadlessMessageService {
public:
    TRecordingService() { SetMessageService(this); }
    ~TRecordingService() override { SetMessageService(nullptr); }
    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Boxes << AHint;
        Threads.push_back(std::this_thread::get_id());
        return mrOk;
    }
    QStringList Boxes;
    std::vector<std::thread::id> Threads;
};

QString ReadText(const QString &Path)
{
    return QFileInfo::exists(Path) ? QString::fromUtf8(ReadBytes(Path)) : QString();
}

// ---- Action codes and after-run actions -----------------------------------------

TEST(RunDispatch, CurrentActionCodeFollowsDueAction)
{
    struct Case {
        bool Allow, Down;
        D Mode;
        S Suspend;
        int Code;
    } const cases[] = {
        {false, true, D::dmShutdown, S::smNone, 0},   {false, false, D::dmNone, S::smStandby, 0},
        {true, true, D::dmLogOff, S::smNone, 2},      {true, true, D::dmShutdown, S::smNone, 1},
        {true, true, D::dmPowerOff, S::smStandby, 1}, {true, true, D::dmHybrid, S::smNone, 1},
        {true, false, D::dmShutdown, S::smStandby, 3}, {true, false, D::dmNone, S::smHibernate, 4},
        {true, false, D::dmLogOff, S::smNone, 0},
    };
    for (const Case &c : cases) {
        TMainCommandLine cmd;
        cmd.AllowAction = c.Allow;
        cmd.LogOffMode = c.Mode;
        cmd.SuspendMode = c.Suspend;
        TDispatchState state;
        state.DownTask = c.Down;
        EXPECT_EQ(CurrentActionCode(cmd, state), c.Code) << c.Allow << c.Down << int(c.Mode) << int(c.Suspend);
    }
}

TEST(RunDispatch, ErrorActionMaskSuppressesMarkedCodesOnly)
{
    struct Case {
        uint32_t Mask;
        int ExitCode;
        bool Allowed;
    } const cases[] = {
        {0, 4, true},   {16, 4, false}, {16, 5, true}, {31, 5, true}, {1, 1, false}, {2, 2, false},
        {4, 3, false},  {8, 6, false},  {8, 3, true},  {16, 1, true}, {31, 0, true}, {31, 7, true},
        {15, 4, true},  {31, 6, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ErrorActionAllowed(c.Mask, c.ExitCode), c.Allowed) << c.Mask << " " << c.ExitCode;
}

TEST(RunDispatch, SetAfterRunActionChoosesTheRequestedAction)
{
    struct Case {
        TBuResult Result;
        bool Allow, IdleOff;
        uint32_t Mask;
        int ExitCode;
        D StartMode;
        D Mode;
        S Suspend;
        bool Down;
        const char *Request; // dry-run line of an immediate suspension
    } const cases[] = {
        {TBuResult::brShutdown, true, true, 0, 0, D::dmIdleOff, D::dmIdleOff, S::smNone, true, ""},
        // "end:poweroff" and a run asking for a shutdown: a shutdown.
        {TBuResult::brShutdown, true, false, 0, 0, D::dmPowerOff, D::dmShutdown, S::smNone, true, ""},
        {TBuResult::brShutdown, true, false, 16, 4, D::dmShutdown, D::dmNone, S::smNone, false, ""},
        {TBuResult::brShutdown, true, false, 31, 5, D::dmShutdown, D::dmShutdown, S::smNone, true, ""},
        {TBuResult::brShutdown, false, false, 0, 0, D::dmShutdown, D::dmNone, S::smNone, false, ""},
        {TBuResult::brLogOff, true, false, 0, 0, D::dmNone, D::dmLogOff, S::smNone, true, ""},
        {TBuResult::brOK, true, false, 0, 0, D::dmShutdown, D::dmNone, S::smNone, false, ""},
        {TBuResult::brError, true, false, 0, 5, D::dmShutdown, D::dmNone, S::smNone, false, ""},
        {TBuResult::brStandby, true, false, 0, 0, D::dmShutdown, D::dmNone, S::smStandby, false, "Suspend(false)\n"},
        {TBuResult::brHibernate, true, false, 0, 0, D::dmNone, D::dmNone, S::smHibernate, false,
         "Hibernate(false)\n"},
        {TBuResult::brStandby, true, false, 8, 6, D::dmNone, D::dmNone, S::smNone, false, ""},
    };
    const QString dir = MakeTempDir();
    int n = 0;
    for (const Case &c : cases) {
        const QString dryRun = dir + QStringLiteral("/power%1").arg(n++);
        TScopedEnv env{{"VELKOR_POWER_DRYRUN", dryRun}};
        TMainCommandLine cmd;
        cmd.AllowAction = c.Allow;
        cmd.NoActionOnError = c.Mask;
        cmd.LogOffMode = c.StartMode;
        cmd.SuspendMode = S::smStandby; // always replaced
        ProgExitCode = c.ExitCode;
        TDispatchState state;
        state.DownTask = true; // always replaced
        state.IdleOffDispatch = c.IdleOff;
        SetAfterRunAction(cmd, state, c.Result);
        SCOPED_TRACE(n);
        EXPECT_EQ(cmd.LogOffMode, c.Mode);
        EXPECT_EQ(cmd.SuspendMode, c.Suspend);
        EXPECT_EQ(state.DownTask, c.Down);
        EXPECT_EQ(ReadText(dryRun), QString::fromLatin1(c.Request));
    }
}

TEST(RunDispatch, ShutdownRequestsFollowTheMode)
{
    struct Case {
        D Mode;
        int Sessions;
        const char *Request;
    } const cases[] = {
        {D::dmPowerOff, 1, "PowerOff(false)\n"}, {D::dmShutdown, 1, "PowerOff(false)\n"},
        {D::dmHybrid, 1, "PowerOff(false)\n"},   {D::dmRestart, 1, "Reboot(false)\n"},
        {D::dmLogOff, 1, "TerminateSession(\"\")\n"},
        // An idle shutdown only when nobody is logged on, and never when unknown.
        {D::dmIdleOff, 0, "PowerOff(false)\n"},  {D::dmIdleOff, 1, ""}, {D::dmIdleOff, -1, ""},
    };
    const QString dir = MakeTempDir();
    int n = 0;
    for (const Case &c : cases) {
        const QString dryRun = dir + QStringLiteral("/power%1").arg(n++);
        TScopedEnv env{{"VELKOR_POWER_DRYRUN", dryRun}};
        TMainCommandLine cmd;
        cmd.LogOffMode = c.Mode;
        TDispatchState state;
        state.DownTask = true;
        EXPECT_EQ(PerformDownTask(cmd, state, c.Sessions), *c.Request != 0) << n;
        EXPECT_EQ(ReadText(dryRun), QString::fromLatin1(c.Request)) << n;
    }
    // Nothing due: nothing requested.
    const QString dryRun = dir + QStringLiteral("/none");
    TScopedEnv env{{"VELKOR_POWER_DRYRUN", dryRun}};
    TMainCommandLine cmd;
    cmd.LogOffMode = D::dmShutdown;
    EXPECT_FALSE(PerformDownTask(cmd, TDispatchState{}, 0));
    EXPECT_FALSE(QFileInfo::exists(dryRun));
}

TEST(RunDispatch, FailedPowerRequestsAreReportedAndLogged)
{
    const QString dir = MakeTempDir();
    const QString events = dir + QStringLiteral("/events");
    // A dry-run file in a missing folder: every request fails.
    TScopedEnv env{{"VELKOR_POWER_DRYRUN", dir + QStringLiteral("/missing/power")},
                   {"VELKOR_EVENTLOG", events}};
    EventLogAvailable = true;
    TRecordingService boxes;

    TMainCommandLine cmd;
    cmd.LogOffMode = D::dmShutdown;
    cmd.InterActiveMode = TInteraction::iaPrompt;
    EXPECT_FALSE(ShutdownNow(cmd));
    cmd.SuspendMode = S::smHibernate;
    EXPECT_FALSE(SuspendNow(cmd));
    // A quiet run shows no box but still logs.
    cmd.InterActiveMode = TInteraction::iaQuiet;
    EXPECT_FALSE(SuspendNow(cmd));

    ASSERT_EQ(boxes.Boxes.size(), 2);
    EXPECT_TRUE(boxes.Boxes[0].startsWith(QStringLiteral("Error on shutting down or logging off!\r\n")));
    EXPECT_GT(boxes.Boxes[0].size(), 40); // the system's message follows
    EXPECT_TRUE(boxes.Boxes[1].startsWith(QStringLiteral("Error on suspending system!\r\n")));
    const QStringList lines = ReadText(events).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" 1 0xC0000012: "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" 1 0xC0000013: ")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral(" 1 0xC0000013: ")));
}

TEST(RunDispatch, TaskStartEventOnlyForQuietOrForeignStarts)
{
    struct Case {
        bool Available;
        TInteraction Ia;
        int By;
        bool Written;
    } const cases[] = {
        {true, TInteraction::iaQuiet, 0, true},      {true, TInteraction::iaQuietError, 0, true},
        {true, TInteraction::iaPrompt, 1, true},     {true, TInteraction::iaDelay, 0, false},
        {true, TInteraction::iaErrorPrompt, 0, false}, {false, TInteraction::iaQuiet, 3, false},
    };
    const QString dir = MakeTempDir();
    int n = 0;
    for (const Case &c : cases) {
        const QString events = dir + QStringLiteral("/events%1").arg(n++);
        TScopedEnv env{{"VELKOR_EVENTLOG", events}};
        EventLogAvailable = c.Available;
        StartedBy = c.By;
        EXPECT_EQ(LogTaskStartEvent(c.Ia, QStringLiteral("Daily,Weekly")), c.Written) << n;
        const QString text = ReadText(events);
        EXPECT_EQ(text.contains(QStringLiteral(" 1 0x4000000A: Daily,Weekly")), c.Written)
            << text.toStdString();
    }
}

// ---- Child command lines --------------------------------------------------------

TEST(RunDispatch, ChildInstanceOptionsTable)
{
    using P = TThreadPriority;
    using I = TInteraction;
    struct Case {
        P Priority;
        I Ia;
        int By;
        const char *Text;
    } const cases[] = {
        {P::tpNormal, I::iaNone, 0, ""},
        {P::tpNormal, I::iaPrompt, 0, " /prompt:wait"},
        {P::tpNormal, I::iaDelay, 0, " /prompt:delay"},
        {P::tpNormal, I::iaQuiet, 0, " /prompt:quiet"},
        {P::tpNormal, I::iaErrorPrompt, 0, " /prompt:error"},
        {P::tpNormal, I::iaQuietError, 0, " /prompt:silent"},
        {P::tpHigher, I::iaNone, 0, " /speed:fast"},
        {P::tpTimeCritical, I::iaNone, 0, " /speed:fast"},
        {P::tpLowest, I::iaNone, 0, " /speed:slow"},
        {P::tpIdle, I::iaQuiet, 1, " /prompt:quiet /speed:slow /startapp:scheduler"},
        {P::tpNormal, I::iaNone, 2, " /startapp:morvane"},
        {P::tpNormal, I::iaNone, 3, " /startapp:vlstarter"},
        {P::tpNormal, I::iaNone, 4, " /startapp:zuvivaze"},
        {P::tpNormal, I::iaNone, 5, " /startapp:vavuz"},
        {P::tpNormal, I::iaNone, 6, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChildInstanceOptions(c.Priority, c.Ia, c.By), QString::fromLatin1(c.Text));
}

TEST(RunDispatch, ChildCommandLineOfTheDailyTask)
{
    TRunTasks runner(ChildCommandPrefix(QStringLiteral("/opt/Velkor 6/velkor"),
                                        QStringLiteral("/home/u/My Settings/Velkor.ini"), TThreadPriority::tpNormal,
                                        TInteraction::iaDelay, 0, QStringLiteral("/var/log/vl")));
    EXPECT_EQ(runner.ChildCommand(1, QStringLiteral("/home/u/Documents/Velkor/Daily.buj")),
              QStringLiteral("\"/opt/Velkor 6/velkor\" /force /noaction \"/ini:/home/u/My Settings/Velkor.ini\" /hide "
                             "/prompt:delay /logdir:/var/log/vl /xinst:1 /home/u/Documents/Velkor/Daily.buj"));
    // Characters the shell would act on are quoted so that it leaves them be.
    EXPECT_EQ(ChildCommandWord(QStringLiteral("/t/a $(x)`y` \"q\" it's.buj")),
              QStringLiteral("'/t/a $(x)`y` \"q\" it'\\''s.buj'"));
    EXPECT_EQ(ChildCommandWord(QStringLiteral("/t/Weekly job.buj")), QStringLiteral("\"/t/Weekly job.buj\""));
}

// ---- Parallel runs --------------------------------------------------------------

// A stand-in for the program: writes its arguments (one a line) to
// "<task>.args", waits a little ($VL_FAKE_SLEEP seconds, else 0.3) so the
// children overlap, then writes "<task>.done" and ends with the code
// written in the task file, or dies of SIGKILL for "kill".
struct TFakeProgram {
    QString Dir, Exe;
    TFakeProgram()
    {
        Dir = MakeTempDir();
        QDir(Dir).mkpath(QStringLiteral("Velkor bin"));
        Exe = Dir + QStringLiteral("/Velkor bin/velkor");
        WriteBytes(Exe, "#!/bin/sh\n"
                        "for a; do last=$a; done\n"
                        "printf '%s\\n' \"$@\" > \"$last.args\"\n"
                        "sleep \"${VL_FAKE_SLEEP:-0.3}\"\n"
                        "code=$(cat \"$last\")\n"
                        "[ \"$code\" = kill ] && kill -9 $$\n"
                        ": > \"$last.done\"\n"
                        "exit \"$code\"\n");
        ::chmod(QFile::encodeName(Exe).constData(), 0755);
    }
    QString Task(const QString &Name, const QByteArray &Code) const
    {
        const QString path = Dir + QLatin1Char('/') + Name;
        WriteBytes(path, Code);
        return path;
    }
    QStringList Args(const QString &Task) const
    {
        return ReadText(Task + QStringLiteral(".args")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

TEST(RunDispatch, ParallelRunStartsOneChildPerTask)
{
    TFakeProgram prog;
    TaskFolder = prog.Dir;
    const QString daily = prog.Task(QStringLiteral("Daily.buj"), "0");
    const QString weekly = prog.Task(QStringLiteral("Weekly job.buj"), "0");
    // A settings file whose name the shell would expand if left unquoted.
    const QString ini = prog.Dir + QStringLiteral("/set $HOME/Velkor.ini");
    auto runner = TRunTasks::Create(
        ChildCommandPrefix(prog.Exe, ini, TThreadPriority::tpNormal, TInteraction::iaDelay, 0, QString()));
    EXPECT_EQ(AddParallelTasks(*runner, QStringLiteral("Daily,\"Weekly job\",Missing")), 2);
    runner->SetPaused(false);
    ASSERT_TRUE(runner->WaitFor(20000));

    const QStringList common = {QStringLiteral("/force"), QStringLiteral("/noaction"), QStringLiteral("/ini:") + ini,
                                QStringLiteral("/hide"), QStringLiteral("/prompt:delay")};
    EXPECT_EQ(prog.Args(daily), common + QStringList({QStringLiteral("/xinst:1"), daily}));
    EXPECT_EQ(prog.Args(weekly), common + QStringList({QStringLiteral("/xinst:2"), weekly}));
    EXPECT_EQ(runner->ExitCode(), 0);
    EXPECT_TRUE(runner->StartErrors().isEmpty());
    // An ended runner takes nothing more: the owner must create a new one.
    EXPECT_FALSE(runner->AddTask(daily));
}

TEST(RunDispatch, ParallelRunEndsWithTheFirstFailureOfItsChildren)
{
    struct Case {
        QByteArray First, Second;
        int Code;
    } const cases[] = {
        {"0", "0", 0}, {"0", "3", 3}, {"4", "2", 4}, {"kill", "0", 5}, {"0", "6", 6},
    };
    for (const Case &c : cases) {
        TFakeProgram prog;
        auto runner = TRunTasks::Create(ChildCommandWord(prog.Exe));
        ASSERT_TRUE(runner->AddTask(prog.Task(QStringLiteral("a.buj"), c.First)));
        ASSERT_TRUE(runner->AddTask(prog.Task(QStringLiteral("b.buj"), c.Second)));
        runner->SetPaused(false);
        ASSERT_TRUE(runner->WaitFor(20000));
        EXPECT_EQ(runner->ExitCode(), c.Code) << c.First.constData() << " " << c.Second.constData();
    }
}

TEST(RunDispatch, GateHoldsStartsUntilOpened)
{
    TFakeProgram prog;
    const QString task = prog.Task(QStringLiteral("a.buj"), "0");
    auto runner = TRunTasks::Create(ChildCommandWord(prog.Exe));
    ASSERT_TRUE(runner->AddTask(task));
    ASSERT_TRUE(runner->AddTask(task)); // listed once
    EXPECT_FALSE(runner->WaitFor(400));
    EXPECT_FALSE(QFileInfo::exists(task + QStringLiteral(".args")));
    runner->SetPaused(false);
    ASSERT_TRUE(runner->WaitFor(20000));
    EXPECT_EQ(prog.Args(task).size(), 2); // "/xinst:1" and the task, one child
}

TEST(RunDispatch, ChildThatCannotStartIsReportedOnTheOwningThread)
{
    TFakeProgram prog;
    TRecordingService boxes;
    auto runner = TRunTasks::Create(prog.Dir + QStringLiteral("/no such program"));
    ASSERT_TRUE(runner->AddTask(prog.Task(QStringLiteral("a.buj"), "0")));
    ASSERT_TRUE(runner->AddTask(prog.Task(QStringLiteral("b.buj"), "0")));
    runner->SetPaused(false);
    ASSERT_TRUE(runner->WaitFor(20000));
    ProcessMessages(); // the reports posted last
    ASSERT_EQ(boxes.Boxes.size(), 2);
    EXPECT_TRUE(boxes.Boxes[0].startsWith(QStringLiteral("Error on starting Velkor: ")));
    EXPECT_GT(boxes.Boxes[0].size(), 30);
    for (const auto &id : boxes.Threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(runner->StartErrors(), boxes.Boxes);
    EXPECT_EQ(runner->ExitCode(), 5);
}

TEST(RunDispatch, FreeingWaitsForRunningChildrenAndStartsNoMore)
{
    TScopedEnv env{{"VL_FAKE_SLEEP", "2"}}; // the child outlasts the steps below
    TFakeProgram prog;
    const QString a = prog.Task(QStringLiteral("a.buj"), "0");
    const QString b = prog.Task(QStringLiteral("b.buj"), "0");
    auto runner = TRunTasks::Create(ChildCommandWord(prog.Exe));
    ASSERT_TRUE(runner->AddTask(a));
    runner->SetPaused(false);
    // Wait until the child runs, then close the gate and add a second task.
    for (int i = 0; i < 200 && !QFileInfo::exists(a + QStringLiteral(".args")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    runner->SetPaused(true);
    ASSERT_TRUE(runner->AddTask(b));
    std::shared_ptr<TRunTasks> keep = runner;
    FreeRunTasks(runner);
    EXPECT_FALSE(runner);
    EXPECT_TRUE(keep->Done());
    EXPECT_TRUE(QFileInfo::exists(a + QStringLiteral(".done")));
    EXPECT_FALSE(QFileInfo::exists(b + QStringLiteral(".args")));
    EXPECT_EQ(keep->ExitCode(), 5); // b never ran
}

} // namespace
} // namespace vl
