#include "engine/ZipRead.h"

#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "core/Stream.h"
#include "core/XlFileUtils.h"
#include "engine/Encryption.h"
#include "engine/ZLibEx.h"
#include "engine/ZipFormat.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <random>

namespace vl {
namespace {

using namespace test;

QString Shell(const QString &s)
{
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

int RunShell(const QString &cmd)
{
    return std::system((QStringLiteral("( ") + cmd + QStringLiteral(" ) >/dev/null 2>&1")).toLocal8Bit().constData());
}

QByteArray RawDeflate(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

uint32_t Crc(const QByteArray &data)
{
    return UpdateCrc32(0, data.constData(), data.size());
}

// One entry of a hand-built archive: the bytes exactly as they are to be
// stored.
struct TFixtureEntry {
    QByteArray Name;
    QByteArray Data; // entry data as stored
    uint16_t Flags = 0;
    uint16_t Method = kZipMethodStored;
    uint32_t Crc = 0;
    uint32_t USize = 0;
    uint32_t Attr = kZipAttrArchive;
    QByteArray LocalExtra;
    QByteArray CentralExtra;
    QByteArray CentralName; // when it differs from Name
};

QByteArray BuildZip(const std::vector<TFixtureEntry> &AEntries)
{
    QByteArray file, central;
    for (const TFixtureEntry &e : AEntries) {
        TZipLocalHeader l;
        l.Flags = e.Flags;
        l.Method = e.Method;
        l.Time = 0x5A216000; // 2025-01-01
        l.Crc = e.Crc;
        l.CSize = uint32_t(e.Data.size());
        l.USize = e.USize;
        l.NameLength = uint16_t(e.Name.size());
        l.ExtraLength = uint16_t(e.LocalExtra.size());
        TZipCentralHeader c;
        c.Flags = e.Flags;
        c.Method = e.Method;
        c.Time = l.Time;
        c.Crc = e.Crc;
        c.CSize = l.CSize;
        c.USize = e.USize;
        const QByteArray cname = e.CentralName.isNull() ? e.Name : e.CentralName;
        c.NameLength = uint16_t(cname.size());
        c.ExtraLength = uint16_t(e.CentralExtra.size());
        c.ExternalAttr = e.Attr;
        c.LocalOffset = uint32_t(file.size());
        file += EncodeZipLocalHeader(l) + e.Name + e.LocalExtra + e.Data;
        central += EncodeZipCentralHeader(c) + cname + e.CentralExtra;
    }
    TZipEndRecord end;
    end.DiskEntries = end.TotalEntries = uint16_t(AEntries.size());
    end.CentralSize = uint32_t(central.size());
    end.CentralOffset = uint32_t(file.size());
    return file + central + EncodeZipEndRecord(end);
}

TFixtureEntry StoredEntry(const QByteArray &AName, const QByteArray &AData)
{
    TFixtureEntry e;
    e.Name = AName;
    e.Data = AData;
    e.Crc = Crc(AData);
    e.USize = uint32_t(AData.size());
    return e;
}

int32_t ZipCode(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const EZipError &e) {
        return e.ZipError();
    }
    return 0;
}

uint32_t ModeOf(const QString &path)
{
    struct stat st {};
    if (stat(EncodeFileName(path).constData(), &st) != 0)
        return 0xFFFFFFFF;
    return st.st_mode & 07777;
}

// Archives of other tools, all methods we read, extracted byte for byte.
TEST(ZipReadTest, ToolArchivesExtractByteExact)
{
    const QString src = MakeTempDir(QStringLiteral("src"));
    std::mt19937 rng(7);
    QByteArray random(300000, '\0');
    for (char &c : random)
        c = char(rng());
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += "line " + QByteArray::number(i) + "\n";
    struct TFile {
        QString Name;
        QByteArray Data;
        uint32_t Mode;
    };
    const QString latin = DecodeFileName(QByteArray("caf\xE9.txt"));
    const std::vector<TFile> files = {
        {QStringLiteral("text.txt"), text, 0644},
        {QStringLiteral("empty.txt"), QByteArray(), 0644},
        {QStringLiteral("sub/random.bin"), random, 0644},
        {QStringLiteral("sub/private.txt"), "secret\n", 0600},
        {QStringLiteral("sub/small.txt"), "tiny", 0640},
        {QStringLiteral("sub/zzz-last-empty"), QByteArray(), 0644},
    };
    ASSERT_EQ(MakeDirs(src + QStringLiteral("/sub")), 0u);
    ASSERT_EQ(MakeDirs(src + QStringLiteral("/emptydir")), 0u);
    for (const TFile &f : files) {
        WriteBytes(src + QLatin1Char('/') + f.Name, f.Data);
        ASSERT_EQ(Chmod(src + QLatin1Char('/') + f.Name, f.Mode), 0u);
    }
    WriteBytes(src + QLatin1Char('/') + latin, "raw name bytes");

    struct TCase {
        const char *Label;
        const char *Command; // run in src; %1 = archive
        QByteArray Password;
        bool RawNames;       // the tool keeps non-UTF-8 names as bytes
    };
    const TCase cases[] = {
        {"zip deflate", "zip -q -r %1 .", "", true},
        {"zip stored", "zip -q -0 -r %1 .", "", true},
        {"zip streamed (data descriptors)", "zip -q -r - . | cat > %1", "", true},
        {"7z deflate", "7z a -tzip %1 .", "", false},
        {"7z stored", "7z a -tzip -mx0 %1 .", "", false},
        {"7z AES-256", "7z a -tzip -mem=AES256 -pS3cret!pw %1 .", "S3cret!pw", false},
        {"7z AES-128 stored", "7z a -tzip -mx0 -mem=AES128 -pS3cret!pw %1 .", "S3cret!pw", false},
    };
    int n = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Label);
        const QString zip = MakeTempDir(QStringLiteral("zip")) + QStringLiteral("/a") + QString::number(++n)
                            + QStringLiteral(".zip");
        if (!c.RawNames)
            RemoveFile(src + QLatin1Char('/') + latin);
        ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(src) + QStringLiteral(" && ")
                      + QString::fromLatin1(c.Command).arg(Shell(zip))),
                  0);
        const QString out = MakeTempDir(QStringLiteral("out"));
        // An existing read-only file is replaced.
        WriteBytes(out + QStringLiteral("/text.txt"), "old");
        ASSERT_EQ(Chmod(out + QStringLiteral("/text.txt"), 0444), 0u);
        TZipRead reader(zip, c.Password, 0, 0);
        reader.ReadDirectory();
        ASSERT_GT(reader.Count(), 0);
        bool sawEmptyDir = false;
        for (int i = 0; i < reader.Count(); ++i) {
            reader.ExtractEntryTo(i, out, false);
            const TPkHeader &h = *reader.Directory()[size_t(i)].Header;
            if (reader.Filename(i).startsWith(QStringLiteral("emptydir"))) {
                sawEmptyDir = sawEmptyDir || h.IsDir;
            }
            if (reader.Filename(i).contains(QStringLiteral("empty.txt"))
                || reader.Filename(i).contains(QStringLiteral("last-empty"))) {
                EXPECT_FALSE(h.IsDir) << "an empty file is no folder";
            }
            if (!c.Password.isEmpty() && !h.IsDir && h.USize > 0) {
                EXPECT_TRUE(reader.IsEncrypted(i));
            }
        }
        EXPECT_TRUE(sawEmptyDir);
        for (const TFile &f : files) {
            const QString restored = out + QLatin1Char('/') + f.Name;
            EXPECT_EQ(ReadBytes(restored), f.Data) << f.Name.toStdString();
            EXPECT_EQ(ModeOf(restored), f.Mode) << f.Name.toStdString();
        }
        EXPECT_TRUE(XlDirectoryExists(out + QStringLiteral("/emptydir"), false));
        if (c.RawNames) {
            EXPECT_EQ(ReadBytes(out + QLatin1Char('/') + latin), QByteArray("raw name bytes"));
        }

        // The same entries compare equal with their sources, and a changed
        // source differs.
        for (int i = 0; i < reader.Count(); ++i) {
            if (reader.Filename(i) != QStringLiteral("sub/small.txt"))
                continue;
            EXPECT_EQ(ZipCode([&] { reader.CompareToFile(i, src + QStringLiteral("/sub/small.txt")); }), 0);
            EXPECT_EQ(ZipCode([&] { reader.CompareToFile(i, src + QStringLiteral("/text.txt")); }), 0x4115);
            TMemoryStream m;
            EXPECT_TRUE(reader.ExtractToStream(QStringLiteral("SUB/Small.TXT"), m));
            EXPECT_EQ(m.Data(), QByteArray("tiny"));
            EXPECT_FALSE(reader.ExtractToStream(QStringLiteral("missing"), m));
        }
    }
}

// Split archives: entries whose data runs on into the next segments, and a
// central directory that begins in an earlier segment.
TEST(ZipReadTest, SplitArchive)
{
    const QString dir = MakeTempDir();
    std::mt19937 rng(3);
    QByteArray random(300000, '\0');
    for (char &c : random)
        c = char(rng());
    QByteArray names;
    for (int i = 0; i < 3000; ++i)
        names += "n" + QByteArray::number(i);
    WriteBytes(dir + QStringLiteral("/r.bin"), random);
    WriteBytes(dir + QStringLiteral("/s.txt"), "short");
    // Many small entries make a directory larger than a segment.
    ASSERT_EQ(MakeDirs(dir + QStringLiteral("/many")), 0u);
    for (int i = 0; i < 800; ++i)
        WriteBytes(dir + QStringLiteral("/many/file-with-a-long-name-") + QString::number(i), QByteArray::number(i));
    ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(dir) + QStringLiteral(" && zip -q -r -s 64k sp.zip r.bin s.txt many")),
              0);
    ASSERT_TRUE(PathExists(dir + QStringLiteral("/sp.z05"), false));
    TZipRead reader(dir + QStringLiteral("/sp.zip"), QByteArray(), 0, 0);
    reader.ReadDirectory();
    EXPECT_GE(reader.NumberOfSegments(), 5);
    ASSERT_EQ(reader.Count(), 803);
    const QString out = dir + QStringLiteral("/out");
    for (int i = 0; i < reader.Count(); ++i)
        reader.ExtractEntryTo(i, out, false);
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/r.bin")), random);
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/s.txt")), QByteArray("short"));
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/many/file-with-a-long-name-799")), QByteArray("799"));
    // A missing segment is the reader's segment error.
    ASSERT_EQ(RemoveFile(dir + QStringLiteral("/sp.z02")), 0u);
    EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(0, out + QStringLiteral("/again.bin"), false); }), 0x4124);
}

TEST(ZipReadTest, CancelLeavesNoFile)
{
    const QString dir = MakeTempDir();
    WriteBytes(dir + QStringLiteral("/big.bin"), QByteArray(4 << 20, 'x'));
    ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(dir) + QStringLiteral(" && zip -q -0 c.zip big.bin")), 0);
    TZipRead reader(dir + QStringLiteral("/c.zip"), QByteArray(), 0, 4096);
    reader.ReadDirectory();
    int reports = 0;
    reader.SetOnProgress([&](TFileAction, int64_t, bool) {
        if (++reports == 3)
            reader.Cancel();
    });
    const QString dest = dir + QStringLiteral("/out/big.bin");
    ASSERT_EQ(MakeDirs(dir + QStringLiteral("/out")), 0u);
    EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(0, dest, false); }), 0x4080);
    EXPECT_GE(reports, 3);
    std::vector<TDirEntry> left;
    ASSERT_EQ(ListDirectory(dir + QStringLiteral("/out"), left), 0u);
    EXPECT_TRUE(left.empty()) << "no destination and no temporary file";
}

QByteArray Le64Bytes(uint64_t v)
{
    QByteArray b;
    for (int i = 0; i < 8; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

// Zip64 values in the extras and the zip64 end records, as written for
// large archives, on a small entry.
TEST(ZipReadTest, Zip64Records)
{
    const QByteArray data = "zip64 entry data";
    TZipLocalHeader l;
    l.Crc = Crc(data);
    l.CSize = l.USize = kZipMax32;
    l.NameLength = 5;
    const QByteArray localExtra = MakeZip64LocalExtra(uint64_t(data.size()), uint64_t(data.size()));
    l.ExtraLength = uint16_t(localExtra.size());
    const QByteArray file = EncodeZipLocalHeader(l) + "z.bin" + localExtra + data;
    TZipCentralHeader c;
    c.Crc = l.Crc;
    c.CSize = c.USize = c.LocalOffset = kZipMax32;
    c.NameLength = 5;
    const QByteArray centralExtra =
        MakeZipExtraField(kZipExtraZip64, Le64Bytes(uint64_t(data.size())) + Le64Bytes(uint64_t(data.size())) + Le64Bytes(0));
    c.ExtraLength = uint16_t(centralExtra.size());
    const QByteArray central = EncodeZipCentralHeader(c) + "z.bin" + centralExtra;
    TZip64EndRecord e64;
    e64.DiskEntries = e64.TotalEntries = 1;
    e64.CentralSize = uint64_t(central.size());
    e64.CentralOffset = uint64_t(file.size());
    TZip64Locator loc;
    loc.EndOffset = uint64_t(file.size() + central.size());
    TZipEndRecord end;
    end.DiskNumber = end.CentralDisk = 0xFFFF;
    end.DiskEntries = end.TotalEntries = 0xFFFF;
    end.CentralSize = end.CentralOffset = kZipMax32;
    const QByteArray zip = file + central + EncodeZip64EndRecord(e64) + EncodeZip64Locator(loc) + EncodeZipEndRecord(end);

    const QString dir = MakeTempDir();
    const QString name = dir + QStringLiteral("/z64.zip");
    WriteBytes(name, zip);
    {
        TZipRead reader(name, QByteArray(), 0, 0);
        reader.ReadDirectory();
        ASSERT_EQ(reader.Count(), 1);
        EXPECT_EQ(reader.DirectoryOffset(), file.size());
        EXPECT_EQ(reader.NumberOfSegments(), 0);
        EXPECT_EQ(reader.Directory()[0].Header->USize, data.size());
        reader.ExtractToFile(0, dir + QStringLiteral("/z.bin"), false);
        EXPECT_EQ(ReadBytes(dir + QStringLiteral("/z.bin")), data);
    }
    QByteArray badLocator = zip;
    badLocator[zip.size() - 22 - 20 + 1] = 'Q';
    // Disk numbers beyond any segment count (the directory's disk the same).
    TZip64EndRecord hugeDisk = e64;
    hugeDisk.DiskNumber = hugeDisk.CentralDisk = 0xFFFFFFFF;
    const QByteArray badDisk =
        file + central + EncodeZip64EndRecord(hugeDisk) + EncodeZip64Locator(loc) + EncodeZipEndRecord(end);
    for (const QByteArray &bad : {badLocator, badDisk}) {
        WriteBytes(name, bad);
        TZipRead reader(name, QByteArray(), 0, 0);
        EXPECT_EQ(ZipCode([&] { reader.ReadDirectory(); }), 0x4120);
        EXPECT_GE(reader.NumberOfSegments(), 0);
    }
}

TEST(ZipReadTest, EncryptedEntryNeedsTheRightPassword)
{
    const QString dir = MakeTempDir();
    const QString zip = dir + QStringLiteral("/aes.zip");
    WriteBytes(dir + QStringLiteral("/f.txt"), QByteArray(5000, 'q'));
    ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(dir) + QStringLiteral(" && 7z a -tzip -mem=AES256 -pright a.zip f.txt && mv a.zip ")
                  + Shell(zip)),
              0);
    struct TCase {
        QByteArray Password;
        int32_t Code;
    } cases[] = {{"wrong", 0x410B}, {"", 0x410B}, {"right", 0}};
    for (const TCase &c : cases) {
        TZipRead reader(zip, c.Password, 0, 0);
        reader.ReadDirectory();
        ASSERT_EQ(reader.Count(), 1);
        const QString dest = dir + QStringLiteral("/out.txt");
        EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(0, dest, false); }), c.Code) << c.Password.constData();
        EXPECT_EQ(PathExists(dest, false), c.Code == 0);
    }
}

// Names hidden in the 0x9909 extra; the folder entry has its enciphered
// name only in the local header.
TEST(ZipReadTest, EncryptedNames)
{
    const QByteArray password = "names-pw";
    TEncryption enc(password, 3, 0);
    const QByteArray content = QByteArray("hidden content ").repeated(40);

    QByteArray dirName, fileName;
    ASSERT_TRUE(EncryptZipEntryName(enc, "folder\\", dirName));
    ASSERT_TRUE(EncryptZipEntryName(enc, "folder\\secret.txt", fileName));
    TFixtureEntry d;
    d.Name = ZipEncNamePlaceholder(1);
    d.Flags = kZipFlagEncryptedName;
    d.Attr = kZipAttrDirectory;
    TPKExtraEncField dirAes;
    dirAes.Version = 2;
    dirAes.Mode = 3;
    dirAes.Method = 0;
    d.LocalExtra = EncodeAesExtra(dirAes) + MakeZipExtraField(kZipExtraEncName, dirName);

    TMemoryStream plain, cipher;
    const QByteArray deflated = RawDeflate(content);
    plain.Write(deflated.constData(), deflated.size());
    plain.SetPosition(0);
    ASSERT_TRUE(enc.EncryptStream(plain, cipher, false));
    TFixtureEntry f;
    f.Name = ZipEncNamePlaceholder(2);
    f.Data = cipher.Data();
    f.Flags = kZipFlagEncrypted | kZipFlagEncryptedName;
    f.Method = kZipMethodAes;
    f.Crc = Crc(content);
    f.USize = uint32_t(content.size());
    const QByteArray extra = EncodeAesExtra(MakeAesExtraFor(content.size(), 3))
                             + MakeZipExtraField(kZipExtraEncName, fileName);
    f.LocalExtra = f.CentralExtra = extra;

    const QString dir = MakeTempDir();
    const QString zip = dir + QStringLiteral("/names.zip");
    WriteBytes(zip, BuildZip({d, f}));

    {
        TZipRead reader(zip, password, 3, 0);
        reader.ReadDirectory();
        ASSERT_EQ(reader.Count(), 2);
        EXPECT_EQ(reader.Filename(0), QStringLiteral("folder/"));
        EXPECT_EQ(reader.Filename(1), QStringLiteral("folder/secret.txt"));
        EXPECT_TRUE(reader.Directory()[0].Header->IsDir);
        const QString out = dir + QStringLiteral("/out");
        reader.ExtractEntryTo(0, out, false);
        reader.ExtractEntryTo(1, out, false);
        EXPECT_EQ(ReadBytes(out + QStringLiteral("/folder/secret.txt")), content);
    }
    for (const QByteArray &wrong : {QByteArray("wrong"), QByteArray()}) {
        TZipRead reader(zip, wrong, 3, 0);
        const int32_t code = ZipCode([&] { reader.ReadDirectory(); });
        EXPECT_EQ(code, wrong.isEmpty() ? 0 : 0x410B);
        ASSERT_EQ(reader.Count(), 2) << "the list stays complete";
        EXPECT_EQ(reader.Filename(0), QStringLiteral("00000001"));
        EXPECT_EQ(reader.Filename(1), QStringLiteral("00000002"));
        EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(1, dir + QStringLiteral("/x"), false); }), 0x410B);
    }
}

TEST(ZipReadTest, UnsafeNamesAreRefused)
{
    struct TCase {
        QByteArray Stored;
        const char *Listed;
        bool Safe;
    };
    const TCase cases[] = {
        {"..\\evil1.txt", "../evil1.txt", false},
        {"a\\..\\..\\evil2.txt", "a/../../evil2.txt", false},
        {"ok\\..\\inside.txt", "ok/../inside.txt", false},
        {"C:\\..\\evil3.txt", "../evil3.txt", false},
        {"../evil4.txt", "../evil4.txt", false},
        {"D:\\data\\drive.txt", "data/drive.txt", true},
        {"\\\\server\\share\\unc.txt", "unc.txt", true},
        {"/abs/path.txt", "abs/path.txt", true},
        {"\\\\\\lead.txt", "lead.txt", true},
        {"dots..name.txt", "dots..name.txt", true},
    };
    std::vector<TFixtureEntry> entries;
    for (const TCase &c : cases)
        entries.push_back(StoredEntry(c.Stored, c.Stored));
    const QString dir = MakeTempDir();
    const QString zip = dir + QStringLiteral("/slip.zip");
    WriteBytes(zip, BuildZip(entries));
    const QString target = dir + QStringLiteral("/a/b/target");
    ASSERT_EQ(MakeDirs(target), 0u);

    TZipRead reader(zip, QByteArray(), 0, 0);
    reader.ReadDirectory();
    ASSERT_EQ(reader.Count(), int(std::size(cases)));
    for (int i = 0; i < reader.Count(); ++i) {
        const TCase &c = cases[i];
        SCOPED_TRACE(c.Stored.constData());
        EXPECT_EQ(reader.Filename(i), QString::fromLatin1(c.Listed));
        EXPECT_EQ(reader.IsUnsafe(i), !c.Safe);
        EXPECT_EQ(ZipCode([&] { reader.ExtractEntryTo(i, target, false); }), c.Safe ? 0 : 0x4121);
        if (c.Safe) {
            EXPECT_EQ(ReadBytes(target + QLatin1Char('/') + QString::fromLatin1(c.Listed)), c.Stored);
        }
        // Also a caller that builds the path itself cannot write outside.
        EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(i, dir + QStringLiteral("/direct.txt"), false); }),
                  c.Safe ? 0 : 0x4121);
    }
    for (const char *evil : {"evil1.txt", "evil2.txt", "evil3.txt", "evil4.txt", "a/evil2.txt", "a/b/evil1.txt"})
        EXPECT_FALSE(PathExists(dir + QLatin1Char('/') + QString::fromLatin1(evil), false)) << evil;

    // File entries without a name of their own never take the target's place.
    const QString nameless = dir + QStringLiteral("/nameless");
    WriteBytes(zip, BuildZip({StoredEntry("", "empty name"), StoredEntry(".", "dot"), StoredEntry("C:", "drive")}));
    TZipRead bare(zip, QByteArray(), 0, 0);
    bare.ReadDirectory();
    ASSERT_EQ(bare.Count(), 3);
    for (int i = 0; i < bare.Count(); ++i) {
        EXPECT_EQ(ZipCode([&] { bare.ExtractEntryTo(i, nameless, false); }), 0x4121) << i;
        EXPECT_FALSE(XlFileExists(nameless, false)) << i;
    }

    QString path;
    EXPECT_TRUE(ZipEntryTargetPath(QStringLiteral("/t/x"), QStringLiteral("a/b.txt"), path));
    EXPECT_EQ(path, QStringLiteral("/t/x/a/b.txt"));
    EXPECT_TRUE(ZipEntryTargetPath(QStringLiteral("/t/q/../x"), QStringLiteral("a/./b.txt"), path));
    EXPECT_EQ(path, QStringLiteral("/t/x/a/b.txt"));
    EXPECT_FALSE(ZipEntryTargetPath(QStringLiteral("/t/x"), QStringLiteral("a/../../y"), path));
    EXPECT_FALSE(ZipEntryTargetPath(QStringLiteral("/t/x"), QString::fromLatin1("a\0b", 3), path));
}

// Damaged archives give the reader's codes: a directory that cannot be
// read, a signature, a method, a CRC.
TEST(ZipReadTest, DamagedArchivesGiveErrorCodes)
{
    const QString dir = MakeTempDir();
    WriteBytes(dir + QStringLiteral("/a.txt"), QByteArray("alpha ").repeated(2000));
    WriteBytes(dir + QStringLiteral("/b.txt"), "bravo");
    const QString good = dir + QStringLiteral("/good.zip");
    ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(dir) + QStringLiteral(" && zip -q good.zip b.txt a.txt")), 0);
    const QByteArray bytes = ReadBytes(good);
    const int central = int(bytes.lastIndexOf(QByteArray("PK\x01\x02", 4), bytes.size() - 23));
    const int firstCentral = int(bytes.indexOf(QByteArray("PK\x01\x02", 4)));
    ASSERT_GT(central, 0);

    QByteArray comment = bytes;
    comment[comment.size() - 2] = 3;
    comment += "abc";
    QByteArray badCentralSig = bytes;
    badCentralSig[firstCentral + 2] = 9;
    QByteArray badMethod = bytes;
    badMethod[firstCentral + 10] = 12;
    QByteArray badData = bytes;
    // b.txt is stored first: a flipped data byte fails its CRC.
    const int dataStart = 30 + uint8_t(bytes[26]) + uint8_t(bytes[28]) + 256 * uint8_t(bytes[29]);
    badData[dataStart + 1] = char(badData[dataStart + 1] ^ 0x55);
    QByteArray badCount = bytes;
    badCount[badCount.size() - 12] = 9;
    badCount[badCount.size() - 14] = 9;

    struct TCase {
        const char *Label;
        QByteArray Data;
        int32_t DirCode;     // from ReadDirectory
        int32_t ExtractCode; // of the first entry, when the directory was read
    } cases[] = {
        {"comment", comment, 0x4120, 0},
        {"cut end record", bytes.left(bytes.size() - 1), 0x4120, 0},
        {"empty file", QByteArray(), 0x4120, 0},
        {"central signature", badCentralSig, 0x4120, 0},
        {"method", badMethod, 0x4122, 0},
        {"count beyond records", badCount, 0x4104, 0},
        {"damaged data", badData, 0, 0x4104},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Label);
        const QString zip = dir + QStringLiteral("/bad.zip");
        WriteBytes(zip, c.Data);
        TZipRead reader(zip, QByteArray(), 0, 0);
        EXPECT_EQ(ZipCode([&] { reader.ReadDirectory(); }), c.DirCode);
        if (c.DirCode == 0) {
            EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(0, dir + QStringLiteral("/x.txt"), false); }),
                      c.ExtractCode);
        }
    }
    EXPECT_EQ(ZipCode([] { TZipRead reader(QStringLiteral("/nonexistent/x.zip"), QByteArray(), 0, 0); }), 0x4102);
    TZipRead reader(good, QByteArray(), 0, 0);
    reader.ReadDirectory();
    EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(-1, dir + QStringLiteral("/x"), false); }), 0x4104);
    EXPECT_EQ(ZipCode([&] { reader.ExtractToFile(2, dir + QStringLiteral("/x"), false); }), 0x4104);
}

// Cut-off, bit-flipped and random archives for a bounded time: every
// outcome is a listed archive or an EZipError, never a crash or another
// exception.
TEST(ZipReadTest, FuzzedArchivesNeverCrash)
{
    const QString dir = MakeTempDir();
    WriteBytes(dir + QStringLiteral("/a.txt"), QByteArray("alpha beta ").repeated(300));
    WriteBytes(dir + QStringLiteral("/b.bin"), "bb");
    WriteBytes(dir + QStringLiteral("/e.txt"), QByteArray());
    ASSERT_EQ(RunShell(QStringLiteral("cd ") + Shell(dir) + QStringLiteral(" && zip -q p.zip a.txt b.bin e.txt && ")
                  + QStringLiteral("7z a -tzip -mem=AES128 -ppw q.zip a.txt b.bin")),
              0);
    const QByteArray seeds[] = {ReadBytes(dir + QStringLiteral("/p.zip")), ReadBytes(dir + QStringLiteral("/q.zip"))};
    const QString zip = dir + QStringLiteral("/fuzz.zip");
    const QString out = dir + QStringLiteral("/out");
    std::mt19937 rng(12345);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int runs = 0, read = 0;
    while (std::chrono::steady_clock::now() < until) {
        const QByteArray &seed = seeds[runs % 2];
        QByteArray data;
        switch (rng() % 4) {
        case 0: // cut off
            data = seed.left(int(rng() % seed.size()));
            break;
        case 1: // flipped bytes, mostly in the directory
        case 2:
            data = seed;
            for (int k = 0, n = 1 + int(rng() % 4); k < n; ++k) {
                const int from = rng() % 2 ? int(seed.size()) - 120 : 0;
                const int at = std::max(0, from) + int(rng() % uint32_t(seed.size() - std::max(0, from)));
                data[at] = char(rng());
            }
            break;
        default: // random bytes with an end record
            data.resize(int(rng() % 300));
            for (char &ch : data)
                ch = char(rng());
            data += seed.right(22);
        }
        WriteBytes(zip, data);
        ++runs;
        try {
            TZipRead reader(zip, "pw", 0, 0);
            reader.ReadDirectory();
            ++read;
            for (int i = 0; i < reader.Count(); ++i) {
                try {
                    reader.ExtractEntryTo(i, out, false);
                } catch (const EZipError &) {
                }
            }
        } catch (const EZipError &e) {
            EXPECT_EQ(e.ZipError() & 0x4000, 0x4000);
        }
    }
    EXPECT_GT(runs, 50);
    EXPECT_GT(read, 0);
}

} // namespace
} // namespace vl
