#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/PasswordService.h"
#include "engine/SnapshotService.h"
#include "platform/Volumes.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace vl;
using vl::test::MakeTempDir;

namespace {

// A task on a folder destination in mode "Update", separate files.
void SetUpFolderTask(TBackupForm &F, int ADestMode = 0, TFileSystem ATarget = TFileSystem::fsExt4)
{
    F.BuFtp = false;
    F.DestMode = ADestMode;
    F.TargetType = ATarget;
    F.BuModeCB.SetItemIndex(ADestMode > 3 ? 1 : 0);
    F.pcMethod.SetActivePage(ADestMode > 3 ? kMethodPageZip : kMethodPageFiles);
}

void AddSource(TBackupForm &F, const QString &APath, const QString &AVolume = QString())
{
    TExtensionList list(F.NewPeriod, TSubDirMode::sdmNormal);
    list.SPath = APath;
    list.VPath = APath;
    list.VName = AVolume;
    list.IsAvailable = true;
    F.SelectedDirBox.Add(APath, std::move(list));
}

class TFakeSnapshotProvider : public ISnapshotProvider {
public:
    explicit TFakeSnapshotProvider(bool AFits) : FFits(AFits) {}
    QString Name() const override { return QStringLiteral("fake"); }
    VSS_ID ProviderId() const override { return VSS_ID(); }
    bool Available() const override { return true; }
    bool Fits(const TVolume &, QString &) const override
    {
        ++Calls;
        return FFits;
    }
    HRESULT Create(const TVolume &, TSnapshotRecord &) override { return E_FAIL; }
    HRESULT Delete(const TSnapshotRecord &) override { return E_FAIL; }
    mutable int Calls = 0;

private:
    bool FFits;
};

class TScopedProviders {
public:
    explicit TScopedProviders(std::shared_ptr<ISnapshotProvider> AProvider) : FProviders{std::move(AProvider)}
    {
        SetSnapshotProvidersForTest(&FProviders);
    }
    ~TScopedProviders() { SetSnapshotProvidersForTest(nullptr); }

private:
    TSnapshotProviders FProviders;
};

} // namespace

TEST(OptionRules, FtpDestinationDisablesFolderOnlyOptionsButKeepsVerifyDriveIdAndSourceDeletion)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.BuFtp = true;
    for (TCheckBoxState *box : {&f.cbCreationTime, &f.cbCopyPerms, &f.cbAltStreams, &f.cbVerify})
        box->SetChecked(true);
    f.UpdateOptionControls();

    EXPECT_TRUE(f.cbVerify.Enabled());
    EXPECT_TRUE(f.cbVerify.Checked());
    EXPECT_TRUE(f.paDriveId.Enabled());
    EXPECT_TRUE(f.cbSourceDelete.Enabled());
    EXPECT_FALSE(f.cbDelDir.Enabled());
    for (TCheckBoxState *box : {&f.cbCreationTime, &f.cbCopyPerms, &f.cbAltStreams, &f.cbCopySummary}) {
        EXPECT_FALSE(box->Enabled());
        EXPECT_FALSE(box->Checked());
    }
    EXPECT_FALSE(f.gbReplMode.Visible());
    EXPECT_FALSE(f.cbNoAttributes.Visible());
}

TEST(OptionRules, DestinationFileSystemDecidesStreamsPermissionsAndTrash)
{
    struct TCase {
        TFileSystem Target;
        bool Xattrs, Perms, Trash;
    };
    const TCase cases[] = {
        {TFileSystem::fsExt4, true, true, true},     {TFileSystem::fsBTRFS, true, true, true},
        {TFileSystem::fsNtfs, true, false, true},    {TFileSystem::fsFat, false, false, true},
        {TFileSystem::fsExtFat, false, false, true}, {TFileSystem::fsRemote, false, true, false},
        {TFileSystem::fsLtfs, false, false, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(int(c.Target));
        TBackupForm f;
        SetUpFolderTask(f, 1, c.Target);
        f.SyncMode = 1;
        for (TCheckBoxState *box : {&f.cbAltStreams, &f.cbCopyPerms, &f.cbSyncRecycle, &f.cbCopySummary})
            box->SetChecked(true);
        f.UpdateOptionControls();
        EXPECT_EQ(f.cbAltStreams.Enabled(), c.Xattrs);
        EXPECT_EQ(f.cbAltStreams.Checked(), c.Xattrs);
        EXPECT_EQ(f.cbCopyPerms.Enabled(), c.Perms);
        EXPECT_EQ(f.cbCopyPerms.Checked(), c.Perms);
        EXPECT_EQ(f.cbSyncRecycle.Enabled(), c.Trash);
        EXPECT_EQ(f.cbSyncRecycle.Checked(), c.Trash);
        // Document property sets never exist here; a stale check must not
        // lock the encryption panel.
        EXPECT_FALSE(f.cbCopySummary.Checked());
        EXPECT_FALSE(f.cbCopySummary.Enabled());
        EXPECT_TRUE(f.cbEncrypt.Enabled());
    }
}

TEST(OptionRules, CompressionAndZipMethodsExcludeStreamsAndCreationTime)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.cbAltStreams.SetChecked(true);
    f.cbCopyPerms.SetChecked(true);
    f.cbCompress.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_FALSE(f.cbAltStreams.Checked());
    EXPECT_FALSE(f.cbAltStreams.Enabled());
    EXPECT_TRUE(f.cbCopyPerms.Checked());
    EXPECT_TRUE(f.cbCreationTime.Enabled());

    f.cbCreationTime.SetChecked(true);
    SetUpFolderTask(f, 7);
    f.UpdateOptionControls();
    EXPECT_FALSE(f.cbCreationTime.Checked());
    EXPECT_FALSE(f.cbCreationTime.Enabled());
    EXPECT_FALSE(f.cbCopyPerms.Checked());
    EXPECT_TRUE(f.ZipNameEdit.Visible());
    EXPECT_TRUE(f.PhZipBtn.Visible());
}

TEST(OptionRules, EncryptedZipArchivesAreAlwaysCompressed)
{
    TBackupForm f;
    SetUpFolderTask(f, 4);
    f.cbZipCompress.SetChecked(true);
    f.cbEncrypt.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_TRUE(f.cbCompress.Checked());
    EXPECT_FALSE(f.cbCompress.Enabled());
    EXPECT_FALSE(f.NoCompList.Visible());
    EXPECT_TRUE(f.pnZipEnc.Visible());
    EXPECT_TRUE(f.pnZip.Visible());
    EXPECT_TRUE(f.cbEncNames.Enabled());
    EXPECT_FALSE(f.cbZipCompress.Checked());
    EXPECT_FALSE(f.cbZipCompress.Visible());

    f.cbEncrypt.SetChecked(false);
    f.UpdateOptionControls();
    EXPECT_TRUE(f.cbCompress.Enabled());
    EXPECT_TRUE(f.cbCompress.Checked());
    EXPECT_TRUE(f.NoCompList.Visible());
    EXPECT_FALSE(f.pnZipEnc.Visible());
    EXPECT_FALSE(f.cbFixPwd.Enabled());
}

TEST(OptionRules, SingleFileZipWithEncryptionLocksCompressionOnSeparateFiles)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.cbCompress.SetChecked(true);
    f.cbZipCompress.SetChecked(true);
    f.cbEncrypt.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_FALSE(f.cbCompress.Enabled());
    EXPECT_TRUE(f.cbCompress.Checked());
    EXPECT_TRUE(f.cbZipCompress.Visible());
    EXPECT_FALSE(f.pnZip.Visible());
    EXPECT_FALSE(f.cbEncNames.Enabled());
}

TEST(OptionRules, FixedPasswordNeedsEncryption)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.cbEncrypt.SetChecked(true);
    f.cbFixPwd.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_TRUE(f.cbFixPwd.Enabled());
    EXPECT_TRUE(f.btnCryptPassword.Enabled());

    f.cbEncrypt.SetChecked(false);
    f.UpdateCryptControls();
    EXPECT_FALSE(f.cbFixPwd.Checked());
    EXPECT_FALSE(f.cbFixPwd.Enabled());
    EXPECT_FALSE(f.btnCryptPassword.Enabled());
}

TEST(OptionRules, SecurityCopiesDuringBackupOnlyWhereTheDestinationFilesAreTheTasks)
{
    struct TCase {
        int DestMode;
        int ModeIndex;
        int64_t MaxZipSize;
        bool Ftp;
        bool Kept;
    };
    const TCase cases[] = {
        {4, 1, 0, false, true},          // one unlimited zip archive on a folder
        {4, 1, 100 << 20, false, false}, // split archive
        {4, 1, 0, true, false},          // FTP
        {5, 1, 0, false, false},         {6, 1, 0, false, false}, {7, 1, 0, false, false},
        {0, 0, 0, false, true},          // update of separate files
        {0, 0, 0, true, true},           // also on FTP
        {0, 1, 0, false, false},         // "Full (new)" clears the destination anyway
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.DestMode << " " << c.ModeIndex << " " << c.MaxZipSize << " " << c.Ftp);
        TBackupForm f;
        SetUpFolderTask(f, c.DestMode);
        f.BuModeCB.SetItemIndex(c.ModeIndex);
        f.MaxZipSize = c.MaxZipSize;
        f.BuFtp = c.Ftp;
        f.KeepBakCB.SetChecked(true);
        f.UpdateOptionControls();
        EXPECT_EQ(f.KeepBakCB.Enabled(), c.Kept);
        EXPECT_EQ(f.KeepBakCB.Checked(), c.Kept);
        EXPECT_EQ(f.BakNameBtn.Enabled(), c.Kept);
    }
}

TEST(OptionRules, OneDirectoryWithoutPathIsFreeOnlyWithOneSource)
{
    TBackupForm f;
    SetUpFolderTask(f, 2);
    AddSource(f, QStringLiteral("/srv/a"));
    f.UpdateDestModeControls();
    EXPECT_TRUE(f.cbSync.Enabled());
    EXPECT_TRUE(f.KeepBakCB.Enabled());
    AddSource(f, QStringLiteral("/srv/b"));
    f.UpdateDestModeControls();
    EXPECT_FALSE(f.cbSync.Enabled());
    EXPECT_FALSE(f.KeepBakCB.Enabled());
}

TEST(OptionRules, SynchronisationOffClearsItsOptionsButAnUnavailableDestinationKeepsTheTrash)
{
    struct TCase {
        int SyncMode;
        bool KeepSync;
        TFileSystem Target;
        bool RecycleEnabled, RecycleChecked, KeepSyncChecked;
    };
    const TCase cases[] = {
        {1, false, TFileSystem::fsExt4, true, true, false},
        {1, true, TFileSystem::fsExt4, false, false, true},      // renaming instead of deleting
        {0, true, TFileSystem::fsExt4, false, false, false},     // sync off
        {0, false, TFileSystem::fsNotAvail, false, true, false}, // setting survives
        {2, false, TFileSystem::fsNotAvail, false, true, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.SyncMode << " " << c.KeepSync << " " << int(c.Target));
        TBackupForm f;
        SetUpFolderTask(f, 0, c.Target);
        f.SyncMode = c.SyncMode;
        f.cbSyncRecycle.SetChecked(true);
        f.KeepSyncCB.SetChecked(c.KeepSync);
        f.UpdateOptionControls();
        EXPECT_EQ(f.cbSyncRecycle.Enabled(), c.RecycleEnabled);
        EXPECT_EQ(f.cbSyncRecycle.Checked(), c.RecycleChecked);
        EXPECT_EQ(f.KeepSyncCB.Checked(), c.KeepSyncChecked);
        EXPECT_EQ(f.KeepSyncCB.Enabled(), c.SyncMode != 0);
        EXPECT_EQ(f.SyncNameBtn.Enabled(), c.KeepSyncChecked);
        EXPECT_EQ(f.rbSyncBefore.Enabled(), c.SyncMode != 0);
        EXPECT_EQ(f.cbSync.ItemIndex(), c.SyncMode);
    }
}

TEST(OptionRules, RootDirectoryZipNameIsSwappedInAndTheTypedNameRestored)
{
    TBackupForm f;
    SetUpFolderTask(f, 4);
    f.ZipNameEdit.SetText(QStringLiteral("Backup-%date%"));
    f.DestMode = 5;
    f.UpdateOptionControls();
    EXPECT_EQ(f.ZipNameEdit.Text(), QStringLiteral("<root directory>"));
    EXPECT_FALSE(f.ZipNameEdit.Enabled());
    EXPECT_EQ(f.UserZipName, QStringLiteral("Backup-%date%"));

    f.UpdateOptionControls(); // a second refresh must not take the fixed text as the user's
    EXPECT_EQ(f.UserZipName, QStringLiteral("Backup-%date%"));

    f.DestMode = 7;
    f.UpdateOptionControls();
    EXPECT_EQ(f.ZipNameEdit.Text(), QStringLiteral("Backup-%date%"));
    EXPECT_TRUE(f.ZipNameEdit.Enabled());

    f.DestMode = 1;
    f.UpdateOptionControls();
    EXPECT_FALSE(f.ZipNameEdit.Visible());
    EXPECT_FALSE(f.PhZipBtn.Visible());
}

TEST(OptionRules, ArchiveBitControlsAndPreviewsFollowTheMode)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.BuModeCB.SetItemIndex(3); // "Incremental"
    f.ClearDest = true;
    f.UseArchivCB.SetChecked(true);
    f.ResArchivCB.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_FALSE(f.UseArchivCB.Enabled());
    EXPECT_FALSE(f.ResArchivCB.Enabled());
    EXPECT_TRUE(f.ResArchivCB.Visible());
    EXPECT_FALSE(f.cbArchFile.Visible());
    EXPECT_FALSE(f.btnCompare.Visible());
    EXPECT_TRUE(f.miPreviewAll.Visible());
    EXPECT_TRUE(f.miPreviewExcluded.Visible());

    f.BuModeCB.SetItemIndex(0);
    f.ClearDest = false;
    f.UseArchivCB.SetChecked(false);
    f.ResArchivCB.SetChecked(false);
    f.UpdateOptionControls();
    EXPECT_TRUE(f.UseArchivCB.Enabled());
    EXPECT_FALSE(f.ResArchivCB.Visible());
    EXPECT_TRUE(f.cbArchFile.Visible());
    EXPECT_TRUE(f.btnCompare.Visible());
    EXPECT_FALSE(f.miPreviewAllSub.Visible());
}

TEST(OptionRules, LogPanelShowsTheTaskLogMode)
{
    TBackupForm f;
    SetUpFolderTask(f);
    f.TaskProtMode = 0x100 | 0x80 | 2;
    f.UpdateOptionControls();
    EXPECT_EQ(f.paTaskLog.Caption(), QStringLiteral("Log: Long (E)"));
}

TEST(OptionRules, DriveIdentifierPanelOnlyForDriveStructures)
{
    for (int mode = 0; mode < 8; ++mode) {
        TBackupForm f;
        SetUpFolderTask(f, mode);
        f.UpdateOptionControls();
        EXPECT_EQ(f.paDriveId.Visible(), mode == 0 || mode == 6) << mode;
    }
}

TEST(OptionRules, ShowDriveIdentifierPutsTheMaskIntoHintsAndPanel)
{
    TBackupForm f;
    f.gbDestMode.SetHint(QStringLiteral("Structure of the backup"));
    f.DriveId = QStringLiteral("Disk-?");
    f.ShowDriveIdentifier();
    EXPECT_EQ(f.rbDrives.Hint(), QStringLiteral("Structure of the backup\nDrive identifier = Disk-?"));
    EXPECT_EQ(f.rbZipDir.Hint(), f.rbDrives.Hint());
    EXPECT_EQ(f.paDriveId.Caption(), QStringLiteral("Drive identifier: Disk-?"));
}

TEST(OptionRules, CryptKeyModeFromKeyLengthAndPasswordCharacters)
{
    struct TCase {
        int Button; // 0 automatic, 1 128 bit, 2 256 bit
        QString Password;
        int Mode;
    };
    const TCase cases[] = {
        {0, QString(15, QLatin1Char('x')), 1},
        {0, QString(16, QLatin1Char('x')), 3},
        {0, QString(), 1},
        // 15 characters in 45 UTF-8 bytes: still a short password.
        {0, QString(15, QChar(0x4E2D)), 1},
        {1, QString(40, QLatin1Char('x')), 1},
        {2, QStringLiteral("short"), 3},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Button << " " << c.Password.size());
        TBackupForm f;
        TRadioButtonState *buttons[] = {&f.rbEncAuto, &f.rbEnc128, &f.rbEnc256};
        buttons[c.Button]->SetChecked(true);
        f.ActPwd = PasswordToAnsi(c.Password);
        EXPECT_EQ(f.GetCryptKeyMode(), c.Mode);
    }
}

TEST(OptionRules, BackupModeIndexFromClearDestAndArchiveBits)
{
    struct TCase {
        bool ClearDest, UseArch, ResArch;
        int DestMode;
        int Index;
    };
    const TCase cases[] = {
        {true, false, false, 0, 0}, // ClearDest without archive bits is shown as "Update"
        {true, false, true, 1, 1},  {true, true, false, 2, 2}, {true, true, true, 3, 3},
        {false, true, true, 0, 0},  // update with archive bit
        {true, true, true, 4, 1},   {false, false, false, 6, 1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ClearDest << c.UseArch << c.ResArch << " " << c.DestMode);
        TBackupForm f;
        f.ClearDest = c.ClearDest;
        f.UseArchivCB.SetChecked(c.UseArch);
        f.ResArchivCB.SetChecked(c.ResArch);
        f.DestMode = c.DestMode;
        EXPECT_EQ(f.BackupModeIndex(), c.Index);
    }
}

TEST(OptionRules, ShowDestModeSetsStructureMethodAndPage)
{
    TBackupForm f;
    TRadioButtonState *structures[] = {&f.rbDrives, &f.rbOrigin, &f.rbOneDir, &f.rbRoot,
                                       &f.rbOneZip, &f.rbZipRoot, &f.rbZipDir, &f.rbZipOrg};
    for (int mode : {0, 1, 2, 3, 4, 5, 6, 7, 9}) {
        SCOPED_TRACE(mode);
        f.DestMode = mode;
        f.ShowDestMode();
        const int expected = mode > 7 ? 4 : mode;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(structures[i]->Checked(), i == expected) << i;
        EXPECT_EQ(f.rbZip.Checked(), mode > 3);
        EXPECT_EQ(f.rbSingle.Checked(), mode < 4);
        EXPECT_EQ(f.pcMethod.ActivePage(), mode > 3 ? kMethodPageZip : kMethodPageFiles);
    }
}

TEST(OptionRules, ShadowCopyOnlyWhenAProviderTakesTheOneVolumeOfAllSources)
{
    const auto provider = std::make_shared<TFakeSnapshotProvider>(true);
    TScopedProviders scoped(provider);
    const QString dir = MakeTempDir();
    QDir(dir).mkpath(QStringLiteral("a"));
    QDir(dir).mkpath(QStringLiteral("b"));

    TBackupForm f;
    SetUpFolderTask(f);
    AddSource(f, dir + QStringLiteral("/a"));
    AddSource(f, dir + QStringLiteral("/b"));
    f.cbUseVss.SetChecked(true);
    f.UseVss = true;
    f.UpdateOptionControls();
    EXPECT_TRUE(f.cbUseVss.Enabled());
    EXPECT_TRUE(f.cbUseVss.Checked());
    EXPECT_NE(f.SourceType, TFileSystem::fsNotAvail);
    // Shadow copies and source deletion exclude each other.
    EXPECT_FALSE(f.cbSourceDelete.Enabled());
    f.UpdateOptionControls();
    EXPECT_EQ(provider->Calls, 1); // the providers' tools run once per volume

    // A source on another mount of the one drive "/".
    TVolume tmpVolume, shmVolume;
    const QList<TVolume> volumes = ListVolumes();
    if (!FindPathVolume(volumes, dir, tmpVolume) || !FindPathVolume(volumes, QStringLiteral("/dev/shm"), shmVolume)
        || tmpVolume.MountPoint == shmVolume.MountPoint)
        GTEST_SKIP() << "needs /dev/shm on a mount of its own";
    AddSource(f, QStringLiteral("/dev/shm"));
    f.UpdateOptionControls();
    EXPECT_FALSE(f.cbUseVss.Enabled());
    EXPECT_FALSE(f.cbUseVss.Checked());
    EXPECT_FALSE(f.UseVss);
    EXPECT_TRUE(f.cbSourceDelete.Enabled());
}

TEST(OptionRules, ShadowCopyRefusedWhenNoProviderFitsOrWithoutSources)
{
    const auto provider = std::make_shared<TFakeSnapshotProvider>(false);
    TScopedProviders scoped(provider);
    TBackupForm f;
    SetUpFolderTask(f);
    f.cbUseVss.SetChecked(true);
    f.UpdateOptionControls(); // no source: no file system to snapshot
    EXPECT_FALSE(f.cbUseVss.Enabled());

    AddSource(f, MakeTempDir());
    f.cbUseVss.SetChecked(true);
    f.UpdateOptionControls();
    EXPECT_EQ(provider->Calls, 1);
    EXPECT_FALSE(f.cbUseVss.Enabled());
    EXPECT_FALSE(f.cbUseVss.Checked());
}

TEST(OptionRules, SourcesOnOtherVolumesPassWithTheFirstEntrysVolumeName)
{
    TBackupForm f;
    const QString dir = MakeTempDir();
    AddSource(f, dir, QStringLiteral("STICK"));
    AddSource(f, QStringLiteral("/dev/shm"), QStringLiteral("STICK"));
    EXPECT_TRUE(f.AllSourcesOnOneVolume());
    f.SelectedDirBox.Clear();
    AddSource(f, dir);
    AddSource(f, QStringLiteral("/dev/shm"));
    TVolume a, b;
    const QList<TVolume> volumes = ListVolumes();
    if (!FindPathVolume(volumes, dir, a) || !FindPathVolume(volumes, QStringLiteral("/dev/shm"), b)
        || a.MountPoint == b.MountPoint)
        GTEST_SKIP() << "needs /dev/shm on a mount of its own";
    EXPECT_FALSE(f.AllSourcesOnOneVolume());
}
