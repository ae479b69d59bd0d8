// The copy threads' common base: one worker thread per file that copies,
// compresses, encrypts, restores or compares it, with a pause gate, cancel,
// progress and a finish step that every path reaches.
//
// Calling order of an owner: create with std::make_shared (the thread is
// created suspended), set the options, Start(), wait until Done() while
// processing messages (ProcessMessages/WaitUntil/WaitFor; progress handlers
// run there, on the owning thread), read ErrorCode(), SysErrorMsg() and
// Ratio(). Paused and CancelThread may be used while it runs.
//
// Results are the integer codes of core/FileErrors.h: the data loops return
// number and class (0x104), the finish step adds the thread's ErrorType()
// (0x1104).
//
// Files the threads create never replace anything until they are complete:
// data goes to a temporary file beside the destination (created with the
// mode bits the thread gives it) that is renamed onto the destination name
// when the data is in place. A failed or cancelled copy removes its
// temporary file and leaves an existing destination as it was.
#pragma once

#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "core/Progress.h"
#include "core/Stream.h"
#include "engine/ZLibEx.h"
#include "platform/File.h"
#include "platform/Thread.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vl {

class TEncryption;
enum class TOpResult;

// Size, attributes and times of a file (module IStreamApi).
struct TFileData {
    QString FileName; // name part only
    QString FullPath;
    int64_t FileSize = 0;
    uint32_t FileAttr = 0x20;
    uint32_t Mode = 0644; // permission bits (st_mode & 07777)
    TFileTimestamps TimeStamps;
};
void ClearFileData(TFileData &Data);
// Fills size, attributes, mode and times of Path (links not followed);
// false when it does not exist or is a folder.
bool ReadFileData(const QString &Path, TFileData &Data);

// Scheduling priority of a worker (mapped onto the thread's nice value;
// raising it above normal needs privileges and is silently skipped).
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

enum class TShellCopyMode { scmCopy, scmQuiet };
using TShellCopyModes = uint8_t; // bit i = TShellCopyMode of ordinal i

// Creation flags of the destination (the task's NoWriteCache).
inline constexpr uint32_t kSequentialScan = 0x08000000;
inline constexpr uint32_t kWriteThrough = 0x80000000;

// "System error: <text> (0x%.8x)".
QString SystemErrorLine(uint32_t ACode);
// SystemErrorLine of the calling thread's errno.
QString LastSystemErrorText();

// A write-only file stream for the files the copy threads create. The data
// goes to a temporary file beside AFileName; Commit() moves it onto the
// name. Without Overwrite an existing AFileName fails at creation (error 80)
// and at Commit (nothing replaced). Creation and failed writes raise
// EWriteFileStreamError with the error number; a partial write (full disk)
// returns the smaller count. Seek is supported (headers are patched).
// Destroying an uncommitted stream removes the temporary file.
class TWriteFileStream : public TStream {
public:
    // Mode: permission bits of the file (set exactly, the umask does not
    // apply). WriteMode: kSequentialScan, optionally | kWriteThrough (the
    // data is flushed to the device before Commit). ShareMode is advisory.
    TWriteFileStream(const QString &AFileName, bool Overwrite, uint32_t WriteMode, uint16_t ShareMode,
                     uint32_t Mode = 0644);
    ~TWriteFileStream() override;

    int64_t Read(void *buffer, int64_t count) override; // -1: write-only
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    bool SetSize(int64_t newSize) override;
    uint32_t LastError() const override { return FLastError; }

    // fdatasync; 0 or the error number.
    uint32_t Flush();
    // Closes the file and renames it onto the destination name (replacing
    // it only with Overwrite); 0 or the error number (80 when the
    // destination appeared meanwhile without Overwrite). Once committed the
    // stream is closed.
    uint32_t Commit();
    bool Committed() const { return FCommitted; }
    // Whether the file got exactly the permission bits given (a file system
    // without modes keeps its own).
    bool ModeApplied() const { return FModeApplied; }
    uint32_t Mode() const { return FMode; }
    int Handle() const { return FFile.Handle(); }
    const QString &FileName() const { return FFileName; }
    const QString &TempName() const { return FTempName; }

private:
    TFile FFile;
    QString FFileName;
    QString FTempName;
    bool FOverwrite;
    bool FWriteThrough;
    bool FCommitted = false;
    bool FModeApplied = false;
    uint32_t FMode;
    uint32_t FLastError = 0;
};

// Keeps at most ALimit bytes of what is written to ATarget and drops the
// rest as if written: one byte more than a comparison's reference already
// decides "sizes differ", and a backup that unpacks to far more than its
// reference cannot fill the memory or the disk.
class TCappedStream : public TStream {
public:
    TCappedStream(TStream &ATarget, int64_t ALimit) : FTarget(ATarget), FLimit(ALimit) {}
    int64_t Read(void *buffer, int64_t count) override { return FTarget.Read(buffer, count); }
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FTarget.Seek(offset, origin); }
    int64_t Size() override { return FTarget.Size(); }
    bool SetSize(int64_t newSize) override { return FTarget.SetSize(newSize); }
    uint32_t LastError() const override { return FTarget.LastError(); }

private:
    TStream &FTarget;
    int64_t FLimit;
};

class TCopyThread : public TThread {
public:
    // The buffer of ABufSize bytes is allocated here (64 KiB when <= 0).
    TCopyThread(const QString &ASourceName, const QString &ADestName, int32_t ABufSize,
                TThreadPriority APriority = TThreadPriority::tpNormal);
    // Detaches an attached encryption object (progress handler and pause
    // gate); the object stays with its owner.
    ~TCopyThread() override;

    // Options (set before Start).
    bool CheckTime = true;
    bool CopyAttr = true;
    bool CopyCreationTime = false;
    bool CopyPermissions = false;
    bool CopyStorage = false;
    bool CopyAltStreams = false;
    bool CopyTimeStamp = true;
    uint32_t VerifyDelay = 5; // seconds, basis of the reopen pauses
    TShellCopyModes ShellCopy = 0;
    bool Overwrite = false;
    bool ResetArchiveBit = false;

    // Results (read after Done()).
    int32_t ErrorType() const { return FErrFlag; }
    int32_t ErrorCode() const { return FError; }
    int32_t Ratio() const { return FRatio; }
    QString SysErrorMsg() const { return FSysErrMsg; }
    // The CRC-32 of the data that passed the loops (for plain copies only
    // computed when verifying: the kernel copies the data otherwise).
    uint32_t Crc() const { return FCrc; }

    // The handler runs on the owning thread; an attached encryption object
    // reports through the same handler.
    void SetOnProgress(const TFileProgressEvent &Value);
    const TFileProgressEvent &OnProgress() const { return FOnProgress; }
    // An existing folder (with a trailing delimiter), else the system's
    // temporary folder.
    void SetTempDir(const QString &Value);
    const QString &TempDir() const { return fTmpDir; }
    void SetNoWriteCache(bool Value);

    // Ends the loops with 0x80 at the end of the current block (a paused
    // thread sees it once resumed).
    virtual void CancelThread();
    // Closes source and destination (an uncommitted destination's temporary
    // file is removed). For owners of threads that never ran or have
    // finished; an abandoned worker releases its own streams.
    void ReleaseStreams();

    const QString SourceName, DestName;

protected:
    void Execute() override;

    // The finish step, last call of every Execute: ratio, message, code;
    // an attached encryption object is let go.
    virtual void Finish(int32_t ACode);
    virtual void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit);

    // Keeps a nonzero system code (see SystemErrorLine); true when nonzero.
    bool SetSysError(uint32_t ACode);
    // Waits at the pause gate; false when the thread was terminated or
    // abandoned meanwhile (the loops then end as cancelled). The first call
    // applies the thread's priority, so every Execute body gets it.
    bool WaitGate();
    // The start of every block of a data loop: waits at the pause gate, then
    // reads up to ACount bytes (exactly ACount with AExact). feOk with ARead
    // set; feTerminated; or AError with the system error or the exception's
    // message kept.
    int32_t ReadBlock(TStream &ASource, char *ABuffer, int64_t ACount, bool AExact, int64_t &ARead,
                      int32_t AError = feReadFile | ecError);
    bool IsCanceled() const;
    // Attaches the encryption object (owned by the caller): pause gate and
    // progress handler go to it.
    void AttachEncryption(TEncryption *AEncryption);

    // Opens the source into sSource and creates the destination into sDest
    // (with the source's mode bits).
    int32_t OpenStreams();
    // Its first steps: the source's data read and the source opened into
    // sSource, nothing created yet (restores check the password first).
    int32_t OpenSource();
    // Creates the destination as in OpenStreams with the given mode bits;
    // 0 or 0x101 (the system's text in FSysErrMsg).
    int32_t CreateDest(uint32_t AMode);
    int32_t CopyBlocks(TStream &ASource, TStream *ADest, bool ASpeedLimit, int64_t ALength);
    int32_t CompareStreams(TStream &ARef, TStream &AOther, bool ASpeedLimit);
    int32_t DeflateStream(TStream &ASource, TStream &ADest, bool ASpeedLimit);
    int32_t InflateStream(TStream &ASource, TStream *ADest, bool ASpeedLimit, int64_t ALength);
    int32_t InflateToTrailer(TStream &ASource, TStream *ADest, bool ASpeedLimit);
    // Flush (when verifying), commit the destination, then alternate
    // streams, property sets, permissions, times and attributes.
    int32_t FinishDest(bool ACopyStorage, bool ACopyAltStreams, uint16_t AAttr, const TFileTimestamps &ATimeStamps,
                       bool ACopyAcl);
    int32_t FinishDestFromSource(bool ACopyStorage, bool ACopyAltStreams, bool ACopyAcl);
    int32_t CopySummary();
    // Opens AName for reading into sDest, retrying 26 times.
    int32_t OpenForVerify(const QString &AName);
    int32_t PlainCopy();
    // The copy without a shell of its own on this system: the data as
    // PlainCopy, then only the times (when CopyTimeStamp and
    // CopyCreationTime); engine/WinCopyThread.cpp.
    int32_t ShellCopyFile();
    // Reads the destination back and compares its CRC with FCrc.
    int32_t VerifyByCrc();
    // The single-file zip entry whose local header starts at ASource's
    // position into ADest; ATime: the entry's time as Unix seconds
    // (engine/SingleFileZip.cpp). 8, 0x10B, 0x104, 0x101, 0x80 or a data
    // loop's code.
    int32_t ExtractZipEntry(TStream &ASource, TStream &ADest, uint32_t &ATime);
    int32_t ExtractZipEntry(TStream &ASource, TStream &ADest);

    // The encrypted-file form (engine/EncryptedFile.cpp).
    struct TEncHeader {
        uint32_t Time = 0;
        uint16_t Attr = 0xFFFF;
    };
    int32_t EncryptFile();
    int32_t VerifyEncrypted();
    int32_t DecryptFile();
    int32_t ReadEncKeyMode(TStream &AStream, TEncHeader &AHeader);
    // The temporary stream of the gzip, encrypted and compare threads: a
    // file TempDir + AName (created or truncated, mode 0600) when ASize is
    // above AThreshold, else memory. 0 or 0x101 (message kept).
    int32_t CreateTempStream(const QString &AName, int64_t ASize, int64_t AThreshold,
                             std::unique_ptr<TStream> &AStream, QString &AFileName);
    // Frees a temporary stream (exceptions swallowed) and deletes its file.
    void FreeTempStream(std::unique_ptr<TStream> &AStream, const QString &AFileName);
    // Maps an exception of a write to 0x107 (disk full) or 0x105 and keeps
    // its message.
    int32_t WriteErrorCode(const std::exception &e, int32_t AOther = feWriteFile | ecError);
    // The code of an encryption or decryption into ATarget: 0 when it
    // succeeded, 0x80 when cancelled; a target that could not take the data
    // (full disk) is no wrong password: 0x107 or 0x105 with its error number
    // kept; else ACipherError.
    int32_t CipherResult(TOpResult AResult, const TStream &ATarget, int32_t ACipherError);

    QString fTmpDir;
    TFileData SourceFileData;
    QByteArray FBuffer;
    int32_t FBufSize;
    std::unique_ptr<TStream> sSource;
    std::unique_ptr<TStream> sDest;
    std::mutex FStreamLock; // guards sSource/sDest against ReleaseStreams from the owner
    TFileProgressEvent FOnProgress;
    TThreadPriority FPriority;
    TEncryption *FCrypting = nullptr;
    uint32_t FWriteMode = kSequentialScan;
    bool FCompress = false;
    bool FVerify = false;
    std::atomic<bool> FUserBreak{false};
    TZCompressionLevel FCompLevel = TZCompressionLevel::zcDefault;
    uint32_t FSysError = 0;
    int32_t FError = 0;
    int32_t FErrFlag = eoCopy;
    QString FSysErrMsg;
    uint32_t FCrc = 0;
    int64_t UTotal = 0;
    int64_t CTotal = 0;
    int32_t FRatio = -1;

private:
    // The data of sSource into sDest: the kernel's copy when nothing needs
    // the CRC, else CopyBlocks.
    int32_t CopySourceData();
    int32_t KernelCopy(int ASourceFd, int ADestFd, bool &AFallBack);
    // Flush (when verifying) and commit of sDest; 0, 0x101 or 0x105.
    int32_t CommitDest();
    // Runs ABody and turns an exception that escaped it into a result.
    int32_t Guarded(const std::function<int32_t()> &ABody);

    std::shared_ptr<const TFileProgressEvent> FProgressTarget;
    bool FPriorityApplied = false;
    // Set by CommitDest: the destination is a file we have just created
    // with these permission bits and nothing of ours in its xattrs yet, so
    // its attributes are known without reading them.
    bool FFreshDest = false;
    uint32_t FFreshDestMode = 0;

    friend class TWinCopyThread;
};

// Copies ALength bytes from one open stream to another (streams owned by
// the caller). The zip archive classes use it.
class TCopyStreamThread : public TThread {
public:
    TCopyStreamThread(TStream &ASource, TStream &ADest, int64_t ALength, bool ASpeedLimit, int32_t ABufSize,
                      TThreadPriority APriority = TThreadPriority::tpNormal);

    int32_t ErrorCode() const { return FError; }
    QString SysErrorMsg() const { return FSysErrMsg; }
    void SetOnProgress(const TFileProgressEvent &Value) { FOnSProgress = Value; }

protected:
    void Execute() override;

private:
    TFileProgressEvent FOnSProgress;
    int32_t FError = 0;
    QString FSysErrMsg;
    int64_t FLength;
    int64_t FTotal = 0;
    bool FSpeedLimit;
    int32_t FBufSize;
    QByteArray FBuffer;
    TStream &sSource;
    TStream &sDest;
    TThreadPriority FPriority;
};

// Applies a priority to the calling thread (best effort).
void ApplyThreadPriority(TThreadPriority APriority);

} // namespace vl
