#include "ui/TimeSlotDialog.h"

#include "core/Settings.h"
#include "ListTestViews.h"
#include "ValueTestViews.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TRecordingMessages;
using vl::test::TScriptedValueViews;

namespace {

const TDateTime kMay1 = EncodeDate(2024, 5, 1);
const TDateTime kJun9 = EncodeDate(2024, 6, 9);

TTimePeriod Period(TTimeMode AMode, TTimeRef ARef = TTimeRef::trModify)
{
    TTimePeriod p;
    p.Mode = AMode;
    p.TmRef = ARef;
    p.Days = 30;
    p.DayTime = 600 / 1440.0; // 10:00
    p.Dat1 = kMay1;
    p.Dat2 = kJun9;
    return p;
}

} // namespace

TEST(TimeSlotDialogTest, OkStoresTheSlotTheDialogShows)
{
    struct Case {
        std::string name;
        TTimePeriod in;
        std::function<void(TTimeSlotDialog &)> edit;
        TTimePeriod out;
    } cases[] = {
        {"a mode the dialog does not offer opens as All", Period(TTimeMode::tmUpdate), [](TTimeSlotDialog &) {},
         Period(TTimeMode::tmAll)},
        {"today from 14:30 keeps the date of the start",
         Period(TTimeMode::tmAll),
         [](TTimeSlotDialog &D) {
             D.rbTmToday.UserClick();
             D.FromDate.UserChange(kMay1 + 870 / 1440.0);
         },
         [] {
             TTimePeriod p = Period(TTimeMode::tmToday);
             p.DayTime = 870 / 1440.0;
             return p;
         }()},
        {"a new day count and time stamp",
         Period(TTimeMode::tmNewer),
         [](TTimeSlotDialog &D) {
             D.rbTmLastDays.UserClick();
             D.reDays.UserEdit(u"7"_s);
             D.rgTimeSelect.UserSelect(2);
         },
         [] {
             TTimePeriod p = Period(TTimeMode::tmLastDays, TTimeRef::trBoth);
             p.Days = 7;
             return p;
         }()},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.OnTimeSlot = [&](TTimeSlotDialog &D) {
            c.edit(D);
            D.OKBtn.UserClick();
        };
        TTimePeriod slot = c.in;
        EXPECT_TRUE(SelectTimeSlot(slot)) << c.name;
        EXPECT_EQ(slot, c.out) << c.name;
    }
}

TEST(TimeSlotDialogTest, EveryOfferedModeAndTimeStampComesBackUnchanged)
{
    TScriptedValueViews views;
    views.OnTimeSlot = [](TTimeSlotDialog &D) { D.OKBtn.UserClick(); };
    for (int mode = int(TTimeMode::tmAll); mode <= int(TTimeMode::tmPrevDays); ++mode) {
        for (TTimeRef ref : {TTimeRef::trModify, TTimeRef::trCreate, TTimeRef::trBoth}) {
            TTimePeriod slot = Period(TTimeMode(mode), ref);
            EXPECT_TRUE(SelectTimeSlot(slot));
            EXPECT_EQ(slot, Period(TTimeMode(mode), ref)) << mode << " " << int(ref);
        }
    }
}

TEST(TimeSlotDialogTest, CancelOnlySetsTheModeOff)
{
    TScriptedValueViews views;
    views.OnTimeSlot = [](TTimeSlotDialog &D) {
        D.rbTmSpan.UserClick();
        D.FromDate.UserChange(kMay1 - 10);
        D.ToDate.UserChange(kJun9 + 10);
        D.rgTimeSelect.UserSelect(1);
        D.CancelBtn.UserClick();
    };
    TTimePeriod slot = Period(TTimeMode::tmOlder);
    EXPECT_FALSE(SelectTimeSlot(slot));
    TTimePeriod expected = Period(TTimeMode::tmOff);
    EXPECT_EQ(slot, expected);

    // Without a display nobody answers: the same as Cancel.
    TScriptedValueViews silent;
    slot = Period(TTimeMode::tmNewer);
    EXPECT_FALSE(SelectTimeSlot(slot));
    EXPECT_EQ(slot, expected);
}

TEST(TimeSlotDialogTest, EachModeShowsItsControlsBesideItsButton)
{
    TTimeSlotDialog d;
    using K = TDateTimePickerState::TKind;
    struct Case {
        TRadioButtonState *button;
        const TControlState *from;
        const TControlState *to;
        const TControlState *days;
        bool labels;
        K kind;
    } cases[] = {
        {&d.rbTmAll, nullptr, nullptr, nullptr, false, K::dtkDate},
        {&d.rbTmNewer, &d.rbTmNewer, nullptr, nullptr, false, K::dtkDate},
        {&d.rbTmOlder, nullptr, &d.rbTmOlder, nullptr, false, K::dtkDate},
        {&d.rbTmSpan, &d.lbFrom, &d.lbTo, nullptr, true, K::dtkDate},
        {&d.rbTmToday, &d.rbTmToday, nullptr, nullptr, false, K::dtkTime},
        {&d.rbTmLastDays, nullptr, nullptr, &d.rbTmLastDays, false, K::dtkDate},
        {&d.rbTmPrevDays, nullptr, nullptr, &d.rbTmPrevDays, false, K::dtkDate},
    };
    int arranged = 0;
    d.OnArrange = [&] { ++arranged; };
    for (const Case &c : cases) {
        const std::string name = c.button->Caption().toStdString();
        c.button->UserClick();
        EXPECT_EQ(d.PlaceOf(d.FromDate), c.from) << name;
        EXPECT_EQ(d.FromDate.Visible(), c.from != nullptr) << name;
        EXPECT_EQ(d.PlaceOf(d.ToDate), c.to) << name;
        EXPECT_EQ(d.ToDate.Visible(), c.to != nullptr) << name;
        EXPECT_EQ(d.PlaceOf(d.reDays), c.days) << name;
        EXPECT_EQ(d.reDays.Visible(), c.days != nullptr) << name;
        EXPECT_EQ(d.udDays.Visible(), c.days != nullptr) << name;
        EXPECT_EQ(d.lbDays.Visible(), c.days != nullptr) << name;
        EXPECT_EQ(d.lbFrom.Visible(), c.labels) << name;
        EXPECT_EQ(d.lbTo.Visible(), c.labels) << name;
        EXPECT_EQ(d.FromDate.Kind(), c.kind) << name;
        EXPECT_EQ(d.FromDate.Format(), c.kind == K::dtkTime ? PickerTimeFormat : PickerDateFormat) << name;
    }
    EXPECT_EQ(arranged, 7);
}

TEST(TimeSlotDialogTest, TheDatesOfAPeriodStayInOrder)
{
    TTimeSlotDialog d;
    TTimePeriod slot = Period(TTimeMode::tmSpan);
    slot.DayTime = 870 / 1440.0;
    d.Setup(slot);
    // A "to:" date before the start pulls the start back to it, keeping
    // its time of day.
    d.ToDate.UserChange(kMay1 - 3);
    EXPECT_EQ(d.FromDate.DateTime(), kMay1 - 3 + 870 / 1440.0);
    // A start after the end moves the end up.
    d.FromDate.UserChange(kJun9 + 5 + 870 / 1440.0);
    EXPECT_EQ(d.ToDate.DateTime(), kJun9 + 5);
    // A start before the end leaves it.
    d.FromDate.UserChange(kMay1);
    EXPECT_EQ(d.ToDate.DateTime(), kJun9 + 5);
}

TEST(TimeSlotDialogTest, ADayCountOutsideItsRangeKeepsTheDialogOpen)
{
    for (const QString &days : {u"0"_s, u"10000"_s}) {
        TScriptedValueViews views;
        TRecordingMessages messages;
        views.OnTimeSlot = [&](TTimeSlotDialog &D) {
            D.reDays.UserEdit(days);
            D.OKBtn.UserClick();
            EXPECT_EQ(D.ModalResult(), mrNone);
            D.reDays.UserEdit(u"12"_s);
            D.OKBtn.UserClick();
        };
        TTimePeriod slot = Period(TTimeMode::tmLastDays);
        EXPECT_TRUE(SelectTimeSlot(slot));
        EXPECT_EQ(slot.Days, 12);
        EXPECT_EQ(messages.Texts, QStringList{u"Range check error (1 .. 9999)"_s}) << days.toStdString();
    }
}
