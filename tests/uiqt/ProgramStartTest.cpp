// Program start: the display probe picks Qt windows or the headless
// services, and a headless run shows its progress only on a terminal.
#include "ui/qt/QtMainWindowServices.h"
#include "ui/qt/QtStyles.h"

#include <QApplication>
#include <QDBusArgument>
#include <QStyle>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace vl;

namespace {

struct TRunResult {
    std::string Out;
    std::string Err;
    int Status = -1;
};

std::string ReadAll(int fd)
{
    std::string out;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0) {
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
    }
    return out;
}

// Runs the scripted program with stderr on a pseudo-terminal or a pipe and
// the display variables given (nullptr: unset).
TRunResult RunScript(bool ATerminal, const char *AQpa, const char *ADisplay)
{
    int outPipe[2], errPipe[2] = {-1, -1};
    int master = -1, slave = -1;
    if (pipe(outPipe) != 0)
        return {};
    if (ATerminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return {};
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    } else if (pipe(errPipe) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(ATerminal ? slave : errPipe[1], 2);
        unsetenv("WAYLAND_DISPLAY");
        ADisplay ? setenv("DISPLAY", ADisplay, 1) : unsetenv("DISPLAY");
        AQpa ? setenv("QT_QPA_PLATFORM", AQpa, 1) : unsetenv("QT_QPA_PLATFORM");
        execl(VL_PROGRESS_SCRIPT, VL_PROGRESS_SCRIPT, static_cast<char *>(nullptr));
        _exit(127);
    }
    close(outPipe[1]);
    if (ATerminal)
        close(slave);
    else
        close(errPipe[1]);
    TRunResult result;
    result.Out = ReadAll(outPipe[0]);
    result.Err = ReadAll(ATerminal ? master : errPipe[0]);
    waitpid(pid, &result.Status, 0);
    close(outPipe[0]);
    close(ATerminal ? master : errPipe[0]);
    return result;
}

} // namespace

TEST(ProgramStartTest, WithoutADisplayTheRunIsHeadlessAndShowsProgressOnlyOnATerminal)
{
    // A stale DISPLAY that nobody answers counts as none.
    const TRunResult onTerminal = RunScript(true, nullptr, ":97");
    ASSERT_TRUE(WIFEXITED(onTerminal.Status) && WEXITSTATUS(onTerminal.Status) == 0) << onTerminal.Err;
    EXPECT_EQ(onTerminal.Out, "headless\n");
    EXPECT_NE(onTerminal.Err.find("Scripted => /backup"), std::string::npos) << onTerminal.Err;
    EXPECT_NE(onTerminal.Err.find(" 50% /home/user/file50"), std::string::npos) << onTerminal.Err;
    EXPECT_NE(onTerminal.Err.find(" 99% /home/user/file100"), std::string::npos) << onTerminal.Err;

    const TRunResult onPipe = RunScript(false, nullptr, nullptr);
    ASSERT_TRUE(WIFEXITED(onPipe.Status) && WEXITSTATUS(onPipe.Status) == 0) << onPipe.Err;
    EXPECT_EQ(onPipe.Out, "headless\n");
    EXPECT_EQ(onPipe.Err, "");
}

TEST(ProgramStartTest, AnAnsweringPlatformGetsTheWindows)
{
    const TRunResult run = RunScript(false, "offscreen", nullptr);
    ASSERT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Err;
    EXPECT_EQ(run.Out, "gui\n");
}

TEST(QtStylesTest, DarkAndBackToTheStartLook)
{
    const QString startStyle = QApplication::style()->name();
    const QColor startWindow = QApplication::palette().color(QPalette::Window);
    TQtStyleManager manager;
    QString error;
    ASSERT_TRUE(manager.TrySetStyle(kDarkStyleName, error)) << error.toStdString();
    EXPECT_EQ(manager.ActiveStyleName(), kDarkStyleName);
    EXPECT_EQ(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(53, 53, 53));
    EXPECT_EQ(QApplication::palette().color(QPalette::Disabled, QPalette::Text),
              MakeDarkPalette().color(QPalette::Disabled, QPalette::Text));

    ASSERT_TRUE(manager.TrySetStyle(kSystemStyleName, error));
    EXPECT_EQ(QApplication::style()->name(), startStyle);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), startWindow);

    EXPECT_FALSE(manager.TrySetStyle(QStringLiteral("Chrome"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("Chrome")));
    EXPECT_EQ(manager.ActiveStyleName(), kSystemStyleName);
}

TEST(QtStylesTest, ColoursAndMonitors)
{
    QPalette palette;
    palette.setColor(QPalette::Base, QColor(1, 2, 3));
    EXPECT_EQ(ToQColor(RGBColor(10, 20, 30), palette), QColor(10, 20, 30));
    EXPECT_EQ(ToQColor(clWindow, palette), QColor(1, 2, 3));
    const TMonitorList monitors = CurrentMonitors();
    ASSERT_FALSE(monitors.isEmpty());
    EXPECT_FALSE(monitors.first().WorkArea.isEmpty());
    EXPECT_EQ(monitors.first().Dpi, DesignDpi);
}

TEST(LauncherEntryTest, ProgressShowsOnlyWhileARunShowsIt)
{
    struct TCase {
        int32_t State;
        uint32_t Position, Max;
        bool Visible;
        double Progress; // < 0: no progress key
    };
    const TCase cases[] = {
        {tbsNormal, 25, 100, true, 0.25},
        {tbsPaused, 100, 100, true, 1.0},
        {tbsNormal, 5, 0, true, -1},
        {tbsNoProgress, 25, 100, false, -1},
        {tbsIndeterminate, 25, 100, false, -1},
    };
    for (const TCase &c : cases) {
        const QDBusMessage m = LauncherEntryMessage(c.State, c.Position, c.Max);
        ASSERT_EQ(m.arguments().size(), 2);
        EXPECT_EQ(m.arguments().at(0).toString(), kLauncherAppUri);
        const QVariantMap props = m.arguments().at(1).toMap();
        EXPECT_EQ(props.value(QStringLiteral("progress-visible")).toBool(), c.Visible) << c.State;
        if (c.Progress < 0)
            EXPECT_FALSE(props.contains(QStringLiteral("progress"))) << c.State;
        else
            EXPECT_DOUBLE_EQ(props.value(QStringLiteral("progress")).toDouble(), c.Progress);
    }
}
