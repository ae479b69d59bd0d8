// State of the controls of a window, without widgets.
//
// A window's logic holds one state object per control that keeps state
// (check boxes, edits, combo boxes, ...) under the control's own name, and
// works only on these objects; a Qt view binds each widget to its state
// object. That keeps the window logic testable without a display and
// without an event loop.
//
// Two ways in:
// - Code-side setters (SetChecked, SetText, SetItemIndex, ...) are what the
//   window logic calls. Setting Checked runs the click handler when the
//   value changes, exactly as a user click does (the task window relies on
//   it; handlers that must react to the user only guard themselves, e.g.
//   by Tag). Setting an item index of a list or combo box runs no handler.
//   Setting a text runs OnChange when the text changes. Handlers may set
//   their own control again; the nested call runs the handler again.
// - User* methods are what a view calls when the user acts on a widget.
//   They run the same handlers, and are ignored (false) while the control
//   is disabled or hidden, since a user cannot act on it then.
//
// Views learn of changes through observers: plain callbacks with the
// changed aspect, called after the state has changed and before any
// handler runs, so a widget shows the new state while a handler asks a
// question. A view updates its widget under QSignalBlocker, so no handler
// runs twice. Tag is the logic's own memory and notifies no one.
//
// State objects have identity (handlers, observers, radio siblings hold
// on to them): they can be neither copied nor moved.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace vl {

class TControlState;

// What changed in a state object.
enum class TStateAspect : uint8_t {
    saEnabled, saVisible, saHint, saCaption, saChecked, saText, saItems, saItemIndex, saColumns,
    saItemAdded // one item appended at the end of the items
};

// A click or change handler; Sender is the control that ran it, so one
// handler can serve several controls.
using TNotifyEvent = std::function<void(TControlState &Sender)>;
using TStateObserver = std::function<void(TControlState &Sender, TStateAspect Aspect)>;

// Every control: labels, panels and group boxes use it as it stands.
class TControlState {
public:
    TControlState() = default;
    virtual ~TControlState() = default;
    TControlState(const TControlState &) = delete;
    TControlState &operator=(const TControlState &) = delete;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool AValue);
    bool Visible() const { return FVisible; }
    void SetVisible(bool AValue);
    const QString &Hint() const { return FHint; }
    void SetHint(const QString &AValue);
    const QString &Caption() const { return FCaption; }
    void SetCaption(const QString &AValue);
    int Tag() const { return FTag; }
    void SetTag(int AValue) { FTag = AValue; }

    // Calls AObserver after every change; returns an id for Unsubscribe.
    // Observers may subscribe and unsubscribe while being called.
    int Subscribe(TStateObserver AObserver);
    void Unsubscribe(int AId);

protected:
    void Notify(TStateAspect AAspect);
    // Runs AHandler when set, with this control as Sender.
    void Fire(const TNotifyEvent &AHandler);
    // Whether a user can act on the control now.
    bool AcceptsUser() const { return FEnabled && FVisible; }

private:
    bool FEnabled = true;
    bool FVisible = true;
    QString FHint;
    QString FCaption;
    int FTag = 0;
    std::vector<std::pair<int, TStateObserver>> FObservers;
    int FNextObserverId = 1;
};

// Push button.
class TButtonState : public TControlState {
public:
    TNotifyEvent OnClick;

    // Runs OnClick, as a click does.
    void Click() { Fire(OnClick); }
    bool UserClick();
};

// Check box (two states).
class TCheckBoxState : public TControlState {
public:
    TNotifyEvent OnClick;

    bool Checked() const { return FChecked; }
    // Runs OnClick when the value changes.
    void SetChecked(bool AValue);
    // Toggles the box.
    bool UserClick();

private:
    bool FChecked = false;
};

// Radio button. Buttons joined by JoinRadioButtons are siblings: checking
// one clears the others.
class TRadioButtonState : public TControlState {
public:
    ~TRadioButtonState() override;

    TNotifyEvent OnClick;

    bool Checked() const { return FChecked; }
    // Checking clears the checked sibling (which runs no handler) and then
    // runs OnClick; clearing runs no handler, as clicks only ever check a
    // radio button.
    void SetChecked(bool AValue);
    // Checks the button; clicking a checked button changes nothing.
    bool UserClick();

    friend void JoinRadioButtons(std::initializer_list<TRadioButtonState *> AButtons);

private:
    bool FChecked = false;
    std::vector<TRadioButtonState *> FSiblings;
};

// Makes the buttons siblings of each other (a button belongs to one group).
void JoinRadioButtons(std::initializer_list<TRadioButtonState *> AButtons);

// Single-line edit.
class TEditState : public TControlState {
public:
    TNotifyEvent OnChange;

    const QString &Text() const { return FText; }
    // Runs OnChange when the text changes.
    void SetText(const QString &AValue);
    bool UserEdit(const QString &AValue);

private:
    QString FText;
};

// Items with a selected index (-1: none), the common part of list boxes,
// combo boxes and radio groups. Setting items that differ from the current
// ones clears the selection; an index outside the items means none.
class TItemsState : public TControlState {
public:
    const QStringList &Items() const { return FItems; }
    int ItemIndex() const { return FItemIndex; }

protected:
    // Stores the items without notifying; true when they differed (the
    // index is then -1).
    bool StoreItems(const QStringList &AItems);
    // Notifies the aspects a change of items changed.
    void NotifyItems(int AOldIndex);
    // Appends one item, keeping the selection, and notifies saItemAdded.
    void AppendItem(const QString &AItem);
    // Stores the index (outside the items: -1) without notifying; true when
    // it changed.
    bool StoreItemIndex(int AValue);
    // Whether AIndex names an item (what a user can select).
    bool IsItem(int AIndex) const { return AIndex >= 0 && AIndex < FItems.size(); }

private:
    QStringList FItems;
    int FItemIndex = -1;
};

// List box with a single selection.
class TListBoxState : public TItemsState {
public:
    TNotifyEvent OnClick;

    void SetItems(const QStringList &AItems);
    // Appends one item; the selection stays. Runs no handler. Views add just
    // that item, so a list that grows line by line stays fast.
    void AddItem(const QString &AItem) { AppendItem(AItem); }
    // Runs no handler.
    void SetItemIndex(int AValue);
    // Runs OnClick when the selection changes; an index that names no item
    // is ignored.
    bool UserSelect(int AIndex);
};

// Combo box: a drop-down list, or, when editable, an edit with a list.
// The text is the selected item's text whenever an item is selected; a
// drop-down list shows no other text than an item's or an empty one.
class TComboBoxState : public TItemsState {
public:
    explicit TComboBoxState(bool AEditable = false) : FEditable(AEditable) {}

    TNotifyEvent OnChange;

    bool Editable() const { return FEditable; }
    const QString &Text() const { return FText; }

    // A drop-down list loses its text with its selection; an editable
    // combo keeps what was typed.
    void SetItems(const QStringList &AItems);
    // Selects the item and shows its text (none: empty text); runs no
    // handler.
    void SetItemIndex(int AValue);
    // Selects the first item equal to the text (none: -1). A drop-down list
    // takes only an item's text, else becomes empty. Runs OnChange when the
    // text changes.
    void SetText(const QString &AValue);
    // The user chose an item: runs OnChange when the selection changes; an
    // index that names no item is ignored.
    bool UserSelect(int AIndex);
    // The user typed into an editable combo: runs OnChange when the text
    // changes; ignored for a drop-down list.
    bool UserEdit(const QString &AValue);

private:
    // Sets text and index together; notifies, and tells whether the text
    // changed.
    bool Store(const QString &AText, int AIndex);

    bool FEditable;
    QString FText;
};

// Radio group: a captioned group of radio buttons, one per item. It is made
// of radio buttons, so setting its index in code runs OnClick as checking a
// radio button does: when the index changes to an item (clearing it, -1,
// runs none).
class TRadioGroupState : public TItemsState {
public:
    TNotifyEvent OnClick;

    void SetItems(const QStringList &AItems);
    void SetItemIndex(int AValue);
    // An index that names no item is ignored.
    bool UserSelect(int AIndex);
    int Columns() const { return FColumns; }
    // At least 1.
    void SetColumns(int AValue);

private:
    int FColumns = 1;
};

} // namespace vl
