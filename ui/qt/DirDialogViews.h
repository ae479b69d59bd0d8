// The Qt IDirDialogViews that shows the directory and files dialogs of ui/.
#pragma once

#include "ui/DirDialogViews.h"

#include <memory>

namespace vl {

// The views a GUI program installs at start with SetDirDialogViews
// (ui/DirDialogViews.h); uninstall them before destroying them.
std::unique_ptr<IDirDialogViews> CreateQtDirDialogViews();

} // namespace vl
