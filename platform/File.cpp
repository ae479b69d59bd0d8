#include "platform/File.h"
#include "platform/FileSystemInternal.h"
#include "platform/SysErrors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vl {

namespace {

// One read or write call moves at most this much (the kernel's own cap is
// just below 2 GiB).
constexpr int64_t kMaxTransfer = int64_t(1) << 30;

} // namespace

TFile::~TFile()
{
    Close();
}

TFile::TFile(TFile &&other) noexcept
    : FFd(other.FFd)
{
    other.FFd = -1;
}

TFile &TFile::operator=(TFile &&other) noexcept
{
    if (this != &other) {
        Close();
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

uint32_t TFile::Open(const QString &path, TAccess access, TCreate create, uint32_t mode)
{
    Close();
    int flags = O_CLOEXEC | O_NOCTTY;
    switch (access) {
    case faRead: flags |= O_RDONLY; break;
    case faWrite: flags |= O_WRONLY; break;
    case faReadWrite: flags |= O_RDWR; break;
    }
    switch (create) {
    case fcOpenExisting: break;
    case fcCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case fcCreateNew: flags |= O_CREAT | O_EXCL; break;
    }
    const QByteArray p = fsi::Native(path);
    int fd;
    do
        fd = open(p.constData(), flags, mode_t(mode));
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fsi::PathError(errno, p);
    FFd = fd;
    return ERROR_SUCCESS;
}

void TFile::Close()
{
    if (FFd >= 0) {
        close(FFd); // never retried: the descriptor is gone even on EINTR
        FFd = -1;
    }
}

uint32_t TFile::Read(void *buffer, int64_t count, int64_t &done)
{
    done = 0;
    if (count < 0)
        return ERROR_INVALID_PARAMETER;
    char *p = static_cast<char *>(buffer);
    while (done < count) {
        const ssize_t n = read(FFd, p + done, size_t(std::min(count - done, kMaxTransfer)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrnoToError(errno);
        }
        if (n == 0)
            break; // end of file
        done += n;
    }
    return ERROR_SUCCESS;
}

uint32_t WriteAllBytes(int Fd, const char *Data, int64_t Count)
{
    while (Count > 0) {
        const ssize_t n = write(Fd, Data, size_t(std::min(Count, kMaxTransfer)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrnoToError(errno);
        }
        if (n == 0)
            return ERROR_DISK_FULL;
        Data += n;
        Count -= n;
    }
    return ERROR_SUCCESS;
}

uint32_t TFile::Write(const void *buffer, int64_t count, int64_t &done)
{
    done = 0;
    if (count < 0)
        return ERROR_INVALID_PARAMETER;
    const char *p = static_cast<const char *>(buffer);
    while (done < count) {
        const ssize_t n = write(FFd, p + done, size_t(std::min(count - done, kMaxTransfer)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrnoToError(errno);
        }
        if (n == 0)
            return ERROR_DISK_FULL;
        done += n;
    }
    return ERROR_SUCCESS;
}

uint32_t TFile::Seek(int64_t offset, int whence, int64_t &newPos)
{
    const off_t pos = lseek(FFd, off_t(offset), whence);
    if (pos < 0) {
        newPos = -1;
        return ErrnoToError(errno);
    }
    newPos = pos;
    return ERROR_SUCCESS;
}

uint32_t TFile::Size(int64_t &size)
{
    struct stat s;
    if (fstat(FFd, &s) != 0) {
        size = -1;
        return ErrnoToError(errno);
    }
    size = s.st_size;
    return ERROR_SUCCESS;
}

uint32_t TFile::Truncate(int64_t size)
{
    int rc;
    do
        rc = ftruncate(FFd, off_t(size));
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? ERROR_SUCCESS : ErrnoToError(errno);
}

uint32_t TFile::Sync()
{
    return fdatasync(FFd) == 0 ? ERROR_SUCCESS : ErrnoToError(errno);
}

} // namespace vl
