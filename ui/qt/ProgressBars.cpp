#include "ui/qt/ProgressBars.h"

#include "ui/qt/QtStyles.h"

#include <QPainter>
#include <QPolygon>

namespace vl {

// ---------------------------------------------------------------------------
// TCustomProgress

TCustomProgress::TCustomProgress(QWidget *AParent)
    : TCustomProgress(*new TCustomProgressState, AParent)
{
    FOwnState.reset(FState);
}

TCustomProgress::TCustomProgress(TCustomProgressState &AState, QWidget *AParent)
    : QWidget(AParent), FState(&AState), FSubscription(AState.Subscribe([this] { update(); }))
{
}

TCustomProgress::~TCustomProgress()
{
    FState->Unsubscribe(FSubscription);
}

void TCustomProgress::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette &pal = palette();
    painter.fillRect(rect(), ToQColor(FState->BackColor(), pal));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ToQColor(FState->BarColor(), pal));
    for (const auto &stripe : FState->Stripes(width(), height()))
        painter.drawPolygon(QPolygon({stripe[0], stripe[1], stripe[2], stripe[3]}));
}

// ---------------------------------------------------------------------------
// TNewProgressBar

TNewProgressBar::TNewProgressBar(QWidget *AParent) : TNewProgressBar(*new TNewProgressBarState, AParent)
{
    FOwnState.reset(FState);
}

TNewProgressBar::TNewProgressBar(TNewProgressBarState &AState, QWidget *AParent)
    : QWidget(AParent), FState(&AState), FSubscription(AState.Subscribe([this] { update(); }))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

TNewProgressBar::~TNewProgressBar()
{
    FState->Unsubscribe(FSubscription);
}

void TNewProgressBar::paintEvent(QPaintEvent *)
{
    const TNewProgressBarPaint paint = FState->Paint(width(), height());
    const QPalette &pal = palette();
    QPainter painter(this);
    // The frame: background brush, shadow pen, one pixel inside the
    // control as a rectangle of Windows-style exclusive corners.
    painter.setPen(QPen(ToQColor(paint.FramePen, pal), 1));
    painter.setBrush(ToQColor(paint.Background, pal));
    painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
    if (!paint.Flat) {
        painter.setPen(QPen(ToQColor(paint.Highlight, pal), 1));
        painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
        painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    }
    if (!paint.Bar.isEmpty())
        painter.fillRect(paint.Bar, ToQColor(paint.BarColor, pal));
}

} // namespace vl
