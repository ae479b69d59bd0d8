// Multi-entry zip archives: TZip (the base the writer and the reader share),
// TZipWrite (adds directories, files and streams one at a time, optionally
// AES-encrypted with hidden names, split into segments of a maximum size,
// with zip64 records for large data) and the worker threads that move each
// entry's data while the calling thread waits and processes messages.
//
// Entry names are the paths relative to the base directory with "\"
// separators; a name whose file-name part holds "\" is refused for that
// entry (it would read back as a folder). Each entry keeps its source's mode
// bits in the high 16 bits of the external attributes.
#pragma once

#include "core/Exceptions.h"
#include "core/FileSearch.h"
#include "core/FileStream.h"
#include "core/Progress.h"
#include "engine/Encryption.h"
#include "engine/GzipThread.h"
#include "engine/ZipFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace vl {

// The archive file: an ordinary file stream whose failed writes raise
// EWriteFileStreamError with the error number (a short write, full disk,
// returns the smaller count).
class TZipStream : public TExtFileStream {
public:
    using TExtFileStream::TExtFileStream;
    int64_t Write(const void *buffer, int64_t count) override;
};

class EZipError : public EInOutError {
public:
    // ZipError = AErrCode | 0x4000.
    EZipError(const QString &AErrString, int32_t AErrCode, const QString &ASysErrMsg = QString());
    int32_t ZipError() const { return FZipError; }
    int32_t SysError() const { return 0; }
    const QString &SysErrorMsg() const { return FSysErrorMsg; }

private:
    int32_t FZipError;
    QString FSysErrorMsg;
};

// One entry: its central directory record in memory.
struct TPkHeader {
    TPkHeader() = default;
    TPkHeader(const QByteArray &Fn, const QByteArray &Eb, uint32_t Ec, uint16_t Al, uint32_t Ts, uint32_t Chk,
              uint32_t AA, uint16_t AV, uint16_t AF, uint16_t AM, uint16_t EV, uint16_t ED, uint16_t EM, uint16_t SM,
              int64_t Ofs, int64_t CSz, int64_t USz);
    // Every field but EBuffer, at another offset.
    static TPkHeader Assign(const TPkHeader &APkHeader, int64_t Ofs);

    QByteArray FName;   // stored name bytes, or the placeholder of an encrypted name
    QByteArray EBuffer; // data of the encrypted-name extra
    uint32_t ErrCode = 0;
    uint32_t TimeStamp = 0;
    uint32_t CRC = 0;
    uint16_t PkVersion = kZipVersionDefault;
    uint16_t GpFlag = 0;
    // External attributes: low 16 bits the file attributes (Attr), high 16
    // bits file type and mode bits (0 for stream entries).
    uint32_t ExtAttr = 0;
    uint16_t CompMethod = 0;
    uint16_t Tag = 0;
    uint16_t DirLength = 0;
    uint16_t Segment = 0;
    uint16_t EncMode = 0;
    uint16_t EncVers = 0;
    uint16_t EncMeth = 0;
    int64_t Offset = 0;
    int64_t CSize = 0;
    int64_t USize = 0;
    bool IsDir = false;
    bool IsAE2 = false;
    bool Zip64 = false;

    uint16_t Attr() const { return uint16_t(ExtAttr & 0xFFFF); }
    void UpdateFlags();
};

struct TZipListItem {
    QString Name; // the entry name as the caller knows it
    std::unique_ptr<TPkHeader> Header;
};
using TZipList = std::vector<TZipListItem>;

class TZip {
public:
    // Opens the archive stream with the file mode AMode of TExtFileStream
    // (raises EExtFileStreamError). ABufSize <= 0: 512 KiB.
    TZip(const QString &ZipName, const QByteArray &Password, int32_t AKeyMode, int32_t ABufSize, uint16_t AMode);
    virtual ~TZip();
    TZip(const TZip &) = delete;
    TZip &operator=(const TZip &) = delete;

    void SetOnProgress(const TFileProgressEvent &Value);
    const TFileProgressEvent &OnProgress() const { return FOnProgress; }
    TTimeOutEvent OnTimeout;
    bool IsTemp() const { return FIsTemp; }
    void SetIsTemp(bool Value) { FIsTemp = Value; }
    bool ErrorFlag() const { return FErrorFlag; }
    void SetErrorFlag(bool Value) { FErrorFlag = Value; }
    bool EncryptNames() const { return FEncNames; }
    TThreadPriority ThreadPriority() const { return FPriority; }
    void SetThreadPriority(TThreadPriority Value) { FPriority = Value; }
    const QString &TempDir() const { return fZipTmpDir; }
    int32_t NumberOfSegments() const { return FNumSeg; }
    TZipList &Directory() { return FileList; }
    bool IsEmpty() const { return FileList.empty(); }
    int64_t FilePosition() const;
    void SetFilePosition(int64_t Value);
    TEncryption *Encryption() const { return FEncryption.get(); }

    // Frees an existing encryption object; makes one for a non-empty
    // password and takes its key mode into the AES extra.
    void InitEncryption(const QByteArray &Password, int32_t AKeyMode);
    // SLength bytes from this archive's position to AZip's position; 0 or
    // the copy's code.
    int32_t CopyToZip(TZip &AZip, int64_t SLength);

protected:
    // Runs the worker to its end while processing messages; OnTimeout (when
    // asked for and assigned) may give up on it: the worker is then
    // abandoned and its current code taken.
    int32_t WaitForThread(TThread &AThread, bool AAskTimeout, const std::function<int32_t()> &ACode);

    int32_t FBufferSize;
    bool FIsTemp = false;
    bool FEncrypt = false;
    bool FEncNames = false;
    bool FErrorFlag = false;
    // Shared with a worker, which may outlive a wait that gave up on it.
    std::shared_ptr<TEncryption> FEncryption;
    TPKExtraEncField PkExtraCrypt;
    TFileProgressEvent FOnProgress;
    std::shared_ptr<TZipStream> FStream;
    TThreadPriority FPriority = TThreadPriority::tpNormal;
    QString fZipTmpDir;
    QString FBaseDir;
    QString ZName;
    int32_t FNumSeg = 1;
    int32_t FCurSeg = 0;
    TZipList FileList;
};

// Worker threads of the archives.
class TZipThread : public TGZipThread {
public:
    TZipThread(const QString &ASourceName, std::shared_ptr<TEncryption> AEncryption, bool ASpeedLimit,
               int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress);
    int64_t UncompressedTotal() const { return UTotal; }
    int64_t CompressedTotal() const { return CTotal; }

protected:
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override;
    bool FSpeedLimit;
    std::shared_ptr<TEncryption> FEncryptionRef;
};

class TZipWriteThread : public TZipThread {
public:
    // The data of the named file (opened with all sharing allowed), or of
    // ASource (freed by the thread). ZStream: destination, or null for a
    // read-only pass that computes the CRC.
    TZipWriteThread(const QString &AFileName, std::shared_ptr<TEncryption> AEncryption,
                    std::shared_ptr<TStream> ZStream, bool ACompress, bool ASpeedLimit, int32_t ABufSize,
                    TThreadPriority APriority, const TFileProgressEvent &AOnProgress);
    TZipWriteThread(std::unique_ptr<TStream> ASource, std::shared_ptr<TEncryption> AEncryption,
                    std::shared_ptr<TStream> ZStream, bool ACompress, bool ASpeedLimit, int32_t ABufSize,
                    TThreadPriority APriority, const TFileProgressEvent &AOnProgress);

protected:
    void Execute() override;

private:
    int32_t WriteData();
    std::unique_ptr<TStream> FGivenSource;
    std::shared_ptr<TStream> FZStream;
};

class TZipVerifyThread : public TZipThread {
public:
    // ALength bytes of entry data from ZStream's position.
    TZipVerifyThread(std::shared_ptr<TEncryption> AEncryption, uint32_t ACrc, std::shared_ptr<TStream> ZStream,
                     int64_t ALength, int64_t USize, bool ACompress, bool ASpeedLimit, int32_t ABufSize,
                     TThreadPriority APriority, const TFileProgressEvent &AOnProgress);

protected:
    void Execute() override;

private:
    int32_t VerifyData();
    std::shared_ptr<TStream> FZStream;
    uint32_t FExpectedCrc;
    int64_t FLength;
    int64_t FSize;
};

class TZipWrite : public TZip {
public:
    // Creates (or truncates) the archive; AMaxSize > 0 splits it. Raises
    // EZipError 0x101 "Error creating ..." when the file cannot be created.
    TZipWrite(const QString &ZipName, const QString &BasicDirectory, int64_t AMaxSize, const QByteArray &Password,
              int32_t AKeyMode, int32_t ABufSize);
    TZipWrite(const QString &ZipName, const QString &BasicDirectory, const QByteArray &Password, int32_t AKeyMode,
              int32_t ABufSize);
    ~TZipWrite() override;

    TFileProgressEvent OnVerifyProgress;
    TConfirmEvent OnFullDisk;
    int64_t MaxSize() const { return fMaxSize; }
    void SetTempDir(const QString &Value);
    void SetEncryptNames(bool Value) { FEncNames = Value && FEncrypt; }

    void AddDir(const QString &DirName);
    void AddFile(const QString &SourceName, bool ACompress);
    void AddFile(const QString &SourceName, int32_t &ARatio, bool ACompress);
    void AddFile(const QString &SourceName, const TFindData &FileData, bool ACompress);
    void AddFile(const QString &SourceName, const QString &FileName, bool ACompress);
    void AddFile(const QString &SourceName, const QString &FileName, int32_t &ARatio, bool ACompress);
    void AddFile(const QString &SourceName, const QString &FileName, const TFindData &FileData, int32_t &ARatio,
                 bool ACompress);
    // Entry named after FilePath, data read from SourceName.
    void AddFileFrom(const QString &SourceName, const QString &FilePath, const TFindData &FileData, int32_t &ARatio,
                     bool ACompress);
    void AddFiles(const QString &Directory, const QString &Filter, const QString &SubDir, int32_t &Count,
                  QStringList *ErrList);
    // The whole of ASource (taken over) as entry AName.
    void AddStream(std::unique_ptr<TStream> ASource, const QString &AName, bool ACompress);
    QString RemLastDir();

    void WriteDirectory();
    void Verify();
    void DeleteZipFile();
    void RenameZipFile(const QString &NewName);

    int32_t NewSegment();
    bool CheckSegment(int64_t ASpace);

    void Suspend();
    void Resume();
    void Cancel();

private:
    // The stored name of a new entry (refused with EZipError when it cannot
    // be stored) and its flags; with encrypted names a placeholder, the
    // enciphered name in AEncName.
    // Opens a new segment when a local header of AHeaderSize bytes does not
    // fit into the current one; EZipError when that fails.
    void StartSegmentFor(int64_t AHeaderSize, const QString &AError);
    uint16_t EncodeEntryName(const QString &ARelName, const QString &AError, QByteArray &AName, QByteArray &AEncName);
    void DoAddFile(const QString &SourceName, const QString &FileName, const TFindData &FileData, int32_t &ARatio,
                   bool ACompress);
    void ReadFindData(const QString &SourceName, TFindData &FileData);
    // Refuses operations once the archive file has been closed.
    void CheckOpen(const QString &AContext);
    void CutBack(int64_t AOffset);
    void WriteBytes(const QByteArray &ABytes);
    void PatchBytes(int64_t APos, const QByteArray &ABytes);
    int32_t RunWorker(const std::shared_ptr<TZipThread> &AThread, QString &ASysMsg);
    // Copies ALength bytes of ASource into the archive, segment by segment.
    int32_t CopyIntoSegments(TStream &ASource, int64_t ALength, QString &ASysMsg);
    int32_t CopyStep(TStream &ASource, int64_t ALength, TFileAction AAction, QString &ASysMsg);
    int32_t VerifyEntry(const TPkHeader &AHeader, QString &ASysMsg);
    std::shared_ptr<TStream> ArchiveRef();

    std::shared_ptr<TZipThread> ZipThread;
    std::shared_ptr<TThread> CopyThread; // a copy between segments
    bool FCanceled = false;
    bool FClosed = false;
    int64_t fMaxSize = 0;
};

} // namespace vl
