// The program's own schedules: when each of the sixteen entries is due, the
// runs at program start or logon, at logoff, from the schedule timer and on
// request, and the alternating schedule that tells each run which step
// (full, differential, incremental) it is.
//
// Everything runs on the GUI thread. The main window owns one instance and
// the entries; its timer calls TimerTick every 10 s while
// ScheduleTimerEnabled holds. The current date and time are always passed
// in, so the decisions never read the clock themselves.
#pragma once

#include "backup/AutoTask.h"
#include "core/DateTime.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"

#include <QPoint>
#include <QString>

#include <array>
#include <functional>

namespace vl {

class TBackupForm;

using TAutoTaskArray = std::array<TAutoTask, 16>;

// Kinds of RunAutoTasks.
inline constexpr int kRunAtStart = 0;
inline constexpr int kRunGiven = 1;
inline constexpr int kRunAtLogoff = 2;
inline constexpr int kRunEdit = 4;

// Step codes of GetScheduleStep.
inline constexpr int kStepNone = 0;        // no alternating schedule
inline constexpr int kStepNotDue = -1;     // not due now
inline constexpr int kStepExplicit = 4096; // + the step this run uses

class TOwnSchedules {
public:
    using TBackupJob =
        std::function<TBuResult(int Nr, TInteraction InterAct, TThreadPriority Priority, const QString &ATaskPath)>;

    // AForm runs the jobs (DoBackupJob) and keeps the run status (BuStatus)
    // unless the hooks below are replaced.
    TOwnSchedules(TAutoTaskArray &AAutoTasks, TBackupForm &AForm);

    // ---- Hooks of the main window ----
    // One backup job; default: AForm.DoBackupJob.
    TBackupJob DoBackupJob;
    // Writes the run state of entry AIndex to the settings file (exit code
    // ProgExitCode, succeeded = BuStatus() is bsOK); default: nothing.
    std::function<void(int AIndex)> SaveAutoTaskState;
    // Rebuilds the tray menu of scheduled backups.
    std::function<void()> BuildTaskMenu;
    // Lets the user pick the one-click default task; false when none was
    // picked. Without it no task is picked.
    std::function<bool(QString &ATask)> GetDefaultTask;
    // Writes the default task to the settings file.
    std::function<void(const QString &ATask)> SaveDefaultTask;
    // Opens a backup task in the editor.
    std::function<void(const QString &AFile, int AMode)> EditBackupTask;
    // Selects the schedules view and shows entry AIndex.
    std::function<void(int AIndex)> ShowAutoBackups;

    // ---- State of the main window used here ----
    TAutoTaskArray &AutoTasks;
    int AutoTaskNr = -1;       // entry shown on the schedules page
    bool AutoActive = false;   // some entry is not "Never"
    bool WaitActive = false;   // the program stays resident for timed or logoff entries
    bool LogOffActive = false; // some entry runs at logoff
    TDateTime LogonTime = 0;   // set by the window at start; 0 counts as before today
    int FailedTask = 0;
    int LastError = 0; // exit code + 100 x failed entry of the last logoff run
    TInteraction InterActiveMode = TInteraction::iaNone;
    bool TaskActive = false;
    bool AllowAction = false;
    TThreadPriority BuThPr = TThreadPriority::tpNormal;
    int CurrentTask = 0;
    // The schedule timer (10 s); created disabled.
    bool ScheduleTimerEnabled = false;

    // The backup window's run status.
    TBuStatus &BuStatus();
    // Stores the program's exit code and the number of the failed task.
    void SetExitCode(int AExitCode, int ATaskNr);

    // ---- Runs ----
    // ATasks: comma-separated task names or files (quoted tokens allowed),
    // or "#" + entry number ("#" alone: every active entry; "#0": the "By
    // request" entries due today). AKind: kRunAtStart, kRunGiven,
    // kRunAtLogoff or kRunEdit.
    TBuResult RunAutoTasks(QString ATasks, int AKind, TThreadPriority APriority, TInteraction AInterAct,
                           TDateTime ANow);
    // The work of one timer tick: runs the "daily at selected time"
    // entries that are due at ANow.
    void TimerTick(TDateTime ANow);

    // ---- Alternating schedule ----
    // Step code for a run of entry AIndex of kind AKind on day ADay (may
    // advance WeekZyk when a new week of the cycle began).
    int GetScheduleStep(int AIndex, TAutoStart AKind, TDateTime ADay);
    // Makes ACode the entry's current step; the code the run keeps.
    int ApplyScheduleStep(int AIndex, int ACode);
    // After a run that did not fail: the step that follows ACode.
    void SetScheduleStep(int AIndex, int ACode);
    // An extra full backup before the regular run when the cycle passed its
    // full step without one.
    void RunMissedFullBackup(int AIndex, TInteraction AInterAct, TDateTime ADay);
    // True when RunMissedFullBackup would run the extra full backup.
    bool FullBackupMissed(int AIndex, TDateTime ADay) const;

    // The next day (from today when IncludeToday, else from tomorrow) whose
    // bit is set in AMask, at ADate's time of day.
    static TDateTime NextScheduledDay(uint32_t AMask, bool IncludeToday, TDateTime ADate);
    // ISO weekday (1 = Monday) of the lowest of bits 0..6; 0 for none.
    static int FirstWeekdayOfMask(uint32_t AMask);

    // ---- Entry list ----
    void UpdateScheduleFlags();
    int AutoTaskIndexOf(const QString &APath, int FromIndex) const;
    bool AutoTaskIsActive(int AIndex) const;
    int GetFreeAutoTask() const;
    bool AddSchedule(QPoint APos, const QString &ATaskName, bool NoPrompt);
    // An active entry for ATask decides its mode by an alternating schedule.
    bool CheckSchedule(const QString &ATask) const;
    QString GetSchedule(int AIndex) const;
    QString GetSchedulesAsText() const;

private:
    // How a run sequence treats the step code.
    enum class TPath { Scheduled, ScheduledLogoff, Manual };
    // The run sequence of entry i: step, missed full backup, jobs, next step
    // and run state. AOnSuccess moves the entry's next due point after a run
    // that did not fail. Returns the last job result (brOK when nothing ran).
    TBuResult RunEntry(int i, TAutoStart AKind, TDateTime ADay, TInteraction AInterAct, TPath APath,
                       const std::function<void(TAutoTask &)> &AOnSuccess = {}, bool ASaveWhenNotDue = false);
    TBuResult RunJob(int i, TInteraction AInterAct);
    TBuResult RunEntryList(int n, TInteraction AInterAct, TDateTime AToday);
    TBuResult RunTaskNames(QString ATasks, TThreadPriority APriority, TInteraction AInterAct);
    TBuResult RunAtLogoff(TDateTime ANow);
    TBuResult RunAtStart(TDateTime ANow);

    TBackupForm &FForm;
};

} // namespace vl
