// The choice dialog: a question with any number of answer buttons in rows
// of three, a cancel button and an optional check box, without widgets.
//
// SelectChoiceAt and SelectChoice are what the program calls, from any
// layer at or above ui/: they run the dialog through the installed
// IListDialogViews (ui/ListDialogViews.h). Without a display the answer is
// the cancel button's, -1, and the question goes to the service log.
#pragma once

#include "core/MessageService.h"
#include "core/Settings.h"
#include "ui/ControlState.h"
#include "ui/DialogLogic.h"
#include "ui/Placement.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace vl {

// Added to the answer's index when the option box was checked.
inline constexpr int kChoiceOptionChecked = 256;

// What the layout needs to know of the dialog's font.
struct TChoiceMetrics {
    TTextWidthFunc TextWidth;  // of the question's font without style
    int FontHeight = 16;       // pixels
    int FormDpi = DesignDpi;   // of the monitor that shows the dialog
};

// Geometry of the dialog's controls in client coordinates.
struct TChoiceLayout {
    QSize Client;
    QRect Icon;            // empty when no icon is shown
    QRect Caption;
    QRect Option;          // empty when there is no option box
    QString OptionText;    // the option, wrapped into lines by "\n"
    QList<QRect> Buttons;  // the answers, then the cancel button
};

class TSelectDialog : public TDialogLogic {
public:
    TSelectDialog(const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType, TFontStyles ACaptionFormat,
                  const QStringList &AButtons, const QString &AOption, int ButtonWidth, int PreSelection,
                  const QString &DefaultButton, bool AActiveScreenReader = false);

    TControlState stCaption;  // the question (Caption)
    TCheckBoxState cbOption;
    // The answers in order, then the cancel button; a click closes the
    // dialog with that button's choice.
    std::vector<std::unique_ptr<TButtonState>> Buttons;

    TMsgDlgType DlgType() const { return FDlgType; }
    bool ShowsIcon() const { return FDlgType != TMsgDlgType::mtCustom; }
    TFontStyles CaptionFormat() const { return FCaptionFormat; }
    int AnswerCount() const { return int(Buttons.size()) - 1; }
    TButtonState &CancelBtn() { return *Buttons.back(); }
    const TButtonState &CancelBtn() const { return *Buttons.back(); }
    bool ActiveScreenReader() const { return FActiveScreenReader; }
    // The view tells whether a screen reader runs before it lays out.
    void SetActiveScreenReader(bool AValue) { FActiveScreenReader = AValue; }

    // Index of the button that gets the focus (AnswerCount() is the cancel
    // button); -1 when nothing does (screen reader).
    int FocusButton() const;
    // The option box comes before the buttons in the tab order.
    bool OptionFirstInTabOrder() const { return FActiveScreenReader; }
    // The question text can take the focus.
    bool CaptionTabStop() const { return FActiveScreenReader; }

    TChoiceLayout Layout(const TChoiceMetrics &Metrics) const;

    // Index of the pressed answer, -1 for cancel or none.
    int Selection() const { return FSelection; }
    // Selection, plus kChoiceOptionChecked when an answer was pressed with
    // the option box checked.
    int Result() const;

private:
    TMsgDlgType FDlgType;
    TFontStyles FCaptionFormat;
    int FButtonWidth;
    int FPreSelection;
    bool FActiveScreenReader;
    int FSelection = -1;
};

// Runs the choice dialog at APos (a negative coordinate centres it) and
// returns the index of the pressed answer (0-based), -1 for the cancel
// button, Esc or the close box, plus 256 when an answer was pressed with
// the option box checked. ButtonWidth 0 means 105 px. PreSelection: bit 8
// checks the option box, the low 8 bits name the focused button (the
// number of answers, or a negative value, the cancel button).
// DefaultButton: the cancel button's caption (empty: "Cancel").
int SelectChoiceAt(QPoint APos, const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType,
                   TFontStyles ACaptionFormat, const QStringList &AButtons, const QString &AOption = QString(),
                   int ButtonWidth = 0, int PreSelection = 0, const QString &DefaultButton = QString());
// The same centred on the main window.
int SelectChoice(const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType, TFontStyles ACaptionFormat,
                 const QStringList &AButtons, const QString &AOption = QString(), int ButtonWidth = 0,
                 int PreSelection = 0, const QString &DefaultButton = QString());

} // namespace vl
