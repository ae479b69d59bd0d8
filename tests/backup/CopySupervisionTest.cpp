// The run's supervision of its copy workers: watchdog, pause and cancel
// from the progress window, and the speed limit in real time.
#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "core/ProgramTexts.h"
#include "core/WindowServices.h"
#include "engine/Encryption.h"
#include "engine/ExtFileTools.h"
#include "platform/Thread.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace vl {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A copy worker without files: it announces ABlocks blocks of ABlock bytes
// and reports each after passing the pause gate, noting (in its own
// thread) when it got past the gate. Stall, when set, blocks it after the
// first block until the future is ready.
class TBlockWorker : public TCopyThread {
public:
    TBlockWorker(int ABlocks, int64_t ABlock, int ABlockMs = 0)
        : TCopyThread(QString(), QString(), 4096), Blocks(ABlocks), Block(ABlock), BlockMs(ABlockMs) {}

    struct TStep {
        Clock::time_point Time;
        int64_t Total;
    };
    std::vector<TStep> Steps; // read after Done()
    std::shared_future<void> Stall;
    std::atomic<bool> SawCancelled{false};

protected:
    void Execute() override
    {
        DoProgress(TFileAction::acCopy, -Blocks * Block, false);
        int64_t total = 0;
        for (int i = 0; i < Blocks; ++i) {
            if (!WaitGate() || IsCanceled()) {
                Finish(feTerminated);
                return;
            }
            total += Block;
            Steps.push_back({Clock::now(), total});
            DoProgress(TFileAction::acCopy, total, true);
            if (i == 0 && Stall.valid()) {
                Stall.wait();
                SawCancelled = Cancelled();
                DoProgress(TFileAction::acCopy, Block * Blocks, true);
                Finish(feTerminated);
                return;
            }
            if (BlockMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(BlockMs));
        }
        Finish(0);
    }

private:
    int Blocks;
    int64_t Block;
    int BlockMs;
};

class TSpeedWindow : public THeadlessProgressWindow {
public:
    void SetSpeed(const QString &AValue) override { Speeds.push_back(AValue); }
    QStringList Speeds;
};

class CopySupervisionTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgressWindow(&Window); }
    void TearDown() override { SetProgressWindow(nullptr); }

    // Starts AWorker as the form's copy thread, its reports going to the
    // form (through AOnReport first, when given).
    void Start(const std::shared_ptr<TBlockWorker> &AWorker,
               std::function<void(TFileAction, int64_t, bool)> AOnReport = {})
    {
        AWorker->SetOnProgress([this, AOnReport](TFileAction a, int64_t c, bool l) {
            ++Reports;
            Form.CopyProgress(a, c, l);
            if (AOnReport)
                AOnReport(a, c, l);
        });
        Form.CopyThread = AWorker;
        Form.LastTick = TBackupForm::CurrentTick();
        Form.LastCount = 0;
        Form.CopySpeed = 0;
        AWorker->Start();
    }

    TSpeedWindow Window;
    TBackupForm Form;
    int Reports = 0;
};

// A worker that stops reporting is given up after CopyTimeout seconds with
// 273, never killed: it stays alive, learns it was given up, and nothing it
// reports afterwards reaches the run. The run's encryption object goes
// with it; the run gets a new one.
TEST_F(CopySupervisionTest, StalledCopyTimesOutAndIsAbandonedSafely)
{
    std::promise<void> release;
    auto worker = std::make_shared<TBlockWorker>(4, 1000);
    worker->Stall = release.get_future().share();
    const std::weak_ptr<TBlockWorker> alive = worker;
    Form.CopyTimeout = 1;
    Form.ActPwd = "secret";
    Form.Encryption = std::make_shared<TEncryption>(Form.ActPwd, 1, 0);
    const std::weak_ptr<TEncryption> oldEncryption = Form.Encryption;
    Start(worker);
    worker.reset();

    QString err = QStringLiteral("x");
    int ratio = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(Form.WaitForCopyThread(err, ratio), 273);
    const double waited = SecondsSince(t0);
    EXPECT_GE(waited, 1.0);
    EXPECT_LT(waited, 2.5);
    EXPECT_TRUE(err.isEmpty());
    EXPECT_FALSE(Form.CopyThread);
    EXPECT_FALSE(Form.WatchdogEnabled);
    ASSERT_TRUE(Form.Encryption);
    EXPECT_NE(Form.Encryption.get(), oldEncryption.lock().get());
    EXPECT_FALSE(oldEncryption.expired());

    const auto stalled = alive.lock();
    ASSERT_TRUE(stalled);
    EXPECT_FALSE(stalled->Done());
    const int reportsBefore = Reports;
    release.set_value();
    ASSERT_TRUE(stalled->WaitFor(5000));
    EXPECT_TRUE(stalled->SawCancelled);
    ProcessMessages();
    EXPECT_EQ(Reports, reportsBefore);
}

// CopyTimeout 0 switches the watchdog off: a long silence is waited out.
TEST_F(CopySupervisionTest, NoTimeOutWithCopyTimeoutZero)
{
    std::promise<void> release;
    auto worker = std::make_shared<TBlockWorker>(4, 1000);
    worker->Stall = release.get_future().share();
    Form.CopyTimeout = 0;
    Start(worker);
    std::thread later([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        release.set_value();
    });
    QString err;
    int ratio = 0;
    const int rc = Form.WaitForCopyThread(err, ratio);
    later.join();
    EXPECT_EQ(rc & 0xFF, feTerminated); // the worker's own end, not 273
}

// Pause and resume as the progress window asks (queued calls arriving
// during the wait): the worker stops at its gate, a pause longer than the
// time-out causes none, and the pause is taken off the measured time.
TEST_F(CopySupervisionTest, PauseAndResumeThroughRunControl)
{
    auto worker = std::make_shared<TBlockWorker>(30, 10000, 10);
    Form.CopyTimeout = 1;
    constexpr int kPauseMs = 1500;
    bool paused = false;
    Start(worker, [&](TFileAction, int64_t c, bool) {
        if (c == 50000 && !paused) {
            paused = true;
            Form.RunControl.PauseRun(true);
            QTimer::singleShot(kPauseMs, [this] { Form.RunControl.PauseRun(false); });
        }
    });
    QString err;
    int ratio = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(Form.WaitForCopyThread(err, ratio), 0);
    const double waited = SecondsSince(t0);
    ASSERT_TRUE(paused);
    EXPECT_GE(waited, kPauseMs / 1000.0);

    // The worker's own steps show the gap of the pause, after block 5 or
    // the one it was writing when the pause reached it.
    int64_t longestGapMs = 0;
    int64_t gapAfter = 0;
    for (size_t i = 1; i < worker->Steps.size(); ++i) {
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(worker->Steps[i].Time -
                                                                               worker->Steps[i - 1].Time)
                             .count();
        if (gap > longestGapMs) {
            longestGapMs = gap;
            gapAfter = worker->Steps[i - 1].Total;
        }
    }
    EXPECT_GE(longestGapMs, kPauseMs - 100);
    EXPECT_GE(gapAfter, 50000);
    EXPECT_LE(gapAfter, 80000);
    EXPECT_EQ(worker->Steps.size(), 30u);
    // The measured time leaves the pause out.
    EXPECT_LT(Form.CopyTime, int64_t(waited * 1000) - kPauseMs + 300);
    EXPECT_FALSE(Form.UserPaused);
}

struct TCancelCase {
    bool CancelAll;
    bool PausedFirst;
    TBuStatus Expected;
};

// Cancel from the progress window ends the worker with its "terminated by
// user" code, also when it is paused; the status tells whether the
// remaining tasks go too.
TEST_F(CopySupervisionTest, CancelThroughRunControl)
{
    const TCancelCase cases[] = {
        {false, false, TBuStatus::bsCanceled},
        {true, false, TBuStatus::bsCancelAll},
        {true, true, TBuStatus::bsCancelAll},
    };
    for (const TCancelCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "all " << c.CancelAll << " paused " << c.PausedFirst);
        Form.BuStatus = TBuStatus::bsOK;
        auto worker = std::make_shared<TBlockWorker>(100000, 1000, 5);
        Form.CopyTimeout = 1;
        Start(worker);
        if (c.PausedFirst)
            QTimer::singleShot(50, [this] { Form.RunControl.PauseRun(true); });
        QTimer::singleShot(300, [this, &c] { Form.RunControl.CancelRun(c.CancelAll); });
        QString err;
        int ratio = 0;
        const auto t0 = Clock::now();
        const int rc = Form.WaitForCopyThread(err, ratio);
        EXPECT_EQ(rc & 0xFF, feTerminated);
        EXPECT_LT(SecondsSince(t0), 1.5);
        EXPECT_EQ(Form.BuStatus, c.Expected);
        EXPECT_LT(worker->Steps.size(), 100000u);
    }
}

// Without a copy running a cancel only sets the status.
TEST_F(CopySupervisionTest, CancelWithoutCopySetsStatusOnly)
{
    Form.RunControl.CancelRun(true);
    EXPECT_EQ(Form.BuStatus, TBuStatus::bsCancelAll);
    Form.RunControl.PauseRun(true);
    Form.RunControl.CancelRun(false);
    EXPECT_EQ(Form.BuStatus, TBuStatus::bsCanceled);
    EXPECT_FALSE(Form.UserPaused);
}

// MaxRate is kByte/s of real time, kept by the worker itself: at no moment
// has it written much more than the limit allows, the whole copy takes the
// time the limit gives it (not half of it), and the speed measured and
// shown is the real one.
TEST_F(CopySupervisionTest, SpeedLimitHoldsTheRealRate)
{
    constexpr int kBlocks = 48;
    constexpr int64_t kBlock = 65536;
    constexpr int kRate = 2000; // kByte/s: 2000 bytes per ms
    constexpr double kExpected = double(kBlocks * kBlock) / kRate / 1000.0; // s
    // 2 ms per block: a disk of about 30 MB/s.
    auto worker = std::make_shared<TBlockWorker>(kBlocks, kBlock, 2);
    Form.MaxRate = kRate;
    Form.CopyTimeout = 5;
    Start(worker);
    QString err;
    int ratio = 0;
    const auto t0 = Clock::now();
    ASSERT_EQ(Form.WaitForCopyThread(err, ratio), 0);
    const double waited = SecondsSince(t0);
    EXPECT_GE(waited, kExpected * 0.95);
    EXPECT_LT(waited, kExpected * 1.6);

    ASSERT_EQ(worker->Steps.size(), size_t(kBlocks));
    const auto start = worker->Steps.front().Time;
    for (const auto &step : worker->Steps) {
        const double ms = std::chrono::duration<double, std::milli>(step.Time - start).count();
        // Some blocks of slack: the one reported and those under way
        // before the hold reached the worker (without the limit it would
        // be done after 100 ms).
        EXPECT_LE(double(step.Total), ms * kRate + 4.0 * kBlock) << ms;
    }

    const double realRate = double(kBlocks * kBlock) / waited;
    EXPECT_GT(double(Form.CopySpeed), realRate * 0.75);
    EXPECT_LT(double(Form.CopySpeed), realRate * 1.3);
    EXPECT_GT(Form.CopySpeed, kRate * 1000 * 3 / 4);
    EXPECT_LT(Form.CopySpeed, kRate * 1000 * 5 / 4);
    ASSERT_FALSE(Window.Speeds.isEmpty());
    EXPECT_TRUE(Window.Speeds.last().endsWith(QStringLiteral("/s")));
    EXPECT_FALSE(Form.RateHeld);
}

} // namespace
} // namespace vl
