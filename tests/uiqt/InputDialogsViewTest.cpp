// The input dialogs on the offscreen platform: they open with their
// values, and their buttons and keys give the results of the logic.
#include "ui/qt/InputDialogs.h"

#include "core/MessageService.h"
#include "core/Placeholders.h"

#include "ModalDriver.h"

#include "common/MessageRecorder.h"
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::WhenModal;

namespace {

template <typename T>
T *Child(QWidget *AParent, const char *AName)
{
    T *child = AParent->findChild<T *>(QLatin1String(AName));
    EXPECT_NE(child, nullptr) << AName;
    return child;
}

using TBoxes = test::TMessageRecorder;

// The Qt views for one test.
struct TQtViews {
    std::unique_ptr<IInputDialogViews> Views = CreateQtInputDialogViews();
    TQtViews() { SetInputDialogViews(Views.get()); }
    ~TQtViews() { SetInputDialogViews(nullptr); }
};

// The radio button of a radio group box with that text.
QRadioButton *Radio(QWidget *AGroup, const QString &AText)
{
    for (QRadioButton *button : AGroup->findChildren<QRadioButton *>())
        if (button->text() == AText)
            return button;
    ADD_FAILURE() << "no radio button " << AText.toStdString();
    return nullptr;
}

} // namespace

TEST(InputTextView, OpensWithItsHistoryAndEnterAnswersOk)
{
    TQtViews views;
    WhenModal(u"InputTextDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"New mail recipient"_s);
        EXPECT_EQ(Child<QLabel>(D, "Descriptor")->text(), u"Address:"_s);
        auto *combo = Child<QComboBox>(D, "TextFeld");
        EXPECT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->currentText(), u"a@x"_s);
        EXPECT_FALSE(Child<QPushButton>(D, "CharTabBtn")->isVisible());
        EXPECT_EQ(D->frameGeometry().topLeft(), QPoint(100, 120));
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), u"c@z"_s);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    });
    TStringList list(QStringList{u"a@x"_s, u"b@y"_s});
    QString text = u"a@x"_s;
    ASSERT_TRUE(InputTextEx(QPoint(100, 120), u"New mail recipient"_s, u"Address:"_s, false, QString(), &list, false,
                            text));
    EXPECT_EQ(text, u"c@z"_s);
    EXPECT_EQ(list.Texts(), (QStringList{u"c@z"_s, u"a@x"_s, u"b@y"_s}));
}

TEST(InputTextView, TheCharacterTableAppendsAndEscapeCancels)
{
    TQtViews views;
    WhenModal(u"InputTextDialog"_s, [](QWidget *D) {
        WhenModal(u"CharTableDialog"_s, [](QWidget *T) {
            EXPECT_EQ(T->windowTitle(), u"Character table"_s);
            auto *value = Child<QLineEdit>(T, "leValue");
            QTest::keyClicks(value, u"41"_s);
            auto *grid = Child<QTableWidget>(T, "CharGrid");
            EXPECT_EQ(grid->currentRow(), 5);
            EXPECT_EQ(grid->currentColumn(), 2);
            Child<QPushButton>(T, "OKBtn")->click();
        });
        Child<QPushButton>(D, "CharTabBtn")->click();
        auto *combo = Child<QComboBox>(D, "TextFeld");
        EXPECT_EQ(combo->currentText(), u"xA"_s);
        QTest::keyClick(combo, Qt::Key_Escape);
    });
    QString text = u"x"_s;
    EXPECT_FALSE(InputText(kDefaultPos, u"Title"_s, u"Text:"_s, true, text));
    EXPECT_EQ(text, u"x"_s);
}

TEST(CharTableView, ADoubleClickedCellIsTheChoice)
{
    TQtViews views;
    WhenModal(u"CharTableDialog"_s, [](QWidget *D) {
        auto *grid = Child<QTableWidget>(D, "CharGrid");
        EXPECT_EQ(grid->item(0, 16)->text(), u"0F"_s);
        EXPECT_EQ(grid->item(5, 2)->text(), u"A"_s);
        const QRect cell = grid->visualItemRect(grid->item(4, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    });
    EXPECT_EQ(SelectCharacter(kDefaultPos, QString()), QChar(u'0'));
}

TEST(EditStringView, EnterTakesTheEditedLine)
{
    TQtViews views;
    WhenModal(u"InputStringDialog"_s, [](QWidget *D) {
        auto *edit = Child<QLineEdit>(D, "TextFeld");
        EXPECT_EQ(edit->text(), u"*.txt"_s);
        EXPECT_GE(D->width(), TInputStringDialog::kDefWidth);
        edit->selectAll();
        QTest::keyClicks(edit, u"*.log"_s);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QString text = u"*.txt"_s;
    ASSERT_TRUE(EditString(kDefaultPos, u"Add item"_s, u"Masks"_s, text));
    EXPECT_EQ(text, u"*.log"_s);
}

TEST(TextEingabeView, TwoFieldsAndTheSwitchOrOneFieldAlone)
{
    TQtViews views;
    WhenModal(u"TextEingabeDialog"_s, [](QWidget *D) {
        EXPECT_TRUE(Child<QLineEdit>(D, "Textfeld2")->isVisible());
        auto *option = Child<QCheckBox>(D, "Switch");
        EXPECT_TRUE(option->isVisible());
        EXPECT_EQ(option->text(), u"Remember"_s);
        option->click();
        auto *second = Child<QLineEdit>(D, "Textfeld2");
        EXPECT_EQ(second->text(), u"pw"_s);
        second->selectAll();
        QTest::keyClicks(second, u"changed"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TTextEingabe dialog;
    QString a = u"user"_s;
    QString b = u"pw"_s;
    TSwitchMode mode = TSwitchMode::tsOff;
    ASSERT_TRUE(dialog.Execute(kDefaultPos, u"Logon"_s, u"User:"_s, u"Password:"_s, u"Remember"_s, a, b, mode));
    EXPECT_EQ(b, u"changed"_s);
    EXPECT_EQ(mode, TSwitchMode::tsOn);

    WhenModal(u"TextEingabeDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Drive identifier"_s);
        EXPECT_FALSE(Child<QLineEdit>(D, "Textfeld2")->isVisible());
        EXPECT_FALSE(Child<QCheckBox>(D, "Switch")->isVisible());
        QTest::keyClick(Child<QLineEdit>(D, "TextFeld1"), Qt::Key_Escape);
    });
    QString id = u"?:"_s;
    EXPECT_FALSE(EnterText(kDefaultPos, u"Drive identifier"_s, u"Use ? as placeholder"_s, id));
}

TEST(MemoView, CommaItemsShowAsLinesAndComeBackAsCommaText)
{
    TQtViews views;
    WhenModal(u"MemoDialog"_s, [](QWidget *D) {
        auto *memo = Child<QPlainTextEdit>(D, "Memo");
        EXPECT_EQ(memo->toPlainText(), u"first item\nsecond"_s);
        EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, u"third"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    QString text = u"\"first item\",second"_s;
    ASSERT_TRUE(EditCommaText(kDefaultPos, u"Task"_s, u"Description:"_s, text));
    EXPECT_EQ(text, u"\"first item\",second,third"_s);
}

TEST(PlaceHolderView, PreExecutionOpensOnItsSecondItem)
{
    TQtViews views;
    WhenModal(u"PlaceHolderDialog"_s, [](QWidget *D) {
        auto *pages = Child<QStackedWidget>(D, "PageControl");
        QWidget *group = Child<QGroupBox>(D, "PreExPlaceHolderRG");
        EXPECT_TRUE(pages->currentWidget()->isAncestorOf(group));
        EXPECT_TRUE(Radio(group, u"Filename of task"_s)->isChecked());
        // Centred on the screen.
        const QRect screen = D->screen()->availableGeometry();
        EXPECT_LE((D->frameGeometry().center() - screen.center()).manhattanLength(), 4);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    EXPECT_EQ(SelectPlaceholder(kDefaultPos, TPhType::ptPreEx, QString()), QString(ExecPlaceHolders[0]));
}

TEST(PlaceHolderView, OtherLeadsToTheTimePageWhereACycleIsTaken)
{
    TQtViews views;
    WhenModal(u"PlaceHolderDialog"_s, [](QWidget *D) {
        auto *pages = Child<QStackedWidget>(D, "PageControl");
        Radio(Child<QGroupBox>(D, "DaPlaceHolderRG"), u"Other"_s)->click();
        QGroupBox *time = Child<QGroupBox>(D, "TmPlaceHolderRG");
        EXPECT_TRUE(pages->currentWidget()->isAncestorOf(time));
        auto *cycle = Child<QWidget>(D, "CyclePanel");
        EXPECT_FALSE(cycle->isVisible());
        QRadioButton *weeks = Radio(time, u"Alternating weeks:"_s);
        weeks->click();
        EXPECT_TRUE(cycle->isVisible());
        EXPECT_GE(cycle->width(), Child<QLineEdit>(D, "reCycle")->width());
        EXPECT_LE(std::abs(cycle->geometry().center().y() - weeks->geometry().center().y()), 1);
        auto *edit = Child<QLineEdit>(D, "reCycle");
        EXPECT_EQ(edit->text(), u"2"_s);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, u"4"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    EXPECT_EQ(SelectPlaceholder(QPoint(50, 60), TPhType::ptTime, QString()), u"%w#4%"_s);
}

TEST(PlaceHolderView, ACycleOutOfRangeIsReportedOnceAndKeepsTheDialogOpen)
{
    TQtViews views;
    TBoxes boxes;
    WhenModal(u"PlaceHolderDialog"_s, [&boxes](QWidget *D) {
        Radio(Child<QGroupBox>(D, "DaPlaceHolderRG"), u"Other"_s)->click();
        Radio(Child<QGroupBox>(D, "TmPlaceHolderRG"), u"Alternating days:"_s)->click();
        auto *edit = Child<QLineEdit>(D, "reCycle");
        D->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(D));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, u"367"_s);
        auto *ok = Child<QPushButton>(D, "OKBtn");
        QTest::mouseClick(ok, Qt::LeftButton); // the focus leaves the edit, then OK
        // Waits without leaving the dialog open on a failure.
        QTest::qWaitFor([&boxes] { return !boxes.Texts.isEmpty(); });
        QTest::qWaitFor([edit] { return edit->hasFocus(); });
        QTest::qWait(10);
        EXPECT_EQ(boxes.Texts, QStringList{u"Range check error (2 .. 366)"_s});
        EXPECT_TRUE(D->isVisible());
        EXPECT_TRUE(edit->hasFocus());
        edit->selectAll();
        QTest::keyClicks(edit, u"366"_s);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(SelectPlaceholder(kDefaultPos, TPhType::ptTime, QString()), u"%d#366%"_s);
    EXPECT_EQ(boxes.Texts.size(), 1);
}
