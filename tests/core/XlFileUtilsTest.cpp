#include "core/XlFileUtils.h"

#include "common/RawFs.h"
#include "common/TestUtils.h"
#include "core/DirUtils.h"
#include "core/FileUtils.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace vl {
namespace {

using namespace vl::test;

// The raw names in a folder.
std::set<QByteArray> RawNames(const QString &dir)
{
    std::set<QByteArray> names;
    DIR *d = ::opendir(N(dir).constData());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            names.insert(name);
    }
    ::closedir(d);
    return names;
}

timespec MTimeOf(const QString &path, bool followLink)
{
    struct stat s {};
    if (followLink)
        ::stat(N(path).constData(), &s);
    else
        ::lstat(N(path).constData(), &s);
    return s.st_mtim;
}

class XlFileUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = test::MakeTempDir(QStringLiteral("xl")); }
    QString P(const char *rel) const { return Dir + QLatin1Char('/') + QString::fromUtf8(rel); }
    QString Dir;
};

TEST_F(XlFileUtilsTest, LongPathsCreateCopyFindMoveDelete)
{
    QString deep = Dir;
    while (deep.size() < 320)
        deep += QLatin1Char('/') + QString(40, QLatin1Char('d'));
    const QString file = deep + QStringLiteral("/file.txt");
    ASSERT_GT(file.size(), 320);

    EXPECT_TRUE(XlForceDirectories(deep));
    EXPECT_TRUE(XlDirectoryExists(deep, true));
    EXPECT_TRUE(XlForceDirectories(deep)); // existing: still true

    WriteRaw(P("source.txt"), "long path data");
    XlCopyFileWithAttributes(P("source.txt"), file, -1, kStreamCopyBufSize);
    EXPECT_EQ(ReadRaw(file), QByteArray("long path data"));
    EXPECT_TRUE(XlFileExists(file, true));
    EXPECT_EQ(XlFileSize(file), 14);

    TSearchRec sr;
    ASSERT_EQ(XlFindFirst(deep + QStringLiteral("/*.TXT"), faAnyFileNoDirs, sr), 0u);
    EXPECT_EQ(sr.Name, QStringLiteral("file.txt"));
    EXPECT_EQ(FindNext(sr), ERROR_NO_MORE_FILES);
    FindClose(sr);
    TFileInfo info;
    EXPECT_TRUE(XlGetFileInfo(file, info));

    const QString moved = deep + QLatin1Char('/') + QString(100, QLatin1Char('m'));
    EXPECT_EQ(XlMoveFile(file, moved), 0u);
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(ReadRaw(moved), QByteArray("long path data"));

    EXPECT_TRUE(XlDeleteFile(moved, true));
    EXPECT_TRUE(XlDirectoryIsEmpty(deep));
    EXPECT_EQ(XlRemoveDirectory(deep), 0u);
    EXPECT_FALSE(XlDirectoryExists(deep, false));

    try {
        XlForceDirectories(QString());
        ADD_FAILURE() << "no exception for an empty folder name";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.ErrorCode(), ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to create directory"));
    }
}

TEST_F(XlFileUtilsTest, NameThatIsNoUtf8KeepsItsBytes)
{
    const QByteArray raw("r\xE9sum\xE9.txt");
    WriteRaw(Dir + QLatin1Char('/') + DecodeFileName(raw), "bytes");

    TSearchRec sr;
    ASSERT_EQ(XlFindFirst(Dir + QStringLiteral("/r*"), faAnyFile, sr), 0u);
    const QString name = sr.Name;
    FindClose(sr);
    EXPECT_EQ(N(name), raw);
    TFileInfo info;
    EXPECT_TRUE(XlGetFileInfo(Dir + QLatin1Char('/') + name, info));
    EXPECT_EQ(info.Size, 5);

    const QByteArray rawMoved("d\xE9j\xE0");
    const QString moved = Dir + QLatin1Char('/') + DecodeFileName(rawMoved);
    EXPECT_EQ(XlMoveFile(Dir + QLatin1Char('/') + name, moved), 0u);
    EXPECT_EQ(RawNames(Dir), std::set<QByteArray>{rawMoved});
    EXPECT_EQ(ReadRaw(moved), QByteArray("bytes"));

    EXPECT_TRUE(XlDeleteFile(moved, false));
    EXPECT_TRUE(RawNames(Dir).empty());
}

TEST_F(XlFileUtilsTest, ExistenceOfFilesDirectoriesAndLinks)
{
    WriteRaw(P("file"), "x");
    MkDir(P("dir"));
    SymLink(P("file"), P("filelink"));
    SymLink(P("dir"), P("dirlink"));
    SymLink(P("nothing"), P("dangling"));

    struct TCase {
        const char *Name;
        bool FileOwn, FileFollowed, DirOwn, DirFollowed;
    };
    const TCase cases[] = {
        {"file", true, true, false, false},
        {"dir", false, false, true, true},
        {"filelink", true, true, false, false},
        {"dirlink", true, false, true, true},
        {"dangling", true, false, false, false},
        {"missing", false, false, false, false},
        {"file/below", false, false, false, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(XlFileExists(P(c.Name), false), c.FileOwn);
        EXPECT_EQ(XlFileExists(P(c.Name), true), c.FileFollowed);
        EXPECT_EQ(XlDirectoryExists(P(c.Name), false), c.DirOwn);
        EXPECT_EQ(XlDirectoryExists(P(c.Name), true), c.DirFollowed);
    }
    // Names that can never resolve are no folder, so creating one fails.
    SymLink(P("loop"), P("loop"));
    for (const QString &name : {P("loop/x"), Dir + QLatin1Char('/') + QString(300, QLatin1Char('n'))}) {
        EXPECT_FALSE(XlDirectoryExists(name, false));
        EXPECT_FALSE(XlForceDirectories(name));
    }
    EXPECT_TRUE(XlFileNotFound(P("missing")));
    EXPECT_FALSE(XlFileNotFound(P("dangling")));
    EXPECT_TRUE(XlIsReparsePoint(P("dangling")));
    EXPECT_FALSE(XlIsReparsePoint(P("dir")));

    // Attributes of a link: its own, or its target's when followed.
    ::chmod(N(P("file")).constData(), 0444);
    EXPECT_TRUE(XlFileGetAttr(P("filelink"), false) & faReparsePoint);
    EXPECT_EQ(XlFileGetAttr(P("filelink"), true) & (faReparsePoint | faReadOnly), uint32_t(faReadOnly));
    EXPECT_TRUE(XlFileGetAttr(P("dangling"), false) & faReparsePoint);
    EXPECT_EQ(XlFileGetAttr(P("dangling"), true), uint32_t(faInvalid));
    EXPECT_EQ(XlFileGetAttr(P("missing"), false), uint32_t(faInvalid));

    if (::geteuid() != 0)
        GTEST_SKIP() << "the permission part needs root to drop to another user";
    // A name that cannot be read: no file, but a folder may be there.
    MkDir(P("closed"), 0700);
    MkDir(P("closed/sub"));
    test::RunUnprivileged([&] {
        EXPECT_FALSE(XlFileExists(P("closed/sub"), true));
        EXPECT_TRUE(XlDirectoryExists(P("closed/sub"), true));
        EXPECT_FALSE(XlFileNotFound(P("closed/sub")));
    });
}

TEST_F(XlFileUtilsTest, DeletingFilesAndDirectories)
{
    EXPECT_EQ(XlDeleteDirectory(P("missing"), true), ERROR_FILE_NOT_FOUND);
    MkDir(P("rodir"), 0555);
    EXPECT_EQ(XlDeleteDirectory(P("rodir"), true), 0u);
    EXPECT_FALSE(Exists(P("rodir")));

    EXPECT_EQ(XlDeleteExistingFile(P("missing"), true), 0u);
    SymLink(P("nothing"), P("dangling"));
    EXPECT_EQ(XlDeleteExistingFile(P("dangling"), true), 0u);
    EXPECT_TRUE(Exists(P("dangling"))); // no existing file behind it
    EXPECT_EQ(XlDeleteFileEx(P("dangling"), true), 0u);
    EXPECT_FALSE(Exists(P("dangling")));

    // A link to a folder goes itself.
    MkDir(P("dir"));
    WriteRaw(P("dir/keep"), "keep", 0444);
    SymLink(P("dir"), P("dirlink"));
    EXPECT_TRUE(XlDeleteFile(P("dirlink"), true));
    EXPECT_FALSE(Exists(P("dirlink")));
    EXPECT_EQ(ReadRaw(P("dir/keep")), QByteArray("keep"));

    WriteRaw(P("ro"), "x", 0444);
    EXPECT_EQ(XlDeleteExistingFile(P("ro"), true), 0u);
    EXPECT_FALSE(Exists(P("ro")));
}

TEST_F(XlFileUtilsTest, MoveNeverReplaces)
{
    WriteRaw(P("a"), "a");
    WriteRaw(P("b"), "b");
    EXPECT_EQ(XlMoveFile(P("a"), P("b")), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(XlMoveFileSetAttr(P("a"), P("b"), faReadOnly), int32_t(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadRaw(P("a")), QByteArray("a"));
    EXPECT_EQ(ReadRaw(P("b")), QByteArray("b"));
    EXPECT_GT(XlMoveFile(P("missing"), P("c")), 0u);

    EXPECT_EQ(XlMoveFileSetAttr(P("a"), P("c"), faReadOnly | faArchive), 0);
    EXPECT_FALSE(Exists(P("a")));
    EXPECT_TRUE(XlFileGetAttr(P("c"), true) & faReadOnly);
}

TEST_F(XlFileUtilsTest, MoveSetAttrReportsAttributeFailureNegated)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to leave a file owned by someone else";
    MkDir(P("m"));
    test::ChownTree(P("m"));
    WriteRaw(P("m/rootfile"), "x"); // owned by root: its attributes stay out of reach
    test::RunUnprivileged([&] {
        EXPECT_EQ(XlMoveFileSetAttr(P("m/rootfile"), P("m/moved"), faReadOnly), -int32_t(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(Exists(P("m/moved")));
        EXPECT_FALSE(Exists(P("m/rootfile")));
    });
}

TEST_F(XlFileUtilsTest, TimesOfFilesAndFolders)
{
    MkDir(P("dir"));
    SymLink(P("dir"), P("dirlink"));
    WriteRaw(P("file"), "x");
    const timespec before = MTimeOf(P("dir"), true);

    TFileTimestamps ts;
    ts.Valid = true;
    ts.CreationTime = ts.LastAccessTime = ts.LastWriteTime =
        kFileTimeUnixEpoch + TFileTime(1500000000) * kFileTimeTicksPerSecond;
    // Folder times are set on the name itself, never through a link.
    EXPECT_EQ(XlSetDirTimes(P("dirlink"), ts, true, true), 0u);
    EXPECT_EQ(MTimeOf(P("dirlink"), false).tv_sec, 1500000000);
    EXPECT_EQ(MTimeOf(P("dir"), true).tv_sec, before.tv_sec);
    EXPECT_EQ(XlSetDirTimes(P("dir"), ts, true, true), 0u);
    EXPECT_EQ(MTimeOf(P("dir"), true).tv_sec, 1500000000);

    TFileTimestamps got;
    EXPECT_TRUE(XlGetFileTimes(P("dirlink"), true, got));
    EXPECT_EQ(got.LastWriteTime, ts.LastWriteTime);
    EXPECT_EQ(XlDirAge(P("dirlink"), false), FileTimeToLocalDateTime(ts.LastWriteTime));
    EXPECT_EQ(XlDirAge(P("file"), true), 0);

    // Roots are left alone.
    const timespec root = MTimeOf(QStringLiteral("/"), false);
    EXPECT_EQ(XlSetDirTimes(QStringLiteral("/"), ts, true, true), 0u);
    EXPECT_EQ(MTimeOf(QStringLiteral("/"), false).tv_sec, root.tv_sec);
    EXPECT_EQ(XlSetDirTimes(QStringLiteral("//nosuchserver/share"), ts, true, true), 0u);

    EXPECT_EQ(XlFileAgeOrDefault(P("missing"), 42.5), 42.5);
    EXPECT_EQ(XlFileAgeOrDefault(P("dirlink"), 42.5), FileTimeToLocalDateTime(ts.LastWriteTime));
}

} // namespace
} // namespace vl
