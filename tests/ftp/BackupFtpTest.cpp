// The FTP side of a backup run against real servers: replacing a remote
// file (security copy, deletion, an old copy the server will not let go),
// replacing a split zip archive as a whole set, and synchronisation of an
// include list in mode 3.
#include "core/XlFileUtils.h"
#include "ftp/FtpFormFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

QStringList Listing(const QString &ADir)
{
    return QDir(ADir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// ---- One file over an existing remote copy ---------------------------------

struct TReplaceCase {
    const char *Name;
    bool KeepBak;
    QStringList Refuse;
    int Result;
    QStringList Remote;     // the remote folder afterwards
    QByteArray RemoteData;  // of a.txt afterwards
    const char *LogText;    // a line the log must hold
};

TEST(BackupFtp, FileOverExistingRemoteCopy)
{
    const TReplaceCase cases[] = {
        {"deleted", false, {}, 2, {u"a.txt"_s}, "new", "was renamed: \"a.txt.tmp\" to \"a.txt\""},
        {"security copy", true, {}, 2, {u"a.bak.txt"_s, u"a.txt"_s}, "new", "to \"a.bak.txt\""},
        // The server keeps the old copy: the new one must not count as
        // copied and stays beside it under its temporary name.
        {"delete refused", false, {u"DELE a.txt=550 Busy"_s}, 294, {u"a.txt"_s, u"a.txt.tmp"_s}, "old",
         "Error deleting file: \"a.txt\""},
        {"rename refused", true, {u"RNFR a.txt=550 Busy"_s}, 294, {u"a.txt"_s, u"a.txt.tmp"_s}, "old",
         "Error renaming File: \"a.txt\" to \"a.bak.txt\""},
    };
    for (const TReplaceCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPyFaults faults;
        faults.Refuse = c.Refuse;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        WriteBytes(peer->Root + u"/a.txt"_s, "old");
        const QString src = MakeTempDir(u"src"_s);
        WriteBytes(src + u"/a.txt"_s, "new");

        TFtpForm f;
        ASSERT_TRUE(f.Connect(*peer)) << f.Form.FTP->GetIndyError().toStdString();
        f.Form.UseArchivCB.SetChecked(true); // decided by the archive bit: copied
        f.Form.KeepBakCB.SetChecked(c.KeepBak);
        f.Form.BakSec.DirMode = TSecDirMode::sdNone;
        f.Form.BakSec.FileSuffix = u"bak"_s;
        f.Form.BakSec.MaxHist = 1;

        TBackupForm::TFtpFileJob job;
        job.Source = src + u"/a.txt"_s;
        job.Name = u"a.txt"_s;
        job.RelPath = u"a.txt"_s;
        job.Size = 3;
        job.SourceTime = XlFileAgeOrDefault(job.Source, 0);
        job.ArchiveBit = true;
        int files = 0, errors = 0;
        int64_t bytes = 0;
        EXPECT_EQ(f.Form.FtpBackupFile(job, files, bytes, errors), c.Result);
        EXPECT_TRUE(job.Exists);
        EXPECT_EQ(files, 1);
        EXPECT_EQ(Listing(peer->Root), c.Remote);
        EXPECT_EQ(ReadBytes(peer->Root + u"/a.txt"_s), c.RemoteData);
        if (c.Result == 294) {
            EXPECT_EQ(ReadBytes(peer->Root + u"/a.txt.tmp"_s), "new");
        }
        if (c.KeepBak && c.Result == 2) {
            EXPECT_EQ(ReadBytes(peer->Root + u"/a.bak.txt"_s), "old");
        }
        EXPECT_TRUE(f.Log().contains(QString::fromUtf8(c.LogText))) << f.Log().toStdString();
    }
}

// ---- Zip archive sets -------------------------------------------------------

// A local archive of one segment: the end record names disk 1.
QString MakeSplitZip(const QString &ADir)
{
    const QString zip = ADir + u"/VlTemp.zip"_s;
    WriteBytes(ADir + u"/VlTemp.z01"_s, "new segment");
    QByteArray end("new zip PK\x05\x06", 12);
    end += QByteArray("\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 18);
    WriteBytes(zip, end);
    return zip;
}

void WriteOldSet(const QString &ARoot)
{
    WriteBytes(ARoot + u"/arc.zip"_s, "old zip");
    for (const QString &ext : {u"z01"_s, u"z02"_s, u"z03"_s})
        WriteBytes(ARoot + u"/arc."_s + ext, "old " + ext.toUtf8());
}

TEST(BackupFtp, ZipSetReplacedWholeSurplusSegmentsGo)
{
    VL_START_PEER(peer, StartPyFtpd());
    WriteOldSet(peer->Root);
    const QString zip = MakeSplitZip(MakeTempDir(u"zip"_s));
    TFtpForm f;
    ASSERT_TRUE(f.Connect(*peer));
    f.Form.cbVerify.SetChecked(true);
    int segments = 0;
    int64_t size = 0;
    EXPECT_EQ(f.Form.CopyToFtp(zip, f.Form.FTP->CurrentDir(), u"arc.zip"_s, segments, size, true), 0)
        << f.Log().toStdString();
    EXPECT_EQ(segments, 2);
    EXPECT_EQ(size, 11 + 30);
    EXPECT_EQ(Listing(peer->Root), (QStringList{u"arc.z01"_s, u"arc.zip"_s}));
    EXPECT_EQ(ReadBytes(peer->Root + u"/arc.z01"_s), "new segment");
    EXPECT_TRUE(ReadBytes(peer->Root + u"/arc.zip"_s).startsWith("new zip"));
    EXPECT_FALSE(QFileInfo::exists(zip)) << "the local archive is deleted";
    EXPECT_EQ(TBackupForm::SegmentInfoText(2, 41).count(u" - 2 "_s), 1);
}

TEST(BackupFtp, ZipSetFailingMidwayLeavesOldSetWhole)
{
    TPyFaults faults;
    faults.Refuse = {u"STOR arc.tmp.zip=552 Quota exceeded"_s};
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    WriteOldSet(peer->Root);
    const QString zip = MakeSplitZip(MakeTempDir(u"zip"_s));
    TFtpForm f;
    ASSERT_TRUE(f.Connect(*peer));
    int segments = 0;
    int64_t size = 0;
    EXPECT_NE(f.Form.CopyToFtp(zip, f.Form.FTP->CurrentDir(), u"arc.zip"_s, segments, size, false), 0);
    EXPECT_EQ(Listing(peer->Root), (QStringList{u"arc.z01"_s, u"arc.z02"_s, u"arc.z03"_s, u"arc.zip"_s}));
    EXPECT_EQ(ReadBytes(peer->Root + u"/arc.zip"_s), "old zip");
    EXPECT_EQ(ReadBytes(peer->Root + u"/arc.z01"_s), "old z01");
    EXPECT_TRUE(QFileInfo::exists(zip)) << "kept without DeleteLocal";
}

// ---- Synchronisation, include list, mode 3 ----------------------------------

struct TSyncCase {
    const char *Name;
    QStringList Refuse;
    bool Result;
    QStringList Gone;  // remote paths removed
    QStringList Kept;  // remote paths still there
    const char *LogText;
};

TEST(BackupFtp, SyncIncludeListModeThree)
{
    const TSyncCase cases[] = {
        {"normal", {}, true, {u"c"_s, u"gone"_s, u"a/b/stale.txt"_s, u"root.txt"_s},
         {u"a/b/f.txt"_s}, "Directory was deleted: \"gone\""},
        // A stale tree the server will not remove is an error, not a success.
        {"tree kept by the server", {u"RMD gone=550 Busy"_s}, false, {u"c"_s, u"gone/x.txt"_s},
         {u"gone"_s, u"a/b/f.txt"_s}, "Error deleting directory: \"gone\""},
    };
    for (const TSyncCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPyFaults faults;
        faults.Refuse = c.Refuse;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        // Source: a (not included) holds a/b (included); c is not included.
        const QString src = MakeTempDir(u"src"_s);
        QDir().mkpath(src + u"/a/b"_s);
        QDir().mkpath(src + u"/c"_s);
        WriteBytes(src + u"/a/b/f.txt"_s, "f");
        // Remote: the backup of a/b, a stale file in it, the non-included
        // leaf c, a directory without source, a file in the entry's root.
        QDir().mkpath(peer->Root + u"/a/b"_s);
        QDir().mkpath(peer->Root + u"/c"_s);
        QDir().mkpath(peer->Root + u"/gone"_s);
        WriteBytes(peer->Root + u"/a/b/f.txt"_s, "f");
        WriteBytes(peer->Root + u"/a/b/stale.txt"_s, "s");
        WriteBytes(peer->Root + u"/c/x.txt"_s, "x");
        WriteBytes(peer->Root + u"/gone/x.txt"_s, "x");
        WriteBytes(peer->Root + u"/root.txt"_s, "r");

        TFtpForm f;
        ASSERT_TRUE(f.Connect(*peer));
        f.Form.SyncMode = 3;
        TExtensionList list(TTimePeriod(), TSubDirMode::sdmNormal);
        list.IncludeDirs = true;
        list.AddSubDir(src + u"/a/b/"_s);
        int count = 0, deleted = 0;
        EXPECT_EQ(f.Form.SyncFtpDirectory(src, u"ftp://dest"_s, list, count, deleted, false, false,
                                          f.Form.FTP->CurrentDir(), QString()),
                  c.Result)
            << f.Log().toStdString();
        for (const QString &p : c.Gone)
            EXPECT_FALSE(QFileInfo::exists(peer->Root + u"/"_s + p)) << p.toStdString();
        for (const QString &p : c.Kept)
            EXPECT_TRUE(QFileInfo::exists(peer->Root + u"/"_s + p)) << p.toStdString();
        EXPECT_TRUE(QFileInfo::exists(peer->Root + u"/a/b"_s)) << "a leads to an included directory";
        EXPECT_TRUE(f.Log().contains(QString::fromUtf8(c.LogText))) << f.Log().toStdString();
    }
}

} // namespace
} // namespace vl::test
