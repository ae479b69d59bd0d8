// The status window: a small non-modal window that shows what a longer
// step outside a run display is doing - a title, a status line, an
// information line, an optional bar and an optional Cancel button.
//
// One object for the program's life. Callers open it with ShowStatus,
// update its lines and bar, poll Stopped between steps and close it.
// Without a view (headless, tests) it keeps the same state and shows
// nothing.
#pragma once

#include "core/WindowServices.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// Fits a path into MaxWidth with "..." in its middle: folders after the
// first one give way from the left ("/home/.../b/name"), then the first
// one (".../name"); a name that still does not fit, or a text without
// folders, loses characters in its middle. Fitting texts come back as
// they are.
QString MinimizePath(const QString &Path, int MaxWidth, const TTextWidthFunc &TextWidth);
// Removes characters from the middle of Text, keeping its start and end
// around "...", until it fits MaxWidth (at worst "...").
QString ElideTextMiddle(const QString &Text, int MaxWidth, const TTextWidthFunc &TextWidth);

// What the status window's view does for the logic.
class IStatusView {
public:
    virtual ~IStatusView() = default;
    // Places the hidden window for APos (a negative coordinate centres it
    // on the main window) and shows it.
    virtual void ShowAt(QPoint APos) = 0;
    // Paints what changed now: the caller keeps working without returning
    // to the event loop.
    virtual void Repaint() = 0;
    virtual void Hide() = 0;
    // Room for the status and information lines (the bar's width) and the
    // width of a text in the labels' font.
    virtual int TextAreaWidth() const = 0;
    virtual int TextWidth(const QString &AText) const = 0;
};

class TStatusWindow : public IStatusWindow {
public:
    // The bar across the window.
    class TBarState : public TControlState {
    public:
        TNewProgressBarStyle Style() const { return FStyle; }
        void SetStyle(TNewProgressBarStyle AValue);
        int Position() const { return FPosition; }
        // Clamped to Min..Max.
        void SetPosition(int AValue);
        int Min() const { return FMin; }
        int Max() const { return FMax; }
        // Milliseconds between two steps of a moving bar.
        int StepInterval() const { return FStepInterval; }
        void SetStepInterval(int AValue);
        // Called after every change of style, position or interval.
        std::function<void()> OnChange;

    private:
        void Changed();

        TNewProgressBarStyle FStyle = TNewProgressBarStyle::npsNormal;
        int FPosition = 0;
        int FMin = 0;
        int FMax = 100;
        int FStepInterval = 10;
    };

    TStatusWindow();
    ~TStatusWindow() override;

    // The window itself: its Caption is the title.
    TControlState Form;
    TControlState StatusLabel;
    TControlState ProgLabel;
    TBarState ProgressBar;
    // Its visibility decides whether the window has a button row.
    TButtonState btnCancel;

    // The view shows the window from now on; the window owns it.
    void SetView(std::unique_ptr<IStatusView> AView);
    IStatusView *View() const { return FView.get(); }

    void ShowStatus(QPoint APos, const QString &Titel, const QString &Stat, bool AllowBreak,
                    int32_t AInterval) override;
    // The status line, shortened as a path to the bar's width.
    void SetStatus(const QString &AValue) override;
    // The information line, shortened the same way.
    void SetInfo(const QString &AValue) override;
    void SetProgress(int32_t AValue) override;
    bool Stopped() const override { return FStopped; }
    bool Visible() const override { return FVisible; }
    void Close() override;

    // The view's keys: Escape presses Cancel while it is shown; true when
    // it did.
    bool KeyEscape();
    // The window was closed by the window system.
    void UserClosed();

private:
    QString Fit(const QString &AText) const;

    bool FStopped = false;
    bool FVisible = false;
    // Last, so the view (and its bindings) go before the states.
    std::unique_ptr<IStatusView> FView;
};

} // namespace vl
