#include "ui/Placement.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

// Readable failures for points and sizes.
static void PrintTo(const QPoint &p, std::ostream *os)
{
    *os << "(" << p.x() << ", " << p.y() << ")";
}

static void PrintTo(const QSize &s, std::ostream *os)
{
    *os << s.width() << " x " << s.height();
}

using namespace vl;

namespace {

const QRect FullHd(0, 0, 1920, 1040);

// Every character is 10 px wide, so widths can be read off the texts.
int TenPerChar(const QString &Text)
{
    return 10 * int(Text.size());
}

QPoint Kept(const TMonitorList &Monitors, QRect Window)
{
    int left = Window.x();
    int top = Window.y();
    KeepInWorkArea(Monitors, left, top, Window.width(), Window.height());
    return {left, top};
}

} // namespace

// Right, left, bottom and top edges in this order, with 20/30 px margins
// scaled to the monitor the window's top-left is nearest to.
TEST(PlacementTest, KeepInWorkAreaMovesWindowInsideNearestMonitor)
{
    const TMonitorList one96 = {{FullHd, 96}};
    const TMonitorList one144 = {{FullHd, 144}};
    // A second monitor to the right, 1280 x 1024.
    const TMonitorList two = {{FullHd, 96}, {QRect(1920, 0, 1280, 1024), 96}};
    struct TCase {
        const char *Name;
        const TMonitorList &Monitors;
        QRect Window;
        QPoint Expected;
    };
    const TCase cases[] = {
        {"inside", one96, {100, 100, 400, 300}, {100, 100}},
        {"full work area fits", one96, {0, 0, 1920, 1040}, {0, 0}},
        {"past right and bottom", one96, {1700, 900, 400, 300}, {1500, 710}},
        {"past right and bottom at 144 dpi", one144, {1700, 900, 400, 300}, {1490, 695}},
        {"left of the area", one96, {-50, 100, 400, 300}, {20, 100}},
        {"above the area", one96, {100, -10, 400, 300}, {100, 20}},
        {"wider and taller than the area", one96, {100, 100, 2000, 1100}, {20, 20}},
        {"on the second monitor", two, {3000, 500, 400, 300}, {2780, 500}},
        {"off screen, nearest is the second", two, {3300, 1100, 400, 300}, {2780, 694}},
        {"no monitors", {}, {5000, 5000, 400, 300}, {5000, 5000}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Kept(c.Monitors, c.Window), c.Expected);
        EXPECT_EQ(KeepFormInWorkArea(c.Monitors, c.Window), c.Expected);
    }
}

TEST(PlacementTest, MonitorNearestPoint)
{
    const TMonitorList two = {{FullHd, 96}, {QRect(1920, 0, 1280, 1024), 96}};
    EXPECT_EQ(MonitorNearestPoint(two, {1919, 500}), 0);
    EXPECT_EQ(MonitorNearestPoint(two, {1920, 500}), 1);
    EXPECT_EQ(MonitorNearestPoint(two, {-500, 2000}), 0);
    EXPECT_EQ(MonitorNearestPoint(two, {5000, -5}), 1);
    EXPECT_EQ(MonitorNearestPoint({}, {0, 0}), -1);
}

// A negative coordinate means no position: the form centres itself.
TEST(PlacementTest, PlaceFormAt)
{
    const TMonitorList monitors = {{FullHd, 96}};
    const QSize form(200, 100);
    struct TCase {
        QPoint Pos;
        bool Above;
        std::optional<QPoint> Expected;
    };
    const TCase cases[] = {
        {{-1, 300}, false, std::nullopt},
        {{300, -1}, true, std::nullopt},
        {{0, 0}, false, QPoint(0, 0)},
        {{500, 500}, false, QPoint(500, 500)},
        {{500, 500}, true, QPoint(500, 400)},
        {{500, 50}, true, QPoint(500, 20)},
        {{1900, 1030}, false, QPoint(1700, 910)},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Pos.x() << "," << c.Pos.y() << " above " << c.Above);
        EXPECT_EQ(PlaceFormAt(monitors, form, c.Pos, c.Above), c.Expected);
    }
}

// Integer multiply-divide rounds halves away from zero.
TEST(PlacementTest, ScaleToFormDpi)
{
    struct TCase {
        int Value, Dpi, Expected;
    };
    const TCase cases[] = {
        {20, 96, 20}, {20, 120, 25}, {10, 120, 13}, {-10, 120, -13},
        {13, 120, 16}, {30, 144, 45}, {7, 72, 5},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Value << " at " << c.Dpi);
        EXPECT_EQ(ScaleToFormDpi(c.Value, c.Dpi), c.Expected);
        EXPECT_EQ(ScaleToMonitorDpi(c.Value, TMonitorArea{FullHd, c.Dpi}), c.Expected);
    }
    EXPECT_EQ(ScaleToFormDpi(37), 37);
    EXPECT_EQ(ScalePointToFormDpi(10, 20, 120), QPoint(13, 25));
    EXPECT_EQ(ScalePointToFormDpi(QPoint(10, 20), 120), QPoint(13, 25));
    EXPECT_EQ(MulDiv(5, 3, 0), -1);
    EXPECT_EQ(MulDiv(2000000000, 2, 1), -1);
    EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
}

// Images follow from 120 % on; combo item heights follow every change.
TEST(PlacementTest, RescaleThreshold)
{
    struct TCase {
        int From, To;
        QSize Image;
        int ItemHeight;
    };
    const TCase cases[] = {
        {96, 96, {16, 16}, 16},
        {96, 110, {16, 16}, 18},
        {96, 115, {16, 16}, 19},
        {96, 116, {19, 19}, 19},
        {96, 120, {20, 20}, 20},
        {96, 144, {24, 24}, 24},
        {144, 96, {16, 16}, 11},
        {0, 144, {16, 16}, 16},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.From << " -> " << c.To);
        EXPECT_EQ(RescaledImageSize(QSize(16, 16), c.From, c.To), c.Image);
        EXPECT_EQ(IsRescaleNeeded(c.From, c.To), c.Image != QSize(16, 16));
        EXPECT_EQ(RescaledItemHeight(16, c.From, c.To), c.ItemHeight);
    }
}

// Right and bottom corners lie just outside the control; a control
// without parent keeps its own position.
TEST(PlacementTest, ControlCorners)
{
    const QRect bounds(10, 20, 30, 40);
    const TControlGeometry child{bounds, QPoint(100, 200)};
    const TControlGeometry top{bounds, std::nullopt};
    EXPECT_EQ(ControlTopLeft(child), QPoint(110, 220));
    EXPECT_EQ(ControlBottomLeft(child), QPoint(110, 260));
    EXPECT_EQ(ControlTopRight(child), QPoint(140, 220));
    EXPECT_EQ(ControlBottomRight(child), QPoint(140, 260));
    EXPECT_EQ(ControlTopLeft(top), QPoint(10, 20));
    EXPECT_EQ(ControlBottomRight(top), QPoint(40, 60));

    const QPoint offset(3, -4);
    EXPECT_EQ(ControlTopLeftOffset(child, offset), QPoint(113, 216));
    EXPECT_EQ(ControlBottomLeftOffset(child, offset), QPoint(113, 256));
    EXPECT_EQ(ControlBottomLeftOffsetXY(child, 3, -4), QPoint(113, 256));
    EXPECT_EQ(ControlTopRightOffset(child, offset), QPoint(143, 216));
    EXPECT_EQ(ControlTopRightOffsetXY(child, 3, -4), QPoint(143, 216));
    EXPECT_EQ(ControlBottomRightOffset(top, offset), QPoint(43, 56));
}

TEST(PlacementTest, CountTextLines)
{
    struct TCase {
        const char *Text;
        int Lines;
    };
    const TCase cases[] = {
        {"", 1}, {"a", 1}, {"a\r\nb", 2}, {"a\r\n", 2}, {"a\nb\rc", 1}, {"\r\n\r\n", 3},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(CountTextLines(QString::fromLatin1(c.Text)), c.Lines);
    }
}

TEST(PlacementTest, TextWidthsAndSize)
{
    const QString text = QStringLiteral("ab\r\nabcde\r\nabc");
    EXPECT_EQ(MultiLineTextWidth(text, TenPerChar), 50);
    EXPECT_EQ(MultiLineTextSize(text, TenPerChar, 13), QSize(50, 39));
    EXPECT_EQ(MultiLineTextSize(QString(), TenPerChar, 13), QSize(0, 13));
    EXPECT_EQ(StringsMaxTextWidth({QStringLiteral("abc"), QStringLiteral("a"), QStringLiteral("abcd")},
                                  TenPerChar),
              40);
    EXPECT_EQ(StringsMaxTextWidth({}, TenPerChar), 0);
}

TEST(PlacementTest, ShortenTextToWidth)
{
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");  // two UTF-16 units
    struct TCase {
        QString Text;
        int MaxWidth;
        QString Expected;
    };
    const TCase cases[] = {
        {QStringLiteral("abc"), 0, QStringLiteral("abc")},
        {QStringLiteral("abc"), 1000, QStringLiteral("abc")},
        {QStringLiteral("abcdefgh"), 50, QStringLiteral("abc...")},
        {QStringLiteral("abcdefgh"), 60, QStringLiteral("abc...")},
        {QStringLiteral("abcdefgh"), 61, QStringLiteral("abc...")},
        {QStringLiteral("abcdefgh"), 79, QStringLiteral("abcd...")},
        {QStringLiteral("abcdefgh"), 80, QStringLiteral("abcdefgh")},
        // A short text that would fit still gets "..." when "abc..." does not.
        {QStringLiteral("abcd"), 45, QStringLiteral("abc...")},
        {QStringLiteral("abcd"), 65, QStringLiteral("abcd")},
        // A cut never splits a surrogate pair.
        {QStringLiteral("abcd") + face + QStringLiteral("efgh"), 85, QStringLiteral("abcd...")},
        {QStringLiteral("abcd") + face + QStringLiteral("efgh"), 90, QStringLiteral("abcd") + face + QStringLiteral("...")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Text.toStdString() << " in " << c.MaxWidth);
        EXPECT_EQ(ShortenTextToWidth(c.Text, c.MaxWidth, TenPerChar), c.Expected);
    }
}

// Only masks count, never the descriptions; no match gives the last pair.
TEST(PlacementTest, FilterIndexOfMask)
{
    const QString filter = QStringLiteral("Text files|*.txt|Log files|*.log|All files|*.*");
    struct TCase {
        const char *Text;
        int Index;
    };
    const TCase cases[] = {
        {"txt", 1}, {"LOG", 2}, {"zip", 3}, {"files", 3}, {"*.", 1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(FilterIndexOfMask(filter, QString::fromLatin1(c.Text)), c.Index);
    }
    EXPECT_EQ(FilterIndexOfMask(QString(), QStringLiteral("txt")), 0);
}
