#include "backup/BackupForm.h"
#include "backup/BackupTypes.h"

#include <gtest/gtest.h>

using namespace vl;

namespace {
TTimePeriod SomePeriod()
{
    TTimePeriod p;
    p.Mode = TTimeMode::tmSpan;
    p.TmRef = TTimeRef::trCreate;
    p.DayTime = 0.5;
    p.Dat1 = 40000;
    p.Dat2 = 41000;
    p.Days = 9;
    return p;
}
} // namespace

TEST(ExtensionList, NewEntryTakesDatesOfThePeriodButSelectsAll)
{
    TExtensionList l(SomePeriod(), TSubDirMode::sdmNormal);
    EXPECT_TRUE(l.Selected);
    EXPECT_FALSE(l.IsAvailable);
    EXPECT_EQ(l.TmPeriod.Mode, TTimeMode::tmAll);
    EXPECT_EQ(l.TmPeriod.Days, 1);
    EXPECT_EQ(l.TmPeriod.TmRef, TTimeRef::trCreate);
    EXPECT_EQ(l.TmPeriod.Dat1, 40000);
    EXPECT_EQ(l.SizeLimits.Mode, TSizeMode::szAll);
    EXPECT_EQ(l.SizeLimits.MaxSize, int64_t(17179869184));
    EXPECT_TRUE(l.FFilter.IsFileFilter());
    EXPECT_FALSE(l.EFilter.IsFileFilter());
    TExtensionList files(SomePeriod(), TSubDirMode::sdmFiles);
    EXPECT_FALSE(files.FFilter.IsFileFilter());
}

TEST(ExtensionList, ClearKeepsSelectionsAndCopyFilterSwitchesNameFilterOff)
{
    TExtensionList l(SomePeriod(), TSubDirMode::sdmNormal);
    l.InclMode = TIncludeMode::buInclude;
    l.Include.Add(QStringLiteral("DOC"));
    l.Include.Data(0).FileCount = 3;
    l.ICount = 3;
    l.FFilter.SetMode(TFilterMode::fmInclude);
    l.FFilter.SetFilter(QStringLiteral("*.txt"));
    l.SizeLimits.Mode = TSizeMode::szSmaller;
    l.Attributes.Hidden = TAttrMode::amExclude;
    l.Clear();
    EXPECT_EQ(l.InclMode, TIncludeMode::buExclude);
    EXPECT_TRUE(l.Include.IsEmpty());
    EXPECT_EQ(l.ICount, 0);
    EXPECT_EQ(l.FFilter.Mode(), TFilterMode::fmInclude);
    EXPECT_EQ(l.SizeLimits.Mode, TSizeMode::szSmaller);
    EXPECT_EQ(l.Attributes.Hidden, TAttrMode::amExclude);

    TExtensionList src(SomePeriod(), TSubDirMode::sdmNormal);
    src.InclMode = TIncludeMode::buInclude;
    src.Include.SetCommaText(QStringLiteral("JPG,PNG"));
    src.Exclude.SetCommaText(QStringLiteral("TMP"));
    l.CopyFilter(src);
    EXPECT_EQ(l.InclMode, TIncludeMode::buInclude);
    EXPECT_EQ(l.Include.CommaText(), QStringLiteral("JPG,PNG"));
    EXPECT_TRUE(l.Exclude.IsEmpty());
    EXPECT_EQ(l.Include.Data(1).Index, 1);
    EXPECT_EQ(l.FFilter.Mode(), TFilterMode::fmOff);
}

TEST(ExtensionList, TypeListKeepsIndexEqualToPositionAndIgnoresDuplicates)
{
    TTypeList t;
    EXPECT_EQ(t.Add(QStringLiteral("DOC")), 0);
    EXPECT_EQ(t.Add(QStringLiteral("XLS")), 1);
    EXPECT_EQ(t.Add(QStringLiteral("doc")), 0);
    t.Add(QStringLiteral("PDF"));
    t.Delete(0);
    ASSERT_EQ(t.Count(), 2);
    EXPECT_EQ(t.Data(0).Index, 0);
    EXPECT_EQ(t.Data(1).Index, 1);
    t.SetCommaText(QStringLiteral(" A,,B , A"));
    EXPECT_EQ(t.CommaText(), QStringLiteral("A,B"));
}

TEST(ExtensionList, AttributePackingRoundTrips)
{
    struct Case {
        TAttributes A;
        int Packed;
    };
    const Case cases[] = {
        {{}, 0},
        {{TAttrMode::amInclude, TAttrMode::amIgnore, TAttrMode::amIgnore, TAttrMode::amIgnore}, 1},
        {{TAttrMode::amIgnore, TAttrMode::amExclude, TAttrMode::amIgnore, TAttrMode::amIgnore}, 8},
        {{TAttrMode::amExclude, TAttrMode::amInclude, TAttrMode::amExclude, TAttrMode::amInclude}, 2 + 4 + 32 + 64},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(PackAttributes(c.A), c.Packed);
        EXPECT_EQ(UnpackAttributes(c.Packed), c.A);
    }
    // A field of value 3 is no mode.
    EXPECT_EQ(UnpackAttributes(3).Archive, TAttrMode::amIgnore);
}

TEST(SourceList, SortedInsertKeepsOwnedEntriesAndChecksMirrorSelected)
{
    TSourceListState box;
    auto entry = [](const char *APath, bool ASelected) {
        TExtensionList l(TTimePeriod(), TSubDirMode::sdmNormal);
        l.VPath = QString::fromLatin1(APath);
        l.Selected = ASelected;
        l.IsAvailable = true;
        return l;
    };
    box.Add(QStringLiteral("b"), entry("/b", true));
    box.Add(QStringLiteral("a"), entry("/a", false));
    box.SetSorted(true);
    box.Add(QStringLiteral("c"), entry("/c", true));
    ASSERT_EQ(box.Count(), 3);
    EXPECT_EQ(box.Objects(0).VPath, QStringLiteral("/a"));
    EXPECT_FALSE(box.Checked(0));
    EXPECT_EQ(box.Objects(2).VPath, QStringLiteral("/c"));
    int clicks = 0;
    box.OnClickCheck = [&](TControlState &) { ++clicks; };
    EXPECT_TRUE(box.UserCheck(0, true));
    EXPECT_TRUE(box.Objects(0).Selected);
    EXPECT_EQ(clicks, 1);
    box.SetItemEnabled(1, false);
    EXPECT_FALSE(box.UserCheck(1, false));
    EXPECT_TRUE(box.Objects(1).Selected);
}
