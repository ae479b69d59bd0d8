#include "core/ProgramTexts.h"

#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/TextFilter.h"
#include "core/Translate.h"

#include <QRegularExpression>

#include <cstdlib>

namespace vl {

namespace {

const QChar kBlank = QLatin1Char(' ');

// The order of day, month and year in a date pattern; "ymd" when the
// pattern does not show all three.
QString DateOrder(const QString &pattern)
{
    QString order;
    for (QChar c : pattern) {
        const QChar l = c.toLower();
        if ((l == QLatin1Char('d') || l == QLatin1Char('m') || l == QLatin1Char('y')) && !order.contains(l))
            order += l;
    }
    return order.size() == 3 ? order : QStringLiteral("ymd");
}

// Stand-in for a locale date-time reader of the text layer: a date of three
// numbers in the order of the locale's short date (a four-digit first
// number is always the year), then optionally hours, minutes, seconds and
// an AM/PM marker.
bool TryReadDateTimeText(const QString &text, TDateTime &value)
{
    value = 0;
    const QString s = text.trimmed();
    const qsizetype blank = s.indexOf(kBlank);
    const QString datePart = blank < 0 ? s : s.left(blank);
    const QString timePart = blank < 0 ? QString() : s.mid(blank + 1).trimmed();
    static const QRegularExpression digits(QStringLiteral("\\d+"));

    QStringList numbers;
    for (auto it = digits.globalMatch(datePart); it.hasNext();)
        numbers.append(it.next().captured());
    if (numbers.size() != 3)
        return false;
    const QString order = numbers.first().size() == 4 ? QStringLiteral("ymd") : DateOrder(FormatSettings().ShortDateFormat);
    int year = 0, month = 0, day = 0;
    for (int i = 0; i < 3; ++i) {
        const int n = numbers.at(i).toInt();
        switch (order.at(i).unicode()) {
        case 'y':
            year = numbers.at(i).size() <= 2 ? 2000 + n : n;
            break;
        case 'm':
            month = n;
            break;
        default:
            day = n;
            break;
        }
    }
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date))
        return false;

    TDateTime time = 0;
    if (!timePart.isEmpty()) {
        QList<int> parts;
        for (auto it = digits.globalMatch(timePart); it.hasNext();)
            parts.append(it.next().captured().toInt());
        if (parts.size() < 2 || parts.size() > 3)
            return false;
        int hour = parts.at(0);
        const QString lower = timePart.toLower();
        const TFormatSettings &fs = FormatSettings();
        const bool pm = lower.contains(QStringLiteral("pm")) || (!fs.TimePMString.isEmpty() && lower.contains(fs.TimePMString.toLower()));
        const bool am = lower.contains(QStringLiteral("am")) || (!fs.TimeAMString.isEmpty() && lower.contains(fs.TimeAMString.toLower()));
        if (pm && hour < 12)
            hour += 12;
        else if (am && !pm && hour == 12)
            hour = 0;
        if (!TryEncodeTime(hour, parts.at(1), parts.size() > 2 ? parts.at(2) : 0, 0, time))
            return false;
    }
    value = date + time;
    return true;
}

QString WithFirstUpper(const QString &s)
{
    return s.isEmpty() ? s : s.left(1).toUpper() + s.mid(1);
}

const char *const kMakerLine = "the Velkor developers";
// Placeholder until the project publishes its address.
const char *const kMakerAddress = "https://velkor.example";

} // namespace

QString ByteSizeText(bool Trim, int64_t Size)
{
    return FormatByteSize(Size, VlSettings.LogSettings.DecimalSizes, Trim);
}

QString FormatTimeStamp(TDateTime T)
{
    if (T < 1 || T >= 219148)
        return Tr("Invalid timestamp");
    return FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss"), T);
}

QString DateTimeText(TDateTime T)
{
    if (T < 36526) // 2000-01-01
        return QString();
    return FormatDateTime(DispDateFormat + kBlank + DispTimeFormat, T);
}

QString DateSuffixText(TDateTime T)
{
    if (T <= 0)
        return QString();
    return QStringLiteral(" ; ") + FormatDateTime(QStringLiteral("yyyy-mm-dd"), T);
}

QString WeekdaysText(int Days)
{
    QStringList names;
    for (int bit = 0; bit < 7; ++bit)
        if (Days & (1 << bit))
            names.append(ShortWeekDayName(bit + 1));
    return names.join(QLatin1Char(','));
}

QString FilesCopiedText(int Copied, int Total, int64_t CopiedSize, int64_t TotalSize)
{
    QString fmt = Tr("%u of %u files copied (%s of %s)");
    const QString copiedSize = ByteSizeText(false, CopiedSize);
    const QString totalSize = ByteSizeText(false, TotalSize);
    if (Copied > 9999 || Total > 9999) {
        fmt.replace(QStringLiteral("%u"), QStringLiteral("%.0n"));
        return GuardedFormat(fmt, double(Copied), double(Total), copiedSize, totalSize);
    }
    return GuardedFormat(fmt, Copied, Total, copiedSize, totalSize);
}

QString OrdinalText(int N)
{
    if (N == 0)
        return Tr("no ");
    const int n = std::abs(N % 100);
    QString suffix;
    if (n >= 11 && n <= 13) {
        suffix = Tr("th");
    } else {
        switch (n % 10) {
        case 1:
            suffix = Tr("st");
            break;
        case 2:
            suffix = Tr("nd");
            break;
        case 3:
            suffix = Tr("rd");
            break;
        default:
            suffix = Tr("th");
            break;
        }
    }
    return QString::number(N) + suffix + kBlank;
}

QString CmdLineSwitch(const QString &Name)
{
    return QStringLiteral(" /") + Name;
}

QString CmdLineTextSwitch(const QString &Name, const QString &Value)
{
    return kBlank + QuoteIfHasBlank(QLatin1Char('/') + Name + QLatin1Char(':') + Value);
}

QString CmdLineIntSwitch(const QString &Name, int Value)
{
    return CmdLineTextSwitch(Name, QString::number(Value));
}

QString FilterDescription(const TTextFilter &Filter)
{
    switch (Filter.Mode()) {
    case TFilterMode::fmOff:
        return Tr("All files");
    case TFilterMode::fmInclude:
    case TFilterMode::fmExclude:
        break;
    }
    const QString fmt = Filter.Mode() == TFilterMode::fmInclude ? Tr("only %s") : Tr("all except %s");
    const QString text = GuardedFormat(fmt, Filter.GetFilter());
    return Filter.Regular() ? QStringLiteral("RE: ") + text : text;
}

QString CopyOperationText(bool Restore, bool Compress, bool Encrypt)
{
    QString words;
    if (Compress) {
        words = Restore ? Tr("uncompressing") : Tr("compressing");
        if (Encrypt)
            words += Tr(" and ") + (Restore ? Tr("decrypting") : Tr("encrypting"));
    } else if (Encrypt) {
        words = Restore ? Tr("decrypting") : Tr("encrypting");
    } else {
        words = Tr("copying");
    }
    return WithFirstUpper(words) + kBlank + Tr("of \"%s\" (%s) to \"%s\"");
}

QString DirectoryErrorText(int Code)
{
    if (Code == 2 || Code == 3)
        return Tr("Directory \"%s\" not found!");
    return Tr("Error accessing directory: \"%s\"");
}

QString TaskErrorText(int Code)
{
    QString text;
    switch (Code) {
    case 1:
        text = Tr("Task not found");
        break;
    case 2:
        text = Tr("Destination path not found");
        break;
    case 3:
        text = Tr("Source directory not found");
        break;
    case 4:
        text = Tr("Errors during backup");
        break;
    case 5:
        text = Tr("The backup was aborted by the user or due to an error");
        break;
    case 6:
        text = Tr("Invalid task configuration");
        break;
    default:
        text = Tr("Unexpected error");
        break;
    }
    return text + QLatin1Char('!');
}

QString ExtensionText(const QString &Ext)
{
    if (Ext.isEmpty() || Ext == QStringLiteral("."))
        return QStringLiteral("<ohne>");
    return Ext.startsWith(QLatin1Char('.')) ? Ext.mid(1) : Ext;
}

int CompareDateTimeTexts(const QString &A, const QString &B)
{
    TDateTime a = 0, b = 0;
    TryReadDateTimeText(A, a);
    TryReadDateTimeText(B, b);
    return b < a ? -1 : b > a ? 1 : 0;
}

QString FileCountText(int Count, bool InParens)
{
    const QString text = CountText(Tr("No files"), Tr("1 file"), Tr("%u files"), Count, true);
    return InParens ? QStringLiteral(" (") + text + QLatin1Char(')') : text;
}

int HasLogOption(int Flag)
{
    const int mode = VlSettings.LogSettings.LogMode;
    return (Flag & mode) != 0 ? mode & 0x47 : 0;
}

QString WindowCaption(const QString &Text, const QString &FileName)
{
    QString caption = ProgramInfo.InternalName;
    if (!Text.isEmpty())
        caption += QStringLiteral(" - ") + Text;
    if (!FileName.isEmpty())
        caption += QStringLiteral(" [") + LastPathElement(FileName) + QLatin1Char(']');
    return caption;
}

QString UserNameText()
{
    return Tr("User name: ") + CurrentUserName;
}

QString BitnessText()
{
    return Is64BitProgram ? Tr(" - 64-bit") : Tr(" - 32-bit");
}

QString TitleWithVersion(int Parts)
{
    QString title = ProgramInfo.InternalName + BitnessText();
    if (Parts > 0)
        title += QStringLiteral(" (") + ProgramVersionCaption(Parts, QStringLiteral("0.0.0.0")) + QLatin1Char(')');
    return title;
}

QString CopyrightText()
{
    const int year = DecodeDateTime(Now()).Year;
    return QStringLiteral("\u00A9 2002-%1 ").arg(year) + QString::fromUtf8(kMakerLine);
}

QString CopyrightAddressText()
{
    return CopyrightText() + QLatin1Char('\n') + QString::fromUtf8(kMakerAddress);
}

QString LogIndentText(int Level)
{
    return Level == 3 ? QStringLiteral("     -> ") : QStringLiteral("      ");
}

QString DestinationLayoutText(int Mode, int64_t SplitSize)
{
    QString text;
    if (Mode >= 4) {
        text = Tr("Zip archive(s)");
        QString part;
        switch (Mode) {
        case 4:
            part = Tr("All files into one zip archive");
            break;
        case 5:
            part = Tr("Separated by root directory");
            break;
        case 6:
            part = Tr("Separated by drive and subdirectory");
            break;
        case 7:
            part = Tr("Separated by subdirectory");
            break;
        default:
            break;
        }
        if (!part.isEmpty())
            text += QStringLiteral(" - ") + part;
        if (SplitSize > 0)
            text += QStringLiteral(" (<= ") + ByteSizeText(true, SplitSize) + QLatin1Char(')');
        return text;
    }
    text = Tr("Separate files");
    QString part;
    switch (Mode) {
    case 0:
        part = Tr("Separate directories for drives");
        break;
    case 1:
        part = Tr("Full original directory structure");
        break;
    case 2:
        part = Tr("One directory without full path");
        break;
    case 3:
        part = Tr("Separated by root directory");
        break;
    default:
        break;
    }
    return part.isEmpty() ? text : text + QStringLiteral(" - ") + part;
}

QString LogModeText(uint8_t Mode)
{
    const int level = Mode & 3;
    if (level == 0)
        return Tr("Off");
    QString letters;
    if (Mode & 0x40)
        letters.prepend(QLatin1Char('P'));
    if (Mode & 0x80)
        letters.prepend(QLatin1Char('E'));
    if (level == 2 && (Mode & 4))
        letters.prepend(QLatin1Char('S'));
    else if (level == 1 && (Mode & 4))
        letters.prepend(QLatin1Char('W'));
    const QString text = level == 1 ? Tr("Short") : level == 2 ? Tr("Long") : Tr("Verbose");
    return letters.isEmpty() ? text : text + QStringLiteral(" (") + letters + QLatin1Char(')');
}

} // namespace vl
