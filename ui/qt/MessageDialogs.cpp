#include "ui/qt/MessageDialogs.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/QtStyles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <map>

namespace vl {

namespace {

QWidget *MainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QMainWindow *>(w))
            return w;
    return nullptr;
}

// The window a dialog for AMonitor relates to; nullptr: the primary screen.
QWidget *AnchorWindow(const QWidget *AForm, TDefaultMonitor AMonitor)
{
    QWidget *anchor = nullptr;
    switch (AMonitor) {
    case TDefaultMonitor::dmActiveForm:
        anchor = QApplication::activeWindow();
        if (anchor == AForm)
            anchor = nullptr;
        if (!anchor)
            anchor = MainWindow();
        break;
    case TDefaultMonitor::dmMainForm:
        anchor = MainWindow();
        break;
    case TDefaultMonitor::dmDesktop:
    case TDefaultMonitor::dmPrimary:
        break;
    }
    return anchor && anchor->isVisible() ? anchor : nullptr;
}

// Centred on the screen of the window AMonitor names, else the primary one.
void CentreOnScreen(QWidget *AForm, TDefaultMonitor AMonitor)
{
    QWidget *anchor = AnchorWindow(AForm, AMonitor);
    QRect area;
    if (anchor && anchor->screen())
        area = anchor->screen()->availableGeometry();
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (!area.isValid())
        return;
    const QSize size = AForm->frameGeometry().size();
    const QPoint topLeft(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
    AForm->move(KeepFormInWorkArea(CurrentMonitors(), QRect(topLeft, size)));
}

QMessageBox::Icon BoxIcon(TMsgDlgType AType)
{
    switch (AType) {
    case TMsgDlgType::mtWarning:
        return QMessageBox::Warning;
    case TMsgDlgType::mtError:
        return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
        return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
        return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole BoxRole(TMsgDlgBtn AButton)
{
    using B = TMsgDlgBtn;
    switch (AButton) {
    case B::mbYes:
    case B::mbYesToAll:
    case B::mbAll:
        return QMessageBox::YesRole;
    case B::mbNo:
    case B::mbNoToAll:
        return QMessageBox::NoRole;
    case B::mbOK:
    case B::mbRetry:
    case B::mbIgnore:
        return QMessageBox::AcceptRole;
    case B::mbHelp:
        return QMessageBox::HelpRole;
    case B::mbCancel:
    case B::mbAbort:
    case B::mbClose:
        break;
    }
    return QMessageBox::RejectRole;
}

// The standard dialog, placed once it knows its size.
class TPositionedMessageBox : public QMessageBox {
public:
    TPositionedMessageBox(QPoint APos, TDefaultMonitor AMonitor) : FPos(APos), FMonitor(AMonitor) {}

protected:
    void showEvent(QShowEvent *AEvent) override
    {
        QMessageBox::showEvent(AEvent);
        if (std::optional<QPoint> pos = PositionedDialogPos(CurrentMonitors(), frameGeometry().size(), FPos))
            move(*pos);
        else
            CentreOnScreen(this, FMonitor);
    }

private:
    QPoint FPos;
    TDefaultMonitor FMonitor;
};

// Waits in the event loop until the count-down runs out or AStop fires.
template <typename Sender, typename Signal>
void WaitCountDown(TCountDown ACountDown, const Sender *AStopSender, Signal AStop)
{
    if (ACountDown.Expired())
        return;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(TCountDown::kPassMs);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (ACountDown.Tick())
            loop.quit();
    });
    QObject::connect(AStopSender, AStop, &loop, &QEventLoop::quit);
    tick.start();
    loop.exec();
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers

bool ShowFocusedControlHint(QWidget *AWindow)
{
    QWidget *focused = AWindow ? AWindow->focusWidget() : QApplication::focusWidget();
    if (!focused)
        return false;
    QString hint;
    if (auto *edit = qobject_cast<QLineEdit *>(focused))
        hint = edit->placeholderText();
    if (hint.isEmpty())
        hint = focused->toolTip();
    if (hint.isEmpty())
        return false;
    ShowMessageBox(hint, TMsgDialogType::mdtCustom);
    return true;
}

QIcon MsgIconImage(TMsgIcon AIcon)
{
    QStyle *style = QApplication::style();
    switch (AIcon) {
    case TMsgIcon::miWarning:
        return style->standardIcon(QStyle::SP_MessageBoxWarning);
    case TMsgIcon::miError:
        return style->standardIcon(QStyle::SP_MessageBoxCritical);
    case TMsgIcon::miInformation:
        return style->standardIcon(QStyle::SP_MessageBoxInformation);
    case TMsgIcon::miQuestion:
        return style->standardIcon(QStyle::SP_MessageBoxQuestion);
    case TMsgIcon::miNone:
        break;
    }
    return QIcon();
}

QIcon MsgGlyphImage(TMsgGlyph AGlyph)
{
    QStyle *style = QApplication::style();
    switch (AGlyph) {
    case TMsgGlyph::mgClose:
        return style->standardIcon(QStyle::SP_DialogCloseButton);
    case TMsgGlyph::mgCancel:
        return style->standardIcon(QStyle::SP_DialogCancelButton);
    case TMsgGlyph::mgYes:
        return style->standardIcon(QStyle::SP_DialogYesButton);
    case TMsgGlyph::mgNo:
        return style->standardIcon(QStyle::SP_DialogNoButton);
    case TMsgGlyph::mgRetry:
        return style->standardIcon(QStyle::SP_BrowserReload);
    case TMsgGlyph::mgNone:
        break;
    }
    return QIcon();
}

// ---------------------------------------------------------------------------
// TShowMsgDialogView

TShowMsgDialogView::TShowMsgDialogView(TShowMsgDialog &ALogic, QWidget *AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FLogic(ALogic), FIcon(new QLabel(this)), FInfo(new QLabel(this)), FLeft(new QPushButton(this)),
      FCenter(new QPushButton(this)), FClose(new QPushButton(this))
{
    setObjectName(QStringLiteral("ShowMsgDialog"));
    FIcon->setObjectName(QStringLiteral("imgIcon"));
    FInfo->setObjectName(QStringLiteral("stInfo"));
    FLeft->setObjectName(QStringLiteral("btLeft"));
    FCenter->setObjectName(QStringLiteral("btCenter"));
    FClose->setObjectName(QStringLiteral("btClose"));
    // The text is a tab stop, so screen readers and keyboard users reach it.
    FInfo->setFocusPolicy(Qt::StrongFocus);
    FInfo->setTextFormat(Qt::PlainText);
    FInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    setWindowTitle(FLogic.Caption());
    BindControl(FIcon, FLogic.imgIcon);
    FIcon->setPixmap(MsgIconImage(FLogic.Icon()).pixmap(TShowMsgDialog::kIconSize, TShowMsgDialog::kIconSize));
    BindLabel(FInfo, FLogic.stInfo);
    const std::pair<QPushButton *, TMsgButtonState *> buttons[] = {
        {FLeft, &FLogic.btLeft}, {FCenter, &FLogic.btCenter}, {FClose, &FLogic.btClose}};
    for (const auto &[widget, state] : buttons) {
        BindButton(widget, *state);
        widget->setIcon(MsgGlyphImage(state->Glyph));
        widget->setAutoDefault(false);
        widget->setDefault(state->Default);
    }
    FLogic.OnModalResult = [this](TModalResult AResult) { done(AResult); };
    for (QWidget *w : std::initializer_list<QWidget *>{this, FInfo, FLeft, FCenter, FClose})
        w->installEventFilter(this);
    Arrange();
}

TShowMsgDialogView::~TShowMsgDialogView()
{
    FLogic.OnModalResult = nullptr;
    FLogic.Closed();
}

void TShowMsgDialogView::Arrange()
{
    const QFontMetrics metrics(FInfo->font());
    const TMsgBoxLayout layout = FLogic.Layout(
        [&metrics](const QString &s) { return metrics.horizontalAdvance(s); }, metrics.height());
    setFixedSize(layout.Client);
    FInfo->setGeometry(layout.Text);
    FIcon->setGeometry(layout.Margin / 2 + 2, TShowMsgDialog::kTextTop, TShowMsgDialog::kIconSize,
                       TShowMsgDialog::kIconSize);
    // Buttons anchored to the bottom right, right to left.
    const int top = layout.Client.height() - layout.Margin - TShowMsgDialog::kButtonHeight;
    int right = layout.Client.width() - layout.Margin;
    const std::pair<QPushButton *, int> buttons[] = {{FClose, TShowMsgDialog::kCloseButtonWidth},
                                                     {FCenter, TShowMsgDialog::kButtonWidth},
                                                     {FLeft, TShowMsgDialog::kButtonWidth}};
    for (const auto &[button, width] : buttons) {
        button->setGeometry(right - width, top, width, TShowMsgDialog::kButtonHeight);
        if (!button->isHidden())
            right -= width + layout.Margin / 2;
    }
}

TModalResult TShowMsgDialogView::Run(QPoint APos)
{
    PlaceFormAt(this, APos);
    exec();
    FLogic.Closed();
    return FLogic.ModalResult() != mrNone ? FLogic.ModalResult() : mrCancel;
}

void TShowMsgDialogView::reject()
{
    // Closing by the window frame or a key Qt handles itself.
    FLogic.UserClose();
    if (isVisible())
        done(FLogic.ModalResult());
}

void TShowMsgDialogView::showEvent(QShowEvent *AEvent)
{
    QDialog::showEvent(AEvent);
    FInfo->setFocus();
    FLogic.Shown();
}

bool TShowMsgDialogView::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    // Every key reaches the box before its controls.
    if (AEvent->type() == QEvent::KeyPress && FLogic.KeyDown(static_cast<QKeyEvent *>(AEvent)->key()))
        return true;
    return QDialog::eventFilter(AWatched, AEvent);
}

// ---------------------------------------------------------------------------
// TfrmShowView

TfrmShowView::TfrmShowView(TfrmShow &ALogic, QWidget *AParent)
    : QDialog(AParent), FLogic(ALogic), FMemo(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("frmShow"));
    setWindowTitle(FLogic.Caption());
    resize(496, 283);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    FMemo->setObjectName(QStringLiteral("memShow"));
    FMemo->setReadOnly(true);
    FMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setFocusPolicy(Qt::ClickFocus);
    FMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FMemo->setPlainText(FLogic.memShow.Caption());
    layout->addWidget(FMemo, 1);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("panButtons"));
    panel->setFixedHeight(41);
    auto *row = new QHBoxLayout(panel);
    auto *ok = new QPushButton(panel);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    row->addStretch(1);
    row->addWidget(ok);
    row->addStretch(1);
    layout->addWidget(panel);
    BindControl(panel, FLogic.panButtons);
    BindButton(ok, FLogic.btnOK);
    FLogic.btnOK.OnClick = [this](TControlState &) { done(mrOk); };
}

TfrmShowView::~TfrmShowView()
{
    FLogic.btnOK.OnClick = nullptr;
}

void TfrmShowView::Run()
{
    CentreOnScreen(this, TDefaultMonitor::dmPrimary);
    if (FLogic.Modal()) {
        exec();
        return;
    }
    show();
    repaint();
    // Closing the window ends the wait early.
    WaitCountDown(FLogic.Wait(), this, &QDialog::finished);
    close();
}

// ---------------------------------------------------------------------------
// TQtMessageService

TModalResult TQtMessageService::ShowMessageForm(QPoint APos, const QString &AHint, int32_t Delay,
                                                TMsgDialogType DlgType, TMsgDlgBtn DefaultButton,
                                                TDefaultMonitor)
{
    // A centred box centres on the active window, else the primary screen,
    // whatever monitor the caller names.
    return InGuiThread([&]() -> TModalResult {
        // Each call has its own box, so a box opened from a timer while
        // another one waits stands beside it.
        TShowMsgDialog logic;
        if (!logic.Prepare(AHint, Delay, DlgType, DefaultButton))
            return mrNone;
        TShowMsgDialogView view(logic);
        return view.Run(APos);
    });
}

TModalResult TQtMessageService::PositionedMessageDlg(const QString &ATitle, const QString &AMsg,
                                                     TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                                                     TMsgDlgBtn DefaultButton, QPoint APos, int32_t Timeout,
                                                     TDefaultMonitor DefMonitor)
{
    return InGuiThread([&]() -> TModalResult {
        TPositionedMessageBox box(APos, DefMonitor);
        box.setObjectName(QStringLiteral("PositionedMessageDlg"));
        box.setIcon(BoxIcon(DlgType));
        box.setTextFormat(Qt::PlainText);
        box.setText(ToLfLines(AMsg));
        box.setWindowTitle(ATitle.isEmpty() ? StandardDialogCaption(DlgType, QCoreApplication::applicationName())
                                            : ATitle);
        box.setWindowFlag(Qt::WindowStaysOnTopHint);

        std::map<QAbstractButton *, TModalResult> results;
        std::map<TMsgDlgBtn, QPushButton *> added;
        for (int i = 0; i <= int(TMsgDlgBtn::mbClose); ++i) {
            const auto button = TMsgDlgBtn(i);
            if (!HasButton(Buttons, button))
                continue;
            QPushButton *widget = box.addButton(ButtonCaption(button), BoxRole(button));
            results[widget] = ButtonModalResult(button);
            added[button] = widget;
            if (button == DefaultButton)
                box.setDefaultButton(widget);
        }
        // Escape answers as the quiet answer does.
        for (TMsgDlgBtn button : {TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbClose,
                                  TMsgDlgBtn::mbOK}) {
            if (added.count(button)) {
                box.setEscapeButton(added[button]);
                break;
            }
        }
        // The dialog is wide enough for its title.
        const QFontMetrics metrics(box.font());
        const int width =
            PositionedDialogWidth(0, ATitle, [&](const QString &s) { return metrics.horizontalAdvance(s); });
        if (auto *grid = qobject_cast<QGridLayout *>(box.layout()); grid && width > 0)
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
                          1, grid->columnCount());

        const auto clicked = [&]() -> TModalResult {
            auto it = results.find(box.clickedButton());
            return it != results.end() ? it->second : mrNone;
        };
        if (Timeout <= 0) {
            box.exec();
            const TModalResult result = clicked();
            return result != mrNone ? result : mrCancel;
        }
        // A timed dialog lets the other windows go on working.
        box.setWindowModality(Qt::NonModal);
        box.show();
        WaitCountDown(TCountDown(Timeout), &box, &QDialog::finished);
        const TModalResult result = clicked();
        box.hide();
        return TimedDialogResult(result);
    });
}

void TQtMessageService::ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay)
{
    InGuiThread([&] {
        TfrmShow logic;
        if (!logic.Prepare(ATitle, AText, Delay))
            return;
        TfrmShowView view(logic);
        view.Run();
    });
}

std::unique_ptr<IMessageService> CreateQtMessageService()
{
    return std::make_unique<TQtMessageService>();
}

} // namespace vl
