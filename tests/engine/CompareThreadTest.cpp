#include "engine/CompareThread.h"

#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "engine/GzipTestHelpers.h"
#include "engine/WinCopyThread.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace vl {
namespace {

using namespace test;

QString Path(const QString &dir, const char *name)
{
    return dir + QLatin1Char('/') + QString::fromUtf8(name);
}

TEST(CompareThread, CodesForEachBackupForm)
{
    const QString dir = MakeTempDir();
    const QByteArray data = PatternData(3 * kSmallBuffer + 17);
    QByteArray lastDiffers = data;
    lastDiffers[lastDiffers.size() - 1] ^= 0x01;
    const QString ref = Path(dir, "ref"), refLast = Path(dir, "ref.last"), refLonger = Path(dir, "ref.longer");
    WriteFileRaw(ref, data);
    WriteFileRaw(refLast, lastDiffers);
    WriteFileRaw(refLonger, data + 'x');
    WriteFileRaw(Path(dir, "copy"), data);
    auto gzeKey = MakeEncryption(2);
    auto encKey = MakeEncryption(3);
    ASSERT_EQ(GzipFile(ref, Path(dir, "b.gz")), 0);
    ASSERT_EQ(GzipFile(ref, Path(dir, "b.gze"), gzeKey.get()), 0);
    ASSERT_EQ(EncryptFile(ref, Path(dir, "b.enc"), encKey.get()), 0);
    WriteFileRaw(Path(dir, "notgz"), "not a gzip file at all");
    WriteFileRaw(Path(dir, "zeros"), QByteArray(8 * 1024 * 1024, '\0'));
    ASSERT_EQ(GzipFile(Path(dir, "zeros"), Path(dir, "zeros.gz")), 0);
    ASSERT_EQ(RemoveFile(Path(dir, "zeros")), 0u);

    // A verify run has one encryption object for every file.
    auto key = MakeEncryption(1);
    auto wrong = MakeEncryption(1, "wrong");
    const struct {
        const char *What;
        const char *Backup;
        QString Ref;
        TEncryption *Enc;
        bool Gzip;
        int32_t Code;
    } cases[] = {
        {"plain equal", "copy", ref, nullptr, false, 0},
        {"plain, last byte differs", "copy", refLast, nullptr, false, 0x11E},
        {"plain, reference longer", "copy", refLonger, nullptr, false, 0x115},
        {"backup missing", "missing", ref, nullptr, false, 0x30E},
        {"reference missing", "copy", Path(dir, "nothing"), nullptr, false, 0x10E},
        {"gzip equal", "b.gz", ref, nullptr, true, 0},
        {"gzip in a run with a password", "b.gz", ref, key.get(), true, 0},
        {"gzip, last byte differs", "b.gz", refLast, nullptr, true, 0x311E},
        {"gzip, reference longer", "b.gz", refLonger, nullptr, true, 0x3115},
        {"gzip, no gzip file", "notgz", ref, nullptr, true, 0x3008},
        {"gzip that unpacks to far more", "zeros.gz", ref, nullptr, true, 0x3115},
        {"encrypted gzip equal", "b.gze", ref, key.get(), true, 0},
        {"encrypted gzip, last byte differs", "b.gze", refLast, key.get(), true, 0x311E},
        {"encrypted gzip without password", "b.gze", ref, nullptr, true, 0x310B},
        {"encrypted gzip, wrong password", "b.gze", ref, wrong.get(), true, 0x310B},
        {"encrypted gzip compared as a plain file", "b.gze", ref, nullptr, false, 0x115},
        {"encrypted file equal", "b.enc", ref, key.get(), false, 0},
        {"encrypted file, last byte differs", "b.enc", refLast, key.get(), false, 0x611E},
        {"encrypted file, wrong password", "b.enc", ref, wrong.get(), false, 0x610B},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QByteArray before = ReadFileRaw(c.Ref);
        auto t = std::make_shared<TCompareThread>(Path(dir, c.Backup), c.Ref, c.Enc, c.Gzip, false, kSmallBuffer);
        EXPECT_EQ(RunThread(t), c.Code) << t->SysErrorMsg().toStdString();
        EXPECT_EQ(ReadFileRaw(c.Ref), before); // the reference is never touched
    }
    EXPECT_EQ(DirNames(dir).size(), 9); // no temporary file left beside them
}

TEST(CompareThread, SingleFileZipBackups)
{
    const QString dir = MakeTempDir();
    const QByteArray data = PatternData(3 * kSmallBuffer + 17);
    QByteArray lastDiffers = data;
    lastDiffers[lastDiffers.size() - 1] ^= 0x01;
    const QString ref = Path(dir, "ref"), refLast = Path(dir, "ref.last"), refLonger = Path(dir, "ref.longer");
    WriteFileRaw(ref, data);
    WriteFileRaw(refLast, lastDiffers);
    WriteFileRaw(refLonger, data + 'x');
    auto key = MakeEncryption(2);
    const auto zip = [&](const char *name, TEncryption *enc) {
        auto t = std::make_shared<TWinCopyThread>(ref, Path(dir, name), enc, CopyOptionBit(TCopyOption::coZipCompress),
                                                  kSmallBuffer);
        return RunThread(t);
    };
    ASSERT_EQ(zip("b.zip", nullptr), 0);
    ASSERT_EQ(zip("e.zip", key.get()), 0);
    WriteFileRaw(Path(dir, "notzip"), "PK\x03\x04 but nothing more");
    auto wrong = MakeEncryption(2, "wrong");
    const struct {
        const char *What;
        const char *Backup;
        QString Ref;
        TEncryption *Enc;
        int32_t Code;
    } cases[] = {
        {"equal", "b.zip", ref, nullptr, 0},
        {"last byte differs", "b.zip", refLast, nullptr, 0x411E},
        {"reference longer", "b.zip", refLonger, nullptr, 0x4115},
        {"no zip file", "notzip", ref, nullptr, 0x4008},
        {"encrypted equal", "e.zip", ref, key.get(), 0},
        {"encrypted, last byte differs", "e.zip", refLast, key.get(), 0x411E},
        {"encrypted without password", "e.zip", ref, nullptr, 0x410B},
        {"encrypted, wrong password", "e.zip", ref, wrong.get(), 0x410B},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        auto t = std::make_shared<TCompareThread>(Path(dir, c.Backup), c.Ref, c.Enc, false, true, kSmallBuffer);
        EXPECT_EQ(RunThread(t), c.Code) << t->SysErrorMsg().toStdString();
    }
    EXPECT_EQ(DirNames(dir).size(), 6); // no temporary file left beside them
}

// The compare thread with a look at the temporary folder just before the
// unpacked data is compared.
class TWatchedCompareThread : public TCompareThread {
public:
    using TCompareThread::TCompareThread;
    bool SawTempFile = false;

protected:
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override
    {
        if (AAction == TFileAction::acVerify && ACount < 0 && !SawTempFile)
            for (const QString &name : DirNames(TempDir()))
                SawTempFile = SawTempFile || (name.startsWith(QStringLiteral("gzip-")) && name.endsWith(QStringLiteral(".tmp")));
        TCompareThread::DoProgress(AAction, ACount, ASpeedLimit);
    }
};

TEST(CompareThread, LargeFileIsUnpackedIntoATemporaryFile)
{
    const QString dir = MakeTempDir(), tmp = MakeTempDir(QStringLiteral("tmp"));
    // 60 MiB, above the memory limit of 50 MiB; repetitive, so it packs fast.
    QByteArray data(60 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) % 251);
    const QString ref = Path(dir, "big"), gz = Path(dir, "big.gz");
    WriteFileRaw(ref, data);
    auto zip = std::make_shared<TTestGZipThread>(ref, gz, nullptr, 1024 * 1024);
    zip->SetCompressionLevel(TZCompressionLevel::zcFastest);
    ASSERT_EQ(RunThread(zip), 0);
    auto t = std::make_shared<TWatchedCompareThread>(gz, ref, nullptr, true, false, 1024 * 1024);
    t->SetTempDir(tmp);
    ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
    EXPECT_TRUE(t->SawTempFile);
    EXPECT_TRUE(DirNames(tmp).isEmpty());
}

// A temporary file that cannot take the decrypted data is reported as a
// write failure, not as a wrong password.
TEST(CompareThread, FailingTemporaryFileIsNoDecryptionError)
{
    const QString dir = MakeTempDir(), tmp = MakeTempDir(QStringLiteral("tmp"));
    QByteArray data(60 * 1024 * 1024, '\0'); // above the memory limit of 50 MiB
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) % 251);
    const QString ref = Path(dir, "big");
    WriteFileRaw(ref, data);
    auto key = MakeEncryption(1);
    ASSERT_EQ(EncryptFile(ref, Path(dir, "big.enc"), key.get()), 0);
    ASSERT_EQ(GzipFile(ref, Path(dir, "big.gze"), key.get()), 0);

    // Files may grow to 16 KiB from here on: the temporary files fail.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int32_t codes[2];
    int i = 0;
    for (const char *backup : {"big.enc", "big.gze"}) {
        auto t = std::make_shared<TCompareThread>(Path(dir, backup), ref, key.get(), QByteArray(backup).endsWith("gze"),
                                                  false, kSmallBuffer);
        t->SetTempDir(tmp);
        codes[i++] = RunThread(t);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    for (int32_t code : codes) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        EXPECT_TRUE(ErrorNumber(code) == feWriteFile || ErrorNumber(code) == feLowDiskSpace);
        EXPECT_EQ(ErrorClass(code), ecError);
    }
    EXPECT_TRUE(DirNames(tmp).isEmpty());
}

} // namespace
} // namespace vl
