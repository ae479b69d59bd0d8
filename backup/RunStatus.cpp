// Lines and pages that report the progress of a run to the user: the
// header of each source entry in the log and the mail report, the
// destination line, the final status page and the snapshot thread's
// status messages.
#include "backup/BackupForm.h"

#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Format.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "core/WindowServices.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace vl {

void TBackupForm::LogDirectoryHeader(int ANumber, const QString &ASource, const QString &AVolume)
{
    // Header lines carry no time: they would push the entry's title apart.
    LogTime = false;
    if (CurrentLogMode() == 3)
        WriteToLog(3, QString());
    QString line = QStringLiteral("  ") + OrdinalText(std::abs(ANumber)) + Tr("Directory") + QStringLiteral(": ");
    if (ANumber < 0) {
        WriteToLog(1, line + GuardedFormat(Tr("Not selected: \"%s\""), ASource));
        return;
    }
    WriteToLog(1, line);

    const QString sourceLabel = Tr("Source: ");
    line = QStringLiteral("  ") + sourceLabel;
    if (AVolume.isEmpty())
        line += ASource;
    else
        // The medium by its label, as it is found again wherever it is
        // mounted next time, and the path it had this time.
        line += QLatin1Char(':') + AVolume + QStringLiteral(":/") + PathBelowDrive(ASource) + QStringLiteral(" (") +
                ASource + QLatin1Char(')');
    AddToMail(MailMode, line);
    WriteToLog(1, QStringLiteral("  ") + line);

    if (!ReplSourceDrv.isEmpty())
        WriteToLog(1, QString(sourceLabel.size() + 4, QLatin1Char(' ')) + QLatin1Char('(') +
                          ApplyDriveMapping(ASource, ReplSourceDrv) + QLatin1Char(')'));
}

void TBackupForm::LogDestination(const QString &ADest)
{
    const QString line = Tr("Dest.: ") + ADest;
    AddToMail(MailMode, QStringLiteral("  ") + line);
    WriteToLog(1, QStringLiteral("    ") + line);
    LogTime = true;
}

TModalResult TBackupForm::ShowRunStatus(TResultStatus Mode, const QString &Hinweis, int Wait, TColor AColor,
                                        int64_t ASize, int64_t ACount, const QString &AStatus2,
                                        const QString &AStatus1)
{
    IProgressWindow &progress = ProgressWindow();
    QString amount;
    if (ACount >= 1 && !progress.Stopped()) {
        if (VlSettings.ViewSettings.SizeProgress)
            amount = ByteSizeText(false, ASize);
        else
            amount = FileCountText(int(std::min<int64_t>(ACount, std::numeric_limits<int>::max())), false);
    }
    progress.SetTotalAmount(amount);
    // Bringing back the window that was in front before the run (unless
    // BuMainForm().DownTask()) is the window layer's business: a task run
    // without windows has none to bring back.
    return progress.ShowStatus(Mode, Hinweis, AStatus1, AStatus2, AColor, Wait);
}

void TBackupForm::VssStatusMessage(const QString &Value)
{
    ProgressWindow().SetPrompt(Value);
}

} // namespace vl
