// A program that starts as every Velkor program does and shows a scripted
// run through the progress service; prints whether it got a display.
#include "core/WindowServices.h"
#include "ui/qt/GuiServices.h"

#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    vl::TProgramApplication app(argc, argv);
    std::printf("%s\n", app.Gui() ? "gui" : "headless");
    std::fflush(stdout);
    vl::IProgressWindow &w = vl::ProgressWindow();
    w.ShowProgress(nullptr, QStringLiteral("Scripted"), QStringLiteral("Dest.:"), QStringLiteral("/backup"), 0, 0, 0,
                   false);
    for (int percent : {10, 50, 100}) {
        w.SetPrompt(QStringLiteral("/home/user/file%1").arg(percent));
        w.SetTotalProgress(percent);
        QThread::msleep(120); // a terminal line shows at most every 100 ms
        w.UpdateView();
    }
    w.Terminate();
    return 0;
}
