// How the list, choice and history dialogs reach the screen.
//
// The dialogs' logic lives in ui/ and never blocks; showing them is the
// job of an IListDialogViews. A GUI program installs the Qt one at start
// (CreateQtListDialogViews in ui/qt/ChoiceDialogs.h); without it nothing is
// shown: modal dialogs end as if cancelled, popups and status lists stay
// invisible, and a question asked that way is written to the service log.
#pragma once

#include <QPoint>
#include <QString>

namespace vl {

class TSelectDialog;
class TSelectFromListDialog;
class TSelectListItemsDialog;
class TEditHistListDialog;
class TShowStringListDialog;
class TListSelectDialog;

class IListDialogViews {
public:
    virtual ~IListDialogViews() = default;

    // Modal dialogs: return when the window is closed; the outcome is in
    // the logic object (its ModalResult, the choice made).
    virtual void ExecuteSelectDialog(TSelectDialog &ADialog) = 0;
    virtual void ExecuteSelectFromList(TSelectFromListDialog &ADialog) = 0;
    virtual void ExecuteSelectListItems(TSelectListItemsDialog &ADialog) = 0;
    virtual void ExecuteEditHistList(TEditHistListDialog &ADialog) = 0;
    virtual void ExecuteStringList(TShowStringListDialog &ADialog) = 0;

    // Non-modal: the status list stays open until the logic hides its Form;
    // the popup closes itself after a choice or when it loses the focus.
    virtual void ShowStatusList(TShowStringListDialog &ADialog) = 0;
    virtual void ShowListPopup(TListSelectDialog &APopup, QPoint APos, int AHeight) = 0;

    // Asks for one line of text with its top-left corner at APos (negative:
    // centred), AText as the initial text; true on OK with AText replaced.
    virtual bool InputText(QPoint APos, const QString &ATitle, const QString &APrompt, QString &AText) = 0;
};

// Shows nothing; every modal dialog ends unanswered (mrNone, which the
// callers treat as Cancel).
class THeadlessListDialogViews : public IListDialogViews {
public:
    void ExecuteSelectDialog(TSelectDialog &ADialog) override;
    void ExecuteSelectFromList(TSelectFromListDialog &) override {}
    void ExecuteSelectListItems(TSelectListItemsDialog &) override {}
    void ExecuteEditHistList(TEditHistListDialog &) override {}
    void ExecuteStringList(TShowStringListDialog &) override {}
    void ShowStatusList(TShowStringListDialog &) override {}
    void ShowListPopup(TListSelectDialog &, QPoint, int) override {}
    bool InputText(QPoint, const QString &, const QString &, QString &) override { return false; }
};

// The current views (headless until a program installs others). The caller
// keeps ownership; nullptr restores the headless views.
IListDialogViews &ListDialogViews();
void SetListDialogViews(IListDialogViews *AViews);

} // namespace vl
