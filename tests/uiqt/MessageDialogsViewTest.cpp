// Message boxes, the standard dialog and the text window on the offscreen
// platform: they open with their values, buttons and keys give their
// results, time-outs close them with theirs.
#include "ui/qt/MessageDialogs.h"

#include "ModalDriver.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vl;
using vl::test::WhenModal;

namespace {

const QString kBox = QStringLiteral("ShowMsgDialog");

QPushButton *ButtonNamed(QWidget *ADialog, const char *AName)
{
    return ADialog->findChild<QPushButton *>(QLatin1String(AName));
}

QPushButton *ButtonWithText(QWidget *ADialog, const QString &AText)
{
    for (QPushButton *button : ADialog->findChildren<QPushButton *>())
        if (button->text() == AText)
            return button;
    return nullptr;
}

} // namespace

TEST(MessageDialogsView, ConfirmBoxShowsItsButtonsAndYesAnswers)
{
    TQtMessageService service;
    WhenModal(kBox, [](QWidget *box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Confirm"));
        EXPECT_EQ(box->findChild<QLabel *>(QStringLiteral("stInfo"))->text(), QStringLiteral("Go on?\nReally?"));
        EXPECT_FALSE(ButtonNamed(box, "btLeft")->isVisible());
        EXPECT_EQ(ButtonNamed(box, "btCenter")->text(), QStringLiteral("&Yes"));
        EXPECT_EQ(ButtonNamed(box, "btClose")->text(), QStringLiteral("&No"));
        EXPECT_TRUE(ButtonNamed(box, "btClose")->isDefault());
        EXPECT_FALSE(ButtonNamed(box, "btCenter")->isDefault());
        ButtonNamed(box, "btCenter")->click();
    });
    EXPECT_EQ(service.ShowMessageForm(kDefaultPos, QStringLiteral("Go on?\r\nReally?"), 0,
                                      TMsgDialogType::mdtConfirm, TMsgDlgBtn::mbNo, TDefaultMonitor::dmActiveForm),
              mrYes);
}

TEST(MessageDialogsView, KeysGiveTheirResults)
{
    struct TCase {
        TMsgDialogType Kind;
        int Key;
        TModalResult Expected;
    };
    const TCase cases[] = {
        {TMsgDialogType::mdtConfirm, Qt::Key_Escape, mrNo},
        {TMsgDialogType::mdtConfirm, Qt::Key_F11, mrCancel},
        {TMsgDialogType::mdtConfirmYesNo, Qt::Key_Escape, mrCancel},
    };
    TQtMessageService service;
    for (const TCase &c : cases) {
        WhenModal(kBox, [&c](QWidget *box) { QTest::keyClick(box, Qt::Key(c.Key)); });
        EXPECT_EQ(service.ShowMessageForm(kDefaultPos, QStringLiteral("Sure?"), 0, c.Kind, TMsgDlgBtn::mbYes,
                                          TDefaultMonitor::dmActiveForm),
                  c.Expected)
            << int(c.Kind);
    }
}

TEST(MessageDialogsView, TimedErrorBoxClosesItselfWithCancel)
{
    TQtMessageService service;
    WhenModal(kBox, [](QWidget *box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Information"));
        EXPECT_EQ(ButtonNamed(box, "btClose")->text(), QStringLiteral("&Close"));
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(service.ShowMessageForm(kDefaultPos, QStringLiteral("failed"), 1, TMsgDialogType::mdtError,
                                      TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm),
              mrCancel);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_EQ(service.ShowMessageForm(kDefaultPos, QString(), 1, TMsgDialogType::mdtError, TMsgDlgBtn::mbYes,
                                      TDefaultMonitor::dmActiveForm),
              mrNone);
}

TEST(MessageDialogsView, StandardDialogAnswersWithTheClickedButton)
{
    TQtMessageService service;
    const TMsgDlgButtons buttons = MsgDlgButtons({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel});
    WhenModal(QStringLiteral("PositionedMessageDlg"), [](QWidget *box) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Replace file"));
        EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(ButtonWithText(box, QStringLiteral("&Yes"))->isDefault());
        ButtonWithText(box, QStringLiteral("&No"))->click();
    });
    EXPECT_EQ(service.PositionedMessageDlg(QStringLiteral("Replace file"), QStringLiteral("Replace it?"),
                                           TMsgDlgType::mtConfirmation, buttons, AutoDefaultButton(buttons),
                                           kDefaultPos, 0, TDefaultMonitor::dmActiveForm),
              mrNo);

    WhenModal(QStringLiteral("PositionedMessageDlg"), [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(service.PositionedMessageDlg(QString(), QStringLiteral("Replace it?"), TMsgDlgType::mtConfirmation,
                                           buttons, TMsgDlgBtn::mbYes, kDefaultPos, 0,
                                           TDefaultMonitor::dmActiveForm),
              mrCancel);
}

// A timed standard dialog lets other windows work and answers OK when
// nobody clicks; a click before the time runs out gives its own answer.
TEST(MessageDialogsView, TimedStandardDialogAnswersOkAfterItsTime)
{
    TQtMessageService service;
    const TMsgDlgButtons buttons = MsgDlgButtons({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(service.PositionedMessageDlg(QStringLiteral("Question"), QStringLiteral("Shut down?"),
                                           TMsgDlgType::mtConfirmation, buttons, TMsgDlgBtn::mbNo, QPoint(-1, 100),
                                           1, TDefaultMonitor::dmActiveForm),
              mrOk);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QTimer::singleShot(200, [] {
        QWidget *box = test::VisibleWindow(QStringLiteral("PositionedMessageDlg"));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->x(), 20); // moved into the work area, at the point's row
        EXPECT_EQ(box->y(), 100);
        ButtonWithText(box, QStringLiteral("&No"))->click();
    });
    EXPECT_EQ(service.PositionedMessageDlg(QStringLiteral("Question"), QStringLiteral("Shut down?"),
                                           TMsgDlgType::mtConfirmation, buttons, TMsgDlgBtn::mbNo, QPoint(-1, 100),
                                           5, TDefaultMonitor::dmActiveForm),
              mrNo);
}

TEST(MessageDialogsView, TextWindowModalOrTimed)
{
    TQtMessageService service;
    WhenModal(QStringLiteral("frmShow"), [](QWidget *window) {
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Output"));
        EXPECT_EQ(window->findChild<QPlainTextEdit *>(QStringLiteral("memShow"))->toPlainText(),
                  QStringLiteral("line 1\nline 2"));
        ButtonNamed(window, "btnOK")->click();
    });
    service.ShowTextWindow(QStringLiteral("Output"), QStringLiteral("line 1\r\nline 2"), 0);
    EXPECT_EQ(test::VisibleWindow(QStringLiteral("frmShow")), nullptr);

    bool seen = false;
    QTimer::singleShot(300, [&seen] {
        QWidget *window = test::VisibleWindow(QStringLiteral("frmShow"));
        seen = window != nullptr;
        if (window) {
            EXPECT_FALSE(window->findChild<QWidget *>(QStringLiteral("panButtons"))->isVisible());
        }
    });
    QElapsedTimer clock;
    clock.start();
    service.ShowTextWindow(QStringLiteral("Output"), QStringLiteral("text"), 1);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_TRUE(seen);
    EXPECT_EQ(test::VisibleWindow(QStringLiteral("frmShow")), nullptr);

    clock.restart();
    service.ShowTextWindow(QStringLiteral("Output"), QString(), 0);
    EXPECT_LT(clock.elapsed(), 500);
}

// A worker's question opens its box in the GUI thread, which goes on
// processing events, and the worker gets the answer.
TEST(MessageDialogsView, QuestionFromAWorkerThreadOpensInTheGuiThread)
{
    TQtMessageService service;
    QThread *boxThread = nullptr;
    WhenModal(kBox, [&boxThread](QWidget *box) {
        boxThread = box->thread();
        ButtonNamed(box, "btCenter")->click();
    });
    std::atomic<TModalResult> result{mrNone};
    std::thread worker([&] {
        result = service.ShowMessageForm(kDefaultPos, QStringLiteral("Go on?"), 0, TMsgDialogType::mdtConfirm,
                                         TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm);
    });
    QElapsedTimer clock;
    clock.start();
    while (result == mrNone && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    worker.join();
    EXPECT_EQ(result, mrYes);
    EXPECT_EQ(boxThread, QCoreApplication::instance()->thread());
}
