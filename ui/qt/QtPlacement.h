// Window placement for Qt widgets: the functions of ui/Placement.h applied
// to real windows and the real screens. Qt already scales to the screen's
// DPI, so widget sizes are design sizes and the DPI factor is 1; glyph and
// picture rescaling has nothing to do.
#pragma once

#include "ui/Placement.h"

#include <QFont>
#include <QPoint>
#include <QStringList>

class QAbstractButton;
class QWidget;

namespace vl {

// The geometry placement sees of a widget.
TControlGeometry WidgetGeometry(const QWidget *AWidget);

// Moves a top-level window into the work area of the nearest screen.
void KeepFormInWorkArea(QWidget *AForm);
// Opens AForm at the screen point APos (with Above, just above it), kept in
// the work area; a negative coordinate centres it on its parent window (or
// on the active window, or the primary screen).
void PlaceFormAt(QWidget *AForm, QPoint APos, bool Above = false);
// Centres AForm on its parent, the active window or the primary screen.
void CenterOnMainWindow(QWidget *AForm);

QPoint CursorPosition();
QPoint CursorPositionOffset(QPoint Offset);

// Text widths in a font.
int FontTextWidth(const QString &Text, const QFont &AFont);
int MultiLineFontTextWidth(const QString &Text, const QFont &AFont);
int StringsMaxTextWidth(const QStringList &Strings, const QFont &AFont);
QSize MultiLineTextSize(const QString &Text, const QFont &AFont);
QString ShortenTextToWidth(const QString &Text, int MaxWidth, const QFont &AFont);

// Static texts and read-only edits take part in the tab order while a
// screen reader runs (AValue), so it can read them.
void SetReadOnlyTabStops(QWidget *AParent, bool AValue);
// Client size (width) to the button's right (and bottom) edge plus Margin.
void FitClientToButton(QWidget *AForm, const QAbstractButton *AButton, int Margin);
void FitClientWidthToButton(QWidget *AForm, const QAbstractButton *AButton, int Margin);

} // namespace vl
