#include "backup/BackupForm.h"
#include "backup/FileSelection.h"
#include "core/DateTime.h"
#include "core/FileInfo.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace vl;

namespace {

TExtensionList MakeEntry()
{
    return TExtensionList(TTimePeriod(), TSubDirMode::sdmNormal);
}

TFileInfo MakeInfo(const QString &Name, int64_t Size = 10, uint32_t Attr = 0, TDateTime Written = 0,
                   TDateTime Created = 0)
{
    TFileInfo info;
    info.Name = Name;
    info.Size = Size;
    info.Attr = Attr;
    info.DateTime = Written;
    info.CreationTime = Created;
    return info;
}

// 2026-03-10, the day of the run in the time tests.
const TDateTime kToday = 46091;

} // namespace

// ---- Type test ----

TEST(FileSelectionTest, TypeTestByIncludeAndExcludeLists)
{
    ASSERT_EQ(EncodeDate(2026, 3, 10), kToday);
    struct TCase {
        TIncludeMode Mode;
        std::initializer_list<const char *> Types;
        const char *FileName;
        bool Selected;
        const char *Key;
    };
    const TCase cases[] = {
        {TIncludeMode::buInclude, {"TXT", "DOC"}, "notes.txt", true, "TXT"},
        {TIncludeMode::buInclude, {"TXT"}, "Notes.Txt", true, "TXT"},
        {TIncludeMode::buInclude, {"txt"}, "notes.TXT", true, "TXT"},
        {TIncludeMode::buInclude, {"TXT"}, "photo.jpg", false, "JPG"},
        {TIncludeMode::buInclude, {"TXT"}, "Makefile", false, "<ohne>"},
        {TIncludeMode::buInclude, {"TXT", "<ohne>"}, "Makefile", true, "<ohne>"},
        {TIncludeMode::buInclude, {"<ohne>"}, "trailing.", true, "<ohne>"},
        {TIncludeMode::buInclude, {"GZ"}, "src.tar.gz", true, "GZ"},
        {TIncludeMode::buInclude, {"BASHRC"}, ".bashrc", true, "BASHRC"},
        {TIncludeMode::buInclude, {"ÄBC"}, "x.äbc", true, "ÄBC"},
        {TIncludeMode::buInclude, {}, "notes.txt", false, "TXT"},
        {TIncludeMode::buExclude, {}, "notes.txt", true, "TXT"},
        {TIncludeMode::buExclude, {"TMP"}, "cache.tmp", false, "TMP"},
        {TIncludeMode::buExclude, {"TMP"}, "cache.Tmp", false, "TMP"},
        {TIncludeMode::buExclude, {"TMP"}, "notes.txt", true, "TXT"},
        {TIncludeMode::buExclude, {"<ohne>"}, "README", false, "<ohne>"},
        {TIncludeMode::buExclude, {"<ohne>"}, "readme.md", true, "MD"},
    };
    for (const TCase &c : cases) {
        TExtensionList entry = MakeEntry();
        entry.InclMode = c.Mode;
        for (const char *t : c.Types)
            (c.Mode == TIncludeMode::buInclude ? entry.Include : entry.Exclude).Add(QString::fromUtf8(t));
        // The inactive list must not count.
        TTypeList &inactive = c.Mode == TIncludeMode::buInclude ? entry.Exclude : entry.Include;
        inactive.Add(FileTypeKey(QString::fromUtf8(c.FileName)));
        QString key;
        EXPECT_EQ(IsFileTypeSelected(QString::fromUtf8(c.FileName), entry, key), c.Selected) << c.FileName;
        EXPECT_EQ(key, QString::fromUtf8(c.Key)) << c.FileName;
    }
}

// ---- Name filter, attributes, size ----

TEST(FileSelectionTest, NameFilterMasksAndRegularExpressions)
{
    struct TCase {
        TFilterMode Mode;
        bool Regular;
        const char *Filter;
        const char *Name;
        bool Selected;
    };
    const TCase cases[] = {
        {TFilterMode::fmOff, false, "*.txt", "photo.jpg", true},
        {TFilterMode::fmInclude, false, "*.txt|report*", "notes.TXT", true},
        {TFilterMode::fmInclude, false, "*.txt|report*", "report.pdf", true},
        {TFilterMode::fmInclude, false, "*.txt|report*", "photo.jpg", false},
        {TFilterMode::fmExclude, false, "*.txt|report*", "report.pdf", false},
        {TFilterMode::fmExclude, false, "*.txt|report*", "photo.jpg", true},
        {TFilterMode::fmInclude, false, "+a*|!*.bak", "abc.txt", true},
        {TFilterMode::fmInclude, false, "+a*|!*.bak", "abc.bak", false},
        {TFilterMode::fmInclude, true, "^img_[0-9]+\\.jpg$", "IMG_0042.jpg", true},
        {TFilterMode::fmInclude, true, "^img_[0-9]+\\.jpg$", "img_x.jpg", false},
        {TFilterMode::fmExclude, true, "~$", "draft.doc~", false},
        {TFilterMode::fmExclude, true, "~$", "draft.doc", true},
    };
    for (const TCase &c : cases) {
        TExtensionList entry = MakeEntry();
        entry.FFilter.SetRegular(c.Regular);
        entry.FFilter.SetFilter(QString::fromUtf8(c.Filter));
        entry.FFilter.SetMode(c.Mode);
        const QString name = QString::fromUtf8(c.Name);
        EXPECT_EQ(IsFileSelected(name, MakeInfo(name), entry, TSelectionTimes()), c.Selected)
            << c.Filter << " " << c.Name;
    }
}

TEST(FileSelectionTest, FilterIsAppliedToTheGivenTextNotTheInfoName)
{
    TExtensionList entry = MakeEntry();
    entry.FFilter.SetFilter(QStringLiteral("*.txt"));
    entry.FFilter.SetMode(TFilterMode::fmInclude);
    const TFileInfo info = MakeInfo(QStringLiteral("a.jpg"));
    EXPECT_TRUE(IsFileSelected(QStringLiteral("a.txt"), info, entry, TSelectionTimes()));
    EXPECT_FALSE(IsFileSelected(QStringLiteral("a.jpg"), MakeInfo(QStringLiteral("a.txt")), entry, TSelectionTimes()));
}

TEST(FileSelectionTest, AttributeModes)
{
    constexpr TAttrMode I = TAttrMode::amIgnore, In = TAttrMode::amInclude, Ex = TAttrMode::amExclude;
    struct TCase {
        TAttributes Attributes;
        uint32_t Attr;
        bool Selected;
    };
    const TCase cases[] = {
        {{I, I, I, I}, faArchive | faReadOnly | faHidden | faSysFile, true},
        {{I, I, I, I}, 0, true},
        {{In, I, I, I}, faArchive, true},
        {{In, I, I, I}, faReadOnly, false},
        {{I, In, I, I}, faReadOnly | faHidden, true},
        {{I, I, Ex, I}, faHidden, false},
        {{I, I, Ex, I}, faArchive, true},
        {{I, I, I, Ex}, faSysFile | faArchive, false},
        {{In, Ex, I, I}, faArchive, true},
        {{In, Ex, I, I}, faArchive | faReadOnly, false},
        {{In, In, I, I}, faArchive, false},
        {{Ex, Ex, Ex, Ex}, faNormal | faDirectory, true},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(IsAttrSelected(c.Attributes, c.Attr), c.Selected) << std::hex << c.Attr;
        TExtensionList entry = MakeEntry();
        entry.Attributes = c.Attributes;
        EXPECT_EQ(IsFileSelected(QStringLiteral("f"), MakeInfo(QStringLiteral("f"), 1, c.Attr), entry,
                                 TSelectionTimes()),
                  c.Selected);
    }
}

TEST(FileSelectionTest, SizeModesWithTheirEdges)
{
    const int64_t big = int64_t(5) << 32; // beyond 32 bits
    struct TCase {
        TSizeMode Mode;
        int64_t Min, Max, Size;
        bool Selected;
    };
    const TCase cases[] = {
        {TSizeMode::szAll, 100, 200, big, true},
        {TSizeMode::szBetween, 100, 200, 99, false},
        {TSizeMode::szBetween, 100, 200, 100, true},
        {TSizeMode::szBetween, 100, 200, 200, true},
        {TSizeMode::szBetween, 100, 200, 201, false},
        {TSizeMode::szSmaller, 0, 200, 199, true},
        {TSizeMode::szSmaller, 0, 200, 200, false},
        {TSizeMode::szSmaller, 0, big, big - 1, true},
        {TSizeMode::szLarger, 100, 0, 100, false},
        {TSizeMode::szLarger, 100, 0, 101, true},
        {TSizeMode::szLarger, big, 0, big + 1, true},
        {TSizeMode::szLarger, big, 0, 1, false},
    };
    for (const TCase &c : cases) {
        TExtensionList entry = MakeEntry();
        entry.SizeLimits = {c.Mode, c.Min, c.Max};
        EXPECT_EQ(IsFileSelected(QStringLiteral("f"), MakeInfo(QStringLiteral("f"), c.Size), entry, TSelectionTimes()),
                  c.Selected)
            << int(c.Mode) << " " << c.Size;
    }
}

// ---- Time tests ----

TEST(FileSelectionTest, TimeModesAndTheirEdgeDays)
{
    const TDateTime lastRun = kToday - 2 + 0.75; // two days ago, 18:00
    const TDateTime eps = 1.0 / 86400;           // one second
    struct TCase {
        TTimeMode Mode;
        int Days;
        TDateTime DayTime, Dat1, Dat2;
        TDateTime Time;
        bool Selected;
    };
    const TDateTime d1 = kToday - 30, d2 = kToday - 10;
    const TCase cases[] = {
        {TTimeMode::tmAll, 0, 0, 0, 0, -700000, true},
        {TTimeMode::tmNewer, 0, 0, d1, 0, d1, true},
        {TTimeMode::tmNewer, 0, 0, d1, 0, d1 - eps, false},
        {TTimeMode::tmOlder, 0, 0, 0, d2, d2 - eps, true},
        {TTimeMode::tmOlder, 0, 0, 0, d2, d2, false},
        {TTimeMode::tmSpan, 0, 0, d1, d2, d1 - eps, false},
        {TTimeMode::tmSpan, 0, 0, d1, d2, d1, true},
        {TTimeMode::tmSpan, 0, 0, d1, d2, d2 + 1 - eps, true}, // last second of Dat2
        {TTimeMode::tmSpan, 0, 0, d1, d2, d2 + 1, false},
        {TTimeMode::tmToday, 0, 0.5, 0, 0, kToday + 0.5, true},
        {TTimeMode::tmToday, 0, 0.5, 0, 0, kToday + 0.5 - eps, false},
        {TTimeMode::tmToday, 0, 0.5, 0, 0, kToday + 3, true},
        {TTimeMode::tmLastDays, 0, 0, 0, 0, kToday, true},
        {TTimeMode::tmLastDays, 0, 0, 0, 0, kToday + 1 - eps, true},
        {TTimeMode::tmLastDays, 0, 0, 0, 0, kToday - eps, false},
        {TTimeMode::tmLastDays, 1, 0, 0, 0, kToday - 1, true},
        {TTimeMode::tmLastDays, 1, 0, 0, 0, kToday - 1 - eps, false},
        {TTimeMode::tmPrevDays, 1, 0, 0, 0, kToday - 1 - eps, true},
        {TTimeMode::tmPrevDays, 1, 0, 0, 0, kToday - 1, false},
        {TTimeMode::tmPrevDays, 0, 0, 0, 0, kToday - eps, true},
        {TTimeMode::tmPrevDays, 0, 0, 0, 0, kToday + 0.9, false},
        {TTimeMode::tmUpdate, 0, 0, 0, 0, lastRun, false},
        {TTimeMode::tmUpdate, 0, 0, 0, 0, lastRun + eps, true},
        {TTimeMode::tmOff, 0, 0, 0, 0, kToday, false},
        {TTimeMode::tmError, 0, 0, 0, 0, kToday, false},
        {TTimeMode::tmPrompt, 0, 0, 0, 0, kToday, false},
    };
    const TSelectionTimes times{TTimePeriod{TTimeMode::tmOff}, kToday, lastRun};
    for (const TCase &c : cases) {
        TTimePeriod p;
        p.Mode = c.Mode;
        p.Days = c.Days;
        p.DayTime = c.DayTime;
        p.Dat1 = c.Dat1;
        p.Dat2 = c.Dat2;
        EXPECT_EQ(IsTimeInPeriod(c.Time, p, times), c.Selected)
            << "mode " << int(c.Mode) << " time " << (c.Time - kToday);
    }
}

TEST(FileSelectionTest, UpdateModeOfANeverRunTaskSelectsEveryDatedFile)
{
    TTimePeriod p;
    p.Mode = TTimeMode::tmUpdate;
    const TSelectionTimes times{TTimePeriod{TTimeMode::tmOff}, kToday, 0};
    EXPECT_TRUE(IsTimeInPeriod(1.0 / 86400, p, times));
    EXPECT_TRUE(IsTimeInPeriod(kToday, p, times));
    EXPECT_FALSE(IsTimeInPeriod(0, p, times));
}

TEST(FileSelectionTest, TimeReferenceChoosesWriteCreationOrEither)
{
    TTimePeriod p;
    p.Mode = TTimeMode::tmNewer;
    p.Dat1 = kToday - 7;
    const TSelectionTimes times{TTimePeriod{TTimeMode::tmOff}, kToday, 0};
    const TFileInfo createdRecently = MakeInfo(QStringLiteral("f"), 1, 0, kToday - 100, kToday - 1);
    const TFileInfo writtenRecently = MakeInfo(QStringLiteral("f"), 1, 0, kToday - 1, kToday - 100);
    const TFileInfo old = MakeInfo(QStringLiteral("f"), 1, 0, kToday - 100, kToday - 100);
    struct TCase {
        TTimeRef Ref;
        bool Created, Written, Old;
    };
    const TCase cases[] = {
        {TTimeRef::trModify, false, true, false},
        {TTimeRef::trCreate, true, false, false},
        {TTimeRef::trBoth, true, true, false},
    };
    for (const TCase &c : cases) {
        p.TmRef = c.Ref;
        EXPECT_EQ(IsFileTimeSelected(p, createdRecently, times), c.Created) << int(c.Ref);
        EXPECT_EQ(IsFileTimeSelected(p, writtenRecently, times), c.Written) << int(c.Ref);
        EXPECT_EQ(IsFileTimeSelected(p, old, times), c.Old) << int(c.Ref);
    }
}

TEST(FileSelectionTest, CommandLinePeriodReplacesTheEntrysAndAnInvalidOneSelectsNothing)
{
    TExtensionList entry = MakeEntry(); // tmAll
    TExtensionList recentOnly = MakeEntry();
    recentOnly.TmPeriod.Mode = TTimeMode::tmLastDays;
    recentOnly.TmPeriod.Days = 1;
    const TFileInfo old = MakeInfo(QStringLiteral("f"), 1, 0, kToday - 50);
    const TFileInfo fresh = MakeInfo(QStringLiteral("f"), 1, 0, kToday + 0.1);

    TSelectionTimes times{TTimePeriod{TTimeMode::tmOff}, kToday, 0};
    EXPECT_TRUE(IsFileSelected(QStringLiteral("f"), old, entry, times));
    EXPECT_FALSE(IsFileSelected(QStringLiteral("f"), old, recentOnly, times));

    times.CmdTmPeriod.Mode = TTimeMode::tmNewer;
    times.CmdTmPeriod.Dat1 = kToday;
    EXPECT_FALSE(IsFileSelected(QStringLiteral("f"), old, entry, times));
    EXPECT_TRUE(IsFileSelected(QStringLiteral("f"), fresh, entry, times));

    times.CmdTmPeriod.Mode = TTimeMode::tmAll;
    EXPECT_TRUE(IsFileSelected(QStringLiteral("f"), old, recentOnly, times));

    times.CmdTmPeriod.Mode = TTimeMode::tmError;
    EXPECT_FALSE(IsFileSelected(QStringLiteral("f"), fresh, entry, times));
    EXPECT_FALSE(IsFileSelected(QStringLiteral("f"), fresh, recentOnly, times));
}

TEST(FileSelectionTest, FormTestUsesItsNameCommandLinePeriodDateAndLastBackup)
{
    TBackupForm form;
    TExtensionList entry = MakeEntry();
    entry.FFilter.SetFilter(QStringLiteral("*.txt"));
    entry.FFilter.SetMode(TFilterMode::fmInclude);
    entry.TmPeriod.Mode = TTimeMode::tmToday;
    entry.TmPeriod.DayTime = 0.25;
    form.Heute = kToday;
    form.LastBackupTime = kToday - 1;

    TFileInfo info = MakeInfo(QStringLiteral("a.txt"), 1, 0, kToday + 0.3);
    EXPECT_TRUE(form.IsFileInfoSelected(info, entry));
    info.Name = QStringLiteral("a.jpg");
    EXPECT_FALSE(form.IsFileInfoSelected(info, entry));
    info.Name = QStringLiteral("a.txt");
    form.Heute = kToday + 1;
    EXPECT_FALSE(form.IsFileInfoSelected(info, entry));

    form.CmdTmPeriod.Mode = TTimeMode::tmUpdate;
    EXPECT_TRUE(form.IsFileInfoSelected(info, entry));
    form.LastBackupTime = kToday + 0.5;
    EXPECT_FALSE(form.IsFileInfoSelected(info, entry));
    form.CmdTmPeriod.Mode = TTimeMode::tmError;
    form.LastBackupTime = 0;
    EXPECT_FALSE(form.IsFileInfoSelected(info, entry));
}
