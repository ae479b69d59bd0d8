// The snapshot service behind the interfaces of engine/VssApi.h.
//
// A snapshot stands for one volume as it was at one moment; its "device
// object name" is the folder under which the volume's files are read.
// Providers make them:
// - btrfs: a read-only snapshot of the subvolume mounted at the volume's
//   mount point, in the hidden folder ".velkor-snapshots" of that mount
//   point (same file system). A subvolume holding nested subvolumes is
//   refused: they would show as empty folders in the snapshot.
// - LVM: a snapshot logical volume of the volume's logical volume, mounted
//   read-only below $XDG_RUNTIME_DIR (else /run) in "velkor-snapshots".
//   Btrfs file systems are left to the btrfs provider (a block copy of one
//   would carry the same file-system UUID).
// - test: a frozen, read-only copy of the mount point's tree in a folder
//   of its own. Installed by tests (SetSnapshotProvidersForTest), or for
//   the whole process by the environment variable
//   VELKOR_SNAPSHOT_TEST=<folder>; it refuses trees of more than
//   kTestProviderMaxEntries entries.
// A volume name is a device as GetVolumeGuidPath (core/Drives.h) gives it,
// taken at its shortest mount point; a mount point is accepted as well
// (for a device mounted several times, e.g. btrfs subvolumes, that says
// which mount is meant).
//
// Life of snapshots: those of a context without the persistent bit live
// until the backup-components object that made them is destroyed (or are
// deleted before); persistent ones stay until deleted. All are recorded in
// $XDG_STATE_HOME/velkor/snapshots.json (else ~/.local/state/...), so that
// those of a process that ended without deleting them are deleted by the
// next backup-components object.
//
// Writers: none take part on this system; tests install writer metadata
// (SetWritersForTest) so that the selection is exercised end to end.
//
// Asynchronous operations complete before they return: Wait gives S_OK and
// QueryStatus VSS_S_ASYNC_FINISHED, or the operation's failure code.
#pragma once

#include "engine/VssApi.h"
#include "platform/Volumes.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace vl {

// A snapshot as the service keeps it.
struct TSnapshotRecord {
    VSS_SNAPSHOT_PROP Prop;
    QString ProviderName;
    QString MountPoint;   // of the volume when the snapshot was taken
    QString ProviderData; // what the provider needs to delete it
    // The process whose backup-components object holds a snapshot that is
    // not persistent (0 for a persistent one): when that process is gone
    // without deleting it, the next service object deletes it.
    int64_t OwnerPid = 0;
};

class ISnapshotProvider {
public:
    virtual ~ISnapshotProvider() = default;
    virtual QString Name() const = 0;
    virtual VSS_ID ProviderId() const = 0;
    // The provider's tools are present on this system.
    virtual bool Available() const = 0;
    // Whether it can snapshot this volume; why not in Reason.
    virtual bool Fits(const TVolume &Volume, QString &Reason) const = 0;
    // Makes the snapshot of Volume for Snapshot (ids filled in); fills
    // Snapshot.Prop.m_pwszSnapshotDeviceObject and ProviderData. A failure
    // code on failure (nothing left behind).
    virtual HRESULT Create(const TVolume &Volume, TSnapshotRecord &Snapshot) = 0;
    virtual HRESULT Delete(const TSnapshotRecord &Snapshot) = 0;
};

using TSnapshotProviders = std::vector<std::shared_ptr<ISnapshotProvider>>;

// A provider is available, so snapshots can be offered (IsVssApiLoaded).
bool SnapshotServiceAvailable();
std::shared_ptr<IVssBackupComponents> NewSnapshotBackupComponents();

// The providers in use: those installed for tests, else the test provider
// of VELKOR_SNAPSHOT_TEST, else btrfs and LVM.
TSnapshotProviders SnapshotProviders();
// Tests: replaces the providers; nullptr restores the system's.
void SetSnapshotProvidersForTest(const TSnapshotProviders *providers);

// ---- Providers ----

inline constexpr int kTestProviderMaxEntries = 100000;

// Copies into Folder/<snapshot id>/; Fits every volume whose mount point
// holds at most MaxEntries entries.
std::shared_ptr<ISnapshotProvider> NewTestSnapshotProvider(const QString &Folder,
                                                           int MaxEntries = kTestProviderMaxEntries);
std::shared_ptr<ISnapshotProvider> NewBtrfsSnapshotProvider();
std::shared_ptr<ISnapshotProvider> NewLvmSnapshotProvider();

// Tool arguments (pure, for the providers and their tests).
inline constexpr const char *kBtrfsSnapshotFolder = ".velkor-snapshots";
QString BtrfsSnapshotPath(const QString &MountPoint, const VSS_ID &SnapshotId);
QStringList BtrfsSnapshotArgs(const QString &MountPoint, const QString &Target);
QStringList BtrfsListNestedArgs(const QString &MountPoint);
QStringList BtrfsDeleteArgs(const QString &Target);
// Output of "btrfs subvolume list -o": whether it names a subvolume other
// than our own snapshots (in kBtrfsSnapshotFolder directly below the
// mounted subvolume FsRoot, "/" for the top level).
bool BtrfsHasNestedSubvolumes(const QString &ListOutput, const QString &FsRoot);

QString LvmSnapshotName(const VSS_ID &SnapshotId);
QStringList LvmQueryArgs(const QString &Device);
// "vg lv attr" of lvs: false when it is no logical volume.
bool ParseLvmQuery(const QString &Output, QString &VgName, QString &LvName, QString &Attr);
// A thin volume (attr starting with "V") gets a thin snapshot, others a
// classic one sized at 20% of the origin.
QStringList LvmCreateArgs(const QString &VgName, const QString &LvName, const QString &SnapName, bool Thin);
QStringList LvmMountArgs(const QString &Device, const QString &Folder, const QString &FsType);
QStringList LvmRemoveArgs(const QString &VgName, const QString &SnapName);
QString LvmMountFolder(const VSS_ID &SnapshotId);
// The folder of the mounted snapshot that the volume's mount point shows
// (FsRoot of platform/Volumes.h: "/" unless a folder is bind-mounted).
QString LvmSnapshotRoot(const QString &MountFolder, const QString &FsRoot);

// ---- Writers (tests) ----

struct TWriterFileDesc {
    QString Path;
    QString Filespec;
    QString AlternateLocation;
    bool Recursive = false;
};

struct TWriterComponentDesc {
    VSS_COMPONENT_TYPE Type = VSS_CT_FILEGROUP;
    QString LogicalPath;
    QString Name;
    QString Caption;
    bool Selectable = true;
    bool NotifyOnBackupComplete = false;
    std::vector<TWriterFileDesc> Files;
    std::vector<TWriterFileDesc> Databases;
    std::vector<TWriterFileDesc> LogFiles;
};

struct TWriterDesc {
    VSS_ID InstanceId;
    VSS_ID WriterId;
    QString Name;
    VSS_RESTOREMETHOD_ENUM RestoreMethod = VSS_RME_RESTORE_IF_CAN_REPLACE;
    VSS_WRITERRESTORE_ENUM RestoreConditions = VSS_WRE_ALWAYS;
    bool RebootRequired = false;
    std::vector<TWriterFileDesc> ExcludeFiles;
    std::vector<TWriterComponentDesc> Components;
    // What GetWriterStatus reports.
    VSS_WRITER_STATE State = VSS_WS_STABLE;
    HRESULT Failure = S_OK;
};

// The writers later backup-components objects gather; nullptr: none.
void SetWritersForTest(const std::vector<TWriterDesc> *writers);
std::shared_ptr<IVssExamineWriterMetadata> NewWriterMetadata(const TWriterDesc &Writer);

} // namespace vl
