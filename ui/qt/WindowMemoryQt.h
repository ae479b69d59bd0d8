// Window position memory, help display and control helpers of
// ui/WindowMemory.h for Qt widgets.
#pragma once

#include "ui/WindowMemory.h"

#include <QStringList>

class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace vl {

// A top-level widget as the position memory sees it.
class TWidgetFormPlacement : public IFormPlacement {
public:
    explicit TWidgetFormPlacement(QWidget *AForm) : FForm(AForm) {}
    bool Visible() const override;
    QPoint Pos() const override;
    void SetPos(QPoint APos) override;
    QSize ClientSize() const override;
    void SetClientSize(QSize ASize) override;

private:
    QWidget *FForm;
};

// On the current screens. Qt sizes are independent of the screens' DPI:
// they count as DesignDpi, which is what Pos.dpi should hold.
void RestoreFormPos(TFormPos &Pos, QWidget *AForm);
void StoreFormPos(TFormPos &Pos, QWidget *AForm);

// Tool tips of every widget below AControl (not of AControl itself) are
// shown (AValue) or suppressed.
void SetShowHintRecursive(QWidget *AControl, bool AValue);

// Appends AText, focuses the edit and puts the caret at the end.
void AppendToEdit(QLineEdit *AEdit, const QString &AText);
void AppendToEdit(QPlainTextEdit *AEdit, const QString &AText);

// Name filters of a QFileDialog: "name (mask mask ...)".
QStringList FileDialogNameFilters(const TFileTypeItems &AItems);

// Help pages open in the desktop's browser (at start, with a display).
void InstallQtHelpViewer();

} // namespace vl
