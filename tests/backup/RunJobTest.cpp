// Whole backup runs started like a schedule or the command line starts them
// (TBackupForm::DoBackupJob on a fresh form, unattended): what each method
// and mode writes, exit codes with their log lines, cycle folders of
// alternating schedules, destination and zip-name placeholders, security
// copies of archives, the time-stamp file, the error log, and a run killed
// in the middle.
#include "backup/RunJobFixture.h"
#include "backup/TimeStampFile.h"
#include "core/DateTime.h"
#include "core/Destinations.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"

#include <QElapsedTimer>
#include <QThread>

#include <sys/xattr.h>

#include <tuple>

using namespace vl;
using namespace vl::test;

namespace {

const char *const kModeNames[] = {"Update", "Full (new)", "Differential", "Incremental"};

QString CopiedLine(int ACount)
{
    return QStringLiteral("    => Status: ")
           + (ACount == 0   ? QStringLiteral("No files copied")
              : ACount == 1 ? QStringLiteral("1 file copied")
                            : QStringLiteral("%1 files copied").arg(ACount));
}

void EmptyFolder(const QString &ADir)
{
    ASSERT_TRUE(QDir(ADir).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(ADir));
}

QStringList Keys(const TTree &ATree)
{
    QStringList out;
    for (const auto &kv : ATree)
        out << kv.first;
    return out;
}

// ---- Each method with each mode ----

class RunMethodModeTest : public RunJobTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

// A full run first (it resets the archive bits), then one file changed and
// one added: the run in the mode under test copies what the mode selects,
// and a second run without changes copies what is still due. Separate
// files leave the destination equal to the source after every run; zip
// methods write new archives that hold just the files of that run.
TEST_P(RunMethodModeTest, CopiesWhatTheModeSelects)
{
    const auto [method, mode] = GetParam();
    if (mode >= 2 && !UserXattrsWork(Src))
        GTEST_SKIP() << "user xattrs (the archive bit) do not work in " << Src.toStdString();
    const bool zip = method > 3;
    TTree tree = SampleTree();
    WriteTree(Src, tree);
    AgeFiles(Src, 3600);

    QString driveId;
    const auto task = [&](int AMode) {
        return MakeTask(QStringLiteral("job"), [&, AMode](TBackupForm &f) {
            f.DestMode = method;
            if (method == 5)
                f.ZipNameEdit.SetText(QStringLiteral("<root directory>-Data"));
            SetBackupMode(f, AMode);
            driveId = f.DriveId;
        });
    };
    const QString fullTask = task(1);
    // Where the source's tree lands below Dest (zip entries included).
    static const int kLayout[] = {0, 1, 2, 3, 1, 2, 0, 1};
    const QString base = QDir(Dest).relativeFilePath(BuildTargetDir(kLayout[method], driveId, Dest, Src));
    const QString prefix = base == QLatin1String(".") ? QString() : base;
    const QString zipName = !zip          ? QString()
                            : method == 5 ? LastPathElement(Src) + QStringLiteral("-Data.zip")
                                          : QStringLiteral("Data.zip");

    const TRun full = Run(fullTask);
    EXPECT_EQ(full.Exit, 0) << full.Log.toStdString();
    ASSERT_EQ(Describe(DestView(Dest, zipName)), Describe(Prefixed(prefix, tree))) << full.Log.toStdString();
    EXPECT_TRUE(HasLine(full.Log, CopiedLine(4))) << full.Log.toStdString();

    tree[QStringLiteral("a/one.txt")] = QByteArray(1500, 'O');
    tree[QStringLiteral("c/new.txt")] = "new\n";
    const QStringList changed{QStringLiteral("a/one.txt"), QStringLiteral("c/new.txt")};
    WriteTree(Src, Subset(tree, changed));

    // Expected files of the run after the change and of the one after it.
    const QStringList all = Keys(tree);
    const QStringList none;
    const QStringList expected[2] = {mode == 1 || (zip && mode == 0) ? all : changed, mode == 1 || (zip && mode == 0)
                                                                                          ? all
                                                                                      : mode == 2 ? changed
                                                                                                  : none};
    const QString taskFile = task(mode);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "run after the change" : "run without changes");
        if (zip)
            EmptyFolder(Dest);
        const TRun r = Run(taskFile);
        EXPECT_EQ(r.Exit, 0);
        EXPECT_EQ(r.Result, TBuResult::brOK);
        EXPECT_TRUE(HasLine(r.Log, CopiedLine(int(expected[i].size())))) << r.Log.toStdString();
        EXPECT_EQ(
            LineStarting(r.Log, QStringLiteral("  Backup mode: ")),
            QStringLiteral("  Backup mode: ")
                + (zip ? QStringLiteral("Create new zip archives")
                       : QString::fromLatin1(kModeNames[mode]) + QStringLiteral(" to \"") + Dest + QLatin1Char('"')));
        EXPECT_EQ(Describe(DestView(Dest, zipName)), Describe(Prefixed(prefix, zip ? Subset(tree, expected[i]) : tree)))
            << r.Log.toStdString();
    }
}

std::string MethodModeName(const ::testing::TestParamInfo<std::tuple<int, int>> &AInfo)
{
    static const char *const kModes[] = {"Update", "Full", "Differential", "Incremental"};
    return "Method" + std::to_string(std::get<0>(AInfo.param)) + "_" + kModes[std::get<1>(AInfo.param)];
}

INSTANTIATE_TEST_SUITE_P(AllMethods, RunMethodModeTest,
                         ::testing::Combine(::testing::Range(0, 8), ::testing::Range(0, 4)), MethodModeName);

// ---- Exit codes ----

TEST_F(RunJobTest, UnreadableTaskFileEndsWithExitCode6)
{
    WriteTree(Src, SampleTree());
    const QByteArray saved = ReadBytes(MakeTask(QStringLiteral("model")));
    const struct {
        const char *Label;
        QByteArray Content;
    } cases[] = {
        {"cut in half", saved.left(saved.size() / 2)},
        {"not a task file", "\x7f"
                            "ELF binary data\x01\x02\x00\x03"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        const QString task = Tasks + QStringLiteral("/damaged.buj");
        WriteBytes(task, c.Content);
        const QByteArray before = ReadIfExists(ProgramLogName);
        const TRun r = Run(task);
        EXPECT_EQ(r.Result, TBuResult::brError);
        EXPECT_EQ(r.Exit, 6);
        // The task names no log before it is read: the default log.
        const QString log = QString::fromUtf8(ReadIfExists(ProgramLogName).mid(before.size()));
        EXPECT_TRUE(HasLine(log.split(QStringLiteral("\r\n")).join(QLatin1Char('\n')),
                            QStringLiteral("  *** Invalid task configuration: ") + task))
            << log.toStdString();
        EXPECT_TRUE(ErrorLog().contains(TaskErrorText(6))) << ErrorLog().toStdString();
        EXPECT_EQ(ReadBytes(task), c.Content) << "a damaged task file is never rewritten";
        EXPECT_TRUE(DestView(Dest).empty());
    }
}

TEST_F(RunJobTest, TaskWithoutSourceOrDestinationEndsWithExitCode6)
{
    WriteTree(Src, SampleTree());
    const struct {
        const char *Label;
        std::function<void(TBackupForm &)> Setup;
    } cases[] = {
        {"no source entry", [](TBackupForm &f) { f.SelectedDirBox.Clear(); }},
        {"empty destination", [](TBackupForm &f) { f.BuZiel.SetText(QString()); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        const QString task = MakeTask(QStringLiteral("unconfigured"), c.Setup);
        const QByteArray before = ReadIfExists(ProgramLogName);
        const TRun r = Run(task);
        EXPECT_EQ(r.Result, TBuResult::brError);
        EXPECT_EQ(r.Exit, 6);
        // A task saved without sources keeps no log settings: it logs into
        // the default log.
        const QString log = r.Log
                            + QString::fromUtf8(ReadIfExists(ProgramLogName).mid(before.size()))
                                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        EXPECT_TRUE(HasLine(log, QStringLiteral("  *** Invalid task configuration: ") + task)) << log.toStdString();
        EXPECT_TRUE(DestView(Dest).empty());
        EXPECT_TRUE(ErrorLog().contains(TaskErrorText(6))) << ErrorLog().toStdString();
    }
}

TEST_F(RunJobTest, MissingSourceEndsWithExitCode3AndBacksUpTheOthers)
{
    const TTree tree = SampleTree();
    WriteTree(Src, tree);
    const QString gone = MakeTempDir(QStringLiteral("gone"));
    const QString task = MakeTask(QStringLiteral("missing"), [&](TBackupForm &f) {
        AddSource(f, gone);
        f.DestMode = 2;
    });
    ASSERT_TRUE(QDir(gone).removeRecursively());

    const TRun r = Run(task);
    EXPECT_EQ(r.Exit, 3);
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Directory \"%1/\" not found!").arg(gone))) << r.Log.toStdString();
    EXPECT_EQ(Describe(DestView(Dest)), Describe(tree)) << r.Log.toStdString();
    EXPECT_TRUE(ErrorLog().contains(TaskErrorText(3))) << ErrorLog().toStdString();
}

TEST_F(RunJobTest, UnavailableDestinationEndsWithExitCode2)
{
    WriteTree(Src, SampleTree());
    const QString plain = Dest + QStringLiteral("/plain");
    WriteBytes(plain, "a file, not a folder");
    const QString target = plain + QStringLiteral("/backup");
    const QString task = MakeTask(QStringLiteral("nodest"), [&](TBackupForm &f) { f.BuZiel.SetText(target); });

    const TRun r = Run(task);
    EXPECT_EQ(r.Exit, 2);
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Directory \"%1\" not available for backup!").arg(target)))
        << r.Log.toStdString();
    EXPECT_EQ(ReadBytes(plain), QByteArray("a file, not a folder"));
    EXPECT_TRUE(ErrorLog().contains(TaskErrorText(2))) << ErrorLog().toStdString();
}

// A folder at the destination where a source file has to go: that file
// fails, the others are copied.
TEST_F(RunJobTest, CopyErrorEndsWithExitCode4)
{
    TTree tree = SampleTree();
    WriteTree(Src, tree);
    ASSERT_TRUE(QDir().mkpath(Dest + QStringLiteral("/top.txt")));
    WriteBytes(Dest + QStringLiteral("/top.txt/inside.txt"), "in the way\n");
    const QString task = MakeTask(QStringLiteral("errors"), [](TBackupForm &f) { f.DestMode = 2; });

    const TRun r = Run(task);
    EXPECT_EQ(r.Exit, 4);
    const QString status = LineStarting(r.Log, QStringLiteral("  Status: "));
    EXPECT_TRUE(status.startsWith(QStringLiteral("  Status: 1 error"))
                && status.contains(QStringLiteral(" during backup - Elapsed time: ")))
        << r.Log.toStdString();
    tree.erase(QStringLiteral("top.txt"));
    tree[QStringLiteral("top.txt/inside.txt")] = "in the way\n";
    EXPECT_EQ(Describe(DestView(Dest)), Describe(tree)) << r.Log.toStdString();
    EXPECT_TRUE(ErrorLog().contains(TaskErrorText(4))) << ErrorLog().toStdString();
}

// Unattended without a display the password question is answered Cancel.
TEST_F(RunJobTest, EncryptionWithoutStoredPasswordEndsWithExitCode5)
{
    WriteTree(Src, SampleTree());
    const QString task = MakeTask(QStringLiteral("crypt"), [](TBackupForm &f) {
        f.cbEncrypt.SetChecked(true);
        f.cbFixPwd.SetChecked(false);
    });

    const TRun r = Run(task);
    EXPECT_EQ(r.Result, TBuResult::brError);
    EXPECT_EQ(r.Exit, 5);
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Canceled by user"))) << r.Log.toStdString();
    EXPECT_TRUE(DestView(Dest).empty());
}

// A user xattr larger than the destination's file system takes: the data
// is copied, the extended attributes are not - a warning, exit code 0.
TEST_F(RunJobTest, WarningsOnlyKeepExitCode0)
{
    QByteArray shmTemplate("/dev/shm/velkor-runjob-XXXXXX");
    if (!mkdtemp(shmTemplate.data()))
        GTEST_SKIP() << "no /dev/shm to hold a source with large xattrs";
    const QString shm = QString::fromUtf8(shmTemplate);
    struct TRemove {
        QString Dir;
        ~TRemove() { QDir(Dir).removeRecursively(); }
    } remove{shm};
    const TTree tree{{QStringLiteral("tagged.txt"), "tagged\n"}, {QStringLiteral("plain.txt"), "plain\n"}};
    WriteTree(shm, tree);
    const QByteArray big(10000, 'x');
    if (setxattr((shm + QStringLiteral("/tagged.txt")).toUtf8().constData(), "user.big", big.constData(),
                 size_t(big.size()), 0)
        != 0)
        GTEST_SKIP() << "/dev/shm takes no 10000-byte user xattr";
    WriteBytes(Dest + QStringLiteral("/probe"), "p");
    if (setxattr((Dest + QStringLiteral("/probe")).toUtf8().constData(), "user.big", big.constData(),
                 size_t(big.size()), 0)
        == 0)
        GTEST_SKIP() << "the destination takes a 10000-byte user xattr: nothing "
                        "provokes a warning";
    QFile::remove(Dest + QStringLiteral("/probe"));
    const QString task = MakeTask(QStringLiteral("warnings"), [&](TBackupForm &f) {
        f.SelectedDirBox.Clear();
        AddSource(f, shm);
        f.DestMode = 2;
        f.cbAltStreams.SetChecked(true);
    });

    const TRun r = Run(task);
    EXPECT_EQ(r.Exit, 0);
    EXPECT_EQ(r.Result, TBuResult::brOK);
    EXPECT_TRUE(LineStarting(r.Log, QStringLiteral("  Status: "))
                    .startsWith(QStringLiteral("  Status: 1 warning during backup - ")))
        << r.Log.toStdString();
    EXPECT_EQ(Describe(DestView(Dest)), Describe(tree));
    EXPECT_TRUE(ErrorLog().isEmpty()) << ErrorLog().toStdString();
}

TEST_F(RunJobTest, SuccessfulRunEndsWithExitCode0AndNoErrorLog)
{
    const TTree tree = SampleTree();
    WriteTree(Src, tree);
    const TRun r = Run(MakeTask(QStringLiteral("ok"), [](TBackupForm &f) { f.DestMode = 2; }));
    EXPECT_EQ(r.Exit, 0);
    EXPECT_EQ(r.Result, TBuResult::brOK);
    EXPECT_TRUE(
        LineStarting(r.Log, QStringLiteral("  Status: ")).startsWith(QStringLiteral("  Status: OK - Elapsed time: ")))
        << r.Log.toStdString();
    EXPECT_EQ(Describe(DestView(Dest)), Describe(tree));
    EXPECT_FALSE(QFileInfo::exists(Logs + QStringLiteral("/VlErrors.log")));
}

// ---- Alternating schedules ----

// The full step of a weekly cycle of 126 steps (step 7, the cycle's full
// one at FullZyk 6) and then the differential step 9 of a 14-day cycle:
// each writes into its own cycle folder; the differential one holds what
// changed since the full one.
TEST_F(RunJobTest, AlternatingScheduleWritesIntoCycleFolders)
{
    TTree tree = SampleTree();
    WriteTree(Src, tree);
    AgeFiles(Src, 3600);
    const QString task = MakeTask(QStringLiteral("cycle"), [](TBackupForm &f) { f.DestMode = 2; });
    TAutoTask &weekly = Main.AutoTasks[0];
    weekly.TaskName = QStringLiteral("Weekly");
    weekly.TaskPath = task;
    weekly.BuProcess = TAutoStart::asByRequest;
    weekly.SchedProps = TSchedule{2, 0, 7, 0, 126, 6, TSchedMode::smDiff};
    TAutoTask &daily = Main.AutoTasks[2];
    daily.TaskName = QStringLiteral("Daily");
    daily.TaskPath = task;
    daily.BuProcess = TAutoStart::asByRequest;
    daily.SchedProps = TSchedule{1, 0, 9, 0, 14, 0, TSchedMode::smDiff};

    const TRun full = Run(task, 1);
    EXPECT_EQ(full.Exit, 0);
    EXPECT_TRUE(full.Log.contains(QStringLiteral(" - Automatic backup 1: Weekly (F)\n"))) << full.Log.toStdString();
    // The full step names the mode the task shows ("Update" here).
    EXPECT_TRUE(LineStarting(full.Log, QStringLiteral("  Backup mode: "))
                    .endsWith(QStringLiteral(" to \"%1/BW007F\"").arg(Dest)))
        << full.Log.toStdString();
    EXPECT_EQ(Describe(DestView(Dest)), Describe(Prefixed(QStringLiteral("BW007F"), tree)));
    EXPECT_EQ(weekly.SchedProps.LastZyk, 7);
    EXPECT_GT(weekly.LastTime, 0);

    tree[QStringLiteral("a/one.txt")] = "changed\n";
    tree[QStringLiteral("c/new.txt")] = "new\n";
    const QStringList changed{QStringLiteral("a/one.txt"), QStringLiteral("c/new.txt")};
    WriteTree(Src, Subset(tree, changed));
    const TTree before = DestView(Dest);

    const TRun diff = Run(task, 3);
    EXPECT_EQ(diff.Exit, 0);
    EXPECT_TRUE(diff.Log.contains(QStringLiteral(" - Automatic backup 3: Daily (D)\n"))) << diff.Log.toStdString();
    EXPECT_TRUE(HasLine(diff.Log, QStringLiteral("  Backup mode: Differential to \"%1/BD09D\"").arg(Dest)))
        << diff.Log.toStdString();
    TTree expected = before;
    // Without user xattrs every file keeps its archive bit.
    for (const auto &[path, data] : UserXattrsWork(Src) ? Subset(tree, changed) : tree)
        expected[QStringLiteral("BD09D/") + path] = data;
    EXPECT_EQ(Describe(DestView(Dest)), Describe(expected)) << diff.Log.toStdString();
    EXPECT_EQ(daily.SchedProps.LastZyk, 9);
}

// ---- Placeholders and names ----

TEST_F(RunJobTest, ModePlaceholderInDestinationNamesTheMode)
{
    const TTree tree = SampleTree();
    WriteTree(Src, tree);
    const char *const words[] = {"Updt", "Full", "Diff", "Incr"};
    // Modes that reset the archive bit last: the others still find it set.
    for (const int mode : {0, 2, 3, 1}) {
        SCOPED_TRACE(words[mode]);
        const QString task = MakeTask(QStringLiteral("placeholder"), [&](TBackupForm &f) {
            f.BuZiel.SetText(Dest + QStringLiteral("/%MODE%"));
            f.DestMode = 2;
            SetBackupMode(f, mode);
        });
        const TRun r = Run(task);
        EXPECT_EQ(r.Exit, 0) << r.Log.toStdString();
        EXPECT_EQ(Describe(DestView(Dest + QLatin1Char('/') + QLatin1String(words[mode]))), Describe(tree));
    }
    EXPECT_EQ(
        QDir(Dest).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList{QStringLiteral("Diff"), QStringLiteral("Full"), QStringLiteral("Incr"), QStringLiteral("Updt")}));
}

// The zip name pattern's placeholders are expanded; with security copies
// the archive of the previous run is kept as "<name>.bak.zip".
TEST_F(RunJobTest, ZipArchiveNamedByPatternKeepsPreviousAsSecurityCopy)
{
    TTree tree = SampleTree();
    WriteTree(Src, tree);
    const QString task = MakeTask(QStringLiteral("zipped"), [](TBackupForm &f) {
        f.DestMode = 4;
        f.ZipNameEdit.SetText(QStringLiteral("Data-%date%"));
        f.KeepBakCB.SetChecked(true);
    });
    const QString inZip = Src.mid(1) + QLatin1Char('/');

    const TRun first = Run(task);
    EXPECT_EQ(first.Exit, 0) << first.Log.toStdString();
    const QStringList zips = QDir(Dest).entryList(QDir::Files);
    ASSERT_EQ(zips.size(), 1) << zips.join(QLatin1Char(' ')).toStdString();
    const QString name = zips.first();
    EXPECT_TRUE(name.startsWith(QStringLiteral("Data-")) && name.endsWith(QStringLiteral(".zip"))
                && !name.contains(QLatin1Char('%')) && name.contains(QString::number(QDate::currentDate().year())))
        << name.toStdString();
    EXPECT_EQ(Describe(DestView(Dest, name)), Describe(Prefixed(Src.mid(1), tree)));

    const QByteArray old = tree[QStringLiteral("top.txt")];
    tree[QStringLiteral("top.txt")] = "second version\n";
    WriteTree(Src, Subset(tree, {QStringLiteral("top.txt")}));
    const TRun second = Run(task);
    EXPECT_EQ(second.Exit, 0) << second.Log.toStdString();
    const QString copy = InsertNameSuffix(name, QStringLiteral(".bak"));
    EXPECT_EQ(QDir(Dest).entryList(QDir::Files), (QStringList{copy, name}));
    EXPECT_EQ(ZipEntries(Dest + QLatin1Char('/') + name)[inZip + QStringLiteral("top.txt")],
              QByteArray("second version\n"));
    EXPECT_EQ(ZipEntries(Dest + QLatin1Char('/') + copy)[inZip + QStringLiteral("top.txt")], old);
}

TEST_F(RunJobTest, TimeStampFileWrittenWhenAskedOrWhenClearing)
{
    WriteTree(Src, SampleTree());
    const struct {
        const char *Label;
        bool WriteTs;
        int Mode;
        bool Expected;
    } cases[] = {
        {"update", false, 0, false},
        {"update with time-stamp file", true, 0, true},
        {"full (clears the destination)", false, 1, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        Dest = MakeTempDir(QStringLiteral("dest"));
        const QString task = MakeTask(QStringLiteral("stamp"), [&](TBackupForm &f) {
            f.WriteTsFile = c.WriteTs;
            SetBackupMode(f, c.Mode);
        });
        const TDateTime start = Now();
        const TRun r = Run(task);
        const TDateTime end = Now();
        EXPECT_EQ(r.Exit, 0) << r.Log.toStdString();
        EXPECT_EQ(QFileInfo::exists(Dest + QLatin1Char('/') + QLatin1String(kTimeStampFileName)), c.Expected);
        if (c.Expected) {
            const TDateTime stamp = ReadTimeStampFile(Dest);
            EXPECT_GE(stamp, start - 2.0 / 86400) << FormatTimeStamp(stamp).toStdString();
            EXPECT_LE(stamp, end + 2.0 / 86400) << FormatTimeStamp(stamp).toStdString();
        }
    }
}

// ---- A run killed in the middle ----

const char kChildTask[] = "VELKOR_RUNJOB_CHILD_TASK";
const char kChildSettings[] = "VELKOR_RUNJOB_CHILD_SETTINGS";

// Runs the task it is given in the environment; only the test below starts
// it, in a child process that it kills.
TEST_F(RunJobTest, KilledRunChild)
{
    const QString task = qEnvironmentVariable(kChildTask);
    if (task.isEmpty())
        GTEST_SKIP() << "the child process of KilledRunLeavesNoPartialFileAndNoLock";
    SettingsFolder = qEnvironmentVariable(kChildSettings);
    TBackupForm form;
    form.DoBackupJob(0, TInteraction::iaQuiet, TThreadPriority::tpNormal, task);
}

TEST_F(RunJobTest, KilledRunLeavesNoPartialFileAndNoLock)
{
    TTree tree = SampleTree();
    // Several copy buffers (of megabytes each): the speed limit holds the
    // copy between them, so it is still running when it is killed.
    QByteArray big(32 * 1024 * 1024, '\0');
    char *bytes = big.data();
    for (qsizetype i = 0; i < big.size(); ++i)
        bytes[i] = char((uint32_t(i) * 2654435761u) >> 24);
    tree[QStringLiteral("a/big.bin")] = big;
    WriteTree(Src, tree);
    const QString task = MakeTask(QStringLiteral("killed"), [](TBackupForm &f) { f.MaxRate = 256; });

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildTask), task);
    env.insert(QString::fromLatin1(kChildSettings), SettingsFolder);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--gtest_filter=RunJobTest.KilledRunChild")});
    ASSERT_TRUE(child.waitForStarted());
    // Killed once the big file is being written (after the small ones).
    QElapsedTimer timer;
    timer.start();
    bool writing = false;
    while (!writing && timer.elapsed() < 10000 && child.state() == QProcess::Running) {
        QThread::msleep(20);
        QDirIterator it(Dest, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            if (it.next().contains(QStringLiteral("big")) && it.fileInfo().size() > 64 * 1024)
                writing = true;
    }
    const bool running = child.state() == QProcess::Running;
    const qint64 seen = timer.elapsed();
    child.kill();
    child.waitForFinished();
    ASSERT_TRUE(writing) << "the copy of the big file never showed up at the destination";
    ASSERT_TRUE(running) << "the run ended by itself before it was killed (after " << seen << " ms)";

    const QString base = QDir(Dest).relativeFilePath(BuildTargetDir(1, QString(), Dest, Src));
    for (const auto &[path, data] : DestView(Dest)) {
        if (!path.startsWith(base + QLatin1Char('/')))
            continue;
        const auto source = tree.find(path.mid(base.size() + 1));
        if (source != tree.end()) {
            EXPECT_TRUE(data == source->second)
                << path.toStdString() << " is under its final name with other bytes than its source";
        }
    }

    EXPECT_TRUE(LockFileExists(SettingsFolder)) << "the killed run held no lock";

    // The next run, at full speed, completes the backup and removes the
    // lock the killed one left.
    const QString fast = MakeTask(QStringLiteral("killed"));
    const TRun r = Run(fast);
    EXPECT_EQ(r.Exit, 0) << r.Log.toStdString();
    EXPECT_TRUE(HasLine(r.Log, QStringLiteral("  *** Lock file of an interrupted run was removed: ") + task))
        << r.Log.toStdString();
    EXPECT_EQ(Describe(DestView(Dest)), Describe(Prefixed(base, tree))) << r.Log.toStdString();
}

} // namespace
