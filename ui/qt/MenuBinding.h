// Binding of a QMenu to a menu state (ui/MenuState.h): the menu shows the
// state's sub-items, separators and sub-menus included, and a triggered
// action runs the item's click. The state must outlive the menu.
#pragma once

#include "ui/MenuState.h"

class QMenu;

namespace vl {

void BindMenu(QMenu *AMenu, TMenuItemState &AState);

} // namespace vl
