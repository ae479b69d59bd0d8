// The FTP protocol client under TExtFtp (engine/FtpUtils.h): one control
// connection, passive (PASV/EPSV) or active (PORT/EPRT) data connections,
// explicit (AUTH TLS), required and implicit TLS with PBSZ/PROT, the
// server's feature list, UTF-8 switching, MLSD listings with a LIST
// fallback (Unix and DOS formats), MDTM/MFMT, SIZE and the transfers.
//
// Errors raise ENetError (engine/Socket.h): negative replies and every
// other failure of the protocol as TKind::Protocol with the reply code.
#pragma once

#include "core/DateTime.h"
#include "core/Stream.h"
#include "engine/Socket.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vl {

enum class TDataPortProtection { ftpdpsClear, ftpdpsPrivate };
enum class TIpVersion { Id_IPv4, Id_IPv6 };
enum class TFtpTextEncoding { UTF8, Latin1, ASCII };

enum class TIdFtpProxyType {
    fpcmNone,
    fpcmUserSite,           // USER user@host, PASS pass (proxy login first when it has an account)
    fpcmSite,               // proxy login, then SITE host
    fpcmOpen,               // OPEN host
    fpcmUserPass,           // USER user@proxyuser@host, PASS pass@proxypass
    fpcmTransparent,        // proxy login, then USER/PASS of the server
    fpcmUserHostFireWallID, // USER user@host proxyuser, PASS pass, ACCT proxypass
    fpcmNovellBorder,       // USER user@host, PASS pass (like fpcmUserSite)
    fpcmHttpProxyWithFtp,   // CONNECT through an HTTP proxy
    fpcmCustomProxy,        // not supported: the connect fails with a clear error
};
struct TFtpProxySettings {
    TIdFtpProxyType ProxyType = TIdFtpProxyType::fpcmNone;
    QString Host;
    QString UserName;
    QByteArray Password;
    uint16_t Port = 0;
};

enum class TFtpItemType { ditDirectory, ditFile, ditSymbolicLink, ditOther };
struct TFtpListItem {
    QString FileName; // as listed (server form)
    int64_t Size = 0;
    TDateTime ModifiedDate = 0;    // local time; 0 when not listed
    TDateTime ModifiedDateGMT = 0; // UTC; 0 when not listed
    TFtpItemType ItemType = TFtpItemType::ditFile;
};

// Parsers of listing lines (exposed for tests). Each returns false for a
// line that is not an entry (totals, blank lines, unknown formats).
bool ParseMlsdLine(const QString &ALine, TFtpListItem &AItem);
// Unix "ls -l" lines (year or time form, with or without the group
// column) and DOS lines ("01-31-24  02:15PM  <DIR>  name"). Times without
// a zone count as the server's local time (taken as UTC); AToday fixes
// the year of entries listed with a time of day (for tests).
bool ParseListLine(const QString &ALine, TFtpListItem &AItem, TDateTime AToday = 0);
// "YYYYMMDDHHMMSS[.fff]" of MLSD facts and MDTM replies; false for other
// texts.
bool ParseFtpTimeStamp(const QString &AText, TDateTime &AValue);
// A UTC date-time as local time; 0 when it cannot be converted.
TDateTime FtpUtcToLocal(TDateTime AUtc);

class TFtpClient {
public:
    TFtpClient();
    virtual ~TFtpClient();
    TFtpClient(const TFtpClient &) = delete;
    TFtpClient &operator=(const TFtpClient &) = delete;

    // Settings, applied at the next Connect (timeouts at once).
    QString Host;
    uint16_t Port = 21;
    QString Username;
    QByteArray Password;
    bool Passive = true;
    bool UseMLIS = true;  // MLSD listings when the server offers them
    bool UseHOST = false; // HOST command before the login
    TUseTls UseTLS = TUseTls::utNoTLSSupport;
    TDataPortProtection DataPortProtection = TDataPortProtection::ftpdpsClear;
    TIpVersion IPVersion = TIpVersion::Id_IPv4;
    bool UseExtensionDataPort = false; // EPSV/EPRT instead of PASV/PORT
    int32_t ConnectTimeout = 0;  // ms; 0: the system's own limit
    int32_t ReadTimeout = 60000; // ms for replies and data; 0: none
    int32_t TransferTimeout = 0; // ms for data when nonzero (else ReadTimeout)
    int32_t ListenTimeout = 10000; // ms to wait for an active data connection
    TFtpProxySettings ProxySettings;
    // TCP keep-alive on the control connection while a transfer runs.
    bool NATKeepAliveUse = false;
    int32_t NATKeepAliveIdleTimeMS = 30000;
    int32_t NATKeepAliveIntervalMS = 10000;

    // TLS context for the TLS modes (none: TLS modes fail to connect).
    void SetTlsContext(const std::shared_ptr<TTlsContext> &AContext) { FTls = AContext; }
    const std::shared_ptr<TTlsContext> &TlsContext() const { return FTls; }
    // Judges the server certificate inside the handshake of the control
    // connection (before the login).
    TPeerCertCheck OnVerifyPeer;
    // The dialogue of the control connection.
    void SetProtocolSink(TProtocolSink *ASink);

    // Connects, negotiates TLS as UseTLS asks (utUseExplicitTLS goes on
    // without TLS when the server refuses AUTH TLS; utUseRequireTLS fails
    // then), calls BeforeLogin, logs in, reads the feature list, calls
    // AfterLogin and switches to binary. Raises ENetError.
    void Connect();
    // QUIT when connected (errors ignored), then closes.
    void Disconnect();
    // Whether the control connection is open (no traffic).
    virtual bool Connected() const;
    // Breaks a running transfer from another thread: its data connection,
    // or, when none is open, the control connection (a reply being waited
    // for; afterwards Connected() is false until the next Connect).
    void AbortIo();
    // True when the control connection runs TLS.
    bool ControlIsTls() const;

    // The last reply.
    int32_t LastReplyCode() const { return FReplyCode; }
    const QStringList &LastReplyLines() const { return FReplyLines; } // texts without the code
    QString LastReplyFirstLine() const { return FReplyLines.isEmpty() ? QString() : FReplyLines.first(); }
    // The server's greeting text (its first line).
    const QString &ServerDescription() const { return FGreeting; }

    // Features as the server listed them after FEAT (one per line,
    // trimmed); empty when it sent none.
    const QStringList &Capabilities() const { return FCapabilities; }
    bool HasFeatures() const { return FFeatReplied; }
    // A feature offered (its first word matches, case ignored).
    bool SupportsFeature(const QString &AName) const;
    // Position of a feature line (exact text, case ignored) or -1.
    int32_t FeatureIndex(const QString &ALine) const;
    // MLSD/MLST usable: offered and UseMLIS.
    bool CanUseMLS() const;

    TFtpTextEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TFtpTextEncoding AValue) { FEncoding = AValue; }
    // UTF8 uses the lossless file-name mapping (platform/FileNames.h): bytes
    // that are no valid UTF-8 come back as they were. Latin1 maps every
    // byte to U+0000..U+00FF; ASCII turns the rest into "?".
    QByteArray EncodeText(const QString &AText) const;
    QString DecodeText(const QByteArray &ABytes) const;

    // Sends a command and reads its reply; returns the reply code. With
    // AAllowed non-empty a code outside it raises ENetError Protocol.
    int32_t SendCmd(const QString &ACommand, const std::vector<int32_t> &AAllowed = {});

    // Commands with the usual expected replies (raise on others).
    QString Pwd();                  // the quoted path of the 257 reply
    void ChangeDir(const QString &AName);       // CWD
    void ChangeDirUp();                         // CDUP
    void MakeDir(const QString &AName);         // MKD
    void RemoveDir(const QString &AName);       // RMD
    void Delete(const QString &AName);          // DELE
    void Rename(const QString &AFrom, const QString &ATo); // RNFR/RNTO
    // SIZE; -1 when the server does not know it.
    int64_t Size(const QString &AName);
    // MFMT when offered, else "MDTM YYYYMMDDHHMMSS name"; AUtc in UTC.
    void SetModTimeUtc(const QString &AName, TDateTime AUtc);
    // A local time, converted to UTC first.
    void SetModTimeLocal(const QString &AName, TDateTime ALocal);

    // The detailed listing of the current directory (MLSD when CanUseMLS,
    // else LIST -a with the line parsers); kept in ListResult().
    void List();
    const std::vector<TFtpListItem> &ListResult() const { return FList; }

    // Transfers. Put sends ASource from its position to its end (STOR, or
    // APPE with AAppend); Get writes RETR's data to ADest at its position.
    // OnWork reports the bytes moved so far (AWrite: sending). A transfer
    // ends with the server's final reply; a final reply of 400 or more
    // after a complete data transfer is returned, not raised.
    int32_t Put(TStream &ASource, const QString &AName, bool AAppend);
    int32_t Get(const QString &AName, TStream &ADest);
    std::function<void(bool AWrite, int64_t ACount)> OnWork;

protected:
    // Called once TLS is settled, before HOST and the login: raising ends
    // the connect before the account goes out.
    virtual void BeforeLogin() {}
    // Called after a successful login, before TYPE I.
    virtual void AfterLogin() {}

private:
    int32_t ReadReply();
    int32_t SendLine(const QByteArray &ALine, const std::vector<int32_t> &AAllowed = {});
    // Sends a command whose reply must be positive (2xx).
    int32_t SendPositive(const QString &ACommand);
    [[noreturn]] void ThrowReply(int32_t ACode) const;
    void ConnectTo(TSocket &ASocket, const QString &AHost, uint16_t APort);
    void Login();
    void UserPass(const QString &AUser, const QByteArray &APassword);
    void ReadFeatures();
    uint16_t PassivePort();
    // Opens the data connection for ACommand and reads the preliminary
    // reply; FData holds the connection afterwards.
    TSocket &OpenData(const QString &ACommand);
    // Closes the data connection after a complete data phase.
    void CloseData();
    // Breaks the data connection after a failure and reads (briefly) the
    // server's reply, so the control connection stays usable if it can.
    void AbandonData();
    // A file transfer: ACommand's data connection handed to AMoveData, then
    // the final reply. Keep-alive probes guard the idle control connection
    // meanwhile when asked for; a failed data phase is abandoned and, after
    // AbortIo, raises "Transfer aborted".
    int32_t Transfer(const QString &ACommand, const std::function<void(TSocket &)> &AMoveData);
    QByteArray ReceiveText(const QString &ACommand);
    int32_t DataTimeout() const { return TransferTimeout > 0 ? TransferTimeout : ReadTimeout; }

    std::shared_ptr<TTlsContext> FTls;
    std::unique_ptr<TSocket> FControl; // made once; Close/Connect reuse it
    std::mutex FDataLock;              // guards FData against AbortIo
    std::unique_ptr<TSocket> FData;    // the running data connection (for AbortIo)
    TProtocolSink *FSink = nullptr;
    int32_t FReplyCode = 0;
    QStringList FReplyLines;
    QString FGreeting;
    QStringList FCapabilities;
    bool FFeatReplied = false;
    bool FDataTls = false; // PROT P in force
    TFtpTextEncoding FEncoding = TFtpTextEncoding::Latin1;
    std::vector<TFtpListItem> FList;
    std::atomic<bool> FAbort{false};
};

} // namespace vl
