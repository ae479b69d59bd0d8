// Whole-file copies with their metadata, and setting times and attributes
// of files and directories.
//
// Results are error numbers of platform/SysErrors.h (0 = success); only
// CopyFileWithAttributes raises (ECopyError of core/FileStream.h). Times
// are UTC file times unless a name says local. Attribute sets are those of
// platform/FileSystem.h.
//
// A copy onto itself does nothing and succeeds: that is when both names
// are identical, or when they lead to the same file (device and inode,
// links followed). Names that differ only in case are different files.
#pragma once

#include "core/FileTimes.h"

#include <QString>

#include <cstdint>

namespace vl {

// The buffer size the program passes for stream and segment copies.
inline constexpr int kStreamCopyBufSize = 262144;

// Copies the bytes of Source into a newly created or truncated Dest.
// A BufSize below 1 takes kStreamCopyBufSize.
uint32_t CopyFileData(const QString &Source, const QString &Dest, int BufSize);

// Copies Source to Dest with its last-write time (a time more than a day
// ahead becomes now), its permissions (mode bits, POSIX ACLs, and owner and
// group when running as root), its named data streams (user xattrs) and
// the attributes Attr (-1: the source's attributes). Where the destination
// cannot hold ACLs, streams or the owner, the mode bits are kept without
// them. The data goes into a temporary file beside Dest,
// which replaces Dest only once complete, so a failed copy leaves an
// existing Dest as it was; a read-only Dest is replaced. A Dest that is a
// symbolic link has its target replaced. Raises ECopyError.
void CopyFileWithAttributes(const QString &Source, const QString &Dest, int Attr = -1, int BufSize = kStreamCopyBufSize);

// Copies the permissions (mode bits, POSIX ACLs, and owner and group when
// running as root).
uint32_t CopyFileAcl(const QString &Source, const QString &Dest);

// Copies every named data stream (user xattr). 0 for a file without
// streams; ERROR_HANDLE_EOF for a directory without streams.
uint32_t CopyAlternateStreams(const QString &Source, const QString &Dest);

// Sets the access and last-write times (AllTimes) or the last-write time
// only. With TS.Valid false every time is now; with ReplaceFuture a time
// that cannot be converted or lies more than one day after now becomes
// now. The creation time cannot be set on Linux and is ignored. A time
// with the top bit set is no valid time: ERROR_INVALID_PARAMETER. FollowLink
// changes the target of a symbolic link instead of the link itself.
uint32_t SetFileTimestamps(const QString &Name, const TFileTimestamps &TS, bool ReplaceFuture, bool AllTimes, bool FollowLink);
// Sets the last-write time of an existing file (links followed), with the
// future-time replacement of SetFileTimestamps when ReplaceFuture is set.
uint32_t SetFileLastWriteTime(const QString &Name, TFileTime FileTime, bool ReplaceFuture);
// Sets the last-write time from a local file time.
uint32_t SetFileLocalTime(const QString &Name, TFileTime LocalTime, bool FollowLink);
// Sets the last-write time from a DOS date and time (local, date in the
// high word); ERROR_INVALID_PARAMETER for an invalid DOS value.
uint32_t SetFileDosTime(const QString &Name, uint32_t DosTime, bool FollowLink);
// SetFileLocalTime, except that a drive root is left alone (result 0).
uint32_t SetDirectoryTime(const QString &Name, TFileTime LocalTime, bool FollowLink);

// Adds (Clear false) or removes (Clear true) the attribute bits Attr.
// ERROR_FILE_NOT_FOUND when the attributes cannot be read; nothing is
// written when the set does not change.
uint32_t ChangeFileAttr(const QString &Name, uint32_t Attr, bool Clear, bool FollowLink);

} // namespace vl
