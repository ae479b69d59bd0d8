// The single-file zip of the per-file copy: its bytes, other tools reading
// it, restore, comparison and damaged input.
#include "engine/ZipFormat.h"

#include "common/TestUtils.h"
#include "engine/Encryption.h"
#include "engine/GzipTestHelpers.h"
#include "engine/WinCopyThread.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <functional>
#include <random>

namespace vl {
namespace {

using namespace test;

QString Path(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QString::fromUtf8(name);
}

uint16_t U16(const QByteArray &b, int pos)
{
    return uint16_t(uint8_t(b[pos]) | uint8_t(b[pos + 1]) << 8);
}

uint32_t U32(const QByteArray &b, int pos)
{
    return uint32_t(U16(b, pos)) | uint32_t(U16(b, pos + 2)) << 16;
}

int32_t ZipCopy(const QString &source, const QString &dest, TEncryption *enc, bool compress, bool verify = true)
{
    TCopyOptions options = CopyOptionBit(TCopyOption::coZipCompress) | CopyOptionBit(TCopyOption::coOverwrite)
                           | CopyOptionBit(TCopyOption::coTimeStamp);
    if (compress)
        options |= CopyOptionBit(TCopyOption::coCompress);
    if (verify)
        options |= CopyOptionBit(TCopyOption::coVerify);
    auto t = std::make_shared<TWinCopyThread>(source, dest, enc, options, kSmallBuffer);
    const int32_t code = RunThread(t);
    EXPECT_TRUE(t->SysErrorMsg().isEmpty() || code != 0) << t->SysErrorMsg().toStdString();
    return code;
}

// ExtractZipEntry on bytes in memory; codes without the operation bits.
class TExtractThread : public TCopyThread {
public:
    TExtractThread(const QByteArray &AZip, TEncryption *AEncryption)
        : TCopyThread(QString(), QString(), kSmallBuffer), FZip(AZip)
    {
        if (AEncryption)
            AttachEncryption(AEncryption);
        FErrFlag = eoNone;
    }
    QByteArray Data;
    uint32_t Time = 0;

protected:
    void Execute() override
    {
        TMemoryStream source(FZip), dest;
        const int32_t code = ExtractZipEntry(source, dest, Time);
        Data = dest.Data();
        Finish(code);
    }

private:
    QByteArray FZip;
};

int32_t Extract(const QByteArray &zip, TEncryption *enc, QByteArray *data = nullptr)
{
    auto t = std::make_shared<TExtractThread>(zip, enc);
    const int32_t code = RunThread(t);
    if (data)
        *data = t->Data;
    return code;
}

bool ToolPasses(const QString &command)
{
    return std::system(EncodeFileName(command).constData()) == 0;
}

bool HasTool(const char *name)
{
    return std::system((QByteArray("command -v ") + name + " >/dev/null 2>&1").constData()) == 0;
}

TEST(SingleFileZip, ByteLayout)
{
    const QString dir = MakeTempDir();
    const QByteArray small = PatternData(25);
    const struct {
        const char *What;
        QByteArray Data;
        bool Compress;
        int KeyMode; // 0: not encrypted
        uint16_t Version, Flags, Method;
        uint16_t AesVersion, AesMethod;
    } cases[] = {
        {"empty, stored", QByteArray(), false, 0, 20, 0x0080, 0, 0, 0},
        {"empty, compress asked", QByteArray(), true, 0, 20, 0x0080, 0, 0, 0},
        {"small, stored", small, false, 0, 20, 0x0080, 0, 0, 0},
        {"small, deflated", small, true, 0, 20, 0x0082, 8, 0, 0},
        {"empty, AES-128", QByteArray(), false, 1, 51, 0x0081, 99, 2, 0},
        {"10 bytes, AES-256 (AE-2)", small.left(10), false, 3, 51, 0x0081, 99, 2, 8},
        {"19 bytes, AES-192 (AE-2)", small.left(19), true, 2, 51, 0x0081, 99, 2, 8},
        {"20 bytes, AES-192 (AE-1)", small.left(20), true, 2, 51, 0x0081, 99, 1, 8},
        {"25 bytes, AES-256 (AE-1)", small, false, 3, 51, 0x0081, 99, 1, 8},
    };
    const QString src = Path(dir, "source.txt");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        WriteFileRaw(src, c.Data, 0640);
        SetMTime(src, 1623760496);
        auto enc = c.KeyMode ? MakeEncryption(c.KeyMode) : nullptr;
        const QString zipName = Path(dir, "z.zip");
        ASSERT_EQ(ZipCopy(src, zipName, enc.get(), c.Compress), 0);
        const QByteArray z = ReadFileRaw(zipName);
        ASSERT_GE(z.size(), 30 + 10 + 46 + 10 + 22);
        const uint32_t crc = c.AesVersion == 2 ? 0 : uint32_t(crc32(0, reinterpret_cast<const Bytef *>(c.Data.constData()), uInt(c.Data.size())));
        const int extraLen = c.KeyMode ? 11 : 0;
        // Local header.
        EXPECT_EQ(U32(z, 0), kZipLocalSignature);
        EXPECT_EQ(U16(z, 4), c.Version);
        EXPECT_EQ(U16(z, 6), c.Flags);
        EXPECT_EQ(U16(z, 8), c.Method);
        EXPECT_EQ(U32(z, 10), FileTimeToZipTime(uint64_t(1623760496) * 10000000ULL + kFileTimeUnixEpoch));
        EXPECT_EQ(U32(z, 14), crc);
        const uint32_t csize = U32(z, 18);
        EXPECT_EQ(U32(z, 22), uint32_t(c.Data.size()));
        EXPECT_EQ(U16(z, 26), 10);
        EXPECT_EQ(U16(z, 28), extraLen);
        EXPECT_EQ(z.mid(30, 10), QByteArray("source.txt"));
        if (c.KeyMode) {
            EXPECT_EQ(z.mid(40, 11), EncodeAesExtra(MakeAesExtraFor(c.Data.size(), c.KeyMode)));
            EXPECT_EQ(U16(z, 44), c.AesVersion);
            EXPECT_EQ(U16(z, 49), c.AesMethod);
            if (c.Data.isEmpty()) {
                EXPECT_EQ(csize, uint32_t(SaltLength(c.KeyMode) + 12));
            }
        } else if (c.Method == 0) {
            EXPECT_EQ(z.mid(40, c.Data.size()), c.Data);
            EXPECT_EQ(csize, uint32_t(c.Data.size()));
        }
        // Central directory record.
        const int cd = 30 + 10 + extraLen + int(csize);
        EXPECT_EQ(U32(z, cd), kZipCentralSignature);
        EXPECT_EQ(z.mid(cd + 4, 2), z.mid(4, 2)); // made by = needed, high byte 0
        EXPECT_EQ(z.mid(cd + 6, 24), z.mid(4, 24)); // needed .. name length as in the local header
        EXPECT_EQ(U16(z, cd + 30), extraLen);
        EXPECT_EQ(U16(z, cd + 32), 0);
        EXPECT_EQ(U16(z, cd + 34), 0);
        EXPECT_EQ(U16(z, cd + 36), 0);
        uint32_t mode = 0;
        EXPECT_TRUE(ZipExternalMode(U32(z, cd + 38), mode));
        EXPECT_EQ(mode, 0640u);
        EXPECT_EQ(U32(z, cd + 42), 0u);
        EXPECT_EQ(z.mid(cd + 46, 10 + extraLen), z.mid(30, 10 + extraLen));
        // End record.
        const int end = cd + 46 + 10 + extraLen;
        ASSERT_EQ(z.size(), end + 22);
        EXPECT_EQ(z.mid(end).toHex(),
                  EncodeZipEndRecord({0, 0, 1, 1, uint32_t(46 + 10 + extraLen), uint32_t(cd), 0}).toHex());
        TGzFileInfo info;
        EXPECT_EQ(ReadZipFileInfo(zipName, info), 0);
        EXPECT_EQ(info.Filename, QStringLiteral("source.txt"));
        EXPECT_EQ(info.USize, c.Data.size());
        EXPECT_EQ(info.Encrypted, c.KeyMode != 0);
        EXPECT_EQ(info.EncMode, c.KeyMode);
        EXPECT_EQ(info.UnixTime, 1623760496u);
        EXPECT_TRUE(IsSingleFileZip(Path(dir, "z")));
        // Other tools accept it.
        if (!c.KeyMode && HasTool("unzip")) {
            EXPECT_TRUE(ToolPasses(QStringLiteral("unzip -tq '%1' >/dev/null").arg(zipName)));
        }
        if (c.KeyMode && HasTool("7z")) {
            EXPECT_TRUE(ToolPasses(QStringLiteral("7z t -p's3cret pass' '%1' >/dev/null").arg(zipName)));
        }
        // And gives the data back.
        QByteArray back;
        EXPECT_EQ(Extract(z, enc.get(), &back), 0);
        EXPECT_EQ(back, c.Data);
    }
}

TEST(SingleFileZip, NamesAndRefusedNames)
{
    const QString dir = MakeTempDir();
    const struct {
        const char *What;
        QByteArray FileName; // bytes on disk
        QByteArray Stored;
        uint16_t Flags;
    } cases[] = {
        {"euro sign: UTF-8", QByteArray("\xE2\x82\xAC.txt"), QByteArray("\xE2\x82\xAC.txt"), 0x0882},
        {"e acute: CP437", QByteArray("caf\xC3\xA9"), QByteArray("caf\x82"), 0x0082},
        {"raw byte 0xE9", QByteArray("x\xE9"), QByteArray("x\xE9"), 0x0082},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QString src = dir + QLatin1Char('/') + DecodeFileName(c.FileName);
        WriteFileRaw(src, "data");
        const QString zip = Path(dir, "n.zip");
        ASSERT_EQ(ZipCopy(src, zip, nullptr, true), 0);
        const QByteArray z = ReadFileRaw(zip);
        EXPECT_EQ(U16(z, 6), c.Flags);
        EXPECT_EQ(z.mid(30, U16(z, 26)).toHex(), c.Stored.toHex());
        TGzFileInfo info;
        ASSERT_EQ(ReadZipFileInfo(zip, info), 0);
        EXPECT_EQ(EncodeFileName(info.Filename), c.FileName);
    }
    // A "\" in a file name would read back as a folder: refused, nothing written.
    const QString src = Path(dir, "a\\b");
    WriteFileRaw(src, "data");
    TCopyOptions options = CopyOptionBit(TCopyOption::coZipCompress);
    auto t = std::make_shared<TWinCopyThread>(src, Path(dir, "refused.zip"), nullptr, options, kSmallBuffer);
    EXPECT_EQ(RunThread(t), 0x4122);
    EXPECT_TRUE(t->SysErrorMsg().contains(QStringLiteral("a\\b")));
    EXPECT_FALSE(FileExists(Path(dir, "refused.zip")));
}

TEST(SingleFileZip, RestoreKeepsDataModeAndTime)
{
    const QString dir = MakeTempDir();
    const QByteArray data = PatternData(5 * kSmallBuffer + 3);
    const QString src = Path(dir, "src");
    WriteFileRaw(src, data, 0600);
    SetMTime(src, 1623760496);
    auto key = MakeEncryption(3);
    auto wrong = MakeEncryption(3, "wrong");
    ASSERT_EQ(ZipCopy(src, Path(dir, "p.zip"), nullptr, true), 0);
    ASSERT_EQ(ZipCopy(src, Path(dir, "e.zip"), key.get(), false), 0);
    EXPECT_EQ(FileMode(Path(dir, "p.zip")), 0600u);
    const struct {
        const char *What;
        const char *Zip;
        TEncryption *Enc;
        int32_t Code;
    } cases[] = {
        {"plain", "p.zip", nullptr, 0},
        {"plain with a password", "p.zip", key.get(), 0},
        {"encrypted", "e.zip", key.get(), 0},
        {"encrypted without password", "e.zip", nullptr, 0x310B},
        {"encrypted, wrong password", "e.zip", wrong.get(), 0x310B},
        {"missing", "none.zip", nullptr, 0x310E},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QString out = Path(dir, "out");
        auto t = std::make_shared<TUnZipThread>(Path(dir, c.Zip), out, c.Enc, kSmallBuffer);
        EXPECT_EQ(RunThread(t), c.Code) << t->SysErrorMsg().toStdString();
        if (c.Code == 0) {
            EXPECT_EQ(ReadFileRaw(out), data);
            EXPECT_EQ(FileMode(out), 0600u);
            EXPECT_EQ(FileMTime(out), 1623760496);
            ASSERT_EQ(RemoveFile(out), 0u);
        } else {
            EXPECT_FALSE(FileExists(out));
        }
    }
}

TEST(SingleFileZip, DamagedInputGivesClearCodes)
{
    const QString dir = MakeTempDir();
    const QByteArray data = PatternData(3000);
    const QString src = Path(dir, "src");
    WriteFileRaw(src, data);
    auto key = MakeEncryption(1);
    ASSERT_EQ(ZipCopy(src, Path(dir, "s.zip"), nullptr, false), 0);
    ASSERT_EQ(ZipCopy(src, Path(dir, "d.zip"), nullptr, true), 0);
    ASSERT_EQ(ZipCopy(src, Path(dir, "e.zip"), key.get(), true), 0);
    const QByteArray stored = ReadFileRaw(Path(dir, "s.zip"));
    const QByteArray deflated = ReadFileRaw(Path(dir, "d.zip"));
    const QByteArray encrypted = ReadFileRaw(Path(dir, "e.zip"));

    // A flipped data byte: the CRC (stored) or the authentication code.
    QByteArray b = stored;
    b[40 + 100] ^= 1;
    EXPECT_EQ(Extract(b, nullptr), 0x104);
    b = encrypted;
    b[30 + 3 + 11 + 20] ^= 1;
    EXPECT_EQ(Extract(b, key.get()), 0x10B);
    EXPECT_EQ(Extract(QByteArray("not a zip"), nullptr), 8);

    // Every cut, and random damage: a code, never a crash or success with
    // other data.
    std::mt19937 rng(3);
    for (const QByteArray *zip : {&stored, &deflated, &encrypted}) {
        TEncryption *enc = zip == &encrypted ? key.get() : nullptr;
        const int dataEnd = int(zip->size()) - 22 - 46 - 3 - (enc ? 11 : 0);
        for (int cut = 0; cut < dataEnd; cut += 1 + cut / 8) {
            QByteArray back;
            const int32_t code = Extract(zip->left(cut), enc, &back);
            EXPECT_NE(code, 0) << cut;
        }
        for (int i = 0; i < 150; ++i) {
            QByteArray damaged = *zip;
            damaged[rng() % dataEnd] = char(rng());
            QByteArray back;
            const int32_t code = Extract(damaged, enc, &back);
            if (code == 0) {
                EXPECT_EQ(back, data); // a byte that changed nothing that matters (time, version)
            }
        }
    }
    for (int i = 0; i < 200; ++i) {
        QByteArray random(int(rng() % 200), '\0');
        for (auto &ch : random)
            ch = char(rng());
        if (i % 2)
            random.replace(0, std::min<qsizetype>(4, random.size()), QByteArray("PK\x03\x04"));
        EXPECT_NE(Extract(random, key.get()), 0);
    }
}

// A header that claims a small size for data that unpacks to megabytes: the
// extraction fails, and no more than the claimed size ever reaches the
// destination (a restore must not fill the disk first).
TEST(SingleFileZip, UnpackedDataStopsAtTheClaimedSize)
{
    const QByteArray big(4 << 20, 'z');
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray packed(int(deflateBound(&z, uLong(big.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(big.constData()));
    z.avail_in = uInt(big.size());
    z.next_out = reinterpret_cast<Bytef *>(packed.data());
    z.avail_out = uInt(packed.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(int(z.total_out));
    deflateEnd(&z);

    const uint32_t claimed = 100;
    TZipLocalHeader l;
    l.Flags = kZipFlagSingleFile | kZipFlagDeflated;
    l.Method = kZipMethodDeflate;
    l.Crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(big.constData()), uInt(claimed)));
    l.CSize = uint32_t(packed.size());
    l.USize = claimed;
    l.NameLength = 1;
    const QByteArray zip = EncodeZipLocalHeader(l) + "b" + packed;
    QByteArray back;
    EXPECT_NE(Extract(zip, nullptr, &back), 0);
    EXPECT_LE(back.size(), qsizetype(claimed));
}

// The zip writer with its verification, and a hook between the two.
class TVerifyZipThread : public TGZipThread {
public:
    using TGZipThread::TGZipThread;
    std::function<void()> BeforeVerify;

protected:
    void Execute() override
    {
        Finish(RunThreadBody(*this, FSysErrMsg, [this] {
            int32_t result = OpenStreams();
            if (result == 0)
                result = ZipFile(true);
            if (result == 0)
                result = FinishDestFromSource(false, false, false);
            else
                ReleaseStreams();
            if (result == 0) {
                BeforeVerify();
                result = VerifyZipFile();
            }
            return result;
        }));
    }
};

TEST(SingleFileZip, VerificationCatchesDamage)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "src"), zip = Path(dir, "v.zip");
    WriteFileRaw(src, PatternData(10000));
    auto key = MakeEncryption(2);
    const struct {
        const char *What;
        bool Encrypted;
        std::function<void(QByteArray &)> Damage;
        int32_t Code;
    } cases[] = {
        {"intact", false, [](QByteArray &) {}, 0},
        {"intact, encrypted", true, [](QByteArray &) {}, 0},
        {"data byte", false, [](QByteArray &b) { b[60] = char(b[60] ^ 1); }, 0x210C},
        {"data byte, encrypted", true, [](QByteArray &b) { b[80] = char(b[80] ^ 1); }, 0x210C},
        {"size field", false, [](QByteArray &b) { b[18] = char(b[18] ^ 1); }, 0x210C},
        {"end record cut off", false, [](QByteArray &b) { b.chop(22); }, 0x2008},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        auto t = std::make_shared<TVerifyZipThread>(src, zip, c.Encrypted ? key.get() : nullptr, kSmallBuffer);
        t->Overwrite = true;
        t->BeforeVerify = [&] {
            QByteArray b = ReadFileRaw(zip);
            c.Damage(b);
            WriteFileRaw(zip, b);
        };
        EXPECT_EQ(RunThread(t), c.Code) << t->SysErrorMsg().toStdString();
    }
}

} // namespace
} // namespace vl
