#include "core/DirUtils.h"

#include "common/RawFs.h"
#include "common/TestUtils.h"
#include "core/FileTimes.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl {
namespace {

using namespace vl::test;

QString LinkText(const QString &path)
{
    char buf[4096];
    const ssize_t n = ::readlink(N(path).constData(), buf, sizeof buf);
    return n < 0 ? QString() : DecodeFileName(buf, n);
}

mode_t ModeOf(const QString &path)
{
    struct stat s;
    return ::stat(N(path).constData(), &s) == 0 ? s.st_mode & 07777 : 0;
}

void SetMTime(const QString &path, time_t secs)
{
    const timespec ts[2] = {{secs, 0}, {secs, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, N(path).constData(), ts, 0), 0);
}

class DirUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = test::MakeTempDir(QStringLiteral("dirutils")); }
    QString P(const char *rel) const { return Dir + QLatin1Char('/') + QString::fromUtf8(rel); }
    QString Dir;
};

TEST_F(DirUtilsTest, CreateEmptyUtf8File)
{
    WriteRaw(P("log.txt"), "old content");
    EXPECT_EQ(CreateEmptyUtf8File(P("log.txt")), 0u);
    EXPECT_EQ(ReadRaw(P("log.txt")), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(CreateEmptyUtf8File(P("new.txt")), 0u);
    EXPECT_EQ(ReadRaw(P("new.txt")), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(CreateEmptyUtf8File(P("none/new.txt")), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(Exists(P("none")));

    // A write that fails raises a stream error carrying the error number.
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/full";
    try {
        CreateEmptyUtf8File(QStringLiteral("/dev/full"));
        ADD_FAILURE() << "no exception for a full device";
    } catch (const EStreamError &e) {
        const auto *io = dynamic_cast<const EInOutError *>(&e);
        ASSERT_NE(io, nullptr);
        EXPECT_EQ(io->ErrorCode(), ERROR_DISK_FULL);
        EXPECT_EQ(e.Message(), QStringLiteral("There is not enough space on the disk"));
    }
}

TEST_F(DirUtilsTest, ForceDeleteFileRemovesNamesNeverTargets)
{
    EXPECT_TRUE(ForceDeleteFile(P("missing")));
    EXPECT_TRUE(ForceDeleteFile(P("missing/deeper")));

    WriteRaw(P(".ro-hidden"), "x", 0444);
    EXPECT_TRUE(ForceDeleteFile(P(".ro-hidden")));
    EXPECT_FALSE(Exists(P(".ro-hidden")));

    // Links go themselves, dangling or not; their targets stay untouched.
    MkDir(P("target"));
    WriteRaw(P("target/keep"), "keep", 0444);
    SymLink(P("target"), P("dirlink"));
    SymLink(P("target/keep"), P("filelink"));
    SymLink(P("nothing"), P("dangling"));
    for (const char *link : {"dirlink", "filelink", "dangling"}) {
        EXPECT_TRUE(ForceDeleteFile(P(link))) << link;
        EXPECT_FALSE(Exists(P(link))) << link;
    }
    EXPECT_EQ(ReadRaw(P("target/keep")), QByteArray("keep"));
    EXPECT_EQ(ModeOf(P("target/keep")), mode_t(0444));

    // A directory is no file: nothing to delete.
    EXPECT_TRUE(ForceDeleteFile(P("target")));
    EXPECT_TRUE(IsDir(P("target")));
}

TEST_F(DirUtilsTest, DeleteFileIfExistsFollowsLinks)
{
    WriteRaw(P("f"), "x");
    EXPECT_TRUE(DeleteFileIfExists(P("f")));
    EXPECT_FALSE(Exists(P("f")));
    EXPECT_TRUE(DeleteFileIfExists(P("f")));
    // A dangling link is no existing file.
    SymLink(P("nothing"), P("dangling"));
    EXPECT_TRUE(DeleteFileIfExists(P("dangling")));
    EXPECT_TRUE(IsLink(P("dangling")));
}

TEST_F(DirUtilsTest, DeleteByMaskAndAge)
{
    for (const char *name : {"a.tmp", "B.TMP", ".c.tmp", "keep.txt"})
        WriteRaw(P(name), "x");
    MkDir(P("dir.tmp"));
    EXPECT_EQ(DeleteFilesByMask(Dir, QStringLiteral("*.tmp")), 3);
    EXPECT_TRUE(Exists(P("keep.txt")));
    EXPECT_TRUE(IsDir(P("dir.tmp")));
    EXPECT_EQ(DeleteFilesByMask(Dir + QStringLiteral("/"), QStringLiteral("*.tmp")), 0);

    const time_t t = 1600000000; // 2020-09-13 12:26:40 UTC
    for (const char *name : {"old.log", "same.log", "new.log"})
        WriteRaw(P(name), "x");
    SetMTime(P("old.log"), t - 1);
    SetMTime(P("same.log"), t);
    SetMTime(P("new.log"), t + 3600);
    const TDateTime date = FileTimeToLocalDateTime(kFileTimeUnixEpoch + TFileTime(t) * kFileTimeTicksPerSecond);
    EXPECT_EQ(DeleteOlderFiles(Dir, QStringLiteral("*.log"), date), 1);
    EXPECT_FALSE(Exists(P("old.log")));
    EXPECT_TRUE(Exists(P("same.log")));
    EXPECT_TRUE(Exists(P("new.log")));
}

TEST_F(DirUtilsTest, EmptinessAndAccess)
{
    EXPECT_TRUE(IsDirectoryEmpty(P("missing")));
    MkDir(P("empty"));
    EXPECT_TRUE(IsDirectoryEmpty(P("empty")));
    EXPECT_TRUE(HasNoSubDirs(P("empty")));
    MkDir(P("withhidden"));
    MkDir(P("withhidden/.git"));
    EXPECT_FALSE(IsDirectoryEmpty(P("withhidden")));
    EXPECT_FALSE(HasNoSubDirs(P("withhidden")));
    MkDir(P("files"));
    WriteRaw(P("files/f"), "x");
    EXPECT_FALSE(IsDirectoryEmpty(P("files/")));
    EXPECT_TRUE(HasNoSubDirs(P("files")));

    uint32_t code = 99;
    EXPECT_FALSE(CheckDirAccess(P("missing"), code));
    EXPECT_EQ(code, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CheckDirAccess(P("files/f"), code));
    EXPECT_EQ(code, ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CheckDirAccess(P("empty"), code));
    EXPECT_EQ(code, 0u);
    SymLink(P("files"), P("link"));
    EXPECT_TRUE(IsDirectoryReadable(P("link")));

    if (::geteuid() != 0)
        GTEST_SKIP() << "the permission part needs root to drop to another user";
    MkDir(P("closed"), 0700);
    WriteRaw(P("closed/f"), "x");
    test::RunUnprivileged([&] {
        uint32_t c = 99;
        EXPECT_FALSE(CheckDirAccess(P("closed"), c));
        EXPECT_EQ(c, ERROR_ACCESS_DENIED);
        EXPECT_FALSE(IsDirectoryReadable(P("closed")));
    });
}

TEST_F(DirUtilsTest, CountDirFiles)
{
    for (const char *name : {"one.buj", "two.txt", "sub/three.buj", "sub/four.BUJ", "sub/deep/five"}) {
        const QString path = P(name);
        const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
        if (!Exists(parent)) {
            ASSERT_EQ(MakeDirs(parent), 0u);
        }
        WriteRaw(path, "x");
    }
    EXPECT_EQ(CountDirFiles(Dir, false, QString()), 2);
    EXPECT_EQ(CountDirFiles(Dir, true, QString()), 5);
    EXPECT_EQ(CountDirFiles(Dir + QStringLiteral("/"), true, QStringLiteral("buj")), 3);
    EXPECT_EQ(CountDirFiles(Dir, false, QStringLiteral(".buj")), 1);
    EXPECT_EQ(CountDirFiles(P("missing"), true, QString()), 0);
}

TEST_F(DirUtilsTest, CountDirFilesIgnoresLinkCycles)
{
    MkDir(P("a"));
    MkDir(P("a/b"));
    WriteRaw(P("a/b/f"), "x");
    SymLink(QStringLiteral(".."), P("a/b/up"));   // a cycle
    SymLink(P("a"), P("a/b/again"));              // another one, absolute
    SymLink(QStringLiteral("f"), P("a/b/flink")); // a link to a file counts
    EXPECT_EQ(CountDirFiles(P("a"), true, QString()), 2);
}

TEST_F(DirUtilsTest, DeleteDirectoryTreeNeverFollowsLinks)
{
    // Outside the tree: a folder and a file the tree links to.
    MkDir(P("outside"));
    WriteRaw(P("outside/precious"), "precious", 0444);
    WriteRaw(P("outside.txt"), "outside", 0444);

    ASSERT_EQ(MakeDirs(P("tree/a/b")), 0u);
    WriteRaw(P("tree/top.txt"), "x");
    WriteRaw(P("tree/.hidden"), "x");
    WriteRaw(P("tree/a/ro.txt"), "x", 0444);
    WriteRaw(P("tree/a/b/deep.txt"), "x");
    SymLink(P("outside"), P("tree/a/dirlink"));
    SymLink(P("outside.txt"), P("tree/a/b/filelink"));
    SymLink(P("nothing"), P("tree/dangling"));
    SymLink(QStringLiteral("../.."), P("tree/a/b/cycle"));
    MkDir(P("tree/rodir"));
    WriteRaw(P("tree/rodir/in.txt"), "x");
    ASSERT_EQ(::chmod(N(P("tree/rodir")).constData(), 0555), 0);

    // Without the root: the tree is emptied.
    EXPECT_TRUE(DeleteDirectoryTree(P("tree"), false));
    EXPECT_TRUE(IsDir(P("tree")));
    EXPECT_TRUE(IsDirectoryEmpty(P("tree")));

    EXPECT_EQ(ReadRaw(P("outside/precious")), QByteArray("precious"));
    EXPECT_EQ(ModeOf(P("outside/precious")), mode_t(0444));
    EXPECT_EQ(ReadRaw(P("outside.txt")), QByteArray("outside"));
    EXPECT_EQ(ModeOf(P("outside.txt")), mode_t(0444));

    EXPECT_TRUE(DeleteDirectoryTree(P("tree/"), true));
    EXPECT_FALSE(Exists(P("tree")));
    EXPECT_TRUE(DeleteDirectoryTree(P("tree"), true)); // missing: nothing failed
}

TEST_F(DirUtilsTest, DeleteDirectoryTreeOfALinkedRoot)
{
    MkDir(P("real"));
    MkDir(P("real/sub"));
    WriteRaw(P("real/sub/f"), "x");
    SymLink(P("real"), P("root"));

    // The root link goes, what it names stays.
    EXPECT_TRUE(DeleteDirectoryTree(P("root"), true));
    EXPECT_FALSE(Exists(P("root")));
    EXPECT_EQ(ReadRaw(P("real/sub/f")), QByteArray("x"));

    // Emptying the folder a link names empties that folder.
    SymLink(P("real"), P("root"));
    EXPECT_TRUE(DeleteDirectoryTree(P("root"), false));
    EXPECT_TRUE(IsLink(P("root")));
    EXPECT_TRUE(IsDir(P("real")));
    EXPECT_TRUE(IsDirectoryEmpty(P("real")));
}

TEST_F(DirUtilsTest, DeleteDirectoryTreeKeepsWhatItCannotDelete)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the permission part needs root to drop to another user";
    ASSERT_EQ(MakeDirs(P("tree/a/locked")), 0u);
    ASSERT_EQ(MakeDirs(P("tree/free/sub")), 0u);
    WriteRaw(P("tree/a/locked/keep"), "keep");
    WriteRaw(P("tree/a/gone"), "x");
    WriteRaw(P("tree/free/sub/gone"), "x");
    WriteRaw(P("tree/gone"), "x");
    test::ChownTree(P("tree"));
    // A folder the unprivileged user may not write, owned by someone else.
    ASSERT_EQ(::chown(N(P("tree/a/locked")).constData(), 0, 0), 0);
    ASSERT_EQ(::chmod(N(P("tree/a/locked")).constData(), 0755), 0);
    // A read-only folder of the user's own is emptied all the same.
    ASSERT_EQ(::chmod(N(P("tree/free/sub")).constData(), 0555), 0);

    test::RunUnprivileged([&] { EXPECT_FALSE(DeleteDirectoryTree(P("tree"), false)); });

    EXPECT_EQ(ReadRaw(P("tree/a/locked/keep")), QByteArray("keep"));
    EXPECT_TRUE(IsDir(P("tree/a")));
    EXPECT_FALSE(Exists(P("tree/a/gone")));
    EXPECT_FALSE(Exists(P("tree/free")));
    EXPECT_FALSE(Exists(P("tree/gone")));
}

TEST_F(DirUtilsTest, CreateJunction)
{
    MkDir(P("target"));
    WriteRaw(P("target/f"), "x");

    // Missing parents are created; the link holds the absolute target.
    EXPECT_EQ(CreateJunction(P("x/y/j"), P("target") + QStringLiteral("/")), 0u);
    EXPECT_TRUE(IsLink(P("x/y/j")));
    EXPECT_EQ(LinkText(P("x/y/j")), P("target"));
    EXPECT_EQ(ReadRaw(P("x/y/j/f")), QByteArray("x"));

    // A relative target is made absolute against the current folder.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(N(Dir).constData()), 0);
    const uint32_t relative = CreateJunction(P("rel"), QStringLiteral("target"));
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(relative, 0u);
    EXPECT_TRUE(LinkText(P("rel")).startsWith(QLatin1Char('/')));
    EXPECT_EQ(ReadRaw(P("rel/f")), QByteArray("x"));

    // A non-empty folder is left alone.
    MkDir(P("full"));
    WriteRaw(P("full/g"), "g");
    EXPECT_EQ(CreateJunction(P("full"), P("target")), ERROR_DIR_NOT_EMPTY);
    EXPECT_TRUE(IsDir(P("full")));
    EXPECT_EQ(ReadRaw(P("full/g")), QByteArray("g"));

    // A missing or non-directory target: an error, and nothing is left.
    for (const char *target : {"missing", "target/f", ""}) {
        EXPECT_EQ(CreateJunction(P("p/q/j"), target[0] ? P(target) : QString()), ERROR_PATH_NOT_FOUND) << target;
        EXPECT_FALSE(Exists(P("p"))) << target;
    }

    // An empty folder becomes the link; a file in the way is an error.
    MkDir(P("empty"));
    EXPECT_EQ(CreateJunction(P("empty"), P("target")), 0u);
    EXPECT_TRUE(IsLink(P("empty")));
    EXPECT_EQ(CreateJunction(P("empty"), P("target")), ERROR_DIR_NOT_EMPTY); // the link shows f
    WriteRaw(P("file"), "x");
    EXPECT_NE(CreateJunction(P("file"), P("target")), 0u);
    EXPECT_EQ(ReadRaw(P("file")), QByteArray("x"));
    // An empty folder is never made a link to itself.
    MkDir(P("self"));
    EXPECT_NE(CreateJunction(P("self"), P("self")), 0u);
    EXPECT_TRUE(IsDir(P("self")));
}

} // namespace
} // namespace vl
