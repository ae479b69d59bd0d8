#include "core/FileStream.h"

#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QDir>

#include <cstdio>

namespace vl {

namespace {

// The system's text for an error number, translated.
QString ErrorText(uint32_t code)
{
    const char *text = SysErrorText(code);
    return text ? Tr(text) : SystemErrorText(code);
}

QString FullPathOf(const QString &name)
{
    return CanonicalPath(QDir::currentPath(), name);
}

bool ValidSharing(uint32_t share)
{
    return (share & 0x0F) == 0 && share <= 0x40;
}

} // namespace

EExtFileStreamError EExtFileStreamError::CreateResFmt(const char *msgid, const TFormatArgs &args, int32_t FError)
{
    return EExtFileStreamError(GuardedFormatArgs(Tr(msgid), args), FError);
}

TExtFileStream::TExtFileStream(const QString &AFileName, uint16_t Mode, uint32_t Rights)
{
    const bool creating = (Mode & 0xFF00) == 0xFF00;
    uint32_t code = ERROR_SUCCESS;
    if (creating) {
        const uint32_t low = Mode & 0xFF;
        const uint32_t share = low == 0xFF ? 0x10 : (low & 0xF0);
        if (!ValidSharing(share)) {
            code = ERROR_INVALID_PARAMETER;
        } else {
            const TFile::TCreate disposition = (low != 0xFF && (low & 0x04)) ? TFile::fcCreateNew : TFile::fcCreateAlways;
            code = FFile.Open(AFileName, TFile::faReadWrite, disposition, Rights ? Rights : 0666);
            FCanRead = FCanWrite = true;
        }
    } else {
        const uint32_t access = Mode & 0x03;
        const uint32_t share = Mode & 0xF0;
        if (access == 3 || !ValidSharing(share)) {
            code = ERROR_INVALID_PARAMETER;
        } else {
            static const TFile::TAccess kAccess[] = {TFile::faRead, TFile::faWrite, TFile::faReadWrite};
            code = FFile.Open(AFileName, kAccess[access], TFile::fcOpenExisting);
            // A folder opens for reading here, and a copy from it would only
            // fail after its destination was truncated: refuse it up front,
            // as access to a folder as a file is refused.
            TStatInfo st;
            if (code == ERROR_SUCCESS && StatPath(AFileName, true, st) == ERROR_SUCCESS && st.IsDir()) {
                FFile.Close();
                code = ERROR_ACCESS_DENIED;
            }
            FCanRead = access != 1;
            FCanWrite = access != 0;
        }
    }
    if (code != ERROR_SUCCESS) {
        const char *msg = creating ? VL_TR_NOOP("Cannot create file \"%s\". %s") : VL_TR_NOOP("Cannot open file \"%s\". %s");
        throw EExtFileStreamError::CreateResFmt(msg, {FullPathOf(AFileName), ErrorText(code)}, int32_t(code));
    }
    FFileName = AFileName;
}

int32_t TExtFileStream::Read(void *Buffer, int32_t Count, int32_t &ReadCount)
{
    // A stream opened for writing only refuses reads the way the system
    // refuses access, without a call.
    if (!FCanRead) {
        ReadCount = -1;
        return ERROR_ACCESS_DENIED;
    }
    int64_t done = 0;
    const uint32_t code = FFile.Read(Buffer, Count < 0 ? 0 : Count, done);
    ReadCount = code == ERROR_SUCCESS ? int32_t(done) : -1;
    return int32_t(code);
}

int32_t TExtFileStream::Write(const void *Buffer, int32_t Count, int32_t &WriteCount)
{
    if (!FCanWrite) {
        WriteCount = -1;
        return ERROR_ACCESS_DENIED;
    }
    int64_t done = 0;
    const uint32_t code = FFile.Write(Buffer, Count < 0 ? 0 : Count, done);
    // Part of the data written before the disk filled up: success with a
    // short count, which the caller compares with Count.
    if (code == ERROR_SUCCESS || (code == ERROR_DISK_FULL && done > 0)) {
        WriteCount = int32_t(done);
        return ERROR_SUCCESS;
    }
    WriteCount = -1;
    return int32_t(code);
}

int32_t TExtFileStream::Flush()
{
    return int32_t(FFile.Sync());
}

int64_t TExtFileStream::Read(void *buffer, int64_t count)
{
    if (!FCanRead) {
        FLastError = ERROR_ACCESS_DENIED;
        return -1;
    }
    int64_t done = 0;
    const uint32_t code = FFile.Read(buffer, count < 0 ? 0 : count, done);
    if (code != ERROR_SUCCESS) {
        FLastError = code;
        return -1;
    }
    return done;
}

int64_t TExtFileStream::Write(const void *buffer, int64_t count)
{
    if (!FCanWrite) {
        FLastError = ERROR_ACCESS_DENIED;
        return -1;
    }
    int64_t done = 0;
    const uint32_t code = FFile.Write(buffer, count < 0 ? 0 : count, done);
    if (code != ERROR_SUCCESS)
        FLastError = code;
    return code == ERROR_SUCCESS || done > 0 ? done : -1;
}

int64_t TExtFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    int64_t pos = -1;
    const uint32_t code = FFile.Seek(offset, whence, pos);
    if (code != ERROR_SUCCESS) {
        FLastError = code;
        return -1;
    }
    return pos;
}

int64_t TExtFileStream::Size()
{
    int64_t size = -1;
    return FFile.Size(size) == ERROR_SUCCESS ? size : -1;
}

bool TExtFileStream::SetSize(int64_t newSize)
{
    return newSize >= 0 && FFile.Truncate(newSize) == ERROR_SUCCESS;
}

} // namespace vl
