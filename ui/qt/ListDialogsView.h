// Qt views of the select-from-list and check-list dialogs.
#pragma once

#include "ui/ListDialogs.h"
#include "ui/qt/LogicDialog.h"

class QListWidget;

namespace vl {

class TSelectFromListView : public TLogicDialog {
public:
    explicit TSelectFromListView(TSelectFromListDialog &ALogic, QWidget *AParent = nullptr);
    QListWidget *List() const { return FList; }

private:
    QListWidget *FList;
};

class TSelectListItemsView : public TLogicDialog {
public:
    explicit TSelectListItemsView(TSelectListItemsDialog &ALogic, QWidget *AParent = nullptr);
    QListWidget *List() const { return FList; }

private:
    QListWidget *FList;
};

} // namespace vl
