// Locale conventions used when numbers and dates are turned into text.
//
// One process-wide record, taken from the system locale at first use; tests
// and the language selection may replace it. Date and time patterns use the
// program's own letters (see FormatDateTime): "d", "m", "y", "h", "n"
// (minutes), "s", "z", "ampm".
#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

namespace vl {

struct TFormatSettings {
    QChar DecimalSeparator = QLatin1Char('.');
    QChar ThousandSeparator = QLatin1Char(',');
    QChar DateSeparator = QLatin1Char('/');
    QChar TimeSeparator = QLatin1Char(':');
    QString ShortDateFormat = QStringLiteral("yyyy/mm/dd");
    QString LongDateFormat = QStringLiteral("dddd, mmmm d, yyyy");
    QString ShortTimeFormat = QStringLiteral("hh:nn");
    QString LongTimeFormat = QStringLiteral("hh:nn:ss");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    QString CurrencyString = QStringLiteral("$");
    int CurrencyDecimals = 2;
    QStringList ShortMonthNames; // 12 entries
    QStringList LongMonthNames;  // 12 entries
    QStringList ShortDayNames;   // 7 entries, Sunday first
    QStringList LongDayNames;    // 7 entries, Sunday first

    // English names, the separators and patterns above.
    static TFormatSettings Invariant();
    // The conventions of the system locale (LC_ALL/LC_NUMERIC/LC_TIME).
    static TFormatSettings FromSystemLocale();
};

// The process-wide settings; read from the system locale at first use.
const TFormatSettings &FormatSettings();
void SetFormatSettings(const TFormatSettings &settings);

// Converts a Qt date/time pattern ("dd.MM.yyyy HH:mm") to the program's
// letters ("dd.mm.yyyy hh:nn").
QString QtPatternToFormatPattern(const QString &qtPattern);

} // namespace vl
