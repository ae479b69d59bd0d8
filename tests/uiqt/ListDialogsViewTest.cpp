// The list, choice and history windows on the offscreen platform: they
// open with their values, and their buttons give the results of the logic.
#include "ui/qt/ChoiceDialogs.h"
#include "ui/qt/HistoryComboBinding.h"
#include "ui/qt/InputDialogs.h"
#include "ui/qt/MenuBinding.h"
#include "ui/qt/WindowMemoryQt.h"

#include "ui/EditHistList.h"
#include "ui/ListDialogs.h"
#include "ui/ListWindows.h"

#include "ModalDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::VisibleWindow;
using vl::test::WhenModal;

namespace {

template <typename T>
T *Child(QWidget *AParent, const char *AName)
{
    T *child = AParent->findChild<T *>(QLatin1String(AName));
    EXPECT_NE(child, nullptr) << AName;
    return child;
}

QStringList Rows(const QListWidget *AList)
{
    QStringList rows;
    for (int i = 0; i < AList->count(); ++i)
        rows << AList->item(i)->text();
    return rows;
}

// The Qt views for one test.
struct TQtViews {
    std::unique_ptr<IListDialogViews> Views = CreateQtListDialogViews();
    std::unique_ptr<IInputDialogViews> Inputs = CreateQtInputDialogViews();
    TQtViews()
    {
        SetListDialogViews(Views.get());
        SetInputDialogViews(Inputs.get());
    }
    ~TQtViews()
    {
        SetListDialogViews(nullptr);
        SetInputDialogViews(nullptr);
    }
};

} // namespace

TEST(ChoiceDialogView, ShowsTheQuestionAndAnswersAndReturnsTheChoiceWithTheOption)
{
    TQtViews views;
    WhenModal(u"SelectDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Progress"_s);
        EXPECT_EQ(Child<QLabel>(D, "stCaption")->text(), u"Stop the run?\nNow"_s);
        EXPECT_EQ(Child<QPushButton>(D, "Button0")->text(), u"Only current"_s);
        EXPECT_EQ(Child<QPushButton>(D, "CancelBtn")->text(), u"Continue"_s);
        EXPECT_TRUE(Child<QCheckBox>(D, "cbOption")->isChecked());
        EXPECT_EQ(D->focusWidget(), Child<QPushButton>(D, "Button1"));
        Child<QPushButton>(D, "Button0")->click();
    });
    EXPECT_EQ(SelectChoice(u"Progress"_s, u"Stop the run?\r\nNow"_s, TMsgDlgType::mtConfirmation, {},
                           {u"Only current"_s, u"Cancel all"_s}, u"Shut down afterwards"_s, 0, 0x101, u"Continue"_s),
              256);
}

TEST(ChoiceDialogView, EscapeGivesMinusOneWhateverTheOptionShows)
{
    TQtViews views;
    WhenModal(u"SelectDialog"_s, [](QWidget *D) {
        EXPECT_EQ(Child<QPushButton>(D, "CancelBtn")->text(), u"Cancel"_s);
        Child<QCheckBox>(D, "cbOption")->click();
        QTest::keyClick(D, Qt::Key_Escape);
    });
    EXPECT_EQ(SelectChoice(u"T"_s, u"Q"_s, TMsgDlgType::mtWarning, {TFontStyle::fsBold}, {u"a"_s}, u"o"_s), -1);
}

TEST(SelectFromListView, OpensWithTheListAndReturnsTheEditedOne)
{
    TQtViews views;
    WhenModal(u"SelectFromListDialog"_s, [](QWidget *D) {
        auto *list = Child<QListWidget>(D, "lbxStringList");
        EXPECT_EQ(Rows(list), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
        EXPECT_EQ(list->currentRow(), 1);
        EXPECT_TRUE(list->item(1)->isSelected());
        EXPECT_TRUE(Child<QGroupBox>(D, "gbxEdit")->isVisible());
        EXPECT_FALSE(Child<QPushButton>(D, "btnDefault")->isVisible());
        Child<QPushButton>(D, "btnDelete")->click(); // no question with soNoConfirm
        EXPECT_EQ(Rows(list), (QStringList{u"a"_s, u"c"_s}));
        list->setCurrentRow(0);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TStringList list(QStringList{u"a"_s, u"b"_s, u"c"_s});
    QString text = u"B"_s;
    EXPECT_TRUE(SelectFromList(kDefaultPos, u"Servers"_s, u"Pick one"_s, u""_s,
                               {TSelectOption::soEdit, TSelectOption::soNoConfirm}, 1, TTextChange::tcUpper,
                               QString(), list, text));
    EXPECT_EQ(list.Texts(), (QStringList{u"A"_s, u"C"_s}));
    EXPECT_EQ(text, u"A"_s);
}

TEST(SelectFromListView, AddAsksForTheTextInAnInputBox)
{
    TQtViews views;
    WhenModal(u"SelectFromListDialog"_s, [](QWidget *D) {
        WhenModal(u"InputStringDialog"_s, [](QWidget *Input) {
            EXPECT_EQ(Input->windowTitle(), u"Add item"_s);
            QTest::keyClicks(Child<QLineEdit>(Input, "TextFeld"), u"*.log"_s);
            Child<QPushButton>(Input, "OKBtn")->click();
        });
        Child<QPushButton>(D, "btnInsert")->click();
        EXPECT_EQ(Rows(Child<QListWidget>(D, "lbxStringList")), (QStringList{u"*.txt"_s, u"*.log"_s}));
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TStringList list(QStringList{u"*.txt"_s});
    QString text;
    EXPECT_TRUE(SelectFromList(kDefaultPos, u"Masks"_s, u"Masks"_s, u""_s, {TSelectOption::soEdit}, 1,
                               TTextChange::tcNone, QString(), list, text));
    EXPECT_EQ(text, u"*.log"_s);
}

TEST(CheckListItemsView, ShowsTheCheckMarksAndSetsTheBits)
{
    TQtViews views;
    WhenModal(u"SelectListItemsDialog"_s, [](QWidget *D) {
        auto *list = Child<QListWidget>(D, "clItems");
        EXPECT_EQ(Rows(list), (QStringList{u"a"_s, u"b"_s}));
        EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
        EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
        list->item(0)->setCheckState(Qt::Checked);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TStringList list(QStringList{u"b"_s, u"a"_s});
    list.SetObject(0, 3);
    list.SetObject(1, 6);
    EXPECT_TRUE(CheckListItems(kDefaultPos, u"Items"_s, u""_s, u"Name"_s, list));
    EXPECT_EQ(list.Objects(0), QVariant(3));
    EXPECT_EQ(list.Objects(1), QVariant(7));
}

TEST(CheckListItemsView, CancelLeavesTheList)
{
    TQtViews views;
    WhenModal(u"SelectListItemsDialog"_s, [](QWidget *D) {
        Child<QPushButton>(D, "btSelAll")->click();
        EXPECT_EQ(Child<QListWidget>(D, "clItems")->item(0)->checkState(), Qt::Checked);
        Child<QPushButton>(D, "CancelBtn")->click();
    });
    TStringList list(QStringList{u"a"_s});
    EXPECT_FALSE(CheckListItems(kDefaultPos, u"Items"_s, u""_s, u""_s, list));
    EXPECT_FALSE(list.Objects(0).isValid());
}

TEST(EditHistListView, RemovesAndReordersRows)
{
    TQtViews views;
    WhenModal(u"EditHistListDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Recent"_s);
        EXPECT_FALSE(Child<QPushButton>(D, "btnEdit")->isVisible());
        auto *list = Child<QListWidget>(D, "lbHistList");
        EXPECT_EQ(Rows(list), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
        list->setCurrentRow(2);
        Child<QPushButton>(D, "btnUp")->click();
        EXPECT_EQ(Rows(list), (QStringList{u"a"_s, u"c"_s, u"b"_s}));
        list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        Child<QPushButton>(D, "btnRemove")->click();
        EXPECT_EQ(Rows(list), (QStringList{u"c"_s, u"b"_s}));
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TStringList list(QStringList{u"a"_s, u"b"_s, u"c"_s});
    EXPECT_TRUE(EditHistoryList(kDefaultPos, u"Recent"_s, u""_s, list));
    EXPECT_EQ(list.Texts(), (QStringList{u"c"_s, u"b"_s}));
}

TEST(StringListView, ModalListWithStatusAndNonModalStatusList)
{
    TQtViews views;
    WhenModal(u"ShowStringListDialog"_s, [](QWidget *D) {
        EXPECT_EQ(Rows(Child<QListWidget>(D, "lbStrings")), (QStringList{u"x"_s, u"y"_s}));
        EXPECT_EQ(Child<QLabel>(D, "laStatus")->text(), u"2 files"_s);
        Child<QPushButton>(D, "CancelBtn")->click();
    });
    ShowStrings(kDefaultPos, u"Files"_s, u"Skipped"_s, u"2 files"_s, {u"x"_s, u"y"_s});

    OpenStatusList(TStatusListPos::spTopLeft, u"Status"_s, u"Now"_s);
    QWidget *window = VisibleWindow(u"ShowStringListDialog"_s);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(Child<QPushButton>(window, "CancelBtn")->isVisible());
    EXPECT_EQ(window->pos(), QPoint(5, 5));
    AddStatusListLine(u"line 1"_s);
    EXPECT_EQ(Rows(Child<QListWidget>(window, "lbStrings")), QStringList{u"line 1"_s});
    CloseStatusList();
    QTest::qWait(1);
    EXPECT_EQ(VisibleWindow(u"ShowStringListDialog"_s), nullptr);

    // A bottom-right corner keeps 5 px to the work area's edges with the
    // window's laid-out size.
    OpenStatusList(TStatusListPos::spBottomRight, u"Status"_s, u"Now"_s);
    window = VisibleWindow(u"ShowStringListDialog"_s);
    ASSERT_NE(window, nullptr);
    const QRect area = window->screen()->availableGeometry();
    EXPECT_EQ(window->frameGeometry().bottomRight(), area.bottomRight() - QPoint(5, 5));
    CloseStatusList();
}

TEST(ListSelectPopupView, AClickChoosesAndCloses)
{
    TQtViews views;
    TListSelectDialog popup;
    popup.AddItem(u"second"_s, 20);
    popup.AddItem(u"first"_s, 10);
    int chosen = -1;
    popup.OnSelect = [&](int Index) { chosen = Index; };
    popup.ShowList(QPoint(100, 100), 0);
    QWidget *window = VisibleWindow(u"ListSelectDialog"_s);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->height(), 2 * 17 + 6);
    auto *list = Child<QListWidget>(window, "lbSelect");
    EXPECT_EQ(Rows(list), (QStringList{u"first"_s, u"second"_s}));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(chosen, 20);
    EXPECT_FALSE(popup.Form.Visible());
    QTest::qWait(1);
    EXPECT_EQ(VisibleWindow(u"ListSelectDialog"_s), nullptr);
}

TEST(HistoryMenuView, TheMenuShowsTheListAndItsActionsReachIt)
{
    TMenuItemState model;
    model.Add(u"Open..."_s);
    THistoryList history;
    history.SetRadioMenu(true);
    history.SetMenu(&model);
    history.AddString(u"b.vlt"_s);
    history.AddString(u"a.vlt"_s);
    QMenu menu;
    BindMenu(&menu, model);
    QStringList texts;
    for (QAction *action : menu.actions())
        texts << (action->isSeparator() ? u"-"_s : action->text());
    EXPECT_EQ(texts, (QStringList{u"Open..."_s, u"-"_s, u"1 a.vlt"_s, u"2 b.vlt"_s}));

    // Opening a recent task moves it to the top: the menu follows.
    history.OnAutoItemClick = [&](TMenuItemState &, const QString &Text) { history.AddString(Text); };
    menu.actions().at(3)->trigger();
    QTest::qWait(1);
    ASSERT_EQ(menu.actions().size(), 4);
    EXPECT_EQ(menu.actions().at(2)->text(), u"1 b.vlt"_s);
    EXPECT_TRUE(menu.actions().at(2)->isChecked());
    EXPECT_FALSE(menu.actions().at(3)->isChecked());
}

TEST(HistoryComboView, LeavingTheComboAddsItsText)
{
    THistoryCombo state;
    QComboBox combo;
    BindHistoryCombo(&combo, state);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(combo.lineEdit(), &in);
    combo.lineEdit()->setText(u"ftp.example.org"_s);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(combo.lineEdit(), &out);
    EXPECT_EQ(state.Items(), QStringList{u"ftp.example.org"_s});
    EXPECT_EQ(combo.count(), 1);
    EXPECT_TRUE(state.Modified());
}

TEST(WindowMemoryView, AStoredWindowComesBackWhereItWas)
{
    QWidget form;
    form.resize(300, 200);
    form.move(60, 70);
    form.show();
    TFormPos pos;
    pos.dpi = DesignDpi;
    StoreFormPos(pos, &form);
    EXPECT_EQ(pos.w, 300);
    QWidget other;
    other.resize(100, 100);
    RestoreFormPos(pos, &other);
    EXPECT_EQ(other.size(), QSize(300, 200));
    EXPECT_EQ(other.pos(), form.pos());
}
