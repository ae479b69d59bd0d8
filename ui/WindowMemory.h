// Window position memory, the help display and small control helpers,
// without widgets.
//
// TFormPos (core/Settings.h) keeps where a window was and how large its
// client area was, separately for one and for several monitors, so a
// window comes back where it was on the same desktop layout. Restoring
// keeps it 50 px inside the work area of its monitor.
//
// Help pages are HTML files "help/vl-<topic>.html" in the program folder,
// opened by the opener a GUI program installs (the desktop's browser);
// without one nothing is shown.
#pragma once

#include "core/Settings.h"
#include "ui/ControlState.h"
#include "ui/Placement.h"

#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>

namespace vl {

// What the position memory needs of a window: the top-left corner of its
// frame and the size of its client area, in screen pixels.
class IFormPlacement {
public:
    virtual ~IFormPlacement() = default;
    virtual bool Visible() const = 0;
    virtual QPoint Pos() const = 0;
    virtual void SetPos(QPoint APos) = 0;
    virtual QSize ClientSize() const = 0;
    virtual void SetClientSize(QSize ASize) = 0;
};

// Places and sizes Form from Pos. Monitors lists the monitors, the primary
// one first. With one monitor the single-monitor position is used; with
// several the other one, on the monitor that holds it (else the primary).
// A stored size is applied only on a monitor of the stored dpi; otherwise
// Pos takes the form's size. Pos.wdiff becomes the client width minus w.
void RestoreFormPos(TFormPos &Pos, IFormPlacement &Form, const TMonitorList &Monitors);
// Stores the position and client size of a visible Form.
void StoreFormPos(TFormPos &Pos, const IFormPlacement &Form, int MonitorCount);

// B while a style other than the system style is active, else A.
int ValueForStyle(int A, int B);

// The help page of Topic: ProgramPath + the translatable name
// "help/vl-%s.html" with Topic (an extension ".htm"/".html" dropped, an
// anchor "#..." kept as the URL's fragment, "index" when empty); the
// untranslated name when the translated page does not exist.
QUrl HelpTopicUrl(const QString &Topic);
// Opens the help page of Topic; an error box says "Help is not available
// on this system!" when the page is missing or cannot be opened. Without
// an installed opener nothing happens.
void ShowHelpTopic(const QString &Topic);
// Opens a URL in the desktop's viewer; false when that failed.
using THelpOpener = std::function<bool(const QUrl &AUrl)>;
void SetHelpOpener(THelpOpener AOpener);

// Waits N seconds in steps of 100 ms, processing the program's messages
// after each step.
void WaitSeconds(int N);

// One file type of a file dialog.
struct TFileTypeItem {
    QString DisplayName;
    QString FileMask;
    bool operator==(const TFileTypeItem &) const = default;
};
using TFileTypeItems = QList<TFileTypeItem>;
// Items from "name|mask|name|mask..."; an empty Pairs gives one empty item.
void SetFileTypeItems(TFileTypeItems &Items, const QString &Pairs);

// Appends Text to the edit's text (the view puts the caret at the end).
void AppendToEdit(TEditState &Edit, const QString &Text);
// AddComboHistory (ui/History.h) with the combo's drop-down length.
void AddToComboHistory(TComboBoxState &Combo, const QString &Text);
// AddToComboHistory with the combo's current text.
void UpdateComboHistory(TComboBoxState &Combo);

} // namespace vl
