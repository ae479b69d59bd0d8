// The logic of the password dialogs, without widgets: the dialog asking
// for an existing password (with the AES key length and a Skip button),
// the dialog asking for a new one (entered twice, with a quality bar), and
// the password quality estimate behind that bar.
#pragma once

#include "core/MessageService.h"
#include "core/WindowServices.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace vl {

// ---------------------------------------------------------------------------
// Quality estimate

struct TPasswordStats {
    int32_t Length = 0;
    int32_t Upper = 0;
    int32_t Lower = 0;
    int32_t Digits = 0;
    int32_t Symbols = 0;
    int32_t MidChars = 0;
    int32_t Requirements = 0;
    int32_t AlphasOnly = 0;
    int32_t NumbersOnly = 0;
    int32_t UniqueChars = 0;
    int32_t RepeatChars = 0;
    double RepeatInc = 0;
    int32_t ConsecUpper = 0;
    int32_t ConsecLower = 0;
    int32_t ConsecDigits = 0;
    int32_t ConsecSymbols = 0;
    int32_t ConsecTypes = 0;
    int32_t SeqAlpha = 0;
    int32_t SeqDigits = 0;
    int32_t SeqSymbols = 0;
    int32_t SeqChars = 0;
    int32_t ReqChars = 0;
};

// Counts what makes a password strong or weak (blanks do not count).
void AnalysePassword(const QString &APassword, TPasswordStats &Stats);
// The quality in per cent from the counts: -1 for a score of 0 (an empty
// password), at most 99.
int32_t PasswordScoreToPercent(const TPasswordStats &Stats);
int32_t PasswordStrength(const QString &APassword);
QString ReverseText(const QString &AText);

// ---------------------------------------------------------------------------
// Quality bar: a colour run from red over yellow to green, covered by the
// background from the percentage on, with the percentage as text.

struct TQualityBarColors {
    TColor Red;
    TColor Yellow;
    TColor Green;
};
TQualityBarColors DefaultQualityBarColors();
// Colour of column AColumn (0 .. AWidth - 1) of a bar AWidth wide; columns
// outside count as the nearest end. Any width, even 0 or 1, is safe.
TColor QualityBarColumnColor(int AColumn, int AWidth, const TQualityBarColors &AColors);
// Where the background starts, from the bar's left edge; a percentage
// outside 0..100 counts as the nearest end.
int QualityBarFillStart(int AWidth, int APercent);
// The text on the bar: the percentage (0..100) and "%".
QString QualityBarText(int APercent);

// ---------------------------------------------------------------------------
// The existing-password dialog

// Layout of the password dialog for a prompt.
struct TPasswordDialogLayout {
    QSize Prompt;
    int TopPanelHeight = 0;
    int ClientWidth = 0;
    int ClientHeight = 0;
};

class TPasswordDialog {
public:
    TPasswordDialog();

    TControlState lblPrompt; // caption: the prompt, lines separated by line feeds
    TControlState Label1;
    TEditState edtPwd;
    TButtonState bbPaste;
    TControlState gbEncrypt; // the key-length choice
    TRadioButtonState rbEnc128;
    TRadioButtonState rbEnc256;
    TRadioButtonState rbEncAuto;
    TButtonState btnSkip;   // mrYes
    TButtonState CancelBtn; // mrCancel, Escape
    TButtonState OKBtn;     // mrOk, the default button
    // The grey text an empty password edit shows.
    QString edtPwdTextHint;

    // Where bbPaste takes its text from; the view installs the clipboard.
    std::function<QString()> ClipboardText;

    // Sets the dialog up: an empty entry, Skip and the key-length choice
    // as asked, that choice preset from EncMode (1: 128 bit, 2 or 3: 256
    // bit, else automatic).
    void Prepare(const QString &Title, const QString &Prompt, bool Skip, bool Enc, int32_t EncMode);
    const QString &Caption() const { return FCaption; }
    const QString &Prompt() const { return FPrompt; }
    // The key mode chosen: 0 automatic, 1 128 bit, 3 256 bit.
    int32_t SelectedEncMode() const;
    // After the dialog ended with AResult: only on mrOk are Pwd and (with
    // the key-length choice) EncMode set.
    void Finish(TModalResult AResult, QString &Pwd, int32_t &EncMode) const;

    // Sizes for the prompt in the prompt's font (AFontHeight: the font's
    // height in pixels): the top panel grows by one line per prompt line,
    // the dialog widens for a prompt wider than ADesignClientWidth.
    // APanelHeights: heights of the input panel, the bottom panel and the
    // key-length group (counted only while it is shown).
    TPasswordDialogLayout Layout(const TTextWidthFunc &TextWidth, int AFontHeight, int ADesignClientWidth,
                                 int APromptLeft, int AInputHeight, int ABottomHeight, int AEncHeight) const;

    TModalResult ModalResult() const { return FModalResult; }
    // Called with the first modal result a button gives.
    std::function<void(TModalResult)> OnModalResult;

private:
    void SetModalResult(TModalResult AResult);

    QString FCaption;
    QString FPrompt;
    bool FEnc = false;
    TModalResult FModalResult = mrNone;
};

// ---------------------------------------------------------------------------
// The new-password dialog

class TNewPwdDialog {
public:
    // The quality bar's percentage.
    class TQualityState : public TControlState {
    public:
        int Percent() const { return FPercent; }
        void SetPercent(int AValue);
        std::function<void()> OnChange;

    private:
        int FPercent = 0;
    };

    TNewPwdDialog();

    TEditState edtPwd;
    TEditState edtRepPwd;
    // Down: both edits show the password in clear.
    TCheckBoxState btnShow;
    TControlState paConfirm; // the repeat field
    TQualityState imgBar;
    TButtonState CancelBtn;
    TButtonState OKBtn;
    QString edtPwdTextHint;
    QString edtRepPwdTextHint;

    // Sets the dialog up. Show fills both edits with Pwd and offers
    // btnShow (else both start empty); Confirm shows the repeat field and
    // checks it on OK. The bar rates the password edit's text.
    void Prepare(const QString &Title, const QString &Pwd, bool Confirm, bool Show, int32_t MinLen);
    const QString &Caption() const { return FCaption; }
    bool Confirm() const { return FConf; }
    int32_t MinLen() const { return FMinLen; }
    // The shown percentage for a text: 0 while it is shorter than the
    // minimum length, else its strength.
    int QualityOf(const QString &AText) const;
    // The password edit lost the focus.
    void PasswordExit();

    // OK was pressed: with the repeat field, the two texts must match and
    // be empty or at least MinLen long; otherwise an error box says why,
    // FocusControl names the edit to correct, and the dialog stays open.
    // True when the dialog may close with AResult.
    bool CanClose(TModalResult AResult);
    TEditState *FocusControl() const { return FFocus; }
    // After the dialog ended with AResult: true on mrOk, and only then Pwd
    // is set.
    bool Finish(TModalResult AResult, QString &Pwd) const;

    TModalResult ModalResult() const { return FModalResult; }
    // Called with the first modal result a button gives (OK only once
    // CanClose allows it).
    std::function<void(TModalResult)> OnModalResult;

private:
    void ShowQuality(const QString &AText);
    void SetModalResult(TModalResult AResult);

    QString FCaption;
    bool FConf = false;
    int32_t FMinLen = 0;
    TEditState *FFocus = nullptr;
    TModalResult FModalResult = mrNone;
};

// ---------------------------------------------------------------------------
// The encryption-password dialog: the password entered twice

// Which entry the user is to correct after a refused OK.
enum class TCryptPwdFocus : uint8_t { cfNone, cfPassword, cfRepeat };

struct TCryptPwdCheck {
    bool Ok = true;
    QString Error; // the text of the error box
    TCryptPwdFocus Focus = TCryptPwdFocus::cfNone;
};

// The two entries may close the dialog with OK when they are equal and
// empty or at least MinLen long. A password shorter than MinLen is
// reported as such even when the entries differ (focus: the password);
// else a mismatch (focus: the repeat entry).
TCryptPwdCheck CheckCryptPasswordEntries(const QString &APwd, const QString &ARepPwd, int32_t MinLen);

} // namespace vl
