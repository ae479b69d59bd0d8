// The mail report of a run as the SMTP peer receives it.
#include "backup/BackupForm.h"
#include "backup/FtpSettings.h"
#include "backup/MainServices.h"

#include "common/TestUtils.h"
#include "core/DateTime.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "engine/Mailer.h"
#include "engine/ZipRead.h"
#include "mail/SmtpPeer.h"
#include "platform/System.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;
using test::StartSmtpPeer;
using test::TSmtpPeer;
using test::TSmtpPeerOptions;
using test::TSmtpTls;
using test::WriteBytes;

QString U(const char *AUtf8)
{
    return QString::fromUtf8(AUtf8);
}

using test::Header;
using test::Rcpts;

QJsonArray Parts(const QJsonObject &AMessage)
{
    return AMessage[QStringLiteral("parts")].toArray();
}

QByteArray Payload(const QJsonObject &APart)
{
    return QByteArray::fromBase64(APart[QStringLiteral("payload_b64")].toString().toLatin1()).replace("\r\n", "\n");
}

// The first text/plain part without a file name.
QStringList BodyLines(const QJsonObject &AMessage)
{
    for (const QJsonValue v : Parts(AMessage)) {
        const QJsonObject p = v.toObject();
        if (p[QStringLiteral("content_type")].toString() == QStringLiteral("text/plain") &&
            p[QStringLiteral("filename")].isNull())
            return QString::fromUtf8(Payload(p)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return {};
}

QList<QJsonObject> Attachments(const QJsonObject &AMessage)
{
    QList<QJsonObject> list;
    for (const QJsonValue v : Parts(AMessage))
        if (!v.toObject()[QStringLiteral("filename")].isNull())
            list << v.toObject();
    return list;
}

class MailReportTest : public ::testing::Test {
protected:
    void TearDown() override { Form.CloseLogFile(false); }

    // The run log of mode AMode, with the temporary log the mail attaches.
    void OpenLog(int AMode)
    {
        LogName = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
        ASSERT_EQ(Form.OpenLogFile(AMode, LogName, true), 0);
        ASSERT_TRUE(Form.TempProt);
    }
    QString Log()
    {
        Form.FlushLogFile(1);
        return QString::fromUtf8(ReadBytes(LogName)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    static TMailData Aimed(const TSmtpPeer &APeer)
    {
        TMailData d;
        d.SMTP = APeer.Host;
        d.Port = APeer.Port;
        d.Username = APeer.User;
        d.Password = APeer.Password;
        d.Sender = QStringLiteral("backup@example.com");
        d.ReplyTo = QStringLiteral("admin@example.com");
        d.Recipients = QStringLiteral("a@example.com");
        return d;
    }
    void Send(const TMailData &AData, bool AError, TMailMode AMode = TMailMode::mmAlways)
    {
        Form.SendMail(AMode, AData, Start, Start + (3723.0 / 86400.0), QStringLiteral("/tasks/Daily.buj"),
                      QStringLiteral("Backup of Daily"), QStringLiteral("  ==> End"), QStringLiteral("OK"), AError,
                      TInteraction::iaQuiet);
    }

    TBackupForm Form;
    QString LogName;
    const TDateTime Start = EncodeDateTime(2026, 3, 4, 5, 6, 7, 0);
};

TEST_F(MailReportTest, SubjectBodyAndHeaders)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    OpenLog(3);
    Form.MailMode = TMailMode::mmAlways;
    Form.InitMail(TMailMode::mmAlways, Start, QStringLiteral("Backup"), QStringLiteral("Daily task"));
    Form.LogDirectoryHeader(1, QStringLiteral("/data"), QString());
    Form.LogDestination(QStringLiteral("/mnt/backup"));
    TMailData data = Aimed(*peer);
    data.Sender = QStringLiteral("Backup Robot"); // a display name: the address is the reply-to one
    data.Subject = QStringLiteral("%TaskName% %STATUS% | %start% - %end% (%duration%) %computername%/%computer% "
                                  "%username%");
    Send(data, true);

    ASSERT_EQ(peer->MessageCount(), 1) << Log().toStdString();
    const QJsonObject m = peer->Message(1);
    const QString computer = LocalComputerName();
    EXPECT_EQ(Header(m, "Subject"), QStringLiteral("Daily OK | 2026-03-04 05:06 - 2026-03-04 06:08 (1:02:03) ") +
                                        computer + QLatin1Char('/') + computer + QLatin1Char(' ') + LogonUserName());
    EXPECT_EQ(Header(m, "From"), QStringLiteral("Backup Robot <admin@example.com>"));
    EXPECT_EQ(Header(m, "Sender"), QStringLiteral("admin@example.com"));
    EXPECT_EQ(Header(m, "Reply-To"), QStringLiteral("admin@example.com"));
    EXPECT_EQ(Header(m, "X-Priority"), QStringLiteral("2 (High)"));
    EXPECT_EQ(Header(m, "User-Agent"), TitleWithVersion(3).trimmed()); // header values lose leading blanks
    EXPECT_EQ(m[QStringLiteral("helo")].toString(), QStringLiteral("Velkor"));
    EXPECT_EQ(m[QStringLiteral("login")].toString(), peer->User);
    EXPECT_EQ(Rcpts(m), QStringList{QStringLiteral("a@example.com")});

    const QStringList body = BodyLines(m);
    ASSERT_EQ(body.size(), 5) << body.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(body[0].startsWith(QStringLiteral("Velkor - "))) << body[0].toStdString();
    EXPECT_TRUE(body[0].endsWith(QStringLiteral(") - Backup"))) << body[0].toStdString();
    EXPECT_TRUE(body[1].startsWith(QStringLiteral("  ==> Start: "))) << body[1].toStdString();
    EXPECT_TRUE(body[1].endsWith(QStringLiteral(" - Daily task"))) << body[1].toStdString();
    EXPECT_EQ(body.mid(2), (QStringList{QStringLiteral("  Source: /data"), QStringLiteral("  Dest.: /mnt/backup"),
                                        QStringLiteral("  ==> End")}));
    // LogMode none: no attachment.
    EXPECT_TRUE(Attachments(m).isEmpty());

    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("Preparing mail delivery (Mode: 5 - SMTP: 127.0.0.1:%1 - Security: No)\n")
                                 .arg(peer->Port)))
        << log.toStdString();
    // After the destination line verbose lines carry their time.
    EXPECT_TRUE(log.contains(QStringLiteral(": ==> Mail notifications were sent to: a@example.com\n")))
        << log.toStdString();
}

TEST_F(MailReportTest, LogAttachedAsTextZipOrEncryptedZip)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    VlSettings.LogSettings.MailLogPrefix = QStringLiteral("VL");
    const QString extra = MakeTempDir(QStringLiteral("extra")) + QStringLiteral("/notes, 2.txt");
    WriteBytes(extra, "notes\n");
    const struct {
        const char *Label;
        TMailMode LogMode;
        TZipMode ZipMode;
        bool Error;
        QByteArray Key;
        const char *Attached; // "", "text" or "zip"
    } cases[] = {
        {"plain", TMailMode::mmAlways, TZipMode::zmNo, false, QByteArray(), "text"},
        {"zipped", TMailMode::mmAlways, TZipMode::zmYes, false, QByteArray(), "zip"},
        {"encrypted", TMailMode::mmError, TZipMode::zmEncrypt, true, QByteArrayLiteral("s3cret"), "zip"},
        {"log only on errors", TMailMode::mmError, TZipMode::zmYes, false, QByteArray(), ""},
    };
    const QString marker = U("  a log line \xc3\xbc");
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        TBackupForm form;
        const QString logName = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
        ASSERT_EQ(form.OpenLogFile(1, logName, true), 0);
        form.WriteToLog(1, marker);
        const QString tempLog = form.TempLogName;
        ASSERT_FALSE(tempLog.isEmpty());
        const QString zipName = ReplaceExtension(tempLog, QStringLiteral("zip"));
        TMailData data = Aimed(*peer);
        data.LogMode = c.LogMode;
        data.ZipMode = c.ZipMode;
        data.CryptKey = c.Key;
        data.Attachments = QStringList{extra, QStringLiteral("/velkor-missing/file.txt")};
        form.SendMail(TMailMode::mmAlways, data, Start, Start, QStringLiteral("/tasks/Daily.buj"), QString(),
                      QString(), QString(), c.Error, TInteraction::iaQuiet);
        form.FlushLogFile(1);
        ASSERT_EQ(peer->MessageCount(), ++n) << ReadBytes(logName).constData();
        EXPECT_FALSE(QFile::exists(zipName)) << "the zipped log is removed after sending";

        const QList<QJsonObject> att = Attachments(peer->Message(n));
        const int logParts = QByteArray(c.Attached).isEmpty() ? 0 : 1;
        // The further attachment that exists, after the log.
        ASSERT_EQ(att.size(), logParts + 1);
        EXPECT_EQ(att.last()[QStringLiteral("filename")].toString(), QStringLiteral("notes, 2.txt"));
        EXPECT_EQ(Payload(att.last()), QByteArray("notes\n"));
        if (QByteArray(c.Attached) == "text") {
            EXPECT_EQ(att[0][QStringLiteral("content_type")].toString(), QStringLiteral("text/plain"));
            EXPECT_EQ(att[0][QStringLiteral("charset")].toString(), QStringLiteral("utf-8"));
            EXPECT_EQ(att[0][QStringLiteral("filename")].toString(), LastPathElement(tempLog));
            EXPECT_TRUE(QString::fromUtf8(Payload(att[0])).contains(marker + QLatin1Char('\n')));
        } else if (QByteArray(c.Attached) == "zip") {
            EXPECT_EQ(att[0][QStringLiteral("content_type")].toString(), QStringLiteral("application/zip"));
            EXPECT_EQ(att[0][QStringLiteral("filename")].toString(), LastPathElement(zipName));
            const QString dir = MakeTempDir(QStringLiteral("zip"));
            const QString received = dir + QStringLiteral("/received.zip");
            WriteBytes(received, QByteArray::fromBase64(att[0][QStringLiteral("payload_b64")].toString().toLatin1()));
            TZipRead reader(received, c.Key, 0, 0);
            reader.ReadDirectory();
            ASSERT_EQ(reader.Count(), 1);
            EXPECT_EQ(reader.Filename(0), LastPathElement(tempLog));
            EXPECT_EQ(reader.IsEncrypted(0), !c.Key.isEmpty());
            reader.ExtractToFile(0, dir + QStringLiteral("/log.txt"), false);
            EXPECT_TRUE(QString::fromUtf8(ReadBytes(dir + QStringLiteral("/log.txt"))).contains(marker));
        }
        form.CloseLogFile(false);
    }
}

TEST_F(MailReportTest, RecipientsByRunOutcome)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    const QString noRecipients =
        QStringLiteral("  *** No recipients specified to receive a mail after backup without errors");
    const struct {
        const char *Label;
        TMailMode Mode;
        QString Recipients;
        bool Error;
        QStringList Rcpts; // empty: nothing sent
        bool NoRecipientLine;
    } cases[] = {
        {"without errors", TMailMode::mmAlways, QStringLiteral("a@example.com, #b@example.com,*c@example.com"), false,
         {QStringLiteral("a@example.com")}, false},
        {"with errors", TMailMode::mmAlways, QStringLiteral("a@example.com, #b@example.com,*c@example.com"), true,
         {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}, false},
        {"all only on errors", TMailMode::mmAlways, QStringLiteral("#b@example.com,,*c@example.com"), false, {}, true},
        {"user name", TMailMode::mmAlways, QStringLiteral("%UserName%@example.com"), false,
         {LogonUserName() + QStringLiteral("@example.com")}, false},
        {"report only on errors", TMailMode::mmError, QStringLiteral("a@example.com"), false, {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        TBackupForm form;
        const QString logName = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
        ASSERT_EQ(form.OpenLogFile(1, logName, true), 0);
        const int before = peer->MessageCount();
        TMailData data = Aimed(*peer);
        data.Recipients = c.Recipients;
        form.SendMail(c.Mode, data, Start, Start, QStringLiteral("/tasks/Daily.buj"), QStringLiteral("Backup of Daily"),
                      QString(), QString(), c.Error, TInteraction::iaQuiet);
        // The temporary log is closed whether or not a report goes out.
        EXPECT_FALSE(form.TempProt);
        form.FlushLogFile(1);
        const QString log = QString::fromUtf8(ReadBytes(logName)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        EXPECT_EQ(log.contains(noRecipients), c.NoRecipientLine) << log.toStdString();
        ASSERT_EQ(peer->MessageCount(), before + (c.Rcpts.isEmpty() ? 0 : 1));
        if (!c.Rcpts.isEmpty()) {
            const QJsonObject m = peer->Message(before + 1);
            EXPECT_EQ(Rcpts(m), c.Rcpts);
            // No subject configured: the default one with the start time.
            EXPECT_TRUE(Header(m, "Subject").startsWith(QStringLiteral("Velkor: Backup of Daily 2026")))
                << Header(m, "Subject").toStdString();
        }
        form.CloseLogFile(false);
    }
}

TEST_F(MailReportTest, FailedDeliveryIsLogged)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    OpenLog(3);
    TMailData data = Aimed(*peer);
    data.Recipients = QStringLiteral("a@example.com,") + peer->Rejected;
    Send(data, false);
    // The accepted recipient still gets the report.
    ASSERT_EQ(peer->MessageCount(), 1);
    EXPECT_EQ(Rcpts(peer->Message(1)), QStringList{QStringLiteral("a@example.com")});

    TMailData unreachable = Aimed(*peer);
    unreachable.Port = 1;
    Send(unreachable, false);
    EXPECT_EQ(peer->MessageCount(), 1);

    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** Error during mail delivery (SMTP: 127.0.0.1:%1)\n"
                                            "      - Could not deliver mail to %2!\n")
                                 .arg(peer->Port)
                                 .arg(peer->Rejected)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** Error during mail delivery (SMTP: 127.0.0.1:1)\n      - ")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Mail notifications were sent"))) << log.toStdString();
}

// The program's mail sender takes the client certificate files from the
// program folder when they are there.
TEST_F(MailReportTest, TlsWithTheShippedCertificateFiles)
{
    TSmtpPeerOptions options;
    options.Tls = TSmtpTls::StartTls;
    VL_START_SMTP(peer, StartSmtpPeer(options));
    const test::TSmtpCerts &certs = test::SmtpCerts();
    const QString saved = ProgramPath;
    ProgramPath = MakeTempDir(QStringLiteral("prog")) + QLatin1Char('/');
    ASSERT_TRUE(QFile::copy(certs.Dir + QStringLiteral("/root.pem"), ProgramPath + QStringLiteral("velkorroot.pem")));
    ASSERT_TRUE(QFile::copy(certs.Dir + QStringLiteral("/client.crt"), ProgramPath + QStringLiteral("velkor.crt")));
    // The key again, under the pass phrase built into the program.
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("pkey"), QStringLiteral("-in"), certs.Dir + QStringLiteral("/client.key"),
                   QStringLiteral("-passin"), QStringLiteral("pass:") + certs.KeyPassword, QStringLiteral("-aes256"),
                   QStringLiteral("-passout"), QStringLiteral("pass:") + QString::fromLatin1(kClientKeyPassword),
                   QStringLiteral("-out"), ProgramPath + QStringLiteral("velkor.key")});
    ASSERT_TRUE(openssl.waitForFinished(30000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().constData();

    TNullBuMainForm withCerts;
    SetBuMainForm(&withCerts);
    OpenLog(1);
    TMailData data = Aimed(*peer);
    data.SecureMode = TSecTransfer::stRequired;
    Send(data, false);
    SetBuMainForm(nullptr);
    ProgramPath = saved;
    ASSERT_EQ(peer->MessageCount(), 1) << Log().toStdString();
    EXPECT_TRUE(peer->Message(1)[QStringLiteral("tls")].toBool());

    // Without the files the sender has no TLS.
    TNullBuMainForm withoutCerts;
    EXPECT_FALSE(withoutCerts.Mailer().TLSAvail());
}

} // namespace
} // namespace vl
