// The source entry loop of a run towards a real FTP server: an entry's
// remote folder with the synchronisation after the backup, and a method 5
// archive built locally and uploaded.
#include "backup/RunContext.h"
#include "core/Drives.h"
#include "core/PathUtils.h"
#include "ftp/FtpFormFixture.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

struct TFtpRun : TFtpForm {
    TBackupForm::TRunContext R;

    bool Connect(const TFtpPeer &APeer)
    {
        if (!TFtpForm::Connect(APeer))
            return false;
        Form.BuFtp = true;
        Form.BaseDir = u"ftp://dest"_s;
        Form.DriveId = u"Drv?"_s;
        Form.StartTime = Now();
        Form.Heute = std::floor(Form.StartTime);
        R.FtpBaseDir = Form.FTP->CurrentDir();
        return true;
    }
    void AddSource(const QString &APath)
    {
        TExtensionList list{TTimePeriod(), TSubDirMode::sdmNormal};
        list.SPath = APath;
        Form.SelectedDirBox.Add(APath, std::move(list));
    }
    std::string LogText() { return Log().toStdString(); }
};

TEST(RunSourcesFtp, EntryFolderIsWrittenThenSynchronised)
{
    VL_START_PEER(peer, StartPyFtpd());
    const QString src = MakeTempDir(u"src"_s) + u"/Docs"_s;
    QDir().mkpath(src);
    WriteBytes(src + u"/a.txt"_s, "aaaa");
    // Method 3: the entry's folder is named after its last element.
    QDir().mkpath(peer->Root + u"/Docs"_s);
    WriteBytes(peer->Root + u"/Docs/orphan.txt"_s, "no source any more");
    TFtpRun f;
    ASSERT_TRUE(f.Connect(*peer));
    f.AddSource(src);
    f.Form.DestMode = 3;
    f.Form.SyncMode = 1;
    f.Form.SyncBefore = false;
    f.R.SyncOnly = true;
    f.Form.BackupSourceEntries(f.R);
    EXPECT_EQ(ReadBytes(peer->Root + u"/Docs/a.txt"_s), "aaaa") << f.LogText();
    EXPECT_FALSE(QFileInfo::exists(peer->Root + u"/Docs/orphan.txt"_s)) << f.LogText();
    EXPECT_EQ(f.Form.SyncDelCount, 1);
    EXPECT_FALSE(f.R.SyncErrors);
    EXPECT_EQ(f.R.Count.ErrorCount, 0) << f.LogText();
    // Back in the base folder for the next entry.
    EXPECT_EQ(f.Form.FTP->CurrentDir(), f.R.FtpBaseDir);
}

TEST(RunSourcesFtp, Method5ArchiveIsUploadedAndTheLocalCopyGoes)
{
    VL_START_PEER(peer, StartPyFtpd());
    const QString src = MakeTempDir(u"src"_s) + u"/Documents"_s;
    QDir().mkpath(src);
    WriteBytes(src + u"/a.txt"_s, "aaaa");
    WriteBytes(peer->Root + u"/Documents.zip"_s, "previous archive");
    TFtpRun f;
    ASSERT_TRUE(f.Connect(*peer));
    f.AddSource(src);
    f.Form.DestMode = 5;
    f.Form.ZipNameEdit.SetText(u"<root directory>"_s);
    WorkTempDir = MakeTempDir(u"work"_s);
    f.Form.BackupSourceEntries(f.R);
    EXPECT_EQ(f.R.Count.ErrorCount, 0) << f.LogText();
    EXPECT_TRUE(ReadBytes(peer->Root + u"/Documents.zip"_s).startsWith("PK")) << f.LogText();
    EXPECT_FALSE(QFileInfo::exists(WorkTempDir + u"/VlTemp.zip"_s));
}

TEST(RunSourcesFtp, FullBackupDoesNotClearWhatAnEarlierEntryUploaded)
{
    // Method 2: both entries go into the same remote folder.
    VL_START_PEER(peer, StartPyFtpd());
    const QString src = MakeTempDir(u"src"_s);
    QDir().mkpath(src + u"/one"_s);
    QDir().mkpath(src + u"/two"_s);
    WriteBytes(src + u"/one/a.txt"_s, "aaaa");
    WriteBytes(src + u"/two/b.txt"_s, "bbbb");
    QDir().mkpath(peer->Root + u"/dest"_s);
    WriteBytes(peer->Root + u"/dest/stale.txt"_s, "from an earlier run");
    TFtpRun f;
    ASSERT_TRUE(f.Connect(*peer));
    ASSERT_TRUE(f.Form.FTP->ForceDir(u"/dest"_s));
    f.R.FtpBaseDir = f.Form.FTP->CurrentDir();
    f.AddSource(src + u"/one"_s);
    f.AddSource(src + u"/two"_s);
    f.Form.DestMode = 2;
    f.Form.ClearDest = true;
    f.Form.BackupSourceEntries(f.R);
    EXPECT_FALSE(QFileInfo::exists(peer->Root + u"/dest/stale.txt"_s)) << f.LogText();
    EXPECT_EQ(ReadBytes(peer->Root + u"/dest/a.txt"_s), "aaaa") << f.LogText();
    EXPECT_EQ(ReadBytes(peer->Root + u"/dest/b.txt"_s), "bbbb");
    EXPECT_NE(f.LogText().find("Overlapping directory was not deleted"), std::string::npos);
}

} // namespace
} // namespace vl::test
