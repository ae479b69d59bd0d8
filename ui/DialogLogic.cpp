#include "ui/DialogLogic.h"

namespace vl {

void TDialogLogic::CloseModal(TModalResult AResult)
{
    FModalResult = AResult;
    if (OnCloseModal)
        OnCloseModal(AResult);
}

QRect TDialogLogic::ControlScreenRect(const TControlState &AControl) const
{
    return ScreenRectOf ? ScreenRectOf(AControl) : QRect();
}

QPoint TDialogLogic::MousePos() const
{
    return CursorPos ? CursorPos() : kDefaultPos;
}

// QRect's right and bottom are the last pixel inside; the corners below lie
// just outside, where a box opened next to the control starts.
QPoint TDialogLogic::BottomLeftOf(const TControlState &AControl, int DX, int DY) const
{
    const QRect r = ControlScreenRect(AControl);
    return r.isValid() ? QPoint(r.left() + DX, r.top() + r.height() + DY) : kDefaultPos;
}

QPoint TDialogLogic::BottomRightOf(const TControlState &AControl) const
{
    const QRect r = ControlScreenRect(AControl);
    return r.isValid() ? QPoint(r.left() + r.width(), r.top() + r.height()) : kDefaultPos;
}

QPoint TDialogLogic::TopLeftOf(const TControlState &AControl) const
{
    const QRect r = ControlScreenRect(AControl);
    return r.isValid() ? r.topLeft() : kDefaultPos;
}

QPoint TDialogLogic::MouseOffset(int DX, int DY) const
{
    return CursorPos ? CursorPos() + QPoint(DX, DY) : kDefaultPos;
}

} // namespace vl
