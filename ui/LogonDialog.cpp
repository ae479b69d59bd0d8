#include "ui/LogonDialog.h"

#include "core/Exceptions.h"
#include "core/Translate.h"
#include "ui/History.h"
#include "ui/ValueDialogViews.h"

namespace vl {

TLogonDialog::TLogonDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Connect to"));
    Label1.SetCaption(TrDomain(kDialogsDomain, "User name:"));
    cbName.SetHint(TrDomain(kDialogsDomain, "User name"));
    PwdLabel.SetCaption(TrDomain(kDialogsDomain, "Password:"));
    SkipBtn.SetCaption(TrDomain(kDialogsDomain, "&Skip"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "Logon"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    SkipBtn.OnClick = [this](TControlState &) { CloseModal(mrIgnore); };
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

TLogonDialog::~TLogonDialog()
{
    if (FIniName.isEmpty() || FSection.isEmpty())
        return;
    // A destructor cannot pass the failure on; the history is only lost.
    try {
        SaveComboHistory(FIniName, FSection, true, cbName, kLogonDropDownCount, false, kLogonDropDownCount);
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void TLogonDialog::LoadFromIni(const QString &IniName, const QString &IniSection)
{
    FIniName = IniName;
    FSection = IniSection;
    if (!FIniName.isEmpty() && !FSection.isEmpty())
        LoadComboHistory(FIniName, FSection, cbName, kLogonDropDownCount, false, kLogonDropDownCount);
}

void TLogonDialog::Setup(const QString &Titel, const QString &Hinweis, bool ShowSkip, const QString &User)
{
    Form.SetCaption(Titel);
    laHinweis.SetCaption(Hinweis);
    cbName.SetText(User);
    PwdEdit.SetText(QString());
    SkipBtn.SetVisible(ShowSkip);
}

TModalResult TLogonDialog::Execute(const QString &Titel, const QString &Hinweis, bool ShowSkip, QString &User,
                                   QString &Pwd)
{
    Setup(Titel, Hinweis, ShowSkip, User);
    ValueDialogViews().ExecuteLogon(*this);
    if (ModalResult() == mrOk)
        Finish(User, Pwd);
    // A window closed without a button counts as Cancel.
    return ModalResult() == mrNone ? mrCancel : ModalResult();
}

TControlState &TLogonDialog::InitialFocus()
{
    if (cbName.Text().isEmpty())
        return cbName;
    return PwdEdit;
}

void TLogonDialog::NameEnter()
{
    PwdEdit.SetText(QString());
}

void TLogonDialog::Escape()
{
    if (SkipBtn.Visible())
        SkipBtn.Click();
    else
        CancelBtn.Click();
}

void TLogonDialog::Finish(QString &User, QString &Pwd)
{
    User = cbName.Text();
    Pwd = PwdEdit.Text();
    AddComboHistory(cbName, User, kLogonDropDownCount);
}

TModalResult EnterLogonData(const QString &Titel, const QString &Hinweis, bool ShowSkip, QString &User,
                            QString &Pwd)
{
    TLogonDialog dialog;
    return dialog.Execute(Titel, Hinweis, ShowSkip, User, Pwd);
}

} // namespace vl
