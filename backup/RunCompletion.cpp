// The end of a run: what the destination keeps of it (time stamp file,
// snapshot document, no empty folder), then the outcome: state, end line,
// program after the backup, status page or event-log entry, status lines,
// log display, schedule state, mail report and the result.
#include "backup/RunContext.h"

#include "backup/DestPreparation.h"
#include "backup/MainServices.h"
#include "backup/TimeStampFile.h"
#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "core/FileUtils.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/FtpUtils.h"
#include "engine/VssUtils.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "ui/ProgressWindow.h"

#include <QDir>

namespace vl {

namespace {

const QString kErrorMark = QStringLiteral("  *** ");
const QString kExtMark = QStringLiteral("  ### ");
const QString kInfoMark = QStringLiteral("  ==> ");
const QString kGroup = QStringLiteral("B");
const QString kVssDocName = QStringLiteral("VssBackupDoc.xml");
// Cancelled runs and runs that did not complete without a status page.
constexpr uint32_t kEventRunFailed = 0xC0000011;
constexpr TColor kColorFailed = 255;
constexpr TColor kColorOk = 0x503000;

bool SameDir(const QString &A, const QString &B)
{
    return QDir::cleanPath(A) == QDir::cleanPath(B);
}

void WriteRunEvent(const QString &AText)
{
    if (EventLogAvailable && EventSourceExists(QStringLiteral("Velkor")))
        WriteEventLog(QStringLiteral("Velkor"), eltError, 1, kEventRunFailed, AText.split(QStringLiteral("\r\n")));
}

// Whether the program after the backup runs for this state and its
// condition bits.
bool PostProgramRuns(int AState, int ABits, int ACopied)
{
    if (AState == 0)
        return !(ACopied == 0 && (ABits & kSkipAfterIdle));
    if (AState == 2 || AState == 5)
        return !(ABits & kSkipAfterCancel);
    return !(ABits & kSkipAfterErrors);
}

} // namespace

void TBackupForm::FinishRunDestination(TRunContext &R)
{
    if (!R.DestReady)
        return;
    if (R.CycleFolderFailed) {
        const QString line = kErrorMark + GuardedFormat(Tr("Could not create directory: \"%s\""), BaseDir);
        AddToMail(MailMode, line);
        WriteToLog(1, line);
        if (R.StatusText.isEmpty())
            R.StatusText = GuardedFormat(Tr("Could not create directory:\r\n\"%s\""), BaseDir);
        return;
    }

    // The stamp says "everything up to the start time is in the
    // destination": a cancelled or incomplete run must not claim that.
    const bool complete = BuStatus == TBuStatus::bsOK && R.StatusText.isEmpty();
    const bool withDoc = R.VssThread && !R.VssDocument.isEmpty() && DestMode != 4;

    if (BuFtp) {
        if (!FTP)
            return;
        if ((ClearDest || WriteTsFile) && complete) {
            const int32_t code = WriteFtpTimeStamp(*FTP, StartTime);
            if (code != 0) {
                WriteErrorToLog(1, kGroup, FileErrorMessage(code, TimeStampFileName(QString())));
                ++R.Count.ErrorCount;
            }
        }
        if (withDoc) {
            if (!R.EntryDestBase.isEmpty())
                FTP->ChangeToNewDir(R.EntryDestBase);
            const int32_t code = FTP->CopyFile(R.VssDocument, kVssDocName);
            if (code != 0)
                WriteErrorToLog(1, kGroup, FileErrorMessage(code, kVssDocName));
        }
        return;
    }

    if (!XlDirectoryExists(BaseDir, true))
        return;
    const QString base = WithTrailingDelimiter(BaseDir);
    if (!R.Alternating && IsDestinationEmpty(BaseDir)) {
        const QString stamp = TimeStampFileName(base);
        if (XlFileExists(stamp, false))
            FileDelete(stamp);
        // An undated destination named by the user stays; dated folders
        // would pile up empty.
        if (!(SameDir(BaseDir, R.DestDir) && !HasDateTimePlaceHolder(BuZiel.Text())))
            XlRemoveDirectory(BaseDir);
        return;
    }

    if ((R.Alternating || ClearDest || WriteTsFile) && complete) {
        // The entries' copies must be on disk before the stamp claims them.
        // Without the stamp the next full backup may clear once more:
        // an error of the run, not an OK with an error line.
        const uint32_t code = SyncFileSystem(BaseDir);
        if (code != 0) {
            WriteErrorToLog(1, kGroup, FileErrorMessage(MakeFileError(feCreateFile), TimeStampFileName(base)),
                            int(code));
            ++R.Count.ErrorCount;
        } else {
            WriteDestTimeStamp(base, StartTime); // a failure counts into ErrorCnt
        }
    }
    if (withDoc) {
        try {
            XlCopyFileWithAttributes(R.VssDocument, WithTrailingDelimiter(R.EntryDestBase) + kVssDocName, -1, 0);
        } catch (const ECopyError &e) {
            WriteErrorToLog(1, kGroup, QString::fromStdString(e.what()));
        }
    }
    if (!SameDir(R.LastEntryDest, BaseDir) || DestMode == 2) {
        TFileTime ft = 0;
        UtcDateTimeToFileTime(ft, StartTime); // the local time as it is
        const uint32_t code = SetDirectoryTime(BaseDir, ft, true);
        if (code != 0)
            WriteErrorToLog(
                6, kGroup,
                FileErrorMessage(MakeFileError(feSetTimestamp, ecWarning), BaseDir, FormatTimeStamp(StartTime)),
                int(code));
    }
}

void TBackupForm::CompleteRun(TRunContext &R)
{
    IProgressWindow &progress = ProgressWindow();

    // ---- End of the work ----
    if (R.VssThread) {
        ReplSourceDrv.clear();
        WriteToLog(1, kExtMark + GuardedFormat(Tr("Deleting Volume Shadow Copy for drive %s"), R.VssDrive));
        std::shared_ptr<TVssThread> thread = std::move(R.VssThread);
        R.VssThread.reset();
        // The thread goes with `thread`, also when the release raises.
        thread->DeleteShadowCopy();
    }
    if (BuFtp && FTP) {
        try {
            FTP->Disconnect();
        } catch (...) {
            // The run's data is written; a failing goodbye changes nothing.
        }
        FTP->SetWriteLogFile(false);
    }
    EndTime = Now();

    // Errors and warnings counted outside the walk of the entries (link
    // information, archive rotation, synchronisation, time-stamp file) are
    // the run's as well.
    R.Count.ErrorCount += ErrorCnt;
    R.Count.WarningCount += WarningCnt;
    ErrorCnt = 0;
    WarningCnt = 0;

    const TRunContext::TCounters &c = R.Count;
    if (BuStatus != TBuStatus::bsOK)
        R.State = 5;
    else {
        R.State = ProgExitCode;
        if (R.State == 0 && (!R.StatusText.isEmpty() || c.WarningCount + c.ErrorCount > 0))
            R.State = 4;
    }

    const QString endLine = kInfoMark + Tr("End") + QStringLiteral(": ") +
        FormatDateTime(QStringLiteral("ddddd tt"), EndTime) + QStringLiteral(" - ") + R.Description;
    WriteToLog(1, endLine);
    AddToMail(MailMode, endLine);

    // ---- Program after the backup ----
    if (cbPostC.Checked()) {
        if (PostProgramRuns(R.State, BuPostCmd.ErrorLevel, c.CopiedCount)) {
            ShowExtProgPrompt(Tr("External program after backup"), CommandLineForLog(BuPostCmd.Command, -1));
            TExtProgResult res;
            RunExternalProgram(BuPostCmd, R.IaMode, R.State, res);
            const QString forState = CommandLineForLog(BuPostCmd.Command, R.State);
            switch (res.State) {
            case TExtProgState::epDone:
                AddToMail(MailMode, kExtMark + GuardedFormat(Tr("External program was successful: %s"), forState));
                break;
            case TExtProgState::epFailed:
                AddToMail(MailMode,
                          kExtMark + GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral(" "), forState));
                break;
            case TExtProgState::epErrorLevel:
                AddToMail(MailMode,
                          kExtMark +
                              GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral(" "),
                                            CommandLineForLog(BuPostCmd.Command, -1)) +
                              QStringLiteral(" (") + GuardedFormat(Tr("Returned errorlevel = %u"), unsigned(res.Code)) +
                              QLatin1Char(')'));
                break;
            case TExtProgState::epNotFound:
                AddToMail(MailMode,
                          kExtMark +
                              GuardedFormat(Tr("External program not found:%s%s"), QStringLiteral(" "), forState));
                break;
            case TExtProgState::epNotRun: break;
            }
            // A program that was not started (no command) did not fail.
            if (res.State != TExtProgState::epDone && res.State != TExtProgState::epNotRun)
                R.ExtProgFailed = true;
            progress.SetLockStatus(0);
        } else {
            WriteToLog(1,
                       kExtMark + Tr("External program after backup") + QLatin1Char(' ') + Tr("was skipped") +
                           QStringLiteral(" [") + QString::number(R.State) + QLatin1Char(']'));
        }
    }

    ClearKeepAwake();
    R.SubAction = SubsequentActionResult(BuAction);

    // ---- Final status ----
    const bool quiet = R.AutoClose == -1;
    QString T = FilesCopiedText(c.CopiedCount, c.FileCount, c.CopiedBytes, c.TotalBytes);
    QString S;
    if (BuStatus != TBuStatus::bsOK) {
        const QString cause = BuStatus == TBuStatus::bsFull ? Tr("Canceled because of full destination volume")
            : BuStatus == TBuStatus::bsBroken               ? Tr("FTP connection lost!")
                                                            : Tr("Canceled by user");
        S = cause;
        AddToMail(MailMode, kErrorMark + cause);
        BuMainForm().SetExitCode(5, R.Nr);
        if (!quiet)
            R.SubAction =
                ShowRunStatus(TResultStatus::psCancel, Tr("Backup completed"), R.AutoClose, kColorFailed, c.TotalBytes,
                              c.FileCount, cause + QStringLiteral(" - ") + T, QStringLiteral(" "));
        else
            WriteRunEvent(cause);
    } else {
        const QString first =
            R.SyncErrors ? Tr("Warning: There were errors during synchronization!") : QStringLiteral(" ");
        if (R.StatusText.isEmpty() && c.WarningCount == 0 && c.ErrorCount == 0) {
            if (R.SyncOnly && SyncDelCount > 0)
                T += QStringLiteral(" (") + DeletedFilesText(SyncDelCount) + QLatin1Char(')');
            R.SubAction = ShowRunStatus(TResultStatus::psOK, Tr("Backup completed"), R.AutoClose, kColorOk,
                                        c.TotalBytes, c.FileCount, T, first);
            R.StatusText = Tr("OK");
            R.Result = TBuResult::brOK;
        } else if (R.StatusText.isEmpty()) {
            if (c.ErrorCount == 0)
                R.StatusText = CountText(QString(), Tr("1 warning"), Tr("%u warnings"), c.WarningCount);
            else {
                R.StatusText = CountText(QString(), Tr("1 error"), Tr("%u errors"), c.ErrorCount);
                if (c.ErrorBytes > 0)
                    R.StatusText += QStringLiteral(" (") + ByteSizeText(false, c.ErrorBytes) + QLatin1Char(')');
            }
            R.StatusText += Tr(" during backup");
            if (c.ErrorCount > 0 && ProgExitCode == 0)
                BuMainForm().SetExitCode(4, R.Nr);
            if (quiet) {
                WriteRunEvent(R.StatusText);
                R.SubAction = progress.Terminate();
            } else
                R.SubAction = ShowRunStatus(c.ErrorCount == 0 ? TResultStatus::psWarning : TResultStatus::psError,
                                            Tr("Backup completed"), R.AutoClose, kColorFailed, c.TotalBytes,
                                            c.FileCount, R.StatusText + QStringLiteral(" - ") + T, first);
            R.Result = TBuResult::brOK;
        } else {
            if (ProgExitCode == 0)
                BuMainForm().SetExitCode(4, R.Nr);
            if (quiet)
                WriteRunEvent(R.StatusText);
            else
                R.SubAction = ShowRunStatus(TResultStatus::psError, Tr("Backup completed"), R.AutoClose, kColorFailed,
                                            0, 0, R.StatusText, QString());
        }
        S = R.StatusText;
    }

    // ---- Network share of the task's account ----
    QString share, user;
    if (GetConnectedUser(user)) {
        const int32_t code = DisconnectNetworkShare(share, user);
        if (code == 0)
            WriteToLog(1,
                       kInfoMark + GuardedFormat(Tr("Connection as \"%1:s\" to \"%0:s\" was terminated"), share, user));
        else if (code > 0)
            WriteToLog(1,
                       kErrorMark +
                           GuardedFormat(Tr("Error on terminating the connection as \"%1:s\" to "
                                            "\"%0:s\": %2:s"),
                                         share, user, SystemErrorText(uint32_t(code))));
    }

    // ---- Status lines ----
    const QString head = QStringLiteral("  ") + Tr("Status: ");
    const QString pad(head.length(), QLatin1Char(' '));
    QStringList lines;
    lines << head + S + QStringLiteral(" - ") + Tr("Elapsed time: ") + ElapsedTimeText(EndTime - StartTime);
    lines << pad + Tr("Backup: ") + T;
    if (R.SyncOnly)
        lines << pad + Tr("Synchronization: ") + DeletedFilesText(SyncDelCount);
    for (const QString &line : lines)
        WriteToLog(1, line);
    const QString mailText = lines.join(QStringLiteral("\r\n"));

    if (R.SubAction & prLogShown) {
        if (CurrentLogMode() > 0) {
            FlushLogFile(1);
            ProtView(false, false);
        } else
            ShowInfoBox(Tr("No log available!"), 0);
        R.SubAction &= ~prLogShown;
    }

    QString actionText;
    switch (R.SubAction) {
    case prShutdown: actionText = Tr("The system will be shut down!"); break;
    case prLogOff: actionText = Tr("The user will be logged off!"); break;
    case prStandby: actionText = Tr("The system will enter the standby state!"); break;
    case prHibernate: actionText = Tr("The system will enter the hibernate state!"); break;
    default: break;
    }
    if (!actionText.isEmpty()) {
        WriteToLog(1, kInfoMark + actionText);
        AddToMail(MailMode, kInfoMark + actionText);
    }

    // ---- Last backup, schedule state ----
    lblLastSave.SetVisible(true);
    if (R.Result == TBuResult::brError)
        RestoreDirCounters();
    else {
        const QString started = FormatDateTime(QStringLiteral("ddddd tt"), StartTime);
        TAutoTask *entry = R.Nr > 0 ? (R.AutoTask ? R.AutoTask : ScheduleEntry(R.Nr)) : nullptr;
        if (R.Nr <= 0)
            LastBuTime.SetCaption(started);
        else if (entry) {
            if (entry->SchedProps.StepMode > 0)
                entry->SchedProps.LastZyk = entry->SchedProps.AktZyk;
            entry->LastTime = StartTime;
            if (LoadedTaskName == entry->TaskPath)
                LastBuTime.SetCaption(started);
        }
    }

    if (R.ExtProgFailed)
        S += QStringLiteral(" (") + Tr("External program failed") + QLatin1Char(')');

    try {
        SendMail(MailMode, MailData, StartTime, EndTime, LoadedTaskName, Tr("Backup on "), mailText, head + S,
                 c.ErrorCount > 0 || R.Result == TBuResult::brError, R.IaMode);
    } catch (const std::exception &e) {
        WriteToLog(
            1, kErrorMark + Tr("Sending mail") + QStringLiteral(" (") + QString::fromUtf8(e.what()) + QLatin1Char(')'));
    }

    R.Result = ProgressResultToBuResult(R.SubAction);
}

} // namespace vl
