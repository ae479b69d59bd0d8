#include "core/Format.h"

#include <gtest/gtest.h>

using namespace vl;

namespace {

class FormatTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(TFormatSettings::Invariant()); }
};

QString S(const char *utf8) { return QString::fromUtf8(utf8); }

} // namespace

TEST_F(FormatTest, Specifiers)
{
    struct Case { const char *fmt; TFormatArgs args; const char *expected; };
    const Case cases[] = {
        {"%s and %s", {S("a"), S("b")}, "a and b"},
        {"%d items", {42}, "42 items"},
        {"%d", {-7}, "-7"},
        {"%.4d", {-7}, "-0007"},
        {"%5d|%-5d|", {12, 12}, "   12|12   |"},
        {"%u", {4000000000u}, "4000000000"},
        {"%u", {-1}, "4294967295"},
        {"%x", {0xDEADBEEFu}, "DEADBEEF"},
        {"$%.8x", {0x5127}, "$00005127"},
        {"%x", {-1}, "FFFFFFFF"},
        {"%1:s %0:s %s", {S("a"), S("b")}, "b a b"},
        {"%.3s|%6s", {S("abcdef"), S("ab")}, "abc|    ab"},
        {"%*d", {4, 7}, "   7"},
        {"%*d|", {-4, 7}, "7   |"},
        {"100%%", {}, "100%"},
        {"%.0n", {12345.0}, "12,345"},
        {"%.2n", {-1234567.891}, "-1,234,567.89"},
        {"%.2f", {0.125}, "0.13"},
        {"%.1f", {-0.04}, "0.0"}, // rounded to zero: no sign
        {"%f", {2.0}, "2.00"},
        {"%.0f", {2.5}, "3"},
        {"%.2f", {1.005}, "1.00"}, // 1.005 is slightly below in binary
        {"%e", {1.5}, "1.50000000000000E+000"},
        {"%.3e", {-0.000123456}, "-1.23E-004"},
        {"%g", {0.5}, "0.5"},
        {"%g", {1e20}, "1E20"},
        {"%s", {QChar(u'x')}, "x"},
        {"%s", {"utf8 \xc3\xa9"}, "utf8 \xc3\xa9"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Format(S(c.fmt), c.args), S(c.expected)) << c.fmt;
}

TEST_F(FormatTest, ArgumentsThatDoNotFitAreCaught)
{
    struct Case { const char *fmt; TFormatArgs args; };
    const Case cases[] = {
        {"%d items", {S("x")}},
        {"%s", {42}},
        {"%f", {42}},
        {"%d", {1.5}},
        {"%s %s", {S("only one")}},
        {"%3:s", {S("a")}},
        {"%q", {1}},
        {"trailing %", {}},
        {"%.", {1}},
    };
    for (const Case &c : cases) {
        EXPECT_THROW(Format(S(c.fmt), c.args), EFormatError) << c.fmt;
        EXPECT_EQ(GuardedFormatArgs(S(c.fmt), c.args), S("Format error: ") + S(c.fmt)) << c.fmt;
    }
    EXPECT_EQ(GuardedFormat(S("%d items"), QStringLiteral("x")), S("Format error: %d items"));
    EXPECT_EQ(GuardedFormat(S("%s: %d"), QStringLiteral("n"), 3), S("n: 3"));
}

TEST_F(FormatTest, LocaleSeparators)
{
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = QLatin1Char(',');
    fs.ThousandSeparator = QLatin1Char('.');
    EXPECT_EQ(Format(S("%.2n|%.1f"), {1234567.5, 2.25}, fs), S("1.234.567,50|2,3"));
    EXPECT_EQ(FloatToFixed(1.5, 2, QLatin1Char(',')), S("1,50"));
    EXPECT_EQ(FloatToFixed(999.996, 2, QLatin1Char('.')), S("1000.00"));
}
