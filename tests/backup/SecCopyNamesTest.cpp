#include "FormLogFixture.h"

#include "backup/SecCopyNames.h"
#include "core/DateTime.h"
#include "core/FileTimes.h"
#include "core/Masks.h"
#include "core/PathUtils.h"
#include "core/XlFileUtils.h"
#include "engine/ZipFormat.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace vl;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

QString S(const char *AText)
{
    return QString::fromUtf8(AText);
}

class SecCopyNamesTest : public ::testing::Test {
protected:
    void SetUp() override { SetDefaultSettings(VlSettings); }
};

TFileTime UtcFileTime(int y, int mo, int d, int h, int mi)
{
    TFileTime ft = 0;
    EXPECT_TRUE(UtcDateTimeToFileTime(ft, EncodeDateTime(y, mo, d, h, mi, 0, 0)));
    return ft;
}

} // namespace

// ---- Suffixes and masks ----

TEST_F(SecCopyNamesTest, DefaultsOfNewTasksComeFromTheProgramSettings)
{
    VlSettings.SecCopySettings.BakPrefix = S("=");
    VlSettings.SecCopySettings.BakSuffix = S("old");
    VlSettings.SecCopySettings.SyncPrefix = S("-");
    VlSettings.SecCopySettings.SyncSuffix = S("gone");
    TSecSettings bak, sync;
    bak.DirMode = sync.DirMode = TSecDirMode::sdRootDate;
    bak.MaxHist = sync.MaxHist = bak.AgeInWeeks = 7;
    sync.DirSuffix = S("x");
    bak.BDateSeparator = QLatin1Char('_');
    InitBakSecSettings(bak);
    InitSyncSecSettings(sync);
    EXPECT_EQ(bak.DirMode, TSecDirMode::sdNone);
    EXPECT_EQ(bak.DirPrefix, S("="));
    EXPECT_EQ(bak.DirSuffix, S("old"));
    EXPECT_EQ(bak.FileSuffix, S("old"));
    EXPECT_EQ(bak.MaxHist, 1);
    EXPECT_EQ(bak.MinHist, 1);
    EXPECT_EQ(bak.AgeInWeeks, 0);
    EXPECT_EQ(bak.BDateSeparator, QLatin1Char('_'));
    EXPECT_EQ(sync.DirMode, TSecDirMode::sdNone);
    EXPECT_EQ(sync.DirPrefix, S("-"));
    EXPECT_TRUE(sync.DirSuffix.isEmpty());
    EXPECT_EQ(sync.FileSuffix, S("gone"));
    EXPECT_EQ(sync.MaxHist, 1);
}

TEST_F(SecCopyNamesTest, SuffixBasesAndMasks)
{
    struct TCase {
        const char *Suffix, *Base, *BakMask, *SyncMask;
    };
    const TCase cases[] = {
        {"bak", "bak", "bak", "bak"},
        {"bak-#", "bak-", "bak-#", "bak-#"},
        {"bak-%fdate%", "bak-", "bak-\?\?\?\?-\?\?-\?\?-\?\?-\?\?", "bak-\?\?\?\?-\?\?-\?\?-\?\?-\?\?"},
        {"v%BDATE%_%BTime%#", "v", "v\?\?\?\?-\?\?-\?\?_\?\?-\?\?-\?\?#", "v\?\?\?\?-\?\?-\?\?_\?\?-\?\?-\?\?#"},
        {"%bdate%", "", "\?\?\?\?-\?\?-\?\?", "\?\?\?\?-\?\?-\?\?"},
        {"x#%btime%", "x#", "x#\?\?-\?\?-\?\?", "x#\?\?-\?\?-\?\?"},
        {"[old]", "[old]", "[[]old]", "[[]old]"},
        {"", "", "", "sync"},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(GetSecSuffixBase(S(c.Suffix)), S(c.Base)) << c.Suffix;
        EXPECT_EQ(BakSuffixToMask(S(c.Suffix)), S(c.BakMask)) << c.Suffix;
        EXPECT_EQ(SyncSuffixToMask(S(c.Suffix)), S(c.SyncMask)) << c.Suffix;
    }
}

TEST_F(SecCopyNamesTest, MasksMatchTheNamesTheExpansionsMake)
{
    const TFileTime ft = UtcFileTime(2024, 5, 1, 10, 30);
    const char *suffixes[] = {"bak-%fdate%", "%bdate%_%btime%", "[1]-%FDATE%", "plain"};
    for (const char *suffix : suffixes) {
        const QString name = InsertNameSuffix(S("report.doc"), QLatin1Char('.') + ExpandBakSuffix(S(suffix), ft));
        EXPECT_TRUE(MatchesMask(name, S("report.") + BakSuffixToMask(S(suffix)) + S(".doc")))
            << name.toStdString();
        EXPECT_FALSE(MatchesMask(S("report.doc"), S("report.") + BakSuffixToMask(S(suffix)) + S(".doc")));
    }
}

TEST_F(SecCopyNamesTest, ExpansionsOfPlaceholders)
{
    // %fdate% shows the given time as it stands, whatever the zone.
    vl::test::TScopedTimeZone zone("Pacific/Auckland");
    const TFileTime ft = UtcFileTime(2024, 5, 1, 10, 30);
    EXPECT_EQ(ExpandBakSuffix(S("bak-%FDate%"), ft), S("bak-2024-05-01-10-30"));
    EXPECT_EQ(ExpandBakSuffix(S("%fdate%%fdate%"), ft), S("2024-05-01-10-302024-05-01-10-30"));
    EXPECT_EQ(ExpandBakSuffix(QString(), ft), S("bak"));
    EXPECT_EQ(ExpandRemoteBakSuffix(QString()), S("bak"));
    EXPECT_EQ(ExpandRemoteBakSuffix(S("b-%fdate%")), S("b-%fdate%"));
    EXPECT_EQ(ExpandSyncSuffix(S("s-%fdate%"), ft), S(".s-2024-05-01-10-30"));
    EXPECT_EQ(ExpandSyncSuffix(QString(), ft), QString());
    EXPECT_EQ(ExpandSyncDirSuffix(S("d%fdate%"), ft), S("-d2024-05-01-10-30"));
    EXPECT_EQ(ExpandSyncDirSuffix(QString(), ft), QString());
    EXPECT_EQ(ExpandFtpSyncDirSuffix(QString()), QString());
    EXPECT_EQ(ExpandFtpSyncDirSuffix(S("d%fdate%")), S("-d%fdate%"));

    // %bdate% and %btime% are the current local date and time.
    const QString today = FormatDateTime(S("yyyy-mm-dd"), Now());
    const QRegularExpression stamp(S("^x(\\d{4}-\\d\\d-\\d\\d)_(\\d\\d)-(\\d\\d)-(\\d\\d)$"));
    const QString expansions[] = {ExpandBakSuffix(S("x%bdate%_%BTIME%"), ft), ExpandRemoteBakSuffix(S("x%bdate%_%btime%")),
                                  ExpandSyncSuffix(S("x%bdate%_%btime%"), ft).mid(1),
                                  ExpandFtpSyncDirSuffix(S("x%bdate%_%btime%")).mid(1)};
    for (const QString &expanded : expansions) {
        const QRegularExpressionMatch m = stamp.match(expanded);
        ASSERT_TRUE(m.hasMatch()) << expanded.toStdString();
        EXPECT_EQ(m.captured(1), today);
        EXPECT_LT(m.captured(2).toInt(), 24);
        EXPECT_LT(m.captured(3).toInt(), 60);
    }
}

// ---- Recognising and stripping ----

TEST_F(SecCopyNamesTest, HasAndStripSecSuffix)
{
    struct TCase {
        const char *Name, *Suffix;
        bool Has;
        const char *Stripped;
    };
    const TCase cases[] = {
        {"file.bak.txt", "bak", true, "file.txt"},
        {"file.BAK.txt", "bak", true, "file.txt"},
        {"file.bak-2024-05-01-10-30.txt", "bak-%fdate%", true, "file.txt"},
        {"file.bak-03.txt", "bak-#", true, "file.txt"},
        {"data.bak", "bak", false, "data"}, // the extension is not searched
        {"a.2024-01-01.txt", "%bdate%", false, "a.txt"},
        {"plain.txt", "bak", false, "plain.txt"},
        {"backup.txt", "bak", false, "backup.txt"},
        {"x.tar.bak.gz", "bak", true, "x.tar.gz"},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(HasSecSuffix(S(c.Name), S(c.Suffix), true), c.Has) << c.Name;
        EXPECT_EQ(StripSecSuffix(S(c.Name), S(c.Suffix)), S(c.Stripped)) << c.Name;
    }
    EXPECT_TRUE(HasSecSuffix(S("data.bak"), S("bak"), false));
}

TEST_F(SecCopyNamesTest, SyncCopyNamesAndTheirRecognition)
{
    const TFileTime ft = UtcFileTime(2023, 12, 24, 18, 5);
    struct TNameCase {
        const char *Name, *Suffix, *Copy;
    };
    const TNameCase names[] = {
        {"report.doc", "sync", "report.sync.doc"},
        {"report.doc", "+sync", "report.doc.sync"},
        {"Makefile", "sync", "Makefile.sync"},
        {"report.doc", "s%fdate%", "report.s2023-12-24-18-05.doc"},
        {"report.doc", "+s%fdate%", "report.doc.s2023-12-24-18-05"},
    };
    for (const TNameCase &c : names)
        EXPECT_EQ(MakeSyncCopyName(S(c.Name), S(c.Suffix), ft), S(c.Copy)) << c.Name << " " << c.Suffix;

    struct TCase {
        const char *Name, *Suffix;
        bool IsZip, IsGz, IsEnc;
        bool NoCopy;
    };
    const TCase cases[] = {
        {"report.sync.doc", "sync", false, false, false, false},
        {"report.SYNC.doc", "sync", false, false, false, false},
        {"Makefile.sync", "sync", false, false, false, false},
        {"report.doc", "sync", false, false, false, true},
        {"report.s2023-12-24-18-05.doc", "s%fdate%", false, false, false, false},
        {"report.s2023-12.doc", "s%fdate%", false, false, false, true},
        {"report.doc.sync", "+sync", false, false, false, false},
        {"report.sync.doc", "+sync", false, false, false, true},
        {"report.doc.sync.zip", "+sync", true, false, false, false},
        {"report.doc.sync", "+sync", true, false, false, true},
        {"report.doc.sync.gze", "+sync", false, true, false, false},
        {"report.doc.sync.enc", "+sync", false, false, true, false},
        {"a.[1].txt", "[1]", false, false, false, false},
        {"a.1.txt", "[1]", false, false, false, true},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(IsNoSyncCopy(S(c.Name), S(c.Suffix), c.IsZip, c.IsGz, c.IsEnc), c.NoCopy)
            << c.Name << " " << c.Suffix;
    // A copy name made by MakeSyncCopyName is always recognised.
    for (const TNameCase &c : names)
        EXPECT_FALSE(IsNoSyncCopy(S(c.Copy), S(c.Suffix), false, false, false)) << c.Copy;
}

// ---- Stored suffix text ----

TEST_F(SecCopyNamesTest, ParseStoredSuffix)
{
    struct TCase {
        const char *Stored, *Suffix;
        int MaxHist, AgeInWeeks, MinHist;
    };
    const TCase cases[] = {
        {"bak", "bak", 1, 0, 1},
        {"bak-#3", "bak-#", 3, 0, 1},
        {"bak-#12/4/2", "bak-#", 12, 4, 2},
        {"bak/4/1", "bak", 1, 4, 1},
        {"bak/4", "bak", 1, 0, 1},
        {"bak-#99/999/99", "bak-#", 99, 999, 99},
        {"bak-#100", "bak-#", 10, 0, 1},
        {"x#0", "x#", 1, 0, 1},
        {"x#/4/2", "x#", 1, 0, 1},
        {"x#3/4", "x#", 3, 0, 1},
        {"x#3/4/", "x#", 3, 4, 1},
        {"x#3/zz/q", "x#", 3, 0, 1},
        {"x#", "x#", 1, 0, 1},
        {"", "", 1, 0, 1},
    };
    for (const TCase &c : cases) {
        QString suffix = S(c.Stored);
        int maxHist = -5, minHist = -5, age = -5;
        ParseBakSuffix(suffix, maxHist, minHist, age);
        EXPECT_EQ(suffix, S(c.Suffix)) << c.Stored;
        EXPECT_EQ(maxHist, c.MaxHist) << c.Stored;
        EXPECT_EQ(age, c.AgeInWeeks) << c.Stored;
        EXPECT_EQ(minHist, c.MinHist) << c.Stored;
    }
}

TEST_F(SecCopyNamesTest, ComposeStoredSuffixAndReadItBack)
{
    struct TCase {
        const char *Suffix;
        int MaxHist, MinHist, AgeInWeeks;
        const char *Stored;
        bool RoundTrip;
    };
    const TCase cases[] = {
        {"bak", 1, 1, 0, "bak", true},
        {"bak-#", 5, 1, 0, "bak-#5", true},
        {"bak-#", 12, 2, 4, "bak-#12/4/2", true},
        {"bak", 1, 1, 4, "bak/4/1", true},
        {"bak-#", 99, 99, 999, "bak-#99/999/99", true},
        // A "#" without a count: the age is not read back.
        {"bak-#", 1, 1, 3, "bak-#/3/1", false},
    };
    for (const TCase &c : cases) {
        const QString stored = ComposeBakSuffix(S(c.Suffix), c.MaxHist, c.MinHist, c.AgeInWeeks);
        EXPECT_EQ(stored, S(c.Stored));
        QString suffix = stored;
        int maxHist = 0, minHist = 0, age = 0;
        ParseBakSuffix(suffix, maxHist, minHist, age);
        EXPECT_EQ(suffix, S(c.Suffix));
        EXPECT_EQ(maxHist == c.MaxHist && minHist == c.MinHist && age == c.AgeInWeeks, c.RoundTrip) << c.Stored;
    }
}

// ---- Dates in copy names ----

TEST_F(SecCopyNamesTest, DatesInCopyNames)
{
    struct TCase {
        const char *Name;
        int Pos;
        bool Ok;
        TDateTime Date;
        int64_t Unix;
    };
    const TCase cases[] = {
        {"~bak-1970-01-02", 5, true, 25570, 86400},
        {"~bak-2024-02-29", 5, true, EncodeDate(2024, 2, 29), 1709164800},
        {"~bak_2024_02_29", 5, true, EncodeDate(2024, 2, 29), 1709164800}, // separators not checked
        {"~bak-2023-02-29", 5, false, 0, 0},
        {"~bak-2024-13-01", 5, false, 0, 0},
        {"~bak-2024-1a-01", 5, false, 0, 0},
        {"~bak-+024-01-01", 5, false, 0, 0},
        {"~bak-2024-01-0", 5, false, 0, 0},
        {"~bak-2024-01-01", 99, false, 0, 0},
        {"~bak-2024-01-01", -1, false, 0, 0},
    };
    for (const TCase &c : cases) {
        TDateTime date = -1;
        EXPECT_EQ(ParseSecCopyDate(S(c.Name), c.Pos, date), c.Ok) << c.Name;
        EXPECT_EQ(date, c.Date) << c.Name;
        int64_t unix = -1;
        EXPECT_EQ(GetSecCopyUnixDate(S(c.Name), c.Pos, unix), c.Ok) << c.Name;
        EXPECT_EQ(unix, c.Unix) << c.Name;
    }
}

// ---- Rotation of archive copies ----

namespace {

class ArchiveRotationTest : public vl::test::FormLogTest {
protected:
    void SetUp() override
    {
        SetDefaultSettings(VlSettings);
        FormLogTest::SetUp();
    }
};

struct TFileSpec {
    const char *Name;
    const char *Content;
    int AgeDays; // last written this many days ago
};

// Every file below ADir by relative path, with its content.
QMap<QString, QString> Listing(const QString &ADir)
{
    QMap<QString, QString> files;
    QDirIterator it(ADir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(ADir).relativeFilePath(path), QString::fromUtf8(ReadBytes(path)));
    }
    return files;
}

} // namespace

TEST_F(ArchiveRotationTest, RotationTable)
{
    vl::test::TScopedTimeZone zone("UTC");
    struct TCase {
        const char *Title;
        TSecDirMode Mode;
        const char *FileSuffix;
        int MaxHist, MinHist, AgeInWeeks;
        bool WithArchive;
        std::vector<TFileSpec> Before;
        std::vector<std::pair<const char *, const char *>> After;
    };
    const std::vector<TCase> cases = {
        {"one copy replaces the last one", TSecDirMode::sdNone, "bak", 1, 1, 0, true,
         {{"set.bak.zip", "old", 0}},
         {{"set.bak.zip", "cur"}}},
        {"numbered copies move up one", TSecDirMode::sdNone, "bak-#", 3, 1, 0, true,
         {{"set.bak-01.zip", "c1", 0}, {"set.bak-02.zip", "c2", 0}, {"set.bak-03.zip", "c3", 0}},
         {{"set.bak-01.zip", "cur"}, {"set.bak-02.zip", "c1"}, {"set.bak-03.zip", "c2"}}},
        {"a gap in the history stays", TSecDirMode::sdNone, "bak-#", 3, 1, 0, true,
         {{"set.bak-02.zip", "c2", 0}},
         {{"set.bak-01.zip", "cur"}, {"set.bak-03.zip", "c2"}}},
        {"old copies above MinHist go", TSecDirMode::sdNone, "bak-#", 3, 2, 1, true,
         {{"set.bak-01.zip", "c1", 10}, {"set.bak-02.zip", "c2", 10}},
         {{"set.bak-01.zip", "cur"}, {"set.bak-02.zip", "c1"}}},
        {"a young copy is kept, an old one goes", TSecDirMode::sdNone, "bak-#", 3, 1, 1, true,
         {{"set.bak-01.zip", "c1", 8}, {"set.bak-02.zip", "c2", 6}},
         {{"set.bak-01.zip", "cur"}, {"set.bak-03.zip", "c2"}}},
        {"copies beyond a lowered MaxHist go", TSecDirMode::sdNone, "bak-#", 2, 1, 0, true,
         {{"set.bak-01.zip", "c1", 0},
          {"set.bak-02.zip", "c2", 0},
          {"set.bak-03.zip", "c3", 0},
          {"set.bak-99.zip", "c99", 0},
          {"other.bak-03.zip", "keep", 0}},
         {{"set.bak-01.zip", "cur"}, {"set.bak-02.zip", "c1"}, {"other.bak-03.zip", "keep"}}},
        {"without an archive only the history moves", TSecDirMode::sdNone, "bak-#", 2, 1, 0, false,
         {{"set.bak-01.zip", "c1", 0}},
         {{"set.bak-02.zip", "c1"}}},
        {"placeholders stay as stored", TSecDirMode::sdNone, "%bdate%", 1, 1, 0, true,
         {},
         {{"set.%bdate%.zip", "cur"}}},
        {"copies go to the copy folder", TSecDirMode::sdSubDir, "bak", 1, 1, 0, true,
         {{"~bak/set.bak.zip", "old", 0}},
         {{"~bak/set.bak.zip", "cur"}}},
        {"numbered copies in the copy folder", TSecDirMode::sdRootDir, "v#", 2, 1, 0, true,
         {{"~bak/set.v01.zip", "c1", 0}},
         {{"~bak/set.v01.zip", "cur"}, {"~bak/set.v02.zip", "c1"}}},
        {"no copy folder, no copy", TSecDirMode::sdSubDir, "bak", 1, 1, 0, true,
         {{"~bak", "a file", 0}},
         {{"~bak", "a file"}, {"set.zip", "cur"}}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Title);
        const QString dir = vl::test::MakeTempDir(QStringLiteral("rot"));
        for (const TFileSpec &f : c.Before) {
            const QString path = dir + QLatin1Char('/') + S(f.Name);
            ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
            WriteBytes(path, f.Content);
            TFileTime ft = 0;
            ASSERT_TRUE(UtcDateTimeToFileTime(ft, Now() - f.AgeDays));
            ASSERT_EQ(XlSetFileTime(path, ft, false), 0u);
        }
        if (c.WithArchive)
            WriteBytes(dir + S("/set.zip"), "cur");
        Form.BakSec.DirMode = c.Mode;
        Form.BakSec.DirPrefix = S("~");
        Form.BakSec.DirSuffix = S("bak");
        Form.BakSec.FileSuffix = S(c.FileSuffix);
        Form.BakSec.MaxHist = c.MaxHist;
        Form.BakSec.MinHist = c.MinHist;
        Form.BakSec.AgeInWeeks = c.AgeInWeeks;
        Form.ErrorCnt = Form.WarningCnt = 0;

        Form.RotateArchiveCopies(dir + S("/set.zip"));

        QMap<QString, QString> expected;
        for (const auto &[name, content] : c.After)
            expected.insert(S(name), S(content));
        EXPECT_EQ(Listing(dir), expected);
        EXPECT_EQ(Form.ErrorCnt, 0);
        EXPECT_EQ(Form.WarningCnt, 0);
    }
    EXPECT_TRUE(Log().contains(S("B: Could not create directory: \""))) << Log().toStdString();
}

TEST_F(ArchiveRotationTest, CopyThatCannotBeDeletedIsAnErrorOfTheRun)
{
    const QString dir = vl::test::MakeTempDir(QStringLiteral("rot"));
    const QString copy = dir + S("/set.bak.zip");
    WriteBytes(copy, "old");
    WriteBytes(dir + S("/set.zip"), "cur");
    const QByteArray path = copy.toUtf8();
    if (std::system(("chattr +i '" + path + "' 2>/dev/null").constData()) != 0)
        GTEST_SKIP() << "chattr +i does not work here";
    struct TUnlock {
        QByteArray Path;
        ~TUnlock() { (void)std::system(("chattr -i '" + Path + "'").constData()); }
    } unlock{path};
    Form.BakSec.FileSuffix = S("bak");

    Form.RotateArchiveCopies(dir + S("/set.zip"));

    EXPECT_EQ(Form.ErrorCnt, 1);
    EXPECT_EQ(ReadBytes(copy), QByteArray("old"));
    EXPECT_EQ(ReadBytes(dir + S("/set.zip")), QByteArray("cur"));
    EXPECT_TRUE(Log().contains(S("B: Error deleting file: \"") + copy + S("\""))) << Log().toStdString();
}

namespace {

// A split archive as the zip writer leaves it: segments .z01.. and the
// .zip part whose end record counts them.
void WriteSplitArchive(const QString &AZip, const QByteArray &AMark, int ASegments)
{
    vl::TZipEndRecord end;
    end.DiskNumber = uint16_t(ASegments);
    for (int i = 0; i < ASegments; ++i)
        WriteBytes(vl::ZipSegmentName(AZip, i), AMark + QByteArray::number(i));
    WriteBytes(AZip, AMark + vl::EncodeZipEndRecord(end));
}

} // namespace

TEST_F(ArchiveRotationTest, SplitArchiveIsRotatedWithItsSegments)
{
    const QString dir = vl::test::MakeTempDir(QStringLiteral("rot"));
    const QString zip = dir + S("/set.zip");
    const QString copy = dir + S("/set.bak.zip");
    WriteSplitArchive(copy, "older", 3); // an older copy with more segments
    WriteSplitArchive(zip, "current", 2);
    Form.BakSec.FileSuffix = S("bak");

    Form.RotateArchiveCopies(zip);

    EXPECT_EQ(Form.ErrorCnt, 0) << Log().toStdString();
    // The current set is now the copy, whole; nothing of it or of the
    // older copy is left under the archive's or the copy's names.
    EXPECT_FALSE(XlFileExists(zip, false));
    EXPECT_FALSE(XlFileExists(vl::ZipSegmentName(zip, 0), false));
    EXPECT_EQ(vl::GetZipSegmentCount(copy), 2);
    EXPECT_EQ(ReadBytes(vl::ZipSegmentName(copy, 0)), QByteArray("current0"));
    EXPECT_EQ(ReadBytes(vl::ZipSegmentName(copy, 1)), QByteArray("current1"));
    EXPECT_FALSE(XlFileExists(vl::ZipSegmentName(copy, 2), false));
}
