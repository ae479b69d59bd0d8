#include "ui/EditHistList.h"
#include "ui/History.h"

#include "common/TestUtils.h"
#include "ListTestViews.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TRecordingMessages;
using vl::test::TScriptedViews;
using vl::test::MakeTempDir;

namespace {

QStringList Captions(const TMenuItemState &AMenu)
{
    QStringList captions;
    for (int i = 0; i < AMenu.Count(); ++i)
        captions << AMenu.Items(i).Caption();
    return captions;
}

QStringList CheckedCaptions(const TMenuItemState &AMenu)
{
    QStringList captions;
    for (int i = 0; i < AMenu.Count(); ++i)
        if (AMenu.Items(i).Checked())
            captions << AMenu.Items(i).Caption();
    return captions;
}

void Fill(THistoryList &AList, const QStringList &AEntries)
{
    // AddString puts each on top: add the last first.
    for (auto it = AEntries.crbegin(); it != AEntries.crend(); ++it)
        AList.AddString(*it);
}

QString IniText(const TMemIniFile &AIni, const QString &ASection)
{
    return AIni.ReadSectionValues(ASection).join(QLatin1Char(';'));
}

} // namespace

// ---- Adding and removing ---------------------------------------------------

TEST(HistoryListTest, AddStringPutsTextOnTopReplacingAnEntryEqualIgnoringCase)
{
    struct Case {
        QStringList before;
        QString added;
        QStringList after;
    } cases[] = {
        {{u"a"_s, u"B"_s, u"c"_s}, u"b"_s, {u"b"_s, u"a"_s, u"c"_s}},
        {{u"a"_s, u"b"_s}, u"a"_s, {u"a"_s, u"b"_s}},
        {{u"a"_s, u"b"_s}, u""_s, {u"a"_s, u"b"_s}},
        {{u"a"_s, u"b"_s, u"c"_s}, u"d"_s, {u"d"_s, u"a"_s, u"b"_s}}, // MaxLen 3: the last one goes
    };
    for (const Case &c : cases) {
        THistoryList list;
        list.SetMaxLen(3);
        Fill(list, c.before);
        list.AddString(c.added);
        EXPECT_EQ(list.Texts(), c.after) << c.added.toStdString();

        // The free function gives the same list.
        TStringList plain(c.before);
        AddHistoryEntryEx(plain, c.added, 3);
        EXPECT_EQ(plain.Texts(), c.after) << c.added.toStdString();
    }
}

TEST(HistoryListTest, AddHistoryEntryMovesAPresentEntryWithoutDroppingAny)
{
    TStringList list(QStringList{u"a"_s, u"b"_s, u"c"_s, u"X"_s, u"e"_s});
    list.SetObject(3, 42);
    AddHistoryEntryEx(list, u"x"_s, 5);
    EXPECT_EQ(list.Texts(), (QStringList{u"x"_s, u"a"_s, u"b"_s, u"c"_s, u"e"_s}));
    EXPECT_EQ(list.Objects(0).toInt(), 42); // the entry moved with its object
}

TEST(HistoryListTest, MaxLenOutsideOneToHundredIsIgnoredAndShorteningDropsTheTail)
{
    THistoryList list;
    Fill(list, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    list.SetMaxLen(0);
    list.SetMaxLen(101);
    EXPECT_EQ(list.MaxLen(), 15);
    list.SetMaxLen(2);
    EXPECT_EQ(list.Texts(), (QStringList{u"a"_s, u"b"_s}));
}

// ---- Menu mirroring ---------------------------------------------------------

TEST(HistoryListTest, MenuItemsAreNumberedInHexadecimalAfterTheMenusOwnItems)
{
    TMenuItemState menu;
    menu.Add(u"Open..."_s);
    THistoryList list;
    list.SetMaxLen(20);
    list.SetMenu(&menu);
    for (int i = 17; i >= 1; --i)
        list.AddString(u"t%1"_s.arg(i));
    ASSERT_EQ(menu.Count(), 1 + 1 + 17);
    EXPECT_EQ(menu.Items(0).Caption(), u"Open..."_s);
    EXPECT_TRUE(menu.Items(1).IsLine());
    EXPECT_EQ(menu.Items(2).Caption(), u"1 t1"_s);
    EXPECT_EQ(menu.Items(2 + 14).Caption(), u"F t15"_s);
    EXPECT_EQ(menu.Items(2 + 15).Caption(), u"10 t16"_s);
    EXPECT_EQ(menu.Items(2).GroupIndex(), 99);

    // Removing an entry rebuilds the tail; the own item stays.
    list.RemString(u"T1"_s);
    EXPECT_EQ(menu.Count(), 1 + 1 + 16);
    EXPECT_EQ(menu.Items(2).Caption(), u"1 t2"_s);
    list.ClearAll();
    EXPECT_EQ(Captions(menu), QStringList{u"Open..."_s});
}

TEST(HistoryListTest, WithoutHotKeysAmpersandsAreShownLiterally)
{
    TMenuItemState menu;
    THistoryList list;
    list.SetMenu(&menu);
    list.AddString(u"Save && &Exit"_s);
    list.AddString(u"R&D"_s);
    EXPECT_EQ(Captions(menu), (QStringList{u"1 R&D"_s, u"2 Save && &Exit"_s}));
    list.SetShowHotKeys(false);
    EXPECT_EQ(Captions(menu), (QStringList{u"1 R&&D"_s, u"2 Save &&&& &&Exit"_s}));
}

TEST(HistoryListTest, RadioMenuKeepsTheCheckOnTheSameTextWhenItMoves)
{
    TMenuItemState menu;
    THistoryList list;
    list.SetRadioMenu(true);
    list.SetMenu(&menu);
    Fill(list, {u"a"_s, u"b"_s, u"c"_s});
    ASSERT_TRUE(list.SelectMenuItem(u"B"_s));
    EXPECT_EQ(CheckedCaptions(menu), QStringList{u"2 b"_s});

    list.AddString(u"new"_s);
    EXPECT_EQ(CheckedCaptions(menu), QStringList{u"3 b"_s});
    list.AddString(u"c"_s);
    EXPECT_EQ(CheckedCaptions(menu), QStringList{u"4 b"_s});
    EXPECT_TRUE(menu.Items(0).RadioItem());

    EXPECT_FALSE(list.SelectMenuItem(u"missing"_s));
}

TEST(HistoryListTest, ClickReportsTheEntryOfTheItemsNumber)
{
    TMenuItemState menu;
    menu.Add(u"Own"_s);
    THistoryList list;
    list.SetMaxLen(20);
    list.SetMenu(&menu);
    for (int i = 17; i >= 1; --i)
        list.AddString(u"t%1"_s.arg(i));

    QStringList texts;
    list.OnAutoItemClick = [&](TMenuItemState &Sender, const QString &Text) {
        EXPECT_EQ(&Sender, &menu);
        texts << Text;
    };
    menu.Items(2 + 15).Click(); // u"10 t16"_s
    EXPECT_EQ(texts, QStringList{u"t16"_s});

    // Without the text handler the index handler runs.
    list.OnAutoItemClick = nullptr;
    int index = -1;
    list.OnAutoItemClickIndex = [&](TMenuItemState &, int I) { index = I; };
    menu.Items(2 + 2).Click();
    EXPECT_EQ(index, 2);
    EXPECT_TRUE(menu.Items(2 + 2).Checked());
}

TEST(HistoryListTest, AHandlerMovingTheClickedEntryToTheTopIsSafe)
{
    // The usual use: opening a recent file puts it on top, which rebuilds
    // the menu and frees the clicked item while its click runs.
    TMenuItemState menu;
    THistoryList list;
    list.SetMenu(&menu);
    Fill(list, {u"a"_s, u"b"_s, u"c"_s});
    list.OnAutoItemClick = [&](TMenuItemState &, const QString &Text) { list.AddString(Text); };
    menu.Items(1).Click();
    EXPECT_EQ(list.Texts(), (QStringList{u"b"_s, u"a"_s, u"c"_s}));
    EXPECT_EQ(Captions(menu), (QStringList{u"1 b"_s, u"2 a"_s, u"3 c"_s}));
}

TEST(HistoryListTest, AddingAnEntryOfTheListItselfMovesThatEntry)
{
    // The text passed in is the entry that moves: it must not change into
    // its neighbour on the way.
    THistoryList history;
    Fill(history, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    history.AddString(history.Strings(1));
    EXPECT_EQ(history.Texts(), (QStringList{u"b"_s, u"a"_s, u"c"_s, u"d"_s}));

    TStringList plain(QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    AddHistoryEntryEx(plain, plain.Strings(3), 10);
    EXPECT_EQ(plain.Texts(), (QStringList{u"d"_s, u"a"_s, u"b"_s, u"c"_s}));
}

TEST(HistoryListTest, SecondMenuAndStringListMirrorTheEntries)
{
    TMenuItemState menu;
    menu.Add(u"Own"_s);
    TMenuItemState menu2;
    menu2.Add(u"stale"_s);
    TStringList strings(QStringList{u"fixed1"_s, u"fixed2"_s});
    THistoryList list;
    list.SetMenu2(&menu2);
    list.SetMenu(&menu);
    list.SetStrList(&strings);
    Fill(list, {u"a"_s, u"b"_s});
    EXPECT_EQ(Captions(menu2), (QStringList{u"-"_s, u"1 a"_s, u"2 b"_s}));
    EXPECT_EQ(strings.Texts(), (QStringList{u"fixed1"_s, u"fixed2"_s, u"a"_s, u"b"_s}));

    // A copy's click reaches the list as the original's does.
    QString clicked;
    list.OnAutoItemClick = [&](TMenuItemState &, const QString &Text) { clicked = Text; };
    menu2.Items(2).Click();
    EXPECT_EQ(clicked, u"b"_s);

    list.RemString(u"a"_s);
    EXPECT_EQ(strings.Texts(), (QStringList{u"fixed1"_s, u"fixed2"_s, u"b"_s}));
    list.ClearAll();
    EXPECT_EQ(strings.Texts(), (QStringList{u"fixed1"_s, u"fixed2"_s}));
    EXPECT_EQ(menu2.Count(), 0);
}

TEST(HistoryListTest, DestroyingTheListTakesItsItemsOutOfTheMenu)
{
    TMenuItemState menu;
    menu.Add(u"Own"_s);
    {
        THistoryList list;
        list.SetMenu(&menu);
        list.AddString(u"a"_s);
        EXPECT_EQ(menu.Count(), 3);
    }
    EXPECT_EQ(Captions(menu), QStringList{u"Own"_s});
}

// ---- INI sections ----------------------------------------------------------

TEST(HistoryIniTest, ABlankEntryIsStoredAsQuestionMarkButStaysBlankInTheList)
{
    TMenuItemState menu;
    THistoryList list;
    list.SetMenu(&menu);
    list.AddString(u" "_s);
    TMemIniFile ini;
    list.SaveToIni(ini, u"Recent"_s, false);
    EXPECT_EQ(ini.ReadString(u"Recent"_s, u"History0"_s, u""_s), u"?"_s);
    EXPECT_EQ(list.Strings(0), u" "_s);
    EXPECT_EQ(Captions(menu), QStringList{u"1  "_s});

    THistoryList loaded;
    loaded.LoadFromIni(ini, u"Recent"_s);
    EXPECT_EQ(loaded.Texts(), QStringList{u" "_s});
}

TEST(HistoryIniTest, SavingAShorterListRemovesTheOlderHigherKeysOnly)
{
    // Entries removed from a list must not come back from the previous
    // save, whether the section is erased or not; other keys stay.
    struct Saver {
        const char *name;
        std::function<void(TMemIniFile &, const QStringList &)> save;
        std::function<QStringList(const TMemIniFile &)> load;
    } savers[] = {
        {"THistoryList",
         [](TMemIniFile &Ini, const QStringList &Entries) {
             THistoryList list;
             Fill(list, Entries);
             list.SaveToIni(Ini, u"S"_s, false);
         },
         [](const TMemIniFile &Ini) {
             THistoryList list;
             list.LoadFromIni(Ini, u"S"_s);
             return list.Texts();
         }},
        {"WriteHistoryToIniEx",
         [](TMemIniFile &Ini, const QStringList &Entries) {
             WriteHistoryToIniEx(Ini, u"S"_s, u"History"_s, false, TStringList(Entries), 10, false);
         },
         [](const TMemIniFile &Ini) {
             TStringList list;
             ReadHistoryFromIniEx(Ini, u"S"_s, u""_s, list, 10, false);
             return list.Texts();
         }},
    };
    for (const Saver &s : savers) {
        TMemIniFile ini;
        ini.WriteString(u"S"_s, u"Mode"_s, u"2"_s);
        ini.WriteString(u"S"_s, u"HistoryCount"_s, u"x"_s);
        s.save(ini, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
        s.save(ini, {u"a"_s, u"c"_s});
        EXPECT_EQ(s.load(ini), (QStringList{u"a"_s, u"c"_s})) << s.name;
        EXPECT_EQ(IniText(ini, u"S"_s), u"Mode=2;HistoryCount=x;History0=a;History1=c"_s) << s.name;
    }
}

TEST(HistoryIniTest, EraseRemovesTheWholeSectionFirst)
{
    TMemIniFile ini;
    ini.WriteString(u"S"_s, u"Other"_s, u"1"_s);
    WriteHistoryToIniEx(ini, u"S"_s, u"Address"_s, true, TStringList(QStringList{u"x@y"_s}), 50, false);
    EXPECT_EQ(IniText(ini, u"S"_s), u"Address0=x@y"_s);
}

TEST(HistoryIniTest, QuoteStoresDoubleQuotesAsHashAndReadsThemBack)
{
    const QString command = uR"("/opt/my tool/run" --label "a b")"_s;
    TMemIniFile ini;
    WriteHistoryToIniEx(ini, u"Cmd"_s, u""_s, false, TStringList(QStringList{command}), 5, true);
    EXPECT_EQ(ini.ReadString(u"Cmd"_s, u"History0"_s, u""_s), u"#/opt/my tool/run# --label #a b#"_s);
    TStringList read;
    ReadHistoryFromIniEx(ini, u"Cmd"_s, u""_s, read, 5, true);
    EXPECT_EQ(read.Texts(), QStringList{command});
}

TEST(HistoryIniTest, ReadingAMissingSectionLeavesTheListAndGapsAreSkipped)
{
    TMemIniFile ini;
    TStringList list(QStringList{u"keep"_s});
    ReadHistoryFromIniEx(ini, u"None"_s, u""_s, list, 10, false);
    EXPECT_EQ(list.Texts(), QStringList{u"keep"_s});

    ini.SetText(u"[S]\r\nHistory0=a\r\nHistory1=\r\nHistory2=c\r\nHistory3=d\r\n"_s);
    ReadHistoryFromIniEx(ini, u"S"_s, u""_s, list, 3, false);
    EXPECT_EQ(list.Texts(), (QStringList{u"a"_s, u"c"_s}));
}

TEST(HistoryIniTest, FileFormsWriteTheFileBack)
{
    const QString file = MakeTempDir() + u"/h.ini"_s;
    WriteHistoryToIniFile(file, u"Servers"_s, u""_s, false, TStringList(QStringList{u"ftp1"_s, u"ftp2"_s}), false);
    TStringList list;
    ReadHistoryFromIniFile(file, u"Servers"_s, u""_s, list, false);
    EXPECT_EQ(list.Texts(), (QStringList{u"ftp1"_s, u"ftp2"_s}));

    THistoryList history;
    history.LoadFromIni(file, u"Servers"_s);
    history.RemString(u"ftp1"_s);
    history.SaveToIni(file, u"Servers"_s, false);
    EXPECT_EQ(ReadIniString(file, u"Servers"_s, u"History1"_s, u"gone"_s), u"gone"_s);
}

// ---- Combo boxes -------------------------------------------------------------

TEST(HistoryComboTest, LeavingAddsTheTextAndTellsWhetherItChanged)
{
    THistoryCombo combo;
    EXPECT_FALSE(combo.DropDown());
    combo.Enter();
    combo.UserEdit(u"Server1"_s);
    combo.Exit();
    EXPECT_TRUE(combo.Modified());
    EXPECT_EQ(combo.Items(), QStringList{u"Server1"_s});
    EXPECT_TRUE(combo.DropDown());

    // Modified stays set: the text remembered on the first entering counts.
    combo.Enter();
    combo.UserEdit(u"SERVER1"_s);
    combo.Exit();
    EXPECT_TRUE(combo.Modified());
    combo.SetModified(false);
    combo.Enter();
    combo.UserEdit(u"server1"_s);
    combo.Exit();
    EXPECT_FALSE(combo.Modified());
    EXPECT_EQ(combo.Items(), QStringList{u"server1"_s});

    combo.SetAutoUpdate(false);
    combo.UserEdit(u"other"_s);
    combo.Exit();
    EXPECT_EQ(combo.Items(), QStringList{u"server1"_s});
    combo.SetReadOnly(true);
    EXPECT_FALSE(combo.DropDown());
}

TEST(HistoryComboTest, BindsToItsFileAndSavesWhenDestroyed)
{
    const QString file = MakeTempDir() + u"/ftp.ini"_s;
    {
        THistoryCombo combo;
        combo.LoadFromIni(file, u"Hosts"_s); // no file yet: nothing loaded
        EXPECT_TRUE(combo.Items().isEmpty());
        combo.AddItem(u"h1"_s);
        combo.AddItem(u"h2"_s);
        EXPECT_EQ(combo.FindItem(u"H"_s), 0);
        EXPECT_EQ(combo.FindItem(u"x"_s), -1);
    }
    EXPECT_EQ(ReadIniString(file, u"Hosts"_s, u"History0"_s, u""_s), u"h2"_s);
    THistoryCombo again;
    again.SetIniFileName(file);
    again.SetIniSection(u"Hosts"_s);
    again.Loaded();
    EXPECT_EQ(again.Items(), (QStringList{u"h2"_s, u"h1"_s}));
    again.DeleteItem(u"h2"_s);
    EXPECT_EQ(again.Items(), QStringList{u"h1"_s});
}

TEST(HistoryComboTest, ComboHistoryFunctionsKeepTheDropDownLength)
{
    TComboBoxState combo(true);
    for (const char *text : {"a", "b", "c", "b"})
        AddComboHistory(combo, QString::fromLatin1(text), 3);
    EXPECT_EQ(combo.Items(), (QStringList{u"b"_s, u"c"_s, u"a"_s}));
    EXPECT_EQ(combo.Text(), u"b"_s);
    AddComboHistory(combo, u"d"_s, 3);
    EXPECT_EQ(combo.Items(), (QStringList{u"d"_s, u"b"_s, u"c"_s}));

    const QString file = MakeTempDir() + u"/c.ini"_s;
    SaveComboHistory(file, u"Dirs"_s, false, combo, -1, false, 2);
    TComboBoxState loaded(true);
    LoadComboHistory(file, u"Dirs"_s, loaded, 10, false);
    EXPECT_EQ(loaded.Items(), (QStringList{u"d"_s, u"b"_s}));
    EXPECT_EQ(loaded.ItemIndex(), 0);
}

TEST(HistoryListTest, ListHelpers)
{
    TStringList list(QStringList{u"a"_s, u"B"_s});
    list.SetObject(0, 5);
    RemoveListEntry(list, u"b"_s);
    RemoveListEntry(list, u""_s);
    EXPECT_EQ(list.Texts(), QStringList{u"a"_s});
    FreeListObjects(list);
    EXPECT_FALSE(list.Objects(0).isValid());

    TListBoxState box;
    box.SetItems({u"x"_s, u"y"_s});
    EXPECT_EQ(SelectedListBoxText(box), u""_s);
    box.SetItemIndex(1);
    EXPECT_EQ(SelectedListBoxText(box), u"y"_s);
}

// ---- The edit dialog ----------------------------------------------------------

namespace {

// Selects ARows with the focus on the first of them.
void SelectRows(TListItemsState &AList, const QList<int> &ARows)
{
    ASSERT_TRUE(AList.UserSelect(ARows, ARows.value(0, -1)));
}

} // namespace

TEST(EditHistListTest, RemovingThePreselectedEntryGivesIndexMinusOne)
{
    TScriptedViews views;
    TStringList list(QStringList{u"a"_s, u"b"_s, u"c"_s});
    list.SetObject(1, 7);
    views.OnEditHistList = [](TEditHistListDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Recent tasks"_s);
        EXPECT_FALSE(D.btnRemove.Visible());
        // The pre-selected entry is selected, not only focused: removing
        // works on it at once.
        EXPECT_EQ(D.lbHistList.ItemIndex(), 1);
        EXPECT_EQ(D.lbHistList.SelectedRows(), QList<int>{1});
        D.Remove(); // the button is hidden, the logic still works
        D.OKBtn.Click();
    };
    int index = 1;
    EXPECT_TRUE(EditHistoryListEx(kDefaultPos, u"Recent tasks"_s, u""_s, list, false, false, index));
    EXPECT_EQ(index, -1);
    EXPECT_EQ(list.Texts(), (QStringList{u"a"_s, u"c"_s}));
}

TEST(EditHistListTest, OkGivesTheNewOrderWithObjectsAndThePreselectedEntrysPosition)
{
    TScriptedViews views;
    TStringList list(QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    for (int i = 0; i < 4; ++i)
        list.SetObject(i, i);
    views.OnEditHistList = [](TEditHistListDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Edit list entries"_s); // empty title: the default
        EXPECT_TRUE(D.btnRemove.Visible());
        EXPECT_FALSE(D.btnEdit.Visible());
        SelectRows(D.lbHistList, {2});
        D.btnUp.Click();
        D.btnUp.Click();
        D.OKBtn.Click();
    };
    int index = 0;
    EXPECT_TRUE(EditHistoryListEx(kDefaultPos, u""_s, u""_s, list, true, false, index));
    EXPECT_EQ(list.Texts(), (QStringList{u"c"_s, u"a"_s, u"b"_s, u"d"_s}));
    EXPECT_EQ(list.Objects(0).toInt(), 2);
    EXPECT_EQ(index, 1); // u"a"_s moved down one
}

TEST(EditHistListTest, CancelAndNoDisplayLeaveListAndIndex)
{
    TStringList list(QStringList{u"a"_s, u"b"_s});
    int index = 0;
    EXPECT_FALSE(EditHistoryListEx(kDefaultPos, u""_s, u""_s, list, true, true, index)); // headless
    TScriptedViews views;
    views.OnEditHistList = [](TEditHistListDialog &D) {
        SelectRows(D.lbHistList, {0, 1});
        D.btnRemove.Click();
        D.CancelBtn.Click();
    };
    EXPECT_FALSE(EditHistoryList(kDefaultPos, u""_s, u""_s, list));
    EXPECT_EQ(list.Texts(), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(index, 0);
}

TEST(EditHistListTest, MovingSelectedRowsKeepsBlocksAtTheEnds)
{
    struct Case {
        QList<int> selected;
        bool up;
        QStringList order;
        int focus;
    } cases[] = {
        {{1, 3}, true, {u"b"_s, u"a"_s, u"d"_s, u"c"_s, u"e"_s}, 0},
        {{0, 1, 3}, true, {u"a"_s, u"b"_s, u"d"_s, u"c"_s, u"e"_s}, 2},  // the block at the top stays
        {{0, 2}, true, {u"a"_s, u"c"_s, u"b"_s, u"d"_s, u"e"_s}, 1},
        {{1, 3}, false, {u"a"_s, u"c"_s, u"b"_s, u"e"_s, u"d"_s}, 4},
        {{3, 4, 1}, false, {u"a"_s, u"c"_s, u"b"_s, u"d"_s, u"e"_s}, 2}, // the block at the bottom stays
        {{4}, false, {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s}, 4},       // nothing moves: focus unchanged
    };
    for (const Case &c : cases) {
        TEditHistListDialog dialog;
        const TStringList rows(QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s});
        dialog.Setup(kDefaultPos, u""_s, u""_s, rows, true, false, -1);
        SelectRows(dialog.lbHistList, c.selected);
        if (c.up)
            dialog.MoveUp();
        else
            dialog.MoveDown();
        EXPECT_EQ(dialog.lbHistList.Texts(), c.order) << "case " << (&c - cases);
        EXPECT_EQ(dialog.lbHistList.ItemIndex(), c.focus) << "case " << (&c - cases);
        // The selection travelled with the rows.
        QStringList selected;
        for (int row : dialog.lbHistList.SelectedRows())
            selected << dialog.lbHistList.Strings(row);
        EXPECT_EQ(selected.size(), c.selected.size());
    }
}

TEST(EditHistListTest, RemoveSelectsTheFocusedPlaceOrTheNewLastRow)
{
    struct Case {
        QList<int> selected;
        int focus;
        QStringList left;
        int newFocus;
    } cases[] = {
        {{1}, 1, {u"a"_s, u"c"_s, u"d"_s}, 1},
        {{2, 3}, 3, {u"a"_s, u"b"_s}, 1},
        {{0, 1, 2, 3}, 0, {}, -1},
    };
    for (const Case &c : cases) {
        TEditHistListDialog dialog;
        const TStringList rows(QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s});
        dialog.Setup(kDefaultPos, u""_s, u""_s, rows, true, false, -1);
        ASSERT_TRUE(dialog.lbHistList.UserSelect(c.selected, c.focus));
        dialog.Remove();
        EXPECT_EQ(dialog.lbHistList.Texts(), c.left);
        EXPECT_EQ(dialog.lbHistList.ItemIndex(), c.newFocus);
        EXPECT_EQ(dialog.Removed().Count(), c.selected.size());
    }
}

TEST(EditHistListTest, EditingToATextOfAnotherRowIsRefused)
{
    TScriptedViews views;
    TRecordingMessages messages;
    TEditHistListDialog dialog;
    dialog.ScreenRectOf = [&](const TControlState &C) {
        return &C == &dialog.btnEdit ? QRect(300, 200, 80, 25) : QRect();
    };
    dialog.Setup(kDefaultPos, u""_s, u"Servers"_s, TStringList(QStringList{u"alpha"_s, u"beta"_s}), true, true, 0);
    views.InputAnswers = {u"BETA"_s, u"Alpha2"_s};

    dialog.btnEdit.Click();
    EXPECT_EQ(messages.Texts, QStringList{u"Item \"BETA\" already exists!"_s});
    EXPECT_EQ(messages.Positions.value(0), QPoint(300, 200));
    EXPECT_EQ(dialog.lbHistList.Strings(0), u"alpha"_s);
    EXPECT_EQ(views.InputPositions.value(0), QPoint(380, 225)); // the button's bottom-right corner

    dialog.btnEdit.Click(); // the row's own text in another case is fine
    EXPECT_EQ(dialog.lbHistList.Texts(), (QStringList{u"Alpha2"_s, u"beta"_s}));
    EXPECT_TRUE(dialog.lbHistList.Selected(0));

    TStringList result;
    int index = 5;
    dialog.lbHistList.SetItemIndex(1);
    dialog.Finish(result, index);
    EXPECT_EQ(index, 1); // with editing: the focused row
}
