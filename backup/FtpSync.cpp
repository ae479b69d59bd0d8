// Synchronisation of an FTP destination: the remote tree of a source entry
// is walked with the client's current directory; what the source no
// longer has (or the selection no longer takes) is renamed into a
// synchronisation copy or deleted.
#include "backup/BackupForm.h"
#include "backup/FileSelection.h"
#include "backup/SecCopyNames.h"
#include "core/Destinations.h"
#include "core/FileInfo.h"
#include "core/Format.h"
#include "core/Masks.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "platform/Thread.h"

#include <QFileInfo>

#include <cmath>

namespace vl {

namespace {

const QString kSix = QStringLiteral("      ");
const QString kSync = QStringLiteral("S");

bool IsSourceDir(const QString &APath)
{
    return QFileInfo(APath).isDir();
}

} // namespace

bool TBackupForm::SyncFtpDirectory(const QString &ASource, const QString &ADest, TExtensionList &AList, int &ACount,
                                   int &ADelCount, bool AllFiles, bool AParentIncluded, const QString &ARemoteDir,
                                   const QString &ASubDir)
{
    IProgressWindow &progress = ProgressWindow();
    if (!FTP->ReConnect(ARemoteDir, true, true)) {
        WriteErrorToLog(kSync, Tr("FTP connection lost!"), FTP->GetIndyError(), QString());
        progress.SetStopped(true);
        return false;
    }
    const QString name = LastPathElement(ASubDir);
    const QString parentDir = FTP->CurrentDir();
    if (!name.isEmpty() && !FTP->ChangeToDir(name)) {
        WriteErrorToLog(kSync,
                        Tr("Error changing to subdirectory on FTP server: ") + WithTrailingSlash(parentDir) + name,
                        FTP->GetIndyError(), QString());
        return false;
    }
    const QString here = FTP->CurrentDir();
    const QString rp = ASubDir.isEmpty() ? QString() : WithTrailingSlash(ToForwardSlashes(ASubDir));
    const QString sourceDir = WithTrailingDelimiter(JoinPath(ASource, ASubDir));
    bool result = true;

    // ---- Remote subdirectories ----
    TDirectoryList dirs;
    QStringList dirNames;
    if (!FTP->GetDirList(dirs)) {
        WriteErrorToLog(kSync, Tr("Error reading directory list from FTP server - directory: ") + here,
                        FTP->GetIndyError(), QString());
        result = false;
    } else {
        for (int i = 0; i < dirs.Count(); ++i)
            dirNames << dirs.Strings(i);
    }
    const int subDirCount = int(dirNames.size());

    auto hasRemoteSubDirs = [&](const QString &N) {
        bool found = false;
        if (FTP->ChangeToDir(N)) {
            TDirectoryList sub;
            found = !FTP->GetDirList(sub) || sub.Count() > 0; // unreadable: keep it
            FTP->ChangeToDir(here);
        }
        return found;
    };

    // A remote directory without counterpart (or no longer selected).
    auto syncStale = [&](const QString &N) {
        const int files = FTP->DirFiles(N);
        ACount += files;
        const bool keepBak = KeepBakCB.Checked() && MatchesMask(N, BakSec.DirPrefix + QLatin1Char('*'));
        if (KeepSyncCB.Checked()) {
            if (MatchesMask(N, SyncSec.DirPrefix + QLatin1Char('*')) || keepBak) {
                WriteToLog(3, kSix + GuardedFormat(Tr("Directory \"%s\" contains security copies and was not deleted"),
                                                   rp + N));
                return true;
            }
            const QString target = SyncSec.DirPrefix + N + ExpandFtpSyncDirSuffix(SyncSec.DirSuffix);
            if (dirNames.contains(target)) {
                int gone = 0;
                FTP->DeleteTree(target, true, gone);
            }
            if (!FTP->RenameFile(N, target, true)) {
                WriteErrorToLog(kSync,
                                GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("Directory"), rp + N,
                                              rp + target),
                                FTP->GetIndyError(), QString());
                return false;
            }
            WriteToLog(2, LogIndentText(CurrentLogMode()) +
                              GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("Directory"), rp + N,
                                            rp + target) +
                              QLatin1Char(' ') + FileCountText(files, true));
            ADelCount += files;
            return true;
        }
        if (keepBak) {
            WriteToLog(3, kSix + GuardedFormat(Tr("Directory \"%s\" contains security copies and was not deleted"),
                                               rp + N));
            return true;
        }
        int deleted = 0;
        const bool ok = FTP->DeleteTree(N, true, deleted);
        ADelCount += deleted;
        if (!ok) {
            // Part of the tree may be gone; what is left stays for the next run.
            WriteErrorToLog(kSync, GuardedFormat(Tr("Error deleting directory: \"%s\""), rp + N),
                            FTP->GetIndyError(), QString());
            return false;
        }
        WriteToLog(2, LogIndentText(CurrentLogMode()) + GuardedFormat(Tr("Directory was deleted: \"%s\""), rp + N) +
                          QLatin1Char(' ') + FileCountText(deleted, true));
        return true;
    };

    for (const QString &n : std::as_const(dirNames)) {
        if (!result)
            break;
        if (progress.Stopped()) {
            result = false;
            break;
        }
        const QString sd = WithTrailingDelimiter(sourceDir + n);
        const bool present = IsSourceDir(sd);
        const QString sub = JoinPath(ASubDir, n);
        bool ok = true;
        if (SyncMode == 1) {
            ok = present ? SyncFtpDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, true, here, sub)
                         : syncStale(n);
        } else if (AList.IncludeDirs) {
            const bool inc = AParentIncluded || AList.SubDirList.IndexOf(sd) >= 0;
            if (present) {
                // A directory that is not included itself but leads to
                // included ones is walked, not removed.
                if (!inc && SyncMode == 3 && !hasRemoteSubDirs(n))
                    ok = syncStale(n);
                else
                    ok = SyncFtpDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, inc, here, sub);
            } else if (inc || SyncMode == 3) {
                ok = syncStale(n);
            }
        } else if (AList.SubDirList.IndexOf(sd) < 0) {
            ok = present ? SyncFtpDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, true, here, sub)
                         : syncStale(n);
        } else if (SyncMode == 3) {
            ok = syncStale(n);
        }
        result = result && ok;
        if (!FTP->Connected() || progress.Stopped())
            result = false;
    }

    // ---- Files ----
    const bool scanFiles = ASubDir.isEmpty() || AParentIncluded;
    int examined = 0;
    int removed = 0;
    if (result && scanFiles && !progress.Stopped()) {
        WriteToLog(3, kSix + GuardedFormat(Tr("Scanning FTP subdirectory: \"%s\""), here));
        progress.SetPrompt(WithTrailingSlash(ADest) + ASubDir);
        if (!FTP->GetFileList()) {
            WriteErrorToLog(QStringLiteral("B"), Tr("FTP connection lost!"), FTP->GetIndyError(), QString());
            progress.SetStopped(true);
            return false;
        }
        struct TRemoteFile {
            QString Name;
            TFileTime Time;
        };
        std::vector<TRemoteFile> files;
        for (int i = 0; i < FTP->FileList().Count(); ++i)
            files.push_back({FTP->FileList().Strings(i), FTP->GetLocalFileTime(FTP->FileList().Strings(i))});
        const bool syncCopyDir = KeepSyncCB.Checked() && SyncSec.DirMode != TSecDirMode::sdNone;
        const QString copyDir = SyncSec.DirPrefix + VlSettings.SecCopySettings.SyncSuffix;
        bool copyDirThere = dirNames.contains(copyDir);

        for (const TRemoteFile &file : files) {
            const QString &f = file.Name;
            WriteToLog(3, kSix + GuardedFormat(Tr("File at FTP destination is being examined: \"%s\""), rp + f));
            if ((ASubDir.isEmpty() && IsBackupInfoFile(true, f)) || IsLinkInfoFile(f))
                continue;
            ++ACount;
            ++examined;
            const bool atOnce = AllFiles || (SyncMode == 3 && AList.IncludeDirs && ASubDir.isEmpty());
            // Name mapping.
            bool z = false, g = false, e = false;
            QString m = f;
            const QString ext = ExtensionOf(f).toLower();
            if (ext == QLatin1String("zip") && cbZipCompress.Checked()) {
                z = true;
            } else if (ext == QLatin1String("gz") && cbCompress.Checked()) {
                g = true;
            } else if (ext == QLatin1String("gze") && cbCompress.Checked()) {
                g = e = true;
            } else if (ext == QLatin1String("enc")) {
                e = true;
            }
            if (z || g || (e && Encrypt))
                m = StripExtension(f);
            const QString x = f.mid(m.length());
            if (!g && !z && KeepBakCB.Checked() && HasSecSuffix(m, BakSec.FileSuffix, true))
                m = StripSecSuffix(m, BakSec.FileSuffix);
            bool del = true;
            const QString sf = sourceDir + m;
            if (!atOnce) {
                if (AList.SyncCount != 0)
                    progress.SetStepProgress(int(std::lround(100.0 / AList.SyncCount * ACount)));
                progress.SetElapsedTime(Now() - StartTime);
                ProcessMessages();
                auto noComp = [&](const QString &AName) { return AktNoComp.contains(FileTypeKey(AName)); };
                if (z)
                    del = XlFileNotFound(sf);
                else if (g)
                    del = XlFileNotFound(sf) && (!noComp(f) || XlFileNotFound(sourceDir + f));
                else
                    del = (cbCompress.Checked() && !noComp(m)) || (Encrypt && !e) || XlFileNotFound(sf);
                if (SyncMode == 2 || SyncMode == 3) {
                    QString key;
                    bool sel = IsFileTypeSelected(m, AList, key) && AList.FFilter.MatchesFilter(m);
                    TFileInfo info;
                    if (sel && XlGetFileInfo(sf, info))
                        sel = IsFileInfoSelected(info, AList);
                    del = SyncMode == 2 ? del && sel : del || !sel;
                }
            }
            if (!del) {
                WriteToLog(3, QStringLiteral("        ") +
                                  GuardedFormat(Tr("Existing source file: \"%s\""), sourceDir + m));
            } else if (KeepSyncCB.Checked()) {
                QString target;
                bool ready = true;
                if (!syncCopyDir) {
                    if (!IsNoSyncCopy(f, SyncSec.FileSuffix, z, g, e))
                        continue;
                    target = MakeSyncCopyName(m, SyncSec.FileSuffix, int64_t(file.Time)) + x;
                    FTP->DeleteExistingFile(target);
                } else {
                    if (!copyDirThere) {
                        copyDirThere = FTP->ChangeToNewDir(copyDir) >= 0 && FTP->ChangeToDir(here);
                        ready = copyDirThere;
                    }
                    if (ready)
                        FTP->DeleteSubDirFile(copyDir, f);
                    target = copyDir + QLatin1Char('/') + f;
                }
                if (ready && FTP->RenameFile(f, target, true)) {
                    ++removed;
                    ++ADelCount;
                    progress.WriteStatus(2, DeletedFilesText(ADelCount));
                    WriteToLog(2, LogIndentText(CurrentLogMode()) +
                                      GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("File"), rp + f,
                                                    rp + target));
                } else {
                    WriteErrorToLog(kSync,
                                    GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("File"), rp + f,
                                                  rp + target),
                                    FTP->GetIndyError(), QString());
                }
            } else if (FTP->DeleteFile(f, true)) {
                ++removed;
                ++ADelCount;
                progress.WriteStatus(2, DeletedFilesText(ADelCount));
                WriteToLog(2, LogIndentText(CurrentLogMode()) + GuardedFormat(Tr("File was deleted: \"%s\""), rp + f));
            } else {
                WriteErrorToLog(kSync, GuardedFormat(Tr("Error deleting file: \"%s\""), rp + f),
                                FTP->GetIndyError(), QString());
            }
            if (progress.Stopped())
                return false;
            ProcessMessages();
        }
    }

    // ---- Back to the parent; an emptied directory goes ----
    if (!name.isEmpty() && FTP->Connected()) {
        if (!FTP->ChangeToDir(parentDir)) {
            WriteErrorToLog(kSync, Tr("Error changing to subdirectory on FTP server: ") + parentDir,
                            Tr("Last FTP response: ") + FTP->LastResponseString(), QString());
            return false;
        }
        bool empty = result && subDirCount == 0 && examined == removed;
        if (empty && !scanFiles) // its files were not looked at
            empty = FTP->ChangeToDir(here) && FTP->GetFileList() && FTP->FileList().Count() == 0 &&
                    FTP->ChangeToDir(parentDir);
        if (empty && FTP->DeleteDir(name))
            WriteToLog(3, kSix + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), rp));
    }
    return result;
}

} // namespace vl
