// How the dialogs that edit one value of a task reach the screen: the time
// slot, the external programs, the logon and the text filter dialog, and
// the file picker of the external programs dialog.
//
// The dialogs' logic lives in ui/ and never blocks; showing them is the
// job of an IValueDialogViews. A GUI program installs the Qt one at start
// (CreateQtValueDialogViews in ui/qt/ValueDialogViews.h); without it
// nothing is shown and every dialog ends unanswered (mrNone), which the
// dialogs treat as Cancel.
#pragma once

#include <QString>

namespace vl {

class TTimeSlotDialog;
class TAddProgramsDialog;
class TLogonDialog;
class TFilterDialog;

// What the file picker is asked to show.
struct TOpenFileRequest {
    QString Title;
    QString InitialDir;
    QString FileName;    // preselected name in InitialDir (may be empty)
    // Pairs of description and masks, all separated by "|"; masks of one
    // pair separated by ";".
    QString Filter;
    int FilterIndex = 1; // 1-based pair shown first
    // The first pair lists only executable files.
    bool ExecutablesFirst = false;
};

class IValueDialogViews {
public:
    virtual ~IValueDialogViews() = default;

    // Modal dialogs: return when the window is closed; the outcome is in
    // the logic object (its ModalResult).
    virtual void ExecuteTimeSlot(TTimeSlotDialog &ADialog) = 0;
    virtual void ExecuteAddPrograms(TAddProgramsDialog &ADialog) = 0;
    virtual void ExecuteLogon(TLogonDialog &ADialog) = 0;
    virtual void ExecuteFilter(TFilterDialog &ADialog) = 0;

    // Picks an existing file (hidden files shown, links not resolved);
    // true with AFileName set when the user chose one.
    virtual bool OpenFile(const TOpenFileRequest &ARequest, QString &AFileName) = 0;
};

// Shows nothing: every dialog ends unanswered, no file is chosen.
class THeadlessValueDialogViews : public IValueDialogViews {
public:
    void ExecuteTimeSlot(TTimeSlotDialog &) override {}
    void ExecuteAddPrograms(TAddProgramsDialog &) override {}
    void ExecuteLogon(TLogonDialog &) override {}
    void ExecuteFilter(TFilterDialog &) override {}
    bool OpenFile(const TOpenFileRequest &, QString &) override { return false; }
};

// The current views (headless until a program installs others). The caller
// keeps ownership; nullptr restores the headless views.
IValueDialogViews &ValueDialogViews();
void SetValueDialogViews(IValueDialogViews *AViews);

} // namespace vl
