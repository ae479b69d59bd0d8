// The mail report settings of a task (TMailData) and their stored form,
// the [Mail] section of backup, restore, verify and cleanup task files.
#pragma once

#include "engine/Mailer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vl {

class TUnicodeIniFile;

// When a report is sent, and when the log is attached to it.
enum class TMailMode { mmNone, mmAlways, mmError };
// How the log is attached: as text, zipped, zipped and encrypted.
enum class TZipMode { zmNo, zmYes, zmEncrypt };

// At most this many further attachments are stored.
inline constexpr int kMaxMailAttachments = 10;

struct TMailData {
    QString SMTP;
    QString Username;
    QString Password; // plain in memory
    QString Sender;   // an address, or a display name without "@"
    QString ReplyTo;
    QString Recipients; // joined by ","; "#" first: only on errors, "*": off
    QString Subject;    // empty: the default subject
    // Further attachments, one path each (paths may hold blanks and
    // commas); at most kMaxMailAttachments are stored.
    QStringList Attachments;
    QByteArray CryptKey;
    int Port = 25;
    TSecTransfer SecureMode = TSecTransfer::stNone;
    TMailMode LogMode = TMailMode::mmNone;
    TZipMode ZipMode = TZipMode::zmNo;
    bool operator==(const TMailData &) const = default;
};

void ResetMailData(TMailData &AMailData);
// A missing section gives the defaults.
void LoadMailDataFromIni(const TUnicodeIniFile &AIniFile, const QString &ASection, TMailData &AMailData);
// Erases the section first; the caller saves the file.
void SaveMailDataToIni(TUnicodeIniFile &AIniFile, const QString &ASection, const TMailData &AMailData);
// "STARTTLS", "TLS", "SSL" or "No".
QString SecureModeText(TSecTransfer AMode);

} // namespace vl
