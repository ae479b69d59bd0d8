#include "platform/AtomicFile.h"
#include "platform/Volumes.h"

#include "platform/FileNames.h"
#include "platform/FileSystemInternal.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace vl {

namespace {

std::mutex gSourcesLock;
TVolumeSources *gTestSources = nullptr;

QByteArray ReadSmallFile(const QByteArray &path)
{
    QByteArray data;
    ReadFileBytes(DecodeFileName(path), data);
    return data;
}

QByteArray ReadLink(const QByteArray &path)
{
    char buf[4096];
    const ssize_t n = readlink(path.constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, n) : QByteArray();
}

QByteArray LastElement(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// mountinfo writes space, tab, newline and backslash as \ooo.
QByteArray UnescapeOctal(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0'
            && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.append(char(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0')));
            i += 3;
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

// udev writes unsafe characters of link names as \xHH.
QByteArray UnescapeHex(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        bool ok = false;
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            const int value = s.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(value));
                i += 3;
            }
        }
        if (!ok)
            out.append(s[i]);
    }
    return out;
}

// Device name -> link name of a by-label or by-uuid folder.
QHash<QByteArray, QString> ReadDeviceLinks(const QString &dir)
{
    QHash<QByteArray, QString> names;
    const QByteArray native = EncodeFileName(dir);
    DIR *d = opendir(native.constData());
    if (!d)
        return names;
    while (const dirent *e = readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray device = LastElement(ReadLink(native + '/' + name));
        if (!device.isEmpty() && !names.contains(device))
            names.insert(device, QString::fromUtf8(UnescapeHex(name)));
    }
    closedir(d);
    return names;
}

// The kernel name of a mount's block device: the device node's own name
// after following links (/dev/mapper/x is /dev/dm-0).
QByteArray DeviceName(const QByteArray &source)
{
    if (!source.startsWith("/dev/"))
        return {};
    const QByteArray real = fsi::RealPathNative(source);
    return LastElement(real.isEmpty() ? source : real);
}

struct TDiskFlags {
    bool Removable = false;
    bool Usb = false;
};

// The disk of a device (the parent of a partition) in the sysfs device
// tree: its removable flag, and a USB bus on the way to it.
TDiskFlags ReadDiskFlags(const QString &sysBlockDir, const QByteArray &device)
{
    TDiskFlags flags;
    QByteArray dev = fsi::RealPathNative(EncodeFileName(sysBlockDir) + '/' + device);
    if (dev.isEmpty())
        return flags;
    if (access((dev + "/partition").constData(), F_OK) == 0)
        dev = dev.left(dev.lastIndexOf('/'));
    flags.Removable = ReadSmallFile(dev + "/removable").trimmed() == "1";
    for (const QByteArray &part : dev.split('/'))
        flags.Usb = flags.Usb || part.startsWith("usb");
    return flags;
}

bool IsNetworkType(const QByteArray &type)
{
    static const char *const kTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs"};
    for (const char *t : kTypes) {
        if (type == t)
            return true;
    }
    return false;
}

bool IsRemovableType(const QByteArray &type)
{
    return type == "vfat" || type == "exfat" || type == "msdos";
}

// Path elements of a text, without empty ones.
QStringList Elements(const QString &path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// Whether the elements of inner begin with those of outer.
bool StartsWithElements(const QStringList &inner, const QStringList &outer, Qt::CaseSensitivity cs)
{
    if (outer.size() > inner.size())
        return false;
    for (qsizetype i = 0; i < outer.size(); ++i) {
        if (inner[i].compare(outer[i], cs) != 0)
            return false;
    }
    return true;
}

// A network mount's source as server and path elements: "//srv/share/sub"
// and "srv:/export/x" (also "user@srv:/x") give ("srv", [share, sub]).
bool SplitNetworkSource(const TVolume &v, QString &server, QStringList &parts)
{
    const QString &s = v.Source;
    if (s.startsWith(QStringLiteral("//"))) {
        QStringList all = Elements(s);
        if (all.isEmpty())
            return false;
        server = all.takeFirst();
        parts = all;
        return true;
    }
    const qsizetype colon = s.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    server = s.left(colon);
    server = server.mid(server.lastIndexOf(QLatin1Char('@')) + 1);
    parts = Elements(s.mid(colon + 1));
    return !server.isEmpty();
}

bool IsSmb(const TVolume &v)
{
    return v.FsType == QStringLiteral("cifs") || v.FsType == QStringLiteral("smb3")
        || v.FsType == QStringLiteral("smbfs");
}

} // namespace

TVolumeSources VolumeSources()
{
    std::lock_guard lock(gSourcesLock);
    return gTestSources ? *gTestSources : TVolumeSources();
}

void SetVolumeSourcesForTesting(const TVolumeSources *sources)
{
    std::lock_guard lock(gSourcesLock);
    delete gTestSources;
    gTestSources = sources ? new TVolumeSources(*sources) : nullptr;
}

QList<TVolume> ListVolumes()
{
    const TVolumeSources src = VolumeSources();
    const QByteArray text = ReadSmallFile(EncodeFileName(src.MountInfoFile));
    QList<TVolume> volumes;
    QHash<QByteArray, QString> labels, uuids;
    bool linksRead = false;
    for (const QByteArray &line : text.split('\n')) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superopts
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf(QByteArray("-"));
        if (f.size() < 5 || dash < 6 || dash + 2 >= f.size())
            continue;
        TVolume v;
        v.FsRoot = DecodeFileName(UnescapeOctal(f[3]));
        v.MountPoint = DecodeFileName(UnescapeOctal(f[4]));
        const QByteArray type = UnescapeOctal(f[dash + 1]);
        const QByteArray source = UnescapeOctal(f[dash + 2]);
        v.FsType = QString::fromUtf8(type);
        v.Source = DecodeFileName(source);
        v.Network = IsNetworkType(type);
        v.Ram = type == "tmpfs" || type == "ramfs";
        const QByteArray device = DeviceName(source);
        if (!device.isEmpty()) {
            if (!linksRead) {
                labels = ReadDeviceLinks(src.ByLabelDir);
                uuids = ReadDeviceLinks(src.ByUuidDir);
                linksRead = true;
            }
            v.Device = QString::fromUtf8(device);
            v.Label = labels.value(device);
            v.Uuid = uuids.value(device);
            const TDiskFlags flags = ReadDiskFlags(src.SysBlockDir, device);
            v.Usb = flags.Usb;
            v.Optical = device.startsWith("sr") && (type == "iso9660" || type == "udf");
            v.Removable = flags.Removable || flags.Usb || IsRemovableType(type);
        }
        volumes.append(v);
    }
    // A later mount on the same point hides the earlier one.
    QHash<QString, qsizetype> lastOnPoint;
    for (qsizetype i = 0; i < volumes.size(); ++i)
        lastOnPoint.insert(volumes[i].MountPoint, i);
    QList<TVolume> visible;
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        if (lastOnPoint.value(volumes[i].MountPoint) == i)
            visible.append(volumes[i]);
    }
    return visible;
}

bool FindPathVolume(const QList<TVolume> &volumes, const QString &path, TVolume &volume)
{
    if (!path.startsWith(QLatin1Char('/')) || path.startsWith(QStringLiteral("//")))
        return false;
    const QStringList parts = Elements(path);
    qsizetype best = -1;
    qsizetype bestDepth = -1;
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        const QStringList point = Elements(volumes[i].MountPoint);
        if (point.size() > bestDepth && StartsWithElements(parts, point, Qt::CaseSensitive)) {
            best = i;
            bestDepth = point.size();
        }
    }
    if (best < 0)
        return false;
    volume = volumes[best];
    return true;
}

bool FindMountPointVolume(const QList<TVolume> &volumes, const QString &mountPoint, TVolume &volume)
{
    if (!mountPoint.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = Elements(mountPoint);
    for (const TVolume &v : volumes) {
        if (Elements(v.MountPoint) == parts) {
            volume = v;
            return true;
        }
    }
    return false;
}

bool FindNetworkMount(const QList<TVolume> &volumes, const QString &networkPath, TVolume &volume,
                      QString &localPath)
{
    if (!networkPath.startsWith(QStringLiteral("//")))
        return false;
    QStringList parts = Elements(networkPath);
    if (parts.size() < 2)
        return false;
    const QString server = parts.takeFirst();
    qsizetype best = -1;
    qsizetype bestDepth = 0;
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        const TVolume &v = volumes[i];
        QString vServer;
        QStringList vParts;
        if (!v.Network || !SplitNetworkSource(v, vServer, vParts) || vParts.isEmpty())
            continue;
        if (vServer.compare(server, Qt::CaseInsensitive) != 0)
            continue;
        if (vParts.size() > bestDepth
            && StartsWithElements(parts, vParts, IsSmb(v) ? Qt::CaseInsensitive : Qt::CaseSensitive)) {
            best = i;
            bestDepth = vParts.size();
        }
    }
    if (best < 0)
        return false;
    volume = volumes[best];
    localPath = volume.MountPoint;
    const QStringList rest = parts.mid(bestDepth);
    if (!rest.isEmpty()) {
        if (!localPath.endsWith(QLatin1Char('/')))
            localPath += QLatin1Char('/');
        localPath += rest.join(QLatin1Char('/'));
    }
    if (networkPath.endsWith(QLatin1Char('/')) && !localPath.endsWith(QLatin1Char('/')))
        localPath += QLatin1Char('/');
    return true;
}

QString NetworkShareName(const TVolume &volume)
{
    QString server;
    QStringList parts;
    if (!SplitNetworkSource(volume, server, parts))
        return QString();
    parts.prepend(server);
    return parts.join(QLatin1Char('_'));
}

uint32_t MaxNameLength(const QString &path, uint32_t &length)
{
    length = 0;
    struct statvfs v;
    if (statvfs(EncodeFileName(path).constData(), &v) != 0)
        return ErrnoToError(errno);
    length = uint32_t(v.f_namemax);
    return ERROR_SUCCESS;
}

uint32_t VolumeDiskSpace(const QString &path, int64_t &freeBytes, int64_t &totalBytes)
{
    const TVolumeSources src = VolumeSources();
    if (src.DiskSpace)
        return src.DiskSpace(path, freeBytes, totalBytes);
    return DiskSpace(path, freeBytes, totalBytes);
}

} // namespace vl
