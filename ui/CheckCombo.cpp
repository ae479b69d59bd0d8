#include "ui/CheckCombo.h"

#include <algorithm>

namespace vl {

namespace {

const QChar kNameSep = QLatin1Char('|');
const QChar kListSep = QLatin1Char(',');

} // namespace

// ---------------------------------------------------------------------------
// TCheckComboBox

TCheckComboBox::TCheckComboBox() = default;

void TCheckComboBox::Init()
{
    Changed();
}

void TCheckComboBox::SetItems(const QStringList &AItems)
{
    FItems = AItems;
    FChecked.assign(size_t(FItems.size()), 0);
    FCalcText = true;
    Notify(TStateAspect::saItems);
}

int TCheckComboBox::AddChecked(const QString &AValue, bool AChecked)
{
    FItems << AValue;
    FChecked.push_back(AChecked ? 1 : 0);
    FCalcText = true;
    Notify(TStateAspect::saItems);
    return Count() - 1;
}

void TCheckComboBox::SetChecked(int AIndex, bool AChecked)
{
    if (AIndex < 0 || AIndex >= Count())
        return;
    FChecked[size_t(AIndex)] = AChecked ? 1 : 0;
    Changed();
    Fire(OnCheckClick);
}

bool TCheckComboBox::IsChecked(int AIndex) const
{
    return AIndex >= 0 && AIndex < Count() && FChecked[size_t(AIndex)] == 1;
}

void TCheckComboBox::CheckAll(bool AChecked)
{
    std::fill(FChecked.begin(), FChecked.end(), AChecked ? 1 : 0);
    Changed();
}

int TCheckComboBox::CheckedCount()
{
    if (FCalcText)
        Recalculate();
    return FCheckedCount;
}

QString TCheckComboBox::GetLongString(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        return QString();
    const QString &item = FItems.at(AIndex);
    const qsizetype sep = item.indexOf(kNameSep);
    return sep < 0 ? item : item.left(sep);
}

QString TCheckComboBox::GetShortString(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        return QString();
    const QString &item = FItems.at(AIndex);
    const qsizetype sep = item.indexOf(kNameSep);
    return sep < 0 ? item : item.mid(sep + 1);
}

TSelected TCheckComboBox::SelectedIndexes() const
{
    TSelected result;
    for (int i = 0; i < std::min(Count(), 256); ++i)
        result[size_t(i)] = IsChecked(i);
    return result;
}

void TCheckComboBox::SetSelectedIndexes(const TSelected &AValue)
{
    if (AValue != SelectedIndexes())
        for (int i = 0; i < std::min(Count(), 256); ++i)
            FChecked[size_t(i)] = AValue[size_t(i)] ? 1 : 0;
    Changed();
}

uint32_t TCheckComboBox::Selected()
{
    uint32_t result = 0;
    for (int i = 0; i < std::min(Count(), 32); ++i)
        if (IsChecked(i))
            result |= uint32_t(1) << i;
    Changed();
    return result;
}

void TCheckComboBox::SetSelected(uint32_t AValue)
{
    int count = 0;
    for (int i = 0; i < std::min(Count(), 32); ++i) {
        const bool checked = (AValue >> i) & 1;
        FChecked[size_t(i)] = checked ? 1 : 0;
        count += checked;
    }
    FCheckedCount = count;
    Changed();
}

void TCheckComboBox::SetCaption(const QString &AValue)
{
    if (AValue == Caption())
        return;
    TControlState::SetCaption(AValue);
    Changed();
}

void TCheckComboBox::SetHintPrefix(const QString &AValue)
{
    if (AValue == FHintPrefix)
        return;
    FHintPrefix = AValue;
    Changed();
}

void TCheckComboBox::SetDefaultIndex(int AValue)
{
    if (AValue == FDefaultIndex)
        return;
    if (FDefaultIndex >= 0 && FDefaultIndex < Count())
        FChecked[size_t(FDefaultIndex)] = 0;
    FDefaultIndex = AValue;
    FCheckedCount = 0;
    Changed();
}

void TCheckComboBox::Recalculate()
{
    // The count of the previous recalculation decides, so an item
    // unchecked by the user is not checked again at once.
    if (FCheckedCount == 0 && FDefaultIndex >= 0 && FDefaultIndex < Count())
        FChecked[size_t(FDefaultIndex)] = 1;
    QStringList shortNames;
    QStringList longNames;
    for (int i = 0; i < Count(); ++i)
        if (IsChecked(i)) {
            shortNames << GetShortString(i);
            longNames << GetLongString(i);
        }
    FCheckedCount = int(shortNames.size());
    FCheckedText = shortNames.join(kListSep);
    FCalcText = false;
    if (ShowHint)
        SetHint(FHintPrefix + longNames.join(kListSep));
}

QString TCheckComboBox::DisplayText()
{
    const QString &checked = CheckedText();
    return Caption().isEmpty() ? checked : Caption();
}

QString TCheckComboBox::CheckedText()
{
    if (FCalcText)
        Recalculate();
    return FCheckedText;
}

bool TCheckComboBox::UserToggle(int AIndex)
{
    if (!AcceptsUser() || AIndex < 0 || AIndex >= Count())
        return false;
    SetChecked(AIndex, !IsChecked(AIndex));
    return true;
}

void TCheckComboBox::CloseUp()
{
    if (CheckedCount() == 0)
        Changed();
    Fire(OnCloseUp);
}

void TCheckComboBox::Changed()
{
    FCalcText = true;
    Notify(TStateAspect::saChecked);
}

// ---------------------------------------------------------------------------
// TCheckGroupBox

TCheckGroupBox::TCheckGroupBox()
{
    TControlState::SetCaption(QStringLiteral(" "));
    CheckBox.OnClick = [this](TControlState &) {
        Invalidate();
        Fire(OnCheckClick);
    };
}

void TCheckGroupBox::SetChecked(bool AValue)
{
    CheckBox.SetChecked(AValue);
    Invalidate();
}

void TCheckGroupBox::AddControl(TControlState &AControl)
{
    if (!FControls.contains(&AControl))
        FControls << &AControl;
    AControl.SetEnabled(Checked());
}

void TCheckGroupBox::Invalidate()
{
    for (TControlState *control : std::as_const(FControls))
        control->SetEnabled(Checked());
    CheckBox.SetHint(Hint());
}

} // namespace vl
