#include "core/Masks.h"

#include "core/Format.h"
#include "core/Translate.h"

namespace vl {

namespace {

// The code point at pos (advanced past it). A surrogate pair gives one
// code point, a lone surrogate stays itself.
char32_t NextChar(const QString &s, qsizetype &pos)
{
    const char16_t c = s.at(pos).unicode();
    ++pos;
    if (QChar::isHighSurrogate(c) && pos < s.size() && QChar::isLowSurrogate(s.at(pos).unicode())) {
        const char16_t low = s.at(pos).unicode();
        ++pos;
        return QChar::surrogateToUcs4(c, low);
    }
    return c;
}

bool IsAsciiLetter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

} // namespace

TMask::TMask(const QString &mask)
{
    qsizetype pos = 0;
    const qsizetype n = mask.size();
    while (pos < n) {
        const char32_t c = NextChar(mask, pos);
        if (c == U'*') {
            // A run of "*" is one "*".
            if (FElements.empty() || FElements.back().Kind != TKind::AnyRun)
                FElements.push_back({TKind::AnyRun, 0});
        } else if (c == U'?') {
            FElements.push_back({TKind::AnyChar, 0});
        } else if (c == U'[') {
            TSet set{false, {}};
            if (pos < n && mask.at(pos) == QLatin1Char('!')) {
                set.Negated = true;
                ++pos;
            }
            if (pos < n && (mask.at(pos) == QLatin1Char(']') || mask.at(pos) == QLatin1Char('-')))
                return; // empty set or one beginning with "-"
            bool closed = false;
            while (pos < n) {
                const char32_t first = NextChar(mask, pos);
                if (first == U']') {
                    closed = true;
                    break;
                }
                char32_t last = first;
                if (pos + 1 < n && mask.at(pos) == QLatin1Char('-') && mask.at(pos + 1) != QLatin1Char(']')) {
                    ++pos;
                    last = NextChar(mask, pos);
                }
                set.Ranges.push_back({first, last});
            }
            if (!closed)
                return;
            FElements.push_back({TKind::Set, char32_t(FSets.size())});
            FSets.push_back(std::move(set));
        } else {
            FElements.push_back({TKind::Literal, c});
        }
    }
    FValid = true;
}

bool TMask::InSet(const TSet &set, char32_t c) const
{
    for (const TRange &r : set.Ranges)
        if (c >= r.First && c <= r.Last)
            return true;
    return false;
}

bool TMask::ElementMatches(const TElement &e, char32_t c) const
{
    switch (e.Kind) {
    case TKind::AnyChar:
        return true;
    case TKind::Literal:
        return e.Char == c || (IsAsciiLetter(c) && IsAsciiLetter(e.Char) && (e.Char | 0x20) == (c | 0x20));
    case TKind::Set: {
        const TSet &set = FSets[e.Char];
        const bool in = InSet(set, c) || (IsAsciiLetter(c) && InSet(set, c ^ 0x20));
        return in != set.Negated;
    }
    case TKind::AnyRun:
        break;
    }
    return false;
}

bool TMask::Matches(const QString &text) const
{
    if (!FValid)
        return false;
    // Every element but "*" takes exactly one character, so on a mismatch
    // only the latest "*" needs to take one more character: no deeper
    // backtracking is ever needed.
    const size_t m = FElements.size();
    const qsizetype n = text.size();
    size_t e = 0;
    qsizetype t = 0;
    size_t starElement = 0;
    qsizetype starText = -1;
    while (t < n) {
        if (e < m && FElements[e].Kind == TKind::AnyRun) {
            starElement = ++e;
            starText = t;
            continue;
        }
        qsizetype next = t;
        const char32_t c = NextChar(text, next);
        if (e < m && ElementMatches(FElements[e], c)) {
            ++e;
            t = next;
            continue;
        }
        if (starText < 0)
            return false;
        NextChar(text, starText);
        t = starText;
        e = starElement;
    }
    while (e < m && FElements[e].Kind == TKind::AnyRun)
        ++e;
    return e == m;
}

bool IsValidMask(const QString &mask)
{
    return TMask(mask).IsValid();
}

bool MatchesMask(const QString &text, const QString &mask)
{
    const TMask m(mask);
    if (!m.IsValid())
        throw EMaskException(GuardedFormat(Tr("'%s' is an invalid mask"), mask));
    return m.Matches(text);
}

} // namespace vl
