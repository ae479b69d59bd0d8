// Qt views of the string-list window (modal list or non-modal status list)
// and of the list popup.
#pragma once

#include "ui/ListWindows.h"
#include "ui/qt/LogicDialog.h"

#include <QFrame>

class QListWidget;

namespace vl {

class TStringListView : public TLogicDialog {
    Q_OBJECT
public:
    explicit TStringListView(TShowStringListDialog &ALogic, QWidget *AParent = nullptr);
    ~TStringListView() override;

    bool Shows(const TShowStringListDialog &ALogic) const { return &FLogic == &ALogic; }
    // Shows the status list non-modally at its corner; it closes and
    // deletes itself when the logic closes it.
    void ShowStatus();
    QListWidget *List() const { return FList; }

private:
    TShowStringListDialog &FLogic;
    QListWidget *FList;
    int FFormObserver = 0;
    bool FStatusWindow = false;
};

// A borderless list that closes on a click or when it loses the focus,
// deleting itself.
class TListSelectPopup : public QFrame {
    Q_OBJECT
public:
    explicit TListSelectPopup(TListSelectDialog &ALogic);
    ~TListSelectPopup() override;

    void Popup(QPoint APos, int AHeight);
    QListWidget *List() const { return FList; }

protected:
    void hideEvent(QHideEvent *AEvent) override;

private:
    TListSelectDialog &FLogic;
    QListWidget *FList;
    int FFormObserver = 0;
};

} // namespace vl
