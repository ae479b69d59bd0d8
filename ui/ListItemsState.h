// State of a list box whose rows can be selected several at a time and may
// carry check boxes, without widgets (the single-selection list box is
// TListBoxState of ui/ControlState.h).
//
// ItemIndex is the row with the focus (-1: none); in single-selection mode
// it is also the one selected row. Code-side changes run no handler; the
// User* methods run OnClick (selection or check mark changed) and
// OnDblClick, and are ignored while the control is disabled or hidden.
// Observers hear saItems (rows or their texts), saItemIndex (selection or
// focus), saChecked (check marks) and saColumns.
#pragma once

#include "ui/ControlState.h"
#include "ui/StringList.h"

#include <QList>

namespace vl {

class TListItemsState : public TControlState {
public:
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

    int Count() const { return int(FRows.size()); }
    const QString &Strings(int AIndex) const { return FRows.at(AIndex).Text; }
    const QVariant &Objects(int AIndex) const { return FRows.at(AIndex).Object; }
    QStringList Texts() const;
    // Rows with their objects, in list order.
    TStringList ItemList() const;
    // Replaces all rows (nothing selected, no focus, no check marks).
    void SetItems(const TStringList &AItems);
    int Add(const QString &AText, const QVariant &AObject = QVariant());
    void Delete(int AIndex);
    void Clear();
    void SetString(int AIndex, const QString &AText);
    // Exchanges two rows with their selection and check marks.
    void Exchange(int AIndex1, int AIndex2);

    bool MultiSelect() const { return FMultiSelect; }
    void SetMultiSelect(bool AValue);
    bool CheckBoxes() const { return FCheckBoxes; }
    void SetCheckBoxes(bool AValue);
    int Columns() const { return FColumns; }
    // 0 or 1: one column.
    void SetColumns(int AValue);

    int ItemIndex() const { return FItemIndex; }
    // Focuses the row (outside the rows: none); in single-selection mode it
    // becomes the only selected row.
    void SetItemIndex(int AValue);
    bool Selected(int AIndex) const { return FRows.at(AIndex).Selected; }
    void SetSelected(int AIndex, bool AValue);
    int SelCount() const;
    // Rows selected, top to bottom.
    QList<int> SelectedRows() const;
    bool Checked(int AIndex) const { return FRows.at(AIndex).Checked; }
    void SetChecked(int AIndex, bool AValue);

    // The user selected ARows (in single-selection mode only the first
    // counts) with the focus on AFocus.
    bool UserSelect(const QList<int> &ARows, int AFocus);
    bool UserCheck(int AIndex, bool AValue);
    bool UserDoubleClick(int AIndex);

private:
    struct TRow {
        QString Text;
        QVariant Object;
        bool Selected = false;
        bool Checked = false;
    };
    bool IsRow(int AIndex) const { return AIndex >= 0 && AIndex < Count(); }

    QList<TRow> FRows;
    int FItemIndex = -1;
    bool FMultiSelect = false;
    bool FCheckBoxes = false;
    int FColumns = 0;
};

} // namespace vl
