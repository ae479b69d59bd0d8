// State and geometry of the self-painting progress controls, without
// widgets.
//
// TCustomProgressState is a timer-driven animation: an offset in pixels
// that grows by Increment at every step, stepped by its own timer (psOn) or
// by Nudge calls (psNudge). TNewProgressBarState adds the flat bar of the
// progress and status windows: a bar proportional to Position (npsNormal)
// or a block that moves to show activity without a percentage (npsReverse,
// npsContinuous).
//
// The widgets of ui/qt/ProgressBars.h paint what these objects compute, so
// the geometry is tested here without a display. Views subscribe to learn
// when to repaint. Used from the GUI thread only.
#pragma once

#include "core/WindowServices.h"

#include <QPoint>
#include <QRect>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace vl {

// How the animation advances: by its timer, not at all, or by Nudge calls.
enum class TProgressStatus : uint8_t { psOn, psOff, psNudge };

class TCustomProgressState {
public:
    TCustomProgressState();
    virtual ~TCustomProgressState() = default;
    TCustomProgressState(const TCustomProgressState &) = delete;
    TCustomProgressState &operator=(const TCustomProgressState &) = delete;

    // Called at every animation step.
    std::function<void()> OnIncrement;

    TProgressStatus ProgressStatus() const { return FProgressStatus; }
    // The timer runs exactly in psOn; entering psNudge restarts the count
    // of nudges.
    void SetProgressStatus(TProgressStatus AValue);
    // psOn: the timer runs.
    void Start() { SetProgressStatus(TProgressStatus::psOn); }
    void Stop() { SetProgressStatus(TProgressStatus::psOff); }
    // The timer stops while paused; the status stays.
    void Pause(bool APaused);
    // In psNudge: one step per Interval + 1 calls.
    void Nudge();
    // Advances the offset by Increment, calls OnIncrement, repaints.
    void Step();
    bool TimerActive() const { return FProgressTimer.isActive(); }

    TColor BarColor() const { return FProgressForeColor; }
    void SetBarColor(TColor AValue);
    TColor BackColor() const { return FProgressBackColor; }
    void SetBackColor(TColor AValue);
    // Timer interval in ms, and the divisor of Nudge.
    int Interval() const { return FProgressInterval; }
    void SetInterval(int AValue);
    // Pixels per step.
    int Increment() const { return FIncr; }
    void SetIncrement(int AValue);
    // The animation offset in pixels.
    int Current() const { return FProgressCurrent; }

    // The stripes of the plain animated control of Width x Height: each a
    // parallelogram (4 points) in BarColor on a BackColor background; they
    // move right as the offset grows. Wraps the offset to 0 when it reaches
    // twice the height, as painting does.
    std::vector<std::array<QPoint, 4>> Stripes(int Width, int Height);

    // AObserver runs after every change that needs a repaint; returns an id
    // for Unsubscribe.
    int Subscribe(std::function<void()> AObserver);
    void Unsubscribe(int AId);

protected:
    void Invalidate();

    int FProgressCurrent = 0;

private:
    TProgressStatus FProgressStatus = TProgressStatus::psOff;
    QTimer FProgressTimer;
    TColor FProgressForeColor = 0xFF0000;
    TColor FProgressBackColor = 255;
    int FProgressInterval = 10;
    int FIncr = 2;
    int FNudgeCounter = 0;
    bool FPaused = false;
    std::vector<std::pair<int, std::function<void()>>> FObservers;
    int FNextObserverId = 1;
};

// What one paint of a TNewProgressBar draws: the frame rectangle over the
// whole control (background brush, pen FramePen), for a bar that is not flat
// a Highlight line along the right and bottom edges, then Bar filled in
// BarColor (empty: no bar).
struct TNewProgressBarPaint {
    TColor Background = 0;
    TColor BarColor = 0;
    TColor FramePen = 0;
    TColor Highlight = 0;
    bool Flat = true;
    QRect Bar;
};

class TNewProgressBarState : public TCustomProgressState {
public:
    TNewProgressBarState();

    int BarWidth() const { return FBarWidth; }
    void SetBarWidth(int AValue);
    // Inset of the bar inside the frame, added to the pen width.
    int Border() const { return FBorder; }
    void SetBorder(int AValue);
    int Position() const { return FPos; }
    void SetPosition(int AValue);
    int Min() const { return FMin; }
    void SetMin(int AValue);
    int Max() const { return FMax; }
    void SetMax(int AValue);
    bool Flat() const { return FFlat; }
    void SetFlat(bool AValue);
    // The background is the control's own colour (Color) rather than
    // BackColor.
    bool Transparent() const { return FTrans; }
    void SetTransparent(bool AValue);
    // The control's own colour (that of its parent).
    TColor Color() const { return FColor; }
    void SetColor(TColor AValue);
    TNewProgressBarStyle Style() const { return FStyle; }
    // A change restarts the bar (Reset).
    void SetStyle(TNewProgressBarStyle AValue);
    // Moving styles: the timer runs and the block starts over; the normal
    // style: position 0, timer stopped.
    void Reset();
    // Direction of the reverse style's block.
    bool Forward() const { return FBarFwd; }

    // The paint of a control of Width x Height pixels under the active
    // style. The moving styles wrap their offset here, as painting does.
    TNewProgressBarPaint Paint(int Width, int Height);
    // Only the bar's rectangle (part of Paint).
    QRect BarRect(int Width, int Height);

private:
    int FBarWidth = 50;
    int FBorder = 1;
    int FPos = 0;
    int FMin = 0;
    int FMax = 100;
    bool FBarFwd = true;
    bool FFlat = true;
    bool FTrans = true;
    TColor FColor;
    TNewProgressBarStyle FStyle = TNewProgressBarStyle::npsNormal;
};

} // namespace vl
