#include "backup/BackupForm.h"
#include "backup/MainServices.h"

#include "common/TestUtils.h"
#include "core/Settings.h"
#include "core/WindowServices.h"
#include "engine/Mailer.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;

// The lines a form wrote into a log of mode AMode while ABody ran, and the
// lines it added to the mail report meanwhile.
struct TWritten {
    QStringList Log;
    QStringList Mail;
};

template <typename F>
TWritten Capture(TBackupForm &AForm, int AMode, F ABody)
{
    const QString name = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
    EXPECT_EQ(AForm.OpenLogFile(AMode, name, false), 0);
    TmMailer &mailer = BuMainForm().Mailer();
    mailer.ClearBody();
    ABody();
    AForm.FlushLogFile(1);
    TWritten w;
    w.Log = QString::fromUtf8(ReadBytes(name)).split(QStringLiteral("\r\n"));
    if (!w.Log.isEmpty() && w.Log.last().isEmpty())
        w.Log.removeLast();
    w.Mail = mailer.Body;
    AForm.CloseLogFile(false);
    return w;
}

TEST(RunStatusTest, EntryHeaderLines)
{
    const QString src = QStringLiteral("  Source: ");
    const struct {
        const char *Label;
        int Mode;
        int Number;
        QString Source, Volume, Mapping;
        QStringList Log, Mail;
    } cases[] = {
        {"labelled network entry", 1, 2, QStringLiteral("//nas/share/Docs"), QStringLiteral("DATA"), QString(),
         {QStringLiteral("  2nd Directory: "),
          QStringLiteral("  ") + src + QStringLiteral(":DATA:/Docs (//nas/share/Docs)")},
         {src + QStringLiteral(":DATA:/Docs (//nas/share/Docs)")}},
        {"verbose starts with an empty line", 3, 11, QStringLiteral("/velkor-none/Docs"), QStringLiteral("DATA"),
         QString(),
         {QString(), QStringLiteral("  11th Directory: "),
          QStringLiteral("  ") + src + QStringLiteral(":DATA:/velkor-none/Docs (/velkor-none/Docs)")},
         {src + QStringLiteral(":DATA:/velkor-none/Docs (/velkor-none/Docs)")}},
        {"not selected", 1, -3, QStringLiteral("/velkor-none/Temp"), QStringLiteral("DATA"), QString(),
         {QStringLiteral("  3rd Directory: Not selected: \"/velkor-none/Temp\"")},
         {}},
        {"source replaced on the command line", 1, 1, QStringLiteral("/home/ann"), QString(),
         QStringLiteral("/home=/run/snap/home"),
         {QStringLiteral("  1st Directory: "), QStringLiteral("    Source: /home/ann"),
          QString(12, QLatin1Char(' ')) + QStringLiteral("(/run/snap/home/ann)")},
         {QStringLiteral("  Source: /home/ann")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Label);
        TBackupForm form;
        form.MailMode = TMailMode::mmAlways;
        form.ReplSourceDrv = c.Mapping;
        // Header lines carry no time even in a verbose log.
        form.LogTime = true;
        const TWritten w = Capture(form, c.Mode, [&] { form.LogDirectoryHeader(c.Number, c.Source, c.Volume); });
        EXPECT_EQ(w.Log, c.Log);
        EXPECT_EQ(w.Mail, c.Mail);
        EXPECT_FALSE(form.LogTime);
    }
}

TEST(RunStatusTest, DestinationLineSwitchesLineTimesBackOn)
{
    TBackupForm form;
    form.MailMode = TMailMode::mmError;
    const TWritten w = Capture(form, 3, [&] {
        form.LogDirectoryHeader(1, QStringLiteral("/data"), QString());
        form.LogDestination(QStringLiteral("/mnt/backup/data"));
        form.WriteToLog(1, QStringLiteral("    copied"));
    });
    ASSERT_EQ(w.Log.size(), 5);
    EXPECT_EQ(w.Log[3], QStringLiteral("    Dest.: /mnt/backup/data"));
    const QRegularExpression timed(QStringLiteral("^  \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: copied$"));
    EXPECT_TRUE(timed.match(w.Log[4]).hasMatch()) << w.Log[4].toStdString();
    EXPECT_EQ(w.Mail, (QStringList{QStringLiteral("  Source: /data"), QStringLiteral("  Dest.: /mnt/backup/data")}));

    // Without a mail report the body is left alone.
    TBackupForm quiet;
    const TWritten q = Capture(quiet, 1, [&] {
        quiet.LogDirectoryHeader(1, QStringLiteral("/data"), QString());
        quiet.LogDestination(QStringLiteral("/mnt/backup/data"));
    });
    EXPECT_EQ(q.Log.size(), 3);
    EXPECT_TRUE(q.Mail.isEmpty());
}

// Records what the run shows on the status page.
class TRecordingProgress : public THeadlessProgressWindow {
public:
    TRecordingProgress() : THeadlessProgressWindow(-1) {}
    void SetTotalAmount(const QString &AValue) override { Amount = AValue; }
    void SetPrompt(const QString &AValue) override { Prompt = AValue; }
    TModalResult ShowStatus(TResultStatus Mode, const QString &Hinweis, const QString &AStatus1,
                            const QString &AStatus2, TColor AColor, int32_t Wait) override
    {
        Shown = QStringList{QString::number(int(Mode)), Hinweis, AStatus1, AStatus2, QString::number(AColor),
                            QString::number(Wait)};
        return Result;
    }
    QString Amount = QStringLiteral("unset");
    QString Prompt;
    QStringList Shown;
    TModalResult Result = prShutdown;
};

class RunStatusPageTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgressWindow(&Progress); }
    void TearDown() override { SetProgressWindow(nullptr); }
    TRecordingProgress Progress;
};

TEST_F(RunStatusPageTest, TotalAmountOfTheStatusPage)
{
    VlSettings.LogSettings.DecimalSizes = true;
    const struct {
        int64_t Size, Count;
        bool BySize, Stopped;
        QString Amount;
    } cases[] = {
        {5000, 0, false, false, QString()},
        {5000, 1, false, false, QStringLiteral("1 file")},
        {5000, 42, false, false, QStringLiteral("42 files")},
        {5000, 42, true, true, QString()},
        {0, 3, true, false, QStringLiteral("0 B")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Count);
        VlSettings.ViewSettings.SizeProgress = c.BySize;
        Progress.SetStopped(c.Stopped);
        TBackupForm form;
        form.ShowRunStatus(TResultStatus::psOK, QString(), 0, 0, c.Size, c.Count, QString(), QString());
        EXPECT_EQ(Progress.Amount, c.Amount);
    }
    // By size the amount follows the byte count, not the files.
    VlSettings.ViewSettings.SizeProgress = true;
    Progress.SetStopped(false);
    TBackupForm form;
    form.ShowRunStatus(TResultStatus::psOK, QString(), 0, 0, 2'500'000, 1, QString(), QString());
    EXPECT_EQ(Progress.Amount, QStringLiteral("2.50 MB"));
}

TEST_F(RunStatusPageTest, StatusPageArgumentsAndResult)
{
    TBackupForm form;
    Progress.Result = prRepeat;
    const TModalResult r = form.ShowRunStatus(TResultStatus::psError, QStringLiteral("hint"), 4096 + 30, 0x0000FF,
                                              0, 1, QStringLiteral("second"), QStringLiteral("first"));
    EXPECT_EQ(r, prRepeat);
    EXPECT_EQ(Progress.Shown, (QStringList{QString::number(int(TResultStatus::psError)), QStringLiteral("hint"),
                                           QStringLiteral("first"), QStringLiteral("second"),
                                           QString::number(0x0000FF), QString::number(4096 + 30)}));

    form.VssStatusMessage(QStringLiteral("Creating snapshot of /home"));
    EXPECT_EQ(Progress.Prompt, QStringLiteral("Creating snapshot of /home"));
}

} // namespace
} // namespace vl
