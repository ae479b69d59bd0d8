// Error codes of the storage and transfer engine and their messages.
//
// The copy threads, archive routines and FTP transfers report every outcome
// as one integer: bits 0-7 the error number, bits 8-11 the class, bits
// 12-15 the operation. Routines return number and class (feReadFile |
// ecError = 0x104); the copy threads add the operation bits of their kind
// when they finish (0x1104). Bits above 15 are not used.
#pragma once

#include <QString>

#include <cstdint>

namespace vl {

// Error numbers (bits 0-7).
inline constexpr int32_t feOk = 0;
inline constexpr int32_t feCreateFile = 1;        // also: no destination name
inline constexpr int32_t feOpenFile = 2;
inline constexpr int32_t feCloseFile = 3;
inline constexpr int32_t feReadFile = 4;          // short read, size change, CRC mismatch
inline constexpr int32_t feWriteFile = 5;         // write, flush or shell copy failed
inline constexpr int32_t feSetAttributes = 6;
inline constexpr int32_t feLowDiskSpace = 7;
inline constexpr int32_t feIllegalHeader = 8;
inline constexpr int32_t feCorruptFile = 9;
inline constexpr int32_t feEncryption = 10;
inline constexpr int32_t feDecryption = 11;       // also: wrong or missing password
inline constexpr int32_t feVerification = 12;
inline constexpr int32_t fePathTooLong = 13;
inline constexpr int32_t feFileNotFound = 14;
inline constexpr int32_t feSetTimestamp = 15;
inline constexpr int32_t feCopySummary = 16;
inline constexpr int32_t feCopyTimeout = 17;
inline constexpr int32_t feUndefinedStream = 18;
inline constexpr int32_t feCopyPermissions = 19;
inline constexpr int32_t feFileExists = 20;
inline constexpr int32_t feSizeMismatch = 21;
inline constexpr int32_t feOpenForVerify = 22;
inline constexpr int32_t feCreateDirectory = 23;
inline constexpr int32_t feFtpRead = 24;
inline constexpr int32_t feFtpWrite = 25;
inline constexpr int32_t feFtpConnect = 26;
inline constexpr int32_t feFtpClosed = 27;
inline constexpr int32_t feFtpDataConnection = 28;
inline constexpr int32_t feFtpTimeout = 29;
inline constexpr int32_t feDifferentContent = 30;
inline constexpr int32_t feNewZipSegment = 31;
inline constexpr int32_t feZipSignature = 32;
inline constexpr int32_t feExtractFile = 33;
inline constexpr int32_t feUnsupportedFormat = 34;
inline constexpr int32_t feRenameTempFile = 35;
inline constexpr int32_t feReadZipSegment = 36;
inline constexpr int32_t feCopyStreams = 37;
inline constexpr int32_t feDeleteFile = 38;
inline constexpr int32_t feTerminated = 128;      // canceled by the user (class none)

// Classes (bits 8-11, already shifted).
inline constexpr int32_t ecNone = 0;
inline constexpr int32_t ecError = 0x100;
inline constexpr int32_t ecWarning = 0x200;       // data copied, metadata not applied
inline constexpr int32_t ecSecondFile = 0x300;    // error on the second file of a comparison

// Operations (bits 12-15, already shifted).
inline constexpr int32_t eoNone = 0;
inline constexpr int32_t eoCopy = 0x1000;
inline constexpr int32_t eoGzip = 0x2000;
inline constexpr int32_t eoGunzip = 0x3000;
inline constexpr int32_t eoZip = 0x4000;
inline constexpr int32_t eoEncrypt = 0x5000;
inline constexpr int32_t eoDecrypt = 0x6000;
inline constexpr int32_t eoUnzip = 0x7000;

inline constexpr int32_t kErrorNumberMask = 0xFF;
inline constexpr int32_t kErrorClassMask = 0xF00;
inline constexpr int32_t kErrorOperationMask = 0xF000;

// A code from its fields: MakeFileError(feReadFile, ecError, eoCopy) = 0x1104.
constexpr int32_t MakeFileError(int32_t number, int32_t cls = ecError, int32_t operation = eoNone)
{
    return (number & kErrorNumberMask) | (cls & kErrorClassMask) | (operation & kErrorOperationMask);
}

// The fields of a code, each in its own bit position (ErrorClass(0x1104) = ecError).
constexpr int32_t ErrorNumber(int32_t code) { return code & kErrorNumberMask; }
constexpr int32_t ErrorClass(int32_t code) { return code & kErrorClassMask; }
constexpr int32_t ErrorOperation(int32_t code) { return code & kErrorOperationMask; }

// The one-line message of a code: class prefix, error text, AName in
// double quotes, AInfo in parentheses (only together with AName) and the
// operation, e.g. Error - Could not read from file: "a.txt" (-> Copy).
QString FileErrorMessage(int32_t ACode, const QString &AName = QString(), const QString &AInfo = QString());

// FileErrorMessage naming the file the error concerns: the destination for
// errors that arise on the destination side (create, write, attributes,
// disk space, path length, time stamp, existing file, opening for
// verification, directory creation, FTP write, renaming), else the source.
QString CopyErrorMessage(const QString &ASourceName, const QString &ADestName, int32_t ACode);

} // namespace vl
