// The main window's logic without its widgets: the program-wide objects it
// owns (command line, settings file, own schedules, parallel runner, mail
// sender, single instance), its creation and end, and the start dispatcher
// that decides once what this process was started for.
//
// The window views plug in through the hooks below; while a hook is unset
// the program behaves as one without that window: an interactive start
// that needs the control panel or the task editor tells the user so and
// ends, a log is shown through the text viewer service.
#pragma once

#include "app/CommandLine.h"
#include "app/OwnSchedules.h"
#include "app/ProgramSettings.h"
#include "app/RunDispatch.h"
#include "backup/MainServices.h"
#include "core/WindowServices.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

class TBackupForm;
class TInstanceManager;
class TmMailer;

// Pages the control panel can show.
enum class TMainPage { mpBackup, mpRestore, mpVerify, mpCleanup };

// Choices of an interactive start (the start dialog's answers and the
// dispatcher's own).
inline constexpr int kChoiceStartBackup = 1;
inline constexpr int kChoiceNothingOpened = 2;
inline constexpr int kChoiceEdit = 6;
inline constexpr int kChoiceControlPanel = 7;

// The switches of the command line as the other windows ask for them.
class TShellWindowServices : public TNullMainWindowServices {
public:
    bool SoundOn() const override { return FSoundOn; }
    int32_t VlInstance() const override { return FInstance; }
    bool IdleBackup() const override { return FIdleBackup; }
    bool NoScaling() const override { return FNoScaling; }
    bool FSoundOn = true;
    int32_t FInstance = 0;
    bool FIdleBackup = false;
    bool FNoScaling = false;
};

class TBuMainForm : public IBuMainForm {
public:
    // ABackupForm runs the backups; AInstance (may be null) is the single
    // instance of an interactive start, whose hand-overs come here.
    TBuMainForm(TBackupForm &ABackupForm, TInstanceManager *AInstance);
    ~TBuMainForm() override;
    TBuMainForm(const TBuMainForm &) = delete;
    TBuMainForm &operator=(const TBuMainForm &) = delete;

    // ---- Program start and end ----
    // Args: the process's arguments without the program name; APreScan the
    // pre-scan flags of start-up.
    void FormCreate(const QStringList &Args, uint8_t APreScan);
    // After the windows exist: reads the settings file and arms the start
    // timer.
    void InitProgram();
    // The process's exit code (ProgExitCode) after the due action.
    int FormDestroy();

    // ---- Hooks of the window views (unset: no such window) ----
    // Shows the control panel at a page; false when there is none.
    std::function<bool(TMainPage APage)> OnShowMainWindow;
    // Opens a backup task in the editor (page 0); the saved task's file
    // name, empty when nothing was saved.
    std::function<QString(const QString &AFile)> OnEditBackupTask;
    // Opens a restore, verify or cleanup task (1, 2, 3; 4: nothing opened).
    std::function<int(const QString &AFile)> OnOpenToolTask;
    // The start dialog for a backup task file (kChoice...; 2 Cancel).
    std::function<int(const QString &AFile)> OnStartDialog;
    // Ends the event loop; default: QCoreApplication::exit.
    std::function<void()> OnQuit;

    // ---- The dispatcher ----
    // One tick of tmStart.
    void tmStartTimer();
    // Runs the task list: RunAutoTasks of the own schedules at the current
    // time.
    TBuResult RunAutoTasks(const QString &ATasks, int AKind, TThreadPriority APriority, TInteraction AInterAct);
    // The interactive start's choice for the command line (before any
    // dialog): kChoice..., or -1 when the start dialog must ask.
    int InteractiveChoice(QString &ATaskFile) const;
    // Ends the program, or with AStandby (and a window that was visible)
    // stays in the background.
    void EndProgram(bool AStandby);
    // A hand-over from a later start (Mode kHandOverOpen or
    // kHandOverShowTask).
    void ReceiveTaskFile(int Mode, const QString &FileName);
    // Opens a task file in the window of its kind (by extension).
    void OpenTaskFile(const QString &ATaskName);
    // A log file: ANname expanded, below the log folder, ".log".
    static QString CommandLogFile(const QString &AName);

    void DoEndProg(TDownMode dm);
    void DoStandby();
    void DoHibernate();
    TBuResult RunLogoffBackups(TThreadPriority APriority, TInteraction AInterAct);

    // ---- IBuMainForm ----
    bool IsPortable() const override { return Cmd.IsPortable; }
    bool DelTemp() const override { return Cmd.DelTemp; }
    bool DownTask() const override { return Dispatch.DownTask; }
    bool IsAdmin() const override { return FIsAdmin; }
    TmMailer &Mailer() override { return *mMailer; }
    bool PrinterAvailable() const override { return false; }
    TStatusStyle StatusStyle() const override { return Cmd.StatusStyle; }
    void AddBackupTask(const QString &AFileName) override;
    void PerformAction(TBuResult ABr) override;
    bool SelectLogFile(QString &) override { return false; }
    void SetExitCode(int AExitCode, int ATaskNr) override;
    void SetProgressInfo(const QString &, const QString &, int) override {}
    void ShowAutoBackups(int AIndex) override;
    void ShowVersionInfo() override {}
    void StartIconAnimate(QChar) override {}
    void StopIconAnimate(bool) override {}
    TAutoTask *AutoTask(int AIndex) override;

    // ---- State ----
    // Folders: default settings folder, user profile, program files,
    // default task folder, last export folder, the documents folder.
    QString AppPfad, ProfPfad, ProgPfad, DefTaskDir, LastExpDir, DocsDir;
    // The settings file and the folders given on the command line.
    QString IniName, CmdTaskDir, CmdLogDir, CmdTempDir;
    QString ProgVersDate;
    QString CurrentTask, CurrentRest, CurrentVerify, CurrentClean;
    TIniLoc FIniLoc = TIniLoc::ilNormal;
    bool AppMinimized = false, GoStandby = false;
    bool BackupIsRunning = false;
    // A task file handed over during a run, opened when the run ends.
    QString OpenTaskName;
    uint8_t PreScanFlags = 0;
    // No display: no start screen to show and no window system to settle,
    // so the dispatch needs no start-up wait.
    bool Headless = false;

    TMainCommandLine Cmd;
    TProgramSettings Settings;
    TDispatchState Dispatch;
    std::unique_ptr<TOwnSchedules> Schedules;
    std::shared_ptr<TRunTasks> RunTasks;
    std::unique_ptr<TmMailer> mMailer;
    TShellWindowServices WindowServices;

    // The start timer: armed by InitProgram, ticks once for the dispatch
    // (twice for an automatic start).
    QTimer tmStart;
    // The own schedules' timer (10 s) while the program waits in the
    // background.
    QTimer tmSchedule;

    TBackupForm &BackupForm() { return FBackupForm; }

private:
    void DispatchRun();
    void RunToolTasks();
    void ShowCommandLog();
    void RunBackupTasks();
    void RunParallel();
    void RunAutomaticStart();
    void RunInteractive();
    void Finish();
    void StayInBackground();
    // The task editor with AFile (OnEditBackupTask set); a saved task
    // becomes the current one at the top of the list.
    void EditBackupTask(const QString &AFile);
    // A window the program does not have yet: the message.
    void WindowNotAvailable(const QString &AWhat);
    void UpdateScheduleTimer();
    // The lock file of a run that did not end: asks whether to run that task
    // now (with ACheckEntries, not for an active own schedule entry, which
    // catches up by its own rules).
    void CatchUpInterruptedBackup(bool ACheckEntries, TInteraction AInterAct);
    void SyncScheduleState();

    TBackupForm &FBackupForm;
    TInstanceManager *FInstance;
    QStringList FArgs;
    bool FIsAdmin = false;
    bool FAutoDelayDone = false;
    bool FDispatched = false;
    bool FEnded = false;
    QObject FContext; // receiver of the timers' and queued calls
};

} // namespace vl
