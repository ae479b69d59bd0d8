// The program's message boxes, the standard message dialog and the text
// window on the screen, and the message service a program with a display
// installs. What they show and answer is decided in ui/MessageDialogs.h.
#pragma once

#include "core/MessageService.h"
#include "ui/MessageDialogs.h"
#include "ui/Placement.h"

#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QMetaObject>
#include <QPoint>
#include <QThread>

#include <memory>
#include <type_traits>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vl {

// ---------------------------------------------------------------------------
// Helpers of every dialog

// Runs AFunc in the GUI thread: dialogs belong there, and a call from
// another thread waits for the answer.
template <typename F>
auto InGuiThread(F AFunc) -> decltype(AFunc())
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return AFunc();
    using R = decltype(AFunc());
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(app, AFunc, Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(app, [&] { result = AFunc(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// F11: the focused control's text hint (the grey text of an empty edit),
// else its tool tip, shown as a transient hint. False when it has none.
bool ShowFocusedControlHint(QWidget *AWindow);
QIcon MsgIconImage(TMsgIcon AIcon);
QIcon MsgGlyphImage(TMsgGlyph AGlyph);

// ---------------------------------------------------------------------------
// Views

// Shows a prepared TShowMsgDialog; the logic must outlive the view.
class TShowMsgDialogView : public QDialog {
    Q_OBJECT
public:
    explicit TShowMsgDialogView(TShowMsgDialog &ALogic, QWidget *AParent = nullptr);
    ~TShowMsgDialogView() override;

    TShowMsgDialog &Logic() { return FLogic; }
    // Runs the box modally; the logic's modal result (mrCancel when the box
    // closed otherwise).
    TModalResult Run(QPoint APos);

    void reject() override;

protected:
    void showEvent(QShowEvent *AEvent) override;
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    void Arrange();

    TShowMsgDialog &FLogic;
    QLabel *FIcon;
    QLabel *FInfo;
    QPushButton *FLeft;
    QPushButton *FCenter;
    QPushButton *FClose;
};

// Shows a prepared TfrmShow; the logic must outlive the view.
class TfrmShowView : public QDialog {
    Q_OBJECT
public:
    explicit TfrmShowView(TfrmShow &ALogic, QWidget *AParent = nullptr);
    ~TfrmShowView() override;

    // Modal until OK, or shown for the logic's wait and closed.
    void Run();

private:
    TfrmShow &FLogic;
    QPlainTextEdit *FMemo;
};

// ---------------------------------------------------------------------------
// The service

class TQtMessageService : public IMessageService {
public:
    TModalResult ShowMessageForm(QPoint APos, const QString &AHint, int32_t Delay, TMsgDialogType DlgType,
                                 TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor) override;
    TModalResult PositionedMessageDlg(const QString &ATitle, const QString &AMsg, TMsgDlgType DlgType,
                                      TMsgDlgButtons Buttons, TMsgDlgBtn DefaultButton, QPoint APos,
                                      int32_t Timeout, TDefaultMonitor DefMonitor) override;
    void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay) override;
};

std::unique_ptr<IMessageService> CreateQtMessageService();

} // namespace vl
