#include "engine/PasswordCipher.h"

#include "core/PasswordService.h"
#include "engine/Encryption.h"

#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

namespace vl {
namespace {

QByteArray Key()
{
    return HexToCipherKey(kCipherKeyLiteral);
}

QByteArray Repeat(char c, int n)
{
    return QByteArray(n, c);
}

QByteArray Numbered(int n)
{
    QByteArray s;
    for (int i = 0; i < n; ++i)
        s.append(char('a' + i % 26));
    return s;
}

// Base-85 text length plus the four characters each "z" saves.
qsizetype Base85Digits(const QByteArray &text)
{
    return text.size() + 4 * text.count('z');
}

// Stored settings depend on this key: changing the literal or the constant
// makes every stored password unreadable.
TEST(PasswordCipher, CipherKeyFromLiteral)
{
    EXPECT_EQ(QByteArray("{n8\xDB\xAF"), Key());
    EXPECT_EQ(Key(), HexToCipherKey(QByteArray(kCipherKeyLiteral).toLower()));
    EXPECT_EQ(1, TEncryption(Key(), 0, 16).KeyMode());

    // Five key characters need 2 x 5 + 2 = 12 literal bytes (24 digits).
    EXPECT_EQ(Key(), HexToCipherKey(QByteArray(kCipherKeyLiteral).left(24)));
    EXPECT_TRUE(HexToCipherKey(QByteArray(kCipherKeyLiteral).left(22)).isEmpty());
    EXPECT_TRUE(HexToCipherKey("").isEmpty());
    EXPECT_TRUE(HexToCipherKey("E").isEmpty());
}

TEST(PasswordCipher, PasswordRoundTrips)
{
    const QByteArray values[] = {"x", "secret", Numbered(63), Numbered(64), Numbered(100), Repeat('z', 40),
                                 QByteArray("\x00\x01\xff", 3), "with space and \"quotes\""};
    for (const QByteArray &key : {Key(), QByteArray(), QByteArray("another key")}) {
        for (bool hex : {false, true}) {
            for (const QByteArray &v : values) {
                SCOPED_TRACE(testing::Message() << v.toHex().constData() << " hex " << hex);
                const QByteArray text = EncryptPassword(key, v, 64, hex);
                ASSERT_FALSE(text.isEmpty());
                EXPECT_EQ(v.left(64), DecryptPassword(key, text, hex));
                EXPECT_EQ(v.left(64), DecryptCommand(key, text, hex));
            }
        }
    }
    EXPECT_TRUE(EncryptPassword(Key(), "", 64, false).isEmpty());
    EXPECT_TRUE(DecryptPassword(Key(), "", false).isEmpty());
}

TEST(PasswordCipher, PasswordTextLengths)
{
    for (int n = 1; n <= 63; ++n) {
        const QByteArray text = EncryptPassword(Key(), Numbered(n), 64, false);
        EXPECT_EQ(105, Base85Digits(text)) << n; // 84 bytes: 8 salt, 2 verifier, 64 record, 10 code
        EXPECT_EQ(168, EncryptPassword(Key(), Numbered(n), 64, true).size()) << n;
    }
    // 64 characters and more: the first 64, no filler, 85 bytes whose last
    // group of one byte takes two characters.
    for (int n : {64, 65, 200}) {
        const QByteArray text = EncryptPassword(Key(), Numbered(n), 64, false);
        EXPECT_EQ(107, Base85Digits(text)) << n;
        EXPECT_EQ(Numbered(64), DecryptPassword(Key(), text, false));
        EXPECT_EQ(170, EncryptPassword(Key(), Numbered(n), 64, true).size()) << n;
    }
    // Characters only from the base-85 alphabet.
    const QByteArray text = EncryptPassword(Key(), "abc", 64, false);
    for (char c : text)
        EXPECT_TRUE((c >= '!' && c <= 'u') || c == 'z') << c;
}

TEST(PasswordCipher, EachEncipheringDiffers)
{
    QSet<QByteArray> seen;
    for (QByteArray key : {Key(), QByteArray()}) {
        for (int i = 0; i < 5; ++i) {
            const QByteArray text = EncryptPassword(key, "same", 64, false);
            EXPECT_FALSE(seen.contains(text));
            seen.insert(text);
            EXPECT_EQ("same", DecryptPassword(key, text, false));
        }
    }
}

TEST(PasswordCipher, CommandTexts)
{
    const QByteArray text = EncryptCommand(Key(), "ls -l", true);
    EXPECT_EQ(106, text.size()); // 2 x (8 + 2 + 1 + 32 + 10)
    for (char c : text)
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
    EXPECT_EQ("ls -l", DecryptCommand(Key(), text, true));

    // Length prefixes, read in the plaintext record (empty key): one byte
    // L + 33 below 223, else two bytes holding L.
    struct {
        int length;
        const char *prefix;
    } const cases[] = {{1, "22"}, {31, "40"}, {32, "41"}, {222, "FF"}, {223, "00DF"}, {300, "012C"}, {8191, "1FFF"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        const QByteArray cmd = Numbered(c.length);
        const QByteArray record = EncryptCommand({}, cmd, true);
        EXPECT_TRUE(record.startsWith(c.prefix)) << record.left(6).constData();
        EXPECT_EQ(2 * (qstrlen(c.prefix) / 2 + std::max(32, c.length)), record.size());
        EXPECT_EQ(cmd, DecryptCommand({}, record, true));
        const QByteArray enciphered = EncryptCommand(Key(), cmd, true);
        EXPECT_EQ(cmd, DecryptCommand(Key(), enciphered, true));
        EXPECT_EQ(cmd, DecryptCommand(Key(), EncryptCommand(Key(), cmd, false), false));
    }
    EXPECT_TRUE(EncryptCommand(Key(), "", true).isEmpty());
}

// The prefix holds at most 8191; longer values are refused, not cut.
TEST(PasswordCipher, TooLongValuesAreRefused)
{
    EXPECT_TRUE(EncryptCommand(Key(), Numbered(8192), true).isEmpty());
    EXPECT_TRUE(EncryptPassword(Key(), Numbered(9000), 8192, false).isEmpty());
    EXPECT_EQ(Numbered(8191), DecryptPassword(Key(), EncryptPassword(Key(), Numbered(9000), 8191, false), false));
    EXPECT_TRUE(EncryptPassword(Key(), "abc", 0, false).isEmpty());
}

TEST(PasswordCipher, EmptyKeyStoresThePlaintextRecord)
{
    const QByteArray text = EncryptPassword({}, "pw", 64, true);
    const QByteArray record = QByteArray::fromHex(text);
    ASSERT_EQ(64, record.size());
    EXPECT_EQ(char(2 + 33), record[0]);
    EXPECT_EQ("pw", record.mid(1, 2));
    for (char c : record.mid(3))
        EXPECT_TRUE(c >= 33 && c <= 96) << int(c);
    EXPECT_EQ("pw", DecryptPassword({}, text, true));
}

TEST(PasswordCipher, WrongKeyOrDamagedTextGivesEmpty)
{
    for (bool hex : {false, true}) {
        const QByteArray text = EncryptPassword(Key(), "topsecret", 64, hex);
        EXPECT_TRUE(DecryptPassword("wrong", text, hex).isEmpty());
        EXPECT_TRUE(DecryptPassword(Key() + "x", text, hex).isEmpty());
        for (qsizetype at : {qsizetype(0), qsizetype(15), qsizetype(40), text.size() - 3, text.size() - 1}) {
            QByteArray bad = text;
            bad[at] = bad[at] == '5' ? '6' : '5';
            EXPECT_TRUE(DecryptPassword(Key(), bad, hex).isEmpty()) << at << " " << hex;
        }
        for (qsizetype cut : {qsizetype(1), qsizetype(10), text.size() - 1})
            EXPECT_TRUE(DecryptPassword(Key(), text.left(cut), hex).isEmpty()) << cut;
        EXPECT_TRUE(DecryptPassword(Key(), text + "00", hex).isEmpty());
    }
}

// Known Ascii85 texts of plaintext records (empty key, so the text is the
// record): zero groups as "z", final groups of one to three bytes.
TEST(PasswordCipher, Base85Groups)
{
    const QByteArray value = QByteArray("ABC") + QByteArray(4, '\0');
    struct {
        QByteArray command;
        const char *text;
    } const cases[] = {
        {value + Repeat('x', 25), "5s[h)zG^+IXG^+IXG^+IXG^+IXG^+IXG^+IXGQ"},
        {value + Repeat('x', 26), "6:!q*zG^+IXG^+IXG^+IXG^+IXG^+IXG^+IXG^'"},
        {value + Repeat('x', 27), "6U=%+zG^+IXG^+IXG^+IXG^+IXG^+IXG^+IXG^+H"},
        {value + Repeat('x', 28), "6pX.,zG^+IXG^+IXG^+IXG^+IXG^+IXG^+IXG^+IX"},
        // A final partial group of zero bytes is digits, never "z".
        {value + Repeat('x', 24) + QByteArray(2, '\0'), "6:!q*zG^+IXG^+IXG^+IXG^+IXG^+IXG^+IX!!!"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.text, EncryptCommand({}, c.command, false));
        EXPECT_EQ(c.command, DecryptCommand({}, c.text, false));
    }
    EXPECT_EQ("abcd", DecryptPassword({}, "-\"17mA,", false));
    EXPECT_EQ(QByteArray("xyz\0\0\0\0q", 8), DecryptPassword({}, ".<p,azE<", false));
    // "s8W-!" is the largest group; one more does not fit 32 bits.
    EXPECT_TRUE(DecryptPassword({}, "s8W-\"", false).isEmpty());
    // Characters outside the alphabet, or "z" inside a group.
    EXPECT_TRUE(DecryptPassword({}, "-\"17mA,v", false).isEmpty());
    EXPECT_TRUE(DecryptPassword({}, "-\"1z7mA,", false).isEmpty());
    // A lone last character holds no byte.
    EXPECT_EQ("abc", DecryptPassword({}, "-\"17m!", false));
}

TEST(PasswordCipher, HexTextRules)
{
    EXPECT_EQ("abcd", DecryptCommand({}, "2561626364", true));
    EXPECT_EQ(QByteArray("\xAA\xBB\xCC\xDD"), DecryptCommand({}, "25AABBCCDD", true));
    EXPECT_EQ(QByteArray("\xAA\xBB\xCC\xDD"), DecryptCommand({}, "25aabbccdd", true)) << "lower-case digits";
    EXPECT_EQ(QByteArray("a\0cd", 4), DecryptCommand({}, "2561XX6364", true)) << "a pair that is no number is 0";
    EXPECT_EQ(QByteArray("a\x06", 2), DecryptCommand({}, "24616", true)) << "an odd last digit stands alone";
    EXPECT_EQ("ab", DecryptCommand({}, "2A6162", true)) << "fewer bytes than the prefix says";
    EXPECT_EQ(QByteArray(), DecryptCommand({}, "00", true)) << "two-byte prefix without its second byte";
}

TEST(PasswordCipher, NonAsciiPasswords)
{
    for (const QString &pwd : {QStringLiteral("Gr\u00fc\u00dfe"), QStringLiteral("\u03a9mega \u20ac")}) {
        const QByteArray ansi = PasswordToAnsi(pwd);
        const QByteArray text = EncryptPassword(Key(), ansi, 64, false);
        EXPECT_EQ(pwd, AnsiToPassword(DecryptPassword(Key(), text, false)));
    }
}

// Texts written by this version must stay readable.
TEST(PasswordCipher, StoredTextsStayReadable)
{

    EXPECT_EQ("Velkor!", DecryptPassword(Key(), "RaC\"Nl+bDnD4=q85+MVq>4&N;9.=iE.`.fE*SH\"n(lu>LYU$QcFS%p7]qCto1J^6cs/qI#YSc\\4lF%i\"l\"(k.e36!W,Un1fQu:\"<AR@'*", false));
    EXPECT_EQ("/usr/bin/true --flag", DecryptCommand(Key(), "A63675FA58EA03957C13F6B8C6AF25C00EC4C038B5FB5AD05C8BBBFB19EF02D14CFDD593DAF4E23ADECB3CC1CC950444FB376445FB", true));
}

// Random and cut-off texts never crash and, under a key, never decipher.
TEST(PasswordCipher, FuzzedTexts)
{
    QRandomGenerator rng(43);
    const QByteArray good85 = EncryptPassword(Key(), "fuzz", 64, false);
    const QByteArray goodHex = EncryptCommand(Key(), "fuzz", true);
    for (int i = 0; i < 400; ++i) {
        const bool hex = i % 2;
        QByteArray text;
        if (i % 4 < 2) {
            text.resize(rng.bounded(0, 200));
            for (char &c : text)
                c = char(rng.bounded(i % 3 == 0 ? 1 : 33, i % 3 == 0 ? 256 : 123));
        } else {
            const QByteArray &good = hex ? goodHex : good85;
            text = good.left(rng.bounded(int(good.size())));
        }
        EXPECT_TRUE(DecryptPassword(Key(), text, hex).isEmpty()) << text.toHex().constData();
        DecryptPassword({}, text, hex); // any value, but no crash
    }
}

} // namespace
} // namespace vl
