// Base of the Qt views of modal dialogs whose logic is a TDialogLogic
// (ui/DialogLogic.h): ends the modal loop when the logic closes the
// dialog, reports Esc and the close box as Cancel, tells the logic where
// its controls and the mouse are, and shows the focused control's hint
// with F11.
#pragma once

#include "ui/DialogLogic.h"

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>
#include <QStyle>
#include <QHash>
#include <QPointer>

namespace vl {

class TLogicDialog : public QDialog {
public:
    TLogicDialog(TDialogLogic &ALogic, QWidget *AParent = nullptr);
    ~TLogicDialog() override;

    // Places the dialog at the logic's Position and runs it modally.
    void Run();
    // Esc and the close box: the logic's Cancel.
    void reject() override;

protected:
    // AWidget shows AControl: boxes opened next to the control use its
    // place on the screen.
    void Register(QWidget *AWidget, const TControlState &AControl);
    // A push button with a standard glyph, bound to AState and registered;
    // never the default button by itself (Enter is the dialog's OK).
    QPushButton *GlyphButton(const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph);
    // The right-aligned row of OK (the default button) and Cancel, named
    // "OKBtn" and "CancelBtn", appended to ALayout.
    void AddOkCancelRow(QBoxLayout *ALayout, TButtonState &AOk, TButtonState &ACancel);

private:
    TDialogLogic &FLogic;
    QHash<const TControlState *, QPointer<QWidget>> FWidgets;
};

} // namespace vl
