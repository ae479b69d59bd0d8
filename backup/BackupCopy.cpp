// The per-file end of the engine: comparing a file with its destination
// copy, starting and completing its copy, evaluating any copy result, old
// security copies, and the commit that lets archive bits and source
// deletions follow the copies once they are on disk.
#include "backup/BackupEngine.h"

#include "backup/MainServices.h"
#include "backup/SecCopyNames.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/FileErrors.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/FtpUtils.h"
#include "engine/WinCopyThread.h"
#include "engine/ZipWrite.h"
#include "platform/Shell.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"
#include "ui/NumberEdits.h"

#include <cmath>
#include <set>

namespace vl {

namespace {

const QString kBlanks6 = QStringLiteral("      ");
const QString kBlanks9 = QStringLiteral("         ");
const QString kGroup = QStringLiteral("B");
constexpr int64_t kFourGiB = 4294967296LL;

// The extension a method adds: ".zip", ".gze", ".gz", ".enc" or none.
QString MethodExtension(bool AsZip, bool Compressed, bool Encrypted)
{
    if (AsZip)
        return QStringLiteral(".zip");
    if (Compressed)
        return Encrypted ? QStringLiteral(".gze") : QStringLiteral(".gz");
    return Encrypted ? QStringLiteral(".enc") : QString();
}

QString FileNameOf(const QString &APath)
{
    return APath.mid(APath.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// ---- Security copies ----

QString TBackupForm::BakCopyLocation(const QString &ADestDir) const
{
    const QString dest = WithTrailingDelimiter(ADestDir);
    const QString D = BakSec.DirPrefix + BakSec.DirSuffix;
    const QString base = WithTrailingDelimiter(BaseDir);
    const QString R = RelativePathTo(base, dest);
    const qsizetype slash = R.indexOf(QLatin1Char('/'));
    const QString R1 = slash < 0 ? R : R.left(slash);
    const QString Rrest = slash < 0 ? QString() : R.mid(slash + 1);
    switch (BakSec.DirMode) {
    case TSecDirMode::sdNone:
        return dest;
    case TSecDirMode::sdSubDir:
        return WithTrailingDelimiter(dest + D);
    case TSecDirMode::sdSepDir: {
        const QString root =
            EngineState && EngineState->Dir ? WithTrailingDelimiter(EngineState->Dir->DestBase) : base;
        return WithTrailingDelimiter(WithTrailingDelimiter(root + D) + RelativePathTo(root, dest));
    }
    case TSecDirMode::sdRootDir:
        return WithTrailingDelimiter(WithTrailingDelimiter(base + D) + R);
    case TSecDirMode::sdRootDate:
        return WithTrailingDelimiter(WithTrailingDelimiter(base + R1) + D + QLatin1Char('-')
                                     + FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now()) + QLatin1Char('/')
                                     + Rrest);
    case TSecDirMode::sdRootDrive:
        return WithTrailingDelimiter(WithTrailingDelimiter(WithTrailingDelimiter(base + R1) + D) + Rrest);
    }
    return dest;
}

namespace {

// Numbered copy n of a history: one digit below 10 unless MaxHist needs two.
QString HistoryName(const QString &ALocation, const QString &AName, const QString &AExt, const QString &ASuffix,
                    int n, int AMaxHist, bool ATwoDigits)
{
    QString s = ASuffix;
    const int width = (ATwoDigits || AMaxHist >= 10) ? 2 : 1;
    s.replace(QLatin1Char('#'), IntToStrZeroPad(width, n));
    return ALocation + InsertNameSuffix(AName, s) + AExt;
}

// The copy n as it exists: for n below 10 the one-digit form, else the
// two-digit one.
QString ExistingHistoryName(const QString &ALocation, const QString &AName, const QString &AExt,
                            const QString &ASuffix, int n, int AMaxHist)
{
    const QString first = HistoryName(ALocation, AName, AExt, ASuffix, n, AMaxHist, false);
    if (n < 10 && AMaxHist < 10 && !XlFileExists(first, false)) {
        const QString second = HistoryName(ALocation, AName, AExt, ASuffix, n, AMaxHist, true);
        if (XlFileExists(second, false))
            return second;
    }
    return first;
}

} // namespace

void TBackupForm::CleanOldSecurityCopies(const QString &AEName, const QString &ADName, const QString &ADestDir)
{
    if (!KeepBakCB.Checked() || BakSec.AgeInWeeks <= 0 || BakSec.DirMode == TSecDirMode::sdRootDate)
        return;
    const QString X = AEName != ADName ? AEName.mid(ADName.size()) : QString();
    const QString N = FileNameOf(ADName);
    const QString location = BakCopyLocation(ADestDir);
    const TDateTime limit = std::trunc(Now()) - 7.0 * BakSec.AgeInWeeks;
    if (BakSec.MaxHist < 2) {
        if (!XlDirectoryExists(location, true))
            return;
        const QString mask = BakSec.DirMode != TSecDirMode::sdNone && BakSec.FileSuffix.isEmpty()
                                 ? QString()
                                 : BakSuffixToMask(QLatin1Char('.') + BakSec.FileSuffix);
        DeleteOldFiles(location, InsertNameSuffix(N, mask) + X, limit);
        return;
    }
    if (BakSec.MaxHist < BakSec.MinHist)
        return;
    const QString suffix = QLatin1Char('.') + BakSec.FileSuffix;
    for (int n = BakSec.MaxHist; n >= BakSec.MinHist && n >= 1; --n) {
        const QString name = ExistingHistoryName(location, N, X, suffix, n, BakSec.MaxHist);
        if (XlFileExists(name, false) && GetFileAge(name, false) <= limit)
            FileDelete(name);
    }
}

// ---- Methods 0 to 3: the decision and the start of a copy ----

void TBackupForm::BackupLocalFile(const TEngineFile &AFile)
{
    TEngineState &eng = *EngineState;
    TEngineState::TDir &dir = *eng.Dir;
    IProgressWindow &pw = ProgressWindow();
    const bool asZip = cbZipCompress.Checked();
    const QString P = JoinPath(AFile.DestDir, AFile.Name);
    const QString E = P + MethodExtension(asZip, AFile.Compressed, AFile.Encrypted);
    const int64_t size = AFile.Info.Size;

    TFileInfo dinfo;
    const bool destExists = XlGetFileInfo(E, dinfo);
    const TFileTime lwTime = destExists ? dinfo.FileTime : 0;
    bool copy = true;
    int kind = 1;
    int reason = 0;
    int64_t destData = 0;
    if (UseArchivCB.Checked()) {
        reason = 4;
        copy = (cbArchFile.Checked() || ClearDest) ? AFile.ArchiveBit : (AFile.ArchiveBit || !destExists);
    } else if (destExists) {
        if (!cbNoAttributes.Checked() && (dinfo.Attr & 7) != (AFile.Info.Attr & 7))
            kind = 5;
        if (CompareMode == 3) {
            reason = 3;
        } else {
            const int64_t diff = FileTimeToUnixSeconds(AFile.Info.FileTime) - FileTimeToUnixSeconds(dinfo.FileTime);
            if (CompareMode == 0) {
                copy = diff > DeltaTime;
                if ((DstIgnore & 1) != 0 && copy)
                    copy = std::llabs(diff - 3600) > DeltaTime;
            } else {
                copy = std::llabs(diff) > DeltaTime;
                if ((DstIgnore & 1) != 0 && copy)
                    copy = std::llabs(std::llabs(diff) - 3600) > DeltaTime;
            }
            if (copy)
                reason = 1;
            else if (CompareMode == 2)
                reason = 3;
        }
        if (reason == 3) {
            destData = DestDataSize(E, AFile.Compressed, asZip, AFile.Encrypted, dinfo.Size);
            copy = size > 0 && destData > 0 && size != destData;
        }
        if (asZip && !copy)
            copy = ZipEncryptionChanged(E);
    }
    if (copy && !AFile.Compressed && (TargetType == TFileSystem::fsFat || TargetType == TFileSystem::fsNotAvail)
        && size >= kFourGiB) {
        copy = false;
        kind = 4;
    }

    if (copy) {
        // 1. The pending copy first.
        if (eng.Pending) {
            int r = FinishFileCopy(CompleteLocalCopy());
            while (r == 2) {
                StartCopyThread();
                r = FinishFileCopy(CompleteLocalCopy());
            }
            if (r == 1) {
                dir.StopLoop = true;
                return;
            }
            ShowTotalProgress(*dir.FileCount, *dir.TotalBytes);
        }
        if (pw.Stopped())
            return;
        ++*dir.FileCount;
        *dir.TotalBytes += size;
        // 3. Temporary name.
        QString tname = E;
        if (destExists) {
            tname = E + QStringLiteral(".tmp");
            if (XlFileExists(tname, false))
                tname = E + QStringLiteral(".~tmp");
        }
        // 4. Log.
        if (CurrentLogMode() >= 3) {
            WriteToLog(3, kBlanks6
                              + GuardedFormat(CopyOperationText(false, AFile.Compressed, AFile.Encrypted),
                                              AFile.RelPath, ByteSizeText(false, size), tname)
                              + QStringLiteral(" [") + CopyFlagsText(AFile.Compressed, AFile.Encrypted)
                              + QLatin1Char(']'));
            const QString start = kBlanks9 + AFile.AttrText + QLatin1Char(' ') + FormatTimeStamp(AFile.Info.DateTime);
            if (reason == 4)
                WriteToLog(3, start + QStringLiteral(" -> ") + Tr("Archive bit is set"));
            else if (reason == 3)
                WriteToLog(3, start + QStringLiteral(" -> (") + ByteSizeText(false, destData) + QLatin1Char(')'));
            else if (reason == 1)
                WriteToLog(3, start + QStringLiteral(" -> ") + FormatTimeStamp(XlFileAgeOrDefault(E, 0)));
            else
                WriteToLog(3, start + QStringLiteral(" -> ") + Tr("not present"));
        }
        // 5.
        pw.UpdatePrompt(TSourceSelection::ssFile, QString(), AFile.Source, size);
        // 6. Other variants of the file: removed once the new copy is complete.
        QStringList others;
        if (AFile.Compressed) {
            if (asZip)
                others = {P, P + QStringLiteral(".enc"), P + QStringLiteral(".gz"), P + QStringLiteral(".gze")};
            else if (AFile.Encrypted)
                others = {P, P + QStringLiteral(".enc"), P + QStringLiteral(".zip"), P + QStringLiteral(".gz")};
            else
                others = {P, P + QStringLiteral(".enc"), P + QStringLiteral(".zip"), P + QStringLiteral(".gze")};
        } else if (asZip) {
            others = {P, P + QStringLiteral(".gz"), P + QStringLiteral(".gze")};
            if (!AFile.Encrypted)
                others << P + QStringLiteral(".enc");
        } else {
            others = {P + QStringLiteral(".zip"), P + QStringLiteral(".gz"), P + QStringLiteral(".gze")};
            others << (AFile.Encrypted ? P : P + QStringLiteral(".enc"));
        }
        others.removeAll(E);
        // 7. Destination directory on demand.
        if (AFile.DestDir.compare(CurDir, Qt::CaseInsensitive) != 0) {
            if (!ForceDestDirectory(AFile.DestDir, kGroup, true)) {
                ++*dir.ErrorCount;
                dir.StopLoop = true;
                return;
            }
            const QString base = CommonBasePath(AFile.DestDir, CurDir);
            QString dd = WithTrailingDelimiter(AFile.DestDir);
            QString sd = WithTrailingDelimiter(WithTrailingDelimiter(dir.SourceRoot) + dir.SubDir);
            // Only folders of this entry's destination have source
            // counterparts.
            while (DirContainsPath(dir.DestBase, dd) && !SameDirectoryNonEmpty(dd, base)) {
                TFileTimestamps ts;
                if (XlGetFileTimes(sd, true, ts)) {
                    const uint32_t code = XlSetDirTimes(dd, ts, true, cbCreationTime.Checked());
                    if (code != 0) {
                        WriteErrorToLog(6, kGroup, FileErrorMessage(527, dd), int(code));
                    } else if (CurrentLogMode() >= 3) {
                        QString t;
                        FileTimeToText(ts.LastWriteTime, t);
                        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Set timestamp: \"%s\" => %s"), dd, t));
                    }
                }
                const QString up = WithTrailingDelimiter(ParentDirectory(dd));
                if (up == dd)
                    break;
                dd = up;
                sd = WithTrailingDelimiter(ParentDirectory(sd));
            }
            CurDir = AFile.DestDir;
        }
        // 8. A leftover temporary file.
        if (destExists)
            XlDeleteExistingFile(tname, true);
        // 9. Free space for large plain files.
        if (!AFile.Compressed && size >= kFourGiB) {
            const int64_t freeSpace = GetFreeDiskSpace(P);
            if (freeSpace <= size) {
                WriteErrorToLog(1, kGroup,
                                GuardedFormat(Tr("Not enough free space on \"%s\" to copy file \"%s\""),
                                              ExtractFileDrive(P), E)
                                    + QStringLiteral(" (") + ByteSizeText(false, size) + QLatin1Char(')'),
                                QString(), QString());
                ++*dir.ErrorCount;
                return;
            }
        }
        // 10. Start.
        TCopyProps &cp = *CopyProps;
        cp = TCopyProps();
        cp.SName = AFile.Source;
        cp.RName = ApplyDriveMapping(AFile.Source, ReplSourceDrv);
        cp.DName = P;
        cp.EName = E;
        cp.TName = tname;
        cp.DDir = AFile.DestDir;
        cp.SInfo = AFile.Info;
        cp.Timestamps = AFile.Times;
        cp.DExist = destExists;
        cp.LwTime = lwTime;
        cp.CRatio = -1;
        cp.RelPath = AFile.RelPath;
        cp.Compressed = AFile.Compressed;
        cp.Encrypted = AFile.Encrypted;
        cp.ArchiveBit = AFile.ArchiveBit;
        cp.HaveBefore = StatPath(cp.RName, true, cp.Before) == 0;
        cp.Variants = others;
        StartCopyThread();
        return;
    }

    if (kind == 5) {
        // Level-3 lines cost a stat of the destination: only when written.
        if (LogWants(3))
            WriteToLog(3, kBlanks9 + AFile.AttrText + QLatin1Char(' ') + FormatTimeStamp(AFile.Info.DateTime)
                              + QStringLiteral(" -> ") + FileAttrToText(uint16_t(dinfo.Attr)) + QLatin1Char(' ')
                              + FormatTimeStamp(XlFileAgeOrDefault(E, 0)));
        SetDestAttributes(E, int(AFile.Info.Attr), kGroup, false);
    }
    if (kind == 4) {
        WriteErrorToLog(1, kGroup,
                        GuardedFormat(Tr("File size exceeds maximum of 4GB for FAT32 destinations: \"%s\""),
                                      AFile.RelPath)
                            + QStringLiteral(" (") + ByteSizeText(false, size) + QLatin1Char(')'),
                        QString(), QString());
        *dir.ErrorBytes += size;
        ++*dir.ErrorCount;
    } else if (kind == 1 || kind == 5) {
        if (destExists)
            CleanOldSecurityCopies(E, P, AFile.DestDir);
        QString note;
        if (reason != 4 && ResArchivCB.Checked() && AFile.ArchiveBit) {
            // Like every reset of the entry it waits for the commit.
            TEngineState::TCommit c;
            c.Path = AFile.Source;
            c.HaveBefore = StatPath(AFile.Source, true, c.Before) == 0;
            c.ResetArchive = true;
            c.Dest = E;
            eng.Commits.push_back(c);
            if (!eng.DestDirs.contains(AFile.DestDir) && XlDirectoryExists(AFile.DestDir, true))
                eng.DestDirs.append(AFile.DestDir);
            note = QStringLiteral(" (A)");
        }
        if (reason == 4) {
            WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Skipped - archive bit not set at source: \"%s\""),
                                                   AFile.RelPath));
        } else {
            // Most files of an unchanged run end here: the lines are built
            // only for a log that keeps them.
            const bool detail = LogWants(3);
            const bool marked = CurrentLogMode() == 2 && (ActMode & 4) != 0;
            if (detail || marked) {
                const QString line = GuardedFormat(Tr("File at destination is up to date: \"%s\""), AFile.RelPath)
                                     + QStringLiteral(" (") + ByteSizeText(false, size) + QLatin1Char(')') + note;
                if (detail) {
                    WriteToLog(3, kBlanks6 + line);
                    WriteToLog(3, kBlanks9 + AFile.AttrText + QLatin1Char(' ') + FormatTimeStamp(AFile.Info.DateTime)
                                      + QStringLiteral(" <-> ") + FormatTimeStamp(XlFileAgeOrDefault(E, 0)));
                }
                if (marked)
                    WriteToLog(2, kBlanks6 + QStringLiteral("* ") + line);
            }
        }
    }
    pw.SetElapsedTime(Now() - StartTime);
    ShowTotalProgress(*dir.FileCount, *dir.TotalBytes);
    ++*dir.FileCount;
    *dir.TotalBytes += size;
}

void TBackupForm::StartCopyThread()
{
    TCopyProps &cp = *CopyProps;
    auto thread = std::make_shared<TWinCopyThread>(cp.RName, cp.TName, Encryption.get(),
                                                   LocalCopyOptions(cp.Compressed), TaskBufferSize, CopyPriority);
    thread->SetTempDir(WithTrailingDelimiter(WorkTempDir.isEmpty() ? GetProgramTempDir() : WorkTempDir));
    thread->SetOnProgress([this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) {
        CopyProgress(AAction, ACount, ASpeedLimit);
    });
    LastTick = CurrentTick();
    LastCount = 0;
    CopySpeed = 0;
    CopyThread = thread;
    EngineState->Pending = true;
    if (!EngineState->DestDirs.contains(cp.DDir))
        EngineState->DestDirs.append(cp.DDir);
    thread->Start();
}

// ---- Completion of a local copy ----

int TBackupForm::CompleteLocalCopy()
{
    TCopyProps &cp = *CopyProps;
    TEngineState &eng = *EngineState;
    eng.Pending = false;
    int rc = WaitForCopyThread(cp.ErrMsg, cp.CRatio);
    CopyThread.reset();
    int result = rc;
    bool full = false;
    if (rc == 0) {
        result = 2;
    } else if ((rc & 0xFF) == 7) {
        const int64_t freeSpace = GetFreeDiskSpace(cp.DDir);
        const int64_t buffer = TaskBufferSize > 0 ? TaskBufferSize : 65536;
        if (freeSpace < buffer) {
            WriteToLog(3, QStringLiteral("   => ")
                              + GuardedFormat(Tr("%s remaining on drive %s"), ByteSizeText(false, freeSpace),
                                              ExtractFileDrive(cp.DDir)));
            // The partial file is removed below: left as E it would pass
            // for an up-to-date copy in the next run.
            full = true;
            result = 3;
        } else {
            rc = (rc & 0xF00) | 5;
            result = rc;
        }
    }
    if (full || (rc & 0x100) != 0 || (rc & 0x80) != 0) {
        const QString root = eng.Dir ? WithTrailingDelimiter(eng.Dir->SourceRoot) : QString();
        WriteErrorToLog(3, kGroup, CopyErrorMessage(RelativePathTo(root, cp.SName), cp.TName, rc), cp.ErrMsg,
                        QString());
        if (XlFileExists(cp.TName, false) && BuMainForm().DelTemp()) {
            const uint32_t code = XlDeleteFileEx(cp.TName, true);
            if (code == 0)
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("File was deleted: \"%s\""), cp.TName));
            else
                WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error deleting file: \"%s\""), cp.TName), int(code));
        }
        return result;
    }

    QString E = cp.EName;
    bool ok = true;
    if (cp.DExist) {
        WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Temporary file was copied successfully: \"%s\""), cp.TName));
        const QString X = cp.EName != cp.DName ? cp.EName.mid(cp.DName.size()) : QString();
        if (KeepBakCB.Checked()) {
            const QString N = FileNameOf(cp.DName);
            const bool plainName = BakSec.DirMode != TSecDirMode::sdNone && BakSec.FileSuffix.isEmpty();
            const QString suffixText =
                plainName ? QString() : QLatin1Char('.') + ExpandBakSuffix(BakSec.FileSuffix, int64_t(cp.LwTime));
            const QString mask = plainName ? QString() : BakSuffixToMask(QLatin1Char('.') + BakSec.FileSuffix);
            const QString location = BakCopyLocation(cp.DDir);
            if (BakSec.DirMode != TSecDirMode::sdNone)
                ok = ForceDestDirectory(location, kGroup, true);
            const TDateTime limit = std::trunc(Now()) - 7.0 * BakSec.AgeInWeeks;
            QString target;
            if (ok) {
                int &ec = *eng.Dir->ErrorCount;
                int &wc = *eng.Dir->WarningCount;
                if (BakSec.MaxHist < 2) {
                    if (BakSec.AgeInWeeks > 0)
                        DeleteOldFiles(location, InsertNameSuffix(N, mask) + X, limit);
                    target = location + InsertNameSuffix(N, suffixText) + X;
                } else {
                    const QString sfx = QLatin1Char('.') + BakSec.FileSuffix;
                    const int mh = BakSec.MaxHist;
                    for (int n = mh; n >= 2; --n) {
                        const QString older = ExistingHistoryName(location, N, X, sfx, n - 1, mh);
                        const QString newer = HistoryName(location, N, X, sfx, n, mh, false);
                        if (!XlFileExists(older, false))
                            continue;
                        if (BakSec.AgeInWeeks > 0 && GetFileAge(older, false) <= limit && n > BakSec.MinHist) {
                            FileDelete(older);
                            continue;
                        }
                        if (XlFileExists(newer, false))
                            FileDelete(newer);
                        if (!XlFileExists(newer, false))
                            FileRename(older, newer, ec, wc);
                    }
                    for (int n = mh + 1; n <= 99; ++n) {
                        for (const bool two : {false, true}) {
                            const QString extra = HistoryName(location, N, X, sfx, n, mh, two);
                            if (XlFileExists(extra, false))
                                XlDeleteExistingFile(extra, true);
                        }
                    }
                    target = HistoryName(location, N, X, sfx, 1, mh, false);
                }
                if (XlFileExists(E, false)) {
                    if (!XlFileExists(target, false) || FileDelete(target)) {
                        if (FileRename(E, target, ec, wc) <= 0 && !XlFileExists(E, false)
                            && CurrentLogMode() == 2) {
                            if (BakSec.DirMode != TSecDirMode::sdNone) {
                                const QString place =
                                    (BakSec.DirMode == TSecDirMode::sdSubDir || BakSec.DirMode == TSecDirMode::sdSepDir)
                                        ? RelativePathTo(WithTrailingDelimiter(eng.Dir->DestBase), target)
                                        : QLatin1Char('/') + RelativePathTo(WithTrailingDelimiter(BaseDir), target);
                                WriteToLog(2, kBlanks6 + GuardedFormat(Tr("File \"%s\" was moved to: \"%s\""),
                                                                       FileNameOf(E), place));
                            } else {
                                WriteToLog(2, kBlanks6
                                                  + GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("File"),
                                                                  FileNameOf(E), FileNameOf(target)));
                            }
                        }
                    }
                }
            }
        } else if (!FileDelete(E)) {
            result = 294;
        }
        ok = true;
        if (XlFileExists(cp.TName, false) && XlFileExists(E, false)) {
            // The old copy can be neither kept nor removed: the new one gets
            // a name of its own instead of being lost.
            const QString stem = E.left(E.size() - X.size());
            E = InsertNameSuffix(stem, QStringLiteral("-dup")) + X;
            WriteErrorToLog(3, kGroup, Tr("Copying to replacement file") + QStringLiteral(": ") + E, QString(),
                            QString());
            ok = FileDelete(E);
        }
        if (!ok) {
            result = 291;
        } else {
            QString err;
            if (RenameDestFile(cp.DDir, cp.TName, E, err, 3, -1) > 0) {
                result = 291;
                ok = false;
                cp.ErrMsg = err;
            }
        }
    }
    if (ok) {
        QStringList G;
        if (cbAltStreams.Enabled() && cbAltStreams.Checked()) {
            const uint32_t code = XlCopyStreams(cp.RName, E);
            if (code != 0) {
                result = 512;
                WriteErrorToLog(6, kGroup, FileErrorMessage(549, E), int(code));
            } else {
                G << Tr("Copy alternate data streams");
            }
        }
        if (cbCopySummary.Enabled() && cbCopySummary.Checked())
            G << Tr("Copy document summary"); // nothing to copy on this system
        if (cbCopyPerms.Checked() && KeepsPermissions(SourceType)) {
            const uint32_t code = XlCopyPermissions(cp.RName, E);
            if (code != 0) {
                result = 512;
                WriteErrorToLog(6, kGroup, FileErrorMessage(531, E), int(code));
            } else {
                G << Tr("Copy file permissions");
            }
        }
        if (!G.isEmpty())
            WriteToLog(3, kBlanks6 + Tr("Options:  ") + G.join(QStringLiteral(", ")));
        if (!cbNoAttributes.Checked() && SetDestAttributes(E, int(cp.SInfo.Attr), kGroup, true) != 0)
            result = 512;
        const uint32_t code = XlSetFileTimes(E, cp.Timestamps, !UseArchivCB.Checked() && CompareMode == 0,
                                             cbCreationTime.Checked(), false);
        if (code != 0) {
            result = 512;
            WriteErrorToLog(6, kGroup, FileErrorMessage(527, E), int(code));
        }
    }
    if (result == 512 || result == 2) {
        cp.EName = E;
        for (const QString &o : cp.Variants)
            XlDeleteExistingFile(o, true);
    }
    return result;
}

// ---- Evaluation of a copy result ----

int TBackupForm::FinishFileCopy(int Result)
{
    TCopyProps &cp = *CopyProps;
    TEngineState &eng = *EngineState;
    TEngineState::TDir &dir = *eng.Dir;
    IProgressWindow &pw = ProgressWindow();
    const QString rel = RelativePathTo(WithTrailingDelimiter(dir.SourceRoot), cp.SName);
    const QString canceledFull = QStringLiteral("  *** ") + Tr("Canceled because of full destination volume");
    const auto stopFull = [&] {
        WriteToLog(1, canceledFull);
        dir.StopLoop = true;
        pw.SetStopped(true);
        BuStatus = TBuStatus::bsFull;
        return 1;
    };

    if (Result == 3) {
        if (DestMode < 4) {
            if (!dir.Interactive)
                return stopFull();
            pw.SetLockStatus(1);
            ProcessMessages();
            for (;;) {
                if (!ConfirmCancelBox(Tr("The destination volume is full!\r\nInsert new media and continue "
                                         "backup?\r\nNext File: ")
                                      + rel)) {
                    pw.SetLockStatus(0);
                    return stopFull();
                }
                if (ForceDestDirectory(dir.DestBase, kGroup, true)
                    && ForceDestDirectory(WithTrailingDelimiter(dir.DestBase) + dir.SubDir, kGroup, true)) {
                    WriteToLog(1, kBlanks6 + Tr("Storage medium changed at: ") + rel);
                    pw.SetLockStatus(0);
                    return 2;
                }
            }
        }
        if (dir.Interactive)
            pw.ShowError(Tr("The destination volume is full!\r\nZip backup will be terminated!"));
        WriteToLog(1, canceledFull);
        dir.StopLoop = true;
        if (ZipArchive) {
            if (DestMode <= 5) {
                ZipArchive->SetErrorFlag(true);
            } else {
                const int segs = ZipArchive->NumberOfSegments();
                ZipArchive.reset();
                DeleteZipArchive(dir.ZipPath, segs);
            }
        }
        pw.SetStopped(true);
        BuStatus = TBuStatus::bsFull;
        return 1;
    }

    const auto statusLine = [&](int AKind) {
        QString s = CountText(Tr("No files copied"), Tr("1 file copied"), Tr("%u files copied"), *dir.CopiedCount);
        if (AKind != 2 && *dir.ErrorCount > 0)
            s += QStringLiteral(" - ") + CountText(QString(), Tr("1 error"), Tr("%u errors"), *dir.ErrorCount);
        else if (*dir.WarningCount > 0)
            s += QStringLiteral(" - ") + CountText(QString(), Tr("1 warning"), Tr("%u warnings"), *dir.WarningCount);
        pw.WriteStatus(1, s);
    };

    if (Result != 1)
        pw.SetElapsedTime(Now() - StartTime);
    if (Result == 2) {
        const QString localCopy = !BuFtp && DestMode < 4 ? cp.EName : QString();
        *dir.CopiedBytes += cp.SInfo.Size;
        ++*dir.CopiedCount;
        QString note;
        if (ResArchivCB.Checked()) {
            uint32_t a = faInvalid;
            const uint32_t readCode = GetFileAttr(cp.SName, true, a);
            if (a == faInvalid) {
                WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error setting attributes of \"%s\""), cp.SName)
                                               + QStringLiteral(" (") + FileAttrToText(0) + QLatin1Char(')'),
                                int(readCode));
                ++*dir.ErrorCount;
            } else if ((a & faArchive) != 0) {
                // Cleared once the entry's copies are on disk.
                TEngineState::TCommit c;
                c.Path = cp.SName;
                c.Before = cp.Before;
                c.HaveBefore = cp.HaveBefore;
                c.ResetArchive = true;
                c.Dest = localCopy;
                eng.Commits.push_back(c);
                note = QStringLiteral("(A");
                cp.ArchiveBit = false;
            } else {
                cp.ArchiveBit = false;
            }
        }
        if (cp.DExist)
            note += note.isEmpty() ? QStringLiteral("(U") : QStringLiteral(",U");
        if (cp.CRatio < 0) {
            if (!note.isEmpty())
                note += QLatin1Char(')');
        } else {
            const QString ratio =
                FormatNumFloat(cp.CRatio / 10.0, TNumFloatFormat::ffFixed, 6, 1).trimmed() + QStringLiteral("%)");
            note += note.isEmpty() ? QLatin1Char('(') + ratio : QStringLiteral(" - ") + ratio;
        }
        if (cbSourceDelete.Checked()) {
            TEngineState::TCommit c;
            c.Path = cp.SName;
            c.DeleteSource = true;
            c.Dest = localCopy;
            eng.Commits.push_back(c);
        }
        statusLine(0);
        WriteToLog(2, LogIndentText(CurrentLogMode())
                          + GuardedFormat(cbVerify.Checked() && DestMode < 4 ? Tr("Copied and verified: \"%s\" %s")
                                                                            : Tr("Copied: \"%s\" %s"),
                                          rel, note));
    } else if (Result > 4) {
        if ((Result & 0x100) != 0) {
            *dir.ErrorBytes += cp.SInfo.Size;
            ++*dir.ErrorCount;
            statusLine(1);
        } else if ((Result & 0x200) != 0) {
            *dir.CopiedBytes += cp.SInfo.Size;
            ++*dir.WarningCount;
            ++*dir.CopiedCount;
            statusLine(1);
        }
        const int code = Result & 0xFF;
        if (code == 17 || code == 29) {
            --TimeOutCount;
            bool stop;
            if (dir.Interactive) {
                stop = pw.Confirm(Tr("Time out while copying files!\r\nCancel backup?"));
                if (BuFtp && !stop && FTP)
                    stop = !FTP->ReConnect(FTP->CurrentDir(), true, true);
            } else {
                stop = TimeOutCount <= 0;
            }
            if (stop) {
                pw.SetStopped(true);
                BuStatus = TBuStatus::bsCanceled;
            }
        }
        if (code == 128 || code == 27 || pw.Stopped()) {
            if (DestMode > 5 && ZipArchive) {
                const int segs = ZipArchive->NumberOfSegments();
                ZipArchive.reset();
                DeleteZipArchive(dir.ZipPath, segs);
            }
        } else if (code == 7 && DestMode >= 4) {
            pw.SetStopped(true);
        }
        const int mode = CurrentLogMode();
        if (mode == 1 || mode == 2 || BuFtp) {
            if ((Result & 0x100) == 0 && code != 0) {
                if (Result != 512)
                    WriteErrorToLog(6, kGroup, CopyErrorMessage(rel, cp.TName, Result), cp.ErrMsg, QString());
                if ((Result & 0x200) != 0)
                    WriteToLog(2, kBlanks6 + GuardedFormat(Tr("Copied: \"%s\" %s"), rel, QString()));
            } else if ((Result & 0x100) != 0 && !(code == 38 && mode == 2)) {
                WriteErrorToLog(1, kGroup, CopyErrorMessage(rel, cp.TName, Result), cp.ErrMsg, QString());
            }
        } else if (Result == 512) {
            WriteToLog(3, QStringLiteral("     -> ") + GuardedFormat(Tr("Copied: \"%s\" %s"), rel, QString()));
        }
    }
    dir.ArchiveKept = dir.ArchiveKept || cp.ArchiveBit;
    return 0;
}

// ---- Methods 4 to 7: a zip entry ----

int TBackupForm::BackupZipEntry(const TEngineFile &AFile, int &FilesAdded)
{
    TEngineState &eng = *EngineState;
    TEngineState::TDir &dir = *eng.Dir;
    ++*dir.FileCount;
    *dir.TotalBytes += AFile.Info.Size;
    TCopyProps &cp = *CopyProps;
    cp = TCopyProps();
    cp.SName = AFile.Source;
    cp.RName = ApplyDriveMapping(AFile.Source, ReplSourceDrv);
    cp.DName = AFile.Name;
    cp.DDir = AFile.DestDir;
    cp.SInfo = AFile.Info;
    cp.Timestamps = AFile.Times;
    cp.RelPath = AFile.RelPath;
    cp.Compressed = AFile.Compressed;
    cp.Encrypted = AFile.Encrypted;
    cp.ArchiveBit = AFile.ArchiveBit;
    cp.HaveBefore = StatPath(cp.RName, true, cp.Before) == 0;
    ProgressWindow().UpdatePrompt(TSourceSelection::ssFile, QString(), AFile.Source, AFile.Info.Size);
    WriteToLog(3, kBlanks6 + Tr("Add to zip archive: ") + AFile.Name);
    TFindData fd;
    fd.Attr = AFile.Info.Attr;
    fd.CreationTime = AFile.Times.CreationTime;
    fd.LastAccessTime = AFile.Times.LastAccessTime;
    fd.LastWriteTime = AFile.Times.LastWriteTime;
    fd.Size = AFile.Info.Size;
    fd.Name = AFile.Info.Name;
    int result = 2;
    int32_t ratio = -1;
    try {
        if (!ZipArchive)
            throw EZipError(Tr("Error writing to zip archive"), 0x105);
        ZipArchive->AddFileFrom(cp.RName, AFile.Source, fd, ratio, AFile.Compressed);
        ++FilesAdded;
        cp.CRatio = ratio;
    } catch (const EZipError &e) {
        cp.ErrMsg = e.SysErrorMsg().isEmpty() ? e.Message() : e.SysErrorMsg();
        const int code = e.ZipError() & ~0x4000;
        WriteErrorToLog(3, kGroup,
                        FileErrorMessage(code, RelativePathTo(WithTrailingDelimiter(dir.SourceRoot), AFile.Source)),
                        cp.ErrMsg, QString());
        result = (code & 0xFF) == 7 ? 3 : code;
    }
    const int r = FinishFileCopy(result);
    ShowTotalProgress(*dir.FileCount, *dir.TotalBytes);
    return r;
}

void TBackupForm::FinishDirArchive(bool AKeep, const QString &ADestDir, const QString &ASubDir, int &ErrorCount)
{
    TEngineState &eng = *EngineState;
    IProgressWindow &pw = ProgressWindow();
    const QString A = eng.Dir->ZipPath;
    const QString shown = WithTrailingDelimiter(ASubDir) + ZipName;
    if (!AKeep) {
        try {
            ZipArchive.reset();
        } catch (const std::exception &) {
        }
        XlDeleteFileEx(A, true);
        WriteToLog(2, QStringLiteral("   => ") + Tr("Delete empty zip archive: ") + shown);
        return;
    }
    int code = 0;
    try {
        ZipArchive->WriteDirectory();
        if (!BuFtp && cbVerify.Checked()) {
            pw.SetSourceType(TSourceSelection::ssZip);
            pw.SetPrompt(QString());
            pw.SetAction(TFileAction::acZipVerify);
            ProcessMessages();
            ZipArchive->Verify();
            WriteToLog(2, kBlanks6 + GuardedFormat(Tr("Zip archive \"%s\" was verified"), shown));
        }
    } catch (const EZipError &e) {
        code = e.ZipError();
        WriteErrorToLog(1, kGroup, e.Message(), e.SysErrorMsg(), QString());
    }
    int segs = ZipArchive->NumberOfSegments();
    ZipArchive.reset();
    if (code != 0) {
        DeleteZipArchive(A, segs);
        WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Zip archive \"%s\" was not created!"), shown), code & 0xFFF);
        ++ErrorCount;
    } else if (BuFtp) {
        pw.SetSourceType(TSourceSelection::ssTempZip);
        pw.SetPrompt(QString());
        int64_t size = 0;
        const int r = CopyToFtp(A, FTP ? FTP->CurrentDir() : QString(), ZipName, segs, size, true);
        if (r != 0) {
            WriteToLog(1, QStringLiteral("  *** ") + Tr("Error writing to FTP server: ") + ZipName
                              + SegmentInfoText(segs, size));
            ++ErrorCount;
        } else {
            WriteToLog(2, QStringLiteral("   => ")
                              + GuardedFormat(Tr("Zip archive \"%s\" was copied to FTP server"), ZipName)
                              + (cbVerify.Checked() ? Tr(" and verified") : QString()) + SegmentInfoText(segs, size));
        }
    } else {
        const QString F = WithTrailingDelimiter(ADestDir) + ZipName;
        const uint32_t del = DeleteZipArchive(F, -1);
        if (del == 0) {
            const uint32_t ren = RenameZipArchive(A, F, VlSettings.OtherSettings.MaxWaitTime);
            if (ren != 0) {
                WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("File"), A, F),
                                int(ren));
                ++ErrorCount;
            }
        } else {
            WriteErrorToLog(1, kGroup, GuardedFormat(Tr("Error deleting file: \"%s\""), F), int(del));
            ++ErrorCount;
        }
    }
}

// ---- Commit of a source entry ----

bool TBackupForm::CommitEntryCopies(int &ErrorCount)
{
    if (!EngineState)
        return true;
    TEngineState &eng = *EngineState;
    std::vector<TEngineState::TCommit> commits;
    commits.swap(eng.Commits);
    QStringList dirs;
    dirs.swap(eng.DestDirs);
    if (commits.empty())
        return true;
    // One sync per file system written to.
    std::set<uint64_t> synced;
    for (const QString &d : dirs) {
        TStatInfo st;
        if (StatPath(d, true, st) != 0 || !synced.insert(st.Dev).second)
            continue;
        const uint32_t code = SyncFileSystem(d);
        if (code != 0) {
            WriteErrorToLog(1, kGroup,
                            GuardedFormat(Tr("Copies could not be written to disk at \"%s\": archive bits are not "
                                             "reset and source files are not deleted"),
                                          d),
                            int(code));
            ++ErrorCount;
            return false;
        }
    }
    bool noXattrWarned = false;
    for (const TEngineState::TCommit &c : commits) {
        // A copy gone since (its medium removed, its folder unreadable) was
        // synced nowhere: the source keeps its bit and stays.
        if (!c.Dest.isEmpty() && !XlFileExists(c.Dest, false)) {
            WriteErrorToLog(1, kGroup,
                            GuardedFormat(Tr("Copy not found at the destination: \"%s\""), c.Dest)
                                + QStringLiteral(" (") + c.Path + QLatin1Char(')'),
                            QString(), QString());
            ++ErrorCount;
            continue;
        }
        if (c.ResetArchive) {
            uint32_t code;
            if (c.IsDir || !c.HaveBefore)
                code = XlChangeFileAttr(c.Path, faArchive, true, false);
            else
                code = ResetArchiveBit(c.Path, c.Before);
            if (code == ERROR_NOT_SUPPORTED) {
                if (!noXattrWarned)
                    WriteErrorToLog(6, kGroup,
                                    GuardedFormat(Tr("Archive bits cannot be reset on this file system: \"%s\""),
                                                  c.Path),
                                    QString(), QString());
                noXattrWarned = true;
            } else if (code != 0) {
                const uint32_t a = XlFileGetAttr(c.Path, false);
                WriteErrorToLog(1, kGroup,
                                GuardedFormat(Tr("Error setting attributes of \"%s\""), c.Path) + QStringLiteral(" (")
                                    + FileAttrToText(uint16_t(a == faInvalid ? 0 : (a & ~faArchive)))
                                    + QLatin1Char(')'),
                                int(code));
                ++ErrorCount;
            }
        }
        if (c.DeleteSource && !c.IsDir) {
            const uint32_t code = MoveToTrash(c.Path);
            if (code == 0) {
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("File was moved to Recycle Bin: \"%s\""), c.Path));
            } else {
                WriteErrorToLog(1, kGroup, Tr("Could not delete source file: ") + c.Path, int(code));
                ++ErrorCount;
            }
        } else if (c.DeleteSource && XlDirectoryIsEmpty(c.Path)) {
            const uint32_t code = XlRemoveDirectory(c.Path);
            const uint32_t a = XlFileGetAttr(c.Path, false);
            if (code == 0)
                WriteToLog(3, kBlanks6 + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), c.Path));
            else
                WriteErrorToLog(1, kGroup,
                                GuardedFormat(Tr("Error deleting directory: \"%s\""), c.Path) + QStringLiteral(" (")
                                    + FileAttrToText(uint16_t(a == faInvalid ? 0 : a)) + QLatin1Char(')'),
                                int(code));
        }
    }
    return true;
}

} // namespace vl
