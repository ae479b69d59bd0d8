// Directory, deletion and junction helpers.
//
// Deletion never follows a symbolic link: a link is removed itself, and what
// it points to is never touched. A junction is a symbolic link to an
// absolute directory path.
//
// Error numbers are those of platform/SysErrors.h (0 = success).
#pragma once

#include "core/DateTime.h"
#include "core/Exceptions.h"

#include <QString>

#include <cstdint>

namespace vl {

// Creates or truncates the file and writes the UTF-8 byte-order mark; 0 or
// the error of creating it. Raises EInOutError when writing fails.
uint32_t CreateEmptyUtf8File(const QString &FileName);
// True when no file of that name is left: a missing name (or a directory)
// gives true at once; a symbolic link, also a dangling one or one to a
// directory, is removed itself.
bool ForceDeleteFile(const QString &FileName);
// Deletes the name when it exists as a file (links followed); true when it
// did not exist or was deleted.
bool DeleteFileIfExists(const QString &FileName);
// ForceDeleteFile on every file of Dir matching Mask; the number deleted.
int DeleteFilesByMask(const QString &Dir, const QString &Mask);
// The same for files whose local last-write time lies before Date.
int DeleteOlderFiles(const QString &Dir, const QString &Mask, TDateTime Date);
// Makes Dir a symbolic link to the absolute path of the directory Target.
// ERROR_DIR_NOT_EMPTY when Dir is a non-empty directory; ERROR_PATH_NOT_FOUND
// when Target is no existing directory (nothing is created then); missing
// parents of Dir are created; an empty directory Dir is replaced.
uint32_t CreateJunction(const QString &Dir, const QString &Target);
// True when Dir has no entry (also when it cannot be listed).
bool IsDirectoryEmpty(const QString &Dir);
// True when Dir has no subdirectory.
bool HasNoSubDirs(const QString &Dir);
// Files with extension Ext (every file for an empty Ext) in Dir, and in its
// subdirectories when Recursive. Links are never followed.
int CountDirFiles(const QString &Dir, bool Recursive, const QString &Ext);
// Deletes every file and subdirectory of Dir, and Dir itself when
// DeleteRoot; true when nothing failed. A folder that keeps a file it
// could not delete is left in place with its parents. A file system mounted
// inside Dir is never entered (that gives false).
bool DeleteDirectoryTree(const QString &Dir, bool DeleteRoot);
// True when Dir is an existing directory (links followed) that can be
// listed; Code 0, the listing error, or ERROR_PATH_NOT_FOUND.
bool CheckDirAccess(const QString &Dir, uint32_t &Code);
bool IsDirectoryReadable(const QString &Dir);

} // namespace vl
