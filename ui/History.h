// Most-recently-used lists of texts (recent task files, servers, user
// names, folders, filter expressions, commands, addresses), without
// widgets:
// - THistoryList, a string list of limited length mirrored as numbered
//   items into a menu (TMenuItemState), a second menu and a second list;
// - THistoryCombo, an editable combo box state that owns a THistoryList,
//   loads it from an INI section and saves it back when destroyed;
// - free functions that keep any list or combo box as a history in an INI
//   section.
//
// INI format: keys <Ident>0, <Ident>1, ... (Ident "History" unless given),
// index 0 the most recent entry; empty values are skipped on reading.
// Saving removes the section's <Ident><n> keys past the saved entries, so
// entries removed from the list do not come back from an older save; other
// keys of the section stay.
#pragma once

#include "core/IniFile.h"
#include "ui/ControlState.h"
#include "ui/MenuState.h"
#include "ui/StringList.h"

#include <QString>

#include <functional>

namespace vl {

// Entries kept by the free functions that take no count.
inline constexpr int kDefaultHistoryCount = 50;
// Entries shown by a combo box's drop-down list unless its owner says
// otherwise; also the length of a combo box history.
inline constexpr int kDefaultDropDownCount = 8;

// MenuText: the entry of the clicked item; Index: its position.
using TListMenuEvent = std::function<void(TMenuItemState &Sender, const QString &MenuText)>;
using TListMenuEventIndex = std::function<void(TMenuItemState &Sender, int Index)>;

class THistoryList : public TStringList {
public:
    // MaxLen 15, hot keys shown, no radio items, no menus.
    THistoryList();
    // Removes the mirrored menu items.
    ~THistoryList() override;
    THistoryList(const THistoryList &) = delete;
    THistoryList &operator=(const THistoryList &) = delete;

    // An empty text does nothing. Otherwise s goes to the top (an entry
    // equal to it, ignoring case, is replaced), the last entry is dropped
    // when the list grows longer than MaxLen, and menus and StrList are
    // rebuilt.
    void AddString(const QString &s);
    void AddStringObject(const QString &s, const QVariant &AObject);
    // Removes the entry equal to s (ignoring case), if any.
    void RemString(const QString &s);
    // Removes the menu items and the StrList tail, then every entry.
    void ClearAll();
    // Checks the menu item of s; false when s is not in the list or no
    // menu is set.
    bool SelectMenuItem(const QString &s);

    // Writes the entries as History0, History1, ... (an entry of one
    // blank as "?"), removing higher History<n> keys; with Erase the
    // section is erased first.
    void SaveToIni(TMemIniFile &IniFile, const QString &IniSection, bool Erase);
    // The same on a file, written back at once (may raise EWriteError).
    void SaveToIni(const QString &IniName, const QString &IniSection, bool Erase);
    // Replaces the entries by History0 .. History<MaxLen-1> ("?" read as
    // one blank, empty values skipped). The menus are not rebuilt.
    void LoadFromIni(const TMemIniFile &IniFile, const QString &IniSection);
    void LoadFromIni(const QString &IniName, const QString &IniSection);
    // Replaces the entries by the first MaxLen entries of AList (no menu
    // rebuild).
    void AssignList(const TStringList &AList);

    // The menu whose tail mirrors the list; items it has already stay in
    // front (followed by a separator line). nullptr detaches.
    TMenuItemState *Menu() const { return FMenu; }
    void SetMenu(TMenuItemState *AValue);
    // Receives copies of the mirrored items (its own items are removed).
    TMenuItemState *Menu2() const { return FMenu2; }
    void SetMenu2(TMenuItemState *AValue) { FMenu2 = AValue; }
    // A list whose tail mirrors the entries.
    TStringList *StrList() const { return FList; }
    void SetStrList(TStringList *AValue);

    TListMenuEvent OnAutoItemClick;
    TListMenuEventIndex OnAutoItemClickIndex;

    bool ShowHotKeys() const { return FShowHotKeys; }
    void SetShowHotKeys(bool AValue);
    bool RadioMenu() const { return FRadioMenu; }
    void SetRadioMenu(bool AValue);
    int MaxLen() const { return FMaxLen; }
    // 1..100, else ignored; drops entries past the new length. Set it
    // before attaching menus: the menus are not rebuilt here.
    void SetMaxLen(int AValue);

    // Caption of the menu item of entry AIndex: the number AIndex + 1 in
    // hexadecimal, a blank, the entry.
    QString MenuCaption(int AIndex) const;

protected:
    // Click on a mirrored item.
    virtual void ItemClick(TMenuItemState &AItem);

private:
    void BuildMenu();
    void RemoveMenu();
    void BuildList();
    void RemoveList();

    TMenuItemState *FMenu = nullptr;
    TMenuItemState *FMenu2 = nullptr;
    TStringList *FList = nullptr;
    int SeparatorCount = 0;
    int ListSizeBefore = 0;
    int MenuSizeBefore = 0;
    bool FShowHotKeys = true;
    bool FRadioMenu = false;
    QString FCheckedItem;
    int FMaxLen = 15;
};

// An editable combo box with a history. The view reports entering and
// leaving the control (Enter, Exit); the drop-down button is shown only
// while there is a list to drop down (DropDown).
class THistoryCombo : public TComboBoxState {
public:
    THistoryCombo();
    // Saves the list to IniFileName/IniSection when both are set; a file
    // that cannot be written is reported to the service log.
    ~THistoryCombo() override;

    THistoryList &HistoryList() { return FHistoryList; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool AValue);
    bool Modified() const { return FModified; }
    void SetModified(bool AValue) { FModified = AValue; }
    bool AutoUpdate() const { return FAutoUpdate; }
    void SetAutoUpdate(bool AValue) { FAutoUpdate = AValue; }
    const QString &IniFileName() const { return FIniFileName; }
    void SetIniFileName(const QString &AValue) { FIniFileName = AValue; }
    const QString &IniSection() const { return FIniSection; }
    void SetIniSection(const QString &AValue) { FIniSection = AValue; }
    bool EraseSection() const { return FEraseSection; }
    void SetEraseSection(bool AValue) { FEraseSection = AValue; }
    int MaxItems() const { return FHistoryList.MaxLen(); }
    void SetMaxItems(int AValue) { FHistoryList.SetMaxLen(AValue); }
    // Whether the drop-down button is shown: a list exists and the combo
    // is not read-only.
    bool DropDown() const { return FDropDown; }

    void AddItem(const QString &s);
    void AddItemObject(const QString &s, const QVariant &AObject);
    void DeleteItem(const QString &s);
    // Index of the first entry starting with AText (ignoring case), -1.
    int FindItem(const QString &AText) const;
    // Copies the history into the items and sets DropDown.
    void UpdateList();
    // After IniFileName and IniSection are set: loads the list.
    void Loaded();
    // Remembers file and section (saved there when destroyed); loads the
    // list when the file exists and the section is named.
    void LoadFromIni(const QString &IniName, const QString &IniSection);
    // Loads from an open file (not remembered).
    void LoadFromIni(const TMemIniFile &IniFile, const QString &IniSection);
    void SaveToIni(TMemIniFile &IniFile, const QString &IniSection, bool Erase);
    void AssignList(const TStringList &AList);

    // The control gets the focus.
    void Enter();
    // The control loses the focus: Modified tells whether the text changed
    // (ignoring case) since entering; with AutoUpdate a non-empty text
    // goes to the top of the history.
    void Exit();

private:
    QString FSaveText;
    bool FReadOnly = false;
    bool FModified = false;
    bool FAutoUpdate = true;
    QString FIniFileName;
    QString FIniSection;
    THistoryList FHistoryList;
    bool FEraseSection = false;
    bool FDropDown = false;
};

// ---- Histories of any list in INI sections ----
// Ident "" means "History"; Quote stores every double quote as "#" and
// reads every "#" back as a double quote (for command lines).

// Nothing when the section does not exist (List keeps its entries); else
// List gets the non-empty values of Ident0 .. Ident<MaxCount-1>.
void ReadHistoryFromIniEx(const TMemIniFile &IniFile, const QString &Section, const QString &Ident,
                          TStringList &List, int MaxCount, bool Quote);
void ReadHistoryFromIni(const TMemIniFile &IniFile, const QString &Section, const QString &Ident,
                        TStringList &List, bool Quote);
void ReadHistoryFromIniFileEx(const QString &IniName, const QString &Section, const QString &Ident,
                              TStringList &List, int MaxCount, bool Quote);
void ReadHistoryFromIniFile(const QString &IniName, const QString &Section, const QString &Ident,
                            TStringList &List, bool Quote);
// Writes the first min(MaxCount, count) entries as Ident<i> and removes
// higher Ident<n> keys; with Erase the section is erased first.
void WriteHistoryToIniEx(TMemIniFile &IniFile, const QString &Section, const QString &Ident, bool Erase,
                         const TStringList &List, int MaxCount, bool Quote);
void WriteHistoryToIni(TMemIniFile &IniFile, const QString &Section, const QString &Ident, bool Erase,
                       const TStringList &List, bool Quote);
// The same on a file, written back at once (may raise EWriteError).
void WriteHistoryToIniFileEx(const QString &IniName, const QString &Section, const QString &Ident, bool Erase,
                             const TStringList &List, int MaxCount, bool Quote);
void WriteHistoryToIniFile(const QString &IniName, const QString &Section, const QString &Ident, bool Erase,
                           const TStringList &List, bool Quote);

// The combo's items from the "History" keys (a negative MaxCount takes
// DropDownCount); the first item is selected when there is one.
void LoadComboHistory(const QString &IniName, const QString &Section, TComboBoxState &Combo, int MaxCount,
                      bool Quote, int DropDownCount = kDefaultDropDownCount);
void SaveComboHistory(const QString &IniName, const QString &Section, bool Erase, const TComboBoxState &Combo,
                      int MaxCount, bool Quote, int DropDownCount = kDefaultDropDownCount);

// An empty Text does nothing. A Text not in List (compared as List
// compares) goes to the top, the last entry dropped first when List holds
// MaxCount or more; a Text in List moves to the top and takes the new
// spelling (its object stays).
void AddHistoryEntryEx(TStringList &List, const QString &Text, int MaxCount);
void AddHistoryEntry(TStringList &List, const QString &Text);
// AddHistoryEntryEx on the combo's items with DropDownCount as maximum;
// the first item is selected.
void AddComboHistory(TComboBoxState &Combo, const QString &Text, int DropDownCount = kDefaultDropDownCount);
// Deletes a non-empty Text from List when present.
void RemoveListEntry(TStringList &List, const QString &Text);
// Drops every attached object.
void FreeListObjects(TStringList &List);
// The selected item's text; empty when none is selected.
QString SelectedListBoxText(const TListBoxState &ListBox);

} // namespace vl
