#include "ui/NumberEdits.h"

#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace vl {

namespace {

const QChar kBlank = QLatin1Char(' ');
const QChar kByteSep = QLatin1Char('_');

int BaseOf(TNumMode AMode)
{
    switch (AMode) {
    case TNumMode::nmHex:
        return 16;
    case TNumMode::nmOctal:
        return 8;
    case TNumMode::nmBin:
        return 2;
    default:
        return 10;
    }
}

QString PrefixOf(TNumMode AMode)
{
    switch (AMode) {
    case TNumMode::nmHex:
        return QStringLiteral("$");
    case TNumMode::nmOctal:
        return QStringLiteral("%");
    case TNumMode::nmBin:
        return QStringLiteral("!");
    default:
        return QString();
    }
}

// The base a text starting with AChar is written in.
TNumMode ModeOfPrefix(QChar AChar)
{
    switch (AChar.unicode()) {
    case u'$':
        return TNumMode::nmHex;
    case u'%':
        return TNumMode::nmOctal;
    case u'!':
        return TNumMode::nmBin;
    default:
        return TNumMode::nmDecimal;
    }
}

// Digits of one byte in Bytes mode.
int ByteDigits(TNumMode AMode)
{
    switch (AMode) {
    case TNumMode::nmHex:
        return 2;
    case TNumMode::nmBin:
        return 8;
    default:
        return 3;
    }
}

// Reads a decimal piece with all 64 bits: an optional sign, then digits.
bool TryDecimalPiece(const QString &APiece, int64_t &AValue)
{
    const QString s = RemoveBlanks(APiece);
    bool ok = false;
    AValue = s.toLongLong(&ok, 10);
    return ok;
}

// [sign] digits [separator digits] [E [sign] digits], at least one mantissa
// digit; independent of the C library's locale.
bool TryFloatText(const QString &AText, QChar ADecSep, double &AValue)
{
    std::string ascii;
    qsizetype i = 0;
    const qsizetype n = AText.size();
    auto digits = [&] {
        int count = 0;
        while (i < n && AText[i] >= QLatin1Char('0') && AText[i] <= QLatin1Char('9')) {
            ascii += char(AText[i].unicode());
            ++i;
            ++count;
        }
        return count;
    };
    if (i < n && (AText[i] == QLatin1Char('-') || AText[i] == QLatin1Char('+'))) {
        if (AText[i] == QLatin1Char('-'))
            ascii += '-';
        ++i;
    }
    int mantissa = digits();
    if (i < n && AText[i] == ADecSep) {
        ascii += '.';
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (AText[i] == QLatin1Char('e') || AText[i] == QLatin1Char('E'))) {
        ascii += 'e';
        ++i;
        if (i < n && (AText[i] == QLatin1Char('-') || AText[i] == QLatin1Char('+')))
            ascii += char(AText[i++].unicode());
        if (digits() == 0)
            return false;
    }
    if (i != n)
        return false;
    double v = 0;
    const auto res = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
    if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size() || !std::isfinite(v))
        return false;
    AValue = v;
    return true;
}

// Value rounded to ADigits significant digits (as the standard forms
// round before they place the decimals).
double RoundSignificant(double AValue, int ADigits)
{
    if (!std::isfinite(AValue) || AValue == 0)
        return AValue;
    TFormatSettings fs = FormatSettings();
    fs.DecimalSeparator = QLatin1Char('.');
    const QString text = Format(QStringLiteral("%.*e"), {std::clamp(ADigits, 1, 18), AValue}, fs);
    double rounded = AValue;
    TryFloatText(text, QLatin1Char('.'), rounded);
    return rounded;
}

// "d.dddE+x" with the exponent written with at least AExpDigits digits.
QString ExponentForm(double AValue, int ADigits, int AExpDigits)
{
    QString text = GuardedFormat(QStringLiteral("%.*e"), std::clamp(ADigits, 1, 18), AValue);
    const qsizetype e = text.indexOf(QLatin1Char('E'));
    if (e < 0)
        return text; // INF, NAN
    const QString mantissa = text.left(e + 1);
    QString exponent = text.mid(e + 1);
    const QChar sign = exponent.isEmpty() ? QLatin1Char('+') : exponent.at(0);
    exponent = exponent.mid(1);
    while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0')))
        exponent.remove(0, 1);
    exponent = exponent.rightJustified(std::clamp(AExpDigits, 0, 4), QLatin1Char('0'));
    return mantissa + sign + exponent;
}

// Digits needed left of the decimal point.
int IntegerDigits(double AValue)
{
    const double a = std::fabs(AValue);
    return a < 1 ? 0 : int(std::floor(std::log10(a))) + 1;
}

} // namespace

// ---------------------------------------------------------------------------

QString RangeText(int64_t Min, int64_t Max, TNumMode NumMode)
{
    const int base = BaseOf(NumMode);
    auto bound = [base](int64_t v) {
        if (base == 10)
            return QString::number(v);
        return QString::number(uint64_t(v), base).toUpper();
    };
    const QString prefix = PrefixOf(NumMode);
    return prefix + bound(Min) + QStringLiteral(" .. ") + prefix + bound(Max);
}

EUserRangeError::EUserRangeError(int64_t Min, int64_t Max, TNumMode NumMode)
    : Exception(TrDomain(kDialogsDomain, "Range check error") + QStringLiteral(" (") + RangeText(Min, Max, NumMode)
                + QLatin1Char(')'))
{
}

// ---------------------------------------------------------------------------
// TCustomNumEdit

TCustomNumEdit::~TCustomNumEdit()
{
    if (FUpDown)
        FUpDown->SetAssociate(nullptr);
}

bool TCustomNumEdit::CharAllowed(QChar, bool)
{
    return true;
}

void TCustomNumEdit::IncrementValue(int)
{
}

bool TCustomNumEdit::UserKey(QChar Key, bool AllSelected)
{
    if (!AcceptsUser())
        return false;
    if (CharAllowed(Key, AllSelected))
        return true;
    Beep();
    return false;
}

void TCustomNumEdit::Beep()
{
    if (OnBeep)
        OnBeep();
}

void TCustomNumEdit::ShowText(const QString &AText, bool Changed)
{
    SetText(AText);
    if (Changed)
        FModified = true;
}

// ---------------------------------------------------------------------------
// TNumberEdit

TNumberEdit::TNumberEdit()
{
    SetText(QStringLiteral("0"));
}

void TNumberEdit::SetBits(int AValue)
{
    // Values are 64 bits wide; 0 means the default width.
    const int bits = AValue == 0 ? 32 : std::clamp(AValue, 1, 64);
    if (bits == FBits)
        return;
    FBits = bits;
    Redisplay();
}

void TNumberEdit::SetDigits(int AValue)
{
    AValue = std::max(AValue, 0);
    if (AValue == FDigits)
        return;
    FDigits = AValue;
    Redisplay();
}

void TNumberEdit::SetGroupDigits(int AValue)
{
    AValue = std::max(AValue, 0);
    if (AValue == FGroupDigits)
        return;
    FGroupDigits = AValue;
    Redisplay();
}

void TNumberEdit::SetPrefix(bool AValue)
{
    if (AValue == FPrefix)
        return;
    FPrefix = AValue;
    Redisplay();
}

void TNumberEdit::SetBytes(bool AValue)
{
    if (AValue == FBytes)
        return;
    FBytes = AValue;
    Redisplay();
}

void TNumberEdit::SetNumMode(TNumMode AValue)
{
    FInpNumMd = AValue;
    if (AValue == FNumMode)
        return;
    FNumMode = AValue;
    Redisplay();
}

int TNumberEdit::DigitCount() const
{
    if (FNumMode == TNumMode::nmDecimal || FDigits != 0)
        return FDigits;
    // Round(ln(2^Bits) / ln(base) + 0.5), halves to the even neighbour.
    return int(std::nearbyint(FBits * std::log(2.0) / std::log(double(BaseOf(FNumMode))) + 0.5));
}

QString TNumberEdit::FormatPiece(uint64_t AValue, int ADigits) const
{
    switch (FNumMode) {
    case TNumMode::nmDecimal:
    case TNumMode::nmZeroDec:
        return IntToDecGrouped(int64_t(AValue), ADigits, FGroupDigits, FNumMode == TNumMode::nmZeroDec);
    default:
        break;
    }
    // The low 32 bits, or all of them for wider values, as unsigned.
    const uint64_t value = FBits > 32 ? AValue : AValue & 0xFFFFFFFFu;
    QString text = QString::number(value, BaseOf(FNumMode)).toUpper();
    text = GroupFromRight(PadLeftChar(text, QLatin1Char('0'), ADigits), FGroupDigits, kBlank);
    return FPrefix ? PrefixOf(FNumMode) + text : text;
}

QString TNumberEdit::ValueText(int64_t AValue) const
{
    if (!FBytes)
        return FormatPiece(uint64_t(AValue), DigitCount());
    const int count = (FBits - 1) / 8 + 1;
    const int digits = ByteDigits(FNumMode);
    QString text;
    int64_t value = AValue;
    for (int i = 0; i < count; ++i) {
        const QString piece = FormatPiece(uint64_t(value & 255), digits);
        text = text.isEmpty() ? piece : piece + kByteSep + text;
        value /= 256;
    }
    return text;
}

void TNumberEdit::SetValue(int64_t AValue)
{
    const bool changed = AValue != FValue;
    FValue = AValue;
    ShowText(ValueText(AValue), changed);
}

int64_t TNumberEdit::GetValue()
{
    const QString text = Text().trimmed();
    if (text.isEmpty() || text == QLatin1String("+") || text == QLatin1String("-"))
        return 0;
    const TNumMode mode = FPrefix ? ModeOfPrefix(text.at(0)) : FInpNumMd;
    FConvertError = false;
    uint64_t sum = 0; // wraps instead of overflowing
    QString rest = text;
    while (!rest.isEmpty()) {
        const qsizetype sep = rest.indexOf(kByteSep);
        const QString piece = sep < 0 ? rest : rest.left(sep);
        rest = sep < 0 ? QString() : rest.mid(sep + 1);
        int64_t value = 0;
        bool ok;
        switch (mode) {
        case TNumMode::nmHex:
            ok = TryHexStrToInt64(piece, value);
            break;
        case TNumMode::nmOctal:
            ok = TryOctStrToInt64(piece, value);
            break;
        case TNumMode::nmBin:
            ok = TryBinStrToInt64(piece, value);
            break;
        default:
            ok = TryDecimalPiece(piece, value);
            break;
        }
        if (!ok) {
            Beep();
            FConvertError = true;
            value = 0;
        }
        sum = sum * 256 + uint64_t(value);
    }
    return int64_t(sum);
}

bool TNumberEdit::CharAllowed(QChar Key, bool AllSelected)
{
    const QString text = Text().trimmed();
    const QChar baseChar = !text.isEmpty() && !AllSelected ? text.at(0) : Key;
    if (FPrefix)
        FInpNumMd = ModeOfPrefix(baseChar);
    const char16_t c = Key.unicode();
    if (c <= 32)
        return true;
    if (c > 255)
        return false;
    switch (FInpNumMd) {
    case TNumMode::nmHex:
        return c == u'$' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    case TNumMode::nmOctal:
        return c == u'%' || (c >= u'0' && c <= u'7');
    case TNumMode::nmBin:
        return c == u'!' || c == u'0' || c == u'1';
    default:
        return c == u'+' || c == u'-' || (c >= u'0' && c <= u'9');
    }
}

void TNumberEdit::IncrementValue(int Delta)
{
    SetValue(int64_t(uint64_t(FValue) + uint64_t(int64_t(Delta))));
}

void TNumberEdit::KeyUp()
{
    FValue = GetValue();
}

void TNumberEdit::Exit()
{
    SetValue(GetValue());
}

// ---------------------------------------------------------------------------
// TRangeEdit

void TRangeEdit::SetMinValue(int64_t AValue)
{
    FMinValue = AValue;
    SetValue(FValue);
}

void TRangeEdit::SetMaxValue(int64_t AValue)
{
    FMaxValue = AValue;
    SetValue(FValue);
}

bool TRangeEdit::InRange(int64_t AValue) const
{
    return FMinValue == FMaxValue || (AValue >= FMinValue && AValue <= FMaxValue);
}

void TRangeEdit::SetValue(int64_t AValue)
{
    if (FMinValue != FMaxValue) {
        if (AValue < FMinValue)
            AValue = FMinValue;
        else if (AValue > FMaxValue)
            AValue = FMaxValue;
    }
    TNumberEdit::SetValue(AValue);
}

void TRangeEdit::Exit()
{
    FValue = GetValue();
    if (FRangeCheck) {
        FRangeError = !InRange(FValue);
        if (FRangeError) {
            Beep();
            throw EUserRangeError(FMinValue, FMaxValue, NumMode());
        }
    }
    SetValue(FValue);
    TNumberEdit::Exit();
}

// ---------------------------------------------------------------------------
// Floating-point texts

QString FormatNumFloat(double Value, TNumFloatFormat FloatFormat, int Digits, int Decimal)
{
    const QChar decSep = FormatSettings().DecimalSeparator;
    const int digits = std::clamp(Digits, 1, 18);
    const int decimals = std::clamp(Decimal, 0, 18);
    switch (FloatFormat) {
    case TNumFloatFormat::ffNormalized:
        return FormatEngineering(Digits, decSep, Value);
    case TNumFloatFormat::ffPrefix:
        return FormatSiPrefixed(Digits, QStringLiteral(" "), decSep, Value);
    case TNumFloatFormat::ffGeneral:
        return GuardedFormat(QStringLiteral("%.*g"), digits, Value);
    case TNumFloatFormat::ffExponent:
        return ExponentForm(Value, digits, decimals);
    case TNumFloatFormat::ffFixed:
    case TNumFloatFormat::ffNumber:
    case TNumFloatFormat::ffCurrency:
        break;
    }
    if (!std::isfinite(Value))
        return GuardedFormat(QStringLiteral("%g"), Value);
    // A value with more integer digits than significant ones does not fit
    // the fixed forms.
    if (IntegerDigits(Value) > digits)
        return GuardedFormat(QStringLiteral("%.*g"), digits, Value);
    const double rounded = RoundSignificant(Value, digits);
    const QString pattern = FloatFormat == TNumFloatFormat::ffFixed    ? QStringLiteral("%.*f")
                            : FloatFormat == TNumFloatFormat::ffNumber ? QStringLiteral("%.*n")
                                                                       : QStringLiteral("%.*m");
    return GuardedFormat(pattern, decimals, rounded);
}

// ---------------------------------------------------------------------------
// TFloatEdit

TFloatEdit::TFloatEdit()
{
    SetText(FormatNumFloat(0, FFloatFormat, FDigits, FDecimal));
}

double TFloatEdit::Value() const
{
    const QString &text = Text();
    if (text.isEmpty()
        || (text.size() == 1 && (text == QLatin1String(" ") || text == QLatin1String("+") || text == QLatin1String("-"))))
        return FValue;
    const QChar decSep = FormatSettings().DecimalSeparator;
    double value = 0;
    const bool ok = FFloatFormat == TNumFloatFormat::ffPrefix ? TryStrToSiValue(text, value, decSep)
                                                               : TryFloatText(RemoveBlanks(text), decSep, value);
    if (!ok)
        throw EConvertError(GuardedFormat(TrDomain(kDialogsDomain, "'%s' is not a valid floating point value"), text));
    return value;
}

void TFloatEdit::SetValue(double AValue)
{
    const bool changed = AValue != FValue;
    FValue = AValue;
    QString text = FormatNumFloat(AValue, FFloatFormat, FDigits, FDecimal);
    text = FThSep.isNull() ? text.trimmed() : vl::GroupDigits(text, FThSep, false);
    ShowText(text, changed);
}

void TFloatEdit::SetDigits(int AValue)
{
    if (AValue == FDigits)
        return;
    FDigits = AValue;
    Redisplay();
}

void TFloatEdit::SetDecimal(int AValue)
{
    if (AValue == FDecimal)
        return;
    FDecimal = AValue;
    Redisplay();
}

void TFloatEdit::SetFloatFormat(TNumFloatFormat AValue)
{
    if (AValue == FFloatFormat)
        return;
    FFloatFormat = AValue;
    Redisplay();
}

void TFloatEdit::SetThSeparator(QChar AValue)
{
    if (AValue == FThSep)
        return;
    FThSep = AValue;
    Redisplay();
}

bool TFloatEdit::CharAllowed(QChar Key, bool)
{
    const char16_t c = Key.unicode();
    if (c <= 32)
        return true;
    const char16_t decSep = FormatSettings().DecimalSeparator.unicode() & 0xFF;
    return c == u'+' || c == u'-' || (c >= u'0' && c <= u'9') || c == u'E' || c == u'e' || c == decSep;
}

void TFloatEdit::IncrementValue(int Delta)
{
    SetValue(Delta * FMult + FValue);
}

void TFloatEdit::KeyUp()
{
    FValue = Value();
}

void TFloatEdit::Exit()
{
    SetValue(Value());
}

// ---------------------------------------------------------------------------
// TNumUpDown

TNumUpDown::~TNumUpDown()
{
    Detach();
}

void TNumUpDown::Detach()
{
    if (FAssociate && FAssociate->FUpDown == this)
        FAssociate->FUpDown = nullptr;
    FAssociate = nullptr;
}

void TNumUpDown::SetAssociate(TCustomNumEdit *AEdit)
{
    if (AEdit && AEdit->FUpDown && AEdit->FUpDown != this)
        throw Exception(GuardedFormat(TrDomain(kDialogsDomain, "%s is already associated with %s"), AEdit->Name,
                                      AEdit->FUpDown->Name));
    Detach();
    if (AEdit) {
        FAssociate = AEdit;
        AEdit->FUpDown = this;
    }
    Notify(TStateAspect::saItems);
}

void TNumUpDown::SetAlignButton(TUDAlignButton AValue)
{
    if (AValue == FAlignButton)
        return;
    FAlignButton = AValue;
    Notify(TStateAspect::saItems);
}

void TNumUpDown::StepUp()
{
    if (FAssociate)
        FAssociate->IncrementValue(FIncrement);
    Fire(OnUpClick);
}

void TNumUpDown::StepDown()
{
    if (FAssociate)
        FAssociate->IncrementValue(-FIncrement);
    Fire(OnDownClick);
}

bool TNumUpDown::InUpArea(QPoint APoint, QSize ASize)
{
    return QRect(0, 0, ASize.width(), ASize.height() / 2 + 1).contains(APoint);
}

bool TNumUpDown::InDownArea(QPoint APoint, QSize ASize)
{
    const int top = ASize.height() / 2;
    return QRect(0, top, ASize.width(), ASize.height() - top).contains(APoint);
}

void TNumUpDown::MouseDown(QPoint APoint, QSize ASize)
{
    if (!AcceptsUser())
        return;
    if (InUpArea(APoint, ASize))
        FUpState = true;
    else
        FDownState = true;
    Notify(TStateAspect::saChecked);
}

void TNumUpDown::MouseUp(QPoint APoint, QSize ASize)
{
    const bool up = FUpState && InUpArea(APoint, ASize);
    const bool down = !up && FDownState && InDownArea(APoint, ASize);
    FUpState = false;
    FDownState = false;
    Notify(TStateAspect::saChecked);
    if (!AcceptsUser())
        return;
    if (up)
        StepUp();
    else if (down)
        StepDown();
}

bool TNumUpDown::UserKey(QChar AKey)
{
    if (!AcceptsUser())
        return false;
    if (AKey == QLatin1Char('+')) {
        StepUp();
        return true;
    }
    if (AKey == QLatin1Char('-')) {
        StepDown();
        return true;
    }
    return false;
}

} // namespace vl
