// The per-directory engine on real folders: methods, comparison, archive
// bits, security copies, included directories, FAT limits and the commit
// of archive bits after the copies are on disk.
#include "FormLogFixture.h"

#include "backup/BackupEngine.h"
#include "core/FileInfo.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/Encryption.h"
#include "engine/GzipThread.h"
#include "engine/ZipRead.h"
#include "engine/ZipWrite.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

constexpr int64_t kBaseTime = 1700000000; // Unix seconds of the sources

void SetMTime(const QString &APath, int64_t ASeconds)
{
    timespec ts{ASeconds, 0};
    ASSERT_EQ(SetFileTimes(APath, &ts, &ts, false), 0u);
}

void Put(const QString &APath, const QByteArray &AData, int64_t ATime = kBaseTime)
{
    QDir().mkpath(APath.left(APath.lastIndexOf(QLatin1Char('/'))));
    WriteBytes(APath, AData);
    SetMTime(APath, ATime);
}

class BackupEngineTest : public FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        Src = MakeTempDir(QStringLiteral("src"));
        Dst = Dir + QStringLiteral("/dst");
        QDir().mkpath(Dst);
        Form.BaseDir = Dst;
        Form.TargetType = TFileSystem::fsExt4;
        Form.DestMode = 1;
        Form.ZipName = QStringLiteral("backup.zip");
    }

    void Walk()
    {
        TFileTimestamps ts;
        Form.BackupDirectory(Src, Dst, QString(), QString(), QString(), ts, faDirectory, false, false, FileCount,
                             CopiedCount, ErrorCount, WarningCount, CopiedBytes, TotalBytes, ErrorBytes, List);
    }

    TExtensionList List{TTimePeriod(), TSubDirMode::sdmNormal};
    QString Src, Dst;
    int FileCount = 0, CopiedCount = 0, ErrorCount = 0, WarningCount = 0;
    int64_t CopiedBytes = 0, TotalBytes = 0, ErrorBytes = 0;
};

TEST_F(BackupEngineTest, SeparateFileMethodsWriteTheirFormAndRemoveOtherVariants)
{
    struct Case {
        bool Compress, Zip, Encrypt;
        const char *Ext;
    } cases[] = {{false, false, false, ""}, {true, false, false, ".gz"}, {false, false, true, ".enc"},
                 {true, false, true, ".gze"}, {true, true, false, ".zip"}};
    const QByteArray data(5000, 'x');
    Put(Src + u"/sub/report.doc"_s, data);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Ext);
        Form.cbCompress.SetChecked(c.Compress);
        Form.cbZipCompress.SetChecked(c.Zip);
        Form.Encryption.reset();
        if (c.Encrypt)
            Form.Encryption = std::make_shared<TEncryption>(QByteArray("secret"), 3, 0);
        Form.CurDir.clear();
        SetMTime(Src + u"/sub/report.doc"_s, kBaseTime + 100 * (&c - cases)); // newer each round
        Walk();
        const QString P = Dst + u"/sub/report.doc"_s;
        const QString E = P + QLatin1String(c.Ext);
        ASSERT_TRUE(XlFileExists(E, false)) << qPrintable(Log());
        // Only the current method's file remains.
        for (const char *x : {"", ".gz", ".enc", ".gze", ".zip"})
            if (QLatin1String(x) != QLatin1String(c.Ext)) {
                EXPECT_FALSE(XlFileExists(P + QLatin1String(x), false)) << x;
            }
        EXPECT_EQ(Form.DestDataSize(E, c.Compress && !c.Zip, c.Zip, c.Encrypt, XlFileSize(E)), data.size());
    }
    EXPECT_EQ(ErrorCount, 0) << qPrintable(Log());
    EXPECT_EQ(CopiedCount, 5);
}

TEST_F(BackupEngineTest, FailedCopyLeavesThePreviousFormInPlace)
{
    Put(Src + u"/report.doc"_s, "new", kBaseTime + 100);
    Put(Dst + u"/report.doc"_s, "old plain copy");
    QDir().mkpath(Dst + u"/report.doc.gz"_s); // the new form cannot be written
    Form.cbCompress.SetChecked(true);
    Walk();
    EXPECT_EQ(ErrorCount, 1) << qPrintable(Log());
    EXPECT_EQ(ReadBytes(Dst + u"/report.doc"_s), "old plain copy");
}

TEST_F(BackupEngineTest, ComparisonDecidesByModeTimeToleranceAndSize)
{
    // Destination time offset from the source, sizes, and whether the
    // destination copy is replaced.
    struct Case {
        int Mode, DstIgnore;
        int64_t Offset;
        int SrcSize, DstSize;
        bool Copied;
    } cases[] = {
        {0, 0, -10, 4, 4, true},    {0, 0, 10, 4, 4, false},   {1, 0, 10, 4, 4, true},
        {0, 0, -2, 4, 4, false},    {0, 0, -3, 4, 4, true},    {1, 1, -3600, 4, 4, false},
        {1, 1, -3602, 4, 4, false}, {1, 1, -3603, 4, 4, true}, {0, 1, -3598, 4, 4, false},
        {3, 0, -500, 4, 4, false},  {3, 0, 0, 4, 5, true},     {3, 0, 0, 0, 5, false},
        {2, 0, 0, 4, 5, true},      {2, 0, 0, 4, 4, false},
    };
    Form.DeltaTime = 2;
    const QString root = Src, dest = Dst;
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(n);
        Src = root + QStringLiteral("/c%1").arg(n);
        Dst = dest + QStringLiteral("/c%1").arg(n++);
        Put(Src + u"/f.txt"_s, QByteArray(c.SrcSize, 's'));
        Put(Dst + u"/f.txt"_s, QByteArray(c.DstSize, 'd'), kBaseTime + c.Offset);
        Form.CompareMode = c.Mode;
        Form.DstIgnore = c.DstIgnore;
        Walk();
        EXPECT_EQ(ReadBytes(Dst + u"/f.txt"_s), c.Copied ? QByteArray(c.SrcSize, 's') : QByteArray(c.DstSize, 'd'))
            << qPrintable(Log());
    }
    EXPECT_EQ(ErrorCount, 0);
}

TEST_F(BackupEngineTest, ArchiveBitSelectsAndIsResetOnlyAfterCommit)
{
    if (!UserXattrsSupported(Src) || !UserXattrsSupported(Dst))
        GTEST_SKIP() << "no user xattrs here";
    Put(Src + u"/a.txt"_s, "aaaa");
    Put(Src + u"/b.txt"_s, "bbbb");
    TStatInfo st;
    ASSERT_EQ(StatPath(Src + u"/b.txt"_s, true, st), 0u);
    ASSERT_EQ(ResetArchiveBit(Src + u"/b.txt"_s, st), 0u); // b was backed up before
    Form.UseArchivCB.SetChecked(true);
    Form.cbArchFile.SetChecked(true);
    Form.ResArchivCB.SetChecked(true);
    Walk();
    EXPECT_TRUE(XlFileExists(Dst + u"/a.txt"_s, false));
    EXPECT_FALSE(XlFileExists(Dst + u"/b.txt"_s, false));
    EXPECT_TRUE(Log().contains(u"Skipped - archive bit not set at source: \"b.txt\""_s));
    // Not yet on disk for sure: a run that dies now copies a.txt again.
    EXPECT_NE(XlFileGetAttr(Src + u"/a.txt"_s, false) & faArchive, 0u);
    int errors = 0;
    EXPECT_TRUE(Form.CommitEntryCopies(errors));
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(XlFileGetAttr(Src + u"/a.txt"_s, false) & faArchive, 0u);
    // A file changed after its copy keeps counting as changed.
    Put(Src + u"/a.txt"_s, "changed", kBaseTime + 50);
    EXPECT_NE(XlFileGetAttr(Src + u"/a.txt"_s, false) & faArchive, 0u);
}

TEST_F(BackupEngineTest, ReplacedCopyBecomesSecurityCopyOrDupWhenItCannotMove)
{
    Put(Src + u"/report.doc"_s, "new", kBaseTime + 100);
    Put(Dst + u"/report.doc"_s, "old", kBaseTime);
    Form.KeepBakCB.SetChecked(true);
    Form.BakSec.DirMode = TSecDirMode::sdNone;
    Form.BakSec.FileSuffix = QStringLiteral("bak");
    Form.BakSec.MaxHist = 1;
    Walk();
    EXPECT_EQ(ReadBytes(Dst + u"/report.doc"_s), "new") << qPrintable(Log());
    EXPECT_EQ(ReadBytes(Dst + u"/report.bak.doc"_s), "old");

    // The security copy's name is taken by a folder: the old copy stays and
    // the new one goes to the replacement name, replacing an older one.
    QFile::remove(Dst + u"/report.bak.doc"_s);
    QDir().mkpath(Dst + u"/report.bak.doc/x"_s);
    Put(Dst + u"/report-dup.doc"_s, "older dup");
    Put(Src + u"/report.doc"_s, "newest", kBaseTime + 200);
    Walk();
    EXPECT_EQ(ReadBytes(Dst + u"/report.doc"_s), "new");
    EXPECT_EQ(ReadBytes(Dst + u"/report-dup.doc"_s), "newest") << qPrintable(Log());
    EXPECT_TRUE(Log().contains(u"Copying to replacement file: "_s + Dst + u"/report-dup.doc"_s));
    EXPECT_FALSE(XlFileExists(Dst + u"/report.doc.tmp"_s, false));
}

TEST_F(BackupEngineTest, IncludedDirectoriesLeaveRootFilesOut)
{
    Put(Src + u"/root.txt"_s, "r");
    Put(Src + u"/in/a.txt"_s, "a");
    Put(Src + u"/in/deeper/b.txt"_s, "b");
    Put(Src + u"/out/c.txt"_s, "c");
    List.IncludeDirs = true;
    List.AddSubDir(Src + u"/in/"_s);
    Walk();
    EXPECT_TRUE(XlFileExists(Dst + u"/in/a.txt"_s, false));
    EXPECT_TRUE(XlFileExists(Dst + u"/in/deeper/b.txt"_s, false));
    EXPECT_FALSE(XlFileExists(Dst + u"/root.txt"_s, false));
    EXPECT_FALSE(XlFileExists(Dst + u"/out/c.txt"_s, false));

    // Archives per directory: the root's is still written (without
    // entries), an excluded directory's empty one is deleted.
    Form.DestMode = 7;
    Walk();
    TZipRead root(Dst + u"/backup.zip"_s, QByteArray(), 0, 0);
    root.ReadDirectory();
    EXPECT_EQ(root.Count(), 0);
    EXPECT_TRUE(XlFileExists(Dst + u"/in/backup.zip"_s, false));
    EXPECT_FALSE(XlFileExists(Dst + u"/out/backup.zip"_s, false));
    EXPECT_EQ(ErrorCount, 0) << qPrintable(Log());
}

TEST_F(BackupEngineTest, ZipArchivesPerDirectoryAndForTheEntry)
{
    Put(Src + u"/a.txt"_s, "aaaa");
    Put(Src + u"/sub/b.txt"_s, "bbbb");
    Put(Src + u"/Velkor.LOCK"_s, "lock");
    const auto entries = [](const QString &AZip) {
        TZipRead z(AZip, QByteArray(), 0, 0);
        z.ReadDirectory();
        QStringList names;
        for (int i = 0; i < z.Count(); ++i)
            names << z.Filename(i);
        names.sort();
        return names;
    };
    // Method 4: the run opens one archive; the walk adds the entry to it.
    Form.DestMode = 4;
    const QString one = Dst + u"/backup.zip"_s;
    Form.ZipArchive = std::make_shared<TZipWrite>(one, Src, 0, QByteArray(), 0, 0);
    Walk();
    Form.ZipArchive->WriteDirectory();
    Form.ZipArchive.reset();
    EXPECT_EQ(entries(one), QStringList({u"a.txt"_s, u"sub/"_s, u"sub/b.txt"_s})) << qPrintable(Log());

    // Method 7: one archive per directory.
    Form.DestMode = 7;
    QFile::remove(one);
    Walk();
    EXPECT_EQ(entries(Dst + u"/backup.zip"_s), QStringList({u"a.txt"_s})) << qPrintable(Log());
    EXPECT_EQ(entries(Dst + u"/sub/backup.zip"_s), QStringList({u"b.txt"_s}));
    EXPECT_EQ(ErrorCount, 0);
}

TEST_F(BackupEngineTest, SourcesOfAnArchiveThatWasNotWrittenAreKept)
{
    Put(Src + u"/a.txt"_s, "aaaa");
    Put(Src + u"/sub/b.txt"_s, "bbbb");
    Put(Dst + u"/sub/backup.zip/blocker"_s, "x"); // the archive's name is taken
    Form.DestMode = 7;
    Form.cbSourceDelete.SetChecked(true);
    Walk();
    ASSERT_EQ(ErrorCount, 1) << qPrintable(Log());
    int errors = 0;
    Form.CommitEntryCopies(errors);
    EXPECT_TRUE(XlFileExists(Src + u"/sub/b.txt"_s, false)) << qPrintable(Log());
    EXPECT_FALSE(XlFileExists(Src + u"/a.txt"_s, false)); // the root archive was written
    EXPECT_EQ(errors, 0);
}

TEST_F(BackupEngineTest, FatDestinationRefusesFilesOfFourGiB)
{
    const QString big = Src + u"/big.bin"_s;
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(4294967296)); // sparse
    }
    Put(Src + u"/small.txt"_s, "s");
    Form.TargetType = TFileSystem::fsFat;
    Walk();
    EXPECT_TRUE(Log().contains(u"File size exceeds maximum of 4GB for FAT32 destinations: \"big.bin\""_s));
    EXPECT_TRUE(XlFileExists(Dst + u"/small.txt"_s, false));
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_EQ(ErrorBytes, 4294967296);
    EXPECT_FALSE(XlFileExists(Dst + u"/big.bin"_s, false));
}

TEST_F(BackupEngineTest, NamesDifferingInCaseNeverOverwriteOnCaseInsensitiveDestinations)
{
    Put(Src + u"/Note.txt"_s, "first");
    Put(Src + u"/NOTE.txt"_s, "second");
    Form.TargetType = TFileSystem::fsExtFat;
    Walk();
    const int copies = int(XlFileExists(Dst + u"/Note.txt"_s, false)) + int(XlFileExists(Dst + u"/NOTE.txt"_s, false));
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(ErrorCount, 1);
    EXPECT_TRUE(Log().contains(u"differs only in case"_s)) << qPrintable(Log());
}

TEST_F(BackupEngineTest, NamesMadeEqualByCaseChangeNeitherOverwriteNorLoseTheSource)
{
    Put(Src + u"/Note.txt"_s, "first");
    Put(Src + u"/NOTE.txt"_s, "second");
    Form.FnMode = TTextChange::tcLower;
    Form.cbSourceDelete.SetChecked(true);
    Walk();
    int errors = 0;
    ASSERT_TRUE(Form.CommitEntryCopies(errors));
    // One copy, and exactly the source it holds went away.
    const QByteArray kept = ReadBytes(Dst + u"/note.txt"_s);
    ASSERT_TRUE(kept == "first" || kept == "second") << qPrintable(Log());
    const QString other = kept == "first" ? Src + u"/NOTE.txt"_s : Src + u"/Note.txt"_s;
    EXPECT_TRUE(XlFileExists(other, false)) << qPrintable(Log());
    EXPECT_EQ(CopiedCount, 1);
    EXPECT_EQ(ErrorCount, 1);
}

TEST_F(BackupEngineTest, SourceStaysWhenItsCopyIsGoneAtCommit)
{
    Put(Src + u"/a.txt"_s, "aaaa");
    Put(Src + u"/sub/b.txt"_s, "bbbb");
    Form.cbSourceDelete.SetChecked(true);
    Walk();
    ASSERT_TRUE(XlFileExists(Src + u"/a.txt"_s, false)); // not before the commit
    // The destination folder of b vanished meanwhile (a medium removed).
    ASSERT_TRUE(QDir(Dst + u"/sub"_s).removeRecursively());
    int errors = 0;
    Form.CommitEntryCopies(errors);
    EXPECT_TRUE(XlFileExists(Src + u"/sub/b.txt"_s, false)) << qPrintable(Log());
    EXPECT_FALSE(XlFileExists(Src + u"/a.txt"_s, false)); // its copy is intact
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(Log().contains(u"Copy not found at the destination: \""_s + Dst + u"/sub/b.txt"_s));
}

TEST_F(BackupEngineTest, LinkCycleThroughTwoLinksIsNotFollowed)
{
    Put(Src + u"/a/f.txt"_s, "f");
    QDir().mkpath(Src + u"/b"_s);
    ASSERT_EQ(CreateSymLink(Src + u"/a/to_b"_s, Src + u"/b"_s), 0u);
    ASSERT_EQ(CreateSymLink(Src + u"/b/to_a"_s, Src + u"/a"_s), 0u);
    Form.UseJunctions = true;
    Walk();
    // a/to_b/to_a would be a again: not entered.
    EXPECT_TRUE(XlFileExists(Dst + u"/a/f.txt"_s, false));
    EXPECT_TRUE(XlDirectoryExists(Dst + u"/a/to_b"_s, false));
    EXPECT_FALSE(XlDirectoryExists(Dst + u"/a/to_b/to_a"_s, false)) << qPrintable(Log());
    EXPECT_TRUE(Log().contains(u"recursive (skipped)"_s));
}

TEST(BackupEngineSteps, CopyFlagsText)
{
    TBackupForm form;
    EXPECT_EQ(form.CopyFlagsText(false, false), u"N"_s);
    form.cbVerify.SetChecked(true);
    form.cbCreationTime.SetChecked(true);
    EXPECT_EQ(form.CopyFlagsText(true, true), u"CEVT"_s);
    form.cbNoAttributes.SetChecked(true);
    form.cbCopyPerms.SetChecked(true);
    EXPECT_EQ(form.CopyFlagsText(false, false), u"NVPTX"_s);
}

} // namespace
} // namespace vl::test
