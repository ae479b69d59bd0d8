#include "app/OwnSchedules.h"

#include "backup/BackupForm.h"
#include "common/MessageRecorder.h"

#include <deque>
#include <vector>

namespace vl {
namespace {

using test::TMessageRecorder;

// 2026-12-07 is a Monday.
const TDateTime kMon = EncodeDate(2026, 12, 7);
constexpr TDateTime kHour = 1.0 / 24;
constexpr uint32_t kMonToFri = 31;

TDateTime At(int ADayOffset, int AHour, int AMinute = 0, int ASecond = 0)
{
    return kMon + ADayOffset + (AHour * 3600 + AMinute * 60 + ASecond) / 86400.0;
}

struct TJobCall {
    int Nr;
    TInteraction InterAct;
    TThreadPriority Priority;
    QString Path;
    int AktZyk; // the step the run was told
};

// The schedules with a recording backup run in place of DoBackupJob. The
// fake run acts as the real one does on the schedule entry: after a run
// that did not fail it stores the step (LastZyk) and its start time.
class OwnSchedulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        S.DoBackupJob = [this](int Nr, TInteraction Ia, TThreadPriority Pr, const QString &Path) {
            TAutoTask *e = Nr > 0 ? &Tasks[size_t(Nr - 1)] : nullptr;
            Calls.push_back({Nr, Ia, Pr, Path, e ? e->SchedProps.AktZyk : 0});
            const TBuResult r = Results.empty() ? TBuResult::brOK : Results.front();
            if (!Results.empty())
                Results.pop_front();
            Form.BuStatus = Statuses.empty() ? TBuStatus::bsOK : Statuses.front();
            if (!Statuses.empty())
                Statuses.pop_front();
            if (r == TBuResult::brError)
                S.SetExitCode(1, Nr);
            else if (e) {
                if (e->SchedProps.StepMode > 0)
                    e->SchedProps.LastZyk = e->SchedProps.AktZyk;
                e->LastTime = RunTime;
            }
            return r;
        };
        S.SaveAutoTaskState = [this](int i) { Saved.push_back(i); };
    }

    TAutoTask &Entry(int i, TAutoStart AMode, const QString &APath = QString())
    {
        TAutoTask &e = Tasks[size_t(i)];
        e = TAutoTask(APath.isEmpty() ? QStringLiteral("/t/task%1.buj").arg(i + 1) : APath);
        e.BuProcess = AMode;
        return e;
    }

    TBuResult Run(const QString &ATasks, int AKind, TDateTime ANow, TInteraction Ia = TInteraction::iaNone)
    {
        RunTime = ANow;
        return S.RunAutoTasks(ATasks, AKind, TThreadPriority::tpLower, Ia, ANow);
    }

    std::vector<int> Nrs() const
    {
        std::vector<int> nrs;
        for (const TJobCall &c : Calls)
            nrs.push_back(c.Nr);
        return nrs;
    }

    std::vector<int> Steps() const
    {
        std::vector<int> steps;
        for (const TJobCall &c : Calls)
            steps.push_back(c.AktZyk);
        return steps;
    }

    TAutoTaskArray Tasks;
    TBackupForm Form;
    TOwnSchedules S{Tasks, Form};
    std::vector<TJobCall> Calls;
    std::vector<int> Saved;
    std::deque<TBuResult> Results;
    std::deque<TBuStatus> Statuses;
    TDateTime RunTime = 0;
};

// ---- Weekday masks ----

TEST(OwnSchedulesDays, FirstWeekdayOfMask)
{
    const struct {
        uint32_t Mask;
        int Day;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {12, 3}, {64, 7}, {127, 1}, {128, 0}, {128 + 32, 6}};
    for (const auto &c : cases)
        EXPECT_EQ(TOwnSchedules::FirstWeekdayOfMask(c.Mask), c.Day) << c.Mask;
}

TEST(OwnSchedulesDays, NextScheduledDay)
{
    const struct {
        uint32_t Mask;
        bool IncludeToday;
        TDateTime From, Expected;
    } cases[] = {
        {kMonToFri, true, At(5, 20), At(7, 20)}, // Saturday -> Monday
        {kMonToFri, true, At(0, 8), At(0, 8)},   // today is in the mask
        {kMonToFri, false, At(0, 8), At(1, 8)},  // from tomorrow
        {kMonToFri, false, At(4, 8), At(7, 8)},  // Friday -> Monday
        {2 | 8, false, At(1, 0), At(3, 0)},      // Tuesday -> Thursday
        {1, false, At(6, 12), At(7, 12)},        // Sunday -> Monday
        {64, true, At(6, 0) + 0.1 / 86400, At(6, 0) + 0.1 / 86400},
        {0, true, At(2, 10), At(9, 10)},   // empty: a week later
        {0, false, At(2, 10), At(10, 10)}, // empty: a week and a day later
        // Half a second before midnight counts as the next day.
        {kMonToFri, true, At(6, 23, 59, 59) + 0.5 / 86400, At(7, 23, 59, 59) + 0.5 / 86400},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(TOwnSchedules::NextScheduledDay(c.Mask, c.IncludeToday, c.From), c.Expected, 1e-9)
            << c.Mask << " " << c.IncludeToday << " " << (c.From - kMon);
}

// ---- Step codes ----

struct TStepCase {
    const char *Name;
    int StepMode, NumZyk, AktZyk, LastZyk, WeekZyk, FullZyk;
    TSchedMode SchedMode;
    TAutoStart Mode;
    uint32_t Mask;
    TDateTime LastTime;
    TAutoStart Kind;
    TDateTime Day;
    int Code;
    int WeekZykAfter;
};

TEST_F(OwnSchedulesTest, GetScheduleStep)
{
    using enum TSchedMode;
    using enum TAutoStart;
    const int X = kStepExplicit;
    const TStepCase cases[] = {
        {"no steps", 0, 5, 2, 2, 0, 0, smDiff, asLogon, 127, At(-1, 8), asLogon, At(0, 0), 0, 0},
        {"daily next", 1, 5, 2, 2, 0, 0, smDiff, asDaily, 127, At(-1, 8), asDaily, At(0, 0), 3, 0},
        {"daily wraps", 1, 5, 5, 5, 0, 0, smDiff, asDaily, 127, At(-1, 8), asDaily, At(0, 0), 1, 0},
        {"daily ran today", 1, 5, 2, 2, 0, 0, smDiff, asDaily, 127, At(0, 8), asDaily, At(0, 0), -1, 0},
        {"daily by hand", 1, 5, 2, 2, 0, 0, smDiff, asDaily, 127, At(0, 8), asLogon, At(0, 0), 3, 0},
        {"daily logoff", 1, 5, 2, 2, 0, 0, smDiff, asLogoff, 127, At(0, 8), asLogoff, At(0, 0), 3, 0},
        {"week waits for full day", 1, 7, 1, 1000, 0, 2, smDiff, asDaily, 127, 0, asDaily, At(0, 0), -1, 0},
        {"week starts on full day", 1, 7, 1, 1000, 0, 2, smDiff, asDaily, 127, 0, asDaily, At(2, 0), X + 3, 0},
        {"week without mode starts", 1, 7, 1, 1000, 0, 2, smNormal, asDaily, 127, 0, asDaily, At(0, 0), X + 1, 0},
        {"week next day", 1, 7, 3, 3, 0, 0, smDiff, asDaily, 127, At(-5, 8), asDaily, At(3, 0), X + 4, 0},
        {"two weeks: second week", 1, 14, 5, 5, 0, 0, smDiff, asDaily, 127, At(-3, 8), asDaily, At(0, 0), X + 8, 1},
        {"two weeks: back to first", 1, 14, 5, 12, 1, 0, smDiff, asDaily, 127, At(-3, 8), asDaily, At(0, 0), X + 1, 0},
        {"week: ran after its time", 1, 7, 3, 3, 0, 0, smDiff, asDaily, 127, At(2, 9), asLogon, At(2, 0), -1, 0},
        {"weekly change same week", 2, 4, 2, 2, 0, 0, smDiff, asDaily, 127, At(2, 8), asDaily, At(4, 0), X + 2, 0},
        {"weekly change next week", 2, 4, 2, 2, 0, 0, smDiff, asDaily, 127, At(2, 8), asDaily, At(7, 0), X + 3, 0},
        {"weekly change weeks later", 2, 4, 2, 2, 0, 0, smDiff, asDaily, 127, At(2, 8), asDaily, At(30, 0), X + 3, 0},
        {"weekly change wraps", 2, 4, 4, 4, 0, 0, smDiff, asDaily, 127, At(2, 8), asDaily, At(7, 0), X + 1, 0},
        {"weekly change not started", 2, 4, 2, 1000, 0, 0, smDiff, asDaily, 127, At(2, 8), asDaily, At(7, 0), X + 2, 0},
        {"1 per week not started", 3, 4, 2, 1000, 0, 0, smDiff, asLogon, 127, At(2, 8), asLogon, At(3, 0), X + 2, 0},
        {"1 per week logon same week", 3, 4, 2, 2, 0, 0, smDiff, asLogon, 127, At(2, 8), asLogon, At(4, 0), -1, 0},
        {"1 per week logon next week", 3, 4, 2, 2, 0, 0, smDiff, asLogon, 127, At(2, 8), asLogon, At(7, 0), X + 3, 0},
        {"1 per week Tue/Thu on Wed", 3, 4, 2, 2, 0, 0, smDiff, asWeekly, 2 | 8, At(-6, 8), asWeekly, At(2, 0), -1, 0},
        {"1 per week Tue/Thu by hand", 3, 4, 2, 2, 0, 0, smDiff, asWeekly, 2 | 8, At(-6, 8), asLogon, At(2, 0), -1, 0},
        {"1 per week Tue/Thu on Tue", 3, 4, 2, 2, 0, 0, smDiff, asWeekly, 2 | 8, At(-6, 8), asWeekly, At(1, 0), X + 3,
         0},
        {"1 per week Tue/Thu on Mon", 3, 4, 4, 4, 0, 0, smDiff, asWeekly, 2 | 8, At(-6, 8), asWeekly, At(0, 0), X + 1,
         0},
        {"no steps in cycle", 1, 0, 1, 1, 0, 0, smDiff, asDaily, 127, At(-1, 8), asDaily, At(0, 0), 1, 0},
    };
    for (const TStepCase &c : cases) {
        TAutoTask &e = Entry(0, c.Mode);
        e.SchedProps = {c.StepMode, c.LastZyk, c.AktZyk, c.WeekZyk, c.NumZyk, c.FullZyk, c.SchedMode};
        e.WeekDay = c.Mask;
        e.LastTime = c.LastTime;
        e.NextTime = 8 * kHour;
        EXPECT_EQ(S.GetScheduleStep(0, c.Kind, c.Day), c.Code) << c.Name;
        EXPECT_EQ(e.SchedProps.WeekZyk, c.WeekZykAfter) << c.Name;
    }
}

TEST_F(OwnSchedulesTest, ApplyAndSetScheduleStep)
{
    TSchedule &s = Entry(0, TAutoStart::asDaily).SchedProps;
    s = {2, 1, 3, 0, 4, 0, TSchedMode::smDiff};
    for (int code : {-1, 0, 3, kStepExplicit})
        EXPECT_EQ(S.ApplyScheduleStep(0, code), code);
    EXPECT_EQ(s.AktZyk, 3);
    EXPECT_EQ(S.ApplyScheduleStep(0, kStepExplicit + 4), kStepExplicit + 4);
    EXPECT_EQ(s.AktZyk, 4);
    S.SetScheduleStep(0, kStepExplicit + 4);
    EXPECT_EQ(s.AktZyk, 4);
    S.SetScheduleStep(0, 5); // past the end of the cycle
    EXPECT_EQ(s.AktZyk, 1);
    S.SetScheduleStep(0, -1);
    EXPECT_EQ(s.AktZyk, 1);

    // Whole weeks: the step during the run is weekday + 7 x week.
    s = {1, 1, 1, 0, 14, 0, TSchedMode::smDiff};
    EXPECT_EQ(S.ApplyScheduleStep(0, kStepExplicit + 12), 13);
    EXPECT_EQ(s.AktZyk, 12);
    S.SetScheduleStep(0, 13);
    EXPECT_EQ(s.WeekZyk, 1);
    EXPECT_EQ(s.AktZyk, 5);
}

// A 14-day cycle of daily steps with a differential mode and the full
// backup on Monday, run at each day's first logon: it waits for Monday,
// counts 1..14 day by day, and a Monday missed in the third week brings an
// extra full backup before Tuesday's run.
TEST_F(OwnSchedulesTest, TwoWeekCycleDayByDay)
{
    TAutoTask &e = Entry(0, TAutoStart::asDaily);
    e.SchedProps = {1, 1000, 1, 0, 14, 0, TSchedMode::smDiff};
    std::vector<std::pair<int, std::vector<int>>> ran;
    for (int day = -3; day <= 16; ++day) {
        if (day == 14) // the computer stays off on the third Monday
            continue;
        Calls.clear();
        Run(QString(), kRunAtStart, At(day, 8));
        if (!Calls.empty())
            ran.push_back({day, Steps()});
    }
    std::vector<std::pair<int, std::vector<int>>> expected;
    for (int day = 0; day < 14; ++day)
        expected.push_back({day, {day + 1}});
    expected.push_back({15, {1, 2}}); // extra full, then Tuesday's step
    expected.push_back({16, {3}});
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(e.SchedProps.WeekZyk, 0);
    EXPECT_EQ(e.SchedProps.AktZyk, 3);
}

// ---- Missed full backups ----

struct TMissedCase {
    const char *Name;
    int NumZyk, AktZyk, LastZyk, WeekZyk, FullZyk;
    TSchedMode SchedMode;
    TDateTime LastTime;
    TDateTime Day;
    int FullStep; // 0: no extra run
};

TEST_F(OwnSchedulesTest, RunMissedFullBackup)
{
    using enum TSchedMode;
    const TMissedCase cases[] = {
        {"mode as in task", 5, 3, 1000, 0, 0, smNormal, At(-1, 8), At(0, 0), 0},
        {"cycle not started", 5, 3, 1000, 0, 0, smDiff, At(-1, 8), At(0, 0), 1},
        {"not started, full step", 6, 1, 1000, 0, 0, smDiff, At(-1, 8), At(0, 0), 0},
        {"running cycle", 5, 3, 2, 0, 0, smIncr, At(-1, 8), At(0, 0), 0},
        {"2x second half", 8, 6, 1000, 0, 0, smDiff2, At(-1, 8), At(0, 0), 5},
        {"2x first half", 8, 3, 1000, 0, 0, smIncr2, At(-1, 8), At(0, 0), 1},
        {"2x short cycle", 4, 3, 1000, 0, 0, smDiff2, At(-1, 8), At(0, 0), 1},
        {"2x one step", 1, 1, 1000, 0, 0, smIncr2, At(-1, 8), At(0, 0), 1},
        {"week: today is full day", 7, 3, 3, 0, 2, smDiff, At(-1, 8), At(2, 0), 0},
        {"week: not started", 7, 3, 1000, 0, 0, smDiff, 0, At(2, 0), 0},
        {"week: start with full", 7, 3, 0, 0, 0, smDiff, 0, At(2, 0), 1},
        {"week: F < D < L", 7, 5, 5, 0, 0, smDiff, At(-3, 8), At(2, 0), 1},
        {"week: L < F < D", 7, 1, 1, 0, 2, smDiff, At(0, 8), At(4, 0), 3},
        {"week: F < L < D", 7, 2, 2, 0, 0, smDiff, At(1, 8), At(3, 0), 0},
        {"week: D < L < F", 7, 4, 4, 0, 5, smDiff, At(-4, 8), At(1, 0), 6},
        {"week: D < F < L", 7, 6, 6, 0, 2, smDiff, At(-2, 8), At(1, 0), 0},
        {"week: same weekday, same day", 7, 3, 3, 0, 0, smDiff, At(2, 8), At(2, 0), 0},
        {"week: same weekday, week later", 7, 3, 3, 0, 0, smDiff, At(-5, 8), At(2, 0), 1},
        {"week: more than a week", 7, 2, 2, 0, 5, smDiff, At(-13, 8), At(3, 0), 6},
        {"2x weeks: full day passed this week", 14, 2, 7, 1, 0, smDiff2, At(-1, 8), At(2, 0), 8},
        {"2x weeks: full day passed last week", 14, 2, 2, 0, 4, smDiff2, At(-13, 8), At(2, 0), 12},
        {"2x four weeks: last week of cycle", 28, 2, 2, 0, 4, smDiff2, At(-13, 8), At(2, 0), 19},
    };
    for (const TMissedCase &c : cases) {
        TAutoTask &e = Entry(0, TAutoStart::asDaily);
        e.SchedProps = {1, c.LastZyk, c.AktZyk, c.WeekZyk, c.NumZyk, c.FullZyk, c.SchedMode};
        e.LastTime = c.LastTime;
        e.AutoEnd = TInteraction::iaQuiet;
        e.ThPr = TThreadPriority::tpLowest;
        Calls.clear();
        RunTime = c.Day + 9 * kHour;
        S.RunMissedFullBackup(0, TInteraction::iaNone, c.Day);
        if (c.FullStep == 0) {
            EXPECT_TRUE(Calls.empty()) << c.Name;
            continue;
        }
        ASSERT_EQ(Calls.size(), 1u) << c.Name;
        EXPECT_EQ(Calls[0].AktZyk, c.FullStep) << c.Name;
        EXPECT_EQ(Calls[0].Nr, 1) << c.Name;
        EXPECT_EQ(Calls[0].InterAct, TInteraction::iaQuiet) << c.Name;
        EXPECT_EQ(Calls[0].Priority, TThreadPriority::tpLowest) << c.Name;
        // The step and the last run time are the regular run's again; the
        // extra run's step stays as the last one.
        EXPECT_EQ(e.SchedProps.AktZyk, c.AktZyk) << c.Name;
        EXPECT_EQ(e.LastTime, c.LastTime) << c.Name;
        EXPECT_EQ(e.SchedProps.LastZyk, c.FullStep) << c.Name;
    }
}

// A failed run neither advances the week of the cycle nor keeps the step
// it was given: the next day's run continues where the cycle stood.
TEST_F(OwnSchedulesTest, FailedRunKeepsTheStep)
{
    TAutoTask &e = Entry(0, TAutoStart::asLogon);
    e.SchedProps = {1, 5, 5, 0, 14, 0, TSchedMode::smDiff}; // last run: Friday of week 1
    e.LastTime = At(-3, 8);
    Results = {TBuResult::brError};
    EXPECT_EQ(Run(QString(), kRunAtStart, At(0, 8)), TBuResult::brError);
    EXPECT_EQ(e.SchedProps.AktZyk, 5);
    EXPECT_EQ(e.SchedProps.WeekZyk, 0);
    Run(QString(), kRunAtStart, At(1, 8));
    // Monday and Tuesday of week 2; Monday's failure passed the full-backup
    // weekday, so an extra full backup comes first.
    EXPECT_EQ(Steps(), (std::vector<int>{8, 1, 9}));
    EXPECT_EQ(e.SchedProps.WeekZyk, 1);
    EXPECT_EQ(e.SchedProps.AktZyk, 2);
}

// ---- Runs of kind 1 and 4 ----

TEST_F(OwnSchedulesTest, EditOpensFirstTask)
{
    QStringList opened;
    S.EditBackupTask = [&opened](const QString &AFile, int AMode) { opened << AFile + QString::number(AMode); };
    EXPECT_EQ(Run(QStringLiteral("\"/t/a, b\",/t/c"), kRunEdit, At(0, 10)), TBuResult::brOK);
    EXPECT_EQ(opened, QStringList{QStringLiteral("/t/a, b.buj0")});
    EXPECT_TRUE(Calls.empty());
}

TEST_F(OwnSchedulesTest, EntryNumbersSelectEntries)
{
    const TDateTime mon = At(0, 10);
    Entry(0, TAutoStart::asByRequest).WeekDay = 1; // Mondays
    Entry(1, TAutoStart::asByRequest).WeekDay = 2; // Tuesdays
    Entry(2, TAutoStart::asLogon);
    Entry(3, TAutoStart::asNone);
    Entry(11, TAutoStart::asDailyAt);
    Tasks[4].TaskName = QStringLiteral("no path");
    const struct {
        const char *Tasks;
        std::vector<int> Nrs;
    } cases[] = {
        {"#", {1, 2, 3, 12}}, {"#0", {1}},    {"#3", {3}},    {"#4", {4}},           {"#5", {}},
        {"#17", {}},          {"#123", {12}}, {"#1,#3", {1}}, {"#x", {1, 2, 3, 12}},
    };
    for (const auto &c : cases) {
        Calls.clear();
        EXPECT_EQ(Run(QString::fromLatin1(c.Tasks), kRunGiven, mon), TBuResult::brOK) << c.Tasks;
        EXPECT_EQ(Nrs(), c.Nrs) << c.Tasks;
    }
}

TEST_F(OwnSchedulesTest, EntryRunUsesEntrySettingsAndSavesState)
{
    TAutoTask &e = Entry(2, TAutoStart::asLogon);
    e.AutoEnd = TInteraction::iaQuietError;
    e.ThPr = TThreadPriority::tpHigher;
    e.SchedProps = {1, 2, 3, 0, 5, 0, TSchedMode::smDiff};
    S.ScheduleTimerEnabled = true;
    Results = {TBuResult::brRepeat, TBuResult::brRepeat, TBuResult::brOK};
    EXPECT_EQ(Run(QStringLiteral("#3"), kRunGiven, At(0, 10)), TBuResult::brOK);
    ASSERT_EQ(Calls.size(), 3u); // repeated while the run asks for it
    EXPECT_EQ(Calls[0].InterAct, TInteraction::iaQuietError);
    EXPECT_EQ(Calls[0].Priority, TThreadPriority::tpHigher);
    EXPECT_EQ(Calls[0].Path, e.TaskPath);
    EXPECT_EQ(Calls[0].AktZyk, 3);
    EXPECT_EQ(e.SchedProps.AktZyk, 4);
    EXPECT_EQ(Saved, std::vector<int>{2});
    EXPECT_FALSE(S.ScheduleTimerEnabled);

    // An interaction given by the caller wins; a failed run keeps the step.
    Calls.clear();
    Results = {TBuResult::brError};
    EXPECT_EQ(Run(QStringLiteral("#3"), kRunGiven, At(1, 10), TInteraction::iaPrompt), TBuResult::brError);
    EXPECT_EQ(Calls[0].InterAct, TInteraction::iaPrompt);
    EXPECT_EQ(e.SchedProps.AktZyk, 4);
    EXPECT_EQ(Saved, (std::vector<int>{2, 2}));
}

TEST_F(OwnSchedulesTest, AllEntriesStopAtCancelAllAndReportErrors)
{
    for (int i = 0; i < 4; ++i)
        Entry(i, TAutoStart::asLogon);
    Results = {TBuResult::brOK, TBuResult::brError, TBuResult::brOK, TBuResult::brOK};
    Statuses = {TBuStatus::bsOK, TBuStatus::bsOK, TBuStatus::bsCancelAll};
    EXPECT_EQ(Run(QStringLiteral("#"), kRunGiven, At(0, 10)), TBuResult::brError);
    EXPECT_EQ(Nrs(), (std::vector<int>{1, 2, 3}));
}

TEST_F(OwnSchedulesTest, TaskNamesRunInTurnUntilOneDoesNotEndNormally)
{
    Results = {TBuResult::brRepeat, TBuResult::brOK, TBuResult::brLogOff, TBuResult::brError, TBuResult::brOK};
    Statuses = {TBuStatus::bsOK, TBuStatus::bsOK, TBuStatus::bsOK, TBuStatus::bsCanceled};
    EXPECT_EQ(Run(QStringLiteral("/t/a, \"/t/b,c.buj\",,/t/d,/t/e"), kRunGiven, At(0, 10)), TBuResult::brLogOff);
    std::vector<QString> paths;
    for (const TJobCall &c : Calls) {
        paths.push_back(c.Path);
        EXPECT_EQ(c.Nr, 0);
        EXPECT_EQ(c.InterAct, TInteraction::iaDelay);
        EXPECT_EQ(c.Priority, TThreadPriority::tpLower);
    }
    EXPECT_EQ(paths, (std::vector<QString>{QStringLiteral("/t/a.buj"), QStringLiteral("/t/a.buj"),
                                           QStringLiteral("/t/b,c.buj"), QStringLiteral("/t/d.buj")}));
    EXPECT_TRUE(Saved.empty());

    Calls.clear();
    S.AllowAction = true;
    Run(QStringLiteral("/t/x"), kRunGiven, At(0, 10), TInteraction::iaQuiet);
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0].Nr, -1);
    EXPECT_EQ(Calls[0].InterAct, TInteraction::iaQuiet);
}

TEST_F(OwnSchedulesTest, OneClickBackupWithoutDefaultTaskAsksAndRunsNothing)
{
    TMessageRecorder messages;
    messages.Answer = mrNo;
    Form.ReplSourceDir = QStringLiteral("/home/u/docs");
    VlSettings.OtherSettings.DefaultTask.clear();
    EXPECT_EQ(Run(QString(), kRunGiven, At(0, 10)), TBuResult::brOK);
    EXPECT_EQ(messages.Texts.size(), 1);
    EXPECT_TRUE(Calls.empty());
}

// ---- Start, timer and logoff ----

TEST_F(OwnSchedulesTest, MissedDailyAtTimeAtStart)
{
    for (bool runIfMissed : {true, false}) {
        Calls.clear();
        TAutoTask &e = Entry(0, TAutoStart::asDailyAt);
        e.WeekDay = kMonToFri;
        e.RunIfMissed = runIfMissed;
        e.NextTime = At(4, 20); // Friday 20:00, seen on Saturday 10:00
        EXPECT_EQ(Run(QString(), kRunAtStart, At(5, 10)), TBuResult::brWait);
        EXPECT_NEAR(e.NextTime, At(7, 20), 1e-9);
        EXPECT_EQ(Calls.size(), runIfMissed ? 1u : 0u);
    }
    // A time already past today goes to tomorrow: the timer must not run
    // the missed start once more.
    TAutoTask &e = Entry(1, TAutoStart::asDailyAt);
    e.RunIfMissed = false;
    e.NextTime = At(-1, 8);
    Run(QString(), kRunAtStart, At(0, 9));
    EXPECT_NEAR(e.NextTime, At(1, 8), 1e-9);
}

TEST_F(OwnSchedulesTest, TimerRunsDailyAtTimeWhenDue)
{
    TAutoTask &e = Entry(0, TAutoStart::asDailyAt);
    e.WeekDay = kMonToFri;
    e.NextTime = At(-3, 20); // Friday 20:00
    S.TimerTick(At(0, 19));  // Monday: the timer is off without WaitActive
    EXPECT_NEAR(e.NextTime, At(-3, 20), 1e-9);
    S.UpdateScheduleFlags();
    ASSERT_TRUE(S.WaitActive);
    S.TimerTick(At(0, 19));
    EXPECT_NEAR(e.NextTime, At(0, 20), 1e-9);
    EXPECT_TRUE(Calls.empty());
    RunTime = At(0, 20, 0, 5);
    S.InterActiveMode = TInteraction::iaPrompt;
    S.TimerTick(At(0, 20, 0, 5));
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0].InterAct, e.AutoEnd);
    EXPECT_NEAR(e.NextTime, At(1, 20), 1e-9);
    EXPECT_EQ(S.InterActiveMode, TInteraction::iaNone);
    EXPECT_TRUE(S.ScheduleTimerEnabled);
    EXPECT_FALSE(S.TaskActive);
    EXPECT_EQ(Saved, std::vector<int>{0});
}

TEST_F(OwnSchedulesTest, StartRunsLogonDailyWeeklyEntries)
{
    Entry(0, TAutoStart::asLogon);
    Entry(1, TAutoStart::asDaily).LastTime = At(1, 7); // ran today
    Entry(2, TAutoStart::asDaily).LastTime = At(-1, 7);
    TAutoTask &weekly = Entry(3, TAutoStart::asWeekly);
    weekly.WeekDay = 2 | 8;
    weekly.NextTime = At(-6, 0) + 0.1 / 86400;
    TAutoTask &weekDay = Entry(4, TAutoStart::asWeekDay);
    weekDay.WeekDay = 16; // Fridays
    weekDay.RunIfMissed = false;
    weekDay.NextTime = At(-3, 0);
    Entry(5, TAutoStart::asByRequest);
    bool menuBuilt = false;
    S.BuildTaskMenu = [&menuBuilt] { menuBuilt = true; };
    Results = {TBuResult::brOK, TBuResult::brOK, TBuResult::brError};
    // Tuesday: the weekly entry is due, the "first logoff" entry only moves.
    EXPECT_EQ(Run(QString(), kRunAtStart, At(1, 9)), TBuResult::brError);
    EXPECT_TRUE(menuBuilt);
    EXPECT_EQ(Nrs(), (std::vector<int>{1, 3, 4}));
    EXPECT_NEAR(weekly.NextTime, At(-6, 0) + 0.1 / 86400, 1e-9); // failed: stays
    EXPECT_NEAR(weekDay.NextTime, At(4, 0) + 0.1 / 86400, 1e-9);

    Calls.clear();
    EXPECT_EQ(Run(QString(), kRunAtStart, At(1, 10)), TBuResult::brOK);
    EXPECT_EQ(Nrs(), (std::vector<int>{1, 4}));
    EXPECT_NEAR(weekly.NextTime, At(3, 0) + 0.1 / 86400, 1e-9);
}

TEST_F(OwnSchedulesTest, LogoffEntryHonoursItsTime)
{
    TAutoTask &e = Entry(0, TAutoStart::asLogoff);
    e.NextTime = 18 * kHour;
    S.LogonTime = At(0, 8);
    EXPECT_EQ(Run(QString(), kRunAtLogoff, At(0, 17, 59)), TBuResult::brOK);
    EXPECT_TRUE(Calls.empty());
    EXPECT_TRUE(Saved.empty());

    // Logged on yesterday, logging off after midnight: yesterday's run.
    S.LogonTime = At(-1, 8);
    Run(QString(), kRunAtLogoff, At(0, 0, 30));
    EXPECT_EQ(Calls.size(), 1u);
    EXPECT_NEAR(e.NextTime, At(0, 18), 1e-9);
    EXPECT_EQ(Saved, std::vector<int>{0});
}

TEST_F(OwnSchedulesTest, LogoffRecordsFailedEntryAndWritesStateOfWeekDayEntry)
{
    // Wednesday 17:00.
    TAutoTask &due = Entry(0, TAutoStart::asWeekDay);
    due.NextTime = At(2, 0) + 0.1 / 86400;
    due.WeekDay = 1 | 4; // Monday, Wednesday
    TAutoTask &notDue = Entry(1, TAutoStart::asWeekDay);
    notDue.NextTime = At(-7, 0);
    notDue.SchedProps = {3, 2, 2, 0, 4, 0, TSchedMode::smDiff}; // "1 per week", Tuesdays only
    notDue.WeekDay = 2;
    Entry(2, TAutoStart::asLogoff).NextTime = 0; // any time
    Results = {TBuResult::brOK, TBuResult::brError};
    S.LogonTime = At(2, 8);
    EXPECT_EQ(Run(QString(), kRunAtLogoff, At(2, 17)), TBuResult::brError);
    EXPECT_EQ(Nrs(), (std::vector<int>{1, 3}));
    EXPECT_NEAR(due.NextTime, At(7, 0) + 0.1 / 86400, 1e-9);
    EXPECT_NEAR(notDue.NextTime, At(-7, 0), 1e-9);
    EXPECT_EQ(Saved, (std::vector<int>{0, 1, 2})); // the entry that was not due too
    EXPECT_EQ(S.LastError, 1 + 3 * 100);
    EXPECT_FALSE(S.ScheduleTimerEnabled);
}

// ---- Entry list ----

TEST_F(OwnSchedulesTest, Flags)
{
    using enum TAutoStart;
    const struct {
        TAutoStart Mode;
        bool Auto, Wait, LogOff;
    } cases[] = {
        {asNone, false, false, false},  {asLogon, true, false, false},     {asDaily, true, false, false},
        {asDailyAt, true, true, false}, {asLogoff, true, true, true},      {asWeekly, true, false, false},
        {asWeekDay, true, true, true},  {asByRequest, true, false, false},
    };
    for (const auto &c : cases) {
        Tasks = {};
        Entry(5, c.Mode);
        Tasks[6].BuProcess = asLogoff; // no task path: does not count
        S.UpdateScheduleFlags();
        EXPECT_EQ(S.AutoActive, c.Auto) << int(c.Mode);
        EXPECT_EQ(S.WaitActive, c.Wait) << int(c.Mode);
        EXPECT_EQ(S.LogOffActive, c.LogOff) << int(c.Mode);
    }
}

TEST_F(OwnSchedulesTest, EntryLookups)
{
    Entry(1, TAutoStart::asNone, QStringLiteral("/t/A.buj"));
    TAutoTask &active = Entry(4, TAutoStart::asDaily, QStringLiteral("/t/a.buj"));
    EXPECT_EQ(S.AutoTaskIndexOf(QStringLiteral("/T/a.BUJ"), 0), 1);
    EXPECT_EQ(S.AutoTaskIndexOf(QStringLiteral("/t/a.buj"), 2), 4);
    EXPECT_EQ(S.AutoTaskIndexOf(QString(), 0), -1);
    EXPECT_EQ(S.GetFreeAutoTask(), 0);
    EXPECT_FALSE(S.AutoTaskIsActive(1));
    EXPECT_TRUE(S.AutoTaskIsActive(4));
    EXPECT_FALSE(S.AutoTaskIsActive(16));
    EXPECT_FALSE(S.CheckSchedule(QStringLiteral("/t/a.buj")));
    active.SchedProps.StepMode = 2;
    EXPECT_TRUE(S.CheckSchedule(QStringLiteral("/T/A.buj")));
    EXPECT_TRUE(S.GetSchedule(-1).isEmpty());
    EXPECT_EQ(S.GetSchedule(4), active.GetScheduleDesc());

    const QString text = S.GetSchedulesAsText();
    EXPECT_EQ(text, QStringLiteral("2nd : Backup task: A\r\n     - "
                                   "Deactivated\r\n5th : Backup task: a\r\n"
                                   "     - Next backup: Tomorrow on logon"));
    Tasks = {};
    EXPECT_EQ(S.GetSchedulesAsText(), QStringLiteral("No automatic backups configured"));
}

TEST_F(OwnSchedulesTest, AddSchedule)
{
    TMessageRecorder messages;
    messages.Answer = mrNo;
    S.AutoTaskNr = 3;
    EXPECT_FALSE(S.AddSchedule(kDefaultPos, QStringLiteral("/t/new.buj"), false));
    EXPECT_EQ(messages.Texts, QStringList{QStringLiteral("Add new schedule for this backup?")});
    EXPECT_TRUE(Tasks[0].TaskPath.isEmpty());

    int shown = -1;
    S.ShowAutoBackups = [&shown](int i) { shown = i; };
    Entry(0, TAutoStart::asLogon);
    EXPECT_TRUE(S.AddSchedule(kDefaultPos, QStringLiteral("/t/new.buj"), true));
    EXPECT_EQ(Tasks[1].TaskPath, QStringLiteral("/t/new.buj"));
    EXPECT_EQ(Tasks[1].TaskName, QStringLiteral("new"));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(S.AutoTaskNr, -1);
    EXPECT_FALSE(S.AddSchedule(kDefaultPos, QString(), true));

    for (int i = 0; i < 16; ++i)
        Entry(i, TAutoStart::asLogon);
    messages.Texts.clear();
    EXPECT_FALSE(S.AddSchedule(kDefaultPos, QStringLiteral("/t/more.buj"), true));
    EXPECT_EQ(messages.Texts, QStringList{QStringLiteral("The maximum number of 16 backup schedules is exceeded!")});
}

} // namespace
} // namespace vl
