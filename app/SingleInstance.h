// One interactive instance per user, and the hand-over of task files from a
// later start to the instance that already runs.
//
// Everything lives in a private folder of the user, $XDG_RUNTIME_DIR/velkor/
// or, without that variable, /tmp/velkor-<uid>/ (mode 0700, owned by the
// user; anything else there is refused, symlinks are never followed):
//   "instance.lock"  flock held by the first instance while it listens;
//   "handover.lock"  flock that serialises hand-overs between processes
//                    (held while the first instance starts listening and
//                    while a later instance hands over);
//   "socket"         the first instance's local socket.
//
// One message per connection, framed: a 4-byte big-endian length N
// (1..kMaxInstanceMessage), then N bytes: the message kind, and for a
// hand-over the mode byte and the task file's full path in UTF-8 (no length
// limit below the frame's, so paths longer than 255 characters pass). The
// receiver answers with one byte 1: a hand-over once it has acted on it (the
// sender waits, as the receiver may open an editor first), show and stop
// messages on receipt. Anything else
// (other user, bad length, short or overlong frame, unknown kind or mode,
// invalid UTF-8, a frame not complete within the read time-out) is dropped
// and the connection closed without an answer.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace vl {

enum class TInstanceMessage : uint8_t {
    imHandOver = 1,      // a task file (mode, path)
    imShow = 2,          // show the main window
    imStopListening = 3, // an "end:" start: stop taking hand-overs
};

// Modes of a hand-over.
inline constexpr int kHandOverOpen = 0;     // open the task file
inline constexpr int kHandOverShowTask = 1; // make it the current task and show the backup page

inline constexpr uint32_t kMaxInstanceMessage = 64 * 1024;
inline constexpr int kHandOverLockWaitMs = 5000;

// A complete frame (length prefix included).
QByteArray EncodeInstanceMessage(TInstanceMessage Kind, int Mode = 0, const QString &FileName = {});
// Checks and splits a frame's payload (without its length prefix). False for
// an unknown kind, a mode other than 0 and 1, an empty path, a path that is
// not valid UTF-8 or holds a zero, and for data after a show or stop message.
bool DecodeInstanceMessage(const QByteArray &Payload, TInstanceMessage &Kind, int &Mode, QString &FileName);

// ---- Private runtime folder ------------------------------------------------------

// Creates Path with mode 0700 unless it exists; true when it is a real
// folder (no symlink) owned by this user with no group or world access.
bool EnsurePrivateFolder(const QString &Path, QString &Error);
// $XDG_RUNTIME_DIR/velkor (only an absolute value counts), else
// /tmp/velkor-<uid>; created and checked by EnsurePrivateFolder. Empty with
// Error when the folder cannot be used.
QString InstanceFolder(QString &Error);

// ---- Start-up decision -----------------------------------------------------------

// Batch, own settings file, "end:" and editor starts run without
// single-instance handling.
bool SkipsSingleInstance(uint8_t Flags);

// Answers of the start dialog a later instance shows for a backup task file.
enum class TStartChoice : int { scStartBackup = 1, scCancel = 2, scEdit = 6, scControlPanel = 7 };
// Asked with the task file's name, extension replaced by "buj". Unset (no
// display): the file is handed over to be opened, never run a second time.
using TStartDialogFunc = std::function<TStartChoice(const QString &FileName)>;

enum class TStartOutcome {
    soFirst,       // first instance: hand-overs come in through the callbacks
    soBatch,       // no single-instance handling
    soIndependent, // a later instance that goes on by itself
    soEnd,         // a later instance that is done: end with exit code 0
};

// What a later instance knows when it decides.
struct TLaterInstanceFacts {
    uint8_t Flags = 0;
    QString TaskFile;         // FirstTaskArgument
    bool TaskFileExists = false;
    bool LockObtained = false; // the hand-over lock within kHandOverLockWaitMs
    bool FirstAnswers = false; // the first instance's socket takes connections
};

struct TLaterInstancePlan {
    TStartOutcome Outcome = TStartOutcome::soEnd;
    uint8_t Flags = 0;      // the flags to go on with (8 after "Start backup")
    bool HandOver = false;  // send TaskFile with Mode
    int Mode = kHandOverOpen;
    bool Show = false;      // ask the first instance to show itself
};

// The later instance's way. A running instance that does not answer (it
// stopped listening, or cannot be reached) leaves this start to run
// independently rather than end with nothing done.
TLaterInstancePlan PlanLaterInstance(const TLaterInstanceFacts &Facts, const TStartDialogFunc &Dialog);

// ---- Instance manager ------------------------------------------------------------

class TInstanceManager {
public:
    // Run in the thread that owns the manager, from its event loop.
    using THandOverFunc = std::function<void(int Mode, const QString &FileName)>;
    using TShowFunc = std::function<void()>;

    // Folder empty: InstanceFolder().
    explicit TInstanceManager(const QString &Folder = {});
    ~TInstanceManager();
    TInstanceManager(const TInstanceManager &) = delete;
    TInstanceManager &operator=(const TInstanceManager &) = delete;

    // The single-instance part of start-up for the pre-scan Flags and the
    // process's Args (without the program name). Flags becomes 8 when a
    // later instance is to run the backup itself. An "end:" start tells the
    // running instance to stop listening and goes on as a batch start. A
    // hand-over that goes unanswered leaves the task to this process
    // (soIndependent). Error() tells why a start went on without the
    // single-instance rule (unsafe folder: soIndependent; socket not
    // usable: soFirst without listening).
    TStartOutcome StartUp(uint8_t &Flags, const QStringList &Args, const TStartDialogFunc &Dialog = {});

    // While unset, hand-overs (and show messages) are acknowledged and dropped.
    void SetHandOverCallback(THandOverFunc Func) { FOnHandOver = std::move(Func); }
    void SetShowCallback(TShowFunc Func) { FOnShow = std::move(Func); }

    bool IsListening() const;
    // Closes the socket and gives up the instance lock, so the next
    // interactive start becomes the first instance.
    void StopListening();

    // Sends one message to the running instance; true when it answered.
    // WaitMs bounds the wait for the answer (-1: as long as the connection
    // lasts; a hand-over is answered after the receiver has acted on it).
    bool SendMessage(TInstanceMessage Kind, int Mode, const QString &FileName, int WaitMs) const;
    // A running instance of this user takes connections.
    bool FirstAnswers() const;

    QString Folder() const { return FFolder; }
    QString SocketPath() const;
    QString Error() const { return FError; }

    // Time a connection may take to deliver its frame.
    int ReadTimeoutMs = 2000;
    // Wait of a later instance for the answer to its hand-over (-1: no limit,
    // as the receiver may open a modal editor first).
    int HandOverReplyMs = -1;

private:
    bool OpenFolder();
    bool Listen();
    void OnNewConnection();

    QString FFolder;
    QString FError;
    int FInstanceLock = -1;
    int FHandOverLock = -1;
    std::unique_ptr<QLocalServer> FServer;
    THandOverFunc FOnHandOver;
    TShowFunc FOnShow;
};

} // namespace vl
