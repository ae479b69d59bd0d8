// Placeholders: words between percent signs in task names, destination
// folders, archive names, log names, mail subjects and command lines that
// are replaced by the date, time, user, computer, folders, environment
// variables or values of the running task.
//
// Matching ignores case. Each table is applied entry by entry in its order:
// when the text holds the entry, every occurrence of it is replaced by its
// value, which is computed only then. Numbers are written with leading
// zeros to their digit count. Nothing here raises.
//
// Folder values on Linux (no trailing "/"; a folder that is the root "/"
// itself becomes the empty text, so "%profile%/x" never turns into a
// network path "//x"):
//   %perspath%            the XDG documents folder
//   %apppath% %appdata%   $XDG_CONFIG_HOME (~/.config)
//   %localappdata%        $XDG_DATA_HOME (~/.local/share)
//   %profile% %userprofile%  the home folder
//   %desktop%             the XDG desktop folder
//   %favorites%           empty (Linux has no favourites folder)
//   %progfiles% %programfiles% %commonprogramfiles% %programfiles(x86)%
//   %commonprogramfiles(x86)%  the parent of the program folder
//   %progpath%            the program folder
//   %allusersprofile%     /etc/xdg
//   %public%              /srv
//   %programdata%         /var/lib
//
// The drive of a destination ("%drive%" in log names) is that of
// core/Drives.h: the root "/" for all fixed local file systems, the mount
// point of a removable or network file system, "//server/share" for a
// network path. "%drive%" gives it as the beginning of a path without
// trailing "/", so "%drive%/Logs" stays on the destination's drive: "" for
// the root drive, else the mount point or "//server/share".
#pragma once

#include "core/DateTime.h"

#include <QLatin1String>
#include <QString>

#include <functional>

namespace vl {

// ---- Tables -----------------------------------------------------------------

inline constexpr QLatin1String DatePlaceHolders[14] = {
    QLatin1String("%date%"),  QLatin1String("%yaw%"),   QLatin1String("%dow%"),   QLatin1String("%ldow%"),
    QLatin1String("%dnw%"),   QLatin1String("%day%"),   QLatin1String("%week%"),  QLatin1String("%dom%"),
    QLatin1String("%wom%"),   QLatin1String("%month%"), QLatin1String("%lmonth%"), QLatin1String("%year%"),
    QLatin1String("%user%"),  QLatin1String("%computer%"),
};

// Entries 3 to 6 are the cycle patterns; "?" stands for the cycle length.
inline constexpr QLatin1String TimePlaceHolders[11] = {
    QLatin1String("%time%"),     QLatin1String("%hour%"),     QLatin1String("%minute%"),
    QLatin1String("%d#?%"),      QLatin1String("%w#?%"),      QLatin1String("%m#?%"),
    QLatin1String("%v#?%"),      QLatin1String("%username%"), QLatin1String("%computername%"),
    QLatin1String("%volume%"),   QLatin1String("%mode%"),
};

inline constexpr QLatin1String PathPlaceHolders[11] = {
    QLatin1String("%perspath%"),  QLatin1String("%apppath%"),  QLatin1String("%profile%"),
    QLatin1String("%desktop%"),   QLatin1String("%favorites%"), QLatin1String("%progfiles%"),
    QLatin1String("%progpath%"),  QLatin1String("%username%"), QLatin1String("%computername%"),
    QLatin1String("%user%"),      QLatin1String("%computer%"),
};

inline constexpr QLatin1String SystemPlaceHolders[10] = {
    QLatin1String("%appdata%"),         QLatin1String("%localappdata%"),
    QLatin1String("%allusersprofile%"), QLatin1String("%public%"),
    QLatin1String("%programfiles%"),    QLatin1String("%commonprogramfiles%"),
    QLatin1String("%programfiles(x86)%"), QLatin1String("%commonprogramfiles(x86)%"),
    QLatin1String("%programdata%"),     QLatin1String("%userprofile%"),
};

// Used in log file names.
inline constexpr QLatin1String LogPlaceHolders[10] = {
    QLatin1String("%date%"),     QLatin1String("%time%"),         QLatin1String("%yaw%"),
    QLatin1String("%yam%"),      QLatin1String("%year%"),         QLatin1String("%username%"),
    QLatin1String("%computername%"), QLatin1String("%dest%"),     QLatin1String("%drive%"),
    QLatin1String("%volume%"),
};

// Expanded in mail subjects by the backup run, which knows their values.
inline constexpr QLatin1String MailPlaceHolders[8] = {
    QLatin1String("%taskname%"), QLatin1String("%username%"), QLatin1String("%computername%"),
    QLatin1String("%start%"),    QLatin1String("%end%"),      QLatin1String("%duration%"),
    QLatin1String("%status%"),   QLatin1String("%computer%"),
};

// Expanded in the command lines of external programs by the backup run.
inline constexpr QLatin1String ExecPlaceHolders[10] = {
    QLatin1String("%taskname%"), QLatin1String("%dest%"),     QLatin1String("%zipname%"),
    QLatin1String("%sysdir%"),   QLatin1String("%taskdir%"),  QLatin1String("%progpath%"),
    QLatin1String("%username%"), QLatin1String("%password%"), QLatin1String("%logfile%"),
    QLatin1String("%status%"),
};

// Offered for portable devices: the device name and the date placeholders
// "%date%" to "%year%".
inline constexpr QLatin1String DevicePlaceHolders[13] = {
    QLatin1String("%device%"), QLatin1String("%date%"),  QLatin1String("%yaw%"),   QLatin1String("%dow%"),
    QLatin1String("%ldow%"),   QLatin1String("%dnw%"),   QLatin1String("%day%"),   QLatin1String("%week%"),
    QLatin1String("%dom%"),    QLatin1String("%wom%"),   QLatin1String("%month%"), QLatin1String("%lmonth%"),
    QLatin1String("%year%"),
};

// ---- Expansion ----------------------------------------------------------------

// Date placeholders, then (only when Counter > 0) the first cycle
// placeholder of each kind, then the time placeholders.
//
// "%yaw%" is the ISO 8601 week-year and week ("2025-01" on 30 Dec 2024,
// "2026-53" on 2 Jan 2027), so a week's name never repeats a year later.
// "%week%" and the week cycle use the ISO week, "%wom%" the ISO week of the
// month (a week belongs to the month that holds its Thursday).
//
// Cycles "%d#n%", "%w#n%", "%m#n%", "%v#n%" (day of the year, ISO week,
// month, Counter): ((x - 1) mod n) + 1, written with 3 digits when n >= 100,
// 2 when n >= 10, else 1. A length that is no integer, is missing, or is 0
// or less gives the empty text. Only the first placeholder of each kind is
// evaluated (every occurrence of that exact text is replaced); a kind
// without closing "%" is left alone. With Counter <= 0 the cycles stay in
// the text. The time table then removes the literal patterns "%d#?%" ...
// and any "%volume%" and "%mode%" the caller has not filled in.
QString ExpandDateTimePlaceHolders(const QString &Text, int Counter);

// Path placeholders, then system placeholders; an empty text stays empty.
// Here "%user%" and "%computer%" become the empty text.
QString ExpandFolderPlaceHolders(const QString &Text);

// The part of Path in front of the first element that holds a "%", with
// its trailing "/": "/data/%date%/x" gives "/data/", "%date%/x" the empty
// text. A path without "%" is returned unchanged.
QString PathBeforePlaceHolder(const QString &Path);

// Whether Text holds a date placeholder, "%time%", "%hour%", "%minute%",
// "%username%", "%computername%", "%volume%", "%mode%" or the beginning of
// a cycle ("%d#", "%w#", "%m#", "%v#").
bool HasDateTimePlaceHolder(const QString &Text);

// The log placeholders for the destination Dest: "%dest%" is Dest as
// given; "%drive%" its drive (see above); "%volume%" the label of a
// volume-label path when that volume is mounted, the label of the volume
// holding a local (fixed or removable) path when it has one, else empty.
// A volume-label path has no drive until it is resolved: "%drive%" is
// empty for it.
QString ExpandLogPlaceHolders(const QString &Text, const QString &Dest);

// For destination folders and archive names: "%volume%" becomes
// VolumeName; each "%evar(NAME)%" becomes the environment variable NAME
// where it is set and not empty (else it stays); then
// ExpandDateTimePlaceHolders with Counter (the task's run counter, used by
// the version cycle).
QString ExpandDestPlaceHolders(const QString &Text, const QString &VolumeName, int Counter);

// Every "%NAME%" replaced by the environment variable NAME where it is set
// and not empty, else kept as it is. Percent signs pair up from the left;
// a "%" without partner and the text after it are kept.
QString ExpandEnvVariables(const QString &Text);

// ---- Clock ----------------------------------------------------------------------

// The clock every expansion reads; an empty function restores the local
// wall clock (Now()). Tests fix the date with it.
using TPlaceholderClock = std::function<TDateTime()>;
void SetPlaceholderClock(TPlaceholderClock Clock);

} // namespace vl
