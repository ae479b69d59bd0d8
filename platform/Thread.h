// Worker threads and the message pump of the thread that owns them.
//
// A TThread is created suspended by its owning thread (the thread that runs
// its constructor), gets its options, is started, and is then watched by
// the owner: Done() becomes true as soon as Execute has returned. Workers
// reach the owner in two ways:
// - Synchronize(fn): fn runs on the owning thread while the worker waits;
//   kept for what needs an answer (questions, passwords).
// - Queue(fn) and TProgressMailbox: non-blocking, for progress.
// Posted closures run wherever the owner processes messages: in
// ProcessMessages()/WaitUntil(), in TThread::WaitFor() called by the owner,
// and, where a QCoreApplication exists, in any Qt event loop of the owning
// thread (a modal dialog's loop included). Each closure runs exactly once.
//
// Every wait is a condition-variable wait that ends as soon as a worker has
// finished or posted work; a poll interval is only an upper bound on the
// latency for events that do not pass through here (Qt timers, sockets).
//
// A worker that stops making progress is abandoned, never killed:
// Abandon() marks it cancelled, withdraws its pending closures and lets it
// run on detached. TThread objects are owned through std::shared_ptr (create
// them with std::make_shared) and the running worker holds a reference of
// its own, so nothing the object holds is freed under a worker that wakes up
// late; such a worker checks Cancelled() before every write.
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vl {

namespace detail {
class TOwnerQueue;
struct TPostedClosure;
} // namespace detail

class TThread : public std::enable_shared_from_this<TThread> {
public:
    // Suspended; the calling thread becomes the owner.
    TThread();
    // Runs in the owner or, when the worker held the last reference, in the
    // worker itself; a finished worker is joined, a running one cannot be
    // left (it holds a reference), an abandoned one is already detached.
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Starts the worker once (std::logic_error on a second call). The
    // object must be owned by a std::shared_ptr (std::bad_weak_ptr if not).
    void Start();
    bool Started() const { return FStarted.load(); }
    // True once Execute has returned, also by an exception (ExceptionText).
    bool Done() const { return FDone.load(std::memory_order_acquire); }
    // The message of an exception that escaped Execute; empty otherwise.
    // Read it after Done().
    QString ExceptionText() const;

    // A request to stop: sets Terminated(), opens the pause gate and makes
    // a pending Synchronize return false without running its closure.
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }

    // Waits until Done() or timeoutMs (< 0: no limit) has passed; true when
    // done. Returns at once for a finished worker, and false at once for one
    // that was never started. Called by the owner, it runs the closures that
    // workers post meanwhile, so a worker inside Synchronize cannot block it.
    bool WaitFor(int timeoutMs = -1);

    // Gives up a worker that makes no progress: Terminate(), Cancelled()
    // becomes true, closures it posted and has not yet had run are dropped,
    // and the worker is detached. The object stays alive until the worker
    // really ends. Called by the owner.
    void Abandon();
    // Checked by the worker before every write: true once abandoned.
    bool Cancelled() const { return FCancelled->load(); }

    // The pause gate. Workers call WaitIfPaused() between buffers; it blocks
    // while paused and returns when resumed, terminated or abandoned, true
    // when the worker may go on (neither terminated nor abandoned).
    void Pause();
    void Resume();
    bool Paused() const { return FPaused.load(); }
    // Pause() or Resume() as Value says; ignored once the worker is done.
    void SetPaused(bool Value);
    bool WaitIfPaused();

    // Called by the worker. Runs fn on the owning thread and waits until it
    // has run; false (fn not run) when the thread is terminated or abandoned
    // before the owner got to it, or the owning thread has ended. An
    // exception thrown by fn is rethrown here. Called on the owning thread
    // itself, fn runs at once.
    bool Synchronize(const std::function<void()> &fn);
    // Called by the worker. Posts fn to the owning thread without waiting;
    // dropped once the thread is abandoned. fn must not throw (an exception
    // is caught and reported as a Qt warning).
    void Queue(std::function<void()> fn);

protected:
    // The thread body.
    virtual void Execute() = 0;

private:
    void Run();
    void WakeWorker();

    std::shared_ptr<detail::TOwnerQueue> FOwner;
    std::thread FThread;
    mutable std::mutex FLock;              // guards the gate, FPendingSync, FExceptionText
    std::condition_variable FChanged;      // done, pause state, terminate, abandon
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FDone{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FPaused{false};
    // Shared with posted closures, which may outlive the object.
    std::shared_ptr<std::atomic<bool>> FCancelled;
    std::shared_ptr<detail::TPostedClosure> FPendingSync;
    QString FExceptionText;
};

// Owning thread: runs every closure posted to this thread and, when the
// QCoreApplication lives in this thread, processes its pending events.
void ProcessMessages();

// Owning thread: processes messages until predicate() is true. Between
// checks it waits on a condition variable that wakes as soon as a worker
// of this thread has finished or posted work, at most maxLatencyMs.
void WaitUntil(const std::function<bool()> &predicate, int maxLatencyMs);

// The latest progress of a worker for its owner, without blocking either
// side: the worker posts, the owner (a window's timer, a wait loop) takes
// the newest value. Sequence() counts the posts, so a watchdog sees whether
// a worker still makes progress.
template <typename T>
class TProgressMailbox {
public:
    void Post(const T &value)
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FValue = value;
            FFresh = true;
        }
        FSequence.fetch_add(1, std::memory_order_release);
    }
    // The newest value when one was posted since the last Take.
    bool Take(T &value)
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (!FFresh)
            return false;
        value = FValue;
        FFresh = false;
        return true;
    }
    T Latest() const
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FValue;
    }
    uint64_t Sequence() const { return FSequence.load(std::memory_order_acquire); }

private:
    mutable std::mutex FLock;
    T FValue{};
    bool FFresh = false;
    std::atomic<uint64_t> FSequence{0};
};

} // namespace vl
