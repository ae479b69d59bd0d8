// TExtFtp: settings, connection with the certificate check, reconnects,
// error texts, name mapping and the protocol log.
#include "engine/FtpUtils.h"

#include "core/Format.h"
#include "core/PathUtils.h"

#include <chrono>
#include <thread>

namespace vl {

// ---- Protocol log --------------------------------------------------------

// Timestamped lines of the dialogue, status and error lines, appended to
// the log file while the log is switched on. Pass phrases never reach the
// file: the socket masks the PASS line, and PASS/ACCT lines are masked here
// once more in case a caller sends them raw.
class TFtpLogFile : public TProtocolLogFile {
public:
    using TProtocolLogFile::TProtocolLogFile;

    void Error(const QString &AText) { Write("Err ", AText.toUtf8()); }

protected:
    QByteArray Masked(const QByteArray &ALine) const override
    {
        for (const char *cmd : {"PASS ", "ACCT "})
            if (ALine.size() > 5 && ALine.left(5).toUpper() == cmd)
                return ALine.left(5) + "***";
        return ALine;
    }
};

// ---- Free helpers ----------------------------------------------------------

void ClearCertInfo(TCerticateInfo &AInfo)
{
    AInfo.Version = 0;
    AInfo.SerialNumber = 0;
    AInfo.Server.clear();
    AInfo.Issuer.clear();
    AInfo.Fingerprint.clear();
    AInfo.ValidUntil = Now();
}

int32_t HexSerialToInt(const QString &AText)
{
    const QString s = RemoveChar(AText, QLatin1Char(':')).trimmed();
    int64_t value = 0;
    if (s.isEmpty() || !TryParseIntegerText(QLatin1Char('$') + s, 32, value))
        return 0;
    return int32_t(value);
}

int32_t CompareTimeStamps(TDateTime ARemote, TDateTime ALocal, int32_t ADelta)
{
    if (ARemote <= 1.0)
        return 0;
    const double diffMs = std::round((ARemote - ALocal) * double(kMSecsPerDay));
    const double deltaMs = double(ADelta) * 1000.0;
    if (diffMs < -deltaMs)
        return 1;
    if (diffMs > deltaMs)
        return 3;
    return 2;
}

// ---- Construction ----------------------------------------------------------

TExtFtp::TExtFtp() : TExtFtp(QString(), QString(), QString(), QString(), QByteArray()) {}

TExtFtp::TExtFtp(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
                 const QByteArray &APwd)
{
    UseMLIS = true;
    Passive = true;
    UseHOST = true;
    NATKeepAliveUse = false;
    NATKeepAliveIdleTimeMS = 30000;
    NATKeepAliveIntervalMS = 10000;
    fLogName = fTmpDir + QStringLiteral("FtpLog.txt");
    fIdLogFile = std::make_unique<TFtpLogFile>(fLogName);
    SetProtocolSink(fIdLogFile.get());
    fCertPwd = APwd;
    if (FindTlsFiles(APath, ARoot, ACert, AKey, fRoot, fCert, fKey)) {
        fTlsContext = MakeTlsContext();
        fTLS = fTlsContext != nullptr;
    }
    OnVerifyPeer = [this](const TPeerCertificate &ACertificate) { return VerifyPeerHandler(ACertificate); };
    GetEncoding();
    UseTLS = TUseTls::utNoTLSSupport;
    ClearCertInfo(fCertInfo);
}

TExtFtp::~TExtFtp()
{
    // The base class may still talk to the server while it goes; the log
    // object goes first.
    SetProtocolSink(nullptr);
}

std::shared_ptr<TTlsContext> TExtFtp::MakeTlsContext()
{
    QString error;
    return TTlsContext::Create(fRoot, fCert, fKey, [this] { return SSLPasswordHandler(); }, error);
}

QByteArray TExtFtp::SSLPasswordHandler()
{
    return ClientKeyPassword(OnSSLPassword, fCertPwd);
}

void TExtFtp::CreateIOHandler()
{
    if (fIoHandlerCreated)
        return;
    fIoHandlerCreated = true;
    if (!fTLS)
        return;
    // The key was loaded with the kept pass phrase; a password handler
    // assigned since then has the last word.
    if (OnSSLPassword) {
        if (auto ctx = MakeTlsContext())
            fTlsContext = ctx;
    }
    SetTlsContext(fTlsContext);
}

// ---- Settings ----------------------------------------------------------------

void TExtFtp::SetParams(const TFtpParams &FtpPar)
{
    SetSecureTransfer(FtpPar.SecureMode);
    Host = FtpPar.Host;
    Port = uint16_t(FtpPar.Port & 0xFFFF);
    Passive = FtpPar.Passive;
    fForceUtf8 = FtpPar.ForceUtf8;
    fUseKeepAlive = FtpPar.KeepAlive != 0;
    SetUseIPv6(FtpPar.UseIPv6);
    fUseOpts = FtpPar.UseOpts;
    fUseExts = FtpPar.UseExts;
    UseHOST = FtpPar.UseHost;
    Username = FtpPar.Username;
    fVerifyPeerMode = FtpPar.CertVerify;
    fPeerFingerprint = FtpPar.Fingerprint;
    SetWriteLogFile(FtpPar.WriteLog);
    CMode = FtpPar.CaseMode;
    fQuotes = FtpPar.Quotes;
    fRepl = FtpPar.InvalidChars;
    fTimeOffset = FtpPar.UseTimeOffset ? FtpPar.TimeOffset : 0;
    ConnectTimeout = FtpPar.ConnTimeout;
    TransferTimeout = 0;
    ReadTimeout = FtpPar.ResponseTimeOut;
    ListenTimeout = FtpPar.ResponseTimeOut;
}

void TExtFtp::SetSecureTransfer(int32_t Value)
{
    fSecureMode = Value;
    if (fTLS && Value > 0) {
        UseTLS = Value == 1 ? TUseTls::utUseExplicitTLS
               : Value == 2 ? TUseTls::utUseRequireTLS
                            : TUseTls::utUseImplicitTLS;
        DataPortProtection = TDataPortProtection::ftpdpsPrivate;
    } else {
        UseTLS = TUseTls::utNoTLSSupport;
        DataPortProtection = TDataPortProtection::ftpdpsClear;
    }
}

bool TExtFtp::UseIPv6()
{
    fUseIPv6 = IPVersion == TIpVersion::Id_IPv6;
    return fUseIPv6;
}

void TExtFtp::SetUseIPv6(bool Value)
{
    IPVersion = Value ? TIpVersion::Id_IPv6 : TIpVersion::Id_IPv4;
    fUseIPv6 = Value;
}

TFtpEncoding TExtFtp::GetEncoding()
{
    switch (Encoding()) {
    case TFtpTextEncoding::UTF8:
        fEncoding = TFtpEncoding::feUtf8;
        break;
    case TFtpTextEncoding::Latin1:
        fEncoding = TFtpEncoding::fe8Bit;
        break;
    default:
        fEncoding = TFtpEncoding::feASCII;
        break;
    }
    return fEncoding;
}

void TExtFtp::SetEncoding(TFtpEncoding Value)
{
    if (Value != GetEncoding())
        ForceEncoding(Value, fUseOpts);
}

void TExtFtp::ForceEncoding(TFtpEncoding Value, bool AUseOpts)
{
    // Before a connect only the channel's encoding is set.
    AUseOpts = AUseOpts && Connected();
    if (Value == TFtpEncoding::feUtf8) {
        if (AUseOpts) {
            const int32_t code = SendCmd(QStringLiteral("OPTS UTF8 ON"));
            if (code != 200 && code != 220)
                SendCmd(QStringLiteral("OPTS UTF-8 NLST"));
        }
        TFtpClient::SetEncoding(TFtpTextEncoding::UTF8);
    } else {
        if (AUseOpts)
            SendCmd(QStringLiteral("OPTS UTF8 OFF"));
        TFtpClient::SetEncoding(Value == TFtpEncoding::fe8Bit ? TFtpTextEncoding::Latin1 : TFtpTextEncoding::ASCII);
    }
    fEncoding = Value;
}

void TExtFtp::AfterLogin()
{
    fUTF8 = SupportsFeature(QStringLiteral("UTF8"));
    GetEncoding();
    TFtpClient::AfterLogin();
}

QString TExtFtp::GetCapabilitiesString() const
{
    QStringList items;
    for (const QString &c : Capabilities())
        items << (c.isEmpty() ? QStringLiteral("\"\"") : QuoteIfContainsChar(c, QStringLiteral(" ,\"")));
    return items.join(QLatin1Char(','));
}

QString TExtFtp::ServerName() const
{
    QString s = fTLS ? QStringLiteral("ftps") : QStringLiteral("ftp");
    if (IPVersion == TIpVersion::Id_IPv6)
        return s + QStringLiteral("://[") + Host + QStringLiteral("]:") + QString::number(Port);
    return s + QStringLiteral("://") + Host + QLatin1Char(':') + QString::number(Port);
}

void TExtFtp::SetTempDir(const QString &Value)
{
    fTmpDir = WithTrailingDelimiter(Value);
}

void TExtFtp::SetLogname(const QString &Value)
{
    fLogName = Value;
    fIdLogFile->SetFileName(Value);
}

void TExtFtp::SetWriteLogFile(bool Value)
{
    fWriteLog = Value;
    fIdLogFile->SetActive(Value);
}

void TExtFtp::LogStatus(const QString &AText)
{
    fIdLogFile->Status(AText);
}

void TExtFtp::LogError(const QString &AText)
{
    fIdLogFile->Error(AText);
}

void TExtFtp::LogReconnect(const QString &AText)
{
    LogError(QStringLiteral("Trying to reconnect") + QStringLiteral(" - ") + AText);
}

// ---- Errors ------------------------------------------------------------------

void TExtFtp::SetIndyError(const QString &Value)
{
    if (!fIdError.isEmpty())
        return;
    QString s = Value.trimmed();
    s.replace(QStringLiteral("\r\n"), QStringLiteral("<EOL>"));
    s.replace(QLatin1Char('\r'), QStringLiteral("<CR>"));
    s.replace(QLatin1Char('\n'), QStringLiteral("<LF>"));
    fIdError = s;
}

QString TExtFtp::GetIndyError()
{
    QString s = fIdError.isEmpty() ? QStringLiteral("Last FTP response: ") + LastResponseString()
                                   : QStringLiteral("Reported error: ") + fIdError;
    fIdError.clear();
    return s;
}

QString TExtFtp::LastResponseString() const
{
    QString s = LastReplyCode() != 0 ? QString::number(LastReplyCode()) : QString();
    const QString line = LastReplyFirstLine();
    if (!line.isEmpty())
        s += QLatin1Char(' ') + line;
    if (!fIdError.isEmpty() && !s.contains(fIdError, Qt::CaseInsensitive))
        s += QStringLiteral(" (") + fIdError + QLatin1Char(')');
    return s;
}

// ---- Names -------------------------------------------------------------------

QString TExtFtp::ModifyName(const QString &FName) const
{
    // "/" separates the levels of the paths this also maps, and "%" starts
    // the escapes themselves: escaping either would make the mapping change
    // names it has already mapped.
    QString chars = fRepl;
    chars.remove(QLatin1Char('/'));
    chars.remove(QLatin1Char('%'));
    return ChangeTextCase(EscapeCharsAsHex(FName, chars), CMode);
}

QString TExtFtp::RetrieveName(const QString &FName) const
{
    return fRepl.isEmpty() ? FName : UnescapeHexChars(FName);
}

QString TExtFtp::MakeQuotedPath(const QString &s) const
{
    if (fQuotes && s.contains(QLatin1Char(' ')))
        return QuoteIfHasBlank(s);
    return s;
}

QString TExtFtp::ListKey(const QString &FName) const
{
    return RetrieveName(ModifyName(FName));
}

// ---- Connection ------------------------------------------------------------------

bool TExtFtp::Connected() const
{
    try {
        return TFtpClient::Connected();
    } catch (...) {
        return false;
    }
}

void TExtFtp::AbortTransfer()
{
    fAborted = true;
    AbortIo();
}

void TExtFtp::ClearCertInfoForConnect()
{
    fFingerPrint.clear();
    ClearCertInfo(fCertInfo);
}

bool TExtFtp::JudgeCertificate()
{
    if (fVerifyPeerMode == 2)
        return fFingerPrint.compare(fPeerFingerprint, Qt::CaseInsensitive) == 0;
    return OnConfirmCert ? OnConfirmCert(fCertInfo) : false;
}

bool TExtFtp::VerifyPeerHandler(const TPeerCertificate &ACert)
{
    fFingerPrint = ACert.Fingerprint;
    fCertInfo.Server = ServerName();
    fCertInfo.Version = ACert.Version;
    fCertInfo.SerialNumber = HexSerialToInt(ACert.SerialHex);
    fCertInfo.Issuer = ACert.Issuer;
    fCertInfo.Fingerprint = fFingerPrint;
    fCertInfo.ValidUntil = ACert.ValidUntil;
    bool ok = true;
    if (fVerifyThisConnect)
        ok = JudgeCertificate();
    else if (!fAcceptedFingerprint.isEmpty())
        ok = fFingerPrint.compare(fAcceptedFingerprint, Qt::CaseInsensitive) == 0;
    if (!ok)
        fCertRefused = true;
    return ok;
}

void TExtFtp::BeforeLogin()
{
    if (ControlIsTls())
        return; // the handshake has judged the certificate
    // No TLS, so no certificate: a task that asked for TLS with a check (the
    // server refused AUTH TLS, or someone on the way stripped it) and a
    // reconnect after a checked connect are refused before the password
    // goes out in the clear. A plain-FTP task's check decides on empty
    // details.
    const bool refused = fVerifyThisConnect ? fSecureMode > 0 || !JudgeCertificate()
                                            : !fAcceptedFingerprint.isEmpty();
    if (refused) {
        fCertRefused = true;
        throw ENetError(ENetError::TKind::Protocol, QStringLiteral("Error verifying server certificate"));
    }
}

bool TExtFtp::DoConnect(int32_t NRepeat, bool Verify)
{
    fIdError.clear();
    LogStatus(GuardedFormat(QStringLiteral("Connection to FTP server: %s:%u"), Host, Port));
    fValidDirectoryListing = false;
    CreateIOHandler();
    if (fSecureMode >= 2 && !fTLS) {
        // A task that demands TLS never talks to the server in the clear.
        fIdError = QStringLiteral("Error creating SSL session.");
        LogError(QStringLiteral("Reported error: ") + fIdError);
        return false;
    }
    // An earlier connect without TLS on the control channel may have
    // cleared the data protection.
    SetSecureTransfer(fSecureMode);
    fVerifyThisConnect = Verify && fVerifyPeerMode > 0;
    fCertRefused = false;
    const int32_t attempts = std::max(NRepeat, 1);
    bool connected = false;
    for (int32_t i = 1; i <= attempts && !connected; ++i) {
        ClearCertInfoForConnect();
        try {
            Connect();
            connected = true;
        } catch (const ENetError &e) {
            if (!fCertRefused)
                SetIndyError(e.Message);
        }
        if (connected)
            break;
        if (fCertRefused)
            break;
        if (i < attempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // A half-open connection (refused login, failed handshake) would
        // pass the next connection check.
        try {
            Disconnect();
        } catch (...) {
        }
    }
    if (fCertRefused) {
        try {
            Disconnect();
        } catch (...) {
        }
        fIdError = QStringLiteral("Error verifying server certificate");
        LogError(QStringLiteral("Reported error: ") + fIdError);
        return false;
    }
    if (!connected) {
        LogError(QStringLiteral("Reported error: ") + fIdError);
        return false;
    }
    if (UseTLS == TUseTls::utUseExplicitTLS && !ControlIsTls())
        DataPortProtection = TDataPortProtection::ftpdpsClear;
    if (fVerifyThisConnect)
        fAcceptedFingerprint = fFingerPrint;
    try {
        if (fForceUtf8) {
            ForceEncoding(TFtpEncoding::feUtf8, fUseOpts);
        } else if (fUseOpts && fUTF8) {
            const int32_t code = SendCmd(QStringLiteral("OPTS UTF8 ON"));
            if (code == 200 || code == 202)
                TFtpClient::SetEncoding(TFtpTextEncoding::UTF8);
            GetEncoding();
        }
        if (fUseExts || IPVersion == TIpVersion::Id_IPv6)
            UseExtensionDataPort = true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        LogError(QStringLiteral("Reported error: ") + fIdError);
        return false;
    }
    return ReadCurrentDir(fDir);
}

namespace {
} // namespace

bool TExtFtp::ReConnect(const QString &Dir, bool Check, bool UpdateList)
{
    if (Check && Connected())
        return true;
    try {
        Disconnect();
    } catch (...) {
    }
    TFlagGuard guard(fInReconnect);
    if (!DoConnect(3, false))
        return false;
    // Back in the login directory: working on there would put files in
    // the wrong place.
    if (!ChangeToDir(Dir))
        return false;
    if (UpdateList)
        GetFileList();
    return true;
}

bool TExtFtp::ReconnectForRetry(int32_t &AReconnects, bool AUpdateList, bool *AFailed)
{
    if (fInReconnect || AReconnects >= kFtpMaxReconnects)
        return false;
    ++AReconnects;
    LogReconnect(GetIndyError());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (ReConnect(fCurrentDir, false, AUpdateList))
        return true;
    if (AFailed)
        *AFailed = true;
    return false;
}

} // namespace vl
