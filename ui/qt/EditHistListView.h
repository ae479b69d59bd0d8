// Qt view of the dialog that edits a history list.
#pragma once

#include "ui/EditHistList.h"
#include "ui/qt/LogicDialog.h"

class QListWidget;

namespace vl {

class TEditHistListView : public TLogicDialog {
public:
    explicit TEditHistListView(TEditHistListDialog &ALogic, QWidget *AParent = nullptr);
    QListWidget *List() const { return FList; }

private:
    QListWidget *FList;
};

} // namespace vl
