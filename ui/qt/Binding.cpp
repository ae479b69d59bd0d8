#include "ui/qt/Binding.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRadioButton>
#include <QSignalBlocker>

namespace vl {

namespace {

// Subscribes AShow to the state for as long as the widget lives, and shows
// the state once now.
void Observe(QWidget *AWidget, TControlState &AState, std::function<void(TStateAspect)> AShow)
{
    QPointer<QWidget> widget(AWidget);
    const int id = AState.Subscribe([widget, AShow](TControlState &, TStateAspect aspect) {
        if (widget)
            AShow(aspect);
    });
    TControlState *state = &AState;
    QObject::connect(AWidget, &QObject::destroyed, [state, id] { state->Unsubscribe(id); });
}

void ShowCommon(QWidget *AWidget, const TControlState &AState, TStateAspect AAspect)
{
    switch (AAspect) {
    case TStateAspect::saEnabled:
        AWidget->setEnabled(AState.Enabled());
        break;
    case TStateAspect::saVisible:
        // A hidden state hides the widget; a visible one leaves showing to
        // the parent (an unshown window keeps its children unshown).
        AWidget->setVisible(AState.Visible());
        break;
    case TStateAspect::saHint:
        AWidget->setToolTip(AState.Hint());
        break;
    default:
        break;
    }
}

void ShowAllCommon(QWidget *AWidget, const TControlState &AState)
{
    AWidget->setEnabled(AState.Enabled());
    if (!AState.Visible())
        AWidget->setVisible(false);
    AWidget->setToolTip(AState.Hint());
}

// Binds the common aspects plus AShowOwn for the widget's own ones.
void BindWith(QWidget *AWidget, TControlState &AState, std::function<void(TStateAspect)> AShowOwn)
{
    ShowAllCommon(AWidget, AState);
    Observe(AWidget, AState, [AWidget, &AState, AShowOwn](TStateAspect aspect) {
        const QSignalBlocker block(AWidget);
        ShowCommon(AWidget, AState, aspect);
        if (AShowOwn)
            AShowOwn(aspect);
    });
}

void ShowCheck(QAbstractButton *AButton, bool AChecked)
{
    const QSignalBlocker block(AButton);
    AButton->setChecked(AChecked);
}

void FillList(QListWidget *AList, const TListBoxState &AState)
{
    const QSignalBlocker block(AList);
    AList->clear();
    AList->addItems(AState.Items());
    AList->setCurrentRow(AState.ItemIndex());
}

void FillCombo(QComboBox *ACombo, const TComboBoxState &AState)
{
    const QSignalBlocker block(ACombo);
    ACombo->clear();
    ACombo->addItems(AState.Items());
    ACombo->setCurrentIndex(AState.ItemIndex());
    if (ACombo->isEditable())
        ACombo->setEditText(AState.Text());
}

void ShowComboText(QComboBox *ACombo, const TComboBoxState &AState)
{
    const QSignalBlocker block(ACombo);
    ACombo->setCurrentIndex(AState.ItemIndex());
    if (ACombo->isEditable() && ACombo->currentText() != AState.Text())
        ACombo->setEditText(AState.Text());
}

// The radio buttons of a group box, made from the items.
void BuildRadioGroup(QGroupBox *AGroup, TRadioGroupState &AState)
{
    auto *group = AGroup->findChild<QButtonGroup *>(QString(), Qt::FindDirectChildrenOnly);
    if (!group) {
        group = new QButtonGroup(AGroup);
        group->setExclusive(true);
        QObject::connect(group, &QButtonGroup::idClicked, AGroup, [group, &AState](int id) {
            if (!AState.UserSelect(id)) {
                const QSignalBlocker block(group);
                if (auto *b = group->button(AState.ItemIndex()))
                    b->setChecked(true);
                else if (auto *c = group->checkedButton()) {
                    group->setExclusive(false);
                    c->setChecked(false);
                    group->setExclusive(true);
                }
            }
        });
    }
    for (QAbstractButton *b : group->buttons()) {
        group->removeButton(b);
        delete b;
    }
    auto *grid = qobject_cast<QGridLayout *>(AGroup->layout());
    if (!grid) {
        delete AGroup->layout();
        grid = new QGridLayout(AGroup);
    }
    const int columns = std::max(1, AState.Columns());
    const int count = int(AState.Items().size());
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        auto *button = new QRadioButton(AState.Items().at(i), AGroup);
        group->addButton(button, i);
        // Items run down the columns, as radio groups list them.
        grid->addWidget(button, rows ? i % rows : 0, rows ? i / rows : 0);
    }
    const QSignalBlocker block(group);
    if (auto *b = group->button(AState.ItemIndex()))
        b->setChecked(true);
}

void ShowRadioIndex(QGroupBox *AGroup, const TRadioGroupState &AState)
{
    auto *group = AGroup->findChild<QButtonGroup *>(QString(), Qt::FindDirectChildrenOnly);
    if (!group)
        return;
    const QSignalBlocker block(group);
    if (auto *b = group->button(AState.ItemIndex())) {
        const QSignalBlocker blockButton(b);
        b->setChecked(true);
    } else if (auto *c = group->checkedButton()) {
        group->setExclusive(false);
        c->setChecked(false);
        group->setExclusive(true);
    }
}

} // namespace

void BindControl(QWidget *AWidget, TControlState &AState)
{
    BindWith(AWidget, AState, {});
}

void BindLabel(QLabel *ALabel, TControlState &AState)
{
    ALabel->setText(AState.Caption());
    BindWith(ALabel, AState, [ALabel, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saCaption)
            ALabel->setText(AState.Caption());
    });
}

void BindButton(QAbstractButton *AButton, TButtonState &AState)
{
    if (!AState.Caption().isEmpty())
        AButton->setText(AState.Caption());
    BindWith(AButton, AState, [AButton, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saCaption)
            AButton->setText(AState.Caption());
    });
    QObject::connect(AButton, &QAbstractButton::clicked, AButton, [&AState] { AState.UserClick(); });
}

void BindCheckBox(QCheckBox *ABox, TCheckBoxState &AState)
{
    if (!AState.Caption().isEmpty())
        ABox->setText(AState.Caption());
    ShowCheck(ABox, AState.Checked());
    BindWith(ABox, AState, [ABox, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saCaption)
            ABox->setText(AState.Caption());
        else if (aspect == TStateAspect::saChecked)
            ShowCheck(ABox, AState.Checked());
    });
    QObject::connect(ABox, &QAbstractButton::clicked, ABox, [ABox, &AState] {
        AState.UserClick();
        // The state decides: a refused click, or a handler that set the box
        // back, shows in the widget.
        ShowCheck(ABox, AState.Checked());
    });
}

void BindRadioButton(QRadioButton *AButton, TRadioButtonState &AState)
{
    if (!AState.Caption().isEmpty())
        AButton->setText(AState.Caption());
    // Siblings are exclusive through their states; Qt's own exclusivity
    // would clear a widget without its state knowing.
    AButton->setAutoExclusive(false);
    ShowCheck(AButton, AState.Checked());
    BindWith(AButton, AState, [AButton, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saCaption)
            AButton->setText(AState.Caption());
        else if (aspect == TStateAspect::saChecked)
            ShowCheck(AButton, AState.Checked());
    });
    QObject::connect(AButton, &QAbstractButton::clicked, AButton, [AButton, &AState] {
        AState.UserClick();
        ShowCheck(AButton, AState.Checked());
    });
}

void BindEdit(QLineEdit *AEdit, TEditState &AState)
{
    AEdit->setText(AState.Text());
    BindWith(AEdit, AState, [AEdit, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saText && AEdit->text() != AState.Text())
            AEdit->setText(AState.Text());
    });
    QObject::connect(AEdit, &QLineEdit::textEdited, AEdit, [AEdit, &AState](const QString &text) {
        if (!AState.UserEdit(text) && AEdit->text() != AState.Text()) {
            const QSignalBlocker block(AEdit);
            AEdit->setText(AState.Text());
        }
    });
}

void BindListBox(QListWidget *AList, TListBoxState &AState)
{
    FillList(AList, AState);
    BindWith(AList, AState, [AList, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saItems)
            FillList(AList, AState);
        else if (aspect == TStateAspect::saItemAdded)
            AList->addItem(AState.Items().constLast());
        else if (aspect == TStateAspect::saItemIndex)
            AList->setCurrentRow(AState.ItemIndex());
    });
    QObject::connect(AList, &QListWidget::currentRowChanged, AList, [AList, &AState](int row) {
        if (row != AState.ItemIndex() && !AState.UserSelect(row)) {
            const QSignalBlocker block(AList);
            AList->setCurrentRow(AState.ItemIndex());
        }
    });
}

void BindComboBox(QComboBox *ACombo, TComboBoxState &AState)
{
    ACombo->setEditable(AState.Editable());
    FillCombo(ACombo, AState);
    BindWith(ACombo, AState, [ACombo, &AState](TStateAspect aspect) {
        if (aspect == TStateAspect::saItems)
            FillCombo(ACombo, AState);
        else if (aspect == TStateAspect::saItemIndex || aspect == TStateAspect::saText)
            ShowComboText(ACombo, AState);
    });
    QObject::connect(ACombo, &QComboBox::activated, ACombo, [ACombo, &AState](int index) {
        if (index != AState.ItemIndex() && !AState.UserSelect(index))
            ShowComboText(ACombo, AState);
    });
    if (AState.Editable()) {
        QObject::connect(ACombo, &QComboBox::editTextChanged, ACombo, [ACombo, &AState](const QString &text) {
            if (text != AState.Text() && !AState.UserEdit(text))
                ShowComboText(ACombo, AState);
        });
    }
}

void BindRadioGroup(QGroupBox *AGroup, TRadioGroupState &AState)
{
    AGroup->setTitle(AState.Caption());
    BuildRadioGroup(AGroup, AState);
    BindWith(AGroup, AState, [AGroup, &AState](TStateAspect aspect) {
        switch (aspect) {
        case TStateAspect::saCaption:
            AGroup->setTitle(AState.Caption());
            break;
        case TStateAspect::saItems:
        case TStateAspect::saColumns:
            BuildRadioGroup(AGroup, AState);
            break;
        case TStateAspect::saItemIndex:
            ShowRadioIndex(AGroup, AState);
            break;
        default:
            break;
        }
    });
}

} // namespace vl
