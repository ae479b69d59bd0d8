// Drives and volumes: what kind of place a path points to, the volume that
// holds it (label, UUID, file system, free space), and the drive a path
// belongs to for the naming of destination subfolders.
//
// Drives: all fixed local file systems together are one drive, "/", named
// "root", and the path below it is the full path (so moving /home to a
// partition of its own changes no backup folder). A removable, optical or
// network file system is a drive of its own: its mount point, named by its
// label, else its UUID (a network mount: "server_share", see
// NetworkShareName). A network path "//server/share/..." has the drive
// "//server/share".
//
// Volumes are the mounts of platform/Volumes.h. A path below /media/ or
// /run/media/ whose mount is not itself there belongs to a removable disk
// that is not plugged in: it has no volume (drive kind 1, path kind 0), so
// nothing is written into the folder the disk would be mounted on.
//
// Every function takes a path text and never raises; a failure gives the
// empty answer described for it.
#pragma once

#include "platform/Volumes.h"

#include <QString>

#include <cstdint>

namespace vl {

// Drive kinds (GetDriveKind).
enum : uint32_t {
    dkUnknown = 0,   // the mount table cannot be read
    dkNoRoot = 1,    // no mounted volume holds the path
    dkRemovable = 2, // also a fixed disk on the USB bus
    dkFixed = 3,
    dkRemote = 4,
    dkCdRom = 5,
    dkRamDisk = 6,
};

// Path kinds (GetPathKind).
enum : int32_t {
    pkUnknown = 0,   // no volume holds the path
    pkLocal = 1,     // fixed local file system or RAM disk
    pkNoDrive = 2,   // a relative path (also a volume-label path, unresolved)
    pkRemovable = 3, // removable disk, USB disk or CD/DVD
    pkNetwork = 4,   // network path or network mount
};

// The volume holding an absolute path, or serving a network path (then
// LocalPath is the path below the mount point; else LocalPath is Path).
bool GetPathVolume(const QString &Path, TVolume &Volume, QString &LocalPath);

uint32_t GetDriveKind(const QString &FileName);
// 2 for a path without drive; 4 for "//server/share/..."; otherwise by
// GetDriveKind: 0 and 1 give 0, 2 and 5 give 3, 4 gives 4, others 1.
int32_t GetPathKind(const QString &Path);
bool IsLocalPath(const QString &Path);      // GetPathKind 1 or 3
bool IsLocalFixedPath(const QString &Path); // GetPathKind 1

// The label of the volume holding FileName, trimmed, and true; false and
// the translated "not available" when no volume holds it.
bool GetVolumeLabel(const QString &FileName, QString &Label);
bool IsVolumeReady(const QString &Path);

// Root (mount point with trailing "/") of the first volume, from position
// StartIndex of the mount table on, whose trimmed label equals Label
// ignoring case and that is mounted as a whole (not a subvolume or bind
// mount of a folder); empty when there is none.
void FindDriveByLabel(const QString &Label, int StartIndex, QString &Root);
// The local path of Rest ("/" + path below the root of the file system)
// on the volume labelled Label (ignoring case): the mount that shows the
// deepest folder of the file system containing Rest (a btrfs subvolume
// mounted on its own is found as well); empty when none is mounted.
QString VolumeLabelTarget(const QString &Label, const QString &Rest);

// The volume holding Path sits on the USB bus.
bool IsUsbDrive(const QString &Path);

// Bytes available to the caller and total bytes of the volume holding
// Path, measured at Path or its nearest existing parent; 0 on failure.
int64_t GetFreeDiskSpace(const QString &Path);
int64_t GetTotalDiskSpace(const QString &Path);
// Both in one query; false (and 0) on failure.
bool GetDiskSpace(const QString &Path, int64_t &FreeBytes, int64_t &TotalBytes);

// Volume information of the volume holding Path by Kind: 0 the label, 1
// the serial number (the file-system UUID), 2 the file-system type, 3 the
// longest file name; empty when no volume holds Path.
void GetVolumeInfoText(const QString &Path, int Kind, QString &Text);
void GetVolumeName(const QString &Path, QString &Text);
void GetFileSystemName(const QString &Path, QString &Text);
// The device of the file system mounted exactly at MountPoint ("/dev/sda2",
// the source of a network mount); empty when MountPoint is empty or no
// mount point.
void GetVolumeGuidPath(const QString &MountPoint, QString &VolumeName);

// ---- Drives ----

// "/", a mount point or "//server/share"; empty for a relative path.
QString DriveOfPath(const QString &Path);
// Path relative to its drive, without leading delimiter ("/home/ann" gives
// "home/ann", "/media/ann/USB/Photos" on that stick "Photos"); empty when
// Path is its drive; Path itself when it has no drive.
QString PathBelowDrive(const QString &Path);
// "root", a label, UUID or share name (characters that are invalid in file
// names replaced by "_"); "server_share" for a network path; empty for a
// relative path.
QString DriveNameOfPath(const QString &Path);
// Reverse of DriveNameOfPath among the current mounts: "/" for "root", the
// mount point of the volume with that label, UUID or share name (ignoring
// case); empty when none is mounted.
QString DriveRootFromName(const QString &Name);

} // namespace vl
