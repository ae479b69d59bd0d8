#include "core/WindowServices.h"

#include "core/PasswordService.h"
#include "platform/FileNames.h"
#include "platform/Terminal.h"

#include <QStringList>

#include <algorithm>
#include <atomic>

namespace vl {

namespace {

constexpr auto kLineInterval = std::chrono::milliseconds(100);

std::atomic<IProgressWindow *> gProgressWindow{nullptr};
std::atomic<IStatusWindow *> gStatusWindow{nullptr};
std::atomic<IMainWindowServices *> gMainWindowServices{nullptr};

QString JoinNonEmpty(std::initializer_list<QString> AParts)
{
    QStringList parts;
    for (const QString &p : AParts)
        if (!p.isEmpty())
            parts << p;
    return parts.join(QStringLiteral(" - "));
}

QString PercentText(int32_t AValue)
{
    return QStringLiteral("%1%").arg(std::clamp(AValue, 0, 100), 3);
}

} // namespace

TModalResult SubsequentActionResult(int32_t AIndex)
{
    switch (AIndex) {
    case 1:
        return prShutdown;
    case 2:
        return prLogOff;
    case 3:
        return prStandby;
    case 4:
        return prHibernate;
    default:
        return prNoAction;
    }
}

// ---------------------------------------------------------------------------
// Questions of the progress window

bool IProgressWindow::Confirm(const QString &Msg)
{
    SetLockStatus(1);
    const bool result = ConfirmBox(Msg);
    SetLockStatus(0);
    return result;
}

void IProgressWindow::ShowError(const QString &Msg)
{
    SetLockStatus(1);
    ShowErrorBox(Msg, 0);
    SetLockStatus(0);
}

TModalResult IProgressWindow::GetPassword(const QString &Title, const QString &Prompt, bool Skip, QByteArray &Pwd)
{
    SetLockStatus(1);
    const TModalResult result = EnterAnsiPassword(Title, Prompt, Skip, Pwd);
    SetLockStatus(0);
    return result;
}

TModalResult IProgressWindow::GetPassword(const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                                          QByteArray &Pwd, int32_t &EncMode)
{
    SetLockStatus(1);
    const TModalResult result = EnterAnsiPasswordEx(kDefaultPos, Title, Prompt, Skip, Enc, Pwd, EncMode);
    SetLockStatus(0);
    return result;
}

// ---------------------------------------------------------------------------
// TTerminalLine

TTerminalLine::TTerminalLine(int AFd) : FFd(AFd), FIsTerminal(vl::IsTerminal(AFd)) {}

QByteArray TTerminalLine::Fit(const QString &AText) const
{
    int columns = TerminalColumns(FFd);
    if (columns <= 0)
        columns = 80;
    // The last column stays free so the cursor never wraps to a new line.
    const qsizetype room = std::max(columns - 1, 4);
    QString text = AText;
    // A name may hold control characters; they must not move the cursor.
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    if (text.size() > room)
        text = QStringLiteral("...") + text.right(room - 3);
    return EncodeFileName(text);
}

void TTerminalLine::Write(const QByteArray &ABytes) const
{
    // A progress line that cannot be written is simply not shown.
    WriteAll(FFd, ABytes);
}

void TTerminalLine::Show(const QString &AText, bool AForce)
{
    if (!FIsTerminal)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!AForce && FShownOnce && now - FLastShow < kLineInterval)
        return;
    FShownOnce = true;
    FLastShow = now;
    FOpen = true;
    Write('\r' + Fit(AText) + "\x1b[K");
}

void TTerminalLine::Finish(const QString &AText)
{
    if (!FIsTerminal)
        return;
    if (!AText.isEmpty())
        Write('\r' + Fit(AText) + "\x1b[K\n");
    else if (FOpen)
        Write(QByteArray("\r\x1b[K"));
    FOpen = false;
    // The next line shows at once.
    FShownOnce = false;
}

// ---------------------------------------------------------------------------
// THeadlessProgressWindow

THeadlessProgressWindow::THeadlessProgressWindow(int AFd) : FLine(AFd) {}

void THeadlessProgressWindow::ClearView()
{
    FLastTotal = 0;
    FTotal = 0;
    FPrompt.clear();
}

void THeadlessProgressWindow::ShowLine(bool AForce)
{
    if (FShown)
        FLine.Show(PercentText(FTotal) + QLatin1Char(' ') + FPrompt, AForce);
}

void THeadlessProgressWindow::ShowProgress(IRunControl *, const QString &Task, const QString &, const QString &Dest,
                                           TProgressOptions AOptions, int32_t SelectedAction, int32_t Wait, bool)
{
    FTaskDesc = Task;
    FStopped = false;
    // Nobody can change the preset subsequent action here.
    FActionIndex = HasOption(AOptions, TProgressOption::poAction) ? SelectedAction : 0;
    ClearView();
    FShown = Wait >= 0;
    if (FShown)
        FLine.Finish(Dest.isEmpty() ? Task : Task + QStringLiteral(" => ") + Dest);
}

TModalResult THeadlessProgressWindow::ShowStatus(TResultStatus Mode, const QString &Hinweis,
                                                 const QString &AStatus1, const QString &AStatus2, TColor,
                                                 int32_t Wait)
{
    FLockStatus = 0;
    const bool failed = Mode == TResultStatus::psCancel || Mode == TResultStatus::psError;
    const bool page = Wait >= 0 || (failed && Wait != -1);
    if (FShown || page)
        FLine.Finish(JoinNonEmpty({Hinweis, AStatus1, AStatus2}));
    FShown = false;
    ClearView();
    return Mode == TResultStatus::psCancel ? prCancelled : SubsequentActionResult(FActionIndex);
}

TModalResult THeadlessProgressWindow::Terminate()
{
    FLine.Finish(QString());
    FShown = false;
    ClearView();
    return SubsequentActionResult(FActionIndex);
}

void THeadlessProgressWindow::SetPrompt(const QString &AValue)
{
    FPrompt = AValue;
    ShowLine(false);
}

void THeadlessProgressWindow::SetTotalProgress(int32_t AValue)
{
    // 100 % is for the status page only.
    if (AValue > 98)
        AValue = 99;
    FLastTotal = AValue;
    FTotal = std::clamp(AValue, 0, 100);
    ShowLine(false);
}

void THeadlessProgressWindow::SetTempTotalProgress(int32_t AValue)
{
    int32_t v = FLastTotal + AValue;
    if (v > 98)
        v = 99;
    FTotal = std::clamp(v, 0, 100);
    ShowLine(false);
}

void THeadlessProgressWindow::UpdateTotalProgress(int32_t AValue)
{
    FLastTotal += AValue;
    FTotal = FLastTotal;
    ShowLine(false);
}

void THeadlessProgressWindow::UpdatePrompt(TSourceSelection, const QString &, const QString &APrompt, int64_t)
{
    FPrompt = APrompt;
    ShowLine(false);
}

void THeadlessProgressWindow::UpdateView()
{
    ShowLine(false);
}

// ---------------------------------------------------------------------------
// THeadlessStatusWindow

THeadlessStatusWindow::THeadlessStatusWindow(int AFd) : FLine(AFd) {}

void THeadlessStatusWindow::ShowLine(bool AForce)
{
    if (!FVisible)
        return;
    const QString text = JoinNonEmpty({FTitel, FStatus, FInfo});
    FLine.Show(FPercentBar ? PercentText(FProgress) + QLatin1Char(' ') + text : text, AForce);
}

void THeadlessStatusWindow::ShowStatus(QPoint, const QString &Titel, const QString &Stat, bool, int32_t AInterval)
{
    const bool wasVisible = FVisible;
    if (!wasVisible || !Titel.isEmpty())
        FTitel = Titel;
    FInfo.clear();
    FStatus = Stat;
    if (!wasVisible) {
        FPercentBar = AInterval < 0;
        FProgress = 0;
    }
    FVisible = true;
    ShowLine(true);
}

void THeadlessStatusWindow::SetStatus(const QString &AValue)
{
    FStatus = AValue;
    ShowLine(false);
}

void THeadlessStatusWindow::SetInfo(const QString &AValue)
{
    FInfo = AValue;
    ShowLine(false);
}

void THeadlessStatusWindow::SetProgress(int32_t AValue)
{
    FProgress = std::clamp(AValue, 0, 100);
    ShowLine(false);
}

void THeadlessStatusWindow::Close()
{
    if (FVisible)
        FLine.Finish(QString());
    FVisible = false;
}

// ---------------------------------------------------------------------------
// The current windows

IProgressWindow &ProgressWindow()
{
    static THeadlessProgressWindow headless;
    IProgressWindow *window = gProgressWindow.load();
    return window ? *window : headless;
}

void SetProgressWindow(IProgressWindow *AWindow)
{
    gProgressWindow.store(AWindow);
}

IStatusWindow &StatusWindow()
{
    static THeadlessStatusWindow headless;
    IStatusWindow *window = gStatusWindow.load();
    return window ? *window : headless;
}

void SetStatusWindow(IStatusWindow *AWindow)
{
    gStatusWindow.store(AWindow);
}

IMainWindowServices &MainWindowServices()
{
    static TNullMainWindowServices null;
    IMainWindowServices *services = gMainWindowServices.load();
    return services ? *services : null;
}

void SetMainWindowServices(IMainWindowServices *AServices)
{
    gMainWindowServices.store(AServices);
}

} // namespace vl
