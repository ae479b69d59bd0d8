// The FTP destination of a run against a real server: the connection, the
// remote directory with the command line's subfolder, a refused
// connection, and the cycle subfolder of an alternating schedule.
#include "backup/AutoTask.h"
#include "backup/RunContext.h"
#include "common/TestUtils.h"
#include "core/Settings.h"
#include "core/WindowServices.h"
#include "engine/FtpUtils.h"
#include "ftp/FtpPeers.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

// A port on 127.0.0.1 that nobody listens on: bound, never listened, closed.
uint16_t ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

struct TFtpDest {
    TBackupForm Form;
    TBackupForm::TRunContext R;
    QString LogName;
    QString LogDir;

    // The task's FTP settings for APeer at the verbose log level; the
    // client's protocol log goes to LogDir.
    explicit TFtpDest(const TFtpPeer &APeer, const QString &ADirectory)
    {
        ProgExitCode = 0;
        LogDir = MakeTempDir(u"log"_s);
        VlSettings.Directories.LogDir = LogDir;
        LogName = LogDir + u"/run.log"_s;
        EXPECT_EQ(Form.OpenLogFile(0x83, LogName, false), 0);
        TFtpParams &p = Form.FtpPar;
        p.Host = APeer.Host;
        p.Port = APeer.Port;
        p.Username = APeer.User;
        p.Password = APeer.Password;
        p.Directory = ADirectory;
        p.ConnTimeout = 5000;
        p.ResponseTimeOut = 10000;
        p.WriteLog = true;
        p.CaseMode = TTextChange::tcNone;
        Form.BuFtp = true;
        Form.BaseDest = u"ftp://dest/"_s + ADirectory;
    }
    ~TFtpDest()
    {
        Form.CloseLogFile(false);
        VlSettings.Directories.LogDir.clear();
    }
    QString Log()
    {
        Form.FlushLogFile(1);
        // Every line, the first included, starts with "\n".
        return u"\n"_s + QString::fromUtf8(ReadBytes(LogName)).replace(u"\r\n"_s, u"\n"_s);
    }
};

TEST(RunDestinationFtp, RemoteDirectoryAndSubfolderOfTheCommandLine)
{
    VL_START_PEER(peer, StartPyFtpd());
    struct {
        const char *Name;
        QString BuDir;
        QString Remote;  // the run's directory, relative to the login folder
        QString Shown;   // appended to the displayed destination
        QString DirLine; // the directory line of the log
    } const cases[] = {
        {"created when missing", {}, u"backups/t"_s, {}, u"\n      => Directory: backups/t\n"_s},
        {"absolute subfolder", u"/other"_s, u"backups/t"_s, {},
         u"\n  *** Invalid FTP destination directory: /other\n"_s},
        {"relative subfolder", u"sub/deeper"_s, u"backups/t/sub/deeper"_s, u"/sub/deeper"_s,
         u"\n   => Directory: backups/t/sub/deeper\n"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TFtpDest f(*peer, u"backups/t"_s);
        f.Form.BuDir = c.BuDir;
        f.Form.SetUpRunDestination(f.R);
        const QString log = f.Log();
        EXPECT_TRUE(f.R.DestReady) << log.toStdString();
        EXPECT_TRUE(QFileInfo(peer->Root + u"/"_s + c.Remote).isDir());
        EXPECT_FALSE(QFileInfo::exists(peer->Root + u"/other"_s));
        EXPECT_EQ(f.R.FtpBaseDir, WithTrailingSlash(peer->LoginDir) + c.Remote);
        EXPECT_EQ(f.Form.FTP->GetCurrentDir(), f.R.FtpBaseDir);
        EXPECT_EQ(f.R.DestDir, u"ftp://dest/backups/t"_s + c.Shown);
        EXPECT_EQ(ProgExitCode, 0);
        EXPECT_FALSE(f.Form.FTP->ServerDescription().isEmpty());
        EXPECT_TRUE(log.contains(c.DirLine)) << log.toStdString();
        const QString url = u"ftp://127.0.0.1:"_s + QString::number(peer->Port) + u"/backups/t"_s;
        for (const QString &line : {u"   => Trying to connect to FTP server: "_s + url,
                                    u"   => Connection to FTP server established"_s,
                                    u"   => User name: velkor"_s,
                                    u"   => FTP welcome message:\n      "_s + f.Form.FTP->ServerDescription(),
                                    u"   => FTP status query:\n      Response code: 211\n"_s,
                                    u"   => Supported features: "_s})
            EXPECT_TRUE(log.contains(u"\n"_s + line)) << line.toStdString() << "\n" << log.toStdString();
        // The password reaches neither the run's log nor the protocol log.
        const QByteArray protocol = ReadBytes(f.LogDir + u"/VlFtp.log"_s);
        EXPECT_FALSE(protocol.isEmpty());
        EXPECT_FALSE(protocol.contains(peer->Password));
        EXPECT_FALSE(log.contains(QString::fromLatin1(peer->Password)));
    }
}

TEST(RunDestinationFtp, RefusedConnection)
{
    VL_START_PEER(peer, StartPyFtpd());
    TFtpDest f(*peer, u"backups"_s);
    f.Form.FtpPar.Port = ClosedPort();
    ASSERT_NE(f.Form.FtpPar.Port, 0);
    f.Form.SetUpRunDestination(f.R);
    const QString log = f.Log();
    EXPECT_FALSE(f.R.DestReady);
    EXPECT_EQ(ProgExitCode, 2);
    EXPECT_EQ(f.R.StatusText, u"Connection to FTP server failed"_s);
    EXPECT_TRUE(log.contains(u"\n  *** Connection to FTP server failed ("_s)) << log.toStdString();
    EXPECT_FALSE(log.contains(u"Connection to FTP server failed ()"_s)) << log.toStdString(); // the cause is given
    EXPECT_TRUE(log.contains(u"\n  ==> FTP server: ftp://dest/backups\n"_s)) << log.toStdString();
    EXPECT_FALSE(log.contains(u"established"_s));
}

TEST(RunDestinationFtp, CycleFolderOfAnAlternatingSchedule)
{
    VL_START_PEER(peer, StartPyFtpd());
    struct {
        const char *Name;
        bool FileInTheWay;
    } const cases[] = {{"created and entered", false}, {"a file of that name", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString dir = c.FileInTheWay ? u"blocked"_s : u"cycle"_s;
        if (c.FileInTheWay) {
            ASSERT_TRUE(QDir().mkpath(peer->Root + u"/"_s + dir));
            WriteBytes(peer->Root + u"/"_s + dir + u"/BD09D"_s, "not a folder");
        }
        TFtpDest f(*peer, dir);
        f.Form.SetUpRunDestination(f.R);
        ASSERT_TRUE(f.R.DestReady) << f.Log().toStdString();
        // Day 9 of a 14-day differential cycle.
        TAutoTask task;
        task.SchedProps.StepMode = 1;
        task.SchedProps.NumZyk = 14;
        task.SchedProps.AktZyk = 9;
        task.SchedProps.SchedMode = TSchedMode::smDiff;
        f.R.Nr = 2;
        f.R.AutoTask = &task;
        f.R.MFull = false;
        f.R.BDiff = true;
        f.R.ModeName = u"Differential"_s;
        f.Form.SetUpCycleFolder(f.R);
        const QString log = f.Log();
        EXPECT_EQ(f.Form.BaseDir, u"ftp://dest/"_s + dir + u"/BD09D"_s);
        EXPECT_EQ(f.R.CycleFolderFailed, c.FileInTheWay) << log.toStdString();
        EXPECT_EQ(QFileInfo(peer->Root + u"/"_s + dir + u"/BD09D"_s).isDir(), !c.FileInTheWay);
        if (!c.FileInTheWay) {
            EXPECT_EQ(f.R.FtpBaseDir, WithTrailingSlash(peer->LoginDir) + dir + u"/BD09D"_s);
            EXPECT_EQ(f.Form.FTP->GetCurrentDir(), f.R.FtpBaseDir);
            EXPECT_TRUE(f.Form.ClearDest);
            EXPECT_EQ(f.R.LastFullTime, 0); // no time-stamp file yet
            EXPECT_TRUE(log.contains(u"\n  Backup mode: Differential to \"ftp://dest/cycle/BD09D\"\n"_s))
                << log.toStdString();
        } else {
            EXPECT_EQ(f.R.StatusText, u"Could not create directory:\r\n\"ftp://dest/blocked/BD09D\""_s);
        }
    }
}

} // namespace
} // namespace vl::test
