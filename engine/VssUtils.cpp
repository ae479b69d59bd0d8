#include "engine/VssUtils.h"

#include "core/Drives.h"
#include "core/FileTimes.h"
#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/Translate.h"
#include "engine/WinExecute.h"
#include "platform/SysErrors.h"
#include "platform/System.h"
#include "platform/Terminal.h"
#include "platform/Volumes.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vl {

namespace {

struct TStatusEntry {
    const char *Log;
    const char *Status; // marked for translation
};

// The status table: the log gets the English text, the callback the
// translation of the second text.
const TStatusEntry kStatus[vssStatusCount] = {
    {"Volume Shadow Copy could not be initialized on this system!",
     VL_TR_NOOP("Volume Shadow Copy could not be initialized on this system!")},
    {"Initializing IVssBackupComponents Interface ...", VL_TR_NOOP("Initializing IVssBackupComponents Interface ...")},
    {"Initialize writer metadata ...", VL_TR_NOOP("Initialize writer metadata ...")},
    {"Gathering writer metadata ...", VL_TR_NOOP("Gathering writer metadata ...")},
    {"Gathering writer status ...", VL_TR_NOOP("Gathering writer status ...")},
    {"Discover directly excluded components ...", VL_TR_NOOP("Discover directly excluded components ...")},
    {"Discover components that reside outside the shadow set ...",
     VL_TR_NOOP("Discover components that reside outside the shadow set ...")},
    {"Discover all excluded components ...", VL_TR_NOOP("Discover all excluded components ...")},
    {"Discover excluded writes ...", VL_TR_NOOP("Discover excluded writers ...")},
    {"Discover explicitly included components ...", VL_TR_NOOP("Discover explicitly included components ...")},
    {"Select explicitly included components ...", VL_TR_NOOP("Select explicitly included components ...")},
    {"Saving the backup components document ...", VL_TR_NOOP("Saving the backup components document ...")},
    {"Add volumes to snapshot set ...", VL_TR_NOOP("Add volumes to snapshot set ...")},
    {"Preparing for backup ...", VL_TR_NOOP("Preparing for backup ...")},
    {"Creating the shadow copy ...", VL_TR_NOOP("Creating the shadow copy ...")},
    {"Shadow copy set successfully created", VL_TR_NOOP("Shadow copy set successfully created")},
    {"Querying all shadow copies in the system ...", VL_TR_NOOP("Querying all shadow copies in the system ...")},
    {"Querying all shadow copies with the SnapshotSetID %s ...",
     VL_TR_NOOP("Querying all shadow copies with the SnapshotSetID %s ...")},
    {"Creating shadow set {%s} ...", VL_TR_NOOP("Creating shadow set {%s} ...")},
    {"Completing the backup ...", VL_TR_NOOP("Completing the backup ...")},
};

const QString kCrLf = QStringLiteral("\r\n");

QString Str(const char *s)
{
    return QString::fromUtf8(s);
}

// COM has no counterpart here: the service is a library in this process,
// so the per-thread initialisation always succeeds and its undo is empty.
HRESULT CoInitialize()
{
    return S_OK;
}
void CoUninitialize() {}

// Likewise the process-wide security set-up.
HRESULT InitializeComSecurity()
{
    return S_OK;
}

QString SnapshotTimeText(int64_t FileTime)
{
    const TFormatSettings &fs = FormatSettings();
    return FormatDateTime(fs.ShortDateFormat + QLatin1Char(' ') + fs.LongTimeFormat,
                          FileTimeToLocalDateTime(static_cast<TFileTime>(FileTime)));
}

[[noreturn]] void RaiseWin32Error(uint32_t Code, const QString &Text, const TOutputString &Log)
{
    if (Log) {
        Log(GuardedFormat(QStringLiteral("\r\nERROR : Win32 call \"%s\" failed."), Text));
        Log(GuardedFormat(QStringLiteral(" - GetLastError = %d"), Code));
        Log(GuardedFormat(QStringLiteral(" - Error text: %s"), SystemErrorMessage(Code)));
    }
    throw EOSError(SystemErrorMessage(Code), Code);
}

} // namespace

QString VssStatusLogText(int Index)
{
    return Index >= 0 && Index < vssStatusCount ? Str(kStatus[Index].Log) : QString();
}

QString VssStatusText(int Index)
{
    return Index >= 0 && Index < vssStatusCount ? Tr(kStatus[Index].Status) : QString();
}

QString WriterStateText(int32_t State)
{
    static const char *const texts[] = {
        "Writer state : stable",
        "Writer state : waiting for freeze",
        "Writer state : waiting for thaw",
        "Writer state : waiting for post snapshot",
        "Writer state : waiting for backup complete",
        "Writer state : failed at identy",
        "Writer state : failed at prepare backup",
        "Writer state : failed at prepare snapshot",
        "Writer state : failed at freeze",
        "Writer state : failed at thaw",
        "Writer state : failed at post snapshot",
        "Writer state : failed at backup complete",
        "Writer state : failed at restore",
        "Writer state : failed at post restore",
    };
    if (State >= 1 && State <= 14)
        return Str(texts[State - 1]);
    return GuardedFormat(QStringLiteral("Unknown constant: %d"), State);
}

// ---- TVolumeShadowCopy ----

TVolumeShadowCopy::TVolumeShadowCopy() : fLogFileName(TempDirectory() + QStringLiteral("VssUtils.log")) {}

TVolumeShadowCopy::~TVolumeShadowCopy()
{
    CloseLogFile();
    FWriterList.clear();
    FVssBackupComponents.reset();
    if (FCoInitializeCalled)
        CoUninitialize();
}

void TVolumeShadowCopy::CheckResult(HRESULT Result, const QString &Text)
{
    CheckComCall(Result, Text, [this](const QString &s) { WriteLineToLog(s); });
}

IVssBackupComponents &TVolumeShadowCopy::Components()
{
    if (!FVssBackupComponents)
        throw EVssError(Tr(kStatus[vssNotInitialized].Status));
    return *FVssBackupComponents;
}

void TVolumeShadowCopy::ShowStatus(int Index, uint8_t Flags)
{
    ShowStatusFmt(Index, QString(), Flags);
}

void TVolumeShadowCopy::ShowStatusFmt(int Index, const QString &Arg, uint8_t Flags)
{
    QString status = VssStatusText(Index);
    QString log = VssStatusLogText(Index);
    if (!Arg.isNull()) {
        status = GuardedFormat(status, Arg);
        log = GuardedFormat(log, Arg);
    }
    if (fShowStatus)
        fShowStatus(status);
    if (IsLogging()) {
        if (Flags & ssBreakBefore)
            log.prepend(kCrLf);
        if (Flags & ssBreakAfter)
            log.append(kCrLf);
        WriteLineToLog(log);
    }
}

void TVolumeShadowCopy::Initialize(uint32_t AContext, const QString &AXmlDoc, bool ADuringRestore)
{
    WriteLineToLog(QString());
    if (!IsVssApiLoaded())
        throw EVssError(Tr(kStatus[vssNotInitialized].Status));
    ShowStatus(vssInitializing);
    CheckResult(CoInitialize(), QStringLiteral("TVolumeShadowCopy.Initialize:CoInitialize"));
    FCoInitializeCalled = true;
    CheckResult(CreateVssBackupComponents(FVssBackupComponents),
                QStringLiteral("TVolumeShadowCopy.Initialize:CreateVssBackupComponents"));
    FDuringRestore = ADuringRestore;
    if (FDuringRestore)
        CheckResult(Components().InitializeForRestore(AXmlDoc),
                    QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.InitializeForRestore"));
    else
        CheckResult(Components().InitializeForBackup(AXmlDoc),
                    QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.InitializeForBackup"));
    FVssContext = AContext;
    if (FVssContext != 0)
        CheckResult(Components().SetContext(static_cast<int32_t>(AContext)),
                    QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.SetContext"));
    CheckResult(Components().SetBackupState(true, false, VSS_BT_COPY, false),
                QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.SetBackupState"));
}

void TVolumeShadowCopy::WaitAndCheckForAsyncOperation(IVssAsync *Async)
{
    WriteLineToLog(QStringLiteral("  => Waiting for the asynchronous operation to finish ..."));
    if (!Async)
        CheckResult(E_UNEXPECTED, QStringLiteral("TVolumeShadowCopy.WaitAndCheckForAsyncOperation:Async.Wait"));
    CheckResult(Async->Wait(INFINITE), QStringLiteral("TVolumeShadowCopy.WaitAndCheckForAsyncOperation:Async.Wait"));
    HRESULT returned = S_OK;
    CheckResult(Async->QueryStatus(returned, nullptr),
                QStringLiteral("TVolumeShadowCopy.WaitAndCheckForAsyncOperation:Async.QueryStatus"));
    CheckResult(returned, QStringLiteral("TVolumeShadowCopy.WaitAndCheckForAsyncOperation:Async.QueryStatus:hrReturned"));
}

void TVolumeShadowCopy::RunAsyncOperation(HRESULT (IVssBackupComponents::*Start)(std::shared_ptr<IVssAsync> &),
                                          const QString &Text)
{
    std::shared_ptr<IVssAsync> async;
    CheckResult((Components().*Start)(async), Text);
    WaitAndCheckForAsyncOperation(async.get());
}

void TVolumeShadowCopy::GatherWriterMetadata()
{
    ShowStatus(vssGatherWriterMetadata);
    RunAsyncOperation(&IVssBackupComponents::GatherWriterMetadata,
                      QStringLiteral("TVolumeShadowCopy.GatherWriterMetadata:VssBackupComponents.GatherWriterMetadata"));
    InitializeWriterMetadata();
}

void TVolumeShadowCopy::InitializeWriterMetadata()
{
    ShowStatus(vssInitWriterMetadata);
    uint32_t count = 0;
    CheckResult(Components().GetWriterMetadataCount(count),
                QStringLiteral("TVolumeShadowCopy.InitializeWriterMetadata:VssBackupComponents.GetWriterMetadataCount"));
    for (uint32_t i = 0; i < count; ++i) {
        VSS_ID instance;
        std::shared_ptr<IVssExamineWriterMetadata> metadata;
        CheckResult(Components().GetWriterMetadata(i, instance, metadata),
                    QStringLiteral("TVolumeShadowCopy.InitializeWriterMetadata:VssBackupComponents.GetWriterMetadata"));
        if (!metadata)
            CheckResult(E_UNEXPECTED,
                        QStringLiteral("TVolumeShadowCopy.InitializeWriterMetadata:VssBackupComponents.GetWriterMetadata"));
        auto writer = std::make_unique<TVssWriter>([this](const QString &s) { WriteLineToLog(s); });
        // Appended before it is initialised, so a writer that fails half-way
        // is still freed with the list.
        TVssWriter &w = *writer;
        FWriterList.push_back(std::move(writer));
        w.Initialize(*metadata);
    }
}

void TVolumeShadowCopy::GatherWriterStatus()
{
    ShowStatus(vssGatherWriterStatus);
    RunAsyncOperation(&IVssBackupComponents::GatherWriterStatus,
                      QStringLiteral("TVolumeShadowCopy.GatherWriterStatus:ssBackupComponents.GatherWriterStatus"));
}

void TVolumeShadowCopy::ListWriterMetadata(bool bListDetailedInfo)
{
    vl::ListWriterMetadata(FWriterList, bListDetailedInfo, [this](const QString &s) { WriteLineToLog(s); });
}

bool TVolumeShadowCopy::IsWriterSelected(const TGUID &InstanceId) const
{
    const QString id = GuidToString(InstanceId);
    for (const auto &w : FWriterList)
        if (w->InstanceId.compare(id, Qt::CaseInsensitive) == 0 && !w->IsExcluded)
            return true;
    return false;
}

void TVolumeShadowCopy::CheckSelectedWriterStatus()
{
    if (FVssContext & kVssContextNoWriters)
        return;
    GatherWriterStatus();
    uint32_t count = 0;
    CheckResult(Components().GetWriterStatusCount(count),
                QStringLiteral("TVolumeShadowCopy.CheckSelectedWriterStatus:VssBackupComponents.GetWriterStatusCount"));
    for (uint32_t i = 0; i < count; ++i) {
        VSS_ID instance, writer;
        QString name;
        VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
        HRESULT failure = S_OK;
        CheckResult(Components().GetWriterStatus(i, instance, writer, name, state, failure),
                    QStringLiteral("TVolumeShadowCopy.CheckSelectedWriterStatus:VssBackupComponents.GetWriterStatus"));
        if (IsWriterSelected(instance) && state >= VSS_WS_FAILED_AT_IDENTIFY && state <= VSS_WS_FAILED_AT_POST_RESTORE) {
            WriteLineToLog(GuardedFormat(QStringLiteral("ERROR : Selected writer \"%s\" is in failed state!\r\nStatus: "
                                                        "%d (%s)\r\nWriter Failure code : $%.8x\r\nWriter ID : "
                                                        "{%s}\r\nInstance ID : {%s}"),
                                         name, int32_t(state), WriterStateText(state), uint32_t(failure),
                                         GuidToString(writer), GuidToString(instance)));
            // The state names the failure; an empty message would leave the
            // thread's "ERROR : " line blank.
            throw EOleSysError(WriterStateText(state), state);
        }
    }
}

void TVolumeShadowCopy::SelectComponentsForBackup(const QStringList &ShadowSourceVolumes,
                                                  const QStringList *ExcludedWriterAndComponentList,
                                                  const QStringList *IncludedWriterAndComponentList)
{
    vl::SelectComponentsForBackup(FWriterList, ShadowSourceVolumes, ExcludedWriterAndComponentList,
                                  IncludedWriterAndComponentList, FDuringRestore, Components(),
                                  [this](const QString &s) { WriteLineToLog(s); },
                                  [this](int index) { ShowStatus(index); });
}

void TVolumeShadowCopy::CreateSnapshotSet(const QStringList &AVolumeList, const QStringList *AExcludedWriterList,
                                          const QStringList *AIncludedWriterList, const QString &AOutXmlFile)
{
    const bool writers = !(FVssContext & kVssContextNoWriters);
    if (writers) {
        GatherWriterMetadata();
        SelectComponentsForBackup(AVolumeList, AExcludedWriterList, AIncludedWriterList);
    }
    CheckResult(Components().StartSnapshotSet(FLatestSnapshotSetID),
                QStringLiteral("TVolumeShadowCopy.CreateSnapshotSet:VssBackupComponents.StartSnapshotSet"));
    ShowStatusFmt(vssCreatingSet, GuidToString(FLatestSnapshotSetID));
    AddToSnapshotSet(AVolumeList);
    if (writers)
        PrepareForBackup();
    DoSnapshotSet();
    if (FVssContext & kVssContextFastSnapshot) {
        WriteLineToLog(QStringLiteral("\r\nFast snapshot created. Exiting... \r\n"));
        return;
    }
    if (!AOutXmlFile.isEmpty())
        SaveBackupComponentsDocument(AOutXmlFile);
    if (!(FVssContext & kVssContextTransportable)) {
        WriteLineToLog(QStringLiteral("\r\nList of created shadow copies:"));
        QuerySnapshotSet(FLatestSnapshotSetID);
    }
}

void TVolumeShadowCopy::CreateSnapshotSet(const QString &AVolume)
{
    const QStringList volumes{AVolume};
    CreateSnapshotSet(volumes, nullptr, nullptr, QString());
}

void TVolumeShadowCopy::AddToSnapshotSet(const QStringList &AVolumeList)
{
    ShowStatus(vssAddVolumes);
    FLatestVolumeList = AVolumeList;
    if (!FLatestSnapshotIdList.empty())
        throw EAssertionFailed(QStringLiteral("ASSERTION FAILED : No empty list of latest snapshots"));
    for (const QString &volume : AVolumeList) {
        QString display;
        if (!ShortestMountPath(volume, display))
            display = QStringLiteral("??");
        WriteLineToLog(GuardedFormat(QStringLiteral("- Adding volume %s [%s] to the shadow set..."), volume, display));
        VSS_ID snapshot;
        CheckResult(Components().AddToSnapshotSet(volume, GUID_NULL, snapshot),
                    QStringLiteral("TVolumeShadowCopy.AddToSnapshotSet:VssBackupComponents.AddToSnapshotSet"));
        FLatestSnapshotIdList.push_back(snapshot);
    }
}

void TVolumeShadowCopy::PrepareForBackup()
{
    ShowStatus(vssPrepareForBackup);
    RunAsyncOperation(&IVssBackupComponents::PrepareForBackup,
                      QStringLiteral("TVolumeShadowCopy.PrepareForBackup:VssBackupComponents.PrepareForBackup"));
    CheckSelectedWriterStatus();
}

void TVolumeShadowCopy::DoSnapshotSet()
{
    ShowStatus(vssCreating);
    RunAsyncOperation(&IVssBackupComponents::DoSnapshotSet,
                      QStringLiteral("TVolumeShadowCopy.DoSnapshotSet:VssBackupComponents.DoSnapshotSet"));
    if (FVssContext & kVssContextFastSnapshot) {
        WriteLineToLog(QStringLiteral("\r\nFast DoSnapshotSet finished.\r\n"));
        return;
    }
    CheckSelectedWriterStatus();
    ShowStatus(vssCreated);
    WriteLineToLog(QString());
}

QString TVolumeShadowCopy::GetLastShadowDeviceName()
{
    QString result;
    if (FVssContext & kVssContextTransportable)
        return result;
    if (!FLatestSnapshotIdList.empty()) {
        VSS_SNAPSHOT_PROP prop;
        CheckResult(Components().GetSnapshotProperties(FLatestSnapshotIdList.front(), prop),
                    QStringLiteral("TVolumeShadowCopy.GetLastShadowDeviceName:VssBackupComponents.GetSnapshotProperties"));
        result = prop.m_pwszSnapshotDeviceObject;
        VssFreeSnapshotProperties(prop);
    }
    return result;
}

void TVolumeShadowCopy::SaveBackupComponentsDocument(const QString &AFileName)
{
    ShowStatus(vssSaveDocument);
    QString xml;
    CheckResult(Components().SaveAsXML(xml),
                QStringLiteral("TVolumeShadowCopy.SaveBackupComponentsDocument:VssBackupComponents.SaveAsXML"));
    QByteArray data;
    data.reserve(xml.size() * 2);
    for (QChar c : std::as_const(xml)) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    QFile file(AFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EFCreateError(Tr("Cannot create file \"%1\". %2").arg(AFileName, file.errorString()));
    if (file.write(data) != data.size() || !file.flush())
        throw EWriteError(Tr("Could not write to file \"%1\". %2").arg(AFileName, file.errorString()));
}

void TVolumeShadowCopy::SetBackupSucceeded(bool succeeded)
{
    for (const auto &w : FWriterList) {
        for (const auto &c : w->Components) {
            if (!c->IsExplicitlyIncluded)
                continue;
            VSS_ID instance, writer;
            StringToGuid(w->InstanceId, instance);
            StringToGuid(w->WriterId, writer);
            CheckResult(Components().SetBackupSucceeded(instance, writer, c->CompType, c->LogicalPath, c->CompName,
                                                        succeeded),
                        QStringLiteral("TVolumeShadowCopy.SetBackupSucceeded:VssBackupComponents.SetBackupSucceeded"));
        }
    }
}

void TVolumeShadowCopy::BackupComplete(bool succeeded)
{
    uint32_t count = 0;
    CheckResult(Components().GetWriterComponentsCount(count),
                QStringLiteral("TVolumeShadowCopy.BackupComplete:VssBackupComponents.GetWriterComponentsCount"));
    if (count == 0) {
        WriteLineToLog(QStringLiteral("- There were no writer components in this backup"));
        return;
    }
    WriteLineToLog(succeeded ? QStringLiteral("- Mark all writers as successfully backed up ... ")
                             : QStringLiteral("- Backup failed. Mark all writers as not successfully backed up ... "));
    SetBackupSucceeded(succeeded);
    ShowStatus(vssCompleting, ssBreakBefore);
    RunAsyncOperation(&IVssBackupComponents::BackupComplete,
                      QStringLiteral("TVolumeShadowCopy.BackupComplete:VssBackupComponents.BackupComplete"));
    CheckSelectedWriterStatus();
}

// ---- Listing, deletion, commands ----

void TVolumeShadowCopy::QuerySnapshotSet(const TGUID &SnapshotSetID)
{
    const bool all = SnapshotSetID.isNull();
    if (all)
        ShowStatus(vssQueryAll, ssBreakAfter);
    else
        ShowStatusFmt(vssQuerySet, GuidToString(SnapshotSetID), ssBreakAfter);
    std::shared_ptr<IVssEnumObject> objects;
    const HRESULT hr = Components().Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, objects);
    CheckResult(hr, QStringLiteral("TVolumeShadowCopy.QuerySnapshotSet:VssBackupComponents.Query"));
    if (hr == S_FALSE && all) {
        WriteLineToLog(QStringLiteral("\r\nThere are no shadow copies in the system\r\n"));
        return;
    }
    if (!objects)
        return;
    for (;;) {
        VSS_OBJECT_PROP prop;
        uint32_t fetched = 0;
        CheckResult(objects->Next(1, &prop, fetched), QStringLiteral("TVolumeShadowCopy.QuerySnapshotSet:pIEnumSnapshots.Next"));
        if (fetched == 0)
            break;
        if (all || prop.Snap.m_SnapshotSetId == SnapshotSetID)
            PrintSnapshotProperties(prop.Snap);
        VssFreeSnapshotProperties(prop.Snap);
    }
}

void TVolumeShadowCopy::GetSnapshotProperties(const TGUID &SnapshotSetID)
{
    WriteLineToLog(GuardedFormat(QStringLiteral("- Properties of shadow copy \"%s\" ..."), GuidToString(SnapshotSetID)));
    VSS_SNAPSHOT_PROP prop;
    const HRESULT hr = Components().GetSnapshotProperties(SnapshotSetID, prop);
    if (Failed(hr)) {
        WriteLineToLog(QStringLiteral("Error while retrieving properties of shadow copy ..."));
        CheckResult(hr, QStringLiteral("TVolumeShadowCopy.etSnapshotProperties:VssBackupComponents.GetSnapshotProperties"));
    }
    PrintSnapshotProperties(prop);
    VssFreeSnapshotProperties(prop);
}

void TVolumeShadowCopy::PrintSnapshotProperties(const VSS_SNAPSHOT_PROP &Prop)
{
    if (!IsLogging())
        return;
    const uint32_t attr = static_cast<uint32_t>(Prop.m_lSnapshotAttributes);
    QString display;
    if (!ShortestMountPath(Prop.m_pwszOriginalVolumeName, display))
        display = QStringLiteral("?");
    WriteLineToLog(GuardedFormat(QStringLiteral("* SNAPSHOT ID = %s ..."), GuidToString(Prop.m_SnapshotId)));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Shadow copy Set: %s"), GuidToString(Prop.m_SnapshotSetId)));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Original count of shadow copies = %d"), Prop.m_lSnapshotsCount));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Original Volume name: %s [%s]"), Prop.m_pwszOriginalVolumeName, display));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Creation Time: %s"), SnapshotTimeText(Prop.m_tsCreationTimestamp)));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Shadow copy device name: %s"), Prop.m_pwszSnapshotDeviceObject));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Originating machine: %s"), Prop.m_pwszOriginatingMachine));
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Service machine: %s"), Prop.m_pwszServiceMachine));
    if (attr & VSS_VOLSNAP_ATTR_EXPOSED_LOCALLY) {
        WriteLineToLog(GuardedFormat(QStringLiteral("   - Exposed locally as: %s"), Prop.m_pwszExposedName));
    } else if (attr & VSS_VOLSNAP_ATTR_EXPOSED_REMOTELY) {
        WriteLineToLog(GuardedFormat(QStringLiteral("   - Exposed remotely as %s"), Prop.m_pwszExposedName));
        if (!Prop.m_pwszExposedPath.isEmpty())
            WriteLineToLog(GuardedFormat(QStringLiteral("   - Path exposed: %s"), Prop.m_pwszExposedPath));
        else
            WriteLineToLog(QStringLiteral("   - Not Exposed"));
    }
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Provider id: %s"), GuidToString(Prop.m_ProviderId)));
    QString attributes;
    if (attr & VSS_VOLSNAP_ATTR_TRANSPORTABLE)
        attributes += QStringLiteral(" Transportable");
    attributes += (attr & VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE) ? QStringLiteral(" No_Auto_Release")
                                                            : QStringLiteral(" Auto_Release");
    if (attr & VSS_VOLSNAP_ATTR_PERSISTENT)
        attributes += QStringLiteral(" Persistent");
    if (attr & VSS_VOLSNAP_ATTR_CLIENT_ACCESSIBLE)
        attributes += QStringLiteral(" Client_accessible");
    if (attr & VSS_VOLSNAP_ATTR_HARDWARE_ASSISTED)
        attributes += QStringLiteral(" Hardware");
    if (attr & VSS_VOLSNAP_ATTR_NO_WRITERS)
        attributes += QStringLiteral(" No_Writers");
    if (attr & VSS_VOLSNAP_ATTR_IMPORTED)
        attributes += QStringLiteral(" Imported");
    if (attr & VSS_VOLSNAP_ATTR_PLEX)
        attributes += QStringLiteral(" Plex");
    if (attr & VSS_VOLSNAP_ATTR_DIFFERENTIAL)
        attributes += QStringLiteral(" Differential");
    WriteLineToLog(GuardedFormat(QStringLiteral("   - Attributes: %s"), attributes));
    WriteLineToLog(QString());
}

void TVolumeShadowCopy::CheckDeletion(HRESULT Result, const TGUID &Nondeleted, const QString &Text)
{
    if (!Failed(Result))
        return;
    WriteLineToLog(QStringLiteral("Error while deleting shadow copies ..."));
    WriteLineToLog(GuardedFormat(QStringLiteral("- Last shadow copy that could not be deleted: \"%s\""),
                                 GuidToString(Nondeleted)));
    CheckResult(Result, Text);
}

void TVolumeShadowCopy::DeleteSnapshot(const TGUID &snapshotID)
{
    WriteLineToLog(GuardedFormat(QStringLiteral("- Deleting shadow copy \"%s\" ..."), GuidToString(snapshotID)));
    int32_t deleted = 0;
    VSS_ID nondeleted;
    CheckDeletion(Components().DeleteSnapshots(snapshotID, VSS_OBJECT_SNAPSHOT, false, deleted, nondeleted), nondeleted,
                  QStringLiteral("TVolumeShadowCopy.DeleteSnapshotSet:VssBackupComponents.DeleteSnapshots"));
}

void TVolumeShadowCopy::DeleteSnapshotSet(const TGUID &snapshotSetID)
{
    WriteLineToLog(GuardedFormat(QStringLiteral("- Deleting shadow copy set \"%s\" ..."), GuidToString(snapshotSetID)));
    int32_t deleted = 0;
    VSS_ID nondeleted;
    CheckDeletion(Components().DeleteSnapshots(snapshotSetID, VSS_OBJECT_SNAPSHOT_SET, false, deleted, nondeleted),
                  nondeleted, QStringLiteral("TVolumeShadowCopy.DeleteSnapshotSet:VssBackupComponents.DeleteSnapshots"));
}

void TVolumeShadowCopy::DeleteOneSnapshot(const VSS_SNAPSHOT_PROP &Prop, const QString &FailureText)
{
    WriteLineToLog(GuardedFormat(QStringLiteral("- Deleting shadow copy \"%s\" on %s from provider \"%s\" [$%.8x] ..."),
                                 GuidToString(Prop.m_SnapshotId), Prop.m_pwszOriginalVolumeName,
                                 GuidToString(Prop.m_ProviderId), uint32_t(Prop.m_lSnapshotAttributes)));
    int32_t deleted = 0;
    VSS_ID nondeleted;
    CheckDeletion(Components().DeleteSnapshots(Prop.m_SnapshotId, VSS_OBJECT_SNAPSHOT, false, deleted, nondeleted),
                  nondeleted, FailureText);
}

void TVolumeShadowCopy::DeleteAllSnapshots()
{
    std::shared_ptr<IVssEnumObject> objects;
    CheckResult(Components().Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, objects),
                QStringLiteral("TVolumeShadowCopy.DeleteAllSnapshots:VssBackupComponents.Query"));
    if (!objects)
        return;
    for (;;) {
        VSS_OBJECT_PROP prop;
        uint32_t fetched = 0;
        CheckResult(objects->Next(1, &prop, fetched), QStringLiteral("TVolumeShadowCopy.DeleteAllSnapshots:pIEnumSnapshots.Next"));
        if (fetched == 0)
            break;
        DeleteOneSnapshot(prop.Snap, QStringLiteral("TVolumeShadowCopy.DeleteAllSnapshots:VssBackupComponents.DeleteSnapshots"));
        VssFreeSnapshotProperties(prop.Snap);
    }
}

void TVolumeShadowCopy::DeleteOldestSnapshot(const QString &stringVolumeName)
{
    // A mounted device is already a volume name: taken as a path it would
    // name the volume of /dev instead.
    QString volume = stringVolumeName;
    bool isDevice = false;
    for (const TVolume &v : ListVolumes())
        if (v.Source.compare(volume, Qt::CaseInsensitive) == 0)
            isDevice = true;
    QString normalised;
    if (!isDevice && VolumeNameForPath(volume, normalised))
        volume = normalised;

    std::shared_ptr<IVssEnumObject> objects;
    CheckResult(Components().Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, objects),
                QStringLiteral("TVolumeShadowCopy.DeleteOldestSnapshot:VssBackupComponents.Query"));
    bool found = false;
    VSS_SNAPSHOT_PROP oldest;
    while (objects) {
        VSS_OBJECT_PROP prop;
        uint32_t fetched = 0;
        CheckResult(objects->Next(1, &prop, fetched),
                    QStringLiteral("TVolumeShadowCopy.DeleteOldestSnapshot:pIEnumSnapshots.Next"));
        if (fetched == 0)
            break;
        if (prop.Snap.m_pwszOriginalVolumeName.compare(volume, Qt::CaseInsensitive) == 0
            && (!found || prop.Snap.m_tsCreationTimestamp < oldest.m_tsCreationTimestamp)) {
            oldest = prop.Snap;
            found = true;
        }
        VssFreeSnapshotProperties(prop.Snap);
    }
    if (!found) {
        WriteLineToLog(QStringLiteral("\r\nThere are no shadow copies on the system\r\n"));
        return;
    }
    DeleteOneSnapshot(oldest, QStringLiteral("TVolumeShadowCopy.DeleteAllSnapshots:VssBackupComponents.DeleteSnapshots"));
    VssFreeSnapshotProperties(oldest);
}

void TVolumeShadowCopy::ListWriterStatus()
{
    WriteLineToLog(QStringLiteral("Listing writer status ..."));
    uint32_t count = 0;
    CheckResult(Components().GetWriterStatusCount(count), QString());
    WriteLineToLog(GuardedFormat(QStringLiteral("- Number of writers that responded: %u"), count));
    for (size_t i = 0; i < FWriterList.size(); ++i) {
        VSS_ID instance, writer;
        QString name;
        VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
        HRESULT failure = S_OK;
        CheckResult(Components().GetWriterStatus(uint32_t(i), instance, writer, name, state, failure), QString());
        if (IsLogging())
            WriteLineToLog(GuardedFormat(QStringLiteral("\r\n* WRITER \"%s\"\r\n   - Status: %d (%s)\r\n   - Writer Failure "
                                                        "code: $%.8x (%s)\r\n   - Writer ID: %s\r\n   - Instance ID: %s"),
                                         name, int32_t(state), WriterStateText(state), uint32_t(failure),
                                         VssErrorText(failure), GuidToString(writer), GuidToString(instance)));
    }
}

void TVolumeShadowCopy::ExecuteCommand(const QString &Command, const QString &Param)
{
    const QString dashes(53, QLatin1Char('-'));
    WriteLineToLog(dashes);
    WriteLineToLog(GuardedFormat(QStringLiteral("- Executing command \"%s %s\" ..."), Command, Param));
    // The command is one shell word whatever it holds; the parameters are
    // shell text.
    const QString cmdLine = QString::fromUtf8(ShellQuote(Command.toUtf8())) + QLatin1Char(' ') + Param;
    const TOutputString log = [this](const QString &s) { WriteLineToLog(s); };
    uint32_t result = 0;
    try {
        result = ExecuteProcess(QString(), cmdLine, QString(), 0, 0, false, nullptr, 65001);
        if (result == WAIT_TIMEOUT)
            RaiseWin32Error(result, QStringLiteral("WaitForSingleObject"), log);
        if (result != 0 && !(result & kExitCodeBit))
            RaiseWin32Error(result, QStringLiteral("CreateProcess(") + cmdLine + QLatin1Char(')'), log);
        WriteLineToLog(QStringLiteral("- Command completed."));
    } catch (...) {
        WriteLineToLog(dashes);
        throw;
    }
    WriteLineToLog(dashes);
    if (result != 0) {
        WriteLineToLog(GuardedFormat(QStringLiteral("ERROR : Command line \"%s\" failed!. Aborting the backup ..."), Command));
        WriteLineToLog(GuardedFormat(QStringLiteral("- Returned error code: %d"), int32_t(result & ~kExitCodeBit)));
        throw Exception(VssErrorText(E_UNEXPECTED));
    }
}

// ---- The log ----

bool TVolumeShadowCopy::IsLogging() const
{
    std::lock_guard<std::mutex> lock(FLogLock);
    return fWriteLog;
}

void TVolumeShadowCopy::WriteLineToLog(const QString &s)
{
    std::lock_guard<std::mutex> lock(FLogLock);
    if (!fWriteLog)
        return;
    QString line = s;
    line.replace(kCrLf, QStringLiteral("\n"));
    line += QLatin1Char('\n');
    // One write per line, under the lock, so lines of the owner and the
    // worker never mix.
    if (!WriteAll(FLogFile, line.toUtf8())) {
        const uint32_t code = ErrnoToError(errno);
        throw EInOutError(Tr("Could not write to file \"%1\". %2").arg(fLogFileName, SystemErrorMessage(code)), code);
    }
}

bool TVolumeShadowCopy::OpenLogFile()
{
    std::lock_guard<std::mutex> lock(FLogLock);
    if (fWriteLog)
        return true;
    const QByteArray name = QFile::encodeName(fLogFileName);
    if (name.isEmpty())
        return false;
    const bool existed = ::access(name.constData(), F_OK) == 0;
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (existed && !WriteAll(fd, QByteArrayLiteral("\n"))) {
        ::close(fd);
        return false;
    }
    FLogFile = fd;
    fWriteLog = true;
    return true;
}

void TVolumeShadowCopy::CloseLogFile()
{
    std::lock_guard<std::mutex> lock(FLogLock);
    if (FLogFile >= 0)
        ::close(FLogFile);
    FLogFile = -1;
    fWriteLog = false;
}

QString TVolumeShadowCopy::LogFileName() const
{
    std::lock_guard<std::mutex> lock(FLogLock);
    return fLogFileName;
}

void TVolumeShadowCopy::SetLogFileName(const QString &Value)
{
    bool reopen = false;
    {
        std::lock_guard<std::mutex> lock(FLogLock);
        reopen = fWriteLog && Value.compare(fLogFileName, Qt::CaseInsensitive) != 0;
    }
    if (reopen)
        CloseLogFile();
    {
        std::lock_guard<std::mutex> lock(FLogLock);
        fLogFileName = Value;
    }
    if (reopen)
        OpenLogFile();
}

bool TVolumeShadowCopy::WriteLog() const
{
    return IsLogging();
}

void TVolumeShadowCopy::SetWriteLog(bool Value)
{
    if (Value)
        OpenLogFile();
    else
        CloseLogFile();
}

// ---- TVssThread ----

QString VolumeNameOfDrive(const QString &Path, QString &MountPoint)
{
    MountPoint.clear();
    TVolume volume;
    if (!FindPathVolume(ListVolumes(), Path, volume))
        return QString();
    MountPoint = volume.MountPoint;
    // Named as the writers' file sets are, so their components on this
    // volume stay in the selection.
    QString name;
    VolumeNameForPath(Path, name);
    return name;
}

TVssThread::TVssThread(const QString &ADrive)
    : FVolumeShadowCopy(std::make_unique<TVolumeShadowCopy>()), FDrive(ADrive)
{
}

// The worker holds a reference while it runs, so the body has ended here
// and the client (with the snapshot) can go.
TVssThread::~TVssThread() = default;

void TVssThread::Execute()
{
    try {
        FVolumeShadowCopy->WriteLineToLog(GuardedFormat(QStringLiteral("Starting snapshot creation for \"%s\""), FDrive));
        FVolumeShadowCopy->Initialize(0, QString(), false);
        const QString volume = VolumeNameOfDrive(FDrive, FMountPoint);
        FVolumeShadowCopy->CreateSnapshotSet(volume);
        FShadowDeviceName = FVolumeShadowCopy->GetLastShadowDeviceName();
        FSuccess = true;
    } catch (const Exception &e) {
        FShadowDeviceName.clear();
        FVolumeShadowCopy->WriteLineToLog(QStringLiteral("ERROR : ") + e.Message());
    } catch (const std::exception &e) {
        FShadowDeviceName.clear();
        FVolumeShadowCopy->WriteLineToLog(QStringLiteral("ERROR : ") + QString::fromLocal8Bit(e.what()));
    }
}

bool TVssThread::ShadowPath(const QString &Path, QString &Shadowed) const
{
    Shadowed = Path;
    if (!FSuccess || FShadowDeviceName.isEmpty() || FMountPoint.isEmpty())
        return false;
    // Only what lies on the snapshotted mount itself: a file system mounted
    // below it shows as an empty folder in the snapshot.
    TVolume own;
    if (!FindPathVolume(ListVolumes(), Path, own) || own.MountPoint != FMountPoint)
        return false;
    QString mount = FMountPoint;
    if (!mount.endsWith(QLatin1Char('/')))
        mount += QLatin1Char('/');
    if (Path == FMountPoint || Path == mount) {
        Shadowed = FShadowDeviceName;
        return true;
    }
    if (!Path.startsWith(mount))
        return false;
    QString root = FShadowDeviceName;
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    Shadowed = root + Path.mid(mount.size());
    return true;
}

void TVssThread::SaveBackupComponentsDocument(const QString &AFileName)
{
    FVolumeShadowCopy->SaveBackupComponentsDocument(AFileName);
}

void TVssThread::WriteLineToLog(const QString &s)
{
    FVolumeShadowCopy->WriteLineToLog(s);
}

void TVssThread::DeleteShadowCopy()
{
    FVolumeShadowCopy->BackupComplete(true);
}

void CheckComSecurityResult(HRESULT Result, bool AllowLateSecurity)
{
    if (Result >= 0 || (Result == RPC_E_TOO_LATE && AllowLateSecurity))
        return;
    RaiseVssError(Result, QStringLiteral("ERROR : COM call \"CoInitializeSecurity\" failed."));
}

std::shared_ptr<TVssThread> CreateVssThread(const QString &ADrive, bool AllowLateSecurity)
{
    CheckComSecurityResult(InitializeComSecurity(), AllowLateSecurity);
    return std::make_shared<TVssThread>(ADrive);
}

} // namespace vl
