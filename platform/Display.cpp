#include "platform/Display.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace vl {

namespace {

// Xauthority address families.
constexpr quint16 kFamilyInternet = 0;
constexpr quint16 kFamilyInternet6 = 6;
constexpr quint16 kFamilyLocal = 256;
constexpr quint16 kFamilyWild = 65535;

QString ErrnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err)).toLower();
}

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int Get() const { return FFd; }
    int Release()
    {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }
    void Reset(int fd)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

// Waits for events on fd until the deadline; 0 on time-out, -1 on error.
int PollUntil(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        struct pollfd p = {fd, events, 0};
        const int r = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

// A non-blocking connect that gives up at the deadline. The connected
// socket, or -1 with the reason in err.
int ConnectUntil(const sockaddr *addr, socklen_t len, const QDeadlineTimer &deadline, QString &err)
{
    TFd fd(::socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        err = ErrnoText(errno);
        return -1;
    }
    if (::connect(fd.Get(), addr, len) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            // A Unix socket whose backlog is full says EAGAIN: a server too
            // busy to take us is no display either.
            err = ErrnoText(errno);
            return -1;
        }
        const int r = PollUntil(fd.Get(), POLLOUT, deadline);
        if (r <= 0) {
            err = r == 0 ? QStringLiteral("no answer in time") : ErrnoText(errno);
            return -1;
        }
        int soErr = 0;
        socklen_t soLen = sizeof soErr;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &soErr, &soLen) != 0 || soErr != 0) {
            err = ErrnoText(soErr ? soErr : errno);
            return -1;
        }
    }
    return fd.Release();
}

// Fills a Unix socket address; abstract puts the leading NUL. False when the
// path does not fit.
bool UnixAddress(const QByteArray &path, bool abstract, sockaddr_un &addr, socklen_t &len)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const qsizetype offset = abstract ? 1 : 0;
    if (path.isEmpty() || offset + path.size() + (abstract ? 0 : 1) > qsizetype(sizeof addr.sun_path))
        return false;
    std::memcpy(addr.sun_path + offset, path.constData(), size_t(path.size()));
    len = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return true;
}

int ConnectUnix(const QString &path, bool abstract, const QDeadlineTimer &deadline, QString &err)
{
    sockaddr_un addr;
    socklen_t len = 0;
    if (!UnixAddress(QFile::encodeName(path), abstract, addr, len)) {
        err = QStringLiteral("socket path too long");
        return -1;
    }
    return ConnectUntil(reinterpret_cast<const sockaddr *>(&addr), len, deadline, err);
}

bool IsSocket(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// ---------------------------------------------------------------------------
// Xauthority

struct TXauthEntry {
    quint16 Family = 0;
    QByteArray Address, Number, Name, Data;
};

QList<TXauthEntry> ReadXauthority()
{
    QString path = qEnvironmentVariable("XAUTHORITY");
    if (path.isEmpty()) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            return {};
        path = home + QStringLiteral("/.Xauthority");
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.read(1 << 20);
    QList<TXauthEntry> entries;
    qsizetype pos = 0;
    auto u16 = [&](quint16 &v) {
        if (pos + 2 > bytes.size())
            return false;
        v = quint16((quint8(bytes[pos]) << 8) | quint8(bytes[pos + 1]));
        pos += 2;
        return true;
    };
    auto field = [&](QByteArray &v) {
        quint16 n = 0;
        if (!u16(n) || pos + n > bytes.size())
            return false;
        v = bytes.mid(pos, n);
        pos += n;
        return true;
    };
    for (;;) {
        TXauthEntry e;
        if (!u16(e.Family) || !field(e.Address) || !field(e.Number) || !field(e.Name) || !field(e.Data))
            break;
        entries.append(e);
    }
    return entries;
}

QByteArray HostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return QByteArray(buf);
}

// The family and address an Xauthority entry must have for the connection
// on fd: the host name for Unix sockets and loopback, else the peer address.
void AuthAddress(int fd, quint16 &family, QByteArray &address)
{
    family = kFamilyLocal;
    address = HostName();
    sockaddr_storage peer;
    socklen_t len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0)
        return;
    if (peer.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&peer);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127)
            return;
        family = kFamilyInternet;
        address = QByteArray(reinterpret_cast<const char *>(&in->sin_addr), 4);
    } else if (peer.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&peer);
        if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr))
            return;
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
            const char *v4 = reinterpret_cast<const char *>(&in6->sin6_addr) + 12;
            if (quint8(v4[0]) == 127)
                return;
            family = kFamilyInternet;
            address = QByteArray(v4, 4);
        } else {
            family = kFamilyInternet6;
            address = QByteArray(reinterpret_cast<const char *>(&in6->sin6_addr), 16);
        }
    }
}

// The first MIT-MAGIC-COOKIE-1 entry for the display, as the X client
// library picks it; empty when there is none.
QByteArray CookieFor(int fd, int number)
{
    quint16 family = 0;
    QByteArray address;
    AuthAddress(fd, family, address);
    const QByteArray num = QByteArray::number(number);
    for (const TXauthEntry &e : ReadXauthority()) {
        const bool addressMatches = e.Family == kFamilyWild || (e.Family == family && e.Address == address);
        if (addressMatches && (e.Number.isEmpty() || e.Number == num) && e.Name == "MIT-MAGIC-COOKIE-1")
            return e.Data;
    }
    return {};
}

void AppendCard16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xff));
    b.append(char(v >> 8));
}

void AppendPadded(QByteArray &b, const QByteArray &data)
{
    b.append(data);
    b.append((4 - data.size() % 4) % 4, '\0');
}

// Sends the connection setup and reads the server's verdict: true when it
// accepts us; otherwise the reason in err.
bool X11SetupAccepted(int fd, int number, const QDeadlineTimer &deadline, QString &err)
{
    const QByteArray cookie = CookieFor(fd, number);
    const QByteArray authName = cookie.isEmpty() ? QByteArray() : QByteArrayLiteral("MIT-MAGIC-COOKIE-1");
    QByteArray req;
    req.append('l'); // little-endian byte order for the numbers below
    req.append('\0');
    AppendCard16(req, 11);
    AppendCard16(req, 0);
    AppendCard16(req, quint16(authName.size()));
    AppendCard16(req, quint16(cookie.size()));
    AppendCard16(req, 0);
    AppendPadded(req, authName);
    AppendPadded(req, cookie);
    if (::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL) != req.size()) {
        err = ErrnoText(errno);
        return false;
    }
    // The reply opens with the status; a refusal carries its reason from
    // byte 8 on, byte 1 giving its length.
    QByteArray reply;
    qsizetype want = 1;
    while (reply.size() < want) {
        const int r = PollUntil(fd, POLLIN, deadline);
        if (r <= 0)
            break;
        char buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reply.append(buf, n);
        if (quint8(reply[0]) == 1)
            return true;
        if (quint8(reply[0]) == 0)
            want = reply.size() >= 2 ? 8 + quint8(reply[1]) : 2;
        else
            break;
    }
    if (reply.isEmpty()) {
        err = QStringLiteral("no answer to the connection setup");
        return false;
    }
    const quint8 status = quint8(reply[0]);
    QString reason;
    if (status == 0 && reply.size() >= 8 + qsizetype(quint8(reply[1])))
        reason = QString::fromLatin1(reply.mid(8, quint8(reply[1]))).trimmed();
    else if (status == 2)
        reason = QStringLiteral("further authentication required");
    err = QStringLiteral("connection refused by the server") + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    return false;
}

// ---------------------------------------------------------------------------

bool ProbeWayland(const QDeadlineTimer &deadline, QString &why)
{
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty()) {
        why = QStringLiteral("WAYLAND_DISPLAY is not set");
        return false;
    }
    QString path = name;
    if (!QDir::isAbsolutePath(name)) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) {
            why = QStringLiteral("WAYLAND_DISPLAY=%1: XDG_RUNTIME_DIR is not set").arg(name);
            return false;
        }
        path = runtime + QLatin1Char('/') + name;
    }
    QString err;
    TFd fd(ConnectUnix(path, false, deadline, err));
    if (fd.Get() < 0) {
        why = QStringLiteral("WAYLAND_DISPLAY=%1: %2").arg(name, err);
        return false;
    }
    return true;
}

int ConnectTcp(const QString &host, int port, const QDeadlineTimer &deadline, QString &err)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    struct addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &list);
    if (rc != 0) {
        err = QString::fromLocal8Bit(gai_strerror(rc)).toLower();
        return -1;
    }
    int fd = -1;
    for (auto *ai = list; ai && fd < 0 && !deadline.hasExpired(); ai = ai->ai_next)
        fd = ConnectUntil(ai->ai_addr, ai->ai_addrlen, deadline, err);
    ::freeaddrinfo(list);
    return fd;
}

bool ProbeX11(const QDeadlineTimer &deadline, QString &why)
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        why = QStringLiteral("DISPLAY is not set");
        return false;
    }
    TX11Address a;
    if (!ParseX11Display(display, a)) {
        why = QStringLiteral("DISPLAY=%1: not a display name").arg(display);
        return false;
    }
    QString err;
    TFd fd;
    switch (a.Kind) {
    case TX11Address::TKind::Local:
        fd.Reset(ConnectUnix(a.SocketPath, true, deadline, err));
        if (fd.Get() < 0)
            fd.Reset(ConnectUnix(a.SocketPath, false, deadline, err));
        break;
    case TX11Address::TKind::Socket:
        fd.Reset(ConnectUnix(a.SocketPath, false, deadline, err));
        break;
    case TX11Address::TKind::Tcp:
        fd.Reset(ConnectTcp(a.Host, 6000 + a.Number, deadline, err));
        break;
    }
    if (fd.Get() < 0 || !X11SetupAccepted(fd.Get(), a.Number, deadline, err)) {
        why = QStringLiteral("DISPLAY=%1: %2").arg(display, err);
        return false;
    }
    return true;
}

} // namespace

bool ParseX11Display(const QString &display, TX11Address &address)
{
    address = TX11Address();
    if (display.isEmpty())
        return false;
    if (display.startsWith(QLatin1Char('/')) && IsSocket(display)) {
        address.Kind = TX11Address::TKind::Socket;
        address.SocketPath = display;
        return true;
    }
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString host = display.left(colon);
    // Display number, then an optional ".screen".
    QString rest = display.mid(colon + 1);
    const qsizetype dot = rest.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        bool screenOk = false;
        rest.mid(dot + 1).toUInt(&screenOk);
        if (!screenOk)
            return false;
        rest.truncate(dot);
    }
    bool ok = false;
    const uint number = rest.toUInt(&ok);
    if (!ok || rest.startsWith(QLatin1Char('+')) || number > 59535)
        return false;
    address.Number = int(number);

    if (host.startsWith(QLatin1Char('/'))) {
        address.Kind = TX11Address::TKind::Socket;
        address.SocketPath = host;
        return true;
    }
    if (host.endsWith(QLatin1Char(':')))
        return false; // DECnet "host::n"
    QString protocol;
    const qsizetype slash = host.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        protocol = host.left(slash);
        host = host.mid(slash + 1);
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const bool local = host.isEmpty() || host == QLatin1String("unix");
    if (protocol.isEmpty())
        protocol = local ? QStringLiteral("unix") : QStringLiteral("tcp");
    if (protocol == QLatin1String("unix") || protocol == QLatin1String("local")) {
        if (!local)
            return false;
        address.Kind = TX11Address::TKind::Local;
        address.SocketPath = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        return true;
    }
    if (protocol == QLatin1String("tcp") || protocol == QLatin1String("inet") || protocol == QLatin1String("inet6")) {
        if (host.isEmpty() || host == QLatin1String("unix"))
            return false;
        address.Kind = TX11Address::TKind::Tcp;
        address.Host = host;
        return true;
    }
    return false;
}

bool DisplayAnswers(QString *why, int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    QStringList platforms;
    const QString qpa = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (const QString &entry : qpa.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        platforms.append(entry.section(QLatin1Char(':'), 0, 0).trimmed().toLower());
    if (platforms.isEmpty()) {
        // Left to Qt, only a display whose variable is set can be reached.
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            platforms.append(QStringLiteral("wayland"));
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            platforms.append(QStringLiteral("xcb"));
        if (platforms.isEmpty()) {
            if (why)
                *why = QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY is set");
            return false;
        }
    }

    QStringList reasons;
    for (const QString &p : std::as_const(platforms)) {
        QString reason;
        if (p == QLatin1String("offscreen") || p == QLatin1String("minimal"))
            return true;
        if (p.startsWith(QLatin1String("wayland"))) {
            if (ProbeWayland(deadline, reason))
                return true;
        } else if (p == QLatin1String("xcb")) {
            if (ProbeX11(deadline, reason))
                return true;
        } else {
            reason = QStringLiteral("QT_QPA_PLATFORM=%1: cannot be checked").arg(p);
        }
        reasons.append(reason);
    }
    if (why)
        *why = reasons.join(QStringLiteral("; "));
    return false;
}

} // namespace vl
