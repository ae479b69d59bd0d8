#include "ui/qt/NumberEdits.h"

#include "core/MessageService.h"
#include "ui/qt/Binding.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QTimer>

namespace vl {

namespace {

// The edit whose error is being reported, from catching it until its box is
// closed and the focus is back; shared by all number edits: the focus
// returning to one edit leaves another, and that leaving must not report an
// error of its own (two edits with bad entries would otherwise pull the
// focus to and fro for ever).
class TNumEditFilter;
TNumEditFilter *GReporter = nullptr;

// Hands the edit's keys and focus changes to the logic.
class TNumEditFilter : public QObject {
public:
    TNumEditFilter(QLineEdit *AEdit, TCustomNumEdit &AState) : QObject(AEdit), FEdit(AEdit), FState(AState) {}
    ~TNumEditFilter() override
    {
        // Its pending box goes with it.
        if (GReporter == this)
            GReporter = nullptr;
    }

    bool eventFilter(QObject *AWatched, QEvent *AEvent) override
    {
        if (AWatched != FEdit)
            return false;
        switch (AEvent->type()) {
        case QEvent::KeyPress:
            return KeyPress(static_cast<QKeyEvent *>(AEvent));
        case QEvent::KeyRelease: {
            auto *key = static_cast<QKeyEvent *>(AEvent);
            // Only releases of keys pressed here: the key that closed an
            // error box must not ask again.
            if (!key->isAutoRepeat() && key->key() == FPressedKey) {
                FPressedKey = 0;
                Run([this] { FState.KeyUp(); });
            }
            return false;
        }
        case QEvent::FocusOut: {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(AEvent)->reason();
            // Another window or a popup taking the focus is no leaving.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                Run([this] { FState.Exit(); });
            return false;
        }
        default:
            return false;
        }
    }

private:
    bool KeyPress(QKeyEvent *AKey)
    {
        FPressedKey = AKey->key();
        const QString text = AKey->text();
        if (text.size() != 1 || FEdit->isReadOnly())
            return false;
        const bool allSelected = FEdit->hasSelectedText() && FEdit->selectedText().size() == FEdit->text().size();
        // A refused key goes nowhere.
        return !FState.UserKey(text.at(0), allSelected);
    }

    template <class F>
    void Run(F AAction)
    {
        if (GReporter)
            return;
        try {
            AAction();
        } catch (const Exception &e) {
            Report(e.Message());
        }
    }

    // Shown once the event is over: a modal box inside a focus change
    // would run in the middle of it.
    void Report(const QString &AMessage)
    {
        GReporter = this;
        FState.SetErrorPending(true);
        QPointer<QLineEdit> edit(FEdit);
        QTimer::singleShot(0, this, [this, edit, AMessage] {
            FState.SetErrorPending(false);
            // A window closing meanwhile (Cancel) takes the entry with it.
            if (edit && edit->isVisible()) {
                ShowErrorBox(AMessage, 0);
                edit->activateWindow();
                edit->setFocus(Qt::OtherFocusReason);
            }
            GReporter = nullptr;
        });
    }

    QLineEdit *FEdit;
    TCustomNumEdit &FState;
    int FPressedKey = 0;
};

Qt::Alignment ToQtAlignment(TAlignment AValue)
{
    switch (AValue) {
    case TAlignment::taRightJustify:
        return Qt::AlignRight | Qt::AlignVCenter;
    case TAlignment::taCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

} // namespace

void BindNumberEdit(QLineEdit *AEdit, TCustomNumEdit &AState)
{
    if (AEdit->objectName().isEmpty() && !AState.Name.isEmpty())
        AEdit->setObjectName(AState.Name);
    AEdit->setAlignment(ToQtAlignment(AState.Alignment()));
    AEdit->setReadOnly(AState.ReadOnly());
    if (!AState.OnBeep)
        AState.OnBeep = [] { QApplication::beep(); };
    BindEdit(AEdit, AState);
    AEdit->installEventFilter(new TNumEditFilter(AEdit, AState));
}

// ---------------------------------------------------------------------------
// TNumUpDownView

TNumUpDownView::TNumUpDownView(TNumUpDown &AState, QWidget *AParent) : QWidget(AParent), FState(AState)
{
    if (!AState.Name.isEmpty())
        setObjectName(AState.Name);
    setFixedWidth(16);
    setFocusPolicy(AState.TabStop() ? Qt::TabFocus : Qt::NoFocus);
    BindControl(this, AState);
    QPointer<TNumUpDownView> self(this);
    const int id = AState.Subscribe([self](TControlState &, TStateAspect AAspect) {
        if (self && (AAspect == TStateAspect::saChecked || AAspect == TStateAspect::saEnabled))
            self->update();
    });
    TNumUpDown *state = &AState;
    connect(this, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
}

void TNumUpDownView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int half = height() / 2;
    const QRect up(0, 0, width(), half + 1);
    const QRect down(0, half, width(), height() - half);
    const std::pair<QRect, bool> arrows[] = {{up, FState.UpPressed()}, {down, FState.DownPressed()}};
    for (int i = 0; i < 2; ++i) {
        const auto &[rect, pressed] = arrows[i];
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = rect;
        button.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonTool, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = rect.adjusted(3, 2, -3, -2);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow,
                               &painter, this);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void TNumUpDownView::mousePressEvent(QMouseEvent *AEvent)
{
    if (AEvent->button() == Qt::LeftButton)
        FState.MouseDown(AEvent->position().toPoint(), size());
}

void TNumUpDownView::mouseReleaseEvent(QMouseEvent *AEvent)
{
    if (AEvent->button() == Qt::LeftButton)
        FState.MouseUp(AEvent->position().toPoint(), size());
}

void TNumUpDownView::keyPressEvent(QKeyEvent *AEvent)
{
    if (AEvent->text().size() == 1 && FState.UserKey(AEvent->text().at(0)))
        return;
    QWidget::keyPressEvent(AEvent);
}

QWidget *NumEditWithSpin(QWidget *AParent, QLineEdit *AEdit, TNumUpDownView *ASpin)
{
    auto *row = new QWidget(AParent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    AEdit->setParent(row);
    ASpin->setParent(row);
    ASpin->setFixedHeight(AEdit->sizeHint().height());
    layout->addWidget(AEdit, 1);
    QPointer<QHBoxLayout> guard(layout);
    auto place = [guard, ASpin] {
        if (!guard)
            return;
        guard->removeWidget(ASpin);
        guard->insertWidget(ASpin->State().AlignButton() == TUDAlignButton::udLeft ? 0 : 1, ASpin);
    };
    place();
    TNumUpDown *state = &ASpin->State();
    const int id = state->Subscribe([place](TControlState &, TStateAspect AAspect) {
        if (AAspect == TStateAspect::saItems)
            place();
    });
    QObject::connect(row, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
    return row;
}

} // namespace vl
