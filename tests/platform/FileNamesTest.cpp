#include "platform/FileNames.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace vl;

TEST(FileNames, RoundTripsEveryByteString)
{
    const QList<QByteArray> names = {
        QByteArray("plain.txt"),
        QByteArray("caf\xc3\xa9.txt"),           // valid UTF-8
        QByteArray("caf\xe9.txt"),               // Latin-1 byte, not UTF-8
        QByteArray("\xed\xa0\x80"),              // encoded surrogate: invalid
        QByteArray("\xc0\xaf"),                  // overlong "/"
        QByteArray("\xf0\x9f\x98\x80 emoji"),    // 4-byte sequence
        QByteArray("trail\xe2\x82"),             // truncated sequence
        QByteArray("\xff\xfe\x80"),
    };
    for (const QByteArray &n : names) {
        const QString s = DecodeFileName(n);
        EXPECT_EQ(EncodeFileName(s), n) << n.toHex().constData();
        EXPECT_EQ(HasEscapedBytes(s), !IsValidUtf8(n)) << n.toHex().constData();
    }
}

TEST(FileNames, InvalidBytesBecomeLoneSurrogates)
{
    const QString s = DecodeFileName(QByteArray("a\xe9z"));
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s.at(1).unicode(), 0xDCE9);
    EXPECT_EQ(DecodeFileName(QByteArray("caf\xc3\xa9")), QString::fromUtf8("caf\xc3\xa9"));
}

TEST(SysErrors, MapsErrnoToProgramNumbers)
{
    struct Case { int err; bool parentMissing; uint32_t code; };
    const Case cases[] = {
        {0, false, 0}, {ENOENT, false, 2}, {ENOENT, true, 3}, {EACCES, false, 5}, {EPERM, false, 5},
        {EEXIST, false, 80}, {ENOSPC, false, 112}, {EDQUOT, false, 112}, {ENOTEMPTY, false, 145},
        {ENAMETOOLONG, false, 206}, {EXDEV, false, 17}, {EBUSY, false, 32}, {EROFS, false, 19},
        {EIO, false, 1117}, {ETIMEDOUT, false, 1460},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ErrnoToError(c.err, c.parentMissing), c.code) << c.err;
    const uint32_t other = ErrnoToError(EPIPE);
    EXPECT_EQ(other, ERROR_ERRNO_BIT | EPIPE);
    ASSERT_NE(SysErrorText(other), nullptr);
    EXPECT_STREQ(SysErrorText(ERROR_DISK_FULL), "There is not enough space on the disk");
    EXPECT_STREQ(SysErrorText(ERROR_NO_MORE_FILES), "There are no more files");
    EXPECT_EQ(SysErrorText(99999), nullptr);
}
