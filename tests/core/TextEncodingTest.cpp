#include "core/TextEncoding.h"

#include <gtest/gtest.h>

namespace vl {
namespace {

TEST(TextEncodingTest, Windows1252MapsEveryByteBothWays)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = DecodeWindows1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text[0x80], QChar(0x20AC)); // euro sign
    EXPECT_EQ(text[0x8A], QChar(0x0160));
    EXPECT_EQ(text[0x9F], QChar(0x0178));
    EXPECT_EQ(text[0x81], QChar(0x0081)); // undefined byte kept as C1 control
    EXPECT_EQ(text[0xE9], QChar(0x00E9));
    bool ok = false;
    EXPECT_EQ(EncodeWindows1252(text, &ok), all);
    EXPECT_TRUE(ok);
}

TEST(TextEncodingTest, Windows1252MarksMissingCharacters)
{
    bool ok = true;
    EXPECT_EQ(EncodeWindows1252(QStringLiteral("a\u03A9\u20AC"), &ok), QByteArray("a?\x80"));
    EXPECT_FALSE(ok);
}

TEST(TextEncodingTest, DetectsEncoding)
{
    const QString e = QStringLiteral("\u00E9");
    struct Case {
        QByteArray bytes;
        TTextEncoding encoding;
        QString text;
    } cases[] = {
        {QByteArray("\xEF\xBB\xBF" "a\xC3\xA9"), TTextEncoding::teUtf8Bom, QStringLiteral("a") + e},
        {QByteArray("\xFF\xFE" "a\0\xE9\0", 6), TTextEncoding::teUtf16LE, QStringLiteral("a") + e},
        {QByteArray("\xFE\xFF\0a\0\xE9", 6), TTextEncoding::teUtf16BE, QStringLiteral("a") + e},
        {QByteArray("a\xC3\xA9"), TTextEncoding::teUtf8, QStringLiteral("a") + e},
        {QByteArray("a\xE9"), TTextEncoding::teWindows1252, QStringLiteral("a") + e},
        // Over-long UTF-8 form is no valid UTF-8.
        {QByteArray("\xC0\xAF"), TTextEncoding::teWindows1252, QStringLiteral("\u00C0\u00AF")},
        {QByteArray(), TTextEncoding::teUtf8, QString()},
    };
    for (const Case &c : cases) {
        TTextEncoding found = TTextEncoding::teUtf16BE;
        EXPECT_EQ(DecodeText(c.bytes, &found), c.text) << c.bytes.toHex().toStdString();
        EXPECT_EQ(found, c.encoding) << c.bytes.toHex().toStdString();
    }
}

TEST(TextEncodingTest, RoundTripsEveryEncoding)
{
    // A lone surrogate stands for a file-name byte that is not UTF-8; UTF-16
    // must carry it unchanged.
    const QString text = QStringLiteral("x=\u00E9\u20AC\U0001F600") + QChar(0xDCE9);
    for (TTextEncoding enc : {TTextEncoding::teUtf16LE, TTextEncoding::teUtf16BE}) {
        TTextEncoding found;
        EXPECT_EQ(DecodeText(EncodeText(text, enc), &found), text);
        EXPECT_EQ(found, enc);
    }
    const QString plain = QStringLiteral("x=\u00E9\u20AC\U0001F600");
    for (TTextEncoding enc : {TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom}) {
        TTextEncoding found;
        EXPECT_EQ(DecodeText(EncodeText(plain, enc), &found), plain);
        EXPECT_EQ(found, enc);
    }
    EXPECT_EQ(EncodeText(QStringLiteral("A"), TTextEncoding::teUtf16LE), QByteArray("\xFF\xFE" "A\0", 4));
    EXPECT_EQ(EncodeText(QStringLiteral("A"), TTextEncoding::teUtf16BE), QByteArray("\xFE\xFF\0A", 4));
}

} // namespace
} // namespace vl
