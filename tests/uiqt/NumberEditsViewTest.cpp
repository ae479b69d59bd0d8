// The number edits, spin buttons, check-box combo and check group box on
// the offscreen platform: they show their state and what the user does
// reaches the logic.
#include "ui/qt/CheckCombo.h"
#include "ui/qt/NumberEdits.h"

#include "core/MessageService.h"
#include "ui/qt/Binding.h"

#include "common/MessageRecorder.h"
#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;

namespace {

using TBoxes = test::TMessageRecorder;

// A window with a bound number edit and a button to move the focus to.
struct TEditWindow {
    QWidget Window;
    QLineEdit *Edit;
    QPushButton *Other;

    explicit TEditWindow(TCustomNumEdit &AState)
    {
        auto *layout = new QVBoxLayout(&Window);
        Edit = new QLineEdit(&Window);
        BindNumberEdit(Edit, AState);
        Other = new QPushButton(u"other"_s, &Window);
        layout->addWidget(Edit);
        layout->addWidget(Other);
        Window.show();
        Window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&Window));
        Edit->setFocus();
    }
};

} // namespace

TEST(NumberEditView, RefusedKeysGoNowhereAndLeavingClampsTheEntry)
{
    TRangeEdit state;
    state.SetMinValue(1);
    state.SetMaxValue(99);
    state.SetRangeCheck(false);
    int beeps = 0;
    state.OnBeep = [&] { ++beeps; };
    TEditWindow w(state);
    EXPECT_EQ(w.Edit->text(), u"1"_s);
    w.Edit->selectAll();
    QTest::keyClicks(w.Edit, u"2a5x0"_s);
    EXPECT_EQ(w.Edit->text(), u"250"_s);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(state.StoredValue(), 250); // taken at key release
    w.Other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(w.Edit->text(), u"99"_s);
    EXPECT_EQ(state.Text(), u"99"_s);
}

TEST(NumberEditView, ARangeErrorShowsItsBoxAndTheFocusReturns)
{
    TBoxes boxes;
    TRangeEdit state;
    state.SetMinValue(1);
    state.SetMaxValue(99);
    state.OnBeep = [] {};
    TEditWindow w(state);
    w.Edit->selectAll();
    QTest::keyClicks(w.Edit, u"250"_s);
    w.Other->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(boxes.Texts, QStringList{u"Range check error (1 .. 99)"_s});
    QTRY_VERIFY(w.Edit->hasFocus());
    EXPECT_EQ(w.Edit->text(), u"250"_s);
}

TEST(NumberEditView, AFloatTextThatDoesNotReadShowsOneBoxAtKeyReleaseAndTypingGoesOn)
{
    TBoxes boxes;
    TFloatEdit state;
    TEditWindow w(state);
    w.Edit->selectAll();
    QTest::keyClicks(w.Edit, u"1.5e"_s);
    QTRY_COMPARE(boxes.Texts, QStringList{u"'1.5e' is not a valid floating point value"_s});
    QTRY_VERIFY(w.Edit->hasFocus());
    QTest::keyClicks(w.Edit, u"3"_s);
    QTest::qWait(20);
    EXPECT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(state.StoredValue(), 1500.0);
}

TEST(NumberEditView, TheFocusReturningToAnEditWithAnErrorDoesNotReportTheEditItLeaves)
{
    TBoxes boxes;
    TRangeEdit first;
    first.SetMaxValue(99);
    first.OnBeep = [] {};
    TFloatEdit second;
    TEditWindow w(first);
    auto *secondEdit = new QLineEdit(&w.Window);
    BindNumberEdit(secondEdit, second);
    w.Window.layout()->addWidget(secondEdit);
    secondEdit->show();
    second.SetText(u"x"_s); // a bad entry the second edit was given
    w.Edit->selectAll();
    QTest::keyClicks(w.Edit, u"250"_s);
    secondEdit->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(w.Edit->hasFocus());
    QTest::qWait(50);
    EXPECT_EQ(boxes.Texts, QStringList{u"Range check error (0 .. 99)"_s});
    EXPECT_TRUE(w.Edit->hasFocus());
}

TEST(NumUpDownView, ArrowsStepTheEditAndKeysToo)
{
    TRangeEdit edit;
    edit.SetMaxValue(10);
    edit.SetValue(5);
    TNumUpDown state;
    state.SetAssociate(&edit);
    QWidget window;
    auto *line = new QLineEdit;
    auto *spin = new TNumUpDownView(state);
    auto *layout = new QVBoxLayout(&window);
    QWidget *row = NumEditWithSpin(&window, line, spin);
    layout->addWidget(row);
    BindNumberEdit(line, edit);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(spin->width(), 16);
    EXPECT_GT(spin->x(), line->x()); // on the right by default
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, 2));
    EXPECT_EQ(line->text(), u"6"_s);
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, spin->height() - 2));
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(8, spin->height() - 2));
    EXPECT_EQ(line->text(), u"4"_s);
    QTest::keyClick(spin, Qt::Key_Plus);
    EXPECT_EQ(line->text(), u"5"_s);
    state.SetAlignButton(TUDAlignButton::udLeft);
    QTest::qWait(1);
    window.layout()->activate();
    row->layout()->activate();
    EXPECT_LT(spin->x(), line->x());
}

TEST(CheckComboView, AClickInTheListTogglesAndTheListStaysOpen)
{
    TCheckComboBox state;
    state.SetItems({u"Monday|Mo"_s, u"Tuesday|Tu"_s, u"Wednesday|We"_s});
    state.SetChecked(0, true);
    TCheckComboBoxView combo(state);
    combo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&combo));
    auto *model = qobject_cast<QStandardItemModel *>(combo.model());
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->item(0)->text(), u" Monday"_s);
    EXPECT_EQ(model->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(model->item(2)->checkState(), Qt::Unchecked);

    combo.showPopup();
    QAbstractItemView *list = combo.view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const QPoint third = list->visualRect(model->index(2, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
    EXPECT_TRUE(state.IsChecked(2));
    EXPECT_EQ(model->item(2)->checkState(), Qt::Checked);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(state.DisplayText(), u"Mo,We"_s);

    int closed = 0;
    state.OnCloseUp = [&](TControlState &) { ++closed; };
    combo.hidePopup();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(combo.toolTip(), u"Monday,Wednesday"_s);
}

TEST(CheckGroupBoxView, TheCaptionBoxEnablesTheControlsInside)
{
    TCheckGroupBox state;
    state.CheckBox.SetCaption(u"Execute before backup:"_s);
    TEditState command;
    state.AddControl(command);
    QGroupBox group;
    auto *layout = new QVBoxLayout(&group);
    auto *edit = new QLineEdit(&group);
    BindEdit(edit, command);
    layout->addWidget(edit);
    BindCheckGroupBox(&group, state);
    group.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&group));
    EXPECT_EQ(group.title(), u"Execute before backup:"_s);
    EXPECT_FALSE(group.isChecked());
    EXPECT_FALSE(edit->isEnabled());

    int clicks = 0;
    state.OnCheckClick = [&](TControlState &) { ++clicks; };
    group.setChecked(true);
    Q_EMIT group.clicked(true);
    EXPECT_TRUE(state.Checked());
    EXPECT_TRUE(command.Enabled());
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(clicks, 1);

    state.SetChecked(false);
    EXPECT_FALSE(group.isChecked());
    EXPECT_FALSE(edit->isEnabled());
}
