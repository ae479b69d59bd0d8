// Velkor: the program body. The pre-scan of the command line, the restart
// with administrator rights, the single instance, the services with or
// without a display, the main window's logic and the backup task, then the
// event loop until the start dispatcher ends the program. The process ends
// with the exit code of its runs.
#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "app/RunDispatch.h"
#include "app/SingleInstance.h"
#include "backup/BackupForm.h"
#include "core/Language.h"
#include "core/MessageService.h"
#include "core/ProgramEnv.h"
#include "core/WindowServices.h"
#include "engine/WinExecute.h"
#include "platform/FileNames.h"
#include "ui/qt/GuiServices.h"
#include "ui/qt/QtMainWindowServices.h"

#include <QCoreApplication>

#include <cstring>

using namespace vl;

VL_VERSION_RECORD(kVersionRecord, "Velkor developers", "Velkor backup", VL_FILE_VERSION, "Velkor",
                  "(C) Velkor developers", "");

int main(int argc, char **argv)
{
    OwnVersionRecord = kVersionRecord;
    // File names on the command line are bytes; keep them lossless.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeFileName(argv[i], qsizetype(std::strlen(argv[i])));

    TProgramApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velkor"));

    InitLanguage(ReadIniPathFromRegistry(QString::fromUtf8(kSettingsSubDir)), QStringLiteral("Velkor.cfg"), {}, args);

    // The pre-scan may report a missing argument file: after the services
    // and the language exist, so the user sees it as a box in their
    // language.
    CmdLineValid = true;
    QString joined;
    uint8_t flags = PreScanCommandLine(args, joined);

    if (flags & kPreScanElevate) {
        // Every argument but "elevate" goes on, each as one shell word.
        QString params;
        for (const QString &a : ExpandArgumentFiles(args)) {
            uint8_t ignored = 0;
            if (!PreScanArgument(a, ignored).isEmpty())
                params += QLatin1Char(' ') + ChildCommandWord(a);
        }
        if (RunElevatedInCurrentDir(ProgramPath + ProgramName, params.trimmed()))
            return 0;
        flags &= uint8_t(~kPreScanElevate);
    }


    TInstanceManager instance;
    const TStartOutcome outcome = instance.StartUp(flags, args);
    if (outcome == TStartOutcome::soEnd)
        return 0;
    if (!instance.Error().isEmpty())
        WriteServiceLog(instance.Error());

    TBackupForm backupForm;
    TBuMainForm mainForm(backupForm, outcome == TStartOutcome::soFirst ? &instance : nullptr);
    SetBuMainForm(&mainForm);
    mainForm.Headless = !app.Gui();
    mainForm.FormCreate(args, flags);
    if (TQtMainWindowServices *qt = app.MainWindowServices()) {
        qt->SetSoundOn(mainForm.WindowServices.FSoundOn);
        qt->SetVlInstance(mainForm.WindowServices.FInstance);
        qt->SetNoScaling(mainForm.WindowServices.FNoScaling);
    } else {
        SetMainWindowServices(&mainForm.WindowServices);
    }

    mainForm.InitProgram();
    QCoreApplication::exec();

    const int code = mainForm.FormDestroy();
    SetMainWindowServices(nullptr);
    SetBuMainForm(nullptr);
    return code;
}
