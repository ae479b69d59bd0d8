#include "engine/GzipThread.h"

#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "engine/Encryption.h"
#include "engine/LittleEndian.h"
#include "platform/FileNames.h"
#include "platform/SysErrors.h"

#include <algorithm>
#include <cstring>

namespace vl {

namespace {

constexpr uint8_t kGzId1 = 0x1F;
constexpr uint8_t kGzId2 = 0x8B;
constexpr uint8_t kGzDeflate = 8;
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagEncrypted = 0x20;
constexpr uint8_t kOsLatin1 = 0;
constexpr uint8_t kOsUtf8 = 11;
constexpr int kSizesFieldLength = 16;
constexpr int64_t kSizesOffset = 16; // the two sizes inside subfield 1
// Names are kept up to this length; a longer one (never written by us) is
// skipped to its end so the data still starts at the right byte.
constexpr int kMaxNameBytes = 65536;
// A restore decrypts a .gze file of up to this size in memory.
constexpr int64_t kRestoreMemoryLimit = 1048576;

bool ReadExact(TStream &AStream, void *ABuffer, int64_t ACount)
{
    return AStream.Read(ABuffer, ACount) == ACount;
}

// Reads up to and including the next 0 byte; the bytes before it go to
// AText (at most kMaxNameBytes of them). False at the end of the stream.
bool ReadZeroTerminated(TStream &AStream, QByteArray *AText)
{
    char chunk[512];
    for (;;) {
        const int64_t start = AStream.Position();
        const int64_t n = AStream.Read(chunk, sizeof(chunk));
        if (n <= 0 || start < 0)
            return false;
        const void *zero = std::memchr(chunk, 0, size_t(n));
        const int64_t take = zero ? static_cast<const char *>(zero) - chunk : n;
        if (AText && AText->size() < kMaxNameBytes)
            AText->append(chunk, qsizetype(std::min<int64_t>(take, kMaxNameBytes - AText->size())));
        if (zero)
            return AStream.Seek(start + take + 1, TSeekOrigin::soBeginning) == start + take + 1;
    }
}

uint32_t ClampUnixSeconds(int64_t ASeconds)
{
    return uint32_t(std::clamp<int64_t>(ASeconds, 0, 0xFFFFFFFFLL));
}

} // namespace

QByteArray EncodeGzName(const QString &AName, uint8_t &AOs)
{
    const bool latin1 = std::all_of(AName.begin(), AName.end(), [](QChar c) { return c.unicode() < 0x100; });
    QByteArray bytes = latin1 ? AName.toLatin1() : EncodeFileName(AName);
    AOs = latin1 ? kOsLatin1 : kOsUtf8;
    // A 0 byte would end the name field early.
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return bytes;
}

QString DecodeGzName(const QByteArray &ABytes, uint8_t AOs)
{
    // Names of OS 11 are file-name bytes (UTF-8, or raw bytes that are not
    // valid UTF-8): decoded losslessly so a restore gets the same name.
    return AOs == kOsLatin1 ? QString::fromLatin1(ABytes) : DecodeFileName(ABytes);
}

int32_t ReadGzHeaderEx(TStream &AStream, TGzHeader &AHeader)
{
    AHeader = TGzHeader();
    uint8_t fixed[10];
    if (!ReadExact(AStream, fixed, sizeof(fixed)))
        return feReadFile;
    if (fixed[0] != kGzId1 || fixed[1] != kGzId2)
        return feIllegalHeader;
    const uint8_t flags = fixed[3];
    AHeader.Time = GetLe32(fixed + 4);
    AHeader.Os = fixed[9];
    int32_t keyMode = 0;
    if (flags & kFlagExtra) {
        uint8_t xlen[2];
        if (!ReadExact(AStream, xlen, 2))
            return feReadFile;
        QByteArray extra(qsizetype(GetLe16(xlen)), '\0');
        if (!ReadExact(AStream, extra.data(), extra.size()))
            return feReadFile;
        // Subfields: ID (2), length (2), data. Their lengths are checked
        // against the field, so a foreign or damaged field never reads
        // beyond it.
        const auto *p = reinterpret_cast<const uint8_t *>(extra.constData());
        qsizetype pos = 0;
        while (extra.size() - pos >= 4) {
            const uint8_t si1 = p[pos], si2 = p[pos + 1];
            const qsizetype len = GetLe16(p + pos + 2);
            pos += 4;
            if (len > extra.size() - pos)
                break;
            if (si1 == 1 && si2 == 0 && len >= kSizesFieldLength) {
                AHeader.CSize = int64_t(GetLe64(p + pos));
                AHeader.USize = int64_t(GetLe64(p + pos + 8));
                AHeader.HasSizes = true;
            } else if (si1 == 'Q' && si2 == 'V' && len >= 2) {
                keyMode = int32_t(GetLe16(p + pos));
            }
            pos += len;
        }
    }
    if (flags & kFlagName) {
        if (!ReadZeroTerminated(AStream, &AHeader.NameBytes))
            return feReadFile;
    }
    if (flags & kFlagComment) {
        if (!ReadZeroTerminated(AStream, nullptr))
            return feReadFile;
    }
    if (flags & kFlagHeaderCrc) {
        uint8_t crc[2];
        if (!ReadExact(AStream, crc, 2))
            return feReadFile;
    }
    if (flags & kFlagEncrypted) {
        // An encrypted member without a usable key mode cannot be read.
        if (keyMode < 1 || keyMode > 3)
            return feIllegalHeader;
        AHeader.KeyMode = keyMode;
    } else {
        AHeader.KeyMode = -1;
    }
    if (AHeader.HasSizes && (AHeader.CSize < 0 || AHeader.USize < 0))
        return feIllegalHeader;
    AHeader.Name = DecodeGzName(AHeader.NameBytes, AHeader.Os);

    const int64_t pos = AStream.Position();
    const int64_t size = AStream.Size();
    if (pos < 0 || size < 0)
        return feReadFile;
    if (size - pos < 8) // no room for the trailer: truncated
        return feReadFile;
    if (AHeader.CSize == 0)
        AHeader.CSize = size - pos - 8;
    if (AHeader.USize == 0) {
        uint8_t isize[4];
        if (AStream.Seek(size - 4, TSeekOrigin::soBeginning) != size - 4 || !ReadExact(AStream, isize, 4))
            return feReadFile;
        AHeader.USize = GetLe32(isize);
        if (AStream.Seek(pos, TSeekOrigin::soBeginning) != pos)
            return feReadFile;
    }
    return feOk;
}

int32_t ReadGzHeader(TStream &AStream, QString &AName, uint32_t &ATime, int32_t &AKeyMode, int64_t &ACSize,
                     int64_t &AUSize)
{
    TGzHeader header;
    const int32_t result = ReadGzHeaderEx(AStream, header);
    AName = header.Name;
    ATime = header.Time;
    AKeyMode = header.KeyMode;
    ACSize = header.CSize;
    AUSize = header.USize;
    return result;
}

bool ReadGzStreamInfo(TStream &AStream, TGzFileInfo &AInfo)
{
    AInfo.Count = 1;
    AInfo.Attr = 0xFFFF;
    if (ReadGzHeader(AStream, AInfo.Filename, AInfo.UnixTime, AInfo.EncMode, AInfo.CSize, AInfo.USize) != feOk)
        return false;
    AInfo.Encrypted = AInfo.EncMode >= 0;
    return true;
}

bool ReadGzFileInfo(const QString &AFileName, TGzFileInfo &AInfo)
{
    TExtFileStream stream(AFileName, kOpenReadShared);
    if (!ReadGzStreamInfo(stream, AInfo))
        return false;
    AInfo.Attr = uint16_t(XlFileGetAttr(AFileName, false));
    return true;
}

int32_t RunThreadBody(TCopyThread &AThread, QString &AMessage, const std::function<int32_t()> &ABody)
{
    try {
        return ABody();
    } catch (const Exception &e) {
        AMessage = e.Message();
    } catch (const std::exception &e) {
        AMessage = QString::fromUtf8(e.what());
    }
    AThread.ReleaseStreams();
    return feWriteFile | ecError;
}

int32_t OpenReadShared(const QString &AName, std::unique_ptr<TStream> &AStream, QString &AMessage)
{
    try {
        AStream = std::make_unique<TExtFileStream>(AName, kOpenReadShared);
    } catch (const EExtFileStreamError &e) {
        AMessage = e.Message();
        return feOpenFile | ecError;
    }
    return feOk;
}

int32_t CheckBackupPassword(TEncryption *AEncryption, TStream &AStream, int32_t AKeyMode, QString &AMessage)
{
    if (!AEncryption) {
        AMessage = Tr("The file is encrypted and no password was given.");
        return feDecryption | ecError;
    }
    if (AKeyMode > 0)
        AEncryption->SetKeyMode(AKeyMode);
    const int64_t pos = AStream.Position();
    const bool ok = AEncryption->ReadHeader(AStream);
    if (pos < 0 || AStream.Seek(pos, TSeekOrigin::soBeginning) != pos)
        return feReadFile | ecError;
    return ok ? feOk : feDecryption | ecError;
}

// ---- TGZipThread ----

TGZipThread::TGZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                         int32_t ABufSize, TThreadPriority APriority)
    : TCopyThread(ASourceName, ADestName, ABufSize, APriority), Filename(LastPathElement(ASourceName))
{
    FCompress = true;
    if (AEncryption)
        AttachEncryption(AEncryption);
    FErrFlag = eoGzip;
}

void TGZipThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] {
        int32_t result = GzipFile();
        // A warning (metadata not applied) still has the data in place.
        if (FVerify && (result == feOk || ErrorClass(result) == ecWarning)) {
            const int32_t verified = VerifyGzip();
            if (verified != feOk)
                result = verified;
        }
        return result;
    }));
}

int32_t TGZipThread::WriteGzHeader(TStream &AStream, const QString &AName, int32_t AKeyMode, uint32_t ATime)
{
    uint8_t os = kOsLatin1;
    const QByteArray name = EncodeGzName(AName, os);
    const bool encrypted = AKeyMode >= 0;
    uint8_t header[38] = {};
    header[0] = kGzId1;
    header[1] = kGzId2;
    header[2] = kGzDeflate;
    header[3] = uint8_t(kFlagExtra | (name.isEmpty() ? 0 : kFlagName) | (encrypted ? kFlagEncrypted : 0));
    PutLe32(header + 4, ATime);
    header[8] = 0;
    header[9] = os;
    PutLe16(header + 10, encrypted ? 26 : 20);
    header[12] = 1; // subfield 1: the sizes, filled in by WriteGzTrailer
    header[13] = 0;
    PutLe16(header + 14, kSizesFieldLength);
    if (encrypted) {
        header[32] = 'Q';
        header[33] = 'V';
        PutLe16(header + 34, 2);
        PutLe16(header + 36, uint32_t(AKeyMode));
    }
    QByteArray all(reinterpret_cast<const char *>(header), encrypted ? 38 : 32);
    if (!name.isEmpty()) {
        all.append(name);
        all.append('\0');
    }
    try {
        if (AStream.Write(all.constData(), all.size()) != all.size()) {
            SetSysError(AStream.LastError());
            return feLowDiskSpace | ecError;
        }
    } catch (const std::exception &e) {
        return WriteErrorCode(e);
    }
    return feOk;
}

int32_t TGZipThread::WriteGzTrailer(TStream &AStream, uint32_t ACrc)
{
    uint8_t trailer[8];
    PutLe32(trailer, ACrc);
    PutLe32(trailer + 4, uint32_t(uint64_t(UTotal)));
    uint8_t sizes[16];
    PutLe64(sizes, uint64_t(CTotal));
    PutLe64(sizes + 8, uint64_t(UTotal));
    try {
        if (AStream.Write(trailer, 8) != 8) {
            SetSysError(AStream.LastError());
            return feLowDiskSpace | ecError;
        }
        const int64_t end = AStream.Position();
        if (AStream.Seek(kSizesOffset, TSeekOrigin::soBeginning) != kSizesOffset
            || AStream.Write(sizes, 16) != 16 || AStream.Seek(end, TSeekOrigin::soBeginning) != end) {
            SetSysError(AStream.LastError());
            return feWriteFile | ecError;
        }
    } catch (const std::exception &e) {
        return WriteErrorCode(e);
    }
    return feOk;
}

namespace {

int32_t EncryptionFailure(TOpResult AResult, int32_t AError)
{
    return AResult == TOpResult::orUserBreak ? feTerminated : AError;
}

} // namespace

int32_t TGZipThread::GzipFile()
{
    int32_t result = OpenStreams();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    const bool encrypted = FCrypting != nullptr;
    const uint32_t time =
        SourceFileData.TimeStamps.Valid ? ClampUnixSeconds(FileTimeToUnixSeconds(SourceFileData.TimeStamps.LastWriteTime))
                                        : 0;
    result = WriteGzHeader(*sDest, Filename, encrypted ? FCrypting->KeyMode() : -1, time);
    const int64_t dataStart = sDest->Position();

    std::unique_ptr<TStream> temp;
    QString tempName;
    TStream *target = sDest.get();
    if (result == feOk && encrypted) {
        result = CreateTempStream(QStringLiteral("encrypt.tmp"), SourceFileData.FileSize, kTempFileThreshold, temp,
                                  tempName);
        target = temp.get();
    }
    if (result == feOk) {
        DoProgress(TFileAction::acCompress, -SourceFileData.FileSize, false);
        result = DeflateStream(*sSource, *target, !encrypted);
    }
    if (result == feOk && SourceFileData.FileSize != UTotal) {
        // The file changed while it was read.
        SetSysError(sSource->LastError());
        result = feReadFile | ecError;
    }
    if (result == feOk && encrypted) {
        DoProgress(TFileAction::acEncrypt, -temp->Size(), false);
        temp->SetPosition(0);
        const TOpResult r = FCrypting->EncryptStreamEx(*temp, *sDest, true, [this] { return IsCanceled(); });
        if (r != TOpResult::orOk) {
            const uint32_t writeError = sDest->LastError();
            result = EncryptionFailure(r, writeError == ERROR_DISK_FULL ? feLowDiskSpace | ecError : feEncryption | ecError);
            SetSysError(writeError);
        }
    }
    if (result == feOk) {
        CTotal = sDest->Position() - dataStart;
        result = WriteGzTrailer(*sDest, encrypted ? 0 : FCrc);
    }
    if (temp)
        FreeTempStream(temp, tempName);
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    return FinishDestFromSource(CopyStorage, CopyAltStreams, CopyPermissions);
}

int32_t TGZipThread::VerifyGzip()
{
    int32_t result = OpenForVerify(DestName);
    if (result != feOk)
        return result;
    const uint32_t writtenCrc = FCrc;
    // The ratio stays that of the written data.
    const int64_t writtenU = UTotal, writtenC = CTotal;
    TGzHeader header;
    result = ReadGzHeaderEx(*sDest, header);
    // The readers take the sizes from the header: they must be the ones written.
    if (result == feOk && (!header.HasSizes || header.CSize != writtenC || header.USize != writtenU))
        result = feVerification | ecError;
    if (result == feOk) {
        FCrc = 0;
        UTotal = 0;
        if (header.KeyMode < 0) {
            DoProgress(TFileAction::acVerify, -header.USize, false);
            result = InflateToTrailer(*sDest, nullptr, true);
            // Data that no longer inflates failed the verification as well,
            // and so does a trailer that a restore would reject.
            uint8_t trailer[8];
            if (result == (feReadFile | ecError)
                || (result == feOk
                    && (FCrc != writtenCrc || UTotal != writtenU || !ReadExact(*sDest, trailer, 8)
                        || GetLe32(trailer) != writtenCrc || GetLe32(trailer + 4) != uint32_t(uint64_t(writtenU)))))
                result = feVerification | ecError;
        } else if (!FCrypting) {
            result = feVerification | ecError;
        } else {
            DoProgress(TFileAction::acVerify, -header.CSize, false);
            FCrypting->SetKeyMode(header.KeyMode);
            const int64_t length = sDest->Size() - sDest->Position() - 8;
            const TOpResult r =
                FCrypting->DecryptStreamEx(*sDest, nullptr, length, true, [this] { return IsCanceled(); });
            if (r != TOpResult::orOk)
                result = EncryptionFailure(r, feVerification | ecError);
        }
    }
    FCrc = writtenCrc;
    UTotal = writtenU;
    CTotal = writtenC;
    ReleaseStreams();
    return result;
}

int32_t TGZipThread::CompressToDest(TStream &ASource, bool ACompress)
{
    const int64_t start = sDest->Position();
    const int64_t size = ASource.Size();
    int32_t result = feOk;
    const auto cancel = [this] { return IsCanceled(); };
    if (FCrypting) {
        if (size > 0 && ACompress) {
            DoProgress(TFileAction::acCompress, -size, false);
            std::unique_ptr<TStream> temp;
            QString tempName;
            result = CreateTempStream(QStringLiteral("encrypt.tmp"), size, kTempFileThreshold, temp, tempName);
            if (result == feOk)
                result = DeflateStream(ASource, *temp, false);
            if (result == feOk && size != UTotal) {
                SetSysError(ASource.LastError());
                result = feReadFile | ecError;
            }
            if (result == feOk) {
                DoProgress(TFileAction::acEncrypt, -temp->Size(), false);
                temp->SetPosition(0);
                const TOpResult r = FCrypting->EncryptStreamEx(*temp, *sDest, true, cancel);
                if (r != TOpResult::orOk)
                    result = EncryptionFailure(r, feEncryption | ecError);
            }
            if (temp)
                FreeTempStream(temp, tempName);
        } else {
            UTotal = size;
            DoProgress(TFileAction::acEncrypt, -size, false);
            const TOpResult r = FCrypting->EncryptStreamEx(ASource, *sDest, true, cancel);
            if (r != TOpResult::orOk)
                result = EncryptionFailure(r, feEncryption | ecError);
        }
        if (result != feOk && result != feTerminated && sDest->LastError() == ERROR_DISK_FULL) {
            SetSysError(ERROR_DISK_FULL);
            result = feLowDiskSpace | ecError;
        }
    } else {
        if (size > 0 && ACompress) {
            DoProgress(TFileAction::acCompress, -size, false);
            result = DeflateStream(ASource, *sDest, true);
        } else {
            DoProgress(TFileAction::acCopy, -size, false);
            result = CopyBlocks(ASource, sDest.get(), true, size);
        }
        if (result == feOk && size != UTotal) {
            SetSysError(ASource.LastError());
            result = feReadFile | ecError;
        }
    }
    CTotal = sDest->Position() - start;
    return result;
}

// ---- TGUnZipThread ----

TGUnZipThread::TGUnZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                             int32_t ABufSize, TThreadPriority APriority)
    : TCopyThread(ASourceName, ADestName, ABufSize, APriority)
{
    if (AEncryption)
        AttachEncryption(AEncryption);
    FErrFlag = eoGunzip;
}

void TGUnZipThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return GunzipFile(); }));
}

int32_t TGUnZipThread::GunzipFile()
{
    int32_t result = OpenSource();
    if (result != feOk)
        return result;
    TGzHeader header;
    if (result == feOk)
        result = ReadGzHeaderEx(*sSource, header);
    const bool encrypted = header.KeyMode >= 0;
    // The password is checked before anything is created, so a wrong one
    // leaves an existing destination as it is.
    if (result == feOk && encrypted)
        result = CheckBackupPassword(FCrypting, *sSource, header.KeyMode, FSysErrMsg);
    if (result == feOk)
        result = CreateDest(SourceFileData.Mode);
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }

    const int64_t dataStart = sSource->Position();
    if (!encrypted) {
        DoProgress(TFileAction::acUnCompress, -header.USize, false);
        result = InflateToTrailer(*sSource, sDest.get(), true);
        if (result == feOk) {
            CTotal = sSource->Position() - dataStart;
            // Without our sizes subfield (a member written by another
            // program) only ISIZE, the size modulo 2^32, is known.
            result = CheckGzTrailer(*sSource, header.HasSizes ? header.USize : UTotal);
        }
    } else {
        const int64_t fileSize = sSource->Size();
        DoProgress(TFileAction::acDecrypt, -fileSize, false);
        std::unique_ptr<TStream> temp;
        QString tempName;
        result = CreateTempStream(QStringLiteral("encrypt.tmp"), fileSize, kRestoreMemoryLimit, temp, tempName);
        const int64_t length = fileSize - dataStart - 8;
        if (result == feOk) {
            const TOpResult r =
                FCrypting->DecryptStreamEx(*sSource, temp.get(), length, true, [this] { return IsCanceled(); });
            if (r != TOpResult::orOk) {
                result = EncryptionFailure(r, feDecryption | ecError);
                if (r == TOpResult::orError && temp->LastError() != 0) {
                    SetSysError(temp->LastError());
                    result = temp->LastError() == ERROR_DISK_FULL ? feLowDiskSpace | ecError : feWriteFile | ecError;
                }
            }
        }
        if (result == feOk) {
            CTotal = length;
            DoProgress(TFileAction::acUnCompress, -length, false);
            temp->SetPosition(0);
            const int64_t tempSize = temp->Size();
            // An empty deflate stream still has two bytes: nothing to
            // inflate means damaged data.
            result = tempSize > 0 ? InflateStream(*temp, sDest.get(), false, tempSize) : feCorruptFile | ecError;
            // No CRC for encrypted data: the length must match the header.
            if (result == feOk && UTotal != header.USize)
                result = feCorruptFile | ecError;
        }
        if (temp)
            FreeTempStream(temp, tempName);
    }
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    if (header.Time != 0)
        UnixSecondsToFileTime(header.Time, SourceFileData.TimeStamps.LastWriteTime);
    return FinishDest(false, false, uint16_t(SourceFileData.FileAttr), SourceFileData.TimeStamps, CopyPermissions);
}

int32_t TGUnZipThread::ReadGzSizes(TStream &AStream, int32_t &AKeyMode, int64_t &ACSize, int64_t &AUSize)
{
    TGzHeader header;
    const int32_t result = ReadGzHeaderEx(AStream, header);
    AKeyMode = header.KeyMode;
    ACSize = header.CSize;
    AUSize = header.USize;
    return result;
}

int32_t TGUnZipThread::CheckGzTrailer(TStream &AStream, int64_t AUSize)
{
    uint8_t trailer[8];
    if (!ReadExact(AStream, trailer, 8)) {
        SetSysError(AStream.LastError());
        return feReadFile | ecError;
    }
    if (GetLe32(trailer) != FCrc || GetLe32(trailer + 4) != uint32_t(uint64_t(AUSize)) || UTotal != AUSize)
        return feCorruptFile | ecError;
    return feOk;
}

} // namespace vl
