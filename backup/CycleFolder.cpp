// The destination directory of a run: the cycle subfolder of an alternating
// schedule with its archive-bit switches, the command line's special mode,
// the backup-mode line and the time of the last full backup.
#include "backup/RunContext.h"

#include "backup/TimeStampFile.h"
#include "core/Format.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "engine/FtpUtils.h"

namespace vl {

QString TBackupForm::CycleFolderName(const TSchedule &ASched, bool AMFull, bool ABDiff)
{
    QString name = ASched.StepMode == 1 ? QStringLiteral("BD") : QStringLiteral("BW");
    name += IntToStrZeroPad(ASched.NumZyk < 100 ? 2 : 3, ASched.AktZyk);
    if (ASched.SchedMode != TSchedMode::smNormal)
        name += AMFull ? QStringLiteral("F") : ABDiff ? QStringLiteral("D") : QStringLiteral("I");
    return name;
}

QString TBackupForm::CycleStepText(const TSchedule &ASched)
{
    if (ASched.StepMode != 1)
        return Tr("week") + QLatin1Char(' ') + QString::number(ASched.AktZyk);
    if (ASched.NumZyk % 7 != 0)
        return Tr("day") + QLatin1Char(' ') + QString::number(ASched.AktZyk);
    // A cycle of whole weeks starts on a Monday: the step names its weekday.
    const int step = ASched.AktZyk - 1;
    const QString day = LongWeekDayName((step % 7 + 7) % 7 + 1);
    if (ASched.NumZyk == 7)
        return day;
    return QString::number(step / 7 + 1) + QStringLiteral(". ") + day;
}

void TBackupForm::ApplySpecialMode(int ASpecMode)
{
    UseArchivCB.SetChecked((ASpecMode & 2) != 0);
    ResArchivCB.SetChecked((ASpecMode & 1) != 0);
    if (ASpecMode > 1 && DestMode < 4)
        ClearDest = true;
}

void TBackupForm::ApplyCycleStep(bool AMFull, bool ABDiff)
{
    if (AMFull) {
        if (UseArchivCB.Checked())
            ClearDest = false;
        UseArchivCB.SetChecked(false);
        ResArchivCB.SetChecked(true);
    } else {
        ClearDest = DestMode < 4;
        UseArchivCB.SetChecked(true);
        ResArchivCB.SetChecked(!ABDiff);
    }
}

QString TBackupForm::ArchiveBitLine() const
{
    const QString caption = Tr("Archive bit:");
    QString s;
    if (UseArchivCB.Checked()) {
        s = caption + QLatin1Char(' ') + Tr("Use");
        if (ResArchivCB.Checked())
            s += QStringLiteral(" + ") + Tr("Reset");
        if (cbArchFile.Checked())
            s += QStringLiteral(" (") + Tr("Only files with archive bit set") + QLatin1Char(')');
    } else if (DestMode < 4) {
        s = Tr("Compare timestamps");
        if (ResArchivCB.Checked())
            s += QStringLiteral(" (") + caption + QLatin1Char(' ') + Tr("Reset") + QLatin1Char(')');
    }
    return s;
}

void TBackupForm::SetUpCycleFolder(TRunContext &R)
{
    BaseDir = R.DestDir;
    R.CycleFolderFailed = false;
    R.CycleDesc.clear();
    const TAutoTask *task = R.Nr > 0 ? (R.AutoTask ? R.AutoTask : ScheduleEntry(R.Nr)) : nullptr;
    if (R.Nr < 1 && SpecMode > 0)
        ApplySpecialMode(SpecMode);
    else if (task && task->SchedProps.StepMode >= 1) {
        const TSchedule &sched = task->SchedProps;
        if (sched.SchedMode != TSchedMode::smNormal)
            ApplyCycleStep(R.MFull, R.BDiff);
        const QString folder = CycleFolderName(sched, R.MFull, R.BDiff);
        if (BuFtp && FTP) {
            if (FTP->ForceDir(folder)) {
                R.FtpBaseDir = FTP->GetCurrentDir();
                BaseDir = WithTrailingSlash(BaseDir) + folder;
            } else {
                WriteErrorToLog(QStringLiteral("B"), GuardedFormat(Tr("Could not create directory: \"%s\""), folder),
                                FTP->GetIndyError(), QString());
                BaseDir = WithTrailingSlash(BaseDir) + folder;
                R.CycleFolderFailed = true;
            }
        } else {
            BaseDir = WithTrailingDelimiter(BaseDir) + folder;
            if (!ForceDestDirectory(BaseDir, QStringLiteral("B"), false))
                R.CycleFolderFailed = true;
        }
        R.CycleDesc = QStringLiteral(" (") + CycleStepText(sched) + QLatin1Char(')');
    }

    const QString caption = Tr("Backup mode");
    QString line = caption + QStringLiteral(": ");
    if (DestMode < 4)
        line += R.ModeName + QStringLiteral(" ") + Tr("to") + QStringLiteral(" \"") + BaseDir + QLatin1Char('"');
    else
        line += Tr("Create new zip archives");

    R.LastFullTime = 0;
    if (ClearDest && !R.CycleFolderFailed) {
        if (BuFtp && FTP)
            R.LastFullTime = ReadFtpTimeStamp(*FTP);
        else
            R.LastFullTime = ReadTimeStampFile(WithTrailingDelimiter(BaseDir));
    }

    AddToMail(MailMode, QStringLiteral("  ") + line);
    WriteToLog(1, QStringLiteral("  ") + line);
    if (CurrentLogMode() == 3 && !ClearDest && (R.BackupMode == 0 || DestMode >= 4)) {
        const QString bits = ArchiveBitLine();
        if (!bits.isEmpty())
            WriteToLog(1, QString(caption.length() + 4, QLatin1Char(' ')) + bits);
    }

    ProgressWindow().SetLockStatus(0);
    // The completion writes the failure line for BaseDir; the source loop
    // is skipped.
    if (R.CycleFolderFailed && R.StatusText.isEmpty())
        R.StatusText = GuardedFormat(Tr("Could not create directory:\r\n\"%s\""), BaseDir);
}

} // namespace vl
