// Starting other programs and waiting for them: the commands before and
// after a backup (output captured), programs and documents started through
// the desktop, programs under another account and the elevated restart.
//
// Command lines are shell text: they run through "/bin/sh -c", so quoting,
// redirections and pipes work as in a terminal. Programs start with
// posix_spawn, standard input from /dev/null, default signal handling and
// Velkor's environment, and no descriptor of ours beyond the standard
// three; a captured output pipe is drained while waiting, so no amount of
// output can block a program (what passes 16 MiB is drained and dropped).
// ExecuteProcess and StartProcess send output they do not capture to
// /dev/null.
//
// Result codes of the waits (32 bit):
//   0                       the program ended with exit code 0;
//   WAIT_TIMEOUT (258)      the time-out passed or the wait was cancelled;
//   code | kExitCodeBit     the program ended with exit code 1 to 255, or
//                           died of signal n (code 128 + n, as shells
//                           report it) - every failure carries the bit;
//   STILL_ACTIVE | bit      the exit code was asked for after a time-out
//                           and the program still runs;
//   anything else           an error number (platform/SysErrors.h) of the
//                           start: 2 for a missing program, 5 for one that
//                           may not be run, 267 for a missing work folder.
// Waits process the owning thread's messages at least every 100 ms.
#pragma once

#include "core/Exceptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <cstdint>
#include <memory>

namespace vl {

// A program could not be started; the message is the system's text.
class EProcessError : public Exception {
public:
    using Exception::Exception;
};

inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t STILL_ACTIVE = 259;
inline constexpr uint32_t kExitCodeBit = 0x20000000;
// ExecuteProcess: the output pipe could not be created.
inline constexpr uint32_t kErrorPipeCreate = 535;
// ExecuteProcess: a pipe handle could not be closed.
inline constexpr uint32_t kErrorPipeHandle = 0x80070006;
// A file that cannot be run as a program.
inline constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;

// Flags of ExecuteConsoleProcess and ExecuteProcess.
enum : uint8_t {
    epCaptureOutput = 1, // standard output into the Output list
    epCaptureErrors = 2, // with 1: standard error as well
    epOwnSession = 4,    // with 1: nothing captured; the program gets a
                         // session of its own and is killed after the wait
    epShowOutput = 8,    // with 1 and no Output list: show the text window
    epPipeErrorDialog = 16, // pipe failures also as an error dialog
};

// A started program. Dropping the last reference "closes" it: a program
// that still runs goes on and is reaped in the background, so it never
// lingers as a zombie.
class TProcess {
public:
    ~TProcess();
    TProcess(const TProcess &) = delete;
    TProcess &operator=(const TProcess &) = delete;

    pid_t Pid() const { return FPid; }

private:
    TProcess() = default;
    friend struct TProcessAccess;

    pid_t FPid = -1;
    int FPidFd = -1;     // readable once the program has ended; -1 where unsupported
    int FTerminalFd = -1; // master of the pseudo-terminal of another user's start
    bool FReaped = false;
    int FStatus = 0; // the wait status, once reaped
};
using TProcessHandle = std::shared_ptr<TProcess>;

// ExecuteProcess without a program name, with the output read as code
// page 850 where it is no valid UTF-8.
uint32_t ExecuteConsoleProcess(const QString &CmdLine, const QString &WorkDir, uint8_t Flags, int32_t Timeout,
                               bool ExitCodeOnTimeout, QStringList *Output);

// Runs CmdLine (shell text) in WorkDir (the current folder when empty);
// with AppName, the program AppName is run and CmdLine is the text of its
// arguments. Timeout in milliseconds: nonzero waits up to its absolute
// value; 0 waits until the program ends or CancelProcessWait is called
// (which also ends a wait with a time-out). Output is read to its end,
// without zero bytes, and decoded as UTF-8 when valid, else from CodePage;
// it is delivered only when the result is 0 or carries kExitCodeBit, and
// Output (given with epCaptureOutput) receives its lines; without Output,
// epShowOutput shows a non-empty text in the text window (title AppName).
// A command whose program cannot be found gives 2 without starting a
// shell. With a time-out and ExitCodeOnTimeout the program's state is
// read after all (see the result codes above).
uint32_t ExecuteProcess(const QString &AppName, const QString &CmdLine, const QString &WorkDir, uint8_t Flags,
                        int32_t Timeout, bool ExitCodeOnTimeout, QStringList *Output, uint32_t CodePage);

// Ends the current ExecuteProcess wait within 100 ms (result 258).
void CancelProcessWait();

// Starts CmdLine (shell text) in WorkDir without waiting. Raises
// EProcessError with the system's message when it cannot be started.
TProcessHandle StartProcess(const QString &CmdLine, const QString &WorkDir);

// Starts CmdLine as User with the user's login environment (login shell
// profile, HOME, PATH), in WorkDir when given, with standard input and
// output on /dev/null. As root through runuser; otherwise through su on a
// pseudo-terminal, which is given Password when it asks. The call returns
// once the command has started. There are no domains: Domain is ignored.
// EProcessError with the system's message + " (0x" + 8 hex digits + ")":
// 1326 for an unknown user or a refused password, 267 for a work folder
// the user cannot enter, 2 when su/runuser is missing, 1460 when su does
// not answer within 30 s.
TProcessHandle StartProcessAsUser(const QString &User, const QString &Domain, const QString &Password,
                                  const QString &CmdLine, const QString &WorkDir);

// Waits for a started program: Timeout positive waits up to that long, 0
// or negative (-1 is INFINITE) until it ends. A time-out without
// ExitCodeOnTimeout gives 258 and leaves Handle as it was; otherwise the
// exit code is read (0 gives the wait's result, else code | kExitCodeBit)
// and Handle is released.
uint32_t WaitForProcess(TProcessHandle &Handle, int32_t Timeout, bool ExitCodeOnTimeout);

// Opens FileName and waits. An executable file runs with Params (shell
// text) as its arguments; anything else (a document, a folder, an address)
// is handed to xdg-open, and the wait is for xdg-open. RunAs runs it as
// root through pkexec (directly when already root). WorkDir is the current
// folder of the program when given. Wait and result as WaitForProcess with
// the absolute value of Timeout; a start failure gives its error number
// (2 when FileName or the opener is missing).
uint32_t ShellExecuteAndWait(const QString &FileName, const QString &Params, const QString &WorkDir,
                             bool ExitCodeOnTimeout, int32_t Timeout, bool RunAs);

// Starts FileName with Params (shell text) as root through pkexec, in
// WorkDir. False when the process already runs as root (nothing is
// started), when pkexec is missing, or when the authorisation is refused;
// true once the program has started (the call waits for the
// authorisation, processing messages).
bool RunElevated(const QString &FileName, const QString &Params, const QString &WorkDir);
// RunElevated in the process's current folder.
bool RunElevatedInCurrentDir(const QString &FileName, const QString &Params);

// Decodes 8-bit text from a code page: 437, 850, 1252, 28591 (Latin-1)
// and 65001 (UTF-8); any other code page is taken as 1252. The single-byte
// code pages give one character per byte. Empty for an empty text.
QString CodePageToUnicode(const QByteArray &AText, uint32_t CodePage);

// The translated system text of an error number, with a text of its own for
// a file that is no program.
QString SystemErrorMessage(uint32_t Code);

// ---------------------------------------------------------------------------
// Building blocks, public for their tests

// A word in single quotes for /bin/sh: 'it'\''s'.
QByteArray ShellQuote(const QByteArray &Word);

// The program a command line starts: 0 when it can be started (or cannot
// be judged before the shell runs: a builtin, a keyword, an expansion);
// else 2 (not found), 3 (its folder is missing) or 5 (not executable).
// A relative path and the PATH search are taken from WorkDir.
uint32_t CheckCommandProgram(const QString &CmdLine, const QString &WorkDir);

// The result code of a wait status of waitpid.
uint32_t ResultFromWaitStatus(int Status);

// The arguments of the elevated start: pkexec /bin/sh -c <script>, where
// the script enters WorkDir, writes one byte to standard output (so the
// caller knows the authorisation passed), sends further output to standard
// error and runs the program with the display variables it needs.
QList<QByteArray> ElevatedCommand(const QString &FileName, const QString &Params, const QString &WorkDir);

// The arguments that run CmdLine as User: runuser (AsRoot) or su with a
// login shell /bin/sh and a script that enters WorkDir, reports the start
// with StartMarker (or a failed folder with NoFolderMarker) on the
// terminal, ignores the hang-up of the terminal and moves standard input
// and output to /dev/null before CmdLine runs.
QList<QByteArray> OtherUserCommand(const QString &User, const QString &CmdLine, const QString &WorkDir,
                                   bool AsRoot);
inline constexpr const char *kStartMarker = "velkor-started";
inline constexpr const char *kNoFolderMarker = "velkor-no-folder";

} // namespace vl
