#include "ui/qt/TimeSlotDialogView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/NumberEdits.h"

#include <QAccessible>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

namespace vl {

namespace {

QDateTime ToQDateTime(TDateTime AValue)
{
    const TDateParts p = DecodeDateTime(AValue);
    const QDate date(p.Year, p.Month, p.Day);
    return QDateTime(date.isValid() ? date : QDate(1899, 12, 30), QTime(p.Hour, p.Minute, p.Second));
}

TDateTime FromQDateTime(const QDateTime &AValue, TDateTime AFallback)
{
    TDateParts p;
    p.Year = AValue.date().year();
    p.Month = AValue.date().month();
    p.Day = AValue.date().day();
    p.Hour = AValue.time().hour();
    p.Minute = AValue.time().minute();
    p.Second = AValue.time().second();
    TDateTime value = AFallback;
    return TryEncodeDateTime(p, value) ? value : AFallback;
}

// The program's time format names the 12-hour marker "tt"; Qt reads "t"
// as a time zone and calls the marker "AP".
QString QtDisplayFormat(const QString &AFormat)
{
    QString format = AFormat;
    format.replace(QLatin1String("tt"), QLatin1String("AP"));
    return format;
}

void ShowPicker(QDateTimeEdit *AEdit, const TDateTimePickerState &AState)
{
    const QSignalBlocker block(AEdit);
    const bool date = AState.Kind() == TDateTimePickerState::TKind::dtkDate;
    if (AEdit->calendarPopup() != date)
        AEdit->setCalendarPopup(date);
    const QString format = QtDisplayFormat(AState.Format());
    if (AEdit->displayFormat() != format)
        AEdit->setDisplayFormat(format);
    AEdit->setDateTime(ToQDateTime(AState.DateTime()));
}

} // namespace

void BindDateTimePicker(QDateTimeEdit *AEdit, TDateTimePickerState &AState)
{
    BindControl(AEdit, AState);
    ShowPicker(AEdit, AState);
    QPointer<QDateTimeEdit> edit(AEdit);
    const int id = AState.Subscribe([edit, &AState](TControlState &, TStateAspect AAspect) {
        if (edit && (AAspect == TStateAspect::saText || AAspect == TStateAspect::saItems))
            ShowPicker(edit, AState);
    });
    TDateTimePickerState *state = &AState;
    QObject::connect(AEdit, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
    QObject::connect(AEdit, &QDateTimeEdit::dateTimeChanged, AEdit, [AEdit, &AState](const QDateTime &AValue) {
        if (!AState.UserChange(FromQDateTime(AValue, AState.DateTime())))
            ShowPicker(AEdit, AState);
    });
}

TTimeSlotDialogView::TTimeSlotDialogView(TTimeSlotDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("TimeSlotDialog"));
    auto *main = new QVBoxLayout(this);

    auto *group = new QGroupBox(FLogic.gbTimeSlot.Caption(), this);
    group->setObjectName(QStringLiteral("gbTimeSlot"));
    BindControl(group, FLogic.gbTimeSlot);
    auto *grid = new QGridLayout(group);
    const std::pair<const char *, TRadioButtonState *> radios[] = {
        {"rbTmAll", &FLogic.rbTmAll},           {"rbTmNewer", &FLogic.rbTmNewer},
        {"rbTmOlder", &FLogic.rbTmOlder},       {"rbTmSpan", &FLogic.rbTmSpan},
        {"rbTmToday", &FLogic.rbTmToday},       {"rbTmLastDays", &FLogic.rbTmLastDays},
        {"rbTmPrevDays", &FLogic.rbTmPrevDays},
    };
    int row = 0;
    for (const auto &[name, state] : radios) {
        auto *radio = new QRadioButton(state->Caption(), group);
        radio->setObjectName(QLatin1String(name));
        BindRadioButton(radio, *state);
        Register(radio, *state);
        FWidgets.insert(state, radio);
        grid->addWidget(radio, row, 0);
        auto *beside = new QHBoxLayout;
        grid->addLayout(beside, row, 1);
        FRows.insert(state, beside);
        ++row;
    }
    grid->setColumnStretch(1, 1);

    const auto label = [group](const char *AName, TControlState &AState) {
        auto *l = new QLabel(group);
        l->setObjectName(QLatin1String(AName));
        BindLabel(l, AState);
        return l;
    };
    FFromLabel = label("lbFrom", FLogic.lbFrom);
    FToLabel = label("lbTo", FLogic.lbTo);
    FDaysLabel = label("lbDays", FLogic.lbDays);

    const auto picker = [this, group](const char *AName, TDateTimePickerState &AState) {
        auto *p = new QDateTimeEdit(group);
        p->setObjectName(QLatin1String(AName));
        BindDateTimePicker(p, AState);
        Register(p, AState);
        FWidgets.insert(&AState, p);
        return p;
    };
    FFromDate = picker("FromDate", FLogic.FromDate);
    FToDate = picker("ToDate", FLogic.ToDate);

    auto *days = new QLineEdit(group);
    days->setObjectName(QStringLiteral("reDays"));
    days->setMaximumWidth(days->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    BindNumberEdit(days, FLogic.reDays);
    auto *spin = new TNumUpDownView(FLogic.udDays, group);
    spin->setObjectName(QStringLiteral("udDays"));
    FDays = NumEditWithSpin(group, days, spin);
    // The row follows the day count's visibility.
    BindControl(FDays, FLogic.reDays);
    FWidgets.insert(&FLogic.reDays, days);
    main->addWidget(group);

    auto *stamp = new QGroupBox(this);
    stamp->setObjectName(QStringLiteral("rgTimeSelect"));
    BindRadioGroup(stamp, FLogic.rgTimeSelect);
    main->addWidget(stamp);

    AddOkCancelRow(main, FLogic.OKBtn, FLogic.CancelBtn);

    FLogic.OnArrange = [this] { Arrange(); };
    FLogic.FocusControl = [this](TControlState &AControl) {
        if (QWidget *w = FWidgets.value(&AControl))
            w->setFocus();
    };
    Arrange();
    SetReadOnlyTabStops(this, QAccessible::isActive());
}

TTimeSlotDialogView::~TTimeSlotDialogView()
{
    FLogic.OnArrange = nullptr;
    FLogic.FocusControl = nullptr;
}

void TTimeSlotDialogView::Arrange()
{
    // Empty every row (the widgets themselves stay).
    for (QHBoxLayout *row : std::as_const(FRows))
        while (QLayoutItem *item = row->takeAt(0))
            delete item;
    const auto besides = [this](const TControlState &AControl) { return FLogic.PlaceOf(AControl); };
    for (auto it = FRows.cbegin(); it != FRows.cend(); ++it) {
        QHBoxLayout *row = it.value();
        const TControlState *radio = it.key();
        if (radio == &FLogic.rbTmSpan) {
            row->addWidget(FFromLabel);
            if (besides(FLogic.FromDate) == &FLogic.lbFrom)
                row->addWidget(FFromDate);
            row->addWidget(FToLabel);
            if (besides(FLogic.ToDate) == &FLogic.lbTo)
                row->addWidget(FToDate);
        }
        if (besides(FLogic.FromDate) == radio)
            row->addWidget(FFromDate);
        if (besides(FLogic.ToDate) == radio)
            row->addWidget(FToDate);
        if (besides(FLogic.reDays) == radio) {
            row->addWidget(FDays);
            row->addWidget(FDaysLabel);
        }
        row->addStretch(1);
    }
}

} // namespace vl
