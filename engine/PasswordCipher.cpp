#include "engine/PasswordCipher.h"

#include "engine/Encryption.h"

#include <QRandomGenerator>

#include <openssl/crypto.h>

#include <algorithm>
#include <utility>

namespace vl {

const char kCipherKeyLiteral[] = "E4C1905A3FB7D26E8A0C4F19B2D73E5A6C08F1D94B2E7A30";

namespace {

// Applied to every literal byte before the nibbles are regrouped. Its low
// nibble must be 1 so that the literal's first pair gives a key length of 5
// (no high nibble, which would ask for more bytes than the literal holds);
// the high nibble E makes three of the five key characters printable and
// none of them zero.
constexpr unsigned char kCipherXor = 0xE1;

// The prefix holds lengths up to 8191; longer values are refused (an empty
// result, as for a value that cannot be stored).
constexpr int kMaxValueLength = 8191;
constexpr int kOneBytePrefixLimit = 223;
constexpr int kMinCommandLength = 32;
constexpr int32_t kCipherBufSize = 4096;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Pairs of hexadecimal digits; a pair that is no hexadecimal number gives
// 0, an odd last digit is read alone.
QByteArray HexToBytes(const QByteArray &s)
{
    QByteArray out;
    out.reserve(s.size() / 2 + 1);
    for (qsizetype i = 0; i < s.size(); i += 2) {
        const int hi = HexDigit(s[i]);
        if (i + 1 >= s.size()) {
            out.append(char(hi < 0 ? 0 : hi));
            break;
        }
        const int lo = HexDigit(s[i + 1]);
        out.append(char(hi < 0 || lo < 0 ? 0 : hi * 16 + lo));
    }
    return out;
}

QByteArray BytesToHex(const QByteArray &b)
{
    return b.toHex().toUpper();
}

QByteArray EncodeBase85(const QByteArray &b)
{
    QByteArray out;
    out.reserve(b.size() * 5 / 4 + 5);
    const auto *p = reinterpret_cast<const unsigned char *>(b.constData());
    const qsizetype n = b.size();
    for (qsizetype i = 0; i < n; i += 4) {
        const int count = int(std::min<qsizetype>(4, n - i));
        uint32_t v = 0;
        for (int j = 0; j < 4; ++j)
            v = (v << 8) | (j < count ? p[i + j] : 0u);
        if (count == 4 && v == 0) {
            out.append('z');
            continue;
        }
        char digits[5];
        for (int j = 4; j >= 0; --j) {
            digits[j] = char(v % 85 + 33);
            v /= 85;
        }
        out.append(digits, count + 1);
    }
    return out;
}

// False for characters outside the alphabet, a "z" inside a group, or a
// group whose value exceeds 32 bits: such a text was damaged.
bool DecodeBase85(const QByteArray &s, QByteArray &out)
{
    out.clear();
    out.reserve(s.size() * 4 / 5 + 4);
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        if (s[i] == 'z') {
            out.append(4, '\0');
            ++i;
            continue;
        }
        const int count = int(std::min<qsizetype>(5, n - i));
        uint64_t v = 0;
        for (int j = 0; j < 5; ++j) {
            int d = 84; // a final short group is filled up with "u"
            if (j < count) {
                const unsigned char c = static_cast<unsigned char>(s[i + j]);
                if (c < 33 || c > 117)
                    return false;
                d = c - 33;
            }
            v = v * 85 + uint64_t(d);
        }
        if (v > 0xFFFFFFFFull)
            return false;
        // A lone final character holds no whole byte and is dropped.
        for (int j = 0; j < count - 1; ++j)
            out.append(char((v >> (24 - 8 * j)) & 0xFF));
        i += count;
    }
    return true;
}

void AppendFiller(QByteArray &s, qsizetype count)
{
    QRandomGenerator *rng = QRandomGenerator::global();
    for (qsizetype i = 0; i < count; ++i)
        s.append(char(rng->bounded(33, 97)));
}

void Wipe(QByteArray &b)
{
    if (!b.isEmpty())
        OPENSSL_cleanse(b.data(), size_t(b.size()));
}

// The bytes of a memory stream, taken out of it so that the caller holds
// the only reference and can wipe them in place.
QByteArray TakeData(TMemoryStream &s)
{
    QByteArray data = s.Data();
    s.Clear();
    return data;
}

// Prefix, value and filler encrypted under Key (or the record itself
// without a key), as hexadecimal or base-85 text.
QByteArray Encipher(const QByteArray &Key, QByteArray &&padded, qsizetype length, bool AsHex)
{
    QByteArray record;
    record.reserve(padded.size() + 2);
    if (length < kOneBytePrefixLimit) {
        record.append(char(length + 33));
    } else {
        record.append(char((length >> 8) & 0x1F));
        record.append(char(length & 0xFF));
    }
    record.append(padded);
    Wipe(padded);
    if (Key.isEmpty()) {
        const QByteArray text = AsHex ? BytesToHex(record) : EncodeBase85(record);
        Wipe(record);
        return text;
    }
    TEncryption crypt(Key, 0, kCipherBufSize);
    TMemoryStream source(std::move(record));
    TMemoryStream dest;
    const bool ok = crypt.EncryptStream(source, dest, false);
    QByteArray plain = TakeData(source);
    Wipe(plain);
    if (!ok)
        return {};
    const QByteArray &cipher = dest.Data();
    return AsHex ? BytesToHex(cipher) : EncodeBase85(cipher);
}

} // namespace

QByteArray HexToCipherKey(const QByteArray &Literal)
{
    if (Literal.isEmpty())
        return {};
    QByteArray b = HexToBytes(Literal);
    for (char &c : b)
        c = char(static_cast<unsigned char>(c) ^ kCipherXor);
    auto at = [&b](qsizetype i) { return static_cast<unsigned char>(b[i]); };
    auto rebuilt = [&](qsizetype k) -> unsigned char {
        const unsigned char x = at(2 * k);
        const unsigned char y = at(2 * k + 1);
        if (k % 2 == 0)
            return static_cast<unsigned char>(((y & 0x0F) << 4) | (x & 0x0F));
        return static_cast<unsigned char>((x & 0xF0) | (y >> 4));
    };
    if (b.size() < 2)
        return {};
    const int n = rebuilt(0);
    // A literal too short for the length it announces gives no key.
    if (n == 0 || b.size() < 2 * qsizetype(n) + 2)
        return {};
    QByteArray key;
    key.reserve(n);
    for (int k = 1; k <= n; ++k)
        key.append(char(rebuilt(k)));
    Wipe(b);
    return key;
}

QByteArray EncryptPassword(const QByteArray &Key, const QByteArray &S, int Len, bool AsHex)
{
    if (S.isEmpty() || Len < 1)
        return {};
    QByteArray value = S.left(Len);
    const qsizetype length = value.size();
    if (length > kMaxValueLength)
        return {};
    AppendFiller(value, std::max<qsizetype>(0, Len - 1 - length));
    return Encipher(Key, std::move(value), length, AsHex);
}

QByteArray EncryptCommand(const QByteArray &Key, const QByteArray &S, bool AsHex)
{
    if (S.isEmpty() || S.size() > kMaxValueLength)
        return {};
    QByteArray value = S;
    value.detach();
    const qsizetype length = value.size();
    if (length < kMinCommandLength)
        AppendFiller(value, kMinCommandLength - length);
    return Encipher(Key, std::move(value), length, AsHex);
}

QByteArray DecryptPassword(const QByteArray &Key, const QByteArray &S, bool AsHex)
{
    if (S.isEmpty())
        return {};
    QByteArray bytes;
    if (AsHex)
        bytes = HexToBytes(S);
    else if (!DecodeBase85(S, bytes))
        return {};
    QByteArray record;
    if (Key.isEmpty()) {
        record = bytes;
    } else {
        TEncryption crypt(Key, 0, kCipherBufSize);
        TMemoryStream source(bytes);
        TMemoryStream dest;
        const bool ok = crypt.DecryptStream(source, &dest, bytes.size(), false);
        record = TakeData(dest);
        if (!ok) {
            Wipe(record);
            return {};
        }
    }
    if (record.isEmpty())
        return {};
    const unsigned char first = static_cast<unsigned char>(record[0]);
    qsizetype length = 0;
    qsizetype start = 1;
    if (first <= 32) {
        length = qsizetype(first) * 256 + (record.size() > 1 ? static_cast<unsigned char>(record[1]) : 0);
        start = 2;
    } else {
        length = first - 33;
    }
    QByteArray result = record.mid(start, length);
    result.detach();
    Wipe(record);
    return result;
}

QByteArray DecryptCommand(const QByteArray &Key, const QByteArray &S, bool AsHex)
{
    return DecryptPassword(Key, S, AsHex);
}

namespace {
const QByteArray &BuiltInKey()
{
    static const QByteArray key = HexToCipherKey(kCipherKeyLiteral);
    return key;
}
} // namespace

QString StoredPasswordText(const QByteArray &APassword)
{
    return QString::fromLatin1(EncryptPassword(BuiltInKey(), APassword, 64, false));
}

QByteArray PasswordFromStoredText(const QString &AText)
{
    return DecryptPassword(BuiltInKey(), AText.toLatin1(), false);
}

QString StoredCommandText(const QByteArray &ACommand)
{
    return QString::fromLatin1(EncryptCommand(BuiltInKey(), ACommand, true));
}

QByteArray CommandFromStoredText(const QString &AText)
{
    return DecryptCommand(BuiltInKey(), AText.toLatin1(), true);
}

} // namespace vl
