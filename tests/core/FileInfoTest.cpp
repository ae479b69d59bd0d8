#include "core/FileInfo.h"

#include "common/TestUtils.h"
#include "core/FileSearch.h"
#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace vl {
namespace {

// Raw file-system access by bytes, independent of the code under test.
void WriteRaw(const QString &path, const QByteArray &data)
{
    const int fd = ::open(EncodeFileName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << EncodeFileName(path).toStdString();
    ASSERT_EQ(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
}

void MkDir(const QString &path)
{
    ASSERT_EQ(::mkdir(EncodeFileName(path).constData(), 0755), 0) << path.toStdString();
}

void SymLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(EncodeFileName(target).constData(), EncodeFileName(link).constData()), 0)
        << link.toStdString();
}

// Sets access and write time of the name itself (a link is not followed).
void SetMTime(const QString &path, time_t secs, long nsecs = 0)
{
    const timespec ts[2] = {{secs, nsecs}, {secs, nsecs}};
    ASSERT_EQ(::utimensat(AT_FDCWD, EncodeFileName(path).constData(), ts, AT_SYMLINK_NOFOLLOW), 0);
}

constexpr TFileTime UnixToFileTime(time_t secs, long nsecs = 0)
{
    return kFileTimeUnixEpoch + TFileTime(secs) * kFileTimeTicksPerSecond + TFileTime(nsecs / 100);
}

constexpr time_t kFileSecs = 1623760496; // 2021-06-15 12:34:56 UTC
constexpr time_t kLinkSecs = 1500000000; // 2017-07-14 02:40:00 UTC
constexpr time_t kDirSecs = 1400000000;  // 2014-05-13 16:53:20 UTC

class FileInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = test::MakeTempDir(QStringLiteral("fileinfo"));
        File = Dir + QStringLiteral("/data.bin");
        WriteRaw(File, QByteArray(10, 'x'));
        SetMTime(File, kFileSecs, 789000000);
        SubDir = Dir + QStringLiteral("/sub");
        MkDir(SubDir);
        SetMTime(SubDir, kDirSecs);
        // Relative targets: they resolve against the link's own folder.
        Link = Dir + QStringLiteral("/link");
        SymLink(QStringLiteral("data.bin"), Link);
        SetMTime(Link, kLinkSecs);
        DirLink = Dir + QStringLiteral("/dirlink");
        SymLink(QStringLiteral("sub"), DirLink);
        SetMTime(DirLink, kLinkSecs);
        Dangling = Dir + QStringLiteral("/dangling");
        SymLink(QStringLiteral("nothing-here"), Dangling);
    }

    QString Real(const QString &path)
    {
        char *r = ::realpath(EncodeFileName(path).constData(), nullptr);
        EXPECT_NE(r, nullptr);
        const QString s = r ? DecodeFileName(QByteArray(r)) : QString();
        ::free(r);
        return s;
    }

    QString Dir, File, SubDir, Link, DirLink, Dangling;
};

TEST_F(FileInfoTest, AttributeDataOfALinkIsItsOwnUnlessFollowed)
{
    TFileAttributeData own, followed;
    ASSERT_EQ(GetFileAttributeData(Link, own, false), 0u);
    ASSERT_EQ(GetFileAttributeData(Link, followed, true), 0u);

    EXPECT_TRUE(own.Attr & faReparsePoint);
    EXPECT_EQ(own.Size, 0);
    EXPECT_EQ(own.LastWriteTime, UnixToFileTime(kLinkSecs));

    EXPECT_FALSE(followed.Attr & faReparsePoint);
    EXPECT_EQ(followed.Size, 10);
    EXPECT_EQ(followed.LastWriteTime, UnixToFileTime(kFileSecs, 789000000));

    EXPECT_EQ(FileSize64(Link), 10);
    TFileTime ft = 1;
    EXPECT_TRUE(GetFileLastWriteTime(Link, ft));
    EXPECT_EQ(ft, UnixToFileTime(kFileSecs, 789000000));
    EXPECT_NE(GetFileAge(Link, true), GetFileAge(Link, false));
    EXPECT_EQ(GetFileAge(Link, true), FileTimeToLocalDateTime(UnixToFileTime(kFileSecs, 789000000)));

    // A dangling link keeps its own data; a missing name is an error.
    TFileAttributeData dangling;
    EXPECT_EQ(GetFileAttributeData(Dangling, dangling, true), 0u);
    EXPECT_TRUE(dangling.Attr & faReparsePoint);
    TFileAttributeData missing;
    EXPECT_EQ(GetFileAttributeData(Dir + QStringLiteral("/none"), missing, true), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.Attr, faInvalid);
    EXPECT_EQ(GetFileAttributeData(Dir + QStringLiteral("/none/x"), missing, true), ERROR_PATH_NOT_FOUND);

    ft = 1;
    EXPECT_FALSE(GetFileLastWriteTime(Dir + QStringLiteral("/none"), ft));
    EXPECT_EQ(ft, 0u);
    EXPECT_EQ(FileLastWriteUtc(Dir + QStringLiteral("/none")), 0);
    EXPECT_EQ(FileSize64(Dir + QStringLiteral("/none")), 0);
}

TEST_F(FileInfoTest, LastWriteUtcHasNoZoneShift)
{
    // 2021-06-15 12:34:56.789 as days since 1899-12-30, whatever the zone.
    const TDateTime expected = 44362 + (12 * 3600 + 34 * 60 + 56.789) / 86400.0;
    EXPECT_NEAR(FileLastWriteUtc(File), expected, 1e-8);
    EXPECT_NEAR(FileLastWriteUtc(Link), expected, 1e-8);
}

TEST_F(FileInfoTest, LinkTargetsAndKinds)
{
    QString target = QStringLiteral("stale");
    EXPECT_TRUE(ResolveLinkTarget(Link, target));
    EXPECT_EQ(target, Real(File));

    // A chain of links ends at the final target.
    const QString chain = Dir + QStringLiteral("/chain");
    SymLink(Link, chain);
    EXPECT_TRUE(ResolveLinkTarget(chain, target));
    EXPECT_EQ(target, Real(File));

    // Not resolved: never a success with an empty target.
    for (const QString &name : {Dangling, File, SubDir, Dir + QStringLiteral("/none")}) {
        target = QStringLiteral("stale");
        EXPECT_FALSE(ResolveLinkTarget(name, target)) << name.toStdString();
        EXPECT_TRUE(target.isEmpty());
        EXPECT_FALSE(GetLinkTarget(name, target));
        EXPECT_TRUE(target.isEmpty());
    }

    EXPECT_EQ(ReparseKind(Link), rkSymbolicLink);
    EXPECT_EQ(ReparseKind(Dangling), rkSymbolicLink);
    EXPECT_EQ(ReparseKind(File), rkNone);
    EXPECT_EQ(ReparseKind(SubDir), rkNone);
    EXPECT_TRUE(IsReparsePoint(Dangling));
    EXPECT_TRUE(IsReparsePoint(DirLink));
    EXPECT_FALSE(IsReparsePoint(SubDir));
    EXPECT_TRUE(HasDirectoryAttr(SubDir));
    EXPECT_TRUE(HasDirectoryAttr(DirLink)); // a link to a folder is a folder entry
    EXPECT_FALSE(HasDirectoryAttr(Link));
    EXPECT_FALSE(HasDirectoryAttr(Dangling));
    EXPECT_FALSE(HasReparseAttr(faInvalid));
    EXPECT_TRUE(HasReparseAttr(faReparsePoint | faDirectory));

    // The attributes decide whether the name is read at all; a trailing
    // delimiter does not turn the link into its target.
    int kind = -1;
    EXPECT_TRUE(ReadReparsePoint(DirLink + QStringLiteral("/"), faReparsePoint, target, kind));
    EXPECT_EQ(kind, rkSymbolicLink);
    EXPECT_EQ(target, Real(SubDir));
    EXPECT_FALSE(ReadReparsePoint(DirLink, faDirectory, target, kind));
    EXPECT_EQ(kind, rkNone);
    EXPECT_TRUE(target.isEmpty());
    EXPECT_FALSE(ReadReparseTarget(DirLink, faInvalid, target));
    // A known kind whose target is missing: true, with an empty target.
    EXPECT_TRUE(ReadReparsePoint(Dangling, faReparsePoint, target, kind));
    EXPECT_EQ(kind, rkSymbolicLink);
    EXPECT_TRUE(target.isEmpty());
}

TEST_F(FileInfoTest, PseudoMountPointIsAJunction)
{
    if (!IsPseudoMountPoint(QStringLiteral("/proc")))
        GTEST_SKIP() << "/proc is no pseudo file system mount here";
    EXPECT_EQ(ReparseKind(QStringLiteral("/proc")), rkJunction);
    TFileInfo info;
    ASSERT_TRUE(GetFileInfo(QStringLiteral("/proc"), info, true));
    EXPECT_EQ(info.Res, kReparseTagMountPoint);
    EXPECT_TRUE(info.Attr & faReparsePoint);
    EXPECT_TRUE(info.Attr & faDirectory);
}

TEST_F(FileInfoTest, GetFileInfo)
{
    TFileInfo info;
    const TDateTime before = Now();
    EXPECT_FALSE(GetFileInfo(Dir + QStringLiteral("/none"), info, true));
    EXPECT_TRUE(info.Name.isEmpty());
    EXPECT_EQ(info.Attr, faInvalid);
    EXPECT_EQ(info.Size, 0);
    EXPECT_EQ(info.Res, 0u);
    EXPECT_GE(info.DateTime, before);
    EXPECT_LE(info.DateTime, Now());

    ASSERT_TRUE(GetFileInfo(File, info, false));
    EXPECT_EQ(info.Name, QStringLiteral("data.bin"));
    EXPECT_EQ(info.Size, 10);
    EXPECT_EQ(info.FileTime, UnixToFileTime(kFileSecs, 789000000));
    EXPECT_EQ(info.DateTime, FileTimeToLocalDateTime(info.FileTime));
    EXPECT_EQ(info.Res, 0u);
    TStatInfo st;
    ASSERT_EQ(StatPath(File, false, st), 0u);
    // Creation time: the birth time where there is one.
    const TDateTime created = st.HasBTime ? FileTimeToLocalDateTime(TimespecToFileTime(st.BTime)) : info.DateTime;
    EXPECT_EQ(info.CreationTime, created);

    // Directories only on request; a link is the entry itself.
    EXPECT_FALSE(GetFileInfo(SubDir, info, false));
    ASSERT_TRUE(GetFileInfo(SubDir, info, true));
    EXPECT_TRUE(info.Attr & faDirectory);
    ASSERT_TRUE(GetFileInfo(Link, info, false));
    EXPECT_EQ(info.Res, kReparseTagSymlink);
    EXPECT_EQ(info.Size, 0);
    EXPECT_EQ(info.FileTime, UnixToFileTime(kLinkSecs));

    // A name is never a mask: "*" may be part of a name.
    WriteRaw(Dir + QStringLiteral("/aXb"), "12345");
    WriteRaw(Dir + QStringLiteral("/a*b"), "123");
    ASSERT_TRUE(GetFileInfo(Dir + QStringLiteral("/a*b"), info, false));
    EXPECT_EQ(info.Name, QStringLiteral("a*b"));
    EXPECT_EQ(info.Size, 3);
    EXPECT_FALSE(GetFileInfo(Dir + QStringLiteral("/a?"), info, true));

    TFindData fd;
    EXPECT_TRUE(FindFileData(File, fd));
    EXPECT_EQ(fd.Size, 10);
    EXPECT_FALSE(FindFileData(SubDir, fd));
    EXPECT_FALSE(FindFileData(Dir + QStringLiteral("/none"), fd));
}

TEST_F(FileInfoTest, DirectoryTimes)
{
    const TFileTime dirTime = UnixToFileTime(kDirSecs);
    EXPECT_EQ(DirectoryDateTime(SubDir), FileTimeToLocalDateTime(dirTime));
    EXPECT_EQ(DirectoryDateTime(DirLink), FileTimeToLocalDateTime(dirTime));
    EXPECT_EQ(DirectoryAge(SubDir), FileTimeToLocalFileDate(dirTime));
    TDateTime value = 0;
    EXPECT_TRUE(TryGetDirLocalTime(DirLink, value));

    EXPECT_EQ(DirectoryAge(File), -1);
    EXPECT_EQ(DirectoryDateTime(File), 0);
    EXPECT_EQ(DirectoryAge(Dir + QStringLiteral("/none")), -1);
    EXPECT_FALSE(TryGetDirLocalTime(File, value));
    EXPECT_EQ(GetFileAge(SubDir, true), 0); // no file

    TFileTimestamps ts;
    EXPECT_TRUE(GetDirTimestamps(SubDir, false, ts));
    EXPECT_TRUE(ts.Valid);
    EXPECT_EQ(ts.LastWriteTime, dirTime);
    EXPECT_EQ(ts.LastAccessTime, dirTime);
    EXPECT_NE(ts.CreationTime, 0u);

    // A link to a folder: its own times, or its target's when followed.
    EXPECT_TRUE(GetDirTimestamps(DirLink, false, ts));
    EXPECT_EQ(ts.LastWriteTime, UnixToFileTime(kLinkSecs));
    EXPECT_TRUE(GetDirTimestamps(DirLink, true, ts));
    EXPECT_EQ(ts.LastWriteTime, dirTime);
    EXPECT_FALSE(GetDirTimestamps(Dangling, true, ts));
    EXPECT_FALSE(ts.Valid);
    EXPECT_EQ(ts.LastWriteTime, 0u);

    EXPECT_FALSE(GetDirTimestamps(File, true, ts));
    EXPECT_FALSE(ts.Valid);
    EXPECT_EQ(ts.CreationTime + ts.LastAccessTime + ts.LastWriteTime, 0u);
}

TEST_F(FileInfoTest, FileNotFoundOnlyForMissingNames)
{
    EXPECT_TRUE(IsFileNotFound(Dir + QStringLiteral("/none")));
    EXPECT_TRUE(IsFileNotFound(Dir + QStringLiteral("/none/deeper")));
    EXPECT_TRUE(IsFileNotFound(File + QStringLiteral("/below-a-file")));
    EXPECT_FALSE(IsFileNotFound(File));
    EXPECT_FALSE(IsFileNotFound(Dangling)); // the name is there
    EXPECT_FALSE(IsFileNotFound(Dir + QLatin1Char('/') + QString(300, QLatin1Char('n')))); // too long

    if (::geteuid() != 0)
        GTEST_SKIP() << "the permission part needs root to drop to another user";
    // A name behind a folder we may not enter is not "not found".
    const QString closed = Dir + QStringLiteral("/closed");
    MkDir(closed);
    WriteRaw(closed + QStringLiteral("/inside"), "x");
    ::chmod(EncodeFileName(closed).constData(), 0700);
    test::RunUnprivileged([&] {
        EXPECT_FALSE(IsFileNotFound(closed + QStringLiteral("/inside")));
        EXPECT_FALSE(IsFileNotFound(closed + QStringLiteral("/none")));
    });
}

TEST_F(FileInfoTest, NameFromHandle)
{
    // A name that is no valid UTF-8 comes back byte for byte.
    const QString name = Dir + QLatin1Char('/') + DecodeFileName(QByteArray("caf\xE9.txt"));
    WriteRaw(name, "abc");
    TFile f;
    ASSERT_EQ(f.Open(name, TFile::faRead), 0u);
    QString got;
    ASSERT_TRUE(GetFileNameFromHandle(f.Handle(), got));
    EXPECT_EQ(EncodeFileName(got), EncodeFileName(Real(name)));
    EXPECT_FALSE(GetFileNameFromHandle(-1, got));
    EXPECT_TRUE(got.isEmpty());

    TFindData fd;
    ASSERT_TRUE(FindFileData(name, fd));
    EXPECT_EQ(EncodeFileName(fd.Name), QByteArray("caf\xE9.txt"));
}

// ---- The directory search ----

class FileSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = test::MakeTempDir(QStringLiteral("search"));
        for (const char *name : {"a.txt", "B.TXT", "c.log", "noext", ".hidden.txt", "x[1].txt"})
            WriteRaw(Dir + QLatin1Char('/') + QString::fromUtf8(name), "data");
        MkDir(Dir + QStringLiteral("/dir.txt"));
        SymLink(QStringLiteral("a.txt"), Dir + QStringLiteral("/link.txt"));
        SymLink(QStringLiteral("dir.txt"), Dir + QStringLiteral("/dirlink.txt"));
    }

    std::set<QString> Find(const QString &mask, uint32_t attr, uint32_t *firstResult = nullptr)
    {
        std::set<QString> names;
        TSearchRec sr;
        const uint32_t err = FindFirst(Dir + QLatin1Char('/') + mask, attr, sr);
        if (firstResult)
            *firstResult = err;
        if (err == 0) {
            do
                EXPECT_TRUE(names.insert(sr.Name).second) << "twice: " << sr.Name.toStdString();
            while (FindNext(sr) == 0);
            EXPECT_EQ(FindNext(sr), ERROR_NO_MORE_FILES);
        }
        FindClose(sr);
        return names;
    }

    static std::set<QString> Names(std::initializer_list<const char *> list)
    {
        std::set<QString> s;
        for (const char *n : list)
            s.insert(QString::fromUtf8(n));
        return s;
    }

    QString Dir;
};

TEST_F(FileSearchTest, MasksAndAttributeFilter)
{
    // Hidden names and directories only when asked for; "." and ".." never.
    EXPECT_EQ(Find(QStringLiteral("*"), 0), Names({"a.txt", "B.TXT", "c.log", "noext", "x[1].txt", "link.txt"}));
    EXPECT_EQ(Find(QStringLiteral("*.*"), faAnyFile), Names({"a.txt", "B.TXT", "c.log", "noext", ".hidden.txt",
                                                            "x[1].txt", "dir.txt", "link.txt", "dirlink.txt"}));
    EXPECT_EQ(Find(QStringLiteral("*.txt"), faAnyFileNoDirs),
              Names({"a.txt", "B.TXT", ".hidden.txt", "x[1].txt", "link.txt"}));
    EXPECT_EQ(Find(QStringLiteral("*.TXT"), faDirectory),
              Names({"a.txt", "B.TXT", "x[1].txt", "dir.txt", "link.txt", "dirlink.txt"}));
    // Only folders and links (which may lead to one), hidden ones included.
    MkDir(Dir + QStringLiteral("/.hiddendir"));
    EXPECT_EQ(Find(QStringLiteral("*.*"), faAnyFile | faOnlyDirectories),
              Names({"dir.txt", ".hiddendir", "link.txt", "dirlink.txt"}));
    EXPECT_EQ(Find(QStringLiteral("*.*"), faOnlyDirectories), Names({"noext", "a.txt", "B.TXT", "c.log", "x[1].txt",
                                                                      "link.txt"}));
    EXPECT_EQ(Find(QStringLiteral("?.txt"), 0), Names({"a.txt", "B.TXT"}));
    // "[" is an ordinary character of a search.
    EXPECT_EQ(Find(QStringLiteral("x[1]*"), 0), Names({"x[1].txt"}));
    EXPECT_EQ(Find(QStringLiteral("x[1].txt"), 0), Names({"x[1].txt"}));

    // A name without wildcards is compared exactly.
    EXPECT_EQ(Find(QStringLiteral("a.txt"), 0), Names({"a.txt"}));
    uint32_t err = 0;
    EXPECT_TRUE(Find(QStringLiteral("A.txt"), 0, &err).empty());
    EXPECT_EQ(err, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Find(QStringLiteral(".hidden.txt"), 0, &err).empty());
    EXPECT_EQ(err, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Find(QStringLiteral("."), faAnyFile, &err).empty());
    EXPECT_TRUE(Find(QStringLiteral(".."), faAnyFile, &err).empty());

    EXPECT_TRUE(Find(QStringLiteral("*.none"), faAnyFile, &err).empty());
    EXPECT_EQ(err, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Find(QStringLiteral("missing/*"), faAnyFile, &err).empty());
    EXPECT_EQ(err, ERROR_PATH_NOT_FOUND);
}

TEST_F(FileSearchTest, EntryData)
{
    const timespec ts[2] = {{1623760496, 0}, {1623760496, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, EncodeFileName(Dir + QStringLiteral("/c.log")).constData(), ts, 0), 0);
    TSearchRec sr;
    ASSERT_EQ(FindFirst(Dir + QStringLiteral("/c.*"), faAnyFile, sr), 0u);
    EXPECT_EQ(sr.Name, QStringLiteral("c.log"));
    EXPECT_EQ(sr.Size, 4);
    EXPECT_EQ(sr.FindData.LastWriteTime, UnixToFileTime(1623760496));
    EXPECT_EQ(sr.Time, FileTimeToLocalFileDate(UnixToFileTime(1623760496)));
    EXPECT_EQ(sr.Attr & (faDirectory | faReparsePoint), 0u);
    EXPECT_EQ(sr.FindData.Reserved0, 0u);
    FindClose(sr);

    ASSERT_EQ(FindFirst(Dir + QStringLiteral("/link.*"), faAnyFile, sr), 0u);
    EXPECT_TRUE(sr.Attr & faReparsePoint);
    EXPECT_EQ(sr.FindData.Reserved0, kReparseTagSymlink);
    EXPECT_FALSE(sr.Attr & faDirectory);
    EXPECT_EQ(sr.Size, 0);
    FindClose(sr);
    EXPECT_EQ(FindNext(sr), ERROR_NO_MORE_FILES);

    ASSERT_EQ(FindFirst(Dir + QStringLiteral("/dirlink.txt"), faAnyFile, sr), 0u);
    EXPECT_EQ(sr.Attr & (faDirectory | faReparsePoint), uint32_t(faDirectory | faReparsePoint));
    EXPECT_EQ(sr.FindData.Reserved0, kReparseTagSymlink);
    FindClose(sr);
}

} // namespace
} // namespace vl
