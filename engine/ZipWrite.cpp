#include "engine/ZipWrite.h"

#include "core/DirUtils.h"
#include "core/FileInfo.h"
#include "core/Format.h"
#include "core/Masks.h"
#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/ZLibEx.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"
#include "platform/Thread.h"

#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vl {

namespace {

constexpr int32_t kDefaultZipBufSize = 0x80000;
constexpr int32_t kRenameError = 39; // "Error renaming file"
constexpr int64_t kZipTempThreshold = 52428800;
constexpr uint16_t kCreateMode = 0xFF00;      // create or truncate, read and write
constexpr uint16_t kReadMode = kOpenReadShared; // read, others may read and write

// A stream a worker may use without owning it: the archive file (or a
// temporary stream) stays alive as long as any worker still holds it.
class TSharedStreamRef : public TStream {
public:
    explicit TSharedStreamRef(std::shared_ptr<TStream> AStream) : FStream(std::move(AStream)) {}
    int64_t Read(void *buffer, int64_t count) override { return FStream->Read(buffer, count); }
    int64_t Write(const void *buffer, int64_t count) override { return FStream->Write(buffer, count); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FStream->Seek(offset, origin); }
    int64_t Size() override { return FStream->Size(); }
    bool SetSize(int64_t newSize) override { return FStream->SetSize(newSize); }
    uint32_t LastError() const override { return FStream->LastError(); }

private:
    std::shared_ptr<TStream> FStream;
};

bool IsCode5or7(int32_t code)
{
    const int32_t n = ErrorNumber(code);
    return n == feWriteFile || n == feLowDiskSpace;
}

// A temporary file of ours: random name, created new with mode 0600, so
// two runs sharing a folder never meet and no planted link is followed.
std::shared_ptr<TStream> CreateZipTemp(const QString &ADir, QString &AName)
{
    AName = ADir + QStringLiteral("zip-%1.tmp").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    return std::make_shared<TExtFileStream>(AName, uint16_t(0xFF04), 0600u);
}

} // namespace

// ---- TZipStream ----

int64_t TZipStream::Write(const void *buffer, int64_t count)
{
    const int64_t written = TExtFileStream::Write(buffer, count);
    if (written < 0)
        throw EWriteFileStreamError(int32_t(LastError() ? LastError() : ERROR_DISK_FULL));
    return written;
}

// ---- EZipError ----

EZipError::EZipError(const QString &AErrString, int32_t AErrCode, const QString &ASysErrMsg)
    : EInOutError(AErrString, uint32_t(AErrCode | eoZip)), FZipError(AErrCode | eoZip), FSysErrorMsg(ASysErrMsg)
{
}

// ---- TPkHeader ----

TPkHeader::TPkHeader(const QByteArray &Fn, const QByteArray &Eb, uint32_t Ec, uint16_t Al, uint32_t Ts,
                     uint32_t Chk, uint32_t AA, uint16_t AV, uint16_t AF, uint16_t AM, uint16_t EV, uint16_t ED,
                     uint16_t EM, uint16_t SM, int64_t Ofs, int64_t CSz, int64_t USz)
    : FName(Fn), EBuffer(Eb), ErrCode(Ec), TimeStamp(Ts), CRC(Chk), PkVersion(AV), GpFlag(AF), ExtAttr(AA),
      CompMethod(AM), DirLength(Al), Segment(SM), EncMode(ED), EncVers(EV), EncMeth(EM), Offset(Ofs), CSize(CSz),
      USize(USz)
{
    UpdateFlags();
}

TPkHeader TPkHeader::Assign(const TPkHeader &APkHeader, int64_t Ofs)
{
    TPkHeader h = APkHeader;
    h.EBuffer.clear();
    h.Offset = Ofs;
    h.UpdateFlags();
    return h;
}

void TPkHeader::UpdateFlags()
{
    // A directory is marked as one; an empty file is no directory.
    IsDir = IsZipDirectoryEntry(ExtAttr, FName);
    Zip64 = uint64_t(Offset) >= kZip32Limit || uint64_t(CSize) >= kZip32Limit || uint64_t(USize) >= kZip32Limit;
}

// ---- TZip ----

TZip::TZip(const QString &ZipName, const QByteArray &Password, int32_t AKeyMode, int32_t ABufSize, uint16_t AMode)
    : FBufferSize(ABufSize > 0 ? ABufSize : kDefaultZipBufSize), ZName(ZipName)
{
    PkExtraCrypt.Version = 2;
    PkExtraCrypt.Mode = 1;
    PkExtraCrypt.Method = kZipMethodDeflate;
    fZipTmpDir = WithTrailingDelimiter(TempDirectory());
    FStream = std::make_shared<TZipStream>(ZipName, AMode, 0644u);
    InitEncryption(Password, AKeyMode);
}

TZip::~TZip() = default;

void TZip::SetOnProgress(const TFileProgressEvent &Value)
{
    FOnProgress = Value;
    if (FEncryption)
        FEncryption->OnProgress = Value;
}

int64_t TZip::FilePosition() const
{
    return FStream ? FStream->Position() : -1;
}

void TZip::SetFilePosition(int64_t Value)
{
    if (FStream)
        FStream->SetPosition(Value);
}

void TZip::InitEncryption(const QByteArray &Password, int32_t AKeyMode)
{
    FEncryption.reset();
    FEncrypt = false;
    if (Password.isEmpty())
        return;
    FEncryption = std::make_shared<TEncryption>(Password, AKeyMode, FBufferSize);
    FEncryption->OnProgress = FOnProgress;
    PkExtraCrypt.Mode = uint8_t(FEncryption->KeyMode());
    FEncrypt = true;
}

int32_t TZip::WaitForThread(TThread &AThread, bool AAskTimeout, const std::function<int32_t()> &ACode)
{
    AThread.Start();
    bool gaveUp = false;
    auto last = std::chrono::steady_clock::now();
    WaitUntil(
        [&] {
            if (AThread.Done())
                return true;
            if (AAskTimeout && OnTimeout) {
                const auto now = std::chrono::steady_clock::now();
                if (now - last >= std::chrono::milliseconds(10)) {
                    last = now;
                    if (OnTimeout()) {
                        gaveUp = true;
                        return true;
                    }
                }
            }
            return false;
        },
        10);
    if (gaveUp && !AThread.Done()) {
        // The worker keeps what it uses alive through shared ownership and
        // checks before every write that it has not been given up.
        AThread.Abandon();
        const int32_t code = ACode();
        return code != 0 ? code : (feCopyTimeout | ecError);
    }
    return ACode();
}

int32_t TZip::CopyToZip(TZip &AZip, int64_t SLength)
{
    if (!FStream || !AZip.FStream)
        return feUndefinedStream;
    auto thread = std::make_shared<TCopyStreamThread>(*FStream, *AZip.FStream, SLength, !FIsTemp, FBufferSize,
                                                      FPriority);
    thread->SetOnProgress(FOnProgress);
    thread->Start();
    thread->WaitFor(-1);
    return thread->ErrorCode();
}

// ---- Worker threads ----

TZipThread::TZipThread(const QString &ASourceName, std::shared_ptr<TEncryption> AEncryption, bool ASpeedLimit,
                       int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TGZipThread(ASourceName, QString(), AEncryption.get(), ABufSize, APriority), FSpeedLimit(ASpeedLimit),
      FEncryptionRef(std::move(AEncryption))
{
    FErrFlag = eoZip;
    if (AOnProgress)
        SetOnProgress(AOnProgress);
}

void TZipThread::DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit)
{
    TGZipThread::DoProgress(AAction, ACount, ASpeedLimit && FSpeedLimit);
}

TZipWriteThread::TZipWriteThread(const QString &AFileName, std::shared_ptr<TEncryption> AEncryption,
                                 std::shared_ptr<TStream> ZStream, bool ACompress, bool ASpeedLimit, int32_t ABufSize,
                                 TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TZipThread(AFileName, std::move(AEncryption), ASpeedLimit, ABufSize, APriority, AOnProgress),
      FZStream(std::move(ZStream))
{
    FCompress = ACompress;
}

TZipWriteThread::TZipWriteThread(std::unique_ptr<TStream> ASource, std::shared_ptr<TEncryption> AEncryption,
                                 std::shared_ptr<TStream> ZStream, bool ACompress, bool ASpeedLimit, int32_t ABufSize,
                                 TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TZipThread(QString(), std::move(AEncryption), ASpeedLimit, ABufSize, APriority, AOnProgress),
      FGivenSource(std::move(ASource)), FZStream(std::move(ZStream))
{
    FCompress = ACompress;
}

void TZipWriteThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return WriteData(); }));
}

int32_t TZipWriteThread::WriteData()
{
    {
        std::lock_guard<std::mutex> lock(FStreamLock);
        if (FGivenSource)
            sSource = std::move(FGivenSource);
    }
    if (!sSource) {
        if (SourceName.isEmpty())
            return feUndefinedStream | ecError;
        std::unique_ptr<TStream> source;
        const int32_t r = OpenReadShared(SourceName, source, FSysErrMsg);
        if (r != feOk)
            return r;
        std::lock_guard<std::mutex> lock(FStreamLock);
        sSource = std::move(source);
    }
    int32_t result;
    if (FZStream) {
        {
            std::lock_guard<std::mutex> lock(FStreamLock);
            sDest = std::make_unique<TSharedStreamRef>(FZStream);
        }
        result = CompressToDest(*sSource, FCompress);
    } else {
        const int64_t size = sSource->Size();
        DoProgress(TFileAction::acPrepare, -size, false);
        result = CopyBlocks(*sSource, nullptr, true, size);
        if (result == feOk && size != UTotal) {
            SetSysError(sSource->LastError());
            result = feReadFile | ecError;
        }
    }
    std::lock_guard<std::mutex> lock(FStreamLock);
    sSource.reset();
    sDest.reset();
    return result;
}

TZipVerifyThread::TZipVerifyThread(std::shared_ptr<TEncryption> AEncryption, uint32_t ACrc,
                                   std::shared_ptr<TStream> ZStream, int64_t ALength, int64_t USize, bool ACompress,
                                   bool ASpeedLimit, int32_t ABufSize, TThreadPriority APriority,
                                   const TFileProgressEvent &AOnProgress)
    : TZipThread(QString(), std::move(AEncryption), ASpeedLimit, ABufSize, APriority, AOnProgress),
      FZStream(std::move(ZStream)), FExpectedCrc(ACrc), FLength(ALength), FSize(USize)
{
    FCompress = ACompress;
}

void TZipVerifyThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return VerifyData(); }));
}

int32_t TZipVerifyThread::VerifyData()
{
    TSharedStreamRef source(FZStream);
    if (FCrypting) {
        DoProgress(TFileAction::acVerify, -FLength, false);
        const TOpResult r =
            FCrypting->DecryptStreamEx(source, nullptr, FLength, FSpeedLimit, [this] { return IsCanceled(); });
        if (r == TOpResult::orUserBreak)
            return feTerminated;
        return r == TOpResult::orOk ? feOk : (feVerification | ecError);
    }
    DoProgress(TFileAction::acVerify, -FSize, false);
    const int32_t result =
        FCompress ? InflateStream(source, nullptr, true, FLength) : CopyBlocks(source, nullptr, true, FLength);
    if (result != feOk)
        return result;
    if (FCrc != FExpectedCrc || UTotal != FSize)
        return feVerification | ecError;
    return feOk;
}

// ---- TZipWrite ----

TZipWrite::TZipWrite(const QString &ZipName, const QString &BasicDirectory, int64_t AMaxSize,
                     const QByteArray &Password, int32_t AKeyMode, int32_t ABufSize) try
    : TZip(ZipName, Password, AKeyMode, ABufSize, kCreateMode)
{
    fMaxSize = AMaxSize;
    FBaseDir = WithTrailingDelimiter(BasicDirectory);
    if (fMaxSize > 0)
        WriteBytes(LeBytes32(kZipSpanSignature));
} catch (const EExtFileStreamError &e) {
    throw EZipError(GuardedFormat(Tr("Error creating \"%s\""), ZipName), feCreateFile | ecError, e.Message());
} catch (const EWriteFileStreamError &e) {
    throw EZipError(GuardedFormat(Tr("Error creating \"%s\""), ZipName), feCreateFile | ecError, e.Message());
}

TZipWrite::TZipWrite(const QString &ZipName, const QString &BasicDirectory, const QByteArray &Password,
                     int32_t AKeyMode, int32_t ABufSize)
    : TZipWrite(ZipName, BasicDirectory, 0, Password, AKeyMode, ABufSize)
{
}

TZipWrite::~TZipWrite()
{
    // A worker given up on holds its own references; nothing to close twice.
    ZipThread.reset();
    FileList.clear();
    FEncryption.reset();
    FStream.reset();
}

void TZipWrite::SetTempDir(const QString &Value)
{
    if (!Value.isEmpty() && XlDirectoryExists(Value, true))
        fZipTmpDir = WithTrailingDelimiter(Value);
    else
        fZipTmpDir = WithTrailingDelimiter(TempDirectory());
}

std::shared_ptr<TStream> TZipWrite::ArchiveRef()
{
    return FStream;
}

void TZipWrite::CheckOpen(const QString &AContext)
{
    if (!FStream || FClosed)
        throw EZipError(AContext, feNewZipSegment | ecError, Tr("The archive file has been closed."));
}

void TZipWrite::WriteBytes(const QByteArray &ABytes)
{
    const int64_t written = FStream->Write(ABytes.constData(), ABytes.size());
    if (written != ABytes.size())
        throw EWriteFileStreamError(int32_t(FStream->LastError() ? FStream->LastError() : ERROR_DISK_FULL));
}

void TZipWrite::PatchBytes(int64_t APos, const QByteArray &ABytes)
{
    const int64_t end = FStream->Seek(0, TSeekOrigin::soEnd);
    FStream->SetPosition(APos);
    WriteBytes(ABytes);
    FStream->SetPosition(end);
}

void TZipWrite::CutBack(int64_t AOffset)
{
    if (!FStream)
        return;
    FStream->SetSize(AOffset);
    FStream->SetPosition(AOffset);
}

int32_t TZipWrite::RunWorker(const std::shared_ptr<TZipThread> &AThread, QString &ASysMsg)
{
    ZipThread = AThread;
    const int32_t code = WaitForThread(*AThread, true, [&] { return AThread->ErrorCode(); });
    ASysMsg = AThread->SysErrorMsg();
    ZipThread.reset();
    if (FCanceled)
        return feTerminated;
    return code;
}

void TZipWrite::ReadFindData(const QString &SourceName, TFindData &FileData)
{
    const QString err = GuardedFormat(Tr("Error adding file to \"%s\""), ZName);
    if (!XlFileExists(SourceName, true)) {
        FErrorFlag = false;
        throw EZipError(err, feFileNotFound | ecError, SourceName);
    }
    if (!XlFindFileData(SourceName, FileData)) {
        FErrorFlag = false;
        throw EZipError(err, feReadFile | ecError, LastSystemErrorText());
    }
}

void TZipWrite::StartSegmentFor(int64_t AHeaderSize, const QString &AError)
{
    int32_t code = 0;
    if (CheckSegment(AHeaderSize))
        code = NewSegment();
    if (code != 0) {
        FErrorFlag = IsCode5or7(code);
        throw EZipError(AError, code | ecError, LastSystemErrorText());
    }
}

uint16_t TZipWrite::EncodeEntryName(const QString &ARelName, const QString &AError, QByteArray &AName,
                                    QByteArray &AEncName)
{
    bool utf8 = false;
    QString nameError;
    if (!EncodeZipName(ARelName, AName, utf8, nameError)) {
        FErrorFlag = false;
        throw EZipError(AError, feIllegalHeader | ecError, nameError);
    }
    uint16_t flags = utf8 ? kZipFlagUtf8 : 0;
    if (FEncNames && FEncryption && EncryptZipEntryName(*FEncryption, AName, AEncName)) {
        AName = ZipEncNamePlaceholder(int64_t(FileList.size()) + 1);
        flags |= kZipFlagEncryptedName;
    } else {
        AEncName.clear();
    }
    return flags;
}

void TZipWrite::AddDir(const QString &DirName)
{
    const QString err = GuardedFormat(Tr("Error adding directory to \"%s\""), ZName);
    CheckOpen(err);
    if (!XlDirectoryExists(DirName, true))
        return;
    QString rel = RelativePathTo(FBaseDir, DirName);
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    if (rel.isEmpty())
        return;
    QByteArray name, encName;
    uint16_t flags = EncodeEntryName(rel, err, name, encName);
    QByteArray extra;
    if (flags & kZipFlagEncryptedName) {
        TPKExtraEncField aes = PkExtraCrypt;
        aes.Version = 2;
        aes.Method = kZipMethodStored;
        extra = EncodeAesExtra(aes) + MakeZipExtraField(kZipExtraEncName, encName);
    }
    QString noDelim = DirName;
    while (noDelim.size() > 1 && noDelim.endsWith(QLatin1Char('/')))
        noDelim.chop(1);
    const uint32_t time = uint32_t(DirectoryAge(noDelim));
    uint32_t attr = XlFileGetAttr(noDelim, true);
    if (attr == faInvalid)
        attr = faDirectory;
    TStatInfo st;
    const uint32_t mode = StatPath(noDelim, true, st) == 0 ? (st.Mode & 07777) : 0755;

    TZipLocalHeader lh;
    lh.VersionNeeded = FEncrypt ? kZipVersionAes : kZipVersionDefault;
    lh.Flags = flags;
    lh.Method = kZipMethodStored;
    lh.Time = time;
    lh.NameLength = uint16_t(name.size());
    lh.ExtraLength = uint16_t(extra.size());

    StartSegmentFor(kZipLocalHeaderSize + name.size() + extra.size(), err);
    const int64_t offset = FStream->Position();
    try {
        WriteBytes(EncodeZipLocalHeader(lh) + name + extra);
    } catch (const EWriteFileStreamError &e) {
        CutBack(offset);
        FErrorFlag = true;
        throw EZipError(err, feWriteFile | ecError, e.Message());
    }
    auto header = std::make_unique<TPkHeader>(name, encName, 0, 0, time, 0,
                                              MakeZipExternalAttr(uint16_t(attr), mode, true), lh.VersionNeeded,
                                              flags, kZipMethodStored, 0, 0, 0, uint16_t(FCurSeg), offset, 0, 0);
    FileList.push_back({rel, std::move(header)});
}

void TZipWrite::AddFile(const QString &SourceName, bool ACompress)
{
    int32_t ratio = 0;
    AddFile(SourceName, ratio, ACompress);
}

void TZipWrite::AddFile(const QString &SourceName, int32_t &ARatio, bool ACompress)
{
    TFindData data;
    ReadFindData(SourceName, data);
    DoAddFile(SourceName, RelativePathTo(FBaseDir, SourceName), data, ARatio, ACompress);
}

void TZipWrite::AddFile(const QString &SourceName, const TFindData &FileData, bool ACompress)
{
    int32_t ratio = 0;
    DoAddFile(SourceName, RelativePathTo(FBaseDir, SourceName), FileData, ratio, ACompress);
}

void TZipWrite::AddFile(const QString &SourceName, const QString &FileName, bool ACompress)
{
    int32_t ratio = 0;
    AddFile(SourceName, FileName, ratio, ACompress);
}

void TZipWrite::AddFile(const QString &SourceName, const QString &FileName, int32_t &ARatio, bool ACompress)
{
    TFindData data;
    ReadFindData(SourceName, data);
    DoAddFile(SourceName, FileName, data, ARatio, ACompress);
}

void TZipWrite::AddFile(const QString &SourceName, const QString &FileName, const TFindData &FileData,
                        int32_t &ARatio, bool ACompress)
{
    DoAddFile(SourceName, FileName, FileData, ARatio, ACompress);
}

void TZipWrite::AddFileFrom(const QString &SourceName, const QString &FilePath, const TFindData &FileData,
                            int32_t &ARatio, bool ACompress)
{
    DoAddFile(SourceName, RelativePathTo(FBaseDir, FilePath), FileData, ARatio, ACompress);
}

void TZipWrite::AddFiles(const QString &Directory, const QString &Filter, const QString &SubDir, int32_t &Count,
                         QStringList *ErrList)
{
    std::vector<TDirEntry> entries;
    if (ListDirectory(Directory, entries) != 0)
        return;
    QStringList masks;
    for (const QString &mask : Filter.split(QLatin1Char(';'))) {
        if (mask.isEmpty())
            break; // an empty mask ends the filter
        masks.append(mask);
    }
    for (const TDirEntry &e : entries) {
        const QString path = JoinPath(Directory, e.Name);
        if (!XlFileExists(path, true) ||
            std::none_of(masks.begin(), masks.end(), [&](const QString &m) {
                try {
                    return MatchesMask(e.Name, m);
                } catch (const Exception &) {
                    return false; // an invalid mask matches nothing
                }
            }))
            continue;
        try {
            int32_t ratio = 0;
            AddFile(path, JoinPath(SubDir, e.Name), ratio, true);
            ++Count;
        } catch (const EZipError &ex) {
            if (ErrList)
                ErrList->append(ex.SysErrorMsg());
        }
    }
}

void TZipWrite::DoAddFile(const QString &SourceName, const QString &FileName, const TFindData &FileData,
                          int32_t &ARatio, bool ACompress)
{
    const QString err = GuardedFormat(Tr("Error adding file to \"%s\""), ZName);
    CheckOpen(err);
    ARatio = -1;
    // Step 1: what the header needs to know in advance.
    const int64_t size = FileData.Size;
    const uint32_t time = FileTimeToZipTime(FileData.LastWriteTime);
    const bool zip64 = size > kZip64LocalThreshold;
    const bool ae2 = size < kZipAe2Limit;

    // Step 2: the name.
    QString rel = FileName;
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    QByteArray name, encName;
    uint16_t flags = EncodeEntryName(rel, err, name, encName);

    // Step 3: versions, flags and method.
    uint16_t version, method;
    bool compress = ACompress;
    TPKExtraEncField aes = PkExtraCrypt;
    if (FEncrypt) {
        version = kZipVersionAes;
        flags |= kZipFlagEncrypted;
        method = kZipMethodAes;
        compress = true;
        aes.Version = ae2 ? 2 : 1;
        aes.Method = size > 0 ? kZipMethodDeflate : kZipMethodStored;
    } else {
        version = zip64 ? kZipVersionZip64 : kZipVersionDefault;
        if (size > 0 && ACompress) {
            method = kZipMethodDeflate;
            flags |= kZipFlagDeflated;
        } else {
            method = kZipMethodStored;
            compress = false;
        }
    }
    const bool deflate = compress && size > 0;

    // Step 4: the extra fields.
    QByteArray extra;
    if (zip64)
        extra += MakeZip64LocalExtra(0, 0);
    if (FEncrypt)
        extra += EncodeAesExtra(aes);
    if (flags & kZipFlagEncryptedName)
        extra += MakeZipExtraField(kZipExtraEncName, encName);

    // Step 5: the segment.
    StartSegmentFor(kZipLocalHeaderSize + name.size() + extra.size(), err);
    int32_t code = 0;
    const int64_t offset = FStream->Position();
    const int32_t headerSegment = FCurSeg;
    const int32_t headerNumSeg = FNumSeg;

    QString sysMsg;
    uint32_t crc = 0;
    int64_t csize = 0, usize = 0;
    try {
        // Step 6: the local header with CRC and sizes still open.
        TZipLocalHeader lh;
        lh.VersionNeeded = version;
        lh.Flags = flags;
        lh.Method = method;
        lh.Time = time;
        lh.CSize = zip64 ? kZipMax32 : 0;
        lh.USize = zip64 ? kZipMax32 : 0;
        lh.NameLength = uint16_t(name.size());
        lh.ExtraLength = uint16_t(extra.size());
        WriteBytes(EncodeZipLocalHeader(lh) + name + extra);

        const auto complete = [&] {
            if (!FEncrypt || !ae2)
                PatchBytes(offset + 14, LeBytes32(crc));
            if (zip64)
                PatchBytes(offset + kZipLocalHeaderSize + name.size() + 4, LeBytes64(uint64_t(usize)) + LeBytes64(uint64_t(csize)));
            else
                PatchBytes(offset + 18, LeBytes32(uint32_t(csize)) + LeBytes32(uint32_t(usize)));
        };
        // A file that changed between listing and reading must still fit
        // the header decided above.
        const auto checkSizes = [&] {
            if ((size > 0) != (usize > 0) ||
                (!zip64 && (uint64_t(usize) >= kZip32Limit || uint64_t(csize) >= kZip32Limit))) {
                sysMsg = Tr("The file changed its size while it was added.");
                return feSizeMismatch | ecError;
            }
            return feOk;
        };

        if (fMaxSize <= 0) {
            // Step 7: straight into the archive.
            auto thread = std::make_shared<TZipWriteThread>(SourceName, FEncryption, ArchiveRef(), deflate, !FIsTemp,
                                                            FBufferSize, FPriority, FOnProgress);
            thread->SetTempDir(fZipTmpDir);
            code = RunWorker(thread, sysMsg);
            if (code == 0) {
                crc = thread->Crc();
                usize = thread->UncompressedTotal();
                csize = thread->CompressedTotal();
                code = checkSizes();
            }
            if (code == 0)
                complete();
        } else {
            // Step 8: data staged first, then copied segment by segment.
            std::shared_ptr<TStream> data;
            QString tempName;
            if (compress && size > kZipTempThreshold) {
                // A temporary folder we cannot write to fails this entry
                // like any other, and the header is taken back.
                try {
                    data = CreateZipTemp(fZipTmpDir, tempName);
                } catch (const EExtFileStreamError &e) {
                    tempName.clear();
                    sysMsg = e.Message();
                    code = feCreateFile | ecError;
                }
            } else if (compress) {
                data = std::make_shared<TMemoryStream>();
            }
            if (code == 0) {
                auto thread = std::make_shared<TZipWriteThread>(SourceName, FEncryption, data, deflate, !FIsTemp,
                                                                FBufferSize, FPriority, FOnProgress);
                thread->SetTempDir(fZipTmpDir);
                code = RunWorker(thread, sysMsg);
                if (code == 0) {
                    crc = thread->Crc();
                    usize = thread->UncompressedTotal();
                    csize = data ? data->Size() : usize;
                    code = checkSizes();
                }
            }
            if (code == 0 && !data) {
                try {
                    data = std::make_shared<TExtFileStream>(SourceName, kReadMode);
                } catch (const EExtFileStreamError &e) {
                    sysMsg = e.Message();
                    code = feOpenFile | ecError;
                }
            }
            if (code == 0) {
                complete();
                data->SetPosition(0);
                code = CopyIntoSegments(*data, csize, sysMsg);
            }
            data.reset();
            if (!tempName.isEmpty())
                RemoveFile(tempName);
        }
    } catch (const EWriteFileStreamError &e) {
        sysMsg = e.Message();
        code = (e.ErrorCode() == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
    }

    if (code != 0) {
        // Only a failed NewSegment leaves the archive file closed; any
        // other failure (a full disk on a header write included) is cut back.
        if (FStream && !FClosed) {
            // Back to the entry's start, also across segments begun meanwhile.
            while (FCurSeg > headerSegment && FStream) {
                FStream.reset();
                RemoveFile(ZName);
                const QString seg = ZipSegmentName(ZName, FCurSeg - 1);
                if (MoveNoReplace(seg, ZName) != 0)
                    break;
                --FCurSeg;
                FNumSeg = FCurSeg;
                try {
                    FStream = std::make_shared<TZipStream>(ZName, uint16_t(0x0042));
                } catch (const EExtFileStreamError &) {
                    FClosed = true;
                }
            }
            if (FCurSeg == headerSegment) {
                FNumSeg = headerNumSeg;
                CutBack(offset);
            }
            else
                FClosed = true;
        } else {
            FClosed = true;
        }
        FErrorFlag = IsCode5or7(code);
        throw EZipError(err, ErrorNumber(code) | ecError, sysMsg);
    }

    // Step 9: the ratio.
    if (compress && size > 0 && usize > 0) {
        const int32_t r = int32_t(std::lround(1000.0 * double(csize) / double(usize)));
        ARatio = r >= 1000 ? -1 : r;
    }
    // Step 10: the entry.
    uint32_t attr = XlFileGetAttr(SourceName, true);
    if (attr == faInvalid)
        attr = FileData.Attr;
    TStatInfo st;
    const uint32_t mode = StatPath(SourceName, true, st) == 0 ? (st.Mode & 07777) : 0644;
    auto header = std::make_unique<TPkHeader>(
        name, encName, 0, 0, time, crc, MakeZipExternalAttr(uint16_t(attr), mode, false), version, flags, method,
        FEncrypt ? aes.Version : 0, FEncrypt ? uint16_t(PkExtraCrypt.Mode) : 0, FEncrypt ? aes.Method : 0,
        uint16_t(headerSegment), offset, csize, usize);
    FileList.push_back({FileName, std::move(header)});
}

int32_t TZipWrite::CopyStep(TStream &ASource, int64_t ALength, TFileAction AAction, QString &ASysMsg)
{
    if (FCanceled)
        return feTerminated;
    if (FOnProgress)
        FOnProgress(AAction, -ALength, false);
    auto thread = std::make_shared<TCopyStreamThread>(ASource, *FStream, ALength, !FIsTemp, FBufferSize, FPriority);
    if (FOnProgress)
        thread->SetOnProgress(FOnProgress);
    ZipThread.reset();
    CopyThread = thread;
    thread->Start();
    WaitUntil([&] { return thread->Done(); }, 10);
    CopyThread.reset();
    ASysMsg = thread->SysErrorMsg();
    if (FCanceled)
        return feTerminated;
    const int32_t code = thread->ErrorCode();
    return code == 0 ? 0 : (ErrorNumber(code) | ecError);
}

int32_t TZipWrite::CopyIntoSegments(TStream &ASource, int64_t ALength, QString &ASysMsg)
{
    int64_t remaining = ALength;
    const int64_t room = std::max<int64_t>(fMaxSize - FStream->Position(), 0);
    if (remaining <= room)
        return CopyStep(ASource, remaining, TFileAction::acZipCopy, ASysMsg);
    int32_t code = room > 0 ? CopyStep(ASource, room, TFileAction::acZipCopy, ASysMsg) : 0;
    if (code != 0)
        return code;
    remaining -= room;
    if ((code = NewSegment()) != 0)
        return code | ecError;
    while (remaining > fMaxSize) {
        if ((code = CopyStep(ASource, fMaxSize, TFileAction::acSegmentCopy, ASysMsg)) != 0)
            return code;
        remaining -= fMaxSize;
        if ((code = NewSegment()) != 0)
            return code | ecError;
    }
    return CopyStep(ASource, remaining, TFileAction::acSegmentCopy, ASysMsg);
}

void TZipWrite::AddStream(std::unique_ptr<TStream> ASource, const QString &AName, bool ACompress)
{
    const QString err = GuardedFormat(Tr("Error adding stream to \"%s\""), ZName);
    CheckOpen(err);
    const QByteArray name = EncodeZipStreamName(AName);
    const int64_t size = ASource ? ASource->Size() : 0;
    const bool deflate = size > 0 && ACompress;
    TZipLocalHeader lh;
    lh.VersionNeeded = kZipVersionDefault;
    lh.Flags = deflate ? kZipFlagDeflated : 0;
    lh.Method = deflate ? kZipMethodDeflate : kZipMethodStored;
    lh.Time = NowZipTime();
    lh.NameLength = uint16_t(name.size());
    const int64_t offset = FStream->Position();
    QString sysMsg;
    int32_t code = 0;
    uint32_t crc = 0;
    int64_t csize = 0, usize = 0;
    try {
        WriteBytes(EncodeZipLocalHeader(lh) + name);
        auto thread = std::make_shared<TZipWriteThread>(std::move(ASource), nullptr, ArchiveRef(), deflate,
                                                        !FIsTemp, FBufferSize, FPriority, FOnProgress);
        thread->SetTempDir(fZipTmpDir);
        code = RunWorker(thread, sysMsg);
        if (code == 0) {
            crc = thread->Crc();
            usize = thread->UncompressedTotal();
            csize = thread->CompressedTotal();
            if (uint64_t(usize) >= kZip32Limit || uint64_t(csize) >= kZip32Limit) {
                sysMsg = Tr("The stream is too large for an entry without zip64 fields.");
                code = feSizeMismatch | ecError;
            } else {
                PatchBytes(offset + 14, LeBytes32(crc) + LeBytes32(uint32_t(csize)) + LeBytes32(uint32_t(usize)));
            }
        }
    } catch (const EWriteFileStreamError &e) {
        sysMsg = e.Message();
        code = (e.ErrorCode() == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
    }
    if (code != 0) {
        CutBack(offset);
        FErrorFlag = IsCode5or7(code);
        throw EZipError(err, ErrorNumber(code) | ecError, sysMsg);
    }
    auto header = std::make_unique<TPkHeader>(name, QByteArray(), 0, 0, lh.Time, crc, kZipAttrArchive,
                                              kZipVersionDefault, lh.Flags, lh.Method, 0, 0, 0, uint16_t(FCurSeg),
                                              offset, csize, usize);
    FileList.push_back({AName, std::move(header)});
}

QString TZipWrite::RemLastDir()
{
    if (FileList.empty() || !FileList.back().Header->IsDir || !FStream || FClosed)
        return QString();
    const TPkHeader &h = *FileList.back().Header;
    if (h.Segment != FCurSeg)
        return QString(); // its segment is closed; it stays
    CutBack(h.Offset);
    QString name = FileList.back().Name;
    FileList.pop_back();
    return name;
}

void TZipWrite::WriteDirectory()
{
    const QString endErr = Tr("Error writing end record");
    CheckOpen(endErr);
    const int32_t cdDisk = FCurSeg;
    const int64_t cdOffset = FStream->Position();
    uint64_t cdSize = 0;
    int64_t firstInLastSegment = 0;
    const int64_t count = int64_t(FileList.size());
    for (int64_t i = 0; i < count; ++i) {
        const TPkHeader &h = *FileList[size_t(i)].Header;
        QByteArray extra = MakeZip64CentralExtra(uint64_t(h.USize), uint64_t(h.CSize), uint64_t(h.Offset));
        uint32_t crc = h.CRC;
        if (h.EncMode != 0) {
            TPKExtraEncField aes = PkExtraCrypt;
            aes.Version = h.EncVers;
            aes.Method = h.EncMeth;
            extra += EncodeAesExtra(aes);
            if (h.EncVers == 2)
                crc = 0;
            if ((h.GpFlag & kZipFlagEncryptedName) && !h.EBuffer.isEmpty())
                extra += MakeZipExtraField(kZipExtraEncName, h.EBuffer);
        }
        TZipCentralHeader ch;
        ch.VersionMadeBy = h.PkVersion;
        ch.VersionNeeded = h.PkVersion;
        ch.Flags = h.GpFlag;
        ch.Method = h.CompMethod;
        ch.Time = h.TimeStamp;
        ch.Crc = crc;
        ch.CSize = ZipField32(uint64_t(h.CSize));
        ch.USize = ZipField32(uint64_t(h.USize));
        ch.NameLength = uint16_t(h.FName.size());
        ch.ExtraLength = uint16_t(extra.size());
        ch.DiskStart = h.Segment;
        ch.ExternalAttr = h.ExtAttr;
        ch.LocalOffset = ZipField32(uint64_t(h.Offset));
        const QByteArray record = EncodeZipCentralHeader(ch) + h.FName + extra;
        const QString recErr = GuardedFormat(Tr("Error writing directory entry: \"%s\""), FileList[size_t(i)].Name);
        if (CheckSegment(record.size())) {
            const int32_t code = NewSegment();
            if (code != 0) {
                FClosed = true;
                throw EZipError(recErr, feWriteFile | ecError, LastSystemErrorText());
            }
            firstInLastSegment = i;
        }
        try {
            WriteBytes(record);
        } catch (const EWriteFileStreamError &e) {
            throw EZipError(recErr, feWriteFile | ecError, e.Message());
        }
        cdSize += uint64_t(record.size());
    }
    try {
        const uint64_t endPos = uint64_t(FStream->Position());
        const bool zip64 = endPos >= kZip32Limit || count >= 0xFFFF || cdSize >= kZip32Limit;
        const uint64_t diskEntries = uint64_t(count - firstInLastSegment);
        if (zip64) {
            TZip64EndRecord r;
            r.DiskNumber = uint32_t(FCurSeg);
            r.CentralDisk = uint32_t(cdDisk);
            r.DiskEntries = diskEntries;
            r.TotalEntries = uint64_t(count);
            r.CentralSize = cdSize;
            r.CentralOffset = uint64_t(cdOffset);
            TZip64Locator loc;
            loc.EndDisk = uint32_t(FCurSeg);
            loc.EndOffset = endPos;
            loc.TotalDisks = uint32_t(FCurSeg + 1);
            WriteBytes(EncodeZip64EndRecord(r) + EncodeZip64Locator(loc));
        }
        TZipEndRecord e;
        e.DiskNumber = zip64 ? kZipMax16 : uint16_t(FCurSeg);
        e.CentralDisk = zip64 ? kZipMax16 : uint16_t(cdDisk);
        e.DiskEntries = count > 0xFFFF ? kZipMax16 : uint16_t(diskEntries);
        e.TotalEntries = count > 0xFFFF ? kZipMax16 : uint16_t(count);
        e.CentralSize = (zip64 && cdSize >= kZip32Limit) ? kZipMax32 : uint32_t(cdSize);
        e.CentralOffset = zip64 ? kZipMax32 : uint32_t(cdOffset);
        WriteBytes(EncodeZipEndRecord(e));
    } catch (const EWriteFileStreamError &ex) {
        throw EZipError(endErr, feWriteFile | ecError, ex.Message());
    }
}

int32_t TZipWrite::VerifyEntry(const TPkHeader &AHeader, QString &ASysMsg)
{
    if (AHeader.CSize == 0)
        return 0;
    std::shared_ptr<TStream> source;
    QString tempName;
    int64_t dataPos = 0;
    const auto readLocal = [&](TStream &s, int64_t pos) -> bool {
        QByteArray b(kZipLocalHeaderSize, '\0');
        TZipLocalHeader lh;
        if (s.Seek(pos, TSeekOrigin::soBeginning) != pos || s.Read(b.data(), b.size()) != b.size() ||
            !DecodeZipLocalHeader(b, lh))
            return false;
        dataPos = pos + kZipLocalHeaderSize + lh.NameLength + lh.ExtraLength;
        return true;
    };
    try {
        if (AHeader.Segment == FCurSeg) {
            source = FStream;
            if (!readLocal(*source, AHeader.Offset)) {
                ASysMsg = Tr("Local header not found.");
                return feVerification | ecError;
            }
            source->SetPosition(dataPos);
        } else {
            auto seg = std::make_shared<TExtFileStream>(ZipSegmentName(ZName, AHeader.Segment), kReadMode);
            if (!readLocal(*seg, AHeader.Offset)) {
                ASysMsg = Tr("Local header not found.");
                return feVerification | ecError;
            }
            const int64_t segSize = seg->Size();
            if (dataPos + AHeader.CSize <= segSize) {
                seg->SetPosition(dataPos);
                source = seg;
            } else {
                // Gather the data that runs across segments.
                if (AHeader.USize > kZipTempThreshold)
                    source = CreateZipTemp(fZipTmpDir, tempName);
                else
                    source = std::make_shared<TMemoryStream>();
                if (FOnProgress)
                    FOnProgress(TFileAction::acCopy, -AHeader.CSize, false);
                int64_t remaining = AHeader.CSize;
                std::shared_ptr<TStream> cur = seg;
                int32_t index = AHeader.Segment;
                cur->SetPosition(dataPos);
                while (remaining > 0) {
                    const int64_t n = std::min(remaining, cur->Size() - cur->Position());
                    if (n > 0) {
                        auto thread =
                            std::make_shared<TCopyStreamThread>(*cur, *source, n, false, FBufferSize, FPriority);
                        thread->Start();
                        WaitUntil([&] { return thread->Done(); }, 10);
                        if (thread->ErrorCode() != 0) {
                            ASysMsg = thread->SysErrorMsg();
                            return thread->ErrorCode();
                        }
                        remaining -= n;
                    }
                    if (remaining <= 0)
                        break;
                    ++index;
                    if (index > FCurSeg) {
                        ASysMsg = Tr("The entry's data ends early.");
                        return feReadZipSegment;
                    }
                    cur = index == FCurSeg ? std::static_pointer_cast<TStream>(FStream)
                                           : std::make_shared<TExtFileStream>(ZipSegmentName(ZName, index), kReadMode);
                    cur->SetPosition(index == 0 ? 4 : 0);
                }
                source->SetPosition(0);
            }
        }
    } catch (const EExtFileStreamError &e) {
        ASysMsg = e.Message();
        return feReadZipSegment;
    }
    const bool encrypted = AHeader.EncMode != 0;
    auto thread = std::make_shared<TZipVerifyThread>(encrypted ? FEncryption : nullptr, AHeader.CRC, source,
                                                     AHeader.CSize, AHeader.USize, AHeader.CompMethod != 0,
                                                     !FIsTemp, FBufferSize, FPriority, nullptr);
    thread->SetTempDir(fZipTmpDir);
    QString msg;
    int32_t code = RunWorker(thread, msg);
    ASysMsg = msg;
    if (FStream)
        FStream->Seek(0, TSeekOrigin::soEnd);
    source.reset();
    if (!tempName.isEmpty())
        RemoveFile(tempName);
    return code;
}

void TZipWrite::Verify()
{
    CheckOpen(Tr("Error verifying archive"));
    const int64_t count = int64_t(FileList.size());
    if (OnVerifyProgress)
        OnVerifyProgress(TFileAction::acZipVerify, -count, false);
    FOnProgress = nullptr;
    for (int64_t i = 0; i < count; ++i) {
        if (OnVerifyProgress)
            OnVerifyProgress(TFileAction::acZipVerify, i, false);
        QString msg;
        const int32_t code = VerifyEntry(*FileList[size_t(i)].Header, msg);
        if (code != 0)
            throw EZipError(GuardedFormat(Tr("Error verifying \"%s\""), FileList[size_t(i)].Name), code, msg);
        if (FCanceled)
            break;
    }
}

void TZipWrite::DeleteZipFile()
{
    FStream.reset();
    FClosed = true;
    for (int32_t i = 0; i <= FCurSeg; ++i) {
        const QString name = i < FCurSeg ? ZipSegmentName(ZName, i) : ZName;
        const uint32_t r = RemoveFile(name);
        if (r != 0)
            throw EZipError(Tr("Error deleting file") + QStringLiteral(": ") + name, feDeleteFile | ecError,
                            SystemErrorText(r));
    }
}

void TZipWrite::RenameZipFile(const QString &NewName)
{
    FStream.reset();
    FClosed = true;
    for (int32_t i = 0; i <= FCurSeg; ++i) {
        const QString from = i < FCurSeg ? ZipSegmentName(ZName, i) : ZName;
        const QString to = i < FCurSeg ? ZipSegmentName(NewName, i) : NewName;
        const uint32_t r = XlMoveFile(from, to);
        if (r != 0)
            throw EZipError(Tr("Error renaming file") + QStringLiteral(": ") + from, kRenameError | ecError,
                            SystemErrorText(r));
    }
}

int32_t TZipWrite::NewSegment()
{
    if (fMaxSize <= 0)
        return 0;
    FStream.reset(); // close errors are ignored: the file is read back by Verify
    int64_t freeBytes = 0, total = 0;
    if (DiskSpace(ParentDirectory(ZName), freeBytes, total) == 0 && freeBytes <= fMaxSize && OnFullDisk &&
        OnFullDisk()) {
        FClosed = true;
        return feLowDiskSpace;
    }
    const QString seg = ZipSegmentName(ZName, FCurSeg);
    int32_t result = 0;
    if (!DeleteFileIfExists(seg) || XlMoveFile(ZName, seg) != 0) {
        result = feNewZipSegment;
    } else {
        try {
            FStream = std::make_shared<TZipStream>(ZName, kCreateMode, 0644u);
            ++FCurSeg;
        } catch (const EExtFileStreamError &) {
            result = feNewZipSegment;
        }
    }
    FNumSeg = FCurSeg;
    if (result != 0)
        FClosed = true;
    return result;
}

bool TZipWrite::CheckSegment(int64_t ASpace)
{
    return fMaxSize > 0 && FStream && FStream->Position() + ASpace > fMaxSize;
}

void TZipWrite::Suspend()
{
    if (ZipThread && !ZipThread->Done())
        ZipThread->SetPaused(true);
    if (CopyThread && !CopyThread->Done())
        CopyThread->SetPaused(true);
}

void TZipWrite::Resume()
{
    if (ZipThread)
        ZipThread->SetPaused(false);
    if (CopyThread)
        CopyThread->SetPaused(false);
}

void TZipWrite::Cancel()
{
    if (ZipThread) {
        ZipThread->SetPaused(false);
        if (!ZipThread->Done())
            ZipThread->CancelThread();
    }
    if (CopyThread && !CopyThread->Done())
        CopyThread->Terminate();
    FCanceled = true;
}

} // namespace vl
