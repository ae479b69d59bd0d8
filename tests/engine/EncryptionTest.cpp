#include "engine/Encryption.h"

#include "core/PasswordService.h"
#include "tests/common/TestUtils.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <vector>

namespace vl {
namespace {

// ---- independent reference computation ------------------------------------

QByteArray Hex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray Pbkdf2Sha1(const QByteArray &pwd, const QByteArray &salt, int iterations, int length)
{
    QByteArray out(length, '\0');
    EXPECT_EQ(1, PKCS5_PBKDF2_HMAC(pwd.constData(), int(pwd.size()),
                                   reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()),
                                   iterations, EVP_sha1(), length, reinterpret_cast<unsigned char *>(out.data())));
    return out;
}

// One AES block in ECB mode (key length picks AES-128/192/256).
QByteArray AesBlock(const QByteArray &key, const QByteArray &block)
{
    const EVP_CIPHER *cipher = key.size() == 16   ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                                                  : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    QByteArray out(16, '\0');
    int len = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, reinterpret_cast<const unsigned char *>(key.constData()), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char *>(out.data()), &len,
                      reinterpret_cast<const unsigned char *>(block.constData()), 16);
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(16, len);
    return out;
}

// Counter block n: n as a little-endian number in the first 8 bytes, each
// byte carried into the next by hand.
QByteArray CounterBlock(uint64_t n)
{
    QByteArray b(16, '\0');
    for (uint64_t i = 0; i < n; ++i) {
        for (int j = 0; j < 8; ++j) {
            b[j] = char(static_cast<unsigned char>(b[j]) + 1);
            if (b[j] != 0)
                break;
        }
    }
    return b;
}

int KeyLen(int mode)
{
    return 8 + 8 * mode;
}

// The whole encrypted stream for a given salt, built block by block.
QByteArray ReferenceStream(const QByteArray &pwd, const QByteArray &salt, int mode, const QByteArray &plain)
{
    const int keyLen = KeyLen(mode);
    const QByteArray keys = Pbkdf2Sha1(pwd, salt, 1000, 2 * keyLen + 2);
    const QByteArray aesKey = keys.left(keyLen);
    const QByteArray macKey = keys.mid(keyLen, keyLen);
    QByteArray cipher = plain;
    QByteArray counter(16, '\0');
    for (qsizetype i = 0; i < plain.size(); i += 16) {
        const uint64_t blockNo = uint64_t(i / 16) + 1;
        if (blockNo % 200 == 1)
            counter = CounterBlock(blockNo); // spot-check the cheap increment below
        const QByteArray ks = AesBlock(aesKey, counter);
        for (qsizetype j = i; j < std::min<qsizetype>(i + 16, plain.size()); ++j)
            cipher[j] = char(cipher[j] ^ ks[j - i]);
        for (int j = 0; j < 8; ++j) {
            counter[j] = char(static_cast<unsigned char>(counter[j]) + 1);
            if (counter[j] != 0)
                break;
        }
    }
    unsigned char mac[20];
    unsigned int macLen = 0;
    HMAC(EVP_sha1(), macKey.constData(), int(macKey.size()), reinterpret_cast<const unsigned char *>(cipher.constData()),
         size_t(cipher.size()), mac, &macLen);
    return salt + keys.right(2) + cipher + QByteArray(reinterpret_cast<const char *>(mac), 10);
}

QByteArray RandomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, '\0');
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

// ---- test streams ----------------------------------------------------------

// Reads at most Chunk bytes per call, counts what was read, and fails (-1)
// once FailAt bytes have been read.
class TTestSource : public TMemoryStream {
public:
    explicit TTestSource(QByteArray data, int64_t chunk = 1 << 30, int64_t failAt = -1)
        : TMemoryStream(std::move(data)), Chunk(chunk), FailAt(failAt)
    {
    }
    int64_t Read(void *buffer, int64_t count) override
    {
        if (FailAt >= 0 && Consumed >= FailAt)
            return -1;
        if (++Reads > 100000)
            return -1; // a reader polling an ended source fails the test instead of hanging it
        const int64_t n = TMemoryStream::Read(buffer, std::min(count, Chunk));
        Consumed += n;
        return n;
    }
    int64_t Chunk;
    int64_t FailAt;
    int64_t Consumed = 0;
    int Reads = 0;
};

// Accepts Limit bytes, then fails.
class TFullDest : public TMemoryStream {
public:
    explicit TFullDest(int64_t limit) : Limit(limit) {}
    int64_t Write(const void *buffer, int64_t count) override
    {
        if (Data().size() + count > Limit)
            return -1;
        return TMemoryStream::Write(buffer, count);
    }
    int64_t Limit;
};

QByteArray Encrypt(TEncryption &crypt, const QByteArray &plain)
{
    TMemoryStream src(plain);
    TMemoryStream dst;
    EXPECT_TRUE(crypt.EncryptStream(src, dst, false));
    return dst.Data();
}

TOpResult Decrypt(TEncryption &crypt, const QByteArray &cipher, QByteArray *plain = nullptr)
{
    TMemoryStream src(cipher);
    TMemoryStream dst;
    const TOpResult r = crypt.DecryptStreamEx(src, plain ? &dst : nullptr, cipher.size(), false, {});
    if (plain)
        *plain = dst.Data();
    return r;
}

// ---- known answers ---------------------------------------------------------

// The reference above is only as good as its primitives: pin them to
// published vectors first.
TEST(Encryption, ReferencePrimitivesMatchPublishedVectors)
{
    struct {
        const char *pwd, *salt;
        int iterations, length;
        const char *expected;
    } const pbkdf2[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
    };
    for (const auto &v : pbkdf2)
        EXPECT_EQ(Hex(v.expected), Pbkdf2Sha1(v.pwd, v.salt, v.iterations, v.length)) << v.pwd << " " << v.iterations;

    const QByteArray plain = Hex("00112233445566778899aabbccddeeff");
    EXPECT_EQ(Hex("69c4e0d86a7b0430d8cdb78070b4c55a"), AesBlock(Hex("000102030405060708090a0b0c0d0e0f"), plain));
    EXPECT_EQ(Hex("dda97ca4864cdfe06eaf70a0ec0d7191"),
              AesBlock(Hex("000102030405060708090a0b0c0d0e0f1011121314151617"), plain));
    EXPECT_EQ(Hex("8ea2b7ca516745bfeafc49904b496089"),
              AesBlock(Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"), plain));

    EXPECT_EQ(Hex("01000000000000000000000000000000"), CounterBlock(1));
    EXPECT_EQ(Hex("00010000000000000000000000000000"), CounterBlock(256));
    EXPECT_EQ(Hex("01010000000000000000000000000000"), CounterBlock(257));
}

// Salt, verifier, key-stream blocks 1, 2, ... (past the carry at 256) and
// the truncated HMAC all as computed independently, for every key mode.
TEST(Encryption, StreamMatchesIndependentComputation)
{
    const QByteArray pwd = "correct horse";
    const QByteArray plain = RandomBytes(16 * 300 + 7, 1);
    for (int mode = 1; mode <= 3; ++mode) {
        SCOPED_TRACE(mode);
        TEncryption crypt(pwd, mode, 1000);
        const QByteArray out = Encrypt(crypt, plain);
        const int saltLen = 4 + 4 * mode;
        ASSERT_EQ(saltLen + 2 + plain.size() + 10, out.size());
        EXPECT_EQ(ReferenceStream(pwd, out.left(saltLen), mode, plain), out);

        // And the other way: a stream built by the reference with a fixed salt.
        const QByteArray salt = RandomBytes(saltLen, 100 + mode);
        QByteArray back;
        EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, ReferenceStream(pwd, salt, mode, plain), &back));
        EXPECT_EQ(plain, back);
    }
}

// Encrypting all-zero data exposes the raw key stream; its split into AES
// key, HMAC key and verifier is checked against PBKDF2 output directly.
TEST(Encryption, KeyStreamAndKeySplit)
{
    const QByteArray pwd = "password";
    TEncryption crypt(pwd, 1, 4096);
    TMemoryStream dst;
    ASSERT_TRUE(crypt.WriteHeader(dst));
    QByteArray zeros(16 * 257, '\0');
    crypt.EncryptBlock(zeros.data(), zeros.size());
    ASSERT_TRUE(crypt.WriteTrailer(dst));
    const QByteArray salt = dst.Data().left(8);
    const QByteArray keys = Pbkdf2Sha1(pwd, salt, 1000, 34);
    EXPECT_EQ(keys.mid(32, 2), dst.Data().mid(8, 2));
    EXPECT_EQ(AesBlock(keys.left(16), CounterBlock(1)), zeros.left(16));
    EXPECT_EQ(AesBlock(keys.left(16), CounterBlock(255)), zeros.mid(254 * 16, 16));
    EXPECT_EQ(AesBlock(keys.left(16), CounterBlock(256)), zeros.mid(255 * 16, 16));
    EXPECT_EQ(AesBlock(keys.left(16), CounterBlock(257)), zeros.mid(256 * 16, 16));
    unsigned char mac[20];
    unsigned int macLen = 0;
    HMAC(EVP_sha1(), keys.constData() + 16, 16, reinterpret_cast<const unsigned char *>(zeros.constData()),
         size_t(zeros.size()), mac, &macLen);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(mac), 10), dst.Data().right(10));
}

// ---- interoperability with an independent zip tool -------------------------

QString SevenZip()
{
    return QStandardPaths::findExecutable(QStringLiteral("7z"));
}

void Put16(QByteArray &b, uint16_t v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}

void Put32(QByteArray &b, uint32_t v)
{
    Put16(b, uint16_t(v & 0xFFFF));
    Put16(b, uint16_t(v >> 16));
}

uint32_t Get32(const QByteArray &b, qsizetype at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

uint16_t Get16(const QByteArray &b, qsizetype at)
{
    return uint16_t(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}

// A one-entry zip archive around an encrypted stream: stored data,
// method 99 with the AES extra field (vendor version 2, no CRC).
QByteArray ZipAround(const QByteArray &name, const QByteArray &encrypted, int plainSize, int mode)
{
    QByteArray extra;
    Put16(extra, 0x9901);
    Put16(extra, 7);
    Put16(extra, 2);
    extra.append("AE");
    extra.append(char(mode));
    Put16(extra, 0);
    auto common = [&](QByteArray &h) {
        Put16(h, 51);      // version needed
        Put16(h, 1);       // encrypted
        Put16(h, 99);      // AES
        Put32(h, 0x00210000); // 1980-01-01 00:00
        Put32(h, 0);       // CRC (vendor version 2)
        Put32(h, uint32_t(encrypted.size()));
        Put32(h, uint32_t(plainSize));
        Put16(h, uint16_t(name.size()));
        Put16(h, uint16_t(extra.size()));
    };
    QByteArray zip;
    Put32(zip, 0x04034b50);
    common(zip);
    zip += name + extra + encrypted;
    const uint32_t cdAt = uint32_t(zip.size());
    QByteArray cd;
    Put32(cd, 0x02014b50);
    Put16(cd, 51);
    common(cd);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, 0);
    Put32(cd, 0);
    cd += name + extra;
    zip += cd;
    Put32(zip, 0x06054b50);
    Put32(zip, 0);
    Put16(zip, 1);
    Put16(zip, 1);
    Put32(zip, uint32_t(cd.size()));
    Put32(zip, cdAt);
    Put16(zip, 0);
    return zip;
}

TEST(Encryption, InteroperatesWithIndependentZipTool)
{
    const QString tool = SevenZip();
    if (tool.isEmpty())
        GTEST_SKIP() << "7z not installed";
    const QString dir = test::MakeTempDir();
    const QByteArray plain = RandomBytes(70000, 7);
    test::WriteBytes(dir + QStringLiteral("/f.bin"), plain);
    struct {
        QString method;
        int mode;
    } const cases[] = {{QStringLiteral("AES128"), 1}, {QStringLiteral("AES192"), 2}, {QStringLiteral("AES256"), 3}};
    const QString password = QStringLiteral("S3cret pass"); // the tool takes only ASCII for zip
    for (const auto &c : cases) {
        SCOPED_TRACE(c.method.toStdString());
        // Theirs -> ours.
        const QString theirs = QStringLiteral("%1/theirs-%2.zip").arg(dir, c.method);
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(tool, {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-mem=") + c.method,
                       QStringLiteral("-mx=0"), QStringLiteral("-p") + password, theirs, QStringLiteral("f.bin")});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(0, p.exitCode()) << p.readAllStandardError().constData();
        const QByteArray zip = test::ReadBytes(theirs);
        ASSERT_EQ(0x04034b50u, Get32(zip, 0));
        const uint32_t size = Get32(zip, 18);
        const qsizetype dataAt = 30 + Get16(zip, 26) + Get16(zip, 28);
        TEncryption crypt(password, c.mode, 4096);
        QByteArray back;
        EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, zip.mid(dataAt, size), &back));
        EXPECT_EQ(plain, back);

        // Ours -> theirs.
        const QString ours = QStringLiteral("%1/ours-%2.zip").arg(dir, c.method);
        test::WriteBytes(ours, ZipAround("g.bin", Encrypt(crypt, plain), int(plain.size()), c.mode));
        QProcess x;
        x.setWorkingDirectory(dir);
        x.start(tool, {QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-p") + password,
                       QStringLiteral("-o%1/out-%2").arg(dir, c.method), ours});
        ASSERT_TRUE(x.waitForFinished(60000));
        EXPECT_EQ(0, x.exitCode()) << x.readAllStandardOutput().constData();
        EXPECT_EQ(plain, test::ReadBytes(QStringLiteral("%1/out-%2/g.bin").arg(dir, c.method)));
    }
}

// ---- behaviour -------------------------------------------------------------

TEST(Encryption, RoundTripsAcrossSizesAndBuffers)
{
    const qsizetype sizes[] = {0, 1, 15, 16, 17, 4095, 4096, 4097, 70001};
    const int32_t buffers[] = {1, 7, 16, 4096, 65536};
    for (int mode = 1; mode <= 3; ++mode) {
        for (qsizetype size : sizes) {
            const QByteArray plain = RandomBytes(size, quint32(size + mode));
            for (int b = 0; b < 5; ++b) {
                const int32_t encBuf = buffers[b];
                const int32_t decBuf = buffers[(b + 2) % 5];
                SCOPED_TRACE(testing::Message() << "mode " << mode << " size " << size << " buffers " << encBuf
                                                << "/" << decBuf);
                TEncryption enc(QByteArray("pw"), mode, encBuf);
                TEncryption dec(QByteArray("pw"), mode, decBuf);
                // A prefix before the plaintext and after the stream: both
                // operations start at the stream's position and stop at the
                // stream's end.
                TMemoryStream src("HEAD" + plain);
                src.SetPosition(4);
                TMemoryStream dst;
                ASSERT_TRUE(enc.EncryptStream(src, dst, false));
                const QByteArray cipher = dst.Data();
                ASSERT_EQ(enc.GetHeaderSize() + size + 10, cipher.size());
                TTestSource in("XY" + cipher + "TAIL", 3000);
                in.SetPosition(2);
                TMemoryStream out;
                ASSERT_EQ(TOpResult::orOk, dec.DecryptStreamEx(in, &out, cipher.size(), false, {}));
                EXPECT_EQ(plain, out.Data());
                EXPECT_EQ(2 + cipher.size(), in.Position());
            }
        }
    }
}

// The key-stream position carries over between calls of any length.
TEST(Encryption, ArbitraryBlockSplits)
{
    const QByteArray plain = RandomBytes(20000, 3);
    QRandomGenerator rng(11);
    for (int round = 0; round < 5; ++round) {
        TEncryption crypt(QByteArray("split"), 2, 4096);
        TMemoryStream dst;
        ASSERT_TRUE(crypt.WriteHeader(dst));
        QByteArray data = plain;
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype n = std::min<qsizetype>(data.size() - at, rng.bounded(round == 0 ? 2 : 5000));
            crypt.EncryptBlock(data.data() + at, n);
            at += n;
        }
        dst.Write(data.constData(), data.size());
        ASSERT_TRUE(crypt.WriteTrailer(dst));
        EXPECT_EQ(ReferenceStream("split", dst.Data().left(12), 2, plain), dst.Data());

        TMemoryStream in(dst.Data());
        ASSERT_TRUE(crypt.ReadHeader(in));
        QByteArray back = dst.Data().mid(14, plain.size());
        for (qsizetype at = 0; at < back.size();) {
            const qsizetype n = std::min<qsizetype>(back.size() - at, rng.bounded(1, 3000));
            crypt.DecryptBlock(back.data() + at, n);
            at += n;
        }
        in.SetPosition(14 + plain.size());
        EXPECT_TRUE(crypt.ReadTrailer(in));
        EXPECT_EQ(plain, back);
    }
}

TEST(Encryption, EmptyStreamIsHeaderAndTrailer)
{
    for (int mode = 1; mode <= 3; ++mode) {
        TEncryption crypt(QByteArray("pw"), mode, 512);
        EXPECT_EQ(SaltLength(mode) + 2, crypt.GetHeaderSize());
        EXPECT_EQ(10, crypt.GetTrailerSize());
        const QByteArray out = Encrypt(crypt, {});
        EXPECT_EQ(16 + 4 * mode, out.size());
        QByteArray back = "x";
        EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, out, &back));
        EXPECT_TRUE(back.isEmpty());
    }
    EXPECT_EQ(8, SaltLength(1));
    EXPECT_EQ(12, SaltLength(2));
    EXPECT_EQ(16, SaltLength(3));
    EXPECT_EQ(0, SaltLength(0));
    EXPECT_EQ(0, SaltLength(4));
}

TEST(Encryption, WrongPasswordFailsAfterHeaderOnly)
{
    const QByteArray plain = RandomBytes(50000, 5);
    TEncryption enc(QByteArray("right"), 3, 4096);
    const QByteArray cipher = Encrypt(enc, plain);
    for (TStream *dest : {static_cast<TStream *>(nullptr), static_cast<TStream *>(new TMemoryStream)}) {
        TEncryption dec(QByteArray("wrong"), 3, 4096);
        TTestSource in(cipher);
        EXPECT_EQ(TOpResult::orError, dec.DecryptStreamEx(in, dest, cipher.size(), false, {}));
        EXPECT_EQ(18, in.Consumed);
        if (dest) {
            EXPECT_EQ(0, dest->Size());
            delete dest;
        }
    }
    // A mode other than the stored one reads the wrong salt length.
    TEncryption otherMode(QByteArray("right"), 1, 4096);
    EXPECT_EQ(TOpResult::orError, Decrypt(otherMode, cipher));
}

// Every altered byte after the verifier is caught by the authentication
// code, with or without a destination; the data is read to its end first.
TEST(Encryption, AlteredDataFailsAuthentication)
{
    const QByteArray plain = RandomBytes(10000, 9);
    TEncryption crypt(QByteArray("pw"), 1, 4096);
    const QByteArray cipher = Encrypt(crypt, plain);
    for (qsizetype at : {qsizetype(10), qsizetype(11), qsizetype(5000), cipher.size() - 11, cipher.size() - 10,
                         cipher.size() - 1}) {
        SCOPED_TRACE(at);
        QByteArray bad = cipher;
        bad[at] = char(bad[at] ^ 0x01);
        for (bool withDest : {false, true}) {
            TTestSource in(bad);
            TMemoryStream out;
            EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(in, withDest ? &out : nullptr, bad.size(), false, {}));
            EXPECT_EQ(bad.size(), in.Consumed);
        }
    }
    QByteArray back;
    EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, cipher, &back)) << "the object serves the next stream after a failure";
    EXPECT_EQ(plain, back);
    EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, cipher)) << "null destination only checks";
}

TEST(Encryption, SourceEndingEarlyFailsWithoutWaiting)
{
    const QByteArray plain = RandomBytes(9000, 13);
    TEncryption crypt(QByteArray("pw"), 2, 1000);
    const QByteArray cipher = Encrypt(crypt, plain);
    for (qsizetype cut : {qsizetype(0), qsizetype(5), qsizetype(14), qsizetype(15), qsizetype(4000),
                          cipher.size() - 10, cipher.size() - 1}) {
        SCOPED_TRACE(cut);
        TTestSource in(cipher.left(cut), 100);
        TMemoryStream out;
        EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(in, &out, cipher.size(), false, {}));
        EXPECT_LT(in.Reads, 200) << "no polling once the source has ended";
    }
    // A claimed length below header plus trailer, or one cut short.
    for (int64_t len : {int64_t(0), int64_t(23), int64_t(-5)})
        EXPECT_EQ(TOpResult::orError, Decrypt(crypt, cipher.left(len < 0 ? 0 : len)));
    TMemoryStream in(cipher);
    EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(in, nullptr, cipher.size() - 1, false, {}));
}

TEST(Encryption, ReadAndWriteErrorsGiveError)
{
    const QByteArray plain = RandomBytes(10000, 17);
    TEncryption crypt(QByteArray("pw"), 1, 1024);
    const QByteArray cipher = Encrypt(crypt, plain);
    for (int64_t failAt : {int64_t(0), int64_t(2048), int64_t(9999)}) {
        TTestSource src(plain, 1 << 30, failAt);
        TMemoryStream dst;
        EXPECT_EQ(TOpResult::orError, crypt.EncryptStreamEx(src, dst, false, {})) << failAt;
    }
    for (int64_t failAt : {int64_t(0), int64_t(10), int64_t(3000), int64_t(cipher.size() - 10)}) {
        TTestSource src(cipher, 1 << 30, failAt);
        TMemoryStream dst;
        EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(src, &dst, cipher.size(), false, {})) << failAt;
    }
    for (int64_t limit : {int64_t(0), int64_t(5), int64_t(3000), int64_t(cipher.size() - 1)}) {
        TMemoryStream src(plain);
        TFullDest dst(limit);
        EXPECT_EQ(TOpResult::orError, crypt.EncryptStreamEx(src, dst, false, {})) << limit;
    }
    TMemoryStream src(cipher);
    TFullDest dst(100);
    EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(src, &dst, cipher.size(), false, {}));
}

TEST(Encryption, TwoEncryptionsDiffer)
{
    const QByteArray plain(1000, 'a');
    TEncryption crypt(QByteArray("same"), 1, 4096);
    const QByteArray a = Encrypt(crypt, plain);
    const QByteArray b = Encrypt(crypt, plain);
    EXPECT_NE(a.left(8), b.left(8));
    EXPECT_NE(a.mid(10, 1000), b.mid(10, 1000));
    QByteArray backA, backB;
    EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, a, &backA));
    EXPECT_EQ(TOpResult::orOk, Decrypt(crypt, b, &backB));
    EXPECT_EQ(plain, backA);
    EXPECT_EQ(plain, backB);
}

// A run encrypts file after file with one object, which derives the keys of
// the next stream ahead: every stream must still get its own salt, the keys
// of its own key mode, and open with another object.
TEST(Encryption, ManyStreamsOfOneObjectEachOpen)
{
    const QByteArray plain = RandomBytes(5000, 7);
    TEncryption crypt(QByteArray("run password"), 3, 4096);
    TEncryption reader(QByteArray("run password"), 3, 4096);
    QList<QByteArray> salts;
    for (int i = 0; i < 8; ++i) {
        const int mode = i == 5 ? 1 : 3; // a mode change drops the keys made ahead
        crypt.SetKeyMode(mode);
        const QByteArray cipher = Encrypt(crypt, plain);
        ASSERT_EQ(cipher.size(), SaltLength(mode) + 2 + plain.size() + 10) << i;
        const QByteArray salt = cipher.left(SaltLength(mode));
        EXPECT_FALSE(salts.contains(salt)) << i;
        salts.append(salt);
        reader.SetKeyMode(mode);
        QByteArray back;
        EXPECT_EQ(TOpResult::orOk, Decrypt(reader, cipher, &back)) << i;
        EXPECT_EQ(back, plain) << i;
    }
    // Headers written back to back with the mode changing every time: keys
    // made ahead for one mode must never serve another.
    QList<QByteArray> ciphers;
    for (int i = 0; i < 30; ++i) {
        crypt.SetKeyMode(1 + i % 3);
        ciphers.append(Encrypt(crypt, "x"));
    }
    for (int i = 0; i < 30; ++i) {
        reader.SetKeyMode(1 + i % 3);
        QByteArray back;
        EXPECT_EQ(TOpResult::orOk, Decrypt(reader, ciphers[i], &back)) << i;
        EXPECT_EQ(back, QByteArray("x")) << i;
    }
}

TEST(Encryption, PasswordKeepsFirst128Bytes)
{
    QByteArray longPwd;
    for (int i = 0; i < 200; ++i)
        longPwd.append(char('A' + i % 26));
    TEncryption enc(longPwd, 3, 4096);
    const QByteArray cipher = Encrypt(enc, "data");
    TEncryption first128(longPwd.left(128), 3, 4096);
    EXPECT_EQ(TOpResult::orOk, Decrypt(first128, cipher));
    TEncryption first127(longPwd.left(127), 3, 4096);
    EXPECT_EQ(TOpResult::orError, Decrypt(first127, cipher));
    EXPECT_EQ(ReferenceStream(longPwd.left(128), cipher.left(16), 3, "data"), cipher);
}

TEST(Encryption, KeyModeFromPasswordLength)
{
    struct {
        int length, mode;
    } const cases[] = {{0, 1}, {1, 1}, {31, 1}, {32, 2}, {47, 2}, {48, 3}, {128, 3}, {200, 3}};
    for (const auto &c : cases) {
        for (int32_t request : {0, -1, 4}) {
            TEncryption crypt(QByteArray(c.length, 'p'), request, 16);
            EXPECT_EQ(c.mode, crypt.KeyMode()) << c.length << " " << request;
            EXPECT_TRUE(crypt.FixedKey()) << "the constructor always leaves FixedKey set";
            crypt.SetKeyMode(2);
            EXPECT_EQ(2, crypt.KeyMode());
            EXPECT_TRUE(crypt.FixedKey());
            crypt.SetKeyMode(request);
            EXPECT_EQ(c.mode, crypt.KeyMode());
            EXPECT_FALSE(crypt.FixedKey());
        }
    }
    for (int32_t mode = 1; mode <= 3; ++mode) {
        TEncryption crypt(QByteArray(60, 'p'), mode, 16);
        EXPECT_EQ(mode, crypt.KeyMode());
        EXPECT_TRUE(crypt.FixedKey());
    }
    // A text password counts its 8-bit bytes: 16 two-byte characters are 32.
    TEncryption utf8(QString(16, QChar(0x3A9)), 0, 16);
    EXPECT_EQ(2, utf8.KeyMode());
}

TEST(Encryption, TextPasswordsInEitherEncoding)
{
    const QByteArray plain = RandomBytes(3000, 21);
    struct {
        QString text;
        QByteArray bytesUsedToEncrypt;
    } const cases[] = {
        {QStringLiteral("Gr\u00fc\u00dfe"), PasswordToAnsi(QStringLiteral("Gr\u00fc\u00dfe"))},
        {QStringLiteral("Gr\u00fc\u00dfe"), QStringLiteral("Gr\u00fc\u00dfe").toUtf8()},
        {QStringLiteral("\u03a9mega"), QStringLiteral("\u03a9mega").toUtf8()},
        {QStringLiteral("plain"), QByteArray("plain")},
    };
    EXPECT_EQ(QByteArray("Gr\xfc\xdf" "e"), cases[0].bytesUsedToEncrypt) << "fits Windows-1252";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytesUsedToEncrypt.toHex().constData());
        TEncryption byBytes(c.bytesUsedToEncrypt, 1, 1024);
        const QByteArray cipher = Encrypt(byBytes, plain);
        TEncryption byText(c.text, 1, 1024);
        QByteArray back;
        EXPECT_EQ(TOpResult::orOk, Decrypt(byText, cipher, &back));
        EXPECT_EQ(plain, back);
        // Text encrypts under its primary form, which a byte password opens.
        TEncryption again(c.text, 1, 1024);
        const QByteArray mine = Encrypt(again, plain);
        TEncryption primary(PasswordToAnsi(c.text), 1, 1024);
        EXPECT_EQ(TOpResult::orOk, Decrypt(primary, mine));
    }
    TEncryption other(QStringLiteral("Gr\u00fc\u00dfE"), 1, 1024);
    TEncryption enc(QStringLiteral("Gr\u00fc\u00dfe"), 1, 1024);
    EXPECT_EQ(TOpResult::orError, Decrypt(other, Encrypt(enc, plain)));
}

TEST(Encryption, CancelGivesUserBreak)
{
    const QByteArray plain = RandomBytes(10000, 23);
    TEncryption crypt(QByteArray("pw"), 1, 1000);
    const QByteArray cipher = Encrypt(crypt, plain);
    int asked = 0;
    const TStatusEvent cancelSecond = [&asked] { return ++asked == 2; };
    TMemoryStream src(plain), dst;
    EXPECT_EQ(TOpResult::orUserBreak, crypt.EncryptStreamEx(src, dst, false, cancelSecond));
    EXPECT_EQ(2, asked);
    EXPECT_EQ(crypt.GetHeaderSize() + 2000, dst.Size()) << "no trailer after a cancel";

    asked = 0;
    TMemoryStream in(cipher), out;
    EXPECT_EQ(TOpResult::orUserBreak, crypt.DecryptStreamEx(in, &out, cipher.size(), false, cancelSecond));
    EXPECT_EQ(2000, out.Size());

    const TStatusEvent never = [] { return false; };
    TMemoryStream in2(cipher), out2;
    EXPECT_EQ(TOpResult::orOk, crypt.DecryptStreamEx(in2, &out2, cipher.size(), false, never));
    EXPECT_EQ(plain, out2.Data());
}

TEST(Encryption, PauseGateAndProgressPerBlock)
{
    const QByteArray plain = RandomBytes(2500, 29);
    TEncryption crypt(QByteArray("pw"), 1, 1000);
    int gates = 0;
    std::vector<std::pair<TFileAction, int64_t>> reports;
    std::vector<bool> limits;
    crypt.Event = [&gates] { ++gates; };
    crypt.OnProgress = [&](TFileAction a, int64_t n, bool limit) {
        reports.emplace_back(a, n);
        limits.push_back(limit);
    };
    TMemoryStream src(plain), dst;
    ASSERT_EQ(TOpResult::orOk, crypt.EncryptStreamEx(src, dst, true, {}));
    EXPECT_EQ(3, gates);
    const std::vector<std::pair<TFileAction, int64_t>> enc = {
        {TFileAction::acEncrypt, 1000}, {TFileAction::acEncrypt, 2000}, {TFileAction::acEncrypt, 2500}};
    EXPECT_EQ(enc, reports);
    EXPECT_EQ(std::vector<bool>(3, true), limits);

    gates = 0;
    reports.clear();
    limits.clear();
    QByteArray back;
    TMemoryStream in(dst.Data()), out;
    ASSERT_EQ(TOpResult::orOk, crypt.DecryptStreamEx(in, &out, dst.Size(), false, {}));
    EXPECT_EQ(3, gates);
    const std::vector<std::pair<TFileAction, int64_t>> dec = {
        {TFileAction::acDecrypt, 1000}, {TFileAction::acDecrypt, 2000}, {TFileAction::acDecrypt, 2500}};
    EXPECT_EQ(dec, reports);
    EXPECT_EQ(std::vector<bool>(3, false), limits);

    // A source that is a multiple of the buffer ends with an empty read.
    gates = 0;
    TMemoryStream even(plain.left(2000)), evenOut;
    ASSERT_EQ(TOpResult::orOk, crypt.EncryptStreamEx(even, evenOut, false, {}));
    EXPECT_EQ(3, gates);

    // A callback that throws ends the operation with an error.
    crypt.OnProgress = [](TFileAction, int64_t, bool) { throw std::runtime_error("boom"); };
    TMemoryStream s2(plain), d2;
    EXPECT_EQ(TOpResult::orError, crypt.EncryptStreamEx(s2, d2, false, {}));
}

// Short reads from the source (pipes, network streams) fill the buffer
// before a block counts as the last.
TEST(Encryption, ShortReadsDoNotEndTheStream)
{
    const QByteArray plain = RandomBytes(10000, 31);
    TEncryption crypt(QByteArray("pw"), 1, 4096);
    TTestSource src(plain, 333);
    TMemoryStream dst;
    ASSERT_TRUE(crypt.EncryptStream(src, dst, false));
    EXPECT_EQ(crypt.GetHeaderSize() + plain.size() + 10, dst.Size());
}

TEST(Encryption, TrailerWithoutHeaderFails)
{
    TEncryption crypt(QByteArray("pw"), 1, 64);
    TMemoryStream dst;
    QByteArray data = "abc";
    crypt.EncryptBlock(data.data(), data.size());
    EXPECT_FALSE(crypt.WriteTrailer(dst));
    EXPECT_EQ(0, dst.Size());
    // Two trailers for one header: the second has nothing to finish.
    ASSERT_TRUE(crypt.WriteHeader(dst));
    EXPECT_TRUE(crypt.WriteTrailer(dst));
    EXPECT_FALSE(crypt.WriteTrailer(dst));
}

// Random and cut-off streams never crash and never pass.
TEST(Encryption, FuzzedStreams)
{
    QRandomGenerator rng(37);
    TEncryption crypt(QByteArray("pw"), 1, 256);
    const QByteArray good = Encrypt(crypt, RandomBytes(700, 41));
    for (int i = 0; i < 300; ++i) {
        QByteArray data;
        if (i % 2 == 0) {
            data = RandomBytes(rng.bounded(0, 800), quint32(i));
        } else {
            data = good.left(rng.bounded(0, int(good.size())));
            if (!data.isEmpty() && i % 4 == 1)
                data[rng.bounded(int(data.size()))] = char(rng.bounded(256));
        }
        crypt.SetKeyMode(1 + i % 3);
        const int64_t claimed = i % 3 == 0 ? data.size() : rng.bounded(-10, 1000);
        TMemoryStream in(data);
        TMemoryStream out;
        EXPECT_EQ(TOpResult::orError, crypt.DecryptStreamEx(in, i % 5 ? &out : nullptr, claimed, false, {}));
    }
}

} // namespace
} // namespace vl
