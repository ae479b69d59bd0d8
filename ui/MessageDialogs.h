// The logic of the program's message boxes, the standard message dialog
// and the text window, without widgets: which buttons a kind of box has,
// their captions, results and default, the caption of the box, when it
// closes by itself and how large it is. The Qt views in ui/qt only show
// what is decided here.
#pragma once

#include "core/MessageService.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

namespace vl {

// Results of the standard dialog's further buttons, after mrClose.
inline constexpr TModalResult mrHelp = 9;
inline constexpr TModalResult mrAll = 12;
inline constexpr TModalResult mrNoToAll = 13;
inline constexpr TModalResult mrYesToAll = 14;

// Icons of the message box.
enum class TMsgIcon : int8_t { miNone = -1, miWarning = 0, miError = 1, miInformation = 2, miQuestion = 3 };
// Glyphs of its buttons.
enum class TMsgGlyph : int8_t { mgNone = -1, mgClose = 0, mgCancel = 1, mgYes = 2, mgNo = 3, mgRetry = 4 };

// A button of the message box: what it returns, its glyph and whether it
// is the default (Enter) button.
class TMsgButtonState : public TButtonState {
public:
    TModalResult ModalResult = mrNone;
    TMsgGlyph Glyph = TMsgGlyph::mgNone;
    bool Default = false;
};

// Sizes of a message box in client coordinates.
struct TMsgBoxLayout {
    QSize Client;
    // Where the text goes.
    QRect Text;
    // Distance of the buttons from the bottom and right edges.
    int Margin = 0;
};

// The program's message box: icon, text, up to three buttons, optionally
// closing by itself. Prepare sets it up for one message; the view shows
// it and reports clicks, keys and the timer's tick; the first modal result
// ends the box (OnModalResult tells the view).
class TShowMsgDialog {
public:
    // Design geometry (96 dpi).
    static constexpr int kTextLeft = 45;
    static constexpr int kTextTop = 15;
    static constexpr int kIconSize = 32;
    static constexpr int kButtonWidth = 87;
    static constexpr int kCloseButtonWidth = 112;
    static constexpr int kButtonHeight = 32;
    static constexpr int kMargin = 10;

    TShowMsgDialog();

    // Buttons from left to right; btClose is also the Escape button.
    TMsgButtonState btLeft;
    TMsgButtonState btCenter;
    TMsgButtonState btClose;
    // The message; its caption is the text with line feeds between lines.
    TControlState stInfo;
    TControlState imgIcon;

    // Sets the box up for AHint (lines separated by CR LF or LF). Delay > 0
    // closes the box after Delay seconds; a mdtCustom box always closes by
    // itself. False for an empty text: nothing is shown then.
    bool Prepare(const QString &AHint, int32_t Delay, TMsgDialogType DlgType, TMsgDlgBtn DefaultButton);

    TMsgDialogType Kind() const { return FKind; }
    const QString &Caption() const { return FCaption; }
    TMsgIcon Icon() const { return FIcon; }
    // The box closes by itself after TimerInterval milliseconds.
    bool RunTimer() const { return FRunTimer; }
    int TimerInterval() const { return FInterval; }

    // Size of the box for its text in the given font (LineHeight: the
    // height of "X").
    TMsgBoxLayout Layout(const TTextWidthFunc &TextWidth, int LineHeight) const;

    // The box is on the screen: starts the timer when it runs.
    void Shown();
    // The box has closed: stops the timer.
    void Closed();
    // The timer's tick: mrCancel.
    void TimerTick();
    // A key reached the box (Qt::Key): while the timer runs any key gives
    // mrCancel, F11 always does, Escape presses btClose. True when the key
    // was used.
    bool KeyDown(int AKey);
    // The window system closed the box: mrCancel.
    void UserClose();

    TModalResult ModalResult() const { return FModalResult; }
    std::function<void(TModalResult)> OnModalResult;

private:
    void SetModalResult(TModalResult AResult);

    TMsgDialogType FKind = TMsgDialogType::mdtInformation;
    QString FText; // lines separated by CR LF, for measuring
    QString FCaption;
    TMsgIcon FIcon = TMsgIcon::miNone;
    bool FRunTimer = false;
    int FInterval = 0;
    TModalResult FModalResult = mrNone;
    QTimer FTimer;
};

// A text in CR LF form: lone line feeds (and lone carriage returns) count
// as line breaks too.
QString ToCrLfLines(const QString &AText);
// The same text with line feeds only, as widgets show it.
QString ToLfLines(const QString &AText);

// ---------------------------------------------------------------------------
// The standard message dialog

// The default button PositionedMessageDlgAuto picks: OK when among the
// buttons, else Yes when among them, else Retry.
TMsgDlgBtn AutoDefaultButton(TMsgDlgButtons Buttons);
// What a button returns.
TModalResult ButtonModalResult(TMsgDlgBtn AButton);
// The button's translated caption.
QString ButtonCaption(TMsgDlgBtn AButton);
// The caption of a dialog without a title: the kind's name (the program's
// name for mtCustom).
QString StandardDialogCaption(TMsgDlgType DlgType, const QString &AProgramName);
// Where the standard dialog of FormSize opens for APos: no value when both
// coordinates are negative (centred on the screen), else APos moved into
// the work area.
std::optional<QPoint> PositionedDialogPos(const TMonitorList &Monitors, QSize FormSize, QPoint APos);
// Client width of a dialog: wide enough for a non-empty title
// (its width + 50 px).
int PositionedDialogWidth(int ClientWidth, const QString &ATitle, const TTextWidthFunc &TextWidth);

// Counts a timed wait down in passes of 100 ms: Seconds x 10 passes, none
// for zero or negative seconds.
class TCountDown {
public:
    static constexpr int kPassMs = 100;

    explicit TCountDown(int32_t Seconds);
    int Remaining() const { return FRemaining; }
    bool Expired() const { return FRemaining <= 0; }
    // One pass is over; true when the wait has just run out.
    bool Tick();

private:
    int FRemaining;
};

// What a timed standard dialog returns: the button's result, or mrOk when
// the time ran out without one.
TModalResult TimedDialogResult(TModalResult AButtonResult);

// ---------------------------------------------------------------------------
// The text window

// A longer text (such as a program's output) under a title: with OK, or
// without buttons for a number of seconds.
class TfrmShow {
public:
    TfrmShow();

    // The text, read-only.
    TControlState memShow;
    // The button row; hidden for a timed window.
    TControlState panButtons;
    TButtonState btnOK;

    // Sets the window up; false for an empty text (nothing is shown).
    bool Prepare(const QString &ATitle, const QString &AText, int32_t Delay);
    const QString &Caption() const { return FCaption; }
    // Shown modally until OK; else shown without buttons until the count-
    // down of Wait() runs out, then closed.
    bool Modal() const { return FDelay == 0; }
    TCountDown Wait() const { return TCountDown(FDelay); }

private:
    QString FCaption;
    int32_t FDelay = 0;
};

} // namespace vl
