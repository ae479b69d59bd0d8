// Mounted file systems as volumes: what is mounted where, which device and
// file system it is, its label and UUID, and whether it is removable, on
// the USB bus, optical or on the network.
//
// Sources (all replaceable for tests, see TVolumeSources):
// - the mount table /proc/self/mountinfo;
// - udev's links /dev/disk/by-label/<label> and /dev/disk/by-uuid/<uuid>,
//   which point to the device node of each file system (names escaped by
//   udev as \xHH);
// - sysfs /sys/class/block/<device>: the "removable" flag of the disk and
//   its place in the device tree, which shows a USB bus.
//
// Kinds of volumes, from the file-system type first:
// - network: nfs, nfs4, cifs, smb3, smbfs, fuse.sshfs;
// - optical: iso9660, udf on a CD/DVD device (sr*);
// - removable: vfat, exfat, msdos, or a disk with the sysfs removable flag,
//   or a disk on the USB bus (an external hard disk says "fixed" but counts
//   as removable);
// - RAM: tmpfs, ramfs;
// - every other file system is fixed.
//
// Nothing here raises and nothing blocks on a network file system except
// DiskSpace, whose callers run it in a worker they can abandon.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

namespace vl {

struct TVolumeSources {
    QString MountInfoFile = QStringLiteral("/proc/self/mountinfo");
    QString ByLabelDir = QStringLiteral("/dev/disk/by-label");
    QString ByUuidDir = QStringLiteral("/dev/disk/by-uuid");
    QString SysBlockDir = QStringLiteral("/sys/class/block");
    // Free and total bytes of the file system holding a path (0 or an error
    // number); empty means vl::DiskSpace.
    std::function<uint32_t(const QString &path, int64_t &freeBytes, int64_t &totalBytes)> DiskSpace;
};

// The sources in use (a copy; safe from any thread).
TVolumeSources VolumeSources();
// Tests: replaces the sources; nullptr restores the system's.
void SetVolumeSourcesForTesting(const TVolumeSources *sources);

struct TVolume {
    QString MountPoint; // "/", "/home", "/media/ann/USB"
    QString FsRoot;     // the folder of the file system mounted there ("/", or a subvolume or bind source)
    QString FsType;     // "ext4", "vfat", "cifs", ...
    QString Source;     // "/dev/sdb1", "//server/share", "server:/export"
    QString Device;     // kernel name of the block device ("sdb1"); empty when there is none
    QString Label;      // file-system label; empty when it has none
    QString Uuid;       // file-system UUID as udev shows it; empty when it has none
    bool Network = false;
    bool Optical = false;
    bool Removable = false; // removable file-system type, removable flag or USB bus
    bool Usb = false;
    bool Ram = false;
};

// Every mount of the mount table in its order, except those hidden by a
// later mount on the same point. Empty when the table cannot be read.
QList<TVolume> ListVolumes();

// The mount that holds an absolute path: the one with the longest mount
// point that contains it, compared by path elements on the text alone (no
// file-system access, so a hung network mount cannot block it). False for
// a relative path or an unreadable table.
bool FindPathVolume(const QList<TVolume> &volumes, const QString &path, TVolume &volume);
// The volume mounted exactly at mountPoint (a trailing "/" is ignored).
bool FindMountPointVolume(const QList<TVolume> &volumes, const QString &mountPoint, TVolume &volume);

// A network path "//server/share/rest" as the local path of the network
// mount that serves it: cifs/smb sources "//server/share[/sub]" and nfs or
// sshfs sources "server:/export" (the path "//server/export/..."). Server
// names ignore case, and SMB share names too. The longest match wins.
// False when no mounted share serves the path.
bool FindNetworkMount(const QList<TVolume> &volumes, const QString &networkPath, TVolume &volume,
                      QString &localPath);

// The name of a network volume's share: server and share (or export path)
// joined by "_" ("//nas/data" and "nas:/data" give "nas_data").
QString NetworkShareName(const TVolume &volume);

// The longest file name the file system of path allows (statvfs).
uint32_t MaxNameLength(const QString &path, uint32_t &length);

// Free bytes available to the caller and total bytes of the file system
// holding path, through the sources' query.
uint32_t VolumeDiskSpace(const QString &path, int64_t &freeBytes, int64_t &totalBytes);

} // namespace vl
