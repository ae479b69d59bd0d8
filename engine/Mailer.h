// The SMTP mail sender: builds one MIME message (plain text, HTML or
// both, attachments, extra header lines) and sends it over SMTP with
// optional TLS (STARTTLS or implicit) and SASL authentication (LOGIN,
// PLAIN, CRAM-MD5, CRAM-SHA1). Send never raises: every failure lands in
// ErrorList.
//
// Used by the window thread only; Send blocks for the dialogue and keeps
// the thread's messages processed through the work events.
#pragma once

#include "engine/Socket.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

class TmMailer;
class TTlsContext;

enum class TContentType { ctAscii, ctHtml, ctUtf8 };
enum class TSecTransfer { stNone, stExplicit, stRequired, stImplicit };
enum class TSendErrorType { seUnknown, seSmtp, seFailedRecipient, seNoSecure };
enum class TMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };
enum class TWorkMode { wmRead, wmWrite };

struct TSendError {
    TSendErrorType ErrType = TSendErrorType::seUnknown;
    QString ErrMsg;
};
using TSendErrors = QList<TSendError>;

using TMailerNotifyEvent = std::function<void(TmMailer &ASender)>;
using TMailerWorkEvent = std::function<void(TmMailer &ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TMailerWorkBeginEvent = std::function<void(TmMailer &ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TMailerWorkEndEvent = std::function<void(TmMailer &ASender, TWorkMode AWorkMode)>;

// One mailbox: "Name <address>" or a bare address.
struct TEmailAddressItem {
    QString Name;
    QString Address;
    TEmailAddressItem() = default;
    TEmailAddressItem(const QString &AAddress, const QString &AName = QString()) : Name(AName), Address(AAddress) {}
    // Parses "Name <address>", "\"Name\" <address>" or "address".
    void SetText(const QString &AText);
};

class TEmailAddressList : public QList<TEmailAddressItem> {
public:
    void Add(const QString &AAddress, const QString &AName = QString()) { append(TEmailAddressItem(AAddress, AName)); }
    // Replaces the list by the mailboxes of AText, separated by "," or ";"
    // (separators inside quotes or angle brackets do not count).
    void SetEMailAddresses(const QString &AText);
};

class TAttachement {
public:
    explicit TAttachement(TmMailer *AOwner = nullptr) : fOwner(AOwner) {}
    // One attachment per line: a file name, optionally "|" and a content
    // type ("text/plain", or "octet-stream" for application/octet-stream).
    QStringList AttachedFiles;
    void Clear() { AttachedFiles.clear(); }

private:
    TmMailer *fOwner;
};

class TSmtpLogFile;

class TmMailer {
public:
    // No TLS.
    TmMailer();
    // TLS is possible when ARoot, ACert and AKey are all given and exist
    // below APath; APwd is the pass phrase of the key unless OnSSLPassword
    // answers it.
    TmMailer(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
             const QString &APwd);
    ~TmMailer();
    TmMailer(const TmMailer &) = delete;
    TmMailer &operator=(const TmMailer &) = delete;

    QString About() const;

    QStringList Body;
    QStringList HTMLBody;
    TAttachement Attachments{this};
    QString Host;
    int32_t Port = 25;
    QString UserId;
    QString Password;
    QString HeloName = QStringLiteral("Test");
    TMessagePriority Priority = TMessagePriority::mpNormal;
    TEmailAddressItem From;
    TEmailAddressList Recipients;
    TEmailAddressList CCList;
    TEmailAddressList BCCList;
    QString Subject;
    TContentType ContentType = TContentType::ctAscii;
    bool ContinueOnFailedRecipient = false;
    // Time-outs of the connection in ms.
    int32_t ConnectTimeout = 30000;
    int32_t ReadTimeout = 30000;

    TMailerNotifyEvent OnConnected;
    TMailerNotifyEvent OnDisconnected;
    TMailerWorkEvent OnSending;
    TMailerWorkBeginEvent OnBeginSend;
    TMailerWorkEndEvent OnEndSend;
    TGetPassword OnSSLPassword;

    void SetSecureTransfer(TSecTransfer Value);
    TUseTls UseTLS() const { return fUseTLS; }
    bool TLSAvail() const { return fTLSAvail; }
    const TSendErrors &ErrorList() const { return fErrorList; }
    QString Logname() const;
    void SetLogname(const QString &Value);
    void SetWriteLogFile(bool Value);

    void ClearBody() { Body.clear(); }
    void AddToBody(const QString &AText) { Body.append(AText); }
    void ClearExtraHeaders() { fExtraHeaders.clear(); }
    // Sets header AId (name compared without case) to AContents; an empty
    // AContents removes it.
    void AddExtraHeader(const QString &AId, const QString &AContents);

    // Builds the message and writes it to AFilename; false on any failure.
    bool SaveToFile(const QString &AFilename);
    // True when the message went out to every recipient without error.
    bool Send();

private:
    friend class TSmtpSession;

    QByteArray BuildMessage();
    void AddError(TSendErrorType AType, const QString &AText);
    QByteArray SSLPasswordHandler();
    void SmtpFailedRecipient(const QString &AAddress, int32_t ACode, const QString &AText, bool &AContinue);
    void SmtpWorkBegin(TWorkMode AWorkMode, int64_t AMessageSize);
    void SmtpWork(TWorkMode AWorkMode, int64_t AWorkCount);
    void SmtpWorkEnd(TWorkMode AWorkMode);
    void SmtpConnected();
    void SmtpDisconnected();

    QList<QPair<QString, QString>> fExtraHeaders;
    QString fCertPwd;
    QString fRoot, fCert, fKey; // full paths when TLS is possible
    bool fTLSAvail = false;
    TUseTls fUseTLS = TUseTls::utNoTLSSupport;
    TSendErrors fErrorList;
    std::unique_ptr<TSmtpLogFile> fIdLogFile;
};

// Folder of the default protocol log, with a trailing "/".
QString MailerTempPath();

} // namespace vl
