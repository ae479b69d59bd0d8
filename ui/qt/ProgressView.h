// The Qt view of the progress window (ui/ProgressWindow.h): a top-level
// window without a close box that shows TZeigFortschritt's controls and
// gives its buttons to the logic. The logic owns the view.
#pragma once

#include "ui/ProgressWindow.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace vl {

class TNewProgressBar;

class TProgressView : public QWidget, public IProgressWindowView {
    Q_OBJECT
public:
    explicit TProgressView(TZeigFortschritt &ALogic);
    ~TProgressView() override;

    // --- IProgressWindowView
    void Changed(TProgressViewPart APart) override;
    bool IsShown() const override { return isVisible(); }
    bool IsMinimized() const override { return isMinimized(); }
    void ShowWindow() override;
    void HideWindow() override;
    void BringToTop() override;
    void RepaintNow() override;
    QRect Frame() const override { return frameGeometry(); }
    void MoveTo(QPoint ATopLeft) override { move(ATopLeft); }
    int ClientWidth() const override { return width(); }
    void SetClientWidth(int AWidth) override;
    void FitHeight() override;
    TMonitorList Monitors() const override;
    int TextWidth(const QString &AText) const override;
    int FileBarWidth() const override;
    int DestinationLeft() const override;
    QRect ButtonRect() const override;
    bool ApplicationActive() const override;
    QString ApplicationTitle() const override;
    void SetApplicationTitle(const QString &ATitle) override;
    void Beep(TResultStatus AKind) override;

    // The widgets, for tests and screenshots.
    QPushButton *Button() const { return FButton; }
    QPushButton *ViewLog() const { return FViewLog; }
    QToolButton *PauseBtn() const { return FPauseBtn; }
    QToolButton *MinimizeBtn() const { return FMinimizeBtn; }
    QCheckBox *RepeatBox() const { return FRepeat; }
    QGroupBox *ActionGroup() const { return FAction; }
    QLabel *Label(const char *AName) const;
    TNewProgressBar *FileBar() const { return FFileBar; }
    TNewProgressBar *TotalBar() const { return FTotalBar; }

protected:
    void closeEvent(QCloseEvent *AEvent) override;
    void resizeEvent(QResizeEvent *AEvent) override;
    void keyPressEvent(QKeyEvent *AEvent) override;
    void changeEvent(QEvent *AEvent) override;

private:
    QIcon Glyph(int AIndex) const;
    QIcon MinimizeGlyph() const;
    void RefreshGlyphs();
    void ShowStatusColor();

    TZeigFortschritt &FLogic;
    QLabel *FHinweis = nullptr;
    QLabel *FZiel = nullptr;
    QLabel *FStatus1 = nullptr;
    QLabel *FStatus2 = nullptr;
    TNewProgressBar *FFileBar = nullptr;
    TNewProgressBar *FTotalBar = nullptr;
    QCheckBox *FRepeat = nullptr;
    QGroupBox *FAction = nullptr;
    QPushButton *FButton = nullptr;
    QPushButton *FViewLog = nullptr;
    QToolButton *FMinimizeBtn = nullptr;
    QToolButton *FPauseBtn = nullptr;
    bool FInResize = false;
};

// The program's progress window with its Qt view (the logic owns the view;
// QtProgressView gives it back).
std::unique_ptr<TZeigFortschritt> CreateQtProgressWindow();
TProgressView *QtProgressView(TZeigFortschritt &AWindow);

} // namespace vl
