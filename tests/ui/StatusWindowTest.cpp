#include "ui/StatusWindow.h"

#include <gtest/gtest.h>

#include <memory>

using namespace vl;

namespace {

// Every character is 10 px wide, so widths can be read off the texts.
int TenPerChar(const QString &Text)
{
    return 10 * int(Text.size());
}

// Records what the window asks of its view; lines are 100 px wide.
struct TFakeView : IStatusView {
    int Shown = 0;
    int Repainted = 0;
    int Hidden = 0;
    QPoint ShownAt{-2, -2};

    void ShowAt(QPoint APos) override
    {
        ++Shown;
        ShownAt = APos;
    }
    void Repaint() override { ++Repainted; }
    void Hide() override { ++Hidden; }
    int TextAreaWidth() const override { return 100; }
    int TextWidth(const QString &AText) const override { return TenPerChar(AText); }
};

struct TWindowWithView {
    TStatusWindow Window;
    TFakeView *View;

    TWindowWithView()
    {
        auto view = std::make_unique<TFakeView>();
        View = view.get();
        Window.SetView(std::move(view));
    }
};

} // namespace

TEST(StatusWindowTest, MinimizePathDropsFoldersThenCutsTheMiddle)
{
    const QString path = QStringLiteral("/home/user/a/b/file.txt"); // 230 px
    struct TCase {
        QString Text;
        int MaxWidth;
        QString Expected;
    };
    const TCase cases[] = {
        {path, 230, path},
        {path, 220, QStringLiteral("/home/.../a/b/file.txt")},
        {path, 200, QStringLiteral("/home/.../b/file.txt")},
        {path, 199, QStringLiteral("/home/.../file.txt")},
        {path, 150, QStringLiteral(".../file.txt")},
        {path, 100, QStringLiteral("/hom...txt")},
        {QStringLiteral("//server/share/dir/name"), 200, QStringLiteral("//server/.../name")},
        {QStringLiteral("no folders here"), 90, QStringLiteral("no ...ere")},
        {QStringLiteral("abcdefghij"), 20, QStringLiteral("...")},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(MinimizePath(c.Text, c.MaxWidth, TenPerChar), c.Expected) << c.Text.toStdString() << " in "
                                                                            << c.MaxWidth;
}

// The bar is set up only when the window opens, by the sign of AInterval;
// a percent bar shows even after an opening without a bar hid it.
TEST(StatusWindowTest, OpeningSetsUpTheBarByInterval)
{
    using S = TNewProgressBarStyle;
    struct TCase {
        int32_t Interval;
        bool WasVisible;
        S Style;
        bool Visible;
        int Step;
    };
    const TCase cases[] = {
        {250, false, S::npsContinuous, true, 250},
        {-1, true, S::npsNormal, true, 10},
        {-1, false, S::npsNormal, true, 10},
        {0, true, S::npsNormal, false, 10},
    };
    for (const TCase &c : cases) {
        TStatusWindow window;
        window.ProgressBar.SetVisible(c.WasVisible);
        window.ProgressBar.SetPosition(40);
        window.ShowStatus(kDefaultPos, QStringLiteral("T"), QStringLiteral("S"), false, c.Interval);
        EXPECT_EQ(window.ProgressBar.Style(), c.Style) << c.Interval;
        EXPECT_EQ(window.ProgressBar.Visible(), c.Visible) << c.Interval;
        EXPECT_EQ(window.ProgressBar.StepInterval(), c.Step) << c.Interval;
        if (c.Interval < 0) {
            EXPECT_EQ(window.ProgressBar.Position(), 0);
        }
        EXPECT_TRUE(window.Visible());
    }
}

TEST(StatusWindowTest, RefreshKeepsBarAndTitleUnlessGiven)
{
    TWindowWithView w;
    TStatusWindow &window = w.Window;
    window.ShowStatus(QPoint(10, 20), QStringLiteral("Copying"), QStringLiteral("first"), true, -1);
    EXPECT_EQ(w.View->Shown, 1);
    EXPECT_EQ(w.View->ShownAt, QPoint(10, 20));
    window.SetInfo(QStringLiteral("info"));
    window.SetProgress(30);

    window.ShowStatus(kDefaultPos, QString(), QStringLiteral("second"), true, 100);
    EXPECT_EQ(window.Form.Caption(), QStringLiteral("Copying"));
    EXPECT_EQ(window.StatusLabel.Caption(), QStringLiteral("second"));
    EXPECT_EQ(window.ProgLabel.Caption(), QString());
    EXPECT_EQ(window.ProgressBar.Style(), TNewProgressBarStyle::npsNormal);
    EXPECT_EQ(window.ProgressBar.Position(), 30);
    EXPECT_EQ(w.View->Shown, 1);
    EXPECT_EQ(w.View->Repainted, 1);

    window.ShowStatus(kDefaultPos, QStringLiteral("Checking"), QStringLiteral("third"), true, 0);
    EXPECT_EQ(window.Form.Caption(), QStringLiteral("Checking"));
    EXPECT_TRUE(window.ProgressBar.Visible());

    // A hidden window takes even an empty title.
    window.Close();
    EXPECT_EQ(w.View->Hidden, 1);
    EXPECT_FALSE(window.Visible());
    window.ShowStatus(kDefaultPos, QString(), QStringLiteral("fourth"), true, 0);
    EXPECT_EQ(window.Form.Caption(), QString());
    EXPECT_FALSE(window.ProgressBar.Visible());
    EXPECT_EQ(w.View->Shown, 2);

    // The next percent bar shows again.
    window.Close();
    window.ShowStatus(kDefaultPos, QString(), QStringLiteral("fifth"), true, -1);
    EXPECT_TRUE(window.ProgressBar.Visible());
}

TEST(StatusWindowTest, ProgressIsClampedToTheBar)
{
    TStatusWindow window;
    window.ShowStatus(kDefaultPos, QString(), QString(), false, -1);
    const std::pair<int, int> cases[] = {{150, 100}, {-5, 0}, {42, 42}, {100, 100}};
    for (const auto &[value, shown] : cases) {
        window.SetProgress(value);
        EXPECT_EQ(window.ProgressBar.Position(), shown) << value;
    }
}

// Status and information lines are fitted to the bar's width; the text of
// ShowStatus is taken as it is.
TEST(StatusWindowTest, LinesAreShortenedAsPathsToTheBarWidth)
{
    TWindowWithView w;
    const QString path = QStringLiteral("/data/backups/monday/archive.zip"); // 320 px
    w.Window.ShowStatus(kDefaultPos, QString(), path, true, 0);
    EXPECT_EQ(w.Window.StatusLabel.Caption(), path);
    w.Window.SetStatus(path);
    EXPECT_EQ(w.Window.StatusLabel.Caption(), QStringLiteral("/dat...zip"));
    w.Window.SetInfo(QStringLiteral("/a/b.txt"));
    EXPECT_EQ(w.Window.ProgLabel.Caption(), QStringLiteral("/a/b.txt"));
    w.Window.SetInfo(QStringLiteral("/d/abcdef/y"));
    EXPECT_EQ(w.Window.ProgLabel.Caption(), QStringLiteral("/d/.../y"));
    w.Window.SetInfo(QStringLiteral("/data/xyz/y.txt"));
    EXPECT_EQ(w.Window.ProgLabel.Caption(), QStringLiteral(".../y.txt"));
}

// Cancel only notes the wish; without AllowBreak there is no button, and
// Escape does nothing.
TEST(StatusWindowTest, CancelSetsStoppedUntilTheNextShowStatus)
{
    TStatusWindow window;
    window.ShowStatus(kDefaultPos, QString(), QString(), true, 0);
    EXPECT_TRUE(window.btnCancel.Visible());
    EXPECT_FALSE(window.Stopped());
    EXPECT_TRUE(window.KeyEscape());
    EXPECT_TRUE(window.Stopped());
    EXPECT_TRUE(window.Visible());

    window.ShowStatus(kDefaultPos, QString(), QString(), false, 0);
    EXPECT_FALSE(window.Stopped());
    EXPECT_FALSE(window.btnCancel.Visible());
    EXPECT_FALSE(window.KeyEscape());
    EXPECT_FALSE(window.btnCancel.UserClick());
    EXPECT_FALSE(window.Stopped());

    window.ShowStatus(kDefaultPos, QString(), QString(), true, 0);
    EXPECT_TRUE(window.btnCancel.UserClick());
    EXPECT_TRUE(window.Stopped());
}
