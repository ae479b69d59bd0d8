// The bytes of the zip files Velkor writes and the rules for reading them
// back: record layouts, signatures, flags, extra fields (zip64, AES 0x9901,
// encrypted name 0x9909), entry names and DOS times. All numbers are
// little-endian. The multi-entry writer and reader and the single-file zip
// of the per-file copy share these helpers.
#pragma once

#include "core/FileTimes.h"
#include "core/Stream.h"
#include "engine/ArchiveFiles.h"
#include "engine/ExtFileTools.h"
#include "engine/LittleEndian.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace vl {

class TEncryption;

// ---- Signatures and record sizes ----
inline constexpr uint32_t kZipLocalSignature = 0x04034B50;
inline constexpr uint32_t kZipCentralSignature = 0x02014B50;
inline constexpr uint32_t kZipEndSignature = 0x06054B50;
inline constexpr uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr uint32_t kZipSpanSignature = 0x08074B50; // start of a split archive

inline constexpr int kZipLocalHeaderSize = 30;
inline constexpr int kZipCentralHeaderSize = 46;
inline constexpr int kZipEndSize = 22;
inline constexpr int kZip64EndSize = 56;
inline constexpr int kZip64LocatorSize = 20;
inline constexpr uint64_t kZip64EndRemaining = 44; // "size of the remaining record"

// ---- General-purpose flags ----
inline constexpr uint16_t kZipFlagEncrypted = 0x0001;
inline constexpr uint16_t kZipFlagDeflated = 0x0002;     // unencrypted deflated entries only
inline constexpr uint16_t kZipFlagDescriptor = 0x0008;   // never written; sizes then from the central record
inline constexpr uint16_t kZipFlagSingleFile = 0x0080;   // single-file zip of the per-file copy
inline constexpr uint16_t kZipFlagEncryptedName = 0x0100;
inline constexpr uint16_t kZipFlagUtf8 = 0x0800;

// ---- Methods and versions ----
inline constexpr uint16_t kZipMethodStored = 0;
inline constexpr uint16_t kZipMethodDeflate = 8;
inline constexpr uint16_t kZipMethodAes = 99;
inline constexpr uint16_t kZipVersionDefault = 20;
inline constexpr uint16_t kZipVersionZip64 = 45;
inline constexpr uint16_t kZipVersionAes = 51;

// ---- Extra fields ----
inline constexpr uint16_t kZipExtraZip64 = 0x0001;
inline constexpr uint16_t kZipExtraAes = 0x9901;
inline constexpr uint16_t kZipExtraEncName = 0x9909;
inline constexpr uint16_t kZipAesVendor = 0x4541; // "AE"
inline constexpr int kZipAesExtraSize = 11;
inline constexpr int kZip64LocalExtraSize = 20;

// ---- Limits ----
// A file larger than this gets the local zip64 extra (a margin below 4 GiB,
// as deflate may grow the data).
inline constexpr int64_t kZip64LocalThreshold = 0xFF000000LL;
inline constexpr uint64_t kZip32Limit = 0x100000000ULL; // values from here go to zip64 fields
inline constexpr uint32_t kZipMax32 = 0xFFFFFFFFu;
inline constexpr uint16_t kZipMax16 = 0xFFFF;
inline constexpr int64_t kZipAe2Limit = 20;        // smaller encrypted files are AE-2 (no CRC)
inline constexpr int kZipEncNameMinLength = 31;   // name + filler of an encrypted name
// Longest stored name: the name and, for an encrypted name, its extra
// fields must fit the 16-bit length fields of the records.
inline constexpr int kZipMaxNameBytes = 0xFF00;
// Extraction of an encrypted entry: up to this compressed size the
// decrypted data is held in memory, else in TempDir + "encrypt.tmp".
inline constexpr int64_t kZipMemoryLimit = 1048576;

// ---- External attributes ----
inline constexpr uint16_t kZipAttrDirectory = 0x10;
inline constexpr uint16_t kZipAttrArchive = 0x20;

// ---- Records ----
struct TZipLocalHeader {
    uint16_t VersionNeeded = kZipVersionDefault;
    uint16_t Flags = 0;
    uint16_t Method = kZipMethodStored;
    uint32_t Time = 0; // DOS date and time
    uint32_t Crc = 0;
    uint32_t CSize = 0;
    uint32_t USize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;
};
// 30 bytes with signature.
QByteArray EncodeZipLocalHeader(const TZipLocalHeader &AHeader);
// False without the signature or with fewer than 30 bytes.
bool DecodeZipLocalHeader(const QByteArray &ABytes, TZipLocalHeader &AHeader);

struct TZipCentralHeader {
    uint16_t VersionMadeBy = kZipVersionDefault; // high byte 0
    uint16_t VersionNeeded = kZipVersionDefault;
    uint16_t Flags = 0;
    uint16_t Method = kZipMethodStored;
    uint32_t Time = 0;
    uint32_t Crc = 0;
    uint32_t CSize = 0;
    uint32_t USize = 0;
    uint16_t NameLength = 0;
    uint16_t ExtraLength = 0;
    uint16_t CommentLength = 0;
    uint16_t DiskStart = 0;
    uint16_t InternalAttr = 0;
    uint32_t ExternalAttr = 0; // low 16: attributes; high 16: mode (see MakeZipExternalAttr)
    uint32_t LocalOffset = 0;
};
// 46 bytes with signature.
QByteArray EncodeZipCentralHeader(const TZipCentralHeader &AHeader);
bool DecodeZipCentralHeader(const QByteArray &ABytes, TZipCentralHeader &AHeader);

struct TZipEndRecord {
    uint16_t DiskNumber = 0;
    uint16_t CentralDisk = 0;
    uint16_t DiskEntries = 0;
    uint16_t TotalEntries = 0;
    uint32_t CentralSize = 0;
    uint32_t CentralOffset = 0;
    uint16_t CommentLength = 0;
};
// 22 bytes with signature.
QByteArray EncodeZipEndRecord(const TZipEndRecord &ARecord);
bool DecodeZipEndRecord(const QByteArray &ABytes, TZipEndRecord &ARecord);
// The end record asks for the zip64 records (offset or size 0xFFFFFFFF, count 0xFFFF).
bool ZipEndNeedsZip64(const TZipEndRecord &ARecord);

struct TZip64EndRecord {
    uint64_t Remaining = kZip64EndRemaining;
    uint16_t VersionMadeBy = kZipVersionZip64;
    uint16_t VersionNeeded = kZipVersionZip64;
    uint32_t DiskNumber = 0;
    uint32_t CentralDisk = 0;
    uint64_t DiskEntries = 0;
    uint64_t TotalEntries = 0;
    uint64_t CentralSize = 0;
    uint64_t CentralOffset = 0;
};
// 56 bytes with signature.
QByteArray EncodeZip64EndRecord(const TZip64EndRecord &ARecord);
bool DecodeZip64EndRecord(const QByteArray &ABytes, TZip64EndRecord &ARecord);

struct TZip64Locator {
    uint32_t EndDisk = 0;
    uint64_t EndOffset = 0;
    uint32_t TotalDisks = 1;
};
// 20 bytes with signature.
QByteArray EncodeZip64Locator(const TZip64Locator &ALocator);
bool DecodeZip64Locator(const QByteArray &ABytes, TZip64Locator &ALocator);

// The directory as the end records describe it (zip64 values applied).
struct TZipDirectoryInfo {
    uint32_t DiskNumber = 0;  // index of the last segment
    uint32_t CentralDisk = 0;
    uint64_t DiskEntries = 0;
    uint64_t TotalEntries = 0;
    uint64_t CentralSize = 0;
    uint64_t CentralOffset = 0;
    bool Zip64 = false;
    int64_t EndOffset = 0;    // position of the end record in the stream
};
// Reads the end record from the last 22 bytes of the stream and, when it
// asks for them, the zip64 locator and end record (within the same
// stream). False when a signature is missing or the stream is too short.
// The stream position is undefined afterwards.
bool ReadZipDirectoryInfo(TStream &AStream, TZipDirectoryInfo &AInfo);

// ---- Extra fields ----
struct TZipExtraField {
    uint16_t Id = 0;
    QByteArray Data;
};
// Splits an extra area into its fields; false when a field overruns the
// area (the fields before it are kept).
bool ParseZipExtraFields(const QByteArray &AExtra, std::vector<TZipExtraField> &AFields);
// The data of the first field with AId; false when there is none.
bool FindZipExtraField(const QByteArray &AExtra, uint16_t AId, QByteArray &AData);
// 4-byte field header + data.
QByteArray MakeZipExtraField(uint16_t AId, const QByteArray &AData);

// The AES extra field (0x9901, 11 bytes).
struct TPKExtraEncField {
    uint16_t Tag = kZipExtraAes;
    uint16_t ESize = 7;
    uint16_t Version = 1;  // 1 AE-1, 2 AE-2
    uint16_t Vendor = kZipAesVendor;
    uint8_t Mode = 3;      // AES strength: 1 AES-128, 2 AES-192, 3 AES-256
    uint16_t Method = kZipMethodDeflate; // the actual method
};
QByteArray EncodeAesExtra(const TPKExtraEncField &AField);
// From the field's data (7 bytes, after ID and size); false when short or
// not "AE" or the strength is not 1..3.
bool DecodeAesExtraData(const QByteArray &AData, TPKExtraEncField &AField);
// The AES extra of an encrypted file of ASize bytes.
TPKExtraEncField MakeAesExtraFor(int64_t ASize, int32_t AKeyMode);
// AE-2 for files smaller than 20 bytes.
inline uint16_t ZipAesVersionFor(int64_t ASize) { return ASize < kZipAe2Limit ? 2 : 1; }

// Local zip64 extra: ID 1, size 16, both sizes (20 bytes).
QByteArray MakeZip64LocalExtra(uint64_t AUSize, uint64_t ACSize);
// Central zip64 extra holding exactly the values that are 2^32 or more, in
// the order uncompressed, compressed, offset; empty when none is.
QByteArray MakeZip64CentralExtra(uint64_t AUSize, uint64_t ACSize, uint64_t AOffset);
// Applies a zip64 extra's data: each value whose 32-bit field is
// 0xFFFFFFFF is taken from the data in the order above while data remains.
// False when a needed value is missing.
bool ApplyZip64ExtraData(const QByteArray &AData, uint32_t AUSize32, uint32_t ACSize32, uint32_t AOffset32,
                         uint64_t &AUSize, uint64_t &ACSize, uint64_t &AOffset);
// 32-bit field of a 64-bit value: the value, or 0xFFFFFFFF from 2^32 on.
inline uint32_t ZipField32(uint64_t AValue) { return AValue >= kZip32Limit ? kZipMax32 : uint32_t(AValue); }

// ---- Encrypted names ----
// The name field of an entry with an encrypted name: its 1-based number
// as 8 uppercase hexadecimal digits ("0000000A").
QByteArray ZipEncNamePlaceholder(int64_t AIndex);
// Plaintext of an encrypted name: 2-byte length, the name, and filler of
// random characters 33..96 up to 31 bytes.
QByteArray MakeEncNamePlain(const QByteArray &AName);
// The name from such a plaintext; false when the length does not fit.
bool ParseEncNamePlain(const QByteArray &APlain, QByteArray &AName);
// The data of the 0x9909 extra: the AES stream (salt, verifier, data,
// authentication code) over MakeEncNamePlain. False when encrypting failed.
bool EncryptZipEntryName(TEncryption &AEncryption, const QByteArray &AName, QByteArray &AEnciphered);
// The stored name bytes back from the 0x9909 data (the encryption's key
// mode must be the archive's); false with a wrong password or damaged data.
bool DecryptZipEntryName(TEncryption &AEncryption, const QByteArray &AEnciphered, QByteArray &AName);
// Length of the 0x9909 data for a name of ANameLength bytes.
int ZipEncNameDataSize(int32_t AKeyMode, int ANameLength);

// ---- Entry names ----
// The relative path (with "/" separators, as the file system gives it) in
// the form stored in the name field: "/" becomes "\"; CP437 when every
// character fits it (AUtf8 false), raw file-name bytes without the UTF-8
// flag when the name is not valid UTF-8, else UTF-8 (AUtf8 true). False
// when a name part itself contains "\" (it would read back as a folder)
// or the name is longer than kZipMaxNameBytes: AError says so.
bool EncodeZipName(const QString &ARelPath, QByteArray &ABytes, bool &AUtf8, QString &AError);
// A stream entry's name: always the OEM form ("\" kept; characters
// without an equivalent become what the table gives).
QByteArray EncodeZipStreamName(const QString &AName);
// The stored bytes back to text with "\" separators: UTF-8 flag: the
// lossless file-name mapping; else CP437 when the bytes are what
// EncodeZipName makes of a CP437 name, otherwise the raw file-name bytes.
QString DecodeZipName(const QByteArray &ABytes, bool AUtf8);
// "\" (and "/") separators to the "/" of file paths.
QString ZipNameToPath(const QString &AName);

// ---- Directories and attributes ----
// An entry is a directory when its attributes say so (0x10) or its name
// ends in a separator; an empty file is never taken for one.
bool IsZipDirectoryEntry(uint32_t AExternalAttr, const QString &AName);
bool IsZipDirectoryEntry(uint32_t AExternalAttr, const QByteArray &ARawName);
// Low 16 bits: the file attributes; high 16 bits: file type and mode bits
// (S_IFREG/S_IFDIR | AMode & 07777).
uint32_t MakeZipExternalAttr(uint16_t AAttr, uint32_t AMode, bool ADirectory);
// The mode bits (07777) kept in the high 16 bits; false when none are kept
// (entries of other programs, stream entries).
bool ZipExternalMode(uint32_t AExternalAttr, uint32_t &AMode);

// ---- DOS times (local time, 2-second steps) ----
// A file time (UTC) as a DOS time of the local clock; the first DOS day
// (1980-01-01) when not representable.
uint32_t FileTimeToZipTime(TFileTime AFileTime);
// The current time as a DOS time (stream entries).
uint32_t NowZipTime();
// A DOS time back to a UTC file time; false for an invalid date.
bool ZipTimeToFileTime(uint32_t ADosTime, TFileTime &AFileTime);
// A DOS time as Unix seconds.
uint32_t ZipTimeToUnixSeconds(uint32_t ADosTime);

// ---- Reading local headers with their extras ----
// The local header at the stream's position with its name and extra
// bytes; the stream then stands at the first data byte. False when short
// or without signature. The encrypted-name extra a central record of a
// directory lacks is found here.
bool ReadZipLocalRecord(TStream &AStream, TZipLocalHeader &AHeader, QByteArray &AName, QByteArray &AExtra);

// ---- Restore of a single-file zip ----
class TUnZipThread : public TCopyThread {
public:
    // AEncryption (owned by the caller) or null. ErrorType 0x3000.
    TUnZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption, int32_t ABufSize,
                 TThreadPriority APriority = TThreadPriority::tpNormal);

protected:
    void Execute() override;
    int32_t UnzipFile();
};

// Passes at most ALimit bytes on to the target (none: only counts) and
// counts, and drops, the rest: data that unpacks to more than its entry says
// is damaged or hostile, and must not fill the disk or memory before the
// size check shows that. Size() is everything written to it.
class TEntrySizeCap : public TStream {
public:
    TEntrySizeCap(TStream *ATarget, int64_t ALimit) : FTarget(ATarget), FLimit(ALimit) {}
    TEntrySizeCap(TStream &ATarget, int64_t ALimit) : TEntrySizeCap(&ATarget, ALimit) {}
    int64_t Read(void *, int64_t) override { return -1; }
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        return origin == TSeekOrigin::soCurrent && offset == 0 ? FWritten : -1;
    }
    int64_t Size() override { return FWritten; }
    bool SetSize(int64_t) override { return false; }
    uint32_t LastError() const override { return FTarget ? FTarget->LastError() : 0; }

private:
    TStream *FTarget;
    int64_t FLimit;
    int64_t FWritten = 0;
};

} // namespace vl
