#include "ui/MessageDialogs.h"

#include "core/Translate.h"

#include <Qt>

#include <algorithm>
#include <cstdint>

namespace vl {

namespace {

// Texts marked with VL_TR_NOOP in the tables below.
QString Dlg(const char *AText)
{
    return TrDomain(kDialogsDomain, AText);
}

// One button of a kind: its caption, result, glyph, and the default-button
// choice that makes it the default.
struct TButtonSetup {
    const char *Caption = nullptr; // nullptr: the button is hidden
    TModalResult Result = mrNone;
    TMsgGlyph Glyph = TMsgGlyph::mgNone;
    std::optional<TMsgDlgBtn> DefaultFor;
    bool AlwaysDefault = false;
};

struct TKindSetup {
    TMsgIcon Icon;
    const char *Caption;
    TButtonSetup Left, Center, Close;
};

const TButtonSetup CloseButton{VL_TR_NOOP("&Close"), mrCancel, TMsgGlyph::mgClose, std::nullopt, true};
const TButtonSetup CancelButton{VL_TR_NOOP("Cancel"), mrCancel, TMsgGlyph::mgCancel, std::nullopt, false};

TKindSetup KindSetup(TMsgDialogType AKind)
{
    using K = TMsgDialogType;
    using B = TMsgDlgBtn;
    const TButtonSetup none{};
    const TButtonSetup yes{VL_TR_NOOP("&Yes"), mrYes, TMsgGlyph::mgYes, B::mbYes, false};
    switch (AKind) {
    case K::mdtInformation:
        return {TMsgIcon::miInformation, VL_TR_NOOP("Information"), none, none, CloseButton};
    case K::mdtWarning:
        return {TMsgIcon::miWarning, VL_TR_NOOP("Warning"), none, none, CloseButton};
    case K::mdtError:
        return {TMsgIcon::miError, VL_TR_NOOP("Error"), none, none, CloseButton};
    case K::mdtConfirm:
        return {TMsgIcon::miQuestion, VL_TR_NOOP("Confirm"), none, yes,
                {VL_TR_NOOP("&No"), mrNo, TMsgGlyph::mgNo, B::mbNo, false}};
    case K::mdtConfirmError:
        return {TMsgIcon::miError, VL_TR_NOOP("Error"), none,
                {VL_TR_NOOP("&Yes"), mrOk, TMsgGlyph::mgYes, B::mbYes, false}, CancelButton};
    case K::mdtConfirmRetry:
        return {TMsgIcon::miError, VL_TR_NOOP("Error"), none,
                {VL_TR_NOOP("&Retry"), mrRetry, TMsgGlyph::mgRetry, B::mbRetry, false}, CancelButton};
    case K::mdtConfirmCancel:
        return {TMsgIcon::miQuestion, VL_TR_NOOP("Confirm"), none, yes, CancelButton};
    case K::mdtConfirmYesNo:
        return {TMsgIcon::miQuestion, VL_TR_NOOP("Confirm"), yes,
                {VL_TR_NOOP("&No"), mrNo, TMsgGlyph::mgNo, B::mbNo, false}, CancelButton};
    case K::mdtCustom:
        break;
    }
    return {TMsgIcon::miNone, VL_TR_NOOP("Information"), none, none, none};
}

void SetUp(TMsgButtonState &AButton, const TButtonSetup &ASetup, TMsgDlgBtn DefaultButton)
{
    AButton.SetVisible(ASetup.Caption != nullptr);
    AButton.SetCaption(ASetup.Caption ? Dlg(ASetup.Caption) : QString());
    AButton.ModalResult = ASetup.Caption ? ASetup.Result : mrNone;
    AButton.Glyph = ASetup.Glyph;
    AButton.Default = ASetup.Caption && (ASetup.AlwaysDefault || ASetup.DefaultFor == DefaultButton);
}

} // namespace

QString ToCrLfLines(const QString &AText)
{
    QString s = AText;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return s;
}

QString ToLfLines(const QString &AText)
{
    QString s = AText;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// ---------------------------------------------------------------------------
// TShowMsgDialog

TShowMsgDialog::TShowMsgDialog()
{
    for (TMsgButtonState *button : {&btLeft, &btCenter, &btClose})
        button->OnClick = [this, button](TControlState &) { SetModalResult(button->ModalResult); };
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] { TimerTick(); });
}

bool TShowMsgDialog::Prepare(const QString &AHint, int32_t Delay, TMsgDialogType DlgType, TMsgDlgBtn DefaultButton)
{
    FTimer.stop();
    FModalResult = mrNone;
    if (AHint.isEmpty())
        return false;
    FKind = DlgType;
    FText = ToCrLfLines(AHint);
    stInfo.SetCaption(ToLfLines(AHint));

    const TKindSetup setup = KindSetup(DlgType);
    SetUp(btLeft, setup.Left, DefaultButton);
    SetUp(btCenter, setup.Center, DefaultButton);
    SetUp(btClose, setup.Close, DefaultButton);
    FIcon = setup.Icon;
    imgIcon.SetVisible(FIcon != TMsgIcon::miNone);

    FRunTimer = DlgType == TMsgDialogType::mdtCustom || Delay > 0;
    if (FRunTimer) {
        // A hint stays long enough to be read: 120 ms a character.
        FInterval = Delay > 0 ? Delay * 1000 : int(AHint.size()) * 120 + 2000;
        FCaption = TrDomain(kDialogsDomain, "Information");
    } else {
        FInterval = 0;
        FCaption = Dlg(setup.Caption);
    }
    return true;
}

TMsgBoxLayout TShowMsgDialog::Layout(const TTextWidthFunc &TextWidth, int LineHeight) const
{
    int buttons = kButtonWidth + kCloseButtonWidth;
    if (FKind == TMsgDialogType::mdtConfirmYesNo)
        buttons += kButtonWidth;
    // Room for the icon even beside a single short line.
    const int minHeight = FKind == TMsgDialogType::mdtCustom ? 2 * kTextTop : kTextTop + kIconSize;
    const QSize text = MultiLineTextSize(FText, TextWidth, LineHeight);
    const int w = std::max(text.width(), buttons);
    const int h = std::max(text.height(), minHeight);
    TMsgBoxLayout layout;
    layout.Margin = ScaleToFormDpi(kMargin);
    layout.Client = QSize(2 * kTextTop + kTextLeft + w, h + 3 * layout.Margin + kButtonHeight);
    layout.Text = QRect(kTextLeft, kTextTop, w, h);
    return layout;
}

void TShowMsgDialog::Shown()
{
    if (FRunTimer && FModalResult == mrNone)
        FTimer.start(FInterval);
}

void TShowMsgDialog::Closed()
{
    FTimer.stop();
}

void TShowMsgDialog::TimerTick()
{
    SetModalResult(mrCancel);
}

bool TShowMsgDialog::KeyDown(int AKey)
{
    if (FModalResult != mrNone)
        return false;
    if (AKey == Qt::Key_F11 || FTimer.isActive()) {
        SetModalResult(mrCancel);
        return true;
    }
    if (AKey == Qt::Key_Escape)
        return btClose.UserClick();
    return false;
}

void TShowMsgDialog::UserClose()
{
    SetModalResult(mrCancel);
}

void TShowMsgDialog::SetModalResult(TModalResult AResult)
{
    // The first result ends the box; what follows before it closes is lost.
    if (FModalResult != mrNone || AResult == mrNone)
        return;
    FModalResult = AResult;
    FTimer.stop();
    if (OnModalResult)
        OnModalResult(AResult);
}

// ---------------------------------------------------------------------------
// The standard message dialog

TMsgDlgBtn AutoDefaultButton(TMsgDlgButtons Buttons)
{
    if (HasButton(Buttons, TMsgDlgBtn::mbOK))
        return TMsgDlgBtn::mbOK;
    if (HasButton(Buttons, TMsgDlgBtn::mbYes))
        return TMsgDlgBtn::mbYes;
    return TMsgDlgBtn::mbRetry;
}

TModalResult ButtonModalResult(TMsgDlgBtn AButton)
{
    using B = TMsgDlgBtn;
    switch (AButton) {
    case B::mbYes:
        return mrYes;
    case B::mbNo:
        return mrNo;
    case B::mbOK:
        return mrOk;
    case B::mbCancel:
        return mrCancel;
    case B::mbAbort:
        return mrAbort;
    case B::mbRetry:
        return mrRetry;
    case B::mbIgnore:
        return mrIgnore;
    case B::mbAll:
        return mrAll;
    case B::mbNoToAll:
        return mrNoToAll;
    case B::mbYesToAll:
        return mrYesToAll;
    case B::mbHelp:
        return mrHelp;
    case B::mbClose:
        return mrClose;
    }
    return mrNone;
}

QString ButtonCaption(TMsgDlgBtn AButton)
{
    using B = TMsgDlgBtn;
    switch (AButton) {
    case B::mbYes:
        return TrDomain(kDialogsDomain, "&Yes");
    case B::mbNo:
        return TrDomain(kDialogsDomain, "&No");
    case B::mbOK:
        return TrDomain(kDialogsDomain, "OK");
    case B::mbCancel:
        return TrDomain(kDialogsDomain, "Cancel");
    case B::mbAbort:
        return TrDomain(kDialogsDomain, "&Abort");
    case B::mbRetry:
        return TrDomain(kDialogsDomain, "&Retry");
    case B::mbIgnore:
        return TrDomain(kDialogsDomain, "&Ignore");
    case B::mbAll:
        return TrDomain(kDialogsDomain, "&All");
    case B::mbNoToAll:
        return TrDomain(kDialogsDomain, "N&o to All");
    case B::mbYesToAll:
        return TrDomain(kDialogsDomain, "Yes to &All");
    case B::mbHelp:
        return TrDomain(kDialogsDomain, "&Help");
    case B::mbClose:
        return TrDomain(kDialogsDomain, "&Close");
    }
    return QString();
}

QString StandardDialogCaption(TMsgDlgType DlgType, const QString &AProgramName)
{
    switch (DlgType) {
    case TMsgDlgType::mtWarning:
        return TrDomain(kDialogsDomain, "Warning");
    case TMsgDlgType::mtError:
        return TrDomain(kDialogsDomain, "Error");
    case TMsgDlgType::mtInformation:
        return TrDomain(kDialogsDomain, "Information");
    case TMsgDlgType::mtConfirmation:
        return TrDomain(kDialogsDomain, "Confirm");
    case TMsgDlgType::mtCustom:
        break;
    }
    return AProgramName;
}

std::optional<QPoint> PositionedDialogPos(const TMonitorList &Monitors, QSize FormSize, QPoint APos)
{
    if (APos.x() < 0 && APos.y() < 0)
        return std::nullopt;
    int left = APos.x();
    int top = APos.y();
    KeepInWorkArea(Monitors, left, top, FormSize.width(), FormSize.height());
    return QPoint(left, top);
}

int PositionedDialogWidth(int ClientWidth, const QString &ATitle, const TTextWidthFunc &TextWidth)
{
    if (ATitle.isEmpty())
        return ClientWidth;
    return std::max(ClientWidth, TextWidth(ATitle) + 50);
}

TCountDown::TCountDown(int32_t Seconds)
    : FRemaining(Seconds > 0 ? std::min(Seconds, INT32_MAX / 10) * (1000 / kPassMs) : 0)
{
}

bool TCountDown::Tick()
{
    if (FRemaining <= 0)
        return false;
    return --FRemaining == 0;
}

TModalResult TimedDialogResult(TModalResult AButtonResult)
{
    return AButtonResult != mrNone ? AButtonResult : mrOk;
}

// ---------------------------------------------------------------------------
// TfrmShow

TfrmShow::TfrmShow() : FCaption(TrDomain(kDialogsDomain, "Show text"))
{
    btnOK.SetCaption(TrDomain(kDialogsDomain, "OK"));
}

bool TfrmShow::Prepare(const QString &ATitle, const QString &AText, int32_t Delay)
{
    if (AText.isEmpty())
        return false;
    FCaption = ATitle;
    FDelay = Delay;
    btnOK.SetCaption(TrDomain(kDialogsDomain, "OK"));
    memShow.SetCaption(ToLfLines(AText));
    panButtons.SetVisible(Delay == 0);
    return true;
}

} // namespace vl
