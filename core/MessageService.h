// Message boxes, questions and the text window as a service: every layer
// asks through the functions below without knowing whether a display
// exists. A GUI program installs its dialogs at start; without them the
// headless service answers as an unattended run must (the answer of the
// box's closing button: No or Cancel, never Yes or Retry) and writes the
// message and its automatic answer to the run's log.
#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace vl {

// Results of modal dialogs.
using TModalResult = int32_t;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrClose = 8;

// Kinds of the program's message box.
enum class TMsgDialogType : uint8_t {
    mdtInformation,   // Close
    mdtWarning,       // Close
    mdtError,         // Close
    mdtConfirm,       // Yes (mrYes), No (mrNo)
    mdtConfirmError,  // Yes (mrOk), Cancel
    mdtConfirmRetry,  // Retry, Cancel
    mdtConfirmCancel, // Yes, Cancel
    mdtConfirmYesNo,  // Yes, No, Cancel
    mdtCustom,        // transient hint: no icon, no buttons, closes by itself
};

// Kinds of the standard message dialog.
enum class TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Dialog buttons; a set of them is a bit mask (bit i = member i).
enum class TMsgDlgBtn : uint8_t {
    mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp, mbClose,
};
using TMsgDlgButtons = uint32_t;
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> AButtons)
{
    TMsgDlgButtons set = 0;
    for (TMsgDlgBtn b : AButtons)
        set |= TMsgDlgButtons(1) << unsigned(b);
    return set;
}
constexpr bool HasButton(TMsgDlgButtons ASet, TMsgDlgBtn AButton)
{
    return (ASet >> unsigned(AButton)) & 1;
}

// The monitor a dialog opens on.
enum class TDefaultMonitor : uint8_t { dmDesktop, dmPrimary, dmMainForm, dmActiveForm };

// Position of a dialog on the screen; a negative coordinate centres it on
// the main window (the standard dialog: on the screen).
inline constexpr QPoint kDefaultPos{-1, -1};

class IMessageService {
public:
    virtual ~IMessageService() = default;

    // The program's message box: AHint (CR LF separated lines) with the
    // icon and buttons of DlgType, DefaultButton marking the default button.
    // Delay > 0 closes the box after Delay seconds with mrCancel. An empty
    // AHint shows nothing and gives mrNone.
    virtual TModalResult ShowMessageForm(QPoint APos, const QString &AHint, int32_t Delay, TMsgDialogType DlgType,
                                         TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor) = 0;
    // The standard message dialog, always on top; a non-empty ATitle is its
    // caption. Timeout > 0 closes it after Timeout seconds with mrOk.
    virtual TModalResult PositionedMessageDlg(const QString &ATitle, const QString &AMsg, TMsgDlgType DlgType,
                                              TMsgDlgButtons Buttons, TMsgDlgBtn DefaultButton, QPoint APos,
                                              int32_t Timeout, TDefaultMonitor DefMonitor) = 0;
    // A longer text (such as a program's output) under a title: with Delay 0
    // until the user presses OK, else for Delay seconds. An empty text shows
    // nothing.
    virtual void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay) = 0;
};

// The answer of a box that nobody can see: the result of its closing
// button (mrNo for mdtConfirm, mrCancel for every other kind).
TModalResult QuietAnswer(TMsgDialogType DlgType);
// The same for the standard dialog: Cancel, else No, Abort, Close, OK
// (the first of them among the buttons); mrCancel when none is.
TModalResult QuietAnswer(TMsgDlgButtons Buttons);

// Answers every box at once with its quiet answer and writes each message
// (with the answer of a question) as one log line through WriteServiceLog.
class THeadlessMessageService : public IMessageService {
public:
    TModalResult ShowMessageForm(QPoint APos, const QString &AHint, int32_t Delay, TMsgDialogType DlgType,
                                 TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor) override;
    TModalResult PositionedMessageDlg(const QString &ATitle, const QString &AMsg, TMsgDlgType DlgType,
                                      TMsgDlgButtons Buttons, TMsgDlgBtn DefaultButton, QPoint APos, int32_t Timeout,
                                      TDefaultMonitor DefMonitor) override;
    void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay) override;
};

// The current service (headless until a program installs another). The
// caller keeps ownership; nullptr restores the headless service.
IMessageService &MessageService();
void SetMessageService(IMessageService *AService);

// Where headless services write what they answered on the user's behalf:
// the run installs its log writer while it runs (an empty sink removes it).
// Each call carries one line. Without a sink the lines go to stderr, so an
// unattended program's messages are not lost.
using TServiceLogSink = std::function<void(const QString &ALine)>;
void SetServiceLogSink(TServiceLogSink ASink);
void WriteServiceLog(const QString &ALine);
// Writes "ACaption: AText (automatic answer: <answer>)" as one line.
void WriteServiceQuestion(const QString &ACaption, const QString &AText, TModalResult AAnswer);

// The message boxes the program calls (position kDefaultPos and monitor
// dmActiveForm unless given).
TModalResult ShowMessageBox(const QString &AHint, TMsgDialogType DlgType);
TModalResult ShowErrorBox(const QString &AHint, int32_t Delay);
TModalResult ShowErrorBoxAt(QPoint APos, const QString &AHint, TDefaultMonitor AMonitor);
TModalResult ShowInfoBox(const QString &AHint, int32_t Delay);
TModalResult ShowInfoBoxAt(QPoint APos, const QString &AHint, TDefaultMonitor AMonitor);
// Yes/No; true on Yes.
bool ConfirmBox(const QString &AHint);
bool ConfirmBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor);
// Yes/Cancel; true when Cancel is chosen.
bool ConfirmCancelBox(const QString &AHint);
// Yes/Cancel on an error; true on Yes.
bool ConfirmErrorBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor);
// Retry/Cancel; true on Retry.
bool ConfirmRetryBox(const QString &AHint);
bool ConfirmRetryBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor);
// Yes/No/Cancel: mrYes, mrNo or mrCancel.
TModalResult ConfirmYesNoBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor);

// The standard dialog with its default button chosen: OK when among the
// buttons, else Yes when among them, else Retry.
TModalResult PositionedMessageDlgAuto(const QString &ATitle, const QString &AMsg, TMsgDlgType DlgType,
                                      TMsgDlgButtons Buttons, QPoint APos, int32_t Timeout,
                                      TDefaultMonitor DefMonitor);
// An error report above everything: OK only, no time-out.
TModalResult ShowErrorDialogAt(QPoint APos, const QString &ATitle, const QString &AMsg, TDefaultMonitor DefMonitor);
TModalResult ShowErrorDialog(const QString &ATitle, const QString &AMsg, TDefaultMonitor DefMonitor);

void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay);

} // namespace vl
