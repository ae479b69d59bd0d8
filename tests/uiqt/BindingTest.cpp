// Widgets bound to control states: code-side changes show without running
// handlers twice, user actions reach the handlers, refusals show.
#include "ui/qt/Binding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace vl;

TEST(Binding, CheckBoxRunsItsHandlerOnceForCodeAndUser)
{
    TCheckBoxState state;
    int clicks = 0;
    state.OnClick = [&](TControlState &) { ++clicks; };
    QCheckBox box;
    BindCheckBox(&box, state);

    state.SetChecked(true); // code: handler once, widget follows
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(clicks, 1);

    box.click(); // user: state follows, handler once more
    EXPECT_FALSE(state.Checked());
    EXPECT_FALSE(box.isChecked());
    EXPECT_EQ(clicks, 2);

    state.SetEnabled(false);
    EXPECT_FALSE(box.isEnabled());
    state.SetHint(QStringLiteral("why"));
    EXPECT_EQ(box.toolTip(), QStringLiteral("why"));
}

TEST(Binding, HandlerThatSetsTheBoxBackShowsInTheWidget)
{
    TCheckBoxState state;
    state.OnClick = [&](TControlState &) {
        if (state.Checked())
            state.SetChecked(false);
    };
    QCheckBox box;
    BindCheckBox(&box, state);
    box.click();
    EXPECT_FALSE(state.Checked());
    EXPECT_FALSE(box.isChecked());
}

TEST(Binding, EditAndLabelFollowTheirStates)
{
    TEditState edit;
    QStringList changes;
    edit.OnChange = [&](TControlState &) { changes << edit.Text(); };
    QLineEdit line;
    BindEdit(&line, edit);
    edit.SetText(QStringLiteral("a"));
    EXPECT_EQ(line.text(), QStringLiteral("a"));
    QTest::keyClicks(&line, QStringLiteral("b"));
    EXPECT_EQ(edit.Text(), QStringLiteral("ab"));
    EXPECT_EQ(changes, (QStringList{QStringLiteral("a"), QStringLiteral("ab")}));

    TControlState labelState;
    QLabel label;
    BindLabel(&label, labelState);
    labelState.SetCaption(QStringLiteral("Total:"));
    EXPECT_EQ(label.text(), QStringLiteral("Total:"));
}

TEST(Binding, ListAndComboIndexFromCodeRunsNoHandler)
{
    const QStringList items{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")};
    TListBoxState list;
    int listClicks = 0;
    list.OnClick = [&](TControlState &) { ++listClicks; };
    list.SetItems(items);
    QListWidget listWidget;
    BindListBox(&listWidget, list);
    list.SetItemIndex(2);
    EXPECT_EQ(listWidget.currentRow(), 2);
    EXPECT_EQ(listClicks, 0);
    listWidget.setCurrentRow(1); // as a user selection arrives
    EXPECT_EQ(list.ItemIndex(), 1);
    EXPECT_EQ(listClicks, 1);
    // An appended line keeps the selection and reaches the widget alone.
    QListWidgetItem *first = listWidget.item(0);
    list.AddItem(QStringLiteral("w"));
    EXPECT_EQ(list.Items().size(), 4);
    EXPECT_EQ(list.ItemIndex(), 1);
    ASSERT_EQ(listWidget.count(), 4);
    EXPECT_EQ(listWidget.item(3)->text(), QStringLiteral("w"));
    EXPECT_EQ(listWidget.item(0), first);
    EXPECT_EQ(listClicks, 1);

    TComboBoxState combo;
    int comboChanges = 0;
    combo.OnChange = [&](TControlState &) { ++comboChanges; };
    QComboBox comboWidget;
    BindComboBox(&comboWidget, combo);
    combo.SetItems(items); // items made after binding still show
    ASSERT_EQ(comboWidget.count(), 3);
    combo.SetItemIndex(1);
    EXPECT_EQ(comboWidget.currentIndex(), 1);
    EXPECT_EQ(comboChanges, 0);
    Q_EMIT comboWidget.activated(2);
    EXPECT_EQ(combo.ItemIndex(), 2);
    EXPECT_EQ(combo.Text(), QStringLiteral("z"));
    EXPECT_EQ(comboChanges, 1);
}

TEST(Binding, DisabledButtonRefusesAndEnabledOneClicks)
{
    TButtonState state;
    state.SetCaption(QStringLiteral("Cancel"));
    int clicks = 0;
    state.OnClick = [&](TControlState &) { ++clicks; };
    QPushButton button;
    BindButton(&button, state);
    EXPECT_EQ(button.text(), QStringLiteral("Cancel"));
    button.click();
    EXPECT_EQ(clicks, 1);
    state.SetCaption(QStringLiteral("Done"));
    EXPECT_EQ(button.text(), QStringLiteral("Done"));
    state.SetVisible(false);
    EXPECT_TRUE(button.isHidden());
}

TEST(Binding, RadioGroupBuildsItsButtonsAndReportsClicks)
{
    TRadioGroupState state;
    state.SetCaption(QStringLiteral("Subsequent action"));
    state.SetItems({QStringLiteral("None"), QStringLiteral("Shutdown"), QStringLiteral("Logoff")});
    state.SetColumns(3);
    int clicks = 0;
    state.OnClick = [&](TControlState &) { ++clicks; };
    QGroupBox group;
    BindRadioGroup(&group, state);
    const auto buttons = group.findChildren<QRadioButton *>();
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(group.title(), QStringLiteral("Subsequent action"));

    state.SetItemIndex(0);
    EXPECT_TRUE(buttons[0]->isChecked());
    const int afterCode = clicks;
    buttons[2]->click();
    EXPECT_EQ(state.ItemIndex(), 2);
    EXPECT_EQ(clicks, afterCode + 1);
    EXPECT_FALSE(buttons[0]->isChecked());

    state.SetItems({QStringLiteral("A"), QStringLiteral("B")});
    EXPECT_EQ(group.findChildren<QRadioButton *>().size(), 2);
}

TEST(Binding, RadioButtonsStayExclusiveThroughTheirStates)
{
    TRadioButtonState a, b;
    JoinRadioButtons({&a, &b});
    QRadioButton wa, wb;
    BindRadioButton(&wa, a);
    BindRadioButton(&wb, b);
    wa.click();
    EXPECT_TRUE(a.Checked());
    wb.click();
    EXPECT_TRUE(b.Checked());
    EXPECT_FALSE(a.Checked());
    EXPECT_FALSE(wa.isChecked());
}

TEST(Binding, StateOutlivesTheWidget)
{
    TEditState state;
    {
        QLineEdit line;
        BindEdit(&line, state);
    }
    state.SetText(QStringLiteral("still fine")); // no observer of a dead widget runs
    EXPECT_EQ(state.Text(), QStringLiteral("still fine"));
}
