#include "core/TextFilter.h"

#include "core/Format.h"
#include "core/Translate.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QStringList>

namespace vl {

namespace {

const QString kDefaultMask = QStringLiteral("*");
const QString kDefaultPattern = QStringLiteral(".");

// The tokens of a list, taken from the front up to the next separator; a
// trailing separator gives no empty last token.
QStringList SplitTokens(const QString &list, QChar sep)
{
    QStringList tokens;
    qsizetype pos = 0;
    while (pos < list.size()) {
        qsizetype end = list.indexOf(sep, pos);
        if (end < 0)
            end = list.size();
        tokens.append(list.mid(pos, end - pos));
        pos = end + 1;
    }
    return tokens;
}

// Whether the last element of a name has an extension (a "." after the
// last "/").
bool HasExtension(const QString &name)
{
    return name.lastIndexOf(QLatin1Char('.')) > name.lastIndexOf(QLatin1Char('/'));
}

QString PcreErrorText(int code)
{
    PCRE2_UCHAR16 buffer[256];
    const int len = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (len < 0)
        return QString::number(code);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), len);
}

} // namespace

// The compiled expression and the match block reused by every match.
struct TTextFilter::TPcre {
    pcre2_code *Code = nullptr;
    pcre2_match_data *MatchData = nullptr;

    TPcre() = default;
    TPcre(const TPcre &) = delete;
    TPcre &operator=(const TPcre &) = delete;
    ~TPcre()
    {
        pcre2_match_data_free(MatchData);
        pcre2_code_free(Code);
    }

    // pcre2_match's result: >= 0 a match, PCRE2_ERROR_NOMATCH none, other
    // negative values errors.
    int Match(const QString &subject) const
    {
        return pcre2_match(Code, reinterpret_cast<PCRE2_SPTR>(subject.utf16()), PCRE2_SIZE(subject.size()), 0, 0,
                           MatchData, nullptr);
    }
};

TTextFilter::TTextFilter(bool AIsFileFilter, bool AIgnoreCase)
    : FIsFileFilter(AIsFileFilter), FIgnoreCase(AIgnoreCase), FSep(QLatin1Char('|'))
{
    Reset();
    // The empty expression (matching everything) until one is set.
    CompilePattern();
}

TTextFilter::~TTextFilter() = default;
TTextFilter::TTextFilter(TTextFilter &&) noexcept = default;
TTextFilter &TTextFilter::operator=(TTextFilter &&) noexcept = default;

void TTextFilter::Reset()
{
    FRegExp = false;
    FMode = TFilterMode::fmOff;
    FMask = kDefaultMask;
    UpdateTokens();
}

void TTextFilter::Assign(const TTextFilter &AFilter)
{
    if (&AFilter == this)
        return;
    FRegExp = AFilter.FRegExp;
    FMode = AFilter.FMode;
    FMask = AFilter.FMask;
    FSep = AFilter.FSep;
    UpdateTokens();
    FPattern = AFilter.FPattern;
    // Compiled again with this filter's case option; a failure surfaces when
    // the expression is matched.
    CompilePattern();
}

QString TTextFilter::GetFilter() const
{
    return FRegExp ? FPattern : FMask;
}

QString TTextFilter::GetMatchAll() const
{
    return FRegExp ? kDefaultPattern : kDefaultMask;
}

void TTextFilter::SetSeparator(QChar ASep)
{
    FSep = ASep;
    UpdateTokens();
}

bool TTextFilter::CompilePattern()
{
    FPcre.reset();
    FPatternError.clear();
    uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
    if (FIgnoreCase)
        options |= PCRE2_CASELESS;
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    auto pcre = std::make_unique<TPcre>();
    pcre->Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FPattern.utf16()), PCRE2_SIZE(FPattern.size()), options,
                               &errorCode, &errorOffset, nullptr);
    if (!pcre->Code) {
        FPatternError = PcreErrorText(errorCode);
        return false;
    }
    pcre->MatchData = pcre2_match_data_create_from_pattern(pcre->Code, nullptr);
    if (!pcre->MatchData) {
        FPatternError = PcreErrorText(PCRE2_ERROR_NOMEMORY);
        return false;
    }
    FPcre = std::move(pcre);
    return true;
}

void TTextFilter::SetFilter(const QString &Value)
{
    if (FRegExp) {
        FPattern = Value.isEmpty() ? kDefaultPattern : Value;
        bool ok = CompilePattern();
        if (ok) {
            const int rc = FPcre->Match(QStringLiteral("xyz"));
            ok = rc >= 0 || rc == PCRE2_ERROR_NOMATCH;
        }
        if (!ok) {
            FPattern = kDefaultPattern;
            CompilePattern();
            throw EFilterError(Tr("Illegal regular expression!"));
        }
        return;
    }

    if (Value.isEmpty()) {
        FMask = kDefaultMask;
        UpdateTokens();
        return;
    }

    QString list = Value;
    if (FIsFileFilter) {
        // A mask without an extension stands for every extension: 'abc'
        // becomes 'abc.*', while '*.' (no extension) stays. The "+" belongs
        // to the list, and an empty token stays empty (ignored), so that an
        // empty token never turns into the mask ".*".
        const bool andMode = list.startsWith(QLatin1Char('+'));
        QStringList tokens = SplitTokens(andMode ? list.mid(1) : list, FSep);
        for (QString &token : tokens)
            if (!token.isEmpty() && !HasExtension(token))
                token += QStringLiteral(".*");
        list = tokens.join(FSep);
        if (andMode)
            list.prepend(QLatin1Char('+'));
    }
    FMask = list;
    for (const QString &token : SplitTokens(FMask, FSep)) {
        if (!IsValidMask(token)) {
            FMask = kDefaultMask;
            UpdateTokens();
            throw EFilterError(Tr("Illegal mask!"));
        }
    }
    UpdateTokens();
}

void TTextFilter::UpdateTokens()
{
    FTokens.clear();
    FAndMode = FMask.startsWith(QLatin1Char('+'));
    for (QString token : SplitTokens(FAndMode ? FMask.mid(1) : FMask, FSep)) {
        if (token.isEmpty())
            continue; // empty tokens are ignored
        const bool negated = token.startsWith(QLatin1Char('!'));
        if (negated)
            token.remove(0, 1);
        FTokens.push_back({negated, token.endsWith(QLatin1Char('.')), TMask(token)});
    }
}

bool TTextFilter::MatchesMasks(const QString &AText) const
{
    if (FMask.isEmpty())
        return true;
    // AND: true until a token fails (also when there is no token at all).
    // OR: false until a token matches, so a list of only empty tokens
    // matches nothing.
    const bool textHasExtension = HasExtension(AText);
    for (const TToken &token : FTokens) {
        bool match = false;
        if (token.Mask.IsValid()) {
            // A file mask ending in "." stands for names without extension.
            const bool addDot = FIsFileFilter && token.EndsWithDot && !textHasExtension;
            match = token.Mask.Matches(addDot ? AText + QLatin1Char('.') : AText) != token.Negated;
        }
        if (match != FAndMode)
            return match;
    }
    return FAndMode;
}

bool TTextFilter::MatchesRegExp(const QString &AText) const
{
    // Only after Assign of an expression that this filter cannot compile.
    if (!FPcre)
        throw ERegularExpressionError(GuardedFormat(Tr("Illegal regular expression: %s"), FPatternError));
    const int rc = FPcre->Match(AText);
    if (rc >= 0)
        return true;
    if (rc == PCRE2_ERROR_NOMATCH)
        return false;
    throw ERegularExpressionError(GuardedFormat(Tr("Error in regular expression: %s"), PcreErrorText(rc)));
}

bool TTextFilter::MatchesFilter(const QString &AText) const
{
    if (FMode == TFilterMode::fmOff)
        return true;
    const bool result = FRegExp ? MatchesRegExp(AText) : MatchesMasks(AText);
    return FMode == TFilterMode::fmExclude ? !result : result;
}

} // namespace vl
