#include "ui/EditHistList.h"

#include "core/Format.h"
#include "core/Translate.h"
#include "ui/InputDialogs.h"
#include "ui/ListDialogViews.h"

namespace vl {

TEditHistListDialog::TEditHistListDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Edit list entries"));
    lbHistList.SetMultiSelect(true);
    btnRemove.SetCaption(TrDomain(kDialogsDomain, "Remove"));
    btnEdit.SetCaption(TrDomain(kDialogsDomain, "Edit"));
    btnUp.SetHint(TrDomain(kDialogsDomain, "Move up"));
    btnDown.SetHint(TrDomain(kDialogsDomain, "Move down"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    btnRemove.OnClick = [this](TControlState &) { Remove(); };
    btnEdit.OnClick = [this](TControlState &) { Edit(); };
    btnUp.OnClick = [this](TControlState &) { MoveUp(); };
    btnDown.OnClick = [this](TControlState &) { MoveDown(); };
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TEditHistListDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, const TStringList &HList,
                                bool ADelete, bool AEdit, int AIndex)
{
    Position = APos;
    if (!Titel.isEmpty())
        Form.SetCaption(Titel);
    laDesc.SetCaption(Desc);
    lbHistList.SetItems(HList);
    btnRemove.SetVisible(ADelete);
    btnEdit.SetVisible(AEdit);
    FEdit = AEdit;
    FRemoved.Clear();
    FHasRemembered = AIndex >= 0 && AIndex < HList.Count();
    FRemembered = FHasRemembered ? HList.Strings(AIndex) : QString();
    if (FHasRemembered) {
        // Focusing a row of a multi-select list does not select it.
        lbHistList.SetItemIndex(AIndex);
        lbHistList.SetSelected(AIndex, true);
    }
}

bool TEditHistListDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList,
                                  bool ADelete, bool AEdit, int &AIndex)
{
    Setup(APos, Titel, Desc, HList, ADelete, AEdit, AIndex);
    ListDialogViews().ExecuteEditHistList(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(HList, AIndex);
    return true;
}

void TEditHistListDialog::Remove()
{
    const QList<int> rows = lbHistList.SelectedRows();
    if (rows.isEmpty())
        return;
    const int focus = lbHistList.ItemIndex();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        FRemoved.AddObject(lbHistList.Strings(*it), lbHistList.Objects(*it));
        lbHistList.Delete(*it);
    }
    const int count = lbHistList.Count();
    const int row = focus >= 0 && focus < count ? focus : count - 1;
    for (int i = 0; i < count; ++i)
        lbHistList.SetSelected(i, false);
    lbHistList.SetItemIndex(row);
    if (row >= 0)
        lbHistList.SetSelected(row, true);
}

void TEditHistListDialog::Edit()
{
    const int row = lbHistList.ItemIndex();
    if (row < 0)
        return;
    QString text = lbHistList.Strings(row);
    const QString title = TrDomain(kDialogsDomain, "Edit item");
    if (!InputTextEx(BottomRightOf(btnEdit), title, laDesc.Caption(), false, QString(), nullptr, false, text))
        return;
    for (int i = 0; i < lbHistList.Count(); ++i) {
        if (i != row && QString::compare(lbHistList.Strings(i), text, Qt::CaseInsensitive) == 0) {
            const QString message = GuardedFormat(TrDomain(kDialogsDomain, "Item \"%s\" already exists!"), text);
            ShowErrorBoxAt(TopLeftOf(btnEdit), message, TDefaultMonitor::dmActiveForm);
            return;
        }
    }
    lbHistList.SetString(row, text);
    lbHistList.SetSelected(row, true);
}

void TEditHistListDialog::MoveUp()
{
    int first = -1;
    // A selected row stays when it is at the top or below a selected row
    // that stayed, so a block at the top keeps its order.
    bool blocked = true;
    for (int i = 0; i < lbHistList.Count(); ++i) {
        if (!lbHistList.Selected(i)) {
            blocked = false;
            continue;
        }
        if (i == 0 || blocked) {
            blocked = true;
            continue;
        }
        lbHistList.Exchange(i - 1, i);
        if (first < 0)
            first = i - 1;
    }
    if (first >= 0)
        lbHistList.SetItemIndex(first);
}

void TEditHistListDialog::MoveDown()
{
    int last = -1;
    bool blocked = true;
    for (int i = lbHistList.Count() - 1; i >= 0; --i) {
        if (!lbHistList.Selected(i)) {
            blocked = false;
            continue;
        }
        if (i == lbHistList.Count() - 1 || blocked) {
            blocked = true;
            continue;
        }
        lbHistList.Exchange(i, i + 1);
        if (last < 0)
            last = i + 1;
    }
    if (last >= 0)
        lbHistList.SetItemIndex(last);
}

void TEditHistListDialog::Finish(TStringList &HList, int &AIndex)
{
    // The removed entries' objects are let go.
    for (int i = 0; i < FRemoved.Count(); ++i)
        FRemoved.SetObject(i, QVariant());
    HList.Clear();
    for (int i = 0; i < lbHistList.Count(); ++i)
        HList.AddObject(lbHistList.Strings(i), lbHistList.Objects(i));
    if (FEdit)
        AIndex = lbHistList.ItemIndex();
    else if (FHasRemembered) {
        AIndex = -1;
        for (int i = 0; i < HList.Count() && AIndex < 0; ++i)
            if (HList.Strings(i) == FRemembered)
                AIndex = i;
    }
}

bool EditHistoryListEx(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList, bool ADelete,
                       bool AEdit, int &AIndex)
{
    TEditHistListDialog dialog;
    return dialog.Execute(APos, Titel, Desc, HList, ADelete, AEdit, AIndex);
}

bool EditHistoryList(QPoint APos, const QString &Titel, const QString &Desc, TStringList &HList)
{
    int index = -1;
    return EditHistoryListEx(APos, Titel, Desc, HList, true, false, index);
}

} // namespace vl
