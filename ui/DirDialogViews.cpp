#include "ui/DirDialogViews.h"

#include <atomic>

namespace vl {

namespace {

std::atomic<IDirDialogViews *> gViews{nullptr};

} // namespace

IDirDialogViews &DirDialogViews()
{
    static THeadlessDirDialogViews headless;
    IDirDialogViews *views = gViews.load();
    return views ? *views : headless;
}

void SetDirDialogViews(IDirDialogViews *AViews)
{
    gViews.store(AViews);
}

} // namespace vl
