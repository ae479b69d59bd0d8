// The zip archive writer: archives that other tools accept (plain, AES,
// split), zip64 end records and extras, encrypted names, cancel.
#include "engine/ZipWrite.h"

#include "core/FileErrors.h"
#include "core/PathUtils.h"
#include "engine/ArchiveFiles.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "tests/common/TestUtils.h"
#include "tests/engine/GzipTestHelpers.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace vl::test {
namespace {

std::string Q(const QString &s)
{
    return "'" + s.toStdString() + "'";
}

// Exit code of a shell command (output discarded).
int Shell(const std::string &cmd)
{
    const int r = std::system((cmd + " >/dev/null 2>&1").c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

bool Have(const char *tool)
{
    return Shell(std::string("command -v ") + tool) == 0;
}

uint16_t Get16(const QByteArray &b, qsizetype p)
{
    return uint16_t(uint8_t(b[p]) | (uint8_t(b[p + 1]) << 8));
}

uint32_t Get32(const QByteArray &b, qsizetype p)
{
    return uint32_t(Get16(b, p)) | (uint32_t(Get16(b, p + 2)) << 16);
}

struct TCentral {
    TZipCentralHeader H;
    QByteArray Name, Extra;
};

// The central directory of an unsplit archive.
std::vector<TCentral> ReadCentral(const QString &zip, TZipDirectoryInfo &info)
{
    std::vector<TCentral> out;
    const QByteArray all = ReadFileRaw(zip);
    TMemoryStream ms(all);
    EXPECT_TRUE(ReadZipDirectoryInfo(ms, info));
    qsizetype p = qsizetype(info.CentralOffset);
    for (uint64_t i = 0; i < info.TotalEntries; ++i) {
        TCentral c;
        if (!DecodeZipCentralHeader(all.mid(p, kZipCentralHeaderSize), c.H)) {
            ADD_FAILURE() << "central record " << i;
            break;
        }
        c.Name = all.mid(p + kZipCentralHeaderSize, c.H.NameLength);
        c.Extra = all.mid(p + kZipCentralHeaderSize + c.H.NameLength, c.H.ExtraLength);
        p += kZipCentralHeaderSize + c.H.NameLength + c.H.ExtraLength;
        out.push_back(c);
    }
    return out;
}

class ZipWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = MakeTempDir(QStringLiteral("zw"));
        Src = Dir + QStringLiteral("/src");
        ASSERT_EQ(MakeDirs(Src + QStringLiteral("/sub/deeper")), 0u);
        WriteFileRaw(Src + QStringLiteral("/text.txt"), PatternData(100000, 1), 0640);
        WriteFileRaw(Src + QStringLiteral("/sub/random.bin"), PatternData(70000, 2));
        WriteFileRaw(Src + QStringLiteral("/sub/empty"), QByteArray());
        WriteFileRaw(Src + QStringLiteral("/sub/deeper/small19"), QByteArray(19, 'x'), 0600);
        WriteFileRaw(Src + QStringLiteral("/sub/deeper/small20"), QByteArray(20, 'y'));
        // A name that is not UTF-8 (byte 0xE9).
        WriteFileRaw(Src + QStringLiteral("/") + DecodeFileName(QByteArray("caf\xE9.txt")), PatternData(500, 3));
    }

    // Every file and folder of the source, folders first.
    void AddTree(TZipWrite &zip, bool compress = true)
    {
        zip.AddDir(Src + QStringLiteral("/sub"));
        zip.AddDir(Src + QStringLiteral("/sub/deeper"));
        for (const char *f : {"text.txt", "sub/random.bin", "sub/empty", "sub/deeper/small19", "sub/deeper/small20"})
            zip.AddFile(Src + QStringLiteral("/") + QString::fromLatin1(f), compress);
        zip.AddFile(Src + QStringLiteral("/") + DecodeFileName(QByteArray("caf\xE9.txt")), compress);
    }

    QString Dir, Src;
};

TEST_F(ZipWriteTest, PlainArchivesPassUnzipWithNamesModesAndMethods)
{
    if (!Have("unzip"))
        GTEST_SKIP() << "unzip missing";
    for (const bool compress : {true, false}) {
        SCOPED_TRACE(compress);
        const QString zipName = Dir + (compress ? QStringLiteral("/d.zip") : QStringLiteral("/s.zip"));
        {
            TZipWrite zip(zipName, Src, QByteArray(), 0, 4096);
            AddTree(zip, compress);
            zip.WriteDirectory();
            zip.Verify();
        }
        EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
        TZipDirectoryInfo info;
        const auto central = ReadCentral(zipName, info);
        ASSERT_EQ(central.size(), 8u);
        EXPECT_FALSE(info.Zip64);
        EXPECT_EQ(central[0].Name, QByteArray("sub"));
        EXPECT_EQ(central[2].Name, QByteArray("text.txt"));
        EXPECT_EQ(central[3].Name, QByteArray("sub\\random.bin"));
        EXPECT_EQ(central[7].Name, QByteArray("caf\xE9.txt")) << "raw bytes";
        EXPECT_EQ(central[7].H.Flags & kZipFlagUtf8, 0);
        for (const auto &c : central)
            EXPECT_EQ(c.H.VersionMadeBy >> 8, 0);
        uint32_t mode = 0;
        ASSERT_TRUE(ZipExternalMode(central[2].H.ExternalAttr, mode));
        EXPECT_EQ(mode, 0640u);
        ASSERT_TRUE(ZipExternalMode(central[5].H.ExternalAttr, mode));
        EXPECT_EQ(mode, 0600u);
        EXPECT_EQ(central[0].H.ExternalAttr & 0x10, 0x10u);
        EXPECT_EQ(central[4].H.Method, kZipMethodStored) << "an empty file is stored";
        EXPECT_EQ(central[2].H.Method, compress ? kZipMethodDeflate : kZipMethodStored);
        EXPECT_EQ(central[2].H.Flags & kZipFlagDeflated, compress ? kZipFlagDeflated : 0);
    }
}

TEST_F(ZipWriteTest, NameWithBackslashIsRefusedOthersGoOn)
{
    const QString bad = Src + QStringLiteral("/a\\b.txt");
    WriteFileRaw(bad, QByteArray("data"));
    const QString zipName = Dir + QStringLiteral("/b.zip");
    TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
    zip.AddFile(Src + QStringLiteral("/text.txt"), true);
    const int64_t before = zip.FilePosition();
    try {
        zip.AddFile(bad, true);
        FAIL() << "no error";
    } catch (const EZipError &e) {
        EXPECT_EQ(e.ZipError() & 0xF000, eoZip);
        EXPECT_FALSE(e.SysErrorMsg().isEmpty());
        EXPECT_FALSE(zip.ErrorFlag());
    }
    EXPECT_EQ(zip.FilePosition(), before);
    zip.AddFile(Src + QStringLiteral("/sub/random.bin"), true);
    zip.WriteDirectory();
    EXPECT_EQ(zip.Directory().size(), 2u);
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
    }
}

TEST_F(ZipWriteTest, AesArchivesPass7zInEveryKeyMode)
{
    if (!Have("7z"))
        GTEST_SKIP() << "7z missing";
    for (int mode = 1; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        const QString zipName = Dir + QStringLiteral("/aes%1.zip").arg(mode);
        {
            TZipWrite zip(zipName, Src, QByteArray("s3cret pw"), mode, 0);
            AddTree(zip);
            zip.WriteDirectory();
            zip.Verify();
        }
        EXPECT_EQ(Shell("7z t -pwrong " + Q(zipName)) != 0, true) << "a wrong password fails";
        EXPECT_EQ(Shell("7z t '-ps3cret pw' " + Q(zipName)), 0);
        TZipDirectoryInfo info;
        const auto central = ReadCentral(zipName, info);
        ASSERT_EQ(central.size(), 8u);
        const int salt = SaltLength(mode);
        for (const auto &c : central) {
            QByteArray aes;
            const bool isDir = (c.H.ExternalAttr & 0x10) != 0;
            EXPECT_EQ(c.H.VersionNeeded, kZipVersionAes);
            EXPECT_EQ(FindZipExtraField(c.Extra, kZipExtraAes, aes), !isDir);
            if (isDir)
                continue;
            TPKExtraEncField f;
            ASSERT_TRUE(DecodeAesExtraData(aes, f));
            EXPECT_EQ(f.Mode, mode);
            EXPECT_EQ(c.H.Method, kZipMethodAes);
            if (c.Name == QByteArray("sub\\deeper\\small19")) {
                EXPECT_EQ(f.Version, 2);
                EXPECT_EQ(c.H.Crc, 0u);
            }
            if (c.Name == QByteArray("sub\\deeper\\small20")) {
                EXPECT_EQ(f.Version, 1);
                EXPECT_NE(c.H.Crc, 0u);
            }
            if (c.Name == QByteArray("sub\\empty")) {
                EXPECT_EQ(f.Method, kZipMethodStored);
                EXPECT_EQ(c.H.CSize, uint32_t(salt + 12));
            }
        }
    }
}

// The joining tool mishandles entries that span three segments or more
// (its own split archives too), so each entry here spans at most two;
// RenameAndDeleteWholeSplitArchive verifies an entry across four.
TEST_F(ZipWriteTest, SplitArchiveJoinsAndPassesUnzip)
{
    WriteFileRaw(Src + QStringLiteral("/sub/big.bin"), PatternData(100000, 9));
    const QString zipName = Dir + QStringLiteral("/split.zip");
    const int64_t maxSize = 65536;
    int segments = 0;
    {
        TZipWrite zip(zipName, Src, maxSize, QByteArray(), 0, 4096);
        AddTree(zip);
        zip.AddFile(Src + QStringLiteral("/sub/big.bin"), false); // stored: the source is copied directly
        zip.AddFile(Src + QStringLiteral("/text.txt"), QStringLiteral("again.txt"), true);
        zip.WriteDirectory();
        zip.Verify(); // entries that run across segments are gathered
        segments = zip.NumberOfSegments();
    }
    EXPECT_GE(segments, 3);
    const QByteArray first = ReadFileRaw(ZipSegmentName(zipName, 0));
    ASSERT_GE(first.size(), 8);
    EXPECT_EQ(Get32(first, 0), kZipSpanSignature);
    EXPECT_EQ(Get32(first, 4), kZipLocalSignature);
    for (int i = 0; i < segments; ++i)
        EXPECT_LE(ReadFileRaw(ZipSegmentName(zipName, i)).size(), maxSize) << i;
    if (!Have("zip") || !Have("unzip"))
        GTEST_SKIP() << "zip/unzip missing";
    const QString joined = Dir + QStringLiteral("/joined.zip");
    ASSERT_EQ(Shell("zip -s 0 " + Q(zipName) + " --out " + Q(joined)), 0);
    EXPECT_EQ(Shell("unzip -t " + Q(joined)), 0);
}

TEST_F(ZipWriteTest, SegmentLimitWithoutSecondSegment)
{
    const QString zipName = Dir + QStringLiteral("/one.zip");
    {
        TZipWrite zip(zipName, Src, 1 << 30, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/text.txt"), true);
        zip.WriteDirectory();
        EXPECT_EQ(zip.NumberOfSegments(), 1);
    }
    const QByteArray all = ReadFileRaw(zipName);
    EXPECT_EQ(Get32(all, 0), kZipSpanSignature);
    TZipDirectoryInfo info;
    const auto central = ReadCentral(zipName, info);
    ASSERT_EQ(central.size(), 1u);
    EXPECT_EQ(central[0].H.LocalOffset, 4u);
    EXPECT_FALSE(PathExists(ZipSegmentName(zipName, 0), false));
}

// Directory entries need no worker thread, so many entries are cheap.
TEST_F(ZipWriteTest, Zip64EndRecordsFrom65535Entries)
{
    for (const int count : {65534, 65535}) {
        SCOPED_TRACE(count);
        const QString zipName = Dir + QStringLiteral("/many%1.zip").arg(count);
        {
            TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
            for (int i = 0; i < count; ++i)
                zip.AddDir(Src + QStringLiteral("/sub"));
            zip.WriteDirectory();
        }
        const QByteArray all = ReadFileRaw(zipName);
        TMemoryStream ms(all);
        TZipDirectoryInfo info;
        ASSERT_TRUE(ReadZipDirectoryInfo(ms, info));
        EXPECT_EQ(info.TotalEntries, uint64_t(count));
        EXPECT_EQ(info.Zip64, count == 65535);
        TZipEndRecord end;
        ASSERT_TRUE(DecodeZipEndRecord(all.right(kZipEndSize), end));
        EXPECT_EQ(end.TotalEntries, uint16_t(count));
        EXPECT_EQ(end.DiskEntries, uint16_t(count));
        EXPECT_EQ(end.CentralOffset == kZipMax32, count == 65535);
        if (Have("unzip")) {
            EXPECT_EQ(Shell("unzip -tq " + Q(zipName)), 0);
        }
    }
}

// The local zip64 extra depends on the size listed before writing: a
// given find data of exactly 0xFF000000 bytes gets none, one byte more gets
// it (version 45), with the real sizes filled in after the data.
TEST_F(ZipWriteTest, LocalZip64ExtraThreshold)
{
    const QByteArray data = PatternData(5000, 4);
    const QString file = Src + QStringLiteral("/five.bin");
    WriteFileRaw(file, data);
    for (const int64_t listed : {int64_t(0xFF000000LL), int64_t(0xFF000001LL)}) {
        const bool zip64 = listed > 0xFF000000LL;
        SCOPED_TRACE(zip64);
        const QString zipName = Dir + (zip64 ? QStringLiteral("/z64.zip") : QStringLiteral("/z32.zip"));
        {
            TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
            TFindData fd;
            fd.Size = listed;
            fd.Attr = 0x20;
            int32_t ratio = 0;
            zip.AddFile(file, QStringLiteral("five.bin"), fd, ratio, true);
            zip.WriteDirectory();
        }
        const QByteArray all = ReadFileRaw(zipName);
        TZipLocalHeader lh;
        ASSERT_TRUE(DecodeZipLocalHeader(all.left(kZipLocalHeaderSize), lh));
        EXPECT_EQ(lh.VersionNeeded, zip64 ? kZipVersionZip64 : kZipVersionDefault);
        EXPECT_EQ(lh.ExtraLength, zip64 ? kZip64LocalExtraSize : 0);
        TZipDirectoryInfo info;
        const auto central = ReadCentral(zipName, info);
        ASSERT_EQ(central.size(), 1u);
        EXPECT_TRUE(central[0].Extra.isEmpty()) << "small values stay in the central record";
        if (zip64) {
            EXPECT_EQ(lh.USize, kZipMax32);
            const QByteArray extra = all.mid(kZipLocalHeaderSize + lh.NameLength, lh.ExtraLength);
            EXPECT_EQ(Get16(extra, 0), kZipExtraZip64);
            EXPECT_EQ(Get16(extra, 2), 16);
            EXPECT_EQ(Get32(extra, 4), uint32_t(data.size()));
            EXPECT_EQ(Get32(extra, 12), central[0].H.CSize);
        } else {
            EXPECT_EQ(lh.USize, uint32_t(data.size()));
        }
        if (Have("unzip")) {
            EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
        }
    }
}

// Slow: deflates about 4 GiB of zeros.
TEST_F(ZipWriteTest, SlowSparseFileAboveThresholdGetsZip64Extra)
{
    const QString file = Src + QStringLiteral("/sparse.bin");
    {
        const int fd = ::open(EncodeFileName(file).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(0xFF000001LL)), 0);
        ::close(fd);
    }
    const QString zipName = Dir + QStringLiteral("/sparse.zip");
    int32_t ratio = 0;
    {
        TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
        zip.AddFile(file, ratio, true);
        zip.WriteDirectory();
    }
    EXPECT_GE(ratio, 0);
    EXPECT_LT(ratio, 10);
    const QByteArray head = ReadFileRaw(zipName).left(80);
    TZipLocalHeader lh;
    ASSERT_TRUE(DecodeZipLocalHeader(head, lh));
    EXPECT_EQ(lh.VersionNeeded, kZipVersionZip64);
    EXPECT_EQ(lh.ExtraLength, kZip64LocalExtraSize);
    const QByteArray extra = head.mid(kZipLocalHeaderSize + lh.NameLength, 20);
    EXPECT_EQ(Get16(extra, 0), kZipExtraZip64);
    EXPECT_EQ(Get32(extra, 4), 0xFF000001u);
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -tq " + Q(zipName)), 0);
    }
}

TEST_F(ZipWriteTest, EncryptedNamesUsePlaceholders)
{
    const QString zipName = Dir + QStringLiteral("/names.zip");
    {
        TZipWrite plain(Dir + QStringLiteral("/p.zip"), Src, QByteArray(), 0, 0);
        plain.SetEncryptNames(true);
        EXPECT_FALSE(plain.EncryptNames()) << "no password, no encrypted names";
    }
    {
        TZipWrite zip(zipName, Src, QByteArray("pw"), 3, 0);
        zip.SetEncryptNames(true);
        ASSERT_TRUE(zip.EncryptNames());
        AddTree(zip);
        zip.WriteDirectory();
        zip.Verify();
    }
    TZipDirectoryInfo info;
    const auto central = ReadCentral(zipName, info);
    ASSERT_EQ(central.size(), 8u);
    TEncryption enc(QByteArray("pw"), 3, 0);
    const QByteArray all = ReadFileRaw(zipName);
    const QList<QByteArray> real = {"sub", "sub\\deeper", "text.txt", "sub\\random.bin", "sub\\empty",
                                    "sub\\deeper\\small19", "sub\\deeper\\small20", "caf\xE9.txt"};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const auto &c = central[size_t(i)];
        EXPECT_EQ(c.Name, QByteArray::number(i + 1, 16).toUpper().rightJustified(8, '0'));
        EXPECT_TRUE(c.H.Flags & kZipFlagEncryptedName);
        QByteArray encName;
        const bool isDir = i < 2;
        // A directory's central record carries no name extra; its local header does.
        EXPECT_EQ(FindZipExtraField(c.Extra, kZipExtraEncName, encName), !isDir);
        if (isDir) {
            TMemoryStream ms(all);
            ms.SetPosition(c.H.LocalOffset);
            TZipLocalHeader lh;
            QByteArray name, extra;
            ASSERT_TRUE(ReadZipLocalRecord(ms, lh, name, extra));
            EXPECT_EQ(name, c.Name);
            ASSERT_TRUE(FindZipExtraField(extra, kZipExtraEncName, encName));
        }
        QByteArray plainName;
        ASSERT_TRUE(DecryptZipEntryName(enc, encName, plainName));
        EXPECT_EQ(plainName, real[i]);
    }
    if (Have("7z")) {
        EXPECT_EQ(Shell("7z t -ppw " + Q(zipName)), 0);
    }
}

TEST_F(ZipWriteTest, CancelDuringAddCutsBackToLastWholeEntry)
{
    WriteFileRaw(Src + QStringLiteral("/large.bin"), PatternData(8 << 20, 5));
    const QString zipName = Dir + QStringLiteral("/cancel.zip");
    struct TCase {
        int64_t MaxSize;
        bool Compress;
        bool OnSegmentCopy; // cancel once the data has reached a new segment
    };
    for (const TCase c : {TCase{0, true, false}, TCase{1 << 20, true, false}, TCase{1 << 20, false, true}}) {
        SCOPED_TRACE(c.MaxSize + c.OnSegmentCopy);
        {
            TZipWrite zip(zipName, Src, c.MaxSize, QByteArray(), 0, 16384);
            zip.AddFile(Src + QStringLiteral("/text.txt"), true);
            const int64_t whole = zip.FilePosition();
            const int32_t segments = zip.NumberOfSegments();
            zip.SetOnProgress([&zip, c](TFileAction action, int64_t count, bool) {
                if (c.OnSegmentCopy ? action == TFileAction::acSegmentCopy : count > 100000)
                    zip.Cancel();
            });
            try {
                zip.AddFile(Src + QStringLiteral("/large.bin"), c.Compress);
                FAIL() << "not canceled";
            } catch (const EZipError &e) {
                EXPECT_EQ(e.ZipError(), 0x4180);
                EXPECT_FALSE(zip.ErrorFlag());
            }
            EXPECT_EQ(zip.FilePosition(), whole);
            EXPECT_EQ(zip.NumberOfSegments(), segments);
            EXPECT_FALSE(PathExists(ZipSegmentName(zipName, segments - 1), false));
            zip.WriteDirectory();
            EXPECT_EQ(zip.Directory().size(), 1u);
        }
        if (Have("unzip")) {
            EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
        }
        DeleteZipArchive(zipName);
    }
}

TEST_F(ZipWriteTest, StreamsRemLastDirAndVerifyFindsDamage)
{
    const QString zipName = Dir + QStringLiteral("/misc.zip");
    {
        TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/text.txt"), true);
        EXPECT_TRUE(zip.RemLastDir().isEmpty()) << "a file entry stays";
        // An empty file has both sizes 0 but is no directory: it stays too.
        zip.AddStream(std::make_unique<TMemoryStream>(), QStringLiteral("empty.txt"), true);
        EXPECT_TRUE(zip.RemLastDir().isEmpty()) << "an empty file entry stays";
        zip.AddDir(Src + QStringLiteral("/sub"));
        const int64_t before = zip.FilePosition();
        zip.AddDir(Src + QStringLiteral("/sub/deeper"));
        EXPECT_EQ(zip.RemLastDir(), QStringLiteral("sub/deeper"));
        EXPECT_EQ(zip.FilePosition(), before);
        zip.AddDir(Src); // the base itself adds nothing
        zip.AddDir(Src + QStringLiteral("/missing"));
        zip.AddStream(std::make_unique<TMemoryStream>(PatternData(3000, 7)), QStringLiteral("log\\run.txt"), true);
        // An empty mask ends the filter: "*" after it adds nothing.
        int32_t count = 0;
        QStringList errors;
        zip.AddFiles(Src, QStringLiteral("*.txt;;*"), QStringLiteral("x"), count, &errors);
        EXPECT_EQ(count, 2);
        EXPECT_TRUE(errors.isEmpty());
        zip.WriteDirectory();
        ASSERT_EQ(zip.Directory().size(), 6u);
        EXPECT_EQ(zip.Directory()[3].Header->ExtAttr, uint32_t(kZipAttrArchive)) << "stream entry";
        zip.Verify();
    }
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
    }
    // Damaged entry data: Verify names it.
    {
        TZipWrite zip(Dir + QStringLiteral("/bad.zip"), Src, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/text.txt"), true);
        // Overwrite the data in place through a second handle.
        TFile f;
        ASSERT_EQ(f.Open(Dir + QStringLiteral("/bad.zip"), TFile::faReadWrite, TFile::fcOpenExisting, 0644), 0u);
        int64_t pos = 0;
        ASSERT_EQ(f.Seek(60, SEEK_SET, pos), 0u);
        int64_t done = 0;
        const char junk[4] = {1, 2, 3, 4};
        ASSERT_EQ(f.Write(junk, 4, done), 0u);
        f.Close();
        try {
            zip.Verify();
            FAIL() << "damage not found";
        } catch (const EZipError &e) {
            EXPECT_EQ(e.ZipError() & 0xF000, eoZip);
            EXPECT_NE(e.ZipError() & 0xFF, 0);
        }
    }
}

// The archive file on a disk that fills up at Limit: writes beyond it come
// back short, as a full disk's do.
class TFullDiskStream : public TZipStream {
public:
    TFullDiskStream(const QString &AName, int64_t ALimit) : TZipStream(AName, uint16_t(0x0042)), Limit(ALimit)
    {
        Seek(0, TSeekOrigin::soEnd);
    }
    int64_t Write(const void *buffer, int64_t count) override
    {
        const int64_t room = std::max<int64_t>(Limit.load() - Position(), 0);
        return TZipStream::Write(buffer, std::min(count, room));
    }
    std::atomic<int64_t> Limit;
};

class TFullDiskZip : public TZipWrite {
public:
    using TZipWrite::TZipWrite;
    std::shared_ptr<TFullDiskStream> FillDiskAt(int64_t ALimit)
    {
        auto s = std::make_shared<TFullDiskStream>(ZName, ALimit);
        FStream = s;
        return s;
    }
};

// Failures after the entry's header was written take the header back, so
// the archive stays whole and the next entry follows the last good one.
TEST_F(ZipWriteTest, FailedAddAfterHeaderCutsBack)
{
    const QString zipName = Dir + QStringLiteral("/full.zip");
    {
        // The disk fills up in the middle of the local header.
        TFullDiskZip zip(zipName, Src, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/text.txt"), true);
        const int64_t whole = zip.FilePosition();
        auto disk = zip.FillDiskAt(whole + 10);
        try {
            zip.AddFile(Src + QStringLiteral("/sub/random.bin"), true);
            FAIL() << "no error";
        } catch (const EZipError &e) {
            EXPECT_EQ(e.ZipError(), 0x4107);
            EXPECT_TRUE(zip.ErrorFlag());
        }
        EXPECT_EQ(zip.FilePosition(), whole);
        EXPECT_EQ(ReadFileRaw(zipName).size(), whole);
        disk->Limit = INT64_MAX; // room again
        zip.AddFile(Src + QStringLiteral("/sub/random.bin"), true);
        zip.WriteDirectory();
        zip.Verify();
    }
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -t " + Q(zipName)), 0);
    }
    // A split archive stages large data in a temporary file; a temporary
    // folder that has gone fails that entry only.
    const QString big = Src + QStringLiteral("/big.sparse");
    {
        const int fd = ::open(EncodeFileName(big).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(52428801)), 0);
        ::close(fd);
    }
    const QString tmp = Dir + QStringLiteral("/tmp");
    ASSERT_EQ(MakeDir(tmp), 0u);
    const QString splitName = Dir + QStringLiteral("/tmpgone.zip");
    {
        TZipWrite zip(splitName, Src, 1 << 30, QByteArray(), 0, 0);
        zip.SetTempDir(tmp);
        ASSERT_EQ(RemoveDir(tmp), 0u);
        zip.AddFile(Src + QStringLiteral("/text.txt"), true);
        const int64_t whole = zip.FilePosition();
        try {
            zip.AddFile(big, true);
            FAIL() << "no error";
        } catch (const EZipError &e) {
            EXPECT_EQ(e.ZipError(), 0x4101);
            EXPECT_FALSE(e.SysErrorMsg().isEmpty());
            EXPECT_FALSE(zip.ErrorFlag());
        }
        EXPECT_EQ(zip.FilePosition(), whole);
        zip.AddFile(Src + QStringLiteral("/sub/random.bin"), true);
        zip.WriteDirectory();
        EXPECT_EQ(zip.Directory().size(), 2u);
    }
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -t " + Q(splitName)), 0);
    }
}

TEST_F(ZipWriteTest, RenameAndDeleteWholeSplitArchive)
{
    EXPECT_TRUE(FileErrorMessage(0x127).contains(QStringLiteral("Error renaming file")));
    WriteFileRaw(Src + QStringLiteral("/big.bin"), PatternData(200000, 11));
    const QString zipName = Dir + QStringLiteral("/r.zip");
    const QString newName = Dir + QStringLiteral("/renamed.zip");
    {
        TZipWrite zip(zipName, Src, 65536, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/big.bin"), false);
        zip.WriteDirectory();
        ASSERT_GE(zip.NumberOfSegments(), 3);
        zip.Verify(); // the entry is gathered from four segments
        zip.RenameZipFile(newName);
    }
    EXPECT_FALSE(PathExists(zipName, false));
    EXPECT_TRUE(PathExists(newName, false));
    EXPECT_TRUE(PathExists(ZipSegmentName(newName, 0), false));
    EXPECT_FALSE(PathExists(ZipSegmentName(zipName, 0), false));
    {
        // The target name is taken: the rename stops with 0x4127.
        TZipWrite zip(zipName, Src, QByteArray(), 0, 0);
        zip.WriteDirectory();
        try {
            zip.RenameZipFile(newName);
            FAIL() << "renamed onto an existing archive";
        } catch (const EZipError &e) {
            EXPECT_EQ(e.ZipError(), 0x4127);
        }
    }
    {
        TZipWrite zip(Dir + QStringLiteral("/d.zip"), Src, 65536, QByteArray(), 0, 0);
        zip.AddFile(Src + QStringLiteral("/big.bin"), false);
        zip.WriteDirectory();
        zip.DeleteZipFile();
    }
    EXPECT_FALSE(PathExists(Dir + QStringLiteral("/d.zip"), false));
    EXPECT_FALSE(PathExists(Dir + QStringLiteral("/d.z01"), false));
}

} // namespace
} // namespace vl::test
