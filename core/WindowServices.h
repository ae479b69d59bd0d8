// What runs need from the program's windows, as interfaces: the progress
// window of a run, the status window of longer steps, and the services of
// the main window. A GUI program installs its windows at start; the
// defaults are headless: they never wait, answer questions as an
// unattended run must (through MessageService and PasswordService) and
// show progress as one line on stderr when stderr is a terminal.
#pragma once

#include "core/DateTime.h"
#include "core/MessageService.h"
#include "core/Progress.h"

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <chrono>
#include <cstdint>

namespace vl {

// ---------------------------------------------------------------------------
// Progress window

// What kind of item the file line names.
enum class TSourceSelection : uint8_t { ssNoSrc, ssFile, ssDir, ssZip, ssTempZip };
// Outcome shown by the status page.
enum class TResultStatus : uint8_t { psOK, psCancel, psError, psWarning };
// Options of a run display; a set of them is a bit mask (bit i = member i).
enum class TProgressOption : uint8_t { poBackup, poAction, poMinimize, poPause, poAutoTask };
using TProgressOptions = uint32_t;
constexpr TProgressOptions ProgressOptions(std::initializer_list<TProgressOption> AOptions)
{
    TProgressOptions set = 0;
    for (TProgressOption o : AOptions)
        set |= TProgressOptions(1) << unsigned(o);
    return set;
}
constexpr bool HasOption(TProgressOptions ASet, TProgressOption AOption)
{
    return (ASet >> unsigned(AOption)) & 1;
}
// Style of a progress bar: proportional, a block moving back and forth, a
// block running through again and again (for steps without measurable
// progress).
enum class TNewProgressBarStyle : uint8_t { npsNormal, npsReverse, npsContinuous };
// A colour as 0x00BBGGRR; values with a non-zero high byte are special
// (system) colours.
using TColor = int32_t;

// Result codes of the progress window's status page (ShowStatus and
// Terminate), possibly plus prLogShown.
inline constexpr TModalResult prNoAction = 1;
inline constexpr TModalResult prCancelled = 7;
inline constexpr TModalResult prShutdown = 9;
inline constexpr TModalResult prLogOff = 10;
inline constexpr TModalResult prStandby = 11;
inline constexpr TModalResult prHibernate = 12;
inline constexpr TModalResult prRepeat = 13;
inline constexpr TModalResult prLogShown = 256;

// The result code of the subsequent action at AIndex of the window's
// choice (0 none, 1 shutdown, 2 logoff, 3 standby, 4 hibernate).
TModalResult SubsequentActionResult(int32_t AIndex);

// What the progress window asks of the run it shows. Calls arrive in the
// thread that owns the window.
class IRunControl {
public:
    virtual ~IRunControl() = default;
    // Pause button: true pauses, false resumes; also true before the cancel
    // question and false when the user declines it.
    virtual void PauseRun(bool APause) = 0;
    // The user confirmed the cancel; ACancelAll also cancels the remaining
    // automatic tasks.
    virtual void CancelRun(bool ACancelAll) = 0;
    // Minimise button, with the current pause state.
    virtual void MinimizeRun(bool APaused) = 0;
    // Cancel pressed while the run waits for an external program
    // (LockStatus 2): stop waiting.
    virtual void StopWaiting() = 0;
};

// The progress window of every run: one object for the program's life,
// called from the thread that owns it.
class IProgressWindow {
public:
    virtual ~IProgressWindow() = default;

    // Starts a run display. ARunControl (may be null) receives the run-control
    // requests. The caption reads "<program> => Task"; Desc + ":" precedes the
    // destination Dest; SelectedAction presets the subsequent action (shown
    // with poAction). Wait < 0 prepares everything without showing the window.
    // Swapped makes status line 2 the primary one. Clears Stopped.
    virtual void ShowProgress(IRunControl *ARunControl, const QString &Task, const QString &Desc,
                              const QString &Dest, TProgressOptions AOptions, int32_t SelectedAction, int32_t Wait,
                              bool Swapped) = 0;
    // The status page at the end of a run; returns its result code (pr...).
    // Wait: seconds in the low 12 bits, bit 4096 = no count-down after a
    // failure; -1 no page, other negative values a page only for psCancel
    // and psError; 0 a page without count-down.
    virtual TModalResult ShowStatus(TResultStatus Mode, const QString &Hinweis, const QString &AStatus1,
                                    const QString &AStatus2, TColor AColor, int32_t Wait) = 0;
    // Ends the display without a status page; returns the subsequent action.
    virtual TModalResult Terminate() = 0;
    // Lets a waiting status page end (unless the display updates itself).
    virtual void CloseStatus() = 0;

    virtual void SetTitel(const QString &AValue) = 0;
    virtual void SetDescription(const QString &AValue) = 0;
    virtual void SetDestination(const QString &AValue) = 0;
    // A free action text; replaces the text of Action (empty: nothing).
    virtual void SetActionHint(const QString &AValue) = 0;
    virtual void SetAction(TFileAction AValue) = 0;
    virtual void SetElapsedTime(TDateTime AValue) = 0;
    virtual void SetPauseEnabled(bool AValue) = 0;
    // The hint line (usually a path).
    virtual void SetPrompt(const QString &AValue) = 0;
    virtual void SetSourceType(TSourceSelection AValue) = 0;
    virtual void SetSpeed(const QString &AValue) = 0;
    virtual TNewProgressBarStyle StepStyle() const = 0;
    virtual void SetStepStyle(TNewProgressBarStyle AValue) = 0;
    // Percent of the current item.
    virtual void SetStepProgress(int32_t AValue) = 0;
    // Size of the current item (bytes; a number of files for acZipVerify).
    virtual void SetStepAmount(int64_t AValue) = 0;
    // Percent of the whole run (shown as 99 at most until the status page);
    // becomes the base of TempTotalProgress.
    virtual void SetTotalProgress(int32_t AValue) = 0;
    // Base plus AValue, a temporary advance within the current step.
    virtual void SetTempTotalProgress(int32_t AValue) = 0;
    // Adds AValue to the base.
    virtual void UpdateTotalProgress(int32_t AValue) = 0;
    virtual void SetTotalAmount(const QString &AValue) = 0;
    // Status line AIndex (1 or 2).
    virtual void WriteStatus(int32_t AIndex, const QString &AText) = 0;
    // Source kind, action text (when AHint is non-empty), item size and
    // prompt at once.
    virtual void UpdatePrompt(TSourceSelection ASource, const QString &AHint, const QString &APrompt,
                              int64_t FileSize) = 0;
    // Shows the pending texts and bars now.
    virtual void UpdateView() = 0;
    virtual void ResetPosition() = 0;
    virtual void ResetSize() = 0;

    // The task given to ShowProgress.
    virtual QString TaskDescription() const = 0;
    // 0 normal; 1 a question is open (the window's buttons do nothing);
    // 2 the run waits for an external program (Cancel stops that wait).
    virtual int32_t LockStatus() const = 0;
    virtual void SetLockStatus(int32_t AValue) = 0;
    // The user confirmed a cancel; runs also set it when they stop.
    virtual bool Stopped() const = 0;
    virtual void SetStopped(bool AValue) = 0;
    virtual bool Paused() const = 0;

    // Questions with the window's buttons locked (LockStatus 1 meanwhile).
    // Yes/No; true on Yes.
    virtual bool Confirm(const QString &Msg);
    virtual void ShowError(const QString &Msg);
    virtual TModalResult GetPassword(const QString &Title, const QString &Prompt, bool Skip, QByteArray &Pwd);
    virtual TModalResult GetPassword(const QString &Title, const QString &Prompt, bool Skip, bool Enc,
                                     QByteArray &Pwd, int32_t &EncMode);
};

// One line of progress on a terminal, rewritten in place. On anything that
// is not a terminal it writes nothing.
class TTerminalLine {
public:
    explicit TTerminalLine(int AFd);
    bool IsTerminal() const { return FIsTerminal; }
    // Rewrites the line with AText cut to the terminal width (keeping its
    // end); at most every 100 ms unless AForce.
    void Show(const QString &AText, bool AForce);
    // A non-empty AText replaces the line and stays (the next output starts
    // on a new line); an empty one clears a shown line.
    void Finish(const QString &AText);

private:
    QByteArray Fit(const QString &AText) const;
    void Write(const QByteArray &ABytes) const;

    int FFd;
    bool FIsTerminal;
    bool FOpen = false;
    bool FShownOnce = false;
    std::chrono::steady_clock::time_point FLastShow;
};

// Keeps the state runs read back (Stopped, LockStatus, the task) and the
// result codes; on a terminal shows "<total>% <prompt>" on stderr while a
// run is displayed (Wait >= 0), and the outcome at its end.
class THeadlessProgressWindow : public IProgressWindow {
public:
    explicit THeadlessProgressWindow(int AFd = 2);

    void ShowProgress(IRunControl *ARunControl, const QString &Task, const QString &Desc, const QString &Dest,
                      TProgressOptions AOptions, int32_t SelectedAction, int32_t Wait, bool Swapped) override;
    TModalResult ShowStatus(TResultStatus Mode, const QString &Hinweis, const QString &AStatus1,
                            const QString &AStatus2, TColor AColor, int32_t Wait) override;
    TModalResult Terminate() override;
    void CloseStatus() override {}

    void SetTitel(const QString &) override {}
    void SetDescription(const QString &) override {}
    void SetDestination(const QString &) override {}
    void SetActionHint(const QString &) override {}
    void SetAction(TFileAction) override {}
    void SetElapsedTime(TDateTime) override {}
    void SetPauseEnabled(bool) override {}
    void SetPrompt(const QString &AValue) override;
    void SetSourceType(TSourceSelection) override {}
    void SetSpeed(const QString &) override {}
    TNewProgressBarStyle StepStyle() const override { return FStepStyle; }
    void SetStepStyle(TNewProgressBarStyle AValue) override { FStepStyle = AValue; }
    void SetStepProgress(int32_t) override {}
    void SetStepAmount(int64_t) override {}
    void SetTotalProgress(int32_t AValue) override;
    void SetTempTotalProgress(int32_t AValue) override;
    void UpdateTotalProgress(int32_t AValue) override;
    void SetTotalAmount(const QString &) override {}
    void WriteStatus(int32_t, const QString &) override {}
    void UpdatePrompt(TSourceSelection ASource, const QString &AHint, const QString &APrompt,
                      int64_t FileSize) override;
    void UpdateView() override;
    void ResetPosition() override {}
    void ResetSize() override {}

    QString TaskDescription() const override { return FTaskDesc; }
    int32_t LockStatus() const override { return FLockStatus; }
    void SetLockStatus(int32_t AValue) override { FLockStatus = AValue; }
    bool Stopped() const override { return FStopped; }
    void SetStopped(bool AValue) override { FStopped = AValue; }
    bool Paused() const override { return false; }

private:
    void ClearView();
    void ShowLine(bool AForce);

    TTerminalLine FLine;
    QString FTaskDesc;
    QString FPrompt;
    int32_t FLastTotal = 0;
    int32_t FTotal = 0;
    int32_t FLockStatus = 0;
    int32_t FActionIndex = 0;
    TNewProgressBarStyle FStepStyle = TNewProgressBarStyle::npsNormal;
    bool FStopped = false;
    bool FShown = false;
};

// ---------------------------------------------------------------------------
// Status window

// A small window for a longer step outside a run display: a title, a status
// line, an information line, an optional bar and an optional Cancel button.
class IStatusWindow {
public:
    virtual ~IStatusWindow() = default;
    // Opens the window at APos, or refreshes an open one: the title (kept
    // on an open window when Titel is empty), the status text Stat, a Cancel
    // button with AllowBreak. Only when it opens: AInterval > 0 a moving bar
    // stepped every AInterval ms, < 0 a percent bar from 0, 0 no bar.
    // Clears Stopped.
    virtual void ShowStatus(QPoint APos, const QString &Titel, const QString &Stat, bool AllowBreak,
                            int32_t AInterval) = 0;
    virtual void SetStatus(const QString &AValue) = 0;
    virtual void SetInfo(const QString &AValue) = 0;
    // Percent, clamped to 0..100.
    virtual void SetProgress(int32_t AValue) = 0;
    // The user pressed Cancel since the last ShowStatus.
    virtual bool Stopped() const = 0;
    virtual bool Visible() const = 0;
    virtual void Close() = 0;
};

// Never stopped; on a terminal shows "<title> - <status> - <info>" (with the
// percent of a percent bar) on stderr while open.
class THeadlessStatusWindow : public IStatusWindow {
public:
    explicit THeadlessStatusWindow(int AFd = 2);

    void ShowStatus(QPoint APos, const QString &Titel, const QString &Stat, bool AllowBreak,
                    int32_t AInterval) override;
    void SetStatus(const QString &AValue) override;
    void SetInfo(const QString &AValue) override;
    void SetProgress(int32_t AValue) override;
    bool Stopped() const override { return false; }
    bool Visible() const override { return FVisible; }
    void Close() override;

private:
    void ShowLine(bool AForce);

    TTerminalLine FLine;
    QString FTitel;
    QString FStatus;
    QString FInfo;
    int32_t FProgress = 0;
    bool FPercentBar = false;
    bool FVisible = false;
};

// ---------------------------------------------------------------------------
// Main window

// Progress states of the program's task-bar entry.
inline constexpr int32_t tbsNoProgress = 0;
inline constexpr int32_t tbsIndeterminate = 1;
inline constexpr int32_t tbsNormal = 2;
inline constexpr int32_t tbsPaused = 8;

// What other windows use of the main window and the program shell.
class IMainWindowServices {
public:
    virtual ~IMainWindowServices() = default;
    // Progress state of the task-bar entry (tbs...); no failure is reported.
    virtual void SetTaskBarState(int32_t State) = 0;
    // Progress value of the task-bar entry: Position of MaxValue.
    virtual void UpdateTaskBar(uint32_t Position, uint32_t MaxValue) = 0;
    // Sounds are allowed (cleared by "nosound").
    virtual bool SoundOn() const = 0;
    // The number of this instance among parallel runs ("xinst"); 0 otherwise.
    virtual int32_t VlInstance() const = 0;
    // Due logoff backups run while the session waits to end; such a backup
    // cannot be cancelled.
    virtual bool IdleBackup() const = 0;
    // Dialogs skip rescaling their glyphs ("noscale").
    virtual bool NoScaling() const = 0;
};

// No main window: no task-bar entry, and the values of a program started
// without switches.
class TNullMainWindowServices : public IMainWindowServices {
public:
    void SetTaskBarState(int32_t) override {}
    void UpdateTaskBar(uint32_t, uint32_t) override {}
    bool SoundOn() const override { return true; }
    int32_t VlInstance() const override { return 0; }
    bool IdleBackup() const override { return false; }
    bool NoScaling() const override { return false; }
};

// ---------------------------------------------------------------------------
// The current windows (headless until a program installs others). The
// caller keeps ownership; nullptr restores the default.

IProgressWindow &ProgressWindow();
void SetProgressWindow(IProgressWindow *AWindow);
IStatusWindow &StatusWindow();
void SetStatusWindow(IStatusWindow *AWindow);
IMainWindowServices &MainWindowServices();
void SetMainWindowServices(IMainWindowServices *AServices);

} // namespace vl
