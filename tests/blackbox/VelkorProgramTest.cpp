// The Velkor program as its users start it: the real binary in a process of
// its own, with a private environment (no display, HOME, XDG folders and
// TMPDIR in the test's folder, power requests and event-log entries into
// files). Task files are written by the editor's SaveTask; what a start did
// shows in its exit code, the logs, the settings file, the power-request
// file and its messages on stderr.
#include "backup/RunJobFixture.h"
#include "core/IniFile.h"
#include "core/ProgramTexts.h"
#include "ui/ExternalProgramsDialog.h"

#include <QDate>
#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

constexpr int kRunTimeoutMs = 60000;

QString Normalized(const QByteArray &AText)
{
    return QString::fromUtf8(AText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int CountLinesStarting(const QString &ALog, const QString &AStart)
{
    int n = 0;
    for (const QString &line : ALog.split(QLatin1Char('\n')))
        n += line.startsWith(AStart) ? 1 : 0;
    return n;
}

// The processes whose parent is APid.
QList<qint64> ChildrenOf(qint64 APid)
{
    QList<qint64> out;
    const QByteArray parent = "PPid:\t" + QByteArray::number(APid) + '\n';
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly) && status.readAll().contains(parent))
            out << pid;
    }
    return out;
}

// The arguments of a process.
QStringList CommandLineOf(qint64 APid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(APid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = f.readAll();
    if (data.endsWith('\0'))
        data.chop(1);
    QStringList out;
    for (const QByteArray &arg : data.split('\0'))
        out << QString::fromUtf8(arg);
    return out;
}

// Some process holds the flock of AFile.
bool LockHeld(const QString &AFile)
{
    const int fd = ::open(QFile::encodeName(AFile).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd); // drops our lock, if we got it
    return held;
}

bool WaitFor(const std::function<bool()> &ACondition, int AMs)
{
    QElapsedTimer t;
    t.start();
    while (!ACondition()) {
        if (t.hasExpired(AMs))
            return false;
        QThread::msleep(20);
    }
    return true;
}

class VelkorTest : public RunJobTest {
protected:
    void SetUp() override
    {
        RunJobTest::SetUp();
        Root = MakeTempDir(QStringLiteral("env"));
        for (const char *sub : {"home", "config", "data", "cache", "runtime", "tmp"})
            QDir().mkpath(Root + QLatin1Char('/') + QLatin1String(sub));
        Home = Root + QStringLiteral("/home");
        Config = Root + QStringLiteral("/config");
        Runtime = Root + QStringLiteral("/runtime");
        ::chmod(Runtime.toUtf8().constData(), 0700);
        Ini = Settings + QStringLiteral("/Velkor.ini");
        Power = Logs + QStringLiteral("/power.txt");
        Events = Logs + QStringLiteral("/events.txt");
        WriteTree(Src, SampleTree());
    }

    // Nothing of the caller's environment but the program search path: no
    // display, and every folder the program writes to below the test's.
    QProcessEnvironment Environment(bool AWithRuntimeDir = true) const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH", QStringLiteral("/usr/bin:/bin")));
        if (qEnvironmentVariableIsSet("LD_LIBRARY_PATH"))
            env.insert(QStringLiteral("LD_LIBRARY_PATH"), qEnvironmentVariable("LD_LIBRARY_PATH"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("HOME"), Home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Config);
        env.insert(QStringLiteral("XDG_DATA_HOME"), Root + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Root + QStringLiteral("/cache"));
        if (AWithRuntimeDir)
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime);
        env.insert(QStringLiteral("TMPDIR"), Root + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("VELKOR_POWER_DRYRUN"), Power);
        env.insert(QStringLiteral("VELKOR_EVENTLOG"), Events);
        return env;
    }

    std::unique_ptr<QProcess> Start(const QStringList &AArgs, bool AWithRuntimeDir = true,
                                    const QString &AExe = QStringLiteral(VELKOR_BIN)) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(Environment(AWithRuntimeDir));
        p->setWorkingDirectory(Home);
        p->start(AExe, AArgs);
        EXPECT_TRUE(p->waitForStarted(10000)) << "Velkor did not start: " << p->errorString().toStdString();
        return p;
    }

    struct TOutcome {
        int Exit = -1;
        QString Err;
    };

    // The end of a run, killed (and failed) after kRunTimeoutMs.
    static TOutcome Finish(QProcess &P)
    {
        TOutcome o;
        if (!P.waitForFinished(kRunTimeoutMs)) {
            P.kill();
            P.waitForFinished();
            ADD_FAILURE() << "Velkor did not end within " << kRunTimeoutMs / 1000 << " s: "
                          << P.arguments().join(QLatin1Char(' ')).toStdString();
        }
        o.Err = Normalized(P.readAllStandardError());
        if (P.exitStatus() == QProcess::NormalExit)
            o.Exit = P.exitCode();
        else
            ADD_FAILURE() << "Velkor crashed: " << o.Err.toStdString();
        return o;
    }

    TOutcome Velkor(const QStringList &AArgs, bool AWithRuntimeDir = true)
    {
        auto p = Start(AArgs, AWithRuntimeDir);
        return Finish(*p);
    }

    // A batch start: unattended, own settings file, logs into Logs.
    QStringList Batch(const QStringList &AArgs) const
    {
        return QStringList{QStringLiteral("/prompt:quiet"), QStringLiteral("/ini:") + Ini,
                           QStringLiteral("/logdir:") + Logs}
               + AArgs;
    }

    TOutcome Force(const QStringList &ATasks, const QStringList &AMore = {})
    {
        return Velkor(Batch(QStringList{QStringLiteral("/force")} + AMore + ATasks));
    }

    QString Read(const QString &AFile) const { return Normalized(ReadIfExists(AFile)); }
    QString DefaultLog() const { return Read(Logs + QStringLiteral("/Velkor.log")); }
    QString LogOf(const QString &ATask) const { return Read(TaskLog(ATask)); }
    // Runs that ended OK, by the status lines of the task's log.
    int OkRuns(const QString &ATask) const
    {
        return CountLinesStarting(LogOf(ATask), QStringLiteral("  Status: OK - Elapsed time: "));
    }

    // Power and session requests (inhibitor locks left out).
    QStringList PowerRequests() const
    {
        QStringList out;
        for (const QString &line : Read(Power).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!line.contains(QStringLiteral("Inhibit")))
                out << line;
        return out;
    }

    // An executable /bin/sh script in the task folder.
    QString Script(const QString &AName, const QByteArray &ABody) const
    {
        const QString path = Tasks + QLatin1Char('/') + AName;
        WriteBytes(path, "#!/bin/sh\n" + ABody + '\n');
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    // The task runs ACommand before its backup and waits for it.
    static std::function<void(TBackupForm &)> Before(const QString &ACommand)
    {
        return [ACommand](TBackupForm &f) {
            f.BuPreCmd.Command = ACommand;
            f.BuPreCmd.Wait = kWaitRun;
            f.BuPreCmd.ErrorLevel = 1;
            f.cbPreC.SetChecked(true);
        };
    }

    // A task whose destination is a path below a plain file: exit code 2.
    QString FailingTask(const QString &AName)
    {
        const QString plain = Dest + QStringLiteral("/plain");
        WriteBytes(plain, "a file, not a folder");
        return MakeTask(AName, [&](TBackupForm &f) { f.BuZiel.SetText(plain + QStringLiteral("/backup")); });
    }

    // A settings file with one schedule entry (#1) for ATask, run only on
    // request.
    void WriteScheduleIni(const QString &AFile, const QString &ATask) const
    {
        WriteBytes(AFile, "[Config]\nTaskCount=1\n\n[AutoTask0]\nName=" + ATask.toUtf8() + "\nMode=0\n");
    }

    static QString IniValue(const QString &AFile, const QString &ASection, const QString &AKey)
    {
        return TUnicodeIniFile::CreateForRead(AFile).ReadString(ASection, AKey, QStringLiteral("<none>"));
    }

    QString Root, Home, Config, Runtime, Ini, Power, Events;
};

// ---- Exit codes ----

// Each exit code from a real start, with the lines the program writes for
// it: the task's log (or the default log when the task cannot be read) and
// the error log's TaskErrorText.
TEST_F(VelkorTest, ExitCodesWithTheirLogLines)
{
    const struct {
        int Code;
        std::function<QString()> Task;
        bool InDefaultLog; // the text is in the default log, not the task's
        std::function<QString(const QString &ATask)> Text; // a part of the log
    } cases[] = {
        {0, [this] { return MakeTask(QStringLiteral("ok")); }, false,
         [](const QString &) { return QStringLiteral("\n  Status: OK - Elapsed time: "); }},
        {1, [this] { return Tasks + QStringLiteral("/absent.buj"); }, true,
         [](const QString &ATask) { return QStringLiteral(" - File not found: ") + ATask + QLatin1Char('\n'); }},
        {2, [this] { return FailingTask(QStringLiteral("nodest")); }, false,
         [this](const QString &) {
             return QStringLiteral("\n  *** Directory \"%1/plain/backup\" not available for backup!\n").arg(Dest);
         }},
        {3,
         [this] {
             const QString gone = Root + QStringLiteral("/gone");
             QDir().mkpath(gone);
             const QString task = MakeTask(QStringLiteral("nosource"), [&](TBackupForm &f) {
                 f.SelectedDirBox.Clear();
                 AddSource(f, gone);
             });
             QDir(gone).removeRecursively();
             return task;
         },
         false,
         [this](const QString &) {
             return QStringLiteral("\n  *** Directory \"%1/gone/\" not found!\n").arg(Root);
         }},
        {4,
         [this] {
             // A folder at the destination where a source file has to go.
             QDir().mkpath(Dest + QStringLiteral("/top.txt"));
             return MakeTask(QStringLiteral("errors"), [](TBackupForm &f) { f.DestMode = 2; });
         },
         false, [](const QString &) { return QStringLiteral("\n  Status: 1 error"); }},
        {5,
         [this] {
             // Unattended, the password question is answered Cancel.
             return MakeTask(QStringLiteral("crypt"), [](TBackupForm &f) {
                 f.cbEncrypt.SetChecked(true);
                 f.cbFixPwd.SetChecked(false);
             });
         },
         false, [](const QString &) { return QStringLiteral("\n  *** Canceled by user\n"); }},
        {6,
         [this] {
             const QString task = Tasks + QStringLiteral("/damaged.buj");
             WriteBytes(task, "\x7f"
                              "ELF binary data\x01\x02");
             return task;
         },
         true, [](const QString &ATask) { return QStringLiteral("\n  *** Invalid task configuration: ") + ATask + QLatin1Char('\n'); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Code);
        Dest = MakeTempDir(QStringLiteral("dest"));
        const QString task = c.Task();
        const QString errorsBefore = ErrorLog();
        const QString defaultBefore = DefaultLog();

        const TOutcome r = Force({task});
        EXPECT_EQ(r.Exit, c.Code) << r.Err.toStdString();
        const QString log = c.InDefaultLog ? DefaultLog().mid(defaultBefore.size()) : LogOf(task);
        const QString text = c.Text(task);
        EXPECT_TRUE(log.contains(text)) << text.toStdString() << "\n---\n" << log.toStdString();
        const QString errors = ErrorLog().mid(errorsBefore.size());
        if (c.Code == 0)
            EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
        else
            EXPECT_TRUE(HasLine(errors, QStringLiteral("  *** ") + TaskErrorText(c.Code))) << errors.toStdString();
    }
}

// Restore, verify and cleanup tasks have no runs in this program yet: an
// invalid configuration, logged with the task, never a success.
TEST_F(VelkorTest, ToolTaskKindsEndWithExitCode6)
{
    const struct {
        const char *Switch;
        const char *File;
        const char *Kind;
    } cases[] = {
        {"/restore", "x.rsj", "Restore task"},
        {"/verify", "x.vfj", "Verify task"},
        {"/clean", "x.cuj", "Cleanup task"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Switch);
        const QString before = DefaultLog();
        const TOutcome r = Velkor(Batch({QLatin1String(c.Switch), QLatin1String(c.File)}));
        EXPECT_EQ(r.Exit, 6) << r.Err.toStdString();
        const QString line =
            QStringLiteral("  *** %1: this task kind is not available: %2").arg(QLatin1String(c.Kind), QLatin1String(c.File));
        EXPECT_TRUE(HasLine(DefaultLog().mid(before.size()), line)) << DefaultLog().toStdString();
    }
}

// ---- Several tasks ----

// Both tasks run, in the order given, whether as separate arguments or as
// lines of an argument file.
TEST_F(VelkorTest, ForceRunsSeveralTasksInOrder)
{
    const QString order = Logs + QStringLiteral("/order.txt");
    const QString mark = Script(QStringLiteral("mark.sh"), "echo \"$2\" >> \"$1\"");
    const QString a = MakeTask(QStringLiteral("first"), Before(mark + QLatin1Char(' ') + order + QStringLiteral(" A")));
    const QString b = MakeTask(QStringLiteral("second"), Before(mark + QLatin1Char(' ') + order + QStringLiteral(" B")));
    const QString list = Settings + QStringLiteral("/list.txt");
    WriteBytes(list, a.toUtf8() + '\n' + b.toUtf8() + '\n');
    const struct {
        QStringList Args;
        QByteArray Order;
    } cases[] = {{{b, a}, "B\nA\n"}, {{QLatin1Char('@') + list}, "A\nB\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.join(QLatin1Char(' ')).toStdString());
        QFile::remove(order);
        const TOutcome r = Force(c.Args);
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        EXPECT_EQ(ReadIfExists(order), c.Order);
    }
    EXPECT_EQ(OkRuns(a), 2);
    EXPECT_EQ(OkRuns(b), 2);
}

// A comma inside one argument belongs to the file name (names may hold
// commas): "a,b" is one task, which does not exist.
TEST_F(VelkorTest, CommaInAnArgumentIsPartOfTheName)
{
    const QString a = MakeTask(QStringLiteral("first"));
    const QString b = MakeTask(QStringLiteral("second"));
    const QString joined = a + QLatin1Char(',') + b;
    const TOutcome r = Force({joined});
    EXPECT_EQ(r.Exit, 1) << r.Err.toStdString();
    EXPECT_TRUE(DefaultLog().contains(QStringLiteral(" - File not found: ") + joined + QLatin1Char('\n')))
        << DefaultLog().toStdString();
    EXPECT_EQ(OkRuns(a) + OkRuns(b), 0);
}

// A failed task does not end the list, nor does one whose password
// question was answered Cancel; the exit code is the last failed task's.
TEST_F(VelkorTest, ForceExitCodeAfterFailedTasks)
{
    const QString ok = MakeTask(QStringLiteral("ok"));
    const QString nodest = FailingTask(QStringLiteral("nodest"));
    const QString crypt = MakeTask(QStringLiteral("crypt"), [](TBackupForm &f) {
        f.cbEncrypt.SetChecked(true);
        f.cbFixPwd.SetChecked(false);
    });
    const QString gone = Root + QStringLiteral("/gone");
    QDir().mkpath(gone);
    const QString nosource = MakeTask(QStringLiteral("nosource"), [&](TBackupForm &f) {
        f.SelectedDirBox.Clear();
        AddSource(f, gone);
    });
    QDir(gone).removeRecursively();
    const struct {
        QStringList Tasks;
        int Exit;
        int OkRuns; // of "ok"
    } cases[] = {
        {{nodest, ok}, 2, 1},
        {{ok, nodest}, 2, 1},
        {{nosource, nodest}, 2, 0},
        {{nodest, nosource}, 3, 0},
        {{crypt, ok}, 5, 1},
    };
    int runs = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Tasks.join(QLatin1Char(' ')).toStdString());
        const TOutcome r = Force(c.Tasks);
        EXPECT_EQ(r.Exit, c.Exit) << r.Err.toStdString();
        runs += c.OkRuns;
        EXPECT_EQ(OkRuns(ok), runs);
    }
}

// "/parallel": one child instance per task, with the common switches, its
// number and its task; the parent's exit code is the first failed child's.
TEST_F(VelkorTest, ParallelRunsOneChildPerTask)
{
    const QString gate = Logs + QStringLiteral("/gate");
    // Holds the run until the gate file exists (30 s at most).
    const QString wait = Script(QStringLiteral("gate.sh"),
                                "i=0; while [ ! -e \"$1\" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done");
    const QString a = MakeTask(QStringLiteral("first"), Before(wait + QLatin1Char(' ') + gate));
    Dest = MakeTempDir(QStringLiteral("dest")); // the two run at the same time
    const QString b = MakeTask(QStringLiteral("second"), Before(wait + QLatin1Char(' ') + gate));

    auto p = Start(Batch({QStringLiteral("/force"), QStringLiteral("/parallel"), a, b}));
    // Each child is started through the shell: its command line is the
    // shell's argument (or the program's own once the shell has handed
    // over). Until a child has started its program, it still shows the
    // parent's command line: wait for both.
    QStringList lines;
    EXPECT_TRUE(WaitFor(
        [&] {
            lines.clear();
            for (const qint64 pid : ChildrenOf(p->processId())) {
                QStringList argv = CommandLineOf(pid);
                if (argv.size() == 3 && argv[1] == QStringLiteral("-c"))
                    argv = {argv[2]};
                lines << argv.join(QLatin1Char(' '));
            }
            return lines.size() >= 2 && lines.filter(QStringLiteral(" /xinst:")).size() == lines.size();
        },
        20000))
        << lines.join(QLatin1Char('\n')).toStdString();
    WriteBytes(gate, "open");
    const TOutcome r = Finish(*p);
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();

    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    lines.sort(); // the one started with /xinst:1 is not always found first
    if (lines[0].contains(QStringLiteral(" /xinst:2 ")))
        lines.swapItemsAt(0, 1);
    const QString expectedTask[] = {QStringLiteral(" /xinst:1 ") + a, QStringLiteral(" /xinst:2 ") + b};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        for (const QString &part : {QStringLiteral(" /force"), QStringLiteral(" /noaction"),
                                    QStringLiteral(" /ini:") + Ini, QStringLiteral(" /hide"),
                                    QStringLiteral(" /prompt:quiet"), expectedTask[i]})
            EXPECT_TRUE(lines[i].contains(part)) << part.toStdString();
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral(VELKOR_BIN) + QLatin1Char(' ')));
    }
    EXPECT_EQ(OkRuns(a), 1);
    EXPECT_EQ(OkRuns(b), 1);
}

TEST_F(VelkorTest, ParallelEndsWithTheFailedChildsCode)
{
    const QString ok = MakeTask(QStringLiteral("ok"));
    const QString failing = FailingTask(QStringLiteral("failing"));
    const TOutcome r = Force({ok, failing}, {QStringLiteral("/parallel")});
    EXPECT_EQ(r.Exit, 2) << r.Err.toStdString();
    EXPECT_EQ(OkRuns(ok), 1);
}

// ---- Command line ----

// An argument file gives exactly its switch and its task: comment lines,
// blank lines and remarks after ";" are no arguments.
TEST_F(VelkorTest, ArgumentFileGivesSwitchAndTask)
{
    const QString a = MakeTask(QStringLiteral("listed"));
    const QString b = MakeTask(QStringLiteral("commented"));
    const QString args = Settings + QStringLiteral("/args.txt");
    WriteBytes(args, "; the nightly backup\n/force\n\n" + a.toUtf8() + " ; the remark\n;" + b.toUtf8() + "\n");
    const TOutcome r = Velkor(Batch({QLatin1Char('@') + args}));
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(OkRuns(a), 1) << LogOf(a).toStdString();
    EXPECT_EQ(OkRuns(b), 0);
}

// A missing argument file voids the whole command line: the start is an
// interactive one, which this program cannot show; nothing runs.
TEST_F(VelkorTest, MissingArgumentFileRunsNothing)
{
    const QString a = MakeTask(QStringLiteral("task"));
    const QString missing = Settings + QStringLiteral("/missing.txt");
    const TOutcome r = Velkor(Batch({QLatin1Char('@') + missing, QStringLiteral("/force"), a}));
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains(missing)) << r.Err.toStdString();
    EXPECT_TRUE(r.Err.contains(QStringLiteral("task windows are not available"))) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(TaskLog(a)));
    EXPECT_TRUE(DestView(Dest).empty());
}

// Switches may be cut to any leading part, start with "-" and differ in
// case; a task argument may start with "/" as an absolute path does.
TEST_F(VelkorTest, SwitchAbbreviations)
{
    const QString a = MakeTask(QStringLiteral("task"));
    const struct {
        QStringList Args;
        bool Runs;
        bool QuietEvent; // the start entry of a quiet start in the event log
    } cases[] = {
        {{QStringLiteral("/fo"), a}, true, true},
        {{QStringLiteral("/f"), a}, true, true},
        {{QStringLiteral("-force"), a}, true, true},
        {{QStringLiteral("/FORCE"), a}, true, true},
        {{QStringLiteral("/forced"), a}, false, false},
    };
    int runs = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.join(QLatin1Char(' ')).toStdString());
        QFile::remove(Events);
        const TOutcome r = Velkor(Batch(c.Args));
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        runs += c.Runs ? 1 : 0;
        EXPECT_EQ(OkRuns(a), runs);
        EXPECT_EQ(Read(Events).contains(QStringLiteral(" 0x4000000A: ") + a), c.QuietEvent) << Read(Events).toStdString();
    }

    // The interaction's value is cut too: "/prom:q" is quiet, "/prompt:w"
    // waits (no start entry).
    const struct {
        const char *Prompt;
        bool QuietEvent;
    } prompts[] = {{"/prom:q", true}, {"-PROMPT:qu", true}, {"/prompt:w", false}};
    for (const auto &c : prompts) {
        SCOPED_TRACE(c.Prompt);
        QFile::remove(Events);
        const TOutcome r = Velkor({QStringLiteral("/ini:") + Ini, QStringLiteral("/logdir:") + Logs,
                                   QStringLiteral("/force"), QLatin1String(c.Prompt), a});
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        EXPECT_EQ(Read(Events).contains(QStringLiteral(" 0x4000000A: ") + a), c.QuietEvent) << Read(Events).toStdString();
    }
}

// ---- Settings file and own schedules ----

// "#1" runs schedule entry 1; its run state goes to the settings file:
// the exit code always, the last run's date only after a good run.
TEST_F(VelkorTest, ForceOwnScheduleEntryUpdatesItsState)
{
    const struct {
        const char *Label;
        bool Ok;
    } cases[] = {{"ok", true}, {"failing", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        Dest = MakeTempDir(QStringLiteral("dest"));
        const QString name = QStringLiteral("entry-") + QLatin1String(c.Label);
        const QString task = c.Ok ? MakeTask(name) : FailingTask(name);
        WriteScheduleIni(Ini, task);
        const QString dayBefore = QDate::currentDate().toString(Qt::ISODate);
        const TOutcome r = Force({QStringLiteral("#1")});
        const QString dayAfter = QDate::currentDate().toString(Qt::ISODate);
        EXPECT_EQ(r.Exit, c.Ok ? 0 : 2) << r.Err.toStdString();
        EXPECT_EQ(IniValue(Ini, QStringLiteral("AutoTask0"), QStringLiteral("ErrorStatus")),
                  c.Ok ? QStringLiteral("0") : QStringLiteral("2"));
        const QString last = IniValue(Ini, QStringLiteral("AutoTask0"), QStringLiteral("LastDate"));
        if (c.Ok)
            EXPECT_TRUE(last.endsWith(dayBefore) || last.endsWith(dayAfter))
                << last.toStdString();
        else
            EXPECT_EQ(last, QStringLiteral("0"));
        EXPECT_EQ(OkRuns(task), c.Ok ? 1 : 0);
    }
}

// "/ini:" names the settings file: its schedule entries are read from it
// and their state is written into it, not into the default settings.
TEST_F(VelkorTest, IniSwitchKeepsSettingsInThatFile)
{
    const QString task = MakeTask(QStringLiteral("entry"));
    const QString own = MakeTempDir(QStringLiteral("own")) + QStringLiteral("/my.ini");
    WriteScheduleIni(own, task);
    const TOutcome r = Velkor({QStringLiteral("/prompt:quiet"), QStringLiteral("/ini:") + own,
                               QStringLiteral("/logdir:") + Logs, QStringLiteral("/force"), QStringLiteral("#1")});
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(OkRuns(task), 1);
    EXPECT_EQ(IniValue(own, QStringLiteral("AutoTask0"), QStringLiteral("ErrorStatus")), QStringLiteral("0"));
    EXPECT_NE(IniValue(own, QStringLiteral("AutoTask0"), QStringLiteral("LastDate")), QStringLiteral("<none>"));
    QDirIterator it(Config, {QStringLiteral("*.ini")}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(it.hasNext()) << it.next().toStdString();
}

// "/portable": settings, tasks and logs in the program's folder (a copy of
// the program, so the build folder stays untouched).
TEST_F(VelkorTest, PortableUsesTheProgramFolder)
{
    const QString folder = MakeTempDir(QStringLiteral("portable"));
    const QString exe = folder + QStringLiteral("/Velkor");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELKOR_BIN), exe));
    const QString task = MakeTask(QStringLiteral("entry"));
    WriteScheduleIni(folder + QStringLiteral("/Velkor.ini"), task);

    auto p = Start({QStringLiteral("/portable"), QStringLiteral("/prompt:quiet"), QStringLiteral("/force"),
                    QStringLiteral("#1")},
                   true, exe);
    const TOutcome r = Finish(*p);
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(IniValue(folder + QStringLiteral("/Velkor.ini"), QStringLiteral("AutoTask0"), QStringLiteral("ErrorStatus")),
              QStringLiteral("0"));
    const QString log = Read(folder + QStringLiteral("/logs/entry.log"));
    EXPECT_EQ(CountLinesStarting(log, QStringLiteral("  Status: OK - Elapsed time: ")), 1) << log.toStdString();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/tasks")).isDir());
    QDirIterator it(Config, {QStringLiteral("*.ini")}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(it.hasNext()) << it.next().toStdString();
}

// ---- After-run actions ----

// The "end:" action is requested after the run, also after errors, unless
// "/erractions:" names the exit code (16: code 4).
TEST_F(VelkorTest, AfterRunActionRequests)
{
    const QString ok = MakeTask(QStringLiteral("ok"));
    Dest = MakeTempDir(QStringLiteral("dest"));
    QDir().mkpath(Dest + QStringLiteral("/top.txt"));
    const QString errors = MakeTask(QStringLiteral("errors"), [](TBackupForm &f) { f.DestMode = 2; });
    const struct {
        QStringList Switches;
        bool Ok;
        const char *Request; // nullptr: none
    } cases[] = {
        {{QStringLiteral("/end:shutdown")}, true, "PowerOff("},
        {{QStringLiteral("/end:poweroff")}, true, "PowerOff("},
        {{QStringLiteral("/end:standby")}, true, "Suspend("},
        {{QStringLiteral("/end:shutdown")}, false, "PowerOff("},
        {{QStringLiteral("/end:shutdown"), QStringLiteral("/erractions:16")}, false, nullptr},
        {{QStringLiteral("/end:shutdown"), QStringLiteral("/erractions:16")}, true, "PowerOff("},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.Switches.join(QLatin1Char(' ')) + (c.Ok ? QStringLiteral(" ok") : QStringLiteral(" errors")))
                         .toStdString());
        QFile::remove(Power);
        const TOutcome r = Force({c.Ok ? ok : errors}, c.Switches);
        EXPECT_EQ(r.Exit, c.Ok ? 0 : 4) << r.Err.toStdString();
        const QStringList requests = PowerRequests();
        if (c.Request) {
            ASSERT_EQ(requests.size(), 1) << requests.join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(requests[0].startsWith(QLatin1String(c.Request))) << requests[0].toStdString();
        } else {
            EXPECT_TRUE(requests.isEmpty()) << requests.join(QLatin1Char('\n')).toStdString();
        }
    }
}

// "/noaction" means no after-run action at all: an "end:" action given
// with it is not performed either.
TEST_F(VelkorTest, NoActionSwitchSuppressesTheEndAction)
{
    const QString ok = MakeTask(QStringLiteral("ok"));
    for (const char *end : {"/end:shutdown", "/end:standby"}) {
        SCOPED_TRACE(end);
        QFile::remove(Power);
        const TOutcome r = Force({ok}, {QLatin1String(end), QStringLiteral("/noaction")});
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        EXPECT_TRUE(PowerRequests().isEmpty()) << PowerRequests().join(QLatin1Char('\n')).toStdString();
    }
}

// ---- Single instance ----

class VelkorInstanceTest : public VelkorTest {
protected:
    void SetUp() override
    {
        VelkorTest::SetUp();
        // The default settings: no start delay, so the automatic start
        // runs 3 s after the program started.
        QDir().mkpath(Config + QStringLiteral("/Velkor6"));
        WriteBytes(Config + QStringLiteral("/Velkor6/Velkor.ini"), "[Config]\nStartup=0\n");
    }

    // A first instance that stays (automatic start, nothing scheduled),
    // listening in AFolder: it holds the instance lock.
    std::unique_ptr<QProcess> StartFirst(const QString &AFolder, bool AWithRuntimeDir)
    {
        auto first = Start({QStringLiteral("/auto"), QStringLiteral("/stay"), QStringLiteral("/prompt:quiet")},
                           AWithRuntimeDir);
        EXPECT_TRUE(WaitFor(
            [&] {
                return (LockHeld(AFolder + QStringLiteral("/instance.lock"))
                        && QFileInfo::exists(AFolder + QStringLiteral("/socket")))
                       || first->state() != QProcess::Running;
            },
            20000));
        return first;
    }

    // A second start with AFile ends with 0; the first instance, having no
    // windows, names the file on stderr (Err collects what it wrote).
    void HandOver(QProcess &AFirst, const QString &AFile, bool AWithRuntimeDir)
    {
        const TOutcome second = Velkor({QStringLiteral("/prompt:quiet"), AFile}, AWithRuntimeDir);
        EXPECT_EQ(second.Exit, 0) << second.Err.toStdString();
        const QByteArray text = AFile.toUtf8() + " This version of Velkor runs tasks from the command line only";
        EXPECT_TRUE(WaitFor(
            [&] {
                AFirst.waitForReadyRead(50);
                Err += AFirst.readAllStandardError();
                return Err.contains(text);
            },
            15000))
            << text.toStdString() << "\n---\n" << Err.toStdString();
    }

    // The automatic start has run.
    bool Dispatched() const { return Read(Events).contains(QStringLiteral(" 0x4000000B: ")); }

    void Stop(QProcess &AFirst)
    {
        ASSERT_EQ(AFirst.state(), QProcess::Running) << "the first instance must stay";
        const qint64 pid = AFirst.processId();
        ASSERT_GT(pid, 0);
        ::kill(pid_t(pid), SIGTERM);
        EXPECT_TRUE(AFirst.waitForFinished(10000));
    }

    QByteArray Err;
};

// A cleanup task handed over while the first instance still starts waits
// for its automatic start; a backup task handed over afterwards is taken
// at once. Neither runs.
TEST_F(VelkorInstanceTest, SecondStartHandsTheTaskFileOver)
{
    const QString folder = Runtime + QStringLiteral("/velkor");
    auto first = StartFirst(folder, true);
    ASSERT_EQ(first->state(), QProcess::Running) << Normalized(first->readAllStandardError()).toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/instance.lock")));
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther),
              QFile::Permissions());

    const QString cleanup = Tasks + QStringLiteral("/tidy.cuj");
    WriteBytes(cleanup, "[Global]\n");
    HandOver(*first, cleanup, true);
    EXPECT_TRUE(WaitFor([&] { return Dispatched(); }, 20000));
    const QString backup = MakeTask(QStringLiteral("nightly"));
    HandOver(*first, backup, true);
    Stop(*first);
    EXPECT_FALSE(QFileInfo::exists(TaskLog(backup))) << "a handed-over task never runs";
}

// Without XDG_RUNTIME_DIR the private folder is /tmp/velkor-<uid>; it is
// removed afterwards only when this test made it.
TEST_F(VelkorInstanceTest, WithoutRuntimeDirTheFolderIsInTmp)
{
    const QString folder = QStringLiteral("/tmp/velkor-%1").arg(getuid());
    const bool existed = QFileInfo::exists(folder);
    if (LockHeld(folder + QStringLiteral("/instance.lock")))
        GTEST_SKIP() << "another instance of this user listens in " << folder.toStdString();
    auto first = StartFirst(folder, false);
    if (first->state() != QProcess::Running) {
        const TOutcome o = Finish(*first);
        GTEST_SKIP() << "another instance of this user listens in " << folder.toStdString() << ": " << o.Exit;
    }
    HandOver(*first, MakeTask(QStringLiteral("nightly")), false);
    Stop(*first);
    if (!existed)
        QDir(folder).removeRecursively();
}

} // namespace
