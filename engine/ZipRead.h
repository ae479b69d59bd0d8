// Reading multi-entry zip archives: TZipRead reads the central directory
// (also of split and zip64 archives, with encrypted entries and encrypted
// names) into its list and extracts single entries into files or streams
// or compares them with files, each in a worker thread while the calling
// thread waits and processes messages.
//
// Entry names in the list are relative paths with "/" separators; a drive
// part and leading delimiters are removed. A name with a ".." element (or a
// NUL) is listed but never extracted: extraction refuses that entry with
// code 0x121, and ExtractEntryTo checks that the joined path stays inside
// the target folder. Restored files get the mode bits kept in the entry
// (without set-user-ID and set-group-ID), or the umask's default for
// entries that keep none; they are created with those bits from the start.
#pragma once

#include "engine/ArchiveFiles.h"
#include "engine/ZipFormat.h"
#include "engine/ZipWrite.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_set>

namespace vl {

// Extracts one entry's data: from the stream's position (the first data
// byte, or the local header with RdLocalHeader) into a new file or a stream.
class TZipReadThread : public TCopyThread {
public:
    // Into the file AFileName, created with FileMode and finished with
    // FileTimes and FileAttr (ResetArchiveBit applies).
    TZipReadThread(std::shared_ptr<TStream> ZStream, const QString &AFileName, std::shared_ptr<TEncryption> AEncryption,
                   const TZipFileInfo &AZipInfo, bool ASpeedLimit, int32_t ABufSize, TThreadPriority APriority,
                   const TFileProgressEvent &AOnProgress);
    // Into ADest.
    TZipReadThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ADest,
                   std::shared_ptr<TEncryption> AEncryption, const TZipFileInfo &AZipInfo, bool ASpeedLimit,
                   int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress);
    // Into ADest, unencrypted, reading the local header at ZStream's position.
    TZipReadThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ADest, bool ASpeedLimit,
                   int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress);

    uint32_t FileMode = 0644;
    uint16_t FileAttr = kZipAttrArchive;
    TFileTimestamps FileTimes;

protected:
    void Execute() override;
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override;
    virtual int32_t Work();
    // The entry's data from FZStream's position into ADest (null: checked
    // only). Checks CRC (unencrypted and AE-1) and size.
    int32_t ExtractData(TStream *ADest);

    std::shared_ptr<TStream> FZStream;
    std::shared_ptr<TStream> FDestStream;
    std::shared_ptr<TEncryption> FEncryptionRef;
    TZipFileInfo FZipInfo;
    bool RdLocalHeader = false;
    bool FSpeedLimit = true;
};

// Extracts the entry into a temporary stream and compares it with ARef.
class TZipCompareThread : public TZipReadThread {
public:
    TZipCompareThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ARef,
                      std::shared_ptr<TEncryption> AEncryption, const TZipFileInfo &AZipInfo, bool ASpeedLimit,
                      int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress);

protected:
    int32_t Work() override;
};

// The entry name as listed: "\" and "/" become "/", a drive part ("C:",
// "//server/share") and leading delimiters are removed. AUnsafe: the name
// has a ".." element or a NUL and must not be extracted.
QString CleanZipEntryName(const QString &AName, bool &AUnsafe);
// ATargetDir joined with the listed entry name; false when the name is
// unsafe or the joined path would leave ATargetDir.
bool ZipEntryTargetPath(const QString &ATargetDir, const QString &AEntryName, QString &APath);

class TZipRead : public TZip {
public:
    // Opens the archive for reading. Raises EZipError 0x102 "Error opening ...".
    TZipRead(const QString &ZipName, const QByteArray &Password, int32_t AKeyMode, int32_t ABufSize);
    ~TZipRead() override;

    TGetNumStrProc OnReadDirStatus;
    void SetOnReadDirStatus(const TGetNumStrProc &Value) { OnReadDirStatus = Value; }
    int64_t DirectoryOffset() const { return bod; }

    void ClearFileList();
    // Reads the end records and the central directory into the list (the
    // list is cleared first). Raises EZipError "Error reading from ..."
    // (code + 0x100); the entries read before an error stay listed.
    void ReadDirectory(const TGetNumStrProc &Callback = nullptr);

    int Count() const { return int(FileList.size()); }
    QString Filename(int Index) const;
    bool IsEncrypted(int Index) const;
    // Whether the entry's name was refused for extraction.
    bool IsUnsafe(int Index) const;

    void ExtractToFile(int Index, const QString &DestFilename, bool ResetArchiveBit);
    void ExtractToFile(const TPkHeader &pkHeader, const QString &DestFilename, bool ResetArchiveBit);
    // Entry Index below ATargetDir (folders created as needed; a directory
    // entry becomes a folder). Raises EZipError 0x121 for an unsafe name.
    void ExtractEntryTo(int Index, const QString &ATargetDir, bool ResetArchiveBit);
    // False when no entry has that name (case-insensitive); sDest ends at
    // position 0.
    bool ExtractToStream(const QString &Filename, TStream &sDest);
    void CompareToFile(int Index, const QString &DestFilename);
    void CompareToFile(const TPkHeader &pkHeader, const QString &RefFilename);
    void Cancel();

private:
    // Seeks to the entry's local header (in its segment), reads it and
    // leads AStream to the first data byte; data spanning segments is
    // gathered into a temporary stream first. 0 or a code with class.
    int32_t PrepareEntry(const TPkHeader &AHeader, std::shared_ptr<TStream> &AStream, TZipFileInfo &AInfo,
                         QString &ATempName, QString &ASysMsg);
    // Segment AIndex: the archive's own stream for the last one.
    int32_t OpenSegment(int AIndex, std::shared_ptr<TStream> &AStream, QString &ASysMsg);
    int32_t ReadDirectoryRecords(const TGetNumStrProc &Callback, bool &ANameFailed);
    // The name of a directory entry of an encrypted-name archive from its
    // local header. False when there is none or it cannot be deciphered.
    bool DecipherLocalName(const TPkHeader &AHeader, QByteArray &AName);
    int32_t RunWorker(const std::shared_ptr<TZipReadThread> &AThread, bool AEncrypted, QString &ASysMsg);
    int IndexOf(const TPkHeader &AHeader) const;
    [[noreturn]] void RaiseRead(int32_t ACode, const QString &ASysMsg);

    std::shared_ptr<TZipReadThread> ZipThread;
    // A worker that was given up on while it used the encryption object:
    // no other worker may use that object until it has ended.
    std::shared_ptr<TZipReadThread> FAbandonedCrypt;
    std::unordered_set<const TPkHeader *> FUnsafe;
    int64_t bod = 0;
};

} // namespace vl
