// The file-system layer: every access to user data paths goes through here.
//
// Paths are QStrings mapped to bytes losslessly (platform/FileNames.h).
// Results are error numbers of platform/SysErrors.h (0 = success).
//
// File attributes keep the program's attribute bits:
// - faDirectory from the file type (also for a link to a folder);
// - faReparsePoint for a symbolic link (not followed) and for a mount point
//   of a pseudo file system (proc, sysfs, cgroup, ...), which walks treat as
//   a junction and so leave out by default;
// - faReadOnly when the owner write bit is clear (setting it clears every
//   write bit, clearing it gives the owner write bit back) or when the
//   xattr "user.DOSATTRIB" says so;
// - faHidden when the name starts with "." or "user.DOSATTRIB" says so;
// - faSysFile from "user.DOSATTRIB";
// - faArchive emulated for files: set when the file has no stamp xattr
//   "user.velkor.archive" = "ino:mtime_ns:size", when the stamp no longer
//   matches, or when "user.DOSATTRIB" has it. Resetting it writes the stamp
//   from a stat the caller took before copying. On a file system without
//   user xattrs it is always set and resets do nothing.
// "user.DOSATTRIB" holds the hexadecimal text form ("0x20") of the bits.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <ctime>
#include <vector>

namespace vl {

enum : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faDirectory = 0x10,
    faArchive = 0x20,
    faNormal = 0x80,
    faReparsePoint = 0x400,
    faInvalid = 0xFFFFFFFF,
};

inline constexpr const char *kDosAttribXattr = "user.DOSATTRIB";
inline constexpr const char *kArchiveStampXattr = "user.velkor.archive";

struct TStatInfo {
    uint64_t Dev = 0;
    uint64_t Ino = 0;
    uint32_t Mode = 0; // st_mode: type and permission bits
    uint32_t Uid = 0;
    uint32_t Gid = 0;
    uint64_t NLink = 0;
    int64_t Size = 0;
    timespec ATime{};
    timespec MTime{};
    timespec CTime{};
    timespec BTime{}; // creation time, when HasBTime
    bool HasBTime = false;

    bool IsDir() const;
    bool IsRegular() const;
    bool IsLink() const;
};

// stat (followLink) or lstat of a path, through statx for the birth time.
uint32_t StatPath(const QString &path, bool followLink, TStatInfo &st);
bool PathExists(const QString &path, bool followLink);

// Attributes of a path (see above); faInvalid and the error when unreadable.
uint32_t GetFileAttr(const QString &path, bool followLink, uint32_t &attr);
// The same from a stat the caller already has (st must match followLink).
uint32_t AttrFromStat(const QString &path, const TStatInfo &st, bool followLink);
// Sets faReadOnly, faHidden, faSysFile and faArchive as described above;
// other bits are ignored. Clearing faArchive writes the stamp of the file as
// it is now. Hidden and system bits are dropped silently where the file
// system has no user xattrs.
uint32_t SetFileAttr(const QString &path, uint32_t attr, bool followLink);
// Clears the archive bit with the stamp of `before` (the stat taken before
// the file was copied): a file changed since then keeps counting as changed.
// ERROR_NOT_SUPPORTED where the file system has no user xattrs.
uint32_t ResetArchiveBit(const QString &path, const TStatInfo &before);
// Whether the file system holding path stores user xattrs.
bool UserXattrsSupported(const QString &path);
// Tests only: every user xattr call then behaves as on a file system
// without user xattrs, so that path is covered on machines whose file
// systems all have them.
void SetUserXattrsDisabledForTesting(bool disabled);

// Mount points of pseudo file systems (proc, sysfs, cgroup, devpts, ...):
// the program treats them as junctions.
bool IsPseudoMountPoint(const QString &path);
// Whether path is the mount point of any file system.
bool IsMountPoint(const QString &path);

// Symbolic links.
uint32_t ReadSymLink(const QString &path, QString &target);
uint32_t CreateSymLink(const QString &linkPath, const QString &target);
// The absolute path with every link resolved (the final target).
uint32_t RealPath(const QString &path, QString &resolved);

// Times: a null pointer leaves that time unchanged. The creation time cannot
// be set on Linux; functions that take one ignore it.
uint32_t SetFileTimes(const QString &path, const timespec *atime, const timespec *mtime, bool followLink);

// User xattrs other than the two the program keeps for itself: the named
// data streams of a file. ListStreams gives the names without "user.".
// CopyStreams makes dest's streams those of source (stale ones go);
// ERROR_NOT_SUPPORTED when source has streams that dest cannot store.
uint32_t ListStreams(const QString &path, QStringList &names, bool followLink);
uint32_t CopyStreams(const QString &source, const QString &dest);
// Permissions: mode bits, POSIX ACLs (access and default), and owner and
// group when running as root.
uint32_t CopyPermissions(const QString &source, const QString &dest);

// Plain file and directory operations.
uint32_t RemoveFile(const QString &path); // unlink; a link is removed itself
uint32_t RemoveDir(const QString &path);  // empty directories only
uint32_t MakeDir(const QString &path, uint32_t mode = 0777);
uint32_t MakeDirs(const QString &path); // with every missing parent
// Renames without replacing an existing target; across file systems the
// file or directory tree is copied (data, times, permissions, streams) and
// then removed.
uint32_t MoveNoReplace(const QString &oldPath, const QString &newPath);
uint32_t Chmod(const QString &path, uint32_t mode);
// Renames over an existing file in one step (same file system only), so
// readers see either the old or the new file.
uint32_t RenameReplace(const QString &oldPath, const QString &newPath);

// While it lives, the stat and attribute look-ups of this thread for
// entries directly inside Dir go through one open handle of the folder, so
// a walk does not resolve the folder's whole path again for every file. A
// folder that does not exist yet (or cannot be opened) leaves every
// look-up as it is. Scopes nest; each ends with its block.
class TDirLookupScope {
public:
    explicit TDirLookupScope(const QString &Dir);
    ~TDirLookupScope();
    TDirLookupScope(const TDirLookupScope &) = delete;
    TDirLookupScope &operator=(const TDirLookupScope &) = delete;

private:
    int FFd = -1;
};

// One directory entry as lstat sees it.
struct TDirEntry {
    QString Name;
    TStatInfo Stat; // lstat of the entry
};
// Every entry of a directory except "." and "..", unsorted. With
// onlyDirectories, entries the directory itself marks as neither a folder
// nor a link are left out without a stat of their own.
uint32_t ListDirectory(const QString &dir, std::vector<TDirEntry> &entries, bool onlyDirectories = false);

// Free and total bytes of the file system holding path.
uint32_t DiskSpace(const QString &path, int64_t &freeBytes, int64_t &totalBytes);
// Writes everything cached for the file system holding path to its device
// (syncfs); its write-back errors since the last call are reported.
uint32_t SyncFileSystem(const QString &path);

} // namespace vl
