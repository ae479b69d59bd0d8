#include "app/MainForm.h"

#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "app/SingleInstance.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"

#include <QDir>

#include <gtest/gtest.h>

namespace vl {
namespace {

using namespace Qt::StringLiterals;

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProgExitCode = 0;
        Dir = test::MakeTempDir(u"main"_s);
        SetBuMainForm(&Main);
    }
    void TearDown() override { SetBuMainForm(nullptr); }

    void Create(const QStringList &AArgs, uint8_t AFlags = 0)
    {
        CmdLineValid = true;
        Main.FormCreate(AArgs, AFlags);
    }

    QString Dir;
    TBackupForm Form;
    TBuMainForm Main{Form, nullptr};
};

// What an interactive start does before any dialog: the choice and the
// task file it is about.
TEST_F(MainFormTest, InteractiveChoiceFollowsTheCommandLine)
{
    // A bare name lies in the task folder; a "/" path counts as a task only
    // with a task file's extension (else it would be a switch).
    TaskFolder = Dir + u"/"_s;
    const QString task = Dir + u"/Daily"_s;
    struct Case {
        QStringList Args;
        uint8_t Flags;
        int Choice;
        QString File;
    } cases[] = {
        {{}, 0, kChoiceControlPanel, {}},
        {{u"/edit"_s}, 0, kChoiceEdit, {}},
        {{u"#2"_s}, 0, kChoiceStartBackup, {}},
        // A later instance told to run the backup itself.
        {{u"Daily"_s}, kPreScanStartBackup, kChoiceStartBackup, {}},
        {{task + u".cuj"_s}, 0, kChoiceControlPanel, task + u".cuj"_s},
        {{u"Daily"_s}, 0, -1, task + u".buj"_s},
        {{task + u".BUJ"_s, u"/edit"_s}, 0, kChoiceEdit, task + u".BUJ"_s},
    };
    for (const Case &c : cases) {
        TBackupForm form;
        TBuMainForm main(form, nullptr);
        CmdLineValid = true;
        main.FormCreate(c.Args, c.Flags);
        QString file;
        EXPECT_EQ(main.InteractiveChoice(file), c.Choice) << c.Args.join(u' ').toStdString();
        EXPECT_EQ(file, c.File) << c.Args.join(u' ').toStdString();
    }
}

// A task file handed over while a run is under way waits for its end; one
// handed over later goes to the editor, and what the editor saved becomes
// the current task at the top of the list.
TEST_F(MainFormTest, HandOverWaitsForTheRunThenOpensTheEditor)
{
    Create({});
    QStringList edited;
    Main.OnEditBackupTask = [&](const QString &AFile) {
        edited << AFile;
        return AFile + u".saved"_s;
    };
    const QString task = Dir + u"/Weekly.buj"_s;

    // Before the dispatch has decided what the start is for.
    Main.ReceiveTaskFile(kHandOverOpen, task);
    EXPECT_EQ(Main.OpenTaskName, task);
    // The dispatch of a start without arguments opens it at its end.
    bool quit = false;
    Main.OnQuit = [&quit] { quit = true; };
    Main.OnShowMainWindow = [](TMainPage) { return true; };
    Main.tmStartTimer();
    EXPECT_EQ(edited, QStringList{task});
    EXPECT_FALSE(quit);
    edited.clear();

    Main.BackupIsRunning = true;
    Main.ReceiveTaskFile(kHandOverOpen, task);
    EXPECT_EQ(Main.OpenTaskName, task);
    EXPECT_TRUE(edited.isEmpty());

    Main.BackupIsRunning = false;
    Main.ReceiveTaskFile(kHandOverOpen, task);
    EXPECT_EQ(edited, QStringList{task});
    EXPECT_TRUE(Main.OpenTaskName.isEmpty());
    EXPECT_EQ(Main.CurrentTask, task + u".saved"_s);
    ASSERT_FALSE(Main.Settings.BackupList.isEmpty());
    EXPECT_EQ(Main.Settings.BackupList.first().Name, task + u".saved"_s);

    // The task window is open: nothing else happens.
    Form.Visible = true;
    Main.ReceiveTaskFile(kHandOverOpen, task);
    EXPECT_EQ(edited.size(), 1);
}

// "/showlog name": below the log folder, ".log" unless it has that
// extension; an absolute name stays where it is.
TEST_F(MainFormTest, CommandLogFileLiesInTheLogFolder)
{
    VlSettings.Directories.LogDir = Dir + u"/logs"_s;
    const QString logs = GetLogFolder();
    EXPECT_EQ(TBuMainForm::CommandLogFile(u"Daily"_s), logs + u"Daily.log"_s);
    EXPECT_EQ(TBuMainForm::CommandLogFile(u"Daily.LOG"_s), logs + u"Daily.LOG"_s);
    EXPECT_EQ(TBuMainForm::CommandLogFile(u"/var/tmp/x.txt"_s), u"/var/tmp/x.txt.log"_s);
    EXPECT_TRUE(TBuMainForm::CommandLogFile(QString()).isEmpty());
}

} // namespace
} // namespace vl
