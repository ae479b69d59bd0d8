#include "ui/PasswordDialogs.h"

#include "ui/Styles.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace vl;

namespace {

int TenPerChar(const QString &Text)
{
    return 10 * int(Text.size());
}

// Remembers the messages a dialog shows.
class TRecordingMessages : public IMessageService {
public:
    TRecordingMessages() { SetMessageService(this); }
    ~TRecordingMessages() override { SetMessageService(nullptr); }

    QStringList Shown;

    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Shown << AHint;
        return mrCancel;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &AMsg, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn,
                                      QPoint, int32_t, TDefaultMonitor) override
    {
        Shown << AMsg;
        return mrOk;
    }
    void ShowTextWindow(const QString &, const QString &, int32_t) override {}
};

} // namespace

TEST(PasswordDialogsTest, StrengthOfPasswords)
{
    struct TCase {
        QString Password;
        int32_t Percent;
    };
    const TCase cases[] = {
        {QString(), -1},
        {QStringLiteral("a"), 2}, // score 3
        {QStringLiteral("a "), 2},
        {QStringLiteral("abc"), 1},   // a sequence
        {QStringLiteral("aaa"), -1},  // repeats
        {QStringLiteral("12345"), -1}, // numbers only, in a row
        {QStringLiteral("Ab1!"), 38},  // score 48: every kind of character
    };
    for (const TCase &c : cases)
        EXPECT_EQ(PasswordStrength(c.Password), c.Percent) << c.Password.toStdString();
}

TEST(PasswordDialogsTest, ScoreToPercentIsLimited)
{
    // Score 0 gives -1, 4 gives 3, and 500 or more 99.
    const std::pair<int32_t, int32_t> cases[] = {{0, -1}, {1, 3}, {125, 99}, {2000, 99}};
    for (const auto &[length, percent] : cases) {
        TPasswordStats stats;
        stats.Length = length; // a score of 4 per character, nothing else
        EXPECT_EQ(PasswordScoreToPercent(stats), percent) << length;
    }
}

TEST(PasswordDialogsTest, AnalyseCountsKindsRunsRepeatsAndSequences)
{
    TPasswordStats s;
    AnalysePassword(QStringLiteral("Ab1!"), s);
    EXPECT_EQ(s.Length, 4);
    EXPECT_EQ(s.Upper + s.Lower + s.Digits + s.Symbols, 4);
    EXPECT_EQ(s.MidChars, 1); // the digit; the symbol ends the password
    EXPECT_EQ(s.Requirements, 4);
    EXPECT_EQ(s.ConsecUpper + s.ConsecLower + s.ConsecDigits + s.ConsecSymbols, 0);

    AnalysePassword(QStringLiteral("aaa"), s);
    EXPECT_EQ(s.ConsecLower, 2);
    EXPECT_EQ(s.RepeatChars, 3);
    EXPECT_EQ(s.UniqueChars, 0);
    EXPECT_EQ(s.RepeatInc, 14); // ceil(4.5 / 2) = 3, ceil(9 / 1) = 9, ceil(13.5) = 14
    EXPECT_EQ(s.AlphasOnly, 3);

    AnalysePassword(QStringLiteral("12345"), s);
    EXPECT_EQ(s.NumbersOnly, 5);
    EXPECT_EQ(s.MidChars, 3);
    EXPECT_EQ(s.ConsecDigits, 4);
    EXPECT_EQ(s.SeqDigits, 3);

    // Sequences count backwards too, letters regardless of case.
    AnalysePassword(QStringLiteral("CBa#@!x"), s);
    EXPECT_EQ(s.SeqAlpha, 1);
    EXPECT_EQ(s.SeqSymbols, 1);
    EXPECT_EQ(s.SeqChars, 2);
    EXPECT_EQ(s.Length, 7);
    EXPECT_EQ(s.ReqChars, 3); // upper, lower, symbols; too short for the length

    EXPECT_EQ(ReverseText(QStringLiteral("abc")), QStringLiteral("cba"));
}

// A bar of any width, even 0 or 1, gets colours without dividing by a zero
// half, and never runs past green.
TEST(PasswordDialogsTest, QualityBarColoursForAnyWidth)
{
    const TQualityBarColors c = DefaultQualityBarColors();
    struct TCase {
        int Column;
        int Width;
        TColor Expected;
    };
    const TCase cases[] = {
        {0, 0, c.Yellow},
        {0, 1, c.Yellow},
        {0, 2, c.Red},
        {1, 2, c.Yellow},
        {0, 10, c.Red},
        {2, 10, RGBColor(255, 102, 0)},
        {5, 10, c.Yellow},
        {9, 10, RGBColor(51, 153, 0)},
        {10, 11, c.Green},
        {11, 11, c.Green}, // outside: the nearest end
        {-3, 11, c.Red},
    };
    for (const TCase &t : cases)
        EXPECT_EQ(QualityBarColumnColor(t.Column, t.Width, c), t.Expected) << t.Column << " of " << t.Width;
}

// What is drawn is clamped: no "-1%" for an empty password.
TEST(PasswordDialogsTest, QualityBarFillAndTextAreClamped)
{
    struct TCase {
        int Width;
        int Percent;
        int FillStart;
        const char *Text;
    };
    const TCase cases[] = {
        {100, -1, 0, "0%"}, {100, 50, 50, "50%"}, {7, 99, 6, "99%"}, {1, 99, 0, "99%"}, {0, 50, 0, "50%"},
        {100, 120, 100, "100%"},
    };
    for (const TCase &t : cases) {
        EXPECT_EQ(QualityBarFillStart(t.Width, t.Percent), t.FillStart) << t.Width << " " << t.Percent;
        EXPECT_EQ(QualityBarText(t.Percent), QLatin1String(t.Text));
    }
}

TEST(PasswordDialogsTest, KeyLengthPresetAndAnswer)
{
    struct TCase {
        int32_t EncMode;
        bool Is128, Is256, IsAuto;
    };
    const TCase presets[] = {
        {0, false, false, true}, {1, true, false, false}, {2, false, true, false},
        {3, false, true, false}, {7, false, false, true},
    };
    for (const TCase &c : presets) {
        TPasswordDialog dialog;
        dialog.Prepare(QStringLiteral("T"), QStringLiteral("P"), false, true, c.EncMode);
        EXPECT_EQ(dialog.rbEnc128.Checked(), c.Is128) << c.EncMode;
        EXPECT_EQ(dialog.rbEnc256.Checked(), c.Is256) << c.EncMode;
        EXPECT_EQ(dialog.rbEncAuto.Checked(), c.IsAuto) << c.EncMode;
    }

    const std::pair<TRadioButtonState TPasswordDialog::*, int32_t> choices[] = {
        {&TPasswordDialog::rbEnc256, 3}, {&TPasswordDialog::rbEnc128, 1}, {&TPasswordDialog::rbEncAuto, 0}};
    for (const auto &[radio, mode] : choices) {
        TPasswordDialog dialog;
        dialog.Prepare(QStringLiteral("T"), QStringLiteral("P"), false, true, 2);
        (dialog.*radio).UserClick();
        dialog.edtPwd.UserEdit(QStringLiteral("secret"));
        EXPECT_TRUE(dialog.OKBtn.UserClick());
        EXPECT_EQ(dialog.ModalResult(), mrOk);
        QString pwd;
        int32_t encMode = -1;
        dialog.Finish(dialog.ModalResult(), pwd, encMode);
        EXPECT_EQ(pwd, QStringLiteral("secret"));
        EXPECT_EQ(encMode, mode);
    }
}

// Skip answers Yes, Cancel Cancel; only OK hands out the password, and the
// key mode only with the key-length choice.
TEST(PasswordDialogsTest, ButtonsGiveTheirResults)
{
    struct TCase {
        bool Skip;
        bool Enc;
        TButtonState TPasswordDialog::*Button;
        TModalResult Result;
        QString Pwd;
        int32_t EncMode;
    };
    const TCase cases[] = {
        {true, true, &TPasswordDialog::btnSkip, mrYes, QStringLiteral("old"), 9},
        {false, false, &TPasswordDialog::btnSkip, mrNone, QStringLiteral("old"), 9}, // no Skip button
        {true, true, &TPasswordDialog::CancelBtn, mrCancel, QStringLiteral("old"), 9},
        {false, false, &TPasswordDialog::OKBtn, mrOk, QStringLiteral("typed"), 9},
        {false, true, &TPasswordDialog::OKBtn, mrOk, QStringLiteral("typed"), 3},
    };
    for (const TCase &c : cases) {
        TPasswordDialog dialog;
        dialog.Prepare(QStringLiteral("T"), QStringLiteral("P"), c.Skip, c.Enc, 3);
        EXPECT_EQ(dialog.btnSkip.Visible(), c.Skip);
        EXPECT_EQ(dialog.gbEncrypt.Visible(), c.Enc);
        dialog.edtPwd.UserEdit(QStringLiteral("typed"));
        (dialog.*c.Button).UserClick();
        EXPECT_EQ(dialog.ModalResult(), c.Result);
        QString pwd = QStringLiteral("old");
        int32_t encMode = 9;
        dialog.Finish(dialog.ModalResult(), pwd, encMode);
        EXPECT_EQ(pwd, c.Pwd);
        EXPECT_EQ(encMode, c.EncMode);
    }
}

TEST(PasswordDialogsTest, PasteTakesTheClipboardsFirstLine)
{
    TPasswordDialog dialog;
    dialog.Prepare(QStringLiteral("T"), QStringLiteral("P"), false, false, 0);
    dialog.edtPwd.UserEdit(QStringLiteral("typed"));
    dialog.ClipboardText = [] { return QStringLiteral("from clipboard\r\nsecond line"); };
    dialog.bbPaste.UserClick();
    EXPECT_EQ(dialog.edtPwd.Text(), QStringLiteral("from clipboard"));
}

// The top panel grows by one line per prompt line; a wide prompt widens
// the dialog.
TEST(PasswordDialogsTest, PromptLayout)
{
    struct TCase {
        QString Prompt;
        bool Enc;
        int TopPanel;
        int ClientWidth;
        int ClientHeight;
    };
    // Font height 13, margin 2: a line takes 15 px, the prompt 4 px more,
    // the panel another 4 px.
    const TCase cases[] = {
        {QStringLiteral("Password for backup"), false, 23, 360, 23 + 40 + 50},
        {QStringLiteral("one\r\ntwo\r\nthree"), false, 53, 360, 53 + 40 + 50},
        {QStringLiteral("one\ntwo\nthree"), true, 53, 360, 53 + 40 + 50 + 60},
        {QString(40, QLatin1Char('w')), false, 23, 416, 23 + 40 + 50},
    };
    for (const TCase &c : cases) {
        TPasswordDialog dialog;
        dialog.Prepare(QStringLiteral("T"), c.Prompt, false, c.Enc, 0);
        const TPasswordDialogLayout layout = dialog.Layout(TenPerChar, 13, 360, 8, 40, 50, 60);
        EXPECT_EQ(layout.TopPanelHeight, c.TopPanel) << c.Prompt.toStdString();
        EXPECT_EQ(layout.ClientWidth, c.ClientWidth) << c.Prompt.toStdString();
        EXPECT_EQ(layout.ClientHeight, c.ClientHeight) << c.Prompt.toStdString();
    }
}

// With the repeat field, OK closes only on two equal texts that are empty
// or long enough; otherwise an error box says why and the dialog stays.
TEST(PasswordDialogsTest, NewPasswordChecksOnOk)
{
    struct TCase {
        bool Confirm;
        QString Pwd;
        QString Repeat;
        bool Closes;
        const char *Message;
        TEditState TNewPwdDialog::*Focus;
    };
    const TCase cases[] = {
        {true, QStringLiteral("abcdefgh"), QStringLiteral("abcdefgx"), false, "Passwords do not match!",
         &TNewPwdDialog::edtRepPwd},
        {true, QStringLiteral("abc"), QStringLiteral("abc"), false, "Minimum length of password is 8 characters",
         &TNewPwdDialog::edtPwd},
        {true, QString(), QString(), true, "", nullptr},
        {true, QStringLiteral("abcdefgh"), QStringLiteral("abcdefgh"), true, "", nullptr},
        // Entered once: any length.
        {false, QStringLiteral("abc"), QString(), true, "", nullptr},
    };
    for (const TCase &c : cases) {
        TRecordingMessages messages;
        TNewPwdDialog dialog;
        dialog.Prepare(QStringLiteral("T"), QString(), c.Confirm, false, 8);
        EXPECT_EQ(dialog.paConfirm.Visible(), c.Confirm);
        dialog.edtPwd.UserEdit(c.Pwd);
        dialog.edtRepPwd.UserEdit(c.Repeat);
        dialog.OKBtn.UserClick();
        EXPECT_EQ(dialog.ModalResult(), c.Closes ? mrOk : mrNone) << c.Pwd.toStdString();
        if (*c.Message)
            EXPECT_EQ(messages.Shown, QStringList{QLatin1String(c.Message)});
        else
            EXPECT_TRUE(messages.Shown.isEmpty());
        EXPECT_EQ(dialog.FocusControl(), c.Focus ? &(dialog.*c.Focus) : nullptr);
        QString pwd = QStringLiteral("old");
        EXPECT_EQ(dialog.Finish(dialog.ModalResult(), pwd), c.Closes);
        EXPECT_EQ(pwd, c.Closes ? c.Pwd : QStringLiteral("old"));
    }
}

TEST(PasswordDialogsTest, NewPasswordCancelKeepsThePassword)
{
    TNewPwdDialog dialog;
    dialog.Prepare(QStringLiteral("T"), QStringLiteral("old"), true, true, 0);
    dialog.edtPwd.UserEdit(QStringLiteral("changed"));
    dialog.CancelBtn.UserClick();
    EXPECT_EQ(dialog.ModalResult(), mrCancel);
    QString pwd = QStringLiteral("old");
    EXPECT_FALSE(dialog.Finish(dialog.ModalResult(), pwd));
    EXPECT_EQ(pwd, QStringLiteral("old"));
}

// Show fills both edits and offers the show button; the bar rates the
// edit's text: 0 while it is shorter than the minimum, else its strength.
TEST(PasswordDialogsTest, NewPasswordShowAndQuality)
{
    TNewPwdDialog dialog;
    dialog.Prepare(QStringLiteral("T"), QStringLiteral("Ab1!"), true, true, 6);
    EXPECT_EQ(dialog.edtPwd.Text(), QStringLiteral("Ab1!"));
    EXPECT_EQ(dialog.edtRepPwd.Text(), QStringLiteral("Ab1!"));
    EXPECT_TRUE(dialog.btnShow.Visible());
    EXPECT_EQ(dialog.imgBar.Percent(), 0);
    dialog.edtPwd.UserEdit(QStringLiteral("Ab1!Ab"));
    EXPECT_EQ(dialog.imgBar.Percent(), PasswordStrength(QStringLiteral("Ab1!Ab")));
    EXPECT_GT(dialog.imgBar.Percent(), 0);

    TNewPwdDialog hidden;
    hidden.Prepare(QStringLiteral("T"), QStringLiteral("Ab1!"), false, false, 0);
    EXPECT_TRUE(hidden.edtPwd.Text().isEmpty());
    EXPECT_TRUE(hidden.edtRepPwd.Text().isEmpty());
    EXPECT_FALSE(hidden.btnShow.Visible());
    // The given password is not in the edit, so it is not rated; the
    // estimate keeps -1 for nothing, drawn as 0 %.
    EXPECT_EQ(hidden.imgBar.Percent(), -1);
    EXPECT_EQ(QualityBarText(hidden.imgBar.Percent()), QStringLiteral("0%"));
    hidden.edtPwd.UserEdit(QStringLiteral("Ab1!"));
    EXPECT_EQ(hidden.imgBar.Percent(), 38);
    hidden.edtPwd.UserEdit(QString());
    EXPECT_EQ(hidden.imgBar.Percent(), -1);
}

TEST(PasswordDialogsTest, CryptPasswordEntriesCheck)
{
    const struct {
        const char *pwd;
        const char *rep;
        int32_t minLen;
        bool ok;
        const char *error;
        TCryptPwdFocus focus;
    } cases[] = {
        // Two empty entries: an empty password, whatever the minimum.
        {"", "", 8, true, "", TCryptPwdFocus::cfNone},
        {"longenough", "longenough", 8, true, "", TCryptPwdFocus::cfNone},
        {"12345678", "12345678", 8, true, "", TCryptPwdFocus::cfNone},
        {"short", "short", 8, false, "Minimum length of password is 8 characters", TCryptPwdFocus::cfPassword},
        // Different and short: the length is reported, not the mismatch.
        {"abc", "abd", 6, false, "Minimum length of password is 6 characters", TCryptPwdFocus::cfPassword},
        {"", "typed", 4, false, "Minimum length of password is 4 characters", TCryptPwdFocus::cfPassword},
        {"longenough", "longenougH", 8, false, "Passwords do not match!", TCryptPwdFocus::cfRepeat},
        {"abc", "", 0, false, "Passwords do not match!", TCryptPwdFocus::cfRepeat},
    };
    for (const auto &c : cases) {
        const TCryptPwdCheck check =
            CheckCryptPasswordEntries(QString::fromUtf8(c.pwd), QString::fromUtf8(c.rep), c.minLen);
        EXPECT_EQ(check.Ok, c.ok) << c.pwd << "|" << c.rep;
        EXPECT_EQ(check.Error, QString::fromUtf8(c.error)) << c.pwd << "|" << c.rep;
        EXPECT_EQ(check.Focus, c.focus) << c.pwd << "|" << c.rep;
    }
}
