// Password questions as a service. A GUI program installs its password
// dialogs at start; without them the headless service answers Cancel (an
// unattended run has nobody to type a password) and writes the question
// to the run's log.
#pragma once

#include "core/MessageService.h"

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <cstdint>

namespace vl {

class IPasswordService {
public:
    virtual ~IPasswordService() = default;

    // Asks for an existing password under Title with the (CR LF separated)
    // Prompt; the entry starts empty. Skip offers a Skip button (mrYes).
    // Enc shows the choice of the AES key length, preset from EncMode (1:
    // 128 bit, 2 or 3: 256 bit, else automatic). Returns mrOk, mrCancel or
    // mrYes. Only on mrOk are Pwd and (with Enc) EncMode set: 0 automatic,
    // 1 128 bit, 3 256 bit.
    virtual TModalResult AskPassword(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                                     QString &Pwd, int32_t &EncMode) = 0;
    // Asks for a new password. Confirm asks for it twice (the two must match
    // and be empty or at least MinLen characters long); Show fills the entry
    // with Pwd and offers to show it in clear. True on OK, and only then is
    // Pwd set.
    virtual bool AskNewPassword(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show,
                                int32_t MinLen) = 0;
    // Asks for an encryption password, entered twice under the (CR LF
    // separated) Prompt; both entries start empty and must match and be
    // empty or at least MinLen characters long. True on OK, and only then
    // is Pwd set.
    virtual bool AskCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen) = 0;
};

// Answers Cancel to every question, leaving the password unchanged, and
// writes the question and the answer through WriteServiceLog.
class THeadlessPasswordService : public IPasswordService {
public:
    TModalResult AskPassword(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                             QString &Pwd, int32_t &EncMode) override;
    bool AskNewPassword(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show,
                        int32_t MinLen) override;
    bool AskCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen) override;
};

// The current service (headless until a program installs another). The
// caller keeps ownership; nullptr restores the headless service.
IPasswordService &PasswordService();
void SetPasswordService(IPasswordService *AService);
// False while the headless service answers (nobody can type a password):
// unattended runs then say why they end.
bool PasswordsCanBeAsked();

// 8-bit passwords: Windows-1252 when the text fits that code page, else
// UTF-8; AnsiToPassword is the exact inverse.
QByteArray PasswordToAnsi(const QString &APassword);
QString AnsiToPassword(const QByteArray &APassword);

// The password questions the program calls (position kDefaultPos unless
// given). The 8-bit forms never show the key-length choice.
TModalResult EnterPasswordEx(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                             QString &Pwd, int32_t &EncMode);
TModalResult EnterAnsiPasswordEx(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                                 QByteArray &Pwd, int32_t &EncMode);
TModalResult EnterAnsiPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, bool Skip,
                                 QByteArray &Pwd);
TModalResult EnterAnsiPassword(const QString &Title, const QString &Prompt, bool Skip, QByteArray &Pwd);
// No Skip; true on OK.
bool QueryPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, QString &Pwd);
bool QueryAnsiPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, QByteArray &Pwd);

// New passwords; true on OK.
bool EnterNewPasswordAt(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show, int32_t MinLen);
bool EnterNewPassword(const QString &Title, QString &Pwd, bool Confirm, bool Show, int32_t MinLen);
bool EnterNewAnsiPasswordAt(QPoint APos, const QString &Title, QByteArray &Pwd, bool Confirm, bool Show,
                            int32_t MinLen);
bool EnterNewAnsiPassword(const QString &Title, QByteArray &Pwd, bool Confirm, bool Show, int32_t MinLen);
// The encryption password of a run nobody watches (AskCryptPassword); true
// on OK.
bool EnterCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen);
bool EnterCryptPassword(const QString &Title, const QString &Prompt, QByteArray &Pwd, int32_t MinLen);
// Entered once, hidden; 8 characters rate as the minimum for the quality.
bool SpecifyPasswordAt(QPoint APos, const QString &Title, QString &Pwd);
bool SpecifyAnsiPasswordAt(QPoint APos, const QString &Title, QByteArray &Pwd);

} // namespace vl
