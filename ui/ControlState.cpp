#include "ui/ControlState.h"

#include <algorithm>

namespace vl {

// ---------------------------------------------------------------------------
// TControlState

void TControlState::SetEnabled(bool AValue)
{
    if (FEnabled == AValue)
        return;
    FEnabled = AValue;
    Notify(TStateAspect::saEnabled);
}

void TControlState::SetVisible(bool AValue)
{
    if (FVisible == AValue)
        return;
    FVisible = AValue;
    Notify(TStateAspect::saVisible);
}

void TControlState::SetHint(const QString &AValue)
{
    if (FHint == AValue)
        return;
    FHint = AValue;
    Notify(TStateAspect::saHint);
}

void TControlState::SetCaption(const QString &AValue)
{
    if (FCaption == AValue)
        return;
    FCaption = AValue;
    Notify(TStateAspect::saCaption);
}

int TControlState::Subscribe(TStateObserver AObserver)
{
    const int id = FNextObserverId++;
    FObservers.emplace_back(id, std::move(AObserver));
    return id;
}

void TControlState::Unsubscribe(int AId)
{
    std::erase_if(FObservers, [AId](const auto &entry) { return entry.first == AId; });
}

void TControlState::Notify(TStateAspect AAspect)
{
    // Observers may (un)subscribe while called: walk the ids present now and
    // call only those still subscribed, each through a copy.
    std::vector<int> ids;
    ids.reserve(FObservers.size());
    for (const auto &entry : FObservers)
        ids.push_back(entry.first);
    for (int id : ids) {
        auto it = std::find_if(FObservers.begin(), FObservers.end(),
                               [id](const auto &entry) { return entry.first == id; });
        if (it == FObservers.end())
            continue;
        TStateObserver observer = it->second;
        observer(*this, AAspect);
    }
}

void TControlState::Fire(const TNotifyEvent &AHandler)
{
    // A copy: the handler may assign a new handler while it runs.
    if (TNotifyEvent handler = AHandler)
        handler(*this);
}

// ---------------------------------------------------------------------------
// Buttons

bool TButtonState::UserClick()
{
    if (!AcceptsUser())
        return false;
    Click();
    return true;
}

void TCheckBoxState::SetChecked(bool AValue)
{
    if (FChecked == AValue)
        return;
    FChecked = AValue;
    Notify(TStateAspect::saChecked);
    Fire(OnClick);
}

bool TCheckBoxState::UserClick()
{
    if (!AcceptsUser())
        return false;
    SetChecked(!FChecked);
    return true;
}

TRadioButtonState::~TRadioButtonState()
{
    for (TRadioButtonState *sibling : FSiblings)
        std::erase(sibling->FSiblings, this);
}

void TRadioButtonState::SetChecked(bool AValue)
{
    if (FChecked == AValue)
        return;
    FChecked = AValue;
    if (!AValue) {
        Notify(TStateAspect::saChecked);
        return;
    }
    for (TRadioButtonState *sibling : FSiblings)
        if (sibling->FChecked) {
            sibling->FChecked = false;
            sibling->Notify(TStateAspect::saChecked);
        }
    Notify(TStateAspect::saChecked);
    Fire(OnClick);
}

bool TRadioButtonState::UserClick()
{
    if (!AcceptsUser())
        return false;
    SetChecked(true);
    return true;
}

void JoinRadioButtons(std::initializer_list<TRadioButtonState *> AButtons)
{
    for (TRadioButtonState *button : AButtons)
        for (TRadioButtonState *other : AButtons)
            if (other != button
                && std::find(button->FSiblings.begin(), button->FSiblings.end(), other)
                       == button->FSiblings.end())
                button->FSiblings.push_back(other);
}

// ---------------------------------------------------------------------------
// TEditState

void TEditState::SetText(const QString &AValue)
{
    if (FText == AValue)
        return;
    FText = AValue;
    Notify(TStateAspect::saText);
    Fire(OnChange);
}

bool TEditState::UserEdit(const QString &AValue)
{
    if (!AcceptsUser())
        return false;
    SetText(AValue);
    return true;
}

// ---------------------------------------------------------------------------
// Lists

bool TItemsState::StoreItems(const QStringList &AItems)
{
    if (FItems == AItems)
        return false;
    FItems = AItems;
    FItemIndex = -1;
    return true;
}

void TItemsState::AppendItem(const QString &AItem)
{
    FItems.append(AItem);
    Notify(TStateAspect::saItemAdded);
}

void TItemsState::NotifyItems(int AOldIndex)
{
    Notify(TStateAspect::saItems);
    if (AOldIndex != FItemIndex)
        Notify(TStateAspect::saItemIndex);
}

bool TItemsState::StoreItemIndex(int AValue)
{
    if (AValue < -1 || AValue >= FItems.size())
        AValue = -1;
    if (FItemIndex == AValue)
        return false;
    FItemIndex = AValue;
    return true;
}

void TListBoxState::SetItems(const QStringList &AItems)
{
    const int oldIndex = ItemIndex();
    if (StoreItems(AItems))
        NotifyItems(oldIndex);
}

void TListBoxState::SetItemIndex(int AValue)
{
    if (StoreItemIndex(AValue))
        Notify(TStateAspect::saItemIndex);
}

bool TListBoxState::UserSelect(int AIndex)
{
    if (!AcceptsUser() || !IsItem(AIndex))
        return false;
    if (StoreItemIndex(AIndex)) {
        Notify(TStateAspect::saItemIndex);
        Fire(OnClick);
    }
    return true;
}

void TComboBoxState::SetItems(const QStringList &AItems)
{
    const int oldIndex = ItemIndex();
    if (!StoreItems(AItems))
        return;
    NotifyItems(oldIndex);
    if (!FEditable && !FText.isEmpty()) {
        FText.clear();
        Notify(TStateAspect::saText);
    }
}

bool TComboBoxState::Store(const QString &AText, int AIndex)
{
    const bool indexChanged = StoreItemIndex(AIndex);
    const bool textChanged = FText != AText;
    FText = AText;
    if (indexChanged)
        Notify(TStateAspect::saItemIndex);
    if (textChanged)
        Notify(TStateAspect::saText);
    return textChanged;
}

void TComboBoxState::SetItemIndex(int AValue)
{
    if (!IsItem(AValue))
        AValue = -1;
    Store(AValue < 0 ? QString() : Items().at(AValue), AValue);
}

void TComboBoxState::SetText(const QString &AValue)
{
    const int index = int(Items().indexOf(AValue));
    const QString text = FEditable || index >= 0 ? AValue : QString();
    if (Store(text, index))
        Fire(OnChange);
}

bool TComboBoxState::UserSelect(int AIndex)
{
    if (!AcceptsUser() || !IsItem(AIndex))
        return false;
    if (AIndex != ItemIndex()) {
        Store(Items().at(AIndex), AIndex);
        Fire(OnChange);
    }
    return true;
}

bool TComboBoxState::UserEdit(const QString &AValue)
{
    if (!AcceptsUser() || !FEditable)
        return false;
    SetText(AValue);
    return true;
}

void TRadioGroupState::SetItems(const QStringList &AItems)
{
    const int oldIndex = ItemIndex();
    if (StoreItems(AItems))
        NotifyItems(oldIndex);
}

void TRadioGroupState::SetItemIndex(int AValue)
{
    if (!StoreItemIndex(AValue))
        return;
    Notify(TStateAspect::saItemIndex);
    if (ItemIndex() >= 0)
        Fire(OnClick);
}

bool TRadioGroupState::UserSelect(int AIndex)
{
    if (!AcceptsUser() || !IsItem(AIndex))
        return false;
    SetItemIndex(AIndex);
    return true;
}

void TRadioGroupState::SetColumns(int AValue)
{
    AValue = std::max(AValue, 1);
    if (FColumns == AValue)
        return;
    FColumns = AValue;
    Notify(TStateAspect::saColumns);
}

} // namespace vl
