// The external programs of a backup task (TExternalProg: one run before
// and one after the backup, with their waiting and exit-code rules) and the
// dialog that edits both, with a list of recent commands per kind kept in
// the program INI; without widgets.
#pragma once

#include "ui/CheckCombo.h"
#include "ui/DialogLogic.h"
#include "ui/MenuState.h"
#include "ui/NumberEdits.h"
#include "ui/ValueDialogViews.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <utility>

namespace vl {

struct TExternalProg {
    // Program path (quoted when it holds blanks), then arguments;
    // placeholders allowed.
    QString Command;
    // Before the backup: the exit code from which on the backup is
    // cancelled (1..255). After it: kSkipAfter* and kIgnoreErrorLevel bits.
    int32_t ErrorLevel = 0;
    // Timeout in seconds (0: wait until the program ends) and kWait* bits.
    int32_t Wait = 0;

    bool operator==(const TExternalProg &) const = default;
};

// Wait: the longest wait in seconds (0: until the program ends).
inline constexpr int32_t kWaitTimeoutMask = 0x0FFF;
// Wait: show the console output when the program has a console.
inline constexpr int32_t kWaitShowConsole = 0x1000;
// Wait: the program is run at all.
inline constexpr int32_t kWaitRun = 0x2000;
// Wait: an expired wait is no error.
inline constexpr int32_t kWaitIgnoreTimeout = 0x4000;
// Wait: ask to run the program as administrator.
inline constexpr int32_t kWaitAsAdmin = 0x8000;

// ErrorLevel of the program after the backup: do not run it when ...
inline constexpr int32_t kSkipAfterCancel = 1; // the backup was cancelled by the user
inline constexpr int32_t kSkipAfterErrors = 2; // the backup had errors
inline constexpr int32_t kSkipAfterIdle = 4;   // no files had to be backed up
// ... and its exit code is no error.
inline constexpr int32_t kIgnoreErrorLevel = 8;

// An empty command, Wait 0, and ErrorLevel as given.
void ResetExternalProg(int32_t ErrorLevel, TExternalProg &Prog);

// The program of a command line: a leading quoted path whole and without
// its quotes, else the text before the first blank.
QString ProgramOfCommand(const QString &ACommand);

// The file picker's filter: pairs of description and masks.
QString ProgramFileFilter();

// The controls of one of the two programs.
struct TProgramControls {
    TCheckGroupBox gb;          // the group: checked = the program runs
    TEditState edCommand;
    TComboBoxState edCmdList;   // recent commands, a drop-down list
    TButtonState CommandBtn;    // browse
    TButtonState PhBtn;         // insert a placeholder
    TRadioButtonState rbWp;     // "Wait until program terminates"
    TRadioButtonState rbWt;     // "Do not wait more than"
    TRangeEdit reTm;            // timeout in seconds
    TNumUpDown udTm;
    TControlState lbSeconds;    // "seconds"
    TCheckBoxState cbIgnore;
    TCheckBoxState cbAdmin;
    TCheckBoxState cbConsole;
    int DropDownCount = 0;      // lines of edCmdList, and its length
};

class TAddProgramsDialog : public TDialogLogic {
public:
    TAddProgramsDialog();
    // Writes both command lists back to the INI file given to Init (each
    // section erased first); a file that cannot be written goes to the
    // service log.
    ~TAddProgramsDialog() override;

    TButtonState OKBtn;
    TButtonState CancelBtn;
    TProgramControls Pre;
    TProgramControls Post;
    // Before only.
    TControlState laErrorLevel;
    TRangeEdit reErrorLevel;
    TNumUpDown udErrorLevel;
    // After only: "Do not run this program if ".
    TControlState Label1;
    TCheckBoxState cbCancel;
    TCheckBoxState cbError;
    TCheckBoxState cbIdle;
    TCheckBoxState cbPostErrorLevel;
    TCheckBoxState cbEncrypt;
    // The popup menu of the command lists: "Edit list ...", a line,
    // "Cancel". The view tells which list it opens on (PopupOn).
    TMenuItemState pmHistList;

    // Set by the view: puts the focus into an edit with the caret at a
    // position, and reports an edit's selection (start, length).
    std::function<void(TEditState &AEdit, int ACaret)> FocusEdit;
    std::function<std::pair<int, int>(const TEditState &AEdit)> SelectionOf;
    // Set by the view: puts the focus on a control.
    std::function<void(TControlState &AControl)> FocusControl;

    // Only when no INI file is set yet and AIniName is not empty:
    // remembers it and loads both command lists from it.
    void Init(const QString &AIniName);
    // Edits both programs; Encrypt -1 hides cbEncrypt, 0 or 1 shows it
    // unchecked or checked and receives its state on OK. True on OK;
    // Cancel changes nothing.
    bool Execute(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt);
    bool Execute(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd);

    // The steps of Execute, for the view and for tests.
    void Setup(const QString &APath, const TExternalProg &PreCmd, const TExternalProg &PostCmd, int Encrypt);
    // OK: a value outside its range shows the range error and keeps the
    // dialog open; otherwise closes it with mrOk.
    bool Accept();
    // After OK: both programs (and the recent-command lists), and Encrypt
    // when the box is shown.
    void Finish(TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt);
    // The browse buttons.
    void BrowsePre();
    void BrowsePost();
    // What the browse button of a program opens.
    TOpenFileRequest BrowseRequest(bool APost) const;
    // The placeholder buttons.
    void InsertPlaceholder(TProgramControls &AProgram);
    // The list the popup menu is opened on.
    void PopupOn(TComboBoxState &AList) { FPopupList = &AList; }
    // "Edit list ..." on the list the menu was opened on.
    void EditCmdList();

    // Whether the controls show their hints as tool tips (a setting).
    static bool ShowHints();
    // The help key: the help page of the external programs.
    static void ShowHelp();

    const QString &IniName() const { return FIniName; }
    const QString &Path() const { return FPath; }

private:
    void SetupProgram(TProgramControls &AProgram, bool APost);
    void LoadProgram(TProgramControls &AProgram, const TExternalProg &AProg);
    void StoreProgram(TProgramControls &AProgram, TExternalProg &AProg);
    void UpdateTimeout(TProgramControls &AProgram);
    void DetectConsole(TProgramControls &AProgram);
    void ListChoice(TProgramControls &AProgram, bool APost);
    void Browse(TProgramControls &AProgram, bool APost);

    QString FIniName;
    QString FPath;
    TComboBoxState *FPopupList = nullptr;
};

bool EditExternalPrograms(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt);

} // namespace vl
