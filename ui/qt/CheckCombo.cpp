#include "ui/qt/CheckCombo.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtStyles.h"

#include <QAbstractItemView>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QStylePainter>

namespace vl {

namespace {

// Subscribes AShow to the state while AWidget lives.
void Observe(QWidget *AWidget, TControlState &AState, std::function<void(TStateAspect)> AShow)
{
    QPointer<QWidget> widget(AWidget);
    const int id = AState.Subscribe([widget, AShow](TControlState &, TStateAspect AAspect) {
        if (widget)
            AShow(AAspect);
    });
    TControlState *state = &AState;
    QObject::connect(AWidget, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
}

} // namespace

// ---------------------------------------------------------------------------
// TCheckComboBoxView

TCheckComboBoxView::TCheckComboBoxView(TCheckComboBox &AState, QWidget *AParent)
    : QComboBox(AParent), FState(AState), FModel(new QStandardItemModel(this))
{
    setModel(FModel);
    // The default delegate draws the check boxes (the menu-like one does not).
    setItemDelegate(new QStyledItemDelegate(this));
    // view() creates the popup first, so this filter runs before the
    // popup's own, which would close the list on a click.
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);
    FillItems();
    BindControl(this, AState);
    Observe(this, AState, [this](TStateAspect AAspect) {
        switch (AAspect) {
        case TStateAspect::saItems:
            FillItems();
            break;
        case TStateAspect::saChecked:
            ShowChecks();
            break;
        case TStateAspect::saCaption:
            update();
            break;
        default:
            break;
        }
    });
}

void TCheckComboBoxView::FillItems()
{
    const QSignalBlocker block(this);
    FModel->clear();
    for (int i = 0; i < FState.Count(); ++i) {
        auto *item = new QStandardItem(QLatin1Char(' ') + FState.GetLongString(i));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(FState.IsChecked(i) ? Qt::Checked : Qt::Unchecked);
        FModel->appendRow(item);
    }
    // The combo never has a selected item; it shows the checked ones.
    setCurrentIndex(-1);
    update();
}

void TCheckComboBoxView::ShowChecks()
{
    const QSignalBlocker block(this);
    for (int i = 0; i < FModel->rowCount() && i < FState.Count(); ++i)
        FModel->item(i)->setCheckState(FState.IsChecked(i) ? Qt::Checked : Qt::Unchecked);
    update();
}

void TCheckComboBoxView::hidePopup()
{
    QComboBox::hidePopup();
    setCurrentIndex(-1);
    FState.CloseUp();
}

void TCheckComboBoxView::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    painter.fillRect(field, ToQColor(hasFocus() ? FState.ColorFocus : FState.ColorNotFocus, palette()));
    option.currentText = QLatin1Char(' ') + FState.DisplayText();
    option.currentIcon = QIcon();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

bool TCheckComboBoxView::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    if (AWatched == view()->viewport()) {
        if (AEvent->type() == QEvent::MouseButtonPress) {
            auto *mouse = static_cast<QMouseEvent *>(AEvent);
            const QModelIndex index = view()->indexAt(mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && index.isValid())
                FState.UserToggle(index.row());
            return false;
        }
        // The list stays open while items are clicked.
        if (AEvent->type() == QEvent::MouseButtonRelease)
            return true;
    } else if (AWatched == view() && AEvent->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(AEvent);
        if (key->key() == Qt::Key_Space) {
            FState.UserToggle(view()->currentIndex().row());
            return true;
        }
    }
    return QComboBox::eventFilter(AWatched, AEvent);
}

// ---------------------------------------------------------------------------
// TCheckGroupBox

void BindCheckGroupBox(QGroupBox *AGroup, TCheckGroupBox &AState)
{
    AGroup->setCheckable(true);
    AGroup->setTitle(AState.CheckBox.Caption());
    {
        const QSignalBlocker block(AGroup);
        AGroup->setChecked(AState.Checked());
    }
    BindControl(AGroup, AState);
    Observe(AGroup, AState.CheckBox, [AGroup, &AState](TStateAspect AAspect) {
        const QSignalBlocker block(AGroup);
        if (AAspect == TStateAspect::saChecked)
            AGroup->setChecked(AState.Checked());
        else if (AAspect == TStateAspect::saCaption)
            AGroup->setTitle(AState.CheckBox.Caption());
    });
    QObject::connect(AGroup, &QGroupBox::clicked, AGroup, [AGroup, &AState] {
        AState.CheckBox.UserClick();
        // The state decides: a refused click shows in the widget.
        if (AGroup->isChecked() != AState.Checked()) {
            const QSignalBlocker block(AGroup);
            AGroup->setChecked(AState.Checked());
        }
    });
}

} // namespace vl
