// The question whether a server certificate is to be trusted ("Accept
// server certificate"): the details as the dialog shows them, and the
// question itself, asked through the message service. Without a display
// the service answers No: an unattended run never trusts a certificate
// nobody has looked at.
#pragma once

#include "core/DateTime.h"

#include <QString>
#include <QStringList>

namespace vl {

struct TCerticateInfo;

// The fields of the dialog, all read-only.
struct TCertificateText {
    QString Server;
    QString Version;     // decimal
    QString Serial;      // decimal
    QStringList Issuer;  // one attribute per line
    QString ValidUntil;  // date and time in the program's format
    QString Fingerprint; // unchanged
    bool Expired = false; // the lamp beside "Valid until" shows red
};

// The issuer's one-line form "/C=XX/O=Org/CN=name" as its attributes
// "C=XX", "O=Org", "CN=name"; a text without the leading "/" is split the
// same way (nothing of it is dropped).
QStringList CertificateIssuerLines(const QString &AIssuer);
// The fields for ACertInfo; expired when ANow is later than ValidUntil.
TCertificateText CertificateText(const TCerticateInfo &ACertInfo, TDateTime ANow);
// The text of the question: the fields as lines (CR LF), a line saying
// that the certificate has expired when it has, and "Please confirm that
// you trust this certificate".
QString CertificateQuestionText(const TCertificateText &AText);

// Asks (Yes/No, caption "Accept server certificate"); true on Yes.
bool ConfirmServerCertificate(const TCerticateInfo &ACertInfo);

} // namespace vl
