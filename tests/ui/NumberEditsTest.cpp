#include "ui/NumberEdits.h"

#include "core/FormatSettings.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace vl;
using namespace Qt::StringLiterals;

namespace {

using M = TNumMode;

constexpr int64_t kSame = INT64_MAX;

// Counts the error beeps of an edit.
struct TBeeps {
    int Count = 0;
    void Watch(TCustomNumEdit &AEdit)
    {
        AEdit.OnBeep = [this] { ++Count; };
    }
};

class NumberEditsTest : public ::testing::Test {
protected:
    void SetUp() override { SetFormatSettings(TFormatSettings::Invariant()); }
};

// What the user does: types the text into an emptied edit, key by key,
// each key checked as the view checks it.
bool TypeInto(TCustomNumEdit &AEdit, const QString &AText)
{
    AEdit.SetText(QString());
    for (QChar key : AText) {
        if (!AEdit.UserKey(key, false))
            return false;
        AEdit.UserEdit(AEdit.Text() + key);
        AEdit.KeyUp();
    }
    return true;
}

} // namespace

TEST_F(NumberEditsTest, ShowsValuesInTheFourBasesWithPrefixDigitsGroupsAndBytes)
{
    struct Case {
        M mode;
        int bits;
        int digits;
        int group;
        bool prefix;
        bool bytes;
        int64_t value;
        QString text;
        int64_t back = kSame; // the value the text reads back as
    } cases[] = {
        {M::nmHex, 16, 0, 0, true, false, 255, u"$00FF"_s},
        {M::nmHex, 32, 0, 0, true, false, -1, u"$FFFFFFFF"_s, 0xFFFFFFFF}, // the low 32 bits
        {M::nmHex, 64, 0, 0, true, false, -1, u"$FFFFFFFFFFFFFFFF"_s},
        {M::nmHex, 64, 0, 4, false, false, 0x123456789A, u"0000 0012 3456 789A"_s},
        {M::nmHex, 32, 0, 4, true, false, 0xDEADBEEF, u"$DEAD BEEF"_s},
        {M::nmHex, 8, 0, 0, false, false, 171, u"AB"_s},
        {M::nmHex, 16, 0, 0, true, true, 0x1234, u"$12_$34"_s},
        {M::nmOctal, 8, 0, 0, true, false, 8, u"%010"_s},
        {M::nmOctal, 32, 0, 0, true, false, 8, u"%00000000010"_s},
        {M::nmBin, 8, 0, 0, true, false, 5, u"!00000101"_s},
        {M::nmBin, 16, 0, 4, true, true, 0x0102, u"!0000 0001_!0000 0010"_s},
        {M::nmZeroDec, 16, 0, 0, true, false, 42, u"00042"_s},
        {M::nmZeroDec, 64, 0, 0, true, false, 42, u"00000000000000000042"_s},
        {M::nmZeroDec, 32, 0, 0, true, true, 0x0A0B, u"000_000_010_011"_s},
        {M::nmDecimal, 32, 0, 3, true, false, 1234567, u"1 234 567"_s},
        {M::nmDecimal, 32, 0, 0, true, false, int64_t(1) << 40, u"1099511627776"_s},
        {M::nmDecimal, 32, 5, 0, true, false, 42, u"   42"_s},
    };
    for (const Case &c : cases) {
        TNumberEdit edit;
        edit.SetBits(c.bits);
        edit.SetDigits(c.digits);
        edit.SetGroupDigits(c.group);
        edit.SetPrefix(c.prefix);
        edit.SetBytes(c.bytes);
        edit.SetNumMode(c.mode);
        edit.SetValue(c.value);
        EXPECT_EQ(edit.Text(), c.text) << c.text.toStdString();
        // What is shown reads back (the byte form too).
        EXPECT_EQ(edit.GetValue(), c.back == kSame ? c.value : c.back) << c.text.toStdString();
        EXPECT_FALSE(edit.CheckError());
    }
}

TEST_F(NumberEditsTest, ReadsTextsByPrefixAndBytesWithAllSixtyFourBits)
{
    struct Case {
        M mode;
        bool prefix;
        QString text;
        int64_t value;
        bool error;
    } cases[] = {
        {M::nmDecimal, true, u"1_2"_s, 258, false},
        {M::nmDecimal, true, u" -1 234 567 "_s, -1234567, false},
        {M::nmDecimal, true, u"$12_$34"_s, 0x1234, false},
        {M::nmDecimal, true, u"%17"_s, 15, false},
        {M::nmDecimal, true, u"!101"_s, 5, false},
        {M::nmHex, false, u"FF"_s, 255, false},
        {M::nmHex, false, u"$ff"_s, 255, false},
        {M::nmOctal, false, u"17_1"_s, 15 * 256 + 1, false},
        // Decimal entries of 2^31 and more keep their value.
        {M::nmDecimal, true, u"2147483648"_s, int64_t(1) << 31, false},
        {M::nmDecimal, true, u"3000000000"_s, 3000000000, false},
        {M::nmDecimal, true, u"-9223372036854775808"_s, INT64_MIN, false},
        {M::nmDecimal, true, u"9223372036854775808"_s, 0, true},
        {M::nmDecimal, true, u"12x"_s, 0, true},
        {M::nmDecimal, true, u"1_x_2"_s, 1 * 65536 + 2, true},
        {M::nmHex, false, u"FG"_s, 0, true},
    };
    for (const Case &c : cases) {
        TNumberEdit edit;
        TBeeps beeps;
        beeps.Watch(edit);
        edit.SetNumMode(c.mode);
        edit.SetPrefix(c.prefix);
        edit.SetText(c.text);
        EXPECT_EQ(edit.GetValue(), c.value) << c.text.toStdString();
        EXPECT_EQ(edit.CheckError(), c.error) << c.text.toStdString();
        EXPECT_EQ(beeps.Count, c.error ? 1 : 0) << c.text.toStdString();
    }
}

TEST_F(NumberEditsTest, ALoneSignOrEmptyTextReadsAsZeroAndKeepsTheErrorFlag)
{
    TNumberEdit edit;
    TBeeps beeps;
    beeps.Watch(edit);
    edit.SetText(u"x"_s);
    edit.GetValue();
    ASSERT_TRUE(edit.CheckError());
    for (const QString &text : {u"-"_s, u" + "_s, u""_s}) {
        edit.SetText(text);
        EXPECT_EQ(edit.GetValue(), 0);
        EXPECT_TRUE(edit.CheckError());
    }
    EXPECT_EQ(beeps.Count, 1);
}

TEST_F(NumberEditsTest, TypedKeysFollowTheBaseOfTheFirstCharacter)
{
    struct Case {
        M mode;
        bool prefix;
        QString text;
        bool allSelected;
        QChar key;
        bool allowed;
        M inputMode;
    } cases[] = {
        {M::nmHex, true, u""_s, false, u'%', true, M::nmOctal},
        {M::nmHex, true, u"%1"_s, false, u'7', true, M::nmOctal},
        {M::nmHex, true, u"%1"_s, false, u'8', false, M::nmOctal},
        {M::nmHex, true, u"$00FF"_s, false, u'a', true, M::nmHex},
        {M::nmHex, true, u"$00FF"_s, true, u'5', true, M::nmDecimal}, // replaces the selected text
        {M::nmHex, true, u"$00FF"_s, true, u'a', false, M::nmDecimal},
        {M::nmHex, false, u"FF"_s, false, u'$', true, M::nmHex},
        {M::nmBin, false, u"10"_s, false, u'2', false, M::nmBin},
        {M::nmBin, false, u"10"_s, false, u'!', true, M::nmBin},
        {M::nmDecimal, true, u"12"_s, false, u'-', true, M::nmDecimal},
        {M::nmDecimal, true, u"12"_s, false, u' ', true, M::nmDecimal},
        {M::nmDecimal, true, u"12"_s, false, u'\b', true, M::nmDecimal},
        {M::nmDecimal, true, u"12"_s, false, u'_', false, M::nmDecimal},
        {M::nmZeroDec, false, u"12"_s, false, u'a', false, M::nmZeroDec},
        {M::nmDecimal, true, u"12"_s, false, QChar(0x0663), false, M::nmDecimal}, // no digit above code 255
    };
    for (const Case &c : cases) {
        TNumberEdit edit;
        TBeeps beeps;
        beeps.Watch(edit);
        edit.SetNumMode(c.mode);
        edit.SetPrefix(c.prefix);
        edit.SetText(c.text);
        const QString what = c.text + u" + "_s + c.key;
        EXPECT_EQ(edit.UserKey(c.key, c.allSelected), c.allowed) << what.toStdString();
        EXPECT_EQ(edit.InputMode(), c.inputMode) << what.toStdString();
        EXPECT_EQ(beeps.Count, c.allowed ? 0 : 1) << what.toStdString();
    }
}

TEST_F(NumberEditsTest, TypingAnOctalPrefixIntoAHexEditReadsOctalAndLeavingNormalises)
{
    TNumberEdit edit;
    edit.SetNumMode(M::nmHex);
    edit.SetBits(16);
    edit.SetValue(255);
    EXPECT_EQ(edit.Text(), u"$00FF"_s);
    ASSERT_TRUE(TypeInto(edit, u"%17"_s));
    EXPECT_EQ(edit.StoredValue(), 15); // taken at key-up, text untouched
    EXPECT_EQ(edit.Text(), u"%17"_s);
    edit.Exit();
    EXPECT_EQ(edit.Text(), u"$000F"_s);
    // Setting the mode resets the input base.
    edit.SetNumMode(M::nmHex);
    EXPECT_EQ(edit.InputMode(), M::nmHex);
}

TEST_F(NumberEditsTest, BitsZeroMeansThirtyTwoAndPropertyChangesRedisplay)
{
    TNumberEdit edit;
    EXPECT_EQ(edit.Text(), u"0"_s);
    edit.SetBits(0);
    EXPECT_EQ(edit.Bits(), 32);
    edit.SetValue(26);
    edit.SetNumMode(M::nmHex);
    EXPECT_EQ(edit.Text(), u"$0000001A"_s);
    edit.SetBits(8);
    EXPECT_EQ(edit.Text(), u"$1A"_s);
    edit.SetPrefix(false);
    EXPECT_EQ(edit.Text(), u"1A"_s);
    edit.SetDigits(4);
    EXPECT_EQ(edit.Text(), u"001A"_s);
}

TEST_F(NumberEditsTest, RangeEditClampsOrRaisesTheRangeErrorWhenLeft)
{
    TRangeEdit edit;
    TBeeps beeps;
    beeps.Watch(edit);
    edit.SetMinValue(1);
    edit.SetMaxValue(99);
    EXPECT_EQ(edit.Text(), u"1"_s); // the stored 0 clamped at once

    edit.SetRangeCheck(false);
    edit.SetText(u"250"_s);
    edit.Exit();
    EXPECT_EQ(edit.Text(), u"99"_s);
    EXPECT_EQ(beeps.Count, 0);

    edit.SetRangeCheck(true);
    edit.SetText(u"250"_s);
    try {
        edit.Exit();
        ADD_FAILURE() << "no range error";
    } catch (const EUserRangeError &e) {
        EXPECT_EQ(e.Message(), u"Range check error (1 .. 99)"_s);
    }
    EXPECT_EQ(edit.Text(), u"250"_s); // the entry stays for correction
    EXPECT_TRUE(edit.RangeError());
    EXPECT_EQ(beeps.Count, 1);

    edit.SetText(u"50"_s);
    edit.Exit();
    EXPECT_FALSE(edit.RangeError());
    edit.SetMaxValue(20); // the shown value follows the new bound
    EXPECT_EQ(edit.Text(), u"20"_s);
}

TEST_F(NumberEditsTest, EqualBoundsSwitchTheRangeOff)
{
    TRangeEdit edit;
    edit.SetMaxValue(0);
    edit.SetValue(-12345);
    EXPECT_EQ(edit.Text(), u"-12345"_s);
    edit.SetText(u"777"_s);
    edit.Exit();
    EXPECT_EQ(edit.Text(), u"777"_s);
    EXPECT_FALSE(edit.RangeError());
}

TEST_F(NumberEditsTest, RangeBoundsAndTheirErrorTextsKeepSixtyFourBits)
{
    struct Case {
        M mode;
        int64_t min;
        int64_t max;
        QString entry;
        QString message;
    } cases[] = {
        {M::nmDecimal, 0, 5000000000, u"5000000001"_s, u"Range check error (0 .. 5000000000)"_s},
        {M::nmDecimal, -3000000000, -1, u"-3000000001"_s, u"Range check error (-3000000000 .. -1)"_s},
        {M::nmHex, 0, 0x12A05F200, u"$12A05F201"_s, u"Range check error ($0 .. $12A05F200)"_s},
        {M::nmOctal, 1, 15, u"%20"_s, u"Range check error (%1 .. %17)"_s},
        {M::nmBin, 0, 3, u"!100"_s, u"Range check error (!0 .. !11)"_s},
        {M::nmZeroDec, 10, 20, u"21"_s, u"Range check error (10 .. 20)"_s},
    };
    for (const Case &c : cases) {
        TRangeEdit edit;
        edit.SetNumMode(c.mode);
        edit.SetBits(64);
        edit.SetMinValue(c.min);
        edit.SetMaxValue(c.max);
        // A value just inside the upper bound is kept, not clamped to 32 bits.
        edit.SetValue(c.max);
        EXPECT_EQ(edit.StoredValue(), c.max) << c.message.toStdString();
        edit.SetText(c.entry);
        try {
            edit.Exit();
            ADD_FAILURE() << "no range error for " << c.entry.toStdString();
        } catch (const EUserRangeError &e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST_F(NumberEditsTest, SpinButtonsStepTheAttachedEditWithinItsRange)
{
    TRangeEdit edit;
    edit.SetMaxValue(10);
    edit.SetValue(9);
    TNumUpDown spin;
    int ups = 0;
    int downs = 0;
    spin.OnUpClick = [&](TControlState &) { ++ups; };
    spin.OnDownClick = [&](TControlState &) { ++downs; };
    spin.SetAssociate(&edit);
    spin.StepUp();
    spin.StepUp(); // at the maximum: stays
    EXPECT_EQ(edit.Text(), u"10"_s);
    EXPECT_EQ(ups, 2);
    spin.SetIncrement(3);
    EXPECT_TRUE(spin.UserKey(u'-'));
    EXPECT_EQ(edit.Text(), u"7"_s);
    EXPECT_FALSE(spin.UserKey(u'x'));
    EXPECT_EQ(downs, 1);
}

TEST_F(NumberEditsTest, SpinButtonsStepOnlyWhenReleasedOverThePressedArrow)
{
    const QSize size(16, 21); // up: rows 0..10, down: rows 10..20
    struct Case {
        QPoint press;
        QPoint release;
        int64_t value;
    } cases[] = {
        {{5, 2}, {5, 3}, 6},   // up
        {{5, 10}, {5, 10}, 6}, // the middle row belongs to both arrows: pressed counts as up
        {{5, 15}, {5, 20}, 4}, // down
        {{5, 40}, {5, 12}, 4}, // below the control counts as the down arrow
        {{5, 2}, {5, 15}, 5},  // pressed up, released over down: nothing
        {{5, 2}, {30, 2}, 5},  // released outside
    };
    for (const Case &c : cases) {
        TNumberEdit edit;
        edit.SetValue(5);
        TNumUpDown spin;
        spin.SetAssociate(&edit);
        spin.MouseDown(c.press, size);
        EXPECT_TRUE(spin.UpPressed() || spin.DownPressed());
        spin.MouseUp(c.release, size);
        EXPECT_FALSE(spin.UpPressed() || spin.DownPressed());
        EXPECT_EQ(edit.StoredValue(), c.value) << c.press.y() << " " << c.release.y();
    }
}

TEST_F(NumberEditsTest, ASecondSpinControlOnTheSameEditIsRefused)
{
    TRangeEdit edit;
    edit.Name = u"reDays"_s;
    TNumUpDown first;
    first.Name = u"udDays"_s;
    TNumUpDown second;
    second.Name = u"udOther"_s;
    first.SetAssociate(&edit);
    try {
        second.SetAssociate(&edit);
        ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), u"reDays is already associated with udDays"_s);
    }
    EXPECT_EQ(first.Associate(), &edit);
    EXPECT_EQ(second.Associate(), nullptr);
    EXPECT_EQ(edit.UpDown(), &first);
    // Detaching frees the edit for another.
    first.SetAssociate(nullptr);
    second.SetAssociate(&edit);
    EXPECT_EQ(edit.UpDown(), &second);
}

TEST_F(NumberEditsTest, FloatEditShowsStepsAndRefusesTextThatDoesNotRead)
{
    TFloatEdit edit;
    edit.SetDigits(6);
    edit.SetDecimal(2);
    edit.SetValue(2.5);
    EXPECT_EQ(edit.Text(), u"2.50"_s);
    edit.IncrementValue(1);
    EXPECT_EQ(edit.Text(), u"3.50"_s);
    edit.SetStepMultiplier(0.25);
    edit.IncrementValue(-2);
    EXPECT_EQ(edit.Text(), u"3.00"_s);

    for (const QString &text : {u"-"_s, u""_s, u" "_s}) {
        edit.SetText(text);
        EXPECT_EQ(edit.Value(), 3.0);
    }
    edit.SetText(u"1 234.5"_s);
    edit.Exit();
    EXPECT_EQ(edit.Text(), u"1234.50"_s);
    edit.SetText(u"1.5e"_s);
    try {
        edit.KeyUp();
        ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.Message(), u"'1.5e' is not a valid floating point value"_s);
    }
    EXPECT_EQ(edit.StoredValue(), 1234.5);
}

TEST_F(NumberEditsTest, FloatEditTakesTheCurrentDecimalSeparatorAndGroups)
{
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.DecimalSeparator = QLatin1Char(',');
    SetFormatSettings(fs);
    TFloatEdit edit;
    TBeeps beeps;
    beeps.Watch(edit);
    edit.SetDigits(10);
    edit.SetValue(2.5);
    EXPECT_EQ(edit.Text(), u"2,50"_s);
    EXPECT_TRUE(edit.UserKey(u',', false));
    EXPECT_FALSE(edit.UserKey(u'.', false));
    EXPECT_TRUE(edit.UserKey(u'e', false));
    EXPECT_FALSE(edit.UserKey(u'k', false));
    EXPECT_EQ(beeps.Count, 2);
    edit.SetText(u"1,75"_s);
    EXPECT_EQ(edit.Value(), 1.75);
    edit.SetText(u"1.75"_s);
    EXPECT_THROW(edit.Value(), EConvertError);
    edit.SetThSeparator(QLatin1Char(' '));
    edit.SetValue(1234567.5);
    EXPECT_EQ(edit.Text(), u"1 234 567,50"_s);
}

TEST_F(NumberEditsTest, FloatTextsInTheSevenForms)
{
    using F = TNumFloatFormat;
    struct Case {
        double value;
        F format;
        int digits;
        int decimal;
        QString text;
    } cases[] = {
        {12.345, F::ffFixed, 6, 1, u"12.3"_s},
        {2.5, F::ffFixed, 6, 2, u"2.50"_s},
        {123.456, F::ffFixed, 4, 2, u"123.50"_s}, // four significant digits
        {-0.001, F::ffFixed, 6, 2, u"0.00"_s},
        {1234567.891, F::ffNumber, 10, 2, u"1,234,567.89"_s},
        {-3.5, F::ffCurrency, 10, 2, u"-$3.50"_s},
        {1234.5, F::ffExponent, 4, 2, u"1.235E+03"_s},
        {0.00012, F::ffExponent, 3, 0, u"1.20E-4"_s},
        {0.000001, F::ffGeneral, 15, 0, u"1E-6"_s},
        {1234.5, F::ffGeneral, 15, 0, u"1234.5"_s},
        {1500, F::ffPrefix, 3, 0, u"1.50 k"_s},
        {1500, F::ffNormalized, 3, 0, u"1.50E3"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FormatNumFloat(c.value, c.format, c.digits, c.decimal), c.text) << c.text.toStdString();
}
