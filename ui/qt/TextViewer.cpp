#include "ui/qt/TextViewer.h"

#include "core/Translate.h"
#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/QtStyles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

QString Dt(const char *msgid)
{
    return TrDomain(kDialogsDomain, msgid);
}

QString gPdfOutput;

QFont ToQFont(const TViewerFont &AFont)
{
    QFont font(AFont.Name);
    // A missing family falls back to another fixed-pitch one.
    font.setStyleHint(QFont::TypeWriter);
    if (AFont.Size > 0)
        font.setPointSize(AFont.Size);
    font.setBold(AFont.Style.Contains(TFontStyle::fsBold));
    font.setItalic(AFont.Style.Contains(TFontStyle::fsItalic));
    font.setUnderline(AFont.Style.Contains(TFontStyle::fsUnderline));
    font.setStrikeOut(AFont.Style.Contains(TFontStyle::fsStrikeOut));
    return font;
}

TFontStyles StylesOf(const QFont &AFont)
{
    TFontStyles styles;
    if (AFont.bold())
        styles.Include(TFontStyle::fsBold);
    if (AFont.italic())
        styles.Include(TFontStyle::fsItalic);
    if (AFont.underline())
        styles.Include(TFontStyle::fsUnderline);
    if (AFont.strikeOut())
        styles.Include(TFontStyle::fsStrikeOut);
    return styles;
}

// "Logs|*.log;*.txt|all|*.*" as a file dialog takes it.
QString QtFilter(const QString &AFilter)
{
    const QStringList parts = AFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts.at(i + 1);
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters.append(parts.at(i) + QStringLiteral(" (") + masks + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

constexpr int kGlyphSize = 20;

QIcon TextGlyph(const QString &AText, const QColor &AColor)
{
    QPixmap pixmap(kGlyphSize, kGlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(AColor);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, AText);
    return QIcon(pixmap);
}

// A triangle pointing up or down, over a bar for the mark it goes to.
QIcon ArrowGlyph(bool AUp, const QColor &AColor)
{
    QPixmap pixmap(kGlyphSize, kGlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(AColor);
    const QPolygonF triangle = AUp ? QPolygonF({QPointF(10, 3), QPointF(17, 12), QPointF(3, 12)})
                                   : QPolygonF({QPointF(3, 8), QPointF(17, 8), QPointF(10, 17)});
    painter.drawPolygon(triangle);
    painter.drawRect(AUp ? QRectF(4, 14, 12, 3) : QRectF(4, 3, 12, 3));
    return QIcon(pixmap);
}

} // namespace

// ---- Printing --------------------------------------------------------------

bool RenderPrintJob(QPrinter &APrinter, const TPrintJob &AJob)
{
    QPainter painter;
    if (!painter.begin(&APrinter))
        return false;
    // Work in 0.1 mm from the top-left of the printable area.
    const int pageWidth = APrinter.widthMM() > 0 ? APrinter.widthMM() * 10 : 2000;
    const int pageHeight = APrinter.heightMM() > 0 ? APrinter.heightMM() * 10 : 2900;
    painter.scale(double(APrinter.width()) / pageWidth, double(APrinter.height()) / pageHeight);
    painter.setBackground(Qt::white);
    painter.setBrush(Qt::white);

    QFont font = ToQFont({AJob.Settings.FontName, 0, AJob.Settings.FontStyle});
    font.setPixelSize(std::max(PrintLineHeight(AJob.Settings.FontSize), 1));
    QFont bold = font;
    bold.setBold(true);
    const QFontMetricsF metrics(font, &APrinter);
    const QFontMetricsF boldMetrics(bold, &APrinter);
    const auto width = [&metrics](const QString &s) { return int(std::lround(metrics.horizontalAdvance(s))); };
    const auto boldWidth = [&boldMetrics](const QString &s) {
        return int(std::lround(boldMetrics.horizontalAdvance(s)));
    };

    const QList<TPrintItem> items = LayoutPrintJob(AJob, pageWidth, pageHeight, width, boldWidth);
    int page = 1;
    QPen rule(Qt::black);
    rule.setWidth(3);
    for (const TPrintItem &item : items) {
        for (; page < item.Page; ++page)
            APrinter.newPage();
        switch (item.Kind) {
        case TPrintItemKind::piText:
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(item.Pos.x(), item.Pos.y() + metrics.ascent()), item.Text);
            break;
        case TPrintItemKind::piHeader:
            painter.setFont(bold);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(item.Pos.x(), item.Pos.y() + boldMetrics.ascent()), item.Text);
            break;
        case TPrintItemKind::piRule:
            painter.setPen(rule);
            painter.drawLine(item.Pos, QPoint(item.Right, item.Pos.y()));
            break;
        }
    }
    return painter.end();
}

// ---- The window ------------------------------------------------------------

TTextViewerWindow::TTextViewerWindow(TShowTextDialog &ALogic) : FLogic(ALogic)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(845, 512);

    FPanel = new QWidget(this);
    FPanel->setFixedHeight(30);
    const QColor sectionColor(0x20, 0x60, 0xC0);
    const QColor errorColor(0xC0, 0x20, 0x20);
    struct TButtonDef {
        TButtonState *State;
        QIcon Icon;
        bool Captioned;
    };
    QStyle *s = style();
    const TButtonDef defs[] = {
        {&ALogic.OpenBtn, s->standardIcon(QStyle::SP_DialogOpenButton), true},
        {&ALogic.UpdateBtn, s->standardIcon(QStyle::SP_BrowserReload), false},
        {&ALogic.FontBtn, TextGlyph(QStringLiteral("F"), palette().color(QPalette::ButtonText)), false},
        {&ALogic.EncBtn, TextGlyph(QStringLiteral("\u00C4"), palette().color(QPalette::ButtonText)), false},
        {&ALogic.PrintBtn, QIcon(), true},
        {&ALogic.DeleteBtn, s->standardIcon(QStyle::SP_TrashIcon), true},
        {&ALogic.SearchBtn, s->standardIcon(QStyle::SP_FileDialogContentsView), true},
        {&ALogic.PrevSectBtn, ArrowGlyph(true, sectionColor), false},
        {&ALogic.NextSectBtn, ArrowGlyph(false, sectionColor), false},
        {&ALogic.PrevErrBtn, ArrowGlyph(true, errorColor), false},
        {&ALogic.NextErrBtn, ArrowGlyph(false, errorColor), false},
        {&ALogic.EndeBtn, s->standardIcon(QStyle::SP_DialogCloseButton), true},
    };
    for (const TButtonDef &def : defs) {
        QAbstractButton *button;
        if (def.Captioned) {
            auto *push = new QPushButton(FPanel);
            // Enter in the memo must not press a panel button.
            push->setAutoDefault(false);
            button = push;
        } else {
            auto *tool = new QToolButton(FPanel);
            tool->setAutoRaise(false);
            button = tool;
        }
        button->setIcon(def.Icon);
        BindButton(button, *def.State);
        FButtons.insert(def.State, button);
    }
    connect(FButtons.value(&ALogic.PrintBtn), &QAbstractButton::clicked, this, [this] { FMemo->setFocus(); });

    FMemo = new QPlainTextEdit(this);
    FMemo->setReadOnly(true);
    FMemo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemo->setFont(ToQFont(ALogic.Memo.Font()));
    FMemo->installEventFilter(this);
    BindControl(FMemo, ALogic.Memo);

    auto *statusBar = new QStatusBar(this);
    statusBar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        FPanels[i] = new QLabel(statusBar);
        BindLabel(FPanels[i], ALogic.StatusPanels[i]);
    }
    FPanels[0]->setFixedWidth(200);
    statusBar->addWidget(FPanels[0]);
    statusBar->addWidget(FPanels[1], 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FPanel);
    layout->addWidget(FMemo, 1);
    layout->addWidget(statusBar);

    FMemoObserver = ALogic.Memo.SubscribeMemo([this](TMemoAspect AAspect) {
        switch (AAspect) {
        case TMemoAspect::maText:
            ShowMemoText();
            break;
        case TMemoAspect::maSelection:
            ShowMemoSelection();
            break;
        case TMemoAspect::maScroll: {
            QScrollBar *bar = FMemo->verticalScrollBar();
            bar->setValue(bar->value() + FLogic.Memo.ScrollDelta());
            ReportFirstVisibleLine();
            break;
        }
        case TMemoAspect::maFont:
            FMemo->setFont(ToQFont(FLogic.Memo.Font()));
            break;
        }
    });
    connect(FMemo, &QPlainTextEdit::cursorPositionChanged, this, [this] { ReportMemoSelection(); });
    connect(FMemo, &QPlainTextEdit::selectionChanged, this, [this] { ReportMemoSelection(); });
    connect(FMemo->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { ReportFirstVisibleLine(); });

    const auto shortcut = [this](const QKeySequence &AKeys, std::function<void()> AAction) {
        connect(new QShortcut(AKeys, this), &QShortcut::activated, this, std::move(AAction));
    };
    shortcut(QKeySequence(Qt::Key_F3), [this] { FLogic.FindAgain(false); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FLogic.FindAgain(true); });
    shortcut(QKeySequence::Find, [this] { FLogic.SearchBtn.Click(); });
    shortcut(QKeySequence(Qt::Key_F11), [this] {
        if (QWidget *focused = focusWidget())
            FLogic.ShowControlHint(focused->toolTip());
    });

    BuildFindWindow();
    ShowMemoText();
}

TTextViewerWindow::~TTextViewerWindow()
{
    FDestroying = true;
    FLogic.Memo.UnsubscribeMemo(FMemoObserver);
    FMemo->disconnect(this);
    FMemo->verticalScrollBar()->disconnect(this);
}

void TTextViewerWindow::BuildFindWindow()
{
    TFindDialogState &state = FLogic.FindDialog;
    FFindWindow = new QDialog(this);
    FFindWindow->setWindowTitle(Dt("Find"));
    FFindWindow->setModal(false);

    auto *edit = new QLineEdit(FFindWindow);
    BindEdit(edit, state.FindText);
    auto *label = new QLabel(Dt("Fi&nd what:"), FFindWindow);
    label->setBuddy(edit);
    auto *matchCase = new QCheckBox(FFindWindow);
    BindCheckBox(matchCase, state.MatchCase);
    auto *wholeWord = new QCheckBox(FFindWindow);
    BindCheckBox(wholeWord, state.WholeWord);
    auto *direction = new QGroupBox(Dt("Direction"), FFindWindow);
    auto *up = new QRadioButton(direction);
    BindRadioButton(up, state.Up);
    auto *down = new QRadioButton(direction);
    BindRadioButton(down, state.Down);
    auto *directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(up);
    directionLayout->addWidget(down);
    auto *findButton = new QPushButton(FFindWindow);
    findButton->setDefault(true);
    BindButton(findButton, state.FindBtn);
    auto *cancel = new QPushButton(Dt("Cancel"), FFindWindow);
    connect(cancel, &QPushButton::clicked, FFindWindow, &QDialog::reject);

    auto *grid = new QGridLayout(FFindWindow);
    grid->addWidget(label, 0, 0);
    grid->addWidget(edit, 0, 1, 1, 2);
    grid->addWidget(findButton, 0, 3);
    grid->addWidget(matchCase, 1, 0, 1, 2);
    grid->addWidget(direction, 1, 2, 2, 1);
    grid->addWidget(cancel, 1, 3);
    grid->addWidget(wholeWord, 2, 0, 1, 2);

    connect(new QShortcut(QKeySequence(Qt::Key_F3), FFindWindow), &QShortcut::activated, this,
            [this] { FLogic.FindAgain(false); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), FFindWindow), &QShortcut::activated, this,
            [this] { FLogic.FindAgain(true); });
}

void TTextViewerWindow::LayoutPanel()
{
    const TPanelButtonState *panelButtons[] = {
        &FLogic.OpenBtn, &FLogic.UpdateBtn, &FLogic.FontBtn, &FLogic.EncBtn,
        &FLogic.PrintBtn, &FLogic.DeleteBtn, &FLogic.SearchBtn, &FLogic.PrevSectBtn,
        &FLogic.NextSectBtn, &FLogic.PrevErrBtn, &FLogic.NextErrBtn,
    };
    for (const TPanelButtonState *state : panelButtons)
        FButtons.value(state)->setGeometry(state->Left, 2, state->Width, 26);
    constexpr int closeWidth = 101;
    FButtons.value(&FLogic.EndeBtn)->setGeometry(FPanel->width() - closeWidth - 2, 2, closeWidth, 26);
}

void TTextViewerWindow::ShowMemoText()
{
    FShowingMemo = true;
    FMemo->setPlainText(FLogic.Memo.Text());
    FShowingMemo = false;
    ShowMemoSelection();
}

void TTextViewerWindow::ShowMemoSelection()
{
    FShowingMemo = true;
    QTextCursor cursor(FMemo->document());
    const int start = FLogic.Memo.SelStart();
    cursor.setPosition(start);
    cursor.setPosition(start + FLogic.Memo.SelLength(), QTextCursor::KeepAnchor);
    FMemo->setTextCursor(cursor);
    FMemo->ensureCursorVisible();
    FShowingMemo = false;
    ReportFirstVisibleLine();
}

void TTextViewerWindow::ReportMemoSelection()
{
    if (FShowingMemo || FDestroying)
        return;
    const QTextCursor cursor = FMemo->textCursor();
    const int start = cursor.selectionStart();
    FLogic.Memo.UserSelect(start, cursor.selectionEnd() - start, cursor.position());
}

void TTextViewerWindow::ReportFirstVisibleLine()
{
    if (FDestroying)
        return;
    // Without wrapping the scroll bar counts lines.
    FLogic.Memo.UserScrolled(FMemo->verticalScrollBar()->value());
}

void TTextViewerWindow::SetCaption(const QString &ACaption)
{
    setWindowTitle(ACaption);
}

void TTextViewerWindow::PlaceAt(QPoint APos)
{
    const std::optional<QPoint> place = vl::PlaceFormAt(CurrentMonitors(), frameGeometry().size(), APos, false);
    if (place)
        move(*place);
    else
        CenterOnMainWindow(this);
}

QRect TTextViewerWindow::Geometry() const
{
    return QRect(pos(), size());
}

void TTextViewerWindow::SetGeometry(const QRect &ARect)
{
    move(ARect.topLeft());
    resize(ARect.size());
}

bool TTextViewerWindow::IsShowing() const
{
    return isVisible();
}

void TTextViewerWindow::ShowViewer(bool AModal)
{
    if (AModal) {
        setWindowModality(Qt::ApplicationModal);
        exec();
    } else {
        setWindowModality(Qt::NonModal);
        show();
    }
}

void TTextViewerWindow::CloseViewer()
{
    if (isVisible())
        done(QDialog::Rejected);
}

void TTextViewerWindow::BringToFront()
{
    raise();
    activateWindow();
}

QRect TTextViewerWindow::ScreenRect(const TControlState *AControl) const
{
    if (!AControl)
        return geometry();
    const QAbstractButton *button = FButtons.value(AControl);
    if (!button)
        return geometry();
    return QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
}

QAbstractButton *TTextViewerWindow::Button(const TButtonState &AState) const
{
    return FButtons.value(&AState);
}

namespace {

// What the print button offers when no printer is installed: the print
// dialog's PDF file.
const QString kPdfPrinterName = QStringLiteral("PDF");

QString InstalledPrinter(const QString &APrtName)
{
    return ChoosePrinter(QPrinterInfo::availablePrinterNames(), QPrinterInfo::defaultPrinterName(), APrtName);
}

// A PDF of the shown file in the home folder, as the print dialog's first
// suggestion (the job's name holds the whole path).
QString PdfFileName(const QString &AShownFile)
{
    QString name = AShownFile.mid(AShownFile.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    if (name.isEmpty())
        name = QStringLiteral("print");
    return QDir::homePath() + QLatin1Char('/') + name + QStringLiteral(".pdf");
}

} // namespace

QString TTextViewerWindow::ResolvePrinter(const QString &APrtName)
{
    if (!gPdfOutput.isEmpty())
        return gPdfOutput;
    const QString name = InstalledPrinter(APrtName);
    // Without an installed printer the print dialog still prints to a PDF
    // file, so printing stays possible.
    return name.isEmpty() ? kPdfPrinterName : name;
}

bool TTextViewerWindow::PrintJob(const TPrintJob &AJob, bool AShowDialog)
{
    QPrinter printer(QPrinter::HighResolution);
    if (!gPdfOutput.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(gPdfOutput);
        AShowDialog = false;
    } else {
        // A real printer may be called "PDF" too: only the list of
        // installed printers tells the file output apart.
        const QString name = InstalledPrinter(AJob.Settings.PrtName);
        if (!name.isEmpty()) {
            printer.setPrinterName(name);
        } else {
            // A file name needs the dialog; an unattended job has no printer.
            if (!AShowDialog)
                return false;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(PdfFileName(AJob.FileName));
        }
    }
    printer.setPageOrientation(AJob.Settings.Orientation == TPrinterOrientation::poLandscape
                                   ? QPageLayout::Landscape
                                   : QPageLayout::Portrait);
    printer.setDocName(AJob.DocName);
    if (AShowDialog) {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool printed = RenderPrintJob(printer, AJob);
    QGuiApplication::restoreOverrideCursor();
    return printed;
}

QString TTextViewerWindow::AskOpenFile(const QString &AFilter, const QString &ACurrent)
{
    return QFileDialog::getOpenFileName(this, Dt("Open"), ACurrent, QtFilter(AFilter));
}

bool TTextViewerWindow::AskFont(TViewerFont &AFont)
{
    bool ok = false;
    const QFont font =
        QFontDialog::getFont(&ok, ToQFont(AFont), this, Dt("Select font"), QFontDialog::MonospacedFonts);
    if (!ok)
        return false;
    AFont.Name = font.family();
    if (font.pointSize() > 0)
        AFont.Size = std::clamp(font.pointSize(), 6, 24);
    AFont.Style = StylesOf(font);
    return true;
}

int TTextViewerWindow::AskCodePage(const QStringList &AItems, int AItemIndex)
{
    QDialog popup(this, Qt::Popup);
    auto *list = new QListWidget(&popup);
    list->addItems(AItems);
    list->setCurrentRow(AItemIndex);
    auto *layout = new QVBoxLayout(&popup);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    connect(list, &QListWidget::itemActivated, &popup, [&popup, list] { popup.done(list->currentRow() + 1); });
    connect(list, &QListWidget::itemClicked, &popup, [&popup, list] { popup.done(list->currentRow() + 1); });

    const int frame = 2 * list->frameWidth();
    const int rows = std::max(int(AItems.size()), 1);
    const int width = std::max(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() + frame,
                               this->width() / 4);
    const int height = std::min(rows * std::max(list->sizeHintForRow(0), 1) + frame, FMemo->height());
    popup.resize(width, height);
    const QRect enc = ScreenRect(&FLogic.EncBtn);
    popup.move(enc.x(), enc.y() + enc.height() + 2);
    if (AItemIndex >= 0)
        list->scrollToItem(list->item(AItemIndex));
    return popup.exec() - 1;
}

void TTextViewerWindow::ShowFindDialog(QPoint APos)
{
    FFindWindow->move(APos);
    FFindWindow->show();
    FFindWindow->raise();
    FFindWindow->activateWindow();
    if (auto *edit = FFindWindow->findChild<QLineEdit *>()) {
        edit->setFocus();
        edit->selectAll();
    }
}

void TTextViewerWindow::showEvent(QShowEvent *AEvent)
{
    QDialog::showEvent(AEvent);
    if (AEvent->spontaneous())
        return;
    LayoutPanel();
    FLogic.FormShow();
    vl::KeepFormInWorkArea(this);
    FMemo->setFocus();
}

void TTextViewerWindow::resizeEvent(QResizeEvent *AEvent)
{
    QDialog::resizeEvent(AEvent);
    LayoutPanel();
}

bool TTextViewerWindow::eventFilter(QObject *AObject, QEvent *AEvent)
{
    if (AObject == FMemo && AEvent->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(AEvent);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            FLogic.DeleteKey();
            return true;
        }
    }
    return QDialog::eventFilter(AObject, AEvent);
}

void TTextViewerWindow::done(int AResult)
{
    if (!FDestroying)
        FLogic.FormClose();
    FFindWindow->hide();
    QDialog::done(AResult);
}

// ---- Installation ----------------------------------------------------------

void InstallQtTextViewer()
{
    SetTextViewerViewFactory([](TShowTextDialog &ADialog) { return std::make_unique<TTextViewerWindow>(ADialog); });
}

void RemoveQtTextViewer()
{
    FreeTextViewer();
    SetTextViewerViewFactory({});
}

void SetTextViewerPdfOutput(const QString &AFileName)
{
    gPdfOutput = AFileName;
}

} // namespace vl
