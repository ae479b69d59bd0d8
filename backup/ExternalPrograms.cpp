#include "backup/ExternalPrograms.h"

#include "backup/BackupForm.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/ShellUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "engine/WinExecute.h"
#include "platform/FileNames.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace vl {

namespace {

const QLatin1String kLogMarker("  ### ");
const QLatin1String kPasswordPlaceholder("%password%");
const QLatin1String kLogfilePlaceholder("%logfile%");

// Stands for the password while the command line is expanded: it holds no
// "%", so no expansion can touch it or pair with it, and the password
// itself goes in only at the very end.
const QString kPasswordSentinel = QStringLiteral("\uE000velkor-password\uE001");

// Linux has no higher signal numbers (SIGRTMAX).
constexpr uint32_t kMaxSignal = 64;

QString NoTrailingSlash(const QString &s)
{
    QString r = s;
    while (r.size() > 1 && r.endsWith(QLatin1Char('/')))
        r.chop(1);
    return r;
}

QString ExtProgTaskFolder()
{
    return NoTrailingSlash(VlSettings.Directories.TaskDir);
}

// Splits off the program token (double quotes, blank separator); ACommand
// keeps the rest.
QString TakeProgram(QString &ACommand)
{
    return SplitNextQuotedToken(ACommand, QLatin1Char(' '), QLatin1Char('"'));
}

// A path as one word for /bin/sh: as it is when it holds nothing the shell
// reads specially.
QString ShellWord(const QString &APath)
{
    for (QChar c : APath) {
        if (!(c.isLetterOrNumber() || QStringLiteral("/._-+,:@").contains(c)))
            return QString::fromUtf8(ShellQuote(APath.toUtf8()));
    }
    return APath;
}

bool IsExecutable(const QString &APath)
{
    const QFileInfo info(APath);
    return info.isFile() && ::access(EncodeFileName(APath).constData(), X_OK) == 0;
}

// The placeholders of a command line, APassword standing for "%password%".
QString ExpandCommand(const TBackupForm &AForm, const QString &ACommand, const QString &AStatus,
                      const QString &APassword)
{
    QString s = ACommand;
    const auto apply = [&s](QLatin1String AName, const auto &AValue) {
        if (s.contains(AName, Qt::CaseInsensitive))
            s.replace(AName, AValue(), Qt::CaseInsensitive);
    };
    const auto &p = ExecPlaceHolders;
    apply(p[0], [&] { return AForm.ActTaskName; });
    apply(p[1], [&] { return ResolvedVolumePath(AForm.BaseDest, false); });
    apply(p[2], [&] { return AForm.DestMode >= 4 ? AForm.ZipName : QString(); });
    apply(p[3], [] { return SystemDirectory(); });
    apply(p[4], [] { return ExtProgTaskFolder(); });
    apply(p[5], [] { return NoTrailingSlash(ProgramPath); });
    apply(p[6], [] { return LogonUserName(); });
    apply(p[7], [&] { return APassword; });
    apply(p[8], [&] { return AForm.LastLogFile; });
    apply(p[9], [&] { return AStatus; });
    return ExpandDateTimePlaceHolders(s, 0);
}

// The command line with the password sentinel, placeholders and %NAME%
// environment variables expanded.
QString ExpandForRun(const TBackupForm &AForm, const QString &ACommand, const QString &AStatus)
{
    return ExpandEnvironmentVars(ExpandCommand(AForm, ACommand, AStatus, kPasswordSentinel));
}

QString ShowPassword(const QString &ACommand)
{
    return QString(ACommand).replace(kPasswordSentinel, QLatin1String(kPasswordPrompt));
}

// Releases the run log for a program that writes into it; reopens it on
// every way out.
class TLogRelease {
public:
    TLogRelease(TBackupForm &AForm, bool AActive) : FForm(AForm), FActive(AActive)
    {
        if (FActive)
            FForm.ReleaseLogFile(1);
    }
    ~TLogRelease()
    {
        if (FActive)
            FForm.ReopenLogFile(1);
    }
    TLogRelease(const TLogRelease &) = delete;
    TLogRelease &operator=(const TLogRelease &) = delete;

private:
    TBackupForm &FForm;
    bool FActive;
};

} // namespace

// ---------------------------------------------------------------------------
// Free functions

QString ExternalProgramPath(const QString &AProgram, int Kind)
{
    if (AProgram.isEmpty())
        return QString();
    if (AProgram.startsWith(QLatin1String("~/")))
        return CanonicalPath(WithTrailingDelimiter(UserProfileDirectory()), AProgram.mid(2));
    if (AProgram.contains(QLatin1Char('/')) || Kind != kExtCmdProgram)
        return CanonicalPath(WithTrailingDelimiter(ExtProgTaskFolder()), AProgram);
    return QStandardPaths::findExecutable(AProgram);
}

bool CheckExternalCommand(const QString &ACommand, bool &IsConsole, int &Kind)
{
    QString rest = ACommand;
    const QString program = TakeProgram(rest);
    Kind = kExtCmdProgram;
    IsConsole = false;
    if (program.isEmpty())
        return false;
    const QString ext = ExtensionOf(LastPathElement(program)).toLower();
    if (ext == QLatin1String("sh"))
        Kind = kExtCmdScript;
    else if (ext == QLatin1String("desktop"))
        Kind = kExtCmdShortcut;
    const QString path = ExternalProgramPath(program, Kind);
    IsConsole = !path.isEmpty() && IsConsoleProgram(path);
    if (Kind != kExtCmdProgram || program.contains(QLatin1Char('/')))
        return QFileInfo(path).isFile();
    // A bare name is what the shell finds: a builtin or a program in PATH.
    return CheckCommandProgram(ShellWord(program), ExtProgTaskFolder()) == 0;
}

TExtProgOutcome ClassifyExtProgResult(uint32_t AResult, bool ABefore, int32_t AErrorLevel, uint32_t &ACode)
{
    if (AResult == 0) {
        ACode = 0;
        return TExtProgOutcome::eoSuccess;
    }
    if (AResult == WAIT_TIMEOUT) {
        ACode = WAIT_TIMEOUT;
        return TExtProgOutcome::eoTimeOut;
    }
    if (!(AResult & kExitCodeBit)) {
        ACode = AResult;
        return TExtProgOutcome::eoStartError;
    }
    // The whole code: masking it could turn a failure into 0.
    ACode = AResult & ~kExitCodeBit;
    if (ACode > 128 && ACode <= 128 + kMaxSignal)
        return TExtProgOutcome::eoSignal;
    const bool accepted = ABefore ? int64_t(ACode) < int64_t(AErrorLevel) : (AErrorLevel & kIgnoreErrorLevel) != 0;
    return accepted ? TExtProgOutcome::eoAccepted : TExtProgOutcome::eoErrorLevel;
}

bool PostProgramMayRun(int32_t AConditions, bool ACancelled, bool AHadErrors, bool ANothingBackedUp)
{
    return !((ACancelled && (AConditions & kSkipAfterCancel)) || (AHadErrors && (AConditions & kSkipAfterErrors))
             || (ANothingBackedUp && (AConditions & kSkipAfterIdle)));
}

QString InsertShellPassword(const QString &ACommand, const QString &AMarker, const QString &APassword)
{
    if (AMarker.isEmpty())
        return ACommand;
    enum { Plain, InSingle, InDouble } state = Plain;
    QString result;
    for (qsizetype i = 0; i < ACommand.size();) {
        if (ACommand.mid(i, AMarker.size()).compare(AMarker, Qt::CaseInsensitive) == 0) {
            switch (state) {
            case Plain: result += QString::fromUtf8(ShellQuote(APassword.toUtf8())); break;
            case InSingle: result += QString(APassword).replace(QLatin1Char('\''), QLatin1String("'\\''")); break;
            case InDouble:
                for (QChar c : APassword) {
                    if (QStringLiteral("\\\"$`").contains(c))
                        result += QLatin1Char('\\');
                    result += c;
                }
                break;
            }
            i += AMarker.size();
            continue;
        }
        const QChar c = ACommand[i];
        result += c;
        ++i;
        if (state == InSingle) {
            if (c == QLatin1Char('\''))
                state = Plain;
        } else if (c == QLatin1Char('\\') && i < ACommand.size()) {
            result += ACommand[i]; // the escaped character, whatever it is
            ++i;
        } else if (c == QLatin1Char('"')) {
            state = state == InDouble ? Plain : InDouble;
        } else if (c == QLatin1Char('\'') && state == Plain) {
            state = InSingle;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// TBackupForm

QString TBackupForm::ExpandExecPlaceHolders(const QString &ACommand, const QString &AStatus) const
{
    return ExpandCommand(*this, ACommand, AStatus, QLatin1String(kPasswordPrompt));
}

void TBackupForm::StopExternalProgramWait()
{
    ExtProgWaitStopped = true;
    CancelProcessWait();
}

void TBackupForm::RunExternalProgram(const TExternalProg &Prog, TInteraction IaMode, int AStatus,
                                     TExtProgResult &Result)
{
    Result = TExtProgResult();
    if (Prog.Command.isEmpty() || !(Prog.Wait & kWaitRun))
        return;
    const bool before = AStatus < 0;
    const QString title = before ? Tr("External program before backup") : Tr("External program after backup");
    const QString status = before ? QString() : QString::number(AStatus);
    const bool prompt = IaMode == TInteraction::iaPrompt || IaMode == TInteraction::iaErrorPrompt;

    // The password stays out of every text that is shown or logged: those
    // are built from the sentinel form, and the password replaces the
    // sentinel only in the text handed to the shell.
    const QString expanded = ExpandForRun(*this, Prog.Command, status);
    const QString shown = CmdEnc == 1 ? Tr("Hidden command line") : ShowPassword(expanded);
    QString password;
    if (Prog.Command.contains(kPasswordPlaceholder, Qt::CaseInsensitive)) {
        QByteArray pwd;
        const QString question = GuardedFormat(Tr("Executing the external program:\r\n%s\r\nrequires a password!"),
                                               CmdEnc == 1 ? shown : ExpandExecPlaceHolders(Prog.Command, status));
        if (EnterAnsiPassword(title, question, false, pwd) != mrOk) {
            Result.State = TExtProgState::epFailed;
            return;
        }
        password = AnsiToPassword(pwd);
    }
    const bool writesLog = Prog.Command.contains(kLogfilePlaceholder, Qt::CaseInsensitive);
    const bool elevated = (Prog.Wait & kWaitAsAdmin) && !IsProcessElevated();

    bool isConsole = false;
    int kind = kExtCmdProgram;
    if (!CheckExternalCommand(expanded, isConsole, kind)) {
        Result.State = TExtProgState::epNotFound;
        WriteToLog(1, kLogMarker + GuardedFormat(Tr("External program not found:%s%s"), QStringLiteral(" "), shown));
        if (prompt)
            ShowErrorBox(GuardedFormat(Tr("External program not found:%s%s"), QStringLiteral("\r\n"), shown), 0);
        return;
    }
    WriteToLog(3, kLogMarker + GuardedFormat(Tr("Starting external program: %s"), shown));

    QString rest = expanded;
    QString program = TakeProgram(rest);
    QString command = expanded;
    if (kind != kExtCmdProgram || program.contains(QLatin1Char('/'))) {
        program = ExternalProgramPath(program, kind);
        // A script without execute bit is read by the shell; one with it
        // runs by its path, so its "#!" line chooses the interpreter.
        if (kind == kExtCmdScript && !IsExecutable(program)) {
            rest = (ShellWord(program) + QLatin1Char(' ') + rest).trimmed();
            program = QStringLiteral("/bin/sh");
        }
        command = (ShellWord(program) + QLatin1Char(' ') + rest).trimmed();
    }
    command = InsertShellPassword(command, kPasswordSentinel, password);
    rest = InsertShellPassword(rest, kPasswordSentinel, password);

    const QString workDir = ExtProgTaskFolder();
    const int32_t timeout = (Prog.Wait & kWaitTimeoutMask) * 1000;
    ExtProgWaitStopped = false;
    uint32_t v = 0;
    {
        TLogRelease release(*this, writesLog);
        if (elevated) {
            // An elevated start of a file that is no program would open it
            // in the desktop's opener as root.
            if (kind != kExtCmdShortcut && program.contains(QLatin1Char('/')) && !IsExecutable(program))
                v = ERROR_ACCESS_DENIED;
            else
                v = ShellExecuteAndWait(program, rest, workDir, false, timeout, true);
        } else if (kind == kExtCmdShortcut) {
            v = ShellExecuteAndWait(program, QString(), workDir, false, 0, false);
        } else {
            uint8_t flags = 0;
            QStringList output;
            QStringList *outputList = nullptr;
            if (isConsole && (Prog.Wait & kWaitShowConsole)) {
                flags = epCaptureOutput | epCaptureErrors | epShowOutput;
            } else if (isConsole) {
                flags = epCaptureOutput;
                outputList = &output; // read and discarded
            }
            v = ExecuteConsoleProcess(command, workDir, flags, timeout, false, outputList);
        }
    }

    uint32_t code = 0;
    const QString errorHead = GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral(" "), shown);
    const QString errorBoxHead = GuardedFormat(Tr("Error executing:%s%s"), QStringLiteral("\r\n"), shown);
    switch (ClassifyExtProgResult(v, before, Prog.ErrorLevel, code)) {
    case TExtProgOutcome::eoSuccess:
        Result = {TExtProgState::epDone, 0};
        WriteToLog(1, kLogMarker + GuardedFormat(Tr("External program was successful: %s"), shown));
        break;
    case TExtProgOutcome::eoAccepted:
        Result = {TExtProgState::epDone, int32_t(code)};
        WriteToLog(1, kLogMarker
                          + GuardedFormat(Tr("External program (%s) returned accepted errorlevel: %u"), shown, code));
        break;
    case TExtProgOutcome::eoErrorLevel: {
        Result = {TExtProgState::epErrorLevel, int32_t(code)};
        const QString detail = GuardedFormat(Tr("Returned errorlevel = %u"), code);
        WriteToLog(1, kLogMarker + errorHead + QStringLiteral(" -> ") + detail);
        if (prompt)
            ShowErrorBox(errorBoxHead + QStringLiteral("\r\n") + detail, 0);
        break;
    }
    case TExtProgOutcome::eoSignal: {
        Result = {TExtProgState::epFailed, int32_t(code)};
        const QString detail = GuardedFormat(Tr("Terminated by signal %u"), code - 128);
        WriteToLog(1, kLogMarker + errorHead + QStringLiteral(" -> ") + detail);
        if (prompt)
            ShowErrorBox(errorBoxHead + QStringLiteral("\r\n") + detail, 0);
        break;
    }
    case TExtProgOutcome::eoTimeOut: {
        Result = {TExtProgState::epFailed, int32_t(WAIT_TIMEOUT)};
        const QString text = GuardedFormat(Tr("Time out executing external program: %s"), shown);
        WriteToLog(1, kLogMarker + text);
        if (Prog.Wait & kWaitIgnoreTimeout)
            Result.State = TExtProgState::epDone;
        else if (prompt && ConfirmBox(text + QStringLiteral("\r\n") + Tr("Continue backup?")))
            Result.State = TExtProgState::epDone;
        break;
    }
    case TExtProgOutcome::eoStartError: {
        Result = {TExtProgState::epFailed, int32_t(code)};
        const QString detail = SystemErrorText(code);
        WriteToLog(1, kLogMarker + errorHead + QStringLiteral(" -> ") + detail);
        if (prompt)
            ShowErrorBox(errorBoxHead + QStringLiteral("\r\n") + detail, 0);
        break;
    }
    }
}

void TBackupForm::ShowExtProgPrompt(const QString &AHint, const QString &APrompt)
{
    IProgressWindow &window = ProgressWindow();
    window.SetDestination(BaseDest);
    window.UpdatePrompt(TSourceSelection::ssNoSrc, AHint, APrompt, 0);
    window.SetLockStatus(2);
}

QString TBackupForm::GetSourceVolumeName() const
{
    if (SelectedDirBox.Count() == 0)
        return QString();
    QString label;
    if (!GetVolumeLabel(ResolvedVolumePath(SelectedDirBox.Objects(0).SPath, false), label))
        return QString();
    return label;
}

} // namespace vl
