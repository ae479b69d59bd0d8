// Showing a task log in the program's text viewer, and choosing another
// when the last one is gone.
#include "backup/BackupForm.h"

#include "backup/MainServices.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "ui/ChoiceDialogs.h"
#include "ui/TextViewer.h"

namespace vl {

bool TBackupForm::ShowProt(const QString &LogName, bool AllowEdit)
{
    const QString name = LogName.isEmpty() ? ProgramLogName : LogName;
    if (!XlFileExists(name, true))
        return false;
    if (TShowTextDialog *viewer = ShowTextDialog(); viewer && viewer->Visible())
        viewer->Close();
    TShowDlgButtons buttons = kAllShowDlgButtons;
    if (!AllowEdit)
        buttons &= ~ShowDlgButtons({TShowDlgBtn::sbErase});
    // A log shown while no task window is open (after an unattended run)
    // must not vanish behind the run's end.
    const TShowDlgType type = Visible ? TShowDlgType::stShow : TShowDlgType::stModal;
    ShowTextFileEx(WindowCaption(Tr("Show log file"), QString()), name, Tr("Previous section"), Tr("Next section"),
                   ProgramInfo.InternalName + QStringLiteral(" -"), Tr("Previous error"), Tr("Next error"),
                   QStringLiteral("  *** "), GuardedFormat(Tr("Log files|*.%s|all|*.*"), QStringLiteral("log")),
                   kDefaultPos, 0, type, buttons, VlSettings.PrinterSettings, 0);
    return true;
}

void TBackupForm::ProtView(bool CheckMode, bool AllowEdit)
{
    QString name = LastLogFile;
    if (!XlFileExists(name, true)) {
        const int choice = SelectChoice(Tr("Show log"),
                                        Tr("Log file not found: ") + QStringLiteral("\r\n") + name +
                                            QStringLiteral("\r\n") + Tr("Show other log file?"),
                                        TMsgDlgType::mtConfirmation, TFontStyles(), {Tr("Select"), Tr("Default")});
        if (choice == 1)
            name = ProgramLogName;
        else if (choice == 0) {
            if (!BuMainForm().SelectLogFile(name))
                return;
        } else
            return;
    }
    if ((!CheckMode || ActMode != 0) && ShowProt(name, AllowEdit))
        return;
    ShowInfoBox(Tr("No log available!"), 0);
}

} // namespace vl
