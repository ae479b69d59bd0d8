// The desktop services of the freedesktop standards: the XDG base and user
// folders, the autostart folder, the Trash, and opening a file or address
// with the user's preferred application.
//
// Folders come without a trailing "/". Results of operations are error
// numbers of platform/SysErrors.h (0 = success); nothing here raises.
#pragma once

#include <QString>

#include <cstdint>

namespace vl {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
QString XdgConfigHome();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
QString XdgDataHome();

// The user folders of user-dirs.dirs.
enum class TXdgUserDir { Desktop, Documents, Download, Music, Pictures, Videos };

// The folder as $XDG_CONFIG_HOME/user-dirs.dirs sets it (XDG_DESKTOP_DIR=
// "$HOME/Desktop" or an absolute path), else ~/Desktop, ~/Documents,
// ~/Downloads, ~/Music, ~/Pictures or ~/Videos. A folder set to the home
// folder itself is switched off: the result is empty then, so nobody
// mistakes the whole home folder for, say, the music folder.
QString XdgUserDir(TXdgUserDir dir);

// The folder of the programs started at login: XdgConfigHome() + "/autostart".
QString AutostartDirectory();

// Moves a file, link or folder (the item itself, a link is not followed)
// into the user's Trash:
// - on the file system of $XDG_DATA_HOME: $XDG_DATA_HOME/Trash;
// - elsewhere: $topdir/.Trash/$uid when the administrator made $topdir/.Trash
//   (a real folder with the sticky bit), else $topdir/.Trash-$uid, where
//   $topdir is the mount point of the item's file system.
// The "<name>.trashinfo" file (original path percent-encoded, absolute in
// the home Trash and relative to $topdir otherwise; deletion date as local
// time "YYYY-MM-DDThh:mm:ss") is created exclusively before the item is
// moved, so two removals never claim the same name; a taken name gets ".2",
// ".3", ... appended. The item is renamed, never copied: when that fails the
// info file is removed again and the error returned, and the item stays
// where it was. trashedPath receives the item's new path.
uint32_t MoveToTrash(const QString &path, QString *trashedPath = nullptr);

// Opens a file, folder or address with the user's preferred application
// (xdg-open, started detached: the call does not wait for it).
// ERROR_FILE_NOT_FOUND when xdg-open is not on the PATH.
uint32_t OpenWithPreferredApp(const QString &target);

} // namespace vl
