#include "ui/ListDialogViews.h"

#include "core/MessageService.h"
#include "ui/ChoiceDialogs.h"

#include <atomic>

namespace vl {

namespace {

std::atomic<IListDialogViews *> gViews{nullptr};

THeadlessListDialogViews &HeadlessViews()
{
    static THeadlessListDialogViews views;
    return views;
}

} // namespace

void THeadlessListDialogViews::ExecuteSelectDialog(TSelectDialog &ADialog)
{
    // Nobody can answer: the cancel button's answer, on record.
    const QString caption = ADialog.Form.Caption().isEmpty() ? ADialog.stCaption.Caption() : ADialog.Form.Caption();
    WriteServiceQuestion(caption, ADialog.stCaption.Caption(), mrCancel);
}

IListDialogViews &ListDialogViews()
{
    IListDialogViews *views = gViews.load();
    return views ? *views : HeadlessViews();
}

void SetListDialogViews(IListDialogViews *AViews)
{
    gViews.store(AViews);
}

} // namespace vl
