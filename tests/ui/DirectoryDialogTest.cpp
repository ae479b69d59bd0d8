#include "ui/DirDialogViews.h"
#include "ui/DirectoryDialog.h"
#include "ui/FilesDialog.h"

#include "common/TestUtils.h"
#include "core/FakeVolumes.h"
#include "ListTestViews.h"

#include "core/IniFile.h"
#include "core/ShellUtils.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::MakeTempDir;
using vl::test::TRecordingMessages;
using vl::test::TScriptedViews;

namespace {

// Runs the test's script on the dialogs instead of showing them.
class TScriptedDirViews : public IDirDialogViews {
public:
    TScriptedDirViews() { SetDirDialogViews(this); }
    ~TScriptedDirViews() override { SetDirDialogViews(nullptr); }

    std::function<void(TShellDirDialog &)> OnDir;
    std::function<void(TShowFilesDialog &)> OnFiles;
    int FilesShown = 0;

    void ExecuteShellDirDialog(TShellDirDialog &D) override
    {
        if (OnDir)
            OnDir(D);
    }
    void ExecuteShowFiles(TShowFilesDialog &D) override
    {
        ++FilesShown;
        if (OnFiles)
            OnFiles(D);
    }
};

QString MakeDir(const QString &APath)
{
    EXPECT_TRUE(QDir().mkpath(APath)) << APath.toStdString();
    return APath;
}

bool IsDir(const QString &APath)
{
    return QFileInfo(APath).isDir() && !QFileInfo(APath).isSymLink();
}

bool Exists(const QString &APath)
{
    return QFileInfo(APath).exists() || QFileInfo(APath).isSymLink();
}

void SymLink(const QString &ATarget, const QString &ALink)
{
    ASSERT_EQ(::symlink(ATarget.toUtf8().constData(), ALink.toUtf8().constData()), 0);
}

// The user's documents folder, made to exist.
QString Documents()
{
    return MakeDir(QDir::homePath() + u"/Documents"_s);
}

// A dialog set up on Dir (nothing shown), as it is while open.
struct TOpenDialog {
    TShellDirDialog D;
    explicit TOpenDialog(const QString &ADir, const QString &AHome = QString(), bool AFileView = false)
    {
        D.Prepare(u"Pick"_s, false, AFileView, true, AHome, ADir);
    }
};

// A machine with "/" and two network shares mounted in a temporary folder:
// //nas/data (cifs) and files:/export/backup (nfs4).
struct TNetworkMachine {
    QString Base = MakeTempDir(u"net"_s);
    QString Nas = MakeDir(Base + u"/nas"_s);
    QString Nfs = MakeDir(Base + u"/nfs"_s);
    test::TFakeVolumes Volumes{("22 1 8:2 / / rw shared:1 - ext4 /dev/sda2 rw\n"
                                "33 22 0:50 / "
                                + Nas.toUtf8() + " rw shared:12 - cifs //nas/data rw\n"
                                "34 22 0:51 / "
                                + Nfs.toUtf8() + " rw shared:13 - nfs4 files:/export/backup rw\n")};
};

} // namespace

// ---- Path rules -------------------------------------------------------------

TEST(ShellFoldersTest, TreeBaseIsTheFolderAboveTheTopNodes)
{
    struct Case {
        QStringList tops;
        QString base;
    } cases[] = {
        {{u"/"_s}, QString()},
        {{u"/home/ann/Documents"_s}, u"/home/ann"_s},
        {{u"/mnt/a"_s, u"/mnt/b"_s}, u"/mnt"_s},
        {{u"/mnt/a"_s, u"/mnt/a/b"_s}, u"/mnt"_s},
        {{u"/mnt/nas"_s, u"/run/user/0/gvfs/x"_s}, u"/"_s},
        {{u"/mnt"_s}, u"/"_s},
        {{}, QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ShellTreeBase(c.tops), c.base) << c.tops.join(u' ').toStdString();
}

TEST(ShellFoldersTest, PathsWithinAFolderCompareByWholeElements)
{
    EXPECT_TRUE(IsPathWithin(u"/a/b"_s, u"/a"_s));
    EXPECT_TRUE(IsPathWithin(u"/a"_s, u"/a"_s));
    EXPECT_TRUE(IsPathWithin(u"/a"_s, u"/"_s));
    EXPECT_FALSE(IsPathWithin(u"/ab"_s, u"/a"_s));
    EXPECT_FALSE(IsPathWithin(u"/a"_s, u"/a/b"_s));
    EXPECT_EQ(FolderPath(u"/a/b//"_s), u"/a/b"_s);
    EXPECT_EQ(FolderPath(u"///"_s), u"/"_s);
    EXPECT_EQ(LocalFolderOf(u"relative/dir"_s), QString());
}

TEST(ShellFoldersTest, NetworkFormOfFoldersOnMountedShares)
{
    TNetworkMachine m;
    const QString gvfs = MakeDir(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/gvfs/smb-share:server=box,share=pub"_s);
    EXPECT_EQ(NetworkPathOf(m.Nas + u"/photos/2024"_s), u"//nas/data/photos/2024"_s);
    EXPECT_EQ(NetworkPathOf(m.Nas), u"//nas/data"_s);
    EXPECT_EQ(NetworkPathOf(m.Nfs + u"/x"_s), u"//files/export/backup/x"_s);
    EXPECT_EQ(NetworkPathOf(gvfs + u"/docs"_s), u"//box/pub/docs"_s);
    EXPECT_EQ(NetworkPathOf(m.Base), QString());
    EXPECT_EQ(NetworkFolders(), (QStringList{m.Nas, m.Nfs, gvfs}));
}

// ---- Opening --------------------------------------------------------------------

TEST(DirectoryDialogTest, OpensOnTheFolderWithTheComputerRootAndItsFreeSpace)
{
    test::TFakeVolumes volumes("22 1 8:2 / / rw shared:1 - ext4 /dev/sda2 rw\n");
    volumes.SetDiskSpace([](const QString &, int64_t &freeBytes, int64_t &totalBytes) -> uint32_t {
        freeBytes = 3 * 512 * 1024 * 1024LL;
        totalBytes = 10 * 1024 * 1024 * 1024LL;
        return 0;
    });
    const QString dir = MakeTempDir(u"open"_s);
    TOpenDialog o(dir + u"/"_s);
    EXPECT_EQ(o.D.Form.Caption(), u"Pick"_s);
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfMyComputer);
    EXPECT_TRUE(o.D.rbComputer.Checked());
    EXPECT_EQ(o.D.ShellTreeView.Path(), dir);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), dir);
    EXPECT_TRUE(o.D.btbOK.Enabled());
    EXPECT_EQ(o.D.laVolHint.Caption(), u"1.50 GiB free of 10.00 GiB"_s);
    EXPECT_FALSE(o.D.btnDefault.Visible());
    EXPECT_FALSE(o.D.cbxFiles.Visible());
}

TEST(DirectoryDialogTest, AMissingFolderOpensTheDocumentsFolder)
{
    const QString documents = Documents();
    TOpenDialog o(MakeTempDir(u"m"_s) + u"/missing"_s);
    EXPECT_EQ(o.D.ShellTreeView.Path(), documents);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), documents);
    EXPECT_TRUE(o.D.rbComputer.Checked());
}

TEST(DirectoryDialogTest, NoFolderAndNoDefaultOpensTheDesktopWithNothingSelected)
{
    TOpenDialog o{QString()};
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfDesktop);
    EXPECT_TRUE(o.D.rbDesktop.Checked());
    EXPECT_FALSE(o.D.rbComputer.Checked());
    EXPECT_EQ(o.D.ShellTreeView.Path(), QString());
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), QString());
    EXPECT_FALSE(o.D.btbOK.Enabled());

    // With a default folder, that one opens, and its button shows.
    const QString home = MakeTempDir(u"home"_s);
    TOpenDialog d(QString(), home);
    EXPECT_EQ(d.D.ShellTreeView.Path(), home);
    EXPECT_TRUE(d.D.btnDefault.Visible());
    EXPECT_EQ(d.D.btnDefault.Hint(), u"Default: "_s + home);
}

TEST(DirectoryDialogTest, ANetworkPathOpensWithTheNetworkRootInNetworkForm)
{
    TNetworkMachine m;
    MakeDir(m.Nas + u"/photos"_s);
    TOpenDialog o(u"//nas/data/photos/"_s);
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfNetwork);
    EXPECT_TRUE(o.D.rbNetwork.Checked());
    EXPECT_FALSE(o.D.rbComputer.Checked());
    EXPECT_EQ(o.D.ShellTreeView.TopFolders(), (QStringList{m.Nas, m.Nfs}));
    EXPECT_EQ(o.D.ShellTreeView.Path(), m.Nas + u"/photos"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), u"//nas/data/photos"_s);

    // The Computer root shows the same folder by its local path.
    o.D.rbComputer.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Path(), m.Nas + u"/photos"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), m.Nas + u"/photos"_s);
}

TEST(DirectoryDialogTest, AFolderWithATargetLinkNamesItsTarget)
{
    const QString dir = MakeTempDir(u"shortcut"_s);
    const QString target = MakeDir(dir + u"/real place"_s);
    const QString shortcut = MakeDir(dir + u"/shortcut"_s);
    ASSERT_EQ(CreateShellLinkSimple(shortcut + u"/target.lnk"_s, target, QString(), QString(), QString(), false), S_OK);
    TOpenDialog o(dir);
    o.D.ShellTreeView.UserSelect(shortcut);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), target);
    EXPECT_EQ(o.D.ShellTreeView.Path(), shortcut);
}

// ---- Results --------------------------------------------------------------------

TEST(DirectoryDialogTest, OkGivesTheFolderWithExactlyOneTrailingDelimiter)
{
    const QString dir = MakeTempDir(u"ok"_s);
    TScriptedDirViews views;
    for (const QString &typed : {dir + u"//"_s, dir, u"/"_s}) {
        TShellDirDialog d;
        views.OnDir = [&](TShellDirDialog &D) {
            D.cbxSelectedDir.UserEdit(typed);
            EXPECT_TRUE(D.btbOK.UserClick());
        };
        QString result = u"unchanged"_s;
        EXPECT_TRUE(d.Execute(u"t"_s, false, false, true, QString(), result));
        EXPECT_EQ(result, typed == u"/"_s ? u"/"_s : dir + u"/"_s);
    }
}

TEST(DirectoryDialogTest, CancelAndNoDisplayLeaveTheFolderUnchanged)
{
    const QString dir = MakeTempDir(u"c"_s);
    QString result = dir;
    {
        TScriptedDirViews views;
        views.OnDir = [&](TShellDirDialog &D) { D.btbOK.UserClick(); };
        EXPECT_TRUE(SelectDirectory(u"t"_s, false, false, QString(), result));
        EXPECT_EQ(result, dir + u"/"_s);
        views.OnDir = [&](TShellDirDialog &D) {
            D.cbxSelectedDir.UserEdit(QDir::homePath());
            D.btbCancel.UserClick();
        };
        EXPECT_FALSE(SelectDirectory(u"t"_s, false, false, QString(), result));
        EXPECT_EQ(result, dir + u"/"_s);
    }
    // Headless: nothing shows and nothing is chosen, though the one dialog
    // ended with OK before.
    EXPECT_FALSE(SelectDirectory(u"t"_s, false, false, QString(), result));
    EXPECT_EQ(result, dir + u"/"_s);
    FreeShellDirDialog();
}

TEST(DirectoryDialogTest, TypingMovesTheTreeOnlyToExistingFoldersAndKeepsTheText)
{
    const QString dir = MakeTempDir(u"typing"_s);
    const QString sub = MakeDir(dir + u"/sub"_s);
    TOpenDialog o(dir);
    o.D.cbxSelectedDir.UserEdit(dir + u"/su"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), dir + u"/su"_s);
    EXPECT_EQ(o.D.ShellTreeView.Path(), dir);
    EXPECT_FALSE(o.D.btbOK.Enabled());
    o.D.cbxSelectedDir.UserEdit(sub + u"/"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), sub + u"/"_s);
    EXPECT_EQ(o.D.ShellTreeView.Path(), sub);
    EXPECT_TRUE(o.D.btbOK.Enabled());
    // Enter closes with OK only while OK is enabled, and adds no history.
    o.D.cbxSelectedDir.UserEdit(dir + u"/nothing"_s);
    EXPECT_FALSE(o.D.KeyDown(Qt::Key_Return, Qt::NoModifier));
    EXPECT_EQ(o.D.ModalResult(), mrNone);
    o.D.cbxSelectedDir.UserEdit(sub);
    EXPECT_TRUE(o.D.KeyDown(Qt::Key_Return, Qt::NoModifier));
    EXPECT_EQ(o.D.ModalResult(), mrOk);
    EXPECT_TRUE(o.D.DirList().IsEmpty());
}

// ---- History and settings -------------------------------------------------------

TEST(DirectoryDialogTest, HistoryKeepsFifteenNewestFirstAndTakesTheNewSpelling)
{
    const QString base = MakeTempDir(u"hist"_s);
    TShellDirDialog d;
    TScriptedDirViews views;
    auto choose = [&](const QString &AFolder) {
        views.OnDir = [&](TShellDirDialog &D) {
            D.cbxSelectedDir.UserEdit(AFolder);
            D.btbOK.UserClick();
        };
        QString result;
        ASSERT_TRUE(d.Execute(u"t"_s, false, false, true, QString(), result));
    };
    for (int i = 0; i < 16; ++i)
        choose(MakeDir(base + u"/d%1"_s.arg(i)));
    ASSERT_EQ(d.DirList().Count(), 15);
    EXPECT_EQ(d.DirList().Strings(0), base + u"/d15"_s);
    EXPECT_EQ(d.DirList().Strings(14), base + u"/d1"_s);

    choose(MakeDir(base + u"/D3"_s));
    EXPECT_EQ(d.DirList().Count(), 15);
    EXPECT_EQ(d.DirList().Strings(0), base + u"/D3"_s);
    EXPECT_EQ(d.DirList().IndexOf(base + u"/d3"_s), 0); // one entry, new spelling
    EXPECT_EQ(d.cbxSelectedDir.Items(), d.DirList().Texts());
    EXPECT_TRUE(d.HistoryDropDown());
}

TEST(DirectoryDialogTest, SettingsComeFromAndGoBackToTheIniSection)
{
    const QString dir = MakeTempDir(u"ini"_s);
    const QString ini = dir + u"/Velkor.ini"_s;
    test::WriteBytes(ini, "[Directories]\nHistory0=/a\nHistory1=\nHistory2=/b\nTop=120\nLeft=80\nHeight=500\n"
                          "DirWidth=250\nFileWidth=310\nFileview=1\nStale=x\n[Other]\nKeep=1\n");
    TShellDirDialog d;
    d.LoadFromIni(ini, u"Directories"_s);
    EXPECT_EQ(d.DirList().Texts(), (QStringList{u"/a"_s, u"/b"_s}));
    EXPECT_EQ(d.Top, 120);
    EXPECT_EQ(d.Left, 80);
    EXPECT_EQ(d.Height, 500);
    EXPECT_EQ(d.DirWidth, 250);
    EXPECT_EQ(d.FileWidth, 310);
    EXPECT_TRUE(d.cbxFiles.Checked());

    // The file pane opens as stored when the caller allows it.
    d.Prepare(u"t"_s, false, true, true, QString(), dir);
    EXPECT_TRUE(d.FileViewOn());
    EXPECT_EQ(d.ShellListView.Folder(), dir);
    EXPECT_EQ(d.Position, QPoint(80, 120));

    d.ResetPosition();
    d.Height = 460;
    d.cbxFiles.UserClick();
    EXPECT_FALSE(d.FileViewOn());
    d.FormClose();
    const TMemIniFile saved(ini);
    EXPECT_EQ(saved.ReadSection(u"Directories"_s),
              (QStringList{u"History0"_s, u"History1"_s, u"Top"_s, u"Left"_s, u"Height"_s, u"DirWidth"_s,
                           u"FileWidth"_s, u"Fileview"_s}));
    EXPECT_EQ(saved.ReadString(u"Directories"_s, u"History1"_s, QString()), u"/b"_s);
    EXPECT_EQ(saved.ReadInteger(u"Directories"_s, u"Top"_s, 0), 50);
    EXPECT_EQ(saved.ReadInteger(u"Directories"_s, u"Height"_s, 0), 460);
    EXPECT_FALSE(saved.ReadBool(u"Directories"_s, u"Fileview"_s, true));
    EXPECT_EQ(saved.ReadString(u"Other"_s, u"Keep"_s, QString()), u"1"_s);

    // A top of 0 centres the window.
    test::WriteBytes(ini, "[Directories]\nTop=0\nLeft=80\n");
    d.LoadFromIni(ini, u"Directories"_s);
    d.Prepare(u"t"_s, false, false, true, QString(), dir);
    EXPECT_EQ(d.Position, kDefaultPos);
}

// ---- Moving in the tree -----------------------------------------------------------

TEST(DirectoryDialogTest, UpClimbsToTheParentButNotOntoARootNode)
{
    const QString documents = Documents();
    const QString inner = MakeDir(documents + u"/a/b"_s);
    TOpenDialog o(inner);

    // Below the documents root: up leaves that root for the computer.
    o.D.rbDocuments.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfPersonal);
    EXPECT_EQ(o.D.ShellTreeView.Path(), inner);
    o.D.btnUp.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfMyComputer);
    EXPECT_TRUE(o.D.rbComputer.Checked());
    EXPECT_EQ(o.D.ShellTreeView.Path(), documents + u"/a"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), documents + u"/a"_s);

    // A root whose node is a folder: its child does not climb onto it.
    o.D.KeyDown(Qt::Key_T, Qt::AltModifier);
    ASSERT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfDesktop);
    const QString desktop = o.D.ShellTreeView.TopFolders().value(0);
    const QString child = MakeDir(desktop + u"/child"_s);
    o.D.ShellTreeView.UserSelect(child);
    o.D.btnUp.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Path(), child);
    // The root node itself: up goes to the computer root.
    o.D.ShellTreeView.UserSelect(desktop);
    o.D.btnUp.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Root(), TShellRoot::rfMyComputer);
    EXPECT_EQ(o.D.ShellTreeView.Path(), desktop);

    // The computer root climbs up to "/" and stays there.
    o.D.ShellTreeView.UserSelect(u"/tmp"_s);
    o.D.btnUp.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Path(), u"/"_s);
    o.D.btnUp.UserClick();
    EXPECT_EQ(o.D.ShellTreeView.Path(), u"/"_s);
}

TEST(DirectoryDialogTest, AMissingDefaultFolderIsReportedAndLeavesTheHistory)
{
    TRecordingMessages messages;
    const QString dir = MakeTempDir(u"def"_s);
    const QString gone = MakeDir(dir + u"/gone"_s);
    TScriptedDirViews views;
    TShellDirDialog d;
    views.OnDir = [&](TShellDirDialog &D) {
        D.cbxSelectedDir.UserEdit(gone);
        D.btbOK.UserClick();
    };
    QString result;
    d.Execute(u"t"_s, false, false, true, gone, result);
    ASSERT_EQ(d.DirList().Texts(), QStringList{gone});
    ASSERT_TRUE(QDir(gone).removeRecursively());

    d.Prepare(u"t"_s, false, false, true, gone, dir);
    EXPECT_TRUE(d.KeyDown(Qt::Key_H, Qt::AltModifier));
    EXPECT_EQ(messages.Texts, QStringList{u"Directory not found:\r\n"_s + gone + u"!"_s});
    EXPECT_TRUE(d.DirList().IsEmpty());
}

// ---- New folders ------------------------------------------------------------------

TEST(DirectoryDialogTest, NewFolderCreatesEveryLevelAndSelectsIt)
{
    TRecordingMessages messages;
    TScriptedViews input;
    const QString dir = MakeTempDir(u"new"_s);
    TOpenDialog o(dir);
    input.InputAnswers = {u"a/b c"_s};
    o.D.btnNew.UserClick();
    EXPECT_TRUE(IsDir(dir + u"/a/b c"_s));
    EXPECT_EQ(o.D.ShellTreeView.Path(), dir + u"/a/b c"_s);
    EXPECT_EQ(o.D.cbxSelectedDir.Text(), dir + u"/a/b c"_s);
    EXPECT_TRUE(messages.Texts.isEmpty());
}

TEST(DirectoryDialogTest, NewFolderRefusesNamesOutsideTheFolderAndReportsFailures)
{
    const QString dir = MakeTempDir(u"bad"_s);
    test::WriteBytes(dir + u"/file"_s, "x");
    struct Case {
        QString name;
        QString error; // empty: nothing happens
    } cases[] = {
        {u""_s, QString()},
        {u".."_s, dir + u"/.."_s},
        {u"x/../../y"_s, dir + u"/x/../../y"_s},
        {u"file/sub"_s, dir + u"/file/sub"_s},
    };
    for (const Case &c : cases) {
        TRecordingMessages messages;
        TScriptedViews input;
        TOpenDialog o(dir);
        input.InputAnswers = {c.name};
        o.D.itmCreate->Click();
        const QStringList expected =
            c.error.isEmpty() ? QStringList() : QStringList{u"Could not create directory:\r\n"_s + c.error + u"!"_s};
        EXPECT_EQ(messages.Texts, expected) << c.name.toStdString();
        EXPECT_EQ(o.D.ShellTreeView.Path(), dir);
    }
    EXPECT_FALSE(Exists(QFileInfo(dir).path() + u"/y"_s));
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"file"_s});

    // Nothing selected: there is no place to ask for.
    TScriptedViews input;
    TOpenDialog desktop{QString()};
    desktop.D.btnNew.UserClick();
    EXPECT_TRUE(input.InputPositions.isEmpty());
}

// ---- Deleting ---------------------------------------------------------------------

namespace {

// parent/victim with a read-only file and a subfolder, and a sibling.
struct TDeleteFixture {
    QString Parent = MakeTempDir(u"del"_s);
    QString Victim = MakeDir(Parent + u"/victim"_s);
    QString Sibling = MakeDir(Parent + u"/sibling"_s);
    TDeleteFixture()
    {
        MakeDir(Victim + u"/sub"_s);
        test::WriteBytes(Victim + u"/ro.txt"_s, "r");
        ::chmod((Victim + u"/ro.txt"_s).toUtf8().constData(), 0444);
        test::WriteBytes(Victim + u"/sub/f"_s, "f");
        test::WriteBytes(Sibling + u"/keep"_s, "k");
    }
};

// Answers the delete question with button AChoice (-1: cancel).
void AnswerDelete(TScriptedViews &AViews, int AChoice, QString *AQuestion = nullptr)
{
    AViews.OnSelectDialog = [AChoice, AQuestion](TSelectDialog &D) {
        if (AQuestion)
            *AQuestion = D.Form.Caption() + u'|' + D.stCaption.Caption();
        (AChoice < 0 ? D.CancelBtn() : *D.Buttons[size_t(AChoice)]).Click();
    };
}

} // namespace

TEST(DirectoryDialogTest, DeleteDefinitelyActsOnTheFolderTakenBeforeTheTreeMovesUp)
{
    TDeleteFixture f;
    TRecordingMessages messages;
    TScriptedViews views;
    QString question;
    AnswerDelete(views, 0, &question);
    TOpenDialog o(f.Victim);
    o.D.itmDelete->Click();

    EXPECT_EQ(question, u"Delete directory|Delete \""_s + f.Victim + u"\""_s);
    EXPECT_FALSE(Exists(f.Victim));
    EXPECT_TRUE(IsDir(f.Parent));
    EXPECT_EQ(test::ReadBytes(f.Sibling + u"/keep"_s), "k");
    EXPECT_EQ(o.D.ShellTreeView.Path(), f.Parent);
    EXPECT_EQ(messages.Texts, QStringList{u"2 directories with 2 files deleted!"_s});
}

TEST(DirectoryDialogTest, DeletingALinkToAFolderRemovesTheLinkOnly)
{
    for (int choice : {0, 1}) {
        const QString dir = MakeTempDir(u"link"_s);
        const QString target = MakeDir(dir + u"/target"_s);
        test::WriteBytes(target + u"/precious"_s, "p");
        MakeDir(target + u"/inner"_s);
        SymLink(target, dir + u"/link"_s);
        TRecordingMessages messages;
        TScriptedViews views;
        AnswerDelete(views, choice);
        TOpenDialog o(dir + u"/link"_s);
        ASSERT_EQ(o.D.ShellTreeView.Path(), dir + u"/link"_s);
        o.D.itmDelete->Click();

        EXPECT_FALSE(Exists(dir + u"/link"_s)) << choice;
        EXPECT_EQ(test::ReadBytes(target + u"/precious"_s), "p") << choice;
        EXPECT_TRUE(IsDir(target + u"/inner"_s)) << choice;
        EXPECT_EQ(o.D.ShellTreeView.Path(), dir);
        if (choice == 1) {
            // In the Trash as the link it was.
            const QString trashed = XdgDataHome() + u"/Trash/files/link"_s;
            EXPECT_TRUE(QFileInfo(trashed).isSymLink());
            EXPECT_EQ(messages.Texts, QStringList{dir + u"/link moved to Recycle Bin!"_s});
        } else {
            EXPECT_EQ(messages.Texts, QStringList{u"1 directories with 0 files deleted!"_s});
        }
    }
}

TEST(DirectoryDialogTest, DeleteToTheTrashKeepsTheTreeThereAndCancelDeletesNothing)
{
    TDeleteFixture f;
    {
        TRecordingMessages messages;
        TScriptedViews views;
        AnswerDelete(views, -1);
        TOpenDialog o(f.Victim);
        o.D.itmDelete->Click();
        EXPECT_TRUE(IsDir(f.Victim + u"/sub"_s));
        EXPECT_EQ(o.D.ShellTreeView.Path(), f.Victim);
        EXPECT_TRUE(messages.Texts.isEmpty());
    }
    TRecordingMessages messages;
    TScriptedViews views;
    AnswerDelete(views, 1);
    TOpenDialog o(f.Victim);
    o.D.itmDelete->Click();
    EXPECT_FALSE(Exists(f.Victim));
    EXPECT_EQ(test::ReadBytes(XdgDataHome() + u"/Trash/files/victim/sub/f"_s), "f");
    EXPECT_TRUE(IsDir(f.Sibling));
    EXPECT_EQ(messages.Texts, QStringList{f.Victim + u" moved to Recycle Bin!"_s});
}

TEST(DirectoryDialogTest, ALockedFileKeepsItsFoldersAndIsReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user";
    TDeleteFixture f;
    const QString locked = MakeDir(f.Victim + u"/sub/locked"_s);
    test::WriteBytes(locked + u"/keep"_s, "keep");
    test::ChownTree(f.Parent);
    // A folder the unprivileged user may not write, owned by someone else.
    ASSERT_EQ(::chown(locked.toUtf8().constData(), 0, 0), 0);
    ASSERT_EQ(::chmod(locked.toUtf8().constData(), 0755), 0);

    test::RunUnprivileged([&] {
        TRecordingMessages messages;
        TScriptedViews views;
        AnswerDelete(views, 0);
        TOpenDialog o(f.Victim);
        o.D.itmDelete->Click();
        EXPECT_EQ(messages.Texts, QStringList{u"Error deleting directory:\r\n"_s + f.Victim + u"!"_s});
    });
    EXPECT_EQ(test::ReadBytes(locked + u"/keep"_s), "keep");
    EXPECT_TRUE(IsDir(f.Victim + u"/sub"_s));
    EXPECT_FALSE(Exists(f.Victim + u"/ro.txt"_s));
    EXPECT_FALSE(Exists(f.Victim + u"/sub/f"_s));
}

TEST(DirectoryDialogTest, DeleteFolderTreeCountsAndNeverFollowsLinks)
{
    const QString dir = MakeTempDir(u"tree"_s);
    const QString outside = MakeDir(dir + u"/outside"_s);
    test::WriteBytes(outside + u"/o"_s, "o");
    const QString base = MakeDir(dir + u"/base"_s);
    MakeDir(base + u"/a/b"_s);
    test::WriteBytes(base + u"/a/b/1"_s, "1");
    test::WriteBytes(base + u"/a/2"_s, "2");
    test::WriteBytes(base + u"/.hidden"_s, "3");
    SymLink(outside, base + u"/a/to-outside"_s);
    ASSERT_EQ(::chmod((base + u"/a/b"_s).toUtf8().constData(), 0555), 0);

    int errors = 0, files = 0, folders = 0;
    DeleteFolderTreeCounted(base, QString(), false, errors, files, folders);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(files, 4);   // three files and the link
    EXPECT_EQ(folders, 2); // a/b and a; the base stays
    EXPECT_TRUE(IsDir(base));
    EXPECT_TRUE(QDir(base).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_EQ(test::ReadBytes(outside + u"/o"_s), "o");

    // A missing folder changes nothing; a sub path names a folder below.
    DeleteFolderTreeCounted(dir, u"missing"_s, true, errors, files, folders);
    MakeDir(dir + u"/x/y"_s);
    DeleteFolderTreeCounted(dir, u"x"_s, false, errors, files, folders);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(folders, 4);
    EXPECT_FALSE(Exists(dir + u"/x"_s));
}

TEST(DirectoryDialogTest, TheRootAndTheHomeFolderWithItsParentsOfferNoDeletion)
{
    const QString home = QDir::homePath();
    test::WriteBytes(home + u"/precious"_s, "p");
    for (const QString &folder : {u"/"_s, home, QFileInfo(home).path()}) {
        TScriptedViews views;
        int asked = 0;
        views.OnSelectDialog = [&](TSelectDialog &D) {
            ++asked;
            D.Buttons[0]->Click();
        };
        TOpenDialog o(folder);
        ASSERT_EQ(o.D.ShellTreeView.Path(), folder);
        o.D.PopupMenuPopup();
        EXPECT_FALSE(o.D.itmDelete->Enabled()) << folder.toStdString();
        EXPECT_TRUE(o.D.itmCreate->Enabled());
        o.D.itmDelete->Click();
        EXPECT_EQ(asked, 0) << folder.toStdString();
    }
    EXPECT_EQ(test::ReadBytes(home + u"/precious"_s), "p");
}

TEST(DirectoryDialogTest, AFolderReplacedWhileAskedIsNotDeleted)
{
    for (int choice : {0, 1}) {
        TDeleteFixture f;
        TRecordingMessages messages;
        TScriptedViews views;
        views.OnSelectDialog = [&](TSelectDialog &D) {
            // Meanwhile the folder is renamed and another takes its name.
            ASSERT_TRUE(QDir().rename(f.Victim, f.Parent + u"/renamed"_s));
            MakeDir(f.Victim);
            test::WriteBytes(f.Victim + u"/new"_s, "n");
            D.Buttons[size_t(choice)]->Click();
        };
        TOpenDialog o(f.Victim);
        o.D.itmDelete->Click();
        EXPECT_EQ(test::ReadBytes(f.Victim + u"/new"_s), "n") << choice;
        EXPECT_EQ(test::ReadBytes(f.Parent + u"/renamed/sub/f"_s), "f") << choice;
        EXPECT_EQ(messages.Texts, QStringList{u"Error deleting directory:\r\n"_s + f.Victim + u"!"_s}) << choice;
    }
}

namespace {

// Mounts in a mount namespace of this process's own, so nothing leaks to
// the machine; skips the test where that is not allowed.
class TPrivateMounts {
public:
    bool Ready()
    {
        static const bool ready = ::unshare(CLONE_NEWNS) == 0
                               && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        return ready;
    }
    bool Mount(const char *AType, const QString &ASource, const QString &APoint, unsigned long AFlags = 0)
    {
        const QByteArray point = APoint.toUtf8();
        if (::mount(ASource.toUtf8().constData(), point.constData(), AType, AFlags, nullptr) != 0)
            return false;
        FPoints.prepend(point);
        return true;
    }
    ~TPrivateMounts()
    {
        for (const QByteArray &point : FPoints)
            ::umount2(point.constData(), MNT_DETACH);
    }

private:
    QList<QByteArray> FPoints;
};

} // namespace

TEST(DirectoryDialogTest, DeletingDefinitelyStaysOnItsFileSystem)
{
    TPrivateMounts mounts;
    if (!mounts.Ready())
        GTEST_SKIP() << "needs the right to mount";
    const QString dir = MakeTempDir(u"mounts"_s);
    const QString outside = MakeDir(dir + u"/outside"_s);
    test::WriteBytes(outside + u"/o"_s, "o");
    const QString base = MakeDir(dir + u"/base"_s);
    test::WriteBytes(base + u"/f"_s, "f");
    const QString tmpfs = MakeDir(base + u"/a/tmpfs"_s);
    const QString bind = MakeDir(base + u"/a/bind"_s);
    ASSERT_TRUE(mounts.Mount("tmpfs", u"none"_s, tmpfs));
    test::WriteBytes(tmpfs + u"/t"_s, "t");
    ASSERT_TRUE(mounts.Mount(nullptr, outside, bind, MS_BIND));

    int errors = 0, files = 0, folders = 0;
    DeleteFolderTreeCounted(base, QString(), true, errors, files, folders);
    EXPECT_EQ(errors, 4); // both mount points, and a and base that keep them
    EXPECT_EQ(files, 1);
    EXPECT_EQ(test::ReadBytes(tmpfs + u"/t"_s), "t");
    EXPECT_EQ(test::ReadBytes(outside + u"/o"_s), "o");

    // A mount point itself: nothing of what is mounted there goes.
    errors = files = folders = 0;
    DeleteFolderTreeCounted(tmpfs, QString(), true, errors, files, folders);
    DeleteFolderTreeCounted(bind, QString(), false, errors, files, folders);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(files + folders, 0);
    EXPECT_EQ(test::ReadBytes(tmpfs + u"/t"_s), "t");
    EXPECT_EQ(test::ReadBytes(outside + u"/o"_s), "o");
}

// ---- Files dialog -----------------------------------------------------------------

TEST(FilesDialogTest, AMissingDirectoryShowsOnlyTheErrorBox)
{
    TRecordingMessages messages;
    TScriptedDirViews views;
    const QString missing = MakeTempDir(u"f"_s) + u"/missing"_s;
    ShowDirectoryFiles(u"t"_s, missing);
    EXPECT_EQ(views.FilesShown, 0);
    EXPECT_EQ(messages.Texts, QStringList{u"Directory not found:\r\n"_s + missing + u"!"_s});
}

TEST(FilesDialogTest, UpIsEnabledOnlyBelowTheStartDirectory)
{
    const QString dir = MakeTempDir(u"files"_s);
    const QString deep = MakeDir(dir + u"/a/b"_s);
    TScriptedDirViews views;
    views.OnFiles = [&](TShowFilesDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Show files"_s);
        EXPECT_EQ(D.pnTop.Caption(), dir);
        EXPECT_EQ(D.lvFiles.Folder(), dir);
        EXPECT_EQ(D.lvFiles.Hint(), u"Directory: "_s + dir);
        EXPECT_FALSE(D.btnDirUp.Enabled());

        EXPECT_TRUE(D.lvFiles.UserOpen(dir + u"/a"_s));
        EXPECT_TRUE(D.lvFiles.UserOpen(deep));
        EXPECT_EQ(D.pnTop.Caption(), deep);
        EXPECT_TRUE(D.btnDirUp.Enabled());
        D.btnDirUp.UserClick();
        EXPECT_EQ(D.lvFiles.Folder(), dir + u"/a"_s);
        EXPECT_EQ(D.lvFiles.Hint(), u"Directory: "_s + dir + u"/a"_s);
        EXPECT_TRUE(D.btnDirUp.Enabled());
        D.btnDirUp.UserClick();
        EXPECT_EQ(D.lvFiles.Folder(), dir);
        EXPECT_EQ(D.pnTop.Caption(), dir);
        EXPECT_FALSE(D.btnDirUp.Enabled());
        // Never above the start directory.
        D.btnDirUp.Click();
        EXPECT_EQ(D.lvFiles.Folder(), dir);
        D.OKBtn.UserClick();
    };
    ShowDirectoryFiles(QString(), dir);
    EXPECT_EQ(views.FilesShown, 1);

    // The start directory given with a trailing delimiter compares equal.
    views.OnFiles = [&](TShowFilesDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Backup"_s);
        EXPECT_EQ(D.RootName(), dir + u"/"_s);
        D.lvFiles.UserOpen(dir);
        EXPECT_FALSE(D.btnDirUp.Enabled());
    };
    ShowDirectoryFiles(u"Backup"_s, dir + u"/"_s);
}

TEST(FilesDialogTest, TheNameColumnGrowsWithTheWindow)
{
    struct Case {
        int width;
        int name;
    } cases[] = {{475, 32}, {950, 107}, {476, 32}, {500, 36}, {300, 4}, {100, 1}};
    for (const Case &c : cases)
        EXPECT_EQ(TShowFilesDialog::NameColumnWidth(c.width), c.name) << c.width;
    TShowFilesDialog d;
    EXPECT_EQ(d.lvFiles.ColumnWidths(), (QList<int>{32, 12, 13, 18}));
    d.FormResize(950);
    EXPECT_EQ(d.lvFiles.ColumnWidths(), (QList<int>{107, 12, 13, 18}));
}
