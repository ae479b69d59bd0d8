#include "core/Format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace vl {

namespace {

// A finite double as decimal digits: value = 0.D1D2D3... x 10^Exponent.
struct TDecimal {
    bool Negative = false;
    QByteArray Digits; // no leading zeros; empty for zero
    int Exponent = 0;
};

// 17 significant digits identify a double exactly; the rounding below then
// works on this decimal text, so 0.125 shows as 0.13 with two decimals.
TDecimal ToDecimal(double v)
{
    TDecimal d;
    d.Negative = std::signbit(v);
    if (v == 0)
        return d;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16e", std::fabs(v));
    // buf: D.DDDDDDDDDDDDDDDDe[+-]XX
    const char *p = buf;
    QByteArray digits;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits.append(*p);
    const int exp10 = std::atoi(p + 1);
    while (digits.endsWith('0'))
        digits.chop(1);
    d.Digits = digits;
    d.Exponent = exp10 + 1;
    return d;
}

// Rounds to keep `keep` digits (counted from the first digit); halves up.
void RoundDigits(TDecimal &d, int keep)
{
    if (keep < 0) {
        d.Digits.clear();
        return;
    }
    if (d.Digits.size() <= keep)
        return;
    const bool up = d.Digits.at(keep) >= '5';
    d.Digits.truncate(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.Digits[i] == '9') {
            d.Digits[i] = '0';
            --i;
        }
        if (i < 0) {
            d.Digits.prepend('1');
            ++d.Exponent;
        } else {
            d.Digits[i] = char(d.Digits[i] + 1);
        }
    }
    while (d.Digits.endsWith('0'))
        d.Digits.chop(1);
}

QString SpecialFloat(double v)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

QString InsertThousands(const QString &intPart, QChar sep)
{
    if (sep.isNull())
        return intPart;
    QString out;
    const qsizetype n = intPart.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out.append(sep);
        out.append(intPart.at(i));
    }
    return out;
}

QString FixedText(double v, int decimals, QChar decSep, QChar thousandSep)
{
    if (!std::isfinite(v))
        return SpecialFloat(v);
    TDecimal d = ToDecimal(v);
    RoundDigits(d, d.Exponent + decimals);
    QString intPart, frac;
    for (int i = 0; i < d.Exponent; ++i)
        intPart.append(QLatin1Char(i < d.Digits.size() ? d.Digits.at(i) : '0'));
    if (intPart.isEmpty())
        intPart = QStringLiteral("0");
    for (int i = 0; i < decimals; ++i) {
        const int idx = d.Exponent + i;
        frac.append(QLatin1Char(idx >= 0 && idx < d.Digits.size() ? d.Digits.at(idx) : '0'));
    }
    QString out = InsertThousands(intPart, thousandSep);
    if (decimals > 0)
        out += decSep + frac;
    if (d.Negative && !d.Digits.isEmpty())
        out.prepend(QLatin1Char('-'));
    return out;
}

QString ExponentText(int exp, int minDigits, bool plus)
{
    QString s = QString::number(std::abs(exp)).rightJustified(minDigits, QLatin1Char('0'));
    if (exp < 0)
        return QLatin1Char('-') + s;
    return plus ? QLatin1Char('+') + s : s;
}

// "-d.dddE+ddd" with `precision` significant digits.
QString ScientificText(double v, int precision, QChar decSep)
{
    if (!std::isfinite(v))
        return SpecialFloat(v);
    precision = std::clamp(precision, 1, 18);
    TDecimal d = ToDecimal(v);
    RoundDigits(d, precision);
    const int exp = d.Digits.isEmpty() ? 0 : d.Exponent - 1;
    QString mant;
    for (int i = 0; i < precision; ++i)
        mant.append(QLatin1Char(i < d.Digits.size() ? d.Digits.at(i) : '0'));
    QString out = mant.left(1);
    if (precision > 1)
        out += decSep + mant.mid(1);
    out += QLatin1Char('E') + ExponentText(exp, 3, true);
    if (d.Negative && !d.Digits.isEmpty())
        out.prepend(QLatin1Char('-'));
    return out;
}

// Shortest text with at most `precision` significant digits; scientific
// when the exponent exceeds the precision or the value is below 1E-5.
QString GeneralText(double v, int precision, QChar decSep)
{
    if (!std::isfinite(v))
        return SpecialFloat(v);
    precision = std::clamp(precision, 1, 18);
    TDecimal d = ToDecimal(v);
    RoundDigits(d, precision);
    if (d.Digits.isEmpty())
        return QStringLiteral("0");
    QString out;
    if (d.Exponent > precision || d.Exponent < -4) {
        out = QLatin1Char(d.Digits.at(0));
        if (d.Digits.size() > 1)
            out += decSep + QString::fromLatin1(d.Digits.mid(1));
        out += QLatin1Char('E') + ExponentText(d.Exponent - 1, 0, false);
    } else if (d.Exponent <= 0) {
        out = QLatin1Char('0') + decSep + QString(-d.Exponent, QLatin1Char('0')) + QString::fromLatin1(d.Digits);
    } else {
        const QByteArray intDigits = d.Digits.left(d.Exponent).leftJustified(d.Exponent, '0');
        out = QString::fromLatin1(intDigits);
        if (d.Digits.size() > d.Exponent)
            out += decSep + QString::fromLatin1(d.Digits.mid(d.Exponent));
    }
    if (d.Negative)
        out.prepend(QLatin1Char('-'));
    return out;
}

[[noreturn]] void Fail(const QString &fmt)
{
    throw EFormatError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(fmt));
}

} // namespace

QString FloatToFixed(double value, int decimals, QChar decimalSeparator)
{
    return FixedText(value, std::max(decimals, 0), decimalSeparator, QChar());
}

QString Format(const QString &fmt, const TFormatArgs &args, const TFormatSettings &fs)
{
    QString out;
    out.reserve(fmt.size() + 32);
    const qsizetype n = fmt.size();
    size_t argIndex = 0;
    qsizetype i = 0;

    auto nextArg = [&]() -> const TFormatArg & {
        if (argIndex >= args.size())
            Fail(fmt);
        return args[argIndex++];
    };
    // Digits or "*" (an integer argument); kAbsent when absent.
    constexpr int kAbsent = INT_MIN;
    auto readNumber = [&]() -> int {
        if (i < n && fmt.at(i) == QLatin1Char('*')) {
            ++i;
            const TFormatArg &a = nextArg();
            if (a.Kind() == TFormatArg::TKind::Int)
                return int(a.Int());
            if (a.Kind() == TFormatArg::TKind::UInt)
                return int(a.UInt());
            Fail(fmt);
        }
        if (i >= n || fmt.at(i).unicode() < '0' || fmt.at(i).unicode() > '9')
            return kAbsent;
        qint64 v = 0;
        while (i < n && fmt.at(i).unicode() >= '0' && fmt.at(i).unicode() <= '9') {
            v = v * 10 + (fmt.at(i).unicode() - '0');
            if (v > 100000)
                Fail(fmt);
            ++i;
        }
        return int(v);
    };

    while (i < n) {
        const QChar c = fmt.at(i);
        if (c != QLatin1Char('%')) {
            const qsizetype next = fmt.indexOf(QLatin1Char('%'), i);
            const qsizetype end = next < 0 ? n : next;
            out.append(QStringView(fmt).mid(i, end - i));
            i = end;
            continue;
        }
        ++i;
        if (i >= n)
            Fail(fmt);
        if (fmt.at(i) == QLatin1Char('%')) {
            out.append(QLatin1Char('%'));
            ++i;
            continue;
        }
        // [index ":"]
        int number = readNumber();
        if (i < n && fmt.at(i) == QLatin1Char(':')) {
            if (number < 0)
                Fail(fmt);
            argIndex = size_t(number);
            ++i;
            number = kAbsent;
        }
        bool leftAlign = false;
        if (number == kAbsent && i < n && fmt.at(i) == QLatin1Char('-')) {
            leftAlign = true;
            ++i;
        }
        int width = number != kAbsent ? number : readNumber();
        if (width == kAbsent) {
            width = 0;
        } else if (width < 0) {
            // "*" may deliver a negative width: left-align it.
            leftAlign = true;
            width = -width;
        }
        int precision = -1;
        if (i < n && fmt.at(i) == QLatin1Char('.')) {
            ++i;
            precision = readNumber();
            if (precision == kAbsent || precision < 0)
                precision = 0;
        }
        if (i >= n)
            Fail(fmt);
        const char16_t type = fmt.at(i).toLower().unicode();
        ++i;
        const TFormatArg &a = nextArg();
        using K = TFormatArg::TKind;
        const bool isInt = a.Kind() == K::Int || a.Kind() == K::UInt;
        QString text;
        switch (type) {
        case u'd':
        case u'u': {
            if (!isInt)
                Fail(fmt);
            bool neg = false;
            uint64_t mag;
            if (a.Kind() == K::Int && a.Int() < 0) {
                if (type == u'd') {
                    neg = true;
                    mag = uint64_t(0) - uint64_t(a.Int());
                } else {
                    // An unsigned view of a negative 32-bit value stays 32-bit.
                    mag = a.Int() >= INT32_MIN ? uint64_t(uint32_t(int32_t(a.Int()))) : uint64_t(a.Int());
                }
            } else {
                mag = a.Kind() == K::Int ? uint64_t(a.Int()) : a.UInt();
            }
            text = QString::number(mag);
            if (precision > text.size())
                text = text.rightJustified(precision, QLatin1Char('0'));
            if (neg)
                text.prepend(QLatin1Char('-'));
            break;
        }
        case u'x': {
            if (!isInt)
                Fail(fmt);
            uint64_t v;
            if (a.Kind() == K::Int && a.Int() < 0 && a.Int() >= INT32_MIN)
                v = uint32_t(int32_t(a.Int()));
            else
                v = a.Kind() == K::Int ? uint64_t(a.Int()) : a.UInt();
            text = QString::number(v, 16).toUpper();
            if (precision > text.size())
                text = text.rightJustified(precision, QLatin1Char('0'));
            break;
        }
        case u'e':
            if (a.Kind() != K::Float)
                Fail(fmt);
            text = ScientificText(a.Float(), precision < 0 ? 15 : precision, fs.DecimalSeparator);
            break;
        case u'f':
            if (a.Kind() != K::Float)
                Fail(fmt);
            text = FixedText(a.Float(), std::min(precision < 0 ? 2 : precision, 18), fs.DecimalSeparator, QChar());
            break;
        case u'g':
            if (a.Kind() != K::Float)
                Fail(fmt);
            text = GeneralText(a.Float(), precision < 0 ? 15 : precision, fs.DecimalSeparator);
            break;
        case u'n':
            if (a.Kind() != K::Float)
                Fail(fmt);
            text = FixedText(a.Float(), std::min(precision < 0 ? 2 : precision, 18), fs.DecimalSeparator, fs.ThousandSeparator);
            break;
        case u'm': {
            if (a.Kind() != K::Float)
                Fail(fmt);
            const double v = a.Float();
            text = FixedText(std::fabs(v), std::min(precision < 0 ? fs.CurrencyDecimals : precision, 18), fs.DecimalSeparator, fs.ThousandSeparator);
            text = fs.CurrencyString + text;
            if (v < 0)
                text.prepend(QLatin1Char('-'));
            break;
        }
        case u'p':
            if (a.Kind() != K::Pointer)
                Fail(fmt);
            text = QString::number(a.UInt(), 16).toUpper().rightJustified(int(sizeof(void *) * 2), QLatin1Char('0'));
            break;
        case u's':
            if (a.Kind() != K::String)
                Fail(fmt);
            text = a.String();
            if (precision >= 0 && precision < text.size())
                text.truncate(precision);
            break;
        default:
            Fail(fmt);
        }
        if (text.size() < width)
            text = leftAlign ? text.leftJustified(width) : text.rightJustified(width);
        out.append(text);
    }
    return out;
}

QString GuardedFormatArgs(const QString &fmt, const TFormatArgs &args)
{
    try {
        return Format(fmt, args);
    } catch (...) {
        return QStringLiteral("Format error: ") + fmt;
    }
}

} // namespace vl
