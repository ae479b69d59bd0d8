#include "core/NumberUtils.h"

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

using namespace vl;

namespace {

class NumberUtilsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        SetFormatSettings(TFormatSettings::Invariant());
    }
    void TearDown() override { SetFormatSettings(FSaved); }

    // Locale with "," as decimal and "." as thousands separator.
    static void UseCommaLocale()
    {
        TFormatSettings fs = TFormatSettings::Invariant();
        fs.DecimalSeparator = QLatin1Char(',');
        fs.ThousandSeparator = QLatin1Char('.');
        SetFormatSettings(fs);
    }

private:
    TFormatSettings FSaved;
};

std::string U(const QString &s) { return s.toStdString(); }
QString S(const char *utf8) { return QString::fromUtf8(utf8); }

constexpr QChar kDot = QLatin1Char('.');
constexpr QChar kLocale = QChar();

} // namespace

TEST_F(NumberUtilsTest, IntegerTexts)
{
    struct Case { QString actual; const char *expected; };
    const Case cases[] = {
        {IntToStrWidth(6, 42), "    42"},
        {IntToStrWidth(0, 42), "42"},
        {IntToStrWidth(3, 123456), "123456"},
        {IntToStrWidth(-8, 1234567), " 1,234,567"},
        {IntToStrWidth(-3, -1234567), "-1,234,567"},
        {IntToStrWidth(-6, 999), "   999"},
        {IntToStrWidth(-1, 1000), "1,000"},
        {IntToStrWidth(0, std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {IntToStrWidth(-1, std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808"},
        {IntToStrZeroPad(5, 42), "00042"},
        {IntToStrZeroPad(5, -42), "-00042"},
        {IntToStrZeroPad(2, 12345), "12345"},
        {IntToHexGrouped(0xDEADBEEF, 8, 4), "DEAD BEEF"},
        {IntToHexGrouped(0x1ABC, 0, 2), "1A BC"},
        {IntToHexGrouped(0xAB, 6, 0), "0000AB"},
        {IntToBinGrouped(5, 8, 4), "0000 0101"},
        {IntToBinGrouped(5, 0, 2), "1 01"},
        {IntToOctGrouped(8, 4, 2), "00 10"},
        {IntToOctGrouped(0xFFFFFFFF, 0, 0), "37777777777"},
        {IntToDecGrouped(1234567, 0, 3, false), "1 234 567"},
        {IntToDecGrouped(42, 6, 3, true), "000 042"},
        {IntToDecGrouped(42, 4, 2, false), "   42"},
        {GroupFromRight(QStringLiteral("12345"), 2, kDot), "1.23.45"},
        {GroupFromRight(QStringLiteral("123456"), 3, kDot), "123.456"},
        {GroupFromRight(QStringLiteral("abc"), -1, kDot), "abc"},
        {PadLeftChar(QStringLiteral("ab"), QLatin1Char('x'), 4), "xxab"},
        {PadLeftChar(QStringLiteral("abc"), QLatin1Char('x'), 2), "abc"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(U(c.actual), c.expected);

    UseCommaLocale();
    EXPECT_EQ(U(IntToStrWidth(-8, 1234567)), " 1.234.567");
}

TEST_F(NumberUtilsTest, DigitParsers)
{
    using Parser = std::function<bool(const QString &, int64_t &)>;
    const Parser hex = TryHexStrToInt64, oct = TryOctStrToInt64, bin = TryBinStrToInt64;
    struct Case { const char *name; const Parser &parse; const char *input; bool ok; int64_t value; };
    const Case cases[] = {
        {"hex", hex, "$ff", true, 255},
        {"hex", hex, "-$10", true, -16},
        {"hex", hex, "dead BEEF", true, 0xDEADBEEF},
        {"hex", hex, " - 1 0 ", true, -16},
        {"hex", hex, "FFFFFFFFFFFFFFFF", true, -1},
        {"hex", hex, "8000000000000000", true, std::numeric_limits<int64_t>::min()},
        {"hex", hex, "10000000000000000", false, 0},
        {"hex", hex, "-", false, 0},
        {"hex", hex, "$", false, 0},
        {"hex", hex, "", false, 0},
        {"hex", hex, "1G", false, 0},
        {"hex", hex, "$-1", false, 0},
        {"hex", hex, "0x10", false, 0},
        {"oct", oct, "-%17", true, -15},
        {"oct", oct, "777", true, 511},
        {"oct", oct, "-", true, 0},
        {"oct", oct, "%", true, 0},
        {"oct", oct, "", false, 0},
        {"oct", oct, "8", false, 0},
        {"oct", oct, "1777777777777777777777", true, -1},
        {"oct", oct, "2000000000000000000000", false, 0},
        {"bin", bin, "!101", true, 5},
        {"bin", bin, "-1 0 1", true, -5},
        {"bin", bin, "-", true, 0},
        {"bin", bin, "2", false, 0},
        {"bin", bin, "1111111111111111111111111111111111111111111111111111111111111111", true, -1},
        {"bin", bin, "10000000000000000000000000000000000000000000000000000000000000000", false, 0},
    };
    for (const Case &c : cases) {
        int64_t v = 99;
        EXPECT_EQ(c.parse(S(c.input), v), c.ok) << c.name << " '" << c.input << "'";
        EXPECT_EQ(v, c.value) << c.name << " '" << c.input << "'";
    }
}

TEST_F(NumberUtilsTest, RaisingParsersQuoteTheInput)
{
    EXPECT_EQ(HexStrToInt64(QStringLiteral("$1f")), 31);
    EXPECT_EQ(OctStrToInt64(QStringLiteral("17")), 15);
    EXPECT_EQ(BinStrToInt64(QStringLiteral("-!11")), -3);

    struct Case { std::function<int64_t(const QString &)> parse; const char *input; const char *message; };
    const Case cases[] = {
        {HexStrToInt64, "xyz", "xyz is not a valid hex value"},
        {OctStrToInt64, "9", "9 is not a valid octal value"},
        {BinStrToInt64, "12", "12 is not a valid binary value"},
    };
    for (const Case &c : cases) {
        try {
            c.parse(S(c.input));
            ADD_FAILURE() << "no exception for " << c.input;
        } catch (const EConvertError &e) {
            EXPECT_EQ(U(e.Message()), c.message);
        }
    }
}

TEST_F(NumberUtilsTest, SiValueParser)
{
    struct Case { const char *input; QChar decSep; bool ok; double value; };
    const Case cases[] = {
        {"1.5k", kLocale, true, 1500},
        {"20\u00B5", kLocale, true, 2e-5},
        {" 3 m ", kLocale, true, 0.003},
        {"3M", kLocale, true, 3e6},
        {"-2 n", kLocale, true, -2e-9},
        {"4.7 G", kLocale, true, 4.7e9},
        {"1T", kLocale, true, 1e12},
        {"5f", kLocale, true, 5e-15},
        {"12", kLocale, true, 12},
        {"1e3k", kLocale, true, 1e6},
        {"", kLocale, true, 0},
        {"   ", kLocale, true, 0},
        {"1,5k", QLatin1Char(','), true, 1500},
        {"1.5x", kLocale, false, 0},
        {"1.5K", kLocale, false, 0},
        {"k", kLocale, false, 0},
        {"1.5.3", kLocale, false, 0},
        {"1,5k", kLocale, false, 0},
        {"1 5", kLocale, false, 0},
    };
    for (const Case &c : cases) {
        double v = -1;
        EXPECT_EQ(TryStrToSiValue(S(c.input), v, c.decSep), c.ok) << c.input;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.input;
        }
    }

    UseCommaLocale();
    double v = 0;
    EXPECT_TRUE(TryStrToSiValue(QStringLiteral("2,5k"), v));
    EXPECT_DOUBLE_EQ(v, 2500);
}

TEST_F(NumberUtilsTest, ByteSizeParser)
{
    struct Case { const char *input; QChar decSep; bool ok; int64_t value; };
    const Case cases[] = {
        {"1.5 KiB", kLocale, true, 1536},
        {"2kB", kLocale, true, 2000},
        {"3 G", kLocale, true, 3000000000},
        {"3 GiB", kLocale, true, 3221225472},
        {"1.5 TiB", kLocale, true, 1649267441664},
        {"2 mb", kLocale, true, 2000000},
        {"100", kLocale, true, 100},
        {" 5 B ", kLocale, true, 5},
        {"", kLocale, true, 0},
        {"0.5", kLocale, true, 0},  // halves to even
        {"2.5", kLocale, true, 2},
        {"1,5 k", QLatin1Char(','), true, 1500},
        {"B", kLocale, false, 0},
        {"iB", kLocale, false, 0},
        {"K", kLocale, false, 0},
        {"1.", kLocale, false, 0},
        {"-", kLocale, false, 0},
        {"1.5 X", kLocale, false, 0},
        {"1.5 PiB", kLocale, false, 0},
        {"1 x K", kLocale, false, 0},
        {"1 5 K", kLocale, false, 0},
        {"1e30 TiB", kLocale, false, 0},
        {"9223372036854775808", kLocale, false, 0},
    };
    for (const Case &c : cases) {
        int64_t v = 99;
        EXPECT_EQ(TryStrToByteSize(S(c.input), v, c.decSep), c.ok) << c.input;
        EXPECT_EQ(v, c.value) << c.input;
    }

    UseCommaLocale();
    int64_t v = 0;
    EXPECT_TRUE(TryStrToByteSize(QStringLiteral("1,5 KiB"), v));
    EXPECT_EQ(v, 1536);
}

TEST_F(NumberUtilsTest, SignificantDigits)
{
    struct Case { int digits; double value; const char *text; int index; };
    const Case cases[] = {
        {3, 1500, "1.50", 7},
        {3, 0.05, "50.0", 5},
        {3, 0.5, "0.500", 6},
        {3, -1500, "-1.50", 7},
        {2, 123, "120", 6},
        {4, 123456, "123.5", 7},
        {3, 2.5e-13, "0.250", 2},
        {3, 4.7e9, "4.70", 9},
        {3, 0, "0.000", 6},
        {3, 1e-16, "0.000", 6},
        {9, 1, "1.0000000", 6},
        {-5, 7, "7.0", 6},
        {2, 0.125, "0.12", 6}, // halves to even
        // Rounding that carries into a further integer digit.
        {3, 0.9996, "1.00", 6},
        {3, 9.996, "10.0", 6},
        {3, 99.96, "100", 6},
        {2, 998.9, "1000", 6},
        // Beyond 1e15 there is no prefix and no scaling.
        {5, 2e16, "20000000000000000", 6},
    };
    for (const Case &c : cases) {
        QString text;
        int index = -1;
        FormatSignificant(c.digits, text, index, kDot, c.value);
        EXPECT_EQ(U(text), c.text) << c.digits << " " << c.value;
        EXPECT_EQ(index, c.index) << c.digits << " " << c.value;
    }

    UseCommaLocale();
    QString text;
    int index = 0;
    FormatSignificant(3, text, index, kLocale, 1500);
    EXPECT_EQ(U(text), "1,50");
}

TEST_F(NumberUtilsTest, EngineeringAndSiPrefixed)
{
    struct Case { QString actual; const char *expected; };
    const Case cases[] = {
        {FormatEngineering(0, kDot, 1500), "1.5E3"},
        {FormatEngineering(3, kDot, 1500), "1.50E3"},
        {FormatEngineering(3, kDot, 0.05), "50.0E-3"},
        {FormatEngineering(3, kDot, 0.5), "0.500"},
        {FormatEngineering(0, kDot, 100), "100"},
        {FormatEngineering(0, kDot, 0), "0"},
        {FormatEngineering(0, kDot, 2e-6), "2E-6"},
        {FormatEngineering(0, QLatin1Char(','), 0.0123), "12,3E-3"},
        {FormatEngineering(1, kDot, 2.5), "2"},
        {FormatEngineering(1, kDot, 3.5), "4"},
        {FormatSiPrefixed(3, QStringLiteral(" "), kDot, 1500), "1.50 k"},
        {FormatSiPrefixed(3, QStringLiteral(" "), kDot, 0.05), "50.0 m"},
        {FormatSiPrefixed(3, QStringLiteral(" "), kDot, 0.5), "0.500"},
        {FormatSiPrefixed(3, QString(), kDot, 2e-5), "20.0\u00B5"},
        {FormatSiPrefixed(3, QStringLiteral(" "), kDot, -4.7e9), "-4.70 G"},
        {FormatSiPrefixed(1, QStringLiteral(" "), kDot, 1500.5), "1500"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(U(c.actual), c.expected);
}

TEST_F(NumberUtilsTest, ByteSizeTexts)
{
    const int64_t KiB = 1024, MiB = KiB * KiB, GiB = MiB * KiB;
    struct Case { int64_t value; bool decimal; bool trim; QChar decSep; const char *expected; };
    const Case cases[] = {
        {512, false, false, kLocale, "512 B"},
        {1023, false, false, kLocale, "1023 B"},
        {-5000, false, false, kLocale, "-5000 B"},
        {1024, false, false, kLocale, "1.00 KiB"},
        {1024, false, true, kLocale, "1 KiB"},
        {1536, false, false, kLocale, "1.50 KiB"},
        {1536, false, true, kLocale, "1.50 KiB"},
        {1536, false, false, QLatin1Char(','), "1,50 KiB"},
        {1000, true, false, kLocale, "1.00 kB"},
        {1000, false, false, kLocale, "1000 B"},
        {15000000, true, false, kLocale, "15.0 MB"},
        {15000000, true, true, kLocale, "15 MB"},
        {250 * MiB, false, false, kLocale, "250 MiB"},
        {3 * GiB + GiB / 4, false, false, kLocale, "3.25 GiB"},
        {1000000000000, true, false, kLocale, "1000.00 GB"},
        {1000000000000, true, true, kLocale, "1000 GB"},
        {std::numeric_limits<int64_t>::max(), false, false, kLocale, "8589934592.00 GiB"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(U(FormatByteSize(c.value, c.decimal, c.trim, c.decSep)), c.expected) << c.value;

    UseCommaLocale();
    EXPECT_EQ(U(FormatByteSize(1536, false)), "1,50 KiB");
}

TEST_F(NumberUtilsTest, RoundNumbers)
{
    struct Case { int decimals; double x; bool round; };
    const Case cases[] = {
        {0, 1.5, true},   {-1, 0.5, true},   {3, 1.0, false},
        {1, 2.95, true},  {1, 3.04, true},   {1, 2.85, false},
        {2, 2.995, true}, {2, 2.98, false},  {2, -4.001, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsRoundNumber(c.decimals, c.x), c.round) << c.decimals << " " << c.x;
}

TEST_F(NumberUtilsTest, PowerOfTwo)
{
    const std::pair<int, int64_t> cases[] = {
        {0, 1},
        {-3, 1},
        {10, 1024},
        {62, int64_t(1) << 62},
        {63, std::numeric_limits<int64_t>::min()},
        {70, std::numeric_limits<int64_t>::min()},
    };
    for (const auto &[n, expected] : cases)
        EXPECT_EQ(vl::PowerOfTwo(n), expected) << n;
}
