// The mail report of a whole backup run (DoBackupJob on a task file) as the
// SMTP peer receives it.
#include "backup/RunJobFixture.h"
#include "mail/SmtpPeer.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace vl;
using namespace vl::test;

namespace {

// The lines of the first text/plain part without a file name.
QStringList BodyLines(const QJsonObject &AMessage)
{
    for (const QJsonValue v : AMessage[QStringLiteral("parts")].toArray()) {
        const QJsonObject p = v.toObject();
        if (p[QStringLiteral("content_type")].toString() == QStringLiteral("text/plain")
            && p[QStringLiteral("filename")].isNull())
            return QString::fromUtf8(QByteArray::fromBase64(p[QStringLiteral("payload_b64")].toString().toLatin1()))
                .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return {};
}

bool HasLineStarting(const QStringList &ALines, const QString &AStart)
{
    for (const QString &line : ALines)
        if (line.startsWith(AStart))
            return true;
    return false;
}

class RunMailTest : public RunJobTest {};

// A report is sent after every run (mmAlways) or after failed runs only
// (mmError); it carries the entry's status line and the run's status.
TEST_F(RunMailTest, ReportOfTheRunIsSentByItsMode)
{
    VL_START_SMTP(peer, StartSmtpPeer({}));
    WriteTree(Src, SampleTree());
    const struct {
        const char *Label;
        TMailMode Mode;
        bool MissingSource;
        bool Sent;
        const char *Status; // beginning of the run's status line
    } cases[] = {
        {"always, success", TMailMode::mmAlways, false, true, "  Status: OK - Elapsed time: "},
        {"on errors, success", TMailMode::mmError, false, false, nullptr},
        {"on errors, missing source", TMailMode::mmError, true, true, "  Status: 1 error during backup - "},
    };
    int sent = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        Dest = MakeTempDir(QStringLiteral("dest"));
        const QString gone = MakeTempDir(QStringLiteral("gone"));
        const QString task = MakeTask(QStringLiteral("mailed"), [&](TBackupForm &f) {
            f.DestMode = 2;
            if (c.MissingSource)
                AddSource(f, gone);
            f.MailMode = c.Mode;
            f.cbMail.SetChecked(true);
            f.MailData.SMTP = peer->Host;
            f.MailData.Port = peer->Port;
            f.MailData.Username = peer->User;
            f.MailData.Password = peer->Password;
            f.MailData.Sender = QStringLiteral("backup@example.com");
            f.MailData.Recipients = QStringLiteral("admin@example.com");
        });
        QDir(gone).removeRecursively();

        const TRun r = Run(task);
        EXPECT_EQ(r.Exit, c.MissingSource ? 3 : 0) << r.Log.toStdString();
        if (c.Sent)
            ++sent;
        ASSERT_EQ(peer->MessageCount(), sent) << r.Log.toStdString();
        if (!c.Sent)
            continue;
        const QJsonObject m = peer->Message(sent);
        EXPECT_TRUE(Header(m, "Subject").startsWith(QStringLiteral("Velkor: Backup on ")))
            << Header(m, "Subject").toStdString();
        EXPECT_EQ(Rcpts(m), QStringList{QStringLiteral("admin@example.com")});
        const QStringList body = BodyLines(m);
        EXPECT_TRUE(body.contains(QStringLiteral("    => Status: 4 files copied")))
            << body.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(HasLineStarting(body, QString::fromLatin1(c.Status))) << body.join(QLatin1Char('\n')).toStdString();
    }
}

} // namespace
