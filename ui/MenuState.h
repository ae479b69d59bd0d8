// A menu as state, without widgets: a tree of items with caption, check
// mark, radio grouping and a click handler. A view binds a QMenu to one
// TMenuItemState (BindMenu in ui/qt/MenuBinding.h) and shows its items;
// the logic adds, changes and removes items here only.
//
// A caption of "-" makes the item a separator line.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace vl {

class TMenuItemState;

using TMenuClickEvent = std::function<void(TMenuItemState &Sender)>;

// What changed: one item's own properties, or the list of sub-items.
enum class TMenuChange : uint8_t { mcItem, mcItems };
using TMenuObserver = std::function<void(TMenuItemState &Sender, TMenuChange Change)>;

class TMenuItemState {
public:
    TMenuItemState() = default;
    explicit TMenuItemState(const QString &ACaption) : FCaption(ACaption) {}
    ~TMenuItemState();
    TMenuItemState(const TMenuItemState &) = delete;
    TMenuItemState &operator=(const TMenuItemState &) = delete;

    const QString &Caption() const { return FCaption; }
    void SetCaption(const QString &AValue);
    bool IsLine() const { return FCaption == QLatin1String("-"); }
    bool Checked() const { return FChecked; }
    // A checked radio item clears the checked items of the same group
    // index among its siblings.
    void SetChecked(bool AValue);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool AValue);
    bool Visible() const { return FVisible; }
    void SetVisible(bool AValue);
    bool RadioItem() const { return FRadioItem; }
    void SetRadioItem(bool AValue);
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int AValue);
    const QString &Hint() const { return FHint; }
    void SetHint(const QString &AValue);
    // A key sequence in QKeySequence's portable text form; empty: none.
    const QString &ShortCut() const { return FShortCut; }
    void SetShortCut(const QString &AValue);
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int AValue) { FHelpContext = AValue; }
    int Tag() const { return FTag; }
    void SetTag(int AValue) { FTag = AValue; }

    // May free this very item (a history list rebuilds its items when the
    // clicked entry moves to the top): it must not touch the item after
    // such a change.
    TMenuClickEvent OnClick;
    // Runs OnClick, as a click on the item does.
    void Click();

    // Sub-items, owned by this item.
    int Count() const { return int(FItems.size()); }
    TMenuItemState &Items(int AIndex) const { return *FItems.at(size_t(AIndex)); }
    TMenuItemState *Parent() const { return FParent; }
    TMenuItemState &Add(std::unique_ptr<TMenuItemState> AItem);
    TMenuItemState &Add(const QString &ACaption);
    // Frees the sub-item at AIndex.
    void Delete(int AIndex);
    // Frees all sub-items.
    void Clear();
    int IndexOf(const TMenuItemState *AItem) const;

    // Called after every change of this item or of its list of sub-items
    // (not of the sub-items' own properties: observe those directly).
    int Subscribe(TMenuObserver AObserver);
    void Unsubscribe(int AId);

private:
    void Notify(TMenuChange AChange);

    QString FCaption;
    bool FChecked = false;
    bool FEnabled = true;
    bool FVisible = true;
    bool FRadioItem = false;
    int FGroupIndex = 0;
    QString FHint;
    QString FShortCut;
    int FHelpContext = 0;
    int FTag = 0;
    TMenuItemState *FParent = nullptr;
    std::vector<std::unique_ptr<TMenuItemState>> FItems;
    std::vector<std::pair<int, TMenuObserver>> FObservers;
    int FNextObserverId = 1;
};

} // namespace vl
