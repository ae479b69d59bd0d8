// Advisory byte-range locks on the program's own files (lock file, logs).
//
// These are open-file-description locks (fcntl F_OFD_*): they belong to the
// open file, not to the process, so closing some other descriptor of the
// same file keeps them, and the kernel drops them when the file's last
// descriptor closes, also when the holder is killed. Two opens of the same
// file in one process conflict like two processes do.
//
// Results are error numbers of platform/SysErrors.h (0 = success).
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

// Locks the range without waiting: exclusive (fd open for writing) or
// shared (fd open for reading). ERROR_LOCK_VIOLATION when another open file
// holds a conflicting lock on any byte of it. The range may lie beyond the
// end of the file.
uint32_t TryLockRange(int fd, int64_t start, int64_t length, bool exclusive);
uint32_t UnlockRange(int fd, int64_t start, int64_t length);
// Whether another open file holds a lock on any byte of the range; locks
// of fd's own open file do not count.
uint32_t TestRangeLocked(int fd, int64_t start, int64_t length, bool &locked);
// Removes path only while it still names the file open as fd, so a file
// that another process has put there since is left alone;
// ERROR_FILE_NOT_FOUND when path names another file or nothing.
uint32_t RemoveIfSameFile(const QString &path, int fd);

// A file created exclusively and locked before any other process can see
// it under its name.
class TLockedFile {
public:
    TLockedFile() = default;
    ~TLockedFile();
    TLockedFile(const TLockedFile &) = delete;
    TLockedFile &operator=(const TLockedFile &) = delete;

    // Creates path holding content with an exclusive lock on the range.
    // The file is made without a name, locked and written, and only then
    // linked in, so no reader ever finds it unlocked or half written. Where
    // the file system cannot make a nameless file, it is created under its
    // name (exclusively) and locked at once. ERROR_FILE_EXISTS when path
    // exists; on any failure nothing is left behind.
    uint32_t Create(const QString &path, const QByteArray &content, int64_t lockStart, int64_t lockLength);
    // Closes the file, which releases its lock.
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    int Handle() const { return FFd; }

private:
    int FFd = -1;
};

} // namespace vl
