// The mail report of a run: a short body collected while the run goes on,
// sent at its end by the program's mail sender, optionally with the run's
// temporary log attached (plain, zipped or zipped and encrypted).
#include "backup/BackupForm.h"
#include "backup/MainServices.h"

#include "core/DateTime.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/Mailer.h"
#include "engine/ZipWrite.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace vl {

namespace {

const QString kProductName = QStringLiteral("Velkor");

QString UserName()
{
    return CurrentUserName.isEmpty() ? LogonUserName() : CurrentUserName;
}

// End minus start as "h:nn:ss"; hours are not wrapped at a day.
QString DurationText(TDateTime AStart, TDateTime AEnd)
{
    const qint64 seconds = std::max<qint64>(0, std::llround((AEnd - AStart) * 86400.0));
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString ExpandMailSubject(const QString &ASubject, const QString &ATask, TDateTime ATime, TDateTime ETime,
                          const QString &AStat)
{
    const QString computer = LocalComputerName();
    const QString values[8] = {
        StripExtension(LastPathElement(ATask)),
        UserName(),
        computer,
        FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn"), ATime),
        FormatDateTime(QStringLiteral("yyyy-mm-dd hh:nn"), ETime),
        DurationText(ATime, ETime),
        AStat,
        computer,
    };
    QString subject = ASubject;
    for (int i = 0; i < 8; ++i)
        subject.replace(MailPlaceHolders[i], values[i], Qt::CaseInsensitive);
    return subject;
}

// The addresses the report goes to: "*" entries are off, "#" entries only
// receive reports of runs with errors.
QString ActiveRecipients(const QString &ARecipients, bool Error)
{
    QStringList used;
    for (QString piece : ARecipients.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        piece = piece.trimmed();
        if (piece.isEmpty() || piece.startsWith(QLatin1Char('*')))
            continue;
        if (piece.startsWith(QLatin1Char('#'))) {
            if (!Error)
                continue;
            piece = piece.mid(1).trimmed();
            if (piece.isEmpty())
                continue;
        }
        piece.replace(QStringLiteral("%username%"), UserName(), Qt::CaseInsensitive);
        used << piece;
    }
    return used.join(QLatin1Char(','));
}

QString ZipTempFolder()
{
    const QString fallback = ProgramTempDir.isEmpty() ? GetProgramTempDir() : ProgramTempDir;
    return WithTrailingDelimiter(ChooseFolder(VlSettings.Directories.TempDir, fallback));
}

} // namespace

void TBackupForm::InitMail(TMailMode mm, TDateTime dt, const QString &Action, const QString &AText)
{
    if (mm == TMailMode::mmNone)
        return;
    TmMailer &mailer = BuMainForm().Mailer();
    mailer.ClearBody();
    QString title = kProductName + BitnessText() + QStringLiteral(" (") +
                    ProgramVersionCaption(4, QStringLiteral("0.0.0.0")) + QLatin1Char(')');
    if (!Action.isEmpty())
        title += QStringLiteral(" - ") + Action;
    mailer.AddToBody(title);
    mailer.AddToBody(QStringLiteral("  ==> ") + Tr("Start: ") + FormatDateTime(QStringLiteral("ddddd tt"), dt) +
                     QStringLiteral(" - ") + AText);
}

void TBackupForm::AddToMail(TMailMode mm, const QString &AText)
{
    if (mm != TMailMode::mmNone)
        BuMainForm().Mailer().AddToBody(AText);
}

void TBackupForm::SendMail(TMailMode mm, const TMailData &AMailData, TDateTime ATime, TDateTime ETime,
                           const QString &ATask, const QString &ASubj, const QString &AText, const QString &AStat,
                           bool Error, bool Prompt)
{
    SendMail(mm, AMailData, ATime, ETime, ATask, ASubj, AText, AStat, Error,
             Prompt ? TInteraction::iaPrompt : TInteraction::iaQuiet);
}

void TBackupForm::SendMail(TMailMode mm, const TMailData &AMailData, TDateTime ATime, TDateTime ETime,
                           const QString &ATask, const QString &ASubj, const QString &AText, const QString &AStat,
                           bool Error, TInteraction IaMode)
{
    // The log must be complete on disk before it can be attached.
    if (TempProt)
        CloseTempLog();
    const bool quiet = IsQuietInteraction(IaMode);
    if (!(mm == TMailMode::mmAlways || (mm == TMailMode::mmError && Error)))
        return;

    const bool withLog =
        AMailData.LogMode == TMailMode::mmAlways || (AMailData.LogMode == TMailMode::mmError && Error);
    const bool zipped = AMailData.ZipMode != TZipMode::zmNo;
    if (CurrentLogMode() == 3) {
        QString line = QStringLiteral("  ==> ") +
                       GuardedFormat(Tr("Preparing mail delivery (Mode: %u - SMTP: %s:%u - Security: %s)"),
                                     unsigned(mm) + (Error ? 4u : 0u), AMailData.SMTP, unsigned(AMailData.Port),
                                     SecureModeText(AMailData.SecureMode));
        if (withLog) {
            line += QLatin1Char(' ') + Tr("with attached log");
            if (zipped)
                line += QStringLiteral(" (") + QStringLiteral("zip") + QLatin1Char(')');
        }
        WriteToLog(3, line);
    }

    TmMailer &mailer = BuMainForm().Mailer();
    const QString recipients = ActiveRecipients(AMailData.Recipients, Error);
    if (recipients.isEmpty()) {
        WriteToLog(1, QStringLiteral("  *** ") +
                          Tr("No recipients specified to receive a mail after backup without errors"));
        return;
    }

    // The mail sender outlives this task: its handlers are bound for this
    // message only.
    mailer.OnBeginSend = [this](TmMailer &s, TWorkMode m, int64_t n) { MailStart(s, m, n); };
    mailer.OnSending = [this](TmMailer &s, TWorkMode m, int64_t n) { MailProgress(s, m, n); };
    mailer.OnEndSend = [this](TmMailer &s, TWorkMode m) { MailEnd(s, m); };
    mailer.ContinueOnFailedRecipient = true;

    if (!quiet)
        OpenStatusWindow(WindowCaption(QString(), ActTaskName), Tr("Sending mail"), -1, false);

    if (AMailData.Subject.isEmpty())
        mailer.Subject = kProductName + QStringLiteral(": ") + ASubj + QLatin1Char(' ') +
                         FormatDateTime(QStringLiteral("ddddd tt"), ATime);
    else
        mailer.Subject = ExpandMailSubject(AMailData.Subject, ATask, ATime, ETime, AStat);
    if (!AText.isEmpty())
        mailer.AddToBody(AText);

    mailer.Recipients.SetEMailAddresses(recipients);
    mailer.Host = AMailData.SMTP;
    mailer.Port = AMailData.Port;
    mailer.UserId = AMailData.Username;
    mailer.Password = AMailData.Password;
    mailer.SetSecureTransfer(AMailData.SecureMode);
    mailer.HeloName = kProductName;
    mailer.Priority = Error ? TMessagePriority::mpHigh : TMessagePriority::mpNormal;
    mailer.SetLogname(WithTrailingDelimiter(GetLogFolder()) + QStringLiteral("VlSmtp.log"));
    mailer.SetWriteLogFile(VlSettings.OtherSettings.SMTPLog);

    // A sender without "@" is a display name for the reply-to address.
    if (AMailData.Sender.contains(QLatin1Char('@')))
        mailer.From = TEmailAddressItem(AMailData.Sender, kProductName);
    else
        mailer.From = TEmailAddressItem(AMailData.ReplyTo, AMailData.Sender);

    mailer.Attachments.Clear();
    QString zipName;
    // Without a temporary log on disk there is nothing to attach; the
    // report itself still goes out.
    if (withLog && !TempLogName.isEmpty() && XlFileExists(TempLogName, true)) {
        if (zipped) {
            zipName = ReplaceExtension(TempLogName, QStringLiteral(".zip"));
            try {
                const QByteArray password =
                    AMailData.ZipMode == TZipMode::zmEncrypt ? AMailData.CryptKey : QByteArray();
                TZipWrite zip(zipName, ParentDirectory(TempLogName), password, 0, 0);
                zip.SetTempDir(ZipTempFolder());
                zip.AddFile(TempLogName, true);
                zip.WriteDirectory();
            } catch (const std::exception &e) {
                WriteToLog(1, QStringLiteral("  *** ") +
                                  GuardedFormat(Tr("Error creating zip compressed log file as mail attachment (%s)"),
                                                QString::fromUtf8(e.what())));
                // A half-written archive must not go out as the log.
                RemoveFile(zipName);
            }
            if (XlFileExists(zipName, true))
                mailer.Attachments.AttachedFiles.append(zipName + QStringLiteral("|zip"));
        } else {
            mailer.Attachments.AttachedFiles.append(TempLogName + QStringLiteral("|text/plain; charset=utf-8"));
        }
    }
    for (const QString &file : AMailData.Attachments)
        if (!file.isEmpty() && XlFileExists(file, true))
            mailer.Attachments.AttachedFiles.append(file);

    mailer.ClearExtraHeaders();
    mailer.AddExtraHeader(QStringLiteral("User-Agent"), TitleWithVersion(3));
    mailer.AddExtraHeader(QStringLiteral("Sender"), mailer.From.Address);
    mailer.AddExtraHeader(QStringLiteral("Reply-To"), AMailData.ReplyTo);

    bool sent = false;
    try {
        sent = mailer.Send();
    } catch (const std::exception &) {
        sent = false;
    }
    if (!quiet)
        CloseStatusWindow();

    if (sent && mailer.ErrorList().isEmpty()) {
        WriteToLog(1, QStringLiteral("  ==> ") + GuardedFormat(Tr("Mail notifications were sent to: %s"), recipients));
    } else {
        const QString failure =
            GuardedFormat(Tr("Error during mail delivery (SMTP: %s:%u)"), AMailData.SMTP, unsigned(AMailData.Port));
        WriteToLog(1, QStringLiteral("  *** ") + failure);
        if (CurrentLogMode() == 3) {
            for (const TSendError &e : mailer.ErrorList()) {
                const QString text = e.ErrType == TSendErrorType::seFailedRecipient
                                         ? GuardedFormat(Tr("Could not deliver mail to %s!"), e.ErrMsg)
                                         : e.ErrMsg;
                WriteToLog(3, QStringLiteral("      - ") + text);
            }
        }
        if (IaMode == TInteraction::iaPrompt || IaMode == TInteraction::iaErrorPrompt)
            ShowErrorBox(failure, 0);
    }

    mailer.SetWriteLogFile(false);
    mailer.OnBeginSend = nullptr;
    mailer.OnSending = nullptr;
    mailer.OnEndSend = nullptr;
    if (!zipName.isEmpty())
        RemoveFile(zipName);
}

void TBackupForm::MailStart(TmMailer &, TWorkMode AWorkMode, int64_t AWorkCountMax)
{
    if (AWorkMode == TWorkMode::wmWrite)
        MSize = AWorkCountMax;
}

void TBackupForm::MailProgress(TmMailer &, TWorkMode AWorkMode, int64_t AWorkCount)
{
    // Without an announced size there is no percentage to show.
    if (AWorkMode != TWorkMode::wmWrite || MSize <= 0 || !StatusWindow().Visible())
        return;
    StatusWindow().SetProgress(int(std::llround(100.0 * double(AWorkCount) / double(MSize))));
    ProcessMessages();
}

void TBackupForm::MailEnd(TmMailer &, TWorkMode AWorkMode)
{
    if (AWorkMode != TWorkMode::wmWrite || !StatusWindow().Visible())
        return;
    StatusWindow().SetProgress(100);
    ProcessMessages();
}

} // namespace vl
