#include "ui/ListItemsState.h"

namespace vl {

QStringList TListItemsState::Texts() const
{
    QStringList texts;
    for (const TRow &row : FRows)
        texts << row.Text;
    return texts;
}

TStringList TListItemsState::ItemList() const
{
    TStringList list;
    for (const TRow &row : FRows)
        list.AddObject(row.Text, row.Object);
    return list;
}

void TListItemsState::SetItems(const TStringList &AItems)
{
    FRows.clear();
    for (int i = 0; i < AItems.Count(); ++i)
        FRows.append(TRow{AItems.Strings(i), AItems.Objects(i)});
    FItemIndex = -1;
    Notify(TStateAspect::saItems);
}

int TListItemsState::Add(const QString &AText, const QVariant &AObject)
{
    FRows.append(TRow{AText, AObject});
    Notify(TStateAspect::saItems);
    return Count() - 1;
}

void TListItemsState::Delete(int AIndex)
{
    FRows.removeAt(AIndex);
    if (FItemIndex >= Count())
        FItemIndex = -1;
    else if (FItemIndex > AIndex)
        --FItemIndex;
    Notify(TStateAspect::saItems);
}

void TListItemsState::Clear()
{
    FRows.clear();
    FItemIndex = -1;
    Notify(TStateAspect::saItems);
}

void TListItemsState::SetString(int AIndex, const QString &AText)
{
    if (FRows[AIndex].Text == AText)
        return;
    FRows[AIndex].Text = AText;
    Notify(TStateAspect::saItems);
}

void TListItemsState::Exchange(int AIndex1, int AIndex2)
{
    FRows.swapItemsAt(AIndex1, AIndex2);
    Notify(TStateAspect::saItems);
}

void TListItemsState::SetMultiSelect(bool AValue)
{
    if (FMultiSelect == AValue)
        return;
    FMultiSelect = AValue;
    if (!FMultiSelect) {
        for (int i = 0; i < Count(); ++i)
            FRows[i].Selected = i == FItemIndex;
    }
    Notify(TStateAspect::saItemIndex);
}

void TListItemsState::SetCheckBoxes(bool AValue)
{
    if (FCheckBoxes == AValue)
        return;
    FCheckBoxes = AValue;
    Notify(TStateAspect::saChecked);
}

void TListItemsState::SetColumns(int AValue)
{
    if (FColumns == AValue)
        return;
    FColumns = AValue;
    Notify(TStateAspect::saColumns);
}

void TListItemsState::SetItemIndex(int AValue)
{
    if (!IsRow(AValue))
        AValue = -1;
    FItemIndex = AValue;
    if (!FMultiSelect) {
        for (int i = 0; i < Count(); ++i)
            FRows[i].Selected = i == AValue;
    }
    Notify(TStateAspect::saItemIndex);
}

void TListItemsState::SetSelected(int AIndex, bool AValue)
{
    if (!FMultiSelect && AValue) {
        SetItemIndex(AIndex);
        return;
    }
    if (FRows[AIndex].Selected == AValue)
        return;
    FRows[AIndex].Selected = AValue;
    Notify(TStateAspect::saItemIndex);
}

int TListItemsState::SelCount() const
{
    int count = 0;
    for (const TRow &row : FRows)
        count += row.Selected ? 1 : 0;
    return count;
}

QList<int> TListItemsState::SelectedRows() const
{
    QList<int> rows;
    for (int i = 0; i < Count(); ++i)
        if (FRows[i].Selected)
            rows << i;
    return rows;
}

void TListItemsState::SetChecked(int AIndex, bool AValue)
{
    if (FRows[AIndex].Checked == AValue)
        return;
    FRows[AIndex].Checked = AValue;
    Notify(TStateAspect::saChecked);
}

bool TListItemsState::UserSelect(const QList<int> &ARows, int AFocus)
{
    if (!AcceptsUser())
        return false;
    for (TRow &row : FRows)
        row.Selected = false;
    for (int row : ARows) {
        if (!IsRow(row))
            continue;
        FRows[row].Selected = true;
        if (!FMultiSelect) {
            AFocus = row;
            break;
        }
    }
    FItemIndex = IsRow(AFocus) ? AFocus : -1;
    Notify(TStateAspect::saItemIndex);
    Fire(OnClick);
    return true;
}

bool TListItemsState::UserCheck(int AIndex, bool AValue)
{
    if (!AcceptsUser() || !IsRow(AIndex))
        return false;
    SetChecked(AIndex, AValue);
    Fire(OnClick);
    return true;
}

bool TListItemsState::UserDoubleClick(int AIndex)
{
    if (!AcceptsUser() || !IsRow(AIndex))
        return false;
    Fire(OnDblClick);
    return true;
}

} // namespace vl
