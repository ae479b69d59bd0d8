#include "engine/VssApi.h"

#include "common/TestUtils.h"
#include "engine/SnapshotService.h"
#include "engine/VssWriters.h"
#include "platform/SysErrors.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace vl {
namespace {

using namespace test;
using namespace Qt::StringLiterals;

// ---- Fixtures ----

// A mount table of its own: "/" on /dev/vda1, Data on /dev/vdb1 (mounted
// at two points, the shorter one first found by length), and what the test adds.
class TFakeMounts {
public:
    explicit TFakeMounts(const QByteArray &extra = QByteArray())
    {
        const QString dir = MakeTempDir(QStringLiteral("mounts"));
        FSources.MountInfoFile = dir + QStringLiteral("/mountinfo");
        WriteBytes(FSources.MountInfoFile, "1 0 8:1 / / rw - ext4 /dev/vda1 rw\n"
                                           "2 1 8:17 / /srv/data/long rw - ext4 /dev/vdb1 rw\n"
                                           "3 1 8:17 / /data rw - ext4 /dev/vdb1 rw\n"
                                               + extra);
        SetVolumeSourcesForTesting(&FSources);
    }
    ~TFakeMounts() { SetVolumeSourcesForTesting(nullptr); }
    TFakeMounts(const TFakeMounts &) = delete;
    TFakeMounts &operator=(const TFakeMounts &) = delete;

private:
    TVolumeSources FSources;
};

// Installs providers and writers for one test.
class TScopedService {
public:
    explicit TScopedService(const TSnapshotProviders &providers, const std::vector<TWriterDesc> &writers = {})
    {
        SetSnapshotProvidersForTest(&providers);
        SetWritersForTest(&writers);
    }
    ~TScopedService()
    {
        SetSnapshotProvidersForTest(nullptr);
        SetWritersForTest(nullptr);
    }
    TScopedService(const TScopedService &) = delete;
    TScopedService &operator=(const TScopedService &) = delete;
};

QStringList gLog;
const TOutputString kLog = [](const QString &s) { gLog << s; };

VSS_ID Id(int n)
{
    return VSS_ID(uint(n), 0x1111, 0x2222, 0, 0, 0, 0, 0, 0, 0, uchar(n));
}

TWriterComponentDesc Component(const QString &logicalPath, const QString &name, bool selectable,
                               const QString &filePath = QStringLiteral("/home/db"))
{
    TWriterComponentDesc c;
    c.LogicalPath = logicalPath;
    c.Name = name;
    c.Selectable = selectable;
    c.Files.push_back({filePath, QStringLiteral("*"), QString(), true});
    return c;
}

TWriterDesc Writer(int n, const QString &name, std::vector<TWriterComponentDesc> components)
{
    TWriterDesc w;
    w.InstanceId = Id(100 + n);
    w.WriterId = Id(n);
    w.Name = name;
    w.Components = std::move(components);
    return w;
}

TVssWriterList BuildWriters(const std::vector<TWriterDesc> &descs)
{
    TVssWriterList list;
    for (const auto &d : descs) {
        auto w = std::make_unique<TVssWriter>(kLog);
        w->Initialize(*NewWriterMetadata(d));
        list.push_back(std::move(w));
    }
    return list;
}

const TVssComponent &Comp(const TVssWriterList &writers, int w, int c)
{
    return *writers.at(size_t(w))->Components.at(size_t(c));
}

// ---- Result texts and the common check ----

TEST(VssApiTest, ErrorTextsOfTableGapsAndSystemCodes)
{
    const struct {
        uint32_t Code;
        QString Text;
    } cases[] = {
        {0x00000000u, QStringLiteral("Operation succeeded")},
        {0x00000001u, QStringLiteral("Operation succeeded but returned \"FALSE\"")},
        {0x0004230Bu, QStringLiteral("VSS: asynchronous operation has been cancelled")},
        {0x8000FFFFu, QStringLiteral("Catastrophic failure")},
        {0x8004230Fu, QStringLiteral("VSS:  unexpected provider error")},
        {0x80042310u, QStringLiteral("VSS: XML document is invalid")},
        {0x80042311u, QStringLiteral("VSS: XML document is invalid")},
        {0x80042416u, QStringLiteral("active system partition is hidden")},
        {0x80042305u, QStringLiteral("<Unknown error code>")}, // a gap of the table
        {0x8004240Bu, QStringLiteral("<Unknown error code>")},
        {0x80040154u, QStringLiteral("<Unknown error code>")}, // facility 4
        {0x80070005u, QString::fromUtf8(SysErrorText(5))},      // facility 7: the system's text
        {0x80070002u, QString::fromUtf8(SysErrorText(2))},
    };
    for (const auto &c : cases)
        EXPECT_EQ(VssErrorText(HRESULT(c.Code)), c.Text) << std::hex << c.Code;
    EXPECT_FALSE(QString::fromUtf8(SysErrorText(5)).isEmpty());
}

TEST(VssApiTest, CheckComCallPassesEveryResultThatIsNotNegative)
{
    gLog.clear();
    for (HRESULT hr : {S_OK, S_FALSE, VSS_S_ASYNC_PENDING, VSS_S_ASYNC_FINISHED, VSS_S_ASYNC_CANCELLED})
        EXPECT_NO_THROW(CheckComCall(hr, QStringLiteral("T"), kLog)) << hr;
    EXPECT_TRUE(gLog.isEmpty());
}

TEST(VssApiTest, CheckComCallLogsThreeLinesAndRaisesWithTheCode)
{
    const struct {
        QString Text;
        QString Shown;
    } cases[] = {
        {QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.SetBackupState"),
         QStringLiteral("TVolumeShadowCopy.Initialize:VssBackupComponents.SetBackupState")},
        {QString(), QStringLiteral("<unknown>")},
    };
    for (const auto &c : cases) {
        gLog.clear();
        try {
            CheckComCall(VSS_E_SNAPSHOT_SET_IN_PROGRESS, c.Text, kLog);
            ADD_FAILURE() << "no exception";
        } catch (const EOleSysError &e) {
            EXPECT_EQ(e.Message(), c.Shown + QStringLiteral(" (VSS: Another shadow copy creation is already in progress)"));
            EXPECT_EQ(e.ErrorCode(), VSS_E_SNAPSHOT_SET_IN_PROGRESS);
        }
        EXPECT_EQ(gLog, QStringList({QStringLiteral("ERROR : COM call \"") + c.Shown + QStringLiteral("\" failed."),
                                     QStringLiteral("- Returned HRESULT = $80042316"),
                                     QStringLiteral("- Error text: VSS: Another shadow copy creation is already in progress")}));
    }
    // Hex digits in upper case, and no log needed.
    gLog.clear();
    try {
        CheckComCall(VSS_E_VOLUME_NOT_SUPPORTED, QStringLiteral("X"), kLog);
    } catch (const EOleSysError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("X (VSS: specified volume is not supported)"));
    }
    EXPECT_EQ(gLog.value(1), QStringLiteral("- Returned HRESULT = $8004230C"));
    EXPECT_THROW(CheckComCall(E_UNEXPECTED, QStringLiteral("X")), EOleSysError);
}

TEST(VssApiTest, WithoutProviderTheServiceIsNotLoaded)
{
    const TScopedService service({});
    EXPECT_FALSE(IsVssApiLoaded());
    auto components = NewSnapshotBackupComponents(); // set, to see it reset
    EXPECT_EQ(CreateVssBackupComponents(components), E_UNEXPECTED);
    EXPECT_EQ(components, nullptr);
    QString out = QStringLiteral("x");
    EXPECT_FALSE(ClusterIsPathOnSharedVolume(QStringLiteral("/")));
    EXPECT_FALSE(ClusterGetVolumePathName(QStringLiteral("/"), out));
    EXPECT_FALSE(ClusterGetVolumeNameForVolumeMountPoint(QStringLiteral("/"), out));
}

TEST(VssApiTest, GuidRegistryForm)
{
    const VSS_ID id(0xAB12CD34, 0xEF56, 0x0A1B, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17, 0x28, 0x39);
    EXPECT_EQ(GuidToString(id), QStringLiteral("{AB12CD34-EF56-0A1B-C2D3-E4F506172839}"));
    VSS_ID back;
    EXPECT_TRUE(StringToGuid(QStringLiteral("{ab12cd34-ef56-0a1b-c2d3-e4f506172839}"), back));
    EXPECT_EQ(back, id);
    EXPECT_TRUE(StringToGuid(GuidToString(GUID_NULL), back));
    EXPECT_TRUE(back.isNull());
    EXPECT_FALSE(StringToGuid(QStringLiteral("writer"), back));
}

// ---- Writer and component model ----

TEST(VssWritersTest, FullPathsAndAncestors)
{
    const struct {
        QString LogicalPath, Name, FullPath;
    } paths[] = {
        {QStringLiteral("a\\b"), QStringLiteral("c"), QStringLiteral("\\a\\b\\c")},
        {QString(), QStringLiteral("c"), QStringLiteral("\\c")},
        {QStringLiteral("\\x"), QStringLiteral("y"), QStringLiteral("\\x\\y")},
    };
    for (const auto &p : paths) {
        const TVssWriterList w = BuildWriters({Writer(1, QStringLiteral("W"), {Component(p.LogicalPath, p.Name, true)})});
        EXPECT_EQ(Comp(w, 0, 0).FullPath, p.FullPath);
    }
    const auto component = [](const QString &full) {
        TVssComponent c;
        c.FullPath = full;
        return c;
    };
    const struct {
        QString A, D;
        bool Ancestor;
    } cases[] = {
        {QStringLiteral("\\a"), QStringLiteral("\\a\\b"), true},
        {QStringLiteral("\\a"), QStringLiteral("\\a\\b\\c"), true},
        {QStringLiteral("\\A"), QStringLiteral("\\a\\b"), true},
        {QStringLiteral("\\a"), QStringLiteral("\\ab"), false},
        {QStringLiteral("\\a"), QStringLiteral("\\a"), false},
        {QStringLiteral("\\a\\b"), QStringLiteral("\\a"), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(component(c.A).IsAncestorOf(component(c.D)), c.Ancestor) << c.A.toStdString() << " " << c.D.toStdString();
}

TEST(VssWritersTest, DescriptorsExpandLongPathsAndFindTheirVolumes)
{
    const TFakeMounts mounts;
    const QString longName = QString(300, QLatin1Char('d'));
    TScopedEnv env{{"VL_VSS_LONG", longName}};
    TWriterComponentDesc c = Component(QString(), QStringLiteral("c"), true, QStringLiteral("/data/%VL_VSS_LONG%"));
    c.Databases.push_back({QStringLiteral("${VL_VSS_UNSET_NAME}/x"), QStringLiteral("*.db"), QString(), false});
    c.LogFiles.push_back({QStringLiteral("/srv/data/long/log"), QStringLiteral("*.log"), QString(), false});
    const TVssWriterList w = BuildWriters({Writer(1, QStringLiteral("W"), {c})});
    const TVssComponent &comp = Comp(w, 0, 0);
    ASSERT_EQ(comp.Descriptors.size(), 3u);
    EXPECT_EQ(comp.Descriptors[0]->fdType, VSS_FDT_FILELIST);
    EXPECT_EQ(comp.Descriptors[0]->ExpandedPath, QStringLiteral("/data/") + longName + QLatin1Char('/'));
    EXPECT_EQ(comp.Descriptors[1]->fdType, VSS_FDT_DATABASE);
    // An unknown name stays; a relative path lies on no volume.
    EXPECT_EQ(comp.Descriptors[1]->ExpandedPath, QStringLiteral("${VL_VSS_UNSET_NAME}/x/"));
    EXPECT_EQ(comp.Descriptors[1]->AffectedVolume, comp.Descriptors[1]->ExpandedPath);
    EXPECT_EQ(comp.Descriptors[2]->fdType, VSS_FDT_DATABASE_LOG);
    EXPECT_EQ(comp.AffectedVolumes,
              QStringList({QStringLiteral("${VL_VSS_UNSET_NAME}/x/"), QStringLiteral("/dev/vdb1")}));
    QString mount;
    EXPECT_TRUE(ShortestMountPath(QStringLiteral("/dev/vdb1"), mount));
    EXPECT_EQ(mount, QStringLiteral("/data"));
    EXPECT_FALSE(ShortestMountPath(QStringLiteral("/dev/none"), mount));
}

// A device mounted twice with the same folder is one volume; a mount that
// shows another folder of it is a volume of its own, named by its mount
// point. A mount point in the snapshot set stands for the volume there.
TEST(VssWritersTest, VolumeNamesOfMounts)
{
    const TFakeMounts mounts("4 1 8:17 /sub /bind rw - ext4 /dev/vdb1 rw\n");
    const struct {
        QString Path;
        QString Volume;
    } names[] = {
        {u"/home/x"_s, u"/dev/vda1"_s},
        {u"/srv/data/long/x"_s, u"/dev/vdb1"_s},
        {u"/data"_s, u"/dev/vdb1"_s},
        {u"/bind/x"_s, u"/bind"_s},
    };
    for (const auto &k : names) {
        QString name;
        EXPECT_TRUE(VolumeNameForPath(k.Path, name)) << k.Path.toStdString();
        EXPECT_EQ(name, k.Volume) << k.Path.toStdString();
    }
    const struct {
        QString Volume;
        QString Entry;
        bool Same;
    } same[] = {
        {u"/dev/vda1"_s, u"/DEV/VDA1"_s, true}, {u"/dev/vda1"_s, u"/"_s, true},
        {u"/dev/vdb1"_s, u"/srv/data/long"_s, true}, {u"/bind"_s, u"/bind/"_s, true},
        {u"/dev/vdb1"_s, u"/bind"_s, false},     {u"/dev/vda1"_s, u"/home"_s, false},
    };
    for (const auto &k : same)
        EXPECT_EQ(SameVolume(k.Volume, k.Entry), k.Same) << k.Volume.toStdString() << " " << k.Entry.toStdString();
}

struct TSelection {
    TVssWriterList Writers;
    std::shared_ptr<IVssBackupComponents> Service;
};

// Runs the whole selection through the service (which checks every added
// component against the gathered metadata).
TSelection Select(const std::vector<TWriterDesc> &descs, const QStringList &volumes, const QStringList *excluded,
                  const QStringList *included)
{
    TSelection s;
    s.Service = NewSnapshotBackupComponents();
    std::shared_ptr<IVssAsync> async;
    EXPECT_EQ(s.Service->InitializeForBackup(), S_OK);
    EXPECT_EQ(s.Service->GatherWriterMetadata(async), S_OK);
    s.Writers = BuildWriters(descs);
    gLog.clear();
    SelectComponentsForBackup(s.Writers, volumes, excluded, included, false, *s.Service, kLog);
    return s;
}

TEST(VssWritersTest, SelectionKeepsOnlyTopmostIncludableComponents)
{
    const TFakeMounts mounts;
    const std::vector<TWriterDesc> descs = {
        Writer(1, QStringLiteral("Db"), {Component(QString(), QStringLiteral("a"), true),
                                         Component(QStringLiteral("a"), QStringLiteral("b"), true)}),
        Writer(2, QStringLiteral("Empty"), {}),
    };
    const TScopedService service({}, descs);
    const TSelection s = Select(descs, {QStringLiteral("/dev/vda1")}, nullptr, nullptr);
    EXPECT_TRUE(Comp(s.Writers, 0, 0).IsTopLevel);
    EXPECT_FALSE(Comp(s.Writers, 0, 1).IsTopLevel);
    EXPECT_TRUE(Comp(s.Writers, 0, 0).IsExplicitlyIncluded);
    EXPECT_FALSE(Comp(s.Writers, 0, 1).IsExplicitlyIncluded);
    EXPECT_TRUE(s.Writers[1]->IsExcluded);
    EXPECT_TRUE(gLog.contains(QStringLiteral("- Excluding writer \"Empty\" since it has no selected components for restore.")));
    EXPECT_EQ(gLog.filter(QStringLiteral("Add component")), QStringList({QStringLiteral("  - Add component \\a")}));
    uint32_t writers = 0;
    EXPECT_EQ(s.Service->GetWriterComponentsCount(writers), S_OK);
    EXPECT_EQ(writers, 1u);
}

TEST(VssWritersTest, ComponentOutsideTheSetExcludesItsAncestorsAndItsWriter)
{
    const TFakeMounts mounts;
    const std::vector<TWriterDesc> descs = {
        Writer(1, QStringLiteral("Db"), {Component(QString(), QStringLiteral("a"), false),
                                         Component(QStringLiteral("a"), QStringLiteral("b"), true, QStringLiteral("/data/x")),
                                         Component(QString(), QStringLiteral("c"), true)}),
    };
    const TScopedService service({}, descs);
    const TSelection s = Select(descs, {QStringLiteral("/dev/vda1")}, nullptr, nullptr);
    EXPECT_TRUE(Comp(s.Writers, 0, 1).IsExcluded);
    EXPECT_TRUE(Comp(s.Writers, 0, 0).IsExcluded);
    EXPECT_FALSE(Comp(s.Writers, 0, 2).IsExcluded);
    EXPECT_TRUE(s.Writers[0]->IsExcluded);
    const QStringList expected = {
        QStringLiteral("    Component \"\\a\\b\" from writer \"Db\" is excluded from backup (it requires \"/data\" in the shadow set)"),
        QStringLiteral("- Component \"\\a\" from writer \"Db\" is excluded from backup (it has an excluded descendent: b)"),
        QStringLiteral("- The writer \"Db\" is now entirely excluded from the backup:"),
        QStringLiteral("  (the top-level non-selectable component \"\\a\" is an excluded component)"),
    };
    for (const QString &line : expected)
        EXPECT_TRUE(gLog.contains(line)) << line.toStdString() << "\n" << gLog.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(gLog.filter(QStringLiteral("Add component")).isEmpty());
}

TEST(VssWritersTest, ExclusionAndInclusionLists)
{
    const TFakeMounts mounts;
    const std::vector<TWriterDesc> descs = {
        Writer(1, QStringLiteral("Db"), {Component(QString(), QStringLiteral("a"), true),
                                         Component(QStringLiteral("a"), QStringLiteral("b"), false),
                                         Component(QString(), QStringLiteral("c"), true)}),
        Writer(2, QStringLiteral("Mail"), {Component(QString(), QStringLiteral("m"), true)}),
    };
    const TScopedService service({}, descs);
    const QString mailInstance = GuidToString(Id(102)).toLower();
    const QStringList excluded = {QStringLiteral("db:\\A"), mailInstance};
    const QStringList volumes = {QStringLiteral("/dev/vda1")};

    const struct {
        QString Entry;
        QString Error; // empty: passes
    } cases[] = {
        {QStringLiteral("Db:\\c"), QString()},
        {QStringLiteral("Db"), QStringLiteral("ERROR : The writer \"Db\" has components not included in the backup! Aborting backup ...")},
        {QStringLiteral("Db:\\a\\b"), QStringLiteral("ERROR : The component \"Db:\\a\\b\" was not included in the backup! Aborting backup ...")},
        {QStringLiteral("Db:\\a"), QStringLiteral("ERROR : The component \"Db:\\a\" was not found in the writer components list! Aborting backup ...")},
        {QStringLiteral("Mail"), QStringLiteral("ERROR : The writer \"Mail\" was not included in the backup! Aborting backup ...")},
        {QStringLiteral("Nobody"), QStringLiteral("ERROR : The writer \"Nobody\" was not found! Aborting backup ...")},
    };
    for (const auto &c : cases) {
        const QStringList included = {c.Entry};
        try {
            const TSelection s = Select(descs, volumes, &excluded, &included);
            EXPECT_TRUE(c.Error.isEmpty()) << c.Entry.toStdString();
            EXPECT_TRUE(gLog.contains(QStringLiteral(" - The component \"Db:\\c\" is selected")));
            EXPECT_TRUE(s.Writers[1]->IsExcluded);
            EXPECT_TRUE(Comp(s.Writers, 0, 0).IsExcluded);
            EXPECT_TRUE(gLog.contains(QStringLiteral("- Component \"\\a\" from writer \"Db\" is explicitly excluded from backup")));
        } catch (const EOleSysError &e) {
            EXPECT_EQ(e.ErrorCode(), E_INVALIDARG);
            EXPECT_FALSE(c.Error.isEmpty()) << c.Entry.toStdString();
            EXPECT_TRUE(gLog.contains(c.Error)) << c.Entry.toStdString() << "\n" << gLog.join(QLatin1Char('\n')).toStdString();
            // Nothing was added after a failed verification.
            EXPECT_TRUE(gLog.filter(QStringLiteral("Add component")).isEmpty());
        }
    }
}

TEST(VssWritersTest, PrintListsWriterAndComponent)
{
    const TFakeMounts mounts;
    const TVssWriterList w = BuildWriters({Writer(1, QStringLiteral("Db"), {Component(QStringLiteral("a"), QStringLiteral("b"), true)})});
    gLog.clear();
    ListWriterMetadata(w, true, kLog);
    ASSERT_GE(gLog.size(), 3);
    EXPECT_EQ(gLog[0], QStringLiteral("Listing writer metadata ..."));
    EXPECT_TRUE(gLog[1].startsWith(QStringLiteral("\r\n* WRITER \"Db\"\r\n    - WriterId   = {00000001-1111-2222")));
    EXPECT_TRUE(gLog[1].contains(QStringLiteral("    - Restore method = VSS_RME_RESTORE_IF_CAN_REPLACE\r\n")));
    EXPECT_TRUE(gLog.contains(QStringLiteral("      - File List : Path = /home/db, Filespec = * Recursive : Yes")));
    EXPECT_TRUE(gLog.contains(QStringLiteral("          - /dev/vda1 [/]")));
    EXPECT_EQ(TVssWriter::GetStringFromRestoreMethod(VSS_RESTOREMETHOD_ENUM(9)), QStringLiteral("Undefined"));
    EXPECT_EQ(TVssWriter::GetStringFromRestoreConditions(VSS_WRE_NEVER), QStringLiteral("VSS_WRE_NEVER"));
    EXPECT_EQ(TVssComponent::GetStringFromComponentType(VSS_CT_UNDEFINED), QStringLiteral("Unknown constant"));
}

// ---- The service with the test provider ----

class SnapshotServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSource = MakeTempDir(QStringLiteral("source"));
        FStore = MakeTempDir(QStringLiteral("store"));
        QDir().mkpath(FSource + QStringLiteral("/sub"));
        WriteBytes(FSource + QStringLiteral("/a.txt"), "alpha");
        WriteBytes(FSource + QStringLiteral("/sub/b.txt"), "beta");
        ASSERT_EQ(symlink("a.txt", QFile::encodeName(FSource + QStringLiteral("/link")).constData()), 0);
        FMounts = std::make_unique<TFakeMounts>("9 1 8:33 / " + QFile::encodeName(FSource) + " rw - ext4 /dev/vdc1 rw\n");
    }

    std::shared_ptr<IVssBackupComponents> Start(int32_t context = 0)
    {
        std::shared_ptr<IVssBackupComponents> c;
        EXPECT_EQ(CreateVssBackupComponents(c), S_OK);
        EXPECT_EQ(c->InitializeForBackup(), S_OK);
        if (context) {
            EXPECT_EQ(c->SetContext(context), S_OK);
        }
        EXPECT_EQ(c->SetBackupState(true, false, VSS_BT_COPY), S_OK);
        VSS_ID set;
        EXPECT_EQ(c->StartSnapshotSet(set), S_OK);
        return c;
    }

    static HRESULT Finish(IVssBackupComponents &c)
    {
        std::shared_ptr<IVssAsync> async;
        EXPECT_EQ(c.DoSnapshotSet(async), S_OK);
        EXPECT_EQ(async->Wait(), S_OK);
        HRESULT result = S_OK;
        EXPECT_EQ(async->QueryStatus(result), S_OK);
        return result;
    }

    QString FSource, FStore;
    std::unique_ptr<TFakeMounts> FMounts;
};

TEST_F(SnapshotServiceTest, FrozenCopyStaysWhenTheSourceChanges)
{
    const TScopedService service({NewTestSnapshotProvider(FStore)});
    ASSERT_TRUE(IsVssApiLoaded());
    QString root;
    {
        auto c = Start();
        VSS_ID snap;
        ASSERT_EQ(c->AddToSnapshotSet(QStringLiteral("/dev/vdc1"), GUID_NULL, snap), S_OK);
        ASSERT_EQ(Finish(*c), VSS_S_ASYNC_FINISHED);
        VSS_SNAPSHOT_PROP prop;
        ASSERT_EQ(c->GetSnapshotProperties(snap, prop), S_OK);
        root = prop.m_pwszSnapshotDeviceObject;
        EXPECT_EQ(prop.m_pwszOriginalVolumeName, QStringLiteral("/dev/vdc1"));
        EXPECT_TRUE(root.startsWith(FStore + QLatin1Char('/')));

        WriteBytes(FSource + QStringLiteral("/a.txt"), "changed");
        QFile::remove(FSource + QStringLiteral("/sub/b.txt"));
        WriteBytes(FSource + QStringLiteral("/new.txt"), "new");

        EXPECT_EQ(ReadBytes(root + QStringLiteral("/a.txt")), "alpha");
        EXPECT_EQ(ReadBytes(root + QStringLiteral("/sub/b.txt")), "beta");
        EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/new.txt")));
        EXPECT_EQ(QFileInfo(root + QStringLiteral("/link")).symLinkTarget(), root + QStringLiteral("/a.txt"));
        EXPECT_FALSE(QFileInfo(root + QStringLiteral("/a.txt")).isWritable() && geteuid() != 0);

        std::shared_ptr<IVssEnumObject> list;
        ASSERT_EQ(c->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, list), S_OK);
        VSS_OBJECT_PROP obj;
        uint32_t fetched = 0;
        EXPECT_EQ(list->Next(1, &obj, fetched), S_OK);
        EXPECT_EQ(obj.Snap.m_SnapshotId, snap);
        EXPECT_EQ(list->Next(1, &obj, fetched), S_FALSE);
        EXPECT_EQ(fetched, 0u);
    }
    // A snapshot of context 0 ends with the object that made it.
    EXPECT_FALSE(QFileInfo::exists(root));
    auto c = Start();
    std::shared_ptr<IVssEnumObject> list;
    EXPECT_EQ(c->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, list), S_FALSE);
}

TEST_F(SnapshotServiceTest, PersistentSnapshotStaysUntilDeleted)
{
    const TScopedService service({NewTestSnapshotProvider(FStore)});
    VSS_ID snap;
    {
        auto c = Start(int32_t(VSS_CTX_CLIENT_ACCESSIBLE));
        ASSERT_EQ(c->AddToSnapshotSet(FSource, GUID_NULL, snap), S_OK); // a mount point names its volume too
        ASSERT_EQ(Finish(*c), VSS_S_ASYNC_FINISHED);
    }
    auto c = Start();
    VSS_SNAPSHOT_PROP prop;
    ASSERT_EQ(c->GetSnapshotProperties(snap, prop), S_OK);
    EXPECT_EQ(ReadBytes(prop.m_pwszSnapshotDeviceObject + QStringLiteral("/a.txt")), "alpha");
    EXPECT_EQ(uint32_t(prop.m_lSnapshotAttributes) & VSS_VOLSNAP_ATTR_PERSISTENT, VSS_VOLSNAP_ATTR_PERSISTENT);
    int32_t deleted = 0;
    VSS_ID failed;
    EXPECT_EQ(c->DeleteSnapshots(snap, VSS_OBJECT_SNAPSHOT, false, deleted, failed), S_OK);
    EXPECT_EQ(deleted, 1);
    EXPECT_FALSE(QFileInfo::exists(prop.m_pwszSnapshotDeviceObject));
    EXPECT_EQ(c->GetSnapshotProperties(snap, prop), VSS_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(c->DeleteSnapshots(snap, VSS_OBJECT_SNAPSHOT, false, deleted, failed), VSS_E_OBJECT_NOT_FOUND);
}

TEST_F(SnapshotServiceTest, SnapshotOfAnEndedProcessIsDeletedLater)
{
    const TScopedService service({NewTestSnapshotProvider(FStore)});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Ends without releasing its backup components, as after a crash.
        auto c = Start();
        VSS_ID snap;
        const bool made = c->AddToSnapshotSet(QStringLiteral("/dev/vdc1"), GUID_NULL, snap) == S_OK
            && Finish(*c) == VSS_S_ASYNC_FINISHED;
        _exit(made ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto entries = [&] { return QDir(FStore).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    ASSERT_EQ(entries(), 1);
    auto c = NewSnapshotBackupComponents();
    EXPECT_EQ(entries(), 0);
    ASSERT_EQ(c->InitializeForBackup(), S_OK);
    std::shared_ptr<IVssEnumObject> list;
    EXPECT_EQ(c->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, list), S_FALSE);
}

TEST_F(SnapshotServiceTest, VolumesTheServiceRefuses)
{
    // The provider takes trees of at most 2 entries; the source has 4.
    const TScopedService service({NewTestSnapshotProvider(FStore, 2)});
    auto c = Start();
    VSS_ID snap;
    const struct {
        QString Volume;
        HRESULT Result;
    } cases[] = {
        {QStringLiteral("/dev/vdc1"), VSS_E_VOLUME_NOT_SUPPORTED},
        {QString(), VSS_E_OBJECT_NOT_FOUND}, // a drive without volume
        {QStringLiteral("/dev/none"), VSS_E_OBJECT_NOT_FOUND},
    };
    for (const auto &cs : cases)
        EXPECT_EQ(c->AddToSnapshotSet(cs.Volume, GUID_NULL, snap), cs.Result) << cs.Volume.toStdString();
    // Nothing was added: the set cannot be taken.
    std::shared_ptr<IVssAsync> async;
    EXPECT_EQ(c->DoSnapshotSet(async), VSS_E_BAD_STATE);
}

// A set that cannot be taken whole keeps none of its snapshots.
TEST_F(SnapshotServiceTest, SetThatFailsKeepsNothing)
{
    const QString other = MakeTempDir(QStringLiteral("other"));
    FMounts.reset();
    FMounts = std::make_unique<TFakeMounts>("9 1 8:33 / " + QFile::encodeName(FSource)
                                            + " rw - ext4 /dev/vdc1 rw\n10 1 8:49 / " + QFile::encodeName(other)
                                            + " rw - ext4 /dev/vdd1 rw\n");
    const QString blocker = MakeTempDir(QStringLiteral("state")) + QStringLiteral("/file");
    WriteBytes(blocker, "x");
    const struct {
        const char *Name;
        int32_t Context;
        bool LoseSecondVolume;
        QString StateHome;
        HRESULT Result;
    } cases[] = {
        {"second volume gone", 0, true, QString(), VSS_E_OBJECT_NOT_FOUND},
        {"registry not writable", int32_t(VSS_CTX_CLIENT_ACCESSIBLE), false, blocker + QStringLiteral("/state"),
         E_ACCESSDENIED},
    };
    for (const auto &cs : cases) {
        SCOPED_TRACE(cs.Name);
        QDir().mkpath(other);
        WriteBytes(other + QStringLiteral("/c.txt"), "gamma");
        const TScopedService service({NewTestSnapshotProvider(FStore)});
        const TScopedEnv env({{"XDG_STATE_HOME", cs.StateHome}});
        auto c = Start(cs.Context);
        VSS_ID first, second;
        ASSERT_EQ(c->AddToSnapshotSet(QStringLiteral("/dev/vdc1"), GUID_NULL, first), S_OK);
        ASSERT_EQ(c->AddToSnapshotSet(QStringLiteral("/dev/vdd1"), GUID_NULL, second), S_OK);
        if (cs.LoseSecondVolume) {
            ASSERT_TRUE(QDir(other).removeRecursively());
        }
        EXPECT_EQ(Finish(*c), cs.Result);
        EXPECT_TRUE(QDir(FStore).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        VSS_SNAPSHOT_PROP prop;
        EXPECT_EQ(c->GetSnapshotProperties(first, prop), VSS_E_OBJECT_NOT_FOUND);
    }
}

TEST_F(SnapshotServiceTest, OneSetAtATimeAndTheDocument)
{
    const std::vector<TWriterDesc> writers = {
        Writer(1, QStringLiteral("Db"), {Component(QString(), QStringLiteral("a"), true)})};
    const TScopedService service({NewTestSnapshotProvider(FStore)}, writers);
    auto c = Start();
    VSS_ID set, snap;
    EXPECT_EQ(c->StartSnapshotSet(set), VSS_E_SNAPSHOT_SET_IN_PROGRESS);
    ASSERT_EQ(c->AddToSnapshotSet(QStringLiteral("/dev/vdc1"), GUID_NULL, snap), S_OK);
    EXPECT_EQ(c->AddToSnapshotSet(FSource, GUID_NULL, snap), VSS_E_OBJECT_ALREADY_EXISTS);
    std::shared_ptr<IVssAsync> async;
    ASSERT_EQ(c->GatherWriterMetadata(async), S_OK);
    EXPECT_EQ(c->AddComponent(Id(101), Id(1), VSS_CT_FILEGROUP, QString(), QStringLiteral("zz")), VSS_E_OBJECT_NOT_FOUND);
    ASSERT_EQ(c->AddComponent(Id(101), Id(1), VSS_CT_FILEGROUP, QString(), QStringLiteral("a")), S_OK);
    ASSERT_EQ(Finish(*c), VSS_S_ASYNC_FINISHED);
    EXPECT_EQ(c->StartSnapshotSet(set), S_OK); // the next set may begin

    ASSERT_EQ(c->SetBackupSucceeded(Id(101), Id(1), VSS_CT_FILEGROUP, QString(), QStringLiteral("a"), true), S_OK);
    QString xml;
    ASSERT_EQ(c->SaveAsXML(xml), S_OK);
    auto restore = NewSnapshotBackupComponents();
    ASSERT_EQ(restore->InitializeForRestore(xml), S_OK);
    uint32_t count = 0;
    EXPECT_EQ(restore->GetWriterComponentsCount(count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(NewSnapshotBackupComponents()->InitializeForRestore(QStringLiteral("<x/>")), VSS_E_INVALID_XML_DOCUMENT);
}

// ---- btrfs and LVM ----

TEST(SnapshotProviderArgsTest, BtrfsAndLvmCommands)
{
    const VSS_ID id(0xAB12CD34, 0xEF56, 0x0A1B, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17, 0x28, 0x39);
    const QString target = BtrfsSnapshotPath(QStringLiteral("/home"), id);
    EXPECT_EQ(target, QStringLiteral("/home/.velkor-snapshots/ab12cd34-ef56-0a1b-c2d3-e4f506172839"));
    EXPECT_EQ(BtrfsSnapshotPath(QStringLiteral("/"), id), QStringLiteral("/.velkor-snapshots/ab12cd34-ef56-0a1b-c2d3-e4f506172839"));
    EXPECT_EQ(BtrfsSnapshotArgs(QStringLiteral("/home"), target),
              QStringList({u"subvolume"_s, u"snapshot"_s, u"-r"_s, u"/home"_s, target}));
    EXPECT_EQ(BtrfsListNestedArgs(QStringLiteral("/home")), QStringList({u"subvolume"_s, u"list"_s, u"-o"_s, u"/home"_s}));
    EXPECT_EQ(BtrfsDeleteArgs(target), QStringList({u"subvolume"_s, u"delete"_s, target}));

    const QString ownSnap = QStringLiteral("ID 260 gen 12 top level 257 path @home/.velkor-snapshots/1234\n");
    const QString nested = QStringLiteral("ID 261 gen 13 top level 257 path @home/projects/build\n");
    const struct {
        QString Output, FsRoot;
        bool Nested;
    } lists[] = {
        {QString(), QStringLiteral("/@home"), false},
        {ownSnap, QStringLiteral("/@home"), false},
        {QStringLiteral("ID 260 gen 12 top level 5 path .velkor-snapshots/1234\n"), QStringLiteral("/"), false},
        {ownSnap + nested, QStringLiteral("/@home"), true},
        {QStringLiteral("ID 262 gen 9 top level 257 path @home/x/.velkor-snapshots/1\n"), QStringLiteral("/@home"), true},
        {QStringLiteral("ID 263 gen 9 top level 5 path <FS_TREE>/var/lib/machines\n"), QStringLiteral("/"), true},
    };
    for (const auto &l : lists)
        EXPECT_EQ(BtrfsHasNestedSubvolumes(l.Output, l.FsRoot), l.Nested) << l.Output.toStdString();

    QString vg, lv, attr;
    EXPECT_TRUE(ParseLvmQuery(QStringLiteral("  vg0 home -wi-ao----\n"), vg, lv, attr));
    EXPECT_EQ(QStringList({vg, lv, attr}), QStringList({u"vg0"_s, u"home"_s, u"-wi-ao----"_s}));
    EXPECT_FALSE(ParseLvmQuery(QStringLiteral("\n"), vg, lv, attr));
    const QString snap = LvmSnapshotName(id);
    EXPECT_EQ(snap, QStringLiteral("velkor-snap-ab12cd34ef560a1bc2d3e4f506172839"));
    EXPECT_EQ(LvmCreateArgs(QStringLiteral("vg0"), QStringLiteral("home"), snap, false),
              QStringList({u"--snapshot"_s, u"--extents"_s, u"20%ORIGIN"_s, u"--name"_s, snap, u"vg0/home"_s}));
    EXPECT_EQ(LvmCreateArgs(QStringLiteral("vg0"), QStringLiteral("home"), snap, true),
              QStringList({u"--snapshot"_s, u"--setactivationskip"_s, u"n"_s, u"--name"_s, snap, u"vg0/home"_s}));
    EXPECT_EQ(LvmMountArgs(QStringLiteral("/dev/vg0/s"), QStringLiteral("/run/x"), QStringLiteral("xfs")),
              QStringList({u"-o"_s, u"ro,nouuid"_s, u"/dev/vg0/s"_s, u"/run/x"_s}));
    EXPECT_EQ(LvmMountArgs(QStringLiteral("/dev/vg0/s"), QStringLiteral("/run/x"), QStringLiteral("ext4")),
              QStringList({u"-o"_s, u"ro"_s, u"/dev/vg0/s"_s, u"/run/x"_s}));
    EXPECT_EQ(LvmRemoveArgs(QStringLiteral("vg0"), snap), QStringList({u"--yes"_s, u"--force"_s, u"vg0/"_s + snap}));
    EXPECT_EQ(LvmSnapshotRoot(QStringLiteral("/run/x"), QStringLiteral("/")), QStringLiteral("/run/x"));
    EXPECT_EQ(LvmSnapshotRoot(QStringLiteral("/run/x"), QStringLiteral("/srv/web")), QStringLiteral("/run/x/srv/web"));
    TScopedEnv env{{"XDG_RUNTIME_DIR", nullptr}};
    EXPECT_EQ(LvmMountFolder(id), QStringLiteral("/run/velkor-snapshots/ab12cd34-ef56-0a1b-c2d3-e4f506172839"));
}

// The real tools need root and a btrfs file system: a small one on a loop
// device, where the tools and loop devices are there.
class RealBtrfsTest : public ::testing::Test {
protected:
    static bool Run(const QString &program, const QStringList &args, QString *out = nullptr)
    {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return false;
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        return p.exitCode() == 0;
    }

    void SetUp() override
    {
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("mkfs.btrfs")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("btrfs")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("losetup")).isEmpty())
            GTEST_SKIP() << "needs root, btrfs-progs and losetup";
        const QString dir = MakeTempDir(QStringLiteral("btrfs"));
        const QString image = dir + QStringLiteral("/fs.img");
        FMount = dir + QStringLiteral("/mnt");
        QDir().mkpath(FMount);
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(300LL << 20))
            GTEST_SKIP() << "no room for an image";
        f.close();
        if (!Run(QStringLiteral("mkfs.btrfs"), {QStringLiteral("-q"), image})
            || !Run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image}, &FLoop))
            GTEST_SKIP() << "no loop device";
        if (!Run(QStringLiteral("mount"), {FLoop, FMount})) {
            Run(QStringLiteral("losetup"), {QStringLiteral("-d"), FLoop});
            FLoop.clear();
            GTEST_SKIP() << "cannot mount";
        }
    }

    void TearDown() override
    {
        if (FLoop.isEmpty())
            return;
        Run(QStringLiteral("umount"), {FMount});
        Run(QStringLiteral("losetup"), {QStringLiteral("-d"), FLoop});
    }

    VSS_ID Snapshot(IVssBackupComponents &c, HRESULT expectedAdd = S_OK)
    {
        VSS_ID set, snap;
        EXPECT_EQ(c.StartSnapshotSet(set), S_OK);
        EXPECT_EQ(c.AddToSnapshotSet(FMount, GUID_NULL, snap), expectedAdd);
        if (expectedAdd != S_OK)
            return snap;
        std::shared_ptr<IVssAsync> async;
        EXPECT_EQ(c.DoSnapshotSet(async), S_OK);
        HRESULT result = S_OK;
        async->QueryStatus(result);
        EXPECT_EQ(result, VSS_S_ASYNC_FINISHED);
        return snap;
    }

    QString FMount, FLoop;
};

TEST_F(RealBtrfsTest, ReadOnlySnapshotAndNestedSubvolumes)
{
    WriteBytes(FMount + QStringLiteral("/probe.txt"), "before");
    const TScopedService service({NewBtrfsSnapshotProvider()});
    std::shared_ptr<IVssBackupComponents> kept;
    ASSERT_EQ(CreateVssBackupComponents(kept), S_OK);
    ASSERT_EQ(kept->InitializeForBackup(), S_OK);
    ASSERT_EQ(kept->SetContext(int32_t(VSS_CTX_CLIENT_ACCESSIBLE)), S_OK);
    const VSS_ID persistent = Snapshot(*kept);

    // Our own snapshots below the mount point are no nested subvolumes.
    std::shared_ptr<IVssBackupComponents> c;
    ASSERT_EQ(CreateVssBackupComponents(c), S_OK);
    ASSERT_EQ(c->InitializeForBackup(), S_OK);
    const VSS_ID snap = Snapshot(*c);
    VSS_SNAPSHOT_PROP prop;
    ASSERT_EQ(c->GetSnapshotProperties(snap, prop), S_OK);
    WriteBytes(FMount + QStringLiteral("/probe.txt"), "after");
    EXPECT_EQ(ReadBytes(prop.m_pwszSnapshotDeviceObject + QStringLiteral("/probe.txt")), "before");
    QFile readOnly(prop.m_pwszSnapshotDeviceObject + QStringLiteral("/probe.txt"));
    EXPECT_FALSE(readOnly.open(QIODevice::WriteOnly | QIODevice::Append));
    c.reset();
    EXPECT_FALSE(QFileInfo::exists(prop.m_pwszSnapshotDeviceObject));

    ASSERT_TRUE(Run(QStringLiteral("btrfs"), {QStringLiteral("subvolume"), QStringLiteral("create"),
                                               FMount + QStringLiteral("/nested")}));
    ASSERT_EQ(CreateVssBackupComponents(c), S_OK);
    ASSERT_EQ(c->InitializeForBackup(), S_OK);
    Snapshot(*c, VSS_E_VOLUME_NOT_SUPPORTED);

    int32_t deleted = 0;
    VSS_ID failed;
    EXPECT_EQ(kept->DeleteSnapshots(persistent, VSS_OBJECT_SNAPSHOT, false, deleted, failed), S_OK);
    EXPECT_EQ(deleted, 1);
    EXPECT_FALSE(QFileInfo::exists(FMount + QLatin1Char('/') + QLatin1String(kBtrfsSnapshotFolder)));
}

} // namespace
} // namespace vl
