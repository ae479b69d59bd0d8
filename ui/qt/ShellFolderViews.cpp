#include "ui/qt/ShellFolderViews.h"

#include "ui/qt/Binding.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QSortFilterProxyModel>

namespace vl {

// Shows the top folders, the folders leading down to them and everything
// below them.
class TTopFolderFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetTops(const QStringList &ATops)
    {
        FTops = ATops;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int ARow, const QModelIndex &AParent) const override
    {
        const auto *model = static_cast<const QFileSystemModel *>(sourceModel());
        const QString path = FolderPath(model->filePath(model->index(ARow, 0, AParent)));
        for (const QString &top : FTops)
            if (IsPathWithin(path, top) || IsPathWithin(top, path))
                return true;
        return false;
    }

private:
    QStringList FTops;
};

int ListUnitsToPixels(int AUnits)
{
    return AUnits * kListUnitPixels;
}

// ---------------------------------------------------------------------------
// TShellTreeView

TShellTreeView::TShellTreeView(TShellTreeState &AState, QWidget *AParent)
    : QTreeView(AParent), FState(AState), FModel(new QFileSystemModel(this)), FFilter(new TTopFolderFilter(this))
{
    FModel->setReadOnly(true);
    FFilter->setSourceModel(FModel);
    FFilter->setSortCaseSensitivity(Qt::CaseInsensitive);
    FFilter->setDynamicSortFilter(true);
    setModel(FFilter);
    for (int column = 1; column < FModel->columnCount(); ++column)
        hideColumn(column);
    setHeaderHidden(true);
    setSortingEnabled(true);
    sortByColumn(0, Qt::AscendingOrder);
    setContextMenuPolicy(Qt::CustomContextMenu);
    BindControl(this, FState);

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &current) {
        if (!FUpdating && current.isValid() && !FState.UserSelect(FolderOf(current)))
            ShowPath();
    });
    // Rows come in while folders are read: the selection is shown once
    // its folder has arrived.
    connect(FModel, &QFileSystemModel::directoryLoaded, this, [this] {
        if (!currentIndex().isValid() && !FState.Path().isEmpty())
            ShowPath();
    });
    FState.ViewObserver = [this](TShellChange AChange) { Show(AChange); };
    ShowOptions();
    ShowRoot();
}

TShellTreeView::~TShellTreeView()
{
    FState.ViewObserver = nullptr;
}

QString TShellTreeView::FolderOf(const QModelIndex &AIndex) const
{
    if (!AIndex.isValid())
        return QString();
    return FolderPath(FModel->filePath(FFilter->mapToSource(AIndex)));
}

QModelIndex TShellTreeView::IndexOf(const QString &AFolder) const
{
    if (AFolder.isEmpty())
        return QModelIndex();
    return FFilter->mapFromSource(FModel->index(AFolder));
}

void TShellTreeView::Show(TShellChange AChange)
{
    switch (AChange) {
    case TShellChange::scRoot:
        ShowRoot();
        break;
    case TShellChange::scPath:
        ShowPath();
        break;
    case TShellChange::scOptions:
        ShowOptions();
        break;
    case TShellChange::scRefresh:
        FFilter->invalidate();
        ShowPath();
        break;
    case TShellChange::scShow:
        if (currentIndex().isValid())
            scrollTo(currentIndex());
        setFocus();
        break;
    }
}

void TShellTreeView::ShowRoot()
{
    const QString base = ShellTreeBase(FState.TopFolders());
    FUpdating = true;
    FModel->setRootPath(base.isEmpty() ? QStringLiteral("/") : base);
    FFilter->SetTops(FState.TopFolders());
    setRootIndex(base.isEmpty() ? QModelIndex() : FFilter->mapFromSource(FModel->index(base)));
    FUpdating = false;
    ShowPath();
}

void TShellTreeView::ShowPath()
{
    FUpdating = true;
    const QModelIndex index = IndexOf(FState.Path());
    if (index.isValid()) {
        setCurrentIndex(index);
        scrollTo(index);
        expand(index);
    } else {
        setCurrentIndex(QModelIndex());
        clearSelection();
    }
    FUpdating = false;
}

void TShellTreeView::ShowOptions()
{
    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot;
    if (FState.ShowHidden())
        filters |= QDir::Hidden | QDir::System;
    FModel->setFilter(filters);
}

// ---------------------------------------------------------------------------
// TShellListView

TShellListView::TShellListView(TShellListState &AState, QWidget *AParent)
    : QTreeView(AParent), FState(AState), FModel(new QFileSystemModel(this))
{
    // Names can be edited in place.
    FModel->setReadOnly(false);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setSortingEnabled(true);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    // The last column takes what is left, so the columns fill the list.
    header()->setStretchLastSection(true);
    BindControl(this, FState);

    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (FState.ShowFolders() && FModel->isDir(index))
            OpenFolder(PathOf(index));
    });
    FState.ViewObserver = [this](TShellChange AChange) { Show(AChange); };
    ShowOptions();
    ShowFolder();
}

TShellListView::~TShellListView()
{
    FState.ViewObserver = nullptr;
}

QString TShellListView::PathOf(const QModelIndex &AIndex) const
{
    return AIndex.isValid() ? FModel->filePath(AIndex) : QString();
}

QModelIndex TShellListView::IndexOf(const QString &APath) const
{
    return model() ? FModel->index(APath) : QModelIndex();
}

void TShellListView::OpenFolder(const QString &AFolder)
{
    const QString previous = FState.Folder();
    // The list shows the folder first; the state learns of it then.
    setRootIndex(FModel->setRootPath(AFolder));
    if (!FState.UserOpen(AFolder)) {
        setRootIndex(FModel->setRootPath(previous));
    }
}

void TShellListView::Show(TShellChange AChange)
{
    switch (AChange) {
    case TShellChange::scPath:
        ShowFolder();
        break;
    case TShellChange::scOptions:
        ShowOptions();
        break;
    case TShellChange::scRefresh:
        ShowFolder();
        break;
    case TShellChange::scRoot:
    case TShellChange::scShow:
        break;
    }
}

void TShellListView::ShowFolder()
{
    const QString folder = FState.Folder();
    if (folder.isEmpty()) {
        // Nothing to list: no model, no rows.
        setModel(nullptr);
        return;
    }
    if (model() != FModel) {
        setModel(FModel);
        sortByColumn(0, Qt::AscendingOrder);
        ShowColumns();
    }
    setRootIndex(FModel->setRootPath(folder));
}

void TShellListView::ShowOptions()
{
    QDir::Filters filters = QDir::Files | QDir::NoDotAndDotDot;
    if (FState.ShowFolders())
        filters |= QDir::AllDirs;
    if (FState.ShowHidden())
        filters |= QDir::Hidden | QDir::System;
    FModel->setFilter(filters);
    ShowColumns();
}

void TShellListView::ShowColumns()
{
    if (!model())
        return;
    const QList<int> widths = FState.ColumnWidths();
    for (int column = 0; column < widths.size() && column < header()->count(); ++column) {
        if (widths[column] > 0) {
            header()->setSectionResizeMode(column, QHeaderView::Interactive);
            header()->resizeSection(column, ListUnitsToPixels(widths[column]));
        } else {
            header()->setSectionResizeMode(column, QHeaderView::Stretch);
        }
    }
}

} // namespace vl
