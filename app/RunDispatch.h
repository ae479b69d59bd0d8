// What the main program does around its runs: the action codes handed to
// the runs, the choice of the after-run action, the power and session
// actions at the end, the event-log entry of an unattended start, and the
// parallel runs of backup tasks in child instances of the program.
#pragma once

#include "app/CommandLine.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"
#include "engine/WinExecute.h"
#include "platform/Thread.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vl {

// ---- After-run actions ----------------------------------------------------------

// Event numbers of the entries written here.
inline constexpr uint32_t kEventTaskStart = 0x4000000A;
inline constexpr uint32_t kEventShutdownFailed = 0xC0000012;
inline constexpr uint32_t kEventSuspendFailed = 0xC0000013;

// The dispatch's own part of the after-run state; the rest (AllowAction,
// LogOffMode, SuspendMode, NoActionOnError, InterActiveMode) are the
// command line's fields, and the exit code is ProgExitCode.
struct TDispatchState {
    // A shutdown, restart, log-off, power-off or hybrid action is due when
    // the program ends.
    bool DownTask = false;
    // LogOffMode was dmIdleOff when the dispatch began: a shutdown asked
    // for by a run then stays an idle shutdown.
    bool IdleOffDispatch = false;
};

// The action code handed to a run: 0 when actions are off; with a due
// DownTask 2 for dmLogOff, 1 for any other mode; else 3 standby,
// 4 hibernate, 0 none.
int CurrentActionCode(const TMainCommandLine &Cmd, const TDispatchState &State);

// False when a set bit of the mask (1, 2, 4, 8, 16 for the exit codes 1, 2,
// 3, 6, 4) names ExitCode; code 5 and mask 0 never suppress the action.
bool ErrorActionAllowed(uint32_t NoActionOnError, int ExitCode);

// Replaces the pending action by the one the run asked for (none unless
// ErrorActionAllowed for ProgExitCode, AllowAction and a result other than
// brOK); a suspension is performed at once (SuspendNow), any other action
// becomes due (DownTask, cleared when no action is chosen).
void SetAfterRunAction(TMainCommandLine &Cmd, TDispatchState &State, TBuResult Result);

// The power or session action of LogOffMode, requested from logind:
// dmPowerOff, dmShutdown, dmIdleOff and dmHybrid power the machine off
// (Linux has no hybrid shutdown; fast start-up has no meaning here),
// dmRestart reboots, any other mode ends the user's session. On failure:
// the error box (prompting interactions only) and the event-log entry;
// false.
bool ShutdownNow(const TMainCommandLine &Cmd);
// Standby, or hibernation for smHibernate. Failure as ShutdownNow.
bool SuspendNow(const TMainCommandLine &Cmd);
// The action due at the end of the program: ShutdownNow when DownTask is
// set, for dmIdleOff only when no interactive session is left
// (SessionCount 0; -1, sessions unknown, never shuts down). False when
// nothing was done or the request failed.
bool PerformDownTask(const TMainCommandLine &Cmd, const TDispatchState &State, int SessionCount);

// Writes the information entry (category 1, kEventTaskStart) with the
// task list when the event log is available and the start is quiet or was
// made by another program (StartedBy); true when written.
bool LogTaskStartEvent(TInteraction Interaction, const QString &CmdTasks);

// ---- Child instances ------------------------------------------------------------

// " /prompt:" + wait, delay, quiet, error or silent (nothing for iaNone),
// " /speed:fast" or " /speed:slow" for a priority above or below normal,
// " /startapp:" + the starting program for StartedBy 1 to 5.
QString ChildInstanceOptions(TThreadPriority Priority, TInteraction Interaction, int StartedBy);

// A word of the child's shell command line: as it stands, in double quotes
// when it holds a blank, and in single quotes (ShellQuote) when it holds a
// character the shell would act on ($, `, \, ", ', ;, &, |, ...), so no file
// name can run or change anything.
QString ChildCommandWord(const QString &Word);

// The command prefix of the children of a parallel run: the program, then
// " /force /noaction", " /ini:" + IniFile, " /hide", ChildInstanceOptions
// and, when LogDir is not empty, " /logdir:" + LogDir.
QString ChildCommandPrefix(const QString &ExePath, const QString &IniFile, TThreadPriority Priority,
                           TInteraction Interaction, int StartedBy, const QString &LogDir);

// ---- Parallel runs --------------------------------------------------------------

// Runs each task file in a child instance of its own, all at once. Created
// with the gate closed; the owner adds tasks and opens the gate. Each pass
// (only while the gate is open) starts the tasks not yet started, polls the
// running children (100 ms each), drops the ended ones and sleeps 100 ms;
// the runner ends when no entry is left.
//
// The list is guarded: a pass holds it from start to end, so AddTask waits
// for a pass in progress and never changes the list under it.
//
// The exit code of the run is the first nonzero code of its children in
// the order they were added, 0 only when every child returned 0. A child
// that died of a signal (code above 128, as the shell reports it), could
// not be waited for, or could not be started counts as 5 (aborted due to
// an error). A start failure is also reported to the owner: the text
// "Error on starting Velkor: %s" is posted to the owning thread and handed
// to the start-error handler there (the error box unless replaced) when the
// owner processes messages, and is kept in StartErrors. WaitFor can return
// just before the last report has run: the owner processes messages once
// more after the runner is done.
//
// Terminate (also by FreeRunTasks) starts nothing further; the children
// already running are still waited for.
class TRunTasks : public TThread {
public:
    using TStartErrorHandler = std::function<void(const QString &AText)>;

    // Started, with the gate closed.
    static std::shared_ptr<TRunTasks> Create(const QString &ACmdLine);
    explicit TRunTasks(const QString &ACmdLine);

    // Appends AName unless it is listed (case-sensitive, the file system is).
    // False when the runner has already ended: the caller creates a new one.
    bool AddTask(const QString &AName);
    // TThread::SetPaused: true closes the gate, false opens it; ignored once
    // the runner is done or when unchanged.

    // Runs on the owning thread; set before the gate opens.
    void SetStartErrorHandler(TStartErrorHandler AHandler);

    // The command line of a child: the prefix, " /xinst:" + Number, and the
    // task path.
    QString ChildCommand(int Number, const QString &TaskPath) const;

    // Read after Done().
    int ExitCode() const;
    QStringList StartErrors() const;

    // The code a child's wait result counts as (see above).
    static int ChildExitCode(uint32_t WaitResult);

protected:
    void Execute() override;

private:
    struct TEntry {
        QString Name;
        int Order = 0;   // position in the order of adding, for the exit code
        int Number = 0;  // "/xinst:" number while it runs, 0 before the start
        TProcessHandle Process;
    };

    void StartEntry(TEntry &Entry);
    int FreeNumber() const;

    const QString FCmd;
    mutable std::mutex FListLock;
    QList<TEntry> FTasks;
    QList<int> FCodes; // by Order; -1 while not ended
    QStringList FStartErrors;
    TStartErrorHandler FOnStartError;
    bool FEnded = false;
};

// Adds the comma-separated task list (quoted items allowed) to Runner:
// each item expanded as a backup task file (ExpandTaskFileName, ".buj");
// missing files are skipped. The number of files added.
int AddParallelTasks(TRunTasks &Runner, const QString &CmdTasks);

// Frees a runner: nothing further is started, the children still running
// are waited for (processing the owning thread's messages), then Runner is
// reset.
void FreeRunTasks(std::shared_ptr<TRunTasks> &Runner);

} // namespace vl
