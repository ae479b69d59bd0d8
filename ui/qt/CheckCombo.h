// Qt views of the check-box combo and the check group box of
// ui/CheckCombo.h.
#pragma once

#include "ui/CheckCombo.h"

#include <QComboBox>

class QGroupBox;
class QStandardItemModel;

namespace vl {

// A combo box whose list shows a check box per item: a click or the space
// key toggles the item and the list stays open; the closed combo shows the
// logic's DisplayText on the focus or background colour of the logic.
class TCheckComboBoxView : public QComboBox {
public:
    explicit TCheckComboBoxView(TCheckComboBox &AState, QWidget *AParent = nullptr);

    void hidePopup() override;

protected:
    void paintEvent(QPaintEvent *AEvent) override;
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    void FillItems();
    void ShowChecks();

    TCheckComboBox &FState;
    QStandardItemModel *FModel;
};

// A checkable group box: its title is the check box of the state, and
// Qt's checkable group box enables the widgets inside as the logic
// enables their states.
void BindCheckGroupBox(QGroupBox *AGroup, TCheckGroupBox &AState);

} // namespace vl
