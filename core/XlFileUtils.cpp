#include "core/XlFileUtils.h"

#include "core/DirUtils.h"
#include "core/FileUtils.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

namespace vl {

bool XlForceDirectories(const QString &Dir)
{
    if (Dir.isEmpty())
        throw EInOutError(Tr("Unable to create directory"), ERROR_PATH_NOT_FOUND);
    MakeDirs(Dir);
    return XlDirectoryExists(Dir, true);
}

uint32_t XlRemoveDirectory(const QString &Dir)
{
    return RemoveDir(Dir);
}

uint32_t XlDeleteDirectory(const QString &Dir, bool ClearReadOnly)
{
    if (ClearReadOnly) {
        const uint32_t err = XlChangeFileAttr(Dir, faReadOnly, true, false);
        if (err != 0)
            return err;
    }
    return XlRemoveDirectory(Dir);
}

bool XlDirectoryExists(const QString &Dir, bool FollowLink)
{
    (void)FollowLink; // a link says nothing of its own: its target decides either way
    uint32_t attr = faInvalid;
    switch (GetFileAttr(Dir, false, attr)) {
    case ERROR_SUCCESS:
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
    case 67:  // network name not found
    case 161: // bad path name
    // A name too long for the file system, or a path through a link cycle,
    // can never name a folder (XlForceDirectories must not report one).
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_CANT_RESOLVE_FILENAME:
        return false;
    default:
        return true; // there, but not readable
    }
    // A link carries the directory bit when its target is a directory.
    return (attr & faDirectory) != 0;
}

bool XlDirectoryIsEmpty(const QString &Dir)
{
    return IsDirectoryEmpty(Dir);
}

bool XlFileExists(const QString &Name, bool FollowLink)
{
    uint32_t attr = faInvalid;
    const uint32_t err = GetFileAttr(Name, false, attr);
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME)
        return false;
    if (err != 0) {
        TFindData data;
        return FindFileData(Name, data);
    }
    if (attr & faReparsePoint) {
        if (!FollowLink)
            return true;
        // The target must exist and be no directory. It is not opened: a
        // target that cannot be read still exists, and opening a pipe
        // would block.
        TStatInfo st;
        return StatPath(Name, true, st) == 0 && !st.IsDir();
    }
    return !(attr & faDirectory);
}

bool XlFileNotFound(const QString &Name)
{
    return IsFileNotFound(Name);
}

uint32_t XlDeleteFileEx(const QString &Name, bool ClearReadOnly)
{
    if (ClearReadOnly) {
        const uint32_t err = XlChangeFileAttr(Name, faReadOnly, true, false);
        if (err != 0)
            return err;
    }
    return RemoveFile(Name);
}

uint32_t XlDeleteExistingFile(const QString &Name, bool ClearReadOnly)
{
    return XlFileExists(Name, true) ? XlDeleteFileEx(Name, ClearReadOnly) : 0;
}

bool XlDeleteFile(const QString &Name, bool ClearReadOnly)
{
    return XlDeleteFileEx(Name, ClearReadOnly) == 0;
}

uint32_t XlMoveFile(const QString &OldName, const QString &NewName)
{
    return MoveNoReplace(OldName, NewName);
}

int32_t XlMoveFileSetAttr(const QString &OldName, const QString &NewName, uint32_t Attr)
{
    const uint32_t err = XlMoveFile(OldName, NewName);
    if (err != 0)
        return int32_t(err);
    const uint32_t attrErr = XlFileSetAttr(NewName, Attr, true);
    return attrErr != 0 ? -int32_t(attrErr) : 0;
}

bool XlGetFileInfo(const QString &Name, TFileInfo &Info)
{
    return GetFileInfo(Name, Info, false);
}

bool XlFindFileData(const QString &Name, TFindData &Data)
{
    return FindFileData(Name, Data);
}

int64_t XlFileSize(const QString &Name)
{
    return FileSize64(Name);
}

uint32_t XlFileGetAttr(const QString &Name, bool FollowLink)
{
    uint32_t attr = faInvalid;
    if (GetFileAttr(Name, false, attr) != 0)
        return faInvalid;
    if (FollowLink && HasReparseAttr(attr)) {
        QString target;
        if (!ResolveLinkTarget(Name, target) || GetFileAttr(target, true, attr) != 0)
            return faInvalid;
    }
    return attr;
}

uint32_t XlFileSetAttr(const QString &Name, uint32_t Attr, bool FollowLink)
{
    return SetFileAttr(Name, Attr, FollowLink);
}

uint32_t XlChangeFileAttr(const QString &Name, uint32_t Attr, bool Clear, bool FollowLink)
{
    return ChangeFileAttr(Name, Attr, Clear, FollowLink);
}

bool XlGetFileTime(const QString &Name, TFileTime &FileTime)
{
    return GetFileLastWriteTime(Name, FileTime);
}

TDateTime XlFileAge(const QString &Name, bool FollowLink)
{
    return GetFileAge(Name, FollowLink);
}

TDateTime XlFileAgeOrDefault(const QString &Name, TDateTime Default)
{
    TFileAttributeData data;
    TDateTime value;
    if (GetFileAttributeData(Name, data, false) != 0 || !TryFileTimeToLocalDateTime(data.LastWriteTime, value))
        return Default;
    return value;
}

uint32_t XlSetFileDosTime(const QString &Name, uint32_t DosTime, bool FollowLink)
{
    return SetFileDosTime(Name, DosTime, FollowLink);
}

uint32_t XlSetFileTime(const QString &Name, TFileTime LocalTime, bool FollowLink)
{
    return SetFileLocalTime(Name, LocalTime, FollowLink);
}

TDateTime XlDirAge(const QString &Name, bool FollowLink)
{
    (void)FollowLink;
    return DirectoryDateTime(Name);
}

bool XlGetFileTimes(const QString &Name, bool FollowLink, TFileTimestamps &TS)
{
    return GetDirTimestamps(Name, FollowLink, TS);
}

uint32_t XlSetFileTimes(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes,
                        bool FollowLink)
{
    return SetFileTimestamps(Name, TS, ReplaceFuture, AllTimes, FollowLink);
}

uint32_t XlSetDirTimes(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes)
{
    if (IsDriveRoot(Name))
        return 0;
    return SetFileTimestamps(Name, TS, ReplaceFuture, AllTimes, false);
}

bool XlIsReparsePoint(const QString &Name)
{
    return IsReparsePoint(Name);
}

uint32_t XlCreateJunction(const QString &Dir, const QString &Target)
{
    return CreateJunction(Dir, Target);
}

void XlCopyFileWithAttributes(const QString &Source, const QString &Dest, int Attr, int BufSize)
{
    CopyFileWithAttributes(Source, Dest, Attr, BufSize);
}

uint32_t XlCopyPermissions(const QString &Source, const QString &Dest)
{
    return CopyFileAcl(Source, Dest);
}

uint32_t XlCopyStreams(const QString &Source, const QString &Dest)
{
    return CopyAlternateStreams(Source, Dest);
}

int XlDeleteOlderFiles(const QString &Dir, const QString &Mask, TDateTime Date)
{
    return DeleteOlderFiles(Dir, Mask, Date);
}

bool XlCheckDirAccess(const QString &Dir, uint32_t &Code)
{
    return CheckDirAccess(Dir, Code);
}

uint32_t XlFindFirst(const QString &Mask, uint32_t Attr, TSearchRec &F)
{
    return FindFirst(Mask, Attr, F);
}

} // namespace vl
