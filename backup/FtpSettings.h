// The stored form of an FTP connection (TFtpParams): the [Ftp] and [Proxy]
// sections of task files, its URL text, the client certificate files and
// connecting with it.
#pragma once

#include "engine/FtpUtils.h"

#include <QString>

#include <memory>

namespace vl {

class TUnicodeIniFile;

// The client certificate files for TLS (FTP and mail): names in CertDir
// and the pass phrase of KeyFile.
struct TCertInfos {
    QString CertDir; // with trailing delimiter
    QString RootCertFile;
    QString CertFile;
    QString KeyFile;
    QString Password;
};

// The pass phrase of the key file shipped in the program folder.
inline constexpr const char *kClientKeyPassword = "Vk6#cl!ent-Key";

void ResetFtpParams(TFtpParams &AFtpPar);
// Reads ASection and [Proxy] over the record's current values.
void LoadFtpParamsFromIni(const TUnicodeIniFile &AIniFile, const QString &ASection, TFtpParams &AFtpPar);
// Erases ASection and writes it; [Proxy] keys are written without erasing.
void SaveFtpParamsToIni(TUnicodeIniFile &AIniFile, const QString &ASection, const TFtpParams &AFtpPar);
// Defaults when the file does not exist, else its "Ftp" section read over
// the record.
void LoadFtpParamsFromFile(const QString &AFileName, TFtpParams &AFtpPar);
// "ftp[s]://host:port/dir" ("[host]" with IPv6); empty without a host.
QString FtpUrl(const TFtpParams &AFtpPar, const QString &ADirectory);
QString FtpDestinationUrl(const TFtpParams &AFtpPar);
// The URL of section "Ftp" of an open file, resp. of a task file.
QString FtpUrlFromIni(const TUnicodeIniFile &AIniFile);
QString FtpUrlFromTaskFile(const QString &AFileName);

// "velkorroot.pem", "velkor.crt", "velkor.key" in the program folder with
// the built-in pass phrase.
void GetCertInfos(TCertInfos &ACertInfos);

// Makes a client with the certificate files, connects it with AFtpPar
// (asking missing passwords for this connection only; the server
// certificate is not checked) and enters Directory, creating it. True when
// connected there; else false with AFtp empty. Never raises for missing
// host, user or password.
bool ConnectFtpServer(const TFtpParams &AFtpPar, std::unique_ptr<TExtFtp> &AFtp);

} // namespace vl
