#include "core/FileUtils.h"

#include "core/FileStream.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QRandomGenerator>

#include <cerrno>
#include <memory>
#include <vector>

namespace vl {

namespace {

constexpr TFileTime kTicksPerDay = 86400 * kFileTimeTicksPerSecond;

// Both names lead to the same file: copying would only destroy it.
bool IsSameFile(const QString &a, const QString &b)
{
    if (a == b) // the name mapping is lossless: equal strings, equal bytes
        return true;
    TStatInfo sa, sb;
    return StatPath(a, true, sa) == ERROR_SUCCESS && StatPath(b, true, sb) == ERROR_SUCCESS && sa.Dev == sb.Dev
        && sa.Ino == sb.Ino;
}

// A time that cannot be shown or lies more than one day ahead becomes now.
TFileTime ReplaceFutureTime(TFileTime ft, TFileTime now)
{
    TDateTime dt;
    if (!TryFileTimeToDateTime(ft, dt) || ft > now + kTicksPerDay)
        return now;
    return ft;
}

// File times with the top bit set are no valid times; they are refused
// rather than wrapped into some other date.
bool IsSettableTime(TFileTime ft)
{
    return ft <= TFileTime(INT64_MAX);
}

enum class TCopyFailure { cfNone, cfRead, cfWrite };

// Copies from the current positions until a read returns less than the
// buffer holds. A short write counts as a full disk.
uint32_t CopyStreamData(TExtFileStream &in, TExtFileStream &out, std::vector<char> &buffer, TCopyFailure &failure)
{
    const int32_t size = int32_t(buffer.size());
    for (;;) {
        int32_t readCount = 0, writeCount = 0;
        int32_t code = in.Read(buffer.data(), size, readCount);
        if (code != 0) {
            failure = TCopyFailure::cfRead;
            return uint32_t(code);
        }
        if (readCount > 0) {
            code = out.Write(buffer.data(), readCount, writeCount);
            if (code != 0 || writeCount < readCount) {
                failure = TCopyFailure::cfWrite;
                return code != 0 ? uint32_t(code) : ERROR_DISK_FULL;
            }
        }
        if (readCount < size)
            break;
    }
    failure = TCopyFailure::cfNone;
    return ERROR_SUCCESS;
}

int EffectiveBufSize(int bufSize)
{
    return bufSize > 0 ? bufSize : kStreamCopyBufSize;
}

[[noreturn]] void RaiseCopyError(const char *msgid, const QString &name, uint32_t code)
{
    throw ECopyError(GuardedFormat(Tr(msgid), name), int32_t(code));
}

// A new file with a free name in the folder of path, created for writing
// and readable by its owner only until the copy is complete.
std::unique_ptr<TExtFileStream> CreateTempBeside(const QString &path, QString &tempName)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString dir = slash < 0 ? QString() : path.left(slash + 1);
    for (int attempt = 0;; ++attempt) {
        tempName = dir + QStringLiteral(".vl%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        try {
            return std::make_unique<TExtFileStream>(tempName, uint16_t(kCreateExclusive | 0x04), 0600);
        } catch (const EExtFileStreamError &e) {
            if (e.ErrorCode() != int32_t(ERROR_FILE_EXISTS) || attempt >= 100)
                throw;
        }
    }
}

} // namespace

uint32_t CopyFileData(const QString &Source, const QString &Dest, int BufSize)
{
    if (IsSameFile(Source, Dest))
        return ERROR_SUCCESS;
    std::unique_ptr<TExtFileStream> in, out;
    try {
        in = std::make_unique<TExtFileStream>(Source, kOpenReadShared);
        out = std::make_unique<TExtFileStream>(Dest, kCreateExclusive);
    } catch (const EExtFileStreamError &e) {
        return uint32_t(e.ErrorCode());
    }
    std::vector<char> buffer(size_t(EffectiveBufSize(BufSize)));
    TCopyFailure failure;
    return CopyStreamData(*in, *out, buffer, failure);
}

void CopyFileWithAttributes(const QString &Source, const QString &Dest, int Attr, int BufSize)
{
    if (IsSameFile(Source, Dest))
        return;
    TStatInfo src;
    if (Dest.isEmpty() || StatPath(Source, true, src) != ERROR_SUCCESS || !src.IsRegular())
        RaiseCopyError(VL_TR_NOOP("File not found: \"%s\""), Source, ERROR_FILE_NOT_FOUND);
    const TFileTime lastWrite = TimespecToFileTime(src.MTime);
    const uint32_t attr = (Attr < 0 ? AttrFromStat(Source, src, true) : uint32_t(Attr)) & 0xFFFF;

    std::unique_ptr<TExtFileStream> in;
    try {
        in = std::make_unique<TExtFileStream>(Source, kOpenReadShared);
    } catch (const EExtFileStreamError &e) {
        RaiseCopyError(VL_TR_NOOP("Error opening \"%s\""), Source, uint32_t(e.ErrorCode()));
    }

    // A link as destination: its target gets the new data.
    QString target = Dest;
    TStatInfo dst;
    if (StatPath(Dest, false, dst) == ERROR_SUCCESS && dst.IsLink()) {
        QString resolved;
        if (RealPath(Dest, resolved) == ERROR_SUCCESS)
            target = resolved;
    }

    QString tempName;
    std::unique_ptr<TExtFileStream> out;
    try {
        out = CreateTempBeside(target, tempName);
    } catch (const EExtFileStreamError &e) {
        RaiseCopyError(VL_TR_NOOP("Error creating \"%s\""), Dest, uint32_t(e.ErrorCode()));
    }

    const char *failText = nullptr;
    const QString *failName = &Dest;
    uint32_t code;
    {
        std::vector<char> buffer(size_t(EffectiveBufSize(BufSize)));
        TCopyFailure failure;
        code = CopyStreamData(*in, *out, buffer, failure);
        // On disk before it replaces the old file: a power cut must not
        // leave an empty file in its place.
        if (code == ERROR_SUCCESS && (code = uint32_t(out->Flush())) != ERROR_SUCCESS)
            failure = TCopyFailure::cfWrite;
        if (failure == TCopyFailure::cfRead) {
            failText = VL_TR_NOOP("Error reading from \"%s\"");
            failName = &Source;
        } else if (failure == TCopyFailure::cfWrite) {
            failText = VL_TR_NOOP("Error writing to \"%s\"");
        }
    }
    in.reset();
    out.reset();
    // The copy keeps the source's extended attributes and permissions. The
    // ACL must come along with the mode: without it the group bits, which
    // then hold the ACL mask, would open the copy wider than the source. A
    // destination that can hold neither streams nor ACLs (nor a changed
    // owner) still gets the mode bits.
    if (code == ERROR_SUCCESS && (code = CopyStreams(Source, tempName)) == ERROR_NOT_SUPPORTED)
        code = ERROR_SUCCESS;
    if (code == ERROR_SUCCESS && CopyPermissions(Source, tempName) != ERROR_SUCCESS)
        code = Chmod(tempName, src.Mode & 0777);
    if (code != ERROR_SUCCESS && !failText)
        failText = VL_TR_NOOP("Error setting attributes of \"%s\"");
    if (code == ERROR_SUCCESS && (code = RenameReplace(tempName, target)) != ERROR_SUCCESS)
        failText = VL_TR_NOOP("Error creating \"%s\"");
    if (code != ERROR_SUCCESS) {
        RemoveFile(tempName);
        RaiseCopyError(failText, *failName, code);
    }

    // The time before the attributes: resetting the archive bit stamps the
    // file with its modification time.
    if ((code = SetFileLastWriteTime(target, lastWrite, true)) != ERROR_SUCCESS)
        RaiseCopyError(VL_TR_NOOP("Error setting timestamps of \"%s\""), Dest, code);
    if ((code = SetFileAttr(target, attr, true)) != ERROR_SUCCESS)
        RaiseCopyError(VL_TR_NOOP("Error setting attributes of \"%s\""), Dest, code);
}

uint32_t CopyFileAcl(const QString &Source, const QString &Dest)
{
    return CopyPermissions(Source, Dest);
}

uint32_t CopyAlternateStreams(const QString &Source, const QString &Dest)
{
    QStringList names;
    uint32_t code = ListStreams(Source, names, true);
    if (code != ERROR_SUCCESS)
        return code;
    if (names.isEmpty()) {
        // A directory has no main data stream: without named streams there
        // is nothing at all to enumerate.
        TStatInfo st;
        if ((code = StatPath(Source, true, st)) != ERROR_SUCCESS)
            return code;
        return st.IsDir() ? ERROR_HANDLE_EOF : ERROR_SUCCESS;
    }
    return CopyStreams(Source, Dest);
}

uint32_t SetFileTimestamps(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes, bool FollowLink)
{
    const TFileTime now = NowFileTime();
    TFileTime access = now, lastWrite = now;
    if (TS.Valid) {
        access = TS.LastAccessTime;
        lastWrite = TS.LastWriteTime;
        if (ReplaceFuture) {
            access = ReplaceFutureTime(access, now);
            lastWrite = ReplaceFutureTime(lastWrite, now);
        }
    }
    if (!IsSettableTime(lastWrite) || (AllTimes && !IsSettableTime(access)))
        return ERROR_INVALID_PARAMETER;
    const timespec atime = FileTimeToTimespec(access);
    const timespec mtime = FileTimeToTimespec(lastWrite);
    return SetFileTimes(Name, AllTimes ? &atime : nullptr, &mtime, FollowLink);
}

uint32_t SetFileLastWriteTime(const QString &Name, TFileTime FileTime, bool ReplaceFuture)
{
    if (ReplaceFuture)
        FileTime = ReplaceFutureTime(FileTime, NowFileTime());
    if (!IsSettableTime(FileTime))
        return ERROR_INVALID_PARAMETER;
    const timespec mtime = FileTimeToTimespec(FileTime);
    return SetFileTimes(Name, nullptr, &mtime, true);
}

uint32_t SetFileLocalTime(const QString &Name, TFileTime LocalTime, bool FollowLink)
{
    TFileTime utc;
    if (!LocalFileTimeToFileTime(LocalTime, utc))
        return ERROR_INVALID_PARAMETER;
    const timespec mtime = FileTimeToTimespec(utc);
    return SetFileTimes(Name, nullptr, &mtime, FollowLink);
}

uint32_t SetFileDosTime(const QString &Name, uint32_t DosTime, bool FollowLink)
{
    constexpr uint32_t kDosMinValue = 0x00210000; // 1980-01-01 00:00:00
    const TDateTime local = FileDateToDateTimeDef(DosTime);
    // The conversion gives the earliest DOS time for an invalid value; the
    // value stays local (no zone conversion) for SetFileLocalTime.
    TFileTime localFt;
    if ((local == kDosMinDate && DosTime != kDosMinValue) || !UtcDateTimeToFileTime(localFt, local))
        return ERROR_INVALID_PARAMETER;
    return SetFileLocalTime(Name, localFt, FollowLink);
}

uint32_t SetDirectoryTime(const QString &Name, TFileTime LocalTime, bool FollowLink)
{
    if (IsDriveRoot(Name))
        return ERROR_SUCCESS;
    return SetFileLocalTime(Name, LocalTime, FollowLink);
}

uint32_t ChangeFileAttr(const QString &Name, uint32_t Attr, bool Clear, bool FollowLink)
{
    uint32_t oldAttr = 0;
    if (GetFileAttr(Name, FollowLink, oldAttr) != ERROR_SUCCESS)
        return ERROR_FILE_NOT_FOUND;
    const uint32_t newAttr = Clear ? (oldAttr & ~Attr) : (oldAttr | Attr);
    if (newAttr == oldAttr)
        return ERROR_SUCCESS;
    return SetFileAttr(Name, newAttr, FollowLink);
}

} // namespace vl
