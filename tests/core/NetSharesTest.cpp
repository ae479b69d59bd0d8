#include "core/NetShares.h"

#include "common/TestUtils.h"
#include "core/PasswordService.h"
#include "platform/SysErrors.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

using namespace vl;

namespace {

// Answers password questions from a script; Cancel when it runs out.
class TScriptedPasswords : public IPasswordService {
public:
    std::deque<QString> Answers;
    QStringList Prompts;

    TModalResult AskPassword(QPoint, const QString &, const QString &Prompt, bool, bool, QString &Pwd,
                             int32_t &) override
    {
        Prompts << Prompt;
        if (Answers.empty())
            return mrCancel;
        Pwd = Answers.front();
        Answers.pop_front();
        return mrOk;
    }
    bool AskNewPassword(QPoint, const QString &, QString &, bool, bool, int32_t) override { return false; }
    bool AskCryptPassword(const QString &, const QString &, QString &, int32_t) override { return false; }
};

// A mount table with one cifs and one nfs share, a gvfs folder, and a fake
// gio whose answers the test scripts; a successful fake mount of
// smb://nas/data appears in the gvfs folder as gio's would.
class NetSharesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FRoot = test::MakeTempDir(QStringLiteral("netshares"));
        FGvfs = FRoot + QStringLiteral("/gvfs");
        QDir().mkpath(FGvfs);
        QDir().mkpath(FRoot + QStringLiteral("/mnt/cifs/docs"));
        test::WriteBytes(FRoot + QStringLiteral("/mountinfo"),
                         "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                         "40 21 0:50 / " + FRoot.toUtf8() + "/mnt/cifs rw - cifs //Office/Public rw\n"
                         "41 21 0:51 / " + FRoot.toUtf8() + "/mnt/nfs rw - nfs4 nas:/srv/export rw\n");
        TVolumeSources sources;
        sources.MountInfoFile = FRoot + QStringLiteral("/mountinfo");
        sources.ByLabelDir = sources.ByUuidDir = sources.SysBlockDir = FRoot + QStringLiteral("/none");
        SetVolumeSourcesForTesting(&sources);

        TNetShareSystem system;
        system.GvfsDir = [this] { return FGvfs; };
        system.GioAvailable = [this] { return FGioAvailable; };
        system.RunGio = [this](const TGioMountRequest &r) {
            FRequests.push_back(r);
            const uint32_t code = FGioResults.empty() ? ERROR_SUCCESS : FGioResults.front();
            if (!FGioResults.empty())
                FGioResults.pop_front();
            if (code == ERROR_SUCCESS && !r.Unmount)
                QDir().mkpath(FGvfs + QStringLiteral("/smb-share:server=nas,share=data"));
            return code;
        };
        system.Pause = [this](int ms) { FPauses.push_back(ms); };
        SetNetShareSystem(system);
        SetPasswordService(&FPasswords);
    }
    void TearDown() override
    {
        ReleaseNetworkShare();
        SetPasswordService(nullptr);
        SetNetShareSystem({});
        SetVolumeSourcesForTesting(nullptr);
    }

    QString FRoot, FGvfs;
    bool FGioAvailable = true;
    std::deque<uint32_t> FGioResults;
    std::vector<TGioMountRequest> FRequests;
    std::vector<int> FPauses;
    TScriptedPasswords FPasswords;
};

TEST_F(NetSharesTest, NetworkPathsMapToTheirMountPoints)
{
    QDir().mkpath(FGvfs + QStringLiteral("/smb-share:server=backup,share=weekly%20sets,user=ann"));
    const struct {
        const char *path;
        QString local; // empty: not mounted
    } cases[] = {
        {"//office/public/docs/a.txt", FRoot + QStringLiteral("/mnt/cifs/docs/a.txt")}, // SMB names ignore case
        {"//Office/Public/", FRoot + QStringLiteral("/mnt/cifs/")},
        {"//nas/srv/export/photos", FRoot + QStringLiteral("/mnt/nfs/photos")},
        {"//NAS/srv/export", FRoot + QStringLiteral("/mnt/nfs")},
        {"//nas/srv/Export/photos", QString()}, // nfs export paths keep case
        {"//nas/srv", QString()},               // above the export
        {"//backup/Weekly Sets/x", FGvfs + QStringLiteral("/smb-share:server=backup,share=weekly%20sets,user=ann/x")},
        {"//other/data", QString()},
        {"/home/ann", QStringLiteral("/home/ann")}, // not a network path
    };
    for (const auto &c : cases)
        EXPECT_EQ(ResolveSharePath(QString::fromUtf8(c.path)), c.local) << c.path;
}

TEST_F(NetSharesTest, MountedSharesAreConnectedWithoutMounting)
{
    EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//office/public/docs"), QString(), {}, false, true), 0);
    EXPECT_EQ(GetConnectedShare(), QStringLiteral("//office/public"));
    // A local path on a network mount is connected as it is, and its share
    // is the mount's source.
    EXPECT_EQ(ConnectNetworkShare(FRoot + QStringLiteral("/mnt/nfs/photos"), QString(), {QStringLiteral("bob"), {}},
                                  false, true),
              0);
    EXPECT_EQ(GetConnectedShare(), QStringLiteral("nas:/srv/export"));
    QString user;
    EXPECT_FALSE(GetConnectedUser(user)) << "a mount of the user is never ours to unmount";
    // A local path on no network mount.
    EXPECT_EQ(ConnectNetworkShare(FRoot, QString(), {}, false, true), int32_t(ERROR_NOT_CONNECTED));
    EXPECT_TRUE(GetConnectedShare().isEmpty());
    EXPECT_TRUE(FRequests.empty());
    EXPECT_TRUE(FPasswords.Prompts.isEmpty());
}

TEST_F(NetSharesTest, UnmountedShareWithoutGioIsAClearError)
{
    FGioAvailable = false;
    EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data/x"), QStringLiteral("ann"),
                                  {QStringLiteral("ann"), QStringLiteral("pw")}, false, true),
              int32_t(ERROR_SHARE_NOT_MOUNTED));
    EXPECT_TRUE(FRequests.empty());
    EXPECT_TRUE(FPasswords.Prompts.isEmpty()) << "a password cannot mount what cannot be mounted";
    EXPECT_TRUE(QString::fromUtf8(SysErrorText(ERROR_SHARE_NOT_MOUNTED)).contains(QStringLiteral("mount it")));
    EXPECT_FALSE(ReconnectNetworkPath(QStringLiteral("//nas/data")));
    EXPECT_FALSE(IsDriveAvailable(QStringLiteral("//nas/data")));
    EXPECT_TRUE(IsDriveAvailable(QStringLiteral("//office/public")));
}

TEST_F(NetSharesTest, AccountConnectionRetriesBrokenConnectionsAndIsReleased)
{
    FGioResults = {ERROR_NETNAME_DELETED, ERROR_NETNAME_DELETED, ERROR_SUCCESS};
    EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data/daily"), QString(),
                                  {QStringLiteral("WORK\\ann"), QStringLiteral("secret")}, false, false),
              0);
    ASSERT_EQ(FRequests.size(), 3u);
    EXPECT_EQ(FPauses, (std::vector<int>{1000, 1000}));
    EXPECT_EQ(FRequests[0].Uri, QStringLiteral("smb://nas/data"));
    EXPECT_EQ(FRequests[0].User, QStringLiteral("WORK\\ann"));
    EXPECT_EQ(FRequests[0].Password, QStringLiteral("secret"));
    EXPECT_TRUE(FRequests[0].WithPassword);
    EXPECT_EQ(GetConnectedShare(), QStringLiteral("//nas/data"));
    QString user;
    EXPECT_TRUE(GetConnectedUser(user));
    EXPECT_EQ(user, QStringLiteral("WORK\\ann"));

    EXPECT_EQ(ReleaseNetworkShare(), 0);
    ASSERT_EQ(FRequests.size(), 4u);
    EXPECT_TRUE(FRequests[3].Unmount);
    EXPECT_EQ(FRequests[3].Uri, QStringLiteral("smb://nas/data"));
    EXPECT_FALSE(GetConnectedUser(user));
    EXPECT_EQ(ReleaseNetworkShare(), -1) << "nothing left to release";
}

TEST_F(NetSharesTest, WithoutAccountTheDefaultUserIsTriedWithoutPassword)
{
    FGioResults = {ERROR_BAD_NETPATH};
    EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data"), QStringLiteral("ann"), {}, false, true),
              int32_t(ERROR_BAD_NETPATH));
    ASSERT_EQ(FRequests.size(), 1u);
    EXPECT_EQ(FRequests[0].User, QStringLiteral("ann"));
    EXPECT_FALSE(FRequests[0].WithPassword);
    EXPECT_TRUE(FPasswords.Prompts.isEmpty()) << "a missing server gets no dialog";
    // No account and no default user: a logon failure, or the question.
    EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data"), QString(), {}, false, false),
              int32_t(ERROR_LOGON_FAILURE));
    EXPECT_EQ(FRequests.size(), 1u);
}

// The question is repeated only while the password is refused; any other
// error ends it (a broken server must not keep the run asking forever).
TEST_F(NetSharesTest, InteractiveConnectLoopLeavesOnNonCredentialErrors)
{
    const struct {
        std::deque<QString> passwords;
        std::deque<uint32_t> gio; // after the first attempt, which the default user's mount fails
        int32_t result;
        int questions;
    } cases[] = {
        {{QStringLiteral("a"), QStringLiteral("b")}, {ERROR_LOGON_FAILURE, ERROR_SUCCESS}, 0, 2},
        {{QStringLiteral("a"), QStringLiteral("b")}, {ERROR_LOGON_FAILURE, ERROR_TIMEOUT}, int32_t(ERROR_TIMEOUT), 2},
        {{QStringLiteral("a"), QStringLiteral("b")}, {ERROR_SHARE_NOT_MOUNTED}, int32_t(ERROR_SHARE_NOT_MOUNTED), 1},
        {{QStringLiteral("a")}, {ERROR_ACCESS_DENIED}, int32_t(ERROR_CANCELLED), 2},
        {{}, {}, int32_t(ERROR_CANCELLED), 1}, // the headless answer
    };
    for (const auto &c : cases) {
        QDir(FGvfs + QStringLiteral("/smb-share:server=nas,share=data")).removeRecursively();
        FPasswords.Answers = c.passwords;
        FPasswords.Prompts.clear();
        FGioResults = c.gio;
        FGioResults.push_front(ERROR_LOGON_FAILURE);
        EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data"), QStringLiteral("ann"), {}, true, true), c.result);
        EXPECT_EQ(FPasswords.Prompts.size(), c.questions);
        EXPECT_EQ(GetConnectedShare().isEmpty(), c.result != 0);
    }
    EXPECT_TRUE(FPasswords.Prompts.value(0).contains(QStringLiteral("\"ann\"")));
    // The answered password reaches gio with the default user.
    EXPECT_TRUE(std::any_of(FRequests.begin(), FRequests.end(), [](const TGioMountRequest &r) {
        return r.WithPassword && r.User == QStringLiteral("ann") && r.Password == QStringLiteral("b");
    }));
}

TEST_F(NetSharesTest, InteractiveConnectionToReadOnlyShareFailsTheWriteTest)
{
    test::ChownTree(FRoot);
    test::RunUnprivileged([&] {
        FPasswords.Answers = {QStringLiteral("pw")};
        FGioResults = {ERROR_LOGON_FAILURE, ERROR_SUCCESS};
        TNetShareSystem system;
        system.GvfsDir = [this] { return FGvfs; };
        system.GioAvailable = [] { return true; };
        system.RunGio = [this](const TGioMountRequest &) {
            const uint32_t code = FGioResults.front();
            FGioResults.pop_front();
            const QString share = FGvfs + QStringLiteral("/smb-share:server=nas,share=data");
            if (code == ERROR_SUCCESS && QDir().mkpath(share))
                chmod(QFile::encodeName(share).constData(), 0555);
            return code;
        };
        SetNetShareSystem(system);
        EXPECT_EQ(ConnectNetworkShare(QStringLiteral("//nas/data"), QStringLiteral("ann"), {}, false, true),
                  int32_t(ERROR_ACCESS_DENIED));
    });
}

TEST(NetSharesWriteTest, WriteTestNeverTouchesExistingFiles)
{
    const QString dir = test::MakeTempDir(QStringLiteral("writetest"));
    // Every name but one is taken, so whatever number the test starts with,
    // it has to move on to the free one.
    for (int i = 0; i < 1000; ++i) {
        if (i != 500)
            test::WriteBytes(dir + QStringLiteral("/test-%1.tmp").arg(i, 3, 10, QLatin1Char('0')), "mine");
    }
    EXPECT_TRUE(TestWriteAccess(dir));
    EXPECT_EQ(test::ReadBytes(dir + QStringLiteral("/test-000.tmp")), "mine");
    EXPECT_EQ(test::ReadBytes(dir + QStringLiteral("/test-999.tmp")), "mine");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 999);
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/test-500.tmp")));

    // All names taken: no test is possible, and nothing is overwritten.
    test::WriteBytes(dir + QStringLiteral("/test-500.tmp"), "mine");
    EXPECT_FALSE(TestWriteAccess(dir));
    EXPECT_EQ(test::ReadBytes(dir + QStringLiteral("/test-500.tmp")), "mine");

    // Folders created for the test go again; the existing parent stays.
    EXPECT_TRUE(TestWriteAccess(dir + QStringLiteral("/new/deeper")));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/new")));
    EXPECT_TRUE(QFile::exists(dir));
}

TEST(NetSharesGioTest, GioMessagesGiveErrorNumbers)
{
    const struct {
        int exitCode;
        const char *output;
        uint32_t error;
    } cases[] = {
        {0, "", ERROR_SUCCESS},
        {2, "gio: smb://nas/data/: Location is already mounted\n", ERROR_SUCCESS},
        {2, "Password: gio: smb://nas/data/: Failed to mount Windows share: Permission denied\n", ERROR_LOGON_FAILURE},
        {2, "Authentication Required\nPassword:\ngio: smb://nas/data/: Password dialog cancelled\n", ERROR_LOGON_FAILURE},
        {2, "gio: smb://nas/data/: Failed to mount Windows share: Permission denied\n", ERROR_LOGON_FAILURE},
        {2, "gio: smb://nas/data/: Failed to retrieve share list from server: No such file or directory\n",
         ERROR_BAD_NETPATH},
        {2, "gio: smb://timeout-nas/data/: Failed to mount Windows share: Connection refused\n", ERROR_BAD_NETPATH},
        {2, "gio: smb://nas/data/: Timeout was reached\n", ERROR_NETNAME_DELETED},
        {2, "gio: smb://nas/data/: The specified location is not supported\n", ERROR_SHARE_NOT_MOUNTED},
        {2, "", ERROR_SHARE_NOT_MOUNTED},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GioMountError(c.exitCode, QString::fromUtf8(c.output)), c.error) << c.output;
}

} // namespace
