// Scripted stand-ins for the screen: the list dialogs' views run a test's
// script on the logic instead of showing anything, and message boxes are
// recorded and answered as the test says.
#pragma once

#include "core/MessageService.h"
#include "ui/ChoiceDialogs.h"
#include "ui/EditHistList.h"
#include "ui/InputDialogViews.h"
#include "ui/InputDialogs.h"
#include "ui/ListDialogViews.h"
#include "ui/ListDialogs.h"
#include "ui/ListWindows.h"

#include <QStringList>

#include <functional>

namespace vl::test {

class TScriptedViews : public IListDialogViews, public IInputDialogViews {
public:
    TScriptedViews()
    {
        SetListDialogViews(this);
        SetInputDialogViews(this);
    }
    ~TScriptedViews() override
    {
        SetListDialogViews(nullptr);
        SetInputDialogViews(nullptr);
    }

    std::function<void(TSelectDialog &)> OnSelectDialog;
    std::function<void(TSelectFromListDialog &)> OnSelectFromList;
    std::function<void(TSelectListItemsDialog &)> OnSelectListItems;
    std::function<void(TEditHistListDialog &)> OnEditHistList;
    std::function<void(TShowStringListDialog &)> OnStringList;
    // Answers of the one-line inputs (InputText, the input text and input
    // string dialogs) in turn; none left: cancelled.
    QStringList InputAnswers;
    QList<QPoint> InputPositions;
    int StatusListShown = 0;
    int PopupsShown = 0;

    void ExecuteSelectDialog(TSelectDialog &D) override { Run(OnSelectDialog, D); }
    void ExecuteSelectFromList(TSelectFromListDialog &D) override { Run(OnSelectFromList, D); }
    void ExecuteSelectListItems(TSelectListItemsDialog &D) override { Run(OnSelectListItems, D); }
    void ExecuteEditHistList(TEditHistListDialog &D) override { Run(OnEditHistList, D); }
    void ExecuteStringList(TShowStringListDialog &D) override { Run(OnStringList, D); }
    void ShowStatusList(TShowStringListDialog &) override { ++StatusListShown; }
    void ShowListPopup(TListSelectDialog &, QPoint, int) override { ++PopupsShown; }
    bool InputText(QPoint APos, const QString &, const QString &, QString &AText) override
    {
        InputPositions << APos;
        if (InputAnswers.isEmpty())
            return false;
        AText = InputAnswers.takeFirst();
        return true;
    }
    void ExecuteInputText(TInputTextDialog &D) override { Answer(D, D.TextFeld); }
    void ExecuteInputString(TInputStringDialog &D) override { Answer(D, D.TextFeld); }
    void ExecuteCharTable(TCharTableDialog &) override {}
    void ExecuteTextEingabe(TTextEingabe &) override {}
    void ExecuteMemo(TMemoDialog &) override {}
    void ExecutePlaceHolder(TPlaceHolderDialog &) override {}

private:
    template <class D, class E>
    void Answer(D &ADialog, E &AField)
    {
        InputPositions << ADialog.Position;
        if (InputAnswers.isEmpty())
            return;
        AField.SetText(InputAnswers.takeFirst());
        ADialog.CloseModal(mrOk);
    }
    template <class F, class D>
    static void Run(const F &AScript, D &ADialog)
    {
        if (AScript)
            AScript(ADialog);
    }
};

// Records every box; questions get Answer.
class TRecordingMessages : public IMessageService {
public:
    TRecordingMessages() { SetMessageService(this); }
    ~TRecordingMessages() override { SetMessageService(nullptr); }

    TModalResult Answer = mrYes;
    QStringList Texts;
    QList<QPoint> Positions;

    TModalResult ShowMessageForm(QPoint APos, const QString &AHint, int32_t, TMsgDialogType DlgType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Texts << AHint;
        Positions << APos;
        return DlgType == TMsgDialogType::mdtConfirm ? Answer : mrOk;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &AMsg, TMsgDlgType, TMsgDlgButtons,
                                      TMsgDlgBtn, QPoint APos, int32_t, TDefaultMonitor) override
    {
        Texts << AMsg;
        Positions << APos;
        return Answer;
    }
    void ShowTextWindow(const QString &, const QString &AText, int32_t) override { Texts << AText; }
};

} // namespace vl::test
