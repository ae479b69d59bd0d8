#include "ui/qt/PasswordDialogs.h"

#include "core/Translate.h"
#include "ui/qt/Binding.h"
#include "ui/qt/MessageDialogs.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/QtStyles.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace vl {

namespace {

// Design sizes (96 dpi).
constexpr int kPwdClientWidth = 360;
constexpr int kPromptLeft = 8;
constexpr int kInputHeight = 36;
constexpr int kEncryptHeight = 56;
constexpr int kButtonRowHeight = 44;
constexpr int kNewPwdClientWidth = 320;
constexpr int kNewPwdPanelHeight = 52;
constexpr int kConfirmPanelHeight = 48;
constexpr int kQualityBarWidth = 120;
constexpr int kQualityBarHeight = 18;

QWidget *Panel(QWidget *AParent, const char *AName, int AHeight)
{
    auto *panel = new QWidget(AParent);
    panel->setObjectName(QLatin1String(AName));
    panel->setFixedHeight(AHeight);
    return panel;
}

QPushButton *Button(QWidget *AParent, const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph)
{
    auto *button = new QPushButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setIcon(AParent->style()->standardIcon(AGlyph));
    button->setAutoDefault(false);
    BindButton(button, AState);
    return button;
}

QLineEdit *PasswordEdit(QWidget *AParent, const char *AName, TEditState &AState, const QString &ATextHint)
{
    auto *edit = new QLineEdit(AParent);
    edit->setObjectName(QLatin1String(AName));
    edit->setEchoMode(QLineEdit::Password);
    edit->setPlaceholderText(ATextHint);
    BindEdit(edit, AState);
    return edit;
}

// An eye: the glyph of the show-password button.
QIcon EyeGlyph(const QPalette &APalette)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(APalette.color(QPalette::ButtonText), 1.5));
    QPainterPath lid;
    lid.moveTo(1, 8);
    lid.quadTo(8, 1, 15, 8);
    lid.quadTo(8, 15, 1, 8);
    painter.drawPath(lid);
    painter.setBrush(APalette.color(QPalette::ButtonText));
    painter.drawEllipse(QPointF(8, 8), 2.5, 2.5);
    return QIcon(pixmap);
}

void AddHintShortcut(QDialog *ADialog)
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::Key_F11), ADialog);
    QObject::connect(shortcut, &QShortcut::activated, ADialog, [ADialog] { ShowFocusedControlHint(ADialog); });
}

} // namespace

// ---------------------------------------------------------------------------
// TQualityBarView

TQualityBarView::TQualityBarView(const TNewPwdDialog::TQualityState &AState, QWidget *AParent)
    : QWidget(AParent), FState(AState)
{
    setObjectName(QStringLiteral("imgBar"));
    setFixedSize(kQualityBarWidth, kQualityBarHeight);
}

void TQualityBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int width = this->width();
    const int height = this->height();
    const TQualityBarColors colors = DefaultQualityBarColors();
    for (int x = 0; x < width; ++x) {
        painter.setPen(ToQColor(QualityBarColumnColor(x, width, colors), palette()));
        painter.drawLine(x, 0, x, height - 1);
    }
    const int start = QualityBarFillStart(width, FState.Percent());
    painter.fillRect(QRect(start, 0, width - start, height), palette().color(QPalette::Window));
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, (width / 2) * 2, height), Qt::AlignCenter, QualityBarText(FState.Percent()));
}

// ---------------------------------------------------------------------------
// TPasswordDialogView

TPasswordDialogView::TPasswordDialogView(TPasswordDialog &ALogic, QWidget *AParent)
    : QDialog(AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("PasswordDialog"));
    setWindowTitle(FLogic.Caption());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    FTop = Panel(this, "pnTop", 0);
    FPrompt = new QLabel(FTop);
    FPrompt->setObjectName(QStringLiteral("lblPrompt"));
    FPrompt->setTextFormat(Qt::PlainText);
    FPrompt->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    BindLabel(FPrompt, FLogic.lblPrompt);
    layout->addWidget(FTop);

    FInput = Panel(this, "pnInput", kInputHeight);
    auto *inputRow = new QHBoxLayout(FInput);
    inputRow->setContentsMargins(kPromptLeft, 4, kPromptLeft, 4);
    auto *label = new QLabel(FInput);
    BindLabel(label, FLogic.Label1);
    FPwd = PasswordEdit(FInput, "edtPwd", FLogic.edtPwd, FLogic.edtPwdTextHint);
    label->setBuddy(FPwd);
    auto *paste = new QToolButton(FInput);
    paste->setObjectName(QStringLiteral("bbPaste"));
    paste->setIcon(QIcon::fromTheme(QStringLiteral("edit-paste"), style()->standardIcon(QStyle::SP_DialogOpenButton)));
    BindButton(paste, FLogic.bbPaste);
    inputRow->addWidget(label);
    inputRow->addWidget(FPwd, 1);
    inputRow->addWidget(paste);
    layout->addWidget(FInput);

    auto *group = new QGroupBox(FLogic.gbEncrypt.Caption(), this);
    group->setObjectName(QStringLiteral("gbEncrypt"));
    group->setFixedHeight(kEncryptHeight);
    BindControl(group, FLogic.gbEncrypt);
    auto *groupRow = new QHBoxLayout(group);
    const std::pair<const char *, TRadioButtonState *> radios[] = {
        {"rbEnc128", &FLogic.rbEnc128}, {"rbEnc256", &FLogic.rbEnc256}, {"rbEncAuto", &FLogic.rbEncAuto}};
    for (const auto &[name, state] : radios) {
        auto *radio = new QRadioButton(group);
        radio->setObjectName(QLatin1String(name));
        BindRadioButton(radio, *state);
        groupRow->addWidget(radio);
    }
    FEncrypt = group;
    layout->addWidget(group);

    FBottom = Panel(this, "pnBottom", kButtonRowHeight);
    auto *buttons = new QHBoxLayout(FBottom);
    buttons->setContentsMargins(kPromptLeft, 6, kPromptLeft, 8);
    buttons->addStretch(1);
    buttons->addWidget(Button(FBottom, "btnSkip", FLogic.btnSkip, QStyle::SP_MediaSkipForward));
    buttons->addWidget(Button(FBottom, "CancelBtn", FLogic.CancelBtn, QStyle::SP_DialogCancelButton));
    QPushButton *ok = Button(FBottom, "OKBtn", FLogic.OKBtn, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    buttons->addWidget(ok);
    layout->addWidget(FBottom);

    FLogic.ClipboardText = [] { return QGuiApplication::clipboard()->text(); };
    FLogic.OnModalResult = [this](TModalResult AResult) { done(AResult); };
    AddHintShortcut(this);
    Arrange();
}

TPasswordDialogView::~TPasswordDialogView()
{
    FLogic.OnModalResult = nullptr;
    FLogic.ClipboardText = nullptr;
}

void TPasswordDialogView::Arrange()
{
    const QFontMetrics metrics(FPrompt->font());
    const TPasswordDialogLayout layout =
        FLogic.Layout([&metrics](const QString &s) { return metrics.horizontalAdvance(s); }, metrics.height(),
                      kPwdClientWidth, kPromptLeft, kInputHeight, kButtonRowHeight, kEncryptHeight);
    const int m = ScaleToFormDpi(2);
    FTop->setFixedHeight(layout.TopPanelHeight);
    FPrompt->setGeometry(kPromptLeft, m, layout.Prompt.width(), layout.Prompt.height());
    setFixedSize(layout.ClientWidth, layout.ClientHeight);
}

TModalResult TPasswordDialogView::Run(QPoint APos)
{
    PlaceFormAt(this, APos);
    FPwd->setFocus();
    exec();
    return FLogic.ModalResult() != mrNone ? FLogic.ModalResult() : mrCancel;
}

void TPasswordDialogView::reject()
{
    // Escape and the close box answer as Cancel does.
    FLogic.CancelBtn.Click();
    if (isVisible())
        done(FLogic.ModalResult());
}

// ---------------------------------------------------------------------------
// TNewPwdDialogView

TNewPwdDialogView::TNewPwdDialogView(TNewPwdDialog &ALogic, QWidget *AParent)
    : QDialog(AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("NewPwdDialog"));
    setWindowTitle(FLogic.Caption());
    setFixedWidth(kNewPwdClientWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    FPwdPanel = Panel(this, "paPwd", kNewPwdPanelHeight);
    auto *pwdColumn = new QVBoxLayout(FPwdPanel);
    pwdColumn->setContentsMargins(8, 6, 8, 2);
    pwdColumn->setSpacing(2);
    auto *pwdLabel = new QLabel(FLogic.edtPwd.Caption(), FPwdPanel);
    FPwd = PasswordEdit(FPwdPanel, "edtPwd", FLogic.edtPwd, FLogic.edtPwdTextHint);
    pwdLabel->setBuddy(FPwd);
    FShow = new QToolButton(FPwdPanel);
    FShow->setObjectName(QStringLiteral("btnShow"));
    FShow->setCheckable(true);
    FShow->setIcon(EyeGlyph(palette()));
    BindControl(FShow, FLogic.btnShow);
    auto *pwdRow = new QHBoxLayout;
    pwdRow->addWidget(FPwd, 1);
    pwdRow->addWidget(FShow);
    pwdColumn->addWidget(pwdLabel);
    pwdColumn->addLayout(pwdRow);
    layout->addWidget(FPwdPanel);

    FConfirmPanel = Panel(this, "paConfirm", kConfirmPanelHeight);
    auto *confirmColumn = new QVBoxLayout(FConfirmPanel);
    confirmColumn->setContentsMargins(8, 2, 8, 2);
    confirmColumn->setSpacing(2);
    auto *repLabel = new QLabel(FLogic.edtRepPwd.Caption(), FConfirmPanel);
    FRepPwd = PasswordEdit(FConfirmPanel, "edtRepPwd", FLogic.edtRepPwd, FLogic.edtRepPwdTextHint);
    repLabel->setBuddy(FRepPwd);
    confirmColumn->addWidget(repLabel);
    confirmColumn->addWidget(FRepPwd);
    BindControl(FConfirmPanel, FLogic.paConfirm);
    layout->addWidget(FConfirmPanel);

    FBottom = Panel(this, "paBottom", kButtonRowHeight);
    auto *bottom = new QHBoxLayout(FBottom);
    bottom->setContentsMargins(8, 6, 8, 8);
    auto *quality = new QLabel(FLogic.imgBar.Caption(), FBottom);
    FBar = new TQualityBarView(FLogic.imgBar, FBottom);
    bottom->addWidget(quality);
    bottom->addWidget(FBar);
    bottom->addStretch(1);
    bottom->addWidget(Button(FBottom, "CancelBtn", FLogic.CancelBtn, QStyle::SP_DialogCancelButton));
    QPushButton *ok = Button(FBottom, "OKBtn", FLogic.OKBtn, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    bottom->addWidget(ok);
    layout->addWidget(FBottom);

    // After the binding's handler: a refused OK sends the focus to the edit
    // to correct.
    connect(ok, &QPushButton::clicked, this, [this] {
        if (FLogic.ModalResult() != mrNone || !FLogic.FocusControl())
            return;
        QLineEdit *edit = FLogic.FocusControl() == &FLogic.edtPwd ? FPwd : FRepPwd;
        edit->setFocus();
        edit->selectAll();
    });
    connect(FShow, &QToolButton::clicked, this, [this] {
        FLogic.btnShow.UserClick();
        ShowEchoMode();
    });
    connect(FPwd, &QLineEdit::editingFinished, this, [this] { FLogic.PasswordExit(); });
    FShowObserver = FLogic.btnShow.Subscribe([this](TControlState &, TStateAspect aspect) {
        if (aspect == TStateAspect::saChecked)
            ShowEchoMode();
    });
    FConfirmObserver = FLogic.paConfirm.Subscribe([this](TControlState &, TStateAspect aspect) {
        if (aspect == TStateAspect::saVisible)
            FitHeight();
    });
    FLogic.imgBar.OnChange = [this] { FBar->update(); };
    FLogic.OnModalResult = [this](TModalResult AResult) { done(AResult); };
    AddHintShortcut(this);
    ShowEchoMode();
    FitHeight();
}

TNewPwdDialogView::~TNewPwdDialogView()
{
    FLogic.btnShow.Unsubscribe(FShowObserver);
    FLogic.paConfirm.Unsubscribe(FConfirmObserver);
    FLogic.imgBar.OnChange = nullptr;
    FLogic.OnModalResult = nullptr;
}

void TNewPwdDialogView::ShowEchoMode()
{
    const bool shown = FLogic.btnShow.Checked();
    {
        const QSignalBlocker block(FShow);
        FShow->setChecked(shown);
    }
    const QLineEdit::EchoMode mode = shown ? QLineEdit::Normal : QLineEdit::Password;
    FPwd->setEchoMode(mode);
    FRepPwd->setEchoMode(mode);
}

void TNewPwdDialogView::FitHeight()
{
    // Without the repeat field its panel has no room.
    setFixedHeight(kNewPwdPanelHeight + kButtonRowHeight + (FLogic.paConfirm.Visible() ? kConfirmPanelHeight : 0));
}

TModalResult TNewPwdDialogView::Run(QPoint APos)
{
    PlaceFormAt(this, APos);
    FPwd->setFocus();
    exec();
    return FLogic.ModalResult() != mrNone ? FLogic.ModalResult() : mrCancel;
}

void TNewPwdDialogView::reject()
{
    FLogic.CancelBtn.Click();
    if (isVisible())
        done(FLogic.ModalResult());
}

// ---------------------------------------------------------------------------
// TCryptPwdDialog

TCryptPwdDialog::TCryptPwdDialog(QWidget *AParent) : QDialog(AParent)
{
    setObjectName(QStringLiteral("CryptPwdDialog"));
    setFixedWidth(kNewPwdClientWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(4);

    lblPrompt = new QLabel(this);
    lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
    QFont bold = lblPrompt->font();
    bold.setBold(true);
    lblPrompt->setFont(bold);
    QPalette red = lblPrompt->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lblPrompt->setPalette(red);
    lblPrompt->setWordWrap(true);
    layout->addWidget(lblPrompt);

    const auto addEdit = [this, layout](const char *AName, const QString &ACaption, const QString &AHint) {
        auto *label = new QLabel(ACaption, this);
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(AName));
        edit->setEchoMode(QLineEdit::Password);
        edit->setPlaceholderText(AHint);
        edit->setToolTip(AHint);
        label->setBuddy(edit);
        layout->addWidget(label);
        layout->addWidget(edit);
        return edit;
    };
    edtPwd = addEdit("edtPwd", TrDomain(kDialogsDomain, "Enter password:"), TrDomain(kDialogsDomain, "Password"));
    edtRepPwd = addEdit("edtRepPwd", TrDomain(kDialogsDomain, "Repeat password:"),
                        TrDomain(kDialogsDomain, "Confirm password"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                   TrDomain(kDialogsDomain, "Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    cancel->setAutoDefault(false);
    auto *ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), TrDomain(kDialogsDomain, "OK"), this);
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &TCryptPwdDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &TCryptPwdDialog::reject);
    AddHintShortcut(this);
}

void TCryptPwdDialog::accept()
{
    const TCryptPwdCheck check = CheckCryptPasswordEntries(edtPwd->text(), edtRepPwd->text(), FMinLen);
    if (check.Ok) {
        QDialog::accept();
        return;
    }
    ShowErrorBox(check.Error, 0);
    QLineEdit *edit = check.Focus == TCryptPwdFocus::cfRepeat ? edtRepPwd : edtPwd;
    edit->setFocus();
    edit->selectAll();
}

bool TCryptPwdDialog::Execute(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen)
{
    setWindowTitle(Title);
    lblPrompt->setText(QString(Prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    edtPwd->clear();
    edtRepPwd->clear();
    FMinLen = MinLen;
    PlaceFormAt(this, kDefaultPos);
    edtPwd->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    Pwd = edtPwd->text();
    return true;
}

bool TCryptPwdDialog::Execute(const QString &Title, const QString &Prompt, QByteArray &Pwd, int32_t MinLen)
{
    QString text;
    if (!Execute(Title, Prompt, text, MinLen))
        return false;
    Pwd = PasswordToAnsi(text);
    return true;
}

// ---------------------------------------------------------------------------
// TQtPasswordService

TModalResult TQtPasswordService::AskPassword(QPoint APos, const QString &Title, const QString &Prompt, bool Skip,
                                             bool Enc, QString &Pwd, int32_t &EncMode)
{
    return InGuiThread([&]() -> TModalResult {
        TPasswordDialog logic;
        logic.Prepare(Title, Prompt, Skip, Enc, EncMode);
        TPasswordDialogView view(logic);
        const TModalResult result = view.Run(APos);
        logic.Finish(result, Pwd, EncMode);
        return result;
    });
}

bool TQtPasswordService::AskNewPassword(QPoint APos, const QString &Title, QString &Pwd, bool Confirm, bool Show,
                                        int32_t MinLen)
{
    return InGuiThread([&]() -> bool {
        TNewPwdDialog logic;
        logic.Prepare(Title, Pwd, Confirm, Show, MinLen);
        TNewPwdDialogView view(logic);
        return logic.Finish(view.Run(APos), Pwd);
    });
}

bool TQtPasswordService::AskCryptPassword(const QString &Title, const QString &Prompt, QString &Pwd, int32_t MinLen)
{
    return InGuiThread([&]() -> bool {
        TCryptPwdDialog dialog;
        return dialog.Execute(Title, Prompt, Pwd, MinLen);
    });
}

std::unique_ptr<IPasswordService> CreateQtPasswordService()
{
    return std::make_unique<TQtPasswordService>();
}

} // namespace vl
