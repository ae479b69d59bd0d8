#include "ui/qt/Indicators.h"

#include "ui/Styles.h"
#include "ui/qt/QtStyles.h"

#include <QEvent>
#include <QPainter>

namespace vl {

namespace {

constexpr TColor kGrey = 0x808080;
constexpr TColor kSilver = 0xC0C0C0;
constexpr TColor kWhite = 0xFFFFFF;

} // namespace

// ---------------------------------------------------------------------------
// TCustomIndicator

TCustomIndicator::TCustomIndicator(QWidget *AParent) : QWidget(AParent)
{
    resize(16, 16);
}

void TCustomIndicator::SetColorOff(TColor AValue)
{
    FColorOff = AValue;
    update();
}

void TCustomIndicator::SetColorOn(TColor AValue)
{
    FColorOn = AValue;
    update();
}

void TCustomIndicator::SetIndicate(bool AValue)
{
    FIndicate = AValue;
    update();
}

void TCustomIndicator::changeEvent(QEvent *AEvent)
{
    if (AEvent->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(AEvent);
}

// ---------------------------------------------------------------------------
// TSpotIndicator

TSpotIndicator::TSpotIndicator(QWidget *AParent) : TCustomIndicator(AParent)
{
    SetColorOff(kWhite);
    SetColorOn(255);
}

void TSpotIndicator::SetBorder(int AValue)
{
    FBorder = AValue;
    update();
}

void TSpotIndicator::paintEvent(QPaintEvent *)
{
    const QPalette &pal = palette();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF whole = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(ToQColor(kGrey, pal));
    painter.setBrush(ToQColor(kWhite, pal));
    painter.drawEllipse(whole);
    // The lower-right half in silver gives the ring its depth.
    painter.setPen(ToQColor(kSilver, pal));
    painter.drawArc(whole, 225 * 16, 180 * 16);
    painter.setBrush(ToQColor(kWhite, pal));
    painter.drawEllipse(whole.adjusted(1, 1, -1, -1));
    const TColor spot = !isEnabled() ? clBtnFace : Indicate() ? ColorOn() : ColorOff();
    painter.setBrush(ToQColor(spot, pal));
    const qreal inset = FBorder + 1;
    painter.drawEllipse(whole.adjusted(inset, inset, -inset, -inset));
}

// ---------------------------------------------------------------------------
// TLamp

TLamp::TLamp(QWidget *AParent) : TCustomIndicator(AParent)
{
    SetColorOff(kGrey);
    SetColorOn(0x1BBCE4);
    SetIndicate(true);
}

void TLamp::paintEvent(QPaintEvent *)
{
    const QPalette &pal = palette();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ToQColor(kGrey, pal), 0));
    painter.setBrush(ToQColor(LightOn() ? ColorOn() : ColorOff(), pal));
    const int h = height();
    painter.drawEllipse(QRectF(0.5, 0.5, h - 2, h - 2));
}

} // namespace vl
