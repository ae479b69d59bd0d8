// Wildcard masks for file names and texts.
//
// "*" matches any run of characters (also none), "?" any one character,
// "[...]" one character of a set of single characters and ranges ("a-z"),
// "[!...]" one character not in the set; every other character matches
// itself. Letters a to z match regardless of case, all other characters
// exactly. The mask must match the whole text. A set must be closed by "]",
// must not be empty and must not begin with "-"; otherwise the mask is
// invalid. A "-" at the end of a set is a plain character.
//
// Characters are Unicode code points: a surrogate pair counts as one
// character, a lone surrogate (from the lossless file-name mapping) as one
// character of its own.
#pragma once

#include "core/Exceptions.h"

#include <QString>

#include <vector>

namespace vl {

// Raised by MatchesMask for an invalid mask.
class EMaskException : public Exception {
public:
    using Exception::Exception;
};

// A mask parsed once for matching many texts. Matching takes time
// proportional to text length times mask length at most, whatever the
// number of "*".
class TMask {
public:
    explicit TMask(const QString &mask);

    bool IsValid() const { return FValid; }
    // Whether the whole text matches the mask; false for an invalid mask.
    bool Matches(const QString &text) const;

private:
    enum class TKind : unsigned char { Literal, AnyChar, AnyRun, Set };
    struct TElement {
        TKind Kind;
        char32_t Char;  // Literal: the character; Set: index into FSets
    };
    struct TRange {
        char32_t First, Last;
    };
    struct TSet {
        bool Negated;
        std::vector<TRange> Ranges;
    };

    bool ElementMatches(const TElement &e, char32_t c) const;
    bool InSet(const TSet &set, char32_t c) const;

    std::vector<TElement> FElements;
    std::vector<TSet> FSets;
    bool FValid = false;
};

bool IsValidMask(const QString &mask);

// Whether the whole text matches mask; raises EMaskException when the mask
// is invalid.
bool MatchesMask(const QString &text, const QString &mask);

} // namespace vl
