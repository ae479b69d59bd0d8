// Binding of a QListWidget to a TListItemsState (several selected rows,
// check boxes, columns); the single-selection list box binds with
// BindListBox of ui/qt/Binding.h.
#pragma once

#include "ui/ListItemsState.h"

class QListWidget;

namespace vl {

// The state must outlive the widget.
void BindListItems(QListWidget *AList, TListItemsState &AState);

} // namespace vl
