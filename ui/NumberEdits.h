// Number edits without widgets: an integer edit that shows and reads
// decimal, hexadecimal, octal or binary text (TNumberEdit), the same limited
// to a range (TRangeEdit, the one the option dialogs place), a
// floating-point edit (TFloatEdit), and spin buttons that step one of them
// (TNumUpDown).
//
// The edits are TEditState objects: a view binds its line edit with
// BindEdit and, in addition, hands every typed character to UserKey, every
// key release to KeyUp and the focus leaving the control to Exit
// (ui/qt/NumberEdits.h does all of it).
//
// Integer texts: base prefixes "$" hexadecimal, "%" octal, "!" binary,
// decimal none. "_" separates bytes: "1_2" reads as 258. All values and
// range bounds are 64 bits wide; a decimal text is read with the full 64
// bits too.
#pragma once

#include "core/Exceptions.h"
#include "core/NumberUtils.h"
#include "ui/ControlState.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

namespace vl {

class TNumUpDown;

enum class TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// An entry outside the range of a TRangeEdit: "Range check error (1 .. 99)",
// the bounds written in the edit's base with its prefix
// ("Range check error ($0 .. $FF)").
class EUserRangeError : public Exception {
public:
    EUserRangeError(int64_t Min, int64_t Max, TNumMode NumMode);
};

// The range text of EUserRangeError for the bounds: "1 .. 99", "$0 .. $FF",
// "%1 .. %17", "!0 .. !11". Bounds in the other bases are written without
// leading zeros in upper case; a negative bound as its 64-bit pattern.
QString RangeText(int64_t Min, int64_t Max, TNumMode NumMode);

// ---------------------------------------------------------------------------

// The common base: an edit whose typed characters are checked.
class TCustomNumEdit : public TEditState {
public:
    TCustomNumEdit() = default;
    ~TCustomNumEdit() override;

    // The control's name, used in messages about it.
    QString Name;
    // Sounds the error beep (a refused key, a text that does not read);
    // the view installs the system beep.
    std::function<void()> OnBeep;

    TAlignment Alignment() const { return FAlignment; }
    // The view reads it when it binds the edit.
    void SetAlignment(TAlignment AValue) { FAlignment = AValue; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool AValue) { FReadOnly = AValue; }
    // Set whenever a new value is shown; the owner clears it.
    bool Modified() const { return FModified; }
    void SetModified(bool AValue) { FModified = AValue; }
    // Set by a view between catching an error of Exit or KeyUp and showing
    // it, so the owner does not report the same entry twice.
    bool ErrorPending() const { return FErrorPending; }
    void SetErrorPending(bool AValue) { FErrorPending = AValue; }

    // Whether the edit takes the typed character Key; AllSelected tells
    // whether the selection covers the whole text (the key replaces it).
    // Base: every character.
    virtual bool CharAllowed(QChar Key, bool AllSelected);
    // Steps the value by Delta (the spin buttons). Base: nothing.
    virtual void IncrementValue(int Delta);
    // A key was released: the value follows the text (the text stays).
    virtual void KeyUp() {}
    // The focus leaves the control: the text is normalised. May raise
    // EUserRangeError (TRangeEdit) or EConvertError (TFloatEdit); the edit
    // then keeps its text and should get the focus back.
    virtual void Exit() {}

    // The user typed Key: true when the edit takes it; a refused key
    // sounds the error beep. Ignored (false) while disabled or hidden.
    bool UserKey(QChar Key, bool AllSelected);

    // The spin buttons attached to this edit (nullptr: none).
    TNumUpDown *UpDown() const { return FUpDown; }

protected:
    void Beep();
    // Shows AText; Changed marks the edit modified.
    void ShowText(const QString &AText, bool Changed);

private:
    friend class TNumUpDown;
    TAlignment FAlignment = TAlignment::taLeftJustify;
    bool FReadOnly = false;
    bool FModified = false;
    bool FErrorPending = false;
    TNumUpDown *FUpDown = nullptr;
};

// ---------------------------------------------------------------------------

// Integer edit: shows "0" when new.
class TNumberEdit : public TCustomNumEdit {
public:
    TNumberEdit();

    // Parses the text anew (see GetValue).
    int64_t Value() { return GetValue(); }
    // Stores and shows a value.
    virtual void SetValue(int64_t AValue);
    // The text read: trimmed; empty (or a lone "+" or "-") gives 0 and
    // leaves the error flag; otherwise the base comes from the first
    // character with Prefix on, else from the input mode, and the pieces
    // between "_" are read in that base and summed as bytes (sum * 256 +
    // piece). A piece that does not read sounds the error beep, sets the
    // error flag and counts as 0.
    int64_t GetValue();
    // The last value taken from or given to the edit.
    int64_t StoredValue() const { return FValue; }
    // Whether the last reading failed.
    bool CheckError() const { return FConvertError; }

    // 0 stores 32.
    int Bits() const { return FBits; }
    void SetBits(int AValue);
    // Digits shown (0: as many as Bits need in the base; plain decimal
    // then pads nothing).
    int Digits() const { return FDigits; }
    void SetDigits(int AValue);
    // A blank every GroupDigits digits from the right (0: none).
    int GroupDigits() const { return FGroupDigits; }
    void SetGroupDigits(int AValue);
    // Shows the base prefix, and takes the base of typed text from its
    // first character.
    bool Prefix() const { return FPrefix; }
    void SetPrefix(bool AValue);
    // Shows the value byte by byte, the most significant first, joined
    // by "_".
    bool Bytes() const { return FBytes; }
    void SetBytes(bool AValue);
    TNumMode NumMode() const { return FNumMode; }
    // Also resets the input mode to the new mode.
    void SetNumMode(TNumMode AValue);
    // The base typed text is read in (changed by a typed prefix).
    TNumMode InputMode() const { return FInpNumMd; }

    // The text of a value in the current settings.
    QString ValueText(int64_t AValue) const;
    // Digits for Bits bits in the display base (Digits when set).
    int DigitCount() const;

    bool CharAllowed(QChar Key, bool AllSelected) override;
    // Value := stored value + Delta, through SetValue.
    void IncrementValue(int Delta) override;
    void KeyUp() override;
    void Exit() override;

protected:
    int64_t FValue = 0;

private:
    // A property changed: show the stored value again.
    void Redisplay() { SetValue(FValue); }
    QString FormatPiece(uint64_t AValue, int ADigits) const;

    int FBits = 32;
    int FDigits = 0;
    int FGroupDigits = 0;
    bool FConvertError = false;
    bool FPrefix = true;
    bool FBytes = false;
    TNumMode FInpNumMd = TNumMode::nmDecimal;
    TNumMode FNumMode = TNumMode::nmDecimal;
};

// ---------------------------------------------------------------------------

// Integer edit limited to MinValue .. MaxValue (0 .. 100 when new). Equal
// bounds switch the range off.
class TRangeEdit : public TNumberEdit {
public:
    int64_t MinValue() const { return FMinValue; }
    // Stores the bound and shows the stored value again, clamped.
    void SetMinValue(int64_t AValue);
    int64_t MaxValue() const { return FMaxValue; }
    void SetMaxValue(int64_t AValue);
    // On (the default): leaving the edit with a value outside the range
    // raises EUserRangeError; off: the value is clamped silently.
    bool RangeCheck() const { return FRangeCheck; }
    void SetRangeCheck(bool AValue) { FRangeCheck = AValue; }
    // Result of the last range test.
    bool RangeError() const { return FRangeError; }

    // Whether AValue lies in the range (always with the range off).
    bool InRange(int64_t AValue) const;
    // Clamps into the range, then shows.
    void SetValue(int64_t AValue) override;
    // Takes the text; with RangeCheck and a value outside the range: the
    // error beep and EUserRangeError (the text stays). Otherwise shows the
    // clamped value.
    void Exit() override;

private:
    int64_t FMinValue = 0;
    int64_t FMaxValue = 100;
    bool FRangeError = false;
    bool FRangeCheck = true;
};

// ---------------------------------------------------------------------------

// Text forms of a floating-point value: the standard general, exponent,
// fixed, number and currency forms, engineering notation and SI prefix
// letters.
enum class TNumFloatFormat : uint8_t {
    ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency, ffNormalized, ffPrefix
};

// The text of a value as TFloatEdit shows it, without thousands grouping,
// with the current decimal separator: ffNormalized FormatEngineering with
// Digits, ffPrefix FormatSiPrefixed with Digits and a blank before the
// letter, the other forms with Digits significant digits and Decimal
// decimals (ffExponent: Decimal is the least number of exponent digits,
// 0 to 4; ffGeneral: scientific when the value needs more than Digits
// integer digits or lies below 1E-5).
QString FormatNumFloat(double Value, TNumFloatFormat FloatFormat, int Digits, int Decimal);

// Floating-point edit.
class TFloatEdit : public TCustomNumEdit {
public:
    TFloatEdit();

    // The text read: an empty text or a single blank, "+" or "-" gives
    // the stored value; a text that does not read raises EConvertError
    // "'<text>' is not a valid floating point value".
    virtual double Value() const;
    virtual void SetValue(double AValue);
    double StoredValue() const { return FValue; }

    // Significant digits (10 when new).
    int Digits() const { return FDigits; }
    void SetDigits(int AValue);
    // Decimals (2 when new).
    int Decimal() const { return FDecimal; }
    void SetDecimal(int AValue);
    // The amount of one spin step (1.0 when new).
    double StepMultiplier() const { return FMult; }
    void SetStepMultiplier(double AValue) { FMult = AValue; }
    TNumFloatFormat FloatFormat() const { return FFloatFormat; }
    void SetFloatFormat(TNumFloatFormat AValue);
    // Groups of three digits around the decimal separator are separated by
    // it; the null character (the default) groups nothing.
    QChar ThSeparator() const { return FThSep; }
    void SetThSeparator(QChar AValue);

    bool CharAllowed(QChar Key, bool AllSelected) override;
    // Value := Delta * StepMultiplier + stored value.
    void IncrementValue(int Delta) override;
    // May raise EConvertError.
    void KeyUp() override;
    void Exit() override;

private:
    void Redisplay() { SetValue(FValue); }

    int FDigits = 10;
    int FDecimal = 2;
    double FMult = 1.0;
    double FValue = 0;
    TNumFloatFormat FFloatFormat = TNumFloatFormat::ffFixed;
    QChar FThSep;
};

// ---------------------------------------------------------------------------

enum class TUDAlignButton : uint8_t { udLeft, udRight };
enum class TUDButton : uint8_t { udNone, udUp, udDown };

// Up and down arrow buttons beside a number edit (16 x 21 pixels when new,
// no tab stop). Observers hear saChecked when an arrow is pressed or
// released and saItems when the attachment or its side changes.
class TNumUpDown : public TControlState {
public:
    TNumUpDown() = default;
    ~TNumUpDown() override;

    // The control's name, used in messages about it.
    QString Name;
    TNotifyEvent OnUpClick;
    TNotifyEvent OnDownClick;

    TCustomNumEdit *Associate() const { return FAssociate; }
    // Attaches the spin buttons to AEdit (nullptr detaches). An edit that
    // already has other spin buttons raises Exception "<edit> is already
    // associated with <spin buttons>"; the old attachment then stays.
    void SetAssociate(TCustomNumEdit *AEdit);
    int Increment() const { return FIncrement; }
    void SetIncrement(int AValue) { FIncrement = AValue; }
    // The side of the edit the buttons sit on.
    TUDAlignButton AlignButton() const { return FAlignButton; }
    void SetAlignButton(TUDAlignButton AValue);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool AValue) { FTabStop = AValue; }

    // Steps the attached edit by Increment (or -Increment), then runs
    // OnUpClick (OnDownClick).
    void StepUp();
    void StepDown();

    // Which arrow a point of a control of ASize lies on: the upper part
    // down to half the height plus one is the up arrow, the rest the down
    // arrow.
    static bool InUpArea(QPoint APoint, QSize ASize);
    static bool InDownArea(QPoint APoint, QSize ASize);
    // The left button went down at APoint: marks the arrow there pressed
    // (anything outside the up area counts as the down arrow). Ignored
    // while disabled.
    void MouseDown(QPoint APoint, QSize ASize);
    // The left button was released at APoint: over a pressed arrow that
    // arrow steps; the marks are cleared.
    void MouseUp(QPoint APoint, QSize ASize);
    bool UpPressed() const { return FUpState; }
    bool DownPressed() const { return FDownState; }
    // A key while the buttons have the focus: "+" steps up, "-" down;
    // true when the key was one of them.
    bool UserKey(QChar AKey);

private:
    void Detach();

    TCustomNumEdit *FAssociate = nullptr;
    int FIncrement = 1;
    bool FUpState = false;
    bool FDownState = false;
    TUDAlignButton FAlignButton = TUDAlignButton::udRight;
    bool FTabStop = false;
};

} // namespace vl
