// The ways into a run and out of it: task files that cannot be run, runs
// that end before the backup, the lock file, unexpected errors, and the
// small helpers of the run entry (zip name, command text, external flags).
#include "RunJobFixture.h"

#include "common/MessageRecorder.h"
#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/StringUtils.h"
#include "core/WindowServices.h"
#include "platform/FileLock.h"
#include "platform/SysErrors.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

namespace vl::test {
namespace {

QByteArray Utf16LE(const QString &AText)
{
    QByteArray b;
    for (QChar c : AText) {
        b.append(char(c.unicode() & 0xFF));
        b.append(char(c.unicode() >> 8));
    }
    return b;
}

class RunControllerTest : public RunJobTest {
protected:
    void SetUp() override
    {
        RunJobTest::SetUp();
        EventLogAvailable = true;
    }
    QString DefaultLog() const
    {
        return QString::fromUtf8(ReadIfExists(ProgramLogName)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    QString Events() const { return QString::fromUtf8(ReadIfExists(Logs + QStringLiteral("/events.txt"))); }
    QString LockPath() const { return SettingsFolder + QLatin1String(kLockFileName); }
};

// ---- Task files that cannot be run ----

TEST_F(RunControllerTest, MissingTaskFileEndsWithExitCode1AndReportsByInteraction)
{
    Main.AutoTasks[2].TaskName = QStringLiteral("Nightly");
    const QString path = Tasks + QStringLiteral("/missing.buj");
    const QString box = QStringLiteral("File\r\n\"") + path + QStringLiteral("\"\r\nnot found!");
    struct TCase {
        int Nr;
        TInteraction Ia;
        QString Box; // empty: no box
        QString Desc;
    };
    const TCase cases[] = {
        {0, TInteraction::iaPrompt, box, QStringLiteral("Backup task: missing.buj")},
        {3, TInteraction::iaDelay, QStringLiteral("Automatic backup 3: ") + box,
         QStringLiteral("Automatic backup 3: Nightly")},
        {3, TInteraction::iaQuietError, QStringLiteral("Automatic backup 3: ") + box,
         QStringLiteral("Automatic backup 3: Nightly")},
        {3, TInteraction::iaQuiet, QString(), QStringLiteral("Automatic backup 3: Nightly")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(int(c.Ia));
        QFile::remove(ProgramLogName);
        QFile::remove(Logs + QStringLiteral("/events.txt"));
        TMessageRecorder boxes;
        const TRun r = Run(path, c.Nr, c.Ia);
        EXPECT_EQ(r.Result, TBuResult::brError);
        EXPECT_EQ(r.Exit, 1);
        EXPECT_EQ(Main.FailedTask(), c.Nr);
        const QString log = DefaultLog();
        EXPECT_TRUE(LineStarting(log, QStringLiteral("  ==> ")).endsWith(QStringLiteral(" - ") + c.Desc)) << log.toStdString();
        EXPECT_TRUE(LineStarting(log, QStringLiteral("  *** ")).endsWith(QStringLiteral(" - File not found: ") + path))
            << log.toStdString();
        EXPECT_EQ(boxes.Texts, c.Box.isEmpty() ? QStringList() : QStringList{c.Box});
        EXPECT_EQ(Events().contains(QStringLiteral("0xC000000E")), c.Box.isEmpty()) << Events().toStdString();
    }
}

TEST_F(RunControllerTest, UnreadableTaskFileIsAnInvalidConfiguration)
{
    const QString path = Tasks + QStringLiteral("/damaged.buj");
    WriteBytes(path, "no task here\r\n");
    const TRun r = Run(path, 0, TInteraction::iaQuiet);
    EXPECT_EQ(r.Result, TBuResult::brError);
    EXPECT_EQ(r.Exit, 6);
    const QString log = DefaultLog();
    EXPECT_TRUE(HasLine(log, QStringLiteral("  *** Invalid task configuration: ") + path)) << log.toStdString();
    // The cause the loader reported comes after it.
    EXPECT_TRUE(LineStarting(log, QStringLiteral("  --> ")).contains(QStringLiteral("damaged or incomplete")))
        << log.toStdString();
    EXPECT_TRUE(Events().contains(QStringLiteral("0xC0000015: Invalid task configuration: ") + path))
        << Events().toStdString();
}

// A box that fails the way a lost display does.
class TFailingBoxes : public TMessageRecorder {
public:
    TModalResult ShowMessageForm(QPoint, const QString &, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        throw std::runtime_error("display gone");
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn,
                                      QPoint, int32_t, TDefaultMonitor) override
    {
        throw std::runtime_error("display gone");
    }
};

TEST_F(RunControllerTest, LoaderThatThrowsIsAnInvalidConfiguration)
{
    const QString path = Tasks + QStringLiteral("/damaged.buj");
    WriteBytes(path, "no task here\r\n");
    {
        TFailingBoxes boxes; // the loader reports the damage in a box
        const TRun r = Run(path, 0, TInteraction::iaQuiet);
        EXPECT_EQ(r.Result, TBuResult::brError);
        EXPECT_EQ(r.Exit, 6);
    }
    const QString log = DefaultLog();
    EXPECT_TRUE(HasLine(log, QStringLiteral("  *** Invalid task configuration: ") + path)) << log.toStdString();
    EXPECT_TRUE(HasLine(log, QStringLiteral("  --> display gone"))) << log.toStdString();
}

// ---- Runs that end before the backup ----

TEST_F(RunControllerTest, UnconfiguredTaskWritesOneLineAndLeavesTheLockAlone)
{
    struct TCase {
        const char *Name;
        std::function<void(TBackupForm &)> Setup;
    };
    const TCase cases[] = {
        {"nodest", [](TBackupForm &f) { f.BuZiel.SetText(QString()); }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString task = MakeTask(QString::fromLatin1(c.Name), c.Setup);
        // A lock file left behind by a killed run: a run that never starts
        // must not take it over.
        WriteBytes(LockPath(), Utf16LE(QStringLiteral("old.buj")));
        ProgExitCode = 0;
        TBackupForm form;
        EXPECT_EQ(form.DoBackupJob(0, TInteraction::iaQuiet, TThreadPriority::tpNormal, task), TBuResult::brError);
        EXPECT_EQ(ProgExitCode, 6);
        EXPECT_EQ(ReadBytes(LockPath()), Utf16LE(QStringLiteral("old.buj")));
        const QString log = QString::fromUtf8(ReadIfExists(TaskLog(task)));
        const QStringList lines = log.mid(log.indexOf(QStringLiteral("  ==> "))).split(QStringLiteral("\r\n"),
                                                                                       Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << log.toStdString();
        EXPECT_EQ(lines[1], QStringLiteral("  *** Invalid task configuration: ") + task);
        QFile::remove(LockPath());
    }
}

TEST_F(RunControllerTest, CancelledEncryptionPasswordEndsWithExitCode5)
{
    const QString task = MakeTask(QStringLiteral("enc"), [](TBackupForm &f) {
        f.cbEncrypt.SetChecked(true);
        f.cbFixPwd.SetChecked(false);
    });
    // The headless password service answers Cancel.
    const TRun r = Run(task, 0, TInteraction::iaQuiet);
    EXPECT_EQ(r.Result, TBuResult::brError);
    EXPECT_EQ(r.Exit, 5);
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Canceled by user"))) << r.Log.toStdString();
    EXPECT_FALSE(r.Log.contains(QStringLiteral("  ==> End"))) << r.Log.toStdString();
}

// ---- The lock file ----

TEST_F(RunControllerTest, LockLeftBehindIsTakenOverAndRemoved)
{
    WriteTree(Src, SampleTree());
    const QString task = MakeTask(QStringLiteral("lock"));
    WriteBytes(LockPath(), Utf16LE(QStringLiteral("/tasks/killed.buj")));
    const TRun r = Run(task); // checks that no lock file is left
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Lock file of an interrupted run was removed: /tasks/killed.buj")))
        << r.Log.toStdString();
}

TEST_F(RunControllerTest, LockHeldByARunningBackupStaysUntouched)
{
    WriteTree(Src, SampleTree());
    const QString task = MakeTask(QStringLiteral("held"));
    const QByteArray owner = Utf16LE(QStringLiteral("/tasks/running.buj"));
    WriteBytes(LockPath(), owner);
    // Another open file holding the lock, as a running backup does.
    const int fd = ::open(LockPath().toUtf8().constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(TryLockRange(fd, 0, 10, true), 0u);
    ProgExitCode = 0;
    {
        TBackupForm form;
        form.DoBackupJob(0, TInteraction::iaQuiet, TThreadPriority::tpNormal, task);
    }
    EXPECT_EQ(ReadBytes(LockPath()), owner);
    EXPECT_FALSE(QString::fromUtf8(ReadIfExists(TaskLog(task))).contains(QStringLiteral("Lock file")));
    ::close(fd);
}

// ---- Unexpected errors ----

// A progress window whose display fails the way a full disk or a broken
// component would; records the status page.
class TFailingProgress : public THeadlessProgressWindow {
public:
    explicit TFailingProgress(std::function<void()> AFail) : FFail(std::move(AFail)) { SetProgressWindow(this); }
    ~TFailingProgress() override { SetProgressWindow(nullptr); }
    void ShowProgress(IRunControl *, const QString &, const QString &, const QString &, TProgressOptions, int32_t,
                      int32_t, bool) override
    {
        FFail();
    }
    TModalResult ShowStatus(TResultStatus Mode, const QString &, const QString &AStatus1, const QString &AStatus2,
                            TColor AColor, int32_t) override
    {
        Pages << QStringLiteral("%1|%2|%3|%4").arg(int(Mode)).arg(AStatus1, AStatus2).arg(AColor);
        return prNoAction;
    }
    QStringList Pages;

private:
    std::function<void()> FFail;
};

TEST_F(RunControllerTest, ExceptionInsideAPhaseEndsWithExitCode4)
{
    WriteTree(Src, SampleTree());
    const QString task = MakeTask(QStringLiteral("boom"));
    struct TCase {
        const char *Name;
        std::function<void()> Fail;
        QString Text;
    };
    const TCase cases[] = {
        {"io", [] { throw EInOutError(QStringLiteral("write"), ERROR_DISK_FULL); }, SystemErrorText(ERROR_DISK_FULL)},
        {"std", [] { throw std::runtime_error("broken"); }, QStringLiteral("broken")},
        {"other", [] { throw 42; }, QStringLiteral("Unknown error")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFailingProgress progress(c.Fail);
        const TRun r = Run(task, 0, TInteraction::iaDelay);
        EXPECT_EQ(r.Result, TBuResult::brError);
        EXPECT_EQ(r.Exit, 4);
        EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Unexpected error during backup (") + c.Text + QLatin1Char(')')))
            << r.Log.toStdString();
        EXPECT_EQ(progress.Pages,
                  QStringList{QStringLiteral("%1||Unexpected error during backup|255").arg(int(TResultStatus::psError))});
    }
}

// A status window whose display fails (the scan before the run uses it).
class TFailingStatusWindow : public THeadlessStatusWindow {
public:
    TFailingStatusWindow() { SetStatusWindow(this); }
    ~TFailingStatusWindow() override { SetStatusWindow(nullptr); }
    void ShowStatus(QPoint, const QString &, const QString &, bool, int32_t) override
    {
        throw std::runtime_error("scan display broken");
    }
};

TEST_F(RunControllerTest, ExceptionBeforeTheTaskLogIsOpenIsLoggedToTheDefaultLog)
{
    WriteTree(Src, SampleTree());
    const QString task = MakeTask(QStringLiteral("scan"), [](TBackupForm &f) { f.ScanDirs = true; });
    TFailingStatusWindow status;
    const TRun r = Run(task, 0, TInteraction::iaDelay);
    EXPECT_EQ(r.Result, TBuResult::brError);
    EXPECT_EQ(r.Exit, 4);
    const QString log = DefaultLog();
    EXPECT_TRUE(HasLine(log, QStringLiteral("  *** Unexpected error during backup (scan display broken)")))
        << log.toStdString();
}

// ---- Helpers of the run entry ----

TEST_F(RunControllerTest, ZipNameFromPatternOrCommandLine)
{
    TBackupForm f;
    const QString today = FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now());
    const struct {
        QString Pattern, Name;
    } cases[] = {
        {QString(), QStringLiteral("VL-Zip-") + today + QStringLiteral(".zip")},
        {QStringLiteral("Data"), QStringLiteral("Data.zip")},
        {QStringLiteral("Data.ZIP"), QStringLiteral("Data.ZIP")},
        {QStringLiteral("Data."), QStringLiteral("Data.zip")},
        {QStringLiteral("Data.tar"), QStringLiteral("Data.tar.zip")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(f.MakeZipName(c.Pattern), c.Name) << c.Pattern.toStdString();

    // A zip name from the command line wins over the task's pattern.
    const QString task = MakeTask(QStringLiteral("zip"), [](TBackupForm &t) { t.BuZiel.SetText(QString()); });
    TBackupForm form;
    form.CmdZip = QStringLiteral("FromCmd");
    form.DoBackupJob(0, TInteraction::iaQuiet, TThreadPriority::tpNormal, task);
    EXPECT_EQ(form.ZipName, QStringLiteral("FromCmd.zip"));
}

TEST_F(RunControllerTest, CommandLineForLog)
{
    TBackupForm f;
    const QString cmd = QStringLiteral("/bin/notify [%status%]");
    const struct {
        int Enc, Status;
        QString Text;
    } cases[] = {
        {1, 5, QStringLiteral("Hidden command line")},
        {1, -2, QStringLiteral("Hidden command line")},
        {0, -2, cmd},
        {0, -1, QStringLiteral("/bin/notify []")},
        {0, 5, QStringLiteral("/bin/notify [5]")},
    };
    for (const auto &c : cases) {
        f.CmdEnc = c.Enc;
        EXPECT_EQ(f.CommandLineForLog(cmd, c.Status), c.Text) << c.Enc << " " << c.Status;
    }
}

TEST_F(RunControllerTest, ExtActive)
{
    EXPECT_TRUE(TBackupForm::ExtActive(0x2000, 0));
    EXPECT_TRUE(TBackupForm::ExtActive(0, 0x2001));
    EXPECT_FALSE(TBackupForm::ExtActive(0x1FFF, 0x4000));
}

} // namespace
} // namespace vl::test
