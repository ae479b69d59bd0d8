#include "ui/TextViewer.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "platform/AtomicFile.h"
#include "platform/SysErrors.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

QString Dt(const char *msgid)
{
    return TrDomain(kDialogsDomain, msgid);
}

const QString kViewSection = QStringLiteral("View");

// Characters of a print line after which it may be broken.
bool IsBreakChar(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\\') || c == QLatin1Char('}');
}

// Characters that continue a word for the whole-word search.
bool IsWordChar(QChar c)
{
    return c.isLetterOrNumber();
}

TFontStyles StylesFromInt(int AValue)
{
    return TFontStyles::FromBits(uint32_t(AValue) & 0x0F);
}

// The code units one character takes at Pos (a surrogate pair: 2).
int CharLength(const QString &Text, int Pos)
{
    return Pos + 1 < Text.size() && Text.at(Pos).isHighSurrogate() && Text.at(Pos + 1).isLowSurrogate() ? 2 : 1;
}

QString FileNameOnly(const QString &Name)
{
    return Name.mid(Name.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// ---- Loading ---------------------------------------------------------------

QString DecodeViewerText(const QByteArray &Bytes, int CodePage, bool *CodePageOk, TViewerTextFormat *Format)
{
    if (CodePageOk)
        *CodePageOk = true;
    TViewerTextFormat format;
    QString text;
    // The mark decides before any zero byte goes: in UTF-16 they are half
    // of every Latin character.
    if (Bytes.startsWith("\xEF\xBB\xBF") || Bytes.startsWith("\xFF\xFE") || Bytes.startsWith("\xFE\xFF")) {
        text = DecodeText(Bytes, &format.Encoding);
    } else {
        QByteArray bytes = Bytes;
        bytes.removeIf([](char c) { return c == 0; });
        if (CodePage > 0) {
            if (DecodeCodePage(bytes, CodePage, text)) {
                format.CodePage = CodePage;
            } else {
                if (CodePageOk)
                    *CodePageOk = false;
                text = DecodeWindows1252(bytes);
                format.Encoding = TTextEncoding::teWindows1252;
            }
        } else {
            text = DecodeText(bytes, &format.Encoding);
        }
    }
    text.remove(QChar(0));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n'))
            break;
        if (text.at(i) == QLatin1Char('\r')) {
            const bool crlf = i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n');
            format.LineBreak = crlf ? QStringLiteral("\r\n") : QStringLiteral("\r");
            break;
        }
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (Format)
        *Format = format;
    return text;
}

QByteArray EncodeViewerText(const QString &Text, const TViewerTextFormat &Format, bool *Kept)
{
    QString text = Text;
    if (Format.LineBreak != QStringLiteral("\n"))
        text.replace(QLatin1Char('\n'), Format.LineBreak);
    bool ok = true;
    QByteArray bytes;
    if (Format.CodePage > 0)
        ok = EncodeCodePage(text, Format.CodePage, bytes);
    else
        bytes = EncodeText(text, Format.Encoding, &ok);
    if (!ok)
        bytes = EncodeText(text, TTextEncoding::teUtf8Bom);
    if (Kept)
        *Kept = ok;
    return bytes;
}

// ---- Lines -----------------------------------------------------------------

int MemoLineCount(const QString &Text)
{
    if (Text.isEmpty())
        return 0;
    return int(Text.count(QLatin1Char('\n'))) + (Text.endsWith(QLatin1Char('\n')) ? 0 : 1);
}

int MemoLineOfPos(const QString &Text, int Pos)
{
    Pos = std::clamp(Pos, 0, int(Text.size()));
    return int(QStringView(Text).left(Pos).count(QLatin1Char('\n')));
}

int MemoLineStart(const QString &Text, int ALine)
{
    int pos = 0;
    for (int line = 0; line < ALine; ++line) {
        const int nl = int(Text.indexOf(QLatin1Char('\n'), pos));
        if (nl < 0)
            return int(Text.size());
        pos = nl + 1;
    }
    return pos;
}

QStringList MemoLines(const QString &Text, int FirstLine, int LastLine)
{
    QStringList lines = Text.split(QLatin1Char('\n'));
    if (Text.isEmpty() || Text.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    FirstLine = std::max(FirstLine, 0);
    LastLine = std::min(LastLine, int(lines.size()) - 1);
    if (FirstLine > LastLine)
        return {};
    return lines.mid(FirstLine, LastLine - FirstLine + 1);
}

// ---- Search ----------------------------------------------------------------

int SearchText(const QString &Text, const QString &What, int SelStart, int SelLength, const TFindOptions &Options)
{
    if (What.isEmpty())
        return -1;
    const int size = int(Text.size());
    SelStart = std::clamp(SelStart, 0, size);
    SelLength = std::clamp(SelLength, 0, size - SelStart);
    const Qt::CaseSensitivity cs = Options.MatchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const auto isHit = [&](int p) {
        if (!Options.WholeWord)
            return true;
        const int end = p + int(What.size());
        return (p == 0 || !IsWordChar(Text.at(p - 1))) && (end >= size || !IsWordChar(Text.at(end)));
    };
    if (Options.Down) {
        for (int p = int(Text.indexOf(What, SelStart + SelLength, cs)); p >= 0; p = int(Text.indexOf(What, p + 1, cs)))
            if (isHit(p))
                return p;
        return -1;
    }
    // lastIndexOf counts a negative start from the end: stop at 0 by hand.
    for (int from = SelStart - 1; from >= 0;) {
        const int p = int(Text.lastIndexOf(What, from, cs));
        if (p < 0)
            return -1;
        if (isHit(p))
            return p;
        from = p - 1;
    }
    return -1;
}

// ---- Printing --------------------------------------------------------------

int PrintLineHeight(int FontSize)
{
    return int(std::lround(FontSize * 3.53));
}

QStringList BreakPrintLine(const QString &Line, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    const auto fits = [&](const QString &s) { return TextWidth(s) < MaxWidth; };
    QStringList pieces;
    QString prefix;
    QString rest = Line;
    while (!rest.isEmpty() && !fits(prefix + rest)) {
        QString collected;
        bool byChars = false;
        for (;;) {
            const int from = int(collected.size());
            int end = -1;
            for (int i = from; i < rest.size(); ++i)
                if (IsBreakChar(rest.at(i))) {
                    end = i + 1;
                    break;
                }
            if (end < 0) {
                byChars = true;
                break;
            }
            const QString word = rest.mid(from, end - from);
            if (!fits(prefix + collected + word)) {
                byChars = collected.isEmpty();
                break;
            }
            collected += word;
        }
        if (byChars) {
            while (collected.size() < rest.size()) {
                const QString next = rest.mid(collected.size(), CharLength(rest, int(collected.size())));
                if (!fits(prefix + collected + next))
                    break;
                collected += next;
            }
        }
        // A width that holds not even one character still gets one per
        // piece, so every round shortens the rest.
        if (collected.isEmpty())
            collected = rest.left(CharLength(rest, 0));
        pieces.append(prefix + collected);
        rest.remove(0, collected.size());
        prefix = QStringLiteral("* ");
    }
    if (!rest.isEmpty() || pieces.isEmpty())
        pieces.append(prefix + rest);
    return pieces;
}

QString ChoosePrinter(const QStringList &Installed, const QString &Default, const QString &Wanted)
{
    if (Installed.isEmpty())
        return {};
    if (!Wanted.isEmpty() && Installed.contains(Wanted))
        return Wanted;
    // A system may have printers but no default among them.
    if (!Default.isEmpty() && Installed.contains(Default))
        return Default;
    return Installed.first();
}

QList<TPrintItem> LayoutPrintJob(const TPrintJob &Job, int PageWidth, int PageHeight, const TTextWidthFunc &TextWidth,
                                 const TTextWidthFunc &HeaderWidth)
{
    const int pageWidth = PageWidth > 0 ? PageWidth : 2000;
    const int pageHeight = PageHeight > 0 ? PageHeight : 2900;
    const TPrintMargins &m = Job.Settings.Margins;
    const int step = PrintLineHeight(Job.Settings.FontSize) + 3;
    const int bottom = pageHeight - m.Bottom;
    const int right = pageWidth - m.Right;
    const QString filePrefix = Dt("File: ");

    QList<TPrintItem> items;
    int page = 1;
    int y = m.Top;
    const auto headerCheck = [&] {
        // A page that holds nothing yet stays the current one, so a top
        // margin below the bottom limit cannot leave empty pages.
        if (y >= bottom && y != m.Top) {
            ++page;
            y = m.Top;
        }
        if (y != m.Top)
            return;
        const QString pageText = GuardedFormat(Dt("Page: %u"), unsigned(page));
        items.append({page, TPrintItemKind::piHeader, {m.Left, y}, 0, Job.Title});
        items.append({page, TPrintItemKind::piHeader, {right - HeaderWidth(pageText), y}, 0, pageText});
        y += step;
        items.append({page, TPrintItemKind::piHeader, {m.Left, y}, 0,
                      filePrefix + ShortenPath(Job.FileName, 80 - int(filePrefix.size()))});
        y += step;
        items.append({page, TPrintItemKind::piRule, {m.Left, y}, right, {}});
        y += 20;
    };

    for (const QString &line : Job.Lines) {
        const QStringList pieces = BreakPrintLine(line, right - m.Left, TextWidth);
        for (const QString &piece : pieces) {
            headerCheck();
            items.append({page, TPrintItemKind::piText, {m.Left, y}, 0, piece});
            y += step;
        }
    }
    return items;
}

int PrintPageCount(const QList<TPrintItem> &Items)
{
    return Items.isEmpty() ? 0 : Items.last().Page;
}

// ---- Settings --------------------------------------------------------------

namespace {

QString gViewSettingsIni;

} // namespace

void LoadPrinterSettings(const QString &IniName, const QString &Section, TPrinterSettings &Settings)
{
    gViewSettingsIni = IniName;
    if (IniName.isEmpty() || Section.isEmpty())
        return;
    const TMemIniFile ini(IniName);
    Settings.PrtName = ini.ReadString(Section, QStringLiteral("Printer"), QString());
    Settings.Margins.Top = ini.ReadInteger(Section, QStringLiteral("TopMargin"), 150);
    Settings.Margins.Bottom = ini.ReadInteger(Section, QStringLiteral("BottomMargin"), 150);
    Settings.Margins.Left = ini.ReadInteger(Section, QStringLiteral("LeftMargin"), 200);
    Settings.Margins.Right = ini.ReadInteger(Section, QStringLiteral("RightMargin"), 100);
    Settings.FontName = ini.ReadString(Section, QStringLiteral("FontName"), QStringLiteral("Courier New"));
    Settings.FontSize = ini.ReadInteger(Section, QStringLiteral("FontSize"), 10);
    Settings.FontStyle = StylesFromInt(ini.ReadInteger(Section, QStringLiteral("FontStyle"), 0));
    Settings.Orientation = ini.ReadInteger(Section, QStringLiteral("Orientation"), 0) == 1
                               ? TPrinterOrientation::poLandscape
                               : TPrinterOrientation::poPortrait;
}

void SavePrinterSettings(const QString &IniName, const QString &Section, const TPrinterSettings &Settings)
{
    gViewSettingsIni = IniName;
    if (IniName.isEmpty() || Section.isEmpty())
        return;
    TMemIniFile ini(IniName);
    ini.WriteString(Section, QStringLiteral("Printer"), Settings.PrtName);
    ini.WriteInteger(Section, QStringLiteral("TopMargin"), Settings.Margins.Top);
    ini.WriteInteger(Section, QStringLiteral("BottomMargin"), Settings.Margins.Bottom);
    ini.WriteInteger(Section, QStringLiteral("LeftMargin"), Settings.Margins.Left);
    ini.WriteInteger(Section, QStringLiteral("RightMargin"), Settings.Margins.Right);
    ini.WriteString(Section, QStringLiteral("FontName"), Settings.FontName);
    ini.WriteInteger(Section, QStringLiteral("FontSize"), Settings.FontSize);
    ini.WriteInteger(Section, QStringLiteral("FontStyle"), int(Settings.FontStyle.Bits()));
    ini.WriteInteger(Section, QStringLiteral("Orientation"), int(Settings.Orientation));
    ini.UpdateFile();
}

QString ViewSettingsIni()
{
    return gViewSettingsIni;
}

TViewSettings ReadViewSettings(const TMemIniFile &Ini, const TViewSettings &Defaults)
{
    TViewSettings s;
    const QRect &d = Defaults.Bounds;
    s.Bounds = QRect(Ini.ReadInteger(kViewSection, QStringLiteral("Left"), d.left()),
                     Ini.ReadInteger(kViewSection, QStringLiteral("Top"), d.top()),
                     Ini.ReadInteger(kViewSection, QStringLiteral("Width"), d.width()),
                     Ini.ReadInteger(kViewSection, QStringLiteral("Height"), d.height()));
    s.Font.Name = Ini.ReadString(kViewSection, QStringLiteral("FontName"), Defaults.Font.Name);
    s.Font.Size = Ini.ReadInteger(kViewSection, QStringLiteral("FontSize"), Defaults.Font.Size);
    s.Font.Style = StylesFromInt(Ini.ReadInteger(kViewSection, QStringLiteral("FontStyle"), 0));
    return s;
}

void WriteViewSettings(TMemIniFile &Ini, const TViewSettings &Settings)
{
    Ini.WriteInteger(kViewSection, QStringLiteral("Top"), Settings.Bounds.top());
    Ini.WriteInteger(kViewSection, QStringLiteral("Left"), Settings.Bounds.left());
    Ini.WriteInteger(kViewSection, QStringLiteral("Height"), Settings.Bounds.height());
    Ini.WriteInteger(kViewSection, QStringLiteral("Width"), Settings.Bounds.width());
    Ini.WriteString(kViewSection, QStringLiteral("FontName"), Settings.Font.Name);
    Ini.WriteInteger(kViewSection, QStringLiteral("FontSize"), Settings.Font.Size);
    Ini.WriteInteger(kViewSection, QStringLiteral("FontStyle"), int(Settings.Font.Style.Bits()));
}

// ---- Memo ------------------------------------------------------------------

void TMemoState::SetText(const QString &AValue)
{
    FText = AValue;
    FSelStart = FSelLength = FCaret = 0;
    FFirstVisibleLine = 0;
    NotifyMemo(TMemoAspect::maText);
    Fire(OnChange);
}

void TMemoState::SetSelection(int AStart, int ALength)
{
    const int size = int(FText.size());
    FSelStart = std::clamp(AStart, 0, size);
    FSelLength = std::clamp(ALength, 0, size - FSelStart);
    FCaret = FSelStart + FSelLength;
    NotifyMemo(TMemoAspect::maSelection);
}

void TMemoState::ClearSelection()
{
    if (FSelLength == 0)
        return;
    FText.remove(FSelStart, FSelLength);
    FSelLength = 0;
    FCaret = FSelStart;
    NotifyMemo(TMemoAspect::maText);
    Fire(OnChange);
}

void TMemoState::ScrollLines(int ADelta)
{
    FScrollDelta = ADelta;
    NotifyMemo(TMemoAspect::maScroll);
}

void TMemoState::SetFont(const TViewerFont &AValue)
{
    if (FFont == AValue)
        return;
    FFont = AValue;
    NotifyMemo(TMemoAspect::maFont);
}

void TMemoState::UserSelect(int AStart, int ALength, int ACaret)
{
    const int size = int(FText.size());
    FSelStart = std::clamp(AStart, 0, size);
    FSelLength = std::clamp(ALength, 0, size - FSelStart);
    FCaret = std::clamp(ACaret, 0, size);
    Fire(OnSelect);
}

int TMemoState::SubscribeMemo(TMemoObserver AObserver)
{
    const int id = FNextMemoObserver++;
    FMemoObservers.emplace_back(id, std::move(AObserver));
    return id;
}

void TMemoState::UnsubscribeMemo(int AId)
{
    std::erase_if(FMemoObservers, [AId](const auto &o) { return o.first == AId; });
}

void TMemoState::NotifyMemo(TMemoAspect Aspect)
{
    // A copy: observers may unsubscribe while being called.
    const auto observers = FMemoObservers;
    for (const auto &o : observers)
        o.second(Aspect);
}

TFindDialogState::TFindDialogState()
{
    JoinRadioButtons({&Up, &Down});
    Down.SetChecked(true);
}

// ---- The viewer ------------------------------------------------------------

TShowTextDialog::TShowTextDialog()
{
    PrinterSettings.Init();
    Memo.SetFont({QStringLiteral("Courier New"), 8, {}});

    OpenBtn.SetCaption(Dt("&Open"));
    UpdateBtn.SetHint(Dt("Update"));
    FontBtn.SetHint(Dt("Select font"));
    EncBtn.SetHint(Dt("Select codepage"));
    PrintBtn.SetCaption(Dt("&Print"));
    DeleteBtn.SetCaption(Dt("&Delete"));
    SearchBtn.SetCaption(Dt("&Search"));
    PrevSectBtn.SetHint(Dt("Go to previous section"));
    NextSectBtn.SetHint(Dt("Go to next section"));
    PrevErrBtn.SetHint(Dt("Go to previous error"));
    NextErrBtn.SetHint(Dt("Go to next error"));
    EndeBtn.SetCaption(Dt("Close"));
    FindDialog.MatchCase.SetCaption(Dt("Match &case"));
    FindDialog.WholeWord.SetCaption(Dt("Match &whole word only"));
    FindDialog.Up.SetCaption(Dt("&Up"));
    FindDialog.Down.SetCaption(Dt("&Down"));
    FindDialog.FindBtn.SetCaption(Dt("&Find Next"));

    OpenBtn.OnClick = [this](TControlState &) { OpenBtnClick(); };
    UpdateBtn.OnClick = [this](TControlState &) { DisplayFile(FTextName); };
    FontBtn.OnClick = [this](TControlState &) { FontBtnClick(); };
    EncBtn.OnClick = [this](TControlState &) { EncBtnClick(); };
    PrintBtn.OnClick = [this](TControlState &) { PrintBtnClick(); };
    DeleteBtn.OnClick = [this](TControlState &) { DeleteBtnClick(); };
    SearchBtn.OnClick = [this](TControlState &) { SearchBtnClick(); };
    PrevSectBtn.OnClick = [this](TControlState &) { Navigate(true, false); };
    NextSectBtn.OnClick = [this](TControlState &) { Navigate(true, true); };
    PrevErrBtn.OnClick = [this](TControlState &) { Navigate(false, false); };
    NextErrBtn.OnClick = [this](TControlState &) { Navigate(false, true); };
    EndeBtn.OnClick = [this](TControlState &) { Close(); };
    FindDialog.FindBtn.OnClick = [this](TControlState &) { FindBtnClick(); };
    Memo.OnChange = [this](TControlState &) { UpdatePosition(); };
    Memo.OnSelect = [this](TControlState &) { UpdatePosition(); };
}

TShowTextDialog::~TShowTextDialog()
{
    SaveViewSettings();
}

void TShowTextDialog::AttachView(std::unique_ptr<ITextViewerView> AView)
{
    FView = std::move(AView);
    if (FView)
        FLWidth = FView->Geometry().width();
}

void TShowTextDialog::SaveViewSettings()
{
    if (!FView || FIniName.isEmpty() || !XlFileExists(FIniName, true))
        return;
    try {
        TMemIniFile ini(FIniName);
        WriteViewSettings(ini, {FView->Geometry(), Memo.Font()});
        ini.UpdateFile();
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void TShowTextDialog::SetCaption(const QString &AValue)
{
    FCaption = AValue;
    if (FView)
        FView->SetCaption(FCaption);
}

void TShowTextDialog::Execute(const QString &Title, const QString &TextDatei, const QString &PrevCap1,
                              const QString &NextCap1, const QString &SrchText1, const QString &PrevCap2,
                              const QString &NextCap2, const QString &SrchText2, const QString &Filter, QPoint APos,
                              int Line, TShowDlgType DlgType, TShowDlgButtons Buttons,
                              const TPrinterSettings &PrtSettings, int CodePage)
{
    PrinterSettings = PrtSettings;
    Execute(Title, TextDatei, PrevCap1, NextCap1, SrchText1, PrevCap2, NextCap2, SrchText2, Filter, APos, Line,
            DlgType, Buttons, CodePage);
}

void TShowTextDialog::Execute(const QString &Title, const QString &TextDatei, const QString &PrevCap1,
                              const QString &NextCap1, const QString &SrchText1, const QString &PrevCap2,
                              const QString &NextCap2, const QString &SrchText2, const QString &Filter, QPoint APos,
                              int Line, TShowDlgType DlgType, TShowDlgButtons Buttons, int CodePage)
{
    if (!FView)
        return;
    if (Visible()) {
        if (XlFileExists(TextDatei, true))
            DisplayFile(TextDatei);
        FView->BringToFront();
        return;
    }
    if (!FPosFromIni)
        FView->PlaceAt(APos);
    FTitle = Title;
    SetCaption(Title + QStringLiteral(" [") + TextDatei + QStringLiteral("]"));
    FFilter = Filter;
    FLPos = Line;

    LayoutButtons(Buttons);
    if (HasShowDlgButton(Buttons, TShowDlgBtn::sbSection)) {
        PrevSectBtn.SetHint(PrevCap1);
        NextSectBtn.SetHint(NextCap1);
        FSectText = SrchText1;
    }
    if (HasShowDlgButton(Buttons, TShowDlgBtn::sbError)) {
        PrevErrBtn.SetHint(PrevCap2);
        NextErrBtn.SetHint(NextCap2);
        FErrText = SrchText2;
    }
    if (HasShowDlgButton(Buttons, TShowDlgBtn::sbCodepage) && FCodePageList.isEmpty())
        FCodePageList = BuildCodePageList(Dt("Automatic"));
    if (FCodePage == 0)
        FCodePage = CodePage;
    FDlgType = DlgType;

    if (XlFileExists(TextDatei, true)) {
        FTextName = TextDatei;
        const bool modal = DlgType == TShowDlgType::stModal;
        FInModalRun = modal;
        FView->ShowViewer(modal);
        FInModalRun = false;
    } else {
        ShowErrorBox(Dt("File: ") + GuardedFormat(Dt("\"%s\" not found!"), TextDatei), 0);
    }
}

void TShowTextDialog::LayoutButtons(TShowDlgButtons Buttons)
{
    int x = 2;
    OpenBtn.SetVisible(HasShowDlgButton(Buttons, TShowDlgBtn::sbOpen));
    if (OpenBtn.Visible()) {
        OpenBtn.Left = 2;
        x = OpenBtn.Width + 1;
    }
    // Neighbours overlap by one pixel; hidden buttons take no room.
    const auto place = [&x](TPanelButtonState &Button, bool Shown) {
        Button.SetVisible(Shown);
        if (!Shown)
            return;
        Button.Left = x;
        x += Button.Width - 1;
    };
    place(UpdateBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbOpen));
    place(FontBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbFont));
    place(EncBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbCodepage));
    place(PrintBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbPrint));
    place(DeleteBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbErase));
    place(SearchBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbSearch));
    place(PrevSectBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbSection));
    place(NextSectBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbSection));
    place(PrevErrBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbError));
    place(NextErrBtn, HasShowDlgButton(Buttons, TShowDlgBtn::sbError));
}

void TShowTextDialog::LoadViewSettings(const QString &AIniName)
{
    if (!FView || AIniName.isEmpty() || !XlFileExists(AIniName, true))
        return;
    FIniName = AIniName;
    FPosFromIni = true;
    TViewSettings settings;
    try {
        settings = ReadViewSettings(TMemIniFile(AIniName), {FView->Geometry(), Memo.Font()});
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
        return;
    }
    FView->SetGeometry(settings.Bounds);
    FLWidth = settings.Bounds.width();
    Memo.SetFont(settings.Font);
}

void TShowTextDialog::ReloadText()
{
    if (Visible())
        DisplayFile(FTextName);
}

void TShowTextDialog::DisplayFile(const QString &AName)
{
    bool loaded = false;
    try {
        loaded = LoadTextFile(AName);
    } catch (const Exception &) {
        loaded = false;
    }
    if (!loaded)
        Memo.SetText(QStringLiteral("*** ") + GuardedFormat(Dt("Error loading file: \"%s\""), AName));
    const int count = Memo.LineCount();
    if (FLPos > 0 && FLPos < count)
        Memo.SetSelection(MemoLineStart(Memo.Text(), FLPos - 1), 0);
    else
        Memo.SetSelection(MemoLineStart(Memo.Text(), count), 0);
    UpdatePosition();
    FindDialog.Up.SetChecked(true);
}

bool TShowTextDialog::LoadTextFile(const QString &AName)
{
    FTextName = AName;
    FMemoHoldsFile = false;
    if (XlFileSize(AName) >= kMaxViewerFileSize)
        return false;
    QByteArray bytes;
    if (const uint32_t code = ReadFileBytes(AName, bytes)) {
        const char *reason = SysErrorText(code);
        throw EFOpenError(GuardedFormat(Tr("Cannot open file \"%s\". %s"), AName,
                                        reason ? Tr(reason) : QString::number(code)));
    }
    bool codePageOk = true;
    const QString text = DecodeViewerText(bytes, FCodePage, &codePageOk, &FTextFormat);
    if (!codePageOk) {
        const QRect enc = FView ? FView->ScreenRect(&EncBtn) : QRect();
        ShowErrorBoxAt(enc.bottomLeft() + QPoint(0, 1), Dt("Invalid code page - Windows default is used!"),
                       TDefaultMonitor::dmActiveForm);
        FCodePage = kAnsiCodePage;
    }
    Memo.SetText(text);
    FMemoHoldsFile = true;
    FLoadedDigest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    return true;
}

bool TShowTextDialog::LoadForPrint(const QString &AName, int ACodePage)
{
    FTextName = AName;
    FMemoHoldsFile = false;
    SetCaption(FileNameOnly(AName));
    QByteArray bytes;
    if (XlFileSize(AName) >= kMaxViewerFileSize || ReadFileBytes(AName, bytes) != 0)
        return false;
    Memo.SetText(DecodeViewerText(bytes, std::max(ACodePage, 0)));
    return true;
}

void TShowTextDialog::UpdatePosition()
{
    StatusPanels[0].SetCaption(
        GuardedFormat(Dt(" Line: %u of %u"), unsigned(Memo.CaretLine() + 1), unsigned(Memo.LineCount() + 1)));
}

void TShowTextDialog::FormShow()
{
    PrinterSettings.PrtName = FView->ResolvePrinter(PrinterSettings.PrtName);
    PrintBtn.SetEnabled(!PrinterSettings.PrtName.isEmpty());
    if (FLWidth > 0) {
        QRect bounds = FView->Geometry();
        bounds.setWidth(FLWidth);
        FView->SetGeometry(bounds);
    }
    DisplayFile(FTextName);
    FView->BringToFront();
}

void TShowTextDialog::FormClose()
{
    if (FView)
        FLWidth = FView->Geometry().width();
}

void TShowTextDialog::Close()
{
    if (Visible())
        FView->CloseViewer();
}

bool TShowTextDialog::Visible() const
{
    return FView && FView->IsShowing();
}

void TShowTextDialog::OpenBtnClick()
{
    const QString name = FView->AskOpenFile(FFilter, FTextName);
    if (name.isEmpty())
        return;
    SetCaption(FTitle + QStringLiteral(" [") + name + QStringLiteral("]"));
    DisplayFile(name);
}

void TShowTextDialog::FontBtnClick()
{
    TViewerFont font = Memo.Font();
    if (FView->AskFont(font))
        Memo.SetFont(font);
}

void TShowTextDialog::EncBtnClick()
{
    QStringList items;
    int index = -1;
    for (const TCodePageEntry &entry : FCodePageList) {
        if (entry.CodePage == FCodePage)
            index = int(items.size());
        items.append(entry.Text);
    }
    const int chosen = FView->AskCodePage(items, index);
    if (chosen < 0 || chosen >= FCodePageList.size())
        return;
    FCodePage = FCodePageList.at(chosen).CodePage;
    DisplayFile(FTextName);
}

void TShowTextDialog::PrintBtnClick()
{
    if (FPrinting)
        return;
    const bool selected = Memo.SelLength() > 0 && ConfirmBox(Dt("Print selected lines?"));
    Print(false, selected);
}

bool TShowTextDialog::Print(bool NoDialog, bool SelectedOnly)
{
    if (FPrinting || !FView)
        return false;
    FPrinting = true;
    TPrintJob job;
    job.DocName = FCaption;
    job.Title = FTitle;
    job.FileName = FTextName;
    job.Settings = PrinterSettings;
    const QString &text = Memo.Text();
    if (SelectedOnly)
        job.Lines = MemoLines(text, MemoLineOfPos(text, Memo.SelStart()),
                              MemoLineOfPos(text, Memo.SelStart() + Memo.SelLength()));
    else
        job.Lines = MemoLines(text, 0, Memo.LineCount() - 1);
    bool printed = false;
    try {
        printed = FView->PrintJob(job, !NoDialog);
    } catch (...) {
        FPrinting = false;
        throw;
    }
    FPrinting = false;
    return printed;
}

void TShowTextDialog::DeleteBtnClick()
{
    if (Memo.SelLength() > 0)
        DeleteSelection();
    else
        DeleteShownFile();
}

void TShowTextDialog::DeleteKey()
{
    if (Memo.SelLength() > 0)
        DeleteSelection();
}

bool TShowTextDialog::FileUnchanged() const
{
    QByteArray bytes;
    return ReadFileBytes(FTextName, bytes) == 0 &&
           QCryptographicHash::hash(bytes, QCryptographicHash::Sha1) == FLoadedDigest;
}

void TShowTextDialog::DeleteSelection()
{
    // An error line in place of the file is no text to save over it.
    if (!FMemoHoldsFile)
        return;
    const QPoint at = FView->ScreenRect(nullptr).topLeft() + QPoint(200, 100);
    if (!ConfirmBoxAt(at, Dt("Delete selected text?"), TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm))
        return;
    // Lines a run appended since loading would be lost with the rewrite.
    if (!FileUnchanged()) {
        DisplayFile(FTextName);
        ShowErrorBox(GuardedFormat(Dt("\"%s\" has changed meanwhile and is shown again; nothing was deleted."),
                                   FTextName),
                     0);
        return;
    }
    Memo.ClearSelection();
    // Written back as it was read (mark, code page, line ends), so programs
    // that read or append to the file still understand it.
    bool kept = true;
    const QByteArray bytes = EncodeViewerText(Memo.Text(), FTextFormat, &kept);
    if (WriteFileAtomically(FTextName, bytes) != 0) {
        ShowErrorBox(GuardedFormat(Dt("Error writing to \"%s\""), FTextName), 0);
        return;
    }
    FLoadedDigest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    if (!kept) {
        FTextFormat.Encoding = TTextEncoding::teUtf8Bom;
        FTextFormat.CodePage = 0;
    }
}

void TShowTextDialog::DeleteShownFile()
{
    const QPoint at = FView->ScreenRect(nullptr).topLeft() + QPoint(200, 100);
    if (ConfirmBoxAt(at, GuardedFormat(Dt("Delete file \"%s\"?"), FTextName), TMsgDlgBtn::mbYes,
                     TDefaultMonitor::dmActiveForm)) {
        if (const uint32_t code = XlDeleteFileEx(FTextName, false)) {
            const char *reason = SysErrorText(code);
            ShowErrorBox(GuardedFormat(Dt("Could not delete \"%s\". %s"), FTextName,
                                       reason ? Tr(reason) : QString::number(code)),
                         0);
        } else {
            FMemoHoldsFile = false;
            Memo.SetText(QString());
        }
    }
    if (FDlgType == TShowDlgType::stModal)
        Close();
}

void TShowTextDialog::SearchBtnClick()
{
    const QRect r = FView->ScreenRect(&SearchBtn);
    FView->ShowFindDialog(QPoint(r.x() + r.width(), r.y()));
}

TFindOptions TShowTextDialog::FindOptions(bool Down) const
{
    return {Down, FindDialog.MatchCase.Checked(), FindDialog.WholeWord.Checked()};
}

bool TShowTextDialog::FindNext(const QString &What, bool Down)
{
    const int pos = SearchText(Memo.Text(), What, Memo.SelStart(), Memo.SelLength(), FindOptions(Down));
    if (pos < 0) {
        MessageService().PositionedMessageDlg(QString(), GuardedFormat(Dt("\"%s\" not found!"), What),
                                              TMsgDlgType::mtCustom, MsgDlgButtons({TMsgDlgBtn::mbOK}),
                                              TMsgDlgBtn::mbOK, kDefaultPos, 0, TDefaultMonitor::dmActiveForm);
        return false;
    }
    Memo.SetSelection(pos, int(What.size()));
    UpdatePosition();
    return true;
}

void TShowTextDialog::FindBtnClick()
{
    FindNext(FindDialog.FindText.Text(), FindDialog.Down.Checked());
}

void TShowTextDialog::FindAgain(bool AReverse)
{
    const QString what = FindDialog.FindText.Text();
    if (what.isEmpty()) {
        SearchBtnClick();
        return;
    }
    FindNext(what, FindDialog.Down.Checked() != AReverse);
}

void TShowTextDialog::Navigate(bool Section, bool Down)
{
    const QString mark = Section ? FSectText : FErrText;
    // The mark becomes the find text, so F3 goes on with it.
    FindDialog.FindText.SetText(mark);
    const QString none = Section ? Dt("No further sections!") : Dt("No further errors!");
    const int pos = SearchText(Memo.Text(), mark, Memo.SelStart(), Memo.SelLength(), FindOptions(Down));
    if (pos >= 0) {
        Memo.SetSelection(pos, int(mark.size()));
        // Some lines below the hit show what follows it.
        if (Down && MemoLineOfPos(Memo.Text(), pos) > Memo.FirstVisibleLine())
            Memo.ScrollLines(2);
        StatusPanels[1].SetCaption(QString());
    } else {
        Memo.SetSelection(Down ? MemoLineStart(Memo.Text(), Memo.LineCount()) : 0, 0);
        StatusPanels[1].SetCaption(none);
    }
    UpdatePosition();
}

void TShowTextDialog::ShowControlHint(const QString &AHint)
{
    if (!AHint.isEmpty())
        ShowMessageBox(AHint, TMsgDialogType::mdtCustom);
}

// ---- The program's viewer --------------------------------------------------

namespace {

TTextViewerViewFactory gViewFactory;
TShowTextDialog *gViewer = nullptr;

TShowTextDialog *NewViewer()
{
    auto *viewer = new TShowTextDialog;
    viewer->AttachView(gViewFactory(*viewer));
    return viewer;
}

} // namespace

void SetTextViewerViewFactory(TTextViewerViewFactory AFactory)
{
    gViewFactory = std::move(AFactory);
}

TShowTextDialog *ShowTextDialog()
{
    return gViewer;
}

void FreeTextViewer()
{
    TShowTextDialog *viewer = gViewer;
    if (!viewer)
        return;
    viewer->Close();
    // A modal run in progress frees its viewer when it returns.
    if (viewer->InModalRun())
        return;
    gViewer = nullptr;
    delete viewer;
}

void ShowTextFileEx(const QString &Title, const QString &TextDatei, const QString &PrevCap1, const QString &NextCap1,
                    const QString &SrchText1, const QString &PrevCap2, const QString &NextCap2,
                    const QString &SrchText2, const QString &Filter, QPoint APos, int Line, TShowDlgType DlgType,
                    TShowDlgButtons Buttons, const TPrinterSettings &PrtSettings, int CodePage)
{
    if (!gViewFactory) {
        WriteServiceLog(GuardedFormat(Dt("%s: \"%s\" (not shown: no display)"), Title, TextDatei));
        return;
    }
    if (!gViewer) {
        gViewer = NewViewer();
        if (APos != QPoint(0, -1))
            gViewer->LoadViewSettings(ViewSettingsIni());
    }
    TShowTextDialog *viewer = gViewer;
    viewer->Execute(Title, TextDatei, PrevCap1, NextCap1, SrchText1, PrevCap2, NextCap2, SrchText2, Filter, APos,
                    Line, DlgType, Buttons, PrtSettings, CodePage);
    // A viewer whose modal run is still going on (this call came from
    // inside it) stays until that run returns.
    if (DlgType == TShowDlgType::stModal && gViewer == viewer && !viewer->InModalRun()) {
        gViewer = nullptr;
        delete viewer;
    }
}

void ShowTextFile(const QString &Title, const QString &TextDatei, QPoint APos, TShowDlgType DlgType,
                  TShowDlgButtons Buttons, const TPrinterSettings &PrtSettings, bool AtEnd, int CodePage)
{
    ShowTextFileEx(Title, TextDatei, QString(), QString(), QString(), QString(), QString(), QString(), QString(),
                   APos, AtEnd ? -1 : 1, DlgType, Buttons, PrtSettings, CodePage);
}

void PrintTextFile(const QString &FileName, const TPrinterSettings &PrtSettings, int CodePage)
{
    if (!XlFileExists(FileName, true))
        return;
    if (!gViewFactory) {
        WriteServiceLog(GuardedFormat(Dt("\"%s\" not printed: no display"), FileName));
        return;
    }
    // A viewer in a modal run keeps its text; the print gets its own.
    const bool own = !gViewer || gViewer->InModalRun();
    TShowTextDialog *viewer = own ? NewViewer() : gViewer;
    viewer->PrinterSettings = PrtSettings;
    // Nobody waits for this print: a failure goes to the log.
    if (!viewer->LoadForPrint(FileName, CodePage))
        WriteServiceLog(GuardedFormat(Dt("Error loading file: \"%s\""), FileName));
    else if (!viewer->Print(true, false))
        WriteServiceLog(GuardedFormat(Dt("\"%s\" not printed: no printer"), FileName));
    viewer->Close();
    if (viewer == gViewer)
        gViewer = nullptr;
    delete viewer;
}

} // namespace vl
