#include "ui/ChoiceDialogs.h"
#include "ui/ListDialogs.h"
#include "ui/ListWindows.h"

#include "ListTestViews.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TRecordingMessages;
using vl::test::TScriptedViews;

namespace {

// Every character 7 px wide, font 16 px high.
TChoiceMetrics Metrics()
{
    return TChoiceMetrics{[](const QString &Text) { return 7 * int(Text.size()); }, 16, DesignDpi};
}

TSelectDialog Choice(const QStringList &AButtons, const QString &AOption = QString(), int APreSelection = 0,
                     const QString &ACaption = u"Proceed?"_s, TFontStyles AFormat = {})
{
    return TSelectDialog(u"Title"_s, ACaption, TMsgDlgType::mtConfirmation, AFormat, AButtons, AOption, 0,
                         APreSelection, QString());
}

} // namespace

// ---- Choice dialog ----------------------------------------------------------

TEST(ChoiceDialogTest, FourAnswersFillARowOfThreeThenAnswerAndCancelRightAligned)
{
    const TSelectDialog d = Choice({u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    const TChoiceLayout l = d.Layout(Metrics());
    ASSERT_EQ(l.Buttons.size(), 5);
    const int w = 105;
    const int x0 = l.Client.width() - (3 * w + 20);
    const int rowStep = 38 * 30 / 26; // H = 2.4 * 16 rounded
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(l.Buttons[i].topLeft(), QPoint(x0 + i * (w + 5), l.Buttons[0].top()));
    EXPECT_EQ(l.Buttons[3].topLeft(), QPoint(x0 + (w + 5), l.Buttons[0].top() + rowStep)); // second column
    EXPECT_EQ(l.Buttons[4].topLeft(), QPoint(x0 + 2 * (w + 5), l.Buttons[0].top() + rowStep)); // cancel, third
    EXPECT_EQ(l.Client.width(), 70 + 3 * w);
    EXPECT_EQ(l.Client.height(), l.Buttons[4].top() + rowStep + 5);
    EXPECT_EQ(d.CancelBtn().Caption(), u"Cancel"_s);
}

TEST(ChoiceDialogTest, PreSelectionChecksTheOptionAndFocusesAnAnswer)
{
    struct Case {
        int preSelection;
        int focus;
        bool checked;
    } cases[] = {
        {0x101, 1, true}, {0, 0, false}, {2, 2, false}, {3, 2, false}, // 2 answers: index 2 is cancel
        {0x105, 2, true}, {-1, 2, false},                                  // above n or negative: cancel
    };
    for (const Case &c : cases) {
        const TSelectDialog d = Choice({u"a"_s, u"b"_s}, u"Apply to all"_s, c.preSelection);
        EXPECT_EQ(d.FocusButton(), c.focus) << c.preSelection;
        EXPECT_EQ(d.cbOption.Checked(), c.checked) << c.preSelection;
    }
    const TSelectDialog reader(u""_s, u"q"_s, TMsgDlgType::mtCustom, {}, {u"a"_s}, u"o"_s, 0, 0, QString(), true);
    EXPECT_EQ(reader.FocusButton(), -1);
    EXPECT_TRUE(reader.OptionFirstInTabOrder());
    EXPECT_FALSE(reader.ShowsIcon());
}

TEST(ChoiceDialogTest, ResultIsTheAnswerPlus256WithTheOptionAndMinusOneForCancel)
{
    TScriptedViews views;
    struct Case {
        int press; // -1: cancel button, -2: window closed
        bool check;
        int result;
    } cases[] = {{0, true, 256}, {1, false, 1}, {-1, true, -1}, {-2, true, -1}};
    for (const Case &c : cases) {
        views.OnSelectDialog = [&](TSelectDialog &D) {
            EXPECT_EQ(D.Form.Caption(), u"Task"_s);
            D.cbOption.UserClick();
            if (!c.check)
                D.cbOption.UserClick();
            if (c.press >= 0)
                D.Buttons[size_t(c.press)]->UserClick();
            else if (c.press == -1)
                D.CancelBtn().UserClick();
            else
                D.CloseModal(mrCancel);
        };
        EXPECT_EQ(SelectChoice(u"Task"_s, u"Which?"_s, TMsgDlgType::mtConfirmation, {}, {u"a"_s, u"b"_s},
                               u"All"_s),
                  c.result);
    }
}

TEST(ChoiceDialogTest, WithoutADisplayTheAnswerIsCancelAndTheQuestionIsLogged)
{
    QStringList log;
    SetServiceLogSink([&](const QString &Line) { log << Line; });
    EXPECT_EQ(SelectChoiceAt(QPoint(10, 10), u"Run"_s, u"Only current or all?"_s, TMsgDlgType::mtConfirmation, {},
                             {u"Only current"_s, u"Cancel all"_s}, QString(), 0, 0, u"Continue"_s),
              -1);
    SetServiceLogSink(nullptr);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains(u"Only current or all?"_s)) << log[0].toStdString();
}

TEST(ChoiceDialogTest, AWideQuestionWidensTheDialogAndBoldIsMeasuredWider)
{
    const QString narrow = u"Short"_s;
    const QString wide = QString(60, u'x') + u"\r\n"_s + u"y"_s; // 420 px
    const int rowWidth = 70 + 3 * 105;
    EXPECT_EQ(Choice({u"a"_s}, {}, 0, narrow).Layout(Metrics()).Client.width(), rowWidth);
    const TChoiceLayout plain = Choice({u"a"_s}, {}, 0, wide).Layout(Metrics());
    EXPECT_EQ(plain.Client.width(), 50 + 420 + 10);
    EXPECT_EQ(plain.Caption.height(), 10 + 38); // two lines of 1.2 x 16 px
    const TChoiceLayout bold = Choice({u"a"_s}, {}, 0, wide, {TFontStyle::fsBold}).Layout(Metrics());
    EXPECT_EQ(bold.Client.width(), 50 + 420 * 5 / 4 + 10);
}

TEST(ChoiceDialogTest, TheOptionBoxGoesBetweenQuestionAndButtons)
{
    const TChoiceLayout without = Choice({u"a"_s}).Layout(Metrics());
    const TChoiceLayout with = Choice({u"a"_s}, u"Remember"_s).Layout(Metrics());
    EXPECT_TRUE(without.Option.isEmpty());
    ASSERT_FALSE(with.Option.isEmpty());
    EXPECT_EQ(with.Option.left(), 50);
    EXPECT_EQ(with.Option.top(), without.Buttons[0].top() - 5);
    EXPECT_EQ(with.Buttons[0].top(), without.Buttons[0].top() + with.Option.height());
}

// ---- Select from list ---------------------------------------------------------

TEST(SelectFromListTest, MultiSelectionReturnsTheEntriesInListOrder)
{
    TScriptedViews views;
    TStringList list(QStringList{u"a"_s, u"x"_s, u"b"_s, u"c"_s});
    views.OnSelectFromList = [](TSelectFromListDialog &D) {
        EXPECT_TRUE(D.lbxStringList.MultiSelect());
        EXPECT_TRUE(D.gbxEdit.Visible());
        EXPECT_FALSE(D.gbxMove.Visible());
        D.lbxStringList.UserSelect({3, 0, 2}, 3);
        D.OKBtn.UserClick();
    };
    QString text;
    EXPECT_TRUE(SelectFromList(kDefaultPos, u"T"_s, u"D"_s, u""_s,
                               {TSelectOption::soEdit, TSelectOption::soMulti, TSelectOption::soNoConfirm}, 1,
                               TTextChange::tcNone, QString(), list, text));
    EXPECT_EQ(text, u"a|b|c"_s);
}

TEST(SelectFromListTest, CancelAndNoDisplayChangeNothing)
{
    TStringList list(QStringList{u"a"_s, u"b"_s});
    QString text = u"b"_s;
    EXPECT_FALSE(SelectFromList(kDefaultPos, u"T"_s, u""_s, u""_s, {TSelectOption::soEdit}, 1, TTextChange::tcUpper,
                                QString(), list, text));
    TScriptedViews views;
    views.OnSelectFromList = [](TSelectFromListDialog &D) {
        EXPECT_EQ(D.lbxStringList.ItemIndex(), 1); // the entry equal to AText
        D.lbxStringList.Clear();
        D.CancelBtn.UserClick();
    };
    EXPECT_FALSE(SelectFromList(kDefaultPos, u"T"_s, u""_s, u""_s, {TSelectOption::soEdit}, 1, TTextChange::tcUpper,
                                QString(), list, text));
    EXPECT_EQ(list.Texts(), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(text, u"b"_s);
}

TEST(SelectFromListTest, EditedListIsConvertedAndReturnedOnlyWithEdit)
{
    TScriptedViews views;
    views.InputAnswers = {u"New"_s};
    views.OnSelectFromList = [](TSelectFromListDialog &D) {
        D.btnInsert.UserClick();
        D.OKBtn.UserClick();
    };
    for (bool edit : {true, false}) {
        views.InputAnswers = {u"New"_s};
        TStringList list(QStringList{u"a"_s});
        QString text;
        TSelectOptions options;
        if (edit)
            options.Include(TSelectOption::soEdit);
        TSelectFromListDialog dialog;
        EXPECT_EQ(dialog.Execute(kDefaultPos, u"T"_s, u""_s, u""_s, options, 1, TTextChange::tcLower, QString(),
                                 list, text, true, nullptr),
                  mrOk);
        EXPECT_EQ(text, u"new"_s); // the added entry has the focus
        EXPECT_EQ(list.Texts(), edit ? (QStringList{u"a"_s, u"new"_s}) : QStringList{u"a"_s});
    }
}

TEST(SelectFromListTest, PromptClosesWithYes)
{
    TScriptedViews views;
    views.OnSelectFromList = [](TSelectFromListDialog &D) {
        EXPECT_TRUE(D.btnPrompt.Visible());
        EXPECT_TRUE(D.btnPrompt.UserClick());
    };
    TStringList list(QStringList{u"a"_s});
    QString text = u"A"_s;
    TSelectFromListDialog dialog;
    EXPECT_EQ(dialog.Select(kDefaultPos, u"T"_s, u""_s, u""_s, true, list, text), mrYes);
    EXPECT_EQ(text, u"a"_s);
}

TEST(SelectFromListTest, EntryCheckAppliesToAddChangeAndDoubleClick)
{
    TScriptedViews views;
    TRecordingMessages messages;
    TSelectFromListDialog d;
    d.Setup(kDefaultPos, u"T"_s, u"Masks"_s, u""_s, {TSelectOption::soEdit}, 1, QString(),
            TStringList(QStringList{u"*.txt"_s}), u"*.txt"_s, true,
            [](const QString &Text) { return Text.startsWith(u'*'); });

    views.InputAnswers = {u"bad"_s, u"bad2"_s, u"bad3"_s, u"*.doc"_s};
    d.AddItem();
    d.ChangeItem();
    d.lbxStringList.UserDoubleClick(0); // refused like the button's change
    EXPECT_EQ(d.lbxStringList.Texts(), QStringList{u"*.txt"_s});
    EXPECT_EQ(messages.Texts, (QStringList{u"Invalid entry: \"bad\""_s, u"Invalid entry: \"bad2\""_s,
                                           u"Invalid entry: \"bad3\""_s}));
    d.lbxStringList.UserDoubleClick(0);
    EXPECT_EQ(d.lbxStringList.Texts(), QStringList{u"*.doc"_s});
}

TEST(SelectFromListTest, DoubleClickWithoutEditClosesWithOk)
{
    TSelectFromListDialog d;
    d.Setup(kDefaultPos, u"T"_s, u""_s, u""_s, {}, 1, QString(), TStringList(QStringList{u"a"_s}), u""_s, true,
            nullptr);
    d.lbxStringList.UserSelect({0}, 0);
    d.lbxStringList.UserDoubleClick(0);
    EXPECT_EQ(d.ModalResult(), mrOk);
}

TEST(SelectFromListTest, RemovingAsksUnlessNoConfirmAndSelectsTheNextEntry)
{
    struct Case {
        TSelectOptions options;
        TModalResult answer;
        QStringList before;
        int focus;
        QStringList after;
        int newFocus;
        int questions;
    } cases[] = {
        {{}, mrYes, {u"a"_s, u"b"_s, u"c"_s}, 1, {u"a"_s, u"c"_s}, 1, 1},
        {{}, mrNo, {u"a"_s, u"b"_s, u"c"_s}, 1, {u"a"_s, u"b"_s, u"c"_s}, 1, 1},
        {{TSelectOption::soNoConfirm}, mrNo, {u"a"_s, u"b"_s, u"c"_s}, 2, {u"a"_s, u"b"_s}, 1, 0},
        {{TSelectOption::soNoConfirm}, mrNo, {u"a"_s}, 0, {}, -1, 0},
    };
    for (const Case &c : cases) {
        TRecordingMessages messages;
        messages.Answer = c.answer;
        TSelectFromListDialog d;
        d.Setup(kDefaultPos, u"T"_s, u""_s, u""_s, c.options, 1, QString(), TStringList(c.before), c.before[c.focus],
                true, nullptr);
        d.btnDelete.UserClick();
        EXPECT_EQ(d.lbxStringList.Texts(), c.after);
        EXPECT_EQ(d.lbxStringList.ItemIndex(), c.newFocus);
        EXPECT_EQ(d.lbxStringList.SelCount(), c.newFocus >= 0 ? 1 : 0);
        EXPECT_EQ(messages.Texts.size(), c.questions);
    }
}

TEST(SelectFromListTest, RemoveAllDefaultAndMoving)
{
    TRecordingMessages messages;
    TSelectFromListDialog d;
    d.Setup(kDefaultPos, u"T"_s, u""_s, u""_s, {TSelectOption::soOrder, TSelectOption::soDelAll}, 1,
            u"x,\"y, z\""_s, TStringList(QStringList{u"a"_s, u"b"_s}), u"a"_s, true, nullptr);
    EXPECT_TRUE(d.btnDefault.Visible());
    EXPECT_TRUE(d.btnDelAll.Visible());
    d.DownBtn.UserClick();
    EXPECT_EQ(d.lbxStringList.Texts(), (QStringList{u"b"_s, u"a"_s}));
    EXPECT_EQ(d.lbxStringList.ItemIndex(), 1);
    d.DownBtn.UserClick(); // at the end: nothing
    EXPECT_EQ(d.lbxStringList.ItemIndex(), 1);
    d.btnDelAll.UserClick();
    EXPECT_EQ(d.lbxStringList.Count(), 0);
    d.btnDefault.UserClick();
    EXPECT_EQ(d.lbxStringList.Texts(), (QStringList{u"x"_s, u"y, z"_s}));
    EXPECT_EQ(messages.Texts, (QStringList{u"Clear whole list?"_s, u"Reset to default values?"_s}));
}

TEST(SelectFromListTest, DelimitedListComesBackSortedEvenWhenCancelled)
{
    for (bool ok : {true, false}) {
        TScriptedViews views;
        views.OnSelectFromList = [&](TSelectFromListDialog &D) {
            EXPECT_FALSE(D.gbxEdit.Visible());
            EXPECT_TRUE(D.CancelBtn.Visible());
            (ok ? D.OKBtn : D.CancelBtn).UserClick();
        };
        QString text = u"pear;\"b;c\";Apple"_s;
        TSelectFromListDialog d;
        EXPECT_EQ(d.Select(kDefaultPos, u"T"_s, u""_s, u""_s, 1, TTextChange::tcNone, QString(), text, u';', u'"'),
                  ok);
        EXPECT_EQ(text, u"Apple;\"b;c\";pear"_s);
    }
}

// ---- Check list -------------------------------------------------------------

TEST(CheckListItemsTest, OnlyBitZeroOfEachObjectFollowsTheCheckMark)
{
    TScriptedViews views;
    TStringList list(QStringList{u"zeta"_s, u"Alpha"_s, u"mid"_s});
    list.SetObject(0, 6);
    list.SetObject(1, 6);
    list.SetObject(2, 1);
    views.OnSelectListItems = [](TSelectListItemsDialog &D) {
        EXPECT_EQ(D.clItems.Texts(), (QStringList{u"Alpha"_s, u"mid"_s, u"zeta"_s})); // sorted
        EXPECT_EQ(D.clItems.Hint(), u"Name"_s);
        EXPECT_TRUE(D.clItems.Checked(1));
        D.clItems.UserCheck(2, true);  // zeta
        D.clItems.UserCheck(1, false); // mid
        D.OKBtn.UserClick();
    };
    EXPECT_TRUE(CheckListItems(kDefaultPos, u"T"_s, u"D"_s, u"Name"_s, list));
    EXPECT_EQ(list.Objects(0), QVariant(7));
    EXPECT_EQ(list.Objects(1), QVariant(6));
    EXPECT_EQ(list.Objects(2), QVariant(0));
}

TEST(CheckListItemsTest, SelectAllAndNoneThenCancelKeepsTheList)
{
    TScriptedViews views;
    TStringList list(QStringList{u"a"_s, u"b"_s});
    list.SetObject(0, 1);
    views.OnSelectListItems = [](TSelectListItemsDialog &D) {
        D.btSelAll.UserClick();
        EXPECT_TRUE(D.clItems.Checked(0) && D.clItems.Checked(1));
        D.btSelNone.UserClick();
        EXPECT_FALSE(D.clItems.Checked(0) || D.clItems.Checked(1));
        D.CancelBtn.UserClick();
    };
    EXPECT_FALSE(CheckListItems(kDefaultPos, u"T"_s, u""_s, u""_s, list));
    EXPECT_EQ(list.Objects(0), QVariant(1));
}

// ---- List popup and string-list window ------------------------------------------

TEST(ListSelectPopupTest, SizeFollowsEntriesMinimumWidthAndHeightLimit)
{
    const auto width = [](const QString &Text) { return Text.size() == 10 ? 100 : 40; };
    struct Case {
        int entries;
        int minWidth;
        int height;
        QSize size;
    } cases[] = {
        {30, 0, 200, {122, 200}},
        {3, 0, 200, {122, 57}},
        {3, 150, 0, {150, 57}},
        {3, 100, 0, {122, 57}},
        {3, 0, 51, {122, 57}}, // not smaller than all entries: no limit
    };
    for (const Case &c : cases) {
        TListSelectDialog popup;
        popup.SetWidth(c.minWidth);
        popup.Add(u"0123456789"_s);
        for (int i = 1; i < c.entries; ++i)
            popup.Add(QString::number(i));
        EXPECT_EQ(popup.ClientSize(width, c.height), c.size) << c.entries << " " << c.minWidth;
    }
}

TEST(ListSelectPopupTest, AClickReportsTheStoredNumberAndCloses)
{
    TScriptedViews views;
    TListSelectDialog popup;
    popup.ShowList(QPoint(5, 5), 0);
    EXPECT_EQ(views.PopupsShown, 0); // empty: nothing shown
    TStringList items(QStringList{u"gamma"_s, u"alpha"_s});
    items.SetObject(0, 30);
    items.SetObject(1, 10);
    popup.Assign(items, -1);
    popup.AddItem(u"beta"_s, 20);
    EXPECT_EQ(popup.lbSelect.Texts(), (QStringList{u"alpha"_s, u"beta"_s, u"gamma"_s}));
    popup.ShowList(QPoint(5, 5), 0);
    EXPECT_EQ(views.PopupsShown, 1);
    EXPECT_TRUE(popup.Form.Visible());

    QList<int> chosen;
    popup.OnSelect = [&](int Index) { chosen << Index; };
    popup.UserClick(2);
    EXPECT_EQ(chosen, QList<int>{30});
    EXPECT_FALSE(popup.Form.Visible());

    popup.Form.SetVisible(true);
    popup.Deactivate();
    EXPECT_FALSE(popup.Form.Visible());
    EXPECT_EQ(chosen.size(), 1);
}

TEST(StringListWindowTest, StatusLinesNeedAnOpenedWindow)
{
    TScriptedViews views;
    AddStatusListLine(u"lost"_s);
    CloseStatusList();
    EXPECT_EQ(StringListWindow(), nullptr);

    OpenStatusList(TStatusListPos::spTopRight, u"Copying"_s, u"Files"_s);
    ASSERT_NE(StringListWindow(), nullptr);
    EXPECT_EQ(views.StatusListShown, 1);
    EXPECT_FALSE(StringListWindow()->paBottom.Visible());
    AddStatusListLine(u"one"_s);
    AddStatusListLine(u"two"_s);
    EXPECT_EQ(StringListWindow()->lbStrings.Items(), (QStringList{u"one"_s, u"two"_s}));
    CloseStatusList();
    EXPECT_FALSE(StringListWindow()->Form.Visible());

    views.OnStringList = [](TShowStringListDialog &D) {
        EXPECT_TRUE(D.paBottom.Visible());
        EXPECT_EQ(D.laStatus.Caption(), u"3 files"_s);
        EXPECT_EQ(D.lbStrings.Items(), QStringList{u"f"_s});
        D.CancelBtn.UserClick();
    };
    ShowStrings(kDefaultPos, u"T"_s, u"D"_s, u"3 files"_s, {u"f"_s});
    EXPECT_EQ(StringListWindow()->ModalResult(), mrCancel);
}

TEST(StringListWindowTest, StatusListCornersStartAtTheWorkAreaOrigin)
{
    // A panel at the top and one at the left: the work area starts at
    // (100, 30), and a corner at (5, 5) would lie under the panels.
    const QSize window(200, 100);
    const QSize workArea(1000, 700);
    const QPoint origin(100, 30);
    const QRect screen(0, 0, 1100, 800);
    struct Case {
        TStatusListPos pos;
        QPoint origin;
    } cases[] = {
        {TStatusListPos::spTopLeft, {105, 35}},
        {TStatusListPos::spTopRight, {100 + 1000 - 200 - 5, 35}},
        {TStatusListPos::spBottomLeft, {105, 30 + 700 - 100 - 5}},
        {TStatusListPos::spBottomRight, {895, 625}},
        {TStatusListPos::spCenter, {450, 350}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TShowStringListDialog::StatusListOrigin(c.pos, window, workArea, origin, screen), c.origin)
            << int(c.pos);
}
