#include "engine/WinCopyThread.h"

#include "core/FileUtils.h"
#include "core/Translate.h"
#include "platform/SysErrors.h"

namespace vl {

namespace {

// The data is in place when a step ended without an error (a warning only
// says that some metadata was not applied).
bool DataWritten(int32_t ACode)
{
    return ACode == feOk || ErrorClass(ACode) == ecWarning;
}

} // namespace

TWinCopyThread::TWinCopyThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                               TCopyOptions AOptions, int32_t ABufSize, TThreadPriority APriority)
    : TGZipThread(ASourceName, ADestName, AEncryption, ABufSize, APriority)
{
    FCompress = HasOption(AOptions, TCopyOption::coCompress);
    FZipCompress = HasOption(AOptions, TCopyOption::coZipCompress);
    FVerify = HasOption(AOptions, TCopyOption::coVerify);
    Overwrite = HasOption(AOptions, TCopyOption::coOverwrite);
    CopyStorage = HasOption(AOptions, TCopyOption::coStorage);
    CopyAltStreams = HasOption(AOptions, TCopyOption::coAltStreams);
    CopyPermissions = HasOption(AOptions, TCopyOption::coPermissions);
    CopyAttr = HasOption(AOptions, TCopyOption::coAttributes);
    CopyTimeStamp = HasOption(AOptions, TCopyOption::coTimeStamp);
    CopyCreationTime = HasOption(AOptions, TCopyOption::coCreationTime);
    CheckTime = HasOption(AOptions, TCopyOption::coCheckTime);
    SetNoWriteCache(HasOption(AOptions, TCopyOption::coNoCache));
    ResetArchiveBit = HasOption(AOptions, TCopyOption::coResetArchive);
    FErrFlag = BackupErrorType(AOptions, AEncryption != nullptr);
}

void TWinCopyThread::Execute()
{
    ApplyThreadPriority(FPriority);
    FPriorityApplied = true;
    // What was written goes to the disk before it is read back.
    if (FVerify)
        SetNoWriteCache(true);
    const int32_t result = Guarded([this]() -> int32_t {
        int32_t code;
        int32_t (TWinCopyThread::*verify)() = nullptr;
        if (ShellCopy & (1u << unsigned(TShellCopyMode::scmCopy))) {
            code = ShellCopyFile();
            verify = &TWinCopyThread::VerifyByCrc;
        } else if (FZipCompress) {
            code = OpenStreams();
            if (code == feOk)
                code = ZipFile(FCompress);
            if (code == feOk)
                code = FinishDest(false, CopyAltStreams, uint16_t(SourceFileData.FileAttr), SourceFileData.TimeStamps,
                                  CopyPermissions);
            else
                ReleaseStreams();
            verify = &TWinCopyThread::VerifyZipFile;
        } else if (FCompress) {
            code = GzipFile();
            verify = &TWinCopyThread::VerifyGzip;
        } else if (FCrypting) {
            code = EncryptFile();
            verify = &TWinCopyThread::VerifyEncrypted;
        } else {
            code = PlainCopy();
            verify = &TWinCopyThread::VerifyByCrc;
        }
        // A warning about metadata does not excuse the data from being
        // verified; the warning stays when the data is sound.
        if (FVerify && verify && DataWritten(code)) {
            const int32_t verified = (this->*verify)();
            if (verified != feOk)
                code = verified;
        }
        return code;
    });
    Finish(result);
}

int32_t TCopyThread::VerifyByCrc()
{
    int32_t result = OpenForVerify(DestName);
    if (result != feOk)
        return result;
    DoProgress(TFileAction::acVerify, -UTotal, false);
    uint32_t crc = 0;
    int64_t count = 0, read = 0;
    char *buffer = FBuffer.data();
    do {
        if ((result = ReadBlock(*sDest, buffer, FBufSize, false, read, feVerification | ecError)) != feOk)
            break;
        count += read;
        DoProgress(TFileAction::acVerify, count, true);
        crc = UpdateCrc32(crc, buffer, read);
        if (IsCanceled())
            result = feTerminated;
    } while (read == FBufSize && result == feOk);
    // A copy cut short or grown differs too, whatever its CRC says.
    if (result == feOk && (crc != FCrc || count != UTotal))
        result = feVerification | ecError;
    ReleaseStreams();
    return result;
}

int32_t TCopyThread::ShellCopyFile()
{
    // No shell copy service here: the data is copied as PlainCopy does,
    // followed only by the times step of a shell copy.
    int32_t result = OpenSource();
    if (result == feOk) {
        DoProgress(TFileAction::acCopy, -1, false);
        result = CreateDest(SourceFileData.Mode);
    }
    if (result == feOk)
        result = CopySourceData();
    if (result == feOk)
        result = CommitDest();
    ReleaseStreams();
    if (result == feOk && CopyTimeStamp && CopyCreationTime
        && SetSysError(SetFileTimestamps(DestName, SourceFileData.TimeStamps, CheckTime, true, false)))
        result = feSetTimestamp | ecWarning;
    return result;
}

} // namespace vl
