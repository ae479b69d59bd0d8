#include "engine/EncryptedFile.h"

#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "core/FileStream.h"
#include "core/XlFileUtils.h"
#include "engine/GzipTestHelpers.h"
#include "engine/WinCopyThread.h"

#include <gtest/gtest.h>

#include <random>

namespace vl {
namespace {

using namespace test;

constexpr uint32_t kTime = 1700000000;

QString Path(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QString::fromUtf8(name);
}

uint32_t Le32(const QByteArray &b, int at)
{
    const auto *p = reinterpret_cast<const uint8_t *>(b.constData() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST(EncryptedFile, LayoutAndRoundTripAtEveryKeyMode)
{
    const QString dir = MakeTempDir();
    const int64_t sizes[] = {0, 1000, 3 * kSmallBuffer + 17};
    const uint8_t flags[] = {0, 0x4B, 0x53, 0x5B};
    for (int mode = 1; mode <= 3; ++mode) {
        for (int64_t size : sizes) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " size " << size);
            const QString tag = QStringLiteral("%1_%2").arg(mode).arg(size);
            const QString src = dir + QStringLiteral("/src_") + tag, enc = dir + QStringLiteral("/b_") + tag,
                          back = dir + QStringLiteral("/r_") + tag;
            const QByteArray data = PatternData(size, uint32_t(size + mode));
            WriteFileRaw(src, data, 0640);
            SetMTime(src, kTime);
            auto crypt = MakeEncryption(mode);
            ASSERT_EQ(EncryptFile(src, enc, crypt.get(), true), 0);

            const QByteArray b = ReadFileRaw(enc);
            EXPECT_EQ(b.size(), 10 + SaltLength(mode) + 2 + size + 10);
            EXPECT_EQ(b.left(4), QByteArray("QVE") + char(flags[mode]));
            EXPECT_EQ(Le32(b, 4), kTime);
            const uint16_t attr = uint16_t(XlFileGetAttr(src, false));
            EXPECT_EQ(uint8_t(b[8]) | uint8_t(b[9]) << 8, attr);
            EXPECT_EQ(FileMode(enc), 0640u); // the backup keeps the source's mode

            TGzFileInfo info;
            ASSERT_TRUE(ReadEncFileInfo(enc, info));
            EXPECT_EQ(info.UnixTime, kTime);
            EXPECT_EQ(info.Attr, attr);
            EXPECT_EQ(info.USize, size);

            // The restore takes the header's time (not the .enc file's) and
            // the backup file's mode; a fresh object finds the key mode.
            ASSERT_EQ(Chmod(enc, 0600), 0u);
            SetMTime(enc, kTime + 5000);
            auto crypt2 = MakeEncryption(mode == 3 ? 1 : 3);
            auto t = std::make_shared<TDecryptThread>(enc, back, crypt2.get(), kSmallBuffer);
            ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
            EXPECT_EQ(ReadFileRaw(back), data);
            EXPECT_EQ(FileMode(back), 0600u);
            EXPECT_EQ(FileMTime(back), int64_t(kTime));

            EXPECT_EQ(CompareFiles(enc, src, crypt2.get(), false), 0);
        }
    }
    EXPECT_EQ(ReadFileRaw(dir + QStringLiteral("/b_3_0")).size(), 38);
}

TEST(EncryptedFile, HeaderForms)
{
    const QByteArray time = QByteArray::fromHex("00f15365");
    const struct {
        const char *What;
        QByteArray Bytes;
        bool Ok;
        uint8_t KeyMode;
        uint32_t Time;
        uint16_t Attr;
        int64_t Position;
    } cases[] = {
        {"full header", QByteArray("QVE\x5b") + time + QByteArray("\x21\x00", 2) + "frame", true, 3, kTime, 0x21, 10},
        {"short form", QByteArray("QVE\x52") + "frame", true, 2, 0, 0xFFFF, 4},
        {"no magic", QByteArray("frame bytes"), true, 0, 0, 0xFFFF, 0},
        {"reserved flag bit", QByteArray("QVE\xdb") + time + QByteArray("\x21\x00", 2), true, 0, 0, 0xFFFF, 0},
        {"too short", QByteArray("QV"), false, 0, 0, 0xFFFF, -1},
        {"full header cut", QByteArray("QVE\x4b\x01\x02"), false, 1, 0, 0xFFFF, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        TMemoryStream stream(c.Bytes);
        uint8_t keyMode = 99;
        uint32_t t = 99;
        uint16_t attr = 99;
        ASSERT_EQ(ReadEncHeader(stream, keyMode, t, attr), c.Ok);
        if (!c.Ok)
            continue;
        EXPECT_EQ(keyMode, c.KeyMode);
        EXPECT_EQ(t, c.Time);
        EXPECT_EQ(attr, c.Attr);
        EXPECT_EQ(stream.Position(), c.Position);
    }
}

TEST(EncryptedFile, FileInfoOnlyForEncryptedFiles)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s");
    WriteFileRaw(src, "some data");
    ASSERT_EQ(GzipFile(src, Path(dir, "s.gz")), 0);
    WriteFileRaw(Path(dir, "text"), "just text, no header at all");
    WriteFileRaw(Path(dir, "empty"), QByteArray());
    WriteFileRaw(Path(dir, "cut"), QByteArray("QVE\x5b") + QByteArray(20, 'x')); // shorter than the frame
    WriteFileRaw(Path(dir, "short"), QByteArray("QVE\x4a") + QByteArray(10 + 5 + 10, 'x'));
    for (const char *name : {"s.gz", "text", "empty", "cut"}) {
        TGzFileInfo info;
        EXPECT_FALSE(ReadEncFileInfo(Path(dir, name), info)) << name;
    }
    // The short header form: the data size follows from its 4 bytes.
    TGzFileInfo info;
    ASSERT_TRUE(ReadEncFileInfo(Path(dir, "short"), info));
    EXPECT_EQ(info.USize, 5);
    EXPECT_EQ(info.Attr, 0xFFFF);
    EXPECT_THROW(ReadEncFileInfo(Path(dir, "missing"), info), EExtFileStreamError);
}

TEST(EncryptedFile, BareFrameDecryptsWithTheGivenKeyMode)
{
    const QString dir = MakeTempDir();
    const QByteArray data = PatternData(2 * kSmallBuffer + 9);
    auto crypt = MakeEncryption(2);
    TMemoryStream plain(data), frame;
    ASSERT_TRUE(crypt->EncryptStream(plain, frame, false));
    WriteFileRaw(Path(dir, "bare"), frame.Data());
    TGzFileInfo info;
    EXPECT_FALSE(ReadEncFileInfo(Path(dir, "bare"), info));
    auto crypt2 = MakeEncryption(2);
    ASSERT_EQ(DecryptFile(Path(dir, "bare"), Path(dir, "out"), crypt2.get()), 0);
    EXPECT_EQ(ReadFileRaw(Path(dir, "out")), data);
}

TEST(EncryptedFile, FailedRestoreLeavesTheDestination)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s"), enc = Path(dir, "s.enc"), dest = Path(dir, "dest");
    WriteFileRaw(src, PatternData(3 * kSmallBuffer));
    auto crypt = MakeEncryption(1);
    ASSERT_EQ(EncryptFile(src, enc, crypt.get()), 0);
    QByteArray damaged = ReadFileRaw(enc);
    damaged[damaged.size() / 2] ^= 0x04;
    WriteFileRaw(Path(dir, "damaged.enc"), damaged);

    auto wrong = MakeEncryption(1, "not the password");
    const QByteArray old("previous content");
    const struct {
        const char *What;
        QString Backup;
        TEncryption *Enc;
        bool Existing;
    } cases[] = {
        {"wrong password, existing destination", enc, wrong.get(), true},
        {"wrong password, no destination", enc, wrong.get(), false},
        {"damaged data, existing destination", Path(dir, "damaged.enc"), crypt.get(), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        RemoveFile(dest);
        if (c.Existing)
            WriteFileRaw(dest, old, 0600);
        const QStringList before = DirNames(dir);
        EXPECT_EQ(DecryptFile(c.Backup, dest, c.Enc, true), 0x610B);
        EXPECT_EQ(DirNames(dir), before);
        if (c.Existing) {
            EXPECT_EQ(ReadFileRaw(dest), old);
            EXPECT_EQ(FileMode(dest), 0600u);
        }
    }
    // Without an encryption object the thread is a plain copy.
    EXPECT_EQ(DecryptFile(Path(dir, "missing"), dest, nullptr), 0x110E);
    EXPECT_EQ(DecryptFile(Path(dir, "missing"), dest, crypt.get()), 0x610E);
}

TEST(EncryptedFile, RestoreOfDamagedFilesNeverReportsWrongDataAsSuccess)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s"), enc = Path(dir, "s.enc");
    const QByteArray data = PatternData(2 * kSmallBuffer + 100);
    WriteFileRaw(src, data);
    auto crypt = MakeEncryption(3);
    ASSERT_EQ(EncryptFile(src, enc, crypt.get()), 0);
    const QByteArray valid = ReadFileRaw(enc);
    std::mt19937 rng(5);
    for (int i = 0; i < 150; ++i) {
        QByteArray b = valid;
        const bool cut = i < 50;
        if (cut)
            b.truncate(int(rng() % valid.size()));
        else
            b[int(rng() % (i < 80 ? 40 : valid.size()))] ^= char(1 << (rng() % 8)); // header region more often
        const QString file = Path(dir, "case"), dest = Path(dir, "case.out");
        WriteFileRaw(file, b);
        RemoveFile(dest);
        const int32_t r = DecryptFile(file, dest, crypt.get());
        SCOPED_TRACE(testing::Message() << "case " << i << " code " << std::hex << r);
        if (cut) {
            EXPECT_NE(r, 0);
        }
        // A changed attribute field may give a warning: the data is in place.
        if (r == 0 || ErrorClass(r) == ecWarning) {
            EXPECT_EQ(ReadFileRaw(dest), data);
        } else {
            EXPECT_FALSE(FileExists(dest));
            EXPECT_TRUE(r == 0x6104 || r == 0x610B);
        }
    }
}

TEST(EncryptedFile, VerificationDecryptsTheWrittenFile)
{
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s");
    WriteFileRaw(src, PatternData(3 * kSmallBuffer));
    for (bool damage : {false, true}) {
        SCOPED_TRACE(damage);
        const QString enc = Path(dir, damage ? "d.enc" : "ok.enc");
        auto crypt = MakeEncryption(2);
        auto t = std::make_shared<TTestEncryptThread>(src, enc, crypt.get(), true);
        t->OnStep = [&](TFileAction action, int64_t count) {
            if (damage && action == TFileAction::acVerify && count < 0) {
                QByteArray b = ReadFileRaw(enc);
                b[b.size() / 2] ^= 0x01;
                TFile f;
                int64_t done = 0;
                ASSERT_EQ(f.Open(enc, TFile::faWrite), 0u);
                ASSERT_EQ(f.Write(b.constData(), b.size(), done), 0u);
            }
        };
        EXPECT_EQ(RunThread(t), damage ? 0x110C : 0);
    }
}

TEST(EncryptedFile, BackupCopyWritesEachFormAndVerifies)
{
    // The backup copy's options reach the gzip and encrypted forms.
    const QString dir = MakeTempDir();
    const QString src = Path(dir, "s");
    const QByteArray data = PatternData(3 * kSmallBuffer + 1);
    WriteFileRaw(src, data);
    const TCopyOptions verify = CopyOptionBit(TCopyOption::coVerify);
    const TCopyOptions compress = CopyOptionBit(TCopyOption::coCompress);
    for (int mode : {-1, 2}) {
        for (bool gzip : {false, true}) {
            if (mode < 0 && !gzip)
                continue;
            SCOPED_TRACE(testing::Message() << "mode " << mode << " gzip " << gzip);
            const QString backup = Path(dir, "b") + QString::number(mode) + QString::number(gzip);
            const QString back = backup + QStringLiteral(".out");
            auto crypt = mode > 0 ? MakeEncryption(mode) : nullptr;
            auto t = std::make_shared<TWinCopyThread>(src, backup, crypt.get(), TCopyOptions(verify | (gzip ? compress : 0)),
                                                      kSmallBuffer);
            ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
            const int32_t r = gzip ? GunzipFile(backup, back, crypt.get()) : DecryptFile(backup, back, crypt.get());
            ASSERT_EQ(r, 0);
            EXPECT_EQ(ReadFileRaw(back), data);
        }
    }
}

} // namespace
} // namespace vl
