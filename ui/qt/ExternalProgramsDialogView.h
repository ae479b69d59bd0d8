// Qt view of the external programs dialog.
#pragma once

#include "ui/ExternalProgramsDialog.h"
#include "ui/qt/LogicDialog.h"

#include <QHash>

class QComboBox;
class QGroupBox;
class QLineEdit;

namespace vl {

class TAddProgramsDialogView : public TLogicDialog {
public:
    explicit TAddProgramsDialogView(TAddProgramsDialog &ALogic, QWidget *AParent = nullptr);
    ~TAddProgramsDialogView() override;

    // The command edit and the recent-command list of a program.
    QLineEdit *CommandEdit(const TProgramControls &AProgram) const;
    QComboBox *CommandList(const TProgramControls &AProgram) const;

protected:
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    QGroupBox *ProgramGroup(TProgramControls &AProgram, const char *APrefix);

    TAddProgramsDialog &FLogic;
    QHash<const TControlState *, QWidget *> FWidgets;
};

} // namespace vl
