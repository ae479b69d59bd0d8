// One backup run from its first step to its result: the order of the
// phases (RunStartup.cpp to RunCompletion.cpp), the ways a run ends early,
// the exit code, and the release of everything the run holds.
#include "backup/RunContext.h"

#include "backup/MainServices.h"
#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/FileStream.h"
#include "core/LockFile.h"
#include "core/MessageService.h"
#include "core/NetShares.h"
#include "core/PathUtils.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "engine/VssUtils.h"
#include "engine/ZipWrite.h"
#include "platform/System.h"

#include <cmath>
#include <exception>

namespace vl {

namespace {

constexpr TColor kErrorColor = 255;

const QString kErrorPrefix = QStringLiteral("  *** ");

int AutoCloseValue(TInteraction AMode)
{
    switch (AMode) {
    case TInteraction::iaDelay:
        return VlSettings.ViewSettings.AutoWaitTime;
    case TInteraction::iaQuiet:
        return -1;
    case TInteraction::iaErrorPrompt:
        return VlSettings.ViewSettings.AutoWaitTime + 4096;
    case TInteraction::iaQuietError:
        return -2;
    default:
        return 0;
    }
}

// The lock file of the run. A file left behind by a run that was killed
// is taken over (with a log line); one held by a running backup is left
// alone and the run goes on without a lock.
bool TakeRunLock(TBackupForm &AForm, const QString &ATaskPath)
{
    if (SettingsFolder.isEmpty())
        return false;
    const QString folder = WithTrailingDelimiter(SettingsFolder);
    if (CreateLockFile(folder, ATaskPath))
        return true;
    QString owner;
    TDateTime lockTime = 0;
    if (!LockFileExists(folder) || !ReadLockFile(folder, owner, lockTime))
        return false;
    AForm.WriteToLog(1, kErrorPrefix + GuardedFormat(Tr("Lock file of an interrupted run was removed: %s"), owner));
    return CreateLockFile(folder, ATaskPath);
}

} // namespace

TAutoTask *TBackupForm::ScheduleEntry(int Nr)
{
    return Nr > 0 ? BuMainForm().AutoTask(Nr - 1) : nullptr;
}

QString TBackupForm::CurrentExceptionText()
{
    try {
        throw;
    } catch (const EZipError &e) {
        // Zip codes are no system error numbers: the writer's own text.
        return e.Message();
    } catch (const EInOutError &e) {
        return SystemErrorText(e.ErrorCode());
    } catch (const EOSError &e) {
        return SystemErrorText(e.ErrorCode());
    } catch (const EExtFileStreamError &e) {
        return SystemErrorText(uint32_t(e.ErrorCode()));
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return Tr("Unknown error");
    }
}

TBuResult TBackupForm::RunBackup(int Nr, const QString &ATaskPath, TInteraction IaMode)
{
    TRunContext R;
    R.Nr = Nr;
    R.TaskPath = ATaskPath;
    R.IaMode = IaMode;
    R.AutoTask = ScheduleEntry(Nr);

    // What the headless services answer for the user goes into the log, so
    // that an unattended run shows which questions it could not ask.
    SetServiceLogSink([this](const QString &ALine) { WriteToLog(1, ServiceLogLine(ALine)); });
    int step = 0;
    try {
        RunPhases(R, step);
    } catch (...) {
        const QString text = CurrentExceptionText();
        try {
            HandleUnexpectedRunError(R, text, step >= 8);
        } catch (...) {
            BuMainForm().SetExitCode(4, R.Nr);
        }
    }
    try {
        CleanUpRun(R);
    } catch (...) {
        // The clean-up frees what it can; a failure there changes no result.
    }
    SetServiceLogSink({});
    return R.Result;
}

void TBackupForm::RunPhases(TRunContext &R, int &AStep)
{
    // 1. Counters saved, header.
    AStep = 1;
    SaveDirCounters();
    ZipArchive.reset();
    SyncDelCount = 0;
    InitLog(Tr("Data backup"));

    // 2. Awake for the whole run.
    AStep = 2;
    SetKeepAwake(!DisplayOff, Tr("Backup is running"));

    // 3. Description, configuration.
    AStep = 3;
    R.Description = RunDescription(R.Nr, R.TaskPath);
    const QString destText = BuFtp ? edtFtp.Text() : BuZiel.Text();
    const bool configured = !destText.isEmpty() && SelectedDirBox.Count() > 0;

    // 4. Run state.
    AStep = 4;
    StartTime = Now();
    Heute = std::floor(StartTime);
    ActPwd.clear();
    CopyVol = 0;
    SuspTime = 0;
    CopyTime = 0;
    TimeOutCount = TimeOutMax;
    SavedSuspTime = StartTime;
    BuStatus = TBuStatus::bsOK;

    // 5. Not configured: one line, no lock, no mail.
    AStep = 5;
    if (!configured) {
        BeginLog(StartTime, R.Description);
        WriteToLog(1, kErrorPrefix + Tr("Invalid task configuration") + QStringLiteral(": ") + R.TaskPath);
        BuMainForm().SetExitCode(6, R.Nr);
        return;
    }

    // 6. Lock file.
    AStep = 6;
    R.LockTaken = TakeRunLock(*this, R.TaskPath);

    // 7. Encryption password; without one the run is cancelled.
    AStep = 7;
    if (!GetRunPassword(R)) {
        WriteToLog(1, kErrorPrefix + Tr("Canceled by user"));
        BuMainForm().SetExitCode(5, R.Nr);
        return;
    }

    // 8. Encryption, interaction, mode.
    AStep = 8;
    SetUpRunEncryption(R);
    R.AutoClose = AutoCloseValue(R.IaMode);
    Prompting = IsPromptInteraction(R.IaMode);
    R.MayAsk = Prompting || R.IaMode == TInteraction::iaQuietError;
    Heute = std::floor(Now());
    R.SyncOnly = SyncMode >= 1 &&
                 (DestMode == 0 || DestMode == 1 || DestMode == 3 || (DestMode == 2 && SelectedDirBox.Count() == 1));
    SetRunMode(R);

    // 9. Mail body, start line, header lines.
    AStep = 9;
    WriteRunHeader(R);

    // 10. Time slot of the command line.
    AStep = 10;
    CheckCmdTimeSlot(R);

    // 11. Progress window, destination text, program before.
    AStep = 11;
    if (!R.Abort) {
        ShowRunProgress(R);
        ExpandRunDestination(R);
        RunProgramBefore(R);
    }

    // 12. A start-up phase failed: end line, failed-run mail, exit code 4.
    AStep = 12;
    if (R.Abort) {
        WriteToLog(3, QString());
        const QString endLine = QStringLiteral("  ==> ") + Tr("End") + QStringLiteral(": ") +
                                FormatDateTime(QStringLiteral("ddddd tt"), Now()) + QStringLiteral(" - ") +
                                R.Description;
        WriteToLog(1, endLine);
        AddToMail(MailMode, endLine);
        SendMail(MailMode, MailData, StartTime, Now(), LoadedTaskName, Tr("Backup on "), Tr("Backup was canceled!"),
                 Tr("Canceled by user"), true, R.IaMode);
        BuMainForm().SetExitCode(4, R.Nr);
        return;
    }

    // 13. Snapshot.
    AStep = 13;
    CreateRunShadowCopy(R);

    // 14. Total amount, destination.
    AStep = 14;
    ShowRunTotal(R);
    SetUpRunDestination(R);

    // 15. Cycle folder and the source entries.
    AStep = 15;
    if (R.DestReady) {
        SetUpCycleFolder(R);
        if (!R.CycleFolderFailed) {
            BackupSourceEntries(R);
            FinishRunArchive(R);
        }
        FinishRunDestination(R);
    }

    // 16. Completion.
    AStep = 16;
    // State, exit code (5 cancelled; 4 errors or an incomplete backup
    // while the code is still 0) and the result are the completion's.
    CompleteRun(R);
}

void TBackupForm::HandleUnexpectedRunError(TRunContext &R, const QString &AText, bool AShowStatus)
{
    // The writer may hold a half-written archive open: it goes first.
    ZipArchive.reset();
    // From the mode, not R.AutoClose: an error early in step 8 comes before
    // that is set, and a quiet run must not get a page that waits.
    if (AShowStatus)
        ShowRunStatus(TResultStatus::psError, Tr("Backup completed"), AutoCloseValue(R.IaMode), kErrorColor, 0, 0,
                      Tr("Unexpected error during backup"), QString());
    WriteToLog(1, kErrorPrefix + Tr("Unexpected error during backup") + QStringLiteral(" (") + AText +
                      QLatin1Char(')'));
    BuMainForm().SetExitCode(4, R.Nr);
}

void TBackupForm::CleanUpRun(TRunContext &R)
{
    ReleaseNetworkShare();
    if (R.LockTaken) {
        ReleaseLockFile();
        R.LockTaken = false;
    }
    Encryption.reset();
    FTP.reset();
    CopyThread.reset();
    if (R.VssThread) {
        // Still held after an unexpected error: the snapshot must not
        // outlive the run.
        ReplSourceDrv.clear();
        try {
            R.VssThread->DeleteShadowCopy();
        } catch (...) {
        }
        R.VssThread.reset();
    }
    ClearKeepAwake();
    ZipArchive.reset();
}

} // namespace vl
