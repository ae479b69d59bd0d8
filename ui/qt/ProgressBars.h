// The self-painting progress controls: TCustomProgress, a striped
// animation, and TNewProgressBar, the flat bar of the progress and status
// windows. Each paints the state object of ui/ProgressBars.h it is given
// (or one of its own) and repaints when that state changes.
#pragma once

#include "ui/ProgressBars.h"

#include <QWidget>

#include <memory>

namespace vl {

class TCustomProgress : public QWidget {
    Q_OBJECT
public:
    explicit TCustomProgress(QWidget *AParent = nullptr);
    // Paints AState, which must outlive the widget.
    explicit TCustomProgress(TCustomProgressState &AState, QWidget *AParent = nullptr);
    ~TCustomProgress() override;

    TCustomProgressState &State() { return *FState; }
    QSize sizeHint() const override { return {150, 14}; }

protected:
    void paintEvent(QPaintEvent *AEvent) override;

private:
    std::unique_ptr<TCustomProgressState> FOwnState;
    TCustomProgressState *FState;
    int FSubscription;
};

class TNewProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit TNewProgressBar(QWidget *AParent = nullptr);
    // Paints AState, which must outlive the widget.
    explicit TNewProgressBar(TNewProgressBarState &AState, QWidget *AParent = nullptr);
    ~TNewProgressBar() override;

    TNewProgressBarState &State() { return *FState; }
    QSize sizeHint() const override { return {151, 11}; }
    QSize minimumSizeHint() const override { return {20, 6}; }

protected:
    void paintEvent(QPaintEvent *AEvent) override;

private:
    std::unique_ptr<TNewProgressBarState> FOwnState;
    TNewProgressBarState *FState;
    int FSubscription;
};

} // namespace vl
