// The small input dialogs, without widgets: one line with a history combo
// and a character table (InputTextEx, InputText), a character from a table
// (SelectCharacter), one line in a plain edit (EditString), one or two
// lines with a switch (EnterText), a multi-line text or comma list
// (EditCommaText, EditMemoText), and a placeholder (SelectPlaceholder).
//
// Each wrapper creates its dialog, runs it through InputDialogViews()
// (ui/InputDialogViews.h) and frees it, so every call starts afresh.
// Positions are screen points for the dialog's top-left corner; a
// negative coordinate centres it (the placeholder dialog: on the screen,
// the others on the main window). OK has the modal result mrOk; Cancel,
// Esc and the close box cancel. Texts use the "dialogs" domain, the
// placeholder dialog the default one.
#pragma once

#include "ui/DialogLogic.h"
#include "ui/NumberEdits.h"
#include "ui/Placement.h"
#include "ui/StringList.h"

#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace vl {

// ---------------------------------------------------------------------------
// Comma texts: items separated by commas or blanks, an item holding a
// blank, a control character, a comma or a double quote written in double
// quotes (inner quotes doubled), a single empty item written as "".

QStringList CommaTextToItems(const QString &AText);
QString ItemsToCommaText(const QStringList &AItems);

// ---------------------------------------------------------------------------
// One line with a history combo

class TInputTextDialog : public TDialogLogic {
public:
    // Items the combo keeps and drops down.
    static constexpr int kDropDownCount = 15;
    // The design client width.
    static constexpr int kDefWidth = 330;

    TInputTextDialog();
    // Writes the combo's items back to the INI section named by
    // LoadFromIni (section erased first).
    ~TInputTextDialog() override;

    TControlState Descriptor;
    TComboBoxState TextFeld{true};
    TButtonState CharTabBtn;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // The combo drops a list down (else it is a plain edit); on once it
    // holds items.
    bool DropDownStyle() const { return FDropDown; }
    bool AutoComplete() const { return FAutoComplete; }
    // The font of the combo (empty: the dialog's).
    const QString &FontName() const { return FFontName; }

    // Fills the combo from the "History" keys of the section (at most
    // kDropDownCount) when both names are given; they are remembered for
    // writing back.
    void LoadFromIni(const QString &AIniName, const QString &AIniSection);
    // Replaces the combo's items by HList's texts, sorted with Sorted.
    void SetHistory(const TStringList &HList, bool Sorted);

    // Runs the dialog; true on OK with AText the entered text.
    bool Execute(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, const QString &AFontName,
                 QString &AText);

    // The steps of Execute, for the view and for tests.
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, const QString &AFontName,
               const QString &AText);
    // The client width for the initial text: the design width, or the
    // text's width plus 20 pixels when that is wider.
    int ClientWidth(const TTextWidthFunc &ATextWidth) const;
    // The character table button: appends the chosen character.
    void AddCharacter();
    // After OK: AText is the combo text, which goes to the top of the
    // combo's items.
    void Finish(QString &AText);

private:
    QString FIniName;
    QString FIniSection;
    QString FInitialText;
    QString FFontName;
    bool FDropDown = false;
    bool FAutoComplete = false;
};

// HList (may be nullptr) fills the combo and, on OK, receives its items
// with the entered text at the top.
bool InputTextEx(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, const QString &AFontName,
                 TStringList *HList, bool Sorted, QString &AText);
bool InputText(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, QString &AText);

// ---------------------------------------------------------------------------
// Character table

// A grid of 17 x 17 cells: row 0 and column 0 are headers; the character
// of row r and column c (from 1) is (r - 1) * 16 + (c - 1). Observers hear
// saItemIndex when the current cell moves.
class TCharGridState : public TControlState {
public:
    static constexpr int kCells = 17;

    TNotifyEvent OnDblClick;

    int Row() const { return FRow; }
    int Col() const { return FCol; }
    // Moves the current cell; header cells are not taken.
    void SetCell(int ARow, int ACol);
    // The character code of the current cell.
    int Code() const { return CellCode(FRow, FCol); }
    bool UserSelect(int ARow, int ACol);
    bool UserDoubleClick(int ARow, int ACol);

    static int CellCode(int ARow, int ACol) { return (ARow - 1) * 16 + (ACol - 1); }
    // "00" to "0F": header text of row or column AIndex (1 .. 16).
    static QString HeaderText(int AIndex);

private:
    int FRow = 1;
    int FCol = 1;
};

class TCharTableDialog : public TDialogLogic {
public:
    TCharTableDialog();

    TCharGridState CharGrid;
    TControlState leValueLabel;
    TEditState leValue; // a hexadecimal code moves the current cell
    TButtonState OKBtn; // "Select"
    TButtonState CancelBtn;
    // The font whose characters the grid shows.
    QString GridFontName;

    // The chosen code on OK, else 0.
    int Execute(QPoint APos, const QString &AFontName);
    void Setup(QPoint APos, const QString &AFontName);
    int Result() const;
};

// The chosen character, the null character on cancel.
QChar SelectCharacter(QPoint APos, const QString &FontName);

// ---------------------------------------------------------------------------
// One line in a plain edit

class TInputStringDialog : public TDialogLogic {
public:
    static constexpr int kDefWidth = 330;

    TInputStringDialog();

    TControlState Descriptor;
    TEditState TextFeld;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    bool Execute(QPoint APos, const QString &Titel, const QString &Desc, QString &AText);
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &AText);
    int ClientWidth(const TTextWidthFunc &ATextWidth) const;
    void Finish(QString &AText) const;

private:
    QString FInitialText;
};

bool EditString(QPoint APos, const QString &Titel, const QString &Desc, QString &AText);

// ---------------------------------------------------------------------------
// One or two lines and a switch

enum class TSwitchMode : uint8_t { tsNotVis, tsOff, tsOn };

class TTextEingabe : public TDialogLogic {
public:
    TTextEingabe();

    TControlState Rahmen;
    TControlState Descriptor1;
    TEditState TextFeld1;
    TControlState Descriptor2;
    TEditState Textfeld2;
    TCheckBoxState Switch;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // With Desc2 empty only the first field shows; with TSw tsNotVis no
    // switch. True on OK with AText (BText with two fields, TSw with a
    // switch) set; nothing changes on cancel.
    bool Execute(QPoint APos, const QString &Titel, const QString &Desc1, const QString &Desc2,
                 const QString &SwDesc, QString &AText, QString &BText, TSwitchMode &TSw);
    void Setup(QPoint APos, const QString &Titel, const QString &Desc1, const QString &Desc2, const QString &SwDesc,
               const QString &AText, const QString &BText, TSwitchMode TSw);
    bool TwoFields() const { return Textfeld2.Visible(); }
    void Finish(QString &AText, QString &BText, TSwitchMode &TSw) const;
};

// One field, no switch.
bool EnterText(QPoint APos, const QString &Titel, const QString &Desc1, QString &AText);

// ---------------------------------------------------------------------------
// Multi-line text

class TMemoDialog : public TDialogLogic {
public:
    TMemoDialog();

    TControlState Descriptor;
    TEditState Memo; // lines separated by "\n"
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // With UseCommaText the memo shows the items of the comma text AText,
    // one per line, and OK returns the lines as comma text; otherwise it
    // shows AText and OK returns the lines joined by CR LF.
    bool Execute(QPoint APos, const QString &Titel, const QString &Desc, QString &AText, bool UseCommaText);
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &AText, bool UseCommaText);
    QStringList Lines() const;
    // Where the caret starts: the length of the text given.
    int CaretPos() const { return FCaretPos; }
    // The client width: ACurrent, or the widest line plus 10 % when that
    // is wider, but then at most half of AWorkAreaWidth.
    int ClientWidth(int ACurrent, const TTextWidthFunc &ATextWidth, int AWorkAreaWidth) const;
    void Finish(QString &AText) const;

private:
    bool FCommaText = false;
    int FCaretPos = 0;
};

bool EditCommaText(QPoint APos, const QString &Titel, const QString &Desc, QString &AText);
bool EditMemoText(QPoint APos, const QString &Titel, const QString &Desc, QString &AText);

// ---------------------------------------------------------------------------
// Placeholders

enum class TPhType : uint8_t { ptTime, ptPath, ptMail, ptPreEx, ptPostEx, ptBuLog, ptOtherLog, ptPortable };

// The pages of the placeholder dialog, in the order of Pages().
enum class TPhPage : uint8_t {
    tsDateTime, tsPath, tsMail, tsSystem, tsPostExec, tsPreExec, tsTime, tsBuLog, tsOtherLog, tsPortable
};

// The shown page of a page control whose tabs the user does not see.
// Observers hear saItemIndex.
class TPageState : public TControlState {
public:
    int ActivePage() const { return FActivePage; }
    void SetActivePage(int AValue);

private:
    int FActivePage = 0;
};

class TPlaceHolderDialog : public TDialogLogic {
public:
    static constexpr int kPageCount = 10;

    TPlaceHolderDialog();

    TPageState PageControl;
    TRadioGroupState DaPlaceHolderRG;
    TRadioGroupState PaPlaceHolderRG;
    TRadioGroupState MaPlaceHolderRG;
    TRadioGroupState SyPlaceholderRG;
    TRadioGroupState PostExPlaceholderRG;
    TRadioGroupState PreExPlaceHolderRG;
    TRadioGroupState TmPlaceHolderRG;
    TRadioGroupState BuLogPlaceholderRG;
    TRadioGroupState LogPlaceholderRG;
    TRadioGroupState PortablePlaceholderRG;
    // The cycle of the "Alternating ..." items of the time page.
    TRangeEdit reCycle;
    TNumUpDown udCycle;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // The radio group of each page, in TPhPage order.
    TRadioGroupState &Page(TPhPage APage);
    TPhPage ActivePage() const { return TPhPage(PageControl.ActivePage()); }
    TRadioGroupState &ActiveGroup() { return Page(ActivePage()); }
    void ShowPage(TPhPage APage);

    // The placeholder on OK, empty on cancel.
    QString Execute(QPoint APos, TPhType pt, const QString &AAction);
    void Setup(QPoint APos, TPhType pt, const QString &AAction);
    // The placeholder of the active page's selected item.
    QString Result() const;
    // OK: a cycle outside its range is refused with the range error;
    // otherwise the dialog closes with mrOk.
    void Accept();

private:
    void TimeItemClick();
};

QString SelectPlaceholder(QPoint APos, TPhType pt, const QString &AAction);

} // namespace vl
