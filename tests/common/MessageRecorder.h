// A message service for tests: installs itself while it lives, records the
// text of every box and answers each with Answer.
#pragma once

#include "core/MessageService.h"

#include <QStringList>

namespace vl::test {

class TMessageRecorder : public IMessageService {
public:
    TMessageRecorder() { SetMessageService(this); }
    ~TMessageRecorder() override { SetMessageService(nullptr); }
    TMessageRecorder(const TMessageRecorder &) = delete;
    TMessageRecorder &operator=(const TMessageRecorder &) = delete;

    TModalResult Answer = mrOk;
    QStringList Texts;

    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Texts << AHint;
        return Answer;
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &AMsg, TMsgDlgType, TMsgDlgButtons, TMsgDlgBtn,
                                      QPoint, int32_t, TDefaultMonitor) override
    {
        Texts << AMsg;
        return Answer;
    }
    void ShowTextWindow(const QString &, const QString &, int32_t) override {}
};

} // namespace vl::test
