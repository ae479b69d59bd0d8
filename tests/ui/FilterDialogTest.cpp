#include "ui/FilterDialog.h"
#include "ui/ListDialogs.h"

#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "ListTestViews.h"
#include "ValueTestViews.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TRecordingMessages;
using vl::test::TScriptedValueViews;
using vl::test::TScriptedViews;

namespace {

struct TFilterValue {
    TFilterMode Mode;
    bool Regular;
    QString Text;
};

void Load(TTextFilter &AFilter, const TFilterValue &AValue)
{
    AFilter.SetRegular(AValue.Regular);
    AFilter.SetFilter(AValue.Text);
    AFilter.SetMode(AValue.Mode);
}

void ExpectFilter(const TTextFilter &AFilter, const TFilterValue &AValue, const std::string &ALabel)
{
    EXPECT_EQ(AFilter.Mode(), AValue.Mode) << ALabel;
    EXPECT_EQ(AFilter.Regular(), AValue.Regular) << ALabel;
    EXPECT_EQ(AFilter.GetFilter(), AValue.Text) << ALabel;
}

} // namespace

TEST(FilterDialogTest, EditsRoundTripIntoTheFilter)
{
    struct Case {
        std::string name;
        TFilterValue before;
        std::function<void(TFilterDialog &)> edit;
        TFilterValue after;
        bool fileFilter = false;
    } cases[] = {
        {"include with an empty text stores the match-all mask",
         {TFilterMode::fmOff, false, u"*"_s},
         [](TFilterDialog &D) {
             D.IncMaskBtn.UserClick();
             D.cbFilter.UserEdit(QString());
         },
         {TFilterMode::fmInclude, false, u"*"_s}},
        {"AND puts a plus in front of the masks",
         {TFilterMode::fmInclude, false, u"*.txt|*.doc"_s},
         [](TFilterDialog &D) { D.rgEval.UserSelect(1); },
         {TFilterMode::fmInclude, false, u"+*.txt|*.doc"_s}},
        {"OR takes the plus away again",
         {TFilterMode::fmExclude, false, u"+*.txt|*.doc"_s},
         [](TFilterDialog &D) { D.rgEval.UserSelect(0); },
         {TFilterMode::fmExclude, false, u"*.txt|*.doc"_s}},
        {"switching to a regular expression turns * into .",
         {TFilterMode::fmInclude, false, u"*"_s},
         [](TFilterDialog &D) { D.RegExpCB.UserClick(); },
         {TFilterMode::fmInclude, true, u"."_s}},
        {"a typed regular expression",
         {TFilterMode::fmInclude, false, u"*"_s},
         [](TFilterDialog &D) {
             D.RegExpCB.UserClick();
             D.cbFilter.UserEdit(u"^a.*z$"_s);
             D.ExcMaskBtn.UserClick();
         },
         {TFilterMode::fmExclude, true, u"^a.*z$"_s}},
        {"All switches the filter off and keeps its expression",
         {TFilterMode::fmInclude, true, u"\\d+"_s},
         [](TFilterDialog &D) { D.NoMaskBtn.UserClick(); },
         {TFilterMode::fmOff, true, u"\\d+"_s}},
        {"a file filter's mask gets every extension",
         {TFilterMode::fmOff, false, u"*"_s},
         [](TFilterDialog &D) {
             D.IncMaskBtn.UserClick();
             D.cbFilter.UserEdit(u"report"_s);
         },
         {TFilterMode::fmInclude, false, u"report.*"_s},
         true},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.OnFilter = [&](TFilterDialog &D) {
            c.edit(D);
            D.OKBtn.UserClick();
        };
        TTextFilter filter(c.fileFilter, true);
        Load(filter, c.before);
        EXPECT_TRUE(EditFilter(u"Files"_s, u"Filter"_s, true, true, filter)) << c.name;
        ExpectFilter(filter, c.after, c.name);
    }
}

TEST(FilterDialogTest, OpeningShowsTheFilterAndItsControlsFollowTheChoices)
{
    TScriptedValueViews views;
    TTextFilter filter(true, true);
    Load(filter, {TFilterMode::fmExclude, false, u"+*.tmp|*.bak"_s});
    views.OnFilter = [](TFilterDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Source filter"_s);
        EXPECT_EQ(D.gbFilter.Caption(), u"Files to skip"_s);
        EXPECT_TRUE(D.ExcMaskBtn.Checked());
        EXPECT_EQ(D.cbFilter.Text(), u"+*.tmp|*.bak"_s);
        EXPECT_EQ(D.rgEval.ItemIndex(), 1);
        EXPECT_FALSE(D.RegExpCB.Visible());
        EXPECT_TRUE(D.btnEditMask.Visible());

        D.NoMaskBtn.UserClick();
        EXPECT_FALSE(D.cbFilter.Enabled());
        EXPECT_FALSE(D.lbMask.Enabled());
        EXPECT_EQ(D.cbFilter.Text(), u"*"_s);
        D.CancelBtn.UserClick();
    };
    EXPECT_FALSE(EditFilter(u"Source filter"_s, u"Files to skip"_s, false, true, filter));
    ExpectFilter(filter, {TFilterMode::fmExclude, false, u"+*.tmp|*.bak"_s}, "cancelled");

    views.OnFilter = [](TFilterDialog &D) {
        D.RegExpCB.UserClick();
        EXPECT_FALSE(D.rgEval.Visible());
        EXPECT_FALSE(D.btnEditMask.Enabled());
        D.RegExpCB.UserClick();
        EXPECT_TRUE(D.rgEval.Visible());
        EXPECT_TRUE(D.btnEditMask.Enabled());
        D.NoMaskBtn.UserClick();
        EXPECT_FALSE(D.RegExpCB.Enabled());
        EXPECT_FALSE(D.RegExpCB.Checked());
        D.CancelBtn.UserClick();
    };
    TTextFilter regular(false, true);
    Load(regular, {TFilterMode::fmInclude, false, u"*"_s});
    EXPECT_FALSE(EditFilter(u"t"_s, u"d"_s, true, true, regular));
}

// A failed OK used to leave the kind, the mode and the reset mask "*" in
// the caller's filter, so Cancel returned an exclude filter that excluded
// everything.
TEST(FilterDialogTest, InvalidTextKeepsTheDialogOpenAndCancelLeavesTheFilterAsItWas)
{
    struct Case {
        bool regular;
        QString text;
        QString message;
    } cases[] = {
        {false, u"[a"_s, u"Invalid filter mask!\r\nShould resemble * or [ab]*"_s},
        {true, u"(ab"_s, u"Invalid filter mask!\r\nShould resemble \\D or A+[bc]."_s},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        TRecordingMessages messages;
        views.OnFilter = [&](TFilterDialog &D) {
            D.ExcMaskBtn.UserClick();
            if (c.regular)
                D.RegExpCB.UserClick();
            D.cbFilter.UserEdit(c.text);
            D.OKBtn.UserClick();
            EXPECT_EQ(D.ModalResult(), mrNone) << c.text.toStdString();
            D.CancelBtn.UserClick();
        };
        TTextFilter filter(true, true);
        Load(filter, {TFilterMode::fmInclude, false, u"*.doc"_s});
        EXPECT_FALSE(EditFilter(u"t"_s, u"d"_s, true, true, filter));
        ExpectFilter(filter, {TFilterMode::fmInclude, false, u"*.doc"_s}, c.text.toStdString());
        EXPECT_TRUE(filter.MatchesFilter(u"a.doc"_s));
        EXPECT_FALSE(filter.MatchesFilter(u"a.txt"_s));
        EXPECT_EQ(messages.Texts, QStringList{c.message});
    }
}

TEST(FilterDialogTest, ValidTextAfterAFailedOkIsStored)
{
    TScriptedValueViews views;
    TRecordingMessages messages;
    views.OnFilter = [](TFilterDialog &D) {
        D.cbFilter.UserEdit(u"[a"_s);
        D.OKBtn.UserClick();
        D.cbFilter.UserEdit(u"[ab]*"_s);
        D.OKBtn.UserClick();
    };
    TTextFilter filter(false, true);
    Load(filter, {TFilterMode::fmInclude, false, u"x*"_s});
    EXPECT_TRUE(EditFilter(u"t"_s, u"d"_s, true, true, filter));
    ExpectFilter(filter, {TFilterMode::fmInclude, false, u"[ab]*"_s}, "second try");
    EXPECT_EQ(messages.Texts.size(), 1);
}

TEST(FilterDialogTest, EditExpressionsShowsOneMaskPerLineAndJoinsThemBack)
{
    TScriptedValueViews views;
    TScriptedViews lists;
    QStringList shown;
    lists.OnSelectFromList = [&](TSelectFromListDialog &L) {
        EXPECT_EQ(L.Form.Caption(), u"Filter expressions:"_s);
        EXPECT_EQ(L.lbDesc.Caption(), u"Skip:"_s);
        shown = L.lbxStringList.Texts();
        L.lbxStringList.Add(u"*.PDF"_s);
        L.OKBtn.Click();
    };
    views.OnFilter = [](TFilterDialog &D) {
        D.btnEditMask.UserClick();
        EXPECT_EQ(D.cbFilter.Text(), u"+*.txt|*.doc|*.pdf"_s);
        D.OKBtn.UserClick();
    };
    TTextFilter filter(true, true);
    Load(filter, {TFilterMode::fmInclude, false, u"+*.txt|*.doc"_s});
    EXPECT_TRUE(EditFilter(u"Skip"_s, u"d"_s, true, true, filter));
    EXPECT_EQ(shown, (QStringList{u"*.txt"_s, u"*.doc"_s}));
    EXPECT_EQ(filter.GetFilter(), u"+*.txt|*.doc|*.pdf"_s);
}

TEST(FilterDialogTest, HistoryComesFromTheIniSectionAndGoesBackWithTheNewTextFirst)
{
    const QString ini = vl::test::MakeTempDir() + u"/prog.ini"_s;
    {
        TMemIniFile file(ini);
        file.WriteString(u"Filters"_s, u"History0"_s, u"+*.a|*.b"_s);
        file.WriteString(u"Filters"_s, u"History1"_s, u"*.c"_s);
        file.UpdateFile();
    }
    TScriptedValueViews views;
    views.OnFilter = [](TFilterDialog &D) {
        EXPECT_TRUE(D.FilterDropDown());
        EXPECT_EQ(D.cbFilter.Items(), (QStringList{u"*.txt"_s, u"+*.a|*.b"_s, u"*.c"_s}));
        EXPECT_EQ(D.rgEval.ItemIndex(), 0);
        // Taking an AND entry from the list selects AND.
        D.cbFilter.UserSelect(1);
        EXPECT_EQ(D.rgEval.ItemIndex(), 1);
        D.cbFilter.UserEdit(u"*.d"_s);
        D.OKBtn.UserClick();
    };
    SetFilterHistoryIni(ini, u"Filters"_s);
    TTextFilter filter(true, true);
    Load(filter, {TFilterMode::fmInclude, false, u"*.txt"_s});
    EXPECT_TRUE(EditFilter(u"t"_s, u"d"_s, true, true, filter));
    SetFilterHistoryIni(QString(), QString());

    const TMemIniFile saved(ini);
    EXPECT_EQ(saved.ReadSection(u"Filters"_s),
              (QStringList{u"History0"_s, u"History1"_s, u"History2"_s, u"History3"_s}));
    EXPECT_EQ(saved.ReadString(u"Filters"_s, u"History0"_s, QString()), u"*.d"_s);
    EXPECT_EQ(saved.ReadString(u"Filters"_s, u"History1"_s, QString()), u"*.txt"_s);
}

TEST(FilterDialogTest, WithoutADisplayTheFilterStaysAsItWas)
{
    TTextFilter filter(true, true);
    Load(filter, {TFilterMode::fmExclude, false, u"*.o"_s});
    EXPECT_FALSE(EditFilter(u"t"_s, u"d"_s, true, true, filter));
    ExpectFilter(filter, {TFilterMode::fmExclude, false, u"*.o"_s}, "headless");
}
