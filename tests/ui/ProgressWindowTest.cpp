#include "ui/ProgressWindow.h"

#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "core/ProgramTexts.h"
#include "platform/Thread.h"

#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

using namespace vl;

namespace {

// A window that is shown only in its flags; every character is 10 px wide.
class TFakeView : public IProgressWindowView {
public:
    bool Shown = false;
    int ShowCount = 0;
    int TopCount = 0;
    int Beeps = 0;
    QRect FrameRect{200, 150, 571, 241};
    TMonitorList Screens{{QRect(0, 0, 1920, 1040), 96}};
    int BarWidth = 500;
    QString AppTitle = QStringLiteral("Velkor");
    bool Active = true;

    void Changed(TProgressViewPart) override {}
    bool IsShown() const override { return Shown; }
    bool IsMinimized() const override { return false; }
    void ShowWindow() override
    {
        Shown = true;
        ++ShowCount;
    }
    void HideWindow() override { Shown = false; }
    void BringToTop() override { ++TopCount; }
    void RepaintNow() override {}
    QRect Frame() const override { return FrameRect; }
    void MoveTo(QPoint P) override { FrameRect.moveTopLeft(P); }
    int ClientWidth() const override { return FrameRect.width(); }
    void SetClientWidth(int W) override { FrameRect.setWidth(W); }
    void FitHeight() override {}
    TMonitorList Monitors() const override { return Screens; }
    int TextWidth(const QString &T) const override { return 10 * int(T.size()); }
    int FileBarWidth() const override { return BarWidth; }
    int DestinationLeft() const override { return 60; }
    QRect ButtonRect() const override { return {400, 300, 126, 41}; }
    bool ApplicationActive() const override { return Active; }
    QString ApplicationTitle() const override { return AppTitle; }
    void SetApplicationTitle(const QString &T) override { AppTitle = T; }
    void Beep(TResultStatus) override { ++Beeps; }
};

struct TFakeRun : IRunControl {
    QStringList Calls;
    void PauseRun(bool APause) override { Calls << (APause ? QStringLiteral("pause") : QStringLiteral("resume")); }
    void CancelRun(bool AAll) override { Calls << (AAll ? QStringLiteral("cancel all") : QStringLiteral("cancel")); }
    void MinimizeRun(bool APaused) override
    {
        Calls << (APaused ? QStringLiteral("minimize paused") : QStringLiteral("minimize"));
    }
    void StopWaiting() override { Calls << QStringLiteral("stop waiting"); }
};

struct TFakeMain : TNullMainWindowServices {
    QList<int32_t> States;
    QList<QPoint> Bars; // position, maximum
    void UpdateTaskBar(uint32_t P, uint32_t M) override { Bars << QPoint(int(P), int(M)); }
    bool Idle = false;
    int32_t Instance = 0;
    void SetTaskBarState(int32_t S) override { States << S; }
    bool IdleBackup() const override { return Idle; }
    int32_t VlInstance() const override { return Instance; }
};

// Answers every box with Answer and remembers the last text.
// While a box is open, During runs as the nested event loop of a modal box
// would run it.
struct TFakeMessages : THeadlessMessageService {
    TModalResult Answer = mrNo;
    QString LastText;
    int Asked = 0;
    std::function<void()> During;
    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        LastText = AHint;
        ++Asked;
        if (During)
            std::exchange(During, nullptr)();
        return Answer;
    }
};

class ProgressWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        FSavedView = VlSettings.ViewSettings;
        SetMainWindowServices(&Main);
        SetMessageService(&Messages);
        auto view = std::make_unique<TFakeView>();
        View = view.get();
        W.SetView(std::move(view));
    }
    void TearDown() override
    {
        SetMainWindowServices(nullptr);
        SetMessageService(nullptr);
        VlSettings.ViewSettings = FSavedView;
    }

    void Start(TProgressOptions AOptions = 0, int32_t AWait = 0, int32_t ASelected = 0, bool ASwapped = false)
    {
        W.ShowProgress(&Run, QStringLiteral("Daily"), QStringLiteral("Dest."), QStringLiteral("/backup"), AOptions,
                       ASelected, AWait, ASwapped);
    }

    // Runs ShowStatus; ADuring runs once the page waits (it must end it).
    TModalResult Page(TResultStatus AMode, int32_t AWait, const std::function<void()> &ADuring)
    {
        bool ran = false;
        QTimer::singleShot(20, [&] {
            ran = true;
            ADuring();
        });
        // A page that does not end would hang the test.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] {
            ADD_FAILURE() << "the status page did not end";
            W.CloseStatus();
        });
        guard.start(5000);
        const TModalResult result = W.ShowStatus(AMode, QString(), QStringLiteral("Done"), QString(), 0, AWait);
        if (!ran)
            ProcessMessages();
        return result;
    }

    TFakeMain Main;
    TFakeMessages Messages;
    TFakeRun Run;
    TZeigFortschritt W;
    TFakeView *View = nullptr;

private:
    TVlViewSettings FSavedView;
};

} // namespace

// ---------------------------------------------------------------------------
// Pure rules

TEST(ProgressRulesTest, ResultCodesMapToRunResults)
{
    const struct {
        TModalResult Code;
        TBuResult Expected;
    } cases[] = {
        {prNoAction, TBuResult::brOK},
        {prCancelled, TBuResult::brError},
        {prShutdown, TBuResult::brShutdown},
        {prLogOff, TBuResult::brLogOff},
        {prStandby, TBuResult::brStandby},
        {prHibernate, TBuResult::brHibernate},
        {prRepeat, TBuResult::brRepeat},
        {prRepeat + prLogShown, TBuResult::brRepeat},
        {prCancelled + prLogShown, TBuResult::brError},
        {prLogShown, TBuResult::brOK},
        {0, TBuResult::brOK},
        {8, TBuResult::brOK},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProgressResultToBuResult(c.Code), c.Expected) << c.Code;
}

TEST(ProgressRulesTest, ElapsedTimeShowsAllHours)
{
    const double s = 1.0 / 86400;
    const struct {
        double Value;
        const char *Expected;
    } cases[] = {
        {0, "00:00:00"},
        {3723 * s, "01:02:03"},
        {(25 * 3600 + 30 * 60) * s, "25:30:00"},
        {100 * 3600 * s, "100:00:00"},
        // Rounded once: never "00:00:60".
        {59.9996 * s, "00:01:00"},
        {-5 * s, "00:00:00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ElapsedTimeText(c.Value), QString::fromLatin1(c.Expected)) << c.Expected;
}

TEST(ProgressRulesTest, StatusPageByModeAndWait)
{
    using M = TResultStatus;
    const struct {
        M Mode;
        int32_t Wait;
        TStatusPage Expected;
    } cases[] = {
        {M::psOK, -1, {false, 0}},
        {M::psError, -1, {false, 0}},
        {M::psOK, -2, {false, 0}},
        {M::psWarning, -2, {false, 0}},
        {M::psError, -2, {true, 0}},
        {M::psCancel, -2, {true, 0}},
        {M::psOK, 0, {true, 0}},
        {M::psOK, 10, {true, 10}},
        {M::psOK, 4096 + 10, {true, 10}},
        {M::psWarning, 4096 + 10, {true, 10}},
        {M::psError, 4096 + 10, {true, 0}},
        {M::psCancel, 4096 + 10, {true, 0}},
        {M::psError, 10, {true, 10}},
        // Only the low 12 bits count as seconds.
        {M::psOK, 8192 + 7, {true, 7}},
    };
    for (const auto &c : cases) {
        const TStatusPage page = StatusPageFor(c.Mode, c.Wait);
        EXPECT_EQ(page, c.Expected) << int(c.Mode) << " " << c.Wait;
    }
}

TEST(ProgressRulesTest, StartPositionKeepsFiftyPixelsInsideTheMonitor)
{
    const TMonitorList one = {{QRect(0, 0, 1920, 1040), 96}};
    const TMonitorList two = {{QRect(0, 0, 1920, 1040), 96}, {QRect(1920, 0, 1280, 1024), 96}};
    const QSize client(571, 241);
    const struct {
        const char *Name;
        const TMonitorList &Monitors;
        QPoint Pos1, Pos2, Expected;
    } cases[] = {
        {"one monitor uses Pos1", one, {300, 200}, {2500, 100}, {300, 200}},
        {"past the right edge", one, {1500, 200}, {0, 0}, {1920 - 571 - 50, 200}},
        {"at the left edge", one, {0, 200}, {0, 0}, {50, 200}},
        {"past the bottom", one, {300, 900}, {0, 0}, {300, 1040 - 241 - 50}},
        {"above the top", one, {300, -20}, {0, 0}, {300, 50}},
        {"two monitors use Pos2 on the second", two, {300, 200}, {2500, 100}, {2500, 100}},
        {"Pos2 off every monitor goes to the primary", two, {300, 200}, {5000, 100}, {1920 - 571 - 50, 100}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProgressStartPosition(c.Monitors, c.Pos1, c.Pos2, client), c.Expected) << c.Name;
}

// A work area lower than one window would give zero rows and a division by
// zero; the windows then stand in one row side by side.
TEST(ProgressRulesTest, TilingOfParallelInstances)
{
    const QSize window(600, 300);
    EXPECT_EQ(TiledPosition(1040, window, 1), QPoint(10, 10));
    EXPECT_EQ(TiledPosition(1040, window, 2), QPoint(10, 320));
    EXPECT_EQ(TiledPosition(1040, window, 3), QPoint(10, 630));
    EXPECT_EQ(TiledPosition(1040, window, 4), QPoint(620, 10));
    EXPECT_EQ(TiledPosition(200, window, 1), QPoint(10, 10));
    EXPECT_EQ(TiledPosition(200, window, 3), QPoint(1230, 10));
    EXPECT_EQ(TiledPosition(0, window, 2), QPoint(620, 10));
}

TEST(ProgressRulesTest, HintIsShortenedToItsTail)
{
    const auto width = [](const QString &t) { return 10 * int(t.size()); };
    const QString path = QStringLiteral("/home/user/documents/projects/report.odt");
    // Fits: unchanged.
    EXPECT_EQ(FitHintText(path, 1000, width), path);
    // Directories give way to "..." first.
    EXPECT_EQ(FitHintText(path, 300, width), QStringLiteral("/home/user/.../report.odt"));
    EXPECT_EQ(FitHintText(path, 220, width), QStringLiteral("/home/.../report.odt"));
    // A text without directories keeps its end.
    const QString longHint = QString(190, QLatin1Char('a')) + QStringLiteral("0123456789");
    const QString shown = FitHintText(longHint, 150, width);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("..."))) << shown.toStdString();
    EXPECT_TRUE(longHint.endsWith(shown.mid(3))) << shown.toStdString();
    EXPECT_LE(width(shown), 150);
    EXPECT_GE(shown.size(), 12);
}

// ---------------------------------------------------------------------------
// Display values

TEST_F(ProgressWindowTest, TotalProgressShowsAtMost99UntilTheStatusPage)
{
    Start();
    W.SetTotalProgress(100);
    EXPECT_EQ(W.PendingStatus().Total, 99);
    EXPECT_EQ(W.LastTotal(), 99);

    W.SetTotalProgress(95);
    W.SetTempTotalProgress(10);
    EXPECT_EQ(W.PendingStatus().Total, 99);
    EXPECT_EQ(W.LastTotal(), 95);
    W.SetTempTotalProgress(3);
    EXPECT_EQ(W.PendingStatus().Total, 98);

    W.SetTotalProgress(-5);
    EXPECT_EQ(W.PendingStatus().Total, 0);
    EXPECT_EQ(W.LastTotal(), -5);

    // Adding to the base is not clamped.
    W.SetTotalProgress(60);
    W.UpdateTotalProgress(50);
    EXPECT_EQ(W.LastTotal(), 110);
    EXPECT_EQ(W.PendingStatus().Total, 110);

    W.SetTotalProgress(40);
    W.UpdateView();
    EXPECT_EQ(W.GesamtBalken.Position(), 40);
    EXPECT_EQ(W.ShowStatus(TResultStatus::psOK, QString(), QString(), QString(), 0, -1), prNoAction);
    // The end shows 100 % before it clears the view.
    EXPECT_EQ(Main.Bars.last(), QPoint(100, 100));
    EXPECT_EQ(Main.States.last(), tbsNoProgress);
}

TEST_F(ProgressWindowTest, SecondaryStatusUsesLineOneUntilThePrimaryArrives)
{
    for (bool swapped : {false, true}) {
        Start(0, 0, 0, swapped);
        const int primary = swapped ? 2 : 1;
        const int secondary = swapped ? 1 : 2;
        W.WriteStatus(secondary, QStringLiteral("scanning"));
        EXPECT_EQ(W.PendingStatus().Status1, QStringLiteral("scanning"));
        EXPECT_EQ(W.PendingStatus().Status2, QString());
        W.WriteStatus(primary, QStringLiteral("3 files copied"));
        W.WriteStatus(secondary, QStringLiteral("12 MB/s"));
        EXPECT_EQ(W.PendingStatus().Status1, QStringLiteral("3 files copied"));
        EXPECT_EQ(W.PendingStatus().Status2, QStringLiteral("12 MB/s"));
        W.Terminate();
    }
}

TEST_F(ProgressWindowTest, ActionTextsAndPercentTexts)
{
    Start();
    W.UpdatePrompt(TSourceSelection::ssFile, QString(), QStringLiteral("/data/a.txt"), 2048);
    W.SetAction(TFileAction::acCopy);
    W.SetAction(TFileAction::acAddVerify);
    W.SetAction(TFileAction::acAddVerify); // the same value again changes nothing
    W.SetStepProgress(150);                // clamped to the bar
    W.SetTotalAmount(QStringLiteral("4 GB"));
    W.SetTotalProgress(30);
    W.SetSpeed(QStringLiteral("5 MB/s"));
    W.SetElapsedTime(62.0 / 86400);
    W.UpdateView();
    EXPECT_EQ(W.FileLabel.Caption(), QStringLiteral("File "));
    EXPECT_EQ(W.ActionLabel.Caption(), QStringLiteral("is being copied and verified"));
    EXPECT_EQ(W.FilePercentLabel.Caption(), QStringLiteral("100% of ") + ByteSizeText(false, 2048));
    EXPECT_EQ(W.TotalPercentLabel.Caption(), QStringLiteral("30% of 4 GB"));
    EXPECT_EQ(W.SpeedLabel.Caption(), QStringLiteral("5 MB/s - 00:01:02"));
    EXPECT_EQ(W.EinzelBalken.Position(), 100);

    W.SetAction(TFileAction::acZipVerify);
    W.SetStepProgress(50);
    W.SetStepAmount(3);
    W.SetSpeed(QString());
    W.UpdateView();
    EXPECT_EQ(W.FilePercentLabel.Caption(), QStringLiteral("50% of 3 files"));
    EXPECT_EQ(W.SpeedLabel.Caption(), QStringLiteral("00:01:02"));

    // A free action hint resets the action: no percent text.
    W.SetActionHint(QStringLiteral("is being prepared for upload"));
    W.UpdateView();
    EXPECT_EQ(W.ActionLabel.Caption(), QStringLiteral("is being prepared for upload"));
    EXPECT_EQ(W.FilePercentLabel.Caption(), QString());

    W.SetAction(TFileAction::acScan);
    EXPECT_EQ(W.PendingStatus().Action, QStringLiteral("is being scanned"));
}

TEST_F(ProgressWindowTest, LongHintEndsInItsTailWithTheFullTextAsTooltip)
{
    Start();
    View->BarWidth = 300;
    const QString hint = QString(190, QLatin1Char('x')) + QStringLiteral("0123456789");
    W.SetPrompt(hint);
    W.UpdateView();
    const QString shown = W.HinweisLabel.Caption();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("..."))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("0123456789")));
    EXPECT_LE(10 * shown.size(), 300 - 10);
    EXPECT_EQ(W.HinweisLabel.Hint(), hint);

    W.SetPrompt(QStringLiteral("/short"));
    W.UpdateView();
    EXPECT_EQ(W.HinweisLabel.Caption(), QStringLiteral("/short"));
    EXPECT_EQ(W.HinweisLabel.Hint(), QString());
}

TEST_F(ProgressWindowTest, ShowProgressPreparesTheDisplay)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poAction, O::poPause}), 0, 2);
    EXPECT_TRUE(View->Shown);
    EXPECT_TRUE(W.IsActive());
    EXPECT_TRUE(W.UpdateTimerActive());
    EXPECT_TRUE(W.Caption().endsWith(QStringLiteral(" => Daily")));
    EXPECT_EQ(W.laDesc.Caption(), QStringLiteral("Dest.:"));
    EXPECT_EQ(W.ZielLabel.Caption(), QStringLiteral("/backup"));
    EXPECT_TRUE(W.rgAction.Visible());
    EXPECT_EQ(W.rgAction.ItemIndex(), 2);
    EXPECT_TRUE(W.PauseBtn.Visible());
    EXPECT_FALSE(W.MinimizeBtn.Visible());
    EXPECT_FALSE(W.ViewLog.Visible());
    EXPECT_EQ(Main.States.first(), tbsIndeterminate);

    // Wait < 0 prepares without showing.
    View->Shown = false;
    Start(0, -1, 3);
    EXPECT_FALSE(View->Shown);
    EXPECT_FALSE(W.rgAction.Visible());
    EXPECT_EQ(W.rgAction.ItemIndex(), 0);
}

TEST_F(ProgressWindowTest, UpdateTimerMirrorsProgressInTitleAndTaskBar)
{
    Start();
    W.SetTotalProgress(42);
    View->Active = false;
    W.UpdateTimerTick();
    EXPECT_EQ(View->AppTitle, QStringLiteral("42% => /backup"));
    View->Active = true;
    W.UpdateTimerTick();
    EXPECT_EQ(View->AppTitle, QStringLiteral("Velkor"));
}

// ---------------------------------------------------------------------------
// Buttons and run control

TEST_F(ProgressWindowTest, PauseButtonPausesAndResumesTheRun)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poPause}));
    W.PauseBtn.UserClick();
    EXPECT_TRUE(W.Paused());
    EXPECT_FALSE(W.Button.Enabled());
    EXPECT_FALSE(W.UpdateTimerActive());
    EXPECT_EQ(W.PauseImage(), kImgContinue);
    EXPECT_EQ(Main.States.last(), tbsPaused);
    // Requests are queued, never run inside the click.
    EXPECT_TRUE(Run.Calls.isEmpty());
    ProcessMessages();
    EXPECT_EQ(Run.Calls, QStringList({QStringLiteral("pause")}));

    W.PauseBtn.UserClick();
    ProcessMessages();
    EXPECT_FALSE(W.Paused());
    EXPECT_TRUE(W.Button.Enabled());
    EXPECT_TRUE(W.UpdateTimerActive());
    EXPECT_EQ(W.PauseImage(), kImgPause);
    EXPECT_EQ(Main.States.last(), tbsNormal);
    EXPECT_EQ(Run.Calls, QStringList({QStringLiteral("pause"), QStringLiteral("resume")}));

    // A question is open: the buttons do nothing.
    W.SetLockStatus(1);
    W.PauseBtn.UserClick();
    W.Button.UserClick();
    ProcessMessages();
    EXPECT_EQ(Run.Calls.size(), 2);
}

TEST_F(ProgressWindowTest, CancelAsksAndReachesTheRun)
{
    using O = TProgressOption;
    const struct {
        const char *Name;
        TProgressOptions Options;
        TModalResult Confirm; // answer of the Yes/No question
        int Choice;           // answer of an automatic task's question
        QStringList Expected;
        bool Stopped;
    } cases[] = {
        {"confirmed", 0, mrYes, -9, {QStringLiteral("pause"), QStringLiteral("cancel")}, true},
        {"declined", 0, mrNo, -9, {QStringLiteral("pause"), QStringLiteral("resume")}, false},
        {"auto: only current", ProgressOptions({O::poAutoTask}), mrNo, 0,
         {QStringLiteral("pause"), QStringLiteral("cancel")}, true},
        {"auto: cancel all", ProgressOptions({O::poAutoTask}), mrNo, 1,
         {QStringLiteral("pause"), QStringLiteral("cancel all")}, true},
        {"auto: continue", ProgressOptions({O::poAutoTask}), mrYes, -1,
         {QStringLiteral("pause"), QStringLiteral("resume")}, false},
    };
    for (const auto &c : cases) {
        Run.Calls.clear();
        Messages.Answer = c.Confirm;
        int asked = 0;
        QPoint askedAt;
        W.CancelChoice = [&](QPoint APos, const QString &) {
            ++asked;
            askedAt = APos;
            return c.Choice;
        };
        Start(c.Options);
        W.Button.UserClick();
        ProcessMessages();
        EXPECT_EQ(Run.Calls, c.Expected) << c.Name;
        EXPECT_EQ(W.Stopped(), c.Stopped) << c.Name;
        EXPECT_TRUE(W.UpdateTimerActive()) << c.Name;
        if (HasOption(c.Options, O::poAutoTask)) {
            EXPECT_EQ(asked, 1) << c.Name;
            // Below and right of the button's bottom-right corner.
            EXPECT_EQ(askedAt, QPoint(400 + 126 + 10, 300 + 41 + 50)) << c.Name;
        } else {
            EXPECT_EQ(asked, 0) << c.Name;
            EXPECT_EQ(Messages.LastText, QStringLiteral("Do you really want to cancel the action?")) << c.Name;
        }
        W.Terminate();
    }
}

TEST_F(ProgressWindowTest, CancelWhileWaitingOrInIdleBackup)
{
    using O = TProgressOption;
    Messages.Answer = mrYes;
    Start();
    W.SetLockStatus(2);
    W.Button.UserClick();
    ProcessMessages();
    EXPECT_EQ(Run.Calls, QStringList({QStringLiteral("stop waiting")}));
    EXPECT_FALSE(W.Stopped());

    // A backup while the session ends cannot be cancelled.
    Run.Calls.clear();
    W.SetLockStatus(0);
    Main.Idle = true;
    Start(ProgressOptions({O::poBackup}));
    W.Button.UserClick();
    ProcessMessages();
    EXPECT_TRUE(Run.Calls.isEmpty());
    EXPECT_FALSE(W.Stopped());
}

TEST_F(ProgressWindowTest, MinimizeButtonReportsThePauseState)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poMinimize, O::poPause}));
    W.PauseBtn.UserClick();
    W.MinimizeBtn.UserClick();
    ProcessMessages();
    EXPECT_EQ(Run.Calls, QStringList({QStringLiteral("pause"), QStringLiteral("minimize paused")}));
    EXPECT_TRUE(W.Minimized());
}

// A run on the GUI thread: its own question locks the buttons, and a cancel
// question that its run outlives (the run ends, the next one starts while
// the box is open) answers no run.
TEST_F(ProgressWindowTest, NestedQuestionsOfARunOnTheGuiThread)
{
    Messages.Answer = mrYes;
    Start();
    Messages.During = [&] { W.Button.UserClick(); };
    EXPECT_TRUE(W.Confirm(QStringLiteral("Overwrite?")));
    ProcessMessages();
    EXPECT_EQ(Messages.Asked, 1);
    EXPECT_TRUE(Run.Calls.isEmpty());
    EXPECT_EQ(W.LockStatus(), 0);

    TFakeRun next;
    Messages.During = [&] {
        W.ShowStatus(TResultStatus::psCancel, QString(), QString(), QString(), 0, -1);
        W.ShowProgress(&next, QStringLiteral("Next"), QString(), QString(), 0, 0, 0, false);
    };
    W.Button.UserClick();
    ProcessMessages();
    EXPECT_EQ(Messages.Asked, 2);
    EXPECT_FALSE(W.Stopped());
    EXPECT_TRUE(next.Calls.isEmpty());
    EXPECT_TRUE(Run.Calls.isEmpty());

    // The run ends for good during the question: no timer is left behind.
    Messages.During = [&] { W.ShowStatus(TResultStatus::psOK, QString(), QString(), QString(), 0, -1); };
    W.Button.UserClick();
    EXPECT_FALSE(W.UpdateTimerActive());
}

// A request that arrives after its run has ended reaches no one.
TEST_F(ProgressWindowTest, RequestsOfAnEndedRunAreDropped)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poPause}));
    W.PauseBtn.UserClick();
    W.Terminate();
    ProcessMessages();
    EXPECT_TRUE(Run.Calls.isEmpty());

    TFakeRun next;
    W.ShowProgress(&next, QStringLiteral("Next"), QString(), QString(), ProgressOptions({O::poPause}), 0, 0, false);
    W.PauseBtn.UserClick();
    ProcessMessages();
    EXPECT_EQ(next.Calls, QStringList({QStringLiteral("pause")}));
    EXPECT_TRUE(Run.Calls.isEmpty());
    W.Terminate();
}

// ---------------------------------------------------------------------------
// Status page

TEST_F(ProgressWindowTest, StatusPageWithoutCountDownWaitsForDone)
{
    Start(0, 0);
    W.SetTotalProgress(70);
    View->Shown = false;
    bool shownDuring = false;
    const TModalResult result = Page(TResultStatus::psError, -2, [&] {
        shownDuring = View->Shown;
        EXPECT_EQ(W.TotalLabel.Caption(), QStringLiteral("Status:"));
        EXPECT_EQ(W.Button.Caption(), QStringLiteral("Done"));
        EXPECT_FALSE(W.ButtonIsCancel());
        EXPECT_EQ(W.ButtonImage(), kImgWarning);
        EXPECT_FALSE(W.WaitTimerActive());
        EXPECT_TRUE(W.ViewLog.Visible());
        EXPECT_TRUE(W.cbRepeat.Visible());
        EXPECT_FALSE(W.HinweisLabel.Visible());
        EXPECT_EQ(W.GesamtBalken.Position(), 100);
        EXPECT_EQ(W.StatusLabel1.Caption(), QStringLiteral("Done"));
        W.Button.UserClick();
    });
    EXPECT_TRUE(shownDuring);
    EXPECT_FALSE(View->Shown);
    EXPECT_FALSE(W.IsActive());
    EXPECT_EQ(result, prNoAction);
    // The view is reset for the next run.
    EXPECT_EQ(W.Button.Caption(), QStringLiteral("Cancel"));
    EXPECT_TRUE(W.ButtonIsCancel());
    EXPECT_EQ(W.GesamtBalken.Position(), 0);
}

TEST_F(ProgressWindowTest, RepeatAndLogGiveRepeatPlusLog)
{
    Start(0, 0);
    const TModalResult result = Page(TResultStatus::psWarning, 0, [&] {
        W.cbRepeat.UserClick();
        W.ViewLog.UserClick();
    });
    EXPECT_EQ(result, prRepeat + prLogShown);
    EXPECT_EQ(ProgressResultToBuResult(result), TBuResult::brRepeat);
}

TEST_F(ProgressWindowTest, CountDownClosesThePage)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poAction}), 0, 1);
    const TModalResult result = Page(TResultStatus::psOK, 4096 + 2, [&] {
        EXPECT_TRUE(W.WaitTimerActive());
        EXPECT_EQ(W.Button.Caption(), QStringLiteral("Done (2 s)"));
        EXPECT_FALSE(W.ViewLog.Visible());
        EXPECT_FALSE(W.cbRepeat.Visible());
        W.WaitTimerTick();
        EXPECT_EQ(W.Button.Caption(), QStringLiteral("Done (1 s)"));
        EXPECT_TRUE(View->Shown);
        W.WaitTimerTick();
        EXPECT_FALSE(View->Shown);
        EXPECT_FALSE(W.WaitTimerActive());
    });
    EXPECT_EQ(result, prShutdown);
}

// A subsequent action chosen during the run (none was preset) must not wait
// for a user who has gone: the page counts down AutoWaitTime.
TEST_F(ProgressWindowTest, ActionPickedDuringTheRunCountsDown)
{
    using O = TProgressOption;
    VlSettings.ViewSettings.AutoWaitTime = 30;
    Start(ProgressOptions({O::poAction}), 0, 0);
    W.rgAction.UserSelect(4);
    int countDown = -1;
    const TModalResult result = Page(TResultStatus::psOK, 0, [&] {
        countDown = W.CloseCount();
        W.Button.UserClick();
    });
    EXPECT_EQ(countDown, 30);
    EXPECT_EQ(result, prHibernate);

    // Preset by the task: the page waits as asked.
    Start(ProgressOptions({O::poAction}), 0, 4);
    Page(TResultStatus::psOK, 0, [&] {
        countDown = W.CloseCount();
        W.Button.UserClick();
    });
    EXPECT_EQ(countDown, 0);
}

TEST_F(ProgressWindowTest, PageOutcomeIconsSoundAndResults)
{
    VlSettings.ViewSettings.PlaySound = true;
    Start(0, 0);
    int image = -1;
    const TModalResult cancelled = Page(TResultStatus::psCancel, 0, [&] {
        image = W.ButtonImage();
        W.Button.UserClick();
    });
    EXPECT_EQ(cancelled, prCancelled);
    EXPECT_EQ(image, kImgCancel);
    EXPECT_EQ(View->Beeps, 1);

    Start(0, 0);
    Page(TResultStatus::psOK, 0, [&] {
        image = W.ButtonImage();
        W.Button.UserClick();
    });
    EXPECT_EQ(image, kImgSuccess);
    EXPECT_EQ(View->Beeps, 2);

    VlSettings.ViewSettings.PlaySound = false;
    Start(0, 0);
    Page(TResultStatus::psOK, 0, [&] { W.Button.UserClick(); });
    EXPECT_EQ(View->Beeps, 2);
}

// A run that ends while paused still gets a page that Done closes.
TEST_F(ProgressWindowTest, PageAfterAPausedRunEndsByDone)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poPause}), 0);
    W.PauseBtn.UserClick();
    bool clicked = false;
    Page(TResultStatus::psOK, 0, [&] { clicked = W.Button.UserClick(); });
    EXPECT_TRUE(clicked);
}

// With no one to see it, the headless window ends a run with the same
// result codes as the window does without a page.
TEST_F(ProgressWindowTest, HeadlessWindowGivesTheSameResults)
{
    using O = TProgressOption;
    using M = TResultStatus;
    THeadlessProgressWindow headless(-1);
    TZeigFortschritt hidden; // no view: no page
    for (TProgressOptions options : {TProgressOptions(0), ProgressOptions({O::poAction})})
        for (int32_t selected : {0, 2, 4, 9})
            for (M mode : {M::psOK, M::psCancel, M::psError, M::psWarning})
                for (int32_t wait : {-1, -2, 0, 4096 + 5}) {
                    const auto end = [&](IProgressWindow &w, bool terminate) {
                        w.ShowProgress(nullptr, QStringLiteral("T"), QString(), QString(), options, selected,
                                       wait, false);
                        w.SetLockStatus(2);
                        return terminate ? w.Terminate() : w.ShowStatus(mode, QString(), QString(), QString(), 0, wait);
                    };
                    const std::string name = std::to_string(options) + " " + std::to_string(selected) + " "
                                             + std::to_string(int(mode)) + " " + std::to_string(wait);
                    EXPECT_EQ(end(hidden, false), end(headless, false)) << name;
                    EXPECT_EQ(hidden.LockStatus(), headless.LockStatus()) << name;
                    EXPECT_EQ(end(hidden, true), end(headless, true)) << name;
                }
}

TEST_F(ProgressWindowTest, NoPageReturnsAtOnce)
{
    Start(0, 0);
    EXPECT_EQ(W.ShowStatus(TResultStatus::psOK, QString(), QString(), QString(), 0, -1), prNoAction);
    EXPECT_EQ(W.ShowStatus(TResultStatus::psCancel, QString(), QString(), QString(), 0, -1), prCancelled);
    EXPECT_EQ(View->ShowCount, 1);
}

// ---------------------------------------------------------------------------
// Position memory

TEST_F(ProgressWindowTest, StatusWindowKeysRoundTrip)
{
    const QString ini = test::MakeTempDir() + QStringLiteral("/velkor.ini");
    W.LoadFromIni(ini);
    // Closing remembers the position of a one-monitor desktop as Left/Top.
    View->FrameRect = QRect(120, 80, 640, 241);
    W.Close(); // not shown: nothing
    View->Shown = true;
    W.Close();
    View->Screens << TMonitorArea{QRect(1920, 0, 1280, 1024), 96};
    View->FrameRect = QRect(2000, 90, 640, 241);
    View->Shown = true;
    W.Close();

    const TMemIniFile file(ini);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("StatusWindow"), QStringLiteral("Left"), -1), 120);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("StatusWindow"), QStringLiteral("Top"), -1), 80);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("StatusWindow"), QStringLiteral("Left2"), -1), 2000);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("StatusWindow"), QStringLiteral("Top2"), -1), 90);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("StatusWindow"), QStringLiteral("Width"), -1), 640);

    TZeigFortschritt other;
    auto view = std::make_unique<TFakeView>();
    TFakeView *otherView = view.get();
    otherView->FrameRect.setWidth(600);
    other.SetView(std::move(view));
    other.LoadFromIni(ini);
    EXPECT_EQ(other.Position1(), QPoint(120, 80));
    EXPECT_EQ(other.Position2(), QPoint(2000, 90));
    EXPECT_EQ(otherView->FrameRect.width(), 640);

    // A width below half the current one is not taken.
    TMemIniFile narrow(ini);
    narrow.WriteInteger(QStringLiteral("StatusWindow"), QStringLiteral("Width"), 250);
    narrow.UpdateFile();
    other.LoadFromIni(ini);
    EXPECT_EQ(otherView->FrameRect.width(), 640);
}

TEST_F(ProgressWindowTest, ParallelInstancesDoNotSaveAndTileTheirWindows)
{
    const QString ini = test::MakeTempDir() + QStringLiteral("/velkor.ini");
    W.LoadFromIni(ini);
    Main.Instance = 2;
    // A work area lower than the window.
    View->Screens = {{QRect(0, 0, 1920, 200), 96}};
    Start(0, 0);
    EXPECT_TRUE(View->Shown);
    // Second column of one row; the window, higher than the work area, is
    // then kept at its top margin.
    EXPECT_EQ(View->FrameRect.topLeft(), QPoint(571 + 20, 20));
    W.Close();
    EXPECT_FALSE(QFile::exists(ini));
}

// ---------------------------------------------------------------------------
// Bars

TEST(ProgressBarTest, NormalBarIsProportional)
{
    TNewProgressBarState bar;
    bar.SetBorder(0);
    bar.SetPosition(50);
    EXPECT_EQ(bar.BarRect(151, 11), QRect(1, 1, 75, 9));
    bar.SetPosition(0);
    EXPECT_TRUE(bar.BarRect(151, 11).isEmpty());
    bar.SetPosition(100);
    EXPECT_EQ(bar.BarRect(151, 11), QRect(1, 1, 149, 9));
    // The default border insets by one more pixel.
    bar.SetBorder(1);
    EXPECT_EQ(bar.BarRect(151, 11), QRect(2, 2, 147, 7));
    // Min = Max: an empty bar.
    bar.SetMax(0);
    EXPECT_TRUE(bar.BarRect(151, 11).isEmpty());
}

TEST(ProgressBarTest, ReverseBlockTurnsAtTheEnd)
{
    TNewProgressBarState bar;
    bar.SetStyle(TNewProgressBarStyle::npsReverse);
    EXPECT_TRUE(bar.TimerActive());
    bar.SetBarWidth(20);
    // Width 60: the block turns when the offset reaches 60 - 20 - 2 = 38.
    EXPECT_EQ(bar.BarRect(60, 11).left(), 2);
    for (int i = 0; i < 18; ++i)
        bar.Step();
    EXPECT_EQ(bar.BarRect(60, 11).left(), 2 + 36);
    bar.Step();
    EXPECT_EQ(bar.BarRect(60, 11), QRect(60 - 20 - 2, 2, 20, 7));
    EXPECT_FALSE(bar.Forward());
    bar.Step();
    EXPECT_EQ(bar.BarRect(60, 11).left(), 60 - 20 - 2 - 2);
}

TEST(ProgressBarTest, ContinuousBlockRunsThroughAndStartsOver)
{
    TNewProgressBarState bar;
    bar.SetStyle(TNewProgressBarStyle::npsContinuous);
    EXPECT_EQ(bar.Current(), 5);
    // The block grows in from the left edge.
    EXPECT_EQ(bar.BarRect(100, 11), QRect(2, 2, 3, 7));
    while (bar.Current() < 80)
        bar.Step();
    EXPECT_EQ(bar.BarRect(100, 11), QRect(31, 2, 50, 7));
    while (bar.Current() < 120)
        bar.Step();
    // Leaving at the right edge.
    EXPECT_EQ(bar.BarRect(100, 11), QRect(71, 2, 27, 7));
    while (bar.Current() < 145)
        bar.Step();
    bar.BarRect(100, 11);
    EXPECT_EQ(bar.Current(), 5);
}

TEST(ProgressBarTest, SwitchingToNormalStopsAndEmpties)
{
    TNewProgressBarState bar;
    int repaints = 0;
    bar.Subscribe([&] { ++repaints; });
    bar.SetStyle(TNewProgressBarStyle::npsContinuous);
    EXPECT_TRUE(bar.TimerActive());
    EXPECT_GT(repaints, 0);
    bar.SetPosition(70);
    bar.SetStyle(TNewProgressBarStyle::npsNormal);
    EXPECT_FALSE(bar.TimerActive());
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_TRUE(bar.BarRect(151, 11).isEmpty());

    // Pause stops the timer, the status stays.
    bar.SetStyle(TNewProgressBarStyle::npsReverse);
    bar.Pause(true);
    EXPECT_FALSE(bar.TimerActive());
    EXPECT_EQ(bar.ProgressStatus(), TProgressStatus::psOn);
    bar.Pause(false);
    EXPECT_TRUE(bar.TimerActive());
}

TEST(ProgressBarTest, TimerAndNudgesStepTheAnimation)
{
    TCustomProgressState progress;
    int increments = 0;
    progress.OnIncrement = [&] { ++increments; };
    progress.SetInterval(5);
    progress.Start();
    WaitUntil([&] { return increments >= 3; }, 20);
    progress.Stop();
    EXPECT_GE(progress.Current(), 6);

    // One step per Interval + 1 nudges, and only in the nudge status.
    increments = 0;
    progress.SetInterval(3);
    for (int i = 0; i < 8; ++i)
        progress.Nudge();
    EXPECT_EQ(increments, 0);
    progress.SetProgressStatus(TProgressStatus::psNudge);
    EXPECT_FALSE(progress.TimerActive());
    for (int i = 0; i < 8; ++i)
        progress.Nudge();
    EXPECT_EQ(increments, 2);
    for (int i = 0; i < 3; ++i)
        progress.Nudge();
    EXPECT_EQ(increments, 2);
}

TEST(ProgressBarTest, StripesMoveRightAndWrap)
{
    TCustomProgressState progress;
    auto stripes = progress.Stripes(40, 10);
    // At x = 0, 20, 40: multiples of 2h up to width + h.
    ASSERT_EQ(stripes.size(), 3u);
    EXPECT_EQ(stripes[1], (std::array<QPoint, 4>{QPoint(10, 1), QPoint(20, 1), QPoint(10, 9), QPoint(0, 9)}));
    for (int i = 0; i < 3; ++i)
        progress.Step();
    EXPECT_EQ(progress.Stripes(40, 10)[1][1], QPoint(26, 1));
    for (int i = 0; i < 7; ++i)
        progress.Step();
    EXPECT_EQ(progress.Current(), 20);
    // Two heights on: back to the start.
    stripes = progress.Stripes(40, 10);
    EXPECT_EQ(progress.Current(), 0);
    EXPECT_EQ(stripes[1][1], QPoint(20, 1));
}
