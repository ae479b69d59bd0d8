#include "engine/GzipThread.h"

#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "engine/GzipTestHelpers.h"
#include "engine/ZLibEx.h"
#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

namespace vl {
namespace {

using namespace test;

constexpr uint32_t kTime = 1700000000; // 0x6553F100

QByteArray Hex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QString Path(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QString::fromUtf8(name);
}

uint32_t Le32(const QByteArray &b, int at)
{
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int64_t Le64(const QByteArray &b, int at)
{
    return int64_t(uint64_t(Le32(b, at)) | uint64_t(Le32(b, at + 4)) << 32);
}

QByteArray Le64Bytes(uint64_t v)
{
    QByteArray b;
    for (int i = 0; i < 8; ++i)
        b.append(char(v >> (8 * i)));
    return b;
}

int32_t ParseHeader(const QByteArray &bytes, TGzHeader &header)
{
    TMemoryStream stream(bytes);
    return ReadGzHeaderEx(stream, header);
}

TEST(GzipFormat, EmptySourceGivesTheExactMinimalMember)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "a"), gz = Path(dir, "a.gz");
    WriteFileRaw(src, QByteArray());
    SetMTime(src, kTime);
    auto t = std::make_shared<TTestGZipThread>(src, gz, nullptr, kSmallBuffer);
    ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
    // Header part (32 bytes: FLG FEXTRA|FNAME, MTIME, OS 0, XLEN 20,
    // subfield 1 with CSize 2 and USize 0), "a" and its 0, the empty raw
    // deflate stream, CRC 0 and ISIZE 0.
    const QByteArray expected = Hex("1f8b080c00f1536500001400010010000200000000000000"
                                    "0000000000000000"
                                    "6100"
                                    "0300"
                                    "0000000000000000");
    EXPECT_EQ(expected.size(), 44);
    EXPECT_EQ(ReadFileRaw(gz).toHex(), expected.toHex());
    EXPECT_EQ(t->Ratio(), -1);
}

TEST(GzipFormat, GzipToolReadsOurMemberAndSubfieldHoldsSizes)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "data.bin"), gz = Path(dir, "data.bin.gz"), out = Path(dir, "out.bin");
    const QByteArray data = PatternData(5 * kSmallBuffer + 123);
    WriteFileRaw(src, data);
    auto t = std::make_shared<TTestGZipThread>(src, gz, nullptr, kSmallBuffer);
    ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();

    const QByteArray member = ReadFileRaw(gz);
    ASSERT_GT(member.size(), 48);
    const int dataStart = 32 + int(qstrlen("data.bin")) + 1;
    EXPECT_EQ(Le64(member, 16), member.size() - dataStart - 8); // compressed size
    EXPECT_EQ(Le64(member, 24), data.size());                   // uncompressed size
    EXPECT_EQ(Le32(member, member.size() - 4), uint32_t(data.size()));
    EXPECT_EQ(t->Ratio(), int(std::nearbyint(1000.0 * double(member.size() - dataStart - 8) / double(data.size()))));

    const QByteArray cmd = "gzip -dc '" + gz.toUtf8() + "' > '" + out.toUtf8() + "'";
    ASSERT_EQ(std::system(cmd.constData()), 0);
    EXPECT_EQ(ReadFileRaw(out), data);
}

TEST(GzipFormat, EncryptedMemberHeaderAndTrailer)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s.txt");
    const QByteArray data = PatternData(1000);
    WriteFileRaw(src, data);
    for (int mode = 1; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        const QString gze = Path(dir, "s.gze") + QString::number(mode);
        auto enc = MakeEncryption(mode);
        ASSERT_EQ(GzipFile(src, gze, enc.get()), 0);
        const QByteArray b = ReadFileRaw(gze);
        EXPECT_EQ(uint8_t(b[3]), 0x2C);                        // FEXTRA | FNAME | encrypted
        EXPECT_EQ(b.mid(10, 2), Hex("1a00"));                  // XLEN 26
        EXPECT_EQ(b.mid(32, 6), QByteArray("QV\x02\x00", 4) + char(mode) + '\0');
        EXPECT_EQ(b.mid(38, 6), QByteArray("s.txt\0", 6));
        EXPECT_EQ(Le32(b, b.size() - 8), 0u);                  // no CRC of the plain data
        EXPECT_EQ(Le32(b, b.size() - 4), uint32_t(data.size()));
        EXPECT_EQ(Le64(b, 16), b.size() - 44 - 8);             // the whole encryption frame
        TGzFileInfo info;
        ASSERT_TRUE(ReadGzFileInfo(gze, info));
        EXPECT_TRUE(info.Encrypted);
        EXPECT_EQ(info.EncMode, mode);
        EXPECT_EQ(info.USize, data.size());
    }
}

TEST(GzipFormat, HeaderNamesAndOsByte)
{
    const struct {
        QString Name;
        uint8_t Os;
        QByteArray Stored;
    } cases[] = {
        {QStringLiteral("plain.txt"), 0, "plain.txt"},
        {QString::fromUtf8("caf\xc3\xa9.txt"), 0, "caf\xe9.txt"},             // Latin-1
        {QString::fromUtf8("\xce\xb1\xce\xb2\xce\xb3.txt"), 11, "\xce\xb1\xce\xb2\xce\xb3.txt"}, // Greek: UTF-8
        {DecodeFileName(QByteArray("caf\xe9.txt")), 11, "caf\xe9.txt"},      // raw byte of a name
        {QString(), 0, QByteArray()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name.toStdString());
        TTestGZipThread writer(QStringLiteral("/x"), QStringLiteral("/y"), nullptr, kSmallBuffer);
        TMemoryStream stream;
        ASSERT_EQ(writer.WriteGzHeader(stream, c.Name, -1, kTime), 0);
        const QByteArray b = stream.Data();
        EXPECT_EQ(uint8_t(b[9]), c.Os);
        EXPECT_EQ(uint8_t(b[3]), c.Stored.isEmpty() ? 0x04 : 0x0C);
        EXPECT_EQ(b.mid(32), c.Stored.isEmpty() ? QByteArray() : c.Stored + '\0');
        // Room for a trailer so the header reads as a whole.
        stream.Write("\x03\x00\0\0\0\0\0\0\0\0", 10);
        TGzHeader header;
        ASSERT_EQ(ParseHeader(stream.Data(), header), 0);
        EXPECT_EQ(header.Name, c.Name);
        EXPECT_EQ(header.Time, kTime);
        EXPECT_EQ(header.KeyMode, -1);
    }
}

TEST(GzipFormat, SizesAreSixtyFourBit)
{
    const int64_t big = 5LL * 1024 * 1024 * 1024 + 5;
    // A crafted member of a 5 GiB source: the readers take subfield 1, not ISIZE.
    const QByteArray member = Hex("1f8b0804") + QByteArray(4, '\0') + Hex("0000" "1400" "01001000") + Le64Bytes(2)
        + Le64Bytes(uint64_t(big)) + Hex("0300") + Hex("00000000") + Hex("05000040");
    TMemoryStream stream(member);
    TGzFileInfo info;
    ASSERT_TRUE(ReadGzStreamInfo(stream, info));
    EXPECT_EQ(info.USize, big);
    EXPECT_EQ(info.CSize, 2);
    EXPECT_FALSE(info.Encrypted);

    // The writer stores the full values and ISIZE modulo 2^32.
    TTestGZipThread writer(QStringLiteral("/x"), QStringLiteral("/y"), nullptr, kSmallBuffer);
    TMemoryStream out;
    ASSERT_EQ(writer.WriteGzHeader(out, QString(), -1, 0), 0);
    out.Write("\x03\x00", 2);
    writer.SetTotals(2, big);
    ASSERT_EQ(writer.WriteGzTrailer(out, 0x12345678), 0);
    EXPECT_EQ(Le64(out.Data(), 16), 2);
    EXPECT_EQ(Le64(out.Data(), 24), big);
    EXPECT_EQ(out.Data().right(8), Hex("7856341205000040")); // 0x140000005 modulo 2^32
    EXPECT_EQ(out.Position(), out.Size());
}

TEST(GzipFormat, HeaderReaderOnDamagedAndForeignInput)
{
    const QByteArray trailer(8, '\0');
    const QByteArray fixed = Hex("1f8b0804") + QByteArray(6, '\0');
    const struct {
        const char *What;
        QByteArray Bytes;
        int32_t Result;
    } cases[] = {
        {"empty", QByteArray(), 4},
        {"one byte", Hex("1f"), 4},
        {"no magic", QByteArray("PK\x03\x04 not gzip at all"), 8},
        {"XLEN cut", fixed + Hex("14"), 4},
        {"extra field cut", fixed + Hex("1400") + Hex("01001000"), 4},
        {"subfield longer than the field", fixed + Hex("0600") + Hex("0100ff00aaaa") + Hex("0300") + trailer, 0},
        {"name without its 0", Hex("1f8b0808") + QByteArray(6, '\0') + QByteArray(3000, 'n'), 4},
        {"comment without its 0", Hex("1f8b0810") + QByteArray(6, '\0') + QByteArray(100, 'c'), 4},
        {"header CRC cut", Hex("1f8b0802") + QByteArray(6, '\0') + Hex("00"), 4},
        {"encrypted without key mode", Hex("1f8b0824") + QByteArray(6, '\0') + Hex("1400") + Hex("01001000")
             + QByteArray(16, '\0') + trailer, 8},
        {"key mode out of range", Hex("1f8b0824") + QByteArray(6, '\0') + Hex("0600") + Hex("51560200") + Hex("0700")
             + trailer, 8},
        {"negative size", fixed + Hex("1400") + Hex("01001000") + Le64Bytes(uint64_t(-5)) + Le64Bytes(1) + trailer, 8},
        {"no room for the trailer", fixed + Hex("0000") + Hex("0300"), 4},
        {"foreign subfields and comment", Hex("1f8b081e") + QByteArray(6, '\0') + Hex("0800") + Hex("4142040061626364")
             + QByteArray("name\0comment\0", 13) + Hex("abcd") + Hex("0300") + trailer, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        TGzHeader header;
        EXPECT_EQ(ParseHeader(c.Bytes, header), c.Result);
    }
    TGzHeader header;
    ASSERT_EQ(ParseHeader(cases[13].Bytes, header), 0);
    EXPECT_EQ(header.Name, QStringLiteral("name"));
    EXPECT_EQ(header.CSize, 2); // no subfield 1: from the file size
    EXPECT_FALSE(header.HasSizes);
}

TEST(GzipFormat, HeaderReaderSurvivesRandomAndDamagedMembers)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "f.bin");
    WriteFileRaw(src, PatternData(3000));
    auto enc = MakeEncryption(2);
    ASSERT_EQ(GzipFile(src, Path(dir, "f.gz")), 0);
    ASSERT_EQ(GzipFile(src, Path(dir, "f.gze"), enc.get()), 0);
    const QByteArray valid[] = {ReadFileRaw(Path(dir, "f.gz")), ReadFileRaw(Path(dir, "f.gze"))};
    std::mt19937 rng(7);
    int parsed = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray b = valid[i % 2];
        switch (i % 3) {
        case 0:
            b.truncate(int(rng() % 80));
            break;
        case 1:
            for (int k = 0; k < 3; ++k)
                b[int(rng() % 64)] ^= char(1 << (rng() % 8));
            break;
        default:
            b = PatternData(int(rng() % 200), rng());
            if (i % 2)
                b.replace(0, 2, Hex("1f8b"));
        }
        TMemoryStream stream(b);
        TGzHeader header;
        const int32_t r = ReadGzHeaderEx(stream, header);
        ASSERT_TRUE(r == 0 || r == 4 || r == 8) << r;
        if (r == 0) {
            ++parsed;
            EXPECT_LE(stream.Position() + 8, b.size());
            EXPECT_GE(header.CSize, 0);
            EXPECT_GE(header.USize, 0);
        }
    }
    EXPECT_GT(parsed, 0);
}

TEST(GzipThread, RoundTripsAtEveryKeyMode)
{
    const QString dir = MakeTempDir();
    const int64_t sizes[] = {0, 1000, 3 * kSmallBuffer + 17};
    for (int mode : {-1, 1, 2, 3}) {
        for (int64_t size : sizes) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " size " << size);
            const QString tag = QStringLiteral("%1_%2").arg(mode).arg(size);
            const QString src = dir + QStringLiteral("/src_") + tag, gz = dir + QStringLiteral("/b_") + tag,
                          back = dir + QStringLiteral("/r_") + tag;
            const QByteArray data = PatternData(size, uint32_t(size));
            WriteFileRaw(src, data, 0640);
            SetMTime(src, kTime);
            auto enc = mode > 0 ? MakeEncryption(mode) : nullptr;
            ASSERT_EQ(GzipFile(src, gz, enc.get(), true), 0);
            EXPECT_EQ(FileMode(gz), 0640u); // the backup keeps the source's mode

            TGzFileInfo info;
            ASSERT_TRUE(ReadGzFileInfo(gz, info));
            EXPECT_EQ(info.Filename, QStringLiteral("src_") + tag);
            EXPECT_EQ(info.UnixTime, kTime);
            EXPECT_EQ(info.EncMode, mode);
            EXPECT_EQ(info.USize, size);
            EXPECT_EQ(info.Count, 1);

            // The restore gives the file the backup file's mode and the
            // header's time; a fresh object with the same password opens it.
            ASSERT_EQ(Chmod(gz, 0600), 0u);
            auto enc2 = mode > 0 ? MakeEncryption(mode == 1 ? 3 : 1) : nullptr;
            auto t = std::make_shared<TGUnZipThread>(gz, back, enc2.get(), kSmallBuffer);
            ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
            EXPECT_EQ(ReadFileRaw(back), data);
            EXPECT_EQ(FileMode(back), 0600u);
            EXPECT_EQ(FileMTime(back), int64_t(kTime));

            EXPECT_EQ(CompareFiles(gz, src, enc2.get(), true), 0);
        }
    }
}

TEST(GzipThread, RawByteNameRoundTrips)
{
    const QString dir = MakeTempDir(), out = MakeTempDir(QStringLiteral("out"));
    const QByteArray raw("caf\xe9.bin");
    const QString name = DecodeFileName(raw);
    const QByteArray data = PatternData(500);
    WriteFileRaw(dir + QLatin1Char('/') + name, data);
    const QString gz = dir + QStringLiteral("/x.gz");
    ASSERT_EQ(GzipFile(dir + QLatin1Char('/') + name, gz), 0);
    EXPECT_EQ(uint8_t(ReadFileRaw(gz)[9]), 11);
    TGzFileInfo info;
    ASSERT_TRUE(ReadGzFileInfo(gz, info));
    ASSERT_EQ(info.Filename, name);
    ASSERT_EQ(GunzipFile(gz, out + QLatin1Char('/') + info.Filename), 0);
    std::vector<TDirEntry> entries;
    ASSERT_EQ(ListDirectory(out, entries), 0u);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(EncodeFileName(entries[0].Name), raw);
    EXPECT_EQ(ReadFileRaw(out + QLatin1Char('/') + name), data);
}

TEST(GzipThread, MemberOfTheGzipToolIsRestored)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "tool.txt"), gz = Path(dir, "tool.txt.gz");
    const QByteArray data = PatternData(3 * kSmallBuffer + 5);
    WriteFileRaw(src, data);
    SetMTime(src, kTime);
    ASSERT_EQ(std::system(("gzip -c '" + src.toUtf8() + "' > '" + gz.toUtf8() + "'").constData()), 0);
    QByteArray member = ReadFileRaw(gz);
    ASSERT_EQ(uint8_t(member[3]), 0x08); // only a name: no subfield of ours

    TGzFileInfo info;
    ASSERT_TRUE(ReadGzFileInfo(gz, info));
    EXPECT_EQ(info.Filename, QStringLiteral("tool.txt"));
    EXPECT_EQ(info.UnixTime, kTime);
    EXPECT_EQ(info.USize, data.size());                              // from ISIZE
    EXPECT_EQ(info.CSize, member.size() - 10 - 9 - 8);               // from the file size
    EXPECT_FALSE(info.Encrypted);

    // The same member with a comment and a header CRC added.
    const QString gz2 = Path(dir, "tool2.gz");
    member[3] = char(0x08 | 0x10 | 0x02);
    member.insert(19, QByteArray("a comment\0\x12\x34", 12));
    WriteFileRaw(gz2, member);

    for (const QString &file : {gz, gz2}) {
        SCOPED_TRACE(file.toStdString());
        const QString back = file + QStringLiteral(".out");
        ASSERT_EQ(GunzipFile(file, back), 0);
        EXPECT_EQ(ReadFileRaw(back), data);
        EXPECT_EQ(FileMTime(back), int64_t(kTime));
    }
}

TEST(GzipThread, RestoreChecksThePasswordBeforeTouchingTheDestination)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s.bin"), gze = Path(dir, "s.gze"), gz = Path(dir, "s.gz"),
                  dest = Path(dir, "dest.bin");
    const QByteArray data = PatternData(3 * kSmallBuffer);
    WriteFileRaw(src, data);
    auto right = MakeEncryption(3);
    ASSERT_EQ(GzipFile(src, gze, right.get()), 0);
    ASSERT_EQ(GzipFile(src, gz), 0);
    // Damaged copies: one data byte changed (the authentication code or the
    // CRC catches it only after data has been written).
    QByteArray damaged = ReadFileRaw(gze);
    damaged[damaged.size() / 2] ^= 0x10;
    WriteFileRaw(Path(dir, "damaged.gze"), damaged);
    damaged = ReadFileRaw(gz);
    damaged[damaged.size() - 20] ^= 0x10;
    WriteFileRaw(Path(dir, "damaged.gz"), damaged);

    auto wrong = MakeEncryption(3, "wrong password");
    auto rightAgain = MakeEncryption(3);
    const QByteArray old("the old file");
    const struct {
        const char *What;
        QString Backup;
        TEncryption *Enc;
        bool Existing;
        int32_t Code;
    } cases[] = {
        {"wrong password, existing destination", gze, wrong.get(), true, 0x310B},
        {"wrong password, no destination", gze, wrong.get(), false, 0x310B},
        {"no password", gze, nullptr, false, 0x310B},
        {"no password, existing destination", gze, nullptr, true, 0x310B},
        {"damaged encrypted data", Path(dir, "damaged.gze"), rightAgain.get(), true, 0x310B},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        RemoveFile(dest);
        if (c.Existing)
            WriteFileRaw(dest, old, 0600);
        const QStringList before = DirNames(dir);
        auto t = std::make_shared<TGUnZipThread>(c.Backup, dest, c.Enc, kSmallBuffer);
        t->Overwrite = true;
        EXPECT_EQ(RunThread(t), c.Code);
        if (!c.Enc) {
            EXPECT_FALSE(t->SysErrorMsg().isEmpty());
        }
        EXPECT_EQ(DirNames(dir), before); // nothing created, no temporary file left
        if (c.Existing) {
            EXPECT_EQ(ReadFileRaw(dest), old);
            EXPECT_EQ(FileMode(dest), 0600u);
        }
    }
    // A damaged plain member fails on the CRC (or the inflate) and leaves
    // the old file.
    WriteFileRaw(dest, old);
    const QStringList before = DirNames(dir);
    const int32_t r = GunzipFile(Path(dir, "damaged.gz"), dest, nullptr, true);
    EXPECT_TRUE(r == 0x3109 || r == 0x3104) << std::hex << r;
    EXPECT_EQ(ReadFileRaw(dest), old);
    EXPECT_EQ(DirNames(dir), before);
}

TEST(GzipThread, RestoreOfDamagedFilesNeverReportsWrongDataAsSuccess)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s.bin");
    const QByteArray data = PatternData(2 * kSmallBuffer + 300);
    WriteFileRaw(src, data);
    auto enc = MakeEncryption(1);
    ASSERT_EQ(GzipFile(src, Path(dir, "v.gz")), 0);
    ASSERT_EQ(GzipFile(src, Path(dir, "v.gze"), enc.get()), 0);
    std::mt19937 rng(11);
    for (const char *name : {"v.gz", "v.gze"}) {
        const QByteArray valid = ReadFileRaw(Path(dir, name));
        for (int i = 0; i < 120; ++i) {
            QByteArray b = valid;
            const bool cut = i < 40;
            if (cut)
                b.truncate(int(rng() % valid.size()));
            else
                b[int(rng() % valid.size())] ^= char(1 << (rng() % 8));
            const QString file = Path(dir, "case"), dest = Path(dir, "case.out");
            WriteFileRaw(file, b);
            RemoveFile(dest);
            const int32_t r = GunzipFile(file, dest, enc.get());
            SCOPED_TRACE(testing::Message() << name << " case " << i << " code " << std::hex << r);
            if (cut) {
                EXPECT_NE(r, 0);
            }
            if (r == 0) {
                EXPECT_EQ(ReadFileRaw(dest), data);
            } else {
                EXPECT_FALSE(FileExists(dest));
                const int32_t n = ErrorNumber(r);
                EXPECT_TRUE(n == feReadFile || n == feIllegalHeader || n == feCorruptFile || n == feDecryption);
            }
        }
    }
}

TEST(GzipThread, VerificationReadsTheWrittenFileBack)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s.bin");
    WriteFileRaw(src, PatternData(3 * kSmallBuffer));
    // A byte changed between writing and reading back. Whatever a restore
    // relies on must be caught: the data, the trailer of a plain member
    // (an encrypted restore reads neither CRC nor ISIZE) and the sizes.
    const struct {
        const char *What;
        int Offset; // from the end when negative
        int32_t Plain, Encrypted;
    } cases[] = {
        {"nothing", 0, 0, 0},
        {"data", 1 << 30, 0x210C, 0x210C},
        {"CRC", -8, 0x210C, 0},
        {"ISIZE", -3, 0x210C, 0},
        {"compressed size", 17, 0x210C, 0x210C},
        {"uncompressed size", 24, 0x210C, 0x210C},
    };
    int n = 0;
    for (int mode : {-1, 2}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " damage " << c.What);
            const QString gz = Path(dir, "s.gz") + QString::number(++n);
            auto enc = mode > 0 ? MakeEncryption(mode) : nullptr;
            auto t = std::make_shared<TTestGZipThread>(src, gz, enc.get(), kSmallBuffer);
            t->SetVerify(true);
            t->BeforeVerify = [&] {
                if (c.Offset != 0) {
                    QByteArray b = ReadFileRaw(gz);
                    const qsizetype at = c.Offset < 0 ? b.size() + c.Offset : std::min<qsizetype>(c.Offset, b.size() / 2);
                    b[at] = char(b[at] ^ 0x01);
                    TFile f;
                    int64_t done = 0;
                    ASSERT_EQ(f.Open(gz, TFile::faWrite), 0u);
                    ASSERT_EQ(f.Write(b.constData(), b.size(), done), 0u);
                }
            };
            EXPECT_EQ(RunThread(t), mode < 0 ? c.Plain : c.Encrypted);
        }
    }
}

// CompressToDest on a destination that already holds other data, as the
// zip writer and the upload use it.
class TCompressToDestThread : public TGZipThread {
public:
    using TGZipThread::TGZipThread;
    // The bytes CompressToDest appended after a prefix; its code in ACode.
    QByteArray Run(const QByteArray &AData, bool ACompress, int32_t &ACode)
    {
        auto dest = std::make_unique<TMemoryStream>();
        dest->Write("PREFIX", 6);
        TMemoryStream *mem = dest.get();
        sDest = std::move(dest);
        TMemoryStream source(AData);
        ACode = CompressToDest(source, ACompress);
        const QByteArray written = mem->Data().mid(6);
        EXPECT_EQ(CTotal, written.size());
        EXPECT_EQ(UTotal, AData.size());
        sDest.reset();
        return written;
    }
};

QByteArray InflateRaw(const QByteArray &deflated)
{
    TMemoryStream in(deflated);
    TZDecompressionStream z(in, -15, deflated.size());
    QByteArray out;
    char buffer[4096];
    for (int64_t n; (n = z.Read(buffer, sizeof buffer)) > 0;)
        out.append(buffer, qsizetype(n));
    return out;
}

TEST(GzipThread, CompressToDestForms)
{
    const QByteArray data = PatternData(3 * kSmallBuffer + 77);
    for (int mode : {-1, 3}) {
        for (bool compress : {false, true}) {
            for (const QByteArray &input : {data, QByteArray()}) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " compress " << compress << " size "
                                                << input.size());
                auto enc = mode > 0 ? MakeEncryption(mode) : nullptr;
                TCompressToDestThread t(QStringLiteral("/x"), QStringLiteral("/y"), enc.get(), kSmallBuffer);
                int32_t code = -1;
                QByteArray written = t.Run(input, compress, code);
                ASSERT_EQ(code, 0);
                if (enc) {
                    // The encryption frame around the (deflated) data.
                    auto dec = MakeEncryption(mode);
                    TMemoryStream in(written), plain;
                    ASSERT_EQ(dec->DecryptStreamEx(in, &plain, written.size(), false, {}), TOpResult::orOk);
                    written = plain.Data();
                }
                // An empty source is stored, never deflated.
                const bool deflated = compress && !input.isEmpty();
                if (deflated) {
                    EXPECT_LT(written.size(), input.size());
                }
                EXPECT_EQ(deflated ? InflateRaw(written) : written, input);
            }
        }
    }
}

TEST(GzipThread, ReadGzFileInfoRejectsOtherFiles)
{
    const QString dir = MakeTempDir();
    WriteFileRaw(Path(dir, "text"), "just some text\n");
    WriteFileRaw(Path(dir, "empty"), QByteArray());
    WriteFileRaw(Path(dir, "enc"), QByteArray("QVE\x5b") + PatternData(60));
    for (const char *name : {"text", "empty", "enc"}) {
        TGzFileInfo info;
        EXPECT_FALSE(ReadGzFileInfo(Path(dir, name), info)) << name;
    }
    TGzFileInfo info;
    EXPECT_THROW(ReadGzFileInfo(Path(dir, "missing"), info), EExtFileStreamError);
}

TEST(GzipThread, SourceAndDestinationErrors)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s"), gz = Path(dir, "s.gz");
    WriteFileRaw(src, "x");
    ASSERT_EQ(GzipFile(src, gz), 0);
    EXPECT_EQ(GzipFile(Path(dir, "missing"), Path(dir, "m.gz")), 0x210E);
    EXPECT_EQ(GunzipFile(Path(dir, "missing.gz"), Path(dir, "m")), 0x310E);
    EXPECT_EQ(GunzipFile(gz, QString()), 0x3101);
    // Without Overwrite an existing destination stays.
    WriteFileRaw(Path(dir, "exists"), "keep");
    EXPECT_EQ(GunzipFile(gz, Path(dir, "exists")), 0x3101);
    EXPECT_EQ(ReadFileRaw(Path(dir, "exists")), QByteArray("keep"));
    EXPECT_EQ(GunzipFile(gz, Path(dir, "exists"), nullptr, true), 0);
    EXPECT_EQ(ReadFileRaw(Path(dir, "exists")), QByteArray("x"));
}

} // namespace
} // namespace vl
