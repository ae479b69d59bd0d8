#include "ui/qt/StatusView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

namespace vl {

namespace {

// Design geometry: two text lines, the bar, the button row.
constexpr int kLeft = 8;
constexpr int kStatusTop = 8;
constexpr int kInfoTop = 28;
constexpr int kLineHeight = 16;
constexpr int kBarTop = 50;
constexpr int kBarHeight = 16;
constexpr int kButtonTop = 74;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 27;

} // namespace

TStatusView::TStatusView(TStatusWindow &ALogic)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), FLogic(ALogic),
      FStatus(new QLabel(this)), FInfo(new QLabel(this)), FBar(new QProgressBar(this)),
      FCancel(new QPushButton(this))
{
    setObjectName(QStringLiteral("StatusWindow"));
    FStatus->setObjectName(QStringLiteral("StatusLabel"));
    FInfo->setObjectName(QStringLiteral("ProgLabel"));
    FBar->setObjectName(QStringLiteral("ProgressBar"));
    FCancel->setObjectName(QStringLiteral("btnCancel"));
    for (QLabel *label : {FStatus, FInfo})
        label->setTextFormat(Qt::PlainText);
    FBar->setTextVisible(false);
    FBar->setBackgroundRole(QPalette::Light);
    FCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    setWindowTitle(FLogic.Form.Caption());
    BindLabel(FStatus, FLogic.StatusLabel);
    BindLabel(FInfo, FLogic.ProgLabel);
    BindButton(FCancel, FLogic.btnCancel);
    FFormObserver = FLogic.Form.Subscribe([this](TControlState &, TStateAspect aspect) {
        if (aspect == TStateAspect::saCaption)
            setWindowTitle(FLogic.Form.Caption());
    });
    FBarObserver = FLogic.ProgressBar.Subscribe([this](TControlState &, TStateAspect aspect) {
        if (aspect == TStateAspect::saVisible)
            ShowBar();
    });
    FLogic.ProgressBar.OnChange = [this] { ShowBar(); };
    FCancelObserver = FLogic.btnCancel.Subscribe([this](TControlState &, TStateAspect aspect) {
        if (aspect == TStateAspect::saVisible)
            FitHeight();
    });

    setMinimumWidth(kDesignWidth);
    resize(kDesignWidth, kDesignHeight);
    // A hidden window gets its resize event only when shown, but the lines
    // are fitted to the bar's width before that.
    Arrange();
    ShowBar();
    FitHeight();
}

TStatusView::~TStatusView()
{
    FLogic.Form.Unsubscribe(FFormObserver);
    FLogic.ProgressBar.Unsubscribe(FBarObserver);
    FLogic.ProgressBar.OnChange = nullptr;
    FLogic.btnCancel.Unsubscribe(FCancelObserver);
}

void TStatusView::ShowBar()
{
    const TStatusWindow::TBarState &bar = FLogic.ProgressBar;
    FBar->setVisible(bar.Visible());
    if (bar.Style() == TNewProgressBarStyle::npsNormal) {
        FBar->setRange(bar.Min(), bar.Max());
        FBar->setValue(bar.Position());
    } else {
        // A moving bar for a step without measurable progress.
        FBar->setRange(0, 0);
    }
}

void TStatusView::FitHeight()
{
    // Without Cancel the button row is cut off.
    setFixedHeight(FLogic.btnCancel.Visible() ? kButtonTop + kButtonHeight + 5 : kButtonTop);
}

void TStatusView::resizeEvent(QResizeEvent *AEvent)
{
    QWidget::resizeEvent(AEvent);
    Arrange();
}

void TStatusView::Arrange()
{
    const int width = this->width() - 2 * kLeft;
    FStatus->setGeometry(kLeft, kStatusTop, width, kLineHeight);
    FInfo->setGeometry(kLeft, kInfoTop, width, kLineHeight);
    FBar->setGeometry(kLeft, kBarTop, width, kBarHeight);
    FCancel->setGeometry((this->width() - kButtonWidth) / 2, kButtonTop, kButtonWidth, kButtonHeight);
}

void TStatusView::keyPressEvent(QKeyEvent *AEvent)
{
    if (AEvent->key() == Qt::Key_Escape && FLogic.KeyEscape())
        return;
    QWidget::keyPressEvent(AEvent);
}

void TStatusView::closeEvent(QCloseEvent *AEvent)
{
    FLogic.UserClosed();
    QWidget::closeEvent(AEvent);
}

void TStatusView::ShowAt(QPoint APos)
{
    PlaceFormAt(this, APos);
    show();
    raise();
}

void TStatusView::Repaint()
{
    repaint();
}

void TStatusView::Hide()
{
    hide();
}

int TStatusView::TextAreaWidth() const
{
    return FBar->width();
}

int TStatusView::TextWidth(const QString &AText) const
{
    return FStatus->fontMetrics().horizontalAdvance(AText);
}

std::unique_ptr<IStatusWindow> CreateQtStatusWindow()
{
    auto window = std::make_unique<TStatusWindow>();
    window->SetView(std::make_unique<TStatusView>(*window));
    return window;
}

} // namespace vl
