// A combo box whose drop-down list shows a check box in front of every item
// (TCheckComboBox: weekdays, weeks and days of the month), and a group box
// whose caption is a check box that enables the controls inside
// (TCheckGroupBox), without widgets.
#pragma once

#include "core/WindowServices.h"
#include "ui/ControlState.h"
#include "ui/Styles.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <bitset>
#include <cstdint>
#include <vector>

namespace vl {

// Item numbers 0 .. 255.
using TSelected = std::bitset<256>;

// Item texts are "long name|short name" (no "|": the whole text for both).
// The list shows the long names, the closed combo the short names of the
// checked items joined by "," ("Mo,We,Fr"), or Caption when that is set;
// the hint is HintPrefix and the long names joined by ",".
//
// The shown texts are recalculated lazily, when the view asks for them
// (DisplayText) after a change: when the count of the previous
// recalculation was 0, DefaultIndex becomes checked first. So unchecking
// the last item leaves the combo empty until the drop-down closes
// (CloseUp), and then the default item comes back.
//
// Observers hear saItems (items), saChecked (check marks or texts to be
// shown anew), saCaption and saHint.
class TCheckComboBox : public TControlState {
public:
    TCheckComboBox();

    // Runs after a check mark was set one by one (SetChecked, a click in
    // the list), not after CheckAll or the masks.
    TNotifyEvent OnCheckClick;
    TNotifyEvent OnCloseUp;

    // Colour of the closed combo while it has the focus, and without.
    TColor ColorFocus = RGBColor(0xA6, 0xCA, 0xF0);
    TColor ColorNotFocus = clInfoBk;
    // Whether the hint follows the checked items.
    bool ShowHint = true;

    // Forgets the drop-down list; the view looks it up again.
    void Init();

    const QStringList &Items() const { return FItems; }
    // Replaces the items, all unchecked.
    void SetItems(const QStringList &AItems);
    void Clear() { SetItems({}); }
    int Count() const { return int(FItems.size()); }
    // Appends an item; returns its index.
    int AddChecked(const QString &AValue, bool AChecked);
    // For an existing item: sets its mark and runs OnCheckClick; an index
    // that names no item does nothing.
    void SetChecked(int AIndex, bool AChecked);
    // False also for an index that names no item.
    bool IsChecked(int AIndex) const;
    // Every item; runs no handler.
    void CheckAll(bool AChecked);
    // Recalculates when due, then the number of checked items.
    int CheckedCount();
    QString GetLongString(int AIndex) const;
    QString GetShortString(int AIndex) const;

    // The checked items among the first 256.
    TSelected SelectedIndexes() const;
    void SetSelectedIndexes(const TSelected &AValue);
    // Bit i: item i checked, for the first 32 items.
    uint32_t Selected();
    void SetSelected(uint32_t AValue);

    // Shown in the closed combo instead of the checked items when not
    // empty.
    void SetCaption(const QString &AValue);
    const QString &HintPrefix() const { return FHintPrefix; }
    void SetHintPrefix(const QString &AValue);
    // -1: none.
    int DefaultIndex() const { return FDefaultIndex; }
    void SetDefaultIndex(int AValue);

    // The text of the closed combo (recalculates when due).
    QString DisplayText();
    // The short names of the checked items joined by ",".
    QString CheckedText();

    // The user toggled an item in the open list (click or space); ignored
    // while disabled or hidden, and for an index that names no item.
    bool UserToggle(int AIndex);
    // The drop-down list closed.
    void CloseUp();

private:
    void Recalculate();
    // Texts to be recalculated and shown anew.
    void Changed();

    QStringList FItems;
    std::vector<uint8_t> FChecked;
    int FDefaultIndex = -1;
    int FCheckedCount = 0;
    QString FHintPrefix;
    QString FCheckedText;
    bool FCalcText = true;
};

// A group box whose caption is the check box CheckBox: the controls added
// with AddControl are enabled only while it is checked. The caption is the
// check box's caption; the check box shows the group box's hint.
class TCheckGroupBox : public TControlState {
public:
    TCheckGroupBox();

    TCheckBoxState CheckBox;
    // Runs after the check box changed (by a click or in code).
    TNotifyEvent OnCheckClick;

    bool Checked() const { return CheckBox.Checked(); }
    // Sets the check box (a change runs OnCheckClick) and applies the
    // state to the controls inside.
    void SetChecked(bool AValue);

    // A control inside the group.
    void AddControl(TControlState &AControl);
    // Every control inside gets Enabled = Checked, the check box the
    // group box's hint.
    void Invalidate();

private:
    QList<TControlState *> FControls;
};

} // namespace vl
