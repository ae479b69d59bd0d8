// Extended attributes: the attribute bits in "user.DOSATTRIB", the archive
// stamp, named streams (the other user xattrs) and POSIX ACLs.
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemInternal.h"
#include "platform/SysErrors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vl {

namespace {

std::atomic<bool> gUserXattrsDisabled{false};

constexpr const char *kAclAccess = "system.posix_acl_access";
constexpr const char *kAclDefault = "system.posix_acl_default";

bool IsUserName(const char *name)
{
    return std::strncmp(name, "user.", 5) == 0;
}

bool BlockedForTesting(const char *name)
{
    return gUserXattrsDisabled.load(std::memory_order_relaxed) && IsUserName(name);
}

bool IsOwnName(const QByteArray &name)
{
    return name == kDosAttribXattr || name == kArchiveStampXattr;
}

// The text up to the first NUL: "0x" and hexadecimal digits. Samba's binary
// form starts with that text too; anything else holds no attributes.
bool ParseDosAttrib(const QByteArray &value, uint32_t &bits)
{
    QByteArray text = value;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    text = text.trimmed();
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    bits = 0;
    for (qsizetype i = 2; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        bits = (bits << 4) | uint32_t(digit);
    }
    return true;
}

QByteArray FormatDosAttrib(uint32_t bits)
{
    return "0x" + QByteArray::number(bits, 16);
}

QByteArray StampOf(const TStatInfo &st)
{
    const qint64 mtimeNs = qint64(st.MTime.tv_sec) * 1000000000LL + st.MTime.tv_nsec;
    return QByteArray::number(qulonglong(st.Ino)) + ':' + QByteArray::number(mtimeNs) + ':'
        + QByteArray::number(qint64(st.Size));
}

QByteArray StripNul(QByteArray v)
{
    while (v.endsWith('\0'))
        v.chop(1);
    return v;
}

bool NameIsHidden(const QByteArray &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    const qsizetype start = end > 0 ? path.lastIndexOf('/', end - 1) + 1 : 0;
    const QByteArray name = path.mid(start, end - start);
    return name.startsWith('.') && name != "." && name != "..";
}

} // namespace

namespace fsi {

bool XattrUnsupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP;
}

int XattrGet(const QByteArray &path, const char *name, bool followLink, QByteArray &value)
{
    value.clear();
    if (BlockedForTesting(name))
        return ENOTSUP;
    // Our own values are short: one call reads them.
    char small[256];
    const ssize_t first = followLink ? getxattr(path.constData(), name, small, sizeof small)
                                     : lgetxattr(path.constData(), name, small, sizeof small);
    if (first >= 0) {
        value = QByteArray(small, first);
        return 0;
    }
    if (errno != ERANGE)
        return errno;
    for (;;) {
        const ssize_t size = followLink ? getxattr(path.constData(), name, nullptr, 0)
                                        : lgetxattr(path.constData(), name, nullptr, 0);
        if (size < 0)
            return errno;
        value.resize(size);
        const ssize_t got = followLink ? getxattr(path.constData(), name, value.data(), size_t(size))
                                       : lgetxattr(path.constData(), name, value.data(), size_t(size));
        if (got >= 0) {
            value.resize(got);
            return 0;
        }
        if (errno != ERANGE) // grew in between: ask again
            return errno;
    }
}

int XattrSet(const QByteArray &path, const char *name, const QByteArray &value, bool followLink)
{
    if (BlockedForTesting(name))
        return ENOTSUP;
    const int rc = followLink ? setxattr(path.constData(), name, value.constData(), size_t(value.size()), 0)
                              : lsetxattr(path.constData(), name, value.constData(), size_t(value.size()), 0);
    return rc == 0 ? 0 : errno;
}

int XattrRemove(const QByteArray &path, const char *name, bool followLink)
{
    if (BlockedForTesting(name))
        return ENOTSUP;
    const int rc = followLink ? removexattr(path.constData(), name) : lremovexattr(path.constData(), name);
    return rc == 0 ? 0 : errno;
}

int XattrList(const QByteArray &path, bool followLink, QList<QByteArray> &names)
{
    names.clear();
    QByteArray buf;
    for (;;) {
        const ssize_t size = followLink ? listxattr(path.constData(), nullptr, 0)
                                        : llistxattr(path.constData(), nullptr, 0);
        if (size < 0)
            return errno;
        buf.resize(size);
        const ssize_t got = followLink ? listxattr(path.constData(), buf.data(), size_t(size))
                                       : llistxattr(path.constData(), buf.data(), size_t(size));
        if (got >= 0) {
            buf.resize(got);
            break;
        }
        if (errno != ERANGE)
            return errno;
    }
    for (const QByteArray &n : buf.split('\0')) {
        if (!n.isEmpty() && !BlockedForTesting(n.constData()))
            names.append(n);
    }
    return 0;
}

int WithOwnerWrite(const QByteArray &path, const std::function<int()> &write)
{
    int err = write();
    if (err != EACCES)
        return err;
    struct stat s;
    if (stat(path.constData(), &s) != 0 || s.st_uid != geteuid() || (s.st_mode & S_IWUSR))
        return err;
    const mode_t mode = s.st_mode & 07777;
    if (chmod(path.constData(), mode | S_IWUSR) != 0)
        return err;
    err = write();
    if (chmod(path.constData(), mode) != 0 && err == 0)
        err = errno;
    return err;
}

uint32_t CopyUserXattrs(const QByteArray &source, const QByteArray &dest, bool includeOwn)
{
    QList<QByteArray> srcNames, dstNames;
    int err = XattrList(source, true, srcNames);
    if (err && !XattrUnsupported(err))
        return PathError(err, source);
    bool notSupported = false;
    QList<QByteArray> copied;
    for (const QByteArray &name : srcNames) {
        if (!IsUserName(name.constData()) || (!includeOwn && IsOwnName(name)))
            continue;
        QByteArray value;
        err = XattrGet(source, name.constData(), true, value);
        if (err == ENODATA)
            continue; // removed meanwhile
        if (err)
            return PathError(err, source);
        err = WithOwnerWrite(dest, [&] { return XattrSet(dest, name.constData(), value, true); });
        if (XattrUnsupported(err)) {
            notSupported = true;
            break;
        }
        if (err)
            return PathError(err, dest);
        copied.append(name);
    }
    err = XattrList(dest, true, dstNames);
    if (err && !XattrUnsupported(err))
        return PathError(err, dest);
    for (const QByteArray &name : dstNames) {
        if (!IsUserName(name.constData()) || (!includeOwn && IsOwnName(name)) || copied.contains(name))
            continue;
        err = WithOwnerWrite(dest, [&] { return XattrRemove(dest, name.constData(), true); });
        if (err && err != ENODATA)
            return PathError(err, dest);
    }
    return notSupported ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
}

uint32_t CopyPermissionsNative(const QByteArray &source, const QByteArray &dest)
{
    struct stat s;
    if (stat(source.constData(), &s) != 0)
        return PathError(errno, source);
    if (geteuid() == 0 && chown(dest.constData(), s.st_uid, s.st_gid) != 0)
        return PathError(errno, dest);
    // After chown, which clears set-id bits.
    if (chmod(dest.constData(), s.st_mode & 07777) != 0)
        return PathError(errno, dest);
    bool notSupported = false;
    for (const char *acl : {kAclAccess, kAclDefault}) {
        QByteArray value;
        int err = XattrGet(source, acl, true, value);
        if (err == 0) {
            err = XattrSet(dest, acl, value, true);
            if (XattrUnsupported(err))
                notSupported = true;
            else if (err)
                return PathError(err, dest);
        } else if (err == ENODATA || XattrUnsupported(err)) {
            err = XattrRemove(dest, acl, true);
            if (err && err != ENODATA && !XattrUnsupported(err))
                return PathError(err, dest);
        } else {
            return PathError(err, source);
        }
    }
    return notSupported ? ERROR_NOT_SUPPORTED : ERROR_SUCCESS;
}

} // namespace fsi

using namespace fsi;

void SetUserXattrsDisabledForTesting(bool disabled)
{
    gUserXattrsDisabled = disabled;
}

bool UserXattrsSupported(const QString &path)
{
    QByteArray p = Native(path);
    for (;;) {
        QByteArray value;
        const int err = XattrGet(p, "user.velkor.probe", true, value);
        if (err == ENOENT && p.contains('/') && p != "/") {
            // Not there yet: ask the folder that will hold it.
            const qsizetype slash = p.lastIndexOf('/', p.endsWith('/') ? p.size() - 2 : -1);
            p = slash <= 0 ? QByteArray("/") : p.left(slash);
            continue;
        }
        return !XattrUnsupported(err);
    }
}

namespace {

// listxattrat(2) (Linux 6.13): the names of an entry looked up from its
// open folder. Older kernels answer ENOSYS once; the path form serves then.
#ifndef SYS_listxattrat
#define SYS_listxattrat 465
#endif
std::atomic<bool> gNoXattrAt{false};

ssize_t ListXattrNames(const QByteArray &path, bool followLink, char *buf, size_t size)
{
    int dirfd = -1;
    const char *name = nullptr;
    if (!gNoXattrAt.load(std::memory_order_relaxed) && LookupInScope(path, dirfd, name)) {
        const long n = syscall(SYS_listxattrat, dirfd, name, followLink ? 0 : AT_SYMLINK_NOFOLLOW, buf, size);
        if (n >= 0 || errno != ENOSYS)
            return ssize_t(n);
        gNoXattrAt.store(true, std::memory_order_relaxed);
    }
    return followLink ? listxattr(path.constData(), buf, size) : llistxattr(path.constData(), buf, size);
}

} // namespace

uint32_t AttrFromStat(const QString &path, const TStatInfo &st, bool followLink)
{
    const QByteArray p = Native(path);
    uint32_t attr = NameIsHidden(p) ? uint32_t(faHidden) : 0u;
    if (st.IsLink()) {
        // A link to a folder shows as a folder that is a reparse point, so
        // walks see it as a linked folder, not as a file.
        TStatInfo target;
        if (StatNative(p, true, target) == 0 && target.IsDir())
            attr |= faDirectory;
        return attr | faReparsePoint; // user xattrs cannot sit on a link
    }
    if (st.IsDir()) {
        attr |= faDirectory;
        if (IsPseudoMountDir(p, st.Dev))
            return attr | faReparsePoint;
    }
    if (!(st.Mode & S_IWUSR))
        attr |= faReadOnly;
    // One listing tells which of our two names the file has: most files
    // have none, and asking for a missing name costs a lookup of its own.
    bool hasDos = true, hasStamp = true;
    int err = 0;
    char names[1024];
    const ssize_t listed = ListXattrNames(p, followLink, names, sizeof names);
    if (listed >= 0) {
        hasDos = hasStamp = false;
        for (const char *n = names; n < names + listed; n += std::strlen(n) + 1) {
            hasDos = hasDos || std::strcmp(n, kDosAttribXattr) == 0;
            hasStamp = hasStamp || std::strcmp(n, kArchiveStampXattr) == 0;
        }
    } else if (errno != ERANGE) { // a long list: ask for the names themselves
        err = errno;
    }
    if (gUserXattrsDisabled.load(std::memory_order_relaxed))
        err = ENOTSUP;
    QByteArray value;
    if (err == 0)
        err = hasDos ? XattrGet(p, kDosAttribXattr, followLink, value) : ENODATA;
    uint32_t dos = 0;
    if (err == 0 && ParseDosAttrib(value, dos))
        attr |= dos & (faReadOnly | faHidden | faSysFile | faArchive);
    if (st.IsRegular() && !(attr & faArchive)) {
        QByteArray stamp;
        if (XattrUnsupported(err) || !hasStamp || XattrGet(p, kArchiveStampXattr, followLink, stamp) != 0
            || StripNul(stamp) != StampOf(st))
            attr |= faArchive;
    }
    return attr;
}

uint32_t GetFileAttr(const QString &path, bool followLink, uint32_t &attr)
{
    attr = faInvalid;
    const QByteArray p = Native(path);
    TStatInfo st;
    if (const int err = StatNative(p, followLink, st))
        return PathError(err, p);
    attr = AttrFromStat(path, st, followLink);
    return ERROR_SUCCESS;
}

uint32_t SetFileAttr(const QString &path, uint32_t attr, bool followLink)
{
    const QByteArray p = Native(path);
    TStatInfo st;
    if (const int err = StatNative(p, followLink, st))
        return PathError(err, p);
    if (st.IsLink())
        return ERROR_SUCCESS; // Linux keeps neither mode nor xattrs of a link itself
    const mode_t mode = st.Mode & 07777;
    const mode_t newMode = (attr & faReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
    // Xattrs need write access: make the file writable first, read-only last.
    if (newMode != mode && (newMode & S_IWUSR) && chmod(p.constData(), newMode) != 0)
        return PathError(errno, p);
    if (st.IsRegular() || st.IsDir()) {
        const uint32_t dos = attr & (faHidden | faSysFile | faArchive);
        const int err = WithOwnerWrite(p, [&] {
            // A alone is what a file without our attributes and without an
            // archive stamp reads as: such a file (every fresh copy) keeps
            // no attribute value, which spares each later look at it a read.
            QByteArray stamp;
            if (dos == faArchive && st.IsRegular() && XattrGet(p, kArchiveStampXattr, true, stamp) == ENODATA) {
                const int e = XattrRemove(p, kDosAttribXattr, true);
                return e == ENODATA ? 0 : e;
            }
            int e = XattrSet(p, kDosAttribXattr, FormatDosAttrib(dos), true);
            if (e == 0 && st.IsRegular() && !(attr & faArchive))
                e = XattrSet(p, kArchiveStampXattr, StampOf(st), true);
            return e;
        });
        if (err && !XattrUnsupported(err))
            return PathError(err, p);
    }
    if (newMode != mode && !(newMode & S_IWUSR) && chmod(p.constData(), newMode) != 0)
        return PathError(errno, p);
    return ERROR_SUCCESS;
}

uint32_t ResetArchiveBit(const QString &path, const TStatInfo &before)
{
    const QByteArray p = Native(path);
    const int err = WithOwnerWrite(p, [&] {
        // The stamp first: should clearing the bit below fail, A stays set.
        int e = XattrSet(p, kArchiveStampXattr, StampOf(before), true);
        if (e)
            return e;
        QByteArray value;
        uint32_t dos = 0;
        e = XattrGet(p, kDosAttribXattr, true, value);
        if (e == 0 && ParseDosAttrib(value, dos) && (dos & faArchive))
            return XattrSet(p, kDosAttribXattr, FormatDosAttrib(dos & ~uint32_t(faArchive)), true);
        return e == ENODATA ? 0 : e;
    });
    if (XattrUnsupported(err))
        return ERROR_NOT_SUPPORTED;
    return err ? PathError(err, p) : ERROR_SUCCESS;
}

uint32_t ListStreams(const QString &path, QStringList &names, bool followLink)
{
    names.clear();
    const QByteArray p = Native(path);
    QList<QByteArray> all;
    const int err = XattrList(p, followLink, all);
    if (XattrUnsupported(err))
        return ERROR_SUCCESS;
    if (err)
        return PathError(err, p);
    for (const QByteArray &n : all) {
        if (IsUserName(n.constData()) && !IsOwnName(n))
            names.append(DecodeFileName(n.mid(5)));
    }
    return ERROR_SUCCESS;
}

uint32_t CopyStreams(const QString &source, const QString &dest)
{
    return CopyUserXattrs(Native(source), Native(dest), false);
}

uint32_t CopyPermissions(const QString &source, const QString &dest)
{
    return CopyPermissionsNative(Native(source), Native(dest));
}

} // namespace vl
