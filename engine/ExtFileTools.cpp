#include "engine/ExtFileTools.h"

#include "core/FileUtils.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "engine/Encryption.h"
#include "engine/FilePropUtils.h"
#include "platform/FileLock.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

namespace vl {

namespace {

constexpr int32_t kDefaultBufSize = 65536;
constexpr int kVerifyOpenAttempts = 26;
// Attribute bits a file can be given (SetFileAttr ignores the others).
constexpr uint32_t kSettableAttr = faReadOnly | faHidden | faSysFile | faArchive;
constexpr const char *kTempSuffix = ".vltmp";
constexpr int kTempRandomChars = 6;

QString ExceptionMessage(const std::exception &e)
{
    if (const auto *ex = dynamic_cast<const Exception *>(&e))
        return ex->Message();
    return QString::fromUtf8(e.what());
}

// The error of a short read: the stream's own error, or the end of the
// file (the file shrank while it was read).
uint32_t ShortReadError(const TStream &AStream, int64_t ARead)
{
    const uint32_t code = AStream.LastError();
    return code != 0 || ARead < 0 ? code : ERROR_HANDLE_EOF;
}

// A temporary name beside AFileName: ".<name>.<random>.vltmp", the name
// shortened so the whole fits into one file-name element.
QString TempNameBeside(const QString &dir, const QByteArray &name)
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const qsizetype room = NAME_MAX - 2 - kTempRandomChars - qsizetype(strlen(kTempSuffix));
    QByteArray temp;
    temp.reserve(NAME_MAX);
    temp.append('.');
    temp.append(name.left(room));
    temp.append('.');
    for (int i = 0; i < kTempRandomChars; ++i)
        temp.append(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    temp.append(kTempSuffix);
    return dir + DecodeFileName(temp);
}

// The first temporary name tried for a file: ".<name>.vltmp" (the name
// shortened to fit). Reusing it lets the next copy of the file replace what
// a killed writer left there; the random names are the fallback while
// another writer holds it.
QString FixedTempName(const QString &dir, const QByteArray &name)
{
    const qsizetype room = NAME_MAX - 1 - qsizetype(strlen(kTempSuffix));
    return dir + DecodeFileName('.' + name.left(room) + kTempSuffix);
}

// Removes the temporary file path when no writer holds it any more (each
// writer locks its file while it writes; the kernel drops the lock when
// the writer ends, also when it is killed). False when it is held, is no
// regular file, or the file system cannot tell (no locks).
bool RemoveStaleTemp(const QString &path)
{
    const int fd = ::open(EncodeFileName(path).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool removed = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && TryLockRange(fd, 0, 0, true) == ERROR_SUCCESS)
        removed = RemoveIfSameFile(path, fd) == ERROR_SUCCESS;
    ::close(fd);
    return removed;
}

} // namespace

// ---- Module functions ----

void ClearFileData(TFileData &Data)
{
    Data.FileName.clear();
    Data.FullPath.clear();
    Data.FileSize = 0;
    Data.FileAttr = faArchive;
    Data.Mode = 0644;
    Data.TimeStamps.Reset();
}

bool ReadFileData(const QString &Path, TFileData &Data)
{
    ClearFileData(Data);
    Data.FileName = LastPathElement(Path);
    TStatInfo st;
    if (StatPath(Path, false, st) != ERROR_SUCCESS)
        return false;
    bool followed = false;
    // The copy opens what a link leads to, so size and times must be of
    // that file too, or a copy would stop after the length of the link text.
    if (st.IsLink()) {
        if (StatPath(Path, true, st) != ERROR_SUCCESS)
            return false;
        followed = true;
    }
    if (st.IsDir())
        return false;
    Data.FileSize = st.Size;
    Data.FileAttr = AttrFromStat(Path, st, followed);
    Data.Mode = st.Mode & 07777;
    Data.TimeStamps.Valid = true;
    Data.TimeStamps.LastWriteTime = TimespecToFileTime(st.MTime);
    Data.TimeStamps.LastAccessTime = TimespecToFileTime(st.ATime);
    Data.TimeStamps.CreationTime = st.HasBTime ? TimespecToFileTime(st.BTime) : Data.TimeStamps.LastWriteTime;
    return true;
}

QString SystemErrorLine(uint32_t ACode)
{
    return GuardedFormat(Tr(VL_TR_NOOP("System error: %s")), SystemErrorText(ACode));
}

QString LastSystemErrorText()
{
    return SystemErrorLine(ErrnoToError(errno));
}

void ApplyThreadPriority(TThreadPriority APriority)
{
    static const int kNice[] = {19, 10, 5, 0, -5, -10, -15};
    if (APriority == TThreadPriority::tpNormal)
        return; // a new thread runs at its creator's nice value already
    // Per-thread nice value; raising it needs privileges and is skipped
    // when they are missing.
    setpriority(PRIO_PROCESS, id_t(gettid()), kNice[int(APriority)]);
}

// ---- TWriteFileStream ----

TWriteFileStream::TWriteFileStream(const QString &AFileName, bool Overwrite, uint32_t WriteMode, uint16_t ShareMode,
                                   uint32_t Mode)
    : FFileName(AFileName), FOverwrite(Overwrite), FWriteThrough((WriteMode & kWriteThrough) != 0),
      FMode(Mode & 07777)
{
    Q_UNUSED(ShareMode); // advisory on this system: nothing is locked
    const qsizetype slash = AFileName.lastIndexOf(QLatin1Char('/'));
    const QString dir = AFileName.left(slash + 1);
    const QByteArray name = EncodeFileName(AFileName.mid(slash + 1));
    if (name.isEmpty() || name == "." || name == "..")
        throw EWriteFileStreamError(int32_t(ERROR_INVALID_NAME));
    // Without Overwrite an existing file stays as it is: fail before any
    // data is written (the final rename refuses it again should one appear
    // meanwhile).
    if (!Overwrite && PathExists(AFileName, false))
        throw EWriteFileStreamError(int32_t(ERROR_FILE_EXISTS));
    // A folder is no file to replace: refuse it now, not after all the data
    // has been written beside it.
    if (TStatInfo st; Overwrite && StatPath(AFileName, false, st) == ERROR_SUCCESS && st.IsDir())
        throw EWriteFileStreamError(int32_t(ERROR_ACCESS_DENIED));
    uint32_t code = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        FTempName = attempt == 0 ? FixedTempName(dir, name) : TempNameBeside(dir, name);
        code = FFile.Open(FTempName, TFile::faWrite, TFile::fcCreateNew, 0600);
        if (code == ERROR_FILE_EXISTS && attempt == 0 && RemoveStaleTemp(FTempName))
            code = FFile.Open(FTempName, TFile::faWrite, TFile::fcCreateNew, 0600);
        if (code != ERROR_FILE_EXISTS)
            break;
    }
    if (code != ERROR_SUCCESS) {
        FTempName.clear();
        throw EWriteFileStreamError(int32_t(code));
    }
    // Held while the data are written: tells a file being written from one
    // a killed writer left behind (see RemoveStaleTemp). A file system
    // without locks only loses that distinction.
    TryLockRange(FFile.Handle(), 0, 0, true);
    // Exactly the given bits: the umask must not widen or narrow what the
    // source allowed. A file system without modes keeps its own.
    FModeApplied = fchmod(FFile.Handle(), mode_t(FMode)) == 0;
    if (WriteMode & kSequentialScan)
        posix_fadvise(FFile.Handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

TWriteFileStream::~TWriteFileStream()
{
    FFile.Close();
    if (!FCommitted && !FTempName.isEmpty())
        RemoveFile(FTempName);
}

int64_t TWriteFileStream::Read(void *, int64_t)
{
    FLastError = ERROR_ACCESS_DENIED;
    return -1;
}

int64_t TWriteFileStream::Write(const void *buffer, int64_t count)
{
    if (!FFile.IsOpen()) {
        FLastError = ERROR_INVALID_HANDLE;
        throw EWriteFileStreamError(int32_t(FLastError));
    }
    int64_t done = 0;
    const uint32_t code = FFile.Write(buffer, count < 0 ? 0 : count, done);
    if (code == ERROR_SUCCESS)
        return done;
    FLastError = code;
    // Part of the data went to disk before it filled up: the caller sees
    // the smaller count.
    if (done > 0)
        return done;
    throw EWriteFileStreamError(int32_t(code));
}

int64_t TWriteFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    int64_t pos = -1;
    if (const uint32_t code = FFile.Seek(offset, whence, pos)) {
        FLastError = code;
        return -1;
    }
    return pos;
}

int64_t TWriteFileStream::Size()
{
    int64_t size = -1;
    if (const uint32_t code = FFile.Size(size)) {
        FLastError = code;
        return -1;
    }
    return size;
}

bool TWriteFileStream::SetSize(int64_t newSize)
{
    if (const uint32_t code = FFile.Truncate(newSize)) {
        FLastError = code;
        return false;
    }
    return true;
}

uint32_t TWriteFileStream::Flush()
{
    if (!FFile.IsOpen())
        return FCommitted ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    const uint32_t code = FFile.Sync();
    if (code)
        FLastError = code;
    return code;
}

uint32_t TWriteFileStream::Commit()
{
    if (FCommitted)
        return ERROR_SUCCESS;
    if (!FFile.IsOpen())
        return ERROR_INVALID_HANDLE;
    if (FWriteThrough) {
        if (const uint32_t code = Flush())
            return code;
    }
    // A network file system may report a failed write only when a
    // descriptor of the file is closed: close a duplicate and look.
    if (const int fd = ::dup(FFile.Handle()); fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        FLastError = ErrnoToError(errno);
        FFile.Close();
        RemoveFile(FTempName);
        FTempName.clear();
        return FLastError;
    }
    FFile.Close();
    uint32_t code = FOverwrite ? RenameReplace(FTempName, FFileName) : MoveNoReplace(FTempName, FFileName);
    if (code == ERROR_ALREADY_EXISTS)
        code = ERROR_FILE_EXISTS;
    if (code != ERROR_SUCCESS) {
        FLastError = code;
        RemoveFile(FTempName);
        FTempName.clear();
        return code;
    }
    FCommitted = true;
    return ERROR_SUCCESS;
}

// ---- TCopyThread ----

TCopyThread::TCopyThread(const QString &ASourceName, const QString &ADestName, int32_t ABufSize,
                         TThreadPriority APriority)
    : SourceName(ASourceName), DestName(ADestName), fTmpDir(TempDirectory()),
      FBufSize(ABufSize > 0 ? ABufSize : kDefaultBufSize), FPriority(APriority)
{
    FBuffer = QByteArray(FBufSize, Qt::Uninitialized);
}

TCopyThread::~TCopyThread()
{
    if (FCrypting) {
        FCrypting->Event = nullptr;
        FCrypting->OnProgress = nullptr;
    }
    ReleaseStreams();
}

void TCopyThread::SetOnProgress(const TFileProgressEvent &Value)
{
    FOnProgress = Value;
    FProgressTarget = Value ? std::make_shared<const TFileProgressEvent>(Value) : nullptr;
    // An attached encryption object reports through DoProgress already.
}

void TCopyThread::SetTempDir(const QString &Value)
{
    if (!Value.isEmpty() && XlDirectoryExists(Value, true))
        fTmpDir = WithTrailingDelimiter(Value);
    else
        fTmpDir = TempDirectory();
}

void TCopyThread::SetNoWriteCache(bool Value)
{
    FWriteMode = Value ? (kWriteThrough | kSequentialScan) : kSequentialScan;
}

void TCopyThread::CancelThread()
{
    FUserBreak = true;
}

void TCopyThread::ReleaseStreams()
{
    std::unique_ptr<TStream> source, dest;
    {
        std::lock_guard<std::mutex> lock(FStreamLock);
        source = std::move(sSource);
        dest = std::move(sDest);
    }
    try {
        source.reset();
    } catch (...) {
    }
    try {
        dest.reset(); // an uncommitted destination's temporary file goes
    } catch (...) {
    }
}

void TCopyThread::Execute()
{
    ApplyThreadPriority(FPriority);
    FPriorityApplied = true;
    const int32_t result = Guarded([this] {
        return (ShellCopy & (1u << unsigned(TShellCopyMode::scmCopy))) ? ShellCopyFile() : PlainCopy();
    });
    Finish(result);
}

int32_t TCopyThread::Guarded(const std::function<int32_t()> &ABody)
{
    try {
        return ABody();
    } catch (const std::exception &e) {
        // Nothing may escape a worker without its finish step: keep the
        // message, close (and so drop an unfinished destination).
        FSysErrMsg = ExceptionMessage(e);
        ReleaseStreams();
        return feWriteFile | ecError;
    }
}

void TCopyThread::Finish(int32_t ACode)
{
    WaitGate();
    if (FCompress && UTotal > 0)
        FRatio = int32_t(std::nearbyint(1000.0 * double(CTotal) / double(UTotal))); // halves to even
    if (FSysError != 0)
        FSysErrMsg = SystemErrorLine(FSysError);
    if (ACode != 0)
        FError = ACode | FErrFlag;
    // Nothing uses the caller's encryption object any more: let go of it
    // now, so the caller may free it once Done() is true, whoever frees
    // this object later.
    if (FCrypting) {
        FCrypting->Event = nullptr;
        FCrypting->OnProgress = nullptr;
        FCrypting = nullptr;
    }
}

void TCopyThread::DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit)
{
    if (!FProgressTarget)
        return;
    // Non-blocking: the owner runs it in order when it processes messages.
    Queue([target = FProgressTarget, AAction, ACount, ASpeedLimit] { (*target)(AAction, ACount, ASpeedLimit); });
}

bool TCopyThread::SetSysError(uint32_t ACode)
{
    if (ACode == 0)
        return false;
    // Our error numbers are already those of the system scheme; plain ones
    // are kept in facility 7, errno values without a number of their own
    // keep their marker bit.
    if ((ACode & 0x07FF0000u) != 0 || (ACode & ERROR_ERRNO_BIT) != 0)
        FSysError = ACode;
    else
        FSysError = 0x00070000u + (ACode & 0xFFFFu);
    return true;
}

bool TCopyThread::WaitGate()
{
    if (!FPriorityApplied) {
        // Descendants' Execute bodies reach the gate first thing.
        ApplyThreadPriority(FPriority);
        FPriorityApplied = true;
    }
    return WaitIfPaused();
}

bool TCopyThread::IsCanceled() const
{
    return FUserBreak || Terminated();
}

void TCopyThread::AttachEncryption(TEncryption *AEncryption)
{
    FCrypting = AEncryption;
    if (!FCrypting)
        return;
    FCrypting->Event = [this] { WaitGate(); };
    FCrypting->OnProgress = [this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) {
        DoProgress(AAction, ACount, ASpeedLimit);
    };
}

int32_t TCopyThread::OpenStreams()
{
    int32_t result = OpenSource();
    // An existing destination needs no attributes cleared: the new file
    // replaces it by a rename, whatever its own attributes say.
    return result != feOk ? result : CreateDest(SourceFileData.Mode);
}

int32_t TCopyThread::OpenSource()
{
    if (!ReadFileData(SourceName, SourceFileData))
        return feFileNotFound | ecError;
    if (DestName.isEmpty())
        return feCreateFile | ecError;
    try {
        auto source = std::make_unique<TExtFileStream>(SourceName, kOpenReadShared);
        std::lock_guard<std::mutex> lock(FStreamLock);
        sSource = std::move(source);
    } catch (const EExtFileStreamError &e) {
        FSysErrMsg = e.Message();
        return feOpenFile | ecError;
    }
    return feOk;
}

int32_t TCopyThread::CreateDest(uint32_t AMode)
{
    if (DestName.isEmpty())
        return feCreateFile | ecError;
    if (Cancelled())
        return feTerminated;
    try {
        auto dest = std::make_unique<TWriteFileStream>(DestName, Overwrite, FWriteMode, 0, AMode);
        std::lock_guard<std::mutex> lock(FStreamLock);
        sDest = std::move(dest);
    } catch (const std::exception &e) {
        FSysErrMsg = ExceptionMessage(e);
        return feCreateFile | ecError;
    }
    return feOk;
}

int32_t TCopyThread::ReadBlock(TStream &ASource, char *ABuffer, int64_t ACount, bool AExact, int64_t &ARead,
                               int32_t AError)
{
    ARead = 0;
    if (!WaitGate())
        return feTerminated;
    try {
        ARead = ASource.Read(ABuffer, ACount);
    } catch (const std::exception &e) {
        FSysErrMsg = ExceptionMessage(e);
        return AError;
    }
    if (ARead < 0 || (AExact && ARead < ACount)) {
        SetSysError(ShortReadError(ASource, ARead));
        return AError;
    }
    return feOk;
}

int32_t TCopyThread::CopyBlocks(TStream &ASource, TStream *ADest, bool ASpeedLimit, int64_t ALength)
{
    int32_t result = feOk;
    int64_t remaining = ALength;
    char *buffer = FBuffer.data();
    do {
        const int64_t n = std::min<int64_t>(FBufSize, std::max<int64_t>(remaining, 0));
        int64_t read;
        if ((result = ReadBlock(ASource, buffer, n, true, read)) != feOk)
            break;
        UTotal += read;
        DoProgress(ADest ? TFileAction::acCopy : TFileAction::acPrepare, UTotal, ASpeedLimit);
        FCrc = UpdateCrc32(FCrc, buffer, read);
        if (ADest) {
            if (Cancelled()) {
                result = feTerminated;
                break;
            }
            try {
                const int64_t written = ADest->Write(buffer, read);
                if (written < 0) {
                    const uint32_t code = ADest->LastError();
                    SetSysError(code);
                    result = (code == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
                } else if (written < read) {
                    SetSysError(ADest->LastError() ? ADest->LastError() : ERROR_DISK_FULL);
                    result = feLowDiskSpace | ecError;
                }
            } catch (const std::exception &e) {
                result = WriteErrorCode(e);
            }
        }
        if (result == feOk && IsCanceled())
            result = feTerminated;
        remaining -= read;
    } while (remaining > 0 && result == feOk);
    CTotal = UTotal;
    return result;
}

int32_t TCopyThread::KernelCopy(int ASourceFd, int ADestFd, bool &AFallBack)
{
    AFallBack = false;
    int64_t remaining = SourceFileData.FileSize;
    do {
        if (!WaitGate())
            return feTerminated;
        const int64_t n = std::min<int64_t>(FBufSize, remaining);
        if (n > 0) {
            if (Cancelled())
                return feTerminated;
            const ssize_t copied = copy_file_range(ASourceFd, nullptr, ADestFd, nullptr, size_t(n), 0);
            if (copied < 0) {
                if (errno == EINTR)
                    continue;
                // The read/write loop takes over from where the kernel
                // stopped; on a real failure it names the failing side.
                AFallBack = true;
                return feOk;
            }
            if (copied == 0) {
                // The file shrank, or its file system copies nothing this
                // way (some report an end of file early): the read loop
                // tells which.
                AFallBack = true;
                return feOk;
            }
            UTotal += copied;
            remaining -= copied;
        }
        DoProgress(TFileAction::acCopy, UTotal, true);
        if (IsCanceled())
            return feTerminated;
    } while (remaining > 0);
    CTotal = UTotal;
    return feOk;
}

int32_t TCopyThread::CopySourceData()
{
    const int64_t size = SourceFileData.FileSize;
    // The kernel copies without passing the data through here, so no CRC
    // comes of it; a verified copy needs the CRC and reads it itself.
    if (!FVerify) {
        auto *source = dynamic_cast<TExtFileStream *>(sSource.get());
        auto *dest = dynamic_cast<TWriteFileStream *>(sDest.get());
        if (source && dest) {
            const int64_t before = UTotal;
            bool fallBack = false;
            const int32_t result = KernelCopy(source->Handle(), dest->Handle(), fallBack);
            if (!fallBack)
                return result;
            // The file offsets stand after what the kernel copied.
            return CopyBlocks(*sSource, sDest.get(), true, size - (UTotal - before));
        }
    }
    return CopyBlocks(*sSource, sDest.get(), true, size);
}

int32_t TCopyThread::CompareStreams(TStream &ARef, TStream &AOther, bool ASpeedLimit)
{
    const int64_t size = ARef.Size();
    DoProgress(TFileAction::acVerify, -size, false);
    // A size that cannot be had is a failed read, never two equal sizes.
    if (size < 0) {
        SetSysError(ARef.LastError() ? ARef.LastError() : ERROR_IO_DEVICE);
        return feReadFile | ecError;
    }
    const int64_t otherSize = AOther.Size();
    if (otherSize < 0) {
        SetSysError(AOther.LastError() ? AOther.LastError() : ERROR_IO_DEVICE);
        return feReadFile | ecSecondFile;
    }
    if (size != otherSize)
        return feSizeMismatch | ecError;
    ARef.SetPosition(0);
    AOther.SetPosition(0);
    QByteArray other(FBufSize, Qt::Uninitialized);
    char *buffer = FBuffer.data();
    int32_t result = feOk;
    int64_t remaining = size, compared = 0;
    do {
        const int64_t n = std::min<int64_t>(FBufSize, std::max<int64_t>(remaining, 0));
        int64_t read;
        if ((result = ReadBlock(ARef, buffer, n, true, read)) != feOk)
            break;
        compared += n;
        DoProgress(TFileAction::acVerify, compared, ASpeedLimit);
        // The second stream is read right after the first: no second wait.
        try {
            read = AOther.Read(other.data(), n);
            if (read < n) {
                SetSysError(ShortReadError(AOther, read));
                result = feReadFile | ecSecondFile;
            }
        } catch (const std::exception &e) {
            FSysErrMsg = ExceptionMessage(e);
            result = feReadFile | ecSecondFile;
        }
        if (result == feOk && IsCanceled())
            result = feTerminated;
        remaining -= n;
        if (result == feOk && n > 0 && memcmp(buffer, other.constData(), size_t(n)) != 0)
            result = feDifferentContent | ecError;
    } while (remaining > 0 && result == feOk);
    return result;
}

namespace {

// The target of a compression stream, which writes on its own (also when
// it is freed after a failure): a worker that was given up writes nothing.
class TCancelGuardStream : public TStream {
public:
    TCancelGuardStream(TStream &ATarget, const TThread &AThread) : FTarget(ATarget), FThread(AThread) {}
    int64_t Read(void *buffer, int64_t count) override { return FTarget.Read(buffer, count); }
    int64_t Write(const void *buffer, int64_t count) override
    {
        if (FThread.Cancelled()) {
            FCancelled = true;
            return -1;
        }
        return FTarget.Write(buffer, count);
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FTarget.Seek(offset, origin); }
    int64_t Size() override { return FTarget.Size(); }
    bool SetSize(int64_t newSize) override { return FTarget.SetSize(newSize); }
    uint32_t LastError() const override { return FCancelled ? ERROR_CANCELLED : FTarget.LastError(); }

private:
    TStream &FTarget;
    const TThread &FThread;
    bool FCancelled = false;
};

} // namespace

int32_t TCopyThread::DeflateStream(TStream &ASource, TStream &ADest, bool ASpeedLimit)
{
    TCancelGuardStream target(ADest, *this);
    const int64_t startPos = ADest.Position();
    int32_t result = feOk;
    int64_t read = 0, total = 0;
    char *buffer = FBuffer.data();
    {
        TZCompressionStream zip(target, FCompLevel, -15);
        do {
            if ((result = ReadBlock(ASource, buffer, FBufSize, false, read)) != feOk)
                break;
            UTotal += read;
            total += read;
            DoProgress(TFileAction::acCompress, UTotal, ASpeedLimit);
            FCrc = UpdateCrc32(FCrc, buffer, read);
            if (Cancelled()) {
                result = feTerminated;
                break;
            }
            try {
                zip.Write(buffer, read);
            } catch (const std::exception &e) {
                result = WriteErrorCode(e);
                break;
            }
            if (IsCanceled())
                result = feTerminated;
        } while (read == FBufSize && result == feOk);
        if (result == feOk) {
            try {
                zip.Finish();
            } catch (const std::exception &e) {
                result = WriteErrorCode(e);
            }
        }
    }
    if (result != feOk)
        return result;
    if (total == 0)
        return feOk;
    if (ADest.Position() <= startPos)
        return feLowDiskSpace | ecError;
    return feOk;
}

int32_t TCopyThread::InflateStream(TStream &ASource, TStream *ADest, bool ASpeedLimit, int64_t ALength)
{
    // No compressed bytes at all: a limit of 0 would mean "up to the end"
    // and inflate whatever follows (a trailer, the next entry).
    if (ALength <= 0) {
        SetSysError(ERROR_HANDLE_EOF);
        return feReadFile | ecError;
    }
    int32_t result = feOk;
    int64_t read = 0, count = 0;
    char *buffer = FBuffer.data();
    TZDecompressionStream unzip(ASource, -15, ALength);
    do {
        if ((result = ReadBlock(unzip, buffer, FBufSize, false, read)) != feOk) {
            if (read < 0) // the inflater passes read errors of its source on as exceptions
                SetSysError(ASource.LastError());
            break;
        }
        FCrc = UpdateCrc32(FCrc, buffer, read);
        count += read;
        DoProgress(TFileAction::acUnCompress, count, ASpeedLimit);
        int64_t written = read;
        if (ADest) {
            if (Cancelled()) {
                result = feTerminated;
                break;
            }
            try {
                written = ADest->Write(buffer, read);
            } catch (const std::exception &e) {
                result = WriteErrorCode(e);
                break;
            }
        }
        if (written < 0) {
            const uint32_t code = ADest->LastError();
            SetSysError(code);
            result = (code == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
            break;
        }
        UTotal += written;
        if (written < read) {
            SetSysError(ADest->LastError() ? ADest->LastError() : ERROR_DISK_FULL);
            result = feLowDiskSpace | ecError;
            break;
        }
        if (IsCanceled())
            result = feTerminated;
    } while (read == FBufSize && result == feOk);
    return result;
}

int32_t TCopyThread::InflateToTrailer(TStream &ASource, TStream *ADest, bool ASpeedLimit)
{
    return InflateStream(ASource, ADest, ASpeedLimit, ASource.Size() - ASource.Position() - 8);
}

int32_t TCopyThread::CommitDest()
{
    FFreshDest = false;
    auto *dest = dynamic_cast<TWriteFileStream *>(sDest.get());
    if (!dest)
        return feOk;
    if (FVerify) {
        if (const uint32_t code = dest->Flush()) {
            SetSysError(code);
            return feWriteFile | ecError;
        }
    }
    if (Cancelled())
        return feTerminated;
    if (const uint32_t code = dest->Commit()) {
        SetSysError(code);
        // Someone created the name meanwhile: as when it existed before.
        return (code == ERROR_FILE_EXISTS ? feCreateFile : feWriteFile) | ecError;
    }
    FFreshDest = dest->ModeApplied();
    FFreshDestMode = dest->Mode();
    return feOk;
}

int32_t TCopyThread::FinishDest(bool ACopyStorage, bool ACopyAltStreams, uint16_t AAttr,
                                const TFileTimestamps &ATimeStamps, bool ACopyAcl)
{
    int32_t result = CommitDest();
    ReleaseStreams();
    if (result != feOk)
        return result;
    if (Cancelled())
        return feTerminated; // given up by its owner: the file stays as it is
    uint32_t code;
    if (ACopyAltStreams && SetSysError(CopyAlternateStreams(SourceName, DestName)))
        return feCopyStreams | ecWarning;
    if (ACopyStorage && (result = CopySummary()) != feOk)
        return result;
    if (ACopyAcl && SetSysError(CopyFileAcl(SourceName, DestName)))
        return feCopyPermissions | ecWarning;
    // Times before attributes: clearing the archive bit stamps the file
    // with its modification time.
    if (CopyTimeStamp && SetSysError(SetFileTimestamps(DestName, ATimeStamps, CheckTime, CopyCreationTime, false)))
        return feSetTimestamp | ecWarning;
    if (CopyAttr) {
        uint32_t attr = AAttr;
        if (ResetArchiveBit)
            attr &= ~uint32_t(faArchive);
        uint32_t current = faInvalid;
        if (FFreshDest && !ACopyAcl) {
            // A file just created has no attribute xattrs: the archive bit
            // is set, read-only and hidden follow from mode and name. This
            // saves reading them back for every file.
            current = faArchive | (FFreshDestMode & S_IWUSR ? 0u : uint32_t(faReadOnly))
                | (LastPathElement(DestName).startsWith(QLatin1Char('.')) ? uint32_t(faHidden) : 0u);
            code = ERROR_SUCCESS;
        } else {
            code = GetFileAttr(DestName, false, current);
        }
        if (code != ERROR_SUCCESS || (current & kSettableAttr) != (attr & kSettableAttr)) {
            if (SetSysError(SetFileAttr(DestName, attr, false)))
                return feSetAttributes | ecWarning;
        }
    }
    return feOk;
}

int32_t TCopyThread::FinishDestFromSource(bool ACopyStorage, bool ACopyAltStreams, bool ACopyAcl)
{
    return FinishDest(ACopyStorage, ACopyAltStreams, uint16_t(SourceFileData.FileAttr), SourceFileData.TimeStamps,
                      ACopyAcl);
}

int32_t TCopyThread::CopySummary()
{
    TFileSummary summary;
    uint32_t code = ReadFileSummary(SourceName, summary);
    if (code == 0)
        code = WriteFileSummary(DestName, summary);
    if (code != 0) {
        FSysError = code;
        return feCopySummary | ecWarning;
    }
    return feOk;
}

int32_t TCopyThread::OpenForVerify(const QString &AName)
{
    const uint32_t pause = VerifyDelay * 1000 / 25;
    QString message;
    for (int attempt = 0; attempt < kVerifyOpenAttempts; ++attempt) {
        try {
            auto stream = std::make_unique<TExtFileStream>(AName, kOpenReadShared);
            std::lock_guard<std::mutex> lock(FStreamLock);
            sDest = std::move(stream);
            return feOk;
        } catch (const EExtFileStreamError &e) {
            message = e.Message();
        }
        // The pause ends early when the thread is canceled.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pause);
        while (std::chrono::steady_clock::now() < until) {
            if (IsCanceled())
                return feTerminated;
            const auto left = until - std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
        }
    }
    FSysErrMsg = message + QStringLiteral(" (") + QString::number(uint64_t(pause) * 25) + QStringLiteral("ms)");
    return feOpenForVerify | ecError;
}

int32_t TCopyThread::PlainCopy()
{
    int32_t result = OpenStreams();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    DoProgress(TFileAction::acCopy, -SourceFileData.FileSize, false);
    result = CopySourceData();
    if (result != feOk) {
        ReleaseStreams();
        return result;
    }
    return FinishDestFromSource(CopyStorage, CopyAltStreams, CopyPermissions);
}

int32_t TCopyThread::CreateTempStream(const QString &AName, int64_t ASize, int64_t AThreshold,
                                      std::unique_ptr<TStream> &AStream, QString &AFileName)
{
    AFileName.clear();
    if (ASize <= AThreshold) {
        AStream = std::make_unique<TMemoryStream>();
        return feOk;
    }
    // Each temporary file gets a name of its own ("gzip.tmp" becomes
    // "gzip-<random>.tmp"): threads and processes sharing one folder never
    // meet, and a file or link someone placed there is never written through.
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? AName : AName.left(dot);
    const QString ext = dot < 0 ? QString() : AName.mid(dot);
    QString name;
    for (int attempt = 0;; ++attempt) {
        name = fTmpDir + stem + QLatin1Char('-')
               + QString::number(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFULL, 36) + ext;
        try {
            auto stream = std::make_unique<TExtFileStream>(name, uint16_t(kCreateExclusive | 0x04), 0600);
            fchmod(stream->Handle(), 0600);
            AStream = std::move(stream);
            break;
        } catch (const EExtFileStreamError &e) {
            if (uint32_t(e.ErrorCode()) == ERROR_FILE_EXISTS && attempt < 16)
                continue;
            FSysErrMsg = ExceptionMessage(e);
            return feCreateFile | ecError;
        } catch (const std::exception &e) {
            FSysErrMsg = ExceptionMessage(e);
            return feCreateFile | ecError;
        }
    }
    AFileName = name;
    return feOk;
}

void TCopyThread::FreeTempStream(std::unique_ptr<TStream> &AStream, const QString &AFileName)
{
    try {
        AStream.reset();
    } catch (...) {
    }
    if (!AFileName.isEmpty())
        RemoveFile(AFileName);
}

int32_t TCopyThread::WriteErrorCode(const std::exception &e, int32_t AOther)
{
    FSysErrMsg = ExceptionMessage(e);
    if (const auto *w = dynamic_cast<const EWriteFileStreamError *>(&e); w && w->ErrorCode() == int32_t(ERROR_DISK_FULL))
        return feLowDiskSpace | ecError;
    return AOther;
}

int32_t TCopyThread::CipherResult(TOpResult AResult, const TStream &ATarget, int32_t ACipherError)
{
    if (AResult == TOpResult::orOk)
        return feOk;
    if (AResult == TOpResult::orUserBreak)
        return feTerminated;
    const uint32_t writeError = ATarget.LastError();
    if (writeError == 0)
        return ACipherError;
    SetSysError(writeError);
    return (writeError == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
}

// ---- TCappedStream ----

int64_t TCappedStream::Write(const void *buffer, int64_t count)
{
    const int64_t room = std::max<int64_t>(0, FLimit - FTarget.Position());
    const int64_t n = std::min(count, room);
    if (n > 0 && FTarget.Write(buffer, n) != n)
        return -1;
    return count;
}

// ---- TCopyStreamThread ----

TCopyStreamThread::TCopyStreamThread(TStream &ASource, TStream &ADest, int64_t ALength, bool ASpeedLimit,
                                     int32_t ABufSize, TThreadPriority APriority)
    : FLength(ALength), FSpeedLimit(ASpeedLimit), FBufSize(ABufSize > 0 ? ABufSize : kDefaultBufSize),
      FBuffer(FBufSize, Qt::Uninitialized), sSource(ASource), sDest(ADest), FPriority(APriority)
{
}

void TCopyStreamThread::Execute()
{
    ApplyThreadPriority(FPriority);
    const auto progress = FOnSProgress ? std::make_shared<const TFileProgressEvent>(FOnSProgress) : nullptr;
    int32_t code = 0;
    do {
        const int64_t chunk = std::min<int64_t>(FBufSize, std::max<int64_t>(FLength, 0));
        if (!WaitIfPaused()) {
            code = feTerminated;
            break;
        }
        int64_t read = 0;
        try {
            read = sSource.Read(FBuffer.data(), chunk);
            if (read < chunk) {
                FSysErrMsg = SystemErrorLine(ShortReadError(sSource, read));
                code = feReadFile;
            }
        } catch (const std::exception &e) {
            FSysErrMsg = ExceptionMessage(e);
            code = feReadFile;
        }
        if (code != 0)
            break;
        FTotal += read;
        if (progress)
            Queue([progress, total = FTotal, limit = FSpeedLimit] { (*progress)(TFileAction::acCopy, total, limit); });
        if (Cancelled()) {
            code = feTerminated;
            break;
        }
        try {
            const int64_t written = sDest.Write(FBuffer.constData(), read);
            if (written < read) {
                if (sDest.LastError())
                    FSysErrMsg = SystemErrorLine(sDest.LastError());
                code = feLowDiskSpace;
            }
        } catch (const std::exception &e) {
            FSysErrMsg = ExceptionMessage(e);
            code = feWriteFile;
        }
        FLength -= read;
    } while (FLength > 0 && code == 0);
    FBuffer = QByteArray();
    WaitIfPaused();
    if (code != 0)
        FError = code | eoCopy;
}

} // namespace vl
