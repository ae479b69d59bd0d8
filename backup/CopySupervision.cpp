// Supervision of the copy workers of a run: progress display, speed
// measurement and limit, the waits for copy and FTP threads with their
// watchdog, and the progress window's pause and cancel requests.
//
// Everything here runs on the thread that owns the workers. Workers post
// their progress; the waits are timed waits that wake when a worker posts
// or ends. The speed limit holds the worker itself at its pause gate: the
// owner only learns of bytes already written, so slowing the owner down
// would not slow the writer.
#include "backup/BackupForm.h"

#include "core/DateTime.h"
#include "core/FileErrors.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/WindowServices.h"
#include "engine/Encryption.h"
#include "engine/FtpThreads.h"
#include "engine/FtpUtils.h"
#include "engine/WinExecute.h"
#include "engine/ZipWrite.h"
#include "platform/Thread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

namespace vl {

namespace {

// Longest sleep of a wait: how often the speed text is refreshed and how
// late the watchdog may notice a time-out.
constexpr int kWaitLatencyMs = 50;

// Workers given up after a time-out, with what they use through plain
// pointers: kept until they end, whoever of the run is gone by then. Never
// destroyed, so a worker still running at exit finds its objects.
struct TAbandonedWorker {
    std::shared_ptr<TThread> Thread;
    std::shared_ptr<TEncryption> Encryption;
};

std::mutex &AbandonedLock()
{
    static auto *lock = new std::mutex;
    return *lock;
}

std::vector<TAbandonedWorker> &AbandonedWorkers()
{
    static auto *list = new std::vector<TAbandonedWorker>;
    return *list;
}

void KeepAbandoned(TAbandonedWorker AWorker)
{
    std::lock_guard<std::mutex> lock(AbandonedLock());
    auto &list = AbandonedWorkers();
    list.erase(std::remove_if(list.begin(), list.end(), [](const TAbandonedWorker &w) { return w.Thread->Done(); }),
               list.end());
    list.push_back(std::move(AWorker));
}

QString SpeedText(int64_t ASpeed)
{
    return ByteSizeText(false, ASpeed) + QStringLiteral("/s");
}

// Workers held for the speed limit go on once their bytes are due, unless
// the user has paused them meanwhile.
void ReleaseRateHold(TBackupForm &F, int64_t ANow)
{
    if (!F.RateHeld || double(ANow) < F.RateDue)
        return;
    F.RateHeld = false;
    if (F.UserPaused)
        return;
    if (F.CopyThread)
        F.CopyThread->SetPaused(false);
}

// Only a copy thread is held: its waits release it. The zip writer's
// segment copies are waited for without asking us, so a held zip worker
// could never be let go.
void HoldForRate(TBackupForm &F)
{
    F.RateHeld = true;
    if (F.CopyThread && !F.CopyThread->Done())
        F.CopyThread->SetPaused(true);
}

// Runs the wait loop for AThread: until it is done (true) or the watchdog
// fires (false). Pauses, by the user or for the speed limit, never count
// as a stall.
bool SuperviseThread(TBackupForm &F, TThread &AThread)
{
    F.WatchdogEnabled = true;
    // Time before the wait (the walk examining files) does not count.
    F.LastProgressTick = TBackupForm::CurrentTick();
    int64_t speedShown = 0;
    for (;;) {
        const int64_t now = TBackupForm::CurrentTick();
        ReleaseRateHold(F, now);
        if (AThread.Done())
            return true;
        if (AThread.Paused())
            F.LastProgressTick = now;
        if (F.CopyTimedOut())
            return false;
        if (F.CopySpeed > 0 && now - speedShown >= kWaitLatencyMs) {
            ProgressWindow().SetSpeed(SpeedText(F.CopySpeed));
            speedShown = now;
        }
        const bool held = F.RateHeld;
        int64_t wake = now + kWaitLatencyMs;
        if (held)
            wake = std::clamp<int64_t>(int64_t(std::ceil(F.RateDue)), now + 1, wake);
        WaitUntil(
            [&] {
                const int64_t t = TBackupForm::CurrentTick();
                // A new hold may be due before the planned wake-up.
                return AThread.Done() || t >= wake || F.RateHeld != held || (F.RateHeld && double(t) >= F.RateDue);
            },
            int(wake - now));
    }
}

// A worker that finished ahead of the speed limit: the run goes on once
// its bytes are due (a cancel ends the wait).
void WaitForRateDue(TBackupForm &F)
{
    if (F.MaxRate <= 0)
        return;
    F.RateHeld = false;
    WaitUntil([&F] { return double(TBackupForm::CurrentTick()) >= F.RateDue || F.BuStatus != TBuStatus::bsOK; },
              kWaitLatencyMs);
}

// The end of every wait.
void EndWait(TBackupForm &F)
{
    F.CopyThread.reset();
    F.RateHeld = false;
    ProgressWindow().SetStepProgress(100);
    ProcessMessages();
    F.WatchdogEnabled = false;
}

} // namespace

int64_t TBackupForm::CurrentTick()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TBackupForm::CopyProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit)
{
    IProgressWindow &pw = ProgressWindow();
    const int64_t now = CurrentTick();
    const bool bySize = VlSettings.ViewSettings.SizeProgress;
    // Every report counts as progress.
    LastProgressTick = now;
    if (ACount < 0) {
        pw.UpdateView();
        FSize = -ACount;
        pw.SetStepAmount(FSize);
        if (AAction == TFileAction::acSegmentCopy && bySize && TotalSize > 0)
            pw.UpdateTotalProgress(int32_t(double(FSize) / double(TotalSize) * 100.0));
        pw.SetAction(AAction);
        pw.SetStepProgress(0);
        LastCount = 0;
        LastTick = now;
        return;
    }
    if (FSize <= 0) {
        pw.SetStepProgress(0);
        return;
    }
    pw.SetStepProgress(int32_t(std::lround(double(ACount) / double(FSize) * 100.0)));
    if (bySize && TotalSize > 0)
        pw.SetTempTotalProgress(int32_t(double(ACount) / double(TotalSize) * 100.0));
    pw.SetElapsedTime(Now() - StartTime);
    const int64_t elapsed = now - LastTick;
    if (ASpeedLimit && elapsed > 0) {
        const int64_t bytes = std::max<int64_t>(ACount - LastCount, 0);
        if (MaxRate > 0 && CopyThread) {
            // kByte/s = bytes per millisecond; the bytes since the last
            // measurement are due that much after it (or after the bytes
            // before them, when those were not yet due).
            RateDue = std::max(RateDue, double(LastTick)) + double(bytes) / double(MaxRate);
            if (RateDue > double(now))
                HoldForRate(*this);
        }
        // Real time, less a pause the user made in this interval.
        CopyVol += bytes;
        CopyTime += std::max<int64_t>(elapsed - SuspTime, 0);
        SuspTime = 0;
        if (CopyTime > 0)
            CopySpeed = std::llround(double(CopyVol) * 1000.0 / double(CopyTime));
        LastTick = now;
        LastCount = ACount;
    }
    if (!WatchdogEnabled && CopySpeed > 0)
        pw.SetSpeed(SpeedText(CopySpeed));
}

bool TBackupForm::CopyTimedOut()
{
    const int64_t now = CurrentTick();
    // Also asked by the zip writer while it waits: a copy thread held for
    // the speed limit goes on when due.
    ReleaseRateHold(*this, now);
    if (!WatchdogEnabled || CopyTimeout <= 0)
        return false;
    if (UserPaused || RateHeld) {
        LastProgressTick = now;
        return false;
    }
    return now - LastProgressTick > int64_t(CopyTimeout) * 1000;
}

int TBackupForm::WaitForCopyThread(QString &ErrMsg, int &CRatio)
{
    ErrMsg.clear();
    const std::shared_ptr<TCopyThread> thread = CopyThread;
    if (!thread) {
        EndWait(*this);
        return feUndefinedStream | ecError;
    }
    int result;
    if (SuperviseThread(*this, *thread)) {
        CRatio = thread->Ratio();
        result = thread->ErrorCode();
        if (result != 0)
            ErrMsg = thread->SysErrorMsg();
        else
            WaitForRateDue(*this);
    } else {
        // Never killed: cancelled and left to end on its own; it removes
        // its unfinished destination itself. It holds the run's encryption
        // object by a plain pointer: that object stays with it, and the run
        // goes on with a new one (one object never serves two workers).
        thread->CancelThread();
        thread->Abandon();
        TAbandonedWorker kept{thread, nullptr};
        if (Encryption) {
            kept.Encryption = Encryption;
            Encryption = std::make_shared<TEncryption>(ActPwd, GetCryptKeyMode(), TaskBufferSize);
        }
        KeepAbandoned(std::move(kept));
        result = feCopyTimeout | ecError;
    }
    EndWait(*this);
    return result;
}

void TBackupForm::WaitForFtpThread(int &Error, QString &ErrText, int64_t &FileSize)
{
    Error = 0;
    ErrText.clear();
    FileSize = 0;
    const std::shared_ptr<TCopyThread> thread = CopyThread;
    if (!thread) {
        EndWait(*this);
        Error = feUndefinedStream | ecError;
        return;
    }
    thread->SetOnProgress([this](TFileAction AAction, int64_t ACount, bool ASpeedLimit) {
        CopyProgress(AAction, ACount, ASpeedLimit);
    });
    LastTick = CurrentTick();
    LastCount = 0;
    CopySpeed = 0;
    thread->Start();
    if (SuperviseThread(*this, *thread)) {
        Error = thread->ErrorCode();
        if (FTP)
            ErrText = FTP->GetIndyError();
        if (Error == 0)
            WaitForRateDue(*this);
    } else {
        // The worker uses the run's FTP client, which the run needs next:
        // break its transfer until it has ended (the client's time-outs
        // bound this), then the client is the run's again.
        // (Its own CancelThread would wait for it without breaking the
        // transfer again.)
        thread->Abandon();
        const std::shared_ptr<TExtFtp> ftp = FTP;
        while (!thread->Done()) {
            if (ftp)
                ftp->AbortTransfer();
            thread->WaitFor(100);
        }
        Error = feFtpTimeout | ecError;
    }
    if (const auto *upload = dynamic_cast<const TWriteFtpThread *>(thread.get()))
        FileSize = upload->DestSize();
    else if (const auto *compare = dynamic_cast<const TCompareFtpThread *>(thread.get()))
        FileSize = compare->DestSize();
    EndWait(*this);
}

void TBackupForm::WaitForFtpVerify(int &Error)
{
    QString text;
    int64_t size = 0;
    WaitForFtpThread(Error, text, size);
}

void TBackupForm::PauseBackup(bool APause)
{
    UserPaused = APause;
    const auto pause = [this, APause](const std::function<void(bool)> &ASet) {
        if (APause) {
            ASet(true);
            SavedSuspTime = Now();
        } else {
            // A worker held for the speed limit stays held until due.
            if (!RateHeld)
                ASet(false);
            SuspTime = std::llround((Now() - SavedSuspTime) * 86400000.0);
        }
    };
    if (CopyThread && !CopyThread->Done())
        pause([this](bool AValue) { CopyThread->SetPaused(AValue); });
    if (ZipArchive)
        pause([this](bool AValue) {
            if (AValue)
                ZipArchive->Suspend();
            else
                ZipArchive->Resume();
        });
}

void TBackupForm::CancelBackup(bool ACancelAll)
{
    UserPaused = false;
    RateHeld = false;
    // Hold the references: cancelling an FTP thread processes messages.
    if (const std::shared_ptr<TCopyThread> thread = CopyThread) {
        thread->SetPaused(false);
        if (!thread->Done())
            thread->CancelThread();
    }
    if (const std::shared_ptr<TZipWrite> zip = ZipArchive)
        zip->Cancel();
    BuStatus = ACancelAll ? TBuStatus::bsCancelAll : TBuStatus::bsCanceled;
}

void TBackupForm::CancelProgramWait()
{
    StopExternalProgramWait();
}

} // namespace vl
