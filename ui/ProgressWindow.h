// The progress window of every run, without widgets.
//
// One TZeigFortschritt lives for the program's life. A run shows it with
// ShowProgress, sets pending texts and values through the setters (kept in
// UpdateStatus and copied to the controls by a 100 ms timer or UpdateView),
// and ends with ShowStatus, the status page that returns a result code, or
// with Terminate. The window never stops anything itself: its buttons call
// the run's IRunControl (queued, so a request never runs inside the click
// that made it) and set Stopped, which runs poll.
//
// What needs a real window (showing, position, measuring text, sounds, the
// application title) goes through IProgressWindowView, which the Qt view
// implements (ui/qt/ProgressView.h). Without a view the window counts as
// hidden and no status page is shown.
//
// Used from the GUI thread only.
#pragma once

#include "core/Settings.h"
#include "core/WindowServices.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"
#include "ui/ProgressBars.h"
#include "ui/Styles.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

// ---------------------------------------------------------------------------
// Pure rules of the window

// The run result of a status page's result code: prLogShown is ignored,
// 7 is brError, 9-12 the subsequent actions, 13 brRepeat, anything else
// brOK.
TBuResult ProgressResultToBuResult(TModalResult Code);

// Whole hours with at least two digits, then minutes and seconds:
// "01:02:03"; 100 hours read "100:00:00". Negative values count as 0.
QString ElapsedTimeText(TDateTime AValue);

// The word of the file line for a kind of item ("File ", ...; empty for
// ssNoSrc).
QString SourceTypeText(TSourceSelection ASource);

// The action text of AAction; acAddVerify appends to ACurrent.
QString FileActionText(TFileAction AAction, const QString &ACurrent);

// Images of the window's buttons and status icons.
inline constexpr int kImgCancel = 0;
inline constexpr int kImgWarning = 1;
inline constexpr int kImgSuccess = 2;
inline constexpr int kImgContinue = 3;
inline constexpr int kImgPause = 4;

// The status page a ShowStatus call gets for Mode and Wait (after the
// automatic wait time has been applied): no page, a page that waits for
// the user, or one that closes after CountDown seconds.
struct TStatusPage {
    bool Shown = false;
    int CountDown = 0; // seconds; 0: no count-down
    bool operator==(const TStatusPage &) const = default;
};
TStatusPage StatusPageFor(TResultStatus Mode, int32_t Wait);

// Where the window opens: Pos1 with at most one monitor; with several, Pos2
// on the monitor that contains it, else on the first (primary) monitor;
// then kept 50 px inside that monitor's work area for a window of
// ClientSize.
QPoint ProgressStartPosition(const TMonitorList &Monitors, QPoint Pos1, QPoint Pos2, QSize ClientSize);
// The work area of the monitor ProgressStartPosition uses (empty without
// monitors).
QRect ProgressStartWorkArea(const TMonitorList &Monitors, QPoint Pos1, QPoint Pos2);

// Parallel instance AInstance (1, 2, ...) tiles its window in columns of
// rows over a work area of WorkAreaHeight, 10 px apart, from (10, 10). A
// work area lower than one window still gets one row.
QPoint TiledPosition(int WorkAreaHeight, QSize Window, int AInstance);

// APath shortened to MaxWidth pixels by replacing directories before the
// file name with "..." (or keeping only its end); unchanged when it fits
// or when no shortening fits.
QString MinimizeName(const QString &APath, int MaxWidth, const TTextWidthFunc &TextWidth);
// The hint line: MinimizeName, then, while still too wide, the first three
// characters dropped (while at least 10 remain) and "..." put in front.
QString FitHintText(const QString &AHint, int MaxWidth, const TTextWidthFunc &TextWidth);

// ---------------------------------------------------------------------------
// The window

// Pending display values, copied to the controls by UpdateView.
struct TUpdateStatus {
    QString Subject;     // item kind word of the file line
    QString Action;      // action text of the file line
    QString Hinweis;     // hint line
    QString Status1, Status2;
    QString Speed;
    QString ElapsedTime;
    QString TotAmount;   // the total amount ("n% of <TotAmount>")
    int64_t FSize = 0;   // bytes of the current item (acZipVerify: files)
    int32_t Single = 0;  // file bar
    int32_t Total = 0;   // total bar
};

// Parts of the window that have no control-state object; the view reads
// them back from the logic when told.
enum class TProgressViewPart : uint8_t {
    vpCaption,     // Caption()
    vpButtonGlyph, // ButtonImage()
    vpButtonRole,  // ButtonIsCancel(), ButtonIsDefault()
    vpPauseGlyph,  // PauseImage()
    vpStatusColor, // StatusColor()
};

// What the logic needs of a real window.
class IProgressWindowView {
public:
    virtual ~IProgressWindowView() = default;
    virtual void Changed(TProgressViewPart APart) = 0;

    virtual bool IsShown() const = 0;
    virtual bool IsMinimized() const = 0;
    // Shows the window without activating it / hides it (no close handler:
    // the logic runs its own).
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    // Puts the window on top of the topmost band, without moving, sizing or
    // activating it.
    virtual void BringToTop() = 0;
    // Paints the pending changes now.
    virtual void RepaintNow() = 0;

    // Outer frame in screen coordinates.
    virtual QRect Frame() const = 0;
    virtual void MoveTo(QPoint ATopLeft) = 0;
    virtual int ClientWidth() const = 0;
    virtual void SetClientWidth(int AWidth) = 0;
    // Client height from the parts now visible.
    virtual void FitHeight() = 0;
    virtual TMonitorList Monitors() const = 0;

    // Pixel width of a text in the labels' font.
    virtual int TextWidth(const QString &AText) const = 0;
    virtual int FileBarWidth() const = 0;
    // Left edge of the destination text inside the window.
    virtual int DestinationLeft() const = 0;
    // Screen rectangle of the Cancel/Done button.
    virtual QRect ButtonRect() const = 0;

    virtual bool ApplicationActive() const = 0;
    virtual QString ApplicationTitle() const = 0;
    virtual void SetApplicationTitle(const QString &ATitle) = 0;
    virtual void Beep(TResultStatus AKind) = 0;
};

// Asks how to cancel an automatic task at APos under ATitle: 0 only the
// current task, 1 also the remaining ones, -1 continue.
using TCancelChoiceFunc = std::function<int(QPoint APos, const QString &ATitle)>;
// The question itself: the choice dialog (SelectChoiceAt).
int AskCancelAutoTask(QPoint APos, const QString &ATitle);

class TZeigFortschritt : public IProgressWindow {
public:
    TZeigFortschritt();
    ~TZeigFortschritt() override;
    TZeigFortschritt(const TZeigFortschritt &) = delete;
    TZeigFortschritt &operator=(const TZeigFortschritt &) = delete;

    // The window this logic shows; owned from now on (nullptr: none).
    void SetView(std::unique_ptr<IProgressWindowView> AView);
    IProgressWindowView *View() const { return FView.get(); }

    // --- IProgressWindow
    void ShowProgress(IRunControl *ARunControl, const QString &Task, const QString &Desc, const QString &Dest,
                      TProgressOptions AOptions, int32_t SelectedAction, int32_t Wait, bool Swapped) override;
    TModalResult ShowStatus(TResultStatus Mode, const QString &Hinweis, const QString &AStatus1,
                            const QString &AStatus2, TColor AColor, int32_t Wait) override;
    TModalResult Terminate() override;
    void CloseStatus() override;

    void SetTitel(const QString &AValue) override;
    void SetDescription(const QString &AValue) override;
    void SetDestination(const QString &AValue) override;
    void SetActionHint(const QString &AValue) override;
    void SetAction(TFileAction AValue) override;
    void SetElapsedTime(TDateTime AValue) override;
    void SetPauseEnabled(bool AValue) override;
    void SetPrompt(const QString &AValue) override;
    void SetSourceType(TSourceSelection AValue) override;
    void SetSpeed(const QString &AValue) override;
    TNewProgressBarStyle StepStyle() const override { return EinzelBalken.Style(); }
    void SetStepStyle(TNewProgressBarStyle AValue) override;
    void SetStepProgress(int32_t AValue) override;
    void SetStepAmount(int64_t AValue) override;
    void SetTotalProgress(int32_t AValue) override;
    void SetTempTotalProgress(int32_t AValue) override;
    void UpdateTotalProgress(int32_t AValue) override;
    void SetTotalAmount(const QString &AValue) override;
    void WriteStatus(int32_t AIndex, const QString &AText) override;
    void UpdatePrompt(TSourceSelection ASource, const QString &AHint, const QString &APrompt,
                      int64_t FileSize) override;
    void UpdateView() override;
    void ResetPosition() override;
    void ResetSize() override;

    QString TaskDescription() const override { return TaskDesc; }
    int32_t LockStatus() const override { return FLockStatus; }
    void SetLockStatus(int32_t AValue) override { FLockStatus = AValue; }
    bool Stopped() const override { return FStopped; }
    void SetStopped(bool AValue) override { FStopped = AValue; }
    bool Paused() const override { return FPaused; }

    // --- Beyond the interface
    // Position memory in section [StatusWindow] of the program INI
    // (remembered by LoadFromIni; SaveToIni writes nothing without it).
    void LoadFromIni(const QString &AIniName);
    void SaveToIni();
    void WriteVersion(const QString &AVersion, const QString &AUser);
    // Hides a window that no status page closed (ShowStatus without a page
    // and Terminate leave it open for the next task).
    void Close();

    // The user pressed the minimise button; cleared when the window shows.
    bool Minimized() const { return FMinimized; }
    // Set while a run shows progress and during a status page.
    bool IsActive() const { return FIsActive; }
    // From ShowProgress until the run's status page or Terminate.
    bool Running() const { return FRunning; }
    // False while the program is minimised: the timer leaves the controls.
    bool AutoUpdate() const { return FAutoUpdate; }
    void SetAutoUpdate(bool AValue) { FAutoUpdate = AValue; }
    // Keep the window topmost while a run shows progress.
    bool ShowOnTop() const { return FShowOnTop; }
    void SetShowOnTop(bool AValue) { FShowOnTop = AValue; }
    const TUpdateStatus &PendingStatus() const { return FUpdateStatus; }
    int32_t LastTotal() const { return FLastTotal; }
    TFileAction CurrentAction() const { return FAction; }
    TSourceSelection SourceType() const { return FSource; }
    bool CloseWin() const { return FCloseWin; }
    bool ShowLog() const { return FShowLog; }
    int CloseCount() const { return FCloseCount; }
    QPoint Position1() const { return {FLeft1, FTop1}; }
    QPoint Position2() const { return {FLeft2, FTop2}; }
    int DefWidth() const { return FDefWidth; }
    // Client width from which rgAction gets five columns (set by the view).
    void SetActionWidth(int AValue) { FActWidth = AValue; }

    // The cancel question of an automatic task (default AskCancelAutoTask).
    TCancelChoiceFunc CancelChoice;

    // What the view shows beyond the control states.
    const QString &Caption() const { return FCaption; }
    int ButtonImage() const { return FButtonImage; }
    bool ButtonIsCancel() const { return FButtonIsCancel; }
    bool ButtonIsDefault() const { return FButtonIsDefault; }
    int PauseImage() const { return FPauseImage; }
    TColor StatusColor() const { return FStatusColor; }
    bool UpdateTimerActive() const { return FUpdateTimer.isActive(); }
    bool WaitTimerActive() const { return FWaitTimer.isActive(); }

    // Handlers the view (and tests) call.
    void UpdateTimerTick();
    void WaitTimerTick();
    // F11: the total progress, or on the status page its status lines.
    void ShowProgressInfo();
    // The window was resized: rgAction's columns follow its width.
    void FormResize();
    // The window is being closed (by the user or the logic).
    void FormClose();

    // --- Controls
    TControlState laDesc, ZielLabel;
    TControlState FileLabel, ActionLabel, SpeedLabel;
    TControlState HinweisLabel, FilePercentLabel;
    TNewProgressBarState EinzelBalken, GesamtBalken;
    TControlState TotalLabel, StatusLabel1, StatusLabel2, TotalPercentLabel;
    TCheckBoxState cbRepeat;
    TRadioGroupState rgAction;
    TButtonState Button, ViewLog, MinimizeBtn, PauseBtn;
    TControlState VersionLabel, UserLabel;

private:
    void ClearView();
    void ShowForm();
    void CloseForm();
    void ButtonClick();
    void PauseBtnClick();
    void MinimizeBtnClick();
    void ViewLogClick();
    void SetCaptionText(const QString &AValue);
    void SetButtonImage(int AIndex);
    void SetButtonRole(bool ACancel, bool ADefault);
    void SetPauseImage(int AIndex);
    void SetStatusColor(TColor AColor);
    void SetDoneCaption();
    bool IsShown() const;
    QString PercentOf(int32_t APercent, const QString &AAmount) const;
    // Queues ACall to the run's control, if any; dropped when the run has
    // ended before it arrives.
    void Post(std::function<void(IRunControl &)> ACall);
    // The run has ended (status page or Terminate).
    void EndRun();
    int CurrentClientWidth() const;
    QPoint CurrentPosition() const;
    TMonitorList CurrentMonitors() const;

    QString FIniName;
    QString ATitel;
    QString TaskDesc;
    int FDefWidth = 571;
    int FActWidth = 0;
    int32_t FLastTotal = 0;
    int FTop1 = 50, FTop2 = 50, FLeft1 = 50, FLeft2 = 50;
    int32_t FSelAction = 0;
    int FCloseCount = 0;
    int32_t FLockStatus = 0;
    bool FCloseWin = false;
    bool FIsBackup = false;
    bool FIsAutoTask = false;
    bool FShowLog = false;
    bool FSwappedStatus = false;
    bool FUseFirstStatus = true;
    IRunControl *FRunControl = nullptr;
    bool FRunning = false;
    uint64_t FRunSerial = 0;
    TSourceSelection FSource = TSourceSelection::ssNoSrc;
    TUpdateStatus FUpdateStatus;
    TFileAction FAction = TFileAction::acNone;
    bool FMinimized = false;
    bool FIsActive = false;
    bool FStopped = false;
    bool FPaused = false;
    bool FAutoUpdate = false;
    bool FShowOnTop = false;
    QString FCaption;
    int FButtonImage = kImgCancel;
    bool FButtonIsCancel = true;
    bool FButtonIsDefault = false;
    int FPauseImage = kImgPause;
    TColor FStatusColor = clWindowText;
    QTimer FUpdateTimer;
    QTimer FWaitTimer;
    // Context of queued run-control calls: they die with the window.
    QObject FContext;
    // Declared last: the view goes first, before the states it binds.
    std::unique_ptr<IProgressWindowView> FView;
};

} // namespace vl
