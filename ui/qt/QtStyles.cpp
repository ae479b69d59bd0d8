#include "ui/qt/QtStyles.h"

#include "core/MessageService.h"
#include "core/Translate.h"

#include <QApplication>
#include <QMetaEnum>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

namespace vl {

namespace {

bool IsDarkName(const QString &AName)
{
    return AName.startsWith(QStringLiteral("Fusion"), Qt::CaseInsensitive);
}

} // namespace

TQtStyleManager::TQtStyleManager()
    : FStartStyle(QApplication::style() ? QApplication::style()->name() : QString()),
      FStartPalette(QApplication::palette()),
      FActive(kSystemStyleName)
{
}

bool TQtStyleManager::TrySetStyle(const QString &Name, QString &Error)
{
    if (Name.compare(kSystemStyleName, Qt::CaseInsensitive) == 0) {
        if (!FStartStyle.isEmpty())
            QApplication::setStyle(FStartStyle);
        QApplication::setPalette(FStartPalette);
        FActive = kSystemStyleName;
        return true;
    }
    if (!IsDarkName(Name)) {
        Error = TrDomain(kDialogsDomain, "Unknown style: %1").arg(Name);
        return false;
    }
    QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    if (!fusion) {
        Error = TrDomain(kDialogsDomain, "Style not available: %1").arg(Name);
        return false;
    }
    QApplication::setStyle(fusion);
    QApplication::setPalette(MakeDarkPalette());
    FActive = Name;
    return true;
}

void TQtStyleManager::ShowStyleError(const QString &Message)
{
    ShowErrorBox(Message, 0);
}

QPalette MakeDarkPalette()
{
    QPalette palette;
    const QMetaEnum groups = QMetaEnum::fromType<QPalette::ColorGroup>();
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    for (const TPaletteColor &entry : DarkPalette()) {
        bool ok = false;
        const int role = roles.keyToValue(entry.Role, &ok);
        if (!ok)
            continue;
        const QColor colour = ToQColor(entry.Color, palette);
        if (qstrcmp(entry.Group, "All") == 0) {
            palette.setColor(QPalette::ColorRole(role), colour);
        } else {
            const int group = groups.keyToValue(entry.Group, &ok);
            if (ok)
                palette.setColor(QPalette::ColorGroup(group), QPalette::ColorRole(role), colour);
        }
    }
    return palette;
}

QColor ToQColor(TColor AColor, const QPalette &APalette)
{
    const uint32_t value = uint32_t(AColor);
    if ((value & 0xFF000000u) == 0)
        return QColor(int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF));
    switch (AColor) {
    case clWindow:
        return APalette.color(QPalette::Base);
    case clWindowText:
        return APalette.color(QPalette::Text);
    case clHighlight:
        return APalette.color(QPalette::Highlight);
    case clHighlightText:
        return APalette.color(QPalette::HighlightedText);
    case clBtnShadow:
        return APalette.color(QPalette::Dark);
    case clGrayText:
        return APalette.color(QPalette::Disabled, QPalette::Text);
    case clBtnText:
        return APalette.color(QPalette::ButtonText);
    case clBtnHighlight:
        return APalette.color(QPalette::Light);
    case clInfoText:
        return APalette.color(QPalette::ToolTipText);
    case clInfoBk:
        return APalette.color(QPalette::ToolTipBase);
    case clHotLight:
        return APalette.color(QPalette::Link);
    case clBtnFace:
    default:
        return APalette.color(QPalette::Button);
    }
}

TMonitorList CurrentMonitors()
{
    TMonitorList monitors;
    const QList<QScreen *> screens = QGuiApplication::screens();
    // The primary screen first, as monitor lists start with it.
    if (QScreen *primary = QGuiApplication::primaryScreen())
        monitors.append(TMonitorArea{primary->availableGeometry(), DesignDpi});
    for (QScreen *screen : screens)
        if (screen != QGuiApplication::primaryScreen())
            monitors.append(TMonitorArea{screen->availableGeometry(), DesignDpi});
    return monitors;
}

} // namespace vl
