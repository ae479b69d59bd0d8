#include "ui/qt/EditHistListView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/ListItemsBinding.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vl {

TEditHistListView::TEditHistListView(TEditHistListDialog &ALogic, QWidget *AParent) : TLogicDialog(ALogic, AParent)
{
    setObjectName(QStringLiteral("EditHistListDialog"));
    const auto button = [this](const char *AName, TButtonState &AState, QStyle::StandardPixmap AGlyph) {
        auto *b = new QPushButton(this);
        b->setObjectName(QLatin1String(AName));
        b->setAutoDefault(false);
        if (AGlyph != QStyle::SP_CustomBase)
            b->setIcon(style()->standardIcon(AGlyph));
        BindButton(b, AState);
        Register(b, AState);
        return b;
    };

    auto *main = new QVBoxLayout(this);
    auto *desc = new QLabel(this);
    desc->setObjectName(QStringLiteral("laDesc"));
    desc->setTextFormat(Qt::PlainText);
    desc->setWordWrap(true);
    BindLabel(desc, ALogic.laDesc);
    main->addWidget(desc);

    auto *middle = new QHBoxLayout;
    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("lbHistList"));
    FList->setMinimumSize(260, 200);
    BindListItems(FList, ALogic.lbHistList);
    middle->addWidget(FList, 1);
    auto *side = new QVBoxLayout;
    side->addWidget(button("btnRemove", ALogic.btnRemove, QStyle::SP_TrashIcon));
    side->addWidget(button("btnEdit", ALogic.btnEdit, QStyle::SP_FileDialogDetailedView));
    side->addWidget(button("btnUp", ALogic.btnUp, QStyle::SP_ArrowUp));
    side->addWidget(button("btnDown", ALogic.btnDown, QStyle::SP_ArrowDown));
    side->addStretch(1);
    middle->addLayout(side);
    main->addLayout(middle, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addStretch(1);
    QPushButton *ok = button("OKBtn", ALogic.OKBtn, QStyle::SP_DialogOkButton);
    ok->setDefault(true);
    bottom->addWidget(ok);
    bottom->addWidget(button("CancelBtn", ALogic.CancelBtn, QStyle::SP_DialogCancelButton));
    main->addLayout(bottom);
    FList->setFocus();
}

} // namespace vl
