#include "backup/BackupForm.h"

#include "backup/LogWriter.h"
#include "core/DateTime.h"
#include "core/Translate.h"

#include <cmath>

namespace vl {

// ---- TSourceListState ----

void TSourceListState::SetString(int AIndex, const QString &AText)
{
    if (FItems.at(AIndex).Text == AText)
        return;
    FItems[AIndex].Text = AText;
    Notify(TStateAspect::saItems);
}

void TSourceListState::SetChecked(int AIndex, bool AValue)
{
    TItem &item = FItems.at(AIndex);
    item.List->Selected = AValue;
    if (item.Checked == AValue)
        return;
    item.Checked = AValue;
    Notify(TStateAspect::saChecked);
}

void TSourceListState::SetItemEnabled(int AIndex, bool AValue)
{
    if (FItems.at(AIndex).Enabled == AValue)
        return;
    FItems[AIndex].Enabled = AValue;
    Notify(TStateAspect::saItems);
}

int TSourceListState::Add(const QString &AText, TExtensionList AList)
{
    TItem item;
    item.Text = AText;
    item.Checked = AList.Selected;
    item.Enabled = AList.IsAvailable;
    item.List = std::make_unique<TExtensionList>(std::move(AList));
    size_t pos = FItems.size();
    if (FSorted) {
        pos = 0;
        while (pos < FItems.size() && FItems[pos].Text.compare(AText, Qt::CaseInsensitive) <= 0)
            ++pos;
    }
    FItems.insert(FItems.begin() + ptrdiff_t(pos), std::move(item));
    if (FItemIndex >= int(pos))
        ++FItemIndex;
    Notify(TStateAspect::saItems);
    return int(pos);
}

void TSourceListState::Delete(int AIndex)
{
    FItems.erase(FItems.begin() + AIndex);
    if (FItemIndex >= Count())
        FItemIndex = Count() - 1;
    Notify(TStateAspect::saItems);
}

void TSourceListState::Clear()
{
    FItems.clear();
    FItemIndex = -1;
    Notify(TStateAspect::saItems);
}

void TSourceListState::Exchange(int AIndex1, int AIndex2)
{
    std::swap(FItems.at(AIndex1), FItems.at(AIndex2));
    Notify(TStateAspect::saItems);
}

void TSourceListState::SetSorted(bool AValue)
{
    FSorted = AValue;
    if (!AValue)
        return;
    std::stable_sort(FItems.begin(), FItems.end(), [](const TItem &A, const TItem &B) {
        return A.Text.compare(B.Text, Qt::CaseInsensitive) < 0;
    });
    Notify(TStateAspect::saItems);
}

void TSourceListState::SetItemIndex(int AValue)
{
    if (AValue < 0 || AValue >= Count())
        AValue = -1;
    if (AValue == FItemIndex)
        return;
    FItemIndex = AValue;
    Notify(TStateAspect::saItemIndex);
}

bool TSourceListState::UserSelect(int AIndex)
{
    if (!AcceptsUser() || AIndex < 0 || AIndex >= Count())
        return false;
    if (AIndex != FItemIndex) {
        FItemIndex = AIndex;
        Notify(TStateAspect::saItemIndex);
        Fire(OnClick);
    }
    return true;
}

bool TSourceListState::UserCheck(int AIndex, bool AValue)
{
    if (!AcceptsUser() || AIndex < 0 || AIndex >= Count() || !FItems[AIndex].Enabled)
        return false;
    if (FItems[AIndex].Checked != AValue) {
        SetChecked(AIndex, AValue);
        Fire(OnClickCheck);
    }
    return true;
}

// ---- TPageControlState ----

void TPageControlState::SetActivePage(int AValue)
{
    if (AValue == FActivePage)
        return;
    FActivePage = AValue;
    Notify(TStateAspect::saItemIndex);
}

bool TPageControlState::UserSelect(int AValue)
{
    if (!AcceptsUser())
        return false;
    if (AValue != FActivePage) {
        SetActivePage(AValue);
        Fire(OnChange);
    }
    return true;
}

// ---- TBackupForm ----

TBackupForm::TBackupForm()
{
    JoinRadioButtons({&rbFtp, &rbWin});
    JoinRadioButtons({&rbDrives, &rbOrigin, &rbOneDir, &rbRoot, &rbOneZip, &rbZipRoot, &rbZipDir, &rbZipOrg});
    JoinRadioButtons({&rbSingle, &rbZip});
    JoinRadioButtons({&rbEncAuto, &rbEnc128, &rbEnc256});
    JoinRadioButtons({&rbSyncBefore, &rbSyncAfter});

    BuModeCB.SetItems({Tr("Update"), Tr("Full (new)"), Tr("Differential"), Tr("Incremental")});
    cbSync.SetItems({Tr("Off"), Tr("All files"), Tr("Selected files, retain other"),
                     Tr("Selected files, delete other")});
    cbZipSize.SetItems({Tr("unlimited"), QStringLiteral("10 MiB"), QStringLiteral("100 MiB"),
                        QStringLiteral("250 MiB"), QStringLiteral("650 MiB"), QStringLiteral("2 GiB"),
                        QStringLiteral("4 GiB")});

    NewPeriod.Days = 1;
    ResetNewPeriod();
}

void TBackupForm::ResetNewPeriod()
{
    // The time period handed to new source entries: the last four years,
    // from 06:00; Days keeps its value.
    const TDateTime today = std::floor(Now());
    NewPeriod.Mode = TTimeMode::tmAll;
    NewPeriod.TmRef = TTimeRef::trModify;
    NewPeriod.DayTime = 0.25;
    NewPeriod.Dat1 = today - 1461;
    NewPeriod.Dat2 = today;
}

TBackupForm::~TBackupForm() = default;

} // namespace vl
