#include "ui/qt/LogicDialog.h"

#include "ui/qt/Binding.h"

#include "ui/qt/MessageDialogs.h"
#include "ui/qt/QtPlacement.h"

#include <QCursor>
#include <QShortcut>

namespace vl {

TLogicDialog::TLogicDialog(TDialogLogic &ALogic, QWidget *AParent) : QDialog(AParent), FLogic(ALogic)
{
    setWindowTitle(FLogic.Form.Caption());
    FLogic.OnCloseModal = [this](TModalResult AResult) { QDialog::done(AResult); };
    FLogic.ScreenRectOf = [this](const TControlState &AControl) {
        const QPointer<QWidget> widget = FWidgets.value(&AControl);
        return widget ? QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()) : QRect();
    };
    FLogic.CursorPos = [] { return QCursor::pos(); };
    auto *hint = new QShortcut(QKeySequence(Qt::Key_F11), this);
    connect(hint, &QShortcut::activated, this, [this] { ShowFocusedControlHint(this); });
}

TLogicDialog::~TLogicDialog()
{
    FLogic.OnCloseModal = nullptr;
    FLogic.ScreenRectOf = nullptr;
    FLogic.CursorPos = nullptr;
}

void TLogicDialog::Run()
{
    adjustSize();
    PlaceFormAt(this, FLogic.Position);
    exec();
}

void TLogicDialog::reject()
{
    FLogic.CloseModal(mrCancel);
}

QPushButton *TLogicDialog::GlyphButton(const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph)
{
    auto *button = new QPushButton(this);
    button->setObjectName(QLatin1String(AName));
    button->setIcon(style()->standardIcon(AGlyph));
    button->setAutoDefault(false);
    BindButton(button, AState);
    Register(button, AState);
    return button;
}

void TLogicDialog::AddOkCancelRow(QBoxLayout *ALayout, TButtonState &AOk, TButtonState &ACancel)
{
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton *ok = GlyphButton("OKBtn", AOk, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    row->addWidget(ok);
    row->addWidget(GlyphButton("CancelBtn", ACancel, QStyle::SP_DialogCancelButton));
    ALayout->addLayout(row);
}

void TLogicDialog::Register(QWidget *AWidget, const TControlState &AControl)
{
    FWidgets.insert(&AControl, AWidget);
}

} // namespace vl
