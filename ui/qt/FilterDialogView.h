// Qt view of the text filter dialog.
#pragma once

#include "ui/FilterDialog.h"
#include "ui/qt/LogicDialog.h"

#include <QHash>

class QComboBox;

namespace vl {

class TFilterDialogView : public TLogicDialog {
public:
    explicit TFilterDialogView(TFilterDialog &ALogic, QWidget *AParent = nullptr);
    ~TFilterDialogView() override;

    QComboBox *FilterBox() const { return FFilter; }

protected:
    void showEvent(QShowEvent *AEvent) override;

private:
    TFilterDialog &FLogic;
    QComboBox *FFilter;
    QHash<const TControlState *, QWidget *> FWidgets;
};

} // namespace vl
