#include "platform/FileLock.h"
#include "platform/File.h"
#include "platform/FileSystemInternal.h"
#include "platform/SysErrors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vl {

namespace {

struct flock RangeOf(short type, int64_t start, int64_t length)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(start);
    fl.l_len = off_t(length);
    fl.l_pid = 0; // must be 0 for OFD locks
    return fl;
}

int LockCall(int fd, int cmd, struct flock &fl)
{
    int rc;
    do
        rc = fcntl(fd, cmd, &fl);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

uint32_t WriteAll(int fd, const QByteArray &content)
{
    return WriteAllBytes(fd, content.constData(), content.size());
}

// Lock first, then content: a reader that finds the file must see it held.
uint32_t LockAndWrite(int fd, const QByteArray &content, int64_t lockStart, int64_t lockLength)
{
    const uint32_t err = TryLockRange(fd, lockStart, lockLength, true);
    return err != ERROR_SUCCESS ? err : WriteAll(fd, content);
}

QByteArray FolderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// Errors of open(O_TMPFILE) that mean the file system (or kernel) cannot
// make nameless files.
bool TmpFileUnsupported(int err)
{
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

} // namespace

uint32_t TryLockRange(int fd, int64_t start, int64_t length, bool exclusive)
{
    struct flock fl = RangeOf(exclusive ? F_WRLCK : F_RDLCK, start, length);
    const int err = LockCall(fd, F_OFD_SETLK, fl);
    if (err == EAGAIN || err == EACCES)
        return ERROR_LOCK_VIOLATION;
    return err == 0 ? ERROR_SUCCESS : ErrnoToError(err);
}

uint32_t UnlockRange(int fd, int64_t start, int64_t length)
{
    struct flock fl = RangeOf(F_UNLCK, start, length);
    const int err = LockCall(fd, F_OFD_SETLK, fl);
    return err == 0 ? ERROR_SUCCESS : ErrnoToError(err);
}

uint32_t TestRangeLocked(int fd, int64_t start, int64_t length, bool &locked)
{
    locked = false;
    // Asking for a write lock reports every lock of another open file.
    struct flock fl = RangeOf(F_WRLCK, start, length);
    const int err = LockCall(fd, F_OFD_GETLK, fl);
    if (err != 0)
        return ErrnoToError(err);
    locked = fl.l_type != F_UNLCK;
    return ERROR_SUCCESS;
}

uint32_t RemoveIfSameFile(const QString &path, int fd)
{
    const QByteArray p = fsi::Native(path);
    struct stat open = {}, named = {};
    if (fstat(fd, &open) != 0)
        return ErrnoToError(errno);
    if (lstat(p.constData(), &named) != 0)
        return fsi::PathError(errno, p);
    if (open.st_dev != named.st_dev || open.st_ino != named.st_ino)
        return ERROR_FILE_NOT_FOUND;
    return unlink(p.constData()) == 0 ? ERROR_SUCCESS : fsi::PathError(errno, p);
}

TLockedFile::~TLockedFile()
{
    Close();
}

void TLockedFile::Close()
{
    if (FFd >= 0) {
        close(FFd);
        FFd = -1;
    }
}

uint32_t TLockedFile::Create(const QString &path, const QByteArray &content, int64_t lockStart, int64_t lockLength)
{
    Close();
    const QByteArray p = fsi::Native(path);

    int fd = open(FolderOf(p).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
        uint32_t err = LockAndWrite(fd, content, lockStart, lockLength);
        if (err == ERROR_SUCCESS) {
            char self[64];
            std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
            // Fails with EEXIST when the name exists: the exclusive step.
            if (linkat(AT_FDCWD, self, AT_FDCWD, p.constData(), AT_SYMLINK_FOLLOW) == 0) {
                FFd = fd;
                return ERROR_SUCCESS;
            }
            const int linkErr = errno;
            if (linkErr != ENOENT || access("/proc/self/fd", F_OK) == 0)
                err = fsi::PathError(linkErr, p);
        }
        close(fd); // a nameless file vanishes with its descriptor
        if (err != ERROR_SUCCESS)
            return err;
        // No /proc to link through: make the file under its name below.
    } else if (!TmpFileUnsupported(errno)) {
        return fsi::PathError(errno, p);
    }

    fd = open(p.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0)
        return fsi::PathError(errno, p);
    const uint32_t err = LockAndWrite(fd, content, lockStart, lockLength);
    if (err != ERROR_SUCCESS) {
        // A file left here would block every later start.
        RemoveIfSameFile(path, fd);
        close(fd);
        return err;
    }
    FFd = fd;
    return ERROR_SUCCESS;
}

} // namespace vl
