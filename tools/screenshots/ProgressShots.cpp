// The progress window in the middle of a backup and on its status page.
#include "tools/screenshots/Screenshots.h"

#include "core/ProgramTexts.h"
#include "platform/Thread.h"
#include "ui/Styles.h"
#include "ui/qt/ProgressView.h"

#include <QPushButton>
#include <QTimer>

namespace vl::shots {

namespace {

// A run that ignores what the window asks of it.
struct TQuietRun : IRunControl {
    void PauseRun(bool) override {}
    void CancelRun(bool) override {}
    void MinimizeRun(bool) override {}
    void StopWaiting() override {}
};

} // namespace

bool RenderProgressWindow(const QString &ADir, const TShotTheme &ATheme)
{
    TQuietRun run;
    std::unique_ptr<TZeigFortschritt> window = CreateQtProgressWindow();
    TProgressView *view = QtProgressView(*window);
    window->WriteVersion(QStringLiteral("Velkor 6.0.0"), QStringLiteral("User name: alice"));

    using O = TProgressOption;
    window->ShowProgress(&run, QStringLiteral("Documents"), QStringLiteral("Destination"),
                         QStringLiteral("/media/backup/Documents"),
                         ProgressOptions({O::poBackup, O::poAction, O::poMinimize, O::poPause}), 0, 0, false);
    window->UpdatePrompt(TSourceSelection::ssFile, QString(),
                         QStringLiteral("/home/alice/Documents/Reports/2024/annual-report-final.odt"), 3565158);
    window->SetAction(TFileAction::acCompress);
    window->SetStepProgress(64);
    window->SetTotalAmount(ByteSizeText(false, 1288490189));
    window->SetTotalProgress(37);
    window->SetSpeed(QStringLiteral("12.4 MB/s"));
    window->SetElapsedTime(197.0 / 86400);
    window->WriteStatus(1, QStringLiteral("1024 of 2760 files copied"));
    window->WriteStatus(2, QStringLiteral("3 files skipped"));
    window->UpdateView();
    ProcessMessages();
    bool ok = SaveShot(view, ADir, QStringLiteral("progress-running"), ATheme);

    // The page waits for Done: take the picture while it waits.
    QTimer::singleShot(100, view, [&] {
        ok = SaveShot(view, ADir, QStringLiteral("progress-status"), ATheme) && ok;
        view->Button()->click();
    });
    window->ShowStatus(TResultStatus::psWarning, QStringLiteral("Backup finished with warnings"),
                       QStringLiteral("2760 files copied (1.2 GB)"), QStringLiteral("3 files skipped"),
                       ATheme.Dark ? RGBColor(255, 170, 60) : RGBColor(176, 96, 0), 0);
    return ok;
}

} // namespace vl::shots
