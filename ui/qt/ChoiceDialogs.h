// Qt views of the choice dialog, and the Qt IListDialogViews that shows
// every list, choice and history dialog of ui/ on the screen.
#pragma once

#include "ui/ChoiceDialogs.h"
#include "ui/ListDialogViews.h"
#include "ui/qt/LogicDialog.h"

#include <QList>

#include <memory>

class QPushButton;
class QCheckBox;
class QLabel;

namespace vl {

class TSelectDialogView : public TLogicDialog {
public:
    explicit TSelectDialogView(TSelectDialog &ALogic, QWidget *AParent = nullptr);

    QList<QPushButton *> Buttons() const { return FButtons; }
    QCheckBox *OptionBox() const { return FOption; }

private:
    TSelectDialog &FLogic;
    QList<QPushButton *> FButtons;
    QCheckBox *FOption = nullptr;
};

// The views a GUI program installs at start with SetListDialogViews
// (ui/ListDialogViews.h); uninstall them before destroying them. Windows
// still open (a status list) close with them.
std::unique_ptr<IListDialogViews> CreateQtListDialogViews();

} // namespace vl
