// Binding of an editable QComboBox to a THistoryCombo: the combo box
// binding of ui/qt/Binding.h plus entering and leaving the control, the
// read-only edit and the drop-down button shown only with a list.
#pragma once

#include "ui/History.h"

class QComboBox;

namespace vl {

// The state must outlive the widget.
void BindHistoryCombo(QComboBox *ACombo, THistoryCombo &AState);

} // namespace vl
