// FTP servers for the tests, started on 127.0.0.1 and a free port with a
// generated configuration below the test's temporary folder and stopped
// when the object goes: proftpd (a virtual user through AuthUserFile;
// MLSD, MFMT; explicit and implicit FTPS with TLS session reuse
// required) and a pyftpdlib server (LIST only, no MLSD/MFMT; faults on
// request).
//
// Use:
//     VL_START_PEER(peer, StartProftpd(TPeerTls::Explicit));
//     ... connect to peer->Host:peer->Port as peer->User/peer->Password ...
// A missing server program (or Python module) skips the test; any other
// failure to start fails it with the server's log. Either way the Start
// functions return nullptr after recording that, and VL_START_PEER returns
// from the test body (or SetUp: gtest then does not run the body).
// When the test has failed, the peer prints the tail of its log as it goes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace vl::test {

// Certificates made with `openssl req` (EC P-256) once per test process in
// TestRoot()/ftp-certs: a test root CA, a server certificate for the peers
// signed by it (CN=127.0.0.1, subjectAltName IP:127.0.0.1 and DNS:localhost,
// serial 0x1234, issuer CN=Velkor Test Root), and the client set Velkor loads
// ("velkorroot.pem" = the root CA, "velkor.crt" signed by it, "velkor.key" an
// encrypted PKCS#8 key protected by KeyPassword). Failures fail the test.
struct TFtpCerts {
    QString Dir;            // holds the files below
    QString ServerCert;     // server.crt
    QString ServerKey;      // server.key (no pass phrase)
    QString ServerFingerprint; // MD5 of the DER, "ab:cd:..." lower case
    QByteArray KeyPassword; // of velkor.key
};
const TFtpCerts &FtpCerts();

// None: no TLS at all (AUTH TLS is refused). Explicit: AUTH TLS offered, but
// plain logins and clear data connections stay allowed, so one server serves
// plain and explicit tests. Implicit: TLS from the first byte on its port.
enum class TPeerTls { None, Explicit, Implicit };

// Faults of the pyftpdlib peer.
struct TPyFaults {
    // Reset the control and data connection after exactly this many bytes
    // of the first DropTransfers file transfers (STOR, APPE, RETR; not
    // listings) that reach that size (0: never). A STOR leaves those bytes
    // in the file; later transfers run normally.
    int64_t DropAfterBytes = 0;
    int32_t DropTransfers = 1;
    // Answer every STOR/APPE with this reply (e.g. "552 Quota exceeded")
    // without reading data (empty: normal).
    QString StorReply;
    // Accept connections but never send the greeting.
    bool StallGreeting = false;
    // End the first FinalReplies file transfers (STOR, APPE, RETR) with this
    // reply (e.g. "451 Disk busy") after all their data has gone through
    // (empty: 226 as usual).
    QString FinalReply;
    int32_t FinalReplies = 1;
    // Reset the control connection when the command line that follows
    // DropCommandSkip others beginning with DropCommand arrives (e.g. "LIST",
    // "DELE name"), counted over all connections; once (empty: never).
    QString DropCommand;
    int32_t DropCommandSkip = 0;
    // Answer a successful MKD with this reply; "{path}" stands for the new
    // directory's path with its double quotes doubled (empty: as usual).
    QString MkdReply;
    // "PREFIX=REPLY": every command line beginning with PREFIX (e.g.
    // "DELE old.txt") is answered with REPLY (e.g. "550 Busy") and not run.
    QStringList Refuse;
};

class TFtpPeer {
public:
    virtual ~TFtpPeer();
    uint16_t Port = 0;
    QString Host = QStringLiteral("127.0.0.1");
    QString User = QStringLiteral("velkor");
    QByteArray Password = "s3cret pass";
    // The user's login folder on disk (the login directory on the server).
    QString Root;
    // The login directory as the server reports it in PWD ("/" for
    // pyftpdlib, the absolute folder for proftpd).
    QString LoginDir;
    // The server's own log, for failure messages.
    QString LogFile;
    int64_t Pid = 0;
};

// Return nullptr after a GTEST_SKIP (program missing) or a fatal failure.
std::unique_ptr<TFtpPeer> StartProftpd(TPeerTls ATls = TPeerTls::None);
// AAddress: where the pyftpdlib peer listens (e.g. "::1"); it becomes Host.
std::unique_ptr<TFtpPeer> StartPyFtpd(TPeerTls ATls = TPeerTls::None, const TPyFaults &AFaults = {},
                                      const QString &AAddress = QStringLiteral("127.0.0.1"));

// The HTTP CONNECT proxy connect_proxy.py on 127.0.0.1 and a free port.
// ARefuse: every CONNECT is answered with 403.
class TConnectProxy {
public:
    virtual ~TConnectProxy();
    uint16_t Port = 0;
    // The targets ("host:port") of the tunnels opened so far, in order.
    virtual QStringList Tunnels() = 0;
};
std::unique_ptr<TConnectProxy> StartConnectProxy(bool ARefuse = false);

} // namespace vl::test

#define VL_START_PEER(var, expr) \
    auto var = (expr);           \
    if (!var)                    \
    return
