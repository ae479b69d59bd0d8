#include "common/TestUtils.h"
#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace vl;

namespace {

constexpr uint32_t kRHSA = faReadOnly | faHidden | faSysFile | faArchive;

struct TToolResult {
    int ExitCode = -1;
    QByteArray Out;
};

TToolResult RunTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    TToolResult r;
    if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit)
        r.ExitCode = p.exitCode();
    r.Out = p.readAllStandardOutput();
    return r;
}

void PutFile(const QString &path, const QByteArray &data)
{
    TFile f;
    ASSERT_EQ(f.Open(path, TFile::faWrite, TFile::fcCreateAlways), ERROR_SUCCESS) << path.toStdString();
    int64_t done = 0;
    ASSERT_EQ(f.Write(data.constData(), data.size(), done), ERROR_SUCCESS);
}

uint32_t Attr(const QString &path, bool followLink = true)
{
    uint32_t attr = 0;
    EXPECT_EQ(GetFileAttr(path, followLink, attr), ERROR_SUCCESS) << path.toStdString();
    return attr;
}

uint32_t ModeOf(const QString &path)
{
    TStatInfo st;
    EXPECT_EQ(StatPath(path, false, st), ERROR_SUCCESS);
    return st.Mode & 07777;
}

QByteArray RawXattr(const QString &path, const char *name)
{
    char buf[512];
    const ssize_t n = getxattr(EncodeFileName(path).constData(), name, buf, sizeof buf);
    return n < 0 ? QByteArray() : QByteArray(buf, n);
}

QByteArray StampText(const TStatInfo &st)
{
    return QByteArray::number(qulonglong(st.Ino)) + ':'
        + QByteArray::number(qint64(st.MTime.tv_sec) * 1000000000LL + st.MTime.tv_nsec) + ':'
        + QByteArray::number(qint64(st.Size));
}

#define REQUIRE_USER_XATTRS(dir)                                                                   \
    if (!UserXattrsSupported(dir))                                                                 \
    GTEST_SKIP() << "the file system of " << (dir).toStdString() << " has no user xattrs"

struct TXattrSwitchOff {
    TXattrSwitchOff() { SetUserXattrsDisabledForTesting(true); }
    ~TXattrSwitchOff() { SetUserXattrsDisabledForTesting(false); }
};

} // namespace

TEST(FileSystem, AttributesAreStoredInDosAttribAndModeBits)
{
    const QString dir = test::MakeTempDir();
    REQUIRE_USER_XATTRS(dir);
    const QString f = dir + QStringLiteral("/file.txt");
    PutFile(f, "data");
    ASSERT_EQ(Chmod(f, 0664), ERROR_SUCCESS);

    ASSERT_EQ(SetFileAttr(f, faHidden | faSysFile | faArchive | faNormal, true), ERROR_SUCCESS);
    const TToolResult shown = RunTool(QStringLiteral("getfattr"),
                                      {QStringLiteral("--only-values"), QStringLiteral("-n"),
                                       QStringLiteral("user.DOSATTRIB"), f});
    EXPECT_EQ(shown.ExitCode, 0);
    EXPECT_EQ(shown.Out, QByteArray("0x26"));
    EXPECT_EQ(Attr(f) & kRHSA, uint32_t(faHidden | faSysFile | faArchive));

    // Read-only clears every write bit; the archive bit is cleared by a stamp.
    ASSERT_EQ(SetFileAttr(f, faReadOnly, true), ERROR_SUCCESS);
    EXPECT_EQ(ModeOf(f), 0444u);
    EXPECT_EQ(Attr(f), uint32_t(faReadOnly));
    ASSERT_EQ(SetFileAttr(f, 0, true), ERROR_SUCCESS);
    EXPECT_EQ(ModeOf(f), 0644u);
    EXPECT_EQ(Attr(f), 0u);

    // A alone on a file without an archive stamp is how a file without our
    // value reads: the value goes (every fresh copy is such a file).
    const QString fresh = dir + QStringLiteral("/fresh.txt");
    PutFile(fresh, "x");
    ASSERT_EQ(SetFileAttr(fresh, faHidden | faArchive, true), ERROR_SUCCESS);
    ASSERT_EQ(SetFileAttr(fresh, faArchive, true), ERROR_SUCCESS);
    EXPECT_TRUE(RawXattr(fresh, kDosAttribXattr).isEmpty());
    EXPECT_EQ(Attr(fresh) & kRHSA, uint32_t(faArchive));

    // A mode without the owner write bit alone makes a file read-only, and
    // a leading dot alone makes it hidden.
    const QString dot = dir + QStringLiteral("/.profile");
    PutFile(dot, "x");
    ASSERT_EQ(Chmod(dot, 0464), ERROR_SUCCESS);
    EXPECT_EQ(Attr(dot) & (faReadOnly | faHidden), uint32_t(faReadOnly | faHidden));
    ASSERT_EQ(SetFileAttr(dot, 0, true), ERROR_SUCCESS);
    EXPECT_EQ(Attr(dot) & kRHSA, uint32_t(faHidden));
    EXPECT_EQ(ModeOf(dot), 0664u);
    EXPECT_EQ(Attr(dir) & (faDirectory | faArchive | faReparsePoint), uint32_t(faDirectory));

    // Values written by other programs: text with or without a trailing NUL,
    // the binary form that starts with the text, and junk.
    struct Case {
        QByteArray Value;
        uint32_t Bits;
    };
    const Case cases[] = {
        {QByteArray("0x2"), faHidden},
        {QByteArray("0x6\0", 4), faHidden | faSysFile},
        {QByteArray("0X4"), faSysFile},
        {QByteArray("0x26\0\x03\0\x11\x22", 9), faHidden | faSysFile | faArchive},
        {QByteArray("\x01\x02\x03\x04", 4), 0},
        {QByteArray("0xzz"), 0},
        {QByteArray("32"), 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(setxattr(EncodeFileName(f).constData(), kDosAttribXattr, c.Value.constData(),
                           size_t(c.Value.size()), 0), 0);
        EXPECT_EQ(Attr(f) & kRHSA, c.Bits) << c.Value.toHex().constData();
    }
}

TEST(FileSystem, ArchiveBitFollowsContentAndIdentity)
{
    const QString dir = test::MakeTempDir();
    REQUIRE_USER_XATTRS(dir);
    const QString f = dir + QStringLiteral("/f");
    PutFile(f, "first");
    EXPECT_TRUE(Attr(f) & faArchive) << "a file never backed up";

    TStatInfo st;
    ASSERT_EQ(StatPath(f, true, st), ERROR_SUCCESS);
    ASSERT_EQ(ResetArchiveBit(f, st), ERROR_SUCCESS);
    EXPECT_EQ(RawXattr(f, kArchiveStampXattr), StampText(st));
    EXPECT_FALSE(Attr(f) & faArchive);

    // Rewritten in place with the same size.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PutFile(f, "again");
    EXPECT_TRUE(Attr(f) & faArchive);

    // A stat taken before a later change keeps the file counted as changed.
    ASSERT_EQ(StatPath(f, true, st), ERROR_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PutFile(f, "changed while it was copied");
    ASSERT_EQ(ResetArchiveBit(f, st), ERROR_SUCCESS);
    EXPECT_TRUE(Attr(f) & faArchive);

    // cp -a keeps xattrs and mtime but makes a new inode: a changed file.
    ASSERT_EQ(StatPath(f, true, st), ERROR_SUCCESS);
    ASSERT_EQ(ResetArchiveBit(f, st), ERROR_SUCCESS);
    ASSERT_FALSE(Attr(f) & faArchive);
    const QString copy = dir + QStringLiteral("/copy");
    ASSERT_EQ(RunTool(QStringLiteral("cp"), {QStringLiteral("-a"), f, copy}).ExitCode, 0);
    TStatInfo cst;
    ASSERT_EQ(StatPath(copy, true, cst), ERROR_SUCCESS);
    ASSERT_EQ(RawXattr(copy, kArchiveStampXattr), StampText(st)) << "cp -a kept the stamp";
    ASSERT_EQ(cst.MTime.tv_nsec, st.MTime.tv_nsec);
    EXPECT_TRUE(Attr(copy) & faArchive);

    // A set explicitly lives in DOSATTRIB until the next reset.
    ASSERT_EQ(SetFileAttr(f, faArchive, true), ERROR_SUCCESS);
    EXPECT_TRUE(Attr(f) & faArchive);
    ASSERT_EQ(ResetArchiveBit(f, st), ERROR_SUCCESS);
    EXPECT_FALSE(Attr(f) & faArchive);
    EXPECT_EQ(RawXattr(f, kDosAttribXattr), QByteArray("0x0"));
}

TEST(FileSystem, WithoutUserXattrsArchiveStaysSetAndHiddenIsDropped)
{
    const QString dir = test::MakeTempDir();
    const bool xattrs = UserXattrsSupported(dir);
    const QString f = dir + QStringLiteral("/f");
    PutFile(f, "data");
    {
        TXattrSwitchOff off;
        EXPECT_FALSE(UserXattrsSupported(dir));
        TStatInfo st;
        ASSERT_EQ(StatPath(f, true, st), ERROR_SUCCESS);
        EXPECT_EQ(ResetArchiveBit(f, st), ERROR_NOT_SUPPORTED);
        EXPECT_EQ(SetFileAttr(f, faReadOnly | faHidden | faSysFile, true), ERROR_SUCCESS);
        EXPECT_EQ(Attr(f) & kRHSA, uint32_t(faReadOnly | faArchive));
        EXPECT_EQ(SetFileAttr(f, 0, true), ERROR_SUCCESS);
        EXPECT_EQ(Attr(f) & kRHSA, uint32_t(faArchive));
        QStringList streams;
        EXPECT_EQ(ListStreams(f, streams, true), ERROR_SUCCESS);
        EXPECT_TRUE(streams.isEmpty());
    }
    // Where the file system keeps user xattrs: none was written meanwhile.
    if (!xattrs)
        return;
    QStringList names;
    ASSERT_EQ(ListStreams(f, names, true), ERROR_SUCCESS);
    EXPECT_TRUE(RawXattr(f, kDosAttribXattr).isEmpty());
    EXPECT_TRUE(RawXattr(f, kArchiveStampXattr).isEmpty());
}

TEST(FileSystem, LinksAndPseudoMountPointsAreReparsePoints)
{
    for (const char *p : {"/proc", "/proc/", "/proc/sys/.."}) {
        const QString path = QString::fromLatin1(p);
        EXPECT_TRUE(IsPseudoMountPoint(path)) << p;
        EXPECT_EQ(Attr(path, false) & (faDirectory | faReparsePoint), uint32_t(faDirectory | faReparsePoint)) << p;
    }
    const QString dir = test::MakeTempDir();
    for (const QString &p : {QStringLiteral("/proc/sys"), QStringLiteral("/"), dir})
        EXPECT_FALSE(IsPseudoMountPoint(p)) << p.toStdString();
    EXPECT_FALSE(Attr(dir) & faReparsePoint);
    EXPECT_TRUE(IsMountPoint(QStringLiteral("/proc")));
    EXPECT_TRUE(IsMountPoint(QStringLiteral("/")));
    EXPECT_FALSE(IsMountPoint(dir));

    const QString target = dir + QStringLiteral("/target");
    const QString link = dir + QStringLiteral("/link");
    PutFile(target, "t");
    ASSERT_EQ(CreateSymLink(link, QStringLiteral("target")), ERROR_SUCCESS);
    EXPECT_EQ(Attr(link, false), uint32_t(faReparsePoint));
    EXPECT_FALSE(Attr(link, true) & faReparsePoint);
    QString text;
    ASSERT_EQ(ReadSymLink(link, text), ERROR_SUCCESS);
    EXPECT_EQ(text, QStringLiteral("target"));
    QString real, realDir;
    ASSERT_EQ(RealPath(link, real), ERROR_SUCCESS);
    ASSERT_EQ(RealPath(dir, realDir), ERROR_SUCCESS);
    EXPECT_EQ(real, realDir + QStringLiteral("/target"));
    EXPECT_EQ(CreateSymLink(link, QStringLiteral("x")), ERROR_FILE_EXISTS);
}

TEST(FileSystem, TimesAndBirthTime)
{
    const QString dir = test::MakeTempDir();
    const QString f = dir + QStringLiteral("/f");
    PutFile(f, "x");
    TStatInfo before;
    ASSERT_EQ(StatPath(f, true, before), ERROR_SUCCESS);
    const timespec mtime{1000000000, 123456789};
    ASSERT_EQ(SetFileTimes(f, nullptr, &mtime, true), ERROR_SUCCESS);
    TStatInfo after;
    ASSERT_EQ(StatPath(f, true, after), ERROR_SUCCESS);
    EXPECT_EQ(after.MTime.tv_sec, mtime.tv_sec);
    EXPECT_EQ(after.MTime.tv_nsec, mtime.tv_nsec);
    EXPECT_EQ(after.ATime.tv_sec, before.ATime.tv_sec);
    EXPECT_EQ(after.ATime.tv_nsec, before.ATime.tv_nsec);
    if (after.HasBTime) {
        EXPECT_GE(after.BTime.tv_sec, before.CTime.tv_sec - 1);
    }

    // Not following: the link's own time changes, the target's does not.
    const QString link = dir + QStringLiteral("/l");
    ASSERT_EQ(CreateSymLink(link, f), ERROR_SUCCESS);
    const timespec linkTime{2000000000, 0};
    ASSERT_EQ(SetFileTimes(link, nullptr, &linkTime, false), ERROR_SUCCESS);
    TStatInfo ls, fs;
    ASSERT_EQ(StatPath(link, false, ls), ERROR_SUCCESS);
    ASSERT_EQ(StatPath(f, true, fs), ERROR_SUCCESS);
    EXPECT_TRUE(ls.IsLink());
    EXPECT_EQ(ls.MTime.tv_sec, linkTime.tv_sec);
    EXPECT_EQ(fs.MTime.tv_sec, mtime.tv_sec);
}

TEST(FileSystem, StreamsAreTheOtherUserXattrs)
{
    const QString dir = test::MakeTempDir();
    REQUIRE_USER_XATTRS(dir);
    const QString src = dir + QStringLiteral("/src");
    const QString dst = dir + QStringLiteral("/dst");
    PutFile(src, "s");
    PutFile(dst, "d");
    ASSERT_EQ(SetFileAttr(src, faHidden, true), ERROR_SUCCESS);
    const QByteArray srcPath = EncodeFileName(src), dstPath = EncodeFileName(dst);
    ASSERT_EQ(setxattr(srcPath.constData(), "user.one", "1", 1, 0), 0);
    ASSERT_EQ(setxattr(srcPath.constData(), "user.two", "22", 2, 0), 0);
    ASSERT_EQ(setxattr(dstPath.constData(), "user.stale", "x", 1, 0), 0);

    QStringList names;
    ASSERT_EQ(ListStreams(src, names, true), ERROR_SUCCESS);
    names.sort();
    EXPECT_EQ(names, QStringList({QStringLiteral("one"), QStringLiteral("two")}));

    ASSERT_EQ(Chmod(dst, 0444), ERROR_SUCCESS); // root writes anyway; see the unprivileged test
    ASSERT_EQ(CopyStreams(src, dst), ERROR_SUCCESS);
    ASSERT_EQ(ListStreams(dst, names, true), ERROR_SUCCESS);
    names.sort();
    EXPECT_EQ(names, QStringList({QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_EQ(RawXattr(dst, "user.two"), QByteArray("22"));
    EXPECT_TRUE(RawXattr(dst, kDosAttribXattr).isEmpty()) << "attributes are no stream";
}

TEST(FileSystem, CopyPermissionsCopiesModeOwnerAndAcls)
{
    const QString dir = test::MakeTempDir();
    const QString src = dir + QStringLiteral("/src");
    const QString dst = dir + QStringLiteral("/dst");
    const QString srcDir = dir + QStringLiteral("/srcdir");
    const QString dstDir = dir + QStringLiteral("/dstdir");
    PutFile(src, "s");
    PutFile(dst, "d");
    ASSERT_EQ(MakeDir(srcDir), ERROR_SUCCESS);
    ASSERT_EQ(MakeDir(dstDir), ERROR_SUCCESS);
    ASSERT_EQ(Chmod(src, 0640), ERROR_SUCCESS);
    if (RunTool(QStringLiteral("setfacl"), {QStringLiteral("-m"), QStringLiteral("u:nobody:rw"), src}).ExitCode != 0
        || RunTool(QStringLiteral("setfacl"), {QStringLiteral("-d"), QStringLiteral("-m"),
                                               QStringLiteral("u:nobody:rx"), srcDir}).ExitCode != 0)
        GTEST_SKIP() << "setfacl does not work on " << dir.toStdString();
    // A stale ACL on the destination goes when the source has none.
    ASSERT_EQ(RunTool(QStringLiteral("setfacl"), {QStringLiteral("-m"), QStringLiteral("u:nobody:r"), dstDir}).ExitCode, 0);
    if (geteuid() == 0) {
        ASSERT_EQ(lchown(EncodeFileName(src).constData(), test::kNobodyUid, test::kNobodyGid), 0);
    }

    ASSERT_EQ(CopyPermissions(src, dst), ERROR_SUCCESS);
    ASSERT_EQ(CopyPermissions(srcDir, dstDir), ERROR_SUCCESS);
    auto acl = [](const QString &p) {
        return RunTool(QStringLiteral("getfacl"), {QStringLiteral("--omit-header"), QStringLiteral("-n"), p}).Out;
    };
    EXPECT_TRUE(acl(dst).contains("user:65534:rw-")) << acl(dst).constData();
    EXPECT_EQ(acl(dst), acl(src));
    EXPECT_TRUE(acl(dstDir).contains("default:user:65534:r-x")) << acl(dstDir).constData();
    EXPECT_EQ(acl(dstDir), acl(srcDir));
    EXPECT_EQ(ModeOf(dst), ModeOf(src));
    TStatInfo st;
    ASSERT_EQ(StatPath(dst, false, st), ERROR_SUCCESS);
    if (geteuid() == 0)
        EXPECT_EQ(st.Uid, test::kNobodyUid);
    else
        EXPECT_EQ(st.Uid, geteuid());
}

TEST(FileSystem, PlainOperationsReportProgramErrors)
{
    const QString dir = test::MakeTempDir();
    const QString file = dir + QStringLiteral("/file");
    const QString sub = dir + QStringLiteral("/sub");
    PutFile(file, "x");
    ASSERT_EQ(MakeDirs(sub + QStringLiteral("/a/b")), ERROR_SUCCESS);
    TStatInfo st;
    struct Case {
        const char *What;
        uint32_t Got;
        uint32_t Expected;
    };
    const Case cases[] = {
        {"stat missing file", StatPath(dir + QStringLiteral("/none"), true, st), ERROR_FILE_NOT_FOUND},
        {"stat below missing folder", StatPath(dir + QStringLiteral("/none/x"), true, st), ERROR_PATH_NOT_FOUND},
        {"stat below a file", StatPath(file + QStringLiteral("/x"), true, st), ERROR_PATH_NOT_FOUND},
        {"mkdir existing", MakeDir(sub), ERROR_ALREADY_EXISTS},
        {"mkdir below missing", MakeDir(dir + QStringLiteral("/none/x")), ERROR_PATH_NOT_FOUND},
        {"mkdirs existing folder", MakeDirs(sub), ERROR_SUCCESS},
        {"mkdirs over a file", MakeDirs(file), ERROR_ALREADY_EXISTS},
        {"rmdir not empty", RemoveDir(sub), ERROR_DIR_NOT_EMPTY},
        {"rmdir a file", RemoveDir(file), ERROR_DIRECTORY},
        {"remove missing", RemoveFile(dir + QStringLiteral("/none")), ERROR_FILE_NOT_FOUND},
        {"list missing", [&] { std::vector<TDirEntry> e; return ListDirectory(dir + QStringLiteral("/none"), e); }(),
         ERROR_FILE_NOT_FOUND},
        {"space of missing", [&] { int64_t f, t; return DiskSpace(dir + QStringLiteral("/none/x"), f, t); }(),
         ERROR_PATH_NOT_FOUND},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.Got, c.Expected) << c.What;

    int64_t freeBytes = -1, totalBytes = -1;
    ASSERT_EQ(DiskSpace(dir, freeBytes, totalBytes), ERROR_SUCCESS);
    EXPECT_GT(totalBytes, 0);
    EXPECT_GE(freeBytes, 0);
    EXPECT_LE(freeBytes, totalBytes);
}

TEST(FileSystem, MoveNoReplaceNeverReplaces)
{
    const QString dir = test::MakeTempDir();
    const QString a = dir + QStringLiteral("/a"), b = dir + QStringLiteral("/b");
    const QString d1 = dir + QStringLiteral("/d1"), d2 = dir + QStringLiteral("/d2");
    PutFile(a, "A");
    PutFile(b, "B");
    ASSERT_EQ(MakeDir(d1), ERROR_SUCCESS);
    ASSERT_EQ(MakeDir(d2), ERROR_SUCCESS);
    EXPECT_EQ(MoveNoReplace(a, b), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(MoveNoReplace(d1, d2), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(test::ReadBytes(a), QByteArray("A"));
    EXPECT_EQ(test::ReadBytes(b), QByteArray("B"));
    EXPECT_TRUE(PathExists(d1, false));

    EXPECT_EQ(MoveNoReplace(dir + QStringLiteral("/none"), b + QStringLiteral("x")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(MoveNoReplace(a, dir + QStringLiteral("/none/a")), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(MoveNoReplace(a, d1 + QStringLiteral("/a")), ERROR_SUCCESS);
    EXPECT_FALSE(PathExists(a, false));
    EXPECT_EQ(test::ReadBytes(d1 + QStringLiteral("/a")), QByteArray("A"));
}

TEST(FileSystem, MoveAcrossFileSystemsCopiesEverythingThenRemoves)
{
    const QString dir = test::MakeTempDir();
    const QString other = QStringLiteral("/dev/shm");
    TStatInfo a, b;
    if (StatPath(dir, true, a) != 0 || StatPath(other, true, b) != 0 || a.Dev == b.Dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    const QString dest = other + QStringLiteral("/velkor-move-%1").arg(getpid());
    struct TCleanup {
        QString Path;
        ~TCleanup() { std::error_code ec; std::filesystem::remove_all(EncodeFileName(Path).toStdString(), ec); }
    } cleanup{dest};

    const QString src = dir + QStringLiteral("/tree");
    const QString file = src + QStringLiteral("/sub/f");
    ASSERT_EQ(MakeDirs(src + QStringLiteral("/sub")), ERROR_SUCCESS);
    PutFile(file, QByteArray(300000, 'q'));
    ASSERT_EQ(Chmod(file, 0640), ERROR_SUCCESS);
    ASSERT_EQ(CreateSymLink(src + QStringLiteral("/link"), QStringLiteral("sub/f")), ERROR_SUCCESS);
    const bool xattrs = UserXattrsSupported(dir) && UserXattrsSupported(other);
    if (xattrs) {
        ASSERT_EQ(setxattr(EncodeFileName(file).constData(), "user.stream", "v", 1, 0), 0);
    }
    const timespec mtime{1500000000, 5000};
    ASSERT_EQ(SetFileTimes(file, nullptr, &mtime, true), ERROR_SUCCESS);
    ASSERT_EQ(SetFileTimes(src + QStringLiteral("/sub"), nullptr, &mtime, true), ERROR_SUCCESS);

    // An existing target is refused across file systems too.
    ASSERT_EQ(MakeDir(dest), ERROR_SUCCESS);
    EXPECT_EQ(MoveNoReplace(src, dest), ERROR_ALREADY_EXISTS);
    ASSERT_EQ(RemoveDir(dest), ERROR_SUCCESS);

    ASSERT_EQ(MoveNoReplace(src, dest), ERROR_SUCCESS);
    EXPECT_FALSE(PathExists(src, false));
    const QString moved = dest + QStringLiteral("/sub/f");
    EXPECT_EQ(test::ReadBytes(moved), QByteArray(300000, 'q'));
    EXPECT_EQ(ModeOf(moved), 0640u);
    TStatInfo st;
    ASSERT_EQ(StatPath(moved, true, st), ERROR_SUCCESS);
    EXPECT_EQ(st.MTime.tv_sec, mtime.tv_sec);
    EXPECT_EQ(st.MTime.tv_nsec, mtime.tv_nsec);
    ASSERT_EQ(StatPath(dest + QStringLiteral("/sub"), true, st), ERROR_SUCCESS);
    EXPECT_EQ(st.MTime.tv_sec, mtime.tv_sec) << "folder times are set after their content";
    QString target;
    ASSERT_EQ(ReadSymLink(dest + QStringLiteral("/link"), target), ERROR_SUCCESS);
    EXPECT_EQ(target, QStringLiteral("sub/f"));
    if (xattrs) {
        EXPECT_EQ(RawXattr(moved, "user.stream"), QByteArray("v"));
    }
}

TEST(FileSystem, LongPathsWork)
{
    QString deep = test::MakeTempDir();
    while (deep.size() < 300)
        deep += QStringLiteral("/") + QString(60, QLatin1Char('d'));
    const QString file = deep + QStringLiteral("/") + QString(20, QLatin1Char('f'));
    const QString moved = deep + QStringLiteral("/moved");
    ASSERT_GT(file.size(), 320);
    ASSERT_EQ(MakeDirs(deep), ERROR_SUCCESS);
    PutFile(file, "long");
    TStatInfo st;
    ASSERT_EQ(StatPath(file, true, st), ERROR_SUCCESS);
    EXPECT_EQ(st.Size, 4);
    EXPECT_TRUE(Attr(file) & faArchive);
    ASSERT_EQ(MoveNoReplace(file, moved), ERROR_SUCCESS);
    EXPECT_FALSE(PathExists(file, false));
    ASSERT_EQ(RemoveFile(moved), ERROR_SUCCESS);
    EXPECT_EQ(RemoveDir(deep), ERROR_SUCCESS);
    EXPECT_FALSE(PathExists(deep, false));
}

TEST(FileSystem, NonUtf8NamesRoundTrip)
{
    const QString dir = test::MakeTempDir();
    const QByteArray raw("caf\xe9.txt");
    const QString name = DecodeFileName(raw);
    PutFile(dir + QStringLiteral("/") + name, "e9");
    std::vector<TDirEntry> entries;
    ASSERT_EQ(ListDirectory(dir, entries), ERROR_SUCCESS);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, name);
    EXPECT_EQ(EncodeFileName(entries[0].Name), raw);
    EXPECT_TRUE(entries[0].Stat.IsRegular());
    EXPECT_EQ(entries[0].Stat.Size, 2);

    const QString movedName = DecodeFileName(QByteArray("\xe9\xe9"));
    ASSERT_EQ(MoveNoReplace(dir + QStringLiteral("/") + entries[0].Name, dir + QStringLiteral("/") + movedName),
              ERROR_SUCCESS);
    struct stat s;
    EXPECT_EQ(lstat((EncodeFileName(dir) + "/\xe9\xe9").constData(), &s), 0);
    EXPECT_NE(lstat((EncodeFileName(dir) + '/' + raw).constData(), &s), 0);
    EXPECT_EQ(RemoveFile(dir + QStringLiteral("/") + movedName), ERROR_SUCCESS);
    ASSERT_EQ(ListDirectory(dir, entries), ERROR_SUCCESS);
    EXPECT_TRUE(entries.empty());
}

TEST(FileSystem, PermissionsForAnUnprivilegedUser)
{
    const QString dir = test::MakeTempDir();
    const bool xattrs = UserXattrsSupported(dir);
    const QString own = dir + QStringLiteral("/own");
    PutFile(own, "mine");
    test::ChownTree(dir);
    // A folder and file the unprivileged user does not own.
    const QString rootDir = dir + QStringLiteral("/rootdir");
    const QString rootFile = rootDir + QStringLiteral("/rootfile");
    ASSERT_EQ(MakeDir(rootDir, 0755), ERROR_SUCCESS);
    ASSERT_EQ(Chmod(rootDir, 0755), ERROR_SUCCESS);
    PutFile(rootFile, "root");
    ASSERT_EQ(Chmod(rootFile, 0644), ERROR_SUCCESS);
    const bool asRoot = geteuid() == 0;

    test::RunUnprivileged([&] {
        ASSERT_EQ(SetFileAttr(own, faReadOnly, true), ERROR_SUCCESS);
        EXPECT_EQ(ModeOf(own) & 0222, 0u);
        // Xattrs of a read-only file the user owns: the write bit is lent.
        ASSERT_EQ(SetFileAttr(own, faReadOnly | faHidden, true), ERROR_SUCCESS);
        EXPECT_EQ(ModeOf(own) & 0222, 0u);
        TStatInfo st;
        ASSERT_EQ(StatPath(own, true, st), ERROR_SUCCESS);
        EXPECT_EQ(ResetArchiveBit(own, st), xattrs ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED);
        EXPECT_EQ(ModeOf(own) & 0222, 0u);
        if (xattrs) {
            EXPECT_EQ(Attr(own) & kRHSA, uint32_t(faReadOnly | faHidden));
        }
        if (!asRoot)
            return;
        EXPECT_EQ(SetFileAttr(rootFile, faHidden, true), ERROR_ACCESS_DENIED);
        EXPECT_EQ(SetFileAttr(rootFile, faReadOnly, true), ERROR_ACCESS_DENIED);
        EXPECT_EQ(ResetArchiveBit(rootFile, st), xattrs ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
        EXPECT_EQ(RemoveFile(rootFile), ERROR_ACCESS_DENIED);
        EXPECT_EQ(MoveNoReplace(rootFile, dir + QStringLiteral("/stolen")), ERROR_ACCESS_DENIED);
        TFile f;
        EXPECT_EQ(f.Open(rootFile, TFile::faWrite), ERROR_ACCESS_DENIED);
        EXPECT_EQ(f.Open(rootDir + QStringLiteral("/new"), TFile::faWrite, TFile::fcCreateNew), ERROR_ACCESS_DENIED);
    });
    EXPECT_EQ(ModeOf(rootFile), 0644u);
    EXPECT_EQ(test::ReadBytes(rootFile), QByteArray("root"));
}

// Look-ups through a folder's open handle answer as look-ups by path do:
// for entries directly inside it, for links, for a name that is missing,
// and not for entries further down or after the scope has ended.
TEST(FileSystem, LookupScopeAnswersAsPathLookups)
{
    const QString dir = test::MakeTempDir();
    const bool xattrs = UserXattrsSupported(dir);
    const QString f = dir + QStringLiteral("/file.txt");
    PutFile(f, "data");
    if (xattrs)
        ASSERT_EQ(SetFileAttr(f, faHidden | faSysFile, true), ERROR_SUCCESS);
    ASSERT_EQ(::symlink("file.txt", QFile::encodeName(dir + QStringLiteral("/link")).constData()), 0);
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("/sub")));
    PutFile(dir + QStringLiteral("/sub/inner"), "x");

    const QStringList paths = {f, dir + QStringLiteral("/link"), dir + QStringLiteral("/sub"),
                               dir + QStringLiteral("/sub/inner"), dir + QStringLiteral("/missing")};
    const auto answers = [&] {
        QStringList out;
        for (const QString &p : paths) {
            TStatInfo st;
            const uint32_t err = StatPath(p, false, st);
            uint32_t attr = 0;
            GetFileAttr(p, false, attr);
            out << QStringLiteral("%1 %2 %3 %4").arg(err).arg(st.Ino).arg(st.Size).arg(attr);
        }
        return out;
    };
    const QStringList before = answers();
    {
        const TDirLookupScope scope(dir);
        const TDirLookupScope missing(dir + QStringLiteral("/none")); // changes nothing
        EXPECT_EQ(answers(), before);
    }
    EXPECT_EQ(answers(), before);
    if (xattrs)
        EXPECT_EQ(Attr(f) & (faHidden | faSysFile), uint32_t(faHidden | faSysFile));
}
