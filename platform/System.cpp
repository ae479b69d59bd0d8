#include "platform/System.h"

#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/SysErrors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vl {

namespace {

// ---------------------------------------------------------------------------
// Small helpers

QByteArray EnvValue(const char *name)
{
    return qgetenv(name);
}

// Appends one line in a single write, so entries of concurrent writers
// never interleave.
uint32_t AppendLine(const QByteArray &path, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    int fd;
    do
        fd = open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return ErrnoToError(errno, errno == ENOENT);
    uint32_t result = ERROR_SUCCESS;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result = ErrnoToError(errno);
            break;
        }
        done += n;
    }
    if (close(fd) != 0 && result == ERROR_SUCCESS && errno != EINTR)
        result = ErrnoToError(errno);
    return result;
}

QString ProgramName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Velkor") : name;
}

// ---------------------------------------------------------------------------
// logind over the system bus

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kTestBusName = QStringLiteral("vl-test-system-bus");

QMutex gBusMutex;
QString gTestBusAddress;

QDBusConnection Bus()
{
    QMutexLocker lock(&gBusMutex);
    if (!gTestBusAddress.isEmpty())
        return QDBusConnection::connectToBus(gTestBusAddress, kTestBusName);
    return QDBusConnection::systemBus();
}

uint32_t DBusErrorNumber(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::NoError: return ERROR_SUCCESS;
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod: return ERROR_SERVICE_NOT_ACTIVE;
    case QDBusError::AccessDenied: return ERROR_ACCESS_DENIED;
    case QDBusError::NotSupported: return ERROR_NOT_SUPPORTED;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut: return ERROR_TIMEOUT;
    default: break;
    }
    const QString name = error.name();
    if (name.endsWith(QLatin1String("InteractiveAuthorizationRequired")) || name.endsWith(QLatin1String("NotAuthorized")))
        return ERROR_ACCESS_DENIED;
    if (name.endsWith(QLatin1String("NotSupported")))
        return ERROR_NOT_SUPPORTED;
    return ERROR_INVALID_FUNCTION;
}

// Calls a logind manager method; the reply, or an error number and text.
uint32_t CallLogind(const QString &method, const QVariantList &args, QDBusMessage &reply, QString *detail)
{
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) {
        if (detail) {
            *detail = bus.lastError().message();
            if (detail->isEmpty())
                *detail = QStringLiteral("The system bus is not available");
        }
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager, method);
    call.setArguments(args);
    reply = bus.call(call, QDBus::Block);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return ERROR_SUCCESS;
    const QDBusError error(reply);
    if (detail)
        *detail = error.message().isEmpty() ? error.name() : error.message();
    const uint32_t code = DBusErrorNumber(error);
    return code == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : code;
}

QString ArgText(const QVariant &arg)
{
    if (arg.typeId() == QMetaType::Bool)
        return arg.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QLatin1Char('"') + arg.toString() + QLatin1Char('"');
}

// "Method(arg, ...)": the form of a request in the dry-run file.
QString RequestLine(const QString &method, const QVariantList &args)
{
    QStringList parts;
    for (const QVariant &a : args)
        parts << ArgText(a);
    return method + QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
}

// Inhibitors held by this process: the file descriptor logind hands out
// keeps the lock until it is closed.
struct TInhibitSlot {
    bool Held = false;
    bool DryRun = false;
    QString What;
    QDBusUnixFileDescriptor Fd;
};

enum { kShutdownSlot, kAwakeSlot, kSlotCount };

QMutex gInhibitMutex;
TInhibitSlot gInhibitors[kSlotCount];

bool TakeInhibitor(int slot, const QString &what, const QString &why)
{
    const QVariantList args{what, ProgramName(), why, QStringLiteral("block")};
    TInhibitSlot next;
    next.Held = true;
    next.What = what;
    const QByteArray dryRun = EnvValue("VELKOR_POWER_DRYRUN");
    if (!dryRun.isEmpty()) {
        if (AppendLine(dryRun, RequestLine(QStringLiteral("Inhibit"), args)) != ERROR_SUCCESS)
            return false;
        next.DryRun = true;
    } else {
        QDBusMessage reply;
        if (CallLogind(QStringLiteral("Inhibit"), args, reply, nullptr) != ERROR_SUCCESS || reply.arguments().isEmpty())
            return false;
        next.Fd = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
        if (!next.Fd.isValid())
            return false;
    }
    QMutexLocker lock(&gInhibitMutex);
    // The old lock goes only now, so the reason is never left unguarded.
    gInhibitors[slot] = next;
    return true;
}

bool ReleaseInhibitor(int slot)
{
    TInhibitSlot old;
    {
        QMutexLocker lock(&gInhibitMutex);
        old = gInhibitors[slot];
        gInhibitors[slot] = TInhibitSlot();
    }
    if (!old.Held)
        return false;
    if (old.DryRun) {
        const QByteArray dryRun = EnvValue("VELKOR_POWER_DRYRUN");
        if (!dryRun.isEmpty())
            AppendLine(dryRun, RequestLine(QStringLiteral("CloseInhibitor"), {old.What}));
    }
    return true; // old.Fd closes as it goes out of scope
}

// ---------------------------------------------------------------------------
// Accounts

bool PasswdEntry(uid_t uid, QString *name, QString *home)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size_t(size > 0 ? size : 16384));
    passwd pw{};
    passwd *found = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &pw, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (rc != 0 || !found)
        return false;
    if (name)
        *name = QString::fromUtf8(pw.pw_name);
    if (home)
        *home = DecodeFileName(QByteArray(pw.pw_dir));
    return true;
}

bool GroupId(const char *name, gid_t &gid)
{
    long size = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buf(size_t(size > 0 ? size : 16384));
    group gr{};
    group *found = nullptr;
    int rc;
    while ((rc = getgrnam_r(name, &gr, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 24))
        buf.resize(buf.size() * 2);
    if (rc != 0 || !found)
        return false;
    gid = gr.gr_gid;
    return true;
}

// ---------------------------------------------------------------------------
// Sessions

QByteArray ReadSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64 * 1024);
}

// The logind session of a process: its cgroup path ends in the scope
// "session-<id>.scope" (cgroup v1 and v2 alike).
QString SessionIdFromCgroup(const QByteArray &text)
{
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype start = line.lastIndexOf("/session-");
        if (start < 0)
            continue;
        const qsizetype end = line.indexOf(".scope", start);
        if (end > start + 9)
            return QString::fromUtf8(line.mid(start + 9, end - start - 9));
    }
    return {};
}

// The graphical session of a user: logind names it DISPLAY in the user's
// state file.
QString DisplaySessionOf(const QString &usersDir, uid_t uid)
{
    for (const QByteArray &line : ReadSmallFile(usersDir + QLatin1Char('/') + QString::number(uid)).split('\n'))
        if (line.startsWith("DISPLAY="))
            return QString::fromUtf8(line.mid(8));
    return {};
}

bool ReadSessionFile(const QString &sessionsDir, const QString &id, TLogonSession &s)
{
    // Ids are plain names; anything else must not lead out of the folder.
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.startsWith(QLatin1Char('.')))
        return false;
    QFile f(sessionsDir + QLatin1Char('/') + id);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    s = TLogonSession();
    s.Id = id;
    for (const QByteArray &line : f.read(64 * 1024).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0 || line.startsWith('#'))
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "USER")
            s.UserName = QString::fromUtf8(value);
        else if (key == "ACTIVE")
            s.Active = value == "1";
        else if (key == "REMOTE")
            s.Remote = value == "1";
        else if (key == "CLASS")
            s.Class = QString::fromUtf8(value);
        else if (key == "STATE")
            s.State = QString::fromUtf8(value);
        else if (key == "REALTIME")
            s.RealtimeUsec = value.toLongLong();
    }
    return true;
}

bool IsInteractive(const TLogonSession &s)
{
    return s.Class == QLatin1String("user") && s.State != QLatin1String("closing");
}

// ---------------------------------------------------------------------------
// Version records

constexpr qsizetype kMaxRecord = 4096;
constexpr qint64 kReadChunk = 1 << 20;

bool IsVersionText(const QByteArray &v)
{
    if (v.isEmpty() || v.front() == '.' || v.back() == '.' || v.contains(".."))
        return false;
    return std::all_of(v.begin(), v.end(), [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

QString TrimRight(const QString &s)
{
    qsizetype n = s.size();
    while (n > 0 && s.at(n - 1).isSpace())
        --n;
    return s.left(n);
}

// data points just behind the prefix. A record ends at its NUL; one whose
// version is not digits and dots (the bare prefix in a reader's own code,
// chance bytes) is not a record.
bool ParseRecord(const char *data, qsizetype avail, TFileVersionInfo &info)
{
    const qsizetype limit = std::min(avail, kMaxRecord);
    const char *end = static_cast<const char *>(memchr(data, '\0', size_t(limit)));
    const QByteArray record(data, end ? end - data : limit);
    if (!end && avail > kMaxRecord)
        return false;
    const QList<QByteArray> lines = record.split('\n');
    if (!IsVersionText(lines.constFirst()))
        return false;
    info = TFileVersionInfo();
    info.Version = QString::fromLatin1(lines.constFirst());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = lines[i].left(eq);
        const QString value = TrimRight(QString::fromUtf8(lines[i].mid(eq + 1)));
        if (key == "CompanyName")
            info.Company = value;
        else if (key == "FileDescription")
            info.Description = value;
        else if (key == "InternalName")
            info.InternalName = value;
        else if (key == "LegalCopyright")
            info.Copyright = value;
        else if (key == "Comments")
            info.Comments = value;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Power and session actions

uint32_t RequestPowerAction(TPowerAction action, bool interactive, QString *detail)
{
    if (detail)
        detail->clear();
    QString method;
    QVariantList args;
    switch (action) {
    case TPowerAction::PowerOff: method = QStringLiteral("PowerOff"); break;
    case TPowerAction::Reboot: method = QStringLiteral("Reboot"); break;
    case TPowerAction::Suspend: method = QStringLiteral("Suspend"); break;
    case TPowerAction::Hibernate: method = QStringLiteral("Hibernate"); break;
    case TPowerAction::LockSession: method = QStringLiteral("LockSession"); break;
    case TPowerAction::TerminateSession: method = QStringLiteral("TerminateSession"); break;
    }
    if (action == TPowerAction::LockSession || action == TPowerAction::TerminateSession)
        args << QString(); // logind reads an empty id as the caller's own session
    else
        args << interactive;

    const QByteArray dryRun = EnvValue("VELKOR_POWER_DRYRUN");
    if (!dryRun.isEmpty()) {
        const uint32_t rc = AppendLine(dryRun, RequestLine(method, args));
        if (rc != ERROR_SUCCESS && detail)
            *detail = QString::fromUtf8(SysErrorText(rc));
        return rc;
    }
    QDBusMessage reply;
    return CallLogind(method, args, reply, detail);
}

bool SuspendComputer(bool Hibernate, bool /*Force*/, bool /*DisableWakeEvent*/, uint32_t *error)
{
    const uint32_t rc = RequestPowerAction(Hibernate ? TPowerAction::Hibernate : TPowerAction::Suspend);
    if (error)
        *error = rc;
    return rc == ERROR_SUCCESS;
}

bool SetShutdownBlockReason(const QString &Reason)
{
    return TakeInhibitor(kShutdownSlot, QStringLiteral("shutdown"), Reason);
}

bool ClearShutdownBlockReason()
{
    return ReleaseInhibitor(kShutdownSlot);
}

bool SetKeepAwake(bool Display, const QString &Reason)
{
    return TakeInhibitor(kAwakeSlot, Display ? QStringLiteral("sleep:idle") : QStringLiteral("sleep"), Reason);
}

bool ClearKeepAwake()
{
    return ReleaseInhibitor(kAwakeSlot);
}

void SetSystemBusAddressForTesting(const QString &address)
{
    QMutexLocker lock(&gBusMutex);
    if (gTestBusAddress != address)
        QDBusConnection::disconnectFromBus(kTestBusName);
    gTestBusAddress = address;
}

// ---------------------------------------------------------------------------
// Event log

uint32_t WriteEventLog(const QString &Source, uint16_t EventType, uint16_t Category, uint32_t EventId,
                       const QStringList &Strings)
{
    const QString source = Source.isEmpty() ? QStringLiteral("Velkor") : Source;
    int priority = LOG_INFO;
    QString typeName = QStringLiteral("information");
    switch (EventType) {
    case eltSuccess: typeName = QStringLiteral("success"); break;
    case eltError: priority = LOG_ERR; typeName = QStringLiteral("error"); break;
    case eltWarning: priority = LOG_WARNING; typeName = QStringLiteral("warning"); break;
    case eltAuditSuccess: priority = LOG_NOTICE; typeName = QStringLiteral("audit-success"); break;
    case eltAuditFailure: priority = LOG_WARNING; typeName = QStringLiteral("audit-failure"); break;
    default: break;
    }
    const QString eventId = QStringLiteral("0x") + QString::number(EventId, 16).rightJustified(8, QLatin1Char('0')).toUpper();
    const QString text = Strings.join(QLatin1Char('\n'));

    const QByteArray file = EnvValue("VELKOR_EVENTLOG");
    if (!file.isEmpty()) {
        QString escaped = text;
        escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('\r'), QStringLiteral("\\r"))
            .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        // Concatenated, not arg()-chained: the texts may hold "%1" themselves.
        const QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + source
            + QLatin1Char('[') + QString::number(getpid()) + QStringLiteral("] ") + typeName + QLatin1Char(' ')
            + QString::number(Category) + QLatin1Char(' ') + eventId + QStringLiteral(": ") + escaped;
        return AppendLine(file, line);
    }

    static QMutex mutex;
    QMutexLocker lock(&mutex);
    const QByteArray ident = source.toUtf8(); // openlog keeps the pointer until closelog
    QString message = QStringLiteral("Event ") + eventId + QStringLiteral(" (category ") + QString::number(Category)
        + QLatin1Char(')');
    if (!text.isEmpty())
        message += QStringLiteral(": ") + text;
    openlog(ident.constData(), LOG_PID, LOG_USER);
    syslog(priority, "%s", message.toUtf8().constData());
    closelog();
    return ERROR_SUCCESS;
}

bool EventSourceExists(const QString & /*Source*/)
{
    return true;
}

// ---------------------------------------------------------------------------
// User and process identity

QString LogonUserName()
{
    QString name;
    if (PasswdEntry(geteuid(), &name, nullptr) && !name.isEmpty())
        return name;
    return QString::number(geteuid());
}

QString QualifiedUserName()
{
    return LogonUserName();
}

QString LocalComputerName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof(buf) - 1) != 0)
        return {};
    QString name = QString::fromUtf8(buf);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString UserSidText()
{
    return QStringLiteral("S-1-22-1-%1").arg(geteuid());
}

bool IsMemberOfBuiltinGroup(uint32_t Rid)
{
    if (Rid == kUsersGroupRid)
        return true;
    if (Rid != kAdminsGroupRid)
        return false;
    if (geteuid() == 0)
        return true;
    std::vector<gid_t> groups(size_t(std::max(getgroups(0, nullptr), 0)) + 1);
    const int n = getgroups(int(groups.size()), groups.data());
    groups.resize(size_t(std::max(n, 0)));
    groups.push_back(getegid());
    for (const char *name : {"sudo", "wheel", "admin"}) {
        gid_t gid;
        if (GroupId(name, gid) && std::find(groups.begin(), groups.end(), gid) != groups.end())
            return true;
    }
    return false;
}

bool IsAdminGroupMember()
{
    return IsMemberOfBuiltinGroup(kAdminsGroupRid);
}

bool IsProcessElevated()
{
    return geteuid() == 0;
}

bool EnablePrivilege(const QString & /*Name*/, bool /*Enable*/)
{
    return true;
}

// ---------------------------------------------------------------------------
// Folders

QString SystemDirectory()
{
    return QStringLiteral("/usr/bin");
}

QString TempDirectory()
{
    QString dir = DecodeFileName(EnvValue("TMPDIR"));
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp");
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString UserProfileDirectory()
{
    QString home = DecodeFileName(EnvValue("HOME"));
    if (home.isEmpty())
        PasswdEntry(geteuid(), nullptr, &home);
    while (home.size() > 1 && home.endsWith(QLatin1Char('/')))
        home.chop(1);
    return home.isEmpty() ? QStringLiteral("/") : home;
}

QString AllUsersProfileDirectory()
{
    return QStringLiteral("/etc/xdg");
}

QString PublicDirectory()
{
    return QStringLiteral("/srv");
}

// ---------------------------------------------------------------------------
// Windows of other programs

bool ListAppWindows(QStringList & /*Captions*/, QList<uintptr_t> & /*Handles*/)
{
    return false;
}

uintptr_t TopAppWindow()
{
    return 0;
}

uintptr_t SecondAppWindow()
{
    return 0;
}

// ---------------------------------------------------------------------------
// Sessions

bool CurrentLogonSession(TLogonSession &Session, const QString &sessionsDir, const QString &procDir,
                         const QString &usersDir)
{
    Session = TLogonSession();
    QString id = SessionIdFromCgroup(ReadSmallFile(procDir + QStringLiteral("/self/cgroup")));
    if (id.isEmpty())
        id = DisplaySessionOf(usersDir, geteuid());
    TLogonSession s;
    if (!ReadSessionFile(sessionsDir, id, s) || !IsInteractive(s) || !s.Active)
        return false;
    Session = s;
    return true;
}

bool ListLogonSessions(QList<TLogonSession> &Sessions, const QString &sessionsDir, const QString &procDir)
{
    Sessions.clear();
    QDir dir(sessionsDir);
    if (!dir.exists() || !dir.isReadable())
        return false;
    const QString self = QFileInfo(QFileInfo(procDir + QStringLiteral("/self")).symLinkTarget()).fileName();
    QSet<QString> ids;
    const QStringList pids = QDir(procDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (pid == self || pid.isEmpty() || !std::all_of(pid.begin(), pid.end(), [](QChar c) { return c.isDigit(); }))
            continue;
        const QString id = SessionIdFromCgroup(ReadSmallFile(procDir + QLatin1Char('/') + pid + QStringLiteral("/cgroup")));
        if (!id.isEmpty())
            ids.insert(id);
    }
    QStringList sorted(ids.begin(), ids.end());
    sorted.sort();
    for (const QString &id : sorted) {
        TLogonSession s;
        if (ReadSessionFile(sessionsDir, id, s) && IsInteractive(s))
            Sessions << s;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Version records

bool ReadFileVersionInfo(const QString &FileName, TFileVersionInfo &Info)
{
    Info = TFileVersionInfo();
    TFile file;
    if (file.Open(FileName, TFile::faRead) != ERROR_SUCCESS)
        return false;
    const QByteArray prefix("VELKOR-VERSION:");
    QByteArray data;
    qsizetype from = 0;
    bool eof = false;
    while (true) {
        const qsizetype old = data.size();
        data.resize(old + kReadChunk);
        int64_t done = 0;
        if (file.Read(data.data() + old, kReadChunk, done) != ERROR_SUCCESS)
            return false;
        data.resize(old + qsizetype(done));
        eof = done == 0;

        qsizetype hit;
        while ((hit = data.indexOf(prefix, from)) >= 0) {
            const qsizetype body = hit + prefix.size();
            if (!eof && data.size() - body <= kMaxRecord)
                break; // the record may go on in the next chunk
            if (ParseRecord(data.constData() + body, data.size() - body, Info))
                return true;
            from = hit + 1;
        }
        if (eof)
            return false;
        // Keep a candidate still open, else the tail that may start a prefix.
        const qsizetype keep = hit >= 0 ? hit : std::max(from, data.size() - prefix.size() + 1);
        data.remove(0, std::max<qsizetype>(keep, 0));
        from = 0;
    }
}

bool ParseVersionRecord(const char *Record, TFileVersionInfo &Info)
{
    static const char kPrefix[] = "VELKOR-VERSION:";
    if (!Record || std::strncmp(Record, kPrefix, sizeof(kPrefix) - 1) != 0)
        return false;
    const char *body = Record + sizeof(kPrefix) - 1;
    return ParseRecord(body, qsizetype(std::strlen(body)) + 1, Info);
}

QString ReadFileVersionText(const QString &FileName, const QString &Default)
{
    TFileVersionInfo info;
    if (!ReadFileVersionInfo(FileName, info))
        return Default;
    const qsizetype dot = info.Version.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? info.Version.left(dot) : info.Version;
}

} // namespace vl
