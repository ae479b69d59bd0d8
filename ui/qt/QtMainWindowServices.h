// Main-window services of a program with a display. The task-bar entry's
// progress goes out as a launcher-entry signal on the session bus, which
// docks and task bars of Linux desktops show on the program's icon; where
// nobody listens, the signal is simply not seen.
#pragma once

#include "core/WindowServices.h"

#include <QDBusMessage>
#include <QString>

namespace vl {

// The desktop file that names the program for launcher entries.
inline const QString kLauncherAppUri = QStringLiteral("application://velkor.desktop");

// The launcher-entry signal for a task-bar state (tbs...) and a progress of
// Position of MaxValue: progress shown for tbsNormal and tbsPaused, none
// for tbsNoProgress, the last value kept for tbsIndeterminate.
QDBusMessage LauncherEntryMessage(int32_t State, uint32_t Position, uint32_t MaxValue);

// The program shell sets the switches it was started with.
class TQtMainWindowServices : public IMainWindowServices {
public:
    void SetTaskBarState(int32_t State) override;
    void UpdateTaskBar(uint32_t Position, uint32_t MaxValue) override;
    bool SoundOn() const override { return FSoundOn; }
    int32_t VlInstance() const override { return FInstance; }
    bool IdleBackup() const override { return FIdleBackup; }
    bool NoScaling() const override { return FNoScaling; }

    void SetSoundOn(bool AValue) { FSoundOn = AValue; }
    void SetVlInstance(int32_t AValue) { FInstance = AValue; }
    void SetIdleBackup(bool AValue) { FIdleBackup = AValue; }
    void SetNoScaling(bool AValue) { FNoScaling = AValue; }

private:
    void Send();

    int32_t FState = tbsNoProgress;
    uint32_t FPosition = 0;
    uint32_t FMax = 0;
    bool FSoundOn = true;
    int32_t FInstance = 0;
    bool FIdleBackup = false;
    bool FNoScaling = false;
};

} // namespace vl
