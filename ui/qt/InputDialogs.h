// Qt views of the input dialogs of ui/InputDialogs.h, and the Qt
// IInputDialogViews that shows them.
#pragma once

#include "ui/InputDialogViews.h"
#include "ui/InputDialogs.h"
#include "ui/qt/LogicDialog.h"

#include <memory>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QStackedWidget;
class QTableWidget;
class QWidget;

namespace vl {

class TInputTextView : public TLogicDialog {
public:
    explicit TInputTextView(TInputTextDialog &ALogic, QWidget *AParent = nullptr);
    QComboBox *TextFeld() const { return FTextFeld; }

private:
    QComboBox *FTextFeld;
};

class TCharTableView : public TLogicDialog {
public:
    explicit TCharTableView(TCharTableDialog &ALogic, QWidget *AParent = nullptr);
    QTableWidget *CharGrid() const { return FGrid; }

private:
    QTableWidget *FGrid;
};

class TInputStringView : public TLogicDialog {
public:
    explicit TInputStringView(TInputStringDialog &ALogic, QWidget *AParent = nullptr);
};

class TTextEingabeView : public TLogicDialog {
public:
    explicit TTextEingabeView(TTextEingabe &ALogic, QWidget *AParent = nullptr);
};

class TMemoView : public TLogicDialog {
public:
    explicit TMemoView(TMemoDialog &ALogic, QWidget *AParent = nullptr);
    QPlainTextEdit *Memo() const { return FMemo; }

private:
    QPlainTextEdit *FMemo;
};

class TPlaceHolderView : public TLogicDialog {
public:
    explicit TPlaceHolderView(TPlaceHolderDialog &ALogic, QWidget *AParent = nullptr);
    // Centred on the screen for a negative coordinate, else at the
    // position kept in the work area; then runs modally.
    void RunPlaced();

private:
    // The page's height follows its radio group.
    void ShowActivePage();
    // The cycle edit beside the selected item of the time page.
    void PlaceCycle();

    TPlaceHolderDialog &FLogic;
    QStackedWidget *FPages;
    QWidget *FCycle;
};

// The views a GUI program installs at start with SetInputDialogViews
// (ui/InputDialogViews.h); uninstall them before destroying them.
std::unique_ptr<IInputDialogViews> CreateQtInputDialogViews();

} // namespace vl
