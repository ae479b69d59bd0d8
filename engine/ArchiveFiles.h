// Backup files recognised by their extension, split zip archives (a .zip
// part with segments .z01, .z02, ...) handled as one unit, the first entry
// of a zip file, and the code-page conversion of zip entry names.
#pragma once

#include "core/Stream.h"
#include "engine/GzipThread.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

// The data of one zip local file header.
struct TZipFileInfo {
    QString Filename;      // "\" separators
    QByteArray RawName;    // the name field as stored
    uint16_t Flag = 0;     // general-purpose flags
    uint16_t Method = 0;
    uint32_t TimeStamp = 0; // DOS date and time
    uint32_t Crc = 0;
    int64_t CSize = 0;
    int64_t USize = 0;
    int32_t KeyMode = 0;   // AES strength from the AES extra, 0 without
    uint16_t AesVersion = 0; // 1 (AE-1) or 2 (AE-2) from the AES extra, 0 without
    uint16_t AesMethod = 0;  // the actual method inside the AES extra
    QByteArray EncName;      // data of the encrypted-name extra (0x9909), empty without
};

// The extension, compared without regard to case, is ".gz", ".gze", ".enc", ".zip".
bool IsGzFile(const QString &AFileName);
bool IsGzeFile(const QString &AFileName);
bool IsEncFile(const QString &AFileName);
bool IsZipFile(const QString &AFileName);

// Segment AIndex (0-based) of a split archive: the extension replaced by
// "z" and AIndex + 1 as at least two digits (a.z01, ..., a.z100).
QString ZipSegmentName(const QString &AArchive, int AIndex);
// Number of segments before the .zip part; 0 when the archive is not split
// or has no end record. Raises EExtFileStreamError when it cannot be opened.
int GetZipSegmentCount(const QString &AArchive);
// All segments and the .zip part together; 0 when the .zip part is missing.
int64_t GetZipArchiveSize(const QString &AArchive);
// ACount < 0: read from the archive. 0 or the first error number (the .zip
// part stays when a segment cannot be deleted); 0 when the .zip part is missing.
uint32_t DeleteZipArchive(const QString &AArchive, int ACount = -1);
// 0, 2 when the source is missing, or the error number of the failed copy.
uint32_t CopyZipArchive(const QString &ASource, const QString &ADest);
// AMaxWait seconds: a failed move is retried after MaxWait*1000/25 ms, at
// most 26 attempts over the whole archive. 0, 2 or the error number.
uint32_t RenameZipArchive(const QString &AOldName, const QString &ANewName, int AMaxWait);

// Reads a local header at the stream's position, which then stands at the
// first data byte. False for anything else (no signature, truncated,
// extra fields that overrun their length).
bool ReadZipLocalHeader(TStream &AStream, TZipFileInfo &AInfo);
// Entry count from the end record (zip64 when needed); -1 without one.
// The stream is at position 0 afterwards.
int64_t ReadZipEntryCount(TStream &AStream);
// 0 single-file zip (one entry, flag bit 7), 1 other zip, 2 missing,
// unreadable or without entries. Raises when the file cannot be opened.
int ReadZipFileInfo(const QString &AFileName, TGzFileInfo &AInfo);
// ReadZipFileInfo of ANameWithoutExt + ".zip" gives 0.
bool IsSingleFileZip(const QString &ANameWithoutExt);
// Encryption flag of the first entry; AKeyMode its AES strength (-1 when
// no entry could be read).
bool IsZipEncrypted(const QString &AArchive, int32_t &AKeyMode);

// Every character is below 0x100 and each one from 0x80 up has an OEM
// equivalent.
bool NameFitsOem(const QString &AName);
// Bytes 0x80..0xFF through the conversion tables; OemToAnsiName also turns
// 0x15 into 0xA7 and 0x14 into 0xB6.
QByteArray AnsiToOemName(const QByteArray &AName);
QByteArray OemToAnsiName(const QByteArray &AName);
// A byte that AnsiToOemName makes of a character fitting the OEM code page
// (so OemToAnsiName gives that character back). High bytes of other kinds
// in a name without the UTF-8 flag are raw file-name bytes.
bool IsOemNameByte(uint8_t AByte);
// Every UTF-16 code unit is below 0x100.
bool IsLatin1Text(const QString &AText);

} // namespace vl
