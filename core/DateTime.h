// The program's date/time value and its calendar arithmetic.
//
// TDateTime counts days since 1899-12-30 00:00 as a double; the fraction is
// the time of day. It is what task files store and windows show, in local
// wall-clock time unless a name says UTC. A negative value counts days
// backwards, with the fraction still the time of day (-1.25 is 1899-12-29
// 06:00).
#pragma once

#include "core/FormatSettings.h"

#include <QString>

#include <cstdint>

namespace vl {

using TDateTime = double;

inline constexpr TDateTime kUnixDateDelta = 25569; // 1970-01-01
inline constexpr int kMSecsPerDay = 86400000;

struct TDateParts {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
    int DayOfWeek = 0; // 1 = Sunday ... 7 = Saturday
};

bool IsValidDate(int year, int month, int day);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Days between 1899-12-30 and the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int &year, int &month, int &day);

// Years 1 to 9999 are valid dates.
bool TryEncodeDate(int year, int month, int day, TDateTime &value);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime &value);
bool TryEncodeDateTime(const TDateParts &parts, TDateTime &value);
// Raising forms (EConvertError).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);

// Splits a value into its parts, rounded to the millisecond. A value that is
// not finite or lies beyond about a billion years gives all parts 0.
TDateParts DecodeDateTime(TDateTime value);

// The ISO weekday of a date: 1 = Monday .. 7 = Sunday.
int IsoWeekday(TDateTime value);

// The current local date and time; and in UTC.
TDateTime Now();
TDateTime NowUtc();

// Formats a date/time with the program's pattern letters:
// d dd ddd dddd ddddd (short date) dddddd (long date); m mm mmm mmmm
// (months; "m"/"mm" after an hour specifier are minutes); yy yyyy; h hh;
// n nn (minutes); s ss; z zzz; t (short time) tt (long time); c (short date
// and long time, the time left out at midnight); am/pm a/p ampm (also make
// hours 12-hour); "/" and ":" the locale's date and time separators;
// '...' and "..." literals. Other characters are copied.
QString FormatDateTime(const QString &pattern, TDateTime value, const TFormatSettings &fs = FormatSettings());

} // namespace vl
