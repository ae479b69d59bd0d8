// The time slot, external programs, logon and filter windows on the
// offscreen platform: they open with their values, and their buttons give
// the results of the logic.
#include "ui/qt/ValueDialogViews.h"

#include "ui/ExternalProgramsDialog.h"
#include "ui/FilterDialog.h"
#include "ui/LogonDialog.h"
#include "ui/TimeSlotDialog.h"

#include "common/MessageRecorder.h"
#include "common/TestUtils.h"
#include "core/Settings.h"
#include "ModalDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

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

// The Qt views for one test.
struct TQtViews {
    std::unique_ptr<IValueDialogViews> Views = CreateQtValueDialogViews();
    TQtViews() { SetValueDialogViews(Views.get()); }
    ~TQtViews() { SetValueDialogViews(nullptr); }
};

using TMessages = test::TMessageRecorder;

} // namespace

// ---- Time slot ---------------------------------------------------------------

TEST(TimeSlotDialogView, OpensWithTheSlotAndOkReturnsTheChangedOne)
{
    TQtViews views;
    WhenModal(u"TimeSlotDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Select time slot for backup"_s);
        EXPECT_TRUE(Child<QRadioButton>(D, "rbTmSpan")->isChecked());
        auto *from = Child<QDateTimeEdit>(D, "FromDate");
        auto *to = Child<QDateTimeEdit>(D, "ToDate");
        EXPECT_TRUE(from->isVisible());
        EXPECT_TRUE(to->isVisible());
        EXPECT_TRUE(Child<QLabel>(D, "lbFrom")->isVisible());
        EXPECT_FALSE(Child<QLineEdit>(D, "reDays")->isVisible());
        EXPECT_EQ(from->date(), QDate(2024, 5, 1));
        EXPECT_EQ(to->date(), QDate(2024, 6, 9));
        // An end before the start pulls the start back.
        to->setDate(QDate(2024, 4, 20));
        EXPECT_EQ(from->date(), QDate(2024, 4, 20));

        Child<QRadioButton>(D, "rbTmToday")->click();
        EXPECT_EQ(from->displayFormat(), PickerTimeFormat);
        EXPECT_FALSE(to->isVisible());
        from->setTime(QTime(14, 30));
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TTimePeriod slot{TTimeMode::tmSpan, TTimeRef::trCreate, 3, 0, EncodeDate(2024, 5, 1), EncodeDate(2024, 6, 9)};
    EXPECT_TRUE(SelectTimeSlot(slot));
    EXPECT_EQ(slot.Mode, TTimeMode::tmToday);
    EXPECT_EQ(slot.DayTime, 870 / 1440.0);
    EXPECT_EQ(slot.Dat1, EncodeDate(2024, 4, 20));
    EXPECT_EQ(slot.Dat2, EncodeDate(2024, 4, 20));
    EXPECT_EQ(slot.TmRef, TTimeRef::trCreate);
}

TEST(TimeSlotDialogView, DayCountShowsBesideItsButtonAndEscapeCancels)
{
    TQtViews views;
    WhenModal(u"TimeSlotDialog"_s, [](QWidget *D) {
        auto *days = Child<QLineEdit>(D, "reDays");
        EXPECT_TRUE(days->isVisible());
        EXPECT_EQ(days->text(), u"14"_s);
        const int radioTop = Child<QRadioButton>(D, "rbTmPrevDays")->mapTo(D, QPoint(0, 0)).y();
        const QRect row(days->mapTo(D, QPoint(0, 0)), days->size());
        EXPECT_LE(row.top(), radioTop + 20);
        EXPECT_GE(row.bottom(), radioTop);
        QTest::keyClick(D, Qt::Key_Escape);
    });
    TTimePeriod slot{TTimeMode::tmPrevDays, TTimeRef::trModify, 14, 0, 0, 0};
    EXPECT_FALSE(SelectTimeSlot(slot));
    EXPECT_EQ(slot.Mode, TTimeMode::tmOff);
    EXPECT_EQ(slot.Days, 14);
}

TEST(TimeSlotDialogView, TwelveHourTimeShowsItsDayHalf)
{
    TQtViews views;
    const QString saved = PickerTimeFormat;
    PickerTimeFormat = u"hh:mm tt"_s;
    WhenModal(u"TimeSlotDialog"_s, [](QWidget *D) {
        auto *from = Child<QDateTimeEdit>(D, "FromDate");
        EXPECT_EQ(from->text(), u"02:30 PM"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TTimePeriod slot{TTimeMode::tmToday, TTimeRef::trModify, 1, 870 / 1440.0, EncodeDate(2024, 5, 1), 0};
    EXPECT_TRUE(SelectTimeSlot(slot));
    PickerTimeFormat = saved;
    EXPECT_EQ(slot.DayTime, 870 / 1440.0);
}

// ---- External programs -------------------------------------------------------

TEST(AddProgramsDialogView, OpensWithBothProgramsAndOkReturnsThem)
{
    TQtViews views;
    WhenModal(u"AddProgramsDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"External programs"_s);
        auto *pre = Child<QGroupBox>(D, "gbPre");
        EXPECT_TRUE(pre->isChecked());
        EXPECT_EQ(Child<QLineEdit>(D, "edPreCommand")->text(), u"/opt/none/pre -x"_s);
        EXPECT_TRUE(Child<QRadioButton>(D, "rbPreWt")->isChecked());
        auto *timeout = Child<QLineEdit>(D, "rePreTm");
        EXPECT_EQ(timeout->text(), u"30"_s);
        EXPECT_TRUE(timeout->isEnabled());
        auto *post = Child<QGroupBox>(D, "gbPost");
        EXPECT_FALSE(post->isChecked());
        EXPECT_FALSE(Child<QLineEdit>(D, "edPostCommand")->isEnabled());
        EXPECT_TRUE(Child<QCheckBox>(D, "cbEncrypt")->isVisible());
        EXPECT_TRUE(Child<QCheckBox>(D, "cbEncrypt")->isChecked());

        Child<QRadioButton>(D, "rbPreWp")->click();
        EXPECT_FALSE(timeout->isEnabled());
        post->setFocus();
        QTest::keyClick(post, Qt::Key_Space);
        EXPECT_TRUE(post->isChecked());
        auto *postCommand = Child<QLineEdit>(D, "edPostCommand");
        EXPECT_TRUE(postCommand->isEnabled());
        QTest::keyClicks(postCommand, u"/opt/none/after"_s);
        Child<QCheckBox>(D, "cbError")->click();
        Child<QCheckBox>(D, "cbEncrypt")->click();
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TExternalProg pre{u"/opt/none/pre -x"_s, 2, 0x2000 + 30};
    TExternalProg post{QString(), 0, 0};
    int encrypt = 1;
    EXPECT_TRUE(EditExternalPrograms(u"/tmp"_s, pre, post, encrypt));
    EXPECT_EQ(pre, (TExternalProg{u"/opt/none/pre -x"_s, 2, 0x2000}));
    EXPECT_EQ(post, (TExternalProg{u"/opt/none/after"_s, 2, 0x2000}));
    EXPECT_EQ(encrypt, 0);
}

TEST(AddProgramsDialogView, CancelLeavesTheProgramsAndThePickerFillsTheCommand)
{
    const QString dir = vl::test::MakeTempDir(u"my tools"_s);
    const QString tool = dir + u"/run.sh"_s;
    vl::test::WriteBytes(tool, "#!/bin/sh\n");
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    TQtViews views;
    WhenModal(u"AddProgramsDialog"_s, [tool](QWidget *D) {
        EXPECT_FALSE(Child<QCheckBox>(D, "cbEncrypt")->isVisible());
        WhenModal(u"OpenDialog"_s, [tool](QWidget *Picker) {
            auto *picker = qobject_cast<QFileDialog *>(Picker);
            ASSERT_NE(picker, nullptr);
            EXPECT_EQ(picker->windowTitle(), u"Select program to be executed before backup"_s);
            EXPECT_EQ(picker->selectedNameFilter(), u"Programs (*)"_s);
            EXPECT_TRUE(picker->filter().testFlag(QDir::Executable));
            picker->selectFile(tool);
            static_cast<QDialog *>(picker)->accept();
        });
        Child<QToolButton>(D, "PreCommandBtn")->click();
        EXPECT_EQ(Child<QLineEdit>(D, "edPreCommand")->text(), u"\""_s + tool + u"\""_s);
        EXPECT_TRUE(Child<QCheckBox>(D, "cbPreConsole")->isChecked());
        Child<QPushButton>(D, "CancelBtn")->click();
    });
    TExternalProg pre{QString(), 1, 0x2000};
    TExternalProg post{QString(), 0, 0};
    TAddProgramsDialog dialog;
    EXPECT_FALSE(dialog.Execute(dir, pre, post));
    EXPECT_EQ(pre, (TExternalProg{QString(), 1, 0x2000}));
}

// ---- Logon -------------------------------------------------------------------

TEST(LogonDialogView, OpensWithTheNameFocusesThePasswordAndLogonReturnsBoth)
{
    TQtViews views;
    WhenModal(u"LogonDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Connect to server"_s);
        EXPECT_EQ(Child<QLabel>(D, "laHinweis")->text(), u"Account for the update"_s);
        EXPECT_EQ(Child<QComboBox>(D, "cbName")->currentText(), u"anna"_s);
        EXPECT_FALSE(Child<QPushButton>(D, "SkipBtn")->isVisible());
        auto *pwd = Child<QLineEdit>(D, "PwdEdit");
        EXPECT_EQ(D->focusWidget(), pwd);
        EXPECT_EQ(pwd->echoMode(), QLineEdit::Password);
        QTest::keyClicks(pwd, u"pa55"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    QString user = u"anna"_s;
    QString pwd;
    EXPECT_EQ(EnterLogonData(u"Connect to server"_s, u"Account for the update"_s, false, user, pwd), mrOk);
    EXPECT_EQ(user, u"anna"_s);
    EXPECT_EQ(pwd, u"pa55"_s);
}

TEST(LogonDialogView, EscapeIsSkipWhileSkipIsShownElseCancel)
{
    TQtViews views;
    for (bool skip : {true, false}) {
        WhenModal(u"LogonDialog"_s, [skip](QWidget *D) {
            EXPECT_EQ(Child<QPushButton>(D, "SkipBtn")->isVisible(), skip);
            auto *name = Child<QComboBox>(D, "cbName");
            EXPECT_TRUE(D->focusWidget() == name || D->focusWidget() == name->lineEdit());
            QTest::keyClick(D->focusWidget(), Qt::Key_Escape);
        });
        QString user;
        QString pwd = u"kept"_s;
        EXPECT_EQ(EnterLogonData(u"t"_s, u"h"_s, skip, user, pwd), skip ? mrIgnore : mrCancel);
        EXPECT_EQ(pwd, u"kept"_s);
    }
}

// ---- Filter ------------------------------------------------------------------

TEST(FilterDialogView, OpensWithTheFilterAndAndPutsAPlusInFront)
{
    TQtViews views;
    WhenModal(u"FilterDialog"_s, [](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Source filter"_s);
        EXPECT_EQ(Child<QGroupBox>(D, "gbFilter")->title(), u"Files"_s);
        EXPECT_TRUE(Child<QRadioButton>(D, "IncMaskBtn")->isChecked());
        auto *text = Child<QComboBox>(D, "cbFilter");
        EXPECT_EQ(text->currentText(), u"*.txt|*.doc"_s);
        EXPECT_TRUE(D->focusWidget() == text || D->focusWidget() == text->lineEdit());
        EXPECT_FALSE(Child<QCheckBox>(D, "RegExpCB")->isVisible());
        auto *eval = Child<QGroupBox>(D, "rgEval");
        QList<QRadioButton *> operations = eval->findChildren<QRadioButton *>();
        ASSERT_EQ(operations.size(), 2);
        operations[1]->click();
        EXPECT_EQ(text->currentText(), u"+*.txt|*.doc"_s);
        Child<QPushButton>(D, "OKBtn")->click();
    });
    TTextFilter filter(true, true);
    filter.SetFilter(u"*.txt|*.doc"_s);
    filter.SetMode(TFilterMode::fmInclude);
    EXPECT_TRUE(EditFilter(u"Source filter"_s, u"Files"_s, false, true, filter));
    EXPECT_EQ(filter.GetFilter(), u"+*.txt|*.doc"_s);
}

TEST(FilterDialogView, InvalidMaskKeepsTheWindowOpenAndCancelLeavesTheFilter)
{
    TQtViews views;
    TMessages messages;
    WhenModal(u"FilterDialog"_s, [&messages](QWidget *D) {
        Child<QRadioButton>(D, "ExcMaskBtn")->click();
        auto *text = Child<QComboBox>(D, "cbFilter");
        text->setEditText(u"[a"_s);
        Child<QPushButton>(D, "OKBtn")->click();
        EXPECT_TRUE(D->isVisible());
        EXPECT_EQ(messages.Texts, QStringList{u"Invalid filter mask!\r\nShould resemble * or [ab]*"_s});
        Child<QPushButton>(D, "CancelBtn")->click();
    });
    TTextFilter filter(true, true);
    filter.SetFilter(u"*.doc"_s);
    filter.SetMode(TFilterMode::fmInclude);
    EXPECT_FALSE(EditFilter(u"t"_s, u"d"_s, true, true, filter));
    EXPECT_EQ(filter.Mode(), TFilterMode::fmInclude);
    EXPECT_EQ(filter.GetFilter(), u"*.doc"_s);
}

TEST(ValueDialogViews, FilterPairsBecomeQtNameFilters)
{
    EXPECT_EQ(QtNameFilters(u"Programs|*|Scripts|*.sh;*.py|all|*"_s),
              (QStringList{u"Programs (*)"_s, u"Scripts (*.sh *.py)"_s, u"all (*)"_s}));
}
