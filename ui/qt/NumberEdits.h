// Qt views of the number edits and spin buttons of ui/NumberEdits.h.
#pragma once

#include "ui/NumberEdits.h"

#include <QWidget>

class QLineEdit;

namespace vl {

// Binds a line edit to a number edit: BindEdit, plus typed characters
// checked by the logic (a refused key beeps and goes nowhere), the value
// taken at every key release, and the text normalised when the focus
// moves to another control. A range or conversion error then shows its
// message in an error box and the focus returns to the edit.
void BindNumberEdit(QLineEdit *AEdit, TCustomNumEdit &AState);

// The up and down arrows of a TNumUpDown: 16 pixels wide, as high as
// the edit beside it.
class TNumUpDownView : public QWidget {
public:
    explicit TNumUpDownView(TNumUpDown &AState, QWidget *AParent = nullptr);

    TNumUpDown &State() const { return FState; }
    QSize sizeHint() const override { return {16, 21}; }

protected:
    void paintEvent(QPaintEvent *AEvent) override;
    void mousePressEvent(QMouseEvent *AEvent) override;
    void mouseReleaseEvent(QMouseEvent *AEvent) override;
    void keyPressEvent(QKeyEvent *AEvent) override;

private:
    TNumUpDown &FState;
};

// A row of AEdit and its spin buttons on the side the state names (and
// moved when that changes); the buttons get the edit's height.
QWidget *NumEditWithSpin(QWidget *AParent, QLineEdit *AEdit, TNumUpDownView *ASpin);

} // namespace vl
