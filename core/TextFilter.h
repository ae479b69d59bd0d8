// The name filter of a source directory or task: either a list of wildcard
// masks (core/Masks.h) separated by "|", or one regular expression.
//
// Mask list: an optional "+" as its very first character makes every token
// required (AND); without it one matching token suffices (OR). A token is
// an optional "!" (the token matches when its mask does not) and a mask.
// Empty tokens are ignored.
#pragma once

#include "core/Exceptions.h"
#include "core/Masks.h"

#include <QChar>
#include <QString>

#include <memory>
#include <vector>

namespace vl {

enum class TFilterMode {
    fmOff,      // everything passes
    fmInclude,  // what matches passes
    fmExclude   // what matches is rejected
};

// Raised by TTextFilter::SetFilter for an invalid mask or expression.
class EFilterError : public Exception {
public:
    explicit EFilterError(const QString &ErrString) : Exception(ErrString) {}
};

// A regular expression that fails while matching (for instance when it
// exceeds the match limit), or that cannot be compiled at match time.
class ERegularExpressionError : public Exception {
public:
    using Exception::Exception;
};

class TTextFilter {
public:
    // AIsFileFilter: the filter applies to file names (masks without an
    // extension get ".*", see SetFilter). AIgnoreCase: the regular
    // expression is matched caselessly (masks ignore case anyway).
    TTextFilter(bool AIsFileFilter, bool AIgnoreCase);
    ~TTextFilter();
    // Copying goes through Assign, which keeps the receiver's kind and case
    // option.
    TTextFilter(const TTextFilter &) = delete;
    TTextFilter &operator=(const TTextFilter &) = delete;
    TTextFilter(TTextFilter &&) noexcept;
    TTextFilter &operator=(TTextFilter &&) noexcept;

    // Mode off, mask mode with the mask "*"; the stored expression stays.
    void Reset();
    // Copies mode, expression flag, mask list, separator and expression;
    // the file-filter flag and case option stay those of this filter.
    void Assign(const TTextFilter &AFilter);

    // The expression in regular-expression mode, else the mask list.
    QString GetFilter() const;
    // Stores and validates the filter text for the current mode (set
    // Regular first). Raises EFilterError "Illegal mask!" after resetting
    // the mask list to "*", or "Illegal regular expression!" after resetting
    // the expression to ".".
    void SetFilter(const QString &Value);
    // "." in regular-expression mode, else "*".
    QString GetMatchAll() const;

    TFilterMode Mode() const { return FMode; }
    void SetMode(TFilterMode AMode) { FMode = AMode; }
    // Switching the kind does not re-validate the filter text.
    bool Regular() const { return FRegExp; }
    void SetRegular(bool ARegular) { FRegExp = ARegular; }
    QChar Separator() const { return FSep; }
    void SetSeparator(QChar ASep);
    bool IsFileFilter() const { return FIsFileFilter; }

    // Whether AText passes the filter. An invalid mask token simply does not
    // match; a regular expression that fails while matching raises
    // ERegularExpressionError. Not thread-safe (the match block is shared):
    // a filter belongs to one thread.
    bool MatchesFilter(const QString &AText) const;

private:
    struct TToken {
        bool Negated;
        bool EndsWithDot;
        TMask Mask;
    };
    struct TPcre;

    bool CompilePattern();
    void UpdateTokens();
    bool MatchesMasks(const QString &AText) const;
    bool MatchesRegExp(const QString &AText) const;

    bool FRegExp = false;
    bool FIsFileFilter;
    bool FIgnoreCase;
    TFilterMode FMode = TFilterMode::fmOff;
    QString FMask;
    QChar FSep;
    QString FPattern;
    std::unique_ptr<TPcre> FPcre;  // the compiled FPattern; null when it failed
    QString FPatternError;         // why FPattern did not compile
    // FMask parsed for matching: the AND flag and the tokens.
    bool FAndMode = false;
    std::vector<TToken> FTokens;
};

} // namespace vl
