#include "ui/qt/MenuBinding.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>

#include <memory>
#include <vector>

namespace vl {

namespace {

// Lives as a child of the menu; rebuilds its actions whenever the items
// change and unsubscribes when the menu goes.
class TMenuBinder : public QObject {
public:
    TMenuBinder(QMenu *AMenu, TMenuItemState &AState) : QObject(AMenu), FMenu(AMenu), FState(AState)
    {
        FRootId = FState.Subscribe([this](TMenuItemState &, TMenuChange AChange) {
            if (AChange == TMenuChange::mcItems)
                Rebuild();
        });
        Rebuild();
    }

    ~TMenuBinder() override
    {
        FToken.reset();
        Release();
        FState.Unsubscribe(FRootId);
    }

private:
    struct TBound {
        TMenuItemState *Item;
        int Id;
        QPointer<QAction> Action;
    };

    static void Show(QAction *AAction, const TMenuItemState &AItem)
    {
        AAction->setText(AItem.Caption());
        AAction->setCheckable(AItem.Checked() || AItem.RadioItem());
        AAction->setChecked(AItem.Checked());
        AAction->setEnabled(AItem.Enabled());
        AAction->setVisible(AItem.Visible());
        AAction->setToolTip(AItem.Hint());
        AAction->setStatusTip(AItem.Hint());
        AAction->setShortcut(QKeySequence(AItem.ShortCut()));
    }

    // Old actions may be the one whose trigger is running now: they leave
    // the menu at once and are deleted later.
    void Release()
    {
        for (const TBound &bound : FBound) {
            bound.Item->Unsubscribe(bound.Id);
            if (bound.Action) {
                if (FMenu)
                    FMenu->removeAction(bound.Action);
                if (QMenu *sub = bound.Action->menu()) {
                    // Its binder goes now, while the item it watches lives.
                    delete sub->findChild<TMenuBinder *>(QString(), Qt::FindDirectChildrenOnly);
                    sub->deleteLater();
                }
                bound.Action->deleteLater();
            }
        }
        FBound.clear();
    }

    void Rebuild()
    {
        Release();
        FToken = std::make_shared<int>(0);
        if (!FMenu)
            return;
        for (int i = 0; i < FState.Count(); ++i) {
            TMenuItemState *item = &FState.Items(i);
            QAction *action = nullptr;
            if (item->Count() > 0) {
                auto *sub = new QMenu(item->Caption(), FMenu);
                BindMenu(sub, *item);
                action = sub->menuAction();
                FMenu->addAction(action);
            } else if (item->IsLine()) {
                action = FMenu->addSeparator();
                action->setVisible(item->Visible());
            } else {
                action = new QAction(FMenu);
                Show(action, *item);
                FMenu->addAction(action);
                QPointer<QAction> guard(action);
                std::weak_ptr<int> token = FToken;
                connect(action, &QAction::triggered, action, [item, guard, token] {
                    // The click may rebuild the menu, free the item and even
                    // this binder: only a menu still built shows the item's
                    // check mark again (Qt toggled it on its own).
                    item->Click();
                    if (!token.expired() && guard)
                        Show(guard, *item);
                });
            }
            const int id = item->Subscribe([this, item, action = QPointer<QAction>(action)](TMenuItemState &,
                                                                                            TMenuChange AChange) {
                if (AChange == TMenuChange::mcItem && action) {
                    if (item->IsLine())
                        action->setVisible(item->Visible());
                    else if (!action->menu())
                        Show(action, *item);
                    else
                        action->setText(item->Caption());
                } else if (AChange == TMenuChange::mcItems && action && !action->menu() && item->Count() > 0)
                    Rebuild(); // an item became a sub-menu
            });
            FBound.push_back(TBound{item, id, action});
        }
    }

    QPointer<QMenu> FMenu;
    TMenuItemState &FState;
    int FRootId = 0;
    std::vector<TBound> FBound;
    // Replaced on every rebuild: clicks of older actions see it expired.
    std::shared_ptr<int> FToken;
};

} // namespace

void BindMenu(QMenu *AMenu, TMenuItemState &AState)
{
    new TMenuBinder(AMenu, AState);
}

} // namespace vl
