#include "core/Drives.h"

#include "FakeVolumes.h"

#include <QMutex>

namespace vl {
namespace {

class DrivesTest : public ::testing::Test {
protected:
    test::TFakeVolumes FVolumes;
};

TEST_F(DrivesTest, MountTableWithLabelsUuidsAndBuses)
{
    const QList<TVolume> volumes = ListVolumes();
    TVolume v;
    ASSERT_TRUE(FindMountPointVolume(volumes, QStringLiteral("/media/ann/USB/"), v));
    EXPECT_EQ(v.Label, QStringLiteral("USB"));
    EXPECT_EQ(v.Uuid, QStringLiteral("1A2B-3C4D"));
    EXPECT_TRUE(v.Removable && v.Usb);

    // Escaped mount point and label; a USB disk without the removable flag.
    ASSERT_TRUE(FindMountPointVolume(volumes, QStringLiteral("/media/ann/My Disk"), v));
    EXPECT_EQ(v.Label, QStringLiteral("My Disk"));
    EXPECT_TRUE(v.Usb && v.Removable);

    ASSERT_TRUE(FindMountPointVolume(volumes, QStringLiteral("/home"), v));
    EXPECT_EQ(v.Label, QStringLiteral("home"));
    EXPECT_FALSE(v.Removable || v.Usb || v.Network);

    // The later mount on /mnt/stack hides the xfs disk.
    ASSERT_TRUE(FindMountPointVolume(volumes, QStringLiteral("/mnt/stack"), v));
    EXPECT_EQ(v.FsType, QStringLiteral("cifs"));
    EXPECT_EQ(std::count_if(volumes.begin(), volumes.end(),
                            [](const TVolume &x) { return x.MountPoint == QStringLiteral("/mnt/stack"); }),
              1);
}

TEST_F(DrivesTest, DriveAndPathKinds)
{
    struct TCase {
        const char *Path;
        uint32_t Drive;
        int32_t PathKind;
    };
    const TCase cases[] = {
        {"", dkNoRoot, pkNoDrive},
        {"a/b", dkNoRoot, pkNoDrive},
        {":USB:/x", dkNoRoot, pkNoDrive}, // resolved by the callers first
        {"/", dkFixed, pkLocal},
        {"/home/ann", dkFixed, pkLocal},
        {"/tmp/x", dkRamDisk, pkLocal},
        {"/media/ann/USB/x", dkRemovable, pkRemovable},
        {"/media/ann/My Disk", dkRemovable, pkRemovable},
        {"/media/ann/Gone/x", dkNoRoot, pkUnknown}, // a stick that is not plugged in
        {"/run/media/ann/Gone", dkNoRoot, pkUnknown},
        {"/mnt/nas/docs", dkRemote, pkNetwork},
        {"//nas/data/docs", dkRemote, pkNetwork},
        {"//other/share/docs", dkNoRoot, pkNetwork},
    };
    for (const TCase &c : cases) {
        const QString path = QString::fromUtf8(c.Path);
        EXPECT_EQ(GetDriveKind(path), c.Drive) << c.Path;
        EXPECT_EQ(GetPathKind(path), c.PathKind) << c.Path;
    }
    FVolumes.SetMountInfo(QByteArray());
    EXPECT_EQ(GetDriveKind(QStringLiteral("/home")), dkUnknown);
    EXPECT_EQ(GetPathKind(QStringLiteral("/home")), pkUnknown);
}

TEST_F(DrivesTest, DriveNamesAndTheirReversal)
{
    struct TCase {
        const char *Path;
        const char *Drive;
        const char *Name;
        const char *Below;
    };
    const TCase cases[] = {
        {"/", "/", "root", ""},
        // /home is a partition of its own and still part of the root drive.
        {"/home/ann/Docs", "/", "root", "home/ann/Docs"},
        {"/media/ann/USB/Photos/2024", "/media/ann/USB", "USB", "Photos/2024"},
        {"/media/ann/USB", "/media/ann/USB", "USB", ""},
        {"/media/ann/stick/a", "/media/ann/stick", "5E6F-7A8B", "a"},
        {"/mnt/nas/docs", "/mnt/nas", "nas_data", "docs"},
        {"/mnt/nfs/x", "/mnt/nfs", "files_export_backup", "x"},
        {"//server/share/dir/sub", "//server/share", "server_share", "dir/sub"},
        {"rel/dir", "", "", "rel/dir"},
    };
    for (const TCase &c : cases) {
        const QString path = QString::fromUtf8(c.Path);
        EXPECT_EQ(DriveOfPath(path), QString::fromUtf8(c.Drive)) << c.Path;
        EXPECT_EQ(DriveNameOfPath(path), QString::fromUtf8(c.Name)) << c.Path;
        EXPECT_EQ(PathBelowDrive(path), QString::fromUtf8(c.Below)) << c.Path;
        if (*c.Drive == '/' && c.Drive[1] != '/') {
            EXPECT_EQ(DriveRootFromName(QString::fromUtf8(c.Name)), QString::fromUtf8(c.Drive)) << c.Path;
        }
    }
    EXPECT_EQ(DriveRootFromName(QStringLiteral("ROOT")), QStringLiteral("/"));
    EXPECT_EQ(DriveRootFromName(QStringLiteral("usb")), QStringLiteral("/media/ann/USB"));
    EXPECT_EQ(DriveRootFromName(QStringLiteral("1a2b-3c4d")), QStringLiteral("/media/ann/USB"));
    // A built-in disk found by its label (it was removable where the backup was made).
    EXPECT_EQ(DriveRootFromName(QStringLiteral("archive")), QStringLiteral("/opt/xfs"));
    EXPECT_EQ(DriveRootFromName(QStringLiteral("Gone")), QString());
}

TEST_F(DrivesTest, VolumesByLabel)
{
    QString root;
    FindDriveByLabel(QStringLiteral("usb"), 0, root);
    EXPECT_EQ(root, QStringLiteral("/media/ann/USB/"));
    FindDriveByLabel(QStringLiteral("USB"), 4, root); // past the stick in the mount table
    EXPECT_EQ(root, QString());
    // Only subvolumes of the pool are mounted: no root of it.
    FindDriveByLabel(QStringLiteral("pool"), 0, root);
    EXPECT_EQ(root, QString());
    EXPECT_EQ(VolumeLabelTarget(QStringLiteral("POOL"), QStringLiteral("/@data/x/")),
              QStringLiteral("/srv/data/x/"));
    EXPECT_EQ(VolumeLabelTarget(QStringLiteral("pool"), QStringLiteral("/@other")), QString());

    QString label;
    EXPECT_TRUE(GetVolumeLabel(QStringLiteral("/media/ann/USB/a/b"), label));
    EXPECT_EQ(label, QStringLiteral("USB"));
    EXPECT_TRUE(GetVolumeLabel(QStringLiteral("/"), label));
    EXPECT_EQ(label, QString());
    EXPECT_FALSE(GetVolumeLabel(QStringLiteral("/media/ann/Gone"), label));
    EXPECT_EQ(label, QStringLiteral("not available"));

    QString text;
    GetVolumeInfoText(QStringLiteral("/media/ann/USB/x"), 1, text);
    EXPECT_EQ(text, QStringLiteral("1A2B-3C4D"));
    GetFileSystemName(QStringLiteral("/srv/snap/y"), text);
    EXPECT_EQ(text, QStringLiteral("btrfs"));
    GetVolumeGuidPath(QStringLiteral("/home/"), text);
    EXPECT_EQ(text, QStringLiteral("/dev/sda3"));
    GetVolumeGuidPath(QStringLiteral("/home/ann"), text);
    EXPECT_EQ(text, QString());
    EXPECT_TRUE(IsUsbDrive(QStringLiteral("/media/ann/My Disk/x")));
    EXPECT_FALSE(IsUsbDrive(QStringLiteral("/home/ann")));
}

TEST_F(DrivesTest, FreeSpaceIsMeasuredOnTheVolumeOfThePath)
{
    const QString share = test::MakeTempDir(QStringLiteral("share"));
    QDir().mkpath(share + QStringLiteral("/docs"));
    FVolumes.SetMountInfo(test::TFakeVolumes::DefaultMountInfo() + "40 22 0:60 / " + share.toUtf8()
                          + " rw shared:20 - cifs //nas/photos rw\n");
    QStringList asked;
    QMutex lock;
    FVolumes.SetDiskSpace([&](const QString &path, int64_t &freeBytes, int64_t &totalBytes) -> uint32_t {
        QMutexLocker guard(&lock);
        asked << path;
        freeBytes = 7;
        totalBytes = 9;
        return 0;
    });
    int64_t freeBytes, totalBytes;
    // A folder still to be made is measured at its nearest existing parent.
    EXPECT_TRUE(GetDiskSpace(QStringLiteral("//NAS/photos/docs/new/"), freeBytes, totalBytes));
    EXPECT_EQ(freeBytes, 7);
    EXPECT_EQ(totalBytes, 9);
    EXPECT_EQ(asked, QStringList{share + QStringLiteral("/docs")});

    // Not mounted, or mounted on a point that is missing here: nothing is
    // measured, so the root file system's numbers are never shown for it.
    asked.clear();
    EXPECT_FALSE(GetDiskSpace(QStringLiteral("//other/share"), freeBytes, totalBytes));
    EXPECT_FALSE(GetDiskSpace(QStringLiteral("//nas/data/docs"), freeBytes, totalBytes));
    EXPECT_FALSE(GetDiskSpace(QStringLiteral("/media/ann/Gone/x"), freeBytes, totalBytes));
    EXPECT_EQ(freeBytes, 0);
    EXPECT_EQ(GetFreeDiskSpace(QStringLiteral("/media/ann/USB/x")), 0);
    EXPECT_TRUE(asked.isEmpty());
}

} // namespace
} // namespace vl
