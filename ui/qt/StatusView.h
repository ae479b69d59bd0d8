// The status window on the screen: shows a TStatusWindow.
#pragma once

#include "core/WindowServices.h"
#include "ui/StatusWindow.h"

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vl {

class TStatusView : public QWidget, public IStatusView {
    Q_OBJECT
public:
    // Design client size.
    static constexpr int kDesignWidth = 441;
    static constexpr int kDesignHeight = 106;

    explicit TStatusView(TStatusWindow &ALogic);
    ~TStatusView() override;

    void ShowAt(QPoint APos) override;
    void Repaint() override;
    void Hide() override;
    int TextAreaWidth() const override;
    int TextWidth(const QString &AText) const override;

protected:
    void resizeEvent(QResizeEvent *AEvent) override;
    void keyPressEvent(QKeyEvent *AEvent) override;
    void closeEvent(QCloseEvent *AEvent) override;

private:
    void Arrange();
    void ShowBar();
    void FitHeight();

    TStatusWindow &FLogic;
    QLabel *FStatus;
    QLabel *FInfo;
    QProgressBar *FBar;
    QPushButton *FCancel;
    int FFormObserver = 0;
    int FBarObserver = 0;
    int FCancelObserver = 0;
};

// The status window of a program with a display.
std::unique_ptr<IStatusWindow> CreateQtStatusWindow();

} // namespace vl
