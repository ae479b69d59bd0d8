// Qt view of the time slot dialog, and the binding of a date-time picker.
#pragma once

#include "ui/TimeSlotDialog.h"
#include "ui/qt/LogicDialog.h"

#include <QHash>
#include <QList>

class QDateTimeEdit;
class QHBoxLayout;
class QLabel;

namespace vl {

// The picker shows the state's value in its kind and format (a calendar
// drops down for dates); a user change goes to UserChange.
void BindDateTimePicker(QDateTimeEdit *AEdit, TDateTimePickerState &AState);

class TTimeSlotDialogView : public TLogicDialog {
public:
    explicit TTimeSlotDialogView(TTimeSlotDialog &ALogic, QWidget *AParent = nullptr);
    ~TTimeSlotDialogView() override;

    QDateTimeEdit *FromDate() const { return FFromDate; }
    QDateTimeEdit *ToDate() const { return FToDate; }

private:
    // Puts the movable controls beside the controls the logic names.
    void Arrange();

    TTimeSlotDialog &FLogic;
    QDateTimeEdit *FFromDate;
    QDateTimeEdit *FToDate;
    QWidget *FDays;    // the day count with its spin buttons
    QLabel *FDaysLabel;
    QLabel *FFromLabel;
    QLabel *FToLabel;
    // The row beside each radio button, by the button's state.
    QHash<const TControlState *, QHBoxLayout *> FRows;
    QHash<const TControlState *, QWidget *> FWidgets;
};

} // namespace vl
