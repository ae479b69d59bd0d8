// Light and dark window styles, without widgets.
//
// The light style is the one active at start (the desktop's own look); the
// dark style is Fusion with a dark palette. This module remembers both,
// decides which one a setting selects, reads the desktop's dark preference
// from the portal, and hands out the active style's colours for controls
// that paint themselves. The Qt view installs a TStyleManager that reports
// and switches the application's style and applies DarkPalette(); without
// one (headless runs) the start style stays active and nothing switches.
//
// Used from the GUI thread only.
#pragma once

#include "core/WindowServices.h"

#include <QDBusConnection>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <span>

namespace vl {

// Our names for the two styles a view knows. The system style is the look
// the desktop gave the application at start.
inline const QString kSystemStyleName = QStringLiteral("System");
inline const QString kDarkStyleName = QStringLiteral("Fusion Dark");

// Colours in TColor form (0x00BBGGRR).
constexpr TColor RGBColor(uint8_t R, uint8_t G, uint8_t B)
{
    return TColor(uint32_t(R) | uint32_t(G) << 8 | uint32_t(B) << 16);
}
// System colours: high byte 0xFF, low byte the system colour index.
constexpr TColor SystemColor(uint8_t Index)
{
    return TColor(0xFF000000u | Index);
}
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clGrayText = SystemColor(17);
inline constexpr TColor clBtnText = SystemColor(18);
inline constexpr TColor clBtnHighlight = SystemColor(20);
inline constexpr TColor clInfoText = SystemColor(23);
inline constexpr TColor clInfoBk = SystemColor(24);
inline constexpr TColor clHotLight = SystemColor(26);

// Style elements whose background colour self-painting controls ask for.
enum class TStyleColor : uint8_t {
    scWindow, scPanel, scPanelDisabled, scEdit, scEditDisabled, scComboBox, scComboBoxDisabled,
    scListBox, scButtonNormal, scGrid, scBorder
};
// Style elements whose text colour self-painting controls ask for.
enum class TStyleFont : uint8_t {
    sfWindowTextNormal, sfPanelTextNormal, sfPanelTextDisabled, sfEditBoxTextNormal,
    sfEditBoxTextDisabled, sfComboBoxItemNormal, sfComboBoxItemSelected, sfComboBoxItemDisabled,
    sfListItemTextNormal, sfListItemTextSelected, sfButtonTextNormal, sfButtonTextDisabled
};

// One colour of the dark palette: the colour group ("All" sets every
// group, "Disabled" overrides the disabled one afterwards) and the role,
// both spelled as the keys of QPalette's enumerations.
struct TPaletteColor {
    const char *Group;
    const char *Role;
    TColor Color;
};
// The dark style's palette, "All" entries first.
std::span<const TPaletteColor> DarkPalette();

// Reports and switches the application's style; the Qt view implements it
// and names the look it found at start kSystemStyleName.
class TStyleManager {
public:
    virtual ~TStyleManager() = default;
    virtual QString ActiveStyleName() const = 0;
    // Switches to the named style; false with a message when it cannot.
    virtual bool TrySetStyle(const QString &Name, QString &Error) = 0;
    virtual void ShowStyleError(const QString &Message) = 0;
};

// Installs the manager (nullptr: none) and captures its active style as the
// start style; light and dark style both become the start style.
void InstallStyleManager(TStyleManager *Manager);

// The light style stays the start style; the dark style becomes Name.
void SetDarkStyleName(const QString &Name);
QString LightStyleName();
QString DarkStyleName();
// Switches to the dark style when Dark, else to the light one, unless that
// style (compared case-insensitively) is active already.
void ApplyDarkMode(bool Dark);
// True when the desktop prefers a dark look.
bool SystemUsesDarkTheme();
void ApplySystemDarkMode();
// True when a style other than the system style is active.
bool IsVclStyleActive();
QString ActiveStyleName();

// Default under the system style (and under a style without known colours),
// else the active style's colour for the element.
TColor StyledColor(TStyleColor Color, TColor Default);
TColor StyledFontColor(TStyleFont Font, TColor Default);
// A system colour as the active style paints it; anything else, and every
// colour under the system style, unchanged.
TColor StyledSystemColor(TColor Color);
// 0 for equal colours, 255 when exactly one is a special colour, else the
// rounded root of the mean squared byte difference (0..255).
int ColorDistance(TColor A, TColor B);

// The desktop's colour-scheme preference.
enum class TColorScheme : uint8_t { csNoPreference, csPreferDark, csPreferLight };
// Maps the portal's color-scheme value (possibly wrapped in D-Bus variants)
// to a preference; anything but an integer 0, 1 or 2 means no preference.
TColorScheme ColorSchemeFromPortalValue(const QVariant &Value);
// Asks the settings portal on the session bus; no bus, no portal or no
// setting: no preference.
TColorScheme ReadPortalColorScheme();
TColorScheme ReadPortalColorScheme(const QDBusConnection &Bus);
// Replaces the reader SystemUsesDarkTheme asks (nullptr: the portal) and
// returns the previous one.
using TColorSchemeReader = std::function<TColorScheme()>;
TColorSchemeReader SetColorSchemeReader(TColorSchemeReader Reader);

} // namespace vl
