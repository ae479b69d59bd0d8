#include "ui/qt/ListItemsBinding.h"

#include "ui/qt/Binding.h"

#include <QListWidget>
#include <QPointer>
#include <QSignalBlocker>

namespace vl {

namespace {

void ShowSelection(QListWidget *AList, const TListItemsState &AState)
{
    const QSignalBlocker block(AList);
    AList->setSelectionMode(AState.MultiSelect() ? QAbstractItemView::ExtendedSelection
                                                 : QAbstractItemView::SingleSelection);
    for (int i = 0; i < AList->count() && i < AState.Count(); ++i)
        AList->item(i)->setSelected(AState.Selected(i));
    AList->setCurrentRow(AState.ItemIndex(), QItemSelectionModel::NoUpdate);
}

void ShowChecks(QListWidget *AList, const TListItemsState &AState)
{
    const QSignalBlocker block(AList);
    for (int i = 0; i < AList->count() && i < AState.Count(); ++i) {
        QListWidgetItem *item = AList->item(i);
        if (AState.CheckBoxes()) {
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(AState.Checked(i) ? Qt::Checked : Qt::Unchecked);
        } else {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            item->setData(Qt::CheckStateRole, QVariant());
        }
    }
}

void ShowColumns(QListWidget *AList, const TListItemsState &AState)
{
    // Several columns: entries flow down and continue in the next column.
    const bool columns = AState.Columns() > 1;
    AList->setFlow(QListView::TopToBottom);
    AList->setWrapping(columns);
    AList->setResizeMode(columns ? QListView::Adjust : QListView::Fixed);
}

void Fill(QListWidget *AList, const TListItemsState &AState)
{
    {
        const QSignalBlocker block(AList);
        AList->clear();
        AList->addItems(AState.Texts());
    }
    ShowChecks(AList, AState);
    ShowSelection(AList, AState);
}

void SendSelection(QListWidget *AList, TListItemsState &AState)
{
    QList<int> rows;
    for (int i = 0; i < AList->count(); ++i)
        if (AList->item(i)->isSelected())
            rows << i;
    if (!AState.UserSelect(rows, AList->currentRow()))
        ShowSelection(AList, AState);
}

} // namespace

void BindListItems(QListWidget *AList, TListItemsState &AState)
{
    BindControl(AList, AState);
    ShowColumns(AList, AState);
    Fill(AList, AState);
    QPointer<QListWidget> list(AList);
    const int id = AState.Subscribe([list, &AState](TControlState &, TStateAspect aspect) {
        if (!list)
            return;
        switch (aspect) {
        case TStateAspect::saItems:
            Fill(list, AState);
            break;
        case TStateAspect::saItemIndex:
            ShowSelection(list, AState);
            break;
        case TStateAspect::saChecked:
            ShowChecks(list, AState);
            break;
        case TStateAspect::saColumns:
            ShowColumns(list, AState);
            break;
        default:
            break;
        }
    });
    TListItemsState *state = &AState;
    QObject::connect(AList, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });

    QObject::connect(AList, &QListWidget::itemSelectionChanged, AList,
                     [AList, &AState] { SendSelection(AList, AState); });
    // A single selection moves with the selected row; several selected
    // rows keep their selection while the focus moves (Ctrl+arrows).
    QObject::connect(AList, &QListWidget::currentRowChanged, AList, [AList, &AState](int row) {
        if (AState.MultiSelect() && row != AState.ItemIndex())
            SendSelection(AList, AState);
    });
    QObject::connect(AList, &QListWidget::itemChanged, AList, [AList, &AState](QListWidgetItem *item) {
        const int row = AList->row(item);
        if (!AState.CheckBoxes() || row < 0 || row >= AState.Count())
            return;
        const bool checked = item->checkState() == Qt::Checked;
        if (checked != AState.Checked(row) && !AState.UserCheck(row, checked))
            ShowChecks(AList, AState);
    });
    QObject::connect(AList, &QListWidget::itemDoubleClicked, AList, [AList, &AState](QListWidgetItem *item) {
        AState.UserDoubleClick(AList->row(item));
    });
}

} // namespace vl
