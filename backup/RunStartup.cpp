// The start of a backup run: its description and mode, the encryption
// password, the header of log and mail report, the command line's time
// slot, the progress window, the destination text, the program before the
// backup, the snapshot of the source volume and the total amount.
#include "backup/RunContext.h"

#include "backup/DestPreparation.h"
#include "backup/MainServices.h"
#include "core/Destinations.h"
#include "core/Format.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Translate.h"
#include "engine/Encryption.h"
#include "engine/VssUtils.h"
#include "platform/System.h"
#include "platform/Thread.h"
#include "ui/TimeSlotDialog.h"

#include <algorithm>

namespace vl {

namespace {

const QString kErrorMarker = QStringLiteral("  *** ");
const QString kInfoMarker = QStringLiteral("  ### ");

// The mode letter of the backup modes 1 to 3; none for "Update".
QString ModeLetter(int AMode)
{
    switch (AMode) {
    case 1:
        return QStringLiteral(" (F)");
    case 2:
        return QStringLiteral(" (D)");
    case 3:
        return QStringLiteral(" (I)");
    default:
        return QString();
    }
}

// The backup mode of a run of an alternating schedule: the first step of a
// cycle is the full one; the "2" kinds add a full run in the middle of a
// cycle of six steps or more. A cycle counted in whole weeks (a multiple
// of 7 steps) is counted from its full day.
int AlternatingBackupMode(const TSchedule &ASched)
{
    const int step = ASched.NumZyk % 7 != 0 ? ASched.AktZyk : ASched.AktZyk - ASched.FullZyk;
    const bool middle = ASched.NumZyk >= 6 && step == ASched.NumZyk / 2 + 1;
    switch (ASched.SchedMode) {
    case TSchedMode::smDiff:
        return step == 1 ? 1 : 2;
    case TSchedMode::smIncr:
        return step == 1 ? 1 : 3;
    case TSchedMode::smDiff2:
        return step == 1 || middle ? 1 : 2;
    case TSchedMode::smIncr2:
        return step == 1 || middle ? 1 : 3;
    default:
        return 0;
    }
}

QString ScheduleText(const TAutoTask &ATask)
{
    const QString time = FormatDateTime(QStringLiteral("hh:nn"), ATask.NextTime);
    const QString days = WeekdaysText(int(ATask.WeekDay));
    switch (ATask.BuProcess) {
    case TAutoStart::asLogon:
        return Tr("Always on logon");
    case TAutoStart::asDaily:
        return Tr("Once per day on logon");
    case TAutoStart::asDailyAt:
        return GuardedFormat(Tr("At %s on %s"), time, days);
    case TAutoStart::asLogoff:
        return GuardedFormat(Tr("On logoff not before %s"), time);
    case TAutoStart::asWeekly:
        return Tr("On first logon on ") + days;
    case TAutoStart::asWeekDay:
        return Tr("On first logoff on ") + days;
    case TAutoStart::asByRequest:
        return Tr("By request");
    default:
        return Tr("Deactivated");
    }
}

QString StarterText(int ASource)
{
    switch (ASource) {
    case 1:
        return Tr("Started by Windows Task Scheduler");
    case 2:
        return Tr("Started by Morvane");
    case 3:
        return Tr("Started by VlStarter");
    case 4:
        return Tr("Started by ZuVivaze");
    case 5:
        return Tr("Started by VaVuz");
    default:
        return QString();
    }
}

// The first item after APrefix, every further one on a line of its own
// below it.
void WriteSummary(TBackupForm &AForm, const QString &APrefix, const QStringList &AItems)
{
    if (AItems.isEmpty())
        return;
    AForm.WriteToLog(2, APrefix + AItems.first());
    const QString indent(APrefix.size(), QLatin1Char(' '));
    for (qsizetype i = 1; i < AItems.size(); ++i)
        AForm.WriteToLog(2, indent + AItems.at(i));
}

// Schedule entry ANr (1..16) is the last one that starts on logon.
bool IsLastLogonEntry(int ANr)
{
    for (int i = 15; i >= 0; --i) {
        const TAutoTask *task = BuMainForm().AutoTask(i);
        if (task && task->BuProcess == TAutoStart::asLogon)
            return i == ANr - 1;
    }
    return false;
}

} // namespace

QString TBackupForm::RunDescription(int Nr, const QString &ATaskPath) const
{
    if (Nr > 0) {
        const TAutoTask *task = BuMainForm().AutoTask(Nr - 1);
        return GuardedFormat(Tr("Automatic backup %u: "), uint32_t(Nr)) + (task ? task->TaskName : QString());
    }
    if (!ATaskPath.isEmpty())
        return Tr("Backup task") + QStringLiteral(": ") + RelativePathTo(TaskFolder, ATaskPath);
    return Tr("New backup task");
}

bool TBackupForm::GetRunPassword(TRunContext &R)
{
    if (!cbEncrypt.Checked())
        return true;
    if (cbFixPwd.Checked())
        ActPwd = CryptPwd;
    if (!ActPwd.isEmpty())
        return true;
    const QString title = Tr("File encryption");
    const int minLen = VlSettings.OtherSettings.MinPwdLength;
    bool entered;
    if (Visible) {
        entered = EnterNewAnsiPassword(title, ActPwd, true, false, minLen);
    } else {
        entered = EnterRunCryptPassword(title, R.Description + QStringLiteral("\r\n") + Tr("uses file encryption!"),
                                        ActPwd, minLen);
        // Nobody can type the password: the log says why the run ends
        // (the controller adds "Canceled by user").
        if (!entered && !PasswordsCanBeAsked())
            WriteToLog(1, kErrorMarker + Tr("No encryption password available for an unattended run"));
    }
    if (!entered) {
        ActPwd.clear();
        return false;
    }
    if (ActPwd.isEmpty())
        return ConfirmBox(Tr("No encryption password specified!\r\nContinue backup without encryption?"));
    return true;
}

bool TBackupForm::EnterRunCryptPassword(const QString &ATitle, const QString &APrompt, QByteArray &APwd, int AMinLen)
{
    return EnterCryptPassword(ATitle, APrompt, APwd, AMinLen);
}

void TBackupForm::SetUpRunEncryption(TRunContext &)
{
    Encrypt = cbEncrypt.Checked() && !ActPwd.isEmpty();
    // Zip methods encrypt inside the zip writer.
    if (DestMode < 4 && Encrypt)
        Encryption = std::make_shared<TEncryption>(ActPwd, GetCryptKeyMode(), TaskBufferSize);
    else
        Encryption.reset();
}

void TBackupForm::SetRunMode(TRunContext &R)
{
    const auto modeName = [this](int AMode) {
        return AMode == 1 ? BuModeCB.Text() : BuModeCB.Items().value(AMode);
    };
    R.BackupMode = std::max(BuModeCB.ItemIndex(), 0);
    R.ModeName = BuModeCB.Text();
    QString letter;
    const TAutoTask *task = R.Nr > 0 ? R.AutoTask : nullptr;
    if (task && task->SchedProps.StepMode > 0 && task->SchedProps.SchedMode != TSchedMode::smNormal) {
        R.Alternating = true;
        R.BackupMode = AlternatingBackupMode(task->SchedProps);
        letter = ModeLetter(R.BackupMode);
        R.ModeName = modeName(R.BackupMode);
        R.MFull = R.BackupMode == 1;
        R.BDiff = task->SchedProps.SchedMode == TSchedMode::smDiff || task->SchedProps.SchedMode == TSchedMode::smDiff2;
    } else if (R.Nr > 0) {
        letter = R.SyncOnly ? QStringLiteral(" (S)") : ModeLetter(R.BackupMode);
    } else if (SpecMode > 0) {
        letter = SpecMode == 2 ? QStringLiteral(" (D)") : SpecMode == 3 ? QStringLiteral(" (I)") : QStringLiteral(" (F)");
        R.BackupMode = SpecMode;
        R.ModeName = modeName(SpecMode);
        R.MFull = SpecMode == 1;
        R.BDiff = SpecMode == 2;
    } else if (R.SyncOnly) {
        letter = QStringLiteral(" (S)");
    }
    if (!ActPwd.isEmpty()) {
        if (letter.isEmpty())
            letter = QStringLiteral(" ");
        else
            letter += QLatin1Char('+');
        letter += Tr("(Encrypted)");
    }
    R.ModeLetter = letter;
    R.Description += letter;
}

void TBackupForm::WriteRunHeader(TRunContext &R)
{
    InitMail(MailMode, StartTime, Tr("Data backup"), R.Description);
    BeginLog(StartTime, R.Description);
    if (R.Nr > 0) {
        const QString line = QStringLiteral("      ") + Tr("Filename:") + QLatin1Char(' ') + LoadedTaskName;
        AddToMail(MailMode, line);
        WriteToLog(2, line);
        if (R.AutoTask)
            WriteToLog(2, QStringLiteral("      ") + Tr("Time schedule") + QStringLiteral(": ") +
                              ScheduleText(*R.AutoTask));
    } else {
        WriteToLog(3, QStringLiteral("  ") + Tr("Filename:") + QLatin1Char(' ') + R.TaskPath);
        const QString starter = StarterText(StartedBy);
        if (!starter.isEmpty())
            WriteToLog(1, QStringLiteral("  ->  ") + starter);
    }
    const QString computer = QStringLiteral("  ") + Tr("Computer: ") + LocalComputerName();
    AddToMail(MailMode, computer);
    WriteToLog(2, computer);
    WriteToLog(1, QStringLiteral("  ") + Tr("Method: ") + DestinationLayoutText(DestMode, MaxZipSize));
    if (CurrentLogMode() < 2)
        return;

    QStringList settings;
    if (DestMode < 4) {
        if (cbCompress.Checked())
            settings << Tr("Compress files");
        if (cbZipCompress.Checked()) {
            if (settings.isEmpty())
                settings << Tr("as zip");
            else
                settings.last() += QLatin1Char(' ') + Tr("as zip");
        }
        if (cbAltStreams.Enabled() && cbAltStreams.Checked())
            settings << Tr("Copy alternate data streams");
        if (cbCopySummary.Checked())
            settings << Tr("Copy document summary");
        if (cbCopyPerms.Checked())
            settings << Tr("Copy file permissions");
        if (cbCreationTime.Checked())
            settings << Tr("Copy creation time");
    }
    if (cbNoAttributes.Checked())
        settings << Tr("Do not copy file attributes");
    if (Encrypt)
        settings << Tr("Encrypt files");
    if (cbEncNames.Checked())
        settings << Tr("Encrypt filenames");
    if (cbVerify.Checked())
        settings << Tr("Verify copied files");
    if (cbDelDir.Checked())
        settings << Tr("Delete empty directories at destination");
    if (cbSourceDelete.Checked())
        settings << Tr("Delete source files after backup");

    QStringList options;
    if (SyncMode != 0)
        options << Tr("Synchronize") + QStringLiteral(" - ") + cbSync.Items().value(SyncMode);
    if (KeepBakCB.Checked() || KeepSyncCB.Checked()) {
        QStringList when;
        if (KeepBakCB.Checked())
            when << Tr("During backup");
        if (KeepSyncCB.Checked())
            when << Tr("During synchronization");
        options << Tr("Security backup of old file versions") + QStringLiteral(": ") +
                       when.join(QLatin1Char(' ') + Tr("and") + QLatin1Char(' '));
    }
    if (cbMail.Checked())
        options << Tr("Send mail after backup");
    if (cbPreC.Checked() || cbPostC.Checked()) {
        const QString head = Tr("External programs: ");
        const QString after = GuardedFormat(Tr("after Backup (%s)"), CommandLineForLog(BuPostCmd.Command, -2));
        if (cbPreC.Checked()) {
            options << head + GuardedFormat(Tr("before Backup (%s)"), CommandLineForLog(BuPreCmd.Command, -2));
            if (cbPostC.Checked())
                options << QString(head.size(), QLatin1Char(' ')) + after;
        } else {
            options << head + after;
        }
    }
    WriteSummary(*this, QStringLiteral("  ") + Tr("Settings: "), settings);
    WriteSummary(*this, QStringLiteral("  ") + Tr("Options:  "), options);
}

void TBackupForm::CheckCmdTimeSlot(TRunContext &R)
{
    if (CmdTmPeriod.Mode == TTimeMode::tmPrompt) {
        if (!SelectTimeSlot(CmdTmPeriod)) {
            WriteToLog(1, kErrorMarker + Tr("Canceled by user"));
            R.Abort = true;
        }
    } else if (CmdTmPeriod.Mode == TTimeMode::tmError) {
        WriteToLog(1, kErrorMarker + Tr("Invalid time slot from command line!"));
        R.Abort = true;
    }
}

void TBackupForm::ShowRunProgress(TRunContext &R)
{
    TProgressOptions options =
        ProgressOptions({TProgressOption::poBackup, TProgressOption::poMinimize, TProgressOption::poPause});
    if (R.Nr < 0 || (R.Nr > 0 && IsLastLogonEntry(R.Nr)))
        options |= ProgressOptions({TProgressOption::poAction});
    if (R.Nr > 0)
        options |= ProgressOptions({TProgressOption::poAutoTask});
    // The tag of the program that started the run; the starters 1 to 4
    // have one, a start by source 5 gets none (and no " - ").
    QString title = R.Description;
    if (StartedBy > 0 && size_t(StartedBy) < StarterCodes.size() && !StarterCodes[size_t(StartedBy)].isEmpty())
        title += QStringLiteral(" - ") + StarterCodes[size_t(StartedBy)];
    IProgressWindow &window = ProgressWindow();
    window.ShowProgress(&RunControl, title, Tr("Destination"), QString(), options, BuAction, R.AutoClose,
                        ClearDest || (R.SyncOnly && SyncBefore));
    ProcessMessages();
    // An unattended run shows its progress without taking the focus from
    // the program the user works in.
    if (!Visible && R.AutoClose >= 0)
        window.UpdateView();
    // Also after a start from the editor the window the user worked in
    // comes back; not while the tasks of a log-off or shutdown run.
    if (!BuMainForm().DownTask())
        LastAppToFront();
}

void TBackupForm::ExpandRunDestination(TRunContext &R)
{
    const QString dest = BuFtp ? edtFtp.Text() : BuZiel.Text();
    BaseDest = ExpandDestPlaceHolders(ExpandModePlaceholder(dest, R.BackupMode), GetSourceVolumeName(), BackupCount);
}

void TBackupForm::RunProgramBefore(TRunContext &R)
{
    if (!cbPreC.Checked())
        return;
    const QString command = CommandLineForLog(BuPreCmd.Command, -1);
    ShowExtProgPrompt(Tr("External program before backup"), command);
    TExtProgResult result;
    RunExternalProgram(BuPreCmd, R.IaMode, -1, result);
    switch (result.State) {
    case TExtProgState::epDone:
        AddToMail(MailMode, kInfoMarker + GuardedFormat(Tr("External program was successful: %s"), command));
        break;
    case TExtProgState::epFailed:
        AddToMail(MailMode, kInfoMarker + GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral(" "), command));
        R.Abort = true;
        break;
    case TExtProgState::epErrorLevel:
        AddToMail(MailMode, kInfoMarker + GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral(" "), command) +
                                QStringLiteral(" (") +
                                GuardedFormat(Tr("Returned errorlevel = %u"), uint32_t(result.Code)) +
                                QLatin1Char(')'));
        R.Abort = true;
        break;
    case TExtProgState::epNotFound:
        // Reported, and the backup goes on.
        AddToMail(MailMode,
                  kInfoMarker + GuardedFormat(Tr("External program not found:%s%s"), QStringLiteral(" "), command));
        break;
    case TExtProgState::epNotRun:
        break;
    }
    R.ExtProgFailed = result.State != TExtProgState::epDone;
    IProgressWindow &window = ProgressWindow();
    window.SetLockStatus(0);
    if (R.Abort)
        window.Terminate();
}

void TBackupForm::CreateRunShadowCopy(TRunContext &R)
{
    if (!cbUseVss.Checked() || SelectedDirBox.Count() == 0)
        return;
    // The snapshot is of the volume (mount) that holds the first source.
    const QString source = ResolvedVolumePath(SelectedDirBox.Objects(0).SPath, false);
    QString mount;
    VolumeNameOfDrive(source, mount);
    const QString drive = mount.isEmpty() ? source : mount;
    R.VssDrive = drive;
    R.VssDocument.clear();
    const QString creating = GuardedFormat(Tr("Creating a Volume Shadow Copy for drive %s"), drive);
    WriteToLog(1, kInfoMarker + creating);
    AddToMail(MailMode, kInfoMarker + creating);
    IProgressWindow &window = ProgressWindow();
    window.SetDestination(BaseDest);
    window.SetPrompt(creating);
    window.SetStepStyle(TNewProgressBarStyle::npsContinuous);

    std::shared_ptr<TVssThread> thread;
    try {
        thread = CreateVssThread(WithTrailingDelimiter(drive), true);
        thread->SetLogFileName(WithTrailingDelimiter(GetLogFolder()) + QStringLiteral("VlVss.log"));
        thread->SetWriteLog(VlSettings.OtherSettings.VssLog);
        // Status lines come from the worker; the prompt is the window's.
        std::weak_ptr<TVssThread> weak = thread;
        thread->SetOnStatusMessage([this, weak](const QString &AText) {
            if (auto t = weak.lock())
                t->Queue([this, AText] { VssStatusMessage(AText); });
        });
        thread->Start();
        thread->WriteLineToLog(QStringLiteral("Velkor is creating a Volume Shadow Copy: ") +
                               FormatDateTime(QStringLiteral("ddddd tt"), Now()));
        WaitUntil([&thread] { return thread->Done(); }, 50);
        ProcessMessages();
    } catch (const std::exception &) {
        // No snapshot service here: the run reads the live files.
        thread.reset();
    }

    if (thread && thread->Success() && !thread->ShadowDeviceName().isEmpty()) {
        const QString tempDir = WorkTempDir.isEmpty() ? TempDirectory() : WorkTempDir;
        const QString document = WithTrailingDelimiter(tempDir) + QStringLiteral("VssBackupDoc.xml");
        try {
            thread->SaveBackupComponentsDocument(document);
            R.VssDocument = document;
        } catch (const std::exception &) {
            // The snapshot serves without its document.
        }
        const QString device = thread->ShadowDeviceName();
        ReplSourceDrv = (thread->MountPoint().isEmpty() ? drive : thread->MountPoint()) + QLatin1Char('=') + device;
        R.VssThread = thread;
        WriteToLog(1, kInfoMarker + GuardedFormat(Tr("Volume Shadow Copy was created: %s"), device));
    } else {
        if (thread)
            thread->WriteLineToLog(QStringLiteral("\r\nSnapshot creation failed"));
        const QString failed =
            kErrorMarker + GuardedFormat(Tr("Creating of Volume Shadow Copy for drive %s failed!"), drive);
        WriteToLog(1, failed);
        AddToMail(MailMode, failed);
        R.VssThread.reset();
        ReplSourceDrv.clear();
    }
    window.SetStepStyle(TNewProgressBarStyle::npsNormal);
}

void TBackupForm::ShowRunTotal(TRunContext &R)
{
    R.Count = {};
    R.Prev = {};
    R.StatusText.clear();
    R.SyncErrors = false;
    ErrorCnt = 0;
    WarningCnt = 0;
    SyncDelCount = 0;
    const bool bytes = VlSettings.ViewSettings.SizeProgress;
    TotalSize = 0;
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        if (!SelectedDirBox.Checked(i))
            continue;
        const TExtensionList &entry = SelectedDirBox.Objects(i);
        // A count not known yet (negative) adds nothing.
        TotalSize += bytes ? std::max<int64_t>(entry.IBytes, 0) : std::max(entry.ICount, 0);
    }
    ProgressWindow().SetTotalAmount(bytes ? ByteSizeText(false, TotalSize) : FileCountText(int(TotalSize), false));
}

} // namespace vl
