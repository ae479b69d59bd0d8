#include "ui/qt/InputDialogs.h"

#include "ui/qt/Binding.h"
#include "ui/qt/NumberEdits.h"
#include "ui/qt/QtPlacement.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QScrollBar>
#include <QComboBox>
#include <QCompleter>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace vl {

namespace {

QPushButton *Button(QWidget *AParent, const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph)
{
    auto *button = new QPushButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setAutoDefault(false);
    if (AGlyph != QStyle::SP_CustomBase)
        button->setIcon(AParent->style()->standardIcon(AGlyph));
    BindButton(button, AState);
    return button;
}

QLabel *Label(QWidget *AParent, const char *AName, TControlState &AState)
{
    auto *label = new QLabel(AParent);
    label->setObjectName(QLatin1String(AName));
    label->setTextFormat(Qt::PlainText);
    BindLabel(label, AState);
    return label;
}

QLineEdit *Edit(QWidget *AParent, const char *AName, TEditState &AState)
{
    auto *edit = new QLineEdit(AParent);
    edit->setObjectName(QLatin1String(AName));
    BindEdit(edit, AState);
    return edit;
}

// OK (the default button) and Cancel on the right.
QHBoxLayout *OkCancelRow(QWidget *AParent, TButtonState &AOk, TButtonState &ACancel)
{
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton *ok = Button(AParent, "OKBtn", AOk, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    row->addWidget(ok);
    row->addWidget(Button(AParent, "CancelBtn", ACancel, QStyle::SP_DialogCancelButton));
    return row;
}

TTextWidthFunc WidthIn(const QFont &AFont)
{
    return [AFont](const QString &AText) { return FontTextWidth(AText, AFont); };
}

// Subscribes AShow to the state while AWidget lives.
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

// Runs AAction on every resize or show of AWidget.
class TGeometryWatch : public QObject {
public:
    TGeometryWatch(QWidget *AWidget, std::function<void()> AAction) : QObject(AWidget), FAction(std::move(AAction))
    {
        AWidget->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *AEvent) override
    {
        if (AEvent->type() == QEvent::Resize || AEvent->type() == QEvent::Show)
            FAction();
        return false;
    }

private:
    std::function<void()> FAction;
};

} // namespace

// ---------------------------------------------------------------------------
// TInputTextView

TInputTextView::TInputTextView(TInputTextDialog &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("InputTextDialog"));
    auto *main = new QVBoxLayout(this);
    main->addWidget(Label(this, "Descriptor", ALogic.Descriptor));
    FTextFeld = new QComboBox(this);
    FTextFeld->setObjectName(QStringLiteral("TextFeld"));
    FTextFeld->setInsertPolicy(QComboBox::NoInsert);
    FTextFeld->setMaxVisibleItems(TInputTextDialog::kDropDownCount);
    if (!ALogic.FontName().isEmpty()) {
        QFont font = FTextFeld->font();
        font.setFamily(ALogic.FontName());
        FTextFeld->setFont(font);
    }
    BindComboBox(FTextFeld, ALogic.TextFeld);
    if (!ALogic.AutoComplete())
        FTextFeld->setCompleter(nullptr);
    main->addWidget(FTextFeld);

    auto *row = new QHBoxLayout;
    QPushButton *table = Button(this, "CharTabBtn", ALogic.CharTabBtn, QStyle::SP_CustomBase);
    Register(table, ALogic.CharTabBtn);
    row->addWidget(table);
    QHBoxLayout *okCancel = OkCancelRow(this, ALogic.OKBtn, ALogic.CancelBtn);
    row->addLayout(okCancel, 1);
    main->addLayout(row);

    // After the character is appended: on with typing at the end.
    connect(table, &QPushButton::clicked, this, [this] {
        FTextFeld->setFocus();
        if (QLineEdit *edit = FTextFeld->lineEdit())
            edit->end(false);
    });
    setMinimumWidth(ALogic.ClientWidth(WidthIn(FTextFeld->font())));
    FTextFeld->setFocus();
}

// ---------------------------------------------------------------------------
// TCharTableView

TCharTableView::TCharTableView(TCharTableDialog &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("CharTableDialog"));
    auto *main = new QVBoxLayout(this);
    constexpr int cells = TCharGridState::kCells;
    FGrid = new QTableWidget(cells, cells, this);
    FGrid->setObjectName(QStringLiteral("CharGrid"));
    FGrid->horizontalHeader()->hide();
    FGrid->verticalHeader()->hide();
    FGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    FGrid->setTextElideMode(Qt::ElideNone);
    FGrid->horizontalHeader()->setMinimumSectionSize(10);
    FGrid->verticalHeader()->setMinimumSectionSize(10);
    QFont headerFont = FGrid->font();
    headerFont.setPointSize(8);
    QFont charFont = headerFont;
    if (!ALogic.GridFontName.isEmpty())
        charFont.setFamily(ALogic.GridFontName);
    int headerWidth = 0;
    for (int i = 1; i < cells; ++i)
        headerWidth = std::max(headerWidth, QFontMetrics(headerFont).horizontalAdvance(TCharGridState::HeaderText(i)));
    const int cellSize = std::max(22, headerWidth + 12);
    for (int i = 0; i < cells; ++i) {
        FGrid->setColumnWidth(i, cellSize);
        FGrid->setRowHeight(i, cellSize);
    }
    for (int r = 0; r < cells; ++r)
        for (int c = 0; c < cells; ++c) {
            auto *item = new QTableWidgetItem;
            if (r == 0 || c == 0) {
                item->setText(r == 0 && c == 0 ? QString() : TCharGridState::HeaderText(r == 0 ? c : r));
                item->setFont(headerFont);
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            } else {
                const QChar ch(char16_t(TCharGridState::CellCode(r, c)));
                if (ch.isPrint())
                    item->setText(QString(ch));
                item->setFont(charFont);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            item->setTextAlignment(Qt::AlignCenter);
            FGrid->setItem(r, c, item);
        }
    FGrid->setFixedSize(cellSize * cells + 2 * FGrid->frameWidth(), cellSize * cells + 2 * FGrid->frameWidth());
    FGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FGrid->setCurrentCell(ALogic.CharGrid.Row(), ALogic.CharGrid.Col());
    BindControl(FGrid, ALogic.CharGrid);
    TCharGridState &grid = ALogic.CharGrid;
    Observe(FGrid, grid, [this, &grid](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saItemIndex) {
            const QSignalBlocker block(FGrid);
            FGrid->setCurrentCell(grid.Row(), grid.Col());
        }
    });
    connect(FGrid, &QTableWidget::currentCellChanged, this, [this, &grid](int ARow, int ACol) {
        if (!grid.UserSelect(ARow, ACol)) {
            const QSignalBlocker block(FGrid);
            FGrid->setCurrentCell(grid.Row(), grid.Col());
        }
    });
    connect(FGrid, &QTableWidget::cellDoubleClicked, this,
            [&grid](int ARow, int ACol) { grid.UserDoubleClick(ARow, ACol); });
    main->addWidget(FGrid);

    auto *row = new QHBoxLayout;
    QLabel *label = Label(this, "leValueLabel", ALogic.leValueLabel);
    QLineEdit *value = Edit(this, "leValue", ALogic.leValue);
    value->setMaxLength(4);
    label->setBuddy(value);
    row->addWidget(label);
    row->addWidget(value);
    row->addLayout(OkCancelRow(this, ALogic.OKBtn, ALogic.CancelBtn), 1);
    main->addLayout(row);
    FGrid->setFocus();
}

// ---------------------------------------------------------------------------
// TInputStringView

TInputStringView::TInputStringView(TInputStringDialog &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("InputStringDialog"));
    auto *main = new QVBoxLayout(this);
    main->addWidget(Label(this, "Descriptor", ALogic.Descriptor));
    QLineEdit *edit = Edit(this, "TextFeld", ALogic.TextFeld);
    main->addWidget(edit);
    main->addLayout(OkCancelRow(this, ALogic.OKBtn, ALogic.CancelBtn));
    setMinimumWidth(ALogic.ClientWidth(WidthIn(edit->font())));
    edit->setFocus();
}

// ---------------------------------------------------------------------------
// TTextEingabeView

TTextEingabeView::TTextEingabeView(TTextEingabe &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    // Design sizes: the frame, and one of two fields side by side.
    constexpr int kFrameWidth = 360;
    constexpr int kFieldWidth = 166;

    setObjectName(QStringLiteral("TextEingabeDialog"));
    auto *main = new QVBoxLayout(this);
    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Rahmen"));
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frame->setFixedWidth(kFrameWidth);
    BindControl(frame, ALogic.Rahmen);
    auto *grid = new QGridLayout(frame);
    QLineEdit *first = Edit(frame, "TextFeld1", ALogic.TextFeld1);
    QLineEdit *second = Edit(frame, "Textfeld2", ALogic.Textfeld2);
    const bool two = ALogic.TwoFields();
    grid->addWidget(Label(frame, "Descriptor1", ALogic.Descriptor1), 0, 0);
    if (two) {
        grid->addWidget(Label(frame, "Descriptor2", ALogic.Descriptor2), 0, 1);
        first->setFixedWidth(kFieldWidth);
        second->setFixedWidth(kFieldWidth);
        grid->addWidget(first, 1, 0);
        grid->addWidget(second, 1, 1);
    } else {
        first->setFixedWidth(kFrameWidth - 20);
        grid->addWidget(first, 1, 0, 1, 2);
        second->hide();
    }
    auto *option = new QCheckBox(frame);
    option->setObjectName(QStringLiteral("Switch"));
    BindCheckBox(option, ALogic.Switch);
    grid->addWidget(option, 2, 0, 1, 2);
    main->addWidget(frame);
    main->addLayout(OkCancelRow(this, ALogic.OKBtn, ALogic.CancelBtn));
    first->setFocus();
}

// ---------------------------------------------------------------------------
// TMemoView

TMemoView::TMemoView(TMemoDialog &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    // Design client size.
    constexpr int kClientWidth = 320;
    constexpr int kMemoHeight = 200;

    setObjectName(QStringLiteral("MemoDialog"));
    auto *main = new QVBoxLayout(this);
    auto *desc = Label(this, "Descriptor", ALogic.Descriptor);
    desc->setWordWrap(true);
    main->addWidget(desc);
    FMemo = new QPlainTextEdit(this);
    FMemo->setObjectName(QStringLiteral("Memo"));
    FMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setMinimumHeight(kMemoHeight);
    FMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemo->setPlainText(ALogic.Memo.Text());
    BindControl(FMemo, ALogic.Memo);
    TEditState &memo = ALogic.Memo;
    Observe(FMemo, memo, [this, &memo](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saText && FMemo->toPlainText() != memo.Text()) {
            const QSignalBlocker block(FMemo);
            FMemo->setPlainText(memo.Text());
        }
    });
    connect(FMemo, &QPlainTextEdit::textChanged, this, [this, &memo] {
        if (!memo.UserEdit(FMemo->toPlainText()) && FMemo->toPlainText() != memo.Text()) {
            const QSignalBlocker block(FMemo);
            FMemo->setPlainText(memo.Text());
        }
    });
    main->addWidget(FMemo, 1);
    main->addLayout(OkCancelRow(this, ALogic.OKBtn, ALogic.CancelBtn));

    // Wide enough for the lines as they are, then wrapped.
    QScreen *screen = ALogic.Position.x() >= 0 && ALogic.Position.y() >= 0
                          ? QGuiApplication::screenAt(ALogic.Position)
                          : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const int workWidth = screen ? screen->availableGeometry().width() : kClientWidth * 2;
    const int margins = main->contentsMargins().left() + main->contentsMargins().right();
    const int frame = 2 * FMemo->frameWidth() + FMemo->verticalScrollBar()->sizeHint().width() + 8;
    const int textWidth = ALogic.ClientWidth(kClientWidth - margins - frame, WidthIn(FMemo->font()), workWidth);
    setMinimumWidth(textWidth + margins + frame);
    FMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QTextCursor cursor = FMemo->textCursor();
    cursor.setPosition(std::min(ALogic.CaretPos(), int(FMemo->toPlainText().size())));
    FMemo->setTextCursor(cursor);
    FMemo->setFocus();
}

// ---------------------------------------------------------------------------
// TPlaceHolderView

TPlaceHolderView::TPlaceHolderView(TPlaceHolderDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    static const char *const kGroupNames[TPlaceHolderDialog::kPageCount] = {
        "DaPlaceHolderRG",  "PaPlaceHolderRG", "MaPlaceHolderRG",    "SyPlaceholderRG",  "PostExPlaceholderRG",
        "PreExPlaceHolderRG", "TmPlaceHolderRG", "BuLogPlaceholderRG", "LogPlaceholderRG", "PortablePlaceholderRG"};

    setObjectName(QStringLiteral("PlaceHolderDialog"));
    auto *main = new QVBoxLayout(this);
    FPages = new QStackedWidget(this);
    FPages->setObjectName(QStringLiteral("PageControl"));
    QGroupBox *timeGroup = nullptr;
    for (int i = 0; i < TPlaceHolderDialog::kPageCount; ++i) {
        auto *page = new QWidget(FPages);
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *group = new QGroupBox(page);
        group->setObjectName(QLatin1String(kGroupNames[i]));
        BindRadioGroup(group, ALogic.Page(TPhPage(i)));
        layout->addWidget(group);
        FPages->addWidget(page);
        if (TPhPage(i) == TPhPage::tsTime)
            timeGroup = group;
    }
    main->addWidget(FPages);

    // The cycle edit floats over the time page's group beside its item.
    auto *edit = new QLineEdit;
    edit->setFixedWidth(48);
    BindNumberEdit(edit, ALogic.reCycle);
    auto *spin = new TNumUpDownView(ALogic.udCycle);
    FCycle = NumEditWithSpin(timeGroup, edit, spin);
    FCycle->setObjectName(QStringLiteral("CyclePanel"));
    new TGeometryWatch(timeGroup, [this] { PlaceCycle(); });
    Observe(FCycle, ALogic.reCycle, [this](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saVisible)
            PlaceCycle();
    });
    Observe(FCycle, ALogic.TmPlaceHolderRG, [this](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saItemIndex)
            PlaceCycle();
    });

    auto *bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("BottomPanel"));
    QHBoxLayout *buttons = OkCancelRow(bottom, ALogic.OKBtn, ALogic.CancelBtn);
    buttons->setContentsMargins(0, 0, 0, 0);
    bottom->setLayout(buttons);
    main->addWidget(bottom);

    Observe(FPages, ALogic.PageControl, [this](TStateAspect AAspect) {
        if (AAspect == TStateAspect::saItemIndex)
            ShowActivePage();
    });
    ShowActivePage();
    PlaceCycle();
}

void TPlaceHolderView::ShowActivePage()
{
    const int active = FLogic.PageControl.ActivePage();
    for (int i = 0; i < FPages->count(); ++i) {
        QWidget *page = FPages->widget(i);
        // Only the shown page counts for the size; its group gets 5 % more.
        page->setSizePolicy(QSizePolicy::Preferred, i == active ? QSizePolicy::Preferred : QSizePolicy::Ignored);
        if (i == active)
            page->setMinimumHeight(int(std::lround(page->sizeHint().height() * 1.05)));
    }
    FPages->setCurrentIndex(active);
    if (isVisible())
        QTimer::singleShot(0, this, [this] { adjustSize(); });
    else
        adjustSize();
}

void TPlaceHolderView::PlaceCycle()
{
    TRadioGroupState &group = FLogic.TmPlaceHolderRG;
    auto *box = qobject_cast<QGroupBox *>(FCycle->parentWidget());
    auto *buttons = box ? box->findChild<QButtonGroup *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    QAbstractButton *item = buttons ? buttons->button(group.ItemIndex()) : nullptr;
    const bool shown = FLogic.reCycle.Visible() && item;
    FCycle->setVisible(shown);
    if (!shown)
        return;
    // Not in a layout: its size follows its shown children only here.
    FCycle->adjustSize();
    const QRect itemRect = item->geometry();
    FCycle->move(itemRect.left() + item->sizeHint().width() + 8, itemRect.center().y() - FCycle->height() / 2);
    FCycle->raise();
}

void TPlaceHolderView::RunPlaced()
{
    adjustSize();
    const QPoint pos = FLogic.Position;
    if (pos.x() < 0 || pos.y() < 0) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    } else {
        move(pos);
        KeepFormInWorkArea(this);
    }
    exec();
}

// ---------------------------------------------------------------------------
// The views of all input dialogs

namespace {

class TQtInputDialogViews : public IInputDialogViews {
public:
    void ExecuteInputText(TInputTextDialog &ADialog) override
    {
        TInputTextView view(ADialog);
        view.Run();
    }
    void ExecuteCharTable(TCharTableDialog &ADialog) override
    {
        TCharTableView view(ADialog);
        view.Run();
    }
    void ExecuteInputString(TInputStringDialog &ADialog) override
    {
        TInputStringView view(ADialog);
        view.Run();
    }
    void ExecuteTextEingabe(TTextEingabe &ADialog) override
    {
        TTextEingabeView view(ADialog);
        view.Run();
    }
    void ExecuteMemo(TMemoDialog &ADialog) override
    {
        TMemoView view(ADialog);
        view.Run();
    }
    void ExecutePlaceHolder(TPlaceHolderDialog &ADialog) override
    {
        TPlaceHolderView view(ADialog);
        view.RunPlaced();
    }
};

} // namespace

std::unique_ptr<IInputDialogViews> CreateQtInputDialogViews()
{
    return std::make_unique<TQtInputDialogViews>();
}

} // namespace vl
