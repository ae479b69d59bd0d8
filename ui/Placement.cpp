#include "ui/Placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace vl {

namespace {

const QString Ellipsis = QStringLiteral("...");
const QString LineBreak = QStringLiteral("\r\n");

// Squared distance from P to the nearest pixel of R.
qint64 DistanceSquared(const QRect &R, QPoint P)
{
    const qint64 dx = P.x() < R.left() ? R.left() - P.x() : (P.x() > R.right() ? P.x() - R.right() : 0);
    const qint64 dy = P.y() < R.top() ? R.top() - P.y() : (P.y() > R.bottom() ? P.y() - R.bottom() : 0);
    return dx * dx + dy * dy;
}

// The first N characters, not ending inside a surrogate pair.
QString HeadOf(const QString &Text, qsizetype N)
{
    if (N > 0 && N < Text.size() && Text.at(N - 1).isHighSurrogate())
        --N;
    return Text.left(N);
}

QPoint ToScreen(const TControlGeometry &Control, QPoint P)
{
    return Control.ParentClientOrigin ? P + *Control.ParentClientOrigin : P;
}

QPoint TopLeftOf(const QRect &R) { return R.topLeft(); }
QPoint BottomLeftOf(const QRect &R) { return {R.x(), R.y() + R.height()}; }
QPoint TopRightOf(const QRect &R) { return {R.x() + R.width(), R.y()}; }
QPoint BottomRightOf(const QRect &R) { return {R.x() + R.width(), R.y() + R.height()}; }

} // namespace

int MulDiv(int Number, int Numerator, int Denominator)
{
    if (Denominator == 0)
        return -1;
    const int64_t product = int64_t(Number) * Numerator;
    const int64_t divisor = Denominator < 0 ? -int64_t(Denominator) : int64_t(Denominator);
    const int64_t magnitude = product < 0 ? -product : product;
    // Round half away from zero.
    const int64_t quotient = (magnitude + divisor / 2) / divisor;
    const int64_t result = (product < 0) != (Denominator < 0) ? -quotient : quotient;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return -1;
    return int(result);
}

int MonitorNearestPoint(const TMonitorList &Monitors, QPoint APoint)
{
    int best = -1;
    qint64 bestDistance = 0;
    for (int i = 0; i < Monitors.size(); ++i) {
        const qint64 d = DistanceSquared(Monitors[i].WorkArea, APoint);
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

int ScaleToMonitorDpi(int Value, const TMonitorArea &Monitor)
{
    return MulDiv(Value, Monitor.Dpi, DesignDpi);
}

int ScaleToFormDpi(int Value, int FormDpi)
{
    return MulDiv(Value, FormDpi, DesignDpi);
}

QPoint ScalePointToFormDpi(int X, int Y, int FormDpi)
{
    return {ScaleToFormDpi(X, FormDpi), ScaleToFormDpi(Y, FormDpi)};
}

QPoint ScalePointToFormDpi(QPoint P, int FormDpi)
{
    return ScalePointToFormDpi(P.x(), P.y(), FormDpi);
}

bool IsRescaleNeeded(int FromDpi, int ToDpi)
{
    // A DPI of 0 or less is no DPI: nothing to rescale.
    return FromDpi > 0 && ToDpi > 0 && int64_t(ToDpi) * 100 / FromDpi >= 120;
}

QSize RescaledImageSize(QSize Size, int FromDpi, int ToDpi)
{
    if (!IsRescaleNeeded(FromDpi, ToDpi))
        return Size;
    return {MulDiv(Size.width(), ToDpi, FromDpi), MulDiv(Size.height(), ToDpi, FromDpi)};
}

int RescaledItemHeight(int ItemHeight, int FromDpi, int ToDpi)
{
    if (FromDpi <= 0 || ToDpi <= 0)
        return ItemHeight;
    return MulDiv(ItemHeight, ToDpi, FromDpi);
}

void KeepInWorkArea(const TMonitorList &Monitors, int &Left, int &Top, int Width, int Height)
{
    const int index = MonitorNearestPoint(Monitors, QPoint(Left, Top));
    if (index < 0)
        return;
    const TMonitorArea &monitor = Monitors[index];
    const QRect &area = monitor.WorkArea;
    const int m20 = ScaleToMonitorDpi(20, monitor);
    const int m30 = ScaleToMonitorDpi(30, monitor);
    // Edges are exclusive: a window of the work area's full width fits.
    const int areaRight = area.x() + area.width();
    const int areaBottom = area.y() + area.height();
    if (Left + Width > areaRight)
        Left = areaRight - Width - m20;
    if (Left < area.left())
        Left = area.left() + m20;
    if (Top + Height > areaBottom)
        Top = areaBottom - Height - m30;
    if (Top < area.top())
        Top = area.top() + m20;
}

QPoint KeepFormInWorkArea(const TMonitorList &Monitors, const QRect &Frame)
{
    int left = Frame.x();
    int top = Frame.y();
    KeepInWorkArea(Monitors, left, top, Frame.width(), Frame.height());
    return {left, top};
}

std::optional<QPoint> PlaceFormAt(const TMonitorList &Monitors, QSize FormSize, QPoint APos,
                                  bool Above)
{
    if (APos.x() < 0 || APos.y() < 0)
        return std::nullopt;
    int left = APos.x();
    int top = Above ? APos.y() - FormSize.height() : APos.y();
    KeepInWorkArea(Monitors, left, top, FormSize.width(), FormSize.height());
    return QPoint(left, top);
}

QPoint ControlTopLeft(const TControlGeometry &Control)
{
    return ToScreen(Control, TopLeftOf(Control.Bounds));
}

QPoint ControlTopLeftOffset(const TControlGeometry &Control, QPoint Offset)
{
    return ControlTopLeft(Control) + Offset;
}

QPoint ControlBottomLeft(const TControlGeometry &Control)
{
    return ToScreen(Control, BottomLeftOf(Control.Bounds));
}

QPoint ControlBottomLeftOffset(const TControlGeometry &Control, QPoint Offset)
{
    return ControlBottomLeft(Control) + Offset;
}

QPoint ControlBottomLeftOffsetXY(const TControlGeometry &Control, int X, int Y)
{
    return ControlBottomLeftOffset(Control, QPoint(X, Y));
}

QPoint ControlTopRight(const TControlGeometry &Control)
{
    return ToScreen(Control, TopRightOf(Control.Bounds));
}

QPoint ControlTopRightOffset(const TControlGeometry &Control, QPoint Offset)
{
    return ControlTopRight(Control) + Offset;
}

QPoint ControlTopRightOffsetXY(const TControlGeometry &Control, int X, int Y)
{
    return ControlTopRightOffset(Control, QPoint(X, Y));
}

QPoint ControlBottomRight(const TControlGeometry &Control)
{
    return ToScreen(Control, BottomRightOf(Control.Bounds));
}

QPoint ControlBottomRightOffset(const TControlGeometry &Control, QPoint Offset)
{
    return ControlBottomRight(Control) + Offset;
}

int CountTextLines(const QString &Text)
{
    return 1 + int(Text.count(LineBreak));
}

int MultiLineTextWidth(const QString &Text, const TTextWidthFunc &TextWidth)
{
    int widest = 0;
    for (const QString &line : Text.split(LineBreak))
        widest = std::max(widest, TextWidth(line));
    return widest;
}

int StringsMaxTextWidth(const QStringList &Strings, const TTextWidthFunc &TextWidth)
{
    int widest = 0;
    for (const QString &s : Strings)
        widest = std::max(widest, TextWidth(s));
    return widest;
}

QSize MultiLineTextSize(const QString &Text, const TTextWidthFunc &TextWidth, int LineHeight)
{
    return {MultiLineTextWidth(Text, TextWidth), LineHeight * CountTextLines(Text)};
}

QString ShortenTextToWidth(const QString &Text, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    if (Text.size() <= 3)
        return Text;
    const QString shortest = HeadOf(Text, 3) + Ellipsis;
    if (TextWidth(shortest) >= MaxWidth)
        return shortest;
    if (TextWidth(Text) <= MaxWidth)
        return Text;
    // Ends at 3 characters at the latest, since those fit with "...".
    QString s = Text;
    do
        s = HeadOf(s, s.size() - 1);
    while (s.size() > 3 && TextWidth(s + Ellipsis) > MaxWidth);
    return s + Ellipsis;
}

int FilterIndexOfMask(const QString &Filter, const QString &Text)
{
    const QStringList parts = Filter.split(QLatin1Char('|'));
    const int pairs = int(parts.size() / 2);
    for (int i = 0; i < pairs; ++i) {
        if (parts[2 * i + 1].contains(Text, Qt::CaseInsensitive))
            return i + 1;
    }
    return pairs;
}

} // namespace vl
