#include "platform/Shell.h"

#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <QByteArray>
#include <QList>

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace vl {

namespace {

QString StripTrailingSlashes(QString s)
{
    while (s.size() > 1 && s.endsWith(QLatin1Char('/')))
        s.chop(1);
    return s;
}

// An XDG base folder: the variable when it holds an absolute path (relative
// values are invalid and ignored), else the default below the home folder.
QString XdgBaseDir(const char *variable, const QString &defaultBelowHome)
{
    const QString value = DecodeFileName(qgetenv(variable));
    if (value.startsWith(QLatin1Char('/')))
        return StripTrailingSlashes(value);
    const QString home = UserProfileDirectory();
    return (home == QLatin1String("/") ? QString() : home) + QLatin1Char('/') + defaultBelowHome;
}

QByteArray ReadSmallFile(const QByteArray &path)
{
    QByteArray data;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || data.size() > 1024 * 1024)
            break;
        data.append(buffer, n);
    }
    ::close(fd);
    return data;
}

// The value of key in user-dirs.dirs, with its shell quoting undone and
// "$HOME" replaced; null when the file does not set it (the last setting
// counts, as when a shell reads the file).
QString UserDirsValue(const QByteArray &key)
{
    const QByteArray data = ReadSmallFile(EncodeFileName(XdgConfigHome() + QStringLiteral("/user-dirs.dirs")));
    QString result;
    for (const QByteArray &rawLine : data.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (line.startsWith('#') || eq < 0 || line.left(eq).trimmed() != key)
            continue;
        const QByteArray raw = line.mid(eq + 1).trimmed();
        QByteArray value;
        if (raw.startsWith('"')) {
            qsizetype i = 1;
            for (; i < raw.size() && raw[i] != '"'; ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size())
                    ++i;
                value += raw[i];
            }
            if (i >= raw.size())
                continue; // quote not closed: not a valid setting
        } else {
            value = raw;
        }
        QString dir;
        if (value == "$HOME" || value.startsWith("$HOME/"))
            dir = UserProfileDirectory() + DecodeFileName(value.mid(5));
        else if (value.startsWith('/'))
            dir = DecodeFileName(value);
        else
            continue; // only these two forms are allowed
        result = StripTrailingSlashes(dir);
    }
    return result;
}

// mkdir that accepts an existing folder (not a link to one).
bool EnsureDir(const QByteArray &path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// A Trash folder of a shared file system must belong to us: anyone could
// have planted a link or folder under that name to catch our files.
bool EnsureOwnDir(const QByteArray &path)
{
    if (!EnsureDir(path, 0700))
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = EACCES;
        return false;
    }
    return true;
}

QByteArray DirName(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// The mount point of the file system (dev) that holds dir.
QByteArray TopDirOf(QByteArray dir, dev_t dev)
{
    while (dir != "/") {
        const QByteArray parent = DirName(dir);
        struct stat st;
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != dev)
            break;
        dir = parent;
    }
    return dir;
}

// The Trash of a file system other than that of the home Trash.
uint32_t TopDirTrash(const QByteArray &topDir, QByteArray &trashDir)
{
    const QByteArray base = topDir == "/" ? QByteArray() : topDir;
    const QByteArray uid = QByteArray::number(uint(::geteuid()));
    const QByteArray adminTrash = base + "/.Trash";
    struct stat st;
    // An administrator's shared .Trash counts only as a real folder with
    // the sticky bit, so no user can remove another's files from it.
    if (::lstat(adminTrash.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)
        && EnsureOwnDir(adminTrash + '/' + uid)) {
        trashDir = adminTrash + '/' + uid;
        return ERROR_SUCCESS;
    }
    trashDir = base + "/.Trash-" + uid;
    return EnsureOwnDir(trashDir) ? ERROR_SUCCESS : ErrnoToError(errno);
}

// name cut so that name + suffix + ".trashinfo" fits a file name, without
// splitting a UTF-8 sequence.
QByteArray TrashName(const QByteArray &name, const QByteArray &suffix)
{
    const qsizetype room = NAME_MAX - qsizetype(sizeof(".trashinfo") - 1) - suffix.size();
    QByteArray cut = name;
    if (cut.size() > room) {
        qsizetype n = room;
        while (n > 0 && (uchar(cut[n]) & 0xC0) == 0x80)
            --n;
        cut.truncate(n);
    }
    return cut + suffix;
}

QByteArray LocalTimeText(time_t t)
{
    struct tm local;
    char text[32];
    localtime_r(&t, &local);
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return QByteArray(text);
}

bool WriteAll(int fd, const QByteArray &data)
{
    return WriteAllBytes(fd, data.constData(), data.size()) == ERROR_SUCCESS;
}

int RenameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the flag: the target was free a moment ago
    // and its info file reserves the name.
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.constData(), to.constData());
}

QByteArray FindInPath(const QByteArray &program)
{
    QByteArray path = qgetenv("PATH");
    if (path.isEmpty())
        path = "/usr/local/bin:/usr/bin:/bin";
    for (const QByteArray &dir : path.split(':')) {
        const QByteArray candidate = (dir.isEmpty() ? QByteArray(".") : dir) + '/' + program;
        struct stat st;
        if (::stat(candidate.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return QByteArray();
}

} // namespace

QString XdgConfigHome()
{
    return XdgBaseDir("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString XdgDataHome()
{
    return XdgBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString XdgUserDir(TXdgUserDir dir)
{
    struct TEntry {
        const char *Key;
        const char *Default;
    };
    static const TEntry entries[] = {
        {"XDG_DESKTOP_DIR", "Desktop"}, {"XDG_DOCUMENTS_DIR", "Documents"}, {"XDG_DOWNLOAD_DIR", "Downloads"},
        {"XDG_MUSIC_DIR", "Music"},     {"XDG_PICTURES_DIR", "Pictures"},   {"XDG_VIDEOS_DIR", "Videos"},
    };
    const TEntry &entry = entries[int(dir)];
    const QString home = UserProfileDirectory();
    QString result = UserDirsValue(entry.Key);
    if (result.isNull())
        result = (home == QLatin1String("/") ? QString() : home) + QLatin1Char('/') + QLatin1String(entry.Default);
    return result == home ? QString() : result;
}

QString AutostartDirectory()
{
    return XdgConfigHome() + QStringLiteral("/autostart");
}

uint32_t MoveToTrash(const QString &path, QString *trashedPath)
{
    if (trashedPath)
        trashedPath->clear();
    QByteArray item = EncodeFileName(path);
    if (item.isEmpty())
        return ERROR_INVALID_PARAMETER;
    if (!item.startsWith('/')) {
        char *cwd = ::getcwd(nullptr, 0);
        if (!cwd)
            return ErrnoToError(errno);
        item = QByteArray(cwd) + '/' + item;
        std::free(cwd);
    }
    while (item.size() > 1 && item.endsWith('/'))
        item.chop(1);
    // The folder is resolved, the item itself not: trashing a link moves
    // the link.
    const QByteArray base = item.mid(item.lastIndexOf('/') + 1);
    if (base.isEmpty() || base == "." || base == "..")
        return ERROR_INVALID_PARAMETER;
    char *realDirText = ::realpath(DirName(item).constData(), nullptr);
    if (!realDirText)
        return ErrnoToError(errno, true);
    const QByteArray realDir(realDirText);
    std::free(realDirText);
    item = (realDir == "/" ? QByteArray() : realDir) + '/' + base;

    struct stat itemStat, dirStat;
    if (::lstat(item.constData(), &itemStat) != 0)
        return ErrnoToError(errno);
    if (::stat(realDir.constData(), &dirStat) != 0)
        return ErrnoToError(errno);
    if (dirStat.st_dev != itemStat.st_dev)
        return ErrnoToError(EBUSY); // a mount point cannot be moved

    QByteArray trashDir;
    QByteArray infoPath = item; // absolute in the home Trash
    const QString dataHome = XdgDataHome();
    struct stat homeStat;
    const QByteArray dataHomeBytes = EncodeFileName(dataHome);
    bool haveHome = ::stat(dataHomeBytes.constData(), &homeStat) == 0;
    if (!haveHome && MakeDirs(dataHome) == ERROR_SUCCESS)
        haveHome = ::stat(dataHomeBytes.constData(), &homeStat) == 0;
    if (haveHome && homeStat.st_dev == itemStat.st_dev) {
        trashDir = dataHomeBytes + "/Trash";
        if (!EnsureDir(trashDir, 0700))
            return ErrnoToError(errno);
    } else {
        const QByteArray topDir = TopDirOf(realDir, itemStat.st_dev);
        if (const uint32_t code = TopDirTrash(topDir, trashDir))
            return code;
        infoPath = item.mid(topDir == "/" ? 1 : topDir.size() + 1);
    }
    const QByteArray filesDir = trashDir + "/files/";
    const QByteArray infoDir = trashDir + "/info/";
    if (!EnsureDir(filesDir, 0700) || !EnsureDir(infoDir, 0700))
        return ErrnoToError(errno);

    const QByteArray info = "[Trash Info]\nPath=" + infoPath.toPercentEncoding("/") + "\nDeletionDate="
                          + LocalTimeText(::time(nullptr)) + '\n';
    for (int n = 1; n < 100000; ++n) {
        const QByteArray name = TrashName(base, n == 1 ? QByteArray() : '.' + QByteArray::number(n));
        const QByteArray infoFile = infoDir + name + ".trashinfo";
        const QByteArray target = filesDir + name;
        // The info file comes first and exclusively: it reserves the name.
        const int fd = ::open(infoFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return ErrnoToError(errno);
        }
        struct stat st;
        if (::lstat(target.constData(), &st) == 0) { // left over without its info file
            ::close(fd);
            ::unlink(infoFile.constData());
            continue;
        }
        const bool written = WriteAll(fd, info) && ::fsync(fd) == 0;
        const int writeErrno = errno;
        ::close(fd);
        if (!written) {
            ::unlink(infoFile.constData());
            return ErrnoToError(writeErrno);
        }
        if (RenameNoReplace(item, target) != 0) {
            const int err = errno;
            ::unlink(infoFile.constData());
            if (err == EEXIST)
                continue;
            return ErrnoToError(err);
        }
        if (trashedPath)
            *trashedPath = DecodeFileName(target);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_EXISTS;
}

uint32_t OpenWithPreferredApp(const QString &target)
{
    if (target.isEmpty())
        return ERROR_INVALID_PARAMETER;
    const QByteArray program = FindInPath("xdg-open");
    if (program.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    QByteArray argument = EncodeFileName(target);
    if (argument.startsWith('-'))
        argument.prepend("./"); // a name, not an option
    char *argv[] = {const_cast<char *>("xdg-open"), argument.data(), nullptr};

    // Everything is prepared before the fork: the children only call
    // async-signal-safe functions. The middle child leaves at once, so
    // xdg-open and what it starts belong to no one and leave no zombie.
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const pid_t grandChild = ::fork();
        if (grandChild == 0) {
            if (devNull >= 0) {
                ::dup2(devNull, STDIN_FILENO);
                ::dup2(devNull, STDOUT_FILENO);
            }
            ::execv(program.constData(), argv);
            ::_exit(127);
        }
        ::_exit(grandChild < 0 ? 1 : 0);
    }
    const int forkErrno = errno;
    if (devNull >= 0)
        ::close(devNull);
    if (pid < 0)
        return ErrnoToError(forkErrno);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ErrnoToError(EAGAIN);
    return ERROR_SUCCESS;
}

} // namespace vl
