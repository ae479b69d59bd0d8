#include "app/OwnSchedules.h"

#include "backup/BackupForm.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/TaskFiles.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

constexpr TDateTime kOneSecond = 1.0 / 86400;
constexpr TDateTime kTenthSecond = 0.1 / 86400;
constexpr TDateTime kOneMinute = 1.0 / 1440;
constexpr int kCycleNotStarted = 1000;

TDateTime DateOf(TDateTime T)
{
    return std::floor(T);
}

TDateTime TimeOf(TDateTime T)
{
    return T - std::floor(T);
}

TDateTime MondayOfWeek(TDateTime T)
{
    return DateOf(T) - (IsoWeekday(T) - 1);
}

// A damaged settings file can hold 0 steps; a cycle has at least one.
int CycleLength(const TSchedule &s)
{
    return std::max(s.NumZyk, 1);
}

bool WholeWeeks(const TSchedule &s)
{
    return s.StepMode == 1 && s.NumZyk > 0 && s.NumZyk % 7 == 0;
}

// ATime after Monday 00:00 of the week that follows the week of ALast.
bool NewWeekSince(TDateTime ALast, TDateTime ATime)
{
    return ATime > MondayOfWeek(ALast) + 7;
}

TInteraction OrAutoEnd(TInteraction AInterAct, const TAutoTask &ATask)
{
    return AInterAct == TInteraction::iaNone ? ATask.AutoEnd : AInterAct;
}

} // namespace

TOwnSchedules::TOwnSchedules(TAutoTaskArray &AAutoTasks, TBackupForm &AForm) : AutoTasks(AAutoTasks), FForm(AForm)
{
    DoBackupJob = [this](int Nr, TInteraction InterAct, TThreadPriority Priority, const QString &ATaskPath) {
        return FForm.DoBackupJob(Nr, InterAct, Priority, ATaskPath);
    };
}

TBuStatus &TOwnSchedules::BuStatus()
{
    return FForm.BuStatus;
}

void TOwnSchedules::SetExitCode(int AExitCode, int ATaskNr)
{
    ProgExitCode = AExitCode;
    FailedTask = ATaskNr;
}

// ---- Alternating schedule ----

int TOwnSchedules::GetScheduleStep(int AIndex, TAutoStart AKind, TDateTime ADay)
{
    TAutoTask &e = AutoTasks[size_t(AIndex)];
    TSchedule &s = e.SchedProps;
    const int n = CycleLength(s);
    switch (s.StepMode) {
    case 1: {
        // One step per day; manual runs (kind asLogon) and logoff runs may
        // repeat a day.
        if (DateOf(e.LastTime) >= DateOf(ADay) && AKind != TAutoStart::asLogon && AKind != TAutoStart::asLogoff)
            return kStepNotDue;
        if (!WholeWeeks(s))
            return s.AktZyk % n + 1;
        const int d = IsoWeekday(ADay);
        if (s.LastZyk == kCycleNotStarted)
            return s.SchedMode == TSchedMode::smNormal || d == s.FullZyk + 1 ? kStepExplicit + d : kStepNotDue;
        if (ADay + TimeOf(e.NextTime) <= e.LastTime)
            return kStepNotDue;
        if (s.WeekZyk * 7 + d != s.LastZyk && d < s.AktZyk) // a new week began
            s.WeekZyk = (s.WeekZyk + 1) % (s.NumZyk / 7);
        return kStepExplicit + d + 7 * s.WeekZyk;
    }
    case 2:
        if (s.LastZyk == kCycleNotStarted || !NewWeekSince(e.LastTime, ADay + kOneSecond))
            return kStepExplicit + s.AktZyk;
        return kStepExplicit + s.AktZyk % n + 1;
    case 3:
        if (s.LastZyk == kCycleNotStarted)
            return kStepExplicit + s.AktZyk;
        if (e.BuProcess == TAutoStart::asLogon || e.BuProcess == TAutoStart::asDaily ||
            e.BuProcess == TAutoStart::asLogoff)
            return NewWeekSince(e.LastTime, ADay + kOneSecond) ? kStepExplicit + s.AktZyk % n + 1 : kStepNotDue;
        if (IsoWeekday(ADay + kOneSecond) > FirstWeekdayOfMask(e.WeekDay))
            return kStepNotDue;
        return kStepExplicit + s.AktZyk % n + 1;
    default:
        return kStepNone;
    }
}

int TOwnSchedules::ApplyScheduleStep(int AIndex, int ACode)
{
    if (ACode <= kStepExplicit)
        return ACode;
    TSchedule &s = AutoTasks[size_t(AIndex)].SchedProps;
    if (s.StepMode > 0)
        s.AktZyk = ACode & 4095;
    return s.StepMode == 1 ? s.AktZyk + 1 : ACode;
}

void TOwnSchedules::SetScheduleStep(int AIndex, int ACode)
{
    TSchedule &s = AutoTasks[size_t(AIndex)].SchedProps;
    if (ACode <= 0 || s.StepMode <= 0)
        return;
    if (WholeWeeks(s)) {
        // Between runs AktZyk holds the weekday of the last run.
        s.WeekZyk = (s.AktZyk - 1) / 7;
        s.AktZyk = (s.AktZyk - 1) % 7 + 1;
    } else
        s.AktZyk = ((ACode & 4095) - 1) % CycleLength(s) + 1;
}

bool TOwnSchedules::FullBackupMissed(int AIndex, TDateTime ADay) const
{
    const TAutoTask &e = AutoTasks[size_t(AIndex)];
    const TSchedule &s = e.SchedProps;
    // Without steps the run never uses the schedule: an extra run would
    // only repeat it.
    if (s.SchedMode == TSchedMode::smNormal || s.StepMode <= 0)
        return false;
    if (!WholeWeeks(s)) {
        const int n = CycleLength(s);
        return (s.LastZyk - 1) / n != (s.AktZyk - 1) / n && s.AktZyk % n != 1;
    }
    const int d = IsoWeekday(ADay);
    const int f = s.FullZyk + 1;
    if (d == f || s.LastZyk == kCycleNotStarted)
        return false;
    if (s.LastZyk == 0)
        return true;
    // A week or more since the last run passed every weekday.
    if (e.LastTime > 0 && DateOf(ADay) - DateOf(e.LastTime) >= 7)
        return true;
    // Otherwise the full-backup weekday was passed when it lies after the
    // last run's weekday and before today, going forward through the week
    // (across its end when today's weekday is not after the last run's).
    const int l = ((s.LastZyk - 1) % 7 + 7) % 7 + 1;
    if (d > l)
        return l < f && f < d;
    if (d < l)
        return f > l || f < d;
    // Same weekday as the last run: a week later, unless it is the same day.
    return e.LastTime > 0 && DateOf(e.LastTime) < DateOf(ADay);
}

void TOwnSchedules::RunMissedFullBackup(int AIndex, TInteraction AInterAct, TDateTime ADay)
{
    if (!FullBackupMissed(AIndex, ADay))
        return;
    TAutoTask &e = AutoTasks[size_t(AIndex)];
    TSchedule &s = e.SchedProps;
    const int keepStep = s.AktZyk;
    const TDateTime keepLast = e.LastTime;
    const bool twice = s.SchedMode == TSchedMode::smDiff2 || s.SchedMode == TSchedMode::smIncr2;
    if (WholeWeeks(s)) {
        const int d = IsoWeekday(ADay);
        const int f = s.FullZyk + 1;
        int week = 0;
        if (twice) {
            // The full backup of the half cycle in which the passed full
            // day lies: this week's when it is before today, else last
            // week's. Only an even number of weeks puts the second full
            // backup on the full-backup weekday.
            const int weeks = s.NumZyk / 7;
            const int passed = f > d ? (s.WeekZyk + weeks - 1) % weeks : s.WeekZyk % weeks;
            week = weeks % 2 == 0 && passed >= weeks / 2 ? weeks / 2 : 0;
        }
        s.AktZyk = week * 7 + f;
    } else if (twice && s.NumZyk >= 6) {
        // The first step of the current half cycle is a full backup.
        const int half = s.NumZyk / 2;
        const int step = ((s.AktZyk - 1) % s.NumZyk + s.NumZyk) % s.NumZyk;
        s.AktZyk = step / half * half + 1;
        if (s.AktZyk > s.NumZyk) // odd cycles: the last step is no half
            s.AktZyk = 1;
    } else
        s.AktZyk = 1;
    DoBackupJob(AIndex + 1, OrAutoEnd(AInterAct, e), e.ThPr, e.TaskPath);
    s.AktZyk = keepStep;
    e.LastTime = keepLast;
}

TDateTime TOwnSchedules::NextScheduledDay(uint32_t AMask, bool IncludeToday, TDateTime ADate)
{
    // The week of ADate + 1 s, as its weekday: a time a fraction of a second
    // before midnight belongs to the next day.
    const TDateTime t = ADate + kOneSecond;
    const int d = IsoWeekday(t);
    int k = IncludeToday ? d - 1 : d;
    for (int i = 0; i < 7 && !((AMask >> (k % 7)) & 1); ++i)
        ++k;
    return MondayOfWeek(t) + k + TimeOf(ADate);
}

int TOwnSchedules::FirstWeekdayOfMask(uint32_t AMask)
{
    for (int i = 0; i < 7; ++i)
        if ((AMask >> i) & 1)
            return i + 1;
    return 0;
}

// ---- Runs ----

TBuResult TOwnSchedules::RunJob(int i, TInteraction AInterAct)
{
    const TAutoTask &e = AutoTasks[size_t(i)];
    TBuResult r;
    do
        r = DoBackupJob(i + 1, AInterAct, e.ThPr, e.TaskPath);
    while (r == TBuResult::brRepeat);
    return r;
}

TBuResult TOwnSchedules::RunEntry(int i, TAutoStart AKind, TDateTime ADay, TInteraction AInterAct, TPath APath,
                                  const std::function<void(TAutoTask &)> &AOnSuccess, bool ASaveWhenNotDue)
{
    TAutoTask &e = AutoTasks[size_t(i)];
    const TInteraction ia = OrAutoEnd(AInterAct, e);
    // A failed run leaves the step as it was: the week advance and the
    // step applied for it would otherwise be counted again by the next run.
    const int keepAkt = e.SchedProps.AktZyk;
    const int keepWeek = e.SchedProps.WeekZyk;
    int code = GetScheduleStep(i, AKind, ADay);
    if (APath == TPath::Manual) {
        if (code > 0) {
            RunMissedFullBackup(i, ia, ADay);
            code = ApplyScheduleStep(i, code);
        }
    } else {
        if (code < 0) {
            if (ASaveWhenNotDue && SaveAutoTaskState)
                SaveAutoTaskState(i);
            return TBuResult::brOK;
        }
        if (APath != TPath::ScheduledLogoff || code > 0)
            RunMissedFullBackup(i, ia, ADay);
        code = ApplyScheduleStep(i, code);
    }
    const TBuResult r = RunJob(i, ia);
    if (r != TBuResult::brError) {
        if (AOnSuccess)
            AOnSuccess(e);
        SetScheduleStep(i, code);
    } else {
        e.SchedProps.AktZyk = keepAkt;
        e.SchedProps.WeekZyk = keepWeek;
    }
    if (SaveAutoTaskState)
        SaveAutoTaskState(i);
    return r;
}

TBuResult TOwnSchedules::RunAutoTasks(QString ATasks, int AKind, TThreadPriority APriority, TInteraction AInterAct,
                                      TDateTime ANow)
{
    // One-click backup of a folder (/dir:) without a task: the default task.
    if (!FForm.ReplSourceDir.isEmpty() && ATasks.isEmpty()) {
        const QString def = VlSettings.OtherSettings.DefaultTask;
        QString picked;
        if (!def.isEmpty() && XlFileExists(ExpandTaskFileName(def, QStringLiteral("buj")), true))
            ATasks = QuoteIfContainsChar(def, QStringLiteral(",\""));
        else if (ConfirmBox(Tr("Until now, no default task for one-click backup "
                               "was specified!\r\nSelect a task?")) &&
                 GetDefaultTask && GetDefaultTask(picked) && !picked.isEmpty()) {
            ATasks = QuoteIfContainsChar(picked, QStringLiteral(",\""));
            VlSettings.OtherSettings.DefaultTask = picked;
            if (SaveDefaultTask)
                SaveDefaultTask(picked);
        }
    }
    QString firstFile;
    if (!ATasks.isEmpty() && !ATasks.startsWith(QLatin1Char('#'))) {
        QString rest = ATasks;
        firstFile =
            ExpandTaskFileName(SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"')), QStringLiteral("buj"));
    }
    SetExitCode(0, 0);
    const TDateTime today = DateOf(ANow);

    switch (AKind) {
    case kRunEdit:
        if (!firstFile.isEmpty() && EditBackupTask)
            EditBackupTask(firstFile, 0);
        return TBuResult::brOK;
    case kRunGiven:
        ScheduleTimerEnabled = false;
        if (ATasks.isEmpty())
            return TBuResult::brOK;
        if (ATasks.startsWith(QLatin1Char('#'))) {
            // At most two digits, up to a ",": "#123" is entry 12.
            bool ok = false;
            const int n = ATasks.mid(1, 2).section(QLatin1Char(','), 0, 0).toInt(&ok);
            return RunEntryList(ok ? n : -1, AInterAct, today);
        }
        return RunTaskNames(ATasks, APriority, AInterAct);
    case kRunAtLogoff:
        ScheduleTimerEnabled = false;
        return RunAtLogoff(ANow);
    default:
        return RunAtStart(ANow);
    }
}

// Every form of "#" runs its entries with AInterAct (iaNone: each entry's
// AutoEnd), the interaction the tray menu or the schedules page asked for.
TBuResult TOwnSchedules::RunEntryList(int n, TInteraction AInterAct, TDateTime AToday)
{
    if (n > int(AutoTasks.size()))
        return TBuResult::brOK;
    if (n > 0) {
        if (AutoTasks[size_t(n - 1)].TaskPath.isEmpty())
            return TBuResult::brOK;
        return RunEntry(n - 1, TAutoStart::asLogon, AToday, AInterAct, TPath::Manual);
    }
    TBuResult result = TBuResult::brOK;
    for (int i = 0; i < int(AutoTasks.size()); ++i) {
        const TAutoTask &e = AutoTasks[size_t(i)];
        if (e.TaskPath.isEmpty())
            continue;
        if (n == 0 ? e.BuProcess != TAutoStart::asByRequest || !e.WeekdayInSchedule(AToday) : !e.IsActive())
            continue;
        if (RunEntry(i, TAutoStart::asLogon, AToday, AInterAct, TPath::Manual) == TBuResult::brError)
            result = TBuResult::brError;
        if (BuStatus() == TBuStatus::bsCancelAll)
            break;
    }
    return result;
}

TBuResult TOwnSchedules::RunTaskNames(QString ATasks, TThreadPriority APriority, TInteraction AInterAct)
{
    const TInteraction ia = AInterAct == TInteraction::iaNone ? TInteraction::iaDelay : AInterAct;
    TBuResult result = TBuResult::brOK;
    while (!ATasks.isEmpty()) {
        const QString file =
            ExpandTaskFileName(SplitNextQuotedToken(ATasks, QLatin1Char(','), QLatin1Char('"')), QStringLiteral("buj"));
        if (file.isEmpty()) // "a,,b": nothing between the commas
            continue;
        TBuResult r;
        do
            r = DoBackupJob(AllowAction ? -1 : 0, ia, APriority, file);
        while (r == TBuResult::brRepeat);
        if (result == TBuResult::brOK)
            result = r;
        if (BuStatus() != TBuStatus::bsOK)
            break;
    }
    return result;
}

TBuResult TOwnSchedules::RunAtLogoff(TDateTime ANow)
{
    const TDateTime today = DateOf(ANow);
    const bool loggedOnBefore = LogonTime < today;
    FailedTask = 0;
    TBuResult result = TBuResult::brOK;
    for (int i = 0; i < int(AutoTasks.size()); ++i) {
        TAutoTask &e = AutoTasks[size_t(i)];
        BuStatus() = TBuStatus::bsCanceled;
        TBuResult r = TBuResult::brOK;
        if (!e.TaskPath.isEmpty()) {
            if (e.BuProcess == TAutoStart::asLogoff) {
                const TDateTime t = TimeOf(e.NextTime);
                if (t <= TimeOf(ANow) || t < kOneMinute || loggedOnBefore) {
                    const TDateTime day = loggedOnBefore ? today - 1 : today;
                    r = RunEntry(i, TAutoStart::asLogoff, day, TInteraction::iaNone, TPath::ScheduledLogoff,
                                 [day](TAutoTask &a) { a.NextTime = day + 1 + TimeOf(a.NextTime); });
                }
            } else if (e.BuProcess == TAutoStart::asWeekDay) {
                if (today + kOneSecond > e.NextTime)
                    r = RunEntry(
                        i, TAutoStart::asWeekDay, today, TInteraction::iaNone, TPath::Scheduled,
                        [today](TAutoTask &a) {
                            a.NextTime = NextScheduledDay(a.WeekDay, false, today + kTenthSecond);
                        },
                        true);
            }
        }
        if (r == TBuResult::brError)
            result = TBuResult::brError;
        if (ProgExitCode != 0)
            LastError = ProgExitCode + FailedTask * 100;
        if (BuStatus() == TBuStatus::bsCancelAll)
            break;
    }
    return result;
}

TBuResult TOwnSchedules::RunAtStart(TDateTime ANow)
{
    const TDateTime today = DateOf(ANow);
    if (BuildTaskMenu)
        BuildTaskMenu();
    bool wait = false;
    TBuResult result = TBuResult::brOK;
    const auto nextDay = [today](TAutoTask &a) {
        a.NextTime = NextScheduledDay(a.WeekDay, false, today + kTenthSecond);
    };
    for (int i = 0; i < int(AutoTasks.size()); ++i) {
        TAutoTask &e = AutoTasks[size_t(i)];
        if (e.TaskPath.isEmpty())
            continue;
        BuStatus() = TBuStatus::bsCanceled;
        TBuResult r = TBuResult::brOK;
        switch (e.BuProcess) {
        case TAutoStart::asLogon:
            r = RunEntry(i, TAutoStart::asLogon, today, TInteraction::iaNone, TPath::Scheduled);
            break;
        case TAutoStart::asDaily:
            if (DateOf(e.LastTime) < today)
                r = RunEntry(i, TAutoStart::asDaily, today, TInteraction::iaNone, TPath::Scheduled);
            break;
        case TAutoStart::asDailyAt:
            if (e.NextTime < ANow) {
                // The start was missed: the next start at that time of day
                // that still lies ahead (today's when it has not passed),
                // on a day of the mask. A time already past today would
                // make the timer run the entry at once as well.
                TDateTime next = today + TimeOf(e.NextTime);
                if (next <= ANow)
                    next += 1;
                e.NextTime = NextScheduledDay(e.WeekDay, true, next);
                if (e.RunIfMissed)
                    r = RunEntry(i, TAutoStart::asDailyAt, today, TInteraction::iaNone, TPath::Scheduled);
            }
            wait = true;
            break;
        case TAutoStart::asLogoff:
            wait = true;
            break;
        case TAutoStart::asWeekly:
            if (today + kOneSecond > e.NextTime && (e.RunIfMissed || e.WeekdayInSchedule(today)))
                r = RunEntry(i, TAutoStart::asWeekly, today, TInteraction::iaNone, TPath::Scheduled, nextDay);
            break;
        case TAutoStart::asWeekDay:
            if (DateOf(e.NextTime) < today) {
                if (e.RunIfMissed)
                    r = RunEntry(i, TAutoStart::asWeekDay, today, TInteraction::iaNone, TPath::Scheduled);
                else
                    e.NextTime = NextScheduledDay(e.WeekDay, true, today + kTenthSecond);
            }
            wait = wait || DateOf(e.NextTime) - today < 2;
            break;
        default:
            break;
        }
        if (r == TBuResult::brError)
            result = TBuResult::brError;
        if (BuStatus() == TBuStatus::bsCancelAll)
            break;
    }
    // Timed and logoff backups keep the program resident.
    if (wait)
        result = TBuResult::brWait;
    ScheduleTimerEnabled = WaitActive;
    return result;
}

void TOwnSchedules::TimerTick(TDateTime ANow)
{
    if (!WaitActive)
        return;
    ScheduleTimerEnabled = false;
    SetExitCode(0, 0);
    TaskActive = true;
    const TDateTime today = DateOf(ANow);
    for (int i = 0; i < int(AutoTasks.size()); ++i) {
        TAutoTask &e = AutoTasks[size_t(i)];
        if (e.TaskPath.isEmpty() || e.BuProcess != TAutoStart::asDailyAt || e.NextTime > ANow)
            continue;
        if (e.WeekdayInSchedule(today) && TimeOf(e.NextTime) > TimeOf(ANow)) {
            e.NextTime = today + TimeOf(e.NextTime); // still ahead today
            continue;
        }
        e.NextTime = NextScheduledDay(e.WeekDay, true, today + 1 + TimeOf(e.NextTime));
        InterActiveMode = e.AutoEnd;
        RunEntry(i, TAutoStart::asDailyAt, today, TInteraction::iaNone, TPath::Scheduled);
        InterActiveMode = TInteraction::iaNone;
    }
    TaskActive = false;
    ScheduleTimerEnabled = true;
}

// ---- Entry list ----

void TOwnSchedules::UpdateScheduleFlags()
{
    AutoActive = WaitActive = LogOffActive = false;
    for (const TAutoTask &e : AutoTasks) {
        if (e.TaskPath.isEmpty())
            continue;
        const TAutoStart m = e.BuProcess;
        AutoActive = AutoActive || m != TAutoStart::asNone;
        const bool logoff = m == TAutoStart::asLogoff || m == TAutoStart::asWeekDay;
        WaitActive = WaitActive || logoff || m == TAutoStart::asDailyAt;
        LogOffActive = LogOffActive || logoff;
    }
}

int TOwnSchedules::AutoTaskIndexOf(const QString &APath, int FromIndex) const
{
    if (APath.isEmpty())
        return -1;
    for (int i = std::max(FromIndex, 0); i < int(AutoTasks.size()); ++i) {
        const TAutoTask &e = AutoTasks[size_t(i)];
        if (!e.TaskName.isEmpty() && e.TaskPath.compare(APath, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool TOwnSchedules::AutoTaskIsActive(int AIndex) const
{
    return AIndex >= 0 && AIndex < int(AutoTasks.size()) && AutoTasks[size_t(AIndex)].IsActive();
}

int TOwnSchedules::GetFreeAutoTask() const
{
    for (int i = 0; i < int(AutoTasks.size()); ++i)
        if (AutoTasks[size_t(i)].TaskName.isEmpty())
            return i;
    return -1;
}

bool TOwnSchedules::AddSchedule(QPoint APos, const QString &ATaskName, bool NoPrompt)
{
    if (ATaskName.isEmpty())
        return false;
    if (!NoPrompt &&
        !ConfirmBoxAt(APos, Tr("Add new schedule for this backup?"), TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm))
        return false;
    const int i = GetFreeAutoTask();
    AutoTaskNr = -1;
    if (i < 0) {
        ShowErrorBoxAt(APos, Tr("The maximum number of 16 backup schedules is exceeded!"),
                       TDefaultMonitor::dmActiveForm);
        return false;
    }
    TAutoTask &e = AutoTasks[size_t(i)];
    e.TaskPath = ATaskName;
    e.TaskName = StripExtension(LastPathElement(ATaskName));
    if (ShowAutoBackups)
        ShowAutoBackups(i);
    return true;
}

bool TOwnSchedules::CheckSchedule(const QString &ATask) const
{
    return std::any_of(AutoTasks.begin(), AutoTasks.end(), [&ATask](const TAutoTask &e) {
        return e.IsActive() && e.SchedProps.StepMode > 0 && e.TaskPath.compare(ATask, Qt::CaseInsensitive) == 0;
    });
}

QString TOwnSchedules::GetSchedule(int AIndex) const
{
    if (AIndex < 0 || AIndex >= int(AutoTasks.size()))
        return QString();
    return AutoTasks[size_t(AIndex)].GetScheduleDesc();
}

QString TOwnSchedules::GetSchedulesAsText() const
{
    QString text;
    for (int i = 0; i < int(AutoTasks.size()); ++i) {
        const TAutoTask &e = AutoTasks[size_t(i)];
        if (e.TaskPath.isEmpty())
            continue;
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += OrdinalText(i + 1) + QStringLiteral(": ") + Tr("Backup task") + QStringLiteral(": ") + e.TaskName +
                QStringLiteral("\r\n     - ");
        if (e.IsActive())
            text += Tr("Next backup: ");
        text += GetSchedule(i);
    }
    return text.isEmpty() ? Tr("No automatic backups configured") : text;
}

} // namespace vl
