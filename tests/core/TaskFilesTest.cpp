#include "core/TaskFiles.h"

#include "FakeVolumes.h"
#include "common/QtPrinters.h"
#include "common/TestUtils.h"
#include "core/DateTime.h"
#include "core/FormatSettings.h"
#include "core/Placeholders.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"

#include <QList>
#include <QStringList>

#include <gtest/gtest.h>

#include <utility>

using namespace vl;

namespace {

// Task files in a temporary task folder, the log folder left unset (so logs
// go to the settings folder), the date fixed at 30 Dec 2024 and a made-up
// machine with the stick "USB" at /media/ann/USB.
class TaskFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = {TaskFolder, ProgramLogName, SettingsFolder, VlSettings.Directories.LogDir};
        FDir = test::MakeTempDir(QStringLiteral("tasks"));
        TaskFolder = FDir;
        SettingsFolder = FDir + QStringLiteral("/settings");
        ProgramLogName = QStringLiteral("/logs/Velkor.log");
        VlSettings.Directories.LogDir.clear();
        SetPlaceholderClock([] { return EncodeDate(2024, 12, 30) + 0.5; });
        TFormatSettings fs = TFormatSettings::Invariant();
        fs.ThousandSeparator = QLatin1Char(',');
        SetFormatSettings(fs);
    }
    void TearDown() override
    {
        SetPlaceholderClock({});
        SetFormatSettings(TFormatSettings::Invariant());
        TaskFolder = FSaved[0];
        ProgramLogName = FSaved[1];
        SettingsFolder = FSaved[2];
        VlSettings.Directories.LogDir = FSaved[3];
    }

    QString WriteTask(const QString &name, const QByteArray &ini)
    {
        const QString path = FDir + QLatin1Char('/') + name;
        test::WriteBytes(path, ini);
        return path;
    }

    QString Logs(const QString &name) const { return SettingsFolder + QLatin1Char('/') + name; }

    test::TFakeVolumes FVolumes;
    QString FDir;
    QStringList FSaved;
};

TEST_F(TaskFilesTest, LogFileOfABackupTask)
{
    const struct {
        QByteArray global;
        QString log;
    } cases[] = {
        {"LogName=%TaskName%.log\n", Logs(QStringLiteral("Docs.log"))},
        {"LogName=/var/log/%taskname%-%date%.log\n", QStringLiteral("/var/log/Docs-2024-12-30.log")},
        {"LogName=\n", QStringLiteral("/logs/Velkor.log")},
        // A destination named by a label that is mounted is resolved, and its
        // placeholders are expanded with the run counter.
        {"LogName=%dest%/%taskname%.log\nDestination=:usb:/Backup/%v#3%\nBackupCount=4\n",
         QStringLiteral("/media/ann/USB/Backup/1/Docs.log")},
        // A label that is not mounted stays in the name, which counts as
        // absolute.
        {"LogName=%dest%/log.txt\nDestination=:GONE:/Backup\n", QStringLiteral(":GONE:/Backup/log.txt")},
    };
    for (const auto &c : cases) {
        const QString task = WriteTask(QStringLiteral("Docs.buj"), "[Global]\n" + c.global);
        EXPECT_EQ(GetTaskLogFileName(task), c.log) << c.global.constData();
    }
    EXPECT_EQ(GetTaskLogFileName(FDir + QStringLiteral("/missing.buj")), QStringLiteral("/logs/Velkor.log"));
    EXPECT_EQ(GetTaskLogFileName(QString()), QStringLiteral("/logs/Velkor.log"));

    const QString restore = WriteTask(QStringLiteral("Old.rsj"), "[Restore]\nLogName=%taskname%-%yaw%.log\n");
    EXPECT_EQ(ReadLogFileName(QStringLiteral("Restore"), restore), Logs(QStringLiteral("Old-2025-01.log")));
    EXPECT_EQ(ReadLogFileName(QStringLiteral("Verify"), restore), QStringLiteral("/logs/Velkor.log"));
}

TEST_F(TaskFilesTest, LogNamesFromTemplates)
{
    const QString task = QStringLiteral("/t/Docs.buj");
    const struct {
        const char *tmpl;
        QString taskFile;
        const char *dest;
        bool absolute;
        QString result;
    } cases[] = {
        {"", task, "", true, QString()},
        {"%taskname%_%date%.log", QString(), "", true, QString()},
        {"%taskname%_%date%.log", task, "", false, QStringLiteral("Docs_2024-12-30.log")},
        {"%taskname%_%date%.log", task, "", true, Logs(QStringLiteral("Docs_2024-12-30.log"))},
        {"/srv/%taskname%.log", task, "", true, QStringLiteral("/srv/Docs.log")},
        {"%dest%/run.log", task, ":USB:/Daily", true, QStringLiteral("/media/ann/USB/Daily/run.log")},
        {"%dest%/run.log", task, "/srv/backup", false, QStringLiteral("/srv/backup/run.log")},
        {"%dest%/run.log", task, ":GONE:/Daily", true, QStringLiteral("/logs/Velkor.log")},
        {"%dest%/run.log", task, "", true, QStringLiteral("/logs/Velkor.log")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExpandLogName(QString::fromUtf8(c.tmpl), c.taskFile, QString::fromUtf8(c.dest), c.absolute), c.result)
            << c.tmpl << " " << c.dest;
    }
    EXPECT_EQ(ExpandTaskLogName(QStringLiteral("%taskname%_%date%.log"), QString()), QString());
    EXPECT_EQ(ExpandTaskLogNameForDest(QStringLiteral("%dest%/a.log"), task, QStringLiteral("/d")),
              QStringLiteral("/d/a.log"));
    EXPECT_EQ(ExpandTaskLogNameAbs(QStringLiteral("a.log"), task, true), Logs(QStringLiteral("a.log")));
}

TEST_F(TaskFilesTest, SourcesSummary)
{
    const auto summary = [this](const QByteArray &ini) {
        return TaskSourcesSummary(TUnicodeIniFile::CreateForRead(WriteTask(QStringLiteral("s.buj"), ini)));
    };
    EXPECT_EQ(summary("[Global]\nDirCount=0\n[Dir000]\nEnabled=1\nSource=/a\n"), QStringLiteral("No directory specified!"));

    // The low part of the size is unsigned 32-bit (stored negative), a
    // disabled source counts for nothing, a source with a volume is shown
    // by its label.
    const QString text = summary("[Global]\nDirCount=3\n"
                                 "[Dir000]\nEnabled=1\nSource=/home/ann/\nFileCount=10000\nByteCountH=1\nByteCountL=-1\n"
                                 "[Dir001]\nEnabled=0\nSource=/srv\nFileCount=7\nByteCountL=100\n"
                                 "[Dir002]\nEnabled=1\nSource=/media/ann/USB/Photos/\nVolume=USB\nFileCount=5\n"
                                 "ByteCountL=1\n");
    const int64_t bytes = (int64_t(1) << 32) + 0xFFFFFFFFLL + 1;
    EXPECT_EQ(text, QStringLiteral("  /home/ann\r\n  :USB:/Photos\r\n  10,005 files totaling ")
                        + ByteSizeText(false, bytes));

    EXPECT_EQ(summary("[Global]\nDirCount=1\n[Dir000]\nEnabled=1\nSource=/\nFileCount=1\nByteCountL=0\n"),
              QStringLiteral("  /\r\n  1 file totaling ") + ByteSizeText(false, 0));
    EXPECT_EQ(summary("[Global]\nDirCount=1\n[Dir000]\nSource=/a\nFileCount=3\n"), QStringLiteral("  No files"));
}

TEST_F(TaskFilesTest, ModeSummary)
{
    const struct {
        const char *global;
        const char *text;
    } cases[] = {
        {"ClearDest=1\n", "Backup mode: Update"},
        {"ClearDest=1\nArchBit=1\n", "Backup mode: Full (new)"},
        {"ClearDest=1\nUseArch=1\n", "Backup mode: Differential"},
        {"ClearDest=1\nArchBit=1\nUseArch=1\nSyncMode=1\n", "Backup mode: Incremental"},
        {"SyncMode=1\n", "Update/Synchronize - All files"},
        {"SyncMode=2\n", "Update/Synchronize - Selected files, retain other"},
        {"SyncMode=3\n", "Update/Synchronize - Selected files, delete other"},
        {"SyncMode=9\n", "Update/Synchronize - Off"},
        {"", "Backup mode: Update"},
    };
    for (const auto &c : cases) {
        const QString task = WriteTask(QStringLiteral("m.buj"), QByteArray("[Global]\n") + c.global);
        EXPECT_EQ(TaskModeSummary(TUnicodeIniFile::CreateForRead(task)), QString::fromUtf8(c.text)) << c.global;
    }
}

TEST_F(TaskFilesTest, TaskFileNamesAndKinds)
{
    const struct {
        const char *name;
        QString full;
    } names[] = {
        {"Daily", FDir + QStringLiteral("/Daily.buj")},
        {"Daily.buj", FDir + QStringLiteral("/Daily.buj")},
        {"Daily.BUJ", FDir + QStringLiteral("/Daily.BUJ")},
        {"Daily.old", FDir + QStringLiteral("/Daily.old.buj")},
        {"Daily.", FDir + QStringLiteral("/Daily.buj")},
        {"sub/Weekly", FDir + QStringLiteral("/sub/Weekly.buj")},
        {"/srv/Weekly", QStringLiteral("/srv/Weekly.buj")},
        {"%profile%/W", qEnvironmentVariable("HOME") + QStringLiteral("/W.buj")},
        {"", QString()},
    };
    for (const auto &n : names)
        EXPECT_EQ(ExpandTaskFileName(QString::fromUtf8(n.name), QStringLiteral("buj")), n.full) << n.name;

    EXPECT_EQ(TaskKindText(QStringLiteral("/t/a.VFJ,/t/b.buj")), QStringLiteral("Verify task"));
    EXPECT_EQ(TaskKindText(QStringLiteral("/t/a.rsj")), QStringLiteral("Restore task"));
    EXPECT_EQ(TaskKindText(QStringLiteral("/t/a.cuj")), QStringLiteral("Cleanup task"));
    EXPECT_EQ(TaskKindText(QStringLiteral("/t/a.buj,/t/b.cuj")), QStringLiteral("Backup task"));
    EXPECT_EQ(TaskKindText(QString()), QStringLiteral("Backup task"));

    const QString abc = QStringLiteral("a,bb,c");
    const std::pair<int, const char *> fields[] = {{0, "a"}, {1, "a"}, {3, "bb"}, {4, "bb"}, {6, "c"}, {99, "c"}};
    for (const auto &[pos, field] : fields)
        EXPECT_EQ(CommaFieldAt(abc, pos), QString::fromUtf8(field)) << pos;
    EXPECT_EQ(CommaFieldAt(QString(), 1), QString());
    EXPECT_EQ(DefaultZipName(), QStringLiteral("VL-Zip-%date%"));
}

// The lists of the windows, reduced to what the task-list functions use.
struct THistory {
    QStringList Items;
    void AddString(const QString &s)
    {
        Items.removeAll(s);
        Items.prepend(s);
    }
    void RemString(const QString &s) { Items.removeAll(s); }
    void ClearAll() { Items.clear(); }
};

struct TStrings {
    QList<std::pair<QString, const int *>> Items;
    int Count() const { return int(Items.size()); }
    QString Strings(int i) const { return Items[i].first; }
    const int *Objects(int i) const { return Items[i].second; }
    void Delete(int i) { Items.removeAt(i); }
    void InsertObject(int i, const QString &s, const int *obj) { Items.insert(i, {s, obj}); }
    QStringList Names() const
    {
        QStringList n;
        for (const auto &item : Items)
            n << item.first;
        return n;
    }
};

TEST_F(TaskFilesTest, TaskListsKeepNamesRelativeToTheTaskFolder)
{
    THistory history;
    history.Items = {QStringLiteral("b.buj"), QStringLiteral("x/a.buj")};
    EXPECT_EQ(MoveTaskToHistoryTop(history, FDir + QStringLiteral("/x/a.buj")), QStringLiteral("x/a.buj"));
    EXPECT_EQ(history.Items, (QStringList{QStringLiteral("x/a.buj"), QStringLiteral("b.buj")}));
    EXPECT_EQ(MoveTaskToHistoryTop(history, QStringLiteral("/srv/c.buj")), QStringLiteral("/srv/c.buj"));
    EXPECT_EQ(history.Items.first(), QStringLiteral("/srv/c.buj"));

    const int obj = 1;
    TStrings strings;
    strings.Items = {{QStringLiteral("one"), nullptr}, {QStringLiteral("group"), &obj}, {QStringLiteral("two"), nullptr}};
    LoadHistoryList(strings, history);
    EXPECT_EQ(history.Items, (QStringList{QStringLiteral("one"), QStringLiteral("two")}));

    InsertTaskIntoList(strings, FDir + QStringLiteral("/new.buj"), 1, &obj);
    EXPECT_EQ(strings.Names(), (QStringList{QStringLiteral("one"), QStringLiteral("new.buj"), QStringLiteral("group"),
                                            QStringLiteral("two")}));
    EXPECT_EQ(strings.Objects(1), &obj);
    // Already listed further down: moved to the top only for Index < 0.
    InsertTaskIntoList(strings, FDir + QStringLiteral("/two"), 0, &obj);
    EXPECT_EQ(strings.Names().last(), QStringLiteral("two"));
    InsertTaskIntoList(strings, FDir + QStringLiteral("/two"), -1, &obj);
    EXPECT_EQ(strings.Names(), (QStringList{QStringLiteral("two"), QStringLiteral("one"), QStringLiteral("new.buj"),
                                            QStringLiteral("group")}));
    EXPECT_EQ(strings.Objects(0), &obj);
    // Names are file names: another case is another task; an index past the
    // end appends.
    InsertTaskIntoList(strings, QStringLiteral("TWO"), 99, static_cast<const int *>(nullptr));
    EXPECT_EQ(strings.Names().last(), QStringLiteral("TWO"));
    EXPECT_EQ(strings.Count(), 5);
}

} // namespace
