#include "ui/qt/ProgressView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/ProgressBars.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/QtStyles.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace vl {

namespace {

constexpr int kDesignHeight = 241;
constexpr int kBarHeight = 14;
constexpr QSize kButtonSize(126, 41);
constexpr QSize kGlyphButtonSize(31, 31);
constexpr QSize kGlyphSize(20, 20);

QLabel *MakeLabel(QWidget *AParent, const char *AName, TControlState &AState, bool ABold = false)
{
    auto *label = new QLabel(AParent);
    label->setObjectName(QString::fromLatin1(AName));
    // Paths and names are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    if (ABold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    BindLabel(label, AState);
    return label;
}

// A label whose text must never widen the window: the logic shortens it.
void LetShrink(QLabel *ALabel)
{
    ALabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ALabel->setMinimumWidth(10);
}

} // namespace

TProgressView::TProgressView(TZeigFortschritt &ALogic) : FLogic(ALogic)
{
    setObjectName(QStringLiteral("ZeigFortschritt"));
    // Minimise and maximise, but no close box: a run ends through Cancel.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(10, 8, 10, 6);
    main->setSpacing(4);

    auto *destRow = new QHBoxLayout;
    destRow->setSpacing(10);
    destRow->addWidget(MakeLabel(this, "laDesc", ALogic.laDesc, true));
    FZiel = MakeLabel(this, "ZielLabel", ALogic.ZielLabel);
    LetShrink(FZiel);
    destRow->addWidget(FZiel, 1);
    main->addLayout(destRow);

    auto *fileRow = new QHBoxLayout;
    fileRow->setSpacing(0);
    fileRow->addWidget(MakeLabel(this, "FileLabel", ALogic.FileLabel, true));
    QLabel *action = MakeLabel(this, "ActionLabel", ALogic.ActionLabel, true);
    LetShrink(action);
    fileRow->addWidget(action, 1);
    QLabel *speed = MakeLabel(this, "SpeedLabel", ALogic.SpeedLabel);
    speed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fileRow->addWidget(speed);
    main->addLayout(fileRow);

    auto *hintRow = new QHBoxLayout;
    hintRow->setSpacing(10);
    FHinweis = MakeLabel(this, "HinweisLabel", ALogic.HinweisLabel);
    LetShrink(FHinweis);
    hintRow->addWidget(FHinweis, 1);
    QLabel *filePercent = MakeLabel(this, "FilePercentLabel", ALogic.FilePercentLabel);
    filePercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    hintRow->addWidget(filePercent);
    hintRow->addSpacing(5);
    main->addLayout(hintRow);

    FFileBar = new TNewProgressBar(ALogic.EinzelBalken, this);
    FFileBar->setObjectName(QStringLiteral("EinzelBalken"));
    FFileBar->setFixedHeight(kBarHeight);
    main->addWidget(FFileBar);
    main->addSpacing(2);
    FTotalBar = new TNewProgressBar(ALogic.GesamtBalken, this);
    FTotalBar->setObjectName(QStringLiteral("GesamtBalken"));
    FTotalBar->setFixedHeight(kBarHeight);
    main->addWidget(FTotalBar);

    auto *totalRow = new QHBoxLayout;
    totalRow->setSpacing(10);
    totalRow->addWidget(MakeLabel(this, "TotalLabel", ALogic.TotalLabel, true), 0, Qt::AlignTop);
    auto *statusLines = new QVBoxLayout;
    statusLines->setSpacing(0);
    FStatus1 = MakeLabel(this, "StatusLabel1", ALogic.StatusLabel1);
    FStatus2 = MakeLabel(this, "StatusLabel2", ALogic.StatusLabel2);
    LetShrink(FStatus1);
    LetShrink(FStatus2);
    statusLines->addWidget(FStatus1);
    statusLines->addWidget(FStatus2);
    totalRow->addLayout(statusLines, 1);
    FRepeat = new QCheckBox(this);
    FRepeat->setObjectName(QStringLiteral("cbRepeat"));
    BindCheckBox(FRepeat, ALogic.cbRepeat);
    totalRow->addWidget(FRepeat, 0, Qt::AlignTop);
    QLabel *totalPercent = MakeLabel(this, "TotalPercentLabel", ALogic.TotalPercentLabel);
    totalPercent->setAlignment(Qt::AlignRight | Qt::AlignTop);
    totalRow->addWidget(totalPercent, 0, Qt::AlignTop);
    totalRow->addSpacing(5);
    main->addLayout(totalRow);

    FAction = new QGroupBox(this);
    FAction->setObjectName(QStringLiteral("rgAction"));
    BindRadioGroup(FAction, ALogic.rgAction);
    main->addWidget(FAction);

    auto *buttons = new QGridLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setColumnStretch(0, 1);
    buttons->setColumnStretch(2, 1);
    auto *versionLines = new QVBoxLayout;
    versionLines->setSpacing(0);
    for (auto [name, state] : {std::pair{"VersionLabel", &ALogic.VersionLabel}, {"UserLabel", &ALogic.UserLabel}}) {
        QLabel *label = MakeLabel(this, name, *state);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
        label->setForegroundRole(QPalette::PlaceholderText);
        versionLines->addWidget(label);
    }
    versionLines->addStretch();
    buttons->addLayout(versionLines, 0, 0, Qt::AlignLeft | Qt::AlignBottom);

    FButton = new QPushButton(this);
    FButton->setObjectName(QStringLiteral("Button"));
    FButton->setFixedSize(kButtonSize);
    FButton->setIconSize(kGlyphSize);
    BindButton(FButton, ALogic.Button);
    buttons->addWidget(FButton, 0, 1, Qt::AlignCenter);

    auto *rightButtons = new QHBoxLayout;
    rightButtons->setSpacing(5);
    rightButtons->addStretch();
    FViewLog = new QPushButton(this);
    FViewLog->setObjectName(QStringLiteral("ViewLog"));
    BindButton(FViewLog, ALogic.ViewLog);
    rightButtons->addWidget(FViewLog, 0, Qt::AlignVCenter);
    FMinimizeBtn = new QToolButton(this);
    FMinimizeBtn->setObjectName(QStringLiteral("MinimizeBtn"));
    FMinimizeBtn->setFixedSize(kGlyphButtonSize);
    FMinimizeBtn->setIconSize(kGlyphSize);
    BindButton(FMinimizeBtn, ALogic.MinimizeBtn);
    rightButtons->addWidget(FMinimizeBtn, 0, Qt::AlignVCenter);
    FPauseBtn = new QToolButton(this);
    FPauseBtn->setObjectName(QStringLiteral("PauseBtn"));
    FPauseBtn->setFixedSize(kGlyphButtonSize);
    FPauseBtn->setIconSize(kGlyphSize);
    BindButton(FPauseBtn, ALogic.PauseBtn);
    rightButtons->addWidget(FPauseBtn, 0, Qt::AlignVCenter);
    buttons->addLayout(rightButtons, 0, 2);
    main->addLayout(buttons);

    // From this width on the subsequent actions fit in one row.
    const QMargins m = main->contentsMargins();
    ALogic.SetActionWidth(FAction->sizeHint().width() + m.left() + m.right());
    FAction->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // A screen reader reaches the texts with the Tab key.
    SetReadOnlyTabStops(this, QAccessible::isActive());
    Changed(TProgressViewPart::vpCaption);
    Changed(TProgressViewPart::vpButtonRole);
    RefreshGlyphs();
    resize(ALogic.DefWidth(), kDesignHeight);
    FitHeight();
}

TProgressView::~TProgressView() = default;

QLabel *TProgressView::Label(const char *AName) const
{
    return findChild<QLabel *>(QString::fromLatin1(AName));
}

QIcon TProgressView::Glyph(int AIndex) const
{
    switch (AIndex) {
    case kImgCancel:
        return style()->standardIcon(QStyle::SP_DialogCancelButton);
    case kImgWarning:
        return style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case kImgSuccess:
        return style()->standardIcon(QStyle::SP_DialogApplyButton);
    case kImgContinue:
        return style()->standardIcon(QStyle::SP_MediaPlay);
    case kImgPause:
        return style()->standardIcon(QStyle::SP_MediaPause);
    default:
        return {};
    }
}

QIcon TProgressView::MinimizeGlyph() const
{
    // A bar at the bottom, in the button's text colour, so it shows under
    // a dark palette as well.
    QPixmap pixmap(kGlyphSize * devicePixelRatioF());
    pixmap.setDevicePixelRatio(devicePixelRatioF());
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.fillRect(QRect(5, 13, 10, 2), palette().color(QPalette::ButtonText));
    return QIcon(pixmap);
}

void TProgressView::RefreshGlyphs()
{
    FMinimizeBtn->setIcon(MinimizeGlyph());
    Changed(TProgressViewPart::vpButtonGlyph);
    Changed(TProgressViewPart::vpPauseGlyph);
    Changed(TProgressViewPart::vpStatusColor);
}

void TProgressView::changeEvent(QEvent *AEvent)
{
    QWidget::changeEvent(AEvent);
    // Glyphs drawn in palette colours follow a change of style; none exist
    // while the constructor is still making the widgets.
    if ((AEvent->type() == QEvent::PaletteChange || AEvent->type() == QEvent::StyleChange) && FPauseBtn)
        RefreshGlyphs();
}

void TProgressView::ShowStatusColor()
{
    const TColor colour = FLogic.StatusColor();
    for (QLabel *label : {FStatus1, FStatus2}) {
        QPalette pal = label->palette();
        // Black is what runs pass for "normal": the palette's text colour,
        // so a dark style keeps it readable.
        const QColor c = colour == 0 || colour == clWindowText ? palette().color(QPalette::WindowText)
                                                               : ToQColor(colour, palette());
        pal.setColor(QPalette::WindowText, c);
        label->setPalette(pal);
    }
}

void TProgressView::Changed(TProgressViewPart APart)
{
    switch (APart) {
    case TProgressViewPart::vpCaption:
        setWindowTitle(FLogic.Caption());
        break;
    case TProgressViewPart::vpButtonGlyph:
        FButton->setIcon(Glyph(FLogic.ButtonImage()));
        break;
    case TProgressViewPart::vpButtonRole:
        FButton->setDefault(FLogic.ButtonIsDefault());
        break;
    case TProgressViewPart::vpPauseGlyph:
        FPauseBtn->setIcon(Glyph(FLogic.PauseImage()));
        break;
    case TProgressViewPart::vpStatusColor:
        ShowStatusColor();
        break;
    }
}

void TProgressView::ShowWindow()
{
    show();
}

void TProgressView::HideWindow()
{
    hide();
    // The next run starts in the normal band again.
    if (windowFlags() & Qt::WindowStaysOnTopHint)
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
}

void TProgressView::BringToTop()
{
    if (!(windowFlags() & Qt::WindowStaysOnTopHint)) {
        const QPoint pos = this->pos();
        const bool shown = isVisible();
        // Changing the flags hides the window; it comes back where it was.
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        move(pos);
        if (shown)
            show();
    }
    raise();
}

void TProgressView::RepaintNow()
{
    if (isVisible())
        repaint();
}

void TProgressView::SetClientWidth(int AWidth)
{
    resize(AWidth, height());
}

void TProgressView::FitHeight()
{
    layout()->activate();
    const int h = layout()->totalHeightForWidth(width()) > 0 ? layout()->totalHeightForWidth(width())
                                                               : layout()->totalSizeHint().height();
    setFixedHeight(h);
}

TMonitorList TProgressView::Monitors() const
{
    return CurrentMonitors();
}

int TProgressView::TextWidth(const QString &AText) const
{
    return FHinweis->fontMetrics().horizontalAdvance(AText);
}

int TProgressView::FileBarWidth() const
{
    if (!isVisible())
        layout()->activate();
    return FFileBar->width();
}

int TProgressView::DestinationLeft() const
{
    return FZiel->x();
}

QRect TProgressView::ButtonRect() const
{
    return QRect(FButton->mapToGlobal(QPoint(0, 0)), FButton->size());
}

bool TProgressView::ApplicationActive() const
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

QString TProgressView::ApplicationTitle() const
{
    return QGuiApplication::applicationDisplayName();
}

void TProgressView::SetApplicationTitle(const QString &ATitle)
{
    if (QGuiApplication::applicationDisplayName() != ATitle)
        QGuiApplication::setApplicationDisplayName(ATitle);
}

void TProgressView::Beep(TResultStatus)
{
    // The desktop has one bell for every kind of outcome.
    QApplication::beep();
}

void TProgressView::closeEvent(QCloseEvent *AEvent)
{
    // The window has no close box: a run ends by Cancel. A close asked by
    // the window manager (Alt+F4) would hide Cancel mid-run.
    if (FLogic.Running()) {
        AEvent->ignore();
        return;
    }
    FLogic.FormClose();
    AEvent->accept();
    if (windowFlags() & Qt::WindowStaysOnTopHint)
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
}

void TProgressView::resizeEvent(QResizeEvent *AEvent)
{
    QWidget::resizeEvent(AEvent);
    if (FInResize)
        return;
    FInResize = true;
    FLogic.FormResize();
    FInResize = false;
}

void TProgressView::keyPressEvent(QKeyEvent *AEvent)
{
    switch (AEvent->key()) {
    case Qt::Key_F11:
        FLogic.ShowProgressInfo();
        return;
    case Qt::Key_Escape:
        if (FLogic.ButtonIsCancel())
            FLogic.Button.UserClick();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (FLogic.ButtonIsDefault() && !FButton->hasFocus())
            FLogic.Button.UserClick();
        else
            QWidget::keyPressEvent(AEvent);
        return;
    default:
        QWidget::keyPressEvent(AEvent);
    }
}

// ---------------------------------------------------------------------------

std::unique_ptr<TZeigFortschritt> CreateQtProgressWindow()
{
    auto window = std::make_unique<TZeigFortschritt>();
    window->SetView(std::make_unique<TProgressView>(*window));
    return window;
}

TProgressView *QtProgressView(TZeigFortschritt &AWindow)
{
    return dynamic_cast<TProgressView *>(AWindow.View());
}

} // namespace vl
