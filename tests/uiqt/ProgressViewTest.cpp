// The progress window on the offscreen platform: it opens with the run's
// state, its buttons reach the run, the status page ends by its buttons,
// and the bars and indicators paint what their state says.
#include "ui/qt/Indicators.h"
#include "ui/qt/ProgressBars.h"
#include "ui/qt/ProgressView.h"

#include "platform/Thread.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

#include <QCloseEvent>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace vl;

namespace {

struct TRecordingRun : IRunControl {
    QStringList Calls;
    void PauseRun(bool APause) override { Calls << (APause ? QStringLiteral("pause") : QStringLiteral("resume")); }
    void CancelRun(bool AAll) override { Calls << (AAll ? QStringLiteral("cancel all") : QStringLiteral("cancel")); }
    void MinimizeRun(bool) override { Calls << QStringLiteral("minimize"); }
    void StopWaiting() override { Calls << QStringLiteral("stop waiting"); }
};

// Answers Yes from a nested event loop, as a modal box does; During runs
// inside that loop.
struct TYesMessages : THeadlessMessageService {
    int Asked = 0;
    std::function<void()> During;
    TModalResult ShowMessageForm(QPoint, const QString &, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        ++Asked;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            if (During)
                std::exchange(During, nullptr)();
            loop.quit();
        });
        loop.exec();
        return mrYes;
    }
};

class ProgressViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetMessageService(&Messages);
        Window = CreateQtProgressWindow();
        View = QtProgressView(*Window);
        ASSERT_NE(View, nullptr);
    }
    void TearDown() override
    {
        Window.reset();
        SetMessageService(nullptr);
    }

    void Start(TProgressOptions AOptions)
    {
        Window->ShowProgress(&Run, QStringLiteral("Daily"), QStringLiteral("Dest."), QStringLiteral("/backup/daily"),
                             AOptions, 0, 0, false);
    }

    TYesMessages Messages;
    TRecordingRun Run;
    std::unique_ptr<TZeigFortschritt> Window;
    TProgressView *View = nullptr;
};

QRgb PixelAt(QWidget *AWidget, int X, int Y)
{
    return AWidget->grab().toImage().pixel(X, Y);
}

} // namespace

TEST_F(ProgressViewTest, OpensWithTheRunsState)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poAction, O::poPause, O::poMinimize}));
    EXPECT_TRUE(View->isVisible());
    EXPECT_TRUE(View->windowTitle().endsWith(QStringLiteral(" => Daily")));
    // A run ends through Cancel: no close box.
    EXPECT_FALSE(View->windowFlags() & Qt::WindowCloseButtonHint);

    Window->UpdatePrompt(TSourceSelection::ssFile, QString(), QStringLiteral("/home/user/a.txt"), 1000);
    Window->SetAction(TFileAction::acCompress);
    Window->SetStepProgress(40);
    Window->SetTotalProgress(25);
    Window->UpdateView();
    EXPECT_EQ(View->Label("laDesc")->text(), QStringLiteral("Dest.:"));
    EXPECT_EQ(View->Label("ZielLabel")->text(), QStringLiteral("/backup/daily"));
    EXPECT_EQ(View->Label("FileLabel")->text(), QStringLiteral("File "));
    EXPECT_EQ(View->Label("ActionLabel")->text(), QStringLiteral("is being compressed"));
    EXPECT_EQ(View->Label("HinweisLabel")->text(), QStringLiteral("/home/user/a.txt"));
    EXPECT_TRUE(View->Label("FilePercentLabel")->text().startsWith(QStringLiteral("40% of ")));
    EXPECT_EQ(View->FileBar()->State().Position(), 40);
    EXPECT_EQ(View->TotalBar()->State().Position(), 25);
    EXPECT_EQ(View->ActionGroup()->findChildren<QRadioButton *>().size(), 5);
    EXPECT_TRUE(View->PauseBtn()->isVisible());
    EXPECT_TRUE(View->MinimizeBtn()->isVisible());
    EXPECT_FALSE(View->ViewLog()->isVisible());
    EXPECT_FALSE(View->RepeatBox()->isVisible());
    EXPECT_EQ(View->Button()->text(), QStringLiteral("Cancel"));

    // The window manager's close (Alt+F4) leaves the run's window up.
    EXPECT_FALSE(View->close());
    EXPECT_TRUE(View->isVisible());
}

// A long name is shortened by the logic and never widens the window.
TEST_F(ProgressViewTest, LongNamesKeepTheWindowWidth)
{
    Start(0);
    const int width = View->width();
    const QString longPath = QStringLiteral("/home/user/") + QString(300, QLatin1Char('n')) + QStringLiteral(".txt");
    Window->SetDestination(longPath);
    Window->SetPrompt(longPath);
    Window->UpdateView();
    ProcessMessages();
    EXPECT_EQ(View->width(), width);
    const QString hint = View->Label("HinweisLabel")->text();
    EXPECT_LT(hint.size(), longPath.size());
    EXPECT_TRUE(hint.endsWith(QStringLiteral("nn.txt"))) << hint.toStdString();
    EXPECT_EQ(View->Label("HinweisLabel")->toolTip(), longPath);
    EXPECT_LT(View->Label("ZielLabel")->text().size(), longPath.size());
}

TEST_F(ProgressViewTest, ButtonsReachTheRun)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poPause, O::poMinimize}));
    const qint64 pauseIcon = View->PauseBtn()->icon().cacheKey();
    View->PauseBtn()->click();
    EXPECT_FALSE(View->Button()->isEnabled());
    EXPECT_NE(View->PauseBtn()->icon().cacheKey(), pauseIcon);
    View->PauseBtn()->click();
    View->MinimizeBtn()->click();
    // The Yes/No question answers Yes.
    View->Button()->click();
    ProcessMessages();
    EXPECT_EQ(Run.Calls, QStringList({QStringLiteral("pause"), QStringLiteral("resume"), QStringLiteral("minimize"),
                                      QStringLiteral("pause"), QStringLiteral("cancel")}));
    EXPECT_TRUE(Window->Stopped());
    Window->Terminate();
}

// A run on the GUI thread that processes messages: Cancel pressed during
// the run's own question does nothing; pressed afterwards it asks and stops
// the run, whose end needs no page.
TEST_F(ProgressViewTest, RunOnTheGuiThreadWithNestedQuestions)
{
    using O = TProgressOption;
    Start(ProgressOptions({O::poPause}));
    Messages.During = [this] {
        View->Button()->click();
        View->PauseBtn()->click();
    };
    EXPECT_TRUE(Window->Confirm(QStringLiteral("Overwrite?")));
    EXPECT_EQ(Messages.Asked, 1);
    EXPECT_FALSE(Window->Paused());

    QTimer::singleShot(0, View, [this] { View->Button()->click(); });
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(5000);
    WaitUntil([&] { return Window->Stopped() || !guard.isActive(); }, 10);
    ASSERT_TRUE(Window->Stopped());
    EXPECT_EQ(Messages.Asked, 2);
    EXPECT_EQ(Run.Calls.value(0), QStringLiteral("pause"));
    EXPECT_EQ(Window->ShowStatus(TResultStatus::psCancel, QString(), QString(), QString(), 0, -1), prCancelled);
    EXPECT_EQ(View->Button()->text(), QStringLiteral("Cancel"));
}

TEST_F(ProgressViewTest, StatusPageEndsByItsButtons)
{
    Start(0);
    QTimer::singleShot(50, [this] {
        EXPECT_EQ(View->Button()->text(), QStringLiteral("Done"));
        EXPECT_TRUE(View->ViewLog()->isVisible());
        EXPECT_TRUE(View->RepeatBox()->isVisible());
        EXPECT_EQ(View->Label("TotalLabel")->text(), QStringLiteral("Status:"));
        EXPECT_EQ(View->TotalBar()->State().Position(), 100);
        View->RepeatBox()->click();
        View->ViewLog()->click();
    });
    const TModalResult result =
        Window->ShowStatus(TResultStatus::psWarning, QString(), QStringLiteral("2 warnings"), QString(), 0, 0);
    EXPECT_EQ(result, prRepeat + prLogShown);
    EXPECT_FALSE(View->isVisible());

    Start(0);
    QTimer::singleShot(50, [this] { View->Button()->click(); });
    EXPECT_EQ(Window->ShowStatus(TResultStatus::psOK, QString(), QString(), QString(), 0, 0), prNoAction);
}

TEST(ProgressBarView, PaintsTheBarProportionally)
{
    TNewProgressBar bar;
    bar.resize(200, 12);
    bar.State().SetTransparent(false);
    bar.State().SetBackColor(0xFFFFFF);
    bar.State().SetPosition(50);
    const QColor barColour(0x00, 0x70, 0xA0); // 0xA07000 as BGR
    EXPECT_EQ(QColor(PixelAt(&bar, 40, 6)), barColour);
    EXPECT_EQ(QColor(PixelAt(&bar, 160, 6)), QColor(Qt::white));
    // Back from a moving style: an empty bar.
    bar.State().SetStyle(TNewProgressBarStyle::npsContinuous);
    bar.State().SetStyle(TNewProgressBarStyle::npsNormal);
    EXPECT_EQ(QColor(PixelAt(&bar, 40, 6)), QColor(Qt::white));
}

TEST(IndicatorView, DisabledSpotShowsTheButtonFace)
{
    TSpotIndicator spot;
    spot.resize(16, 16);
    spot.SetIndicate(true);
    EXPECT_EQ(QColor(PixelAt(&spot, 8, 8)), QColor(Qt::red));
    spot.setEnabled(false);
    EXPECT_EQ(QColor(PixelAt(&spot, 8, 8)), spot.palette().color(QPalette::Button));

    TLamp lamp;
    lamp.resize(16, 16);
    EXPECT_EQ(QColor(PixelAt(&lamp, 7, 7)), QColor(0xE4, 0xBC, 0x1B));
    lamp.SetLightOn(false);
    EXPECT_EQ(QColor(PixelAt(&lamp, 7, 7)), QColor(0x80, 0x80, 0x80));
}
