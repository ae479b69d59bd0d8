#include "FormLogFixture.h"

#include "backup/LinkInfo.h"
#include "backup/TimeStampFile.h"
#include "core/XlFileUtils.h"
#include "platform/FileNames.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace vl;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

class LinkStampTest : public vl::test::FormLogTest {};

} // namespace

// ---- Link information files ----

TEST(LinkInfoBytes, JunctionFileHoldsBomHeadTargetAndKind)
{
    EXPECT_EQ(LinkInfoBytes(QStringLiteral("/data/Daten"), kLinkKindJunction),
              QByteArray("\xEF\xBB\xBF# Junction\r\n/data/Daten\r\n1\r\n"));
    EXPECT_EQ(LinkInfoBytes(QString::fromUtf8("/srv/Grüße"), kLinkKindSymlink),
              QByteArray("\xEF\xBB\xBF# Junction\r\n/srv/Gr\xC3\xBC\xC3\x9F" "e\r\n2\r\n"));
}

TEST(LinkInfoBytes, TargetWithInvalidUtf8KeepsItsBytes)
{
    const QString target = DecodeFileName(QByteArray("/data/caf\xE9"));
    const QByteArray bytes = LinkInfoBytes(target, kLinkKindSymlink);
    EXPECT_TRUE(bytes.contains("/data/caf\xE9\r\n"));
    QString read;
    int kind = 0;
    ASSERT_TRUE(ParseLinkInfo(bytes, read, kind));
    EXPECT_EQ(read, target);
    EXPECT_EQ(kind, 2);
}

TEST(LinkInfoParse, AcceptsLinesWithoutBomOrCrAndRejectsOtherFiles)
{
    QString target;
    int kind = 0;
    EXPECT_TRUE(ParseLinkInfo("# Junction\n/a/b\n1\n", target, kind));
    EXPECT_EQ(target, QStringLiteral("/a/b"));
    EXPECT_EQ(kind, 1);
    for (const char *bad : {"", "# Junction\r\n", "# Link\r\n/a\r\n1\r\n", "# Junction\r\n\r\n1\r\n",
                            "# Junction\r\n/a\r\nx\r\n"})
        EXPECT_FALSE(ParseLinkInfo(bad, target, kind)) << bad;
}

TEST_F(LinkStampTest, LinkFilesOfDottedNamesDoNotCollide)
{
    const QString base = Dir + QStringLiteral("/Users/Me/");
    ASSERT_TRUE(Form.WriteJunctionInfo(base + QStringLiteral("My.Docs"), QStringLiteral("/d/docs"), 1));
    ASSERT_TRUE(Form.WriteJunctionInfo(base + QStringLiteral("My.Pics"), QStringLiteral("/d/pics"), 2));
    ASSERT_TRUE(Form.WriteJunctionInfo(base + QStringLiteral("Data"), QStringLiteral("/d/data"), 1));

    EXPECT_EQ(QDir(base).entryList(QDir::Files, QDir::Name),
              QStringList({QStringLiteral("Data.vllink"), QStringLiteral("My.Docs.vllink"),
                           QStringLiteral("My.Pics.vllink")}));
    EXPECT_EQ(ReadBytes(base + QStringLiteral("My.Docs.vllink")), LinkInfoBytes(QStringLiteral("/d/docs"), 1));
    EXPECT_EQ(ReadBytes(base + QStringLiteral("My.Pics.vllink")), LinkInfoBytes(QStringLiteral("/d/pics"), 2));
    EXPECT_EQ(LinkNameOfInfoFile(QStringLiteral("My.Docs.vllink")), QStringLiteral("My.Docs"));
    EXPECT_TRUE(Log().contains(QStringLiteral("Creating subdirectory: \"") + Dir + QStringLiteral("/Users/Me\"")));
}

TEST_F(LinkStampTest, ExistingLinkFileIsReplaced)
{
    const QString link = Dir + QStringLiteral("/Data");
    WriteBytes(link + QStringLiteral(".vllink"), QByteArray(100, 'x'));
    ASSERT_TRUE(Form.WriteJunctionInfo(link, QStringLiteral("/new"), 2));
    EXPECT_EQ(ReadBytes(link + QStringLiteral(".vllink")), LinkInfoBytes(QStringLiteral("/new"), 2));
    EXPECT_EQ(QDir(Dir).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("Data.vllink")));
}

TEST_F(LinkStampTest, ReaderFindsCurrentNameFirstThenTheOlderForm)
{
    const QString link = Dir + QStringLiteral("/My.Docs");
    WriteBytes(Dir + QStringLiteral("/My.vllink"), LinkInfoBytes(QStringLiteral("/old"), 1));
    EXPECT_EQ(FindLinkInfoFile(link), Dir + QStringLiteral("/My.vllink"));
    QString target;
    int kind = 0;
    ASSERT_TRUE(ReadLinkInfoFile(FindLinkInfoFile(link), target, kind));
    EXPECT_EQ(target, QStringLiteral("/old"));

    ASSERT_TRUE(Form.WriteJunctionInfo(link, QStringLiteral("/new"), 2));
    EXPECT_EQ(FindLinkInfoFile(link), Dir + QStringLiteral("/My.Docs.vllink"));
    EXPECT_EQ(FindLinkInfoFile(Dir + QStringLiteral("/Other")), QString());
}

TEST_F(LinkStampTest, LinkFileThatCannotBeWrittenIsAnErrorLineNotTheEndOfTheRun)
{
    const QString link = Dir + QStringLiteral("/Data");
    ASSERT_TRUE(QDir().mkdir(link + QStringLiteral(".vllink"))); // a folder in the way
    bool ok = true;
    EXPECT_NO_THROW(ok = Form.WriteJunctionInfo(link, QStringLiteral("/t"), 1));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Form.ErrorCnt, 1);
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("  *** (1) B: Error - ")));
    EXPECT_TRUE(log.contains(link + QStringLiteral(".vllink")));
    EXPECT_TRUE(log.contains(QStringLiteral("      -> System error: ")));
}

TEST_F(LinkStampTest, LinkFileIsNotWrittenWhenItsFolderCannotBeMade)
{
    WriteBytes(Dir + QStringLiteral("/file"), "x");
    EXPECT_FALSE(Form.WriteJunctionInfo(Dir + QStringLiteral("/file/sub/Data"), QStringLiteral("/t"), 1));
    EXPECT_TRUE(Log().contains(QStringLiteral("Could not create directory: \"") + Dir + QStringLiteral("/file/sub\"")));
}

// ---- Time stamp file ----

TEST(TimeStampBytes, EightLittleEndianBytesOfTheDouble)
{
    EXPECT_EQ(TimeStampBytes(45352.5), QByteArray::fromHex("000000001025e640"));
    EXPECT_EQ(TimeStampFromBytes(QByteArray::fromHex("000000001025e640")), 45352.5);
    // A short file: the missing bytes count as zero.
    EXPECT_EQ(TimeStampFromBytes(QByteArray::fromHex("0000")), 0.0);
    EXPECT_EQ(TimeStampFromBytes(QByteArray::fromHex("000000001025")), TimeStampFromBytes(QByteArray::fromHex("0000000010250000")));
}

TEST(TimeStampFile, WritesValueAndLastWriteTimeInLocalTime)
{
    test::TScopedTimeZone zone("Europe/Berlin");
    const QString dir = test::MakeTempDir();
    ASSERT_EQ(WriteTimeStampFile(dir, 45352.5), 0u); // 2024-03-01 12:00 local
    const QString name = dir + QStringLiteral("/$TimeStamp.vlu");
    EXPECT_EQ(ReadBytes(name), QByteArray::fromHex("000000001025e640"));
    EXPECT_DOUBLE_EQ(XlFileAge(name, false), 45352.5);
    EXPECT_EQ(ReadTimeStampFile(dir), 45352.5);

    ASSERT_EQ(WriteTimeStampFile(dir, 45400.25), 0u);
    EXPECT_EQ(ReadTimeStampFile(dir), 45400.25);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("$TimeStamp.vlu")));
}

TEST(TimeStampFile, MissingFileReadsZero)
{
    EXPECT_EQ(ReadTimeStampFile(test::MakeTempDir()), 0.0);
}

TEST_F(LinkStampTest, StampThatCannotBeWrittenIsAnErrorLineNotTheEndOfTheRun)
{
    ASSERT_TRUE(QDir().mkdir(Dir + QStringLiteral("/$TimeStamp.vlu")));
    bool ok = true;
    EXPECT_NO_THROW(ok = Form.WriteDestTimeStamp(Dir, 45352.5));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Form.ErrorCnt, 1);
    EXPECT_TRUE(Log().contains(QStringLiteral("  *** (1) B: Error - ")));

    const QString good = test::MakeTempDir();
    EXPECT_TRUE(Form.WriteDestTimeStamp(good, 45352.5));
    EXPECT_EQ(Form.ErrorCnt, 1);
}
