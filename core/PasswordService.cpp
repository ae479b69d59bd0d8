#include "core/PasswordService.h"

#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "platform/FileNames.h"

#include <atomic>

namespace vl {

namespace {

std::atomic<IPasswordService *> gService{nullptr};

THeadlessPasswordService &HeadlessService()
{
    static THeadlessPasswordService service;
    return service;
}

QString PasswordCaption(const QString &ATitle)
{
    return ATitle.isEmpty() ? Tr("Password") : ATitle;
}

} // namespace

TModalResult THeadlessPasswordService::AskPassword(QPoint, const QString &Title, const QString &Prompt, bool, bool,
                                                   QString &, int32_t &)
{
    WriteServiceQuestion(PasswordCaption(Title), Prompt, mrCancel);
    return mrCancel;
}

bool THeadlessPasswordService::AskNewPassword(QPoint, const QString &Title, QString &, bool, bool, int32_t)
{
    WriteServiceQuestion(PasswordCaption(Title), Tr("Enter password:"), mrCancel);
    return false;
}

bool THeadlessPasswordService::AskCryptPassword(const QString &Title, const QString &Prompt, QString &, int32_t)
{
    WriteServiceQuestion(PasswordCaption(Title), Prompt, mrCancel);
    return false;
}

bool PasswordsCanBeAsked()
{
    return dynamic_cast<THeadlessPasswordService *>(&PasswordService()) == nullptr;
}

IPasswordService &PasswordService()
{
    IPasswordService *service = gService.load();
    return service ? *service : HeadlessService();
}

void SetPasswordService(IPasswordService *AService)
{
    gService.store(AService);
}

QByteArray PasswordToAnsi(const QString &APassword)
{
    bool fits = true;
    QByteArray bytes = EncodeWindows1252(APassword, &fits);
    return fits ? bytes : APassword.toUtf8();
}

QString AnsiToPassword(const QByteArray &APassword)
{
    // UTF-8 bytes stand for a text that Windows-1252 cannot hold; bytes
    // whose UTF-8 reading would fit that code page were written in it.
    if (IsValidUtf8(APassword)) {
        const QString text = QString::fromUtf8(APassword);
        bool fits = true;
        EncodeWindows1252(text, &fits);
        if (!fits)
            return text;
    }
    return DecodeWindows1252(APassword);
}

TModalResult EnterPasswordEx(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                             QString &Pwd, int32_t &EncMode)
{
    return PasswordService().AskPassword(APos, Title, Prompt, Skip, Enc, Pwd, EncMode);
}

TModalResult EnterAnsiPasswordEx(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool,
                                 QByteArray &Pwd, int32_t &EncMode)
{
    QString text;
    int32_t mode = EncMode;
    const TModalResult result = PasswordService().AskPassword(APos, Title, Prompt, Skip, false, text, mode);
    if (result == mrOk)
        Pwd = PasswordToAnsi(text);
    return result;
}

TModalResult EnterAnsiPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, bool Skip,
                                 QByteArray &Pwd)
{
    int32_t mode = 0;
    return EnterAnsiPasswordEx(APos, Title, Prompt, Skip, false, Pwd, mode);
}

TModalResult EnterAnsiPassword(const QString &Title, const QString &Prompt, bool Skip, QByteArray &Pwd)
{
    return EnterAnsiPasswordAt(kDefaultPos, Title, Prompt, Skip, Pwd);
}

bool QueryPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, QString &Pwd)
{
    int32_t mode = 0;
    return EnterPasswordEx(APos, Title, Prompt, false, false, Pwd, mode) == mrOk;
}

bool QueryAnsiPasswordAt(QPoint APos, const QString &Title, const QString &Prompt, QByteArray &Pwd)
{
    return EnterAnsiPasswordAt(APos, Title, Prompt, false, Pwd) == mrOk;
}

bool EnterNewPasswordAt(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show, int32_t MinLen)
{
    return PasswordService().AskNewPassword(APos, Title, Pwd, Confirm, Show, MinLen);
}

bool EnterNewPassword(const QString &Title, QString &Pwd, bool Confirm, bool Show, int32_t MinLen)
{
    return EnterNewPasswordAt(kDefaultPos, Title, Pwd, Confirm, Show, MinLen);
}

bool EnterNewAnsiPasswordAt(QPoint APos, const QString &Title, QByteArray &Pwd, bool Confirm, bool Show,
                            int32_t MinLen)
{
    QString text = AnsiToPassword(Pwd);
    if (!EnterNewPasswordAt(APos, Title, text, Confirm, Show, MinLen))
        return false;
    Pwd = PasswordToAnsi(text);
    return true;
}

bool EnterNewAnsiPassword(const QString &Title, QByteArray &Pwd, bool Confirm, bool Show, int32_t MinLen)
{
    return EnterNewAnsiPasswordAt(kDefaultPos, Title, Pwd, Confirm, Show, MinLen);
}

bool EnterCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen)
{
    return PasswordService().AskCryptPassword(Title, Prompt, Pwd, MinLen);
}

bool EnterCryptPassword(const QString &Title, const QString &Prompt, QByteArray &Pwd, int32_t MinLen)
{
    QString text;
    if (!EnterCryptPassword(Title, Prompt, text, MinLen))
        return false;
    Pwd = PasswordToAnsi(text);
    return true;
}

bool SpecifyPasswordAt(QPoint APos, const QString &Title, QString &Pwd)
{
    return EnterNewPasswordAt(APos, Title, Pwd, false, false, 8);
}

bool SpecifyAnsiPasswordAt(QPoint APos, const QString &Title, QByteArray &Pwd)
{
    return EnterNewAnsiPasswordAt(APos, Title, Pwd, false, false, 8);
}

} // namespace vl
