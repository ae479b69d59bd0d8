// Two list dialogs, without widgets:
// - TSelectFromListDialog: pick one or several entries of a list,
//   optionally adding, changing, removing, reordering and resetting them;
// - TSelectListItemsDialog: check entries of a list in a sorted check list.
// The global functions run them through the installed IListDialogViews
// (ui/ListDialogViews.h); without a display they end as cancelled.
#pragma once

#include "core/Settings.h"
#include "core/StringUtils.h"
#include "ui/DialogLogic.h"
#include "ui/ListItemsState.h"
#include "ui/StringList.h"

#include <QPoint>
#include <QString>

#include <functional>

namespace vl {

// Validates an added or changed entry.
using TCheckEntry = std::function<bool(const QString &AText)>;

enum class TSelectOption {
    soPrompt,    // a "Prompt" button closing with mrYes
    soEdit,      // the "Edit items" group; double-click edits; the list is returned
    soOrder,     // the "Move item" group
    soMulti,     // several entries selectable; AText gets all of them
    soDelAll,    // the "Remove all" button
    soNoConfirm, // remove, remove all and default act without asking
};
using TSelectOptions = TEnumSet<TSelectOption>;

class TSelectFromListDialog : public TDialogLogic {
public:
    TSelectFromListDialog();

    TButtonState OKBtn;
    TButtonState CancelBtn;
    TListItemsState lbxStringList;
    TControlState gbxEdit;
    TButtonState btnInsert;
    TButtonState btnDelete;
    TButtonState btnEdit;
    TButtonState btnDefault;
    TButtonState btnDelAll;
    TControlState gbxMove;
    TButtonState UpBtn;
    TButtonState DownBtn;
    TButtonState btnPrompt;
    TControlState lbHint;
    TControlState lbDesc;

    // Runs the dialog on SList; returns mrOk, mrYes ("Prompt") or mrCancel.
    // Unless cancelled: with Convert every entry changes case; with soEdit
    // SList gets the entries; AText gets the focused entry (with soMulti
    // all selected ones joined by "|"; empty when none has the focus).
    TModalResult Execute(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                         TSelectOptions Options, int ACols, TTextChange Convert, const QString &Default,
                         TStringList &SList, QString &AText, bool ShowCancel, TCheckEntry CheckEntry);
    // Execute; true unless cancelled.
    bool Select(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                TSelectOptions Options, int ACols, TTextChange Convert, const QString &Default, TStringList &SList,
                QString &AText, bool ShowCancel, TCheckEntry CheckEntry);
    // Offers the entries of the delimited ListText sorted and read-only;
    // ListText becomes the sorted list's delimited text, also when
    // cancelled. True unless cancelled.
    bool Select(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint, int ACols,
                TTextChange Convert, const QString &Default, QString &ListText, QChar ADel, QChar AQuote);
    // One column, Cancel shown, the "Prompt" button when Prompt.
    TModalResult Select(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint, bool Prompt,
                        TStringList &SList, QString &AText);
    // A read-only list view without Cancel.
    void Show(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint, int ACols,
              TStringList &SList);

    // The steps of Execute, for the view and for tests.
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint, TSelectOptions Options,
               int ACols, const QString &Default, const TStringList &SList, const QString &AText, bool ShowCancel,
               TCheckEntry CheckEntry);
    // After OK or Prompt.
    void Finish(TTextChange Convert, TStringList &SList, QString &AText) const;
    // The buttons' actions.
    void AddItem();
    void ChangeItem();
    void DoubleClick();
    void RemoveItems();
    void RemoveAll();
    void ResetToDefault();
    void MoveUp();
    void MoveDown();

    TSelectOptions Options() const { return FOptions; }

private:
    bool Confirm(const TButtonState &AButton, const QString &AQuestion) const;
    // Asks for a text at APos; true with AText when the user confirmed.
    bool AskText(QPoint APos, const QString &ATitle, QString &AText) const;
    bool Accepts(const QString &AText) const;
    void EditFocused(QPoint APos);

    TSelectOptions FOptions;
    bool FEdit = false;
    bool FNoConfirm = false;
    QString DefDelimitedText;
    TCheckEntry FCheckEntry;
};

// Creates the dialog, runs the first Select (Cancel shown, no entry check)
// and frees it.
bool SelectFromList(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                    TSelectOptions Options, int ACols, TTextChange Convert, const QString &Default,
                    TStringList &SList, QString &AText);

class TSelectListItemsDialog : public TDialogLogic {
public:
    TSelectListItemsDialog();

    TListItemsState clItems; // sorted, with check boxes
    TButtonState OKBtn;
    TButtonState CancelBtn;
    TButtonState btSelNone;
    TButtonState btSelAll;
    TControlState laDesc;
    TControlState laName;

    // The check mark of an entry is bit 0 of the number attached to it in
    // SList; on OK only that bit changes. True on OK.
    bool Execute(QPoint APos, const QString &ATitle, const QString &ADesc, const QString &AName,
                 TStringList &SList);

    void Setup(QPoint APos, const QString &ATitle, const QString &ADesc, const QString &AName,
               const TStringList &SList);
    void Finish(TStringList &SList) const;
};

bool CheckListItems(QPoint APos, const QString &ATitle, const QString &ADesc, const QString &AName,
                    TStringList &SList);

} // namespace vl
