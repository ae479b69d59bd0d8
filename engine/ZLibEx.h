// Deflate and inflate as streams, and the CRC-32 of the engine.
//
// The compression stream deflates everything written to it into a target
// stream; the decompression stream inflates a source while it is read. Both
// work on raw deflate data (window bits -15) for gzip members and zip
// entries, or on zlib data (window bits 15). What the copy threads rely on:
// - a failed write into the target raises EWriteFileStreamError with the
//   error number (ERROR_DISK_FULL on a full disk), so a full disk can be
//   told apart from other write errors;
// - the decompression stream can be limited to a number of compressed
//   bytes, so it never reads into a trailer or the next entry;
// - at the end of the deflate data it moves the source back to the first
//   byte after the compressed data.
#pragma once

#include "core/Exceptions.h"
#include "core/Stream.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// The zlib levels 0, 1, -1 (zlib's default, 6) and 9 by ordinal.
enum class TZCompressionLevel { zcNone, zcFastest, zcDefault, zcMax };
enum class TCompressionLevel { clNone, clFastest, clDefault, clMax };

class EZLibError : public Exception {
public:
    using Exception::Exception;
};
class EZCompressionError : public EZLibError {
public:
    using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
public:
    using EZLibError::EZLibError;
};

// A failed write into a file: carries the error number of
// platform/SysErrors.h (ERROR_DISK_FULL for a full disk). Its message is
// "System error: <text> (0x........)". Raised by the compression stream and
// by the write streams of the copy threads (engine/ExtFileTools.h).
class EWriteFileStreamError : public Exception {
public:
    explicit EWriteFileStreamError(int32_t ECode);
    int32_t ErrorCode() const { return FCode; }

private:
    int32_t FCode;
};

// The system's text for ACode followed by " (0x%.8x)".
QString ZLibErrorText(uint32_t ACode);

// The standard CRC-32 (zlib's), continued from ACrc; 0 for no data from 0.
uint32_t UpdateCrc32(uint32_t ACrc, const void *Buffer, int64_t Length);

class TCustomZStream : public TStream {
public:
    // Scoped to the stream: the windows' TNotifyEvent takes a sender.
    using TNotifyEvent = std::function<void()>;

    ~TCustomZStream() override;
    TNotifyEvent OnProgress;

protected:
    explicit TCustomZStream(TStream &AStream);
    void Progress();

    TStream &FStream;        // not owned
    int64_t FStreamStartPos; // position of FStream when created
    int64_t FStreamPos;      // position of FStream after our last access
    struct TZState;
    std::unique_ptr<TZState> FZStream;
    QByteArray FBuffer;      // 64 KiB
};

class TZCompressionStream : public TCustomZStream {
public:
    // Level zcDefault, window bits 15 (zlib header and trailer).
    explicit TZCompressionStream(TStream &dest);
    // Negative window bits: raw deflate without header and trailer.
    TZCompressionStream(TStream &dest, TZCompressionLevel compressionLevel, int32_t windowBits);
    TZCompressionStream(TCompressionLevel compressionLevel, TStream &dest);
    // Completes the deflate data into the target when Finish() was not
    // called; never throws (a failed write goes unseen here), so callers
    // that must know call Finish() first.
    ~TZCompressionStream() override;

    // Completes the deflate data (once; the destructor then does nothing
    // more). Raises EWriteFileStreamError / EWriteError on a failed or short
    // write (the last, partial block included), EZCompressionError on a
    // zlib error. Write after Finish raises EZCompressionError.
    void Finish();

    // Raises EZCompressionError "Invalid ZStream operation!".
    int64_t Read(void *buffer, int64_t count) override;
    // Deflates count bytes; returns count. Raises on a zlib error or a failed
    // write of the target.
    int64_t Write(const void *buffer, int64_t count) override;
    // Only (0, soCurrent): the number of input bytes so far; anything else
    // raises EZCompressionError.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    bool SetSize(int64_t newSize) override;

    // (1 - output / input) x 100; 0 when nothing was written.
    float CompressionRate() const;

protected:
    // Writes one block of output to the target: EWriteFileStreamError with
    // the target's error number on a failed or short file write, EWriteError
    // on a short write of another target.
    void WriteBuffer(const char *Buffer, int32_t Count);

private:
    void Init(TZCompressionLevel level, int32_t windowBits);
    bool FFinished = false;
};

class TZDecompressionStream : public TCustomZStream {
public:
    // ALength > 0: at most that many compressed bytes are read from source;
    // 0: up to the end of source. Window bits 15 when not given.
    explicit TZDecompressionStream(TStream &source);
    TZDecompressionStream(TStream &source, int64_t ALength);
    TZDecompressionStream(TStream &source, int32_t WindowBits, int64_t ALength);
    ~TZDecompressionStream() override;

    // Up to count inflated bytes; fewer only at the end of the deflate data
    // or of the allowed input. Raises EZDecompressionError on damaged data,
    // EReadError when the source fails to read.
    int64_t Read(void *buffer, int64_t count) override;
    // Raises EZDecompressionError "Invalid ZStream operation!".
    int64_t Write(const void *buffer, int64_t count) override;
    // (0, soBeginning) restarts; forward moves read and drop; (0, soEnd)
    // reads everything. Returns the bytes produced so far; anything else
    // raises EZDecompressionError.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    bool SetSize(int64_t newSize) override;

private:
    void Init(int32_t windowBits, int64_t length);
    int64_t SLength;     // compressed bytes still allowed to be read
    int64_t FLimit;      // the allowance given at creation (for restarts)
    int32_t FWindowBits;
    bool FStreamEnd = false;
};

} // namespace vl
