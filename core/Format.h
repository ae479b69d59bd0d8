// The program's format function and date/time patterns.
//
// Format patterns: "%" [index ":"] ["-"] [width] ["." precision] type, with
// width and precision given as digits or "*" (taken from the arguments).
// Types: d (signed integer; precision = minimum digits), u (unsigned),
// x (upper-case hexadecimal), e, f, g, n (fixed with thousands separators),
// m (money), p (pointer), s (string or character; precision = maximum
// length). "%%" is a percent sign. The index (0-based) chooses the argument,
// later unindexed specifiers continue after it. An argument of the wrong
// kind for its type, a missing argument or a bad specifier is an error:
// GuardedFormat then returns "Format error: " followed by the pattern.
#pragma once

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

#include <QChar>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

namespace vl {

// One argument of a format call.
class TFormatArg {
public:
    enum class TKind { Int, UInt, Float, String, Pointer };

    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_signed_v<T>, int> = 0>
    TFormatArg(T v) : FKind(TKind::Int), FInt(v) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_unsigned_v<T>, int> = 0>
    TFormatArg(T v) : FKind(TKind::UInt), FUInt(v) {}
    TFormatArg(double v) : FKind(TKind::Float), FFloat(v) {}
    TFormatArg(long double v) : FKind(TKind::Float), FFloat(double(v)) {}
    TFormatArg(const QString &v) : FKind(TKind::String), FString(v) {}
    TFormatArg(QStringView v) : FKind(TKind::String), FString(v.toString()) {}
    TFormatArg(QChar v) : FKind(TKind::String), FString(v) {}
    TFormatArg(const char *utf8) : FKind(TKind::String), FString(QString::fromUtf8(utf8)) {}
    TFormatArg(const void *p) : FKind(TKind::Pointer), FUInt(reinterpret_cast<uintptr_t>(p)) {}

    TKind Kind() const { return FKind; }
    int64_t Int() const { return FInt; }
    uint64_t UInt() const { return FUInt; }
    double Float() const { return FFloat; }
    const QString &String() const { return FString; }

private:
    TKind FKind;
    int64_t FInt = 0;
    uint64_t FUInt = 0;
    double FFloat = 0;
    QString FString;
};

using TFormatArgs = std::vector<TFormatArg>;

// Raised by Format for a pattern that does not fit its arguments.
class EFormatError : public EConvertError {
public:
    using EConvertError::EConvertError;
};

// Formats; raises EFormatError.
QString Format(const QString &fmt, const TFormatArgs &args, const TFormatSettings &fs = FormatSettings());

// Formats; never raises: "Format error: " + fmt when the arguments do not fit.
QString GuardedFormatArgs(const QString &fmt, const TFormatArgs &args);

template <typename... A>
QString GuardedFormat(const QString &fmt, A &&...args)
{
    return GuardedFormatArgs(fmt, TFormatArgs{TFormatArg(std::forward<A>(args))...});
}

// Floating-point text with a fixed number of decimals and the given
// decimal separator (no thousands separators): FloatToFixed(1.5, 2, ',')
// gives "1,50". Rounds halves away from zero on the decimal value shown.
QString FloatToFixed(double value, int decimals, QChar decimalSeparator);

} // namespace vl
