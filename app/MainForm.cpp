#include "app/MainForm.h"

#include "app/SingleInstance.h"
#include "backup/BackupForm.h"
#include "core/Format.h"
#include "core/Language.h"
#include "core/LockFile.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/TaskFiles.h"
#include "core/Translate.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/SystemUtils.h"
#include "engine/Mailer.h"
#include "platform/System.h"
#include "ui/ProgressWindow.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

namespace vl {

namespace {

// Pass phrase of the mail sender's client key, which ships beside the
// program when it is installed ("velkor.key").
const QString kMailerKeyPassword = QStringLiteral("Vk.mailer-2024");

// A write of the settings file that fails is told, never fatal: the run it
// belongs to has already happened.
void WriteOrTell(const std::function<void()> &AWrite)
{
    try {
        AWrite();
    } catch (const std::exception &e) {
        WriteServiceLog(QString::fromLocal8Bit(e.what()));
    }
}

bool IsToolTaskFile(const QString &AFile)
{
    const QString ext = ExtensionOf(AFile).toLower();
    return ext == QStringLiteral("vfj") || ext == QStringLiteral("rsj") || ext == QStringLiteral("cuj");
}

// The page for what the tool-task window opened (1 restore, 2 verify,
// 3 cleanup; anything else the backup tasks).
TMainPage ToolTaskPage(int AOpened)
{
    return AOpened == 1   ? TMainPage::mpRestore
           : AOpened == 2 ? TMainPage::mpVerify
           : AOpened == 3 ? TMainPage::mpCleanup
                          : TMainPage::mpBackup;
}

} // namespace

TBuMainForm::TBuMainForm(TBackupForm &ABackupForm, TInstanceManager *AInstance)
    : FBackupForm(ABackupForm), FInstance(AInstance)
{
    tmStart.setSingleShot(false);
    QObject::connect(&tmStart, &QTimer::timeout, &FContext, [this] { tmStartTimer(); });
    tmSchedule.setInterval(10000);
    QObject::connect(&tmSchedule, &QTimer::timeout, &FContext, [this] {
        if (Schedules && Schedules->ScheduleTimerEnabled && !BackupIsRunning)
            Schedules->TimerTick(Now());
        UpdateScheduleTimer();
    });
}

TBuMainForm::~TBuMainForm()
{
    if (FInstance) {
        FInstance->SetHandOverCallback({});
        FInstance->SetShowCallback({});
    }
}

// ---- Creation ----------------------------------------------------------------------

void TBuMainForm::FormCreate(const QStringList &Args, uint8_t APreScan)
{
    FArgs = Args;
    PreScanFlags = APreScan;

    // Folders and the settings folder; the settings file follows the parse.
    GetDefaultFolders(AppPfad, DocsDir, ProgPfad);
    if (DocsDir.isEmpty())
        DocsDir = ProgramPath;
    DocumentsDir = DocsDir;
    SettingsFolder = ChooseSettingsFolder(!AppPfad.isEmpty() && IsOnUsbDrive(ProgramPath), FIniLoc);
    const QString home = qEnvironmentVariable("HOME");
    ProfPfad = home.isEmpty() ? ProgramPath : WithTrailingDelimiter(home);

    FIsAdmin = geteuid() == 0;
    EventLogAvailable = EventSourceExists(QStringLiteral("Velkor"));
    InitTimeFormats();
    SetDefaultSettings(VlSettings);

    mMailer = std::make_unique<TmMailer>(ProgramPath, QStringLiteral("velkorroot.pem"), QStringLiteral("velkor.crt"),
                                         QStringLiteral("velkor.key"), kMailerKeyPassword);

    CurrentUserName = LogonUserName();
    ProgramTempDir = GetProgramTempDir();
    LastExpDir = DocsDir;
    DefTaskDir = DocsDir + QStringLiteral("Velkor/");
    Settings.DefTaskDir = DefTaskDir;

    Schedules = std::make_unique<TOwnSchedules>(Settings.AutoTasks, FBackupForm);
    Schedules->LogonTime = SessionLogonTime();
    Schedules->SaveAutoTaskState = [this](int AIndex) {
        WriteOrTell([&] { Settings.SaveAutoTaskState(AIndex, ProgExitCode, FBackupForm.BuStatus == TBuStatus::bsOK); });
    };
    Schedules->SaveDefaultTask = [this](const QString &) { WriteOrTell([this] { Settings.SaveDefaultTask(); }); };
    Schedules->EditBackupTask = [this](const QString &AFile, int) {
        if (OnEditBackupTask)
            OnEditBackupTask(AFile);
        else
            WindowNotAvailable(AFile);
    };
    Schedules->ShowAutoBackups = [this](int AIndex) { ShowAutoBackups(AIndex); };

    if (CmdLineValid)
        Cmd.ParseCommandLine(Args);

    IniName = ChooseIniFileName(SettingsFolder, Cmd.IniName.isEmpty() ? QString() : ExpandFolderPlaceHolders(Cmd.IniName),
                                FIniLoc);
    VlSettings.Directories.IniLoc = FIniLoc;

    if ((!Cmd.CmdTasks.isEmpty() || Cmd.VerifyTask || Cmd.CleanTask || Cmd.RestTask || Cmd.ForceTask) && !Cmd.DoEdit)
        Cmd.NoSplash = true;
    Dispatch.DownTask = Cmd.LogOffMode != TDownMode::dmNone;

    QString caption;
    ProgramCaptionWithVersion(QStringLiteral("Velkor"), QStringLiteral("6.3.24"), QString(), ProgVersDate, caption, 3);

    if (FInstance) {
        FInstance->SetHandOverCallback([this](int Mode, const QString &FileName) { ReceiveTaskFile(Mode, FileName); });
        FInstance->SetShowCallback([this] {
            AppMinimized = false;
            if (OnShowMainWindow)
                OnShowMainWindow(TMainPage::mpBackup);
        });
    }

    WindowServices.FSoundOn = Cmd.SoundOn;
    WindowServices.FInstance = Cmd.VlInstance;
    WindowServices.FNoScaling = Cmd.AppTag == 1;
}

void TBuMainForm::InitProgram()
{
    // Folders given on the command line. A settings file named there on
    // another tree than the settings folder keeps its logs beside it.
    CmdTaskDir = Cmd.DirName.isEmpty()
                     ? QString()
                     : WithTrailingDelimiter(QDir::current().absoluteFilePath(ExpandFolderPlaceHolders(Cmd.DirName)));
    CmdTempDir = Cmd.TDir.isEmpty() ? QString() : ExpandFolderPlaceHolders(Cmd.TDir);
    if (!Cmd.LDir.isEmpty())
        CmdLogDir = ExpandFolderPlaceHolders(Cmd.LDir);
    else if (FIniLoc == TIniLoc::ilCommand) {
        // Every path shares "/": only a deeper common folder keeps the logs
        // in the settings folder.
        const QString iniDir = WithTrailingDelimiter(ParentDirectory(IniName));
        const QString base = CommonBasePath(iniDir, SettingsFolder);
        if (base.isEmpty() || base == QStringLiteral("/"))
            CmdLogDir = iniDir;
    }
    TMainCommandLine folders = Cmd;
    folders.DirName = CmdTaskDir;
    folders.LDir = CmdLogDir;
    folders.TDir = CmdTempDir;
    Settings.ReadFromIni(IniName, folders);
    SyncScheduleState();

    SetExitCode(0, 0);

    // What the command line tells the backup runs.
    QString zip = Cmd.AltZip;
    if (zip.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        zip.chop(4);
    FBackupForm.CmdZip = zip;
    FBackupForm.CmdTmPeriod = Cmd.tp;
    FBackupForm.CmdProtMode = Cmd.Pm;
    if (!Cmd.SubDir.isEmpty())
        FBackupForm.BuDir = Cmd.SubDir;
    if (!Cmd.ReplSDrv.isEmpty() && Cmd.ForceTask)
        FBackupForm.ReplSourceDrv = Cmd.ReplSDrv;
    if (!Cmd.SDir.isEmpty())
        FBackupForm.ReplSourceDir = Cmd.SDir;
    FBackupForm.CmdAltUser = TUserAccount{Cmd.User, Cmd.Pwd};
    if (Cmd.BuM > 0)
        FBackupForm.SpecMode = Cmd.BuM;
    if (Cmd.Wt >= 0)
        VlSettings.ViewSettings.AutoWaitTime = Cmd.Wt;

    if (VlSettings.StartSettings.NoSplashScreen)
        Cmd.NoSplash = true;

    // The progress window of a display: its version line, its place in the
    // settings file, and whether it stays on top. Children of a parallel
    // run from the second on get a normal window, so they do not cover
    // one another.
    if (auto *progress = dynamic_cast<TZeigFortschritt *>(&ProgressWindow())) {
        progress->WriteVersion(ProgramInfo.Comments, Tr("User name: ") + CurrentUserName);
        progress->LoadFromIni(IniFileName);
        switch (Cmd.StatusStyle) {
        case TStatusStyle::ssOnTop: progress->SetShowOnTop(true); break;
        case TStatusStyle::ssNormal:
        case TStatusStyle::ssBehind: progress->SetShowOnTop(false); break;
        default: progress->SetShowOnTop(Cmd.VlInstance < 2 && VlSettings.ViewSettings.StatusOnTop); break;
        }
    }
    if (Cmd.StatusStyle == TStatusStyle::ssDefault && Cmd.VlInstance >= 2)
        Cmd.StatusStyle = TStatusStyle::ssNormal;

    tmStart.setInterval(Cmd.StartTask ? 3000 : Headless ? 0 : Cmd.NoSplash ? 500 : 1500);
    tmStart.start();
}

int TBuMainForm::FormDestroy()
{
    // Nothing handed over after the end is acted on.
    if (FInstance) {
        FInstance->SetHandOverCallback({});
        FInstance->SetShowCallback({});
    }
    tmStart.stop();
    tmSchedule.stop();
    FreeRunTasks(RunTasks);
    const int code = ProgExitCode;
    if (Dispatch.DownTask)
        PerformDownTask(Cmd, Dispatch, LogonSessionCount());
    return code;
}

// ---- State kept with the own schedules --------------------------------------------

void TBuMainForm::SyncScheduleState()
{
    Schedules->UpdateScheduleFlags();
    Schedules->LastError = Settings.LastError;
}

void TBuMainForm::UpdateScheduleTimer()
{
    const bool run = FEnded ? false : Schedules && Schedules->ScheduleTimerEnabled;
    if (run && !tmSchedule.isActive())
        tmSchedule.start();
    else if (!run && tmSchedule.isActive())
        tmSchedule.stop();
}

TBuResult TBuMainForm::RunAutoTasks(const QString &ATasks, int AKind, TThreadPriority APriority,
                                    TInteraction AInterAct)
{
    Schedules->InterActiveMode = Cmd.InterActiveMode;
    Schedules->AllowAction = Cmd.AllowAction;
    Schedules->BuThPr = Cmd.BuThPr;
    const TBuResult r = Schedules->RunAutoTasks(ATasks, AKind, APriority, AInterAct, Now());
    Settings.LastError = Schedules->LastError;
    return r;
}

// ---- IBuMainForm ----------------------------------------------------------------------

void TBuMainForm::SetExitCode(int AExitCode, int ATaskNr)
{
    ProgExitCode = AExitCode;
    if (Schedules)
        Schedules->FailedTask = ATaskNr;
}

TAutoTask *TBuMainForm::AutoTask(int AIndex)
{
    return AIndex >= 0 && AIndex < int(Settings.AutoTasks.size()) ? &Settings.AutoTasks[size_t(AIndex)] : nullptr;
}

void TBuMainForm::AddBackupTask(const QString &AFileName)
{
    for (const TTaskListEntry &e : Settings.BackupList)
        if (!e.Comment && e.Name == AFileName)
            return;
    Settings.BackupList.prepend({AFileName, false});
}

void TBuMainForm::ShowAutoBackups(int AIndex)
{
    if (Schedules)
        Schedules->AutoTaskNr = AIndex;
}

void TBuMainForm::PerformAction(TBuResult ABr)
{
    switch (ABr) {
    case TBuResult::brShutdown: DoEndProg(TDownMode::dmShutdown); break;
    case TBuResult::brLogOff: DoEndProg(TDownMode::dmLogOff); break;
    case TBuResult::brStandby: DoStandby(); break;
    case TBuResult::brHibernate: DoHibernate(); break;
    default: break;
    }
}

void TBuMainForm::DoEndProg(TDownMode dm)
{
    Dispatch.DownTask = true;
    Cmd.LogOffMode = dm;
    WriteOrTell([this] { Settings.SaveToIni(); });
    RunLogoffBackups(Cmd.BuThPr, Cmd.InterActiveMode);
    EndProgram(false);
}

void TBuMainForm::DoStandby()
{
    Cmd.SuspendMode = TSuspendMode::smStandby;
    SuspendNow(Cmd);
}

void TBuMainForm::DoHibernate()
{
    Cmd.SuspendMode = TSuspendMode::smHibernate;
    SuspendNow(Cmd);
}

TBuResult TBuMainForm::RunLogoffBackups(TThreadPriority APriority, TInteraction AInterAct)
{
    const TBuResult r = RunAutoTasks(QString(), kRunAtLogoff, APriority, AInterAct);
    WriteOrTell([this] { Settings.SaveLastError(); });
    return r;
}

// ---- End of the program -------------------------------------------------------------

void TBuMainForm::EndProgram(bool AStandby)
{
    GoStandby = AStandby;
    if (Dispatch.DownTask || !GoStandby) {
        FEnded = true;
        UpdateScheduleTimer();
        if (OnQuit)
            OnQuit();
        else
            QCoreApplication::exit(0);
        return;
    }
    StayInBackground();
}

void TBuMainForm::StayInBackground()
{
    GoStandby = false;
    AppMinimized = true;
    // Timed entries run from here while the program waits.
    Schedules->ScheduleTimerEnabled = Schedules->WaitActive;
    UpdateScheduleTimer();
}

// ---- Hand-over ------------------------------------------------------------------------

void TBuMainForm::ReceiveTaskFile(int Mode, const QString &FileName)
{
    if (WindowServices.FIdleBackup)
        return;
    // During a run, and before the dispatch has decided what this start
    // is for, the file waits for the dispatch's end.
    if (BackupIsRunning || !FDispatched) {
        OpenTaskName = FileName;
        return;
    }
    if (FBackupForm.Visible) {
        ShowErrorBox(Tr("The editor window is already opened for another task!"), 0);
        return;
    }
    OpenTaskName.clear();
    if (Mode == kHandOverShowTask) {
        if (QFileInfo::exists(FileName)) {
            AddBackupTask(FileName);
            CurrentTask = FileName;
        }
        if (!OnShowMainWindow || !OnShowMainWindow(TMainPage::mpBackup))
            WindowNotAvailable(FileName);
        return;
    }
    OpenTaskFile(FileName);
}

void TBuMainForm::OpenTaskFile(const QString &ATaskName)
{
    int page = 4;
    if (IsToolTaskFile(ATaskName)) {
        if (!OnOpenToolTask) {
            WindowNotAvailable(ATaskName);
            return;
        }
        page = OnOpenToolTask(ATaskName);
    } else {
        if (!OnEditBackupTask) {
            WindowNotAvailable(ATaskName);
            return;
        }
        EditBackupTask(ATaskName);
    }
    if (OnShowMainWindow)
        OnShowMainWindow(ToolTaskPage(page));
}

void TBuMainForm::EditBackupTask(const QString &AFile)
{
    const QString saved = OnEditBackupTask(AFile);
    if (!saved.isEmpty()) {
        CurrentTask = saved;
        AddBackupTask(saved);
    }
}

void TBuMainForm::WindowNotAvailable(const QString &AWhat)
{
    // The control panel and the task windows come with the program's
    // windows; until then a start that needs them says so.
    QString text = Tr("This version of Velkor runs tasks from the command line only: the control panel and the "
                      "task windows are not available.");
    if (!AWhat.isEmpty())
        text = AWhat + QStringLiteral("\r\n") + text;
    ShowErrorBox(text, 0);
}

// ---- Dispatcher ---------------------------------------------------------------------------

QString TBuMainForm::CommandLogFile(const QString &AName)
{
    if (AName.isEmpty())
        return QString();
    QString name = ExpandFolderPlaceHolders(AName);
    name = AbsolutePath(GetLogFolder(), name);
    return ForceExtension(name, QStringLiteral("log"), 0);
}

void TBuMainForm::tmStartTimer()
{
    if (Cmd.StartTask && !FAutoDelayDone) {
        // The first tick of an automatic start only waits for the start
        // delay of the settings.
        FAutoDelayDone = true;
        tmStart.setInterval(std::max(0, VlSettings.StartSettings.StartupDelay) * 1000);
        return;
    }
    // Runs process events; the timer must not dispatch a second time.
    tmStart.stop();
    FDispatched = true;
    BackupIsRunning = true;
    Dispatch.IdleOffDispatch = Cmd.LogOffMode == TDownMode::dmIdleOff;
    DispatchRun();
    BackupIsRunning = false;
    // The program stays (control panel, background): a file handed over
    // while it started is opened now.
    if (!FEnded && !OpenTaskName.isEmpty()) {
        const QString name = OpenTaskName;
        OpenTaskName.clear();
        OpenTaskFile(name);
    }
}

void TBuMainForm::DispatchRun()
{
    if (Cmd.ProtTask)
        ShowCommandLog();
    else if (Cmd.CleanTask || Cmd.VerifyTask || Cmd.RestTask)
        RunToolTasks();
    else if (Cmd.ForceTask || Dispatch.DownTask)
        RunBackupTasks();
    else if (Cmd.StartTask)
        RunAutomaticStart();
    else
        RunInteractive();
}

void TBuMainForm::Finish()
{
    if (OpenTaskName.isEmpty()) {
        EndProgram(false);
        return;
    }
    const QString name = OpenTaskName;
    OpenTaskName.clear();
    BackupIsRunning = false;
    OpenTaskFile(name);
    if (!OnShowMainWindow)
        EndProgram(false);
}

void TBuMainForm::RunToolTasks()
{
    if (Cmd.InterActiveMode == TInteraction::iaNone)
        Cmd.InterActiveMode = TInteraction::iaDelay;
    const QString kind = Cmd.CleanTask    ? Tr("Cleanup task")
                         : Cmd.VerifyTask ? Tr("Verify task")
                                          : Tr("Restore task");
    LogTaskStartEvent(Cmd.InterActiveMode, Cmd.CmdTasks);
    // Restore, verify and cleanup tasks come with their own windows and
    // runs; until then such a start is an invalid configuration, never a
    // success.
    SetExitCode(6, 0);
    const QString line = GuardedFormat(Tr("%s: this task kind is not available"), kind) + QStringLiteral(": ") +
                         Cmd.CmdTasks;
    try {
        FBackupForm.OpenJobErrorLog(0, Cmd.CmdTasks, Cmd.InterActiveMode);
        FBackupForm.WriteToLog(1, QStringLiteral("  *** ") + line);
        FBackupForm.CloseLogFile(true);
    } catch (const std::exception &e) {
        WriteServiceLog(QString::fromLocal8Bit(e.what()));
    }
    // A message, not a box: an unattended start must not wait for anyone.
    WriteServiceLog(line);
    SetAfterRunAction(Cmd, Dispatch, TBuResult::brError);
    Finish();
}

void TBuMainForm::ShowCommandLog()
{
    QString rest = Cmd.CmdTasks;
    const QString first = SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"'));
    const QString name = CommandLogFile(first);
    if (!FBackupForm.ShowProt(name, false))
        ShowErrorBox(GuardedFormat(Tr("File\r\n\"%s\"\r\nnot found!"), name.isEmpty() ? ProgramLogName : name), 0);
    Finish();
}

void TBuMainForm::RunBackupTasks()
{
    // "/noaction" as given, before the own entries' rule below clears it.
    const bool actionsAllowed = Cmd.AllowAction;
    LogTaskStartEvent(Cmd.InterActiveMode, Cmd.CmdTasks);
    if (Cmd.CmdTasks.isEmpty() && Cmd.SDir.isEmpty())
        Cmd.CmdTasks = QStringLiteral("#");
    if (Cmd.LockDown) {
        QString detail;
        RequestPowerAction(TPowerAction::LockSession, false, &detail);
    }
    // The start delay holds everything, on purpose without events.
    for (int s = 0; s < Cmd.StartDelay; ++s)
        usleep(1000000);
    if (Cmd.InterActiveMode == TInteraction::iaNone)
        Cmd.InterActiveMode = TInteraction::iaDelay;

    const bool ownEntries = Cmd.CmdTasks.startsWith(QLatin1Char('#'));
    int items = 0;
    for (QString rest = Cmd.CmdTasks; !rest.isEmpty() && items < 2;)
        if (!SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"')).isEmpty())
            ++items;
    if (Cmd.BuParallel && !ownEntries && items > 1) {
        RunParallel();
    } else {
        if (ownEntries)
            Cmd.AllowAction = false;
        else if (Cmd.LogOffMode == TDownMode::dmRestart || Cmd.LogOffMode == TDownMode::dmHybrid)
            Cmd.AllowAction = false;
        FBackupForm.BuAction = CurrentActionCode(Cmd, Dispatch);
        const TBuResult r = RunAutoTasks(Cmd.CmdTasks, kRunGiven, Cmd.BuThPr, Cmd.InterActiveMode);
        if (Cmd.AllowAction)
            SetAfterRunAction(Cmd, Dispatch, r);
    }
    // An "end:" action still due from the command line obeys "/noaction"
    // and "/erractions:" too: the mask names the exit codes that must not
    // end in a shutdown.
    if (Dispatch.DownTask && (!actionsAllowed || !ErrorActionAllowed(Cmd.NoActionOnError, ProgExitCode)))
        Dispatch.DownTask = false;
    Finish();
}

void TBuMainForm::RunParallel()
{
    if (RunTasks && RunTasks->Done())
        FreeRunTasks(RunTasks);
    if (!RunTasks)
        RunTasks = TRunTasks::Create(ChildCommandPrefix(ProgramPath + ProgramName, IniFileName, Cmd.BuThPr,
                                                        Cmd.InterActiveMode, StartedBy, CmdLogDir));
    RunTasks->SetPaused(true);
    AddParallelTasks(*RunTasks, Cmd.CmdTasks);
    RunTasks->SetPaused(false);
    std::shared_ptr<TRunTasks> runner = RunTasks;
    WaitUntil([&runner] { return runner->Done(); }, 100);
    // A start error posted just before the end.
    ProcessMessages();
    SetExitCode(runner->ExitCode(), 0);
    if (!ErrorActionAllowed(Cmd.NoActionOnError, ProgExitCode)) {
        Cmd.LogOffMode = TDownMode::dmNone;
        Cmd.SuspendMode = TSuspendMode::smNone;
    }
    if (Cmd.SuspendMode != TSuspendMode::smNone)
        SuspendNow(Cmd);
    else
        Dispatch.DownTask = Cmd.LogOffMode != TDownMode::dmNone;
}

void TBuMainForm::RunAutomaticStart()
{
    AppMinimized = true;
    if (EventLogAvailable)
        WriteEventLog(QStringLiteral("Velkor"), eltInformation, 1, 0x4000000B,
                      QStringList{QStringLiteral("Velkor ") + Tr("is checking for pending backups!")});

    if (VlSettings.StartSettings.FailNotification && Settings.LastError > 0) {
        const int last = Settings.LastError;
        ShowInfoBox(Tr("There were errors during backup on last logoff/shutdown:") + QStringLiteral("\r\n") +
                        GuardedFormat(Tr("Automatic backup %u: "), last / 100) + TaskErrorText(last % 100),
                    0);
        Settings.LastError = 0;
        Schedules->LastError = 0;
        WriteOrTell([this] { Settings.SaveLastError(); });
    } else {
        CatchUpInterruptedBackup(true, Cmd.InterActiveMode);
    }

    const TBuResult r = RunAutoTasks(QString(), kRunAtStart, Cmd.BuThPr, Cmd.InterActiveMode);
    if (r == TBuResult::brWait || Cmd.StayRun) {
        // A file handed over meanwhile is opened by its kind when the
        // dispatch ends.
        StayInBackground();
        return;
    }
    Finish();
}

void TBuMainForm::CatchUpInterruptedBackup(bool ACheckEntries, TInteraction AInterAct)
{
    QString task;
    TDateTime started = 0;
    if (!ReadLockFile(SettingsFolder, task, started) || task.isEmpty())
        return;
    const int entry = ACheckEntries ? Schedules->AutoTaskIndexOf(task, 0) : -1;
    const QString first = Tr("Due to a system error, the following backup could not be completed:");
    if (entry < 0 || !Schedules->AutoTaskIsActive(entry)) {
        const QString text = first + QStringLiteral("\r\n") +
                             GuardedFormat(Tr("%s\r\nStart time: %s\r\nDo you want to catch up on this backup now?"),
                                           task, FormatDateTime(QStringLiteral("ddddd tt"), started));
        if (ConfirmBox(text))
            RunAutoTasks(QuoteIfContainsChar(task, QStringLiteral(",\"")), kRunGiven, Cmd.BuThPr, AInterAct);
    } else if (VlSettings.StartSettings.FailNotification) {
        // The entry's own catch-up rules apply.
        ShowInfoBox(first + QStringLiteral("\r\n") + GuardedFormat(Tr("Automatic backup %u: "), entry + 1) + task, 0);
    }
}

int TBuMainForm::InteractiveChoice(QString &ATaskFile) const
{
    ATaskFile.clear();
    if (PreScanFlags == kPreScanStartBackup)
        return kChoiceStartBackup;
    if (Cmd.CmdTasks.isEmpty())
        return Cmd.DoEdit ? kChoiceEdit : kChoiceControlPanel;
    if (Cmd.CmdTasks.startsWith(QLatin1Char('#')))
        return kChoiceStartBackup;
    QString rest = Cmd.CmdTasks;
    ATaskFile = ExpandTaskFileName(SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"')), QString());
    if (IsToolTaskFile(ATaskFile))
        return kChoiceControlPanel;
    ATaskFile = ForceExtension(ATaskFile, QStringLiteral("buj"), 0);
    return Cmd.DoEdit ? kChoiceEdit : -1;
}

void TBuMainForm::RunInteractive()
{
    BackupIsRunning = false;
    QString file;
    int choice = InteractiveChoice(file);
    const bool toolTask = IsToolTaskFile(file);
    if (choice < 0)
        // Without the start dialog the task is shown, never run unasked.
        choice = OnStartDialog ? OnStartDialog(file) : kChoiceControlPanel;

    switch (choice) {
    case kChoiceStartBackup: {
        if (Cmd.InterActiveMode == TInteraction::iaNone)
            Cmd.InterActiveMode = TInteraction::iaPrompt;
        const TBuResult r = RunAutoTasks(Cmd.CmdTasks, kRunGiven, Cmd.BuThPr, Cmd.InterActiveMode);
        Dispatch.DownTask = false;
        Cmd.SuspendMode = TSuspendMode::smNone;
        if (r != TBuResult::brError && ProgExitCode != 5) {
            switch (r) {
            case TBuResult::brShutdown:
                Cmd.LogOffMode = TDownMode::dmShutdown;
                Dispatch.DownTask = true;
                break;
            case TBuResult::brLogOff:
                Cmd.LogOffMode = TDownMode::dmLogOff;
                Dispatch.DownTask = true;
                break;
            case TBuResult::brStandby:
            case TBuResult::brHibernate:
                Cmd.SuspendMode = r == TBuResult::brStandby ? TSuspendMode::smStandby : TSuspendMode::smHibernate;
                SuspendNow(Cmd);
                break;
            default: break;
            }
        }
        EndProgram(false);
        return;
    }
    case kChoiceEdit:
        CatchUpInterruptedBackup(false, TInteraction::iaPrompt);
        if (OnEditBackupTask) {
            EditBackupTask(file);
            if (!Cmd.DoEdit && OnShowMainWindow && OnShowMainWindow(TMainPage::mpBackup))
                return;
        } else {
            WindowNotAvailable(file);
        }
        EndProgram(false);
        return;
    case kChoiceControlPanel: {
        TMainPage page = TMainPage::mpBackup;
        if (toolTask) {
            if (!OnOpenToolTask) {
                WindowNotAvailable(file);
                EndProgram(false);
                return;
            }
            const int opened = OnOpenToolTask(file);
            if (opened < 1 || opened > 3) {
                // Nothing was opened.
                EndProgram(false);
                return;
            }
            page = ToolTaskPage(opened);
        } else if (!file.isEmpty() && QFileInfo::exists(file)) {
            CurrentTask = file;
            AddBackupTask(file);
        }
        if (OnShowMainWindow && OnShowMainWindow(page))
            return;
        WindowNotAvailable(file);
        EndProgram(false);
        return;
    }
    default: EndProgram(false); return;
    }
}

} // namespace vl
