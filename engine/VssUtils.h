// The snapshot client of a backup run: TVolumeShadowCopy creates one
// snapshot set of the volumes it is given through the snapshot service
// (engine/VssApi.h, engine/SnapshotService.h), with the writers taking part,
// and reports the end of the backup to them; TVssThread runs the creation
// on a worker thread for one backup run and one source.
//
// Every step writes English lines to an optional protocol log (the VSS log,
// UTF-8, each line flushed at once) and hands its translated status line to
// OnStatusMessage. A failed service call raises EOleSysError through
// CheckComCall, after three lines in the log.
//
// Volumes are named as VolumeNameForPath (engine/VssWriters.h) names them:
// the device of a mount ("/dev/sda2"), or the mount point where the
// device's shortest mount shows another folder (btrfs subvolumes, bind
// mounts); a mount point is accepted for any volume.
//
// Where a source is read from: a snapshot's device name is the root folder
// that stands for the mount point of the volume it was taken of. A source
// path P on the mount point M is read from ShadowDeviceName + the part of P
// below M ("/home/ann/doc" on the mount "/home" with the snapshot root
// "/home/.velkor-snapshots/{id}" is "/home/.velkor-snapshots/{id}/ann/doc");
// TVssThread::ShadowPath does this.
//
// Log lines that hold "\r\n" are written with "\n" line ends, as every
// other line of the file.
#pragma once

#include "core/Exceptions.h"
#include "engine/VssApi.h"
#include "engine/VssWriters.h"
#include "platform/Thread.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vl {

using TGuidList = std::vector<TGUID>;

// A broken assumption of the program (e.g. a second snapshot set on one
// client object).
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// An operating-system call failed; the message is the system's text.
class EOSError : public Exception {
public:
    EOSError(const QString &message, uint32_t errorCode) : Exception(message), FErrorCode(errorCode) {}
    uint32_t ErrorCode() const { return FErrorCode; }

private:
    uint32_t FErrorCode;
};

// The snapshot context bits that change the sequence.
inline constexpr uint32_t kVssContextNoWriters = 0x10;
inline constexpr uint32_t kVssContextTransportable = 0x20;
inline constexpr uint32_t kVssContextFastSnapshot = 0x01000000;

// Status entries (index into the status table).
enum : int {
    vssNotInitialized = 0,
    vssInitializing = 1,
    vssInitWriterMetadata = 2,
    vssGatherWriterMetadata = 3,
    vssGatherWriterStatus = 4,
    vssSelectStep1 = 5,
    vssSelectExplicitlyIncluded = 10,
    vssSaveDocument = 11,
    vssAddVolumes = 12,
    vssPrepareForBackup = 13,
    vssCreating = 14,
    vssCreated = 15,
    vssQueryAll = 16,
    vssQuerySet = 17,
    vssCreatingSet = 18,
    vssCompleting = 19,
    vssStatusCount = 20,
};
// Flags of ShowStatus: a line break before / after the log line.
enum : uint8_t { ssBreakBefore = 1, ssBreakAfter = 2 };

// English text of a status entry for the log, and its translation for the
// status callback.
QString VssStatusLogText(int Index);
QString VssStatusText(int Index);

// "Writer state : ..." for the writer states 1 to 14, else
// "Unknown constant: <n>".
QString WriterStateText(int32_t State);

class TVolumeShadowCopy {
public:
    // Log file: TempDirectory() + "VssUtils.log", logging off.
    TVolumeShadowCopy();
    // Closes the log and releases the backup components: a snapshot of the
    // backup context 0 ends with them.
    ~TVolumeShadowCopy();
    TVolumeShadowCopy(const TVolumeShadowCopy &) = delete;
    TVolumeShadowCopy &operator=(const TVolumeShadowCopy &) = delete;

    // EVssError when no snapshot provider can run here.
    void Initialize(uint32_t AContext, const QString &AXmlDoc, bool ADuringRestore);
    void GatherWriterMetadata();
    void InitializeWriterMetadata();
    void GatherWriterStatus();
    void ListWriterMetadata(bool bListDetailedInfo);
    void ListWriterStatus();
    void SelectComponentsForBackup(const QStringList &ShadowSourceVolumes,
                                   const QStringList *ExcludedWriterAndComponentList,
                                   const QStringList *IncludedWriterAndComponentList);
    // One set per object: a second call fails in AddToSnapshotSet with
    // EAssertionFailed. The exclusion and inclusion lists may be null.
    void CreateSnapshotSet(const QStringList &AVolumeList, const QStringList *AExcludedWriterList,
                           const QStringList *AIncludedWriterList, const QString &AOutXmlFile);
    void CreateSnapshotSet(const QString &AVolume);
    void BackupComplete(bool succeeded);
    // The root folder of the first snapshot of the set; empty for the
    // transportable context or before a set was made.
    QString GetLastShadowDeviceName();
    // The service's document as UTF-16LE code units, no byte-order mark.
    void SaveBackupComponentsDocument(const QString &AFileName);

    // The null identifier lists every snapshot.
    void QuerySnapshotSet(const TGUID &SnapshotSetID);
    void GetSnapshotProperties(const TGUID &SnapshotSetID);
    void DeleteAllSnapshots();
    void DeleteSnapshotSet(const TGUID &snapshotSetID);
    // The snapshot with the earliest creation time of the volume (a volume
    // name, or a path on the volume).
    void DeleteOldestSnapshot(const QString &stringVolumeName);
    void DeleteSnapshot(const TGUID &snapshotID);
    // Runs Command (quoted as one word) with Param (shell text) and waits;
    // EOSError when it cannot be started, the base Exception
    // "Catastrophic failure" when its exit code is not 0.
    void ExecuteCommand(const QString &Command, const QString &Param);

    // One line, flushed at once; nothing when not logging. Safe from the
    // owner while the worker writes: lines never mix.
    void WriteLineToLog(const QString &s);

    QString LogFileName() const;
    void SetLogFileName(const QString &Value);
    bool WriteLog() const;
    // True opens the log (a failed open leaves logging off, silently);
    // false closes it.
    void SetWriteLog(bool Value);
    void SetOnStatusMessage(TOutputString Value) { fShowStatus = std::move(Value); }
    const TOutputString &OnStatusMessage() const { return fShowStatus; }

    // State, for the owner and tests.
    const TVssWriterList &WriterList() const { return FWriterList; }
    const TGuidList &LatestSnapshotIdList() const { return FLatestSnapshotIdList; }
    const TGUID &LatestSnapshotSetID() const { return FLatestSnapshotSetID; }
    uint32_t VssContext() const { return FVssContext; }

private:
    void CheckResult(HRESULT Result, const QString &Text);
    void ShowStatus(int Index, uint8_t Flags = 0);
    void ShowStatusFmt(int Index, const QString &Arg, uint8_t Flags = 0);
    void WaitAndCheckForAsyncOperation(IVssAsync *Async);
    // Starts an asynchronous operation of the components, then waits for it
    // and checks its result.
    void RunAsyncOperation(HRESULT (IVssBackupComponents::*Start)(std::shared_ptr<IVssAsync> &), const QString &Text);
    void CheckSelectedWriterStatus();
    bool IsWriterSelected(const TGUID &InstanceId) const;
    void AddToSnapshotSet(const QStringList &AVolumeList);
    void PrepareForBackup();
    void DoSnapshotSet();
    void SetBackupSucceeded(bool succeeded);
    void PrintSnapshotProperties(const VSS_SNAPSHOT_PROP &Prop);
    void DeleteOneSnapshot(const VSS_SNAPSHOT_PROP &Prop, const QString &FailureText);
    void CheckDeletion(HRESULT Result, const TGUID &Nondeleted, const QString &Text);
    IVssBackupComponents &Components();
    bool IsLogging() const;
    bool OpenLogFile();
    void CloseLogFile();

    bool FCoInitializeCalled = false;
    bool FDuringRestore = false;
    QStringList FLatestVolumeList; // the volumes of the last AddToSnapshotSet
    TGuidList FLatestSnapshotIdList;
    TGUID FLatestSnapshotSetID;
    std::shared_ptr<IVssBackupComponents> FVssBackupComponents;
    TOutputString fShowStatus;
    QString fLogFileName;
    mutable std::mutex FLogLock; // the file and fWriteLog, shared by owner and worker
    int FLogFile = -1;
    bool fWriteLog = false;
    TVssWriterList FWriterList;
    uint32_t FVssContext = 0;
};

// Runs the snapshot creation for one source on a worker thread. Owned
// through std::shared_ptr (TThread); read Success and ShadowDeviceName
// after Done().
class TVssThread : public TThread {
public:
    // ADrive: a source folder; the snapshot is of the volume (mount)
    // holding it.
    explicit TVssThread(const QString &ADrive);
    ~TVssThread() override;

    void SaveBackupComponentsDocument(const QString &AFileName);
    void WriteLineToLog(const QString &s);
    // Ends the backup: the writers are always told it succeeded.
    void DeleteShadowCopy();

    QString LogFileName() const { return FVolumeShadowCopy->LogFileName(); }
    void SetLogFileName(const QString &Value) { FVolumeShadowCopy->SetLogFileName(Value); }
    bool WriteLog() const { return FVolumeShadowCopy->WriteLog(); }
    void SetWriteLog(bool Value) { FVolumeShadowCopy->SetWriteLog(Value); }
    void SetOnStatusMessage(TOutputString Value) { FVolumeShadowCopy->SetOnStatusMessage(std::move(Value)); }
    bool Success() const { return FSuccess; }
    QString ShadowDeviceName() const { return FShadowDeviceName; }
    // The mount point of the source's volume, once Execute found it.
    QString MountPoint() const { return FMountPoint; }
    // Where Path is read from the snapshot: true with its place in the
    // snapshot when Path lies on the snapshotted mount itself. False, with
    // Shadowed = Path, when there is no snapshot or Path lies on another
    // mount - also one mounted below MountPoint (a separate /home below a
    // snapshot of "/"), which the snapshot shows as an empty folder. The
    // caller reads such a path live and says so in its log, or refuses it.
    bool ShadowPath(const QString &Path, QString &Shadowed) const;

    TVolumeShadowCopy &VolumeShadowCopy() { return *FVolumeShadowCopy; }

protected:
    void Execute() override;

private:
    std::unique_ptr<TVolumeShadowCopy> FVolumeShadowCopy;
    QString FDrive;
    QString FShadowDeviceName;
    QString FMountPoint;
    bool FSuccess = false;
};

// The volume name the snapshot of Path is asked for (VolumeNameForPath):
// the device of the mount holding Path, or that mount point itself when
// the device's shortest mount shows another folder (btrfs subvolumes, bind
// mounts), so the snapshot stands for this mount. MountPoint: the mount
// holding Path. Empty when no mount holds Path.
QString VolumeNameOfDrive(const QString &Path, QString &MountPoint);

// Accepts a COM security result: non-negative ones, and RPC_E_TOO_LATE
// when AllowLateSecurity; raises EOleSysError for any other.
void CheckComSecurityResult(HRESULT Result, bool AllowLateSecurity);

// A suspended thread for ADrive; the caller sets its properties and
// starts it.
std::shared_ptr<TVssThread> CreateVssThread(const QString &ADrive, bool AllowLateSecurity);

} // namespace vl
