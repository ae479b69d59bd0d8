// An open file: a thin owner of a POSIX file descriptor on a losslessly
// encoded path. Errors are numbers of platform/SysErrors.h.
#pragma once

#include <QString>

#include <cstdint>

namespace vl {

// Writes all Count bytes to Fd, going on after interruptions by signals;
// ERROR_SUCCESS, ERROR_DISK_FULL when nothing more is taken, or the error
// of the failed write.
uint32_t WriteAllBytes(int Fd, const char *Data, int64_t Count);

class TFile {
public:
    enum TAccess { faRead, faWrite, faReadWrite };
    enum TCreate {
        fcOpenExisting,  // the file must exist
        fcCreateAlways,  // create or truncate
        fcCreateNew,     // create; fails with ERROR_FILE_EXISTS when it exists
    };

    TFile() = default;
    ~TFile();
    TFile(const TFile &) = delete;
    TFile &operator=(const TFile &) = delete;
    TFile(TFile &&other) noexcept;
    TFile &operator=(TFile &&other) noexcept;

    // Opens or creates; `mode` gives the permission bits of a new file
    // (before the umask). A missing parent folder gives ERROR_PATH_NOT_FOUND.
    uint32_t Open(const QString &path, TAccess access, TCreate create = fcOpenExisting, uint32_t mode = 0666);
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    int Handle() const { return FFd; }

    // Read and write retry on EINTR and partial transfers; a short count
    // with result 0 means end of file (read) or a full disk (write, then
    // the result is ERROR_DISK_FULL).
    uint32_t Read(void *buffer, int64_t count, int64_t &done);
    uint32_t Write(const void *buffer, int64_t count, int64_t &done);
    uint32_t Seek(int64_t offset, int whence, int64_t &newPos);
    uint32_t Size(int64_t &size);
    uint32_t Truncate(int64_t size);
    uint32_t Sync(); // fdatasync

private:
    int FFd = -1;
};

} // namespace vl
