#include "backup/AutoTask.h"

#include "common/TestUtils.h"
#include "core/FormatSettings.h"
#include "core/IniFile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vl;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kSekt = u"AutoTask3"_s;

TDateTime Today()
{
    return std::floor(Now());
}

// Day number of the stored time stamps (0001-01-01 = 1).
qint64 DayNumber(TDateTime T)
{
    return qint64(std::floor(T)) + 693594;
}

// A UTF-8 INI file with the given text, loaded as the program loads its INI.
TUnicodeIniFile IniFromText(const QString &AText)
{
    const QString name = test::MakeTempDir() + u"/Velkor.ini"_s;
    test::WriteBytes(name, AText.toUtf8());
    return TUnicodeIniFile::CreateForRead(name);
}

TAutoTask LoadSection(const QString &ALines)
{
    TUnicodeIniFile ini = IniFromText(u"["_s + kSekt + u"]\r\n"_s + ALines);
    TAutoTask task(u"/tasks/Docs.buj"_s);
    task.LoadFromIni(ini, kSekt);
    return task;
}

// Saves through a real file and opens it again.
TUnicodeIniFile SavedAndReopened(TUnicodeIniFile &AIni)
{
    AIni.Save();
    return TUnicodeIniFile::CreateForRead(AIni.FileName());
}

TUnicodeIniFile NewIni()
{
    return TUnicodeIniFile::CreateForWrite(test::MakeTempDir() + u"/Velkor.ini"_s, true);
}

// An entry with no field at its default.
TAutoTask FullEntry()
{
    TAutoTask t(u"/home/jo/Tasks/Photos weekly.buj"_s);
    t.TaskName = u"Photos (weekly)"_s;
    t.BuProcess = TAutoStart::asWeekDay;
    t.ThPr = TThreadPriority::tpLowest;
    t.AutoEnd = TInteraction::iaQuietError;
    t.ErrStatus = 6;
    t.SchedProps.StepMode = 1;
    t.SchedProps.LastZyk = 9;
    t.SchedProps.AktZyk = 4;
    t.SchedProps.WeekZyk = 1;
    t.SchedProps.NumZyk = 14;
    t.SchedProps.FullZyk = 5;
    t.SchedProps.SchedMode = TSchedMode::smIncr2;
    t.WeekDay = 100;
    t.RunIfMissed = false;
    t.LastTime = Today() - 3 + (13 * 3600 + 4 * 60 + 5) / 86400.0;
    t.NextTime = Today() + 2 + (21 * 3600 + 30 * 60) / 86400.0;
    return t;
}

void ExpectSameEntry(const TAutoTask &A, const TAutoTask &B)
{
    EXPECT_EQ(A.TaskName, B.TaskName);
    EXPECT_EQ(A.TaskPath, B.TaskPath);
    EXPECT_EQ(A.BuProcess, B.BuProcess);
    EXPECT_EQ(A.ThPr, B.ThPr);
    EXPECT_EQ(A.AutoEnd, B.AutoEnd);
    EXPECT_EQ(A.ErrStatus, B.ErrStatus);
    EXPECT_EQ(A.SchedProps.StepMode, B.SchedProps.StepMode);
    EXPECT_EQ(A.SchedProps.LastZyk, B.SchedProps.LastZyk);
    EXPECT_EQ(A.SchedProps.AktZyk, B.SchedProps.AktZyk);
    EXPECT_EQ(A.SchedProps.WeekZyk, B.SchedProps.WeekZyk);
    EXPECT_EQ(A.SchedProps.NumZyk, B.SchedProps.NumZyk);
    EXPECT_EQ(A.SchedProps.FullZyk, B.SchedProps.FullZyk);
    EXPECT_EQ(A.SchedProps.SchedMode, B.SchedProps.SchedMode);
    EXPECT_EQ(A.WeekDay, B.WeekDay);
    EXPECT_EQ(A.RunIfMissed, B.RunIfMissed);
    EXPECT_NEAR(A.LastTime, B.LastTime, 1e-8);
    EXPECT_NEAR(A.NextTime, B.NextTime, 1e-8);
}

TEST(AutoTaskTest, NewEntryHasDefaultsAndResetKeepsNames)
{
    TAutoTask t(u"/home/jo/Tasks/My docs.v2.buj"_s);
    EXPECT_EQ(t.TaskName, u"My docs.v2"_s);
    EXPECT_EQ(t.TaskPath, u"/home/jo/Tasks/My docs.v2.buj"_s);

    TAutoTask changed = FullEntry();
    changed.Reset();
    for (const TAutoTask *e : {&t, &changed}) {
        EXPECT_EQ(e->BuProcess, TAutoStart::asNone);
        EXPECT_EQ(e->ThPr, TThreadPriority::tpNormal);
        EXPECT_EQ(e->AutoEnd, TInteraction::iaDelay);
        EXPECT_EQ(e->ErrStatus, 0);
        EXPECT_EQ(e->SchedProps.StepMode, 0);
        EXPECT_EQ(e->SchedProps.LastZyk, 1000);
        EXPECT_EQ(e->SchedProps.AktZyk, 1);
        EXPECT_EQ(e->SchedProps.WeekZyk, 0);
        EXPECT_EQ(e->SchedProps.NumZyk, 1);
        EXPECT_EQ(e->SchedProps.FullZyk, 0);
        EXPECT_EQ(e->SchedProps.SchedMode, TSchedMode::smNormal);
        EXPECT_EQ(e->WeekDay, 127u);
        EXPECT_TRUE(e->RunIfMissed);
        EXPECT_EQ(e->LastTime, 0);
        EXPECT_DOUBLE_EQ(e->NextTime, 1.0 / 3);
        EXPECT_FALSE(e->IsActive());
    }
    EXPECT_EQ(changed.TaskName, u"Photos (weekly)"_s);
    EXPECT_EQ(changed.TaskPath, u"/home/jo/Tasks/Photos weekly.buj"_s);
}

TEST(AutoTaskTest, EveryFieldSurvivesSaveAndLoadThroughAFile)
{
    TAutoTask saved = FullEntry();
    TUnicodeIniFile ini = NewIni();
    ini.WriteString(kSekt, u"Stale"_s, u"x"_s);
    saved.SaveToIni(ini, kSekt);
    const TUnicodeIniFile back = SavedAndReopened(ini);

    EXPECT_FALSE(back.ValueExists(kSekt, u"Stale"_s));
    const QStringList keys = {u"Name"_s,      u"Caption"_s,   u"Mode"_s,      u"AutoEnd"_s,  u"Priority"_s,
                              u"ErrorStatus"_s, u"StepMode"_s, u"Cycles"_s,    u"ActCycle"_s, u"SchedMode"_s,
                              u"LastCycle"_s, u"WeekDay"_s,   u"LastDate"_s,  u"LastTime"_s, u"BackupDate"_s,
                              u"BackupTime"_s};
    EXPECT_EQ(back.ReadSection(kSekt), keys);
    EXPECT_EQ(back.ReadString(kSekt, u"Cycles"_s, {}), u"5014"_s);
    EXPECT_EQ(back.ReadString(kSekt, u"ActCycle"_s, {}), u"1004"_s);
    EXPECT_EQ(back.ReadString(kSekt, u"WeekDay"_s, {}), u"612"_s); // 100 + 512, no run-if-missed
    EXPECT_EQ(back.ReadString(kSekt, u"LastDate"_s, {}),
              QString::number(DayNumber(saved.LastTime)) + u" ; "_s
                  + FormatDateTime(u"yyyy-mm-dd"_s, saved.LastTime));
    EXPECT_EQ(back.ReadString(kSekt, u"LastTime"_s, {}), u"47045000 ; 13:04:05"_s);
    EXPECT_EQ(back.ReadString(kSekt, u"BackupTime"_s, {}), u"77400000 ; 21:30:00"_s);

    TAutoTask loaded(back.ReadString(kSekt, u"Name"_s, {}));
    loaded.LoadFromIni(back, kSekt);
    ExpectSameEntry(loaded, saved);
}

TEST(AutoTaskTest, ScheduleSaveWritesOnlyTheRunState)
{
    TUnicodeIniFile ini = NewIni();
    TAutoTask task = FullEntry();
    task.SaveToIni(ini, kSekt);
    const QStringList before = ini.ReadSectionValues(kSekt);

    // Everything changes in memory; only the run state may reach the file.
    TAutoTask changed = task;
    changed.TaskName = u"Other"_s;
    changed.BuProcess = TAutoStart::asLogon;
    changed.SchedProps.NumZyk = 3;
    changed.SchedProps.AktZyk = 2;
    changed.SchedProps.WeekZyk = 0;
    changed.SchedProps.LastZyk = 1;
    changed.WeekDay = 1;
    changed.LastTime = Today() + 0.5;
    changed.NextTime = Today() + 1.25;

    TAutoTask failed = changed;
    failed.SaveScheduleToIni(ini, kSekt, 3, false);
    EXPECT_EQ(failed.ErrStatus, 3);
    QStringList expected = before;
    expected[expected.indexOf(u"ErrorStatus=6"_s)] = u"ErrorStatus=3"_s;
    EXPECT_EQ(ini.ReadSectionValues(kSekt), expected);

    changed.SaveScheduleToIni(ini, kSekt, 0, true);
    const TUnicodeIniFile back = SavedAndReopened(ini);
    TAutoTask loaded(task.TaskPath);
    loaded.LoadFromIni(back, kSekt);
    TAutoTask want = task; // the stored settings of the entry stay
    want.ErrStatus = 0;
    want.SchedProps.AktZyk = 2;
    want.SchedProps.WeekZyk = 0;
    want.SchedProps.LastZyk = 1;
    want.LastTime = changed.LastTime;
    want.NextTime = changed.NextTime;
    ExpectSameEntry(loaded, want);
}

TEST(AutoTaskTest, FreeEntryIsSavedReset)
{
    TAutoTask task = FullEntry();
    task.TaskPath.clear();
    TUnicodeIniFile ini = NewIni();
    task.SaveToIni(ini, kSekt);
    EXPECT_EQ(task.TaskName, QString());
    EXPECT_EQ(ini.ReadString(kSekt, u"Name"_s, u"?"_s), QString());
    EXPECT_EQ(ini.ReadString(kSekt, u"Caption"_s, u"?"_s), QString());
    EXPECT_EQ(ini.ReadString(kSekt, u"Mode"_s, {}), u"0"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"AutoEnd"_s, {}), u"1"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"Priority"_s, {}), u"3"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"Cycles"_s, {}), u"1"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"LastCycle"_s, {}), u"1000"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"WeekDay"_s, {}), u"895"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"LastDate"_s, {}), u"0"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"LastTime"_s, {}), u"0 ; 00:00:00"_s);
    EXPECT_EQ(ini.ReadString(kSekt, u"BackupTime"_s, {}), u"28800000 ; 08:00:00"_s);
}

TEST(AutoTaskTest, WeekdayMaskAndRunIfMissed)
{
    const struct {
        const char *Lines;
        uint32_t Mask;
        bool RunIfMissed;
    } cases[] = {
        {"Mode=3\r\nWeekDay=127", 127, false},   // older file: every day
        {"Mode=3\r\nWeekDay=5", 127, false},     // older file, daily-at mode ignores the mask
        {"Mode=5\r\nWeekDay=5", 5, false},       // older file, other mode keeps it
        {"Mode=3\r\nWeekDay=600", 88, false},    // Thu, Fri, Sun
        {"Mode=3\r\nWeekDay=868", 100, true},
        {"Mode=1", 127, false},                  // missing
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Lines);
        const TAutoTask t = LoadSection(QString::fromUtf8(c.Lines));
        EXPECT_EQ(t.WeekDay, c.Mask);
        EXPECT_EQ(t.RunIfMissed, c.RunIfMissed);
    }
}

TEST(AutoTaskTest, CycleValuesSplitByStepMode)
{
    const struct {
        const char *Lines;
        int Full, Num, Week, Akt;
    } cases[] = {
        {"StepMode=1\r\nCycles=5014\r\nActCycle=2003", 5, 14, 2, 3},
        {"StepMode=2\r\nCycles=5014\r\nActCycle=2003", 0, 14, 2, 3},
        {"StepMode=1\r\nCycles=7\r\nActCycle=1000", 0, 7, 0, 1000},
        {"", 0, 1, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Lines);
        const TAutoTask t = LoadSection(QString::fromUtf8(c.Lines));
        EXPECT_EQ(t.SchedProps.FullZyk, c.Full);
        EXPECT_EQ(t.SchedProps.NumZyk, c.Num);
        EXPECT_EQ(t.SchedProps.WeekZyk, c.Week);
        EXPECT_EQ(t.SchedProps.AktZyk, c.Akt);
    }
}

TEST(AutoTaskTest, ValuesOutOfRangeGiveDefaults)
{
    const struct {
        const char *Lines;
        bool (*Holds)(const TAutoTask &);
    } cases[] = {
        {"Mode=8", [](const TAutoTask &t) { return t.BuProcess == TAutoStart::asNone; }},
        {"Mode=-1", [](const TAutoTask &t) { return t.BuProcess == TAutoStart::asNone; }},
        {"Mode=7", [](const TAutoTask &t) { return t.BuProcess == TAutoStart::asByRequest; }},
        {"AutoEnd=5", [](const TAutoTask &t) { return t.AutoEnd == TInteraction::iaDelay; }},
        {"AutoEnd=4", [](const TAutoTask &t) { return t.AutoEnd == TInteraction::iaQuietError; }},
        {"Priority=6", [](const TAutoTask &t) { return t.ThPr == TThreadPriority::tpNormal; }},
        {"Priority=0", [](const TAutoTask &t) { return t.ThPr == TThreadPriority::tpNormal; }},
        {"Priority=4", [](const TAutoTask &t) { return t.ThPr == TThreadPriority::tpHigher; }},
        {"SchedMode=9", [](const TAutoTask &t) { return t.SchedProps.SchedMode == TSchedMode::smNormal; }},
        {"StepMode=4", [](const TAutoTask &t) { return t.SchedProps.StepMode == 0; }},
        {"Cycles=0", [](const TAutoTask &t) { return t.SchedProps.NumZyk == 1; }},
        {"StepMode=2\r\nCycles=3000", [](const TAutoTask &t) { return t.SchedProps.NumZyk == 1; }},
        {"StepMode=1\r\nCycles=9007",
         [](const TAutoTask &t) { return t.SchedProps.FullZyk == 0 && t.SchedProps.NumZyk == 7; }},
        {"Cycles=-5", [](const TAutoTask &t) { return t.SchedProps.NumZyk == 1; }},
        {"ActCycle=-2", [](const TAutoTask &t) { return t.SchedProps.AktZyk == 1 && t.SchedProps.WeekZyk == 0; }},
        {"LastCycle=1001", [](const TAutoTask &t) { return t.SchedProps.LastZyk == 1000; }},
        {"LastCycle=0", [](const TAutoTask &t) { return t.SchedProps.LastZyk == 0; }},
        {"BackupDate=99999999\r\nBackupTime=3600000",
         [](const TAutoTask &t) { return t.NextTime == Today() + 1.0 / 24; }},
        {"BackupTime=86400000", [](const TAutoTask &t) { return t.NextTime == Today() + 1.0 / 3; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Lines);
        EXPECT_TRUE(c.Holds(LoadSection(QString::fromUtf8(c.Lines))));
    }
}

TEST(AutoTaskTest, StoredTimes)
{
    const qint64 today = DayNumber(Today());
    const QString t = QString::number(today);
    const struct {
        QString Lines;
        TDateTime Last, Next;
    } cases[] = {
        // Missing dates: never run, due today at the stored or default time.
        {u""_s, 0, Today() + 1.0 / 3},
        {u"BackupTime=72000000 ; 20:00:00"_s, 0, Today() + 20.0 / 24},
        {u"BackupDate=693595\r\nBackupTime=3600000"_s, 0, Today() + 1.0 / 24},
        {u"BackupDate=%1 ; x\r\nBackupTime=0"_s.arg(today + 5), 0, Today() + 5},
        {u"LastDate=0\r\nLastTime=3600000"_s, 0, Today() + 1.0 / 3},
        {u"LastDate=693595\r\nLastTime=3600000"_s, 0, Today() + 1.0 / 3},
        {u"LastDate= %1 ; 2026-01-01 \r\nLastTime=43200000 ; 12:00:00"_s.arg(t), Today() + 0.5, Today() + 1.0 / 3},
        {u"LastDate=%1\r\nLastTime=0"_s.arg(today + 1), Today() + 1, Today() + 1.0 / 3},
        // Later than tomorrow 00:00: a wrong clock wrote it; forgotten.
        {u"LastDate=%1\r\nLastTime=1000"_s.arg(today + 1), 0, Today() + 1.0 / 3},
        {u"LastDate=abc\r\nLastTime=5"_s, 0, Today() + 1.0 / 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Lines.toStdString());
        const TAutoTask task = LoadSection(c.Lines);
        EXPECT_NEAR(task.LastTime, c.Last, 1e-9);
        EXPECT_NEAR(task.NextTime, c.Next, 1e-9);
    }
}

TEST(AutoTaskTest, WeekdayInSchedule)
{
    TAutoTask t;
    t.WeekDay = 100; // Wednesday, Saturday, Sunday
    const TDateTime monday = EncodeDate(2026, 12, 7);
    const bool expected[7] = {false, false, true, false, false, true, true};
    for (int d = 0; d < 7; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(t.WeekdayInSchedule(monday + d + 0.75), expected[d]);
    }
    t.WeekDay = 0;
    EXPECT_FALSE(t.WeekdayInSchedule(monday));
}

class AutoTaskTextTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(TFormatSettings::Invariant()); }
};

TEST_F(AutoTaskTextTest, ScheduleDescriptionByStartMode)
{
    const TDateTime today = Today() + 20.0 / 24;
    const TDateTime other = Today() + 3 + 7.5 / 24;
    const QString otherDay = FormatDateTime(u"dddd"_s, other);
    const struct {
        TAutoStart Mode;
        TDateTime Next;
        QString Text;
    } cases[] = {
        {TAutoStart::asNone, today, u"Deactivated"_s},
        {TAutoStart::asLogon, today, u"On next logon"_s},
        {TAutoStart::asDaily, today, u"Tomorrow on logon"_s},
        {TAutoStart::asDailyAt, today, u"Today at 20:00"_s},
        {TAutoStart::asDailyAt, other, u"Next "_s + otherDay + u" at 07:30"_s},
        {TAutoStart::asLogoff, other, u"On logoff not before 07:30"_s},
        {TAutoStart::asWeekly, other, u"On first logon on "_s + otherDay},
        {TAutoStart::asWeekDay, today, u"Today on next logoff"_s},
        {TAutoStart::asWeekDay, other, u"On first logoff on "_s + otherDay},
        {TAutoStart::asByRequest, other, u"By request"_s},
    };
    ASSERT_FALSE(otherDay.isEmpty());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        TAutoTask t(u"/t/a.buj"_s);
        t.BuProcess = c.Mode;
        t.NextTime = c.Next;
        EXPECT_EQ(t.GetScheduleDesc(), c.Text);
        t.TaskPath.clear();
        EXPECT_EQ(t.GetScheduleDesc(), QString());
    }
}

TEST_F(AutoTaskTextTest, DescriptionOfALoadedEntryThatNeverRan)
{
    TAutoTask t = LoadSection(u"Mode=4\r\nLastDate=0\r\nBackupTime=72000000"_s);
    EXPECT_EQ(t.LastTime, 0);
    EXPECT_EQ(t.GetScheduleDesc(), u"On logoff not before 20:00"_s);
}

TEST_F(AutoTaskTextTest, AlternatingScheduleTexts)
{
    const struct {
        int Step, Num, Akt, Week, Full;
        TSchedMode Mode;
        QString Code, Info;
    } cases[] = {
        {0, 7, 1, 0, 0, TSchedMode::smDiff, u""_s, u"No schedule configured!"_s},
        {1, 7, 3, 0, 2, TSchedMode::smDiff, u"D7-D"_s,
         u"Mode: As in task + Differential\r\nDaily - 1-week cycle\r\nFull on each Wednesday\r\nCurrent step: Wed"_s},
        {1, 14, 5, 1, 0, TSchedMode::smIncr, u"D14-I"_s,
         u"Mode: As in task + Incremental\r\nDaily - 2-week cycle\r\nFull on each 2nd Monday\r\n"
         u"Current step: Fri, 2nd week"_s},
        {1, 14, 1, 0, 6, TSchedMode::smDiff2, u"D14-D2"_s,
         u"Mode: As in task + Differential\r\nDaily - 2-week cycle\r\nFull on each Sunday\r\n"
         u"Current step: Mon, 1st week"_s},
        {1, 5, 2, 0, 0, TSchedMode::smIncr, u"D5-I"_s,
         u"Mode: As in task + Incremental\r\nDaily change (5 days)\r\nCurrent step: 2nd day"_s},
        {1, 7, 3, 0, 0, TSchedMode::smNormal, u"D7"_s,
         u"Mode: As defined in task\r\nDaily change (7 days)\r\nCurrent step: 3rd day"_s},
        {2, 4, 1, 0, 0, TSchedMode::smNormal, u"DW4"_s,
         u"Mode: As defined in task\r\nDaily - weekly change (4 weeks)\r\nCurrent step: 1st  week"_s},
        {3, 8, 3, 0, 0, TSchedMode::smIncr2, u"W8-I2"_s,
         u"Mode: As in task + Incremental\r\nWeekly change (2x4 weeks)\r\nCurrent step: 3rd week"_s},
        {3, 6, 11, 0, 0, TSchedMode::smDiff2, u"W6-D2"_s,
         u"Mode: As in task + Differential\r\nWeekly change (2x3 weeks)\r\nCurrent step: 11th week"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Code.toStdString());
        TAutoTask t;
        t.SchedProps.StepMode = c.Step;
        t.SchedProps.NumZyk = c.Num;
        t.SchedProps.AktZyk = c.Akt;
        t.SchedProps.WeekZyk = c.Week;
        t.SchedProps.FullZyk = c.Full;
        t.SchedProps.SchedMode = c.Mode;
        EXPECT_EQ(t.GetAltSchedDesc(), c.Code);
        EXPECT_EQ(t.GetScheduleInfo(), c.Info);
    }
}

TEST(AutoTaskTest, PageChoiceTexts)
{
    EXPECT_EQ(AutoStartTexts(), (QStringList{u"Never"_s, u"Always on logon"_s, u"Daily on logon"_s,
                                             u"Daily at selected time"_s, u"Always on logoff"_s,
                                             u"On first logon"_s, u"On first logoff"_s, u"By request"_s}));
    EXPECT_EQ(InteractionTexts(), (QStringList{u"Wait for prompt"_s, u"Close automatically"_s, u"Not visible"_s,
                                               u"Wait only on errors"_s, u"Not visible except on errors"_s}));
    EXPECT_EQ(ThreadPriorityTexts(), (QStringList{u"Normal"_s, u"Very low"_s, u"Low"_s, u"High"_s}));
    EXPECT_EQ(SchedModeTexts(),
              (QStringList{u"As defined in task"_s, u"1x As defined in task + Differential"_s,
                           u"1x As defined in task + Incremental"_s, u"2x As defined in task + Differential"_s,
                           u"2x As defined in task + Incremental"_s}));
    EXPECT_EQ(InteractionText(TInteraction::iaNone), QString());
    EXPECT_EQ(AutoTaskSection(15), u"AutoTask15"_s);
}

} // namespace
