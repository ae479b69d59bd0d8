// Window placement, DPI scaling and text fitting, without widgets.
//
// Every dialog places itself with these: kept inside the work area of its
// monitor, opened at a screen point, pixel distances scaled from the
// 96-dpi design size. The window system stays outside: the caller passes
// the monitors' work areas, the geometry of controls and a function that
// measures text. Qt already works in device-independent pixels, so a Qt
// view passes its logical work areas with the design DPI (a factor of 1);
// the DPI arguments remain for callers that work in device pixels.
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vl {

// The DPI that dialogs are designed at.
inline constexpr int DesignDpi = 96;

// Number * Numerator / Denominator with a 64-bit intermediate, rounded to
// the nearest integer (halves away from zero); -1 when Denominator is 0 or
// the result does not fit an int.
int MulDiv(int Number, int Numerator, int Denominator);

// One monitor as the caller sees it: its work area (the screen without
// panels and docks) and its DPI.
struct TMonitorArea {
    QRect WorkArea;
    int Dpi = DesignDpi;
};
using TMonitorList = QList<TMonitorArea>;

// Index of the monitor nearest to APoint: the one that contains it, else
// the one whose work area is closest; -1 for an empty list.
int MonitorNearestPoint(const TMonitorList &Monitors, QPoint APoint);

// Value * Dpi / 96 (MulDiv rounding).
int ScaleToMonitorDpi(int Value, const TMonitorArea &Monitor);
// Value * FormDpi / 96, FormDpi being the DPI of the monitor that shows
// the form; Qt views pass DesignDpi.
int ScaleToFormDpi(int Value, int FormDpi = DesignDpi);
QPoint ScalePointToFormDpi(int X, int Y, int FormDpi = DesignDpi);
QPoint ScalePointToFormDpi(QPoint P, int FormDpi = DesignDpi);

// Pictures are rescaled only from 120 % on (ToDpi * 100 / FromDpi >= 120),
// so small DPI steps keep them sharp.
bool IsRescaleNeeded(int FromDpi, int ToDpi);
// The size a glyph, picture or image list gets: Size * ToDpi / FromDpi
// when IsRescaleNeeded, else Size unchanged.
QSize RescaledImageSize(QSize Size, int FromDpi, int ToDpi);
// Item height of an owner-drawn combo box: ItemHeight * ToDpi / FromDpi,
// with no threshold.
int RescaledItemHeight(int ItemHeight, int FromDpi, int ToDpi);

// Moves a window of Width x Height at (Left, Top) into the work area of
// the monitor nearest to (Left, Top), with margins of 20 px (left, top,
// right) and 30 px (bottom) scaled to that monitor's DPI. Right edge,
// left edge, bottom edge and top edge are checked in this order, so a
// window larger than the work area ends at the left or top margin.
// Nothing moves when there is no monitor.
void KeepInWorkArea(const TMonitorList &Monitors, int &Left, int &Top, int Width, int Height);
// KeepInWorkArea for a window's outer frame; returns its new top-left.
QPoint KeepFormInWorkArea(const TMonitorList &Monitors, const QRect &Frame);
// Where a form of FormSize opens for the screen point APos: no value when
// a coordinate of APos is negative (the form centres itself on the main
// window), else APos (with Above, the form's bottom at APos.y) kept in the
// work area.
std::optional<QPoint> PlaceFormAt(const TMonitorList &Monitors, QSize FormSize, QPoint APos,
                                  bool Above);

// A control as placement sees it: its geometry in its parent's client
// coordinates and the screen position of that client area (no value: the
// control has no parent and its geometry counts as screen coordinates).
struct TControlGeometry {
    QRect Bounds;
    std::optional<QPoint> ParentClientOrigin;
};

// Corners of a control in screen coordinates, plus an offset. Right and
// bottom corners lie just outside the control (Left + Width, Top + Height).
QPoint ControlTopLeft(const TControlGeometry &Control);
QPoint ControlTopLeftOffset(const TControlGeometry &Control, QPoint Offset);
QPoint ControlBottomLeft(const TControlGeometry &Control);
QPoint ControlBottomLeftOffset(const TControlGeometry &Control, QPoint Offset);
QPoint ControlBottomLeftOffsetXY(const TControlGeometry &Control, int X, int Y);
QPoint ControlTopRight(const TControlGeometry &Control);
QPoint ControlTopRightOffset(const TControlGeometry &Control, QPoint Offset);
QPoint ControlTopRightOffsetXY(const TControlGeometry &Control, int X, int Y);
QPoint ControlBottomRight(const TControlGeometry &Control);
QPoint ControlBottomRightOffset(const TControlGeometry &Control, QPoint Offset);

// Pixel width of a one-line text in some font; the view measures with
// QFontMetrics.
using TTextWidthFunc = std::function<int(const QString &Text)>;

// Lines of a text separated by CR LF: 1 + the number of CR LF pairs (a
// text ending in CR LF has an empty last line).
int CountTextLines(const QString &Text);
// Width of the widest CR LF-separated line.
int MultiLineTextWidth(const QString &Text, const TTextWidthFunc &TextWidth);
// Width of the widest entry; 0 for an empty list.
int StringsMaxTextWidth(const QStringList &Strings, const TTextWidthFunc &TextWidth);
// Widest line by the line height times CountTextLines.
QSize MultiLineTextSize(const QString &Text, const TTextWidthFunc &TextWidth, int LineHeight);
// Fits Text into MaxWidth by cutting characters off its end and appending
// "...". Texts of at most 3 characters and texts that fit come back
// unchanged; when even the first 3 characters with "..." are MaxWidth or
// wider, the result is exactly those.
QString ShortenTextToWidth(const QString &Text, int MaxWidth, const TTextWidthFunc &TextWidth);

// Filter is a file dialog filter of "|"-separated description and mask
// pairs. Returns the 1-based number of the first pair whose mask contains
// Text (case-insensitive), else the number of pairs.
int FilterIndexOfMask(const QString &Filter, const QString &Text);

} // namespace vl
