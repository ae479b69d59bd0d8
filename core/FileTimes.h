// File times and their conversions: the one place where times change form.
//
// TFileTime: 100-ns ticks since 1601-01-01 (UTC unless a name says local),
// the form the engine keeps. TDateTime: days since 1899-12-30 (local unless
// a name says UTC), the form task files store and windows show. DOS date
// and time: local, two-second steps, 1980 to 2107, the form of zip entries.
// Unix seconds: the form of the gzip and encrypted-file headers.
//
// Local/UTC conversions apply the time-zone rules in force at the date
// converted, so a summer file time shows the same hour in winter and zip
// entries agree with other tools on this system.
#pragma once

#include "core/DateTime.h"

#include <QString>

#include <cstdint>
#include <ctime>

namespace vl {

using TFileTime = uint64_t;

inline constexpr TFileTime kFileTimeUnixEpoch = 116444736000000000ULL; // 1970-01-01
inline constexpr TFileTime kFileTimeTicksPerSecond = 10000000ULL;
inline constexpr TDateTime kDosMinDate = 29221; // 1980-01-01

struct TFileTimestamps {
    bool Valid = false;
    TFileTime CreationTime = 0;
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;

    void Reset();
    // Times given as local date-times; the access time takes MTime.
    void SetTimeStamps(TDateTime CTime, TDateTime MTime);
};

bool TryFileTimeToDateTime(TFileTime ft, TDateTime &value);
TDateTime FileTimeToUtcDateTime(TFileTime ft);
bool TryFileTimeToLocalDateTime(TFileTime ft, TDateTime &value);
TDateTime FileTimeToLocalDateTime(TFileTime ft);
TDateTime FileDateToDateTimeDef(uint32_t dosDateTime);
bool UtcDateTimeToFileTime(TFileTime &ft, TDateTime value);
bool LocalDateTimeToFileTime(TFileTime &ft, TDateTime value);
int32_t FileTimeToLocalFileDate(TFileTime ft);
int32_t FileTimeToFileDate(TFileTime ft);
int64_t DateTimeToUnixSeconds(TDateTime value);
TDateTime UnixSecondsToDateTime(uint32_t seconds);
int64_t FileTimeToUnixSeconds(TFileTime ft);
void UnixSecondsToFileTime(uint32_t seconds, TFileTime &ft);
uint32_t FileDateToUnixSeconds(uint32_t dosDateTime);
void ClearFileTime(TFileTime &ft);
void FileTimeToText(TFileTime ft, QString &text);
// "rahs" with "-" for clear bits, then "L" for a link: "-a--", "r-h-L".
QString FileAttrToText(uint16_t attr);

// Local file time (UTC ticks shifted by the zone offset at that time) and
// back; false when the time cannot be represented.
bool FileTimeToLocalFileTime(TFileTime utc, TFileTime &local);
bool LocalFileTimeToFileTime(TFileTime local, TFileTime &utc);

// File-system times (seconds and nanoseconds since 1970, UTC) and back.
TFileTime TimespecToFileTime(const timespec &ts);
timespec FileTimeToTimespec(TFileTime ft);
// The current time as a UTC file time.
TFileTime NowFileTime();

} // namespace vl
