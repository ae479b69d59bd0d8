// The zip archives of methods 4 (one archive for the run) and 5 (one per
// source entry): written under a temporary name, put in place only once the
// central directory is written (and verified when asked), so a failed or
// cancelled archive never replaces the previous one. The archive-bit
// resets and source deletions of its entries wait until then.
#include "backup/BackupEngine.h"
#include "backup/RunContext.h"
#include "core/Destinations.h"
#include "core/FileErrors.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/FtpUtils.h"
#include "engine/ZipWrite.h"
#include "platform/FileSystem.h"
#include "platform/Thread.h"
#include "ui/DirectoryDialog.h"

namespace vl {

namespace {

const QString kGroup = QStringLiteral("B");
const QString kBlanks6 = QStringLiteral("      ");

QString RunTempDir() { return WorkTempDir.isEmpty() ? GetProgramTempDir() : WorkTempDir; }

// Frees the writer; a failure while closing changes nothing any more.
void FreeWriter(std::shared_ptr<TZipWrite> &AZip)
{
    try {
        AZip.reset();
    } catch (...) {
    }
}

} // namespace

void TBackupForm::DropEntryCommits()
{
    if (!EngineState)
        return;
    EngineState->Commits.clear();
    EngineState->DestDirs.clear();
}

QString TBackupForm::EntryArchiveName(const QString &ADrive, const QString &ARelPath) const
{
    QString first = LastPathElement(ARelPath);
    if (first.isEmpty()) {
        first = DriveSubdirName(DriveId, ADrive);
        while (first.endsWith(QLatin1Char('/')))
            first.chop(1);
    }
    const QString pattern =
        ExpandDestPlaceHolders(TextFromChar(ZipNameEdit.Text(), QLatin1Char('-')), GetSourceVolumeName(), BackupCount);
    return ForceExtension(first + pattern, QStringLiteral("zip"), 0);
}

bool TBackupForm::SetUpEntryArchive(TRunContext &R, const QString &APath, const QString &ADrive,
                                    const QString &ARelPath)
{
    IProgressWindow &pw = ProgressWindow();
    if (DestMode == 4 && ZipArchive)
        return true; // the run's archive takes this entry too
    R.ZipArchiveName = DestMode == 5 ? EntryArchiveName(ADrive, ARelPath) : ZipName;
    if (BuFtp) {
        R.ZipFinalPath = BaseDir + QLatin1Char('/') + R.ZipArchiveName;
        R.ZipTempPath = WithTrailingDelimiter(RunTempDir()) + QStringLiteral("VlTemp.zip");
    } else {
        R.ZipFinalPath = WithTrailingDelimiter(BaseDir) + R.ZipArchiveName;
        R.ZipTempPath = InsertNameSuffix(R.ZipFinalPath, QStringLiteral(".tmp"));
        ForceDestDirectory(BaseDir, kGroup, false);
    }
    const QString base = DestMode == 5 ? APath : ADrive;
    try {
        ZipArchive =
            std::make_shared<TZipWrite>(R.ZipTempPath, base, MaxZipSize, ActPwd, GetCryptKeyMode(), TaskBufferSize);
    } catch (const EZipError &e) {
        // Also for an FTP destination: without the flag a run whose archive
        // was never created would end as a success.
        R.ZipCreationFailed = true;
        WriteErrorToLog(1, kGroup, FileErrorMessage(e.ZipError(), R.ZipTempPath), e.SysErrorMsg(), QString());
        // Method 5 has no run status for it: the entries left out make the
        // run's result an error.
        if (DestMode == 5)
            ++R.Count.ErrorCount;
        return false;
    }
    ZipArchive->SetTempDir(RunTempDir());
    ZipArchive->SetIsTemp(BuFtp);
    ZipArchive->SetEncryptNames(cbEncNames.Checked());
    ZipArchive->SetOnProgress(
        [this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) { CopyProgress(AAction, ACount, ASpeedLimit); });
    ZipArchive->OnTimeout = [this] { return CopyTimedOut(); };
    if (!BuFtp)
        ZipArchive->OnVerifyProgress = [this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) {
            CopyProgress(AAction, ACount, ASpeedLimit);
        };
    pw.SetDestination(R.ZipFinalPath + R.CycleDesc);
    if (BuFtp && FTP) {
        // Reopened for the upload: an idle control connection would not
        // outlive a long archive.
        try {
            FTP->Disconnect();
        } catch (...) {
        }
    }
    return true;
}

void TBackupForm::CompleteEntryArchive(TRunContext &R)
{
    IProgressWindow &pw = ProgressWindow();
    if (!ZipArchive)
        return;
    if (BuStatus != TBuStatus::bsOK) {
        const int segs = ZipArchive->NumberOfSegments();
        FreeWriter(ZipArchive);
        DeleteZipArchive(R.ZipTempPath, segs);
        DropEntryCommits();
        return;
    }
    int C = 0;
    if (ZipArchive->ErrorFlag()) {
        C = 0x4000;
    } else {
        try {
            ZipArchive->WriteDirectory();
            if (!BuFtp && cbVerify.Checked()) {
                pw.SetSourceType(TSourceSelection::ssZip);
                pw.SetAction(TFileAction::acZipVerify);
                pw.SetPrompt(QString());
                ZipArchive->Verify();
                WriteToLog(2, kBlanks6 + GuardedFormat(Tr("Zip archive \"%s\" was verified"), R.ZipFinalPath));
            }
        } catch (const EZipError &e) {
            C = e.ZipError();
            if (!BuFtp)
                WriteErrorToLog(1, kGroup, e.Message(), e.SysErrorMsg(), QString());
        }
    }
    const int segs = ZipArchive->NumberOfSegments();
    FreeWriter(ZipArchive);

    if (!BuFtp) {
        // On disk before the previous archive goes: a power cut in between
        // would leave neither. This also finds an archive gone meanwhile.
        if (C == 0)
            C = int(SyncFileSystem(R.ZipTempPath));
        if (C != 0) {
            DeleteZipArchive(R.ZipTempPath, segs);
            WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Zip archive \"%s\" was not created!"), R.ZipFinalPath), C);
            ++R.Count.ErrorCount;
            DropEntryCommits();
            return;
        }
        const uint32_t del = DeleteZipArchive(R.ZipFinalPath, -1);
        uint32_t ren = 0;
        if (del == 0) {
            ren = RenameZipArchive(R.ZipTempPath, R.ZipFinalPath, VlSettings.OtherSettings.MaxWaitTime);
            if (ren != 0)
                WriteErrorToLog(1, kGroup,
                                GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("File"), R.ZipTempPath,
                                              R.ZipFinalPath),
                                int(ren));
        } else {
            WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error deleting file: \"%s\""), R.ZipFinalPath), int(del));
        }
        if (del != 0 || ren != 0) {
            ++R.Count.ErrorCount;
            DropEntryCommits();
            return;
        }
        CommitEntryCopies(R.Count.ErrorCount);
        return;
    }

    // FTP destination.
    if (C != 0) {
        const QString text = FileErrorMessage(C);
        AddToMail(MailMode, QStringLiteral("  *** ") + text);
        WriteErrorToLog(1, kGroup, text, QString(), QString());
        ++R.Count.ErrorCount;
        DeleteZipArchive(R.ZipTempPath, segs);
        DropEntryCommits();
        return;
    }
    if (!ReconnectForUpload(R.EntryFtpDir)) {
        ++R.Count.ErrorCount;
        DeleteZipArchive(R.ZipTempPath, segs);
        DropEntryCommits();
        return;
    }
    int upSegs = 0;
    int64_t size = 0;
    const int E = CopyToFtp(R.ZipTempPath, R.EntryFtpDir, R.ZipArchiveName, upSegs, size, true);
    if (E != 0) {
        AddToMail(MailMode, QStringLiteral("  *** ") + FileErrorMessage(E, R.ZipArchiveName));
        WriteToLog(1, QStringLiteral("  *** ") + Tr("Error writing to FTP server: ") + R.ZipArchiveName
                          + SegmentInfoText(upSegs, size));
        ++R.Count.ErrorCount;
        DeleteZipArchive(R.ZipTempPath, -1);
        DropEntryCommits();
        return;
    }
    WriteToLog(2, QStringLiteral("   => ")
                      + GuardedFormat(Tr("Zip archive \"%s\" was copied to FTP server"), R.ZipArchiveName)
                      + (cbVerify.Checked() ? Tr(" and verified") : QString()) + SegmentInfoText(upSegs, size));
    CommitEntryCopies(R.Count.ErrorCount);
}

bool TBackupForm::ReconnectForUpload(const QString &ADir)
{
    IProgressWindow &pw = ProgressWindow();
    if (FTP && !FTP->ReConnect(ADir, true, false))
        WriteErrorToLog(1, kGroup, Tr("FTP connection lost!"), FTP->GetIndyError(), QString());
    if (FTP && FTP->Connected()) {
        pw.SetSourceType(TSourceSelection::ssTempZip);
        pw.SetPrompt(QString());
        return true;
    }
    const QString text = Tr("Connection to FTP server failed");
    pw.SetPrompt(text);
    AddToMail(MailMode, QStringLiteral("  *** ") + text);
    WriteToLog(1, QStringLiteral("  *** ") + text);
    return false;
}

void TBackupForm::FinishRunArchive(TRunContext &R)
{
    if (DestMode != 4)
        return;
    IProgressWindow &pw = ProgressWindow();
    const QString tempShown = StripExtension(R.ZipTempPath);
    if (BuStatus != TBuStatus::bsOK) {
        if (ZipArchive) {
            const int segs = ZipArchive->NumberOfSegments();
            FreeWriter(ZipArchive);
            DeleteZipArchive(R.ZipTempPath, segs);
            WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Zip archive \"%s\" was not created!"), tempShown),
                            QString(), QString());
        }
        DropEntryCommits();
        return;
    }
    QString status;
    if (R.ZipCreationFailed)
        status = Tr("Error writing to zip archive");
    if (!ZipArchive) {
        // No available entry, or the writer could not be created: there is
        // nothing to put in place, and the previous archive stays.
        if (!status.isEmpty() && R.StatusText.isEmpty())
            R.StatusText = status;
        DropEntryCommits();
        return;
    }
    bool empty = false;
    if (ZipArchive->ErrorFlag()) {
        status = Tr("Error writing to zip archive");
    } else {
        if (!R.VssDocument.isEmpty()) {
            try {
                ZipArchive->AddFile(R.VssDocument, QStringLiteral("VssBackupDoc.xml"), true);
            } catch (const EZipError &e) {
                WriteErrorToLog(1, kGroup, FileErrorMessage(e.ZipError(), QStringLiteral("VssBackupDoc.xml")),
                                e.SysErrorMsg(), QString());
            }
        }
        try {
            ZipArchive->WriteDirectory();
            if (!BuFtp && cbVerify.Checked()) {
                pw.SetSourceType(TSourceSelection::ssZip);
                pw.SetAction(TFileAction::acZipVerify);
                pw.SetPrompt(QString());
                ZipArchive->Verify();
                WriteToLog(2, kBlanks6 + GuardedFormat(Tr("Zip archive \"%s\" was verified"), R.ZipTempPath));
            }
            empty = ZipArchive->IsEmpty();
        } catch (const EZipError &e) {
            const QString line = e.Message() + QStringLiteral(" (") + tempShown + QLatin1Char(')');
            AddToMail(MailMode, QStringLiteral("  *** ") + line);
            WriteErrorToLog(1, kGroup, line, e.SysErrorMsg(), QString());
            status = ErrorNumber(e.ZipError()) == 12 ? Tr("Error verifying zip archive!")
                                                     : Tr("Error writing to zip archive");
        }
    }
    if (!status.isEmpty() && R.StatusText.isEmpty())
        R.StatusText = status;
    const int segs = ZipArchive->NumberOfSegments();
    FreeWriter(ZipArchive);

    if (!status.isEmpty()) {
        const uint32_t del = DeleteZipArchive(R.ZipTempPath, segs);
        WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Zip archive \"%s\" was not created!"), tempShown), int(del));
        DropEntryCommits();
        return;
    }
    if (cbDelDir.Checked() && empty) {
        // Nothing was selected: the previous archive stays as it is.
        DeleteZipArchive(R.ZipTempPath, segs);
        DropEntryCommits();
        return;
    }

    if (BuFtp) {
        if (!ReconnectForUpload(R.FtpBaseDir)) {
            status = Tr("Connection to FTP server failed");
            if (R.StatusText.isEmpty())
                R.StatusText = status;
            DeleteZipArchive(R.ZipTempPath, segs);
            DropEntryCommits();
            return;
        }
        int upSegs = 0;
        int64_t size = 0;
        const int E = CopyToFtp(R.ZipTempPath, R.FtpBaseDir, R.ZipArchiveName, upSegs, size, false);
        if (E == 0) {
            WriteToLog(1, QStringLiteral("   => ")
                              + GuardedFormat(Tr("Zip archive \"%s\" was copied to FTP server"), R.ZipArchiveName)
                              + (cbVerify.Checked() ? Tr(" and verified") : QString())
                              + SegmentInfoText(upSegs, size));
            DeleteZipArchive(R.ZipTempPath, segs);
            CommitEntryCopies(R.Count.ErrorCount);
            return;
        }
        DropEntryCommits();
        status = Tr("Error writing to FTP server: ") + R.ZipArchiveName;
        if (R.StatusText.isEmpty())
            R.StatusText = status;
        AddToMail(MailMode, QStringLiteral("  *** ") + FileErrorMessage(E));
        WriteToLog(1, QStringLiteral("  *** ") + status + SegmentInfoText(upSegs, size));
        bool kept = false;
        if (Prompting) {
            pw.SetLockStatus(1);
            if (pw.Confirm(Tr("Error copying zip archive to FTP server!\r\nSave temporary zip archive?"))) {
                const QString tempDir = WithTrailingDelimiter(RunTempDir());
                QString F = tempDir;
                if (SelectDirectory(Tr("Copy temporary zip archive file to"), false, false, QString(), F)
                    && !F.isEmpty()) {
                    F = WithTrailingDelimiter(F);
                    const QString target = F + R.ZipArchiveName;
                    uint32_t code;
                    if (!SameDirectory(F, tempDir)) {
                        code = CopyZipArchive(R.ZipTempPath, target);
                        if (code == 0)
                            DeleteZipArchive(R.ZipTempPath, segs);
                    } else {
                        code = RenameZipArchive(R.ZipTempPath, target, VlSettings.OtherSettings.MaxWaitTime);
                    }
                    // A copy that failed keeps the temporary archive.
                    kept = true;
                    if (code == 0)
                        WriteToLog(3, kBlanks6 + QStringLiteral("=> ")
                                          + GuardedFormat(Tr("Temporary zip archive saved as \"%s\""), target)
                                          + (segs >= 2 ? QStringLiteral(" (%1 S)").arg(segs) : QString()));
                    else
                        WriteErrorToLog(1, kGroup,
                                        GuardedFormat(Tr("Error copying file: \"%s\""), target), int(code));
                }
            }
            pw.SetLockStatus(0);
        }
        if (!kept)
            DeleteZipArchive(R.ZipTempPath, segs);
        return;
    }

    // Local destination. The new archive is on disk before the previous
    // one goes: a power cut in between would leave neither. This also finds
    // an archive gone meanwhile.
    if (const uint32_t sync = SyncFileSystem(R.ZipTempPath); sync != 0) {
        if (R.StatusText.isEmpty())
            R.StatusText = Tr("Error writing to zip archive");
        DeleteZipArchive(R.ZipTempPath, segs);
        WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Zip archive \"%s\" was not created!"), tempShown), int(sync));
        DropEntryCommits();
        return;
    }
    const int errorsBefore = R.Count.ErrorCount;
    if (KeepBakCB.Checked()) {
        // Its failures are the run's: counted once, in the run's counters.
        const int e0 = ErrorCnt, w0 = WarningCnt;
        RotateArchiveCopies(R.ZipFinalPath);
        R.Count.ErrorCount += ErrorCnt - e0;
        R.Count.WarningCount += WarningCnt - w0;
        ErrorCnt = e0;
        WarningCnt = w0;
    } else {
        const uint32_t del = DeleteZipArchive(R.ZipFinalPath, -1);
        if (del != 0) {
            WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error deleting file: \"%s\""), R.ZipFinalPath), int(del));
            ++R.Count.ErrorCount;
        }
    }
    if (XlFileExists(R.ZipFinalPath, false)) {
        // The previous archive could be neither kept nor deleted: the new
        // one stays under its temporary name rather than mixing with it.
        if (R.Count.ErrorCount == errorsBefore)
            ++R.Count.ErrorCount;
        DropEntryCommits();
        return;
    }
    const uint32_t ren = RenameZipArchive(R.ZipTempPath, R.ZipFinalPath, VlSettings.OtherSettings.MaxWaitTime);
    if (ren != 0) {
        WriteErrorToLog(1, kGroup,
                        GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("File"), R.ZipTempPath,
                                      R.ZipFinalPath),
                        int(ren));
        ++R.Count.ErrorCount;
        DropEntryCommits();
        return;
    }
    CommitEntryCopies(R.Count.ErrorCount);
}

} // namespace vl
