// The per-directory engine: the walk over one source entry that decides
// for every directory and file what is backed up and how, and starts the
// copies (their preparation and completion: BackupCopy.cpp).
#include "backup/BackupEngine.h"

#include "backup/FileSelection.h"
#include "backup/MainServices.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/FileErrors.h"
#include "core/FileSearch.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/EncryptedFile.h"
#include "engine/FtpUtils.h"
#include "engine/GzipThread.h"
#include "engine/WinCopyThread.h"
#include "engine/ZipWrite.h"
#include "platform/Thread.h"

#include <QSet>

#include <chrono>
#include <cmath>
#include <thread>

namespace vl {

namespace {

const QString kBlanks6 = QStringLiteral("      ");
const QString kBlanks9 = QStringLiteral("         ");

QString UpperExt(const QString &AName)
{
    const QString ext = ExtensionOf(AName).toUpper();
    return ext.isEmpty() ? QStringLiteral("<ohne>") : ext;
}

// Destinations whose file names ignore case: two source names that differ
// only in case would land on one file there.
bool CaseInsensitiveDestination(TFileSystem AType, const QString &ADest)
{
    if (AType == TFileSystem::fsFat || AType == TFileSystem::fsExtFat)
        return true;
    QString fs;
    GetFileSystemName(ADest, fs);
    fs = fs.trimmed().toLower();
    return fs == QLatin1String("vfat") || fs == QLatin1String("exfat") || fs == QLatin1String("msdos")
           || fs == QLatin1String("cifs") || fs == QLatin1String("smb3") || fs == QLatin1String("smbfs");
}

} // namespace

// ---- Nested steps ----

QString TBackupForm::CopyFlagsText(bool Compressed, bool Encrypted) const
{
    QString s = Compressed ? QStringLiteral("C") : QStringLiteral("N");
    if (Encrypted)
        s += QLatin1Char('E');
    if (cbVerify.Checked())
        s += QLatin1Char('V');
    if (cbCopySummary.Checked())
        s += QLatin1Char('S');
    if (cbAltStreams.Checked())
        s += QLatin1Char('A');
    if (cbCopyPerms.Checked())
        s += QLatin1Char('P');
    if (cbCreationTime.Checked())
        s += QLatin1Char('T');
    if (cbNoAttributes.Checked())
        s += QLatin1Char('X');
    return s;
}

uint16_t TBackupForm::LocalCopyOptions(bool Compressed) const
{
    TCopyOptions o = FtpCopyOptions(Compressed);
    if (cbVerify.Checked())
        o |= CopyOptionBit(TCopyOption::coVerify);
    if (NoWriteCache)
        o |= CopyOptionBit(TCopyOption::coNoCache);
    return o;
}

uint16_t TBackupForm::FtpCopyOptions(bool Compressed) const
{
    TCopyOptions o = 0;
    if (Compressed)
        o |= CopyOptionBit(TCopyOption::coCompress);
    if (cbZipCompress.Checked())
        o |= CopyOptionBit(TCopyOption::coZipCompress);
    return o;
}

int64_t TBackupForm::DestDataSize(const QString &AName, bool Compressed, bool AsZip, bool Encrypted,
                                  int64_t SizeOnDisk) const
{
    TGzFileInfo info;
    try {
        if (AsZip)
            return ReadZipFileInfo(AName, info) == 0 ? info.USize : 0;
        if (Compressed)
            return ReadGzFileInfo(AName, info) ? info.USize : 0;
        if (Encrypted)
            return ReadEncFileInfo(AName, info) ? info.USize : 0;
    } catch (const std::exception &) {
        return 0; // unreadable: no size to compare
    }
    return SizeOnDisk;
}

bool TBackupForm::ZipEncryptionChanged(const QString &AName) const
{
    if (!EncChg)
        return false;
    TGzFileInfo info;
    try {
        if (ReadZipFileInfo(AName, info) != 0)
            return false;
    } catch (const std::exception &) {
        return false;
    }
    return info.Encrypted != (Encryption != nullptr);
}

void TBackupForm::ShowTotalProgress(int FileCount, int64_t TotalBytes)
{
    if (TotalSize <= 0)
        return;
    const double amount = VlSettings.ViewSettings.SizeProgress ? double(TotalBytes) : double(FileCount);
    const int progress = int(std::trunc(100.0 / double(TotalSize) * amount));
    BuMainForm().SetProgressInfo(Tr("Backup"), StripExtension(LastPathElement(LoadedTaskName)), progress);
    ProgressWindow().SetTotalProgress(progress);
}

// ---- The walk ----

void TBackupForm::BackupDirectory(const QString &SourceRootIn, const QString &DestBaseIn, const QString &FtpRoot,
                                  const QString &SubDirIn, const QString &RealParent, TFileTimestamps DirTimes,
                                  uint32_t DirAttr, bool ParentIncluded, bool Interactive, int &FileCount,
                                  int &CopiedCount, int &ErrorCount, int &WarningCount, int64_t &CopiedBytes,
                                  int64_t &TotalBytes, int64_t &ErrorBytes, TExtensionList &List)
{
    if (!EngineState)
        EngineState = std::make_shared<TEngineState>();
    if (!CopyProps)
        CopyProps = std::make_shared<TCopyProps>();
    TEngineState &eng = *EngineState;
    IProgressWindow &pw = ProgressWindow();
    const QString B = QStringLiteral("B");

    QString SourceRoot = SourceRootIn;
    QString DestBase = DestBaseIn;
    QString SubDir = SubDirIn;
    const bool isRoot = SubDir.isEmpty();
    if (isRoot && RealParent.isEmpty() && eng.Depth == 0)
        eng.Ancestors = TWalkAncestors();

    const QString D = WithTrailingDelimiter(WithTrailingDelimiter(SourceRoot) + SubDir);
    const QString DNoDelim = WithTrailingDelimiter(SourceRoot) + SubDir;

    // 1. Selection.
    bool selected;
    bool passIncluded = ParentIncluded;
    if (List.IncludeDirs) {
        // The root is walked for its subdirectories, but being the root
        // does not include them all.
        passIncluded = ParentIncluded || List.SubDirList.IndexOf(D) >= 0;
        selected = isRoot || passIncluded;
    } else {
        selected = List.SubDirList.IndexOf(D) < 0;
    }

    // 2. Junctions and symbolic links.
    QString resolved = D;
    bool isReparse = false;
    bool viaJunction = false;
    if (!isRoot) {
        QString target;
        int kind = rkNone;
        isReparse = ReadReparsePoint(DNoDelim, DirAttr, target, kind);
        if (isReparse && selected) {
            const QString M = GuardedFormat(kind == rkJunction ? Tr("Directory junction: \"%s\" => \"%s\"")
                                                               : Tr("Symbolic link: \"%s\" => \"%s\""),
                                            D, target);
            if (UseJunctions) {
                if (!target.isEmpty() && !DirContainsPath(target, RealParent)) {
                    WriteToLog(2, kBlanks6 + M);
                    resolved = WithTrailingDelimiter(target);
                    viaJunction = true;
                } else {
                    WriteToLog(3, kBlanks6 + M + QStringLiteral(" - ") + Tr("recursive (skipped)"));
                    return;
                }
            } else {
                if (!IgnoreJunctions && !target.isEmpty() && DestMode < 4) {
                    const QString T = WithTrailingDelimiter(DestBase) + SubDir;
                    if (BuFtp) {
                        if (FTP)
                            WriteFtpJunctionInfo(*FTP, T, target, uint8_t(kind));
                    } else {
                        WriteJunctionInfo(T, target, uint8_t(kind));
                    }
                    WriteToLog(3, kBlanks6 + M + QStringLiteral(" - ") + Tr("write info"));
                } else {
                    WriteToLog(3, kBlanks6 + M + QStringLiteral(" - ") + Tr("ignored"));
                }
                return;
            }
        } else if (!isReparse && selected && IsMountPoint(DNoDelim)) {
            WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Mounted file system: \"%s\""), D));
        }
    }
    // A cycle the text test cannot see (through several links): the same
    // directory (device, inode) is already on the walk's path.
    // An unreadable directory is no cycle: its enumeration reports it.
    const bool entered = eng.Ancestors.Enter(resolved);
    if (!entered && viaJunction) {
        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Symbolic link: \"%s\" => \"%s\""), D, resolved)
                          + QStringLiteral(" - ") + Tr("recursive (skipped)"));
        return;
    }
    struct TLeave {
        TEngineState &E;
        TEngineState::TDir *Saved;
        bool Entered;
        ~TLeave()
        {
            if (Entered)
                E.Ancestors.Leave();
            E.Dir = Saved;
            --E.Depth;
        }
    } leave{eng, eng.Dir, entered};
    ++eng.Depth;

    // 3. Junction paths across drives.
    if (selected && viaJunction && !BuFtp && FollowJunctions && DestMode == 0) {
        const QString target = resolved;
        const QString drive = ExtractFileDrive(target);
        if (!drive.isEmpty() && !drive.startsWith(QStringLiteral("//"))) {
            const QString L = DriveRelativePath(target);
            if (!IgnoreJunctions)
                WriteJunctionInfo(WithTrailingDelimiter(DestBase) + SubDir, target, rkJunction);
            DestBase = WithTrailingDelimiter(BaseDir) + DriveSubdirName(DriveId, drive) + L;
            SourceRoot = target;
            SubDir.clear();
            DirAttr = XlFileGetAttr(target, true);
            XlGetFileTimes(target, true, DirTimes);
        }
    }
    const QString T = WithTrailingDelimiter(DestBase) + SubDir;
    const bool localDest = !BuFtp;

    TEngineState::TDir dir;
    dir.SourceRoot = SourceRoot;
    dir.DestBase = DestBase;
    dir.SubDir = SubDir;
    dir.Interactive = Interactive;
    dir.FileCount = &FileCount;
    dir.CopiedCount = &CopiedCount;
    dir.ErrorCount = &ErrorCount;
    dir.WarningCount = &WarningCount;
    dir.CopiedBytes = &CopiedBytes;
    dir.TotalBytes = &TotalBytes;
    dir.ErrorBytes = &ErrorBytes;
    eng.Dir = &dir;
    if (isRoot && eng.Depth == 1)
        eng.CaseInsensitive = CaseInsensitiveDestination(TargetType, DestBase);
    if (localDest && !eng.DestDirs.contains(DestBase))
        eng.DestDirs.append(DestBase);

    // 4. Destination of the directory.
    bool ok = selected;
    TFtpDirState ftpState;
    const QString attrText = QStringLiteral(" (") + FileAttrToText(uint16_t(DirAttr)) + QLatin1Char(')');
    if (selected) {
        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Current directory: \"%s\""), D) + attrText);
        if (BuFtp && DestMode != 4 && DestMode != 5) {
            const int r = EnterFtpDirectory(FtpRoot, SubDir, ftpState, ErrorCount);
            if (r < 0)
                return;
            ok = r > 0;
        } else if (DestMode == 4 || DestMode == 5) {
            if (!(isRoot && cbDelDir.Checked()) && ZipArchive) {
                try {
                    ZipArchive->AddDir(D);
                } catch (const EZipError &e) {
                    WriteErrorToLog(1, B, Tr("Error writing to zip archive"), e.Message(), e.SysErrorMsg());
                    ++ErrorCount;
                    ok = false;
                }
            }
        } else if (!cbDelDir.Checked()) {
            if (!ForceDestDirectory(T, B, true)) {
                ++ErrorCount;
                ok = false;
            }
        }
    } else {
        WriteToLog(3, kBlanks6
                          + GuardedFormat(List.IncludeDirs ? Tr("Not selected: \"%s\"") : Tr("Excluded directory: \"%s\""),
                                          D)
                          + attrText);
    }

    // 5. Subdirectories first.
    if ((ok || (List.IncludeDirs && !isReparse)) && !pw.Stopped()) {
        TSearchRec sr;
        uint32_t code = FindFirst(D + QStringLiteral("*.*"), faAnyFile | faOnlyDirectories, sr);
        QString last;
        while (code == 0 && !pw.Stopped()) {
            last = sr.Name;
            if ((sr.Attr & faDirectory) != 0 && IsRegularDirName(sr.Name)) {
                TFileTimestamps ts;
                ts.Valid = true;
                ts.CreationTime = sr.FindData.CreationTime;
                ts.LastAccessTime = sr.FindData.LastAccessTime;
                ts.LastWriteTime = sr.FindData.LastWriteTime;
                BackupDirectory(SourceRoot, DestBase, FtpRoot, JoinPath(SubDir, sr.Name), resolved, ts, sr.Attr,
                                passIncluded, Interactive, FileCount, CopiedCount, ErrorCount, WarningCount,
                                CopiedBytes, TotalBytes, ErrorBytes, List);
                eng.Dir = &dir;
            }
            code = FindNext(sr);
        }
        FindClose(sr);
        if (code != 0 && code != ERROR_NO_MORE_FILES && code != ERROR_FILE_NOT_FOUND && !pw.Stopped()) {
            if (ok || !List.IncludeDirs) {
                WriteErrorToLog(1, B,
                                GuardedFormat(DirectoryErrorText(int(code)), D) + QStringLiteral(" (") + last
                                    + QLatin1Char(')'),
                                int(code));
                ++ErrorCount;
            }
            ok = false;
        }
    }

    // 6. Files of the directory.
    const bool processFiles = ok && (!List.IncludeDirs || !SubDir.isEmpty() || DestMode > 5);
    bool filesOk = processFiles;
    int filesAdded = 0;
    QString zipPath;
    if (processFiles && !pw.Stopped()) {
        if (DestMode > 5) {
            if (BuFtp) {
                zipPath = WithTrailingDelimiter(WorkTempDir.isEmpty() ? GetProgramTempDir() : WorkTempDir)
                          + QStringLiteral("VlTemp.zip");
            } else if (!ForceDestDirectory(T, B, true)) {
                ++ErrorCount;
                filesOk = false;
            } else {
                zipPath = InsertNameSuffix(WithTrailingDelimiter(T) + ZipName, QStringLiteral(".tmp"));
            }
            if (filesOk) {
                WriteToLog(2, QStringLiteral("   => ") + Tr("Write to zip archive: ")
                                  + WithTrailingDelimiter(SubDir) + ZipName);
                try {
                    ZipArchive = std::make_shared<TZipWrite>(zipPath, D, MaxZipSize, ActPwd, GetCryptKeyMode(),
                                                             TaskBufferSize);
                    ZipArchive->SetTempDir(WorkTempDir.isEmpty() ? GetProgramTempDir() : WorkTempDir);
                    ZipArchive->SetIsTemp(BuFtp);
                    ZipArchive->SetEncryptNames(cbEncNames.Checked());
                    // Progress and time-out handlers: CopySupervision.cpp.
                    ZipArchive->SetOnProgress([this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) {
                        CopyProgress(AAction, ACount, ASpeedLimit);
                    });
                    ZipArchive->OnTimeout = [this] { return CopyTimedOut(); };
                    dir.ZipPath = zipPath;
                } catch (const EZipError &e) {
                    WriteErrorToLog(1, B, e.Message(), e.SysErrorMsg(), QString());
                    ++ErrorCount;
                    ZipArchive.reset();
                    filesOk = false;
                }
            }
        } else if (BuFtp && FTP && DestMode < 4) {
            if (FTP->GetFileList()) {
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Current FTP directory: \"%s\""), FTP->CurrentDir()));
            } else {
                WriteErrorToLog(1, B, Tr("FTP connection lost!"), FTP->GetIndyError(), QString());
                ++ErrorCount;
                pw.SetStopped(true);
                BuStatus = TBuStatus::bsBroken;
            }
        }
    }

    // 7. The file loop.
    // Entries of a per-directory archive are backed up only once the
    // archive is written: their archive bits and source deletions wait
    // for it.
    const size_t commitMark = eng.Commits.size();
    const auto dropArchiveCommits = [&] {
        if (DestMode > 5 && eng.Commits.size() > commitMark) {
            eng.Commits.erase(eng.Commits.begin() + std::ptrdiff_t(commitMark), eng.Commits.end());
            dir.ArchiveKept = true;
        }
    };
    bool processed = false;
    if (filesOk && !pw.Stopped()) {
        processed = true;
        dir.ArchiveKept = false;
        pw.UpdatePrompt(TSourceSelection::ssDir, Tr("is being scanned:"),
                        WithTrailingDelimiter(SourceRoot) + SubDir, 0);
        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Scan for files in \"%s\""), D));
        // Every file of this pass is looked up in these two folders.
        const TDirLookupScope sourceLookups(D);
        const TDirLookupScope destLookups(T);
        QSet<QString> foldedNames;
        TSearchRec sr;
        uint32_t code = FindFirst(D + QStringLiteral("*.*"), faAnyFileNoDirs, sr);
        auto lastEvents = std::chrono::steady_clock::now();
        while (code == 0) {
            while (pw.Paused() && !pw.Stopped()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                ProcessMessages();
            }
            if (IsRegularDirName(sr.Name) && (sr.Attr & faDirectory) == 0
                && sr.Name.compare(QLatin1String("Velkor.lock"), Qt::CaseInsensitive) != 0) {
                pw.SetStepProgress(0);
                QString N = ChangeTextCase(sr.Name, FnMode);
                if (ReplMode == TCharRepl::cpSimple)
                    N = ReplaceInvalidFileNameChars(N, ReplChar);
                TFileInfo info;
                SearchRecToFileInfo(sr, info);
                const QString attr = QLatin1Char(' ') + FileAttrToText(uint16_t(info.Attr));
                const bool archiveBit = (info.Attr & faArchive) != 0;
                const QString relpath = JoinPath(SubDir, sr.Name);
                const QString S = JoinPath(WithTrailingDelimiter(SourceRoot) + SubDir, sr.Name);

                bool take = false;
                if (!(DestMode > 5 && List.IncludeDirs && SubDir.isEmpty())) {
                    QString ext;
                    take = IsFileTypeSelected(info.Name, List, ext) && IsFileInfoSelected(info, List);
                    if (take && !ReplSourceDrv.isEmpty())
                        take = XlFileExists(ApplyDriveMapping(S, ReplSourceDrv), false);
                }
                if (!take) {
                    pw.SetElapsedTime(Now() - StartTime);
                    WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Not selected: \"%s\""), relpath) + QStringLiteral(" (")
                                      + ByteSizeText(false, info.Size) + attr + QLatin1Char(')'));
                } else if (UseArchivCB.Checked() && (cbArchFile.Checked() || ClearDest || DestMode > 3)
                           && !archiveBit) {
                    ++FileCount;
                    TotalBytes += info.Size;
                    pw.SetElapsedTime(Now() - StartTime);
                    WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Skipped - archive bit not set at source: \"%s\""),
                                                           relpath));
                } else {
                    const bool compressed =
                        cbCompress.Checked() && !AktNoComp.contains(UpperExt(sr.Name), Qt::CaseSensitive);
                    const bool encrypted = Encryption != nullptr;
                    TFileTimestamps ts;
                    ts.Valid = true;
                    ts.CreationTime = sr.FindData.CreationTime;
                    ts.LastAccessTime = sr.FindData.LastAccessTime;
                    ts.LastWriteTime = sr.FindData.LastWriteTime;
                    TEngineFile f;
                    f.Source = S;
                    f.Name = N;
                    f.RelPath = relpath;
                    f.AttrText = attr;
                    f.Info = info;
                    f.Times = ts;
                    f.ArchiveBit = archiveBit;
                    f.Compressed = compressed;
                    f.Encrypted = encrypted;
                    f.DestDir = T;
                    if (DestMode <= 3 && !BuFtp) {
                        // The case change of FnMode and the replaced
                        // characters can give two files one destination
                        // name as well: the first one found keeps its copy.
                        const QString folded = eng.CaseInsensitive ? N.toCaseFolded() : N;
                        if (foldedNames.contains(folded)) {
                            WriteErrorToLog(1, B,
                                            GuardedFormat(eng.CaseInsensitive
                                                              ? Tr("File name differs only in case from a file "
                                                                   "already backed up to this directory: \"%s\"")
                                                              : Tr("Destination name is already used by another "
                                                                   "file of this directory: \"%s\""),
                                                          relpath),
                                            QString(), QString());
                            ++FileCount;
                            TotalBytes += info.Size;
                            ErrorBytes += info.Size;
                            ++ErrorCount;
                        } else {
                            foldedNames.insert(folded);
                            BackupLocalFile(f);
                        }
                    } else if (BuFtp && DestMode <= 3) {
                        TFtpFileJob job;
                        job.Source = S;
                        job.Name = N;
                        job.RelPath = relpath;
                        job.AttrText = attr;
                        job.SourceTime = info.DateTime;
                        job.Size = info.Size;
                        job.ArchiveBit = archiveBit;
                        job.Compressed = compressed;
                        job.Encrypted = encrypted;
                        const int r = FtpBackupFile(job, FileCount, TotalBytes, ErrorCount);
                        TCopyProps &cp = *CopyProps;
                        cp = TCopyProps();
                        cp.SName = S;
                        cp.RName = S;
                        cp.DName = N;
                        cp.EName = job.RemoteName;
                        cp.TName = job.TempName;
                        cp.DDir = T;
                        cp.ErrMsg = job.ErrMsg;
                        cp.SInfo = info;
                        cp.Timestamps = ts;
                        cp.DExist = job.Exists;
                        cp.RelPath = relpath;
                        cp.Compressed = compressed;
                        cp.Encrypted = encrypted;
                        cp.ArchiveBit = archiveBit;
                        if (FinishFileCopy(r) == 1)
                            dir.StopLoop = true;
                        ShowTotalProgress(FileCount, TotalBytes);
                    } else {
                        if (BackupZipEntry(f, filesAdded) == 1)
                            dir.StopLoop = true;
                    }
                }
            }
            // The windows and the cancel button need their events every few
            // milliseconds, not after every one of many small files.
            if (const auto now = std::chrono::steady_clock::now(); now - lastEvents >= std::chrono::milliseconds(10)) {
                lastEvents = now;
                ProcessMessages();
            }
            if (pw.Stopped() || dir.StopLoop)
                break;
            code = FindNext(sr);
        }
        FindClose(sr);
        if (code != 0 && code != ERROR_NO_MORE_FILES && code != ERROR_FILE_NOT_FOUND && !pw.Stopped()
            && !dir.StopLoop) {
            WriteErrorToLog(1, B, Tr("Error scanning directory: ") + D, int(code));
            ++ErrorCount;
        }
        ProcessMessages();
        if (BuFtp && FTP)
            FTP->SetValidDirectoryListing(false);
        if (dir.StopLoop && pw.Stopped() && BuStatus == TBuStatus::bsFull) {
            dropArchiveCommits();
            return;
        }
    }

    // 10. End of the directory.
    if (processed) {
        if ((DestMode == 4 || DestMode == 5) && cbDelDir.Checked() && filesAdded == 0 && ZipArchive) {
            const QString name = ZipArchive->RemLastDir();
            if (!name.isEmpty())
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), name));
        }
        if (DestMode > 5) {
            bool archived = false;
            if (ZipArchive) {
                const bool keep = filesAdded > 0 || isRoot;
                const int errorsBefore = ErrorCount;
                FinishDirArchive(keep, T, SubDir, ErrorCount);
                archived = keep && ErrorCount == errorsBefore;
            }
            if (!archived)
                dropArchiveCommits(); // abandoned or not written
        }
        if (ResArchivCB.Checked() && !dir.ArchiveKept && !SubDir.isEmpty()) {
            const QString srcDir = WithTrailingDelimiter(SourceRoot) + SubDir;
            const uint32_t a = XlFileGetAttr(srcDir, false);
            if (a != faInvalid && (a & faArchive) != 0) {
                TEngineState::TCommit c;
                c.Path = srcDir;
                c.IsDir = true;
                c.ResetArchive = true;
                eng.Commits.push_back(c);
            }
        }
    }
    if (localDest && DestMode != 4 && DestMode != 5) {
        if (eng.Pending) {
            int r = FinishFileCopy(CompleteLocalCopy());
            while (r == 2) {
                StartCopyThread();
                r = FinishFileCopy(CompleteLocalCopy());
            }
            if (r == 1)
                return;
        }
        const QString X = WithTrailingDelimiter(WithTrailingDelimiter(DestBase) + SubDir);
        if (!SubDir.isEmpty() && XlDirectoryExists(X, false)) {
            bool stays = true;
            if (cbDelDir.Checked() && XlDirectoryIsEmpty(X)) {
                if (!cbNoAttributes.Checked())
                    XlFileSetAttr(X, faArchive, false);
                const uint32_t code = XlRemoveDirectory(X);
                if (code == 0) {
                    stays = false;
                    WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), X));
                } else {
                    WriteErrorToLog(1, B, GuardedFormat(Tr("Error deleting directory: \"%s\""), X) + attrText,
                                    int(code));
                    XlFileSetAttr(X, DirAttr, false);
                }
            }
            if (stays) {
                if (!cbNoAttributes.Checked())
                    SetDestAttributes(X, int(DirAttr), B, false);
                if (DirTimes.Valid) {
                    const uint32_t code = XlSetFileTimes(X, DirTimes, true, cbCreationTime.Checked(), true);
                    if (code != 0)
                        WriteErrorToLog(6, B, FileErrorMessage(527, X), int(code));
                }
                if (cbCopyPerms.Checked() && KeepsPermissions(SourceType)) {
                    const uint32_t code = XlCopyPermissions(D, X);
                    if (code != 0)
                        WriteErrorToLog(6, B, FileErrorMessage(531, X), int(code));
                }
            }
        }
    }
    if (cbSourceDelete.Checked() && (DelSourceDelDir & 1) != 0 && !SubDir.isEmpty()) {
        // Removed once the entry's deletions are committed (the files are
        // still there until then).
        TEngineState::TCommit c;
        c.Path = D;
        c.IsDir = true;
        c.DeleteSource = true;
        eng.Commits.push_back(c);
    }
    if (BuFtp && DestMode != 4 && DestMode != 5 && selected && !SubDir.isEmpty())
        LeaveFtpDirectory(ftpState, ErrorCount);

    // Total amount.
    if (VlSettings.ViewSettings.SizeProgress) {
        if (TotalBytes > TotalSize) {
            TotalSize = TotalBytes;
            pw.SetTotalAmount(ByteSizeText(false, TotalSize));
        }
    } else if (FileCount > TotalSize) {
        TotalSize = FileCount;
        pw.SetTotalAmount(FileCountText(FileCount, false));
    }
}

} // namespace vl
