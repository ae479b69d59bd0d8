#include "core/SystemUtils.h"

#include "core/FileTimes.h"
#include "core/Format.h"
#include "core/Translate.h"
#include "platform/OsInfo.h"
#include "platform/System.h"

namespace vl {

namespace {

TSessionData ToSessionData(const TLogonSession &s)
{
    TSessionData d;
    d.UserLuid = s.Id;
    d.UserName = s.UserName;
    d.Domain = LocalComputerName();
    d.LogonType = s.Remote ? kLogonRemoteInteractive : kLogonInteractive;
    // An unknown or unconvertible start time counts as now.
    if (s.RealtimeUsec <= 0
        || !TryFileTimeToLocalDateTime(kFileTimeUnixEpoch + TFileTime(s.RealtimeUsec) * 10, d.LogonTime))
        d.LogonTime = Now();
    return d;
}

} // namespace

bool GetCurrentLogonSession(TSessionData &Data)
{
    TLogonSession s;
    if (!CurrentLogonSession(s))
        return false;
    Data = ToSessionData(s);
    return true;
}

TDateTime SessionLogonTime()
{
    TSessionData d;
    return GetCurrentLogonSession(d) ? d.LogonTime : Now();
}

bool GetLogonSessions(TSessionList &List)
{
    QList<TLogonSession> sessions;
    ListLogonSessions(sessions);
    for (const TLogonSession &s : sessions)
        List << ToSessionData(s);
    return !sessions.isEmpty();
}

int LogonSessionCount()
{
    QList<TLogonSession> sessions;
    if (!ListLogonSessions(sessions))
        return -1;
    return int(sessions.size());
}

QString WindowsVersionText()
{
    TOsInfo info;
    if (!GetOsInfo(info))
        return {};
    const QString bitness = info.Is64Bit ? Tr("64-bit Edition") : Tr("32-bit Edition");
    return GuardedFormat(Tr("%s (Kernel %s, %s)"), info.PrettyName, info.KernelRelease, bitness);
}

} // namespace vl
