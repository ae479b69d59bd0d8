// Whole-file reads and atomic whole-file writes for the files the user
// keeps (task, settings, link files). Results are error numbers of
// platform/SysErrors.h.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

// Reads the whole file. ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when it
// does not exist; a folder gives ERROR_DIRECTORY.
uint32_t ReadFileBytes(const QString &path, QByteArray &data);

// Writes data through a temporary file in the same folder that is flushed
// and then renamed over the target, so the target is either the old or the
// complete new file, never a truncated one; the folder is flushed too.
// Symbolic links are followed to the file they finally name. An existing
// file keeps its mode (and, where allowed, its owner); a new one gets
// newFileMode before the umask. A file without the owner's write bit, or
// one the caller may not write, is never replaced (ERROR_ACCESS_DENIED),
// not even by root.
uint32_t WriteFileAtomically(const QString &path, const QByteArray &data, uint32_t newFileMode = 0666);

} // namespace vl
