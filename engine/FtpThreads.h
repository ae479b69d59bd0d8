// Worker threads that move one file between the local disk and an FTP
// server in the forms a local backup writes: plain, per-file gzip (.gz,
// .gze), encrypted file (.enc) or single-file zip. The FTP client is
// connected and placed in the destination directory by the caller; the
// thread alone uses it while it runs.
//
// The constructor points the client's OnWork at the thread (progress
// acFtpWrite/acFtpRead); the worker gives it back when it ends, the
// destructor when the thread never ran. The client must outlive the run
// (and a thread object that never ran). A worker given up by its owner
// (Abandon) still uses the client until it ends: break its transfer with
// AbortTransfer and keep the client until Done().
//
// Intermediate forms are staged in memory up to a size limit and in
// temporary files of the FTP client's TempDir above it, named after their
// stage ("gzip-<random>.tmp"; likewise encrypt, zip, unzip and compare) and
// deleted after use on every path.
#pragma once

#include "engine/GzipThread.h"
#include "engine/WinCopyThread.h"

#include <QString>

#include <cstdint>

namespace vl {

class TExtFtp;

// Staging limits: above them a temporary file is used.
inline constexpr int64_t kFtpLargeStage = 52428800; // 50 MiB
inline constexpr int64_t kFtpSmallStage = 1048576;  // 1 MiB

// Uploads the backup form of ASourceName as ADestName (remote) into the
// current remote directory; ADestDir is where a reconnect returns to.
class TWriteFtpThread : public TGZipThread {
public:
    TWriteFtpThread(TExtFtp *AFtp, const QString &ASourceName, const QString &ADestDir, const QString &ADestName,
                    TEncryption *AEncryption, TCopyOptions AOptions, int32_t ABufSize,
                    TThreadPriority APriority = TThreadPriority::tpNormal);
    ~TWriteFtpThread() override;

    // Bytes uploaded (zip form: the source's size); 0 when the thread
    // failed before its upload step.
    int64_t DestSize() const { return FFileSize; }
    // Sets the cancel flag; while the worker runs, stops the FTP client's
    // retries, resumes a paused worker and waits until Done() while
    // processing messages (the client's time-outs bound the wait). Before
    // Start and after Done it only sets the flag. The thread ends with 128
    // where it checks the flag (after a transfer: following a 1 s pause).
    void CancelThread() override;

protected:
    void Execute() override;

private:
    // The client's work events: acFtpWrite for sending, acFtpRead for the
    // verification download.
    void FtpWork(bool AWrite, int64_t ACount);
    int32_t UploadFile();
    int32_t UploadZip();
    // Uploads a prepared stream from its start (after a reconnect into
    // FDestDir with AReconnect), then cancel check and verification.
    // AReportedSize is the size for progress and DestSize (< 0: AStaged's).
    int32_t SendStaged(TStream &AStaged, bool AReconnect, int64_t AReportedSize = -1);
    int32_t VerifyUpload(TStream &S);

    TExtFtp *FFtp;
    bool FZipCompress;
    QString FDestDir;
    int64_t FFileSize = 0;
    bool FWorkHooked = false; // the client's OnWork points here
};

// Downloads ASourceName (remote, listed with AFileSize bytes) and restores
// ADestName (local) from it.
class TReadFtpThread : public TGUnZipThread {
public:
    TReadFtpThread(TExtFtp *AFtp, const QString &ASourceName, const QString &ADestName, int64_t AFileSize,
                   TEncryption *AEncryption, bool ACompress, bool AZipCompress, int32_t ABufSize,
                   TThreadPriority APriority = TThreadPriority::tpNormal);
    ~TReadFtpThread() override;

    // The time in the downloaded file's header (Unix seconds), 0 when none.
    uint32_t ModTime() const { return FModTime; }
    // As TWriteFtpThread::CancelThread.
    void CancelThread() override;

protected:
    void Execute() override;
    int32_t DownloadFile();
    int32_t CompareFile();
    // The gzip member whose header AHeader was read (S stands at its data)
    // inflated into ADest; an encrypted member is decrypted into a stage
    // chosen by AStageSize first. The header's key mode decides whether it
    // is decrypted.
    int32_t UnpackGzip(TStream &S, const TGzHeader &AHeader, TStream &ADest, int64_t AStageSize);
    // The encrypted form downloaded into a new stage (kept for the caller,
    // also on failure), its header read into AHeader.
    int32_t FetchEncrypted(std::unique_ptr<TStream> &AStaged, QString &AStagedName, TEncHeader &AHeader);
    // The rest of AStaged after the header decrypted into ADest.
    int32_t DecryptRest(TStream &AStaged, TStream &ADest);
    int32_t MissingPassword();

    TExtFtp *FFtp;
    uint32_t FModTime = 0;
    bool FZipCompress;
    int64_t FFileSize;
    bool FWorkHooked = false; // the client's OnWork points here

private:
    // Only receiving is reported (acFtpRead).
    void FtpWork(bool AWrite, int64_t ACount);
};

// Downloads ASourceName (remote), unpacks it and compares it with the
// local file ADestName.
class TCompareFtpThread : public TReadFtpThread {
public:
    using TReadFtpThread::TReadFtpThread;
    int64_t DestSize() const { return FFileSize; }

protected:
    void Execute() override;
};

} // namespace vl
