#include "engine/CompareThread.h"

#include "core/FileErrors.h"
#include "core/Translate.h"
#include "engine/EncryptedFile.h"
#include "engine/Encryption.h"
#include "engine/ZipFormat.h"

#include <algorithm>

namespace vl {

TCompareThread::TCompareThread(const QString &AVerifyName, const QString &ARefName, TEncryption *AEncryption,
                               bool ACompress, bool AZipCompress, int32_t ABufSize, TThreadPriority APriority)
    : TGUnZipThread(AVerifyName, ARefName, AEncryption, ABufSize, APriority), FZipCompress(AZipCompress),
      FGzip(ACompress)
{
    FErrFlag = FZipCompress ? eoZip : FGzip ? eoGunzip : AEncryption ? eoDecrypt : eoNone;
}

void TCompareThread::Execute()
{
    Finish(RunThreadBody(*this, FSysErrMsg, [this] { return CompareFiles(); }));
}

int32_t TCompareThread::CompareFiles()
{
    int32_t result = feOk;
    TFileData refData;
    if (!ReadFileData(DestName, refData))
        result = feFileNotFound | ecError;
    else if (!ReadFileData(SourceName, SourceFileData))
        result = feFileNotFound | ecSecondFile;
    std::unique_ptr<TStream> ref, backup;
    if (result == feOk)
        result = OpenReadShared(DestName, ref, FSysErrMsg);
    if (result == feOk && OpenReadShared(SourceName, backup, FSysErrMsg) != feOk)
        result = feOpenFile | ecSecondFile;
    if (result == feOk) {
        {
            std::lock_guard<std::mutex> lock(FStreamLock);
            sSource = std::move(ref);
            sDest = std::move(backup);
        }
        if (FZipCompress)
            result = CompareZip(*sSource, *sDest);
        else if (FGzip)
            result = CompareGzip(*sSource, *sDest);
        else if (FCrypting)
            result = CompareEncrypted(*sSource, *sDest);
        else
            result = CompareStreams(*sSource, *sDest, true);
    }
    ReleaseStreams();
    return result;
}

int32_t TCompareThread::CompareUnpacked(TStream &ARef, std::unique_ptr<TStream> &ATemp, const QString &ATempName,
                                        int32_t AResult)
{
    if (AResult == feOk) {
        DoProgress(TFileAction::acVerify, -ATemp->Size(), false);
        AResult = CompareStreams(ARef, *ATemp, false);
    }
    if (ATemp)
        FreeTempStream(ATemp, ATempName);
    return AResult;
}

int32_t TCompareThread::CompareGzip(TStream &ARef, TStream &ABackup)
{
    int32_t keyMode = -1;
    int64_t csize = 0, usize = 0;
    int32_t result = ReadGzSizes(ABackup, keyMode, csize, usize);
    if (result != feOk)
        return result;
    // The header decides: a plain .gz is inflated even in a run that has a
    // password, an encrypted one needs it.
    if (keyMode >= 0) {
        if (!FCrypting) {
            FSysErrMsg = Tr("The file is encrypted and no password was given.");
            return feDecryption | ecError;
        }
        FCrypting->SetKeyMode(keyMode);
    }
    const int64_t refSize = ARef.Size();
    std::unique_ptr<TStream> temp;
    QString tempName;
    result = CreateTempStream(QStringLiteral("gzip.tmp"), refSize, kTempFileThreshold, temp, tempName);
    if (result == feOk && keyMode >= 0) {
        const int64_t backupSize = ABackup.Size();
        DoProgress(TFileAction::acDecrypt, -backupSize, false);
        std::unique_ptr<TStream> decrypted;
        QString decryptedName;
        // The decrypted data is the compressed data: as large as the backup.
        result = CreateTempStream(QStringLiteral("encrypt.tmp"), std::max(refSize, backupSize), kTempFileThreshold,
                                  decrypted, decryptedName);
        if (result == feOk) {
            const int64_t length = backupSize - ABackup.Position() - 8;
            const TOpResult r =
                FCrypting->DecryptStreamEx(ABackup, decrypted.get(), length, true, [this] { return IsCanceled(); });
            result = CipherResult(r, *decrypted, feDecryption | ecError);
            if (result == feOk) {
                DoProgress(TFileAction::acUnCompress, -length, false);
                decrypted->SetPosition(0);
                const int64_t size = decrypted->Size();
                TCappedStream capped(*temp, refSize + 1);
                result = size > 0 ? InflateStream(*decrypted, &capped, false, size) : feCorruptFile | ecSecondFile;
            }
        }
        if (decrypted)
            FreeTempStream(decrypted, decryptedName);
    } else if (result == feOk) {
        DoProgress(TFileAction::acUnCompress, -usize, false);
        TCappedStream capped(*temp, refSize + 1);
        result = InflateToTrailer(ABackup, &capped, true);
    }
    return CompareUnpacked(ARef, temp, tempName, result);
}

int32_t TCompareThread::CompareEncrypted(TStream &ARef, TStream &ABackup)
{
    const int64_t refSize = ARef.Size();
    std::unique_ptr<TStream> temp;
    QString tempName;
    int32_t result = CreateTempStream(QStringLiteral("encrypt.tmp"), refSize, kTempFileThreshold, temp, tempName);
    if (result == feOk) {
        DoProgress(TFileAction::acDecrypt, -ABackup.Size(), false);
        TEncHeader header;
        result = ReadEncKeyMode(ABackup, header);
    }
    if (result == feOk) {
        const int64_t length = ABackup.Size() - ABackup.Position();
        TCappedStream capped(*temp, refSize + 1);
        const TOpResult r =
            FCrypting->DecryptStreamEx(ABackup, &capped, length, true, [this] { return IsCanceled(); });
        result = CipherResult(r, capped, feDecryption | ecError);
    }
    return CompareUnpacked(ARef, temp, tempName, result);
}

int32_t TCompareThread::CompareZip(TStream &ARef, TStream &ABackup)
{
    const int64_t refSize = ARef.Size();
    std::unique_ptr<TStream> temp;
    QString tempName;
    int32_t result = CreateTempStream(QStringLiteral("unzip.tmp"), refSize, kTempFileThreshold, temp, tempName);
    if (result == feOk) {
        TCappedStream capped(*temp, refSize + 1);
        // The CRC is taken over all unpacked data, also what the cap drops.
        result = ExtractZipEntry(ABackup, capped);
    }
    return CompareUnpacked(ARef, temp, tempName, result);
}

} // namespace vl
