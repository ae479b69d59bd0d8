// The status window on the offscreen platform: it opens with its texts and
// bar, Cancel and Escape reach the logic, closing hides it.
#include "ui/qt/StatusView.h"

#include "ModalDriver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace vl;

TEST(StatusView, OpensWithItsValuesAndCancelReachesTheLogic)
{
    std::unique_ptr<IStatusWindow> window = CreateQtStatusWindow();
    window->ShowStatus(kDefaultPos, QStringLiteral("Checking"), QStringLiteral("first step"), true, -1);
    QWidget *view = test::VisibleWindow(QStringLiteral("StatusWindow"));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(window->Visible());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Checking"));
    EXPECT_EQ(view->findChild<QLabel *>(QStringLiteral("StatusLabel"))->text(), QStringLiteral("first step"));
    auto *bar = view->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    EXPECT_EQ(bar->maximum(), 100);
    window->SetProgress(150);
    EXPECT_EQ(bar->value(), 100);
    window->SetProgress(-5);
    EXPECT_EQ(bar->value(), 0);

    // A long path is fitted to the bar's width.
    const QString path = QStringLiteral("/srv/backups/") + QString(200, QLatin1Char('x')) + QStringLiteral("/end.zip");
    window->SetInfo(path);
    auto *info = view->findChild<QLabel *>(QStringLiteral("ProgLabel"));
    EXPECT_TRUE(info->text().contains(QStringLiteral("...")));
    EXPECT_LE(info->fontMetrics().horizontalAdvance(info->text()), bar->width());

    auto *cancel = view->findChild<QPushButton *>(QStringLiteral("btnCancel"));
    ASSERT_TRUE(cancel->isVisible());
    EXPECT_NEAR(cancel->x() + cancel->width() / 2.0, view->width() / 2.0, 1.0);
    cancel->click();
    EXPECT_TRUE(window->Stopped());
    EXPECT_TRUE(view->isVisible());

    window->Close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(window->Visible());
}

// A refresh keeps title and bar; without AllowBreak the button row is cut
// off and Escape does nothing.
TEST(StatusView, RefreshWithoutCancelShortensTheWindow)
{
    std::unique_ptr<IStatusWindow> window = CreateQtStatusWindow();
    window->ShowStatus(kDefaultPos, QStringLiteral("Scanning"), QStringLiteral("one"), true, 50);
    QWidget *view = test::VisibleWindow(QStringLiteral("StatusWindow"));
    ASSERT_NE(view, nullptr);
    auto *bar = view->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    EXPECT_EQ(bar->maximum(), 0); // a moving bar
    const int fullHeight = view->height();
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_TRUE(window->Stopped());

    window->ShowStatus(kDefaultPos, QString(), QStringLiteral("two"), false, -1);
    EXPECT_FALSE(window->Stopped());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Scanning"));
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_FALSE(view->findChild<QPushButton *>(QStringLiteral("btnCancel"))->isVisible());
    EXPECT_LT(view->height(), fullHeight);
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(window->Stopped());
    window->Close();
}
