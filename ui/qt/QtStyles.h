// The Qt side of the light and dark styles and of the window placement:
// the style manager that switches the application's style, colour
// conversion, and the monitors as the placement functions see them.
#pragma once

#include "ui/Placement.h"
#include "ui/Styles.h"

#include <QColor>
#include <QPalette>

namespace vl {

// Switches between the look the application started with (kSystemStyleName)
// and Fusion with the dark palette (kDarkStyleName or any name starting
// with "Fusion"); needs a QApplication.
class TQtStyleManager : public TStyleManager {
public:
    TQtStyleManager();
    QString ActiveStyleName() const override { return FActive; }
    bool TrySetStyle(const QString &Name, QString &Error) override;
    // Through the message service, so an unattended program logs it.
    void ShowStyleError(const QString &Message) override;

private:
    QString FStartStyle;
    QPalette FStartPalette;
    QString FActive;
};

// The dark palette as a QPalette.
QPalette MakeDarkPalette();
// TColor (0x00BBGGRR) to QColor; system colours come from APalette.
QColor ToQColor(TColor AColor, const QPalette &APalette);

// The screens' available areas (work areas) at factor 1: Qt scales for us.
TMonitorList CurrentMonitors();

} // namespace vl
