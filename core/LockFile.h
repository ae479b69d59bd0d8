// The lock file of a running backup: "Velkor.lock" in the settings folder.
//
// A backup run creates it with the task file's path as owner text and
// releases it at its end; while it exists the main window refuses to delete
// tasks, and a start that finds one left behind by a run that did not end
// reads it and offers to catch up on that backup.
//
// File: the owner text in UTF-16LE, without mark or terminator. While the
// owner runs it holds the file open with a lock on bytes 0 to 9 (also when
// the file is shorter). That lock, not the file's existence, tells a
// running backup from a file left behind: the kernel drops it when the
// owner ends in any way, also by kill -9.
//
// Module state (one per program, used from the GUI thread): the name of
// the lock file last used and the file this process owns, if any. All
// failures are reported through the Boolean results only.
#pragma once

#include "core/DateTime.h"

#include <QString>

namespace vl {

inline constexpr const char *kLockFileName = "Velkor.lock";

// Creates Folder + "Velkor.lock" (Folder with its trailing delimiter; none
// is added) holding OwnerText, and keeps it locked: true when this process
// now owns a new lock file. False when the file exists (held or left
// behind), when this process already owns a lock file, or when it cannot
// be created, written or locked; then nothing is left behind. Creation is
// exclusive, so of two starts at once only one can win.
bool CreateLockFile(const QString &Folder, const QString &OwnerText);
// Deletes the lock file this process owns and releases it. The module's
// other file name (last given to ReadLockFile) is deleted too, but only
// when no running process holds it. Failures are ignored.
void ReleaseLockFile();
// Whether Folder + "Velkor.lock" exists (held or left behind).
bool LockFileExists(const QString &Folder);
// Reads and removes a lock file left behind by a run that did not end:
// true with its owner text and its last-write time as a local date-time
// (0 when unreadable). False with an empty text and the current local
// time when there is no file. False, leaving the file in place, while a
// running process holds it (a backup is under way) or when it cannot be
// opened. A lock file this process owns is not given up by this call.
bool ReadLockFile(const QString &Folder, QString &OwnerText, TDateTime &LockTime);

} // namespace vl
