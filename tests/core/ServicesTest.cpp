#include "core/MessageService.h"
#include "core/PasswordService.h"
#include "core/WindowServices.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace vl;

namespace {

// Collects what the headless services write to the run's log.
class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetServiceLogSink([this](const QString &line) { FLog << line; });
    }
    void TearDown() override
    {
        SetServiceLogSink({});
        SetMessageService(nullptr);
        SetPasswordService(nullptr);
        SetProgressWindow(nullptr);
        SetStatusWindow(nullptr);
        SetMainWindowServices(nullptr);
    }

    QStringList FLog;
};

// ---------------------------------------------------------------------------
// Message boxes

TEST_F(ServicesTest, HeadlessQuestionsGetTheClosingButtonsAnswerAndAreLogged)
{
    const QPoint at(100, 200);
    const struct {
        const char *text;
        std::function<int(const QString &)> ask;
        int expected;
        const char *answer;
    } cases[] = {
        {"Overwrite the file?", [](const QString &t) { return int(ConfirmBox(t)); }, 0, "No"},
        {"Delete it?",
         [&](const QString &t) { return int(ConfirmBoxAt(at, t, TMsgDlgBtn::mbYes, TDefaultMonitor::dmMainForm)); }, 0,
         "No"},
        // Cancel is the answer: the volume-full question stops the run.
        {"The destination volume is full!", [](const QString &t) { return int(ConfirmCancelBox(t)); }, 1, "Cancel"},
        {"Continue anyway?",
         [&](const QString &t) {
             return int(ConfirmErrorBoxAt(at, t, TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm));
         },
         0, "Cancel"},
        // Never Retry: an unattended run would ask for ever.
        {"Volume \"X\" not found!", [](const QString &t) { return int(ConfirmRetryBox(t)); }, 0, "Cancel"},
        {"Drive not ready!",
         [&](const QString &t) {
             return int(ConfirmRetryBoxAt(at, t, TMsgDlgBtn::mbRetry, TDefaultMonitor::dmActiveForm));
         },
         0, "Cancel"},
        {"Save new backup task?",
         [&](const QString &t) { return ConfirmYesNoBoxAt(at, t, TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm); },
         mrCancel, "Cancel"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        FLog.clear();
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(c.ask(text), c.expected);
        ASSERT_EQ(FLog.size(), 1);
        EXPECT_TRUE(FLog[0].contains(text)) << FLog[0].toStdString();
        EXPECT_TRUE(FLog[0].endsWith(QStringLiteral("(automatic answer: %1)").arg(QString::fromUtf8(c.answer))))
            << FLog[0].toStdString();
    }
}

TEST_F(ServicesTest, HeadlessMessagesAreLoggedAsOneLine)
{
    EXPECT_EQ(ShowErrorBox(QStringLiteral("Destination not found:\r\n/media/backup"), 5), mrCancel);
    EXPECT_EQ(ShowInfoBox(QStringLiteral("Backup completed"), 0), mrCancel);
    EXPECT_EQ(ShowMessageBox(QStringLiteral("Low space"), TMsgDialogType::mdtWarning), mrCancel);
    EXPECT_EQ(FLog, QStringList({QStringLiteral("Error: Destination not found: /media/backup"),
                                 QStringLiteral("Information: Backup completed"),
                                 QStringLiteral("Warning: Low space")}));

    // An empty box shows nothing; a transient hint explains a control and
    // has no place in a run's log.
    FLog.clear();
    EXPECT_EQ(ShowErrorBox(QString(), 0), mrNone);
    EXPECT_FALSE(ConfirmBox(QString()));
    EXPECT_EQ(ShowMessageBox(QStringLiteral("Password"), TMsgDialogType::mdtCustom), mrCancel);
    EXPECT_TRUE(FLog.isEmpty()) << FLog.join(QLatin1Char('|')).toStdString();
}

TEST_F(ServicesTest, HeadlessStandardDialogAndTextWindow)
{
    EXPECT_EQ(ShowErrorDialog(QStringLiteral("Error executing process"), QStringLiteral("Stdout pipe creation failed"),
                              TDefaultMonitor::dmActiveForm),
              mrOk);
    const QPoint pos = kDefaultPos;
    EXPECT_EQ(PositionedMessageDlgAuto(QString(), QStringLiteral("Replace?"), TMsgDlgType::mtConfirmation,
                                       MsgDlgButtons({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}), pos, 3,
                                       TDefaultMonitor::dmDesktop),
              mrNo);
    EXPECT_EQ(PositionedMessageDlgAuto(QStringLiteral("Copy"), QStringLiteral("Read error"), TMsgDlgType::mtError,
                                       MsgDlgButtons({TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore}),
                                       pos, 0, TDefaultMonitor::dmDesktop),
              mrAbort);
    ShowTextWindow(QStringLiteral("Velkor"), QStringLiteral("line 1\r\nline 2\n"), 0);
    ShowTextWindow(QStringLiteral("Velkor"), QString(), 0);
    EXPECT_EQ(FLog, QStringList({QStringLiteral("Error executing process: Stdout pipe creation failed"),
                                 QStringLiteral("Confirm: Replace? (automatic answer: No)"),
                                 QStringLiteral("Copy: Read error (automatic answer: Abort)"),
                                 QStringLiteral("Velkor:"), QStringLiteral("line 1"), QStringLiteral("line 2")}));
}

TEST_F(ServicesTest, WithoutASinkMessagesGoToStderr)
{
    SetServiceLogSink({});
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(ConfirmBox(QStringLiteral("Continue?")));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Confirm: Continue? (automatic answer: No)\n");
}

// Records what the functions ask of the installed service.
class RecordingMessageService : public IMessageService {
public:
    TModalResult ShowMessageForm(QPoint APos, const QString &AHint, int32_t Delay, TMsgDialogType DlgType,
                                 TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor) override
    {
        Pos = APos;
        Hint = AHint;
        this->Delay = Delay;
        Type = DlgType;
        Default = DefaultButton;
        Monitor = AMonitor;
        return Answer;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &AMsg, TMsgDlgType, TMsgDlgButtons Buttons,
                                      TMsgDlgBtn DefaultButton, QPoint APos, int32_t Timeout,
                                      TDefaultMonitor) override
    {
        Hint = AMsg;
        this->Buttons = Buttons;
        Default = DefaultButton;
        Pos = APos;
        Delay = Timeout;
        return Answer;
    }
    void ShowTextWindow(const QString &, const QString &, int32_t) override {}

    TModalResult Answer = mrNone;
    QPoint Pos;
    QString Hint;
    int32_t Delay = -99;
    TMsgDialogType Type = TMsgDialogType::mdtCustom;
    TMsgDlgBtn Default = TMsgDlgBtn::mbHelp;
    TMsgDlgButtons Buttons = 0;
    TDefaultMonitor Monitor = TDefaultMonitor::dmDesktop;
};

TEST_F(ServicesTest, BoxesReachTheInstalledServiceWithTheirKindAndDefaultButton)
{
    RecordingMessageService gui;
    SetMessageService(&gui);
    const QPoint at(5, 6);
    const QString t = QStringLiteral("text");
    const struct {
        const char *name;
        TModalResult answer;
        std::function<int()> call;
        int expected;
        TMsgDialogType type;
        TMsgDlgBtn def;
        int32_t delay;
        QPoint pos;
    } cases[] = {
        {"ConfirmBox", mrYes, [&] { return int(ConfirmBox(t)); }, 1, TMsgDialogType::mdtConfirm, TMsgDlgBtn::mbYes, 0,
         kDefaultPos},
        {"ConfirmBoxAt", mrNo, [&] { return int(ConfirmBoxAt(at, t, TMsgDlgBtn::mbNo, TDefaultMonitor::dmActiveForm)); },
         0, TMsgDialogType::mdtConfirm, TMsgDlgBtn::mbNo, 0, at},
        {"ConfirmCancelBox", mrCancel, [&] { return int(ConfirmCancelBox(t)); }, 1, TMsgDialogType::mdtConfirmCancel,
         TMsgDlgBtn::mbYes, 0, kDefaultPos},
        {"ConfirmCancelBox yes", mrYes, [&] { return int(ConfirmCancelBox(t)); }, 0,
         TMsgDialogType::mdtConfirmCancel, TMsgDlgBtn::mbYes, 0, kDefaultPos},
        {"ConfirmErrorBoxAt", mrOk,
         [&] { return int(ConfirmErrorBoxAt(at, t, TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm)); }, 1,
         TMsgDialogType::mdtConfirmError, TMsgDlgBtn::mbYes, 0, at},
        {"ConfirmRetryBox", mrRetry, [&] { return int(ConfirmRetryBox(t)); }, 1, TMsgDialogType::mdtConfirmRetry,
         TMsgDlgBtn::mbYes, 0, kDefaultPos},
        {"ConfirmYesNoBoxAt", mrNo,
         [&] { return ConfirmYesNoBoxAt(at, t, TMsgDlgBtn::mbNo, TDefaultMonitor::dmActiveForm); }, mrNo,
         TMsgDialogType::mdtConfirmYesNo, TMsgDlgBtn::mbNo, 0, at},
        {"ShowErrorBox", mrCancel, [&] { return ShowErrorBox(t, 5); }, mrCancel, TMsgDialogType::mdtError,
         TMsgDlgBtn::mbYes, 5, kDefaultPos},
        {"ShowErrorBoxAt", mrCancel, [&] { return ShowErrorBoxAt(at, t, TDefaultMonitor::dmActiveForm); }, mrCancel,
         TMsgDialogType::mdtError, TMsgDlgBtn::mbCancel, 0, at},
        {"ShowInfoBox", mrCancel, [&] { return ShowInfoBox(t, 3); }, mrCancel, TMsgDialogType::mdtInformation,
         TMsgDlgBtn::mbYes, 3, kDefaultPos},
        {"ShowInfoBoxAt", mrCancel, [&] { return ShowInfoBoxAt(at, t, TDefaultMonitor::dmActiveForm); }, mrCancel,
         TMsgDialogType::mdtInformation, TMsgDlgBtn::mbCancel, 0, at},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        gui.Answer = c.answer;
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(gui.Hint, t);
        EXPECT_EQ(gui.Type, c.type);
        EXPECT_EQ(gui.Default, c.def);
        EXPECT_EQ(gui.Delay, c.delay);
        EXPECT_EQ(gui.Pos, c.pos);
    }
    EXPECT_TRUE(FLog.isEmpty());

    // The standard dialog's default button follows its buttons.
    const struct {
        TMsgDlgButtons buttons;
        TMsgDlgBtn def;
    } autos[] = {
        {MsgDlgButtons({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbOK}), TMsgDlgBtn::mbOK},
        {MsgDlgButtons({TMsgDlgBtn::mbNo, TMsgDlgBtn::mbYes}), TMsgDlgBtn::mbYes},
        {MsgDlgButtons({TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry}), TMsgDlgBtn::mbRetry},
    };
    for (const auto &a : autos) {
        PositionedMessageDlgAuto(t, t, TMsgDlgType::mtWarning, a.buttons, at, 4, TDefaultMonitor::dmDesktop);
        EXPECT_EQ(gui.Default, a.def);
        EXPECT_EQ(gui.Buttons, a.buttons);
        EXPECT_EQ(gui.Delay, 4);
    }
    ShowErrorDialog(t, t, TDefaultMonitor::dmDesktop);
    EXPECT_EQ(gui.Buttons, MsgDlgButtons({TMsgDlgBtn::mbOK}));
    EXPECT_EQ(gui.Delay, 0);
    EXPECT_EQ(gui.Pos, kDefaultPos);
}

// ---------------------------------------------------------------------------
// Passwords

TEST_F(ServicesTest, HeadlessPasswordQuestionsAnswerCancelAndKeepThePassword)
{
    QByteArray ansi("old");
    EXPECT_EQ(EnterAnsiPassword(QStringLiteral("FTP password"), QStringLiteral("Password for ftp.example.org:"), true,
                                ansi),
              mrCancel);
    EXPECT_EQ(ansi, QByteArray("old"));
    ASSERT_EQ(FLog.size(), 1);
    EXPECT_EQ(FLog[0], QStringLiteral("FTP password: Password for ftp.example.org: (automatic answer: Cancel)"));

    QString text = QStringLiteral("kept");
    int32_t mode = 3;
    EXPECT_EQ(EnterPasswordEx(kDefaultPos, QStringLiteral("Encryption"), QStringLiteral("Password:"), true, true, text,
                              mode),
              mrCancel);
    EXPECT_EQ(text, QStringLiteral("kept"));
    EXPECT_EQ(mode, 3);
    EXPECT_FALSE(QueryPasswordAt(kDefaultPos, QStringLiteral("Mail"), QStringLiteral("Password:"), text));
    EXPECT_FALSE(EnterNewPassword(QStringLiteral("New password"), text, true, true, 8));
    EXPECT_FALSE(SpecifyAnsiPasswordAt(kDefaultPos, QStringLiteral("Key"), ansi));
    EXPECT_FALSE(EnterCryptPassword(QStringLiteral("File encryption"), QStringLiteral("Backup task: a"), ansi, 4));
    EXPECT_EQ(text, QStringLiteral("kept"));
    EXPECT_EQ(ansi, QByteArray("old"));
    ASSERT_EQ(FLog.size(), 6);
    EXPECT_EQ(FLog[5], QStringLiteral("File encryption: Backup task: a (automatic answer: Cancel)"));
    for (const QString &line : FLog)
        EXPECT_TRUE(line.endsWith(QStringLiteral("(automatic answer: Cancel)"))) << line.toStdString();
}

TEST(PasswordBytes, Windows1252WhenItFitsElseUtf8AndBack)
{
    const struct {
        QString text;
        QByteArray bytes;
    } cases[] = {
        {QStringLiteral("secret"), QByteArray("secret")},
        {QString::fromUtf8("caf\xC3\xA9\xE2\x82\xAC"), QByteArray("caf\xE9\x80")},
        // Omega has no Windows-1252 byte: the whole password is UTF-8.
        {QString::fromUtf8("\xCE\xA9\xE2\x82\xAC"), QByteArray("\xCE\xA9\xE2\x82\xAC")},
        // Windows-1252 bytes that also read as UTF-8 ("é") stay Windows-1252.
        {QString::fromUtf8("\xC3\x83\xC2\xA9"), QByteArray("\xC3\xA9")},
        {QString(), QByteArray()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(PasswordToAnsi(c.text), c.bytes);
        EXPECT_EQ(AnsiToPassword(c.bytes), c.text);
    }
}

class ScriptedPasswordService : public IPasswordService {
public:
    TModalResult AskPassword(QPoint, const QString &, const QString &, bool Skip, bool Enc, QString &Pwd,
                             int32_t &EncMode) override
    {
        GotSkip = Skip;
        GotEnc = Enc;
        if (Answer == mrOk) {
            Pwd = Typed;
            if (Enc)
                EncMode = 3;
        }
        return Answer;
    }
    bool AskNewPassword(QPoint, const QString &, QString &Pwd, bool Confirm, bool Show, int32_t MinLen) override
    {
        Shown = Pwd;
        GotConfirm = Confirm;
        GotShow = Show;
        GotMinLen = MinLen;
        if (Answer == mrOk)
            Pwd = Typed;
        return Answer == mrOk;
    }
    bool AskCryptPassword(const QString &, const QString &Prompt, QString &Pwd, int32_t MinLen) override
    {
        Shown = Prompt;
        GotMinLen = MinLen;
        if (Answer == mrOk)
            Pwd = Typed;
        return Answer == mrOk;
    }

    TModalResult Answer = mrOk;
    QString Typed;
    QString Shown;
    bool GotSkip = false, GotEnc = false, GotConfirm = false, GotShow = false;
    int32_t GotMinLen = -1;
};

TEST_F(ServicesTest, EightBitPasswordsPassThroughTheInstalledService)
{
    ScriptedPasswordService gui;
    SetPasswordService(&gui);
    gui.Typed = QString::fromUtf8("m\xC3\xBCnchen");

    // The 8-bit question never offers the key length, so EncMode stays.
    QByteArray pwd;
    int32_t mode = 1;
    EXPECT_EQ(EnterAnsiPasswordEx(kDefaultPos, QString(), QString(), true, true, pwd, mode), mrOk);
    EXPECT_EQ(pwd, QByteArray("m\xFCnchen"));
    EXPECT_EQ(mode, 1);
    EXPECT_FALSE(gui.GotEnc);
    EXPECT_TRUE(gui.GotSkip);

    // A new password shown for editing starts from the stored bytes.
    pwd = QByteArray("\xE9t\xE9");
    gui.Typed = QString::fromUtf8("\xCE\xA9mega");
    EXPECT_TRUE(EnterNewAnsiPassword(QStringLiteral("New"), pwd, true, true, 6));
    EXPECT_EQ(gui.Shown, QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(pwd, QByteArray("\xCE\xA9mega"));
    EXPECT_TRUE(gui.GotConfirm);

    // The encryption password of an unattended run starts empty.
    gui.Typed = QString::fromUtf8("\xE2\x82\xAC-key");
    EXPECT_TRUE(EnterCryptPassword(QStringLiteral("File encryption"), QStringLiteral("Run\r\nuses"), pwd, 5));
    EXPECT_EQ(pwd, QByteArray("\x80-key"));
    EXPECT_EQ(gui.Shown, QStringLiteral("Run\r\nuses"));
    EXPECT_EQ(gui.GotMinLen, 5);

    EXPECT_TRUE(SpecifyAnsiPasswordAt(kDefaultPos, QStringLiteral("Key"), pwd));
    EXPECT_FALSE(gui.GotConfirm);
    EXPECT_FALSE(gui.GotShow);
    EXPECT_EQ(gui.GotMinLen, 8);

    gui.Answer = mrYes; // Skip
    pwd = QByteArray("before");
    EXPECT_EQ(EnterAnsiPassword(QString(), QString(), true, pwd), mrYes);
    EXPECT_EQ(pwd, QByteArray("before"));
    EXPECT_TRUE(FLog.isEmpty());
}

// ---------------------------------------------------------------------------
// Progress and status windows

TEST_F(ServicesTest, HeadlessProgressWindowReturnsThePresetSubsequentAction)
{
    THeadlessProgressWindow w(-1);
    const TProgressOptions withAction = ProgressOptions({TProgressOption::poBackup, TProgressOption::poAction});
    const struct {
        TProgressOptions options;
        int32_t selected;
        TResultStatus mode;
        int32_t wait;
        TModalResult expected;
    } cases[] = {
        {withAction, 2, TResultStatus::psOK, -1, prLogOff},
        {withAction, 4, TResultStatus::psWarning, 4096 + 10, prHibernate},
        {withAction, 1, TResultStatus::psError, -2, prShutdown},
        {withAction, 7, TResultStatus::psOK, 0, prNoAction},
        // Without the choice shown no action is preset.
        {ProgressOptions({TProgressOption::poBackup}), 2, TResultStatus::psOK, -1, prNoAction},
        {withAction, 2, TResultStatus::psCancel, -1, prCancelled},
    };
    for (const auto &c : cases) {
        w.ShowProgress(nullptr, QStringLiteral("Daily"), QStringLiteral("Dest."), QStringLiteral("/backup"), c.options,
                       c.selected, c.wait, false);
        EXPECT_EQ(w.ShowStatus(c.mode, QString(), QString(), QString(), 0, c.wait), c.expected);
    }
    w.ShowProgress(nullptr, QStringLiteral("Daily"), QString(), QString(), withAction, 3, -1, false);
    EXPECT_EQ(w.Terminate(), prStandby);
}

TEST_F(ServicesTest, HeadlessProgressWindowKeepsWhatRunsReadBack)
{
    THeadlessProgressWindow w(-1);
    w.SetStopped(true);
    w.SetLockStatus(2);
    w.SetStepStyle(TNewProgressBarStyle::npsContinuous);
    w.ShowProgress(nullptr, QStringLiteral("Weekly"), QString(), QString(), 0, 0, -1, false);
    EXPECT_FALSE(w.Stopped());
    EXPECT_EQ(w.TaskDescription(), QStringLiteral("Weekly"));
    EXPECT_EQ(w.StepStyle(), TNewProgressBarStyle::npsContinuous);
    EXPECT_EQ(w.LockStatus(), 2);
    w.SetStopped(true);
    EXPECT_TRUE(w.Stopped());
    EXPECT_FALSE(w.Paused());
    w.ShowStatus(TResultStatus::psOK, QString(), QString(), QString(), 0, -1);
    EXPECT_EQ(w.LockStatus(), 0);
}

// Answers Yes and notes the progress window's lock while the box is open.
class LockWatchingService : public IMessageService {
public:
    explicit LockWatchingService(IProgressWindow &w) : FWindow(w) {}
    TModalResult ShowMessageForm(QPoint, const QString &, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        LockSeen = FWindow.LockStatus();
        return mrYes;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn,
                                      QPoint, int32_t, TDefaultMonitor) override
    {
        return mrOk;
    }
    void ShowTextWindow(const QString &, const QString &, int32_t) override {}
    int32_t LockSeen = -1;

private:
    IProgressWindow &FWindow;
};

TEST_F(ServicesTest, ProgressWindowQuestionsLockItsButtons)
{
    THeadlessProgressWindow w(-1);
    // Headless: the run is not cancelled by a question nobody can answer.
    EXPECT_FALSE(w.Confirm(QStringLiteral("Skip the locked file?")));
    QByteArray pwd("x");
    int32_t mode = 0;
    EXPECT_EQ(w.GetPassword(QStringLiteral("Key"), QStringLiteral("Password:"), false, true, pwd, mode), mrCancel);
    EXPECT_EQ(pwd, QByteArray("x"));
    EXPECT_EQ(FLog.size(), 2);

    LockWatchingService gui(w);
    SetMessageService(&gui);
    EXPECT_TRUE(w.Confirm(QStringLiteral("Skip the locked file?")));
    EXPECT_EQ(gui.LockSeen, 1);
    EXPECT_EQ(w.LockStatus(), 0);
    gui.LockSeen = -1;
    w.ShowError(QStringLiteral("Write error"));
    EXPECT_EQ(gui.LockSeen, 1);
    EXPECT_EQ(w.LockStatus(), 0);
}

// A pseudo-terminal: the services write to its slave side.
class Pty {
public:
    Pty()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY);
        if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0)
            FSlave = open(ptsname(FMaster), O_RDWR | O_NOCTTY);
    }
    ~Pty()
    {
        if (FSlave >= 0)
            close(FSlave);
        if (FMaster >= 0)
            close(FMaster);
    }
    bool Ok() const { return FSlave >= 0; }
    int Slave() const { return FSlave; }
    void SetColumns(unsigned short cols)
    {
        struct winsize ws = {};
        ws.ws_row = 24;
        ws.ws_col = cols;
        ioctl(FSlave, TIOCSWINSZ, &ws);
    }
    // Everything written so far (reads until the terminal stays quiet).
    std::string Drain()
    {
        std::string out;
        pollfd p{FMaster, POLLIN, 0};
        while (poll(&p, 1, 300) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = read(FMaster, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, size_t(n));
        }
        return out;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
};

TEST_F(ServicesTest, HeadlessProgressShowsOneLineOnATerminal)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    THeadlessProgressWindow w(pty.Slave());
    w.ShowProgress(nullptr, QStringLiteral("Daily"), QStringLiteral("Dest."), QStringLiteral("/backup"), 0, 0, 0,
                   false);
    w.SetTotalProgress(100);
    std::string out = pty.Drain();
    EXPECT_NE(out.find("Daily => /backup"), std::string::npos) << out;
    // 100 % belongs to the status page.
    EXPECT_NE(out.find("\r 99% "), std::string::npos) << out;
    EXPECT_EQ(out.find("100%"), std::string::npos) << out;

    w.ShowStatus(TResultStatus::psOK, QStringLiteral("Backup completed"), QStringLiteral("3 files copied"), QString(),
                 0, 0);
    out = pty.Drain();
    EXPECT_NE(out.find("\rBackup completed - 3 files copied\x1b[K"), std::string::npos) << out;

    // A quiet run (Wait -1) shows nothing, even on a terminal.
    w.ShowProgress(nullptr, QStringLiteral("Quiet"), QString(), QString(), 0, 0, -1, false);
    w.SetPrompt(QStringLiteral("/src/a"));
    w.ShowStatus(TResultStatus::psOK, QStringLiteral("Backup completed"), QString(), QString(), 0, -1);
    EXPECT_EQ(pty.Drain(), "");
}

TEST_F(ServicesTest, TerminalLineKeepsTheEndOfALongTextWithinTheWidth)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    pty.SetColumns(20);
    THeadlessProgressWindow w(pty.Slave());
    const QString task = QString(200, QLatin1Char('x')) + QStringLiteral("\nEND");
    w.ShowProgress(nullptr, task, QString(), QString(), 0, 0, 0, false);
    std::string out = pty.Drain();
    EXPECT_NE(out.find("...xxxxxxxxxxxx?END"), std::string::npos) << out;
    // No line reaches the last column (which would wrap it).
    std::string visible;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out.compare(i, 3, "\x1b[K") == 0) {
            i += 2;
            continue;
        }
        if (out[i] == '\r' || out[i] == '\n') {
            EXPECT_LE(visible.size(), 19u) << visible;
            visible.clear();
        } else {
            visible += out[i];
        }
    }
    EXPECT_LE(visible.size(), 19u) << visible;
}

TEST_F(ServicesTest, HeadlessWindowsWriteNothingWhereStderrIsNoTerminal)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        THeadlessProgressWindow w(fds[1]);
        w.ShowProgress(nullptr, QStringLiteral("Daily"), QString(), QStringLiteral("/backup"), 0, 0, 0, false);
        w.UpdatePrompt(TSourceSelection::ssFile, QString(), QStringLiteral("/src/a"), 10);
        w.ShowStatus(TResultStatus::psError, QStringLiteral("Backup completed"), QStringLiteral("1 error"), QString(),
                     0, 0);
        THeadlessStatusWindow s(fds[1]);
        s.ShowStatus(kDefaultPos, QStringLiteral("Scanning directories"), QString(), true, 10);
        s.Close();
    }
    close(fds[1]);
    char buf[64];
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 0);
    close(fds[0]);
}

TEST_F(ServicesTest, HeadlessStatusWindowOnATerminal)
{
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    THeadlessStatusWindow s(pty.Slave());
    EXPECT_FALSE(s.Visible());
    s.ShowStatus(kDefaultPos, QStringLiteral("Velkor - Scanning directories"), QStringLiteral("/src"), true, -1);
    EXPECT_TRUE(s.Visible());
    EXPECT_FALSE(s.Stopped());
    std::string out = pty.Drain();
    EXPECT_NE(out.find("  0% Velkor - Scanning directories - /src"), std::string::npos) << out;

    // An open window keeps its title for an empty one.
    s.ShowStatus(kDefaultPos, QString(), QStringLiteral("/src/sub"), true, 10);
    out = pty.Drain();
    EXPECT_NE(out.find("Velkor - Scanning directories - /src/sub"), std::string::npos) << out;
    s.Close();
    EXPECT_FALSE(s.Visible());
    EXPECT_NE(pty.Drain().find("\r\x1b[K"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The current services

TEST_F(ServicesTest, HeadlessServicesAreInstalledUntilOthersAre)
{
    EXPECT_NE(dynamic_cast<THeadlessMessageService *>(&MessageService()), nullptr);
    EXPECT_NE(dynamic_cast<THeadlessPasswordService *>(&PasswordService()), nullptr);
    EXPECT_NE(dynamic_cast<THeadlessProgressWindow *>(&ProgressWindow()), nullptr);
    EXPECT_NE(dynamic_cast<THeadlessStatusWindow *>(&StatusWindow()), nullptr);
    IMainWindowServices &main = MainWindowServices();
    EXPECT_NE(dynamic_cast<TNullMainWindowServices *>(&main), nullptr);
    EXPECT_TRUE(main.SoundOn());
    EXPECT_EQ(main.VlInstance(), 0);
    EXPECT_FALSE(main.IdleBackup());
    EXPECT_FALSE(main.NoScaling());

    RecordingMessageService messages;
    ScriptedPasswordService passwords;
    THeadlessProgressWindow progress(-1);
    THeadlessStatusWindow status(-1);
    TNullMainWindowServices shell;
    SetMessageService(&messages);
    SetPasswordService(&passwords);
    SetProgressWindow(&progress);
    SetStatusWindow(&status);
    SetMainWindowServices(&shell);
    EXPECT_EQ(&MessageService(), &messages);
    EXPECT_EQ(&PasswordService(), &passwords);
    EXPECT_EQ(&ProgressWindow(), &progress);
    EXPECT_EQ(&StatusWindow(), &status);
    EXPECT_EQ(&MainWindowServices(), &shell);

    SetMessageService(nullptr);
    SetProgressWindow(nullptr);
    EXPECT_NE(dynamic_cast<THeadlessMessageService *>(&MessageService()), nullptr);
    EXPECT_NE(&ProgressWindow(), &progress);
}

} // namespace
