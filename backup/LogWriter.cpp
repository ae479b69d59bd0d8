#include "backup/LogWriter.h"

#include "platform/File.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vl {

namespace {

// Lines are collected up to this size before they go to the file.
constexpr qsizetype kBufferLimit = 64 * 1024;

const QByteArray &Utf8Bom()
{
    static const QByteArray bom("\xEF\xBB\xBF", 3);
    return bom;
}

// A descriptor of our own on fd's open file (so its lock stays with us
// when the object that opened it closes its descriptor), in append mode.
int AdoptAppending(int fd, uint32_t &err)
{
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        err = ErrnoToError(errno);
        return -1;
    }
    const int flags = fcntl(own, F_GETFL);
    if (flags < 0 || fcntl(own, F_SETFL, flags | O_APPEND) != 0) {
        err = ErrnoToError(errno);
        close(own);
        return -1;
    }
    err = ERROR_SUCCESS;
    return own;
}

// A new file holding only the byte-order mark, locked before anyone can
// find it under its name.
int CreateLocked(const QString &path, uint32_t &err)
{
    TLockedFile file;
    err = file.Create(path, Utf8Bom(), 0, 0);
    if (err != ERROR_SUCCESS)
        return -1;
    return AdoptAppending(file.Handle(), err);
}

// An existing file opened for writing and locked; ERROR_SHARING_VIOLATION
// while another open file holds a lock on it.
int OpenLocked(const QString &path, uint32_t &err)
{
    TFile file;
    err = file.Open(path, TFile::faWrite, TFile::fcOpenExisting);
    if (err != ERROR_SUCCESS)
        return -1;
    err = TryLockRange(file.Handle(), 0, 0, true);
    if (err != ERROR_SUCCESS) {
        if (err == ERROR_LOCK_VIOLATION)
            err = ERROR_SHARING_VIOLATION;
        return -1;
    }
    return AdoptAppending(file.Handle(), err);
}

} // namespace

TLogWriter::~TLogWriter()
{
    Close();
}

uint32_t TLogWriter::Open(const QString &path, TOpenMode mode)
{
    Close();
    FFileName = path;
    uint32_t err = ERROR_SUCCESS;
    int fd = CreateLocked(path, err);
    // Appending to an existing file; also when another run created it
    // between our attempts.
    if (fd < 0 && mode == omAppend && err == ERROR_FILE_EXISTS)
        fd = OpenLocked(path, err);
    FFd = fd;
    return fd < 0 ? err : ERROR_SUCCESS;
}

uint32_t TLogWriter::Reopen()
{
    if (FFileName.isEmpty())
        return ERROR_INVALID_HANDLE;
    return Open(FFileName, omAppend);
}

void TLogWriter::Close()
{
    if (FFd < 0)
        return;
    Flush();
    close(FFd); // our descriptor is the file's last one: the lock goes with it
    FFd = -1;
}

uint32_t TLogWriter::WriteLine(const QString &text)
{
    if (FFd < 0)
        return ERROR_INVALID_HANDLE;
    FBuffer += text.toUtf8();
    FBuffer += "\r\n";
    return FBuffer.size() >= kBufferLimit ? Flush() : ERROR_SUCCESS;
}

uint32_t TLogWriter::Flush()
{
    if (FFd < 0)
        return ERROR_INVALID_HANDLE;
    const uint32_t err = WriteAllBytes(FFd, FBuffer.constData(), FBuffer.size());
    FBuffer.clear();
    return err;
}

bool TLogWriter::IsBusy(const QString &path)
{
    // A name that cannot be looked up is not busy: opening it reports why,
    // and no numbered sibling of it would fare better.
    TStatInfo st;
    if (StatPath(path, true, st) != ERROR_SUCCESS)
        return false;
    TFile file;
    const uint32_t err = file.Open(path, TFile::faWrite, TFile::fcOpenExisting);
    if (err != ERROR_SUCCESS)
        return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
    bool locked = false;
    return TestRangeLocked(file.Handle(), 0, 0, locked) != ERROR_SUCCESS || locked;
}

} // namespace vl
