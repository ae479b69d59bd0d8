// The start-up phases of a run: description, password, mode, header,
// time slot, program before the backup, total amount.
#include "backup/RunContext.h"

#include "FormLogFixture.h"
#include "backup/MainServices.h"
#include "common/MessageRecorder.h"
#include "core/PasswordService.h"
#include "engine/Encryption.h"

#include <QStringList>

using namespace vl;
using vl::test::FormLogTest;
using vl::test::TMessageRecorder;

namespace {

// Answers every password question with Typed (OK) or Cancel, and keeps
// which dialog was asked with what.
class TPasswordAnswers : public IPasswordService {
public:
    TPasswordAnswers() { SetPasswordService(this); }
    ~TPasswordAnswers() override { SetPasswordService(nullptr); }

    bool Ok = true;
    QString Typed;
    QStringList Asked;

    TModalResult AskPassword(QPoint, const QString &, const QString &, bool, bool, QString &, int32_t &) override
    {
        Asked << QStringLiteral("old");
        return mrCancel;
    }
    bool AskNewPassword(QPoint, const QString &Title, QString &Pwd, bool Confirm, bool, int32_t MinLen) override
    {
        Asked << QStringLiteral("new|%1|%2|%3").arg(Title).arg(Confirm).arg(MinLen);
        if (Ok)
            Pwd = Typed;
        return Ok;
    }
    bool AskCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen) override
    {
        Asked << QStringLiteral("crypt|%1|%2|%3").arg(Title, Prompt).arg(MinLen);
        if (Ok)
            Pwd = Typed;
        return Ok;
    }
};

class RunStartupTest : public FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        SetBuMainForm(&Main);
        FSavedStartedBy = StartedBy;
        FSavedMinLen = VlSettings.OtherSettings.MinPwdLength;
        FSavedSizeProgress = VlSettings.ViewSettings.SizeProgress;
        Form.BuModeCB.SetItemIndex(0);
        R.Description = QStringLiteral("Backup task: t");
    }
    void TearDown() override
    {
        StartedBy = FSavedStartedBy;
        VlSettings.OtherSettings.MinPwdLength = FSavedMinLen;
        VlSettings.ViewSettings.SizeProgress = FSavedSizeProgress;
        SetBuMainForm(nullptr);
        FormLogTest::TearDown();
    }
    // The log opened again at level ALevel (1..3).
    void ReopenLog(int ALevel)
    {
        Form.CloseLogFile(false);
        ASSERT_EQ(Form.OpenLogFile(0x80 | ALevel, LogName, false), 0);
    }
    // The log with plain line feeds.
    QString Text() { return Log().replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }
    void AddSource(int64_t ABytes, int ACount, bool AChecked)
    {
        TExtensionList list(Form.NewPeriod, TSubDirMode::sdmNormal);
        list.SPath = Dir;
        list.IBytes = ABytes;
        list.ICount = ACount;
        const int i = Form.SelectedDirBox.Add(Dir, std::move(list));
        Form.SelectedDirBox.SetChecked(i, AChecked);
    }

    TNullBuMainForm Main;
    TBackupForm::TRunContext R;

private:
    int FSavedStartedBy = 0;
    int FSavedMinLen = 0;
    bool FSavedSizeProgress = false;
};

TEST_F(RunStartupTest, RunDescriptionByKindOfStart)
{
    Main.AutoTasks[2].TaskName = QStringLiteral("Weekly documents");
    const QString saved = TaskFolder;
    TaskFolder = QStringLiteral("/tasks");
    EXPECT_EQ(Form.RunDescription(3, QStringLiteral("/tasks/x.buj")), QStringLiteral("Automatic backup 3: Weekly documents"));
    EXPECT_EQ(Form.RunDescription(0, QStringLiteral("/tasks/sub/a.buj")), QStringLiteral("Backup task: sub/a.buj"));
    EXPECT_EQ(Form.RunDescription(-1, QStringLiteral("/other/b.buj")), QStringLiteral("Backup task: /other/b.buj"));
    EXPECT_EQ(Form.RunDescription(-1, QString()), QStringLiteral("New backup task"));
    TaskFolder = saved;
}

TEST_F(RunStartupTest, AlternatingScheduleChoosesTheModeOfTheStep)
{
    const struct {
        TSchedMode mode;
        int num, full, akt;
        int expected;
        bool bdiff;
    } cases[] = {
        {TSchedMode::smDiff2, 6, 0, 4, 1, true},  // 6 div 2 + 1: the full one in the middle
        {TSchedMode::smDiff2, 6, 0, 2, 2, true},
        {TSchedMode::smDiff, 6, 0, 4, 2, true},   // no middle full run without the "2"
        {TSchedMode::smDiff, 7, 2, 3, 1, true},   // whole weeks: counted from the full day
        {TSchedMode::smIncr, 7, 2, 5, 3, false},
        {TSchedMode::smIncr, 5, 0, 1, 1, false},
        {TSchedMode::smIncr2, 8, 0, 5, 1, false},
        {TSchedMode::smIncr2, 5, 0, 3, 3, false}, // below 6 steps no middle run
        {TSchedMode::smIncr2, 14, 3, 11, 1, false},
    };
    const char *letters[] = {"", " (F)", " (D)", " (I)"};
    for (const auto &c : cases) {
        TAutoTask task;
        task.SchedProps.StepMode = 1;
        task.SchedProps.SchedMode = c.mode;
        task.SchedProps.NumZyk = c.num;
        task.SchedProps.FullZyk = c.full;
        task.SchedProps.AktZyk = c.akt;
        TBackupForm::TRunContext ctx;
        ctx.Nr = 3;
        ctx.AutoTask = &task;
        ctx.Description = QStringLiteral("Automatic backup 3: a");
        Form.SetRunMode(ctx);
        const std::string at = std::to_string(c.num) + "/" + std::to_string(c.full) + "/" + std::to_string(c.akt);
        EXPECT_TRUE(ctx.Alternating) << at;
        EXPECT_EQ(ctx.BackupMode, c.expected) << at;
        EXPECT_EQ(ctx.ModeLetter, QString::fromLatin1(letters[c.expected])) << at;
        EXPECT_EQ(ctx.MFull, c.expected == 1) << at;
        EXPECT_EQ(ctx.BDiff, c.bdiff) << at;
        EXPECT_EQ(ctx.Description, QStringLiteral("Automatic backup 3: a") + QString::fromLatin1(letters[c.expected]))
            << at;
    }
}

TEST_F(RunStartupTest, ModeLettersAndEncryptionMark)
{
    const struct {
        int nr;
        int ownMode;
        int specMode;
        bool syncOnly;
        int stepMode;
        const char *pwd;
        const char *letter;
        int backupMode;
        const char *modeName;
    } cases[] = {
        {-1, 0, 0, false, 0, "", "", 0, "Update"},
        {-1, 0, 0, false, 0, "pw", " (Encrypted)", 0, "Update"},
        // From the editor the task's own mode gives no letter.
        {-1, 1, 0, false, 0, "pw", " (Encrypted)", 1, "Full (new)"},
        {-1, 0, 1, false, 0, "pw", " (F)+(Encrypted)", 1, "Update"},
        {-1, 0, 0, true, 0, "", " (S)", 0, "Update"},
        // A command-line mode replaces the task's; mode 1 keeps the list's text.
        {-1, 0, 3, false, 0, "", " (I)", 3, "Incremental"},
        {-1, 0, 1, false, 0, "", " (F)", 1, "Update"},
        {0, 2, 2, false, 0, "", " (D)", 2, "Differential"},
        // A schedule start keeps the task's mode (no command-line mode).
        {2, 2, 3, false, 0, "", " (D)", 2, "Differential"},
        {2, 0, 0, false, 0, "", "", 0, "Update"},
        {2, 3, 0, true, 0, "pw", " (S)+(Encrypted)", 3, "Incremental"},
        // smNormal with steps is no alternating schedule.
        {2, 3, 0, false, 1, "", " (I)", 3, "Incremental"},
    };
    for (const auto &c : cases) {
        TAutoTask task;
        task.SchedProps.StepMode = c.stepMode;
        Form.BuModeCB.SetItemIndex(c.ownMode);
        Form.SpecMode = c.specMode;
        Form.ActPwd = QByteArray(c.pwd);
        TBackupForm::TRunContext ctx;
        ctx.Nr = c.nr;
        ctx.AutoTask = c.nr > 0 ? &task : nullptr;
        ctx.SyncOnly = c.syncOnly;
        ctx.Description = QStringLiteral("D");
        Form.SetRunMode(ctx);
        EXPECT_EQ(ctx.ModeLetter, QString::fromLatin1(c.letter)) << c.letter;
        EXPECT_EQ(ctx.Description, QStringLiteral("D") + QString::fromLatin1(c.letter)) << c.letter;
        EXPECT_EQ(ctx.BackupMode, c.backupMode) << c.letter;
        EXPECT_EQ(ctx.ModeName, QString::fromLatin1(c.modeName)) << c.letter;
        EXPECT_FALSE(ctx.Alternating) << c.letter;
        EXPECT_EQ(ctx.MFull, c.nr <= 0 && c.specMode == 1) << c.letter;
    }
}

TEST_F(RunStartupTest, SummariesOnlyAtTheLongerLogLevels)
{
    Form.DestMode = 0;
    Form.cbCompress.SetChecked(false);
    Form.cbZipCompress.SetChecked(true);
    Form.cbVerify.SetChecked(true);
    Form.cbSourceDelete.SetChecked(true);
    Form.Encrypt = true;
    Form.SyncMode = 1;
    Form.KeepBakCB.SetChecked(true);
    Form.KeepSyncCB.SetChecked(true);
    Form.cbPreC.SetChecked(true);
    Form.cbPostC.SetChecked(true);
    StartedBy = 1;
    R.Nr = 0;
    R.TaskPath = QStringLiteral("/tasks/t.buj");

    Form.WriteRunHeader(R);
    const QStringList lines = Text().split(QLatin1Char('\n'));
    const auto at = [&lines](const QString &AStart) {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(AStart))
                return i;
        return qsizetype(-1);
    };
    EXPECT_GE(at(QStringLiteral("  Filename: /tasks/t.buj")), 0);
    EXPECT_GE(at(QStringLiteral("  ->  Started by Windows Task Scheduler")), 0);
    EXPECT_GE(at(QStringLiteral("  Method: ")), 0);
    const qsizetype s = at(QStringLiteral("  Settings: "));
    ASSERT_GE(s, 0);
    const QString pad(12, QLatin1Char(' '));
    // "as zip" without "Compress files" is the first item.
    EXPECT_EQ(lines.mid(s, 4), (QStringList{QStringLiteral("  Settings: as zip"), pad + QStringLiteral("Encrypt files"),
                                            pad + QStringLiteral("Verify copied files"),
                                            pad + QStringLiteral("Delete source files after backup")}));
    const qsizetype o = at(QStringLiteral("  Options:  "));
    ASSERT_GE(o, 0);
    EXPECT_EQ(lines[o], QStringLiteral("  Options:  Synchronize - All files"));
    EXPECT_EQ(lines[o + 1], pad + QStringLiteral("Security backup of old file versions: During backup and During "
                                                 "synchronization"));
    EXPECT_TRUE(lines[o + 2].startsWith(pad + QStringLiteral("External programs: before Backup ("))) << lines[o + 2].toStdString();
    EXPECT_TRUE(lines[o + 3].startsWith(pad + QString(19, QLatin1Char(' ')) + QStringLiteral("after Backup (")))
        << lines[o + 3].toStdString();

    ReopenLog(1);
    Form.WriteRunHeader(R);
    const QString brief = Text();
    EXPECT_FALSE(brief.contains(QStringLiteral("Settings: ")));
    EXPECT_FALSE(brief.contains(QStringLiteral("Options:  ")));
    EXPECT_FALSE(brief.contains(QStringLiteral("Filename:"))); // level 3
    EXPECT_TRUE(brief.contains(QStringLiteral("  Method: ")));
}

TEST_F(RunStartupTest, ScheduleStartHeaderAndZipMethodsSkipFileSettings)
{
    Main.AutoTasks[0].BuProcess = TAutoStart::asByRequest;
    R.Nr = 1;
    R.AutoTask = &Main.AutoTasks[0];
    Form.LoadedTaskName = QStringLiteral("/tasks/t.buj");
    Form.DestMode = 4;
    Form.cbCompress.SetChecked(true);
    Form.cbNoAttributes.SetChecked(true);
    StartedBy = 2; // not shown for a schedule start
    Form.WriteRunHeader(R);
    const QString log = Text();
    EXPECT_TRUE(log.contains(QStringLiteral("\n      Filename: /tasks/t.buj\n      Time schedule: By request\n")));
    EXPECT_FALSE(log.contains(QStringLiteral("Started by")));
    EXPECT_TRUE(log.contains(QStringLiteral("  Settings: Do not copy file attributes\n")));
    EXPECT_FALSE(log.contains(QStringLiteral("Compress files")));
    EXPECT_FALSE(log.contains(QStringLiteral("Options:")));
}

// A main window whose status page stays behind the user's window, at a
// normal start or at a log-off.
class TBehindMainForm : public TNullBuMainForm {
public:
    bool Down = false;
    bool DownTask() const override { return Down; }
    TStatusStyle StatusStyle() const override { return TStatusStyle::ssBehind; }
};

TEST_F(RunStartupTest, ProgressWindowGivesTheFrontBackUnlessAtLogOff)
{
    TBehindMainForm main;
    SetBuMainForm(&main);
    int raised = 0;
    Form.OnLastAppToFront = [&raised] { ++raised; };
    const struct {
        bool visible;
        int autoClose;
        bool down;
        int raised;
    } cases[] = {
        {false, 0, false, 1},
        {true, 0, false, 1}, // a start from the editor as well
        {false, -1, false, 1},
        {false, 0, true, 0},
        {true, 0, true, 0},
    };
    for (const auto &c : cases) {
        raised = 0;
        main.Down = c.down;
        Form.Visible = c.visible;
        R.Nr = c.visible ? -1 : 0;
        R.AutoClose = c.autoClose;
        Form.ShowRunProgress(R);
        EXPECT_EQ(raised, c.raised) << c.visible << c.autoClose << c.down;
    }
}

TEST_F(RunStartupTest, CommandLineTimeSlot)
{
    const struct {
        TTimeMode mode;
        bool abort;
        const char *line;
    } cases[] = {
        {TTimeMode::tmOff, false, ""},
        {TTimeMode::tmPrompt, true, "  *** Canceled by user"}, // headless dialog: Cancel
        {TTimeMode::tmError, true, "  *** Invalid time slot from command line!"},
    };
    for (const auto &c : cases) {
        const qsizetype before = Log().size();
        Form.CmdTmPeriod = TTimePeriod{c.mode};
        TBackupForm::TRunContext ctx;
        Form.CheckCmdTimeSlot(ctx);
        EXPECT_EQ(ctx.Abort, c.abort) << c.line;
        const QString added = Log().mid(before);
        EXPECT_EQ(added.trimmed(), QString::fromLatin1(c.line).trimmed()) << c.line;
    }
}

TEST_F(RunStartupTest, ProgramBeforeTheBackup)
{
    const struct {
        QString command;
        int errorLevel;
        bool abort;
        bool failed;
    } cases[] = {
        {QStringLiteral("/bin/true"), 1, false, false},
        // Not found: reported, the run goes on, but it counts as failed.
        {QStringLiteral("/nonexistent/velkor-pre"), 1, false, true},
        {QStringLiteral("/bin/false"), 1, true, true},
    };
    Form.cbPreC.SetChecked(true);
    for (const auto &c : cases) {
        Form.BuPreCmd = TExternalProg{c.command, c.errorLevel, kWaitRun};
        TBackupForm::TRunContext ctx;
        ctx.IaMode = TInteraction::iaQuiet;
        ProgressWindow().SetLockStatus(1);
        Form.RunProgramBefore(ctx);
        EXPECT_EQ(ctx.Abort, c.abort) << c.command.toStdString();
        EXPECT_EQ(ctx.ExtProgFailed, c.failed) << c.command.toStdString();
        EXPECT_EQ(ProgressWindow().LockStatus(), 0);
    }
}

TEST_F(RunStartupTest, PasswordOfTheRun)
{
    VlSettings.OtherSettings.MinPwdLength = 6;
    const struct {
        bool fixed;
        const char *stored;
        bool visible;
        bool ok;
        const char *typed;
        TModalResult answer; // of the Yes/No box
        bool result;
        const char *pwd;
        const char *asked;
    } cases[] = {
        {true, "fixed!", false, false, "", mrNo, true, "fixed!", ""},
        {false, "", true, true, "typed1", mrNo, true, "typed1", "new|File encryption|1|6"},
        {false, "", false, true, "typed2", mrNo, true, "typed2",
         "crypt|File encryption|Backup task: t\r\nuses file encryption!|6"},
        {false, "", false, false, "", mrYes, false, "", "crypt|File encryption|Backup task: t\r\nuses file encryption!|6"},
        // OK with nothing typed: the Yes/No box decides.
        {false, "", true, true, "", mrYes, true, "", "new|File encryption|1|6"},
        {false, "", true, true, "", mrNo, false, "", "new|File encryption|1|6"},
        // A stored fixed password that is empty is asked for.
        {true, "", true, true, "typed3", mrNo, true, "typed3", "new|File encryption|1|6"},
    };
    for (const auto &c : cases) {
        TPasswordAnswers passwords;
        TMessageRecorder messages;
        messages.Answer = c.answer;
        passwords.Ok = c.ok;
        passwords.Typed = QString::fromLatin1(c.typed);
        Form.cbEncrypt.SetChecked(true);
        Form.cbFixPwd.SetChecked(c.fixed);
        Form.CryptPwd = QByteArray(c.stored);
        Form.Visible = c.visible;
        Form.ActPwd.clear();
        EXPECT_EQ(Form.GetRunPassword(R), c.result) << c.asked;
        EXPECT_EQ(Form.ActPwd, QByteArray(c.pwd)) << c.asked;
        EXPECT_EQ(passwords.Asked.join(QLatin1Char(';')), QString::fromLatin1(c.asked));
        const bool boxShown = c.ok && QByteArray(c.typed).isEmpty() && !(c.fixed && *c.stored);
        EXPECT_EQ(messages.Texts,
                  boxShown ? QStringList{QStringLiteral(
                                 "No encryption password specified!\r\nContinue backup without encryption?")}
                           : QStringList{})
            << c.asked;
    }
    // A user who cancels is no unattended run without a display.
    EXPECT_FALSE(Log().contains(QStringLiteral("No encryption password available")));
}

TEST_F(RunStartupTest, UnattendedRunWithoutDisplayHasNoPassword)
{
    Form.cbEncrypt.SetChecked(true);
    Form.Visible = false;
    EXPECT_FALSE(Form.GetRunPassword(R));
    EXPECT_TRUE(Form.ActPwd.isEmpty());
    EXPECT_TRUE((QStringLiteral("\n") + Text()).contains(QStringLiteral("\n  *** No encryption password available for an unattended run\n")));

    // Without encryption nothing is asked.
    Form.cbEncrypt.SetChecked(false);
    EXPECT_TRUE(Form.GetRunPassword(R));
}

TEST_F(RunStartupTest, EncryptionObjectOnlyForFileMethods)
{
    Form.cbEncrypt.SetChecked(true);
    Form.ActPwd = QByteArray("secret");
    for (int mode : {0, 3, 4, 7}) {
        Form.DestMode = mode;
        Form.SetUpRunEncryption(R);
        EXPECT_TRUE(Form.Encrypt);
        EXPECT_EQ(Form.Encryption != nullptr, mode < 4) << mode;
    }
    Form.DestMode = 0;
    Form.ActPwd.clear();
    Form.SetUpRunEncryption(R);
    EXPECT_FALSE(Form.Encrypt);
    EXPECT_EQ(Form.Encryption, nullptr);
}

TEST_F(RunStartupTest, TotalOfTheCheckedEntries)
{
    AddSource(1000, 3, true);
    AddSource(500, 7, false);
    AddSource(20, -1, true); // count not known yet
    R.Count.ErrorCount = 4;
    R.StatusText = QStringLiteral("old");
    R.SyncErrors = true;
    Form.ErrorCnt = 2;
    VlSettings.ViewSettings.SizeProgress = true;
    Form.ShowRunTotal(R);
    EXPECT_EQ(Form.TotalSize, 1020);
    EXPECT_EQ(R.Count.ErrorCount, 0);
    EXPECT_TRUE(R.StatusText.isEmpty());
    EXPECT_FALSE(R.SyncErrors);
    EXPECT_EQ(Form.ErrorCnt, 0);
    VlSettings.ViewSettings.SizeProgress = false;
    Form.ShowRunTotal(R);
    EXPECT_EQ(Form.TotalSize, 3);
}

} // namespace
