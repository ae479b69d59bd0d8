#include "app/RunDispatch.h"

#include "core/Format.h"
#include "core/MessageService.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/TaskFiles.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "platform/FileNames.h"
#include "platform/System.h"

#include <array>
#include <thread>

namespace vl {

namespace {

const QString kEventSource = QStringLiteral("Velkor");

// Exit codes of the error-action mask, bit by bit.
constexpr std::array<int, 5> kMaskCodes = {1, 2, 3, 6, 4};

constexpr int kAbortedCode = 5;

// The failure of a power request: the box only where someone may answer
// it, the event-log entry wherever the log can be written.
void ReportPowerFailure(const TMainCommandLine &Cmd, const char *Format, uint32_t EventId, uint32_t Code,
                        QString Detail)
{
    if (Detail.isEmpty())
        Detail = SystemErrorMessage(Code);
    if (IsPromptInteraction(Cmd.InterActiveMode))
        ShowErrorBox(GuardedFormat(Tr(Format), Detail), 0);
    if (EventLogAvailable)
        WriteEventLog(kEventSource, eltError, 1, EventId, {Detail});
}

bool IsShellSpecial(QChar c)
{
    static const QString specials = QStringLiteral("$`\\\"';&|<>()*?[]{}#~!");
    return c.unicode() < 0x20 || c.unicode() == 0x7F || specials.contains(c);
}

} // namespace

// ---- After-run actions ----------------------------------------------------------

int CurrentActionCode(const TMainCommandLine &Cmd, const TDispatchState &State)
{
    if (!Cmd.AllowAction)
        return 0;
    if (State.DownTask)
        return Cmd.LogOffMode == TDownMode::dmLogOff ? 2 : 1;
    switch (Cmd.SuspendMode) {
    case TSuspendMode::smStandby: return 3;
    case TSuspendMode::smHibernate: return 4;
    case TSuspendMode::smNone: break;
    }
    return 0;
}

bool ErrorActionAllowed(uint32_t NoActionOnError, int ExitCode)
{
    if (ExitCode == kAbortedCode || NoActionOnError == 0)
        return true;
    for (size_t bit = 0; bit < kMaskCodes.size(); ++bit) {
        if ((NoActionOnError & (1u << bit)) && kMaskCodes[bit] == ExitCode)
            return false;
    }
    return true;
}

void SetAfterRunAction(TMainCommandLine &Cmd, TDispatchState &State, TBuResult Result)
{
    Cmd.LogOffMode = TDownMode::dmNone;
    Cmd.SuspendMode = TSuspendMode::smNone;
    if (ErrorActionAllowed(Cmd.NoActionOnError, ProgExitCode) && Result != TBuResult::brOK && Cmd.AllowAction) {
        switch (Result) {
        case TBuResult::brShutdown:
            Cmd.LogOffMode = State.IdleOffDispatch ? TDownMode::dmIdleOff : TDownMode::dmShutdown;
            break;
        case TBuResult::brLogOff: Cmd.LogOffMode = TDownMode::dmLogOff; break;
        case TBuResult::brStandby: Cmd.SuspendMode = TSuspendMode::smStandby; break;
        case TBuResult::brHibernate: Cmd.SuspendMode = TSuspendMode::smHibernate; break;
        default: break;
        }
    }
    // A suspension also clears an action due from before: LogOffMode is
    // none now, and a due action with no mode would log the user off.
    State.DownTask = Cmd.LogOffMode != TDownMode::dmNone;
    if (Cmd.SuspendMode != TSuspendMode::smNone)
        SuspendNow(Cmd);
}

bool ShutdownNow(const TMainCommandLine &Cmd)
{
    TPowerAction action = TPowerAction::TerminateSession;
    switch (Cmd.LogOffMode) {
    case TDownMode::dmPowerOff:
    case TDownMode::dmShutdown:
    case TDownMode::dmIdleOff:
    case TDownMode::dmHybrid: action = TPowerAction::PowerOff; break;
    case TDownMode::dmRestart: action = TPowerAction::Reboot; break;
    case TDownMode::dmNone:
    case TDownMode::dmLogOff: break;
    }
    QString detail;
    const uint32_t rc = RequestPowerAction(action, false, &detail);
    if (rc == 0)
        return true;
    ReportPowerFailure(Cmd, "Error on shutting down or logging off!\r\n%s", kEventShutdownFailed, rc, detail);
    return false;
}

bool SuspendNow(const TMainCommandLine &Cmd)
{
    // As SuspendComputer (no forced suspend, wake events kept), but with the
    // system's text of a refusal.
    const TPowerAction action =
        Cmd.SuspendMode == TSuspendMode::smHibernate ? TPowerAction::Hibernate : TPowerAction::Suspend;
    QString detail;
    const uint32_t rc = RequestPowerAction(action, false, &detail);
    if (rc == 0)
        return true;
    ReportPowerFailure(Cmd, "Error on suspending system!\r\n%s", kEventSuspendFailed, rc, detail);
    return false;
}

bool PerformDownTask(const TMainCommandLine &Cmd, const TDispatchState &State, int SessionCount)
{
    if (!State.DownTask)
        return false;
    // An idle shutdown must never end someone's session: unknown counts as busy.
    if (Cmd.LogOffMode == TDownMode::dmIdleOff && SessionCount != 0)
        return false;
    return ShutdownNow(Cmd);
}

bool LogTaskStartEvent(TInteraction Interaction, const QString &CmdTasks)
{
    if (!EventLogAvailable || !(IsQuietInteraction(Interaction) || StartedBy != 0))
        return false;
    return WriteEventLog(kEventSource, eltInformation, 1, kEventTaskStart, {CmdTasks}) == 0;
}

// ---- Child instances ------------------------------------------------------------

QString ChildInstanceOptions(TThreadPriority Priority, TInteraction Interaction, int StartedBy)
{
    static const char *const prompts[] = {"wait", "delay", "quiet", "error", "silent"};
    static const char *const apps[] = {"scheduler", "morvane", "vlstarter", "zuvivaze", "vavuz"};
    QString s;
    if (Interaction != TInteraction::iaNone)
        s += CmdLineTextSwitch(QStringLiteral("prompt"), QLatin1String(prompts[int(Interaction)]));
    if (Priority != TThreadPriority::tpNormal)
        s += CmdLineTextSwitch(QStringLiteral("speed"), Priority > TThreadPriority::tpNormal
                                                            ? QStringLiteral("fast")
                                                            : QStringLiteral("slow"));
    if (StartedBy >= 1 && StartedBy <= 5)
        s += CmdLineTextSwitch(QStringLiteral("startapp"), QLatin1String(apps[StartedBy - 1]));
    return s;
}

QString ChildCommandWord(const QString &Word)
{
    for (const QChar c : Word) {
        if (IsShellSpecial(c))
            return DecodeFileName(ShellQuote(EncodeFileName(Word)));
    }
    return QuoteIfHasBlank(Word);
}

namespace {

QString ChildSwitch(const QString &Name, const QString &Value)
{
    const QString word = QLatin1Char('/') + Name + QLatin1Char(':') + Value;
    for (const QChar c : word) {
        if (IsShellSpecial(c))
            return QLatin1Char(' ') + ChildCommandWord(word);
    }
    return CmdLineTextSwitch(Name, Value);
}

} // namespace

QString ChildCommandPrefix(const QString &ExePath, const QString &IniFile, TThreadPriority Priority,
                           TInteraction Interaction, int StartedBy, const QString &LogDir)
{
    QString s = ChildCommandWord(ExePath) + CmdLineSwitch(QStringLiteral("force"))
                + CmdLineSwitch(QStringLiteral("noaction")) + ChildSwitch(QStringLiteral("ini"), IniFile)
                + CmdLineSwitch(QStringLiteral("hide")) + ChildInstanceOptions(Priority, Interaction, StartedBy);
    if (!LogDir.isEmpty())
        s += ChildSwitch(QStringLiteral("logdir"), LogDir);
    return s;
}

// ---- Parallel runs --------------------------------------------------------------

std::shared_ptr<TRunTasks> TRunTasks::Create(const QString &ACmdLine)
{
    auto runner = std::make_shared<TRunTasks>(ACmdLine);
    runner->Start();
    return runner;
}

TRunTasks::TRunTasks(const QString &ACmdLine) : FCmd(ACmdLine)
{
    Pause();
    FOnStartError = [](const QString &AText) { ShowErrorBox(AText, 0); };
}

bool TRunTasks::AddTask(const QString &AName)
{
    std::lock_guard<std::mutex> lock(FListLock);
    if (FEnded)
        return false;
    for (const TEntry &e : FTasks) {
        if (e.Name == AName)
            return true;
    }
    TEntry entry;
    entry.Name = AName;
    entry.Order = int(FCodes.size());
    FCodes << -1;
    FTasks << entry;
    return true;
}

void TRunTasks::SetStartErrorHandler(TStartErrorHandler AHandler)
{
    std::lock_guard<std::mutex> lock(FListLock);
    FOnStartError = std::move(AHandler);
}

QString TRunTasks::ChildCommand(int Number, const QString &TaskPath) const
{
    return FCmd + CmdLineIntSwitch(QStringLiteral("xinst"), Number) + QLatin1Char(' ') + ChildCommandWord(TaskPath);
}

int TRunTasks::ExitCode() const
{
    std::lock_guard<std::mutex> lock(FListLock);
    for (const int code : FCodes) {
        if (code > 0)
            return code;
    }
    return 0;
}

QStringList TRunTasks::StartErrors() const
{
    std::lock_guard<std::mutex> lock(FListLock);
    return FStartErrors;
}

int TRunTasks::ChildExitCode(uint32_t WaitResult)
{
    if (WaitResult == 0)
        return 0;
    if (WaitResult & kExitCodeBit) {
        const int code = int(WaitResult & ~kExitCodeBit);
        return code > 128 ? kAbortedCode : code;
    }
    return kAbortedCode; // the wait itself failed: the outcome is unknown
}

int TRunTasks::FreeNumber() const
{
    // The lowest number no running child holds: it places the child's
    // progress window, so two running children never share one.
    for (int n = 1;; ++n) {
        bool used = false;
        for (const TEntry &e : FTasks)
            used = used || (e.Process && e.Number == n);
        if (!used)
            return n;
    }
}

void TRunTasks::StartEntry(TEntry &Entry)
{
    Entry.Number = FreeNumber();
    try {
        Entry.Process = StartProcess(ChildCommand(Entry.Number, Entry.Name), QString());
    } catch (const EProcessError &e) {
        const QString text = GuardedFormat(Tr("Error on starting Velkor: %s"), e.Message());
        FStartErrors << text;
        FCodes[Entry.Order] = kAbortedCode;
        // The box belongs to the owning thread; this thread only posts it.
        Queue([handler = FOnStartError, text] {
            if (handler)
                handler(text);
        });
    }
}

void TRunTasks::Execute()
{
    for (;;) {
        WaitIfPaused();
        {
            std::lock_guard<std::mutex> lock(FListLock);
            // The owner may have closed the gate and changed the list
            // between the wait and the lock: the pass waits for it to open.
            if (Paused() && !Terminated())
                continue;
            for (TEntry &e : FTasks) {
                if (e.Number == 0 && !Terminated())
                    StartEntry(e);
            }
            for (TEntry &e : FTasks) {
                if (!e.Process)
                    continue;
                const uint32_t rc = WaitForProcess(e.Process, 100, false);
                if (rc != WAIT_TIMEOUT) { // the wait has released the handle
                    FCodes[e.Order] = ChildExitCode(rc);
                    e.Process.reset();
                }
            }
            // Ended and failed entries go; so do those a termination kept
            // from starting, which did not run and so count as failed.
            for (const TEntry &e : FTasks) {
                if (e.Number == 0)
                    FCodes[e.Order] = kAbortedCode;
            }
            FTasks.removeIf([](const TEntry &e) { return !e.Process; });
            if (FTasks.isEmpty()) {
                FEnded = true;
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

int AddParallelTasks(TRunTasks &Runner, const QString &CmdTasks)
{
    int added = 0;
    QString rest = CmdTasks;
    while (!rest.trimmed().isEmpty()) {
        const QString item = SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"'));
        if (item.isEmpty())
            continue;
        const QString path = ExpandTaskFileName(item, QStringLiteral("buj"));
        if (XlFileExists(path, true) && Runner.AddTask(path))
            ++added;
    }
    return added;
}

void FreeRunTasks(std::shared_ptr<TRunTasks> &Runner)
{
    if (!Runner)
        return;
    Runner->Terminate();
    Runner->WaitFor(-1);
    // WaitFor may return before running what the runner posted last.
    ProcessMessages();
    Runner.reset();
}

} // namespace vl
