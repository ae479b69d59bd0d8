#include "core/DateTime.h"

#include "core/Exceptions.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace vl {

bool IsLeapYear(int year)
{
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool IsValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

int64_t DaysFromCivil(int year, int month, int day)
{
    // Days from 1970-01-01 by the era method, then shifted to 1899-12-30.
    const int64_t y = int64_t(year) - (month <= 2);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t unixDays = era * 146097 + doe - 719468;
    return unixDays + 25569;
}

void CivilFromDays(int64_t days, int &year, int &month, int &day)
{
    const int64_t z = days - 25569 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2));
}

bool TryEncodeDate(int year, int month, int day, TDateTime &value)
{
    if (!IsValidDate(year, month, day))
        return false;
    value = TDateTime(DaysFromCivil(year, month, day));
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime &value)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    value = (((hour * 60 + minute) * 60 + second) * 1000 + msec) / double(kMSecsPerDay);
    return true;
}

bool TryEncodeDateTime(const TDateParts &p, TDateTime &value)
{
    TDateTime d, t;
    if (!TryEncodeDate(p.Year, p.Month, p.Day, d) || !TryEncodeTime(p.Hour, p.Minute, p.Second, p.MSec, t))
        return false;
    value = d < 0 ? d - t : d + t;
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime v;
    if (!TryEncodeDate(year, month, day, v))
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return v;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    TDateTime v;
    TDateParts p;
    p.Year = year, p.Month = month, p.Day = day;
    p.Hour = hour, p.Minute = minute, p.Second = second, p.MSec = msec;
    if (!TryEncodeDateTime(p, v))
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return v;
}

namespace {
constexpr double kMaxDecodableDays = 3.6e11; // about a billion years
} // namespace

TDateParts DecodeDateTime(TDateTime value)
{
    TDateParts p;
    // Far beyond any calendar in use; larger values would wrap the year
    // into a valid-looking date (or overflow the day count).
    if (!std::isfinite(value) || std::fabs(value) > kMaxDecodableDays)
        return p;
    int64_t days = int64_t(std::trunc(value));
    int64_t ms = int64_t(std::llround(std::fabs(value - std::trunc(value)) * kMSecsPerDay));
    if (ms >= kMSecsPerDay) {
        ms -= kMSecsPerDay;
        days += value < 0 ? -1 : 1;
    }
    CivilFromDays(days, p.Year, p.Month, p.Day);
    p.Hour = int(ms / 3600000);
    p.Minute = int(ms / 60000 % 60);
    p.Second = int(ms / 1000 % 60);
    p.MSec = int(ms % 1000);
    // 1899-12-30 was a Saturday (7).
    p.DayOfWeek = int(((days % 7) + 7 + 6) % 7) + 1;
    return p;
}

namespace {

TDateTime FromQDateTime(const QDateTime &dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    TDateParts p;
    p.Year = d.year(), p.Month = d.month(), p.Day = d.day();
    p.Hour = t.hour(), p.Minute = t.minute(), p.Second = t.second(), p.MSec = t.msec();
    TDateTime v = 0;
    TryEncodeDateTime(p, v);
    return v;
}

} // namespace

int IsoWeekday(TDateTime value)
{
    // The day as DecodeDateTime reads it (before day 0 the time of day
    // counts forward from the date), Sunday 1 .. Saturday 7.
    return (DecodeDateTime(value).DayOfWeek + 5) % 7 + 1;
}

TDateTime Now()
{
    // localtime_r keeps the zone it has read: asking Qt for the current
    // local time re-reads the zone file on every call, and runs ask for
    // the time once per file.
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    if (!localtime_r(&ts.tv_sec, &local))
        return FromQDateTime(QDateTime::currentDateTime());
    TDateParts p;
    p.Year = local.tm_year + 1900, p.Month = local.tm_mon + 1, p.Day = local.tm_mday;
    p.Hour = local.tm_hour, p.Minute = local.tm_min, p.Second = std::min(local.tm_sec, 59);
    p.MSec = int(ts.tv_nsec / 1000000);
    TDateTime v = 0;
    TryEncodeDateTime(p, v);
    return v;
}

TDateTime NowUtc()
{
    return FromQDateTime(QDateTime::currentDateTimeUtc());
}

namespace {

QString Two(int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); }

struct TFormatter {
    const TFormatSettings &fs;
    TDateTime value;
    TDateParts p;
    QString out;
    int depth = 0;

    // Quoted literals are left out: they are text, not specifiers.
    bool Uses12Hour(const QString &f) const
    {
        QString l;
        for (qsizetype i = 0; i < f.size(); ++i) {
            const QChar ch = f.at(i);
            if (ch == QLatin1Char('\'') || ch == QLatin1Char('"')) {
                const qsizetype end = f.indexOf(ch, i + 1);
                i = end < 0 ? f.size() : end;
                l += QLatin1Char('\'');
            } else {
                l += ch.toLower();
            }
        }
        return l.contains(QStringLiteral("am/pm")) || l.contains(QStringLiteral("a/p")) || l.contains(QStringLiteral("ampm"));
    }

    void Run(const QString &f)
    {
        if (++depth > 2) { // a locale pattern that names itself again
            --depth;
            return;
        }
        const bool twelve = Uses12Hour(f);
        QChar lastToken;
        const qsizetype n = f.size();
        qsizetype i = 0;
        auto count = [&](QChar c) {
            qsizetype k = i;
            while (k < n && f.at(k).toLower() == c)
                ++k;
            return int(k - i);
        };
        while (i < n) {
            const QChar ch = f.at(i);
            QChar token = ch.toUpper();
            if (token >= QLatin1Char('A') && token <= QLatin1Char('Z')) {
                if (token == QLatin1Char('M') && lastToken == QLatin1Char('H'))
                    token = QLatin1Char('N');
                lastToken = token;
            }
            switch (token.unicode()) {
            case 'Y': {
                const int c = count(QLatin1Char('y'));
                i += c;
                out += c <= 2 ? Two(p.Year % 100) : QString::number(p.Year).rightJustified(4, QLatin1Char('0'));
                break;
            }
            case 'M':
            case 'N': {
                const int c = count(ch.toLower());
                i += c;
                const bool minutes = token == QLatin1Char('N');
                if (minutes) {
                    out += c == 1 ? QString::number(p.Minute) : Two(p.Minute);
                } else if (c == 1) {
                    out += QString::number(p.Month);
                } else if (c == 2) {
                    out += Two(p.Month);
                } else if (c == 3) {
                    out += fs.ShortMonthNames.value(p.Month - 1);
                } else {
                    out += fs.LongMonthNames.value(p.Month - 1);
                }
                break;
            }
            case 'D': {
                const int c = count(QLatin1Char('d'));
                i += c;
                switch (c) {
                case 1: out += QString::number(p.Day); break;
                case 2: out += Two(p.Day); break;
                case 3: out += fs.ShortDayNames.value(p.DayOfWeek - 1); break;
                case 4: out += fs.LongDayNames.value(p.DayOfWeek - 1); break;
                case 5: Run(fs.ShortDateFormat); break;
                default: Run(fs.LongDateFormat); break;
                }
                break;
            }
            case 'H': {
                const int c = count(QLatin1Char('h'));
                i += c;
                int h = p.Hour;
                if (twelve) {
                    h %= 12;
                    if (h == 0)
                        h = 12;
                }
                out += c == 1 ? QString::number(h) : Two(h);
                break;
            }
            case 'S': {
                const int c = count(QLatin1Char('s'));
                i += c;
                out += c == 1 ? QString::number(p.Second) : Two(p.Second);
                break;
            }
            case 'Z': {
                const int c = count(QLatin1Char('z'));
                i += c;
                out += c == 1 ? QString::number(p.MSec) : QString::number(p.MSec).rightJustified(3, QLatin1Char('0'));
                break;
            }
            case 'T': {
                const int c = count(QLatin1Char('t'));
                i += c;
                Run(c == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat);
                break;
            }
            case 'C':
                ++i;
                Run(fs.ShortDateFormat);
                if (p.Hour || p.Minute || p.Second || p.MSec) {
                    out += QLatin1Char(' ');
                    Run(fs.LongTimeFormat);
                }
                break;
            case 'A': {
                const QStringView rest = QStringView(f).mid(i);
                const bool pm = p.Hour >= 12;
                if (rest.startsWith(QLatin1String("am/pm"), Qt::CaseInsensitive)) {
                    // Keeps the case the pattern uses.
                    const QStringView word = pm ? rest.mid(3, 2) : rest.mid(0, 2);
                    out += word.toString();
                    i += 5;
                } else if (rest.startsWith(QLatin1String("a/p"), Qt::CaseInsensitive)) {
                    out += (pm ? rest.mid(2, 1) : rest.mid(0, 1)).toString();
                    i += 3;
                } else if (rest.startsWith(QLatin1String("ampm"), Qt::CaseInsensitive)) {
                    out += pm ? fs.TimePMString : fs.TimeAMString;
                    i += 4;
                } else {
                    out += ch;
                    ++i;
                }
                break;
            }
            case '/':
                out += fs.DateSeparator;
                ++i;
                break;
            case ':':
                out += fs.TimeSeparator;
                ++i;
                break;
            case '\'':
            case '"': {
                const qsizetype end = f.indexOf(ch, i + 1);
                const qsizetype stop = end < 0 ? n : end;
                out += f.mid(i + 1, stop - i - 1);
                i = end < 0 ? n : end + 1;
                break;
            }
            default:
                out += ch;
                ++i;
            }
        }
        --depth;
    }
};

} // namespace

QString FormatDateTime(const QString &pattern, TDateTime value, const TFormatSettings &fs)
{
    TFormatter f{fs, value, DecodeDateTime(value), {}};
    f.Run(pattern.isEmpty() ? QStringLiteral("c") : pattern);
    return f.out;
}

} // namespace vl
