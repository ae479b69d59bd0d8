// The password dialogs on the offscreen platform: they open with their
// values, and their buttons and keys give the results of the logic.
#include "ui/qt/PasswordDialogs.h"

#include "ui/qt/MessageDialogs.h"

#include "ModalDriver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace vl;
using vl::test::WhenModal;

namespace {

const QString kPasswordDialog = QStringLiteral("PasswordDialog");
const QString kNewPwdDialog = QStringLiteral("NewPwdDialog");

template <typename T>
T *Child(QWidget *AParent, const char *AName)
{
    T *child = AParent->findChild<T *>(QLatin1String(AName));
    EXPECT_NE(child, nullptr) << AName;
    return child;
}

// Installs the Qt message boxes for one test.
struct TQtMessages {
    TQtMessageService Service;
    TQtMessages() { SetMessageService(&Service); }
    ~TQtMessages() { SetMessageService(nullptr); }
};

} // namespace

TEST(PasswordDialogsView, OkHandsOutPasswordAndKeyLength)
{
    TQtPasswordService service;
    WhenModal(kPasswordDialog, [](QWidget *dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Backup"));
        EXPECT_EQ(Child<QLabel>(dialog, "lblPrompt")->text(), QStringLiteral("Password for\nthe archive"));
        EXPECT_TRUE(Child<QPushButton>(dialog, "btnSkip")->isVisible());
        EXPECT_TRUE(Child<QRadioButton>(dialog, "rbEnc256")->isChecked());
        EXPECT_TRUE(Child<QLineEdit>(dialog, "edtPwd")->text().isEmpty());
        QTest::keyClicks(Child<QLineEdit>(dialog, "edtPwd"), QStringLiteral("secret"));
        Child<QRadioButton>(dialog, "rbEnc128")->click();
        EXPECT_FALSE(Child<QRadioButton>(dialog, "rbEnc256")->isChecked());
        Child<QPushButton>(dialog, "OKBtn")->click();
    });
    QString pwd = QStringLiteral("old");
    int32_t encMode = 3;
    EXPECT_EQ(service.AskPassword(kDefaultPos, QStringLiteral("Backup"), QStringLiteral("Password for\r\nthe archive"),
                                  true, true, pwd, encMode),
              mrOk);
    EXPECT_EQ(pwd, QStringLiteral("secret"));
    EXPECT_EQ(encMode, 1);
}

// Skip answers Yes, Escape Cancel; neither hands out anything.
TEST(PasswordDialogsView, SkipAndEscapeLeaveThePassword)
{
    TQtPasswordService service;
    const std::function<void(QWidget *)> actions[] = {
        [](QWidget *dialog) {
            QTest::keyClicks(Child<QLineEdit>(dialog, "edtPwd"), QStringLiteral("typed"));
            Child<QPushButton>(dialog, "btnSkip")->click();
        },
        [](QWidget *dialog) {
            EXPECT_FALSE(Child<QWidget>(dialog, "gbEncrypt")->isVisible());
            QTest::keyClicks(Child<QLineEdit>(dialog, "edtPwd"), QStringLiteral("typed"));
            QTest::keyClick(Child<QLineEdit>(dialog, "edtPwd"), Qt::Key_Escape);
        },
    };
    const TModalResult expected[] = {mrYes, mrCancel};
    for (int i = 0; i < 2; ++i) {
        WhenModal(kPasswordDialog, actions[i]);
        QString pwd = QStringLiteral("old");
        int32_t encMode = 7;
        EXPECT_EQ(service.AskPassword(kDefaultPos, QStringLiteral("FTP"), QStringLiteral("Password"), true, i == 0,
                                      pwd, encMode),
                  expected[i]);
        EXPECT_EQ(pwd, QStringLiteral("old"));
        EXPECT_EQ(encMode, 7);
    }
}

// Two different entries: the error box, and the dialog stays open until
// they match.
TEST(PasswordDialogsView, NewPasswordStaysOpenUntilBothEntriesMatch)
{
    TQtMessages messages;
    TQtPasswordService service;
    WhenModal(kNewPwdDialog, [](QWidget *dialog) {
        EXPECT_TRUE(Child<QWidget>(dialog, "paConfirm")->isVisible());
        EXPECT_FALSE(Child<QWidget>(dialog, "btnShow")->isVisible());
        QTest::keyClicks(Child<QLineEdit>(dialog, "edtPwd"), QStringLiteral("abcd"));
        QTest::keyClicks(Child<QLineEdit>(dialog, "edtRepPwd"), QStringLiteral("abce"));
        QString shown;
        WhenModal(QStringLiteral("ShowMsgDialog"), [&shown](QWidget *box) {
            shown = box->findChild<QLabel *>(QStringLiteral("stInfo"))->text();
            box->findChild<QPushButton *>(QStringLiteral("btClose"))->click();
        });
        Child<QPushButton>(dialog, "OKBtn")->click();
        EXPECT_EQ(shown, QStringLiteral("Passwords do not match!"));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(), Child<QLineEdit>(dialog, "edtRepPwd"));

        auto *repeat = Child<QLineEdit>(dialog, "edtRepPwd");
        repeat->clear();
        QTest::keyClicks(repeat, QStringLiteral("abcd"));
        Child<QPushButton>(dialog, "OKBtn")->click();
    });
    QString pwd = QStringLiteral("old");
    EXPECT_TRUE(service.AskNewPassword(kDefaultPos, QStringLiteral("New password"), pwd, true, false, 4));
    EXPECT_EQ(pwd, QStringLiteral("abcd"));
}

TEST(PasswordDialogsView, NewPasswordShowsItInClearOnRequest)
{
    TQtPasswordService service;
    WhenModal(kNewPwdDialog, [](QWidget *dialog) {
        auto *edit = Child<QLineEdit>(dialog, "edtPwd");
        EXPECT_EQ(edit->text(), QStringLiteral("given"));
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_FALSE(Child<QWidget>(dialog, "paConfirm")->isVisible());
        auto *show = Child<QAbstractButton>(dialog, "btnShow");
        ASSERT_TRUE(show->isVisible());
        show->click();
        EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
        show->click();
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        QTest::keyClick(edit, Qt::Key_Escape);
    });
    QString pwd = QStringLiteral("given");
    EXPECT_FALSE(service.AskNewPassword(kDefaultPos, QStringLiteral("Password"), pwd, false, true, 0));
    EXPECT_EQ(pwd, QStringLiteral("given"));
}

// The bar paints at any width (a width under 2 once divided by zero) and
// covers the rest with the background from the percentage on.
TEST(PasswordDialogsView, QualityBarPaintsAtAnyWidth)
{
    TNewPwdDialog logic;
    logic.Prepare(QStringLiteral("T"), QString(), false, false, 0);
    TQualityBarView bar(logic.imgBar);
    for (int width : {0, 1, 2}) {
        bar.setFixedSize(width, 18);
        EXPECT_EQ(bar.grab().width(), width);
    }
    bar.setFixedSize(120, 18);
    logic.edtPwd.UserEdit(QStringLiteral("Ab1!")); // 38 %
    const QImage image = bar.grab().toImage();
    const QColor start = image.pixelColor(2, 9);
    EXPECT_GT(start.red(), 200);
    EXPECT_LT(start.green(), 40);
    EXPECT_EQ(image.pixelColor(110, 9), bar.palette().color(QPalette::Window));
}
