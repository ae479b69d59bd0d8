#include "ui/ListDialogs.h"

#include "core/Format.h"
#include "core/MessageService.h"
#include "core/Translate.h"
#include "ui/InputDialogs.h"
#include "ui/ListDialogViews.h"

#include <algorithm>

namespace vl {

namespace {

// The result a run without an answer counts as.
TModalResult Answered(TModalResult AResult)
{
    return AResult == mrNone ? mrCancel : AResult;
}

} // namespace

// ---------------------------------------------------------------------------
// TSelectFromListDialog

TSelectFromListDialog::TSelectFromListDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Select item from list"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    gbxEdit.SetCaption(TrDomain(kDialogsDomain, "Edit items"));
    btnInsert.SetCaption(TrDomain(kDialogsDomain, "Add"));
    btnDelete.SetCaption(TrDomain(kDialogsDomain, "Remove"));
    btnEdit.SetCaption(TrDomain(kDialogsDomain, "Change"));
    btnDefault.SetCaption(TrDomain(kDialogsDomain, "Default"));
    btnDelAll.SetCaption(TrDomain(kDialogsDomain, "Remove all"));
    gbxMove.SetCaption(TrDomain(kDialogsDomain, "Move item"));
    UpBtn.SetHint(TrDomain(kDialogsDomain, "Move up"));
    DownBtn.SetHint(TrDomain(kDialogsDomain, "Move down"));
    btnPrompt.SetCaption(TrDomain(kDialogsDomain, "Prompt"));

    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
    btnPrompt.OnClick = [this](TControlState &) { CloseModal(mrYes); };
    btnInsert.OnClick = [this](TControlState &) { AddItem(); };
    btnEdit.OnClick = [this](TControlState &) { ChangeItem(); };
    btnDelete.OnClick = [this](TControlState &) { RemoveItems(); };
    btnDelAll.OnClick = [this](TControlState &) { RemoveAll(); };
    btnDefault.OnClick = [this](TControlState &) { ResetToDefault(); };
    UpBtn.OnClick = [this](TControlState &) { MoveUp(); };
    DownBtn.OnClick = [this](TControlState &) { MoveDown(); };
    lbxStringList.OnDblClick = [this](TControlState &) { DoubleClick(); };
}

void TSelectFromListDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                                  TSelectOptions Options, int ACols, const QString &Default,
                                  const TStringList &SList, const QString &AText, bool ShowCancel,
                                  TCheckEntry CheckEntry)
{
    Position = APos;
    Form.SetCaption(Titel);
    CancelBtn.SetVisible(ShowCancel);
    FCheckEntry = std::move(CheckEntry);
    lbDesc.SetCaption(Desc);
    lbHint.SetCaption(Hint);
    lbHint.SetVisible(!Hint.isEmpty());

    FOptions = Options;
    btnPrompt.SetVisible(Options.Contains(TSelectOption::soPrompt));
    FEdit = Options.Contains(TSelectOption::soEdit);
    gbxEdit.SetVisible(FEdit);
    gbxMove.SetVisible(Options.Contains(TSelectOption::soOrder));
    btnDelAll.SetVisible(Options.Contains(TSelectOption::soDelAll));
    FNoConfirm = Options.Contains(TSelectOption::soNoConfirm);
    btnDefault.SetVisible(!Default.isEmpty());

    DefDelimitedText = Default;
    lbxStringList.SetHint(Desc);
    lbxStringList.SetMultiSelect(Options.Contains(TSelectOption::soMulti));
    lbxStringList.SetItems(SList);
    lbxStringList.SetColumns(ACols);
    for (int i = 0; i < lbxStringList.Count(); ++i) {
        if (QString::compare(lbxStringList.Strings(i), AText, Qt::CaseInsensitive) == 0) {
            lbxStringList.SetItemIndex(i);
            lbxStringList.SetSelected(i, true);
            break;
        }
    }
}

void TSelectFromListDialog::Finish(TTextChange Convert, TStringList &SList, QString &AText) const
{
    TStringList entries = lbxStringList.ItemList();
    if (Convert != TTextChange::tcNone)
        for (int i = 0; i < entries.Count(); ++i)
            entries.SetString(i, ChangeTextCase(entries.Strings(i), Convert));
    if (FEdit)
        SList = entries;
    const int focus = lbxStringList.ItemIndex();
    if (focus < 0)
        AText.clear();
    else if (lbxStringList.MultiSelect()) {
        QStringList selected;
        for (int row : lbxStringList.SelectedRows())
            selected << entries.Strings(row);
        AText = selected.join(QLatin1Char('|'));
    } else
        AText = entries.Strings(focus);
}

TModalResult TSelectFromListDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc,
                                            const QString &Hint, TSelectOptions Options, int ACols,
                                            TTextChange Convert, const QString &Default, TStringList &SList,
                                            QString &AText, bool ShowCancel, TCheckEntry CheckEntry)
{
    Setup(APos, Titel, Desc, Hint, Options, ACols, Default, SList, AText, ShowCancel, std::move(CheckEntry));
    ListDialogViews().ExecuteSelectFromList(*this);
    const TModalResult result = Answered(ModalResult());
    if (result != mrCancel)
        Finish(Convert, SList, AText);
    return result;
}

bool TSelectFromListDialog::Select(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                                   TSelectOptions Options, int ACols, TTextChange Convert, const QString &Default,
                                   TStringList &SList, QString &AText, bool ShowCancel, TCheckEntry CheckEntry)
{
    return Execute(APos, Titel, Desc, Hint, Options, ACols, Convert, Default, SList, AText, ShowCancel,
                   std::move(CheckEntry))
           != mrCancel;
}

bool TSelectFromListDialog::Select(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                                   int ACols, TTextChange Convert, const QString &Default, QString &ListText,
                                   QChar ADel, QChar AQuote)
{
    TStringList list;
    list.SetSorted(true);
    list.SetDelimitedText(ListText, ADel, AQuote);
    QString text;
    const bool result =
        Select(APos, Titel, Desc, Hint, TSelectOptions(), ACols, Convert, Default, list, text, true, nullptr);
    ListText = list.DelimitedText(ADel, AQuote);
    return result;
}

TModalResult TSelectFromListDialog::Select(QPoint APos, const QString &Titel, const QString &Desc,
                                           const QString &Hint, bool Prompt, TStringList &SList, QString &AText)
{
    TSelectOptions options;
    if (Prompt)
        options.Include(TSelectOption::soPrompt);
    return Execute(APos, Titel, Desc, Hint, options, 1, TTextChange::tcNone, QString(), SList, AText, true,
                   nullptr);
}

void TSelectFromListDialog::Show(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                                 int ACols, TStringList &SList)
{
    QString text;
    Execute(APos, Titel, Desc, Hint, TSelectOptions(), ACols, TTextChange::tcNone, QString(), SList, text, false,
            nullptr);
}

bool TSelectFromListDialog::Confirm(const TButtonState &AButton, const QString &AQuestion) const
{
    return FNoConfirm
           || ConfirmBoxAt(BottomLeftOf(AButton, -100, 10), AQuestion, TMsgDlgBtn::mbYes,
                           TDefaultMonitor::dmActiveForm);
}

bool TSelectFromListDialog::AskText(QPoint APos, const QString &ATitle, QString &AText) const
{
    return EditString(APos, ATitle, lbDesc.Caption(), AText);
}

bool TSelectFromListDialog::Accepts(const QString &AText) const
{
    if (!FCheckEntry || FCheckEntry(AText))
        return true;
    const QString message = GuardedFormat(TrDomain(kDialogsDomain, "Invalid entry: \"%s\""), AText);
    ShowErrorBoxAt(MousePos(), message, TDefaultMonitor::dmActiveForm);
    return false;
}

void TSelectFromListDialog::AddItem()
{
    QString text;
    if (!AskText(BottomLeftOf(btnInsert, -100, 10), TrDomain(kDialogsDomain, "Add item"), text) || !Accepts(text))
        return;
    const int row = lbxStringList.Add(text);
    if (lbxStringList.MultiSelect())
        for (int i = 0; i < lbxStringList.Count(); ++i)
            lbxStringList.SetSelected(i, i == row);
    lbxStringList.SetItemIndex(row);
}

void TSelectFromListDialog::EditFocused(QPoint APos)
{
    const int row = lbxStringList.ItemIndex();
    if (row < 0)
        return;
    QString text = lbxStringList.Strings(row);
    // A double-click edits as the button does, the entry check included:
    // otherwise that way in would let refused entries into the list.
    if (AskText(APos, TrDomain(kDialogsDomain, "Edit item"), text) && Accepts(text))
        lbxStringList.SetString(row, text);
}

void TSelectFromListDialog::ChangeItem()
{
    EditFocused(BottomLeftOf(btnEdit, -100, 10));
}

void TSelectFromListDialog::DoubleClick()
{
    if (FEdit)
        EditFocused(MouseOffset(-20, 20));
    else
        CloseModal(mrOk);
}

void TSelectFromListDialog::RemoveItems()
{
    if (lbxStringList.MultiSelect()) {
        const QList<int> rows = lbxStringList.SelectedRows();
        if (rows.isEmpty() || !Confirm(btnDelete, TrDomain(kDialogsDomain, "Remove all selected items?")))
            return;
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            lbxStringList.Delete(*it);
        lbxStringList.SetItemIndex(-1);
        return;
    }
    const int row = lbxStringList.ItemIndex();
    if (row < 0)
        return;
    const QString question =
        GuardedFormat(TrDomain(kDialogsDomain, "Remove item: \"%s\"?"), lbxStringList.Strings(row));
    if (!Confirm(btnDelete, question))
        return;
    lbxStringList.Delete(row);
    lbxStringList.SetItemIndex(std::min(row, lbxStringList.Count() - 1));
}

void TSelectFromListDialog::RemoveAll()
{
    if (Confirm(btnDelAll, TrDomain(kDialogsDomain, "Clear whole list") + QLatin1Char('?')))
        lbxStringList.Clear();
}

void TSelectFromListDialog::ResetToDefault()
{
    if (!Confirm(btnDefault, TrDomain(kDialogsDomain, "Reset to default values") + QLatin1Char('?')))
        return;
    TStringList defaults;
    defaults.SetDelimitedText(DefDelimitedText);
    lbxStringList.SetItems(defaults);
}

void TSelectFromListDialog::MoveUp()
{
    const int row = lbxStringList.ItemIndex();
    if (row <= 0)
        return;
    lbxStringList.Exchange(row, row - 1);
    lbxStringList.SetItemIndex(row - 1);
}

void TSelectFromListDialog::MoveDown()
{
    const int row = lbxStringList.ItemIndex();
    if (row < 0 || row >= lbxStringList.Count() - 1)
        return;
    lbxStringList.Exchange(row, row + 1);
    lbxStringList.SetItemIndex(row + 1);
}

bool SelectFromList(QPoint APos, const QString &Titel, const QString &Desc, const QString &Hint,
                    TSelectOptions Options, int ACols, TTextChange Convert, const QString &Default,
                    TStringList &SList, QString &AText)
{
    TSelectFromListDialog dialog;
    return dialog.Select(APos, Titel, Desc, Hint, Options, ACols, Convert, Default, SList, AText, true, nullptr);
}

// ---------------------------------------------------------------------------
// TSelectListItemsDialog

namespace {

bool CheckBit(const QVariant &AObject)
{
    return (AObject.toULongLong() & 1) != 0;
}

QVariant WithCheckBit(const QVariant &AObject, bool AChecked)
{
    const qulonglong bits = AChecked ? AObject.toULongLong() | 1 : AObject.toULongLong() & ~qulonglong(1);
    QVariant result(bits);
    // Give the caller back the kind of number it attached.
    if (AObject.isValid() && result.canConvert(AObject.metaType()))
        result.convert(AObject.metaType());
    return result;
}

} // namespace

TSelectListItemsDialog::TSelectListItemsDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Select items"));
    clItems.SetCheckBoxes(true);
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    btSelNone.SetCaption(TrDomain(kDialogsDomain, "Select none"));
    btSelAll.SetCaption(TrDomain(kDialogsDomain, "Select all"));
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
    btSelNone.OnClick = [this](TControlState &) {
        for (int i = 0; i < clItems.Count(); ++i)
            clItems.SetChecked(i, false);
    };
    btSelAll.OnClick = [this](TControlState &) {
        for (int i = 0; i < clItems.Count(); ++i)
            clItems.SetChecked(i, true);
    };
}

void TSelectListItemsDialog::Setup(QPoint APos, const QString &ATitle, const QString &ADesc, const QString &AName,
                                   const TStringList &SList)
{
    Position = APos;
    Form.SetCaption(ATitle);
    laDesc.SetCaption(ADesc);
    laName.SetCaption(AName);
    clItems.SetHint(AName);
    // Each row remembers its entry's position in SList.
    TStringList rows;
    rows.SetSorted(true);
    for (int i = 0; i < SList.Count(); ++i)
        rows.AddObject(SList.Strings(i), i);
    clItems.SetItems(rows);
    for (int row = 0; row < clItems.Count(); ++row)
        clItems.SetChecked(row, CheckBit(SList.Objects(clItems.Objects(row).toInt())));
}

void TSelectListItemsDialog::Finish(TStringList &SList) const
{
    for (int row = 0; row < clItems.Count(); ++row) {
        const int index = clItems.Objects(row).toInt();
        SList.SetObject(index, WithCheckBit(SList.Objects(index), clItems.Checked(row)));
    }
}

bool TSelectListItemsDialog::Execute(QPoint APos, const QString &ATitle, const QString &ADesc,
                                     const QString &AName, TStringList &SList)
{
    Setup(APos, ATitle, ADesc, AName, SList);
    ListDialogViews().ExecuteSelectListItems(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(SList);
    return true;
}

bool CheckListItems(QPoint APos, const QString &ATitle, const QString &ADesc, const QString &AName,
                    TStringList &SList)
{
    TSelectListItemsDialog dialog;
    return dialog.Execute(APos, ATitle, ADesc, AName, SList);
}

} // namespace vl
