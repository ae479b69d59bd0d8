// Placement of real windows on the offscreen screen.
#include "ui/qt/QtPlacement.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

using namespace vl;

TEST(QtPlacementTest, FormsOpenAtThePointInsideTheWorkAreaOrCentred)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget form;
    form.setFixedSize(400, 300);

    PlaceFormAt(&form, area.topLeft() + QPoint(100, 100));
    EXPECT_EQ(form.pos(), area.topLeft() + QPoint(100, 100));

    // Near the bottom-right corner the form is pulled back inside.
    PlaceFormAt(&form, area.bottomRight() - QPoint(10, 10));
    EXPECT_TRUE(area.contains(form.frameGeometry())) << form.frameGeometry().x() << "," << form.frameGeometry().y();

    // Above: the form's bottom sits at the point.
    PlaceFormAt(&form, area.topLeft() + QPoint(100, 500), true);
    EXPECT_EQ(form.frameGeometry().bottom() + 1, area.top() + 500);

    // A negative coordinate: centred, the other coordinate ignored.
    PlaceFormAt(&form, QPoint(-1, 300));
    EXPECT_LE(std::abs(form.frameGeometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(form.frameGeometry().center().y() - area.center().y()), 1);
}

TEST(QtPlacementTest, TextFittingInAFont)
{
    const QFont font = QApplication::font();
    const QString text = QStringLiteral("/home/user/Documents/a rather long folder name");
    EXPECT_EQ(ShortenTextToWidth(QStringLiteral("abc"), 1, font), QStringLiteral("abc"));
    const int width = FontTextWidth(text, font);
    EXPECT_EQ(ShortenTextToWidth(text, width, font), text);
    const QString shortened = ShortenTextToWidth(text, width / 2, font);
    EXPECT_TRUE(shortened.endsWith(QStringLiteral("...")));
    EXPECT_LE(FontTextWidth(shortened, font), width / 2);
    EXPECT_EQ(MultiLineFontTextWidth(QStringLiteral("a\r\n") + text, font), width);
    EXPECT_EQ(MultiLineTextSize(QStringLiteral("a\r\nb\r\nc"), font).height() % 3, 0);
}

TEST(QtPlacementTest, FormFunctions)
{
    QWidget form;
    auto *button = new QPushButton(&form);
    button->setGeometry(10, 20, 100, 30);
    FitClientToButton(&form, button, 8);
    EXPECT_EQ(form.size(), QSize(118, 58));
    FitClientWidthToButton(&form, button, 2);
    EXPECT_EQ(form.size(), QSize(112, 58));

    auto *label = new QLabel(&form);
    auto *readOnly = new QLineEdit(&form);
    readOnly->setReadOnly(true);
    auto *editable = new QLineEdit(&form);
    SetReadOnlyTabStops(&form, true);
    EXPECT_TRUE(label->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(readOnly->focusPolicy() & Qt::TabFocus);
    SetReadOnlyTabStops(&form, false);
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(readOnly->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(editable->focusPolicy(), Qt::StrongFocus);

    const TControlGeometry g = WidgetGeometry(button);
    EXPECT_EQ(ControlBottomRight(g), form.mapToGlobal(QPoint(110, 50)));
}
