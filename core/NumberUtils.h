// Number and size texts: padded and grouped integer texts, significant-digit
// and engineering forms with SI prefixes, byte sizes in binary or decimal
// units, and the parsers back from those forms.
//
// Decimal separator arguments: the null QChar means the locale's separator
// (FormatSettings().DecimalSeparator).
#pragma once

#include <QChar>
#include <QString>

#include <cstdint>

namespace vl {

// Display modes of the numeric edit controls.
enum class TNumMode { nmDecimal, nmHex, nmOctal, nmBin, nmZeroDec };

// ---- Integer texts ---------------------------------------------------------

// Width 0: the plain decimal text. Otherwise right-aligned with blanks in a
// field of |Width| characters; a negative Width then also inserts the
// locale's thousands separator between groups of three digits (the field is
// filled first, the separators make the text longer).
QString IntToStrWidth(int Width, int64_t Value);

// Decimal text with leading zeros to at least Digits digits; a sign goes in
// front of the zeros.
QString IntToStrZeroPad(int Digits, int64_t Value);

// Upper-case hexadecimal, octal or binary digits, padded with zeros to at
// least Digits, then a blank every GroupLen characters from the right.
QString IntToHexGrouped(uint32_t Value, int Digits, int GroupLen);
QString IntToOctGrouped(uint32_t Value, int Digits, int GroupLen);
QString IntToBinGrouped(uint32_t Value, int Digits, int GroupLen);

// IntToStrZeroPad (ZeroPad) or IntToStrWidth with Digits, then a blank every
// GroupLen characters from the right.
QString IntToDecGrouped(int64_t Value, int Digits, int GroupLen, bool ZeroPad);

// S with Ch prepended up to the length Len.
QString PadLeftChar(const QString &S, QChar Ch, int Len);

// S with Sep inserted every GroupLen characters counted from the right
// (unchanged for GroupLen 0 or less).
QString GroupFromRight(const QString &S, int GroupLen, QChar Sep);

// ---- Parsers ---------------------------------------------------------------
// All of them remove every blank first; a leading "-" negates. The digit
// parsers accept values up to 64 bits (a 64-bit pattern such as 16 hex
// digits "F" reads as its signed value, -1); longer values are invalid.
// The Try forms return false and leave Value 0 for an invalid text, the
// others raise EConvertError.

// "-" optional, "$" optional, hexadecimal digits of either case.
bool TryHexStrToInt64(const QString &S, int64_t &Value);
int64_t HexStrToInt64(const QString &S);

// "-" optional, "%" optional, digits 0 to 7.
bool TryOctStrToInt64(const QString &S, int64_t &Value);
int64_t OctStrToInt64(const QString &S);

// "-" optional, "!" optional, digits 0 and 1.
bool TryBinStrToInt64(const QString &S, int64_t &Value);
int64_t BinStrToInt64(const QString &S);

// A number with an optional SI prefix letter at the end (f p n µ m k M G T,
// case-sensitive): "1.5k" gives 1500, "20µ" 2e-5. An empty text gives 0.
bool TryStrToSiValue(const QString &S, double &Value, QChar DecSep = QChar());

// A byte size: a number, an optional K, M, G or T (either case), an optional
// "i" (base 1024, else 1000) and an optional "B": "1.5 KiB" gives 1536,
// "2kB" 2000, "" 0. Value is rounded to whole bytes; false (Value 0) for an
// invalid text or a size beyond the 64-bit range.
bool TryStrToByteSize(const QString &S, int64_t &Value, QChar DecSep = QChar());

// ---- Floating-point texts --------------------------------------------------

// Value with Digits (2 to 8) significant digits after scaling it into the
// range of its SI prefix. PrefixIndex: 1 to 10 for f p n µ m (none) k M G T;
// 6 (no prefix) also for values below 1e-15 or above 1e15, which are not
// scaled.
void FormatSignificant(int Digits, QString &Text, int &PrefixIndex, QChar DecSep, double Value);

// Digits 1: Value rounded to an integer. Otherwise the significant-digit text
// followed by "E" and the exponent of its prefix (none for prefix index 6).
// Digits 0: four significant digits without trailing zeros.
QString FormatEngineering(int Digits, QChar DecSep, double Value);

// Digits 1: Value rounded to an integer. Otherwise the significant-digit text
// followed by Sep and the prefix letter (nothing for prefix index 6).
QString FormatSiPrefixed(int Digits, const QString &Sep, QChar DecSep, double Value);

// A byte count with a unit: "512 B", "1.50 KiB", "15.0 MB", "3.25 GiB".
// Decimal selects base 1000 (kB, MB, GB), else 1024 (KiB, MiB, GiB).
// TrimZeros drops the decimals of a value that shows as a whole number.
QString FormatByteSize(int64_t Value, bool Decimal, bool TrimZeros = false, QChar DecSep = QChar());

// Whether X shows as a whole number with Decimals decimals: true for
// Decimals below 1, false above 2, else X lies within 0.1 (one decimal) or
// 0.01 (two decimals) of a whole number.
bool IsRoundNumber(int Decimals, double X);

// 2^N as a signed 64-bit value, N clamped to 0..63 (2^63 is INT64_MIN).
int64_t PowerOfTwo(int N);

} // namespace vl
