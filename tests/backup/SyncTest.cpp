// Synchronisation, clearing of destinations and removal of old copy
// folders, on real folders.
#include "FormLogFixture.h"

#include "backup/SecCopyNames.h"
#include "core/DateTime.h"
#include "core/DirUtils.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>

#include <cmath>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::MakeTempDir;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

bool PrivateMounts()
{
    static const bool ready =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ready;
}

void Put(const QString &ARoot, const QString &ARel, const QByteArray &AData = "x")
{
    const QString path = ARoot + u'/' + ARel;
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    WriteBytes(path, AData);
}

bool Has(const QString &ARoot, const QString &ARel)
{
    return QFileInfo::exists(ARoot + u'/' + ARel) || QFileInfo(ARoot + u'/' + ARel).isSymLink();
}

class SyncTest : public vl::test::FormLogTest {
protected:
    void SetUp() override
    {
        FormLogTest::SetUp();
        Src = MakeTempDir(u"source"_s);
        Form.BaseDir = Dir;
        Form.SyncMode = 1;
        Form.StartTime = Now();
        TVlSecCopySettings &cs = VlSettings.SecCopySettings;
        cs.BakPrefix = u"~"_s;
        cs.SyncPrefix = u"_"_s;
        cs.BakSuffix = u"bak"_s;
        cs.SyncSuffix = u"sync"_s;
        InitBakSecSettings(Form.BakSec);
        InitSyncSecSettings(Form.SyncSec);
    }
    TExtensionList Entry() const
    {
        TExtensionList list(Form.NewPeriod, TSubDirMode::sdmNormal);
        list.SPath = list.VPath = Src;
        list.IsAvailable = true;
        return list;
    }
    bool Sync(TExtensionList &AList) { return Form.SynchronizeLocal(AList, Src, Dir); }

    QString Src;
};

} // namespace

// ---- Synchronisation ----

TEST_F(SyncTest, AllFilesModeRemovesWhatTheSourceLostAndKeepsTheRootTimeStamp)
{
    for (const QString &f : {u"a.txt"_s, u"sub/b.txt"_s, u"report.doc"_s})
        Put(Src, f);
    for (const QString &f : {u"a.txt"_s, u"old.txt"_s, u"sub/b.txt"_s, u"gone/x.txt"_s, u"gone/deep/y.txt"_s,
                             u"$TimeStamp.vlu"_s, u"VssBackupDoc.xml"_s, u"sub/$TimeStamp.vlu"_s,
                             u"report.doc"_s, u"report.bak.doc"_s, u"lost.bak.doc"_s})
        Put(Dir, f);
    Form.KeepBakCB.SetChecked(true);
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    for (const QString &f : {u"a.txt"_s, u"sub/b.txt"_s, u"$TimeStamp.vlu"_s, u"VssBackupDoc.xml"_s,
                             u"report.doc"_s, u"report.bak.doc"_s})
        EXPECT_TRUE(Has(Dir, f)) << f.toStdString();
    for (const QString &f : {u"old.txt"_s, u"gone"_s, u"sub/$TimeStamp.vlu"_s, u"lost.bak.doc"_s})
        EXPECT_FALSE(Has(Dir, f)) << f.toStdString();
    const QString log = Log();
    // old.txt, lost.bak.doc, sub/$TimeStamp.vlu and the two files of gone.
    EXPECT_TRUE(log.contains(u"    => Status: 5 files deleted"_s)) << log.toStdString();
    EXPECT_TRUE(log.contains(u"Directory was deleted: \"gone\" (2 files)"_s)) << log.toStdString();
    // The count of files looked at, for the next run's progress.
    EXPECT_EQ(list.SyncCount, 9u);
}

TEST_F(SyncTest, CompressingTaskDeletesPlainCopiesOfCompressibleTypes)
{
    Put(Src, u"data.txt"_s);
    Put(Src, u"pic.jpg"_s);
    for (const QString &f : {u"data.txt"_s, u"data.txt.gz"_s, u"pic.jpg"_s, u"orphan.txt.gz"_s})
        Put(Dir, f);
    Form.cbCompress.SetChecked(true);
    Form.AktNoComp = {u"jpg"_s};
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_FALSE(Has(Dir, u"data.txt"_s));
    EXPECT_TRUE(Has(Dir, u"data.txt.gz"_s));
    EXPECT_TRUE(Has(Dir, u"pic.jpg"_s));
    EXPECT_FALSE(Has(Dir, u"orphan.txt.gz"_s));
}

// A file without extension listed as no-compress type is stored plain: its
// copy stays while the source has it.
TEST_F(SyncTest, PlainCopyOfANoCompressFileWithoutExtensionStays)
{
    Put(Src, u"Makefile"_s);
    Put(Dir, u"Makefile"_s);
    Put(Dir, u"README"_s);
    Form.cbCompress.SetChecked(true);
    Form.AktNoComp = {u"<ohne>"_s};
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_TRUE(Has(Dir, u"Makefile"_s));
    EXPECT_FALSE(Has(Dir, u"README"_s));
}

// The copies of a removed file are found by its name taken literally: a
// "*" in that name must not take the copies of other files with it.
TEST_F(SyncTest, WildcardInAFileNameRemovesOnlyItsOwnCopies)
{
    Put(Src, u"a.txt"_s);
    for (const QString &f : {u"a.txt"_s, u"*.txt"_s, u"~bak/a.bak.txt"_s, u"~bak/*.bak.txt"_s})
        Put(Dir, f);
    Form.KeepBakCB.SetChecked(true);
    Form.BakSec.DirMode = TSecDirMode::sdSubDir;
    Form.BakSec.DirPrefix = u"~"_s;
    Form.BakSec.DirSuffix = u"bak"_s;
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_FALSE(Has(Dir, u"*.txt"_s));
    EXPECT_FALSE(Has(Dir, u"~bak/*.bak.txt"_s));
    EXPECT_TRUE(Has(Dir, u"a.txt"_s));
    EXPECT_TRUE(Has(Dir, u"~bak/a.bak.txt"_s));
}

TEST_F(SyncTest, SelectedModesWithIncludeList)
{
    struct TCase {
        int Mode;
        QStringList Kept;
        QStringList Gone;
    };
    const TCase cases[] = {
        // Mode 2: root files stay, unlisted folders are not looked at, only
        // what is missing at the source and still selected goes.
        {2,
         {u"r.txt"_s, u"stale.txt"_s, u"inc/i.txt"_s, u"inc/keep.log"_s, u"other/old.txt"_s, u"gone/z.txt"_s},
         {u"inc/old.txt"_s}},
        // Mode 3: every root file goes, unselected types go, an unlisted
        // folder without subfolders and a lost folder go whole.
        {3,
         {u"inc/i.txt"_s},
         {u"r.txt"_s, u"stale.txt"_s, u"inc/old.txt"_s, u"inc/keep.log"_s, u"other"_s, u"gone"_s}},
    };
    for (const TCase &c : cases) {
        QDir(Src).removeRecursively();
        QDir(Dir).removeRecursively();
        for (const QString &f : {u"r.txt"_s, u"inc/i.txt"_s, u"inc/keep.log"_s, u"other/o.txt"_s})
            Put(Src, f);
        for (const QString &f : {u"r.txt"_s, u"stale.txt"_s, u"inc/i.txt"_s, u"inc/keep.log"_s, u"inc/old.txt"_s,
                                 u"other/o.txt"_s, u"other/old.txt"_s, u"gone/z.txt"_s})
            Put(Dir, f);
        Form.SyncMode = c.Mode;
        TExtensionList list = Entry();
        list.IncludeDirs = true;
        list.AddSubDir(Src + u"/inc/"_s);
        list.InclMode = TIncludeMode::buInclude;
        list.Include.Add(u"TXT"_s);
        EXPECT_TRUE(Sync(list)) << c.Mode;
        for (const QString &f : c.Kept)
            EXPECT_TRUE(Has(Dir, f)) << c.Mode << " " << f.toStdString();
        for (const QString &f : c.Gone)
            EXPECT_FALSE(Has(Dir, f)) << c.Mode << " " << f.toStdString();
    }
}

TEST_F(SyncTest, LinksAreRemovedAsNamesAndNeverFollowed)
{
    const QString outside = MakeTempDir(u"outside"_s);
    Put(outside, u"precious.txt"_s);
    Put(Dir, u"stale/keep-out.txt"_s);
    ASSERT_EQ(CreateSymLink(Dir + u"/lnk"_s, outside), 0u);
    ASSERT_EQ(CreateSymLink(Dir + u"/stale/inner"_s, outside), 0u);
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_FALSE(Has(Dir, u"lnk"_s));
    EXPECT_FALSE(Has(Dir, u"stale"_s));
    EXPECT_TRUE(Has(outside, u"precious.txt"_s));
}

TEST_F(SyncTest, DestinationOutsideTheBaseIsRefused)
{
    Put(Dir, u"x.txt"_s);
    Form.BaseDir = MakeTempDir(u"base"_s);
    TExtensionList list = Entry();
    EXPECT_FALSE(Sync(list));
    EXPECT_TRUE(Has(Dir, u"x.txt"_s));
    EXPECT_EQ(Form.ErrorCnt, 1);
}

TEST_F(SyncTest, MissingSourceTouchesNothing)
{
    Put(Dir, u"x.txt"_s);
    TExtensionList list = Entry();
    const QString src = Src;
    Src += u"/none"_s;
    EXPECT_FALSE(Sync(list));
    Src = src;
    EXPECT_TRUE(Has(Dir, u"x.txt"_s));
    EXPECT_TRUE(Log().contains(u"Synchronize - Directory \""_s));
}

TEST_F(SyncTest, SyncCopiesByTheSuffixForms)
{
    struct TCase {
        QString Suffix;
        TSecDirMode Mode;
        QString Copy;
    };
    const TCase cases[] = {
        {u"sync"_s, TSecDirMode::sdNone, u"old.sync.txt"_s},
        {u"+sync"_s, TSecDirMode::sdNone, u"old.txt.sync"_s},
        {u"sync"_s, TSecDirMode::sdSubDir, u"_sync/old.sync.txt"_s},
        {u"sync"_s, TSecDirMode::sdRootDir, u"_sync/old.sync.txt"_s},
    };
    for (const TCase &c : cases) {
        QDir(Dir).removeRecursively();
        Put(Dir, u"old.txt"_s, "data");
        Form.KeepSyncCB.SetChecked(true);
        Form.SyncSec.DirMode = c.Mode;
        Form.SyncSec.DirPrefix = u"_"_s;
        Form.SyncSec.FileSuffix = c.Suffix;
        TExtensionList list = Entry();
        EXPECT_TRUE(Sync(list)) << c.Suffix.toStdString();
        EXPECT_FALSE(Has(Dir, u"old.txt"_s));
        EXPECT_EQ(ReadBytes(Dir + u'/' + c.Copy), "data") << c.Copy.toStdString();
        // A copy is not copied again.
        list.SyncCount = 0;
        EXPECT_TRUE(Sync(list));
        EXPECT_TRUE(Has(Dir, c.Copy)) << c.Copy.toStdString();
    }
}

TEST_F(SyncTest, StaleDirectoryIsRenamedAndCopyFoldersAreProtected)
{
    Put(Dir, u"gone/a.txt"_s);
    Put(Dir, u"~bak/b.txt"_s);
    Form.KeepSyncCB.SetChecked(true);
    Form.SyncSec.DirMode = TSecDirMode::sdNone;
    Form.SyncSec.DirPrefix = u"_"_s;
    Form.KeepBakCB.SetChecked(true);
    Form.BakSec.DirMode = TSecDirMode::sdSubDir;
    Form.BakSec.DirPrefix = u"~"_s;
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_TRUE(Has(Dir, u"_gone/a.txt"_s));
    EXPECT_TRUE(Has(Dir, u"~bak/b.txt"_s));
    // The renamed folder carries the prefix and stays on the next run.
    ASSERT_TRUE(Sync(list));
    EXPECT_TRUE(Has(Dir, u"_gone/a.txt"_s));
}

// With no suffix left in place the copy name is the file's own name:
// replacing "the old copy" would delete the file. It stays, with an error.
TEST_F(SyncTest, CopyNamedLikeTheFileItselfIsRefused)
{
    for (const QString &suffix : {QString(), u"+"_s}) {
        Put(Dir, u"keep.txt"_s, "data");
        Put(Dir, u"dir/a.txt"_s, "data");
        Form.KeepSyncCB.SetChecked(true);
        Form.SyncSec.DirMode = TSecDirMode::sdNone;
        Form.SyncSec.DirPrefix.clear();
        Form.SyncSec.DirSuffix.clear();
        Form.SyncSec.FileSuffix = suffix;
        TExtensionList list = Entry();
        EXPECT_FALSE(Sync(list)) << suffix.toStdString();
        EXPECT_EQ(ReadBytes(Dir + u"/keep.txt"_s), "data");
        EXPECT_EQ(ReadBytes(Dir + u"/dir/a.txt"_s), "data");
        EXPECT_TRUE(Log().contains(u"The copy would replace the file itself"_s));
    }
}

TEST_F(SyncTest, RecycleBinTakesFilesAndAFailureKeepsThem)
{
    const QString data = MakeTempDir(u"data"_s);
    vl::test::TScopedEnv env{{"XDG_DATA_HOME", data.toUtf8()}};
    Put(Dir, u"old.txt"_s, "data");
    Put(Dir, u"gone/a.txt"_s, "data");
    Form.cbSyncRecycle.SetChecked(true);
    Form.TargetType = TFileSystem::fsExt4;
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_FALSE(Has(Dir, u"old.txt"_s));
    EXPECT_EQ(ReadBytes(data + u"/Trash/files/old.txt"_s), "data");
    EXPECT_TRUE(Has(data, u"Trash/files/gone/a.txt"_s));
    EXPECT_TRUE(Log().contains(u"File was moved to Recycle Bin: \"old.txt\""_s));

    // A trash that cannot be made: the file stays, an error is logged.
    QDir(data).removeRecursively();
    QDir().mkpath(data);
    WriteBytes(data + u"/Trash"_s, "not a folder");
    Put(Dir, u"old2.txt"_s, "data");
    EXPECT_FALSE(Sync(list));
    EXPECT_EQ(ReadBytes(Dir + u"/old2.txt"_s), "data");
    EXPECT_TRUE(Log().contains(u"Error deleting file: \""_s));
}

TEST_F(SyncTest, EmptiedSubdirectoryGoesWithDelDir)
{
    Put(Src, u"sub/keep.txt"_s);
    Put(Dir, u"sub/old.txt"_s);
    Form.cbDelDir.SetChecked(true);
    QFile::remove(Src + u"/sub/keep.txt"_s);
    TExtensionList list = Entry();
    ASSERT_TRUE(Sync(list));
    EXPECT_FALSE(Has(Dir, u"sub"_s));
}

// ---- Clearing ----

TEST_F(SyncTest, ClearDirectoryEmptiesTheTreeAndKeepsTheRoot)
{
    Put(Dir, u"a.txt"_s);
    Put(Dir, u"s/b.txt"_s);
    Put(Dir, u"s/t/ro.txt"_s);
    ASSERT_EQ(XlFileSetAttr(Dir + u"/s/t/ro.txt"_s, faReadOnly, false), 0u);
    int errors = 0, deleted = 0;
    EXPECT_TRUE(Form.ClearDirectory(Dir, QString(), errors, deleted, 0, 3, true, true, false, u"B"_s));
    EXPECT_EQ(deleted, 3);
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(QFileInfo(Dir).isDir());
    EXPECT_TRUE(QDir(Dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System));

    const QString before = Log();
    EXPECT_TRUE(Form.ClearDirectory(Dir + u"/none"_s, QString(), errors, deleted, 0, 0, true, true, false, u"B"_s));
    EXPECT_EQ(Log(), before);
}

// A tree to be removed whole that is a link: the link goes, the folder it
// names keeps its files.
TEST_F(SyncTest, DeletingATreeThatIsALinkRemovesOnlyTheLink)
{
    const QString outside = MakeTempDir(u"outside"_s);
    Put(outside, u"precious.txt"_s);
    const QString link = Dir + u"/lnk"_s;
    ASSERT_EQ(CreateSymLink(link, outside), 0u);
    int deleted = 0;
    EXPECT_TRUE(Form.DeleteDirectoryTree(link, QString(), deleted, true, true, true, u"S"_s));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(Has(outside, u"precious.txt"_s));
    EXPECT_EQ(deleted, 0);
}

TEST_F(SyncTest, ClearingNeverEntersAnotherFileSystemMountedInside)
{
    if (!PrivateMounts())
        GTEST_SKIP() << "needs the right to mount";
    const QString outside = MakeTempDir(u"bound"_s);
    struct TCase {
        const char *Kind;
        bool Bind;
    };
    for (const TCase c : {TCase{"tmpfs", false}, TCase{"bind", true}}) {
        const QString point = Dir + u"/m"_s;
        QDir().mkpath(point);
        const QByteArray p = point.toUtf8();
        const int rc = c.Bind ? ::mount(outside.toUtf8().constData(), p.constData(), nullptr, MS_BIND, nullptr)
                              : ::mount("tmpfs", p.constData(), "tmpfs", 0, nullptr);
        ASSERT_EQ(rc, 0) << c.Kind;
        Put(point, u"theirs.txt"_s);
        Put(Dir, u"ours.txt"_s);
        int errors = 0, deleted = 0;
        EXPECT_FALSE(Form.ClearDirectory(Dir, QString(), errors, deleted, 0, 0, true, true, false, u"B"_s)) << c.Kind;
        EXPECT_TRUE(Has(point, u"theirs.txt"_s)) << c.Kind;
        EXPECT_TRUE(Log().contains(u"Another file system is mounted there"_s));
        // The plain tree deletion holds back the same way.
        EXPECT_FALSE(DeleteDirectoryTree(Dir, false)) << c.Kind;
        EXPECT_TRUE(Has(point, u"theirs.txt"_s)) << c.Kind;
        ::umount2(p.constData(), MNT_DETACH);
        QDir(Dir).removeRecursively();
        QDir().mkpath(Dir);
    }
}

TEST_F(SyncTest, CanClearDestinationRefusesAParentOfAnEarlierEntry)
{
    for (const QString &path : {u"/data/Work"_s, u"/data"_s, u"/other"_s}) {
        TExtensionList list = Entry();
        list.SPath = path;
        Form.SelectedDirBox.Add(path, std::move(list));
    }
    EXPECT_TRUE(Form.CanClearDestination(u"/data/Work"_s, 0));
    EXPECT_FALSE(Form.CanClearDestination(u"/data"_s, 1));
    EXPECT_FALSE(Form.CanClearDestination(u"/DATA/"_s, 9));
    EXPECT_TRUE(Form.CanClearDestination(u"/other"_s, 2));
}

// ---- Old security copy folders ----

TEST_F(SyncTest, OldDateFoldersGoByAge)
{
    const TDateTime today = std::floor(Now());
    auto name = [&](int ADaysAgo, const QString &APrefix = u"~bak"_s) {
        return APrefix + u'-' + FormatDateTime(u"yyyy-mm-dd"_s, today - ADaysAgo);
    };
    Form.BakSec.DirMode = TSecDirMode::sdRootDate;
    Form.BakSec.DirPrefix = u"~"_s;
    Form.BakSec.DirSuffix = u"bak"_s;
    Form.BakSec.AgeInWeeks = 2;
    for (const QString &d : {name(14), name(15), name(30)})
        Put(Dir, d + u"/f.txt"_s);
    QDir().mkpath(Dir + u'/' + name(20));
    ASSERT_EQ(XlFileSetAttr(Dir + u'/' + name(20), faReadOnly, false), 0u);
    Form.DeleteOldSecurityDirs(Dir);
    EXPECT_TRUE(Has(Dir, name(14)));
    EXPECT_FALSE(Has(Dir, name(15)));
    EXPECT_FALSE(Has(Dir, name(30)));
    EXPECT_TRUE(Has(Dir, name(20))); // not a plain folder
    EXPECT_TRUE(Log().contains(u"Delete directories with security backups older than 2 weeks"_s));

    // A "-" in the prefix hides the date: nothing ever goes.
    Form.BakSec.DirPrefix = u"~x-"_s;
    Put(Dir, name(40, u"~x-bak"_s) + u"/f.txt"_s);
    Form.DeleteOldSecurityDirs(Dir);
    EXPECT_TRUE(Has(Dir, name(40, u"~x-bak"_s)));
    EXPECT_TRUE(Log().contains(u"  ->  No matching directories found"_s));

    const QString before = Log();
    Form.BakSec.DirMode = TSecDirMode::sdRootDir;
    Form.DeleteOldSecurityDirs(Dir);
    EXPECT_EQ(Log(), before);
}
