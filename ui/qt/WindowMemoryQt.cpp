#include "ui/qt/WindowMemoryQt.h"

#include "ui/qt/QtStyles.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTextCursor>
#include <QWidget>

namespace vl {

bool TWidgetFormPlacement::Visible() const
{
    return FForm->isVisible();
}

QPoint TWidgetFormPlacement::Pos() const
{
    return FForm->pos();
}

void TWidgetFormPlacement::SetPos(QPoint APos)
{
    FForm->move(APos);
}

QSize TWidgetFormPlacement::ClientSize() const
{
    return FForm->size();
}

void TWidgetFormPlacement::SetClientSize(QSize ASize)
{
    FForm->resize(ASize);
}

void RestoreFormPos(TFormPos &Pos, QWidget *AForm)
{
    TWidgetFormPlacement form(AForm);
    RestoreFormPos(Pos, form, CurrentMonitors());
}

void StoreFormPos(TFormPos &Pos, QWidget *AForm)
{
    const TWidgetFormPlacement form(AForm);
    StoreFormPos(Pos, form, int(QGuiApplication::screens().size()));
}

namespace {

const char *const kNoHintProperty = "vlNoHint";

// Swallows the tool tips of widgets marked with kNoHintProperty.
class THintFilter : public QObject {
protected:
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override
    {
        if (AEvent->type() == QEvent::ToolTip && AWatched->property(kNoHintProperty).toBool())
            return true;
        return QObject::eventFilter(AWatched, AEvent);
    }
};

} // namespace

void SetShowHintRecursive(QWidget *AControl, bool AValue)
{
    // Goes with the application object; a later one gets its own.
    static QPointer<THintFilter> filter;
    if (!filter && qApp) {
        filter = new THintFilter;
        filter->setParent(qApp);
        qApp->installEventFilter(filter);
    }
    for (QWidget *child : AControl->findChildren<QWidget *>())
        child->setProperty(kNoHintProperty, !AValue);
}

void AppendToEdit(QLineEdit *AEdit, const QString &AText)
{
    AEdit->setText(AEdit->text() + AText);
    AEdit->setFocus();
    AEdit->deselect();
    AEdit->setCursorPosition(int(AEdit->text().size()));
}

void AppendToEdit(QPlainTextEdit *AEdit, const QString &AText)
{
    AEdit->setPlainText(AEdit->toPlainText() + AText);
    AEdit->setFocus();
    QTextCursor cursor = AEdit->textCursor();
    cursor.movePosition(QTextCursor::End);
    AEdit->setTextCursor(cursor);
}

QStringList FileDialogNameFilters(const TFileTypeItems &AItems)
{
    QStringList filters;
    for (const TFileTypeItem &item : AItems) {
        QString masks = item.FileMask;
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(item.DisplayName, masks);
    }
    return filters;
}

void InstallQtHelpViewer()
{
    SetHelpOpener([](const QUrl &AUrl) { return QDesktopServices::openUrl(AUrl); });
}

} // namespace vl
