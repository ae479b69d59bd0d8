// The protocol client under TExtFtp against real servers: TLS in both
// forms with the control session resumed on data connections, active
// mode, the certificate judged before the login, an abort from another
// thread, a stalling server and negative transfer replies.
#include "engine/FtpClient.h"

#include "common/TestUtils.h"
#include "ftp/FtpPeers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vl {
namespace {

using namespace vl::test;
using namespace std::chrono;
using TKind = ENetError::TKind;

QByteArray Payload(qsizetype ASize)
{
    QByteArray d(ASize, Qt::Uninitialized);
    for (qsizetype i = 0; i < ASize; ++i)
        d[i] = char((i * 31 + i / 251) & 0xFF);
    return d;
}

std::shared_ptr<TTlsContext> ClientTls()
{
    const TFtpCerts &certs = FtpCerts();
    QString error;
    auto ctx = TTlsContext::Create(certs.Dir + QStringLiteral("/velkorroot.pem"),
                                   certs.Dir + QStringLiteral("/velkor.crt"), certs.Dir + QStringLiteral("/velkor.key"),
                                   [&certs] { return certs.KeyPassword; }, error);
    EXPECT_TRUE(ctx) << error.toStdString();
    return ctx;
}

class TLines : public TProtocolSink {
public:
    void Sent(const QByteArray &ALine) override { Out << ALine; }
    void Received(const QByteArray &) override {}
    QList<QByteArray> Out;
};

void PrepareClient(TFtpClient &AClient, const TFtpPeer &APeer, TPeerTls ATls)
{
    AClient.Host = APeer.Host;
    AClient.Port = APeer.Port;
    AClient.Username = APeer.User;
    AClient.Password = APeer.Password;
    AClient.ReadTimeout = 10000;
    AClient.ListenTimeout = 10000;
    if (ATls != TPeerTls::None) {
        AClient.SetTlsContext(ClientTls());
        AClient.UseTLS = ATls == TPeerTls::Explicit ? TUseTls::utUseExplicitTLS : TUseTls::utUseImplicitTLS;
        AClient.DataPortProtection = TDataPortProtection::ftpdpsPrivate;
    }
}

const TFtpListItem *Find(const std::vector<TFtpListItem> &AList, const QString &AName)
{
    for (const TFtpListItem &i : AList)
        if (i.FileName == AName)
            return &i;
    return nullptr;
}

struct TTlsCase {
    const char *Name;
    TPeerTls Tls;
    bool Passive;
};

class FtpClientTls : public testing::TestWithParam<TTlsCase> {};

// proftpd refuses data connections that do not resume the control
// connection's session, so every transfer here shows the resumption.
TEST_P(FtpClientTls, TransfersOverProtectedDataConnections)
{
    const TTlsCase &tc = GetParam();
    auto peer = StartProftpd(tc.Tls);
    if (!peer)
        return;
    TFtpClient c;
    PrepareClient(c, *peer, tc.Tls);
    c.Passive = tc.Passive;
    TPeerCertificate seen;
    c.OnVerifyPeer = [&seen](const TPeerCertificate &ACert) {
        seen = ACert;
        return true;
    };
    c.Connect();
    EXPECT_TRUE(c.ControlIsTls());
    EXPECT_EQ(seen.Fingerprint, FtpCerts().ServerFingerprint);
    EXPECT_EQ(seen.Version, 3);
    EXPECT_GT(seen.ValidUntil, Now());

    const QByteArray data = Payload(300000);
    TMemoryStream up(data);
    int64_t reported = 0;
    c.OnWork = [&reported](bool AWrite, int64_t ACount) {
        EXPECT_TRUE(AWrite);
        reported = ACount;
    };
    EXPECT_EQ(c.Put(up, QStringLiteral("up load.bin"), false), 226);
    EXPECT_EQ(reported, data.size());
    EXPECT_TRUE(ReadBytes(peer->Root + QStringLiteral("/up load.bin")) == data);

    // MFMT, read back through MLSD.
    ASSERT_TRUE(c.CanUseMLS());
    const TDateTime stamp = EncodeDateTime(2021, 3, 4, 5, 6, 7, 0);
    c.SetModTimeUtc(QStringLiteral("up load.bin"), stamp);
    c.List();
    const TFtpListItem *item = Find(c.ListResult(), QStringLiteral("up load.bin"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Size, data.size());
    EXPECT_NEAR(item->ModifiedDateGMT, stamp, 1.0 / 86400);

    TMemoryStream down;
    c.OnWork = nullptr;
    EXPECT_EQ(c.Get(QStringLiteral("up load.bin"), down), 226);
    EXPECT_TRUE(down.Data() == data);
    c.Disconnect();
    EXPECT_FALSE(c.Connected());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpClientTls,
                         testing::Values(TTlsCase{"ExplicitPassive", TPeerTls::Explicit, true},
                                         TTlsCase{"ImplicitPassive", TPeerTls::Implicit, true},
                                         TTlsCase{"ExplicitActive", TPeerTls::Explicit, false}),
                         [](const testing::TestParamInfo<TTlsCase> &AInfo) { return std::string(AInfo.param.Name); });

// A refused certificate ends the connection before the account name or
// the password is sent.
TEST(FtpClient, RefusedCertificateEndsTheConnectionBeforeTheLogin)
{
    for (TPeerTls tls : {TPeerTls::Explicit, TPeerTls::Implicit}) {
        auto peer = StartProftpd(tls);
        if (!peer)
            return;
        TFtpClient c;
        PrepareClient(c, *peer, tls);
        TLines log;
        c.SetProtocolSink(&log);
        int asked = 0;
        c.OnVerifyPeer = [&asked](const TPeerCertificate &) {
            ++asked;
            return false;
        };
        try {
            c.Connect();
            FAIL() << "connected";
        } catch (const ENetError &e) {
            EXPECT_EQ(e.Kind, TKind::Protocol);
            EXPECT_EQ(e.Message, QStringLiteral("Error verifying server certificate"));
        }
        EXPECT_EQ(asked, 1);
        EXPECT_FALSE(c.Connected());
        EXPECT_EQ(log.Out, tls == TPeerTls::Explicit ? QList<QByteArray>({"AUTH TLS"}) : QList<QByteArray>());
        EXPECT_FALSE(ReadBytes(peer->LogFile).contains("USER")) << ReadBytes(peer->LogFile).toStdString();
    }
}

// The LIST-only server: LIST parsing, active mode, negative replies of
// transfers, and the connection stays usable after them.
TEST(FtpClient, PlainServerActiveModeAndNegativeReplies)
{
    TPyFaults faults;
    faults.StorReply = QStringLiteral("552 Quota exceeded");
    auto peer = StartPyFtpd(TPeerTls::None, faults);
    if (!peer)
        return;
    WriteBytes(peer->Root + QStringLiteral("/with blank.txt"), Payload(70000));
    TFtpClient c;
    PrepareClient(c, *peer, TPeerTls::None);
    c.Passive = false;
    c.Connect();
    EXPECT_FALSE(c.CanUseMLS());

    TMemoryStream up(Payload(1000));
    try {
        c.Put(up, QStringLiteral("new.bin"), false);
        FAIL() << "stored";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::Protocol);
        EXPECT_EQ(e.ReplyCode, 552);
    }
    TMemoryStream down;
    try {
        c.Get(QStringLiteral("missing.bin"), down);
        FAIL() << "retrieved";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::Protocol);
        EXPECT_EQ(e.ReplyCode, 550);
    }
    // A local write failure is no network error, and the connection stays.
    class TFullStream : public TMemoryStream {
    public:
        int64_t Write(const void *, int64_t) override { return -1; }
    } full;
    try {
        c.Get(QStringLiteral("with blank.txt"), full);
        FAIL() << "retrieved into a failing stream";
    } catch (const ENetError &e) {
        FAIL() << "a network error: " << e.Message.toStdString();
    } catch (const std::runtime_error &) {
    }
    c.List();
    const TFtpListItem *item = Find(c.ListResult(), QStringLiteral("with blank.txt"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Size, 70000);
    EXPECT_EQ(item->ItemType, TFtpItemType::ditFile);
    EXPECT_EQ(c.Get(QStringLiteral("with blank.txt"), down), 226);
    EXPECT_TRUE(down.Data() == Payload(70000));
}

struct TAbortCase {
    const char *Name;
    bool Proftpd;
    TPeerTls Tls;
    bool Upload;
};

class FtpClientAbort : public testing::TestWithParam<TAbortCase> {};

// AbortIo from another thread breaks the running transfer at once; the
// transfer raises, and the client connects again afterwards.
TEST_P(FtpClientAbort, AbortFromAnotherThread)
{
    const TAbortCase &tc = GetParam();
    auto peer = tc.Proftpd ? StartProftpd(tc.Tls) : StartPyFtpd(tc.Tls);
    if (!peer)
        return;
    const QByteArray data = Payload(4 * 1024 * 1024);
    WriteBytes(peer->Root + QStringLiteral("/big.bin"), data);
    TFtpClient c;
    PrepareClient(c, *peer, tc.Tls);
    c.ReadTimeout = 0; // only the abort can end a blocked transfer
    c.Connect();

    std::atomic<bool> aborted {false};
    std::thread aborter;
    c.OnWork = [&](bool, int64_t) {
        if (aborter.joinable())
            return;
        aborter = std::thread([&] {
            c.AbortIo();
            aborted = true;
        });
        // Hold the transfer until the abort is in.
        const auto until = steady_clock::now() + seconds(5);
        while (!aborted && steady_clock::now() < until)
            std::this_thread::sleep_for(milliseconds(5));
    };
    TMemoryStream up(data), down;
    const auto start = steady_clock::now();
    try {
        if (tc.Upload)
            c.Put(up, QStringLiteral("up.bin"), false);
        else
            c.Get(QStringLiteral("big.bin"), down);
        ADD_FAILURE() << "the transfer ended normally";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::SocketError) << e.Message.toStdString();
    }
    if (aborter.joinable())
        aborter.join();
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 8000);
    EXPECT_TRUE(aborted);
    if (!tc.Upload) {
        EXPECT_LT(down.Size(), data.size());
    }

    c.OnWork = nullptr;
    c.ReadTimeout = 10000;
    if (!c.Connected())
        c.Connect();
    TMemoryStream again;
    EXPECT_EQ(c.Get(QStringLiteral("big.bin"), again), 226);
    EXPECT_TRUE(again.Data() == data);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpClientAbort,
                         testing::Values(TAbortCase{"PlainDownload", false, TPeerTls::None, false},
                                         TAbortCase{"PlainUpload", false, TPeerTls::None, true},
                                         TAbortCase{"TlsDownload", true, TPeerTls::Explicit, false},
                                         TAbortCase{"TlsUpload", true, TPeerTls::Explicit, true}),
                         [](const testing::TestParamInfo<TAbortCase> &AInfo) { return std::string(AInfo.param.Name); });

TEST(FtpClient, ReadTimeOutAgainstAStallingServer)
{
    TPyFaults faults;
    faults.StallGreeting = true;
    auto peer = StartPyFtpd(TPeerTls::None, faults);
    if (!peer)
        return;
    TFtpClient c;
    PrepareClient(c, *peer, TPeerTls::None);
    c.ReadTimeout = 500;
    const auto start = steady_clock::now();
    try {
        c.Connect();
        FAIL() << "connected";
    } catch (const ENetError &e) {
        EXPECT_EQ(e.Kind, TKind::ReadTimeout);
    }
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 5000);
    EXPECT_FALSE(c.Connected());
}

} // namespace
} // namespace vl
