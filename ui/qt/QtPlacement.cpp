#include "ui/qt/QtPlacement.h"

#include "ui/qt/QtStyles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <QWidget>

namespace vl {

namespace {

TTextWidthFunc WidthIn(const QFont &AFont)
{
    return [metrics = QFontMetrics(AFont)](const QString &text) { return metrics.horizontalAdvance(text); };
}

} // namespace

TControlGeometry WidgetGeometry(const QWidget *AWidget)
{
    TControlGeometry geometry;
    geometry.Bounds = AWidget->geometry();
    if (!AWidget->isWindow() && AWidget->parentWidget())
        geometry.ParentClientOrigin = AWidget->parentWidget()->mapToGlobal(QPoint(0, 0));
    else
        geometry.Bounds = AWidget->frameGeometry();
    return geometry;
}

void KeepFormInWorkArea(QWidget *AForm)
{
    AForm->move(KeepFormInWorkArea(CurrentMonitors(), AForm->frameGeometry()));
}

void CenterOnMainWindow(QWidget *AForm)
{
    const QWidget *anchor = AForm->parentWidget() ? AForm->parentWidget()->window() : QApplication::activeWindow();
    if (anchor == AForm)
        anchor = nullptr;
    QRect area;
    if (anchor && anchor->isVisible())
        area = anchor->frameGeometry();
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    const QSize size = AForm->frameGeometry().size();
    AForm->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}

void PlaceFormAt(QWidget *AForm, QPoint APos, bool Above)
{
    // A window that was given a size (a remembered one) keeps it.
    if (!AForm->testAttribute(Qt::WA_Resized))
        AForm->adjustSize();
    const std::optional<QPoint> place = PlaceFormAt(CurrentMonitors(), AForm->frameGeometry().size(), APos, Above);
    if (place)
        AForm->move(*place);
    else
        CenterOnMainWindow(AForm);
}

QPoint CursorPosition()
{
    return QCursor::pos();
}

QPoint CursorPositionOffset(QPoint Offset)
{
    return QCursor::pos() + Offset;
}

int FontTextWidth(const QString &Text, const QFont &AFont)
{
    return QFontMetrics(AFont).horizontalAdvance(Text);
}

int MultiLineFontTextWidth(const QString &Text, const QFont &AFont)
{
    return MultiLineTextWidth(Text, WidthIn(AFont));
}

int StringsMaxTextWidth(const QStringList &Strings, const QFont &AFont)
{
    return StringsMaxTextWidth(Strings, WidthIn(AFont));
}

QSize MultiLineTextSize(const QString &Text, const QFont &AFont)
{
    const QFontMetrics metrics(AFont);
    return MultiLineTextSize(Text, WidthIn(AFont), metrics.boundingRect(QStringLiteral("X")).height());
}

QString ShortenTextToWidth(const QString &Text, int MaxWidth, const QFont &AFont)
{
    return ShortenTextToWidth(Text, MaxWidth, WidthIn(AFont));
}

void SetReadOnlyTabStops(QWidget *AParent, bool AValue)
{
    const Qt::FocusPolicy policy = AValue ? Qt::TabFocus : Qt::NoFocus;
    for (QLabel *label : AParent->findChildren<QLabel *>())
        label->setFocusPolicy(policy);
    for (QLineEdit *edit : AParent->findChildren<QLineEdit *>())
        if (edit->isReadOnly())
            edit->setFocusPolicy(AValue ? Qt::StrongFocus : Qt::NoFocus);
}

void FitClientToButton(QWidget *AForm, const QAbstractButton *AButton, int Margin)
{
    const QRect r = AButton->geometry();
    AForm->resize(r.right() + 1 + Margin, r.bottom() + 1 + Margin);
}

void FitClientWidthToButton(QWidget *AForm, const QAbstractButton *AButton, int Margin)
{
    AForm->resize(AButton->geometry().right() + 1 + Margin, AForm->height());
}

} // namespace vl
