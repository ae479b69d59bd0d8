// The FTP copy threads against real servers: every backup form uploaded,
// downloaded and compared, byte-compatible with the local threads in both
// directions, and their failures, cancel and staging.
#include "engine/FtpThreads.h"

#include "common/TestUtils.h"
#include "core/FileErrors.h"
#include "engine/EncryptedFile.h"
#include "engine/Encryption.h"
#include "engine/FtpUtils.h"
#include "engine/GzipTestHelpers.h"
#include "engine/WinCopyThread.h"
#include "engine/ZipFormat.h"
#include "ftp/FtpPeers.h"
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace vl {
namespace {

using namespace test;

constexpr uint32_t kTime = 1700000000;

constexpr TCopyOptions kGzip = CopyOptionBit(TCopyOption::coCompress);
constexpr TCopyOptions kZip = CopyOptionBit(TCopyOption::coZipCompress);
constexpr TCopyOptions kVerify = CopyOptionBit(TCopyOption::coVerify);

QString Join(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

QByteArray RandomData(int64_t size, uint32_t seed = 7)
{
    std::mt19937 rng(seed);
    QByteArray data(size, '\0');
    for (auto &c : data)
        c = char(rng());
    return data;
}

// A staged file of the given stem ("gzip" finds "gzip-<random>.tmp").
bool HasStage(const QString &dir, const char *stem)
{
    const QString prefix = QString::fromLatin1(stem) + QLatin1Char('-');
    for (const QString &name : DirNames(dir))
        if (name.startsWith(prefix) && name.endsWith(QStringLiteral(".tmp")))
            return true;
    return false;
}

// A thread with a hook in the worker at every progress step.
template <class T>
class TWatched : public T {
public:
    using T::T;
    std::function<void(TFileAction, int64_t)> OnStep;
    bool CancelSeen() const { return this->IsCanceled(); }

protected:
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override
    {
        if (OnStep)
            OnStep(AAction, ACount);
        T::DoProgress(AAction, ACount, ASpeedLimit);
    }
};
using TWatchedWrite = TWatched<TWriteFtpThread>;
using TWatchedRead = TWatched<TReadFtpThread>;
using TWatchedCompare = TWatched<TCompareFtpThread>;

// One backup form: its options, the operation bits of the upload and of
// the download and comparison, and which bytes of an uploaded file equal
// the local thread's file (Prefix -1: all of them). An encrypted form
// differs only inside its encryption frame (random salt): the Prefix bytes
// before it (headers with the name "data.bin") and the Suffix bytes after
// it (gzip trailer, zip central directory) are the same.
struct TForm {
    const char *Name;
    const char *Ext;
    TCopyOptions Options;
    bool Encrypted;
    int32_t WriteOp;
    int32_t ReadOp;
    int Prefix;
    int Suffix;
};

const TForm kForms[] = {
    {"plain", "", 0, false, eoCopy, eoCopy, -1, 0},
    {"gzip", ".gz", kGzip, false, eoGzip, eoGunzip, -1, 0},
    {"gzip, encrypted", ".gze", kGzip, true, eoGzip, eoGunzip, 47, 8},
    {"encrypted file", ".enc", 0, true, eoEncrypt, eoCopy, 10, 0},
    {"zip, stored", ".zip", kZip, false, eoZip, eoZip, -1, 0},
    {"zip, deflated", ".zip", kZip | kGzip, false, eoZip, eoZip, -1, 0},
    {"zip, encrypted", ".zip", kZip | kGzip, true, eoZip, eoZip, 49, 87},
};

bool IsZip(const TForm &f)
{
    return (f.Options & kZip) != 0;
}
bool IsGzip(const TForm &f)
{
    return !IsZip(f) && (f.Options & kGzip) != 0;
}

class FtpThreads : public testing::Test {
protected:
    virtual std::unique_ptr<TFtpPeer> StartPeer() { return StartProftpd(); }

    void SetUp() override
    {
        Peer = StartPeer();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(Peer);
        Local = MakeTempDir(QStringLiteral("local"));
        Stage = MakeTempDir(QStringLiteral("stage"));
        Key = MakeEncryption(1);
        Connect();
    }

    // A fresh client, connected to Peer.
    void Connect()
    {
        Ftp = std::make_unique<TExtFtp>();
        TFtpParams params;
        params.Host = Peer->Host;
        params.Port = Peer->Port;
        params.Username = Peer->User;
        params.CaseMode = TTextChange::tcNone;
        params.ConnTimeout = 5000;
        params.ResponseTimeOut = 20000;
        params.WriteLog = true;
        Ftp->SetParams(params);
        Ftp->SetLogname(MakeTempDir(QStringLiteral("log")) + QStringLiteral("/VlFtp.log"));
        Ftp->Password = Peer->Password;
        Ftp->SetTempDir(Stage);
        ASSERT_TRUE(Ftp->DoConnect(1, false)) << Ftp->GetIndyError().toStdString();
    }

    // Continues with another server.
    void Use(std::unique_ptr<TFtpPeer> APeer)
    {
        Ftp.reset();
        Peer = std::move(APeer);
        Connect();
    }

    QString Remote(const QString &name) const { return Join(Peer->Root, name); }
    QString LocalPath(const QString &name) const { return Join(Local, name); }
    int64_t RemoteSize(const QString &name) const { return ReadFileRaw(Remote(name)).size(); }

    int32_t Upload(const QString &source, const QString &name, TEncryption *enc, TCopyOptions options,
                   int64_t *destSize = nullptr)
    {
        auto t = std::make_shared<TWriteFtpThread>(Ftp.get(), source, Peer->LoginDir, name, enc, options, kSmallBuffer);
        const int32_t code = RunThread(t);
        if (destSize)
            *destSize = t->DestSize();
        return code;
    }

    int32_t Download(const TForm &form, const QString &name, const QString &local, TEncryption *enc,
                     uint32_t *modTime = nullptr)
    {
        auto t = std::make_shared<TReadFtpThread>(Ftp.get(), name, local, RemoteSize(name), enc, IsGzip(form),
                                                  IsZip(form), kSmallBuffer);
        const int32_t code = RunThread(t);
        if (modTime)
            *modTime = t->ModTime();
        return code;
    }

    int32_t Compare(const TForm &form, const QString &name, const QString &local, TEncryption *enc)
    {
        auto t = std::make_shared<TCompareFtpThread>(Ftp.get(), name, local, RemoteSize(name), enc, IsGzip(form),
                                                     IsZip(form), kSmallBuffer);
        const int32_t code = RunThread(t);
        EXPECT_EQ(t->DestSize(), RemoteSize(name));
        return code;
    }

    // The backup the local copy thread writes for the same source.
    int32_t WriteLocal(const TForm &form, const QString &source, const QString &dest, TEncryption *enc)
    {
        return RunThread(std::make_shared<TWinCopyThread>(
            source, dest, enc, form.Options | CopyOptionBit(TCopyOption::coOverwrite), kSmallBuffer));
    }

    // The local restore thread of the form.
    int32_t RestoreLocal(const TForm &form, const QString &backup, const QString &dest, TEncryption *enc)
    {
        std::shared_ptr<TCopyThread> t;
        if (IsZip(form))
            t = std::make_shared<TUnZipThread>(backup, dest, enc, kSmallBuffer);
        else if (IsGzip(form))
            t = std::make_shared<TGUnZipThread>(backup, dest, enc, kSmallBuffer);
        else if (form.Encrypted)
            t = std::make_shared<TDecryptThread>(backup, dest, enc, kSmallBuffer);
        else {
            WriteFileRaw(dest, ReadFileRaw(backup));
            return 0;
        }
        t->Overwrite = true;
        return RunThread(t);
    }

    QString Source(const QByteArray &data, const char *name = "data.bin")
    {
        const QString path = LocalPath(QString::fromLatin1(name));
        WriteFileRaw(path, data);
        SetMTime(path, kTime);
        return path;
    }

    // Every form, for an empty and a non-empty file: the uploaded file is
    // the one the local thread writes (and restores with the local
    // restore), a download restores the source and its time both from an
    // uploaded and from a locally written backup, and the comparison tells
    // equal from different.
    void CheckEveryForm();

    std::unique_ptr<TFtpPeer> Peer;
    std::unique_ptr<TExtFtp> Ftp;
    std::unique_ptr<TEncryption> Key;
    QString Local, Stage;
};

void FtpThreads::CheckEveryForm()
{
    for (const int64_t size : {int64_t(0), int64_t(200 * 1024)}) {
        const QString round = QString::number(size);
        const QByteArray data = PatternData(size, 3);
        const QString source = Source(data);
        for (const TForm &form : kForms) {
            SCOPED_TRACE(testing::Message() << form.Name << ", " << size << " bytes");
            TEncryption *enc = form.Encrypted ? Key.get() : nullptr;
            const QString tag = round + QLatin1Char('-') + QString::number(&form - kForms) + QLatin1String(form.Ext);
            const QString up = QStringLiteral("up") + tag, local = QStringLiteral("local") + tag;

            int64_t destSize = -1;
            ASSERT_EQ(Upload(source, up, enc, form.Options | kVerify, &destSize), 0);
            EXPECT_EQ(destSize, IsZip(form) ? size : RemoteSize(up));
            ASSERT_EQ(WriteLocal(form, source, Remote(local), enc), 0);
            const QByteArray uploaded = ReadFileRaw(Remote(up)), written = ReadFileRaw(Remote(local));
            ASSERT_EQ(uploaded.size(), written.size());
            if (form.Prefix < 0) {
                EXPECT_TRUE(uploaded == written);
            } else {
                EXPECT_EQ(uploaded.left(form.Prefix).toHex(), written.left(form.Prefix).toHex());
                EXPECT_EQ(uploaded.right(form.Suffix).toHex(), written.right(form.Suffix).toHex());
            }
            ASSERT_EQ(RestoreLocal(form, Remote(up), LocalPath(QStringLiteral("restored")), enc), 0);
            EXPECT_TRUE(ReadFileRaw(LocalPath(QStringLiteral("restored"))) == data);

            for (const QString &name : {up, local}) {
                uint32_t modTime = 1;
                ASSERT_EQ(Download(form, name, LocalPath(QStringLiteral("down")), enc, &modTime), 0)
                    << name.toStdString();
                EXPECT_TRUE(ReadFileRaw(LocalPath(QStringLiteral("down"))) == data);
                EXPECT_EQ(modTime, form.Ext[0] ? kTime : 0u);
            }

            EXPECT_EQ(Compare(form, up, source, enc), 0);
            if (size > 0) {
                QByteArray changed = data;
                changed[size / 2] = char(changed[size / 2] ^ 0x20);
                WriteFileRaw(LocalPath(QStringLiteral("changed")), changed);
                WriteFileRaw(LocalPath(QStringLiteral("shorter")), data.left(size - 1));
                EXPECT_EQ(Compare(form, up, LocalPath(QStringLiteral("changed")), enc), 0x11E | form.ReadOp);
                EXPECT_EQ(Compare(form, up, LocalPath(QStringLiteral("shorter")), enc), 0x115 | form.ReadOp);
            }
        }
    }
    EXPECT_TRUE(DirNames(Stage).isEmpty());
}

TEST_F(FtpThreads, EveryFormRoundTripsAndMatchesTheLocalForm)
{
    CheckEveryForm();
}

// Failures of the downloads and comparisons; a failed download leaves an
// existing local file as it was.
TEST_F(FtpThreads, FailuresGiveTheirCodesAndKeepTheLocalFile)
{
    const QByteArray data = PatternData(50000, 5);
    const QString source = Source(data);
    const TForm &plain = kForms[0], &gz = kForms[1], &gze = kForms[2], &enc = kForms[3], &zipEnc = kForms[6];
    for (const TForm *form : {&plain, &gz, &gze, &enc, &zipEnc})
        ASSERT_EQ(WriteLocal(*form, source, Remote(QStringLiteral("b") + QLatin1String(form->Ext)),
                             form->Encrypted ? Key.get() : nullptr),
                  0);
    auto wrong = MakeEncryption(1, "wrong password");
    // An encrypted member has no CRC: its header's size is all there is to
    // check the unpacked data against.
    QByteArray badSize = ReadFileRaw(Remote(QStringLiteral("b.gze")));
    badSize[24] = char(badSize[24] + 1); // the uncompressed size in subfield 1
    WriteFileRaw(Remote(QStringLiteral("bad.gze")), badSize);
    const QString keep = LocalPath(QStringLiteral("keep"));

    const struct {
        const char *What;
        bool Compare;
        const TForm &Form;
        const char *Name;
        TEncryption *Enc;
        int32_t Code;
    } cases[] = {
        {".gze download without a password", false, gze, "b.gze", nullptr, 0x310B},
        {".gze comparison without a password", true, gze, "b.gze", nullptr, 0x310B},
        {".gze download, wrong password", false, gze, "b.gze", wrong.get(), 0x310B},
        {".gze comparison, wrong password", true, gze, "b.gze", wrong.get(), 0x310B},
        {".gze download, size unlike the header's", false, gze, "bad.gze", Key.get(), 0x3109},
        {".gze comparison, size unlike the header's", true, gze, "bad.gze", Key.get(), 0x3109},
        // The header decides: a plain member is inflated in a run with a password.
        {".gz download with a password", false, gz, "b.gz", Key.get(), 0},
        {".gz comparison with a password", true, gz, "b.gz", Key.get(), 0},
        {".enc download, wrong password", false, enc, "b.enc", wrong.get(), 0x100B},
        {".enc comparison, wrong password", true, enc, "b.enc", wrong.get(), 0x100B},
        {"encrypted zip download, wrong password", false, zipEnc, "b.zip", wrong.get(), 0x410B},
        {"missing remote file", false, plain, "missing", nullptr, 0x1118},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        WriteFileRaw(keep, "old content");
        const QString name = QString::fromLatin1(c.Name);
        const int32_t code = c.Compare ? Compare(c.Form, name, source, c.Enc) : Download(c.Form, name, keep, c.Enc);
        EXPECT_EQ(code, c.Code) << std::hex << code;
        if (!c.Compare) {
            EXPECT_TRUE(ReadFileRaw(keep) == (c.Code == 0 ? data : QByteArray("old content")));
        }
    }
    EXPECT_EQ(Compare(plain, QStringLiteral("b"), LocalPath(QStringLiteral("gone")), nullptr), 0x110E);
    EXPECT_EQ(Download(plain, QStringLiteral("b"), LocalPath(QStringLiteral("no/such/dir")), nullptr), 0x1101);
    EXPECT_EQ(Upload(LocalPath(QStringLiteral("gone")), QStringLiteral("x.gz"), nullptr, kGzip), 0x210E);
    EXPECT_TRUE(DirNames(Stage).isEmpty());
    EXPECT_EQ(DirNames(Local), QStringList({QStringLiteral("data.bin"), QStringLiteral("keep")}));
}

// The verification reads the upload back from the server: a file the
// server stored short or changed fails it.
TEST_F(FtpThreads, VerificationCatchesAFileTheServerStoredWrongly)
{
    const QString source = Source(PatternData(100000, 9));
    const struct {
        const char *What;
        TCopyOptions Options;
        bool Truncate; // else one byte is changed
        int32_t Code;
    } cases[] = {
        {"gzip, truncated", kGzip, true, 0x2115},
        {"gzip, changed", kGzip, false, 0x211E},
        {"plain, truncated", 0, true, 0x1115},
        {"zip, changed", kZip | kGzip, false, 0x411E},
        {"encrypted file, changed", 0, false, 0x511E},
    };
    int round = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QString name = QStringLiteral("v") + QString::number(round++);
        const QString remote = Remote(name);
        const bool encrypted = QByteArray(c.What).startsWith("encrypted");
        auto t = std::make_shared<TWatchedWrite>(Ftp.get(), source, Peer->LoginDir, name,
                                                 encrypted ? Key.get() : nullptr, c.Options | kVerify, kSmallBuffer);
        bool done = false;
        t->OnStep = [&](TFileAction action, int64_t count) {
            if (action != TFileAction::acVerify || count >= 0 || done)
                return;
            done = true;
            QByteArray stored = ReadFileRaw(remote);
            if (c.Truncate)
                stored.chop(100);
            else
                stored[stored.size() / 2] = char(stored[stored.size() / 2] ^ 1);
            WriteFileRaw(remote, stored);
        };
        EXPECT_EQ(RunThread(t), c.Code) << std::hex << t->ErrorCode();
        EXPECT_TRUE(done);
    }
    EXPECT_TRUE(DirNames(Stage).isEmpty());
}

// A source that grows while it is packed is not uploaded (DestSize stays
// 0: nothing was sent).
TEST_F(FtpThreads, SourceThatGrowsWhilePackedIsNotUploaded)
{
    const struct {
        const char *What;
        TCopyOptions Options;
        bool Encrypted;
        TFileAction Step;
        int32_t Code;
    } cases[] = {
        {"gzip", kGzip, false, TFileAction::acCompress, 0x2104},
        {"gzip, encrypted", kGzip, true, TFileAction::acCompress, 0x2104},
        {"encrypted file", 0, true, TFileAction::acEncrypt, 0x5104},
        {"zip", kZip | kGzip, false, TFileAction::acCompress, 0x4104},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QString source = Source(PatternData(64 * 1024, 11));
        auto t = std::make_shared<TWatchedWrite>(Ftp.get(), source, Peer->LoginDir, QStringLiteral("grown"),
                                                 c.Encrypted ? Key.get() : nullptr, c.Options, kSmallBuffer);
        bool grown = false;
        t->OnStep = [&](TFileAction action, int64_t count) {
            if (action == c.Step && count > 0 && !grown) {
                grown = true;
                TFile f;
                ASSERT_EQ(f.Open(source, TFile::faWrite, TFile::fcOpenExisting), 0u);
                int64_t end = 0, done = 0;
                f.Seek(0, SEEK_END, end);
                const QByteArray more = PatternData(10000, 12);
                ASSERT_EQ(f.Write(more.constData(), more.size(), done), 0u);
            }
        };
        EXPECT_EQ(RunThread(t), c.Code) << std::hex << t->ErrorCode();
        EXPECT_TRUE(grown);
        EXPECT_EQ(t->DestSize(), 0);
        EXPECT_FALSE(FileExists(Remote(QStringLiteral("grown"))));
    }
    EXPECT_TRUE(DirNames(Stage).isEmpty());
}

// Canceling a running thread breaks off the client's transfer and waits
// for the worker: 128 where the worker checks the flag (after a transfer:
// following its 1 s pause), else the transfer's own failure code; a paused
// worker is let go to see the flag. Staging files go, an existing local
// file stays, and the client serves the next file.
TEST_F(FtpThreads, CancelWhileRunning)
{
    const QByteArray data = RandomData(8 * 1024 * 1024);
    const QString source = Source(data);
    const TForm &plain = kForms[0], &gz = kForms[1];
    WriteFileRaw(Remote(QStringLiteral("big")), data);
    ASSERT_EQ(WriteLocal(gz, source, Remote(QStringLiteral("big.gz")), nullptr), 0);
    const QString local = LocalPath(QStringLiteral("big"));

    const struct {
        const char *What;
        const TForm &Form;
        bool Upload;
        TFileAction HoldAt; // the worker is held at its first report of this step
        bool Pause;         // and paused there by the owner before the cancel
        int32_t Code;
        bool AfterPause;    // 128 after the worker's pause
    } cases[] = {
        {"plain download, receiving", plain, false, TFileAction::acFtpRead, false, 0x1080, true},
        {".gz download staged in a file, receiving", gz, false, TFileAction::acFtpRead, false, 0x311B, false},
        {"gzip upload, sending", gz, true, TFileAction::acFtpWrite, false, 0x2080, true},
        {"gzip upload, paused while compressing", gz, true, TFileAction::acCompress, true, 0x2080, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        WriteFileRaw(local, "old content");
        std::atomic<bool> held{false};
        const auto holdUntilCancel = [&](auto &thread) {
            thread.OnStep = [&, th = &thread](TFileAction action, int64_t count) {
                if (action != c.HoldAt || count <= 0 || held)
                    return;
                held = true;
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!th->CancelSeen() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            };
        };
        std::shared_ptr<TCopyThread> t;
        if (c.Upload) {
            auto up = std::make_shared<TWatchedWrite>(Ftp.get(), source, Peer->LoginDir, QStringLiteral("up.gz"),
                                                      nullptr, c.Form.Options, kSmallBuffer);
            holdUntilCancel(*up);
            t = up;
        } else {
            const QString name = QStringLiteral("big") + QLatin1String(c.Form.Ext);
            auto down = std::make_shared<TWatchedRead>(Ftp.get(), name, local, RemoteSize(name), nullptr,
                                                       IsGzip(c.Form), IsZip(c.Form), kSmallBuffer);
            holdUntilCancel(*down);
            t = down;
        }
        t->Start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        WaitUntil([&] { return held.load() || t->Done() || std::chrono::steady_clock::now() > deadline; }, 10);
        ASSERT_TRUE(held.load());
        if (c.Pause)
            t->Pause();
        const auto start = std::chrono::steady_clock::now();
        t->CancelThread();
        EXPECT_TRUE(t->Done());
        if (c.AfterPause) {
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
        }
        EXPECT_EQ(t->ErrorCode(), c.Code) << std::hex << t->ErrorCode();
        t->CancelThread(); // after Done: returns at once
        EXPECT_EQ(ReadFileRaw(local), QByteArray("old content"));
        EXPECT_EQ(DirNames(Local), QStringList({QStringLiteral("big"), QStringLiteral("data.bin")}));
        EXPECT_TRUE(DirNames(Stage).isEmpty());
    }

    // Before Start: nothing to wait for.
    auto idle = std::make_shared<TReadFtpThread>(Ftp.get(), QStringLiteral("big"), local, data.size(), nullptr, false,
                                                 false, kSmallBuffer);
    idle->CancelThread();
    EXPECT_FALSE(idle->Done());
    idle.reset();

    EXPECT_EQ(Download(plain, QStringLiteral("big"), local, nullptr), 0);
    EXPECT_TRUE(ReadFileRaw(local) == data);
}

// Downloads and comparisons of packed forms above 1 MiB stage the download
// (and the unpacked data) in files of the client's temporary folder, and
// remove them; below it nothing touches the folder.
TEST_F(FtpThreads, PackedDownloadsAbove1MiBAreStagedInFiles)
{
    const TForm &gz = kForms[1];
    const struct {
        const char *What;
        int64_t Size;
        bool Compare;
        QStringList Stages;
    } cases[] = {
        {"download, 2 MiB", 2 * 1024 * 1024, false, {QStringLiteral("gzip")}},
        {"comparison, 2 MiB", 2 * 1024 * 1024, true, {QStringLiteral("gzip"), QStringLiteral("unzip")}},
        {"download, 200 KiB", 200 * 1024, false, {}},
        {"comparison, 200 KiB", 200 * 1024, true, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        const QString source = Source(RandomData(c.Size));
        ASSERT_EQ(WriteLocal(gz, source, Remote(QStringLiteral("s.gz")), nullptr), 0);
        const int64_t listed = RemoteSize(QStringLiteral("s.gz"));
        QStringList seen;
        const auto watch = [&](TFileAction action, int64_t count) {
            // Just before the unpacked data is written or compared.
            if ((action == TFileAction::acUnCompress || action == TFileAction::acVerify) && count < 0)
                for (const char *stem : {"gzip", "unzip", "encrypt", "compare"})
                    if (HasStage(Stage, stem) && !seen.contains(QLatin1String(stem)))
                        seen << QLatin1String(stem);
        };
        int32_t code;
        if (c.Compare) {
            auto t = std::make_shared<TWatchedCompare>(Ftp.get(), QStringLiteral("s.gz"), source, listed, nullptr, true,
                                                       false, kSmallBuffer);
            t->OnStep = watch;
            code = RunThread(t);
        } else {
            auto t = std::make_shared<TWatchedRead>(Ftp.get(), QStringLiteral("s.gz"), LocalPath(QStringLiteral("d")),
                                                    listed, nullptr, true, false, kSmallBuffer);
            t->OnStep = watch;
            code = RunThread(t);
        }
        EXPECT_EQ(code, 0);
        seen.sort();
        EXPECT_EQ(seen, c.Stages);
        EXPECT_TRUE(DirNames(Stage).isEmpty());
    }
}

// 60 MiB, above the memory limit of uploads: staged in a gzip file of the
// client's temporary folder while it is sent, removed afterwards.
TEST_F(FtpThreads, SlowLargeGzipUploadIsStagedInAFile)
{
    QByteArray data(60 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) % 251);
    const QString source = Source(data);
    auto t = std::make_shared<TWatchedWrite>(Ftp.get(), source, Peer->LoginDir, QStringLiteral("big.gz"), nullptr,
                                             kGzip, 1024 * 1024);
    t->SetCompressionLevel(TZCompressionLevel::zcFastest);
    bool stagedWhileSending = false;
    t->OnStep = [&](TFileAction action, int64_t count) {
        if (action == TFileAction::acFtpWrite && count > 0 && !stagedWhileSending)
            stagedWhileSending = HasStage(Stage, "gzip");
    };
    ASSERT_EQ(RunThread(t), 0) << t->SysErrorMsg().toStdString();
    EXPECT_TRUE(stagedWhileSending);
    EXPECT_TRUE(DirNames(Stage).isEmpty());
    ASSERT_EQ(RestoreLocal(kForms[1], Remote(QStringLiteral("big.gz")), LocalPath(QStringLiteral("r")), nullptr), 0);
    EXPECT_TRUE(ReadFileRaw(LocalPath(QStringLiteral("r"))) == data);
}

// The LIST-only server (its login directory is "/").
class FtpThreadsListOnly : public FtpThreads {
protected:
    std::unique_ptr<TFtpPeer> StartPeer() override { return StartPyFtpd(); }
};

TEST_F(FtpThreadsListOnly, EveryFormRoundTripsAndMatchesTheLocalForm)
{
    CheckEveryForm();
}

// Connections that break during a transfer: one break is repeated from
// the start and the thread's result is the whole file; a connection that
// keeps breaking ends the thread with 283 and its operation bits, leaving
// an existing local file as it was.
TEST_F(FtpThreadsListOnly, BrokenTransfers)
{
    const QByteArray data = RandomData(600000);
    const QString source = Source(data);
    const QString local = LocalPath(QStringLiteral("down"));
    const struct {
        const char *What;
        bool Upload; // a gzip upload, else a plain download
        int32_t Breaks;
        int32_t Code;
    } cases[] = {
        {"plain download, one break", false, 1, 0},
        {"plain download, breaking again and again", false, 100, 0x111B},
        {"gzip upload, one break", true, 1, 0},
        {"gzip upload, breaking again and again", true, 100, 0x211B},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.What);
        TPyFaults faults;
        faults.DropAfterBytes = 100000;
        faults.DropTransfers = c.Breaks;
        VL_START_PEER(peer, StartPyFtpd(TPeerTls::None, faults));
        Use(std::move(peer));
        ASSERT_FALSE(HasFatalFailure());
        if (c.Upload) {
            EXPECT_EQ(Upload(source, QStringLiteral("f.gz"), nullptr, kGzip), c.Code);
            if (c.Code == 0) {
                ASSERT_EQ(RestoreLocal(kForms[1], Remote(QStringLiteral("f.gz")), local, nullptr), 0);
                EXPECT_TRUE(ReadFileRaw(local) == data);
            }
        } else {
            WriteFileRaw(Remote(QStringLiteral("f")), data);
            WriteFileRaw(local, "old content");
            EXPECT_EQ(Download(kForms[0], QStringLiteral("f"), local, nullptr), c.Code);
            EXPECT_TRUE(ReadFileRaw(local) == (c.Code == 0 ? data : QByteArray("old content")));
        }
        // The break happened and was reported.
        const QByteArray log = ReadFileRaw(Ftp->Logname());
        EXPECT_EQ(log.count("Trying to reconnect"), std::min(c.Breaks, kFtpMaxReconnects)) << log.constData();
        EXPECT_TRUE(DirNames(Stage).isEmpty());
        QFile::remove(local);
        EXPECT_EQ(DirNames(Local), QStringList({QStringLiteral("data.bin")}));
    }
}

} // namespace
} // namespace vl
