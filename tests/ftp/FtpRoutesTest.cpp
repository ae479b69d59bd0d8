// The less common routes to an FTP server, against real peers: IPv6 on
// ::1 with extended passive and active data connections, and an HTTP
// proxy that tunnels the control and the passive data connections.
#include "engine/FtpUtils.h"

#include "common/TestUtils.h"
#include "ftp/FtpPeers.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vl {
namespace {

using namespace vl::test;
using namespace Qt::Literals::StringLiterals;

QByteArray RandomBytes(qsizetype ASize)
{
    QByteArray d(ASize, Qt::Uninitialized);
    QRandomGenerator gen(815);
    for (qsizetype i = 0; i < ASize; ++i)
        d[i] = char(gen.bounded(256));
    return d;
}

TFtpParams Params(const TFtpPeer &APeer)
{
    TFtpParams p;
    p.Host = APeer.Host;
    p.Port = APeer.Port;
    p.Username = APeer.User;
    p.ConnTimeout = 5000;
    p.ResponseTimeOut = 10000;
    p.WriteLog = true;
    p.CaseMode = TTextChange::tcNone;
    return p;
}

// Settings as a run applies them; the proxy is the caller's part.
void Prepare(TExtFtp &AFtp, const TFtpPeer &APeer, const TFtpParams &AParams,
             const TFtpProxySettings &AProxy = {})
{
    AFtp.SetParams(AParams);
    AFtp.Password = APeer.Password;
    AFtp.ProxySettings = AProxy;
    AFtp.SetLogname(MakeTempDir(u"log"_s) + u"/VlFtp.log"_s);
}

TFtpProxySettings HttpProxy(const TConnectProxy &AProxy)
{
    TFtpProxySettings p;
    p.ProxyType = TIdFtpProxyType::fpcmHttpProxyWithFtp;
    p.Host = u"127.0.0.1"_s;
    p.Port = AProxy.Port;
    return p;
}

// Upload, listing and download of one file; the data must come back as it
// went and lie on the server's disk.
void RoundTrip(TExtFtp &AFtp, const TFtpPeer &APeer, const QString &AName)
{
    const QByteArray data = RandomBytes(700000);
    TMemoryStream up(data);
    EXPECT_EQ(AFtp.Flush(up, AName, false), ftpOk) << AFtp.GetIndyError().toStdString();
    EXPECT_EQ(ReadBytes(APeer.Root + u'/' + AName), data);
    ASSERT_TRUE(AFtp.GetFileList()) << AFtp.GetIndyError().toStdString();
    EXPECT_EQ(AFtp.GetSize(AName), data.size());
    TMemoryStream down;
    EXPECT_EQ(AFtp.Fill(AName, down), ftpOk) << AFtp.GetIndyError().toStdString();
    EXPECT_EQ(down.Data(), data);
}

// ---- IPv6 ------------------------------------------------------------------

TEST(FtpRoutesIPv6, PassiveAndActiveDataConnectionsOnLoopback)
{
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, {}, u"::1"_s));
    struct TCase {
        const char *Name;
        bool Passive;
        QByteArray DataCommand; // as the protocol log shows it
    } const cases[] = {
        {"passive", true, "Sent: EPSV"},
        {"active", false, "Sent: EPRT |2|::1|"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TExtFtp ftp;
        TFtpParams params = Params(*peer);
        params.UseIPv6 = true;
        params.Passive = c.Passive;
        Prepare(ftp, *peer, params);
        EXPECT_TRUE(ftp.UseIPv6());
        EXPECT_EQ(ftp.ServerName(), u"ftp://[::1]:%1"_s.arg(peer->Port));
        ASSERT_TRUE(ftp.DoConnect(1, false) && ftp.SetRemoteDir(QString())) << ftp.GetIndyError().toStdString();
        RoundTrip(ftp, *peer, QString::fromLatin1(c.Name) + u".bin"_s);
        ftp.Disconnect();
        // Every data connection went the extended way: the IPv4-only
        // commands cannot name an IPv6 address.
        const QByteArray log = ReadBytes(ftp.Logname());
        EXPECT_EQ(log.count(c.DataCommand), 3) << log.constData();
        EXPECT_FALSE(log.contains("Sent: PASV") || log.contains("Sent: PORT")) << log.constData();
    }
}

// ---- HTTP CONNECT proxy ------------------------------------------------------

TEST(FtpRoutesHttpProxy, LoginListingAndTransfersGoThroughTheTunnels)
{
    auto proxy = StartConnectProxy(); // on 127.0.0.1, also for the IPv6 server
    if (!proxy)
        return;
    struct TCase {
        const char *Name;
        QString Address;
        QString Target; // the host as CONNECT names it
    } const cases[] = {
        {"IPv4 server", u"127.0.0.1"_s, u"127.0.0.1"_s},
        {"IPv6 server", u"::1"_s, u"[::1]"_s},
    };
    qsizetype opened = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, {}, c.Address));
        TExtFtp ftp;
        TFtpParams params = Params(*peer);
        params.UseIPv6 = c.Address.contains(u':');
        Prepare(ftp, *peer, params, HttpProxy(*proxy));
        ASSERT_TRUE(ftp.DoConnect(1, false) && ftp.SetRemoteDir(QString())) << ftp.GetIndyError().toStdString();
        const QString control = u"%1:%2"_s.arg(c.Target).arg(peer->Port);
        EXPECT_EQ(proxy->Tunnels().mid(opened), QStringList{control});

        RoundTrip(ftp, *peer, u"tunnelled.bin"_s);
        // One tunnel per data connection (STOR, LIST, RETR), each to the
        // server's own data port.
        const QStringList tunnels = proxy->Tunnels().mid(opened);
        ASSERT_EQ(tunnels.size(), 4) << tunnels.join(u' ').toStdString();
        for (const QString &t : tunnels.mid(1)) {
            EXPECT_TRUE(t.startsWith(c.Target + u':')) << t.toStdString();
            EXPECT_NE(t, control);
        }

        // An active data connection would bypass the proxy: refused without
        // a word to the server, and the session goes on.
        ftp.Passive = false;
        TMemoryStream up(QByteArray("x"));
        EXPECT_NE(ftp.Flush(up, u"active.bin"_s, false), ftpOk);
        EXPECT_TRUE(ftp.GetIndyError().contains(u"Active data connections cannot pass an HTTP proxy."_s));
        ftp.Passive = true;
        TMemoryStream down;
        EXPECT_EQ(ftp.Fill(u"tunnelled.bin"_s, down), ftpOk) << ftp.GetIndyError().toStdString();
        EXPECT_EQ(down.Size(), 700000);
        const qsizetype before = opened;
        opened = proxy->Tunnels().size();
        EXPECT_EQ(opened - before, 5);
    }
}

// A port on 127.0.0.1 that refuses connections while the object lives.
class TDeadPort {
public:
    TDeadPort()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
            ::getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
    }
    ~TDeadPort() { ::close(FFd); }
    uint16_t Port = 0;

private:
    int FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); // bound, never listening
};

TEST(FtpRoutesHttpProxy, RefusedTunnelIsAClearConnectFailure)
{
    TDeadPort dead;
    ASSERT_NE(dead.Port, 0);
    enum class TProxy { Refusing, Relaying, FtpServer };
    struct TCase {
        const char *Name;
        TProxy Proxy;
        QString Status; // the proxy's answer as the error quotes it
    } const cases[] = {
        {"forbidden", TProxy::Refusing, u"HTTP/1.0 403 Forbidden"_s},
        {"unreachable server", TProxy::Relaying, u"HTTP/1.0 502 Bad Gateway"_s},
        // Set up as the proxy by mistake: it greets and then waits.
        {"no HTTP proxy", TProxy::FtpServer, u"220 "_s},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TConnectProxy> proxy;
        std::unique_ptr<TFtpPeer> ftpServer;
        TFtpProxySettings settings;
        if (c.Proxy == TProxy::FtpServer) {
            VL_START_PEER(started, StartPyFtpd());
            ftpServer = std::move(started);
            settings.ProxyType = TIdFtpProxyType::fpcmHttpProxyWithFtp;
            settings.Host = ftpServer->Host;
            settings.Port = ftpServer->Port;
        } else {
            proxy = StartConnectProxy(c.Proxy == TProxy::Refusing);
            if (!proxy)
                return;
            settings = HttpProxy(*proxy);
        }
        TFtpPeer server; // nobody there: only the proxy may answer
        server.Port = dead.Port;
        TExtFtp ftp;
        Prepare(ftp, server, Params(server), settings);
        EXPECT_FALSE(ftp.DoConnect(1, false));
        EXPECT_FALSE(ftp.Connected());
        const QString error = ftp.GetIndyError(); // reading clears it
        EXPECT_TRUE(error.contains(u"The HTTP proxy refused the connection: "_s + c.Status)) << error.toStdString();
        if (proxy) {
            EXPECT_TRUE(proxy->Tunnels().isEmpty());
        }
    }
}

} // namespace
} // namespace vl

