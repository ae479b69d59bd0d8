#include "engine/ZipRead.h"

#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "engine/Encryption.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"

#include <QFile>
#include <QRandomGenerator>

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace vl {

namespace {

// Above this uncompressed size, entry data that spans segments is gathered
// in a temporary file instead of memory.
constexpr int64_t kGatherMemoryLimit = 52428800;
// The attributes a restore applies: read-only, hidden, system, archive.
constexpr uint16_t kRestoredAttr = 0x27;
constexpr int64_t kMaxStreamValue = std::numeric_limits<int64_t>::max();

QString ErrorText(const std::exception &e)
{
    if (const auto *x = dynamic_cast<const Exception *>(&e))
        return x->Message();
    return QString::fromLocal8Bit(e.what());
}

// The mode of files whose entry keeps none: 0666 less the process's umask,
// read without changing it.
uint32_t DefaultFileMode()
{
    static const uint32_t mode = [] {
        uint32_t mask = 022;
        // Our own process file, not user data.
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint32_t v = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        mask = v & 0777;
                }
            }
        }
        return 0666u & ~mask;
    }();
    return mode;
}

// ALength bytes from the source's position to the target's, block by block
// with the message loop running in between. 0, or 0x104 / 0x105 / 0x107.
int32_t CopyStreamPart(TStream &ASource, TStream &ADest, int64_t ALength, int32_t ABufSize, QString &ASysMsg)
{
    QByteArray buffer(std::max(ABufSize, 65536), Qt::Uninitialized);
    int64_t remaining = ALength;
    try {
        while (remaining > 0) {
            const int64_t n = std::min<int64_t>(remaining, buffer.size());
            const int64_t read = ASource.Read(buffer.data(), n);
            if (read != n) {
                ASysMsg = SystemErrorLine(ASource.LastError() ? ASource.LastError() : ERROR_HANDLE_EOF);
                return feReadFile | ecError;
            }
            const int64_t written = ADest.Write(buffer.constData(), n);
            if (written != n) {
                const uint32_t code = ADest.LastError() ? ADest.LastError() : ERROR_DISK_FULL;
                ASysMsg = SystemErrorLine(code);
                return (code == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
            }
            remaining -= n;
            ProcessMessages();
        }
    } catch (const std::exception &e) {
        ASysMsg = ErrorText(e);
        return feReadFile | ecError;
    }
    return feOk;
}

} // namespace

// ---- Entry names ----

QString CleanZipEntryName(const QString &AName, bool &AUnsafe)
{
    QString s = ZipNameToPath(AName);
    // Drive parts: "C:" of the program's archives of several drives, and
    // "//server/share" of network sources.
    if (s.size() >= 2 && s.at(1) == QLatin1Char(':') && s.at(0).isLetter() && s.at(0).unicode() < 0x80)
        s.remove(0, 2);
    else if (s.startsWith(QLatin1String("//")) && s.size() > 2 && s.at(2) != QLatin1Char('/')) {
        const qsizetype server = s.indexOf(QLatin1Char('/'), 2);
        const qsizetype share = server < 0 ? -1 : s.indexOf(QLatin1Char('/'), server + 1);
        s = share < 0 ? QString() : s.mid(share);
    }
    qsizetype lead = 0;
    while (lead < s.size() && s.at(lead) == QLatin1Char('/'))
        ++lead;
    s.remove(0, lead);
    AUnsafe = s.contains(QChar(0));
    for (const QString &part : s.split(QLatin1Char('/')))
        if (part == QLatin1String(".."))
            AUnsafe = true;
    return s;
}

bool ZipEntryTargetPath(const QString &ATargetDir, const QString &AEntryName, QString &APath)
{
    bool unsafe = false;
    const QString name = CleanZipEntryName(AEntryName, unsafe);
    if (unsafe || ATargetDir.isEmpty())
        return false;
    // Both resolved ("." and ".." elements): CanonicalPath leaves a path
    // that is already absolute as it stands.
    const QString target = CanonicalPath(ATargetDir, QString());
    const QString path = CanonicalPath(ATargetDir, name);
    if (!DirContainsPath(target, path))
        return false;
    APath = path;
    return true;
}

// ---- TZipReadThread ----

TZipReadThread::TZipReadThread(std::shared_ptr<TStream> ZStream, const QString &AFileName,
                               std::shared_ptr<TEncryption> AEncryption, const TZipFileInfo &AZipInfo, bool ASpeedLimit,
                               int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TCopyThread(QString(), AFileName, ABufSize, APriority), FZStream(std::move(ZStream)),
      FEncryptionRef(std::move(AEncryption)), FZipInfo(AZipInfo), FSpeedLimit(ASpeedLimit)
{
    FErrFlag = eoZip;
    Overwrite = true;
    CheckTime = false;
    SetOnProgress(AOnProgress);
    AttachEncryption(FEncryptionRef.get());
}

TZipReadThread::TZipReadThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ADest,
                               std::shared_ptr<TEncryption> AEncryption, const TZipFileInfo &AZipInfo, bool ASpeedLimit,
                               int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TZipReadThread(std::move(ZStream), QString(), std::move(AEncryption), AZipInfo, ASpeedLimit, ABufSize, APriority,
                     AOnProgress)
{
    FDestStream = std::move(ADest);
}

TZipReadThread::TZipReadThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ADest, bool ASpeedLimit,
                               int32_t ABufSize, TThreadPriority APriority, const TFileProgressEvent &AOnProgress)
    : TZipReadThread(std::move(ZStream), std::move(ADest), nullptr, TZipFileInfo(), ASpeedLimit, ABufSize, APriority,
                     AOnProgress)
{
    RdLocalHeader = true;
}

void TZipReadThread::DoProgress(TFileAction AAction, int64_t ACount, bool)
{
    TCopyThread::DoProgress(AAction, ACount, FSpeedLimit);
}

void TZipReadThread::Execute()
{
    const int32_t result = RunThreadBody(*this, FSysErrMsg, [this] { return Work(); });
    Finish(result);
    FZStream.reset();
    FDestStream.reset();
}

int32_t TZipReadThread::Work()
{
    if (!WaitGate())
        return feTerminated;
    if (!FZStream)
        return feUndefinedStream | ecError;
    if (!DestName.isEmpty()) {
        // The password is checked by the decryption before anything is
        // committed: a failed entry leaves an existing file as it was.
        if ((FZipInfo.Flag & kZipFlagEncrypted) && !FCrypting) {
            FSysErrMsg = Tr("The entry is encrypted and no password was given.");
            return feDecryption | ecError;
        }
        int32_t result = CreateDest(FileMode);
        if (result == feOk)
            result = ExtractData(sDest.get());
        if (result != feOk) {
            ReleaseStreams();
            return result;
        }
        CopyTimeStamp = FileTimes.Valid;
        return FinishDest(false, false, FileAttr, FileTimes, false);
    }
    if (!FDestStream)
        return feUndefinedStream | ecError;
    if (RdLocalHeader) {
        bool ok = false;
        try {
            ok = ReadZipLocalHeader(*FZStream, FZipInfo);
        } catch (const std::exception &e) {
            FSysErrMsg = ErrorText(e);
        }
        if (!ok)
            return feReadFile | ecError;
    }
    return ExtractData(FDestStream.get());
}

int32_t TZipReadThread::ExtractData(TStream *ADest)
{
    TEntrySizeCap limited(ADest, FZipInfo.USize);
    int32_t result = feOk;
    const bool encrypted = (FZipInfo.Flag & kZipFlagEncrypted) != 0;
    if (encrypted) {
        if (!FCrypting) {
            FSysErrMsg = Tr("The entry is encrypted and no password was given.");
            return feDecryption | ecError;
        }
        // 0 lets the password length choose, as for archives without AES extra.
        FCrypting->SetKeyMode(FZipInfo.KeyMode);
        DoProgress(TFileAction::acDecrypt, -FZipInfo.CSize, false);
        std::unique_ptr<TStream> temp;
        QString tempName;
        result = CreateTempStream(QStringLiteral("encrypt.tmp"), FZipInfo.CSize, kZipMemoryLimit, temp, tempName);
        if (result == feOk) {
            const TOpResult r = FCrypting->DecryptStreamEx(*FZStream, temp.get(), FZipInfo.CSize, FSpeedLimit,
                                                           [this] { return IsCanceled(); });
            if (r == TOpResult::orUserBreak) {
                result = feTerminated;
            } else if (r == TOpResult::orError) {
                const uint32_t writeError = temp->LastError();
                if (writeError != 0) {
                    SetSysError(writeError);
                    result = (writeError == ERROR_DISK_FULL ? feLowDiskSpace : feWriteFile) | ecError;
                } else {
                    FSysErrMsg = Tr("Wrong password or damaged data.");
                    result = feDecryption | ecError;
                }
            }
        }
        if (result == feOk) {
            const int64_t size = temp->Size();
            DoProgress(TFileAction::acUnCompress, -size, false);
            temp->SetPosition(0);
            if (FZipInfo.AesMethod == kZipMethodDeflate)
                result = size > 0 ? InflateStream(*temp, &limited, false, size) : feCorruptFile | ecError;
            else if (FZipInfo.AesMethod == kZipMethodStored)
                result = CopyBlocks(*temp, &limited, false, size);
            else
                result = feUnsupportedFormat | ecError;
        }
        if (temp)
            FreeTempStream(temp, tempName);
    } else {
        DoProgress(TFileAction::acUnCompress, -FZipInfo.USize, false);
        if (FZipInfo.Method == kZipMethodDeflate)
            result = InflateStream(*FZStream, &limited, FSpeedLimit, FZipInfo.CSize);
        else if (FZipInfo.Method == kZipMethodStored)
            result = FZipInfo.CSize == FZipInfo.USize ? CopyBlocks(*FZStream, &limited, FSpeedLimit, FZipInfo.CSize)
                                                      : feCorruptFile | ecError;
        else
            result = feUnsupportedFormat | ecError;
    }
    if (result != feOk)
        return result;
    if (limited.Size() != FZipInfo.USize)
        return feReadFile | ecError;
    // The authentication code covers encrypted data; the CRC of AE-1
    // entries still checks the unpacking.
    const bool checkCrc = !encrypted || FZipInfo.AesVersion == 1;
    if (checkCrc && FCrc != FZipInfo.Crc)
        return feReadFile | ecError;
    CTotal = FZipInfo.CSize;
    UTotal = FZipInfo.USize;
    return feOk;
}

TZipCompareThread::TZipCompareThread(std::shared_ptr<TStream> ZStream, std::shared_ptr<TStream> ARef,
                                     std::shared_ptr<TEncryption> AEncryption, const TZipFileInfo &AZipInfo,
                                     bool ASpeedLimit, int32_t ABufSize, TThreadPriority APriority,
                                     const TFileProgressEvent &AOnProgress)
    : TZipReadThread(std::move(ZStream), std::move(ARef), std::move(AEncryption), AZipInfo, ASpeedLimit, ABufSize,
                     APriority, AOnProgress)
{
}

int32_t TZipCompareThread::Work()
{
    if (!WaitGate())
        return feTerminated;
    if (!FZStream || !FDestStream)
        return feUndefinedStream | ecError;
    std::unique_ptr<TStream> temp;
    QString tempName;
    // Staged by the unpacked size: a well-compressed entry of a few hundred
    // megabytes has a compressed size far below the memory limit.
    int32_t result = CreateTempStream(QStringLiteral("gzip.tmp"), std::max(FZipInfo.CSize, FZipInfo.USize),
                                      kZipMemoryLimit, temp, tempName);
    if (result == feOk)
        result = ExtractData(temp.get());
    if (result == feOk)
        result = CompareStreams(*FDestStream, *temp, FSpeedLimit);
    if (temp)
        FreeTempStream(temp, tempName);
    FDestStream.reset();
    return result;
}

// ---- TZipRead ----

TZipRead::TZipRead(const QString &ZipName, const QByteArray &Password, int32_t AKeyMode, int32_t ABufSize) try
    : TZip(ZipName, Password, AKeyMode, ABufSize, 0x0010) {
} catch (const EExtFileStreamError &e) {
    throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error opening \"%s\"")), ZipName), feOpenFile | ecError, e.Message());
}

TZipRead::~TZipRead()
{
    Cancel();
    ClearFileList();
}

void TZipRead::ClearFileList()
{
    FUnsafe.clear();
    FileList.clear();
}

QString TZipRead::Filename(int Index) const
{
    return Index >= 0 && Index < Count() ? FileList[size_t(Index)].Name : QString();
}

bool TZipRead::IsEncrypted(int Index) const
{
    return Index >= 0 && Index < Count() && (FileList[size_t(Index)].Header->GpFlag & kZipFlagEncrypted) != 0;
}

bool TZipRead::IsUnsafe(int Index) const
{
    return Index >= 0 && Index < Count() && FUnsafe.count(FileList[size_t(Index)].Header.get()) != 0;
}

int TZipRead::IndexOf(const TPkHeader &AHeader) const
{
    for (size_t i = 0; i < FileList.size(); ++i)
        if (FileList[i].Header.get() == &AHeader)
            return int(i);
    return -1;
}

void TZipRead::RaiseRead(int32_t ACode, const QString &ASysMsg)
{
    throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error reading from \"%s\"")), ZName), ACode, ASysMsg);
}

int32_t TZipRead::OpenSegment(int AIndex, std::shared_ptr<TStream> &AStream, QString &ASysMsg)
{
    if (AIndex == FNumSeg) {
        AStream = FStream;
        return feOk;
    }
    if (AIndex < 0 || AIndex > FNumSeg)
        return feReadZipSegment | ecError;
    try {
        AStream = std::make_shared<TExtFileStream>(ZipSegmentName(ZName, AIndex), kOpenReadShared);
    } catch (const EExtFileStreamError &e) {
        ASysMsg = e.Message();
        return feReadZipSegment | ecError;
    }
    return feOk;
}

void TZipRead::ReadDirectory(const TGetNumStrProc &Callback)
{
    bool nameFailed = false;
    int32_t code = feOk;
    try {
        code = ReadDirectoryRecords(Callback, nameFailed);
    } catch (const std::exception &) {
        code = feReadFile;
    }
    if (code == feOk && nameFailed)
        code = feDecryption;
    if (code != feOk)
        RaiseRead((code & 0xFF) | ecError, QString());
}

int32_t TZipRead::ReadDirectoryRecords(const TGetNumStrProc &Callback, bool &ANameFailed)
{
    ClearFileList();
    TZipDirectoryInfo info;
    if (!ReadZipDirectoryInfo(*FStream, info))
        return feZipSignature;
    // Disk numbers of a damaged zip64 record must not turn negative.
    if (info.CentralDisk > info.DiskNumber || info.DiskNumber > uint32_t(std::numeric_limits<int32_t>::max()))
        return feZipSignature;
    FNumSeg = FCurSeg = int32_t(info.DiskNumber);
    bod = int64_t(std::min<uint64_t>(info.CentralOffset, uint64_t(kMaxStreamValue)));
    int segIndex = int(info.CentralDisk);
    std::shared_ptr<TStream> seg;
    QString sysMsg;
    if (OpenSegment(segIndex, seg, sysMsg) != feOk)
        return feReadZipSegment;
    int64_t segSize = seg->Size();
    if (bod > segSize)
        return feReadFile;
    seg->SetPosition(bod);
    // A worker that was given up on may still decrypt with the archive's
    // encryption object: names stay undeciphered (error 11) rather than
    // share it.
    if (FAbandonedCrypt && FAbandonedCrypt->Done())
        FAbandonedCrypt.reset();
    const bool cryptBusy = FAbandonedCrypt != nullptr;
    QByteArray record, rawName, extra, comment;
    for (uint64_t i = 0; i < info.TotalEntries; ++i) {
        ProcessMessages();
        if (seg->Position() >= segSize && segIndex < FNumSeg) {
            if (OpenSegment(++segIndex, seg, sysMsg) != feOk)
                return feReadZipSegment;
            segSize = seg->Size();
            seg->SetPosition(0);
        }
        TZipCentralHeader c;
        if (!ReadExact(*seg, record, kZipCentralHeaderSize))
            return feReadFile;
        if (!DecodeZipCentralHeader(record, c))
            return feZipSignature;
        if (c.Method != kZipMethodStored && c.Method != kZipMethodDeflate && c.Method != kZipMethodAes)
            return feUnsupportedFormat;
        if (!ReadExact(*seg, rawName, c.NameLength) || !ReadExact(*seg, extra, c.ExtraLength)
            || !ReadExact(*seg, comment, c.CommentLength))
            return feReadFile;
        std::vector<TZipExtraField> fields;
        if (!ParseZipExtraFields(extra, fields))
            return feReadFile;
        uint64_t usize = c.USize, csize = c.CSize, offset = c.LocalOffset;
        TPKExtraEncField aes;
        bool hasAes = false, hasEncName = false;
        QByteArray encName;
        for (const TZipExtraField &f : fields) {
            if (f.Id == kZipExtraZip64)
                ApplyZip64ExtraData(f.Data, c.USize, c.CSize, c.LocalOffset, usize, csize, offset);
            else if (f.Id == kZipExtraAes)
                hasAes = DecodeAesExtraData(f.Data, aes);
            else if (f.Id == kZipExtraEncName && !hasEncName) {
                hasEncName = true;
                encName = f.Data;
            }
        }
        if (usize > uint64_t(kMaxStreamValue) || csize > uint64_t(kMaxStreamValue)
            || offset > uint64_t(kMaxStreamValue))
            return feReadFile;

        auto header = std::make_unique<TPkHeader>();
        header->FName = rawName;
        header->DirLength = uint16_t(std::min(kZipCentralHeaderSize + c.NameLength + c.ExtraLength, 0xFFFF));
        header->TimeStamp = c.Time;
        header->CRC = c.Crc;
        header->ExtAttr = c.ExternalAttr;
        header->PkVersion = c.VersionNeeded;
        header->GpFlag = c.Flags;
        header->CompMethod = c.Method;
        if (hasAes) {
            header->EncVers = aes.Version;
            header->EncMode = aes.Mode;
            header->EncMeth = aes.Method;
        }
        header->Segment = c.DiskStart;
        header->Offset = int64_t(offset);
        header->CSize = int64_t(csize);
        header->USize = int64_t(usize);

        if ((c.Flags & kZipFlagEncryptedName) && FEncryption && cryptBusy) {
            ANameFailed = true;
        } else if ((c.Flags & kZipFlagEncryptedName) && FEncryption) {
            QByteArray name;
            bool ok;
            if (hasEncName) {
                FEncryption->SetKeyMode(hasAes ? aes.Mode : FEncryption->KeyMode());
                ok = DecryptZipEntryName(*FEncryption, encName, name);
            } else {
                // Directory entries carry the enciphered name only in their
                // local header.
                const int64_t pos = seg->Position();
                ok = DecipherLocalName(*header, name);
                seg->SetPosition(pos);
            }
            if (ok)
                header->FName = name;
            else
                ANameFailed = true;
        }
        const QString stored = DecodeZipName(header->FName, (c.Flags & kZipFlagUtf8) != 0);
        bool unsafe = false;
        const QString name = CleanZipEntryName(stored, unsafe);
        header->UpdateFlags();
        // Empty files are files: only the attribute or a trailing delimiter
        // makes a folder.
        header->IsDir = IsZipDirectoryEntry(c.ExternalAttr, stored);
        if (OnReadDirStatus)
            OnReadDirStatus(int32_t(i), name);
        if (Callback)
            Callback(int32_t(i), name);
        if (unsafe)
            FUnsafe.insert(header.get());
        FileList.push_back(TZipListItem{name, std::move(header)});
    }
    return feOk;
}

bool TZipRead::DecipherLocalName(const TPkHeader &AHeader, QByteArray &AName)
{
    std::shared_ptr<TStream> stream;
    QString sysMsg;
    if (OpenSegment(FNumSeg == 0 ? 0 : AHeader.Segment, stream, sysMsg) != feOk)
        return false;
    TZipFileInfo info;
    try {
        if (AHeader.Offset > stream->Size())
            return false;
        stream->SetPosition(AHeader.Offset);
        if (!ReadZipLocalHeader(*stream, info) || info.EncName.isEmpty())
            return false;
    } catch (const std::exception &) {
        return false;
    }
    if (info.KeyMode > 0)
        FEncryption->SetKeyMode(info.KeyMode);
    return DecryptZipEntryName(*FEncryption, info.EncName, AName);
}

int32_t TZipRead::PrepareEntry(const TPkHeader &AHeader, std::shared_ptr<TStream> &AStream, TZipFileInfo &AInfo,
                               QString &ATempName, QString &ASysMsg)
{
    AStream.reset();
    ATempName.clear();
    const int segIndex = FNumSeg == 0 ? 0 : AHeader.Segment;
    std::shared_ptr<TStream> seg;
    int32_t result = OpenSegment(segIndex, seg, ASysMsg);
    if (result != feOk)
        return result;
    int64_t segSize = 0, dataStart = 0;
    try {
        segSize = seg->Size();
        bool ok = AHeader.Offset <= segSize;
        if (ok) {
            seg->SetPosition(AHeader.Offset);
            ok = ReadZipLocalHeader(*seg, AInfo);
        }
        if (!ok) {
            ASysMsg = SystemErrorLine(seg->LastError() ? seg->LastError() : ERROR_HANDLE_EOF);
            return feReadFile | ecError;
        }
        dataStart = seg->Position();
    } catch (const std::exception &e) {
        ASysMsg = ErrorText(e);
        return feReadFile | ecError;
    }
    if (AInfo.Flag & kZipFlagDescriptor) {
        AInfo.Crc = AHeader.CRC;
        AInfo.CSize = AHeader.CSize;
        AInfo.USize = AHeader.USize;
    }
    if (segIndex == FNumSeg || dataStart + AInfo.CSize <= segSize) {
        AStream = seg;
        return feOk;
    }
    // The data continues in the following segments: gather it.
    std::shared_ptr<TStream> temp;
    // Both sizes count: the gathered bytes are the compressed ones, and a
    // damaged header may claim a small unpacked size for them.
    if (std::max(AInfo.USize, AInfo.CSize) > kGatherMemoryLimit) {
        for (int attempt = 0; !temp; ++attempt) {
            ATempName = WithTrailingDelimiter(fZipTmpDir) + QStringLiteral("zip-")
                        + QString::number(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFULL, 36)
                        + QStringLiteral(".tmp");
            try {
                temp = std::make_shared<TExtFileStream>(ATempName, uint16_t(kCreateExclusive | 0x04), 0600);
            } catch (const EExtFileStreamError &e) {
                if (uint32_t(e.ErrorCode()) == ERROR_FILE_EXISTS && attempt < 16)
                    continue;
                ATempName.clear();
                ASysMsg = e.Message();
                return feCreateFile | ecError;
            }
        }
    } else {
        temp = std::make_shared<TMemoryStream>();
    }
    int64_t missing = AInfo.CSize;
    int64_t n = segSize - dataStart;
    result = CopyStreamPart(*seg, *temp, n, FBufferSize, ASysMsg);
    missing -= n;
    for (int next = segIndex + 1; result == feOk && missing > 0; ++next) {
        if (next > FNumSeg || (result = OpenSegment(next, seg, ASysMsg)) != feOk) {
            result = feReadZipSegment | ecError;
            break;
        }
        try {
            n = std::min(missing, seg->Size());
            seg->SetPosition(0);
        } catch (const std::exception &e) {
            ASysMsg = ErrorText(e);
            result = feReadFile | ecError;
            break;
        }
        result = CopyStreamPart(*seg, *temp, n, FBufferSize, ASysMsg);
        missing -= n;
    }
    if (result != feOk)
        return result;
    temp->SetPosition(0);
    AStream = temp;
    return feOk;
}

int32_t TZipRead::RunWorker(const std::shared_ptr<TZipReadThread> &AThread, bool AEncrypted, QString &ASysMsg)
{
    if (FAbandonedCrypt && FAbandonedCrypt->Done())
        FAbandonedCrypt.reset();
    if (AEncrypted && FAbandonedCrypt) {
        ASysMsg = Tr("An earlier extraction that was given up on is still running.");
        return feCopyTimeout | ecError;
    }
    AThread->SetTempDir(fZipTmpDir);
    ZipThread = AThread;
    // WaitForThread starts it.
    const int32_t code = WaitForThread(*AThread, true, [AThread] { return AThread->ErrorCode(); });
    ASysMsg = AThread->SysErrorMsg();
    ZipThread.reset();
    if (!AThread->Done()) {
        // Given up on: it may still read the archive stream, so the next
        // entries get a stream of their own.
        if (AEncrypted)
            FAbandonedCrypt = AThread;
        try {
            FStream = std::make_shared<TZipStream>(ZName, uint16_t(0x0010), 0644u);
        } catch (const EExtFileStreamError &e) {
            ASysMsg = e.Message();
        }
    }
    return code;
}

void TZipRead::ExtractToFile(int Index, const QString &DestFilename, bool ResetArchiveBit)
{
    if (Index < 0 || Index >= Count())
        RaiseRead(feReadFile | ecError, QString());
    const TPkHeader &header = *FileList[size_t(Index)].Header;
    if ((header.GpFlag & kZipFlagEncrypted) && !FEncryption)
        RaiseRead(feDecryption | ecError, QString());
    ExtractToFile(header, DestFilename, ResetArchiveBit);
}

void TZipRead::ExtractToFile(const TPkHeader &pkHeader, const QString &DestFilename, bool ResetArchiveBit)
{
    if (FUnsafe.count(&pkHeader) != 0) {
        const int index = IndexOf(pkHeader);
        RaiseRead(feExtractFile | ecError,
                  GuardedFormat(Tr(VL_TR_NOOP("Unsafe entry name \"%s\"")), Filename(index)));
    }
    std::shared_ptr<TStream> source;
    TZipFileInfo info;
    QString tempName, sysMsg;
    int32_t code = PrepareEntry(pkHeader, source, info, tempName, sysMsg);
    if (code == feOk) {
        auto thread = std::make_shared<TZipReadThread>(source, DestFilename, FEncryption, info, !FIsTemp,
                                                       FBufferSize, FPriority, FOnProgress);
        uint32_t mode = 0;
        thread->FileMode = ZipExternalMode(pkHeader.ExtAttr, mode) ? (mode & 0777) : DefaultFileMode();
        thread->FileAttr = pkHeader.Attr() & kRestoredAttr;
        thread->ResetArchiveBit = ResetArchiveBit;
        TFileTime time = 0;
        if (ZipTimeToFileTime(pkHeader.TimeStamp, time)) {
            thread->FileTimes.Valid = true;
            thread->FileTimes.LastWriteTime = time;
            thread->FileTimes.LastAccessTime = time;
        }
        code = RunWorker(thread, (info.Flag & kZipFlagEncrypted) != 0, sysMsg);
    }
    source.reset();
    if (!tempName.isEmpty())
        RemoveFile(tempName);
    if (code == feOk)
        return;
    code &= 0xFFF;
    if (code == (feSetTimestamp | ecWarning))
        throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error setting timestamps of \"%s\"")), DestFilename), code,
                        sysMsg);
    if (code == (feSetAttributes | ecWarning))
        throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error setting attributes of \"%s\"")), DestFilename), code,
                        sysMsg);
    FErrorFlag = (code & 0xFF) == feWriteFile || (code & 0xFF) == feLowDiskSpace;
    RaiseRead(code, sysMsg);
}

void TZipRead::ExtractEntryTo(int Index, const QString &ATargetDir, bool ResetArchiveBit)
{
    if (Index < 0 || Index >= Count())
        RaiseRead(feReadFile | ecError, QString());
    const TZipListItem &item = FileList[size_t(Index)];
    QString path;
    if (FUnsafe.count(item.Header.get()) != 0 || !ZipEntryTargetPath(ATargetDir, item.Name, path))
        RaiseRead(feExtractFile | ecError, GuardedFormat(Tr(VL_TR_NOOP("Unsafe entry name \"%s\"")), item.Name));
    // A file entry without a name of its own ("", ".", "C:") would take the
    // place of the target folder.
    if (!item.Header->IsDir && DirContainsPath(path, CanonicalPath(ATargetDir, QString())))
        RaiseRead(feExtractFile | ecError, GuardedFormat(Tr(VL_TR_NOOP("Unsafe entry name \"%s\"")), item.Name));
    const QString dir = item.Header->IsDir ? path : ParentDirectory(path);
    if (const uint32_t err = MakeDirs(dir))
        RaiseRead(feCreateDirectory | ecError, SystemErrorLine(err));
    if (!item.Header->IsDir) {
        ExtractToFile(*item.Header, path, ResetArchiveBit);
        return;
    }
    // A folder keeps its mode, but the restore must still be able to fill it.
    uint32_t mode = 0;
    if (ZipExternalMode(item.Header->ExtAttr, mode))
        Chmod(path, (mode & 0777) | 0700);
}

bool TZipRead::ExtractToStream(const QString &Filename, TStream &sDest)
{
    const TPkHeader *header = nullptr;
    for (const TZipListItem &item : FileList)
        if (item.Name.compare(Filename, Qt::CaseInsensitive) == 0) {
            header = item.Header.get();
            break;
        }
    if (!header)
        return false;
    std::shared_ptr<TStream> source;
    TZipFileInfo info;
    QString tempName, sysMsg;
    int32_t code = PrepareEntry(*header, source, info, tempName, sysMsg);
    auto memory = std::make_shared<TMemoryStream>();
    if (code == feOk) {
        auto thread = std::make_shared<TZipReadThread>(source, memory, FEncryption, info, !FIsTemp, FBufferSize,
                                                       FPriority, FOnProgress);
        code = RunWorker(thread, (info.Flag & kZipFlagEncrypted) != 0, sysMsg);
    }
    source.reset();
    if (!tempName.isEmpty())
        RemoveFile(tempName);
    if (code == feOk) {
        // The worker wrote into a stream of its own: one that was given up
        // on never writes into the caller's.
        memory->SetPosition(0);
        code = CopyStreamPart(*memory, sDest, memory->Size(), FBufferSize, sysMsg);
        sDest.SetPosition(0);
    }
    if (code != feOk)
        throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error extracting from \"%s\"")), ZName),
                        (code & 0xFF) | ecError, sysMsg);
    return true;
}

void TZipRead::CompareToFile(int Index, const QString &DestFilename)
{
    if (Index < 0 || Index >= Count())
        return;
    const TPkHeader &header = *FileList[size_t(Index)].Header;
    if ((header.GpFlag & kZipFlagEncrypted) && !FEncryption)
        RaiseRead(feDecryption | ecError, QString());
    CompareToFile(header, DestFilename);
}

void TZipRead::CompareToFile(const TPkHeader &pkHeader, const QString &RefFilename)
{
    QString sysMsg;
    int32_t code = feOk;
    std::unique_ptr<TStream> ref;
    if (!XlFileExists(RefFilename, true))
        code = feFileNotFound | ecError;
    else if (OpenReadShared(RefFilename, ref, sysMsg) != feOk)
        code = feCreateFile | ecError;
    std::shared_ptr<TStream> source;
    TZipFileInfo info;
    QString tempName;
    if (code == feOk)
        code = PrepareEntry(pkHeader, source, info, tempName, sysMsg);
    if (code == feOk) {
        auto thread = std::make_shared<TZipCompareThread>(source, std::shared_ptr<TStream>(std::move(ref)),
                                                          FEncryption, info, !FIsTemp, FBufferSize, FPriority,
                                                          FOnProgress);
        code = RunWorker(thread, (info.Flag & kZipFlagEncrypted) != 0, sysMsg);
    }
    source.reset();
    if (!tempName.isEmpty())
        RemoveFile(tempName);
    if (code == feOk)
        return;
    code &= 0xFFF;
    FErrorFlag = (code & 0xFF) == feVerification;
    throw EZipError(GuardedFormat(Tr(VL_TR_NOOP("Error comparing file from \"%s\" to \"%s\"")), ZName,
                                  LastPathElement(RefFilename)),
                    code, sysMsg);
}

void TZipRead::Cancel()
{
    if (ZipThread && !ZipThread->Done())
        ZipThread->CancelThread();
}

} // namespace vl
