#include "ui/PasswordDialogs.h"

#include "core/Format.h"
#include "core/Translate.h"
#include "ui/MessageDialogs.h"
#include "ui/Styles.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vl {

namespace {

bool IsUpper(QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); }
bool IsLower(QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('z'); }
bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Counts a character of one type: a run of neighbours of that type counts
// against the password.
void CountType(int32_t &ATypeCount, int32_t &AConsec, int32_t &AConsecTypes, int &ALastPos, int APos)
{
    if (ALastPos >= 0 && ALastPos == APos - 1) {
        ++AConsec;
        ++AConsecTypes;
    }
    ALastPos = APos;
    ++ATypeCount;
}

// How many runs of three neighbours of ASequence occur in AText, forward
// or backward.
int32_t CountSequences(const QString &AText, const QString &ASequence)
{
    int32_t count = 0;
    for (qsizetype i = 0; i + 3 <= ASequence.size(); ++i) {
        const QString run = ASequence.mid(i, 3);
        if (AText.contains(run) || AText.contains(ReverseText(run)))
            ++count;
    }
    return count;
}

int Channel(TColor AColor, int AShift)
{
    return (uint32_t(AColor) >> AShift) & 0xFF;
}

// AFrom + (ATo - AFrom) * ANum / ADen per channel, rounded.
TColor MixColors(TColor AFrom, TColor ATo, int ANum, int ADen)
{
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const int from = Channel(AFrom, 8 * i);
        const int to = Channel(ATo, 8 * i);
        channels[i] = from + int(std::lround(double(to - from) * ANum / ADen));
    }
    return RGBColor(uint8_t(channels[0]), uint8_t(channels[1]), uint8_t(channels[2]));
}

} // namespace

// ---------------------------------------------------------------------------
// Quality estimate

QString ReverseText(const QString &AText)
{
    QString s = AText;
    std::reverse(s.begin(), s.end());
    return s;
}

void AnalysePassword(const QString &APassword, TPasswordStats &Stats)
{
    Stats = TPasswordStats();
    QString pwd = APassword;
    pwd.remove(QLatin1Char(' '));
    const int length = int(pwd.size());
    Stats.Length = length;

    // Positions of the last character of each type; -1: none yet.
    int lastUpper = -1;
    int lastLower = -1;
    int lastDigit = -1;
    int lastSymbol = -1;
    for (int i = 0; i < length; ++i) {
        const QChar c = pwd.at(i);
        // Digits and symbols inside the password count more than at its ends.
        const bool middle = i > 0 && i < length - 1;
        if (IsUpper(c)) {
            CountType(Stats.Upper, Stats.ConsecUpper, Stats.ConsecTypes, lastUpper, i);
        } else if (IsLower(c)) {
            CountType(Stats.Lower, Stats.ConsecLower, Stats.ConsecTypes, lastLower, i);
        } else if (IsDigit(c)) {
            if (middle)
                ++Stats.MidChars;
            CountType(Stats.Digits, Stats.ConsecDigits, Stats.ConsecTypes, lastDigit, i);
        } else {
            if (middle)
                ++Stats.MidChars;
            CountType(Stats.Symbols, Stats.ConsecSymbols, Stats.ConsecTypes, lastSymbol, i);
        }

        // Repeats weigh more the closer they stand.
        bool repeated = false;
        for (int j = 0; j < length; ++j) {
            if (j != i && pwd.at(j) == c) {
                repeated = true;
                Stats.RepeatInc += double(length) / std::abs(j - i);
            }
        }
        if (repeated) {
            ++Stats.RepeatChars;
            Stats.UniqueChars = length - Stats.RepeatChars;
            Stats.RepeatInc = Stats.UniqueChars ? std::ceil(Stats.RepeatInc / Stats.UniqueChars)
                                                : std::ceil(Stats.RepeatInc);
        }
    }

    const QString lower = pwd.toLower();
    Stats.SeqAlpha = CountSequences(lower, QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    Stats.SeqDigits = CountSequences(lower, QStringLiteral("0123456789"));
    Stats.SeqSymbols = CountSequences(lower, QStringLiteral("!@#$%^&+-/*=?()[]{}~"));
    Stats.SeqChars = Stats.SeqAlpha + Stats.SeqDigits + Stats.SeqSymbols;

    const bool letters = Stats.Upper + Stats.Lower > 0;
    if (letters && Stats.Digits == 0 && Stats.Symbols == 0)
        Stats.AlphasOnly = length;
    if (Stats.Digits > 0 && !letters && Stats.Symbols == 0)
        Stats.NumbersOnly = length;

    Stats.ReqChars = (length >= 8 ? 1 : 0) + (Stats.Upper > 0 ? 1 : 0) + (Stats.Lower > 0 ? 1 : 0) +
                     (Stats.Digits > 0 ? 1 : 0) + (Stats.Symbols > 0 ? 1 : 0);
    Stats.Requirements = Stats.ReqChars;
}

int32_t PasswordScoreToPercent(const TPasswordStats &Stats)
{
    const auto &s = Stats;
    int64_t score = 4 * int64_t(s.Length);
    if (s.Upper > 0 && s.Upper < s.Length)
        score += 2 * int64_t(s.Length - s.Upper);
    if (s.Lower > 0 && s.Lower < s.Length)
        score += 2 * int64_t(s.Length - s.Lower);
    if (s.Digits > 0 && s.Digits < s.Length)
        score += 4 * int64_t(s.Digits);
    score += 6 * int64_t(s.Symbols);
    if (s.NumbersOnly == 0)
        score += 2 * int64_t(s.MidChars);
    if (s.Requirements > 3)
        score += 2 * int64_t(s.Requirements);
    score -= int64_t(s.AlphasOnly) + s.NumbersOnly + int64_t(s.RepeatInc);
    score -= 2 * (int64_t(s.ConsecUpper) + s.ConsecLower + s.ConsecDigits);
    score -= 3 * (int64_t(s.SeqAlpha) + s.SeqDigits + s.SeqSymbols);
    score = std::clamp<int64_t>(score, 0, 500);
    // Rounds halves to even (the default rounding mode).
    return int32_t(std::nearbyint((1.0 - std::exp(-double(score) / 100.0) / 0.993) * 100.0));
}

int32_t PasswordStrength(const QString &APassword)
{
    TPasswordStats stats;
    AnalysePassword(APassword, stats);
    return PasswordScoreToPercent(stats);
}

// ---------------------------------------------------------------------------
// Quality bar

TQualityBarColors DefaultQualityBarColors()
{
    return {RGBColor(255, 0, 0), RGBColor(255, 255, 0), RGBColor(0, 128, 0)};
}

TColor QualityBarColumnColor(int AColumn, int AWidth, const TQualityBarColors &AColors)
{
    const int half = std::max(AWidth, 0) / 2;
    const int column = std::clamp(AColumn, 0, std::max(AWidth - 1, 0));
    // The middle column is yellow from both sides; a bar narrower than 2
    // has only that one, so no run divides by a zero half.
    if (column == half)
        return AColors.Yellow;
    if (column < half)
        return MixColors(AColors.Red, AColors.Yellow, column, half);
    return MixColors(AColors.Yellow, AColors.Green, column - half, half);
}

int QualityBarFillStart(int AWidth, int APercent)
{
    return std::max(AWidth, 0) * std::clamp(APercent, 0, 100) / 100;
}

QString QualityBarText(int APercent)
{
    return QString::number(std::clamp(APercent, 0, 100)) + QLatin1Char('%');
}

// ---------------------------------------------------------------------------
// TPasswordDialog

TPasswordDialog::TPasswordDialog()
{
    Label1.SetCaption(TrDomain(kDialogsDomain, "Password:"));
    edtPwd.SetHint(TrDomain(kDialogsDomain, "Password"));
    edtPwdTextHint = TrDomain(kDialogsDomain, "Password");
    bbPaste.SetHint(TrDomain(kDialogsDomain, "Paste from clipboard"));
    gbEncrypt.SetCaption(TrDomain(kDialogsDomain, "AES encryption depth:"));
    rbEnc128.SetCaption(TrDomain(kDialogsDomain, "128 bit"));
    rbEnc256.SetCaption(TrDomain(kDialogsDomain, "256 bit"));
    rbEncAuto.SetCaption(TrDomain(kDialogsDomain, "Automatic"));
    JoinRadioButtons({&rbEnc128, &rbEnc256, &rbEncAuto});
    btnSkip.SetCaption(TrDomain(kDialogsDomain, "Skip"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));

    bbPaste.OnClick = [this](TControlState &) {
        QString text = ClipboardText ? ClipboardText() : QString();
        // A one-line edit takes the first line (a copied password often
        // ends in a line break).
        const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
        if (end >= 0)
            text.truncate(end);
        edtPwd.SetText(QString());
        edtPwd.SetText(text);
    };
    btnSkip.OnClick = [this](TControlState &) { SetModalResult(mrYes); };
    CancelBtn.OnClick = [this](TControlState &) { SetModalResult(mrCancel); };
    OKBtn.OnClick = [this](TControlState &) { SetModalResult(mrOk); };
}

void TPasswordDialog::Prepare(const QString &Title, const QString &Prompt, bool Skip, bool Enc, int32_t EncMode)
{
    FModalResult = mrNone;
    FCaption = Title;
    FPrompt = ToCrLfLines(Prompt);
    lblPrompt.SetCaption(ToLfLines(Prompt));
    edtPwd.SetText(QString());
    btnSkip.SetVisible(Skip);
    FEnc = Enc;
    gbEncrypt.SetVisible(Enc);
    switch (EncMode) {
    case 1:
        rbEnc128.SetChecked(true);
        break;
    case 2:
    case 3:
        rbEnc256.SetChecked(true);
        break;
    default:
        rbEncAuto.SetChecked(true);
        break;
    }
}

int32_t TPasswordDialog::SelectedEncMode() const
{
    if (rbEnc128.Checked())
        return 1;
    if (rbEnc256.Checked())
        return 3;
    return 0;
}

void TPasswordDialog::Finish(TModalResult AResult, QString &Pwd, int32_t &EncMode) const
{
    if (AResult != mrOk)
        return;
    Pwd = edtPwd.Text();
    if (FEnc)
        EncMode = SelectedEncMode();
}

TPasswordDialogLayout TPasswordDialog::Layout(const TTextWidthFunc &TextWidth, int AFontHeight,
                                              int ADesignClientWidth, int APromptLeft, int AInputHeight,
                                              int ABottomHeight, int AEncHeight) const
{
    const int m = ScaleToFormDpi(2);
    const int width = MultiLineTextWidth(FPrompt, TextWidth);
    TPasswordDialogLayout layout;
    layout.Prompt = QSize(width, CountTextLines(FPrompt) * (AFontHeight + m) + 2 * m);
    layout.TopPanelHeight = 2 * m + layout.Prompt.height();
    layout.ClientWidth = ADesignClientWidth < width ? width + 2 * APromptLeft : ADesignClientWidth;
    layout.ClientHeight = layout.TopPanelHeight + AInputHeight + ABottomHeight + (FEnc ? AEncHeight : 0);
    return layout;
}

void TPasswordDialog::SetModalResult(TModalResult AResult)
{
    if (FModalResult != mrNone)
        return;
    FModalResult = AResult;
    if (OnModalResult)
        OnModalResult(AResult);
}

// ---------------------------------------------------------------------------
// TNewPwdDialog

void TNewPwdDialog::TQualityState::SetPercent(int AValue)
{
    if (FPercent == AValue)
        return;
    FPercent = AValue;
    if (OnChange)
        OnChange();
}

TNewPwdDialog::TNewPwdDialog()
{
    edtPwd.SetCaption(TrDomain(kDialogsDomain, "Enter password:"));
    edtPwdTextHint = TrDomain(kDialogsDomain, "Password");
    edtRepPwd.SetCaption(TrDomain(kDialogsDomain, "Repeat password:"));
    edtRepPwdTextHint = TrDomain(kDialogsDomain, "Confirm password");
    btnShow.SetHint(TrDomain(kDialogsDomain, "Show password"));
    imgBar.SetCaption(TrDomain(kDialogsDomain, "Quality:"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));

    edtPwd.OnChange = [this](TControlState &) { ShowQuality(edtPwd.Text()); };
    OKBtn.OnClick = [this](TControlState &) {
        if (CanClose(mrOk))
            SetModalResult(mrOk);
    };
    CancelBtn.OnClick = [this](TControlState &) { SetModalResult(mrCancel); };
}

void TNewPwdDialog::Prepare(const QString &Title, const QString &Pwd, bool Confirm, bool Show, int32_t MinLen)
{
    FModalResult = mrNone;
    FFocus = nullptr;
    FCaption = Title;
    edtPwd.SetText(Show ? Pwd : QString());
    edtRepPwd.SetText(Show ? Pwd : QString());
    btnShow.SetChecked(false);
    btnShow.SetVisible(Show);
    FConf = Confirm;
    FMinLen = MinLen;
    // The bar rates what the edit holds: a hidden password that is not
    // shown is not rated either.
    ShowQuality(edtPwd.Text());
    paConfirm.SetVisible(Confirm);
}

int TNewPwdDialog::QualityOf(const QString &AText) const
{
    return AText.size() < FMinLen ? 0 : PasswordStrength(AText);
}

void TNewPwdDialog::ShowQuality(const QString &AText)
{
    imgBar.SetPercent(QualityOf(AText));
}

void TNewPwdDialog::PasswordExit()
{
    ShowQuality(edtPwd.Text());
}

bool TNewPwdDialog::CanClose(TModalResult AResult)
{
    FFocus = nullptr;
    if (AResult != mrOk || !FConf)
        return true;
    const QString &pwd = edtPwd.Text();
    if (pwd == edtRepPwd.Text() && (pwd.isEmpty() || pwd.size() >= FMinLen))
        return true;
    if (pwd.size() < FMinLen) {
        const QString text = TrDomain(kDialogsDomain, "Minimum length of password is %u characters");
        ShowErrorBox(GuardedFormat(text, uint32_t(FMinLen)), 0);
        FFocus = &edtPwd;
    } else {
        ShowErrorBox(TrDomain(kDialogsDomain, "Passwords do not match!"), 0);
        FFocus = &edtRepPwd;
    }
    return false;
}

bool TNewPwdDialog::Finish(TModalResult AResult, QString &Pwd) const
{
    if (AResult != mrOk)
        return false;
    Pwd = edtPwd.Text();
    return true;
}

void TNewPwdDialog::SetModalResult(TModalResult AResult)
{
    if (FModalResult != mrNone)
        return;
    FModalResult = AResult;
    if (OnModalResult)
        OnModalResult(AResult);
}

TCryptPwdCheck CheckCryptPasswordEntries(const QString &APwd, const QString &ARepPwd, int32_t MinLen)
{
    TCryptPwdCheck check;
    if (APwd == ARepPwd && (APwd.isEmpty() || APwd.size() >= MinLen))
        return check;
    check.Ok = false;
    if (APwd.size() < MinLen) {
        check.Error = GuardedFormat(TrDomain(kDialogsDomain, "Minimum length of password is %u characters"),
                                    uint32_t(MinLen));
        check.Focus = TCryptPwdFocus::cfPassword;
    } else {
        check.Error = TrDomain(kDialogsDomain, "Passwords do not match!");
        check.Focus = TCryptPwdFocus::cfRepeat;
    }
    return check;
}

} // namespace vl
