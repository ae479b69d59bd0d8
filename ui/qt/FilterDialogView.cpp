#include "ui/qt/FilterDialogView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vl {

TFilterDialogView::TFilterDialogView(TFilterDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("FilterDialog"));
    Register(this, FLogic.Form);
    auto *main = new QVBoxLayout(this);

    auto *group = new QGroupBox(FLogic.gbFilter.Caption(), this);
    group->setObjectName(QStringLiteral("gbFilter"));
    BindControl(group, FLogic.gbFilter);
    auto *inner = new QVBoxLayout(group);
    auto *modes = new QHBoxLayout;
    const std::pair<const char *, TRadioButtonState *> radios[] = {
        {"NoMaskBtn", &FLogic.NoMaskBtn}, {"IncMaskBtn", &FLogic.IncMaskBtn}, {"ExcMaskBtn", &FLogic.ExcMaskBtn}};
    for (const auto &[name, state] : radios) {
        auto *radio = new QRadioButton(state->Caption(), group);
        radio->setObjectName(QLatin1String(name));
        BindRadioButton(radio, *state);
        modes->addWidget(radio);
    }
    modes->addStretch(1);
    inner->addLayout(modes);

    auto *mask = new QLabel(group);
    mask->setObjectName(QStringLiteral("lbMask"));
    BindLabel(mask, FLogic.lbMask);
    inner->addWidget(mask);
    FFilter = new QComboBox(group);
    FFilter->setObjectName(QStringLiteral("cbFilter"));
    FFilter->setMaxVisibleItems(kFilterDropDownCount);
    FFilter->setMinimumWidth(320);
    FFilter->setInsertPolicy(QComboBox::NoInsert);
    BindComboBox(FFilter, FLogic.cbFilter);
    mask->setBuddy(FFilter);
    FWidgets.insert(&FLogic.cbFilter, FFilter);
    inner->addWidget(FFilter);

    auto *eval = new QGroupBox(group);
    eval->setObjectName(QStringLiteral("rgEval"));
    BindRadioGroup(eval, FLogic.rgEval);
    inner->addWidget(eval);

    auto *options = new QHBoxLayout;
    auto *edit = new QPushButton(group);
    edit->setObjectName(QStringLiteral("btnEditMask"));
    edit->setAutoDefault(false);
    edit->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    BindButton(edit, FLogic.btnEditMask);
    options->addWidget(edit);
    auto *regular = new QCheckBox(group);
    regular->setObjectName(QStringLiteral("RegExpCB"));
    BindCheckBox(regular, FLogic.RegExpCB);
    options->addWidget(regular);
    options->addStretch(1);
    inner->addLayout(options);
    main->addWidget(group);

    AddOkCancelRow(main, FLogic.OKBtn, FLogic.CancelBtn);

    FLogic.FocusControl = [this](TControlState &AControl) {
        if (QWidget *w = FWidgets.value(&AControl))
            w->setFocus();
    };
    SetReadOnlyTabStops(this, QAccessible::isActive());
}

TFilterDialogView::~TFilterDialogView()
{
    FLogic.FocusControl = nullptr;
    FLogic.Hidden();
}

void TFilterDialogView::showEvent(QShowEvent *AEvent)
{
    TLogicDialog::showEvent(AEvent);
    FLogic.Shown();
}

} // namespace vl
