#include "engine/EncryptedFile.h"

#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "engine/Encryption.h"
#include "platform/SysErrors.h"

#include <algorithm>

namespace vl {

namespace {

constexpr int kEncHeaderSize = 10;
constexpr int kEncShortHeaderSize = 4;
constexpr uint8_t kEncFlagBase = 0x42;  // bits 1 and 6
constexpr uint8_t kEncFlagMask = 0xE6;  // bits that must match kEncFlagBase
constexpr uint8_t kEncFlagTimeAttr = 0x01;

bool HasEncMagic(const uint8_t *p)
{
    return p[0] == 'Q' && p[1] == 'V' && p[2] == 'E' && (p[3] & kEncFlagMask) == kEncFlagBase;
}

} // namespace

bool ReadEncHeader(TStream &AStream, uint8_t &AKeyMode, uint32_t &ATime, uint16_t &AAttr)
{
    ATime = 0;
    AAttr = 0xFFFF;
    AKeyMode = 0;
    const int64_t start = AStream.Position();
    if (start < 0)
        return false;
    uint8_t head[kEncHeaderSize];
    if (AStream.Read(head, kEncShortHeaderSize) != kEncShortHeaderSize)
        return false;
    if (!HasEncMagic(head)) {
        // A bare encryption frame: it starts at the first byte.
        return AStream.Seek(start, TSeekOrigin::soBeginning) == start;
    }
    AKeyMode = (head[3] >> 3) & 3;
    if (head[3] & kEncFlagTimeAttr) {
        if (AStream.Read(head + kEncShortHeaderSize, kEncHeaderSize - kEncShortHeaderSize)
            != kEncHeaderSize - kEncShortHeaderSize)
            return false;
        ATime = uint32_t(head[4]) | uint32_t(head[5]) << 8 | uint32_t(head[6]) << 16 | uint32_t(head[7]) << 24;
        AAttr = uint16_t(head[8] | head[9] << 8);
    }
    return true;
}

bool ReadEncFileInfo(const QString &AFileName, TGzFileInfo &AInfo)
{
    TExtFileStream stream(AFileName, kOpenReadShared);
    uint8_t keyMode = 0;
    uint32_t time = 0;
    uint16_t attr = 0;
    if (!ReadEncHeader(stream, keyMode, time, attr) || keyMode == 0)
        return false;
    // The data size follows from the header actually present (10 or 4
    // bytes); a file too short for the frame is no encrypted file.
    const int64_t usize = stream.Size() - stream.Position() - SaltLength(keyMode) - 2 - kAesTrailerSize;
    if (usize < 0)
        return false;
    AInfo.UnixTime = time;
    AInfo.Attr = attr;
    AInfo.USize = usize;
    return true;
}

// ---- TCopyThread: the encrypted-file form ----

int32_t TCopyThread::ReadEncKeyMode(TStream &AStream, TEncHeader &AHeader)
{
    uint8_t keyMode = 0;
    if (!ReadEncHeader(AStream, keyMode, AHeader.Time, AHeader.Attr))
        return feReadFile;
    if (keyMode != 0 && FCrypting)
        FCrypting->SetKeyMode(keyMode);
    return feOk;
}

int32_t TCopyThread::EncryptFile()
{
    if (!FCrypting)
        return feEncryption | ecError;
    int32_t result = OpenStreams();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    DoProgress(TFileAction::acEncrypt, -SourceFileData.FileSize, false);

    const int64_t seconds =
        SourceFileData.TimeStamps.Valid ? FileTimeToUnixSeconds(SourceFileData.TimeStamps.LastWriteTime) : 0;
    const uint32_t time = uint32_t(std::clamp<int64_t>(seconds, 0, 0xFFFFFFFFLL));
    const uint32_t attr = SourceFileData.FileAttr;
    const uint8_t header[kEncHeaderSize] = {
        'Q', 'V', 'E', uint8_t(kEncFlagBase + kEncFlagTimeAttr + 8 * FCrypting->KeyMode()),
        uint8_t(time), uint8_t(time >> 8), uint8_t(time >> 16), uint8_t(time >> 24),
        uint8_t(attr), uint8_t(attr >> 8)};
    try {
        if (sDest->Write(header, kEncHeaderSize) != kEncHeaderSize) {
            SetSysError(sDest->LastError());
            result = feLowDiskSpace | ecError;
        }
    } catch (const std::exception &e) {
        result = WriteErrorCode(e);
    }
    if (result == feOk && !FCrypting->WriteHeader(*sDest)) {
        const uint32_t error = sDest->LastError();
        SetSysError(error);
        result = error == ERROR_DISK_FULL ? feLowDiskSpace | ecError : feEncryption | ecError;
    }

    UTotal = 0;
    while (result == feOk) {
        int64_t n;
        if ((result = ReadBlock(*sSource, FBuffer.data(), FBufSize, false, n)) != feOk)
            break;
        UTotal += n;
        DoProgress(TFileAction::acEncrypt, UTotal, true);
        FCrypting->EncryptBlock(FBuffer.data(), n);
        if (Cancelled()) { // abandoned: no more writes
            result = feTerminated;
            break;
        }
        try {
            if (sDest->Write(FBuffer.constData(), n) != n) {
                SetSysError(sDest->LastError());
                result = feLowDiskSpace | ecError;
            }
        } catch (const std::exception &e) {
            result = WriteErrorCode(e, feEncryption | ecError);
        }
        if (result == feOk && IsCanceled())
            result = feTerminated;
        if (n < FBufSize)
            break;
    }
    if (result == feOk && !FCrypting->WriteTrailer(*sDest)) {
        const uint32_t error = sDest->LastError();
        SetSysError(error);
        result = error == ERROR_DISK_FULL ? feLowDiskSpace | ecError : feEncryption | ecError;
    }
    if (result == feOk && SourceFileData.FileSize != UTotal)
        result = feReadFile | ecError; // the file changed while it was read
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    CTotal = sDest->Position();
    return FinishDestFromSource(CopyStorage, CopyAltStreams, CopyPermissions);
}

int32_t TCopyThread::VerifyEncrypted()
{
    int32_t result = OpenForVerify(DestName);
    if (result != feOk)
        return result;
    DoProgress(TFileAction::acVerify, -UTotal, false);
    TEncHeader header;
    result = ReadEncKeyMode(*sDest, header);
    if (result == feOk && !FCrypting)
        result = feVerification | ecError;
    if (result == feOk) {
        const int64_t length = sDest->Size() - sDest->Position();
        const TOpResult r = FCrypting->DecryptStreamEx(*sDest, nullptr, length, true, [this] { return IsCanceled(); });
        if (r == TOpResult::orUserBreak)
            result = feTerminated;
        else if (r != TOpResult::orOk)
            result = feVerification | ecError;
    }
    ReleaseStreams();
    return result;
}

int32_t TCopyThread::DecryptFile()
{
    int32_t result = OpenSource();
    if (result != feOk)
        return result;
    DoProgress(TFileAction::acDecrypt, -SourceFileData.FileSize, true);
    TEncHeader header;
    result = ReadEncKeyMode(*sSource, header);
    // The password is checked before anything is created, so a wrong one
    // leaves an existing destination as it is.
    if (result == feOk)
        result = CheckBackupPassword(FCrypting, *sSource, 0, FSysErrMsg);
    if (result == feOk)
        result = CreateDest(SourceFileData.Mode);
    if (result == feOk) {
        const int64_t length = sSource->Size() - sSource->Position();
        const TOpResult r =
            FCrypting->DecryptStreamEx(*sSource, sDest.get(), length, true, [this] { return IsCanceled(); });
        if (r == TOpResult::orUserBreak) {
            result = feTerminated;
        } else if (r != TOpResult::orOk) {
            const uint32_t writeError = sDest->LastError();
            SetSysError(writeError);
            result = writeError == 0                ? feDecryption | ecError
                     : writeError == ERROR_DISK_FULL ? feLowDiskSpace | ecError
                                                     : feWriteFile | ecError;
        }
        UTotal = CTotal = sDest->Position();
    }
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    if (header.Time != 0)
        UnixSecondsToFileTime(header.Time, SourceFileData.TimeStamps.LastWriteTime);
    const uint16_t attr = header.Attr != 0xFFFF ? header.Attr : uint16_t(SourceFileData.FileAttr);
    return FinishDest(false, CopyAltStreams, attr, SourceFileData.TimeStamps, CopyPermissions);
}

// ---- TDecryptThread ----

TDecryptThread::TDecryptThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                               int32_t ABufSize, TThreadPriority APriority)
    : TCopyThread(ASourceName, ADestName, ABufSize, APriority)
{
    if (AEncryption) {
        AttachEncryption(AEncryption);
        FErrFlag = eoDecrypt;
    }
}

void TDecryptThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return FCrypting ? DecryptFile() : PlainCopy(); }));
}

} // namespace vl
