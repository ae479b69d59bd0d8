#include "engine/ZLibEx.h"

#include "core/FileStream.h"
#include "core/StringUtils.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace vl {
namespace {

// ---- Fixtures ----

// Half text-like (compressible), half random: both deflate paths.
QByteArray MixedData(int size, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    const char words[] = "backup restore verify cleanup schedule ";
    for (int i = 0; i < size; ++i)
        data[i] = (i / 4096) % 2 ? char(rng()) : words[(i + i / 97) % (sizeof(words) - 1)];
    return data;
}

QByteArray RandomData(int size, uint32_t seed)
{
    std::mt19937 rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (auto &c : data)
        c = char(rng());
    return data;
}

// zlib directly, as the independent reference.
QByteArray ZDeflate(const QByteArray &in, int level, int windowBits)
{
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&s, uLong(in.size()))), Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    s.avail_in = uInt(in.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(int(s.total_out));
    deflateEnd(&s);
    return out;
}

QByteArray ZInflate(const QByteArray &in, int windowBits)
{
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, windowBits), Z_OK);
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    s.avail_in = uInt(in.size());
    QByteArray out;
    char buf[16384];
    int rc;
    do {
        s.next_out = reinterpret_cast<Bytef *>(buf);
        s.avail_out = sizeof(buf);
        rc = inflate(&s, Z_NO_FLUSH);
        out.append(buf, int(sizeof(buf) - s.avail_out));
    } while (rc == Z_OK);
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&s);
    return out;
}

QByteArray Compress(const QByteArray &data, TZCompressionLevel level, int windowBits, int chunk = 1 << 20)
{
    TMemoryStream target;
    TZCompressionStream z(target, level, windowBits);
    for (int at = 0; at < data.size(); at += chunk)
        EXPECT_EQ(z.Write(data.constData() + at, std::min(chunk, int(data.size()) - at)),
                  std::min(chunk, int(data.size()) - at));
    z.Finish();
    return target.Data();
}

QByteArray ReadAll(TZDecompressionStream &z, int chunk = 7777)
{
    QByteArray out;
    std::vector<char> buf(chunk);
    for (;;) {
        const int64_t n = z.Read(buf.data(), chunk);
        EXPECT_GE(n, 0);
        if (n <= 0)
            break;
        out.append(buf.data(), int(n));
    }
    return out;
}

// A memory stream that records what was read from it and can fail reads
// and writes the way files do.
class TProbeStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;

    int64_t BytesRead = 0;
    int64_t FurthestRead = 0; // position after the furthest byte read
    int64_t WriteRoom = -1;   // bytes that still fit; -1 unlimited
    uint32_t WriteErrorCode = ERROR_DISK_FULL;
    bool FailReads = false;

    int64_t Read(void *buffer, int64_t count) override
    {
        if (FailReads) {
            FError = ERROR_IO_DEVICE;
            return -1;
        }
        const int64_t n = TMemoryStream::Read(buffer, count);
        BytesRead += n;
        FurthestRead = std::max(FurthestRead, Position());
        return n;
    }
    int64_t Write(const void *buffer, int64_t count) override
    {
        if (WriteRoom < 0)
            return TMemoryStream::Write(buffer, count);
        const int64_t n = std::min(count, WriteRoom);
        if (n < count)
            FError = WriteErrorCode;
        if (n == 0)
            return -1;
        WriteRoom -= n;
        return TMemoryStream::Write(buffer, n);
    }
    uint32_t LastError() const override { return FError; }

private:
    uint32_t FError = 0;
};

// ---- Round trips ----

TEST(ZLibEx, RoundTripMatchesZlibAtEveryLevel)
{
    const struct {
        TZCompressionLevel Level;
        int ZLevel;
    } levels[] = {{TZCompressionLevel::zcNone, 0},
                  {TZCompressionLevel::zcFastest, 1},
                  {TZCompressionLevel::zcDefault, 6},
                  {TZCompressionLevel::zcMax, 9}};
    const QByteArray inputs[] = {QByteArray(), QByteArray("x"), MixedData(300000), RandomData(70000, 5)};
    for (const int bits : {-15, 15}) {
        for (const auto &l : levels) {
            for (const QByteArray &in : inputs) {
                SCOPED_TRACE(testing::Message() << "bits " << bits << " level " << l.ZLevel << " size " << in.size());
                const QByteArray packed = Compress(in, l.Level, bits, 10007);
                // Written in uneven pieces, the output is zlib's own at that
                // level; stored blocks follow the pieces, so level 0 is only
                // checked for storing.
                if (l.ZLevel > 0)
                    EXPECT_TRUE(packed == ZDeflate(in, l.ZLevel, bits));
                else
                    EXPECT_GE(packed.size(), in.size() + (bits > 0 ? 6 : 0));
                EXPECT_TRUE(ZInflate(packed, bits) == in);

                TMemoryStream source(packed);
                TZDecompressionStream z(source, int32_t(bits), 0);
                EXPECT_TRUE(ReadAll(z) == in);
                EXPECT_EQ(source.Position(), packed.size());
            }
        }
    }
}

TEST(ZLibEx, EmptyInputStillGivesTheEmptyDeflateStream)
{
    for (const bool explicitFinish : {false, true}) {
        TMemoryStream raw, wrapped;
        {
            TZCompressionStream a(raw, TZCompressionLevel::zcDefault, -15);
            TZCompressionStream b(wrapped);
            if (explicitFinish) {
                a.Finish();
                b.Finish();
                a.Finish(); // a second call adds nothing
            }
        }
        EXPECT_EQ(raw.Data(), QByteArray("\x03\x00", 2));
        EXPECT_EQ(wrapped.Data(), ZDeflate(QByteArray(), 6, 15));
    }
}

TEST(ZLibEx, OtherConstructorsUseZlibFormatAndTheirLevel)
{
    const QByteArray in = MixedData(50000);
    TMemoryStream fast, deflt;
    {
        TZCompressionStream a(TCompressionLevel::clFastest, fast);
        TZCompressionStream b(deflt);
        a.Write(in.constData(), in.size());
        b.Write(in.constData(), in.size());
    }
    EXPECT_EQ(fast.Data(), ZDeflate(in, 1, 15));
    EXPECT_EQ(deflt.Data(), ZDeflate(in, 6, 15));

    TMemoryStream source(deflt.Data());
    TZDecompressionStream z(source);
    EXPECT_TRUE(ReadAll(z) == in);
}

TEST(ZLibEx, WriteAfterFinishAndBadWindowBitsRaise)
{
    TMemoryStream target;
    TZCompressionStream z(target, TZCompressionLevel::zcDefault, -15);
    z.Finish();
    EXPECT_THROW(z.Write("a", 1), EZCompressionError);
    EXPECT_THROW(TZCompressionStream(target, TZCompressionLevel::zcDefault, 3), EZCompressionError);
    TMemoryStream source;
    EXPECT_THROW(TZDecompressionStream(source, int32_t(3), 0), EZDecompressionError);
}

// ---- Length limit and source position ----

TEST(ZLibEx, LengthLimitIsNeverExceeded)
{
    const QByteArray data = RandomData(200000, 9); // incompressible: > 3 input blocks
    const QByteArray member = Compress(data, TZCompressionLevel::zcDefault, -15);
    const QByteArray tail(100000, 'T');
    const struct {
        int64_t Start;
        int64_t Limit;
    } cases[] = {{0, 10}, {0, 1}, {7, 65536}, {7, 65537}, {3, member.size() - 1}, {3, member.size()}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.Start << " limit " << c.Limit);
        TProbeStream source(QByteArray(int(c.Start), 'P') + member + tail);
        source.SetPosition(c.Start);
        TZDecompressionStream z(source, int32_t(-15), c.Limit);
        const QByteArray out = ReadAll(z, 65536);
        EXPECT_LE(source.FurthestRead, c.Start + c.Limit);
        EXPECT_LE(source.BytesRead, c.Limit);
        EXPECT_TRUE(data.startsWith(out));
        if (c.Limit >= member.size()) {
            EXPECT_TRUE(out == data);
            EXPECT_EQ(source.Position(), c.Start + member.size());
        } else {
            EXPECT_LT(out.size(), data.size());
        }
    }

    // The limit given as the two-argument form (zlib data).
    const QByteArray wrapped = Compress(data, TZCompressionLevel::zcFastest, 15);
    TProbeStream source(wrapped.left(100));
    TZDecompressionStream z(source, int64_t(10));
    ReadAll(z);
    EXPECT_EQ(source.BytesRead, 10);
}

TEST(ZLibEx, SourceStandsRightAfterEachMember)
{
    // Small members end inside one input block, the large one in a later one.
    const QByteArray first = MixedData(1000, 2), second = RandomData(150000, 3), third = QByteArray();
    const QByteArray m1 = Compress(first, TZCompressionLevel::zcMax, -15);
    const QByteArray m2 = Compress(second, TZCompressionLevel::zcDefault, -15);
    const QByteArray m3 = Compress(third, TZCompressionLevel::zcDefault, -15);
    TMemoryStream source("HEAD" + m1 + "TRL1" + m2 + "TRL2" + m3 + "TRL3" + QByteArray(200000, 'x'));
    source.SetPosition(4);
    int64_t expectPos = 4;
    const struct {
        const QByteArray &Data;
        const QByteArray &Member;
        const char *Trailer;
    } members[] = {{first, m1, "TRL1"}, {second, m2, "TRL2"}, {third, m3, "TRL3"}};
    for (const auto &m : members) {
        {
            TZDecompressionStream z(source, int32_t(-15), 0);
            EXPECT_TRUE(ReadAll(z, 65536) == m.Data);
            EXPECT_EQ(z.Read(nullptr, 0), 0);
            char more[16];
            EXPECT_EQ(z.Read(more, sizeof(more)), 0); // past the end: nothing, no move
        }
        expectPos += m.Member.size();
        EXPECT_EQ(source.Position(), expectPos);
        char trailer[4];
        ASSERT_EQ(source.Read(trailer, 4), 4);
        EXPECT_EQ(QByteArray(trailer, 4), QByteArray(m.Trailer));
        expectPos += 4;
    }
}

TEST(ZLibEx, ReadingResumesWhereItLeftWhenTheSourceWasMovedMeanwhile)
{
    const QByteArray data = MixedData(200000, 4);
    const QByteArray packed = Compress(data, TZCompressionLevel::zcDefault, 15);
    TMemoryStream source(packed);
    TZDecompressionStream z(source);
    QByteArray out(data.size(), Qt::Uninitialized);
    ASSERT_EQ(z.Read(out.data(), 1000), 1000);
    source.SetPosition(0);
    ASSERT_EQ(z.Read(out.data() + 1000, data.size() - 1000), data.size() - 1000);
    EXPECT_TRUE(out == data);

    // The same for the compression stream: something else wrote to the
    // target meanwhile and left it elsewhere.
    TMemoryStream target;
    {
        TZCompressionStream c(target, TZCompressionLevel::zcNone, -15);
        c.Write(data.constData(), 100000);
        target.SetPosition(0);
        c.Write(data.constData() + 100000, data.size() - 100000);
    }
    EXPECT_TRUE(ZInflate(target.Data(), -15) == data);
}

// ---- Damaged input ----

TEST(ZLibEx, DamagedAndTruncatedInputRaisesOrEndsShort)
{
    const QByteArray data = MixedData(120000, 6);
    std::mt19937 rng(1234);
    int raised = 0;
    for (const int bits : {-15, 15}) {
        const QByteArray packed = Compress(data, TZCompressionLevel::zcDefault, bits);
        for (int round = 0; round < 200; ++round) {
            QByteArray bad = packed;
            const int kind = round % 4;
            if (kind == 0) {
                bad.truncate(int(rng() % uint32_t(packed.size())));
            } else if (kind == 1) {
                for (int i = 0, n = 1 + int(rng() % 8); i < n; ++i)
                    bad[int(rng() % uint32_t(bad.size()))] = char(rng());
            } else if (kind == 2) {
                bad = RandomData(int(rng() % 5000), rng());
            } else {
                bad[int(rng() % 64)] ^= char(1 << (rng() % 8));
                bad.truncate(int(rng() % uint32_t(packed.size())));
            }
            TMemoryStream source(bad);
            try {
                TZDecompressionStream z(source, int32_t(bits), 0);
                const QByteArray out = ReadAll(z, 4096);
                // Cutting off never invents data: what comes is the start.
                if (kind == 0) {
                    EXPECT_TRUE(data.startsWith(out)) << "cut at " << bad.size();
                }
            } catch (const EZDecompressionError &e) {
                ++raised;
                EXPECT_FALSE(e.Message().isEmpty());
            }
        }
    }
    EXPECT_GT(raised, 100);
}

TEST(ZLibEx, PresetDictionaryStreamRaisesInsteadOfSpinning)
{
    z_stream s{};
    ASSERT_EQ(deflateInit(&s, 6), Z_OK);
    const char dict[] = "dictionary";
    deflateSetDictionary(&s, reinterpret_cast<const Bytef *>(dict), sizeof(dict));
    char in[] = "dictionary dictionary", out[256];
    s.next_in = reinterpret_cast<Bytef *>(in);
    s.avail_in = sizeof(in);
    s.next_out = reinterpret_cast<Bytef *>(out);
    s.avail_out = sizeof(out);
    ASSERT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    TMemoryStream source(QByteArray(out, int(s.total_out)));
    deflateEnd(&s);
    TZDecompressionStream z(source);
    char buf[64];
    EXPECT_THROW(z.Read(buf, sizeof(buf)), EZDecompressionError);
}

TEST(ZLibEx, FailingSourceRaisesReadError)
{
    TProbeStream source(Compress(MixedData(1000), TZCompressionLevel::zcDefault, -15));
    source.FailReads = true;
    TZDecompressionStream z(source, int32_t(-15), 0);
    char buf[64];
    try {
        z.Read(buf, sizeof(buf));
        FAIL() << "no exception";
    } catch (const EReadError &e) {
        EXPECT_EQ(e.Message(), SystemErrorText(ERROR_IO_DEVICE));
    }
}

// ---- Seek ----

TEST(ZLibEx, CompressionStreamSeeksOnlyToItsPosition)
{
    TMemoryStream target;
    TZCompressionStream z(target, TZCompressionLevel::zcDefault, -15);
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soCurrent), 0);
    const QByteArray data = MixedData(100000);
    z.Write(data.constData(), data.size());
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soCurrent), data.size());
    EXPECT_EQ(z.Position(), data.size());
    const struct {
        int64_t Offset;
        TSeekOrigin Origin;
    } bad[] = {{1, TSeekOrigin::soCurrent}, {-1, TSeekOrigin::soCurrent}, {0, TSeekOrigin::soBeginning},
               {0, TSeekOrigin::soEnd}, {100000, TSeekOrigin::soBeginning}};
    for (const auto &b : bad)
        EXPECT_THROW(z.Seek(b.Offset, b.Origin), EZCompressionError);
    char buf[4];
    EXPECT_THROW(z.Read(buf, 4), EZCompressionError);
    EXPECT_FALSE(z.SetSize(0));
    z.Finish();
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soCurrent), data.size());
}

TEST(ZLibEx, DecompressionStreamSeeks)
{
    const QByteArray data = MixedData(100000, 8);
    const QByteArray member = Compress(data, TZCompressionLevel::zcDefault, -15);
    TProbeStream source("ab" + member + "trailer");
    source.SetPosition(2);
    TZDecompressionStream z(source, int32_t(-15), member.size());
    char buf[100];

    EXPECT_EQ(z.Seek(20000, TSeekOrigin::soCurrent), 20000);
    ASSERT_EQ(z.Read(buf, 100), 100);
    EXPECT_EQ(QByteArray(buf, 100), data.mid(20000, 100));
    EXPECT_EQ(z.Seek(30000, TSeekOrigin::soBeginning), 30000);
    ASSERT_EQ(z.Read(buf, 100), 100);
    EXPECT_EQ(QByteArray(buf, 100), data.mid(30000, 100));
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soCurrent), 30100);

    // Backwards only to the start; a restart gets the full allowance again.
    EXPECT_THROW(z.Seek(100, TSeekOrigin::soBeginning), EZDecompressionError);
    EXPECT_THROW(z.Seek(-1, TSeekOrigin::soCurrent), EZDecompressionError);
    EXPECT_THROW(z.Seek(-5, TSeekOrigin::soEnd), EZDecompressionError);
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soEnd), data.size());
    EXPECT_EQ(source.Position(), 2 + member.size());
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soBeginning), 0);
    EXPECT_TRUE(ReadAll(z) == data);
    EXPECT_LE(source.FurthestRead, 2 + member.size());

    // Size inflates everything and keeps the reading position.
    z.Seek(0, TSeekOrigin::soBeginning);
    z.Seek(500, TSeekOrigin::soCurrent);
    EXPECT_EQ(z.Size(), data.size());
    ASSERT_EQ(z.Read(buf, 100), 100);
    EXPECT_EQ(QByteArray(buf, 100), data.mid(500, 100));

    // Forward past the end fails.
    EXPECT_THROW(z.Seek(data.size() + 1, TSeekOrigin::soBeginning), EZDecompressionError);
    EXPECT_THROW(z.Write(buf, 1), EZDecompressionError);
    EXPECT_FALSE(z.SetSize(0));
}

// ---- Write errors ----

TEST(ZLibEx, FullTargetRaisesWriteFileStreamErrorWithItsCode)
{
    const QByteArray data = RandomData(400000, 11);
    const struct {
        int64_t Room;      // bytes the target takes
        uint32_t Code;     // its LastError after a short write
        bool FailsInWrite; // else only the last, partial block fails
    } cases[] = {{100000, ERROR_DISK_FULL, true},
                 {0, ERROR_DISK_FULL, true},
                 {65536 * 6 + 10, ERROR_DISK_FULL, false},
                 {100000, ERROR_ACCESS_DENIED, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "room " << c.Room << " code " << c.Code);
        TProbeStream target;
        target.WriteRoom = c.Room;
        target.WriteErrorCode = c.Code;
        TZCompressionStream z(target, TZCompressionLevel::zcNone, -15);
        try {
            z.Write(data.constData(), data.size());
            EXPECT_FALSE(c.FailsInWrite);
            z.Finish();
            FAIL() << "no exception";
        } catch (const EWriteFileStreamError &e) {
            EXPECT_EQ(e.ErrorCode(), int32_t(c.Code));
            EXPECT_EQ(e.Message(), QStringLiteral("System error: ") + ZLibErrorText(c.Code));
        }
    }

    // A short write of a stream that keeps no error number.
    class TShortStream : public TMemoryStream {
    public:
        int64_t Write(const void *buffer, int64_t count) override { return TMemoryStream::Write(buffer, count / 2); }
    } shortTarget;
    TZCompressionStream z(shortTarget, TZCompressionLevel::zcNone, -15);
    EXPECT_THROW(z.Write(data.constData(), data.size()), EWriteError);
}

TEST(ZLibEx, DestructorSwallowsFinalWriteError)
{
    TProbeStream target;
    target.WriteRoom = 0;
    EXPECT_NO_THROW({ TZCompressionStream z(target, TZCompressionLevel::zcDefault, -15); });
}

TEST(ZLibEx, TargetsOwnWriteErrorPassesThrough)
{
    class TThrowingStream : public TMemoryStream {
    public:
        int64_t Write(const void *, int64_t) override { throw EWriteFileStreamError(ERROR_ACCESS_DENIED); }
    } target;
    TZCompressionStream z(target, TZCompressionLevel::zcDefault, -15);
    try {
        z.Write("abc", 3);
        z.Finish();
        FAIL() << "no exception";
    } catch (const EWriteFileStreamError &e) {
        EXPECT_EQ(e.ErrorCode(), int32_t(ERROR_ACCESS_DENIED));
    }
}

TEST(ZLibEx, FullDeviceGivesDiskFull)
{
    std::unique_ptr<TExtFileStream> full;
    try {
        full = std::make_unique<TExtFileStream>(QStringLiteral("/dev/full"), uint16_t(0x0001));
    } catch (const EExtFileStreamError &) {
        GTEST_SKIP() << "/dev/full cannot be opened here";
    }
    TZCompressionStream z(*full, TZCompressionLevel::zcFastest, -15);
    z.Write("abc", 3);
    try {
        z.Finish();
        FAIL() << "no exception";
    } catch (const EWriteFileStreamError &e) {
        EXPECT_EQ(e.ErrorCode(), int32_t(ERROR_DISK_FULL));
    }
}

TEST(ZLibEx, ErrorTextIsTheSystemText)
{
    // The text of the code alone; the exception, which the copy threads'
    // write streams raise too, makes a "System error" line of it.
    EXPECT_EQ(ZLibErrorText(ERROR_DISK_FULL), QStringLiteral("There is not enough space on the disk (0x00000070)"));
    const EWriteFileStreamError e(ERROR_DISK_FULL);
    EXPECT_EQ(e.ErrorCode(), 112);
    EXPECT_EQ(e.Message(), QStringLiteral("System error: There is not enough space on the disk (0x00000070)"));
}

// ---- Rate, progress, CRC ----

TEST(ZLibEx, CompressionRate)
{
    const struct {
        QByteArray Data;
        TZCompressionLevel Level;
    } cases[] = {{QByteArray(100000, 'z'), TZCompressionLevel::zcMax},
                 {RandomData(100000, 12), TZCompressionLevel::zcNone},
                 {MixedData(100000), TZCompressionLevel::zcDefault}};
    for (const auto &c : cases) {
        TMemoryStream target;
        TZCompressionStream z(target, c.Level, -15);
        EXPECT_EQ(z.CompressionRate(), 0.0f);
        z.Write(c.Data.constData(), c.Data.size());
        z.Finish();
        const double expected = (1.0 - double(target.Data().size()) / c.Data.size()) * 100.0;
        EXPECT_NEAR(z.CompressionRate(), expected, 1e-3);
    }
    TMemoryStream target;
    TZCompressionStream z(target, TZCompressionLevel::zcMax, -15);
    const QByteArray zeros(100000, '\0');
    z.Write(zeros.constData(), zeros.size());
    z.Finish();
    EXPECT_GT(z.CompressionRate(), 99.0f);
}

TEST(ZLibEx, ProgressFollowsBlocks)
{
    const QByteArray data = RandomData(300000, 13);
    TMemoryStream target;
    int compressEvents = 0;
    {
        TZCompressionStream z(target, TZCompressionLevel::zcNone, -15);
        z.OnProgress = [&] { ++compressEvents; };
        z.Write(data.constData(), data.size());
        EXPECT_EQ(compressEvents, int(target.Data().size() / 65536));
    }
    TMemoryStream source(target.Data());
    int decompressEvents = 0;
    TZDecompressionStream z(source, int32_t(-15), 0);
    z.OnProgress = [&] { ++decompressEvents; };
    EXPECT_TRUE(ReadAll(z) == data);
    EXPECT_EQ(decompressEvents, int((target.Data().size() + 65535) / 65536));
}

TEST(ZLibEx, UpdateCrc32)
{
    const char text[] = "123456789";
    EXPECT_EQ(UpdateCrc32(0, text, 9), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc32(UpdateCrc32(0, text, 4), text + 4, 5), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc32(0, text, 0), 0u);
    EXPECT_EQ(UpdateCrc32(0, nullptr, 0), 0u);
    EXPECT_EQ(UpdateCrc32(0xCBF43926u, nullptr, 0), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc32(0xCBF43926u, text, 0), 0xCBF43926u);
    const QByteArray big = RandomData(1 << 20, 14);
    uint32_t pieces = 0;
    for (int at = 0; at < big.size(); at += 1000)
        pieces = UpdateCrc32(pieces, big.constData() + at, std::min(1000, int(big.size()) - at));
    EXPECT_EQ(pieces, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(big.constData()), uInt(big.size()))));
}

} // namespace
} // namespace vl
