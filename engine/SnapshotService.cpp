#include "engine/SnapshotService.h"

#include "core/FileTimes.h"
#include "engine/VssWriters.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>

namespace fs = std::filesystem;

namespace vl {

namespace {

constexpr HRESULT VSS_E_PROVIDER_NOT_REGISTERED = MakeHResult(0x80042304u);

const VSS_ID kTestProviderId{0x6A0D93B1, 0x27C4, 0x4E58, 0x9B, 0x31, 0x52, 0x8E, 0x0C, 0x7D, 0x41, 0xA2};
const VSS_ID kBtrfsProviderId{0x3F8E2C17, 0x5B90, 0x4D2A, 0x8E, 0x64, 0x1C, 0x7B, 0x93, 0xA0, 0x5D, 0x11};
const VSS_ID kLvmProviderId{0xC2B7419E, 0x0F53, 0x4A86, 0xA7, 0x1D, 0xE4, 0x28, 0x6B, 0x9C, 0x30, 0xF5};

QString IdText(const VSS_ID &id)
{
    return id.toString(QUuid::WithoutBraces).toLower();
}

// ---- Tools ----

struct TToolResult {
    int ExitCode = -1;
    QString Output;
    QString Error;
};

// The system tools live in sbin folders, which a user's search path may lack.
QString ToolPath(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

bool ToolPresent(const char *name)
{
    return !ToolPath(QString::fromLatin1(name)).isEmpty();
}

TToolResult RunTool(const QString &program, const QStringList &args)
{
    TToolResult r;
    const QString path = ToolPath(program);
    if (path.isEmpty()) {
        r.Error = program + QStringLiteral(": not found");
        return r;
    }
    QProcess p;
    p.start(path, args);
    if (!p.waitForStarted()) {
        r.Error = p.errorString();
        return r;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(10 * 60 * 1000)) {
        p.kill();
        p.waitForFinished();
        r.Error = QStringLiteral("timed out");
        return r;
    }
    r.Output = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.Error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}



// ---- Test provider: a frozen copy ----

bool SameDevice(const fs::path &p, dev_t dev)
{
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && st.st_dev == dev;
}

// Entries below root on its file system, not counting skip; stops past limit.
int CountEntries(const fs::path &root, const fs::path &skip, int limit)
{
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0)
        return -1;
    int n = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    if (ec)
        return -1;
    for (; it != end; it.increment(ec)) {
        if (ec)
            return -1;
        const fs::path p = it->path();
        if (p == skip || !SameDevice(p, st.st_dev)) {
            it.disable_recursion_pending();
            continue;
        }
        if (++n > limit)
            return n;
    }
    return n;
}

void SetTreeWritable(const fs::path &root, bool writable)
{
    std::error_code ec;
    const auto apply = [&](const fs::path &p) {
        if (fs::is_symlink(p, ec))
            return;
        fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        writable ? fs::perm_options::add : fs::perm_options::remove, ec);
        if (writable)
            fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
    };
    if (writable)
        apply(root);
    std::vector<fs::path> all;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (writable)
            apply(it->path());
        else
            all.push_back(it->path());
    }
    if (!writable) {
        for (auto p = all.rbegin(); p != all.rend(); ++p)
            apply(*p);
        apply(root);
    }
}

// Copies the tree of source (one file system) into target, keeping times.
bool CopyTree(const fs::path &source, const fs::path &target, const fs::path &skip, dev_t dev, QString &error)
{
    std::error_code ec;
    fs::create_directory(target, ec);
    if (ec) {
        error = QString::fromStdString(ec.message());
        return false;
    }
    fs::directory_iterator it(source, ec), end;
    if (ec) {
        error = QString::fromStdString(source.string() + ": " + ec.message());
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            error = QString::fromStdString(ec.message());
            return false;
        }
        const fs::path p = it->path();
        if (p == skip)
            continue;
        const fs::path t = target / p.filename();
        const fs::file_status s = fs::symlink_status(p, ec);
        if (fs::is_symlink(s)) {
            fs::copy_symlink(p, t, ec);
        } else if (fs::is_directory(s)) {
            if (!SameDevice(p, dev)) {
                fs::create_directory(t, ec); // another mount: not part of this volume
            } else if (!CopyTree(p, t, skip, dev, error)) {
                return false;
            }
        } else if (fs::is_regular_file(s)) {
            fs::copy_file(p, t, fs::copy_options::none, ec);
            if (!ec)
                fs::last_write_time(t, fs::last_write_time(p, ec), ec);
        } else {
            continue; // devices, pipes and sockets are not backed up
        }
        if (ec) {
            error = QString::fromStdString(p.string() + ": " + ec.message());
            return false;
        }
    }
    fs::permissions(target, fs::status(source, ec).permissions(), ec);
    fs::last_write_time(target, fs::last_write_time(source, ec), ec);
    return true;
}

class TTestProvider : public ISnapshotProvider {
public:
    TTestProvider(QString folder, int maxEntries) : FFolder(std::move(folder)), FMaxEntries(maxEntries) {}
    QString Name() const override { return QStringLiteral("test"); }
    VSS_ID ProviderId() const override { return kTestProviderId; }
    bool Available() const override { return true; }
    bool Fits(const TVolume &Volume, QString &Reason) const override
    {
        const int n = CountEntries(Volume.MountPoint.toStdString(), FFolder.toStdString(), FMaxEntries);
        if (n < 0) {
            Reason = QStringLiteral("cannot read the volume");
            return false;
        }
        if (n > FMaxEntries) {
            Reason = QStringLiteral("too many files for a copy");
            return false;
        }
        return true;
    }
    HRESULT Create(const TVolume &Volume, TSnapshotRecord &Snapshot) override
    {
        QDir().mkpath(FFolder);
        const QString root = QDir(FFolder).filePath(IdText(Snapshot.Prop.m_SnapshotId));
        struct stat st {};
        if (::stat(QFile::encodeName(Volume.MountPoint).constData(), &st) != 0)
            return VSS_E_OBJECT_NOT_FOUND;
        QString error;
        if (!CopyTree(Volume.MountPoint.toStdString(), root.toStdString(), FFolder.toStdString(), st.st_dev, error)) {
            Remove(root);
            return VSS_E_PROVIDER_VETO;
        }
        SetTreeWritable(root.toStdString(), false);
        Snapshot.Prop.m_pwszSnapshotDeviceObject = root;
        Snapshot.ProviderData = root;
        return S_OK;
    }
    HRESULT Delete(const TSnapshotRecord &Snapshot) override
    {
        return Remove(Snapshot.ProviderData) ? S_OK : VSS_E_PROVIDER_VETO;
    }

private:
    static bool Remove(const QString &root)
    {
        std::error_code ec;
        if (!fs::exists(root.toStdString(), ec))
            return true;
        SetTreeWritable(root.toStdString(), true);
        fs::remove_all(root.toStdString(), ec);
        return !ec;
    }

    QString FFolder;
    int FMaxEntries;
};

// ---- btrfs ----

class TBtrfsProvider : public ISnapshotProvider {
public:
    QString Name() const override { return QStringLiteral("btrfs"); }
    VSS_ID ProviderId() const override { return kBtrfsProviderId; }
    bool Available() const override { return ToolPresent("btrfs"); }
    bool Fits(const TVolume &Volume, QString &Reason) const override
    {
        if (Volume.FsType != QLatin1String("btrfs")) {
            Reason = QStringLiteral("no btrfs file system");
            return false;
        }
        struct stat st {};
        // The root folder of every btrfs subvolume has inode 256.
        if (::stat(QFile::encodeName(Volume.MountPoint).constData(), &st) != 0 || st.st_ino != 256) {
            Reason = QStringLiteral("the mount point is no subvolume");
            return false;
        }
        const TToolResult r = RunTool(QStringLiteral("btrfs"), BtrfsListNestedArgs(Volume.MountPoint));
        if (r.ExitCode != 0) {
            Reason = r.Error;
            return false;
        }
        if (BtrfsHasNestedSubvolumes(r.Output, Volume.FsRoot)) {
            Reason = QStringLiteral("the subvolume holds nested subvolumes");
            return false;
        }
        return true;
    }
    HRESULT Create(const TVolume &Volume, TSnapshotRecord &Snapshot) override
    {
        const QString target = BtrfsSnapshotPath(Volume.MountPoint, Snapshot.Prop.m_SnapshotId);
        const QString folder = QFileInfo(target).path();
        if (!QDir().mkpath(folder))
            return E_ACCESSDENIED;
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const TToolResult r = RunTool(QStringLiteral("btrfs"), BtrfsSnapshotArgs(Volume.MountPoint, target));
        if (r.ExitCode != 0) {
            QDir().rmdir(folder);
            return VSS_E_PROVIDER_VETO;
        }
        Snapshot.Prop.m_pwszSnapshotDeviceObject = target;
        Snapshot.ProviderData = target;
        return S_OK;
    }
    HRESULT Delete(const TSnapshotRecord &Snapshot) override
    {
        if (!QFileInfo::exists(Snapshot.ProviderData))
            return S_OK;
        const TToolResult r = RunTool(QStringLiteral("btrfs"), BtrfsDeleteArgs(Snapshot.ProviderData));
        if (r.ExitCode != 0)
            return VSS_E_PROVIDER_VETO;
        QDir().rmdir(QFileInfo(Snapshot.ProviderData).path()); // only when empty
        return S_OK;
    }
};

// ---- LVM ----

class TLvmProvider : public ISnapshotProvider {
public:
    QString Name() const override { return QStringLiteral("lvm"); }
    VSS_ID ProviderId() const override { return kLvmProviderId; }
    bool Available() const override { return ToolPresent("lvcreate") && ToolPresent("lvs"); }
    bool Fits(const TVolume &Volume, QString &Reason) const override
    {
        QString vg, lv, attr;
        return Query(Volume, vg, lv, attr, Reason);
    }
    HRESULT Create(const TVolume &Volume, TSnapshotRecord &Snapshot) override
    {
        QString vg, lv, attr, reason;
        if (!Query(Volume, vg, lv, attr, reason))
            return VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER;
        const QString snap = LvmSnapshotName(Snapshot.Prop.m_SnapshotId);
        const bool thin = attr.startsWith(QLatin1Char('V'));
        if (RunTool(QStringLiteral("lvcreate"), LvmCreateArgs(vg, lv, snap, thin)).ExitCode != 0)
            return VSS_E_PROVIDER_VETO;
        const QString folder = LvmMountFolder(Snapshot.Prop.m_SnapshotId);
        const QString device = QStringLiteral("/dev/%1/%2").arg(vg, snap);
        if (!QDir().mkpath(folder)
            || RunTool(QStringLiteral("mount"), LvmMountArgs(device, folder, Volume.FsType)).ExitCode != 0) {
            QDir().rmdir(folder);
            RunTool(QStringLiteral("lvremove"), LvmRemoveArgs(vg, snap));
            return VSS_E_PROVIDER_VETO;
        }
        // The mount may show a folder of the file system (a bind mount):
        // the snapshot's root is that folder in the copy.
        Snapshot.Prop.m_pwszSnapshotDeviceObject = LvmSnapshotRoot(folder, Volume.FsRoot);
        Snapshot.ProviderData = QStringList{vg, snap, folder}.join(QLatin1Char('\n'));
        return S_OK;
    }
    HRESULT Delete(const TSnapshotRecord &Snapshot) override
    {
        const QStringList parts = Snapshot.ProviderData.split(QLatin1Char('\n'));
        if (parts.size() != 3)
            return VSS_E_UNEXPECTED_PROVIDER_ERROR;
        if (QFileInfo::exists(parts[2])) {
            RunTool(QStringLiteral("umount"), {parts[2]});
            QDir().rmdir(parts[2]);
            if (QFileInfo::exists(parts[2]))
                return VSS_E_PROVIDER_VETO; // still mounted
        }
        if (RunTool(QStringLiteral("lvremove"), LvmRemoveArgs(parts[0], parts[1])).ExitCode != 0)
            return VSS_E_PROVIDER_VETO;
        return S_OK;
    }

private:
    static bool Query(const TVolume &Volume, QString &vg, QString &lv, QString &attr, QString &Reason)
    {
        if (Volume.FsType == QLatin1String("btrfs") || Volume.Network || Volume.Ram
            || !Volume.Source.startsWith(QLatin1String("/dev/"))) {
            Reason = QStringLiteral("no logical volume");
            return false;
        }
        const TToolResult r = RunTool(QStringLiteral("lvs"), LvmQueryArgs(Volume.Source));
        if (r.ExitCode != 0 || !ParseLvmQuery(r.Output, vg, lv, attr)) {
            Reason = QStringLiteral("no logical volume");
            return false;
        }
        if (attr.startsWith(QLatin1Char('s'))) {
            Reason = QStringLiteral("the logical volume is a snapshot");
            return false;
        }
        return true;
    }
};

// ---- Providers in use ----

std::mutex gMutex;
std::optional<TSnapshotProviders> gTestProviders;
std::optional<std::vector<TWriterDesc>> gTestWriters;

// ---- Registry of snapshots ----

struct TLiveSnapshot {
    TSnapshotRecord Record;
    const void *Owner = nullptr;
};
std::vector<TLiveSnapshot> gLive; // those of this process without the persistent bit

QString RegistryFile()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/velkor/snapshots.json");
}

QJsonObject RecordToJson(const TSnapshotRecord &r)
{
    const VSS_SNAPSHOT_PROP &p = r.Prop;
    return QJsonObject{
        {QStringLiteral("id"), GuidToString(p.m_SnapshotId)},
        {QStringLiteral("set"), GuidToString(p.m_SnapshotSetId)},
        {QStringLiteral("count"), p.m_lSnapshotsCount},
        {QStringLiteral("device"), p.m_pwszSnapshotDeviceObject},
        {QStringLiteral("volume"), p.m_pwszOriginalVolumeName},
        {QStringLiteral("machine"), p.m_pwszOriginatingMachine},
        {QStringLiteral("service"), p.m_pwszServiceMachine},
        {QStringLiteral("providerId"), GuidToString(p.m_ProviderId)},
        {QStringLiteral("attributes"), p.m_lSnapshotAttributes},
        {QStringLiteral("created"), QString::number(p.m_tsCreationTimestamp)},
        {QStringLiteral("provider"), r.ProviderName},
        {QStringLiteral("mountPoint"), r.MountPoint},
        {QStringLiteral("data"), r.ProviderData},
        {QStringLiteral("ownerPid"), QString::number(r.OwnerPid)},
    };
}

TSnapshotRecord RecordFromJson(const QJsonObject &o)
{
    TSnapshotRecord r;
    VSS_SNAPSHOT_PROP &p = r.Prop;
    StringToGuid(o.value(QStringLiteral("id")).toString(), p.m_SnapshotId);
    StringToGuid(o.value(QStringLiteral("set")).toString(), p.m_SnapshotSetId);
    p.m_lSnapshotsCount = o.value(QStringLiteral("count")).toInt();
    p.m_pwszSnapshotDeviceObject = o.value(QStringLiteral("device")).toString();
    p.m_pwszOriginalVolumeName = o.value(QStringLiteral("volume")).toString();
    p.m_pwszOriginatingMachine = o.value(QStringLiteral("machine")).toString();
    p.m_pwszServiceMachine = o.value(QStringLiteral("service")).toString();
    StringToGuid(o.value(QStringLiteral("providerId")).toString(), p.m_ProviderId);
    p.m_lSnapshotAttributes = o.value(QStringLiteral("attributes")).toInt();
    p.m_tsCreationTimestamp = o.value(QStringLiteral("created")).toString().toLongLong();
    p.m_eStatus = VSS_SS_CREATED;
    r.ProviderName = o.value(QStringLiteral("provider")).toString();
    r.MountPoint = o.value(QStringLiteral("mountPoint")).toString();
    r.ProviderData = o.value(QStringLiteral("data")).toString();
    r.OwnerPid = o.value(QStringLiteral("ownerPid")).toString().toLongLong();
    return r;
}

// Under gMutex.
std::vector<TSnapshotRecord> LoadPersistent()
{
    std::vector<TSnapshotRecord> list;
    QFile f(RegistryFile());
    if (!f.open(QIODevice::ReadOnly))
        return list;
    const QJsonArray a = QJsonDocument::fromJson(f.readAll()).array();
    for (const auto &v : a)
        list.push_back(RecordFromJson(v.toObject()));
    return list;
}

bool SavePersistent(const std::vector<TSnapshotRecord> &list)
{
    QJsonArray a;
    for (const auto &r : list)
        a.append(RecordToJson(r));
    const QString name = RegistryFile();
    QDir().mkpath(QFileInfo(name).path());
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QJsonDocument(a).toJson());
    return f.commit();
}

bool ProcessAlive(int64_t pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A snapshot of a process that ended without deleting it.
bool Orphaned(const TSnapshotRecord &r)
{
    return r.OwnerPid != 0 && r.OwnerPid != ::getpid() && !ProcessAlive(r.OwnerPid);
}

std::vector<TSnapshotRecord> AllSnapshots()
{
    std::lock_guard lock(gMutex);
    std::vector<TSnapshotRecord> all;
    for (const auto &r : LoadPersistent())
        if (r.OwnerPid != ::getpid() && !Orphaned(r))
            all.push_back(r);
    for (const auto &l : gLive)
        all.push_back(l.Record);
    return all;
}

std::shared_ptr<ISnapshotProvider> ProviderNamed(const QString &name)
{
    for (const auto &p : SnapshotProviders())
        if (p->Name() == name)
            return p;
    // A persistent snapshot of a provider that is not in use now.
    if (name == QLatin1String("btrfs"))
        return NewBtrfsSnapshotProvider();
    if (name == QLatin1String("lvm"))
        return NewLvmSnapshotProvider();
    return nullptr;
}

// Deletes one snapshot of the registry.
HRESULT DeleteRecord(const TSnapshotRecord &r)
{
    const auto provider = ProviderNamed(r.ProviderName);
    if (!provider)
        return VSS_E_PROVIDER_NOT_REGISTERED;
    const HRESULT hr = provider->Delete(r);
    if (hr < 0)
        return hr;
    std::lock_guard lock(gMutex);
    const auto same = [&](const TSnapshotRecord &x) { return x.Prop.m_SnapshotId == r.Prop.m_SnapshotId; };
    gLive.erase(std::remove_if(gLive.begin(), gLive.end(), [&](const TLiveSnapshot &l) { return same(l.Record); }),
                gLive.end());
    std::vector<TSnapshotRecord> list = LoadPersistent();
    const auto end = std::remove_if(list.begin(), list.end(), same);
    if (end == list.end())
        return S_OK;
    list.erase(end, list.end());
    return SavePersistent(list) || r.OwnerPid != 0 ? S_OK : E_ACCESSDENIED;
}

void DeleteOrphans()
{
    std::vector<TSnapshotRecord> orphans;
    {
        std::lock_guard lock(gMutex);
        for (const auto &r : LoadPersistent())
            if (Orphaned(r))
                orphans.push_back(r);
    }
    for (const auto &r : orphans)
        DeleteRecord(r);
}

// ---- Asynchronous operations and enumeration ----

class TCompletedAsync : public IVssAsync {
public:
    explicit TCompletedAsync(HRESULT result) : FResult(result) {}
    HRESULT Wait(uint32_t) override { return S_OK; }
    HRESULT QueryStatus(HRESULT &Result, int32_t *) override
    {
        Result = FResult;
        return S_OK;
    }

private:
    HRESULT FResult;
};

HRESULT Completed(std::shared_ptr<IVssAsync> &Async, HRESULT result = VSS_S_ASYNC_FINISHED)
{
    Async = std::make_shared<TCompletedAsync>(result);
    return S_OK;
}

class TSnapshotEnum : public IVssEnumObject {
public:
    explicit TSnapshotEnum(std::vector<TSnapshotRecord> list) : FList(std::move(list)) {}
    HRESULT Next(uint32_t Count, VSS_OBJECT_PROP *Objects, uint32_t &Fetched) override
    {
        Fetched = 0;
        if (!Objects && Count > 0)
            return E_INVALIDARG;
        while (Fetched < Count && FPos < FList.size()) {
            Objects[Fetched].Type = VSS_OBJECT_SNAPSHOT;
            Objects[Fetched].Snap = FList[FPos++].Prop;
            ++Fetched;
        }
        return Fetched == Count ? S_OK : S_FALSE;
    }

private:
    std::vector<TSnapshotRecord> FList;
    size_t FPos = 0;
};

// ---- Writer metadata ----

class TFiledesc : public IVssWMFiledesc {
public:
    explicit TFiledesc(TWriterFileDesc d) : F(std::move(d)) {}
    HRESULT GetPath(QString &Path) override { return Path = F.Path, S_OK; }
    HRESULT GetFilespec(QString &Filespec) override { return Filespec = F.Filespec, S_OK; }
    HRESULT GetRecursive(bool &Recursive) override { return Recursive = F.Recursive, S_OK; }
    HRESULT GetAlternateLocation(QString &Location) override { return Location = F.AlternateLocation, S_OK; }

private:
    TWriterFileDesc F;
};

HRESULT GetFiledesc(const std::vector<TWriterFileDesc> &list, uint32_t i, std::shared_ptr<IVssWMFiledesc> &out)
{
    out.reset();
    if (i >= list.size())
        return E_INVALIDARG;
    out = std::make_shared<TFiledesc>(list[i]);
    return S_OK;
}

class TWMComponent : public IVssWMComponent {
public:
    explicit TWMComponent(TWriterComponentDesc d) : F(std::move(d)) {}
    HRESULT GetComponentInfo(PVSSCOMPONENTINFO &Info) override
    {
        auto ci = std::make_shared<VSS_COMPONENTINFO>();
        ci->type = F.Type;
        ci->bstrLogicalPath = F.LogicalPath;
        ci->bstrComponentName = F.Name;
        ci->bstrCaption = F.Caption;
        ci->bSelectable = F.Selectable;
        ci->bNotifyOnBackupComplete = F.NotifyOnBackupComplete;
        ci->cFileCount = uint32_t(F.Files.size());
        ci->cDatabases = uint32_t(F.Databases.size());
        ci->cLogFiles = uint32_t(F.LogFiles.size());
        Info = ci;
        return S_OK;
    }
    HRESULT FreeComponentInfo(const PVSSCOMPONENTINFO &) override { return S_OK; }
    HRESULT GetFile(uint32_t i, std::shared_ptr<IVssWMFiledesc> &d) override { return GetFiledesc(F.Files, i, d); }
    HRESULT GetDatabaseFile(uint32_t i, std::shared_ptr<IVssWMFiledesc> &d) override
    {
        return GetFiledesc(F.Databases, i, d);
    }
    HRESULT GetDatabaseLogFile(uint32_t i, std::shared_ptr<IVssWMFiledesc> &d) override
    {
        return GetFiledesc(F.LogFiles, i, d);
    }

private:
    TWriterComponentDesc F;
};

class TWriterMetadata : public IVssExamineWriterMetadata {
public:
    explicit TWriterMetadata(TWriterDesc d) : F(std::move(d)) {}
    HRESULT GetIdentity(VSS_ID &InstanceId, VSS_ID &WriterId, QString &WriterName, VSS_USAGE_TYPE &Usage,
                        VSS_SOURCE_TYPE &Source) override
    {
        InstanceId = F.InstanceId;
        WriterId = F.WriterId;
        WriterName = F.Name;
        Usage = VSS_UT_USERDATA;
        Source = VSS_ST_OTHER;
        return S_OK;
    }
    HRESULT GetFileCounts(uint32_t &IncludeFiles, uint32_t &ExcludeFiles, uint32_t &Components) override
    {
        IncludeFiles = 0;
        ExcludeFiles = uint32_t(F.ExcludeFiles.size());
        Components = uint32_t(F.Components.size());
        return S_OK;
    }
    HRESULT GetExcludeFile(uint32_t i, std::shared_ptr<IVssWMFiledesc> &d) override
    {
        return GetFiledesc(F.ExcludeFiles, i, d);
    }
    HRESULT GetComponent(uint32_t i, std::shared_ptr<IVssWMComponent> &c) override
    {
        c.reset();
        if (i >= F.Components.size())
            return E_INVALIDARG;
        c = std::make_shared<TWMComponent>(F.Components[i]);
        return S_OK;
    }
    HRESULT GetRestoreMethod(VSS_RESTOREMETHOD_ENUM &Method, QString &Service, QString &UserProcedure,
                             VSS_WRITERRESTORE_ENUM &WriterRestore, bool &RebootRequired, uint32_t &Mappings) override
    {
        Method = F.RestoreMethod;
        Service.clear();
        UserProcedure.clear();
        WriterRestore = F.RestoreConditions;
        RebootRequired = F.RebootRequired;
        Mappings = 0;
        return S_OK;
    }

private:
    TWriterDesc F;
};

// ---- Backup components ----

struct TAddedComponent {
    VSS_ID InstanceId;
    VSS_ID WriterId;
    VSS_COMPONENT_TYPE Type = VSS_CT_UNDEFINED;
    QString LogicalPath;
    QString Name;
    bool Succeeded = false;
};

struct TPendingSnapshot {
    VSS_ID SnapshotId;
    QString VolumeName;
    TVolume Volume;
    std::shared_ptr<ISnapshotProvider> Provider;
};

// The volume a name stands for: a device at its shortest mount point, or a
// mount point itself.
bool ResolveVolume(const QString &name, TVolume &volume)
{
    if (name.isEmpty())
        return false;
    QString mount;
    return ShortestMountPath(name, mount) && FindMountPointVolume(ListVolumes(), mount, volume);
}

class TBackupComponents : public IVssBackupComponents {
public:
    ~TBackupComponents() override
    {
        // Snapshots without the persistent bit end with the object that made them.
        std::vector<TSnapshotRecord> own;
        {
            std::lock_guard lock(gMutex);
            for (const auto &l : gLive)
                if (l.Owner == this)
                    own.push_back(l.Record);
        }
        for (const auto &r : own)
            DeleteRecord(r);
    }

    HRESULT GetWriterComponentsCount(uint32_t &Components) override
    {
        Components = 0;
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        std::vector<VSS_ID> writers;
        for (const auto &c : FComponents)
            if (std::find(writers.begin(), writers.end(), c.InstanceId) == writers.end())
                writers.push_back(c.InstanceId);
        Components = uint32_t(writers.size());
        return S_OK;
    }

    HRESULT InitializeForBackup(const QString &XmlDoc) override
    {
        if (FInitialized)
            return VSS_E_BAD_STATE;
        if (!XmlDoc.isEmpty() && !LoadDocument(XmlDoc))
            return VSS_E_INVALID_XML_DOCUMENT;
        FInitialized = true;
        return S_OK;
    }

    HRESULT SetBackupState(bool, bool, VSS_BACKUP_TYPE BackupType, bool) override
    {
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        if (BackupType < VSS_BT_FULL || BackupType > VSS_BT_OTHER)
            return E_INVALIDARG;
        FBackupType = BackupType;
        return S_OK;
    }

    HRESULT InitializeForRestore(const QString &XmlDoc) override
    {
        if (FInitialized)
            return VSS_E_BAD_STATE;
        if (!LoadDocument(XmlDoc))
            return VSS_E_INVALID_XML_DOCUMENT;
        FInitialized = true;
        FRestore = true;
        return S_OK;
    }

    HRESULT GatherWriterMetadata(std::shared_ptr<IVssAsync> &Async) override
    {
        Async.reset();
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        std::lock_guard lock(gMutex);
        FWriters = gTestWriters ? *gTestWriters : std::vector<TWriterDesc>();
        FGathered = true;
        return Completed(Async);
    }

    HRESULT GetWriterMetadataCount(uint32_t &Writers) override
    {
        return WriterCount(FGathered, Writers);
    }

    HRESULT GetWriterMetadata(uint32_t Index, VSS_ID &InstanceId,
                              std::shared_ptr<IVssExamineWriterMetadata> &Metadata) override
    {
        Metadata.reset();
        if (!FGathered)
            return VSS_E_BAD_STATE;
        if (Index >= FWriters.size())
            return E_INVALIDARG;
        InstanceId = FWriters[Index].InstanceId;
        Metadata = NewWriterMetadata(FWriters[Index]);
        return S_OK;
    }

    HRESULT AddComponent(const VSS_ID &InstanceId, const VSS_ID &WriterId, VSS_COMPONENT_TYPE ComponentType,
                         const QString &LogicalPath, const QString &ComponentName) override
    {
        if (!FGathered)
            return VSS_E_BAD_STATE;
        const auto w = std::find_if(FWriters.begin(), FWriters.end(), [&](const TWriterDesc &d) {
            return d.InstanceId == InstanceId && d.WriterId == WriterId;
        });
        if (w == FWriters.end())
            return VSS_E_OBJECT_NOT_FOUND;
        const bool known = std::any_of(w->Components.begin(), w->Components.end(), [&](const TWriterComponentDesc &c) {
            return c.Type == ComponentType && c.LogicalPath == LogicalPath && c.Name == ComponentName;
        });
        if (!known)
            return VSS_E_OBJECT_NOT_FOUND;
        if (FindComponent(InstanceId, WriterId, LogicalPath, ComponentName))
            return VSS_E_OBJECT_ALREADY_EXISTS;
        FComponents.push_back({InstanceId, WriterId, ComponentType, LogicalPath, ComponentName, false});
        return S_OK;
    }

    HRESULT PrepareForBackup(std::shared_ptr<IVssAsync> &Async) override
    {
        Async.reset();
        if (!FInitialized || FRestore)
            return VSS_E_BAD_STATE;
        return Completed(Async);
    }

    HRESULT GatherWriterStatus(std::shared_ptr<IVssAsync> &Async) override
    {
        Async.reset();
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        FStatusGathered = true;
        return Completed(Async);
    }

    HRESULT GetWriterStatusCount(uint32_t &Writers) override
    {
        return WriterCount(FStatusGathered, Writers);
    }

    HRESULT GetWriterStatus(uint32_t Index, VSS_ID &InstanceId, VSS_ID &WriterId, QString &WriterName,
                            VSS_WRITER_STATE &State, HRESULT &Failure) override
    {
        if (!FStatusGathered)
            return VSS_E_BAD_STATE;
        if (Index >= FWriters.size())
            return E_INVALIDARG;
        const TWriterDesc &w = FWriters[Index];
        InstanceId = w.InstanceId;
        WriterId = w.WriterId;
        WriterName = w.Name;
        State = w.State;
        Failure = w.Failure;
        return S_OK;
    }

    HRESULT SetBackupSucceeded(const VSS_ID &InstanceId, const VSS_ID &WriterId, VSS_COMPONENT_TYPE,
                               const QString &LogicalPath, const QString &ComponentName, bool Succeeded) override
    {
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        TAddedComponent *c = FindComponent(InstanceId, WriterId, LogicalPath, ComponentName);
        if (!c)
            return VSS_E_OBJECT_NOT_FOUND;
        c->Succeeded = Succeeded;
        return S_OK;
    }

    HRESULT SaveAsXML(QString &Xml) override
    {
        Xml.clear();
        if (!FInitialized)
            return VSS_E_BAD_STATE;
        QXmlStreamWriter w(&Xml);
        w.setAutoFormatting(true);
        w.writeStartDocument();
        w.writeStartElement(QStringLiteral("BackupComponents"));
        w.writeAttribute(QStringLiteral("snapshotSetId"), GuidToString(FSetId));
        w.writeAttribute(QStringLiteral("context"), QString::number(FContext));
        w.writeAttribute(QStringLiteral("backupType"), QString::number(FBackupType));
        for (const auto &c : FComponents) {
            w.writeStartElement(QStringLiteral("Component"));
            w.writeAttribute(QStringLiteral("instanceId"), GuidToString(c.InstanceId));
            w.writeAttribute(QStringLiteral("writerId"), GuidToString(c.WriterId));
            w.writeAttribute(QStringLiteral("type"), QString::number(c.Type));
            w.writeAttribute(QStringLiteral("logicalPath"), c.LogicalPath);
            w.writeAttribute(QStringLiteral("name"), c.Name);
            w.writeAttribute(QStringLiteral("succeeded"), c.Succeeded ? QStringLiteral("1") : QStringLiteral("0"));
            w.writeEndElement();
        }
        for (const auto &s : FMade) {
            w.writeStartElement(QStringLiteral("Snapshot"));
            w.writeAttribute(QStringLiteral("id"), GuidToString(s.Prop.m_SnapshotId));
            w.writeAttribute(QStringLiteral("volume"), s.Prop.m_pwszOriginalVolumeName);
            w.writeAttribute(QStringLiteral("device"), s.Prop.m_pwszSnapshotDeviceObject);
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeEndDocument();
        return S_OK;
    }

    HRESULT BackupComplete(std::shared_ptr<IVssAsync> &Async) override
    {
        Async.reset();
        if (!FInitialized || FRestore)
            return VSS_E_BAD_STATE;
        return Completed(Async);
    }

    HRESULT SetContext(int32_t Context) override
    {
        if (FSetInProgress || !FMade.empty())
            return VSS_E_BAD_STATE;
        FContext = Context;
        return S_OK;
    }

    HRESULT StartSnapshotSet(VSS_ID &SnapshotSetId) override
    {
        if (!FInitialized || FRestore)
            return VSS_E_BAD_STATE;
        if (FSetInProgress)
            return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
        FSetId = QUuid::createUuid();
        FSetInProgress = true;
        FPending.clear();
        SnapshotSetId = FSetId;
        return S_OK;
    }

    HRESULT AddToSnapshotSet(const QString &VolumeName, const VSS_ID &ProviderId, VSS_ID &SnapshotId) override
    {
        SnapshotId = VSS_ID();
        if (!FSetInProgress)
            return VSS_E_BAD_STATE;
        TVolume volume;
        if (!ResolveVolume(VolumeName, volume))
            return VSS_E_OBJECT_NOT_FOUND;
        for (const auto &p : FPending)
            if (p.Volume.MountPoint == volume.MountPoint)
                return VSS_E_OBJECT_ALREADY_EXISTS;
        std::shared_ptr<ISnapshotProvider> chosen;
        QString reason;
        for (const auto &p : SnapshotProviders()) {
            if (!ProviderId.isNull() && p->ProviderId() != ProviderId)
                continue;
            if (!ProviderId.isNull() && !p->Available())
                return VSS_E_PROVIDER_NOT_REGISTERED;
            if (p->Available() && p->Fits(volume, reason)) {
                chosen = p;
                break;
            }
            if (!ProviderId.isNull())
                return VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER;
        }
        if (!chosen)
            return ProviderId.isNull() ? VSS_E_VOLUME_NOT_SUPPORTED : VSS_E_PROVIDER_NOT_REGISTERED;
        SnapshotId = QUuid::createUuid();
        FPending.push_back({SnapshotId, VolumeName, volume, chosen});
        return S_OK;
    }

    HRESULT DoSnapshotSet(std::shared_ptr<IVssAsync> &Async) override
    {
        Async.reset();
        if (!FSetInProgress || FPending.empty())
            return VSS_E_BAD_STATE;
        FSetInProgress = false;
        const bool persistent = (uint32_t(FContext) & VSS_VOLSNAP_ATTR_PERSISTENT) != 0;
        const QString machine = QSysInfo::machineHostName();
        std::vector<TSnapshotRecord> made;
        HRESULT failure = S_OK;
        for (const auto &p : FPending) {
            TSnapshotRecord r;
            r.Prop.m_SnapshotId = p.SnapshotId;
            r.Prop.m_SnapshotSetId = FSetId;
            r.Prop.m_lSnapshotsCount = int32_t(FPending.size());
            r.Prop.m_pwszOriginalVolumeName = p.VolumeName;
            r.Prop.m_pwszOriginatingMachine = machine;
            r.Prop.m_pwszServiceMachine = machine;
            r.Prop.m_ProviderId = p.Provider->ProviderId();
            r.Prop.m_lSnapshotAttributes = FContext == int32_t(VSS_CTX_ALL) ? 0 : FContext;
            r.Prop.m_tsCreationTimestamp = int64_t(NowFileTime());
            r.Prop.m_eStatus = VSS_SS_CREATED;
            r.ProviderName = p.Provider->Name();
            r.MountPoint = p.Volume.MountPoint;
            const HRESULT hr = p.Provider->Create(p.Volume, r);
            if (hr < 0) {
                failure = hr;
                break;
            }
            made.push_back(r);
        }
        if (failure >= 0) {
            std::lock_guard lock(gMutex);
            if (!persistent)
                for (auto &r : made) {
                    r.OwnerPid = ::getpid();
                    gLive.push_back({r, this});
                }
            std::vector<TSnapshotRecord> list = LoadPersistent();
            list.insert(list.end(), made.begin(), made.end());
            // Only a persistent snapshot depends on its record.
            if (!SavePersistent(list) && persistent)
                failure = E_ACCESSDENIED;
        }
        if (failure < 0) {
            // All or nothing: a set that is not whole is not kept.
            for (const auto &r : made)
                if (const auto provider = ProviderNamed(r.ProviderName))
                    provider->Delete(r);
            FPending.clear();
            return Completed(Async, failure);
        }
        FMade.insert(FMade.end(), made.begin(), made.end());
        FPending.clear();
        return Completed(Async);
    }

    HRESULT DeleteSnapshots(const VSS_ID &SourceObjectId, VSS_OBJECT_TYPE SourceObjectType, bool,
                            int32_t &DeletedSnapshots, VSS_ID &NondeletedSnapshotId) override
    {
        DeletedSnapshots = 0;
        NondeletedSnapshotId = VSS_ID();
        if (SourceObjectType != VSS_OBJECT_SNAPSHOT && SourceObjectType != VSS_OBJECT_SNAPSHOT_SET)
            return E_INVALIDARG;
        bool found = false;
        for (const auto &r : AllSnapshots()) {
            const VSS_ID &id = SourceObjectType == VSS_OBJECT_SNAPSHOT ? r.Prop.m_SnapshotId : r.Prop.m_SnapshotSetId;
            if (id != SourceObjectId)
                continue;
            found = true;
            const HRESULT hr = DeleteRecord(r);
            if (hr < 0) {
                NondeletedSnapshotId = r.Prop.m_SnapshotId;
                return hr;
            }
            ++DeletedSnapshots;
        }
        return found ? S_OK : VSS_E_OBJECT_NOT_FOUND;
    }

    HRESULT GetSnapshotProperties(const VSS_ID &SnapshotId, VSS_SNAPSHOT_PROP &Prop) override
    {
        for (const auto &r : AllSnapshots())
            if (r.Prop.m_SnapshotId == SnapshotId) {
                Prop = r.Prop;
                return S_OK;
            }
        return VSS_E_OBJECT_NOT_FOUND;
    }

    HRESULT Query(const VSS_ID &QueriedObjectId, VSS_OBJECT_TYPE QueriedObjectType,
                  VSS_OBJECT_TYPE ReturnedObjectsType, std::shared_ptr<IVssEnumObject> &Enum) override
    {
        Enum.reset();
        if (!QueriedObjectId.isNull() || QueriedObjectType != VSS_OBJECT_NONE
            || ReturnedObjectsType != VSS_OBJECT_SNAPSHOT)
            return E_INVALIDARG;
        std::vector<TSnapshotRecord> all = AllSnapshots();
        const bool none = all.empty();
        Enum = std::make_shared<TSnapshotEnum>(std::move(all));
        return none ? S_FALSE : S_OK;
    }

private:
    // The number of writers, once the step that lists them (Gathered) is done.
    HRESULT WriterCount(bool Gathered, uint32_t &Writers) const
    {
        Writers = 0;
        if (!Gathered)
            return VSS_E_BAD_STATE;
        Writers = uint32_t(FWriters.size());
        return S_OK;
    }

    TAddedComponent *FindComponent(const VSS_ID &instance, const VSS_ID &writer, const QString &logicalPath,
                                   const QString &name)
    {
        for (auto &c : FComponents)
            if (c.InstanceId == instance && c.WriterId == writer && c.LogicalPath == logicalPath && c.Name == name)
                return &c;
        return nullptr;
    }

    bool LoadDocument(const QString &xml)
    {
        QXmlStreamReader r(xml);
        if (!r.readNextStartElement() || r.name() != QLatin1String("BackupComponents"))
            return false;
        std::vector<TAddedComponent> components;
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("Component")) {
                const auto a = r.attributes();
                TAddedComponent c;
                if (!StringToGuid(a.value(QLatin1String("instanceId")).toString(), c.InstanceId)
                    || !StringToGuid(a.value(QLatin1String("writerId")).toString(), c.WriterId))
                    return false;
                c.Type = VSS_COMPONENT_TYPE(a.value(QLatin1String("type")).toInt());
                c.LogicalPath = a.value(QLatin1String("logicalPath")).toString();
                c.Name = a.value(QLatin1String("name")).toString();
                c.Succeeded = a.value(QLatin1String("succeeded")) == QLatin1String("1");
                components.push_back(c);
            }
            r.skipCurrentElement();
        }
        if (r.hasError())
            return false;
        FComponents = std::move(components);
        return true;
    }

    bool FInitialized = false;
    bool FRestore = false;
    bool FGathered = false;
    bool FStatusGathered = false;
    int32_t FContext = 0;
    VSS_BACKUP_TYPE FBackupType = VSS_BT_FULL;
    std::vector<TWriterDesc> FWriters;
    std::vector<TAddedComponent> FComponents;
    VSS_ID FSetId;
    bool FSetInProgress = false;
    std::vector<TPendingSnapshot> FPending;
    std::vector<TSnapshotRecord> FMade;
};

} // namespace

// ---- Service ----

TSnapshotProviders SnapshotProviders()
{
    {
        std::lock_guard lock(gMutex);
        if (gTestProviders)
            return *gTestProviders;
    }
    const QString testFolder = qEnvironmentVariable("VELKOR_SNAPSHOT_TEST");
    if (!testFolder.isEmpty())
        return {NewTestSnapshotProvider(testFolder)};
    return {NewBtrfsSnapshotProvider(), NewLvmSnapshotProvider()};
}

void SetSnapshotProvidersForTest(const TSnapshotProviders *providers)
{
    std::lock_guard lock(gMutex);
    if (providers)
        gTestProviders = *providers;
    else
        gTestProviders.reset();
}

bool SnapshotServiceAvailable()
{
    const TSnapshotProviders providers = SnapshotProviders();
    return std::any_of(providers.begin(), providers.end(), [](const auto &p) { return p->Available(); });
}

std::shared_ptr<IVssBackupComponents> NewSnapshotBackupComponents()
{
    DeleteOrphans();
    return std::make_shared<TBackupComponents>();
}

void SetWritersForTest(const std::vector<TWriterDesc> *writers)
{
    std::lock_guard lock(gMutex);
    if (writers)
        gTestWriters = *writers;
    else
        gTestWriters.reset();
}

std::shared_ptr<IVssExamineWriterMetadata> NewWriterMetadata(const TWriterDesc &Writer)
{
    return std::make_shared<TWriterMetadata>(Writer);
}

// ---- Providers ----

std::shared_ptr<ISnapshotProvider> NewTestSnapshotProvider(const QString &Folder, int MaxEntries)
{
    return std::make_shared<TTestProvider>(QDir::cleanPath(QDir(Folder).absolutePath()), MaxEntries);
}

std::shared_ptr<ISnapshotProvider> NewBtrfsSnapshotProvider()
{
    return std::make_shared<TBtrfsProvider>();
}

std::shared_ptr<ISnapshotProvider> NewLvmSnapshotProvider()
{
    return std::make_shared<TLvmProvider>();
}

QString BtrfsSnapshotPath(const QString &MountPoint, const VSS_ID &SnapshotId)
{
    QString m = MountPoint;
    if (!m.endsWith(QLatin1Char('/')))
        m += QLatin1Char('/');
    return m + QLatin1String(kBtrfsSnapshotFolder) + QLatin1Char('/') + IdText(SnapshotId);
}

QStringList BtrfsSnapshotArgs(const QString &MountPoint, const QString &Target)
{
    return {QStringLiteral("subvolume"), QStringLiteral("snapshot"), QStringLiteral("-r"), MountPoint, Target};
}

QStringList BtrfsListNestedArgs(const QString &MountPoint)
{
    return {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-o"), MountPoint};
}

QStringList BtrfsDeleteArgs(const QString &Target)
{
    return {QStringLiteral("subvolume"), QStringLiteral("delete"), Target};
}

bool BtrfsHasNestedSubvolumes(const QString &ListOutput, const QString &FsRoot)
{
    QString root = FsRoot;
    while (root.startsWith(QLatin1Char('/')))
        root.remove(0, 1);
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    const QString own = QLatin1String(kBtrfsSnapshotFolder);
    for (const QString &line : ListOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype at = line.indexOf(QLatin1String(" path "));
        if (at < 0)
            continue;
        QString path = line.mid(at + 6).trimmed();
        if (path.startsWith(QLatin1String("<FS_TREE>/")))
            path.remove(0, 10);
        // Our own snapshots: <root>/.velkor-snapshots/<name>, the root part
        // absent when the tool prints paths relative to the given subvolume.
        const QStringList parts = path.split(QLatin1Char('/'));
        if (parts.size() >= 2 && parts[parts.size() - 2] == own) {
            const QString prefix = parts.mid(0, parts.size() - 2).join(QLatin1Char('/'));
            if (prefix.isEmpty() || prefix == root)
                continue;
        }
        return true;
    }
    return false;
}

QString LvmSnapshotName(const VSS_ID &SnapshotId)
{
    return QStringLiteral("velkor-snap-") + SnapshotId.toString(QUuid::Id128);
}

QStringList LvmQueryArgs(const QString &Device)
{
    return {QStringLiteral("--noheadings"), QStringLiteral("--separator"), QStringLiteral(" "), QStringLiteral("-o"),
            QStringLiteral("vg_name,lv_name,lv_attr"), Device};
}

bool ParseLvmQuery(const QString &Output, QString &VgName, QString &LvName, QString &Attr)
{
    const QStringList lines = Output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() == 3 && !f[0].isEmpty() && !f[1].isEmpty() && !f[2].isEmpty()) {
            VgName = f[0];
            LvName = f[1];
            Attr = f[2];
            return true;
        }
    }
    return false;
}

QStringList LvmCreateArgs(const QString &VgName, const QString &LvName, const QString &SnapName, bool Thin)
{
    const QString origin = VgName + QLatin1Char('/') + LvName;
    if (Thin)
        return {QStringLiteral("--snapshot"), QStringLiteral("--setactivationskip"), QStringLiteral("n"),
                QStringLiteral("--name"), SnapName, origin};
    return {QStringLiteral("--snapshot"), QStringLiteral("--extents"), QStringLiteral("20%ORIGIN"),
            QStringLiteral("--name"), SnapName, origin};
}

QStringList LvmMountArgs(const QString &Device, const QString &Folder, const QString &FsType)
{
    // A copy of an XFS file system carries the origin's UUID, which XFS refuses twice.
    const QString options = FsType == QLatin1String("xfs") ? QStringLiteral("ro,nouuid") : QStringLiteral("ro");
    return {QStringLiteral("-o"), options, Device, Folder};
}

QStringList LvmRemoveArgs(const QString &VgName, const QString &SnapName)
{
    return {QStringLiteral("--yes"), QStringLiteral("--force"), VgName + QLatin1Char('/') + SnapName};
}

QString LvmSnapshotRoot(const QString &MountFolder, const QString &FsRoot)
{
    QString root = QDir::cleanPath(FsRoot);
    if (root.isEmpty() || root == QLatin1String("/"))
        return MountFolder;
    if (!root.startsWith(QLatin1Char('/')))
        root.prepend(QLatin1Char('/'));
    return MountFolder + root;
}

QString LvmMountFolder(const VSS_ID &SnapshotId)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStringLiteral("/run");
    return base + QStringLiteral("/velkor-snapshots/") + IdText(SnapshotId);
}

} // namespace vl
