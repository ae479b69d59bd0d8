#include "mail/SmtpPeer.h"

#include "common/TestUtils.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>

namespace vl::test {

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kOpenssl = QStringLiteral("/usr/bin/openssl");

bool Run(const QString &AProgram, const QStringList &AArgs, QString *AOut)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(AProgram, AArgs);
    const bool ok = p.waitForStarted(15000) && p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
                    p.exitCode() == 0;
    *AOut = QString::fromUtf8(p.readAll()) + p.errorString();
    return ok;
}

TSmtpCerts MakeCerts()
{
    TSmtpCerts c;
    c.Dir = TestRoot() + QStringLiteral("/mail-certs");
    c.ServerCert = c.Dir + QStringLiteral("/root.pem");
    c.ServerKey = c.Dir + QStringLiteral("/server.key");
    QDir().mkpath(c.Dir);
    const QStringList common{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                             QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-days"),
                             QStringLiteral("3650")};
    const QList<QStringList> steps{
        common + QStringList{QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                             QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                             QStringLiteral("-keyout"), c.ServerKey, QStringLiteral("-out"), c.ServerCert},
        common + QStringList{QStringLiteral("-subj"), QStringLiteral("/CN=Velkor Mail Client"),
                             QStringLiteral("-passout"), QStringLiteral("pass:") + c.KeyPassword,
                             QStringLiteral("-keyout"), c.Dir + QStringLiteral("/client.key"),
                             QStringLiteral("-out"), c.Dir + QStringLiteral("/client.crt")},
    };
    QString out;
    for (const QStringList &args : steps)
        if (!Run(kOpenssl, args, &out))
            ADD_FAILURE() << "openssl " << args.join(u' ').toStdString() << ": " << out.toStdString();
    return c;
}

} // namespace

const TSmtpCerts &SmtpCerts()
{
    static const TSmtpCerts certs = MakeCerts();
    return certs;
}

TSmtpPeer::~TSmtpPeer()
{
    if (Process.state() != QProcess::NotRunning) {
        Process.terminate();
        if (!Process.waitForFinished(5000)) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    if (::testing::Test::HasFailure())
        std::fprintf(stderr, "smtp peer output:\n%s\n", Process.readAllStandardError().constData());
}

int TSmtpPeer::MessageCount() const
{
    int n = 0;
    while (QFile::exists(Dir + QStringLiteral("/%1.json").arg(n + 1)))
        ++n;
    return n;
}

QByteArray TSmtpPeer::Raw(int AIndex) const
{
    return ReadBytes(Dir + QStringLiteral("/%1.eml").arg(AIndex));
}

QJsonObject TSmtpPeer::Message(int AIndex) const
{
    return QJsonDocument::fromJson(ReadBytes(Dir + QStringLiteral("/%1.json").arg(AIndex))).object();
}

int TSmtpPeer::Connections() const
{
    QFile f(Dir + QStringLiteral("/connections"));
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
}

std::unique_ptr<TSmtpPeer> StartSmtpPeer(const TSmtpPeerOptions &AOptions)
{
    QString out;
    if (!QFile::exists(kPython) || !Run(kPython, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")}, &out)) {
        [] { GTEST_SKIP() << "/usr/bin/python3 with aiosmtpd is not available"; }();
        return nullptr;
    }
    auto peer = std::make_unique<TSmtpPeer>();
    peer->Dir = MakeTempDir(QStringLiteral("smtp-peer"));
    QStringList args{QStringLiteral(VL_SMTP_PEER_SCRIPT), QStringLiteral("--dir"), peer->Dir,
                     QStringLiteral("--mechs"), AOptions.Mechanisms.join(u','), QStringLiteral("--user"),
                     peer->User, QStringLiteral("--password"), peer->Password, QStringLiteral("--reject"),
                     peer->Rejected};
    if (AOptions.Tls != TSmtpTls::None) {
        const TSmtpCerts &certs = SmtpCerts();
        args << QStringLiteral("--tls")
             << (AOptions.Tls == TSmtpTls::StartTls ? QStringLiteral("starttls") : QStringLiteral("implicit"))
             << QStringLiteral("--cert") << certs.ServerCert << QStringLiteral("--key") << certs.ServerKey;
    }
    peer->Process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    peer->Process.setStandardInputFile(QProcess::nullDevice());
    peer->Process.start(kPython, args);
    QDeadlineTimer deadline(15000);
    QByteArray line;
    while (!deadline.hasExpired() && peer->Process.waitForReadyRead(int(deadline.remainingTime()))) {
        line += peer->Process.readAllStandardOutput();
        if (line.contains('\n'))
            break;
    }
    if (!line.startsWith("PORT ")) {
        ADD_FAILURE() << "the SMTP peer did not start: " << line.constData()
                      << peer->Process.readAllStandardError().constData();
        return nullptr;
    }
    peer->Port = uint16_t(line.mid(5).trimmed().toUInt());
    return peer;
}

} // namespace vl::test
