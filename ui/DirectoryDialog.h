// The folder chooser of the program, without widgets: a folder tree with
// quick buttons for the network, computer, desktop and documents roots, a
// path box with the history of the last 15 chosen folders, an optional
// file pane, the free space of the current folder's volume, and creating,
// refreshing and deleting folders from the tree's context menu.
//
// One dialog object serves the whole program (ShellDirDialog); it keeps
// its history, size and file-pane state between calls, and writes them
// to the INI section given to LoadFromIni each time it closes.
//
// The dialog reaches the screen through the installed IDirDialogViews
// (ui/DirDialogViews.h); without a display SelectDirectory answers false.
#pragma once

#include "ui/DialogLogic.h"
#include "ui/MenuState.h"
#include "ui/ShellFolders.h"
#include "ui/StringList.h"

#include <QString>

namespace vl {

// Entries of the folder history.
inline constexpr int kDirHistoryCount = 15;

class TShellDirDialog : public TDialogLogic {
public:
    TShellDirDialog();
    ~TShellDirDialog() override;

    TShellTreeState ShellTreeView;
    TShellListState ShellListView; // files only, beside the tree
    TControlState PanelRight;      // the file pane
    // The root buttons (panRoot).
    TRadioButtonState rbNetwork;
    TRadioButtonState rbComputer;
    TRadioButtonState rbDesktop;
    TRadioButtonState rbDocuments;
    TButtonState btnDefault; // the default folder
    TButtonState btnUp;
    TButtonState btnNew;     // create a folder
    TControlState Label1;
    TComboBoxState cbxSelectedDir{true};
    TCheckBoxState cbxFiles;
    TControlState laVolHint; // free space of the current folder's volume
    TButtonState btbOK;
    TButtonState btbCancel;
    // The context menu of the tree and its items.
    TMenuItemState PopupMenu;
    TMenuItemState *itmCreate;
    TMenuItemState *itmDelete;
    TMenuItemState *itmUpdate;
    TMenuItemState *cancel1;

    // Geometry in pixels; the view applies it when it shows the dialog and
    // stores it back before it closes. A Top of 0 centres the window.
    int Top = 0;
    int Left = 0;
    int Height = 440;
    int DirWidth = 300;  // the tree panel
    int FileWidth = 380; // the file panel

    // Runs the dialog; true on OK with Dir the chosen folder with one
    // trailing "/" (an empty path box gives an empty Dir); otherwise false
    // with Dir unchanged. Hidden shows hidden folders and files. ZipAsFiles
    // has no effect here: zip files are never browsed as folders, and the
    // file pane shows them as files. HomeDir is the default folder.
    bool Execute(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles, const QString &HomeDir,
                 QString &Dir);
    // Remembers the file and section for saving; when the file exists and
    // the section is named, reads the history and geometry from there.
    void LoadFromIni(const QString &IniName, const QString &Section);
    // Top and left to 50 pixels.
    void ResetPosition();

    // The steps of Execute, for the view and for tests: Prepare sets the
    // dialog up as it opens; Finish gives the result after it closed.
    void Prepare(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles, const QString &HomeDir,
                 const QString &Dir);
    bool Finish(QString &Dir) const;
    // The view closes the window (after storing the geometry): the
    // settings go to the INI file; errors are ignored.
    void FormClose();
    // A key reached the window first (Qt::Key and modifiers): F5, the Alt
    // keys of the buttons, Enter for OK. True when it was used.
    bool KeyDown(int AKey, Qt::KeyboardModifiers AModifiers);
    // The context menu opens.
    void PopupMenuPopup();

    // "<available> free of <total>" of the volume holding Folder; empty
    // when it cannot be read.
    QString FreeSpaceText(const QString &Folder) const;
    // A folder of the tree as the user reads it: in network form while
    // the tree shows the network root.
    QString DisplayPath(const QString &Folder) const;

    const TStringList &DirList() const { return FDirList; }
    const QString &DefaultDir() const { return FDefaultDir; }
    bool ZipAsFiles() const { return FZipAsFiles; }
    bool FileViewOn() const { return PanelRight.Visible(); }
    // The path box drops its list down only while there is a history.
    bool HistoryDropDown() const { return !FDirList.IsEmpty(); }

private:
    void SaveSettingsToIni();
    void AddToHistory(const QString &Folder);
    void RemoveFromHistory(const QString &Folder);
    void UpdateHistoryItems();
    void SetFileView(bool AOn);
    void GoToDirectory(const QString &Folder);
    // Roots the tree; the path box follows even when the selection stays.
    void SetTreeRoot(TShellRoot ARoot, const QString &AFolder = QString());
    // Puts the root button down without running its handler.
    void PressRoot(TRadioButtonState &AButton);
    void SetPathBoxText(const QString &AText);
    void ShowFreeSpace();

    void ShellTreeViewChange();
    void PathBoxChange();
    void RootClick(TShellRoot ARoot);
    void UpClick();
    void DefaultClick();
    void NewFolderClick();
    void DeleteClick();
    void UpdateClick();
    void OKClick();

    QString FDefaultDir;
    QString FIniName;
    QString FIniSection;
    TStringList FDirList;
    bool FZipAsFiles = true;
    bool FActive = false;       // the dialog is open
    bool FPressing = false;     // a root button goes down in code
    bool FSettingText = false;  // the path box text is set in code
    bool FFromPathBox = false;  // the tree follows the path box
};

// The program's dialog: created by the first call (nullptr before).
TShellDirDialog *ShellDirDialog();
// Creates the dialog unless it exists; the program's start-up loads its
// settings from the program INI next.
TShellDirDialog &CreateShellDirDialog();
// Frees it (at the end of the program, and in tests).
void FreeShellDirDialog();

// Creates the dialog on first use (then loading nothing: LoadFromIni with
// an empty file and section) and runs Execute.
bool SelectDirectoryEx(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles, const QString &HomeDir,
                       QString &Dir);
// SelectDirectoryEx with ZipAsFiles.
bool SelectDirectory(const QString &ATitle, bool Hidden, bool FileView, const QString &HomeDir, QString &Dir);

// Deletes the folder Base (with SubPath: Base/SubPath) with everything in
// it: subfolders first, then the files (read-only ones included), then the
// folder itself when every file went and it is a subfolder or DeleteBase.
// Counts deleted files and folders and the failures into the counters
// (which it does not reset). Nothing happens when the folder does not
// exist. Links are never followed: a link inside is removed as a file,
// and a Base that is a link to a folder is removed as the link itself
// (counted as a folder) with DeleteBase, else left alone. The walk stays
// on one file system: a mount point (Base included) is never emptied, only
// removed by name, which fails while something is mounted there. A read-only
// folder is made writable for its owner while it is emptied, and gets its
// mode back when it stays.
void DeleteFolderTreeCounted(const QString &Base, const QString &SubPath, bool DeleteBase, int &Errors, int &Files,
                             int &Folders);

} // namespace vl
