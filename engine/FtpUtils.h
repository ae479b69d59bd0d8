// Velkor's FTP and FTPS client for backup destinations: one settings
// record applied in one call, connects with a bounded number of attempts,
// the server certificate judged inside the TLS handshake (before the
// password is sent), reconnects that return to the working directory, one
// reported error text per failure, the mapping between local names and
// names on the server, a protocol log, the remote directory and file
// operations and the two transfers Flush (upload) and Fill (download).
//
// Every name given to an operation is a local name; it is sent as
// MakeQuotedPath(ModifyName(name)) unless a comment says otherwise. Names
// read from the server become local names through RetrieveName.
#pragma once

#include "core/DateTime.h"
#include "core/FileTimes.h"
#include "core/Progress.h"
#include "core/Stream.h"
#include "core/StringUtils.h"
#include "engine/FtpClient.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vl {

// ---- Lists and paths -------------------------------------------------

// One entry of a remote listing.
class TFtpFileInfo {
public:
    TFtpFileInfo(const QString &AFilename, int64_t ASize, TDateTime AMd, TDateTime AMdG)
        : FFileName(AFilename), FSize(ASize), FModifiedDate(AMd), FModifiedDateGMT(AMdG)
    {
    }
    QString FFileName;          // server form
    int64_t FSize;
    TDateTime FModifiedDate;    // local time
    TDateTime FModifiedDateGMT; // UTC
};

// A case-sensitive list of local names in listing order, each owning its
// TFtpFileInfo.
class TFtpEntryList {
public:
    virtual ~TFtpEntryList() = default;
    int32_t Count() const { return int32_t(FItems.size()); }
    const QString &Strings(int32_t AIndex) const { return FItems[size_t(AIndex)].first; }
    TFtpFileInfo *Objects(int32_t AIndex) const { return FItems[size_t(AIndex)].second.get(); }
    int32_t IndexOf(const QString &AName) const; // exact, -1 when absent
    void Add(const QString &AName, std::unique_ptr<TFtpFileInfo> AInfo);
    virtual void Clear() { FItems.clear(); }

private:
    std::vector<std::pair<QString, std::unique_ptr<TFtpFileInfo>>> FItems;
};
// Files, links and every other non-directory item of a listing.
class TFileList : public TFtpEntryList {};
// Directories other than "." and "..".
class TDirectoryList : public TFtpEntryList {};

QString WithTrailingSlash(const QString &Path);
QString WithLeadingSlash(const QString &Path);
QString WithoutTrailingSlash(const QString &Path);
bool HasLeadingSlash(const QString &Path);
QString ToSlashPath(const QString &Path);
QString TextAfterLastDelimiter(const QString &Delimiters, const QString &Text);
QString ExtractFtpDir(const QString &Path);
QString JoinFtpPath(const QString &Dir, const QString &Name);
QString FtpRelativePath(const QString &Base, const QString &Path);

// ---- Settings ----------------------------------------------------------

struct TFtpProxyParams {
    QString Server;
    QString Username;
    QByteArray Password;
    int32_t Port = 2121;
    TIdFtpProxyType Mode = TIdFtpProxyType::fpcmNone;
};

// An FTP connection as a task stores it ([Ftp] section). The defaults are
// those of a task without the keys.
struct TFtpParams {
    QString Caption;
    QString Host;
    QString Username;
    QString Directory;
    QString InvalidChars;
    QString Fingerprint;
    QByteArray Password;
    int32_t Port = 21;
    int32_t SecureMode = 0; // 0 plain, 1 explicit TLS, 2 TLS required, >= 3 implicit TLS
    int32_t TimeOffset = 0; // minutes
    int32_t ConnTimeout = 0;
    int32_t ConnAttempts = 1;
    int32_t ResponseTimeOut = 60000;
    int32_t CertVerify = 0; // 0 none, 1 confirmation, 2 fingerprint
    int32_t KeepAlive = 0;
    int32_t KeepAliveCmd = 0;
    bool UseTimeOffset = false;
    bool Quotes = false;
    bool Passive = true;
    bool UseHost = false;
    bool WriteLog = false;
    bool ForceUtf8 = false;
    bool UseIPv6 = false;
    bool UseExts = false;
    bool UseOpts = false;
    TTextChange CaseMode = TTextChange::tcLower;
    TFtpProxyParams Proxy;
};

struct TCerticateInfo {
    int32_t Version = 0;
    int32_t SerialNumber = 0;
    QString Server;
    QString Issuer;
    QString Fingerprint;
    TDateTime ValidUntil = 0;
};
void ClearCertInfo(TCerticateInfo &AInfo);
// The serial number text without ":" read as hexadecimal; 0 when that
// fails or does not fit 32 bits.
int32_t HexSerialToInt(const QString &AText);

// The comparison of CheckTimeStamp: 0 when ARemote <= 1.0 (no time), 1 when
// ARemote is more than ADelta seconds older than ALocal, 3 when more than
// ADelta seconds newer, else 2. Compared in whole milliseconds.
int32_t CompareTimeStamps(TDateTime ARemote, TDateTime ALocal, int32_t ADelta);

enum class TFtpEncoding { feASCII, fe8Bit, feUtf8 };

using TConfirmPeerCert = std::function<bool(const TCerticateInfo &ACertInfo)>;

// Result codes of the transfers (number and class).
inline constexpr int32_t ftpOk = 0;
inline constexpr int32_t ftpNoDestName = 0x101;
inline constexpr int32_t ftpSourceMissing = 0x102;
inline constexpr int32_t ftpReadError = 0x118;
inline constexpr int32_t ftpWriteError = 0x119;
inline constexpr int32_t ftpNoConnection = 0x11A;
inline constexpr int32_t ftpConnectionLost = 0x11B;
inline constexpr int32_t ftpDataRefused = 0x11C;
inline constexpr int32_t ftpReadTimeout = 0x11D;

// Reconnects of one operation before it gives up.
inline constexpr int32_t kFtpMaxReconnects = 3;

class TFtpLogFile;

// Sets a flag for its lifetime and gives it back its old value (marks a
// reconnect in progress).
class TFlagGuard {
public:
    explicit TFlagGuard(bool &AFlag) : FFlag(AFlag), FOld(AFlag) { FFlag = true; }
    ~TFlagGuard() { FFlag = FOld; }
    TFlagGuard(const TFlagGuard &) = delete;
    TFlagGuard &operator=(const TFlagGuard &) = delete;

private:
    bool &FFlag;
    bool FOld;
}; // the protocol log (engine/FtpUtils.cpp)

// ---- The client ----------------------------------------------------------

class TExtFtp : public TFtpClient {
public:
    // Without TLS.
    TExtFtp();
    // TLS is possible when ARoot, ACert and AKey are all given, exist below
    // APath and OpenSSL accepts them; APwd answers the key's pass phrase.
    TExtFtp(const QString &APath, const QString &ARoot, const QString &ACert, const QString &AKey,
            const QByteArray &APwd);
    ~TExtFtp() override;

    void SetParams(const TFtpParams &FtpPar);
    void SetSecureTransfer(int32_t Value);
    void ForceEncoding(TFtpEncoding Value, bool AUseOpts);
    TFtpEncoding GetEncoding();
    // The Encoding property: ForceEncoding(Value, UseOpts) when it changes.
    using TFtpClient::SetEncoding;
    void SetEncoding(TFtpEncoding Value);

    // NRepeat attempts (at least one); with Verify the certificate check of
    // VerifyPeerMode decides inside the handshake.
    bool DoConnect(int32_t NRepeat, bool Verify);
    bool ReConnect(const QString &Dir, bool Check, bool UpdateList);
    bool Connected() const override;
    // Stops the retries of a running transfer and breaks its data
    // connection (any thread).
    void AbortTransfer();

    QString ModifyName(const QString &FName) const;
    QString RetrieveName(const QString &FName) const;
    QString MakeQuotedPath(const QString &s) const;

    // "Reported error: " + the first error kept, else "Last FTP response: "
    // + LastResponseString; reading clears the kept error.
    QString GetIndyError();
    void SetIndyError(const QString &Value);
    void LogReconnect(const QString &AText);

    // Properties.
    bool CanUseTls() const { return fTLS; }
    TTextChange CaseMode() const { return CMode; }
    void SetCaseMode(TTextChange Value) { CMode = Value; }
    QString GetCapabilitiesString() const;
    const TCerticateInfo &CertInfo() const { return fCertInfo; }
    const QString &ChangeDirResponse() const { return FChangeDirResponse; }
    const QString &CurrentDir() const { return fCurrentDir; }
    TFileList &FileList() { return FList; }
    const QString &Fingerprint() const { return fFingerPrint; }
    bool ForceUtf8() const { return fForceUtf8; }
    void SetForceUtf8(bool Value) { fForceUtf8 = Value; }
    bool UseOpts() const { return fUseOpts; }
    void SetUseOpts(bool Value) { fUseOpts = Value; }
    bool UseExts() const { return fUseExts; }
    void SetUseExts(bool Value) { fUseExts = Value; }
    bool UseIPv6();
    void SetUseIPv6(bool Value);
    int32_t LastResponseCode() const { return LastReplyCode(); }
    QString LastResponseString() const;
    const QString &Logname() const { return fLogName; }
    void SetLogname(const QString &Value);
    const QString &PeerFingerprint() const { return fPeerFingerprint; }
    void SetPeerFingerprint(const QString &Value) { fPeerFingerprint = Value; }
    const QString &RemoteDir() const { return fDir; }
    const QString &ReplaceChars() const { return fRepl; }
    void SetReplaceChars(const QString &Value) { fRepl = Value; }
    QString ServerName() const;
    const QString &TempDir() const { return fTmpDir; }
    void SetTempDir(const QString &Value);
    int32_t TimeOffset() const { return fTimeOffset; }
    void SetTimeOffset(int32_t Value) { fTimeOffset = Value; }
    void SetUseKeepAlive(bool Value) { fUseKeepAlive = Value; }
    bool UseQuotes() const { return fQuotes; }
    void SetUseQuotes(bool Value) { fQuotes = Value; }
    bool ValidDirectoryListing() const { return fValidDirectoryListing; }
    void SetValidDirectoryListing(bool Value) { fValidDirectoryListing = Value; }
    int32_t VerifyPeerMode() const { return fVerifyPeerMode; }
    void SetVerifyPeerMode(int32_t Value) { fVerifyPeerMode = Value; }
    void SetWriteLogFile(bool Value);
    TGetPassword OnSSLPassword;
    TConfirmPeerCert OnConfirmCert;

    // ---- Directories, files and transfers ----
    bool GetFileList(TFileList &AFileList);
    bool GetFileList() { return GetFileList(FList); }
    bool GetDirList(TDirectoryList &ADirList);
    bool FtpDirExists(const QString &DName);
    bool FtpFileExists(const QString &FName);
    int64_t GetSize(const TFileList &AFileList, const QString &FName) const;
    int64_t GetSize(const QString &FName) const { return GetSize(FList, FName); }
    bool CheckSize(const QString &FName, int64_t ASize) const;
    // AFileName is sent as given (server form).
    TDateTime GetModTime(const QString &AFileName, bool AsGMT);
    TDateTime GetTimeStamp(const TFileList &AFileList, const QString &FName, bool AsGMT);
    TDateTime GetTimeStamp(const QString &FName, bool AsGMT) { return GetTimeStamp(FList, FName, AsGMT); }
    int32_t CheckTimeStamp(const QString &FName, TDateTime tm, int32_t Delta, TDateTime &fdt, bool AsGMT);
    int32_t CheckTimeStamp(const QString &FName, TDateTime tm, int32_t Delta, bool AsGMT);
    TFileTime GetLocalFileTime(const TFileList &AFileList, const QString &FName);
    TFileTime GetLocalFileTime(const QString &FName) { return GetLocalFileTime(FList, FName); }
    bool SetTimeStamp(const QString &FName, TDateTime ATime, bool UseGMT);
    bool SetTimeStampFromFile(const QString &ASourceFile, const QString &FName, bool CheckTime);

    bool DeleteFile(const QString &FName, bool InitListing);
    int32_t DeleteExistingFile(const QString &FName);
    int32_t DeleteSubDirFile(const QString &ADir, const QString &FName);
    int32_t DeleteMatchingFiles(const QString &AMask);
    bool RenameFile(const QString &OldName, const QString &NewName, bool InitListing);

    bool ReadCurrentDir(QString &Dir);
    QString GetCurrentDir();
    // Raises ENetError on failure.
    void FtpChangeDir(const QString &DName);
    bool ChangeOneDirUp();
    bool ChangeToDir(const QString &DName);
    int32_t ChangeToNewDir(const QString &DName);
    bool ForceDir(const QString &DName);
    bool ForceDirUp();
    bool SetRemoteDir(const QString &Dir);
    bool DeleteDir(const QString &DName);
    bool DeleteEmptyDirs(const QString &DName, bool DelRoot, int32_t &ADCount, const TStatusEvent &WasCanceled);
    bool DeleteTree(const QString &DName, bool DelRoot, int32_t &FCount);
    int32_t DirFiles(const QString &DName);

    int32_t CopyFile(const QString &ASourceFile, const QString &ADestFile);
    int32_t Flush(TStream &ASource, const QString &ADestFile, bool AAppend);
    int32_t Fill(const QString &ASourceFile, TStream &ADest);

protected:
    // A connect that must judge a certificate but has no TLS on the control
    // channel is decided here, before the account goes out.
    void BeforeLogin() override;
    void AfterLogin() override;

private:
    bool RefreshListing();
    void ClearCertInfoForConnect();
    void CreateIOHandler();
    std::shared_ptr<TTlsContext> MakeTlsContext();
    QByteArray SSLPasswordHandler();
    bool VerifyPeerHandler(const TPeerCertificate &ACert);
    bool JudgeCertificate();
    void LogStatus(const QString &AText);
    void LogError(const QString &AText);
    // One step of the reconnect-and-retry rule: false when the operation
    // has used up its reconnects (AReconnects) or the reconnect failed
    // (then *AFailed is set).
    bool ReconnectForRetry(int32_t &AReconnects, bool AUpdateList, bool *AFailed = nullptr);
    // After an attempt of Flush or Fill: true to try again (reconnected);
    // false ends the loop, ACode becoming 0x11A when the reconnect failed.
    bool NextTransferAttempt(int32_t &ACode, bool ARetry, int32_t &AReconnects);
    // The code of a transfer attempt that raised (message kept): time-outs
    // and broken connections are retried, anything else gives AOther.
    int32_t TransferErrorCode(const ENetError &AError, int32_t AOther, bool &ARetry);
    bool ReconnectToDir(const QString &DName);
    // The key under which a listing holds the server form of FName.
    QString ListKey(const QString &FName) const;

    TFileList FList;
    TTextChange CMode = TTextChange::tcNone;
    bool fQuotes = false, fTLS = false, fUseOpts = false, fForceUtf8 = false, fUseIPv6 = false, fUseExts = false,
         fUTF8 = false, fUseKeepAlive = false;
    std::atomic<bool> fAborted{false};
    QString fDir, fCurrentDir, FChangeDirResponse, fRepl, fFingerPrint;
    TCerticateInfo fCertInfo;
    QByteArray fCertPwd;
    TFtpEncoding fEncoding = TFtpEncoding::fe8Bit;
    std::unique_ptr<TFtpLogFile> fIdLogFile;
    QString fPeerFingerprint, fRoot, fCert, fKey, fTmpDir, fIdError, fLogName;
    int32_t fVerifyPeerMode = 0, fTimeOffset = 0, DCount = 0;
    bool fValidDirectoryListing = false;
    bool fWriteLog = false;
    int32_t fSecureMode = 0;   // as set; modes 2 and 3 fail without usable TLS
    bool fVerifyThisConnect = false;
    bool fCertRefused = false;
    bool fIoHandlerCreated = false;
    bool fInReconnect = false; // no nested reconnects
    // The fingerprint accepted by the last checked connect; reconnects must
    // meet the same certificate.
    QString fAcceptedFingerprint;
    std::shared_ptr<TTlsContext> fTlsContext;
};

} // namespace vl
