// The folder tree and the file list of the folder dialogs as state,
// without widgets, and the path rules they share.
//
// Paths here are local absolute paths without a trailing "/" (the root
// stays "/"). A network path "//server/share/dir" names the folder of a
// mounted share (a network mount of the mount table, or a share gio has
// mounted); the tree shows it at its local place, and the network form is
// what the user reads while the tree shows the network root.
//
// Roots of the tree:
// - rfDesktop, rfPersonal: the desktop and documents folders of the user
//   (the home folder when the folder is not set up or missing) as the one
//   top node;
// - rfMyComputer: the whole file system, "/" as the one top node;
// - rfNetwork: every mounted network share as a top node;
// - rfFolder: a given folder as the one top node.
// The tree of the first, second and last kind has a root node, the top
// folder itself; the others hang their top nodes below an invisible one.
#pragma once

#include "ui/ControlState.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace vl {

enum class TShellRoot : uint8_t { rfDesktop, rfPersonal, rfMyComputer, rfNetwork, rfFolder };

// ---- Path rules ----

// Path without trailing delimiters; "/" stays "/", an empty path empty.
QString FolderPath(const QString &Path);
// Whether Path is Folder or lies below it (both as FolderPath gives them).
bool IsPathWithin(const QString &Path, const QString &Folder);
// The local folder a path text names: a network path resolved through the
// mounted shares (empty when its share is not mounted), an absolute path
// as FolderPath gives it, a relative path empty.
QString LocalFolderOf(const QString &Path);
// Whether the path text names an existing folder (links followed).
bool FolderExists(const QString &Path);
// The network form "//server/share/rest" of a local path on a mounted
// share; empty when no network mount holds the path.
QString NetworkPathOf(const QString &LocalPath);
// The mount points of the mounted network shares, sorted.
QStringList NetworkFolders();
// The folder whose children the tree shows when Tops are its top nodes:
// the deepest folder holding all of them, or its parent when that is one
// of the tops; empty above "/" (and for no tops).
QString ShellTreeBase(const QStringList &Tops);

// ---- The folder tree ----

// What the view of a tree or list has to show anew.
enum class TShellChange : uint8_t {
    scRoot,     // root kind or top folders
    scPath,     // the selected (tree) or listed (list) folder
    scOptions,  // hidden objects shown or not
    scRefresh,  // re-read the selected folder from the disk
    scShow,     // scroll the selected node into view and focus the control
};
using TShellObserver = std::function<void(TShellChange AChange)>;

class TShellTreeState : public TControlState {
public:
    TShellRoot Root() const { return FRoot; }
    // The top nodes (local folders) of the current root.
    const QStringList &TopFolders() const { return FTops; }
    // The root node's folder: the single top folder of rfDesktop,
    // rfPersonal and rfFolder; empty for the other roots.
    QString RootNodeFolder() const;
    // Roots the tree on ARoot (AFolder for rfFolder); the top folders are
    // read anew. A selection outside the new tops is cleared (OnChange
    // runs); one inside stays.
    void SetRoot(TShellRoot ARoot, const QString &AFolder = QString());

    // The selected folder; empty when nothing is selected.
    const QString &Path() const { return FPath; }
    // Selects a folder (FolderPath form); runs OnChange when the selection
    // changes.
    void SetPath(const QString &APath);
    // The user selected a folder: as SetPath, ignored while disabled.
    bool UserSelect(const QString &APath);
    // The selected folder lies below one of the top nodes (not on one).
    bool SelectionBelowTop() const;

    bool ShowHidden() const { return FShowHidden; }
    void SetShowHidden(bool AValue);
    // Asks the view to re-read the selected folder.
    void Refresh() { Tell(TShellChange::scRefresh); }
    // Asks the view to scroll the selection into view and focus the tree.
    void ShowSelected() { Tell(TShellChange::scShow); }

    TNotifyEvent OnChange;
    // The view that shows the tree (one at a time).
    TShellObserver ViewObserver;

private:
    void Tell(TShellChange AChange);

    TShellRoot FRoot = TShellRoot::rfMyComputer;
    QStringList FTops{QStringLiteral("/")};
    QString FPath;
    bool FShowHidden = false;
};

// ---- The file list ----

// A list of the entries of one folder, in report form.
class TShellListState : public TControlState {
public:
    // The listed folder; empty lists nothing.
    const QString &Folder() const { return FFolder; }
    // Lists AFolder; runs no handler.
    void SetFolder(const QString &AFolder);
    // The user opened a folder of the list (the list shows it already):
    // runs OnOpen; ignored while disabled.
    bool UserOpen(const QString &AFolder);

    // Folders too, or files only.
    bool ShowFolders() const { return FShowFolders; }
    void SetShowFolders(bool AValue);
    bool ShowHidden() const { return FShowHidden; }
    void SetShowHidden(bool AValue);
    void Refresh() { Tell(TShellChange::scRefresh); }

    // Widths of the columns (name, size, type, date) in list units of 6
    // pixels, so that the 75 units of the files dialog fill its list at
    // the designed window width of 475 pixels. A width of 0 lets the
    // column take the room the others leave.
    QList<int> ColumnWidths() const { return FColumns; }
    void SetColumnWidths(const QList<int> &AWidths);

    TNotifyEvent OnOpen;
    TShellObserver ViewObserver;

private:
    void Tell(TShellChange AChange);

    QString FFolder;
    bool FShowFolders = true;
    bool FShowHidden = false;
    QList<int> FColumns;
};

// Pixels per list unit.
inline constexpr int kListUnitPixels = 6;

} // namespace vl
