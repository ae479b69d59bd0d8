// The time slot of a backup source (TTimePeriod: all files, files since or
// before a date, between two dates, since a time of today, not older or
// older than a number of days) and the dialog that selects one, without
// widgets.
#pragma once

#include "core/DateTime.h"
#include "ui/DialogLogic.h"
#include "ui/NumberEdits.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace vl {

// The dialog offers the first seven. tmOff is what a cancelled dialog
// leaves; tmUpdate, tmError and tmPrompt belong to the backup's file
// selection and show as "All".
enum class TTimeMode : uint8_t {
    tmAll, tmNewer, tmOlder, tmSpan, tmToday, tmLastDays, tmPrevDays, tmUpdate, tmOff, tmError, tmPrompt
};

// The time stamp that is compared.
enum class TTimeRef : uint8_t { trModify, trCreate, trBoth };

struct TTimePeriod {
    TTimeMode Mode = TTimeMode::tmAll;
    TTimeRef TmRef = TTimeRef::trModify;
    int32_t Days = 0;       // tmLastDays, tmPrevDays
    TDateTime DayTime = 0;  // tmToday: time of day, whole minutes
    TDateTime Dat1 = 0;     // whole day: start of tmNewer and tmSpan
    TDateTime Dat2 = 0;     // whole day: end of tmOlder and tmSpan

    bool operator==(const TTimePeriod &) const = default;
};

// A date-time picker: a date or a time of day, in a display format (the
// program's picker formats: yyyy MM dd, HH hh mm, tt). Setting the value in code runs no
// handler; a user change runs OnChange. Observers hear saText when the
// value changes and saItems when the kind or the format changes.
class TDateTimePickerState : public TControlState {
public:
    enum class TKind : uint8_t { dtkDate, dtkTime };

    TNotifyEvent OnChange;

    TDateTime DateTime() const { return FDateTime; }
    void SetDateTime(TDateTime AValue);
    TKind Kind() const { return FKind; }
    const QString &Format() const { return FFormat; }
    void SetKind(TKind AKind, const QString &AFormat);
    // Ignored (false) while disabled or hidden.
    bool UserChange(TDateTime AValue);

private:
    TDateTime FDateTime = 0;
    TKind FKind = TKind::dtkDate;
    QString FFormat;
};

class TTimeSlotDialog : public TDialogLogic {
public:
    TTimeSlotDialog();

    TControlState gbTimeSlot;
    TRadioButtonState rbTmAll;
    TRadioButtonState rbTmNewer;
    TRadioButtonState rbTmOlder;
    TRadioButtonState rbTmSpan;
    TRadioButtonState rbTmToday;
    TRadioButtonState rbTmLastDays;
    TRadioButtonState rbTmPrevDays;
    TDateTimePickerState FromDate;
    TDateTimePickerState ToDate;
    TControlState lbFrom;
    TControlState lbTo;
    TControlState lbDays;
    TRangeEdit reDays;
    TNumUpDown udDays;
    TRadioGroupState rgTimeSelect; // TTimeRef order
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // Set by the view: puts the focus on a control.
    std::function<void(TControlState &AControl)> FocusControl;
    // Set by the view: the movable controls have new places (PlaceOf).
    std::function<void()> OnArrange;

    // Runs the dialog on TimeSlot: true on OK with every field written;
    // otherwise Mode becomes tmOff and the other fields stay.
    bool Execute(TTimePeriod &TimeSlot);

    // The steps of Execute, for the view and for tests.
    void Setup(const TTimePeriod &TimeSlot);
    // The slot the controls show (what OK stores).
    TTimePeriod Selected();
    // OK: a day count outside its range shows the range error and keeps
    // the dialog open; otherwise closes it with mrOk.
    bool Accept();
    // Shows the controls of the checked mode.
    void ShowControls();

    // Where a movable control (FromDate, ToDate, reDays with udDays,
    // lbDays) sits: beside this radio button or label; nullptr while it is
    // hidden.
    const TControlState *PlaceOf(const TControlState &AControl) const;

    // The radio button of a mode (every mode not offered: "All").
    TRadioButtonState &ModeButton(TTimeMode AMode);

private:
    void FromDateChange();
    void ToDateChange();

    const TControlState *FFromPlace = nullptr;
    const TControlState *FToPlace = nullptr;
    const TControlState *FDaysPlace = nullptr;
};

// Creates the dialog, runs Execute and frees it; true on OK. On Cancel
// Mode becomes tmOff and the other fields keep their values.
bool SelectTimeSlot(TTimePeriod &TimeSlot);

} // namespace vl
