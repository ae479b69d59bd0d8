#include "core/PathUtils.h"

#include "core/Masks.h"
#include "common/TestUtils.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

using namespace vl;

namespace {

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// One call and its expected result; the call's text names a failing case.
struct Case {
    QString got;
    const char *expected;
    const char *call;
};
#define CASE(call, expected) Case{(call), (expected), #call}

void ExpectCases(const std::vector<Case> &cases)
{
    for (const Case &c : cases)
        EXPECT_EQ(c.got, S(c.expected)) << c.call;
}

struct BoolCase {
    bool got;
    bool expected;
    const char *call;
};
#define BCASE(call, expected) BoolCase{(call), (expected), #call}

void ExpectCases(const std::vector<BoolCase> &cases)
{
    for (const BoolCase &c : cases)
        EXPECT_EQ(c.got, c.expected) << c.call;
}

} // namespace

TEST(PathUtilsTest, DelimitersAndDirectories)
{
    ExpectCases({
        CASE(WithTrailingDelimiter(S("")), ""),
        CASE(WithTrailingDelimiter(S("/a")), "/a/"),
        CASE(WithTrailingDelimiter(S("/a/")), "/a/"),
        CASE(WithTrailingDelimiter(S("a\\")), "a\\/"),
        CASE(JoinPath(S("/t"), S("x")), "/t/x"),
        CASE(JoinPath(S("/t/"), S("x")), "/t/x"),
        CASE(JoinPath(S("/t"), S("")), "/t"),
        CASE(JoinPath(S(""), S("x")), "x"),
        CASE(ParentDirectory(S("/a/b/")), "/a"),
        CASE(ParentDirectory(S("/a/b")), "/a"),
        CASE(ParentDirectory(S("/a")), "/"),
        CASE(ParentDirectory(S("/")), "/"),
        CASE(ParentDirectory(S("a/b")), "a"),
        CASE(ParentDirectory(S("a")), "a"),
        CASE(ParentDirectory(S("//srv/share/dir")), "//srv/share"),
        CASE(ParentDirectory(S("/a\\b")), "/"),
        CASE(LastPathElement(S("/a/b/")), "b"),
        CASE(LastPathElement(S("/a/b")), "b"),
        CASE(LastPathElement(S("b")), "b"),
        CASE(LastPathElement(S("/")), ""),
    });
    ExpectCases({
        BCASE(SameDirectory(S("/a/b"), S("/a/b/")), true),
        BCASE(SameDirectory(S("/a/b"), S("/a/B")), false),
        BCASE(SameDirectory(S(""), S("")), true),
        BCASE(SameDirectoryNonEmpty(S(""), S("")), false),
        BCASE(SameDirectoryNonEmpty(S("/a/"), S("/a")), true),
        BCASE(IsRegularDirName(S(".")), false),
        BCASE(IsRegularDirName(S("..")), false),
        BCASE(IsRegularDirName(S("...")), true),
        BCASE(IsRegularDirName(S(".git")), true),
    });
}

TEST(PathUtilsTest, Extensions)
{
    ExpectCases({
        CASE(ExtensionOf(S("/a.b/file")), ""),
        CASE(ExtensionOf(S("x.tar.gz")), "gz"),
        CASE(ExtensionOf(S("/d/.cfg")), "cfg"),
        CASE(ExtensionOf(S("a.")), ""),
        CASE(StripExtension(S("/a.b/file")), "/a.b/file"),
        CASE(StripExtension(S("/d/x.tar.gz")), "/d/x.tar"),
        CASE(StripExtension(S(".cfg")), ""),
        CASE(ReplaceExtension(S(""), S("zip")), ""),
        CASE(ReplaceExtension(S("a.txt"), S("zip")), "a.zip"),
        CASE(ReplaceExtension(S("a.txt"), S(".zip")), "a.zip"),
        CASE(ReplaceExtension(S("a.txt"), S("")), "a"),
        CASE(ReplaceExtension(S("/d.x/a"), S("gz")), "/d.x/a.gz"),
        CASE(ForceExtension(S("backup.ZIP"), S(".zip"), 0), "backup.ZIP"),
        CASE(ForceExtension(S("backup"), S("zip"), 0), "backup.zip"),
        CASE(ForceExtension(S("a.txt"), S("zip"), 0), "a.txt.zip"),
        CASE(ForceExtension(S("/d.zip/a"), S("zip"), 0), "/d.zip/a.zip"),
        CASE(ForceExtension(S("a.txt"), S(".zip"), 1), "a.zip"),
        CASE(ForceExtension(S("a"), S("zip"), 2), "a.zip"),
        CASE(ForceExtension(S("a."), S("zip"), 2), "a.zip"),
        CASE(ForceExtension(S("a.zip"), S("zip"), 2), "a.zip.zip"),
        CASE(ForceExtension(S(""), S("zip"), 0), ""),
        CASE(ForceExtension(S("a.txt"), S(""), 1), "a.txt"),
        CASE(InsertSuffixWithExt(S("/d/a.txt"), S("_1"), S("log")), "/d/a_1.log"),
        CASE(InsertSuffixWithExt(S("/d/a.txt"), S("_1"), S(".log")), "/d/a_1.log"),
        CASE(InsertSuffixWithExt(S("a.txt"), S("_1"), S("")), "a_1"),
        CASE(InsertNameSuffix(S("a.txt"), S("_1")), "a_1.txt"),
        CASE(InsertNameSuffix(S("a"), S("_1")), "a_1"),
        CASE(InsertNameSuffix(S("/d.x/a"), S("_1")), "/d.x/a_1"),
        CASE(InsertNameSuffix(S("x.tar.gz"), S("_2")), "x.tar_2.gz"),
        CASE(InsertNameSuffix(S("a."), S("_1")), "a_1."),
    });
}

TEST(PathUtilsTest, BuildFileName)
{
    ExpectCases({
        CASE(BuildFileName(S("/t"), S("job"), S("buj")), "/t/job.buj"),
        CASE(BuildFileName(S("/t"), S("*"), S("")), "/t/*"),
        CASE(BuildFileName(S("/t/"), S("job"), S(".buj")), "/t/job.buj"),
        CASE(BuildFileName(S("/t"), S("job.x"), S("buj")), "/t/job.x"),
        CASE(BuildFileName(S("/t"), S("sub/job"), S("buj")), "/t/sub/job.buj"),
        CASE(BuildFileName(S(""), S("job"), S("buj")), "job.buj"),
        CASE(BuildFileName(S("/t"), S("/u/job"), S("buj")), "/u/job.buj"),
        CASE(BuildFileName(S("/t"), S(":DISK:/job"), S("buj")), ":DISK:/job.buj"),
        // ":" alone makes no path absolute here.
        CASE(BuildFileName(S("/t"), S("a:b"), S("buj")), "/t/a:b.buj"),
        // No file named only ".buj" out of an empty name.
        CASE(BuildFileName(S("/t"), S(""), S("buj")), "/t/"),
    });
}

TEST(PathUtilsTest, DrivesAndAbsolutePaths)
{
    ExpectCases({
        CASE(ExtractFileDrive(S("/home/a")), "/"),
        CASE(ExtractFileDrive(S("/")), "/"),
        CASE(ExtractFileDrive(S("//srv/share/dir/x")), "//srv/share"),
        CASE(ExtractFileDrive(S("//srv/share")), "//srv/share"),
        CASE(ExtractFileDrive(S("//srv/")), "//srv"),
        CASE(ExtractFileDrive(S("///x")), "/"),
        CASE(ExtractFileDrive(S("a/b")), ""),
        CASE(ExtractFileDrive(S(":DISK:/x")), ""),
        CASE(DriveRelativePath(S("/home/a")), "home/a"),
        CASE(DriveRelativePath(S("//srv/share/d/x")), "d/x"),
        CASE(DriveRelativePath(S("//srv/share")), ""),
        CASE(DriveRelativePath(S("a/b")), "a/b"),
        CASE(DriveRelativePath(S(":DISK:/x")), ":DISK:/x"),
        CASE(AbsolutePath(S("/t"), S("x/y")), "/t/x/y"),
        CASE(AbsolutePath(S("/t/"), S("/u")), "/u"),
        CASE(AbsolutePath(S("/t"), S(":DISK:/u")), ":DISK:/u"),
        CASE(AbsolutePath(S("/t"), S("a:b")), "/t/a:b"),
    });
    ExpectCases({
        BCASE(IsDriveRoot(S("")), true),
        BCASE(IsDriveRoot(S("/")), true),
        BCASE(IsDriveRoot(S("//srv/share")), true),
        BCASE(IsDriveRoot(S("//srv/share/")), true),
        BCASE(IsDriveRoot(S("//srv/share/d")), false),
        BCASE(IsDriveRoot(S("/home")), false),
        BCASE(IsDriveRoot(S("a")), false),
        BCASE(IsDriveRoot(S(":DISK:")), false),
        BCASE(HasAbsolutePath(S("")), false),
        BCASE(HasAbsolutePath(S("/a")), true),
        BCASE(HasAbsolutePath(S("//srv/share")), true),
        BCASE(HasAbsolutePath(S("a/b")), false),
        BCASE(HasAbsolutePath(S("a:b")), false),
        BCASE(HasAbsolutePath(S(":DISK:/x")), true),
        BCASE(HasAbsolutePath(S(":DISK:")), true),
        BCASE(HasAbsolutePath(S(":DISK:x")), false),
        BCASE(HasAbsolutePath(S("::/x")), false),
        BCASE(HasAbsolutePath(S(":a/b:/x")), false),
        BCASE(HasAbsolutePath(S("\\x")), false),
    });
}

TEST(PathUtilsTest, RelativePathsAndCommonBases)
{
    ExpectCases({
        CASE(RelativePathTo(S("/t"), S("/t/x/y.buj")), "x/y.buj"),
        CASE(RelativePathTo(S("/t/"), S("/t/x/")), "x/"),
        CASE(RelativePathTo(S("/t"), S("/t/")), ""),
        CASE(RelativePathTo(S("/t"), S("/T/")), "/T/"),
        CASE(RelativePathTo(S("/t"), S("/tx/y")), "/tx/y"),
        CASE(RelativePathTo(S("/t"), S("//srv/share/x")), "//srv/share/x"),
        CASE(RelativePathTo(S(""), S("/x")), "/x"),
        CASE(CommonBasePath(S("/Data/Photos/2020"), S("/Data/Music")), "/Data/"),
        CASE(CommonBasePath(S("/Data/Photos"), S("/data/Photos")), "/"),
        CASE(CommonBasePath(S("//srv/a"), S("//srv/b")), "//srv/"),
        CASE(CommonBasePath(S("/a/bc"), S("/a/b")), "/a/"),
        CASE(CommonBasePath(S("/a/b"), S("/a/b/")), "/a/b/"),
        CASE(CommonBasePath(S("/a"), S("b/a")), ""),
        CASE(CommonBasePath(S(""), S("/a")), ""),
    });
    ExpectCases({
        BCASE(DirContainsPath(S(""), S("/a")), false),
        BCASE(DirContainsPath(S("/"), S("/a")), true),
        BCASE(DirContainsPath(S("/a"), S("/a/")), true),
        BCASE(DirContainsPath(S("/a"), S("/a/b")), true),
        BCASE(DirContainsPath(S("/a"), S("/ab")), false),
        BCASE(DirContainsPath(S("/a"), S("/A/b")), false),
        BCASE(DirContainsPath(S("/a/b"), S("/a")), false),
    });
}

TEST(PathUtilsTest, CanonicalPath)
{
    ExpectCases({
        CASE(CanonicalPath(S("/t"), S("/u/../x")), "/u/../x"),
        CASE(CanonicalPath(S("/t"), S(":DISK:/../x")), ":DISK:/../x"),
        CASE(CanonicalPath(S("/t/a"), S("../b/./c")), "/t/b/c"),
        CASE(CanonicalPath(S("/t/./a/"), S("x//y/")), "/t/a/x/y/"),
        CASE(CanonicalPath(S("/t"), S("x/..")), "/t"),
        CASE(CanonicalPath(S("/t"), S("")), "/t/"),
        CASE(CanonicalPath(S(""), S("a/../b")), "/b"),
        CASE(CanonicalPath(S("/t"), S("../../../x")), "/x"),
        CASE(CanonicalPath(S("/t"), S("..")), "/"),
        CASE(CanonicalPath(S("//srv/share/d"), S("../../x")), "//srv/share/x"),
        CASE(CanonicalPath(S("//srv/share"), S("..")), "//srv/share"),
        CASE(CanonicalPath(S("//srv/share"), S("../")), "//srv/share/"),
        CASE(CanonicalPath(S(":DISK:/d"), S("../../x")), ":DISK:/x"),
        CASE(CanonicalPath(S("a/b"), S("../c")), "a/c"),
        CASE(CanonicalPath(S("a"), S("..")), "."),
        // Not resolvable: above a relative base, a share without a name.
        CASE(CanonicalPath(S("a"), S("../../c")), "../../c"),
        CASE(CanonicalPath(S("//srv"), S("../x")), "../x"),
        CASE(CanonicalPath(S("//srv/.."), S("x")), "x"),
    });

    // No length limit: a path of well over 300 characters resolves too.
    const QString deep = S("/t/") + QString(150, QLatin1Char('a')) + S("/") + QString(150, QLatin1Char('b'));
    EXPECT_EQ(CanonicalPath(deep, S("../c")), S("/t/") + QString(150, QLatin1Char('a')) + S("/c"));
}

TEST(PathUtilsTest, ShortenPath)
{
    ExpectCases({
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 20), "/dir1/.../file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 23), "/dir1/dir2/.../file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 22), "/dir1/.../file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 13), "/.../file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 12), ".../file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 24), "/dir1/dir2/dir3/file.txt"),
        CASE(ShortenPath(S("/dir1/dir2/dir3/file.txt"), 3), "/dir1/dir2/dir3/file.txt"),
        // A trailing delimiter stays with the last element.
        CASE(ShortenPath(S("/dir1/dir2/dir3/sub/"), 15), "/dir1/.../sub/"),
        CASE(ShortenPath(S("abcdefghijklmnopqrstuvwxyz0123"), 10), "...xyz0123"),
        CASE(ShortenPath(S("/a/a_very_long_file_name.txt"), 10), "...ame.txt"),
        CASE(ShortenPath(S("/a_very_long_file_name.txt"), 10), "...ame.txt"),
        CASE(ShortenPath(S("dir1\\dir2\\dir3\\file.txt"), 12), "...\\file.txt"),
        // The cut never splits a surrogate pair.
        CASE(ShortenPath(S("abcd\U0001F600efgh"), 8), "...efgh"),
        CASE(ShortenPath(S("abcd\U0001F600efgh"), 9), "...\U0001F600efgh"),
    });

    const QString longPath = S("/home/") + QString(300, QLatin1Char('x')) + S("/report.txt");
    EXPECT_EQ(ShortenPath(longPath, 40), S("/home/.../report.txt"));
    EXPECT_EQ(ShortenPath(longPath, 15), S("/.../report.txt"));
    EXPECT_EQ(ShortenPath(longPath, 14), S(".../report.txt"));
    const QString manyDirs = S("/home/u") + S("/dir").repeated(80) + S("/report.txt");
    EXPECT_EQ(ShortenPath(manyDirs, 40), S("/home/u/dir/dir/dir/dir/.../report.txt"));
}

TEST(PathUtilsTest, FileNameCharacters)
{
    ExpectCases({
        BCASE(HasValidFileNameChars(S("")), true),
        BCASE(HasValidFileNameChars(S("report 2024-01.txt")), true),
        BCASE(HasValidFileNameChars(S("Überblick")), true),
        BCASE(HasValidFileNameChars(S("a:b")), false),
        BCASE(HasValidFileNameChars(S("a/b")), false),
        BCASE(HasValidFileNameChars(S("a\\b")), false),
        BCASE(HasValidFileNameChars(S("a\tb")), false),
        BCASE(HasValidFileNameChars(S("a\x1f")), false),
        BCASE(HasValidFileNameChars(S("\"<>|")), false),
    });
    ExpectCases({
        CASE(ReplaceInvalidFileNameChars(S("a?b*c"), QLatin1Char('_')), "a_b_c"),
        CASE(ReplaceInvalidFileNameChars(S("\"*/:<>?\\|\x01 ok"), QLatin1Char('-')), "---------- ok"),
        CASE(ReplaceInvalidFileNameChars(S(""), QLatin1Char('_')), ""),
    });
}

TEST(PathUtilsTest, MatchesFileMask)
{
    ExpectCases({
        BCASE(MatchesFileMask(S(""), S("a.txt")), false),
        BCASE(MatchesFileMask(S(""), S("")), false),
        BCASE(MatchesFileMask(S("*.txt"), S("a.txt")), true),
        BCASE(MatchesFileMask(S("*.txt"), S("A.TXT")), true),
        BCASE(MatchesFileMask(S("*.txt"), S("a.txt.gz")), false),
        BCASE(MatchesFileMask(S("a?c"), S("abc")), true),
        BCASE(MatchesFileMask(S("[a-c]*"), S("Bx")), true),
    });
    EXPECT_THROW(MatchesFileMask(S("[a"), S("a")), EMaskException);
}

class PathUtilsExistingParentDir : public testing::Test {
protected:
    void SetUp() override
    {
        FDir = test::MakeTempDir(QStringLiteral("parent"));
        ASSERT_TRUE(QDir().mkpath(FDir + S("/sub/deeper")));
        test::WriteBytes(FDir + S("/file"), "x");
        ASSERT_EQ(symlink("sub", QFile::encodeName(FDir + S("/link")).constData()), 0);
    }

    // The same folder written as a network path: the kernel reads "//a/b"
    // as "/a/b", so a local folder stands in for a share.
    QString AsNetworkPath(const QString &localPath) const { return S("/") + localPath; }

    QString FDir;
    const QString FDefault = S("/default");
};

TEST_F(PathUtilsExistingParentDir, LocalPaths)
{
    EXPECT_EQ(ExistingParentDir(FDir + S("/sub/deeper"), FDefault), FDir + S("/sub/deeper"));
    EXPECT_EQ(ExistingParentDir(FDir + S("/link"), FDefault), FDir + S("/link"));
    ExpectCases({
        // No search upwards on a local drive.
        CASE(ExistingParentDir(FDir + S("/gone/deeper"), FDefault), "/default"),
        CASE(ExistingParentDir(FDir + S("/file"), FDefault), "/default"),
        CASE(ExistingParentDir(S(""), FDefault), "/default"),
        CASE(ExistingParentDir(S("sub"), FDefault), "/default"),
    });
}

TEST_F(PathUtilsExistingParentDir, VolumeLabelPathIsNotProbed)
{
    // Relative to the current folder this name exists; it must not be found.
    const QString label = S(":DISK:");
    ASSERT_TRUE(QDir(FDir).mkpath(label + S("/x")));
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(FDir));
    const QString result = ExistingParentDir(label + S("/x"), FDefault);
    QDir::setCurrent(saved);
    EXPECT_EQ(result, FDefault);
}

TEST_F(PathUtilsExistingParentDir, NetworkPathsSearchUpToTheShare)
{
    const QString deeper = AsNetworkPath(FDir + S("/sub/deeper"));
    EXPECT_EQ(ExistingParentDir(deeper, FDefault), deeper);
    EXPECT_EQ(ExistingParentDir(AsNetworkPath(FDir + S("/sub/gone/more/")), FDefault),
              AsNetworkPath(FDir + S("/sub")));

    // Only the share exists.
    const QString share = ExtractFileDrive(deeper);
    ASSERT_LT(share.size(), deeper.size());
    const QString unique = S("/gone-") + QString::number(getpid());
    EXPECT_EQ(ExistingParentDir(share + unique + S("/deeper"), FDefault), share);

    // The server part exists as a folder, the share does not: nothing is
    // found above the share.
    const QString server = share.left(share.lastIndexOf(QLatin1Char('/')));
    EXPECT_EQ(ExistingParentDir(server + unique + S("/deeper"), FDefault), FDefault);
}
