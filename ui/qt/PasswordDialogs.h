// The password dialogs on the screen, and the password service a program
// with a display installs. What they check and answer is decided in
// ui/PasswordDialogs.h.
#pragma once

#include "core/PasswordService.h"
#include "ui/PasswordDialogs.h"

#include <QDialog>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vl {

// The quality bar of the new-password dialog.
class TQualityBarView : public QWidget {
    Q_OBJECT
public:
    explicit TQualityBarView(const TNewPwdDialog::TQualityState &AState, QWidget *AParent = nullptr);

protected:
    void paintEvent(QPaintEvent *AEvent) override;

private:
    const TNewPwdDialog::TQualityState &FState;
};

// Shows a prepared TPasswordDialog; the logic must outlive the view.
class TPasswordDialogView : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDialogView(TPasswordDialog &ALogic, QWidget *AParent = nullptr);
    ~TPasswordDialogView() override;

    // Runs the dialog modally: mrOk, mrCancel or mrYes (Skip).
    TModalResult Run(QPoint APos);

    void reject() override;

private:
    void Arrange();

    TPasswordDialog &FLogic;
    QWidget *FTop;
    QLabel *FPrompt;
    QWidget *FInput;
    QWidget *FEncrypt;
    QWidget *FBottom;
    QLineEdit *FPwd;
};

// Shows a prepared TNewPwdDialog; the logic must outlive the view.
class TNewPwdDialogView : public QDialog {
    Q_OBJECT
public:
    explicit TNewPwdDialogView(TNewPwdDialog &ALogic, QWidget *AParent = nullptr);
    ~TNewPwdDialogView() override;

    // Runs the dialog modally: mrOk or mrCancel.
    TModalResult Run(QPoint APos);

    void reject() override;

private:
    void ShowEchoMode();
    void FitHeight();

    TNewPwdDialog &FLogic;
    QWidget *FPwdPanel;
    QWidget *FConfirmPanel;
    QWidget *FBottom;
    QLineEdit *FPwd;
    QLineEdit *FRepPwd;
    QToolButton *FShow;
    TQualityBarView *FBar;
    int FShowObserver = 0;
    int FConfirmObserver = 0;
};

// The encryption password of a run nobody started by hand: entered twice
// under a prompt in bold red; OK closes only when CheckCryptPasswordEntries
// allows it.
class TCryptPwdDialog : public QDialog {
    Q_OBJECT
public:
    explicit TCryptPwdDialog(QWidget *AParent = nullptr);

    // Both entries start empty; true on OK, and only then is Pwd set.
    bool Execute(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen);
    bool Execute(const QString &Title, const QString &Prompt, QByteArray &Pwd, int32_t MinLen);

    void accept() override;

private:
    QLabel *lblPrompt;
    QLineEdit *edtPwd;
    QLineEdit *edtRepPwd;
    int32_t FMinLen = 0;
};

class TQtPasswordService : public IPasswordService {
public:
    TModalResult AskPassword(QPoint APos, const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                             QString &Pwd, int32_t &EncMode) override;
    bool AskNewPassword(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show,
                        int32_t MinLen) override;
    bool AskCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen) override;
};

std::unique_ptr<IPasswordService> CreateQtPasswordService();

} // namespace vl
