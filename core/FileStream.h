// The file stream of the whole-file copy functions and its exceptions.
//
// Opening or creating raises EExtFileStreamError with the error number of
// platform/SysErrors.h; the three-argument Read and Write never raise but
// return that number, so the copy functions can report exactly what failed.
//
// Mode word:
//   high byte 0x00 - open an existing file:
//     bits 0-1  access: 0 read, 1 write, 2 read and write (3 is invalid)
//     bits 4-7  sharing: 0x00/0x10 none, 0x20 others may read, 0x30 others
//               may write, 0x40 others may read and write (above: invalid)
//   high byte 0xFF - create (always read and write access):
//     bit 2     0 create or truncate, 1 create a new file only
//     bits 4-7  sharing as above; a low byte of 0xFF stands for 0x10
// Sharing values are checked but advisory: nothing is locked. An invalid
// access or sharing value fails with ERROR_INVALID_PARAMETER without
// touching the file system.
#pragma once

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/Stream.h"
#include "platform/File.h"

#include <QString>

#include <cstdint>

namespace vl {

class EExtFileStreamError : public EStreamError {
public:
    EExtFileStreamError(const QString &Msg, int32_t FError) : EStreamError(Msg), FErrorCode(FError) {}
    // The translated text msgid formatted with args.
    static EExtFileStreamError CreateResFmt(const char *msgid, const TFormatArgs &args, int32_t FError);

    int32_t ErrorCode() const { return FErrorCode; }

private:
    int32_t FErrorCode;
};

// Raised only by the whole-file copy functions (core/FileUtils.h).
class ECopyError : public EExtFileStreamError {
public:
    using EExtFileStreamError::EExtFileStreamError;
};

// The modes the copy functions use: sources are opened for reading with
// others allowed to read and write, destinations created or truncated.
inline constexpr uint16_t kOpenReadShared = 0x0040;
inline constexpr uint16_t kCreateExclusive = 0xFF00;

class TExtFileStream : public TStream {
public:
    // Rights: permission bits of a created file (0 = 0666), before the umask.
    // A folder is no file: opening one fails with ERROR_ACCESS_DENIED.
    TExtFileStream(const QString &AFileName, uint16_t Mode, uint32_t Rights = 0);
    ~TExtFileStream() override = default;

    // Reads up to Count bytes; ReadCount gets the bytes read (0 at the end)
    // or -1 on failure. Returns 0 or the error number.
    int32_t Read(void *Buffer, int32_t Count, int32_t &ReadCount);
    // Writes Count bytes; WriteCount gets the bytes written or -1 on
    // failure. A short write (full disk) returns 0 with WriteCount < Count.
    int32_t Write(const void *Buffer, int32_t Count, int32_t &WriteCount);
    // Flushes the data to the device; 0 or the error number.
    int32_t Flush();

    // TStream
    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    bool SetSize(int64_t newSize) override;
    uint32_t LastError() const override { return FLastError; }
    // The open file descriptor (for the kernel's copy fast paths).
    int Handle() const { return FFile.Handle(); }

    // The name as passed to the constructor (not expanded).
    const QString &FileName() const { return FFileName; }

private:
    TFile FFile;
    QString FFileName;
    bool FCanRead = false;
    bool FCanWrite = false;
    uint32_t FLastError = 0;
};

} // namespace vl
