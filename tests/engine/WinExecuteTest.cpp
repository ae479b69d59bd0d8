#include "engine/WinExecute.h"

#include "common/TestUtils.h"
#include "core/MessageService.h"
#include "platform/SysErrors.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace vl {
namespace {

using namespace test;

constexpr uint32_t Failed(uint32_t code)
{
    return kExitCodeBit | code;
}

QStringList Lines(std::initializer_list<const char *> lines)
{
    QStringList list;
    for (const char *l : lines)
        list << QString::fromUtf8(l);
    return list;
}

QString WriteScript(const QString &dir, const QString &name, const QByteArray &body, int mode = 0755)
{
    const QString path = dir + QLatin1Char('/') + name;
    WriteBytes(path, body);
    ::chmod(path.toUtf8().constData(), mode);
    return path;
}

// Waits up to 5 s for a file a background program writes.
QByteArray AwaitFile(const QString &path)
{
    for (int i = 0; i < 100 && !QFile::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return QFile::exists(path) ? ReadBytes(path) : QByteArray();
}

bool ProcessGone(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class TRecordingMessages : public THeadlessMessageService {
public:
    TRecordingMessages() { SetMessageService(this); }
    ~TRecordingMessages() override { SetMessageService(nullptr); }
    TModalResult PositionedMessageDlg(const QString &ATitle, const QString &AMsg, TMsgDlgType, TMsgDlgButtons,
                                      TMsgDlgBtn, QPoint, int32_t, TDefaultMonitor) override
    {
        Dialogs << ATitle + QStringLiteral(": ") + AMsg;
        return mrOk;
    }
    void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t) override
    {
        Texts << ATitle + QStringLiteral(": ") + AText;
    }
    QStringList Dialogs;
    QStringList Texts;
};

// ---------------------------------------------------------------------------
// Console programs

TEST(WinExecuteTest, ExitStatusAndOutput)
{
    struct Case {
        const char *cmd;
        uint32_t result;
        QStringList lines;
    } cases[] = {
        {"printf 'one\\ntwo\\r\\nthree\\n'", 0, Lines({"one", "two", "three"})},
        {"echo out; exit 2", Failed(2), Lines({"out"})},
        {"/bin/true", 0, {}},
        {"/bin/false", Failed(1), {}},
        {"exit 255", Failed(255), {}},
        // A death by a signal is a failure (128 + signal, as shells say).
        {"echo before; kill -9 $$", Failed(128 + SIGKILL), Lines({"before"})},
        {"exec /bin/sh -c 'kill -SEGV $$'", Failed(128 + SIGSEGV), {}},
    };
    for (const Case &c : cases) {
        QStringList out{QStringLiteral("stale")};
        EXPECT_EQ(ExecuteConsoleProcess(QString::fromUtf8(c.cmd), QString(), epCaptureOutput, 10000, false, &out),
                  c.result)
            << c.cmd;
        EXPECT_EQ(out, c.lines) << c.cmd;
    }
}

TEST(WinExecuteTest, StandardErrorOnlyWhenAsked)
{
    QStringList out;
    const QString cmd = QStringLiteral("echo o; echo e >&2");
    EXPECT_EQ(ExecuteConsoleProcess(cmd, QString(), epCaptureOutput, 10000, false, &out), 0u);
    EXPECT_EQ(out, Lines({"o"}));
    EXPECT_EQ(ExecuteConsoleProcess(cmd, QString(), epCaptureOutput | epCaptureErrors, 10000, false, &out), 0u);
    EXPECT_EQ(out, Lines({"o", "e"}));
}

TEST(WinExecuteTest, OutputDecoding)
{
    struct Case {
        const char *printf;
        QString line;
    } cases[] = {
        {"caf\\202", QStringLiteral("caf\u00e9")},     // code page 850
        {"caf\\303\\251", QStringLiteral("caf\u00e9")}, // UTF-8
        {"a\\000b", QStringLiteral("ab")},              // zero bytes dropped, nothing after them lost
    };
    for (const Case &c : cases) {
        QStringList out;
        EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("printf '%1\\n'").arg(QLatin1String(c.printf)), QString(),
                                        epCaptureOutput, 10000, false, &out),
                  0u);
        EXPECT_EQ(out, QStringList{c.line}) << c.printf;
    }
}

TEST(WinExecuteTest, MebibyteOfOutputDoesNotBlock)
{
    // 65536 lines of 16 bytes: sixteen times a pipe's buffer.
    QStringList out;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("yes 0123456789abcde | head -n 65536"), QString(), epCaptureOutput,
                                    20000, false, &out),
              0u);
    EXPECT_LT(timer.elapsed(), 10000);
    ASSERT_EQ(out.size(), 65536);
    EXPECT_EQ(out.first(), QStringLiteral("0123456789abcde"));
    EXPECT_EQ(out.last(), QStringLiteral("0123456789abcde"));
}

TEST(WinExecuteTest, BackgroundChildHoldingThePipeDoesNotBlock)
{
    QStringList out;
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("sleep 5 & echo done"), QString(), epCaptureOutput, 0, false, &out),
              0u);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(out, Lines({"done"}));
}

// A program that never stops writing neither defeats the time-out nor
// holds the caller after its shell has ended.
TEST(WinExecuteTest, EndlessOutputEndsTheWait)
{
    struct Case {
        const char *cmd;
        int32_t timeout;
        uint32_t result;
    } cases[] = {
        {"exec yes", 500, WAIT_TIMEOUT},
        {"yes 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef & sleep 0.3", 10000, 0},
    };
    for (const Case &c : cases) {
        QStringList out;
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(ExecuteConsoleProcess(QString::fromUtf8(c.cmd), QString(), epCaptureOutput, c.timeout, false, &out),
                  c.result)
            << c.cmd;
        EXPECT_LT(timer.elapsed(), 5000) << c.cmd;
    }
}

TEST(WinExecuteTest, TimeOut)
{
    struct Case {
        int32_t timeout;
        bool exitCodeOnTimeout;
        uint32_t result;
    } cases[] = {
        {300, false, WAIT_TIMEOUT},
        {-300, false, WAIT_TIMEOUT},
        {300, true, Failed(STILL_ACTIVE)},
    };
    for (const Case &c : cases) {
        QStringList out{QStringLiteral("stale")};
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("echo early; sleep 5"), QString(), epCaptureOutput, c.timeout,
                                        c.exitCodeOnTimeout, &out),
                  c.result)
            << c.timeout;
        EXPECT_GE(timer.elapsed(), 290);
        EXPECT_LT(timer.elapsed(), 3000);
        // Output only comes with an exit code.
        EXPECT_EQ(out, c.exitCodeOnTimeout ? Lines({"early"}) : QStringList()) << c.timeout;
    }
}

TEST(WinExecuteTest, OwnSessionProgramIsKilledAfterTheWait)
{
    const QString dir = MakeTempDir();
    QStringList out;
    EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("echo $$ > pid; exec sleep 30"), dir,
                                    epCaptureOutput | epOwnSession, 300, false, &out),
              WAIT_TIMEOUT);
    const pid_t pid = ReadBytes(dir + QStringLiteral("/pid")).trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(WinExecuteTest, CancelEndsAnUnlimitedWait)
{
    QTimer::singleShot(200, [] { CancelProcessWait(); });
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("sleep 5"), QString(), 0, 0, false, nullptr), WAIT_TIMEOUT);
    EXPECT_GE(timer.elapsed(), 190);
    EXPECT_LT(timer.elapsed(), 1000);
    // The flag is cleared again: the next wait runs to the end.
    EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("sleep 0.1"), QString(), 0, 0, false, nullptr), 0u);
}

TEST(WinExecuteTest, ProgramsThatCannotStart)
{
    const QString dir = MakeTempDir();
    WriteScript(dir, QStringLiteral("plain"), "#!/bin/sh\n", 0644);
    struct Case {
        const char *cmd;
        QString workDir;
        uint32_t result;
    } cases[] = {
        {"no-such-program-h6 arg", QString(), ERROR_FILE_NOT_FOUND},
        {"FOO=1 'no such program' arg", QString(), ERROR_FILE_NOT_FOUND},
        {"/no/such/folder/prog", QString(), ERROR_PATH_NOT_FOUND},
        {"./plain", dir, ERROR_ACCESS_DENIED},
        {"true", QStringLiteral("/no/such/folder"), ERROR_DIRECTORY},
    };
    for (const Case &c : cases) {
        QStringList out{QStringLiteral("stale")};
        EXPECT_EQ(ExecuteConsoleProcess(QString::fromUtf8(c.cmd), c.workDir, epCaptureOutput, 10000, false, &out),
                  c.result)
            << c.cmd;
        EXPECT_TRUE(out.isEmpty()) << c.cmd;
    }
    EXPECT_EQ(ExecuteProcess(QStringLiteral("no-such-program-h6"), QString(), QString(), 0, 10000, false, nullptr, 850),
              ERROR_FILE_NOT_FOUND);
}

TEST(WinExecuteTest, CommandProgramCheck)
{
    struct Case {
        const char *cmd;
        uint32_t result;
    } cases[] = {
        {"cd / && no-such-program-h6", 0}, // builtins are the shell's
        {"$PROGRAM", 0},                   // expansions too
        {"(no-such-program-h6)", 0},
        {"# comment", 0},
        {"  sh -c 'exit 1'", 0},
        {"A=1 B=2 no-such-program-h6", ERROR_FILE_NOT_FOUND},
        {"\"no-such\"-program-h6", ERROR_FILE_NOT_FOUND},
        {"no-such-program-h6>out", ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CheckCommandProgram(QString::fromUtf8(c.cmd), QString()), c.result) << c.cmd;
}

TEST(WinExecuteTest, ProgramNameRunsWithArgumentsAndShowsItsOutput)
{
    TRecordingMessages messages;
    EXPECT_EQ(ExecuteProcess(QStringLiteral("/bin/echo"), QStringLiteral("'a  b' c"), QString(),
                             epCaptureOutput | epShowOutput, 10000, false, nullptr, 850),
              0u);
    EXPECT_EQ(messages.Texts, Lines({"/bin/echo: a  b c\n"}));
    // Nothing shown for an empty output.
    messages.Texts.clear();
    EXPECT_EQ(ExecuteProcess(QStringLiteral("/bin/true"), QString(), QString(), epCaptureOutput | epShowOutput, 10000,
                             false, nullptr, 850),
              0u);
    EXPECT_TRUE(messages.Texts.isEmpty());
}

TEST(WinExecuteTest, PipeFailureIsReportedThroughTheMessageService)
{
    fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TRecordingMessages messages;
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        while (::open("/dev/null", O_RDONLY) >= 0) {
        }
        const uint32_t result =
            ExecuteConsoleProcess(QStringLiteral("true"), QString(), epCaptureOutput | epPipeErrorDialog, 1000, false,
                                  nullptr);
        const bool ok = result == kErrorPipeCreate
                        && messages.Dialogs == Lines({"Error executing process: Stdout pipe creation failed"});
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------------------
// Started programs

TEST(WinExecuteTest, StartAndWait)
{
    const QString dir = MakeTempDir();
    TProcessHandle handle = StartProcess(QStringLiteral("pwd > where; exit 3"), dir);
    ASSERT_TRUE(handle);
    EXPECT_EQ(WaitForProcess(handle, 0, false), Failed(3));
    EXPECT_FALSE(handle);
    EXPECT_EQ(ReadBytes(dir + QStringLiteral("/where")), dir.toUtf8() + '\n');

    handle = StartProcess(QStringLiteral("sleep 5"), QString());
    const pid_t pid = handle->Pid();
    EXPECT_EQ(WaitForProcess(handle, 100, false), WAIT_TIMEOUT);
    ASSERT_TRUE(handle); // still ours to wait for
    EXPECT_EQ(WaitForProcess(handle, 100, true), Failed(STILL_ACTIVE));
    EXPECT_FALSE(handle);
    // Released while running, it is reaped when it ends: no zombie stays.
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(ProcessGone(pid));

    handle = StartProcess(QStringLiteral("kill -TERM $$"), QString());
    EXPECT_EQ(WaitForProcess(handle, 5000, false), Failed(128 + SIGTERM));

    // A negative time-out (-1: INFINITE) sets no limit.
    handle = StartProcess(QStringLiteral("sleep 0.3"), QString());
    EXPECT_EQ(WaitForProcess(handle, -1, false), 0u);
}

// Programs left running hold none of our descriptors: neither our output
// (a caller reading it would wait for them) nor a file opened without
// close-on-exec.
TEST(WinExecuteTest, ProgramsLeftRunningHoldNoneOfOurDescriptors)
{
    int output[2], extra[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe(extra), 0);
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    ::dup2(output[1], 1);
    ::dup2(output[1], 2);
    TProcessHandle started = StartProcess(QStringLiteral("sleep 5"), QString());
    const uint32_t plain = ExecuteConsoleProcess(QStringLiteral("sleep 5"), QString(), 0, 100, false, nullptr);
    const uint32_t captured =
        ExecuteConsoleProcess(QStringLiteral("sleep 5"), QString(), epCaptureOutput, 100, false, nullptr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    for (int fd : {savedOut, savedErr, output[1], extra[1]})
        ::close(fd);
    EXPECT_EQ(plain, WAIT_TIMEOUT);
    EXPECT_EQ(captured, WAIT_TIMEOUT);
    for (int fd : {output[0], extra[0]}) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 1000);
        EXPECT_EQ(ready, 1) << "a program still holds pipe " << fd;
        char c;
        if (ready == 1) {
            EXPECT_EQ(::read(fd, &c, 1), 0);
        }
        ::close(fd);
    }
    ::kill(started->Pid(), SIGKILL);
}

TEST(WinExecuteTest, StartFailureRaises)
{
    try {
        StartProcess(QStringLiteral("no-such-program-h6"), QString());
        FAIL() << "no exception";
    } catch (const EProcessError &e) {
        EXPECT_EQ(e.Message(), QString::fromUtf8(SysErrorText(ERROR_FILE_NOT_FOUND)));
    }
}

TEST(WinExecuteTest, ShellExecuteAndWait)
{
    const QString dir = MakeTempDir();
    const QString tool = MakeTempDir(QStringLiteral("tools"));
    const QString program = WriteScript(dir, QStringLiteral("my prog"), "#!/bin/sh\npwd > where\nexit \"$1\"\n");
    WriteScript(tool, QStringLiteral("xdg-open"), "#!/bin/sh\nprintf '%s' \"$1\" > \"$HOME/opened\"\n");
    WriteBytes(dir + QStringLiteral("/doc.txt"), "text");
    TScopedEnv env{{"PATH", (tool + QStringLiteral(":/usr/bin:/bin")).toUtf8()}};

    EXPECT_EQ(ShellExecuteAndWait(program, QStringLiteral("3"), dir, false, 5000, false), Failed(3));
    EXPECT_EQ(ReadBytes(dir + QStringLiteral("/where")), dir.toUtf8() + '\n');
    EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("my prog"), QStringLiteral("0"), dir, false, 0, false), 0u);

    EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("doc.txt"), QString(), dir, false, 5000, false), 0u);
    EXPECT_EQ(ReadBytes(TestRoot() + QStringLiteral("/home/opened")), "doc.txt");

    EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("missing.txt"), QString(), dir, false, 5000, false),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("/no/such/folder/x"), QString(), QString(), false, 5000, false),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("sleep"), QStringLiteral("5"), QString(), false, -200, false),
              WAIT_TIMEOUT);
    if (::geteuid() == 0) { // already elevated: no pkexec needed
        EXPECT_EQ(ShellExecuteAndWait(program, QStringLiteral("6"), dir, false, 5000, true), Failed(6));
    }
}

TEST(WinExecuteTest, ShellQuoteSurvivesTheShell)
{
    for (const char *word : {"plain", "it's", "$HOME `id` \\ \"q\"", "'", "", "-n"}) {
        QStringList out;
        EXPECT_EQ(ExecuteConsoleProcess(QStringLiteral("printf '%s|' ") + QString::fromUtf8(ShellQuote(word)),
                                        QString(), epCaptureOutput, 5000, false, &out),
                  0u);
        EXPECT_EQ(out, QStringList{QString::fromUtf8(word) + QLatin1Char('|')}) << word;
    }
}

TEST(WinExecuteTest, CodePageToUnicode)
{
    struct Case {
        QByteArray bytes;
        uint32_t codePage;
        QString text;
    } cases[] = {
        {"", 850, QString()},
        {"A\x82\xD5", 850, QStringLiteral("A\u00e9\u0131")},
        {"\x9E\xE0", 437, QStringLiteral("\u20a7\u03b1")},
        {"\x80", 1252, QStringLiteral("\u20ac")},
        {"\x80", 0, QStringLiteral("\u20ac")},
        {"\x80\xFF", 28591, QStringLiteral("\u0080\u00ff")},
        {"\xC3\xA9", 65001, QStringLiteral("\u00e9")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CodePageToUnicode(c.bytes, c.codePage), c.text) << c.codePage;
}

// ---------------------------------------------------------------------------
// Another user, elevation

TEST(WinExecuteTest, OtherUserCommandShape)
{
    const QList<QByteArray> root = OtherUserCommand(QStringLiteral("anna"), QStringLiteral("x"), QString(), true);
    const QList<QByteArray> user = OtherUserCommand(QStringLiteral("anna"), QStringLiteral("x"), QString(), false);
    EXPECT_EQ(root.first(), "runuser");
    EXPECT_EQ(user.first(), "su");
    // The user name after "--": a name starting with "-" is no option.
    EXPECT_EQ(user.mid(user.size() - 2), (QList<QByteArray>{"--", "anna"}));
    EXPECT_TRUE(user.contains("--login"));
    EXPECT_TRUE(user.contains("--shell=/bin/sh"));
}

TEST(WinExecuteTest, OtherUserAsRootThroughRunuser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const QString dir = MakeTempDir(QStringLiteral("it's shared"));
    ::chmod(dir.toUtf8().constData(), 0777);
    TProcessHandle handle = StartProcessAsUser(QStringLiteral("nobody"), QString(), QString(),
                                               QStringLiteral("id -u > out; pwd >> out; exit 4"), dir);
    ASSERT_TRUE(handle);
    EXPECT_EQ(WaitForProcess(handle, 10000, false), Failed(4));
    EXPECT_EQ(ReadBytes(dir + QStringLiteral("/out")), "65534\n" + dir.toUtf8() + '\n');

    // A quick command is not mistaken for a refusal.
    handle = StartProcessAsUser(QStringLiteral("nobody"), QString(), QString(), QStringLiteral("true"), QString());
    EXPECT_EQ(WaitForProcess(handle, 10000, false), 0u);

    const QString closed = MakeTempDir(QStringLiteral("closed"));
    ::chmod(closed.toUtf8().constData(), 0700);
    struct Case {
        QString user;
        QString workDir;
        const char *code;
    } cases[] = {
        {QStringLiteral("no-such-user-h6"), QString(), "(0x0000052E)"},
        {QStringLiteral("nobody"), QStringLiteral("/no/such/folder"), "(0x0000010B)"},
        {QStringLiteral("nobody"), closed, "(0x0000010B)"}, // nobody cannot enter it
    };
    for (const Case &c : cases) {
        try {
            StartProcessAsUser(c.user, QString(), QString(), QStringLiteral("true"), c.workDir);
            ADD_FAILURE() << "no exception for " << c.user.toStdString() << " " << c.workDir.toStdString();
        } catch (const EProcessError &e) {
            EXPECT_TRUE(e.Message().endsWith(QLatin1String(c.code))) << e.Message().toStdString();
        }
    }
}

// su on its terminal, played by a script that asks for the password as su
// does: the right one starts the command, a wrong one is refused.
TEST(WinExecuteTest, OtherUserThroughSuOnATerminal)
{
    const QString tool = MakeTempDir(QStringLiteral("tools"));
    WriteScript(tool, QStringLiteral("su"),
                "#!/bin/sh\n"
                "for a; do case $a in --command=*) cmd=${a#--command=};; esac; done\n"
                "printf 'Password: '\n"
                "stty -echo\n"
                "read -r pw\n"
                "stty echo\n"
                "echo\n"
                "if [ \"$pw\" != 's3cret word' ]; then echo 'su: Authentication failure'; exit 1; fi\n"
                "exec /bin/sh -c \"$cmd\"\n");
    const QString dir = MakeTempDir(QStringLiteral("work"));
    ChownTree(dir);
    RunUnprivileged([&] {
        TScopedEnv env{{"PATH", (tool + QStringLiteral(":/usr/bin:/bin")).toUtf8()}};
        TProcessHandle handle = StartProcessAsUser(QStringLiteral("nobody"), QString(), QStringLiteral("s3cret word"),
                                                   QStringLiteral("pwd > out; exit 5"), dir);
        ASSERT_TRUE(handle);
        EXPECT_EQ(WaitForProcess(handle, 10000, false), Failed(5));
        EXPECT_EQ(ReadBytes(dir + QStringLiteral("/out")), dir.toUtf8() + '\n');
        try {
            StartProcessAsUser(QStringLiteral("nobody"), QString(), QStringLiteral("wrong"), QStringLiteral("true"),
                               dir);
            ADD_FAILURE() << "no exception";
        } catch (const EProcessError &e) {
            EXPECT_TRUE(e.Message().endsWith(QLatin1String("(0x0000052E)"))) << e.Message().toStdString();
        }
    });
}

TEST(WinExecuteTest, SlowRealSuRefusesAWrongPassword)
{
    if (::access("/usr/bin/su", X_OK) != 0 && ::access("/bin/su", X_OK) != 0)
        GTEST_SKIP() << "no su";
    RunUnprivileged([] {
        try {
            StartProcessAsUser(QStringLiteral("root"), QString(), QStringLiteral("surely-not-the-password"),
                               QStringLiteral("true"), QString());
            ADD_FAILURE() << "no exception";
        } catch (const EProcessError &e) {
            EXPECT_TRUE(e.Message().endsWith(QLatin1String("(0x0000052E)"))) << e.Message().toStdString();
        }
    });
}

TEST(WinExecuteTest, RunElevatedWhenAlreadyRootStartsNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const QString dir = MakeTempDir();
    const QString program = WriteScript(dir, QStringLiteral("prog"), "#!/bin/sh\ntouch ran\n");
    char *previous = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.toUtf8().constData()), 0);
    EXPECT_FALSE(RunElevatedInCurrentDir(program, QString()));
    EXPECT_FALSE(RunElevated(program, QString(), dir));
    EXPECT_EQ(::chdir(previous), 0);
    std::free(previous);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/ran")));
}

// pkexec is played by scripts: one that lets everything through, one that
// refuses.
TEST(WinExecuteTest, RunElevatedThroughPkexec)
{
    const QString grant = MakeTempDir(QStringLiteral("grant"));
    const QString refuse = MakeTempDir(QStringLiteral("refuse"));
    WriteScript(grant, QStringLiteral("pkexec"), "#!/bin/sh\nexec \"$@\"\n");
    WriteScript(refuse, QStringLiteral("pkexec"), "#!/bin/sh\necho 'Not authorized' >&2\nexit 126\n");
    const QString dir = MakeTempDir(QStringLiteral("it's here"));
    const QString program =
        WriteScript(dir, QStringLiteral("my prog"), "#!/bin/sh\nsleep 0.2\npwd > out\nprintf '%s\\n' \"$@\" >> out\n");
    ChownTree(dir);
    RunUnprivileged([&] {
        {
            TScopedEnv env{{"PATH", (refuse + QStringLiteral(":/usr/bin:/bin")).toUtf8()}};
            EXPECT_FALSE(RunElevated(program, QStringLiteral("x"), dir));
            EXPECT_EQ(ShellExecuteAndWait(program, QString(), dir, false, 5000, true), Failed(126));
        }
        {
            TScopedEnv env{{"PATH", (grant + QStringLiteral(":/usr/bin:/bin")).toUtf8()}};
            // True as soon as the program starts, not when it ends.
            EXPECT_TRUE(RunElevated(program, QStringLiteral("'a b' c"), dir));
            EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/out")));
            EXPECT_EQ(AwaitFile(dir + QStringLiteral("/out")), dir.toUtf8() + "\na b\nc\n");
            EXPECT_EQ(ShellExecuteAndWait(QStringLiteral("sh"), QStringLiteral("-c 'exit 7'"), dir, false, 5000, true),
                      Failed(7));
        }
        {
            TScopedEnv env{{"PATH", "/nonexistent"}};
            EXPECT_FALSE(RunElevated(program, QString(), dir));
        }
    });
}

} // namespace
} // namespace vl
