// The file functions every engine uses for backup sources and destinations.
//
// Paths of any length work as they are, so these are thin wrappers over the
// file information, directory and copy functions; keeping the engines on
// this one family keeps their file-system semantics in one place.
//
// Existence tests:
// - a file exists when its attributes can be read and it is no directory;
//   a missing name (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//   ERROR_INVALID_NAME) does not; any other failure is answered by a
//   search. A symbolic link exists as a file without FollowLink (also one
//   to a directory); with FollowLink only when its target exists and is no
//   directory.
// - a directory exists when the attributes say so; a failure other than a
//   missing name (or one too long, or through a link cycle) counts as
//   existing. A symbolic link counts as a directory when its target is one.
//
// Error numbers are those of platform/SysErrors.h (0 = success).
#pragma once

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/FileInfo.h"
#include "core/FileSearch.h"
#include "core/FileTimes.h"

#include <QString>

#include <cstdint>

namespace vl {

// Creates Dir with every missing parent; true when it exists afterwards.
// An empty Dir raises EInOutError (ERROR_PATH_NOT_FOUND).
bool XlForceDirectories(const QString &Dir);
uint32_t XlRemoveDirectory(const QString &Dir);
// XlRemoveDirectory, after clearing the read-only bit when asked.
uint32_t XlDeleteDirectory(const QString &Dir, bool ClearReadOnly);
bool XlDirectoryExists(const QString &Dir, bool FollowLink);
bool XlDirectoryIsEmpty(const QString &Dir);
bool XlFileExists(const QString &Name, bool FollowLink);
bool XlFileNotFound(const QString &Name);
// Deletes the file (a link is removed itself), after clearing the
// read-only bit when asked; 0 or the error.
uint32_t XlDeleteFileEx(const QString &Name, bool ClearReadOnly);
// XlDeleteFileEx when the name exists as a file (links followed), else 0.
uint32_t XlDeleteExistingFile(const QString &Name, bool ClearReadOnly);
bool XlDeleteFile(const QString &Name, bool ClearReadOnly);
// Moves without replacing an existing NewName; across file systems the
// entry is copied and then deleted.
uint32_t XlMoveFile(const QString &OldName, const QString &NewName);
// XlMoveFile, then the attributes of NewName (links followed): 0, the move
// error, or the attribute error negated.
int32_t XlMoveFileSetAttr(const QString &OldName, const QString &NewName, uint32_t Attr);
bool XlGetFileInfo(const QString &Name, TFileInfo &Info);
bool XlFindFileData(const QString &Name, TFindData &Data);
int64_t XlFileSize(const QString &Name);
// The attributes, or faInvalid when unreadable; with FollowLink those of a
// link's target (faInvalid when it cannot be resolved).
uint32_t XlFileGetAttr(const QString &Name, bool FollowLink);
uint32_t XlFileSetAttr(const QString &Name, uint32_t Attr, bool FollowLink);
uint32_t XlChangeFileAttr(const QString &Name, uint32_t Attr, bool Clear, bool FollowLink);
bool XlGetFileTime(const QString &Name, TFileTime &FileTime);
TDateTime XlFileAge(const QString &Name, bool FollowLink);
// Last-write time as a local date-time (links not followed), or Default.
TDateTime XlFileAgeOrDefault(const QString &Name, TDateTime Default);
uint32_t XlSetFileDosTime(const QString &Name, uint32_t DosTime, bool FollowLink);
uint32_t XlSetFileTime(const QString &Name, TFileTime LocalTime, bool FollowLink);
// DirectoryDateTime: links are always followed.
TDateTime XlDirAge(const QString &Name, bool FollowLink);
bool XlGetFileTimes(const QString &Name, bool FollowLink, TFileTimestamps &TS);
uint32_t XlSetFileTimes(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes,
                        bool FollowLink);
// 0 without doing anything for a drive or share root; else the times of
// the name itself (links not followed).
uint32_t XlSetDirTimes(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes);
bool XlIsReparsePoint(const QString &Name);
uint32_t XlCreateJunction(const QString &Dir, const QString &Target);
// Raises ECopyError.
void XlCopyFileWithAttributes(const QString &Source, const QString &Dest, int Attr, int BufSize);
uint32_t XlCopyPermissions(const QString &Source, const QString &Dest);
uint32_t XlCopyStreams(const QString &Source, const QString &Dest);
int XlDeleteOlderFiles(const QString &Dir, const QString &Mask, TDateTime Date);
bool XlCheckDirAccess(const QString &Dir, uint32_t &Code);
uint32_t XlFindFirst(const QString &Mask, uint32_t Attr, TSearchRec &F);

} // namespace vl
