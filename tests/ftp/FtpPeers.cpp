#include "ftp/FtpPeers.h"

#include "common/TestUtils.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>


namespace vl::test {

namespace {

const QString kOpenssl = QStringLiteral("/usr/bin/openssl");
const QString kProftpd = QStringLiteral("/usr/sbin/proftpd");
const QString kProftpdModules = QStringLiteral("/usr/lib/proftpd");
const QString kPython = QStringLiteral("/usr/bin/python3");
constexpr int kStartTimeoutMs = 15000;

void Skip(const QString &why)
{
    [&] { GTEST_SKIP() << why.toStdString(); }();
}

void Fail(const QString &why)
{
    [&] { FAIL() << why.toStdString(); }();
}

QString ReadText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Runs a short tool to its end; false (with its output in *AOut) on failure.
bool RunTool(const QString &AProgram, const QStringList &AArgs, QString *AOut,
             const QByteArray &AInput = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(AProgram, AArgs);
    if (!p.waitForStarted(kStartTimeoutMs)) {
        *AOut = AProgram + QStringLiteral(": ") + p.errorString();
        return false;
    }
    p.write(AInput);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(60000);
    *AOut = QString::fromUtf8(p.readAll());
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Each step of the certificate set; the extensions come from our own file
// so the system's openssl.cnf does not matter.
const char kCertConfig[] = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[root_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[client_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = clientAuth
)";

TFtpCerts MakeCerts()
{
    TFtpCerts c;
    c.Dir = TestRoot() + QStringLiteral("/ftp-certs");
    c.ServerCert = c.Dir + QStringLiteral("/server.crt");
    c.ServerKey = c.Dir + QStringLiteral("/server.key");
    c.KeyPassword = "K3y pass!";
    QDir().mkpath(c.Dir);
    const QString cnf = c.Dir + QStringLiteral("/certs.cnf");
    WriteBytes(cnf, kCertConfig);

    const auto newCert = [&](const QString &subject, const QString &ext, const QString &serial,
                             const QString &key, const QString &cert, bool signByRoot) {
        QStringList args{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"), cnf,
                         QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                         QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                         QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-subj"), subject,
                         QStringLiteral("-extensions"), ext, QStringLiteral("-set_serial"), serial};
        if (signByRoot)
            args << QStringLiteral("-CA") << c.Dir + QStringLiteral("/velkorroot.pem")
                 << QStringLiteral("-CAkey") << c.Dir + QStringLiteral("/root.key");
        return args;
    };
    const QList<QStringList> steps{
        newCert(QStringLiteral("/CN=Velkor Test Root"), QStringLiteral("root_ext"), QStringLiteral("1"),
                c.Dir + QStringLiteral("/root.key"), c.Dir + QStringLiteral("/velkorroot.pem"), false),
        newCert(QStringLiteral("/CN=127.0.0.1"), QStringLiteral("server_ext"), QStringLiteral("0x1234"),
                c.ServerKey, c.ServerCert, true),
        newCert(QStringLiteral("/CN=Velkor Test Client"), QStringLiteral("client_ext"), QStringLiteral("2"),
                c.Dir + QStringLiteral("/velkor.plain.key"), c.Dir + QStringLiteral("/velkor.crt"), true),
        {QStringLiteral("pkey"), QStringLiteral("-in"), c.Dir + QStringLiteral("/velkor.plain.key"),
         QStringLiteral("-aes256"), QStringLiteral("-passout"),
         QStringLiteral("pass:") + QString::fromLatin1(c.KeyPassword), QStringLiteral("-out"),
         c.Dir + QStringLiteral("/velkor.key")},
    };
    QString out;
    for (const QStringList &args : steps) {
        if (!RunTool(kOpenssl, args, &out)) {
            Fail(QStringLiteral("openssl %1 failed: %2").arg(args.join(u' '), out));
            return c;
        }
    }
    QFile::remove(c.Dir + QStringLiteral("/velkor.plain.key"));

    if (!RunTool(kOpenssl, {QStringLiteral("x509"), QStringLiteral("-in"), c.ServerCert, QStringLiteral("-noout"),
                            QStringLiteral("-fingerprint"), QStringLiteral("-md5")},
                 &out)) {
        Fail(QStringLiteral("openssl x509 -fingerprint failed: ") + out);
        return c;
    }
    // "MD5 Fingerprint=AB:CD:..."
    c.ServerFingerprint = out.section(u'=', 1).trimmed().toLower();
    return c;
}

// A port nobody listens on right now; the server may still lose it to
// someone else before it binds, so callers retry.
uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

// The greeting of a server on the port, or empty.
QByteArray Greeting(uint16_t APort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(APort);
    QByteArray line;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        QDeadlineTimer deadline(5000);
        while (!line.contains('\n') && !deadline.hasExpired()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buf[256];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            line.append(buf, n);
        }
    }
    ::close(fd);
    return line;
}

// The processes of a process group, from /proc.
QList<pid_t> ProcessGroup(pid_t AGroup)
{
    QList<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        // "pid (comm) state ppid pgrp ...": comm may hold anything, so
        // count from the last ')'.
        const QByteArray stat = ReadText(QStringLiteral("/proc/%1/stat").arg(pid)).toUtf8();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toInt() == AGroup)
            pids << pid;
    }
    return pids;
}

class TPeerProcess final : public TFtpPeer {
public:
    TPeerProcess()
    {
        // Own process group (proftpd forks a child per session) that ends
        // with us even when the test process dies.
        Process.setChildProcessModifier([] {
            ::setsid();
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        Process.setStandardInputFile(QProcess::nullDevice());
    }

    ~TPeerProcess() override
    {
        if (::testing::Test::HasFailure())
            PrintLogTail();
        Stop();
    }

    bool Start(const QString &AProgram, const QStringList &AArgs)
    {
        Process.start(AProgram, AArgs);
        if (!Process.waitForStarted(kStartTimeoutMs))
            return false;
        Pid = Process.processId();
        return true;
    }

    void Stop()
    {
        if (Pid <= 0)
            return;
        // Sessions first, while their parent is there to reap them (an
        // orphan waits for init, which may take its time). Nothing of the
        // servers needs a clean exit, and proftpd is slow with SIGTERM.
        const QList<pid_t> sessions = ProcessGroup(pid_t(Pid));
        for (const pid_t p : sessions)
            if (p != Pid)
                ::kill(p, SIGKILL);
        QDeadlineTimer deadline(3000);
        for (const pid_t p : sessions)
            while (p != Pid && ::kill(p, 0) == 0 && !deadline.hasExpired())
                QThread::msleep(2);
        ::kill(-pid_t(Pid), SIGKILL);
        Process.waitForFinished(10000);
        Pid = 0;
    }

    bool Exited() { return Process.state() == QProcess::NotRunning || Process.waitForFinished(0); }

    QString LogText() const
    {
        QString text = ReadText(LogFile);
        return text.isEmpty() ? QStringLiteral("(empty log %1)").arg(LogFile) : text;
    }

    void PrintLogTail() const
    {
        const QStringList lines = ReadText(LogFile).split(u'\n');
        const qsizetype from = qMax<qsizetype>(0, lines.size() - 200);
        fprintf(stderr, "--- last lines of %s ---\n%s\n--- end ---\n", qPrintable(LogFile),
                qPrintable(lines.mid(from).join(u'\n')));
    }

    QProcess Process;
};

// The names proftpd runs as: the current user and group (needed when
// not running as root; as root the sessions stay root).
QString UserAndGroupLines()
{
    QString lines;
    if (const passwd *pw = ::getpwuid(::getuid()))
        lines += QStringLiteral("User %1\n").arg(QString::fromLocal8Bit(pw->pw_name));
    if (const group *gr = ::getgrgid(::getgid()))
        lines += QStringLiteral("Group %1\n").arg(QString::fromLocal8Bit(gr->gr_name));
    return lines;
}

QString ProftpdConfig(const TFtpPeer &APeer, const QString &ADir, TPeerTls ATls)
{
    QString conf = QStringLiteral(R"(ServerType standalone
ServerName "Velkor test"
Port %1
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
%2Umask 022
PidFile %3/proftpd.pid
ScoreboardFile %3/proftpd.scoreboard
DelayTable %3/proftpd.delay
DelayEngine off
WtmpLog off
UseReverseDNS off
RequireValidShell off
RootLogin on
AuthOrder mod_auth_file.c
AuthUserFile %3/passwd
AllowOverwrite on
AllowStoreRestart on
TimeoutIdle 300
SystemLog %4
TransferLog %3/xfer.log
LogFormat velkor "%{iso8601} [%P] %r -> %s %S"
ExtendedLog %4 ALL velkor
<IfModule mod_ctrls.c>
  ControlsEngine off
</IfModule>
)")
                       .arg(APeer.Port)
                       .arg(UserAndGroupLines(), ADir, APeer.LogFile);
    if (ATls != TPeerTls::None) {
        const TFtpCerts &certs = FtpCerts();
        conf += QStringLiteral(R"(ModulePath %1
LoadModule mod_tls.c
TLSEngine on
TLSLog %2
TLSProtocol TLSv1.2 TLSv1.3
TLSECCertificateFile %3
TLSECCertificateKeyFile %4
TLSVerifyClient off
TLSRequired off
)")
                    .arg(kProftpdModules, APeer.LogFile, certs.ServerCert, certs.ServerKey);
        // Data connections must resume the control connection's TLS
        // session: NoSessionReuseRequired stays out on purpose.
        if (ATls == TPeerTls::Implicit)
            conf += QStringLiteral("TLSOptions UseImplicitSSL\n");
    }
    return conf;
}

// A fresh login folder, by its real path (proftpd reports that in PWD).
QString MakeRoot()
{
    return QFileInfo(MakeTempDir(QStringLiteral("ftp-root"))).canonicalFilePath();
}

} // namespace

TFtpPeer::~TFtpPeer() = default;

const TFtpCerts &FtpCerts()
{
    static const TFtpCerts certs = MakeCerts();
    return certs;
}

std::unique_ptr<TFtpPeer> StartProftpd(TPeerTls ATls)
{
    if (!QFileInfo(kProftpd).isExecutable()) {
        Skip(kProftpd + QStringLiteral(" is not installed"));
        return nullptr;
    }
    if (ATls != TPeerTls::None) {
        if (!QFileInfo::exists(kProftpdModules + QStringLiteral("/mod_tls.so"))) {
            Skip(QStringLiteral("proftpd's mod_tls is not installed"));
            return nullptr;
        }
        if (FtpCerts().ServerFingerprint.isEmpty())
            return nullptr; // MakeCerts failed the test
    }
    const QString dir = MakeTempDir(QStringLiteral("proftpd"));
    const QString root = MakeRoot();
    QString hash;
    const QByteArray password = TFtpPeer().Password;
    if (!RunTool(kOpenssl, {QStringLiteral("passwd"), QStringLiteral("-6"), QStringLiteral("-stdin")}, &hash,
                 password + '\n')) {
        Fail(QStringLiteral("openssl passwd failed: ") + hash);
        return nullptr;
    }
    for (int attempt = 1;; ++attempt) {
        auto peer = std::make_unique<TPeerProcess>();
        peer->Root = root;
        peer->LoginDir = root; // no chroot: PWD shows the real folder
        peer->LogFile = dir + QStringLiteral("/proftpd.log");
        peer->Port = FreePort();
        const QString passwdFile = dir + QStringLiteral("/passwd");
        WriteBytes(passwdFile, QStringLiteral("%1:%2:%3:%4::%5:/bin/false\n")
                                   .arg(peer->User, hash.trimmed())
                                   .arg(::getuid())
                                   .arg(::getgid())
                                   .arg(root)
                                   .toUtf8());
        QFile::setPermissions(passwdFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QString conf = dir + QStringLiteral("/proftpd.conf");
        WriteBytes(conf, ProftpdConfig(*peer, dir, ATls).toUtf8());

        peer->Process.setStandardOutputFile(peer->LogFile, QIODevice::Append);
        peer->Process.setStandardErrorFile(peer->LogFile, QIODevice::Append);
        if (!peer->Start(kProftpd, {QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"), conf})) {
            Fail(QStringLiteral("cannot run %1: %2").arg(kProftpd, peer->Process.errorString()));
            return nullptr;
        }
        // Ready once this very process has bound its port (another test's
        // server might have taken it) and, without implicit TLS, greets.
        const QString started = QStringLiteral("proftpd[%1]").arg(peer->Pid);
        QDeadlineTimer deadline(kStartTimeoutMs);
        bool exited = false;
        while (!deadline.hasExpired()) {
            if (peer->Exited()) {
                exited = true;
                break;
            }
            const bool bound = peer->LogText().split(u'\n').filter(started).filter(QStringLiteral("STARTUP")).size() > 0;
            if (bound && (ATls == TPeerTls::Implicit || Greeting(peer->Port).startsWith("220 ProFTPD Server (Velkor test)")))
                return peer;
            QThread::msleep(20);
        }
        // Someone took the port between our probe and proftpd's bind.
        if (exited && attempt < 5 && peer->LogText().contains(QStringLiteral("in use")))
            continue;
        Fail(QStringLiteral("proftpd did not start (%1):\n%2")
                 .arg(exited ? QStringLiteral("it exited") : QStringLiteral("no greeting"), peer->LogText()));
        return nullptr;
    }
}

std::unique_ptr<TFtpPeer> StartPyFtpd(TPeerTls ATls, const TPyFaults &AFaults, const QString &AAddress)
{
    if (!QFileInfo(kPython).isExecutable()) {
        Skip(kPython + QStringLiteral(" is not installed"));
        return nullptr;
    }
    if (ATls != TPeerTls::None && FtpCerts().ServerFingerprint.isEmpty())
        return nullptr;
    auto peer = std::make_unique<TPeerProcess>();
    peer->Root = MakeRoot();
    peer->LoginDir = QStringLiteral("/");
    peer->Host = AAddress;
    peer->LogFile = MakeTempDir(QStringLiteral("pyftpd")) + QStringLiteral("/pyftpd.log");
    QStringList args{QStringLiteral(VL_FTP_PEER_SCRIPT), peer->Root, peer->User, QString::fromUtf8(peer->Password),
                     QStringLiteral("0"), QStringLiteral("--address"), AAddress};
    if (ATls != TPeerTls::None)
        args << QStringLiteral("--tls")
             << (ATls == TPeerTls::Explicit ? QStringLiteral("explicit") : QStringLiteral("implicit"))
             << QStringLiteral("--cert") << FtpCerts().ServerCert << QStringLiteral("--key") << FtpCerts().ServerKey;
    if (AFaults.DropAfterBytes > 0)
        args << QStringLiteral("--drop-after") << QString::number(AFaults.DropAfterBytes)
             << QStringLiteral("--drop-transfers") << QString::number(AFaults.DropTransfers);
    if (!AFaults.StorReply.isEmpty())
        args << QStringLiteral("--stor-reply") << AFaults.StorReply;
    if (AFaults.StallGreeting)
        args << QStringLiteral("--stall-greeting");
    if (!AFaults.FinalReply.isEmpty())
        args << QStringLiteral("--final-reply") << AFaults.FinalReply << QStringLiteral("--final-replies")
             << QString::number(AFaults.FinalReplies);
    if (!AFaults.DropCommand.isEmpty())
        args << QStringLiteral("--drop-command") << AFaults.DropCommand << QStringLiteral("--drop-skip")
             << QString::number(AFaults.DropCommandSkip);
    if (!AFaults.MkdReply.isEmpty())
        args << QStringLiteral("--mkd-reply") << AFaults.MkdReply;
    for (const QString &rule : AFaults.Refuse)
        args << QStringLiteral("--refuse") << rule;

    peer->Process.setStandardErrorFile(peer->LogFile);
    if (!peer->Start(kPython, args)) {
        Fail(QStringLiteral("cannot run %1: %2").arg(kPython, peer->Process.errorString()));
        return nullptr;
    }
    // The script binds port 0 and prints the port once it listens.
    QByteArray out;
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!out.contains('\n') && !deadline.hasExpired() && !peer->Exited()) {
        peer->Process.waitForReadyRead(50);
        out += peer->Process.readAllStandardOutput();
    }
    bool ok = false;
    peer->Port = uint16_t(out.trimmed().toUInt(&ok));
    if (ok && peer->Port != 0)
        return peer;
    if (peer->Exited() && peer->Process.exitStatus() == QProcess::NormalExit && peer->Process.exitCode() == 77) {
        Skip(QStringLiteral("pyftpdlib is missing: ") + peer->LogText());
        return nullptr;
    }
    Fail(QStringLiteral("pyftpd_peer.py did not start (output \"%1\"):\n%2")
             .arg(QString::fromUtf8(out), peer->LogText()));
    return nullptr;
}

TConnectProxy::~TConnectProxy() = default;

namespace {

class TProxyProcess final : public TConnectProxy {
public:
    QStringList Tunnels() override
    {
        // Each line is printed before the proxy answers the CONNECT, so it
        // is there once the client has used the tunnel.
        while (Peer.Process.waitForReadyRead(50)) {
        }
        Output += Peer.Process.readAllStandardOutput();
        QStringList lines;
        for (const QByteArray &line : Output.split('\n'))
            if (line.startsWith("tunnel "))
                lines << QString::fromUtf8(line.mid(7));
        return lines;
    }

    TPeerProcess Peer;
    QByteArray Output;
};

} // namespace

std::unique_ptr<TConnectProxy> StartConnectProxy(bool ARefuse)
{
    if (!QFileInfo(kPython).isExecutable()) {
        Skip(kPython + QStringLiteral(" is not installed"));
        return nullptr;
    }
    auto proxy = std::make_unique<TProxyProcess>();
    proxy->Peer.LogFile = MakeTempDir(QStringLiteral("proxy")) + QStringLiteral("/proxy.log");
    proxy->Peer.Process.setStandardErrorFile(proxy->Peer.LogFile);
    QStringList args{QStringLiteral(VL_FTP_PROXY_SCRIPT)};
    if (ARefuse)
        args << QStringLiteral("--refuse");
    if (!proxy->Peer.Start(kPython, args)) {
        Fail(QStringLiteral("cannot run %1: %2").arg(kPython, proxy->Peer.Process.errorString()));
        return nullptr;
    }
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!proxy->Output.contains('\n') && !deadline.hasExpired() && !proxy->Peer.Exited()) {
        proxy->Peer.Process.waitForReadyRead(50);
        proxy->Output += proxy->Peer.Process.readAllStandardOutput();
    }
    bool ok = false;
    const qsizetype end = proxy->Output.indexOf('\n');
    proxy->Port = uint16_t(proxy->Output.left(end).trimmed().toUInt(&ok));
    if (ok && proxy->Port != 0) {
        proxy->Output.remove(0, end + 1);
        return proxy;
    }
    Fail(QStringLiteral("connect_proxy.py did not start (output \"%1\"):\n%2")
             .arg(QString::fromUtf8(proxy->Output), proxy->Peer.LogText()));
    return nullptr;
}

} // namespace vl::test
