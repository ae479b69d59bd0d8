// The system services the programs need beyond files: power and session
// actions, the event log, the identity of the user and the process, the
// system folders and names, the interactive logon sessions, and the version
// records compiled into the programs.
//
// Power and session actions go to logind over the system D-Bus. When the
// environment variable VELKOR_POWER_DRYRUN names a file, every request is
// appended to that file as one text line instead and nothing is asked of
// the system (tests never shut anything down).
//
// The event log is syslog with the event source as ident (journald keeps
// the entries). When VELKOR_EVENTLOG names a file, the entries are appended
// there instead, one line each.
//
// Nothing here raises: results are plain values and error numbers of
// platform/SysErrors.h. Where Linux has nothing that corresponds to an
// operation, it gives the fixed answer documented at its declaration.
#pragma once

#include "platform/SysErrors.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace vl {

// ---------------------------------------------------------------------------
// Power and session actions

enum class TPowerAction {
    PowerOff,
    Reboot,
    Suspend,
    Hibernate,
    LockSession,      // locks the caller's own session
    TerminateSession, // logs the caller's own session off
};

// Asks logind for the action (dry-run file: appends the request line, e.g.
// "Suspend(false)" or "LockSession(\"\")"). Interactive lets logind ask for
// authentication where its policy wants it. 0 on success; otherwise the
// error number and, in detail, the message of the system:
// ERROR_SERVICE_NOT_ACTIVE without a system bus or logind,
// ERROR_ACCESS_DENIED when the policy refuses, ERROR_NOT_SUPPORTED when the
// system cannot do it (no hibernation), ERROR_TIMEOUT for no answer.
uint32_t RequestPowerAction(TPowerAction action, bool interactive = false, QString *detail = nullptr);

// Standby or hibernation; true on success. Linux has no forced suspend and
// no per-request wake events: Force and DisableWakeEvent change nothing.
bool SuspendComputer(bool Hibernate, bool Force, bool DisableWakeEvent, uint32_t *error = nullptr);

// Blocks the end of the system (shutdown, reboot) with a logind inhibitor
// that names the reason, until cleared. Setting it again replaces the
// reason. True when the inhibitor is held (or, dry run, was requested).
bool SetShutdownBlockReason(const QString &Reason);
// Releases that inhibitor; false when none was held.
bool ClearShutdownBlockReason();
// Keeps the system from sleeping (and the screen from blanking when
// Display) for as long as it is set; setting it again replaces the request.
bool SetKeepAwake(bool Display, const QString &Reason);
bool ClearKeepAwake();

// Tests only: a non-empty address makes every call above use that bus
// instead of the system bus (so the missing-bus path is tested without any
// chance of reaching the real logind).
void SetSystemBusAddressForTesting(const QString &address);

// ---------------------------------------------------------------------------
// Event log

enum TEventLogType : uint16_t {
    eltSuccess = 0,
    eltError = 1,
    eltWarning = 2,
    eltInformation = 4,
    eltAuditSuccess = 8,
    eltAuditFailure = 16,
};

// Writes one entry: the event number, the category and the strings (one
// per line). Source becomes the syslog ident ("Velkor" when empty); the
// type gives the priority. File form (VELKOR_EVENTLOG), one line per entry:
// "<local ISO time> <Source>[<pid>] <type> <Category> 0x<EventId as 8 hex
// digits>: <strings joined by \n>", with backslash, CR and LF inside the
// text written as \\, \r and \n. 0 when written (syslog always), else the
// error number of the file.
uint32_t WriteEventLog(const QString &Source, uint16_t EventType, uint16_t Category, uint32_t EventId,
                       const QStringList &Strings = {});
// syslog needs no registration of a source: always true.
bool EventSourceExists(const QString &Source);

// ---------------------------------------------------------------------------
// User and process identity

// Name of the user the process runs as (effective uid); the uid as text
// when the account has no name.
QString LogonUserName();
// There are no domain accounts: the same as LogonUserName.
QString QualifiedUserName();
// The host name up to its first dot.
QString LocalComputerName();
// "S-1-22-1-" + the effective uid: the form other systems use for a Unix
// user, so names built from it stay unique per user.
QString UserSidText();

// Relative identifiers of built-in groups.
inline constexpr uint32_t kAdminsGroupRid = 544;
inline constexpr uint32_t kUsersGroupRid = 545;
// 544 (administrators): root, or a member of the group sudo, wheel or admin
// (by the process's own groups); 545 (users): always; others: false.
bool IsMemberOfBuiltinGroup(uint32_t Rid);
bool IsAdminGroupMember();
// The process runs as root (effective uid 0).
bool IsProcessElevated();
// Linux has no per-token privileges to switch on: always true ("nothing
// left to adjust"), as when the privilege is already in the wanted state.
bool EnablePrivilege(const QString &Name, bool Enable);

// The system is at least of the given generation: always true.
inline bool IsNT4OrLater() { return true; }
inline bool IsWin2000OrLater() { return true; }
inline bool IsVistaOrLater() { return true; }

// ---------------------------------------------------------------------------
// Folders (without trailing "/" unless said)

// /usr/bin.
QString SystemDirectory();
// $TMPDIR, else /tmp; with a trailing "/".
QString TempDirectory();
// $HOME, else the home folder of the account, else "/".
QString UserProfileDirectory();
// Folders shared by every user: /etc/xdg and /srv.
QString AllUsersProfileDirectory();
QString PublicDirectory();

// ---------------------------------------------------------------------------
// Windows of other programs: Linux offers no list of other programs'
// windows that works everywhere (Wayland has none), so these give the
// empty answers: ListAppWindows false with nothing added, the others 0.
bool ListAppWindows(QStringList &Captions, QList<uintptr_t> &Handles);
uintptr_t TopAppWindow();
uintptr_t SecondAppWindow();

// ---------------------------------------------------------------------------
// Interactive logon sessions, read as logind publishes them (the state
// files in /run/systemd/sessions and /run/systemd/users, and the session
// scope of each process in /proc/<pid>/cgroup). Tests give folders of
// their own.

inline constexpr const char *kLogindSessionsDir = "/run/systemd/sessions";
inline constexpr const char *kLogindUsersDir = "/run/systemd/users";
inline constexpr const char *kProcDir = "/proc";

struct TLogonSession {
    QString Id;               // logind's session id
    QString UserName;
    bool Active = false;      // the session in the foreground of its seat
    bool Remote = false;      // a login over the network (ssh ...)
    QString Class;            // "user", "greeter", "lock-screen", "background"
    QString State;            // "online", "active", "closing"
    int64_t RealtimeUsec = 0; // start, microseconds since 1970 UTC; 0 unknown
};

// The logind session this process belongs to, when it is an interactive
// ("user") session that is active. A process outside every session scope
// (desktops start their programs in scopes of the user's service manager)
// belongs to the graphical session of its user, when there is one.
bool CurrentLogonSession(TLogonSession &Session, const QString &sessionsDir = QString::fromLatin1(kLogindSessionsDir),
                         const QString &procDir = QString::fromLatin1(kProcDir),
                         const QString &usersDir = QString::fromLatin1(kLogindUsersDir));
// The interactive sessions (class "user", not closing) in which a process
// other than this one runs. False when the sessions cannot be read at all
// (no logind), so "none" and "unknown" stay apart.
bool ListLogonSessions(QList<TLogonSession> &Sessions,
                       const QString &sessionsDir = QString::fromLatin1(kLogindSessionsDir),
                       const QString &procDir = QString::fromLatin1(kProcDir));

// ---------------------------------------------------------------------------
// Version records
//
// Every program carries its version and file information as one record of
// bytes in its binary, so any program can read another's version without
// starting it:
//   "VELKOR-VERSION:" <version, digits and dots> "\n"
//   "CompanyName=" ... "\n" "FileDescription=" ... "\n"
//   "InternalName=" ... "\n" "LegalCopyright=" ... "\n" "Comments=" ... "\0"
// The texts are UTF-8 and hold no line break. A program declares its record
// once, at namespace scope in one of its own source files:
//   VL_VERSION_RECORD(kVersionRecord, "Maker", "Velkor backup", VL_FILE_VERSION,
//                     "Velkor", "(C) Maker", "");

// The version of the programs (the project version with four parts).
#define VL_FILE_VERSION "6.0.0.0"

#define VL_VERSION_RECORD(name, company, description, version, internalName, copyright, comments) \
    [[gnu::used]] static const char name[] =                                                       \
        "VELKOR-VERSION:" version "\n"                                                             \
        "CompanyName=" company "\n"                                                                \
        "FileDescription=" description "\n"                                                        \
        "InternalName=" internalName "\n"                                                          \
        "LegalCopyright=" copyright "\n"                                                           \
        "Comments=" comments

struct TFileVersionInfo {
    QString Company;
    QString Description;
    QString Version;
    QString InternalName;
    QString Copyright;
    QString Comments;
};

// Finds the first version record in the file; Info is cleared first and
// gets the texts with trailing blanks removed (missing ones stay empty).
// False when the file cannot be read or holds no record.
bool ReadFileVersionInfo(const QString &FileName, TFileVersionInfo &Info);
// The same for a record in memory (a program's own, declared with
// VL_VERSION_RECORD): no need to read the binary.
bool ParseVersionRecord(const char *Record, TFileVersionInfo &Info);
// The record's version without its last part ("6.0.0.0" gives "6.0.0");
// Default when the file has no record.
QString ReadFileVersionText(const QString &FileName, const QString &Default);

} // namespace vl
