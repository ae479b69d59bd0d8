#include "core/NetShares.h"

#include "core/Drives.h"
#include "core/Format.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"
#include "platform/Volumes.h"

#include <QRandomGenerator>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <thread>

namespace vl {

namespace {

struct TNetShareState {
    TNetShareSystem System;
    QString ConnectedUser;
    QString ConnectedShare;
    TUserAccount DefaultAccount;
};

TNetShareState &State()
{
    static TNetShareState state;
    return state;
}

QString SysGvfsDir()
{
    const auto &f = State().System.GvfsDir;
    return f ? f() : DefaultGvfsDir();
}

bool SysGioAvailable()
{
    const auto &f = State().System.GioAvailable;
    return f ? f() : GioMountAvailable();
}

uint32_t SysRunGio(const TGioMountRequest &request)
{
    const auto &f = State().System.RunGio;
    return f ? f(request) : RunGioMount(request);
}

void SysPause(int ms)
{
    const auto &f = State().System.Pause;
    if (f)
        f(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool IsNetworkPathText(const QString &path)
{
    return path.startsWith(QLatin1String("//"));
}

// Credential errors are the ones another password may mend.
bool IsCredentialError(uint32_t r)
{
    return r == ERROR_LOGON_FAILURE || r == ERROR_ACCESS_DENIED;
}

// Elements of a path, without empty ones.
QStringList Elements(const QString &s)
{
    return s.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// "smb://server/share" for a share name "//server/share".
QString ShareUri(const QString &share)
{
    const QStringList e = Elements(share);
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    url.setHost(e.value(0));
    url.setPath(QLatin1Char('/') + e.value(1), QUrl::DecodedMode);
    return url.toString(QUrl::FullyEncoded);
}

bool IsShareMounted(const QString &share)
{
    return !ResolveSharePath(share).isEmpty();
}

// gio mount, up to `attempts` runs a second apart while the connection
// breaks off. A mount that gio reports but that gives no local folder is of
// no use.
uint32_t MountShare(const QString &share, const QString &user, const QString &password, bool withPassword,
                    int attempts)
{
    if (!SysGioAvailable())
        return ERROR_SHARE_NOT_MOUNTED;
    uint32_t r = ERROR_SUCCESS;
    for (int i = 0; i < attempts; ++i) {
        if (i > 0)
            SysPause(1000);
        TGioMountRequest request;
        request.Uri = ShareUri(share);
        request.User = user;
        request.Password = password;
        request.WithPassword = withPassword;
        r = SysRunGio(request);
        if (r != ERROR_NETNAME_DELETED)
            break;
    }
    if (r == ERROR_SUCCESS && !IsShareMounted(share))
        r = ERROR_SHARE_NOT_MOUNTED;
    return r;
}

// The source of the network mount that holds a local path; empty when the
// path lies on no network mount.
QString NetworkSourceOf(const QString &path)
{
    TVolume volume;
    return FindPathVolume(ListVolumes(), path, volume) && volume.Network ? volume.Source : QString();
}

// Removes the program's connection at the end of the program.
struct TReleaseAtExit {
    ~TReleaseAtExit() { ReleaseNetworkShare(); }
};
TReleaseAtExit &ReleaseAtExit()
{
    static TReleaseAtExit guard;
    return guard;
}

} // namespace

QString ResolveSharePath(const QString &Path)
{
    if (!IsNetworkPathText(Path))
        return Path;
    TVolume volume;
    QString local;
    if (FindNetworkMount(ListVolumes(), Path, volume, local))
        return local;
    const QStringList path = Elements(Path);
    if (path.size() < 2)
        return QString();
    for (const TGvfsShare &s : ListGvfsShares(SysGvfsDir())) {
        if (s.Server.compare(path[0], Qt::CaseInsensitive) == 0 && s.Share.compare(path[1], Qt::CaseInsensitive) == 0) {
            local = s.Folder;
            for (qsizetype i = 2; i < path.size(); ++i)
                local = JoinPath(local, path[i]);
            return Path.endsWith(QLatin1Char('/')) ? WithTrailingDelimiter(local) : local;
        }
    }
    return QString();
}

int32_t ConnectNetworkShare(const QString &Path, const QString &DefaultUser, const TUserAccount &Account,
                            bool SkipWriteTest, bool Interactive)
{
    TNetShareState &st = State();
    st.ConnectedUser.clear();
    st.ConnectedShare.clear();

    QString share;
    uint32_t r = ERROR_NOT_CONNECTED;
    if (IsNetworkPathText(Path)) {
        share = ExtractFileDrive(Path);
        if (Elements(share).size() < 2)
            return int32_t(ERROR_BAD_NETPATH);
        if (IsShareMounted(share))
            r = ERROR_SUCCESS;
    } else {
        // A local path is connected when it lies on a network mount.
        share = NetworkSourceOf(Path);
        if (share.isEmpty())
            return int32_t(ERROR_NOT_CONNECTED);
        r = ERROR_SUCCESS;
    }

    if (r != ERROR_SUCCESS) {
        if (!Account.Username.isEmpty()) {
            r = MountShare(share, Account.Username, Account.Password, true, 3);
            if (r == ERROR_SUCCESS) {
                st.ConnectedUser = Account.Username;
                ReleaseAtExit();
            }
        } else if (!DefaultUser.isEmpty()) {
            r = MountShare(share, DefaultUser, QString(), false, 3);
        } else {
            r = ERROR_LOGON_FAILURE;
        }
    }

    if (r == ERROR_SUCCESS) {
        st.ConnectedShare = share;
        return 0;
    }
    // Asking for a password cannot help a server that does not exist or a
    // share that cannot be mounted here.
    if (r == ERROR_BAD_NETPATH || r == ERROR_SHARE_NOT_MOUNTED)
        return int32_t(r);

    if (Interactive) {
        QString user = !Account.Username.isEmpty() ? Account.Username : DefaultUser;
        if (user.isEmpty())
            user = LogonUserName();
        const QString prompt =
            GuardedFormat(Tr("Network connection to \"%s\" for user \"%s\" requires a password!"), share, user);
        // Another password is worth asking for only after a credential error.
        do {
            QString password;
            if (!QueryPasswordAt(kDefaultPos, share, prompt, password)) {
                r = ERROR_CANCELLED;
                break;
            }
            r = MountShare(share, user, password, true, 1);
        } while (IsCredentialError(r));
        if (r == ERROR_SUCCESS) {
            st.ConnectedShare = share;
            if (!SkipWriteTest && !TestWriteAccess(share))
                r = ERROR_ACCESS_DENIED;
        }
    }
    return int32_t(r);
}

bool ReconnectNetworkPath(const QString &Path)
{
    if (!IsNetworkPathText(Path))
        return false;
    const QString share = ExtractFileDrive(Path);
    if (Elements(share).size() < 2)
        return false;
    return IsShareMounted(share) || MountShare(share, QString(), QString(), false, 1) == ERROR_SUCCESS;
}

bool IsDriveAvailable(const QString &Path)
{
    if (IsNetworkPathText(Path))
        return IsShareMounted(Path) || ReconnectNetworkPath(Path);
    return GetPathKind(Path) != pkUnknown;
}

bool CanGetDiskSpace(const QString &Path)
{
    const QString local = ResolveSharePath(Path);
    int64_t freeBytes = 0;
    int64_t totalBytes = 0;
    return !local.isEmpty() && DiskSpace(WithTrailingDelimiter(local), freeBytes, totalBytes) == 0;
}

bool TestWriteAccess(const QString &Dir)
{
    const QString dir = ResolveSharePath(Dir);
    if (dir.isEmpty())
        return false;
    // The levels this test creates, deepest first, so they go again.
    QStringList created;
    for (QString level = dir; !level.isEmpty() && !PathExists(level, true);) {
        created << level;
        const QString parent = ParentDirectory(level);
        if (parent == level)
            break;
        level = parent;
    }
    bool ok = created.isEmpty() || MakeDirs(dir) == 0;
    if (ok) {
        // Exclusive creation: a file of the user with the chosen name stays
        // untouched and the next number is taken.
        const uint32_t first = QRandomGenerator::global()->bounded(1000u);
        ok = false;
        for (uint32_t i = 0; i < 1000; ++i) {
            const QString name = GuardedFormat(QStringLiteral("test-%.3u.tmp"), (first + i) % 1000);
            const QString path = JoinPath(dir, name);
            TFile file;
            const uint32_t r = file.Open(path, TFile::faWrite, TFile::fcCreateNew);
            if (r == ERROR_FILE_EXISTS || r == ERROR_ALREADY_EXISTS)
                continue;
            if (r == 0) {
                file.Close();
                RemoveFile(path);
                ok = true;
            }
            break;
        }
    }
    for (const QString &level : created)
        RemoveDir(level);
    return ok;
}

void MakeUserAccount(const QString &User, const QString &Password, TUserAccount &Account)
{
    Account.Username = User;
    Account.Password = Password;
}

void StoreUserAccount(const QString &User, const QString &Password)
{
    MakeUserAccount(User, Password, State().DefaultAccount);
}

QString GetConnectedShare()
{
    return State().ConnectedShare;
}

bool GetConnectedUser(QString &User)
{
    User = State().ConnectedUser;
    return !User.isEmpty();
}

int32_t DisconnectNetworkShare(QString &Share, QString &User)
{
    TNetShareState &st = State();
    Share = st.ConnectedShare;
    User = st.ConnectedUser;
    int32_t r = -1;
    if (!Share.isEmpty() && !User.isEmpty()) {
        TGioMountRequest request;
        request.Uri = ShareUri(Share);
        request.Unmount = true;
        r = int32_t(SysRunGio(request));
        st.DefaultAccount = TUserAccount();
    }
    st.ConnectedShare.clear();
    st.ConnectedUser.clear();
    return r;
}

int32_t ReleaseNetworkShare()
{
    QString share;
    QString user;
    return DisconnectNetworkShare(share, user);
}

void SetNetShareSystem(const TNetShareSystem &ASystem)
{
    State().System = ASystem;
}

} // namespace vl
