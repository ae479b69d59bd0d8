// TExtFtp connects that must not hand the account to a server whose
// certificate could not be checked, and connects to a server that never
// answers.
#include "engine/FtpUtils.h"

#include "common/TestUtils.h"
#include "ftp/FtpPeers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vl {
namespace {

using namespace vl::test;
using namespace Qt::Literals::StringLiterals;

std::unique_ptr<TExtFtp> MakeClient(bool AWithCerts)
{
    if (!AWithCerts)
        return std::make_unique<TExtFtp>();
    const TFtpCerts &c = FtpCerts();
    return std::make_unique<TExtFtp>(c.Dir, u"velkorroot.pem"_s, u"velkor.crt"_s, u"velkor.key"_s, c.KeyPassword);
}

TFtpParams Params(const TFtpPeer &APeer, int32_t ASecureMode, int32_t ACertVerify, const QString &AFingerprint)
{
    TFtpParams p;
    p.Host = APeer.Host;
    p.Port = APeer.Port;
    p.Username = APeer.User;
    p.SecureMode = ASecureMode;
    p.CertVerify = ACertVerify;
    p.Fingerprint = AFingerprint;
    p.ConnTimeout = 5000;
    p.ResponseTimeOut = 10000;
    p.WriteLog = true;
    return p;
}

void Prepare(TExtFtp &AFtp, const TFtpPeer &APeer, const TFtpParams &AParams)
{
    AFtp.SetParams(AParams);
    AFtp.Password = APeer.Password;
    AFtp.SetLogname(MakeTempDir(u"log"_s) + u"/VlFtp.log"_s);
}

struct TNoTlsCase {
    const char *Name;
    bool Certs;
    int32_t SecureMode;
    int32_t CertVerify;
    bool Verify;
    int Handler; // -1 none, 1 accepts whatever it is shown
    bool Connects;
};

// A server that refuses AUTH TLS: with a certificate check asked for there
// is no certificate to check, and the account stays with us.
TEST(FtpConnectCheck, ServerWithoutTlsGetsNoAccountWhenACheckIsAsked)
{
    VL_START_PEER(peer, StartProftpd(TPeerTls::None));
    const QString fp = FtpCerts().ServerFingerprint;
    const TNoTlsCase cases[] = {
        {"explicit, fingerprint", true, 1, 2, true, -1, false},
        {"explicit, confirmation", true, 1, 1, true, 1, false},
        {"explicit, client without TLS", false, 1, 2, true, -1, false},
        {"plain task, fingerprint stored", true, 0, 2, true, -1, false},
        {"explicit, no check", true, 1, 0, true, -1, true},
        {"explicit, check not asked this time", true, 1, 2, false, -1, true},
    };
    for (const TNoTlsCase &c : cases) {
        SCOPED_TRACE(c.Name);
        auto ftp = MakeClient(c.Certs);
        bool asked = false;
        if (c.Handler >= 0)
            ftp->OnConfirmCert = [&](const TCerticateInfo &) {
                asked = true;
                return true;
            };
        Prepare(*ftp, *peer, Params(*peer, c.SecureMode, c.CertVerify, fp));
        EXPECT_EQ(ftp->DoConnect(3, c.Verify), c.Connects);
        const QByteArray log = ReadBytes(ftp->Logname());
        EXPECT_EQ(int(log.count("Sent: AUTH TLS")), c.Certs && c.SecureMode > 0 ? 1 : 0) << log.constData();
        if (c.Connects) {
            EXPECT_TRUE(ftp->Connected());
            EXPECT_FALSE(ftp->ControlIsTls());
            EXPECT_EQ(ftp->RemoteDir(), peer->LoginDir);
            EXPECT_TRUE(log.contains("Sent: PASS ***")) << log.constData();
            // The feature list as comma text reads back item by item, the
            // items with blanks (MLST facts) quoted.
            const QStringList caps = ftp->Capabilities();
            EXPECT_TRUE(caps.join(u'|').contains(u' ')) << caps.join(u'|').toStdString();
            EXPECT_EQ(CommaListToLines(ftp->GetCapabilitiesString()), caps.join(u"\r\n"_s));
            continue;
        }
        EXPECT_FALSE(asked);
        EXPECT_FALSE(ftp->Connected());
        EXPECT_EQ(ftp->GetIndyError(), u"Reported error: Error verifying server certificate"_s);
        // One attempt, ended before the login.
        EXPECT_EQ(int(log.count("Connection to FTP server: ")), 1);
        EXPECT_FALSE(log.contains("USER")) << log.constData();
        EXPECT_FALSE(log.contains("PASS")) << log.constData();
        EXPECT_TRUE(log.contains("Reported error: Error verifying server certificate")) << log.constData();
    }
}

// A reconnect after a checked TLS connect that meets a server without TLS
// (here: another server at the address) is refused before the login.
TEST(FtpConnectCheck, ReconnectWithoutTlsAfterACheckedConnectIsRefused)
{
    VL_START_PEER(tls, StartProftpd(TPeerTls::Explicit));
    VL_START_PEER(plain, StartProftpd(TPeerTls::None));
    auto ftp = MakeClient(true);
    Prepare(*ftp, *tls, Params(*tls, 1, 2, FtpCerts().ServerFingerprint));
    ASSERT_TRUE(ftp->DoConnect(1, true)) << ftp->GetIndyError().toStdString();
    ASSERT_TRUE(ftp->ControlIsTls());
    EXPECT_TRUE(ftp->ReConnect(QString(), false, false)) << ftp->GetIndyError().toStdString();
    EXPECT_TRUE(ftp->ControlIsTls());

    ftp->Port = plain->Port;
    EXPECT_FALSE(ftp->ReConnect(QString(), false, false));
    EXPECT_EQ(ftp->GetIndyError(), u"Reported error: Error verifying server certificate"_s);
    const QByteArray log = ReadBytes(ftp->Logname());
    const QByteArray last = log.mid(log.lastIndexOf("Connection to FTP server: "));
    EXPECT_TRUE(last.contains("Sent: AUTH TLS")) << last.constData();
    EXPECT_FALSE(last.contains("USER")) << last.constData();
}

// A listener whose accept queue is full: the system drops further
// connection requests, so a connect hangs as with an unreachable host.
class TSilentListener {
public:
    TSilentListener()
    {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FFd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(FFd, 0);
        socklen_t len = sizeof a;
        ::getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len);
        Port = ntohs(a.sin_port);
        for (int &fd : FFill) {
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        ::usleep(200000);
    }
    ~TSilentListener()
    {
        for (int fd : FFill)
            ::close(fd);
        ::close(FFd);
    }
    uint16_t Port = 0;

private:
    int FFd = -1;
    int FFill[3] = {-1, -1, -1};
};

TEST(FtpConnectLimits, UnansweredConnectEndsWithinTheTimeOut)
{
    TSilentListener server;
    TFtpPeer dead;
    dead.Port = server.Port;
    auto ftp = MakeClient(false);
    TFtpParams p = Params(dead, 0, 0, QString());
    p.ConnTimeout = 300;
    Prepare(*ftp, dead, p);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(ftp->DoConnect(3, true));
    // Three attempts of 300 ms with two pauses of 200 ms between them (the
    // clocks may differ by a millisecond or so).
    EXPECT_GE(timer.elapsed(), 3 * 300 + 2 * 200 - 20);
    EXPECT_LT(timer.elapsed(), 4000);
    const QByteArray log = ReadBytes(ftp->Logname());
    EXPECT_EQ(int(log.count("Connection to FTP server: 127.0.0.1:" + QByteArray::number(server.Port))), 1);
    EXPECT_EQ(int(log.count("Reported error: ")), 1) << log.constData();
    const QString error = ftp->GetIndyError();
    EXPECT_TRUE(error.startsWith(u"Reported error: Could not connect to 127.0.0.1:"_s)) << error.toStdString();
    EXPECT_TRUE(error.contains(u"timed out"_s)) << error.toStdString();
}

} // namespace
} // namespace vl
