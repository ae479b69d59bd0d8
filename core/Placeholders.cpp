#include "core/Placeholders.h"

#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/FormatSettings.h"
#include "core/NumberUtils.h"
#include "core/ProgramEnv.h"
#include "core/ShellUtils.h"
#include "platform/System.h"

#include <QDate>

namespace vl {

namespace {

// ---- Clock ---------------------------------------------------------------------

TPlaceholderClock &ClockSlot()
{
    static TPlaceholderClock clock;
    return clock;
}

// The calendar values of one moment, read once per expansion so that all
// placeholders of a text agree even across midnight.
struct TMoment {
    TDateParts Parts;
    QDate Date;
    int IsoWeek = 0;
    int IsoWeekYear = 0;

    TMoment()
    {
        const TPlaceholderClock &clock = ClockSlot();
        Parts = DecodeDateTime(clock ? clock() : Now());
        Date = QDate(Parts.Year, Parts.Month, Parts.Day);
        IsoWeek = Date.weekNumber(&IsoWeekYear);
    }

    // ISO 8601: a week belongs to the month that holds its Thursday.
    int IsoWeekOfMonth() const
    {
        const QDate thursday = Date.addDays(4 - Date.dayOfWeek());
        return (thursday.day() - 1) / 7 + 1;
    }
};

QString Pad(int digits, int64_t value)
{
    return IntToStrZeroPad(digits, value);
}

QString WithoutDots(const QString &s)
{
    QString r = s;
    return r.remove(QLatin1Char('.'));
}

// Replaces every occurrence of entry (ignoring case) by the value, which is
// computed only when the entry occurs.
template <typename Value>
void Apply(QString &text, QLatin1String entry, Value &&value)
{
    if (text.contains(entry, Qt::CaseInsensitive))
        text.replace(entry, QString(value()), Qt::CaseInsensitive);
}

// Folders end without "/"; the root itself becomes "" so that "%x%/rest"
// stays a local path.
QString NoTrailingDelimiter(const QString &s)
{
    QString r = s;
    while (r.endsWith(QLatin1Char('/')))
        r.chop(1);
    return r;
}

// An environment variable; empty for names that could match the tail of
// another variable's entry ("A=B") or that the environment cannot hold.
QString EnvValue(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.contains(QChar(0)))
        return QString();
    return qEnvironmentVariable(name.toUtf8().constData());
}

// A decimal integer with optional sign, nothing else.
bool ParseInt(const QString &s, int &value)
{
    qsizetype i = 0;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')))
        ++i;
    if (i == s.size())
        return false;
    for (qsizetype k = i; k < s.size(); ++k)
        if (s[k] < QLatin1Char('0') || s[k] > QLatin1Char('9'))
            return false;
    bool ok = false;
    value = s.toInt(&ok);
    return ok;
}

// The first cycle placeholder of one kind ("%d#7%"): every occurrence of
// that exact text becomes ((x - 1) mod n) + 1, or the empty text when the
// length is missing, no integer, or 0 or less.
void ExpandCycle(QString &text, char kind, int64_t x)
{
    const QString head = QStringLiteral("%") + QLatin1Char(kind) + QLatin1Char('#');
    const qsizetype p = text.indexOf(head, 0, Qt::CaseInsensitive);
    if (p < 0)
        return;
    const qsizetype q = text.indexOf(QLatin1Char('%'), p + 1);
    if (q < 0)
        return;
    QString value;
    int n = 0;
    if (q > p + 3 && ParseInt(text.mid(p + 3, q - p - 3), n) && n > 0)
        value = Pad(n >= 100 ? 3 : n >= 10 ? 2 : 1, (x - 1) % n + 1);
    const QString placeholder = text.mid(p, q - p + 1);
    text.replace(placeholder, value, Qt::CaseInsensitive);
}

QString DateText(const TMoment &m)
{
    return Pad(4, m.Parts.Year) + QLatin1Char('-') + Pad(2, m.Parts.Month) + QLatin1Char('-') + Pad(2, m.Parts.Day);
}

QString TimeText(const TMoment &m)
{
    return Pad(2, m.Parts.Hour) + Pad(2, m.Parts.Minute) + Pad(2, m.Parts.Second);
}

QString YearAndWeek(const TMoment &m)
{
    return Pad(4, m.IsoWeekYear) + QLatin1Char('-') + Pad(2, m.IsoWeek);
}

void ApplyDateTable(QString &s, const TMoment &m)
{
    const TFormatSettings &fs = FormatSettings();
    const int dow = m.Parts.DayOfWeek - 1; // Sunday first, as the name lists
    const auto &t = DatePlaceHolders;
    Apply(s, t[0], [&] { return DateText(m); });
    Apply(s, t[1], [&] { return YearAndWeek(m); });
    Apply(s, t[2], [&] { return WithoutDots(fs.ShortDayNames.value(dow)); });
    Apply(s, t[3], [&] { return WithoutDots(fs.LongDayNames.value(dow)); });
    Apply(s, t[4], [&] { return Pad(1, m.Date.dayOfWeek()); });
    Apply(s, t[5], [&] { return Pad(3, m.Date.dayOfYear()); });
    Apply(s, t[6], [&] { return Pad(2, m.IsoWeek); });
    Apply(s, t[7], [&] { return Pad(2, m.Parts.Day); });
    Apply(s, t[8], [&] { return Pad(1, m.IsoWeekOfMonth()); });
    Apply(s, t[9], [&] { return Pad(2, m.Parts.Month); });
    Apply(s, t[10], [&] { return WithoutDots(fs.LongMonthNames.value(m.Parts.Month - 1)); });
    Apply(s, t[11], [&] { return Pad(4, m.Parts.Year); });
    Apply(s, t[12], [] { return LogonUserName(); });
    Apply(s, t[13], [] { return LocalComputerName(); });
}

QString ExpandDateTime(const QString &Text, int Counter, const TMoment &m)
{
    QString s = Text;
    ApplyDateTable(s, m);
    if (Counter > 0) {
        ExpandCycle(s, 'd', m.Date.dayOfYear());
        ExpandCycle(s, 'w', m.IsoWeek);
        ExpandCycle(s, 'm', m.Parts.Month);
        ExpandCycle(s, 'v', Counter);
    }
    const auto &t = TimePlaceHolders;
    const auto empty = [] { return QString(); };
    Apply(s, t[0], [&] { return TimeText(m); });
    Apply(s, t[1], [&] { return Pad(2, m.Parts.Hour); });
    Apply(s, t[2], [&] { return Pad(2, m.Parts.Minute); });
    for (int i = 3; i <= 6; ++i)
        Apply(s, t[i], empty);
    Apply(s, t[7], [] { return LogonUserName(); });
    Apply(s, t[8], [] { return LocalComputerName(); });
    Apply(s, t[9], empty);
    Apply(s, t[10], empty);
    return s;
}

} // namespace

// ---- Expansion ----------------------------------------------------------------------

QString ExpandDateTimePlaceHolders(const QString &Text, int Counter)
{
    return ExpandDateTime(Text, Counter, TMoment());
}

QString ExpandFolderPlaceHolders(const QString &Text)
{
    if (Text.isEmpty())
        return Text;
    QString s = Text;
    const auto folder = [](int csidl) { return [csidl] { return NoTrailingDelimiter(ShellFolderPath(csidl)); }; };
    const auto progFiles = [](uint8_t kind) { return [kind] { return NoTrailingDelimiter(ProgramFilesFolder(kind)); }; };
    const auto empty = [] { return QString(); };
    const auto &p = PathPlaceHolders;
    Apply(s, p[0], folder(CSIDL_PERSONAL));
    Apply(s, p[1], folder(CSIDL_APPDATA));
    Apply(s, p[2], folder(CSIDL_PROFILE));
    Apply(s, p[3], folder(CSIDL_DESKTOP));
    Apply(s, p[4], folder(CSIDL_FAVORITES));
    Apply(s, p[5], progFiles(0));
    Apply(s, p[6], [] { return NoTrailingDelimiter(ProgramPath); });
    Apply(s, p[7], [] { return LogonUserName(); });
    Apply(s, p[8], [] { return LocalComputerName(); });
    Apply(s, p[9], empty);
    Apply(s, p[10], empty);
    const auto &y = SystemPlaceHolders;
    Apply(s, y[0], folder(CSIDL_APPDATA));
    Apply(s, y[1], folder(CSIDL_LOCAL_APPDATA));
    Apply(s, y[2], [] { return NoTrailingDelimiter(AllUsersProfileDirectory()); });
    Apply(s, y[3], [] { return NoTrailingDelimiter(PublicDirectory()); });
    Apply(s, y[4], progFiles(4));
    Apply(s, y[5], progFiles(5));
    Apply(s, y[6], progFiles(2));
    Apply(s, y[7], progFiles(3));
    // The folder for data shared by all users and programs (/var/lib).
    Apply(s, y[8], folder(CSIDL_COMMON_APPDATA));
    Apply(s, y[9], folder(CSIDL_PROFILE));
    return s;
}

QString PathBeforePlaceHolder(const QString &Path)
{
    if (!Path.contains(QLatin1Char('%')))
        return Path;
    QString result;
    for (const QString &element : Path.split(QLatin1Char('/'))) {
        if (element.contains(QLatin1Char('%')))
            break;
        result += element + QLatin1Char('/');
    }
    return result;
}

bool HasDateTimePlaceHolder(const QString &Text)
{
    const auto has = [&](QLatin1String s) { return Text.contains(s, Qt::CaseInsensitive); };
    for (QLatin1String entry : DatePlaceHolders)
        if (has(entry))
            return true;
    for (int i : {0, 1, 2, 7, 8, 9, 10})
        if (has(TimePlaceHolders[i]))
            return true;
    for (int i = 3; i <= 6; ++i)
        if (has(TimePlaceHolders[i].left(3)))
            return true;
    return false;
}

QString ExpandLogPlaceHolders(const QString &Text, const QString &Dest)
{
    const TMoment m;
    QString s = Text;
    const auto &t = LogPlaceHolders;
    Apply(s, t[0], [&] { return DateText(m); });
    Apply(s, t[1], [&] { return TimeText(m); });
    Apply(s, t[2], [&] { return YearAndWeek(m); });
    Apply(s, t[3], [&] { return Pad(4, m.Parts.Year) + QLatin1Char('-') + Pad(2, m.Parts.Month); });
    Apply(s, t[4], [&] { return Pad(4, m.Parts.Year); });
    Apply(s, t[5], [] { return LogonUserName(); });
    Apply(s, t[6], [] { return LocalComputerName(); });
    Apply(s, t[7], [&] { return Dest; });
    Apply(s, t[8], [&] { return NoTrailingDelimiter(DriveOfPath(Dest)); });
    Apply(s, t[9], [&] {
        QString path = Dest;
        QString label;
        switch (ResolveVolumeLabelPath(path, label, false)) {
        case 1:
            return label;
        case 0:
            if (IsLocalPath(Dest) && GetVolumeLabel(Dest, label))
                return label;
            break;
        }
        return QString();
    });
    return s;
}

QString ExpandDestPlaceHolders(const QString &Text, const QString &VolumeName, int Counter)
{
    QString s = Text;
    s.replace(TimePlaceHolders[9], VolumeName, Qt::CaseInsensitive);
    // Tokens pair "%" signs from the left; only "%evar(NAME)%" ones count.
    QStringList tokens;
    const QChar percent = QLatin1Char('%');
    for (qsizetype from = 0;;) {
        const qsizetype open = s.indexOf(percent, from);
        const qsizetype close = open < 0 ? -1 : s.indexOf(percent, open + 1);
        if (close < 0)
            break;
        const QString token = s.mid(open, close - open + 1);
        if (token.startsWith(QLatin1String("%evar"), Qt::CaseInsensitive))
            tokens << token;
        from = close + 1;
    }
    for (const QString &token : tokens) {
        const qsizetype lp = token.indexOf(QLatin1Char('('));
        const qsizetype rp = lp < 0 ? -1 : token.indexOf(QLatin1Char(')'), lp + 1);
        if (rp < 0)
            continue;
        const QString value = EnvValue(token.mid(lp + 1, rp - lp - 1));
        if (!value.isEmpty())
            s.replace(token, value, Qt::CaseInsensitive);
    }
    return ExpandDateTimePlaceHolders(s, Counter);
}

QString ExpandEnvVariables(const QString &Text)
{
    QString r;
    const QChar percent = QLatin1Char('%');
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = Text.indexOf(percent, from);
        if (open < 0) {
            r += Text.mid(from);
            break;
        }
        r += Text.mid(from, open - from);
        const qsizetype close = Text.indexOf(percent, open + 1);
        if (close < 0) {
            r += Text.mid(open);
            break;
        }
        const QString value = EnvValue(Text.mid(open + 1, close - open - 1));
        r += value.isEmpty() ? Text.mid(open, close - open + 1) : value;
        from = close + 1;
    }
    return r;
}

// ---- Clock -------------------------------------------------------------

void SetPlaceholderClock(TPlaceholderClock Clock)
{
    ClockSlot() = std::move(Clock);
}

} // namespace vl
