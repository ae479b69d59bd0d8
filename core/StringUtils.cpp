#include "core/StringUtils.h"

#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/Translate.h"
#include "platform/SysErrors.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace vl {

namespace {

const QChar kBlank = QLatin1Char(' ');
const QChar kDoubleQuote = QLatin1Char('"');

// Blanks and control characters, the set that trimming removes.
bool IsBlankOrControl(QChar c)
{
    return c.unicode() <= 32;
}

QString TrimLeftBlanks(const QString &s)
{
    qsizetype i = 0;
    while (i < s.size() && IsBlankOrControl(s[i]))
        ++i;
    return s.mid(i);
}

QString TrimRightBlanks(const QString &s)
{
    qsizetype n = s.size();
    while (n > 0 && IsBlankOrControl(s[n - 1]))
        --n;
    return s.left(n);
}

QString TrimBlanks(const QString &s)
{
    return TrimRightBlanks(TrimLeftBlanks(s));
}

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

bool ParseInt64(const QString &s, int64_t &value)
{
    return TryParseIntegerText(s, 64, value);
}

QString DoubleQuoted(const QString &s)
{
    QString r = s;
    r.replace(kDoubleQuote, QStringLiteral("\"\""));
    return kDoubleQuote + r + kDoubleQuote;
}

// Removes the outer quotes and makes doubled quotes single. Text after the
// closing quote is dropped; a text without its closing quote (or an empty
// quoted text that is not closed) is returned unchanged.
QString DequotedStr(const QString &s, QChar quote)
{
    if (s.isEmpty() || s[0] != quote)
        return s;
    QString r;
    qsizetype i = 1;
    while (i < s.size()) {
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                r += quote;
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        r += s[i];
        ++i;
    }
    const bool atEnd = i >= s.size();
    if ((r.isEmpty() || atEnd) && (s[0] != quote || s[s.size() - 1] != quote))
        return s;
    return r;
}

// The integer specifiers ("%u", "%d", also with index and width) of a
// count text turned into "%.0n", so the count can be passed as a
// floating-point value and shown with thousands separators.
QString IntegerSpecsToThousands(const QString &fmt)
{
    QString r;
    qsizetype i = 0;
    while (i < fmt.size()) {
        if (fmt[i] != QLatin1Char('%')) {
            r += fmt[i++];
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == QLatin1Char('%')) {
            r += QStringLiteral("%%");
            i += 2;
            continue;
        }
        // "%" [index ":"] ["-"] [width] ["." precision] type
        qsizetype j = i + 1;
        auto skipDigits = [&] {
            if (j < fmt.size() && fmt[j] == QLatin1Char('*'))
                ++j;
            else
                while (j < fmt.size() && IsDigitChar(fmt[j]))
                    ++j;
        };
        skipDigits();
        if (j < fmt.size() && fmt[j] == QLatin1Char(':')) {
            ++j;
            skipDigits();
        }
        if (j < fmt.size() && fmt[j] == QLatin1Char('-'))
            ++j;
        skipDigits();
        const qsizetype precision = j;
        if (j < fmt.size() && fmt[j] == QLatin1Char('.')) {
            ++j;
            skipDigits();
        }
        if (j < fmt.size()) {
            const char16_t type = fmt[j].toLower().unicode();
            if (type == u'u' || type == u'd') {
                r += QStringView(fmt).mid(i, precision - i);
                r += QStringLiteral(".0n");
                i = j + 1;
                continue;
            }
        }
        r += QStringView(fmt).mid(i, j - i);
        i = j;
    }
    return r;
}

bool UseThousandsFor(int n, bool useThousands)
{
    return useThousands && n >= 10000;
}

} // namespace

// ---- Search, case and characters ----

int TextPos(const QString &subStr, const QString &s)
{
    return TextPosFrom(subStr, s, 1);
}

int TextPosFrom(const QString &subStr, const QString &s, int offset)
{
    if (subStr.isEmpty() || offset < 1 || offset > s.size())
        return 0;
    return int(s.indexOf(subStr, offset - 1, Qt::CaseInsensitive)) + 1;
}

bool TextContainsAnyChar(const QString &s, const QString &chars)
{
    for (QChar c : chars)
        if (s.contains(c, Qt::CaseInsensitive))
            return true;
    return false;
}

QString RemoveChars(const QString &s, const QString &chars)
{
    QString r;
    r.reserve(s.size());
    for (QChar c : s)
        if (!chars.contains(c))
            r += c;
    return r;
}

QString UpperFirstChar(const QString &s)
{
    if (s.isEmpty() || s[0] < QLatin1Char('a') || s[0] > QLatin1Char('z'))
        return s;
    QString r = s;
    r[0] = r[0].toUpper();
    return r;
}

QString ChangeTextCase(const QString &s, TTextChange change)
{
    switch (change) {
    case TTextChange::tcLower: return s.toLower();
    case TTextChange::tcUpper: return s.toUpper();
    case TTextChange::tcNone: break;
    }
    return s;
}

QString Blanks(int count)
{
    return count > 0 ? QString(count, kBlank) : QString();
}

QString PadRightBlanks(const QString &s, int len)
{
    return s.size() >= len ? s : s + Blanks(len - int(s.size()));
}

QString RemoveBlanks(const QString &s)
{
    return RemoveChar(s, kBlank);
}

QString RemoveControlChars(const QString &s)
{
    QString r;
    r.reserve(s.size());
    for (QChar c : s)
        if (c.unicode() >= 32)
            r += c;
    return r;
}

QString LineBreaksToChar(const QString &s, QChar ch)
{
    return RemoveControlChars(ReplaceChar(s, QLatin1Char('\r'), ch));
}

QString RepeatChar(QChar ch, int count)
{
    return count > 0 ? QString(count, ch) : QString();
}

bool IsEmptyText(const QString &s)
{
    return s.isEmpty();
}

bool IsNotEmptyText(const QString &s)
{
    return !s.isEmpty();
}

QString ReplaceChar(const QString &s, QChar oldChar, QChar newChar)
{
    QString r = s;
    r.replace(oldChar, newChar);
    return r;
}

QString StripLeadingChar(const QString &s, QChar ch)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == ch)
        ++i;
    return s.mid(i);
}

QString StripTrailingChar(const QString &s, QChar ch)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == ch)
        --n;
    return s.left(n);
}

QString RemoveChar(const QString &s, QChar ch)
{
    QString r = s;
    r.remove(ch);
    return r;
}

bool IsDigitChar(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
}

int FindNonDigit(const QString &s, int start)
{
    for (qsizetype i = std::max(start, 1) - 1; i < s.size(); ++i)
        if (!IsDigitChar(s[i]))
            return int(i) + 1;
    return 0;
}

QString GroupDigits(const QString &s, QChar sep, bool fractionOnly)
{
    QString r = TrimBlanks(s);
    if (r.isEmpty() || sep.isNull())
        return r;
    const bool negative = r[0] == QLatin1Char('-');
    if (negative)
        r.remove(0, 1);
    const QString sign = negative ? QStringLiteral("-") : QString();

    // 0-based: d the decimal separator, e the end of the digits after it.
    qsizetype d = r.indexOf(FormatSettings().DecimalSeparator);
    if (d < 0 && fractionOnly)
        return sign + r;
    qsizetype e = d + 1;
    while (e < r.size() && IsDigitChar(r[e]))
        ++e;
    if (d < 0) {
        d = e;
    } else {
        // Right to left, so the positions still to do stay valid.
        const qsizetype digits = e - d - 1;
        for (qsizetype k = (digits - 1) / 3; k >= 1; --k)
            r.insert(d + 1 + 3 * k, sep);
    }
    if (!fractionOnly) {
        qsizetype b = d;
        while (b > 0 && IsDigitChar(r[b - 1]))
            --b;
        for (qsizetype i = d - 3; i > b; i -= 3)
            r.insert(i, sep);
    }
    return sign + r;
}

QString EscapeCharsAsHex(const QString &text, const QString &chars)
{
    QString r = text;
    for (QChar c : chars) {
        const QString code = QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        r.replace(c, QLatin1Char('%') + code);
    }
    return r;
}

QString UnescapeHexChars(const QString &s)
{
    QString r;
    r.reserve(s.size());
    qsizetype i = 0;
    while (i < s.size()) {
        if (s[i] == QLatin1Char('%') && i + 4 < s.size()) {
            int code = 0;
            qsizetype k = 1;
            for (; k <= 4; ++k) {
                const int d = HexDigitValue(s[i + k]);
                if (d < 0)
                    break;
                code = code * 16 + d;
            }
            if (k > 4) {
                r += QChar(char16_t(code));
                i += 5;
                continue;
            }
        }
        r += s[i++];
    }
    return r;
}

QString TextFromChar(const QString &s, QChar ch)
{
    const qsizetype i = s.indexOf(ch);
    return i < 0 ? QString() : s.mid(i);
}

int CountSubstr(const QString &subStr, const QString &s)
{
    if (subStr.isEmpty())
        return 0;
    int n = 0;
    // 0-based: the first search starts at the second character.
    for (qsizetype i = s.indexOf(subStr, 1); i >= 0; i = s.indexOf(subStr, i + 1))
        ++n;
    return n;
}

// ---- Tokens and lists ----

QString SplitNextToken(QString &s, QChar sep)
{
    const qsizetype i = s.indexOf(sep);
    QString token;
    if (i < 0) {
        token = s;
        s.clear();
    } else {
        token = s.left(i);
        s.remove(0, i + 1);
    }
    return token;
}

int64_t SplitNextInt64(QString &s, QChar sep, int64_t def)
{
    s = TrimLeftBlanks(s);
    if (s.isEmpty())
        return def;
    int64_t value;
    return ParseInt64(SplitNextToken(s, sep), value) ? value : def;
}

QString FirstToken(const QString &s, QChar sep)
{
    const qsizetype i = s.indexOf(sep);
    return i < 0 ? s : s.left(i);
}

QString FirstTokenTrimmed(const QString &s, QChar sep)
{
    return TrimBlanks(FirstToken(s, sep));
}

int64_t FirstTokenInt64(const QString &s, QChar sep, int64_t def)
{
    int64_t value;
    return ParseInt64(FirstTokenTrimmed(s, sep), value) ? value : def;
}

QString SplitNextQuotedToken(QString &s, QChar sep, QChar quote)
{
    s = TrimLeftBlanks(s);
    if (s.isEmpty())
        return QString();
    if (s[0] != quote)
        return SplitNextToken(s, sep);
    bool inQuotes = true;
    qsizetype i = 1;
    for (; i < s.size(); ++i) {
        if (s[i] == quote)
            inQuotes = !inQuotes;
        else if (s[i] == sep && !inQuotes)
            break;
    }
    const QString part = s.left(i);
    s.remove(0, std::min(i + 1, s.size()));
    return part.size() > 2 ? DequotedStr(TrimRightBlanks(part), quote) : QString();
}

QString QuoteIfContainsChar(const QString &s, const QString &chars)
{
    if (s.isEmpty())
        return s;
    bool quote = chars.isEmpty();
    for (QChar c : chars)
        quote = quote || s.contains(c);
    return quote ? DoubleQuoted(s) : s;
}

QString QuoteIfHasBlank(const QString &s)
{
    return QuoteIfContainsChar(s, QString(kBlank));
}

QString ExpandEnvironmentVars(const QString &s)
{
    QString r = s;
    const QChar percent = QLatin1Char('%');
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = s.indexOf(percent, from);
        if (open < 0)
            break;
        const qsizetype close = s.indexOf(percent, open + 1);
        if (close < 0)
            break;
        const QString name = s.mid(open + 1, close - open - 1);
        // A name with "=" would match the tail of another variable's entry.
        if (!name.isEmpty() && !name.contains(QLatin1Char('='))) {
            const QString value = qEnvironmentVariable(name.toLocal8Bit().constData());
            if (!value.isEmpty())
                r.replace(s.mid(open, close - open + 1), value, Qt::CaseInsensitive);
        }
        from = close + 1;
    }
    return r;
}

QString SortCommaText(const QString &s)
{
    // Split: items separated by a comma or by blanks/control characters;
    // a comma directly at the end adds an empty item.
    QStringList items;
    qsizetype i = 0;
    const qsizetype n = s.size();
    const QChar comma = QLatin1Char(',');
    while (i < n && IsBlankOrControl(s[i]))
        ++i;
    while (i < n) {
        if (s[i] == kDoubleQuote) {
            QString item;
            ++i;
            while (i < n) {
                if (s[i] == kDoubleQuote) {
                    if (i + 1 < n && s[i + 1] == kDoubleQuote) {
                        item += kDoubleQuote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += s[i++];
            }
            items << item;
        } else {
            const qsizetype start = i;
            while (i < n && !IsBlankOrControl(s[i]) && s[i] != comma)
                ++i;
            items << s.mid(start, i - start);
        }
        while (i < n && IsBlankOrControl(s[i]))
            ++i;
        if (i < n && s[i] == comma) {
            if (i + 1 == n)
                items << QString();
            ++i;
            while (i < n && IsBlankOrControl(s[i]))
                ++i;
        }
    }

    // Sort ignoring case, keeping the first of equal items.
    QStringList upper;
    for (const QString &item : items)
        upper << item.toUpper();
    std::vector<qsizetype> order(items.size());
    for (qsizetype k = 0; k < items.size(); ++k)
        order[k] = k;
    auto compare = [&](qsizetype a, qsizetype b) { return QString::localeAwareCompare(upper[a], upper[b]); };
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return compare(a, b) < 0; });
    order.erase(std::unique(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return compare(a, b) == 0; }),
                order.end());

    // Join: an item with a blank, control character, comma or quote is
    // quoted, and a single empty item is written as "" so it reads back.
    if (order.size() == 1 && items[order[0]].isEmpty())
        return QStringLiteral("\"\"");
    QStringList out;
    for (qsizetype k : order) {
        const QString &item = items[k];
        bool quote = false;
        for (QChar c : item)
            quote = quote || IsBlankOrControl(c) || c == comma || c == kDoubleQuote;
        out << (quote ? DoubleQuoted(item) : item);
    }
    return out.join(comma);
}

QString QuotedListToLines(const QString &s, QChar sep, QChar quote, int &count)
{
    QString rest = s;
    QStringList lines;
    while (!rest.isEmpty())
        lines << SplitNextQuotedToken(rest, sep, quote);
    count = int(lines.size());
    return lines.join(QStringLiteral("\r\n"));
}

QString CommaListToLines(const QString &s)
{
    int count;
    return QuotedListToLines(s, QLatin1Char(','), kDoubleQuote, count);
}

// ---- Counts, options ----

QString CountText(const QString &zero, const QString &one, const QString &many, int n, bool useThousands)
{
    if (n == 1)
        return one;
    if (n == 0 && !zero.isEmpty())
        return zero;
    if (UseThousandsFor(n, useThousands))
        return GuardedFormat(IntegerSpecsToThousands(many), double(n));
    return GuardedFormat(many, n);
}

QString CountTextWithArg(const QString &zero, const QString &one, const QString &many, int n,
                         const QString &arg, bool useThousands)
{
    if (n == 1)
        return GuardedFormat(one, arg);
    if (n == 0 && !zero.isEmpty())
        return zero;
    if (UseThousandsFor(n, useThousands))
        return GuardedFormat(IntegerSpecsToThousands(many), double(n), arg);
    return GuardedFormat(many, n, arg);
}

QString CountWithNoun(const QString &singular, const QString &plural, int n, bool useThousands)
{
    if (n == 1)
        return QStringLiteral("1 ") + singular;
    const QString number = UseThousandsFor(n, useThousands) ? GuardedFormat(QStringLiteral("%.0n"), double(n))
                                                            : QString::number(n);
    return number + kBlank + plural;
}

bool IsOptionAbbrev(const QString &arg, const QString &keyword)
{
    return arg.toLower() == keyword.left(arg.size());
}

bool IsOptionWithValue(QString &arg, const QString &keyword)
{
    const qsizetype i = arg.indexOf(QLatin1Char(':'));
    if (i < 0 || !IsOptionAbbrev(arg.left(i), keyword))
        return false;
    arg = arg.mid(i + 1);
    return true;
}

// ---- Errors and formatting ----

QString SystemErrorText(uint32_t code)
{
    const char *text = SysErrorText(code);
    // A code that wraps a system error number in facility 7 (0x8007xxxx,
    // or 0x0007xxxx as the copy threads keep them) has that number's text.
    if (!text && ((code & 0xFFFF0000u) == 0x80070000u || (code & 0xFFFF0000u) == 0x00070000u))
        text = SysErrorText(code & 0xFFFFu);
    QString s = text ? Tr(text) : QString();
    qsizetype n = s.size();
    while (n > 0 && (s[n - 1] == kBlank || s[n - 1] == QLatin1Char('\r') || s[n - 1] == QLatin1Char('\n')
                     || s[n - 1] == QLatin1Char('.')))
        --n;
    s.truncate(n);
    if (s.isEmpty())
        return Tr("Error code") + GuardedFormat(QStringLiteral(" = 0x%.8x"), code);
    return s + GuardedFormat(QStringLiteral(" (0x%.8x)"), code);
}

bool IsNoError(uint32_t code)
{
    return (code & 0xFFFF) == 0;
}

bool IsErrorCode(uint32_t code, uint32_t value)
{
    return (code & 0xFFFF) == value;
}

bool IsError(uint32_t code)
{
    return (code & 0xFFFF) != 0;
}

QString ToBackslashes(const QString &s)
{
    return ReplaceChar(s, QLatin1Char('/'), QLatin1Char('\\'));
}

QString ToForwardSlashes(const QString &s)
{
    return ReplaceChar(s, QLatin1Char('\\'), QLatin1Char('/'));
}

bool TryParseIntegerText(const QString &s, int bits, int64_t &result)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')))
        negative = s[i++] == QLatin1Char('-');
    const uint64_t allBits = bits == 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
    uint64_t value = 0;
    if (i < n && s[i] == QLatin1Char('$')) {
        if (++i == n)
            return false;
        for (; i < n; ++i) {
            const int d = HexDigitValue(s[i]);
            if (d < 0 || value > (allBits >> 4))
                return false;
            value = value << 4 | uint64_t(d);
        }
        // Two's complement in `bits` bits, then sign-extended.
        const uint64_t signBit = uint64_t(1) << (bits - 1);
        int64_t v = (value & signBit) ? int64_t(value | ~allBits) : int64_t(value);
        result = negative ? int64_t(0 - uint64_t(v)) : v;
        return true;
    }
    if (i == n)
        return false;
    const uint64_t limit = (uint64_t(1) << (bits - 1)) - (negative ? 0 : 1);
    for (; i < n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        const uint64_t d = c - u'0';
        if (value > (limit - d) / 10)
            return false;
        value = value * 10 + d;
    }
    result = negative ? int64_t(0 - value) : int64_t(value);
    return true;
}


} // namespace vl
