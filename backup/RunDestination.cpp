// The destination of a run made usable: the FTP connection with its remote
// directory, or the local or network folder (volume label, share, medium,
// write test), and the report of a destination that is not ready.
#include "backup/RunContext.h"

#include "backup/FtpSettings.h"
#include "backup/MainServices.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Format.h"
#include "core/NetShares.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "engine/FtpUtils.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"
#include "ui/CertificateDialog.h"

#include <QDir>

namespace vl {

namespace {

const QString kArrow = QStringLiteral("   => ");
const QString kError = QStringLiteral("  *** ");
const QString kSix = QStringLiteral("      ");

QString EncodingName(TFtpEncoding AEncoding)
{
    switch (AEncoding) {
    case TFtpEncoding::feASCII:
        return QStringLiteral("ASCII");
    case TFtpEncoding::feUtf8:
        return QStringLiteral("UTF-8");
    default:
        return QStringLiteral("8-bit");
    }
}

} // namespace

bool TBackupForm::ConfirmFtpCertificate(const TCerticateInfo &ACertInfo)
{
    return ConfirmServerCertificate(ACertInfo);
}

QString TBackupForm::DestinationDriveText(const QString &APath)
{
    // A medium that is not mounted has no drive of its own yet: its folder
    // tells the user more than "/".
    const QString drive = DriveOfPath(APath);
    return drive.isEmpty() || drive == QStringLiteral("/") ? APath : drive;
}

bool TBackupForm::WaitForMedium(const QString &APath)
{
    QString label;
    if (GetVolumeLabel(APath, label))
        return true;
    const QString hint =
        GuardedFormat(Tr("Drive \"%s\" not ready!\r\nPlease insert medium!"), DestinationDriveText(APath));
    while (ConfirmRetryBox(hint)) {
        if (GetVolumeLabel(APath, label))
            return true;
    }
    return false;
}

bool TBackupForm::AskFtpPassword(TRunContext &R, const QString &AText, QByteArray &APwd)
{
    if (EnterAnsiPasswordAt(kDefaultPos, Tr("FTP connection"), AText, false, APwd) == mrOk)
        return true;
    // Without a display the question had no answer: say so, and the run
    // must not look like one that completed.
    const QString why = !PasswordsCanBeAsked() ? Tr("No FTP password available for an unattended run")
                                              : Tr("Canceled by user");
    WriteToLog(1, kError + why);
    if (R.StatusText.isEmpty())
        R.StatusText = why;
    return false;
}

void TBackupForm::SetUpFtpDestination(TRunContext &R)
{
    R.DestDir = BaseDest;
    TCertInfos certs;
    GetCertInfos(certs);
    FTP = std::make_shared<TExtFtp>(certs.CertDir, certs.RootCertFile, certs.CertFile, certs.KeyFile,
                                    certs.Password.toLatin1());
    const QString fallback = ProgramTempDir.isEmpty() ? GetProgramTempDir() : ProgramTempDir;
    FTP->SetTempDir(WithTrailingDelimiter(ChooseFolder(VlSettings.Directories.TempDir, fallback)));
    if (FtpPar.SecureMode > 0) {
        if (FTP->CanUseTls()) {
            WriteToLog(2, kArrow + Tr("Using secure connection (TLS)"));
        } else {
            const QString pattern = Tr("Requested secure connection is not available%son connection with \"%s\"!");
            WriteToLog(1, kError + GuardedFormat(pattern, QStringLiteral(" "), FtpPar.Host));
            AddToMail(MailMode, kError + GuardedFormat(pattern, QStringLiteral("\r\n"), FtpPar.Host));
        }
    }
    FTP->SetLogname(WithTrailingDelimiter(GetLogFolder()) + QStringLiteral("VlFtp.log"));
    FTP->SetParams(FtpPar);
    FTP->OnConfirmCert = [this](const TCerticateInfo &AInfo) { return ConfirmFtpCertificate(AInfo); };

    bool goOn = true;
    QByteArray pwd = FtpPar.Password;
    if (!FTP->Username.isEmpty() && pwd.isEmpty())
        goOn = AskFtpPassword(
            R,
            GuardedFormat(Tr("Connection to FTP server: %s:%u\r\nfor user: %s\r\nrequires a password!"), FtpPar.Host,
                          FtpPar.Port, FTP->Username),
            pwd);
    FTP->Password = pwd;
    if (goOn && FtpPar.Proxy.Mode != TIdFtpProxyType::fpcmNone) {
        TFtpProxySettings &proxy = FTP->ProxySettings;
        proxy.ProxyType = FtpPar.Proxy.Mode;
        proxy.Host = FtpPar.Proxy.Server;
        proxy.Port = uint16_t(FtpPar.Proxy.Port & 0xFFFF);
        proxy.UserName = FtpPar.Proxy.Username;
        // An entered proxy password stays with this run's client: the task
        // keeps only what its user chose to store.
        QByteArray proxyPwd = FtpPar.Proxy.Password;
        if (!proxy.UserName.isEmpty() && proxyPwd.isEmpty())
            goOn = AskFtpPassword(R,
                                  GuardedFormat(Tr("Connection to FTP proxy server: %s:%u\r\nfor user: %s\r\n"
                                                   "requires a password!"),
                                                FtpPar.Proxy.Server, FtpPar.Proxy.Port, FtpPar.Proxy.Username),
                                  proxyPwd);
        proxy.Password = proxyPwd;
    }

    ProgressWindow().SetDestination(BaseDest);
    ProgressWindow().SetPrompt(Tr("Trying to connect to FTP server"));
    ProcessMessages();
    if (!goOn)
        return;

    if (FTP->Username.isEmpty())
        FTP->Username = QStringLiteral("anonymous");
    WriteToLog(2, kArrow + Tr("Trying to connect to FTP server") + QStringLiteral(": ") + FtpDestinationUrl(FtpPar));
    bool connected = false;
    try {
        connected = FTP->DoConnect(FtpPar.ConnAttempts, true);
    } catch (const std::exception &) {
        connected = false; // the client keeps its error text
    }
    if (!connected) {
        BuMainForm().SetExitCode(2, R.Nr);
        const QString failed = Tr("Connection to FTP server failed");
        ProgressWindow().SetPrompt(kError + failed);
        AddToMail(MailMode, kError + failed);
        WriteToLog(1, kError + failed + QStringLiteral(" (") + FTP->GetIndyError() + QLatin1Char(')'));
        R.StatusText = failed;
        return;
    }

    ProgressWindow().SetPrompt(Tr("Connection to FTP server established"));
    WriteToLog(2, kArrow + Tr("Connection to FTP server established"));
    WriteToLog(2, kArrow + Tr("User name: ") + FTP->Username);
    if (CurrentLogMode() == 3) {
        // A connect succeeds only after the 220 greeting.
        if (!FTP->ServerDescription().isEmpty()) {
            WriteToLog(3, kArrow + Tr("FTP welcome message:"));
            WriteToLog(3, kSix + FTP->ServerDescription());
        }
        try {
            const int32_t code = FTP->SendCmd(QStringLiteral("STAT"));
            if (code != 500) {
                WriteToLog(3, kArrow + Tr("FTP status query:"));
                WriteToLog(3, kSix + Tr("Response code: ") + QString::number(code));
                for (const QString &line : FTP->LastReplyLines())
                    WriteToLog(3, kSix + line);
            }
        } catch (const std::exception &) {
            // Only a report: the directory steps below find a broken link.
        }
        WriteToLog(3, kArrow + Tr("Supported features: ") + FTP->GetCapabilitiesString());
    }
    ProcessMessages();
    QString d = ExpandDestPlaceHolders(FtpPar.Directory, GetSourceVolumeName(), BackupCount);
    if (FtpPar.WriteLog)
        LastFtpEncoding = EncodingName(FTP->GetEncoding());

    const QString notCreated = Tr("Could not create directory: \"%s\"");
    bool ok = FTP->SetRemoteDir(d);
    if (ok) {
        if (BuDir.isEmpty()) {
            WriteToLog(3, kSix + QStringLiteral("=> ") + Tr("Directory") + QStringLiteral(": ") + d);
        } else if (HasAbsolutePath(BuDir)) {
            WriteToLog(1, kError + Tr("Invalid FTP destination directory: ") + BuDir);
        } else {
            // Below the directory just entered (also when that is the
            // login directory, which an absolute path would miss).
            d = JoinFtpPath(d, BuDir);
            R.DestDir += QLatin1Char('/') + BuDir;
            ok = FTP->ForceDir(BuDir);
            if (ok)
                WriteToLog(3, kArrow + Tr("Directory") + QStringLiteral(": ") + d);
            else
                WriteErrorToLog(QStringLiteral("B"), GuardedFormat(notCreated, d),
                                Tr("Response code: ") + QString::number(FTP->LastResponseCode()), QString());
        }
    } else {
        AddToMail(MailMode, kError + GuardedFormat(notCreated, d));
        WriteErrorToLog(QStringLiteral("B"), GuardedFormat(notCreated, d),
                        Tr("Response code: ") + QString::number(FTP->LastResponseCode()), QString());
    }
    if (ok) {
        R.FtpBaseDir = FTP->GetCurrentDir();
        R.DestReady = true;
    } else {
        R.StatusText = GuardedFormat(Tr("Could not create directory:\r\n\"%s\""), d);
    }
}

void TBackupForm::SetUpLocalDestination(TRunContext &R)
{
    QString x = BaseDest;
    if (!BuDir.isEmpty())
        x = HasAbsolutePath(BuDir) ? BuDir : WithTrailingDelimiter(x) + BuDir;
    ProgressWindow().SetLockStatus(1);
    QString label;
    QString m;
    bool ready = false;
    int kind = 0;
    const QString source = SelectedDirBox.Count() > 0 ? SelectedDirBox.Objects(0).SPath : QString();
    const auto writeTest = [&] {
        ready = TestDestinationAccess(x, source);
        if (!ready)
            m = GuardedFormat(Tr("Could not write to path \"%s\"!"), x);
    };
    const auto driveNotReady = [&] { m = GuardedFormat(Tr("Drive \"%s\" not ready!"), DestinationDriveText(x)); };

    switch (ResolveVolumeLabelPath(x, label, R.MayAsk)) {
    case 1:
        writeTest();
        break;
    case 2:
        ready = false;
        break;
    default: {
        kind = GetPathKind(x);
        bool reconnected = false;
        if (kind == pkUnknown) {
            reconnected = ReconnectNetworkPath(x);
            ready = reconnected;
            kind = GetPathKind(x);
        }
        switch (kind) {
        case pkNetwork: {
            QString pwd = UserPwd;
            bool connect = true;
            if (!UserAccount.isEmpty() && pwd.isEmpty() && R.AutoClose == 0)
                connect = QueryPasswordAt(
                    kDefaultPos, WindowCaption(Tr("Backup task"), LoadedTaskName),
                    GuardedFormat(Tr("Network connection to \"%s\" for user \"%s\" requires a password!"), x,
                                  UserAccount),
                    pwd);
            // A cancelled question attempted no connection: its text is
            // that of a cancelled operation.
            uint32_t code = ERROR_CANCELLED;
            if (connect) {
                TUserAccount account;
                MakeUserAccount(UserAccount, pwd, account);
                code = uint32_t(ConnectNetworkShare(x, CurrentUserName, account, false, R.AutoClose == 0));
            }
            ready = IsNoError(code);
            if (ready) {
                // The engine writes through the share's mount.
                const QString local = ResolveSharePath(x);
                if (!local.isEmpty())
                    x = local;
            } else {
                m = Tr("Error connecting to network resource: ") + SystemErrorText(code);
            }
            break;
        }
        case pkNoDrive:
            // Relative to the program's current directory at the start.
            x = WithTrailingDelimiter(QDir::currentPath()) + x;
            writeTest();
            break;
        case pkRemovable:
            ready = GetVolumeLabel(x, label) || (R.MayAsk && WaitForMedium(x));
            if (!ready)
                driveNotReady();
            break;
        case pkUnknown:
            ready = !reconnected && R.MayAsk && WaitForMedium(x);
            if (!ready)
                driveNotReady();
            break;
        default:
            writeTest();
            break;
        }
    }
    }

    if (ready && !ForceDestDirectory(x, QStringLiteral("B"), false)) {
        ready = false;
        m = GuardedFormat(Tr("Could not write to path \"%s\"!"), x);
    }
    if (!m.isEmpty())
        WriteToLog(1, kError + m);
    R.DestDir = x;
    R.DestReady = ready;
    if (!ready)
        return;

    TargetType = GetFileSystemType(x);
    QString v;
    if (kind == pkNetwork)
        v = GetConnectedShare();
    else
        GetVolumeName(x, v);
    if (!v.isEmpty())
        v += QStringLiteral(" - ");
    v += ByteSizeText(false, GetFreeDiskSpace(x)) + Tr(" free of ") + ByteSizeText(false, GetTotalDiskSpace(x));
    const QString volLine = QStringLiteral("  ") + Tr("Destination volume: ") + v;
    AddToMail(MailMode, volLine);
    WriteToLog(1, volLine);
    WriteToLog(2, QStringLiteral("  ") + Tr("File system: ") + FileSystemText(TargetType));
    QString user;
    if (GetConnectedUser(user))
        WriteToLog(1, QStringLiteral("  ==> ") + GuardedFormat(Tr("Connected as \"%s\""), user));
    else
        WriteToLog(2, QStringLiteral("  ") + UserNameText());
}

void TBackupForm::SetUpRunDestination(TRunContext &R)
{
    R.DestReady = false;
    if (BuFtp)
        SetUpFtpDestination(R);
    else
        SetUpLocalDestination(R);
    if (R.DestReady)
        return;
    // No cycle step follows to release the window's buttons.
    ProgressWindow().SetLockStatus(0);
    BuMainForm().SetExitCode(2, R.Nr);
    if (BuFtp) {
        const QString line = QStringLiteral("  ==> ") + GuardedFormat(Tr("FTP server: %s"), R.DestDir);
        AddToMail(MailMode, line);
        WriteToLog(1, line);
    } else {
        const QString text = GuardedFormat(Tr("Directory \"%s\" not available for backup!"), R.DestDir);
        AddToMail(MailMode, kError + text);
        WriteToLog(1, kError + text);
        R.StatusText = text;
    }
}

} // namespace vl
