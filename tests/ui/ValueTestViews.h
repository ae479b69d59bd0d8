// A scripted stand-in for the screen of the value dialogs: each dialog's
// view runs a test's script on the logic instead of showing anything, and
// the file picker answers as the test says.
#pragma once

#include "ui/ExternalProgramsDialog.h"
#include "ui/FilterDialog.h"
#include "ui/LogonDialog.h"
#include "ui/TimeSlotDialog.h"
#include "ui/ValueDialogViews.h"

#include <QList>
#include <QString>

#include <functional>

namespace vl::test {

class TScriptedValueViews : public IValueDialogViews {
public:
    TScriptedValueViews() { SetValueDialogViews(this); }
    ~TScriptedValueViews() override { SetValueDialogViews(nullptr); }

    std::function<void(TTimeSlotDialog &)> OnTimeSlot;
    std::function<void(TAddProgramsDialog &)> OnAddPrograms;
    std::function<void(TLogonDialog &)> OnLogon;
    std::function<void(TFilterDialog &)> OnFilter;
    // The file the picker returns; empty: cancelled.
    QString PickedFile;
    QList<TOpenFileRequest> Requests;

    void ExecuteTimeSlot(TTimeSlotDialog &D) override { Run(OnTimeSlot, D); }
    void ExecuteAddPrograms(TAddProgramsDialog &D) override { Run(OnAddPrograms, D); }
    void ExecuteLogon(TLogonDialog &D) override { Run(OnLogon, D); }
    void ExecuteFilter(TFilterDialog &D) override
    {
        D.Shown();
        Run(OnFilter, D);
        D.Hidden();
    }
    bool OpenFile(const TOpenFileRequest &ARequest, QString &AFileName) override
    {
        Requests << ARequest;
        AFileName = PickedFile;
        return !PickedFile.isEmpty();
    }

private:
    template <class F, class D>
    static void Run(const F &AScript, D &ADialog)
    {
        if (AScript)
            AScript(ADialog);
    }
};

} // namespace vl::test
