#include "engine/VssUtils.h"

#include "common/TestUtils.h"
#include "engine/SnapshotService.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace vl {
namespace {

using namespace test;

QStringList FileLines(const QString &path)
{
    QString text = QString::fromUtf8(ReadBytes(path));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

// Whether lines occur in log in this order (others may lie between them);
// the first line not found in order goes to missing.
bool InOrder(const QStringList &log, const QStringList &lines, QString &missing)
{
    qsizetype at = 0;
    for (const QString &l : lines) {
        const qsizetype i = log.indexOf(l, at);
        if (i < 0) {
            missing = l;
            return false;
        }
        at = i + 1;
    }
    return true;
}

#define EXPECT_IN_ORDER(log, ...)                                                                                   \
    do {                                                                                                            \
        QString missing_;                                                                                           \
        EXPECT_TRUE(InOrder(log, QStringList{__VA_ARGS__}, missing_)) << "missing or out of order: "             \
                                                                      << missing_.toStdString() << "\nlog:\n"     \
                                                                      << log.join(QLatin1Char('\n')).toStdString();           \
    } while (0)

// Two made-up volumes below the test folder: vol (/dev/vssa1, a few files)
// and big (/dev/vssb1, more files than the test provider copies); the test
// provider keeps its frozen copies in snaps.
class VssUtilsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FRoot = MakeTempDir(QStringLiteral("vss"));
        FVol = FRoot + QStringLiteral("/vol");
        FBig = FRoot + QStringLiteral("/big");
        FSnaps = FRoot + QStringLiteral("/snaps");
        QDir().mkpath(FVol + QStringLiteral("/data"));
        QDir().mkpath(FBig);
        WriteBytes(FVol + QStringLiteral("/data/a.txt"), "before");
        for (int i = 0; i < 30; ++i)
            WriteBytes(FBig + QStringLiteral("/f%1").arg(i), "x");
        WriteBytes(FRoot + QStringLiteral("/mountinfo"),
                   "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                   "40 21 8:17 / " + FVol.toUtf8() + " rw - ext4 /dev/vssa1 rw\n"
                   "41 21 8:33 / " + FBig.toUtf8() + " rw - ext4 /dev/vssb1 rw\n");
        TVolumeSources sources;
        sources.MountInfoFile = FRoot + QStringLiteral("/mountinfo");
        sources.ByLabelDir = sources.ByUuidDir = sources.SysBlockDir = FRoot + QStringLiteral("/none");
        SetVolumeSourcesForTesting(&sources);
        const TSnapshotProviders providers{NewTestSnapshotProvider(FSnaps, 20)};
        SetSnapshotProvidersForTest(&providers);
        FLog = FRoot + QStringLiteral("/vss.log");
    }

    void TearDown() override
    {
        SetWritersForTest(nullptr);
        SetSnapshotProvidersForTest(nullptr);
        SetVolumeSourcesForTesting(nullptr);
    }

    // A writer with one selectable component whose files lie on vol.
    static TWriterDesc Writer(const QString &name, const QString &filePath, VSS_WRITER_STATE state = VSS_WS_STABLE)
    {
        TWriterDesc w;
        w.InstanceId = QUuid::createUuid();
        w.WriterId = QUuid::createUuid();
        w.Name = name;
        w.State = state;
        TWriterComponentDesc c;
        c.LogicalPath = QStringLiteral("Store");
        c.Name = QStringLiteral("Data");
        c.Files.push_back({filePath, QStringLiteral("*"), QString(), true});
        w.Components.push_back(c);
        return w;
    }

    void SetWriters(const std::vector<TWriterDesc> &writers) { SetWritersForTest(&writers); }

    std::unique_ptr<TVolumeShadowCopy> Client(bool log = true)
    {
        auto c = std::make_unique<TVolumeShadowCopy>();
        c->SetLogFileName(FLog);
        c->SetWriteLog(log);
        c->SetOnStatusMessage([this](const QString &s) { FStatus << s; });
        return c;
    }

    QString FRoot, FVol, FBig, FSnaps, FLog;
    QStringList FStatus;
};

TEST_F(VssUtilsTest, BackupRunLogsItsStepsInOrderAndReportsStatus)
{
    SetWriters({Writer(QStringLiteral("Data Writer"), FVol + QStringLiteral("/data"))});
    auto c = Client();
    c->Initialize(0, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    const QString device = c->GetLastShadowDeviceName();
    const QString doc = FRoot + QStringLiteral("/VssBackupDoc.xml");
    c->SaveBackupComponentsDocument(doc);
    c->BackupComplete(true);
    const QString docAfter = FRoot + QStringLiteral("/after.xml");
    c->SaveBackupComponentsDocument(docAfter);

    const QString set = GuidToString(c->LatestSnapshotSetID());
    const QString wait = QStringLiteral("  => Waiting for the asynchronous operation to finish ...");
    const QString status = QStringLiteral("Gathering writer status ...");
    const QStringList log = FileLines(FLog);
    EXPECT_EQ(log.value(0), QString()); // Initialize's empty line
    EXPECT_IN_ORDER(log, QStringLiteral("Initializing IVssBackupComponents Interface ..."),
                    QStringLiteral("Gathering writer metadata ..."), wait, QStringLiteral("Initialize writer metadata ..."),
                    QStringLiteral("Discover directly excluded components ..."),
                    QStringLiteral("Discover excluded writes ..."),
                    QStringLiteral("Verifying explicitly specified writers/components ..."),
                    QStringLiteral("Select explicitly included components ..."),
                    QStringLiteral(" * Writer \"Data Writer\":"), QStringLiteral("  - Add component \\Store\\Data"),
                    QStringLiteral("Creating shadow set {%1} ...").arg(set), QStringLiteral("Add volumes to snapshot set ..."),
                    QStringLiteral("- Adding volume /dev/vssa1 [%1] to the shadow set...").arg(FVol),
                    QStringLiteral("Preparing for backup ..."), wait, status, wait,
                    QStringLiteral("Creating the shadow copy ..."), wait, status, wait,
                    QStringLiteral("Shadow copy set successfully created"), QString(), QString(),
                    QStringLiteral("List of created shadow copies:"),
                    QStringLiteral("Querying all shadow copies with the SnapshotSetID %1 ...").arg(set), QString(),
                    QStringLiteral("* SNAPSHOT ID = %1 ...").arg(GuidToString(c->LatestSnapshotIdList().at(0))),
                    QStringLiteral("   - Shadow copy device name: %1").arg(device),
                    QStringLiteral("Saving the backup components document ..."),
                    QStringLiteral("- Mark all writers as successfully backed up ... "), QString(),
                    QStringLiteral("Completing the backup ..."), wait, status, wait);
    EXPECT_FALSE(log.contains(QStringLiteral("- There were no writer components in this backup")));

    // The callback gets every status line, with the set identifier filled in.
    EXPECT_EQ(FStatus.first(), QStringLiteral("Initializing IVssBackupComponents Interface ..."));
    EXPECT_TRUE(FStatus.contains(QStringLiteral("Discover excluded writers ...")));
    EXPECT_TRUE(FStatus.contains(QStringLiteral("Creating shadow set {%1} ...").arg(set)));
    EXPECT_EQ(FStatus.mid(FStatus.size() - 3),
              (QStringList{QStringLiteral("Completing the backup ..."), QStringLiteral("Gathering writer status ..."),
                           QStringLiteral("Saving the backup components document ...")}));
    EXPECT_EQ(FStatus.count(QStringLiteral("Gathering writer status ...")), 3);

    // The document: UTF-16LE code units, no byte-order mark. The included
    // component is in it, reported as backed up once the backup completed.
    const auto text = [](const QString &path) {
        const QByteArray bytes = ReadBytes(path);
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
    };
    const QByteArray bytes = ReadBytes(doc);
    ASSERT_GT(bytes.size(), 2);
    EXPECT_EQ(bytes.at(0), '<');
    EXPECT_EQ(bytes.at(1), '\0');
    EXPECT_TRUE(text(doc).contains(QStringLiteral("name=\"Data\" succeeded=\"0\"")));
    EXPECT_TRUE(text(docAfter).contains(QStringLiteral("name=\"Data\" succeeded=\"1\"")));
}

TEST_F(VssUtilsTest, LoggingOffWritesNoFileButReportsStatus)
{
    auto c = Client(false);
    c->Initialize(0, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    EXPECT_FALSE(c->WriteLog());
    EXPECT_FALSE(QFile::exists(FLog));
    EXPECT_FALSE(c->GetLastShadowDeviceName().isEmpty());
    EXPECT_EQ(FStatus.first(), QStringLiteral("Initializing IVssBackupComponents Interface ..."));
    EXPECT_TRUE(FStatus.contains(QStringLiteral("Shadow copy set successfully created")));
}

TEST_F(VssUtilsTest, ExistingLogGetsAnEmptyLineThenTheNewLines)
{
    WriteBytes(FLog, "earlier run\n");
    auto c = Client();
    c->WriteLineToLog(QStringLiteral("next\r\nrun"));
    EXPECT_EQ(ReadBytes(FLog), QByteArray("earlier run\n\nnext\nrun\n"));

    // Switching names while logging moves to the new file; a new file has
    // no leading empty line.
    const QString other = FRoot + QStringLiteral("/other.log");
    c->SetLogFileName(other);
    c->WriteLineToLog(QStringLiteral("moved"));
    EXPECT_EQ(ReadBytes(other), QByteArray("moved\n"));
    EXPECT_EQ(ReadBytes(FLog), QByteArray("earlier run\n\nnext\nrun\n"));
}

TEST_F(VssUtilsTest, UnwritableLogLeavesLoggingOffAndTheSnapshotIsMade)
{
    FLog = FRoot + QStringLiteral("/no such folder/vss.log");
    auto c = Client();
    EXPECT_FALSE(c->WriteLog());
    c->Initialize(0, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    const QString device = c->GetLastShadowDeviceName();
    EXPECT_EQ(ReadBytes(device + QStringLiteral("/data/a.txt")), QByteArray("before"));
}

// The context bits that leave steps out.
TEST_F(VssUtilsTest, ContextBitsLeaveOutWritersOrTheListing)
{
    struct Case {
        uint32_t Context;
        bool Writers;
        bool Listing;
    } cases[] = {{kVssContextNoWriters, false, true}, {kVssContextTransportable, true, false}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.Context);
        QFile::remove(FLog);
        SetWriters({Writer(QStringLiteral("Data Writer"), FVol + QStringLiteral("/data"))});
        auto c = Client();
        c->Initialize(k.Context, QString(), false);
        c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
        const QStringList log = FileLines(FLog);
        for (const char *line : {"Gathering writer metadata ...", "Discover directly excluded components ...",
                                 "Preparing for backup ...", "Gathering writer status ..."})
            EXPECT_EQ(log.contains(QString::fromUtf8(line)), k.Writers) << line;
        EXPECT_EQ(log.contains(QStringLiteral("List of created shadow copies:")), k.Listing);
        EXPECT_IN_ORDER(log, QStringLiteral("Add volumes to snapshot set ..."), QStringLiteral("Creating the shadow copy ..."),
                        QStringLiteral("Shadow copy set successfully created"));
        ASSERT_EQ(c->LatestSnapshotIdList().size(), 1u);
        EXPECT_EQ(c->GetLastShadowDeviceName().isEmpty(), !k.Listing);
    }
}

TEST_F(VssUtilsTest, SecondSnapshotSetFailsWithTheAssertion)
{
    auto c = Client();
    c->Initialize(kVssContextNoWriters, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    try {
        c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
        FAIL() << "no exception";
    } catch (const EAssertionFailed &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("ASSERTION FAILED : No empty list of latest snapshots"));
    }
    EXPECT_EQ(FileLines(FLog).filter(QStringLiteral("Creating shadow set {")).size(), 2);
}

// A failed writer stops the run only when it is selected: the excluded one
// has its files on a volume outside the set.
TEST_F(VssUtilsTest, FailedWriterStopsTheRunOnlyWhenSelected)
{
    for (bool selected : {true, false}) {
        SCOPED_TRACE(selected);
        QFile::remove(FLog);
        const TWriterDesc w = Writer(QStringLiteral("Db Writer"),
                                     selected ? FVol + QStringLiteral("/data") : FBig, VSS_WS_FAILED_AT_PREPARE_BACKUP);
        SetWriters({w});
        auto c = Client();
        c->Initialize(0, QString(), false);
        if (!selected) {
            EXPECT_NO_THROW(c->CreateSnapshotSet(QStringLiteral("/dev/vssa1")));
            EXPECT_FALSE(c->GetLastShadowDeviceName().isEmpty());
            continue;
        }
        try {
            c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
            FAIL() << "no exception";
        } catch (const EOleSysError &e) {
            EXPECT_EQ(e.ErrorCode(), VSS_WS_FAILED_AT_PREPARE_BACKUP);
        }
        const QStringList log = FileLines(FLog);
        EXPECT_IN_ORDER(log, QStringLiteral("Preparing for backup ..."),
                        QStringLiteral("ERROR : Selected writer \"Db Writer\" is in failed state!"),
                        QStringLiteral("Status: 7 (Writer state : failed at prepare backup)"),
                        QStringLiteral("Writer Failure code : $00000000"),
                        QStringLiteral("Writer ID : {%1}").arg(GuidToString(w.WriterId)),
                        QStringLiteral("Instance ID : {%1}").arg(GuidToString(w.InstanceId)));
        EXPECT_FALSE(log.contains(QStringLiteral("Creating the shadow copy ...")));
    }
}

TEST_F(VssUtilsTest, ListWriterStatusListsEveryWriter)
{
    const TWriterDesc w = Writer(QStringLiteral("Data Writer"), FVol + QStringLiteral("/data"));
    SetWriters({w});
    auto c = Client();
    c->Initialize(0, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    QFile::remove(FLog);
    c->SetWriteLog(false);
    c->SetWriteLog(true);
    c->ListWriterStatus();
    EXPECT_EQ(FileLines(FLog),
              (QStringList{QStringLiteral("Listing writer status ..."),
                           QStringLiteral("- Number of writers that responded: 1"), QString(),
                           QStringLiteral("* WRITER \"Data Writer\""),
                           QStringLiteral("   - Status: 1 (Writer state : stable)"),
                           QStringLiteral("   - Writer Failure code: $00000000 (Operation succeeded)"),
                           QStringLiteral("   - Writer ID: %1").arg(GuidToString(w.WriterId)),
                           QStringLiteral("   - Instance ID: %1").arg(GuidToString(w.InstanceId))}));
}

TEST_F(VssUtilsTest, BackupCompleteWithoutWriterComponents)
{
    auto c = Client();
    c->Initialize(0, QString(), false);
    c->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    FStatus.clear();
    c->BackupComplete(true);
    EXPECT_EQ(FileLines(FLog).last(), QStringLiteral("- There were no writer components in this backup"));
    EXPECT_TRUE(FStatus.isEmpty());
}

TEST_F(VssUtilsTest, ThreadReadsTheSourceFromAFrozenSnapshot)
{
    // A file system mounted below the snapshotted one: the snapshot shows
    // it as an empty folder, so its paths are never mapped into it.
    const QString inner = FVol + QStringLiteral("/inner");
    QDir().mkpath(inner);
    WriteBytes(inner + QStringLiteral("/b.txt"), "inner");
    WriteBytes(FRoot + QStringLiteral("/mountinfo"), ReadBytes(FRoot + QStringLiteral("/mountinfo"))
                                                        + "42 40 8:49 / " + inner.toUtf8() + " rw - ext4 /dev/vssc1 rw\n");
    const QString source = FVol + QStringLiteral("/data");
    auto t = CreateVssThread(source, true);
    t->SetLogFileName(FLog);
    t->SetWriteLog(true);
    QStringList status;
    t->SetOnStatusMessage([&status](const QString &s) { status << s; });
    t->Start();
    t->WriteLineToLog(QStringLiteral("Velkor is creating a Volume Shadow Copy: now"));
    ASSERT_TRUE(t->WaitFor(20000));
    ASSERT_TRUE(t->Done());
    ASSERT_TRUE(t->Success());
    EXPECT_TRUE(status.contains(QStringLiteral("Creating the shadow copy ...")));

    const QString device = t->ShadowDeviceName();
    ASSERT_FALSE(device.isEmpty());
    EXPECT_EQ(t->MountPoint(), FVol);
    const struct {
        QString Path;
        bool Mapped;
        QString Shadowed;
    } cases[] = {
        {source + QStringLiteral("/a.txt"), true, device + QStringLiteral("/data/a.txt")},
        {FVol, true, device},
        {inner + QStringLiteral("/b.txt"), false, inner + QStringLiteral("/b.txt")},
        {inner, false, inner},
        {FBig + QStringLiteral("/f1"), false, FBig + QStringLiteral("/f1")},
    };
    for (const auto &k : cases) {
        QString shadowed;
        EXPECT_EQ(t->ShadowPath(k.Path, shadowed), k.Mapped) << k.Path.toStdString();
        EXPECT_EQ(shadowed, k.Shadowed) << k.Path.toStdString();
    }
    QString shadowFile;
    ASSERT_TRUE(t->ShadowPath(source + QStringLiteral("/a.txt"), shadowFile));
    WriteBytes(FVol + QStringLiteral("/data/a.txt"), "after");
    EXPECT_EQ(ReadBytes(shadowFile), QByteArray("before"));

    t->SaveBackupComponentsDocument(FRoot + QStringLiteral("/doc.xml"));
    t->DeleteShadowCopy();
    EXPECT_IN_ORDER(FileLines(FLog), QStringLiteral("Starting snapshot creation for \"%1\"").arg(source),
                    QStringLiteral("Initializing IVssBackupComponents Interface ..."),
                    QStringLiteral("Shadow copy set successfully created"),
                    QStringLiteral("Saving the backup components document ..."),
                    QStringLiteral("- There were no writer components in this backup"));
    EXPECT_TRUE(FileLines(FLog).contains(QStringLiteral("Velkor is creating a Volume Shadow Copy: now")));
    t.reset();
    // The snapshot ends with the thread object.
    EXPECT_FALSE(QFile::exists(device));
}

TEST_F(VssUtilsTest, ThreadFailsWhereNoSnapshotCanBeMade)
{
    struct Case {
        const char *Name;
        bool Service;
        QString Drive;
        QString Error;
    } cases[] = {
        {"no provider fits", true, FBig,
         QStringLiteral("ERROR : TVolumeShadowCopy.AddToSnapshotSet:VssBackupComponents.AddToSnapshotSet "
                        "(VSS: specified volume is not supported)")},
        {"no service", false, FVol, QStringLiteral("ERROR : Volume Shadow Copy could not be initialized on this system!")},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.Name);
        QFile::remove(FLog);
        if (!k.Service) {
            const TSnapshotProviders none;
            SetSnapshotProvidersForTest(&none);
        }
        auto t = CreateVssThread(k.Drive, true);
        t->SetLogFileName(FLog);
        t->SetWriteLog(true);
        t->Start();
        ASSERT_TRUE(t->WaitFor(20000));
        EXPECT_TRUE(t->Done());
        EXPECT_FALSE(t->Success());
        EXPECT_TRUE(t->ShadowDeviceName().isEmpty());
        const QStringList log = FileLines(FLog);
        EXPECT_EQ(log.last(), k.Error);
        if (!k.Service) {
            EXPECT_EQ(log, (QStringList{QStringLiteral("Starting snapshot creation for \"%1\"").arg(FVol), QString(), k.Error}));
        }
    }
}

// A device mounted twice is asked for by the mount point that holds the
// source, so the snapshot stands for that mount.
TEST_F(VssUtilsTest, VolumeNameOfDriveNamesTheMountThatHoldsTheSource)
{
    const QString bind = FRoot + QStringLiteral("/bind");
    WriteBytes(FRoot + QStringLiteral("/mountinfo"),
               ReadBytes(FRoot + QStringLiteral("/mountinfo"))
                   + "42 21 8:17 /data " + bind.toUtf8() + " rw - ext4 /dev/vssa1 rw\n");
    struct Case {
        QString Path;
        QString Volume;
        QString MountPoint;
    } cases[] = {
        {FVol + QStringLiteral("/data"), QStringLiteral("/dev/vssa1"), FVol},
        {bind + QStringLiteral("/x"), bind, bind},
        {FRoot + QStringLiteral("/other"), QStringLiteral("/dev/sda1"), QStringLiteral("/")},
        {QStringLiteral("relative/path"), QString(), QString()},
    };
    for (const Case &k : cases) {
        QString mount;
        EXPECT_EQ(VolumeNameOfDrive(k.Path, mount), k.Volume) << k.Path.toStdString();
        EXPECT_EQ(mount, k.MountPoint) << k.Path.toStdString();
    }
}

// A source on a mount that shows another folder of its device is
// snapshotted by that mount point; the writers' file sets are named alike,
// so a component there stays in the backup and one on the device's other
// mount (not in the snapshot) does not.
TEST_F(VssUtilsTest, ThreadKeepsTheWriterComponentsOfTheMountItSnapshots)
{
    const QString bind = FRoot + QStringLiteral("/bind");
    QDir().mkpath(bind + QStringLiteral("/db"));
    WriteBytes(FRoot + QStringLiteral("/mountinfo"), ReadBytes(FRoot + QStringLiteral("/mountinfo"))
                                                        + "42 21 8:17 /data " + bind.toUtf8() + " rw - ext4 /dev/vssa1 rw\n");
    SetWriters({Writer(QStringLiteral("Bound"), bind + QStringLiteral("/db")),
                Writer(QStringLiteral("Other"), FVol + QStringLiteral("/data"))});
    auto t = CreateVssThread(bind + QStringLiteral("/db"), true);
    t->SetLogFileName(FLog);
    t->SetWriteLog(true);
    t->Start();
    ASSERT_TRUE(t->WaitFor(20000));
    ASSERT_TRUE(t->Success());
    const QStringList log = FileLines(FLog);
    EXPECT_IN_ORDER(log, QStringLiteral(" * Writer \"Bound\":"), QStringLiteral("  - Add component \\Store\\Data"),
                    QStringLiteral("- Adding volume %1 [%1] to the shadow set...").arg(bind));
    EXPECT_EQ(log.filter(QStringLiteral("Add component")).size(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("    Component \"\\Store\\Data\" from writer \"Other\" is excluded from "
                                            "backup (it requires \"%1\" in the shadow set)")
                                 .arg(FVol)));
}

TEST_F(VssUtilsTest, ComSecurityTooLateIsAcceptedOnlyWhenAllowed)
{
    EXPECT_NO_THROW(CheckComSecurityResult(RPC_E_TOO_LATE, true));
    EXPECT_NO_THROW(CheckComSecurityResult(S_FALSE, false));
    try {
        CheckComSecurityResult(RPC_E_TOO_LATE, false);
        FAIL() << "no exception";
    } catch (const EOleSysError &e) {
        EXPECT_EQ(e.ErrorCode(), RPC_E_TOO_LATE);
        EXPECT_EQ(e.Message(), QStringLiteral("ERROR : COM call \"CoInitializeSecurity\" failed. (Security must be "
                                              "initialized before any interfaces are marshalled or unmarshalled. It "
                                              "cannot be changed once initialized.)"));
    }
}

// Two snapshots of vol made one after the other; a third client lists and
// deletes them.
TEST_F(VssUtilsTest, ListingAndDeletingSnapshots)
{
    auto lister = Client();
    lister->Initialize(0, QString(), false);
    lister->QuerySnapshotSet(GUID_NULL);
    EXPECT_IN_ORDER(FileLines(FLog), QStringLiteral("Querying all shadow copies in the system ..."), QString(), QString(),
                    QStringLiteral("There are no shadow copies in the system"), QString());

    auto first = Client();
    first->Initialize(kVssContextNoWriters, QString(), false);
    first->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    const QString firstDevice = first->GetLastShadowDeviceName();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto second = Client();
    second->Initialize(kVssContextNoWriters, QString(), false);
    second->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    const QString secondDevice = second->GetLastShadowDeviceName();
    const TGUID firstId = first->LatestSnapshotIdList().at(0);

    QFile::remove(FLog);
    lister->SetWriteLog(false);
    lister->SetWriteLog(true);
    lister->QuerySnapshotSet(GUID_NULL);
    QStringList log = FileLines(FLog);
    EXPECT_EQ(log.filter(QStringLiteral("* SNAPSHOT ID = ")).size(), 2);
    EXPECT_IN_ORDER(log, QStringLiteral("* SNAPSHOT ID = %1 ...").arg(GuidToString(firstId)),
                    QStringLiteral("   - Shadow copy Set: %1").arg(GuidToString(first->LatestSnapshotSetID())),
                    QStringLiteral("   - Original count of shadow copies = 1"),
                    QStringLiteral("   - Original Volume name: /dev/vssa1 [%1]").arg(FVol),
                    QStringLiteral("   - Shadow copy device name: %1").arg(firstDevice),
                    QStringLiteral("   - Attributes:  Auto_Release No_Writers"), QString());

    // The oldest of vol goes; big has none.
    QFile::remove(FLog);
    lister->SetWriteLog(false);
    lister->SetWriteLog(true);
    lister->DeleteOldestSnapshot(QStringLiteral("/dev/vssa1"));
    lister->DeleteOldestSnapshot(FBig);
    log = FileLines(FLog);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.first().startsWith(QStringLiteral("- Deleting shadow copy \"%1\" on /dev/vssa1 from provider \"")
                                           .arg(GuidToString(firstId))))
        << log.first().toStdString();
    EXPECT_TRUE(log.first().endsWith(QStringLiteral("[$00000010] ...")));
    EXPECT_IN_ORDER(log, QString(), QStringLiteral("There are no shadow copies on the system"), QString());
    EXPECT_FALSE(QFile::exists(firstDevice));
    EXPECT_TRUE(QFile::exists(secondDevice));

    // A snapshot that is gone cannot be deleted again.
    try {
        lister->DeleteSnapshot(firstId);
        FAIL() << "no exception";
    } catch (const EOleSysError &e) {
        EXPECT_EQ(e.ErrorCode(), VSS_E_OBJECT_NOT_FOUND);
    }
    EXPECT_IN_ORDER(FileLines(FLog), QStringLiteral("- Deleting shadow copy \"%1\" ...").arg(GuidToString(firstId)),
                    QStringLiteral("Error while deleting shadow copies ..."),
                    QStringLiteral("ERROR : COM call \"TVolumeShadowCopy.DeleteSnapshotSet:VssBackupComponents."
                                   "DeleteSnapshots\" failed."));

    lister->DeleteSnapshotSet(second->LatestSnapshotSetID());
    EXPECT_FALSE(QFile::exists(secondDevice));

    // Exposed remotely without an exposed path.
    auto third = Client();
    third->Initialize(kVssContextNoWriters | VSS_VOLSNAP_ATTR_EXPOSED_REMOTELY, QString(), false);
    third->CreateSnapshotSet(QStringLiteral("/dev/vssa1"));
    const QString thirdDevice = third->GetLastShadowDeviceName();
    QFile::remove(FLog);
    lister->SetWriteLog(false);
    lister->SetWriteLog(true);
    lister->GetSnapshotProperties(third->LatestSnapshotIdList().at(0));
    log = FileLines(FLog);
    EXPECT_EQ(log.value(0), QStringLiteral("- Properties of shadow copy \"%1\" ...")
                                .arg(GuidToString(third->LatestSnapshotIdList().at(0))));
    EXPECT_IN_ORDER(log, QStringLiteral("   - Shadow copy device name: %1").arg(thirdDevice),
                    QStringLiteral("   - Exposed remotely as "), QStringLiteral("   - Not Exposed"));
    lister->DeleteAllSnapshots();
    EXPECT_FALSE(QFile::exists(thirdDevice));
}

TEST_F(VssUtilsTest, ExecuteCommandNeedsExitCodeZero)
{
    auto c = Client();
    const QString dashes(53, QLatin1Char('-'));
    EXPECT_NO_THROW(c->ExecuteCommand(QStringLiteral("/bin/sh"), QStringLiteral("-c 'exit 0'")));
    EXPECT_IN_ORDER(FileLines(FLog), dashes, QStringLiteral("- Executing command \"/bin/sh -c 'exit 0'\" ..."),
                    QStringLiteral("- Command completed."), dashes);

    QFile::remove(FLog);
    c->SetWriteLog(false);
    c->SetWriteLog(true);
    try {
        c->ExecuteCommand(QStringLiteral("/bin/sh"), QStringLiteral("-c 'exit 3'"));
        FAIL() << "no exception";
    } catch (const EOleSysError &) {
        FAIL() << "wrong exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Catastrophic failure"));
    }
    EXPECT_IN_ORDER(FileLines(FLog), QStringLiteral("- Command completed."), dashes,
                    QStringLiteral("ERROR : Command line \"/bin/sh\" failed!. Aborting the backup ..."),
                    QStringLiteral("- Returned error code: 3"));

    QFile::remove(FLog);
    c->SetWriteLog(false);
    c->SetWriteLog(true);
    const QString missing = FRoot + QStringLiteral("/no such program");
    try {
        c->ExecuteCommand(missing, QString());
        FAIL() << "no exception";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.ErrorCode(), 2u);
    }
    const QStringList log = FileLines(FLog);
    EXPECT_IN_ORDER(log, QString(), QStringLiteral("ERROR : Win32 call \"CreateProcess('%1' )\" failed.").arg(missing),
                    QStringLiteral(" - GetLastError = 2"), dashes);
    EXPECT_FALSE(log.contains(QStringLiteral("- Command completed.")));
}

} // namespace
} // namespace vl
