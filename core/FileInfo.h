// File information and link targets: attributes, sizes and times of a name,
// the record of one directory-search entry, and where links point.
//
// Reparse points are symbolic links (tag kReparseTagSymlink, kind 2) and
// mount points of pseudo file systems (tag kReparseTagMountPoint, kind 1, a
// junction). A link's target is its final target, every link resolved.
// The creation time is the birth time where the file system keeps one, else
// the last-write time.
//
// No function raises; error numbers are those of platform/SysErrors.h.
#pragma once

#include "core/DateTime.h"
#include "core/FileSearch.h"
#include "core/FileTimes.h"

#include <QString>

#include <cstdint>

namespace vl {

// One entry of a directory scan.
struct TFileInfo {
    QString Name;             // without folder
    TDateTime CreationTime = 0; // local
    TDateTime DateTime = 0;   // last write, local
    TFileTime FileTime = 0;   // last write, UTC
    int64_t Size = 0;
    uint32_t Attr = 0;
    uint32_t Res = 0;         // the reparse tag when Attr has faReparsePoint
};

// Attributes, size and times of a name.
struct TFileAttributeData {
    uint32_t Attr = faInvalid;
    TFileTime CreationTime = 0;
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
    int64_t Size = 0; // 0 for anything but a regular file
};

// Reparse kinds.
enum : int { rkNone = 0, rkJunction = 1, rkSymbolicLink = 2 };

// True and the final target (absolute) when Name is a reparse point whose
// target exists; false otherwise (an empty target is never a success).
bool ResolveLinkTarget(const QString &Name, QString &Target);
// The path of the file or directory open as file descriptor fd.
bool GetFileNameFromHandle(int fd, QString &Name);

// True when the name is found and is no directory. Names are names here,
// never masks: "*" and "?" are ordinary characters.
bool FindFileData(const QString &Name, TFindData &Data);

// 0 or the error of reading the name (of its final target with FollowLink).
uint32_t GetFileAttributeData(const QString &Name, TFileAttributeData &Data, bool FollowLink);
// Last-write time (links followed); false and 0 when unreadable.
bool GetFileLastWriteTime(const QString &Name, TFileTime &FileTime);
// Last-write time (links followed) as a date-time in UTC; 0 when unreadable.
TDateTime FileLastWriteUtc(const QString &Name);
// Last-write time of a file as a local date-time; 0 when unreadable or a
// directory.
TDateTime GetFileAge(const QString &Name, bool FollowLink);
// The three times of a directory with Valid set; for anything else Valid
// false and all times 0. Returns TS.Valid.
bool GetDirTimestamps(const QString &Name, bool FollowLink, TFileTimestamps &TS);
// True and the local last-write time when Name is a directory (links
// followed).
bool TryGetDirLocalTime(const QString &Name, TDateTime &Value);
// The local last-write time of a directory as a DOS date and time; -1 when
// Name is no directory.
int32_t DirectoryAge(const QString &Name);
// The local last-write time of a directory; 0 when Name is no directory.
TDateTime DirectoryDateTime(const QString &Name);

// True when Name is found and is no directory (or IncludeDirs).
// When not found: Name empty, times now, Size 0, Attr faInvalid, Res 0.
bool GetFileInfo(const QString &Name, TFileInfo &Info, bool IncludeDirs);
void SearchRecToFileInfo(const TSearchRec &SR, TFileInfo &Info);

// Size (links followed); 0 when unreadable.
int64_t FileSize64(const QString &Name);
// True only when the name's attributes cannot be read because it is missing
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME).
bool IsFileNotFound(const QString &Name);
// Whether the name itself (not followed) is a directory.
bool HasDirectoryAttr(const QString &Name);
bool HasReparseAttr(uint32_t Attr);
// Whether the name itself (not followed) is a reparse point.
bool IsReparsePoint(const QString &Name);
// rkJunction, rkSymbolicLink or rkNone.
int ReparseKind(const QString &Name);
// ResolveLinkTarget, with Target empty when it fails.
bool GetLinkTarget(const QString &Name, QString &Target);
// True when Attr has faReparsePoint and the kind is known; Target is the
// final target (empty when it cannot be resolved).
bool ReadReparsePoint(const QString &Path, uint32_t Attr, QString &Target, int &Kind);
bool ReadReparseTarget(const QString &Path, uint32_t Attr, QString &Target);

} // namespace vl
