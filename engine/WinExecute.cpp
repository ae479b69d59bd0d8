#include "engine/WinExecute.h"

#include "core/MessageService.h"
#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "platform/FileNames.h"
#include "platform/SysErrors.h"
#include "platform/System.h"
#include "platform/Thread.h"

#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

extern char **environ;

namespace vl {

using Clock = std::chrono::steady_clock;

struct TProcessAccess {
    static TProcessHandle Make(pid_t pid)
    {
        TProcessHandle p(new TProcess);
        p->FPid = pid;
#ifdef SYS_pidfd_open
        p->FPidFd = int(::syscall(SYS_pidfd_open, pid, 0));
        if (p->FPidFd >= 0)
            ::fcntl(p->FPidFd, F_SETFD, FD_CLOEXEC);
#endif
        return p;
    }
    static int PidFd(const TProcess &p) { return p.FPidFd; }
    static void SetTerminal(TProcess &p, int fd) { p.FTerminalFd = fd; }
    static bool Reaped(const TProcess &p) { return p.FReaped; }
    static int Status(const TProcess &p) { return p.FStatus; }
    // Reaps the program when it has ended; true when it has.
    static bool TryReap(TProcess &p, bool block = false)
    {
        if (p.FReaped)
            return true;
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(p.FPid, &status, block ? 0 : WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == p.FPid) {
            p.FReaped = true;
            p.FStatus = status;
        } else if (r < 0) {
            // Reaped elsewhere: nothing left to wait for.
            p.FReaped = true;
            p.FStatus = W_EXITCODE(255, 0);
        }
        return p.FReaped;
    }
};

TProcess::~TProcess()
{
    if (FPidFd >= 0)
        ::close(FPidFd);
    if (!FReaped && FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == 0) {
        // Still running: reap it whenever it ends. The terminal of another
        // user's start stays open until then, so it gets no hang-up.
        std::thread([pid = FPid, fd = FTerminalFd] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            if (fd >= 0)
                ::close(fd);
        }).detach();
        return;
    }
    if (FTerminalFd >= 0)
        ::close(FTerminalFd);
}

namespace {

std::atomic<bool> GCancelWait{false};

// Start errors never carry kExitCodeBit, so they cannot pass for an exit code.
uint32_t StartError(int err)
{
    switch (err) {
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case E2BIG: return ERROR_FILENAME_EXCED_RANGE;
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    default: {
        const uint32_t code = ErrnoToError(err);
        return (code & ERROR_ERRNO_BIT) ? ERROR_INVALID_FUNCTION : code;
    }
    }
}

bool IsDirectory(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// 0 when WorkDir is empty or a folder, else ERROR_DIRECTORY.
uint32_t CheckWorkDir(const QString &WorkDir)
{
    return WorkDir.isEmpty() || IsDirectory(EncodeFileName(WorkDir)) ? 0u : uint32_t(ERROR_DIRECTORY);
}

// ---------------------------------------------------------------------------
// Starting

inline constexpr int kInheritFd = -1;
inline constexpr int kNullFd = -2; // /dev/null

struct TSpawn {
    QList<QByteArray> Argv;        // argv[0] is searched in PATH when it has no "/"
    QByteArray WorkDir;            // empty: the current folder
    int StdoutFd = kInheritFd;     // or kNullFd, or a descriptor
    int StderrFd = kInheritFd;
    QByteArray Terminal;           // a pseudo-terminal for all three, and as controlling terminal
    bool NewSession = false;
    QList<QByteArray> Environment; // empty: ours
};

// 0 or the errno of the start.
int Spawn(const TSpawn &s, pid_t &pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    // Signals we ignore or block (SIGPIPE in network code) must not carry
    // over to the program.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (s.NewSession || !s.Terminal.isEmpty())
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);

    if (!s.Terminal.isEmpty()) {
        // Opened by the new session's leader, it becomes its controlling terminal.
        posix_spawn_file_actions_addopen(&actions, 0, s.Terminal.constData(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
    } else {
        // The pipe may itself sit on 0 to 2 when we were started without
        // them: duplicate it first, then open /dev/null over the rest.
        if (s.StdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, s.StdoutFd, 1);
        if (s.StderrFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, s.StderrFd, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (s.StdoutFd == kNullFd)
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (s.StderrFd == kNullFd)
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    // Only the standard handles pass: a descriptor of ours opened without
    // close-on-exec (a lock file, a socket) must not live on in the program.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!s.WorkDir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, s.WorkDir.constData());

    std::vector<char *> argv;
    for (const QByteArray &a : s.Argv)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const QByteArray &e : s.Environment)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);

    const int err = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(),
                                 s.Environment.isEmpty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return err;
}

// Pipe ends, closed on every way out (a message handler may throw).
struct TPipeFds {
    int Fd[2] = {-1, -1};
    TPipeFds() = default;
    TPipeFds(const TPipeFds &) = delete;
    TPipeFds &operator=(const TPipeFds &) = delete;
    ~TPipeFds() { Close(); }
    void Close()
    {
        for (int &fd : Fd)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
    }
};

QList<QByteArray> ShellArgv(const QByteArray &script)
{
    return {QByteArrayLiteral("/bin/sh"), QByteArrayLiteral("-c"), script};
}

// ---------------------------------------------------------------------------
// Waiting

enum class TWaitEnd { Ended, TimedOut, Cancelled };

// Output kept of one program; the rest is drained and dropped, so a
// runaway program cannot exhaust our memory.
inline constexpr qsizetype kMaxOutput = 16 << 20;

// Appends what the pipe holds now, at most 1 MiB per call so that a writer
// that never pauses cannot hold the caller; false at the pipe's end (or on
// an error).
bool ReadAvailable(int fd, QByteArray &out)
{
    char buf[65536];
    for (int reads = 0; reads < 16;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, std::min<qsizetype>(n, std::max<qsizetype>(kMaxOutput - out.size(), 0)));
            ++reads;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
    return true;
}

// Waits for the program's end, up to timeoutMs (<= 0: no limit), draining
// pipeFd (a non-blocking read end; set to -1 at its end) into out and
// processing messages at least every 100 ms.
TWaitEnd WaitForEnd(TProcess &p, int64_t timeoutMs, bool honourCancel, int &pipeFd, QByteArray *out)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int pidFd = TProcessAccess::PidFd(p);
    for (;;) {
        if (TProcessAccess::TryReap(p))
            return TWaitEnd::Ended;
        if (honourCancel && GCancelWait.load())
            return TWaitEnd::Cancelled;
        int64_t step = 100;
        if (timeoutMs > 0) {
            const int64_t left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return TWaitEnd::TimedOut;
            step = std::min(step, left);
        }
        if (pidFd < 0)
            step = std::min<int64_t>(step, 10); // no exit notification: look more often
        pollfd fds[2];
        nfds_t n = 0;
        if (pidFd >= 0)
            fds[n++] = {pidFd, POLLIN, 0};
        const nfds_t pipeIndex = n;
        if (pipeFd >= 0)
            fds[n++] = {pipeFd, POLLIN, 0};
        const int r = ::poll(fds, n, int(step));
        if (r > 0 && pipeFd >= 0 && fds[pipeIndex].revents) {
            if (!ReadAvailable(pipeFd, *out)) {
                ::close(pipeFd);
                pipeFd = -1;
            }
        }
        ProcessMessages();
    }
}

// After the program's end: the rest of the output up to the pipe's end. A
// program left running in the background may hold the pipe open; what it
// writes after 200 ms is not waited for, even when it never stops writing.
void ReadRest(int &pipeFd, QByteArray &out)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(200);
    while (pipeFd >= 0) {
        const int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd fd{pipeFd, POLLIN, 0};
        const int r = ::poll(&fd, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        if (!ReadAvailable(pipeFd, out)) {
            ::close(pipeFd);
            pipeFd = -1;
        }
    }
}

// The wait result (0, 258) completed by the exit code where it is read.
uint32_t ExitResult(TProcess &p, uint32_t waitResult)
{
    if (!TProcessAccess::TryReap(p))
        return STILL_ACTIVE | kExitCodeBit;
    const uint32_t code = ResultFromWaitStatus(TProcessAccess::Status(p));
    return code != 0 ? code : waitResult;
}

QStringList TextToLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

// Programs write UTF-8 here; other bytes are read in the given code page.
QString DecodeOutput(QByteArray bytes, uint32_t CodePage)
{
    bytes.replace('\0', QByteArray());
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : CodePageToUnicode(bytes, CodePage);
}

// ---------------------------------------------------------------------------
// The first program of a command line

bool IsShellWordEnd(QChar c)
{
    static const QString ends = QStringLiteral(" \t\n;&|<>()");
    return ends.contains(c);
}

bool IsShellBuiltinOrKeyword(const QString &word)
{
    static const QStringList names = {
        QStringLiteral("."), QStringLiteral(":"), QStringLiteral("["), QStringLiteral("alias"),
        QStringLiteral("bg"), QStringLiteral("break"), QStringLiteral("cd"), QStringLiteral("command"),
        QStringLiteral("continue"), QStringLiteral("echo"), QStringLiteral("eval"), QStringLiteral("exec"),
        QStringLiteral("exit"), QStringLiteral("export"), QStringLiteral("false"), QStringLiteral("fc"),
        QStringLiteral("fg"), QStringLiteral("getopts"), QStringLiteral("hash"), QStringLiteral("jobs"),
        QStringLiteral("kill"), QStringLiteral("local"), QStringLiteral("printf"), QStringLiteral("pwd"),
        QStringLiteral("read"), QStringLiteral("readonly"), QStringLiteral("return"), QStringLiteral("set"),
        QStringLiteral("shift"), QStringLiteral("test"), QStringLiteral("times"), QStringLiteral("trap"),
        QStringLiteral("true"), QStringLiteral("type"), QStringLiteral("ulimit"), QStringLiteral("umask"),
        QStringLiteral("unalias"), QStringLiteral("unset"), QStringLiteral("wait"), QStringLiteral("!"),
        QStringLiteral("{"), QStringLiteral("}"), QStringLiteral("case"), QStringLiteral("do"),
        QStringLiteral("done"), QStringLiteral("elif"), QStringLiteral("else"), QStringLiteral("esac"),
        QStringLiteral("fi"), QStringLiteral("for"), QStringLiteral("if"), QStringLiteral("in"),
        QStringLiteral("then"), QStringLiteral("until"), QStringLiteral("while"), QStringLiteral("function"),
    };
    return names.contains(word);
}

// Reads the shell word at pos (after blanks). literal is cleared when the
// shell would expand it; assignment is set for NAME=... .
QString NextShellWord(const QString &s, qsizetype &pos, bool &literal, bool &assignment)
{
    literal = true;
    assignment = false;
    while (pos < s.size() && (s[pos] == QLatin1Char(' ') || s[pos] == QLatin1Char('\t')))
        ++pos;
    QString word;
    bool quoted = false;
    const qsizetype start = pos;
    while (pos < s.size() && !IsShellWordEnd(s[pos])) {
        const QChar c = s[pos];
        if (c == QLatin1Char('\'')) {
            quoted = true;
            for (++pos; pos < s.size() && s[pos] != QLatin1Char('\''); ++pos)
                word += s[pos];
            ++pos;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            for (++pos; pos < s.size() && s[pos] != QLatin1Char('"'); ++pos) {
                if (s[pos] == QLatin1Char('$') || s[pos] == QLatin1Char('`'))
                    literal = false;
                if (s[pos] == QLatin1Char('\\') && pos + 1 < s.size())
                    ++pos;
                word += s[pos];
            }
            ++pos;
        } else if (c == QLatin1Char('\\')) {
            quoted = true;
            if (pos + 1 < s.size())
                word += s[pos + 1];
            pos += 2;
        } else {
            if (QStringLiteral("$`*?[").contains(c) || (c == QLatin1Char('~') && pos == start)
                || (c == QLatin1Char('#') && pos == start))
                literal = false;
            if (c == QLatin1Char('=') && !quoted && !word.isEmpty()) {
                static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
                assignment = name.match(word).hasMatch();
            }
            word += c;
            ++pos;
        }
    }
    if (word.isEmpty() && !quoted)
        literal = false; // an operator or nothing: nothing to judge
    return word;
}

// 0, 2, 3 or 5 for the program a command would run (see the header).
uint32_t CheckProgram(const QString &program, const QString &WorkDir)
{
    const QByteArray name = EncodeFileName(program);
    const QByteArray base = WorkDir.isEmpty() ? QByteArray() : EncodeFileName(WorkDir) + '/';
    auto judge = [](const QByteArray &path, int &err) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0) {
            err = errno;
            return false;
        }
        if (S_ISDIR(st.st_mode) || ::access(path.constData(), X_OK) != 0) {
            err = EACCES;
            return false;
        }
        return true;
    };
    int err = 0;
    if (name.contains('/')) {
        const QByteArray path = name.startsWith('/') ? name : base + name;
        if (judge(path, err))
            return 0;
        if (err == ENOENT) {
            const qsizetype slash = path.lastIndexOf('/');
            const QByteArray parent = slash <= 0 ? QByteArray("/") : path.left(slash);
            return ErrnoToError(ENOENT, !IsDirectory(parent));
        }
        return ErrnoToError(err == ENOTDIR ? ENOTDIR : EACCES);
    }
    QByteArray pathVar = qgetenv("PATH");
    if (pathVar.isNull())
        pathVar = "/usr/local/bin:/usr/bin:/bin";
    bool denied = false;
    for (const QByteArray &dir : pathVar.split(':')) {
        const QByteArray d = dir.isEmpty() ? QByteArray(".") : dir;
        const QByteArray path = (d.startsWith('/') ? d : base + d) + '/' + name;
        if (judge(path, err))
            return 0;
        denied = denied || err == EACCES;
    }
    return denied ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
}

// The program of a command line; empty when it cannot be judged.
QString CommandProgram(const QString &CmdLine)
{
    qsizetype pos = 0;
    for (;;) {
        bool literal = false, assignment = false;
        const QString word = NextShellWord(CmdLine, pos, literal, assignment);
        if (assignment)
            continue;
        if (!literal || IsShellBuiltinOrKeyword(word))
            return QString();
        return word;
    }
}

// The display and language variables an elevated program needs
// (pkexec starts it with a clean environment).
QByteArray ElevatedEnvironment()
{
    QByteArray env;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "LANG", "LANGUAGE", "LC_ALL"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            env += ' ' + ShellQuote(QByteArray(name) + '=' + value);
    }
    return env.isEmpty() ? QByteArray() : "env" + env + ' ';
}

// The script pkexec runs: into WorkDir, the marker byte when asked for, the
// command.
QByteArray ElevatedScript(const QByteArray &command, const QString &WorkDir, bool marker)
{
    QByteArray script;
    if (!WorkDir.isEmpty())
        script += "cd -- " + ShellQuote(EncodeFileName(WorkDir)) + " || exit 1\n";
    if (marker)
        script += "printf x\nexec 1>&2\n";
    return script + "exec " + ElevatedEnvironment() + "/bin/sh -c " + ShellQuote(command) + '\n';
}

QByteArray ProgramCommand(const QString &FileName, const QString &Params)
{
    QByteArray command = ShellQuote(EncodeFileName(FileName));
    if (!Params.isEmpty())
        command += ' ' + EncodeFileName(Params);
    return command;
}

[[noreturn]] void ThrowProcessError(uint32_t code, bool withCode)
{
    QString message = SystemErrorMessage(code);
    if (withCode)
        message += QString::asprintf(" (0x%08X)", code);
    throw EProcessError(message);
}

} // namespace

QString SystemErrorMessage(uint32_t Code)
{
    if (Code == ERROR_BAD_EXE_FORMAT)
        return Tr("The file is not a program that can be run");
    if (const char *text = SysErrorText(Code))
        return Tr(text);
    return Tr("System error %1").arg(Code);
}

// ---------------------------------------------------------------------------
// Building blocks

QByteArray ShellQuote(const QByteArray &Word)
{
    QByteArray quoted = "'";
    for (char c : Word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + '\'';
}

uint32_t CheckCommandProgram(const QString &CmdLine, const QString &WorkDir)
{
    const QString program = CommandProgram(CmdLine);
    return program.isEmpty() ? 0 : CheckProgram(program, WorkDir);
}

uint32_t ResultFromWaitStatus(int Status)
{
    if (WIFEXITED(Status))
        return WEXITSTATUS(Status) == 0 ? 0 : (kExitCodeBit | uint32_t(WEXITSTATUS(Status)));
    if (WIFSIGNALED(Status))
        return kExitCodeBit | uint32_t(128 + WTERMSIG(Status));
    return kExitCodeBit | 255u;
}

QList<QByteArray> ElevatedCommand(const QString &FileName, const QString &Params, const QString &WorkDir)
{
    return {QByteArrayLiteral("pkexec"), QByteArrayLiteral("/bin/sh"), QByteArrayLiteral("-c"),
            ElevatedScript(ProgramCommand(FileName, Params), WorkDir, true)};
}

QList<QByteArray> OtherUserCommand(const QString &User, const QString &CmdLine, const QString &WorkDir, bool AsRoot)
{
    // The markers are printed in two halves so the script text itself never
    // holds them.
    QByteArray script = "trap '' HUP\n";
    if (!WorkDir.isEmpty())
        script += "cd -- " + ShellQuote(EncodeFileName(WorkDir))
                  + " 2>/dev/null || { printf '%s-%s\\n' velkor no-folder; exit 1; }\n";
    script += "printf '%s-%s\\n' velkor started\n"
              "exec </dev/null >/dev/null 2>&1\n"
              + EncodeFileName(CmdLine) + '\n';
    return {AsRoot ? QByteArrayLiteral("runuser") : QByteArrayLiteral("su"), QByteArrayLiteral("--login"),
            QByteArrayLiteral("--shell=/bin/sh"), "--command=" + script, QByteArrayLiteral("--"), User.toUtf8()};
}

QString CodePageToUnicode(const QByteArray &AText, uint32_t CodePage)
{
    static const char16_t kCp437[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
        0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
        0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
        0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
        0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
        0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
        0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
        0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
        0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
        0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
    };
    static const char16_t kCp850[128] = {
        0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
        0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
        0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
        0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
        0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
        0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
        0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
        0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
        0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
        0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
    };
    if (AText.isEmpty())
        return QString();
    const char16_t *table = nullptr;
    switch (CodePage) {
    case 437: table = kCp437; break;
    case 850: table = kCp850; break;
    case 28591: return QString::fromLatin1(AText);
    case 65001: return QString::fromUtf8(AText);
    default: return DecodeWindows1252(AText);
    }
    QString text(AText.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < AText.size(); ++i) {
        const uint8_t b = uint8_t(AText[i]);
        text[i] = QChar(b < 0x80 ? char16_t(b) : table[b - 0x80]);
    }
    return text;
}

// ---------------------------------------------------------------------------
// Console programs

uint32_t ExecuteConsoleProcess(const QString &CmdLine, const QString &WorkDir, uint8_t Flags, int32_t Timeout,
                               bool ExitCodeOnTimeout, QStringList *Output)
{
    return ExecuteProcess(QString(), CmdLine, WorkDir, Flags, Timeout, ExitCodeOnTimeout, Output, 850);
}

uint32_t ExecuteProcess(const QString &AppName, const QString &CmdLine, const QString &WorkDir, uint8_t Flags,
                        int32_t Timeout, bool ExitCodeOnTimeout, QStringList *Output, uint32_t CodePage)
{
    GCancelWait = false;
    const bool capture = (Flags & epCaptureOutput) && !(Flags & epOwnSession);
    const bool ownSession = (Flags & epCaptureOutput) && (Flags & epOwnSession);
    const QString title = Tr("Error executing process");
    auto finish = [&](uint32_t result, const QString &text) {
        if (Flags & epCaptureOutput) {
            if (Output)
                *Output = TextToLines(text);
            else if ((Flags & epShowOutput) && !text.isEmpty())
                ShowTextWindow(AppName, text, 0);
        }
        GCancelWait = false;
        return result;
    };

    TPipeFds pipe;
    int(&pipeFds)[2] = pipe.Fd;
    if (capture) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            if (Flags & epPipeErrorDialog)
                ShowErrorDialog(title, Tr("Stdout pipe creation failed"), TDefaultMonitor::dmActiveForm);
            return finish(kErrorPipeCreate, QString());
        }
        ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    }
    uint32_t check = CheckWorkDir(WorkDir);
    if (check == 0)
        check = AppName.isEmpty() ? CheckCommandProgram(CmdLine, WorkDir) : CheckProgram(AppName, WorkDir);
    if (check != 0) {
        pipe.Close();
        return finish(check, QString());
    }

    TSpawn spawn;
    spawn.Argv = ShellArgv(AppName.isEmpty() ? EncodeFileName(CmdLine) : ProgramCommand(AppName, CmdLine));
    spawn.WorkDir = EncodeFileName(WorkDir);
    spawn.NewSession = ownSession;
    // What is not captured goes nowhere, so a program left running never
    // holds our own output (a caller's pipe) open.
    spawn.StdoutFd = capture ? pipeFds[1] : kNullFd;
    spawn.StderrFd = capture && (Flags & epCaptureErrors) ? pipeFds[1] : kNullFd;
    pid_t pid = -1;
    const int err = Spawn(spawn, pid);
    // Our copy of the write end goes at once, so the pipe ends with the program.
    bool closeFailed = false;
    if (pipeFds[1] >= 0) {
        closeFailed = ::close(pipeFds[1]) != 0 && errno != EINTR;
        pipeFds[1] = -1;
    }
    if (err != 0) {
        pipe.Close();
        return finish(StartError(err), QString());
    }
    TProcessHandle process = TProcessAccess::Make(pid);

    QByteArray bytes;
    const int64_t timeoutMs = Timeout == 0 ? 0 : std::abs(int64_t(Timeout));
    const TWaitEnd end = WaitForEnd(*process, timeoutMs, true, pipeFds[0], &bytes);
    uint32_t result = end == TWaitEnd::Ended ? 0 : WAIT_TIMEOUT;
    if (end == TWaitEnd::Ended || ExitCodeOnTimeout)
        result = ExitResult(*process, result);
    if (ownSession && !TProcessAccess::Reaped(*process)) {
        ::kill(-pid, SIGKILL);
        TProcessAccess::TryReap(*process, true);
    }
    if (closeFailed) {
        result = kErrorPipeHandle;
        if (Flags & epPipeErrorDialog)
            ShowErrorDialog(title, Tr("Closing handle failed"), TDefaultMonitor::dmActiveForm);
    }
    QString text;
    if (capture && (result == 0 || (result & kExitCodeBit))) {
        ReadRest(pipeFds[0], bytes);
        text = DecodeOutput(bytes, CodePage);
    }
    pipe.Close();
    return finish(result, text);
}

void CancelProcessWait()
{
    GCancelWait = true;
}

// ---------------------------------------------------------------------------
// Started programs

TProcessHandle StartProcess(const QString &CmdLine, const QString &WorkDir)
{
    uint32_t check = CheckWorkDir(WorkDir);
    if (check == 0)
        check = CheckCommandProgram(CmdLine, WorkDir);
    if (check != 0)
        ThrowProcessError(check, false);
    TSpawn spawn;
    spawn.Argv = ShellArgv(EncodeFileName(CmdLine));
    spawn.WorkDir = EncodeFileName(WorkDir);
    spawn.StdoutFd = kNullFd;
    spawn.StderrFd = kNullFd;
    pid_t pid = -1;
    if (const int err = Spawn(spawn, pid))
        ThrowProcessError(StartError(err), false);
    return TProcessAccess::Make(pid);
}

TProcessHandle StartProcessAsUser(const QString &User, const QString &Domain, const QString &Password,
                                  const QString &CmdLine, const QString &WorkDir)
{
    Q_UNUSED(Domain);
    const QByteArray user = User.toUtf8();
    if (user.isEmpty() || !::getpwnam(user.constData()))
        ThrowProcessError(ERROR_LOGON_FAILURE, true);
    if (const uint32_t check = CheckWorkDir(WorkDir))
        ThrowProcessError(check, true);

    const bool asRoot = ::geteuid() == 0;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::ptsname_r(master, slave, sizeof slave) != 0) {
        const int err = errno;
        if (master >= 0)
            ::close(master);
        ThrowProcessError(StartError(err), true);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    TSpawn spawn;
    spawn.Argv = OtherUserCommand(User, CmdLine, WorkDir, asRoot);
    spawn.Terminal = slave;
    // Prompts in English, so the password question is recognised.
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANGUAGE=", 9) != 0)
            spawn.Environment << QByteArray(*e);
    }
    spawn.Environment << QByteArrayLiteral("LC_ALL=C");
    pid_t pid = -1;
    if (const int err = Spawn(spawn, pid)) {
        ::close(master);
        ThrowProcessError(StartError(err), true);
    }
    TProcessHandle process = TProcessAccess::Make(pid);
    TProcessAccess::SetTerminal(*process, master);

    // The conversation on the terminal: answer the password question once,
    // then wait for the script's marker (started, or no folder) or su's end.
    const QByteArray started = kStartMarker;
    const QByteArray noFolder = kNoFolderMarker;
    QByteArray seen;
    bool passwordSent = asRoot;
    bool terminalOpen = true;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        const bool ended = TProcessAccess::TryReap(*process);
        if (!ended) {
            pollfd fds[2];
            nfds_t n = 0;
            if (terminalOpen)
                fds[n++] = {master, POLLIN, 0};
            const int pidFd = TProcessAccess::PidFd(*process);
            if (pidFd >= 0)
                fds[n++] = {pidFd, POLLIN, 0};
            ::poll(fds, n, pidFd >= 0 ? 100 : 10);
        }
        // After su's end this reads what it left in the terminal.
        if (terminalOpen)
            terminalOpen = ReadAvailable(master, seen); // EIO: no writer left
        if (seen.contains(started))
            return process;
        if (seen.contains(noFolder) || ended) {
            TProcessAccess::TryReap(*process, true);
            ThrowProcessError(seen.contains(noFolder) ? ERROR_DIRECTORY : ERROR_LOGON_FAILURE, true);
        }
        if (!passwordSent && seen.trimmed().endsWith(':')) {
            const QByteArray answer = Password.toUtf8() + '\n';
            if (::write(master, answer.constData(), size_t(answer.size())) != answer.size())
                break;
            passwordSent = true;
        }
        ProcessMessages();
    }
    ::kill(pid, SIGKILL);
    TProcessAccess::TryReap(*process, true);
    ThrowProcessError(ERROR_TIMEOUT, true);
}

uint32_t WaitForProcess(TProcessHandle &Handle, int32_t Timeout, bool ExitCodeOnTimeout)
{
    if (!Handle)
        return ERROR_INVALID_HANDLE;
    int noPipe = -1;
    // A negative time-out is a wait of weeks or more (-1 is INFINITE): no limit.
    const TWaitEnd end = WaitForEnd(*Handle, std::max<int64_t>(Timeout, 0), false, noPipe, nullptr);
    if (end != TWaitEnd::Ended && !ExitCodeOnTimeout)
        return WAIT_TIMEOUT;
    const uint32_t result = ExitResult(*Handle, end == TWaitEnd::Ended ? 0 : WAIT_TIMEOUT);
    Handle.reset();
    return result;
}

uint32_t ShellExecuteAndWait(const QString &FileName, const QString &Params, const QString &WorkDir,
                             bool ExitCodeOnTimeout, int32_t Timeout, bool RunAs)
{
    if (const uint32_t check = CheckWorkDir(WorkDir))
        return check;
    if (FileName.isEmpty())
        return ERROR_FILE_NOT_FOUND;

    // A program (by path or in PATH) runs itself; anything else that exists,
    // or an address, goes to the desktop's opener.
    const QByteArray name = EncodeFileName(FileName);
    const QByteArray path = name.startsWith('/') || WorkDir.isEmpty() ? name : EncodeFileName(WorkDir) + '/' + name;
    struct stat st;
    const bool exists = ::stat(path.constData(), &st) == 0;
    QByteArray command;
    if (exists && S_ISREG(st.st_mode) && ::access(path.constData(), X_OK) == 0) {
        // By its path, so the shell does not look for the name in PATH.
        command = ProgramCommand(DecodeFileName(path.contains('/') ? path : "./" + path), Params);
    } else if (exists || FileName.contains(QLatin1String("://")) || FileName.startsWith(QLatin1String("mailto:"))) {
        QByteArray target = name;
        if (target.startsWith('-'))
            target.prepend("./");
        command = "xdg-open " + ShellQuote(target);
        if (CheckProgram(QStringLiteral("xdg-open"), WorkDir) != 0)
            return ERROR_FILE_NOT_FOUND;
    } else if (!name.contains('/') && CheckProgram(FileName, WorkDir) == 0) {
        command = ProgramCommand(FileName, Params);
    } else {
        const qsizetype slash = path.lastIndexOf('/');
        return ErrnoToError(ENOENT, slash > 0 && !IsDirectory(path.left(slash)));
    }

    TSpawn spawn;
    spawn.WorkDir = EncodeFileName(WorkDir);
    if (RunAs && !IsProcessElevated())
        spawn.Argv = {QByteArrayLiteral("pkexec"), QByteArrayLiteral("/bin/sh"), QByteArrayLiteral("-c"),
                      ElevatedScript(command, WorkDir, false)};
    else
        spawn.Argv = ShellArgv(command);
    pid_t pid = -1;
    if (const int err = Spawn(spawn, pid))
        return StartError(err);
    TProcessHandle process = TProcessAccess::Make(pid);
    return WaitForProcess(process, int32_t(std::min<int64_t>(std::abs(int64_t(Timeout)), INT32_MAX)),
                          ExitCodeOnTimeout);
}

bool RunElevated(const QString &FileName, const QString &Params, const QString &WorkDir)
{
    if (IsProcessElevated())
        return false;
    TPipeFds pipe;
    int(&pipeFds)[2] = pipe.Fd;
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    TSpawn spawn;
    spawn.Argv = ElevatedCommand(FileName, Params, WorkDir);
    spawn.StdoutFd = pipeFds[1];
    pid_t pid = -1;
    const int err = Spawn(spawn, pid);
    ::close(pipeFds[1]);
    pipeFds[1] = -1;
    if (err != 0)
        return false;
    TProcessHandle process = TProcessAccess::Make(pid);
    // The marker byte comes once the authorisation has passed and the
    // program is being started; pkexec's end without it is a refusal.
    QByteArray marker;
    while (marker.isEmpty() && pipeFds[0] >= 0) {
        if (WaitForEnd(*process, 100, false, pipeFds[0], &marker) == TWaitEnd::Ended) {
            ReadRest(pipeFds[0], marker);
            break;
        }
    }
    return !marker.isEmpty();
}

bool RunElevatedInCurrentDir(const QString &FileName, const QString &Params)
{
    char *cwd = ::getcwd(nullptr, 0);
    const QString dir = cwd ? DecodeFileName(QByteArray(cwd)) : QString();
    std::free(cwd);
    return RunElevated(FileName, Params, dir);
}

} // namespace vl
