// Option rules of the task editor: which controls are enabled, shown,
// forced on or forced off for the destination, method, mode, file system,
// synchronisation, compression and encryption. A control a rule disables
// is also cleared, so a saved task never holds an option its destination,
// method or mode excludes.
//
// File-system conditions on this system:
// - "Copy alternate data streams" copies user xattrs: offered where the
//   destination keeps them (ext*, xfs and other native file systems,
//   btrfs, NTFS through ntfs3/ntfs-3g). Not on FAT/exFAT, LTFS, FUSE
//   vaults, nor network shares, where xattr support cannot be told from
//   the file-system type and each file would end in an error.
// - "Copy file permissions" copies mode bits, owner and POSIX ACLs:
//   offered on file systems that keep them (native ones, btrfs) and on
//   network shares (NFS, SMB with Unix extensions). NTFS, FAT and LTFS
//   mounts fake or drop them.
// - "Copy document summary": document property sets do not exist here, so
//   the option is never offered (and a task that has it loses it).
// - "Use Recycle Bin" moves files to the freedesktop trash, which every
//   local file system can hold (the home trash or .Trash-<uid> at its
//   top). Not on network shares, LTFS or an unknown destination.
// - Shadow copies: offered when one snapshot provider (btrfs, LVM) can
//   take the sources' volume; the provider's own test covers the file
//   system and the rights it needs, which replaces the tests for NTFS,
//   administrator membership and bitness.
#include "backup/BackupForm.h"

#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Format.h"
#include "core/PasswordService.h"
#include "core/ProgramTexts.h"
#include "core/Translate.h"
#include "engine/SnapshotService.h"
#include "engine/VssApi.h"
#include "platform/Volumes.h"


namespace vl {

namespace {

constexpr int kMaxAes128Password = 15; // longer passwords of "Automatic" get 256-bit keys

// Every control of a group box or panel that the rules switch as a whole.
void SetGroupEnabled(std::initializer_list<TControlState *> AControls, bool AValue)
{
    for (TControlState *control : AControls)
        control->SetEnabled(AValue);
}

// Enables a check box and clears it when it ends up disabled.
void EnableOrClear(TCheckBoxState &ABox, bool AEnabled)
{
    ABox.SetEnabled(AEnabled);
    if (!AEnabled)
        ABox.SetChecked(false);
}

QString RootDirectoryZipName()
{
    return Tr("<root directory>");
}

// The volume (mount) that holds a path; the path's drive when no mount is
// known for it.
QString VolumeOfPath(const QList<TVolume> &AVolumes, const QString &APath)
{
    TVolume volume;
    if (FindPathVolume(AVolumes, APath, volume))
        return volume.MountPoint;
    return DriveOfPath(APath);
}

} // namespace

// ---- Conditions ----

bool TBackupForm::IsLocalCopy() const
{
    return DestMode < 4 && !BuFtp;
}

bool TBackupForm::IsFreeUpdate() const
{
    return BuModeCB.ItemIndex() <= 0
           && (DestMode == 0 || DestMode == 1 || DestMode == 3 || (DestMode == 2 && SelectedDirBox.Count() <= 1));
}

bool TBackupForm::KeepsUserXattrs(TFileSystem AType)
{
    switch (AType) {
    case TFileSystem::fsNtfs:
    case TFileSystem::fsReFS:
    case TFileSystem::fsBTRFS:
    case TFileSystem::fsExt4:
        return true;
    default:
        return false;
    }
}

bool TBackupForm::KeepsPosixPermissions(TFileSystem AType)
{
    switch (AType) {
    case TFileSystem::fsRemote:
    case TFileSystem::fsBTRFS:
    case TFileSystem::fsExt4:
        return true;
    default:
        return false;
    }
}

bool TBackupForm::KeepsPermissions(TFileSystem AType)
{
    switch (AType) {
    case TFileSystem::fsNtfs:
    case TFileSystem::fsLtfs:
    case TFileSystem::fsRemote:
    case TFileSystem::fsReFS:
    case TFileSystem::fsBTRFS:
    case TFileSystem::fsExt4:
        return true;
    default:
        return false;
    }
}

bool TBackupForm::RecycleBinAvailable(TFileSystem AType)
{
    switch (AType) {
    case TFileSystem::fsNotAvail:
    case TFileSystem::fsRemote:
    case TFileSystem::fsLtfs:
        return false;
    default:
        return true;
    }
}

bool TBackupForm::SnapshotPossible(const QString &APath)
{
    TVolume volume;
    if (!FindPathVolume(ListVolumes(), APath, volume) || volume.Network)
        return false;
    const QString key = volume.MountPoint + QLatin1Char('\n') + volume.Source;
    if (key != SnapshotVolume) {
        SnapshotFits = false;
        QString reason;
        for (const auto &provider : SnapshotProviders()) {
            if (provider->Available() && provider->Fits(volume, reason)) {
                SnapshotFits = true;
                break;
            }
        }
        SnapshotVolume = key;
    }
    return SnapshotFits;
}

bool TBackupForm::AllSourcesOnOneVolume()
{
    if (SelectedDirBox.Count() == 0)
        return true;
    const TExtensionList &first = SelectedDirBox.Objects(0);
    SourceType = GetFileSystemType(first.SPath);
    if (SelectedDirBox.Count() == 1)
        return true;
    // A snapshot stands for one mount, so the mount decides, not the drive
    // (all fixed local file systems form the one drive "/").
    const QList<TVolume> volumes = ListVolumes();
    const QString firstVolume = VolumeOfPath(volumes, first.SPath);
    for (int i = 1; i < SelectedDirBox.Count(); ++i) {
        const TExtensionList &entry = SelectedDirBox.Objects(i);
        if (VolumeOfPath(volumes, entry.SPath) == firstVolume)
            continue;
        if (first.VName.isEmpty() || entry.VName != first.VName)
            return false;
    }
    return true;
}

int TBackupForm::GetCryptKeyMode() const
{
    if (rbEnc128.Checked())
        return 1;
    if (rbEnc256.Checked())
        return 3;
    // The length counts characters as typed, not the bytes of their encoding.
    return AnsiToPassword(ActPwd).toUcs4().size() <= kMaxAes128Password ? 1 : 3;
}

void TBackupForm::ShowDriveIdentifier()
{
    QString hint = GuardedFormat(Tr("Drive identifier = %s"), DriveId);
    if (!gbDestMode.Hint().isEmpty())
        hint = gbDestMode.Hint() + QLatin1Char('\n') + hint;
    rbDrives.SetHint(hint);
    rbZipDir.SetHint(hint);
    const QString caption = Tr("Drive identifier") + QStringLiteral(": ") + DriveId;
    paDriveId.SetCaption(caption);
    lblDriveId.SetCaption(caption);
}

int TBackupForm::BackupModeIndex() const
{
    if (ClearDest && DestMode < 4)
        return (ResArchivCB.Checked() ? 1 : 0) + (UseArchivCB.Checked() ? 2 : 0);
    return DestMode > 3 ? 1 : 0;
}

void TBackupForm::ShowDestMode()
{
    if (DestMode > 3) {
        switch (DestMode) {
        case 5:
            rbZipRoot.SetChecked(true);
            break;
        case 6:
            rbZipDir.SetChecked(true);
            break;
        case 7:
            rbZipOrg.SetChecked(true);
            break;
        default:
            rbOneZip.SetChecked(true);
            break;
        }
        rbZip.SetChecked(true);
        pcMethod.SetActivePage(kMethodPageZip);
    } else {
        switch (DestMode) {
        case 1:
            rbOrigin.SetChecked(true);
            break;
        case 2:
            rbOneDir.SetChecked(true);
            break;
        case 3:
            rbRoot.SetChecked(true);
            break;
        default:
            rbDrives.SetChecked(true);
            break;
        }
        rbSingle.SetChecked(true);
        pcMethod.SetActivePage(kMethodPageFiles);
    }
}

// ---- The refreshes ----

void TBackupForm::UpdateOptionControls()
{
    // 1. Shadow copies (without sources there is no volume to take).
    bool vss = AllSourcesOnOneVolume() && SelectedDirBox.Count() > 0 && SourceType != TFileSystem::fsNotAvail
               && SourceType != TFileSystem::fsRemote && IsVssApiLoaded();
    if (vss)
        vss = SnapshotPossible(SelectedDirBox.Objects(0).SPath);
    EnableOrClear(cbUseVss, vss);
    if (!vss)
        UseVss = false;

    // 2. Log mode.
    paTaskLog.SetCaption(Tr("Log: ") + LogModeText(uint8_t(TaskProtMode & 0xFF)));

    // 3. Encryption excludes copying document summaries, which are never
    //    copied here; a stale check from a task file (cleared below) must
    //    not lock the encryption panel.
    SetGroupEnabled({&cbEncrypt, &cbFixPwd, &btnCryptPassword}, true);

    // 4.
    UpdateCryptControls();

    // 5. Zip name.
    if (DestMode < 4) {
        ZipNameEdit.SetVisible(false);
        PhZipBtn.SetVisible(false);
        cbCreationTime.SetEnabled(true);
    } else {
        ZipNameEdit.SetVisible(true);
        PhZipBtn.SetVisible(true);
        PhZipBtn.SetEnabled(true);
        cbCreationTime.SetEnabled(false);
        if (DestMode == 5) {
            ZipNameEdit.SetEnabled(false);
            if (!ZipNameEdit.Text().startsWith(QLatin1Char('<'))) {
                UserZipName = ZipNameEdit.Text();
                ZipNameEdit.SetText(RootDirectoryZipName());
            }
        } else {
            ZipNameEdit.SetEnabled(true);
            if (ZipNameEdit.Text().startsWith(QLatin1Char('<')))
                ZipNameEdit.SetText(UserZipName);
        }
    }

    // 6., 7.
    UpdateDestModeControls();
    UpdateCompressionControls();

    // 8. Archive-bit controls.
    if (BuModeCB.ItemIndex() > 0 && DestMode < 4) {
        UseArchivCB.SetEnabled(false);
        ResArchivCB.SetEnabled(false);
        ResArchivCB.SetVisible(true);
        cbArchFile.SetVisible(false);
        btnCompare.SetVisible(false);
    } else {
        UseArchivCB.SetEnabled(true);
        ResArchivCB.SetEnabled(true);
        ResArchivCB.SetVisible(UseArchivCB.Checked() || DestMode > 3);
        btnCompare.SetVisible(!UseArchivCB.Checked() && DestMode < 4);
        cbArchFile.SetVisible(DestMode < 4);
    }

    // 9. Previews.
    const bool preview = DestMode > 3 || (UseArchivCB.Checked() && (cbArchFile.Checked() || ClearDest));
    miPreviewAll.SetVisible(preview);
    miPreviewAllSub.SetVisible(preview);
    miPreviewExcluded.SetVisible(preview);

    // 10.
    cbSync.SetItemIndex(SyncMode);
}

void TBackupForm::UpdateDestModeControls()
{
    const bool folder = !BuFtp;
    gbReplMode.SetVisible(folder);
    cbZipCompress.SetVisible(DestMode < 4 && cbCompress.Checked());
    // "Miscellaneous" of the task settings page.
    SetGroupEnabled({&cbCreationTime, &cbCopySummary, &cbSourceDelete, &cbDelDir, &cbVerify, &cbCopyPerms,
                     &cbAltStreams, &paDriveId},
                    folder);
    const bool freeUpdate = IsFreeUpdate();
    SetGroupEnabled({&cbSync, &rbSyncBefore, &rbSyncAfter, &cbSyncRecycle}, freeUpdate);
    SetGroupEnabled({&KeepBakCB, &BakNameBtn, &KeepSyncCB, &SyncNameBtn}, freeUpdate);
    cbVerify.SetEnabled(true);
    paDriveId.SetEnabled(true);
    paDriveId.SetVisible(DestMode == 0 || DestMode == 6);

    const bool local = IsLocalCopy();
    EnableOrClear(cbCopySummary, false);
    EnableOrClear(cbAltStreams, local && KeepsUserXattrs(TargetType) && !cbCompress.Checked());
    EnableOrClear(cbCopyPerms, local && KeepsPosixPermissions(TargetType));
    EnableOrClear(cbSourceDelete, !cbUseVss.Checked());
    EnableOrClear(cbCreationTime, local);
    if (DestMode > 3)
        cbCreationTime.SetChecked(false);
    cbNoAttributes.SetVisible(local);

    // Security copies during the backup also work in the one unlimited zip
    // archive on a folder.
    EnableOrClear(KeepBakCB, KeepBakCB.Enabled() || (DestMode == 4 && MaxZipSize == 0 && folder));
    EnableOrClear(KeepSyncCB, KeepSyncCB.Enabled() && SyncMode != 0);

    const bool recycle =
        folder && SyncMode != 0 && !KeepSyncCB.Checked() && RecycleBinAvailable(TargetType);
    cbSyncRecycle.SetEnabled(recycle);
    // An unavailable destination says nothing about its file system: keep
    // the setting for when it is back.
    if (!recycle && TargetType != TFileSystem::fsNotAvail)
        cbSyncRecycle.SetChecked(false);

    BakNameBtn.SetEnabled(KeepBakCB.Checked());
    SyncNameBtn.SetEnabled(KeepSyncCB.Checked());
    rbSyncBefore.SetEnabled(SyncMode != 0);
    rbSyncAfter.SetEnabled(SyncMode != 0);
}

void TBackupForm::UpdateCompressionControls()
{
    if (cbEncrypt.Checked()) {
        // Keeps the zip panel above the encryption details.
        const bool zipShown = pnZip.Visible();
        pnZip.SetVisible(false);
        pnZipEnc.SetVisible(true);
        pnZip.SetVisible(zipShown);
    } else {
        pnZipEnc.SetVisible(false);
    }
    cbEncNames.SetEnabled(DestMode > 3);

    if (pcMethod.ActivePage() == kMethodPageZip) {
        cbZipCompress.SetVisible(false);
        cbZipCompress.SetChecked(false);
        pnZip.SetVisible(true);
    } else {
        pnZip.SetVisible(false);
    }

    if (DestMode < 4) {
        cbCompress.SetEnabled(!(cbZipCompress.Checked() && cbEncrypt.Checked()));
    } else {
        // Encrypted zip archives are always compressed.
        cbCompress.SetEnabled(!cbEncrypt.Checked());
        if (!cbCompress.Enabled())
            cbCompress.SetChecked(true);
    }

    const bool noCompList = cbCompress.Checked() && cbCompress.Enabled();
    TypBtn.SetVisible(noCompList);
    lblNoComp.SetVisible(noCompList);
    NoCompList.SetVisible(noCompList);
    cbZipCompress.SetVisible(DestMode < 4 && cbCompress.Checked());

    const bool local = IsLocalCopy();
    EnableOrClear(cbCopySummary, false);
    EnableOrClear(cbAltStreams, local && KeepsUserXattrs(TargetType) && !cbCompress.Checked());
    EnableOrClear(cbCopyPerms, local && KeepsPosixPermissions(TargetType));
}

void TBackupForm::UpdateCryptControls()
{
    pnZip.SetVisible(false);
    cbFixPwd.SetEnabled(cbEncrypt.Checked());
    if (cbEncrypt.Checked()) {
        btnCryptPassword.SetEnabled(cbFixPwd.Checked());
    } else {
        cbFixPwd.SetChecked(false);
        btnCryptPassword.SetEnabled(false);
    }
    EnableOrClear(cbCopySummary, false);
    pnZip.SetVisible(pcMethod.ActivePage() == kMethodPageZip);
}

} // namespace vl
