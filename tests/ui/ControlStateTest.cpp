#include "ui/ControlState.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace vl;

namespace {

using A = TStateAspect;

// Records what observers saw and how often a handler ran.
struct TRecorder {
    std::vector<TStateAspect> Aspects;
    int Handled = 0;

    void Watch(TControlState &AControl)
    {
        AControl.Subscribe([this](TControlState &, TStateAspect a) { Aspects.push_back(a); });
    }
    TNotifyEvent Handler()
    {
        return [this](TControlState &) { ++Handled; };
    }
};

QStringList Abc()
{
    return {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
}

} // namespace

// Setting Checked in code runs the click handler once per change, never
// for an unchanged value; a radio button runs it only when it becomes set.
TEST(ControlStateTest, CodeSideCheckedRunsClickOncePerChange)
{
    struct TCase {
        std::vector<bool> Sets;
        int CheckBoxClicks;
        int RadioClicks;
    };
    const TCase cases[] = {
        {{true}, 1, 1},
        {{false}, 0, 0},
        {{true, true}, 1, 1},
        {{true, false}, 2, 1},
        {{true, false, true}, 3, 2},
    };
    for (const TCase &c : cases) {
        TCheckBoxState box;
        TRadioButtonState radio;
        TRecorder boxRec, radioRec;
        box.OnClick = boxRec.Handler();
        radio.OnClick = radioRec.Handler();
        for (bool v : c.Sets) {
            box.SetChecked(v);
            radio.SetChecked(v);
        }
        SCOPED_TRACE(c.Sets.size());
        EXPECT_EQ(boxRec.Handled, c.CheckBoxClicks);
        EXPECT_EQ(radioRec.Handled, c.RadioClicks);
        EXPECT_EQ(box.Checked(), c.Sets.back());
        EXPECT_EQ(radio.Checked(), c.Sets.back());
    }
}

// The handler sees the new value, after the observers: a view shows the
// change before a handler asks its question.
TEST(ControlStateTest, ObserversSeeChangeBeforeHandler)
{
    TCheckBoxState box;
    std::vector<QString> events;
    box.Subscribe([&](TControlState &, TStateAspect) { events.push_back(QStringLiteral("observer")); });
    box.OnClick = [&](TControlState &sender) {
        EXPECT_EQ(&sender, &box);
        events.push_back(box.Checked() ? QStringLiteral("click on") : QStringLiteral("click off"));
    };
    box.UserClick();
    box.UserClick();
    EXPECT_EQ(events, (std::vector<QString>{QStringLiteral("observer"), QStringLiteral("click on"),
                                            QStringLiteral("observer"), QStringLiteral("click off")}));
}

// A handler that sets its own box back runs again for that change, and the
// box ends as the handler left it.
TEST(ControlStateTest, HandlerSettingItsOwnBoxRunsAgain)
{
    TCheckBoxState box;
    TRecorder rec;
    rec.Watch(box);
    box.OnClick = [&](TControlState &) {
        ++rec.Handled;
        if (box.Checked())
            box.SetChecked(false);  // refused: set back
    };
    box.UserClick();
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(rec.Handled, 2);
    EXPECT_EQ(rec.Aspects, (std::vector<A>{A::saChecked, A::saChecked}));
}

// Checking a radio button clears its checked sibling without running the
// sibling's handler; clicking a checked button changes nothing.
TEST(ControlStateTest, RadioButtonClearsSiblings)
{
    TRadioButtonState rbWin, rbFtp;
    auto rbOther = std::make_unique<TRadioButtonState>();
    JoinRadioButtons({&rbWin, &rbFtp, rbOther.get()});
    TRecorder win, ftp;
    rbWin.OnClick = win.Handler();
    rbFtp.OnClick = ftp.Handler();
    win.Watch(rbWin);

    rbWin.SetChecked(true);
    EXPECT_TRUE(rbFtp.UserClick());
    EXPECT_TRUE(rbFtp.Checked());
    EXPECT_FALSE(rbWin.Checked());
    EXPECT_EQ(win.Handled, 1);
    EXPECT_EQ(ftp.Handled, 1);
    EXPECT_EQ(win.Aspects, (std::vector<A>{A::saChecked, A::saChecked}));

    EXPECT_TRUE(rbFtp.UserClick());
    EXPECT_EQ(ftp.Handled, 1);

    // A destroyed sibling leaves the group.
    rbOther.reset();
    rbWin.SetChecked(true);
    EXPECT_FALSE(rbFtp.Checked());
}

// An item index set in code runs no handler, also for an index that names
// no item (which means none); a combo shows the selected item's text.
TEST(ControlStateTest, CodeSideItemIndexRunsNoHandler)
{
    struct TCase {
        int Index;
        int Expected;
    };
    const TCase cases[] = {{1, 1}, {2, 2}, {-1, -1}, {3, -1}, {-5, -1}};
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Index);
        TListBoxState list;
        TComboBoxState combo, editCombo(true);
        TRecorder rec;
        list.SetItems(Abc());
        combo.SetItems(Abc());
        editCombo.SetItems(Abc());
        list.SetItemIndex(0);
        combo.SetItemIndex(0);
        editCombo.SetItemIndex(0);
        list.OnClick = rec.Handler();
        combo.OnChange = rec.Handler();
        editCombo.OnChange = rec.Handler();

        list.SetItemIndex(c.Index);
        combo.SetItemIndex(c.Index);
        editCombo.SetItemIndex(c.Index);
        EXPECT_EQ(rec.Handled, 0);
        EXPECT_EQ(list.ItemIndex(), c.Expected);
        EXPECT_EQ(combo.ItemIndex(), c.Expected);
        EXPECT_EQ(editCombo.ItemIndex(), c.Expected);
        const QString text = c.Expected < 0 ? QString() : Abc().at(c.Expected);
        EXPECT_EQ(combo.Text(), text);
        EXPECT_EQ(editCombo.Text(), text);
    }
}

// A user selection runs the handler once per change of selection; an index
// that names no item is refused.
TEST(ControlStateTest, UserSelectionRunsHandler)
{
    TListBoxState list;
    TComboBoxState combo;
    TRecorder listRec, comboRec;
    list.SetItems(Abc());
    combo.SetItems(Abc());
    list.OnClick = listRec.Handler();
    combo.OnChange = comboRec.Handler();

    for (int index : {1, 1, 2}) {
        EXPECT_TRUE(list.UserSelect(index));
        EXPECT_TRUE(combo.UserSelect(index));
    }
    EXPECT_FALSE(list.UserSelect(3));
    EXPECT_FALSE(combo.UserSelect(-1));
    EXPECT_EQ(listRec.Handled, 2);
    EXPECT_EQ(comboRec.Handled, 2);
    EXPECT_EQ(list.ItemIndex(), 2);
    EXPECT_EQ(combo.ItemIndex(), 2);
    EXPECT_EQ(combo.Text(), QStringLiteral("c"));
}

// A radio group is made of radio buttons: its index set in code runs the
// click handler like a user choice, when the index changes to an item.
TEST(ControlStateTest, RadioGroupIndexRunsClickLikeRadioButtons)
{
    TRadioGroupState rgMode;
    TRecorder rec;
    rgMode.SetItems(Abc());
    rgMode.OnClick = rec.Handler();
    rgMode.SetItemIndex(1);
    rgMode.SetItemIndex(1);
    EXPECT_TRUE(rgMode.UserSelect(2));
    EXPECT_FALSE(rgMode.UserSelect(-1));
    EXPECT_EQ(rec.Handled, 2);
    rgMode.SetItemIndex(-1);
    EXPECT_EQ(rgMode.ItemIndex(), -1);
    EXPECT_EQ(rec.Handled, 2);
}

// Text set in code runs OnChange when the text changes; a combo selects the
// matching item, and a drop-down list takes no text but an item's.
TEST(ControlStateTest, TextSetInCode)
{
    struct TCase {
        bool Editable;
        const char *Text;
        const char *ExpectedText;
        int ExpectedIndex;
        int Changes;
    };
    const TCase cases[] = {
        {true, "b", "b", 1, 1},
        {true, "x", "x", -1, 1},
        {true, "a", "a", 0, 0},  // unchanged
        {false, "b", "b", 1, 1},
        {false, "x", "", -1, 1},
        {false, "A", "", -1, 1},  // items match exactly
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Text);
        TComboBoxState combo(c.Editable);
        TRecorder rec;
        combo.SetItems(Abc());
        combo.SetItemIndex(0);
        combo.OnChange = rec.Handler();
        combo.SetText(QString::fromLatin1(c.Text));
        EXPECT_EQ(combo.Text(), QString::fromLatin1(c.ExpectedText));
        EXPECT_EQ(combo.ItemIndex(), c.ExpectedIndex);
        EXPECT_EQ(rec.Handled, c.Changes);
    }

    TEditState edit;
    TRecorder rec;
    edit.OnChange = rec.Handler();
    edit.SetText(QStringLiteral("x"));
    edit.SetText(QStringLiteral("x"));
    EXPECT_TRUE(edit.UserEdit(QStringLiteral("xy")));
    EXPECT_EQ(edit.Text(), QStringLiteral("xy"));
    EXPECT_EQ(rec.Handled, 2);
}

// New items clear the selection; a drop-down list loses its text with it,
// an editable combo keeps what was typed; the same items change nothing.
TEST(ControlStateTest, NewItemsClearSelection)
{
    TComboBoxState list, editable(true);
    for (TComboBoxState *combo : {&list, &editable}) {
        combo->SetItems(Abc());
        combo->SetItemIndex(1);
        combo->SetItems(Abc());
        EXPECT_EQ(combo->ItemIndex(), 1);
        combo->SetItems({QStringLiteral("b")});
        EXPECT_EQ(combo->ItemIndex(), -1);
    }
    EXPECT_EQ(list.Text(), QString());
    EXPECT_EQ(editable.Text(), QStringLiteral("b"));
    EXPECT_FALSE(list.UserEdit(QStringLiteral("typed")));
    EXPECT_TRUE(editable.UserEdit(QStringLiteral("typed")));
    EXPECT_EQ(list.Text(), QString());
    EXPECT_EQ(editable.Text(), QStringLiteral("typed"));
}

// Observers see every change, once, with its aspect, and nothing for a
// value set again; an observer may unsubscribe itself while called.
TEST(ControlStateTest, ObserversSeeEveryChange)
{
    TComboBoxState combo(true);
    TRecorder rec;
    rec.Watch(combo);
    int once = 0;
    int onceId = 0;
    onceId = combo.Subscribe([&](TControlState &c, TStateAspect) {
        ++once;
        c.Unsubscribe(onceId);
    });

    combo.SetEnabled(false);
    combo.SetEnabled(false);
    combo.SetVisible(false);
    combo.SetHint(QStringLiteral("Directory"));
    combo.SetCaption(QStringLiteral("Target"));
    combo.SetItems(Abc());
    combo.SetItemIndex(2);  // index and text
    combo.SetText(QStringLiteral("zz"));  // text and index
    combo.SetTag(5);  // the logic's own memory
    combo.SetItems(Abc());
    EXPECT_EQ(rec.Aspects, (std::vector<A>{A::saEnabled, A::saVisible, A::saHint, A::saCaption,
                                           A::saItems, A::saItemIndex, A::saText, A::saItemIndex,
                                           A::saText}));
    EXPECT_EQ(once, 1);
    EXPECT_EQ(combo.Tag(), 5);

    TRadioGroupState group;
    TRecorder groupRec;
    groupRec.Watch(group);
    group.SetItems(Abc());
    group.SetItemIndex(1);
    group.SetItems({QStringLiteral("x")});
    group.SetColumns(0);  // at least one: unchanged
    group.SetColumns(5);
    EXPECT_EQ(group.Columns(), 5);
    EXPECT_EQ(groupRec.Aspects, (std::vector<A>{A::saItems, A::saItemIndex, A::saItems,
                                                A::saItemIndex, A::saColumns}));
}

// A disabled or hidden control refuses user actions but keeps its state, and
// code still sets it with the usual handlers.
TEST(ControlStateTest, DisabledOrHiddenControlRefusesUser)
{
    for (bool hide : {false, true}) {
        SCOPED_TRACE(hide);
        TCheckBoxState box;
        TRadioButtonState radio;
        TButtonState button;
        TEditState edit;
        TComboBoxState combo(true);
        TListBoxState list;
        TRadioGroupState group;
        TRecorder rec;
        box.OnClick = radio.OnClick = button.OnClick = list.OnClick = group.OnClick = rec.Handler();
        edit.OnChange = combo.OnChange = rec.Handler();
        list.SetItems(Abc());
        combo.SetItems(Abc());
        group.SetItems(Abc());
        box.SetChecked(true);
        edit.SetText(QStringLiteral("kept"));
        EXPECT_EQ(rec.Handled, 2);

        std::vector<TControlState *> all{&box, &radio, &button, &edit, &combo, &list, &group};
        for (TControlState *c : all)
            hide ? c->SetVisible(false) : c->SetEnabled(false);
        EXPECT_FALSE(box.UserClick());
        EXPECT_FALSE(radio.UserClick());
        EXPECT_FALSE(button.UserClick());
        EXPECT_FALSE(edit.UserEdit(QStringLiteral("typed")));
        EXPECT_FALSE(combo.UserEdit(QStringLiteral("typed")));
        EXPECT_FALSE(combo.UserSelect(1));
        EXPECT_FALSE(list.UserSelect(1));
        EXPECT_FALSE(group.UserSelect(1));
        EXPECT_EQ(rec.Handled, 2);
        EXPECT_TRUE(box.Checked());
        EXPECT_FALSE(radio.Checked());
        EXPECT_EQ(edit.Text(), QStringLiteral("kept"));
        EXPECT_EQ(combo.ItemIndex(), -1);
        EXPECT_EQ(list.ItemIndex(), -1);
        EXPECT_EQ(group.ItemIndex(), -1);

        box.SetChecked(false);
        radio.SetChecked(true);
        button.Click();
        EXPECT_EQ(rec.Handled, 5);

        for (TControlState *c : all)
            hide ? c->SetVisible(true) : c->SetEnabled(true);
        EXPECT_TRUE(box.UserClick());
        EXPECT_TRUE(box.Checked());
        EXPECT_EQ(rec.Handled, 6);
    }
}
