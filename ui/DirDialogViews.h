// How the directory dialog and the files dialog reach the screen.
//
// Their logic lives in ui/ and never blocks; showing them is the job of an
// IDirDialogViews. A GUI program installs the Qt one at start
// (CreateQtDirDialogViews in ui/qt/DirDialogViews.h); without it nothing
// is shown and both dialogs end as if cancelled.
#pragma once

namespace vl {

class TShellDirDialog;
class TShowFilesDialog;

class IDirDialogViews {
public:
    virtual ~IDirDialogViews() = default;

    // Return when the window is closed; the outcome is in the logic object.
    virtual void ExecuteShellDirDialog(TShellDirDialog &ADialog) = 0;
    virtual void ExecuteShowFiles(TShowFilesDialog &ADialog) = 0;
};

// Shows nothing; the dialogs end unanswered (mrNone, which the callers
// treat as Cancel).
class THeadlessDirDialogViews : public IDirDialogViews {
public:
    void ExecuteShellDirDialog(TShellDirDialog &) override {}
    void ExecuteShowFiles(TShowFilesDialog &) override {}
};

// The current views (headless until a program installs others). The caller
// keeps ownership; nullptr restores the headless views.
IDirDialogViews &DirDialogViews();
void SetDirDialogViews(IDirDialogViews *AViews);

} // namespace vl
