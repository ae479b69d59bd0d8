// Network shares beyond the mount table (platform/Volumes.h): the shares
// that gio has mounted through gvfs, and `gio mount` to mount a share that
// is not mounted, which needs gio and a session bus.
#pragma once

#include "platform/SysErrors.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace vl {

// One share that gio has mounted: an entry
// "smb-share:server=S,share=N[,user=...]" of the gvfs folder.
struct TGvfsShare {
    QString Server;
    QString Share;
    QString Folder; // the full path of the entry
};
// The shares mounted in a gvfs folder; none when it cannot be listed.
QList<TGvfsShare> ListGvfsShares(const QString &gvfsDir);
// $XDG_RUNTIME_DIR/gvfs, else /run/user/<uid>/gvfs.
QString DefaultGvfsDir();

// Whether `gio mount` can be used: gio on the PATH and a session bus
// ($DBUS_SESSION_BUS_ADDRESS, else the socket $XDG_RUNTIME_DIR/bus).
bool GioMountAvailable();

// One run of `gio mount`.
struct TGioMountRequest {
    QString Uri;         // "smb://server/share"
    QString User;        // "user" or "DOMAIN\user"; empty: nothing is sent, so only
                         // guest access or stored credentials can succeed
    QString Password;
    bool WithPassword = false; // false: the password question is left unanswered
    bool Unmount = false;      // `gio mount -u`
};

// Runs `gio mount` with the account on its standard input (user, domain
// and password, one line each, as gio asks for them) and gives 0 or the
// error number its message stands for (GioMountError). A run that takes
// longer than a minute is killed: ERROR_TIMEOUT.
uint32_t RunGioMount(const TGioMountRequest &request);
// The error number of a finished `gio mount` by its exit code and its
// (English) error output: 0 for success and for a share that is already mounted,
// ERROR_LOGON_FAILURE for refused or missing credentials, ERROR_BAD_NETPATH
// for a server or share that cannot be found, ERROR_NETNAME_DELETED for a
// connection that timed out or broke off, else ERROR_SHARE_NOT_MOUNTED.
uint32_t GioMountError(int exitCode, const QString &output);

} // namespace vl
