#include "common/TestUtils.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vl;

VL_VERSION_RECORD(kTestVersionRecord, "Velkor Test Maker", "Velkor system tests  ", VL_FILE_VERSION, "test_platform",
                  "(C) Test Maker", "");

namespace {

QStringList ReadLines(const QString &path)
{
    QString text = QString::fromUtf8(test::ReadBytes(path));
    EXPECT_TRUE(text.endsWith(QLatin1Char('\n'))) << "every entry ends its line";
    text.chop(1);
    return text.split(QLatin1Char('\n'));
}

void ExpectSameInfo(const TFileVersionInfo &info)
{
    EXPECT_EQ(info.Version, QStringLiteral(VL_FILE_VERSION));
    EXPECT_EQ(info.Company, QStringLiteral("Velkor Test Maker"));
    EXPECT_EQ(info.Description, QStringLiteral("Velkor system tests")); // trailing blanks go
    EXPECT_EQ(info.InternalName, QStringLiteral("test_platform"));
    EXPECT_EQ(info.Copyright, QStringLiteral("(C) Test Maker"));
    EXPECT_EQ(info.Comments, QString());
}

} // namespace

TEST(SystemPower, RequestsGoToDryRunFileOnly)
{
    const QString file = test::MakeTempDir() + QStringLiteral("/power.txt");
    test::TScopedEnv dry{{"VELKOR_POWER_DRYRUN", file.toUtf8()}};

    EXPECT_EQ(RequestPowerAction(TPowerAction::PowerOff), ERROR_SUCCESS);
    EXPECT_EQ(RequestPowerAction(TPowerAction::Reboot, true), ERROR_SUCCESS);
    EXPECT_EQ(RequestPowerAction(TPowerAction::LockSession), ERROR_SUCCESS);
    EXPECT_EQ(RequestPowerAction(TPowerAction::TerminateSession), ERROR_SUCCESS);
    uint32_t error = 99;
    EXPECT_TRUE(SuspendComputer(false, true, true, &error));
    EXPECT_EQ(error, ERROR_SUCCESS);
    EXPECT_TRUE(SuspendComputer(true, false, false));

    EXPECT_FALSE(ClearShutdownBlockReason()) << "nothing held yet";
    EXPECT_TRUE(SetShutdownBlockReason(QStringLiteral("Backup running")));
    EXPECT_TRUE(SetShutdownBlockReason(QStringLiteral("Backup: 2nd task")));
    EXPECT_TRUE(ClearShutdownBlockReason());
    EXPECT_FALSE(ClearShutdownBlockReason());
    EXPECT_TRUE(SetKeepAwake(true, QStringLiteral("Backup")));
    EXPECT_TRUE(ClearKeepAwake());

    const QString who = QCoreApplication::applicationName();
    const QStringList expected = {
        QStringLiteral("PowerOff(false)"),
        QStringLiteral("Reboot(true)"),
        QStringLiteral("LockSession(\"\")"),
        QStringLiteral("TerminateSession(\"\")"),
        QStringLiteral("Suspend(false)"),
        QStringLiteral("Hibernate(false)"),
        QStringLiteral("Inhibit(\"shutdown\", \"%1\", \"Backup running\", \"block\")").arg(who),
        QStringLiteral("Inhibit(\"shutdown\", \"%1\", \"Backup: 2nd task\", \"block\")").arg(who),
        QStringLiteral("CloseInhibitor(\"shutdown\")"),
        QStringLiteral("Inhibit(\"sleep:idle\", \"%1\", \"Backup\", \"block\")").arg(who),
        QStringLiteral("CloseInhibitor(\"sleep:idle\")"),
    };
    EXPECT_EQ(ReadLines(file), expected);

    // A dry-run file that cannot be written is an error, never a real request.
    test::TScopedEnv bad{{"VELKOR_POWER_DRYRUN", (test::TestRoot() + QStringLiteral("/missing/power.txt")).toUtf8()}};
    QString detail;
    EXPECT_EQ(RequestPowerAction(TPowerAction::PowerOff, false, &detail), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(detail.isEmpty());
    EXPECT_FALSE(SetShutdownBlockReason(QStringLiteral("x")));
}

TEST(SystemPower, MissingBusFailsSoftly)
{
    // Two guards keep this away from any real logind: no dry-run file, a
    // bus address that leads nowhere, and the same for the default bus.
    const QString nowhere = QStringLiteral("unix:path=") + test::MakeTempDir() + QStringLiteral("/no-bus");
    test::TScopedEnv dry{{"VELKOR_POWER_DRYRUN", QByteArray()}};
    test::TScopedEnv sysBus{{"DBUS_SYSTEM_BUS_ADDRESS", nowhere.toUtf8()}};
    SetSystemBusAddressForTesting(nowhere);

    QString detail;
    EXPECT_EQ(RequestPowerAction(TPowerAction::PowerOff, false, &detail), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(detail.isEmpty());
    EXPECT_STREQ(SysErrorText(ERROR_SERVICE_NOT_ACTIVE), "The service has not been started");
    uint32_t error = 0;
    EXPECT_FALSE(SuspendComputer(true, false, false, &error));
    EXPECT_EQ(error, ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(SetShutdownBlockReason(QStringLiteral("Backup running")));
    EXPECT_FALSE(ClearShutdownBlockReason());
    EXPECT_FALSE(SetKeepAwake(false, QStringLiteral("Backup")));

    SetSystemBusAddressForTesting(QString());
}

TEST(SystemEventLog, EntriesGoToTheNamedFile)
{
    const QString file = test::MakeTempDir() + QStringLiteral("/events.log");
    test::TScopedEnv log{{"VELKOR_EVENTLOG", file.toUtf8()}};

    EXPECT_EQ(WriteEventLog(QStringLiteral("Velkor"), eltError, 1, 0xC000000E, {QStringLiteral("/tasks/a b.buj")}), 0u);
    EXPECT_EQ(WriteEventLog(QStringLiteral("VlStarter"), eltWarning, 2, 0x12,
                            {QStringLiteral("50% %1 done\nnext"), QStringLiteral("C:\\x")}),
              0u);
    EXPECT_EQ(WriteEventLog(QString(), eltInformation, 0, 7), 0u);

    const QStringList lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 3);
    const QString stamp = QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d )");
    const QString pid = QString::number(getpid());
    const QString expected[] = {
        QStringLiteral("Velkor[") + pid + QStringLiteral("] error 1 0xC000000E: /tasks/a b.buj"),
        QStringLiteral("VlStarter[") + pid + QStringLiteral("] warning 2 0x00000012: 50% %1 done\\nnext\\nC:\\\\x"),
        QStringLiteral("Velkor[") + pid + QStringLiteral("] information 0 0x00000007: "),
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(QRegularExpression(stamp).match(lines[i]).hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(lines[i].mid(20), expected[i]);
    }

    test::TScopedEnv bad{{"VELKOR_EVENTLOG", (test::TestRoot() + QStringLiteral("/missing/events.log")).toUtf8()}};
    EXPECT_EQ(WriteEventLog(QStringLiteral("Velkor"), eltError, 1, 1), ERROR_PATH_NOT_FOUND);
}

TEST(SystemIdentity, SidAndAdminFollowTheProcessUser)
{
    EXPECT_EQ(UserSidText(), QStringLiteral("S-1-22-1-%1").arg(geteuid()));
    if (geteuid() != 0)
        GTEST_SKIP() << "the admin cases need root to switch users";
    EXPECT_TRUE(IsAdminGroupMember());
    EXPECT_TRUE(IsProcessElevated());
    test::RunUnprivileged([] {
        EXPECT_EQ(UserSidText(), QStringLiteral("S-1-22-1-%1").arg(test::kNobodyUid));
        EXPECT_EQ(LogonUserName(), QStringLiteral("nobody"));
        EXPECT_FALSE(IsAdminGroupMember());
        EXPECT_FALSE(IsProcessElevated());
    });

    // An unprivileged user in the sudo group counts as an administrator.
    group *sudo = getgrnam("sudo");
    if (!sudo)
        GTEST_SKIP() << "no sudo group on this system";
    const gid_t sudoGid = sudo->gr_gid;
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(1, &sudoGid) != 0 || setgid(test::kNobodyGid) != 0 || setuid(test::kNobodyUid) != 0)
            _exit(3);
        _exit(IsAdminGroupMember() && !IsProcessElevated() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not switch users, 1: not seen as administrator";
}

TEST(SystemSessions, InteractiveSessionsWithOtherProcesses)
{
    const QString root = test::MakeTempDir();
    const QString sessions = root + QStringLiteral("/sessions");
    const QString proc = root + QStringLiteral("/proc");
    QDir().mkpath(sessions);
    auto session = [&](const char *id, const char *body) {
        test::WriteBytes(sessions + QLatin1Char('/') + QLatin1String(id), body);
    };
    auto process = [&](const char *pid, const char *cgroup) {
        QDir().mkpath(proc + QLatin1Char('/') + QLatin1String(pid));
        test::WriteBytes(proc + QLatin1Char('/') + QLatin1String(pid) + QStringLiteral("/cgroup"), cgroup);
    };
    session("9", "# private\nUSER=me\nACTIVE=1\nSTATE=active\nREMOTE=0\nCLASS=user\nREALTIME=1700000000000000\n");
    session("2", "USER=alice\nACTIVE=0\nSTATE=online\nREMOTE=0\nCLASS=user\nREALTIME=1600000000000000\n");
    session("3", "USER=bob\nACTIVE=1\nSTATE=active\nREMOTE=1\nCLASS=user\n");
    session("c1", "USER=lightdm\nACTIVE=1\nSTATE=active\nCLASS=greeter\n");
    session("5", "USER=carol\nACTIVE=0\nSTATE=closing\nCLASS=user\n");
    session("7", "USER=dave\nACTIVE=0\nSTATE=online\nCLASS=user\n");
    process("100", "0::/user.slice/user-1000.slice/session-9.scope\n"); // this process
    process("101", "0::/user.slice/user-1001.slice/session-2.scope\n");
    process("102", "2:cpu:/\n1:name=systemd:/user.slice/user-1002.slice/session-3.scope\n"); // cgroup v1
    process("103", "0::/user.slice/user-113.slice/session-c1.scope\n");
    process("104", "0::/user.slice/user-1003.slice/session-5.scope\n");
    process("105", "0::/system.slice/cron.service\n");
    process("106", "0::/user.slice/user-1001.slice/session-2.scope\n");
    ASSERT_TRUE(QFile::link(QStringLiteral("100"), proc + QStringLiteral("/self")));

    QList<TLogonSession> list;
    ASSERT_TRUE(ListLogonSessions(list, sessions, proc));
    ASSERT_EQ(list.size(), 2) << "session 9 holds only this process; greeter, closing and empty ones do not count";
    EXPECT_EQ(list[0].Id, QStringLiteral("2"));
    EXPECT_EQ(list[0].UserName, QStringLiteral("alice"));
    EXPECT_EQ(list[0].RealtimeUsec, 1600000000000000);
    EXPECT_FALSE(list[0].Remote);
    EXPECT_EQ(list[1].Id, QStringLiteral("3"));
    EXPECT_TRUE(list[1].Remote);

    TLogonSession own;
    ASSERT_TRUE(CurrentLogonSession(own, sessions, proc));
    EXPECT_EQ(own.Id, QStringLiteral("9"));
    EXPECT_EQ(own.UserName, QStringLiteral("me"));
    EXPECT_EQ(own.RealtimeUsec, 1700000000000000);

    // A program the desktop started in a scope of its own belongs to the
    // graphical session of its user; a background session stays its own.
    const QString users = root + QStringLiteral("/users");
    QDir().mkpath(users);
    test::WriteBytes(users + QLatin1Char('/') + QString::number(geteuid()), "NAME=me\nDISPLAY=9\nSESSIONS=9 c1\n");
    process("100", "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-velkor-100.scope\n");
    ASSERT_TRUE(CurrentLogonSession(own, sessions, proc, users));
    EXPECT_EQ(own.Id, QStringLiteral("9"));
    EXPECT_FALSE(CurrentLogonSession(own, sessions, proc, root + QStringLiteral("/none")));
    process("100", "0::/user.slice/user-113.slice/session-c1.scope\n");
    EXPECT_FALSE(CurrentLogonSession(own, sessions, proc, users));
    process("100", "0::/user.slice/user-1000.slice/session-9.scope\n");

    // The own session must be active; no logind state at all is "unknown".
    session("9", "USER=me\nACTIVE=0\nSTATE=online\nCLASS=user\n");
    EXPECT_FALSE(CurrentLogonSession(own, sessions, proc));
    EXPECT_TRUE(own.Id.isEmpty());
    EXPECT_FALSE(ListLogonSessions(list, root + QStringLiteral("/none"), proc));
    EXPECT_TRUE(list.isEmpty());
}

TEST(SystemVersionRecord, FoundInOwnExecutable)
{
    TFileVersionInfo info;
    ASSERT_TRUE(ReadFileVersionInfo(QStringLiteral("/proc/self/exe"), info));
    ExpectSameInfo(info);
    EXPECT_EQ(ReadFileVersionText(QStringLiteral("/proc/self/exe"), QStringLiteral("0.0")), QStringLiteral("6.0.0"));
}

TEST(SystemVersionRecord, FoundInFileAcrossReadBoundary)
{
    const QByteArray record(kTestVersionRecord, sizeof(kTestVersionRecord)); // with its NUL
    const QByteArray prefix = record.left(record.indexOf(':') + 1);
    // Decoys: the bare prefix (as a reader's own code holds it) and one
    // with no version; the record itself straddles the first MiB.
    QByteArray data = prefix + '\0' + "junk" + prefix + "x.1\nCompanyName=Wrong\n" + '\0';
    data += QByteArray((1 << 20) - 40 - data.size(), 'z');
    data += record + QByteArray(100, '\0') + prefix + "9.9\n";
    const QString dir = test::MakeTempDir();
    test::WriteBytes(dir + QStringLiteral("/prog"), data);

    TFileVersionInfo info;
    ASSERT_TRUE(ReadFileVersionInfo(dir + QStringLiteral("/prog"), info));
    ExpectSameInfo(info);

    test::WriteBytes(dir + QStringLiteral("/plain"), prefix + "\n" + QByteArray(5000, 'q'));
    for (const QString &name : {QStringLiteral("/plain"), QStringLiteral("/missing")}) {
        info.Company = QStringLiteral("stale");
        EXPECT_FALSE(ReadFileVersionInfo(dir + name, info)) << name.toStdString();
        EXPECT_TRUE(info.Company.isEmpty());
        EXPECT_EQ(ReadFileVersionText(dir + name, QStringLiteral("1.2")), QStringLiteral("1.2"));
    }
}
