#include "ui/ProgressWindow.h"

#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/Thread.h"
#include "ui/ChoiceDialogs.h"

#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <exception>

namespace vl {

namespace {

constexpr int kUpdateInterval = 100; // ms
constexpr int kWaitInterval = 1000;  // ms
// Seconds in the low bits of a status page's Wait; the bit above them
// keeps a failed run's page open.
constexpr int32_t kWaitSeconds = 0xFFF;
constexpr int32_t kNoCountDownAfterFailure = 0x1000;
// Distance kept from the work area's edges when the window opens.
constexpr int kStartMargin = 50;
constexpr int kTileGap = 10;

const QString kIniSection = QStringLiteral("StatusWindow");

bool IsFailure(TResultStatus Mode)
{
    return Mode == TResultStatus::psCancel || Mode == TResultStatus::psError;
}

} // namespace

// ---------------------------------------------------------------------------
// Pure rules

TBuResult ProgressResultToBuResult(TModalResult Code)
{
    switch (Code & ~prLogShown) {
    case prCancelled:
        return TBuResult::brError;
    case prShutdown:
        return TBuResult::brShutdown;
    case prLogOff:
        return TBuResult::brLogOff;
    case prStandby:
        return TBuResult::brStandby;
    case prHibernate:
        return TBuResult::brHibernate;
    case prRepeat:
        return TBuResult::brRepeat;
    default:
        return TBuResult::brOK;
    }
}

QString ElapsedTimeText(TDateTime AValue)
{
    // One rounding for all parts, so 59.9996 s never reads ":59" with the
    // next minute already counted.
    const double ms = std::round(std::max(AValue, 0.0) * 86400000.0);
    const int64_t seconds = int64_t(ms) / 1000;
    return IntToStrZeroPad(2, seconds / 3600) + QLatin1Char(':') + IntToStrZeroPad(2, seconds / 60 % 60)
           + QLatin1Char(':') + IntToStrZeroPad(2, seconds % 60);
}

QString SourceTypeText(TSourceSelection ASource)
{
    switch (ASource) {
    case TSourceSelection::ssFile:
        return TrDomain(kDialogsDomain, "File") + QLatin1Char(' ');
    case TSourceSelection::ssDir:
        return TrDomain(kDialogsDomain, "Directory") + QLatin1Char(' ');
    case TSourceSelection::ssZip:
        return TrDomain(kDialogsDomain, "Zip archive") + QLatin1Char(' ');
    case TSourceSelection::ssTempZip:
        return TrDomain(kDialogsDomain, "Temporary zip archive") + QLatin1Char(' ');
    case TSourceSelection::ssNoSrc:
        break;
    }
    return {};
}

QString FileActionText(TFileAction AAction, const QString &ACurrent)
{
    switch (AAction) {
    case TFileAction::acNone:
        return {};
    case TFileAction::acCopy:
        return TrDomain(kDialogsDomain, "is being copied");
    case TFileAction::acCompress:
        return TrDomain(kDialogsDomain, "is being compressed");
    case TFileAction::acUnCompress:
        return TrDomain(kDialogsDomain, "is being decompressed");
    case TFileAction::acEncrypt:
        return TrDomain(kDialogsDomain, "is being encrypted");
    case TFileAction::acDecrypt:
        return TrDomain(kDialogsDomain, "is being decrypted");
    case TFileAction::acVerify:
    case TFileAction::acZipVerify:
        return TrDomain(kDialogsDomain, "is being verified");
    case TFileAction::acAddVerify:
        return ACurrent + TrDomain(kDialogsDomain, " and verified");
    case TFileAction::acFtpWrite:
        return TrDomain(kDialogsDomain, "is being written via FTP");
    case TFileAction::acFtpRead:
        return TrDomain(kDialogsDomain, "is being read via FTP");
    case TFileAction::acScan:
        return TrDomain(kDialogsDomain, "is being scanned");
    case TFileAction::acZipCopy:
    case TFileAction::acSegmentCopy:
        return TrDomain(kDialogsDomain, "is being added to zip archive");
    case TFileAction::acPrepare:
        return TrDomain(kDialogsDomain, "is being prepared");
    }
    return {};
}

TStatusPage StatusPageFor(TResultStatus Mode, int32_t Wait)
{
    if (Wait < 0)
        return {IsFailure(Mode) && Wait != -1, 0};
    if (Wait == 0 || ((Wait & kNoCountDownAfterFailure) && IsFailure(Mode)))
        return {true, 0};
    const int seconds = Wait & kWaitSeconds;
    // Only the failure bit set: nothing to count down.
    return {true, seconds};
}

QRect ProgressStartWorkArea(const TMonitorList &Monitors, QPoint Pos1, QPoint Pos2)
{
    // Pos1 is the position for a single monitor, whose work area it is.
    Q_UNUSED(Pos1);
    if (Monitors.isEmpty())
        return {};
    if (Monitors.size() == 1)
        return Monitors.first().WorkArea;
    for (const TMonitorArea &m : Monitors)
        if (m.WorkArea.contains(Pos2))
            return m.WorkArea;
    return Monitors.first().WorkArea;
}

QPoint ProgressStartPosition(const TMonitorList &Monitors, QPoint Pos1, QPoint Pos2, QSize ClientSize)
{
    QPoint pos = Monitors.size() > 1 ? Pos2 : Pos1;
    const QRect area = ProgressStartWorkArea(Monitors, Pos1, Pos2);
    if (area.isEmpty())
        return pos;
    const int right = area.x() + area.width();
    const int bottom = area.y() + area.height();
    if (pos.x() + ClientSize.width() > right)
        pos.setX(right - ClientSize.width() - kStartMargin);
    if (pos.x() <= area.x())
        pos.setX(area.x() + kStartMargin);
    if (pos.y() + ClientSize.height() > bottom)
        pos.setY(bottom - ClientSize.height() - kStartMargin);
    if (pos.y() <= area.y())
        pos.setY(area.y() + kStartMargin);
    return pos;
}

QPoint TiledPosition(int WorkAreaHeight, QSize Window, int AInstance)
{
    const int k = std::max(AInstance - 1, 0);
    // A work area lower than one window would give no rows (and a
    // division by zero): it still holds one.
    const int rows = std::max(WorkAreaHeight / (Window.height() + kTileGap), 1);
    return {k / rows * (Window.width() + kTileGap) + kTileGap, k % rows * (Window.height() + kTileGap) + kTileGap};
}

QString MinimizeName(const QString &APath, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    if (TextWidth(APath) <= MaxWidth)
        return APath;
    for (int len = int(APath.size()) - 1; len > 3; --len) {
        const QString shortened = ShortenPath(APath, len);
        if (TextWidth(shortened) <= MaxWidth)
            return shortened;
    }
    return APath;
}

QString FitHintText(const QString &AHint, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    QString text = MinimizeName(AHint, MaxWidth, TextWidth);
    if (TextWidth(text) <= MaxWidth)
        return text;
    while (text.size() >= 10 && TextWidth(text) >= MaxWidth)
        text.remove(0, 3);
    return QStringLiteral("...") + text;
}

int AskCancelAutoTask(QPoint APos, const QString &ATitle)
{
    const QString msg = TrDomain(kDialogsDomain, "An automatic backup is running!") + QStringLiteral("\r\n")
                        + TrDomain(kDialogsDomain, "Do you really want to cancel?");
    const int choice = SelectChoiceAt(APos, ATitle, msg, TMsgDlgType::mtConfirmation, TFontStyles{TFontStyle::fsBold},
                                      {TrDomain(kDialogsDomain, "Only current"), TrDomain(kDialogsDomain, "Cancel all")},
                                      QString(), 0, -1, TrDomain(kDialogsDomain, "Continue"));
    // An option box could add 256; there is none, but keep the index only.
    return choice < 0 ? -1 : choice & 0xFF;
}

// ---------------------------------------------------------------------------
// TZeigFortschritt

TZeigFortschritt::TZeigFortschritt() : CancelChoice(AskCancelAutoTask)
{
    laDesc.SetCaption(TrDomain(kDialogsDomain, "Dest.:"));
    TotalLabel.SetCaption(TrDomain(kDialogsDomain, "Total:"));
    cbRepeat.SetCaption(TrDomain(kDialogsDomain, "Repeat"));
    rgAction.SetCaption(TrDomain(kDialogsDomain, "Subsequent action"));
    rgAction.SetItems({TrDomain(kDialogsDomain, "None"), TrDomain(kDialogsDomain, "Shutdown"),
                       TrDomain(kDialogsDomain, "Logoff"), TrDomain(kDialogsDomain, "Standby"),
                       TrDomain(kDialogsDomain, "Hibernate")});
    rgAction.SetColumns(5);
    rgAction.SetItemIndex(0);
    Button.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    ViewLog.SetCaption(TrDomain(kDialogsDomain, "Log"));
    MinimizeBtn.SetHint(TrDomain(kDialogsDomain, "Minimize"));
    PauseBtn.SetHint(TrDomain(kDialogsDomain, "Pause"));
    ViewLog.SetVisible(false);
    cbRepeat.SetVisible(false);
    // The window's bars stand out from the panel.
    for (TNewProgressBarState *bar : {&EinzelBalken, &GesamtBalken}) {
        bar->SetTransparent(false);
        bar->SetBackColor(clBtnHighlight);
    }

    Button.OnClick = [this](TControlState &) { ButtonClick(); };
    PauseBtn.OnClick = [this](TControlState &) { PauseBtnClick(); };
    MinimizeBtn.OnClick = [this](TControlState &) { MinimizeBtnClick(); };
    ViewLog.OnClick = [this](TControlState &) { ViewLogClick(); };

    FUpdateTimer.setInterval(kUpdateInterval);
    QObject::connect(&FUpdateTimer, &QTimer::timeout, &FContext, [this] { UpdateTimerTick(); });
    FWaitTimer.setInterval(kWaitInterval);
    QObject::connect(&FWaitTimer, &QTimer::timeout, &FContext, [this] { WaitTimerTick(); });
}

TZeigFortschritt::~TZeigFortschritt()
{
    FView.reset();
}

void TZeigFortschritt::SetView(std::unique_ptr<IProgressWindowView> AView)
{
    FView = std::move(AView);
    if (FView)
        ATitel = FView->ApplicationTitle();
}

bool TZeigFortschritt::IsShown() const
{
    return FView && FView->IsShown();
}

int TZeigFortschritt::CurrentClientWidth() const
{
    return FView ? FView->ClientWidth() : FDefWidth;
}

QPoint TZeigFortschritt::CurrentPosition() const
{
    return FView ? FView->Frame().topLeft() : QPoint(FLeft1, FTop1);
}

TMonitorList TZeigFortschritt::CurrentMonitors() const
{
    return FView ? FView->Monitors() : TMonitorList();
}

void TZeigFortschritt::Post(std::function<void(IRunControl &)> ACall)
{
    if (!FRunControl)
        return;
    const uint64_t serial = FRunSerial;
    QMetaObject::invokeMethod(
        &FContext,
        [this, serial, ACall = std::move(ACall)] {
            if (serial == FRunSerial && FRunControl)
                ACall(*FRunControl);
        },
        Qt::QueuedConnection);
}

// --- Parts without control states

void TZeigFortschritt::SetCaptionText(const QString &AValue)
{
    FCaption = AValue;
    if (FView)
        FView->Changed(TProgressViewPart::vpCaption);
}

void TZeigFortschritt::SetButtonImage(int AIndex)
{
    FButtonImage = AIndex;
    if (FView)
        FView->Changed(TProgressViewPart::vpButtonGlyph);
}

void TZeigFortschritt::SetButtonRole(bool ACancel, bool ADefault)
{
    FButtonIsCancel = ACancel;
    FButtonIsDefault = ADefault;
    if (FView)
        FView->Changed(TProgressViewPart::vpButtonRole);
}

void TZeigFortschritt::SetPauseImage(int AIndex)
{
    FPauseImage = AIndex;
    if (FView)
        FView->Changed(TProgressViewPart::vpPauseGlyph);
}

void TZeigFortschritt::SetStatusColor(TColor AColor)
{
    FStatusColor = AColor;
    if (FView)
        FView->Changed(TProgressViewPart::vpStatusColor);
}

// --- Properties

void TZeigFortschritt::SetTitel(const QString &AValue)
{
    SetCaptionText(AValue);
}

void TZeigFortschritt::SetDescription(const QString &AValue)
{
    laDesc.SetCaption(AValue);
}

void TZeigFortschritt::SetDestination(const QString &AValue)
{
    if (!FView) {
        ZielLabel.SetCaption(AValue);
        return;
    }
    const int width = FView->FileBarWidth() - FView->DestinationLeft();
    ZielLabel.SetCaption(MinimizeName(AValue, width, [this](const QString &t) { return FView->TextWidth(t); }));
}

void TZeigFortschritt::SetActionHint(const QString &AValue)
{
    if (AValue.isEmpty())
        return;
    FUpdateStatus.Action = AValue;
    FAction = TFileAction::acNone;
}

void TZeigFortschritt::SetAction(TFileAction AValue)
{
    if (AValue == FAction)
        return;
    FAction = AValue;
    FUpdateStatus.Action = FileActionText(AValue, FUpdateStatus.Action);
    if (AValue == TFileAction::acScan)
        FilePercentLabel.SetCaption(QString());
}

void TZeigFortschritt::SetElapsedTime(TDateTime AValue)
{
    FUpdateStatus.ElapsedTime = ElapsedTimeText(AValue);
}

void TZeigFortschritt::SetPauseEnabled(bool AValue)
{
    PauseBtn.SetEnabled(AValue);
}

void TZeigFortschritt::SetPrompt(const QString &AValue)
{
    FUpdateStatus.Hinweis = AValue;
}

void TZeigFortschritt::SetSourceType(TSourceSelection AValue)
{
    if (AValue == FSource)
        return;
    FSource = AValue;
    FUpdateStatus.Subject = SourceTypeText(AValue);
}

void TZeigFortschritt::SetSpeed(const QString &AValue)
{
    FUpdateStatus.Speed = AValue;
}

void TZeigFortschritt::SetStepStyle(TNewProgressBarStyle AValue)
{
    if (AValue != EinzelBalken.Style())
        EinzelBalken.SetStyle(AValue);
}

void TZeigFortschritt::SetStepProgress(int32_t AValue)
{
    FUpdateStatus.Single = std::clamp(AValue, EinzelBalken.Min(), std::max(EinzelBalken.Min(), EinzelBalken.Max()));
}

void TZeigFortschritt::SetStepAmount(int64_t AValue)
{
    FUpdateStatus.FSize = AValue;
}

void TZeigFortschritt::SetTotalProgress(int32_t AValue)
{
    // 100 % belongs to the status page.
    if (AValue > 98)
        AValue = 99;
    FLastTotal = AValue;
    FUpdateStatus.Total = std::clamp(AValue, GesamtBalken.Min(), std::max(GesamtBalken.Min(), GesamtBalken.Max()));
}

void TZeigFortschritt::SetTempTotalProgress(int32_t AValue)
{
    int32_t v = FLastTotal + AValue;
    if (v > 98)
        v = 99;
    FUpdateStatus.Total = std::clamp(v, GesamtBalken.Min(), std::max(GesamtBalken.Min(), GesamtBalken.Max()));
}

void TZeigFortschritt::UpdateTotalProgress(int32_t AValue)
{
    FLastTotal += AValue;
    FUpdateStatus.Total = FLastTotal;
}

void TZeigFortschritt::SetTotalAmount(const QString &AValue)
{
    FUpdateStatus.TotAmount = AValue;
}

void TZeigFortschritt::WriteStatus(int32_t AIndex, const QString &AText)
{
    const int32_t primary = FSwappedStatus ? 2 : 1;
    if (AIndex == primary) {
        FUpdateStatus.Status1 = AText;
        FUseFirstStatus = false;
    } else if (FUseFirstStatus) {
        FUpdateStatus.Status1 = AText;
    } else {
        FUpdateStatus.Status2 = AText;
    }
}

void TZeigFortschritt::UpdatePrompt(TSourceSelection ASource, const QString &AHint, const QString &APrompt,
                                    int64_t FileSize)
{
    SetSourceType(ASource);
    if (!AHint.isEmpty()) {
        FUpdateStatus.Action = AHint;
        FAction = TFileAction::acNone;
    }
    FUpdateStatus.FSize = FileSize;
    SetPrompt(APrompt);
    if (IsShown())
        UpdateView();
}

QString TZeigFortschritt::PercentOf(int32_t APercent, const QString &AAmount) const
{
    return QString::number(APercent) + QLatin1Char('%') + TrDomain(kDialogsDomain, " of ") + AAmount;
}

void TZeigFortschritt::UpdateView()
{
    const TUpdateStatus &s = FUpdateStatus;
    FileLabel.SetCaption(s.Subject);
    ActionLabel.SetCaption(s.Action);
    StatusLabel1.SetCaption(s.Status1);
    StatusLabel2.SetCaption(s.Status2);

    if (!s.Speed.isEmpty() && !s.ElapsedTime.isEmpty())
        SpeedLabel.SetCaption(s.Speed + QStringLiteral(" - ") + s.ElapsedTime);
    else
        SpeedLabel.SetCaption(s.Speed.isEmpty() ? s.ElapsedTime : s.Speed);

    EinzelBalken.SetPosition(s.Single);
    QString filePercent;
    if (s.FSize > 0 && FAction != TFileAction::acNone) {
        if (FAction == TFileAction::acZipVerify)
            filePercent = PercentOf(s.Single, CountText(TrDomain(kDialogsDomain, "No files"),
                                                        TrDomain(kDialogsDomain, "1 file"),
                                                        TrDomain(kDialogsDomain, "%u files"),
                                                        int(std::min<int64_t>(s.FSize, INT32_MAX))));
        else
            filePercent = PercentOf(s.Single, ByteSizeText(false, s.FSize));
    }
    FilePercentLabel.SetCaption(filePercent);

    GesamtBalken.SetPosition(s.Total);
    TotalPercentLabel.SetCaption(s.TotAmount.isEmpty() ? QString() : PercentOf(s.Total, s.TotAmount));

    if (FView) {
        const auto width = [this](const QString &t) { return FView->TextWidth(t); };
        const int limit = FView->FileBarWidth() - (filePercent.isEmpty() ? 0 : width(filePercent)) - 10;
        const QString shown = FitHintText(s.Hinweis, limit, width);
        HinweisLabel.SetCaption(shown);
        HinweisLabel.SetHint(shown.size() != s.Hinweis.size() ? s.Hinweis : QString());
    } else {
        HinweisLabel.SetCaption(s.Hinweis);
        HinweisLabel.SetHint(QString());
    }

    if (IsShown() && FLockStatus == 0 && !FView->IsMinimized() && FShowOnTop)
        FView->BringToTop();
}

void TZeigFortschritt::ClearView()
{
    EinzelBalken.SetPosition(0);
    GesamtBalken.SetPosition(0);
    FLastTotal = 0;
    TotalLabel.SetCaption(TrDomain(kDialogsDomain, "Total:"));
    SetStatusColor(clWindowText);
    StatusLabel1.SetCaption(QString());
    StatusLabel2.SetCaption(QString());
    StatusLabel2.SetVisible(true);
    FWaitTimer.stop();
    FCloseCount = 0;
    SetSourceType(TSourceSelection::ssNoSrc);
    SetAction(TFileAction::acNone);
    FileLabel.SetCaption(QString());
    ActionLabel.SetCaption(QString());
    SpeedLabel.SetCaption(QString());
    HinweisLabel.SetVisible(true);
    HinweisLabel.SetCaption(QString());
    HinweisLabel.SetHint(QString());
    Button.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    SetButtonRole(true, false);
    SetButtonImage(kImgCancel);
    FUpdateStatus = TUpdateStatus();
}

// --- Run control

void TZeigFortschritt::ShowProgress(IRunControl *ARunControl, const QString &Task, const QString &Desc,
                                    const QString &Dest, TProgressOptions AOptions, int32_t SelectedAction,
                                    int32_t Wait, bool Swapped)
{
    FRunControl = ARunControl;
    FRunning = true;
    ++FRunSerial;
    FCloseWin = false;

    SetCaptionText(TitleWithVersion(0) + QStringLiteral(" => ") + Task);
    TaskDesc = Task;
    ZielLabel.SetCaption(Dest);
    SetDescription(Desc + QLatin1Char(':'));

    FSwappedStatus = Swapped;
    FUseFirstStatus = true;
    FilePercentLabel.SetCaption(QString());
    TotalPercentLabel.SetCaption(QString());
    FilePercentLabel.SetVisible(true);
    TotalPercentLabel.SetVisible(true);
    FStopped = false;
    FPaused = false;
    FIsBackup = HasOption(AOptions, TProgressOption::poBackup);
    FIsAutoTask = HasOption(AOptions, TProgressOption::poAutoTask);
    FSelAction = SelectedAction;

    const bool withAction = HasOption(AOptions, TProgressOption::poAction);
    rgAction.SetVisible(withAction);
    rgAction.SetItemIndex(withAction ? FSelAction : 0);
    if (FView)
        FView->FitHeight();

    ViewLog.SetVisible(false);
    cbRepeat.SetVisible(false);
    SetPauseImage(kImgPause);
    PauseBtn.SetHint(TrDomain(kDialogsDomain, "Pause"));
    PauseBtn.SetVisible(HasOption(AOptions, TProgressOption::poPause));
    MinimizeBtn.SetVisible(HasOption(AOptions, TProgressOption::poMinimize));

    MainWindowServices().SetTaskBarState(tbsIndeterminate);

    ClearView();
    Button.SetEnabled(true);
    FUpdateTimer.start();

    if (Wait >= 0) {
        UpdateView();
        FAutoUpdate = true;
        FIsActive = true;
        ShowForm();
    }
}

TModalResult TZeigFortschritt::ShowStatus(TResultStatus Mode, const QString &Hinweis, const QString &AStatus1,
                                          const QString &AStatus2, TColor AColor, int32_t Wait)
{
    FUpdateTimer.stop();
    FIsActive = true;
    FAutoUpdate = false;
    FLockStatus = 0;
    if (Mode != TResultStatus::psCancel)
        FUpdateStatus.Total = 100;

    if (FView)
        FView->SetApplicationTitle(ATitel);
    const int max = std::max(GesamtBalken.Max(), 0);
    MainWindowServices().UpdateTaskBar(uint32_t(std::clamp(FUpdateStatus.Total, 0, max)), uint32_t(max));

    SetSourceType(TSourceSelection::ssNoSrc);
    SetAction(TFileAction::acNone);
    if (!Hinweis.isEmpty())
        FUpdateStatus.Action = Hinweis;
    HinweisLabel.SetVisible(false);
    TotalLabel.SetCaption(TrDomain(kDialogsDomain, "Status:"));

    FUpdateStatus.Status1 = AStatus1;
    if (!AStatus2.isEmpty())
        FUpdateStatus.Status2 = AStatus2;
    SetStatusColor(AColor);
    UpdateView();
    FUseFirstStatus = true;
    EinzelBalken.SetPosition(0);

    int image = kImgSuccess;
    if (Mode == TResultStatus::psCancel)
        image = kImgCancel;
    else if (Mode == TResultStatus::psError || Mode == TResultStatus::psWarning)
        image = kImgWarning;

    PauseBtn.SetVisible(false);
    MinimizeBtn.SetVisible(false);
    Button.SetCaption(TrDomain(kDialogsDomain, "Done"));
    SetButtonRole(false, true);
    // A run that ends while paused left the button disabled; the page must
    // still end by Done.
    Button.SetEnabled(true);

    // A subsequent action picked during the run (none was preset) must not
    // wait for a user who has left.
    if (Mode != TResultStatus::psCancel && Wait >= 0 && rgAction.Visible() && rgAction.ItemIndex() > 0
        && FSelAction == 0)
        Wait = VlSettings.ViewSettings.AutoWaitTime;

    SetButtonImage(image);
    if (VlSettings.ViewSettings.PlaySound && MainWindowServices().SoundOn() && FView)
        FView->Beep(Mode);

    // Without a window nobody could end the page.
    const TStatusPage page = FView ? StatusPageFor(Mode, Wait) : TStatusPage();
    if (page.CountDown > 0) {
        FCloseCount = page.CountDown;
        SetDoneCaption();
        FWaitTimer.start();
    }

    FShowLog = false;
    cbRepeat.SetChecked(false);

    if (page.Shown) {
        const bool countDown = page.CountDown > 0;
        ViewLog.SetVisible(!countDown);
        cbRepeat.SetVisible(!countDown && Mode != TResultStatus::psOK);
        if (!IsShown())
            ShowForm();
        if (!countDown)
            FView->BringToTop();
        ProcessMessages();
        FCloseWin = false;
        WaitUntil([this] { return FCloseWin; }, kUpdateInterval);
        FIsActive = false;
        if (IsShown())
            CloseForm();
    }

    TModalResult result;
    if (cbRepeat.Checked())
        result = prRepeat;
    else if (Mode == TResultStatus::psCancel)
        result = prCancelled;
    else
        result = SubsequentActionResult(rgAction.ItemIndex());
    if (FShowLog)
        result += prLogShown;
    ClearView();
    MainWindowServices().SetTaskBarState(tbsNoProgress);
    EndRun();
    return result;
}

TModalResult TZeigFortschritt::Terminate()
{
    MainWindowServices().SetTaskBarState(tbsNoProgress);
    const TModalResult result = SubsequentActionResult(rgAction.ItemIndex());
    ClearView();
    EndRun();
    return result;
}

void TZeigFortschritt::CloseStatus()
{
    if (!FAutoUpdate)
        FCloseWin = true;
}

void TZeigFortschritt::Close()
{
    if (IsShown())
        CloseForm();
}

void TZeigFortschritt::WriteVersion(const QString &AVersion, const QString &AUser)
{
    VersionLabel.SetCaption(AVersion);
    UserLabel.SetCaption(AUser);
}

void TZeigFortschritt::EndRun()
{
    FRunning = false;
    FRunControl = nullptr;
    // Requests and answers still under way belong to the ended run.
    ++FRunSerial;
}

// --- Timers

void TZeigFortschritt::UpdateTimerTick()
{
    if (IsShown() && FAutoUpdate)
        UpdateView();
    if (FView) {
        if (FView->ApplicationActive())
            FView->SetApplicationTitle(ATitel);
        else
            FView->SetApplicationTitle(QString::number(FUpdateStatus.Total) + QStringLiteral("% => ")
                                       + ZielLabel.Caption());
    }
    const int max = std::max(GesamtBalken.Max(), 0);
    MainWindowServices().UpdateTaskBar(uint32_t(std::clamp(FUpdateStatus.Total, 0, max)), uint32_t(max));
}

void TZeigFortschritt::SetDoneCaption()
{
    Button.SetCaption(TrDomain(kDialogsDomain, "Done") + QStringLiteral(" (") + QString::number(FCloseCount)
                      + QStringLiteral(" s)"));
}

void TZeigFortschritt::WaitTimerTick()
{
    --FCloseCount;
    SetDoneCaption();
    if (FCloseCount <= 0) {
        FWaitTimer.stop();
        Close();
        // A page whose window was closed meanwhile still ends.
        FCloseWin = true;
    }
}

// --- Buttons

void TZeigFortschritt::ButtonClick()
{
    if (FLockStatus == 1)
        return;
    if (!FButtonIsCancel) {
        FCloseWin = true;
        return;
    }
    if (FLockStatus == 2) {
        Post([](IRunControl &c) { c.StopWaiting(); });
        return;
    }
    // A backup while the session ends cannot be cancelled.
    if (FIsBackup && MainWindowServices().IdleBackup())
        return;

    Post([](IRunControl &c) { c.PauseRun(true); });
    FUpdateTimer.stop();
    // The question runs a nested event loop in which the run may end, or
    // the next one start; the answer then belongs to no run.
    const uint64_t serial = FRunSerial;
    const QRect button = FView ? FView->ButtonRect() : QRect();
    const TControlGeometry geometry{button, std::nullopt};
    int choice = -1;
    if (FIsAutoTask) {
        if (CancelChoice)
            choice = CancelChoice(ControlBottomRightOffset(geometry, QPoint(10, 50)), FCaption);
    } else if (ConfirmBoxAt(ControlTopRightOffset(geometry, QPoint(10, -100)),
                            TrDomain(kDialogsDomain, "Do you really want to cancel the action?"), TMsgDlgBtn::mbNo,
                            TDefaultMonitor::dmActiveForm)) {
        choice = 0;
    }
    if (serial != FRunSerial)
        return;
    if (choice >= 0) {
        FStopped = true;
        const bool all = choice != 0;
        Post([all](IRunControl &c) { c.CancelRun(all); });
    } else {
        Post([](IRunControl &c) { c.PauseRun(false); });
    }
    FUpdateTimer.start();
}

void TZeigFortschritt::PauseBtnClick()
{
    if (FLockStatus != 0)
        return;
    FPaused = !FPaused;
    const bool paused = FPaused;
    Post([paused](IRunControl &c) { c.PauseRun(paused); });
    if (paused) {
        PauseBtn.SetHint(TrDomain(kDialogsDomain, "Continue"));
        SetPauseImage(kImgContinue);
        MainWindowServices().SetTaskBarState(tbsPaused);
    } else {
        PauseBtn.SetHint(TrDomain(kDialogsDomain, "Pause"));
        SetPauseImage(kImgPause);
        MainWindowServices().SetTaskBarState(tbsNormal);
    }
    Button.SetEnabled(!paused);
    if (Button.Enabled())
        FUpdateTimer.start();
    else
        FUpdateTimer.stop();
}

void TZeigFortschritt::MinimizeBtnClick()
{
    if (FLockStatus != 0 || !FRunControl)
        return;
    const bool paused = FPaused;
    Post([paused](IRunControl &c) { c.MinimizeRun(paused); });
    FMinimized = true;
}

void TZeigFortschritt::ViewLogClick()
{
    FCloseWin = true;
    FShowLog = true;
}

void TZeigFortschritt::ShowProgressInfo()
{
    QString text;
    if (FButtonIsCancel) {
        const QString percent = TotalPercentLabel.Caption().isEmpty()
                                    ? QString::number(FUpdateStatus.Total) + QLatin1Char('%')
                                    : TotalPercentLabel.Caption();
        text = TrDomain(kDialogsDomain, "Total progress") + QStringLiteral(": ") + percent;
    } else {
        text = TrDomain(kDialogsDomain, "Backup completed") + QStringLiteral(": ") + StatusLabel1.Caption();
        if (!StatusLabel2.Caption().isEmpty())
            text += QStringLiteral("\r\n") + StatusLabel2.Caption();
    }
    ShowInfoBox(text, 0);
}

// --- Window

void TZeigFortschritt::ShowForm()
{
    if (!FView)
        return;
    FView->FitHeight();
    const TMonitorList monitors = CurrentMonitors();
    const QRect frame = FView->Frame();
    const QSize client(FView->ClientWidth(), frame.height());
    QPoint pos = ProgressStartPosition(monitors, {FLeft1, FTop1}, {FLeft2, FTop2}, client);
    const int instance = MainWindowServices().VlInstance();
    if (instance > 0) {
        const QRect area = ProgressStartWorkArea(monitors, {FLeft1, FTop1}, {FLeft2, FTop2});
        pos = TiledPosition(area.height(), frame.size(), instance);
    }
    FView->MoveTo(pos);
    FormResize();
    FMinimized = false;
    UpdateView();
    FView->MoveTo(KeepFormInWorkArea(monitors, QRect(pos, frame.size())));
    FView->ShowWindow();
}

void TZeigFortschritt::FormResize()
{
    if (!FView)
        return;
    if (rgAction.Visible())
        rgAction.SetColumns(FView->ClientWidth() < FActWidth ? 3 : 5);
    FView->FitHeight();
}

void TZeigFortschritt::FormClose()
{
    if (FView) {
        FView->SetApplicationTitle(ATitel);
        const QPoint pos = FView->Frame().topLeft();
        if (FView->Monitors().size() < 2) {
            FLeft1 = pos.x();
            FTop1 = pos.y();
        } else {
            FLeft2 = pos.x();
            FTop2 = pos.y();
        }
    }
    if (MainWindowServices().VlInstance() == 0)
        SaveToIni();
    FCloseWin = true;
}

void TZeigFortschritt::CloseForm()
{
    FormClose();
    if (FView)
        FView->HideWindow();
}

// --- Position memory

void TZeigFortschritt::LoadFromIni(const QString &AIniName)
{
    FIniName = AIniName;
    if (FIniName.isEmpty())
        return;
    try {
        const TMemIniFile ini(FIniName);
        const QPoint pos = CurrentPosition();
        FTop1 = ini.ReadInteger(kIniSection, QStringLiteral("Top"), pos.y());
        FTop2 = ini.ReadInteger(kIniSection, QStringLiteral("Top2"), pos.y());
        FLeft1 = ini.ReadInteger(kIniSection, QStringLiteral("Left"), pos.x());
        FLeft2 = ini.ReadInteger(kIniSection, QStringLiteral("Left2"), pos.x());
        const int current = CurrentClientWidth();
        const int width = ini.ReadInteger(kIniSection, QStringLiteral("Width"), current);
        if (width >= current / 2 && FView)
            FView->SetClientWidth(width);
    } catch (const std::exception &) {
        // An unreadable INI keeps the current position and width.
    }
}

void TZeigFortschritt::SaveToIni()
{
    if (FIniName.isEmpty())
        return;
    try {
        TMemIniFile ini(FIniName);
        ini.WriteInteger(kIniSection, QStringLiteral("Top"), FTop1);
        ini.WriteInteger(kIniSection, QStringLiteral("Top2"), FTop2);
        ini.WriteInteger(kIniSection, QStringLiteral("Left"), FLeft1);
        ini.WriteInteger(kIniSection, QStringLiteral("Left2"), FLeft2);
        ini.WriteInteger(kIniSection, QStringLiteral("Width"), CurrentClientWidth());
        ini.UpdateFile();
    } catch (const std::exception &) {
        // Position memory is a convenience: a read-only INI loses it.
    }
}

void TZeigFortschritt::ResetPosition()
{
    if (FView)
        FView->MoveTo(QPoint(50, 50));
}

void TZeigFortschritt::ResetSize()
{
    if (!FView)
        return;
    FView->SetClientWidth(FDefWidth);
    FView->FitHeight();
}

} // namespace vl
