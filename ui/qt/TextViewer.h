// The text viewer's window: shows a TShowTextDialog (ui/TextViewer.h) and
// does its dialogs and printing.
#pragma once

#include "ui/TextViewer.h"

#include <QDialog>
#include <QHash>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QWidget;

namespace vl {

// Makes the program's viewer a Qt window (at start, with a display).
void InstallQtTextViewer();
// Frees the viewer and leaves the program without viewer window.
void RemoveQtTextViewer();

// Prints go into this PDF file instead of to a printer, without asking
// (empty: printers again).
void SetTextViewerPdfOutput(const QString &AFileName);

// Prints the job on a printer that is set up and ready; false when nothing
// could be printed.
bool RenderPrintJob(QPrinter &APrinter, const TPrintJob &AJob);

class TTextViewerWindow : public QDialog, public ITextViewerView {
    Q_OBJECT

public:
    explicit TTextViewerWindow(TShowTextDialog &ALogic);
    ~TTextViewerWindow() override;

    void SetCaption(const QString &ACaption) override;
    void PlaceAt(QPoint APos) override;
    QRect Geometry() const override;
    void SetGeometry(const QRect &ARect) override;
    bool IsShowing() const override;
    void ShowViewer(bool AModal) override;
    void CloseViewer() override;
    void BringToFront() override;
    QRect ScreenRect(const TControlState *AControl) const override;
    QString ResolvePrinter(const QString &APrtName) override;
    bool PrintJob(const TPrintJob &AJob, bool AShowDialog) override;
    QString AskOpenFile(const QString &AFilter, const QString &ACurrent) override;
    bool AskFont(TViewerFont &AFont) override;
    int AskCodePage(const QStringList &AItems, int AItemIndex) override;
    void ShowFindDialog(QPoint APos) override;

    // The widgets, for those who drive the window.
    QPlainTextEdit *Memo() const { return FMemo; }
    QAbstractButton *Button(const TButtonState &AState) const;
    QLabel *StatusPanel(int AIndex) const { return FPanels[AIndex]; }
    QDialog *FindWindow() const { return FFindWindow; }

protected:
    void showEvent(QShowEvent *AEvent) override;
    void resizeEvent(QResizeEvent *AEvent) override;
    bool eventFilter(QObject *AObject, QEvent *AEvent) override;

public:
    void done(int AResult) override;

private:
    void BuildFindWindow();
    void LayoutPanel();
    void ShowMemoText();
    void ShowMemoSelection();
    void ReportMemoSelection();
    void ReportFirstVisibleLine();

    TShowTextDialog &FLogic;
    QWidget *FPanel = nullptr;
    QPlainTextEdit *FMemo = nullptr;
    QLabel *FPanels[2] = {};
    QDialog *FFindWindow = nullptr;
    QHash<const TControlState *, QAbstractButton *> FButtons;
    int FMemoObserver = 0;
    bool FShowingMemo = false;
    bool FDestroying = false;
};

} // namespace vl
