#include "core/StringUtils.h"

#include "core/FormatSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

using namespace vl;

namespace {

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QChar C(char c)
{
    return QLatin1Char(c);
}

// Invariant separators ('.' decimal, ',' thousands) for the duration of a test.
class StringUtilsLocale : public testing::Test {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        SetFormatSettings(TFormatSettings::Invariant());
    }
    void TearDown() override { SetFormatSettings(FSaved); }

private:
    TFormatSettings FSaved;
};

} // namespace

TEST(StringUtilsTest, SearchIgnoresCase)
{
    EXPECT_EQ(TextPos(S("b"), S("ABC")), 2);
    EXPECT_EQ(TextPos(S("Äb"), S("xäB")), 2);
    EXPECT_EQ(TextPos(S("x"), S("abc")), 0);
    EXPECT_EQ(TextPos(S(""), S("abc")), 0);
    EXPECT_EQ(TextPosFrom(S("a"), S("AxA"), 2), 3);
    EXPECT_EQ(TextPosFrom(S("a"), S("AxA"), 1), 1);
    EXPECT_EQ(TextPosFrom(S("a"), S("AxA"), 0), 0);
    EXPECT_EQ(TextPosFrom(S("a"), S("AxA"), 4), 0);
    EXPECT_TRUE(TextContainsAnyChar(S("abc"), S("XB")));
    EXPECT_FALSE(TextContainsAnyChar(S("abc"), S("xyz")));
    EXPECT_FALSE(TextContainsAnyChar(S("abc"), S("")));
}

TEST(StringUtilsTest, CharacterEdits)
{
    struct Case {
        QString got, expected;
    } cases[] = {
        {RemoveChars(S("a-b_cA"), S("-_a")), S("bcA")},
        {RemoveChars(S("abc"), S("")), S("abc")},
        {UpperFirstChar(S("abc")), S("Abc")},
        {UpperFirstChar(S("äbc")), S("äbc")},
        {UpperFirstChar(S("")), S("")},
        {ChangeTextCase(S("äBc"), TTextChange::tcUpper), S("ÄBC")},
        {ChangeTextCase(S("äBc"), TTextChange::tcLower), S("äbc")},
        {ChangeTextCase(S("äBc"), TTextChange::tcNone), S("äBc")},
        {Blanks(3), S("   ")},
        {Blanks(-2), S("")},
        {PadRightBlanks(S("ab"), 4), S("ab  ")},
        {PadRightBlanks(S("abcde"), 4), S("abcde")},
        {RemoveBlanks(S(" a b\tc ")), S("ab\tc")},
        {RemoveControlChars(S("a\tb\r\nc\x1f ")), S("abc ")},
        {LineBreaksToChar(S("a\r\nb\nc\td\r"), C('|')), S("a|bcd|")},
        {LineBreaksToChar(S("a\r\nb"), C('\t')), S("ab")},
        {RepeatChar(C('='), 3), S("===")},
        {RepeatChar(C('='), 0), S("")},
        {StripLeadingChar(S("00102"), C('0')), S("102")},
        {StripTrailingChar(S("a//b//"), C('/')), S("a//b")},
        {StripTrailingChar(S("///"), C('/')), S("")},
        {RemoveChar(S("a.b.c"), C('.')), S("abc")},
        {ReplaceChar(S("a.b.c"), C('.'), C('-')), S("a-b-c")},
        {ToBackslashes(S("a/b/c")), S("a\\b\\c")},
        {ToForwardSlashes(S("a\\b\\c")), S("a/b/c")},
        {TextFromChar(S("name=value=x"), C('=')), S("=value=x")},
        {TextFromChar(S("name"), C('=')), S("")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
    EXPECT_TRUE(IsEmptyText(S("")));
    EXPECT_FALSE(IsEmptyText(S(" ")));
    EXPECT_TRUE(IsNotEmptyText(S(" ")));
}

TEST(StringUtilsTest, DigitsAndSubstrings)
{
    EXPECT_TRUE(IsDigitChar(C('0')));
    EXPECT_TRUE(IsDigitChar(C('9')));
    EXPECT_FALSE(IsDigitChar(QChar(0x0663))); // Arabic-Indic three
    EXPECT_EQ(FindNonDigit(S("12a4b"), 1), 3);
    EXPECT_EQ(FindNonDigit(S("12a4b"), 4), 5);
    EXPECT_EQ(FindNonDigit(S("12a45"), 4), 0);
    EXPECT_EQ(FindNonDigit(S("x1"), 0), 1);
    EXPECT_EQ(FindNonDigit(S(""), 1), 0);

    struct Case {
        const char *sub, *s;
        int expected;
    } cases[] = {
        {"/", "/a/b", 1}, {"/", "a/b/c", 2}, {"aa", "aaaa", 2}, {"a", "A", 0}, {"", "abc", 0}, {"b", "ABC", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CountSubstr(S(c.sub), S(c.s)), c.expected) << c.sub << " in " << c.s;
}

TEST_F(StringUtilsLocale, GroupDigits)
{
    struct Case {
        const char *s;
        char sep;
        bool fractionOnly;
        const char *expected;
    } cases[] = {
        {"-1234567.891", ' ', false, "-1 234 567.891"},
        {"-1234567.891", ' ', true, "-1234567.891"},
        {"-1234", ' ', true, "-1234"},
        {"0.1234567", ' ', false, "0.123 456 7"},
        {"0.123", ' ', false, "0.123"},
        {"1234567.1234", '\'', true, "1234567.123'4"},
        {"  123456 \t", ' ', false, "123 456"},
        {"1234 kB", ',', false, "1,234 kB"},
        {"12.345678 s", ' ', false, "12.345 678 s"},
        {"123", ' ', false, "123"},
        {"-", ' ', false, "-"},
        {"", ' ', false, ""},
        {" 1234 ", '\0', false, "1234"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GroupDigits(S(c.s), QLatin1Char(c.sep), c.fractionOnly), S(c.expected)) << c.s;

    // The decimal separator is the locale's.
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = C(',');
    SetFormatSettings(fs);
    EXPECT_EQ(GroupDigits(S("1234,5678"), C('.'), false), S("1.234,567.8"));
    EXPECT_EQ(GroupDigits(S("1234.5678"), C(' '), false), S("1 234.5678"));
}

TEST(StringUtilsTest, HexEscapes)
{
    // Chars are applied in order: a "%" listed last also escapes the signs
    // of the earlier replacements, listed first it keeps them readable.
    EXPECT_EQ(EscapeCharsAsHex(S("a%b c"), S(" %")), S("a%0025b%00250020c"));
    EXPECT_EQ(EscapeCharsAsHex(S("a%b c"), S("% ")), S("a%0025b%0020c"));
    EXPECT_EQ(EscapeCharsAsHex(S("ä|"), S("ä|")), S("%00E4%007C"));
    EXPECT_EQ(UnescapeHexChars(S("a%0025b%0020c")), S("a%b c"));
    EXPECT_EQ(UnescapeHexChars(S("%0041%zz%00")), S("A%zz%00"));
    EXPECT_EQ(UnescapeHexChars(S("%00e4%12G4%")), S("ä%12G4%"));
    EXPECT_EQ(UnescapeHexChars(S("%%0041")), S("%A"));
}

TEST(StringUtilsTest, SplitNextTokenConsumesText)
{
    QString s = S("a|b|");
    EXPECT_EQ(SplitNextToken(s, C('|')), S("a"));
    EXPECT_EQ(SplitNextToken(s, C('|')), S("b"));
    EXPECT_TRUE(s.isEmpty());
    EXPECT_EQ(SplitNextToken(s, C('|')), S(""));

    s = S("|x");
    EXPECT_EQ(SplitNextToken(s, C('|')), S(""));
    EXPECT_EQ(s, S("x"));
    EXPECT_EQ(SplitNextToken(s, C('|')), S("x"));
    EXPECT_TRUE(s.isEmpty());

    s = S(" a b ;c");
    EXPECT_EQ(FirstToken(s, C(';')), S(" a b "));
    EXPECT_EQ(FirstTokenTrimmed(s, C(';')), S("a b"));
    EXPECT_EQ(FirstToken(S("abc"), C(';')), S("abc"));
    EXPECT_EQ(s, S(" a b ;c"));
}

TEST(StringUtilsTest, IntegerTokens)
{
    QString s = S(" 12;x;\t7");
    EXPECT_EQ(SplitNextInt64(s, C(';'), -1), 12);
    EXPECT_EQ(SplitNextInt64(s, C(';'), -1), -1);
    EXPECT_EQ(s, S("\t7"));
    EXPECT_EQ(SplitNextInt64(s, C(';'), -1), 7);
    EXPECT_TRUE(s.isEmpty());
    EXPECT_EQ(SplitNextInt64(s, C(';'), -5), -5);

    s = S(";$1f;");
    EXPECT_EQ(SplitNextInt64(s, C(';'), 99), 99); // empty token
    EXPECT_EQ(SplitNextInt64(s, C(';'), 99), 31);
    EXPECT_TRUE(s.isEmpty());

    struct Case {
        const char *s;
        int64_t expected;
    } cases[] = {
        {" 42 ,x", 42},
        {"-42", -42},
        {"+7", 7},
        {"$FF", 255},
        {"-$10", -16},
        {"$FFFFFFFFFFFFFFFF", -1},
        {"$1FFFFFFFFFFFFFFFF", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", 0},
        {"12a", 0},
        {"0x10", 0},
        {"$", 0},
        {"-", 0},
        {"", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FirstTokenInt64(S(c.s), C(','), 0), c.expected) << c.s;
}

TEST(StringUtilsTest, QuotedTokens)
{
    const QChar sep = C(','), quote = C('"');
    auto splitAll = [&](const char *text) {
        QString s = S(text);
        QStringList tokens;
        while (!s.isEmpty())
            tokens << SplitNextQuotedToken(s, sep, quote);
        return tokens;
    };
    EXPECT_EQ(splitAll("\"a\"\"b\",c, d"), (QStringList{S("a\"b"), S("c"), S("d")}));
    EXPECT_EQ(splitAll(" \"x, y\"  \t,z "), (QStringList{S("x, y"), S("z ")}));
    EXPECT_EQ(splitAll("\"\",a"), (QStringList{S(""), S("a")}));
    EXPECT_EQ(splitAll("\"a"), (QStringList{S("")}));
    EXPECT_EQ(splitAll("\"abc,d"), (QStringList{S("\"abc,d")})); // not closed: kept as is
    EXPECT_EQ(splitAll("\"ab\"cd,e"), (QStringList{S("ab"), S("e")}));
    EXPECT_EQ(splitAll(" ,a"), (QStringList{S(""), S("a")}));

    QString empty = S(" \t ");
    EXPECT_EQ(SplitNextQuotedToken(empty, sep, quote), S(""));
    EXPECT_TRUE(empty.isEmpty());

    int count = -1;
    EXPECT_EQ(QuotedListToLines(S("a; 'b;c' ;d"), C(';'), C('\''), count), S("a\r\nb;c\r\nd"));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(QuotedListToLines(S(""), C(';'), C('\''), count), S(""));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(CommaListToLines(S("\"C:/a, b\",x")), S("C:/a, b\r\nx"));
}

TEST(StringUtilsTest, Quoting)
{
    EXPECT_EQ(QuoteIfContainsChar(S("a b"), S(" ")), S("\"a b\""));
    EXPECT_EQ(QuoteIfContainsChar(S("ab"), S(" ")), S("ab"));
    EXPECT_EQ(QuoteIfContainsChar(S("ab"), S("")), S("\"ab\""));
    EXPECT_EQ(QuoteIfContainsChar(S(""), S("")), S(""));
    EXPECT_EQ(QuoteIfContainsChar(S("a;b"), S(",;")), S("\"a;b\""));
    EXPECT_EQ(QuoteIfHasBlank(S("say \"hi\"")), S("\"say \"\"hi\"\"\""));
    EXPECT_EQ(QuoteIfHasBlank(S("x\"y")), S("x\"y"));
}

TEST(StringUtilsTest, ExpandEnvironmentVars)
{
    setenv("VL_STR_A", "alpha", 1);
    setenv("VL_STR_EMPTY", "", 1);
    setenv("VL_STR_B", "x=y", 1);
    unsetenv("VL_STR_NONE");
    struct Case {
        const char *s, *expected;
    } cases[] = {
        {"x%VL_STR_A%y", "xalphay"},
        {"%VL_STR_A%/%vl_str_a%", "alpha/alpha"}, // every occurrence, ignoring case
        {"%vl_str_a%", "%vl_str_a%"},             // names are case-sensitive here
        {"50% of %VL_STR_A%", "50% of %VL_STR_A%"},
        {"%VL_STR_A%%VL_STR_A%", "alphaalpha"},
        {"%VL_STR_EMPTY%%VL_STR_NONE%", "%VL_STR_EMPTY%%VL_STR_NONE%"},
        {"%VL_STR_B=x%", "%VL_STR_B=x%"},
        {"%%", "%%"},
        {"%VL_STR_A", "%VL_STR_A"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExpandEnvironmentVars(S(c.s)), S(c.expected)) << c.s;
}

TEST(StringUtilsTest, SortCommaText)
{
    struct Case {
        const char *s, *expected;
    } cases[] = {
        {"b,a,C", "a,b,C"},
        {"b A a  c", "A,b,c"},
        {"\"x y\",a", "a,\"x y\""},
        {"\"q\"\"r\", p,\"s,t\"", "p,\"q\"\"r\",\"s,t\""},
        {"b,,a", ",a,b"},
        {"a,", ",a"},
        {"\"\"", "\"\""},
        {"", ""},
        {"  ", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SortCommaText(S(c.s)), S(c.expected)) << c.s;
}

TEST_F(StringUtilsLocale, CountTexts)
{
    const QString many = S("%u files");
    struct Case {
        QString got, expected;
    } cases[] = {
        {CountText(S("no files"), S("one file"), many, 1), S("one file")},
        {CountText(S("no files"), S("one file"), many, 0), S("no files")},
        {CountText(S(""), S("one file"), many, 0), S("0 files")},
        {CountText(S(""), S("one file"), many, 12345, true), S("12,345 files")},
        {CountText(S(""), S("one file"), many, 9999, true), S("9999 files")},
        {CountText(S(""), S("one file"), many, 12345, false), S("12345 files")},
        {CountText(S(""), S(""), S("%d files"), 12345, true), S("12,345 files")},
        {CountText(S(""), S(""), S("%%u: %0:6u"), 12345, true), S("%u: 12,345")},
        {CountTextWithArg(S("none"), S("1 file in %s"), S("%u files in %s"), 1, S("X")), S("1 file in X")},
        {CountTextWithArg(S("none in %s"), S(""), S("%u files in %s"), 0, S("X")), S("none in %s")},
        {CountTextWithArg(S(""), S(""), S("%u files in %s"), 7, S("X"), true), S("7 files in X")},
        {CountTextWithArg(S(""), S(""), S("%1:s: %0:u"), 20000, S("X"), true), S("X: 20,000")},
        {CountWithNoun(S("file"), S("files"), 1), S("1 file")},
        {CountWithNoun(S("file"), S("files"), 0), S("0 files")},
        {CountWithNoun(S("file"), S("files"), 10000, true), S("10,000 files")},
        {CountWithNoun(S("file"), S("files"), 10000, false), S("10000 files")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(StringUtilsTest, Options)
{
    struct Case {
        const char *arg, *keyword;
        bool expected;
    } cases[] = {
        {"Fo", "force", true}, {"force", "force", true}, {"forced", "force", false},
        {"fx", "force", false}, {"", "force", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsOptionAbbrev(S(c.arg), S(c.keyword)), c.expected) << c.arg;

    QString arg = S("PR:Quiet:x");
    EXPECT_TRUE(IsOptionWithValue(arg, S("prompt")));
    EXPECT_EQ(arg, S("Quiet:x"));
    arg = S("px:quiet");
    EXPECT_FALSE(IsOptionWithValue(arg, S("prompt")));
    EXPECT_EQ(arg, S("px:quiet"));
    arg = S("prompt");
    EXPECT_FALSE(IsOptionWithValue(arg, S("prompt")));
    EXPECT_EQ(arg, S("prompt"));
}

TEST(StringUtilsTest, QuickSortArraySorts)
{
    std::mt19937 rng(7);
    for (int count : {0, 1, 2, 3, 17, 1000}) {
        std::vector<int> items(static_cast<size_t>(count));
        for (int &v : items)
            v = int(rng() % 50); // many duplicates
        std::vector<int> expected = items;
        std::sort(expected.begin(), expected.end());
        QuickSortArray(items.data(), count, [](const int &a, const int &b) { return a < b; });
        EXPECT_EQ(items, expected) << count;
    }

    struct Entry {
        QString name;
        int size;
    };
    std::vector<Entry> entries = {{S("c"), 3}, {S("a"), 1}, {S("b"), 2}};
    QuickSortArray(entries.data(), 3, [](const Entry &x, const Entry &y) { return x.size > y.size; });
    EXPECT_EQ(entries[0].name, S("c"));
    EXPECT_EQ(entries[2].name, S("a"));
}

TEST(StringUtilsTest, QuickSortArrayStaysInRangeWithInconsistentLess)
{
    // "<=" answers true for equal items, which would run the scans past the
    // ends of the range; guard items on both sides notice any such access.
    struct Item {
        int value;
        bool guard;
    };
    std::vector<Item> buffer(11, Item{4, false});
    buffer.front().guard = buffer.back().guard = true;
    buffer[4].value = 1;
    bool guardTouched = false;
    QuickSortArray(buffer.data() + 1, 9, [&](const Item &a, const Item &b) {
        if (a.guard || b.guard) {
            guardTouched = true;
            return false;
        }
        return a.value <= b.value;
    });
    EXPECT_FALSE(guardTouched);
}

TEST(StringUtilsTest, ErrorCodes)
{
    EXPECT_EQ(SystemErrorText(5), S("Access denied (0x00000005)"));
    EXPECT_EQ(SystemErrorText(0x1234ABCD), S("Error code = 0x1234ABCD"));
    EXPECT_EQ(SystemErrorText(0x80070005), S("Access denied (0x80070005)")); // COM code of a system error
    EXPECT_EQ(SystemErrorText(0x80040005), S("Error code = 0x80040005"));
    EXPECT_TRUE(IsNoError(0));
    EXPECT_TRUE(IsNoError(0x00070000));
    EXPECT_FALSE(IsNoError(0x00070001));
    EXPECT_TRUE(IsError(0x80070005));
    EXPECT_FALSE(IsError(0x80070000));
    EXPECT_TRUE(IsErrorCode(0x80070005, 5));
    EXPECT_FALSE(IsErrorCode(0x80070006, 5));
}
