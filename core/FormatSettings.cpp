#include "core/FormatSettings.h"

#include <QLocale>

#include <mutex>
#include <optional>

namespace vl {

namespace {

std::mutex gMutex;
std::optional<TFormatSettings> gSettings;

QStringList Names(const QLocale &loc, bool months, QLocale::FormatType type)
{
    QStringList out;
    if (months) {
        for (int m = 1; m <= 12; ++m)
            out << loc.monthName(m, type);
    } else {
        // Sunday first, then Monday to Saturday.
        out << loc.dayName(7, type);
        for (int d = 1; d <= 6; ++d)
            out << loc.dayName(d, type);
    }
    return out;
}

} // namespace

TFormatSettings TFormatSettings::Invariant()
{
    TFormatSettings fs;
    const QLocale c = QLocale::c();
    fs.ShortMonthNames = Names(c, true, QLocale::ShortFormat);
    fs.LongMonthNames = Names(c, true, QLocale::LongFormat);
    fs.ShortDayNames = Names(c, false, QLocale::ShortFormat);
    fs.LongDayNames = Names(c, false, QLocale::LongFormat);
    return fs;
}

TFormatSettings TFormatSettings::FromSystemLocale()
{
    const QLocale loc = QLocale::system();
    if (loc.language() == QLocale::C)
        return Invariant();
    TFormatSettings fs;
    fs.DecimalSeparator = loc.decimalPoint().isEmpty() ? QLatin1Char('.') : loc.decimalPoint().at(0);
    fs.ThousandSeparator = loc.groupSeparator().isEmpty() ? QChar() : loc.groupSeparator().at(0);
    fs.ShortDateFormat = QtPatternToFormatPattern(loc.dateFormat(QLocale::ShortFormat));
    fs.LongDateFormat = QtPatternToFormatPattern(loc.dateFormat(QLocale::LongFormat));
    fs.ShortTimeFormat = QtPatternToFormatPattern(loc.timeFormat(QLocale::ShortFormat));
    fs.LongTimeFormat = QtPatternToFormatPattern(loc.timeFormat(QLocale::LongFormat));
    // A long time pattern may name the time zone ("t" in Qt); drop it.
    fs.LongTimeFormat = fs.LongTimeFormat.trimmed();
    for (QChar ch : fs.ShortDateFormat)
        if (!ch.isLetter() && ch != QLatin1Char('\'') && ch != QLatin1Char('"')) {
            fs.DateSeparator = ch;
            break;
        }
    for (QChar ch : fs.LongTimeFormat)
        if (!ch.isLetter() && !ch.isSpace()) {
            fs.TimeSeparator = ch;
            break;
        }
    fs.TimeAMString = loc.amText();
    fs.TimePMString = loc.pmText();
    fs.CurrencyString = loc.currencySymbol();
    fs.ShortMonthNames = Names(loc, true, QLocale::ShortFormat);
    fs.LongMonthNames = Names(loc, true, QLocale::LongFormat);
    fs.ShortDayNames = Names(loc, false, QLocale::ShortFormat);
    fs.LongDayNames = Names(loc, false, QLocale::LongFormat);
    return fs;
}

const TFormatSettings &FormatSettings()
{
    std::lock_guard lock(gMutex);
    if (!gSettings)
        gSettings = TFormatSettings::FromSystemLocale();
    return *gSettings;
}

void SetFormatSettings(const TFormatSettings &settings)
{
    std::lock_guard lock(gMutex);
    gSettings = settings;
}

QString QtPatternToFormatPattern(const QString &qtPattern)
{
    QString out;
    const qsizetype n = qtPattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = qtPattern.at(i);
        if (c == QLatin1Char('\'')) {
            // Qt literal: '...' with '' for a quote; our literals use "..."
            QString lit;
            ++i;
            while (i < n) {
                if (qtPattern.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && qtPattern.at(i + 1) == QLatin1Char('\'')) {
                        lit += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    break;
                }
                lit += qtPattern.at(i++);
            }
            if (!lit.isEmpty())
                out += QLatin1Char('"') + lit + QLatin1Char('"');
            continue;
        }
        switch (c.unicode()) {
        case 'M': out += QLatin1Char('m'); break;
        case 'm': out += QLatin1Char('n'); break;
        case 'H': out += QLatin1Char('h'); break;
        case 'A':
        case 'a':
            out += QStringLiteral("ampm");
            if (i + 1 < n && (qtPattern.at(i + 1) == QLatin1Char('P') || qtPattern.at(i + 1) == QLatin1Char('p')))
                ++i;
            break;
        case 't': break; // time zone: not shown
        case 'd':
        case 'y':
        case 'h':
        case 's':
        case 'z':
            out += c;
            break;
        default:
            if (c.isLetter())
                out += QLatin1Char('"') + c + QLatin1Char('"');
            else
                out += c;
        }
    }
    return out;
}

} // namespace vl
