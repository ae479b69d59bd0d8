// The text and log viewer: a text file shown read-only, with search, jumps
// to section and error marks, printing with a page header, code-page
// choice and deletion of the file or of a selection.
//
// TShowTextDialog is the viewer's logic; a view (ui/qt/TextViewer.h)
// shows it and does what needs the window system: dialogs, printing,
// geometry. The global functions keep the one viewer of the program; a
// program without display installs no view, and the functions then only
// write a line to the service log.
//
// Memo positions are character offsets into the memo text, whose lines
// end in "\n".
#pragma once

#include "core/Settings.h"
#include "core/TextEncoding.h"
#include "ui/CodePages.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace vl {

class TMemIniFile;

// ---- Types ---------------------------------------------------------------

enum class TShowDlgType : uint8_t { stShow, stModal };

// The optional buttons; a set of them is a bit mask (bit i = member i).
enum class TShowDlgBtn : uint8_t { sbOpen, sbErase, sbPrint, sbSearch, sbSection, sbError, sbFont, sbCodepage };
using TShowDlgButtons = uint32_t;
constexpr TShowDlgButtons ShowDlgButtons(std::initializer_list<TShowDlgBtn> AButtons)
{
    TShowDlgButtons set = 0;
    for (TShowDlgBtn b : AButtons)
        set |= TShowDlgButtons(1) << unsigned(b);
    return set;
}
constexpr bool HasShowDlgButton(TShowDlgButtons ASet, TShowDlgBtn AButton)
{
    return (ASet >> unsigned(AButton)) & 1;
}
inline constexpr TShowDlgButtons kAllShowDlgButtons = 0xFF;

// A font as the viewer keeps it (the memo's and the view settings').
struct TViewerFont {
    QString Name;
    int Size = 0; // points
    TFontStyles Style;
    bool operator==(const TViewerFont &) const = default;
};

// ---- Loading ---------------------------------------------------------------

// Files from this size on are not shown.
inline constexpr int64_t kMaxViewerFileSize = int64_t(1) << 31;

// How a file's text was read, so an edited text goes back the same way.
struct TViewerTextFormat {
    // By mark (UTF-8, UTF-16) or found without one (UTF-8, Windows-1252);
    // a CodePage > 0 stands instead of the latter: the bytes were read in it.
    TTextEncoding Encoding = TTextEncoding::teUtf8;
    int CodePage = 0;
    // The file's first line end ("\r\n", "\r" or "\n"; "\n" when it has none).
    QString LineBreak = QStringLiteral("\n");
    bool operator==(const TViewerTextFormat &) const = default;
};

// The text of a file's bytes. A byte-order mark decides first (UTF-8,
// UTF-16LE, UTF-16BE), so zero bytes inside UTF-16 stay part of their
// characters; null characters are then dropped from the text. Without a
// mark every zero byte is dropped and the bytes are read in CodePage
// (> 0), else as UTF-8 when they are valid UTF-8 and in kAnsiCodePage
// otherwise. A CodePage that cannot decode the bytes clears *CodePageOk
// and the bytes are read in kAnsiCodePage. Line ends (CR LF, CR) become
// "\n". *Format receives how the text was read.
QString DecodeViewerText(const QByteArray &Bytes, int CodePage, bool *CodePageOk = nullptr,
                         TViewerTextFormat *Format = nullptr);
// The bytes of a text ("\n" line ends) in Format, with its mark and line
// ends. A text the format cannot hold goes out as UTF-8 with a mark, so no
// character is lost, and *Kept is cleared.
QByteArray EncodeViewerText(const QString &Text, const TViewerTextFormat &Format, bool *Kept = nullptr);

// ---- Lines of the memo text ----------------------------------------------

// Lines of the text; an empty last line after a final "\n" is no line.
int MemoLineCount(const QString &Text);
// 0-based line holding Pos (clamped to the text).
int MemoLineOfPos(const QString &Text, int Pos);
// Offset where line ALine (0-based) starts; the end of the text for lines
// after the last.
int MemoLineStart(const QString &Text, int ALine);
// The lines from FirstLine to LastLine (0-based, inclusive, clamped).
QStringList MemoLines(const QString &Text, int FirstLine, int LastLine);

// ---- Search --------------------------------------------------------------

struct TFindOptions {
    bool Down = false;
    bool MatchCase = false;
    bool WholeWord = false; // the text next to a hit is no letter or digit
};

// Offset of the next hit of What: downwards from the end of the selection,
// upwards the last hit that starts before the selection; -1 when none (or
// What is empty).
int SearchText(const QString &Text, const QString &What, int SelStart, int SelLength, const TFindOptions &Options);

// ---- Printing ------------------------------------------------------------

// The installed printer a job goes to: Wanted when installed, else the
// default printer, else the first one; empty when none is installed.
QString ChoosePrinter(const QStringList &Installed, const QString &Default, const QString &Wanted);

// Printer units are 0.1 mm. The line height for a font size in points.
int PrintLineHeight(int FontSize);

// The printed pieces of one line for a usable width of MaxWidth: a line
// as wide as MaxWidth or wider is cut after whole words (a word ends after
// a blank, a backslash or a closing brace) or, when no word fits or none
// is left, after as many characters as fit, but at least one. Every piece
// after the first starts with "* ".
QStringList BreakPrintLine(const QString &Line, int MaxWidth, const TTextWidthFunc &TextWidth);

enum class TPrintItemKind : uint8_t { piText, piHeader, piRule };

// One thing to print: a text with its top-left at Pos (piHeader: bold) or
// a rule from Pos to (Right, Pos.y).
struct TPrintItem {
    int Page = 1;
    TPrintItemKind Kind = TPrintItemKind::piText;
    QPoint Pos;
    int Right = 0;
    QString Text;
};

// What a print job needs besides the device.
struct TPrintJob {
    QString DocName;  // the job's name: the viewer's caption
    QString Title;    // header title
    QString FileName; // header file name
    QStringList Lines;
    TPrinterSettings Settings;
};

// The pages of a job on a page of PageWidth x PageHeight (0.1 mm; 0 or
// less: 2000 x 2900), laid out with the settings' margins and line
// height: each page starts with a header of the title, "Page: n", the file
// name and a rule; long lines are broken by BreakPrintLine. TextWidth
// measures the text font, HeaderWidth the bold header font.
QList<TPrintItem> LayoutPrintJob(const TPrintJob &Job, int PageWidth, int PageHeight, const TTextWidthFunc &TextWidth,
                                 const TTextWidthFunc &HeaderWidth);
int PrintPageCount(const QList<TPrintItem> &Items);

// ---- Settings ------------------------------------------------------------

// The printer keys of a section; nothing when IniName or Section is empty.
// Both remember IniName (also an empty one) as the INI of the view
// settings (ViewSettingsIni). Loading raises EFOpenError for an INI that
// exists but cannot be read; saving writes the file at once and raises
// EWriteError when it cannot.
void LoadPrinterSettings(const QString &IniName, const QString &Section, TPrinterSettings &Settings);
void SavePrinterSettings(const QString &IniName, const QString &Section, const TPrinterSettings &Settings);
QString ViewSettingsIni();

// Window position, size and memo font in the [View] section.
struct TViewSettings {
    QRect Bounds;
    TViewerFont Font;
};
// Keys missing from the INI keep the values of Defaults (FontStyle: none).
TViewSettings ReadViewSettings(const TMemIniFile &Ini, const TViewSettings &Defaults);
void WriteViewSettings(TMemIniFile &Ini, const TViewSettings &Settings);

// ---- Memo ----------------------------------------------------------------

enum class TMemoAspect : uint8_t { maText, maSelection, maScroll, maFont };

// The read-only memo: text, selection (the caret at one of its ends),
// first visible line and font. Changes made in code notify observers;
// User* calls come from the view, which already shows the change.
class TMemoState : public TControlState {
public:
    using TMemoObserver = std::function<void(TMemoAspect Aspect)>;

    // After every change of the text.
    TNotifyEvent OnChange;
    // After the user moved the caret or the selection.
    TNotifyEvent OnSelect;

    const QString &Text() const { return FText; }
    // Caret to the start, no selection; runs OnChange.
    void SetText(const QString &AValue);
    int SelStart() const { return FSelStart; }
    int SelLength() const { return FSelLength; }
    int Caret() const { return FCaret; }
    QString SelText() const { return FText.mid(FSelStart, FSelLength); }
    // Selects (clamped to the text) with the caret at the end, and shows
    // the caret.
    void SetSelection(int AStart, int ALength);
    // Removes the selected text; runs OnChange.
    void ClearSelection();
    int LineCount() const { return MemoLineCount(FText); }
    int CaretLine() const { return MemoLineOfPos(FText, FCaret); }

    int FirstVisibleLine() const { return FFirstVisibleLine; }
    // Scrolls by ADelta lines (the view reports the result).
    void ScrollLines(int ADelta);
    int ScrollDelta() const { return FScrollDelta; }

    const TViewerFont &Font() const { return FFont; }
    void SetFont(const TViewerFont &AValue);

    void UserSelect(int AStart, int ALength, int ACaret);
    void UserScrolled(int AFirstVisibleLine) { FFirstVisibleLine = AFirstVisibleLine; }

    int SubscribeMemo(TMemoObserver AObserver);
    void UnsubscribeMemo(int AId);

private:
    void NotifyMemo(TMemoAspect Aspect);

    QString FText;
    int FSelStart = 0;
    int FSelLength = 0;
    int FCaret = 0;
    int FFirstVisibleLine = 0;
    int FScrollDelta = 0;
    TViewerFont FFont;
    std::vector<std::pair<int, TMemoObserver>> FMemoObservers;
    int FNextMemoObserver = 1;
};

// A button of the top panel: its place is set when the viewer opens.
class TPanelButtonState : public TButtonState {
public:
    explicit TPanelButtonState(int AWidth) : Width(AWidth) {}
    int Left = 0;
    const int Width;
};

// The non-modal find dialog's controls.
struct TFindDialogState {
    TEditState FindText;
    TCheckBoxState MatchCase;
    TCheckBoxState WholeWord;
    TRadioButtonState Up;
    TRadioButtonState Down;
    TButtonState FindBtn;
    TFindDialogState();
};

// ---- View ----------------------------------------------------------------

// What the viewer's logic asks of its window.
class ITextViewerView {
public:
    virtual ~ITextViewerView() = default;

    virtual void SetCaption(const QString &ACaption) = 0;
    // At a screen point, kept in the work area; a negative coordinate
    // centres the window on the program's main window.
    virtual void PlaceAt(QPoint APos) = 0;
    // Position and size of the window.
    virtual QRect Geometry() const = 0;
    virtual void SetGeometry(const QRect &ARect) = 0;
    virtual bool IsShowing() const = 0;
    // Shows the window and runs the logic's FormShow; a modal window
    // returns when closed (after FormClose).
    virtual void ShowViewer(bool AModal) = 0;
    // Closes the window; runs the logic's FormClose.
    virtual void CloseViewer() = 0;
    virtual void BringToFront() = 0;
    // The screen rectangle of a control, or of the window for nullptr.
    virtual QRect ScreenRect(const TControlState *AControl) const = 0;

    // The printer of that name becomes current, else the default printer;
    // its name, or empty when there is none.
    virtual QString ResolvePrinter(const QString &APrtName) = 0;
    // Prints with the print dialog first when AShowDialog; false when
    // cancelled or nothing could be printed.
    virtual bool PrintJob(const TPrintJob &AJob, bool AShowDialog) = 0;

    // An existing file chosen in the open dialog (empty: cancelled).
    virtual QString AskOpenFile(const QString &AFilter, const QString &ACurrent) = 0;
    // The font dialog; false when cancelled.
    virtual bool AskFont(TViewerFont &AFont) = 0;
    // The code-page popup below the code-page button; the chosen index or -1.
    virtual int AskCodePage(const QStringList &AItems, int AItemIndex) = 0;
    // Shows the non-modal find dialog at a screen point.
    virtual void ShowFindDialog(QPoint APos) = 0;
};

// ---- The viewer ----------------------------------------------------------

class TShowTextDialog {
public:
    TShowTextDialog();
    // Writes the view settings (when their INI exists), then frees the view.
    ~TShowTextDialog();
    TShowTextDialog(const TShowTextDialog &) = delete;
    TShowTextDialog &operator=(const TShowTextDialog &) = delete;

    void AttachView(std::unique_ptr<ITextViewerView> AView);
    ITextViewerView *View() const { return FView.get(); }

    // Top panel, left to right; EndeBtn at the right.
    TPanelButtonState OpenBtn{101}, UpdateBtn{36}, FontBtn{36}, EncBtn{36}, PrintBtn{101}, DeleteBtn{101},
        SearchBtn{101}, PrevSectBtn{36}, NextSectBtn{36}, PrevErrBtn{36}, NextErrBtn{36};
    TButtonState EndeBtn;
    TMemoState Memo;
    // Panel 0: the line position; panel 1: messages of the navigation.
    TControlState StatusPanels[2];
    TFindDialogState FindDialog;
    TPrinterSettings PrinterSettings;

    void Execute(const QString &Title, const QString &TextDatei, const QString &PrevCap1, const QString &NextCap1,
                 const QString &SrchText1, const QString &PrevCap2, const QString &NextCap2, const QString &SrchText2,
                 const QString &Filter, QPoint APos, int Line, TShowDlgType DlgType, TShowDlgButtons Buttons,
                 int CodePage);
    void Execute(const QString &Title, const QString &TextDatei, const QString &PrevCap1, const QString &NextCap1,
                 const QString &SrchText1, const QString &PrevCap2, const QString &NextCap2, const QString &SrchText2,
                 const QString &Filter, QPoint APos, int Line, TShowDlgType DlgType, TShowDlgButtons Buttons,
                 const TPrinterSettings &PrtSettings, int CodePage);
    void LoadViewSettings(const QString &AIniName);
    // Reloads the shown file when the viewer is visible.
    void ReloadText();
    // Loads a file and places the caret (at LPos, else the end).
    void DisplayFile(const QString &AName);
    // Reads and decodes a file into the memo. False for files of 2 GiB or
    // more; raises EFOpenError when it cannot be read.
    bool LoadTextFile(const QString &AName);
    // Loads a file for printing without questions (a bad code page falls
    // back quietly); false when it cannot be read.
    bool LoadForPrint(const QString &AName, int ACodePage);
    // Prints all lines or the lines of the selection; false when nothing
    // was printed (cancelled, no printer, busy).
    bool Print(bool NoDialog, bool SelectedOnly);

    // Called by the view.
    void FormShow();
    void FormClose();
    // F3 (AReverse: Shift+F3): search again.
    void FindAgain(bool AReverse);
    // The Delete key: deletes a selection.
    void DeleteKey();
    // F11 on a control with a hint.
    void ShowControlHint(const QString &AHint);
    void Close();
    bool Visible() const;
    bool InModalRun() const { return FInModalRun; }

    // " Line: n of m" in panel 0.
    void UpdatePosition();

    const QString &Title() const { return FTitle; }
    const QString &Caption() const { return FCaption; }
    const QString &TextName() const { return FTextName; }
    const QString &Filter() const { return FFilter; }
    const QString &SectText() const { return FSectText; }
    const QString &ErrText() const { return FErrText; }
    int CodePage() const { return FCodePage; }
    int LPos() const { return FLPos; }
    int LWidth() const { return FLWidth; }
    bool PosFromIni() const { return FPosFromIni; }
    const QString &IniName() const { return FIniName; }
    TShowDlgType DlgType() const { return FDlgType; }
    const QList<TCodePageEntry> &CodePageList() const { return FCodePageList; }

private:
    void SetCaption(const QString &AValue);
    void LayoutButtons(TShowDlgButtons Buttons);
    void OpenBtnClick();
    void FontBtnClick();
    void EncBtnClick();
    void PrintBtnClick();
    void DeleteBtnClick();
    void SearchBtnClick();
    void FindBtnClick();
    void Navigate(bool Section, bool Down);
    void DeleteSelection();
    // Whether the file still has the bytes the memo was loaded from.
    bool FileUnchanged() const;
    void DeleteShownFile();
    bool FindNext(const QString &What, bool Down);
    TFindOptions FindOptions(bool Down) const;
    void SaveViewSettings();

    std::unique_ptr<ITextViewerView> FView;
    QString FTitle, FCaption, FFilter, FSectText, FErrText, FIniName, FTextName;
    int FLPos = 0;
    bool FPosFromIni = false;
    TShowDlgType FDlgType = TShowDlgType::stShow;
    int FLWidth = 0;
    int FCodePage = 0;
    QList<TCodePageEntry> FCodePageList;
    // The memo holds the text of FTextName (not an error line), read as
    // FTextFormat from bytes with this digest.
    bool FMemoHoldsFile = false;
    TViewerTextFormat FTextFormat;
    QByteArray FLoadedDigest;
    bool FPrinting = false;
    bool FInModalRun = false;
};

// ---- The program's viewer ------------------------------------------------

// Makes the window of a new viewer; none installed: no display.
using TTextViewerViewFactory = std::function<std::unique_ptr<ITextViewerView>(TShowTextDialog &Dialog)>;
void SetTextViewerViewFactory(TTextViewerViewFactory AFactory);

// The viewer that exists now, or nullptr.
TShowTextDialog *ShowTextDialog();
// Closes and frees the viewer (the program closes a visible one before
// other windows take over).
void FreeTextViewer();

void ShowTextFileEx(const QString &Title, const QString &TextDatei, const QString &PrevCap1, const QString &NextCap1,
                    const QString &SrchText1, const QString &PrevCap2, const QString &NextCap2,
                    const QString &SrchText2, const QString &Filter, QPoint APos, int Line, TShowDlgType DlgType,
                    TShowDlgButtons Buttons, const TPrinterSettings &PrtSettings, int CodePage);
// Without marks, hints and filter; at the end when AtEnd, else at line 1.
void ShowTextFile(const QString &Title, const QString &TextDatei, QPoint APos, TShowDlgType DlgType,
                  TShowDlgButtons Buttons, const TPrinterSettings &PrtSettings, bool AtEnd, int CodePage);
// Prints a file without showing it and without print dialog.
void PrintTextFile(const QString &FileName, const TPrinterSettings &PrtSettings, int CodePage);

} // namespace vl
