#include "ui/ListWindows.h"

#include "core/Translate.h"
#include "ui/ListDialogViews.h"

#include <memory>

namespace vl {

// ---------------------------------------------------------------------------
// TListSelectDialog

TListSelectDialog::TListSelectDialog()
{
    Form.SetVisible(false);
}

void TListSelectDialog::SetBakColor(TColor AValue)
{
    if (FBakColor == AValue)
        return;
    FBakColor = AValue;
}

void TListSelectDialog::SetSorted(bool AValue)
{
    if (FSorted == AValue)
        return;
    FSorted = AValue;
    if (FSorted) {
        TStringList items = lbSelect.ItemList();
        items.SetSorted(true);
        lbSelect.SetItems(items);
    }
}

void TListSelectDialog::Clear()
{
    lbSelect.Clear();
}

int TListSelectDialog::Insert(const QString &AText, const QVariant &ANumber)
{
    TStringList items = lbSelect.ItemList();
    items.SetSorted(FSorted);
    const int index = items.AddObject(AText, ANumber);
    lbSelect.SetItems(items);
    return index;
}

void TListSelectDialog::Assign(const TStringList &AItems, int AIndex)
{
    TStringList items = AItems;
    items.SetSorted(FSorted);
    lbSelect.SetItems(items);
    if (AIndex >= 0)
        lbSelect.SetItemIndex(AIndex);
}

void TListSelectDialog::AddList(const QStringList &AItems, const QString &Prefix)
{
    TStringList items = lbSelect.ItemList();
    items.SetSorted(FSorted);
    for (const QString &item : AItems)
        items.Add(Prefix + item);
    lbSelect.SetItems(items);
}

void TListSelectDialog::Add(const QString &AItem)
{
    TStringList items = lbSelect.ItemList();
    items.SetSorted(FSorted);
    const int index = items.Add(AItem);
    items.SetObject(index, index);
    lbSelect.SetItems(items);
}

void TListSelectDialog::AddItem(const QString &AItem, int AIndex)
{
    Insert(AItem, AIndex);
}

int TListSelectDialog::ItemNumber(int Index) const
{
    const QVariant &number = lbSelect.Objects(Index);
    return number.isValid() ? number.toInt() : -1;
}

QSize TListSelectDialog::ClientSize(const TTextWidthFunc &TextWidth, int AHeight) const
{
    const int widest = StringsMaxTextWidth(lbSelect.Texts(), TextWidth);
    const int width = widest + 11 < FWidth ? FWidth : widest + 22;
    const int all = lbSelect.Count() * kItemHeight;
    const int height = AHeight != 0 && AHeight < all ? AHeight : all + 6;
    return QSize(width, height);
}

void TListSelectDialog::ShowList(QPoint APos, int AHeight)
{
    if (lbSelect.Count() == 0)
        return;
    Form.SetVisible(true);
    ListDialogViews().ShowListPopup(*this, APos, AHeight);
}

void TListSelectDialog::UserClick(int ARow)
{
    if (ARow >= 0 && ARow < lbSelect.Count())
        lbSelect.SetItemIndex(ARow);
    const int row = lbSelect.ItemIndex();
    if (OnSelect && row >= 0)
        OnSelect(ItemNumber(row));
    Form.SetVisible(false);
}

void TListSelectDialog::Deactivate()
{
    Form.SetVisible(false);
}

// ---------------------------------------------------------------------------
// TShowStringListDialog

TShowStringListDialog::TShowStringListDialog()
{
    Form.SetVisible(false);
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Close"));
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

void TShowStringListDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, const QString &Status,
                                    const QStringList &StrList)
{
    Position = APos;
    Form.SetCaption(Titel);
    laDesc.SetCaption(Desc);
    laStatus.SetCaption(Status);
    lbStrings.SetItems(StrList);
    paBottom.SetVisible(true);
    ListDialogViews().ExecuteStringList(*this);
}

void TShowStringListDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc,
                                    const QStringList &StrList)
{
    Execute(APos, Titel, Desc, QString(), StrList);
}

void TShowStringListDialog::ShowList(TStatusListPos APos, const QString &Titel, const QString &Desc)
{
    Form.SetCaption(Titel);
    laDesc.SetCaption(Desc);
    lbStrings.SetItems(QStringList());
    paBottom.SetVisible(false);
    FStatusPos = APos;
    Form.SetVisible(true);
    ListDialogViews().ShowStatusList(*this);
}

void TShowStringListDialog::AddListItem(const QString &s)
{
    lbStrings.AddItem(s);
}

void TShowStringListDialog::CloseLIst()
{
    Form.SetVisible(false);
}

QPoint TShowStringListDialog::StatusListOrigin(TStatusListPos APos, QSize WindowSize, QSize WorkArea,
                                               QPoint Origin, QRect Screen)
{
    const int right = WorkArea.width() - WindowSize.width() - 5;
    const int bottom = WorkArea.height() - WindowSize.height() - 5;
    switch (APos) {
    case TStatusListPos::spTopLeft:
        return Origin + QPoint(5, 5);
    case TStatusListPos::spTopRight:
        return Origin + QPoint(right, 5);
    case TStatusListPos::spBottomLeft:
        return Origin + QPoint(5, bottom);
    case TStatusListPos::spBottomRight:
        return Origin + QPoint(right, bottom);
    case TStatusListPos::spCenter:
        break;
    }
    return QPoint(Screen.left() + (Screen.width() - WindowSize.width()) / 2,
                  Screen.top() + (Screen.height() - WindowSize.height()) / 2);
}

// ---------------------------------------------------------------------------
// The program's string-list window

namespace {

std::unique_ptr<TShowStringListDialog> &StringListInstance()
{
    static std::unique_ptr<TShowStringListDialog> window;
    return window;
}

TShowStringListDialog &StringListCreated()
{
    auto &window = StringListInstance();
    if (!window)
        window = std::make_unique<TShowStringListDialog>();
    return *window;
}

} // namespace

void ShowStrings(QPoint APos, const QString &Titel, const QString &Desc, const QString &Status,
                 const QStringList &StrList)
{
    StringListCreated().Execute(APos, Titel, Desc, Status, StrList);
}

void ShowStrings(QPoint APos, const QString &Titel, const QString &Desc, const QStringList &StrList)
{
    ShowStrings(APos, Titel, Desc, QString(), StrList);
}

void OpenStatusList(TStatusListPos APos, const QString &Titel, const QString &Desc)
{
    StringListCreated().ShowList(APos, Titel, Desc);
}

void AddStatusListLine(const QString &Text)
{
    if (auto &window = StringListInstance())
        window->AddListItem(Text);
}

void CloseStatusList()
{
    if (auto &window = StringListInstance())
        window->CloseLIst();
}

TShowStringListDialog *StringListWindow()
{
    return StringListInstance().get();
}

} // namespace vl
