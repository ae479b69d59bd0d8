#include "ui/ValueDialogViews.h"

#include <atomic>

namespace vl {

namespace {

std::atomic<IValueDialogViews *> gViews{nullptr};

} // namespace

IValueDialogViews &ValueDialogViews()
{
    static THeadlessValueDialogViews headless;
    IValueDialogViews *views = gViews.load();
    return views ? *views : headless;
}

void SetValueDialogViews(IValueDialogViews *AViews)
{
    gViews.store(AViews);
}

} // namespace vl
