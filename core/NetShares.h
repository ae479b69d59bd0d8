// Network shares for destinations and sources. A share "//server/share" is
// connected when it is mounted: a cifs or smb3 mount of "//server/share", an
// nfs mount of "server:/share...", or a share gio has mounted through gvfs.
// Connecting a share that is not mounted runs `gio mount` with the account;
// where gio or a session bus is missing the result is
// ERROR_SHARE_NOT_MOUNTED, whose text says that the share must be mounted.
//
// The module remembers the share and user of the connection it made with
// an account, so that the run can take it down again at its end; shares the
// user mounted are never unmounted here. Results are error numbers
// (platform/SysErrors.h, platform/NetShares.h); nothing raises. Module state
// without locks: used from the window thread only.
#pragma once

#include "platform/NetShares.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace vl {

struct TUserAccount {
    QString Username; // "user" or "DOMAIN\user"
    QString Password;
};

// Makes sure the share of Path is connected. Path is "//server/share/..."
// or a path on a mounted network file system (which counts as connected at
// once). Any other path gives ERROR_NOT_CONNECTED.
// - With Account.Username: the share is mounted with that account (three
//   attempts where the connection breaks off, a second apart); the account
//   is then remembered for DisconnectNetworkShare.
// - Without: a mounted share is used as it is; else DefaultUser is tried
//   without a password (guest access or stored credentials); without
//   DefaultUser the result is ERROR_LOGON_FAILURE.
// - A server that is not found gives ERROR_BAD_NETPATH at once.
// - Interactive: otherwise the password is asked for through the password
//   service (for Account.Username, else DefaultUser, else the logon user)
//   until the share is mounted, the question is cancelled
//   (ERROR_CANCELLED), or an error comes that another password cannot mend.
//   After such a connection, unless SkipWriteTest, a folder that cannot be
//   written gives ERROR_ACCESS_DENIED.
int32_t ConnectNetworkShare(const QString &Path, const QString &DefaultUser, const TUserAccount &Account,
                            bool SkipWriteTest, bool Interactive);
// Tries to mount the share of a "//server/share/..." path without an
// account (guest access or stored credentials); true when it is mounted
// afterwards. Other paths: false (a local mount point is not ours to mount).
bool ReconnectNetworkPath(const QString &Path);
// Whether the drive of Path can be reached: a network path when its share
// is mounted or can be mounted without an account (a share that is not
// mounted cannot be used as a path at all); any other path when GetPathKind
// knows its drive.
bool IsDriveAvailable(const QString &Path);
// Whether the free space of the volume of Path can be read.
bool CanGetDiskSpace(const QString &Path);
// Whether a file can be created in Dir (created with its missing parents
// for the test and removed again). The test file "test-NNN.tmp" is created
// exclusively, so an existing file of that name is never touched.
bool TestWriteAccess(const QString &Dir);

// The local folder of a network path: "//server/share/dir" gives the mount
// point of the share followed by "/dir"; empty when the share is not
// mounted. Paths that are not network paths are returned unchanged.
QString ResolveSharePath(const QString &Path);

void MakeUserAccount(const QString &User, const QString &Password, TUserAccount &Account);
// Keeps the account as the module's default account.
void StoreUserAccount(const QString &User, const QString &Password);

// The share of the last successful connection.
QString GetConnectedShare();
// The user of the last connection made with an account; false when none.
bool GetConnectedUser(QString &User);
// Unmounts the share that the last connection mounted with an account and
// clears the default account: the result of the unmount, or -1 when there
// is no such connection. Share and User receive what was remembered; both
// are forgotten in any case. Also runs when the program ends.
int32_t DisconnectNetworkShare(QString &Share, QString &User);
int32_t ReleaseNetworkShare();

// How the functions above find gio's mounts and how they mount (the mount
// table is that of platform/Volumes.h). Members left empty take the
// system's: the gvfs folder of the session, gio with a session bus,
// `gio mount`, a real pause.
struct TNetShareSystem {
    std::function<QString()> GvfsDir;
    std::function<bool()> GioAvailable;
    std::function<uint32_t(const TGioMountRequest &)> RunGio;
    std::function<void(int ms)> Pause;
};
void SetNetShareSystem(const TNetShareSystem &ASystem);

} // namespace vl
