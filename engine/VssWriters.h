// The writers taking part in a snapshot and their components, built from
// the writers' metadata, and the selection that decides which components
// are backed up.
//
// The rule: a component stays in the backup only when every volume its
// files lie on is in the snapshot set and none of its descendants was
// excluded; a writer stays only when it has a component that can be
// included; of the kept components only the topmost includable ones are
// added to the backup (their descendants come with them).
//
// Logical component paths use "\" as separator ("\a\b\c"); they name
// components, not files. File paths of descriptors are ordinary paths
// whose environment variables ("%NAME%" or "${NAME}") are expanded.
//
// Names in the exclusion and inclusion lists are matched ignoring case,
// each entry whole: a writer (its name, writer id or instance id in
// registry form) or a component (writer + ":" + the component's FullPath).
#pragma once

#include "engine/VssApi.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace vl {

class TVssFileDescriptor {
public:
    explicit TVssFileDescriptor(TOutputString writeLineToLog = TOutputString());

    void Initialize(IVssWMFiledesc &pFileDesc, VSS_DESCRIPTOR_TYPE typeParam);
    void Print() const;

    QString path;
    QString filespec;
    QString alternatePath;
    bool isRecursive = false;
    TOutputString fWriteLineToLog;
    VSS_DESCRIPTOR_TYPE fdType = VSS_FDT_UNDEFINED;
    QString ExpandedPath;   // path expanded, with a trailing "/"
    QString AffectedVolume; // VolumeNameForPath of ExpandedPath, else ExpandedPath
};

class TVssComponent {
public:
    explicit TVssComponent(TOutputString writeLineToLog = TOutputString());

    // From writer metadata.
    void Initialize(const QString &WriterNameParam, IVssWMComponent &pComponent);
    // From a restore component (no descriptors).
    void Initialize(const QString &WriterNameParam, IVssComponent &pComponent);
    void Print(bool bListDetailedInfo) const;
    static QString GetStringFromComponentType(VSS_COMPONENT_TYPE eComponentType);
    // This FullPath is a proper prefix, by "\"-separated elements and
    // ignoring case, of the other's.
    bool IsAncestorOf(const TVssComponent &descendent) const;
    bool CanBeExplicitlyIncluded() const;

    VSS_COMPONENT_TYPE CompType = VSS_CT_UNDEFINED;
    bool IsSelectable = false;
    bool NotifyOnBackupComplete = false;
    bool IsTopLevel = false;
    bool IsExcluded = false;
    bool IsExplicitlyIncluded = false;
    QString FullPath; // "\" + logical path + "\" + name, or "\" + name
    QString CompName;
    QString LogicalPath;
    QString WriterName;
    QString Caption;
    std::vector<std::unique_ptr<TVssFileDescriptor>> Descriptors;
    QStringList AffectedPaths;   // sorted, no duplicates
    QStringList AffectedVolumes; // sorted, no duplicates
    TOutputString fWriteLineToLog;
};

class TVssWriter {
public:
    explicit TVssWriter(TOutputString writeLineToLog = TOutputString());

    void Initialize(IVssExamineWriterMetadata &Metadata);
    void InitializeComponentsForRestore(IVssWriterComponentsExt &WriterComponents);
    void Print(bool bListDetailedInfo) const;
    static QString GetStringFromRestoreMethod(VSS_RESTOREMETHOD_ENUM eRestoreMethod);
    static QString GetStringFromRestoreConditions(VSS_WRITERRESTORE_ENUM eRestoreEnum);

    bool IsExcluded = false;
    bool supportsRestore = false;
    bool RebootRequiredAfterRestore = false;
    VSS_RESTOREMETHOD_ENUM RestoreMethod = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM WriterRestoreConditions = VSS_WRE_UNDEFINED;
    std::vector<std::unique_ptr<TVssFileDescriptor>> ExcludedFiles;
    std::vector<std::unique_ptr<TVssComponent>> Components;
    QString InstanceId; // registry form, with braces
    QString WriterId;   // registry form, with braces
    QString WriterName;
    TOutputString fWriteLineToLog;
};

using TVssWriterList = std::vector<std::unique_ptr<TVssWriter>>;

// ---- Selection (each step on the writers in order, components in order) ----

// Step 1: writers and components named in the exclusion list (may be
// null); then every writer left without an included component.
void DiscoverDirectlyExcludedComponents(TVssWriterList &Writers, const QStringList *ExcludedWriterAndComponentList,
                                        const TOutputString &Log);
// Step 2: components with a file set on a volume outside the snapshot set.
void DiscoverComponentsOutsideShadowSet(TVssWriterList &Writers, const QStringList &ShadowSourceVolumes,
                                        const TOutputString &Log);
// Step 3: ancestors of excluded components.
void DiscoverAllExcludedComponents(TVssWriterList &Writers, const TOutputString &Log);
// Step 4: writers with nothing includable, or with an excluded top-level
// non-selectable component.
void DiscoverExcludedWriters(TVssWriterList &Writers, const TOutputString &Log);
// Step 5: the topmost includable components.
void DiscoverExplicitlyIncludedComponents(TVssWriterList &Writers);
// Step 6 (per inclusion entry): EOleSysError E_INVALIDARG when the entry
// names nothing, or something not in the backup.
void VerifyExplicitlyIncludedComponent(const TVssWriterList &Writers, const QString &Entry, bool DuringRestore,
                                       const TOutputString &Log);
void VerifyExplicitlyIncludedWriter(const TVssWriterList &Writers, const QString &Entry, const TOutputString &Log);
// Step 7: AddComponent of every explicitly included component; failures
// through CheckComCall.
void SelectExplicitelyIncludedComponents(const TVssWriterList &Writers, IVssBackupComponents &Components,
                                         const TOutputString &Log);

// All steps in order. ShowStatus(index) is called before the steps with
// the client's status entries 5 to 10 (may be empty); the line
// "Verifying explicitly specified writers/components ..." goes to Log
// before the inclusion entries are verified.
void SelectComponentsForBackup(TVssWriterList &Writers, const QStringList &ShadowSourceVolumes,
                               const QStringList *ExcludedWriterAndComponentList,
                               const QStringList *IncludedWriterAndComponentList, bool DuringRestore,
                               IVssBackupComponents &Components, const TOutputString &Log,
                               const std::function<void(int)> &ShowStatus = {});

// "Listing writer metadata ..." and every writer's Print, when Log is set.
void ListWriterMetadata(const TVssWriterList &Writers, bool bListDetailedInfo, const TOutputString &Log);

// ---- Volumes ----

// The volume of the mount holding Path: its device, as GetVolumeGuidPath
// gives it, or the mount point itself when the device's shortest mount
// shows another folder of the file system (btrfs subvolumes, bind mounts),
// since a snapshot of the device stands for that shortest mount. False for
// an empty path or when no mount holds it.
bool VolumeNameForPath(const QString &Path, QString &VolumeName);
// Whether Other (a volume name, or a mount point) names the volume
// VolumeName, as VolumeNameForPath names it.
bool SameVolume(const QString &VolumeName, const QString &Other);
// The shortest mount point of the volume (the first of equal length);
// false when it is not mounted. A volume name that is itself a mount point
// gives that mount point.
bool ShortestMountPath(const QString &VolumeName, QString &Path);

// Environment variables ("%NAME%", "${NAME}") of Path expanded; unknown
// names are left as they stand.
QString ExpandEnvironmentStrings(const QString &Path);

} // namespace vl
