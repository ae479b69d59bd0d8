// The copy-thread base: plain copies through temporary files, the data
// loops and their error codes, pause and cancel, progress, the write stream.
#include "engine/Encryption.h"
#include "engine/ExtFileTools.h"
#include "engine/FilePropUtils.h"

#include "common/RawFs.h"
#include "common/TestUtils.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

namespace vl {
namespace {

using namespace vl::test;

using TCall = std::tuple<TFileAction, int64_t, bool>;

// Progress calls as the owner sees them; each must arrive on the owning thread.
struct TProgressLog {
    std::vector<TCall> Calls;
    std::thread::id Owner = std::this_thread::get_id();
    bool WrongThread = false;

    TFileProgressEvent Handler()
    {
        return [this](TFileAction a, int64_t c, bool s) {
            if (std::this_thread::get_id() != Owner)
                WrongThread = true;
            Calls.emplace_back(a, c, s);
        };
    }
};

void RunToEnd(const std::shared_ptr<TThread> &t)
{
    t->Start();
    ASSERT_TRUE(t->WaitFor(60000));
    ProcessMessages(); // progress posted just before the end
}

QByteArray RandomData(int64_t size, uint32_t seed = 7)
{
    std::mt19937 rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(rng());
    return data;
}

uint32_t Crc(const QByteArray &data)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

QStringList Entries(const QString &dir)
{
    QStringList names;
    for (const auto &e : std::filesystem::directory_iterator(N(dir).toStdString()))
        names.append(DecodeFileName(QByteArray::fromStdString(e.path().filename().string())));
    names.sort();
    return names;
}

mode_t ModeOf(const QString &path)
{
    struct stat s {};
    EXPECT_EQ(::lstat(N(path).constData(), &s), 0);
    return s.st_mode & 07777;
}

void SetTimes(const QString &path, time_t atime, time_t mtime)
{
    const timespec ts[2] = {{atime, 0}, {mtime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, N(path).constData(), ts, 0), 0);
}

// A copy thread whose body is given by the test, with the protected
// operations opened up.
class TProbeThread : public TCopyThread {
public:
    using TBody = std::function<int32_t(TProbeThread &)>;
    TProbeThread(const QString &src, const QString &dst, int32_t bufSize, TBody body)
        : TCopyThread(src, dst, bufSize), FBody(std::move(body)) {}

    using TCopyThread::AttachEncryption;
    using TCopyThread::CompareStreams;
    using TCopyThread::CopyBlocks;
    using TCopyThread::CreateTempStream;
    using TCopyThread::CTotal;
    using TCopyThread::DeflateStream;
    using TCopyThread::FCompress;
    using TCopyThread::FCrc;
    using TCopyThread::FreeTempStream;
    using TCopyThread::FVerify;
    using TCopyThread::InflateStream;
    using TCopyThread::InflateToTrailer;
    using TCopyThread::OpenForVerify;
    using TCopyThread::PlainCopy;
    using TCopyThread::SetSysError;
    using TCopyThread::UTotal;

    int32_t Raw = -1; // the body's own result, before the operation bits

protected:
    void Execute() override
    {
        Raw = FBody(*this);
        Finish(Raw);
    }

private:
    TBody FBody;
};

std::shared_ptr<TProbeThread> Probe(TProbeThread::TBody body, int32_t bufSize = 4,
                                    const QString &src = QString(), const QString &dst = QString())
{
    return std::make_shared<TProbeThread>(src, dst, bufSize, std::move(body));
}

// A memory stream with scripted failures.
class TFakeStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::function<int64_t(void *, int64_t)> OnRead;
    std::function<int64_t(const void *, int64_t)> OnWrite;
    uint32_t Error = 0;
    int Reads = 0;
    bool SizeFails = false;

    int64_t Read(void *buffer, int64_t count) override
    {
        ++Reads;
        return OnRead ? OnRead(buffer, count) : TMemoryStream::Read(buffer, count);
    }
    int64_t Write(const void *buffer, int64_t count) override
    {
        return OnWrite ? OnWrite(buffer, count) : TMemoryStream::Write(buffer, count);
    }
    int64_t Size() override { return SizeFails ? -1 : TMemoryStream::Size(); }
    uint32_t LastError() const override { return Error; }
};

class CopyThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = MakeTempDir(QStringLiteral("copy"));
        Src = Dir + QStringLiteral("/src.bin");
        Dst = Dir + QStringLiteral("/dst.bin");
    }
    QString Dir, Src, Dst;
};

// ---- Plain copies ----

TEST_F(CopyThreadTest, EmptySourceGivesEmptyFileInOnePass)
{
    WriteRaw(Src, QByteArray());
    auto t = std::make_shared<TCopyThread>(Src, Dst, 65536);
    TProgressLog log;
    t->SetOnProgress(log.Handler());
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0);
    EXPECT_EQ(t->Ratio(), -1);
    EXPECT_TRUE(t->SysErrorMsg().isEmpty());
    EXPECT_EQ(ReadRaw(Dst), QByteArray());
    EXPECT_FALSE(log.WrongThread);
    const std::vector<TCall> expected{{TFileAction::acCopy, 0, false}, {TFileAction::acCopy, 0, true}};
    EXPECT_EQ(log.Calls, expected);
    EXPECT_EQ(Entries(Dir), QStringList({QStringLiteral("dst.bin"), QStringLiteral("src.bin")}));
}

TEST_F(CopyThreadTest, FailuresBeforeCopyingCreateNothing)
{
    struct TCase {
        const char *Name;
        bool SourceExists;
        QString Dest;
        int32_t Code;
    };
    const TCase cases[] = {
        {"missing source", false, Dst, 0x110E},
        {"empty destination name", true, QString(), 0x1101},
        {"destination folder missing", true, Dir + QStringLiteral("/no/dst.bin"), 0x1101},
        {"source is a folder", false, Dst, 0x110E},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString dir = MakeTempDir(QStringLiteral("fail"));
        const QString src = dir + QStringLiteral("/src");
        if (c.SourceExists)
            WriteRaw(src, "data");
        if (QString::fromLatin1(c.Name) == QStringLiteral("source is a folder"))
            MkDir(src);
        const QString dst = c.Dest == Dst ? dir + QStringLiteral("/dst") : c.Dest;
        auto t = std::make_shared<TCopyThread>(src, dst, 4096);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), c.Code);
        EXPECT_EQ(Entries(dir).size(), Exists(src) ? 1 : 0) << Entries(dir).join(QLatin1Char(',')).toStdString();
    }
}

TEST_F(CopyThreadTest, FolderAtDestinationIsRefusedBeforeCopying)
{
    WriteRaw(Src, QByteArray(200000, 'f'));
    MkDir(Dst);
    auto t = std::make_shared<TCopyThread>(Src, Dst, 4096);
    t->Overwrite = true;
    TProgressLog log;
    t->SetOnProgress(log.Handler());
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0x1101);
    EXPECT_TRUE(t->SysErrorMsg().contains(QStringLiteral("Access denied"))) << t->SysErrorMsg().toStdString();
    EXPECT_TRUE(log.Calls.empty()); // refused before any data was copied
    EXPECT_EQ(Entries(Dir), QStringList({QStringLiteral("dst.bin"), QStringLiteral("src.bin")}));
}

TEST_F(CopyThreadTest, ExistingDestinationWithoutOverwriteIsLeftAlone)
{
    WriteRaw(Src, "new data");
    WriteRaw(Dst, "old");
    auto t = std::make_shared<TCopyThread>(Src, Dst, 4096);
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0x1101);
    EXPECT_EQ(t->SysErrorMsg(), QStringLiteral("System error: The file exists (0x00000050)"));
    EXPECT_EQ(ReadRaw(Dst), QByteArray("old"));
    EXPECT_EQ(Entries(Dir).size(), 2);
}

TEST_F(CopyThreadTest, OverwriteReplacesReadOnlyDestination)
{
    WriteRaw(Src, "new data", 0640);
    WriteRaw(Dst, "old", 0444);
    auto t = std::make_shared<TCopyThread>(Src, Dst, 4096);
    t->Overwrite = true;
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
    EXPECT_EQ(ReadRaw(Dst), QByteArray("new data"));
    EXPECT_EQ(ModeOf(Dst), mode_t(0640));
    EXPECT_EQ(Entries(Dir).size(), 2);
}

TEST_F(CopyThreadTest, DestinationGetsSourceModeWhateverTheUmask)
{
    const struct {
        mode_t Mode, Umask;
    } cases[] = {{0640, 0077}, {0600, 0}, {0755, 0022}, {0444, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Mode);
        const QString dst = Dir + QStringLiteral("/m%1").arg(c.Mode, 0, 8);
        WriteRaw(Src, "x");
        ASSERT_EQ(::chmod(N(Src).constData(), c.Mode), 0);
        const mode_t old = ::umask(c.Umask);
        auto t = std::make_shared<TCopyThread>(Src, dst, 4096);
        t->CopyAttr = false;
        RunToEnd(t);
        ::umask(old);
        EXPECT_EQ(t->ErrorCode(), 0);
        EXPECT_EQ(ModeOf(dst), c.Mode);
        ::chmod(N(Src).constData(), 0644);
    }
}

TEST_F(CopyThreadTest, LastWriteTimeCopiedAndAccessTimeOnlyWithAllTimes)
{
    WriteRaw(Src, "timed");
    for (const bool allTimes : {false, true}) {
        SCOPED_TRACE(allTimes);
        // Reading the source may move its access time: set both each time.
        SetTimes(Src, 946684800 /* 2000-01-01 */, 981158400 /* 2001-02-03 */);
        const QString dst = Dir + (allTimes ? QStringLiteral("/all") : QStringLiteral("/last"));
        auto t = std::make_shared<TCopyThread>(Src, dst, 4096);
        t->CopyCreationTime = allTimes;
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0);
        struct stat s {};
        ASSERT_EQ(::stat(N(dst).constData(), &s), 0);
        EXPECT_EQ(s.st_mtim.tv_sec, 981158400);
        EXPECT_EQ(s.st_atim.tv_sec == 946684800, allTimes);
    }
}

TEST_F(CopyThreadTest, KernelCopyAndBlockLoopGiveTheSameBytes)
{
    // Verification needs the CRC, so that copy runs through the block loop.
    const QByteArray data = RandomData(3 * 65536 + 17);
    WriteRaw(Src, data);
    for (const bool verify : {false, true}) {
        SCOPED_TRACE(verify);
        const QString dst = Dir + (verify ? QStringLiteral("/loop") : QStringLiteral("/kernel"));
        auto t = Probe([verify](TProbeThread &p) {
            p.FVerify = verify;
            return p.PlainCopy();
        }, 65536, Src, dst);
        TProgressLog log;
        t->SetOnProgress(log.Handler());
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
        EXPECT_EQ(ReadRaw(dst), data);
        EXPECT_EQ(t->Crc(), verify ? Crc(data) : 0u);
        const std::vector<TCall> expected{{TFileAction::acCopy, -data.size(), false},
                                          {TFileAction::acCopy, 65536, true},
                                          {TFileAction::acCopy, 131072, true},
                                          {TFileAction::acCopy, 196608, true},
                                          {TFileAction::acCopy, data.size(), true}};
        EXPECT_EQ(log.Calls, expected);
    }
}

TEST_F(CopyThreadTest, NameWithInvalidUtf8AndLongPathsCopy)
{
    QString deep = Dir;
    while (deep.size() < 320)
        deep += QStringLiteral("/folder-with-a-rather-long-name");
    ASSERT_EQ(MakeDirs(deep), 0u);
    const QString latin = DecodeFileName(QByteArray("caf\xe9.txt"));
    const QString longName = QString(240, QLatin1Char('n'));
    const struct {
        QString Src, Dst;
    } cases[] = {
        {Dir + QLatin1Char('/') + latin, Dir + QStringLiteral("/copy-") + latin},
        {deep + QStringLiteral("/source.txt"), deep + QStringLiteral("/dest.txt")},
        {Dir + QStringLiteral("/long-src"), Dir + QLatin1Char('/') + longName},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(N(c.Dst).toStdString());
        WriteRaw(c.Src, "payload");
        auto t = std::make_shared<TCopyThread>(c.Src, c.Dst, 4096);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0) << t->SysErrorMsg().toStdString();
        EXPECT_EQ(ReadRaw(c.Dst), QByteArray("payload"));
    }
    EXPECT_TRUE(Exists(Dir + QStringLiteral("/copy-") + latin));
    EXPECT_TRUE(N(Dir + QStringLiteral("/copy-") + latin).endsWith("caf\xe9.txt"));
}

// ---- Pause and cancel ----

TEST_F(CopyThreadTest, PausedThreadSeesCancelOnlyWhenResumed)
{
    WriteRaw(Src, RandomData(100000));
    WriteRaw(Dst, "old");
    auto t = std::make_shared<TCopyThread>(Src, Dst, 4096);
    t->Overwrite = true;
    t->SetPaused(true);
    EXPECT_TRUE(t->Paused());
    t->Start();
    EXPECT_FALSE(t->WaitFor(150));
    t->CancelThread();
    EXPECT_FALSE(t->WaitFor(150)); // nothing happens while paused
    EXPECT_EQ(ReadRaw(Dst), QByteArray("old"));
    t->SetPaused(false);
    ASSERT_TRUE(t->WaitFor(10000));
    EXPECT_EQ(t->ErrorCode(), 0x1080);
    EXPECT_EQ(ReadRaw(Dst), QByteArray("old"));
    EXPECT_EQ(Entries(Dir).size(), 2); // no temporary file left
    t->SetPaused(true);                // ignored once done
    EXPECT_FALSE(t->Paused());
}

// Cancels itself after the second block, in the middle of the copy.
class TSelfCancelThread : public TCopyThread {
public:
    TSelfCancelThread(const QString &s, const QString &d, bool verify) : TCopyThread(s, d, 65536) { FVerify = verify; }
    int64_t LastCount = 0;

protected:
    void DoProgress(TFileAction a, int64_t c, bool l) override
    {
        TCopyThread::DoProgress(a, c, l);
        LastCount = c;
        if (c >= 2 * 65536)
            CancelThread();
    }
};

TEST_F(CopyThreadTest, CancelMidCopyLeavesExistingDestinationAndNoTempFile)
{
    const QByteArray data = RandomData(1 << 20);
    WriteRaw(Src, data);
    for (const bool verify : {false, true}) {
        SCOPED_TRACE(verify);
        WriteRaw(Dst, "old");
        auto t = std::make_shared<TSelfCancelThread>(Src, Dst, verify);
        t->Overwrite = true;
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0x1080);
        EXPECT_EQ(t->LastCount, 2 * 65536);
        EXPECT_EQ(ReadRaw(Dst), QByteArray("old"));
        EXPECT_EQ(Entries(Dir).size(), 2) << Entries(Dir).join(QLatin1Char(',')).toStdString();
    }
}

// Another program creates the destination name while the copy runs.
class TRacedCopy : public TCopyThread {
public:
    using TCopyThread::TCopyThread;

protected:
    void DoProgress(TFileAction a, int64_t c, bool l) override
    {
        TCopyThread::DoProgress(a, c, l);
        if (c > 0)
            WriteRaw(DestName, "first");
    }
};

TEST_F(CopyThreadTest, DestinationCreatedMeanwhileIsNotReplaced)
{
    WriteRaw(Src, "mine");
    auto t = std::make_shared<TRacedCopy>(Src, Dst, 4096);
    RunToEnd(t);
    EXPECT_EQ(t->ErrorCode(), 0x1101);
    EXPECT_EQ(t->SysErrorMsg(), QStringLiteral("System error: The file exists (0x00070050)"));
    EXPECT_EQ(ReadRaw(Dst), QByteArray("first"));
    EXPECT_EQ(Entries(Dir).size(), 2);
}

TEST_F(CopyThreadTest, AbandonedWorkerWritesNothing)
{
    WriteRaw(Src, RandomData(100000));
    WriteRaw(Dst, "old");
    auto t = std::make_shared<TCopyThread>(Src, Dst, 4096);
    t->Overwrite = true;
    t->SetPaused(true);
    t->Start();
    EXPECT_FALSE(t->WaitFor(100));
    t->Abandon(); // opens the gate; the worker must stop without writing
    ASSERT_TRUE(t->WaitFor(10000));
    EXPECT_EQ(t->ErrorCode(), 0x1080);
    EXPECT_EQ(ReadRaw(Dst), QByteArray("old"));
    EXPECT_EQ(Entries(Dir).size(), 2);
}

// ---- Data loops ----

TEST_F(CopyThreadTest, CopyBlocksReportsEveryBlockAndTheCrc)
{
    const QByteArray data("0123456789");
    for (const bool withDest : {true, false}) {
        SCOPED_TRACE(withDest);
        TMemoryStream in(data), out;
        auto t = Probe([&](TProbeThread &p) { return p.CopyBlocks(in, withDest ? &out : nullptr, true, data.size()); });
        TProgressLog log;
        t->SetOnProgress(log.Handler());
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0);
        EXPECT_EQ(t->Crc(), Crc(data));
        EXPECT_EQ(out.Data(), withDest ? data : QByteArray());
        const TFileAction a = withDest ? TFileAction::acCopy : TFileAction::acPrepare;
        const std::vector<TCall> expected{{a, 4, true}, {a, 8, true}, {a, 10, true}};
        EXPECT_EQ(log.Calls, expected);
    }
}

TEST_F(CopyThreadTest, CopyBlocksErrorCodes)
{
    struct TCase {
        const char *Name;
        std::function<void(TFakeStream &in, TFakeStream &out)> Arrange;
        int32_t Code;
        const char *Message;
    };
    const TCase cases[] = {
        {"disk full raised", [](TFakeStream &, TFakeStream &o) { o.OnWrite = [](const void *, int64_t) -> int64_t { throw EWriteFileStreamError(112); }; },
         0x1107, "System error: There is not enough space on the disk (0x00000070)"},
        {"access denied raised", [](TFakeStream &, TFakeStream &o) { o.OnWrite = [](const void *, int64_t) -> int64_t { throw EWriteFileStreamError(5); }; },
         0x1105, "System error: Access denied (0x00000005)"},
        {"other exception", [](TFakeStream &, TFakeStream &o) { o.OnWrite = [](const void *, int64_t) -> int64_t { throw EWriteError(QStringLiteral("boom")); }; },
         0x1105, "boom"},
        {"short write", [](TFakeStream &, TFakeStream &o) { o.Error = 112; o.OnWrite = [](const void *, int64_t n) { return n - 1; }; },
         0x1107, "System error: There is not enough space on the disk (0x00070070)"},
        {"failed write", [](TFakeStream &, TFakeStream &o) { o.Error = 5; o.OnWrite = [](const void *, int64_t) { return int64_t(-1); }; },
         0x1105, "System error: Access denied (0x00070005)"},
        {"failed read", [](TFakeStream &i, TFakeStream &) { i.Error = 1117; i.OnRead = [](void *, int64_t) { return int64_t(-1); }; },
         0x1104, "System error: Input/output error of the device (0x0007045D)"},
        {"source shrank", [](TFakeStream &i, TFakeStream &) { i.SetSize(6); }, 0x1104, "System error: End of file reached (0x00070026)"},
        {"read raises", [](TFakeStream &i, TFakeStream &) { i.OnRead = [](void *, int64_t) -> int64_t { throw EReadError(QStringLiteral("bad sector")); }; },
         0x1104, "bad sector"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeStream in(QByteArray("0123456789")), out;
        c.Arrange(in, out);
        auto t = Probe([&](TProbeThread &p) { return p.CopyBlocks(in, &out, true, 10); });
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), c.Code);
        EXPECT_EQ(t->SysErrorMsg(), QString::fromUtf8(c.Message));
    }
}

TEST_F(CopyThreadTest, CompareStreamsCases)
{
    struct TCase {
        const char *Name;
        QByteArray Ref, Other;
        int32_t Raw;
        int64_t LastCount; // the comparison stops at the first differing block
    };
    const TCase cases[] = {
        {"both empty", "", "", 0, 0},
        {"equal over several blocks", "0123456789", "0123456789", 0, 10},
        {"sizes differ", "abc", "abcd", 0x115, -3},
        {"last byte differs", "0123456789", "012345678X", 0x11E, 10},
        {"first byte differs", "0123456789", "X123456789", 0x11E, 4},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeStream ref(c.Ref), other(c.Other);
        ref.Seek(0, TSeekOrigin::soEnd); // the comparison starts at 0 whatever the positions
        auto t = Probe([&](TProbeThread &p) { return p.CompareStreams(ref, other, true); });
        TProgressLog log;
        t->SetOnProgress(log.Handler());
        RunToEnd(t);
        EXPECT_EQ(t->Raw, c.Raw);
        ASSERT_FALSE(log.Calls.empty());
        EXPECT_EQ(log.Calls.front(), TCall(TFileAction::acVerify, -c.Ref.size(), false));
        EXPECT_EQ(std::get<1>(log.Calls.back()), c.LastCount);
        if (c.Raw == 0x115) {
            EXPECT_EQ(ref.Reads + other.Reads, 0); // decided without reading
        }
    }
}

TEST_F(CopyThreadTest, CompareStreamsReadFailuresNameTheSide)
{
    for (const bool second : {false, true}) {
        SCOPED_TRACE(second);
        TFakeStream ref(QByteArray("0123456789")), other(QByteArray("0123456789"));
        TFakeStream &failing = second ? other : ref;
        failing.Error = 5;
        failing.OnRead = [](void *, int64_t) { return int64_t(-1); };
        auto t = Probe([&](TProbeThread &p) { return p.CompareStreams(ref, other, false); });
        RunToEnd(t);
        EXPECT_EQ(t->Raw, second ? 0x304 : 0x104);
        EXPECT_EQ(t->SysErrorMsg(), QStringLiteral("System error: Access denied (0x00070005)"));
    }
    // A size that cannot be read is a read failure of that side, not a
    // size mismatch, and never "equal" when both fail.
    const struct {
        bool RefFails, OtherFails;
        int32_t Raw;
    } sizeCases[] = {{true, true, 0x104}, {true, false, 0x104}, {false, true, 0x304}};
    for (const auto &c : sizeCases) {
        SCOPED_TRACE(c.Raw);
        TFakeStream ref(QByteArray("0123456789")), other(QByteArray("0123456789"));
        ref.SizeFails = c.RefFails;
        other.SizeFails = c.OtherFails;
        ref.Error = other.Error = 5;
        auto t = Probe([&](TProbeThread &p) { return p.CompareStreams(ref, other, false); });
        RunToEnd(t);
        EXPECT_EQ(t->Raw, c.Raw);
        EXPECT_EQ(ref.Reads + other.Reads, 0);
    }
}

TEST_F(CopyThreadTest, DeflateAndInflateRoundTrip)
{
    const QByteArray data = RandomData(5000).left(2500) + QByteArray(2500, 'a');
    TMemoryStream in(data), packed;
    auto deflate = Probe([&](TProbeThread &p) { return p.DeflateStream(in, packed, true); }, 1000);
    RunToEnd(deflate);
    ASSERT_EQ(deflate->ErrorCode(), 0);
    EXPECT_EQ(deflate->Crc(), Crc(data));
    ASSERT_GT(packed.Size(), 0);

    // The gzip trailer's 8 bytes after the data stay unread.
    TMemoryStream withTrailer(packed.Data() + QByteArray("TRAILER!"));
    TMemoryStream out;
    auto inflate = Probe([&](TProbeThread &p) { return p.InflateToTrailer(withTrailer, &out, true); }, 1000);
    RunToEnd(inflate);
    EXPECT_EQ(inflate->ErrorCode(), 0) << inflate->SysErrorMsg().toStdString();
    EXPECT_EQ(out.Data(), data);
    EXPECT_EQ(inflate->Crc(), Crc(data));
    EXPECT_EQ(withTrailer.Position(), packed.Size());

    // Damaged data, no data at all.
    QByteArray damaged = packed.Data();
    damaged[0] = char(0xFF);
    damaged[1] = char(0xFF);
    TMemoryStream bad(damaged), sink;
    auto broken = Probe([&](TProbeThread &p) { return p.InflateStream(bad, &sink, true, damaged.size()); }, 1000);
    RunToEnd(broken);
    EXPECT_EQ(broken->ErrorCode(), 0x1104);
    EXPECT_FALSE(broken->SysErrorMsg().isEmpty());
    TMemoryStream trailerOnly(QByteArray("TRAILER!"));
    auto empty = Probe([&](TProbeThread &p) { return p.InflateToTrailer(trailerOnly, &sink, true); }, 1000);
    RunToEnd(empty);
    EXPECT_EQ(empty->ErrorCode(), 0x1104);
}

TEST_F(CopyThreadTest, DeflateWriteFailuresMapToDiskFullOrWriteError)
{
    for (const int32_t code : {112, 5}) {
        SCOPED_TRACE(code);
        TMemoryStream in(RandomData(200000));
        TFakeStream out;
        out.OnWrite = [code](const void *, int64_t) -> int64_t { throw EWriteFileStreamError(code); };
        auto t = Probe([&](TProbeThread &p) { return p.DeflateStream(in, out, true); }, 65536);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), code == 112 ? 0x1107 : 0x1105);
    }
}

// ---- Finish step, messages, ratio ----

TEST_F(CopyThreadTest, SystemErrorsKeepTheirNumberInTheMessage)
{
    const struct {
        uint32_t Code;
        const char *Message;
    } cases[] = {
        {5, "System error: Access denied (0x00070005)"},
        {0x80070005, "System error: Access denied (0x80070005)"},
        {0x00070050, "System error: The file exists (0x00070050)"},
        {ERROR_ERRNO_BIT | 71 /* EPROTO */, "System error: Protocol error (0x20000047)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Code);
        auto t = Probe([&](TProbeThread &p) {
            EXPECT_FALSE(p.SetSysError(0));
            EXPECT_TRUE(p.SetSysError(c.Code));
            return 0;
        });
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0); // a kept system error alone is no failure
        EXPECT_EQ(t->SysErrorMsg(), QString::fromUtf8(c.Message));
    }
}

TEST_F(CopyThreadTest, RatioRoundsHalvesToEven)
{
    const struct {
        bool Compress;
        int64_t U, C;
        int32_t Ratio;
    } cases[] = {
        {true, 3, 1, 333}, {true, 2000, 1, 0}, {true, 2000, 3, 2}, {true, 2000, 5, 2},
        {true, 0, 0, -1},  {false, 10, 5, -1},
    };
    for (const auto &c : cases) {
        auto t = Probe([&](TProbeThread &p) {
            p.FCompress = c.Compress;
            p.UTotal = c.U;
            p.CTotal = c.C;
            return 0;
        });
        RunToEnd(t);
        EXPECT_EQ(t->Ratio(), c.Ratio) << c.U << "/" << c.C;
    }
}

TEST_F(CopyThreadTest, OpenForVerifyRetriesAndNamesThePause)
{
    auto t = Probe([&](TProbeThread &p) { return p.OpenForVerify(Dir + QStringLiteral("/missing")); });
    t->VerifyDelay = 1; // 40 ms between the 26 attempts
    const auto start = std::chrono::steady_clock::now();
    RunToEnd(t);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(t->ErrorCode(), 0x1116);
    EXPECT_TRUE(t->SysErrorMsg().endsWith(QStringLiteral(" (1000ms)"))) << t->SysErrorMsg().toStdString();
    EXPECT_TRUE(t->SysErrorMsg().contains(QStringLiteral("missing")));
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 10000);

    // A cancel ends the waiting at once.
    auto c = Probe([&](TProbeThread &p) { return p.OpenForVerify(Dir + QStringLiteral("/missing")); });
    c->VerifyDelay = 100;
    c->Start();
    EXPECT_FALSE(c->WaitFor(100));
    c->CancelThread();
    ASSERT_TRUE(c->WaitFor(2000));
    EXPECT_EQ(c->ErrorCode(), 0x1080);
}

// ---- Write stream, temporary streams, options ----

TEST_F(CopyThreadTest, WriteStreamReplacesATempLeftByAKilledWriterButNotALiveOne)
{
    // A writer that was killed leaves its temporary file unlocked: the next
    // writer of the same file takes its place instead of leaving it behind.
    const QString stale = Dir + QStringLiteral("/.dst.bin.vltmp");
    test::WriteBytes(stale, QByteArray(1000, 'x'));
    {
        TWriteFileStream w(Dst, true, kSequentialScan, 0);
        EXPECT_EQ(w.TempName(), stale);
        EXPECT_EQ(ReadRaw(stale), QByteArray());
        // A live writer holds its file: a second one must not take it.
        TWriteFileStream other(Dst, true, kSequentialScan, 0);
        EXPECT_NE(other.TempName(), stale);
        EXPECT_TRUE(other.TempName().endsWith(QStringLiteral(".vltmp")));
        EXPECT_EQ(w.Write("abc", 3), 3);
        EXPECT_EQ(w.Commit(), 0u);
    }
    EXPECT_EQ(ReadRaw(Dst), QByteArray("abc"));
    EXPECT_EQ(Entries(Dir), QStringList{QStringLiteral("dst.bin")});
}

TEST_F(CopyThreadTest, WriteStreamWritesBesideAndCommitsByRename)
{
    {
        TWriteFileStream w(Dst, false, kSequentialScan, 0, 0604);
        const QString temp = w.TempName();
        EXPECT_TRUE(N(temp).startsWith(N(Dir + QStringLiteral("/.dst.bin."))));
        EXPECT_TRUE(temp.endsWith(QStringLiteral(".vltmp")));
        EXPECT_EQ(w.Write("abc", 3), 3);
        EXPECT_EQ(w.Read(nullptr, 1), -1);
        EXPECT_FALSE(Exists(Dst));
        EXPECT_EQ(ModeOf(temp), mode_t(0604));
        EXPECT_EQ(w.Commit(), 0u);
        EXPECT_TRUE(w.Committed());
        EXPECT_FALSE(Exists(temp));
    }
    EXPECT_EQ(ReadRaw(Dst), QByteArray("abc"));
    EXPECT_EQ(ModeOf(Dst), mode_t(0604));

    // Not committed: nothing stays behind.
    { TWriteFileStream w(Dir + QStringLiteral("/never"), true, kSequentialScan | kWriteThrough, 0); w.Write("x", 1); }
    EXPECT_EQ(Entries(Dir), QStringList{QStringLiteral("dst.bin")});

    // Without Overwrite: refused up front, and at the rename when the name
    // appeared meanwhile.
    try {
        TWriteFileStream w(Dst, false, kSequentialScan, 0);
        ADD_FAILURE() << "created over an existing file";
    } catch (const EWriteFileStreamError &e) {
        EXPECT_EQ(e.ErrorCode(), 80);
    }
    const QString late = Dir + QStringLiteral("/late");
    {
        TWriteFileStream w(late, false, kSequentialScan, 0);
        w.Write("new", 3);
        WriteRaw(late, "first");
        EXPECT_EQ(w.Commit(), 80u);
    }
    EXPECT_EQ(ReadRaw(late), QByteArray("first"));
    EXPECT_EQ(Entries(Dir).size(), 2);

    // A name of 255 bytes still has room for its temporary name.
    const QString longName = Dir + QLatin1Char('/') + QString(255, QLatin1Char('L'));
    {
        TWriteFileStream w(longName, false, kSequentialScan, 0);
        EXPECT_EQ(w.Commit(), 0u);
    }
    EXPECT_TRUE(Exists(longName));
}

TEST_F(CopyThreadTest, TempStreamsArePrivateAndNeverFollowAPlantedLink)
{
    const QString victim = Dir + QStringLiteral("/victim");
    WriteRaw(victim, "keep me");
    SymLink(victim, Dir + QStringLiteral("/big.tmp"));
    const mode_t old = ::umask(0);
    auto t = Probe([&](TProbeThread &p) {
        p.SetTempDir(Dir);
        std::unique_ptr<TStream> small, big;
        QString smallName, bigName;
        EXPECT_EQ(p.CreateTempStream(QStringLiteral("small.tmp"), 10, 100, small, smallName), 0);
        EXPECT_TRUE(smallName.isEmpty());
        EXPECT_NE(dynamic_cast<TMemoryStream *>(small.get()), nullptr);
        EXPECT_EQ(p.CreateTempStream(QStringLiteral("big.tmp"), 101, 100, big, bigName), 0);
        // A name of its own beside the planted link, never the link itself.
        EXPECT_TRUE(bigName.startsWith(Dir + QStringLiteral("/big-")) && bigName.endsWith(QStringLiteral(".tmp")))
            << bigName.toStdString();
        std::unique_ptr<TStream> second;
        QString secondName;
        EXPECT_EQ(p.CreateTempStream(QStringLiteral("big.tmp"), 101, 100, second, secondName), 0);
        EXPECT_NE(secondName, bigName);
        p.FreeTempStream(second, secondName);
        EXPECT_EQ(big->Write("secret", 6), 6);
        EXPECT_FALSE(IsLink(bigName));
        EXPECT_EQ(ModeOf(bigName), mode_t(0600));
        p.FreeTempStream(big, bigName);
        EXPECT_FALSE(Exists(bigName));
        return 0;
    });
    RunToEnd(t);
    ::umask(old);
    EXPECT_EQ(ReadRaw(victim), QByteArray("keep me"));
}

TEST_F(CopyThreadTest, TempDirFallsBackToTheSystemFolder)
{
    TCopyThread t(Src, Dst, 16);
    EXPECT_EQ(t.TempDir(), TempDirectory());
    t.SetTempDir(Dir);
    EXPECT_EQ(t.TempDir(), Dir + QLatin1Char('/'));
    t.SetTempDir(Dir + QStringLiteral("/missing"));
    EXPECT_EQ(t.TempDir(), TempDirectory());
    // Defaults of a new thread.
    EXPECT_EQ(t.ErrorType(), 0x1000);
    EXPECT_EQ(t.Ratio(), -1);
    EXPECT_TRUE(t.CheckTime && t.CopyAttr && t.CopyTimeStamp);
    EXPECT_FALSE(t.CopyCreationTime || t.CopyPermissions || t.CopyStorage || t.CopyAltStreams || t.Overwrite);
    EXPECT_EQ(t.VerifyDelay, 5u);
}

TEST_F(CopyThreadTest, EncryptionObjectIsAttachedAndReleased)
{
    TEncryption enc(QByteArray("password"), 1, 4096);
    {
        auto t = Probe([](TProbeThread &) { return 0; });
        t->AttachEncryption(&enc);
        EXPECT_TRUE(bool(enc.Event));
        EXPECT_TRUE(bool(enc.OnProgress));
    }
    EXPECT_FALSE(bool(enc.Event));
    EXPECT_FALSE(bool(enc.OnProgress));

    // A thread that ran lets go at its finish step, while it still lives.
    auto t = Probe([](TProbeThread &) { return 0; });
    t->AttachEncryption(&enc);
    RunToEnd(t);
    EXPECT_FALSE(bool(enc.Event));
    EXPECT_FALSE(bool(enc.OnProgress));
}

TEST_F(CopyThreadTest, PropertySetsAreNothingToCopy)
{
    WriteRaw(Src, "x");
    WriteRaw(Dst, "y");
    TFileSummary summary{TFilePropertySet{QByteArray(16, '\1'), {}}};
    EXPECT_EQ(ReadFileSummary(Src, summary), 0u);
    EXPECT_TRUE(summary.isEmpty());
    EXPECT_EQ(WriteFileSummary(Dst, TFileSummary{TFilePropertySet{QByteArray(16, '\1'), {}}}), 0u);
    EXPECT_EQ(CopyFileSummary(Src, Dst), 0u);
    EXPECT_EQ(ReadRaw(Dst), QByteArray("y"));
    // A file that cannot be reached is a failure; an empty summary still
    // opens nothing.
    const QString missing = Dir + QStringLiteral("/missing");
    EXPECT_EQ(ReadFileSummary(missing, summary), 0x80070002u);
    EXPECT_EQ(CopyFileSummary(missing, Dst), 0x80070002u);
    EXPECT_EQ(WriteFileSummary(missing, TFileSummary{TFilePropertySet{QByteArray(16, '\1'), {}}}), 0x80070002u);
    EXPECT_EQ(WriteFileSummary(missing, TFileSummary()), 0u);
}

// ---- Stream copy thread ----

TEST_F(CopyThreadTest, CopyStreamThreadCopiesTheLengthAndReportsFailures)
{
    {
        TMemoryStream in(QByteArray("0123456789")), out;
        auto t = std::make_shared<TCopyStreamThread>(in, out, 7, true, 3);
        TProgressLog log;
        t->SetOnProgress(log.Handler());
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), 0);
        EXPECT_EQ(out.Data(), QByteArray("0123456"));
        const std::vector<TCall> expected{{TFileAction::acCopy, 3, true}, {TFileAction::acCopy, 6, true},
                                          {TFileAction::acCopy, 7, true}};
        EXPECT_EQ(log.Calls, expected);
    }
    const struct {
        const char *Name;
        int64_t Length;
        std::function<void(TFakeStream &)> Arrange;
        int32_t Code;
    } cases[] = {
        {"source too short", 20, [](TFakeStream &) {}, 0x1004},
        {"short write", 10, [](TFakeStream &o) { o.OnWrite = [](const void *, int64_t n) { return n / 2; }; }, 0x1007},
        {"write raises", 10, [](TFakeStream &o) { o.OnWrite = [](const void *, int64_t) -> int64_t { throw EWriteFileStreamError(5); }; }, 0x1005},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryStream in(QByteArray("0123456789"));
        TFakeStream out;
        c.Arrange(out);
        auto t = std::make_shared<TCopyStreamThread>(in, out, c.Length, false, 4);
        RunToEnd(t);
        EXPECT_EQ(t->ErrorCode(), c.Code);
    }
}

} // namespace
} // namespace vl
