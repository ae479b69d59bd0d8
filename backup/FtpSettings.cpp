#include "backup/FtpSettings.h"

#include "core/Format.h"
#include "core/IniFile.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "engine/PasswordCipher.h"

#include <ctime>

namespace vl {
namespace {

const QString kProxySection = QStringLiteral("Proxy");
// TimeOffset is stored shifted so that negative offsets stay positive; the
// flag sits above the 12 bits of the shifted value.
constexpr int32_t kTimeOffsetShift = 720;
constexpr int32_t kUseTimeOffsetBit = 0x1000;

int32_t LocalUtcOffsetMinutes()
{
    tzset();
    const time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local))
        return 0;
    return int32_t(local.tm_gmtoff / 60);
}

// The writer puts ReplChar in double quotes (inner quotes doubled) exactly
// when it holds a blank, and an unquoted value never holds one: so a stored
// value with a blank that is such a quoted form is taken without its quotes.
QString ReplCharFromStored(const QString &AStored)
{
    const qsizetype n = AStored.size();
    if (n < 2 || !AStored.contains(QLatin1Char(' ')) || AStored.front() != QLatin1Char('"')
        || AStored.back() != QLatin1Char('"'))
        return AStored;
    QString inner;
    for (qsizetype i = 1; i < n - 1; ++i) {
        if (AStored[i] == QLatin1Char('"')) {
            if (i + 1 >= n - 1 || AStored[i + 1] != QLatin1Char('"'))
                return AStored; // a lone quote: not the writer's form
            ++i;
        }
        inner += AStored[i];
    }
    return inner;
}

} // namespace

void ResetFtpParams(TFtpParams &AFtpPar)
{
    AFtpPar.Host.clear();
    AFtpPar.Username.clear();
    AFtpPar.Password.clear();
    AFtpPar.Directory.clear();
    AFtpPar.Fingerprint.clear();
    AFtpPar.InvalidChars.clear();
    AFtpPar.Port = 21;
    AFtpPar.SecureMode = 0;
    AFtpPar.UseTimeOffset = false;
    AFtpPar.TimeOffset = LocalUtcOffsetMinutes();
    AFtpPar.ConnTimeout = 60000;
    AFtpPar.ConnAttempts = 1;
    AFtpPar.ResponseTimeOut = 60000;
    AFtpPar.CertVerify = 0;
    AFtpPar.KeepAlive = 0;
    AFtpPar.KeepAliveCmd = 0;
    AFtpPar.Passive = true;
    AFtpPar.ForceUtf8 = false;
    AFtpPar.UseIPv6 = false;
    AFtpPar.UseExts = false;
    AFtpPar.UseOpts = false;
    AFtpPar.UseHost = false;
    AFtpPar.WriteLog = false;
    AFtpPar.Quotes = false;
    AFtpPar.CaseMode = TTextChange::tcNone;
    AFtpPar.Proxy.Server.clear();
    AFtpPar.Proxy.Username.clear();
    AFtpPar.Proxy.Password.clear();
    AFtpPar.Proxy.Port = 2121;
    AFtpPar.Proxy.Mode = TIdFtpProxyType::fpcmNone;
}

void LoadFtpParamsFromIni(const TUnicodeIniFile &AIniFile, const QString &ASection, TFtpParams &AFtpPar)
{
    const QString &s = ASection;
    AFtpPar.Host = AIniFile.ReadString(s, QStringLiteral("Host"), QString());
    AFtpPar.Port = AIniFile.ReadInteger(s, QStringLiteral("Port"), 21);
    AFtpPar.Username = AIniFile.ReadString(s, QStringLiteral("Username"), QString());
    AFtpPar.Password = PasswordFromStoredText(AIniFile.ReadString(s, QStringLiteral("Password"), QString()));
    AFtpPar.Directory = AIniFile.ReadString(s, QStringLiteral("SubDir"), QString());
    AFtpPar.SecureMode = AIniFile.ReadInteger(s, QStringLiteral("UseFTPS"), 0);
    AFtpPar.Passive = AIniFile.ReadBool(s, QStringLiteral("Passive"), true);
    AFtpPar.ForceUtf8 = AIniFile.ReadBool(s, QStringLiteral("ForceUtf8"), false);
    AFtpPar.UseIPv6 = AIniFile.ReadBool(s, QStringLiteral("UseIPv6"), false);
    AFtpPar.UseOpts = AIniFile.ReadBool(s, QStringLiteral("UseOpts"), false);
    AFtpPar.UseExts = AIniFile.ReadBool(s, QStringLiteral("UseExtensions"), false);
    AFtpPar.UseHost = AIniFile.ReadBool(s, QStringLiteral("UseHost"), false);
    const int32_t offset =
        AIniFile.ReadInteger(s, QStringLiteral("TimeOffset"), AFtpPar.TimeOffset + kTimeOffsetShift);
    AFtpPar.UseTimeOffset = (offset & kUseTimeOffsetBit) != 0;
    AFtpPar.TimeOffset = (offset & 0xFFF) - kTimeOffsetShift;
    AFtpPar.ConnAttempts = AIniFile.ReadInteger(s, QStringLiteral("Retry"), 1);
    // Older files have no ConnTimeout: it follows the response time-out
    // read so far.
    AFtpPar.ConnTimeout = AIniFile.ReadInteger(s, QStringLiteral("ConnTimeout"), AFtpPar.ResponseTimeOut);
    AFtpPar.ResponseTimeOut = AIniFile.ReadInteger(s, QStringLiteral("Timeout"), 60000);
    AFtpPar.CertVerify = AIniFile.ReadInteger(s, QStringLiteral("PeerVerify"), 0);
    AFtpPar.Fingerprint = AIniFile.ReadString(s, QStringLiteral("PeerFingerprint"), QString());
    AFtpPar.KeepAlive = AIniFile.ReadInteger(s, QStringLiteral("KeepAlive"), 0);
    AFtpPar.WriteLog = AIniFile.ReadBool(s, QStringLiteral("LogFile"), false);
    const int32_t caseMode = AIniFile.ReadInteger(s, QStringLiteral("ChangeNames"), int(TTextChange::tcLower));
    AFtpPar.CaseMode = caseMode >= int(TTextChange::tcNone) && caseMode <= int(TTextChange::tcUpper)
                           ? TTextChange(caseMode)
                           : TTextChange::tcNone;
    AFtpPar.InvalidChars = ReplCharFromStored(AIniFile.ReadString(s, QStringLiteral("ReplChar"), QString()));
    AFtpPar.Quotes = AIniFile.ReadBool(s, QStringLiteral("Quotes"), false);

    AFtpPar.Proxy.Server = AIniFile.ReadString(kProxySection, QStringLiteral("Server"), QString());
    AFtpPar.Proxy.Port = AIniFile.ReadInteger(kProxySection, QStringLiteral("Port"), 2121);
    AFtpPar.Proxy.Username = AIniFile.ReadString(kProxySection, QStringLiteral("Username"), QString());
    AFtpPar.Proxy.Password = PasswordFromStoredText(AIniFile.ReadString(kProxySection, QStringLiteral("Password"), QString()));
    const int32_t mode = AIniFile.ReadInteger(kProxySection, QStringLiteral("ProxyType"), 0);
    AFtpPar.Proxy.Mode = mode >= 0 && mode <= int(TIdFtpProxyType::fpcmCustomProxy) ? TIdFtpProxyType(mode)
                                                                                     : TIdFtpProxyType::fpcmNone;
}

void SaveFtpParamsToIni(TUnicodeIniFile &AIniFile, const QString &ASection, const TFtpParams &AFtpPar)
{
    const QString &s = ASection;
    AIniFile.EraseSection(s);
    AIniFile.WriteString(s, QStringLiteral("Host"), AFtpPar.Host);
    AIniFile.WriteInteger(s, QStringLiteral("Port"), AFtpPar.Port);
    AIniFile.WriteString(s, QStringLiteral("Username"), AFtpPar.Username);
    AIniFile.WriteString(s, QStringLiteral("Password"), StoredPasswordText(AFtpPar.Password));
    AIniFile.WriteString(s, QStringLiteral("SubDir"), AFtpPar.Directory);
    AIniFile.WriteInteger(s, QStringLiteral("UseFTPS"), AFtpPar.SecureMode);
    AIniFile.WriteBool(s, QStringLiteral("Passive"), AFtpPar.Passive);
    AIniFile.WriteBool(s, QStringLiteral("ForceUtf8"), AFtpPar.ForceUtf8);
    AIniFile.WriteBool(s, QStringLiteral("UseIPv6"), AFtpPar.UseIPv6);
    AIniFile.WriteBool(s, QStringLiteral("UseOpts"), AFtpPar.UseOpts);
    AIniFile.WriteBool(s, QStringLiteral("UseExtensions"), AFtpPar.UseExts);
    AIniFile.WriteBool(s, QStringLiteral("UseHost"), AFtpPar.UseHost);
    int32_t offset = AFtpPar.TimeOffset + kTimeOffsetShift;
    if (AFtpPar.UseTimeOffset)
        offset += kUseTimeOffsetBit;
    AIniFile.WriteInteger(s, QStringLiteral("TimeOffset"), offset);
    AIniFile.WriteInteger(s, QStringLiteral("Retry"), AFtpPar.ConnAttempts);
    AIniFile.WriteInteger(s, QStringLiteral("ConnTimeout"), AFtpPar.ConnTimeout);
    AIniFile.WriteInteger(s, QStringLiteral("Timeout"), AFtpPar.ResponseTimeOut);
    AIniFile.WriteInteger(s, QStringLiteral("PeerVerify"), AFtpPar.CertVerify);
    AIniFile.WriteString(s, QStringLiteral("PeerFingerprint"), AFtpPar.Fingerprint);
    AIniFile.WriteInteger(s, QStringLiteral("KeepAlive"), AFtpPar.KeepAlive);
    AIniFile.WriteBool(s, QStringLiteral("LogFile"), AFtpPar.WriteLog);
    AIniFile.WriteInteger(s, QStringLiteral("ChangeNames"), int(AFtpPar.CaseMode));
    AIniFile.WriteString(s, QStringLiteral("ReplChar"), QuoteIfHasBlank(AFtpPar.InvalidChars));
    AIniFile.WriteBool(s, QStringLiteral("Quotes"), AFtpPar.Quotes);

    AIniFile.WriteString(kProxySection, QStringLiteral("Server"), AFtpPar.Proxy.Server);
    AIniFile.WriteInteger(kProxySection, QStringLiteral("Port"), AFtpPar.Proxy.Port);
    AIniFile.WriteString(kProxySection, QStringLiteral("Username"), AFtpPar.Proxy.Username);
    AIniFile.WriteString(kProxySection, QStringLiteral("Password"), StoredPasswordText(AFtpPar.Proxy.Password));
    AIniFile.WriteInteger(kProxySection, QStringLiteral("ProxyType"), int(AFtpPar.Proxy.Mode));
}

void LoadFtpParamsFromFile(const QString &AFileName, TFtpParams &AFtpPar)
{
    if (!XlFileExists(AFileName, true)) {
        ResetFtpParams(AFtpPar);
        return;
    }
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(AFileName);
    LoadFtpParamsFromIni(ini, QStringLiteral("Ftp"), AFtpPar);
}

QString FtpUrl(const TFtpParams &AFtpPar, const QString &ADirectory)
{
    if (AFtpPar.Host.isEmpty())
        return QString();
    QString url = AFtpPar.SecureMode <= 0 ? QStringLiteral("ftp") : QStringLiteral("ftps");
    if (AFtpPar.UseIPv6)
        url += QStringLiteral("://[") + AFtpPar.Host + QStringLiteral("]:");
    else
        url += QStringLiteral("://") + AFtpPar.Host + QLatin1Char(':');
    return url + QString::number(AFtpPar.Port) + WithLeadingSlash(ADirectory);
}

QString FtpDestinationUrl(const TFtpParams &AFtpPar)
{
    return FtpUrl(AFtpPar, AFtpPar.Directory);
}

QString FtpUrlFromIni(const TUnicodeIniFile &AIniFile)
{
    TFtpParams par;
    ResetFtpParams(par);
    LoadFtpParamsFromIni(AIniFile, QStringLiteral("Ftp"), par);
    return FtpDestinationUrl(par);
}

QString FtpUrlFromTaskFile(const QString &AFileName)
{
    if (!XlFileExists(AFileName, true))
        return QString();
    try {
        return FtpUrlFromIni(TUnicodeIniFile::CreateForRead(AFileName));
    } catch (const std::exception &) {
        return QString(); // an unreadable task file has no location to show
    }
}

void GetCertInfos(TCertInfos &ACertInfos)
{
    ACertInfos.CertDir = ProgramPath;
    ACertInfos.RootCertFile = QStringLiteral("velkorroot.pem");
    ACertInfos.CertFile = QStringLiteral("velkor.crt");
    ACertInfos.KeyFile = QStringLiteral("velkor.key");
    ACertInfos.Password = QString::fromLatin1(kClientKeyPassword);
}

bool ConnectFtpServer(const TFtpParams &AFtpPar, std::unique_ptr<TExtFtp> &AFtp)
{
    TFtpParams par = AFtpPar;
    TCertInfos certs;
    GetCertInfos(certs);
    AFtp = std::make_unique<TExtFtp>(certs.CertDir, certs.RootCertFile, certs.CertFile, certs.KeyFile,
                                     certs.Password.toLatin1());
    bool ok = !par.Host.isEmpty() && !par.Username.isEmpty();
    if (ok) {
        // The configured temporary folder where it can be made, as for the
        // other temporary files of a run.
        const QString fallback = ProgramTempDir.isEmpty() ? GetProgramTempDir() : ProgramTempDir;
        AFtp->SetTempDir(WithTrailingDelimiter(ChooseFolder(VlSettings.Directories.TempDir, fallback)));
        AFtp->SetLogname(WithTrailingDelimiter(GetLogFolder()) + QStringLiteral("VlFtp.log"));
        AFtp->SetParams(par);
        if (par.Password.isEmpty())
            ok = EnterAnsiPassword(
                     Tr("FTP connection"),
                     GuardedFormat(Tr("Connection to FTP server: %s:%u\r\nfor user: %s\r\nrequires a password!"),
                                   par.Host, par.Port, par.Username),
                     false, par.Password)
                 == mrOk;
    }
    if (ok && par.Proxy.Mode != TIdFtpProxyType::fpcmNone) {
        TFtpProxySettings &proxy = AFtp->ProxySettings;
        proxy.ProxyType = par.Proxy.Mode;
        proxy.Host = par.Proxy.Server;
        proxy.Port = uint16_t(par.Proxy.Port & 0xFFFF);
        proxy.UserName = par.Proxy.Username;
        if (par.Proxy.Password.isEmpty())
            ok = EnterAnsiPassword(
                     Tr("FTP connection"),
                     GuardedFormat(Tr("Connection to FTP proxy server: %s:%u\r\nfor user: %s\r\nrequires a password!"),
                                   par.Proxy.Server, par.Proxy.Port, par.Proxy.Username),
                     false, par.Proxy.Password)
                 == mrOk;
        proxy.Password = par.Proxy.Password;
    }
    if (ok) {
        AFtp->Password = par.Password;
        try {
            ok = AFtp->DoConnect(par.ConnAttempts, false) && AFtp->SetRemoteDir(par.Directory);
        } catch (const std::exception &) {
            ok = false; // the client keeps its error text; the caller reports the failure
        }
    }
    if (!ok)
        AFtp.reset();
    return ok;
}

} // namespace vl
