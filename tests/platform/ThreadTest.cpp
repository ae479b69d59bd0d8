#include "platform/Thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <stdexcept>

using namespace vl;
using namespace std::chrono_literals;

namespace {

// A worker whose body is given by the test.
class TFnThread : public TThread {
public:
    using TBody = std::function<void(TFnThread &)>;
    explicit TFnThread(TBody body) : FBody(std::move(body)) {}

protected:
    void Execute() override { FBody(*this); }

private:
    TBody FBody;
};

std::shared_ptr<TFnThread> MakeThread(TFnThread::TBody body)
{
    return std::make_shared<TFnThread>(std::move(body));
}

// Keeps the calling thread, and the threads it starts, on its current CPU.
// Virtual machines take milliseconds to wake an idle virtual CPU, which
// would measure the host rather than our wake-up path; on one CPU a wait
// that blocks hands the CPU straight to the worker and back.
class TOneCpu {
public:
    TOneCpu()
    {
        FSaved = sched_getaffinity(0, sizeof FOld, &FOld) == 0;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(std::max(sched_getcpu(), 0), &one);
        if (FSaved)
            sched_setaffinity(0, sizeof one, &one);
    }
    ~TOneCpu()
    {
        if (FSaved)
            sched_setaffinity(0, sizeof FOld, &FOld);
    }

private:
    cpu_set_t FOld;
    bool FSaved;
};

} // namespace

TEST(Thread, FinishedWorkerIsSeenAtOnce)
{
    // Each wait would take at least one poll interval if finishing did not
    // wake the owner: 10,000 x 10 ms.
    TOneCpu oneCpu;
    std::atomic<int> ran{0};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        auto t = MakeThread([&](TFnThread &) { ++ran; });
        t->Start();
        if (i % 2)
            ASSERT_TRUE(t->WaitFor(5000));
        else
            WaitUntil([&] { return t->Done(); }, 10);
        ASSERT_TRUE(t->Done());
    }
    EXPECT_EQ(ran.load(), 10000);

    // A posted question wakes the owner too: 2,000 round trips.
    int answered = 0;
    auto asker = MakeThread([&](TFnThread &self) {
        for (int i = 0; i < 2000; ++i)
            self.Synchronize([&] { ++answered; });
    });
    asker->Start();
    WaitUntil([&] { return asker->Done(); }, 10);
    EXPECT_EQ(answered, 2000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    EXPECT_FALSE(MakeThread([](TFnThread &) {})->WaitFor(-1)) << "never started: no wait";
}

TEST(Thread, SynchronizeIsAnsweredInNestedEventLoop)
{
    // The owner sits in a modal dialog's loop and never calls our pump.
    QEventLoop loop;
    bool timedOut = false;
    QTimer::singleShot(10000, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    std::atomic<int> asked{0}, quits{0};
    std::thread::id askedOn;
    std::atomic<int> answer{0};
    auto t = MakeThread([&](TFnThread &self) {
        int reply = 0;
        const bool ran = self.Synchronize([&] {
            ++asked;
            askedOn = std::this_thread::get_id();
            reply = 42;
        });
        answer = ran ? reply : -1;
        self.Queue([&] {
            ++quits;
            loop.quit();
        });
    });
    t->Start();
    loop.exec();
    ASSERT_FALSE(timedOut);
    ASSERT_TRUE(t->WaitFor(5000));
    EXPECT_EQ(answer.load(), 42);
    EXPECT_EQ(askedOn, std::this_thread::get_id());

    // Both ways of delivery hold every closure; each runs exactly once.
    std::atomic<int> counted{0};
    auto poster = MakeThread([&](TFnThread &self) {
        for (int i = 0; i < 100; ++i)
            self.Queue([&] { ++counted; });
    });
    poster->Start();
    ASSERT_TRUE(poster->WaitFor(5000));
    ProcessMessages();
    QCoreApplication::processEvents();
    QEventLoop().processEvents();
    EXPECT_EQ(counted.load(), 100);
    EXPECT_EQ(asked.load(), 1);
    EXPECT_EQ(quits.load(), 1);
}

TEST(Thread, ClosuresHandledByAQtLoopAreLetGo)
{
    // The owner runs only a Qt event loop, as a GUI's main loop does; a
    // closure of an abandoned worker is dropped there and must not stay
    // queued with what it holds.
    std::weak_ptr<int> held;
    auto t = MakeThread([&held](TFnThread &self) {
        auto token = std::make_shared<int>(1);
        held = token;
        self.Queue([token] {});
    });
    t->Start();
    while (!t->Done()) // no WaitFor: the owner must not run our own queue
        std::this_thread::yield();
    t->Abandon();
    QCoreApplication::processEvents();
    EXPECT_TRUE(held.expired());
    ProcessMessages();
}

namespace {

// What a hung worker does, seen from outside; shared so that it outlives
// both the test's and the worker's view of it.
struct TProbe {
    std::promise<void> Wake;
    std::shared_future<void> WakeFuture = Wake.get_future().share();
    std::atomic<int64_t> Written{0};
    std::atomic<bool> SyncResult{true};
    std::atomic<int> ClosuresRun{0};
    std::atomic<bool> ExecuteEnded{false};
    std::atomic<bool> EndedBeforeDestroy{false};
    std::promise<void> Destroyed;
};

// A copy whose read hangs after three blocks.
class THungWorker : public TThread {
public:
    explicit THungWorker(std::shared_ptr<TProbe> probe) : FProbe(std::move(probe)), FBuffer(4096, 'x') {}
    ~THungWorker() override
    {
        FProbe->EndedBeforeDestroy = FProbe->ExecuteEnded.load();
        FProbe->Destroyed.set_value();
    }
    TProgressMailbox<int64_t> Progress;

protected:
    void Execute() override
    {
        for (int64_t i = 1; i <= 3; ++i)
            Progress.Post(i * FBuffer.size());
        FProbe->WakeFuture.wait();
        const std::shared_ptr<TProbe> probe = FProbe;
        FProbe->SyncResult = Synchronize([probe] { ++probe->ClosuresRun; });
        Queue([probe] { ++probe->ClosuresRun; });
        if (!Cancelled())
            FProbe->Written += FBuffer.size(); // touches the object after waking
        FProbe->ExecuteEnded = true;
    }

private:
    std::shared_ptr<TProbe> FProbe;
    QByteArray FBuffer;
};

} // namespace

TEST(Thread, AbandonedWorkerWritesNothingAndStaysValid)
{
    auto probe = std::make_shared<TProbe>();
    std::future<void> destroyed = probe->Destroyed.get_future();
    auto worker = std::make_shared<THungWorker>(probe);
    worker->Start();

    // The owner's watchdog: give up after 200 ms without progress.
    uint64_t seen = 0;
    int64_t latest = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    WaitUntil(
        [&] {
            worker->Progress.Take(latest);
            if (worker->Progress.Sequence() != seen) {
                seen = worker->Progress.Sequence();
                lastProgress = std::chrono::steady_clock::now();
            }
            return worker->Done() || std::chrono::steady_clock::now() - lastProgress > 200ms;
        },
        10);
    ASSERT_FALSE(worker->Done());
    EXPECT_EQ(latest, 3 * 4096);
    EXPECT_EQ(seen, 3u);

    worker->Abandon();
    EXPECT_TRUE(worker->Cancelled());
    EXPECT_TRUE(worker->Terminated());
    std::weak_ptr<THungWorker> weak = worker;
    worker.reset();
    EXPECT_FALSE(weak.expired()) << "the running worker keeps its object";

    probe->Wake.set_value();
    ASSERT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    ProcessMessages();
    QCoreApplication::processEvents();
    EXPECT_EQ(probe->Written.load(), 0);
    EXPECT_FALSE(probe->SyncResult.load());
    EXPECT_EQ(probe->ClosuresRun.load(), 0);
    EXPECT_TRUE(probe->EndedBeforeDestroy.load());
}

TEST(Thread, StoppingWithdrawsPendingSynchronize)
{
    for (const bool abandon : {false, true}) {
        SCOPED_TRACE(abandon ? "Abandon" : "Terminate");
        auto ran = std::make_shared<std::atomic<int>>(0);
        std::promise<bool> result;
        std::future<bool> answered = result.get_future();
        std::atomic<bool> asking{false};
        auto t = MakeThread([&, ran](TFnThread &self) {
            asking = true;
            result.set_value(self.Synchronize([ran] { ++*ran; }));
        });
        t->Start();
        // The owner processes no messages, so the question stays pending.
        while (!asking)
            std::this_thread::yield();
        std::this_thread::sleep_for(20ms); // let it reach the queue; the outcome is the same either way
        if (abandon)
            t->Abandon();
        else
            t->Terminate();
        ASSERT_EQ(answered.wait_for(10s), std::future_status::ready) << "the worker was not released";
        EXPECT_FALSE(answered.get());
        ProcessMessages();
        QCoreApplication::processEvents();
        EXPECT_EQ(ran->load(), 0);
        EXPECT_TRUE(t->WaitFor(5000));
    }
}

TEST(Thread, PauseGate)
{
    std::atomic<int> blocks{0};
    auto t = MakeThread([&](TFnThread &self) {
        for (int i = 0; i < 100; ++i) {
            if (!self.WaitIfPaused())
                return;
            if (i == 50)
                self.Synchronize([&] { self.Pause(); });
            ++blocks;
        }
    });
    t->Start();
    EXPECT_FALSE(t->WaitFor(100)) << "paused at block 51";
    EXPECT_TRUE(t->Paused());
    EXPECT_EQ(blocks.load(), 51);
    t->Resume();
    ASSERT_TRUE(t->WaitFor(5000));
    EXPECT_EQ(blocks.load(), 100);

    // Terminate and Abandon open the gate; the worker learns it must stop.
    for (const bool abandon : {false, true}) {
        SCOPED_TRACE(abandon ? "Abandon" : "Terminate");
        auto goOn = std::make_shared<std::promise<bool>>();
        std::future<bool> gate = goOn->get_future();
        auto paused = MakeThread([goOn](TFnThread &self) { goOn->set_value(self.WaitIfPaused()); });
        paused->Pause();
        paused->Start();
        if (abandon)
            paused->Abandon();
        else
            paused->Terminate();
        ASSERT_EQ(gate.wait_for(10s), std::future_status::ready);
        EXPECT_FALSE(gate.get());
        EXPECT_TRUE(paused->WaitFor(5000));
        EXPECT_EQ(paused->Cancelled(), abandon);
    }
}

TEST(Thread, ExceptionInExecuteEndsTheThread)
{
    struct Case {
        const char *Name;
        TFnThread::TBody Body;
        QString Expected; // empty: any text
    };
    const Case cases[] = {
        {"thrown", [](TFnThread &) { throw std::runtime_error("Gr\xC3\xB6\xC3\x9F" "e unbekannt"); },
         QString::fromUtf8("Gr\xC3\xB6\xC3\x9F" "e unbekannt")},
        {"from Synchronize", [](TFnThread &self) { self.Synchronize([] { throw std::runtime_error("no answer"); }); },
         QStringLiteral("no answer")},
        {"not a std::exception", [](TFnThread &) { throw 42; }, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        auto t = MakeThread(c.Body);
        t->Start();
        ASSERT_TRUE(t->WaitFor(5000));
        EXPECT_TRUE(t->Done());
        if (c.Expected.isEmpty())
            EXPECT_FALSE(t->ExceptionText().isEmpty());
        else
            EXPECT_EQ(t->ExceptionText(), c.Expected);
    }
    auto fine = MakeThread([](TFnThread &) {});
    fine->Start();
    ASSERT_TRUE(fine->WaitFor(5000));
    EXPECT_TRUE(fine->ExceptionText().isEmpty());
}
