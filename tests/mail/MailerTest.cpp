#include "engine/Mailer.h"

#include "common/TestUtils.h"
#include "mail/SmtpPeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <gtest/gtest.h>

namespace vl {
namespace {

using test::StartSmtpPeer;
using test::TSmtpPeer;
using test::TSmtpPeerOptions;
using test::TSmtpTls;

QString U(const char *AUtf8)
{
    return QString::fromUtf8(AUtf8);
}

// The MIME tree as the peer's parser saw it: "depth:type;charset;cte;filename"
// per part, joined by " | " (empty fields stay empty).
QString Tree(const QJsonObject &AMessage)
{
    QStringList parts;
    for (const QJsonValue v : AMessage[QStringLiteral("parts")].toArray()) {
        const QJsonObject p = v.toObject();
        parts << QStringLiteral("%1:%2;%3;%4;%5")
                     .arg(p[QStringLiteral("depth")].toInt())
                     .arg(p[QStringLiteral("content_type")].toString(), p[QStringLiteral("charset")].toString(),
                          p[QStringLiteral("cte")].toString(), p[QStringLiteral("filename")].toString());
    }
    return parts.join(QStringLiteral(" | "));
}

// The decoded content of part AIndex (0-based, in walk order), line
// breaks as LF.
QByteArray Payload(const QJsonObject &AMessage, int AIndex)
{
    const QJsonObject p = AMessage[QStringLiteral("parts")].toArray()[AIndex].toObject();
    return QByteArray::fromBase64(p[QStringLiteral("payload_b64")].toString().toLatin1()).replace("\r\n", "\n");
}

using test::Header;
using test::Rcpts;

// A sender aimed at the peer with one recipient and a short body.
void Aim(TmMailer &AMailer, const TSmtpPeer &APeer)
{
    AMailer.Host = APeer.Host;
    AMailer.Port = APeer.Port;
    AMailer.From = TEmailAddressItem(QStringLiteral("backup@example.com"), QStringLiteral("Velkor"));
    AMailer.Recipients.SetEMailAddresses(QStringLiteral("user@example.com"));
    AMailer.Subject = QStringLiteral("Backup report");
    AMailer.Body = QStringList{QStringLiteral("All done.")};
}

QString ErrorsText(const TSendErrors &AErrors)
{
    QStringList list;
    for (const TSendError &e : AErrors)
        list << QStringLiteral("%1:%2").arg(int(e.ErrType)).arg(e.ErrMsg);
    return list.join(QStringLiteral(" / "));
}

// ---- Message structure ----------------------------------------------------------

TEST(MailerTest, MimeStructureAsReceived)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    const QString dir = test::MakeTempDir(QStringLiteral("att"));
    const QByteArray pdf("%PDF-1.4\x00\x01\x02\xff binary", 22);
    test::WriteBytes(dir + U("/Bericht \xc3\xa4.pdf"), pdf);
    test::WriteBytes(dir + QStringLiteral("/notes.log"), "line one\nline two\n");
    test::WriteBytes(dir + QStringLiteral("/data.xyz"), QByteArray("\x00\x10 raw", 6));
    test::WriteBytes(dir + QStringLiteral("/nul.txt"), QByteArray("a\0b\r\n", 5)); // 8bit cannot carry NUL

    const QStringList latinBody{U("Gr\xc3\xbc\xc3\x9f" "e"), QStringLiteral(".hidden"), QStringLiteral(".")};
    struct TCase {
        const char *Name;
        TContentType Type;
        QStringList Body, Html, Attached;
        QString Tree;
        QList<QPair<int, QByteArray>> Payloads; // part index, decoded content
    };
    const QList<TCase> cases{
        {"ascii", TContentType::ctAscii, latinBody, {}, {}, QStringLiteral("0:text/plain;iso-8859-1;8bit;"),
         {{0, "Gr\xfc\xdf" "e\n.hidden\n.\n"}}},
        {"utf8", TContentType::ctUtf8, {U("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe2\x82\xac")}, {}, {},
         QStringLiteral("0:text/plain;utf-8;8bit;"),
         {{0, "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe2\x82\xac\n"}}},
        {"html and text", TContentType::ctHtml, {QStringLiteral("plain")}, {QStringLiteral("<p>html</p>")}, {},
         QStringLiteral("0:multipart/alternative;;; | 1:text/plain;iso-8859-1;8bit; | 1:text/html;iso-8859-1;8bit;"),
         {{1, "plain\n"}, {2, "<p>html</p>\n"}}},
        {"html only", TContentType::ctHtml, {}, {QStringLiteral("<p>html</p>")}, {},
         QStringLiteral("0:text/html;iso-8859-1;8bit;"), {{0, "<p>html</p>\n"}}},
        {"long line", TContentType::ctAscii, {QString(1500, u'a') + U("\xc3\xa9=")}, {}, {},
         QStringLiteral("0:text/plain;iso-8859-1;quoted-printable;"),
         {{0, QByteArray(1500, 'a') + "\xe9=\n"}}},
        {"attachments", TContentType::ctHtml, {QStringLiteral("plain")}, {QStringLiteral("<b>x</b>")},
         {dir + U("/Bericht \xc3\xa4.pdf"), dir + QStringLiteral("/notes.log|text/plain"),
          dir + QStringLiteral("/data.xyz|octet-stream"), dir + QStringLiteral("/nul.txt")},
         U("0:multipart/mixed;;; | 1:multipart/alternative;;; | 2:text/plain;iso-8859-1;8bit; | "
           "2:text/html;iso-8859-1;8bit; | 1:application/pdf;;base64;Bericht \xc3\xa4.pdf | "
           "1:text/plain;;8bit;notes.log | 1:application/octet-stream;;base64;data.xyz | "
           "1:text/plain;;base64;nul.txt"),
         {{2, "plain\n"}, {4, pdf}, {5, "line one\nline two\n"}, {6, QByteArray("\x00\x10 raw", 6)},
          {7, QByteArray("a\0b\n", 4)}}},
    };
    TmMailer mailer;
    Aim(mailer, *peer);
    int sent = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        mailer.ContentType = c.Type;
        mailer.Body = c.Body;
        mailer.HTMLBody = c.Html;
        mailer.Attachments.AttachedFiles = c.Attached;
        ASSERT_TRUE(mailer.Send()) << ErrorsText(mailer.ErrorList()).toStdString();
        const QJsonObject m = peer->Message(++sent);
        EXPECT_EQ(Tree(m), c.Tree);
        for (const auto &[index, content] : c.Payloads)
            EXPECT_EQ(Payload(m, index), content) << "part " << index;
    }
    // The attachments carry the disposition, not the message: its text stays inline.
    EXPECT_FALSE(peer->Message(sent)[QStringLiteral("headers")].toObject().contains(
        QStringLiteral("Content-Disposition")));
    EXPECT_EQ(peer->Raw(sent).count("Content-Disposition: attachment;"), 4);
    // Lines starting with a dot arrive as they were (dot-stuffed on the wire).
    EXPECT_TRUE(peer->Raw(1).contains("\r\n.hidden\r\n.\r\n"));
}

TEST(MailerTest, HeadersEnvelopeAndPriority)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    TmMailer mailer;
    Aim(mailer, *peer);
    mailer.From = TEmailAddressItem(QStringLiteral("backup@example.com"), U("J\xc3\xb6rg M\xc3\xbcller"));
    mailer.Recipients.SetEMailAddresses(QStringLiteral("\"Doe, Jane\" <jane@example.com>; bob@example.com"));
    mailer.CCList.SetEMailAddresses(QStringLiteral("Carol <carol@example.com>"));
    mailer.BCCList.Add(QStringLiteral("hid\r\nRSET\r\nden@example.com")); // no command smuggled in
    const QString subject = U("Sicherung \xe2\x80\x93 Fehler in \xc3\xbc" "berwachung ") + QString(60, u'x');
    mailer.Subject = subject;
    mailer.Priority = TMessagePriority::mpHigh;
    mailer.AddExtraHeader(QStringLiteral("X-Velkor-Task"), QStringLiteral("first"));
    mailer.AddExtraHeader(QStringLiteral("x-velkor-task"), U("T\xc3\xa4glich"));
    // An empty value sets no header and removes one set before.
    mailer.AddExtraHeader(QStringLiteral("Reply-To"), QStringLiteral("old@example.com"));
    mailer.AddExtraHeader(QStringLiteral("reply-to"), QString());
    mailer.AddExtraHeader(QStringLiteral("Sender"), QStringLiteral(" "));
    ASSERT_TRUE(mailer.Send()) << ErrorsText(mailer.ErrorList()).toStdString();

    const QJsonObject m = peer->Message(1);
    EXPECT_EQ(m[QStringLiteral("mail_from")].toString(), QStringLiteral("backup@example.com"));
    EXPECT_EQ(Rcpts(m), (QStringList{QStringLiteral("jane@example.com"), QStringLiteral("bob@example.com"),
                                     QStringLiteral("carol@example.com"), QStringLiteral("hidRSETden@example.com")}));
    EXPECT_EQ(m[QStringLiteral("helo")].toString(), QStringLiteral("Test"));
    EXPECT_EQ(Header(m, "Subject"), subject);
    EXPECT_EQ(Header(m, "From"), U("J\xc3\xb6rg M\xc3\xbcller <backup@example.com>"));
    EXPECT_EQ(Header(m, "To"), QStringLiteral("\"Doe, Jane\" <jane@example.com>, bob@example.com"));
    EXPECT_EQ(Header(m, "Cc"), QStringLiteral("Carol <carol@example.com>"));
    EXPECT_EQ(Header(m, "Bcc"), QString());
    EXPECT_EQ(Header(m, "X-Priority"), QStringLiteral("2 (High)"));
    EXPECT_EQ(Header(m, "X-Velkor-Task"), U("T\xc3\xa4glich"));
    EXPECT_EQ(peer->Raw(1).count("elkor-Task:"), 1);
    EXPECT_FALSE(m[QStringLiteral("headers")].toObject().contains(QStringLiteral("Reply-To")));
    EXPECT_FALSE(m[QStringLiteral("headers")].toObject().contains(QStringLiteral("Sender")));
    // Every header line is ASCII and within the line limit.
    const QByteArray head = peer->Raw(1).left(peer->Raw(1).indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n')) {
        EXPECT_LE(line.size(), 80) << line.constData();
        for (const char ch : line)
            EXPECT_GE(ch, 0) << line.constData();
    }
}

// One UTF-8 message must not change how later messages are encoded; text
// that the Latin-1 label cannot carry goes out as UTF-8 instead of "?".
TEST(MailerTest, CharsetIsChosenPerMessage)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    TmMailer mailer;
    Aim(mailer, *peer);
    const struct {
        TContentType Type;
        QString Text;
        QString Charset;
        QByteArray Bytes;
    } cases[] = {
        {TContentType::ctUtf8, U("caf\xc3\xa9"), QStringLiteral("utf-8"), "caf\xc3\xa9\n"},
        {TContentType::ctAscii, U("caf\xc3\xa9"), QStringLiteral("iso-8859-1"), "caf\xe9\n"},
        {TContentType::ctAscii, U("5 \xe2\x82\xac"), QStringLiteral("utf-8"), "5 \xe2\x82\xac\n"},
        {TContentType::ctAscii, U("caf\xc3\xa9"), QStringLiteral("iso-8859-1"), "caf\xe9\n"},
    };
    int n = 0;
    for (const auto &c : cases) {
        mailer.ContentType = c.Type;
        mailer.Body = QStringList{c.Text};
        ASSERT_TRUE(mailer.Send()) << ErrorsText(mailer.ErrorList()).toStdString();
        const QJsonObject m = peer->Message(++n);
        SCOPED_TRACE(n);
        EXPECT_EQ(m[QStringLiteral("parts")].toArray()[0].toObject()[QStringLiteral("charset")].toString(),
                  c.Charset);
        EXPECT_EQ(Payload(m, 0), c.Bytes);
    }
}

TEST(MailerTest, SaveToFileWritesTheMessageAndFailsForAMissingAttachment)
{
    const QString dir = test::MakeTempDir();
    TmMailer mailer;
    mailer.From = TEmailAddressItem(QStringLiteral("a@example.com"));
    mailer.Recipients.Add(QStringLiteral("b@example.com"));
    mailer.Body = QStringList{QStringLiteral("hello")};
    ASSERT_TRUE(mailer.SaveToFile(dir + QStringLiteral("/m.eml")));
    const QByteArray saved = test::ReadBytes(dir + QStringLiteral("/m.eml"));
    EXPECT_TRUE(saved.startsWith("From: a@example.com\r\n"));
    EXPECT_TRUE(saved.endsWith("\r\n\r\nhello\r\n"));

    mailer.Attachments.AttachedFiles = QStringList{dir + QStringLiteral("/missing.pdf")};
    EXPECT_FALSE(mailer.SaveToFile(dir + QStringLiteral("/m2.eml")));
    EXPECT_FALSE(mailer.Send());
    ASSERT_EQ(mailer.ErrorList().size(), 1);
    EXPECT_EQ(mailer.ErrorList()[0].ErrType, TSendErrorType::seUnknown);
}

TEST(MailerTest, AddressListsParse)
{
    const struct {
        const char *Text;
        const char *Addresses, *Names; // "|"-separated
    } cases[] = {
        {"a@x.org", "a@x.org", ""},
        {" A <a@x.org> , b@y.org;", "a@x.org|b@y.org", "A|"},
        {"\"Doe, Jane\" <j@x.org>; \"Q \\\"Q\\\"\" <q@x.org>", "j@x.org|q@x.org", "Doe, Jane|Q \"Q\""},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        TEmailAddressList list;
        list.SetEMailAddresses(QString::fromLatin1(c.Text));
        QStringList addresses, names;
        for (const TEmailAddressItem &i : list) {
            addresses << i.Address;
            names << i.Name;
        }
        EXPECT_EQ(addresses.join(u'|'), QString::fromLatin1(c.Addresses)) << c.Text;
        EXPECT_EQ(names.join(u'|'), QString::fromLatin1(c.Names)) << c.Text;
    }
}

// ---- Authentication and the protocol log ---------------------------------------

TEST(MailerTest, EachSaslMechanismAuthenticates)
{
    for (const char *mech : {"LOGIN", "PLAIN", "CRAM-MD5", "CRAM-SHA1"}) {
        SCOPED_TRACE(mech);
        TSmtpPeerOptions options;
        options.Mechanisms = QStringList{QString::fromLatin1(mech)};
        VL_START_SMTP(peer, StartSmtpPeer(options));
        TmMailer mailer;
        Aim(mailer, *peer);
        mailer.UserId = peer->User;
        mailer.Password = peer->Password;
        mailer.SetWriteLogFile(true);
        ASSERT_TRUE(mailer.Send()) << ErrorsText(mailer.ErrorList()).toStdString();
        EXPECT_EQ(peer->Message(1)[QStringLiteral("login")].toString(), peer->User);

        // The log shows the dialogue but no credentials in any form.
        const QByteArray log = test::ReadBytes(MailerTempPath() + QStringLiteral("SmtpLog.txt"));
        EXPECT_TRUE(log.contains(" Sent: EHLO Test\n")) << log.constData();
        EXPECT_TRUE(log.contains(" Recv: 235 ")) << log.constData();
        const QByteArray user = peer->User.toUtf8(), pass = peer->Password.toUtf8();
        for (const QByteArray &secret : {pass, pass.toBase64(), user.toBase64(),
                                         (QByteArray(1, '\0') + user + '\0' + pass).toBase64()})
            EXPECT_FALSE(log.contains(secret)) << secret.constData() << "\n" << log.constData();
        QFile::remove(MailerTempPath() + QStringLiteral("SmtpLog.txt"));
    }
}

TEST(MailerTest, CredentialsDecideWhetherToAuthenticate)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    const struct {
        QString User, Password;
        bool Ok;
        QString Login; // as the server saw it; empty: no AUTH
    } cases[] = {
        {QStringLiteral("velkor"), QString(), true, QString()},
        {QString(), QStringLiteral("x"), true, QString()},
        {QStringLiteral("velkor"), peer->Password, true, QStringLiteral("velkor")},
        {QStringLiteral("velkor"), QStringLiteral("wrong"), false, QString()},
    };
    int received = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE((c.User + QLatin1Char('/') + c.Password).toStdString());
        TmMailer mailer;
        Aim(mailer, *peer);
        mailer.UserId = c.User;
        mailer.Password = c.Password;
        EXPECT_EQ(mailer.Send(), c.Ok) << ErrorsText(mailer.ErrorList()).toStdString();
        if (!c.Ok) {
            ASSERT_EQ(mailer.ErrorList().size(), 1);
            EXPECT_EQ(mailer.ErrorList()[0].ErrType, TSendErrorType::seSmtp);
            EXPECT_EQ(mailer.ErrorList()[0].ErrMsg, QStringLiteral("Authentication Failed"));
            EXPECT_EQ(peer->MessageCount(), received);
            continue;
        }
        ASSERT_EQ(peer->MessageCount(), ++received);
        EXPECT_EQ(peer->Message(received)[QStringLiteral("login")].toString(), c.Login);
    }
}

// ---- Refused recipients ------------------------------------------------------------

TEST(MailerTest, RefusedRecipient)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    const QString refused = QStringLiteral("2:") + peer->Rejected;
    const struct {
        bool GoOn;
        QString To, Cc;
        QString Errors;    // ErrorsText
        QStringList Rcpts; // delivered to; empty: nothing sent
    } cases[] = {
        {true, QStringLiteral("a@example.com, ") + peer->Rejected, QStringLiteral("c@example.com"), refused,
         {QStringLiteral("a@example.com"), QStringLiteral("c@example.com")}},
        {false, QStringLiteral("a@example.com, ") + peer->Rejected, QStringLiteral("c@example.com"),
         refused + QStringLiteral(" / 1:550 5.1.1 Mailbox unavailable"), {}},
        {true, peer->Rejected, QString(), refused + QStringLiteral(" / 1:No recipient was accepted."), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.To + QLatin1Char('/') + QString::number(c.GoOn)).toStdString());
        const int before = peer->MessageCount();
        TmMailer mailer;
        Aim(mailer, *peer);
        mailer.ContinueOnFailedRecipient = c.GoOn;
        mailer.Recipients.SetEMailAddresses(c.To);
        mailer.CCList.SetEMailAddresses(c.Cc);
        EXPECT_FALSE(mailer.Send());
        EXPECT_EQ(ErrorsText(mailer.ErrorList()), c.Errors);
        ASSERT_EQ(peer->MessageCount(), before + (c.Rcpts.isEmpty() ? 0 : 1));
        if (!c.Rcpts.isEmpty()) {
            EXPECT_EQ(Rcpts(peer->Message(before + 1)), c.Rcpts);
        }
    }
}

// ---- TLS ---------------------------------------------------------------------------

std::unique_ptr<TmMailer> TlsMailer(const QString &APwd = test::SmtpCerts().KeyPassword)
{
    const test::TSmtpCerts &certs = test::SmtpCerts();
    return std::make_unique<TmMailer>(certs.Dir, QStringLiteral("root.pem"), QStringLiteral("client.crt"),
                                      QStringLiteral("client.key"), APwd);
}

TEST(MailerTest, TlsModes)
{
    const struct {
        TSmtpTls Server;
        TSecTransfer Mode;
        bool Ok, Tls;
    } cases[] = {
        {TSmtpTls::StartTls, TSecTransfer::stExplicit, true, true},
        {TSmtpTls::StartTls, TSecTransfer::stRequired, true, true},
        {TSmtpTls::Implicit, TSecTransfer::stImplicit, true, true},
        {TSmtpTls::None, TSecTransfer::stExplicit, true, false},  // STARTTLS not offered: plain
        {TSmtpTls::None, TSecTransfer::stRequired, false, false}, // ... but never when required
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.Mode));
        TSmtpPeerOptions options;
        options.Tls = c.Server;
        VL_START_SMTP(peer, StartSmtpPeer(options));
        auto mailer = TlsMailer();
        ASSERT_TRUE(mailer->TLSAvail());
        Aim(*mailer, *peer);
        mailer->UserId = peer->User;
        mailer->Password = peer->Password;
        mailer->SetSecureTransfer(c.Mode);
        EXPECT_EQ(mailer->Send(), c.Ok) << ErrorsText(mailer->ErrorList()).toStdString();
        ASSERT_EQ(peer->MessageCount(), c.Ok ? 1 : 0);
        if (c.Ok) {
            EXPECT_EQ(peer->Message(1)[QStringLiteral("tls")].toBool(), c.Tls);
            EXPECT_EQ(peer->Message(1)[QStringLiteral("login")].toString(), peer->User);
        } else {
            ASSERT_EQ(mailer->ErrorList().size(), 1);
            EXPECT_EQ(mailer->ErrorList()[0].ErrType, TSendErrorType::seSmtp);
        }
    }
}

// Without the certificate files TLS is impossible: a TLS mode then sends
// nothing, not even a connection attempt, instead of falling back to
// plain text.
TEST(MailerTest, TlsModeWithoutTlsDoesNotConnect)
{
    TSmtpPeerOptions options;
    options.Tls = TSmtpTls::StartTls;
    VL_START_SMTP(peer, StartSmtpPeer(options));
    const test::TSmtpCerts &certs = test::SmtpCerts();
    std::vector<std::unique_ptr<TmMailer>> mailers;
    mailers.push_back(std::make_unique<TmMailer>());
    mailers.push_back(std::make_unique<TmMailer>(certs.Dir, QStringLiteral("root.pem"), QStringLiteral("client.crt"),
                                                 QStringLiteral("missing.key"), certs.KeyPassword));
    mailers.push_back(std::make_unique<TmMailer>(certs.Dir, QString(), QStringLiteral("client.crt"),
                                                 QStringLiteral("client.key"), certs.KeyPassword));
    for (auto &mailer : mailers) {
        EXPECT_FALSE(mailer->TLSAvail());
        for (const TSecTransfer mode : {TSecTransfer::stExplicit, TSecTransfer::stRequired, TSecTransfer::stImplicit}) {
            Aim(*mailer, *peer);
            mailer->SetSecureTransfer(mode);
            EXPECT_FALSE(mailer->Send());
            ASSERT_EQ(mailer->ErrorList().size(), 1);
            EXPECT_EQ(mailer->ErrorList()[0].ErrType, TSendErrorType::seNoSecure);
            EXPECT_EQ(mailer->ErrorList()[0].ErrMsg, QStringLiteral("Error creating SSL session."));
        }
    }
    EXPECT_EQ(peer->Connections(), 0);
    // The same sender without a TLS mode sends in plain text.
    mailers[0]->SetSecureTransfer(TSecTransfer::stNone);
    EXPECT_TRUE(mailers[0]->Send()) << ErrorsText(mailers[0]->ErrorList()).toStdString();
    EXPECT_EQ(peer->MessageCount(), 1);
}

TEST(MailerTest, KeyPassPhraseFromPwdOrHandler)
{
    TSmtpPeerOptions options;
    options.Tls = TSmtpTls::Implicit;
    VL_START_SMTP(peer, StartSmtpPeer(options));
    const QString good = test::SmtpCerts().KeyPassword;
    const struct {
        QString Pwd;
        bool Handler; // OnSSLPassword answers `good`
        bool Ok;
    } cases[] = {
        {good, false, true},
        {QStringLiteral("wrong"), false, false},
        {QStringLiteral("wrong"), true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Pwd.toStdString() + (c.Handler ? "+handler" : ""));
        const int connections = peer->Connections();
        auto mailer = TlsMailer(c.Pwd);
        Aim(*mailer, *peer);
        mailer->SetLogname(test::MakeTempDir() + QStringLiteral("/VlSmtp.log"));
        mailer->SetWriteLogFile(true);
        mailer->SetSecureTransfer(TSecTransfer::stImplicit);
        if (c.Handler)
            mailer->OnSSLPassword = [&](QString &APassword) { APassword = good; };
        EXPECT_EQ(mailer->Send(), c.Ok) << ErrorsText(mailer->ErrorList()).toStdString();
        if (!c.Ok) {
            ASSERT_EQ(mailer->ErrorList().size(), 1);
            EXPECT_EQ(mailer->ErrorList()[0].ErrType, TSendErrorType::seNoSecure);
            EXPECT_TRUE(mailer->ErrorList()[0].ErrMsg.startsWith(QStringLiteral("Error creating SSL session.")));
            EXPECT_EQ(peer->Connections(), connections);
            const QByteArray log = test::ReadBytes(mailer->Logname());
            EXPECT_TRUE(log.startsWith("Error ")) << log.constData();
            EXPECT_TRUE(log.contains("  Error creating SSL session.\n")) << log.constData();
        }
    }
    EXPECT_EQ(peer->MessageCount(), 2);
}

// ---- Events ---------------------------------------------------------------------

// The size for the progress comes from the message in memory: a file of
// the same name in the temporary folder stays as it is.
TEST(MailerTest, WorkEventsCountTheMessage)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    const QString dir = test::MakeTempDir();
    test::WriteBytes(dir + QStringLiteral("/big.bin"), QByteArray(300 * 1024, 'z'));
    const QString foreign = MailerTempPath() + QStringLiteral("SendMail.tmp");
    test::WriteBytes(foreign, "someone else's file");

    TmMailer mailer;
    Aim(mailer, *peer);
    mailer.Attachments.AttachedFiles = QStringList{dir + QStringLiteral("/big.bin")};
    QStringList events;
    int64_t total = -1, last = 0;
    int works = 0;
    mailer.OnConnected = [&](TmMailer &) { events << QStringLiteral("connected"); };
    mailer.OnDisconnected = [&](TmMailer &) { events << QStringLiteral("disconnected"); };
    mailer.OnBeginSend = [&](TmMailer &, TWorkMode, int64_t ATotal) {
        events << QStringLiteral("begin");
        total = ATotal;
    };
    mailer.OnSending = [&](TmMailer &, TWorkMode, int64_t ACount) {
        EXPECT_GT(ACount, last);
        last = ACount;
        ++works;
    };
    mailer.OnEndSend = [&](TmMailer &, TWorkMode) { events << QStringLiteral("end"); };
    ASSERT_TRUE(mailer.Send()) << ErrorsText(mailer.ErrorList()).toStdString();

    EXPECT_EQ(events, (QStringList{QStringLiteral("connected"), QStringLiteral("begin"), QStringLiteral("end"),
                                   QStringLiteral("disconnected")}));
    EXPECT_EQ(total, peer->Raw(1).size());
    EXPECT_EQ(last, total);
    EXPECT_GT(works, 1);
    EXPECT_EQ(test::ReadBytes(foreign), QByteArray("someone else's file"));
}

} // namespace
} // namespace vl
