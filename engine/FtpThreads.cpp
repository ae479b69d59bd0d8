#include "engine/FtpThreads.h"

#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/FileTimes.h"
#include "core/Translate.h"
#include "engine/Encryption.h"
#include "engine/FtpUtils.h"
#include "platform/FileSystem.h"
#include "platform/Thread.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vl {

namespace {

// Bare codes (no class bits) of the FTP forms.
constexpr int32_t kReconnectFailed = feFtpConnect; // 26
constexpr int32_t kEncryptFailed = feEncryption;   // 10
constexpr int32_t kDecryptFailed = feDecryption;   // 11

constexpr uint8_t kEncFlagBase = 0x43; // 0x42 + time and attributes present
constexpr int kEncHeaderSize = 10;

void Sleep(int AMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

// The worker lets the server settle its side of an aborted transfer
// before the thread reports the cancel.
void PauseAfterCancel()
{
    Sleep(1000);
}

// A staging stream (memory or temporary file) that is freed, and its file
// deleted, on every way out, exceptions included.
struct TStage {
    std::unique_ptr<TStream> Stream;
    QString FileName;

    TStage() = default;
    TStage(const TStage &) = delete;
    TStage &operator=(const TStage &) = delete;
    ~TStage() { Free(); }
    TStream &operator*() const { return *Stream; }
    TStream *operator->() const { return Stream.get(); }
    void Free()
    {
        try {
            Stream.reset();
        } catch (...) {
        }
        if (!FileName.isEmpty()) {
            RemoveFile(FileName);
            FileName.clear();
        }
    }
};

uint32_t UnixTimeOf(const TFileData &AData)
{
    if (!AData.TimeStamps.Valid)
        return 0;
    return uint32_t(std::clamp<int64_t>(FileTimeToUnixSeconds(AData.TimeStamps.LastWriteTime), 0, 0xFFFFFFFFLL));
}

// Points the FTP client's work events at one thread; the thread's
// destructor clears them only while they are still its own.
struct TFtpWorkForward {
    const void *Owner;
    std::function<void(bool, int64_t)> Target;
    void operator()(bool AWrite, int64_t ACount) const { Target(AWrite, ACount); }
};

// Gives the client's work events back once: at the end of the worker's
// run (the object itself may be freed later, in the worker, after the
// client is gone), or in the destructor of a thread that never ran.
void ReleaseWork(TExtFtp *AFtp, const void *AOwner, bool &AHooked)
{
    if (!AHooked || !AFtp)
        return;
    AHooked = false;
    if (const auto *forward = AFtp->OnWork.target<TFtpWorkForward>(); forward && forward->Owner == AOwner)
        AFtp->OnWork = nullptr;
}

struct TReleaseWorkAtEnd {
    TExtFtp *Ftp;
    const void *Owner;
    bool &Hooked;
    ~TReleaseWorkAtEnd() { ReleaseWork(Ftp, Owner, Hooked); }
};

// Sets the cancel flag's consequences for a running worker: the client's
// retries stop, then the owner waits for the worker while processing
// messages (the client's time-outs bound the wait).
void CancelFtpThread(TThread &AThread, TExtFtp *AFtp, int APauseMs)
{
    if (!AThread.Started() || AThread.Done())
        return;
    if (AFtp && AFtp->Connected()) {
        AFtp->AbortTransfer();
        if (APauseMs > 0)
            Sleep(APauseMs);
    }
    // A paused worker would never see the flag.
    if (AThread.Paused())
        AThread.Resume();
    WaitUntil([&AThread] { return AThread.Done(); }, 10);
}

} // namespace

// ---- TWriteFtpThread ----

TWriteFtpThread::TWriteFtpThread(TExtFtp *AFtp, const QString &ASourceName, const QString &ADestDir,
                                 const QString &ADestName, TEncryption *AEncryption, TCopyOptions AOptions,
                                 int32_t ABufSize, TThreadPriority APriority)
    : TGZipThread(ASourceName, ADestName, AEncryption, ABufSize, APriority), FFtp(AFtp),
      FZipCompress(HasOption(AOptions, TCopyOption::coZipCompress)), FDestDir(ADestDir)
{
    FCompress = HasOption(AOptions, TCopyOption::coCompress);
    FVerify = HasOption(AOptions, TCopyOption::coVerify);
    FErrFlag = BackupErrorType(AOptions, AEncryption != nullptr);
    if (FFtp) {
        SetTempDir(FFtp->TempDir());
        FFtp->OnWork = TFtpWorkForward{this, [this](bool AWrite, int64_t ACount) { FtpWork(AWrite, ACount); }};
        FWorkHooked = true;
    }
}

TWriteFtpThread::~TWriteFtpThread()
{
    ReleaseWork(FFtp, this, FWorkHooked);
}

void TWriteFtpThread::FtpWork(bool AWrite, int64_t ACount)
{
    DoProgress(AWrite ? TFileAction::acFtpWrite : TFileAction::acFtpRead, ACount, true);
    // A pause or a speed-limit hold takes effect inside the file too; a
    // cancel meanwhile aborts the transfer through CancelThread.
    WaitGate();
}

void TWriteFtpThread::CancelThread()
{
    TGZipThread::CancelThread();
    CancelFtpThread(*this, FFtp, 200);
}

void TWriteFtpThread::Execute()
{
    const TReleaseWorkAtEnd release{FFtp, this, FWorkHooked};
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return FZipCompress ? UploadZip() : UploadFile(); }));
}

int32_t TWriteFtpThread::SendStaged(TStream &AStaged, bool AReconnect, int64_t AReportedSize)
{
    DoProgress(TFileAction::acFtpWrite, -(AReportedSize < 0 ? AStaged.Size() : AReportedSize), false);
    AStaged.SetPosition(0);
    int32_t result;
    if (!AReconnect || FFtp->ReConnect(FDestDir, true, true))
        result = FFtp->Flush(AStaged, DestName, false);
    else
        result = kReconnectFailed;
    FFileSize = AReportedSize < 0 ? AStaged.Size() : AReportedSize;
    if (IsCanceled()) {
        PauseAfterCancel();
        result = feTerminated;
    }
    if (FVerify && result == feOk)
        result = VerifyUpload(AStaged);
    return result;
}

int32_t TWriteFtpThread::UploadFile()
{
    int32_t result = OpenSource();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    const int64_t size = SourceFileData.FileSize;
    const uint32_t time = UnixTimeOf(SourceFileData);
    const int32_t keyMode = FCrypting ? FCrypting->KeyMode() : -1;
    const auto cancel = [this] { return IsCanceled(); };

    if (FCompress) {
        DoProgress(TFileAction::acCompress, -size, false);
        TStage staged;
        result = CreateTempStream(QStringLiteral("gzip.tmp"), size, kFtpLargeStage, staged.Stream, staged.FileName);
        if (result == feOk)
            result = WriteGzHeader(*staged, Filename, keyMode, time);
        const int64_t dataStart = result == feOk ? staged->Position() : 0;
        if (result == feOk && FCrypting) {
            TStage packed;
            result = CreateTempStream(QStringLiteral("encrypt.tmp"), size, kFtpLargeStage, packed.Stream,
                                      packed.FileName);
            if (result == feOk)
                result = DeflateStream(*sSource, *packed, false);
            if (result == feOk && size != UTotal) {
                // The file changed while it was read.
                SetSysError(sSource->LastError());
                result = feReadFile | ecError;
            }
            if (result == feOk) {
                DoProgress(TFileAction::acEncrypt, -packed->Size(), false);
                packed->SetPosition(0);
                const TOpResult r = FCrypting->EncryptStreamEx(*packed, *staged, true, cancel);
                result = CipherResult(r, *staged, feEncryption | ecError);
            }
            packed.Free();
            // The trailer of an encrypted member carries no CRC.
            FCrc = 0;
        } else if (result == feOk) {
            result = DeflateStream(*sSource, *staged, false);
            if (result == feOk && size != UTotal) {
                SetSysError(sSource->LastError());
                result = feReadFile | ecError;
            }
        }
        if (result == feOk) {
            CTotal = staged->Position() - dataStart;
            result = WriteGzTrailer(*staged, FCrc);
        }
        if (result == feOk)
            result = SendStaged(*staged, true);
    } else if (FCrypting) {
        DoProgress(TFileAction::acEncrypt, -size, false);
        TStage staged;
        result = CreateTempStream(QStringLiteral("encrypt.tmp"), size, kFtpLargeStage, staged.Stream,
                                  staged.FileName);
        if (result == feOk) {
            const uint32_t attr = SourceFileData.FileAttr;
            const uint8_t header[kEncHeaderSize] = {
                'Q', 'V', 'E', uint8_t(kEncFlagBase + 8 * keyMode),
                uint8_t(time), uint8_t(time >> 8), uint8_t(time >> 16), uint8_t(time >> 24),
                uint8_t(attr), uint8_t(attr >> 8)};
            try {
                if (staged->Write(header, kEncHeaderSize) != kEncHeaderSize) {
                    SetSysError(staged->LastError());
                    result = feWriteFile | ecError;
                }
            } catch (const std::exception &e) {
                result = WriteErrorCode(e);
            }
        }
        if (result == feOk) {
            const TOpResult r = FCrypting->EncryptStreamEx(*sSource, *staged, true, cancel);
            result = CipherResult(r, *staged, kEncryptFailed);
        }
        // As the local form: a file that changed while it was read is not
        // backed up half old, half new.
        if (result == feOk && sSource->Position() != size) {
            SetSysError(sSource->LastError());
            result = feReadFile | ecError;
        }
        if (result == feOk)
            result = SendStaged(*staged, true);
    } else {
        result = SendStaged(*sSource, false);
    }
    ReleaseStreams();
    return result;
}

int32_t TWriteFtpThread::UploadZip()
{
    int32_t result = OpenSource();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    const int64_t size = SourceFileData.FileSize;
    TStage staged;
    result = CreateTempStream(QStringLiteral("zip.tmp"), size, kFtpLargeStage, staged.Stream, staged.FileName);
    if (result == feOk) {
        {
            std::lock_guard<std::mutex> lock(FStreamLock);
            sDest = std::move(staged.Stream);
        }
        result = ZipFile(FCompress);
        {
            std::lock_guard<std::mutex> lock(FStreamLock);
            staged.Stream = std::move(sDest);
        }
    }
    // The source's size is what the zip form reports.
    if (result == feOk)
        result = SendStaged(*staged, false, size);
    staged.Free();
    ReleaseStreams();
    return result;
}

int32_t TWriteFtpThread::VerifyUpload(TStream &S)
{
    const int64_t size = S.Size();
    DoProgress(TFileAction::acVerify, -size, false);
    TStage copy;
    int32_t result = CreateTempStream(QStringLiteral("compare.tmp"), size, kFtpSmallStage, copy.Stream, copy.FileName);
    if (result == feOk) {
        DoProgress(TFileAction::acFtpRead, -size, false);
        result = FFtp->Fill(DestName, *copy);
    }
    if (result == feOk)
        result = CompareStreams(S, *copy, false);
    return result;
}

// ---- TReadFtpThread ----

TReadFtpThread::TReadFtpThread(TExtFtp *AFtp, const QString &ASourceName, const QString &ADestName,
                               int64_t AFileSize, TEncryption *AEncryption, bool ACompress, bool AZipCompress,
                               int32_t ABufSize, TThreadPriority APriority)
    : TGUnZipThread(ASourceName, ADestName, AEncryption, ABufSize, APriority), FFtp(AFtp),
      FZipCompress(AZipCompress), FFileSize(AFileSize)
{
    FCompress = ACompress;
    // The local file is replaced, but only once it is complete.
    Overwrite = true;
    FErrFlag = FZipCompress ? eoZip : FCompress ? eoGunzip : eoCopy;
    if (FFtp) {
        SetTempDir(FFtp->TempDir());
        FFtp->OnWork = TFtpWorkForward{this, [this](bool AWrite, int64_t ACount) { FtpWork(AWrite, ACount); }};
        FWorkHooked = true;
    }
}

TReadFtpThread::~TReadFtpThread()
{
    ReleaseWork(FFtp, this, FWorkHooked);
}

void TReadFtpThread::FtpWork(bool AWrite, int64_t ACount)
{
    if (!AWrite) {
        DoProgress(TFileAction::acFtpRead, ACount, true);
        WaitGate();
    }
}

void TReadFtpThread::CancelThread()
{
    TGUnZipThread::CancelThread();
    CancelFtpThread(*this, FFtp, 0);
}

void TReadFtpThread::Execute()
{
    const TReleaseWorkAtEnd release{FFtp, this, FWorkHooked};
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return DownloadFile(); }));
}

int32_t TReadFtpThread::MissingPassword()
{
    FSysErrMsg = Tr("The file is encrypted and no password was given.");
    return feDecryption | ecError;
}

int32_t TReadFtpThread::UnpackGzip(TStream &S, const TGzHeader &AHeader, TStream &ADest, int64_t AStageSize)
{
    FCrc = 0;
    UTotal = 0;
    CTotal = AHeader.CSize;
    int32_t result;
    // The header decides, never the presence of a password: a plain .gz
    // is inflated in a run that has one, an encrypted one needs it.
    if (AHeader.KeyMode < 0) {
        DoProgress(TFileAction::acUnCompress, -AHeader.USize, false);
        result = InflateToTrailer(S, &ADest, false);
        // Without our sizes subfield (a member written by another program)
        // only ISIZE, the size modulo 2^32, is known.
        if (result == feOk)
            result = CheckGzTrailer(S, AHeader.HasSizes ? AHeader.USize : UTotal);
        return result;
    }
    if (!FCrypting)
        return MissingPassword();
    DoProgress(TFileAction::acDecrypt, -S.Size(), false);
    FCrypting->SetKeyMode(AHeader.KeyMode);
    TStage packed;
    result = CreateTempStream(QStringLiteral("encrypt.tmp"), AStageSize, kFtpSmallStage, packed.Stream,
                              packed.FileName);
    if (result == feOk) {
        const TOpResult r =
            FCrypting->DecryptStreamEx(S, packed.Stream.get(), AHeader.CSize, true, [this] { return IsCanceled(); });
        result = CipherResult(r, *packed, feDecryption | ecError);
    }
    if (result == feOk) {
        DoProgress(TFileAction::acUnCompress, -AHeader.USize, false);
        packed->SetPosition(0);
        const int64_t packedSize = packed->Size();
        // An empty deflate stream still has two bytes: nothing to inflate
        // means damaged data.
        result = packedSize > 0 ? InflateStream(*packed, &ADest, false, packedSize) : feCorruptFile | ecError;
        // No CRC for encrypted data: as the local restore, the length must
        // match the header.
        if (result == feOk && UTotal != AHeader.USize)
            result = feCorruptFile | ecError;
    }
    return result;
}

int32_t TReadFtpThread::FetchEncrypted(std::unique_ptr<TStream> &AStaged, QString &AStagedName, TEncHeader &AHeader)
{
    DoProgress(TFileAction::acFtpRead, -FFileSize, false);
    int32_t result = CreateTempStream(QStringLiteral("encrypt.tmp"), FFileSize, kFtpLargeStage, AStaged, AStagedName);
    if (result == feOk)
        result = FFtp->Fill(SourceName, *AStaged);
    if (result == feOk) {
        DoProgress(TFileAction::acDecrypt, -AStaged->Size(), false);
        AStaged->SetPosition(0);
        result = ReadEncKeyMode(*AStaged, AHeader);
    }
    return result;
}

int32_t TReadFtpThread::DecryptRest(TStream &AStaged, TStream &ADest)
{
    const int64_t length = AStaged.Size() - AStaged.Position();
    const TOpResult r = FCrypting->DecryptStreamEx(AStaged, &ADest, length, true, [this] { return IsCanceled(); });
    return CipherResult(r, ADest, kDecryptFailed);
}

int32_t TReadFtpThread::DownloadFile()
{
    if (DestName.isEmpty())
        return feCreateFile | ecError;
    int32_t result = CreateDest(0644);
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    if (FCompress || FZipCompress) {
        DoProgress(TFileAction::acFtpRead, -FFileSize, false);
        TStage staged;
        result = CreateTempStream(QStringLiteral("gzip.tmp"), FFileSize, kFtpSmallStage, staged.Stream,
                                  staged.FileName);
        if (result == feOk)
            result = FFtp->Fill(SourceName, *staged);
        if (result == feOk) {
            staged->SetPosition(0);
            if (FZipCompress)
                result = ExtractZipEntry(*staged, *sDest, FModTime);
            else {
                TGzHeader header;
                result = ReadGzHeaderEx(*staged, header);
                if (result == feOk) {
                    FModTime = header.Time;
                    result = UnpackGzip(*staged, header, *sDest, FFileSize);
                }
            }
        }
    } else if (FCrypting) {
        TStage staged;
        TEncHeader header;
        result = FetchEncrypted(staged.Stream, staged.FileName, header);
        if (result == feOk)
            result = DecryptRest(*staged, *sDest);
        if (result == feOk && header.Time != 0)
            FModTime = header.Time;
        if (IsCanceled())
            result = feTerminated;
    } else {
        DoProgress(TFileAction::acFtpRead, -FFileSize, false);
        result = FFtp->Fill(SourceName, *sDest);
        if (IsCanceled()) {
            PauseAfterCancel();
            result = feTerminated;
        }
    }
    // The local file replaces an existing one only when it is complete.
    if (result == feOk) {
        if (auto *dest = dynamic_cast<TWriteFileStream *>(sDest.get())) {
            if (Cancelled()) {
                result = feTerminated;
            } else if (const uint32_t code = dest->Commit()) {
                SetSysError(code);
                result = feWriteFile | ecError;
            }
        }
    }
    ReleaseStreams();
    return result;
}

int32_t TReadFtpThread::CompareFile()
{
    if (!ReadFileData(DestName, SourceFileData))
        return feFileNotFound | ecError;
    {
        std::unique_ptr<TStream> ref;
        QString message;
        if (OpenReadShared(DestName, ref, message) != feOk) {
            FSysErrMsg = message;
            return feCreateFile | ecError;
        }
        std::lock_guard<std::mutex> lock(FStreamLock);
        sSource = std::move(ref);
    }
    TStream &ref = *sSource;
    const int64_t refSize = ref.Size();
    int32_t result = feOk;
    if (FCompress || FZipCompress) {
        TStage staged;
        result = CreateTempStream(QStringLiteral("gzip.tmp"), FFileSize, kFtpSmallStage, staged.Stream,
                                  staged.FileName);
        if (result == feOk) {
            DoProgress(TFileAction::acFtpRead, -FFileSize, false);
            result = FFtp->Fill(SourceName, *staged);
        }
        TStage unpacked;
        if (result == feOk) {
            staged->SetPosition(0);
            if (FZipCompress) {
                result = CreateTempStream(QStringLiteral("unzip.tmp"), refSize, kFtpSmallStage, unpacked.Stream,
                                          unpacked.FileName);
                if (result == feOk) {
                    TCappedStream capped(*unpacked, refSize + 1);
                    result = ExtractZipEntry(*staged, capped);
                }
            } else {
                TGzHeader header;
                result = ReadGzHeaderEx(*staged, header);
                // The header's size is the backup's word only; the capped
                // stream holds no more than the reference and a byte.
                const int64_t stageSize = std::max(header.USize, refSize);
                if (result == feOk)
                    result = CreateTempStream(QStringLiteral("unzip.tmp"), stageSize, kFtpSmallStage,
                                              unpacked.Stream, unpacked.FileName);
                if (result == feOk) {
                    TCappedStream capped(*unpacked, refSize + 1);
                    result = UnpackGzip(*staged, header, capped, stageSize);
                }
            }
        }
        if (result == feOk)
            result = CompareStreams(ref, *unpacked, false);
    } else {
        TStage unpacked;
        result = CreateTempStream(QStringLiteral("compare.tmp"), FFileSize, kFtpLargeStage, unpacked.Stream,
                                  unpacked.FileName);
        if (result == feOk && FCrypting) {
            TStage staged;
            TEncHeader header;
            result = FetchEncrypted(staged.Stream, staged.FileName, header);
            if (result == feOk) {
                TCappedStream capped(*unpacked, refSize + 1);
                result = DecryptRest(*staged, capped);
                if (IsCanceled()) {
                    PauseAfterCancel();
                    result = feTerminated;
                }
            }
        } else if (result == feOk) {
            DoProgress(TFileAction::acFtpRead, -FFileSize, false);
            result = FFtp->Fill(SourceName, *unpacked);
            if (result == feOk && IsCanceled()) {
                PauseAfterCancel();
                result = feTerminated;
            }
        }
        if (result == feOk)
            result = CompareStreams(ref, *unpacked, false);
    }
    ReleaseStreams();
    return result;
}

// ---- TCompareFtpThread ----

void TCompareFtpThread::Execute()
{
    const TReleaseWorkAtEnd release{FFtp, this, FWorkHooked};
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return CompareFile(); }));
}

} // namespace vl
