// What every program of the suite shares about settings and runs: the global
// settings record with its sub-records and built-in defaults, the small
// records of security copies, window placement, dates and schedules, the
// program-wide enumerations and variables, and the date and time format
// strings chosen from the user's locale.
//
// Where a value is stored in an INI or task file, the enumeration's ordinal
// is stored; sets are stored as bit masks (bit n = member n).
#pragma once

#include "core/DateTime.h"

#include <QChar>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <initializer_list>

namespace vl {

// A set of enumeration members, bit n standing for member n.
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Include(m);
    }
    static constexpr TEnumSet FromBits(uint32_t bits)
    {
        TEnumSet s;
        s.FBits = bits;
        return s;
    }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr void Include(E m) { FBits |= Bit(m); }
    constexpr void Exclude(E m) { FBits &= ~Bit(m); }
    constexpr bool operator==(const TEnumSet &) const = default;

private:
    static constexpr uint32_t Bit(E m) { return uint32_t(1) << unsigned(m); }
    uint32_t FBits = 0;
};

// ---- Enumerations ----------------------------------------------------------

// Where the security copies of a task go.
enum class TSecDirMode { sdNone, sdSubDir, sdSepDir, sdRootDir, sdRootDate, sdRootDrive };
enum class TSecSelection { ssDirs, ssFiles };
using TSecSelections = TEnumSet<TSecSelection>;
// Which task kind asks for security-copy settings.
enum class TAction { taRestore, taVerify, taCleanup };
// Action at program end.
enum class TDownMode { dmNone, dmPowerOff, dmShutdown, dmLogOff, dmRestart, dmIdleOff, dmHybrid };
enum class TSuspendMode { smNone, smStandby, smHibernate };
// How unattended a run is.
enum class TInteraction { iaPrompt, iaDelay, iaQuiet, iaErrorPrompt, iaQuietError, iaNone };
// Placement of the progress window.
enum class TStatusStyle { ssDefault, ssNormal, ssOnTop, ssBehind };
// The file types of a source are included or excluded.
enum class TIncludeMode { buInclude, buExclude };
// Caption kind of the task editor.
enum class TACaptionType { ctNew, ctNewTask, ctBuTask };
// Editing state of a task.
enum class TEditStatus { esNew, esChanged, esSaved };
// File size limit.
enum class TSizeMode { szAll, szSmaller, szLarger, szBetween };
// Kind of the program's own schedule.
enum class TAutoStart { asNone, asLogon, asDaily, asDailyAt, asLogoff, asWeekly, asWeekDay, asByRequest };
// Status of a running backup.
enum class TBuStatus { bsOK, bsCanceled, bsCancelAll, bsFull, bsBroken };
// Result of a run and the action after it.
enum class TBuResult { brOK, brShutdown, brLogOff, brStandby, brHibernate, brError, brWait, brRepeat };
// Replacement of characters in names.
enum class TCharRepl { cpNot, cpSimple };
// Where the program INI lives: the default settings folder, the folder of
// the registry value IniPath, or a file named on the command line.
enum class TIniLoc { ilNormal, ilRegistry, ilCommand };
// File system of a source or destination.
enum class TFileSystem { fsNotAvail, fsNtfs, fsExtFat, fsLtfs, fsRemote, fsReFS, fsBTRFS, fsCryptomat, fsExt4, fsFat };
// Alternating full, differential and incremental runs.
enum class TSchedMode { smNormal, smDiff, smIncr, smDiff2, smIncr2 };
enum class TWindowAction { waDefPos, waChangeSize, waToolTips };
using TWindowActions = TEnumSet<TWindowAction>;

// ---- Small records ---------------------------------------------------------

// A fixed or relative date. Mode: unit 1 day, 2 week, 3 month, 4 year;
// Auto: 1 on demand, 2 at start.
struct TDateSelection {
    int Mode = 0;
    int Count = 0;
    int Auto = 0;
    TDateTime Date = 0;
};

struct TSchedule {
    int StepMode = 0;
    int LastZyk = 0;
    int AktZyk = 0;
    int WeekZyk = 0;
    int NumZyk = 0;
    int FullZyk = 0;
    TSchedMode SchedMode = TSchedMode::smNormal;
};

// Saved window placement.
struct TFormPos {
    int xprim = 0, xmult = 0, yprim = 0, ymult = 0;
    int w = 0, h = 0, wdiff = 0, dpi = 0;
};

// Security copies of one task.
struct TSecSettings {
    TSecDirMode DirMode = TSecDirMode::sdNone;
    QString DirPrefix;
    QString DirSuffix;
    QString FileSuffix;
    int MaxHist = 0;
    int MinHist = 0;
    int AgeInWeeks = 0;
    TSecSelections Selection;
    QChar BDateSeparator; // null when there is none

    // BDateSeparator := the character right after the first "%bdate%" of
    // FileSuffix (case ignored), provided at least one more character
    // follows it; else the null character.
    void GetBDateSeparator();
};

// ---- Printer settings of the text viewer -----------------------------------

enum class TPrinterOrientation { poPortrait, poLandscape };
enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TEnumSet<TFontStyle>; // one byte in the INI

struct TPrintMargins {
    int Left = 0, Top = 0, Right = 0, Bottom = 0; // in 0.1 mm
};

struct TPrinterSettings {
    QString PrtName; // empty: the default printer
    TPrintMargins Margins;
    int Feed = 0;
    QString FontName;
    int FontSize = 0; // points
    TFontStyles FontStyle;
    TPrinterOrientation Orientation = TPrinterOrientation::poPortrait;

    // No printer, margins left 200, top 150, right 100, bottom 150,
    // "Courier New" 10 pt without style, portrait; Feed unchanged.
    void Init();
};

// ---- The global settings record --------------------------------------------

struct TVlCopySettings {
    QString NoCompress; // comma list of extensions stored without compression
    int CompMode = 0;   // 0 none, 1 zip, 2 gz
    int BufferSize = 0; // bytes
    int FTPBufferSize = 0;
};

// Default names of security copies: of files replaced by a backup (Bak...)
// and of files removed by synchronisation (Sync...).
struct TVlSecCopySettings {
    QString BakPrefix, SyncPrefix, BakSuffix, SyncSuffix;
};

struct TVlViewSettings {
    TWindowActions WindowActions;
    bool SizeProgress = false;
    bool InstantShowTask = false;
    bool StatusOnTop = false;
    bool PlaySound = false;
    bool ShowNotifications = false;
    bool ShowToolTips = false;
    bool DarkMode = false;
    int AutoWaitTime = 0; // s until a message of an unattended run closes
    int ComBgCol = 0;     // colours of task comments (0x00BBGGRR)
    int ComFgCol = 0;
    QString CustomCols;   // custom colours of the colour dialog
};

struct TProxyParams {
    bool UseProxy = false;
    QString Server;
    QString Username;
    QString Password;
    int Port = 0;
};

struct TVlStartSettings {
    bool NoSplashScreen = false;
    bool FailNotification = false;
    bool ScanOnStart = false;
    bool UpdateChg = false;
    bool CheckUpdates = false;
    TProxyParams ProxySettings;
    int StartupDelay = 0; // s
};

struct TVlShutdownSettings {
    TDownMode DownMode = TDownMode::dmNone;
    bool LockComputer = false;
    int ShutdownDelay = 0; // s
};

// LogMode bits: 0-1 level (0 off, 1 short, 2 long, 3 verbose); $4 warnings
// and detailed errors (short) or skipped files (long); $8 log during
// verification, $10 restore, $20 cleanup; $40 print after a backup; $100
// delete previous entries; $200 task-specific log file.
struct TVlLogSettings {
    int LogMode = 0;
    int LogSize = 0; // kB
    bool DecimalSizes = false; // byte sizes in steps of 1000, not 1024
    QString MailLogPrefix;
    TDateSelection LogDelSettings;
};

struct TVlOtherSettings {
    QString DefaultTask;
    QString DefDriveId; // mask of drive subfolder names
    int MinPwdLength = 0;
    int MaxWaitTime = 0; // s
    bool ContextMenu = false;
    bool UseWizard = false;
    bool VssLog = false;
    bool SMTPLog = false;
};

// Configured folders (empty when not configured). UseXxxDir is false when a
// command-line switch set the folder for this run.
struct TVlDirectories {
    QString TaskDir;
    QString LogDir;
    QString TempDir;
    TIniLoc IniLoc = TIniLoc::ilNormal;
    bool UseTaskDir = false;
    bool UseLogDir = false;
    bool UseTempDir = false;
};

struct TVlSettings {
    TVlCopySettings CopySettings;
    TVlSecCopySettings SecCopySettings;
    TVlViewSettings ViewSettings;
    TVlStartSettings StartSettings;
    TVlShutdownSettings ShutdownSettings;
    TPrinterSettings PrinterSettings;
    TVlLogSettings LogSettings;
    TVlOtherSettings OtherSettings;
    TVlDirectories Directories;
};

// The program's settings.
extern TVlSettings VlSettings;

// Puts the built-in defaults into ASettings. LogDelSettings and
// PrinterSettings.Feed keep what they hold.
void SetDefaultSettings(TVlSettings &ASettings);

// The default task folder: "Velkor/" below the documents folder (below the
// program folder when there is no documents folder).
QString DefaultTaskDir();

// ---- Program-wide variables ------------------------------------------------
// Strings empty and numbers 0 at start unless said otherwise. There are no
// system-generation flags: every feature such flags would gate exists on
// every supported system (see IsVistaOrLater in platform/System.h).

// The machine runs a 64-bit kernel (set at start).
extern bool IsWin64;
// This program is a 64-bit build (set at start).
extern bool Is64BitProgram;
// Read-only edits get tab stops. Linux desktops offer no such preference:
// false at start; the GUI may set it.
extern bool KeyboardPreferred;
// The program's event log can be written (set by the main window).
extern bool EventLogAvailable;
// The schedule store works (set by the main window).
extern bool TaskSchedulerReady;
// Who started this run: 0 the user, 1 the scheduler, 2 Morvane,
// 3 VlStarter, 4 ZuVivaze, 5 VaVuz.
extern int StartedBy;
// Short codes shown after the task name for StartedBy 0 to 4.
extern const std::array<QString, 5> StarterCodes;
extern int ErrorCount;   // failed unattended runs
extern int ProgExitCode; // the exit code the program ends with
extern QString SettingsFolder;
extern QString ProgDirIniName;  // program folder + program name + ".ini"
extern QString IniFileName;     // the program INI in use
extern QString ProgramTempDir;
extern QString WorkTempDir;     // temporary folder used by runs
extern QString DocumentsDir;    // with trailing delimiter
extern QString TaskFolder;
extern QString ProgramLogName;
extern QString CurrentUserName;

// ---- Date and time formats -------------------------------------------------

// Dates and times shown to the user (letters of FormatDateTime).
extern QString DispDateFormat;    // "yyyy-mm-dd"
extern QString DispTimeSecFormat; // "hh:nn:ss"
extern QString DispTimeFormat;    // "hh:nn"
// Date and time picker controls (Qt/picture letters: MM month, mm minute,
// HH 24-hour, hh 12-hour, tt AM/PM).
extern QString PickerDateFormat;  // "yyyy-MM-dd"
extern QString PickerTimeFormat;  // "HH:mm"

// Selects the five format strings from the locale: 12- or 24-hour clock,
// and the order of the short date (month-day-year "MM/dd/yyyy",
// day-month-year "dd.MM.yyyy", else "yyyy-MM-dd"). The "C" locale counts
// as 24-hour with the year first.
void InitTimeFormats();
void InitTimeFormats(const QLocale &ALocale);

// Day 1 is Monday, 7 Sunday; names from FormatSettings(). Empty for other
// days (ShortWeekDayName(0) is empty).
QString LongWeekDayName(int Day);
QString ShortWeekDayName(int Day);

// No window is shown: iaQuiet, iaQuietError.
bool IsQuietInteraction(TInteraction I);
// The run may wait for the user: iaPrompt, iaErrorPrompt, iaQuietError.
bool IsPromptInteraction(TInteraction I);

} // namespace vl
