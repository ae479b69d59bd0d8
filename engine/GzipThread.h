// The per-file gzip form: each file one gzip member (.gz), or one whose
// data is also encrypted (.gze), with two extra-field subfields of
// Velkor's own (subfield 1: the 64-bit compressed and uncompressed sizes;
// "QV": the key mode of the encryption). Standard gzip tools read the
// unencrypted form. TGZipThread writes (and verifies) such a file,
// TGUnZipThread restores the source from it, ReadGzFileInfo reads the
// header for the file lists.
#pragma once

#include "engine/ExtFileTools.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// Header data of a .gz, .gze, .enc or single-file zip backup file.
struct TGzFileInfo {
    QString Filename;
    uint32_t UnixTime = 0;
    uint16_t Attr = 0;
    int64_t Count = 0;
    int64_t CSize = 0;
    int64_t USize = 0;
    bool Encrypted = false;
    int32_t EncMode = -1;
};

// Above this source size the data to be encrypted goes through a temporary
// file "encrypt.tmp" instead of memory.
inline constexpr int64_t kTempFileThreshold = 52428800;

// Reads a gzip header from the stream's position, which then stands at the
// first data byte. AKeyMode: -1 when not encrypted. Without subfield 1 the
// sizes come from the file size and ISIZE. 0, 8 (no gzip magic, an
// encrypted member without a key mode of 1..3, negative sizes) or 4
// (unreadable, truncated). Subfield lengths are checked against the extra
// field, so foreign or damaged headers are safe to read.
int32_t ReadGzHeader(TStream &AStream, QString &AName, uint32_t &ATime, int32_t &AKeyMode, int64_t &ACSize,
                     int64_t &AUSize);
// Everything ReadGzHeader reads, and whether the sizes came from our
// subfield (else from the file size and ISIZE).
struct TGzHeader {
    QString Name;
    QByteArray NameBytes; // as stored
    uint8_t Os = 0;       // 0: Latin-1 name; else file-name bytes (UTF-8)
    uint32_t Time = 0;
    int32_t KeyMode = -1; // 1..3 when encrypted
    int64_t CSize = 0;
    int64_t USize = 0;
    bool HasSizes = false;
};
int32_t ReadGzHeaderEx(TStream &AStream, TGzHeader &AHeader);
// Name bytes and OS byte of a header: Latin-1 and OS 0 when every character
// is below 0x100, else the lossless file-name bytes and OS 11.
QByteArray EncodeGzName(const QString &AName, uint8_t &AOs);
QString DecodeGzName(const QByteArray &ABytes, uint8_t AOs);
bool ReadGzStreamInfo(TStream &AStream, TGzFileInfo &AInfo);
// Raises EExtFileStreamError when the file cannot be opened.
bool ReadGzFileInfo(const QString &AFileName, TGzFileInfo &AInfo);

// Runs the body of a thread's Execute; an exception that escapes it (none
// should) keeps its message, closes the streams (dropping an unfinished
// destination) and gives 0x105, so the finish step is always reached.
int32_t RunThreadBody(TCopyThread &AThread, QString &AMessage, const std::function<int32_t()> &ABody);

// Shared by the restores (gzip and encrypted files).
// Opens a file for reading (others may read and write): 0, or 0x102
// with the system's text in AMessage.
int32_t OpenReadShared(const QString &AName, std::unique_ptr<TStream> &AStream, QString &AMessage);
// Sets the key mode (when > 0) and checks the password on the encryption
// header at the stream's position, which is kept. 0, or 0x10B for a wrong
// or missing password (no encryption object: AMessage says so).
int32_t CheckBackupPassword(TEncryption *AEncryption, TStream &AStream, int32_t AKeyMode, QString &AMessage);

class TGZipThread : public TCopyThread {
public:
    // AEncryption (owned by the caller) or null. ErrorType 0x2000.
    TGZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption, int32_t ABufSize,
                TThreadPriority APriority = TThreadPriority::tpNormal);

    TZCompressionLevel CompressionLevel() const { return FCompLevel; }
    void SetCompressionLevel(TZCompressionLevel Value) { FCompLevel = Value; }
    // The name stored in the header (default: the source's name part).
    QString Filename;

    int32_t WriteGzHeader(TStream &AStream, const QString &AName, int32_t AKeyMode, uint32_t ATime);
    int32_t WriteGzTrailer(TStream &AStream, uint32_t ACrc);

protected:
    void Execute() override;
    int32_t GzipFile();
    int32_t VerifyGzip();
    // The data of one zip entry or upload into sDest at its position.
    int32_t CompressToDest(TStream &ASource, bool ACompress);
    // The single-file zip of sSource into sDest (both open, after
    // OpenStreams); VerifyZipFile reads it back (engine/SingleFileZip.cpp).
    int32_t ZipFile(bool ACompress);
    int32_t VerifyZipFile();
};

class TGUnZipThread : public TCopyThread {
public:
    // ErrorType 0x3000.
    TGUnZipThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption, int32_t ABufSize,
                  TThreadPriority APriority = TThreadPriority::tpNormal);

protected:
    void Execute() override;
    int32_t GunzipFile();
    int32_t ReadGzSizes(TStream &AStream, int32_t &AKeyMode, int64_t &ACSize, int64_t &AUSize);
    int32_t CheckGzTrailer(TStream &AStream, int64_t AUSize);
};

} // namespace vl
