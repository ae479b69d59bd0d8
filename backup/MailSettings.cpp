#include "backup/MailSettings.h"

#include "core/IniFile.h"
#include "core/PasswordService.h"
#include "core/Translate.h"
#include "engine/PasswordCipher.h"

namespace vl {
namespace {

// An enum stored as its ordinal; anything outside the enum gives ADefault.
template <typename T>
T OrdinalValue(int32_t AValue, T ALast, T ADefault)
{
    return AValue >= 0 && AValue <= int32_t(ALast) ? T(AValue) : ADefault;
}

const QChar kQuote = QLatin1Char('"');

// AText in double quotes with inner quotes doubled, read back as one value:
// true and AInner its content. Earlier versions stored attachments so.
bool UnquoteWhole(const QString &AText, QString &AInner)
{
    const qsizetype n = AText.size();
    if (n < 2 || AText.front() != kQuote || AText.back() != kQuote)
        return false;
    AInner.clear();
    for (qsizetype i = 1; i < n - 1; ++i) {
        if (AText[i] == kQuote) {
            if (i + 1 >= n - 1 || AText[i + 1] != kQuote)
                return false;
            ++i;
        }
        AInner += AText[i];
    }
    return true;
}

QString AttachmentFromStored(const QString &AStored)
{
    QString inner;
    return UnquoteWhole(AStored, inner) ? inner : AStored;
}

// Unquoted, unless the file would lose outer blanks (values are trimmed on
// reading) or the reader would take enclosing quotes away.
QString AttachmentToStored(const QString &APath)
{
    const bool outerBlank = APath.front().unicode() <= 0x20 || APath.back().unicode() <= 0x20;
    const bool enclosed = APath.size() >= 2 && APath.front() == kQuote && APath.back() == kQuote;
    if (!outerBlank && !enclosed)
        return APath;
    QString quoted = APath;
    quoted.replace(kQuote, QStringLiteral("\"\""));
    return kQuote + quoted + kQuote;
}

QString AttachmentKey(int AIndex)
{
    return QStringLiteral("Attachment") + QString::number(AIndex);
}

} // namespace

void ResetMailData(TMailData &AMailData)
{
    AMailData = TMailData();
}

void LoadMailDataFromIni(const TUnicodeIniFile &AIniFile, const QString &ASection, TMailData &AMailData)
{
    const QString &s = ASection;
    AMailData.SMTP = AIniFile.ReadString(s, QStringLiteral("SMTP"), QString());
    AMailData.Port = AIniFile.ReadInteger(s, QStringLiteral("Port"), 25);
    AMailData.Username = AIniFile.ReadString(s, QStringLiteral("Username"), QString());
    AMailData.Password = AnsiToPassword(PasswordFromStoredText(AIniFile.ReadString(s, QStringLiteral("Password"), QString())));
    AMailData.Sender = AIniFile.ReadString(s, QStringLiteral("Sender"), QString());
    AMailData.ReplyTo = AIniFile.ReadString(s, QStringLiteral("ReplyTo"), QString());
    AMailData.Recipients = AIniFile.ReadString(s, QStringLiteral("Recipients"), QString());
    AMailData.Subject = AIniFile.ReadString(s, QStringLiteral("Subject"), QString());
    AMailData.SecureMode = OrdinalValue(AIniFile.ReadInteger(s, QStringLiteral("UseTLS"), 0),
                                        TSecTransfer::stImplicit, TSecTransfer::stNone);
    AMailData.LogMode =
        OrdinalValue(AIniFile.ReadInteger(s, QStringLiteral("AttachLog"), 0), TMailMode::mmError, TMailMode::mmNone);
    AMailData.ZipMode =
        OrdinalValue(AIniFile.ReadInteger(s, QStringLiteral("AsZip"), 0), TZipMode::zmEncrypt, TZipMode::zmNo);
    AMailData.CryptKey = PasswordFromStoredText(AIniFile.ReadString(s, QStringLiteral("Encrypt"), QString()));
    // Files of older versions only have the switch SendLog.
    if (AIniFile.ReadBool(s, QStringLiteral("SendLog"), false) && AMailData.LogMode == TMailMode::mmNone)
        AMailData.LogMode = TMailMode::mmAlways;
    // Encrypting needs a password: without one the log is zipped only.
    if (AMailData.CryptKey.isEmpty() && AMailData.ZipMode == TZipMode::zmEncrypt)
        AMailData.ZipMode = TZipMode::zmYes;
    AMailData.Attachments.clear();
    for (int i = 0; i < kMaxMailAttachments; ++i) {
        const QString path = AttachmentFromStored(AIniFile.ReadString(s, AttachmentKey(i), QString()));
        if (!path.isEmpty())
            AMailData.Attachments.append(path);
    }
}

void SaveMailDataToIni(TUnicodeIniFile &AIniFile, const QString &ASection, const TMailData &AMailData)
{
    const QString &s = ASection;
    AIniFile.EraseSection(s); // also drops the older SendLog
    AIniFile.WriteString(s, QStringLiteral("SMTP"), AMailData.SMTP);
    AIniFile.WriteInteger(s, QStringLiteral("Port"), AMailData.Port);
    AIniFile.WriteString(s, QStringLiteral("Username"), AMailData.Username);
    AIniFile.WriteString(s, QStringLiteral("Password"), StoredPasswordText(PasswordToAnsi(AMailData.Password)));
    AIniFile.WriteString(s, QStringLiteral("Sender"), AMailData.Sender);
    AIniFile.WriteString(s, QStringLiteral("ReplyTo"), AMailData.ReplyTo);
    AIniFile.WriteString(s, QStringLiteral("Recipients"), AMailData.Recipients);
    AIniFile.WriteString(s, QStringLiteral("Subject"), AMailData.Subject);
    AIniFile.WriteInteger(s, QStringLiteral("UseTLS"), int(AMailData.SecureMode));
    AIniFile.WriteInteger(s, QStringLiteral("AttachLog"), int(AMailData.LogMode));
    AIniFile.WriteInteger(s, QStringLiteral("AsZip"), int(AMailData.ZipMode));
    AIniFile.WriteString(s, QStringLiteral("Encrypt"), StoredPasswordText(AMailData.CryptKey));
    int n = 0;
    for (const QString &path : AMailData.Attachments) {
        if (n >= kMaxMailAttachments)
            break;
        if (!path.isEmpty())
            AIniFile.WriteString(s, AttachmentKey(n++), AttachmentToStored(path));
    }
}

QString SecureModeText(TSecTransfer AMode)
{
    switch (AMode) {
    case TSecTransfer::stExplicit:
        return QStringLiteral("STARTTLS");
    case TSecTransfer::stRequired:
        return QStringLiteral("TLS");
    case TSecTransfer::stImplicit:
        return QStringLiteral("SSL");
    default:
        return Tr("No");
    }
}

} // namespace vl
