#include "ui/qt/LogonDialogView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"

#include <QAccessible>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace vl {

TLogonDialogView::TLogonDialogView(TLogonDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("LogonDialog"));
    auto *main = new QVBoxLayout(this);
    auto *hint = new QLabel(this);
    hint->setObjectName(QStringLiteral("laHinweis"));
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    BindLabel(hint, FLogic.laHinweis);
    main->addWidget(hint);

    auto *form = new QFormLayout;
    auto *nameLabel = new QLabel(this);
    BindLabel(nameLabel, FLogic.Label1);
    FName = new QComboBox(this);
    FName->setObjectName(QStringLiteral("cbName"));
    FName->setMaxVisibleItems(kLogonDropDownCount);
    FName->setInsertPolicy(QComboBox::NoInsert);
    FName->setMinimumWidth(240);
    BindComboBox(FName, FLogic.cbName);
    nameLabel->setBuddy(FName);
    FName->installEventFilter(this);
    if (FName->lineEdit())
        FName->lineEdit()->installEventFilter(this);
    form->addRow(nameLabel, FName);

    auto *pwdLabel = new QLabel(this);
    BindLabel(pwdLabel, FLogic.PwdLabel);
    FPwd = new QLineEdit(this);
    FPwd->setObjectName(QStringLiteral("PwdEdit"));
    FPwd->setEchoMode(QLineEdit::Password);
    BindEdit(FPwd, FLogic.PwdEdit);
    // F11 on the password shows its label when it has no hint of its own.
    if (FLogic.PwdEdit.Hint().isEmpty())
        FPwd->setToolTip(FLogic.PwdLabel.Caption());
    pwdLabel->setBuddy(FPwd);
    form->addRow(pwdLabel, FPwd);
    main->addLayout(form);

    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    const auto button = [this](const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph) {
        auto *b = new QPushButton(this);
        b->setObjectName(QLatin1String(AName));
        b->setIcon(style()->standardIcon(AGlyph));
        b->setAutoDefault(false);
        BindButton(b, AState);
        return b;
    };
    bottom->addWidget(button("SkipBtn", FLogic.SkipBtn, QStyle::SP_MediaSkipForward));
    QPushButton *ok = button("OKBtn", FLogic.OKBtn, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    bottom->addWidget(ok);
    bottom->addWidget(button("CancelBtn", FLogic.CancelBtn, QStyle::SP_DialogCancelButton));
    main->addLayout(bottom);
    SetReadOnlyTabStops(this, QAccessible::isActive());
}

void TLogonDialogView::showEvent(QShowEvent *AEvent)
{
    TLogicDialog::showEvent(AEvent);
    raise();
    activateWindow();
    QWidget *focus = &FLogic.InitialFocus() == &FLogic.PwdEdit ? static_cast<QWidget *>(FPwd) : FName;
    focus->setFocus();
}

void TLogonDialogView::keyPressEvent(QKeyEvent *AEvent)
{
    // Esc is the cancel button's, which is Skip while Skip is shown; the
    // close box stays Cancel.
    if (AEvent->key() == Qt::Key_Escape && AEvent->modifiers() == Qt::NoModifier) {
        FLogic.Escape();
        return;
    }
    TLogicDialog::keyPressEvent(AEvent);
}

bool TLogonDialogView::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    if (AEvent->type() == QEvent::FocusIn && (AWatched == FName || AWatched == FName->lineEdit()))
        FLogic.NameEnter();
    return TLogicDialog::eventFilter(AWatched, AEvent);
}

} // namespace vl
