#include "platform/Display.h"

#include "common/TestUtils.h"

#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>

using namespace vl;
using vl::test::TScopedEnv;

namespace {

// How a fake display server treats the one connection it takes.
enum class TPeer {
    AcceptOnly, // accepts and closes (a Wayland compositor for the probe)
    Silent,     // accepts and never answers
    X11,        // reads the X11 setup; accepts it when the cookie matches
};

const QByteArray kCookie = QByteArray::fromHex("00112233445566778899aabbccddeeff");

// A listening socket with a thread that serves one connection the way Peer
// says. Cookie: the MIT cookie an X11 peer insists on (empty: any).
class TFakeServer {
public:
    TFakeServer(int listenFd, TPeer peer, QByteArray cookie = {})
        : FFd(listenFd), FPeer(peer), FCookie(std::move(cookie))
    {
        if (FFd >= 0)
            FThread = std::thread([this] { Serve(); });
    }
    ~TFakeServer()
    {
        if (FThread.joinable())
            FThread.join();
        if (FFd >= 0)
            ::close(FFd);
    }
    bool Listening() const { return FFd >= 0; }

private:
    void Serve()
    {
        struct pollfd p = {FFd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            return;
        const int c = ::accept(FFd, nullptr, nullptr);
        if (c < 0)
            return;
        struct timeval tv = {3, 0};
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[256];
        if (FPeer == TPeer::Silent) {
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
        } else if (FPeer == TPeer::X11) {
            unsigned char head[12];
            if (::recv(c, head, sizeof head, MSG_WAITALL) == 12) {
                const int nameLen = head[6] | head[7] << 8;
                const int dataLen = head[8] | head[9] << 8;
                const int pad = (4 - nameLen % 4) % 4 + (4 - dataLen % 4) % 4;
                QByteArray rest(nameLen + dataLen + pad, '\0');
                if (rest.isEmpty() || ::recv(c, rest.data(), size_t(rest.size()), MSG_WAITALL) == rest.size()) {
                    const QByteArray data = rest.mid(nameLen + (4 - nameLen % 4) % 4, dataLen);
                    if (FCookie.isEmpty() || data == FCookie) {
                        const char ok[8] = {1, 0, 11, 0, 0, 0, 0, 0};
                        ::send(c, ok, sizeof ok, MSG_NOSIGNAL);
                    } else {
                        const QByteArray reason("No protocol specified\n");
                        QByteArray no;
                        no.append(char(0)).append(char(reason.size())).append("\x0b\0\0\0", 4);
                        no.append(char((reason.size() + 3) / 4)).append('\0');
                        no.append(reason).append((4 - reason.size() % 4) % 4, '\0');
                        ::send(c, no.constData(), size_t(no.size()), MSG_NOSIGNAL);
                    }
                }
            }
        }
        ::close(c);
    }

    int FFd;
    TPeer FPeer;
    QByteArray FCookie;
    std::thread FThread;
};

int ListenUnix(const QByteArray &path, bool abstract)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + (abstract ? 1 : 0), path.constData(), size_t(path.size()));
    const auto len = socklen_t(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(fd, 4) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

int ListenTcp(int port)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// A display number whose listener could be set up (abstract X11 socket or
// TCP port 6000+n), with that listener; nullopt when all were taken.
std::optional<std::pair<int, int>> FreeDisplay(bool tcp)
{
    for (int n = 47; n < 100; ++n) {
        const int fd = tcp ? ListenTcp(6000 + n) : ListenUnix("/tmp/.X11-unix/X" + QByteArray::number(n), true);
        if (fd >= 0)
            return std::make_pair(n, fd);
    }
    return std::nullopt;
}

// One Xauthority entry in its big-endian file form.
QByteArray XauthEntry(quint16 family, const QByteArray &address, const QByteArray &number, const QByteArray &name,
                      const QByteArray &data)
{
    QByteArray b;
    auto u16 = [&](int v) { b.append(char(v >> 8)).append(char(v & 0xff)); };
    u16(family);
    for (const QByteArray *f : {&address, &number, &name, &data}) {
        u16(int(f->size()));
        b.append(*f);
    }
    return b;
}

// Clears what the probe reads, so the machine's own display plays no part.
struct TCleanDisplayEnv {
    TScopedEnv Env{{"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr},
                   {"XAUTHORITY", nullptr}, {"XDG_RUNTIME_DIR", nullptr}};
};

} // namespace

TEST(Display, ParsesDisplayNames)
{
    using K = TX11Address::TKind;
    const struct {
        const char *Display;
        bool Ok;
        K Kind;
        const char *Where; // socket path or host
        int Number;
    } cases[] = {
        {":0", true, K::Local, "/tmp/.X11-unix/X0", 0},
        {":1.0", true, K::Local, "/tmp/.X11-unix/X1", 1},
        {"unix:12.3", true, K::Local, "/tmp/.X11-unix/X12", 12},
        {"unix/:5", true, K::Local, "/tmp/.X11-unix/X5", 5},
        {"localhost:10.0", true, K::Tcp, "localhost", 10},
        {"tcp/example.test:2", true, K::Tcp, "example.test", 2},
        {"[::1]:3", true, K::Tcp, "::1", 3},
        {"/no/such/dir/org.x:0", true, K::Socket, "/no/such/dir/org.x", 0},
        {"", false, K::Local, "", 0},
        {"foo", false, K::Local, "", 0},
        {":", false, K::Local, "", 0},
        {":x", false, K::Local, "", 0},
        {":0.x", false, K::Local, "", 0},
        {":-1", false, K::Local, "", 0},
        {"host::0", false, K::Local, "", 0},
        {"unix/host:0", false, K::Local, "", 0},
        {"tcp/:0", false, K::Local, "", 0},
        {"decnet/host:0", false, K::Local, "", 0},
    };
    for (const auto &c : cases) {
        TX11Address a;
        ASSERT_EQ(ParseX11Display(QString::fromUtf8(c.Display), a), c.Ok) << c.Display;
        if (!c.Ok)
            continue;
        EXPECT_EQ(a.Kind, c.Kind) << c.Display;
        EXPECT_EQ(c.Kind == K::Tcp ? a.Host : a.SocketPath, QString::fromUtf8(c.Where)) << c.Display;
        EXPECT_EQ(a.Number, c.Number) << c.Display;
    }
}

TEST(Display, WaylandSocketAnswers)
{
    TCleanDisplayEnv clean;
    const QString dir = vl::test::MakeTempDir(QStringLiteral("run"));
    TFakeServer server(ListenUnix(QFile::encodeName(dir + QStringLiteral("/wayland-7")), false), TPeer::AcceptOnly);
    ASSERT_TRUE(server.Listening());
    TFakeServer absolute(ListenUnix(QFile::encodeName(dir + QStringLiteral("/abs")), false), TPeer::AcceptOnly);
    ASSERT_TRUE(absolute.Listening());

    const struct {
        const char *Name;
        bool Runtime;
        bool Answers;
    } cases[] = {
        {"wayland-7", true, true},
        {"wayland-7", false, false}, // a relative name needs XDG_RUNTIME_DIR
        {"wayland-8", true, false},
    };
    for (const auto &c : cases) {
        TScopedEnv env{{"WAYLAND_DISPLAY", c.Name}, {"XDG_RUNTIME_DIR", c.Runtime ? dir : QString()}};
        QString why;
        EXPECT_EQ(DisplayAnswers(&why), c.Answers) << c.Name << " " << why.toStdString();
        EXPECT_EQ(why.contains(QStringLiteral("WAYLAND_DISPLAY=") + QLatin1String(c.Name)), !c.Answers) << why.toStdString();
    }
    TScopedEnv env{{"WAYLAND_DISPLAY", dir + QStringLiteral("/abs")}};
    EXPECT_TRUE(DisplayAnswers());
}

TEST(Display, StaleDisplayFailsFast)
{
    TCleanDisplayEnv clean;
    if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X97")))
        GTEST_SKIP() << "display :97 exists here";
    TScopedEnv env{{"DISPLAY", ":97"}};
    QElapsedTimer t;
    t.start();
    QString why;
    EXPECT_FALSE(DisplayAnswers(&why, 5000));
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_TRUE(why.startsWith(QStringLiteral("DISPLAY=:97: "))) << why.toStdString();
}

TEST(Display, X11ServersAnswer)
{
    TCleanDisplayEnv clean;
    const QString dir = vl::test::MakeTempDir(QStringLiteral("x"));
    const QString path = dir + QStringLiteral("/X0");

    // File socket by path, the abstract socket of ":n", TCP port 6000+n.
    {
        TFakeServer server(ListenUnix(QFile::encodeName(path), false), TPeer::X11);
        ASSERT_TRUE(server.Listening());
        TScopedEnv env{{"DISPLAY", path + QStringLiteral(":0")}};
        QString why;
        EXPECT_TRUE(DisplayAnswers(&why)) << why.toStdString();
    }
    if (auto free = FreeDisplay(false)) {
        TFakeServer server(free->second, TPeer::X11);
        TScopedEnv env{{"DISPLAY", QStringLiteral(":%1.0").arg(free->first)}};
        QString why;
        EXPECT_TRUE(DisplayAnswers(&why)) << why.toStdString();
    }
    if (auto free = FreeDisplay(true)) {
        TFakeServer server(free->second, TPeer::X11);
        TScopedEnv env{{"DISPLAY", QStringLiteral("127.0.0.1:%1").arg(free->first)}};
        QString why;
        EXPECT_TRUE(DisplayAnswers(&why)) << why.toStdString();
    } else {
        std::cout << "no free TCP display port: TCP form not tried\n";
    }
}

TEST(Display, X11AuthorisationDecides)
{
    TCleanDisplayEnv clean;
    const QString dir = vl::test::MakeTempDir(QStringLiteral("x"));
    const QString sock = dir + QStringLiteral("/X0");
    const QString xauth = dir + QStringLiteral("/xauth");
    const QByteArray mit("MIT-MAGIC-COOKIE-1");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);

    const struct {
        const char *What;
        QByteArray File;
        bool Answers;
    } cases[] = {
        {"wild entry", XauthEntry(65535, "", "", mit, kCookie), true},
        {"local entry for this host and display", XauthEntry(256, host, "0", mit, kCookie), true},
        {"entry for another display", XauthEntry(256, host, "1", mit, kCookie), false},
        {"entry for another host", XauthEntry(256, "elsewhere", "0", mit, kCookie), false},
        {"wrong cookie", XauthEntry(65535, "", "", mit, QByteArray(16, 'x')), false},
        {"no file", QByteArray(), false},
    };
    for (const auto &c : cases) {
        QFile::remove(sock);
        QFile::remove(xauth);
        if (!c.File.isNull())
            vl::test::WriteBytes(xauth, c.File);
        TFakeServer server(ListenUnix(QFile::encodeName(sock), false), TPeer::X11, kCookie);
        ASSERT_TRUE(server.Listening());
        TScopedEnv env{{"DISPLAY", sock + QStringLiteral(":0")}, {"XAUTHORITY", xauth}};
        QString why;
        EXPECT_EQ(DisplayAnswers(&why), c.Answers) << c.What << ": " << why.toStdString();
        EXPECT_EQ(why.contains(QStringLiteral("No protocol specified")), !c.Answers) << c.What << ": " << why.toStdString();
    }
}

TEST(Display, SilentServerTimesOut)
{
    TCleanDisplayEnv clean;
    const QString sock = vl::test::MakeTempDir(QStringLiteral("x")) + QStringLiteral("/X0");
    TFakeServer server(ListenUnix(QFile::encodeName(sock), false), TPeer::Silent);
    ASSERT_TRUE(server.Listening());
    TScopedEnv env{{"DISPLAY", sock}};
    QElapsedTimer t;
    t.start();
    QString why;
    EXPECT_FALSE(DisplayAnswers(&why, 200));
    EXPECT_GE(t.elapsed(), 150);
    EXPECT_LT(t.elapsed(), 1500);
    EXPECT_TRUE(why.contains(QStringLiteral("no answer"))) << why.toStdString();
}

TEST(Display, PlatformChoice)
{
    TCleanDisplayEnv clean;
    const QString dir = vl::test::MakeTempDir(QStringLiteral("run"));
    TFakeServer server(ListenUnix(QFile::encodeName(dir + QStringLiteral("/wayland-0")), false), TPeer::AcceptOnly);
    ASSERT_TRUE(server.Listening());

    const struct {
        const char *Qpa;
        bool Wayland;
        bool Answers;
    } cases[] = {
        {nullptr, false, false},
        {"offscreen", false, true},
        {"minimal", false, true},
        {"xcb;offscreen", false, true},
        {"xcb", true, false}, // Qt would not try the Wayland display that answers
        {"eglfs", false, false},
        {nullptr, true, true},
        {"wayland;xcb", true, true},
    };
    for (const auto &c : cases) {
        TScopedEnv env{{"QT_QPA_PLATFORM", c.Qpa},
                       {"WAYLAND_DISPLAY", c.Wayland ? "wayland-0" : nullptr},
                       {"XDG_RUNTIME_DIR", dir}};
        QString why;
        EXPECT_EQ(DisplayAnswers(&why), c.Answers) << (c.Qpa ? c.Qpa : "(unset)") << " " << why.toStdString();
        EXPECT_EQ(why.isEmpty(), c.Answers);
    }
    QString why;
    EXPECT_FALSE(DisplayAnswers(&why));
    EXPECT_EQ(why, QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY is set"));
}
