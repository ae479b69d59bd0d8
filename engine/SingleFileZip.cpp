// The single-file zip of the per-file copy: one source file per zip,
// marked by flag bit 7, written by TGZipThread::ZipFile, read back by
// VerifyZipFile, ExtractZipEntry (restore and comparison) and TUnZipThread.
#include "engine/ZipFormat.h"

#include "core/Translate.h"
#include "engine/Encryption.h"
#include "engine/GzipThread.h"
#include "platform/SysErrors.h"

#include <algorithm>

namespace vl {

namespace {

int32_t CipherFailure(TOpResult AResult, int32_t AError)
{
    return AResult == TOpResult::orUserBreak ? feTerminated : AError;
}

} // namespace

int32_t TGZipThread::ZipFile(bool ACompress)
{
    const bool encrypted = FCrypting != nullptr;
    // Encrypted data is always deflated first.
    const bool compress = ACompress || encrypted;
    const int64_t size = sSource->Size();
    const bool zip64 = size > kZip64LocalThreshold;
    const bool ae2 = encrypted && ZipAesVersionFor(size) == 2;

    QByteArray name;
    bool utf8 = false;
    QString nameError;
    if (!EncodeZipName(SourceFileData.FileName, name, utf8, nameError)) {
        FSysErrMsg = nameError;
        return feUnsupportedFormat | ecError;
    }

    TZipLocalHeader local;
    local.VersionNeeded = encrypted ? kZipVersionAes : zip64 ? kZipVersionZip64 : kZipVersionDefault;
    local.Flags = kZipFlagSingleFile;
    if (utf8)
        local.Flags |= kZipFlagUtf8;
    if (encrypted) {
        local.Flags |= kZipFlagEncrypted;
        local.Method = kZipMethodAes;
    } else if (compress && size > 0) {
        local.Flags |= kZipFlagDeflated;
        local.Method = kZipMethodDeflate;
    } else {
        local.Method = kZipMethodStored;
    }
    local.Time = SourceFileData.TimeStamps.Valid ? FileTimeToZipTime(SourceFileData.TimeStamps.LastWriteTime)
                                                 : NowZipTime();
    local.CSize = local.USize = zip64 ? kZipMax32 : 0;
    local.NameLength = uint16_t(name.size());
    QByteArray extra;
    if (zip64)
        extra.append(MakeZip64LocalExtra(0, 0));
    QByteArray aesExtra;
    if (encrypted)
        aesExtra = EncodeAesExtra(MakeAesExtraFor(size, FCrypting->KeyMode()));
    extra.append(aesExtra);
    local.ExtraLength = uint16_t(extra.size());

    // Writes that fail or fall short (full disk) end the zip.
    int32_t result = feOk;
    const auto put = [this, &result](const QByteArray &ABytes) {
        if (result != feOk)
            return;
        try {
            if (sDest->Write(ABytes.constData(), ABytes.size()) != ABytes.size()) {
                const uint32_t code = sDest->LastError() ? sDest->LastError() : uint32_t(ERROR_DISK_FULL);
                SetSysError(code);
                result = (code == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
            }
        } catch (const std::exception &e) {
            result = WriteErrorCode(e);
        }
    };
    const auto seek = [this, &result](int64_t APos) {
        if (result != feOk)
            return;
        try {
            sDest->SetPosition(APos);
        } catch (const std::exception &e) {
            result = WriteErrorCode(e);
        }
    };

    put(EncodeZipLocalHeader(local));
    put(name);
    put(extra);
    if (result != feOk)
        return result;

    FCrc = 0;
    UTotal = 0;
    result = CompressToDest(*sSource, compress);
    if (result != feOk)
        return result;
    const uint32_t crc = ae2 ? 0 : FCrc;
    const uint64_t usize = uint64_t(UTotal), csize = uint64_t(CTotal);
    if (!zip64 && (usize >= kZip32Limit || csize >= kZip32Limit)) {
        // The file grew past the 32-bit fields while it was read.
        FSysErrMsg = Tr(VL_TR_NOOP("The file changed while it was read."));
        return feReadFile | ecError;
    }
    const int64_t end = sDest->Position();
    if (!ae2) {
        seek(14);
        put(LeBytes32(crc));
    }
    if (zip64) {
        seek(kZipLocalHeaderSize + name.size() + 4);
        put(LeBytes64(usize) + LeBytes64(csize));
    } else {
        seek(18);
        put(LeBytes32(uint32_t(csize)) + LeBytes32(uint32_t(usize)));
    }
    seek(end);

    TZipCentralHeader central;
    central.VersionMadeBy = central.VersionNeeded = local.VersionNeeded;
    central.Flags = local.Flags;
    central.Method = local.Method;
    central.Time = local.Time;
    central.Crc = crc;
    central.CSize = zip64 ? ZipField32(csize) : uint32_t(csize);
    central.USize = zip64 ? ZipField32(usize) : uint32_t(usize);
    central.NameLength = local.NameLength;
    QByteArray centralExtra;
    if (zip64) {
        // The field is written whenever the local header has one, holding
        // only the sizes that need it (possibly none).
        QByteArray data;
        if (usize >= kZip32Limit)
            data.append(LeBytes64(usize));
        if (csize >= kZip32Limit)
            data.append(LeBytes64(csize));
        centralExtra = MakeZipExtraField(kZipExtraZip64, data);
    }
    centralExtra.append(aesExtra);
    central.ExtraLength = uint16_t(centralExtra.size());
    central.ExternalAttr = MakeZipExternalAttr(uint16_t(SourceFileData.FileAttr), SourceFileData.Mode, false);
    central.LocalOffset = 0;
    put(EncodeZipCentralHeader(central));
    put(name);
    put(centralExtra);

    const uint64_t centralSize = kZipCentralHeaderSize + uint64_t(name.size()) + uint64_t(centralExtra.size());
    const uint64_t afterCentral = uint64_t(end) + centralSize;
    const bool zip64End = afterCentral >= kZip32Limit;
    if (zip64End) {
        TZip64EndRecord end64;
        end64.DiskEntries = end64.TotalEntries = 1;
        end64.CentralSize = centralSize;
        end64.CentralOffset = uint64_t(end);
        put(EncodeZip64EndRecord(end64));
        TZip64Locator locator;
        locator.EndOffset = afterCentral;
        put(EncodeZip64Locator(locator));
    }
    TZipEndRecord endRecord;
    endRecord.DiskEntries = endRecord.TotalEntries = 1;
    endRecord.CentralSize = zip64End ? ZipField32(centralSize) : uint32_t(centralSize);
    endRecord.CentralOffset = zip64End ? kZipMax32 : uint32_t(end);
    put(EncodeZipEndRecord(endRecord));
    return result;
}

int32_t TGZipThread::VerifyZipFile()
{
    int32_t result = OpenForVerify(DestName);
    if (result != feOk)
        return result;
    const uint32_t writtenCrc = FCrc;
    const int64_t writtenU = UTotal, writtenC = CTotal;
    TZipFileInfo info;
    // The restore recognises the zip by its single entry.
    if (ReadZipEntryCount(*sDest) != 1 || !ReadZipLocalHeader(*sDest, info)) {
        ReleaseStreams();
        return feIllegalHeader;
    }
    const bool encrypted = (info.Flag & kZipFlagEncrypted) != 0;
    // The readers take the sizes from the header: they must be the ones written.
    if (info.CSize != writtenC || info.USize != writtenU || encrypted != (FCrypting != nullptr))
        result = feVerification | ecError;
    FCrc = 0;
    UTotal = 0;
    if (result == feOk && encrypted) {
        DoProgress(TFileAction::acVerify, -info.CSize, false);
        FCrypting->SetKeyMode(info.KeyMode);
        const TOpResult r =
            FCrypting->DecryptStreamEx(*sDest, nullptr, info.CSize, true, [this] { return IsCanceled(); });
        if (r != TOpResult::orOk)
            result = CipherFailure(r, feVerification | ecError);
    } else if (result == feOk) {
        DoProgress(TFileAction::acVerify, -info.USize, false);
        if (info.Method == kZipMethodDeflate)
            result = InflateStream(*sDest, nullptr, true, info.CSize);
        else
            result = CopyBlocks(*sDest, nullptr, true, info.CSize);
        if (result != feOk && result != feTerminated)
            result = feVerification | ecError;
        if (result == feOk && (FCrc != info.Crc || UTotal != info.USize))
            result = feVerification | ecError;
    }
    FCrc = writtenCrc;
    UTotal = writtenU;
    CTotal = writtenC;
    ReleaseStreams();
    return result;
}

int32_t TCopyThread::ExtractZipEntry(TStream &ASource, TStream &ADest)
{
    uint32_t time = 0;
    return ExtractZipEntry(ASource, ADest, time);
}

int32_t TCopyThread::ExtractZipEntry(TStream &ASource, TStream &ADest, uint32_t &ATime)
{
    TZipFileInfo info;
    if (!ReadZipLocalHeader(ASource, info))
        return feIllegalHeader;
    ATime = ZipTimeToUnixSeconds(info.TimeStamp);
    FCrc = 0;
    UTotal = 0;
    CTotal = 0;
    const auto unsupported = [this]() {
        FSysErrMsg = Tr(VL_TR_NOOP("The zip entry uses a method or form that is not supported."));
        return feUnsupportedFormat | ecError;
    };
    // Sizes after the data (bit 3) are never written by us; the local
    // header would claim an empty entry.
    if (info.Flag & kZipFlagDescriptor)
        return unsupported();

    if (info.Flag & kZipFlagEncrypted) {
        if (info.Method != kZipMethodAes || info.KeyMode < 1 || info.KeyMode > 3
            || (info.AesMethod != kZipMethodDeflate && info.AesMethod != kZipMethodStored))
            return unsupported();
        if (!FCrypting) {
            FSysErrMsg = Tr(VL_TR_NOOP("The file is encrypted and no password was given."));
            return feDecryption | ecError;
        }
        FCrypting->SetKeyMode(info.KeyMode);
        DoProgress(TFileAction::acDecrypt, -info.CSize, false);
        std::unique_ptr<TStream> temp;
        QString tempName;
        int32_t result = CreateTempStream(QStringLiteral("encrypt.tmp"), info.CSize, kZipMemoryLimit, temp, tempName);
        if (result == feOk) {
            const TOpResult r =
                FCrypting->DecryptStreamEx(ASource, temp.get(), info.CSize, true, [this] { return IsCanceled(); });
            if (r != TOpResult::orOk) {
                result = CipherFailure(r, feDecryption | ecError);
                if (r == TOpResult::orError && temp->LastError() != 0) {
                    SetSysError(temp->LastError());
                    result = (temp->LastError() == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
                }
            }
        }
        if (result == feOk) {
            const int64_t tempSize = temp->Size();
            DoProgress(TFileAction::acUnCompress, -tempSize, false);
            temp->SetPosition(0);
            TEntrySizeCap capped(ADest, info.USize);
            if (info.AesMethod == kZipMethodDeflate)
                result = InflateStream(*temp, &capped, false, tempSize);
            else
                result = CopyBlocks(*temp, &capped, false, tempSize);
            if (result == (feReadFile | ecError))
                result = feCorruptFile | ecError;
            // The authentication code covers the data; AE-1 keeps a CRC and
            // every entry its size, which must agree as well.
            if (result == feOk && (UTotal != info.USize || (info.AesVersion == 1 && FCrc != info.Crc)))
                result = feReadFile | ecError;
        }
        CTotal = info.CSize;
        if (temp)
            FreeTempStream(temp, tempName);
        return result;
    }

    if (info.Method != kZipMethodDeflate && info.Method != kZipMethodStored)
        return unsupported();
    DoProgress(TFileAction::acUnCompress, -info.USize, false);
    int32_t result;
    TEntrySizeCap capped(ADest, info.USize);
    if (info.Method == kZipMethodDeflate)
        result = InflateStream(ASource, &capped, true, info.CSize);
    else
        result = CopyBlocks(ASource, &capped, true, info.CSize);
    CTotal = info.CSize;
    if (result == feOk && (FCrc != info.Crc || UTotal != info.USize))
        result = feReadFile | ecError;
    return result;
}

// ---- TUnZipThread ----

TUnZipThread::TUnZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                           int32_t ABufSize, TThreadPriority APriority)
    : TCopyThread(ASourceName, ADestName, ABufSize, APriority)
{
    if (AEncryption)
        AttachEncryption(AEncryption);
    FErrFlag = eoGunzip;
}

void TUnZipThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return UnzipFile(); }));
}

int32_t TUnZipThread::UnzipFile()
{
    int32_t result = OpenSource();
    if (result == feOk) {
        // The password is checked before anything is created, so a wrong
        // one leaves an existing destination as it is.
        TZipFileInfo info;
        if (!ReadZipLocalHeader(*sSource, info))
            result = feIllegalHeader;
        else if ((info.Flag & kZipFlagEncrypted) && info.KeyMode >= 1 && info.KeyMode <= 3)
            result = CheckBackupPassword(FCrypting, *sSource, info.KeyMode, FSysErrMsg);
    }
    if (result == feOk) {
        sSource->SetPosition(0);
        // The backup file carries the source's mode bits.
        result = CreateDest(SourceFileData.Mode);
    }
    if (result == feOk)
        result = ExtractZipEntry(*sSource, *sDest);
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    return FinishDest(false, false, uint16_t(SourceFileData.FileAttr), SourceFileData.TimeStamps, CopyPermissions);
}

} // namespace vl
