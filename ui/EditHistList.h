// The dialog in which the user removes, edits and reorders the entries of
// a history list, without widgets.
#pragma once

#include "ui/DialogLogic.h"
#include "ui/ListItemsState.h"
#include "ui/StringList.h"

#include <QPoint>
#include <QString>

namespace vl {

class TEditHistListDialog : public TDialogLogic {
public:
    TEditHistListDialog();

    TControlState laDesc;
    TListItemsState lbHistList; // several rows can be selected
    TButtonState btnRemove;
    TButtonState btnEdit;
    TButtonState btnUp;
    TButtonState btnDown;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // Runs the dialog on HList; true on OK with HList (and AIndex, see
    // Finish) updated, false with both unchanged.
    bool Execute(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList, bool ADelete,
                 bool AEdit, int &AIndex);

    // The steps of Execute, for the view and for tests.
    // Fills the dialog: caption (a default one when Titel is empty),
    // description, rows, the buttons shown and the pre-selected row.
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, const TStringList &HList, bool ADelete,
               bool AEdit, int AIndex);
    // Moves the selected rows into the removed entries.
    void Remove();
    // Asks a new text for the focused row; a text that another row already
    // has is refused with an error box.
    void Edit();
    void MoveUp();
    void MoveDown();
    // After OK: HList gets the rows in their new order; with editing
    // AIndex becomes the focused row, else the new position of the
    // pre-selected entry (-1 when it was removed).
    void Finish(TStringList &HList, int &AIndex);

    // Entries removed so far, with their objects.
    const TStringList &Removed() const { return FRemoved; }

private:
    bool FEdit = false;
    bool FHasRemembered = false;
    QString FRemembered;
    TStringList FRemoved;
};

// Creates the dialog, runs it and frees it; true on OK.
bool EditHistoryListEx(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList, bool ADelete,
                       bool AEdit, int &AIndex);
// Removing allowed, editing off, nothing pre-selected.
bool EditHistoryList(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList);

} // namespace vl
