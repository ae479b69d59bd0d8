// Zip records, extra fields, entry names, DOS times and the archive file
// functions.
#include "engine/ZipFormat.h"

#include "common/TestUtils.h"
#include "core/FileStream.h"
#include "engine/Encryption.h"
#include "engine/GzipTestHelpers.h"
#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <random>

namespace vl {
namespace {

using namespace test;

QString Path(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QString::fromUtf8(name);
}

TEST(ZipNames, EncodingTable)
{
    const struct {
        const char *What;
        QString Name;
        QByteArray Bytes;
        bool Utf8;
    } cases[] = {
        {"ASCII path", QStringLiteral("dir/sub/file.txt"), QByteArray("dir\\sub\\file.txt"), false},
        {"directory", QStringLiteral("dir/"), QByteArray("dir\\"), false},
        {"CP437: e acute", QString::fromUtf8("caf\xC3\xA9"), QByteArray("caf\x82"), false},
        {"CP437: section and pilcrow", QString::fromUtf8("\xC2\xA7\xC2\xB6"), QByteArray("\x15\x14"), false},
        {"a acute has no CP437 entry", QString::fromUtf8("\xC3\xA1"), QByteArray("\xC3\xA1"), true},
        {"euro sign", QString::fromUtf8("\xE2\x82\xAC.txt"), QByteArray("\xE2\x82\xAC.txt"), true},
        {"control 0x14 clashes with the pilcrow", QString(QChar(0x14)), QByteArray("\x14"), true},
        {"raw byte 0xE9", DecodeFileName(QByteArray("x\xE9")), QByteArray("x\xE9"), false},
        // 0x82 alone would read back as CP437 e acute: the UTF-8 flag keeps it raw.
        {"raw byte 0x82", DecodeFileName(QByteArray("x\x82")), QByteArray("x\x82"), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        QByteArray bytes;
        bool utf8 = !c.Utf8;
        QString error;
        ASSERT_TRUE(EncodeZipName(c.Name, bytes, utf8, error)) << error.toStdString();
        EXPECT_EQ(bytes.toHex(), c.Bytes.toHex());
        EXPECT_EQ(utf8, c.Utf8);
        QString back = c.Name;
        back.replace(QLatin1Char('/'), QLatin1Char('\\'));
        EXPECT_EQ(DecodeZipName(bytes, utf8), back);
        EXPECT_EQ(EncodeFileName(ZipNameToPath(DecodeZipName(bytes, utf8))), EncodeFileName(c.Name));
    }
    QByteArray bytes;
    bool utf8;
    QString error;
    EXPECT_FALSE(EncodeZipName(QStringLiteral("dir/a\\b"), bytes, utf8, error));
    EXPECT_TRUE(error.contains(QStringLiteral("a\\b")));
    // Names beyond the 16-bit length fields (with room for the extras of an
    // encrypted name) are refused, not cut.
    EXPECT_TRUE(EncodeZipName(QString(kZipMaxNameBytes, QLatin1Char('n')), bytes, utf8, error));
    EXPECT_EQ(bytes.size(), kZipMaxNameBytes);
    EXPECT_FALSE(EncodeZipName(QString(0x10000, QLatin1Char('n')), bytes, utf8, error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(EncodeZipName(QString(kZipMaxNameBytes / 2 + 1, QChar(0xE1)), bytes, utf8, error)) << "UTF-8 bytes count";
    // Names of other programs: "/" reads as "\", CP437 box characters
    // (no ANSI equivalent) keep their bytes.
    EXPECT_EQ(DecodeZipName(QByteArray("a/b"), false), QStringLiteral("a\\b"));
    EXPECT_EQ(EncodeFileName(DecodeZipName(QByteArray("\xB0"), false)), QByteArray("\xB0"));
}

TEST(ZipNames, CodePageTables)
{
    EXPECT_TRUE(NameFitsOem(QString::fromUtf8("\xC3\xA9")));
    EXPECT_FALSE(NameFitsOem(QString::fromUtf8("\xC3\xA1")));
    EXPECT_FALSE(NameFitsOem(QString::fromUtf8("\xE2\x82\xAC")));
    EXPECT_FALSE(NameFitsOem(QString(QChar(0x80))));
    EXPECT_EQ(AnsiToOemName(QByteArray("\xE9\xC4\xA7")), QByteArray("\x82\x8E\x15"));
    EXPECT_EQ(OemToAnsiName(QByteArray("\x82\x8E\x15\x14\xB0")), QByteArray("\xE9\xC4\xA7\xB6\xD7"));
    // Every character that fits comes back through both tables.
    for (int c = 0x80; c < 0x100; ++c) {
        const QString s{QChar(char16_t(c))};
        if (NameFitsOem(s)) {
            const QByteArray oem = AnsiToOemName(s.toLatin1());
            EXPECT_TRUE(IsOemNameByte(uint8_t(oem[0]))) << c;
            EXPECT_EQ(OemToAnsiName(oem), s.toLatin1()) << c;
        }
    }
    EXPECT_TRUE(IsLatin1Text(QString::fromUtf8("\xC3\xBF")));
    EXPECT_FALSE(IsLatin1Text(QString::fromUtf8("\xC4\x80")));
}

TEST(ZipTimes, DosTimeConversions)
{
    TScopedEnv tz({{"TZ", "UTC"}});
    tzset();
    TFileTime ft;
    UnixSecondsToFileTime(1623760496, ft); // 2021-06-15 12:34:56
    const uint32_t dos = (41u << 25) | (6u << 21) | (15u << 16) | (12u << 11) | (34u << 5) | 28u;
    EXPECT_EQ(FileTimeToZipTime(ft), dos);
    EXPECT_EQ(ZipTimeToUnixSeconds(dos), 1623760496u);
    TFileTime back = 0;
    ASSERT_TRUE(ZipTimeToFileTime(dos, back));
    EXPECT_EQ(back, ft);
    // Before 1980: the first DOS day.
    UnixSecondsToFileTime(100, ft);
    EXPECT_EQ(FileTimeToZipTime(ft), 0x00210000u);
    // Month 13 is no date.
    EXPECT_FALSE(ZipTimeToFileTime((41u << 25) | (13u << 21) | (1u << 16), back));
    EXPECT_NE(NowZipTime(), 0u);
}

TEST(ZipRecords, EncodeDecodeAndExtras)
{
    TZipCentralHeader c;
    c.VersionMadeBy = c.VersionNeeded = 51;
    c.Flags = 0x0881;
    c.Method = 99;
    c.Time = 0x12345678;
    c.Crc = 0xCAFEBABE;
    c.CSize = 7;
    c.USize = 9;
    c.NameLength = 3;
    c.ExtraLength = 11;
    c.DiskStart = 2;
    c.ExternalAttr = MakeZipExternalAttr(0x21, 0640, false);
    c.LocalOffset = 0x01020304;
    const QByteArray b = EncodeZipCentralHeader(c);
    ASSERT_EQ(b.size(), kZipCentralHeaderSize);
    EXPECT_EQ(b.left(4), QByteArray("PK\x01\x02"));
    EXPECT_EQ(b.mid(38, 4).toHex(), QByteArray("2100a081")); // attributes, then S_IFREG | 0640
    TZipCentralHeader d;
    ASSERT_TRUE(DecodeZipCentralHeader(b, d));
    EXPECT_EQ(EncodeZipCentralHeader(d), b);
    EXPECT_FALSE(DecodeZipCentralHeader(b.left(45), d));

    uint32_t mode = 0;
    EXPECT_TRUE(ZipExternalMode(c.ExternalAttr, mode));
    EXPECT_EQ(mode, 0640u);
    EXPECT_FALSE(ZipExternalMode(0x20, mode)); // another program's entry: no mode kept
    EXPECT_TRUE(ZipExternalMode(MakeZipExternalAttr(0x10, 0, true), mode));
    EXPECT_EQ(mode, 0u);

    // Directories by attribute or trailing separator; an empty file is none.
    EXPECT_TRUE(IsZipDirectoryEntry(0x10, QStringLiteral("d")));
    EXPECT_TRUE(IsZipDirectoryEntry(0x20, QStringLiteral("d\\")));
    EXPECT_TRUE(IsZipDirectoryEntry(0, QByteArray("d/")));
    EXPECT_FALSE(IsZipDirectoryEntry(0x20, QStringLiteral("empty.txt")));

    const QByteArray aes = EncodeAesExtra(MakeAesExtraFor(19, 3));
    EXPECT_EQ(aes.toHex(), QByteArray("0199070002004145030800"));
    EXPECT_EQ(EncodeAesExtra(MakeAesExtraFor(0, 1)).toHex(), QByteArray("0199070002004145010000"));
    EXPECT_EQ(EncodeAesExtra(MakeAesExtraFor(20, 2)).toHex(), QByteArray("0199070001004145020800"));
    TPKExtraEncField f;
    EXPECT_TRUE(DecodeAesExtraData(aes.mid(4), f));
    EXPECT_EQ(f.Mode, 3);
    EXPECT_FALSE(DecodeAesExtraData(aes.mid(4, 6), f));

    // Only values of 2^32 and more go to the central zip64 extra, in order.
    EXPECT_TRUE(MakeZip64CentralExtra(1, 2, 3).isEmpty());
    const QByteArray z = MakeZip64CentralExtra(kZip32Limit, 5, kZip32Limit + 1);
    EXPECT_EQ(z.size(), 20);
    uint64_t u, cs, off;
    EXPECT_TRUE(ApplyZip64ExtraData(z.mid(4), kZipMax32, 5, kZipMax32, u, cs, off));
    EXPECT_EQ(u, kZip32Limit);
    EXPECT_EQ(cs, 5u);
    EXPECT_EQ(off, kZip32Limit + 1);
    EXPECT_FALSE(ApplyZip64ExtraData(z.mid(4, 8), kZipMax32, 5, kZipMax32, u, cs, off));
    EXPECT_EQ(MakeZip64LocalExtra(1, 2).size(), kZip64LocalExtraSize);

    // Extra areas: a field that overruns is refused, the ones before it kept.
    const QByteArray area = aes + MakeZipExtraField(0x9909, QByteArray("xyz"));
    std::vector<TZipExtraField> fields;
    EXPECT_TRUE(ParseZipExtraFields(area, fields));
    ASSERT_EQ(fields.size(), 2u);
    QByteArray data;
    EXPECT_TRUE(FindZipExtraField(area, kZipExtraEncName, data));
    EXPECT_EQ(data, QByteArray("xyz"));
    EXPECT_FALSE(ParseZipExtraFields(area.left(area.size() - 1), fields));
    EXPECT_EQ(fields.size(), 1u);
}

TEST(ZipRecords, DirectoryInfoFromEndRecords)
{
    // A zip64 tail: zip64 end record, locator, end record.
    TZip64EndRecord e64;
    e64.DiskNumber = 3;
    e64.CentralDisk = 2;
    e64.DiskEntries = 7;
    e64.TotalEntries = 70000;
    e64.CentralSize = 1234;
    e64.CentralOffset = 5000000000ULL;
    TZip64Locator loc;
    loc.EndDisk = 3;
    loc.EndOffset = 10;
    loc.TotalDisks = 4;
    TZipEndRecord end;
    end.DiskNumber = end.CentralDisk = 0xFFFF;
    end.DiskEntries = end.TotalEntries = 0xFFFF;
    end.CentralSize = 1234;
    end.CentralOffset = kZipMax32;
    const QByteArray bytes = QByteArray(10, 'x') + EncodeZip64EndRecord(e64) + EncodeZip64Locator(loc)
                             + EncodeZipEndRecord(end);
    TMemoryStream s(bytes);
    TZipDirectoryInfo info;
    ASSERT_TRUE(ReadZipDirectoryInfo(s, info));
    EXPECT_TRUE(info.Zip64);
    EXPECT_EQ(info.TotalEntries, 70000u);
    EXPECT_EQ(info.CentralOffset, 5000000000ULL);
    EXPECT_EQ(info.CentralDisk, 2u);
    TMemoryStream s2(bytes);
    EXPECT_EQ(ReadZipEntryCount(s2), 70000);
    EXPECT_EQ(s2.Position(), 0);

    // Every cut and a random mess: no directory, no crash.
    std::mt19937 rng(5);
    for (int cut = 0; cut < bytes.size(); ++cut) {
        QByteArray b = bytes.mid(cut);
        if (cut > 0 && cut < 10)
            continue; // still a whole tail
        if (cut >= 10) {
            TMemoryStream m(b);
            EXPECT_FALSE(ReadZipDirectoryInfo(m, info) && info.Zip64) << cut;
        }
    }
    for (int i = 0; i < 2000; ++i) {
        QByteArray b = bytes;
        b[rng() % b.size()] = char(rng());
        TMemoryStream m(b);
        ReadZipDirectoryInfo(m, info);
        TMemoryStream m2(b);
        EXPECT_GE(ReadZipEntryCount(m2), -1);
    }
}

TEST(ZipNames, EncryptedNames)
{
    EXPECT_EQ(ZipEncNamePlaceholder(5), QByteArray("00000005"));
    EXPECT_EQ(ZipEncNamePlaceholder(10), QByteArray("0000000A"));
    const QByteArray plain = MakeEncNamePlain(QByteArray("abc"));
    ASSERT_EQ(plain.size(), 2 + 31);
    for (int i = 5; i < plain.size(); ++i)
        EXPECT_TRUE(plain[i] >= 33 && plain[i] <= 96);
    for (int mode = 1; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        TEncryption enc(QByteArray("pw"), mode, 4096);
        for (const QByteArray &name : {QByteArray("a"), QByteArray(40, 'n')}) {
            QByteArray cipher, back;
            ASSERT_TRUE(EncryptZipEntryName(enc, name, cipher));
            EXPECT_EQ(cipher.size(), ZipEncNameDataSize(mode, name.size()));
            ASSERT_TRUE(DecryptZipEntryName(enc, cipher, back));
            EXPECT_EQ(back, name);
            TEncryption wrong(QByteArray("other"), mode, 4096);
            EXPECT_FALSE(DecryptZipEntryName(wrong, cipher, back));
            cipher[cipher.size() - 11] ^= 1;
            EXPECT_FALSE(DecryptZipEntryName(enc, cipher, back));
        }
    }
}

TEST(ArchiveFiles, NamesAndSplitArchives)
{
    EXPECT_TRUE(IsZipFile(QStringLiteral("A.ZIP")));
    EXPECT_FALSE(IsGzFile(QStringLiteral("a.gze")));
    EXPECT_TRUE(IsGzeFile(QStringLiteral("a.GZE")));
    EXPECT_TRUE(IsEncFile(QStringLiteral("x/a.enc")));
    EXPECT_FALSE(IsZipFile(QStringLiteral("zip")));
    EXPECT_EQ(ZipSegmentName(QStringLiteral("/b/a.zip"), 0), QStringLiteral("/b/a.z01"));
    EXPECT_EQ(ZipSegmentName(QStringLiteral("/b/a.zip"), 99), QStringLiteral("/b/a.z100"));

    // A split archive of two segments: only its end record matters here.
    const QString dir = MakeTempDir();
    const QString zip = Path(dir, "a.zip");
    TZipEndRecord end;
    end.DiskNumber = 2;
    WriteFileRaw(ZipSegmentName(zip, 0), QByteArray(100, 's'));
    WriteFileRaw(ZipSegmentName(zip, 1), QByteArray(50, 's'));
    WriteFileRaw(zip, QByteArray(8, 'z') + EncodeZipEndRecord(end));
    EXPECT_EQ(GetZipSegmentCount(zip), 2);
    EXPECT_EQ(GetZipArchiveSize(zip), 180);
    EXPECT_EQ(GetZipArchiveSize(Path(dir, "none.zip")), 0);
    EXPECT_EQ(CopyZipArchive(zip, Path(dir, "c.zip")), 0u);
    EXPECT_EQ(GetZipArchiveSize(Path(dir, "c.zip")), 180);
    EXPECT_EQ(CopyZipArchive(Path(dir, "none.zip"), Path(dir, "d.zip")), 2u);
    EXPECT_EQ(RenameZipArchive(Path(dir, "c.zip"), Path(dir, "r.zip"), 0), 0u);
    EXPECT_FALSE(FileExists(Path(dir, "c.z01")));
    EXPECT_EQ(GetZipArchiveSize(Path(dir, "r.zip")), 180);
    EXPECT_EQ(RenameZipArchive(Path(dir, "c.zip"), Path(dir, "x.zip"), 0), 2u);
    EXPECT_EQ(DeleteZipArchive(Path(dir, "r.zip")), 0u);
    EXPECT_EQ(DeleteZipArchive(zip), 0u);
    EXPECT_TRUE(DirNames(dir).isEmpty());

    // Zip64 end records: the locator's disk count.
    TZip64Locator loc;
    loc.TotalDisks = 5;
    TZipEndRecord end64;
    end64.CentralOffset = kZipMax32;
    WriteFileRaw(zip, EncodeZip64Locator(loc) + EncodeZipEndRecord(end64));
    EXPECT_EQ(GetZipSegmentCount(zip), 4);
    WriteFileRaw(zip, QByteArray("no zip at all, long enough for an end record"));
    EXPECT_EQ(GetZipSegmentCount(zip), 0);
}

TEST(ArchiveFiles, ReadZipFileInfoOfForeignAndEmptyZips)
{
    const QString dir = MakeTempDir();
    TGzFileInfo info;
    EXPECT_EQ(ReadZipFileInfo(Path(dir, "missing.zip"), info), 2);
    // An empty zip: end record only.
    WriteFileRaw(Path(dir, "empty.zip"), EncodeZipEndRecord(TZipEndRecord()));
    EXPECT_EQ(ReadZipFileInfo(Path(dir, "empty.zip"), info), 2);
    // One stored entry without flag bit 7.
    TZipLocalHeader h;
    h.NameLength = 1;
    h.CSize = h.USize = 2;
    h.Crc = 0x12345678;
    h.Time = (41u << 25) | (1u << 21) | (1u << 16);
    const QByteArray local = EncodeZipLocalHeader(h) + "f" + "ab";
    TZipCentralHeader c;
    c.NameLength = 1;
    c.CSize = c.USize = 2;
    const QByteArray central = EncodeZipCentralHeader(c) + "f";
    TZipEndRecord e;
    e.DiskEntries = e.TotalEntries = 1;
    e.CentralSize = uint32_t(central.size());
    e.CentralOffset = uint32_t(local.size());
    WriteFileRaw(Path(dir, "one.zip"), local + central + EncodeZipEndRecord(e));
    EXPECT_EQ(ReadZipFileInfo(Path(dir, "one.zip"), info), 1);
    EXPECT_EQ(info.Filename, QStringLiteral("f"));
    EXPECT_EQ(info.USize, 2);
    EXPECT_FALSE(info.Encrypted);
    EXPECT_FALSE(IsSingleFileZip(Path(dir, "one")));
    int32_t keyMode = 5;
    EXPECT_FALSE(IsZipEncrypted(Path(dir, "one.zip"), keyMode));
    EXPECT_EQ(keyMode, 0);
    // A split archive's first local header lies after the spanning signature.
    QByteArray spanned = QByteArray("PK\x07\x08") + local;
    h.Flags = kZipFlagEncrypted;
    h.Method = kZipMethodAes;
    h.ExtraLength = kZipAesExtraSize;
    WriteFileRaw(Path(dir, "s.zip"), QByteArray("PK\x07\x08") + EncodeZipLocalHeader(h) + "f"
                                         + EncodeAesExtra(MakeAesExtraFor(30, 2)));
    EXPECT_TRUE(IsZipEncrypted(Path(dir, "s.zip"), keyMode));
    EXPECT_EQ(keyMode, 2);
}

TEST(ArchiveFiles, LocalHeaderReaderSurvivesDamage)
{
    TZipLocalHeader h;
    h.NameLength = 4;
    h.CSize = h.USize = kZipMax32;
    const QByteArray extra = MakeZip64LocalExtra(5000000000ULL, 4000000000ULL) + EncodeAesExtra(MakeAesExtraFor(9, 1));
    h.ExtraLength = uint16_t(extra.size());
    const QByteArray bytes = EncodeZipLocalHeader(h) + "name" + extra + "data";
    TMemoryStream s(bytes);
    TZipFileInfo info;
    ASSERT_TRUE(ReadZipLocalHeader(s, info));
    EXPECT_EQ(info.USize, 5000000000LL);
    EXPECT_EQ(info.CSize, 4000000000LL);
    EXPECT_EQ(info.KeyMode, 1);
    EXPECT_EQ(s.Position(), bytes.size() - 4);
    for (int cut = 0; cut < bytes.size() - 4; ++cut) {
        TMemoryStream m(bytes.left(cut));
        EXPECT_FALSE(ReadZipLocalHeader(m, info)) << cut;
    }
    std::mt19937 rng(9);
    for (int i = 0; i < 5000; ++i) {
        QByteArray b = bytes;
        for (int k = 0; k < 3; ++k)
            b[rng() % b.size()] = char(rng());
        TMemoryStream m(b);
        if (ReadZipLocalHeader(m, info)) {
            EXPECT_GE(info.CSize, 0);
            EXPECT_GE(info.USize, 0);
        }
    }
}

} // namespace
} // namespace vl
