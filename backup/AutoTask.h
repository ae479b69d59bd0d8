// One of the program's own schedule entries: a backup task file bound to a
// start mode, an end behaviour, a priority and an optional alternating
// schedule. The main window owns sixteen of them (BuMainForm().AutoTask);
// a run started by entry n (1..16) finds its schedule in entry n - 1.
// Entry n is stored in the program INI in the section AutoTaskSection(n).
#pragma once

#include "core/DateTime.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace vl {

class TMemIniFile;
class TUnicodeIniFile;

class TAutoTask {
public:
    TAutoTask() { Reset(); }
    // An entry for the task file AName, named after its file name.
    explicit TAutoTask(const QString &AName);

    // The defaults of an unused entry; TaskName and TaskPath stay.
    void Reset();
    bool IsActive() const { return BuProcess != TAutoStart::asNone; }
    // Bit (ISO weekday of dt - 1) of WeekDay.
    bool WeekdayInSchedule(TDateTime dt) const;

    // Reads everything but TaskPath ("Name" is read by whoever creates the
    // entry); values out of range fall back to their defaults.
    void LoadFromIni(const TMemIniFile &IniFile, const QString &Sekt);
    // Replaces the section's values with this entry (a free entry is reset
    // first and written with empty names).
    void SaveToIni(TUnicodeIniFile &IniFile, const QString &Sekt);
    // After a scheduled run: ErrStatus := ExitCode and "ErrorStatus"; when
    // BuSucceeded also the cycle step and the last and next run times.
    void SaveScheduleToIni(TUnicodeIniFile &IniFile, const QString &Sekt, int ExitCode, bool BuSucceeded);

    // The next run in one line ("Today at 20:00"); empty for a free entry.
    QString GetScheduleDesc() const;
    // The alternating schedule in several lines, for the schedules page.
    QString GetScheduleInfo() const;
    // Short code of the alternating schedule for lists ("D7-D", "W8-I2").
    QString GetAltSchedDesc() const;

    TAutoStart BuProcess = TAutoStart::asNone;
    TThreadPriority ThPr = TThreadPriority::tpNormal;
    TInteraction AutoEnd = TInteraction::iaDelay;
    int ErrStatus = 0;
    TSchedule SchedProps;
    uint32_t WeekDay = 127; // bit 0 Monday .. bit 6 Sunday
    bool RunIfMissed = true;
    TDateTime LastTime = 0;        // start of the last run that did not fail
    TDateTime NextTime = 1.0 / 3;  // next due point (meaning by BuProcess)
    QString TaskName;
    QString TaskPath;

private:
    // "LastDate", "LastTime", "BackupDate", "BackupTime".
    void WriteRunTimes(TUnicodeIniFile &IniFile, const QString &Sekt) const;
};

// "AutoTask" + ANr (0..15).
QString AutoTaskSection(int ANr);

// Texts of the choices on the schedules page. The lists hold them in the
// order of the page's combo boxes; the value arrays give the member of
// each combo item.
QString AutoStartText(TAutoStart AMode);
QStringList AutoStartTexts();
QString InteractionText(TInteraction AMode); // empty for iaNone
QStringList InteractionTexts();
inline constexpr std::array<TInteraction, 5> kAutoEndChoices = {
    TInteraction::iaPrompt, TInteraction::iaDelay, TInteraction::iaQuiet, TInteraction::iaErrorPrompt,
    TInteraction::iaQuietError};
QString ThreadPriorityText(TThreadPriority APriority); // empty for the ones not offered
QStringList ThreadPriorityTexts();
inline constexpr std::array<TThreadPriority, 4> kPriorityChoices = {
    TThreadPriority::tpNormal, TThreadPriority::tpLowest, TThreadPriority::tpLower, TThreadPriority::tpHigher};
QString SchedModeText(TSchedMode AMode);
QStringList SchedModeTexts();

} // namespace vl
