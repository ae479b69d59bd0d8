// The text viewer's window: it shows the file and its state, its buttons
// and keys reach the logic, and printing produces pages.
#include "ui/qt/TextViewer.h"

#include "common/TestUtils.h"
#include "core/MessageService.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vl;
using vl::test::MakeTempDir;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

// The Qt viewer installed for one test; prints go to a PDF file.
struct TQtViewer {
    QString Pdf = MakeTempDir(QStringLiteral("pdf")) + QStringLiteral("/out.pdf");

    TQtViewer()
    {
        InstallQtTextViewer();
        SetTextViewerPdfOutput(Pdf);
    }
    ~TQtViewer()
    {
        RemoveQtTextViewer();
        SetTextViewerPdfOutput(QString());
    }

    static TTextViewerWindow *Window()
    {
        TShowTextDialog *dialog = ShowTextDialog();
        return dialog ? dynamic_cast<TTextViewerWindow *>(dialog->View()) : nullptr;
    }
};

// Answers Yes to every question.
class TYesMessages : public IMessageService {
public:
    TYesMessages() { SetMessageService(this); }
    ~TYesMessages() override { SetMessageService(nullptr); }
    TModalResult ShowMessageForm(QPoint, const QString &, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        return mrYes;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn,
                                      QPoint, int32_t, TDefaultMonitor) override
    {
        return mrYes;
    }
    void ShowTextWindow(const QString &, const QString &, int32_t) override {}
};

QString LogFile(int ALines)
{
    QByteArray data;
    for (int i = 1; i <= ALines; ++i) {
        data += "Velkor - run " + QByteArray::number(i) + "\n";
        data += "  *** error " + QByteArray::number(i) + "\n";
    }
    const QString path = MakeTempDir() + QStringLiteral("/run.log");
    WriteBytes(path, data);
    return path;
}

void ShowLog(const QString &AFile, int ALine, TShowDlgButtons AButtons, TShowDlgType AType = TShowDlgType::stShow)
{
    TPrinterSettings printer;
    printer.Init();
    ShowTextFileEx(QStringLiteral("Log"), AFile, QStringLiteral("Previous section"), QStringLiteral("Next section"),
                   QStringLiteral("Velkor -"), QStringLiteral("Previous error"), QStringLiteral("Next error"),
                   QStringLiteral("  *** "), QStringLiteral("Log files|*.log|all|*.*"), QPoint(-1, -1), ALine, AType,
                   AButtons, printer, 0);
}

int PdfPageCount(const QByteArray &APdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    return int(QString::fromLatin1(APdf).count(page));
}

} // namespace

TEST(TextViewerViewTest, ShowsTheFileAtItsLineWithTheChosenButtons)
{
    TQtViewer installed;
    const QString file = LogFile(5);
    ShowLog(file, 3, ShowDlgButtons({TShowDlgBtn::sbOpen, TShowDlgBtn::sbSearch, TShowDlgBtn::sbError}));
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    TShowTextDialog &logic = *ShowTextDialog();

    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Log [") + file + QStringLiteral("]"));
    EXPECT_EQ(window->Memo()->toPlainText(), QString::fromUtf8(ReadBytes(file)));
    EXPECT_EQ(window->Memo()->textCursor().blockNumber(), 2);
    EXPECT_EQ(window->StatusPanel(0)->text(), QStringLiteral(" Line: 3 of 11"));

    EXPECT_TRUE(window->Button(logic.OpenBtn)->isVisible());
    EXPECT_EQ(window->Button(logic.OpenBtn)->text(), QStringLiteral("&Open"));
    EXPECT_FALSE(window->Button(logic.FontBtn)->isVisible());
    EXPECT_FALSE(window->Button(logic.PrevSectBtn)->isVisible());
    EXPECT_EQ(window->Button(logic.SearchBtn)->x(), logic.SearchBtn.Left);
    EXPECT_EQ(window->Button(logic.NextErrBtn)->toolTip(), QStringLiteral("Next error"));
    EXPECT_TRUE(window->Button(logic.PrintBtn)->isHidden());
}

TEST(TextViewerViewTest, NavigationSearchAndSelectionReachTheLogic)
{
    TQtViewer installed;
    ShowLog(LogFile(3), 1, kAllShowDlgButtons);
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    TShowTextDialog &logic = *ShowTextDialog();
    QPlainTextEdit *memo = window->Memo();

    window->Button(logic.NextErrBtn)->click();
    EXPECT_EQ(memo->textCursor().selectedText(), QStringLiteral("  *** "));
    EXPECT_EQ(memo->textCursor().blockNumber(), 1);
    EXPECT_EQ(window->StatusPanel(0)->text(), QStringLiteral(" Line: 2 of 7"));
    window->Button(logic.PrevSectBtn)->click();
    window->Button(logic.PrevSectBtn)->click();
    EXPECT_EQ(window->StatusPanel(1)->text(), QStringLiteral("No further sections!"));
    EXPECT_EQ(memo->textCursor().position(), 0);

    window->Button(logic.SearchBtn)->click();
    ASSERT_TRUE(window->FindWindow()->isVisible());
    auto *edit = window->FindWindow()->findChild<QLineEdit *>();
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("error 2"));
    logic.FindDialog.Down.SetChecked(true);
    logic.FindDialog.FindBtn.UserClick();
    EXPECT_EQ(memo->textCursor().selectedText(), QStringLiteral("error 2"));
    EXPECT_EQ(window->StatusPanel(0)->text(), QStringLiteral(" Line: 4 of 7"));

    // A selection made in the widget is the logic's.
    QTextCursor cursor(memo->document()->findBlockByNumber(4));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
    EXPECT_EQ(logic.Memo.SelText(), QStringLiteral("Velkor - run 3"));
    EXPECT_EQ(window->StatusPanel(0)->text(), QStringLiteral(" Line: 5 of 7"));
}

TEST(TextViewerViewTest, DeleteKeyRemovesTheSelectionFromTheFile)
{
    TYesMessages yes;
    TQtViewer installed;
    const QString file = LogFile(1);
    ShowLog(file, 1, kAllShowDlgButtons);
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    QPlainTextEdit *memo = window->Memo();
    QTextCursor cursor(memo->document()->findBlockByNumber(1));
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
    QTest::keyClick(memo, Qt::Key_Delete);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Velkor - run 1\n"));
    EXPECT_EQ(ReadBytes(file), QByteArray("Velkor - run 1\n"));
}

TEST(TextViewerViewTest, CodePagePopupChoiceReloadsTheFile)
{
    TQtViewer installed;
    const QString file = MakeTempDir() + QStringLiteral("/cp.txt");
    WriteBytes(file, "\xE4\n");
    ShowLog(file, 1, kAllShowDlgButtons);
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    TShowTextDialog &logic = *ShowTextDialog();
    EXPECT_EQ(window->Memo()->toPlainText(), QString::fromUtf8("\xC3\xA4\n"));

    int cyrillic = -1;
    for (qsizetype i = 0; i < logic.CodePageList().size(); ++i)
        if (logic.CodePageList().at(i).CodePage == 1251)
            cyrillic = int(i);
    ASSERT_GE(cyrillic, 0);
    bool popupSeen = false;
    QTimer::singleShot(0, [&] {
        QWidget *popup = QApplication::activePopupWidget();
        auto *list = popup ? popup->findChild<QListWidget *>() : nullptr;
        if (!list) {
            if (popup)
                popup->close();
            return;
        }
        popupSeen = list->currentRow() == 0 && list->count() == logic.CodePageList().size();
        list->setCurrentRow(cyrillic);
        Q_EMIT list->itemActivated(list->currentItem());
    });
    window->Button(logic.EncBtn)->click();
    EXPECT_TRUE(popupSeen);
    EXPECT_EQ(logic.CodePage(), 1251);
    EXPECT_EQ(window->Memo()->toPlainText(), QString::fromUtf8("\xD0\xB4\n"));
}

TEST(TextViewerViewTest, ModalViewerClosesByItsButtonAndIsFreed)
{
    TQtViewer installed;
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        TTextViewerWindow *window = TQtViewer::Window();
        if (!window)
            return;
        wasModal = QApplication::activeModalWidget() == window;
        window->Button(ShowTextDialog()->EndeBtn)->click();
    });
    ShowLog(LogFile(1), 1, kAllShowDlgButtons, TShowDlgType::stModal);
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(ShowTextDialog(), nullptr);
}

// 10 pt lines take 3.8 mm: 100 lines are more than one A4 page holds and
// less than two.
TEST(TextViewerViewTest, PrintTextFileWritesThePages)
{
    TQtViewer installed;
    TPrinterSettings printer;
    printer.Init();
    for (const auto &[lines, pages] : {std::pair{1, 1}, std::pair{50, 2}}) {
        SCOPED_TRACE(lines);
        QFile::remove(installed.Pdf);
        PrintTextFile(LogFile(lines), printer, 0);
        const QByteArray pdf = ReadBytes(installed.Pdf);
        ASSERT_TRUE(pdf.startsWith("%PDF"));
        EXPECT_EQ(PdfPageCount(pdf), pages);
        EXPECT_EQ(ShowTextDialog(), nullptr);
    }
}

TEST(TextViewerViewTest, PrintButtonPrintsTheShownFile)
{
    TQtViewer installed;
    ShowLog(LogFile(2), 1, kAllShowDlgButtons);
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    QAbstractButton *print = window->Button(ShowTextDialog()->PrintBtn);
    ASSERT_TRUE(print->isEnabled());
    print->click();
    const QByteArray pdf = ReadBytes(installed.Pdf);
    ASSERT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_EQ(PdfPageCount(pdf), 1);
    EXPECT_TRUE(window->isVisible());
}

// Without an installed printer the print button stays usable: the print
// dialog writes a PDF file. An unattended print has nowhere to go.
TEST(TextViewerViewTest, WithoutPrinterThePdfFileStandsIn)
{
    if (!QPrinterInfo::availablePrinterNames().isEmpty())
        GTEST_SKIP() << "printers are installed here";
    TQtViewer installed;
    SetTextViewerPdfOutput(QString());
    ShowLog(LogFile(1), 1, kAllShowDlgButtons);
    TTextViewerWindow *window = TQtViewer::Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ShowTextDialog()->PrinterSettings.PrtName, QStringLiteral("PDF"));
    EXPECT_TRUE(window->Button(ShowTextDialog()->PrintBtn)->isEnabled());
    FreeTextViewer();

    QStringList log;
    SetServiceLogSink([&](const QString &ALine) { log.append(ALine); });
    TPrinterSettings printer;
    printer.Init();
    const QString file = LogFile(1);
    PrintTextFile(file, printer, 0);
    SetServiceLogSink({});
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().contains(file));
}
