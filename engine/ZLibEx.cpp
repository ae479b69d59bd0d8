#include "engine/ZLibEx.h"

#include "core/Format.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/SysErrors.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace vl {

namespace {

constexpr int kBufferSize = 65536;
constexpr int kSkipSize = 8192;
// zlib counts in unsigned int; larger requests are fed in pieces.
constexpr int64_t kMaxZChunk = int64_t(1) << 30;

int ZLevel(TZCompressionLevel level)
{
    switch (level) {
    case TZCompressionLevel::zcNone:
        return Z_NO_COMPRESSION;
    case TZCompressionLevel::zcFastest:
        return Z_BEST_SPEED;
    case TZCompressionLevel::zcDefault:
        return Z_DEFAULT_COMPRESSION;
    case TZCompressionLevel::zcMax:
        return Z_BEST_COMPRESSION;
    }
    return Z_DEFAULT_COMPRESSION;
}

// The stream's own message where zlib left one (it names the damage, e.g.
// "invalid block type"), else zlib's text for the code.
QString ZMessage(const z_stream &s, int code)
{
    if (s.msg && *s.msg)
        return QString::fromLatin1(s.msg);
    return QString::fromLatin1(zError(code));
}

[[noreturn]] void RaiseInvalidCompressionOp()
{
    throw EZCompressionError(Tr("Invalid ZStream operation!"));
}

[[noreturn]] void RaiseInvalidDecompressionOp()
{
    throw EZDecompressionError(Tr("Invalid ZStream operation!"));
}

} // namespace

// ---- Errors and CRC ----

QString ZLibErrorText(uint32_t ACode)
{
    return SystemErrorText(ACode);
}

// One class serves the copy threads' write streams too, whose messages are
// "System error: ..." lines.
EWriteFileStreamError::EWriteFileStreamError(int32_t ECode)
    : Exception(GuardedFormat(Tr(VL_TR_NOOP("System error: %s")), ZLibErrorText(uint32_t(ECode)))), FCode(ECode)
{
}

uint32_t UpdateCrc32(uint32_t ACrc, const void *Buffer, int64_t Length)
{
    // zlib answers 0 for a null buffer whatever the running value, so
    // empty input must not reach it.
    if (!Buffer || Length <= 0)
        return ACrc;
    return uint32_t(crc32_z(ACrc, static_cast<const Bytef *>(Buffer), z_size_t(Length)));
}

// ---- TCustomZStream ----

struct TCustomZStream::TZState {
    z_stream S{};
    bool Initialized = false;
};

TCustomZStream::TCustomZStream(TStream &AStream)
    : FStream(AStream), FZStream(std::make_unique<TZState>()), FBuffer(kBufferSize, Qt::Uninitialized)
{
    FStreamStartPos = FStream.Position();
    FStreamPos = FStreamStartPos;
}

TCustomZStream::~TCustomZStream() = default;

void TCustomZStream::Progress()
{
    if (OnProgress)
        OnProgress();
}

// ---- TZCompressionStream ----

TZCompressionStream::TZCompressionStream(TStream &dest)
    : TCustomZStream(dest)
{
    Init(TZCompressionLevel::zcDefault, 15);
}

TZCompressionStream::TZCompressionStream(TStream &dest, TZCompressionLevel compressionLevel, int32_t windowBits)
    : TCustomZStream(dest)
{
    Init(compressionLevel, windowBits);
}

TZCompressionStream::TZCompressionStream(TCompressionLevel compressionLevel, TStream &dest)
    : TCustomZStream(dest)
{
    Init(TZCompressionLevel(int(compressionLevel)), 15);
}

void TZCompressionStream::Init(TZCompressionLevel level, int32_t windowBits)
{
    z_stream &s = FZStream->S;
    s.next_out = reinterpret_cast<Bytef *>(FBuffer.data());
    s.avail_out = uInt(FBuffer.size());
    const int rc = deflateInit2(&s, ZLevel(level), Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK)
        throw EZCompressionError(ZMessage(s, rc));
    FZStream->Initialized = true;
}

TZCompressionStream::~TZCompressionStream()
{
    if (!FFinished) {
        // A destructor must not throw; whoever needs to know about a
        // failed final write calls Finish() first.
        try {
            Finish();
        } catch (...) {
        }
    }
    if (FZStream->Initialized) {
        deflateEnd(&FZStream->S);
        FZStream->Initialized = false;
    }
}

void TZCompressionStream::WriteBuffer(const char *Buffer, int32_t Count)
{
    if (Count <= 0)
        return;
    // Write streams of the copy threads raise EWriteFileStreamError
    // themselves; that passes through unchanged.
    const int64_t n = FStream.Write(Buffer, Count);
    if (n == Count)
        return;
    // A short write loses data just as a failed one does (a full disk
    // usually shows up as a short write first).
    const uint32_t code = FStream.LastError();
    if (code != 0)
        throw EWriteFileStreamError(int32_t(code));
    throw EWriteError(n < 0 ? Tr("Stream write error") : GuardedFormat(Tr("Stream write error: %d of %d bytes written"), n, Count));
}

int64_t TZCompressionStream::Write(const void *buffer, int64_t count)
{
    if (!FZStream->Initialized)
        RaiseInvalidCompressionOp();
    if (count <= 0)
        return 0;
    if (FStreamPos >= 0 && FStream.Position() != FStreamPos)
        FStream.Seek(FStreamPos, TSeekOrigin::soBeginning);

    z_stream &s = FZStream->S;
    const Bytef *in = static_cast<const Bytef *>(buffer);
    int64_t left = count;
    while (left > 0) {
        const int64_t piece = std::min(left, kMaxZChunk);
        s.next_in = const_cast<Bytef *>(in);
        s.avail_in = uInt(piece);
        while (s.avail_in > 0) {
            const int rc = deflate(&s, Z_NO_FLUSH);
            if (rc < 0 && rc != Z_BUF_ERROR)
                throw EZCompressionError(ZMessage(s, rc));
            if (s.avail_out == 0) {
                WriteBuffer(FBuffer.constData(), int32_t(FBuffer.size()));
                s.next_out = reinterpret_cast<Bytef *>(FBuffer.data());
                s.avail_out = uInt(FBuffer.size());
                if (FStreamPos >= 0)
                    FStreamPos += FBuffer.size();
                Progress();
            }
        }
        in += piece;
        left -= piece;
    }
    return count;
}

void TZCompressionStream::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    if (!FZStream->Initialized)
        return;
    z_stream &s = FZStream->S;
    struct TRelease {
        TZState &Z;
        ~TRelease()
        {
            deflateEnd(&Z.S);
            Z.Initialized = false;
        }
    } release{*FZStream};

    s.next_in = nullptr;
    s.avail_in = 0;
    if (FStreamPos >= 0 && FStream.Position() != FStreamPos)
        FStream.Seek(FStreamPos, TSeekOrigin::soBeginning);
    for (;;) {
        const int rc = deflate(&s, Z_FINISH);
        if (rc == Z_STREAM_END)
            break;
        if (rc < 0 && rc != Z_BUF_ERROR)
            throw EZCompressionError(ZMessage(s, rc));
        if (s.avail_out != 0) {
            // The buffer error with room left means zlib cannot go on.
            if (rc == Z_BUF_ERROR)
                throw EZCompressionError(ZMessage(s, rc));
            continue;
        }
        WriteBuffer(FBuffer.constData(), int32_t(FBuffer.size()));
        s.next_out = reinterpret_cast<Bytef *>(FBuffer.data());
        s.avail_out = uInt(FBuffer.size());
        if (FStreamPos >= 0)
            FStreamPos += FBuffer.size();
        Progress();
    }
    // The last partial block is as much part of the data as the others: a
    // failure here raises too, or the file would end cut off unnoticed.
    const int32_t rest = int32_t(FBuffer.size() - int64_t(s.avail_out));
    WriteBuffer(FBuffer.constData(), rest);
    if (FStreamPos >= 0)
        FStreamPos += rest;
    s.next_out = reinterpret_cast<Bytef *>(FBuffer.data());
    s.avail_out = uInt(FBuffer.size());
}

int64_t TZCompressionStream::Read(void *, int64_t)
{
    RaiseInvalidCompressionOp();
}

int64_t TZCompressionStream::Seek(int64_t offset, TSeekOrigin origin)
{
    if (offset == 0 && origin == TSeekOrigin::soCurrent)
        return int64_t(FZStream->S.total_in);
    RaiseInvalidCompressionOp();
}

int64_t TZCompressionStream::Size()
{
    RaiseInvalidCompressionOp();
}

bool TZCompressionStream::SetSize(int64_t)
{
    return false;
}

float TZCompressionStream::CompressionRate() const
{
    // deflateEnd leaves the totals alone, so this holds after Finish too.
    const z_stream &s = FZStream->S;
    if (s.total_in == 0)
        return 0;
    return float((1.0 - double(s.total_out) / double(s.total_in)) * 100.0);
}

// ---- TZDecompressionStream ----

TZDecompressionStream::TZDecompressionStream(TStream &source)
    : TCustomZStream(source)
{
    Init(15, 0);
}

TZDecompressionStream::TZDecompressionStream(TStream &source, int64_t ALength)
    : TCustomZStream(source)
{
    Init(15, ALength);
}

TZDecompressionStream::TZDecompressionStream(TStream &source, int32_t WindowBits, int64_t ALength)
    : TCustomZStream(source)
{
    Init(WindowBits, ALength);
}

void TZDecompressionStream::Init(int32_t windowBits, int64_t length)
{
    // Without a limit the source's own end stops the reading.
    FLimit = length > 0 ? length : INT64_MAX;
    SLength = FLimit;
    FWindowBits = windowBits;
    z_stream &s = FZStream->S;
    s.next_in = reinterpret_cast<Bytef *>(FBuffer.data());
    s.avail_in = 0;
    const int rc = inflateInit2(&s, windowBits);
    if (rc != Z_OK)
        throw EZDecompressionError(ZMessage(s, rc));
    FZStream->Initialized = true;
}

TZDecompressionStream::~TZDecompressionStream()
{
    if (FZStream->Initialized) {
        inflateEnd(&FZStream->S);
        FZStream->Initialized = false;
    }
}

int64_t TZDecompressionStream::Read(void *buffer, int64_t count)
{
    if (count <= 0 || FStreamEnd)
        return 0;
    if (FStreamPos >= 0 && FStream.Position() != FStreamPos)
        FStream.Seek(FStreamPos, TSeekOrigin::soBeginning);

    z_stream &s = FZStream->S;
    Bytef *out = static_cast<Bytef *>(buffer);
    int64_t produced = 0;
    bool sourceDry = false;
    while (produced < count && !FStreamEnd && !sourceDry) {
        const int64_t piece = std::min(count - produced, kMaxZChunk);
        s.next_out = out + produced;
        s.avail_out = uInt(piece);
        while (s.avail_out > 0) {
            if (s.avail_in == 0) {
                const int64_t n = std::min<int64_t>(kBufferSize, SLength);
                const int64_t got = n > 0 ? FStream.Read(FBuffer.data(), n) : 0;
                if (got < 0) {
                    const uint32_t code = FStream.LastError();
                    throw EReadError(code != 0 ? SystemErrorText(code) : Tr("Stream read error"));
                }
                if (got == 0) {
                    sourceDry = true;
                    break;
                }
                // Only what really came counts against the limit, so a short
                // read of a pipe does not cut the allowance.
                SLength -= got;
                s.next_in = reinterpret_cast<Bytef *>(FBuffer.data());
                s.avail_in = uInt(got);
                if (FStreamPos >= 0)
                    FStreamPos += got;
                Progress();
            }
            const int rc = inflate(&s, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                FStreamEnd = true;
                break;
            }
            // Z_NEED_DICT would return again without consuming anything.
            if (rc == Z_NEED_DICT || (rc < 0 && rc != Z_BUF_ERROR))
                throw EZDecompressionError(ZMessage(s, rc == Z_NEED_DICT ? Z_DATA_ERROR : rc));
        }
        produced += piece - s.avail_out;
    }

    if (FStreamEnd && s.avail_in > 0) {
        // Give back what was read beyond the deflate data, so the source
        // stands on the first byte after it (a trailer or the next entry).
        const int64_t back = s.avail_in;
        const int64_t pos = FStream.Seek(-back, TSeekOrigin::soCurrent);
        FStreamPos = pos;
        SLength += back;
        s.avail_in = 0;
    }
    return produced;
}

int64_t TZDecompressionStream::Write(const void *, int64_t)
{
    RaiseInvalidDecompressionOp();
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin)
{
    z_stream &s = FZStream->S;
    const int64_t current = int64_t(s.total_out);
    if (offset == 0 && origin == TSeekOrigin::soBeginning) {
        inflateReset(&s);
        s.next_in = reinterpret_cast<Bytef *>(FBuffer.data());
        s.avail_in = 0;
        FStream.Seek(FStreamStartPos, TSeekOrigin::soBeginning);
        FStreamPos = FStreamStartPos;
        SLength = FLimit;
        FStreamEnd = false;
        return 0;
    }
    if ((origin == TSeekOrigin::soCurrent && offset >= 0) || (origin == TSeekOrigin::soBeginning && offset >= current)) {
        int64_t skip = origin == TSeekOrigin::soCurrent ? offset : offset - current;
        char piece[kSkipSize];
        while (skip > 0) {
            const int64_t want = std::min<int64_t>(skip, kSkipSize);
            if (Read(piece, want) != want)
                throw EZDecompressionError(Tr("Stream read error"));
            skip -= want;
        }
        return int64_t(s.total_out);
    }
    if (offset == 0 && origin == TSeekOrigin::soEnd) {
        char piece[kSkipSize];
        while (Read(piece, kSkipSize) > 0) {
        }
        return int64_t(s.total_out);
    }
    RaiseInvalidDecompressionOp();
}

int64_t TZDecompressionStream::Size()
{
    // The inflated size is only known by inflating everything; the reading
    // position is restored afterwards.
    const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    if (pos != size) {
        Seek(0, TSeekOrigin::soBeginning);
        Seek(pos, TSeekOrigin::soBeginning);
    }
    return size;
}

bool TZDecompressionStream::SetSize(int64_t)
{
    return false;
}

} // namespace vl
