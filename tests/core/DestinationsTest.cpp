#include "core/Destinations.h"

#include "core/MessageService.h"
#include "FakeVolumes.h"

#include <QMutex>

#include <atomic>
#include <chrono>
#include <future>

namespace vl {
namespace {

// Records the boxes and answers Retry/Cancel questions from a script.
class TScriptedMessages : public THeadlessMessageService {
public:
    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType DlgType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Hints << AHint;
        if (DlgType == TMsgDialogType::mdtConfirmRetry && OnRetryQuestion)
            return OnRetryQuestion() ? mrRetry : mrCancel;
        return mrCancel;
    }
    QStringList Hints;
    std::function<bool()> OnRetryQuestion;
};

class DestinationsTest : public ::testing::Test {
protected:
    DestinationsTest() { SetMessageService(&FMessages); }
    ~DestinationsTest() override { SetMessageService(nullptr); }

    test::TFakeVolumes FVolumes;
    TScriptedMessages FMessages;
};

TEST_F(DestinationsTest, ResolveVolumeLabelPaths)
{
    struct TCase {
        const char *Path;
        int Result;
        const char *Resolved;
        const char *Label;
    };
    const TCase cases[] = {
        {":usb:/Backup/Daily", 1, "/media/ann/USB/Backup/Daily", "usb"},
        {":USB:", 1, "/media/ann/USB/", "USB"},
        {":USB:/", 1, "/media/ann/USB/", "USB"},
        {":My Disk:/a", 1, "/media/ann/My Disk/a", "My Disk"},
        {":pool:/@data/d", 1, "/srv/data/d", "pool"},
        {":Missing:/x", 2, ":Missing:/x", ""},
        {"", 2, "", ""},
        {"/home/ann", 0, "/home/ann", ""},
        {":USB:Backup", 0, ":USB:Backup", ""}, // no label form: an ordinary (relative) name
    };
    for (const TCase &c : cases) {
        QString path = QString::fromUtf8(c.Path);
        QString label = QStringLiteral("stale");
        EXPECT_EQ(ResolveVolumeLabelPath(path, label, false), c.Result) << c.Path;
        EXPECT_EQ(path, QString::fromUtf8(c.Resolved)) << c.Path;
        EXPECT_EQ(label, QString::fromUtf8(c.Label)) << c.Path;
    }
    EXPECT_TRUE(IsVolumeLabelPathAvailable(QStringLiteral("/anything")));
    EXPECT_FALSE(IsVolumeLabelPathAvailable(QStringLiteral(":Missing:/x")));
    EXPECT_TRUE(FMessages.Hints.isEmpty());
}

TEST_F(DestinationsTest, MissingVolumeIsAskedForUntilItIsPluggedIn)
{
    FVolumes.SetMountInfo("22 1 8:2 / / rw - ext4 /dev/sda2 rw\n");
    FMessages.OnRetryQuestion = [this] {
        if (FMessages.Hints.size() == 2) // plugged in while the second question is open
            FVolumes.SetMountInfo(test::TFakeVolumes::DefaultMountInfo());
        return true;
    };
    EXPECT_EQ(ResolvedVolumePath(QStringLiteral(":usb:/Backup"), true), QStringLiteral("/media/ann/USB/Backup"));
    ASSERT_EQ(FMessages.Hints.size(), 2);
    EXPECT_EQ(FMessages.Hints[0], QStringLiteral("Volume \"usb\" not found!\nPlease insert medium!"));

    // Cancel: not found, the path stays as it was.
    FMessages.Hints.clear();
    FMessages.OnRetryQuestion = [] { return false; };
    EXPECT_EQ(ResolvedVolumePath(QStringLiteral(":Missing:/x"), true), QStringLiteral(":Missing:/x"));
    EXPECT_EQ(FMessages.Hints.size(), 1);
}

TEST_F(DestinationsTest, ToggleBetweenDriveAndLabelForm)
{
    for (const char *path : {"/media/ann/USB/Data", "/media/ann/USB/", "/srv/data/x", "/home/ann/Docs"}) {
        const QString original = QString::fromUtf8(path);
        const QString labelled = ToggleVolumeLabelPath(original);
        EXPECT_TRUE(labelled.startsWith(QLatin1Char(':'))) << path << " gave " << labelled.toStdString();
        EXPECT_EQ(ToggleVolumeLabelPath(labelled), original) << path;
    }
    EXPECT_EQ(ToggleVolumeLabelPath(QStringLiteral("/media/ann/USB/Data")), QStringLiteral(":USB:/Data"));
    EXPECT_EQ(ToggleVolumeLabelPath(QStringLiteral("/srv/data/x")), QStringLiteral(":pool:/@data/x"));
    EXPECT_EQ(PathWithVolumeLabel(QStringLiteral("/home/ann"), QStringLiteral("home")), QStringLiteral(":home:/ann"));
    EXPECT_EQ(PathWithVolumeLabel(QStringLiteral("/mnt/nas/x"), QStringLiteral("nas")), QStringLiteral("/mnt/nas/x"));
    EXPECT_TRUE(FMessages.Hints.isEmpty());

    // The root file system has no label; a network share is no local volume.
    EXPECT_EQ(ToggleVolumeLabelPath(QStringLiteral("/etc")), QString());
    EXPECT_EQ(ToggleVolumeLabelPath(QStringLiteral("/mnt/nas/x")), QString());
    EXPECT_EQ(FMessages.Hints,
              (QStringList{QStringLiteral("No volume name available for /"),
                           QStringLiteral("No volume name available for /mnt/nas")}));
}

TEST_F(DestinationsTest, ApplyDriveMapping)
{
    const char *const cases[][3] = {
        {"/home/ann", "/home=/run/snap/home", "/run/snap/home/ann"},
        {"/home", "/home/=/run/snap/home", "/run/snap/home"},
        {"/home/ann", "/=/run/snap/root", "/run/snap/root/home/ann"},
        {"/homework/x", "/home=/run/snap/home", "/homework/x"},
        {"/Home/ann", "/home=/run/snap/home", "/Home/ann"},
        {"/home/ann", "", "/home/ann"},
        {"/home/ann", "/home=", "/home/ann"},
        {"/home/ann", "=/x", "/home/ann"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ApplyDriveMapping(QString::fromUtf8(c[0]), QString::fromUtf8(c[1])), QString::fromUtf8(c[2]))
            << c[0] << " with " << c[1];
    }
}

TEST_F(DestinationsTest, DriveMappingLeavesPathsOnNestedMountsLive)
{
    // /proc is always a file system of its own below "/": a snapshot of
    // "/" does not hold it, so its paths must stay as they are; a path on
    // the folder's own file system is mapped.
    EXPECT_EQ(ApplyDriveMapping(QStringLiteral("/proc/self/status"), QStringLiteral("/=/run/snap/root")),
              QStringLiteral("/proc/self/status"));
    const QString dir = test::MakeTempDir();
    test::WriteBytes(dir + QStringLiteral("/f"), "x");
    EXPECT_EQ(ApplyDriveMapping(dir + QStringLiteral("/f"), dir + QStringLiteral("=/run/snap/t")),
              QStringLiteral("/run/snap/t/f"));
}

TEST_F(DestinationsTest, DriveSubfoldersAndTheirNames)
{
    const char *const cases[][4] = {
        // mask, path or drive, subfolder, name read back
        {"Drv?", "/", "Drvroot/", "root"},
        {"Drv?", "/home/ann", "Drvroot/", "root"},
        {"Drv?", "/media/ann/USB/Photos", "DrvUSB/", "USB"},
        {"Lw?", "/mnt/nas/x", "Lwnas_data/", "nas_data"},
        {"?-disk", "/media/ann/stick", "5E6F-7A8B-disk/", "5E6F-7A8B"},
        {"Disk", "/media/ann/USB", "DiskUSB/", ""},
        {"Drv?", "//nas/share/dir", "nas/share/", ""},
        {"Drv?", "relative/dir", "relative/dir/", ""},
        {"Drv?", "", "", ""},
    };
    for (const auto &c : cases) {
        const QString mask = QString::fromUtf8(c[0]);
        const QString subdir = DriveSubdirName(mask, QString::fromUtf8(c[1]));
        EXPECT_EQ(subdir, QString::fromUtf8(c[2])) << c[0] << " " << c[1];
        if (*c[3]) {
            EXPECT_EQ(DriveLetterFromSubdir(subdir, mask), QString::fromUtf8(c[3])) << c[2];
        }
    }
    // Folders that do not fit the mask name no drive.
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("Data"), QStringLiteral("Drv?")), QString());
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("Drv"), QStringLiteral("Drv?")), QString());
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("drvUSB"), QStringLiteral("Drv?")), QStringLiteral("USB"));
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("DiskUSB"), QStringLiteral("Disk")), QString());
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("USB-USB"), QStringLiteral("?-?")), QStringLiteral("USB"));
    EXPECT_EQ(DriveLetterFromSubdir(QStringLiteral("USB-EXT"), QStringLiteral("?-?")), QString());
}

TEST_F(DestinationsTest, BuildTargetDirForEveryLayoutMode)
{
    const QString dest = QStringLiteral("/media/ann/USB/BU");
    struct TSource {
        const char *Dir;
        const char *DriveFolder; // modes 0, 4, 5, 6
        const char *Below;       // modes 1, 7
        const char *Last;        // mode 3
    };
    const TSource sources[] = {
        {"/home/ann/Docs", "Drvroot/home/ann/Docs", "home/ann/Docs", "Docs"},
        {"/media/ann/My Disk/Photos", "DrvMy Disk/Photos", "Photos", "Photos"},
        {"/mnt/nfs/share", "Drvfiles_export_backup/share", "share", "share"},
        {"//nas/data/docs/x", "nas/data/docs/x", "docs/x", "x"},
        {"/", "Drvroot/", "", ""},
        {"sub/dir", "sub/dir", "sub/dir", "dir"},
    };
    for (const TSource &s : sources) {
        const QString dir = QString::fromUtf8(s.Dir);
        const QString base = dest + QLatin1Char('/');
        for (int mode : {0, 4, 5, 6})
            EXPECT_EQ(BuildTargetDir(mode, QStringLiteral("Drv?"), dest, dir), base + QString::fromUtf8(s.DriveFolder))
                << "mode " << mode << " " << s.Dir;
        for (int mode : {1, 7})
            EXPECT_EQ(BuildTargetDir(mode, QStringLiteral("Drv?"), dest, dir), base + QString::fromUtf8(s.Below))
                << "mode " << mode << " " << s.Dir;
        EXPECT_EQ(BuildTargetDir(2, QStringLiteral("Drv?"), dest, dir), base) << s.Dir;
        EXPECT_EQ(BuildTargetDir(3, QStringLiteral("Drv?"), dest, dir), base + QString::fromUtf8(s.Last)) << s.Dir;
    }
    EXPECT_EQ(BuildTargetDir(1, QStringLiteral("Drv?"), QString(), QStringLiteral("/home/ann")),
              QStringLiteral("home/ann"));
}

TEST_F(DestinationsTest, FileSystemOfDestination)
{
    const std::pair<const char *, TFileSystem> cases[] = {
        {"/media/ann/USB/x", TFileSystem::fsFat},
        {":usb:/x", TFileSystem::fsFat},
        {"/home/ann", TFileSystem::fsExt4},
        {"/srv/snap", TFileSystem::fsBTRFS},
        {"/opt/xfs/a", TFileSystem::fsExt4}, // no FAT limits on xfs
        {"/mnt/nas/x", TFileSystem::fsRemote},
        {"//nas/data/x", TFileSystem::fsRemote},
        {"//other/share", TFileSystem::fsRemote},
        {"/media/ann/Gone/x", TFileSystem::fsNotAvail},
        {":Missing:", TFileSystem::fsNotAvail},
        {"", TFileSystem::fsNotAvail},
    };
    for (const auto &[path, fs] : cases)
        EXPECT_EQ(FileSystemText(GetFileSystemType(QString::fromUtf8(path))), FileSystemText(fs)) << path;
}

TEST_F(DestinationsTest, StatusLineOfDestination)
{
    uint8_t kind = 9;
    const QString onStick = GetDestinationStatus(QStringLiteral(":USB:/BU"), kind);
    EXPECT_EQ(kind, 0);
    EXPECT_TRUE(onStick.startsWith(QStringLiteral("Backup destination on local drive /media/ann/USB/BU (")))
        << onStick.toStdString();
    EXPECT_TRUE(onStick.contains(QStringLiteral(" free of "))) << onStick.toStdString();

    EXPECT_EQ(GetDestinationStatus(QStringLiteral("//nas/data/BU"), kind), QStringLiteral("Backup destination on server"));
    EXPECT_EQ(kind, 1);
    for (const char *gone : {":Missing:/BU", "/media/ann/Gone/BU"}) {
        kind = 9;
        EXPECT_EQ(DestinationStatusText(QString::fromUtf8(gone)), QStringLiteral("Backup destination not available"));
        EXPECT_EQ(GetDestinationStatus(QString::fromUtf8(gone), kind), QStringLiteral("Backup destination not available"));
        EXPECT_EQ(kind, 2) << gone;
    }
}

TEST_F(DestinationsTest, ConnectDestination)
{
    QString dest = QStringLiteral(":usb:/BU");
    EXPECT_TRUE(ConnectDestination(QStringLiteral("Task"), dest, true));
    EXPECT_EQ(dest, QStringLiteral("/media/ann/USB/BU"));
    dest = QStringLiteral("/home/ann/BU");
    EXPECT_TRUE(ConnectDestination(QStringLiteral("Task"), dest, true));
    dest = QStringLiteral("/media/ann/Gone/BU");
    EXPECT_FALSE(ConnectDestination(QStringLiteral("Task"), dest, true));
    dest = QStringLiteral(":Missing:/BU");
    EXPECT_FALSE(ConnectDestination(QStringLiteral("Task"), dest, true));
    EXPECT_TRUE(FMessages.Hints.isEmpty()); // quiet: no question
    // A user without password: nobody answers the password question here.
    dest = QStringLiteral("//nas/data/BU");
    EXPECT_FALSE(ConnectDestinationAs(QStringLiteral("Task"), QStringLiteral("ann"), QString(), false, dest));
}

TEST_F(DestinationsTest, InformationFilesAndKeyModes)
{
    EXPECT_TRUE(IsBackupInfoFile(true, QStringLiteral("$timestamp.VLU")));
    EXPECT_TRUE(IsBackupInfoFile(true, QStringLiteral("/media/ann/USB/BU/VssBackupDoc.xml")));
    EXPECT_FALSE(IsBackupInfoFile(false, QStringLiteral("$TimeStamp.vlu")));
    EXPECT_FALSE(IsBackupInfoFile(true, QStringLiteral("x$TimeStamp.vlu")));
    EXPECT_TRUE(IsLinkInfoFile(QStringLiteral("Docs.VLLINK")));
    EXPECT_FALSE(IsLinkInfoFile(QStringLiteral("vllink")));
    EXPECT_EQ(CryptModeForPassword(QString()), 0);
    EXPECT_EQ(CryptModeForPassword(QString(15, QLatin1Char('x'))), 1);
    EXPECT_EQ(CryptModeForPassword(QString(16, QLatin1Char('x'))), 3);
}

TEST_F(DestinationsTest, FreeSpaceWorkerReportsToItsOwner)
{
    const QString dir = test::MakeTempDir(QStringLiteral("dest"));
    int calls = 0;
    int64_t seenFree = -1;
    const auto thread = TNetGetVolThread::Create(dir, [&](TNetGetVolThread &t) {
        ++calls;
        seenFree = t.fSuccess ? t.nFree : -1;
    });
    WaitUntil([&] { return calls > 0; }, 10);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenFree, 1024);
    EXPECT_EQ(thread->nTotal, 4096);
}

TEST_F(DestinationsTest, HungFreeSpaceQueryIsAbandonedAfterItsTimeOut)
{
    // The query blocks like a network mount that does not answer, until the
    // test lets it go.
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    auto returned = std::make_shared<std::atomic<bool>>(false);
    FVolumes.SetDiskSpace([released, returned](const QString &, int64_t &freeBytes, int64_t &totalBytes) -> uint32_t {
        released.wait();
        freeBytes = 5;
        totalBytes = 6;
        returned->store(true);
        return 0;
    });
    const QString dir = test::MakeTempDir(QStringLiteral("dest"));

    int64_t freeBytes = -1, totalBytes = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MeasureDiskSpace(dir, 100, freeBytes, totalBytes));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(freeBytes, 0);
    EXPECT_EQ(totalBytes, 0);

    // A worker abandoned by hand: once it comes back late it writes nothing
    // and its owner is not called.
    bool called = false;
    const auto thread = TNetGetVolThread::Create(dir, [&](TNetGetVolThread &) { called = true; });
    EXPECT_FALSE(thread->WaitFor(50));
    thread->Abandon();
    release->set_value();
    WaitUntil([&] { return thread->Done(); }, 10);
    ProcessMessages();
    EXPECT_TRUE(returned->load());
    EXPECT_FALSE(called);
    EXPECT_FALSE(thread->fSuccess);
    EXPECT_EQ(thread->nFree, 0);
}

} // namespace
} // namespace vl
