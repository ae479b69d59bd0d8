// The dialog asking for a user name and a password ("Connect to"), without
// widgets. The user name can offer earlier names kept in an INI section.
#pragma once

#include "core/MessageService.h"
#include "ui/DialogLogic.h"

#include <QString>

#include <functional>

namespace vl {

// Entries of the user-name list, and the length of its history.
inline constexpr int kLogonDropDownCount = 10;

class TLogonDialog : public TDialogLogic {
public:
    TLogonDialog();
    // Writes the user-name history back to the section given to
    // LoadFromIni (erased first); a file that cannot be written goes to the
    // service log.
    ~TLogonDialog() override;

    TControlState laHinweis;   // the hint at the top
    TControlState Label1;      // "User name:"
    TComboBoxState cbName{true};
    TControlState PwdLabel;    // "Password:"
    TEditState PwdEdit;        // shown as "*"
    TButtonState SkipBtn;      // mrIgnore; Esc while shown
    TButtonState OKBtn;        // "Logon", mrOk, the default button
    TButtonState CancelBtn;    // mrCancel

    // Shows the dialog with Titel as caption and Hinweis as hint, User in
    // the user field and an empty password; Skip only with ShowSkip.
    // Returns mrOk (User and Pwd set, the name put first in the history),
    // mrCancel or mrIgnore (Skip); anything else leaves User and Pwd alone.
    TModalResult Execute(const QString &Titel, const QString &Hinweis, bool ShowSkip, QString &User, QString &Pwd);
    // Remembers the INI file and section and fills the user-name history
    // from that section.
    void LoadFromIni(const QString &IniName, const QString &IniSection);

    // The steps of Execute, for the view and for tests.
    void Setup(const QString &Titel, const QString &Hinweis, bool ShowSkip, const QString &User);
    // The control that gets the focus when the window is activated: the
    // password field when a user name is filled in, else the user field.
    TControlState &InitialFocus();
    // The user field gets the focus: the password is cleared.
    void NameEnter();
    // Esc: the dialog's cancel button, Skip while it is shown.
    void Escape();
    // After OK: the entries, and the name first in the history.
    void Finish(QString &User, QString &Pwd);

    // Whether the user field offers a drop-down list (it has entries)
    // rather than being a plain edit field.
    bool NameDropDown() const { return !cbName.Items().isEmpty(); }

private:
    QString FIniName;
    QString FSection;
};

// Creates the dialog, runs Execute and frees it.
TModalResult EnterLogonData(const QString &Titel, const QString &Hinweis, bool ShowSkip, QString &User,
                            QString &Pwd);

} // namespace vl
