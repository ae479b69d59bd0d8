// The FTP client's layer without a real server: listing parsers, text
// encodings, the socket's time-outs and abort, and the protocol dialogue
// against a scripted peer (replies, login with proxies, TLS refusals).
#include "engine/FtpClient.h"

#include "common/TestUtils.h"
#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace vl {
namespace {

using namespace std::chrono;
using TKind = ENetError::TKind;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return EncodeDateTime(y, mo, d, h, mi, s, ms);
}

void ExpectTime(TDateTime AActual, TDateTime AExpected, const char *ALine)
{
    EXPECT_NEAR(AActual, AExpected, 0.5 / 86400000.0)
        << ALine << ": " << FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn:ss.zzz"), AActual).toStdString();
}

// ---- LIST lines -------------------------------------------------------------

struct TListCase {
    const char *Line;
    const char *Name;
    TFtpItemType Type;
    int64_t Size;
    TDateTime When;
};

TEST(FtpListParse, UnixAndDosLines)
{
    const TDateTime today = At(2024, 6, 1, 12, 0);
    const TListCase cases[] = {
        {"-rw-r--r--   1 owner    group        1234 Jan 15  2023 report.txt", "report.txt", TFtpItemType::ditFile, 1234,
         At(2023, 1, 15)},
        {"-rw-r--r--   1 owner    group     5000000000 Mar  3 14:07 big.iso", "big.iso", TFtpItemType::ditFile,
         5000000000LL, At(2024, 3, 3, 14, 7)},
        // A time of day later in the year than today: last year.
        {"-rw-r--r--   1 owner    group          10 Dec 24 10:00 xmas", "xmas", TFtpItemType::ditFile, 10,
         At(2023, 12, 24, 10, 0)},
        {"-rw-r--r--    1 1000     1000           42 Feb 29  2024 leap", "leap", TFtpItemType::ditFile, 42,
         At(2024, 2, 29)},
        {"-rw-------   1 ftp           999 jan  1  2020 nogroup.bin", "nogroup.bin", TFtpItemType::ditFile, 999,
         At(2020, 1, 1)},
        {"lrwxrwxrwx   1 root     root           11 Jan  1  2020 latest -> backup-2020", "latest",
         TFtpItemType::ditSymbolicLink, 11, At(2020, 1, 1)},
        {"-rw-r--r--   1 u        g              10 Jan  1  2020 my file  with blanks.txt ",
         "my file  with blanks.txt ", TFtpItemType::ditFile, 10, At(2020, 1, 1)},
        {"drwxr-xr-x+  2 u        g            4096 Feb  1 12:00 sub dir", "sub dir", TFtpItemType::ditDirectory, 4096,
         At(2024, 2, 1, 12, 0)},
        {"drwxr-xr-x   2 u        g            4096 Feb  1  2021 ..", "..", TFtpItemType::ditDirectory, 4096,
         At(2021, 2, 1)},
        // A group named like a month and a name that looks like a date.
        {"-rw-r--r--   1 u        Mar             7 Apr  2  2022 5 Jan 3 2020 x", "5 Jan 3 2020 x",
         TFtpItemType::ditFile, 7, At(2022, 4, 2)},
        {"-rw-r--r-- 1 u g 5 2023-07-04 09:30 iso.txt", "iso.txt", TFtpItemType::ditFile, 5, At(2023, 7, 4, 9, 30)},
        {"prw-r--r--   1 u        g               0 Jan  1  2020 fifo", "fifo", TFtpItemType::ditOther, 0,
         At(2020, 1, 1)},
        {"01-31-24  02:15PM       <DIR>          Backup Folder", "Backup Folder", TFtpItemType::ditDirectory, 0,
         At(2024, 1, 31, 14, 15)},
        {"12-05-99  12:00AM              12345 old file.zip\r", "old file.zip", TFtpItemType::ditFile, 12345,
         At(1999, 12, 5, 0, 0)},
        {"07-04-2023  23:59                  1 a", "a", TFtpItemType::ditFile, 1, At(2023, 7, 4, 23, 59)},
    };
    for (const TListCase &c : cases) {
        TFtpListItem item;
        ASSERT_TRUE(ParseListLine(QString::fromUtf8(c.Line), item, today)) << c.Line;
        EXPECT_EQ(item.FileName, QString::fromUtf8(c.Name)) << c.Line;
        EXPECT_EQ(item.ItemType, c.Type) << c.Line;
        EXPECT_EQ(item.Size, c.Size) << c.Line;
        ExpectTime(item.ModifiedDate, c.When, c.Line);
        // The server's zone is unknown: both times are the listed one.
        EXPECT_EQ(item.ModifiedDateGMT, item.ModifiedDate) << c.Line;
    }
}

TEST(FtpListParse, NonEntriesAreRefused)
{
    const char *lines[] = {
        "total 12",
        "",
        "   ",
        "Hello world, this is no listing",
        "-rw-r--r--   1 u g abc Jan  1  2020 size-not-a-number",
        "drwxr-xr-x   2 u g 4096 Foo  1  2020 no-month",
        "-rw-r--r--   1 u g 10 Jan  1  2020 ",
        "-rw-r--r--   1 u g 10 Feb 30  2020 no-such-day",
        "13-45-24  02:15PM  <DIR>  bad-date",
        "01-31-24  13:15PM  <DIR>  bad-hour",
    };
    for (const char *line : lines) {
        TFtpListItem item;
        EXPECT_FALSE(ParseListLine(QString::fromUtf8(line), item, At(2024, 6, 1))) << line;
    }
}

// ---- MLSD lines -------------------------------------------------------------

TEST(FtpListParse, MlsdLines)
{
    test::TScopedTimeZone tz("Europe/Berlin");
    struct TCase {
        const char *Line;
        const char *Name;
        TFtpItemType Type;
        int64_t Size;
        TDateTime Gmt;
        TDateTime Local;
    };
    const TCase cases[] = {
        {"type=file;size=1024;modify=20240131142530; file name.txt", "file name.txt", TFtpItemType::ditFile, 1024,
         At(2024, 1, 31, 14, 25, 30), At(2024, 1, 31, 15, 25, 30)},
        {"type=dir;sizd=4096;modify=20240731142530.123; dir", "dir", TFtpItemType::ditDirectory, 4096,
         At(2024, 7, 31, 14, 25, 30, 123), At(2024, 7, 31, 16, 25, 30, 123)},
        {"type=cdir;perm=el;modify=20240101000000; /home/velkor", ".", TFtpItemType::ditDirectory, 0,
         At(2024, 1, 1), At(2024, 1, 1, 1, 0)},
        {"type=pdir; ..", "..", TFtpItemType::ditDirectory, 0, 0, 0},
        {"type=OS.unix=slink:/srv/target;size=6; link", "link", TFtpItemType::ditSymbolicLink, 6, 0, 0},
        {"Type=File;Size=7;UNIX.mode=0644;unique=fd01g2;x.custom=a,b; weird;name", "weird;name",
         TFtpItemType::ditFile, 7, 0, 0},
        {"type=OS.unix=chr-4/1;size=0; tty", "tty", TFtpItemType::ditOther, 0, 0, 0},
        {"type=file;modify=2024013114; short-time", "short-time", TFtpItemType::ditFile, 0, 0, 0},
        {"type=file;size=3; trailing blank \r\n", "trailing blank ", TFtpItemType::ditFile, 3, 0, 0},
    };
    for (const TCase &c : cases) {
        TFtpListItem item;
        ASSERT_TRUE(ParseMlsdLine(QString::fromUtf8(c.Line), item)) << c.Line;
        EXPECT_EQ(item.FileName, QString::fromUtf8(c.Name)) << c.Line;
        EXPECT_EQ(item.ItemType, c.Type) << c.Line;
        EXPECT_EQ(item.Size, c.Size) << c.Line;
        ExpectTime(item.ModifiedDateGMT, c.Gmt, c.Line);
        ExpectTime(item.ModifiedDate, c.Local, c.Line);
    }
    const char *garbage[] = {
        "total 3",
        "drwxr-xr-x   2 u g 4096 Jan  1  2020 unix-line",
        "type=file;size=1;",
        "type=file;size=1; ",
        "garbage;fact; x",
        "",
    };
    for (const char *line : garbage) {
        TFtpListItem item;
        EXPECT_FALSE(ParseMlsdLine(QString::fromUtf8(line), item)) << line;
    }
}

// ---- text encodings ---------------------------------------------------------

TEST(FtpClientText, EncodingsOfTheCommandChannel)
{
    TFtpClient c;
    const QByteArray latin = "caf\xE9 \xFF";
    c.SetEncoding(TFtpTextEncoding::Latin1);
    EXPECT_EQ(c.DecodeText(latin), QString::fromUtf8("café ÿ"));
    EXPECT_EQ(c.EncodeText(c.DecodeText(latin)), latin);
    EXPECT_EQ(c.EncodeText(QString::fromUtf8("€")), QByteArray("?"));

    // UTF-8: names that are no valid UTF-8 come back byte for byte.
    c.SetEncoding(TFtpTextEncoding::UTF8);
    EXPECT_EQ(c.DecodeText("caf\xC3\xA9"), QString::fromUtf8("café"));
    EXPECT_EQ(c.EncodeText(c.DecodeText(latin)), latin);
    EXPECT_EQ(c.EncodeText(QString::fromUtf8("€")), QByteArray("\xE2\x82\xAC"));

    c.SetEncoding(TFtpTextEncoding::ASCII);
    EXPECT_EQ(c.DecodeText(latin), QStringLiteral("caf? ?"));
    EXPECT_EQ(c.EncodeText(QString::fromUtf8("café")), QByteArray("caf?"));
}

// ---- a scripted peer -------------------------------------------------------

// Listens on 127.0.0.1; for the first connection it sends the greeting,
// then answers each line received with the next scripted reply (and
// closes when the script ends). AStall: never send anything.
class TScriptedPeer {
public:
    explicit TScriptedPeer(QList<QByteArray> AReplies, bool AStall = false) : FReplies(std::move(AReplies))
    {
        FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(bind(FListen, reinterpret_cast<sockaddr *>(&a), len), 0);
        EXPECT_EQ(listen(FListen, 4), 0);
        getsockname(FListen, reinterpret_cast<sockaddr *>(&a), &len);
        Port = ntohs(a.sin_port);
        FThread = std::thread([this, AStall] { Run(AStall); });
    }
    ~TScriptedPeer()
    {
        shutdown(FListen, SHUT_RDWR);
        if (FConn >= 0)
            shutdown(FConn, SHUT_RDWR);
        FThread.join();
        close(FListen);
        if (FConn >= 0)
            close(FConn);
    }
    QList<QByteArray> Received()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FReceived;
    }
    uint16_t Port = 0;

private:
    void Send(const QByteArray &AReply)
    {
        const QByteArray data = AReply + "\r\n";
        (void)!send(FConn, data.constData(), size_t(data.size()), MSG_NOSIGNAL);
    }
    void Run(bool AStall)
    {
        FConn = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (FConn < 0)
            return;
        if (AStall) {
            char c;
            while (recv(FConn, &c, 1, 0) > 0) {
            }
            return;
        }
        qsizetype next = 0;
        Send(FReplies.value(next++));
        if (next >= FReplies.size()) {
            shutdown(FConn, SHUT_RDWR);
            return;
        }
        QByteArray pending;
        char buf[512];
        for (;;) {
            const ssize_t n = recv(FConn, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            pending.append(buf, n);
            qsizetype end;
            while ((end = pending.indexOf("\r\n")) >= 0) {
                {
                    std::lock_guard<std::mutex> lock(FLock);
                    FReceived << pending.left(end);
                }
                pending.remove(0, end + 2);
                if (next >= FReplies.size()) {
                    shutdown(FConn, SHUT_RDWR);
                    return;
                }
                Send(FReplies.value(next++));
            }
        }
    }
    QList<QByteArray> FReplies;
    QList<QByteArray> FReceived;
    std::mutex FLock;
    int FListen = -1;
    int FConn = -1;
    std::thread FThread;
};

const QByteArray kFeat = "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n UTF8\r\n211 End";

// Collects the dialogue as the protocol log would show it.
class TLines : public TProtocolSink {
public:
    void Sent(const QByteArray &ALine) override { Out << ALine; }
    void Received(const QByteArray &ALine) override { In << ALine; }
    QList<QByteArray> Out, In;
};

TEST(FtpClientDialogue, LoginFeaturesAndMultiLineReplies)
{
    TScriptedPeer peer({"220-Welcome\r\n220-to the test\r\n220 server", "331 Password please", "230 Logged in", kFeat,
                        "200 Binary", "257 \"/home/a \"\"quoted\"\" dir\" is current", "221 Bye"});
    TFtpClient c;
    TLines log;
    c.SetProtocolSink(&log);
    c.Host = QStringLiteral("127.0.0.1");
    c.Port = peer.Port;
    c.Username = QStringLiteral("velkor");
    c.Password = "pa ss";
    c.Connect();
    EXPECT_TRUE(c.Connected());
    EXPECT_EQ(c.ServerDescription(), QStringLiteral("Welcome"));
    EXPECT_EQ(c.Capabilities(), QStringList({QStringLiteral("MDTM"), QStringLiteral("MLST type*;size*;modify*;"),
                                             QStringLiteral("UTF8")}));
    EXPECT_TRUE(c.HasFeatures());
    EXPECT_TRUE(c.SupportsFeature(QStringLiteral("mlst")));
    EXPECT_FALSE(c.SupportsFeature(QStringLiteral("MFMT")));
    EXPECT_EQ(c.FeatureIndex(QStringLiteral("utf8")), 2);
    EXPECT_TRUE(c.CanUseMLS());
    c.UseMLIS = false;
    EXPECT_FALSE(c.CanUseMLS());
    EXPECT_EQ(c.Pwd(), QStringLiteral("/home/a \"quoted\" dir"));
    c.Disconnect();
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(peer.Received(), QList<QByteArray>({"USER velkor", "PASS pa ss", "FEAT", "TYPE I", "PWD", "QUIT"}));
    // The password never reaches the protocol log.
    EXPECT_EQ(log.Out, QList<QByteArray>({"USER velkor", "PASS ***", "FEAT", "TYPE I", "PWD", "QUIT"}));
}

TEST(FtpClientDialogue, LoginThroughProxies)
{
    struct TCase {
        TIdFtpProxyType Mode;
        QList<QByteArray> Replies; // after the greeting
        QList<QByteArray> Expected;
    };
    const QList<TCase> cases = {
        {TIdFtpProxyType::fpcmUserSite,
         {"331 p", "230 proxy ok", "331 p", "230 ok"},
         {"USER puser", "PASS ppass", "USER velkor@ftp.example:2121", "PASS secret"}},
        {TIdFtpProxyType::fpcmSite,
         {"331 p", "230 proxy ok", "220 connected", "331 p", "230 ok"},
         {"USER puser", "PASS ppass", "SITE ftp.example:2121", "USER velkor", "PASS secret"}},
        {TIdFtpProxyType::fpcmUserPass,
         {"331 p", "230 ok"},
         {"USER velkor@puser@ftp.example:2121", "PASS secret@ppass"}},
        {TIdFtpProxyType::fpcmUserHostFireWallID,
         {"331 p", "332 account", "230 ok"},
         {"USER velkor@ftp.example:2121 puser", "PASS secret", "ACCT ppass"}},
    };
    for (const TCase &tc : cases) {
        QList<QByteArray> replies = {"220 proxy"};
        replies << tc.Replies << "500 no FEAT" << "200 ok";
        TScriptedPeer proxy(replies);
        TFtpClient c;
        c.Host = QStringLiteral("ftp.example");
        c.Port = 2121;
        c.Username = QStringLiteral("velkor");
        c.Password = "secret";
        c.UseHOST = true; // not sent through FTP proxies: the login names the server
        c.ProxySettings.ProxyType = tc.Mode;
        c.ProxySettings.Host = QStringLiteral("127.0.0.1");
        c.ProxySettings.Port = proxy.Port;
        c.ProxySettings.UserName = QStringLiteral("puser");
        c.ProxySettings.Password = "ppass";
        c.Connect();
        EXPECT_FALSE(c.HasFeatures());
        EXPECT_EQ(proxy.Received(), tc.Expected + QList<QByteArray>({"FEAT", "TYPE I"})) << int(tc.Mode);
    }

    TFtpClient custom;
    custom.Host = QStringLiteral("ftp.example");
    custom.ProxySettings.ProxyType = TIdFtpProxyType::fpcmCustomProxy;
    try {
        custom.Connect();
        FAIL() << "a custom proxy connected";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::Protocol);
        EXPECT_EQ(e.Message, QStringLiteral("Custom FTP proxies are not supported."));
    }
}

TEST(FtpClientDialogue, NegativeRepliesRaiseWithTheirCode)
{
    TScriptedPeer peer({"220 hi", "331 p", "530 Login incorrect."});
    TFtpClient c;
    c.Host = QStringLiteral("127.0.0.1");
    c.Port = peer.Port;
    c.Username = QStringLiteral("velkor");
    try {
        c.Connect();
        FAIL() << "logged in";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::Protocol);
        EXPECT_EQ(e.ReplyCode, 530);
        EXPECT_EQ(e.Message, QStringLiteral("530 Login incorrect."));
    }
    EXPECT_FALSE(c.Connected());
}

TEST(FtpClientDialogue, LineBreaksInNamesNeverReachTheServer)
{
    TScriptedPeer peer({"220 hi", "230 ok", "500 no FEAT", "200 ok", "250 deleted"});
    TFtpClient c;
    c.Host = QStringLiteral("127.0.0.1");
    c.Port = peer.Port;
    c.Username = QStringLiteral("velkor");
    c.Connect();
    EXPECT_THROW(c.Delete(QStringLiteral("a\r\nDELE important")), ENetError);
    EXPECT_THROW(c.Delete(QStringLiteral("b\nRMD x")), ENetError);
    c.Delete(QStringLiteral("plain"));
    EXPECT_EQ(peer.Received(), QList<QByteArray>({"USER velkor", "FEAT", "TYPE I", "DELE plain"}));
}

TEST(FtpClientDialogue, TlsModesWithoutTlsOrRefusedByTheServer)
{
    QString error;
    const std::shared_ptr<TTlsContext> tls = TTlsContext::Create({}, {}, {}, {}, error);
    ASSERT_TRUE(tls) << error.toStdString();

    // No TLS context: no connection at all, never a silent plain one.
    for (TUseTls mode : {TUseTls::utUseExplicitTLS, TUseTls::utUseRequireTLS, TUseTls::utUseImplicitTLS}) {
        TScriptedPeer peer({"220 hi"});
        TFtpClient c;
        c.Host = QStringLiteral("127.0.0.1");
        c.Port = peer.Port;
        c.UseTLS = mode;
        try {
            c.Connect();
            FAIL() << "connected without TLS";
        } catch (const ENetError &e) {
            EXPECT_EQ(e.Message, QStringLiteral("Error creating SSL session."));
        }
        EXPECT_TRUE(peer.Received().isEmpty());
    }

    // Explicit TLS refused: goes on in plain text.
    {
        TScriptedPeer peer({"220 hi", "502 no TLS here", "331 p", "230 ok", "500 no FEAT", "200 ok"});
        TFtpClient c;
        c.SetTlsContext(tls);
        c.Host = QStringLiteral("127.0.0.1");
        c.Port = peer.Port;
        c.Username = QStringLiteral("u");
        c.Password = "p";
        c.UseTLS = TUseTls::utUseExplicitTLS;
        c.DataPortProtection = TDataPortProtection::ftpdpsPrivate;
        c.Connect();
        EXPECT_FALSE(c.ControlIsTls());
        EXPECT_EQ(peer.Received(), QList<QByteArray>({"AUTH TLS", "USER u", "PASS p", "FEAT", "TYPE I"}));
    }
    // Required TLS refused: no login.
    {
        TScriptedPeer peer({"220 hi", "502 no TLS here", "331 p"});
        TFtpClient c;
        c.SetTlsContext(tls);
        c.Host = QStringLiteral("127.0.0.1");
        c.Port = peer.Port;
        c.Username = QStringLiteral("u");
        c.UseTLS = TUseTls::utUseRequireTLS;
        try {
            c.Connect();
            FAIL() << "connected without TLS";
        } catch (const ENetError &e) {
            EXPECT_EQ(e.Kind, TKind::Protocol);
            EXPECT_EQ(e.ReplyCode, 502);
        }
        EXPECT_EQ(peer.Received(), QList<QByteArray>({"AUTH TLS"}));
    }
}

// ---- socket time-outs and abort ----------------------------------------------

TEST(FtpSocket, ReadTimesOutOnASilentPeer)
{
    TScriptedPeer peer({}, true);
    TSocket s;
    s.ReadTimeout = 300;
    s.Connect(QStringLiteral("127.0.0.1"), peer.Port, false);
    const auto start = steady_clock::now();
    try {
        s.ReadLine();
        FAIL() << "read something";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::ReadTimeout);
    }
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 3000);
}

TEST(FtpSocket, AbortBreaksABlockedReadFromAnotherThread)
{
    TScriptedPeer peer({}, true);
    TSocket s; // no time-out: only the abort ends the read
    s.Connect(QStringLiteral("127.0.0.1"), peer.Port, false);
    std::thread aborter([&s] {
        std::this_thread::sleep_for(milliseconds(200));
        s.Abort();
    });
    const auto start = steady_clock::now();
    try {
        char buf[16];
        s.Read(buf, sizeof buf);
        ADD_FAILURE() << "read something";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::SocketError);
    }
    aborter.join();
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 3000);
    EXPECT_FALSE(s.IsOpen());
    s.Close();
    // Usable again after Close.
    s.Connect(QStringLiteral("127.0.0.1"), peer.Port, false);
}

TEST(FtpSocket, RefusedConnectAndClosedPeer)
{
    int port;
    {
        TScriptedPeer gone({"220 bye"});
        port = gone.Port;
        TSocket s;
        s.Connect(QStringLiteral("127.0.0.1"), gone.Port, false);
        EXPECT_EQ(s.ReadLine(), QByteArray("220 bye"));
        try {
            s.ReadLine();
            ADD_FAILURE() << "read past the end";
        } catch (const ENetError &e) {
            EXPECT_EQ(e.Kind, TKind::ConnClosed);
        }
        EXPECT_FALSE(s.IsOpen());
    }
    TSocket s;
    try {
        s.Connect(QStringLiteral("127.0.0.1"), uint16_t(port), false);
        FAIL() << "connected to a closed port";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::SocketError);
    }
}

} // namespace
} // namespace vl
