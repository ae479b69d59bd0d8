#include "ui/InputDialogs.h"

#include "core/Exceptions.h"
#include "core/MessageService.h"
#include "core/Placeholders.h"
#include "core/Translate.h"
#include "ui/History.h"
#include "ui/InputDialogViews.h"

#include <QStringView>

#include <algorithm>
#include <iterator>

namespace vl {

namespace {

const QChar kComma = QLatin1Char(',');
const QChar kQuote = QLatin1Char('"');
const QChar kLineFeed = QLatin1Char('\n');
const QString kCrLf = QStringLiteral("\r\n");

bool IsBlankOrControl(QChar c)
{
    return c.unicode() <= 32;
}

QString Dlg(const char *AText)
{
    return TrDomain(kDialogsDomain, AText);
}

QStringList TrList(std::initializer_list<const char *> ATexts)
{
    QStringList result;
    for (const char *text : ATexts)
        result << Tr(text);
    return result;
}

// An entry of a placeholder table; empty for an index outside it.
template <size_t N>
QString TableEntry(const QLatin1String (&ATable)[N], int AIndex)
{
    return AIndex >= 0 && size_t(AIndex) < N ? QString(ATable[AIndex]) : QString();
}

// Largest cycle of the "Alternating ..." items: days, weeks, months,
// versions.
constexpr int kFirstCycleItem = 3;
constexpr int64_t kMaxCycle[] = {366, 53, 12, 99};

} // namespace

// ---------------------------------------------------------------------------
// Comma texts

QStringList CommaTextToItems(const QString &AText)
{
    QStringList items;
    const qsizetype n = AText.size();
    qsizetype i = 0;
    while (i < n && IsBlankOrControl(AText[i]))
        ++i;
    while (i < n) {
        if (AText[i] == kQuote) {
            QString item;
            ++i;
            while (i < n) {
                if (AText[i] == kQuote) {
                    if (i + 1 < n && AText[i + 1] == kQuote) {
                        item += kQuote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += AText[i++];
            }
            items << item;
        } else {
            const qsizetype start = i;
            while (i < n && !IsBlankOrControl(AText[i]) && AText[i] != kComma)
                ++i;
            items << AText.mid(start, i - start);
        }
        while (i < n && IsBlankOrControl(AText[i]))
            ++i;
        if (i < n && AText[i] == kComma) {
            if (i + 1 == n)
                items << QString();
            ++i;
            while (i < n && IsBlankOrControl(AText[i]))
                ++i;
        }
    }
    return items;
}

QString ItemsToCommaText(const QStringList &AItems)
{
    if (AItems.size() == 1 && AItems.first().isEmpty())
        return QStringLiteral("\"\"");
    QStringList out;
    for (const QString &item : AItems) {
        const bool quote = std::any_of(item.begin(), item.end(),
                                       [](QChar c) { return IsBlankOrControl(c) || c == kComma || c == kQuote; });
        if (!quote) {
            out << item;
            continue;
        }
        QString quoted = item;
        quoted.replace(kQuote, QStringLiteral("\"\""));
        out << kQuote + quoted + kQuote;
    }
    return out.join(kComma);
}

// ---------------------------------------------------------------------------
// TInputTextDialog

TInputTextDialog::TInputTextDialog()
{
    Form.SetCaption(Dlg("Edit text"));
    CharTabBtn.SetCaption(Dlg("Character table"));
    OKBtn.SetCaption(Dlg("OK"));
    CancelBtn.SetCaption(Dlg("Cancel"));
    CharTabBtn.OnClick = [this](TControlState &) { AddCharacter(); };
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

TInputTextDialog::~TInputTextDialog()
{
    if (FIniName.isEmpty() || FIniSection.isEmpty())
        return;
    try {
        SaveComboHistory(FIniName, FIniSection, true, TextFeld, -1, false, kDropDownCount);
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void TInputTextDialog::LoadFromIni(const QString &AIniName, const QString &AIniSection)
{
    FIniName = AIniName;
    FIniSection = AIniSection;
    if (FIniName.isEmpty() || FIniSection.isEmpty())
        return;
    LoadComboHistory(FIniName, FIniSection, TextFeld, -1, false, kDropDownCount);
    FDropDown = !TextFeld.Items().isEmpty();
    FAutoComplete = true;
}

void TInputTextDialog::SetHistory(const TStringList &HList, bool Sorted)
{
    QStringList items = HList.Texts();
    if (Sorted) {
        TStringList sorted;
        sorted.SetSorted(true);
        for (const QString &item : std::as_const(items))
            sorted.Add(item);
        items = sorted.Texts();
    }
    TextFeld.SetItems(items);
}

void TInputTextDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable,
                             const QString &AFontName, const QString &AText)
{
    Position = APos;
    if (!Titel.isEmpty())
        Form.SetCaption(Titel);
    Descriptor.SetCaption(Desc);
    CharTabBtn.SetVisible(ShowTable);
    if (!AFontName.isEmpty())
        FFontName = AFontName;
    FDropDown = !TextFeld.Items().isEmpty();
    FAutoComplete = true;
    TextFeld.SetText(AText);
    TextFeld.SetHint(Desc);
    FInitialText = AText;
}

int TInputTextDialog::ClientWidth(const TTextWidthFunc &ATextWidth) const
{
    return std::max(kDefWidth, ATextWidth(FInitialText) + ScaleToFormDpi(20));
}

void TInputTextDialog::AddCharacter()
{
    // At the button's top-right corner.
    const QRect button = ControlScreenRect(CharTabBtn);
    const QPoint pos = button.isEmpty() ? kDefaultPos : QPoint(button.x() + button.width(), button.y());
    const QChar c = SelectCharacter(pos, FFontName);
    if (!c.isNull())
        TextFeld.SetText(TextFeld.Text() + c);
}

void TInputTextDialog::Finish(QString &AText)
{
    AText = TextFeld.Text();
    AddComboHistory(TextFeld, AText, kDropDownCount);
}

bool TInputTextDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable,
                               const QString &AFontName, QString &AText)
{
    Setup(APos, Titel, Desc, ShowTable, AFontName, AText);
    InputDialogViews().ExecuteInputText(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(AText);
    return true;
}

bool InputTextEx(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, const QString &AFontName,
                 TStringList *HList, bool Sorted, QString &AText)
{
    TInputTextDialog dialog;
    if (HList)
        dialog.SetHistory(*HList, Sorted);
    if (!dialog.Execute(APos, Titel, Desc, ShowTable, AFontName, AText))
        return false;
    if (HList)
        HList->SetTexts(dialog.TextFeld.Items());
    return true;
}

bool InputText(QPoint APos, const QString &Titel, const QString &Desc, bool ShowTable, QString &AText)
{
    return InputTextEx(APos, Titel, Desc, ShowTable, QString(), nullptr, false, AText);
}

// ---------------------------------------------------------------------------
// TCharTableDialog

void TCharGridState::SetCell(int ARow, int ACol)
{
    ARow = std::clamp(ARow, 1, kCells - 1);
    ACol = std::clamp(ACol, 1, kCells - 1);
    if (ARow == FRow && ACol == FCol)
        return;
    FRow = ARow;
    FCol = ACol;
    Notify(TStateAspect::saItemIndex);
}

bool TCharGridState::UserSelect(int ARow, int ACol)
{
    if (!AcceptsUser() || ARow < 1 || ARow >= kCells || ACol < 1 || ACol >= kCells)
        return false;
    SetCell(ARow, ACol);
    return true;
}

bool TCharGridState::UserDoubleClick(int ARow, int ACol)
{
    if (!UserSelect(ARow, ACol))
        return false;
    Fire(OnDblClick);
    return true;
}

QString TCharGridState::HeaderText(int AIndex)
{
    return QString::number(AIndex - 1, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

TCharTableDialog::TCharTableDialog()
{
    Form.SetCaption(Dlg("Character table"));
    leValueLabel.SetCaption(Dlg("Hex value:"));
    OKBtn.SetCaption(Dlg("Select"));
    CancelBtn.SetCaption(Dlg("Cancel"));
    leValue.OnChange = [this](TControlState &) {
        int64_t value = -1;
        if (TryHexStrToInt64(leValue.Text(), value) && value >= 0 && value <= 0xFF)
            CharGrid.SetCell(int(value / 16) + 1, int(value % 16) + 1);
    };
    CharGrid.OnDblClick = [this](TControlState &) { CloseModal(mrOk); };
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TCharTableDialog::Setup(QPoint APos, const QString &AFontName)
{
    Position = APos;
    GridFontName = AFontName;
}

int TCharTableDialog::Result() const
{
    return ModalResult() == mrOk ? CharGrid.Code() : 0;
}

int TCharTableDialog::Execute(QPoint APos, const QString &AFontName)
{
    Setup(APos, AFontName);
    InputDialogViews().ExecuteCharTable(*this);
    return Result();
}

QChar SelectCharacter(QPoint APos, const QString &FontName)
{
    TCharTableDialog dialog;
    return QChar(char16_t(dialog.Execute(APos, FontName)));
}

// ---------------------------------------------------------------------------
// TInputStringDialog

TInputStringDialog::TInputStringDialog()
{
    Form.SetCaption(Dlg("Edit text"));
    OKBtn.SetCaption(Dlg("OK"));
    CancelBtn.SetCaption(Dlg("Cancel"));
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TInputStringDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &AText)
{
    Position = APos;
    if (!Titel.isEmpty())
        Form.SetCaption(Titel);
    Descriptor.SetCaption(Desc);
    TextFeld.SetText(AText);
    TextFeld.SetHint(Desc);
    FInitialText = AText;
}

int TInputStringDialog::ClientWidth(const TTextWidthFunc &ATextWidth) const
{
    return std::max(kDefWidth, ATextWidth(FInitialText) + ScaleToFormDpi(20));
}

void TInputStringDialog::Finish(QString &AText) const
{
    AText = TextFeld.Text();
}

bool TInputStringDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, QString &AText)
{
    Setup(APos, Titel, Desc, AText);
    InputDialogViews().ExecuteInputString(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(AText);
    return true;
}

bool EditString(QPoint APos, const QString &Titel, const QString &Desc, QString &AText)
{
    TInputStringDialog dialog;
    return dialog.Execute(APos, Titel, Desc, AText);
}

// ---------------------------------------------------------------------------
// TTextEingabe

TTextEingabe::TTextEingabe()
{
    Form.SetCaption(Dlg("Dialog"));
    OKBtn.SetCaption(Dlg("OK"));
    CancelBtn.SetCaption(Dlg("Cancel"));
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TTextEingabe::Setup(QPoint APos, const QString &Titel, const QString &Desc1, const QString &Desc2,
                         const QString &SwDesc, const QString &AText, const QString &BText, TSwitchMode TSw)
{
    Position = APos;
    Form.SetCaption(Titel);
    Switch.SetVisible(TSw != TSwitchMode::tsNotVis);
    if (TSw != TSwitchMode::tsNotVis) {
        Switch.SetCaption(SwDesc);
        Switch.SetChecked(TSw == TSwitchMode::tsOn);
    }
    const bool two = !Desc2.isEmpty();
    Descriptor2.SetVisible(two);
    Textfeld2.SetVisible(two);
    if (two) {
        TextFeld1.SetHint(Desc1);
        Textfeld2.SetHint(Desc2);
        Descriptor2.SetCaption(Desc2);
        Textfeld2.SetText(BText);
    }
    TextFeld1.SetText(AText);
    Descriptor1.SetCaption(Desc1);
}

void TTextEingabe::Finish(QString &AText, QString &BText, TSwitchMode &TSw) const
{
    AText = TextFeld1.Text();
    if (TwoFields())
        BText = Textfeld2.Text();
    if (Switch.Visible())
        TSw = Switch.Checked() ? TSwitchMode::tsOn : TSwitchMode::tsOff;
}

bool TTextEingabe::Execute(QPoint APos, const QString &Titel, const QString &Desc1, const QString &Desc2,
                           const QString &SwDesc, QString &AText, QString &BText, TSwitchMode &TSw)
{
    Setup(APos, Titel, Desc1, Desc2, SwDesc, AText, BText, TSw);
    InputDialogViews().ExecuteTextEingabe(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(AText, BText, TSw);
    return true;
}

bool EnterText(QPoint APos, const QString &Titel, const QString &Desc1, QString &AText)
{
    TTextEingabe dialog;
    QString second;
    TSwitchMode mode = TSwitchMode::tsNotVis;
    return dialog.Execute(APos, Titel, Desc1, QString(), QString(), AText, second, mode);
}

// ---------------------------------------------------------------------------
// TMemoDialog

TMemoDialog::TMemoDialog()
{
    Form.SetCaption(Dlg("Dialog"));
    OKBtn.SetCaption(Dlg("OK"));
    CancelBtn.SetCaption(Dlg("Cancel"));
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TMemoDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &AText,
                        bool UseCommaText)
{
    Position = APos;
    Form.SetCaption(Titel);
    Descriptor.SetCaption(Desc);
    Memo.SetHint(Desc);
    FCommaText = UseCommaText;
    QString text = UseCommaText ? CommaTextToItems(AText).join(kLineFeed) : AText;
    text.replace(kCrLf, QString(kLineFeed));
    Memo.SetText(text);
    FCaretPos = int(AText.size());
}

QStringList TMemoDialog::Lines() const
{
    return Memo.Text().isEmpty() ? QStringList() : Memo.Text().split(kLineFeed);
}

int TMemoDialog::ClientWidth(int ACurrent, const TTextWidthFunc &ATextWidth, int AWorkAreaWidth) const
{
    const int widest = StringsMaxTextWidth(Lines(), ATextWidth);
    const int measured = widest + widest / 10;
    if (ACurrent >= measured)
        return ACurrent;
    return std::max(ACurrent, std::min(measured, AWorkAreaWidth / 2));
}

void TMemoDialog::Finish(QString &AText) const
{
    AText = FCommaText ? ItemsToCommaText(Lines()) : Lines().join(kCrLf);
}

bool TMemoDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, QString &AText, bool UseCommaText)
{
    Setup(APos, Titel, Desc, AText, UseCommaText);
    InputDialogViews().ExecuteMemo(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(AText);
    return true;
}

bool EditCommaText(QPoint APos, const QString &Titel, const QString &Desc, QString &AText)
{
    TMemoDialog dialog;
    return dialog.Execute(APos, Titel, Desc, AText, true);
}

bool EditMemoText(QPoint APos, const QString &Titel, const QString &Desc, QString &AText)
{
    TMemoDialog dialog;
    return dialog.Execute(APos, Titel, Desc, AText, false);
}

// ---------------------------------------------------------------------------
// TPlaceHolderDialog

void TPageState::SetActivePage(int AValue)
{
    if (AValue == FActivePage)
        return;
    FActivePage = AValue;
    Notify(TStateAspect::saItemIndex);
}

TPlaceHolderDialog::TPlaceHolderDialog()
{
    Form.SetCaption(Tr("Insert placeholder"));
    const QStringList date = TrList({"Date (e.g. 2010-12-04)", "Year and week (e.g. 2009-53)",
                                     "Short day of the week (e.g. Mon,Tue)", "Long day of the week (e.g. Monday)",
                                     "Number of day of week (Monday = 1)", "Day of year (001 .. 365)",
                                     "Week of year (01 .. 53)", "Day of month (01 .. 31)", "Week of month (1 .. 6)",
                                     "Month of year (01 .. 12)", "Name of month (e.g. January)", "Year (e.g. 2010)",
                                     "Other"});
    const QStringList exec = TrList({"Date and time", "Filename of task", "Destination path", "Name of zip archive",
                                     "System directory", "Backup task path", "Velkor path", "User name", "Password",
                                     "Log file", "Backup status"});
    const QStringList log = TrList({"Date (e.g. 2010-12-04)", "Time (000000 .. 235959)",
                                    "Year and week (e.g. 2009-53)", "Year and month (e.g. 2019-07)",
                                    "Year (e.g. 2010)", "User name", "Computer name", "Destination path",
                                    "Drive of destinatiom", "Volume name of destination"});
    DaPlaceHolderRG.SetItems(date);
    PaPlaceHolderRG.SetItems(TrList({"My Documents", "Application data", "User profile", "Desktop", "Favorites",
                                     "Program files", "Velkor path", "User name", "Computer name",
                                     "Other environment variables"}));
    MaPlaceHolderRG.SetItems(TrList({"Task name", "User name", "Computer name", "Start time of action",
                                     "End time of action", "Duration of action", "Status of action"}));
    SyPlaceholderRG.SetItems(TrList({"User application data", "User local application data", "All users profile",
                                     "Public files", "Program files", "Common program files", "Program files (x86)",
                                     "Common program files (x86)", "Program data"}));
    PostExPlaceholderRG.SetItems(exec);
    PreExPlaceHolderRG.SetItems(exec.mid(0, 9));
    TmPlaceHolderRG.SetItems(TrList({"Time (000000 .. 235959)", "Hour (00 .. 23)", "Minute (00 .. 59)",
                                     "Alternating days:", "Alternating weeks:", "Alternating months:",
                                     "Alternating versions:", "User name", "Computer name", "Volume name of source",
                                     "Backup mode", "Other"}));
    BuLogPlaceholderRG.SetItems(log);
    LogPlaceholderRG.SetItems(log.mid(0, 7));
    PortablePlaceholderRG.SetItems(QStringList{Tr("Device name")} + date.mid(0, 12));
    for (int i = 0; i < kPageCount; ++i) {
        TRadioGroupState &group = Page(TPhPage(i));
        group.SetCaption(Tr("Placeholder for"));
        const TPhPage page = TPhPage(i);
        group.SetItemIndex(page == TPhPage::tsPreExec || page == TPhPage::tsPostExec ? 1 : 0);
    }

    reCycle.Name = QStringLiteral("reCycle");
    reCycle.SetMinValue(2);
    reCycle.SetMaxValue(99);
    reCycle.SetValue(2);
    reCycle.SetModified(false);
    reCycle.SetVisible(false);
    udCycle.Name = QStringLiteral("udCycle");
    udCycle.SetAssociate(&reCycle);
    udCycle.SetVisible(false);
    OKBtn.SetCaption(Tr("OK"));
    CancelBtn.SetCaption(Tr("Cancel"));

    // The navigation items switch pages.
    DaPlaceHolderRG.OnClick = [this](TControlState &) {
        if (DaPlaceHolderRG.ItemIndex() == DaPlaceHolderRG.Items().size() - 1) {
            ShowPage(TPhPage::tsTime);
            TmPlaceHolderRG.SetItemIndex(0);
        }
    };
    PaPlaceHolderRG.OnClick = [this](TControlState &) {
        if (PaPlaceHolderRG.ItemIndex() == PaPlaceHolderRG.Items().size() - 1)
            ShowPage(TPhPage::tsSystem);
    };
    const TNotifyEvent toDate = [this](TControlState &ASender) {
        if (static_cast<TRadioGroupState &>(ASender).ItemIndex() == 0)
            ShowPage(TPhPage::tsDateTime);
    };
    PreExPlaceHolderRG.OnClick = toDate;
    PostExPlaceholderRG.OnClick = toDate;
    TmPlaceHolderRG.OnClick = [this](TControlState &) { TimeItemClick(); };
    OKBtn.OnClick = [this](TControlState &) { Accept(); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

TRadioGroupState &TPlaceHolderDialog::Page(TPhPage APage)
{
    TRadioGroupState *const groups[kPageCount] = {
        &DaPlaceHolderRG,     &PaPlaceHolderRG,    &MaPlaceHolderRG, &SyPlaceholderRG,
        &PostExPlaceholderRG, &PreExPlaceHolderRG, &TmPlaceHolderRG, &BuLogPlaceholderRG,
        &LogPlaceholderRG,    &PortablePlaceholderRG};
    return *groups[std::clamp(int(APage), 0, kPageCount - 1)];
}

void TPlaceHolderDialog::ShowPage(TPhPage APage)
{
    PageControl.SetActivePage(int(APage));
}

void TPlaceHolderDialog::TimeItemClick()
{
    const int item = TmPlaceHolderRG.ItemIndex();
    if (item == TmPlaceHolderRG.Items().size() - 1) {
        ShowPage(TPhPage::tsDateTime);
        DaPlaceHolderRG.SetItemIndex(0);
    }
    const int cycle = item - kFirstCycleItem;
    const bool alternating = cycle >= 0 && cycle < int(std::size(kMaxCycle));
    if (alternating)
        reCycle.SetMaxValue(kMaxCycle[cycle]);
    reCycle.SetVisible(alternating);
    udCycle.SetVisible(alternating);
}

void TPlaceHolderDialog::Setup(QPoint APos, TPhType pt, const QString &AAction)
{
    Position = APos;
    TPhPage page = TPhPage::tsDateTime;
    switch (pt) {
    case TPhType::ptPath:
        page = TPhPage::tsPath;
        break;
    case TPhType::ptMail:
        page = TPhPage::tsMail;
        MaPlaceHolderRG.SetCaption(Tr("Placeholder for") + QLatin1Char(' ') + AAction);
        break;
    case TPhType::ptPreEx:
        page = TPhPage::tsPreExec;
        break;
    case TPhType::ptPostEx:
        page = TPhPage::tsPostExec;
        break;
    case TPhType::ptBuLog:
        page = TPhPage::tsBuLog;
        break;
    case TPhType::ptOtherLog:
        page = TPhPage::tsOtherLog;
        break;
    case TPhType::ptPortable:
        page = TPhPage::tsPortable;
        break;
    default:
        break;
    }
    ShowPage(page);
}

QString TPlaceHolderDialog::Result() const
{
    auto *self = const_cast<TPlaceHolderDialog *>(this);
    const int item = self->Page(ActivePage()).ItemIndex();
    switch (ActivePage()) {
    case TPhPage::tsDateTime:
        return TableEntry(DatePlaceHolders, item);
    case TPhPage::tsPath:
        return TableEntry(PathPlaceHolders, item);
    case TPhPage::tsMail:
        return TableEntry(MailPlaceHolders, item);
    case TPhPage::tsSystem:
        return TableEntry(SystemPlaceHolders, item);
    case TPhPage::tsPostExec:
    case TPhPage::tsPreExec:
        return TableEntry(ExecPlaceHolders, item - 1);
    case TPhPage::tsTime: {
        QString text = TableEntry(TimePlaceHolders, item);
        if (text.contains(QLatin1Char('#')))
            text.replace(QLatin1Char('?'), QString::number(reCycle.StoredValue()));
        return text;
    }
    case TPhPage::tsBuLog:
    case TPhPage::tsOtherLog:
        return TableEntry(LogPlaceHolders, item);
    case TPhPage::tsPortable:
        return TableEntry(DevicePlaceHolders, item);
    }
    return QString();
}

void TPlaceHolderDialog::Accept()
{
    if (ActivePage() == TPhPage::tsTime && reCycle.Visible()) {
        // Leaving the edit already found a bad entry: its box is coming.
        if (reCycle.ErrorPending())
            return;
        // As when the focus leaves the cycle edit: a cycle outside its
        // range must not end up in the placeholder.
        try {
            reCycle.Exit();
        } catch (const EUserRangeError &e) {
            ShowErrorBox(e.Message(), 0);
            return;
        }
    }
    CloseModal(mrOk);
}

QString TPlaceHolderDialog::Execute(QPoint APos, TPhType pt, const QString &AAction)
{
    Setup(APos, pt, AAction);
    InputDialogViews().ExecutePlaceHolder(*this);
    return ModalResult() == mrOk ? Result() : QString();
}

QString SelectPlaceholder(QPoint APos, TPhType pt, const QString &AAction)
{
    TPlaceHolderDialog dialog;
    return dialog.Execute(APos, pt, AAction);
}

} // namespace vl
