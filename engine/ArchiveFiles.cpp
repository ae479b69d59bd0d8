#include "engine/ArchiveFiles.h"

#include "core/DateTime.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "core/FileUtils.h"
#include "core/PathUtils.h"
#include "core/XlFileUtils.h"
#include "engine/ZipFormat.h"

#include <QThread>

#include <memory>

namespace vl {

namespace {

// ANSI (Windows-1252) byte 0x80 + i to its OEM (CP437) byte; 0x20: none.
constexpr uint8_t kAnsiToOem[128] = {
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, // 0x80
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, // 0x90
    0x20, 0xAD, 0x9B, 0x9C, 0x20, 0x9D, 0x20, 0x15, 0x20, 0x20, 0x20, 0xAE, 0xAA, 0x20, 0x20, 0x20, // 0xA0
    0xF8, 0xF1, 0xFD, 0x20, 0x20, 0xE6, 0x14, 0x20, 0x20, 0x20, 0x20, 0xAF, 0xAC, 0xAB, 0x20, 0xA8, // 0xB0
    0x20, 0x20, 0x20, 0x20, 0x8E, 0x8F, 0x92, 0x80, 0x20, 0x90, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, // 0xC0
    0x20, 0xA5, 0x20, 0x20, 0x20, 0x20, 0x99, 0x20, 0x20, 0x20, 0x20, 0x20, 0x9A, 0x20, 0x20, 0xE1, // 0xD0
    0x85, 0x20, 0x83, 0x20, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B, // 0xE0
    0x20, 0xA4, 0x95, 0xA2, 0x93, 0x20, 0x94, 0xF6, 0x20, 0x97, 0xA3, 0x96, 0x81, 0x20, 0x20, 0x98, // 0xF0
};

// OEM byte 0x80 + i to its ANSI byte; 0xD7: none.
constexpr uint8_t kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5, // 0x80
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0xD7, 0xD7, // 0x90
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xD7, 0xD7, 0xBF, 0xD7, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, // 0xA0
    0xD7, 0xD7, 0xD7, 0xA6, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, // 0xB0
    0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, // 0xC0
    0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, // 0xD0
    0xD7, 0xDF, 0xD7, 0xD7, 0xD7, 0xD7, 0xB5, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, // 0xE0
    0xD7, 0xB1, 0xD7, 0xD7, 0xB6, 0xA7, 0xF7, 0xD7, 0xB0, 0xD7, 0xB7, 0xD7, 0xD7, 0xB2, 0xD7, 0xA0, // 0xF0
};

bool HasExtension(const QString &AFileName, const QString &AExt)
{
    return AFileName.endsWith(AExt, Qt::CaseInsensitive)
           && AFileName.size() > AExt.size()
           && AFileName.at(AFileName.size() - AExt.size() - 1) != QLatin1Char('/');
}

} // namespace

bool IsGzFile(const QString &AFileName)
{
    return HasExtension(AFileName, QStringLiteral(".gz"));
}

bool IsGzeFile(const QString &AFileName)
{
    return HasExtension(AFileName, QStringLiteral(".gze"));
}

bool IsEncFile(const QString &AFileName)
{
    return HasExtension(AFileName, QStringLiteral(".enc"));
}

bool IsZipFile(const QString &AFileName)
{
    return HasExtension(AFileName, QStringLiteral(".zip"));
}

QString ZipSegmentName(const QString &AArchive, int AIndex)
{
    return ReplaceExtension(AArchive, QStringLiteral(".z%1").arg(AIndex + 1, 2, 10, QLatin1Char('0')));
}

int GetZipSegmentCount(const QString &AArchive)
{
    TExtFileStream stream(AArchive, kOpenReadShared);
    try {
        const int64_t size = stream.Size();
        if (size < kZipEndSize)
            return 0;
        QByteArray b;
        stream.SetPosition(size - kZipEndSize);
        TZipEndRecord end;
        if (!ReadExact(stream, b, kZipEndSize) || !DecodeZipEndRecord(b, end))
            return 0;
        if (!ZipEndNeedsZip64(end))
            return end.DiskNumber;
        if (size < kZipEndSize + kZip64LocatorSize)
            return 0;
        stream.SetPosition(size - kZipEndSize - kZip64LocatorSize);
        TZip64Locator locator;
        if (!ReadExact(stream, b, kZip64LocatorSize) || !DecodeZip64Locator(b, locator) || locator.TotalDisks == 0)
            return 0;
        // A damaged count must not make callers walk millions of names.
        return int(std::min<uint32_t>(locator.TotalDisks - 1, 0xFFFF));
    } catch (const EStreamError &) {
        return 0;
    }
}

int64_t GetZipArchiveSize(const QString &AArchive)
{
    if (!XlFileExists(AArchive, true))
        return 0;
    int64_t total = 0;
    const int count = GetZipSegmentCount(AArchive);
    for (int i = 0; i < count; ++i)
        total += std::max<int64_t>(XlFileSize(ZipSegmentName(AArchive, i)), 0);
    return total + std::max<int64_t>(XlFileSize(AArchive), 0);
}

uint32_t DeleteZipArchive(const QString &AArchive, int ACount)
{
    if (!XlFileExists(AArchive, true))
        return 0;
    if (ACount < 0)
        ACount = GetZipSegmentCount(AArchive);
    for (int i = 0; i < ACount; ++i) {
        const uint32_t error = XlDeleteExistingFile(ZipSegmentName(AArchive, i), false);
        if (error != 0)
            return error;
    }
    return XlDeleteExistingFile(AArchive, false);
}

uint32_t CopyZipArchive(const QString &ASource, const QString &ADest)
{
    if (!XlFileExists(ASource, true))
        return 2;
    try {
        const int count = GetZipSegmentCount(ASource);
        for (int i = 0; i < count; ++i)
            CopyFileWithAttributes(ZipSegmentName(ASource, i), ZipSegmentName(ADest, i), -1, 0x40000);
        CopyFileWithAttributes(ASource, ADest, -1, 0x40000);
    } catch (const ECopyError &e) {
        return uint32_t(e.ErrorCode());
    }
    return 0;
}

uint32_t RenameZipArchive(const QString &AOldName, const QString &ANewName, int AMaxWait)
{
    if (!XlFileExists(AOldName, true))
        return 2;
    const int pause = AMaxWait > 0 ? AMaxWait * 1000 / 25 : 0;
    int attempts = 0;
    const auto move = [&](const QString &from, const QString &to) -> uint32_t {
        for (;;) {
            const uint32_t error = XlMoveFile(from, to);
            ++attempts;
            if (error == 0 || pause == 0)
                return error;
            QThread::msleep(ulong(pause));
            if (attempts >= 26)
                return error;
        }
    };
    const int count = GetZipSegmentCount(AOldName);
    for (int i = 0; i < count; ++i) {
        const uint32_t error = move(ZipSegmentName(AOldName, i), ZipSegmentName(ANewName, i));
        if (error != 0)
            return error;
    }
    return move(AOldName, ANewName);
}

bool ReadZipLocalHeader(TStream &AStream, TZipFileInfo &AInfo)
{
    TZipLocalHeader header;
    QByteArray name, extra;
    if (!ReadZipLocalRecord(AStream, header, name, extra))
        return false;
    AInfo = TZipFileInfo();
    AInfo.Flag = header.Flags;
    AInfo.Method = header.Method;
    AInfo.TimeStamp = header.Time;
    AInfo.Crc = header.Crc;
    AInfo.CSize = header.CSize;
    AInfo.USize = header.USize;
    AInfo.RawName = name;
    AInfo.Filename = DecodeZipName(name, (header.Flags & kZipFlagUtf8) != 0);
    std::vector<TZipExtraField> fields;
    if (!ParseZipExtraFields(extra, fields))
        return false;
    for (const auto &f : fields) {
        if (f.Id == kZipExtraZip64) {
            uint64_t u, c, o;
            if (!ApplyZip64ExtraData(f.Data, header.USize, header.CSize, 0, u, c, o))
                return false;
            if (u > uint64_t(INT64_MAX) || c > uint64_t(INT64_MAX))
                return false;
            AInfo.USize = int64_t(u);
            AInfo.CSize = int64_t(c);
        } else if (f.Id == kZipExtraAes) {
            TPKExtraEncField aes;
            if (!DecodeAesExtraData(f.Data, aes))
                return false;
            AInfo.KeyMode = aes.Mode;
            AInfo.AesVersion = aes.Version;
            AInfo.AesMethod = aes.Method;
        } else if (f.Id == kZipExtraEncName) {
            AInfo.EncName = f.Data;
        }
    }
    return true;
}

int64_t ReadZipEntryCount(TStream &AStream)
{
    TZipDirectoryInfo info;
    const bool ok = ReadZipDirectoryInfo(AStream, info);
    try {
        AStream.SetPosition(0);
    } catch (const std::exception &) {
        return -1;
    }
    if (!ok || info.TotalEntries > uint64_t(INT64_MAX))
        return -1;
    return int64_t(info.TotalEntries);
}

int ReadZipFileInfo(const QString &AFileName, TGzFileInfo &AInfo)
{
    int result = 2;
    if (!XlFileExists(AFileName, true))
        return result;
    TExtFileStream stream(AFileName, kOpenReadShared);
    AInfo.UnixTime = uint32_t(std::clamp<int64_t>(DateTimeToUnixSeconds(Now()), 0, UINT32_MAX));
    const int64_t count = ReadZipEntryCount(stream);
    AInfo.Count = count;
    TZipFileInfo entry;
    if (count > 0 && ReadZipLocalHeader(stream, entry)) {
        AInfo.Filename = entry.Filename;
        AInfo.UnixTime = FileDateToUnixSeconds(entry.TimeStamp);
        AInfo.Encrypted = (entry.Flag & kZipFlagEncrypted) != 0;
        AInfo.CSize = entry.CSize;
        AInfo.USize = entry.USize;
        AInfo.EncMode = entry.KeyMode;
        result = count == 1 && (entry.Flag & kZipFlagSingleFile) != 0 ? 0 : 1;
    }
    if (result != 2)
        AInfo.Attr = uint16_t(XlFileGetAttr(AFileName, true));
    return result;
}

bool IsSingleFileZip(const QString &ANameWithoutExt)
{
    TGzFileInfo info;
    try {
        return ReadZipFileInfo(ANameWithoutExt + QStringLiteral(".zip"), info) == 0;
    } catch (const EStreamError &) {
        return false;
    }
}

bool IsZipEncrypted(const QString &AArchive, int32_t &AKeyMode)
{
    AKeyMode = -1;
    const QString first = GetZipSegmentCount(AArchive) > 0 ? ZipSegmentName(AArchive, 0) : AArchive;
    TExtFileStream stream(first, kOpenReadShared);
    QByteArray b;
    if (!ReadExact(stream, b, 4))
        return false;
    if (Le32(b, 0) != kZipSpanSignature)
        stream.SetPosition(0);
    TZipFileInfo info;
    if (!ReadZipLocalHeader(stream, info))
        return false;
    AKeyMode = info.KeyMode;
    return (info.Flag & kZipFlagEncrypted) != 0;
}

bool NameFitsOem(const QString &AName)
{
    for (QChar c : AName) {
        const char16_t u = c.unicode();
        if (u >= 0x100)
            return false;
        if (u >= 0x80 && kAnsiToOem[u - 0x80] == 0x20)
            return false;
    }
    return true;
}

QByteArray AnsiToOemName(const QByteArray &AName)
{
    QByteArray r = AName;
    for (char &c : r)
        if (uint8_t(c) >= 0x80)
            c = char(kAnsiToOem[uint8_t(c) - 0x80]);
    return r;
}

QByteArray OemToAnsiName(const QByteArray &AName)
{
    QByteArray r = AName;
    for (char &c : r) {
        const uint8_t b = uint8_t(c);
        if (b >= 0x80)
            c = char(kOemToAnsi[b - 0x80]);
        else if (b == 0x15)
            c = char(0xA7);
        else if (b == 0x14)
            c = char(0xB6);
    }
    return r;
}

bool IsOemNameByte(uint8_t AByte)
{
    if (AByte < 0x80)
        return true;
    const uint8_t ansi = kOemToAnsi[AByte - 0x80];
    return ansi >= 0x80 && kAnsiToOem[ansi - 0x80] == AByte;
}

bool IsLatin1Text(const QString &AText)
{
    for (QChar c : AText)
        if (c.unicode() >= 0x100)
            return false;
    return true;
}

} // namespace vl
