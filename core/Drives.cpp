#include "core/Drives.h"

#include "core/NetShares.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"

#include <QStringList>

namespace vl {

namespace {

const QString kRootDrive = QStringLiteral("/");
const QString kRootName = QStringLiteral("root");

QStringList Elements(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

bool IsBelow(const QString &path, const QString &dir)
{
    const QStringList p = Elements(path);
    const QStringList d = Elements(dir);
    return p.size() > d.size() && p.mid(0, d.size()) == d;
}

// Where desktops mount removable media.
bool IsMediaPath(const QString &path)
{
    return IsBelow(path, QStringLiteral("/media")) || IsBelow(path, QStringLiteral("/run/media"));
}

bool IsOwnDrive(const TVolume &v)
{
    return v.Network || v.Removable || v.Optical;
}

QString VolumeDriveName(const TVolume &v)
{
    QString name;
    if (v.Network)
        name = NetworkShareName(v);
    else if (!v.Label.trimmed().isEmpty())
        name = v.Label.trimmed();
    else if (!v.Uuid.isEmpty())
        name = v.Uuid;
    if (name.isEmpty())
        name = LastPathElement(v.MountPoint);
    return ReplaceInvalidFileNameChars(name, QLatin1Char('_'));
}

bool ListAndFind(const QString &path, TVolume &volume, QString &localPath, bool &tableRead)
{
    const QList<TVolume> volumes = ListVolumes();
    tableRead = !volumes.isEmpty();
    if (path.startsWith(QStringLiteral("//"))) {
        if (FindNetworkMount(volumes, path, volume, localPath))
            return true;
        // A share that gio has mounted.
        localPath = ResolveSharePath(path);
        if (localPath.isEmpty() || !FindPathVolume(volumes, localPath, volume))
            return false;
        volume.Network = true;
        volume.Removable = volume.Usb = volume.Optical = volume.Ram = false;
        volume.Source = ExtractFileDrive(path);
        return true;
    }
    if (!FindPathVolume(volumes, path, volume))
        return false;
    // The folder of a removable disk that is not plugged in.
    if (IsMediaPath(path) && !IsBelow(volume.MountPoint, QStringLiteral("/media"))
        && !IsBelow(volume.MountPoint, QStringLiteral("/run/media")))
        return false;
    localPath = path;
    return true;
}

// The path measured for Path: Path or its nearest existing parent, never
// above the mount point of its volume (a missing mount point means the
// volume is not there, and the file system below it is another one).
bool MeasuredPath(const QString &Path, QString &measured)
{
    QString local = Path.isEmpty() ? QStringLiteral(".") : Path;
    qsizetype minDepth = 0;
    if (Path.startsWith(QLatin1Char('/'))) {
        TVolume volume;
        if (!GetPathVolume(Path, volume, local))
            return false;
        minDepth = Elements(volume.MountPoint).size();
    }
    for (;;) {
        if (PathExists(local, true)) {
            measured = local;
            return true;
        }
        const QString parent = ParentDirectory(local);
        if (parent == local || parent.isEmpty() || Elements(local).size() <= minDepth)
            return false;
        local = parent;
    }
}

} // namespace

bool GetPathVolume(const QString &Path, TVolume &Volume, QString &LocalPath)
{
    bool tableRead;
    return ListAndFind(Path, Volume, LocalPath, tableRead);
}

uint32_t GetDriveKind(const QString &FileName)
{
    if (!FileName.startsWith(QLatin1Char('/')))
        return dkNoRoot;
    TVolume v;
    QString local;
    bool tableRead;
    if (!ListAndFind(FileName, v, local, tableRead))
        return tableRead ? dkNoRoot : dkUnknown;
    if (v.Network)
        return dkRemote;
    if (v.Optical)
        return dkCdRom;
    if (v.Removable)
        return dkRemovable;
    if (v.Ram)
        return dkRamDisk;
    return dkFixed;
}

int32_t GetPathKind(const QString &Path)
{
    const QString drive = ExtractFileDrive(Path);
    if (drive.isEmpty())
        return pkNoDrive;
    if (drive.startsWith(QStringLiteral("//")))
        return pkNetwork;
    switch (GetDriveKind(Path)) {
    case dkUnknown:
    case dkNoRoot:
        return pkUnknown;
    case dkRemovable:
    case dkCdRom:
        return pkRemovable;
    case dkRemote:
        return pkNetwork;
    default:
        return pkLocal;
    }
}

bool IsLocalPath(const QString &Path)
{
    const int32_t kind = GetPathKind(Path);
    return kind == pkLocal || kind == pkRemovable;
}

bool IsLocalFixedPath(const QString &Path)
{
    return GetPathKind(Path) == pkLocal;
}

bool GetVolumeLabel(const QString &FileName, QString &Label)
{
    TVolume v;
    QString local;
    if (!GetPathVolume(FileName, v, local)) {
        Label = Tr("not available");
        return false;
    }
    Label = v.Label.trimmed();
    return true;
}

bool IsVolumeReady(const QString &Path)
{
    QString label;
    return GetVolumeLabel(Path, label);
}

void FindDriveByLabel(const QString &Label, int StartIndex, QString &Root)
{
    Root.clear();
    const QList<TVolume> volumes = ListVolumes();
    for (qsizetype i = qMax(StartIndex, 0); i < volumes.size(); ++i) {
        const TVolume &v = volumes[i];
        if (v.FsRoot == kRootDrive && !v.Label.isEmpty()
            && v.Label.trimmed().compare(Label.trimmed(), Qt::CaseInsensitive) == 0) {
            Root = WithTrailingDelimiter(v.MountPoint);
            return;
        }
    }
}

QString VolumeLabelTarget(const QString &Label, const QString &Rest)
{
    const QStringList rest = Elements(Rest);
    const TVolume *best = nullptr;
    qsizetype bestDepth = -1;
    const QList<TVolume> volumes = ListVolumes();
    for (const TVolume &v : volumes) {
        if (v.Label.isEmpty() || v.Label.trimmed().compare(Label.trimmed(), Qt::CaseInsensitive) != 0)
            continue;
        const QStringList root = Elements(v.FsRoot);
        if (root.size() > bestDepth && rest.mid(0, root.size()) == root) {
            best = &v;
            bestDepth = root.size();
        }
    }
    if (!best)
        return QString();
    // The root of the volume keeps its delimiter, as does a folder given with one.
    const QStringList below = rest.mid(bestDepth);
    QString path = WithTrailingDelimiter(best->MountPoint) + below.join(QLatin1Char('/'));
    if (Rest.endsWith(QLatin1Char('/')) && !below.isEmpty())
        path += QLatin1Char('/');
    return path;
}

bool IsUsbDrive(const QString &Path)
{
    TVolume v;
    QString local;
    return GetPathVolume(Path, v, local) && v.Usb;
}

bool GetDiskSpace(const QString &Path, int64_t &FreeBytes, int64_t &TotalBytes)
{
    FreeBytes = TotalBytes = 0;
    QString measured;
    if (!MeasuredPath(Path, measured))
        return false;
    if (VolumeDiskSpace(measured, FreeBytes, TotalBytes) != 0) {
        FreeBytes = TotalBytes = 0;
        return false;
    }
    return true;
}

int64_t GetFreeDiskSpace(const QString &Path)
{
    int64_t freeBytes, totalBytes;
    GetDiskSpace(Path, freeBytes, totalBytes);
    return freeBytes;
}

int64_t GetTotalDiskSpace(const QString &Path)
{
    int64_t freeBytes, totalBytes;
    GetDiskSpace(Path, freeBytes, totalBytes);
    return totalBytes;
}

void GetVolumeInfoText(const QString &Path, int Kind, QString &Text)
{
    Text.clear();
    TVolume v;
    QString local;
    if (Path.isEmpty() || !GetPathVolume(Path, v, local))
        return;
    switch (Kind) {
    case 0:
        Text = v.Label;
        break;
    case 1:
        Text = v.Uuid;
        break;
    case 2:
        Text = v.FsType;
        break;
    case 3: {
        uint32_t length;
        if (MaxNameLength(v.MountPoint, length) == 0)
            Text = QString::number(length);
        break;
    }
    default:
        break;
    }
}

void GetVolumeName(const QString &Path, QString &Text)
{
    GetVolumeInfoText(Path, 0, Text);
}

void GetFileSystemName(const QString &Path, QString &Text)
{
    GetVolumeInfoText(Path, 2, Text);
}

void GetVolumeGuidPath(const QString &MountPoint, QString &VolumeName)
{
    VolumeName.clear();
    if (MountPoint.isEmpty())
        return;
    TVolume v;
    if (FindMountPointVolume(ListVolumes(), MountPoint, v))
        VolumeName = v.Source;
}

// ---- Drives ----

QString DriveOfPath(const QString &Path)
{
    const QString drive = ExtractFileDrive(Path);
    if (drive != kRootDrive)
        return drive;
    TVolume v;
    QString local;
    if (GetPathVolume(Path, v, local) && IsOwnDrive(v))
        return v.MountPoint;
    return kRootDrive;
}

QString PathBelowDrive(const QString &Path)
{
    const QString drive = DriveOfPath(Path);
    if (drive.isEmpty())
        return Path;
    const QStringList below = Elements(Path).mid(Elements(drive).size());
    return below.join(QLatin1Char('/'));
}

QString DriveNameOfPath(const QString &Path)
{
    const QString drive = ExtractFileDrive(Path);
    if (drive.startsWith(QStringLiteral("//")))
        return ReplaceInvalidFileNameChars(Elements(drive).join(QLatin1Char('_')), QLatin1Char('_'));
    if (drive != kRootDrive)
        return QString();
    TVolume v;
    QString local;
    if (GetPathVolume(Path, v, local) && IsOwnDrive(v))
        return VolumeDriveName(v);
    return kRootName;
}

QString DriveRootFromName(const QString &Name)
{
    if (Name.isEmpty())
        return QString();
    if (Name.compare(kRootName, Qt::CaseInsensitive) == 0)
        return kRootDrive;
    const QList<TVolume> volumes = ListVolumes();
    // Drives of their own first, so a name means what DriveNameOfPath made
    // of it; then any volume with that label or UUID (a disk that is built
    // in on this computer).
    for (const bool ownDrives : {true, false}) {
        for (const TVolume &v : volumes) {
            if (IsOwnDrive(v) != ownDrives || v.FsRoot != kRootDrive)
                continue;
            const QStringList names = {VolumeDriveName(v), ReplaceInvalidFileNameChars(v.Label.trimmed(), QLatin1Char('_')),
                                       v.Uuid};
            for (const QString &n : names) {
                if (!n.isEmpty() && n.compare(Name, Qt::CaseInsensitive) == 0)
                    return v.MountPoint;
            }
        }
    }
    return QString();
}

} // namespace vl
