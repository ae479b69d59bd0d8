// The main program's command line: argument files, the pre-scan that
// classifies the arguments before any window exists, and the full parse
// into the main window's fields.
//
// Switches start with "/" or "-" (core/CommandLine.h tells them from paths)
// and may be cut to any leading part; the first keyword of
// kSwitchKeywords that matches wins. Both passes use that one table, so the
// pre-scan classifies every argument exactly as the full parse does.
// "@file" names an argument file with one switch or task name per line.
#pragma once

#include "core/DateTime.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"
#include "ui/TimeSlotDialog.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace vl {

// ---- Switches -------------------------------------------------------------------

enum class TSwitch : uint8_t {
    swNone, swPortable, swEnd, swSuspend, swSched, swStartApp, swSpeed, swIni, swZipName, swTaskDir,
    swBackupDir, swDirectory, swTempDir, swDelay, swTimeSlot, swGap, swStatus, swWait, swXInst, swMode,
    swLang, swLogMode, swLogDir, swNoAction, swErrActions, swEdit, swPrompt, swQuiet, swHide, swNoSound,
    swNoUpdate, swDark, swNoScale, swStay, swDisable, swParallel, swUser, swAuto, swShowLog, swForce,
    swClean, swVerify, swRestore, swReplDrive, swRetain, swReset, swElevate
};

struct TSwitchKeyword {
    const char *Keyword;
    bool WithValue; // "key:value"
    TSwitch Switch;
};

// The switch that Text (an argument without its prefix character) names,
// swNone when none; Value receives the text after the first ":" of a
// "key:value" switch. "elevate" comes last: only the pre-scan acts on it.
TSwitch MatchSwitch(const QString &Text, QString &Value);

// ---- Start-up state and pre-scan ------------------------------------------------

// Pre-scan flags.
inline constexpr uint8_t kPreScanBatch = 0x01;      // no single-instance handling
inline constexpr uint8_t kPreScanAuto = 0x02;       // automatic start (logon)
inline constexpr uint8_t kPreScanOwnIni = 0x04;     // own settings file
inline constexpr uint8_t kPreScanStartBackup = 0x08; // a later instance runs the backup itself
inline constexpr uint8_t kPreScanEnd = 0x10;        // batch start ending with an after-run action
inline constexpr uint8_t kPreScanEdit = 0x20;       // start in the task editor
inline constexpr uint8_t kPreScanElevate = 0x40;    // restart with administrator rights

// Cleared when an argument file is missing; the full parse then does
// nothing. Only the first missing file shows a box.
extern bool CmdLineValid;

// The lines of an argument file joined by "|": each cut at its first ";",
// trimmed, empty ones left out. A name that does not exist and is not
// absolute is taken from the program folder. A missing file gives an empty
// text, an error box (while CmdLineValid still holds) and clears
// CmdLineValid.
QString ReadArgumentFile(const QString &FileName);
// Args with every "@file" replaced by the entries of its file, in order.
QStringList ExpandArgumentFiles(const QStringList &Args);

// The flags of one argument (added to Flags); the argument itself, or empty
// for "elevate".
QString PreScanArgument(const QString &Arg, uint8_t &Flags);
// The flags of all arguments (argument files expanded). Joined receives
// every argument except "elevate", each preceded by one blank, unquoted.
uint8_t PreScanCommandLine(const QStringList &Args, QString &Joined);
// The first non-empty argument that is neither a switch nor "@file"; empty
// when there is none. Argument files are not looked into.
QString FirstTaskArgument(const QStringList &Args);

// ---- Value parsers --------------------------------------------------------------

// The first eight characters as yyyymmdd; they are removed from Text in any
// case. False when a part is no number or the date is invalid.
bool ParseDate8(QString &Text, TDateTime &Date);
// A time slot: [C|B] then a date (span: two dates with one separator),
// "+date", "-date", "Tdate", "Dn", "On", "U", anything else asks at the
// start. Period starts from tmOff, yesterday to today, 06:00, one day.
void ParseTimePeriod(const QString &Value, TTimePeriod &Period);
// Gives a number from 1 to Max.
using TRandomSource = std::function<int(int Max)>;
// Seconds: leading digits, "m" within the next two characters for minutes,
// "r" for a random delay of 1 up to that value.
int ParseStartDelay(const QString &Value, const TRandomSource &Random = {});

// ---- Full parse -----------------------------------------------------------------

// The main window's fields that the command line sets, with their values
// before the parse.
struct TMainCommandLine {
    QString IniName, DirName, LDir, TDir, AltZip, SubDir, SDir, ReplSDrv, User, Pwd, CmdTasks;
    bool IsPortable = false, LockDown = false, DoEdit = false, NoSplash = false, UseDarkMode = false,
         StayRun = false, NoAutoMenu = false, BuParallel = false, ResetForm = false;
    bool StartTask = false, ProtTask = false, ForceTask = false, CleanTask = false, VerifyTask = false,
         RestTask = false;
    bool SoundOn = true, UpdateCheck = true, AllowAction = true, DelTemp = true;
    TDownMode LogOffMode = TDownMode::dmNone;
    TSuspendMode SuspendMode = TSuspendMode::smNone;
    TThreadPriority BuThPr = TThreadPriority::tpNormal;
    TStatusStyle StatusStyle = TStatusStyle::ssDefault;
    TInteraction InterActiveMode = TInteraction::iaNone;
    int StartDelay = 0;
    int Wt = -1;  // seconds; -1 not given
    int Pm = -1;  // log mode; -1 not given
    int VlInstance = 0;
    int BuM = 0;  // backup mode; 0 not given
    uint32_t NoActionOnError = 0;
    TTimePeriod tp{TTimeMode::tmOff};
    // The application's tag: 1 keeps windows at their design size.
    int AppTag = 0;
    // Random source of "delay:"; empty for the process-wide generator.
    TRandomSource Random;

    // Every argument in order, argument files expanded; nothing at all
    // when CmdLineValid is false or becomes false while the files are read.
    // "sched" and "startapp:" set the program-wide StartedBy.
    void ParseCommandLine(const QStringList &Args);
    // One argument: a switch, or a task name appended to CmdTasks (quoted
    // when it holds a blank, a comma or a quote, inner quotes doubled; items
    // separated by ",").
    void ParseArgument(const QString &Arg);
};

} // namespace vl
