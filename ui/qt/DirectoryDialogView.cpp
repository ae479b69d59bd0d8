#include "ui/qt/DirectoryDialogView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/MenuBinding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/ShellFolderViews.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vl {

namespace {

// Calls AShow for every change of the state while the widget lives.
void Observe(QWidget *AWidget, TControlState &AState, std::function<void(TStateAspect)> AShow)
{
    QPointer<QWidget> widget(AWidget);
    const int id = AState.Subscribe([widget, AShow](TControlState &, TStateAspect AAspect) {
        if (widget)
            AShow(AAspect);
    });
    TControlState *state = &AState;
    QObject::connect(AWidget, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
}

// A flat root button with its glyph above the caption, down while its
// state is checked. Clicking the button that is down roots the tree anew.
QToolButton *RootButton(QWidget *AParent, const char *AName, TRadioButtonState &AState, QStyle::StandardPixmap AIcon)
{
    auto *button = new QToolButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIcon(AParent->style()->standardIcon(AIcon));
    button->setText(AState.Caption());
    BindControl(button, AState);
    auto show = [button, &AState] {
        const QSignalBlocker block(button);
        button->setChecked(AState.Checked());
    };
    show();
    Observe(button, AState, [button, &AState, show](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saChecked)
            show();
        else if (AAspect == TStateAspect::saCaption)
            button->setText(AState.Caption());
    });
    QObject::connect(button, &QToolButton::clicked, button, [&AState, show] {
        if (AState.Checked() && AState.OnClick && AState.Enabled())
            AState.OnClick(AState);
        else
            AState.UserClick();
        show();
    });
    return button;
}

QToolButton *SpeedButton(QWidget *AParent, const char *AName, TButtonState &AState, QStyle::StandardPixmap AIcon)
{
    auto *button = new QToolButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setAutoRaise(true);
    BindButton(button, AState);
    button->setIcon(AParent->style()->standardIcon(AIcon));
    return button;
}

QPushButton *PushButton(QWidget *AParent, const char *AName, TButtonState &AState)
{
    auto *button = new QPushButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setAutoDefault(false);
    BindButton(button, AState);
    return button;
}

} // namespace

// ---------------------------------------------------------------------------
// TShellDirDialogView

TShellDirDialogView::TShellDirDialogView(TShellDirDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("ShellDirDialog"));
    setSizeGripEnabled(true);
    auto *main = new QVBoxLayout(this);

    FSplitter = new QSplitter(Qt::Horizontal, this);
    FSplitter->setObjectName(QStringLiteral("Splitter"));
    FSplitter->setChildrenCollapsible(false);
    auto *left = new QWidget(FSplitter);
    left->setObjectName(QStringLiteral("PanelLeft"));
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    auto *roots = new QFrame(left);
    roots->setObjectName(QStringLiteral("panRoot"));
    auto *rootLayout = new QHBoxLayout(roots);
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->addWidget(RootButton(roots, "rbNetwork", FLogic.rbNetwork, QStyle::SP_DriveNetIcon));
    rootLayout->addWidget(RootButton(roots, "rbComputer", FLogic.rbComputer, QStyle::SP_ComputerIcon));
    rootLayout->addWidget(RootButton(roots, "rbDesktop", FLogic.rbDesktop, QStyle::SP_DesktopIcon));
    rootLayout->addWidget(RootButton(roots, "rbDocuments", FLogic.rbDocuments, QStyle::SP_DirHomeIcon));
    rootLayout->addStretch(1);
    leftLayout->addWidget(roots);
    FTree = new TShellTreeView(FLogic.ShellTreeView, left);
    FTree->setObjectName(QStringLiteral("ShellTreeView"));
    leftLayout->addWidget(FTree, 1);

    auto *right = new QWidget(FSplitter);
    right->setObjectName(QStringLiteral("PanelRight"));
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    FList = new TShellListView(FLogic.ShellListView, right);
    FList->setObjectName(QStringLiteral("ShellListView"));
    rightLayout->addWidget(FList);
    BindControl(right, FLogic.PanelRight);
    FSplitter->setStretchFactor(0, 0);
    FSplitter->setStretchFactor(1, 1);
    main->addWidget(FSplitter, 1);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto *panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(SpeedButton(panel, "btnDefault", FLogic.btnDefault, QStyle::SP_DirLinkIcon));
    pathRow->addWidget(SpeedButton(panel, "btnUp", FLogic.btnUp, QStyle::SP_FileDialogToParent));
    pathRow->addWidget(SpeedButton(panel, "btnNew", FLogic.btnNew, QStyle::SP_FileDialogNewFolder));
    auto *label = new QLabel(panel);
    label->setObjectName(QStringLiteral("Label1"));
    BindLabel(label, FLogic.Label1);
    pathRow->addWidget(label);
    FPathBox = new QComboBox(panel);
    FPathBox->setObjectName(QStringLiteral("cbxSelectedDir"));
    FPathBox->setInsertPolicy(QComboBox::NoInsert);
    FPathBox->setMaxVisibleItems(kDirHistoryCount);
    FPathBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FPathBox->setMinimumContentsLength(20);
    BindComboBox(FPathBox, FLogic.cbxSelectedDir);
    label->setBuddy(FPathBox);
    pathRow->addWidget(FPathBox, 1);
    panelLayout->addLayout(pathRow);
    auto *buttonRow = new QHBoxLayout;
    auto *files = new QCheckBox(panel);
    files->setObjectName(QStringLiteral("cbxFiles"));
    BindCheckBox(files, FLogic.cbxFiles);
    buttonRow->addWidget(files);
    auto *volume = new QLabel(panel);
    volume->setObjectName(QStringLiteral("laVolHint"));
    BindLabel(volume, FLogic.laVolHint);
    buttonRow->addWidget(volume, 1);
    buttonRow->addWidget(PushButton(panel, "btbOK", FLogic.btbOK));
    buttonRow->addWidget(PushButton(panel, "btbCancel", FLogic.btbCancel));
    panelLayout->addLayout(buttonRow);
    main->addWidget(panel);

    FMenu = new QMenu(this);
    FMenu->setObjectName(QStringLiteral("PopupMenu"));
    BindMenu(FMenu, FLogic.PopupMenu);
    connect(FTree, &QWidget::customContextMenuRequested, this, [this](QPoint APos) { OpenContextMenu(APos); });

    // The window sees these keys first, whatever has the focus.
    const std::pair<int, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_F5, Qt::NoModifier},  {Qt::Key_C, Qt::AltModifier}, {Qt::Key_D, Qt::AltModifier},
        {Qt::Key_H, Qt::AltModifier},  {Qt::Key_N, Qt::AltModifier}, {Qt::Key_T, Qt::AltModifier},
        {Qt::Key_U, Qt::AltModifier},  {Qt::Key_W, Qt::AltModifier},
    };
    for (const auto &[key, modifiers] : keys) {
        auto *shortcut = new QShortcut(QKeySequence(key | modifiers), this);
        connect(shortcut, &QShortcut::activated, this,
                [this, key, modifiers] { FLogic.KeyDown(key, modifiers); });
    }

    // Showing or hiding the file pane widens or narrows the window by it.
    Observe(right, FLogic.PanelRight, [this](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saVisible && FShown)
            FitFilePane();
    });
    connect(FSplitter, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = FSplitter->sizes();
        FLogic.DirWidth = sizes.value(0);
        if (FLogic.FileViewOn())
            FLogic.FileWidth = sizes.value(1);
    });
    ApplyGeometry();

    // Every way of closing goes through the logic's CloseModal.
    auto close = FLogic.OnCloseModal;
    FLogic.OnCloseModal = [this, close](TModalResult AResult) {
        StoreGeometry();
        if (close)
            close(AResult);
    };
}

void TShellDirDialogView::ApplyGeometry()
{
    const bool pane = FLogic.FileViewOn();
    FSplitter->setSizes({FLogic.DirWidth, pane ? FLogic.FileWidth : 0});
    const QMargins margins = layout()->contentsMargins();
    const int width = FLogic.DirWidth + (pane ? FLogic.FileWidth + FSplitter->handleWidth() : 0) + margins.left()
                    + margins.right();
    resize(width, FLogic.Height);
}

void TShellDirDialogView::Execute()
{
    // The stored size stands; the window is only kept on its screen.
    ApplyGeometry();
    if (FLogic.Position.x() < 0 || FLogic.Position.y() < 0) {
        CenterOnMainWindow(this);
    } else {
        move(FLogic.Position);
        KeepFormInWorkArea(this);
    }
    exec();
}

void TShellDirDialogView::FitFilePane()
{
    const int fileWidth = FLogic.FileWidth + FSplitter->handleWidth();
    if (FLogic.FileViewOn()) {
        FLogic.DirWidth = FSplitter->sizes().value(0);
        resize(width() + fileWidth, height());
        FSplitter->setSizes({FLogic.DirWidth, FLogic.FileWidth});
    } else {
        resize(std::max(minimumSizeHint().width(), width() - fileWidth), height());
    }
}

void TShellDirDialogView::showEvent(QShowEvent *AEvent)
{
    TLogicDialog::showEvent(AEvent);
    if (FShown)
        return;
    FShown = true;
    // As the window activates: the selection in view, the tree focused.
    QTimer::singleShot(0, this, [this] { FLogic.ShellTreeView.ShowSelected(); });
}

void TShellDirDialogView::OpenContextMenu(QPoint APos)
{
    const QModelIndex index = FTree->indexAt(APos);
    if (index.isValid())
        FLogic.ShellTreeView.UserSelect(FTree->FolderOf(index));
    FLogic.PopupMenuPopup();
    FMenu->popup(FTree->viewport()->mapToGlobal(APos));
}

void TShellDirDialogView::keyPressEvent(QKeyEvent *AEvent)
{
    if ((AEvent->key() == Qt::Key_Return || AEvent->key() == Qt::Key_Enter)
        && FLogic.KeyDown(AEvent->key(), AEvent->modifiers()))
        return;
    TLogicDialog::keyPressEvent(AEvent);
}

void TShellDirDialogView::StoreGeometry()
{
    if (!isVisible())
        return;
    FLogic.Left = pos().x();
    FLogic.Top = pos().y();
    FLogic.Height = height();
    FLogic.DirWidth = FSplitter->sizes().value(0);
    if (FLogic.FileViewOn())
        FLogic.FileWidth = FSplitter->sizes().value(1);
    FLogic.FormClose();
}

// ---------------------------------------------------------------------------
// TShowFilesDialogView

TShowFilesDialogView::TShowFilesDialogView(TShowFilesDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("ShowFilesDialog"));
    setSizeGripEnabled(true);
    auto *main = new QVBoxLayout(this);
    auto *top = new QLabel(this);
    top->setObjectName(QStringLiteral("pnTop"));
    top->setFrameShape(QFrame::StyledPanel);
    top->setTextFormat(Qt::PlainText);
    BindLabel(top, FLogic.pnTop);
    main->addWidget(top);
    FList = new TShellListView(FLogic.lvFiles, this);
    FList->setObjectName(QStringLiteral("lvFiles"));
    main->addWidget(FList, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(SpeedButton(this, "btnDirUp", FLogic.btnDirUp, QStyle::SP_FileDialogToParent));
    bottom->addStretch(1);
    QPushButton *close = PushButton(this, "OKBtn", FLogic.OKBtn);
    close->setDefault(true);
    bottom->addWidget(close);
    main->addLayout(bottom);
    FList->setFocus();
}

void TShowFilesDialogView::resizeEvent(QResizeEvent *AEvent)
{
    TLogicDialog::resizeEvent(AEvent);
    FLogic.FormResize(width());
}

} // namespace vl
