#include "app/SingleInstance.h"

#include "app/CommandLine.h"

#include "common/TestUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

namespace vl {
namespace {

using test::MakeTempDir;
using test::TScopedEnv;
using test::WriteBytes;

// Runs Fn (a later process's side) in a thread while this thread serves the
// first instance's event loop.
template <class F>
auto WhileServing(F &&Fn) -> decltype(Fn())
{
    std::optional<decltype(Fn())> result;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = Fn();
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    QCoreApplication::processEvents();
    return *result;
}

struct TReceived {
    int Mode = -1;
    QString FileName;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void StartFirst(TInstanceManager &First)
    {
        uint8_t flags = 0;
        ASSERT_EQ(First.StartUp(flags, {}), TStartOutcome::soFirst) << First.Error().toStdString();
        ASSERT_TRUE(First.IsListening()) << First.Error().toStdString();
        First.SetHandOverCallback([this](int Mode, const QString &FileName) {
            HandOvers.push_back({Mode, FileName});
        });
        First.SetShowCallback([this] { ++Shows; });
    }

    std::vector<TReceived> HandOvers;
    int Shows = 0;
};

QString MakeTaskFile(const QString &Dir, const QString &Name)
{
    const QString path = Dir + QLatin1Char('/') + Name;
    QDir().mkpath(QFileInfo(path).path());
    WriteBytes(path, "[Task]\n");
    return path;
}

TEST_F(SingleInstanceTest, LaterStartsHandOverOrShowOrRunThemselves)
{
    TInstanceManager first;
    StartFirst(first);
    const QString dir = MakeTempDir(QStringLiteral("tasks"));
    const QString cuj = MakeTaskFile(dir, QStringLiteral("clean.cuj"));
    const QString buj = MakeTaskFile(dir, QStringLiteral("daily.buj"));
    const QString bak = MakeTaskFile(dir, QStringLiteral("daily.bak"));
    const QString vfj = MakeTaskFile(dir, QStringLiteral("check.VFJ"));
    MakeTaskFile(dir, QStringLiteral("sub/restore.rsj"));
    const QString deep = MakeTaskFile(dir, QString(120, QLatin1Char('d')) + QLatin1Char('/') +
                                               QString(120, QLatin1Char('e')) + QStringLiteral("/long.cuj"));
    ASSERT_GT(deep.size(), 255);
    ASSERT_TRUE(QDir::setCurrent(dir));

    constexpr auto none = std::optional<TStartChoice>();
    struct TCase {
        const char *Name;
        QStringList Args;
        uint8_t Flags;
        std::optional<TStartChoice> Answer; // unset: no dialog (headless)
        TStartOutcome Outcome;
        uint8_t FlagsAfter;
        int Mode;          // -1: nothing handed over
        QString Received;  // file name the first instance gets
        QString Asked;     // file name the dialog is asked with; empty: not asked
        int ShowsAfter;
    } cases[] = {
        {"plain start", {}, 0, none, TStartOutcome::soEnd, 0, -1, {}, {}, 1},
        {"plain auto start", {QStringLiteral("/auto")}, kPreScanAuto, none, TStartOutcome::soEnd, kPreScanAuto, -1,
         {}, {}, 0},
        {"cleanup task, no dialog", {cuj}, 0, TStartChoice::scCancel, TStartOutcome::soEnd, 0, 0, cuj, {}, 1},
        {"verify task under auto", {QStringLiteral("/auto"), vfj}, kPreScanAuto, none, TStartOutcome::soEnd,
         kPreScanAuto, 0, vfj, {}, 0},
        {"relative name made absolute", {QStringLiteral("sub/restore.rsj")}, 0, none, TStartOutcome::soEnd, 0, 0,
         dir + QStringLiteral("/sub/restore.rsj"), {}, 1},
        {"path over 255 characters", {deep}, 0, none, TStartOutcome::soEnd, 0, 0, deep, {}, 1},
        {"control panel", {bak}, 0, TStartChoice::scControlPanel, TStartOutcome::soEnd, 0, 1, bak, buj, 1},
        {"edit", {buj}, 0, TStartChoice::scEdit, TStartOutcome::soEnd, 0, 0, buj, buj, 1},
        {"headless: opened, never run", {buj}, 0, none, TStartOutcome::soEnd, 0, 0, buj, {}, 1},
        {"cancel", {buj}, 0, TStartChoice::scCancel, TStartOutcome::soEnd, 0, -1, {}, buj, 0},
        {"start backup", {buj}, 0, TStartChoice::scStartBackup, TStartOutcome::soIndependent, kPreScanStartBackup,
         -1, {}, buj, 0},
        {"missing task file", {dir + QStringLiteral("/gone.cuj")}, 0, none, TStartOutcome::soEnd, 0, -1, {}, {}, 1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        HandOvers.clear();
        Shows = 0;
        QString asked;
        const auto [outcome, flags] = WhileServing([&] {
            TInstanceManager later;
            later.HandOverReplyMs = 10000;
            uint8_t flags = c.Flags;
            TStartDialogFunc dialog;
            if (c.Answer)
                dialog = [&](const QString &FileName) {
                    asked = FileName;
                    return *c.Answer;
                };
            const TStartOutcome outcome = later.StartUp(flags, c.Args, dialog);
            return std::pair(outcome, flags);
        });
        EXPECT_EQ(outcome, c.Outcome);
        EXPECT_EQ(flags, c.FlagsAfter);
        EXPECT_EQ(asked, c.Asked);
        if (c.Mode < 0) {
            EXPECT_TRUE(HandOvers.empty());
        } else {
            ASSERT_EQ(HandOvers.size(), 1u);
            EXPECT_EQ(HandOvers[0].Mode, c.Mode);
            EXPECT_EQ(HandOvers[0].FileName, c.Received);
        }
        // Posted: give the show message time to arrive.
        QElapsedTimer clock;
        clock.start();
        while (Shows < c.ShowsAfter && clock.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(Shows, c.ShowsAfter);
        EXPECT_TRUE(first.IsListening());
    }
}

TEST_F(SingleInstanceTest, StaleSocketIsReplacedAndUnsetCallbacksStillAnswer)
{
    QString error;
    const QString folder = InstanceFolder(error);
    ASSERT_FALSE(folder.isEmpty()) << error.toStdString();
    // A dead instance's socket file: bound, never listened on, closed.
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/socket"));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(fd);

    TInstanceManager first;
    uint8_t flags = 0;
    ASSERT_EQ(first.StartUp(flags, {}), TStartOutcome::soFirst);
    ASSERT_TRUE(first.IsListening()) << first.Error().toStdString();
    const QString task = MakeTaskFile(MakeTempDir(), QStringLiteral("a.cuj"));
    // No callbacks yet: the hand-over is answered (the later start ends) and dropped.
    const TStartOutcome outcome = WhileServing([&] {
        TInstanceManager later;
        uint8_t f = 0;
        return later.StartUp(f, {task});
    });
    EXPECT_EQ(outcome, TStartOutcome::soEnd);
}

TEST_F(SingleInstanceTest, MalformedFramesAreDroppedAndServingGoesOn)
{
    TInstanceManager first;
    first.ReadTimeoutMs = 300;
    StartFirst(first);
    const auto frame = [](uint32_t length, const QByteArray &payload) {
        QByteArray f(4, Qt::Uninitialized);
        qToBigEndian(length, f.data());
        return f + payload;
    };
    const QByteArray path("/tmp/x.cuj");
    struct TCase {
        const char *Name;
        QByteArray Bytes;
    } cases[] = {
        {"complete hand-over over 64 KiB",
         frame(kMaxInstanceMessage + 1, QByteArray("\1\0/", 3) + QByteArray(kMaxInstanceMessage - 2, 'a'))},
        {"huge length", frame(0xFFFFFFFFu, QByteArray("\1\0", 2) + path)},
        {"zero length", frame(0, {})},
        {"truncated", frame(40, QByteArray("\1\0", 2) + path)},
        {"length prefix cut", QByteArray("\0\0", 2)},
        {"trailing bytes", frame(1, "\2") + "junk"},
        {"unknown kind", frame(3, QByteArray("\x09\0/", 3))},
        {"mode out of range", frame(2 + path.size(), QByteArray("\1\2", 2) + path)},
        {"empty path", frame(2, QByteArray("\1\0", 2))},
        {"invalid UTF-8", frame(5, QByteArray("\1\0/\xC3\x28", 5))},
        {"zero inside the path", frame(6, QByteArray("\1\0/a\0b", 6))},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const auto [answered, closed] = WhileServing([&] {
            QLocalSocket sock;
            sock.connectToServer(first.SocketPath());
            if (!sock.waitForConnected(2000))
                return std::pair(false, false);
            sock.write(c.Bytes);
            sock.waitForBytesWritten(2000);
            QElapsedTimer clock;
            clock.start();
            while (sock.state() == QLocalSocket::ConnectedState && sock.bytesAvailable() == 0 &&
                   clock.elapsed() < 5000)
                sock.waitForReadyRead(100);
            return std::pair(sock.bytesAvailable() > 0, sock.state() != QLocalSocket::ConnectedState);
        });
        EXPECT_FALSE(answered);
        EXPECT_TRUE(closed) << "the server left a bad connection open";
        EXPECT_TRUE(HandOvers.empty());
        EXPECT_EQ(Shows, 0);
    }
    EXPECT_TRUE(first.IsListening());

    const QString task = MakeTaskFile(MakeTempDir(), QStringLiteral("ok.cuj"));
    EXPECT_TRUE(WhileServing([&] { return first.SendMessage(TInstanceMessage::imHandOver, 0, task, 5000); }));
    ASSERT_EQ(HandOvers.size(), 1u);
    EXPECT_EQ(HandOvers[0].FileName, task);
}

TEST_F(SingleInstanceTest, OtherUsersAreNotServed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    TInstanceManager first;
    StartFirst(first);
    // Open the way to the socket, so only the peer check stands.
    const QByteArray folder = QFile::encodeName(first.Folder());
    const QByteArray runtime = QFile::encodeName(QFileInfo(first.Folder()).path());
    ASSERT_EQ(chmod(runtime.constData(), 0711), 0);
    ASSERT_EQ(chmod(folder.constData(), 0711), 0);
    ASSERT_EQ(chmod(QFile::encodeName(first.SocketPath()).constData(), 0777), 0);
    const QByteArray path = QFile::encodeName(first.SocketPath());
    const QByteArray message =
        EncodeInstanceMessage(TInstanceMessage::imHandOver, 0, QStringLiteral("/tmp/evil.cuj"));
    WhileServing([&] {
        test::RunUnprivileged([&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
            ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0) << std::strerror(errno);
            (void)!write(fd, message.constData(), size_t(message.size()));
            pollfd p{fd, POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 5000), 1) << "the server neither answered nor closed";
            char answer = 0;
            EXPECT_LE(read(fd, &answer, 1), 0) << "answered another user";
            close(fd);
        });
        return 0;
    });
    chmod(folder.constData(), 0700);
    chmod(runtime.constData(), 0700);
    EXPECT_TRUE(HandOvers.empty());
    EXPECT_TRUE(first.IsListening());
}

TEST_F(SingleInstanceTest, EndStartClosesTheHandOverSocket)
{
    TInstanceManager first;
    StartFirst(first);
    const auto [outcome, answered] = WhileServing([&] {
        TInstanceManager ending;
        uint8_t flags = kPreScanEnd;
        const TStartOutcome o = ending.StartUp(flags, {QStringLiteral("/end:shutdown"), QStringLiteral("x.buj")});
        return std::pair(o, ending.FirstAnswers());
    });
    EXPECT_EQ(outcome, TStartOutcome::soBatch);
    EXPECT_FALSE(answered);
    EXPECT_FALSE(first.IsListening());
    EXPECT_FALSE(QFileInfo::exists(first.SocketPath()));
    // The next interactive start is a first instance again.
    TInstanceManager next;
    uint8_t flags = 0;
    EXPECT_EQ(next.StartUp(flags, {}), TStartOutcome::soFirst);
    EXPECT_TRUE(next.IsListening());
}

TEST(InstanceFolderTest, XdgRuntimeDirElseTmpPerUser)
{
    const QString runtime = MakeTempDir(QStringLiteral("xdg"));
    ASSERT_EQ(chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    const QString fallback = QStringLiteral("/tmp/velkor-%1").arg(getuid());
    const bool hadFallback = QFileInfo::exists(fallback);
    struct TCase {
        const char *Name;
        test::TEnvValue Value;
        QString Folder;
    } cases[] = {
        {"set", runtime, runtime + QStringLiteral("/velkor")},
        {"unset", nullptr, fallback},
        {"relative", "run/user", fallback},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TScopedEnv env({{"XDG_RUNTIME_DIR", c.Value}});
        QString error;
        EXPECT_EQ(InstanceFolder(error), c.Folder) << error.toStdString();
        struct stat st {};
        ASSERT_EQ(lstat(QFile::encodeName(c.Folder).constData(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    if (!hadFallback)
        rmdir(QFile::encodeName(fallback).constData());
}

TEST(InstanceFolderTest, UnsafeFoldersAreRefused)
{
    const QString base = MakeTempDir(QStringLiteral("unsafe"));
    const QString privateDir = base + QStringLiteral("/private");
    ASSERT_EQ(mkdir(QFile::encodeName(privateDir).constData(), 0700), 0);
    struct TCase {
        const char *Name;
        std::function<QString()> Make;
    } cases[] = {
        {"group and world readable", [&] {
             const QString p = base + QStringLiteral("/open");
             mkdir(QFile::encodeName(p).constData(), 0755);
             chmod(QFile::encodeName(p).constData(), 0755);
             return p;
         }},
        {"group searchable", [&] {
             const QString p = base + QStringLiteral("/group");
             mkdir(QFile::encodeName(p).constData(), 0700);
             chmod(QFile::encodeName(p).constData(), 0710);
             return p;
         }},
        {"symlink to a private folder", [&] {
             const QString p = base + QStringLiteral("/link");
             (void)!symlink(QFile::encodeName(privateDir).constData(), QFile::encodeName(p).constData());
             return p;
         }},
        {"a file", [&] {
             const QString p = base + QStringLiteral("/file");
             WriteBytes(p, "x");
             chmod(QFile::encodeName(p).constData(), 0600);
             return p;
         }},
        {"another user's", [&] {
             const QString p = base + QStringLiteral("/theirs");
             mkdir(QFile::encodeName(p).constData(), 0700);
             if (geteuid() == 0)
                 (void)!chown(QFile::encodeName(p).constData(), test::kNobodyUid, test::kNobodyGid);
             else
                 return QStringLiteral("/"); // root's folder: not ours either
             return p;
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString folder = c.Make();
        QString error;
        EXPECT_FALSE(EnsurePrivateFolder(folder, error));
        EXPECT_FALSE(error.isEmpty());
        TInstanceManager manager(folder);
        uint8_t flags = 0;
        EXPECT_EQ(manager.StartUp(flags, {}), TStartOutcome::soIndependent);
        EXPECT_FALSE(manager.IsListening());
        EXPECT_FALSE(manager.Error().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/instance.lock")));
    }
    QString error;
    EXPECT_TRUE(EnsurePrivateFolder(privateDir, error)) << error.toStdString();
}

TEST(StartUpDecisionTest, FlagsWithoutSingleInstanceHandling)
{
    const std::pair<uint8_t, bool> cases[] = {
        {0, false},
        {kPreScanAuto, false},
        {kPreScanElevate, false},
        {kPreScanAuto | kPreScanElevate, false},
        {kPreScanBatch, true},
        {kPreScanOwnIni, true},
        {kPreScanEnd, true},
        {kPreScanEdit, true},
        {kPreScanAuto | kPreScanEdit, true},
    };
    for (const auto &[flags, skips] : cases)
        EXPECT_EQ(SkipsSingleInstance(flags), skips) << int(flags);
    // Through the pre-scan: a lone "-" counts as a batch start.
    QString joined;
    EXPECT_TRUE(SkipsSingleInstance(PreScanCommandLine({QStringLiteral("-")}, joined)));
    EXPECT_FALSE(SkipsSingleInstance(PreScanCommandLine({QStringLiteral("/au"), QStringLiteral("a.buj")}, joined)));
}

TEST(StartUpDecisionTest, LaterInstanceWithoutLockOrAnswer)
{
    int asked = 0;
    const TStartDialogFunc dialog = [&](const QString &) {
        ++asked;
        return TStartChoice(0); // closed without a choice
    };
    struct TCase {
        const char *Name;
        TLaterInstanceFacts Facts;
        TStartOutcome Outcome;
        bool HandOver, Show;
        int Asked;
    } cases[] = {
        {"lock not obtained: show only", {0, QStringLiteral("/t/a.cuj"), true, false, true}, TStartOutcome::soEnd,
         false, true, 0},
        {"lock not obtained under auto", {kPreScanAuto, QStringLiteral("/t/a.cuj"), true, false, true},
         TStartOutcome::soEnd, false, false, 0},
        {"nobody answers: run independently", {0, QStringLiteral("/t/a.buj"), true, true, false},
         TStartOutcome::soIndependent, false, false, 0},
        {"dialog closed otherwise: as cancel", {0, QStringLiteral("/t/a.buj"), true, true, true},
         TStartOutcome::soEnd, false, false, 1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        asked = 0;
        const TLaterInstancePlan plan = PlanLaterInstance(c.Facts, dialog);
        EXPECT_EQ(plan.Outcome, c.Outcome);
        EXPECT_EQ(plan.HandOver, c.HandOver);
        EXPECT_EQ(plan.Show, c.Show);
        EXPECT_EQ(plan.Flags, c.Facts.Flags);
        EXPECT_EQ(asked, c.Asked);
    }
}

} // namespace
} // namespace vl
