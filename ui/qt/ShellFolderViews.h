// Qt views of the folder tree and the file list of ui/ShellFolders.h, on
// QFileSystemModel: the widget shows the state's root, selection or listed
// folder, and reports what the user selects or opens back to the state.
// The state must outlive the widget.
#pragma once

#include "ui/ShellFolders.h"

#include <QTreeView>

class QFileSystemModel;

namespace vl {

class TTopFolderFilter;

class TShellTreeView : public QTreeView {
public:
    TShellTreeView(TShellTreeState &AState, QWidget *AParent = nullptr);
    ~TShellTreeView() override;

    // The folder of a row of the view; empty for an invalid index.
    QString FolderOf(const QModelIndex &AIndex) const;
    // The row showing AFolder; invalid when the tree does not show it.
    QModelIndex IndexOf(const QString &AFolder) const;

private:
    void ShowRoot();
    void ShowPath();
    void ShowOptions();
    void Show(TShellChange AChange);

    TShellTreeState &FState;
    QFileSystemModel *FModel;
    TTopFolderFilter *FFilter;
    bool FUpdating = false;
};

class TShellListView : public QTreeView {
public:
    TShellListView(TShellListState &AState, QWidget *AParent = nullptr);
    ~TShellListView() override;

    QString PathOf(const QModelIndex &AIndex) const;
    QModelIndex IndexOf(const QString &APath) const;
    // Opens a folder of the list, as a double click on it does.
    void OpenFolder(const QString &AFolder);

private:
    void ShowFolder();
    void ShowOptions();
    void ShowColumns();
    void Show(TShellChange AChange);

    TShellListState &FState;
    QFileSystemModel *FModel;
};

// Pixels of a width in list units (see TShellListState::ColumnWidths).
int ListUnitsToPixels(int AUnits);

} // namespace vl
