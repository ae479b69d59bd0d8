// The loop of a run over its source entries: the destination of each entry
// by the method, clearing and synchronisation around the engine, the
// entry's status line, and the finishing of its destination folder.
#include "backup/BackupEngine.h"
#include "backup/MainServices.h"
#include "backup/RunContext.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/FileErrors.h"
#include "core/FileTimes.h"
#include "core/NetShares.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/FtpUtils.h"
#include "engine/ZipWrite.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

const QString kGroup = QStringLiteral("B");
const QString kBlanks6 = QStringLiteral("      ");

// A path without its trailing delimiters ("/" stays).
QString NoTrailingDelimiter(QString s)
{
    while (s.size() > 1 && s.endsWith(QLatin1Char('/')))
        s.chop(1);
    return s;
}

// A and B lie in each other (either way round), as folders.
bool Nested(const QString &A, const QString &B)
{
    return DirContainsPath(A, B) || DirContainsPath(B, A);
}

} // namespace

bool TBackupForm::SynchronizeFtp(TExtensionList &AList, const QString &ASource, const QString &ADest)
{
    if (!SyncSourceAvailable(ASource) || !FTP)
        return false;
    OpenSyncStep(ADest);
    IProgressWindow &progress = ProgressWindow();
    progress.SetSpeed(QString());
    if (AList.SyncCount != 0)
        progress.SetActionHint(Tr("is being synchronized") + QStringLiteral(" (")
                               + FileCountText(int(AList.SyncCount), false) + QLatin1Char(')'));
    int examined = 0;
    int deleted = 0;
    const QString remoteDir = FTP->CurrentDir();
    const bool result =
        SyncFtpDirectory(ASource, ADest, AList, examined, deleted, false, false, remoteDir, QString());
    return EndSyncStep(AList, examined, deleted, result);
}

void TBackupForm::BackupSourceEntries(TRunContext &R)
{
    IProgressWindow &pw = ProgressWindow();
    const bool zipMethod = DestMode == 4 || DestMode == 5;
    const QString B = WithTrailingDelimiter(BaseDir);
    // Destinations written by the entries of this run so far (local
    // folders or remote paths): a full backup never clears one that holds
    // (or lies in) an earlier entry's fresh copies.
    QStringList written;

    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        if (pw.Stopped())
            continue;
        TExtensionList &list = SelectedDirBox.Objects(i);
        if (!SelectedDirBox.Checked(i)) {
            if (CurrentLogMode() >= 2)
                LogDirectoryHeader(-(i + 1), list.SPath, QString());
            continue;
        }

        // Source.
        pw.SetLockStatus(1);
        const int savedICount = list.ICount;
        QString relPath, drive, P;
        const int resolved = ResolveSourceVolume(list.SPath, list.VName, relPath, drive, P, R.MayAsk);
        pw.SetLockStatus(0);
        if (resolved == int(ERROR_CANCELLED))
            break;
        const bool skipped = resolved == 1246;
        uint32_t accessCode = 0;
        const bool available = resolved == 0 && XlCheckDirAccess(P, accessCode);
        list.IsAvailable = available;
        SelectedDirBox.SetItemEnabled(i, available);
        RefreshDirEntryTexts();

        R.ZipCreationFailed = false;
        SourceType = GetFileSystemType(P);
        if ((DstIgnore & 2) != 0) {
            const auto isFat = [](TFileSystem t) { return t == TFileSystem::fsExtFat || t == TFileSystem::fsFat; };
            DstIgnore = SourceType == TargetType || (!isFat(SourceType) && !isFat(TargetType)) ? 2 : 3;
        }
        LogDirectoryHeader(i + 1, P, list.VName);
        if (CurrentLogMode() >= 2) {
            QString summary;
            GetSelectionSummary(list, false, summary);
            WriteToLog(2, QStringLiteral("    ") + GuardedFormat(Tr("Filter: %s"), summary));
        }

        if (!available) {
            const int C = resolved != 0 ? resolved : int(accessCode);
            const QString T = GuardedFormat(DirectoryErrorText(C), P);
            BuMainForm().SetExitCode(3, R.Nr);
            if (R.MayAsk && !skipped && !SkipDir)
                pw.ShowError(T);
            AddToMail(MailMode, QStringLiteral("  *** ") + T);
            WriteErrorToLog(1, kGroup, T, C);
            ++R.Count.ErrorCount;
            continue;
        }

        // Destination of the entry.
        QString E;          // local directory, or the remote path for FTP
        QString shownDest;  // the destination as shown and synchronised
        QString ftpDir;     // FTP directory of the entry
        QString subPath;    // FTP subpath below the base directory
        TFileTimestamps rootTimes;
        uint32_t rootAttr = 0;
        const QString relNoDelim = NoTrailingDelimiter(relPath);
        if (BuFtp) {
            if (zipMethod) {
                if (!SetUpEntryArchive(R, P, drive, relPath))
                    break;
                shownDest = BaseDir + QLatin1Char('/') + R.ZipArchiveName;
                LogDestination(shownDest);
                ftpDir = R.FtpBaseDir;
                R.EntryFtpDir = ftpDir;
                pw.SetDestination(shownDest);
                ProcessMessages();
                E = shownDest;
            } else {
                switch (DestMode) {
                case 2:
                    break;
                case 3:
                    subPath = LastPathElement(relPath);
                    break;
                case 1:
                case 7:
                    subPath = relNoDelim;
                    break;
                default:
                    subPath = DriveSubdirName(DriveId, drive) + relNoDelim;
                    break;
                }
                subPath = NoTrailingDelimiter(ToForwardSlashes(subPath));
                if (subPath == QLatin1String("/"))
                    subPath.clear();
                E = subPath.isEmpty() ? R.FtpBaseDir : WithTrailingSlash(R.FtpBaseDir) + subPath;
                if (!FTP || !FTP->ForceDir(E)) {
                    WriteErrorToLog(1, kGroup, Tr("Error changing to subdirectory on FTP server: ") + E,
                                    FTP ? FTP->GetIndyError() : QString(), QString());
                    ++R.Count.ErrorCount;
                    continue;
                }
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Current FTP directory: \"%s\""), E));
                shownDest = subPath.isEmpty() ? BaseDir : BaseDir + QLatin1Char('/') + subPath;
                pw.SetDestination(shownDest);
                ProcessMessages();
                LogDestination(shownDest);
                ftpDir = E;
                R.EntryFtpDir = ftpDir;
                R.EntryDestBase = DestMode == 0 || DestMode == 6
                                      ? NoTrailingDelimiter(ToForwardSlashes(DriveSubdirName(DriveId, drive)))
                                      : QString();
            }
            rootAttr = 0;
        } else {
            if (zipMethod) {
                if (!SetUpEntryArchive(R, P, drive, relPath))
                    break;
                shownDest = R.ZipFinalPath;
                LogDestination(shownDest);
                ProcessMessages();
                // The engine's destination: the folder of the archive.
                E = B;
            } else {
                const QString src = Tr("source");
                if (cbAltStreams.Checked() && !KeepsUserXattrs(SourceType))
                    WriteToLog(2, QStringLiteral("  *** ")
                                      + GuardedFormat(Tr("The file system at the %s does not support alternate data "
                                                         "streams!"),
                                                      src));
                if (cbCopySummary.Checked() && !KeepsUserXattrs(SourceType))
                    WriteToLog(2, QStringLiteral("  *** ")
                                      + GuardedFormat(Tr("The file system at the %s does not support document "
                                                         "summaries!"),
                                                      src));
                if (cbCopyPerms.Checked() && !KeepsPermissions(SourceType))
                    WriteToLog(2, QStringLiteral("  *** ")
                                      + GuardedFormat(Tr("The file system at the %s does not support file "
                                                         "permissions!"),
                                                      src));
                switch (DestMode) {
                case 2:
                    E = B;
                    R.EntryDestBase = BaseDir;
                    break;
                case 3:
                    E = WithTrailingDelimiter(B + LastPathElement(relPath));
                    R.EntryDestBase = BaseDir;
                    break;
                case 1:
                case 7:
                    E = WithTrailingDelimiter(B + relPath);
                    R.EntryDestBase = BaseDir;
                    break;
                default:
                    E = WithTrailingDelimiter(B + DriveSubdirName(DriveId, drive) + relPath);
                    R.EntryDestBase = B + DriveSubdirName(DriveId, drive);
                    break;
                }
                shownDest = E;
                pw.SetDestination(BaseDir + R.CycleDesc);
                ProcessMessages();
                LogDestination(E);
            }
            if (!relPath.isEmpty()) {
                rootAttr = XlFileGetAttr(P, true);
                if (rootAttr == faInvalid)
                    rootAttr = faDirectory;
                XlGetFileTimes(P, true, rootTimes);
            } else {
                rootAttr = faDirectory;
                rootTimes.Valid = false;
            }
        }
        R.LastEntryDest = E;

        // Clearing the destination.
        if (ClearDest && !zipMethod) {
            const bool overlaps =
                !CanClearDestination(P, i)
                || std::any_of(written.cbegin(), written.cend(), [&](const QString &w) { return Nested(w, E); });
            const QString shown = BuFtp ? (FTP ? FTP->CurrentDir() : E) : E;
            if (overlaps) {
                const QString text = GuardedFormat(Tr("Overlapping directory was not deleted: \"%s\""), shown);
                AddToMail(MailMode, QStringLiteral("  *** ") + text);
                WriteErrorToLog(1, kGroup, text, QString(), QString());
            } else if (!UseArchivCB.Checked() || std::floor(StartTime) > std::floor(R.LastFullTime)) {
                const QString doneText = GuardedFormat(Tr("Contents of directory was deleted: \"%s\""), shown);
                const QString failText = GuardedFormat(Tr("Error deleting contents of directory: \"%s\""), shown);
                if (BuFtp && FTP) {
                    const QString G = FTP->CurrentDir();
                    pw.UpdatePrompt(TSourceSelection::ssDir, Tr("is being deleted"), G, 0);
                    pw.SetStepStyle(TNewProgressBarStyle::npsContinuous);
                    ProcessMessages();
                    int32_t n = 0;
                    if (FTP->DeleteTree(G, true, n)) {
                        R.Count.ClearDelCount += n;
                        pw.WriteStatus(2, DeletedFilesText(R.Count.ClearDelCount));
                        if (n > 0) {
                            AddToMail(MailMode, QStringLiteral("  ->  ") + doneText);
                            WriteToLog(1, QStringLiteral("  ->  ") + doneText + QLatin1Char(' ')
                                              + FileCountText(n, true));
                        }
                    } else {
                        pw.WriteStatus(2, failText);
                        AddToMail(MailMode, QStringLiteral("  *** ") + failText);
                        WriteErrorToLog(1, kGroup, failText, FTP->GetIndyError(), QString());
                        ++R.Count.ErrorCount;
                    }
                    FTP->ForceDir(G);
                    pw.SetStepStyle(TNewProgressBarStyle::npsNormal);
                } else if (!BuFtp) {
                    pw.UpdatePrompt(TSourceSelection::ssDir, Tr("is being deleted"), E, 0);
                    ProcessMessages();
                    int n = 0;
                    if (ClearDirectory(E, QString(), R.Count.ErrorCount, n, R.Count.ClearDelCount, savedICount, true,
                                       true, false, kGroup)) {
                        R.Count.ClearDelCount += n;
                        if (n > 0) {
                            AddToMail(MailMode, QStringLiteral("  ->  ") + doneText);
                            WriteToLog(1, QStringLiteral("  ->  ") + doneText + QLatin1Char(' ')
                                              + FileCountText(n, true));
                        }
                    } else {
                        AddToMail(MailMode, QStringLiteral("  *** ") + failText);
                        WriteErrorToLog(1, kGroup, failText, QString(), QString());
                    }
                }
            }
        }
        if (pw.Stopped()) {
            // The entry's method 5 archive holds nothing: it goes with the
            // cancel (method 4's goes after the loop).
            if (DestMode == 5 && ZipArchive) {
                const int segs = ZipArchive->NumberOfSegments();
                try {
                    ZipArchive.reset();
                } catch (...) {
                }
                DeleteZipArchive(R.ZipTempPath, segs);
            }
            break;
        }
        if (!BuFtp && !zipMethod)
            ForceDestDirectory(E, kGroup, true);
        written.append(E);

        const auto syncStep = [&] {
            const bool ok = BuFtp ? SynchronizeFtp(list, P, shownDest) : SynchronizeLocal(list, P, E);
            if (!ok)
                R.SyncErrors = true;
        };
        if (R.SyncOnly && !ClearDest && SyncBefore) {
            syncStep();
            const QString line = QStringLiteral("  ->  ") + Tr("Data backup");
            AddToMail(MailMode, line);
            WriteToLog(1, line);
        }

        // The engine.
        CopyThread.reset();
        CurDir = zipMethod && !BuFtp ? R.ZipFinalPath : E;
        BackupDirectory(P, E, BuFtp ? ftpDir : QString(), QString(), QString(), rootTimes, rootAttr, false, Prompting,
                        R.Count.FileCount, R.Count.CopiedCount, R.Count.ErrorCount, R.Count.WarningCount,
                        R.Count.CopiedBytes, R.Count.TotalBytes, R.Count.ErrorBytes, list);
        // Method 4 and 5 entries are committed once their archive is in
        // place; until then their resets and deletions stay queued.
        if (!zipMethod)
            CommitEntryCopies(R.Count.ErrorCount);
        if (BuStatus == TBuStatus::bsOK || BuStatus == TBuStatus::bsFull) {
            list.ICount = R.Count.FileCount - R.Prev.FileCount;
            list.IBytes = R.Count.TotalBytes - R.Prev.TotalBytes;
        }
        QString status = QStringLiteral("    => ") + Tr("Status: ")
                         + CountText(Tr("No files copied"), Tr("1 file copied"), Tr("%u files copied"),
                                     R.Count.CopiedCount - R.Prev.CopiedCount);
        if (cbVerify.Checked())
            status += Tr(" and verified");
        AddToMail(MailMode, status);
        const int entryErrors = R.Count.ErrorCount - R.Prev.ErrorCount;
        if (entryErrors > 0)
            status += QStringLiteral(" (") + CountText(QString(), Tr("1 error"), Tr("%u errors"), entryErrors)
                      + QLatin1Char(')');
        WriteToLog(1, status);
        R.Prev = R.Count;

        if (BuStatus == TBuStatus::bsOK && R.SyncOnly && !SyncBefore && !ClearDest)
            syncStep();

        if (BuFtp && FTP && !zipMethod && !subPath.isEmpty()) {
            if (cbDelDir.Checked() && DestMode < 4) {
                pw.SetPrompt(Tr("Deleting empty directories"));
                pw.SetStepStyle(TNewProgressBarStyle::npsContinuous);
                ProcessMessages();
                WriteToLog(2, QStringLiteral("   => ") + Tr("Deleting empty directories"));
                int32_t n = 0;
                FTP->DeleteEmptyDirs(QString(), false, n, [this] { return RunCancelled(); });
                pw.SetStepStyle(TNewProgressBarStyle::npsNormal);
                WriteToLog(3, kBlanks6
                                  + CountText(Tr("No directory deleted"), Tr("1 directory deleted"),
                                              Tr("%u directories deleted"), n));
            }
            FTP->ChangeToDir(R.FtpBaseDir);
        }

        if (DestMode == 5)
            CompleteEntryArchive(R);

        // Finishing the destination folder (the archives of methods 4 and
        // 5 are files, put in place above or after the loop).
        if (!BuFtp && !zipMethod && !PathBelowDrive(E).isEmpty() && XlDirectoryExists(E, false)) {
            if (XlDirectoryIsEmpty(E)) {
                QString X = E;
                const uint32_t A = XlFileGetAttr(X, false);
                if (cbDelDir.Checked()) {
                    for (;;) {
                        if (!cbNoAttributes.Checked())
                            XlFileSetAttr(X, faArchive, false);
                        const uint32_t code = XlRemoveDirectory(X);
                        if (code != 0) {
                            WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Error deleting directory: \"%s\""), X)
                                              + QStringLiteral(" (")
                                              + FileAttrToText(uint16_t(A == faInvalid ? 0 : A)) + QLatin1Char(')'));
                            WriteToLog(3, kBlanks6 + QStringLiteral("=> ")
                                              + GuardedFormat(Tr("System error: %s"), SystemErrorText(code)));
                            break;
                        }
                        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), X));
                        X = WithTrailingDelimiter(ParentDirectory(NoTrailingDelimiter(X)));
                        if (SameDirectory(X, BaseDir) || !XlDirectoryIsEmpty(X)
                            || !DirContainsPath(BaseDir, X))
                            break;
                    }
                }
            } else {
                if (!cbNoAttributes.Checked() && DestMode != 2)
                    SetDestAttributes(E, int(rootAttr), kGroup, false);
                if (rootTimes.Valid) {
                    const auto setTimes = [&](const QString &ADir, const TFileTimestamps &ATimes, bool AFutureCheck) {
                        const uint32_t code = XlSetDirTimes(ADir, ATimes, AFutureCheck, cbCreationTime.Checked());
                        if (code != 0) {
                            WriteErrorToLog(6, kGroup, FileErrorMessage(527, ADir), int(code));
                        } else if (CurrentLogMode() == 3) {
                            QString when;
                            FileTimeToText(ATimes.LastWriteTime, when);
                            WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Set timestamp: \"%s\" => %s"), ADir, when));
                        }
                    };
                    setTimes(E, rootTimes, true);
                    if (DestMode == 0 || DestMode == 1 || DestMode == 6 || DestMode == 7) {
                        QString sp = NoTrailingDelimiter(P);
                        QString dp = NoTrailingDelimiter(E);
                        for (;;) {
                            const QString sParent = ParentDirectory(sp);
                            const QString dParent = ParentDirectory(dp);
                            if (sParent.size() == sp.size() || dParent.size() == dp.size()
                                || PathBelowDrive(sParent).isEmpty() || !DirContainsPath(BaseDir, dParent)
                                || SameDirectory(dParent, BaseDir))
                                break;
                            TFileTimestamps ts;
                            if (XlGetFileTimes(sParent, true, ts))
                                setTimes(dParent, ts, false);
                            sp = sParent;
                            dp = dParent;
                        }
                    }
                }
                if (cbCopyPerms.Checked() && KeepsPermissions(SourceType)) {
                    const uint32_t code = XlCopyPermissions(P, E);
                    if (code != 0)
                        WriteErrorToLog(6, kGroup, FileErrorMessage(531, E), int(code));
                }
            }
        }

        // The emptied source root. With method 4 its files go only once the
        // run's archive is in place: the removal waits in the same queue.
        if (cbSourceDelete.Checked() && (DelSourceDelDir & 2) != 0 && DestMode == 4 && EngineState) {
            TEngineState::TCommit c;
            c.Path = P;
            c.IsDir = true;
            c.DeleteSource = true;
            EngineState->Commits.push_back(c);
        } else if (cbSourceDelete.Checked() && (DelSourceDelDir & 2) != 0 && XlDirectoryExists(P, false)) {
            const uint32_t code = XlRemoveDirectory(P);
            if (code == 0)
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), P));
            else
                WriteErrorToLog(1, kGroup,
                                GuardedFormat(Tr("Error deleting directory: \"%s\""), P) + QStringLiteral(" (")
                                    + FileAttrToText(uint16_t(rootAttr)) + QLatin1Char(')'),
                                int(code));
        }

        if (BuStatus != TBuStatus::bsOK)
            break;
        // The removal works on local folders: an FTP entry's base names a
        // remote folder (and would be taken relative to the working
        // directory here).
        if (KeepBakCB.Checked() && !BuFtp && !R.EntryDestBase.isEmpty())
            DeleteOldSecurityDirs(R.EntryDestBase);
    }

    WriteErrorSummary();
    WriteToLog(3, QString());
}

} // namespace vl
