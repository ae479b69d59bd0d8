// Synchronisation of a local or network destination with its source entry:
// what the source no longer holds (or, by mode, no longer selects) is
// deleted, moved to the trash or renamed into a synchronisation copy.
//
// Safety rules kept throughout: nothing outside the task's destination base
// is deleted; links are removed as names and never followed; another file
// system mounted inside the destination is never emptied; a copy whose name
// comes out as the file's own name is refused (the file stays); a failed
// move to the trash is an error, never a deletion.
#include "backup/BackupForm.h"

#include "backup/FileSelection.h"
#include "backup/SecCopyNames.h"
#include "core/DateTime.h"
#include "core/Destinations.h"
#include "core/DirUtils.h"
#include "core/FileInfo.h"
#include "core/FileSearch.h"
#include "core/FileTimes.h"
#include "core/Format.h"
#include "core/Masks.h"
#include "core/NetShares.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/MessageService.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/GzipThread.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vl {

namespace {

const QString kSix = QStringLiteral("      ");
const QString kEight = QStringLiteral("        ");
const QString kArrow = QStringLiteral("     -> ");
const QString kGroup = QStringLiteral("S");

// Root + sub with a trailing delimiter; sub is "" or "a/b".
QString SubPath(const QString &ARoot, const QString &ASub)
{
    const QString root = WithTrailingDelimiter(ARoot);
    return ASub.isEmpty() ? root : root + ASub + QLatin1Char('/');
}

QString JoinSub(const QString &ASub, const QString &AName)
{
    return ASub.isEmpty() ? AName : ASub + QLatin1Char('/') + AName;
}

QString NoDelimiter(const QString &APath)
{
    QString p = APath;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

bool SamePath(const QString &A, const QString &B)
{
    return NoDelimiter(A) == NoDelimiter(B);
}

// By the type key the copy engine uses, so that a name without extension
// listed as "<ohne>" is found too.
bool InList(const QStringList &AList, const QString &AName)
{
    return AList.contains(FileTypeKey(AName), Qt::CaseInsensitive);
}

// The path with every link resolved, or as given when it cannot be.
QString Resolved(const QString &APath)
{
    QString real;
    return RealPath(NoDelimiter(APath), real) == 0 ? real : NoDelimiter(APath);
}

// R relative to BaseDir split into its first element and the rest; false
// when C is not below BaseDir.
bool SplitBaseRelative(const QString &ABaseDir, const QString &C, QString &R, QString &R1, QString &Rrest)
{
    if (ABaseDir.isEmpty() || !DirContainsPath(ABaseDir, C))
        return false;
    R = NoDelimiter(RelativePathTo(WithTrailingDelimiter(ABaseDir), WithTrailingDelimiter(C)));
    if (R == QLatin1String("/"))
        R.clear();
    while (R.endsWith(QLatin1Char('/')))
        R.chop(1);
    const qsizetype slash = R.indexOf(QLatin1Char('/'));
    R1 = slash < 0 ? R : R.left(slash);
    Rrest = slash < 0 ? QString() : R.mid(slash + 1);
    return true;
}

// Dir + parts, each part "" or a relative path, with a trailing delimiter.
QString Compose(const QString &ADir, std::initializer_list<QString> AParts)
{
    QString out = WithTrailingDelimiter(ADir);
    for (const QString &p : AParts)
        if (!p.isEmpty())
            out += p + QLatin1Char('/');
    return out;
}

// Names of folders that a volume's root holds for the system; a
// synchronisation leaves them alone.
bool IsSyncableDir(bool AtVolumeRoot, const QString &AName)
{
    return !(AtVolumeRoot
             && (AName == QLatin1String("lost+found") || AName.startsWith(QLatin1String(".Trash"))));
}

void SortByName(std::vector<TDirEntry> &AEntries)
{
    std::sort(AEntries.begin(), AEntries.end(),
              [](const TDirEntry &A, const TDirEntry &B) { return A.Name < B.Name; });
}

// Every directory matching AMask (a real folder, not a link), with ASubPath
// appended.
QStringList CopyFolders(const QString &AMask, const QString &ASubPath)
{
    QStringList out;
    if (AMask.isEmpty())
        return out;
    const QString parent = WithTrailingDelimiter(ParentDirectory(AMask));
    TSearchRec sr;
    if (FindFirst(AMask, faDirectory, sr) == 0) {
        do {
            if ((sr.Attr & faDirectory) && !(sr.Attr & faReparsePoint))
                out.append(Compose(parent + sr.Name, {ASubPath}));
        } while (FindNext(sr) == 0);
    }
    FindClose(sr);
    return out;
}

class TSyncRun {
public:
    TSyncRun(TBackupForm &AForm, const QString &ASource, const QString &ADest, TExtensionList &AList, int &ACount,
             int &ADelCount)
        : F(AForm), S(ASource), D(ADest), List(AList), Count(ACount), DelCount(ADelCount)
    {
    }

    // DF = C + AFile goes; ARemovedFromC: it is no longer in C afterwards.
    bool RemoveFile(const QString &C, const QString &ASubDir, const QString &AFile,
                    const TBackupForm::TSyncName &AName, bool AtOnce, bool &ARemovedFromC);
    bool StaleDirectory(const QString &C, const QString &ASubDir, const QString &AName);

private:
    void LogRemoval(const QString &AText)
    {
        if (F.CurrentLogMode() == 3)
            F.WriteToLog(3, kArrow + AText);
        else
            F.WriteToLog(2, kSix + AText);
    }
    QString Rel(const QString &APath) const { return RelativePathTo(WithTrailingDelimiter(D), NoDelimiter(APath)); }
    bool RenameFailed(const QString &AKind, const QString &AFrom, const QString &ATo, int ACode, const QString &ADetail);

    TBackupForm &F;
    QString S;
    QString D;
    TExtensionList &List;
    int &Count;
    int &DelCount;
};

bool TSyncRun::RenameFailed(const QString &AKind, const QString &AFrom, const QString &ATo, int ACode,
                            const QString &ADetail)
{
    const uint32_t attr = XlFileGetAttr(ATo, false);
    QString text = GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), AKind, Rel(AFrom), Rel(ATo));
    if (attr != faInvalid)
        text += QStringLiteral(" (") + FileAttrToText(uint16_t(attr)) + QLatin1Char(')');
    if (!ADetail.isEmpty())
        F.WriteErrorToLog(kGroup, text, ADetail, QString());
    else
        F.WriteErrorToLog(kGroup, text, ACode);
    return false;
}

bool TSyncRun::RemoveFile(const QString &C, const QString &ASubDir, const QString &AFile,
                          const TBackupForm::TSyncName &AName, bool AtOnce, bool &ARemovedFromC)
{
    ARemovedFromC = false;
    const QString df = C + AFile;
    IProgressWindow &progress = ProgressWindow();
    if (F.KeepSyncCB.Checked()) {
        const TSecSettings &sec = F.SyncSec;
        if (sec.DirMode == TSecDirMode::sdNone && !IsNoSyncCopy(AFile, sec.FileSuffix, AName.Zip, AName.Gz, AName.Enc))
            return true;
        const QString dir = F.SyncCopyDir(C, D, ASubDir, false);
        if (dir.isEmpty())
            return RenameFailed(Tr("File"), df, C, 0, Tr("The destination lies outside the destination base"));
        if (!SamePath(dir, C) && !F.ForceDestDirectory(dir, kGroup, true))
            return false;
        TFileTime ft = 0;
        XlGetFileTime(df, ft);
        const QString name = AtOnce ? MakeSyncCopyName(AFile, sec.FileSuffix, int64_t(ft))
                                    : MakeSyncCopyName(AName.Name, sec.FileSuffix, int64_t(ft)) + AName.Ext;
        const QString target = dir + name;
        // An empty suffix in place names the copy like the file itself:
        // deleting "the existing copy" would delete the file. It stays.
        if (SamePath(target, df))
            return RenameFailed(Tr("File"), df, target, 0, Tr("The copy would replace the file itself"));
        const uint32_t attr = XlFileGetAttr(df, false);
        if (XlFileExists(target, false))
            XlDeleteFileEx(target, true);
        const int32_t code = F.cbNoAttributes.Checked() || attr == faInvalid
                                 ? int32_t(XlMoveFile(df, target))
                                 : XlMoveFileSetAttr(df, target, attr);
        if (code > 0)
            return RenameFailed(Tr("File"), df, target, code, QString());
        ++DelCount;
        ARemovedFromC = sec.DirMode != TSecDirMode::sdNone && sec.DirMode != TSecDirMode::sdSubDir;
        progress.WriteStatus(2, TBackupForm::DeletedFilesText(DelCount));
        F.WriteToLog(2, LogIndentText(F.CurrentLogMode())
                            + GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("File"), Rel(df), Rel(target)));
        return true;
    }

    if (F.KeepBakCB.Checked() && F.BakSec.DirMode != TSecDirMode::sdNone) {
        QString mask, subPath;
        F.BakCopyDirMask(C, D, ASubDir, mask, subPath);
        const QString suffixMask =
            F.BakSec.FileSuffix.isEmpty() ? QString() : BakSuffixToMask(QLatin1Char('.') + F.BakSec.FileSuffix);
        const QString fileMask = InsertNameSuffix(AName.Unstripped, suffixMask) + AName.Ext;
        // The name's own part is literal: a "*" or "?" in a file name must
        // not reach the copies of other files.
        const QString head = StripExtension(AName.Unstripped);
        const QString tail = (AName.Unstripped + AName.Ext).mid(head.size());
        auto isCopyOfFile = [&](const QString &AFound) {
            if (AFound.size() < head.size() + tail.size() || !AFound.startsWith(head, Qt::CaseInsensitive)
                || !AFound.endsWith(tail, Qt::CaseInsensitive))
                return false;
            const QString middle = AFound.mid(head.size(), AFound.size() - head.size() - tail.size());
            try {
                return suffixMask.isEmpty() ? middle.isEmpty() : MatchesMask(middle, suffixMask);
            } catch (...) {
                return false;
            }
        };
        for (const QString &folder : CopyFolders(mask, subPath)) {
            TSearchRec sr;
            if (FindFirst(folder + fileMask, faAnyFileNoDirs, sr) == 0) {
                do
                    if (isCopyOfFile(sr.Name))
                        XlDeleteFileEx(folder + sr.Name, true);
                while (FindNext(sr) == 0);
            }
            FindClose(sr);
        }
    }
    QString text;
    uint32_t err;
    if (F.cbSyncRecycle.Checked()) {
        // A failed move to the trash is reported; the file is not deleted
        // instead.
        err = MoveToTrash(df);
        text = Tr("File was moved to Recycle Bin: \"%s\"");
    } else {
        err = XlDeleteFileEx(df, true);
        text = Tr("File was deleted: \"%s\"");
    }
    if (err != 0) {
        F.WriteErrorToLog(kGroup, GuardedFormat(Tr("Error deleting file: \"%s\""), df), int(err));
        return false;
    }
    ARemovedFromC = true;
    ++DelCount;
    progress.WriteStatus(2, TBackupForm::DeletedFilesText(DelCount));
    LogRemoval(GuardedFormat(text, Rel(df)));
    return true;
}

bool TSyncRun::StaleDirectory(const QString &C, const QString &ASubDir, const QString &AName)
{
    const QString p = C + AName;
    ProgressWindow().SetPrompt(p);
    if (F.KeepSyncCB.Checked()) {
        const TSecSettings &sec = F.SyncSec;
        const QString dPrime = sec.DirMode != TSecDirMode::sdNone
                                   ? sec.DirPrefix + VlSettings.SecCopySettings.SyncSuffix
                                   : sec.DirPrefix;
        if (MatchesMask(AName, dPrime + QLatin1Char('*'))
            || (F.KeepBakCB.Checked() && F.BakSec.DirMode != TSecDirMode::sdNone
                && MatchesMask(AName, F.BakSec.DirPrefix + QLatin1Char('*')))) {
            F.WriteToLog(3, kSix
                                + GuardedFormat(Tr("Directory \"%s\" contains security copies and was not deleted"),
                                                AName));
            return true;
        }
        TFileTime dirTime = 0;
        XlGetFileTime(p, dirTime);
        const QString suffix = ExpandSyncDirSuffix(sec.DirSuffix, int64_t(dirTime));
        QString target;
        if (sec.DirMode == TSecDirMode::sdNone) {
            target = C + sec.DirPrefix + AName + suffix;
        } else {
            const QString dir = F.SyncCopyDir(C, D, ASubDir, true);
            if (dir.isEmpty())
                return RenameFailed(Tr("Directory"), p, C, 0, Tr("The destination lies outside the destination base"));
            target = dir + AName + suffix;
            if (DirContainsPath(p, dir))
                return RenameFailed(Tr("Directory"), p, target, 0, Tr("The copy would lie inside the directory"));
            if (!F.ForceDestDirectory(dir, kGroup, true))
                return false;
        }
        // Without prefix and suffix the target is the directory itself,
        // whose "old copy" must not be deleted.
        if (SamePath(target, p))
            return RenameFailed(Tr("Directory"), p, target, 0, Tr("The copy would replace the directory itself"));
        if (XlDirectoryExists(target, false)) {
            int removed = 0;
            if (!F.DeleteDirectoryTree(target, QString(), removed, false, true, true, kGroup)) {
                F.WriteErrorToLog(kGroup, GuardedFormat(Tr("Error deleting directory: \"%s\""), target));
                return false;
            }
        }
        const int files = CountDirFiles(p, true, QString());
        const uint32_t attr = XlFileGetAttr(p, false);
        const int32_t code = F.cbNoAttributes.Checked() || attr == faInvalid ? int32_t(XlMoveFile(p, target))
                                                                             : XlMoveFileSetAttr(p, target, attr);
        if (code > 0)
            return RenameFailed(Tr("Directory"), p, target, code, QString());
        Count += files;
        DelCount += files;
        ProgressWindow().WriteStatus(2, TBackupForm::DeletedFilesText(DelCount));
        F.WriteToLog(2, LogIndentText(F.CurrentLogMode())
                            + GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("Directory"), Rel(p), Rel(target))
                            + FileCountText(files, true));
        return true;
    }

    if (F.KeepBakCB.Checked() && MatchesMask(AName, F.BakSec.DirPrefix + QLatin1Char('*'))) {
        F.WriteToLog(3, kSix
                            + GuardedFormat(Tr("Directory \"%s\" contains security copies and was not deleted"),
                                            Rel(p)));
        return true;
    }
    const int files = CountDirFiles(p, true, QString());
    if (F.cbSyncRecycle.Checked() && TBackupForm::RecycleBinAvailable(F.TargetType)) {
        const uint32_t err = MoveToTrash(p);
        if (err != 0) {
            F.WriteErrorToLog(kGroup, GuardedFormat(Tr("Error deleting directory: \"%s\""), p), int(err));
            return false;
        }
        Count += files;
        DelCount += files;
        ProgressWindow().WriteStatus(2, TBackupForm::DeletedFilesText(DelCount));
        LogRemoval(GuardedFormat(Tr("Directory was moved to Recycle Bin: \"%s\""), Rel(p)) + FileCountText(files, true));
        return true;
    }
    int removed = 0;
    const bool ok = F.DeleteDirectoryTree(p, QString(), removed, false, true, true, kGroup);
    Count += removed;
    DelCount += removed;
    ProgressWindow().WriteStatus(2, TBackupForm::DeletedFilesText(DelCount));
    if (!ok) {
        F.WriteErrorToLog(kGroup, GuardedFormat(Tr("Error deleting directory: \"%s\""), p));
        return false;
    }
    LogRemoval(GuardedFormat(Tr("Directory was deleted: \"%s\""), Rel(p)) + FileCountText(removed, true));
    return true;
}

} // namespace

TBackupForm::TSyncName TBackupForm::MapSyncName(const QString &ADir, const QString &AFile, bool ALocal) const
{
    TSyncName r;
    r.Name = AFile;
    const QString ext = ExtensionOf(AFile).toLower();
    // A name stored in a header is used as a plain name only.
    auto headerName = [](const QString &AStored) {
        const QString name = LastPathElement(AStored);
        return name == QLatin1String(".") || name == QLatin1String("..") ? QString() : name;
    };
    if (ALocal && KeepBakCB.Checked()) {
        const QString path = WithTrailingDelimiter(ADir) + AFile;
        if (ext == QLatin1String("zip") && cbZipCompress.Checked()) {
            TGzFileInfo info;
            int kind = 2;
            try {
                kind = ReadZipFileInfo(path, info);
            } catch (...) {
                kind = 2;
            }
            const QString name = headerName(info.Filename);
            if (kind == 0 && !name.isEmpty()) {
                r.Name = name;
                r.Zip = true;
            }
        } else if ((ext == QLatin1String("gz") || ext == QLatin1String("gze")) && cbCompress.Checked()) {
            TGzFileInfo info;
            bool ok = false;
            try {
                ok = ReadGzFileInfo(path, info);
            } catch (...) {
                ok = false;
            }
            const QString name = headerName(info.Filename);
            if (ok && !name.isEmpty()) {
                r.Name = name;
                r.Gz = true;
                r.Enc = ext == QLatin1String("gze");
            }
        } else if (ext == QLatin1String("enc")) {
            r.Enc = true;
            if (Encrypt)
                r.Name = StripExtension(AFile);
        }
    } else {
        if (ext == QLatin1String("zip") && cbZipCompress.Checked()) {
            r.Name = StripExtension(AFile);
            r.Zip = true;
        } else if ((ext == QLatin1String("gz") || ext == QLatin1String("gze")) && cbCompress.Checked()) {
            r.Name = StripExtension(AFile);
            r.Gz = true;
            r.Enc = ext == QLatin1String("gze");
        } else if (ext == QLatin1String("enc")) {
            r.Enc = true;
            if (Encrypt)
                r.Name = StripExtension(AFile);
        }
    }
    if (r.Name != AFile)
        r.Ext = QLatin1Char('.') + ExtensionOf(AFile);
    r.Unstripped = r.Name;
    if (!r.Gz && !r.Zip && KeepBakCB.Checked() && HasSecSuffix(r.Name, BakSec.FileSuffix, true))
        r.Name = StripSecSuffix(r.Name, BakSec.FileSuffix);
    return r;
}

bool TBackupForm::IsSyncDeletion(const QString &ASourceDir, const QString &AFile, const TSyncName &AName,
                                 const TExtensionList &AList, bool RootOfIncludeList) const
{
    const QString sourceDir = WithTrailingDelimiter(ASourceDir);
    const QString sf = sourceDir + AName.Name;
    bool del;
    if (AName.Zip)
        del = XlFileNotFound(sf);
    else if (AName.Gz)
        del = XlFileNotFound(sf) && (!InList(AktNoComp, AFile) || XlFileNotFound(sourceDir + AFile));
    else if ((cbCompress.Checked() && !InList(AktNoComp, AName.Name)) || (Encrypt && !AName.Enc))
        del = true;
    else
        del = XlFileNotFound(sf);
    if (SyncMode != 2 && SyncMode != 3)
        return del;
    bool sel = false;
    try {
        QString key;
        sel = IsFileTypeSelected(AName.Name, AList, key) && AList.FFilter.MatchesFilter(AName.Name);
        TFileInfo info;
        if (sel && XlGetFileInfo(sf, info))
            sel = IsFileInfoSelected(info, AList);
    } catch (...) {
        // A filter that cannot decide deletes nothing.
        return false;
    }
    if (SyncMode == 2)
        return del && sel && !RootOfIncludeList;
    return del || !sel;
}

QString TBackupForm::SyncCopyDir(const QString &C, const QString &ADest, const QString &ASubDir, bool ADirs) const
{
    const QString dPrime = SyncSec.DirPrefix + VlSettings.SecCopySettings.SyncSuffix;
    QString r, r1, rest;
    switch (SyncSec.DirMode) {
    case TSecDirMode::sdNone:
        return WithTrailingDelimiter(C);
    case TSecDirMode::sdSubDir:
        return Compose(C, {dPrime});
    case TSecDirMode::sdSepDir:
        return Compose(ADest, {dPrime, ASubDir});
    case TSecDirMode::sdRootDrive:
        if (!ADirs) {
            if (!SplitBaseRelative(BaseDir, C, r, r1, rest))
                return QString();
            return Compose(BaseDir, {r1, dPrime, rest});
        }
        [[fallthrough]];
    case TSecDirMode::sdRootDir:
    case TSecDirMode::sdRootDate:
        if (!SplitBaseRelative(BaseDir, C, r, r1, rest))
            return QString();
        return Compose(BaseDir, {dPrime, r});
    }
    return QString();
}

void TBackupForm::BakCopyDirMask(const QString &C, const QString &ADest, const QString &ASubDir, QString &AMask,
                                 QString &ASubPath) const
{
    const QString b = BakSec.DirPrefix + BakSec.DirSuffix;
    QString r, r1, rest;
    AMask.clear();
    ASubPath.clear();
    switch (BakSec.DirMode) {
    case TSecDirMode::sdNone:
        return;
    case TSecDirMode::sdSubDir:
        AMask = WithTrailingDelimiter(C) + b;
        return;
    case TSecDirMode::sdSepDir:
        AMask = WithTrailingDelimiter(ADest) + b;
        ASubPath = ASubDir;
        return;
    case TSecDirMode::sdRootDir:
        if (SplitBaseRelative(BaseDir, C, r, r1, rest)) {
            AMask = WithTrailingDelimiter(BaseDir) + b;
            ASubPath = r;
        }
        return;
    case TSecDirMode::sdRootDate:
    case TSecDirMode::sdRootDrive:
        if (SplitBaseRelative(BaseDir, C, r, r1, rest)) {
            AMask = Compose(BaseDir, {r1}) + b;
            if (BakSec.DirMode == TSecDirMode::sdRootDate)
                AMask += QStringLiteral("-????" "-??" "-??");
            ASubPath = rest;
        }
        return;
    }
}

void TBackupForm::CountSyncFiles(const QString &ASource, const QString &ADest, TExtensionList &AList,
                                 const QString &ASubDir)
{
    IProgressWindow &progress = ProgressWindow();
    const QString c = SubPath(ADest, ASubDir);
    std::vector<TDirEntry> entries;
    const uint32_t listErr = ListDirectory(c, entries);
    SortByName(entries);
    for (const TDirEntry &e : entries) {
        if (progress.Stopped())
            break;
        if (!e.Stat.IsDir())
            continue;
        const QString sub = JoinSub(ASubDir, e.Name);
        const bool listed = AList.SubDirList.IndexOf(SubPath(ASource, sub)) >= 0;
        if (SyncMode == 1 || (AList.IncludeDirs ? listed : !listed))
            CountSyncFiles(ASource, ADest, AList, sub);
    }
    if (progress.Stopped() || listErr != 0)
        return;
    for (const TDirEntry &e : entries) {
        if (e.Stat.IsDir() || e.Name.compare(QLatin1String(kTimeStampFileName), Qt::CaseInsensitive) == 0)
            continue;
        bool counts = SyncMode == 1;
        if (!counts) {
            const QString name = MapSyncName(c, e.Name, false).Name;
            QString key;
            try {
                counts = IsFileTypeSelected(name, AList, key) && AList.FFilter.MatchesFilter(name);
            } catch (...) {
                counts = false;
            }
        }
        if (counts)
            ++AList.SyncCount;
    }
    progress.SetPrompt(ADest + QStringLiteral(" - ") + Tr("Found: ") + FileCountText(int(AList.SyncCount), false));
    progress.UpdateView();
}

bool TBackupForm::SyncLocalDirectory(const QString &ASource, const QString &ADest, TExtensionList &AList,
                                     int &ACount, int &ADelCount, bool AllFiles, bool AParentIncluded,
                                     const QString &ASubDir)
{
    if (!CanGetDiskSpace(ASource) || !XlDirectoryExists(ASource, true))
        return false;
    IProgressWindow &progress = ProgressWindow();
    TSyncRun run(*this, ASource, ADest, AList, ACount, ADelCount);
    const QString c = SubPath(ADest, ASubDir);
    WriteToLog(3, kSix + GuardedFormat(Tr("Current directory: \"%s\""), c));
    const bool scanFiles = ASubDir.isEmpty() || AParentIncluded;
    std::vector<TDirEntry> entries;
    const uint32_t listErr = ListDirectory(c, entries);
    SortByName(entries);
    const bool atVolumeRoot = IsMountPoint(NoDelimiter(c));
    bool result = true;
    int k = 0;

    for (const TDirEntry &e : entries) {
        if (progress.Stopped())
            break;
        // A link is a name like a file: the file pass handles it.
        if (!e.Stat.IsDir() || !IsSyncableDir(atVolumeRoot, e.Name))
            continue;
        ++k;
        const QString sub = JoinSub(ASubDir, e.Name);
        const QString sd = SubPath(ASource, sub);
        const bool present = XlDirectoryExists(sd, true) && (UseJunctions || !XlIsReparsePoint(NoDelimiter(sd)));
        const bool listed = AList.SubDirList.IndexOf(sd) >= 0;
        bool ok = true;
        if (SyncMode == 1) {
            ok = present ? SyncLocalDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, true, sub)
                         : run.StaleDirectory(c, ASubDir, e.Name);
        } else if (AList.IncludeDirs) {
            if (present) {
                const bool inc = AParentIncluded || listed;
                ok = SyncLocalDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, inc, sub);
                if (!inc && SyncMode == 3 && XlDirectoryExists(c + e.Name, false) && HasNoSubDirs(c + e.Name))
                    ok = run.StaleDirectory(c, ASubDir, e.Name) && ok;
            } else if (AParentIncluded || listed || SyncMode == 3) {
                ok = run.StaleDirectory(c, ASubDir, e.Name);
            }
        } else if (!listed) {
            ok = present ? SyncLocalDirectory(ASource, ADest, AList, ACount, ADelCount, AllFiles, true, sub)
                         : run.StaleDirectory(c, ASubDir, e.Name);
        } else if (SyncMode == 3) {
            ok = run.StaleDirectory(c, ASubDir, e.Name);
        }
        result = result && ok;
    }
    if (listErr != 0) {
        WriteErrorToLog(QStringLiteral("S"), GuardedFormat(DirectoryErrorText(int(listErr)), c), int(listErr));
        result = false;
    }
    if (!result || progress.Stopped() || !scanFiles)
        return result;

    WriteToLog(3, kSix + GuardedFormat(Tr("Scan for files in \"%s\""), c));
    progress.SetPrompt(c);
    const QString sourceDir = SubPath(ASource, ASubDir);
    const bool atRoot = ASubDir.isEmpty();
    int i = 0;
    int j = 0;
    for (const TDirEntry &e : entries) {
        if (e.Stat.IsDir())
            continue;
        const QString &f = e.Name;
        if (atRoot
            && (f.compare(QLatin1String(kTimeStampFileName), Qt::CaseInsensitive) == 0
                || f.compare(QLatin1String("VssBackupDoc.xml"), Qt::CaseInsensitive) == 0))
            continue;
        if (f.endsWith(QLatin1String(".vllink"), Qt::CaseInsensitive))
            continue;
        WriteToLog(3, kSix + GuardedFormat(Tr("File at destination is being examined: \"%s\""), c + f));
        const uint32_t attr = XlFileGetAttr(c + f, false);
        WriteToLog(3, kEight + ByteSizeText(true, e.Stat.Size) + QLatin1Char(' ')
                          + FileAttrToText(uint16_t(attr == faInvalid ? 0 : attr)) + QLatin1Char(' ')
                          + FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss"), XlFileAgeOrDefault(c + f, 0)));
        ++ACount;
        ++i;
        const bool atOnce = AllFiles || (SyncMode == 3 && AList.IncludeDirs && atRoot);
        TSyncName name;
        bool del = true;
        if (atOnce) {
            name.Name = name.Unstripped = f;
        } else {
            if (AList.SyncCount != 0)
                progress.SetStepProgress(int(std::lround(100.0 / AList.SyncCount * ACount)));
            progress.SetElapsedTime(Now() - StartTime);
            ProcessMessages();
            name = MapSyncName(c, f, true);
            del = IsSyncDeletion(sourceDir, f, name, AList, AList.IncludeDirs && atRoot);
        }
        if (del) {
            bool gone = false;
            if (!run.RemoveFile(c, ASubDir, f, name, atOnce, gone))
                result = false;
            if (gone)
                ++j;
        } else {
            WriteToLog(3, kEight + GuardedFormat(Tr("Existing source file: \"%s\""), sourceDir + name.Name));
        }
        if (progress.Stopped())
            return result;
        ProcessMessages();
    }

    if (!KeepSyncCB.Checked() && KeepBakCB.Checked() && BakSec.DirMode != TSecDirMode::sdNone
        && !MatchesMask(LastPathElement(NoDelimiter(c)), BakSec.DirPrefix + QLatin1Char('*'))) {
        QString mask, subPath;
        BakCopyDirMask(c, ADest, ASubDir, mask, subPath);
        for (const QString &folder : CopyFolders(mask, subPath))
            if (IsDirectoryEmpty(folder))
                XlRemoveDirectory(NoDelimiter(folder));
    }

    // Only a folder that is really empty now goes (a link information
    // file, which the pass leaves alone, keeps it).
    if (!ASubDir.isEmpty() && k == 0 && i == j && cbDelDir.Checked() && IsDirectoryEmpty(c)) {
        const QString dir = NoDelimiter(c);
        const uint32_t attr = XlFileGetAttr(dir, false);
        const uint32_t err = XlDeleteDirectory(dir, true);
        if (err == 0) {
            WriteToLog(3, kSix + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), c));
        } else {
            WriteErrorToLog(QStringLiteral("S"), GuardedFormat(Tr("Error deleting directory: \"%s\""), c), int(err));
            if (attr != faInvalid)
                XlFileSetAttr(dir, attr, false);
            result = false;
        }
    }
    return result;
}

QString TBackupForm::DeletedFilesText(int ACount)
{
    return CountText(Tr("No files deleted"), Tr("1 file deleted"), Tr("%u files deleted"), ACount);
}

bool TBackupForm::SyncSourceAvailable(const QString &ASource)
{
    const QString title = Tr("Synchronize");
    uint32_t code = 0;
    if (!IsDriveAvailable(ASource) || !XlCheckDirAccess(ASource, code)) {
        if (code == 0)
            code = ERROR_PATH_NOT_FOUND;
        const QString text = title + QStringLiteral(" - ") + GuardedFormat(DirectoryErrorText(int(code)), ASource);
        if (Prompting && !SkipDir)
            ProgressWindow().ShowError(text);
        AddToMail(MailMode, QStringLiteral("  *** ") + text);
        WriteErrorToLog(QStringLiteral("S"), text, int(code));
        ++ErrorCnt;
        return false;
    }
    return true;
}

void TBackupForm::OpenSyncStep(const QString &ADest)
{
    const QString line = QStringLiteral("  ->  ") + Tr("Synchronize") + QStringLiteral(": ") + ADest;
    AddToMail(MailMode, line);
    WriteToLog(1, line);
    IProgressWindow &progress = ProgressWindow();
    progress.SetSourceType(TSourceSelection::ssDir);
    progress.SetActionHint(Tr("is being synchronized"));
    progress.SetStepProgress(0);
    progress.SetPauseEnabled(false);
}

bool TBackupForm::EndSyncStep(TExtensionList &AList, int AExamined, int ADeleted, bool AResult)
{
    AList.SyncCount = uint32_t(AExamined);
    SyncDelCount += ADeleted;
    const auto MailAndLog = [this](const QString &ALine) {
        AddToMail(MailMode, ALine);
        WriteToLog(1, ALine);
    };
    MailAndLog(QStringLiteral("    => ") + Tr("Status: ") + DeletedFilesText(ADeleted));
    if (!AResult)
        MailAndLog(QStringLiteral("  *** ") + Tr("Warning: There were errors during synchronization!"));
    IProgressWindow &progress = ProgressWindow();
    progress.SetStepProgress(0);
    progress.SetPauseEnabled(true);
    return AResult;
}

bool TBackupForm::SynchronizeLocal(TExtensionList &AList, const QString &ASource, const QString &ADest)
{
    if (!SyncSourceAvailable(ASource))
        return false;
    // Everything deleted lies inside the destination base, also when the
    // destination path runs through a link.
    if (!BaseDir.isEmpty() && !DirContainsPath(Resolved(BaseDir), Resolved(ADest))) {
        WriteErrorToLog(QStringLiteral("S"), Tr("Synchronize") + QStringLiteral(" - ")
                                                 + GuardedFormat(Tr("Error accessing directory: \"%s\""), ADest),
                        Tr("The destination lies outside the destination base"), QString());
        ++ErrorCnt;
        return false;
    }
    OpenSyncStep(ADest);
    IProgressWindow &progress = ProgressWindow();
    if (AList.SyncCount == 0) {
        progress.SetPrompt(Tr("Found: ") + Tr("No files"));
        CountSyncFiles(ASource, ADest, AList, QString());
    }
    progress.SetSpeed(QString());
    progress.SetActionHint(Tr("is being synchronized") + QStringLiteral(" (")
                           + FileCountText(int(AList.SyncCount), false) + QLatin1Char(')'));
    int examined = 0;
    int deleted = 0;
    const bool result = SyncLocalDirectory(ASource, ADest, AList, examined, deleted, false, false, QString());
    return EndSyncStep(AList, examined, deleted, result);
}

} // namespace vl
