// The backup copy of one file: options, forms, verification, attributes and
// times, and the failures a backup run meets.
#include "engine/Encryption.h"
#include "engine/WinCopyThread.h"

#include "common/RawFs.h"
#include "common/TestUtils.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <tuple>
#include <vector>

namespace vl {
namespace {

using namespace vl::test;

using TCall = std::tuple<TFileAction, int64_t, bool>;

constexpr TCopyOptions Opt(std::initializer_list<TCopyOption> options)
{
    TCopyOptions mask = 0;
    for (TCopyOption o : options)
        mask |= CopyOptionBit(o);
    return mask;
}

void RunToEnd(const std::shared_ptr<TThread> &t)
{
    t->Start();
    ASSERT_TRUE(t->WaitFor(60000));
    ProcessMessages();
}

QByteArray RandomData(int64_t size)
{
    std::mt19937 rng(11);
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(rng());
    return data;
}

int EntryCount(const QString &dir)
{
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator(N(dir).toStdString())) {
        (void)e;
        ++n;
    }
    return n;
}

time_t MTimeOf(const QString &path)
{
    struct stat s {};
    EXPECT_EQ(::stat(N(path).constData(), &s), 0);
    return s.st_mtim.tv_sec;
}

void SetMTime(const QString &path, time_t t)
{
    const timespec ts[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, N(path).constData(), ts, 0), 0);
}

void SetDosAttrib(const QString &path, const char *value)
{
    ASSERT_EQ(::setxattr(N(path).constData(), "user.DOSATTRIB", value, strlen(value), 0), 0);
}

uint32_t AttrOf(const QString &path)
{
    uint32_t attr = 0;
    EXPECT_EQ(GetFileAttr(path, false, attr), 0u);
    return attr;
}

class WinCopyThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = MakeTempDir(QStringLiteral("wincopy"));
        Src = Dir + QStringLiteral("/source.dat");
        Dst = Dir + QStringLiteral("/backup.dat");
    }
    std::shared_ptr<TWinCopyThread> Copy(TCopyOptions options, TEncryption *enc = nullptr, int32_t bufSize = 65536)
    {
        return std::make_shared<TWinCopyThread>(Src, Dst, enc, options, bufSize);
    }
    QString Dir, Src, Dst;
};

TEST_F(WinCopyThreadTest, AttributesTimesAndVerifyCopyPlainly)
{
    const QByteArray data = RandomData(200000);
    WriteRaw(Src, data, 0640);
    SetMTime(Src, 1000000000);
    auto t = Copy(0x0184);
    std::vector<TCall> calls;
    t->SetOnProgress([&](TFileAction a, int64_t c, bool s) { calls.emplace_back(a, c, s); });
    RunToEnd(t);
    EXPECT_EQ(t->ErrorType(), 0x1000);
    EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
    EXPECT_EQ(t->Ratio(), -1);
    EXPECT_EQ(ReadRaw(Dst), data);
    EXPECT_EQ(t->Crc(), uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()))));
    EXPECT_EQ(MTimeOf(Dst), 1000000000);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), TCall(TFileAction::acCopy, -data.size(), false));
    EXPECT_NE(std::find(calls.begin(), calls.end(), TCall(TFileAction::acVerify, -data.size(), false)), calls.end());
    EXPECT_EQ(calls.back(), TCall(TFileAction::acVerify, data.size(), true));
    EXPECT_EQ(EntryCount(Dir), 2);
}

TEST_F(WinCopyThreadTest, OptionsChooseTheKindOfThread)
{
    TEncryption enc(QByteArray("secret"), 1, 65536);
    const struct {
        TCopyOptions Options;
        bool Encrypted;
        int32_t ErrorType;
    } cases[] = {
        {0, false, 0x1000},
        {Opt({TCopyOption::coCompress}), false, 0x2000},
        {Opt({TCopyOption::coCompress}), true, 0x2000},
        {0, true, 0x5000},
        {Opt({TCopyOption::coZipCompress}), false, 0x4000},
        {Opt({TCopyOption::coZipCompress, TCopyOption::coCompress}), true, 0x4000},
    };
    for (const auto &c : cases) {
        TWinCopyThread t(Src, Dst, c.Encrypted ? &enc : nullptr, c.Options, 4096);
        EXPECT_EQ(t.ErrorType(), c.ErrorType) << c.Options << " " << c.Encrypted;
    }
    // Each option bit sets its own property and no other (swapped bits
    // would pass an all-or-nothing check).
    const struct {
        TCopyOption Option;
        bool TWinCopyThread::*Property;
    } bits[] = {
        {TCopyOption::coOverwrite, &TWinCopyThread::Overwrite},
        {TCopyOption::coStorage, &TWinCopyThread::CopyStorage},
        {TCopyOption::coAltStreams, &TWinCopyThread::CopyAltStreams},
        {TCopyOption::coPermissions, &TWinCopyThread::CopyPermissions},
        {TCopyOption::coAttributes, &TWinCopyThread::CopyAttr},
        {TCopyOption::coTimeStamp, &TWinCopyThread::CopyTimeStamp},
        {TCopyOption::coCreationTime, &TWinCopyThread::CopyCreationTime},
        {TCopyOption::coCheckTime, &TWinCopyThread::CheckTime},
        {TCopyOption::coResetArchive, &TWinCopyThread::ResetArchiveBit},
    };
    for (const auto &set : bits) {
        TWinCopyThread t(Src, Dst, nullptr, Opt({set.Option}), 4096);
        for (const auto &other : bits)
            EXPECT_EQ(t.*(other.Property), other.Option == set.Option) << int(set.Option) << " " << int(other.Option);
        EXPECT_EQ(t.ShellCopy, 0);
    }
}

TEST_F(WinCopyThreadTest, FormsWriteTheirOwnFiles)
{
    WriteRaw(Src, QByteArray(5000, 'v'));
    TEncryption enc(QByteArray("secret"), 1, 65536);
    const struct {
        TCopyOptions Options;
        bool Encrypted;
        QByteArray Magic;
    } cases[] = {
        {Opt({TCopyOption::coCompress, TCopyOption::coVerify}), false, QByteArray("\x1f\x8b", 2)},
        {Opt({TCopyOption::coVerify}), true, QByteArray("QVE")},
        {Opt({TCopyOption::coZipCompress, TCopyOption::coVerify}), false, QByteArray("PK\x03\x04")},
        {Opt({TCopyOption::coZipCompress, TCopyOption::coCompress, TCopyOption::coVerify}), true,
         QByteArray("PK\x03\x04")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Magic.toHex().toStdString());
        auto t = Copy(c.Options | Opt({TCopyOption::coOverwrite}), c.Encrypted ? &enc : nullptr);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
        EXPECT_TRUE(ReadRaw(Dst).startsWith(c.Magic));
    }
}

TEST_F(WinCopyThreadTest, AttributesFollowTheSourceAndLoseTheArchiveBitOnReset)
{
    if (!UserXattrsSupported(Dir))
        GTEST_SKIP() << "no user xattrs on the test file system";
    const struct {
        mode_t Mode;
        const char *DosAttrib;
        bool Reset;
        uint32_t SourceAttr, DestAttr;
    } cases[] = {
        {0444, nullptr, true, 0x21, 0x01},
        {0444, nullptr, false, 0x21, 0x21},
        {0644, "0x24", true, 0x24, 0x04},
        {0644, "0x26", false, 0x26, 0x26},
    };
    int i = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(i);
        Src = Dir + QStringLiteral("/src%1").arg(i);
        Dst = Dir + QStringLiteral("/dst%1").arg(i++);
        WriteRaw(Src, "attributes", 0644);
        if (c.DosAttrib)
            SetDosAttrib(Src, c.DosAttrib);
        ASSERT_EQ(::chmod(N(Src).constData(), c.Mode), 0);
        ASSERT_EQ(AttrOf(Src), c.SourceAttr);
        // With the times: setting them must not bring the archive bit back.
        TCopyOptions options = Opt({TCopyOption::coAttributes, TCopyOption::coTimeStamp});
        if (c.Reset)
            options |= Opt({TCopyOption::coResetArchive});
        auto t = Copy(options);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
        EXPECT_EQ(AttrOf(Dst), c.DestAttr);
        EXPECT_EQ(AttrOf(Src), c.SourceAttr); // the source is only read
    }
}

// Changes the destination once it is open for verification.
class TCorruptingCopy : public TWinCopyThread {
public:
    using TWinCopyThread::TWinCopyThread;

protected:
    void DoProgress(TFileAction a, int64_t c, bool l) override
    {
        TWinCopyThread::DoProgress(a, c, l);
        if (a == TFileAction::acVerify && c < 0) {
            const int fd = ::open(N(DestName).constData(), O_WRONLY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, "!", 1, 1234), 1);
            ::close(fd);
        }
    }
};

TEST_F(WinCopyThreadTest, DestinationThatReadsBackDifferentlyFailsVerification)
{
    WriteRaw(Src, RandomData(100000));
    auto t = std::make_shared<TCorruptingCopy>(Src, Dst, nullptr, 0x0184, 4096);
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0x110C);
}

TEST_F(WinCopyThreadTest, ShellCopyAppliesOnlyTheTimes)
{
    const struct {
        TCopyOptions Options;
        bool TimesCopied;
    } cases[] = {
        {Opt({TCopyOption::coTimeStamp, TCopyOption::coAttributes}), false},
        {Opt({TCopyOption::coTimeStamp, TCopyOption::coCreationTime, TCopyOption::coAttributes, TCopyOption::coVerify}),
         true},
    };
    const bool xattrs = UserXattrsSupported(Dir);
    int i = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Options);
        Src = Dir + QStringLiteral("/src%1").arg(i);
        Dst = Dir + QStringLiteral("/dst%1").arg(i++);
        WriteRaw(Src, "shell copy data", 0640);
        if (xattrs)
            SetDosAttrib(Src, "0x24");
        SetMTime(Src, 1200000000);
        auto t = Copy(c.Options);
        t->ShellCopy = 1u << unsigned(TShellCopyMode::scmCopy);
        std::vector<TCall> calls;
        t->SetOnProgress([&](TFileAction a, int64_t n, bool s) { calls.emplace_back(a, n, s); });
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
        EXPECT_EQ(ReadRaw(Dst), QByteArray("shell copy data"));
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front(), TCall(TFileAction::acCopy, -1, false));
        EXPECT_EQ(MTimeOf(Dst) == 1200000000, c.TimesCopied);
        if (xattrs) {
            EXPECT_EQ(AttrOf(Dst) & 0x04, 0u); // no attributes applied
        }
    }
}

TEST_F(WinCopyThreadTest, AccessDeniedCases)
{
    ChownTree(Dir);
    RunUnprivileged([this] {
        // Unreadable source: nothing created.
        WriteRaw(Src, "private", 0000);
        auto t = Copy(0x0184);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0x1102);
        EXPECT_TRUE(t->SysErrorMsg().contains(QStringLiteral("Access denied"))) << t->SysErrorMsg().toStdString();
        EXPECT_FALSE(Exists(Dst));

        // Destination folder without write access.
        ASSERT_EQ(::chmod(N(Src).constData(), 0644), 0);
        const QString locked = Dir + QStringLiteral("/locked");
        MkDir(locked, 0555);
        auto d = std::make_shared<TWinCopyThread>(Src, locked + QStringLiteral("/backup.dat"), nullptr, 0x0184, 4096);
        RunToEnd(d);
        EXPECT_EQ(d->ErrorCode(), 0x1101);
        EXPECT_TRUE(d->SysErrorMsg().contains(QStringLiteral("Access denied"))) << d->SysErrorMsg().toStdString();
        EXPECT_EQ(EntryCount(locked), 0);

        // A read-only backup file is replaced with coOverwrite.
        WriteRaw(Dst, "old", 0444);
        auto o = Copy(0x0184 | Opt({TCopyOption::coOverwrite}));
        RunToEnd(o);
        EXPECT_EQ(o->ErrorCode(), 0) << o->SysErrorMsg().toStdString();
        EXPECT_EQ(ReadRaw(Dst), QByteArray("private"));
    });
}

} // namespace
} // namespace vl
