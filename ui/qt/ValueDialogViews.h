// The Qt IValueDialogViews: shows the time slot, external programs, logon
// and text filter dialogs of ui/, and the file picker they use.
#pragma once

#include "ui/ValueDialogViews.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace vl {

// The name filters of a file dialog for a filter of description and mask
// pairs separated by "|" (masks of a pair separated by ";"):
// "Programs (*)", "Shell scripts (*.sh)".
QStringList QtNameFilters(const QString &AFilter);

// The views a GUI program installs at start with SetValueDialogViews
// (ui/ValueDialogViews.h); uninstall them before destroying them.
std::unique_ptr<IValueDialogViews> CreateQtValueDialogViews();

} // namespace vl
