#include "backup/AutoTask.h"

#include "core/Format.h"
#include "core/IniFile.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/Translate.h"

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Day numbers of the stored time stamps count 0001-01-01 as day 1.
constexpr int64_t kDateDelta = 693594;    // 1899-12-30
constexpr int64_t kFirstLastDate = 693596; // 1900-01-01
constexpr int64_t kDefaultBackupMs = 28800000; // 08:00

constexpr int kWeekDayCurrent = 512; // "WeekDay" written by this version
constexpr int kWeekDayRunIfMissed = 256;

int64_t DayNumber(TDateTime ADate)
{
    return int64_t(std::floor(ADate)) + kDateDelta;
}

// The TDateTime split into day number and milliseconds since midnight.
struct TStamp {
    int64_t Date = 0;
    int64_t Time = 0;
};

TStamp ToStamp(TDateTime T)
{
    const int64_t ms = std::llround(T * kMSecsPerDay);
    return {kDateDelta + ms / kMSecsPerDay, std::abs(ms) % kMSecsPerDay};
}

TDateTime FromStamp(int64_t ADate, int64_t AMs)
{
    return TDateTime(ADate - kDateDelta) + double(AMs) / kMSecsPerDay;
}

TDateTime Today()
{
    return std::floor(Now());
}

// The number before the ";" of a stored time stamp value; ADefault when it
// is missing or no number.
int64_t ReadStampNumber(const TMemIniFile &AIni, const QString &ASekt, const QString &AKey, int64_t ADefault)
{
    QString s = AIni.ReadString(ASekt, AKey, QString()).section(QLatin1Char(';'), 0, 0).trimmed();
    s = s.section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    const int64_t v = s.toLongLong(&ok);
    return ok ? v : ADefault;
}

bool ValidMs(int64_t AMs)
{
    return AMs >= 0 && AMs < kMSecsPerDay;
}

// Day numbers beyond 9999-12-31 cannot be shown or computed with.
bool ValidDayNumber(int64_t ADate)
{
    return ADate <= DaysFromCivil(9999, 12, 31) + kDateDelta;
}

QString TimeText(TDateTime T)
{
    return FormatDateTime(QStringLiteral("hh:nn:ss"), T);
}

} // namespace

TAutoTask::TAutoTask(const QString &AName) : TaskName(StripExtension(LastPathElement(AName))), TaskPath(AName)
{
    Reset();
}

void TAutoTask::Reset()
{
    BuProcess = TAutoStart::asNone;
    AutoEnd = TInteraction::iaDelay;
    ErrStatus = 0;
    ThPr = TThreadPriority::tpNormal;
    SchedProps = TSchedule{};
    SchedProps.StepMode = 0;
    SchedProps.AktZyk = 1;
    SchedProps.WeekZyk = 0;
    SchedProps.NumZyk = 1;
    SchedProps.FullZyk = 0;
    SchedProps.SchedMode = TSchedMode::smNormal;
    SchedProps.LastZyk = 1000;
    WeekDay = 127;
    RunIfMissed = true;
    LastTime = 0;
    NextTime = 1.0 / 3; // 08:00
}

bool TAutoTask::WeekdayInSchedule(TDateTime dt) const
{
    return (WeekDay >> (IsoWeekday(dt) - 1)) & 1;
}

void TAutoTask::LoadFromIni(const TMemIniFile &IniFile, const QString &Sekt)
{
    const QString caption = IniFile.ReadString(Sekt, QStringLiteral("Caption"), TaskName);
    if (!caption.isEmpty())
        TaskName = caption;

    // A value that names no member (hand-edited or damaged file) gives the
    // default rather than an enum value nothing else expects.
    const int mode = IniFile.ReadInteger(Sekt, QStringLiteral("Mode"), 0);
    BuProcess = mode >= 0 && mode <= int(TAutoStart::asByRequest) ? TAutoStart(mode) : TAutoStart::asNone;
    const int autoEnd = IniFile.ReadInteger(Sekt, QStringLiteral("AutoEnd"), 1);
    AutoEnd = autoEnd >= 0 && autoEnd <= int(TInteraction::iaQuietError) ? TInteraction(autoEnd)
                                                                         : TInteraction::iaDelay;
    // Only the priorities the schedules page offers (tpLowest .. tpHigher).
    const int priority = IniFile.ReadInteger(Sekt, QStringLiteral("Priority"), 3);
    ThPr = priority >= int(TThreadPriority::tpLowest) && priority <= int(TThreadPriority::tpHigher)
               ? TThreadPriority(priority)
               : TThreadPriority::tpNormal;
    ErrStatus = IniFile.ReadInteger(Sekt, QStringLiteral("ErrorStatus"), 0);

    TSchedule &s = SchedProps;
    s.StepMode = IniFile.ReadInteger(Sekt, QStringLiteral("StepMode"), 0);
    if (s.StepMode < 0 || s.StepMode > 3)
        s.StepMode = 0;

    int cycles = IniFile.ReadInteger(Sekt, QStringLiteral("Cycles"), 1);
    if (cycles < 0)
        cycles = 1;
    if (s.StepMode != 1)
        cycles %= 1000;
    if (cycles > 1000) {
        s.FullZyk = cycles / 1000;
        s.NumZyk = cycles % 1000;
    } else {
        s.FullZyk = 0;
        s.NumZyk = cycles;
    }
    // The due logic divides by the step count, and the full-backup day is
    // a weekday.
    if (s.NumZyk < 1 || s.NumZyk > 999)
        s.NumZyk = 1;
    if (s.FullZyk > 6)
        s.FullZyk = 0;

    int actCycle = IniFile.ReadInteger(Sekt, QStringLiteral("ActCycle"), 1);
    if (actCycle < 0)
        actCycle = 1;
    if (actCycle > 1000) {
        s.WeekZyk = actCycle / 1000;
        s.AktZyk = actCycle % 1000;
    } else {
        s.WeekZyk = 0;
        s.AktZyk = actCycle;
    }

    const int schedMode = IniFile.ReadInteger(Sekt, QStringLiteral("SchedMode"), 0);
    s.SchedMode = schedMode >= 0 && schedMode <= int(TSchedMode::smIncr2) ? TSchedMode(schedMode)
                                                                          : TSchedMode::smNormal;
    s.LastZyk = IniFile.ReadInteger(Sekt, QStringLiteral("LastCycle"), 1000);
    if (s.LastZyk < 0 || s.LastZyk > 1000)
        s.LastZyk = 1000;

    const int weekDay = IniFile.ReadInteger(Sekt, QStringLiteral("WeekDay"), 127);
    RunIfMissed = (weekDay & kWeekDayRunIfMissed) != 0;
    // Older versions stored no mask for "Daily at selected time" (every day).
    if ((weekDay & kWeekDayCurrent) == 0 && BuProcess == TAutoStart::asDailyAt)
        WeekDay = 127;
    else
        WeekDay = uint32_t(weekDay) & 0xFF;

    const TDateTime today = Today();
    const int64_t lastDate = ReadStampNumber(IniFile, Sekt, QStringLiteral("LastDate"), 0);
    int64_t lastMs = ReadStampNumber(IniFile, Sekt, QStringLiteral("LastTime"), 0);
    if (!ValidMs(lastMs))
        lastMs = 0;
    LastTime = lastDate < kFirstLastDate ? 0 : FromStamp(lastDate, lastMs);
    if (LastTime > today + 1)
        LastTime = 0;

    const int64_t nextDate = ReadStampNumber(IniFile, Sekt, QStringLiteral("BackupDate"), DayNumber(today));
    int64_t nextMs = ReadStampNumber(IniFile, Sekt, QStringLiteral("BackupTime"), kDefaultBackupMs);
    if (!ValidMs(nextMs))
        nextMs = kDefaultBackupMs;
    if (nextDate <= kDateDelta + 1 || !ValidDayNumber(nextDate))
        NextTime = today + double(nextMs) / kMSecsPerDay;
    else
        NextTime = FromStamp(nextDate, nextMs);
}

void TAutoTask::SaveToIni(TUnicodeIniFile &IniFile, const QString &Sekt)
{
    if (TaskPath.isEmpty()) {
        Reset();
        TaskName.clear();
    }
    IniFile.EraseSectionValues(Sekt);
    IniFile.WriteString(Sekt, QStringLiteral("Name"), TaskPath);
    IniFile.WriteString(Sekt, QStringLiteral("Caption"), TaskName);
    IniFile.WriteInteger(Sekt, QStringLiteral("Mode"), int(BuProcess));
    IniFile.WriteInteger(Sekt, QStringLiteral("AutoEnd"), int(AutoEnd));
    IniFile.WriteInteger(Sekt, QStringLiteral("Priority"), int(ThPr));
    IniFile.WriteInteger(Sekt, QStringLiteral("ErrorStatus"), ErrStatus);
    IniFile.WriteInteger(Sekt, QStringLiteral("StepMode"), SchedProps.StepMode);
    IniFile.WriteInteger(Sekt, QStringLiteral("Cycles"), SchedProps.FullZyk * 1000 + SchedProps.NumZyk);
    IniFile.WriteInteger(Sekt, QStringLiteral("ActCycle"), SchedProps.WeekZyk * 1000 + SchedProps.AktZyk);
    IniFile.WriteInteger(Sekt, QStringLiteral("SchedMode"), int(SchedProps.SchedMode));
    IniFile.WriteInteger(Sekt, QStringLiteral("LastCycle"), SchedProps.LastZyk);
    IniFile.WriteInteger(Sekt, QStringLiteral("WeekDay"),
                         int(WeekDay & 0xFF) | kWeekDayCurrent | (RunIfMissed ? kWeekDayRunIfMissed : 0));
    WriteRunTimes(IniFile, Sekt);
}

void TAutoTask::SaveScheduleToIni(TUnicodeIniFile &IniFile, const QString &Sekt, int ExitCode, bool BuSucceeded)
{
    ErrStatus = ExitCode;
    IniFile.WriteInteger(Sekt, QStringLiteral("ErrorStatus"), ErrStatus);
    if (!BuSucceeded)
        return;
    IniFile.WriteInteger(Sekt, QStringLiteral("ActCycle"), SchedProps.WeekZyk * 1000 + SchedProps.AktZyk);
    IniFile.WriteInteger(Sekt, QStringLiteral("LastCycle"), SchedProps.LastZyk);
    WriteRunTimes(IniFile, Sekt);
}

void TAutoTask::WriteRunTimes(TUnicodeIniFile &IniFile, const QString &Sekt) const
{
    const TStamp last = ToStamp(LastTime);
    IniFile.WriteString(Sekt, QStringLiteral("LastDate"),
                        QString::number(last.Date <= kDateDelta + 1 ? 0 : last.Date) + DateSuffixText(LastTime));
    IniFile.WriteString(Sekt, QStringLiteral("LastTime"),
                        QString::number(last.Time) + QStringLiteral(" ; ") + TimeText(LastTime));
    const TStamp next = ToStamp(NextTime);
    IniFile.WriteString(Sekt, QStringLiteral("BackupDate"), QString::number(next.Date) + DateSuffixText(NextTime));
    IniFile.WriteString(Sekt, QStringLiteral("BackupTime"),
                        QString::number(next.Time < 1000 ? 0 : next.Time) + QStringLiteral(" ; ") + TimeText(NextTime));
}

QString TAutoTask::GetScheduleDesc() const
{
    if (TaskPath.isEmpty())
        return QString();
    const bool today = IsoWeekday(NextTime) == IsoWeekday(Now());
    const QString time = FormatDateTime(DispTimeFormat, NextTime);
    const QString day = LongWeekDayName(IsoWeekday(NextTime));
    switch (BuProcess) {
    case TAutoStart::asLogon:
        return Tr("On next logon");
    case TAutoStart::asDaily:
        return Tr("Tomorrow on logon");
    case TAutoStart::asDailyAt:
        return today ? Tr("Today at ") + time : GuardedFormat(Tr("Next %s at %s"), day, time);
    case TAutoStart::asLogoff:
        return GuardedFormat(Tr("On logoff not before %s"), time);
    case TAutoStart::asWeekly:
        return Tr("On first logon on ") + day;
    case TAutoStart::asWeekDay:
        return today ? Tr("Today on next logoff") : Tr("On first logoff on ") + day;
    case TAutoStart::asByRequest:
        return Tr("By request");
    default:
        return Tr("Deactivated");
    }
}

QString TAutoTask::GetAltSchedDesc() const
{
    const TSchedule &s = SchedProps;
    if (s.StepMode < 1)
        return QString();
    static const char *const kSteps[] = {"D", "DW", "W"};
    static const char *const kModes[] = {"", "D", "I", "D2", "I2"};
    QString text = QLatin1String(kSteps[std::min(s.StepMode, 3) - 1]) + QString::number(s.NumZyk);
    const int mode = int(s.SchedMode);
    if (mode > 0 && mode <= 4)
        text += QLatin1Char('-') + QLatin1String(kModes[mode]);
    return text;
}

QString TAutoTask::GetScheduleInfo() const
{
    const TSchedule &s = SchedProps;
    if (s.StepMode < 1)
        return Tr("No schedule configured!");
    const int schedMode = int(s.SchedMode);
    QString mode;
    if (schedMode == 1 || schedMode == 3)
        mode = Tr("As in task + Differential");
    else if (schedMode == 2 || schedMode == 4)
        mode = Tr("As in task + Incremental");
    else
        mode = Tr("As defined in task");
    const QString head = Tr("Mode: ") + mode + kCrLf;

    if (schedMode != 0 && s.StepMode == 1 && s.NumZyk > 0 && s.NumZyk % 7 == 0) {
        const int weeks = s.NumZyk / 7;
        QString full = LongWeekDayName(s.FullZyk + 1);
        QString current = ShortWeekDayName(s.AktZyk);
        if (s.NumZyk > 7)
            current += QStringLiteral(", ") + OrdinalText(s.WeekZyk + 1) + Tr("week");
        const int w = schedMode >= 3 ? weeks / 2 : weeks;
        full = w <= 1 ? Tr("each") + QLatin1Char(' ') + full : Tr("each") + QLatin1Char(' ') + OrdinalText(w) + full;
        return head + GuardedFormat(Tr("Daily - %u-week cycle\r\nFull on %s"), weeks, full) + kCrLf
               + GuardedFormat(Tr("Current step: %s"), current);
    }

    QString pattern;
    switch (s.StepMode) {
    case 2:
        pattern = Tr("Daily - weekly change (%s weeks)") + kCrLf + Tr("Current step: %s") + QLatin1Char(' ')
                  + Tr("week");
        break;
    case 3:
        pattern = Tr("Weekly change (%s weeks)") + kCrLf + Tr("Current step: %s") + Tr("week");
        break;
    default:
        pattern = Tr("Daily change (%s days)") + kCrLf + Tr("Current step: %s") + Tr("day");
        break;
    }
    const QString n = schedMode < 3 ? QString::number(s.NumZyk) : QStringLiteral("2x") + QString::number(s.NumZyk / 2);
    return head + GuardedFormat(pattern, n, OrdinalText(s.AktZyk));
}

QString AutoTaskSection(int ANr)
{
    return QStringLiteral("AutoTask") + QString::number(ANr);
}

QString AutoStartText(TAutoStart AMode)
{
    switch (AMode) {
    case TAutoStart::asNone:
        return Tr("Never");
    case TAutoStart::asLogon:
        return Tr("Always on logon");
    case TAutoStart::asDaily:
        return Tr("Daily on logon");
    case TAutoStart::asDailyAt:
        return Tr("Daily at selected time");
    case TAutoStart::asLogoff:
        return Tr("Always on logoff");
    case TAutoStart::asWeekly:
        return Tr("On first logon");
    case TAutoStart::asWeekDay:
        return Tr("On first logoff");
    case TAutoStart::asByRequest:
        return Tr("By request");
    }
    return QString();
}

QStringList AutoStartTexts()
{
    QStringList list;
    for (int i = 0; i <= int(TAutoStart::asByRequest); ++i)
        list.append(AutoStartText(TAutoStart(i)));
    return list;
}

QString InteractionText(TInteraction AMode)
{
    switch (AMode) {
    case TInteraction::iaPrompt:
        return Tr("Wait for prompt");
    case TInteraction::iaDelay:
        return Tr("Close automatically");
    case TInteraction::iaQuiet:
        return Tr("Not visible");
    case TInteraction::iaErrorPrompt:
        return Tr("Wait only on errors");
    case TInteraction::iaQuietError:
        return Tr("Not visible except on errors");
    default:
        return QString();
    }
}

QStringList InteractionTexts()
{
    QStringList list;
    for (TInteraction i : kAutoEndChoices)
        list.append(InteractionText(i));
    return list;
}

QString ThreadPriorityText(TThreadPriority APriority)
{
    switch (APriority) {
    case TThreadPriority::tpNormal:
        return Tr("Normal");
    case TThreadPriority::tpLowest:
        return Tr("Very low");
    case TThreadPriority::tpLower:
        return Tr("Low");
    case TThreadPriority::tpHigher:
        return Tr("High");
    default:
        return QString();
    }
}

QStringList ThreadPriorityTexts()
{
    QStringList list;
    for (TThreadPriority p : kPriorityChoices)
        list.append(ThreadPriorityText(p));
    return list;
}

QString SchedModeText(TSchedMode AMode)
{
    switch (AMode) {
    case TSchedMode::smNormal:
        return Tr("As defined in task");
    case TSchedMode::smDiff:
        return Tr("1x As defined in task + Differential");
    case TSchedMode::smIncr:
        return Tr("1x As defined in task + Incremental");
    case TSchedMode::smDiff2:
        return Tr("2x As defined in task + Differential");
    case TSchedMode::smIncr2:
        return Tr("2x As defined in task + Incremental");
    }
    return QString();
}

QStringList SchedModeTexts()
{
    QStringList list;
    for (int i = 0; i <= int(TSchedMode::smIncr2); ++i)
        list.append(SchedModeText(TSchedMode(i)));
    return list;
}

} // namespace vl
