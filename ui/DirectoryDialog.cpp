#include "ui/DirectoryDialog.h"

#include "core/Drives.h"
#include "core/Format.h"
#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/ShellUtils.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"
#include "ui/ChoiceDialogs.h"
#include "ui/DirDialogViews.h"
#include "ui/History.h"
#include "ui/InputDialogs.h"

#include <QDir>

#include <algorithm>
#include <memory>
#include <vector>

namespace vl {

namespace {

std::unique_ptr<TShellDirDialog> &Instance()
{
    static std::unique_ptr<TShellDirDialog> dialog;
    return dialog;
}

constexpr uint32_t kOwnerWrite = 0200;

// A name typed for a new folder: one or more levels below the current
// folder, none of them empty of meaning ("." or "..").
bool IsSubfolderName(const QString &AName)
{
    const QStringList parts = AName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    for (const QString &part : parts)
        if (!IsRegularDirName(part))
            return false;
    return true;
}

// Folders the dialog never deletes: the file-system root, and the home
// folder with every folder that holds it. A link is only a name and may go.
bool IsProtectedFolder(const QString &AFolder)
{
    if (AFolder.isEmpty() || AFolder == QLatin1String("/"))
        return true;
    TStatInfo st;
    if (StatPath(AFolder, false, st) == 0 && st.IsLink())
        return false;
    const QString home = FolderPath(QDir::homePath());
    QString realHome, realFolder;
    if (IsPathWithin(home, AFolder))
        return true;
    return RealPath(home, realHome) == 0 && RealPath(AFolder, realFolder) == 0
        && IsPathWithin(FolderPath(realHome), FolderPath(realFolder));
}

// Whether Path still names the item Before was taken of.
bool IsSameItem(const QString &APath, const TStatInfo &ABefore)
{
    TStatInfo st;
    return StatPath(APath, false, st) == 0 && st.Dev == ABefore.Dev && st.Ino == ABefore.Ino;
}

} // namespace

// ---------------------------------------------------------------------------
// Deleting a folder tree

void DeleteFolderTreeCounted(const QString &Base, const QString &SubPath, bool DeleteBase, int &Errors, int &Files,
                             int &Folders)
{
    const QString folder = FolderPath(SubPath.isEmpty() ? Base : JoinPath(FolderPath(Base), SubPath));
    if (folder.isEmpty())
        return;
    const bool isBase = SubPath.isEmpty();
    TStatInfo st;
    if (StatPath(folder, false, st) != 0)
        return;
    if (st.IsLink()) {
        // Only the base can be a link (links inside are files to the
        // walk): the link goes, never what it points to.
        TStatInfo target;
        if (!isBase || !DeleteBase || StatPath(folder, true, target) != 0 || !target.IsDir())
            return;
        if (RemoveFile(folder) == 0)
            ++Folders;
        else
            ++Errors;
        return;
    }
    if (!st.IsDir())
        return;
    // Another file system mounted here (or a bind mount) is not part of
    // the tree: only its mount point's name may go, which the system
    // refuses while it is mounted. Its content is never touched.
    if (IsMountPoint(folder) || IsPseudoMountPoint(folder)) {
        if (!isBase || DeleteBase) {
            if (RemoveDir(folder) == 0)
                ++Folders;
            else
                ++Errors;
        }
        return;
    }

    // Removing entries needs write permission on the folder itself.
    const bool readOnly = !(st.Mode & kOwnerWrite);
    if (readOnly)
        Chmod(folder, (st.Mode & 07777) | kOwnerWrite);

    std::vector<TDirEntry> entries;
    const bool listed = ListDirectory(folder, entries) == 0;
    if (!listed)
        ++Errors;
    for (const TDirEntry &entry : entries) {
        if (!entry.Stat.IsDir())
            continue;
        if (entry.Stat.Dev != st.Dev) {
            // A file system mounted below: the walk stays on this one.
            if (RemoveDir(JoinPath(folder, entry.Name)) == 0)
                ++Folders;
            else
                ++Errors;
            continue;
        }
        DeleteFolderTreeCounted(Base, isBase ? entry.Name : JoinPath(SubPath, entry.Name), DeleteBase, Errors, Files,
                                Folders);
    }
    bool filesGone = listed;
    for (const TDirEntry &entry : entries) {
        if (entry.Stat.IsDir())
            continue;
        if (RemoveFile(JoinPath(folder, entry.Name)) == 0) {
            ++Files;
        } else {
            ++Errors;
            filesGone = false;
        }
    }
    if (filesGone && (!isBase || DeleteBase)) {
        if (RemoveDir(folder) == 0) {
            ++Folders;
            return;
        }
        ++Errors;
    }
    if (readOnly)
        Chmod(folder, st.Mode & 07777);
}

// ---------------------------------------------------------------------------
// TShellDirDialog

TShellDirDialog::TShellDirDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Select directory"));
    rbNetwork.SetCaption(TrDomain(kDialogsDomain, "Network"));
    rbComputer.SetCaption(TrDomain(kDialogsDomain, "Computer"));
    rbDesktop.SetCaption(TrDomain(kDialogsDomain, "Desktop"));
    rbDocuments.SetCaption(TrDomain(kDialogsDomain, "Documents"));
    JoinRadioButtons({&rbNetwork, &rbComputer, &rbDesktop, &rbDocuments});
    PressRoot(rbComputer);
    btnDefault.SetHint(TrDomain(kDialogsDomain, "Go to default folder"));
    btnUp.SetHint(TrDomain(kDialogsDomain, "One folder up"));
    btnNew.SetHint(TrDomain(kDialogsDomain, "Create new folder"));
    Label1.SetCaption(TrDomain(kDialogsDomain, "Directory:"));
    cbxSelectedDir.SetHint(TrDomain(kDialogsDomain, "Directory"));
    cbxFiles.SetCaption(TrDomain(kDialogsDomain, "Show files"));
    btbOK.SetCaption(TrDomain(kDialogsDomain, "OK"));
    btbCancel.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    itmCreate = &PopupMenu.Add(TrDomain(kDialogsDomain, "Create folder"));
    itmDelete = &PopupMenu.Add(TrDomain(kDialogsDomain, "Delete folder"));
    PopupMenu.Add(QStringLiteral("-"));
    itmUpdate = &PopupMenu.Add(TrDomain(kDialogsDomain, "Update"));
    cancel1 = &PopupMenu.Add(TrDomain(kDialogsDomain, "Cancel"));
    ShellListView.SetShowFolders(false);
    ShellListView.SetColumnWidths({0, 12, 15, 17});
    PanelRight.SetVisible(false);
    ShellListView.SetVisible(false);
    FDirList.SetCaseSensitive(false);
    Position = kDefaultPos;

    ShellTreeView.OnChange = [this](TControlState &) { ShellTreeViewChange(); };
    cbxSelectedDir.OnChange = [this](TControlState &) { PathBoxChange(); };
    cbxFiles.OnClick = [this](TControlState &) {
        if (FActive)
            SetFileView(cbxFiles.Checked());
    };
    rbNetwork.OnClick = [this](TControlState &) { RootClick(TShellRoot::rfNetwork); };
    rbComputer.OnClick = [this](TControlState &) { RootClick(TShellRoot::rfMyComputer); };
    rbDesktop.OnClick = [this](TControlState &) { RootClick(TShellRoot::rfDesktop); };
    rbDocuments.OnClick = [this](TControlState &) { RootClick(TShellRoot::rfPersonal); };
    btnUp.OnClick = [this](TControlState &) { UpClick(); };
    btnDefault.OnClick = [this](TControlState &) { DefaultClick(); };
    btnNew.OnClick = [this](TControlState &) { NewFolderClick(); };
    btbOK.OnClick = [this](TControlState &) { OKClick(); };
    btbCancel.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
    itmCreate->OnClick = [this](TMenuItemState &) { NewFolderClick(); };
    itmDelete->OnClick = [this](TMenuItemState &) { DeleteClick(); };
    itmUpdate->OnClick = [this](TMenuItemState &) { UpdateClick(); };
}

TShellDirDialog::~TShellDirDialog() = default;

// ---- Settings ----

void TShellDirDialog::LoadFromIni(const QString &IniName, const QString &Section)
{
    FIniName = IniName;
    FIniSection = Section;
    if (Section.isEmpty() || IniName.isEmpty() || !PathExists(IniName, true))
        return;
    try {
        const TMemIniFile ini(IniName);
        FDirList.Clear();
        for (int i = 0; i < kDirHistoryCount; ++i) {
            const QString entry = ini.ReadString(Section, QStringLiteral("History%1").arg(i), QString());
            if (!entry.isEmpty())
                FDirList.Add(entry);
        }
        Top = ini.ReadInteger(Section, QStringLiteral("Top"), 0);
        Left = ini.ReadInteger(Section, QStringLiteral("Left"), Left);
        Height = ini.ReadInteger(Section, QStringLiteral("Height"), Height);
        DirWidth = ini.ReadInteger(Section, QStringLiteral("DirWidth"), DirWidth);
        FileWidth = ini.ReadInteger(Section, QStringLiteral("FileWidth"), FileWidth);
        cbxFiles.SetChecked(ini.ReadBool(Section, QStringLiteral("Fileview"), false));
    } catch (const Exception &) {
        // An unreadable file leaves the settings as they are.
    }
    UpdateHistoryItems();
}

void TShellDirDialog::SaveSettingsToIni()
{
    if (FIniName.isEmpty() || FIniSection.isEmpty())
        return;
    try {
        TMemIniFile ini(FIniName);
        ini.EraseSection(FIniSection);
        for (int i = 0; i < FDirList.Count(); ++i)
            ini.WriteString(FIniSection, QStringLiteral("History%1").arg(i), FDirList.Strings(i));
        ini.WriteInteger(FIniSection, QStringLiteral("Top"), Top);
        ini.WriteInteger(FIniSection, QStringLiteral("Left"), Left);
        ini.WriteInteger(FIniSection, QStringLiteral("Height"), Height);
        ini.WriteInteger(FIniSection, QStringLiteral("DirWidth"), DirWidth);
        ini.WriteInteger(FIniSection, QStringLiteral("FileWidth"), FileWidth);
        ini.WriteBool(FIniSection, QStringLiteral("Fileview"), cbxFiles.Checked());
        ini.UpdateFile();
    } catch (const Exception &) {
        // Settings that cannot be written are lost, the dialog closes anyway.
    }
}

void TShellDirDialog::ResetPosition()
{
    Top = 50;
    Left = 50;
}

void TShellDirDialog::FormClose()
{
    FActive = false;
    SaveSettingsToIni();
}

// ---- History ----

void TShellDirDialog::AddToHistory(const QString &Folder)
{
    if (Folder.isEmpty())
        return;
    AddHistoryEntryEx(FDirList, Folder, kDirHistoryCount);
    UpdateHistoryItems();
}

void TShellDirDialog::RemoveFromHistory(const QString &Folder)
{
    RemoveListEntry(FDirList, Folder);
    UpdateHistoryItems();
    cbxSelectedDir.SetItemIndex(0);
}

void TShellDirDialog::UpdateHistoryItems()
{
    const bool was = FSettingText;
    FSettingText = true;
    cbxSelectedDir.SetItems(FDirList.Texts());
    FSettingText = was;
}

// ---- Running ----

void TShellDirDialog::Prepare(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles,
                              const QString &HomeDir, const QString &Dir)
{
    FActive = false;
    CloseModal(mrNone); // every call starts unanswered
    Form.SetCaption(ATitle);
    FDefaultDir = HomeDir;
    FZipAsFiles = ZipAsFiles;
    ShellTreeView.SetShowHidden(Hidden);
    ShellListView.SetShowHidden(Hidden);

    GoToDirectory(Dir);
    SetPathBoxText(DisplayPath(ShellTreeView.Path()));
    ShowFreeSpace();
    cbxFiles.SetVisible(FileView);
    SetFileView(FileView && cbxFiles.Checked());

    // As the window shows.
    btnDefault.SetVisible(!FDefaultDir.isEmpty());
    btnDefault.SetHint(TrDomain(kDialogsDomain, "Default: ") + FDefaultDir);
    UpdateHistoryItems();
    const QString text = cbxSelectedDir.Text();
    if (FolderExists(text) && LocalFolderOf(text) != ShellTreeView.Path())
        GoToDirectory(text);
    Position = Top == 0 ? kDefaultPos : QPoint(Left, Top);
    FActive = true;
}

bool TShellDirDialog::Finish(QString &Dir) const
{
    if (ModalResult() != mrOk)
        return false;
    const QString text = cbxSelectedDir.Text();
    Dir = text.isEmpty() ? QString() : WithTrailingDelimiter(FolderPath(text));
    return true;
}

bool TShellDirDialog::Execute(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles,
                              const QString &HomeDir, QString &Dir)
{
    Prepare(ATitle, Hidden, FileView, ZipAsFiles, HomeDir, Dir);
    DirDialogViews().ExecuteShellDirDialog(*this);
    FActive = false;
    return Finish(Dir);
}

void TShellDirDialog::PressRoot(TRadioButtonState &AButton)
{
    FPressing = true;
    AButton.SetChecked(true);
    FPressing = false;
}

void TShellDirDialog::SetTreeRoot(TShellRoot ARoot, const QString &AFolder)
{
    // The same folder may read differently under the new root.
    const QString before = ShellTreeView.Path();
    ShellTreeView.SetRoot(ARoot, AFolder);
    if (ShellTreeView.Path() == before)
        ShellTreeViewChange();
}

void TShellDirDialog::SetPathBoxText(const QString &AText)
{
    FSettingText = true;
    cbxSelectedDir.SetText(AText);
    FSettingText = false;
}

void TShellDirDialog::ShowFreeSpace()
{
    laVolHint.SetCaption(FreeSpaceText(cbxSelectedDir.Text()));
}

QString TShellDirDialog::FreeSpaceText(const QString &Folder) const
{
    const QString local = LocalFolderOf(Folder);
    int64_t freeBytes = 0;
    int64_t totalBytes = 0;
    if (local.isEmpty() || !GetDiskSpace(WithTrailingDelimiter(local), freeBytes, totalBytes))
        return QString();
    return FormatByteSize(freeBytes, false) + TrDomain(kDialogsDomain, " free of ") + FormatByteSize(totalBytes, false);
}

QString TShellDirDialog::DisplayPath(const QString &Folder) const
{
    if (ShellTreeView.Root() == TShellRoot::rfNetwork) {
        const QString network = NetworkPathOf(Folder);
        if (!network.isEmpty())
            return network;
    }
    return Folder;
}

void TShellDirDialog::GoToDirectory(const QString &Folder)
{
    QString folder = Folder.isEmpty() ? FDefaultDir : Folder;
    if (folder.isEmpty()) {
        PressRoot(rbDesktop);
        SetTreeRoot(TShellRoot::rfDesktop);
        ShellTreeView.SetPath(QString());
        return;
    }
    PressRoot(rbComputer);
    TShellRoot root = TShellRoot::rfMyComputer;
    if (!FolderExists(folder)) {
        const QString documents = XdgUserDir(TXdgUserDir::Documents);
        folder = FolderExists(documents) ? documents : QDir::currentPath();
    } else if (folder.startsWith(QLatin1String("//"))) {
        root = TShellRoot::rfNetwork;
        PressRoot(rbNetwork);
    }
    SetTreeRoot(root);
    ShellTreeView.SetPath(LocalFolderOf(folder));
}

void TShellDirDialog::SetFileView(bool AOn)
{
    PanelRight.SetVisible(AOn);
    ShellListView.SetVisible(AOn);
    if (AOn) {
        ShellListView.SetFolder(ShellTreeView.Path());
        const QString text = cbxSelectedDir.Text();
        if (FolderExists(text))
            ShellTreeView.SetPath(LocalFolderOf(text));
    } else {
        ShellListView.SetFolder(QString());
    }
    SetPathBoxText(DisplayPath(ShellTreeView.Path()));
    ShowFreeSpace();
    btbOK.SetEnabled(FolderExists(cbxSelectedDir.Text()));
}

// ---- Handlers ----

void TShellDirDialog::ShellTreeViewChange()
{
    const QString path = ShellTreeView.Path();
    if (FileViewOn())
        ShellListView.SetFolder(path);
    if (!FActive)
        return;
    btbOK.SetEnabled(!path.isEmpty());
    if (!FFromPathBox) {
        QString text = DisplayPath(path);
        // A folder that stands for another one names it in "target.lnk".
        const QString link = JoinPath(path, QStringLiteral("target.lnk"));
        QString target, arguments, workDir, description;
        if (!path.isEmpty() && PathExists(link, false)
            && ReadShellLink(link, target, arguments, workDir, description) && !target.isEmpty())
            text = target;
        SetPathBoxText(text);
    }
    ShowFreeSpace();
}

void TShellDirDialog::PathBoxChange()
{
    if (FSettingText)
        return;
    // The tree follows only a text that names a folder, so typing a path
    // never moves the tree elsewhere or overwrites what is being typed.
    const QString text = cbxSelectedDir.Text();
    const bool exists = FolderExists(text);
    if (exists && LocalFolderOf(text) != ShellTreeView.Path()) {
        FFromPathBox = true;
        GoToDirectory(text);
        FFromPathBox = false;
    }
    btbOK.SetEnabled(exists);
    ShowFreeSpace();
}

void TShellDirDialog::RootClick(TShellRoot ARoot)
{
    if (FPressing)
        return;
    SetTreeRoot(ARoot);
    ShellTreeView.ShowSelected();
}

void TShellDirDialog::UpClick()
{
    const QString path = ShellTreeView.Path();
    const QString rootNode = ShellTreeView.RootNodeFolder();
    if (path.isEmpty() || path == rootNode) {
        PressRoot(rbComputer);
        SetTreeRoot(TShellRoot::rfMyComputer);
    } else if (ShellTreeView.Root() == TShellRoot::rfPersonal) {
        // Lets the user climb above the documents folder.
        const QString parent = ParentDirectory(path);
        PressRoot(rbComputer);
        SetTreeRoot(TShellRoot::rfMyComputer);
        ShellTreeView.SetPath(parent);
    } else if (ShellTreeView.SelectionBelowTop()) {
        const QString parent = ParentDirectory(path);
        if (parent != rootNode)
            ShellTreeView.SetPath(parent);
    }
    ShellTreeView.ShowSelected();
}

void TShellDirDialog::DefaultClick()
{
    if (FolderExists(FDefaultDir)) {
        const QString local = LocalFolderOf(FDefaultDir);
        if (ShellTreeView.Root() == TShellRoot::rfNetwork || IsMountPoint(local)) {
            SetTreeRoot(TShellRoot::rfFolder, local);
            ShellTreeView.SetPath(local);
        } else {
            PressRoot(rbComputer);
            SetTreeRoot(TShellRoot::rfMyComputer);
            ShellTreeView.SetPath(local);
        }
    } else {
        ShowErrorBox(GuardedFormat(TrDomain(kDialogsDomain, "Directory not found:\r\n%s!"), FDefaultDir), 0);
        RemoveFromHistory(FDefaultDir);
    }
    ShellTreeView.ShowSelected();
}

void TShellDirDialog::NewFolderClick()
{
    const QString path = ShellTreeView.Path();
    // Without a selected folder there is no place for a new one.
    if (path.isEmpty())
        return;
    QString name;
    const QString prompt = TrDomain(kDialogsDomain, "New subdirectory:");
    if (!EditString(kDefaultPos, DisplayPath(path), prompt, name) || name.isEmpty())
        return;
    const QString folder = FolderPath(path + QLatin1Char('/') + name);
    if (IsSubfolderName(name) && MakeDirs(folder) == 0) {
        PressRoot(rbComputer);
        SetTreeRoot(TShellRoot::rfMyComputer);
        ShellTreeView.SetPath(folder);
    } else {
        ShowErrorBox(
            GuardedFormat(TrDomain(kDialogsDomain, "Could not create directory:\r\n%s!"), DisplayPath(folder)), 0);
    }
    ShellTreeView.ShowSelected();
}

void TShellDirDialog::DeleteClick()
{
    // The folder to delete is taken before the tree moves: the deletion
    // acts on it and never on what is selected afterwards.
    const QString folder = ShellTreeView.Path();
    if (IsProtectedFolder(folder))
        return;
    // What the user confirms is this very folder: one renamed or replaced
    // meanwhile is not deleted in its place.
    TStatInfo before;
    const bool known = StatPath(folder, false, before) == 0;
    const QString shown = DisplayPath(folder);
    const int choice =
        SelectChoice(TrDomain(kDialogsDomain, "Delete directory"),
                     GuardedFormat(TrDomain(kDialogsDomain, "Delete \"%s\""), shown), TMsgDlgType::mtConfirmation,
                     TFontStyles{TFontStyle::fsBold},
                     {TrDomain(kDialogsDomain, "Definitely"), TrDomain(kDialogsDomain, "To recycle bin")});
    if (choice < 0)
        return;
    UpClick();
    bool ok = known && IsSameItem(folder, before);
    if (!ok) {
        // Nothing is deleted.
    } else if ((choice & 0xFF) == 1) {
        ok = ShellDeleteDirItem(0, folder, true, true) >= 0;
        if (ok)
            ShowInfoBox(GuardedFormat(TrDomain(kDialogsDomain, "%s moved to Recycle Bin!"), shown), 0);
    } else {
        int errors = 0;
        int files = 0;
        int folders = 0;
        DeleteFolderTreeCounted(folder, QString(), true, errors, files, folders);
        ok = errors == 0;
        if (ok)
            ShowInfoBox(GuardedFormat(TrDomain(kDialogsDomain, "%u directories with %u files deleted!"),
                                      unsigned(folders), unsigned(files)),
                        0);
    }
    if (!ok)
        ShowErrorBox(GuardedFormat(TrDomain(kDialogsDomain, "Error deleting directory:\r\n%s!"), shown), 0);
    UpdateClick();
}

void TShellDirDialog::UpdateClick()
{
    // A selected folder that is gone gives way to its nearest parent.
    QString path = ShellTreeView.Path();
    while (!path.isEmpty() && !FolderExists(path)) {
        const QString parent = ParentDirectory(path);
        path = parent == path ? QString() : parent;
    }
    const QStringList &tops = ShellTreeView.TopFolders();
    if (std::none_of(tops.begin(), tops.end(), [&path](const QString &top) { return IsPathWithin(path, top); }))
        path.clear();
    if (path != ShellTreeView.Path())
        ShellTreeView.SetPath(path);
    ShellTreeView.Refresh();
}

void TShellDirDialog::PopupMenuPopup()
{
    const QString path = ShellTreeView.Path();
    itmCreate->SetEnabled(!path.isEmpty());
    itmDelete->SetEnabled(!IsProtectedFolder(path));
    UpdateClick();
}

void TShellDirDialog::OKClick()
{
    AddToHistory(cbxSelectedDir.Text());
    CloseModal(mrOk);
}

bool TShellDirDialog::KeyDown(int AKey, Qt::KeyboardModifiers AModifiers)
{
    const Qt::KeyboardModifiers mods = AModifiers & ~Qt::KeypadModifier;
    if (AKey == Qt::Key_F5 && mods == Qt::NoModifier) {
        UpdateClick();
        return true;
    }
    if ((AKey == Qt::Key_Return || AKey == Qt::Key_Enter) && mods == Qt::NoModifier) {
        // OK without adding to the history; never with a path OK refuses.
        if (!btbOK.Enabled())
            return false;
        CloseModal(mrOk);
        return true;
    }
    if (mods != Qt::AltModifier)
        return false;
    auto root = [this](TRadioButtonState &AButton, TShellRoot ARoot) {
        if (!AButton.Enabled() || !AButton.Visible())
            return false;
        PressRoot(AButton);
        RootClick(ARoot);
        return true;
    };
    switch (AKey) {
    case Qt::Key_C:
        return root(rbComputer, TShellRoot::rfMyComputer);
    case Qt::Key_D:
        return root(rbDocuments, TShellRoot::rfPersonal);
    case Qt::Key_T:
        return root(rbDesktop, TShellRoot::rfDesktop);
    case Qt::Key_W:
        return root(rbNetwork, TShellRoot::rfNetwork);
    case Qt::Key_H:
        return btnDefault.UserClick();
    case Qt::Key_N:
        return btnNew.UserClick();
    case Qt::Key_U:
        return btnUp.UserClick();
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// The program's dialog

TShellDirDialog *ShellDirDialog()
{
    return Instance().get();
}

TShellDirDialog &CreateShellDirDialog()
{
    if (!Instance())
        Instance() = std::make_unique<TShellDirDialog>();
    return *Instance();
}

void FreeShellDirDialog()
{
    Instance().reset();
}

bool SelectDirectoryEx(const QString &ATitle, bool Hidden, bool FileView, bool ZipAsFiles, const QString &HomeDir,
                       QString &Dir)
{
    if (!ShellDirDialog())
        CreateShellDirDialog().LoadFromIni(QString(), QString());
    return ShellDirDialog()->Execute(ATitle, Hidden, FileView, ZipAsFiles, HomeDir, Dir);
}

bool SelectDirectory(const QString &ATitle, bool Hidden, bool FileView, const QString &HomeDir, QString &Dir)
{
    return SelectDirectoryEx(ATitle, Hidden, FileView, true, HomeDir, Dir);
}

} // namespace vl
