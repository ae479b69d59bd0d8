#include "ui/qt/ExternalProgramsDialogView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/CheckCombo.h"
#include "ui/qt/MenuBinding.h"
#include "ui/qt/NumberEdits.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace vl {

namespace {

QString Name(const char *APrefix, const char *AName)
{
    return QLatin1String(APrefix) + QLatin1String(AName);
}

} // namespace

TAddProgramsDialogView::TAddProgramsDialogView(TAddProgramsDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("AddProgramsDialog"));
    // No border icons: a plain dialog frame with a title only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto *main = new QVBoxLayout(this);

    QGroupBox *pre = ProgramGroup(FLogic.Pre, "Pre");
    auto *level = new QHBoxLayout;
    auto *levelLabel = new QLabel(pre);
    levelLabel->setObjectName(QStringLiteral("laErrorLevel"));
    BindLabel(levelLabel, FLogic.laErrorLevel);
    level->addWidget(levelLabel);
    auto *levelEdit = new QLineEdit(pre);
    levelEdit->setObjectName(QStringLiteral("reErrorLevel"));
    levelEdit->setMaximumWidth(levelEdit->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
    BindNumberEdit(levelEdit, FLogic.reErrorLevel);
    FWidgets.insert(&FLogic.reErrorLevel, levelEdit);
    auto *levelSpin = new TNumUpDownView(FLogic.udErrorLevel, pre);
    levelSpin->setObjectName(QStringLiteral("udErrorLevel"));
    level->addWidget(NumEditWithSpin(pre, levelEdit, levelSpin));
    level->addStretch(1);
    qobject_cast<QVBoxLayout *>(pre->layout())->addLayout(level);
    main->addWidget(pre);

    QGroupBox *post = ProgramGroup(FLogic.Post, "Post");
    auto *postLayout = qobject_cast<QVBoxLayout *>(post->layout());
    auto *skipLabel = new QLabel(post);
    skipLabel->setObjectName(QStringLiteral("Label1"));
    BindLabel(skipLabel, FLogic.Label1);
    postLayout->addWidget(skipLabel);
    const std::pair<const char *, TCheckBoxState *> skips[] = {
        {"cbCancel", &FLogic.cbCancel}, {"cbError", &FLogic.cbError}, {"cbIdle", &FLogic.cbIdle}};
    for (const auto &[name, state] : skips) {
        auto *box = new QCheckBox(post);
        box->setObjectName(QLatin1String(name));
        BindCheckBox(box, *state);
        postLayout->addWidget(box);
    }
    auto *ignoreLevel = new QCheckBox(post);
    ignoreLevel->setObjectName(QStringLiteral("cbPostErrorLevel"));
    BindCheckBox(ignoreLevel, FLogic.cbPostErrorLevel);
    postLayout->addWidget(ignoreLevel);
    main->addWidget(post);

    auto *encrypt = new QCheckBox(this);
    encrypt->setObjectName(QStringLiteral("cbEncrypt"));
    BindCheckBox(encrypt, FLogic.cbEncrypt);
    main->addWidget(encrypt);

    AddOkCancelRow(main, FLogic.OKBtn, FLogic.CancelBtn);

    auto *help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [] { TAddProgramsDialog::ShowHelp(); });
    if (!TAddProgramsDialog::ShowHints()) {
        for (QWidget *child : findChildren<QWidget *>())
            child->installEventFilter(this);
    }

    FLogic.FocusControl = [this](TControlState &AControl) {
        if (QWidget *w = FWidgets.value(&AControl))
            w->setFocus();
    };
    FLogic.FocusEdit = [this](TEditState &AEdit, int ACaret) {
        if (auto *edit = qobject_cast<QLineEdit *>(FWidgets.value(&AEdit))) {
            edit->setFocus();
            edit->setCursorPosition(ACaret);
        }
    };
    FLogic.SelectionOf = [this](const TEditState &AEdit) {
        auto *edit = qobject_cast<QLineEdit *>(FWidgets.value(&AEdit));
        if (!edit)
            return std::pair<int, int>(int(AEdit.Text().size()), 0);
        if (edit->hasSelectedText())
            return std::pair<int, int>(edit->selectionStart(), int(edit->selectedText().size()));
        return std::pair<int, int>(edit->cursorPosition(), 0);
    };
    SetReadOnlyTabStops(this, QAccessible::isActive());
}

TAddProgramsDialogView::~TAddProgramsDialogView()
{
    FLogic.FocusControl = nullptr;
    FLogic.FocusEdit = nullptr;
    FLogic.SelectionOf = nullptr;
}

QGroupBox *TAddProgramsDialogView::ProgramGroup(TProgramControls &AProgram, const char *APrefix)
{
    TProgramControls &p = AProgram;
    auto *group = new QGroupBox(this);
    group->setObjectName(Name("gb", APrefix));
    BindCheckGroupBox(group, p.gb);
    auto *layout = new QVBoxLayout(group);

    auto *commandRow = new QHBoxLayout;
    auto *command = new QLineEdit(group);
    command->setObjectName(Name("ed", APrefix) + QStringLiteral("Command"));
    command->setMinimumWidth(360);
    BindEdit(command, p.edCommand);
    FWidgets.insert(&p.edCommand, command);
    commandRow->addWidget(command, 1);
    auto *browse = new QToolButton(group);
    browse->setObjectName(QLatin1String(APrefix) + QStringLiteral("CommandBtn"));
    browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BindButton(browse, p.CommandBtn);
    Register(browse, p.CommandBtn);
    commandRow->addWidget(browse);
    auto *placeholder = new QToolButton(group);
    placeholder->setObjectName(Name("Ph", APrefix) + QStringLiteral("Btn"));
    BindButton(placeholder, p.PhBtn);
    placeholder->setText(QStringLiteral("%"));
    Register(placeholder, p.PhBtn);
    commandRow->addWidget(placeholder);
    layout->addLayout(commandRow);

    auto *list = new QComboBox(group);
    list->setObjectName(Name("ed", APrefix) + QStringLiteral("CmdList"));
    list->setMaxVisibleItems(p.DropDownCount);
    BindComboBox(list, p.edCmdList);
    Register(list, p.edCmdList);
    FWidgets.insert(&p.edCmdList, list);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list, &p](const QPoint &APos) {
        FLogic.PopupOn(p.edCmdList);
        QMenu menu(list);
        BindMenu(&menu, FLogic.pmHistList);
        menu.exec(list->mapToGlobal(APos));
    });
    layout->addWidget(list);

    auto *untilEnd = new QRadioButton(group);
    untilEnd->setObjectName(Name("rb", APrefix) + QStringLiteral("Wp"));
    BindRadioButton(untilEnd, p.rbWp);
    layout->addWidget(untilEnd);
    auto *timeoutRow = new QHBoxLayout;
    auto *limited = new QRadioButton(group);
    limited->setObjectName(Name("rb", APrefix) + QStringLiteral("Wt"));
    BindRadioButton(limited, p.rbWt);
    timeoutRow->addWidget(limited);
    auto *timeout = new QLineEdit(group);
    timeout->setObjectName(Name("re", APrefix) + QStringLiteral("Tm"));
    timeout->setMaximumWidth(timeout->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    BindNumberEdit(timeout, p.reTm);
    FWidgets.insert(&p.reTm, timeout);
    auto *spin = new TNumUpDownView(p.udTm, group);
    spin->setObjectName(Name("ud", APrefix) + QStringLiteral("Tm"));
    timeoutRow->addWidget(NumEditWithSpin(group, timeout, spin));
    auto *seconds = new QLabel(group);
    BindLabel(seconds, p.lbSeconds);
    timeoutRow->addWidget(seconds);
    timeoutRow->addStretch(1);
    layout->addLayout(timeoutRow);

    const std::pair<const char *, TCheckBoxState *> boxes[] = {
        {"Ignore", &p.cbIgnore}, {"Admin", &p.cbAdmin}, {"Console", &p.cbConsole}};
    for (const auto &[name, state] : boxes) {
        auto *box = new QCheckBox(group);
        box->setObjectName(Name("cb", APrefix) + QLatin1String(name));
        BindCheckBox(box, *state);
        layout->addWidget(box);
    }
    return group;
}

QLineEdit *TAddProgramsDialogView::CommandEdit(const TProgramControls &AProgram) const
{
    return qobject_cast<QLineEdit *>(FWidgets.value(&AProgram.edCommand));
}

QComboBox *TAddProgramsDialogView::CommandList(const TProgramControls &AProgram) const
{
    return qobject_cast<QComboBox *>(FWidgets.value(&AProgram.edCmdList));
}

bool TAddProgramsDialogView::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    // Tool tips only when the settings ask for them (F11 still shows a
    // control's hint).
    if (AEvent->type() == QEvent::ToolTip)
        return true;
    return TLogicDialog::eventFilter(AWatched, AEvent);
}

} // namespace vl
