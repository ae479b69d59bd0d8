// The programs a backup task runs before and after the backup: how their
// command line is judged, how a wait result becomes an outcome, and the
// conditions under which the program after the backup runs. TBackupForm
// runs them (backup/ExternalPrograms.cpp).
#pragma once

#include <QString>

#include <cstdint>

namespace vl {

enum class TExtProgState : uint8_t { epNotRun, epDone, epFailed, epErrorLevel, epNotFound };

// The outcome handed back to the run controller.
struct TExtProgResult {
    TExtProgState State = TExtProgState::epNotRun;
    // The exit code (epDone, epErrorLevel, and a death by a signal as
    // 128 + signal), 258 for a time-out, the error number of a start
    // failure, else 0.
    int32_t Code = 0;
};

// Kinds of command lines (CheckExternalCommand).
inline constexpr int kExtCmdProgram = 0;  // a program, or a name the shell finds
inline constexpr int kExtCmdScript = 1;   // a ".sh" script
inline constexpr int kExtCmdShortcut = 4; // a ".desktop" file, handed to the desktop's opener

// The text that stands for the password wherever a command line is shown.
inline constexpr const char *kPasswordPrompt = "<password prompt>";

// The program of ACommand (its first token, in double quotes when its path
// holds blanks) exists: a path, or a ".sh" or ".desktop" name, taken from
// the task folder; a bare name as the shell finds it (PATH, builtins).
// Kind as above; IsConsole when the file is a program run in a terminal
// (an ELF binary or a "#!" script).
bool CheckExternalCommand(const QString &ACommand, bool &IsConsole, int &Kind);

// The program's path as CheckExternalCommand judges it (empty for a bare
// name that is no file of the task folder).
QString ExternalProgramPath(const QString &AProgram, int Kind);

// How a wait result (engine/WinExecute.h) reads for a program before
// (ABefore) or after the backup with the given ErrorLevel value.
enum class TExtProgOutcome : uint8_t {
    eoSuccess,    // exit code 0
    eoAccepted,   // an exit code the task accepts
    eoErrorLevel, // an exit code that is an error
    eoSignal,     // the program died of a signal
    eoTimeOut,    // 258: the time-out passed or the wait was stopped
    eoStartError, // the program could not be started
};
// ACode receives the exit code (never masked: a code beyond 16 bits stays
// an error), 258, or the error number. The platform reports a death by
// signal n as exit code 128 + n, as shells do, so codes 129 to 192 are
// taken as such deaths and are never accepted.
TExtProgOutcome ClassifyExtProgResult(uint32_t AResult, bool ABefore, int32_t AErrorLevel, uint32_t &ACode);

// Whether the program after the backup runs, by the condition bits of its
// ErrorLevel (kSkipAfterCancel, kSkipAfterErrors, kSkipAfterIdle).
bool PostProgramMayRun(int32_t AConditions, bool ACancelled, bool AHadErrors, bool ANothingBackedUp);

// ACommand with each AMarker replaced by APassword quoted for /bin/sh as
// the place of the marker needs (outside quotes, inside double or single
// quotes), so that the shell passes the password on literally.
QString InsertShellPassword(const QString &ACommand, const QString &AMarker, const QString &APassword);

} // namespace vl
