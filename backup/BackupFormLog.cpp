// The run log of a task: the run log file, the temporary log of one run
// (mail attachment, print-out), the numbered errors with their summary and
// the error log VlErrors.log.
#include "backup/BackupForm.h"
#include "backup/LogWriter.h"
#include "backup/MainServices.h"

#include "core/DateTime.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/SystemUtils.h"
#include "core/MessageService.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/System.h"
#include "platform/Thread.h"
#include "ui/ListWindows.h"
#include "ui/TextViewer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace vl {

namespace {

constexpr int kModeWarnings = 0x04;
constexpr int kModePrint = 0x40;
constexpr int kModeSummary = 0x80;
constexpr int kModeStartAnew = 0x100;

constexpr int kMaxSummaryEntries = 100;
// Names tried for the temporary log before giving up.
constexpr int kMaxTempNameTries = 1000;
constexpr int kErrorLogAttempts = 2;
constexpr int kErrorLogPauseMs = 2000;
constexpr uint32_t kEventLogOpenError = 0xC000000D;

const QString kErrorPrefix = QStringLiteral("  *** ");
const QString kDetailPrefix = QStringLiteral("      -> ");
const QString kSummaryPrefix = QStringLiteral("      => ");

// A line of message mode MsgMode goes into a file of mode FileMode when the
// file's level reaches the line's, or when a short log with the warnings
// option meets a warning line.
bool LevelAdmits(int FileMode, int MsgMode)
{
    if ((FileMode & 3) >= (MsgMode & 3))
        return true;
    return (FileMode & kModeWarnings) != 0 && (FileMode & 3) == 1 && (MsgMode & kModeWarnings) != 0;
}

QString TempLogFolder()
{
    const QString fallback = ProgramTempDir.isEmpty() ? GetProgramTempDir() : ProgramTempDir;
    return WithTrailingDelimiter(ChooseFolder(VlSettings.Directories.TempDir, fallback));
}

} // namespace

int TBackupForm::OpenLogFile(int APm, const QString &ALogName, bool MailLog)
{
    // A log still open from an earlier run is given up without further lines.
    if (fProt)
        fProt->Close();
    CloseTempLog();

    int mode;
    bool startAnew;
    if (CmdProtMode >= 0) {
        mode = CmdProtMode % 10;
        startAnew = CmdProtMode > 10;
    } else {
        mode = APm;
        startAnew = (APm & kModeStartAnew) != 0;
    }
    LogOpenMode = APm;
    ActMode = mode & 7;
    ErrorSummary = (mode & kModeSummary) != 0;
    const bool tempWanted = MailLog || (mode & kModePrint) != 0;
    if (tempWanted)
        TempMode = ActMode != 0 ? ActMode : 1;

    uint32_t result = ERROR_SUCCESS;
    if (ActMode > 0) {
        QString name;
        if (ALogName.isEmpty())
            name = ProgramLogName;
        else if (HasAbsolutePath(ALogName))
            name = ALogName;
        else
            name = WithTrailingDelimiter(GetLogFolder()) + ALogName;
        MakeDirs(ParentDirectory(name)); // a failure shows when the file is opened

        // A log that another program holds open is continued in a sibling.
        QString candidate = name;
        for (int n = 1; TLogWriter::IsBusy(candidate); ++n)
            candidate = InsertSuffixWithExt(name, QLatin1Char('-') + QString::number(n), QStringLiteral(".log"));
        LastLogFile = candidate;

        const int64_t limit =
            int64_t(VlSettings.LogSettings.LogSize) * (VlSettings.LogSettings.DecimalSizes ? 1000 : 1024);
        QString movedTo;
        TStatInfo st;
        if (StatPath(candidate, true, st) == ERROR_SUCCESS && st.IsRegular() && st.Size > limit) {
            const QString dated =
                InsertNameSuffix(candidate, QLatin1Char(' ') + FormatDateTime(QStringLiteral("yyyy-mm-dd"), Now()));
            if (MoveNoReplace(candidate, dated) == ERROR_SUCCESS)
                movedTo = dated;
        }
        if (startAnew)
            RemoveFile(candidate);

        if (!fProt)
            fProt = std::make_unique<TLogWriter>();
        result = fProt->Open(candidate, TLogWriter::omAppend);
        if (result == ERROR_SUCCESS && !movedTo.isEmpty()) {
            fProt->WriteLine(GuardedFormat(Tr("Continuation of \"%s\""), movedTo));
            fProt->WriteLine(QString());
        }
        if (result != ERROR_SUCCESS)
            ActMode = 0;
    }

    TempProt = false;
    TempLogName.clear();
    LogHeader.clear();

    if (result == ERROR_SUCCESS && tempWanted) {
        // Runs started in the same second must not share (and later delete)
        // one temporary log: the name is taken exclusively, with a number
        // added only when it is in use.
        const QString base = TempLogFolder() + VlSettings.LogSettings.MailLogPrefix +
                             FormatDateTime(QStringLiteral(" yy-mm-dd hh-nn-ss"), Now());
        if (!fMail)
            fMail = std::make_unique<TLogWriter>();
        QString name = base + QStringLiteral(".log");
        result = fMail->Open(name, TLogWriter::omCreateNew);
        for (int n = 1; result == ERROR_FILE_EXISTS && n < kMaxTempNameTries; ++n) {
            name = base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".log");
            result = fMail->Open(name, TLogWriter::omCreateNew);
        }
        if (result == ERROR_SUCCESS) {
            TempLogName = name;
            TempProt = true;
        }
    }

    LogErrorList.clear();
    LogErrorListOpen = true;
    return int(result);
}

void TBackupForm::CheckLogError(int ErrorCode, bool Prompt)
{
    if (ErrorCode <= 0)
        return;
    const QString text = Tr("Error opening log file!") + QStringLiteral("\r\n") + SystemErrorText(uint32_t(ErrorCode)) +
                         QStringLiteral("\r\n") + LastLogFile;
    if (Prompt)
        ShowErrorBox(text, 0);
    else if (EventLogAvailable)
        // The system log has no message resources: the entry carries its text.
        WriteEventLog(QStringLiteral("Velkor"), eltError, 1, kEventLogOpenError,
                      text.split(QStringLiteral("\r\n")));
}

void TBackupForm::InitLog(const QString &Action)
{
    LogTime = false;
    LogHeader = ProgramInfo.InternalName + BitnessText() + QStringLiteral(" (") +
                ProgramVersionNumber(4, QStringLiteral("0.0.0.0")) + QStringLiteral(") [") +
                QStringLiteral("%1").arg(ActMode, 2, 16, QLatin1Char('0')).toUpper() + QStringLiteral("] - ") + Action;
    WriteToLog(1, LogHeader);
    WriteToLog(2, QStringLiteral("  ") + Tr("Operating system: ") + WindowsVersionText());
}

void TBackupForm::BeginLog(TDateTime dt, const QString &Desc)
{
    LogBegin = QStringLiteral("  ==> ") + Tr("Start: ") + FormatDateTime(QStringLiteral("ddddd tt"), dt) +
               QStringLiteral(" - ") + Desc;
    WriteToLog(1, LogBegin);
}

bool TBackupForm::LogWants(int Mode) const
{
    return (fProt && fProt->IsOpen() && LevelAdmits(ActMode, Mode)) ||
           (TempProt && fMail && fMail->IsOpen() && LevelAdmits(TempMode, Mode));
}

void TBackupForm::WriteToLog(int Mode, const QString &AMsg)
{
    QString line = AMsg;
    if (CurrentLogMode() == 3 && LogTime && !AMsg.isEmpty()) {
        int blanks = 0;
        while (blanks < 4 && blanks < AMsg.size() && AMsg.at(blanks) == QLatin1Char(' '))
            ++blanks;
        line = FormatDateTime(QStringLiteral("  hh:nn:ss.zzz:"), Now()) + QLatin1Char(' ') + AMsg.mid(blanks);
    }
    // At level verbose a long run is watched while it goes on.
    const bool flushNow = CurrentLogMode() == 3;
    // Write errors are ignored line by line; each file is written regardless
    // of the other.
    if (fProt && fProt->IsOpen() && LevelAdmits(ActMode, Mode)) {
        fProt->WriteLine(line);
        if (flushNow)
            fProt->Flush();
    }
    if (TempProt && fMail && fMail->IsOpen() && LevelAdmits(TempMode, Mode)) {
        fMail->WriteLine(line);
        if (flushNow)
            fMail->Flush();
    }
}

void TBackupForm::WriteErrorToLog(int Mode, const QString &GMsg, const QString &AMsg, const QString &EMsg1,
                                  const QString &EMsg2)
{
    QString line;
    if (CurrentLogMode() > 1 && Mode <= CurrentLogMode() && ErrorSummary && LogErrorListOpen) {
        const qsizetype i = LogErrorList.size();
        LogErrorList.append(QString());
        const QString number = QLatin1Char('(') + QString::number(i + 1) + QLatin1Char(')');
        if (ShowErrors) {
            if (i == 0)
                OpenStatusList(TStatusListPos::spTopRight, laTaskName.Caption(), Tr("Summary of errors:"));
            AddStatusListLine(number + QLatin1Char(' ') + AMsg);
        }
        QString entry = number;
        if (!GMsg.isEmpty())
            entry += QLatin1Char(' ') + GMsg;
        entry += QStringLiteral(": ") + AMsg;
        LogErrorList[i] = entry;
        line = kErrorPrefix + entry;
    } else {
        line = kErrorPrefix + AMsg;
    }
    WriteToLog(Mode, line);
    if (CurrentLogMode() > 1 || (ActMode & kModeWarnings) != 0) {
        for (const QString &detail : {EMsg1, EMsg2})
            if (!detail.isEmpty())
                WriteToLog(Mode, kDetailPrefix + detail);
    }
}

void TBackupForm::WriteErrorToLog(int Mode, const QString &GMsg, const QString &AMsg, int ErrCode)
{
    QString detail;
    if (ErrCode != 0)
        detail = GuardedFormat(Tr("System error: %s"), SystemErrorText(uint32_t(ErrCode)));
    WriteErrorToLog(Mode, GMsg, AMsg, detail, QString());
}

void TBackupForm::WriteErrorSummary()
{
    LogTime = false;
    if (!LogErrorListOpen || !ErrorSummary || LogErrorList.isEmpty())
        return;
    WriteToLog(2, kErrorPrefix + Tr("Summary of errors:"));
    const qsizetype shown = std::min<qsizetype>(LogErrorList.size(), kMaxSummaryEntries);
    for (qsizetype i = 0; i < shown; ++i)
        WriteToLog(2, kSummaryPrefix + LogErrorList.at(i));
    if (LogErrorList.size() > kMaxSummaryEntries)
        WriteToLog(2, kSummaryPrefix + GuardedFormat(Tr("%u more errors"),
                                                     unsigned(LogErrorList.size() - kMaxSummaryEntries)));
}

void TBackupForm::FlushLogFile(int Mode)
{
    if (CurrentLogMode() >= Mode && fProt)
        fProt->Flush();
}

void TBackupForm::ReleaseLogFile(int Mode)
{
    if (CurrentLogMode() >= Mode && fProt)
        fProt->Close();
}

void TBackupForm::ReopenLogFile(int Mode)
{
    if (CurrentLogMode() >= Mode && fProt)
        fProt->Reopen();
}

void TBackupForm::CloseTempLog()
{
    if (fMail)
        fMail->Close();
    TempProt = false;
}

void TBackupForm::CloseLogFile(bool ErrorLog)
{
    if (ErrorLog && ProgExitCode != 0 && !BuMainForm().IsPortable()) {
        if (ProgExitCode != 5) // an aborted run is no failure
            ++ErrorCount;
        const QString errorLogName = WithTrailingDelimiter(GetLogFolder()) + QStringLiteral("VlErrors.log");
        TLogWriter errorLog;
        for (int attempt = 1; attempt <= kErrorLogAttempts; ++attempt) {
            if (errorLog.Open(errorLogName, TLogWriter::omAppend) == ERROR_SUCCESS)
                break;
            if (attempt < kErrorLogAttempts) {
                QElapsedTimer pause;
                pause.start();
                WaitUntil([&pause] { return pause.hasExpired(kErrorLogPauseMs); }, 100);
            }
        }
        if (errorLog.IsOpen()) {
            errorLog.WriteLine(LogHeader);
            errorLog.WriteLine(LogBegin);
            errorLog.WriteLine(kErrorPrefix + TaskErrorText(ProgExitCode));
            errorLog.WriteLine(QString());
            errorLog.Close();
        }
    }

    if (ActMode > 0 && fProt) {
        fProt->WriteLine(QString());
        fProt->Close();
    }
    ActMode = 0;
    TempMode = 0;

    CloseTempLog();
    const int printMode = ErrorLog ? TaskProtMode : LogOpenMode;
    if ((printMode & kModePrint) != 0 && !TempLogName.isEmpty())
        PrintTextFile(TempLogName, VlSettings.PrinterSettings, 0);
    if (!TempLogName.isEmpty()) {
        RemoveFile(TempLogName);
        TempLogName.clear();
    }

    LogErrorList.clear();
    LogErrorListOpen = false;
    if (ShowErrors)
        CloseStatusList();
}

} // namespace vl
