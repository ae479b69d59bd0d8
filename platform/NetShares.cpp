#include "platform/NetShares.h"

#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char **environ;

namespace vl {

namespace {

bool IsExecutableOnPath(const char *name)
{
    const QByteArray path = qgetenv("PATH");
    for (const QByteArray &dir : path.split(':')) {
        const QByteArray full = (dir.isEmpty() ? QByteArray(".") : dir) + '/' + name;
        struct stat st;
        if (stat(full.constData(), &st) == 0 && S_ISREG(st.st_mode) && access(full.constData(), X_OK) == 0)
            return true;
    }
    return false;
}

// Writes all of data to fd; false when the reader went away.
bool WriteAll(int fd, const QByteArray &data)
{
    return WriteAllBytes(fd, data.constData(), data.size()) == ERROR_SUCCESS;
}

} // namespace

QList<TGvfsShare> ListGvfsShares(const QString &gvfsDir)
{
    QList<TGvfsShare> shares;
    std::vector<TDirEntry> entries;
    if (gvfsDir.isEmpty() || ListDirectory(gvfsDir, entries) != 0)
        return shares;
    const QString prefix = QStringLiteral("smb-share:");
    for (const TDirEntry &e : entries) {
        if (!e.Name.startsWith(prefix))
            continue;
        TGvfsShare share;
        // Values are percent-escaped by gvfs; keys are plain.
        for (const QString &pair : e.Name.mid(prefix.size()).split(QLatin1Char(','))) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq < 0)
                continue;
            const QString key = pair.left(eq);
            const QString value = QUrl::fromPercentEncoding(pair.mid(eq + 1).toUtf8());
            if (key == QLatin1String("server"))
                share.Server = value;
            else if (key == QLatin1String("share"))
                share.Share = value;
        }
        if (share.Server.isEmpty() || share.Share.isEmpty())
            continue;
        share.Folder = gvfsDir + (gvfsDir.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + e.Name;
        shares.append(share);
    }
    return shares;
}

QString DefaultGvfsDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/gvfs");
    return QStringLiteral("/run/user/%1/gvfs").arg(getuid());
}

bool GioMountAvailable()
{
    if (!IsExecutableOnPath("gio"))
        return false;
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st;
    return !runtime.isEmpty() && stat((runtime + "/bus").constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

uint32_t GioMountError(int exitCode, const QString &output)
{
    if (exitCode == 0)
        return ERROR_SUCCESS;
    // gio reports a failure as "gio: <uri>: <message>"; only the messages
    // count, since other text (a question gio asked on the same line) and
    // the URI may hold any word.
    QString messages;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const qsizetype start = line.indexOf(QLatin1String("gio: "));
        if (start < 0)
            continue;
        const qsizetype uriEnd = line.indexOf(QLatin1String(": "), start + 5);
        messages += (uriEnd < 0 ? line.mid(start + 5) : line.mid(uriEnd + 2)) + QLatin1Char('\n');
    }
    const auto has = [&messages](const char *text) {
        return messages.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    if (has("already mounted"))
        return ERROR_SUCCESS;
    if (has("password") || has("permission denied") || has("access denied") || has("logon failure")
        || has("authentication") || has("credentials"))
        return ERROR_LOGON_FAILURE;
    if (has("timed out") || has("timeout") || has("connection reset"))
        return ERROR_NETNAME_DELETED;
    if (has("no such file") || has("not found") || has("does not exist") || has("no route to host")
        || has("connection refused") || has("name or service not known") || has("unknown host")
        || has("could not resolve") || has("failed to retrieve share list"))
        return ERROR_BAD_NETPATH;
    return ERROR_SHARE_NOT_MOUNTED;
}

uint32_t RunGioMount(const TGioMountRequest &request)
{
    // gio asks "User", "Domain" and "Password" in this order, each only when
    // it needs it; a line left out (end of input) makes it give up.
    QByteArray input;
    if (!request.User.isEmpty()) {
        const qsizetype slash = request.User.indexOf(QLatin1Char('\\'));
        const QString user = slash < 0 ? request.User : request.User.mid(slash + 1);
        const QString domain = slash < 0 ? QString() : request.User.left(slash);
        input = user.toUtf8() + '\n' + domain.toUtf8() + '\n';
        if (request.WithPassword)
            input += request.Password.toUtf8() + '\n';
    }

    int inPipe[2];
    int outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0)
        return ErrnoToError(errno);
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        const int err = errno;
        close(inPipe[0]);
        close(inPipe[1]);
        return ErrnoToError(err);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    // Its questions go to stdout, its errors to stderr.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);

    // English messages, so that GioMountError can read them.
    std::vector<QByteArray> envStore;
    for (char **e = environ; e && *e; ++e) {
        if (strncmp(*e, "LC_ALL=", 7) != 0 && strncmp(*e, "LANGUAGE=", 9) != 0)
            envStore.emplace_back(*e);
    }
    envStore.emplace_back("LC_ALL=C");
    std::vector<char *> envp;
    for (QByteArray &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const QByteArray uri = request.Uri.toUtf8();
    std::vector<const char *> argv = {"gio", "mount"};
    if (request.Unmount)
        argv.push_back("-u");
    argv.push_back(uri.constData());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawnError =
        posix_spawnp(&pid, "gio", &actions, nullptr, const_cast<char *const *>(argv.data()), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(inPipe[0]);
    close(outPipe[1]);
    if (spawnError != 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        return ERROR_SHARE_NOT_MOUNTED;
    }

    // gio reads its answers line by line; the pipe buffer holds them all, and
    // a gio that never reads does not block us (SIGPIPE is ignored by
    // checking the write result with the signal blocked for this thread).
    sigset_t pipeSet, oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    WriteAll(inPipe[1], input);
    close(inPipe[1]);
    // Consume a SIGPIPE raised by the write, so it is not delivered later.
    timespec zero{};
    while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);

    QByteArray output;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd pfd{outPipe[0], POLLIN, 0};
        const int p = poll(&pfd, 1, int(left.count()));
        if (p < 0 && errno == EINTR)
            continue;
        if (p <= 0) {
            timedOut = p == 0;
            break;
        }
        char buf[4096];
        const ssize_t n = read(outPipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output.append(buf, n);
    }
    close(outPipe[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return ERROR_TIMEOUT;
    // A death by a signal is a failure.
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return GioMountError(exitCode, QString::fromUtf8(output));
}

} // namespace vl
