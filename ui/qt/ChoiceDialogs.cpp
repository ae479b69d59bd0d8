#include "ui/qt/ChoiceDialogs.h"

#include "ui/qt/Binding.h"
#include "ui/qt/EditHistListView.h"
#include "ui/qt/ListDialogsView.h"
#include "ui/qt/ListWindowsView.h"
#include "ui/qt/QtPlacement.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace vl {

namespace {

QStyle::StandardPixmap IconOf(TMsgDlgType AType)
{
    switch (AType) {
    case TMsgDlgType::mtWarning:
        return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::mtError:
        return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::mtInformation:
        return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::mtConfirmation:
    case TMsgDlgType::mtCustom:
        break;
    }
    return QStyle::SP_MessageBoxQuestion;
}

QFont StyledFont(QFont AFont, TFontStyles AStyles)
{
    AFont.setBold(AStyles.Contains(TFontStyle::fsBold));
    AFont.setItalic(AStyles.Contains(TFontStyle::fsItalic));
    AFont.setUnderline(AStyles.Contains(TFontStyle::fsUnderline));
    AFont.setStrikeOut(AStyles.Contains(TFontStyle::fsStrikeOut));
    return AFont;
}

QString LineFeeds(QString AText)
{
    return AText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

// ---------------------------------------------------------------------------
// TSelectDialogView

TSelectDialogView::TSelectDialogView(TSelectDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("SelectDialog"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    FLogic.SetActiveScreenReader(QAccessible::isActive());
    const QFontMetrics metrics(font());
    const TChoiceLayout layout = FLogic.Layout(
        TChoiceMetrics{[&metrics](const QString &AText) { return metrics.horizontalAdvance(AText); },
                       metrics.height(), DesignDpi});

    if (FLogic.ShowsIcon()) {
        auto *icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("imgIcon"));
        icon->setPixmap(style()->standardIcon(IconOf(FLogic.DlgType())).pixmap(layout.Icon.size()));
        icon->setGeometry(layout.Icon);
    }
    auto *question = new QLabel(this);
    question->setObjectName(QStringLiteral("stCaption"));
    question->setTextFormat(Qt::PlainText);
    question->setFont(StyledFont(font(), FLogic.CaptionFormat()));
    question->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BindLabel(question, FLogic.stCaption);
    question->setText(LineFeeds(FLogic.stCaption.Caption()));
    question->setGeometry(layout.Caption);
    if (FLogic.CaptionTabStop())
        question->setFocusPolicy(Qt::StrongFocus);

    FOption = new QCheckBox(this);
    FOption->setObjectName(QStringLiteral("cbOption"));
    BindCheckBox(FOption, FLogic.cbOption);
    if (!layout.Option.isEmpty()) {
        FOption->setText(layout.OptionText);
        FOption->setGeometry(layout.Option);
    }

    for (size_t i = 0; i < FLogic.Buttons.size(); ++i) {
        auto *button = new QPushButton(this);
        const bool cancel = int(i) == FLogic.AnswerCount();
        button->setObjectName(cancel ? QStringLiteral("CancelBtn") : QStringLiteral("Button%1").arg(i));
        button->setAutoDefault(false);
        BindButton(button, *FLogic.Buttons[i]);
        button->setGeometry(layout.Buttons[int(i)]);
        Register(button, *FLogic.Buttons[i]);
        FButtons << button;
    }
    // Tab order follows the answers; the option box comes last, or, for a
    // screen reader, first after the question.
    QList<QWidget *> order;
    if (FLogic.CaptionTabStop())
        order << question;
    if (FLogic.OptionFirstInTabOrder() && FLogic.cbOption.Visible())
        order << FOption;
    for (QPushButton *button : FButtons)
        order << button;
    if (!FLogic.OptionFirstInTabOrder() && FLogic.cbOption.Visible())
        order << FOption;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    setFixedSize(layout.Client);
    const int focus = FLogic.FocusButton();
    if (focus >= 0 && focus < FButtons.size()) {
        FButtons[focus]->setDefault(true);
        FButtons[focus]->setFocus();
    }
}

// ---------------------------------------------------------------------------
// The views of all list dialogs

namespace {

class TQtListDialogViews : public IListDialogViews {
public:
    ~TQtListDialogViews() override
    {
        for (const QPointer<QWidget> &window : FWindows)
            delete window.data();
    }

    void ExecuteSelectDialog(TSelectDialog &ADialog) override
    {
        TSelectDialogView view(ADialog);
        view.Run();
    }
    void ExecuteSelectFromList(TSelectFromListDialog &ADialog) override
    {
        TSelectFromListView view(ADialog);
        view.Run();
    }
    void ExecuteSelectListItems(TSelectListItemsDialog &ADialog) override
    {
        TSelectListItemsView view(ADialog);
        view.Run();
    }
    void ExecuteEditHistList(TEditHistListDialog &ADialog) override
    {
        TEditHistListView view(ADialog);
        view.Run();
    }
    void ExecuteStringList(TShowStringListDialog &ADialog) override
    {
        TStringListView view(ADialog);
        view.Run();
    }
    void ShowStatusList(TShowStringListDialog &ADialog) override
    {
        // One window per list: opening again reuses it.
        for (const QPointer<QWidget> &window : FWindows)
            if (auto *view = qobject_cast<TStringListView *>(window.data()); view && view->Shows(ADialog)) {
                view->ShowStatus();
                return;
            }
        auto *view = new TStringListView(ADialog);
        Keep(view);
        view->ShowStatus();
    }
    void ShowListPopup(TListSelectDialog &APopup, QPoint APos, int AHeight) override
    {
        auto *popup = new TListSelectPopup(APopup);
        Keep(popup);
        popup->Popup(APos, AHeight);
    }
    bool InputText(QPoint APos, const QString &ATitle, const QString &APrompt, QString &AText) override
    {
        QInputDialog input;
        input.setObjectName(QStringLiteral("InputTextDialog"));
        input.setWindowTitle(ATitle);
        input.setLabelText(APrompt);
        input.setTextValue(AText);
        input.adjustSize();
        PlaceFormAt(&input, APos);
        if (input.exec() != QDialog::Accepted)
            return false;
        AText = input.textValue();
        return true;
    }

private:
    // Windows that outlive the call; closed ones delete themselves.
    void Keep(QWidget *AWindow)
    {
        FWindows.removeIf([](const QPointer<QWidget> &w) { return w.isNull(); });
        FWindows << AWindow;
    }

    QList<QPointer<QWidget>> FWindows;
};

} // namespace

std::unique_ptr<IListDialogViews> CreateQtListDialogViews()
{
    return std::make_unique<TQtListDialogViews>();
}

} // namespace vl
