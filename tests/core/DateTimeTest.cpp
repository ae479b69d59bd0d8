#include "core/DateTime.h"
#include "core/FileTimes.h"
#include "common/TestUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace vl;

namespace {

QString S(const char *utf8) { return QString::fromUtf8(utf8); }

class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(TFormatSettings::Invariant()); }
};

TFileTime FT(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    TFileTime ft = 0;
    EXPECT_TRUE(UtcDateTimeToFileTime(ft, EncodeDateTime(y, mo, d, h, mi, s, ms)));
    return ft;
}

} // namespace

TEST_F(DateTimeTest, CalendarEdges)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(EncodeDate(1980, 1, 1), 29221.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    TDateTime v;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, v));
    const TDateParts p = DecodeDateTime(-1.25);
    EXPECT_EQ(p.Year * 10000 + p.Month * 100 + p.Day, 18991229);
    EXPECT_EQ(p.Hour, 6);
    const TDateParts q = DecodeDateTime(EncodeDateTime(2106, 2, 7, 6, 28, 15, 999));
    EXPECT_EQ(q.Second * 1000 + q.MSec, 15999);
    EXPECT_EQ(DecodeDateTime(EncodeDate(2024, 3, 10)).DayOfWeek, 1); // a Sunday
    // ISO weekdays: Monday 1 .. Sunday 7, also before day 0 and late in a day.
    EXPECT_EQ(IsoWeekday(EncodeDate(2024, 3, 10)), 7);
    EXPECT_EQ(IsoWeekday(EncodeDate(2024, 3, 11) + 0.99), 1);
    EXPECT_EQ(IsoWeekday(0), 6);  // 1899-12-30, a Saturday
    EXPECT_EQ(IsoWeekday(-1.25), 5); // 1899-12-29 06:00, a Friday
}

TEST_F(DateTimeTest, FormatPatterns)
{
    const TDateTime v = EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
    struct Case { const char *pattern; const char *expected; };
    const Case cases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", "2024-03-05 14:07:09.045"},
        {"yyyymmdd-hhmm", "20240305-1407"},   // "mm" after "hh": minutes
        {"d.m.yy h:mm", "5.3.24 14:07"},
        {"mmm mmmm ddd dddd", "Mar March Tue Tuesday"},
        {"h:nn am/pm", "2:07 pm"},
        {"hh AMPM", "02 PM"},
        {"'mm' \"dd\" mm", "mm dd 03"},
        {"hh:nn 'a/p'", "14:07 a/p"}, // a quoted am/pm is text: 24 hours
        {"dd/mm/yyyy", "05/03/2024"},
        {"c", "2024/03/05 14:07:09"},
        {"tt", "14:07:09"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FormatDateTime(S(c.pattern), v), S(c.expected)) << c.pattern;
    EXPECT_EQ(FormatDateTime(S("c"), EncodeDate(2024, 3, 5)), S("2024/03/05"));
}

TEST_F(DateTimeTest, UnixSeconds)
{
    EXPECT_EQ(DateTimeToUnixSeconds(25569.5), 43200);
    EXPECT_EQ(DateTimeToUnixSeconds(25568), -86400);
    EXPECT_EQ(UnixSecondsToDateTime(0), 25569.0);
    const TDateParts p = DecodeDateTime(UnixSecondsToDateTime(4294967295u));
    EXPECT_EQ(FormatDateTime(S("yyyy-mm-dd hh:nn:ss"), UnixSecondsToDateTime(4294967295u)), S("2106-02-07 06:28:15"));
    EXPECT_EQ(p.MSec, 0);
    TFileTime ft;
    UnixSecondsToFileTime(4294967295u, ft);
    EXPECT_EQ(ft, kFileTimeUnixEpoch + 4294967295ULL * kFileTimeTicksPerSecond);
    EXPECT_EQ(FileTimeToUnixSeconds(ft), 4294967295LL);
    UnixSecondsToFileTime(0, ft);
    EXPECT_EQ(ft, kFileTimeUnixEpoch);
}

TEST_F(DateTimeTest, FileTimeEdges)
{
    // 1601-01-01 is tick 0; the largest representable time is in 30827.
    TDateTime v;
    ASSERT_TRUE(TryFileTimeToDateTime(0, v));
    EXPECT_EQ(v, EncodeDate(1601, 1, 1));
    EXPECT_EQ(FT(1601, 1, 1), 0u);
    EXPECT_EQ(FT(1970, 1, 1), kFileTimeUnixEpoch);
    // Beyond year 9999 no date-time exists: false and "now".
    EXPECT_FALSE(TryFileTimeToDateTime(0x7FFFFFFFFFFFFFFFULL, v));
    EXPECT_NEAR(v, Now(), 1.0 / 24);
    EXPECT_FALSE(TryFileTimeToDateTime(0x8000000000000000ULL, v));
    TFileTime ft = 1;
    EXPECT_FALSE(UtcDateTimeToFileTime(ft, EncodeDate(1600, 12, 31)));
    // Values far beyond any calendar give no file time: 2^32 years after
    // 2000 must not wrap to 1999-12-31.
    for (double far : {4294967296.0 * 365.2425 + 36526, 1e300, -1e19})
        EXPECT_FALSE(UtcDateTimeToFileTime(ft, far)) << far;
    EXPECT_EQ(DecodeDateTime(1e300).Year, 0);
    QString text;
    FileTimeToText(0xFFFFFFFFFFFFFFFFULL, text);
    EXPECT_EQ(text, S("???"));
    FileTimeToText(FT(2024, 3, 5, 14, 7, 9), text);
    EXPECT_EQ(text, S("2024/03/05 14:07:09"));
    // Timespec round trip keeps 100-ns precision and times before 1970.
    const timespec ts{-5, 123456700};
    const timespec back = FileTimeToTimespec(TimespecToFileTime(ts));
    EXPECT_EQ(back.tv_sec, -5);
    EXPECT_EQ(back.tv_nsec, 123456700);
}

TEST_F(DateTimeTest, DosDates)
{
    EXPECT_EQ(FileDateToDateTimeDef(0), 29221.0); // month and day 0 are invalid
    const uint32_t dos = (uint32_t(2024 - 1980) << 25) | (3u << 21) | (5u << 16) | (14u << 11) | (7u << 5) | 4u;
    EXPECT_EQ(FileDateToDateTimeDef(dos), EncodeDateTime(2024, 3, 5, 14, 7, 8, 0));
    EXPECT_EQ(FileTimeToFileDate(FT(2024, 3, 5, 14, 7, 9)), int32_t(dos)); // seconds in 2-s steps
    EXPECT_EQ(FileTimeToFileDate(FT(1979, 12, 31, 23, 59, 59)), 0);
    EXPECT_EQ(FileTimeToFileDate(FT(2108, 1, 1)), 0);
    EXPECT_NE(FileTimeToFileDate(FT(2107, 12, 31, 23, 59, 58)), 0);
    test::TScopedTimeZone zone("UTC");
    EXPECT_EQ(FileTimeToLocalFileDate(FT(1979, 6, 1)), -1);
    EXPECT_EQ(FileTimeToLocalFileDate(FT(2024, 3, 5, 14, 7, 9)), int32_t(dos));
    EXPECT_EQ(FileDateToUnixSeconds(dos), uint32_t(DateTimeToUnixSeconds(EncodeDateTime(2024, 3, 5, 14, 7, 8, 0))));
    EXPECT_EQ(FileDateToUnixSeconds(0), 0u);
}

TEST_F(DateTimeTest, LocalTimesFollowTheZoneRulesOfTheDate)
{
    test::TScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // Summer: UTC+2; winter: UTC+1, whatever the current date is.
    TDateTime local;
    ASSERT_TRUE(TryFileTimeToLocalDateTime(FT(2024, 7, 1, 10, 0, 0), local));
    EXPECT_EQ(FormatDateTime(S("yyyy-mm-dd hh:nn"), local), S("2024-07-01 12:00"));
    ASSERT_TRUE(TryFileTimeToLocalDateTime(FT(2024, 1, 1, 10, 0, 0), local));
    EXPECT_EQ(FormatDateTime(S("hh:nn"), local), S("11:00"));
    TFileTime back;
    ASSERT_TRUE(LocalDateTimeToFileTime(back, EncodeDateTime(2024, 7, 1, 12, 0, 0, 0)));
    EXPECT_EQ(back, FT(2024, 7, 1, 10, 0, 0));
    ASSERT_TRUE(LocalDateTimeToFileTime(back, EncodeDateTime(2024, 1, 1, 11, 0, 0, 0)));
    EXPECT_EQ(back, FT(2024, 1, 1, 10, 0, 0));
    // Local DOS dates of zip entries round-trip through UTC.
    const int32_t dos = FileTimeToLocalFileDate(FT(2024, 7, 1, 10, 0, 0));
    EXPECT_EQ(FileDateToDateTimeDef(uint32_t(dos)), EncodeDateTime(2024, 7, 1, 12, 0, 0, 0));
    EXPECT_EQ(int64_t(FileDateToUnixSeconds(uint32_t(dos))), FileTimeToUnixSeconds(FT(2024, 7, 1, 10, 0, 0)));
    TFileTimestamps ts;
    ts.SetTimeStamps(EncodeDateTime(2024, 1, 1, 11, 0, 0, 0), EncodeDateTime(2024, 7, 1, 12, 0, 0, 0));
    EXPECT_TRUE(ts.Valid);
    EXPECT_EQ(ts.CreationTime, FT(2024, 1, 1, 10, 0, 0));
    EXPECT_EQ(ts.LastWriteTime, FT(2024, 7, 1, 10, 0, 0));
    EXPECT_EQ(ts.LastAccessTime, ts.LastWriteTime);
    ts.Reset();
    EXPECT_FALSE(ts.Valid);
    EXPECT_EQ(ts.LastWriteTime, 0u);
}

TEST(FileAttrText, Letters)
{
    EXPECT_EQ(FileAttrToText(0), S("----"));
    EXPECT_EQ(FileAttrToText(0x20), S("-a--"));
    EXPECT_EQ(FileAttrToText(0x01 | 0x02 | 0x400), S("r-h-L"));
    EXPECT_EQ(FileAttrToText(0x27), S("rahs"));
}
