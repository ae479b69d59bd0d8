#include "engine/ZipFormat.h"

#include "core/Translate.h"
#include "engine/Encryption.h"
#include "platform/FileNames.h"

#include <QRandomGenerator>

#include <sys/stat.h>

#include <cstring>

namespace vl {

namespace {

} // namespace

// ---- Records ----

QByteArray EncodeZipLocalHeader(const TZipLocalHeader &h)
{
    QByteArray b;
    b.reserve(kZipLocalHeaderSize);
    PutLe32(b, kZipLocalSignature);
    PutLe16(b, h.VersionNeeded);
    PutLe16(b, h.Flags);
    PutLe16(b, h.Method);
    PutLe32(b, h.Time);
    PutLe32(b, h.Crc);
    PutLe32(b, h.CSize);
    PutLe32(b, h.USize);
    PutLe16(b, h.NameLength);
    PutLe16(b, h.ExtraLength);
    return b;
}

bool DecodeZipLocalHeader(const QByteArray &b, TZipLocalHeader &h)
{
    if (b.size() < kZipLocalHeaderSize || Le32(b, 0) != kZipLocalSignature)
        return false;
    h.VersionNeeded = Le16(b, 4);
    h.Flags = Le16(b, 6);
    h.Method = Le16(b, 8);
    h.Time = Le32(b, 10);
    h.Crc = Le32(b, 14);
    h.CSize = Le32(b, 18);
    h.USize = Le32(b, 22);
    h.NameLength = Le16(b, 26);
    h.ExtraLength = Le16(b, 28);
    return true;
}

QByteArray EncodeZipCentralHeader(const TZipCentralHeader &h)
{
    QByteArray b;
    b.reserve(kZipCentralHeaderSize);
    PutLe32(b, kZipCentralSignature);
    PutLe16(b, h.VersionMadeBy);
    PutLe16(b, h.VersionNeeded);
    PutLe16(b, h.Flags);
    PutLe16(b, h.Method);
    PutLe32(b, h.Time);
    PutLe32(b, h.Crc);
    PutLe32(b, h.CSize);
    PutLe32(b, h.USize);
    PutLe16(b, h.NameLength);
    PutLe16(b, h.ExtraLength);
    PutLe16(b, h.CommentLength);
    PutLe16(b, h.DiskStart);
    PutLe16(b, h.InternalAttr);
    PutLe32(b, h.ExternalAttr);
    PutLe32(b, h.LocalOffset);
    return b;
}

bool DecodeZipCentralHeader(const QByteArray &b, TZipCentralHeader &h)
{
    if (b.size() < kZipCentralHeaderSize || Le32(b, 0) != kZipCentralSignature)
        return false;
    h.VersionMadeBy = Le16(b, 4);
    h.VersionNeeded = Le16(b, 6);
    h.Flags = Le16(b, 8);
    h.Method = Le16(b, 10);
    h.Time = Le32(b, 12);
    h.Crc = Le32(b, 16);
    h.CSize = Le32(b, 20);
    h.USize = Le32(b, 24);
    h.NameLength = Le16(b, 28);
    h.ExtraLength = Le16(b, 30);
    h.CommentLength = Le16(b, 32);
    h.DiskStart = Le16(b, 34);
    h.InternalAttr = Le16(b, 36);
    h.ExternalAttr = Le32(b, 38);
    h.LocalOffset = Le32(b, 42);
    return true;
}

QByteArray EncodeZipEndRecord(const TZipEndRecord &r)
{
    QByteArray b;
    b.reserve(kZipEndSize);
    PutLe32(b, kZipEndSignature);
    PutLe16(b, r.DiskNumber);
    PutLe16(b, r.CentralDisk);
    PutLe16(b, r.DiskEntries);
    PutLe16(b, r.TotalEntries);
    PutLe32(b, r.CentralSize);
    PutLe32(b, r.CentralOffset);
    PutLe16(b, r.CommentLength);
    return b;
}

bool DecodeZipEndRecord(const QByteArray &b, TZipEndRecord &r)
{
    if (b.size() < kZipEndSize || Le32(b, 0) != kZipEndSignature)
        return false;
    r.DiskNumber = Le16(b, 4);
    r.CentralDisk = Le16(b, 6);
    r.DiskEntries = Le16(b, 8);
    r.TotalEntries = Le16(b, 10);
    r.CentralSize = Le32(b, 12);
    r.CentralOffset = Le32(b, 16);
    r.CommentLength = Le16(b, 20);
    return true;
}

bool ZipEndNeedsZip64(const TZipEndRecord &r)
{
    return r.CentralOffset == kZipMax32 || r.CentralSize == kZipMax32 || r.TotalEntries == kZipMax16;
}

QByteArray EncodeZip64EndRecord(const TZip64EndRecord &r)
{
    QByteArray b;
    b.reserve(kZip64EndSize);
    PutLe32(b, kZip64EndSignature);
    PutLe64(b, r.Remaining);
    PutLe16(b, r.VersionMadeBy);
    PutLe16(b, r.VersionNeeded);
    PutLe32(b, r.DiskNumber);
    PutLe32(b, r.CentralDisk);
    PutLe64(b, r.DiskEntries);
    PutLe64(b, r.TotalEntries);
    PutLe64(b, r.CentralSize);
    PutLe64(b, r.CentralOffset);
    return b;
}

bool DecodeZip64EndRecord(const QByteArray &b, TZip64EndRecord &r)
{
    if (b.size() < kZip64EndSize || Le32(b, 0) != kZip64EndSignature)
        return false;
    r.Remaining = Le64(b, 4);
    r.VersionMadeBy = Le16(b, 12);
    r.VersionNeeded = Le16(b, 14);
    r.DiskNumber = Le32(b, 16);
    r.CentralDisk = Le32(b, 20);
    r.DiskEntries = Le64(b, 24);
    r.TotalEntries = Le64(b, 32);
    r.CentralSize = Le64(b, 40);
    r.CentralOffset = Le64(b, 48);
    return true;
}

QByteArray EncodeZip64Locator(const TZip64Locator &l)
{
    QByteArray b;
    b.reserve(kZip64LocatorSize);
    PutLe32(b, kZip64LocatorSignature);
    PutLe32(b, l.EndDisk);
    PutLe64(b, l.EndOffset);
    PutLe32(b, l.TotalDisks);
    return b;
}

bool DecodeZip64Locator(const QByteArray &b, TZip64Locator &l)
{
    if (b.size() < kZip64LocatorSize || Le32(b, 0) != kZip64LocatorSignature)
        return false;
    l.EndDisk = Le32(b, 4);
    l.EndOffset = Le64(b, 8);
    l.TotalDisks = Le32(b, 16);
    return true;
}

bool ReadZipDirectoryInfo(TStream &AStream, TZipDirectoryInfo &AInfo)
{
    AInfo = TZipDirectoryInfo();
    try {
        const int64_t size = AStream.Size();
        if (size < kZipEndSize)
            return false;
        QByteArray b;
        AStream.SetPosition(size - kZipEndSize);
        TZipEndRecord end;
        if (!ReadExact(AStream, b, kZipEndSize) || !DecodeZipEndRecord(b, end))
            return false;
        AInfo.EndOffset = size - kZipEndSize;
        AInfo.DiskNumber = end.DiskNumber;
        AInfo.CentralDisk = end.CentralDisk;
        AInfo.DiskEntries = end.DiskEntries;
        AInfo.TotalEntries = end.TotalEntries;
        AInfo.CentralSize = end.CentralSize;
        AInfo.CentralOffset = end.CentralOffset;
        if (!ZipEndNeedsZip64(end))
            return true;
        if (AInfo.EndOffset < kZip64LocatorSize)
            return false;
        AStream.SetPosition(AInfo.EndOffset - kZip64LocatorSize);
        TZip64Locator locator;
        if (!ReadExact(AStream, b, kZip64LocatorSize) || !DecodeZip64Locator(b, locator))
            return false;
        if (locator.EndOffset > uint64_t(AInfo.EndOffset - kZip64LocatorSize)
            || AInfo.EndOffset - kZip64LocatorSize - int64_t(locator.EndOffset) < kZip64EndSize)
            return false;
        AStream.SetPosition(int64_t(locator.EndOffset));
        TZip64EndRecord end64;
        if (!ReadExact(AStream, b, kZip64EndSize) || !DecodeZip64EndRecord(b, end64))
            return false;
        AInfo.Zip64 = true;
        AInfo.DiskNumber = end64.DiskNumber;
        AInfo.CentralDisk = end64.CentralDisk;
        AInfo.DiskEntries = end64.DiskEntries;
        AInfo.TotalEntries = end64.TotalEntries;
        AInfo.CentralSize = end64.CentralSize;
        AInfo.CentralOffset = end64.CentralOffset;
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// ---- Extra fields ----

bool ParseZipExtraFields(const QByteArray &AExtra, std::vector<TZipExtraField> &AFields)
{
    AFields.clear();
    int pos = 0;
    while (pos + 4 <= AExtra.size()) {
        TZipExtraField f;
        f.Id = Le16(AExtra, pos);
        const int len = Le16(AExtra, pos + 2);
        if (pos + 4 + len > AExtra.size())
            return false;
        f.Data = AExtra.mid(pos + 4, len);
        AFields.push_back(f);
        pos += 4 + len;
    }
    return pos == AExtra.size();
}

bool FindZipExtraField(const QByteArray &AExtra, uint16_t AId, QByteArray &AData)
{
    std::vector<TZipExtraField> fields;
    ParseZipExtraFields(AExtra, fields);
    for (const auto &f : fields) {
        if (f.Id == AId) {
            AData = f.Data;
            return true;
        }
    }
    AData.clear();
    return false;
}

QByteArray MakeZipExtraField(uint16_t AId, const QByteArray &AData)
{
    QByteArray b;
    PutLe16(b, AId);
    PutLe16(b, uint32_t(AData.size()));
    b.append(AData);
    return b;
}

QByteArray EncodeAesExtra(const TPKExtraEncField &f)
{
    QByteArray b;
    b.reserve(kZipAesExtraSize);
    PutLe16(b, f.Tag);
    PutLe16(b, f.ESize);
    PutLe16(b, f.Version);
    PutLe16(b, f.Vendor);
    b.append(char(f.Mode));
    PutLe16(b, f.Method);
    return b;
}

bool DecodeAesExtraData(const QByteArray &AData, TPKExtraEncField &f)
{
    if (AData.size() < 7)
        return false;
    f.Tag = kZipExtraAes;
    f.ESize = uint16_t(AData.size());
    f.Version = Le16(AData, 0);
    f.Vendor = Le16(AData, 2);
    f.Mode = uint8_t(AData[4]);
    f.Method = Le16(AData, 5);
    return f.Vendor == kZipAesVendor && f.Mode >= 1 && f.Mode <= 3;
}

TPKExtraEncField MakeAesExtraFor(int64_t ASize, int32_t AKeyMode)
{
    TPKExtraEncField f;
    f.Version = ZipAesVersionFor(ASize);
    f.Mode = uint8_t(AKeyMode);
    f.Method = ASize > 0 ? kZipMethodDeflate : kZipMethodStored;
    return f;
}

QByteArray MakeZip64LocalExtra(uint64_t AUSize, uint64_t ACSize)
{
    QByteArray d;
    PutLe64(d, AUSize);
    PutLe64(d, ACSize);
    return MakeZipExtraField(kZipExtraZip64, d);
}

QByteArray MakeZip64CentralExtra(uint64_t AUSize, uint64_t ACSize, uint64_t AOffset)
{
    QByteArray d;
    for (uint64_t v : {AUSize, ACSize, AOffset})
        if (v >= kZip32Limit)
            PutLe64(d, v);
    return d.isEmpty() ? QByteArray() : MakeZipExtraField(kZipExtraZip64, d);
}

bool ApplyZip64ExtraData(const QByteArray &AData, uint32_t AUSize32, uint32_t ACSize32, uint32_t AOffset32,
                         uint64_t &AUSize, uint64_t &ACSize, uint64_t &AOffset)
{
    AUSize = AUSize32;
    ACSize = ACSize32;
    AOffset = AOffset32;
    int pos = 0;
    bool complete = true;
    const auto take = [&](uint32_t field, uint64_t &value) {
        if (field != kZipMax32)
            return;
        if (pos + 8 <= AData.size()) {
            value = Le64(AData, pos);
            pos += 8;
        } else {
            complete = false;
        }
    };
    take(AUSize32, AUSize);
    take(ACSize32, ACSize);
    take(AOffset32, AOffset);
    return complete;
}

// ---- Encrypted names ----

QByteArray ZipEncNamePlaceholder(int64_t AIndex)
{
    return QByteArray::number(qulonglong(AIndex) & 0xFFFFFFFFULL, 16).toUpper().rightJustified(8, '0');
}

QByteArray MakeEncNamePlain(const QByteArray &AName)
{
    QByteArray b;
    PutLe16(b, uint32_t(AName.size()));
    b.append(AName);
    while (b.size() < 2 + kZipEncNameMinLength)
        b.append(char(33 + QRandomGenerator::system()->bounded(64)));
    return b;
}

bool ParseEncNamePlain(const QByteArray &APlain, QByteArray &AName)
{
    if (APlain.size() < 2)
        return false;
    const int len = Le16(APlain, 0);
    if (len == 0 || 2 + len > APlain.size())
        return false;
    AName = APlain.mid(2, len);
    return true;
}

bool EncryptZipEntryName(TEncryption &AEncryption, const QByteArray &AName, QByteArray &AEnciphered)
{
    TMemoryStream plain(MakeEncNamePlain(AName)), out;
    if (AEncryption.EncryptStreamEx(plain, out, false, TStatusEvent()) != TOpResult::orOk)
        return false;
    AEnciphered = out.Data();
    return true;
}

bool DecryptZipEntryName(TEncryption &AEncryption, const QByteArray &AEnciphered, QByteArray &AName)
{
    TMemoryStream in(AEnciphered), out;
    if (AEncryption.DecryptStreamEx(in, &out, AEnciphered.size(), false, TStatusEvent()) != TOpResult::orOk)
        return false;
    return ParseEncNamePlain(out.Data(), AName);
}

int ZipEncNameDataSize(int32_t AKeyMode, int ANameLength)
{
    return SaltLength(AKeyMode) + 2 + 2 + std::max(ANameLength, kZipEncNameMinLength) + kAesTrailerSize;
}

// ---- Entry names ----

namespace {

const QChar kBackslash(u'\\');

// Whether a name without the UTF-8 flag would be read as CP437: every byte
// above 0x7F maps to a character and back.
bool ReadsBackAsOem(const QByteArray &ABytes)
{
    for (char c : ABytes)
        if (uint8_t(c) >= 0x80 && !IsOemNameByte(uint8_t(c)))
            return false;
    return true;
}
const QChar kSlash(u'/');

} // namespace

bool EncodeZipName(const QString &ARelPath, QByteArray &ABytes, bool &AUtf8, QString &AError)
{
    AError.clear();
    ABytes.clear();
    AUtf8 = false;
    if (ARelPath.contains(kBackslash)) {
        AError = Tr(VL_TR_NOOP("The name \"%1\" contains \"\\\", which zip archives use as the folder separator; "
                               "it cannot be stored in a zip archive."))
                     .arg(ARelPath);
        return false;
    }
    QString name = ARelPath;
    name.replace(kSlash, kBackslash);
    // UTF-8 is the longest form the name can take.
    if (EncodeFileName(name).size() > kZipMaxNameBytes) {
        AError = Tr(VL_TR_NOOP("The name \"%1\" is too long to be stored in a zip archive.")).arg(ARelPath);
        return false;
    }
    // Control characters 0x14 and 0x15 share their CP437 bytes with the
    // pilcrow and section signs, so such names go to UTF-8.
    const bool controlClash = name.contains(QChar(0x14)) || name.contains(QChar(0x15));
    if (NameFitsOem(name) && !controlClash) {
        ABytes = AnsiToOemName(name.toLatin1());
        return true;
    }
    ABytes = EncodeFileName(name);
    if (HasEscapedBytes(name)) {
        // Not UTF-8: the raw bytes, unless they would read back as CP437;
        // then the UTF-8 flag, whose decoding keeps the bytes as they are.
        AUtf8 = ReadsBackAsOem(ABytes);
        return true;
    }
    AUtf8 = true;
    return true;
}

QByteArray EncodeZipStreamName(const QString &AName)
{
    QByteArray latin;
    latin.reserve(AName.size());
    for (QChar c : AName)
        latin.append(c.unicode() < 0x100 ? char(c.unicode()) : '_');
    return AnsiToOemName(latin);
}

QString DecodeZipName(const QByteArray &ABytes, bool AUtf8)
{
    QString result;
    if (AUtf8) {
        result = DecodeFileName(ABytes);
    } else {
        result = ReadsBackAsOem(ABytes) ? QString::fromLatin1(OemToAnsiName(ABytes)) : DecodeFileName(ABytes);
    }
    result.replace(kSlash, kBackslash);
    return result;
}

QString ZipNameToPath(const QString &AName)
{
    QString s = AName;
    s.replace(kBackslash, kSlash);
    return s;
}

// ---- Directories and attributes ----

bool IsZipDirectoryEntry(uint32_t AExternalAttr, const QString &AName)
{
    return (AExternalAttr & kZipAttrDirectory) != 0 || AName.endsWith(kBackslash) || AName.endsWith(kSlash);
}

bool IsZipDirectoryEntry(uint32_t AExternalAttr, const QByteArray &ARawName)
{
    return (AExternalAttr & kZipAttrDirectory) != 0 || ARawName.endsWith('\\') || ARawName.endsWith('/');
}

uint32_t MakeZipExternalAttr(uint16_t AAttr, uint32_t AMode, bool ADirectory)
{
    const uint32_t type = ADirectory ? S_IFDIR : S_IFREG;
    return uint32_t(AAttr) | ((type | (AMode & 07777)) & 0xFFFF) << 16;
}

bool ZipExternalMode(uint32_t AExternalAttr, uint32_t &AMode)
{
    const uint32_t high = AExternalAttr >> 16;
    const uint32_t type = high & S_IFMT;
    if (type != S_IFREG && type != S_IFDIR)
        return false;
    AMode = high & 07777;
    return true;
}

// ---- DOS times ----

uint32_t FileTimeToZipTime(TFileTime AFileTime)
{
    const int32_t dos = FileTimeToLocalFileDate(AFileTime);
    // Times before 1980 (or unreadable) become the earliest DOS time.
    return dos == -1 || dos == 0 ? 0x00210000u : uint32_t(dos);
}

uint32_t NowZipTime()
{
    return FileTimeToZipTime(NowFileTime());
}

bool ZipTimeToFileTime(uint32_t ADosTime, TFileTime &AFileTime)
{
    const uint32_t unix = FileDateToUnixSeconds(ADosTime);
    if (unix == 0)
        return false;
    UnixSecondsToFileTime(unix, AFileTime);
    return true;
}

uint32_t ZipTimeToUnixSeconds(uint32_t ADosTime)
{
    return FileDateToUnixSeconds(ADosTime);
}

// ---- Local records ----

bool ReadZipLocalRecord(TStream &AStream, TZipLocalHeader &AHeader, QByteArray &AName, QByteArray &AExtra)
{
    try {
        QByteArray b;
        if (!ReadExact(AStream, b, kZipLocalHeaderSize) || !DecodeZipLocalHeader(b, AHeader))
            return false;
        if (!ReadExact(AStream, AName, AHeader.NameLength))
            return false;
        return ReadExact(AStream, AExtra, AHeader.ExtraLength);
    } catch (const std::exception &) {
        return false;
    }
}

int64_t TEntrySizeCap::Write(const void *buffer, int64_t count)
{
    const int64_t n = std::min(count, std::max<int64_t>(0, FLimit - FWritten));
    if (n > 0 && FTarget) {
        const int64_t w = FTarget->Write(buffer, n);
        if (w < n)
            return w;
    }
    FWritten += count;
    return count;
}

} // namespace vl
