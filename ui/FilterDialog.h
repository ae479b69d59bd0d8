// The dialog that edits one text filter (core/TextFilter.h): off, include
// or exclude what matches, the masks or the regular expression, and OR or
// AND for several masks; without widgets. The filter text keeps a history
// of recent texts in an INI section.
#pragma once

#include "core/TextFilter.h"
#include "ui/DialogLogic.h"

#include <QPoint>
#include <QString>

#include <functional>

namespace vl {

// Lines of cbFilter's drop-down list, and the length of its history.
inline constexpr int kFilterDropDownCount = 15;

class TFilterDialog : public TDialogLogic {
public:
    TFilterDialog();
    // Writes the history back to the INI section given to LoadFromIni (the
    // section is erased first); a file that cannot be written goes to the
    // service log.
    ~TFilterDialog() override;

    TControlState gbFilter;        // caption: the description
    TRadioButtonState NoMaskBtn;   // "All": the filter is off
    TRadioButtonState IncMaskBtn;  // "All matching"
    TRadioButtonState ExcMaskBtn;  // "All not matching"
    TControlState lbMask;
    TComboBoxState cbFilter{true}; // the filter text, the history as items
    TRadioGroupState rgEval;       // 0 "OR operation", 1 "AND operation"
    TButtonState btnEditMask;
    TCheckBoxState RegExpCB;
    TButtonState OKBtn;
    TButtonState CancelBtn;

    // Set by the view: puts the focus on a control.
    std::function<void(TControlState &AControl)> FocusControl;

    // Edits AFilter at APos (a negative coordinate centres the window);
    // the regular-expression box is shown with ShowRegular, the list
    // editor's button with ShowListBtn. True on OK, with AFilter changed;
    // false leaves AFilter exactly as it was.
    bool Execute(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn,
                 TTextFilter &AFilter);
    // Remembers the INI file and section and, when both are named, loads
    // the history from there.
    void LoadFromIni(const QString &IniName, const QString &IniSection);

    // The steps of Execute, for the view and for tests.
    void Setup(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn,
               TTextFilter &AFilter);
    // The window appears: the mode buttons' logic runs once.
    void Shown();
    // The window is gone (the view calls it after the modal loop).
    void Hidden() { FShown = false; }
    // OK: validates the entries on a copy of the filter and, when they
    // are valid, stores them in the filter and closes the dialog; an
    // invalid text shows an error box and keeps the dialog open with the
    // filter untouched. True when the filter was stored.
    bool Accept();
    // "Edit expressions": the masks one per line in the list editor.
    void EditMasks();

    // Whether the filter text shows as a drop-down box (it has history
    // entries) rather than a plain edit.
    bool FilterDropDown() const { return !cbFilter.Items().isEmpty(); }
    // The message shown for an invalid filter text.
    static QString InvalidFilterMessage(bool ARegular);

private:
    void ModeClick();
    void RegExpClick();
    void EvalClick();
    void FilterChange();
    // Sets the filter text from the dialog's own logic.
    void SetFilterText(const QString &AText);
    void UpdateEvalControls();
    bool AndSelected() const { return rgEval.ItemIndex() == 1; }

    TTextFilter *FFilter = nullptr;
    QString FIniName;
    QString FSection;
    bool FShown = false;
    bool FSettingText = false;
};

// The INI file and section whose history the next EditFilterAt uses.
void SetFilterHistoryIni(const QString &IniName, const QString &Section);
// Creates the dialog, loads the history set by SetFilterHistoryIni, runs
// Execute and frees the dialog (which saves the history).
bool EditFilterAt(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn,
                  TTextFilter &AFilter);
// EditFilterAt centred on the main window.
bool EditFilter(const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn, TTextFilter &AFilter);

} // namespace vl
