// The ways into a backup run from outside the task window: DoBackupJob for
// the main window, the command line and the schedules, and the small
// helpers around a run (zip name, log destination, command text for logs).
#include "backup/BackupForm.h"
#include "backup/MainServices.h"

#include "core/DateTime.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/Settings.h"
#include "core/TaskFiles.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "platform/System.h"
#include "ui/InputDialogs.h"

#include <QStringList>

namespace vl {

namespace {

// Event entries of a task file that cannot be run (syslog carries the text:
// there are no message resources).
constexpr uint32_t kEventTaskFileMissing = 0xC000000E;
constexpr uint32_t kEventTaskFileInvalid = 0xC0000015;

} // namespace

// Opens the default log (level 1) for a task file that cannot be run and
// writes its header and start line; Nr and the path give the description.
void TBackupForm::OpenJobErrorLog(int Nr, const QString &ATaskPath, TInteraction InterAct)
{
    CheckLogError(OpenLogFile(1, QString(), false), IsPromptInteraction(InterAct));
    InitLog(Tr("Data backup"));
    BeginLog(Now(), RunDescription(Nr, ATaskPath));
}

TBuResult TBackupForm::DoBackupJob(int Nr, TInteraction InterAct, TThreadPriority Priority, const QString &ATaskPath)
{
    TBuResult result = TBuResult::brError;
    const bool quiet = IsQuietInteraction(InterAct);
    try {
        DoBackup = true;
        ClearDirList();

        if (!XlFileExists(ATaskPath, true)) {
            BuMainForm().SetExitCode(1, Nr);
            OpenJobErrorLog(Nr, ATaskPath, InterAct);
            WriteToLog(1, QStringLiteral("  *** ") + FormatDateTime(QStringLiteral("ddddd tt"), Now()) +
                              QStringLiteral(" - ") + Tr("File not found") + QStringLiteral(": ") + ATaskPath);
            if (InterAct == TInteraction::iaQuiet) {
                if (EventLogAvailable)
                    WriteEventLog(QStringLiteral("Velkor"), eltError, 1, kEventTaskFileMissing,
                                  {Tr("File not found") + QStringLiteral(": ") + ATaskPath});
            } else {
                const QString prefix = Nr > 0 ? GuardedFormat(Tr("Automatic backup %u: "), Nr) : QString();
                ShowErrorBox(prefix + GuardedFormat(Tr("File\r\n\"%s\"\r\nnot found!"), ATaskPath),
                             IsPromptInteraction(InterAct) ? 0 : VlSettings.ViewSettings.AutoWaitTime);
            }
            CloseLogFile(true);
            return TBuResult::brError;
        }

        if (quiet)
            BuMainForm().StartIconAnimate(QLatin1Char('B'));

        // What the services answer while the task loads (a damaged file, a
        // missing medium) has no log yet: it is kept for the log of a task
        // that cannot be run.
        QStringList loadLines;
        SetServiceLogSink([&loadLines](const QString &ALine) { loadLines << ALine; });
        bool loaded = false;
        try {
            loaded = LoadTask(ATaskPath, true, InterAct);
        } catch (...) {
            // A file the loader cannot get through is as unusable as a
            // damaged one; and the sink must not outlive loadLines.
            loadLines << CurrentExceptionText();
        }
        SetServiceLogSink({});
        if (!loaded) {
            BuMainForm().StopIconAnimate(true);
            // A file that exists but cannot be run is an invalid task
            // configuration, not a success.
            BuMainForm().SetExitCode(6, Nr);
            OpenJobErrorLog(Nr, ATaskPath, InterAct);
            const QString line = Tr("Invalid task configuration") + QStringLiteral(": ") + ATaskPath;
            WriteToLog(1, QStringLiteral("  *** ") + line);
            for (const QString &cause : loadLines)
                WriteToLog(1, ServiceLogLine(cause));
            if (quiet && EventLogAvailable) {
                QStringList strings{line};
                strings << loadLines;
                WriteEventLog(QStringLiteral("Velkor"), eltError, 1, kEventTaskFileInvalid, strings);
            }
            CloseLogFile(true);
            return TBuResult::brError;
        }

        ActTaskName = ATaskPath;
        ScanSourceDirs(ScanDirs, !quiet);

        const QString logName = ExpandTaskLogNameForDest(TaskLogName, LoadedTaskName, GetLogDestination());
        const bool mailLog = MailMode != TMailMode::mmNone && MailData.LogMode != TMailMode::mmNone;
        CheckLogError(OpenLogFile(TaskProtMode, logName, mailLog), IsPromptInteraction(InterAct));

        ZipName = MakeZipName(CmdZip.isEmpty() ? ZipNameEdit.Text() : CmdZip);
        CopyPriority = Priority;

        result = RunBackup(Nr, ATaskPath, InterAct);
        if (result != TBuResult::brError && ReplSourceDir.isEmpty())
            WriteTaskStatistics(ATaskPath);
    } catch (...) {
        // RunBackup catches its own; this is scanning, the task log or the
        // statistics.
        const QString text = CurrentExceptionText();
        result = TBuResult::brError;
        BuMainForm().SetExitCode(4, Nr);
        // Before the task log is open the line goes to the default log, so
        // that an exit code 4 is never left without its cause.
        if (ActMode == 0) {
            try {
                OpenJobErrorLog(Nr, ATaskPath, InterAct);
            } catch (...) {
            }
        }
        WriteToLog(1, QStringLiteral("  *** ") + Tr("Unexpected error during backup") + QStringLiteral(" (") + text +
                          QLatin1Char(')'));
    }
    BuMainForm().StopIconAnimate(true);
    CloseLogFile(true);
    return result;
}

QString TBackupForm::GetLogDestination() const
{
    if (BuFtp)
        return QString();
    return ExpandDestPlaceHolders(BuZiel.Text(), GetSourceVolumeName(), BackupCount);
}

bool TBackupForm::ExtActive(int PreFlags, int PostFlags)
{
    return ((PreFlags | PostFlags) & 0x2000) != 0;
}

void TBackupForm::PhZipBtnClick()
{
    // No view gives the button a place here: the dialog opens centred.
    const QString placeholder = SelectPlaceholder(kDefaultPos, TPhType::ptTime, QString());
    if (placeholder.isEmpty())
        return;
    if (DestMode == 5)
        ZipNameEdit.SetText(Tr("<root directory>") + QLatin1Char('-') + placeholder);
    else
        // The edit state keeps no caret: the placeholder goes to the end.
        ZipNameEdit.SetText(ZipNameEdit.Text() + placeholder);
    SetEditStatus(TEditStatus::esChanged);
}

QString TBackupForm::MakeZipName(const QString &zs) const
{
    QString name;
    if (zs.isEmpty())
        name = QStringLiteral("VL-Zip-") + FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now());
    else
        name = ExpandDestPlaceHolders(zs, GetSourceVolumeName(), BackupCount);
    return ForceExtension(name, QStringLiteral("zip"), 0);
}

void TBackupForm::LastAppToFront()
{
    if (OnLastAppToFront && BuMainForm().StatusStyle() == TStatusStyle::ssBehind)
        OnLastAppToFront();
}

QString TBackupForm::CommandLineForLog(const QString &ACommand, int AStatus) const
{
    if (CmdEnc == 1)
        return Tr("Hidden command line");
    if (AStatus < -1)
        return ACommand;
    return ExpandExecPlaceHolders(ACommand, AStatus == -1 ? QString() : QString::number(AStatus));
}

} // namespace vl
