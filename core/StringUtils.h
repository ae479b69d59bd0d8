// Text helpers used throughout the program: case-insensitive search,
// character removal and replacement, token splitting for list-valued
// settings, quoting, environment expansion, count texts, command-line
// option matching, a generic quicksort and the text of system error codes.
//
// Positions are 1-based (0 = not found). "Ignoring case" means comparison
// after upper-case conversion. Character lists are passed as a QString whose
// characters are the members of the list. Tokenising functions remove the
// token and its separator from the front of their in/out argument.
#pragma once

#include <QChar>
#include <QString>

#include <cstdint>
#include <utility>

namespace vl {

enum class TTextChange { tcNone, tcLower, tcUpper };

// ---- Search, case and characters ----

// Position of subStr in s ignoring case; 0 when absent or subStr is empty.
int TextPos(const QString &subStr, const QString &s);
// As TextPos, the search starting at position offset; 0 when offset lies
// outside s.
int TextPosFrom(const QString &subStr, const QString &s, int offset);
// True when one of chars occurs in s ignoring case.
bool TextContainsAnyChar(const QString &s, const QString &chars);
// s without any of chars (exact comparison).
QString RemoveChars(const QString &s, const QString &chars);
// s with its first character upper-cased when it is one of a to z.
QString UpperFirstChar(const QString &s);
QString ChangeTextCase(const QString &s, TTextChange change);
// count blanks; empty for 0 or less.
QString Blanks(int count);
// s with blanks appended up to length len.
QString PadRightBlanks(const QString &s, int len);
// s without any blank (code 32 only).
QString RemoveBlanks(const QString &s);
// s without any character below code 32.
QString RemoveControlChars(const QString &s);
// Every CR replaced by ch, then every character below code 32 removed:
// CR LF becomes ch, a lone LF or a tab disappears.
QString LineBreaksToChar(const QString &s, QChar ch);
QString RepeatChar(QChar ch, int count);
bool IsEmptyText(const QString &s);
bool IsNotEmptyText(const QString &s);
QString ReplaceChar(const QString &s, QChar oldChar, QChar newChar);
QString StripLeadingChar(const QString &s, QChar ch);
QString StripTrailingChar(const QString &s, QChar ch);
QString RemoveChar(const QString &s, QChar ch);
// True for '0' to '9' only.
bool IsDigitChar(QChar ch);
// Position of the first non-digit at or after start; 0 when only digits
// follow.
int FindNonDigit(const QString &s, int start);
// s trimmed, with sep inserted between groups of three digits of the
// integer part (unless fractionOnly) and of the fraction after the
// locale's decimal separator: "-1234567.8912" -> "-1 234 567.891 2".
QString GroupDigits(const QString &s, QChar sep, bool fractionOnly);
// Every character of text that occurs in chars replaced by "%" and its code
// as four upper-case hexadecimal digits; the characters of chars are
// applied one after another to the text produced so far.
QString EscapeCharsAsHex(const QString &text, const QString &chars);
// Every "%" followed by four hexadecimal digits replaced by the character
// of that code; everything else copied.
QString UnescapeHexChars(const QString &s);
// s from the first ch on (ch included); empty when ch does not occur.
QString TextFromChar(const QString &s, QChar ch);
// Occurrences of subStr in s, overlapping ones included; an occurrence at
// the first character is not counted (the search starts at position 2).
int CountSubstr(const QString &subStr, const QString &s);

// ---- Tokens and lists ----

// The text before the first sep (all of s when there is none); it and the
// sep are removed from s.
QString SplitNextToken(QString &s, QChar sep);
// s loses its leading blanks and control characters; then the token before
// the first sep, converted as a decimal or "$"-hexadecimal integer, or def
// when s is empty or the token is no number. The token and sep are removed.
int64_t SplitNextInt64(QString &s, QChar sep, int64_t def);
// The text before the first sep (all of s when there is none).
QString FirstToken(const QString &s, QChar sep);
// FirstToken without leading and trailing blanks and control characters.
QString FirstTokenTrimmed(const QString &s, QChar sep);
// FirstTokenTrimmed as a decimal or "$"-hexadecimal integer, else def.
int64_t FirstTokenInt64(const QString &s, QChar sep, int64_t def);
// The next item of a list whose items may be quoted with quote: a quoted
// item may hold sep and doubled quotes and is returned dequoted; an
// unquoted item is the text before the next sep. Leading blanks and
// control characters of s are dropped first; the item and its sep are
// removed from s.
QString SplitNextQuotedToken(QString &s, QChar sep, QChar quote);
// Empty for an empty s; s in double quotes (inner quotes doubled) when it
// contains one of chars, or always when chars is empty; else s.
QString QuoteIfContainsChar(const QString &s, const QString &chars);
QString QuoteIfHasBlank(const QString &s);
// Replaces %NAME% by the value of the environment variable NAME where it is
// set and not empty. Percent signs pair up from the left: each "%" and the
// next "%" after it enclose a candidate name.
QString ExpandEnvironmentVars(const QString &s);
// The items of a comma text (separated by commas or blanks, double-quoted
// items may hold both) sorted ignoring case without duplicates, written back
// as comma text.
QString SortCommaText(const QString &s);
// The items of s (split by SplitNextQuotedToken) joined by CR LF; count
// receives the number of items.
QString QuotedListToLines(const QString &s, QChar sep, QChar quote, int &count);
// QuotedListToLines with "," and '"'.
QString CommaListToLines(const QString &s);

// ---- Counts, options, sorting ----

// one for n = 1, zero for n = 0 when zero is not empty, else many formatted
// with n ("%u" or "%d"). With useThousands, n from 10000 on is shown with
// the locale's thousands separator.
QString CountText(const QString &zero, const QString &one, const QString &many, int n,
                  bool useThousands = false);
// As CountText; one is formatted with arg, many with n and arg (in that
// order); zero is returned unformatted.
QString CountTextWithArg(const QString &zero, const QString &one, const QString &many, int n,
                         const QString &arg, bool useThousands = false);
// "1 singular" for n = 1, else "<n> plural".
QString CountWithNoun(const QString &singular, const QString &plural, int n, bool useThousands = false);
// True when arg in lower case equals as many leading characters of keyword
// (lower case) as arg has; an empty arg matches every keyword.
bool IsOptionAbbrev(const QString &arg, const QString &keyword);
// True when arg has a ":" and the text before it satisfies IsOptionAbbrev;
// arg then holds the text after the ":".
bool IsOptionWithValue(QString &arg, const QString &keyword);

namespace detail {
template <typename T, typename Less>
void QuickSortRange(T *items, int lo, int hi, Less &less)
{
    int i = lo;
    int j = hi;
    const T pivot = items[(lo + hi) / 2];
    do {
        // The bounds keep an inconsistent Less (such as "<=") inside the range.
        while (i < hi && less(items[i], pivot))
            ++i;
        while (j > lo && less(pivot, items[j]))
            --j;
        if (i <= j) {
            if (i != j)
                std::swap(items[i], items[j]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (lo < j)
        QuickSortRange(items, lo, j, less);
    if (i < hi)
        QuickSortRange(items, i, hi, less);
}
} // namespace detail

// Sorts items[0 .. count-1] in place with a quicksort around the middle
// item; less(a, b) answers whether a sorts before b. Not stable.
template <typename T, typename Less>
void QuickSortArray(T *items, int count, Less less)
{
    if (items && count > 1)
        detail::QuickSortRange(items, 0, count - 1, less);
}

// ---- Errors and formatting ----

// The system's text for code (a code 0x8007xxxx or 0x0007xxxx: that of its
// system error number) followed by " (0x%.8x)", or "Error code = 0x%.8x" when
// there is no text; translated.
QString SystemErrorText(uint32_t code);
// Only the low 16 bits of an error code decide the error.
bool IsNoError(uint32_t code);
bool IsErrorCode(uint32_t code, uint32_t value);
bool IsError(uint32_t code);
QString ToBackslashes(const QString &s);
QString ToForwardSlashes(const QString &s);

// Integer text: optional leading blanks and sign, then decimal digits, or
// "$" and hexadecimal digits, and nothing after them. Decimal values must
// fit the signed range of `bits` (8 to 64); hexadecimal ones may use all
// bits and then wrap into the negative range ("$FFFFFFFF" is -1 for 32).
bool TryParseIntegerText(const QString &s, int bits, int64_t &result);

} // namespace vl
