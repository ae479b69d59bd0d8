// The files dialog, without widgets: shows every file and folder below one
// directory. The user opens subfolders and goes back up, but never above
// the directory the dialog was opened with. It only shows; it returns
// nothing.
#pragma once

#include "ui/DialogLogic.h"
#include "ui/ShellFolders.h"

#include <QList>
#include <QString>

namespace vl {

class TShowFilesDialog : public TDialogLogic {
public:
    TShowFilesDialog();

    TControlState pnTop;    // caption: the listed folder
    TShellListState lvFiles;
    TButtonState btnDirUp;
    TButtonState OKBtn;     // "Close", the default button

    // Sets the dialog up for Dir (caption ATitle, "Show files" when empty)
    // and runs it; when Dir does not exist, shows the error box instead.
    void Show(const QString &ATitle, const QString &Dir);
    // The setup step of Show: false (after the error box) when Dir does
    // not exist.
    bool Prepare(const QString &ATitle, const QString &Dir);

    // The directory the dialog was opened with, as a local folder with a
    // trailing "/".
    const QString &RootName() const { return FRootName; }

    // Widths of the four columns in list units, at the design DPI.
    void SetColumnWidths(int AName, int ASize, int AType, int ADate);
    // The client width changed (in pixels at the design DPI): the name
    // column takes the growth.
    void FormResize(int AClientWidth);
    // The name column's width for a client width: 32 at the designed
    // width of 475, 75 more for every 475 added (at least 1).
    static int NameColumnWidth(int AClientWidth);

private:
    void FolderOpened();
    void DirUpClick();
    // Whether the listed folder differs from the start directory.
    bool AwayFromRoot() const;
    void ShowFolder(const QString &AFolder);

    QString FRootName;
};

// Creates the dialog, shows it and frees it.
void ShowDirectoryFiles(const QString &ATitle, const QString &Dir);

} // namespace vl
