// Helpers shared by the files of the file-system layer; not for other layers.
// Paths here are the encoded bytes (platform/FileNames.h); functions that
// return int give 0 or an errno value.
#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace vl::fsi {

QByteArray Native(const QString &path);
// The error number for a failed call on path; ENOENT becomes
// ERROR_PATH_NOT_FOUND when the folder that should hold path is missing.
uint32_t PathError(int err, const QByteArray &path);

int StatNative(const QByteArray &path, bool followLink, TStatInfo &st);
// The open folder of an active TDirLookupScope of this thread that holds
// path directly, and the entry's name within it; false when none does.
bool LookupInScope(const QByteArray &path, int &dirfd, const char *&name);
// realpath(3): the absolute path with every link resolved; empty on failure.
QByteArray RealPathNative(const QByteArray &path);

// Extended attributes (the l* forms when not following links). User xattrs
// answer ENOTSUP while the testing switch is on.
int XattrGet(const QByteArray &path, const char *name, bool followLink, QByteArray &value);
int XattrSet(const QByteArray &path, const char *name, const QByteArray &value, bool followLink);
int XattrRemove(const QByteArray &path, const char *name, bool followLink);
int XattrList(const QByteArray &path, bool followLink, QList<QByteArray> &names);
bool XattrUnsupported(int err);
// Runs write (which changes xattrs of path); when it fails with EACCES on a
// file the caller owns without the owner write bit, lends that bit for the
// moment and restores the mode afterwards.
int WithOwnerWrite(const QByteArray &path, const std::function<int()> &write);

// Copies every user xattr of source onto dest (includeOwn: also the two the
// program keeps for itself) and removes dest's others.
uint32_t CopyUserXattrs(const QByteArray &source, const QByteArray &dest, bool includeOwn);
uint32_t CopyPermissionsNative(const QByteArray &source, const QByteArray &dest);

// Whether the directory path (on device dev) is the mount point of a
// pseudo file system.
bool IsPseudoMountDir(const QByteArray &path, uint64_t dev);

} // namespace vl::fsi
