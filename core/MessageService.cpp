#include "core/MessageService.h"

#include "core/Format.h"
#include "core/Translate.h"
#include "platform/FileNames.h"

#include <QRegularExpression>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace vl {

namespace {

std::atomic<IMessageService *> gService{nullptr};

std::mutex gSinkMutex;
TServiceLogSink gSink;

// A log line holds one message: its line breaks become blanks.
QString OneLine(const QString &AText)
{
    QString s = AText;
    s.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s.trimmed();
}

QString KindCaption(TMsgDialogType AType)
{
    switch (AType) {
    case TMsgDialogType::mdtWarning:
        return Tr("Warning");
    case TMsgDialogType::mdtError:
    case TMsgDialogType::mdtConfirmError:
    case TMsgDialogType::mdtConfirmRetry:
        return Tr("Error");
    case TMsgDialogType::mdtConfirm:
    case TMsgDialogType::mdtConfirmCancel:
    case TMsgDialogType::mdtConfirmYesNo:
        return Tr("Confirm");
    case TMsgDialogType::mdtInformation:
    case TMsgDialogType::mdtCustom:
        break;
    }
    return Tr("Information");
}

QString KindCaption(TMsgDlgType AType)
{
    switch (AType) {
    case TMsgDlgType::mtWarning:
        return Tr("Warning");
    case TMsgDlgType::mtError:
        return Tr("Error");
    case TMsgDlgType::mtConfirmation:
        return Tr("Confirm");
    case TMsgDlgType::mtInformation:
    case TMsgDlgType::mtCustom:
        break;
    }
    return Tr("Information");
}

QString AnswerText(TModalResult AResult)
{
    switch (AResult) {
    case mrOk:
        return Tr("OK");
    case mrAbort:
        return Tr("Abort");
    case mrRetry:
        return Tr("Retry");
    case mrIgnore:
        return Tr("Ignore");
    case mrYes:
        return Tr("Yes");
    case mrNo:
        return Tr("No");
    case mrClose:
        return Tr("Close");
    default:
        return Tr("Cancel");
    }
}

bool IsQuestion(TMsgDialogType AType)
{
    switch (AType) {
    case TMsgDialogType::mdtInformation:
    case TMsgDialogType::mdtWarning:
    case TMsgDialogType::mdtError:
    case TMsgDialogType::mdtCustom:
        return false;
    default:
        return true;
    }
}

void LogMessage(const QString &ACaption, const QString &AText)
{
    WriteServiceLog(GuardedFormat(Tr("%s: %s"), ACaption, OneLine(AText)));
}

THeadlessMessageService &HeadlessService()
{
    static THeadlessMessageService service;
    return service;
}

} // namespace

TModalResult QuietAnswer(TMsgDialogType DlgType)
{
    return DlgType == TMsgDialogType::mdtConfirm ? mrNo : mrCancel;
}

TModalResult QuietAnswer(TMsgDlgButtons Buttons)
{
    const struct {
        TMsgDlgBtn button;
        TModalResult result;
    } order[] = {
        {TMsgDlgBtn::mbCancel, mrCancel}, {TMsgDlgBtn::mbNo, mrNo}, {TMsgDlgBtn::mbAbort, mrAbort},
        {TMsgDlgBtn::mbClose, mrClose},   {TMsgDlgBtn::mbOK, mrOk},
    };
    for (const auto &o : order)
        if (HasButton(Buttons, o.button))
            return o.result;
    return mrCancel;
}

TModalResult THeadlessMessageService::ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType DlgType,
                                                      TMsgDlgBtn, TDefaultMonitor)
{
    if (AHint.isEmpty())
        return mrNone;
    const TModalResult answer = QuietAnswer(DlgType);
    // A transient hint only explains a control to someone looking at it.
    if (DlgType == TMsgDialogType::mdtCustom)
        return answer;
    if (IsQuestion(DlgType))
        WriteServiceQuestion(KindCaption(DlgType), AHint, answer);
    else
        LogMessage(KindCaption(DlgType), AHint);
    return answer;
}

TModalResult THeadlessMessageService::PositionedMessageDlg(const QString &ATitle, const QString &AMsg,
                                                           TMsgDlgType DlgType, TMsgDlgButtons Buttons, TMsgDlgBtn,
                                                           QPoint, int32_t, TDefaultMonitor)
{
    const TModalResult answer = QuietAnswer(Buttons);
    const QString caption = ATitle.isEmpty() ? KindCaption(DlgType) : ATitle;
    // One button leaves nothing to decide.
    if ((Buttons & (Buttons - 1)) == 0)
        LogMessage(caption, AMsg);
    else
        WriteServiceQuestion(caption, AMsg, answer);
    return answer;
}

void THeadlessMessageService::ShowTextWindow(const QString &ATitle, const QString &AText, int32_t)
{
    if (AText.isEmpty())
        return;
    if (!ATitle.isEmpty())
        WriteServiceLog(ATitle + QLatin1Char(':'));
    QStringList lines = AText.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (const QString &line : lines)
        WriteServiceLog(line);
}

IMessageService &MessageService()
{
    IMessageService *service = gService.load();
    return service ? *service : HeadlessService();
}

void SetMessageService(IMessageService *AService)
{
    gService.store(AService);
}

void SetServiceLogSink(TServiceLogSink ASink)
{
    std::lock_guard lock(gSinkMutex);
    gSink = std::move(ASink);
}

void WriteServiceLog(const QString &ALine)
{
    TServiceLogSink sink;
    {
        std::lock_guard lock(gSinkMutex);
        sink = gSink;
    }
    if (sink) {
        sink(ALine);
        return;
    }
    // File names in messages may hold bytes that are not UTF-8; give them
    // back as they are.
    const QByteArray bytes = EncodeFileName(ALine) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void WriteServiceQuestion(const QString &ACaption, const QString &AText, TModalResult AAnswer)
{
    WriteServiceLog(GuardedFormat(Tr("%s: %s (automatic answer: %s)"), ACaption, OneLine(AText), AnswerText(AAnswer)));
}

TModalResult ShowMessageBox(const QString &AHint, TMsgDialogType DlgType)
{
    return MessageService().ShowMessageForm(kDefaultPos, AHint, 0, DlgType, TMsgDlgBtn::mbYes,
                                            TDefaultMonitor::dmActiveForm);
}

TModalResult ShowErrorBox(const QString &AHint, int32_t Delay)
{
    return MessageService().ShowMessageForm(kDefaultPos, AHint, Delay, TMsgDialogType::mdtError, TMsgDlgBtn::mbYes,
                                            TDefaultMonitor::dmActiveForm);
}

TModalResult ShowErrorBoxAt(QPoint APos, const QString &AHint, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtError, TMsgDlgBtn::mbCancel, AMonitor);
}

TModalResult ShowInfoBox(const QString &AHint, int32_t Delay)
{
    return MessageService().ShowMessageForm(kDefaultPos, AHint, Delay, TMsgDialogType::mdtInformation,
                                            TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm);
}

TModalResult ShowInfoBoxAt(QPoint APos, const QString &AHint, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtInformation, TMsgDlgBtn::mbCancel,
                                            AMonitor);
}

bool ConfirmBox(const QString &AHint)
{
    return MessageService().ShowMessageForm(kDefaultPos, AHint, 0, TMsgDialogType::mdtConfirm, TMsgDlgBtn::mbYes,
                                            TDefaultMonitor::dmActiveForm) == mrYes;
}

bool ConfirmBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtConfirm, DefaultButton, AMonitor) ==
           mrYes;
}

bool ConfirmCancelBox(const QString &AHint)
{
    return MessageService().ShowMessageForm(kDefaultPos, AHint, 0, TMsgDialogType::mdtConfirmCancel,
                                            TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm) == mrCancel;
}

bool ConfirmErrorBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtConfirmError, DefaultButton,
                                            AMonitor) == mrOk;
}

bool ConfirmRetryBox(const QString &AHint)
{
    // mbYes matches no button of this kind, so the box has no default button.
    return MessageService().ShowMessageForm(kDefaultPos, AHint, 0, TMsgDialogType::mdtConfirmRetry,
                                            TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm) == mrRetry;
}

bool ConfirmRetryBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtConfirmRetry, DefaultButton,
                                            AMonitor) == mrRetry;
}

TModalResult ConfirmYesNoBoxAt(QPoint APos, const QString &AHint, TMsgDlgBtn DefaultButton, TDefaultMonitor AMonitor)
{
    return MessageService().ShowMessageForm(APos, AHint, 0, TMsgDialogType::mdtConfirmYesNo, DefaultButton,
                                            AMonitor);
}

TModalResult PositionedMessageDlgAuto(const QString &ATitle, const QString &AMsg, TMsgDlgType DlgType,
                                      TMsgDlgButtons Buttons, QPoint APos, int32_t Timeout,
                                      TDefaultMonitor DefMonitor)
{
    TMsgDlgBtn def = TMsgDlgBtn::mbRetry;
    if (HasButton(Buttons, TMsgDlgBtn::mbOK))
        def = TMsgDlgBtn::mbOK;
    else if (HasButton(Buttons, TMsgDlgBtn::mbYes))
        def = TMsgDlgBtn::mbYes;
    return MessageService().PositionedMessageDlg(ATitle, AMsg, DlgType, Buttons, def, APos, Timeout, DefMonitor);
}

TModalResult ShowErrorDialogAt(QPoint APos, const QString &ATitle, const QString &AMsg, TDefaultMonitor DefMonitor)
{
    return MessageService().PositionedMessageDlg(ATitle, AMsg, TMsgDlgType::mtError,
                                                 MsgDlgButtons({TMsgDlgBtn::mbOK}), TMsgDlgBtn::mbOK, APos, 0,
                                                 DefMonitor);
}

TModalResult ShowErrorDialog(const QString &ATitle, const QString &AMsg, TDefaultMonitor DefMonitor)
{
    return ShowErrorDialogAt(kDefaultPos, ATitle, AMsg, DefMonitor);
}

void ShowTextWindow(const QString &ATitle, const QString &AText, int32_t Delay)
{
    MessageService().ShowTextWindow(ATitle, AText, Delay);
}

} // namespace vl
