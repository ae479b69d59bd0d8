#include "ui/qt/HistoryComboBinding.h"

#include "ui/qt/Binding.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>

namespace vl {

namespace {

// Reports focus changes of the combo box and its edit as one control;
// opening the drop-down list does not count as leaving.
class TFocusWatcher : public QObject {
public:
    TFocusWatcher(QComboBox *ACombo, THistoryCombo &AState) : QObject(ACombo), FState(AState)
    {
        ACombo->installEventFilter(this);
        if (ACombo->lineEdit())
            ACombo->lineEdit()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override
    {
        if (AEvent->type() == QEvent::FocusIn && !FInside) {
            FInside = true;
            FState.Enter();
        } else if (AEvent->type() == QEvent::FocusOut && FInside
                   && static_cast<QFocusEvent *>(AEvent)->reason() != Qt::PopupFocusReason) {
            FInside = false;
            FState.Exit();
        }
        return QObject::eventFilter(AWatched, AEvent);
    }

private:
    THistoryCombo &FState;
    bool FInside = false;
};

void ShowStyle(QComboBox *ACombo, const THistoryCombo &AState)
{
    if (ACombo->lineEdit())
        ACombo->lineEdit()->setReadOnly(AState.ReadOnly());
    // A simple combo box: no drop-down button while there is nothing to
    // drop down.
    ACombo->setStyleSheet(AState.DropDown() ? QString()
                                            : QStringLiteral("QComboBox::drop-down { width: 0px; border: 0px; }"));
}

} // namespace

void BindHistoryCombo(QComboBox *ACombo, THistoryCombo &AState)
{
    BindComboBox(ACombo, AState);
    ShowStyle(ACombo, AState);
    new TFocusWatcher(ACombo, AState);
    QPointer<QComboBox> combo(ACombo);
    const int id = AState.Subscribe([combo, &AState](TControlState &, TStateAspect aspect) {
        if (combo && aspect == TStateAspect::saItems)
            ShowStyle(combo, AState);
    });
    THistoryCombo *state = &AState;
    QObject::connect(ACombo, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
}

} // namespace vl
