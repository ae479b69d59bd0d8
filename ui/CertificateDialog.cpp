#include "ui/CertificateDialog.h"

#include "core/FormatSettings.h"
#include "core/MessageService.h"
#include "core/Translate.h"
// Only the plain record of the FTP client's certificate details is used.
#include "engine/FtpUtils.h"

namespace vl {

QStringList CertificateIssuerLines(const QString &AIssuer)
{
    QString s = AIssuer;
    if (s.startsWith(QLatin1Char('/')))
        s.remove(0, 1);
    if (s.isEmpty())
        return {};
    return s.split(QLatin1Char('/'));
}

TCertificateText CertificateText(const TCerticateInfo &ACertInfo, TDateTime ANow)
{
    TCertificateText t;
    t.Server = ACertInfo.Server;
    t.Version = QString::number(ACertInfo.Version);
    t.Serial = QString::number(ACertInfo.SerialNumber);
    t.Issuer = CertificateIssuerLines(ACertInfo.Issuer);
    const TFormatSettings &fs = FormatSettings();
    t.ValidUntil = FormatDateTime(fs.ShortDateFormat + QLatin1Char(' ') + fs.LongTimeFormat, ACertInfo.ValidUntil);
    t.Fingerprint = ACertInfo.Fingerprint;
    t.Expired = ANow > ACertInfo.ValidUntil;
    return t;
}

QString CertificateQuestionText(const TCertificateText &AText)
{
    const QString crlf = QStringLiteral("\r\n");
    QStringList lines;
    lines << Tr("Server") + QStringLiteral(": ") + AText.Server;
    lines << Tr("Version") + QStringLiteral(": ") + AText.Version;
    lines << Tr("Issuer") + QLatin1Char(':');
    for (const QString &l : AText.Issuer)
        lines << QStringLiteral("  ") + l;
    lines << Tr("Serial number") + QStringLiteral(": ") + AText.Serial;
    lines << Tr("Valid until") + QStringLiteral(": ") + AText.ValidUntil;
    if (AText.Expired)
        lines << Tr("This certificate has expired!");
    lines << Tr("MD5 fingerprint") + QStringLiteral(": ") + AText.Fingerprint;
    lines << QString();
    lines << Tr("Please confirm that you trust this certificate");
    return lines.join(crlf);
}

bool ConfirmServerCertificate(const TCerticateInfo &ACertInfo)
{
    const TCertificateText text = CertificateText(ACertInfo, Now());
    return MessageService().PositionedMessageDlg(Tr("Accept server certificate"), CertificateQuestionText(text),
                                                 TMsgDlgType::mtConfirmation,
                                                 MsgDlgButtons({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}),
                                                 TMsgDlgBtn::mbNo, kDefaultPos, 0, TDefaultMonitor::dmActiveForm)
           == mrYes;
}

} // namespace vl
