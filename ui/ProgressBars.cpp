#include "ui/ProgressBars.h"

#include "ui/Placement.h"
#include "ui/Styles.h"

#include <algorithm>

namespace vl {

// ---------------------------------------------------------------------------
// TCustomProgressState

TCustomProgressState::TCustomProgressState()
{
    FProgressTimer.setInterval(FProgressInterval);
    QObject::connect(&FProgressTimer, &QTimer::timeout, [this] { Step(); });
}

void TCustomProgressState::SetProgressStatus(TProgressStatus AValue)
{
    if (AValue == FProgressStatus)
        return;
    FProgressStatus = AValue;
    if (AValue == TProgressStatus::psOn && !FPaused)
        FProgressTimer.start();
    else
        FProgressTimer.stop();
    if (AValue == TProgressStatus::psNudge)
        FNudgeCounter = 0;
    Invalidate();
}

void TCustomProgressState::Pause(bool APaused)
{
    FPaused = APaused;
    if (APaused)
        FProgressTimer.stop();
    else if (FProgressStatus == TProgressStatus::psOn)
        FProgressTimer.start();
}

void TCustomProgressState::Nudge()
{
    if (FProgressStatus != TProgressStatus::psNudge)
        return;
    if (++FNudgeCounter > FProgressInterval) {
        FNudgeCounter = 0;
        Step();
    }
}

void TCustomProgressState::Step()
{
    FProgressCurrent += FIncr;
    if (OnIncrement)
        OnIncrement();
    Invalidate();
}

void TCustomProgressState::SetBarColor(TColor AValue)
{
    FProgressForeColor = AValue;
    Invalidate();
}

void TCustomProgressState::SetBackColor(TColor AValue)
{
    FProgressBackColor = AValue;
    Invalidate();
}

void TCustomProgressState::SetInterval(int AValue)
{
    if (AValue == FProgressInterval)
        return;
    FProgressInterval = AValue;
    FProgressTimer.setInterval(std::max(AValue, 0));
}

void TCustomProgressState::SetIncrement(int AValue)
{
    FIncr = AValue;
}

std::vector<std::array<QPoint, 4>> TCustomProgressState::Stripes(int Width, int Height)
{
    const int h = Height;
    if (FProgressCurrent >= 2 * h)
        FProgressCurrent = 0;
    std::vector<std::array<QPoint, 4>> stripes;
    if (h <= 0)
        return stripes;
    for (int k = 0; k <= Width + h; k += 2 * h) {
        const int x = FProgressCurrent + k;
        stripes.push_back({QPoint(x - h, 1), QPoint(x, 1), QPoint(x - h, h - 1), QPoint(x - 2 * h, h - 1)});
    }
    return stripes;
}

int TCustomProgressState::Subscribe(std::function<void()> AObserver)
{
    const int id = FNextObserverId++;
    FObservers.emplace_back(id, std::move(AObserver));
    return id;
}

void TCustomProgressState::Unsubscribe(int AId)
{
    std::erase_if(FObservers, [AId](const auto &o) { return o.first == AId; });
}

void TCustomProgressState::Invalidate()
{
    // A copy: an observer may unsubscribe while being called.
    const auto observers = FObservers;
    for (const auto &o : observers)
        o.second();
}

// ---------------------------------------------------------------------------
// TNewProgressBarState

TNewProgressBarState::TNewProgressBarState() : FColor(clBtnFace)
{
    SetBarColor(0xA07000);
    SetBackColor(clBtnFace);
    Reset();
}

void TNewProgressBarState::Reset()
{
    switch (FStyle) {
    case TNewProgressBarStyle::npsReverse:
        FProgressCurrent = 0;
        FBarFwd = true;
        Start();
        break;
    case TNewProgressBarStyle::npsContinuous:
        FProgressCurrent = FBarWidth / 10;
        Start();
        break;
    case TNewProgressBarStyle::npsNormal:
        FPos = 0;
        Stop();
        break;
    }
    Invalidate();
}

namespace {

template <typename T>
bool Store(T &AField, T AValue)
{
    if (AField == AValue)
        return false;
    AField = AValue;
    return true;
}

} // namespace

void TNewProgressBarState::SetBarWidth(int AValue)
{
    if (Store(FBarWidth, AValue))
        Invalidate();
}

void TNewProgressBarState::SetBorder(int AValue)
{
    if (Store(FBorder, AValue))
        Invalidate();
}

void TNewProgressBarState::SetPosition(int AValue)
{
    if (Store(FPos, AValue))
        Invalidate();
}

void TNewProgressBarState::SetMin(int AValue)
{
    if (Store(FMin, AValue))
        Invalidate();
}

void TNewProgressBarState::SetMax(int AValue)
{
    if (Store(FMax, AValue))
        Invalidate();
}

void TNewProgressBarState::SetFlat(bool AValue)
{
    if (Store(FFlat, AValue))
        Invalidate();
}

void TNewProgressBarState::SetTransparent(bool AValue)
{
    if (Store(FTrans, AValue))
        Invalidate();
}

void TNewProgressBarState::SetColor(TColor AValue)
{
    if (Store(FColor, AValue))
        Invalidate();
}

void TNewProgressBarState::SetStyle(TNewProgressBarStyle AValue)
{
    if (Store(FStyle, AValue))
        Reset();
}

QRect TNewProgressBarState::BarRect(int Width, int Height)
{
    const int penWidth = 1;
    int a = penWidth + FBorder;
    if (a > Height / 2)
        a = Height / 2 - 1;
    const int top = a;
    const int height = Height - 2 * a;
    switch (FStyle) {
    case TNewProgressBarStyle::npsNormal: {
        // Min = Max has no proportion: an empty bar.
        if (FMax <= FMin)
            return {};
        const int pos = std::clamp(FPos, FMin, FMax);
        const int length = MulDiv(pos - FMin, Width - 2 * a, FMax - FMin);
        return length > 0 ? QRect(a, top, length, height) : QRect();
    }
    case TNewProgressBarStyle::npsReverse: {
        if (FProgressCurrent >= Width - FBarWidth - 2) {
            FProgressCurrent = 0;
            FBarFwd = !FBarFwd;
        }
        const int left = FBarFwd ? a + FProgressCurrent : Width - FBarWidth - a - FProgressCurrent;
        return QRect(left, top, FBarWidth, height);
    }
    case TNewProgressBarStyle::npsContinuous: {
        if (FProgressCurrent >= Width + FBarWidth - FBarWidth / 10)
            FProgressCurrent = FBarWidth / 10;
        int left = FProgressCurrent - FBarWidth;
        if (left <= 1)
            left = a;
        const int right = std::min(FProgressCurrent, Width - a);
        return right > left ? QRect(left, top, right - left, height) : QRect();
    }
    }
    return {};
}

TNewProgressBarPaint TNewProgressBarState::Paint(int Width, int Height)
{
    TNewProgressBarPaint paint;
    if (IsVclStyleActive()) {
        paint.Background = StyledColor(TStyleColor::scPanel, BackColor());
        paint.BarColor = StyledColor(TStyleColor::scComboBox, BarColor());
        // A bar in nearly the background's colour would vanish.
        if (ColorDistance(paint.Background, paint.BarColor) < 50)
            paint.BarColor = StyledSystemColor(BarColor());
    } else {
        paint.Background = BackColor();
        paint.BarColor = BarColor();
    }
    if (FTrans)
        paint.Background = StyledSystemColor(FColor);
    paint.FramePen = StyledSystemColor(clBtnShadow);
    paint.Highlight = StyledSystemColor(clBtnHighlight);
    paint.Flat = FFlat;
    paint.Bar = BarRect(Width, Height);
    return paint;
}

} // namespace vl
