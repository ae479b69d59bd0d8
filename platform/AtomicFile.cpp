#include "platform/AtomicFile.h"

#include "platform/FileNames.h"
#include "platform/SysErrors.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl {

namespace {

QByteArray DirectoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

// Follows symbolic links to the file they finally name (which need not
// exist yet), so a save replaces the target and keeps the link.
int ResolveLinks(QByteArray &path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        QByteArray target(4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n <= 0 || n >= target.size())
            return n < 0 ? errno : ENAMETOOLONG;
        target.truncate(n);
        path = target.startsWith('/') ? target : DirectoryOf(path) + '/' + target;
    }
    return ELOOP;
}

int WriteAll(int fd, const char *p, qsizetype n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(n));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += w;
        n -= w;
    }
    return 0;
}

} // namespace

uint32_t ReadFileBytes(const QString &path, QByteArray &data)
{
    data.clear();
    if (path.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    const QByteArray p = EncodeFileName(path);
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ErrnoToError(errno, errno == ENOTDIR);
    int err = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    char buf[65536];
    while (err == 0) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            err = errno;
        else if (r == 0)
            break;
        else
            data.append(buf, r);
    }
    ::close(fd);
    if (err != 0) {
        data.clear();
        return ErrnoToError(err);
    }
    return ERROR_SUCCESS;
}

uint32_t WriteFileAtomically(const QString &path, const QByteArray &data, uint32_t newFileMode)
{
    if (path.isEmpty())
        return ERROR_INVALID_NAME;
    QByteArray target = EncodeFileName(path);
    if (const int err = ResolveLinks(target))
        return ErrnoToError(err);

    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode))
            return S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED;
        if (!(st.st_mode & S_IWUSR) || ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            return ERROR_ACCESS_DENIED;
    } else if (errno != ENOENT) {
        return ErrnoToError(errno);
    }

    const QByteArray dir = DirectoryOf(target);
    // Hidden, and short enough for NAME_MAX whatever the target's length.
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(200);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/." + base + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".tmp";
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : mode_t(newFileMode));
        if (fd < 0 && errno != EEXIST)
            return ErrnoToError(errno, errno == ENOENT);
    }
    if (fd < 0)
        return ERROR_FILE_EXISTS;

    int err = 0;
    if (exists) {
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
            (void)!::fchown(fd, st.st_uid, st.st_gid); // best effort
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            err = errno;
    }
    if (err == 0)
        err = WriteAll(fd, data.constData(), data.size());
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.constData(), target.constData()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.constData());
        return ErrnoToError(err);
    }
    // Makes the rename itself durable; some file systems cannot sync a
    // folder, which is no failure of the save.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return ERROR_SUCCESS;
}

} // namespace vl
