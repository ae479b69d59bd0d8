#include "core/NumberUtils.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/Translate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace vl {

namespace {

constexpr QChar kBlank = QLatin1Char(' ');

// SI prefixes, index 1 to 10; index 6 is "no prefix". The engineering
// exponent of index i is 3 * i - 18.
const std::array<QChar, 11> kPrefixLetters = {
    QChar(), QLatin1Char('f'), QLatin1Char('p'), QLatin1Char('n'), QChar(0x00B5), QLatin1Char('m'),
    QLatin1Char(' '), QLatin1Char('k'), QLatin1Char('M'), QLatin1Char('G'), QLatin1Char('T')};

// Reaching a threshold moves a value to the next prefix; the margins keep a
// value that rounds up to 1000 in its own prefix out of it.
constexpr std::array<double, 9> kPrefixThresholds = {9.99e-14, 9.99e-11, 9.99e-8, 9.99e-5, 0.0999,
                                                     999,      999000,   9.99e8,  9.99e11};
constexpr int kNoPrefix = 6;

int PrefixExponent(int index) { return 3 * index - 18; }

// 10^e for 0 <= e <= 22 is exact in a double.
double Pow10(int e)
{
    double r = 1;
    for (int i = 0; i < e; ++i)
        r *= 10;
    return r;
}

// x * 10^e with one correctly rounded operation for |e| <= 22.
double ScaleByPow10(double x, int e)
{
    return e >= 0 ? x * Pow10(e) : x / Pow10(-e);
}

QChar DecimalSeparatorOr(QChar decSep)
{
    return decSep.isNull() ? FormatSettings().DecimalSeparator : decSep;
}

QString StripBlanks(const QString &s)
{
    QString r = s;
    r.remove(kBlank);
    return r;
}

// Reads [sign] digits [sep digits] [e [sign] digits], with at least one
// mantissa digit, independent of the C library's locale.
bool TryParseFloat(const QString &s, QChar sep, double &value)
{
    std::string ascii;
    ascii.reserve(size_t(s.size()));
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (i < n && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
        if (s[i] == QLatin1Char('-'))
            ascii += '-';
        ++i;
    }
    int mantissaDigits = 0;
    while (i < n && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('9')) {
        ascii += char(s[i].unicode());
        ++i;
        ++mantissaDigits;
    }
    if (i < n && s[i] == sep) {
        ascii += '.';
        ++i;
        while (i < n && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('9')) {
            ascii += char(s[i].unicode());
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))) {
        ascii += 'e';
        ++i;
        if (i < n && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
            ascii += char(s[i].unicode());
            ++i;
        }
        int expDigits = 0;
        while (i < n && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('9')) {
            ascii += char(s[i].unicode());
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;
    double v = 0;
    const auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
    if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

// Shared body of the hexadecimal, octal and binary parsers: "-" optional,
// the prefix character optional, then digits of the given base. The value
// may use all 64 bits; more is invalid.
bool TryDigitsToInt64(const QString &input, QChar prefix, int base, bool allowEmptyDigits, int64_t &value)
{
    value = 0;
    const QString s = StripBlanks(input);
    if (s.isEmpty())
        return false;
    qsizetype i = 0;
    const bool negative = s[0] == QLatin1Char('-');
    if (negative)
        ++i;
    if (i < s.size() && s[i] == prefix)
        ++i;
    if (i == s.size() && !allowEmptyDigits)
        return false;
    uint64_t acc = 0;
    const uint64_t limit = std::numeric_limits<uint64_t>::max() / uint64_t(base);
    for (; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        if (digit < 0 || digit >= base)
            return false;
        if (acc > limit || acc * uint64_t(base) > std::numeric_limits<uint64_t>::max() - uint64_t(digit))
            return false;
        acc = acc * uint64_t(base) + uint64_t(digit);
    }
    if (negative)
        acc = uint64_t(0) - acc;
    value = int64_t(acc); // two's complement (well defined in C++20)
    return true;
}

QString DigitsOf(uint64_t v) { return QString::number(v); }

// Magnitude of a signed value without overflow for INT64_MIN.
uint64_t Magnitude(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }

// Text of a value rounded to an integer (halves to even); no separators.
QString RoundedIntegerText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    double r = std::nearbyint(value);
    if (r == 0)
        r = 0; // no "-0"
    return QString::number(r, 'f', 0);
}

} // namespace

// ---- Integer texts ---------------------------------------------------------

QString PadLeftChar(const QString &S, QChar Ch, int Len)
{
    if (S.size() >= Len)
        return S;
    return QString(Len - S.size(), Ch) + S;
}

QString GroupFromRight(const QString &S, int GroupLen, QChar Sep)
{
    if (GroupLen <= 0 || S.size() <= GroupLen)
        return S;
    QString r;
    r.reserve(S.size() + S.size() / GroupLen);
    const qsizetype first = S.size() % GroupLen == 0 ? GroupLen : S.size() % GroupLen;
    r += S.left(first);
    for (qsizetype i = first; i < S.size(); i += GroupLen) {
        r += Sep;
        r += S.mid(i, GroupLen);
    }
    return r;
}

QString IntToStrWidth(int Width, int64_t Value)
{
    const QString plain = QString::number(Value);
    if (Width == 0)
        return plain;
    const qsizetype field = std::llabs(static_cast<long long>(Width));
    const qsizetype blanks = field > plain.size() ? field - plain.size() : 0;
    QString digits = DigitsOf(Magnitude(Value));
    if (Width < 0) {
        const QChar sep = FormatSettings().ThousandSeparator;
        if (!sep.isNull())
            digits = GroupFromRight(digits, 3, sep);
    }
    return QString(blanks, kBlank) + (Value < 0 ? QStringLiteral("-") : QString()) + digits;
}

QString IntToStrZeroPad(int Digits, int64_t Value)
{
    const QString digits = PadLeftChar(DigitsOf(Magnitude(Value)), QLatin1Char('0'), Digits);
    return Value < 0 ? QLatin1Char('-') + digits : digits;
}

QString IntToHexGrouped(uint32_t Value, int Digits, int GroupLen)
{
    return GroupFromRight(PadLeftChar(QString::number(Value, 16).toUpper(), QLatin1Char('0'), Digits), GroupLen,
                          kBlank);
}

QString IntToOctGrouped(uint32_t Value, int Digits, int GroupLen)
{
    return GroupFromRight(PadLeftChar(QString::number(Value, 8), QLatin1Char('0'), Digits), GroupLen, kBlank);
}

QString IntToBinGrouped(uint32_t Value, int Digits, int GroupLen)
{
    return GroupFromRight(PadLeftChar(QString::number(Value, 2), QLatin1Char('0'), Digits), GroupLen, kBlank);
}

QString IntToDecGrouped(int64_t Value, int Digits, int GroupLen, bool ZeroPad)
{
    const QString s = ZeroPad ? IntToStrZeroPad(Digits, Value) : IntToStrWidth(Digits, Value);
    return GroupFromRight(s, GroupLen, kBlank);
}

// ---- Parsers ---------------------------------------------------------------

bool TryHexStrToInt64(const QString &S, int64_t &Value)
{
    return TryDigitsToInt64(S, QLatin1Char('$'), 16, false, Value);
}

int64_t HexStrToInt64(const QString &S)
{
    int64_t v = 0;
    if (!TryHexStrToInt64(S, v))
        throw EConvertError(GuardedFormat(Tr("%s is not a valid hex value"), S));
    return v;
}

// An empty digit string after the sign and prefix reads as 0.
bool TryOctStrToInt64(const QString &S, int64_t &Value)
{
    return TryDigitsToInt64(S, QLatin1Char('%'), 8, true, Value);
}

int64_t OctStrToInt64(const QString &S)
{
    int64_t v = 0;
    if (!TryOctStrToInt64(S, v))
        throw EConvertError(GuardedFormat(Tr("%s is not a valid octal value"), S));
    return v;
}

bool TryBinStrToInt64(const QString &S, int64_t &Value)
{
    return TryDigitsToInt64(S, QLatin1Char('!'), 2, true, Value);
}

int64_t BinStrToInt64(const QString &S)
{
    int64_t v = 0;
    if (!TryBinStrToInt64(S, v))
        throw EConvertError(GuardedFormat(Tr("%s is not a valid binary value"), S));
    return v;
}

bool TryStrToSiValue(const QString &S, double &Value, QChar DecSep)
{
    QString s = S.trimmed();
    if (s.isEmpty()) {
        Value = 0;
        return true;
    }
    int exponent = 0;
    const QChar last = s.back();
    if (!last.isDigit() || last.unicode() > 127) {
        int index = 0;
        for (int i = 1; i <= 10; ++i) {
            if (i != kNoPrefix && kPrefixLetters[size_t(i)] == last) {
                index = i;
                break;
            }
        }
        if (index == 0)
            return false;
        exponent = PrefixExponent(index);
        s.chop(1);
        while (!s.isEmpty() && s.back() == kBlank)
            s.chop(1);
    }
    double v = 0;
    if (!TryParseFloat(s, DecimalSeparatorOr(DecSep), v))
        return false;
    Value = ScaleByPow10(v, exponent);
    return true;
}

bool TryStrToByteSize(const QString &S, int64_t &Value, QChar DecSep)
{
    Value = 0;
    QString s = S.trimmed();
    if (s.isEmpty())
        s = QStringLiteral("0");
    if (s.back() == QLatin1Char('B') || s.back() == QLatin1Char('b'))
        s.chop(1);
    double base = 1000;
    if (!s.isEmpty() && (s.back() == QLatin1Char('I') || s.back() == QLatin1Char('i'))) {
        s.chop(1);
        base = 1024;
    }
    s = s.trimmed();
    if (s.isEmpty())
        return false;
    double multiplier = 1;
    const QChar last = s.back();
    if (!(last.isDigit() && last.unicode() < 128)) {
        const int power = QStringLiteral("KMGT").indexOf(last.toUpper()) + 1;
        if (power == 0)
            return false;
        for (int i = 0; i < power; ++i)
            multiplier *= base;
        // The whole text before the letter must be the number, so that
        // "1 x K" or "1 5 K" is no valid size.
        s.chop(1);
        s = s.trimmed();
    }
    double number = 0;
    if (!TryParseFloat(s, DecimalSeparatorOr(DecSep), number))
        return false;
    const double bytes = std::nearbyint(number * multiplier);
    // 2^63 is the first value that no longer fits.
    if (!(bytes >= -9223372036854775808.0 && bytes < 9223372036854775808.0))
        return false;
    Value = int64_t(bytes);
    return true;
}

// ---- Floating-point texts --------------------------------------------------

void FormatSignificant(int Digits, QString &Text, int &PrefixIndex, QChar DecSep, double Value)
{
    const QChar sep = DecimalSeparatorOr(DecSep);
    PrefixIndex = kNoPrefix;
    if (!std::isfinite(Value)) {
        Text = RoundedIntegerText(Value);
        return;
    }
    const double a = std::fabs(Value);
    if (a >= 1e-15 && a <= 1e15) {
        PrefixIndex = 1;
        for (double t : kPrefixThresholds)
            if (a >= t)
                ++PrefixIndex;
    }
    const double scaled = PrefixIndex == kNoPrefix ? Value : ScaleByPow10(Value, -PrefixExponent(PrefixIndex));
    const int digits = std::clamp(Digits, 2, 8);
    const double b = std::fabs(scaled);

    // Number of integer digits; values without a prefix beyond 1e15 have
    // more than three.
    int n = (b >= 0.99999) + (b >= 9.9999) + (b >= 99.999);
    if (b >= 1000)
        n = int(std::floor(std::log10(b))) + 1;

    // c holds the significant digits; trailing zeros of a value with more
    // integer digits than Digits are appended as text.
    double c = std::nearbyint(ScaleByPow10(b, digits - n));
    if (n <= digits && c >= Pow10(digits)) {
        // Rounding carried into a further integer digit (0.9996 -> 1.00).
        c = std::nearbyint(c / 10);
        ++n;
    }
    if (c == 0) {
        Text = QLatin1Char('0') + sep + QString(digits, QLatin1Char('0'));
        return;
    }
    QString t = QString::number(c, 'f', 0);
    if (n > digits)
        t += QString(n - digits, QLatin1Char('0'));
    if (n == 0)
        t = QLatin1Char('0') + sep + t;
    else if (n < digits)
        t.insert(n, sep);
    if (Value < 0)
        t.prepend(QLatin1Char('-'));
    Text = t;
}

QString FormatEngineering(int Digits, QChar DecSep, double Value)
{
    if (Digits == 1)
        return RoundedIntegerText(Value);
    QString text;
    int index = kNoPrefix;
    FormatSignificant(Digits == 0 ? 4 : Digits, text, index, DecSep, Value);
    if (Digits == 0) {
        const QChar sep = DecimalSeparatorOr(DecSep);
        if (text.contains(sep)) {
            while (text.endsWith(QLatin1Char('0')))
                text.chop(1);
            if (text.endsWith(sep))
                text.chop(1);
        }
    }
    if (index != kNoPrefix)
        text += QLatin1Char('E') + QString::number(PrefixExponent(index));
    return text;
}

QString FormatSiPrefixed(int Digits, const QString &Sep, QChar DecSep, double Value)
{
    if (Digits == 1)
        return RoundedIntegerText(Value);
    QString text;
    int index = kNoPrefix;
    FormatSignificant(Digits, text, index, DecSep, Value);
    if (index != kNoPrefix)
        text += Sep + kPrefixLetters[size_t(index)];
    return text;
}

QString FormatByteSize(int64_t Value, bool Decimal, bool TrimZeros, QChar DecSep)
{
    const int64_t base = Decimal ? 1000 : 1024;
    if (Value < base)
        return QString::number(Value) + QStringLiteral(" B");
    static const char *const kUnits[2][3] = {{"KiB", "MiB", "GiB"}, {"kB", "MB", "GB"}};
    double d = double(Value) / double(base);
    int unit = 0;
    if (d >= double(base)) {
        d /= double(base);
        unit = 1;
        if (d >= double(base)) {
            d /= double(base);
            unit = 2;
        }
    }
    int decimals = 2;
    if (unit < 2)
        decimals = d < 10 ? 2 : d < 100 ? 1 : 0;
    if (TrimZeros && IsRoundNumber(decimals, d))
        decimals = 0;
    return FloatToFixed(d, decimals, DecimalSeparatorOr(DecSep)) + kBlank
           + QLatin1String(kUnits[Decimal ? 1 : 0][unit]);
}

bool IsRoundNumber(int Decimals, double X)
{
    if (Decimals < 1)
        return true;
    if (Decimals > 2)
        return false;
    return std::fabs(X - std::round(X)) < (Decimals == 1 ? 0.1 : 0.01);
}

int64_t PowerOfTwo(int N)
{
    return int64_t(uint64_t(1) << std::clamp(N, 0, 63));
}

} // namespace vl
