#include "core/FileUtils.h"

#include "common/RawFs.h"
#include "common/TestUtils.h"
#include "core/FileStream.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadRaw;
using test::WriteRaw;

constexpr TFileTime kHour = 3600 * kFileTimeTicksPerSecond;
constexpr TFileTime kDay = 24 * kHour;

TStatInfo Stat(const QString &path, bool followLink = true)
{
    TStatInfo st;
    EXPECT_EQ(StatPath(path, followLink, st), 0u) << EncodeFileName(path).toStdString();
    return st;
}

TFileTime MTimeOf(const QString &path, bool followLink = true)
{
    return TimespecToFileTime(Stat(path, followLink).MTime);
}

TFileTime ATimeOf(const QString &path)
{
    return TimespecToFileTime(Stat(path).ATime);
}

uint32_t AttrOf(const QString &path)
{
    uint32_t attr = 0;
    EXPECT_EQ(GetFileAttr(path, true, attr), 0u);
    return attr;
}

void SetMTime(const QString &path, TFileTime ft)
{
    const timespec ts = FileTimeToTimespec(ft);
    ASSERT_EQ(SetFileTimes(path, nullptr, &ts, true), 0u);
}

QByteArray Pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xFF);
    return data;
}

// Entries of a folder, to see that no temporary file is left behind.
QStringList EntriesOf(const QString &dir)
{
    std::vector<TDirEntry> entries;
    EXPECT_EQ(ListDirectory(dir, entries), 0u);
    QStringList names;
    for (const TDirEntry &e : entries)
        names << e.Name;
    names.sort();
    return names;
}

struct TCopyResult {
    int32_t Code = 0; // 0: nothing raised
    QString Message;
};

TCopyResult TryCopy(const QString &source, const QString &dest, int attr = -1, int bufSize = kStreamCopyBufSize)
{
    try {
        CopyFileWithAttributes(source, dest, attr, bufSize);
    } catch (const ECopyError &e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {};
}

class FileUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = MakeTempDir(QStringLiteral("copy")); }
    QString P(const char *name) const { return Dir + QLatin1Char('/') + QString::fromUtf8(name); }

    QString Dir;
};

// ---- CopyFileData ----

TEST_F(FileUtilsTest, CopyFileDataCopiesEveryByteAroundTheBufferSize)
{
    for (const int size : {0, 1, 4095, 4096, 4097, 3 * 4096, 100000}) {
        const QByteArray data = Pattern(size);
        WriteRaw(P("src"), data);
        WriteRaw(P("dst"), QByteArray(200000, 'x')); // longer: must be truncated
        EXPECT_EQ(CopyFileData(P("src"), P("dst"), 4096), 0u) << size;
        EXPECT_EQ(ReadRaw(P("dst")), data) << size;
    }
}

TEST_F(FileUtilsTest, CopyFileDataReportsErrorNumbers)
{
    WriteRaw(P("src"), "data");
    EXPECT_EQ(CopyFileData(P("missing"), P("dst"), 4096), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(PathExists(P("dst"), false)); // the destination is not created
    EXPECT_EQ(CopyFileData(P("src"), P("no/dst"), 4096), ERROR_PATH_NOT_FOUND);

    // A folder as source fails before the destination is touched.
    ASSERT_EQ(MakeDir(P("folder")), 0u);
    WriteRaw(P("kept"), "keep me");
    EXPECT_EQ(CopyFileData(P("folder"), P("kept"), 4096), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadRaw(P("kept")), QByteArray("keep me"));
}

// The same file under another name must never be truncated by the copy;
// names that differ only in case are two files.
TEST_F(FileUtilsTest, CopiesOntoTheSameFileDoNothingButCaseDifferentNamesCopy)
{
    const QByteArray data = Pattern(5000);
    WriteRaw(P("a.txt"), data);
    ASSERT_EQ(::link(EncodeFileName(P("a.txt")).constData(), EncodeFileName(P("hard.txt")).constData()), 0);
    ASSERT_EQ(CreateSymLink(P("soft.txt"), QStringLiteral("a.txt")), 0u);
    for (const char *same : {"a.txt", "hard.txt", "soft.txt"}) {
        EXPECT_EQ(CopyFileData(P("a.txt"), P(same), 4096), 0u) << same;
        EXPECT_EQ(TryCopy(P("a.txt"), P(same)).Code, 0) << same;
        EXPECT_EQ(ReadRaw(P("a.txt")), data) << same;
    }
    EXPECT_EQ(CopyFileData(P("a.txt"), P("./a.txt"), 4096), 0u);
    EXPECT_EQ(ReadRaw(P("a.txt")), data);

    WriteRaw(P("A.txt"), "other");
    EXPECT_EQ(CopyFileData(P("a.txt"), P("A.txt"), 4096), 0u);
    EXPECT_EQ(ReadRaw(P("A.txt")), data);
    WriteRaw(P("A.txt"), "other");
    EXPECT_EQ(TryCopy(P("a.txt"), P("A.txt")).Code, 0);
    EXPECT_EQ(ReadRaw(P("A.txt")), data);
}

// ---- CopyFileWithAttributes ----

TEST_F(FileUtilsTest, MissingSourceOrEmptyDestRaisesFileNotFound)
{
    WriteRaw(P("src"), "x");
    ASSERT_EQ(MakeDir(P("folder")), 0u);
    const struct {
        QString Source, Dest;
    } cases[] = {
        {P("missing"), P("dst")},
        {P("src"), QString()},
        {P("folder"), P("dst")},
    };
    for (const auto &c : cases) {
        const TCopyResult r = TryCopy(c.Source, c.Dest);
        EXPECT_EQ(r.Code, int32_t(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(r.Message, QStringLiteral("File not found: \"%1\"").arg(c.Source));
    }
    EXPECT_FALSE(PathExists(P("dst"), false));
}

TEST_F(FileUtilsTest, CopyKeepsDataTimeModeAndAttributes)
{
    const QByteArray data = Pattern(300000);
    WriteRaw(P("src"), data);
    ASSERT_EQ(Chmod(P("src"), 0751), 0u); // not what the umask would give
    const TFileTime past = NowFileTime() - 400 * kDay + 1234567; // sub-second part too
    SetMTime(P("src"), past);
    const bool xattrs = UserXattrsSupported(Dir);
    if (xattrs) {
        ASSERT_EQ(SetFileAttr(P("src"), faHidden | faSysFile | faArchive, true), 0u);
    }
    const uint32_t kShown = faReadOnly | faHidden | faSysFile | faArchive;
    const uint32_t srcAttr = AttrOf(P("src")) & kShown;

    EXPECT_EQ(TryCopy(P("src"), P("dst"), -1, 65536).Code, 0);
    EXPECT_EQ(ReadRaw(P("dst")), data);
    EXPECT_EQ(MTimeOf(P("dst")), past);
    EXPECT_EQ(Stat(P("dst")).Mode & 07777, 0751u);
    EXPECT_EQ(AttrOf(P("dst")) & kShown, srcAttr);
    if (xattrs) {
        EXPECT_EQ(srcAttr & (faHidden | faSysFile), uint32_t(faHidden | faSysFile));
    }
    EXPECT_EQ(EntriesOf(Dir), (QStringList{QStringLiteral("dst"), QStringLiteral("src")}));

    // Given attributes replace the source's.
    EXPECT_EQ(TryCopy(P("src"), P("dst2"), faReadOnly).Code, 0);
    EXPECT_EQ(Stat(P("dst2")).Mode & 0222, 0u);
    EXPECT_EQ(AttrOf(P("dst2")) & (faReadOnly | faHidden | faSysFile), uint32_t(faReadOnly));
    if (!xattrs)
        GTEST_SKIP() << "no user xattrs on " << Dir.toStdString() << ": hidden and system bits not checked";
}

QByteArray CommandOutput(const QByteArray &command)
{
    QByteArray out;
    FILE *p = ::popen(command.constData(), "r");
    if (!p) {
        ADD_FAILURE() << command.toStdString();
        return out;
    }
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, qsizetype(n));
    ::pclose(p);
    return out;
}

// The copy carries the source's xattrs and its ACL; with the mode alone the
// owning group would get the ACL mask (rw) instead of its own entry (r).
TEST_F(FileUtilsTest, CopyKeepsXattrsAndAcl)
{
    WriteRaw(P("src"), "data");
    ASSERT_EQ(Chmod(P("src"), 0640), 0u);
    const QByteArray src = EncodeFileName(P("src")), dst = EncodeFileName(P("dst"));
    const bool xattrs = UserXattrsSupported(Dir);
    if (xattrs) {
        ASSERT_EQ(::setxattr(src.constData(), "user.comment", "kept", 4, 0), 0);
    }
    const bool acl = std::system(("setfacl -m u:65534:rw '" + src + "' 2>/dev/null").constData()) == 0;

    EXPECT_EQ(TryCopy(P("src"), P("dst")).Code, 0);
    EXPECT_EQ(ReadRaw(P("dst")), QByteArray("data"));
    if (xattrs) {
        char buf[64];
        const ssize_t n = ::getxattr(dst.constData(), "user.comment", buf, sizeof buf);
        EXPECT_EQ(QByteArray(buf, n > 0 ? n : 0), QByteArray("kept"));
    }
    if (acl) {
        const QByteArray out = CommandOutput("getfacl -n -c '" + dst + "' 2>/dev/null");
        EXPECT_TRUE(out.contains("user:65534:rw-")) << out.toStdString();
        EXPECT_TRUE(out.contains("group::r--")) << out.toStdString();
        EXPECT_EQ(Stat(P("dst")).Mode & 0777, Stat(P("src")).Mode & 0777);
    }
    if (!xattrs || !acl)
        GTEST_SKIP() << "user xattrs " << xattrs << ", POSIX ACLs " << acl << " on " << Dir.toStdString();
}

// Without user xattrs the copy still succeeds, with data, time and mode.
TEST_F(FileUtilsTest, CopyWithoutUserXattrs)
{
    WriteRaw(P("src"), "data");
    ASSERT_EQ(Chmod(P("src"), 0604), 0u);
    const TFileTime past = NowFileTime() - 5 * kDay;
    SetMTime(P("src"), past);
    SetUserXattrsDisabledForTesting(true);
    const TCopyResult r = TryCopy(P("src"), P("dst"));
    SetUserXattrsDisabledForTesting(false);
    EXPECT_EQ(r.Code, 0) << r.Message.toStdString();
    EXPECT_EQ(ReadRaw(P("dst")), QByteArray("data"));
    EXPECT_EQ(MTimeOf(P("dst")), past);
    EXPECT_EQ(Stat(P("dst")).Mode & 0777, 0604u);
}

TEST_F(FileUtilsTest, ReadOnlyDestinationIsReplacedAndEndsReadOnly)
{
    WriteRaw(P("src"), "new contents");
    WriteRaw(P("dst"), "old");
    test::ChownTree(Dir);
    ASSERT_EQ(Chmod(P("src"), 0444), 0u);
    ASSERT_EQ(Chmod(P("dst"), 0444), 0u);
    test::RunUnprivileged([&] {
        EXPECT_EQ(TryCopy(P("src"), P("dst")).Code, 0);
        EXPECT_EQ(ReadRaw(P("dst")), QByteArray("new contents"));
        EXPECT_EQ(Stat(P("dst")).Mode & 0777, 0444u);
        EXPECT_TRUE(AttrOf(P("dst")) & faReadOnly);
    });
}

TEST_F(FileUtilsTest, FutureTimesBeyondOneDayBecomeNow)
{
    WriteRaw(P("src"), "x");
    const TFileTime now = NowFileTime();
    SetMTime(P("src"), now + 3 * kDay);
    EXPECT_EQ(TryCopy(P("src"), P("far")).Code, 0);
    const TFileTime got = MTimeOf(P("far"));
    EXPECT_GE(got + kFileTimeTicksPerSecond, now);
    EXPECT_LE(got, NowFileTime() + kFileTimeTicksPerSecond);

    SetMTime(P("src"), now + 12 * kHour);
    EXPECT_EQ(TryCopy(P("src"), P("near")).Code, 0);
    EXPECT_EQ(MTimeOf(P("near")), now + 12 * kHour);
}

TEST_F(FileUtilsTest, LongPathsAndNonUtf8NamesCopy)
{
    QString deep = Dir;
    while (deep.size() < 330)
        deep += QStringLiteral("/abcdefghijklmnopqrstuvwxyz0123456789");
    ASSERT_EQ(MakeDirs(deep), 0u);
    const QString longSrc = deep + QStringLiteral("/source-file.txt");
    const QString longDst = deep + QStringLiteral("/dest-file.txt");
    ASSERT_GT(longDst.size(), 320);
    WriteRaw(longSrc, "long");
    EXPECT_EQ(TryCopy(longSrc, longDst).Code, 0);
    EXPECT_EQ(ReadRaw(longDst), QByteArray("long"));

    const QString latin1Src = DecodeFileName(EncodeFileName(Dir) + "/caf\xE9.txt");
    const QString latin1Dst = DecodeFileName(EncodeFileName(Dir) + "/copie-\xE9.txt");
    WriteRaw(latin1Src, "bytes");
    EXPECT_EQ(TryCopy(latin1Src, latin1Dst).Code, 0);
    EXPECT_EQ(CopyFileData(latin1Src, latin1Dst + QStringLiteral("2"), 4096), 0u);
    const int fd = ::open((EncodeFileName(Dir) + "/copie-\xE9.txt").constData(), O_RDONLY);
    EXPECT_GE(fd, 0) << "the name must keep its byte 0xE9";
    if (fd >= 0)
        ::close(fd);
    EXPECT_EQ(ReadRaw(latin1Dst), QByteArray("bytes"));
    EXPECT_EQ(ReadRaw(latin1Dst + QStringLiteral("2")), QByteArray("bytes"));
}

// A copy that fails half-way must leave an older destination as it was and
// no temporary file beside it.
TEST_F(FileUtilsTest, FailedCopyLeavesTheDestinationIntact)
{
    WriteRaw(P("dst"), "good old data");
    const QStringList before = EntriesOf(Dir);

    // Opens fine, then every read fails: the failure comes after the
    // destination side was created.
    const QString failing = QStringLiteral("/proc/self/mem");
    TStatInfo st;
    if (StatPath(failing, true, st) == 0 && st.IsRegular()) {
        const TCopyResult r = TryCopy(failing, P("dst"));
        EXPECT_EQ(r.Code, int32_t(ERROR_IO_DEVICE));
        EXPECT_EQ(r.Message, QStringLiteral("Error reading from \"%1\"").arg(failing));
        EXPECT_EQ(ReadRaw(P("dst")), QByteArray("good old data"));
        EXPECT_EQ(EntriesOf(Dir), before);
    } else {
        ADD_FAILURE() << "/proc/self/mem is needed to provoke a read error";
    }

    WriteRaw(P("secret"), "s");
    test::ChownTree(Dir);
    ASSERT_EQ(Chmod(P("secret"), 0000), 0u);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(P("secret").toUtf8().constData(), 0, 0), 0);
    }
    test::RunUnprivileged([&] {
        const TCopyResult r = TryCopy(P("secret"), P("dst"));
        EXPECT_EQ(r.Code, int32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(r.Message, QStringLiteral("Error opening \"%1\"").arg(P("secret")));
        EXPECT_EQ(ReadRaw(P("dst")), QByteArray("good old data"));
    });
}

TEST_F(FileUtilsTest, CopyOntoALinkReplacesItsTarget)
{
    WriteRaw(P("src"), "new");
    WriteRaw(P("target"), "old");
    ASSERT_EQ(CreateSymLink(P("link"), QStringLiteral("target")), 0u);
    EXPECT_EQ(TryCopy(P("src"), P("link")).Code, 0);
    EXPECT_TRUE(Stat(P("link"), false).IsLink());
    EXPECT_EQ(ReadRaw(P("target")), QByteArray("new"));
}

// ---- Permissions and streams ----

TEST_F(FileUtilsTest, CopyFileAclCopiesModeAndAcl)
{
    WriteRaw(P("src"), "s");
    WriteRaw(P("dst"), "d");
    ASSERT_EQ(Chmod(P("src"), 0604), 0u);
    ASSERT_EQ(Chmod(P("dst"), 0666), 0u);
    const QByteArray src = EncodeFileName(P("src")), dst = EncodeFileName(P("dst"));
    const bool acl = std::system(("setfacl -m u:65534:rw '" + src + "' 2>/dev/null").constData()) == 0;
    EXPECT_EQ(CopyFileAcl(P("src"), P("dst")), 0u);
    if (!acl) {
        EXPECT_EQ(Stat(P("dst")).Mode & 07777, 0604u);
        GTEST_SKIP() << "no POSIX ACLs here (setfacl failed): only the mode was checked";
    }
    // The ACL mask takes the group bits of the mode.
    EXPECT_EQ(Stat(P("dst")).Mode & 07777, Stat(P("src")).Mode & 07777);
    FILE *p = ::popen(("getfacl -n -c '" + dst + "' 2>/dev/null").constData(), "r");
    ASSERT_NE(p, nullptr);
    QByteArray out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, qsizetype(n));
    ::pclose(p);
    EXPECT_TRUE(out.contains("user:65534:rw-")) << out.toStdString();
}

TEST_F(FileUtilsTest, CopyAlternateStreams)
{
    WriteRaw(P("plain"), "p");
    WriteRaw(P("plain-dst"), "d");
    ASSERT_EQ(MakeDir(P("dir")), 0u);
    ASSERT_EQ(MakeDir(P("dir-dst")), 0u);
    EXPECT_EQ(CopyAlternateStreams(P("plain"), P("plain-dst")), 0u);
    EXPECT_EQ(CopyAlternateStreams(P("dir"), P("dir-dst")), ERROR_HANDLE_EOF);
    EXPECT_EQ(CopyAlternateStreams(P("missing"), P("plain-dst")), ERROR_FILE_NOT_FOUND);

    if (!UserXattrsSupported(Dir))
        GTEST_SKIP() << "no user xattrs on " << Dir.toStdString();
    const QByteArray big = Pattern(3000);
    for (const char *name : {"plain", "dir"}) {
        const QByteArray path = EncodeFileName(P(name));
        ASSERT_EQ(::setxattr(path.constData(), "user.summary", "text", 4, 0), 0);
        ASSERT_EQ(::setxattr(path.constData(), "user.thumb", big.constData(), size_t(big.size()), 0), 0);
    }
    for (const char *name : {"plain-dst", "dir-dst"}) {
        const QString src = P(name).chopped(4);
        EXPECT_EQ(CopyAlternateStreams(src, P(name)), 0u) << name;
        const QByteArray dst = EncodeFileName(P(name));
        char buf[4096];
        ssize_t n = ::getxattr(dst.constData(), "user.summary", buf, sizeof buf);
        EXPECT_EQ(QByteArray(buf, n > 0 ? n : 0), QByteArray("text")) << name;
        n = ::getxattr(dst.constData(), "user.thumb", buf, sizeof buf);
        EXPECT_EQ(QByteArray(buf, n > 0 ? n : 0), big) << name;
    }
}

// ---- Times ----

TEST_F(FileUtilsTest, SetFileTimestampsWritesNowForInvalidRecords)
{
    WriteRaw(P("f"), "x");
    const TFileTime old = NowFileTime() - 30 * kDay;
    const timespec ts = FileTimeToTimespec(old);
    ASSERT_EQ(SetFileTimes(P("f"), &ts, &ts, true), 0u);
    const TFileTime before = NowFileTime();
    TFileTimestamps invalid; // Valid false
    EXPECT_EQ(SetFileTimestamps(P("f"), invalid, false, true, true), 0u);
    const TFileTime after = NowFileTime();
    for (const TFileTime t : {MTimeOf(P("f")), ATimeOf(P("f"))}) {
        EXPECT_GE(t, before);
        EXPECT_LE(t, after);
    }
}

TEST_F(FileUtilsTest, SetFileTimestampsReplacesOnlyFarFutureTimes)
{
    WriteRaw(P("f"), "x");
    const TFileTime now = NowFileTime();
    const TFileTime old = now - 30 * kDay;
    const struct {
        TFileTime Time;
        bool ReplaceFuture;
        bool Replaced;
    } cases[] = {
        {now + 3 * kDay, true, true},
        {now + 12 * kHour, true, false},
        {now + 3 * kDay, false, false},
        {now - 5 * kDay, true, false},
        {TFileTime(INT64_MAX) + 1, true, true}, // cannot be converted
    };
    for (const auto &c : cases) {
        const timespec o = FileTimeToTimespec(old);
        ASSERT_EQ(SetFileTimes(P("f"), &o, &o, true), 0u);
        TFileTimestamps ts;
        ts.Valid = true;
        ts.CreationTime = ts.LastAccessTime = ts.LastWriteTime = c.Time;
        const TFileTime before = NowFileTime();
        EXPECT_EQ(SetFileTimestamps(P("f"), ts, c.ReplaceFuture, true, true), 0u);
        if (c.Replaced) {
            EXPECT_GE(MTimeOf(P("f")), before);
            EXPECT_LE(MTimeOf(P("f")), NowFileTime());
            EXPECT_EQ(ATimeOf(P("f")), MTimeOf(P("f")));
        } else {
            EXPECT_EQ(MTimeOf(P("f")), c.Time);
            EXPECT_EQ(ATimeOf(P("f")), c.Time);
        }
    }
    // Without AllTimes only the last-write time changes.
    TFileTimestamps ts;
    ts.Valid = true;
    ts.LastAccessTime = now - 2 * kDay;
    ts.LastWriteTime = now - 3 * kDay;
    EXPECT_EQ(SetFileTimestamps(P("f"), ts, true, false, true), 0u);
    EXPECT_EQ(MTimeOf(P("f")), now - 3 * kDay);
    EXPECT_NE(ATimeOf(P("f")), now - 2 * kDay);
}

// A time with the top bit set is refused, never wrapped into another date.
TEST_F(FileUtilsTest, InvalidFileTimesAreRefused)
{
    WriteRaw(P("f"), "x");
    const TFileTime old = NowFileTime() - 30 * kDay;
    const TFileTime bad = TFileTime(INT64_MAX) + 1;
    SetMTime(P("f"), old);
    TFileTimestamps ts;
    ts.Valid = true;
    ts.LastAccessTime = old;
    ts.LastWriteTime = bad;
    TFileTimestamps badAccess = ts;
    badAccess.LastAccessTime = bad;
    badAccess.LastWriteTime = old;
    const struct {
        uint32_t Got;
        const char *Call;
    } cases[] = {
        {SetFileTimestamps(P("f"), ts, false, true, true), "SetFileTimestamps all"},
        {SetFileTimestamps(P("f"), ts, false, false, true), "SetFileTimestamps last-write"},
        {SetFileTimestamps(P("f"), badAccess, false, true, true), "SetFileTimestamps access"},
        {SetFileLastWriteTime(P("f"), bad, false), "SetFileLastWriteTime"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.Got, ERROR_INVALID_PARAMETER) << c.Call;
    EXPECT_EQ(MTimeOf(P("f")), old);
    // Only the time that is written counts.
    EXPECT_EQ(SetFileTimestamps(P("f"), badAccess, false, false, true), 0u);
}

TEST_F(FileUtilsTest, SetFileTimestampsOnLinksAndDirectories)
{
    WriteRaw(P("target"), "x");
    ASSERT_EQ(CreateSymLink(P("link"), QStringLiteral("target")), 0u);
    ASSERT_EQ(MakeDir(P("dir")), 0u);
    const TFileTime t1 = NowFileTime() - 10 * kDay, t2 = NowFileTime() - 20 * kDay;
    TFileTimestamps ts;
    ts.Valid = true;
    ts.LastAccessTime = ts.LastWriteTime = t1;
    EXPECT_EQ(SetFileTimestamps(P("link"), ts, true, true, true), 0u);
    EXPECT_EQ(MTimeOf(P("target")), t1);
    EXPECT_NE(MTimeOf(P("link"), false), t1);

    ts.LastAccessTime = ts.LastWriteTime = t2;
    EXPECT_EQ(SetFileTimestamps(P("link"), ts, true, true, false), 0u);
    EXPECT_EQ(MTimeOf(P("link"), false), t2);
    EXPECT_EQ(MTimeOf(P("target")), t1);

    EXPECT_EQ(SetFileTimestamps(P("dir"), ts, true, true, true), 0u);
    EXPECT_EQ(MTimeOf(P("dir")), t2);
    EXPECT_EQ(SetFileTimestamps(P("missing"), ts, true, true, true), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileUtilsTest, SetFileLastWriteTime)
{
    WriteRaw(P("f"), "x");
    const TFileTime future = NowFileTime() + 3 * kDay;
    EXPECT_EQ(SetFileLastWriteTime(P("f"), future, false), 0u);
    EXPECT_EQ(MTimeOf(P("f")), future);
    const TFileTime before = NowFileTime();
    EXPECT_EQ(SetFileLastWriteTime(P("f"), future, true), 0u);
    EXPECT_GE(MTimeOf(P("f")), before);
    EXPECT_LT(MTimeOf(P("f")), future - 2 * kDay);
    EXPECT_EQ(SetFileLastWriteTime(P("missing"), future, false), ERROR_FILE_NOT_FOUND);
}

// Local times are checked against the C library's own local-time rules.
time_t LocalToUnix(int year, int month, int day, int hour, int minute, int second)
{
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

class LocalTimeTest : public FileUtilsTest {
protected:
    test::TScopedTimeZone Zone{"Europe/Berlin"};
};

// "Now" and "one day ahead" are UTC instants, whatever the local zone.
TEST_F(FileUtilsTest, FutureTimeJudgedAndReplacedInUtc)
{
    WriteRaw(P("f"), "x");
    {
        test::TScopedTimeZone zone("Pacific/Kiritimati"); // UTC+14
        const TFileTime before = NowFileTime();
        EXPECT_EQ(SetFileLastWriteTime(P("f"), before + 3 * kDay, true), 0u);
        EXPECT_GE(MTimeOf(P("f")), before);
        EXPECT_LE(MTimeOf(P("f")), NowFileTime());
    }
    {
        test::TScopedTimeZone zone("Pacific/Honolulu"); // UTC-10
        const TFileTime ahead = NowFileTime() + 20 * kHour;
        EXPECT_EQ(SetFileLastWriteTime(P("f"), ahead, true), 0u);
        EXPECT_EQ(MTimeOf(P("f")), ahead);
    }
}

TEST_F(LocalTimeTest, DosAndLocalTimesAreConvertedToUtc)
{
    WriteRaw(P("f"), "x");
    // 2021-06-15 13:45:30 (summer) and 2021-01-10 08:00:00 (winter), local
    const uint32_t summer = (uint32_t(2021 - 1980) << 25) | (6u << 21) | (15u << 16) | (13u << 11) | (45u << 5) | 15u;
    EXPECT_EQ(SetFileDosTime(P("f"), summer, true), 0u);
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, LocalToUnix(2021, 6, 15, 13, 45, 30));
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, 1623757530); // 11:45:30 UTC

    const uint32_t winter = (uint32_t(2021 - 1980) << 25) | (1u << 21) | (10u << 16) | (8u << 11);
    EXPECT_EQ(SetFileDosTime(P("f"), winter, true), 0u);
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, LocalToUnix(2021, 1, 10, 8, 0, 0));

    const uint32_t badMonth = (uint32_t(2021 - 1980) << 25) | (13u << 21) | (1u << 16);
    const time_t kept = Stat(P("f")).MTime.tv_sec;
    EXPECT_EQ(SetFileDosTime(P("f"), badMonth, true), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, kept);
    EXPECT_EQ(SetFileDosTime(P("f"), 0x00210000, true), 0u); // 1980-01-01 00:00:00 is valid
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, LocalToUnix(1980, 1, 1, 0, 0, 0));

    // A local file time: the UTC ticks of the same wall-clock reading.
    const TFileTime localTicks = kFileTimeUnixEpoch + TFileTime(1623757530 + 2 * 3600) * kFileTimeTicksPerSecond;
    ASSERT_EQ(MakeDir(P("dir")), 0u);
    EXPECT_EQ(SetDirectoryTime(P("dir"), localTicks, true), 0u);
    EXPECT_EQ(Stat(P("dir")).MTime.tv_sec, 1623757530);
    EXPECT_EQ(SetFileLocalTime(P("f"), localTicks, true), 0u);
    EXPECT_EQ(Stat(P("f")).MTime.tv_sec, 1623757530);
}

TEST_F(FileUtilsTest, SetDirectoryTimeLeavesDriveRootsAlone)
{
    // Unprivileged, so that an attempt on "/" would fail instead of
    // changing it.
    test::RunUnprivileged([&] {
        for (const char *root : {"/", "//server/share", "//server/share/"})
            EXPECT_EQ(SetDirectoryTime(QString::fromUtf8(root), NowFileTime(), true), 0u) << root;
        EXPECT_EQ(SetFileLocalTime(QStringLiteral("/"), NowFileTime(), true), ERROR_ACCESS_DENIED);
    });
}

// ---- Attributes ----

TEST_F(FileUtilsTest, ChangeFileAttrAddsAndClearsBits)
{
    WriteRaw(P("f"), "x");
    ASSERT_EQ(Chmod(P("f"), 0664), 0u);
    EXPECT_EQ(ChangeFileAttr(P("f"), faReadOnly, false, true), 0u);
    EXPECT_EQ(Stat(P("f")).Mode & 0222, 0u);
    EXPECT_TRUE(AttrOf(P("f")) & faReadOnly);
    EXPECT_EQ(ChangeFileAttr(P("f"), faReadOnly, true, true), 0u);
    EXPECT_FALSE(AttrOf(P("f")) & faReadOnly);
    EXPECT_TRUE(Stat(P("f")).Mode & 0200);
    EXPECT_EQ(ChangeFileAttr(P("missing"), faReadOnly, false, true), ERROR_FILE_NOT_FOUND);

    if (UserXattrsSupported(Dir)) {
        EXPECT_EQ(ChangeFileAttr(P("f"), faHidden | faSysFile, false, true), 0u);
        EXPECT_EQ(AttrOf(P("f")) & (faHidden | faSysFile), uint32_t(faHidden | faSysFile));
        EXPECT_EQ(ChangeFileAttr(P("f"), faHidden, true, true), 0u);
        EXPECT_EQ(AttrOf(P("f")) & (faHidden | faSysFile), uint32_t(faSysFile));
    }
}

TEST_F(FileUtilsTest, ChangeFileAttrWritesNothingWhenNothingChanges)
{
    WriteRaw(P("f"), "x");
    ASSERT_TRUE(AttrOf(P("f")) & faArchive); // a new file counts as changed
    const timespec ctime = Stat(P("f")).CTime;
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // so a write would show in ctime
    EXPECT_EQ(ChangeFileAttr(P("f"), faArchive, false, true), 0u);
    EXPECT_EQ(ChangeFileAttr(P("f"), faHidden, true, true), 0u);
    const timespec after = Stat(P("f")).CTime;
    EXPECT_EQ(after.tv_sec, ctime.tv_sec);
    EXPECT_EQ(after.tv_nsec, ctime.tv_nsec);
}

} // namespace
} // namespace vl
