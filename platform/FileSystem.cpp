#include "platform/FileSystem.h"
#include "platform/FileNames.h"
#include "platform/FileSystemInternal.h"
#include "platform/SysErrors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace vl {

bool TStatInfo::IsDir() const { return S_ISDIR(Mode); }
bool TStatInfo::IsRegular() const { return S_ISREG(Mode); }
bool TStatInfo::IsLink() const { return S_ISLNK(Mode); }

namespace fsi {

QByteArray Native(const QString &path)
{
    return EncodeFileName(path);
}

namespace {

QByteArray ParentOf(const QByteArray &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    const qsizetype slash = end > 0 ? path.lastIndexOf('/', end - 1) : -1;
    if (slash < 0)
        return QByteArray(".");
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

int StatAt(int dirFd, const char *path, bool followLink, TStatInfo &st)
{
    static std::atomic<bool> noStatx{false};
    st = TStatInfo();
    const int flags = AT_NO_AUTOMOUNT | (followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    if (!noStatx.load(std::memory_order_relaxed)) {
        struct statx sx;
        if (statx(dirFd, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
            st.Dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
            st.Ino = sx.stx_ino;
            st.Mode = sx.stx_mode;
            st.Uid = sx.stx_uid;
            st.Gid = sx.stx_gid;
            st.NLink = sx.stx_nlink;
            st.Size = int64_t(sx.stx_size);
            st.ATime = {sx.stx_atime.tv_sec, long(sx.stx_atime.tv_nsec)};
            st.MTime = {sx.stx_mtime.tv_sec, long(sx.stx_mtime.tv_nsec)};
            st.CTime = {sx.stx_ctime.tv_sec, long(sx.stx_ctime.tv_nsec)};
            st.HasBTime = (sx.stx_mask & STATX_BTIME) != 0;
            if (st.HasBTime)
                st.BTime = {sx.stx_btime.tv_sec, long(sx.stx_btime.tv_nsec)};
            return 0;
        }
        if (errno != ENOSYS)
            return errno;
        noStatx = true;
    }
    struct stat s;
    if (fstatat(dirFd, path, &s, flags) != 0)
        return errno;
    st.Dev = s.st_dev;
    st.Ino = s.st_ino;
    st.Mode = s.st_mode;
    st.Uid = s.st_uid;
    st.Gid = s.st_gid;
    st.NLink = s.st_nlink;
    st.Size = s.st_size;
    st.ATime = s.st_atim;
    st.MTime = s.st_mtim;
    st.CTime = s.st_ctim;
    return 0;
}

struct TNativeEntry {
    QByteArray Name;
    TStatInfo Stat;
};

int ListNative(const QByteArray &dir, std::vector<TNativeEntry> &entries, bool onlyDirectories = false)
{
    entries.clear();
    const int fd = open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    DIR *d = fdopendir(fd);
    if (!d) {
        const int err = errno;
        close(fd);
        return err;
    }
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent *e = readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        if (onlyDirectories && e->d_type != DT_DIR && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
            continue;
        TNativeEntry entry;
        entry.Name = QByteArray(e->d_name);
        err = StatAt(fd, e->d_name, false, entry.Stat);
        if (err == ENOENT) { // removed since readdir
            err = 0;
            continue;
        }
        if (err)
            break;
        entries.push_back(std::move(entry));
    }
    closedir(d);
    if (err)
        entries.clear();
    return err;
}

QByteArray Join(const QByteArray &dir, const QByteArray &name)
{
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

// Removes path and, for a directory, everything below it; never follows a
// link (a link is removed itself).
int RemoveTreeNative(const QByteArray &path)
{
    struct stat s;
    if (lstat(path.constData(), &s) != 0)
        return errno;
    if (!S_ISDIR(s.st_mode))
        return unlink(path.constData()) == 0 ? 0 : errno;
    std::vector<TNativeEntry> entries;
    if (const int err = ListNative(path, entries))
        return err;
    for (const TNativeEntry &e : entries) {
        if (const int err = RemoveTreeNative(Join(path, e.Name)))
            return err;
    }
    return rmdir(path.constData()) == 0 ? 0 : errno;
}

int CopyData(const QByteArray &source, const QByteArray &dest, mode_t mode)
{
    const int in = open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    // Private until the permissions of the source are applied.
    const int out = open(dest.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0700);
    if (out < 0) {
        const int err = errno;
        close(in);
        return err;
    }
    int err = 0;
    static constexpr size_t kBuffer = 1 << 20;
    std::unique_ptr<char[]> buf(new char[kBuffer]);
    for (;;) {
        const ssize_t n = read(in, buf.get(), kBuffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        for (ssize_t off = 0; off < n && !err;) {
            const ssize_t w = write(out, buf.get() + off, size_t(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                err = w < 0 ? errno : ENOSPC;
            else
                off += w;
        }
        if (err)
            break;
    }
    close(in);
    if (close(out) != 0 && !err)
        err = errno;
    return err;
}

// Copies one entry (a directory with everything below it) to dest, which
// must not exist: data, xattrs, permissions and times. Links are copied as
// links.
uint32_t CopyTree(const QByteArray &source, const QByteArray &dest)
{
    struct stat s;
    if (lstat(source.constData(), &s) != 0)
        return PathError(errno, source);
    const timespec times[2] = {s.st_atim, s.st_mtim};
    if (S_ISLNK(s.st_mode)) {
        QString target;
        if (const uint32_t err = ReadSymLink(DecodeFileName(source), target))
            return err;
        if (symlink(Native(target).constData(), dest.constData()) != 0)
            return PathError(errno, dest);
        if (geteuid() == 0 && lchown(dest.constData(), s.st_uid, s.st_gid) != 0)
            return PathError(errno, dest);
        utimensat(AT_FDCWD, dest.constData(), times, AT_SYMLINK_NOFOLLOW);
        return ERROR_SUCCESS;
    }
    if (S_ISDIR(s.st_mode)) {
        if (mkdir(dest.constData(), 0700) != 0)
            return PathError(errno, dest);
        std::vector<TNativeEntry> entries;
        if (const int err = ListNative(source, entries))
            return PathError(err, source);
        for (const TNativeEntry &e : entries) {
            if (const uint32_t err = CopyTree(Join(source, e.Name), Join(dest, e.Name)))
                return err;
        }
    } else if (S_ISREG(s.st_mode)) {
        if (const int err = CopyData(source, dest, s.st_mode))
            return PathError(err, dest);
    } else if (mknod(dest.constData(), s.st_mode, s.st_rdev) != 0) {
        return PathError(errno, dest);
    }
    uint32_t err = CopyUserXattrs(source, dest, true);
    if (err && err != ERROR_NOT_SUPPORTED)
        return err;
    err = CopyPermissionsNative(source, dest);
    if (err && err != ERROR_NOT_SUPPORTED)
        return err;
    if (utimensat(AT_FDCWD, dest.constData(), times, 0) != 0)
        return PathError(errno, dest);
    return ERROR_SUCCESS;
}

uint32_t MoveAcross(const QByteArray &oldPath, const QByteArray &newPath)
{
    struct stat s;
    if (lstat(newPath.constData(), &s) == 0)
        return ERROR_ALREADY_EXISTS;
    if (newPath.startsWith(oldPath + '/'))
        return ERROR_INVALID_PARAMETER; // into itself
    if (const uint32_t err = CopyTree(oldPath, newPath)) {
        RemoveTreeNative(newPath);
        return err;
    }
    // The copy must be on disk before the source is forgotten.
    const int fd = open(newPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    const int fsFd = fd >= 0 ? fd : open(ParentOf(newPath).constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fsFd < 0 || syncfs(fsFd) != 0) {
        const int err = errno;
        if (fsFd >= 0)
            close(fsFd);
        RemoveTreeNative(newPath);
        return PathError(err, newPath);
    }
    close(fsFd);
    if (const int err = RemoveTreeNative(oldPath))
        return PathError(err, oldPath);
    return ERROR_SUCCESS;
}

// For file systems without RENAME_NOREPLACE: a hard link refuses an
// existing target atomically; directories (and file systems without hard
// links) get a rename after checking that the target is free.
int MoveWithoutFlag(const QByteArray &oldPath, const QByteArray &newPath)
{
    struct stat s;
    if (lstat(oldPath.constData(), &s) != 0)
        return errno;
    if (!S_ISDIR(s.st_mode)) {
        if (link(oldPath.constData(), newPath.constData()) == 0) {
            if (unlink(oldPath.constData()) == 0)
                return 0;
            const int err = errno;
            unlink(newPath.constData());
            return err;
        }
        if (errno == EEXIST || errno == EXDEV || errno == ENOENT || errno == ENOTDIR || errno == EACCES)
            return errno;
    }
    if (lstat(newPath.constData(), &s) == 0)
        return EEXIST;
    return rename(oldPath.constData(), newPath.constData()) == 0 ? 0 : errno;
}

} // namespace

uint32_t PathError(int err, const QByteArray &path)
{
    bool parentMissing = false;
    if (err == ENOENT) {
        struct stat s;
        parentMissing = stat(ParentOf(path).constData(), &s) != 0;
    }
    return ErrnoToError(err, parentMissing);
}

namespace {

struct TLookupScope {
    QByteArray Dir; // with its trailing "/"
    int Fd;
};
thread_local std::vector<TLookupScope> gLookupScopes;

} // namespace

bool LookupInScope(const QByteArray &path, int &dirfd, const char *&name)
{
    for (auto it = gLookupScopes.rbegin(); it != gLookupScopes.rend(); ++it) {
        const QByteArray &d = it->Dir;
        if (path.size() > d.size() && path.startsWith(d) && path.indexOf('/', d.size()) < 0) {
            const char *rest = path.constData() + d.size();
            if (std::strcmp(rest, ".") == 0 || std::strcmp(rest, "..") == 0)
                return false;
            dirfd = it->Fd;
            name = rest;
            return true;
        }
    }
    return false;
}

int StatNative(const QByteArray &path, bool followLink, TStatInfo &st)
{
    int dirfd = AT_FDCWD;
    const char *name = path.constData();
    LookupInScope(path, dirfd, name);
    return StatAt(dirfd, name, followLink, st);
}

} // namespace fsi

using namespace fsi;

TDirLookupScope::TDirLookupScope(const QString &Dir)
{
    QByteArray d = Native(Dir);
    if (d.isEmpty() || d.at(0) != '/')
        return; // only absolute folders: the current folder may change
    if (!d.endsWith('/'))
        d += '/';
    FFd = open(d.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (FFd >= 0)
        gLookupScopes.push_back({d, FFd});
}

TDirLookupScope::~TDirLookupScope()
{
    if (FFd < 0)
        return;
    for (auto it = gLookupScopes.begin(); it != gLookupScopes.end(); ++it) {
        if (it->Fd == FFd) {
            gLookupScopes.erase(it);
            break;
        }
    }
    close(FFd);
}

uint32_t StatPath(const QString &path, bool followLink, TStatInfo &st)
{
    const QByteArray p = Native(path);
    const int err = StatNative(p, followLink, st);
    return err ? PathError(err, p) : ERROR_SUCCESS;
}

bool PathExists(const QString &path, bool followLink)
{
    TStatInfo st;
    return StatNative(Native(path), followLink, st) == 0;
}

uint32_t ReadSymLink(const QString &path, QString &target)
{
    target.clear();
    const QByteArray p = Native(path);
    QByteArray buf(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = readlink(p.constData(), buf.data(), size_t(buf.size()));
        if (n < 0)
            return PathError(errno, p);
        if (n < buf.size()) {
            target = DecodeFileName(buf.constData(), n);
            return ERROR_SUCCESS;
        }
        buf.resize(buf.size() * 2);
    }
}

uint32_t CreateSymLink(const QString &linkPath, const QString &target)
{
    const QByteArray p = Native(linkPath);
    return symlink(Native(target).constData(), p.constData()) == 0 ? ERROR_SUCCESS : PathError(errno, p);
}

uint32_t RealPath(const QString &path, QString &resolved)
{
    resolved.clear();
    const QByteArray p = Native(path);
    char *r = realpath(p.constData(), nullptr);
    if (!r)
        return PathError(errno, p);
    resolved = DecodeFileName(QByteArray(r));
    free(r);
    return ERROR_SUCCESS;
}

uint32_t SetFileTimes(const QString &path, const timespec *atime, const timespec *mtime, bool followLink)
{
    const QByteArray p = Native(path);
    timespec times[2];
    times[0] = atime ? *atime : timespec{0, UTIME_OMIT};
    times[1] = mtime ? *mtime : timespec{0, UTIME_OMIT};
    if (utimensat(AT_FDCWD, p.constData(), times, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return PathError(errno, p);
    return ERROR_SUCCESS;
}

uint32_t RemoveFile(const QString &path)
{
    const QByteArray p = Native(path);
    return unlink(p.constData()) == 0 ? ERROR_SUCCESS : PathError(errno, p);
}

uint32_t RemoveDir(const QString &path)
{
    const QByteArray p = Native(path);
    if (rmdir(p.constData()) == 0)
        return ERROR_SUCCESS;
    const int err = errno;
    struct stat s;
    if (err == ENOTDIR && lstat(p.constData(), &s) == 0 && !S_ISDIR(s.st_mode))
        return ERROR_DIRECTORY; // the path itself is no directory
    return PathError(err, p);
}

uint32_t MakeDir(const QString &path, uint32_t mode)
{
    const QByteArray p = Native(path);
    if (mkdir(p.constData(), mode) == 0)
        return ERROR_SUCCESS;
    return errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrnoToError(errno, true);
}

uint32_t MakeDirs(const QString &path)
{
    const QByteArray p = Native(path);
    if (p.isEmpty())
        return ERROR_PATH_NOT_FOUND;
    struct stat s;
    if (mkdir(p.constData(), 0777) == 0)
        return ERROR_SUCCESS;
    int err = errno;
    if (err == ENOENT) {
        const QByteArray parent = ParentOf(p);
        if (parent == p)
            return ERROR_PATH_NOT_FOUND;
        if (const uint32_t perr = MakeDirs(DecodeFileName(parent)))
            return perr;
        if (mkdir(p.constData(), 0777) == 0)
            return ERROR_SUCCESS;
        err = errno;
    }
    if (err == EEXIST)
        return stat(p.constData(), &s) == 0 && S_ISDIR(s.st_mode) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    return ErrnoToError(err, true);
}

uint32_t RenameReplace(const QString &oldPath, const QString &newPath)
{
    const QByteArray n = Native(newPath);
    if (::rename(Native(oldPath).constData(), n.constData()) != 0)
        return PathError(errno, n);
    return ERROR_SUCCESS;
}

uint32_t MoveNoReplace(const QString &oldPath, const QString &newPath)
{
    const QByteArray o = Native(oldPath);
    const QByteArray n = Native(newPath);
    int err = 0;
    if (renameat2(AT_FDCWD, o.constData(), AT_FDCWD, n.constData(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS || err == ENOTSUP)
            err = MoveWithoutFlag(o, n);
    }
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case EEXIST:
    case ENOTEMPTY:
        return ERROR_ALREADY_EXISTS;
    case EXDEV:
        return MoveAcross(o, n);
    default: {
        struct stat s;
        if (err == ENOENT && lstat(o.constData(), &s) == 0)
            return PathError(err, n); // the target's folder is missing
        return PathError(err, o);
    }
    }
}

uint32_t Chmod(const QString &path, uint32_t mode)
{
    const QByteArray p = Native(path);
    return chmod(p.constData(), mode) == 0 ? ERROR_SUCCESS : PathError(errno, p);
}

uint32_t ListDirectory(const QString &dir, std::vector<TDirEntry> &entries, bool onlyDirectories)
{
    entries.clear();
    const QByteArray p = Native(dir);
    std::vector<TNativeEntry> native;
    if (const int err = ListNative(p, native, onlyDirectories))
        return PathError(err, p);
    entries.reserve(native.size());
    for (TNativeEntry &e : native)
        entries.push_back(TDirEntry{DecodeFileName(e.Name), e.Stat});
    return ERROR_SUCCESS;
}

uint32_t DiskSpace(const QString &path, int64_t &freeBytes, int64_t &totalBytes)
{
    freeBytes = totalBytes = 0;
    const QByteArray p = Native(path);
    struct statvfs v;
    if (statvfs(p.constData(), &v) != 0)
        return PathError(errno, p);
    freeBytes = int64_t(v.f_bavail) * int64_t(v.f_frsize);
    totalBytes = int64_t(v.f_blocks) * int64_t(v.f_frsize);
    return ERROR_SUCCESS;
}

uint32_t SyncFileSystem(const QString &path)
{
    const QByteArray p = Native(path);
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return PathError(errno, p);
    const int rc = ::syncfs(fd);
    const int err = errno;
    ::close(fd);
    return rc == 0 ? ERROR_SUCCESS : ErrnoToError(err);
}

} // namespace vl
