// How the input dialogs (ui/InputDialogs.h) reach the screen.
//
// The dialogs' logic lives in ui/ and never blocks; showing them is the
// job of an IInputDialogViews. A GUI program installs the Qt one at start
// (CreateQtInputDialogViews in ui/qt/InputDialogs.h); without it nothing is
// shown and every dialog ends unanswered (mrNone), which the callers treat
// as Cancel.
#pragma once

namespace vl {

class TInputTextDialog;
class TCharTableDialog;
class TInputStringDialog;
class TTextEingabe;
class TMemoDialog;
class TPlaceHolderDialog;

class IInputDialogViews {
public:
    virtual ~IInputDialogViews() = default;

    // Each runs its dialog modally and returns when the window is closed;
    // the outcome is in the logic object (its ModalResult and controls).
    virtual void ExecuteInputText(TInputTextDialog &ADialog) = 0;
    virtual void ExecuteCharTable(TCharTableDialog &ADialog) = 0;
    virtual void ExecuteInputString(TInputStringDialog &ADialog) = 0;
    virtual void ExecuteTextEingabe(TTextEingabe &ADialog) = 0;
    virtual void ExecuteMemo(TMemoDialog &ADialog) = 0;
    virtual void ExecutePlaceHolder(TPlaceHolderDialog &ADialog) = 0;
};

// Shows nothing.
class THeadlessInputDialogViews : public IInputDialogViews {
public:
    void ExecuteInputText(TInputTextDialog &) override {}
    void ExecuteCharTable(TCharTableDialog &) override {}
    void ExecuteInputString(TInputStringDialog &) override {}
    void ExecuteTextEingabe(TTextEingabe &) override {}
    void ExecuteMemo(TMemoDialog &) override {}
    void ExecutePlaceHolder(TPlaceHolderDialog &) override {}
};

// The current views (headless until a program installs others). The caller
// keeps ownership; nullptr restores the headless views.
IInputDialogViews &InputDialogViews();
void SetInputDialogViews(IInputDialogViews *AViews);

} // namespace vl
