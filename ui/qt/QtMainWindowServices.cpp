#include "ui/qt/QtMainWindowServices.h"

#include <QDBusConnection>
#include <QVariantMap>

namespace vl {

QDBusMessage LauncherEntryMessage(int32_t State, uint32_t Position, uint32_t MaxValue)
{
    QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/velkor/LauncherEntry"),
                                                      QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                      QStringLiteral("Update"));
    QVariantMap properties;
    const bool visible = State == tbsNormal || State == tbsPaused;
    properties.insert(QStringLiteral("progress-visible"), visible);
    if (visible && MaxValue > 0)
        properties.insert(QStringLiteral("progress"), std::min(1.0, double(Position) / double(MaxValue)));
    message << kLauncherAppUri << properties;
    return message;
}

void TQtMainWindowServices::SetTaskBarState(int32_t State)
{
    if (State == FState)
        return;
    FState = State;
    Send();
}

void TQtMainWindowServices::UpdateTaskBar(uint32_t Position, uint32_t MaxValue)
{
    if (Position == FPosition && MaxValue == FMax)
        return;
    FPosition = Position;
    FMax = MaxValue;
    if (FState == tbsNormal || FState == tbsPaused)
        Send();
}

void TQtMainWindowServices::Send()
{
    // No failure is reported: the entry is a courtesy of the desktop.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.send(LauncherEntryMessage(FState, FPosition, FMax));
}

} // namespace vl
