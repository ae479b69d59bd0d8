#include "core/FileTimes.h"

#include <cmath>
#include <ctime>

namespace vl {

namespace {

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kTicksPerDay = int64_t(kMSecsPerDay) * kTicksPerMs;
// Days from 1601-01-01 to 1899-12-30.
const int64_t kDays1601 = -DaysFromCivil(1601, 1, 1);

bool FileTimeToParts(TFileTime ft, TDateParts &p)
{
    if (ft > TFileTime(INT64_MAX))
        return false;
    const int64_t days = int64_t(ft / kTicksPerDay) - kDays1601;
    const int64_t ms = int64_t(ft % kTicksPerDay) / kTicksPerMs;
    CivilFromDays(days, p.Year, p.Month, p.Day);
    p.Hour = int(ms / 3600000);
    p.Minute = int(ms / 60000 % 60);
    p.Second = int(ms / 1000 % 60);
    p.MSec = int(ms % 1000);
    return p.Year <= 30827;
}

bool PartsToFileTime(const TDateParts &p, TFileTime &ft)
{
    if (p.Year < 1601 || p.Year > 30827 || p.Month < 1 || p.Month > 12 || p.Day < 1
        || p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0
        || p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.MSec < 0 || p.MSec > 999)
        return false;
    const int64_t days = DaysFromCivil(p.Year, p.Month, p.Day) + kDays1601;
    const int64_t ms = ((int64_t(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MSec;
    ft = TFileTime(days) * TFileTime(kTicksPerDay) + TFileTime(ms * kTicksPerMs);
    return true;
}

// Offset of local time from UTC, in seconds, at the UTC instant t.
bool UtcOffsetAt(time_t t, long &offset)
{
    tm local{};
    if (!localtime_r(&t, &local))
        return false;
    offset = local.tm_gmtoff;
    return true;
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool DosToParts(uint32_t dos, TDateParts &p)
{
    const uint32_t date = dos >> 16, time = dos & 0xFFFF;
    p.Year = int(date >> 9) + 1980;
    p.Month = int((date >> 5) & 0x0F);
    p.Day = int(date & 0x1F);
    p.Hour = int(time >> 11);
    p.Minute = int((time >> 5) & 0x3F);
    p.Second = int(time & 0x1F) * 2;
    p.MSec = 0;
    return IsValidDate(p.Year, p.Month, p.Day) && p.Hour < 24 && p.Minute < 60 && p.Second < 60;
}

bool FileTimeToDos(TFileTime ft, uint32_t &dos)
{
    TDateParts p;
    if (!FileTimeToParts(ft, p) || p.Year < 1980 || p.Year > 2107)
        return false;
    dos = (uint32_t(p.Year - 1980) << 25) | (uint32_t(p.Month) << 21) | (uint32_t(p.Day) << 16)
        | (uint32_t(p.Hour) << 11) | (uint32_t(p.Minute) << 5) | uint32_t(p.Second / 2);
    return true;
}

} // namespace

void TFileTimestamps::Reset()
{
    Valid = false;
    CreationTime = LastAccessTime = LastWriteTime = 0;
}

void TFileTimestamps::SetTimeStamps(TDateTime CTime, TDateTime MTime)
{
    Valid = true;
    LocalDateTimeToFileTime(CreationTime, CTime);
    LocalDateTimeToFileTime(LastAccessTime, MTime);
    LastWriteTime = LastAccessTime;
}

bool FileTimeToLocalFileTime(TFileTime utc, TFileTime &local)
{
    if (utc > TFileTime(INT64_MAX))
        return false;
    const int64_t secs = FloorDiv(int64_t(utc) - int64_t(kFileTimeUnixEpoch), int64_t(kFileTimeTicksPerSecond));
    long offset;
    if (!UtcOffsetAt(time_t(secs), offset))
        return false;
    const int64_t l = int64_t(utc) + int64_t(offset) * int64_t(kFileTimeTicksPerSecond);
    if (l < 0)
        return false;
    local = TFileTime(l);
    return true;
}

bool LocalFileTimeToFileTime(TFileTime local, TFileTime &utc)
{
    if (local > TFileTime(INT64_MAX))
        return false;
    // The offset depends on the UTC instant we are looking for: take the
    // offset at the local reading taken as UTC, then correct once (this
    // settles on a consistent answer across the daylight-saving switch).
    const int64_t secsLocal = FloorDiv(int64_t(local) - int64_t(kFileTimeUnixEpoch), int64_t(kFileTimeTicksPerSecond));
    long off1, off2;
    if (!UtcOffsetAt(time_t(secsLocal), off1) || !UtcOffsetAt(time_t(secsLocal - off1), off2))
        return false;
    const int64_t u = int64_t(local) - int64_t(off2) * int64_t(kFileTimeTicksPerSecond);
    if (u < 0)
        return false;
    utc = TFileTime(u);
    return true;
}

bool TryFileTimeToDateTime(TFileTime ft, TDateTime &value)
{
    TDateParts p;
    if (FileTimeToParts(ft, p) && TryEncodeDateTime(p, value))
        return true;
    value = Now();
    return false;
}

TDateTime FileTimeToUtcDateTime(TFileTime ft)
{
    TDateTime v;
    TryFileTimeToDateTime(ft, v);
    return v;
}

bool TryFileTimeToLocalDateTime(TFileTime ft, TDateTime &value)
{
    TFileTime local;
    if (!FileTimeToLocalFileTime(ft, local))
        return false;
    return TryFileTimeToDateTime(local, value);
}

TDateTime FileTimeToLocalDateTime(TFileTime ft)
{
    TDateTime v;
    if (!TryFileTimeToLocalDateTime(ft, v))
        return kDosMinDate;
    return v;
}

TDateTime FileDateToDateTimeDef(uint32_t dosDateTime)
{
    TDateParts p;
    TDateTime v;
    if (!DosToParts(dosDateTime, p) || !TryEncodeDateTime(p, v))
        return kDosMinDate;
    return v;
}

bool UtcDateTimeToFileTime(TFileTime &ft, TDateTime value)
{
    if (!std::isfinite(value))
        return false;
    return PartsToFileTime(DecodeDateTime(value), ft);
}

bool LocalDateTimeToFileTime(TFileTime &ft, TDateTime value)
{
    TFileTime local;
    return UtcDateTimeToFileTime(local, value) && LocalFileTimeToFileTime(local, ft);
}

int32_t FileTimeToLocalFileDate(TFileTime ft)
{
    TFileTime local;
    uint32_t dos;
    if (!FileTimeToLocalFileTime(ft, local) || !FileTimeToDos(local, dos))
        return -1;
    return int32_t(dos);
}

int32_t FileTimeToFileDate(TFileTime ft)
{
    uint32_t dos;
    if (!FileTimeToDos(ft, dos))
        return 0;
    return int32_t(dos);
}

int64_t DateTimeToUnixSeconds(TDateTime value)
{
    return int64_t(std::nearbyint((value - kUnixDateDelta) * 86400.0));
}

TDateTime UnixSecondsToDateTime(uint32_t seconds)
{
    return seconds / 86400.0 + kUnixDateDelta;
}

int64_t FileTimeToUnixSeconds(TFileTime ft)
{
    TDateTime v;
    TryFileTimeToDateTime(ft, v);
    return DateTimeToUnixSeconds(v);
}

void UnixSecondsToFileTime(uint32_t seconds, TFileTime &ft)
{
    UtcDateTimeToFileTime(ft, UnixSecondsToDateTime(seconds));
}

uint32_t FileDateToUnixSeconds(uint32_t dosDateTime)
{
    TDateParts p;
    TFileTime local, utc;
    if (!DosToParts(dosDateTime, p) || !PartsToFileTime(p, local) || !LocalFileTimeToFileTime(local, utc))
        return 0;
    return uint32_t(FileTimeToUnixSeconds(utc));
}

void ClearFileTime(TFileTime &ft)
{
    ft = 0;
}

void FileTimeToText(TFileTime ft, QString &text)
{
    TDateTime v;
    if (!TryFileTimeToDateTime(ft, v)) {
        text = QStringLiteral("???");
        return;
    }
    text = FormatDateTime(QStringLiteral("c"), v);
}

QString FileAttrToText(uint16_t attr)
{
    QString s;
    s += (attr & 0x01) ? QLatin1Char('r') : QLatin1Char('-');
    s += (attr & 0x20) ? QLatin1Char('a') : QLatin1Char('-');
    s += (attr & 0x02) ? QLatin1Char('h') : QLatin1Char('-');
    s += (attr & 0x04) ? QLatin1Char('s') : QLatin1Char('-');
    if (attr & 0x400)
        s += QLatin1Char('L');
    return s;
}

TFileTime TimespecToFileTime(const timespec &ts)
{
    const int64_t ticks = int64_t(ts.tv_sec) * int64_t(kFileTimeTicksPerSecond) + ts.tv_nsec / 100 + int64_t(kFileTimeUnixEpoch);
    return ticks < 0 ? 0 : TFileTime(ticks);
}

timespec FileTimeToTimespec(TFileTime ft)
{
    const int64_t rel = int64_t(ft) - int64_t(kFileTimeUnixEpoch);
    timespec ts{};
    ts.tv_sec = time_t(FloorDiv(rel, int64_t(kFileTimeTicksPerSecond)));
    ts.tv_nsec = long((rel - int64_t(ts.tv_sec) * int64_t(kFileTimeTicksPerSecond)) * 100);
    return ts;
}

TFileTime NowFileTime()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return TimespecToFileTime(ts);
}

} // namespace vl
