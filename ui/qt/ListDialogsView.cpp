#include "ui/qt/ListDialogsView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/ListItemsBinding.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vl {

namespace {

QPushButton *Button(QWidget *AParent, const char *AName, TButtonState &AState)
{
    auto *button = new QPushButton(AParent);
    button->setObjectName(QLatin1String(AName));
    button->setAutoDefault(false);
    BindButton(button, AState);
    return button;
}

QLabel *Label(QWidget *AParent, const char *AName, TControlState &AState)
{
    auto *label = new QLabel(AParent);
    label->setObjectName(QLatin1String(AName));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    BindLabel(label, AState);
    return label;
}

QGroupBox *Group(QWidget *AParent, const char *AName, TControlState &AState)
{
    auto *group = new QGroupBox(AParent);
    group->setObjectName(QLatin1String(AName));
    BindControl(group, AState);
    group->setTitle(AState.Caption());
    return group;
}

} // namespace

TSelectFromListView::TSelectFromListView(TSelectFromListDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("SelectFromListDialog"));
    auto *main = new QHBoxLayout(this);

    auto *left = new QVBoxLayout;
    left->addWidget(Label(this, "lbDesc", ALogic.lbDesc));
    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("lbxStringList"));
    FList->setMinimumSize(220, 200);
    BindListItems(FList, ALogic.lbxStringList);
    left->addWidget(FList, 1);
    main->addLayout(left, 1);

    auto *right = new QVBoxLayout;
    QGroupBox *edit = Group(this, "gbxEdit", ALogic.gbxEdit);
    auto *editButtons = new QVBoxLayout(edit);
    for (auto [name, state] : {std::pair{"btnInsert", &ALogic.btnInsert}, std::pair{"btnDelete", &ALogic.btnDelete},
                               std::pair{"btnEdit", &ALogic.btnEdit}, std::pair{"btnDefault", &ALogic.btnDefault},
                               std::pair{"btnDelAll", &ALogic.btnDelAll}}) {
        QPushButton *button = Button(edit, name, *state);
        Register(button, *state);
        editButtons->addWidget(button);
    }
    right->addWidget(edit);

    QGroupBox *move = Group(this, "gbxMove", ALogic.gbxMove);
    auto *moveButtons = new QHBoxLayout(move);
    QPushButton *up = Button(move, "UpBtn", ALogic.UpBtn);
    up->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    QPushButton *down = Button(move, "DownBtn", ALogic.DownBtn);
    down->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    moveButtons->addWidget(up);
    moveButtons->addWidget(down);
    right->addWidget(move);

    right->addStretch(1);
    QLabel *hint = Label(this, "lbHint", ALogic.lbHint);
    hint->setFocusPolicy(ALogic.lbHint.Caption().isEmpty() ? Qt::NoFocus : Qt::TabFocus);
    right->addWidget(hint);
    QPushButton *prompt = Button(this, "btnPrompt", ALogic.btnPrompt);
    Register(prompt, ALogic.btnPrompt);
    right->addWidget(prompt);
    QPushButton *ok = Button(this, "OKBtn", ALogic.OKBtn);
    ok->setDefault(true);
    right->addWidget(ok);
    right->addWidget(Button(this, "CancelBtn", ALogic.CancelBtn));
    main->addLayout(right);
    FList->setFocus();
}

TSelectListItemsView::TSelectListItemsView(TSelectListItemsDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("SelectListItemsDialog"));
    auto *main = new QVBoxLayout(this);
    main->addWidget(Label(this, "laDesc", ALogic.laDesc));
    main->addWidget(Label(this, "laName", ALogic.laName));
    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("clItems"));
    FList->setMinimumSize(260, 220);
    BindListItems(FList, ALogic.clItems);
    main->addWidget(FList, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button(this, "btSelNone", ALogic.btSelNone));
    buttons->addWidget(Button(this, "btSelAll", ALogic.btSelAll));
    buttons->addStretch(1);
    QPushButton *ok = Button(this, "OKBtn", ALogic.OKBtn);
    ok->setDefault(true);
    buttons->addWidget(ok);
    buttons->addWidget(Button(this, "CancelBtn", ALogic.CancelBtn));
    main->addLayout(buttons);
    FList->setFocus();
}

} // namespace vl
