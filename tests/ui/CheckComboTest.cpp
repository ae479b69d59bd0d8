#include "ui/CheckCombo.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;

namespace {

QStringList Weekdays()
{
    return {u"Monday|Mo"_s, u"Tuesday|Tu"_s,  u"Wednesday|We"_s, u"Thursday|Th"_s,
            u"Friday|Fr"_s, u"Saturday|Sa"_s, u"Sunday|Su"_s};
}

// Days 1 to 31 and "last".
QStringList MonthDays()
{
    QStringList items;
    for (int day = 1; day <= 31; ++day)
        items << QString::number(day);
    items << u"last"_s;
    return items;
}

} // namespace

TEST(CheckComboTest, ShowsTheShortNamesAndHintsTheLongNamesOfTheCheckedItems)
{
    TCheckComboBox combo;
    combo.SetItems(Weekdays());
    combo.SetHintPrefix(u"Selected days: "_s);
    int clicks = 0;
    combo.OnCheckClick = [&](TControlState &) { ++clicks; };
    for (int day : {0, 2, 4})
        combo.SetChecked(day, true);
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(combo.DisplayText(), u"Mo,We,Fr"_s);
    EXPECT_EQ(combo.Hint(), u"Selected days: Monday,Wednesday,Friday"_s);
    EXPECT_EQ(combo.CheckedCount(), 3);
    EXPECT_EQ(combo.Selected(), 0b10101u);
    // A fixed caption replaces the list in the closed combo only.
    combo.SetCaption(u"Workdays"_s);
    EXPECT_EQ(combo.DisplayText(), u"Workdays"_s);
    EXPECT_EQ(combo.CheckedText(), u"Mo,We,Fr"_s);
    // An item without "|" is its own short name.
    EXPECT_EQ(combo.AddChecked(u"Holiday"_s, true), 7);
    EXPECT_EQ(combo.CheckedText(), u"Mo,We,Fr,Holiday"_s);
}

TEST(CheckComboTest, MasksSetAndReadTheFirstThirtyTwoItems)
{
    struct Case {
        QStringList items;
        uint32_t set;
        uint32_t read;
        QString text;
    } cases[] = {
        {Weekdays(), 127, 127, u"Mo,Tu,We,Th,Fr,Sa,Su"_s},
        {Weekdays(), 0xFFFFFF80u, 0, QString()}, // bits past the items change nothing
        {MonthDays(), 0x80000001u, 0x80000001u, u"1,last"_s},
        {MonthDays(), 0x40000000u, 0x40000000u, u"31"_s},
    };
    for (const Case &c : cases) {
        TCheckComboBox combo;
        combo.SetItems(c.items);
        combo.SetSelected(c.set);
        EXPECT_EQ(combo.Selected(), c.read) << c.set;
        EXPECT_EQ(combo.DisplayText(), c.text) << c.set;
        // The index set agrees with the mask.
        const TSelected indexes = combo.SelectedIndexes();
        for (int i = 0; i < 32; ++i)
            EXPECT_EQ(indexes[size_t(i)], bool((c.read >> i) & 1)) << c.set << " item " << i;
        combo.SetSelectedIndexes(TSelected().set(1));
        EXPECT_EQ(combo.Selected(), 2u);
    }
}

TEST(CheckComboTest, TheDefaultItemIsCheckedWhenNothingWasCheckedAtTheLastDrawing)
{
    TCheckComboBox combo;
    combo.SetItems(Weekdays());
    combo.SetDefaultIndex(0);
    combo.SetSelected(0);
    EXPECT_FALSE(combo.IsChecked(0));
    EXPECT_EQ(combo.DisplayText(), u"Mo"_s); // the next drawing
    EXPECT_EQ(combo.Selected(), 1u);

    // Unchecking the last item in the list leaves the combo empty until
    // the list closes.
    int closed = 0;
    combo.OnCloseUp = [&](TControlState &) { ++closed; };
    ASSERT_TRUE(combo.UserToggle(0));
    EXPECT_EQ(combo.DisplayText(), QString());
    EXPECT_EQ(combo.DisplayText(), QString()); // drawing again changes nothing
    combo.CloseUp();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(combo.DisplayText(), u"Mo"_s);

    // Moving the default clears the old default's mark.
    combo.SetDefaultIndex(6);
    EXPECT_EQ(combo.DisplayText(), u"Su"_s);
    EXPECT_FALSE(combo.IsChecked(0));
}

TEST(CheckComboTest, IndexesOutsideTheItemsAreNeverCheckedAndRunNoHandler)
{
    TCheckComboBox combo;
    combo.SetItems(Weekdays());
    int clicks = 0;
    combo.OnCheckClick = [&](TControlState &) { ++clicks; };
    for (int index : {-1, 7, 300}) {
        combo.SetChecked(index, true);
        EXPECT_FALSE(combo.IsChecked(index));
        EXPECT_FALSE(combo.UserToggle(index));
    }
    EXPECT_EQ(clicks, 0);
    // Whole-set changes run no handler either; a user click does.
    combo.CheckAll(true);
    combo.SetSelected(3);
    EXPECT_EQ(clicks, 0);
    combo.SetEnabled(false);
    EXPECT_FALSE(combo.UserToggle(2));
    combo.SetEnabled(true);
    EXPECT_TRUE(combo.UserToggle(2));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(combo.Selected(), 7u);
}

TEST(CheckGroupBoxTest, UncheckingDisablesTheControlsInsideButNotItsCheckBox)
{
    TCheckGroupBox group;
    TEditState command;
    TCheckBoxState wait;
    group.AddControl(command);
    group.AddControl(wait);
    EXPECT_FALSE(command.Enabled()); // unchecked when new
    int clicks = 0;
    group.OnCheckClick = [&](TControlState &) { ++clicks; };
    group.SetHint(u"Program run before the backup"_s);

    group.SetChecked(true);
    EXPECT_TRUE(command.Enabled());
    EXPECT_TRUE(wait.Enabled());
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(group.CheckBox.Hint(), u"Program run before the backup"_s);

    ASSERT_TRUE(group.CheckBox.UserClick());
    EXPECT_FALSE(group.Checked());
    EXPECT_FALSE(command.Enabled());
    EXPECT_FALSE(wait.Enabled());
    EXPECT_TRUE(group.CheckBox.Enabled());
    EXPECT_EQ(clicks, 2);
}
