// Destinations: volume-label paths, the layout of destination subfolders
// per source drive, the file system and status line of a destination,
// making a destination usable, the names of the information files a run
// writes into a destination, and the free-space query of a network
// destination in a worker.
//
// Volume-label path: ":" + label + ":" + "/rest" (or ":LABEL:" alone): the
// folder "/rest" below the root of the file system with that label,
// wherever it is mounted now (labels compare ignoring case).
//
// Drives and their names are those of core/Drives.h: "/" ("root") for all
// fixed local file systems, a mount point for a removable or network file
// system (named by label, UUID or share), "//server/share" for a network
// path. A drive-id mask such as "Drv?" names the subfolder that keeps what
// comes from one drive apart: "Drvroot", "DrvUSB".
#pragma once

#include "core/Settings.h"
#include "platform/Thread.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// Information files that a run writes into a destination.
inline constexpr const char *kTimeStampFileName = "$TimeStamp.vlu";
inline constexpr const char *kVssBackupDocName = "VssBackupDoc.xml";
inline constexpr const char *kLinkInfoExt = "vllink";

// ---- Volume-label paths ----

// 0: Path is no volume-label path (unchanged); 1: resolved, Path is the
// mount point (with trailing "/") followed by the rest, VolLabel the label;
// 2: Path empty or the volume not found. With Prompt, a missing volume is
// asked for with Retry/Cancel ("Volume %s not found!") until it appears or
// the question is cancelled.
int ResolveVolumeLabelPath(QString &Path, QString &VolLabel, bool Prompt);
// Path with its label resolved; Path unchanged when the volume is missing.
QString ResolvedVolumePath(const QString &Path, bool Prompt);
// ResolveVolumeLabelPath without prompting does not give 2.
bool IsVolumeLabelPathAvailable(const QString &Path);
// The other form of Path: a label path resolved (asking for the medium;
// empty when it stays missing); a path on a local volume with a label as
// ":LABEL:/rest"; otherwise an error box "No volume name available for "
// + the volume and the empty text.
QString ToggleVolumeLabelPath(const QString &Path);
// ":" + VolLabel + ":" + the path on its volume, for a path on a local
// volume and a non-empty label; else Path.
QString PathWithVolumeLabel(const QString &Path, const QString &VolLabel);

// Mapping "<folder>=<replacement>" (such as a snapshot of a mount point,
// "/home=/run/velkor/snap-home"): when Path is that folder or lies below
// it, the folder is replaced; otherwise, and when either part is empty,
// Path is returned. A path on another file system mounted below the folder
// is returned unchanged (the snapshot does not hold it).
QString ApplyDriveMapping(const QString &Path, const QString &Mapping);

// ---- Destination layout ----

// Target folder of SourceDir by the destination layout mode:
//   0, 4, 5, 6: Dest + DriveSubdirName(DriveId, SourceDir) + path below the drive
//   1, 7:       Dest + path below the drive
//   2:          Dest
//   3:          Dest + last element of SourceDir
// Dest gets a trailing "/" (an empty Dest stays empty). For a network path
// "//server/share/dir" the path below the drive is "dir".
QString BuildTargetDir(int Mode, const QString &DriveId, const QString &Dest, const QString &SourceDir);
// "Lw?" when the language in use is German, else "Drv?".
QString GetDefaultDriveId();
// The subfolder for the drive of Drive (a drive or any path on it), with
// trailing "/": "server/share/" for a network path "//server/share/...";
// for a local absolute path every "?" of DriveId replaced by the drive's
// name ("Drv?" gives "Drvroot/", "DrvUSB/"), or the name appended when
// DriveId has no "?"; a text without drive itself. Empty for an empty Drive.
QString DriveSubdirName(const QString &DriveId, const QString &Drive);
// The drive name that stands at the "?" of DriveId in SubdirName (a
// trailing "/" ignored; the rest of the mask compared ignoring case); empty
// when DriveId has no "?" or SubdirName does not fit the mask. The drive
// itself is DriveRootFromName of it (core/Drives.h).
QString DriveLetterFromSubdir(const QString &SubdirName, const QString &DriveId);

// ---- File system and status ----

// The file system of the destination: a label path resolved first; empty
// or unreachable fsNotAvail; a network destination fsRemote; otherwise by
// the file-system type of the volume holding it.
TFileSystem GetFileSystemType(const QString &Path);
QString FileSystemText(TFileSystem FS);

// The status line of a destination; Kind 0 local drive, 1 server, 2 not
// available. A server's free space is measured by TNetGetVolThread.
QString GetDestinationStatus(const QString &Dest, uint8_t &Kind);
QString DestinationStatusText(const QString &Dest);

// Makes the destination usable: a label path resolved (asking for the
// medium unless Quiet), a removable volume present, a network share
// connected (with User, asking for a missing password unless Quiet).
bool ConnectDestinationAs(const QString &Caption, const QString &User, const QString &Password, bool Quiet,
                          QString &Dest);
bool ConnectDestination(const QString &Caption, QString &Dest, bool Quiet);

// The drive of Path is removable (also a fixed disk on the USB bus) or no
// volume holds Path.
bool IsRemovableDrive(const QString &Path);

// False when Check is false; else whether FileName is one of the
// information files (ignoring case).
bool IsBackupInfoFile(bool Check, const QString &FileName);
// The extension is "vllink" (ignoring case).
bool IsLinkInfoFile(const QString &FileName);
// Encryption key mode for a password: 0 empty, 3 (AES-256) for more than
// 15 characters, else 1 (AES-128).
int CryptModeForPassword(const QString &Password);

// ---- Free space of a network destination ----

// Measures the free and total bytes of a path in a worker, so a network
// mount that does not answer blocks only the worker. Create starts it at
// once. When it has measured, OnTerminate runs on the owning thread (in
// its message processing); the owner reads nFree, nTotal and fSuccess
// there or after Done(). A worker that does not come back is abandoned
// (Abandon()): its results and its OnTerminate are then dropped.
class TNetGetVolThread : public TThread {
public:
    using TNotifyEvent = std::function<void(TNetGetVolThread &Sender)>;

    static std::shared_ptr<TNetGetVolThread> Create(const QString &ANetPath, TNotifyEvent AOnTerminate);

    int64_t nFree = 0;  // bytes available to the caller
    int64_t nTotal = 0; // total bytes
    QString fPath;
    bool fSuccess = false;

    // Use Create.
    TNetGetVolThread(const QString &ANetPath, TNotifyEvent AOnTerminate);

protected:
    void Execute() override;

private:
    TNotifyEvent FOnTerminate;
};

// Free and total bytes of Path measured in a TNetGetVolThread, waiting at
// most TimeoutMs; false ("unknown", both 0) when the query failed or did
// not come back in time (the worker is then abandoned).
bool MeasureDiskSpace(const QString &Path, int TimeoutMs, int64_t &FreeBytes, int64_t &TotalBytes);

} // namespace vl
