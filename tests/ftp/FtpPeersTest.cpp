// The FTP test servers themselves, driven by Python's ftplib: logins and
// transfers in every TLS mode, TLS session reuse on proftpd, the LIST-only
// server, its faults, certificates and clean shutdown.
#include "ftp/FtpPeers.h"

#include "common/TestUtils.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vl {
namespace {

using namespace vl::test;

// Connects as the script's environment says and prints "key value" lines.
const char kPrelude[] = R"(
import ftplib, hashlib, io, os, socket, ssl, sys
HOST, PORT = os.environ['FTP_HOST'], int(os.environ['FTP_PORT'])
USER, PASSWORD, TLS = os.environ['FTP_USER'], os.environ['FTP_PASSWORD'], os.environ['FTP_TLS']
DATA = bytes(i * 7 % 251 for i in range(300000))

class Tls(ftplib.FTP_TLS):
    reuse = True
    def connect(self, host, port):
        if TLS != 'implicit':
            return super().connect(host, port)
        self.host, self.port = host, port
        self.sock = self.context.wrap_socket(socket.create_connection((host, port), self.timeout),
                                             server_hostname=host)
        self.af = self.sock.family
        self.file = self.sock.makefile('r', encoding=self.encoding)
        self.welcome = self.getresp()
        return self.welcome
    def ntransfercmd(self, cmd, rest=None):
        # ftplib alone does not resume the control session on data connections
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=self.sock.session if self.reuse else None)
        return conn, size

def connect(reuse=True):
    if TLS == 'none':
        f = ftplib.FTP(timeout=10)
        f.connect(HOST, PORT)
        f.login(USER, PASSWORD)
        return f
    ctx = ssl.create_default_context(cafile=os.environ['FTP_CA'])  # checks IP 127.0.0.1 too
    f = Tls(context=ctx, timeout=10)
    f.reuse = reuse
    f.connect(HOST, PORT)
    f.login(USER, PASSWORD)
    f.prot_p()
    return f

def out(key, value):
    print(key, value, flush=True)

def error(e):
    return e.args[0] if isinstance(e, ftplib.Error) else type(e).__name__
)";

// The bytes DATA holds in the script.
QByteArray ScriptData(qsizetype size = 300000)
{
    QByteArray d(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        d[i] = char(i * 7 % 251);
    return d;
}

struct TScriptResult {
    QMap<QString, QString> Values; // by key, the last one wins
    QString Output;
};

TScriptResult RunScript(const TFtpPeer &APeer, TPeerTls AClientTls, const char *ABody)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FTP_HOST"), APeer.Host);
    env.insert(QStringLiteral("FTP_PORT"), QString::number(APeer.Port));
    env.insert(QStringLiteral("FTP_USER"), APeer.User);
    env.insert(QStringLiteral("FTP_PASSWORD"), QString::fromUtf8(APeer.Password));
    env.insert(QStringLiteral("FTP_TLS"), AClientTls == TPeerTls::None       ? QStringLiteral("none")
                                          : AClientTls == TPeerTls::Explicit ? QStringLiteral("explicit")
                                                                             : QStringLiteral("implicit"));
    if (AClientTls != TPeerTls::None)
        env.insert(QStringLiteral("FTP_CA"), FtpCerts().Dir + QStringLiteral("/velkorroot.pem"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QString::fromUtf8(kPrelude) + QString::fromUtf8(ABody)});
    EXPECT_TRUE(p.waitForFinished(60000)) << "the client script hangs";
    TScriptResult r;
    r.Output = QString::fromUtf8(p.readAll());
    EXPECT_EQ(p.exitCode(), 0) << r.Output.toStdString();
    for (const QString &line : r.Output.split(u'\n'))
        r.Values[line.section(u' ', 0, 0)] = line.section(u' ', 1);
    return r;
}

enum class TServer { Proftpd, PyFtpd };

std::unique_ptr<TFtpPeer> Start(TServer AServer, TPeerTls ATls, const TPyFaults &AFaults = {})
{
    return AServer == TServer::Proftpd ? StartProftpd(ATls) : StartPyFtpd(ATls, AFaults);
}

struct TLoginCase {
    const char *Name;
    TServer Server;
    TPeerTls ServerTls, ClientTls;
};

void PrintTo(const TLoginCase &c, std::ostream *os)
{
    *os << c.Name;
}

class FtpPeerLogin : public testing::TestWithParam<TLoginCase> {};

TEST_P(FtpPeerLogin, UploadsListsAndDownloads)
{
    const TLoginCase &c = GetParam();
    VL_START_PEER(peer, Start(c.Server, c.ServerTls));
    const TScriptResult r = RunScript(*peer, c.ClientTls, R"(
f = connect()
out('pwd', f.pwd())
f.storbinary('STOR up.bin', io.BytesIO(DATA))
out('names', ','.join(sorted(f.nlst())))
got = []
f.retrbinary('RETR up.bin', got.append)
out('same', b''.join(got) == DATA)
if TLS != 'none':
    out('tls', f.sock.version())
    out('fingerprint', ':'.join('%02x' % b for b in hashlib.md5(f.sock.getpeercert(True)).digest()))
f.quit()
)");
    EXPECT_EQ(r.Values.value(QStringLiteral("pwd")), peer->LoginDir) << r.Output.toStdString();
    EXPECT_EQ(r.Values.value(QStringLiteral("names")), QStringLiteral("up.bin"));
    EXPECT_EQ(r.Values.value(QStringLiteral("same")), QStringLiteral("True"));
    EXPECT_EQ(ReadBytes(peer->Root + QStringLiteral("/up.bin")), ScriptData());
    if (c.ClientTls != TPeerTls::None) {
        EXPECT_EQ(r.Values.value(QStringLiteral("tls")), QStringLiteral("TLSv1.3"));
        EXPECT_EQ(r.Values.value(QStringLiteral("fingerprint")), FtpCerts().ServerFingerprint);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FtpPeerLogin,
    testing::Values(TLoginCase{"ProftpdPlain", TServer::Proftpd, TPeerTls::None, TPeerTls::None},
                    TLoginCase{"ProftpdExplicit", TServer::Proftpd, TPeerTls::Explicit, TPeerTls::Explicit},
                    TLoginCase{"ProftpdExplicitServerPlainClient", TServer::Proftpd, TPeerTls::Explicit,
                               TPeerTls::None},
                    TLoginCase{"ProftpdImplicit", TServer::Proftpd, TPeerTls::Implicit, TPeerTls::Implicit},
                    TLoginCase{"PyPlain", TServer::PyFtpd, TPeerTls::None, TPeerTls::None},
                    TLoginCase{"PyExplicit", TServer::PyFtpd, TPeerTls::Explicit, TPeerTls::Explicit},
                    TLoginCase{"PyImplicit", TServer::PyFtpd, TPeerTls::Implicit, TPeerTls::Implicit}),
    [](const testing::TestParamInfo<TLoginCase> &i) { return std::string(i.param.Name); });

TEST(FtpPeers, ProftpdRefusesDataConnectionsWithoutSessionReuse)
{
    VL_START_PEER(peer, StartProftpd(TPeerTls::Explicit));
    const TScriptResult r = RunScript(*peer, TPeerTls::Explicit, R"(
for reuse in (False, True):
    f = connect(reuse)
    try:
        f.nlst()
        out('reuse%s' % reuse, 'ok')
    except Exception as e:
        out('reuse%s' % reuse, error(e))
)");
    EXPECT_TRUE(r.Values.value(QStringLiteral("reuseFalse")).startsWith(QStringLiteral("425 ")))
        << r.Output.toStdString();
    EXPECT_EQ(r.Values.value(QStringLiteral("reuseTrue")), QStringLiteral("ok"));
}

TEST(FtpPeers, MachineListingsAndMfmtOnProftpdOnly)
{
    for (const TServer server : {TServer::Proftpd, TServer::PyFtpd}) {
        const bool full = server == TServer::Proftpd;
        SCOPED_TRACE(full ? "proftpd" : "pyftpd");
        VL_START_PEER(peer, Start(server, TPeerTls::None));
        WriteBytes(peer->Root + QStringLiteral("/a.txt"), "abc");
        const TScriptResult r = RunScript(*peer, TPeerTls::None, R"(
f = connect()
feat = [l.strip().split(' ')[0] for l in f.sendcmd('FEAT').splitlines()[1:-1]]
out('feat', ','.join(sorted(feat)))
for cmd in ('MLSD', 'MFMT 20200102030405 a.txt'):
    try:
        out(cmd.split()[0], f.sendcmd(cmd)[:3])
    except ftplib.Error as e:
        out(cmd.split()[0], error(e)[:3])
lines = []
f.retrlines('LIST', lines.append)
out('list', lines[-1].split()[-1])
)");
        const QStringList feat = r.Values.value(QStringLiteral("feat")).split(u',');
        EXPECT_EQ(feat.contains(QStringLiteral("MLST")), full) << r.Output.toStdString();
        EXPECT_EQ(feat.contains(QStringLiteral("MFMT")), full);
        EXPECT_TRUE(feat.contains(QStringLiteral("MDTM")));
        // MLSD without a data connection: proftpd asks for one, pyftpdlib
        // does not know the command.
        EXPECT_EQ(r.Values.value(QStringLiteral("MLSD")), full ? QStringLiteral("425") : QStringLiteral("500"));
        EXPECT_EQ(r.Values.value(QStringLiteral("MFMT")), full ? QStringLiteral("213") : QStringLiteral("500"));
        EXPECT_EQ(r.Values.value(QStringLiteral("list")), QStringLiteral("a.txt"));
        const qint64 mtime = QFileInfo(peer->Root + QStringLiteral("/a.txt")).lastModified().toSecsSinceEpoch();
        EXPECT_EQ(mtime == 1577934245, full); // MFMT's time is UTC
    }
}

struct TDropCase {
    const char *Name;
    const char *Command;
    TPeerTls Tls;
};

void PrintTo(const TDropCase &c, std::ostream *os)
{
    *os << c.Name;
}

class FtpPeerDrop : public testing::TestWithParam<TDropCase> {};

// The first transfer breaks off after exactly DropAfterBytes; a new
// connection resumes it with REST and completes.
TEST_P(FtpPeerDrop, DropsOnceThenResumes)
{
    const TDropCase &c = GetParam();
    TPyFaults faults;
    faults.DropAfterBytes = 100000;
    VL_START_PEER(peer, StartPyFtpd(c.Tls, faults));
    const bool upload = QByteArray(c.Command) == "STOR";
    if (!upload)
        WriteBytes(peer->Root + QStringLiteral("/up.bin"), ScriptData());
    const TScriptResult r = RunScript(*peer, c.Tls, upload ? R"(
f = connect()
try:
    f.storbinary('STOR up.bin', io.BytesIO(DATA))
    out('first', 'ok')
except Exception as e:
    out('first', error(e))
f = connect()
f.voidcmd('TYPE I')
n = f.size('up.bin')
out('partial', n)
f.storbinary('STOR up.bin', io.BytesIO(DATA[n:]), rest=n)
out('second', 'ok')
)"
                                                           : R"(
f = connect()
got = []
try:
    f.retrbinary('RETR up.bin', got.append)
    out('first', 'ok')
except Exception as e:
    out('first', error(e))
n = len(b''.join(got))
out('partial', n)
f = connect()
f.retrbinary('RETR up.bin', got.append, rest=n)
out('second', 'ok' if b''.join(got) == DATA else 'differs')
)");
    EXPECT_NE(r.Values.value(QStringLiteral("first")), QStringLiteral("ok")) << r.Output.toStdString();
    const int partial = r.Values.value(QStringLiteral("partial")).toInt();
    if (upload)
        EXPECT_EQ(partial, 100000);
    else // a reset may discard what the client had not read yet
        EXPECT_LE(partial, 100000);
    EXPECT_EQ(r.Values.value(QStringLiteral("second")), QStringLiteral("ok"));
    EXPECT_EQ(ReadBytes(peer->Root + QStringLiteral("/up.bin")), ScriptData());
}

INSTANTIATE_TEST_SUITE_P(Faults, FtpPeerDrop,
                         testing::Values(TDropCase{"StorPlain", "STOR", TPeerTls::None},
                                         TDropCase{"RetrPlain", "RETR", TPeerTls::None},
                                         TDropCase{"StorImplicit", "STOR", TPeerTls::Implicit},
                                         TDropCase{"RetrExplicit", "RETR", TPeerTls::Explicit}),
                         [](const testing::TestParamInfo<TDropCase> &i) { return std::string(i.param.Name); });

TEST(FtpPeers, StorReplyAnswersEveryUpload)
{
    TPyFaults faults;
    faults.StorReply = QStringLiteral("552 Quota exceeded");
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    const TScriptResult r = RunScript(*peer, TPeerTls::None, R"(
f = connect()
for cmd in ('STOR', 'APPE'):
    try:
        f.storbinary(cmd + ' up.bin', io.BytesIO(b'x' * 1000))
        out(cmd, 'ok')
    except ftplib.Error as e:
        out(cmd, error(e))
out('alive', f.sendcmd('NOOP')[:3])
)");
    EXPECT_EQ(r.Values.value(QStringLiteral("STOR")), QStringLiteral("552 Quota exceeded")) << r.Output.toStdString();
    EXPECT_EQ(r.Values.value(QStringLiteral("APPE")), QStringLiteral("552 Quota exceeded"));
    EXPECT_EQ(r.Values.value(QStringLiteral("alive")), QStringLiteral("200"));
    EXPECT_FALSE(QFileInfo::exists(peer->Root + QStringLiteral("/up.bin")));
}

TEST(FtpPeers, StallGreetingKeepsConnectionsSilent)
{
    TPyFaults faults;
    faults.StallGreeting = true;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    const TScriptResult r = RunScript(*peer, TPeerTls::None, R"(
s = socket.create_connection((HOST, PORT), 5)
s.settimeout(1.5)
try:
    out('read', s.recv(100) or 'closed')
except socket.timeout:
    out('read', 'timeout')
)");
    EXPECT_EQ(r.Values.value(QStringLiteral("read")), QStringLiteral("timeout")) << r.Output.toStdString();
}

int ConnectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// proftpd forks a process per session: none may outlive the peer object.
TEST(FtpPeers, ProftpdStopsWithItsSessions)
{
    VL_START_PEER(peer, StartProftpd());
    const uint16_t port = peer->Port;
    const pid_t group = pid_t(peer->Pid);
    const int session = ConnectTo(port);
    ASSERT_GE(session, 0);
    char greeting[4] = {};
    ASSERT_EQ(::recv(session, greeting, 3, MSG_WAITALL), 3);
    EXPECT_STREQ(greeting, "220");
    peer.reset();
    EXPECT_EQ(::kill(-group, 0), -1);
    EXPECT_EQ(errno, ESRCH) << "processes of the server are left";
    EXPECT_EQ(ConnectTo(port), -1);
    ::close(session);
}

TEST(FtpPeers, CertificatesChainToTheRootAndKeyNeedsPassword)
{
    const TFtpCerts &certs = FtpCerts();
    const QString dir = certs.Dir + u'/';
    const auto openssl = [](const QStringList &args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("/usr/bin/openssl"), args);
        p.waitForFinished(30000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAll()));
    };
    const auto verify = openssl({QStringLiteral("verify"), QStringLiteral("-CAfile"), dir + QStringLiteral("velkorroot.pem"),
                                 dir + QStringLiteral("velkor.crt"), certs.ServerCert});
    EXPECT_EQ(verify.first, 0) << verify.second.toStdString();
    const auto key = [&](const QByteArray &password) {
        return openssl({QStringLiteral("pkey"), QStringLiteral("-in"), dir + QStringLiteral("velkor.key"),
                        QStringLiteral("-passin"), QStringLiteral("pass:") + QString::fromLatin1(password),
                        QStringLiteral("-noout")})
            .first;
    };
    EXPECT_EQ(key(certs.KeyPassword), 0);
    EXPECT_NE(key("wrong"), 0);
}

} // namespace
} // namespace vl
