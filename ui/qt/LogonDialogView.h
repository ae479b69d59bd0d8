// Qt view of the logon dialog.
#pragma once

#include "ui/LogonDialog.h"
#include "ui/qt/LogicDialog.h"

class QComboBox;
class QLineEdit;

namespace vl {

class TLogonDialogView : public TLogicDialog {
public:
    explicit TLogonDialogView(TLogonDialog &ALogic, QWidget *AParent = nullptr);

    QComboBox *NameBox() const { return FName; }
    QLineEdit *PasswordEdit() const { return FPwd; }

protected:
    void showEvent(QShowEvent *AEvent) override;
    void keyPressEvent(QKeyEvent *AEvent) override;
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    TLogonDialog &FLogic;
    QComboBox *FName;
    QLineEdit *FPwd;
};

} // namespace vl
