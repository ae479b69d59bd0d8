#include "ui/ShellFolders.h"

#include "core/NetShares.h"
#include "platform/FileSystem.h"
#include "platform/NetShares.h"
#include "platform/Shell.h"
#include "platform/Volumes.h"

#include <QDir>

#include <algorithm>

namespace vl {

namespace {

QStringList Elements(const QString &APath)
{
    return APath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// The folder itself when it is a folder, else the home folder.
QString FolderOrHome(const QString &AFolder)
{
    if (!AFolder.isEmpty() && FolderExists(AFolder))
        return FolderPath(AFolder);
    return FolderPath(QDir::homePath());
}

// "//server/a/b" from the server and the elements of a share, followed
// by the rest below its mount point.
QString NetworkForm(const QString &AServer, QStringList AParts, const QString &ARest)
{
    AParts.prepend(AServer);
    AParts += Elements(ARest);
    return QStringLiteral("//") + AParts.join(QLatin1Char('/'));
}

// The path of APath below AFolder (APath lies within it), without a
// leading delimiter.
QString RestBelow(const QString &APath, const QString &AFolder)
{
    if (APath == AFolder)
        return QString();
    return AFolder == QLatin1String("/") ? APath.mid(1) : APath.mid(AFolder.size() + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// Path rules

QString FolderPath(const QString &Path)
{
    QString p = Path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    // "//server/share" keeps its two leading delimiters; "//" alone is the
    // root.
    if (p == QLatin1String("//"))
        p = QStringLiteral("/");
    return p;
}

bool IsPathWithin(const QString &Path, const QString &Folder)
{
    if (Path.isEmpty() || Folder.isEmpty())
        return false;
    if (Path == Folder)
        return true;
    if (Folder == QLatin1String("/"))
        return Path.startsWith(QLatin1Char('/'));
    return Path.startsWith(Folder) && Path.at(Folder.size()) == QLatin1Char('/');
}

QString LocalFolderOf(const QString &Path)
{
    if (Path.startsWith(QLatin1String("//")))
        return FolderPath(ResolveSharePath(Path));
    if (!Path.startsWith(QLatin1Char('/')))
        return QString();
    return FolderPath(Path);
}

bool FolderExists(const QString &Path)
{
    const QString local = LocalFolderOf(Path);
    TStatInfo st;
    return !local.isEmpty() && StatPath(local, true, st) == 0 && st.IsDir();
}

QString NetworkPathOf(const QString &LocalPath)
{
    const QString path = FolderPath(LocalPath);
    if (!path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1String("//")))
        return QString();
    TVolume volume;
    if (FindPathVolume(ListVolumes(), path, volume) && volume.Network) {
        const QString rest = RestBelow(path, FolderPath(volume.MountPoint));
        const QString &source = volume.Source;
        if (source.startsWith(QLatin1String("//"))) {
            QStringList parts = Elements(source);
            const QString server = parts.takeFirst();
            return NetworkForm(server, parts, rest);
        }
        // nfs and sshfs: "[user@]server:/export".
        const qsizetype colon = source.indexOf(QLatin1Char(':'));
        if (colon > 0) {
            QString server = source.left(colon);
            server = server.mid(server.lastIndexOf(QLatin1Char('@')) + 1);
            if (!server.isEmpty())
                return NetworkForm(server, Elements(source.mid(colon + 1)), rest);
        }
        return QString();
    }
    for (const TGvfsShare &share : ListGvfsShares(DefaultGvfsDir())) {
        const QString folder = FolderPath(share.Folder);
        if (IsPathWithin(path, folder))
            return NetworkForm(share.Server, {share.Share}, RestBelow(path, folder));
    }
    return QString();
}

QStringList NetworkFolders()
{
    QStringList folders;
    for (const TVolume &volume : ListVolumes())
        if (volume.Network)
            folders << FolderPath(volume.MountPoint);
    for (const TGvfsShare &share : ListGvfsShares(DefaultGvfsDir()))
        folders << FolderPath(share.Folder);
    folders.sort();
    folders.removeDuplicates();
    return folders;
}

QString ShellTreeBase(const QStringList &Tops)
{
    if (Tops.isEmpty())
        return QString();
    QStringList common = Elements(Tops.first());
    for (const QString &top : Tops) {
        const QStringList parts = Elements(top);
        qsizetype n = 0;
        while (n < common.size() && n < parts.size() && common[n] == parts[n])
            ++n;
        common = common.mid(0, n);
    }
    const QString base = QLatin1Char('/') + common.join(QLatin1Char('/'));
    if (!Tops.contains(base))
        return base;
    if (base == QLatin1String("/"))
        return QString();
    return QLatin1Char('/') + common.mid(0, common.size() - 1).join(QLatin1Char('/'));
}

// ---------------------------------------------------------------------------
// TShellTreeState

QString TShellTreeState::RootNodeFolder() const
{
    switch (FRoot) {
    case TShellRoot::rfDesktop:
    case TShellRoot::rfPersonal:
    case TShellRoot::rfFolder:
        return FTops.value(0);
    case TShellRoot::rfMyComputer:
    case TShellRoot::rfNetwork:
        break;
    }
    return QString();
}

void TShellTreeState::SetRoot(TShellRoot ARoot, const QString &AFolder)
{
    FRoot = ARoot;
    switch (ARoot) {
    case TShellRoot::rfDesktop:
        FTops = {FolderOrHome(XdgUserDir(TXdgUserDir::Desktop))};
        break;
    case TShellRoot::rfPersonal:
        FTops = {FolderOrHome(XdgUserDir(TXdgUserDir::Documents))};
        break;
    case TShellRoot::rfMyComputer:
        FTops = {QStringLiteral("/")};
        break;
    case TShellRoot::rfNetwork:
        FTops = NetworkFolders();
        break;
    case TShellRoot::rfFolder:
        FTops = {FolderPath(AFolder)};
        break;
    }
    Tell(TShellChange::scRoot);
    if (!FPath.isEmpty() && std::none_of(FTops.begin(), FTops.end(), [this](const QString &top) {
            return IsPathWithin(FPath, top);
        }))
        SetPath(QString());
}

void TShellTreeState::SetPath(const QString &APath)
{
    const QString path = FolderPath(APath);
    if (path == FPath)
        return;
    FPath = path;
    Tell(TShellChange::scPath);
    Fire(OnChange);
}

bool TShellTreeState::UserSelect(const QString &APath)
{
    if (!AcceptsUser())
        return false;
    SetPath(APath);
    return true;
}

bool TShellTreeState::SelectionBelowTop() const
{
    return std::any_of(FTops.begin(), FTops.end(),
                       [this](const QString &top) { return FPath != top && IsPathWithin(FPath, top); });
}

void TShellTreeState::SetShowHidden(bool AValue)
{
    if (AValue == FShowHidden)
        return;
    FShowHidden = AValue;
    Tell(TShellChange::scOptions);
}

void TShellTreeState::Tell(TShellChange AChange)
{
    if (ViewObserver)
        ViewObserver(AChange);
}

// ---------------------------------------------------------------------------
// TShellListState

void TShellListState::SetFolder(const QString &AFolder)
{
    const QString folder = FolderPath(AFolder);
    if (folder == FFolder)
        return;
    FFolder = folder;
    Tell(TShellChange::scPath);
}

bool TShellListState::UserOpen(const QString &AFolder)
{
    if (!AcceptsUser())
        return false;
    FFolder = FolderPath(AFolder);
    Fire(OnOpen);
    return true;
}

void TShellListState::SetShowFolders(bool AValue)
{
    if (AValue == FShowFolders)
        return;
    FShowFolders = AValue;
    Tell(TShellChange::scOptions);
}

void TShellListState::SetShowHidden(bool AValue)
{
    if (AValue == FShowHidden)
        return;
    FShowHidden = AValue;
    Tell(TShellChange::scOptions);
}

void TShellListState::SetColumnWidths(const QList<int> &AWidths)
{
    if (AWidths == FColumns)
        return;
    FColumns = AWidths;
    Tell(TShellChange::scOptions);
}

void TShellListState::Tell(TShellChange AChange)
{
    if (ViewObserver)
        ViewObserver(AChange);
}

} // namespace vl
