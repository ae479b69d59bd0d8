#include "engine/VssApi.h"

#include "core/Format.h"
#include "engine/SnapshotService.h"
#include "platform/SysErrors.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

namespace vl {

QString GuidToString(const TGUID &Guid)
{
    return Guid.toString(QUuid::WithBraces).toUpper();
}

bool StringToGuid(const QString &Text, TGUID &Guid)
{
    const QString t = Text.trimmed();
    Guid = QUuid::fromString(t);
    if (Guid.isNull()) {
        // The null identifier is a valid text too; anything else is not.
        static const QRegularExpression nullForm(
            QStringLiteral("^\\{?0{8}-0{4}-0{4}-0{4}-0{12}\\}?$"));
        return nullForm.match(t).hasMatch();
    }
    return true;
}

bool IsVssApiLoaded()
{
    return SnapshotServiceAvailable();
}

HRESULT CreateVssBackupComponents(std::shared_ptr<IVssBackupComponents> &Components)
{
    Components.reset();
    if (!IsVssApiLoaded())
        return E_UNEXPECTED;
    Components = NewSnapshotBackupComponents();
    return Components ? S_OK : E_OUTOFMEMORY;
}

void VssFreeSnapshotProperties(VSS_SNAPSHOT_PROP &Prop)
{
    Prop.m_pwszSnapshotDeviceObject.clear();
    Prop.m_pwszOriginalVolumeName.clear();
    Prop.m_pwszOriginatingMachine.clear();
    Prop.m_pwszServiceMachine.clear();
    Prop.m_pwszExposedName.clear();
    Prop.m_pwszExposedPath.clear();
}

bool ClusterIsPathOnSharedVolume(const QString &)
{
    return false;
}

bool ClusterGetVolumePathName(const QString &, QString &VolumePathName)
{
    VolumePathName.clear();
    return false;
}

bool ClusterGetVolumeNameForVolumeMountPoint(const QString &, QString &VolumeName)
{
    VolumeName.clear();
    return false;
}

namespace {

struct TCodeText {
    uint32_t Code;
    const char *Text;
};

// Sorted by code.
const TCodeText kCodeTexts[] = {
    {0x00000000u, "Operation succeeded"},
    {0x00000001u, "Operation succeeded but returned \"FALSE\""},
    {0x00042309u, "VSS: asynchronous operation is pending"},
    {0x0004230Au, "VSS: asynchronous operation has completed"},
    {0x0004230Bu, "VSS: asynchronous operation has been cancelled"},
    {0x80004001u, "Not implemented"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80010119u, "Security must be initialized before any interfaces are marshalled or unmarshalled. "
                  "It cannot be changed once initialized."},
    {0x8001011Au, "No security packages are installed on this machine or the user is not logged on or "
                  "there are no compatible security packages between the client and server."},
    {0x8007000Eu, "Ran out of memory"},
    {0x80042301u, "VSS: called function was in incorrect state"},
    {0x80042302u, "VSS: an unexpected error was encountered"},
    {0x80042303u, "VSS: provider has already been registered"},
    {0x80042304u, "VSS: provider is not registered"},
    {0x80042306u, "VSS: provider had an error"},
    {0x80042307u, "VSS: provider is currently in use"},
    {0x80042308u, "VSS: specified object was not found"},
    {0x8004230Cu, "VSS: specified volume is not supported"},
    {0x8004230Du, "VSS: object already exists."},
    {0x8004230Eu, "VSS: provider does not support the specified volume"},
    {0x8004230Fu, "VSS:  unexpected provider error"},
    {0x80042310u, "VSS: XML document is invalid"},
    {0x80042311u, "VSS: XML document is invalid"},
    {0x80042312u, "VSS: maximum number of volumes reached"},
    {0x80042313u, "VSS: provider timed out while flushing data"},
    {0x80042314u, "VSS: provider timed out while holding writes"},
    {0x80042315u, "VSS: problems while sending events to writers"},
    {0x80042316u, "VSS: Another shadow copy creation is already in progress"},
    {0x80042317u, "VSS: maximum number of shadow copies reached"},
    {0x80042318u, "VSS: problem occurred while trying to contact writers"},
    {0x80042319u, "VSS: writer did not respond to a GatherWriterStatus"},
    {0x8004231Au, "VSS: writer has already successfully called the Subscribe function"},
    {0x8004231Bu, "VSS: provider does not support the specified shadow copy type"},
    {0x8004231Du, "VSS: specified shadow copy storage association is in use"},
    {0x8004231Eu, "VSS: Maximum number of shadow copy storage associations already reached"},
    {0x8004231Fu, "VSS: Insufficient storage available"},
    {0x80042320u, "VSS: No shadow copies were successfully imported"},
    {0x80042321u, "VSS: Some shadow copies were not successfully imported"},
    {0x80042322u, "VSS: maximum number of remote machines has been reached."},
    {0x80042323u, "VSS: remote server is unavailable"},
    {0x80042324u, "VSS: that does not support remote shadow-copy creation"},
    {0x80042325u, "VSS: revert is currently in progress"},
    {0x80042326u, "VSS: volume being reverted was lost during revert"},
    {0x80042327u, "VSS: reboot is required after this operation"},
    {0x80042328u, "VSS: timeout occurred while freezing a transaction manager"},
    {0x80042329u, "VSS: Too much time elapsed between freezing and thawing"},
    {0x8004232Au, "VSS: operation would overwrite a volume that is not explicitly selected"},
    {0x8004232Bu, "VSS: shadow copy ID was not found"},
    {0x8004232Cu, "VSS: specified volume is nested too deeply"},
    {0x8004232Du, "VSS: volume is not mounted on the local host"},
    {0x8004232Eu, "VSS: timeout occurred while preparing a cluster shared volume"},
    {0x800423F0u, "VSS: shadow-copy set contains only a subset of the volumes"},
    {0x800423F1u, "VSS: resource allocation failed"},
    {0x800423F2u, "VSS: timeout expired between Freeze and Thaw"},
    {0x800423F3u, "VSS: writer experienced a transient error"},
    {0x800423F4u, "VSS: writer experienced a non-transient error"},
    {0x800423F5u, "VSS: writer experienced an error while trying to recover"},
    {0x800423F6u, "VSS: break operation failed, partition identities could not be reverted"},
    {0x800423F7u, "VSS: version of hardware provider does not support this operation"},
    {0x800423F8u, "VSS: expected disk did not arrive in the system"},
    {0x800423F9u, "VSS: expected hidden volume did not arrive in the system"},
    {0x800423FAu, "VSS: expected volume did not arrive in the system"},
    {0x800423FBu, "VSS: autorecovery operation failed"},
    {0x800423FCu, "VSS: error processing the dynamic disks"},
    {0x800423FDu, "VSS: Backup Components Document is non-transportable"},
    {0x800423FEu, "VSS: MBR signature or GPT ID could not be set"},
    {0x800423FFu, "VSS: LUN resynchronization operation could not be started"},
    {0x80042400u, "VSS: clustered disks could not be enumerated"},
    {0x80042401u, "VSS: too few disks on this computer"},
    {0x80042402u, "VSS: cannot create a disk on this computer needed to restore"},
    {0x80042403u, "VSS: computer needs to be restarted to finish preparing a hard disk for restore"},
    {0x80042404u, "VSS: backup failed due to a missing disk for a dynamic volume"},
    {0x80042405u, "VSS: Automated System Recovery failed"},
    {0x80042406u, "VSS: data disk is currently set as active in BIOS."},
    {0x80042407u, "VSS: disk that is set as active in BIOS is too small"},
    {0x80042408u, "VSS: failed to find enough suitable disks"},
    {0x80042409u, "VSS: writer status is not available"},
    {0x8004240Au, "critical dynamic disk is a Virtual Hard Disk"},
    {0x80042411u, "critical volume exists on a disk which cannot be backed up by ASR"},
    {0x80042412u, "No disk that can be used for recovering the system disk found"},
    {0x80042413u, "no fixed disk found that can be used to recreate volumes"},
    {0x80042414u, "no disk found which it can use for recreating volumes"},
    {0x80042415u, "Restore failed because a disk which was critical at backup is excluded"},
    {0x80042416u, "active system partition is hidden"},
};

} // namespace

QString VssErrorText(HRESULT ErrorCode)
{
    const uint32_t code = static_cast<uint32_t>(ErrorCode);
    const auto it = std::lower_bound(std::begin(kCodeTexts), std::end(kCodeTexts), code,
                                     [](const TCodeText &e, uint32_t c) { return e.Code < c; });
    if (it != std::end(kCodeTexts) && it->Code == code)
        return QString::fromUtf8(it->Text);
    if (((code >> 16) & 0x7FFu) == 7) {
        if (const char *text = SysErrorText(code & 0xFFFFu))
            return QString::fromUtf8(text);
    }
    return QStringLiteral("<Unknown error code>");
}

void RaiseVssError(HRESULT ErrorCode, const QString &Text)
{
    throw EOleSysError(Text + QStringLiteral(" (") + VssErrorText(ErrorCode) + QLatin1Char(')'), ErrorCode);
}

void CheckComCall(HRESULT Result, const QString &Text, const TOutputString &Log)
{
    if (Result >= 0)
        return;
    const QString text = Text.isEmpty() ? QStringLiteral("<unknown>") : Text;
    if (Log) {
        Log(GuardedFormat(QStringLiteral("ERROR : COM call \"%s\" failed."), text));
        Log(GuardedFormat(QStringLiteral("- Returned HRESULT = $%.8x"), static_cast<uint32_t>(Result)));
        Log(GuardedFormat(QStringLiteral("- Error text: %s"), VssErrorText(Result)));
    }
    RaiseVssError(Result, text);
}

} // namespace vl
