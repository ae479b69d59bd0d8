// A made-up machine for the volume tests: its mount table, udev's label and
// UUID links and the sysfs block devices live in a temporary folder and
// replace the system's sources while the object lives.
#pragma once

#include "common/TestUtils.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <utility>

namespace vl::test {

class TFakeVolumes {
public:
    // The machine: "/" and "/home" on the internal disk sda (ext4), /tmp a
    // tmpfs, a vfat stick sdb1 labelled USB at /media/ann/USB, an external
    // USB hard disk sdc1 (ext4, "My Disk", not flagged removable), a btrfs
    // pool sdd1 with two subvolumes mounted, an unlabelled stick sdf1 known
    // by its UUID, an xfs disk sde1 hidden by a cifs mount on the same
    // point, and the network mounts //nas/data (cifs) and files:/export/backup
    // (nfs4).
    static QByteArray DefaultMountInfo()
    {
        return "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
               "23 22 8:3 / /home rw,relatime shared:2 - ext4 /dev/sda3 rw\n"
               "24 22 0:21 / /tmp rw shared:3 - tmpfs tmpfs rw\n"
               "25 22 8:17 / /media/ann/USB rw,nosuid shared:4 - vfat /dev/sdb1 rw\n"
               "26 22 8:33 / /media/ann/My\\040Disk rw shared:5 - ext4 /dev/sdc1 rw\n"
               "27 22 0:40 /@data /srv/data rw shared:6 - btrfs /dev/sdd1 rw\n"
               "28 22 0:40 /@snap /srv/snap rw shared:7 - btrfs /dev/sdd1 rw\n"
               "29 22 8:81 / /media/ann/stick rw shared:8 - vfat /dev/sdf1 rw\n"
               "30 22 8:65 / /mnt/stack rw shared:9 - xfs /dev/sde1 rw\n"
               "31 30 0:52 / /mnt/stack rw shared:10 - cifs //srv/old rw\n"
               "32 22 8:66 / /opt/xfs rw shared:11 - xfs /dev/sde2 rw\n"
               "33 22 0:50 / /mnt/nas rw shared:12 - cifs //nas/data rw\n"
               "34 22 0:51 / /mnt/nfs rw shared:13 - nfs4 files:/export/backup rw\n";
    }

    explicit TFakeVolumes(const QByteArray &mountInfo = DefaultMountInfo())
    {
        FDir = MakeTempDir(QStringLiteral("volumes"));
        FSources.MountInfoFile = FDir + QStringLiteral("/mountinfo");
        FSources.ByLabelDir = FDir + QStringLiteral("/dev/disk/by-label");
        FSources.ByUuidDir = FDir + QStringLiteral("/dev/disk/by-uuid");
        FSources.SysBlockDir = FDir + QStringLiteral("/sys/class/block");
        FSources.DiskSpace = [](const QString &, int64_t &freeBytes, int64_t &totalBytes) -> uint32_t {
            freeBytes = 1024;
            totalBytes = 4096;
            return 0;
        };
        for (const QString &d : {FSources.ByLabelDir, FSources.ByUuidDir, FSources.SysBlockDir})
            QDir().mkpath(d);
        SetMountInfo(mountInfo);
        for (const auto &[name, device] : {std::pair{"USB", "sdb1"}, {"My\\x20Disk", "sdc1"}, {"pool", "sdd1"},
                                          {"home", "sda3"}, {"archive", "sde2"}}) {
            Link(FSources.ByLabelDir + QLatin1Char('/') + QLatin1String(name), QStringLiteral("../../") + QLatin1String(device));
        }
        for (const auto &[uuid, device] : {std::pair{"1A2B-3C4D", "sdb1"}, {"5E6F-7A8B", "sdf1"},
                                          {"0a1b2c3d-0000-4000-8000-000000000002", "sda2"}}) {
            Link(FSources.ByUuidDir + QLatin1Char('/') + QLatin1String(uuid), QStringLiteral("../../") + QLatin1String(device));
        }
        // Disks in the device tree: sda and sdd inside, sdb and sdf sticks
        // (removable flag, USB), sdc a USB disk without the flag.
        AddDisk(QStringLiteral("pci0000:00/ata1/host0"), QStringLiteral("sda"), false, {"sda2", "sda3"});
        AddDisk(QStringLiteral("pci0000:00/usb1/1-1/host6"), QStringLiteral("sdb"), true, {"sdb1"});
        AddDisk(QStringLiteral("pci0000:00/usb2/2-1/host7"), QStringLiteral("sdc"), false, {"sdc1"});
        AddDisk(QStringLiteral("pci0000:00/ata2/host1"), QStringLiteral("sdd"), false, {"sdd1"});
        AddDisk(QStringLiteral("pci0000:00/ata3/host2"), QStringLiteral("sde"), false, {"sde1", "sde2"});
        AddDisk(QStringLiteral("pci0000:00/usb3/3-1/host8"), QStringLiteral("sdf"), true, {"sdf1"});
        SetVolumeSourcesForTesting(&FSources);
    }
    ~TFakeVolumes() { SetVolumeSourcesForTesting(nullptr); }
    TFakeVolumes(const TFakeVolumes &) = delete;
    TFakeVolumes &operator=(const TFakeVolumes &) = delete;

    void SetMountInfo(const QByteArray &text) { WriteBytes(FSources.MountInfoFile, text); }

    // Replaces the free-space query.
    void SetDiskSpace(std::function<uint32_t(const QString &, int64_t &, int64_t &)> query)
    {
        FSources.DiskSpace = std::move(query);
        SetVolumeSourcesForTesting(&FSources);
    }

private:
    static void Link(const QString &link, const QString &target)
    {
        ASSERT_EQ(symlink(target.toUtf8().constData(), link.toUtf8().constData()), 0);
    }

    void AddDisk(const QString &bus, const QString &disk, bool removable, std::initializer_list<const char *> parts)
    {
        const QString rel = QStringLiteral("devices/") + bus + QStringLiteral("/block/") + disk;
        const QString dir = FDir + QStringLiteral("/sys/") + rel;
        QDir().mkpath(dir);
        WriteBytes(dir + QStringLiteral("/removable"), removable ? "1\n" : "0\n");
        for (const char *part : parts) {
            QDir().mkpath(dir + QLatin1Char('/') + QLatin1String(part));
            WriteBytes(dir + QLatin1Char('/') + QLatin1String(part) + QStringLiteral("/partition"), "1\n");
            Link(FSources.SysBlockDir + QLatin1Char('/') + QLatin1String(part),
                 QStringLiteral("../../") + rel + QLatin1Char('/') + QLatin1String(part));
        }
    }

    QString FDir;
    TVolumeSources FSources;
};

} // namespace vl::test
