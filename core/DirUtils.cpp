#include "core/DirUtils.h"

#include "core/FileSearch.h"
#include "core/FileTimes.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <vector>

namespace vl {

namespace {

constexpr uint32_t kOwnerWrite = 0200;

bool IsNotFoundError(uint32_t err)
{
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME;
}

QString WithoutTrailingDelimiter(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

// The folder part of a path without its trailing "/": empty for a name
// without folder, "/" for a name directly below the root.
QString FolderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

bool IsDirectoryFollowed(const QString &path)
{
    TStatInfo st;
    return StatPath(path, true, st) == 0 && st.IsDir();
}

template <typename Pred>
int DeleteMatching(const QString &Dir, const QString &Mask, Pred wanted)
{
    const QString folder = WithTrailingDelimiter(Dir);
    int count = 0;
    TSearchRec sr;
    if (FindFirst(folder + Mask, faAnyFileNoDirs, sr) == 0) {
        do {
            if (wanted(sr) && ForceDeleteFile(folder + sr.Name))
                ++count;
        } while (FindNext(sr) == 0);
    }
    FindClose(sr);
    return count;
}

int CountFilesIn(const QString &folder, bool recursive, const QString &ext)
{
    int count = 0;
    TSearchRec sr;
    const QString prefix = WithTrailingDelimiter(folder);
    if (recursive) {
        if (FindFirst(prefix + QStringLiteral("*"), faAnyFile, sr) == 0) {
            do {
                // Links and mount points are never entered, so a link cycle
                // cannot make the walk endless.
                if ((sr.Attr & faDirectory) && !(sr.Attr & faReparsePoint))
                    count += CountFilesIn(prefix + sr.Name, true, ext);
            } while (FindNext(sr) == 0);
        }
        FindClose(sr);
    }
    const QString mask = ext.isEmpty() ? prefix + QStringLiteral("*") : BuildFileName(folder, QStringLiteral("*"), ext);
    if (FindFirst(mask, faAnyFileNoDirs, sr) == 0) {
        do
            ++count;
        while (FindNext(sr) == 0);
    }
    FindClose(sr);
    return count;
}

struct TDeleteCounts {
    int Failed = 0;
};

// Empties folder (a real directory, never a link) and removes it unless it
// is the root that is kept. Links and mount points inside are removed as
// names; what they point to is never touched.
void DeleteTree(const QString &folder, const TStatInfo &folderStat, bool removeFolder, TDeleteCounts &counts)
{
    // Removing entries needs write permission on the folder itself, which a
    // read-only folder lacks; the owner gets it back while it is emptied.
    const bool readOnly = !(folderStat.Mode & kOwnerWrite);
    if (readOnly)
        Chmod(folder, (folderStat.Mode & 07777) | kOwnerWrite);

    std::vector<TDirEntry> entries;
    const uint32_t listErr = ListDirectory(folder, entries);
    if (listErr != 0)
        ++counts.Failed;

    const QString prefix = WithTrailingDelimiter(folder);
    std::vector<bool> mountPoint(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
        // Another file system mounted inside (real or pseudo, a bind mount
        // of the same device too) is not the tree's to empty.
        if (entries[i].Stat.IsDir())
            mountPoint[i] = entries[i].Stat.Dev != folderStat.Dev || IsMountPoint(prefix + entries[i].Name)
                            || IsPseudoMountPoint(prefix + entries[i].Name);
    }
    // Subdirectories first.
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Stat.IsDir() && !mountPoint[i])
            DeleteTree(prefix + entries[i].Name, entries[i].Stat, true, counts);
    }
    int filesFailed = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const QString path = prefix + entries[i].Name;
        if (entries[i].Stat.IsDir()) {
            // A mount point inside the tree: only its name may go, which
            // fails while it is mounted; the tree then counts as failed.
            if (mountPoint[i] && RemoveDir(path) != 0)
                ++filesFailed;
        } else if (RemoveFile(path) != 0) {
            ++filesFailed;
        }
    }
    counts.Failed += filesFailed;
    // A folder that keeps a file is left in place.
    if (filesFailed == 0 && listErr == 0 && removeFolder) {
        if (RemoveDir(folder) == 0)
            return;
        ++counts.Failed;
    }
    if (readOnly)
        Chmod(folder, folderStat.Mode & 07777);
}

} // namespace

uint32_t CreateEmptyUtf8File(const QString &FileName)
{
    TFile f;
    const uint32_t err = f.Open(FileName, TFile::faWrite, TFile::fcCreateAlways);
    if (err != 0)
        return err;
    static const char bom[3] = {char(0xEF), char(0xBB), char(0xBF)};
    int64_t done = 0;
    uint32_t werr = f.Write(bom, 3, done);
    if (werr == 0 && done != 3)
        werr = ERROR_DISK_FULL;
    f.Close();
    if (werr != 0) {
        const char *text = SysErrorText(werr);
        throw EInOutError(text ? Tr(text) : GuardedFormat(Tr("I/O error %d"), int(werr)), werr);
    }
    return 0;
}

bool ForceDeleteFile(const QString &FileName)
{
    TStatInfo st;
    const uint32_t err = StatPath(FileName, false, st);
    if (err != 0)
        return IsNotFoundError(err);
    // Only a file name goes; a link (also a dangling one or one to a
    // directory) is removed itself. The file's own mode does not guard it
    // against deletion, so its attributes are left as they are (they may
    // be shared with other hard links).
    if (st.IsDir())
        return true;
    return RemoveFile(FileName) == 0;
}

bool DeleteFileIfExists(const QString &FileName)
{
    TStatInfo st;
    const uint32_t err = StatPath(FileName, true, st);
    if (err != 0)
        return IsNotFoundError(err);
    if (st.IsDir())
        return true;
    return RemoveFile(FileName) == 0;
}

int DeleteFilesByMask(const QString &Dir, const QString &Mask)
{
    return DeleteMatching(Dir, Mask, [](const TSearchRec &) { return true; });
}

int DeleteOlderFiles(const QString &Dir, const QString &Mask, TDateTime Date)
{
    return DeleteMatching(Dir, Mask, [Date](const TSearchRec &sr) {
        TDateTime t;
        return TryFileTimeToLocalDateTime(sr.FindData.LastWriteTime, t) && t < Date;
    });
}

uint32_t CreateJunction(const QString &Dir, const QString &Target)
{
    const QString dir = WithoutTrailingDelimiter(Dir);
    if (dir.isEmpty())
        return ERROR_PATH_NOT_FOUND;

    TStatInfo own;
    const uint32_t ownErr = StatPath(dir, false, own);
    bool replaceEmpty = false;
    if (ownErr == 0) {
        if (IsDirectoryFollowed(dir)) {
            if (!IsDirectoryEmpty(dir))
                return ERROR_DIR_NOT_EMPTY;
            replaceEmpty = true;
        } else {
            return ERROR_ALREADY_EXISTS;
        }
    } else if (!IsNotFoundError(ownErr)) {
        return ownErr;
    }

    // The link holds the absolute path of an existing directory.
    if (Target.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    QString target = Target;
    if (!target.startsWith(QLatin1Char('/'))) {
        QString cwd;
        const uint32_t err = RealPath(QStringLiteral("."), cwd);
        if (err != 0)
            return err;
        target = CanonicalPath(cwd, target);
    }
    target = WithoutTrailingDelimiter(target);
    if (!target.startsWith(QLatin1Char('/')) || !IsDirectoryFollowed(target))
        return ERROR_PATH_NOT_FOUND;
    if (replaceEmpty && !own.IsLink()) {
        // Replacing Dir by a link to itself would lose the target.
        QString realDir, realTarget;
        if (RealPath(dir, realDir) == 0 && RealPath(target, realTarget) == 0 && realDir == realTarget)
            return ERROR_INVALID_PARAMETER;
    }

    // Missing parents are created; they are removed again when the link
    // cannot be made.
    QStringList created;
    if (!replaceEmpty) {
        TStatInfo st;
        for (QString p = FolderOf(dir); !p.isEmpty() && p != QLatin1String("/"); p = FolderOf(p)) {
            if (StatPath(p, false, st) == 0)
                break;
            created.prepend(p);
        }
        if (!created.isEmpty()) {
            const uint32_t err = MakeDirs(created.last());
            if (err != 0)
                return err;
        }
    } else {
        const uint32_t err = own.IsLink() ? RemoveFile(dir) : RemoveDir(dir);
        if (err != 0)
            return err;
    }

    const uint32_t err = CreateSymLink(dir, target);
    if (err != 0) {
        if (replaceEmpty && !own.IsLink())
            MakeDir(dir, own.Mode & 07777);
        for (qsizetype i = created.size() - 1; i >= 0; --i)
            RemoveDir(created[i]);
    }
    return err;
}

bool IsDirectoryEmpty(const QString &Dir)
{
    TSearchRec sr;
    const bool empty = FindFirst(WithTrailingDelimiter(Dir) + QStringLiteral("*.*"), faAnyFile, sr) != 0;
    FindClose(sr);
    return empty;
}

bool HasNoSubDirs(const QString &Dir)
{
    TSearchRec sr;
    bool none = true;
    if (FindFirst(WithTrailingDelimiter(Dir) + QStringLiteral("*.*"), faAnyFile, sr) == 0) {
        do {
            if (sr.Attr & faDirectory)
                none = false;
        } while (none && FindNext(sr) == 0);
    }
    FindClose(sr);
    return none;
}

int CountDirFiles(const QString &Dir, bool Recursive, const QString &Ext)
{
    return CountFilesIn(WithoutTrailingDelimiter(Dir), Recursive, Ext);
}

bool DeleteDirectoryTree(const QString &Dir, bool DeleteRoot)
{
    const QString root = WithoutTrailingDelimiter(Dir);
    if (root.isEmpty())
        return true;
    TStatInfo st;
    const uint32_t err = StatPath(root, false, st);
    if (err != 0)
        return IsNotFoundError(err);
    if (st.IsLink()) {
        // The tree behind a link is never deleted: with DeleteRoot the link
        // goes; without, the folder it names is emptied (and links in it
        // again are removed as names).
        if (DeleteRoot)
            return RemoveFile(root) == 0;
        if (StatPath(root, true, st) != 0 || !st.IsDir())
            return true;
    } else if (!st.IsDir()) {
        return true;
    }
    if (IsPseudoMountPoint(root))
        return !DeleteRoot || RemoveDir(root) == 0;
    TDeleteCounts counts;
    DeleteTree(root, st, DeleteRoot, counts);
    return counts.Failed == 0;
}

bool CheckDirAccess(const QString &Dir, uint32_t &Code)
{
    if (!IsDirectoryFollowed(Dir)) {
        Code = ERROR_PATH_NOT_FOUND;
        return false;
    }
    TSearchRec sr;
    Code = FindFirst(WithTrailingDelimiter(Dir) + QStringLiteral("*.*"), faAnyFile, sr);
    FindClose(sr);
    if (Code == ERROR_FILE_NOT_FOUND)
        Code = 0; // listed, and nothing in it
    return Code == 0;
}

bool IsDirectoryReadable(const QString &Dir)
{
    uint32_t code;
    return CheckDirAccess(Dir, code);
}

} // namespace vl
