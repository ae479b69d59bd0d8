// Two small windows that show lists, without widgets:
// - TListSelectDialog: a borderless popup list at a screen point; a click
//   on an entry reports the number stored with it and closes the popup;
//   losing the focus closes it too;
// - TShowStringListDialog: a list shown modally with a description, a
//   status line and a Close button, or kept open as a status list that a
//   run appends lines to.
// Both are shown through the installed IListDialogViews.
#pragma once

#include "core/WindowServices.h"
#include "ui/ControlState.h"
#include "ui/DialogLogic.h"
#include "ui/ListItemsState.h"
#include "ui/Placement.h"
#include "ui/StringList.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace vl {

// Receives the number stored with the chosen entry.
using TOnSelect = std::function<void(int AIndex)>;

class TListSelectDialog {
public:
    // Height of one entry in pixels.
    static constexpr int kItemHeight = 17;
    // Background of the selected entry (TColor, 0x00BBGGRR).
    static constexpr TColor kSelectedColor = 0xF0CAA6;

    TListSelectDialog();

    // The popup itself: visible while shown.
    TControlState Form;
    // Entries with their numbers as objects; sorted unless Sorted is off.
    TListItemsState lbSelect;

    TOnSelect OnSelect;
    // The smallest client width of the popup (0: none).
    int Width() const { return FWidth; }
    void SetWidth(int AValue) { FWidth = AValue; }
    TColor BakColor() const { return FBakColor; }
    void SetBakColor(TColor AValue);
    bool Sorted() const { return FSorted; }
    void SetSorted(bool AValue);

    void Clear();
    // Copies the entries with their numbers (int objects); selects AIndex
    // when it is >= 0.
    void Assign(const TStringList &AItems, int AIndex);
    // Appends the entries with Prefix in front, without numbers.
    void AddList(const QStringList &AItems, const QString &Prefix);
    // Appends an entry numbered with its own position in the list.
    void Add(const QString &AItem);
    void AddItem(const QString &AItem, int AIndex);
    QString GetItem(int Index) const { return lbSelect.Strings(Index); }
    // The number stored with an entry (-1: none).
    int ItemNumber(int Index) const;

    // Shows the popup at APos; nothing when the list is empty. AHeight,
    // when not 0 and below the height of all entries, limits the height.
    void ShowList(QPoint APos, int AHeight);
    // Client size for the entries measured with TextWidth.
    QSize ClientSize(const TTextWidthFunc &TextWidth, int AHeight) const;

    // The user clicked an entry: OnSelect gets its number, the popup
    // closes.
    void UserClick(int ARow);
    // The popup lost the focus.
    void Deactivate();

private:
    int Insert(const QString &AText, const QVariant &ANumber);

    int FWidth = 0;
    TColor FBakColor = TColor(0xFFFFFF);
    bool FSorted = true;
};

enum class TStatusListPos { spCenter, spTopLeft, spTopRight, spBottomLeft, spBottomRight };

class TShowStringListDialog : public TDialogLogic {
public:
    TShowStringListDialog();

    TControlState laDesc;
    TListBoxState lbStrings;
    TControlState paBottom;
    TControlState laStatus;
    TButtonState CancelBtn;

    // Shows the list modally with the Close button.
    void Execute(QPoint APos, const QString &Titel, const QString &Desc, const QString &Status,
                 const QStringList &StrList);
    void Execute(QPoint APos, const QString &Titel, const QString &Desc, const QStringList &StrList);
    // Opens an empty status list without the Close button, non-modally, at
    // the corner APos names.
    void ShowList(TStatusListPos APos, const QString &Titel, const QString &Desc);
    void AddListItem(const QString &s);
    void CloseLIst();

    // Where the status list opens.
    TStatusListPos StatusPos() const { return FStatusPos; }
    // Top-left corner of a window of WindowSize for APos: the corners keep
    // 5 px from the edges of a work area of WorkArea's size that starts at
    // Origin, the top-left corner of the primary screen's work area (so
    // panels at the top or left do not cover the window); spCenter centres
    // it on Screen.
    static QPoint StatusListOrigin(TStatusListPos APos, QSize WindowSize, QSize WorkArea, QPoint Origin,
                                   QRect Screen);

private:
    TStatusListPos FStatusPos = TStatusListPos::spCenter;
};

// The one string-list window of the program, created on first use.
void ShowStrings(QPoint APos, const QString &Titel, const QString &Desc, const QString &Status,
                 const QStringList &StrList);
void ShowStrings(QPoint APos, const QString &Titel, const QString &Desc, const QStringList &StrList);
void OpenStatusList(TStatusListPos APos, const QString &Titel, const QString &Desc);
// Nothing until the window exists.
void AddStatusListLine(const QString &Text);
void CloseStatusList();
// The window, nullptr before its first use.
TShowStringListDialog *StringListWindow();

} // namespace vl
