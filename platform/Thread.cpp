#include "platform/Thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <stdexcept>
#include <utility>

namespace vl {

namespace detail {

// One closure on its way to the owning thread. It may be reached twice
// (our own queue and a Qt event); whoever claims it first runs it.
struct TPostedClosure {
    enum : int { psPending, psRunning, psRan, psDropped };

    TPostedClosure(std::function<void()> fn, std::shared_ptr<std::atomic<bool>> cancelled, bool blocking)
        : Fn(std::move(fn)), Cancelled(std::move(cancelled)), Blocking(blocking) {}

    // Owning thread.
    void Run()
    {
        int expected = psPending;
        if (!State.compare_exchange_strong(expected, psRunning))
            return;
        if (Cancelled && Cancelled->load()) {
            Finish(psDropped);
            return;
        }
        try {
            Fn();
        } catch (const std::exception &e) {
            Keep(std::current_exception(), e.what());
        } catch (...) {
            Keep(std::current_exception(), "unknown exception");
        }
        Fn = nullptr; // release what the closure holds in the thread it belongs to
        Finish(psRan);
    }

    // Any thread: withdraws a closure that has not started; true if it did.
    bool Drop()
    {
        bool dropped;
        {
            std::lock_guard<std::mutex> lock(Lock);
            int expected = psPending;
            dropped = State.compare_exchange_strong(expected, psDropped);
        }
        if (dropped)
            Finished.notify_all();
        return dropped;
    }

    // The posting worker: waits until the closure ran or was dropped; true
    // when it ran. An exception of the closure is rethrown here.
    bool WaitFinished()
    {
        std::unique_lock<std::mutex> lock(Lock);
        Finished.wait(lock, [this] {
            const int s = State.load();
            return s == psRan || s == psDropped;
        });
        if (Error)
            std::rethrow_exception(Error);
        return State.load() == psRan;
    }

    std::function<void()> Fn;
    const std::shared_ptr<std::atomic<bool>> Cancelled;
    const bool Blocking;
    std::atomic<int> State{psPending};
    std::mutex Lock;
    std::condition_variable Finished;
    std::exception_ptr Error;

private:
    void Keep(std::exception_ptr error, const char *what)
    {
        if (Blocking)
            Error = std::move(error);
        else
            qWarning("A closure queued by a worker thread failed: %s", what);
    }

    void Finish(int state)
    {
        {
            std::lock_guard<std::mutex> lock(Lock);
            State.store(state);
        }
        Finished.notify_all();
    }
};

// The closures posted to one owning thread, and the condition variable its
// waits sleep on. Workers keep it through shared ownership; when the owning
// thread ends it is closed and what was still pending is dropped.
class TOwnerQueue {
public:
    TOwnerQueue() : FThreadId(std::this_thread::get_id()) {}

    // The queue of the calling thread.
    static std::shared_ptr<TOwnerQueue> Current()
    {
        struct THolder {
            std::shared_ptr<TOwnerQueue> Queue;
            ~THolder()
            {
                if (Queue)
                    Queue->Close();
            }
        };
        thread_local THolder holder;
        if (!holder.Queue)
            holder.Queue = std::make_shared<TOwnerQueue>();
        holder.Queue->EnsureContext();
        return holder.Queue;
    }

    std::thread::id ThreadId() const { return FThreadId; }

    // Any thread. False when the owning thread has ended.
    bool Post(const std::shared_ptr<TPostedClosure> &item)
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FClosed)
                return false;
            FItems.push_back(item);
            ++FGeneration;
            // Also as a Qt event, so a nested event loop of the owner (a
            // modal dialog) runs it without knowing about this queue. The
            // event dies with FContext, before this queue can.
            if (FContext)
                QMetaObject::invokeMethod(
                    FContext,
                    [this, item] {
                        item->Run();
                        ForgetSpent();
                    },
                    Qt::QueuedConnection);
        }
        FWake.notify_all();
        return true;
    }

    // Any thread: wakes the owner's waits (a worker has finished).
    void Wake()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            ++FGeneration;
        }
        FWake.notify_all();
    }

    uint64_t Generation()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FGeneration;
    }

    // Waits until something was posted or woke the owner since `generation`
    // was read, or timeoutMs (< 0: no limit) has passed.
    void WaitChanged(uint64_t generation, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(FLock);
        const auto changed = [&] { return FGeneration != generation; };
        if (timeoutMs < 0)
            FWake.wait(lock, changed);
        else
            FWake.wait_for(lock, std::chrono::milliseconds(timeoutMs), changed);
    }

    // Owning thread: runs the closures that were pending when it started
    // (in posting order; those posted meanwhile wait for the next call, so a
    // busy worker cannot keep the owner here).
    void RunPosted()
    {
        size_t count;
        {
            std::lock_guard<std::mutex> lock(FLock);
            count = FItems.size();
        }
        for (size_t i = 0; i < count; ++i) {
            std::shared_ptr<TPostedClosure> item;
            {
                std::lock_guard<std::mutex> lock(FLock);
                if (FItems.empty())
                    break;
                item = std::move(FItems.front());
                FItems.pop_front();
            }
            item->Run();
        }
        // Their Qt twins are spent now; deliver them so they do not pile up
        // in a thread whose Qt events nobody processes.
        if (FContext)
            QCoreApplication::sendPostedEvents(FContext, QEvent::MetaCall);
    }

private:
    // Owning thread: lets go of the closures at the front that have run or
    // been dropped already, so an owner that only ever runs a Qt event loop
    // (a GUI's main loop) does not collect them for the program's life.
    void ForgetSpent()
    {
        std::lock_guard<std::mutex> lock(FLock);
        while (!FItems.empty() && FItems.front()->State.load() != TPostedClosure::psPending)
            FItems.pop_front();
    }

    // Owning thread: the QObject that receives the Qt twins of posted
    // closures, once a QCoreApplication exists.
    void EnsureContext()
    {
        if (FContext || !QCoreApplication::instance())
            return;
        QObject *context = new QObject;
        std::lock_guard<std::mutex> lock(FLock);
        FContext = context;
    }

    // Owning thread, when it ends.
    void Close()
    {
        std::deque<std::shared_ptr<TPostedClosure>> items;
        QObject *context;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FClosed = true;
            items.swap(FItems);
            context = FContext;
            FContext = nullptr;
            ++FGeneration;
        }
        FWake.notify_all();
        for (const auto &item : items)
            item->Drop();
        delete context;
    }

    const std::thread::id FThreadId;
    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<std::shared_ptr<TPostedClosure>> FItems;
    uint64_t FGeneration = 0;
    bool FClosed = false;
    QObject *FContext = nullptr; // written by the owning thread under FLock
};

} // namespace detail

TThread::TThread()
    : FOwner(detail::TOwnerQueue::Current()), FCancelled(std::make_shared<std::atomic<bool>>(false))
{
}

TThread::~TThread()
{
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach(); // the worker dropped the last reference itself
        else
            FThread.join(); // the worker has left Run already; this is quick
    }
}

void TThread::Start()
{
    std::shared_ptr<TThread> self = shared_from_this();
    if (FStarted.exchange(true))
        throw std::logic_error("TThread::Start called twice");
    try {
        FThread = std::thread([self] { self->Run(); });
    } catch (...) {
        FStarted = false;
        throw;
    }
}

void TThread::Run()
{
    QString error;
    try {
        Execute();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
        if (error.isEmpty())
            error = QStringLiteral("Exception without a message in a worker thread");
    } catch (...) {
        error = QStringLiteral("Unknown exception in a worker thread");
    }
    {
        std::lock_guard<std::mutex> lock(FLock);
        FExceptionText = error;
        FDone.store(true, std::memory_order_release);
    }
    FChanged.notify_all();
    FOwner->Wake();
}

QString TThread::ExceptionText() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FExceptionText;
}

void TThread::WakeWorker()
{
    std::shared_ptr<detail::TPostedClosure> pending;
    {
        std::lock_guard<std::mutex> lock(FLock);
        pending = FPendingSync;
    }
    FChanged.notify_all();
    if (pending)
        pending->Drop();
}

void TThread::Terminate()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FTerminated = true;
    }
    WakeWorker();
}

void TThread::Abandon()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FCancelled->store(true);
        FTerminated = true;
    }
    WakeWorker();
    if (FThread.joinable())
        FThread.detach();
}

bool TThread::WaitFor(int timeoutMs)
{
    if (!FStarted)
        return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (std::this_thread::get_id() == FOwner->ThreadId()) {
        for (;;) {
            const uint64_t generation = FOwner->Generation();
            FOwner->RunPosted();
            if (Done())
                return true;
            int waitMs = -1;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0)
                    return false;
                waitMs = int(left);
            }
            FOwner->WaitChanged(generation, waitMs);
        }
    }
    std::unique_lock<std::mutex> lock(FLock);
    const auto done = [this] { return Done(); };
    if (timeoutMs < 0)
        FChanged.wait(lock, done);
    else
        FChanged.wait_until(lock, deadline, done);
    return Done();
}

void TThread::Pause()
{
    std::lock_guard<std::mutex> lock(FLock);
    FPaused = true;
}

void TThread::SetPaused(bool Value)
{
    if (Done())
        return;
    if (Value)
        Pause();
    else
        Resume();
}

void TThread::Resume()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPaused = false;
    }
    FChanged.notify_all();
}

bool TThread::WaitIfPaused()
{
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return !FPaused || FTerminated; });
    return !FTerminated; // abandonment terminates too
}

bool TThread::Synchronize(const std::function<void()> &fn)
{
    if (FTerminated)
        return false;
    if (std::this_thread::get_id() == FOwner->ThreadId()) {
        fn();
        return true;
    }
    auto item = std::make_shared<detail::TPostedClosure>(fn, FCancelled, true);
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FTerminated)
            return false;
        FPendingSync = item;
    }
    struct TClear {
        TThread *Thread;
        ~TClear()
        {
            std::lock_guard<std::mutex> lock(Thread->FLock);
            Thread->FPendingSync.reset();
        }
    } clear{this};
    if (!FOwner->Post(item))
        item->Drop();
    return item->WaitFinished();
}

void TThread::Queue(std::function<void()> fn)
{
    if (FCancelled->load())
        return;
    FOwner->Post(std::make_shared<detail::TPostedClosure>(std::move(fn), FCancelled, false));
}

void ProcessMessages()
{
    detail::TOwnerQueue::Current()->RunPosted();
    QCoreApplication *app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread())
        QCoreApplication::processEvents();
}

void WaitUntil(const std::function<bool()> &predicate, int maxLatencyMs)
{
    const std::shared_ptr<detail::TOwnerQueue> queue = detail::TOwnerQueue::Current();
    for (;;) {
        const uint64_t generation = queue->Generation();
        ProcessMessages();
        if (predicate())
            return;
        queue->WaitChanged(generation, std::max(maxLatencyMs, 1));
    }
}

} // namespace vl
