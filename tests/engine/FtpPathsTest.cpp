// The FTP client's parts that need no server: remote path helpers, listing
// lists, the name mapping, error texts, settings, time comparison, the
// protocol log, and the refusals that must happen before any network
// traffic.
#include "engine/FtpUtils.h"

#include "common/TcpListener.h"
#include "common/TestUtils.h"

#include <QFile>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace vl {
namespace {

using namespace vl::test;
using namespace Qt::Literals::StringLiterals;

struct TPathCase {
    QString Name;
    std::function<QString()> Call;
    QString Expected;
};

TEST(FtpPaths, Functions)
{
    const TPathCase cases[] = {
        {u"trailing empty"_s, [] { return WithTrailingSlash(u""_s); }, u""_s},
        {u"trailing added"_s, [] { return WithTrailingSlash(u"a/b"_s); }, u"a/b/"_s},
        {u"trailing kept"_s, [] { return WithTrailingSlash(u"a/"_s); }, u"a/"_s},
        {u"leading empty"_s, [] { return WithLeadingSlash(u""_s); }, u"/"_s},
        {u"leading added"_s, [] { return WithLeadingSlash(u"a"_s); }, u"/a"_s},
        {u"leading kept"_s, [] { return WithLeadingSlash(u"/a"_s); }, u"/a"_s},
        {u"without trailing"_s, [] { return WithoutTrailingSlash(u"a//"_s); }, u"a/"_s},
        {u"without trailing none"_s, [] { return WithoutTrailingSlash(u"a"_s); }, u"a"_s},
        {u"slashes"_s, [] { return ToSlashPath(u"\\a\\b/c"_s); }, u"/a/b/c"_s},
        {u"after last"_s, [] { return TextAfterLastDelimiter(u"/"_s, u"a/b/c.txt"_s); }, u"c.txt"_s},
        {u"after last of two"_s, [] { return TextAfterLastDelimiter(u"/\\"_s, u"a/b\\c"_s); }, u"c"_s},
        {u"after last none"_s, [] { return TextAfterLastDelimiter(u"/"_s, u"name"_s); }, u"name"_s},
        {u"dir of bare name"_s, [] { return ExtractFtpDir(u"name"_s); }, u""_s},
        {u"dir mixed"_s, [] { return ExtractFtpDir(u"a/b\\c"_s); }, u"a/b"_s},
        {u"join empty dir"_s, [] { return JoinFtpPath(u""_s, u"n"_s); }, u"n"_s},
        {u"join"_s, [] { return JoinFtpPath(u"/d"_s, u"n"_s); }, u"/d/n"_s},
        {u"relative"_s, [] { return FtpRelativePath(u"\\backup"_s, u"/Backup/2024/x"_s); }, u"/2024/x"_s},
        {u"relative outside"_s, [] { return FtpRelativePath(u"/backup"_s, u"/other/x"_s); }, u""_s},
    };
    for (const TPathCase &c : cases)
        EXPECT_EQ(c.Call(), c.Expected) << c.Name.toStdString();
    EXPECT_TRUE(HasLeadingSlash(u"/a"_s));
    EXPECT_FALSE(HasLeadingSlash(u""_s));
    EXPECT_FALSE(HasLeadingSlash(u"a/"_s));
}

TEST(FtpLists, CaseSensitiveInListingOrder)
{
    TFileList list;
    list.Clear(); // empty: nothing to do
    for (const QString &name : {u"b.txt"_s, u"A.txt"_s, u"a.txt"_s})
        list.Add(name, std::make_unique<TFtpFileInfo>(name.toUpper(), 5, 1, 2));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Strings(0), u"b.txt"_s);
    EXPECT_EQ(list.IndexOf(u"a.txt"_s), 2);
    EXPECT_EQ(list.IndexOf(u"A.txt"_s), 1);
    EXPECT_EQ(list.IndexOf(u"B.txt"_s), -1);
    EXPECT_EQ(list.Objects(2)->FFileName, u"A.TXT"_s);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.IndexOf(u"a.txt"_s), -1);
}

TEST(FtpNames, ModifyAndRetrieve)
{
    struct TCase {
        QString Repl;
        TTextChange Case;
        QString Local;
        QString Server;
    } cases[] = {
        {u":"_s, TTextChange::tcUpper, u"a:b"_s, u"A%003AB"_s},
        {u":"_s, TTextChange::tcLower, u"A:B"_s, u"a%003ab"_s},
        {u""_s, TTextChange::tcNone, u"a:b"_s, u"a:b"_s},
        {u":*"_s, TTextChange::tcNone, u"x*y:z"_s, u"x%002Ay%003Az"_s},
        // Paths keep their levels, and mapping a mapped name changes nothing.
        {u"/:%"_s, TTextChange::tcNone, u"d/a:b%c"_s, u"d/a%003Ab%c"_s},
    };
    for (const TCase &c : cases) {
        TExtFtp ftp;
        ftp.SetReplaceChars(c.Repl);
        ftp.SetCaseMode(c.Case);
        const QString server = ftp.ModifyName(c.Local);
        EXPECT_EQ(server, c.Server) << c.Local.toStdString();
        EXPECT_EQ(ftp.ModifyName(server), server) << c.Local.toStdString();
    }
    TExtFtp ftp;
    ftp.SetReplaceChars(u":"_s);
    EXPECT_EQ(ftp.RetrieveName(u"a%003ab"_s), u"a:b"_s);
    EXPECT_EQ(ftp.RetrieveName(u"a%003AB"_s), u"a:B"_s);
    ftp.SetReplaceChars(u""_s);
    EXPECT_EQ(ftp.RetrieveName(u"a%003ab"_s), u"a%003ab"_s);
}

TEST(FtpNames, MakeQuotedPath)
{
    TExtFtp ftp;
    EXPECT_EQ(ftp.MakeQuotedPath(u"a b"_s), u"a b"_s);
    ftp.SetUseQuotes(true);
    EXPECT_EQ(ftp.MakeQuotedPath(u"a b"_s), u"\"a b\""_s);
    EXPECT_EQ(ftp.MakeQuotedPath(u"say \"hi\" now"_s), u"\"say \"\"hi\"\" now\""_s);
    EXPECT_EQ(ftp.MakeQuotedPath(u"ab"_s), u"ab"_s);
}

TEST(FtpCert, HexSerialToInt)
{
    const std::pair<QString, int32_t> cases[] = {
        {u"0a:1b"_s, 0x0a1b}, {u"7f:ff:ff:ff"_s, 0x7fffffff}, {u"ff:ff:ff:ff"_s, -1},
        {u"01:02:03:04:05"_s, 0}, {u""_s, 0}, {u"zz:01"_s, 0},
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(HexSerialToInt(text), value) << text.toStdString();
}

TEST(FtpErrors, FirstErrorKeptUntilRead)
{
    TExtFtp ftp;
    ftp.SetIndyError(u"  550 first\r\nsecond\rthird\nend  "_s);
    ftp.SetIndyError(u"421 later"_s);
    EXPECT_EQ(ftp.LastResponseString(), u" (550 first<EOL>second<CR>third<LF>end)"_s);
    EXPECT_EQ(ftp.GetIndyError(), u"Reported error: 550 first<EOL>second<CR>third<LF>end"_s);
    // Read once: now the last reply speaks (none yet).
    EXPECT_EQ(ftp.GetIndyError(), u"Last FTP response: "_s);
    ftp.SetIndyError(u"421 later"_s);
    EXPECT_EQ(ftp.GetIndyError(), u"Reported error: 421 later"_s);
}

TEST(FtpTimes, CompareTimeStamps)
{
    const TDateTime tm = 45000.5;
    const double sec = 1.0 / 86400;
    const std::tuple<TDateTime, int32_t, int32_t> cases[] = {
        {tm - 2 * sec, 2, 2}, {tm - 3 * sec, 2, 1}, {tm + 2 * sec, 2, 2}, {tm + 3 * sec, 2, 3},
        {tm, 0, 2},           {tm - sec, 0, 1},     {0, 2, 0},            {1.0, 2, 0},
    };
    for (const auto &[remote, delta, expected] : cases)
        EXPECT_EQ(CompareTimeStamps(remote, tm, delta), expected) << remote << " " << delta;
}

TEST(FtpSettings, SetParams)
{
    TExtFtp ftp;
    TFtpParams p;
    p.Host = u"example.org"_s;
    p.Port = 65536 + 2121;
    p.SecureMode = 1;
    p.TimeOffset = 90;
    p.ResponseTimeOut = 1234;
    p.ConnTimeout = 567;
    p.CertVerify = 2;
    p.Fingerprint = u"AB:CD"_s;
    p.InvalidChars = u":"_s;
    p.Quotes = true;
    p.Passive = false;
    ftp.SetParams(p);
    EXPECT_EQ(ftp.Port, 2121);
    EXPECT_EQ(ftp.Host, u"example.org"_s);
    EXPECT_FALSE(ftp.CanUseTls());
    EXPECT_EQ(ftp.UseTLS, TUseTls::utNoTLSSupport); // no certificates: plain
    EXPECT_EQ(ftp.DataPortProtection, TDataPortProtection::ftpdpsClear);
    EXPECT_EQ(ftp.TimeOffset(), 0); // not used without UseTimeOffset
    EXPECT_EQ(ftp.ReadTimeout, 1234);
    EXPECT_EQ(ftp.ListenTimeout, 1234);
    EXPECT_EQ(ftp.ConnectTimeout, 567);
    EXPECT_EQ(ftp.TransferTimeout, 0);
    EXPECT_EQ(ftp.VerifyPeerMode(), 2);
    EXPECT_EQ(ftp.PeerFingerprint(), u"AB:CD"_s);
    EXPECT_EQ(ftp.CaseMode(), TTextChange::tcLower);
    EXPECT_TRUE(ftp.UseQuotes());
    EXPECT_FALSE(ftp.Passive);
    EXPECT_EQ(ftp.ReplaceChars(), u":"_s);
    EXPECT_EQ(ftp.ServerName(), u"ftp://example.org:2121"_s);
    p.UseTimeOffset = true;
    p.UseIPv6 = true;
    p.Host = u"::1"_s;
    ftp.SetParams(p);
    EXPECT_EQ(ftp.TimeOffset(), 90);
    EXPECT_TRUE(ftp.UseIPv6());
    EXPECT_EQ(ftp.ServerName(), u"ftp://[::1]:2121"_s);
}

TEST(FtpSettings, TempDirAndTlsFiles)
{
    const QString dir = MakeTempDir();
    WriteBytes(dir + u"/velkorroot.pem"_s, "not a certificate");
    // One file missing, then files OpenSSL cannot load: no TLS either way.
    TExtFtp missing(dir, u"velkorroot.pem"_s, u"velkor.crt"_s, u"velkor.key"_s, "pw");
    EXPECT_FALSE(missing.CanUseTls());
    WriteBytes(dir + u"/velkor.crt"_s, "x");
    WriteBytes(dir + u"/velkor.key"_s, "x");
    TExtFtp broken(dir, u"velkorroot.pem"_s, u"velkor.crt"_s, u"velkor.key"_s, "pw");
    EXPECT_FALSE(broken.CanUseTls());
    broken.SetTempDir(u"/tmp/x"_s);
    EXPECT_EQ(broken.TempDir(), u"/tmp/x/"_s);
    EXPECT_EQ(broken.Logname(), u"FtpLog.txt"_s);
}

TEST(FtpConnect, TlsRequiredWithoutCertificatesFailsBeforeConnecting)
{
    for (int mode : {2, 3}) {
        TListener server;
        const QString log = MakeTempDir() + u"/VlFtp.log"_s;
        TExtFtp ftp;
        TFtpParams p;
        p.Host = u"127.0.0.1"_s;
        p.Port = server.Port;
        p.SecureMode = mode;
        p.WriteLog = true;
        ftp.SetParams(p);
        ftp.SetLogname(log);
        EXPECT_FALSE(ftp.DoConnect(1, true)) << mode;
        EXPECT_EQ(ftp.GetIndyError(), u"Reported error: Error creating SSL session."_s);
        EXPECT_FALSE(server.SomeoneConnected()) << mode;
        const QByteArray text = ReadBytes(log);
        EXPECT_TRUE(text.contains("Connection to FTP server: 127.0.0.1:" + QByteArray::number(server.Port)));
        EXPECT_TRUE(text.contains("Reported error: Error creating SSL session.")) << text.constData();
    }
}

TEST(FtpConnect, CopyFileChecksLocalSideFirst)
{
    TListener server;
    TExtFtp ftp;
    ftp.Host = u"127.0.0.1"_s;
    ftp.Port = server.Port;
    const QString dir = MakeTempDir();
    EXPECT_EQ(ftp.CopyFile(dir + u"/missing.bin"_s, u"x.bin"_s), ftpSourceMissing);
    WriteBytes(dir + u"/there.bin"_s, "data");
    EXPECT_EQ(ftp.CopyFile(dir + u"/there.bin"_s, u""_s), ftpNoDestName);
    EXPECT_FALSE(server.SomeoneConnected());
}

TEST(FtpLog, SwitchedByWriteLogFile)
{
    const QString log = MakeTempDir() + u"/VlFtp.log"_s;
    TExtFtp ftp;
    ftp.SetLogname(log);
    ftp.LogReconnect(u"before"_s);
    EXPECT_FALSE(QFile::exists(log));
    ftp.SetWriteLogFile(true);
    ftp.LogReconnect(u"Reported error: 421 gone"_s);
    ftp.SetWriteLogFile(false);
    ftp.LogReconnect(u"after"_s);
    const QByteArray text = ReadBytes(log);
    EXPECT_TRUE(text.contains("Trying to reconnect - Reported error: 421 gone\n"));
    EXPECT_FALSE(text.contains("before"));
    EXPECT_FALSE(text.contains("after"));
}

} // namespace
} // namespace vl
