#include "ui/MenuState.h"

#include <algorithm>

namespace vl {

TMenuItemState::~TMenuItemState()
{
    // Sub-items go first, while their parent is still whole.
    FItems.clear();
}

void TMenuItemState::SetCaption(const QString &AValue)
{
    if (FCaption == AValue)
        return;
    FCaption = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetChecked(bool AValue)
{
    if (FChecked == AValue)
        return;
    FChecked = AValue;
    if (FChecked && FRadioItem && FParent) {
        for (const auto &sibling : FParent->FItems)
            if (sibling.get() != this && sibling->FRadioItem && sibling->FGroupIndex == FGroupIndex)
                sibling->SetChecked(false);
    }
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetEnabled(bool AValue)
{
    if (FEnabled == AValue)
        return;
    FEnabled = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetVisible(bool AValue)
{
    if (FVisible == AValue)
        return;
    FVisible = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetRadioItem(bool AValue)
{
    if (FRadioItem == AValue)
        return;
    FRadioItem = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetGroupIndex(int AValue)
{
    if (FGroupIndex == AValue)
        return;
    FGroupIndex = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetHint(const QString &AValue)
{
    if (FHint == AValue)
        return;
    FHint = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::SetShortCut(const QString &AValue)
{
    if (FShortCut == AValue)
        return;
    FShortCut = AValue;
    Notify(TMenuChange::mcItem);
}

void TMenuItemState::Click()
{
    // The handler may free this item (a history list rebuilds its menu
    // when the clicked entry moves to the top): run a copy of it.
    const TMenuClickEvent handler = OnClick;
    if (handler)
        handler(*this);
}

TMenuItemState &TMenuItemState::Add(std::unique_ptr<TMenuItemState> AItem)
{
    AItem->FParent = this;
    FItems.push_back(std::move(AItem));
    TMenuItemState &item = *FItems.back();
    Notify(TMenuChange::mcItems);
    return item;
}

TMenuItemState &TMenuItemState::Add(const QString &ACaption)
{
    return Add(std::make_unique<TMenuItemState>(ACaption));
}

void TMenuItemState::Delete(int AIndex)
{
    // Take it out before freeing it, so observers never see a dead item.
    std::unique_ptr<TMenuItemState> item = std::move(FItems.at(size_t(AIndex)));
    FItems.erase(FItems.begin() + AIndex);
    Notify(TMenuChange::mcItems);
    item.reset();
}

void TMenuItemState::Clear()
{
    if (FItems.empty())
        return;
    std::vector<std::unique_ptr<TMenuItemState>> items = std::move(FItems);
    FItems.clear();
    Notify(TMenuChange::mcItems);
}

int TMenuItemState::IndexOf(const TMenuItemState *AItem) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == AItem)
            return int(i);
    return -1;
}

int TMenuItemState::Subscribe(TMenuObserver AObserver)
{
    const int id = FNextObserverId++;
    FObservers.emplace_back(id, std::move(AObserver));
    return id;
}

void TMenuItemState::Unsubscribe(int AId)
{
    std::erase_if(FObservers, [AId](const auto &entry) { return entry.first == AId; });
}

void TMenuItemState::Notify(TMenuChange AChange)
{
    // Observers may (un)subscribe while called.
    std::vector<int> ids;
    for (const auto &entry : FObservers)
        ids.push_back(entry.first);
    for (int id : ids) {
        auto it = std::find_if(FObservers.begin(), FObservers.end(), [id](const auto &e) { return e.first == id; });
        if (it == FObservers.end())
            continue;
        TMenuObserver observer = it->second;
        observer(*this, AChange);
    }
}

} // namespace vl

