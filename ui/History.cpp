#include "ui/History.h"

#include "core/Exceptions.h"
#include "core/MessageService.h"
#include "core/StringUtils.h"

#include <QFileInfo>

#include <algorithm>

namespace vl {

namespace {

const QString kHistoryIdent = QStringLiteral("History");
// What a history list stores for an entry of one blank (an INI value
// cannot hold it).
const QString kBlankEntry = QStringLiteral(" ");
const QString kBlankValue = QStringLiteral("?");

QString IdentOrDefault(const QString &AIdent)
{
    return AIdent.isEmpty() ? kHistoryIdent : AIdent;
}

QString HistoryKey(const QString &AIdent, int AIndex)
{
    return AIdent + QString::number(AIndex);
}

// Removes the keys <Ident><n> with n >= ACount: entries that a longer list
// saved earlier and that would be read back as if still in the list.
void DeleteHistoryKeysFrom(TMemIniFile &AIni, const QString &ASection, const QString &AIdent, int ACount)
{
    for (const QString &key : AIni.ReadSection(ASection)) {
        if (key.size() <= AIdent.size() || !key.startsWith(AIdent, Qt::CaseInsensitive))
            continue;
        const QString number = key.mid(AIdent.size());
        if (!std::all_of(number.cbegin(), number.cend(), IsDigitChar))
            continue;
        bool ok = false;
        const int n = number.toInt(&ok);
        if (!ok || n >= ACount)
            AIni.DeleteKey(ASection, key);
    }
}

QString QuoteToHash(const QString &AText, bool AQuote)
{
    return AQuote ? ReplaceChar(AText, QLatin1Char('"'), QLatin1Char('#')) : AText;
}

QString HashToQuote(const QString &AText, bool AQuote)
{
    return AQuote ? ReplaceChar(AText, QLatin1Char('#'), QLatin1Char('"')) : AText;
}

} // namespace

// ---------------------------------------------------------------------------
// THistoryList

THistoryList::THistoryList() = default;

THistoryList::~THistoryList()
{
    RemoveMenu();
}

void THistoryList::AddString(const QString &s)
{
    AddStringObject(s, QVariant());
}

void THistoryList::AddStringObject(const QString &s, const QVariant &AObject)
{
    if (s.isEmpty())
        return;
    // s may be one of the entries (a menu click passes its entry), which
    // deleting the old entry would change under our hands.
    const QString text = s;
    const int n = IndexOf(text);
    RemoveMenu();
    if (n >= 0)
        Delete(n);
    InsertObject(0, text, AObject);
    if (Count() > FMaxLen)
        Delete(Count() - 1);
    BuildMenu();
    RemoveList();
    BuildList();
}

void THistoryList::RemString(const QString &s)
{
    RemoveMenu();
    const int n = IndexOf(s);
    if (n >= 0)
        Delete(n);
    BuildMenu();
    RemoveList();
    BuildList();
}

void THistoryList::ClearAll()
{
    RemoveMenu();
    RemoveList();
    Clear();
}

bool THistoryList::SelectMenuItem(const QString &s)
{
    const int n = IndexOf(s);
    const int item = MenuSizeBefore + SeparatorCount + n;
    if (n < 0 || !FMenu || item >= FMenu->Count())
        return false;
    FMenu->Items(item).SetChecked(true);
    return true;
}

void THistoryList::SaveToIni(TMemIniFile &IniFile, const QString &IniSection, bool Erase)
{
    if (Erase)
        IniFile.EraseSection(IniSection);
    // The blank entry becomes "?" in the file only: the list and its menus
    // keep showing the entry itself.
    for (int i = 0; i < Count(); ++i)
        IniFile.WriteString(IniSection, HistoryKey(kHistoryIdent, i),
                            Strings(i) == kBlankEntry ? kBlankValue : Strings(i));
    DeleteHistoryKeysFrom(IniFile, IniSection, kHistoryIdent, Count());
}

void THistoryList::SaveToIni(const QString &IniName, const QString &IniSection, bool Erase)
{
    TMemIniFile ini(IniName);
    SaveToIni(ini, IniSection, Erase);
    ini.UpdateFile();
}

void THistoryList::LoadFromIni(const TMemIniFile &IniFile, const QString &IniSection)
{
    Clear();
    for (int i = 0; i < FMaxLen; ++i) {
        QString value = IniFile.ReadString(IniSection, HistoryKey(kHistoryIdent, i), QString());
        if (value == kBlankValue)
            value = kBlankEntry;
        if (!value.isEmpty())
            Add(value);
    }
}

void THistoryList::LoadFromIni(const QString &IniName, const QString &IniSection)
{
    LoadFromIni(TMemIniFile(IniName), IniSection);
}

void THistoryList::AssignList(const TStringList &AList)
{
    Clear();
    for (int i = 0; i < std::min(FMaxLen, AList.Count()); ++i)
        AddObject(AList.Strings(i), AList.Objects(i));
}

void THistoryList::SetMenu(TMenuItemState *AValue)
{
    if (FMenu)
        RemoveMenu();
    FMenu = AValue;
    SeparatorCount = 0;
    MenuSizeBefore = FMenu ? FMenu->Count() : 0;
    BuildMenu();
}

void THistoryList::SetStrList(TStringList *AValue)
{
    if (FList)
        RemoveList();
    FList = AValue;
    ListSizeBefore = FList ? FList->Count() : 0;
    BuildList();
}

void THistoryList::SetShowHotKeys(bool AValue)
{
    if (FShowHotKeys == AValue)
        return;
    FShowHotKeys = AValue;
    RemoveMenu();
    BuildMenu();
}

void THistoryList::SetRadioMenu(bool AValue)
{
    if (FRadioMenu == AValue)
        return;
    FRadioMenu = AValue;
    RemoveMenu();
    BuildMenu();
}

void THistoryList::SetMaxLen(int AValue)
{
    if (AValue < 1 || AValue > 100)
        return;
    FMaxLen = AValue;
    while (Count() > FMaxLen)
        Delete(Count() - 1);
}

QString THistoryList::MenuCaption(int AIndex) const
{
    QString text = Strings(AIndex);
    if (!FShowHotKeys)
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QString::number(AIndex + 1, 16).toUpper() + QLatin1Char(' ') + text;
}

void THistoryList::BuildMenu()
{
    if (!FMenu)
        return;
    if (MenuSizeBefore > 0) {
        FMenu->Add(QStringLiteral("-"));
        SeparatorCount = 1;
    }
    for (int i = 0; i < Count(); ++i) {
        auto item = std::make_unique<TMenuItemState>(MenuCaption(i));
        item->SetChecked(FRadioMenu && SameText(Strings(i), FCheckedItem));
        item->SetRadioItem(FRadioMenu);
        item->SetGroupIndex(99);
        item->OnClick = [this](TMenuItemState &AItem) { ItemClick(AItem); };
        FMenu->Add(std::move(item));
    }
    if (!FMenu2)
        return;
    FMenu2->Clear();
    for (int i = MenuSizeBefore; i < FMenu->Count(); ++i) {
        const TMenuItemState &source = FMenu->Items(i);
        auto copy = std::make_unique<TMenuItemState>(source.Caption());
        copy->SetShortCut(source.ShortCut());
        copy->SetRadioItem(source.RadioItem());
        copy->SetGroupIndex(source.GroupIndex());
        copy->SetChecked(source.Checked());
        copy->SetEnabled(source.Enabled());
        copy->SetVisible(source.Visible());
        copy->SetHint(source.Hint());
        copy->SetHelpContext(source.HelpContext());
        copy->OnClick = source.OnClick;
        FMenu2->Add(std::move(copy));
    }
}

void THistoryList::RemoveMenu()
{
    FCheckedItem.clear();
    if (FMenu) {
        while (FMenu->Count() > MenuSizeBefore) {
            const int last = FMenu->Count() - 1;
            if (FMenu->Items(last).Checked()) {
                const int entry = FMenu->Count() - MenuSizeBefore - SeparatorCount - 1;
                // The list may have changed without a rebuild (Clear,
                // LoadFromIni): such an item shows no entry any more.
                if (entry >= 0 && entry < Count())
                    FCheckedItem = Strings(entry);
            }
            FMenu->Delete(last);
        }
    }
    if (FMenu2)
        FMenu2->Clear();
}

void THistoryList::BuildList()
{
    if (!FList)
        return;
    for (int i = 0; i < Count(); ++i)
        FList->Add(Strings(i));
}

void THistoryList::RemoveList()
{
    if (!FList)
        return;
    while (FList->Count() > ListSizeBefore)
        FList->Delete(FList->Count() - 1);
}

void THistoryList::ItemClick(TMenuItemState &AItem)
{
    AItem.SetChecked(true);
    QString number = AItem.Caption();
    const qsizetype blank = number.indexOf(QLatin1Char(' '));
    if (blank >= 0)
        number.truncate(blank);
    const qsizetype amp = number.indexOf(QLatin1Char('&'));
    if (amp >= 0)
        number.remove(amp, 1);
    bool ok = false;
    int n = number.toInt(&ok, 16);
    if (!ok)
        n = 0;
    // The handlers may rebuild the menu, which frees AItem: it is not
    // touched after this point.
    TMenuItemState &sender = FMenu ? *FMenu : AItem;
    if (OnAutoItemClick && n > 0) {
        // A copy: the handler may change the list.
        if (n - 1 < Count())
            OnAutoItemClick(sender, QString(Strings(n - 1)));
    } else if (OnAutoItemClickIndex && n > 0)
        OnAutoItemClickIndex(sender, n - 1);
}

// ---------------------------------------------------------------------------
// THistoryCombo

THistoryCombo::THistoryCombo() : TComboBoxState(true) {}

THistoryCombo::~THistoryCombo()
{
    if (FIniFileName.isEmpty() || FIniSection.isEmpty())
        return;
    // A destructor cannot pass the failure on; the history is only lost.
    try {
        FHistoryList.SaveToIni(FIniFileName, FIniSection, FEraseSection);
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void THistoryCombo::SetReadOnly(bool AValue)
{
    if (FReadOnly == AValue)
        return;
    FReadOnly = AValue;
    UpdateList();
    // The view shows the read-only edit with the items.
    Notify(TStateAspect::saItems);
}

void THistoryCombo::AddItem(const QString &s)
{
    FHistoryList.AddString(s);
    UpdateList();
}

void THistoryCombo::AddItemObject(const QString &s, const QVariant &AObject)
{
    FHistoryList.AddStringObject(s, AObject);
    UpdateList();
}

void THistoryCombo::DeleteItem(const QString &s)
{
    FHistoryList.RemString(s);
    UpdateList();
}

int THistoryCombo::FindItem(const QString &AText) const
{
    for (int i = 0; i < FHistoryList.Count(); ++i)
        if (FHistoryList.Strings(i).startsWith(AText, Qt::CaseInsensitive))
            return i;
    return -1;
}

void THistoryCombo::UpdateList()
{
    SetItems(FHistoryList.Texts());
    // Keeps the typed text and selects its item when there is one.
    SetText(Text());
    const bool dropDown = !FHistoryList.IsEmpty() && !FReadOnly;
    if (dropDown != FDropDown) {
        FDropDown = dropDown;
        Notify(TStateAspect::saItems);
    }
}

void THistoryCombo::Loaded()
{
    if (FIniFileName.isEmpty() || FIniSection.isEmpty())
        return;
    FHistoryList.LoadFromIni(FIniFileName, FIniSection);
    UpdateList();
}

void THistoryCombo::LoadFromIni(const QString &IniName, const QString &IniSection)
{
    FIniFileName = IniName;
    FIniSection = IniSection;
    if (QFileInfo::exists(IniName) && !IniSection.isEmpty()) {
        FHistoryList.LoadFromIni(IniName, IniSection);
        UpdateList();
    }
}

void THistoryCombo::LoadFromIni(const TMemIniFile &IniFile, const QString &IniSection)
{
    FHistoryList.LoadFromIni(IniFile, IniSection);
    UpdateList();
}

void THistoryCombo::SaveToIni(TMemIniFile &IniFile, const QString &IniSection, bool Erase)
{
    FHistoryList.SaveToIni(IniFile, IniSection, Erase);
}

void THistoryCombo::AssignList(const TStringList &AList)
{
    FHistoryList.AssignList(AList);
    UpdateList();
}

void THistoryCombo::Enter()
{
    if (!FModified)
        FSaveText = Text();
}

void THistoryCombo::Exit()
{
    FModified = QString::compare(Text(), FSaveText, Qt::CaseInsensitive) != 0;
    if (FAutoUpdate) {
        FHistoryList.AddString(Text());
        UpdateList();
    }
}

// ---------------------------------------------------------------------------
// Free functions

void ReadHistoryFromIniEx(const TMemIniFile &IniFile, const QString &Section, const QString &Ident,
                          TStringList &List, int MaxCount, bool Quote)
{
    if (!IniFile.SectionExists(Section))
        return;
    const QString ident = IdentOrDefault(Ident);
    List.Clear();
    for (int i = 0; i < MaxCount; ++i) {
        const QString value = IniFile.ReadString(Section, HistoryKey(ident, i), QString());
        if (!value.isEmpty())
            List.Add(HashToQuote(value, Quote));
    }
}

void ReadHistoryFromIni(const TMemIniFile &IniFile, const QString &Section, const QString &Ident,
                        TStringList &List, bool Quote)
{
    ReadHistoryFromIniEx(IniFile, Section, Ident, List, kDefaultHistoryCount, Quote);
}

void ReadHistoryFromIniFileEx(const QString &IniName, const QString &Section, const QString &Ident,
                              TStringList &List, int MaxCount, bool Quote)
{
    ReadHistoryFromIniEx(TMemIniFile(IniName), Section, Ident, List, MaxCount, Quote);
}

void ReadHistoryFromIniFile(const QString &IniName, const QString &Section, const QString &Ident,
                            TStringList &List, bool Quote)
{
    ReadHistoryFromIniFileEx(IniName, Section, Ident, List, kDefaultHistoryCount, Quote);
}

void WriteHistoryToIniEx(TMemIniFile &IniFile, const QString &Section, const QString &Ident, bool Erase,
                         const TStringList &List, int MaxCount, bool Quote)
{
    const QString ident = IdentOrDefault(Ident);
    if (Erase)
        IniFile.EraseSection(Section);
    const int count = std::max(0, std::min(MaxCount, List.Count()));
    for (int i = 0; i < count; ++i)
        IniFile.WriteString(Section, HistoryKey(ident, i), QuoteToHash(List.Strings(i), Quote));
    DeleteHistoryKeysFrom(IniFile, Section, ident, count);
}

void WriteHistoryToIni(TMemIniFile &IniFile, const QString &Section, const QString &Ident, bool Erase,
                       const TStringList &List, bool Quote)
{
    WriteHistoryToIniEx(IniFile, Section, Ident, Erase, List, kDefaultHistoryCount, Quote);
}

void WriteHistoryToIniFileEx(const QString &IniName, const QString &Section, const QString &Ident, bool Erase,
                             const TStringList &List, int MaxCount, bool Quote)
{
    TMemIniFile ini(IniName);
    WriteHistoryToIniEx(ini, Section, Ident, Erase, List, MaxCount, Quote);
    ini.UpdateFile();
}

void WriteHistoryToIniFile(const QString &IniName, const QString &Section, const QString &Ident, bool Erase,
                           const TStringList &List, bool Quote)
{
    WriteHistoryToIniFileEx(IniName, Section, Ident, Erase, List, kDefaultHistoryCount, Quote);
}

void LoadComboHistory(const QString &IniName, const QString &Section, TComboBoxState &Combo, int MaxCount,
                      bool Quote, int DropDownCount)
{
    TStringList items(Combo.Items());
    ReadHistoryFromIniFileEx(IniName, Section, kHistoryIdent, items, MaxCount < 0 ? DropDownCount : MaxCount,
                             Quote);
    Combo.SetItems(items.Texts());
    if (!items.IsEmpty())
        Combo.SetItemIndex(0);
}

void SaveComboHistory(const QString &IniName, const QString &Section, bool Erase, const TComboBoxState &Combo,
                      int MaxCount, bool Quote, int DropDownCount)
{
    WriteHistoryToIniFileEx(IniName, Section, kHistoryIdent, Erase, TStringList(Combo.Items()),
                            MaxCount < 0 ? DropDownCount : MaxCount, Quote);
}

void AddHistoryEntryEx(TStringList &List, const QString &Text, int MaxCount)
{
    if (Text.isEmpty())
        return;
    // Text may be one of the entries, which moving them would change.
    const QString text = Text;
    const int n = List.IndexOf(text);
    if (n < 0) {
        if (List.Count() >= MaxCount && !List.IsEmpty())
            List.Delete(List.Count() - 1);
        List.Insert(0, text);
        return;
    }
    if (n > 0)
        List.Move(n, 0);
    List.SetString(0, text);
}

void AddHistoryEntry(TStringList &List, const QString &Text)
{
    AddHistoryEntryEx(List, Text, kDefaultHistoryCount);
}

void AddComboHistory(TComboBoxState &Combo, const QString &Text, int DropDownCount)
{
    TStringList items(Combo.Items());
    AddHistoryEntryEx(items, Text, DropDownCount);
    Combo.SetItems(items.Texts());
    if (!items.IsEmpty())
        Combo.SetItemIndex(0);
}

void RemoveListEntry(TStringList &List, const QString &Text)
{
    if (Text.isEmpty())
        return;
    const int n = List.IndexOf(Text);
    if (n >= 0)
        List.Delete(n);
}

void FreeListObjects(TStringList &List)
{
    for (int i = 0; i < List.Count(); ++i)
        List.SetObject(i, QVariant());
}

QString SelectedListBoxText(const TListBoxState &ListBox)
{
    const int index = ListBox.ItemIndex();
    return index >= 0 && index < ListBox.Items().size() ? ListBox.Items().at(index) : QString();
}

} // namespace vl
