// The program's view of the system services of platform/System.h: logon
// sessions with local times, and the system line of the log headers.
#pragma once

#include "core/DateTime.h"

#include <QList>
#include <QString>

#include <cstdint>

namespace vl {

inline constexpr uint32_t kLogonInteractive = 2;
inline constexpr uint32_t kLogonRemoteInteractive = 10;

struct TSessionData {
    QString UserLuid;       // logind's session id
    QString UserName;
    QString Domain;         // the computer's name (there are only local accounts)
    uint32_t LogonType = 0; // kLogonInteractive, or kLogonRemoteInteractive for a network login
    TDateTime LogonTime = 0; // local time
};
using TSessionList = QList<TSessionData>;

// The active interactive session of this process; false when the process
// runs outside one (cron, a service) or logind is not there.
bool GetCurrentLogonSession(TSessionData &Data);
// When the current session began; now when there is none.
TDateTime SessionLogonTime();
// Appends the interactive sessions in which other processes run; true when
// at least one was added.
bool GetLogonSessions(TSessionList &List);
// The number of those sessions: 0 when there is none, -1 only when the
// sessions cannot be listed (no logind).
int LogonSessionCount();

// The system line of the log headers, e.g. "Debian GNU/Linux 12 (bookworm)
// (Kernel 6.1.0-18-amd64, 64-bit Edition)"; empty when the system cannot be
// asked.
QString WindowsVersionText();

} // namespace vl
