// The snapshot service as the shadow-copy client sees it: result codes and
// their texts, the service's interfaces (abstract classes held by
// std::shared_ptr), the snapshot property record, and the common check of
// a service result.
//
// The service behind these interfaces is engine/SnapshotService.h: it
// stands for each volume's snapshot by a read-only btrfs subvolume
// snapshot, an LVM snapshot mounted read-only, or (tests) a frozen copy.
// Strings the service hands out are QStrings, so "releasing" them is a
// no-op; VssFreeSnapshotProperties clears a record all the same.
//
// IsVssApiLoaded is true when a snapshot provider can run on this system:
// a test provider is installed, or the btrfs or lvcreate tool is on the
// search path. It tells whether snapshots are worth offering, not that a
// given volume can be snapshotted (AddToSnapshotSet says that).
//
// There are no cluster shared volumes here: the three cluster wrappers
// always return false.
#pragma once

#include "core/Exceptions.h"
#include "core/ShellUtils.h" // HRESULT, S_OK, E_FAIL, E_INVALIDARG

#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// ---- Result codes ----

constexpr HRESULT MakeHResult(uint32_t code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
inline constexpr HRESULT RPC_E_TOO_LATE = MakeHResult(0x80010119u);

inline constexpr HRESULT VSS_S_ASYNC_PENDING = 0x00042309;
inline constexpr HRESULT VSS_S_ASYNC_FINISHED = 0x0004230A;
inline constexpr HRESULT VSS_S_ASYNC_CANCELLED = 0x0004230B;

inline constexpr HRESULT VSS_E_BAD_STATE = MakeHResult(0x80042301u);
inline constexpr HRESULT VSS_E_UNEXPECTED = MakeHResult(0x80042302u);
inline constexpr HRESULT VSS_E_PROVIDER_VETO = MakeHResult(0x80042306u);
inline constexpr HRESULT VSS_E_OBJECT_NOT_FOUND = MakeHResult(0x80042308u);
inline constexpr HRESULT VSS_E_VOLUME_NOT_SUPPORTED = MakeHResult(0x8004230Cu);
inline constexpr HRESULT VSS_E_OBJECT_ALREADY_EXISTS = MakeHResult(0x8004230Du);
inline constexpr HRESULT VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER = MakeHResult(0x8004230Eu);
inline constexpr HRESULT VSS_E_UNEXPECTED_PROVIDER_ERROR = MakeHResult(0x8004230Fu);
inline constexpr HRESULT VSS_E_INVALID_XML_DOCUMENT = MakeHResult(0x80042311u);
inline constexpr HRESULT VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED = MakeHResult(0x80042312u);
inline constexpr HRESULT VSS_E_SNAPSHOT_SET_IN_PROGRESS = MakeHResult(0x80042316u);
inline constexpr HRESULT VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED = MakeHResult(0x80042317u);
inline constexpr HRESULT VSS_E_INSUFFICIENT_STORAGE = MakeHResult(0x8004231Fu);

inline constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
inline constexpr bool Failed(HRESULT hr) { return hr < 0; }

// ---- Identifiers ----

using TGUID = QUuid;
using VSS_ID = QUuid;
inline const TGUID GUID_NULL{};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case (the registry form).
QString GuidToString(const TGUID &Guid);
// Parses a registry form (braces optional, any case); false and the null
// identifier when Text is no identifier.
bool StringToGuid(const QString &Text, TGUID &Guid);

// ---- Enumerations ----

enum VSS_OBJECT_TYPE : int32_t {
    VSS_OBJECT_UNKNOWN = 0,
    VSS_OBJECT_NONE = 1,
    VSS_OBJECT_SNAPSHOT_SET = 2,
    VSS_OBJECT_SNAPSHOT = 3,
    VSS_OBJECT_PROVIDER = 4,
};

enum _VSS_COMPONENT_TYPE : int32_t {
    VSS_CT_UNDEFINED = 0,
    VSS_CT_DATABASE = 1,
    VSS_CT_FILEGROUP = 2,
};
using VSS_COMPONENT_TYPE = _VSS_COMPONENT_TYPE;

enum _VSS_RESTOREMETHOD_ENUM : int32_t {
    VSS_RME_UNDEFINED = 0,
    VSS_RME_RESTORE_IF_NOT_THERE = 1,
    VSS_RME_RESTORE_IF_CAN_REPLACE = 2,
    VSS_RME_STOP_RESTORE_START = 3,
    VSS_RME_RESTORE_TO_ALTERNATE_LOCATION = 4,
    VSS_RME_RESTORE_AT_REBOOT = 5,
    VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE = 6,
    VSS_RME_CUSTOM = 7,
    VSS_RME_RESTORE_STOP_START = 8,
};
using VSS_RESTOREMETHOD_ENUM = _VSS_RESTOREMETHOD_ENUM;

enum _VSS_WRITERRESTORE_ENUM : int32_t {
    VSS_WRE_UNDEFINED = 0,
    VSS_WRE_NEVER = 1,
    VSS_WRE_IF_REPLACE_FAILS = 2,
    VSS_WRE_ALWAYS = 3,
};
using VSS_WRITERRESTORE_ENUM = _VSS_WRITERRESTORE_ENUM;

enum _VSS_DESCRIPTOR_TYPE : int32_t {
    VSS_FDT_UNDEFINED = 0,
    VSS_FDT_EXCLUDE_FILES = 1,
    VSS_FDT_FILELIST = 2,
    VSS_FDT_DATABASE = 3,
    VSS_FDT_DATABASE_LOG = 4,
};
using VSS_DESCRIPTOR_TYPE = _VSS_DESCRIPTOR_TYPE;

enum VSS_BACKUP_TYPE : int32_t {
    VSS_BT_UNDEFINED = 0,
    VSS_BT_FULL = 1,
    VSS_BT_INCREMENTAL = 2,
    VSS_BT_DIFFERENTIAL = 3,
    VSS_BT_LOG = 4,
    VSS_BT_COPY = 5,
    VSS_BT_OTHER = 6,
};

enum VSS_WRITER_STATE : int32_t {
    VSS_WS_UNKNOWN = 0,
    VSS_WS_STABLE = 1,
    VSS_WS_WAITING_FOR_FREEZE = 2,
    VSS_WS_WAITING_FOR_THAW = 3,
    VSS_WS_WAITING_FOR_POST_SNAPSHOT = 4,
    VSS_WS_WAITING_FOR_BACKUP_COMPLETE = 5,
    VSS_WS_FAILED_AT_IDENTIFY = 6,
    VSS_WS_FAILED_AT_PREPARE_BACKUP = 7,
    VSS_WS_FAILED_AT_PREPARE_SNAPSHOT = 8,
    VSS_WS_FAILED_AT_FREEZE = 9,
    VSS_WS_FAILED_AT_THAW = 10,
    VSS_WS_FAILED_AT_POST_SNAPSHOT = 11,
    VSS_WS_FAILED_AT_BACKUP_COMPLETE = 12,
    VSS_WS_FAILED_AT_PRE_RESTORE = 13,
    VSS_WS_FAILED_AT_POST_RESTORE = 14,
};

enum VSS_USAGE_TYPE : int32_t {
    VSS_UT_UNDEFINED = 0,
    VSS_UT_BOOTABLESYSTEMSTATE = 1,
    VSS_UT_SYSTEMSERVICE = 2,
    VSS_UT_USERDATA = 3,
    VSS_UT_OTHER = 4,
};

enum VSS_SOURCE_TYPE : int32_t {
    VSS_ST_UNDEFINED = 0,
    VSS_ST_TRANSACTEDDB = 1,
    VSS_ST_NONTRANSACTEDDB = 2,
    VSS_ST_OTHER = 3,
};

enum VSS_SNAPSHOT_STATE : int32_t {
    VSS_SS_UNKNOWN = 0,
    VSS_SS_CREATED = 12,
};

// Snapshot contexts (SetContext) and snapshot attributes.
inline constexpr uint32_t VSS_VOLSNAP_ATTR_PERSISTENT = 0x1;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_NO_AUTORECOVERY = 0x2;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_CLIENT_ACCESSIBLE = 0x4;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE = 0x8;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_NO_WRITERS = 0x10;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_TRANSPORTABLE = 0x20;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_HARDWARE_ASSISTED = 0x10000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_DIFFERENTIAL = 0x20000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_PLEX = 0x40000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_IMPORTED = 0x80000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_EXPOSED_LOCALLY = 0x100000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_EXPOSED_REMOTELY = 0x200000;
inline constexpr uint32_t VSS_VOLSNAP_ATTR_DELAYED_POSTSNAPSHOT = 0x1000000; // the fast snapshot

inline constexpr uint32_t VSS_CTX_BACKUP = 0;
inline constexpr uint32_t VSS_CTX_FILE_SHARE_BACKUP = VSS_VOLSNAP_ATTR_NO_WRITERS;
inline constexpr uint32_t VSS_CTX_CLIENT_ACCESSIBLE = VSS_VOLSNAP_ATTR_PERSISTENT
    | VSS_VOLSNAP_ATTR_CLIENT_ACCESSIBLE | VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE | VSS_VOLSNAP_ATTR_NO_WRITERS;
inline constexpr uint32_t VSS_CTX_ALL = 0xFFFFFFFFu;

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// ---- Records ----

// One snapshot as the service reports it. The creation time is a file time
// (100-ns ticks since 1601-01-01 UTC).
struct VSS_SNAPSHOT_PROP {
    VSS_ID m_SnapshotId;
    VSS_ID m_SnapshotSetId;
    int32_t m_lSnapshotsCount = 0;
    QString m_pwszSnapshotDeviceObject; // the snapshot's root folder: where its files are read
    QString m_pwszOriginalVolumeName;   // the volume it was taken of ("/dev/sda2")
    QString m_pwszOriginatingMachine;
    QString m_pwszServiceMachine;
    QString m_pwszExposedName;
    QString m_pwszExposedPath;
    VSS_ID m_ProviderId;
    int32_t m_lSnapshotAttributes = 0;
    int64_t m_tsCreationTimestamp = 0;
    VSS_SNAPSHOT_STATE m_eStatus = VSS_SS_UNKNOWN;
};

// An enumerated object (only snapshots are enumerated here).
struct VSS_OBJECT_PROP {
    VSS_OBJECT_TYPE Type = VSS_OBJECT_UNKNOWN;
    VSS_SNAPSHOT_PROP Snap;
};

// A writer component's description (the metadata component's information).
struct VSS_COMPONENTINFO {
    VSS_COMPONENT_TYPE type = VSS_CT_UNDEFINED;
    QString bstrLogicalPath;
    QString bstrComponentName;
    QString bstrCaption;
    bool bRestoreMetadata = false;
    bool bNotifyOnBackupComplete = false;
    bool bSelectable = false;
    bool bSelectableForRestore = false;
    uint32_t dwComponentFlags = 0;
    uint32_t cFileCount = 0;
    uint32_t cDatabases = 0;
    uint32_t cLogFiles = 0;
    uint32_t cDependencies = 0;
};
using PVSSCOMPONENTINFO = std::shared_ptr<const VSS_COMPONENTINFO>;

// ---- Interfaces ----

class IVssAsync {
public:
    virtual ~IVssAsync() = default;
    virtual HRESULT Wait(uint32_t Milliseconds = INFINITE) = 0;
    // The operation's own result: VSS_S_ASYNC_PENDING, VSS_S_ASYNC_FINISHED,
    // VSS_S_ASYNC_CANCELLED or a failure code.
    virtual HRESULT QueryStatus(HRESULT &Result, int32_t *Reserved = nullptr) = 0;
};

class IVssEnumObject {
public:
    virtual ~IVssEnumObject() = default;
    // Up to Count objects into Objects; Fetched their number. S_OK when
    // Count were fetched, S_FALSE when fewer (the end).
    virtual HRESULT Next(uint32_t Count, VSS_OBJECT_PROP *Objects, uint32_t &Fetched) = 0;
};

class IVssWMFiledesc {
public:
    virtual ~IVssWMFiledesc() = default;
    virtual HRESULT GetPath(QString &Path) = 0;
    virtual HRESULT GetFilespec(QString &Filespec) = 0;
    virtual HRESULT GetRecursive(bool &Recursive) = 0;
    virtual HRESULT GetAlternateLocation(QString &AlternateLocation) = 0;
};

class IVssWMComponent {
public:
    virtual ~IVssWMComponent() = default;
    virtual HRESULT GetComponentInfo(PVSSCOMPONENTINFO &Info) = 0;
    virtual HRESULT FreeComponentInfo(const PVSSCOMPONENTINFO &Info) = 0;
    virtual HRESULT GetFile(uint32_t Index, std::shared_ptr<IVssWMFiledesc> &Filedesc) = 0;
    virtual HRESULT GetDatabaseFile(uint32_t Index, std::shared_ptr<IVssWMFiledesc> &Filedesc) = 0;
    virtual HRESULT GetDatabaseLogFile(uint32_t Index, std::shared_ptr<IVssWMFiledesc> &Filedesc) = 0;
};

class IVssExamineWriterMetadata {
public:
    virtual ~IVssExamineWriterMetadata() = default;
    virtual HRESULT GetIdentity(VSS_ID &InstanceId, VSS_ID &WriterId, QString &WriterName, VSS_USAGE_TYPE &Usage,
                                VSS_SOURCE_TYPE &Source) = 0;
    virtual HRESULT GetFileCounts(uint32_t &IncludeFiles, uint32_t &ExcludeFiles, uint32_t &Components) = 0;
    virtual HRESULT GetExcludeFile(uint32_t Index, std::shared_ptr<IVssWMFiledesc> &Filedesc) = 0;
    virtual HRESULT GetComponent(uint32_t Index, std::shared_ptr<IVssWMComponent> &Component) = 0;
    virtual HRESULT GetRestoreMethod(VSS_RESTOREMETHOD_ENUM &Method, QString &Service, QString &UserProcedure,
                                     VSS_WRITERRESTORE_ENUM &WriterRestore, bool &RebootRequired,
                                     uint32_t &Mappings) = 0;
};

class IVssComponent {
public:
    virtual ~IVssComponent() = default;
    virtual HRESULT GetLogicalPath(QString &LogicalPath) = 0;
    virtual HRESULT GetComponentType(VSS_COMPONENT_TYPE &Type) = 0;
    virtual HRESULT GetComponentName(QString &Name) = 0;
};

class IVssWriterComponentsExt {
public:
    virtual ~IVssWriterComponentsExt() = default;
    virtual HRESULT GetComponentCount(uint32_t &Count) = 0;
    virtual HRESULT GetComponent(uint32_t Index, std::shared_ptr<IVssComponent> &Component) = 0;
};

class IVssBackupComponents {
public:
    virtual ~IVssBackupComponents() = default;
    virtual HRESULT GetWriterComponentsCount(uint32_t &Components) = 0;
    // An empty document starts a new one.
    virtual HRESULT InitializeForBackup(const QString &XmlDoc = QString()) = 0;
    virtual HRESULT SetBackupState(bool SelectComponents, bool BackupBootableSystemState, VSS_BACKUP_TYPE BackupType,
                                   bool PartialFileSupport = false) = 0;
    virtual HRESULT InitializeForRestore(const QString &XmlDoc) = 0;
    virtual HRESULT GatherWriterMetadata(std::shared_ptr<IVssAsync> &Async) = 0;
    virtual HRESULT GetWriterMetadataCount(uint32_t &Writers) = 0;
    virtual HRESULT GetWriterMetadata(uint32_t Index, VSS_ID &InstanceId,
                                      std::shared_ptr<IVssExamineWriterMetadata> &Metadata) = 0;
    virtual HRESULT AddComponent(const VSS_ID &InstanceId, const VSS_ID &WriterId, VSS_COMPONENT_TYPE ComponentType,
                                 const QString &LogicalPath, const QString &ComponentName) = 0;
    virtual HRESULT PrepareForBackup(std::shared_ptr<IVssAsync> &Async) = 0;
    virtual HRESULT GatherWriterStatus(std::shared_ptr<IVssAsync> &Async) = 0;
    virtual HRESULT GetWriterStatusCount(uint32_t &Writers) = 0;
    virtual HRESULT GetWriterStatus(uint32_t Index, VSS_ID &InstanceId, VSS_ID &WriterId, QString &WriterName,
                                    VSS_WRITER_STATE &State, HRESULT &Failure) = 0;
    virtual HRESULT SetBackupSucceeded(const VSS_ID &InstanceId, const VSS_ID &WriterId,
                                       VSS_COMPONENT_TYPE ComponentType, const QString &LogicalPath,
                                       const QString &ComponentName, bool Succeeded) = 0;
    virtual HRESULT SaveAsXML(QString &Xml) = 0;
    virtual HRESULT BackupComplete(std::shared_ptr<IVssAsync> &Async) = 0;
    virtual HRESULT SetContext(int32_t Context) = 0;
    virtual HRESULT StartSnapshotSet(VSS_ID &SnapshotSetId) = 0;
    // VolumeName: a device as GetVolumeGuidPath (core/Drives.h) gives it, or
    // a mount point. ProviderId null: the service chooses.
    virtual HRESULT AddToSnapshotSet(const QString &VolumeName, const VSS_ID &ProviderId, VSS_ID &SnapshotId) = 0;
    virtual HRESULT DoSnapshotSet(std::shared_ptr<IVssAsync> &Async) = 0;
    virtual HRESULT DeleteSnapshots(const VSS_ID &SourceObjectId, VSS_OBJECT_TYPE SourceObjectType, bool ForceDelete,
                                    int32_t &DeletedSnapshots, VSS_ID &NondeletedSnapshotId) = 0;
    virtual HRESULT GetSnapshotProperties(const VSS_ID &SnapshotId, VSS_SNAPSHOT_PROP &Prop) = 0;
    virtual HRESULT Query(const VSS_ID &QueriedObjectId, VSS_OBJECT_TYPE QueriedObjectType,
                          VSS_OBJECT_TYPE ReturnedObjectsType, std::shared_ptr<IVssEnumObject> &Enum) = 0;
};

// ---- Functions ----

// True when a snapshot provider can run here (see the top of this file).
bool IsVssApiLoaded();
// Components is reset first; E_UNEXPECTED without a call when the service
// is not available.
HRESULT CreateVssBackupComponents(std::shared_ptr<IVssBackupComponents> &Components);
void VssFreeSnapshotProperties(VSS_SNAPSHOT_PROP &Prop);

// No cluster shared volumes on this system: all false.
bool ClusterIsPathOnSharedVolume(const QString &Path);
bool ClusterGetVolumePathName(const QString &FileName, QString &VolumePathName);
bool ClusterGetVolumeNameForVolumeMountPoint(const QString &MountPoint, QString &VolumeName);

// English text of a result code.
QString VssErrorText(HRESULT ErrorCode);

// A failed service call: the message and the result code.
class EOleSysError : public Exception {
public:
    EOleSysError(const QString &message, HRESULT errorCode) : Exception(message), FErrorCode(errorCode) {}
    HRESULT ErrorCode() const { return FErrorCode; }

private:
    HRESULT FErrorCode;
};

// The snapshot service is not available.
class EVssError : public Exception {
public:
    using Exception::Exception;
};

// Raises EOleSysError with Text + " (" + VssErrorText(ErrorCode) + ")".
[[noreturn]] void RaiseVssError(HRESULT ErrorCode, const QString &Text);

using TOutputString = std::function<void(const QString &)>;

// Nothing for a result that is not negative; otherwise (an empty Text
// counts as "<unknown>") three lines to Log when given, then RaiseVssError.
void CheckComCall(HRESULT Result, const QString &Text, const TOutputString &Log = TOutputString());

} // namespace vl
