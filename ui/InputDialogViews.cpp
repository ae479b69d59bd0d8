#include "ui/InputDialogViews.h"

#include <atomic>

namespace vl {

namespace {

std::atomic<IInputDialogViews *> gViews{nullptr};

THeadlessInputDialogViews &HeadlessViews()
{
    static THeadlessInputDialogViews views;
    return views;
}

} // namespace

IInputDialogViews &InputDialogViews()
{
    IInputDialogViews *views = gViews.load();
    return views ? *views : HeadlessViews();
}

void SetInputDialogViews(IInputDialogViews *AViews)
{
    gViews.store(AViews);
}

} // namespace vl
