// Directory search with wildcard masks.
//
// FindFirst takes a path whose last element is a mask ("dir/*.txt"); "*"
// and "?" are its wildcards, letters match regardless of case, "*.*"
// matches every name. A last element without "*" and "?" names one entry
// exactly (names are case-sensitive). Entries whose hidden, system or
// directory bits are not asked for in Attr are skipped; a name starting
// with "." counts as hidden. "." and ".." are never entries.
//
// A symbolic link is an entry of its own with faReparsePoint (and
// faDirectory when its target is a directory); attributes, size and times
// are those of the entry itself, never of a link's target.
#pragma once

#include "core/FileTimes.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace vl {

// Every kind of entry, and files of every kind without directories.
inline constexpr uint32_t faAnyFile = 0x1FF;
inline constexpr uint32_t faAnyFileNoDirs = 0xA7;
// With faDirectory: only directories (and links, which may lead to one) are
// entries. A walk's pass over the subfolders reads no file's attributes.
inline constexpr uint32_t faOnlyDirectories = 0x10000;

// Reparse tags: a mount point of a pseudo file system counts as a junction,
// a symbolic link as a symbolic link.
inline constexpr uint32_t kReparseTagMountPoint = 0xA0000003;
inline constexpr uint32_t kReparseTagSymlink = 0xA000000C;

// The data of one entry.
struct TFindData {
    uint32_t Attr = 0;
    TFileTime CreationTime = 0; // birth time where the file system keeps one, else last write
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
    int64_t Size = 0;           // 0 for anything but a regular file
    uint32_t Reserved0 = 0;     // the reparse tag when Attr has faReparsePoint
    QString Name;
};

struct TSearchState;

struct TSearchRec {
    int32_t Time = 0;   // last write, local DOS date and time (-1 when out of range)
    int64_t Size = 0;
    uint32_t Attr = 0;
    QString Name;
    uint32_t ExcludeAttr = 0;
    TFindData FindData;
    std::shared_ptr<TSearchState> FindHandle;
};

// 0 and the first entry, or ERROR_FILE_NOT_FOUND when nothing matches, or
// the error of listing the folder (ERROR_PATH_NOT_FOUND when it is missing).
uint32_t FindFirst(const QString &Path, uint32_t Attr, TSearchRec &F);
// 0 and the next entry, or ERROR_NO_MORE_FILES.
uint32_t FindNext(TSearchRec &F);
void FindClose(TSearchRec &F);
// The one entry named by Path, with "*" and "?" ordinary characters (they
// may occur in names); the attribute filter and results as FindFirst.
uint32_t FindName(const QString &Path, uint32_t Attr, TSearchRec &F);

// The data of one entry from its lstat (the name is the entry's name,
// path the full path used to read its attributes).
void StatToFindData(const QString &path, const QString &name, const TStatInfo &st, TFindData &fd);

} // namespace vl
