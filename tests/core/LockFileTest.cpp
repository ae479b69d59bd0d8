#include "core/LockFile.h"

#include "common/TestUtils.h"
#include "platform/FileSystem.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;

QString LockPath(const QString &folder)
{
    return folder + QStringLiteral("Velkor.lock");
}

QByteArray Utf16LE(const QString &text)
{
    QByteArray b;
    for (QChar c : text) {
        b.append(char(c.unicode() & 0xFF));
        b.append(char(c.unicode() >> 8));
    }
    return b;
}

// Another process that creates the lock file and then runs until killed.
class TOwnerProcess {
public:
    TOwnerProcess(const QString &folder, const QString &owner)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        fflush(nullptr);
        FPid = fork();
        if (FPid == 0) {
            close(fds[0]);
            const char result = CreateLockFile(folder, owner) ? '1' : '0';
            (void)!write(fds[1], &result, 1);
            for (;;)
                pause();
        }
        close(fds[1]);
        char result = 0;
        Created = FPid > 0 && read(fds[0], &result, 1) == 1 && result == '1';
        close(fds[0]);
    }
    ~TOwnerProcess() { Kill(); }

    void Kill()
    {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
    }

    bool Created = false;

private:
    pid_t FPid = -1;
};

TEST(LockFileTest, HeldByLiveOwnerThenTakenOverAfterKill)
{
    test::TScopedTimeZone zone("XST-5");
    const QString folder = MakeTempDir(QStringLiteral("lock")) + QLatin1Char('/');
    const QString owner = QStringLiteral("/home/jörg/Tägliche Sicherung \u65E5\u672C.buj");

    TOwnerProcess process(folder, owner);
    ASSERT_TRUE(process.Created);
    EXPECT_EQ(ReadBytes(LockPath(folder)), Utf16LE(owner));

    // While the owner runs, nothing here may take or remove its file.
    EXPECT_FALSE(CreateLockFile(folder, QStringLiteral("second")));
    QString text = QStringLiteral("x");
    TDateTime time = 0;
    EXPECT_FALSE(ReadLockFile(folder, text, time));
    EXPECT_TRUE(text.isEmpty());
    ReleaseLockFile();
    EXPECT_TRUE(LockFileExists(folder));
    EXPECT_EQ(ReadBytes(LockPath(folder)), Utf16LE(owner));

    // Killed without releasing: the file stays behind, no longer held.
    process.Kill();
    EXPECT_TRUE(LockFileExists(folder));
    EXPECT_FALSE(CreateLockFile(folder, QStringLiteral("second")));

    ASSERT_TRUE(ReadLockFile(folder, text, time));
    EXPECT_EQ(text, owner);
    EXPECT_LT(std::fabs(time - Now()) * 86400, 30) << "the lock time must be local time";
    EXPECT_FALSE(LockFileExists(folder));

    // The next start owns it; its own release removes it.
    ASSERT_TRUE(CreateLockFile(folder, QStringLiteral("next")));
    EXPECT_EQ(ReadBytes(LockPath(folder)), Utf16LE(QStringLiteral("next")));
    EXPECT_FALSE(ReadLockFile(folder, text, time)) << "a held file of this process is no file left behind";
    EXPECT_TRUE(LockFileExists(folder));
    ReleaseLockFile();
    EXPECT_FALSE(LockFileExists(folder));
}

TEST(LockFileTest, StaleFileRemovedByNextRelease)
{
    const QString folder = MakeTempDir(QStringLiteral("lock")) + QLatin1Char('/');
    {
        TOwnerProcess process(folder, QStringLiteral("a.buj"));
        ASSERT_TRUE(process.Created);
    }
    // No file: false, an empty text and the current time.
    QString text = QStringLiteral("x");
    TDateTime time = 0;
    EXPECT_FALSE(ReadLockFile(MakeTempDir(QStringLiteral("empty")) + QLatin1Char('/'), text, time));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_LT(std::fabs(time - Now()) * 86400, 30);
    // A failed create remembers the name; the next release removes the
    // file left behind, as no one holds it.
    EXPECT_FALSE(CreateLockFile(folder, QStringLiteral("b.buj")));
    ReleaseLockFile();
    EXPECT_FALSE(LockFileExists(folder));
}

TEST(LockFileTest, OnlyOneOfConcurrentStartsWins)
{
    const QString folder = MakeTempDir(QStringLiteral("lock")) + QLatin1Char('/');
    constexpr int kStarts = 8;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    fflush(nullptr);
    pid_t pids[kStarts];
    for (pid_t &pid : pids) {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char c;
            (void)!read(gate[0], &c, 1); // returns when the gate closes
            _exit(CreateLockFile(folder, QStringLiteral("run")) ? 1 : 0);
        }
    }
    close(gate[0]);
    close(gate[1]);
    int winners = 0;
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        winners += WEXITSTATUS(status);
    }
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(ReadBytes(LockPath(folder)), Utf16LE(QStringLiteral("run")));
}

TEST(LockFileTest, FailedCreateLeavesNothingBehind)
{
    const QString folder = MakeTempDir(QStringLiteral("lock")) + QLatin1Char('/');
    EXPECT_FALSE(CreateLockFile(folder + QStringLiteral("missing/"), QStringLiteral("a.buj")));

    // The owner text cannot be written: no file may be left to block later
    // runs, and nothing stays owned.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4;
    const sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool created = CreateLockFile(folder, QStringLiteral("a longer owner text.buj"));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(created);
    EXPECT_FALSE(LockFileExists(folder));

    ASSERT_TRUE(CreateLockFile(folder, QStringLiteral("b.buj")));
    ReleaseLockFile();
    EXPECT_FALSE(LockFileExists(folder));
}

} // namespace
} // namespace vl
