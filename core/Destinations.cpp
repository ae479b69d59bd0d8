#include "core/Destinations.h"

#include "core/Drives.h"
#include "core/Format.h"
#include "core/Language.h"
#include "core/MessageService.h"
#include "core/NetShares.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace vl {

namespace {

const QChar kDelimiter = QLatin1Char('/');

// Splits ":LABEL:/rest" into the label and "/rest" ("" for ":LABEL:");
// false for any other text. The same form PathUtils takes as absolute.
bool SplitLabelPath(const QString &path, QString &label, QString &rest)
{
    if (!path.startsWith(QLatin1Char(':')))
        return false;
    const qsizetype close = path.indexOf(QLatin1Char(':'), 1);
    if (close < 2 || path.left(close).contains(kDelimiter))
        return false;
    if (close + 1 < path.size() && path.at(close + 1) != kDelimiter)
        return false;
    label = path.mid(1, close - 1);
    rest = path.mid(close + 1);
    return true;
}

// The path of a local path on its volume, as the rest of a label path:
// "/" + the folder of the file system mounted there + the path below the
// mount point.
QString PathOnVolume(const QString &path, const TVolume &volume)
{
    QStringList parts = volume.FsRoot.split(kDelimiter, Qt::SkipEmptyParts);
    const QStringList pathParts = path.split(kDelimiter, Qt::SkipEmptyParts);
    parts += pathParts.mid(volume.MountPoint.split(kDelimiter, Qt::SkipEmptyParts).size());
    QString rest = kDelimiter + parts.join(kDelimiter);
    if (path.endsWith(kDelimiter) && !rest.endsWith(kDelimiter))
        rest += kDelimiter;
    return rest;
}

QString FreeOfText(int64_t freeBytes, int64_t totalBytes)
{
    return QStringLiteral(" (") + ByteSizeText(true, freeBytes) + Tr(" free of ") + ByteSizeText(true, totalBytes)
        + QLatin1Char(')');
}

// The kind of Dest, with one attempt to reconnect a network path that is
// not reachable.
int32_t PathKindReconnecting(const QString &Dest)
{
    int32_t kind = GetPathKind(Dest);
    if (kind == pkUnknown && ReconnectNetworkPath(Dest))
        kind = GetPathKind(Dest);
    return kind;
}

} // namespace

// ---- Volume-label paths ----

int ResolveVolumeLabelPath(QString &Path, QString &VolLabel, bool Prompt)
{
    VolLabel.clear();
    if (Path.isEmpty())
        return 2;
    QString label, rest;
    if (!SplitLabelPath(Path, label, rest))
        return 0;
    for (;;) {
        const QString target = VolumeLabelTarget(label, rest.isEmpty() ? QString(kDelimiter) : rest);
        if (!target.isEmpty()) {
            Path = target;
            VolLabel = label;
            return 1;
        }
        if (!Prompt
            || !ConfirmRetryBox(GuardedFormat(Tr("Volume %s not found!\nPlease insert medium!"),
                                              QLatin1Char('"') + label + QLatin1Char('"'))))
            return 2;
    }
}

QString ResolvedVolumePath(const QString &Path, bool Prompt)
{
    QString path = Path;
    QString label;
    return ResolveVolumeLabelPath(path, label, Prompt) == 1 ? path : Path;
}

bool IsVolumeLabelPathAvailable(const QString &Path)
{
    QString path = Path;
    QString label;
    return ResolveVolumeLabelPath(path, label, false) != 2;
}

QString ToggleVolumeLabelPath(const QString &Path)
{
    QString path = Path;
    QString label;
    switch (ResolveVolumeLabelPath(path, label, true)) {
    case 1:
        return path;
    case 2:
        return QString();
    default:
        break;
    }
    TVolume volume;
    QString local;
    const bool found = GetPathVolume(Path, volume, local);
    if (found && IsLocalPath(Path) && !volume.Label.trimmed().isEmpty())
        return QLatin1Char(':') + volume.Label.trimmed() + QLatin1Char(':') + PathOnVolume(Path, volume);
    ShowErrorBoxAt(kDefaultPos,
                   Tr("No volume name available for ") + (found ? volume.MountPoint : ExtractFileDrive(Path)),
                   TDefaultMonitor::dmActiveForm);
    return QString();
}

QString PathWithVolumeLabel(const QString &Path, const QString &VolLabel)
{
    TVolume volume;
    QString local;
    if (VolLabel.isEmpty() || !IsLocalPath(Path) || !GetPathVolume(Path, volume, local))
        return Path;
    return QLatin1Char(':') + VolLabel + QLatin1Char(':') + PathOnVolume(Path, volume);
}

QString ApplyDriveMapping(const QString &Path, const QString &Mapping)
{
    const qsizetype eq = Mapping.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq + 1 >= Mapping.size())
        return Path;
    QString folder = Mapping.left(eq);
    const QString replacement = Mapping.mid(eq + 1);
    while (folder.size() > 1 && folder.endsWith(kDelimiter))
        folder.chop(1);
    if (Path == folder)
        return replacement;
    if (!Path.startsWith(WithTrailingDelimiter(folder)))
        return Path;
    // A snapshot holds only the file system mounted at the folder: another
    // one mounted below it shows there as an empty folder, so its paths are
    // read live. (Paths that cannot be examined are mapped as given.)
    thread_local QString statFolder;
    thread_local uint64_t folderDev = 0;
    thread_local bool haveFolderDev = false;
    if (statFolder != folder) {
        TStatInfo st;
        statFolder = folder;
        haveFolderDev = StatPath(folder, true, st) == 0;
        folderDev = st.Dev;
    }
    TStatInfo st;
    if (haveFolderDev && StatPath(Path, false, st) == 0 && st.Dev != folderDev)
        return Path;
    return JoinPath(replacement, Path.mid(WithTrailingDelimiter(folder).size()));
}

// ---- Destination layout ----

QString BuildTargetDir(int Mode, const QString &DriveId, const QString &Dest, const QString &SourceDir)
{
    QString target = WithTrailingDelimiter(Dest);
    switch (Mode) {
    case 0:
    case 4:
    case 5:
    case 6:
        // A source without drive has no drive subfolder; it is all path.
        if (!ExtractFileDrive(SourceDir).isEmpty())
            target += DriveSubdirName(DriveId, SourceDir);
        target += PathBelowDrive(SourceDir);
        break;
    case 1:
    case 7:
        target += PathBelowDrive(SourceDir);
        break;
    case 3:
        target += LastPathElement(SourceDir);
        break;
    default:
        break;
    }
    return target;
}

QString GetDefaultDriveId()
{
    return CurrentLangCode().compare(QStringLiteral("de"), Qt::CaseInsensitive) == 0 ? QStringLiteral("Lw?")
                                                                                    : QStringLiteral("Drv?");
}

QString DriveSubdirName(const QString &DriveId, const QString &Drive)
{
    QString name;
    const QString drive = ExtractFileDrive(Drive);
    if (drive.startsWith(QStringLiteral("//"))) {
        name = drive.mid(2);
    } else if (drive.isEmpty()) {
        name = Drive;
    } else {
        const QString driveName = DriveNameOfPath(Drive);
        name = DriveId.contains(QLatin1Char('?')) ? QString(DriveId).replace(QLatin1Char('?'), driveName)
                                                  : DriveId + driveName;
    }
    return WithTrailingDelimiter(name);
}

QString DriveLetterFromSubdir(const QString &SubdirName, const QString &DriveId)
{
    if (!DriveId.contains(QLatin1Char('?')))
        return QString();
    QString subdir = SubdirName;
    if (subdir.endsWith(kDelimiter))
        subdir.chop(1);
    // Every "?" stands for the same name.
    const QStringList parts = DriveId.split(QLatin1Char('?'));
    QString pattern = QRegularExpression::escape(parts.first()) + QStringLiteral("(.+)");
    for (qsizetype i = 1; i < parts.size(); ++i)
        pattern += (i > 1 ? QStringLiteral("\\1") : QString()) + QRegularExpression::escape(parts[i]);
    const QRegularExpression re(QRegularExpression::anchoredPattern(pattern),
                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(subdir);
    return m.hasMatch() && !m.captured(1).contains(kDelimiter) ? m.captured(1) : QString();
}

// ---- File system and status ----

TFileSystem GetFileSystemType(const QString &Path)
{
    QString path = Path;
    QString label;
    if (ResolveVolumeLabelPath(path, label, false) == 2)
        path.clear();
    if (path.isEmpty())
        return TFileSystem::fsNotAvail;
    switch (GetPathKind(path)) {
    case pkNetwork:
        return TFileSystem::fsRemote;
    case pkUnknown:
        return TFileSystem::fsNotAvail;
    case pkNoDrive:
        path = AbsolutePath(QDir::currentPath(), path);
        break;
    default:
        break;
    }
    QString name;
    GetFileSystemName(path, name);
    name = name.trimmed().toLower();
    if (name.isEmpty() || name == QStringLiteral("ltfs") || name.endsWith(QStringLiteral(".ltfs")))
        return TFileSystem::fsLtfs;
    if (name == QStringLiteral("ntfs") || name == QStringLiteral("ntfs3") || name == QStringLiteral("fuseblk"))
        return TFileSystem::fsNtfs;
    if (name == QStringLiteral("exfat"))
        return TFileSystem::fsExtFat;
    if (name.contains(QStringLiteral("cryptomator")))
        return TFileSystem::fsCryptomat;
    if (name == QStringLiteral("ext2") || name == QStringLiteral("ext3") || name == QStringLiteral("ext4"))
        return TFileSystem::fsExt4;
    if (name == QStringLiteral("refs"))
        return TFileSystem::fsReFS;
    if (name == QStringLiteral("btrfs"))
        return TFileSystem::fsBTRFS;
    if (name == QStringLiteral("vfat") || name == QStringLiteral("msdos") || name == QStringLiteral("fat")
        || name == QStringLiteral("iso9660") || name == QStringLiteral("udf"))
        return TFileSystem::fsFat;
    // Any other Linux file system (xfs, f2fs, zfs, tmpfs, ...) keeps POSIX
    // names, permissions, large files and exact times: it must not get the
    // limits of FAT (files from 4 GiB on would be left out).
    return TFileSystem::fsExt4;
}

QString FileSystemText(TFileSystem FS)
{
    switch (FS) {
    case TFileSystem::fsNotAvail:
        return QStringLiteral("n/a");
    case TFileSystem::fsNtfs:
        return QStringLiteral("NTFS");
    case TFileSystem::fsExtFat:
        return QStringLiteral("exFAT");
    case TFileSystem::fsLtfs:
        return QStringLiteral("LTFS");
    case TFileSystem::fsRemote:
        return QStringLiteral("Remote");
    case TFileSystem::fsReFS:
        return QStringLiteral("ReFS");
    case TFileSystem::fsBTRFS:
        return QStringLiteral("BTRFS");
    case TFileSystem::fsCryptomat:
        return QStringLiteral("CryptomatorFS");
    case TFileSystem::fsExt4:
        return QStringLiteral("Ext4");
    default:
        return QStringLiteral("FAT/FAT32");
    }
}

QString GetDestinationStatus(const QString &Dest, uint8_t &Kind)
{
    const QString notAvailable = Tr("Backup destination not available");
    const QString local = Tr("Backup destination on local drive");
    QString path = Dest;
    QString label;
    switch (ResolveVolumeLabelPath(path, label, false)) {
    case 2:
        Kind = 2;
        return notAvailable;
    case 1: {
        int64_t freeBytes, totalBytes;
        GetDiskSpace(path, freeBytes, totalBytes);
        Kind = 0;
        return local + QLatin1Char(' ') + path + FreeOfText(freeBytes, totalBytes);
    }
    default:
        break;
    }
    switch (PathKindReconnecting(Dest)) {
    case pkNetwork:
        Kind = 1;
        return Tr("Backup destination on server");
    case pkUnknown:
        Kind = 2;
        return notAvailable;
    case pkNoDrive:
        path = QStringLiteral(".");
        break;
    default:
        path = Dest;
        break;
    }
    int64_t freeBytes, totalBytes;
    GetDiskSpace(path, freeBytes, totalBytes);
    Kind = 0;
    return local + FreeOfText(freeBytes, totalBytes);
}

QString DestinationStatusText(const QString &Dest)
{
    uint8_t kind;
    return GetDestinationStatus(Dest, kind);
}

bool ConnectDestinationAs(const QString &Caption, const QString &User, const QString &Password, bool Quiet,
                          QString &Dest)
{
    QString label;
    if (ResolveVolumeLabelPath(Dest, label, !Quiet) == 2)
        return false;
    switch (PathKindReconnecting(Dest)) {
    case pkUnknown:
        return false;
    case pkRemovable:
        return IsVolumeReady(Dest);
    case pkNetwork:
        break;
    default:
        return true;
    }
    QString password = Password;
    if (!User.isEmpty() && password.isEmpty()) {
        if (!QueryPasswordAt(kDefaultPos, Caption,
                             GuardedFormat(Tr("Network connection to \"%s\" for user \"%s\" requires a password!"),
                                           Dest, User),
                             password))
            return false;
        StoreUserAccount(User, password);
    }
    TUserAccount account;
    MakeUserAccount(User, password, account);
    return ConnectNetworkShare(Dest, CurrentUserName, account, false, !Quiet) == 0;
}

bool ConnectDestination(const QString &Caption, QString &Dest, bool Quiet)
{
    return ConnectDestinationAs(Caption, QString(), QString(), Quiet, Dest);
}

bool IsRemovableDrive(const QString &Path)
{
    const uint32_t kind = GetDriveKind(Path);
    return kind == dkRemovable || kind == dkNoRoot;
}

bool IsBackupInfoFile(bool Check, const QString &FileName)
{
    if (!Check)
        return false;
    const QString name = LastPathElement(FileName);
    return name.compare(QLatin1String(kTimeStampFileName), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String(kVssBackupDocName), Qt::CaseInsensitive) == 0;
}

bool IsLinkInfoFile(const QString &FileName)
{
    return ExtensionOf(FileName).compare(QLatin1String(kLinkInfoExt), Qt::CaseInsensitive) == 0;
}

int CryptModeForPassword(const QString &Password)
{
    if (Password.isEmpty())
        return 0;
    return Password.size() > 15 ? 3 : 1;
}

// ---- Free space of a network destination ----

TNetGetVolThread::TNetGetVolThread(const QString &ANetPath, TNotifyEvent AOnTerminate)
    : fPath(ANetPath), FOnTerminate(std::move(AOnTerminate))
{
}

std::shared_ptr<TNetGetVolThread> TNetGetVolThread::Create(const QString &ANetPath, TNotifyEvent AOnTerminate)
{
    auto thread = std::make_shared<TNetGetVolThread>(ANetPath, std::move(AOnTerminate));
    thread->Start();
    return thread;
}

void TNetGetVolThread::Execute()
{
    int64_t freeBytes, totalBytes;
    const bool success = GetDiskSpace(WithTrailingDelimiter(fPath), freeBytes, totalBytes);
    // An abandoned worker writes nothing: its owner has moved on.
    if (Cancelled())
        return;
    nFree = freeBytes;
    nTotal = totalBytes;
    fSuccess = success;
    if (FOnTerminate) {
        std::shared_ptr<TNetGetVolThread> self = std::static_pointer_cast<TNetGetVolThread>(shared_from_this());
        Queue([self] { self->FOnTerminate(*self); });
    }
}

bool MeasureDiskSpace(const QString &Path, int TimeoutMs, int64_t &FreeBytes, int64_t &TotalBytes)
{
    FreeBytes = TotalBytes = 0;
    const std::shared_ptr<TNetGetVolThread> thread = TNetGetVolThread::Create(Path, nullptr);
    if (!thread->WaitFor(TimeoutMs)) {
        thread->Abandon();
        return false;
    }
    if (!thread->fSuccess)
        return false;
    FreeBytes = thread->nFree;
    TotalBytes = thread->nTotal;
    return true;
}

} // namespace vl
