// TExtFtp against real servers: connects in every TLS mode with the
// certificate judged before the login, remote directories and files, name
// mapping, remote times, transfers, and recovery from dropped connections,
// refusals and dead servers.
#include "engine/FtpUtils.h"

#include "common/TestUtils.h"
#include "core/FileTimes.h"
#include "ftp/FtpPeers.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace vl {
namespace {

using namespace vl::test;
using namespace Qt::Literals::StringLiterals;

enum class TServer { Proftpd, PyFtpd };

std::string ServerName(const testing::TestParamInfo<TServer> &AInfo)
{
    return AInfo.param == TServer::Proftpd ? "Proftpd" : "PyFtpd";
}

std::unique_ptr<TFtpPeer> Start(TServer AServer, TPeerTls ATls = TPeerTls::None, const TPyFaults &AFaults = {})
{
    return AServer == TServer::Proftpd ? StartProftpd(ATls) : StartPyFtpd(ATls, AFaults);
}

// A client that can use TLS: the client certificate set of the test peers.
std::unique_ptr<TExtFtp> MakeClient(bool AWithCerts = true)
{
    if (!AWithCerts)
        return std::make_unique<TExtFtp>();
    const TFtpCerts &c = FtpCerts();
    return std::make_unique<TExtFtp>(c.Dir, u"velkorroot.pem"_s, u"velkor.crt"_s, u"velkor.key"_s, c.KeyPassword);
}

TFtpParams Params(const TFtpPeer &APeer, int32_t ASecureMode = 0)
{
    TFtpParams p;
    p.Host = APeer.Host;
    p.Port = APeer.Port;
    p.Username = APeer.User;
    p.SecureMode = ASecureMode;
    p.ConnTimeout = 5000;
    p.ResponseTimeOut = 10000;
    p.WriteLog = true;
    p.CaseMode = TTextChange::tcNone;
    return p;
}

// Applies the settings as a run does and connects; the protocol log goes
// to a file of its own.
bool Connect(TExtFtp &AFtp, const TFtpPeer &APeer, const TFtpParams &AParams, int32_t ANRepeat = 1,
             bool AVerify = true)
{
    AFtp.SetParams(AParams);
    AFtp.Password = APeer.Password;
    AFtp.SetLogname(MakeTempDir(u"log"_s) + u"/VlFtp.log"_s);
    return AFtp.DoConnect(ANRepeat, AVerify) && AFtp.SetRemoteDir(AParams.Directory);
}

QByteArray LogOf(const TExtFtp &AFtp)
{
    return ReadBytes(AFtp.Logname());
}

int CountLines(const QByteArray &ALog, const QByteArray &AText)
{
    return int(ALog.count(AText));
}

QByteArray RandomBytes(qsizetype ASize)
{
    QByteArray d(ASize, Qt::Uninitialized);
    QRandomGenerator gen(4711);
    for (qsizetype i = 0; i < ASize; ++i)
        d[i] = char(gen.bounded(256));
    return d;
}

// Local wall-clock time of a date, as a file dialogue would show it.
TDateTime LocalTime(int y, int mo, int d, int h, int mi, int s)
{
    return EncodeDateTime(y, mo, d, h, mi, s, 0);
}

int64_t UnixOfLocal(TDateTime ALocal)
{
    TFileTime ft = 0;
    EXPECT_TRUE(LocalDateTimeToFileTime(ft, ALocal));
    return FileTimeToUnixSeconds(ft);
}

int64_t DiskMTime(const QString &APath)
{
    struct stat st {};
    EXPECT_EQ(::stat(APath.toUtf8().constData(), &st), 0) << APath.toStdString();
    return st.st_mtime;
}

void SetDiskMTime(const QString &APath, int64_t AUnix)
{
    const timespec times[2] = {{time_t(AUnix), 0}, {time_t(AUnix), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, APath.toUtf8().constData(), times, 0), 0);
}

// ---- Connections (proftpd: explicit and implicit FTPS) --------------------

struct TConnectCase {
    const char *Name;
    TPeerTls Server;
    int32_t SecureMode;
    bool Tls;
};

TEST(ExtFtpConnect, PlainExplicitImplicitWithTransfers)
{
    const TConnectCase cases[] = {
        {"plain", TPeerTls::Explicit, 0, false},
        {"explicit", TPeerTls::Explicit, 1, true},
        {"required", TPeerTls::Explicit, 2, true},
        {"implicit", TPeerTls::Implicit, 3, true},
    };
    for (const TConnectCase &c : cases) {
        SCOPED_TRACE(c.Name);
        VL_START_PEER(peer, StartProftpd(c.Server));
        auto ftp = MakeClient();
        ASSERT_TRUE(ftp->CanUseTls());
        ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer, c.SecureMode))) << ftp->GetIndyError().toStdString();
        EXPECT_EQ(ftp->ControlIsTls(), c.Tls);
        EXPECT_EQ(ftp->RemoteDir(), peer->LoginDir);
        EXPECT_EQ(ftp->CurrentDir(), peer->LoginDir);
        if (c.Tls) {
            EXPECT_EQ(ftp->Fingerprint(), FtpCerts().ServerFingerprint);
            EXPECT_EQ(ftp->CertInfo().SerialNumber, 0x1234);
            EXPECT_TRUE(ftp->CertInfo().Issuer.contains(u"Velkor Test Root"_s));
            EXPECT_TRUE(ftp->ServerName().startsWith(u"ftps://127.0.0.1:"_s));
        }
        const QByteArray data = RandomBytes(300000);
        TMemoryStream up(data);
        EXPECT_EQ(ftp->Flush(up, u"t.bin"_s, false), ftpOk);
        EXPECT_EQ(ReadBytes(peer->Root + u"/t.bin"_s), data);
        TMemoryStream down;
        EXPECT_EQ(ftp->Fill(u"t.bin"_s, down), ftpOk);
        EXPECT_EQ(down.Data(), data);
        ftp->Disconnect();
        const QByteArray log = LogOf(*ftp);
        EXPECT_TRUE(log.contains("Connection to FTP server: 127.0.0.1:" + QByteArray::number(peer->Port)));
        EXPECT_TRUE(log.contains("Sent: USER velkor"));
        EXPECT_TRUE(log.contains("Sent: PASS ***"));
        EXPECT_FALSE(log.contains(peer->Password)) << log.constData();
    }
}

struct TVerifyCase {
    const char *Name;
    int32_t CertVerify;
    QString Fingerprint;
    int Handler; // -1 none, 0 refuses, 1 accepts
    bool Accepted;
};

TEST(ExtFtpConnect, CertificateJudgedBeforeTheLogin)
{
    VL_START_PEER(peer, StartProftpd(TPeerTls::Explicit));
    const QString fp = FtpCerts().ServerFingerprint;
    const TVerifyCase cases[] = {
        {"fingerprint as received", 2, fp, -1, true},
        {"fingerprint upper case", 2, fp.toUpper(), -1, true},
        {"wrong fingerprint", 2, QString(fp).replace(0, 2, fp.startsWith(u"00"_s) ? u"01"_s : u"00"_s), -1, false},
        {"no fingerprint stored", 2, QString(), -1, false},
        {"confirmation without handler", 1, QString(), -1, false},
        {"confirmation refused", 1, QString(), 0, false},
        {"confirmation given", 1, QString(), 1, true},
    };
    for (const TVerifyCase &c : cases) {
        SCOPED_TRACE(c.Name);
        auto ftp = MakeClient();
        TCerticateInfo shown;
        if (c.Handler >= 0)
            ftp->OnConfirmCert = [&](const TCerticateInfo &AInfo) {
                shown = AInfo;
                return c.Handler == 1;
            };
        TFtpParams p = Params(*peer, 1);
        p.CertVerify = c.CertVerify;
        p.Fingerprint = c.Fingerprint;
        EXPECT_EQ(Connect(*ftp, *peer, p, 3), c.Accepted);
        const QByteArray log = LogOf(*ftp);
        if (c.Handler >= 0) {
            EXPECT_EQ(shown.Fingerprint, fp);
            EXPECT_EQ(shown.SerialNumber, 0x1234);
            EXPECT_EQ(shown.Server, u"ftps://127.0.0.1:"_s + QString::number(peer->Port));
        }
        if (c.Accepted)
            continue;
        EXPECT_EQ(ftp->GetIndyError(), u"Reported error: Error verifying server certificate"_s);
        EXPECT_FALSE(ftp->Connected());
        // One attempt, ended in the handshake: the account never went out.
        EXPECT_EQ(CountLines(log, "Sent: AUTH TLS"), 1) << log.constData();
        EXPECT_FALSE(log.contains("USER")) << log.constData();
        EXPECT_FALSE(log.contains("PASS")) << log.constData();
        EXPECT_TRUE(log.contains("Reported error: Error verifying server certificate"));
    }
}

TEST(ExtFtpConnect, ExplicitModeWithoutCertificatesConnectsPlain)
{
    VL_START_PEER(peer, StartProftpd(TPeerTls::Explicit));
    auto ftp = MakeClient(false);
    EXPECT_FALSE(ftp->CanUseTls());
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer, 1))) << ftp->GetIndyError().toStdString();
    EXPECT_EQ(ftp->UseTLS, TUseTls::utNoTLSSupport);
    EXPECT_FALSE(ftp->ControlIsTls());
    EXPECT_FALSE(LogOf(*ftp).contains("Sent: AUTH TLS"));
}

TEST(ExtFtpConnect, RequiredTlsWithoutCertificatesNeverConnects)
{
    VL_START_PEER(peer, StartProftpd(TPeerTls::Implicit));
    for (int32_t mode : {2, 3}) {
        auto ftp = MakeClient(false);
        EXPECT_FALSE(Connect(*ftp, *peer, Params(*peer, mode)));
        EXPECT_EQ(ftp->GetIndyError(), u"Reported error: Error creating SSL session."_s);
        EXPECT_FALSE(LogOf(*ftp).contains("Recv:"));
    }
}

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

TEST(ExtFtpConnect, UnreachableServerThreeAttempts)
{
    TFtpPeer dead;
    dead.Port = ClosedPort();
    auto ftp = MakeClient(false);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(Connect(*ftp, dead, Params(dead), 3));
    // Two pauses of 200 ms between three refused attempts.
    EXPECT_GE(timer.elapsed(), 400);
    EXPECT_LT(timer.elapsed(), 5000);
    const QByteArray log = LogOf(*ftp);
    EXPECT_EQ(CountLines(log, "Reported error: "), 1) << log.constData();
    EXPECT_EQ(CountLines(log, "Connection to FTP server: "), 1);
    EXPECT_TRUE(ftp->GetIndyError().startsWith(u"Reported error: "_s));
}

TEST(ExtFtpConnect, StallingServerEndsWithinTheTimeOut)
{
    TPyFaults faults;
    faults.StallGreeting = true;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    auto ftp = MakeClient(false);
    TFtpParams p = Params(*peer);
    p.ResponseTimeOut = 1000;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(Connect(*ftp, *peer, p, 2));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(CountLines(LogOf(*ftp), "Reported error: "), 1);
}

// ---- Directories, files, listings: both servers ------------------------------

class ExtFtpOps : public testing::TestWithParam<TServer> {
protected:
    void SetUp() override
    {
        Peer = Start(GetParam());
        if (!Peer)
            return;
        Ftp = MakeClient(false);
        ASSERT_TRUE(Connect(*Ftp, *Peer, Params(*Peer))) << Ftp->GetIndyError().toStdString();
    }
    QString Disk(const QString &ARel) const { return Peer->Root + u'/' + ARel; }
    void MakeDirs(const QStringList &ARels) const
    {
        for (const QString &r : ARels)
            ASSERT_TRUE(QDir().mkpath(Disk(r)));
    }
    void MakeFile(const QString &ARel, const QByteArray &AData = "x") const { WriteBytes(Disk(ARel), AData); }
    QString Remote(const QString &ARel) const
    {
        return Peer->LoginDir == u"/"_s ? u'/' + ARel : Peer->LoginDir + u'/' + ARel;
    }

    std::unique_ptr<TFtpPeer> Peer;
    std::unique_ptr<TExtFtp> Ftp;
};

TEST_P(ExtFtpOps, ForceDirRelativeAndAbsolute)
{
    if (!Peer)
        return;
    MakeDirs({u"a"_s});
    const QString start = Ftp->CurrentDir();
    ASSERT_TRUE(Ftp->ForceDir(u"a/b/c"_s));
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"a/b/c"_s));
    EXPECT_TRUE(QFileInfo(Disk(u"a/b/c"_s)).isDir());
    ASSERT_TRUE(Ftp->ForceDirUp()); // three levels
    EXPECT_EQ(Ftp->CurrentDir(), start);

    ASSERT_TRUE(Ftp->ForceDir(Remote(u"x/y"_s)));
    EXPECT_TRUE(QFileInfo(Disk(u"x/y"_s)).isDir());
    ASSERT_TRUE(Ftp->ForceDirUp()); // nothing to climb after an absolute path
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"x/y"_s));
    // Existing now: entered at once, still nothing to climb.
    ASSERT_TRUE(Ftp->ChangeToDir(start));
    ASSERT_TRUE(Ftp->ForceDir(Remote(u"x/y"_s)));
    ASSERT_TRUE(Ftp->ForceDirUp());
    EXPECT_EQ(Ftp->GetCurrentDir(), Remote(u"x/y"_s));
    // An existing relative path counts its levels, doubled slashes aside.
    ASSERT_TRUE(Ftp->ChangeToDir(start));
    ASSERT_TRUE(Ftp->ForceDir(u"a//b/"_s));
    ASSERT_TRUE(Ftp->ForceDirUp());
    EXPECT_EQ(Ftp->GetCurrentDir(), start);
}

TEST_P(ExtFtpOps, ChangeToNewDirAndChangeToDir)
{
    if (!Peer)
        return;
    MakeDirs({u"old"_s});
    const QString start = Ftp->CurrentDir();
    EXPECT_EQ(Ftp->ChangeToNewDir(u"old"_s), 0);
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"old"_s));
    EXPECT_FALSE(LogOf(*Ftp).contains("MKD"));
    EXPECT_EQ(Ftp->ChangeToNewDir(u"new"_s), 1);
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"old/new"_s));
    EXPECT_TRUE(Ftp->ChangeDirResponse().startsWith(u"250 "_s)) << Ftp->ChangeDirResponse().toStdString();
    EXPECT_TRUE(QFileInfo(Disk(u"old/new"_s)).isDir());
    EXPECT_TRUE(Ftp->ChangeOneDirUp());
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"old"_s));
    EXPECT_FALSE(Ftp->ChangeToDir(u"missing"_s));
    EXPECT_TRUE(Ftp->GetIndyError().startsWith(u"Reported error: 550"_s));
    EXPECT_EQ(Ftp->CurrentDir(), Remote(u"old"_s));
    EXPECT_TRUE(Ftp->ChangeToDir(start));
    EXPECT_EQ(Ftp->CurrentDir(), start);
    EXPECT_TRUE(Ftp->FtpDirExists(u"old"_s));
    EXPECT_FALSE(Ftp->FtpDirExists(u"missing"_s));
}

TEST_P(ExtFtpOps, DeleteTreeAndEmptyDirs)
{
    if (!Peer)
        return;
    MakeDirs({u"t/s"_s, u"t/e"_s, u"e/a/a1"_s, u"e/b"_s, u"k/a"_s});
    MakeFile(u"t/f1"_s);
    MakeFile(u"t/s/f2"_s);
    MakeFile(u"t/s/f3"_s);
    MakeFile(u"k/a/f"_s);
    const QString start = Ftp->CurrentDir();

    int32_t files = 0;
    EXPECT_TRUE(Ftp->DeleteTree(u"t"_s, true, files));
    EXPECT_EQ(files, 3);
    EXPECT_FALSE(QFileInfo::exists(Disk(u"t"_s)));

    int32_t dirs = 0;
    EXPECT_TRUE(Ftp->DeleteEmptyDirs(u"k"_s, true, dirs, {}));
    EXPECT_EQ(dirs, 0);
    EXPECT_TRUE(QFileInfo::exists(Disk(u"k/a/f"_s)));
    EXPECT_TRUE(Ftp->DeleteEmptyDirs(u"e"_s, false, dirs, {}));
    EXPECT_EQ(dirs, 3);
    EXPECT_TRUE(QFileInfo(Disk(u"e"_s)).isDir());
    EXPECT_FALSE(QFileInfo::exists(Disk(u"e/a"_s)));
    EXPECT_TRUE(Ftp->DeleteEmptyDirs(u"e"_s, true, dirs, {}));
    EXPECT_EQ(dirs, 4);
    EXPECT_FALSE(QFileInfo::exists(Disk(u"e"_s)));
    EXPECT_EQ(Ftp->GetCurrentDir(), start);

    MakeDirs({u"c/s/t"_s});
    MakeFile(u"c/f1"_s);
    MakeFile(u"c/s/f2"_s);
    MakeFile(u"c/s/t/f3"_s);
    EXPECT_EQ(Ftp->DirFiles(u"c"_s), 3);
    EXPECT_EQ(Ftp->GetCurrentDir(), start);
}

TEST_P(ExtFtpOps, RenameAndDelete)
{
    if (!Peer)
        return;
    MakeFile(u"r1"_s, "r");
    MakeFile(u"gone"_s);
    MakeDirs({u"d/e"_s});
    MakeFile(u"d/e/f"_s);
    EXPECT_TRUE(Ftp->RenameFile(u"r1"_s, u"r2"_s, true));
    EXPECT_EQ(ReadBytes(Disk(u"r2"_s)), "r");
    EXPECT_TRUE(Ftp->FtpFileExists(u"r2"_s));
    EXPECT_FALSE(Ftp->FtpFileExists(u"r1"_s));
    EXPECT_FALSE(Ftp->RenameFile(u"r1"_s, u"r3"_s, true));
    EXPECT_TRUE(Ftp->GetIndyError().startsWith(u"Reported error: 550"_s));

    EXPECT_TRUE(Ftp->DeleteFile(u"r2"_s, true));
    EXPECT_FALSE(QFileInfo::exists(Disk(u"r2"_s)));
    EXPECT_FALSE(Ftp->DeleteFile(u"r2"_s, true));
    EXPECT_TRUE(Ftp->GetIndyError().startsWith(u"Reported error: 550"_s));
    EXPECT_EQ(Ftp->DeleteExistingFile(u"none"_s), 0);
    EXPECT_EQ(Ftp->DeleteExistingFile(u"gone"_s), 1);
    EXPECT_FALSE(QFileInfo::exists(Disk(u"gone"_s)));

    const QString start = Ftp->CurrentDir();
    EXPECT_EQ(Ftp->DeleteSubDirFile(u"d/e"_s, u"f"_s), 1);
    EXPECT_FALSE(QFileInfo::exists(Disk(u"d/e/f"_s)));
    EXPECT_EQ(Ftp->DeleteSubDirFile(u"d/e"_s, u"f"_s), 2);
    EXPECT_EQ(Ftp->DeleteSubDirFile(u"missing"_s, u"f"_s), 0);
    EXPECT_EQ(Ftp->GetCurrentDir(), start);
    EXPECT_EQ(Ftp->CurrentDir(), start);
}

// A deletion the server refuses inside the subdirectory: the client still
// returns to where it was.
TEST_P(ExtFtpOps, DeleteSubDirFileReturnsAfterAnError)
{
    if (!Peer)
        return;
    MakeDirs({u"d/e"_s});
    MakeFile(u"d/e/locked"_s);
    const QByteArray path = Disk(u"d/e/locked"_s).toUtf8();
    if (std::system(("chattr +i '" + path + "' 2>/dev/null").constData()) != 0)
        GTEST_SKIP() << "chattr +i does not work here";
    struct TUnlock {
        QByteArray Path;
        ~TUnlock() { (void)std::system(("chattr -i '" + Path + "'").constData()); }
    } unlock{path};
    const QString start = Ftp->CurrentDir();
    EXPECT_EQ(Ftp->DeleteSubDirFile(u"d/e"_s, u"locked"_s), 0);
    EXPECT_TRUE(Ftp->GetIndyError().startsWith(u"Reported error: 550"_s));
    EXPECT_EQ(Ftp->GetCurrentDir(), start);
    EXPECT_EQ(Ftp->CurrentDir(), start);
}

TEST_P(ExtFtpOps, ListsHoldLocalNames)
{
    if (!Peer)
        return;
    Ftp->SetReplaceChars(u":"_s);
    Ftp->SetCaseMode(TTextChange::tcLower);
    const QString local = MakeTempDir(u"src"_s) + u"/f.bin"_s;
    WriteBytes(local, "12345");
    EXPECT_EQ(Ftp->CopyFile(local, u"Big:One.TXT"_s), ftpOk);
    EXPECT_EQ(ReadBytes(Disk(u"big%003aone.txt"_s)), "12345");
    ASSERT_TRUE(Ftp->ForceDir(u"Sub:Dir"_s));
    ASSERT_TRUE(Ftp->ForceDirUp());
    EXPECT_TRUE(QFileInfo(Disk(u"sub%003adir"_s)).isDir());
    MakeFile(u"UPPER.txt"_s);

    ASSERT_TRUE(Ftp->GetFileList());
    QStringList names;
    for (int32_t i = 0; i < Ftp->FileList().Count(); ++i)
        names << Ftp->FileList().Strings(i);
    names.sort();
    EXPECT_EQ(names, QStringList({u"UPPER.txt"_s, u"big:one.txt"_s}));
    const int32_t i = Ftp->FileList().IndexOf(u"big:one.txt"_s);
    ASSERT_GE(i, 0);
    EXPECT_EQ(Ftp->FileList().Objects(i)->FFileName, u"big%003aone.txt"_s);
    EXPECT_EQ(Ftp->GetSize(u"Big:One.TXT"_s), 5);
    EXPECT_FALSE(Ftp->CheckSize(u"big:one.txt"_s, 5));
    EXPECT_TRUE(Ftp->FtpFileExists(u"BIG:ONE.txt"_s));
    // Names are sent lower-cased: an upper-case name on the server is out
    // of reach.
    EXPECT_FALSE(Ftp->FtpFileExists(u"UPPER.txt"_s));

    TDirectoryList dirs;
    ASSERT_TRUE(Ftp->GetDirList(dirs));
    ASSERT_EQ(dirs.Count(), 1);
    EXPECT_EQ(dirs.Strings(0), u"sub:dir"_s);
    EXPECT_TRUE(Ftp->FtpDirExists(u"Sub:Dir"_s));

    EXPECT_EQ(Ftp->DeleteMatchingFiles(u"*.txt"_s), 2);
    EXPECT_FALSE(QFileInfo::exists(Disk(u"big%003aone.txt"_s)));
    EXPECT_TRUE(QFileInfo::exists(Disk(u"UPPER.txt"_s))); // sent as "upper.txt"
}

TEST_P(ExtFtpOps, TransfersRoundTrip)
{
    if (!Peer)
        return;
    const QByteArray data = RandomBytes(1 << 20);
    const QString dir = MakeTempDir(u"src"_s);
    WriteBytes(dir + u"/big.bin"_s, data);
    ASSERT_TRUE(Ftp->ForceDir(u"up"_s));
    EXPECT_EQ(Ftp->CopyFile(dir + u"/big.bin"_s, u"big.bin"_s), ftpOk);
    EXPECT_EQ(ReadBytes(Disk(u"up/big.bin"_s)), data);

    TMemoryStream small(QByteArray("second"));
    small.SetPosition(3); // STOR sends the whole stream
    EXPECT_EQ(Ftp->Flush(small, u"small.bin"_s, false), ftpOk);
    EXPECT_EQ(ReadBytes(Disk(u"up/small.bin"_s)), "second");

    TMemoryStream down;
    EXPECT_EQ(Ftp->Fill(u"big.bin"_s, down), ftpOk);
    EXPECT_EQ(down.Position(), 0);
    EXPECT_EQ(down.Data(), data);

    TMemoryStream none;
    EXPECT_EQ(Ftp->Fill(u"missing.bin"_s, none), ftpReadError);
    EXPECT_TRUE(Ftp->GetIndyError().startsWith(u"Reported error: 550"_s));
    EXPECT_EQ(Ftp->CopyFile(dir + u"/missing.bin"_s, u"x.bin"_s), ftpSourceMissing);
}

TEST_P(ExtFtpOps, ForcedUtf8Names)
{
    if (!Peer)
        return;
    TFtpParams p = Params(*Peer);
    p.ForceUtf8 = true;
    p.UseOpts = true;
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *Peer, p));
    EXPECT_EQ(ftp->GetEncoding(), TFtpEncoding::feUtf8);
    EXPECT_TRUE(LogOf(*ftp).contains("Sent: OPTS UTF8 ON"));
    TMemoryStream s(QByteArray("u"));
    EXPECT_EQ(ftp->Flush(s, u"\u00e9t\u00e9 \u20ac.txt"_s, false), ftpOk);
    EXPECT_EQ(ReadBytes(Disk(u"\u00e9t\u00e9 \u20ac.txt"_s)), "u");
    ASSERT_TRUE(ftp->GetFileList());
    EXPECT_GE(ftp->FileList().IndexOf(u"\u00e9t\u00e9 \u20ac.txt"_s), 0);
}

TEST_P(ExtFtpOps, RemoteTimes)
{
    if (!Peer)
        return;
    TScopedTimeZone zone("Europe/Berlin");
    MakeFile(u"t.bin"_s);
    const TDateTime t = LocalTime(2020, 5, 6, 7, 8, 9);
    const double sec = 1.0 / 86400;
    if (GetParam() == TServer::Proftpd) {
        EXPECT_TRUE(Ftp->SetTimeStamp(u"t.bin"_s, t, false));
    } else {
        // This server cannot set times; they are set on its disk.
        EXPECT_FALSE(Ftp->SetTimeStamp(u"t.bin"_s, t, false));
        SetDiskMTime(Disk(u"t.bin"_s), UnixOfLocal(t));
    }
    EXPECT_EQ(DiskMTime(Disk(u"t.bin"_s)), UnixOfLocal(t));
    ASSERT_TRUE(Ftp->GetFileList());
    TFileTime ft = 0;
    ASSERT_TRUE(LocalDateTimeToFileTime(ft, t));
    const TDateTime utc = FileTimeToUtcDateTime(ft);
    EXPECT_NEAR(Ftp->GetTimeStamp(u"t.bin"_s, true), utc, 0.5 * sec);
    EXPECT_NEAR(Ftp->GetModTime(u"t.bin"_s, true), utc, 0.5 * sec);
    // Local times only where the server is known to speak UTC.
    const bool localToo = GetParam() == TServer::Proftpd;
    for (const bool gmt : {true, false}) {
        if (!gmt && !localToo)
            continue;
        SCOPED_TRACE(gmt ? "UTC" : "local");
        const TDateTime remote = gmt ? utc : t;
        // The remote time 2 s older, 3 s older, 3 s newer; tolerance 2 s.
        const std::pair<TDateTime, int32_t> cases[] = {{remote + 2 * sec, 2}, {remote + 3 * sec, 1}, {remote - 3 * sec, 3}};
        for (const auto &[tm, expected] : cases) {
            TDateTime fdt = 0;
            EXPECT_EQ(Ftp->CheckTimeStamp(u"t.bin"_s, tm, 2, fdt, gmt), expected);
            EXPECT_NEAR(fdt, remote, 0.5 * sec);
        }
    }
    if (localToo) {
        EXPECT_NEAR(Ftp->GetTimeStamp(u"t.bin"_s, false), t, 0.5 * sec);
        EXPECT_NEAR(Ftp->GetModTime(u"t.bin"_s, false), t, 0.5 * sec);
        TFileTime local = Ftp->GetLocalFileTime(u"t.bin"_s);
        TFileTime expected = 0;
        ASSERT_TRUE(UtcDateTimeToFileTime(expected, t));
        EXPECT_EQ(local / kFileTimeTicksPerSecond, expected / kFileTimeTicksPerSecond);
    }
    TDateTime fdt = 5;
    EXPECT_EQ(Ftp->CheckTimeStamp(u"none.bin"_s, t, 2, fdt, true), 0);
    EXPECT_EQ(fdt, 0);
}

TEST(ExtFtpTimes, SetFromFileWithFutureRuleAndOffset)
{
    VL_START_PEER(peer, StartProftpd());
    TScopedTimeZone zone("Europe/Berlin");
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    WriteBytes(peer->Root + u"/f.bin"_s, "f");
    const QString local = MakeTempDir(u"src"_s) + u"/f.bin"_s;
    WriteBytes(local, "f");

    const int64_t now = QDateTime::currentSecsSinceEpoch();
    SetDiskMTime(local, now + 2 * 86400);
    EXPECT_TRUE(ftp->SetTimeStampFromFile(local, u"f.bin"_s, true));
    EXPECT_NEAR(double(DiskMTime(peer->Root + u"/f.bin"_s)), double(now), 60);
    EXPECT_TRUE(ftp->SetTimeStampFromFile(local, u"f.bin"_s, false));
    EXPECT_EQ(DiskMTime(peer->Root + u"/f.bin"_s), now + 2 * 86400);

    TFtpParams p = Params(*peer);
    p.UseTimeOffset = true;
    p.TimeOffset = 90;
    ftp->SetParams(p);
    const TDateTime t = LocalTime(2021, 1, 2, 3, 4, 5);
    EXPECT_TRUE(ftp->SetTimeStamp(u"f.bin"_s, t, false));
    EXPECT_EQ(DiskMTime(peer->Root + u"/f.bin"_s), UnixOfLocal(t) + 90 * 60);
    TFileTime ft = 0;
    ASSERT_TRUE(LocalDateTimeToFileTime(ft, t));
    EXPECT_TRUE(ftp->SetTimeStamp(u"f.bin"_s, FileTimeToUtcDateTime(ft), true)); // UTC form: no offset
    EXPECT_EQ(DiskMTime(peer->Root + u"/f.bin"_s), UnixOfLocal(t));
}

INSTANTIATE_TEST_SUITE_P(Servers, ExtFtpOps, testing::Values(TServer::Proftpd, TServer::PyFtpd), ServerName);

// ---- Broken connections and refusals (pyftpdlib faults) ---------------------

TEST(ExtFtpFaults, UploadDroppedMidwayIsRepeatedFromTheStart)
{
    TPyFaults faults;
    faults.DropAfterBytes = 100000;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    ASSERT_TRUE(ftp->ForceDir(u"sub"_s));
    const QByteArray data = RandomBytes(600000);
    TMemoryStream s(data);
    EXPECT_EQ(ftp->Flush(s, u"up.bin"_s, false), ftpOk);
    EXPECT_EQ(ReadBytes(peer->Root + u"/sub/up.bin"_s), data); // back in the directory after the reconnect
    EXPECT_EQ(ftp->CurrentDir(), u"/sub"_s);
    const QByteArray log = LogOf(*ftp);
    EXPECT_EQ(CountLines(log, "Err : Trying to reconnect - "), 1) << log.constData();
    EXPECT_EQ(CountLines(log, "Sent: STOR up.bin"), 2);
}

TEST(ExtFtpFaults, DownloadDroppedMidwayKeepsNoPartialData)
{
    TPyFaults faults;
    faults.DropAfterBytes = 100000;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    const QByteArray data = RandomBytes(600000);
    WriteBytes(peer->Root + u"/down.bin"_s, data);
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    TMemoryStream s(QByteArray("HEAD"));
    s.Seek(0, TSeekOrigin::soEnd);
    EXPECT_EQ(ftp->Fill(u"down.bin"_s, s), ftpOk);
    EXPECT_EQ(s.Data().size(), data.size() + 4);
    EXPECT_TRUE(s.Data() == "HEAD" + data);
    EXPECT_EQ(s.Position(), 0);
    const QByteArray log = LogOf(*ftp);
    EXPECT_EQ(CountLines(log, "Trying to reconnect"), 1) << log.constData();
    EXPECT_EQ(CountLines(log, "Sent: RETR down.bin"), 2);
}

TEST(ExtFtpFaults, ConnectionThatKeepsBreakingGivesUp)
{
    TPyFaults faults;
    faults.DropAfterBytes = 50000;
    faults.DropTransfers = 100;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    TMemoryStream s(RandomBytes(200000));
    EXPECT_EQ(ftp->Flush(s, u"up.bin"_s, false), ftpConnectionLost);
    const QByteArray log = LogOf(*ftp);
    EXPECT_EQ(CountLines(log, "Sent: STOR up.bin"), 1 + kFtpMaxReconnects);
    EXPECT_EQ(CountLines(log, "Trying to reconnect"), kFtpMaxReconnects);
}

TEST(ExtFtpFaults, PermanentRefusalIsNotRepeated)
{
    for (const QString &reply : {u"552 Quota exceeded"_s, u"452 Insufficient storage"_s}) {
        SCOPED_TRACE(reply.toStdString());
        TPyFaults faults;
        faults.StorReply = reply;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        auto ftp = MakeClient(false);
        ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
        TMemoryStream s(QByteArray("data"));
        EXPECT_EQ(ftp->Flush(s, u"up.bin"_s, false), ftpWriteError);
        EXPECT_EQ(ftp->GetIndyError(), u"Reported error: "_s + reply);
        const QByteArray log = LogOf(*ftp);
        EXPECT_EQ(CountLines(log, "Sent: STOR up.bin"), 1);
        EXPECT_FALSE(log.contains("Trying to reconnect"));
    }
}

TEST(ExtFtpFaults, AbortedTransferIsNotRepeated)
{
    VL_START_PEER(peer, StartPyFtpd());
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    TExtFtp *client = ftp.get();
    ftp->OnWork = [client](bool, int64_t ACount) {
        if (ACount > 100000)
            client->AbortTransfer();
    };
    TMemoryStream s(RandomBytes(1 << 21));
    EXPECT_EQ(ftp->Flush(s, u"up.bin"_s, false), ftpConnectionLost); // the broken attempt's code
    const QByteArray log = LogOf(*ftp);
    EXPECT_EQ(CountLines(log, "Sent: STOR up.bin"), 1);
    EXPECT_FALSE(log.contains("Trying to reconnect"));
}

// A final reply of 400 or more after all the data: a 4xx is tried again
// (within the bound), a 5xx is not.
struct TFinalReplyCase {
    const char *Name;
    bool Upload;
    QString Reply;
    int32_t Replies; // transfers that end with Reply
    int32_t Code;
    int Attempts;
};

TEST(ExtFtpFaults, FinalReplyAfterTheData)
{
    const TFinalReplyCase cases[] = {
        {"upload, 4xx once", true, u"451 Disk busy"_s, 1, ftpOk, 2},
        {"upload, 4xx always", true, u"451 Disk busy"_s, 100, ftpWriteError, 1 + kFtpMaxReconnects},
        {"upload, 5xx", true, u"552 Quota exceeded"_s, 100, ftpWriteError, 1},
        {"download, 4xx always", false, u"451 Disk busy"_s, 100, ftpReadError, 1 + kFtpMaxReconnects},
        {"download, 5xx", false, u"550 Gone"_s, 100, ftpReadError, 1},
    };
    const QByteArray data = RandomBytes(200000);
    for (const TFinalReplyCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPyFaults faults;
        faults.FinalReply = c.Reply;
        faults.FinalReplies = c.Replies;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        WriteBytes(peer->Root + u"/down.bin"_s, data);
        auto ftp = MakeClient(false);
        ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
        TMemoryStream s(c.Upload ? data : QByteArray());
        const int32_t code = c.Upload ? ftp->Flush(s, u"up.bin"_s, false) : ftp->Fill(u"down.bin"_s, s);
        EXPECT_EQ(code, c.Code);
        if (code == ftpOk)
            EXPECT_EQ(ReadBytes(peer->Root + u"/up.bin"_s), data);
        else
            EXPECT_TRUE(ftp->GetIndyError().endsWith(c.Reply));
        const QByteArray log = LogOf(*ftp);
        EXPECT_EQ(CountLines(log, c.Upload ? "Sent: STOR up.bin" : "Sent: RETR down.bin"), c.Attempts) << log.constData();
        EXPECT_EQ(CountLines(log, "Trying to reconnect"), c.Attempts - 1);
    }
}

// The connection breaks while an operation works in a subdirectory: the
// reconnect comes back to that subdirectory, not to the directory the
// operation started in, which holds entries of the same names.
struct TSubDirDropCase {
    const char *Name;
    QString DropCommand;
    int32_t Skip;
    QStringList Files; // made below the server's root
    std::function<void(TExtFtp &AFtp, const QString &ARoot)> Run;
};

TEST(ExtFtpFaults, ReconnectInASubdirectoryReturnsThere)
{
    const TSubDirDropCase cases[] = {
        {"DeleteSubDirFile", u"LIST"_s, 0, {u"x"_s, u"d/x"_s},
         [](TExtFtp &AFtp, const QString &ARoot) {
             EXPECT_EQ(AFtp.DeleteSubDirFile(u"d"_s, u"x"_s), 1);
             EXPECT_FALSE(QFileInfo::exists(ARoot + u"/d/x"_s));
             EXPECT_TRUE(QFileInfo::exists(ARoot + u"/x"_s));
         }},
        {"DirFiles", u"LIST"_s, 0, {u"r"_s, u"c/f1"_s, u"c/f2"_s, u"c/f3"_s},
         [](TExtFtp &AFtp, const QString &) { EXPECT_EQ(AFtp.DirFiles(u"c"_s), 3); }},
        // Broken at the deletion of old/o1; the PWD on entering old/data
        // reconnects.
        {"DeleteTree", u"DELE o1"_s, 0, {u"old/o1"_s, u"old/data/f1"_s, u"data/f2"_s},
         [](TExtFtp &AFtp, const QString &ARoot) {
             int32_t files = 0;
             EXPECT_FALSE(AFtp.DeleteTree(u"old"_s, true, files)); // old/o1 stays
             EXPECT_EQ(files, 1);
             EXPECT_FALSE(QFileInfo::exists(ARoot + u"/old/data"_s));
             EXPECT_TRUE(QFileInfo::exists(ARoot + u"/data/f2"_s));
         }},
        // Broken at the listing of e after removing e/a.
        {"DeleteEmptyDirs", u"LIST"_s, 3, {u"e/a/"_s},
         [](TExtFtp &AFtp, const QString &ARoot) {
             int32_t dirs = 0;
             EXPECT_TRUE(AFtp.DeleteEmptyDirs(u"e"_s, true, dirs, {}));
             EXPECT_EQ(dirs, 2);
             EXPECT_FALSE(QFileInfo::exists(ARoot + u"/e"_s));
         }},
        // The reconnect lists the directory with the file still in it.
        {"DeleteFile", u"DELE x"_s, 0, {u"x"_s},
         [](TExtFtp &AFtp, const QString &ARoot) {
             EXPECT_TRUE(AFtp.DeleteFile(u"x"_s, true));
             EXPECT_FALSE(QFileInfo::exists(ARoot + u"/x"_s));
             EXPECT_FALSE(AFtp.FtpFileExists(u"x"_s));
         }},
    };
    for (const TSubDirDropCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TPyFaults faults;
        faults.DropCommand = c.DropCommand;
        faults.DropCommandSkip = c.Skip;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        for (const QString &f : c.Files) {
            ASSERT_TRUE(QDir().mkpath(peer->Root + u'/' + ExtractFtpDir(f)));
            if (!f.endsWith(u'/'))
                WriteBytes(peer->Root + u'/' + f, "f");
        }
        auto ftp = MakeClient(false);
        ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
        c.Run(*ftp, peer->Root);
        EXPECT_EQ(ftp->CurrentDir(), u"/"_s);
        EXPECT_EQ(ftp->GetCurrentDir(), u"/"_s);
        const QByteArray log = LogOf(*ftp);
        EXPECT_EQ(CountLines(log, "Trying to reconnect"), 1) << log.constData();
    }
}

// A 257 reply that quotes more after the path: the path is the first quoted
// text.
TEST(ExtFtpFaults, NewDirectoryFromAReplyQuotingMore)
{
    TPyFaults faults;
    faults.MkdReply = u"257 \"{path}\" created; \"CWD\" enters it."_s;
    VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
    auto ftp = MakeClient(false);
    ASSERT_TRUE(Connect(*ftp, *peer, Params(*peer)));
    EXPECT_EQ(ftp->ChangeToNewDir(u"new"_s), 1);
    EXPECT_EQ(ftp->CurrentDir(), u"/new"_s);
    EXPECT_TRUE(QFileInfo(peer->Root + u"/new"_s).isDir());
}

} // namespace
} // namespace vl
