#include "engine/Socket.h"

#include "core/FileTimes.h"
#include "core/PathUtils.h"
#include "core/TextEncoding.h"
#include "core/XlFileUtils.h"
#include "platform/FileNames.h"

#include <QDateTime>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>

namespace vl {

namespace {

using TClock = std::chrono::steady_clock;

constexpr qsizetype kMaxLine = 65536;

// Writes to a socket the peer has closed raise SIGPIPE, which would end the
// program; OpenSSL writes with write(2), where MSG_NOSIGNAL cannot be
// given. A handler the program installed itself is left alone.
void IgnoreSigPipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGPIPE, SIG_IGN);
    });
}

// The OpenSSL error queue as one text (and the queue emptied).
QString OpenSslErrors()
{
    QStringList parts;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        parts << QString::fromLatin1(buf);
    }
    return parts.join(QStringLiteral("; "));
}

QString HexPairs(const unsigned char *AData, size_t ACount)
{
    QStringList pairs;
    for (size_t i = 0; i < ACount; ++i)
        pairs << QStringLiteral("%1").arg(AData[i], 2, 16, QLatin1Char('0'));
    return pairs.join(QLatin1Char(':'));
}

QString AddressText(const sockaddr *AAddr, socklen_t ALen, uint16_t *APort = nullptr)
{
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    if (getnameinfo(AAddr, ALen, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return QString();
    if (APort)
        *APort = uint16_t(atoi(serv));
    return QString::fromLatin1(host);
}

bool IsNumericAddress(const QByteArray &AHost)
{
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, AHost.constData(), &a4) == 1 || inet_pton(AF_INET6, AHost.constData(), &a6) == 1;
}

QString WithoutBrackets(const QString &AHost)
{
    const QString h = AHost.trimmed();
    if (h.size() > 2 && h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        return h.mid(1, h.size() - 2);
    return h;
}

TDateTime Asn1TimeToLocal(const ASN1_TIME *ATime)
{
    struct tm parts {};
    if (!ATime || ASN1_TIME_to_tm(ATime, &parts) != 1)
        return 0;
    const time_t secs = timegm(&parts);
    TFileTime ft;
    if (!UtcDateTimeToFileTime(ft, double(secs) / 86400.0 + kUnixDateDelta))
        return 0;
    return FileTimeToLocalDateTime(ft);
}

int32_t Remaining(TClock::time_point ADeadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
    return int32_t(std::max<int64_t>(left, 0));
}

} // namespace

QByteArray ClientKeyPassword(const TGetPassword &AAsk, const QByteArray &AKept)
{
    if (!AAsk)
        return AKept;
    QString pwd;
    AAsk(pwd);
    return PassPhraseBytes(pwd);
}

QByteArray PassPhraseBytes(const QString &APassword)
{
    bool ok = true;
    const QByteArray b = EncodeWindows1252(APassword, &ok);
    return ok ? b : APassword.toUtf8();
}

bool FindTlsFiles(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
                  QString &ARootPath, QString &ACertPath, QString &AKeyPath)
{
    if (ARoot.isEmpty() || ACert.isEmpty() || AKey.isEmpty())
        return false;
    const QString dir = APath.isEmpty() ? QString() : WithTrailingDelimiter(APath);
    const QString root = dir + ARoot, cert = dir + ACert, key = dir + AKey;
    if (!XlFileExists(root, true) || !XlFileExists(cert, true) || !XlFileExists(key, true))
        return false;
    ARootPath = root;
    ACertPath = cert;
    AKeyPath = key;
    return true;
}

// ---- TProtocolLogFile ----

QString TProtocolLogFile::FileName() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FFileName;
}

void TProtocolLogFile::SetFileName(const QString &AValue)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (AValue == FFileName)
        return;
    FFile.close();
    FFileName = AValue;
}

void TProtocolLogFile::SetActive(bool AValue)
{
    std::lock_guard<std::mutex> lock(FLock);
    FActive = AValue;
    if (!AValue)
        FFile.close();
}

bool TProtocolLogFile::Active() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FActive;
}

QByteArray TProtocolLogFile::Stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
}

void TProtocolLogFile::Write(const char *ATag, const QByteArray &AText)
{
    Append(Stamp() + ' ' + ATag + ": " + AText + '\n');
}

void TProtocolLogFile::Append(const QByteArray &AText)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (!FActive || FFileName.isEmpty())
        return;
    if (!FFile.isOpen()) {
        FFile.setFileName(FFileName);
        if (!FFile.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    FFile.write(AText);
    FFile.flush();
}

// ---- ENetError ----

ENetError::ENetError(TKind AKind, const QString &AMessage, int32_t AReplyCode)
    : std::runtime_error(AMessage.toStdString()), Kind(AKind), Message(AMessage), ReplyCode(AReplyCode)
{
}

// ---- TTlsContext ---------------------------------------------------------

int TTlsContext::PasswordCallback(char *ABuffer, int ASize, int, void *AUserData)
{
    auto *self = static_cast<TTlsContext *>(AUserData);
    const QByteArray pwd = self && self->FKeyPassword ? self->FKeyPassword() : QByteArray();
    const int n = int(std::min<qsizetype>(pwd.size(), ASize));
    memcpy(ABuffer, pwd.constData(), size_t(n));
    return n;
}

std::shared_ptr<TTlsContext> TTlsContext::Create(const QString &ARoot, const QString &ACert, const QString &AKey,
                                                 const std::function<QByteArray()> &AKeyPassword, QString &AError)
{
    AError.clear();
    ERR_clear_error();
    std::shared_ptr<TTlsContext> ctx(new TTlsContext());
    ctx->FKeyPassword = AKeyPassword;
    ctx->FCtx = SSL_CTX_new(TLS_client_method());
    if (!ctx->FCtx) {
        AError = QStringLiteral("Error creating SSL context: %1").arg(OpenSslErrors());
        return nullptr;
    }
    SSL_CTX *c = ctx->FCtx;
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    // The chain is not judged by OpenSSL: the caller's TPeerCertCheck
    // decides (fingerprint or the user's confirmation).
    SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
    // Servers often end data connections without close_notify; the FTP
    // reply on the control connection tells whether a transfer completed.
    SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_passwd_cb(c, &TTlsContext::PasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(c, ctx.get());

    if (!ARoot.isEmpty() && SSL_CTX_load_verify_locations(c, EncodeFileName(ARoot).constData(), nullptr) != 1) {
        AError = QStringLiteral("Could not load root certificates from %1: %2").arg(ARoot, OpenSslErrors());
        return nullptr;
    }
    if (ACert.isEmpty() != AKey.isEmpty()) {
        AError = QStringLiteral("A client certificate needs its key and a key its certificate.");
        return nullptr;
    }
    if (!ACert.isEmpty()) {
        if (SSL_CTX_use_certificate_chain_file(c, EncodeFileName(ACert).constData()) != 1) {
            AError = QStringLiteral("Could not load certificate %1: %2").arg(ACert, OpenSslErrors());
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(c, EncodeFileName(AKey).constData(), SSL_FILETYPE_PEM) != 1) {
            AError = QStringLiteral("Could not load key %1: %2").arg(AKey, OpenSslErrors());
            return nullptr;
        }
        if (SSL_CTX_check_private_key(c) != 1) {
            AError = QStringLiteral("The key %1 does not match the certificate: %2").arg(AKey, OpenSslErrors());
            return nullptr;
        }
    }
    return ctx;
}

TTlsContext::~TTlsContext()
{
    SSL_CTX_free(FCtx);
}

// ---- TSocket -------------------------------------------------------------

TSocket::TSocket()
{
    IgnoreSigPipe();
    if (pipe2(FWakeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        ThrowSystem(QStringLiteral("Could not create a pipe"), errno);
}

TSocket::~TSocket()
{
    Close();
    ::close(FWakeFds[0]);
    ::close(FWakeFds[1]);
}

void TSocket::ThrowSystem(const QString &AWhat, int AErrno)
{
    const QString text = QStringLiteral("%1: %2").arg(AWhat, QString::fromLocal8Bit(strerror(AErrno)));
    throw ENetError(ENetError::TKind::SocketError, text);
}

void TSocket::ThrowTls(const QString &AWhat, int ASslError)
{
    const int err = errno;
    const QString details = OpenSslErrors();
    if (ASslError == SSL_ERROR_ZERO_RETURN || (ASslError == SSL_ERROR_SYSCALL && err == 0 && details.isEmpty()))
        throw ENetError(ENetError::TKind::ConnClosed, QStringLiteral("%1: the connection was closed").arg(AWhat));
    if (ASslError == SSL_ERROR_SYSCALL && details.isEmpty())
        ThrowSystem(AWhat, err);
    throw ENetError(ENetError::TKind::Protocol,
                    QStringLiteral("%1: %2").arg(AWhat, details.isEmpty() ? QStringLiteral("TLS error") : details));
}

void TSocket::CheckUsable() const
{
    if (FAborted)
        throw ENetError(ENetError::TKind::SocketError, QStringLiteral("Connection aborted"));
    if (FFd < 0)
        throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Not connected."));
}

bool TSocket::WaitFor(short AEvents, int32_t ATimeout)
{
    const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeout);
    for (;;) {
        if (FAborted)
            throw ENetError(ENetError::TKind::SocketError, QStringLiteral("Connection aborted"));
        int wait = -1;
        if (ATimeout > 0) {
            wait = Remaining(deadline);
            if (wait == 0)
                return false;
        }
        pollfd fds[2] = {{FFd, AEvents, 0}, {FWakeFds[0], POLLIN, 0}};
        const int r = poll(fds, 2, wait);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            ThrowSystem(QStringLiteral("poll"), errno);
        }
        if (FAborted)
            throw ENetError(ENetError::TKind::SocketError, QStringLiteral("Connection aborted"));
        if (r == 0)
            return false;
        // Errors and hang-ups count as ready: the next call reports them.
        if (fds[0].revents != 0)
            return true;
    }
}

void TSocket::Connect(const QString &AHost, uint16_t APort, bool AIPv6)
{
    Close();
    const QString host = WithoutBrackets(AHost);
    addrinfo hints {};
    hints.ai_family = AIPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int rc = getaddrinfo(host.toUtf8().constData(), QByteArray::number(APort).constData(), &hints, &found);
    if (rc != 0 || !found)
        throw ENetError(ENetError::TKind::SocketError,
                        QStringLiteral("Could not resolve host name %1: %2").arg(host, QString::fromLocal8Bit(gai_strerror(rc))));
    std::unique_ptr<addrinfo, void (*)(addrinfo *)> list(found, freeaddrinfo);

    int lastError = ECONNREFUSED;
    for (addrinfo *ai = found; ai; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        FFd = fd;
        int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            bool ready = false;
            try {
                ready = WaitFor(POLLOUT, ConnectTimeout);
            } catch (...) {
                ::close(fd);
                FFd = -1;
                throw;
            }
            int soError = ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (ready && getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
                soError = errno;
            r = soError == 0 ? 0 : -1;
            errno = soError;
        }
        if (r == 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return;
        }
        lastError = errno;
        ::close(fd);
        FFd = -1;
    }
    ThrowSystem(QStringLiteral("Could not connect to %1:%2").arg(host).arg(APort), lastError);
}

void TSocket::Listen(const TSocket &AControl)
{
    Close();
    sockaddr_storage local {};
    socklen_t len = sizeof local;
    if (AControl.FFd < 0 || getsockname(AControl.FFd, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Not connected."));
    if (local.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in *>(&local)->sin_port = 0;
    else
        reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port = 0;
    const int fd = socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        ThrowSystem(QStringLiteral("Could not create a socket"), errno);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), len) != 0 || listen(fd, 1) != 0) {
        const int err = errno;
        ::close(fd);
        ThrowSystem(QStringLiteral("Could not listen for a data connection"), err);
    }
    FFd = fd;
    FListening = true;
    FListenPeer = AControl.PeerAddress();
}

void TSocket::Accept(int32_t ATimeout)
{
    if (!FListening)
        throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Not listening."));
    const auto deadline = TClock::now() + std::chrono::milliseconds(ATimeout);
    for (;;) {
        const int32_t wait = ATimeout > 0 ? Remaining(deadline) : 0;
        if ((ATimeout > 0 && wait == 0) || !WaitFor(POLLIN, ATimeout > 0 ? wait : 0))
            throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Timed out waiting for the data connection"));
        sockaddr_storage peer {};
        socklen_t len = sizeof peer;
        const int c = accept4(FFd, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                continue;
            ThrowSystem(QStringLiteral("Could not accept the data connection"), errno);
        }
        // Only the server may deliver the data.
        if (!FListenPeer.isEmpty() && AddressText(reinterpret_cast<sockaddr *>(&peer), len) != FListenPeer) {
            ::close(c);
            continue;
        }
        ::close(FFd);
        FFd = c;
        FListening = false;
        const int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return;
    }
}

bool TSocket::IsOpen() const
{
    if (FFd < 0 || FAborted)
        return false;
    if (FListening)
        return true;
    pollfd p {FFd, short(POLLRDHUP), 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
        return false;
    return true;
}

QString TSocket::LocalAddress() const
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    if (FFd < 0 || getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return QString();
    return AddressText(reinterpret_cast<sockaddr *>(&a), len);
}

uint16_t TSocket::LocalPort() const
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (FFd >= 0 && getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        AddressText(reinterpret_cast<sockaddr *>(&a), len, &port);
    return port;
}

QString TSocket::PeerAddress() const
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    if (FFd < 0 || getpeername(FFd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return QString();
    return AddressText(reinterpret_cast<sockaddr *>(&a), len);
}

uint16_t TSocket::PeerPort() const
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (FFd >= 0 && getpeername(FFd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        AddressText(reinterpret_cast<sockaddr *>(&a), len, &port);
    return port;
}

bool TSocket::IsIPv6() const
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    return FFd >= 0 && getsockname(FFd, reinterpret_cast<sockaddr *>(&a), &len) == 0 && a.ss_family == AF_INET6;
}

void TSocket::StartTls(const std::shared_ptr<TTlsContext> &AContext, const QString &AServerName, SSL_SESSION *AReuse,
                       const TPeerCertCheck &ACheck)
{
    CheckUsable();
    FPeerCert = TPeerCertificate();
    try {
        // Plain text the peer sent ahead of the handshake would otherwise
        // be taken as if it had come through TLS.
        if (!FBuffer.isEmpty())
            throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Unexpected data before the TLS handshake"));
        ERR_clear_error();
        if (!AContext || !AContext->Handle() || !(FSsl = SSL_new(AContext->Handle())))
            throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Error creating SSL session."));
        SSL_set_fd(FSsl, FFd);
        const QByteArray name = WithoutBrackets(AServerName).toUtf8();
        if (!name.isEmpty() && !IsNumericAddress(name))
            SSL_set_tlsext_host_name(FSsl, name.constData());
        // A copy: a connection that ends without close_notify marks its
        // session as not resumable, which must not spoil the original
        // (the FTP control connection's, shared by every data connection).
        if (AReuse) {
            SSL_SESSION *copy = SSL_SESSION_dup(AReuse);
            SSL_set_session(FSsl, copy ? copy : AReuse);
            SSL_SESSION_free(copy);
        }
        for (;;) {
            ERR_clear_error();
            const int r = SSL_connect(FSsl);
            if (r == 1)
                break;
            const int e = SSL_get_error(FSsl, r);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                if (!WaitFor(e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, ReadTimeout))
                    throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("TLS handshake timed out"));
                continue;
            }
            ThrowTls(QStringLiteral("TLS handshake failed"), e);
        }
        ReadPeerCertificate();
        // Judged before a single byte of application data goes out.
        if (ACheck && !ACheck(FPeerCert))
            throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Error verifying server certificate"));
    } catch (...) {
        Close();
        throw;
    }
}

void TSocket::ReadPeerCertificate()
{
    X509 *cert = SSL_get1_peer_certificate(FSsl);
    if (!cert)
        return;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (X509_digest(cert, EVP_md5(), md, &mdLen) == 1)
        FPeerCert.Fingerprint = HexPairs(md, mdLen);
    if (BIGNUM *bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
        QByteArray bytes(std::max(BN_num_bytes(bn), 1), '\0');
        if (BN_num_bytes(bn) > 0)
            BN_bn2bin(bn, reinterpret_cast<unsigned char *>(bytes.data()));
        FPeerCert.SerialHex = HexPairs(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()));
        BN_free(bn);
    }
    FPeerCert.Version = int32_t(X509_get_version(cert)) + 1;
    if (char *s = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0)) {
        FPeerCert.Subject = QString::fromUtf8(s);
        OPENSSL_free(s);
    }
    if (char *s = X509_NAME_oneline(X509_get_issuer_name(cert), nullptr, 0)) {
        FPeerCert.Issuer = QString::fromUtf8(s);
        OPENSSL_free(s);
    }
    FPeerCert.ValidUntil = Asn1TimeToLocal(X509_get0_notAfter(cert));
    X509_free(cert);
}

SSL_SESSION *TSocket::GetSession() const
{
    return FSsl ? SSL_get1_session(FSsl) : nullptr;
}

int64_t TSocket::RawRead(char *ABuffer, int64_t ACount)
{
    for (;;) {
        CheckUsable();
        if (FSsl) {
            size_t got = 0;
            ERR_clear_error();
            const int r = SSL_read_ex(FSsl, ABuffer, size_t(ACount), &got);
            if (r == 1)
                return int64_t(got);
            const int e = SSL_get_error(FSsl, r);
            if (e == SSL_ERROR_ZERO_RETURN)
                return 0;
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                if (!WaitFor(e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, ReadTimeout))
                    throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Read timed out"));
                continue;
            }
            ThrowTls(QStringLiteral("Read failed"), e);
        }
        const ssize_t r = recv(FFd, ABuffer, size_t(ACount), 0);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(POLLIN, ReadTimeout))
                throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Read timed out"));
            continue;
        }
        ThrowSystem(QStringLiteral("Read failed"), errno);
    }
}

int64_t TSocket::Read(char *ABuffer, int64_t ACount)
{
    if (ACount <= 0)
        return 0;
    if (!FBuffer.isEmpty()) {
        const qsizetype n = std::min<qsizetype>(FBuffer.size(), qsizetype(ACount));
        memcpy(ABuffer, FBuffer.constData(), size_t(n));
        FBuffer.remove(0, n);
        return n;
    }
    return RawRead(ABuffer, ACount);
}

QByteArray TSocket::ReadLine()
{
    for (;;) {
        const qsizetype end = FBuffer.indexOf('\n');
        if (end >= 0) {
            QByteArray line = FBuffer.left(end);
            FBuffer.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            if (FSink)
                FSink->Received(line);
            return line;
        }
        if (FBuffer.size() > kMaxLine)
            throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Reply line too long"));
        char chunk[4096];
        const int64_t n = RawRead(chunk, sizeof chunk);
        if (n == 0)
            throw ENetError(ENetError::TKind::ConnClosed, QStringLiteral("Connection closed gracefully."));
        FBuffer.append(chunk, qsizetype(n));
    }
}

void TSocket::Write(const char *AData, int64_t ACount)
{
    while (ACount > 0) {
        CheckUsable();
        if (FSsl) {
            size_t done = 0;
            ERR_clear_error();
            const int r = SSL_write_ex(FSsl, AData, size_t(ACount), &done);
            if (r == 1) {
                AData += done;
                ACount -= int64_t(done);
                continue;
            }
            const int e = SSL_get_error(FSsl, r);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                if (!WaitFor(e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, ReadTimeout))
                    throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Write timed out"));
                continue;
            }
            ThrowTls(QStringLiteral("Write failed"), e);
        }
        const ssize_t r = send(FFd, AData, size_t(ACount), MSG_NOSIGNAL);
        if (r >= 0) {
            AData += r;
            ACount -= r;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(POLLOUT, ReadTimeout))
                throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Write timed out"));
            continue;
        }
        if (errno == EPIPE)
            throw ENetError(ENetError::TKind::ConnClosed, QStringLiteral("Write failed: the connection was closed"));
        ThrowSystem(QStringLiteral("Write failed"), errno);
    }
}

void TSocket::WriteLine(const QByteArray &ALine)
{
    const QByteArray logged = FMasked ? FMask : ALine;
    FMasked = false;
    FMask.clear();
    if (FSink)
        FSink->Sent(logged);
    Write(ALine + "\r\n");
}

void TSocket::FinishWriting()
{
    CheckUsable();
    if (FSsl) {
        for (;;) {
            ERR_clear_error();
            const int r = SSL_shutdown(FSsl);
            if (r >= 0)
                break; // close_notify sent
            const int e = SSL_get_error(FSsl, r);
            if (e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ) {
                ThrowTls(QStringLiteral("Write failed"), e);
            }
            if (!WaitFor(e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, ReadTimeout))
                throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Write timed out"));
        }
    }
    ::shutdown(FFd, SHUT_WR);
    // Whatever still arrives (the peer's close_notify, session tickets) is
    // read and dropped: unread data would make close() reset the
    // connection, which can cost the peer the last bytes of the upload.
    char chunk[4096];
    for (;;) {
        const ssize_t r = recv(FFd, chunk, sizeof chunk, 0);
        if (r == 0)
            return;
        if (r > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return; // the peer is gone already: nothing left to wait for
        if (!WaitFor(POLLIN, ReadTimeout))
            throw ENetError(ENetError::TKind::ReadTimeout, QStringLiteral("Timed out waiting for the end of the transfer"));
    }
}

void TSocket::Close()
{
    if (FSsl) {
        if (!FAborted && FFd >= 0 && !(SSL_get_shutdown(FSsl) & SSL_SENT_SHUTDOWN)) {
            ERR_clear_error();
            SSL_shutdown(FSsl); // one call: sends close_notify, does not wait
        }
        SSL_free(FSsl);
        FSsl = nullptr;
        ERR_clear_error();
    }
    if (FFd >= 0) {
        if (FAborted && !FListening) {
            const linger reset {1, 0};
            setsockopt(FFd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(FFd);
        FFd = -1;
    }
    FListening = false;
    FListenPeer.clear();
    FBuffer.clear();
    FMasked = false;
    FMask.clear();
    char drain[64];
    while (FWakeFds[0] >= 0 && ::read(FWakeFds[0], drain, sizeof drain) > 0) {
    }
    FAborted = false;
}

void TSocket::Abort()
{
    FAborted = true;
    const char c = 1;
    if (FWakeFds[1] >= 0 && ::write(FWakeFds[1], &c, 1) < 0) {
        // A full pipe still wakes the poll.
    }
}

void TSocket::SetKeepAlive(bool AOn, int32_t AIdleMs, int32_t AIntervalMs)
{
    if (FFd < 0)
        return;
    const int on = AOn ? 1 : 0;
    setsockopt(FFd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    if (!AOn)
        return;
    const int idle = std::max(1, AIdleMs / 1000);
    const int interval = std::max(1, AIntervalMs / 1000);
    setsockopt(FFd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(FFd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

} // namespace vl
