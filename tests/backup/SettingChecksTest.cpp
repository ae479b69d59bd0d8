#include "backup/SettingChecks.h"

#include "backup/BackupForm.h"
#include "backup/FtpSettings.h"
#include "common/MessageRecorder.h"
#include "common/TestUtils.h"
#include "core/FakeVolumes.h"

#include <QDir>

#include <gtest/gtest.h>

namespace vl {
namespace {

using test::MakeTempDir;
using test::TMessageRecorder;

const QString kOverlap = QStringLiteral("Overlapping of source and destination directories is not allowed!");
const QString kUnique = QStringLiteral("The selected method \"Separated by root directory\" requires\r\n"
                                       "unique names of the last subdirectory of each selected path!");
const QString kOneDrive =
    QStringLiteral("If a task contains more than one source drive, you must use\r\n"
                   "either the method \"Separate files\" and \"Separate directories for drives\"\r\n"
                   "or \"Zip archive(s)\" and \"Separated by drive and subdirectory\"!");

void AddSource(TBackupForm &F, const QString &APath, const QString &AVolume = QString(),
               TSubDirMode AMode = TSubDirMode::sdmNormal)
{
    TExtensionList list(F.NewPeriod, AMode);
    list.SPath = APath;
    list.VPath = APath;
    list.VName = AVolume;
    list.IsAvailable = true;
    F.SelectedDirBox.Add(APath, std::move(list));
}

QString MakeDir(const QString &APath)
{
    EXPECT_TRUE(QDir().mkpath(APath));
    return APath;
}

// Two vfat sticks mounted in the test's temporary folder: each a drive of
// its own, beside the root drive "/".
struct TTwoSticks {
    QString Base = MakeTempDir(QStringLiteral("mnt"));
    QString A = MakeDir(Base + QStringLiteral("/stickA"));
    QString B = MakeDir(Base + QStringLiteral("/stickB"));
    test::TFakeVolumes Volumes{"22 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
                               "25 22 8:17 / " + A.toUtf8() + " rw - vfat /dev/sdb1 rw\n"
                               "29 22 8:81 / " + B.toUtf8() + " rw - vfat /dev/sdf1 rw\n"};
};

TEST(SettingChecks, TidyDestinationPath)
{
    const struct {
        const char *In;
        const char *Out;
    } cases[] = {
        {"/backup /x//last/", "/backup/x/NewDir/last"},
        {"/a/ /b", "/a/NewDir/b"},
        {"/data/", "/data"},
        {"/", "/"},
        {":USB:/", ":USB:/"},
        {":USB:/set  /", ":USB:/set"},
        {"//nas/share /dir/", "//nas/share/dir"},
        {"rel /x ", "rel /x"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TidyDestinationPath(QString::fromUtf8(c.In)), QString::fromUtf8(c.Out)) << c.In;
}

TEST(SettingChecks, IsValidDestinationPath)
{
    const struct {
        const char *Path;
        bool Valid;
    } cases[] = {
        {"", true},
        {"/data/backup/", true},
        {"//nas/share/x", true},
        {":USB:/backup", true},
        {":USB:", true},
        {":US|B:/backup", false},
        {"::/backup", false},  // no label
        {":USB/backup", false}, // label not closed
        {"/data/a|b", false},
        {"/data/a?b", false},
        {"/data/\"x\"", false},
        {"/data/a\\b", false},
        {"/data/a\tb", false},
        {"/data/C:", false}, // no drive elements here
        {"/data/%date%/x", true},
        {"/data/%d:t?%/x", true}, // placeholder text is replaced before use
        {"/data/%d:t", false},    // no closing percent sign
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsValidDestinationPath(QString::fromUtf8(c.Path)), c.Valid) << c.Path;
}

TEST(SettingChecks, DestinationInsideSourceRefusedForEveryMethodUnlessFilesOnly)
{
    const QString src = MakeDir(MakeTempDir() + QStringLiteral("/src"));
    for (int mode = 0; mode < 8; ++mode) {
        for (TSubDirMode sub : {TSubDirMode::sdmNormal, TSubDirMode::sdmFiles}) {
            TMessageRecorder boxes;
            TBackupForm f;
            AddSource(f, src, QString(), sub);
            f.DestMode = mode;
            f.BuZiel.SetText(src + QStringLiteral("/bak /"));
            const bool refused = sub == TSubDirMode::sdmNormal;
            EXPECT_EQ(f.CheckTaskSettings(), !refused) << mode;
            EXPECT_EQ(boxes.Texts, refused ? QStringList{kOverlap} : QStringList()) << mode;
            // Tidied whatever the outcome.
            EXPECT_EQ(f.BuZiel.Text(), src + QStringLiteral("/bak"));
        }
    }
}

TEST(SettingChecks, SourceInsideDestinationAcceptedOnlyForMethods0And4)
{
    const QString dest = MakeDir(MakeTempDir() + QStringLiteral("/dest"));
    const QString src = MakeDir(dest + QStringLiteral("/src"));
    for (int mode = 0; mode < 8; ++mode) {
        TMessageRecorder boxes;
        TBackupForm f;
        AddSource(f, src, QString(), TSubDirMode::sdmFiles);
        f.DestMode = mode;
        f.BuZiel.SetText(dest);
        const bool accepted = mode == 0 || mode == 4;
        EXPECT_EQ(f.CheckTaskSettings(), accepted) << mode;
        EXPECT_EQ(boxes.Texts.size(), accepted ? 0 : 1) << mode;
    }
    // A sibling whose name merely begins like the destination is no overlap.
    TMessageRecorder boxes;
    TBackupForm f;
    AddSource(f, MakeDir(dest + QStringLiteral("2")));
    f.DestMode = 1;
    f.BuZiel.SetText(dest);
    EXPECT_TRUE(f.CheckTaskSettings());
}

TEST(SettingChecks, EqualLastNamesOnTwoDrivesByMethod)
{
    TTwoSticks sticks;
    const struct {
        int Mode;
        const QString *Message; // nullptr: accepted
    } cases[] = {{3, &kUnique}, {5, &kUnique}, {0, nullptr}, {6, nullptr}, {1, &kOneDrive}, {7, &kOneDrive}};
    for (const auto &c : cases) {
        TMessageRecorder boxes;
        TBackupForm f;
        AddSource(f, MakeDir(sticks.A + QStringLiteral("/photos")));
        AddSource(f, MakeDir(sticks.B + QStringLiteral("/Photos")));
        f.DestMode = c.Mode;
        EXPECT_EQ(f.CheckSourcesForDestMode(QString(), QString(), -1), c.Message == nullptr) << c.Mode;
        EXPECT_EQ(boxes.Texts, c.Message ? QStringList{*c.Message} : QStringList()) << c.Mode;
    }
}

TEST(SettingChecks, NewSourceAgainstTheListExceptTheReplacedEntry)
{
    TTwoSticks sticks;
    TMessageRecorder boxes;
    TBackupForm f;
    AddSource(f, sticks.A + QStringLiteral("/photos"));
    AddSource(f, sticks.A + QStringLiteral("/music"));
    f.DestMode = 3;
    const QString newPath = sticks.B + QStringLiteral("/music");
    EXPECT_FALSE(f.CheckSourcesForDestMode(newPath, QString(), -1));
    EXPECT_TRUE(f.CheckSourcesForDestMode(newPath, QString(), 1));
    f.DestMode = 1;
    EXPECT_FALSE(f.CheckSourcesForDestMode(newPath, QString(), -1));
    // Replacing the only other-drive entry leaves one drive.
    AddSource(f, newPath);
    EXPECT_TRUE(f.CheckSourcesForDestMode(sticks.A + QStringLiteral("/x"), QString(), 2));
    EXPECT_EQ(boxes.Texts, (QStringList{kUnique, kOneDrive}));
}

TEST(SettingChecks, RemovableSourcesWithTheSameVolumeNamePassTheOneDriveRule)
{
    TTwoSticks sticks;
    TMessageRecorder boxes;
    TBackupForm f;
    f.DestMode = 1;
    AddSource(f, sticks.A + QStringLiteral("/x"), QStringLiteral("BACKUP"));
    AddSource(f, sticks.B + QStringLiteral("/y"), QStringLiteral("BACKUP"));
    EXPECT_TRUE(f.CheckSourcesForDestMode(QString(), QString(), -1));
    EXPECT_TRUE(f.CheckSourcesForDestMode(sticks.B + QStringLiteral("/z"), QStringLiteral("BACKUP"), -1));
    EXPECT_FALSE(f.CheckSourcesForDestMode(sticks.B + QStringLiteral("/z"), QString(), -1));
    EXPECT_EQ(boxes.Texts.size(), 1);
}

TEST(SettingChecks, DestinationAtTheRootOfASourceDrive)
{
    TTwoSticks sticks;
    for (const QString &dest : {sticks.A, sticks.A + QLatin1Char('/')}) {
        TMessageRecorder boxes;
        TBackupForm f;
        AddSource(f, sticks.A + QStringLiteral("/photos"));
        f.SelectedDirBox.SetItemIndex(0);
        f.BuZiel.SetText(dest);
        f.DestMode = 1;
        EXPECT_TRUE(f.DestinationIsSourceRoot()) << dest.toStdString();
        EXPECT_FALSE(f.CheckBeforeSave(QStringLiteral("Save?")));
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("Your destination is the root directory of the source "
                                                              "drive!\r\nSelect another destination path or the "
                                                              "backup method \"Separate directories for drives\"")));
        f.DestMode = 0;
        EXPECT_FALSE(f.DestinationIsSourceRoot());
        // The root of a drive holding no source, or a folder below it.
        f.DestMode = 1;
        f.BuZiel.SetText(sticks.B);
        EXPECT_FALSE(f.DestinationIsSourceRoot());
        f.BuZiel.SetText(sticks.A + QStringLiteral("/bak"));
        EXPECT_FALSE(f.DestinationIsSourceRoot());
    }
}

TEST(SettingChecks, SourceDeleteAndIncrementalAskTwoQuestions)
{
    const QString question = QStringLiteral("Do you really want to save this task?");
    const struct {
        int DestMode;
        TModalResult Answer;
        bool Result;
        int Questions;
    } cases[] = {{0, mrNo, false, 1}, {0, mrYes, true, 2}, {4, mrYes, true, 1}};
    for (const auto &c : cases) {
        TMessageRecorder boxes;
        boxes.Answer = c.Answer;
        TBackupForm f;
        f.cbSourceDelete.SetChecked(true);
        f.BuModeCB.SetItemIndex(3); // Incremental
        f.DestMode = c.DestMode;
        EXPECT_EQ(f.ConfirmDestructiveOptions(kDefaultPos, question), c.Result);
        ASSERT_EQ(boxes.Texts.size(), c.Questions);
        EXPECT_TRUE(boxes.Texts[0].startsWith(QStringLiteral("You selected the option \"Delete source files")));
        for (const QString &text : boxes.Texts)
            EXPECT_TRUE(text.endsWith(QStringLiteral("!\r\n") + question)) << text.toStdString();
    }
}

TEST(SettingChecks, CheckBeforeSaveShowsOneMessagePerFailure)
{
    const QString base = MakeTempDir();
    const QString src = MakeDir(base + QStringLiteral("/src"));
    const struct {
        const char *Dest; // relative to base
        bool Source;
        QString Message;
    } cases[] = {
        {"/bak|1", true, QStringLiteral("Illegal character in destination directory!")},
        {"/bak", false, QStringLiteral("You must select at least one directory for backup!")},
        {"/src/bak", true, kOverlap},
    };
    for (const auto &c : cases) {
        TMessageRecorder boxes;
        TBackupForm f;
        if (c.Source)
            AddSource(f, src);
        f.DestMode = 1;
        f.BuZiel.SetText(base + QString::fromUtf8(c.Dest));
        EXPECT_FALSE(f.CheckBeforeSave(QStringLiteral("Save?")));
        EXPECT_EQ(boxes.Texts, QStringList{c.Message}) << c.Dest;
    }
    TMessageRecorder boxes;
    TBackupForm f;
    AddSource(f, src);
    f.BuZiel.SetText(base + QStringLiteral("/bak"));
    EXPECT_TRUE(f.CheckBeforeSave(QStringLiteral("Save?")));
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST(SettingChecks, MissingFtpServerOrDestinationAsksForIt)
{
    TMessageRecorder boxes;
    boxes.Answer = mrYes;
    TBackupForm f;
    AddSource(f, MakeTempDir());
    f.BuFtp = true;
    f.SetEditStatus(TEditStatus::esSaved);
    // No dialog to enter the server: as cancelled.
    EXPECT_FALSE(f.CheckTaskSettings());
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Please specify FTP server and username")});
    f.OnEditFtpSettings = [](TFtpParams &p) {
        p.Host = QStringLiteral("ftp.example.org");
        p.Username = QStringLiteral("ann");
        return true;
    };
    EXPECT_TRUE(f.CheckTaskSettings());
    EXPECT_EQ(f.edtFtp.Text(), FtpDestinationUrl(f.FtpPar));
    EXPECT_FALSE(f.edtFtp.Text().isEmpty());
    EXPECT_EQ(f.EditStatus, TEditStatus::esChanged);
    EXPECT_TRUE(f.CheckTaskSettings()); // configured now: no question
    EXPECT_EQ(boxes.Texts.size(), 2);

    // An empty folder destination: the directory dialog cannot open here.
    f.BuFtp = false;
    boxes.Answer = mrOk;
    EXPECT_FALSE(f.CheckTaskSettings());
    EXPECT_EQ(boxes.Texts.last(), QStringLiteral("Please select a destination directory for your backup!"));
    EXPECT_TRUE(f.BuZiel.Text().isEmpty());
}

TEST(SettingChecks, IndexOfNestedSource)
{
    TBackupForm f;
    AddSource(f, QStringLiteral("/s/a"));
    AddSource(f, QStringLiteral("/s/b"), QString(), TSubDirMode::sdmFiles);
    const struct {
        const char *Path;
        bool BothWays;
        int Except;
        int Index;
    } cases[] = {
        {"/s/a/x", false, -1, 0},
        {"/s/a", false, -1, 0},
        {"/s/ab", false, -1, -1},
        {"/s/a/x", false, 0, -1},
        {"/s/b/x", false, -1, -1}, // entry holds only its own files
        {"/s/b/x", true, -1, -1},
        {"/s", false, -1, -1},
        {"/s", true, -1, 0},
        {"/s", true, 0, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(f.IndexOfNestedSource(QString::fromUtf8(c.Path), c.BothWays, c.Except), c.Index)
            << c.Path << " " << c.BothWays << " " << c.Except;
    EXPECT_EQ(f.IndexOfOverlappingSource(QStringLiteral("/s/b"), -1), 1);
}

} // namespace
} // namespace vl
