#include "ui/MessageDialogs.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

static void PrintTo(const QPoint &p, std::ostream *os)
{
    *os << "(" << p.x() << ", " << p.y() << ")";
}

using namespace vl;

namespace {

using K = TMsgDialogType;
using B = TMsgDlgBtn;

int TenPerChar(const QString &Text)
{
    return 10 * int(Text.size());
}

// A button as the test expects it: "" for a hidden one, else caption,
// result and whether it is the default button.
struct TButton {
    const char *Caption;
    TModalResult Result = mrNone;
    bool Default = false;
};

void ExpectButton(const TMsgButtonState &AButton, const TButton &AExpected, const char *AWhere)
{
    const bool visible = *AExpected.Caption != 0;
    EXPECT_EQ(AButton.Visible(), visible) << AWhere;
    if (!visible)
        return;
    EXPECT_EQ(AButton.Caption(), QLatin1String(AExpected.Caption)) << AWhere;
    EXPECT_EQ(AButton.ModalResult, AExpected.Result) << AWhere;
    EXPECT_EQ(AButton.Default, AExpected.Default) << AWhere;
}

} // namespace

TEST(MessageDialogsTest, KindsSetButtonsResultsDefaultsIconAndCaption)
{
    struct TCase {
        K Kind;
        B DefaultButton;
        TMsgIcon Icon;
        const char *Caption;
        TButton Left, Center, Close;
    };
    const TButton none{""};
    const TCase cases[] = {
        {K::mdtInformation, B::mbCancel, TMsgIcon::miInformation, "Information", none, none,
         {"&Close", mrCancel, true}},
        {K::mdtWarning, B::mbYes, TMsgIcon::miWarning, "Warning", none, none, {"&Close", mrCancel, true}},
        {K::mdtError, B::mbYes, TMsgIcon::miError, "Error", none, none, {"&Close", mrCancel, true}},
        {K::mdtConfirm, B::mbYes, TMsgIcon::miQuestion, "Confirm", none, {"&Yes", mrYes, true}, {"&No", mrNo, false}},
        {K::mdtConfirm, B::mbNo, TMsgIcon::miQuestion, "Confirm", none, {"&Yes", mrYes, false}, {"&No", mrNo, true}},
        {K::mdtConfirmError, B::mbYes, TMsgIcon::miError, "Error", none, {"&Yes", mrOk, true},
         {"Cancel", mrCancel, false}},
        {K::mdtConfirmRetry, B::mbYes, TMsgIcon::miError, "Error", none, {"&Retry", mrRetry, false},
         {"Cancel", mrCancel, false}},
        {K::mdtConfirmRetry, B::mbRetry, TMsgIcon::miError, "Error", none, {"&Retry", mrRetry, true},
         {"Cancel", mrCancel, false}},
        {K::mdtConfirmCancel, B::mbYes, TMsgIcon::miQuestion, "Confirm", none, {"&Yes", mrYes, true},
         {"Cancel", mrCancel, false}},
        {K::mdtConfirmYesNo, B::mbNo, TMsgIcon::miQuestion, "Confirm", {"&Yes", mrYes, false}, {"&No", mrNo, true},
         {"Cancel", mrCancel, false}},
        {K::mdtCustom, B::mbYes, TMsgIcon::miNone, "Information", none, none, none},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(int(c.Kind));
        TShowMsgDialog box;
        ASSERT_TRUE(box.Prepare(QStringLiteral("text"), 0, c.Kind, c.DefaultButton));
        EXPECT_EQ(box.Icon(), c.Icon);
        EXPECT_EQ(box.imgIcon.Visible(), c.Icon != TMsgIcon::miNone);
        EXPECT_EQ(box.Caption(), QLatin1String(c.Caption));
        ExpectButton(box.btLeft, c.Left, "btLeft");
        ExpectButton(box.btCenter, c.Center, "btCenter");
        ExpectButton(box.btClose, c.Close, "btClose");
        EXPECT_EQ(box.RunTimer(), c.Kind == K::mdtCustom);
    }
}

TEST(MessageDialogsTest, EmptyTextShowsNothing)
{
    TShowMsgDialog box;
    EXPECT_FALSE(box.Prepare(QString(), 5, K::mdtError, B::mbYes));
    EXPECT_EQ(box.ModalResult(), mrNone);
}

// A timed box is captioned "Information"; a hint stays 120 ms a character
// plus 2 s, a given delay that many seconds.
TEST(MessageDialogsTest, TimedBoxesCloseAfterDelayOrReadingTime)
{
    TShowMsgDialog hint;
    ASSERT_TRUE(hint.Prepare(QStringLiteral("12345"), 0, K::mdtCustom, B::mbYes));
    EXPECT_TRUE(hint.RunTimer());
    EXPECT_EQ(hint.TimerInterval(), 2600);
    EXPECT_EQ(hint.Caption(), QStringLiteral("Information"));

    TShowMsgDialog error;
    ASSERT_TRUE(error.Prepare(QStringLiteral("failed"), 5, K::mdtError, B::mbYes));
    EXPECT_TRUE(error.RunTimer());
    EXPECT_EQ(error.TimerInterval(), 5000);
    EXPECT_EQ(error.Caption(), QStringLiteral("Information"));
    EXPECT_EQ(error.Icon(), TMsgIcon::miError);
    EXPECT_EQ(error.btClose.Caption(), QStringLiteral("&Close"));

    int calls = 0;
    TModalResult told = mrNone;
    error.OnModalResult = [&](TModalResult r) {
        ++calls;
        told = r;
    };
    error.TimerTick();
    EXPECT_EQ(error.ModalResult(), mrCancel);
    // The first result ends the box; a late click changes nothing.
    error.btClose.ModalResult = mrOk;
    error.btClose.UserClick();
    EXPECT_EQ(error.ModalResult(), mrCancel);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(told, mrCancel);
}

TEST(MessageDialogsTest, KeysEndTheBoxAsTheKindSays)
{
    struct TCase {
        K Kind;
        int32_t Delay;
        int Key;
        TModalResult Expected;
    };
    const TCase cases[] = {
        {K::mdtConfirm, 0, Qt::Key_Escape, mrNo},
        {K::mdtConfirm, 0, Qt::Key_F11, mrCancel},
        {K::mdtConfirm, 0, Qt::Key_A, mrNone},
        {K::mdtConfirmYesNo, 0, Qt::Key_Escape, mrCancel},
        {K::mdtConfirmError, 0, Qt::Key_Escape, mrCancel},
        {K::mdtInformation, 0, Qt::Key_Return, mrNone},
        // While the timer runs any key closes the box.
        {K::mdtInformation, 3, Qt::Key_A, mrCancel},
        {K::mdtCustom, 0, Qt::Key_Shift, mrCancel},
        {K::mdtConfirm, 3, Qt::Key_Escape, mrCancel},
    };
    for (const TCase &c : cases) {
        TShowMsgDialog box;
        ASSERT_TRUE(box.Prepare(QStringLiteral("text"), c.Delay, c.Kind, B::mbYes));
        box.Shown();
        EXPECT_EQ(box.KeyDown(c.Key), c.Expected != mrNone) << int(c.Kind) << " key " << c.Key;
        EXPECT_EQ(box.ModalResult(), c.Expected) << int(c.Kind) << " key " << c.Key;
        box.Closed();
    }
}

TEST(MessageDialogsTest, LayoutFitsTextButtonsAndIcon)
{
    struct TCase {
        QString Text;
        K Kind;
        QSize Client;
        QRect Text_;
    };
    // Line height 20; buttons need 87 + 112 (Yes/No/Cancel: + 87) px.
    const TCase cases[] = {
        // A short line still leaves room for the 32 px icon.
        {QStringLiteral("abc"), K::mdtInformation, {274, 109}, {45, 15, 199, 47}},
        {QStringLiteral("abc"), K::mdtConfirmYesNo, {361, 109}, {45, 15, 286, 47}},
        {QStringLiteral("abc"), K::mdtCustom, {274, 92}, {45, 15, 199, 30}},
        {QStringLiteral("one\r\ntwo\nthree and more words"), K::mdtError, {275, 122}, {45, 15, 200, 60}},
    };
    for (const TCase &c : cases) {
        TShowMsgDialog box;
        ASSERT_TRUE(box.Prepare(c.Text, 0, c.Kind, B::mbYes));
        const TMsgBoxLayout layout = box.Layout(TenPerChar, 20);
        EXPECT_EQ(layout.Client, c.Client) << c.Text.toStdString();
        EXPECT_EQ(layout.Text, c.Text_) << c.Text.toStdString();
        EXPECT_EQ(layout.Margin, 10);
    }
}

TEST(MessageDialogsTest, LineBreaksOfAnyKindCount)
{
    EXPECT_EQ(ToCrLfLines(QStringLiteral("a\nb\r\nc\rd")), QStringLiteral("a\r\nb\r\nc\r\nd"));
    EXPECT_EQ(ToLfLines(QStringLiteral("a\nb\r\nc\rd")), QStringLiteral("a\nb\nc\nd"));
}

TEST(MessageDialogsTest, StandardDialogDefaultButtonAndResults)
{
    struct TCase {
        TMsgDlgButtons Buttons;
        B Expected;
    };
    const TCase cases[] = {
        {MsgDlgButtons({B::mbYes, B::mbNo, B::mbOK}), B::mbOK},
        {MsgDlgButtons({B::mbYes, B::mbNo}), B::mbYes},
        {MsgDlgButtons({B::mbRetry, B::mbCancel}), B::mbRetry},
        {MsgDlgButtons({B::mbAbort, B::mbIgnore}), B::mbRetry},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(AutoDefaultButton(c.Buttons), c.Expected) << c.Buttons;

    const std::pair<B, TModalResult> results[] = {
        {B::mbYes, mrYes},     {B::mbNo, mrNo},       {B::mbOK, mrOk},       {B::mbCancel, mrCancel},
        {B::mbAbort, mrAbort}, {B::mbRetry, mrRetry}, {B::mbIgnore, mrIgnore}, {B::mbClose, mrClose},
    };
    for (const auto &[button, result] : results)
        EXPECT_EQ(ButtonModalResult(button), result) << int(button);
}

// Both coordinates negative: centred on the screen; otherwise the point,
// moved into the work area (20 px margins).
TEST(MessageDialogsTest, StandardDialogPosition)
{
    const TMonitorList monitors = {{QRect(0, 0, 1920, 1040), 96}};
    const QSize size(400, 200);
    EXPECT_EQ(PositionedDialogPos(monitors, size, QPoint(-1, -1)), std::nullopt);
    EXPECT_EQ(PositionedDialogPos(monitors, size, QPoint(-1, 100)), QPoint(20, 100));
    EXPECT_EQ(PositionedDialogPos(monitors, size, QPoint(300, 400)), QPoint(300, 400));
    EXPECT_EQ(PositionedDialogPos(monitors, size, QPoint(1800, 1000)), QPoint(1500, 810));
}

TEST(MessageDialogsTest, StandardDialogIsWideEnoughForItsTitle)
{
    const QString title = QStringLiteral("A title of 25 characters.");
    EXPECT_EQ(PositionedDialogWidth(200, title, TenPerChar), 300);
    EXPECT_EQ(PositionedDialogWidth(320, title, TenPerChar), 320);
    EXPECT_EQ(PositionedDialogWidth(200, QString(), TenPerChar), 200);
}

// Timed dialogs poll in passes of 100 ms: Seconds x 10 of them.
TEST(MessageDialogsTest, CountDownRunsOutAfterTenPassesASecond)
{
    TCountDown three(3);
    int passes = 0;
    while (!three.Tick())
        ++passes;
    EXPECT_EQ(passes + 1, 30);
    EXPECT_TRUE(three.Expired());
    EXPECT_FALSE(three.Tick());

    EXPECT_TRUE(TCountDown(0).Expired());
    EXPECT_TRUE(TCountDown(-2).Expired());

    EXPECT_EQ(TimedDialogResult(mrNone), mrOk);
    EXPECT_EQ(TimedDialogResult(mrNo), mrNo);
}

TEST(MessageDialogsTest, TextWindowModesByDelay)
{
    TfrmShow empty;
    EXPECT_FALSE(empty.Prepare(QStringLiteral("Output"), QString(), 0));

    struct TCase {
        int32_t Delay;
        bool Modal;
        int Passes;
    };
    const TCase cases[] = {{0, true, 0}, {3, false, 30}, {-1, false, 0}};
    for (const TCase &c : cases) {
        TfrmShow window;
        ASSERT_TRUE(window.Prepare(QStringLiteral("Output"), QStringLiteral("line 1\r\nline 2"), c.Delay));
        EXPECT_EQ(window.Caption(), QStringLiteral("Output"));
        EXPECT_EQ(window.memShow.Caption(), QStringLiteral("line 1\nline 2"));
        EXPECT_EQ(window.Modal(), c.Modal) << c.Delay;
        EXPECT_EQ(window.panButtons.Visible(), c.Modal) << c.Delay;
        EXPECT_EQ(window.Wait().Remaining(), c.Passes) << c.Delay;
        EXPECT_EQ(window.btnOK.Caption(), QStringLiteral("OK"));
    }
}
