#include "core/Masks.h"
#include "core/TextFilter.h"

#include <gtest/gtest.h>

#include <QString>

namespace vl {
namespace {

QString S(const char *utf8) { return QString::fromUtf8(utf8); }

// --- Wildcard masks ------------------------------------------------------

struct MaskCase {
    const char *Mask;
    const char *Text;
    bool Expected;
};

TEST(MasksTest, MatchesWholeText)
{
    const MaskCase cases[] = {
        {"*", "", true},
        {"*", "anything.txt", true},
        {"", "", true},
        {"", "a", false},
        {"a*", "abc", true},
        {"a*", "xabc", false},          // anchored at the start
        {"*c", "abcx", false},          // and at the end
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXcYYb", false},
        {"*.txt", "notes.TXT", true},   // a-z ignore case
        {"*.TXT", "notes.txt", true},
        {"?", "", false},
        {"?", "x", true},
        {"??", "x", false},
        {"a?c", "abc", true},
        {"*ab", "aab", true},           // "*" must give back characters
        {"*aab", "aaab", true},
        {"*a*a", "baaba", true},
        {"[abc]x", "bx", true},
        {"[abc]x", "dx", false},
        {"[a-c]", "B", true},           // ranges ignore case for letters
        {"[A-C]", "b", true},
        {"[!a-c]", "B", false},
        {"[!a-c]", "d", true},
        {"[!a-c]", "", false},          // a set takes exactly one character
        {"[a-]", "-", true},            // trailing "-" is a plain character
        {"[a-c-e]", "-", true},
        {"[a-c-e]", "d", false},
        {"[*?]", "?", true},            // wildcards are plain inside a set
        {"[*?]", "x", false},
        {"]", "]", true},
        {"\u00e9", "\u00c9", false},    // other letters match exactly
        {"\u00e9*", "\u00e9t\u00e9", true},
        {"?", "\U0001F600", true},      // one code point, not two units
        {"??", "\U0001F600", false},
        {"[\U0001F600]", "\U0001F600", true},
    };
    for (const MaskCase &c : cases) {
        const TMask mask(S(c.Mask));
        ASSERT_TRUE(mask.IsValid()) << c.Mask;
        EXPECT_EQ(mask.Matches(S(c.Text)), c.Expected) << c.Mask << " / " << c.Text;
        EXPECT_EQ(MatchesMask(S(c.Text), S(c.Mask)), c.Expected) << c.Mask << " / " << c.Text;
    }
}

TEST(MasksTest, LoneSurrogateIsOneCharacter)
{
    // Byte 0xE9 of a non-UTF-8 file name maps to U+DCE9.
    const QString name = QStringLiteral("a") + QChar(0xDCE9) + QStringLiteral("b");
    EXPECT_TRUE(MatchesMask(name, QStringLiteral("a?b")));
    EXPECT_TRUE(MatchesMask(name, QStringLiteral("*b")));
    EXPECT_FALSE(MatchesMask(name, QStringLiteral("a??b")));
}

TEST(MasksTest, InvalidSets)
{
    for (const char *m : {"[a", "x[", "[!", "[]", "[!]", "[]]x", "[-a]", "[!-a]", "*.[ab"}) {
        EXPECT_FALSE(IsValidMask(S(m))) << m;
        const TMask mask(S(m));
        EXPECT_FALSE(mask.Matches(QStringLiteral("a"))) << m;
        EXPECT_THROW(MatchesMask(QStringLiteral("a"), S(m)), EMaskException) << m;
    }
    for (const char *m : {"[ab]", "[!a]", "[a-]", "[a]]", "!", "+"})
        EXPECT_TRUE(IsValidMask(S(m))) << m;
}

TEST(MasksTest, ManyStarsDoNotBacktrackExponentially)
{
    // With naive backtracking this takes far longer than any test time-out.
    QString mask;
    for (int i = 0; i < 40; ++i)
        mask += QStringLiteral("*a");
    mask += QStringLiteral("*b");
    const QString text(5000, QLatin1Char('a'));
    EXPECT_FALSE(MatchesMask(text, mask));
    EXPECT_TRUE(MatchesMask(text + QLatin1Char('b'), mask));
}

// --- Text filter -----------------------------------------------------------

struct FilterCase {
    bool IsFile;
    bool IgnoreCase;
    bool Regular;
    TFilterMode Mode;
    const char *Filter;
    const char *Text;
    bool Expected;
};

constexpr TFilterMode kIn = TFilterMode::fmInclude;
constexpr TFilterMode kEx = TFilterMode::fmExclude;
constexpr TFilterMode kOff = TFilterMode::fmOff;

TEST(TextFilterTest, MatchesFilterTable)
{
    const FilterCase cases[] = {
        // Off passes everything, whatever the filter.
        {true, false, false, kOff, "*.txt", "a.pdf", true},
        {false, false, true, kOff, "^x", "abc", true},
        // OR list in a file filter.
        {true, false, false, kIn, "*.txt|*.doc", "a.TXT", true},
        {true, false, false, kIn, "*.txt|*.doc", "b.doc", true},
        {true, false, false, kIn, "*.txt|*.doc", "a.pdf", false},
        // AND list: every token must match.
        {false, false, false, kIn, "+*a*|!*b*", "xa", true},
        {false, false, false, kIn, "+*a*|!*b*", "xab", false},
        {false, false, false, kIn, "+*a*|!*b*", "xy", false},
        // Negation.
        {true, false, false, kIn, "!*.tmp", "a.log", true},
        {true, false, false, kIn, "!*.tmp", "a.tmp", false},
        // "*." selects names without extension.
        {true, false, false, kIn, "*.", "README", true},
        {true, false, false, kIn, "*.", "a.txt", false},
        {true, false, false, kIn, "!*.", "README", false},
        {true, false, false, kIn, "*.*", "README", false},
        {false, false, false, kIn, "*.", "README", false},   // only file filters
        // A mask without extension in a file filter covers all extensions.
        {true, false, false, kIn, "data", "data.bin", true},
        {true, false, false, kIn, "data", "data", false},
        // Exclude inverts.
        {true, false, false, kEx, "*.bak", "x.bak", false},
        {true, false, false, kEx, "*.bak", "x.txt", true},
        // Empty tokens are ignored, at any place and in both list kinds.
        {false, false, false, kIn, "|tmp", "other", false},
        {false, false, false, kIn, "|tmp", "tmp", true},
        {false, false, false, kEx, "|tmp", "other", true},
        {false, false, false, kEx, "|tmp", "tmp", false},
        {false, false, false, kIn, "a||b|", "b", true},
        {false, false, false, kIn, "a||b|", "c", false},
        {false, false, false, kIn, "+|*a*||*b*", "ab", true},
        {false, false, false, kIn, "+|*a*||*b*", "a", false},
        {true, false, false, kIn, "|*.tmp", "a.log", false},
        {true, false, false, kIn, "|*.tmp", ".hidden", false},
        // Only empty tokens: OR matches nothing, AND has nothing that fails.
        {false, false, false, kIn, "|", "x", false},
        {false, false, false, kEx, "||", "x", true},
        {false, false, false, kIn, "+", "x", true},
        {false, false, false, kIn, "+||", "x", true},
        // Regular expressions: searched anywhere, caseless only on request.
        {false, false, true, kIn, "^tmp", "tmpfile", true},
        {false, false, true, kIn, "^tmp", "TMPfile", false},
        {false, true, true, kIn, "^tmp", "TMPfile", true},
        {false, false, true, kIn, "ile", "tmpfile", true},
        {false, false, true, kIn, "^ile", "tmpfile", false},
        {false, true, true, kIn, "\u00e9t\u00e9", "\u00c9T\u00c9.txt", true},
        {false, false, true, kEx, "\\.bak$", "x.bak", false},
        {false, false, true, kEx, "\\.bak$", "x.bakx", true},
        {false, false, true, kIn, "", "anything", true},      // stored as "."
    };
    for (const FilterCase &c : cases) {
        TTextFilter f(c.IsFile, c.IgnoreCase);
        f.SetRegular(c.Regular);
        f.SetFilter(S(c.Filter));
        f.SetMode(c.Mode);
        EXPECT_EQ(f.MatchesFilter(S(c.Text)), c.Expected)
            << "filter '" << c.Filter << "' text '" << c.Text << "' file " << c.IsFile << " regexp " << c.Regular
            << " mode " << int(c.Mode);
    }
}

TEST(TextFilterTest, NewFilterPassesEverything)
{
    TTextFilter f(true, false);
    EXPECT_EQ(f.Mode(), TFilterMode::fmOff);
    EXPECT_FALSE(f.Regular());
    EXPECT_EQ(f.GetFilter(), QStringLiteral("*"));
    EXPECT_EQ(f.Separator(), QLatin1Char('|'));
    EXPECT_TRUE(f.MatchesFilter(QStringLiteral("x")));
    f.SetRegular(true);
    EXPECT_TRUE(f.MatchesFilter(QStringLiteral("x")));
    // A never-set expression matches everything once the filter is on.
    f.SetMode(TFilterMode::fmInclude);
    EXPECT_TRUE(f.MatchesFilter(QString()));
}

TEST(TextFilterTest, FileFilterStoresExtensions)
{
    const struct {
        const char *Value, *Stored;
    } cases[] = {
        {"abc|!tmp", "abc.*|!tmp.*"},
        {"*.txt", "*.txt"},
        {"*.", "*."},
        {"data", "data.*"},
        {"+a|b", "+a.*|b.*"},
        {"a.b/c", "a.b/c.*"},      // the extension belongs to the last element
        {"a||b|", "a.*||b.*"},     // empty tokens stay empty, a trailing "|" goes
        {"+|a", "+|a.*"},
        {"", "*"},
    };
    for (const auto &c : cases) {
        TTextFilter f(true, false);
        f.SetFilter(S(c.Value));
        EXPECT_EQ(f.GetFilter(), S(c.Stored)) << c.Value;
    }
    TTextFilter plain(false, false);
    plain.SetFilter(QStringLiteral("abc|!tmp"));
    EXPECT_EQ(plain.GetFilter(), QStringLiteral("abc|!tmp"));
}

TEST(TextFilterTest, IllegalMaskResetsToStar)
{
    for (const char *value : {"[a", "*.txt|[a", "+[b", "!*.[", "a||[]"}) {
        TTextFilter f(false, false);
        f.SetFilter(QStringLiteral("*.doc"));
        f.SetMode(TFilterMode::fmInclude);
        try {
            f.SetFilter(S(value));
            ADD_FAILURE() << "no exception for " << value;
        } catch (const EFilterError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Illegal mask!"));
        }
        EXPECT_EQ(f.GetFilter(), QStringLiteral("*")) << value;
        EXPECT_TRUE(f.MatchesFilter(QStringLiteral("x.pdf"))) << value;
    }
}

TEST(TextFilterTest, IllegalRegularExpressionResetsToDot)
{
    // "(" does not compile; the second one compiles but fails while
    // matching the trial subject (its match limit is too small).
    for (const char *value : {"(", "[a", "(*LIMIT_MATCH=10)(\\w+)+x"}) {
        TTextFilter f(false, false);
        f.SetRegular(true);
        f.SetFilter(QStringLiteral("^a"));
        f.SetMode(TFilterMode::fmInclude);
        try {
            f.SetFilter(S(value));
            ADD_FAILURE() << "no exception for " << value;
        } catch (const EFilterError &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Illegal regular expression!"));
        }
        EXPECT_EQ(f.GetFilter(), QStringLiteral(".")) << value;
        EXPECT_TRUE(f.MatchesFilter(QStringLiteral("bcd"))) << value;
        EXPECT_FALSE(f.MatchesFilter(QString())) << value;
    }
}

TEST(TextFilterTest, RegularExpressionRunTimeErrorRaises)
{
    TTextFilter f(false, false);
    f.SetRegular(true);
    f.SetFilter(QStringLiteral("(*LIMIT_MATCH=5)(?:a|b)*c"));
    f.SetMode(TFilterMode::fmInclude);
    EXPECT_FALSE(f.MatchesFilter(QStringLiteral("xyz")));
    EXPECT_THROW(f.MatchesFilter(QStringLiteral("abababababababababababac")), ERegularExpressionError);
}

TEST(TextFilterTest, RegularExpressionOnNonUtf8Name)
{
    const QString name = QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(".txt");
    TTextFilter f(true, true);
    f.SetRegular(true);
    f.SetFilter(QStringLiteral("^CAF.\\.txt$"));
    f.SetMode(TFilterMode::fmInclude);
    EXPECT_FALSE(f.MatchesFilter(name)); // a lone surrogate is no character for the expression
    f.SetFilter(QStringLiteral("\\.TXT$"));
    EXPECT_TRUE(f.MatchesFilter(name));
    f.SetFilter(QStringLiteral("^caf"));
    EXPECT_TRUE(f.MatchesFilter(name));
}

TEST(TextFilterTest, MatchAllFollowsKind)
{
    TTextFilter f(false, false);
    EXPECT_EQ(f.GetMatchAll(), QStringLiteral("*"));
    f.SetRegular(true);
    EXPECT_EQ(f.GetMatchAll(), QStringLiteral("."));
}

TEST(TextFilterTest, ResetKeepsExpression)
{
    TTextFilter f(false, false);
    f.SetRegular(true);
    f.SetFilter(QStringLiteral("^a"));
    f.SetMode(TFilterMode::fmExclude);
    f.Reset();
    EXPECT_FALSE(f.Regular());
    EXPECT_EQ(f.Mode(), TFilterMode::fmOff);
    EXPECT_EQ(f.GetFilter(), QStringLiteral("*"));
    // Switching back needs no new SetFilter: the expression is still there.
    f.SetRegular(true);
    f.SetMode(TFilterMode::fmInclude);
    EXPECT_EQ(f.GetFilter(), QStringLiteral("^a"));
    EXPECT_TRUE(f.MatchesFilter(QStringLiteral("abc")));
    EXPECT_FALSE(f.MatchesFilter(QStringLiteral("bac")));
}

TEST(TextFilterTest, AssignKeepsKindAndCaseOfReceiver)
{
    TTextFilter source(false, false);
    source.SetRegular(true);
    source.SetFilter(QStringLiteral("^tmp"));
    source.SetMode(TFilterMode::fmInclude);
    source.SetSeparator(QLatin1Char(';'));

    TTextFilter target(true, true);
    target.Assign(source);
    EXPECT_TRUE(target.Regular());
    EXPECT_EQ(target.Mode(), TFilterMode::fmInclude);
    EXPECT_EQ(target.Separator(), QLatin1Char(';'));
    EXPECT_EQ(target.GetFilter(), QStringLiteral("^tmp"));
    EXPECT_TRUE(target.IsFileFilter());
    EXPECT_TRUE(target.MatchesFilter(QStringLiteral("TMPfile")));   // caseless receiver
    EXPECT_FALSE(source.MatchesFilter(QStringLiteral("TMPfile")));

    // The mask list comes along and is matched with the new separator.
    source.SetRegular(false);
    source.SetFilter(QStringLiteral("a*;b*"));
    target.Assign(source);
    EXPECT_EQ(target.GetFilter(), QStringLiteral("a*;b*"));
    EXPECT_TRUE(target.MatchesFilter(QStringLiteral("bx")));
    EXPECT_FALSE(target.MatchesFilter(QStringLiteral("cx")));
}

} // namespace
} // namespace vl
