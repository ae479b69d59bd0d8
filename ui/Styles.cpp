#include "ui/Styles.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>

#include <cmath>
#include <cstring>
#include <utility>

namespace vl {

namespace {

struct TStyleState {
    TStyleManager *Manager = nullptr;
    QString StartStyle = kSystemStyleName;
    QString LightStyle = kSystemStyleName;
    QString DarkStyle = kSystemStyleName;
    TColorSchemeReader Reader;
};

TStyleState &State()
{
    static TStyleState state;
    return state;
}

const TPaletteColor kDarkPalette[] = {
    {"All", "Window", RGBColor(53, 53, 53)},
    {"All", "WindowText", RGBColor(255, 255, 255)},
    {"All", "Base", RGBColor(42, 42, 42)},
    {"All", "AlternateBase", RGBColor(66, 66, 66)},
    {"All", "ToolTipBase", RGBColor(66, 66, 66)},
    {"All", "ToolTipText", RGBColor(255, 255, 255)},
    {"All", "PlaceholderText", RGBColor(127, 127, 127)},
    {"All", "Text", RGBColor(255, 255, 255)},
    {"All", "Button", RGBColor(53, 53, 53)},
    {"All", "ButtonText", RGBColor(255, 255, 255)},
    {"All", "BrightText", RGBColor(255, 0, 0)},
    {"All", "Light", RGBColor(80, 80, 80)},
    {"All", "Midlight", RGBColor(66, 66, 66)},
    {"All", "Mid", RGBColor(45, 45, 45)},
    {"All", "Dark", RGBColor(35, 35, 35)},
    {"All", "Shadow", RGBColor(20, 20, 20)},
    {"All", "Link", RGBColor(42, 130, 218)},
    {"All", "Highlight", RGBColor(42, 130, 218)},
    {"All", "HighlightedText", RGBColor(255, 255, 255)},
    {"Disabled", "WindowText", RGBColor(127, 127, 127)},
    {"Disabled", "Text", RGBColor(127, 127, 127)},
    {"Disabled", "ButtonText", RGBColor(127, 127, 127)},
    {"Disabled", "Base", RGBColor(53, 53, 53)},
    {"Disabled", "Highlight", RGBColor(80, 80, 80)},
    {"Disabled", "HighlightedText", RGBColor(127, 127, 127)},
};

// A palette role's colour; a disabled role falls back to "All".
TColor DarkColor(const char *Role, bool Disabled = false)
{
    TColor found = clWindow;
    for (const TPaletteColor &c : kDarkPalette)
        if (std::strcmp(c.Role, Role) == 0
            && (std::strcmp(c.Group, "All") == 0 || (Disabled && std::strcmp(c.Group, "Disabled") == 0)))
            found = c.Color;
    return found;
}

bool DarkStyleActive()
{
    return ActiveStyleName().compare(kDarkStyleName, Qt::CaseInsensitive) == 0;
}

bool IsSpecialColor(TColor C)
{
    return (uint32_t(C) & 0xFF000000u) != 0;
}

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalSettings = QStringLiteral("org.freedesktop.portal.Settings");
// A missing portal can take the bus a while to give up on; a start-up
// should not wait longer than this for a colour preference.
constexpr int kPortalTimeoutMs = 1500;

} // namespace

std::span<const TPaletteColor> DarkPalette()
{
    return kDarkPalette;
}

void InstallStyleManager(TStyleManager *Manager)
{
    TStyleState &s = State();
    s.Manager = Manager;
    s.StartStyle = Manager ? Manager->ActiveStyleName() : kSystemStyleName;
    s.LightStyle = s.StartStyle;
    s.DarkStyle = s.StartStyle;
}

void SetDarkStyleName(const QString &Name)
{
    TStyleState &s = State();
    s.LightStyle = s.StartStyle;
    s.DarkStyle = Name;
}

QString LightStyleName()
{
    return State().LightStyle;
}

QString DarkStyleName()
{
    return State().DarkStyle;
}

QString ActiveStyleName()
{
    const TStyleState &s = State();
    return s.Manager ? s.Manager->ActiveStyleName() : s.StartStyle;
}

void ApplyDarkMode(bool Dark)
{
    TStyleState &s = State();
    const QString target = Dark ? s.DarkStyle : s.LightStyle;
    if (!s.Manager || ActiveStyleName().compare(target, Qt::CaseInsensitive) == 0)
        return;
    QString error;
    if (!s.Manager->TrySetStyle(target, error))
        s.Manager->ShowStyleError(error);
}

bool SystemUsesDarkTheme()
{
    const TStyleState &s = State();
    const TColorScheme scheme = s.Reader ? s.Reader() : ReadPortalColorScheme();
    return scheme == TColorScheme::csPreferDark;
}

void ApplySystemDarkMode()
{
    ApplyDarkMode(SystemUsesDarkTheme());
}

bool IsVclStyleActive()
{
    return ActiveStyleName().compare(kSystemStyleName, Qt::CaseInsensitive) != 0;
}

TColor StyledColor(TStyleColor Color, TColor Default)
{
    if (!DarkStyleActive())
        return Default;
    switch (Color) {
    case TStyleColor::scWindow:
    case TStyleColor::scPanel:
    case TStyleColor::scButtonNormal: return DarkColor("Window");
    case TStyleColor::scPanelDisabled: return DarkColor("Window", true);
    case TStyleColor::scEdit:
    case TStyleColor::scComboBox:
    case TStyleColor::scListBox:
    case TStyleColor::scGrid: return DarkColor("Base");
    case TStyleColor::scEditDisabled:
    case TStyleColor::scComboBoxDisabled: return DarkColor("Base", true);
    case TStyleColor::scBorder: return DarkColor("Dark");
    }
    return Default;
}

TColor StyledFontColor(TStyleFont Font, TColor Default)
{
    if (!DarkStyleActive())
        return Default;
    switch (Font) {
    case TStyleFont::sfWindowTextNormal:
    case TStyleFont::sfPanelTextNormal: return DarkColor("WindowText");
    case TStyleFont::sfPanelTextDisabled: return DarkColor("WindowText", true);
    case TStyleFont::sfEditBoxTextNormal:
    case TStyleFont::sfComboBoxItemNormal:
    case TStyleFont::sfListItemTextNormal: return DarkColor("Text");
    case TStyleFont::sfEditBoxTextDisabled:
    case TStyleFont::sfComboBoxItemDisabled: return DarkColor("Text", true);
    case TStyleFont::sfComboBoxItemSelected:
    case TStyleFont::sfListItemTextSelected: return DarkColor("HighlightedText");
    case TStyleFont::sfButtonTextNormal: return DarkColor("ButtonText");
    case TStyleFont::sfButtonTextDisabled: return DarkColor("ButtonText", true);
    }
    return Default;
}

TColor StyledSystemColor(TColor Color)
{
    if (!DarkStyleActive() || (uint32_t(Color) & 0xFF000000u) != 0xFF000000u)
        return Color;
    switch (Color) {
    case clWindow: return DarkColor("Base");
    case clWindowText: return DarkColor("Text");
    case clHighlight: return DarkColor("Highlight");
    case clHighlightText: return DarkColor("HighlightedText");
    case clBtnFace: return DarkColor("Button");
    case clBtnShadow: return DarkColor("Dark");
    case clGrayText: return DarkColor("Text", true);
    case clBtnText: return DarkColor("ButtonText");
    case clBtnHighlight: return DarkColor("Light");
    case clInfoText: return DarkColor("ToolTipText");
    case clInfoBk: return DarkColor("ToolTipBase");
    case clHotLight: return DarkColor("Link");
    default: return Color;
    }
}

int ColorDistance(TColor A, TColor B)
{
    if (A == B)
        return 0;
    if (IsSpecialColor(A) != IsSpecialColor(B))
        return 255;
    double sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = int((uint32_t(A) >> shift) & 0xFF) - int((uint32_t(B) >> shift) & 0xFF);
        sum += double(d) * d;
    }
    return int(std::lround(std::sqrt(sum / 3)));
}

TColorScheme ColorSchemeFromPortalValue(const QVariant &Value)
{
    QVariant v = Value;
    // ReadOne answers a variant, the older Read a variant in a variant.
    while (v.metaType() == QMetaType::fromType<QDBusVariant>())
        v = qvariant_cast<QDBusVariant>(v).variant();
    switch (v.metaType().id()) {
    case QMetaType::UInt:
    case QMetaType::Int:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::Short:
    case QMetaType::ULongLong:
    case QMetaType::LongLong: break;
    default: return TColorScheme::csNoPreference;
    }
    switch (v.toLongLong()) {
    case 1: return TColorScheme::csPreferDark;
    case 2: return TColorScheme::csPreferLight;
    default: return TColorScheme::csNoPreference;
    }
}

TColorScheme ReadPortalColorScheme()
{
    return ReadPortalColorScheme(QDBusConnection::sessionBus());
}

TColorScheme ReadPortalColorScheme(const QDBusConnection &Bus)
{
    QDBusConnection bus = Bus;
    if (!bus.isConnected())
        return TColorScheme::csNoPreference;
    for (const char *method : {"ReadOne", "Read"}) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalSettings, QLatin1String(method));
        call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
        const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return reply.arguments().isEmpty() ? TColorScheme::csNoPreference
                                               : ColorSchemeFromPortalValue(reply.arguments().first());
        // Only an older portal without ReadOne deserves a second question.
        if (reply.type() != QDBusMessage::ErrorMessage
            || QDBusError(reply).type() != QDBusError::UnknownMethod)
            break;
    }
    return TColorScheme::csNoPreference;
}

TColorSchemeReader SetColorSchemeReader(TColorSchemeReader Reader)
{
    return std::exchange(State().Reader, std::move(Reader));
}

} // namespace vl
