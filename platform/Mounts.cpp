// Mount points from /proc/self/mountinfo: pseudo file systems count as
// junctions, so walks leave them out.
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemInternal.h"

#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace vl {

namespace {

const char *const kPseudoTypes[] = {
    "proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "autofs", "fuse.gvfsd-fuse",
    "securityfs", "debugfs", "tracefs", "pstore", "bpf", "configfs", "fusectl", "mqueue",
    "hugetlbfs", "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",
};

struct TMount {
    QByteArray Point;
    uint64_t Dev = 0;
    bool Pseudo = false;
};

struct TMountTable {
    std::vector<TMount> Mounts;
    QHash<QByteArray, int> ByPoint; // the mount visible on each point (the last one)
    QSet<uint64_t> PseudoDevs;
};

// mountinfo escapes space, tab, newline and backslash as \ooo.
QByteArray Unescape(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3'
            && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.append(char(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0')));
            i += 3;
        } else {
            out.append(s[i]);
        }
    }
    return out;
}

QByteArray ReadProcFile(const char *path)
{
    QByteArray data;
    ReadFileBytes(QString::fromUtf8(path), data);
    return data;
}

std::shared_ptr<const TMountTable> LoadTable()
{
    auto table = std::make_shared<TMountTable>();
    const QByteArray text = ReadProcFile("/proc/self/mountinfo");
    for (const QByteArray &line : text.split('\n')) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superopts
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf(QByteArray("-"));
        if (f.size() < 5 || dash < 5 || dash + 1 >= f.size())
            continue;
        TMount m;
        const QList<QByteArray> mm = f[2].split(':');
        if (mm.size() == 2)
            m.Dev = makedev(mm[0].toUInt(), mm[1].toUInt());
        m.Point = Unescape(f[4]);
        const QByteArray type = Unescape(f[dash + 1]);
        for (const char *t : kPseudoTypes)
            m.Pseudo = m.Pseudo || type == t;
        if (m.Pseudo)
            table->PseudoDevs.insert(m.Dev);
        table->ByPoint.insert(m.Point, int(table->Mounts.size()));
        table->Mounts.push_back(std::move(m));
    }
    return table;
}

// Mounts change rarely; a walk asks for every folder, so the table is read
// again only when it is older than two seconds.
std::shared_ptr<const TMountTable> Table()
{
    static std::mutex mutex;
    static std::shared_ptr<const TMountTable> cached;
    static std::chrono::steady_clock::time_point readAt;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    if (!cached || now - readAt > std::chrono::seconds(2)) {
        cached = LoadTable();
        readAt = now;
    }
    return cached;
}

// Absolute form without "." parts and extra slashes; empty when the path
// holds "..", which only the real path can settle.
QByteArray LexicalAbsolute(const QByteArray &path)
{
    QByteArray in = path;
    if (!in.startsWith('/')) {
        char *cwd = getcwd(nullptr, 0);
        if (!cwd)
            return {};
        in = QByteArray(cwd) + '/' + in;
        free(cwd);
    }
    QByteArray out;
    for (const QByteArray &part : in.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return {};
        out += '/' + part;
    }
    return out.isEmpty() ? QByteArray("/") : out;
}

const TMount *FindMount(const TMountTable &table, const QByteArray &point)
{
    const auto it = table.ByPoint.constFind(point);
    return it == table.ByPoint.cend() ? nullptr : &table.Mounts[size_t(*it)];
}

} // namespace

namespace fsi {

bool IsPseudoMountDir(const QByteArray &path, uint64_t dev)
{
    const auto table = Table();
    if (!table->PseudoDevs.contains(dev))
        return false;
    const QByteArray lexical = LexicalAbsolute(path);
    if (const TMount *m = lexical.isEmpty() ? nullptr : FindMount(*table, lexical))
        return m->Pseudo && m->Dev == dev;
    const TMount *m = FindMount(*table, fsi::RealPathNative(path));
    return m && m->Pseudo && m->Dev == dev;
}

} // namespace fsi

bool IsPseudoMountPoint(const QString &path)
{
    const QByteArray p = fsi::Native(path);
    TStatInfo st;
    return fsi::StatNative(p, false, st) == 0 && st.IsDir() && fsi::IsPseudoMountDir(p, st.Dev);
}

bool IsMountPoint(const QString &path)
{
    const QByteArray p = fsi::Native(path);
    struct statx sx;
    if (statx(AT_FDCWD, p.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, 0, &sx) == 0
        && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    // Kernels without the attribute: look the real path up in the table.
    TStatInfo st;
    if (fsi::StatNative(p, false, st) != 0 || !st.IsDir())
        return false;
    return FindMount(*Table(), fsi::RealPathNative(p)) != nullptr;
}

} // namespace vl

namespace vl::fsi {

QByteArray RealPathNative(const QByteArray &path)
{
    char *r = realpath(path.constData(), nullptr);
    if (!r)
        return {};
    QByteArray out(r);
    free(r);
    return out;
}

} // namespace vl::fsi
