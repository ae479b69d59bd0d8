// TCP connections with optional TLS (OpenSSL 3): the transport of the FTP
// client and the mail sender. One thread uses a socket at a time; Abort()
// may be called from any thread to break a blocking call (the call then
// fails with a socket error).
//
// Every blocking call honours a time-out: connect (ConnectTimeout), read
// and write (ReadTimeout; 0 = wait without limit). Errors raise ENetError,
// whose kind tells the callers' retry rules apart.
#pragma once

#include "core/DateTime.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace vl {

// How a client connection uses TLS (FTP and SMTP).
enum class TUseTls { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

class ENetError : public std::runtime_error {
public:
    enum class TKind {
        ReadTimeout, // no data within the read time-out
        SocketError, // connect, read or write failed at the system level
        ConnClosed,  // the peer closed the connection
        Protocol,    // anything else of the network layer: TLS failures,
                     // negative or malformed replies, missing connection
    };
    ENetError(TKind AKind, const QString &AMessage, int32_t AReplyCode = 0);
    TKind Kind;
    QString Message;
    int32_t ReplyCode; // FTP/SMTP reply code for Protocol errors, else 0
};

// What a TLS peer certificate says, read in the handshake.
struct TPeerCertificate {
    int32_t Version = 0;  // 1-based (X.509 v3 = 3)
    QString SerialHex;    // "0a:1b:..." lower case
    QString Subject;      // one line
    QString Issuer;       // one line
    QString Fingerprint;  // MD5 of the DER form: "ab:cd:..." lower case
    TDateTime ValidUntil = 0; // local time
};
// Judges the peer certificate inside the handshake: false ends the
// handshake (ENetError Protocol "Error verifying server certificate")
// before any data is exchanged.
using TPeerCertCheck = std::function<bool(const TPeerCertificate &ACert)>;

// A client TLS context: trust store, optional client certificate and key.
class TTlsContext {
public:
    // ARoot: a PEM file of trusted certificates (may be empty); ACert and
    // AKey: the client certificate and its key (both or neither);
    // AKeyPassword answers the key's pass phrase. Null with AError set
    // when OpenSSL cannot set up the context or a file cannot be loaded.
    static std::shared_ptr<TTlsContext> Create(const QString &ARoot, const QString &ACert, const QString &AKey,
                                               const std::function<QByteArray()> &AKeyPassword, QString &AError);
    ~TTlsContext();
    SSL_CTX *Handle() const { return FCtx; }

private:
    TTlsContext() = default;
    static int PasswordCallback(char *ABuffer, int ASize, int AWriting, void *AUserData);
    SSL_CTX *FCtx = nullptr;
    std::function<QByteArray()> FKeyPassword;
};

// Asks the user for a pass phrase.
using TGetPassword = std::function<void(QString &APassword)>;

// The pass phrase of a client key for OpenSSL: AAsk's answer when it is
// set, else AKept.
QByteArray ClientKeyPassword(const TGetPassword &AAsk, const QByteArray &AKept);
// A typed pass phrase as bytes: Windows-1252 where the text fits, else UTF-8.
QByteArray PassPhraseBytes(const QString &APassword);
// The full paths of a client's TLS files (trust store, certificate, key)
// named relative to APath into ARootPath, ACertPath and AKeyPath; false,
// with nothing set, unless all three are named and exist.
bool FindTlsFiles(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
                  QString &ARootPath, QString &ACertPath, QString &AKeyPath);

// Receives the text dialogue of a connection for a protocol log.
class TProtocolSink {
public:
    virtual ~TProtocolSink() = default;
    virtual void Sent(const QByteArray &ALine) = 0;
    virtual void Received(const QByteArray &ALine) = 0;
};

// A protocol log: time-stamped lines of the dialogue and of status,
// appended to the file while the log is active (the file is opened with the
// first line). Sent lines go through Masked, so credentials never reach it.
class TProtocolLogFile : public TProtocolSink {
public:
    explicit TProtocolLogFile(const QString &AFileName) : FFileName(AFileName) {}

    QString FileName() const;
    void SetFileName(const QString &AValue);
    void SetActive(bool AValue);
    bool Active() const;

    void Sent(const QByteArray &ALine) override { Write("Sent", Masked(ALine)); }
    void Received(const QByteArray &ALine) override { Write("Recv", ALine); }
    void Status(const QString &AText) { Write("Stat", AText.toUtf8()); }

protected:
    // A sent line as the log shows it.
    virtual QByteArray Masked(const QByteArray &ALine) const { return ALine; }
    // The local date and time a line is headed with.
    static QByteArray Stamp();
    // One line "<stamp> <tag>: <text>".
    void Write(const char *ATag, const QByteArray &AText);
    // AText as it stands (nothing while inactive or without a name).
    void Append(const QByteArray &AText);

private:
    mutable std::mutex FLock;
    QString FFileName;
    QFile FFile;
    bool FActive = false;
};

class TSocket {
public:
    TSocket();
    ~TSocket();
    TSocket(const TSocket &) = delete;
    TSocket &operator=(const TSocket &) = delete;

    int32_t ConnectTimeout = 0; // ms; 0: the system's own limit
    int32_t ReadTimeout = 0;    // ms; 0: none

    // Resolves AHost (IPv4 or IPv6 only, by AIPv6) and connects.
    void Connect(const QString &AHost, uint16_t APort, bool AIPv6);
    // Listens on an ephemeral port of the local address of AControl (for
    // active FTP data connections); then Accept waits (ATimeout ms, 0: no
    // limit; ReadTimeout error) for a connection from AControl's peer
    // address; connections from elsewhere are turned away.
    void Listen(const TSocket &AControl);
    void Accept(int32_t ATimeout);
    // Open, not aborted and not closed by the peer (checked without
    // traffic).
    bool IsOpen() const;
    // Numeric address and port of either end.
    QString LocalAddress() const;
    uint16_t LocalPort() const;
    QString PeerAddress() const;
    uint16_t PeerPort() const;
    bool IsIPv6() const;

    // Client handshake on the open connection. AServerName goes into SNI
    // (skipped for numeric addresses); AReuse: a session to resume (FTP
    // data connections resume the control connection's session); ACheck
    // judges the peer certificate (none: accepted).
    void StartTls(const std::shared_ptr<TTlsContext> &AContext, const QString &AServerName,
                  SSL_SESSION *AReuse = nullptr, const TPeerCertCheck &ACheck = {});
    bool IsTls() const { return FSsl != nullptr; }
    // The current session (a new reference, freed by the caller with
    // SSL_SESSION_free), null without TLS.
    SSL_SESSION *GetSession() const;
    // The certificate the peer presented in the last handshake.
    const TPeerCertificate &PeerCertificate() const { return FPeerCert; }

    // Up to ACount bytes; 0 at the end of the stream (the peer closed).
    int64_t Read(char *ABuffer, int64_t ACount);
    // One line without its CR LF (or LF); ConnClosed when the stream ends
    // before a line end. Lines are limited to 64 KiB.
    QByteArray ReadLine();
    void Write(const char *AData, int64_t ACount);
    void Write(const QByteArray &AData) { Write(AData.constData(), AData.size()); }
    void WriteLine(const QByteArray &ALine); // adds CR LF, logs the line
    // Ends the sending side of an upload: TLS close_notify and a TCP
    // half-close, then waits (ReadTimeout) until the peer closes its side,
    // so the peer has read every byte before the socket goes away.
    void FinishWriting();
    // Sends TLS close_notify (when TLS), then closes. Errors are ignored.
    // After Abort the connection is reset instead (no close_notify), so the
    // peer cannot take a broken transfer for a complete one. The object can
    // connect again afterwards.
    void Close();
    // Breaks any blocking call from another thread; the socket is then
    // unusable until closed.
    void Abort();
    // TCP keep-alive probes (idle time and interval in ms).
    void SetKeepAlive(bool AOn, int32_t AIdleMs, int32_t AIntervalMs);

    // Lines read by ReadLine and written by WriteLine go to the sink.
    void SetProtocolSink(TProtocolSink *ASink) { FSink = ASink; }
    // A replacement for a sent line in the log (e.g. to hide a password):
    // the next WriteLine logs AText instead of the real line.
    void MaskNextLine(const QByteArray &AText) { FMask = AText; FMasked = true; }

private:
    // Waits until the socket is ready (POLLIN/POLLOUT) or aborted; false
    // when ATimeout (ms; 0: none) passes first. Raises when aborted.
    bool WaitFor(short AEvents, int32_t ATimeout);
    void CheckUsable() const;
    int64_t RawRead(char *ABuffer, int64_t ACount);
    void ReadPeerCertificate();
    [[noreturn]] void ThrowSystem(const QString &AWhat, int AErrno);
    [[noreturn]] void ThrowTls(const QString &AWhat, int ASslError);

    int FFd = -1;
    SSL *FSsl = nullptr;
    std::atomic<bool> FAborted{false};
    int FWakeFds[2] = {-1, -1}; // pipe that Abort writes to
    bool FListening = false;    // FFd is a listening socket (Listen)
    QString FListenPeer;        // the only address Accept takes
    QByteArray FBuffer;         // read ahead of ReadLine
    TPeerCertificate FPeerCert;
    TProtocolSink *FSink = nullptr;
    QByteArray FMask;
    bool FMasked = false;
};

} // namespace vl
