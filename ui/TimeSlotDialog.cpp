#include "ui/TimeSlotDialog.h"

#include "core/MessageService.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "ui/ValueDialogViews.h"

#include <cmath>

namespace vl {

namespace {

TDateTime WholeDays(TDateTime AValue)
{
    return std::trunc(AValue);
}

// The minute of the day as a fraction of a day.
TDateTime MinuteOfDay(TDateTime AValue)
{
    const TDateParts parts = DecodeDateTime(AValue);
    return (parts.Hour * 60 + parts.Minute) / 1440.0;
}

} // namespace

// ---------------------------------------------------------------------------
// TDateTimePickerState

void TDateTimePickerState::SetDateTime(TDateTime AValue)
{
    if (AValue == FDateTime)
        return;
    FDateTime = AValue;
    Notify(TStateAspect::saText);
}

void TDateTimePickerState::SetKind(TKind AKind, const QString &AFormat)
{
    if (AKind == FKind && AFormat == FFormat)
        return;
    FKind = AKind;
    FFormat = AFormat;
    Notify(TStateAspect::saItems);
}

bool TDateTimePickerState::UserChange(TDateTime AValue)
{
    if (!AcceptsUser())
        return false;
    if (AValue != FDateTime) {
        SetDateTime(AValue);
        Fire(OnChange);
    }
    return true;
}

// ---------------------------------------------------------------------------
// TTimeSlotDialog

TTimeSlotDialog::TTimeSlotDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Select time slot for backup"));
    gbTimeSlot.SetCaption(TrDomain(kDialogsDomain, "Time slot"));
    rbTmAll.SetCaption(TrDomain(kDialogsDomain, "All"));
    rbTmNewer.SetCaption(TrDomain(kDialogsDomain, "All since"));
    rbTmOlder.SetCaption(TrDomain(kDialogsDomain, "All before"));
    rbTmSpan.SetCaption(TrDomain(kDialogsDomain, "Time period"));
    rbTmToday.SetCaption(TrDomain(kDialogsDomain, "Today from"));
    rbTmLastDays.SetCaption(TrDomain(kDialogsDomain, "Not older than"));
    rbTmPrevDays.SetCaption(TrDomain(kDialogsDomain, "Older than"));
    JoinRadioButtons({&rbTmAll, &rbTmNewer, &rbTmOlder, &rbTmSpan, &rbTmToday, &rbTmLastDays, &rbTmPrevDays});
    FromDate.SetHint(TrDomain(kDialogsDomain, "Select date"));
    ToDate.SetHint(TrDomain(kDialogsDomain, "Select date"));
    FromDate.SetKind(TDateTimePickerState::TKind::dtkDate, PickerDateFormat);
    ToDate.SetKind(TDateTimePickerState::TKind::dtkDate, PickerDateFormat);
    lbFrom.SetCaption(TrDomain(kDialogsDomain, "from:"));
    lbTo.SetCaption(TrDomain(kDialogsDomain, "to:"));
    lbDays.SetCaption(TrDomain(kDialogsDomain, "days"));
    reDays.Name = QStringLiteral("reDays");
    reDays.SetHint(TrDomain(kDialogsDomain, "Number of days"));
    reDays.SetMinValue(1);
    reDays.SetMaxValue(9999);
    reDays.SetRangeCheck(true);
    reDays.SetValue(1);
    udDays.Name = QStringLiteral("udDays");
    udDays.SetAssociate(&reDays);
    rgTimeSelect.SetCaption(TrDomain(kDialogsDomain, "Timestamp"));
    rgTimeSelect.SetItems({TrDomain(kDialogsDomain, "Modified"), TrDomain(kDialogsDomain, "Created"),
                           TrDomain(kDialogsDomain, "Both")});
    rgTimeSelect.SetColumns(3);
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));

    for (TRadioButtonState *button :
         {&rbTmAll, &rbTmNewer, &rbTmOlder, &rbTmSpan, &rbTmToday, &rbTmLastDays, &rbTmPrevDays})
        button->OnClick = [this](TControlState &) { ShowControls(); };
    FromDate.OnChange = [this](TControlState &) { FromDateChange(); };
    ToDate.OnChange = [this](TControlState &) { ToDateChange(); };
    OKBtn.OnClick = [this](TControlState &) {
        if (Accept())
            CloseModal(mrOk);
    };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
    ShowControls();
}

TRadioButtonState &TTimeSlotDialog::ModeButton(TTimeMode AMode)
{
    switch (AMode) {
    case TTimeMode::tmNewer:
        return rbTmNewer;
    case TTimeMode::tmOlder:
        return rbTmOlder;
    case TTimeMode::tmSpan:
        return rbTmSpan;
    case TTimeMode::tmToday:
        return rbTmToday;
    case TTimeMode::tmLastDays:
        return rbTmLastDays;
    case TTimeMode::tmPrevDays:
        return rbTmPrevDays;
    default:
        return rbTmAll;
    }
}

void TTimeSlotDialog::Setup(const TTimePeriod &TimeSlot)
{
    FromDate.SetDateTime(WholeDays(TimeSlot.Dat1) + MinuteOfDay(TimeSlot.DayTime));
    ToDate.SetDateTime(WholeDays(TimeSlot.Dat2));
    reDays.SetValue(TimeSlot.Days);
    ModeButton(TimeSlot.Mode).SetChecked(true);
    rgTimeSelect.SetItemIndex(int(TimeSlot.TmRef));
    ShowControls();
}

TTimePeriod TTimeSlotDialog::Selected()
{
    TTimePeriod slot;
    slot.Dat1 = WholeDays(FromDate.DateTime());
    slot.Dat2 = WholeDays(ToDate.DateTime());
    slot.DayTime = MinuteOfDay(FromDate.DateTime());
    slot.Days = int32_t(reDays.Value());
    const std::pair<const TRadioButtonState *, TTimeMode> modes[] = {
        {&rbTmNewer, TTimeMode::tmNewer},       {&rbTmOlder, TTimeMode::tmOlder},
        {&rbTmSpan, TTimeMode::tmSpan},         {&rbTmToday, TTimeMode::tmToday},
        {&rbTmLastDays, TTimeMode::tmLastDays}, {&rbTmPrevDays, TTimeMode::tmPrevDays},
    };
    slot.Mode = TTimeMode::tmAll;
    for (const auto &[button, mode] : modes)
        if (button->Checked())
            slot.Mode = mode;
    if (rgTimeSelect.ItemIndex() >= 0)
        slot.TmRef = TTimeRef(rgTimeSelect.ItemIndex());
    return slot;
}

bool TTimeSlotDialog::Accept()
{
    // As when the focus leaves the day count: a count outside its range
    // must not be stored.
    if (reDays.Visible()) {
        try {
            reDays.Exit();
        } catch (const EUserRangeError &e) {
            ShowErrorBox(e.Message(), 0);
            if (FocusControl)
                FocusControl(reDays);
            return false;
        }
    }
    return true;
}

bool TTimeSlotDialog::Execute(TTimePeriod &TimeSlot)
{
    Setup(TimeSlot);
    ValueDialogViews().ExecuteTimeSlot(*this);
    if (ModalResult() != mrOk) {
        TimeSlot.Mode = TTimeMode::tmOff;
        return false;
    }
    TimeSlot = Selected();
    return true;
}

void TTimeSlotDialog::ShowControls()
{
    reDays.SetVisible(false);
    udDays.SetVisible(false);
    lbDays.SetVisible(false);
    FromDate.SetKind(TDateTimePickerState::TKind::dtkDate, PickerDateFormat);
    FFromPlace = nullptr;
    FToPlace = nullptr;
    FDaysPlace = nullptr;
    bool labels = false;
    if (rbTmNewer.Checked()) {
        FFromPlace = &rbTmNewer;
    } else if (rbTmOlder.Checked()) {
        FToPlace = &rbTmOlder;
    } else if (rbTmSpan.Checked()) {
        labels = true;
        FFromPlace = &lbFrom;
        FToPlace = &lbTo;
    } else if (rbTmToday.Checked()) {
        FFromPlace = &rbTmToday;
        FromDate.SetKind(TDateTimePickerState::TKind::dtkTime, PickerTimeFormat);
    } else if (rbTmLastDays.Checked()) {
        FDaysPlace = &rbTmLastDays;
    } else if (rbTmPrevDays.Checked()) {
        FDaysPlace = &rbTmPrevDays;
    }
    lbFrom.SetVisible(labels);
    lbTo.SetVisible(labels);
    FromDate.SetVisible(FFromPlace != nullptr);
    ToDate.SetVisible(FToPlace != nullptr);
    reDays.SetVisible(FDaysPlace != nullptr);
    udDays.SetVisible(FDaysPlace != nullptr);
    lbDays.SetVisible(FDaysPlace != nullptr);
    if (OnArrange)
        OnArrange();
}

const TControlState *TTimeSlotDialog::PlaceOf(const TControlState &AControl) const
{
    if (&AControl == &FromDate)
        return FFromPlace;
    if (&AControl == &ToDate)
        return FToPlace;
    if (&AControl == &reDays || &AControl == &udDays || &AControl == &lbDays)
        return FDaysPlace;
    return nullptr;
}

void TTimeSlotDialog::FromDateChange()
{
    if (FromDate.Kind() != TDateTimePickerState::TKind::dtkDate)
        return;
    if (WholeDays(ToDate.DateTime()) < WholeDays(FromDate.DateTime()))
        ToDate.SetDateTime(WholeDays(FromDate.DateTime()));
}

void TTimeSlotDialog::ToDateChange()
{
    // The start keeps its time of day (the time of "Today from").
    if (WholeDays(FromDate.DateTime()) > WholeDays(ToDate.DateTime()))
        FromDate.SetDateTime(WholeDays(ToDate.DateTime()) + MinuteOfDay(FromDate.DateTime()));
}

bool SelectTimeSlot(TTimePeriod &TimeSlot)
{
    TTimeSlotDialog dialog;
    return dialog.Execute(TimeSlot);
}

} // namespace vl
