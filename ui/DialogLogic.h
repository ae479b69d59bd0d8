// Common part of the logic of a modal dialog, without widgets.
//
// The view runs the dialog (QDialog::exec) and ends it when the logic asks
// for it through OnCloseModal; closing the window otherwise (close box, Esc)
// is reported back with CloseModal(mrCancel). The logic never blocks.
#pragma once

#include "core/MessageService.h"
#include "ui/ControlState.h"

#include <QPoint>
#include <QRect>

#include <functional>

namespace vl {

class TDialogLogic {
public:
    TDialogLogic() = default;
    virtual ~TDialogLogic() = default;
    TDialogLogic(const TDialogLogic &) = delete;
    TDialogLogic &operator=(const TDialogLogic &) = delete;

    // The window itself: its caption is the title bar text.
    TControlState Form;
    // Where the window opens (PlaceFormAt, ui/Placement.h): its top-left
    // corner, or centred when a coordinate is negative.
    QPoint Position = kDefaultPos;

    // mrNone while the dialog runs or when nobody ran it.
    TModalResult ModalResult() const { return FModalResult; }
    // Records the result and tells the view to close the window.
    void CloseModal(TModalResult AResult);
    // Set by the view while it shows the dialog.
    std::function<void(TModalResult)> OnCloseModal;

    // Where the view shows a control and where the mouse is, in screen
    // coordinates, for boxes that open next to a button. Set by the view;
    // without one a control has no place (an empty rectangle at
    // kDefaultPos) and boxes open centred.
    std::function<QRect(const TControlState &AControl)> ScreenRectOf;
    std::function<QPoint()> CursorPos;
    QRect ControlScreenRect(const TControlState &AControl) const;
    QPoint MousePos() const;
    // A point relative to a control's corner; kDefaultPos when the control
    // has no place.
    QPoint BottomLeftOf(const TControlState &AControl, int DX, int DY) const;
    QPoint BottomRightOf(const TControlState &AControl) const;
    QPoint TopLeftOf(const TControlState &AControl) const;
    // The mouse position moved by (DX, DY); kDefaultPos without a view.
    QPoint MouseOffset(int DX, int DY) const;

private:
    TModalResult FModalResult = mrNone;
};

} // namespace vl
