#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/FormatSettings.h"
#include "core/ProgramTexts.h"
#include "core/WindowServices.h"
#include "platform/FileSystem.h"

#include "core/DateTime.h"
#include "core/FileInfo.h"

#include <QDir>
#include <QMap>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include <sched.h>
#include <sys/mount.h>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::MakeTempDir;
using vl::test::WriteBytes;

namespace {

QString Mk(const QString &APath)
{
    EXPECT_EQ(MakeDirs(APath), 0u) << APath.toStdString();
    return APath;
}

void Link(const QString &ALink, const QString &ATarget)
{
    ASSERT_EQ(CreateSymLink(ALink, ATarget), 0u) << ALink.toStdString();
}

TExtensionList Entry(const TBackupForm &F, const QString &APath, TSubDirMode AMode = TSubDirMode::sdmNormal)
{
    TExtensionList list(F.NewPeriod, AMode);
    list.SPath = APath;
    list.VPath = APath;
    list.IsAvailable = true;
    return list;
}

// Key -> (files, bytes) of a type list.
QMap<QString, QPair<int, qint64>> Types(const TTypeList &AList)
{
    QMap<QString, QPair<int, qint64>> m;
    for (int i = 0; i < AList.Count(); ++i) {
        EXPECT_EQ(AList.Data(i).Index, i);
        m.insert(AList.Names(i), {AList.Data(i).FileCount, AList.Data(i).SizeCount});
    }
    return m;
}

// A status window whose Cancel is pressed after a number of looks.
class TCancellingStatus : public IStatusWindow {
public:
    explicit TCancellingStatus(int ALooks) : FLooks(ALooks) {}
    void ShowStatus(QPoint, const QString &Titel, const QString &, bool AllowBreak, int32_t) override
    {
        Title = Titel;
        Break = AllowBreak;
        FVisible = true;
    }
    void SetStatus(const QString &) override {}
    void SetInfo(const QString &AValue) override { Info = AValue; }
    void SetProgress(int32_t) override {}
    bool Stopped() const override { return --FLooks < 0; }
    bool Visible() const override { return FVisible; }
    void Close() override { FVisible = false; }

    QString Title;
    QString Info;
    bool Break = false;

private:
    mutable int FLooks;
    bool FVisible = false;
};

// Mounts in a mount namespace of this process's own; nothing leaks.
bool PrivateMounts()
{
    static const bool ready =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ready;
}

class SourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Root = MakeTempDir(QStringLiteral("src"));
        SetFormatSettings(TFormatSettings::Invariant());
    }
    // Root/name with AData.
    void File(const QString &AName, const QByteArray &AData)
    {
        const QString path = Root + QLatin1Char('/') + AName;
        Mk(path.left(path.lastIndexOf(QLatin1Char('/'))));
        WriteBytes(path, AData);
    }
    QString Dir(const QString &AName) const { return Root + QLatin1Char('/') + AName + QLatin1Char('/'); }

    TBackupForm F;
    QString Root;
};

} // namespace

// ---- Scanning ----

TEST_F(SourcesTest, ScanCountsEachTypeInTheListItsModeGivesIt)
{
    File(u"a.txt"_s, "123");
    File(u"sub/B.Txt"_s, "12345");
    File(u"noext"_s, "1");
    File(u"dot."_s, "12");
    File(u"sub/deeper/c.doc"_s, "1234");
    using T = QMap<QString, QPair<int, qint64>>;
    struct Case {
        TIncludeMode Mode;
        QStringList Listed; // names in the mode's list before the scan
        T Include, Exclude;
        int ICount;
        qint64 IBytes;
    } cases[] = {
        // "All except": every type met is backed up.
        {TIncludeMode::buExclude, {}, T{{u"TXT"_s, {2, 8}}, {u"<ohne>"_s, {2, 3}}, {u"DOC"_s, {1, 4}}}, T{}, 5, 15},
        {TIncludeMode::buExclude, {u"doc"_s}, T{{u"TXT"_s, {2, 8}}, {u"<ohne>"_s, {2, 3}}},
         T{{u"doc"_s, {1, 4}}}, 4, 11},
        // "Only these": a type met for the first time is not.
        {TIncludeMode::buInclude, {u"TXT"_s}, T{{u"TXT"_s, {2, 8}}}, T{{u"<ohne>"_s, {2, 3}}, {u"DOC"_s, {1, 4}}}, 2,
         8},
    };
    for (const Case &c : cases) {
        TExtensionList list = Entry(F, Root);
        list.InclMode = c.Mode;
        for (const QString &n : c.Listed)
            list.ActiveList().Add(n);
        ASSERT_TRUE(F.ScanSourceDir(list, false));
        EXPECT_EQ(Types(list.Include), c.Include) << int(c.Mode);
        EXPECT_EQ(Types(list.Exclude), c.Exclude) << int(c.Mode);
        EXPECT_EQ(list.ICount, c.ICount);
        EXPECT_EQ(list.IBytes, c.IBytes);
        EXPECT_EQ(list.ICount + list.ECount, 5);
        EXPECT_EQ(list.TCount, 5);
    }
}

TEST_F(SourcesTest, UnselectedFilesAddTheirTypeWithoutCounts)
{
    File(u"a.txt"_s, "123");
    File(u"b.log"_s, "12");
    TExtensionList list = Entry(F, Root);
    list.FFilter.SetMode(TFilterMode::fmInclude);
    list.FFilter.SetFilter(u"*.txt"_s);
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    EXPECT_EQ(Types(list.Include), (QMap<QString, QPair<int, qint64>>{{u"TXT"_s, {1, 3}}, {u"LOG"_s, {0, 0}}}));
    EXPECT_EQ(list.ICount, 1);
    EXPECT_EQ(list.TCount, 2);
}

TEST_F(SourcesTest, ExtensionFilterRebuildsBothListsAndStaysInForce)
{
    File(u"a.txt"_s, "123");
    File(u"b.log"_s, "12");
    TExtensionList list = Entry(F, Root);
    list.Exclude.Add(u"OLD"_s);
    list.InclMode = TIncludeMode::buInclude;
    list.EFilter.SetMode(TFilterMode::fmInclude);
    list.EFilter.SetFilter(u"TXT"_s);
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    EXPECT_EQ(list.Include.NamesList(), QStringList{u"TXT"_s});
    EXPECT_EQ(list.Exclude.NamesList(), QStringList{u"LOG"_s});
    EXPECT_EQ(list.InclMode, TIncludeMode::buExclude);
    EXPECT_EQ(list.EFilter.Mode(), TFilterMode::fmInclude);
    EXPECT_EQ(list.ECount, 1);
}

TEST_F(SourcesTest, SubdirectorySelectionDecidesWhatIsCounted)
{
    File(u"top.txt"_s, "1");
    File(u"a/a.txt"_s, "12");
    File(u"a/x/ax.txt"_s, "123");
    File(u"b/b.txt"_s, "1234");
    File(u"b/y/by.txt"_s, "12345");
    struct Case {
        bool IncludeDirs;
        TSubDirMode Mode;
        QStringList Tags;
        qint64 IBytes; // sizes are unique: the sum names the files
    } cases[] = {
        {false, TSubDirMode::sdmNormal, {}, 15},
        // A tagged directory and everything below it is left out.
        {false, TSubDirMode::sdmNormal, {u"a/"_s}, 1 + 4 + 5},
        // Tagged only: the top directory's own files never count; a tag
        // deep down is found.
        {true, TSubDirMode::sdmNormal, {u"a/x/"_s, u"b/"_s}, 3 + 4 + 5},
        {true, TSubDirMode::sdmNormal, {}, 0},
        // A file-mode entry counts its top directory only.
        {false, TSubDirMode::sdmFiles, {}, 1},
        {false, TSubDirMode::sdmPortable, {}, 1},
    };
    for (const Case &c : cases) {
        TExtensionList list = Entry(F, Root, c.Mode);
        list.IncludeDirs = c.IncludeDirs;
        for (const QString &t : c.Tags)
            list.AddSubDir(Dir(t.chopped(1)));
        ASSERT_TRUE(F.ScanSourceDir(list, false));
        EXPECT_EQ(list.IBytes, c.IBytes) << c.IncludeDirs << c.Tags.join(u',').toStdString();
    }
}

TEST_F(SourcesTest, LinksAreFollowedOnlyWithTheJunctionOptionAndNeverBackUp)
{
    const QString outside = MakeTempDir(u"outside"_s);
    WriteBytes(outside + u"/o.txt"_s, "1234567");
    File(u"a/a.txt"_s, "12");
    Link(Root + u"/out"_s, outside);
    Link(Root + u"/a/up"_s, Root);        // to the source itself
    Link(Root + u"/a/parent"_s, Root + u"/.."_s); // above the source
    for (bool junctions : {false, true}) {
        F.UseJunctions = junctions;
        TExtensionList list = Entry(F, Root);
        ASSERT_TRUE(F.ScanSourceDir(list, false));
        EXPECT_EQ(list.IBytes, junctions ? 2 + 7 : 2) << junctions;
    }
}

TEST_F(SourcesTest, ACycleThroughTwoLinksEndsTheWalk)
{
    File(u"a/fa.txt"_s, "1");
    File(u"b/fb.txt"_s, "12");
    Link(Root + u"/a/l1"_s, Root + u"/b"_s);
    Link(Root + u"/b/l2"_s, Root + u"/a"_s);
    F.UseJunctions = true;
    TExtensionList list = Entry(F, Root);
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    // Each file directly and once through the link into the other folder;
    // the link back into a folder on the path is not taken.
    EXPECT_EQ(list.ICount, 4);
    EXPECT_EQ(list.IBytes, 2 * (1 + 2));
}

TEST_F(SourcesTest, PseudoMountsInsideASourceCountAsJunctions)
{
    if (!PrivateMounts())
        GTEST_SKIP() << "needs the right to mount";
    File(u"f.txt"_s, "1");
    const QString proc = Mk(Root + u"/proc"_s);
    ASSERT_EQ(::mount("proc", proc.toUtf8().constData(), "proc", 0, nullptr), 0);
    // The mount table is read again at most every two seconds.
    for (int i = 0; i < 30 && !IsPseudoMountPoint(proc); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(IsPseudoMountPoint(proc));
    TExtensionList list = Entry(F, Root);
    F.UseJunctions = false;
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    EXPECT_EQ(list.TCount, 1);
    // Directory filters do not look inside it either.
    list.DirMask = {u"self"_s};
    F.ApplyDirFilters(list, true, false);
    EXPECT_TRUE(list.SubDirList.IsEmpty());
    ::umount2(proc.toUtf8().constData(), MNT_DETACH);
}

TEST_F(SourcesTest, CancelledOrFailedScanLeavesTheEntryAsItWas)
{
    File(u"a.txt"_s, "123");
    File(u"b/b.doc"_s, "12");
    TExtensionList list = Entry(F, Root);
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    const TExtensionList before = TExtensionList::CreateAssign(list);
    File(u"c.log"_s, "1");
    File(u"d.txt"_s, "1");

    TCancellingStatus status(1);
    SetStatusWindow(&status);
    EXPECT_FALSE(F.ScanSourceDir(list, true));
    SetStatusWindow(nullptr);
    EXPECT_TRUE(status.Break);
    EXPECT_FALSE(status.Visible());
    EXPECT_TRUE(status.Title.endsWith(u"Scanning directories"_s));

    TExtensionList missing = Entry(F, Root + u"/gone"_s);
    missing.Include = list.Include;
    missing.ICount = 7;
    EXPECT_FALSE(F.ScanSourceDir(missing, false));
    EXPECT_EQ(missing.ICount, 7);
    EXPECT_EQ(missing.Include, list.Include);

    EXPECT_EQ(list.Include, before.Include);
    EXPECT_EQ(list.Exclude, before.Exclude);
    EXPECT_EQ(list.ICount, before.ICount);
    EXPECT_EQ(list.IBytes, before.IBytes);
    EXPECT_EQ(list.TCount, before.TCount);
}

TEST_F(SourcesTest, ScanShowsTheFoundTotals)
{
    File(u"a.txt"_s, "123");
    TCancellingStatus status(1000);
    SetStatusWindow(&status);
    TExtensionList list = Entry(F, Root);
    EXPECT_TRUE(F.ScanSourceDir(list, true));
    SetStatusWindow(nullptr);
    EXPECT_EQ(status.Info, u"Found: 1 file totaling "_s + ByteSizeText(false, 3));
}

TEST_F(SourcesTest, ScanSourceDirsStopsAtTheFirstFailure)
{
    File(u"a/a.txt"_s, "1");
    File(u"c/c.txt"_s, "1");
    const QString paths[] = {Root + u"/a"_s, Root + u"/missing"_s, Root + u"/c"_s};
    for (const QString &p : paths) {
        TExtensionList list = Entry(F, p);
        list.DoUpdate = true;
        list.SyncCount = 9;
        F.SelectedDirBox.Add(p, std::move(list));
    }
    F.ScanSourceDirs(false, false);
    const TExtensionList &a = F.SelectedDirBox.Objects(0);
    EXPECT_EQ(a.ICount, 1);
    EXPECT_FALSE(a.DoUpdate);
    EXPECT_EQ(a.SyncCount, 0u);
    EXPECT_TRUE(F.SelectedDirBox.Objects(1).DoUpdate);
    EXPECT_TRUE(F.SelectedDirBox.Objects(2).DoUpdate);
    EXPECT_EQ(F.SelectedDirBox.Objects(2).ICount, 0);
}

TEST_F(SourcesTest, TotalsOfTickedEntriesAndTheCurrentOne)
{
    const std::pair<int, qint64> counts[] = {{2, 10}, {12000, 5}, {1, 0}};
    for (auto [n, b] : counts) {
        TExtensionList list = Entry(F, Root);
        list.ICount = n;
        list.IBytes = b;
        list.ECount = 1;
        list.EBytes = 1;
        list.TCount = n;
        F.SelectedDirBox.Add(Root, std::move(list));
    }
    F.SelectedDirBox.SetChecked(2, false);
    F.SelectedDirBox.SetItemIndex(1);
    F.UpdateFileTotals();
    EXPECT_EQ(F.lblSum.Caption(), u"12,002 files totaling "_s + ByteSizeText(false, 15));
    EXPECT_EQ(F.IncludeSumme.Caption(), u"12,000 files totaling "_s + ByteSizeText(false, 5));
    EXPECT_EQ(F.lblDirTotal.Caption(), F.IncludeSumme.Caption());
    EXPECT_EQ(F.ExcludeSumme.Caption(), u"1 file totaling "_s + ByteSizeText(false, 1));
    EXPECT_TRUE(F.NoAutoUpdate);
    EXPECT_TRUE(F.btnUpdate.Enabled());
    F.SelectedDirBox.SetItemIndex(2);
    F.UpdateFileTotals();
    EXPECT_FALSE(F.NoAutoUpdate);
    EXPECT_FALSE(F.btnTypesUpdate.Enabled());
    EXPECT_EQ(F.IncludeSumme.Caption(), u"1 file totaling "_s + ByteSizeText(false, 0));
    EXPECT_EQ(TBackupForm::FilesTotalText(0, 0), u"No files"_s);
}

TEST_F(SourcesTest, SavedCountersComeBack)
{
    TExtensionList list = Entry(F, Root);
    list.ICount = 3;
    list.IBytes = 30;
    list.SyncCount = 4;
    F.SelectedDirBox.Add(Root, std::move(list));
    F.SaveDirCounters();
    TExtensionList &l = F.SelectedDirBox.Objects(0);
    l.ICount = 99;
    l.IBytes = 990;
    l.SyncCount = 0;
    F.RestoreDirCounters();
    EXPECT_EQ(l.ICount, 3);
    EXPECT_EQ(l.IBytes, 30);
    EXPECT_EQ(l.SyncCount, 4u);
    F.SelectedDirBox.SetSorted(true);
    F.SortDirs = true;
    F.ClearDirList();
    EXPECT_EQ(F.SelectedDirBox.Count(), 0);
    EXPECT_FALSE(F.SelectedDirBox.Sorted());
    EXPECT_FALSE(F.SortDirs);
}

// ---- Summary and display line ----

TEST_F(SourcesTest, SelectionSummary)
{
    struct Case {
        std::function<void(TExtensionList &)> Set;
        TSubDirMode Mode;
        bool Short;
        QString Text;
    } cases[] = {
        {[](TExtensionList &) {}, TSubDirMode::sdmNormal, false, u" [all]"_s},
        {[&](TExtensionList &l) {
             for (const char *d : {"a", "b", "c"})
                 l.AddSubDir(Dir(QString::fromLatin1(d)));
             l.TmPeriod.Mode = TTimeMode::tmLastDays;
             l.TmPeriod.Days = 7;
             l.TmPeriod.TmRef = TTimeRef::trCreate;
             l.Exclude.Add(u"TMP"_s);
         },
         TSubDirMode::sdmNormal, false, u" [-3] [not older than 7 days[C]] [E]"_s},
        {[](TExtensionList &l) {
             l.TmPeriod.Mode = TTimeMode::tmSpan;
             l.TmPeriod.Dat1 = EncodeDate(2024, 1, 2);
             l.TmPeriod.Dat2 = EncodeDate(2024, 3, 4);
             l.TmPeriod.TmRef = TTimeRef::trBoth;
             l.FFilter.SetMode(TFilterMode::fmExclude);
             l.FFilter.SetFilter(u"*.bak"_s);
             l.InclMode = TIncludeMode::buInclude;
         },
         TSubDirMode::sdmNormal, false, u" [from 2024/01/02 to 2024/03/04[B], all except *.bak] [I]"_s},
        {[](TExtensionList &l) {
             l.FFilter.SetMode(TFilterMode::fmInclude);
             l.FFilter.SetRegular(true);
             l.FFilter.SetFilter(u"^report-[0-9]+-final-version\\.txt$"_s);
         },
         TSubDirMode::sdmNormal, true, u" [only R:^report-[0-9]+-final-vers..]"_s},
        {[](TExtensionList &l) {
             l.Attributes.Archive = TAttrMode::amInclude;
             l.Attributes.Hidden = TAttrMode::amExclude;
             l.SizeLimits.Mode = TSizeMode::szBetween;
             l.SizeLimits.MinSize = 100;
             l.SizeLimits.MaxSize = 200;
             l.IncludeDirs = true;
         },
         TSubDirMode::sdmNormal, false, u" [+0] [all [+a-h] 100 B..200 B]"_s},
        {[](TExtensionList &l) {
             l.TmPeriod.Mode = TTimeMode::tmToday;
             l.TmPeriod.DayTime = 0.5;
             l.SizeLimits.Mode = TSizeMode::szSmaller;
             l.SizeLimits.MaxSize = 50;
         },
         TSubDirMode::sdmFiles, false, u" [F] [today from 12:00:00 <50 B]"_s},
        {[](TExtensionList &l) {
             l.FFilter.SetMode(TFilterMode::fmInclude);
             l.FFilter.SetFilter(u"a.txt"_s);
         },
         TSubDirMode::sdmFiles, false, u" [F] [only a.txt..]"_s},
    };
    for (const Case &c : cases) {
        TExtensionList list = Entry(F, Root, c.Mode);
        c.Set(list);
        QString text;
        F.GetSelectionSummary(list, c.Short, text);
        EXPECT_EQ(text, c.Text);
    }
}

TEST_F(SourcesTest, EntryLine)
{
    TExtensionList list = Entry(F, Root);
    list.VPath = u"%nosuchplaceholder%/x"_s;
    list.ICount = 1;
    list.IBytes = 3;
    QString text;
    F.GetDirEntryText(list, true, text, true);
    EXPECT_EQ(text, u"%nosuchplaceholder%/x [all]\n   1 file totaling "_s + ByteSizeText(false, 3));
    list.IsAvailable = false;
    F.GetDirEntryText(list, true, text, false);
    EXPECT_EQ(text, u"%nosuchplaceholder%/x (not available)"_s);
    list.VPath = Root;
    list.VName = u"NOSUCHLABEL"_s;
    F.NoVolCheck = true;
    F.GetDirEntryText(list, false, text, false);
    EXPECT_EQ(text, Root + u" (not available)"_s);
}

TEST_F(SourcesTest, AvailabilityFollowsTheDirectory)
{
    Mk(Root + u"/here"_s);
    for (const QString &p : {Root + u"/here"_s, Root + u"/gone"_s}) {
        TExtensionList list = Entry(F, p);
        list.IsAvailable = !p.endsWith(u"here"_s); // both wrong at first
        F.SelectedDirBox.Add(p, std::move(list));
    }
    F.UpdateDirAvailability();
    EXPECT_TRUE(F.SelectedDirBox.Objects(0).IsAvailable);
    EXPECT_TRUE(F.SelectedDirBox.ItemEnabled(0));
    EXPECT_EQ(F.SelectedDirBox.Strings(0), Root + u"/here [all]"_s);
    EXPECT_FALSE(F.SelectedDirBox.Objects(1).IsAvailable);
    EXPECT_FALSE(F.SelectedDirBox.ItemEnabled(1));
    EXPECT_EQ(F.SelectedDirBox.Strings(1), Root + u"/gone (not available)"_s);
}

TEST_F(SourcesTest, TheOnlyEntryIsRescannedWhenItComesBack)
{
    const QString dir = Root + u"/later"_s;
    TExtensionList list = Entry(F, dir);
    list.IsAvailable = false;
    F.SelectedDirBox.Add(dir, std::move(list));
    File(u"later/a.txt"_s, "12");
    F.UpdateDirAvailability();
    EXPECT_TRUE(F.SelectedDirBox.Objects(0).IsAvailable);
    EXPECT_EQ(F.SelectedDirBox.Objects(0).ICount, 1);
    EXPECT_EQ(F.SelectedDirBox.ItemIndex(), 0);

    ASSERT_TRUE(QDir(dir).removeRecursively());
    F.UpdateDirAvailability();
    EXPECT_FALSE(F.SelectedDirBox.Objects(0).IsAvailable);
    EXPECT_EQ(F.SelectedDirBox.ItemIndex(), -1);
    EXPECT_EQ(F.SelectedDirBox.Objects(0).ICount, 1); // the last numbers stay
}

// ---- Directory filters ----

TEST_F(SourcesTest, DirectoryFiltersTagMatchingDirectories)
{
    for (const char *d : {"cache", "deep/cache", "deep/x/cache", "build", "Build2", "#tmp", "x/x", "keep"})
        Mk(Dir(QString::fromLatin1(d)));
    const QString other = MakeTempDir(u"other"_s);
    Mk(other + u"/cache"_s);
    Link(Root + u"/lnk"_s, other);
    struct Case {
        QStringList Patterns;
        QStringList Tagged; // relative, with trailing "/"
    } cases[] = {
        // A match is not searched further; a link is never searched.
        {{u"cache"_s}, {u"cache/"_s, u"deep/cache/"_s, u"deep/x/cache/"_s}},
        {{u"x"_s}, {u"deep/x/"_s, u"x/"_s}},
        {{u"##tmp"_s}, {u"#tmp/"_s}},
        {{u"#^b"_s}, {u"build/"_s, u"Build2/"_s}},
        {{u"*/deep/*"_s}, {u"deep/"_s}},
        // A refused pattern is skipped; the others still apply.
        {{u"#("_s, u""_s, u"#"_s, u"keep"_s}, {u"keep/"_s}},
    };
    for (const Case &c : cases) {
        TExtensionList list = Entry(F, Root);
        list.AddSubDir(Dir(u"keep"_s)); // by hand
        list.DirMask = c.Patterns;
        F.ApplyDirFilters(list, true, true);
        QStringList expected = {Dir(u"keep"_s)};
        for (const QString &t : c.Tagged)
            if (t != u"keep/"_s)
                expected.append(Root + QLatin1Char('/') + t);
        expected.sort(Qt::CaseSensitive);
        EXPECT_EQ(list.SubDirList.Texts(), expected) << c.Patterns.join(u',').toStdString();
        for (int i = 0; i < list.SubDirList.Count(); ++i)
            EXPECT_EQ(list.IsFilterMarked(i), c.Tagged.contains(list.SubDirList.Strings(i).mid(Root.length() + 1)))
                << list.SubDirList.Strings(i).toStdString();

        // Removing takes every tag of the patterns away, also the hand-made
        // one they matched.
        F.ApplyDirFilters(list, false, false);
        EXPECT_EQ(list.SubDirList.Count(), c.Tagged.contains(u"keep/"_s) ? 0 : 1) << c.Patterns.join(u',').toStdString();
    }
}

TEST_F(SourcesTest, DirectoryFiltersDecideWhatAScanCounts)
{
    File(u"src/a.c"_s, "1");
    File(u"node_modules/m.js"_s, "12");
    File(u"lib/node_modules/n.js"_s, "123");
    TExtensionList list = Entry(F, Root);
    list.DirMask = {u"node_modules"_s};
    F.ApplyDirFilters(list, true, false);
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    EXPECT_EQ(list.IBytes, 1);
    list.IncludeDirs = true;
    ASSERT_TRUE(F.ScanSourceDir(list, false));
    EXPECT_EQ(list.IBytes, 2 + 3);
}

// ---- Preview ----

TEST_F(SourcesTest, PreviewListsWhatARunTakes)
{
    File(u"a.txt"_s, "123");
    File(u"b.log"_s, "12");
    File(u"Velkor.LOCK"_s, "1");
    File(u"ex/e.txt"_s, "1");
    File(u"ex/deep/d.txt"_s, "1");
    File(u"in/i.txt"_s, "1234");
    TExtensionList list = Entry(F, Root);
    list.Exclude.Add(u"LOG"_s);
    list.AddSubDir(Dir(u"ex"_s));

    auto Run = [&](bool AExcluded, bool AFull) {
        int count = 0;
        int64_t bytes = 0;
        TStringList lines;
        F.ScanPreview(Root, QString(), QString(), false, AExcluded, AFull, false, count, bytes, lines, list);
        QStringList names;
        for (int i = 0; i < lines.Count(); ++i) {
            const QString &s = lines.Strings(i);
            names.append(s.section(u'|', 0, 0));
            if (s.startsWith(u'*'))
                names.last() += u'=' + lines.Objects(i).toString();
        }
        std::sort(names.begin(), names.end());
        return std::make_tuple(names, count, bytes, lines);
    };
    {
        auto [names, count, bytes, lines] = Run(false, false);
        EXPECT_EQ(names, (QStringList{u" a.txt"_s, u" i.txt"_s, u"#./ex"_s, u"*./=1"_s, u"*./in=1"_s}));
        EXPECT_EQ(count, 2);
        EXPECT_EQ(bytes, 7);
        const int a = lines.IndexOf(u" a.txt|"_s + FormatDateTime(u"c"_s, GetFileAge(Root + u"/a.txt"_s, false))
                                    + u'|' + ByteSizeText(false, 3));
        EXPECT_GE(a, 0);
    }
    {
        // Excluded mode: the unselected file, and the tagged folder whole.
        auto [names, count, bytes, lines] = Run(true, true);
        // The tagged folder's subfolders are visited and stay whole too.
        QStringList expected = {u" b.log"_s, u"#"_s + Root + u"/ex"_s, u"#"_s + Root + u"/ex/deep"_s,
                                u"*"_s + Root + u"=1"_s, u"*"_s + Root + u"/in=0"_s};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(bytes, 2);
    }
}

TEST_F(SourcesTest, PreviewFollowsLinksOnlyWithTheOptionAndNotInCircles)
{
    File(u"a/fa.txt"_s, "1");
    File(u"b/fb.txt"_s, "12");
    Link(Root + u"/a/l1"_s, Root + u"/b"_s);
    Link(Root + u"/b/l2"_s, Root + u"/a"_s);
    Link(Root + u"/b/up"_s, Root);
    for (bool junctions : {false, true}) {
        F.UseJunctions = junctions;
        TExtensionList list = Entry(F, Root);
        int count = 0;
        int64_t bytes = 0;
        TStringList lines;
        F.ScanPreview(Root, QString(), QString(), false, false, false, false, count, bytes, lines, list);
        EXPECT_EQ(count, junctions ? 4 : 2) << junctions;
        EXPECT_EQ(lines.IndexOf(u"*./b/up"_s), -1);
    }
}

TEST_F(SourcesTest, PreviewByArchiveBit)
{
    File(u"a.txt"_s, "1");
    File(u"b.txt"_s, "1");
    File(u"c.log"_s, "1");
    if (!UserXattrsSupported(Root))
        GTEST_SKIP() << "no user xattrs here";
    uint32_t attr = 0;
    ASSERT_EQ(GetFileAttr(Root + u"/b.txt"_s, false, attr), 0u);
    ASSERT_EQ(SetFileAttr(Root + u"/b.txt"_s, attr & ~uint32_t(faArchive), false), 0u);
    F.UseArchivCB.SetChecked(true);
    F.cbArchFile.SetChecked(true);
    TExtensionList list = Entry(F, Root);
    list.Exclude.Add(u"LOG"_s);
    for (bool excluded : {false, true}) {
        int count = 0;
        int64_t bytes = 0;
        TStringList lines;
        F.ScanPreview(Root, QString(), QString(), false, excluded, false, true, count, bytes, lines, list);
        ASSERT_EQ(count, 1);
        // Only selected files count; the archive bit decides between them.
        EXPECT_TRUE(lines.Strings(1).startsWith(excluded ? u" b.txt|"_s : u" a.txt|"_s)) << excluded;
    }
}
