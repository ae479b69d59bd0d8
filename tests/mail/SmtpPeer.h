// An SMTP server for the mail tests (tests/mail/smtpd_peer.py on the
// system's Python with aiosmtpd): 127.0.0.1, a free port, plain, STARTTLS
// or implicit TLS, AUTH with one fixed account, one recipient that is
// always refused. Received messages land in a folder as raw bytes and as
// JSON with the MIME tree that Python's own parser reads from them.
//
//     VL_START_SMTP(peer, StartSmtpPeer({}));
//
// A missing Python or aiosmtpd skips the test; any other failure to start
// fails it. Either way the macro returns from the test body.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace vl::test {

// Made once per test process with `openssl req` (EC P-256): a self-signed
// server certificate and a client set whose key is encrypted with
// KeyPassword. Dir holds "root.pem" (the server certificate, trusted),
// "client.crt" and "client.key".
struct TSmtpCerts {
    QString Dir;
    QString ServerCert, ServerKey;
    QString KeyPassword = QStringLiteral("k3y pass");
};
const TSmtpCerts &SmtpCerts();

enum class TSmtpTls { None, StartTls, Implicit };

struct TSmtpPeerOptions {
    TSmtpTls Tls = TSmtpTls::None;
    QStringList Mechanisms{QStringLiteral("LOGIN"), QStringLiteral("PLAIN"), QStringLiteral("CRAM-MD5"),
                           QStringLiteral("CRAM-SHA1")};
};

class TSmtpPeer {
public:
    ~TSmtpPeer();
    QString Host = QStringLiteral("127.0.0.1");
    uint16_t Port = 0;
    QString User = QStringLiteral("velkor");
    QString Password = QString::fromUtf8("p\xc3\xa4ss word");
    QString Rejected = QStringLiteral("reject@example.com");
    QString Dir; // received messages: 1.eml, 1.json, ...

    int MessageCount() const;
    QByteArray Raw(int AIndex) const;          // 1-based
    QJsonObject Message(int AIndex) const;     // 1-based
    int Connections() const;                   // accepted so far

    QProcess Process;
};

std::unique_ptr<TSmtpPeer> StartSmtpPeer(const TSmtpPeerOptions &AOptions);

// A header of a received message, and its envelope recipients.
inline QString Header(const QJsonObject &AMessage, const char *AName)
{
    return AMessage[QStringLiteral("headers")].toObject()[QString::fromLatin1(AName)].toString();
}

inline QStringList Rcpts(const QJsonObject &AMessage)
{
    QStringList list;
    for (const QJsonValue v : AMessage[QStringLiteral("rcpt_tos")].toArray())
        list << v.toString();
    return list;
}

} // namespace vl::test

#define VL_START_SMTP(var, expr) \
    auto var = (expr);           \
    if (!var)                    \
    return
