// Qt view of the directory dialog (ui/DirectoryDialog.h) and of the files
// dialog (ui/FilesDialog.h).
#pragma once

#include "ui/DirectoryDialog.h"
#include "ui/FilesDialog.h"
#include "ui/qt/LogicDialog.h"

class QComboBox;
class QMenu;
class QSplitter;

namespace vl {

class TShellTreeView;
class TShellListView;

class TShellDirDialogView : public TLogicDialog {
public:
    explicit TShellDirDialogView(TShellDirDialog &ALogic, QWidget *AParent = nullptr);

    // Opens the window with the logic's geometry and runs it modally.
    void Execute();

    TShellTreeView *Tree() const { return FTree; }
    TShellListView *List() const { return FList; }
    QMenu *ContextMenu() const { return FMenu; }
    // What a right click on the tree at APos (viewport coordinates) does:
    // selects the folder there and opens the context menu.
    void OpenContextMenu(QPoint APos);

protected:
    void keyPressEvent(QKeyEvent *AEvent) override;
    void showEvent(QShowEvent *AEvent) override;

private:
    void ApplyGeometry();
    void FitFilePane();
    // Before the window closes: the geometry goes to the logic, which
    // saves its settings.
    void StoreGeometry();

    TShellDirDialog &FLogic;
    TShellTreeView *FTree;
    TShellListView *FList;
    QSplitter *FSplitter;
    QComboBox *FPathBox;
    QMenu *FMenu;
    bool FShown = false;
};

class TShowFilesDialogView : public TLogicDialog {
public:
    explicit TShowFilesDialogView(TShowFilesDialog &ALogic, QWidget *AParent = nullptr);

    TShellListView *List() const { return FList; }
    // The designed size, which the name column's width is reckoned from.
    QSize sizeHint() const override { return QSize(475, 360); }

protected:
    void resizeEvent(QResizeEvent *AEvent) override;

private:
    TShowFilesDialog &FLogic;
    TShellListView *FList;
};

} // namespace vl
