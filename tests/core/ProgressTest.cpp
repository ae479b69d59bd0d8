#include "core/Progress.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

using namespace vl;

namespace {

QString Digest(uint8_t kind, TStream &stream, int32_t bufSize, const TDigestProgressEvent &progress = {})
{
    QString digest = QStringLiteral("unset");
    StreamDigest(kind, stream, bufSize, digest, progress);
    return digest;
}

QString Digest(uint8_t kind, const QByteArray &data, int32_t bufSize)
{
    TMemoryStream stream(data);
    return Digest(kind, stream, bufSize);
}

// The progress window picks its texts by these ordinals.
static_assert(uint8_t(TFileAction::acNone) == 0);
static_assert(uint8_t(TFileAction::acVerify) == 6);
static_assert(uint8_t(TFileAction::acAddVerify) == 8);
static_assert(uint8_t(TFileAction::acScan) == 11);
static_assert(uint8_t(TFileAction::acPrepare) == 14);

TEST(StreamDigest, KnownVectors)
{
    const char *md5Empty = "d41d8cd98f00b204e9800998ecf8427e";
    const char *md5Abc = "900150983cd24fb0d6963f7d28e17f72";
    const struct {
        uint8_t kind;
        const char *empty;
        const char *abc;
    } cases[] = {
        {0, md5Empty, md5Abc},
        {1, "da39a3ee5e6b4b0d3255bfef95601890afd80709", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {2, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {3, md5Empty, md5Abc},
        {255, md5Empty, md5Abc},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind));
        EXPECT_EQ(Digest(c.kind, QByteArray(), 0x2000000), QString::fromLatin1(c.empty));
        EXPECT_EQ(Digest(c.kind, QByteArrayLiteral("abc"), 0x2000000), QString::fromLatin1(c.abc));
        EXPECT_EQ(Digest(c.kind, QByteArrayLiteral("abc"), 1), QString::fromLatin1(c.abc));
    }
}

TEST(StreamDigest, BlocksOfAnySizeGiveTheWholeDigest)
{
    QByteArray data(100003, Qt::Uninitialized);
    uint32_t x = 12345;
    for (char &ch : data) {
        x = x * 1103515245u + 12345u;
        ch = char(x >> 24);
    }
    const std::pair<uint8_t, QCryptographicHash::Algorithm> kinds[] = {
        {0, QCryptographicHash::Md5}, {1, QCryptographicHash::Sha1}, {2, QCryptographicHash::Sha256}};
    for (const auto &[kind, algorithm] : kinds) {
        const QString expected = QString::fromLatin1(QCryptographicHash::hash(data, algorithm).toHex());
        // 0 and negative sizes take a default block size.
        for (int32_t bufSize : {1, 7, 4096, 100003, 1 << 20, 0, -5}) {
            SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " buffer " << bufSize);
            EXPECT_EQ(Digest(kind, data, bufSize), expected);
        }
    }
}

TEST(StreamDigest, StartsAtTheCurrentPosition)
{
    TMemoryStream stream(QByteArrayLiteral("xyabc"));
    stream.SetPosition(2);
    EXPECT_EQ(Digest(0, stream, 4), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(stream.Position(), 5);
    // At the end: the digest of empty input.
    EXPECT_EQ(Digest(0, stream, 4), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
}

using TSteps = std::vector<std::pair<int, int64_t>>;

TEST(StreamDigest, ReportsProgress)
{
    TMemoryStream stream(QByteArrayLiteral("0123456789"));
    stream.SetPosition(1);
    TSteps steps;
    const QString digest = Digest(1, stream, 4, [&](uint8_t step, int64_t value) { steps.emplace_back(step, value); });
    EXPECT_EQ(digest, QString::fromLatin1(QCryptographicHash::hash("123456789", QCryptographicHash::Sha1).toHex()));
    const TSteps expected = {{0, 10}, {3, 4}, {2, 5}, {3, 4}, {2, 9}, {3, 1}, {2, 10}, {1, 10}};
    EXPECT_EQ(steps, expected);
}

TEST(StreamDigest, CancelFromProgressStopsAfterTheBlock)
{
    TMemoryStream stream(QByteArrayLiteral("0123456789"));
    TSteps steps;
    const QString digest = Digest(2, stream, 4, [&](uint8_t step, int64_t value) {
        steps.emplace_back(step, value);
        if (step == hpPosition)
            HashCancel = true;
    });
    EXPECT_TRUE(digest.isEmpty());
    EXPECT_EQ(stream.Position(), 4);
    const TSteps expected = {{0, 10}, {3, 4}, {2, 4}, {1, 10}};
    EXPECT_EQ(steps, expected);

    // A flag left set from before is cleared when a digest starts.
    HashCancel = true;
    EXPECT_EQ(Digest(0, QByteArrayLiteral("abc"), 4), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_FALSE(HashCancel);
}

// A stream whose n-th read fails after skipping its block, or whose size
// claims more bytes than it holds.
class TFaultyStream : public TMemoryStream {
public:
    TFaultyStream(QByteArray data, int failingRead, int64_t claimedSize)
        : TMemoryStream(std::move(data)), FFailingRead(failingRead), FClaimedSize(claimedSize) {}

    int64_t Read(void *buffer, int64_t count) override
    {
        if (++FReads == FFailingRead) {
            Seek(count, TSeekOrigin::soCurrent);
            return -1;
        }
        const int64_t n = TMemoryStream::Read(buffer, count);
        if (n == 0)
            ++FEmptyReads;
        return n;
    }
    // Gives up the claim once a reader keeps reading at the end, so a
    // looping reader fails the test instead of hanging it.
    int64_t Size() override { return FEmptyReads > 3 ? TMemoryStream::Size() : FClaimedSize; }

    int FEmptyReads = 0;

private:
    int FFailingRead;
    int64_t FClaimedSize;
    int FReads = 0;
};

TEST(StreamDigest, ReadFailureGivesNoDigest)
{
    TFaultyStream failing(QByteArrayLiteral("abcdefghijkl"), 2, 12);
    EXPECT_TRUE(Digest(0, failing, 4).isEmpty());

    TFaultyStream shorter(QByteArrayLiteral("abcdef"), 0, 10);
    EXPECT_TRUE(Digest(0, shorter, 4).isEmpty());
    EXPECT_LE(shorter.FEmptyReads, 1);

    // The same streams without a fault.
    TFaultyStream sound(QByteArrayLiteral("abcdef"), 0, 6);
    EXPECT_EQ(Digest(0, sound, 4), QString::fromLatin1(QCryptographicHash::hash("abcdef", QCryptographicHash::Md5).toHex()));
}

} // namespace
