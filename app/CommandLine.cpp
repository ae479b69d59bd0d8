#include "app/CommandLine.h"

#include "core/CommandLine.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"
#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <climits>
#include <cmath>
#include <iterator>

namespace vl {

bool CmdLineValid = true;

namespace {

// The check order of the full parse; the first match wins.
constexpr TSwitchKeyword kSwitchKeywords[] = {
    {"portable", false, TSwitch::swPortable},
    {"end", true, TSwitch::swEnd},
    {"suspend", true, TSwitch::swSuspend},
    {"sched", false, TSwitch::swSched},
    {"startapp", true, TSwitch::swStartApp},
    {"speed", true, TSwitch::swSpeed},
    {"ini", true, TSwitch::swIni},
    {"zipname", true, TSwitch::swZipName},
    {"taskdir", true, TSwitch::swTaskDir},
    {"backupdir", true, TSwitch::swBackupDir},
    {"directory", true, TSwitch::swDirectory},
    {"tempdir", true, TSwitch::swTempDir},
    {"delay", true, TSwitch::swDelay},
    {"timeslot", true, TSwitch::swTimeSlot},
    {"gap", true, TSwitch::swGap},
    {"status", true, TSwitch::swStatus},
    {"wait", true, TSwitch::swWait},
    {"xinst", true, TSwitch::swXInst},
    {"mode", true, TSwitch::swMode},
    {"lang", true, TSwitch::swLang},
    {"logmode", true, TSwitch::swLogMode},
    {"logdir", true, TSwitch::swLogDir},
    {"noaction", false, TSwitch::swNoAction},
    {"erractions", true, TSwitch::swErrActions},
    {"edit", false, TSwitch::swEdit},
    {"prompt", true, TSwitch::swPrompt},
    {"quiet", false, TSwitch::swQuiet},
    {"hide", false, TSwitch::swHide},
    {"nosound", false, TSwitch::swNoSound},
    {"noupdate", false, TSwitch::swNoUpdate},
    {"dark", false, TSwitch::swDark},
    {"noscale", false, TSwitch::swNoScale},
    {"stay", false, TSwitch::swStay},
    {"disable", false, TSwitch::swDisable},
    {"parallel", false, TSwitch::swParallel},
    {"user", true, TSwitch::swUser},
    {"auto", false, TSwitch::swAuto},
    {"showlog", false, TSwitch::swShowLog},
    {"force", false, TSwitch::swForce},
    {"clean", false, TSwitch::swClean},
    {"verify", false, TSwitch::swVerify},
    {"restore", false, TSwitch::swRestore},
    {"repldrive", true, TSwitch::swReplDrive},
    {"retain", false, TSwitch::swRetain},
    {"reset", false, TSwitch::swReset},
    {"elevate", false, TSwitch::swElevate},
};

// The index of the first keyword that Value abbreviates (lower-cased), or
// -1: the values of "end:", "prompt:" and the others follow the switch rule.
template <size_t N>
int MatchValue(const QString &Value, const char *const (&Keywords)[N])
{
    for (size_t i = 0; i < N; ++i)
        if (IsOptionAbbrev(Value, QLatin1String(Keywords[i])))
            return int(i);
    return -1;
}

bool IsAllDigits(const QString &s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

int NumberOrDefault(const QString &Value, int Default)
{
    bool ok = false;
    const int n = Value.trimmed().toInt(&ok);
    return ok ? n : Default;
}

// Days as written after "D" and "O": digits only.
bool ReadDays(const QString &Text, int &Days)
{
    if (!IsAllDigits(Text))
        return false;
    bool ok = false;
    Days = Text.toInt(&ok);
    return ok;
}

} // namespace

TSwitch MatchSwitch(const QString &Text, QString &Value)
{
    for (const TSwitchKeyword &k : kSwitchKeywords) {
        QString v = Text;
        if (k.WithValue ? IsOptionWithValue(v, QLatin1String(k.Keyword)) : IsOptionAbbrev(v, QLatin1String(k.Keyword))) {
            Value = k.WithValue ? v : QString();
            return k.Switch;
        }
    }
    Value.clear();
    return TSwitch::swNone;
}

// ---- Argument files and pre-scan ------------------------------------------------

QString ReadArgumentFile(const QString &FileName)
{
    QString name = FileName;
    if (!PathExists(name, true) && !HasAbsolutePath(name))
        name = ProgramPath + name;
    QByteArray data;
    if (ReadFileBytes(name, data) != 0) {
        if (CmdLineValid)
            ShowErrorBox(QStringLiteral("Velkor\r\n") + GuardedFormat(Tr("File\r\n\"%s\"\r\nnot found!"), name), 0);
        CmdLineValid = false;
        return QString();
    }
    QStringList entries;
    const QStringList lines = DecodeText(data).split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    for (const QString &line : lines) {
        const qsizetype semi = line.indexOf(QLatin1Char(';'));
        const QString entry = (semi < 0 ? line : line.left(semi)).trimmed();
        if (!entry.isEmpty())
            entries << entry;
    }
    return entries.join(QLatin1Char('|'));
}

QStringList ExpandArgumentFiles(const QStringList &Args)
{
    QStringList result;
    for (const QString &arg : Args) {
        if (!arg.startsWith(QLatin1Char('@'))) {
            result << arg;
            continue;
        }
        const QString entries = ReadArgumentFile(arg.mid(1));
        if (!entries.isEmpty())
            result << entries.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    }
    return result;
}

QString PreScanArgument(const QString &Arg, uint8_t &Flags)
{
    if (!IsSwitchArgument(Arg))
        return Arg;
    QString value;
    switch (MatchSwitch(Arg.mid(1), value)) {
    case TSwitch::swForce:
    case TSwitch::swClean:
    case TSwitch::swRestore:
    case TSwitch::swVerify:
    case TSwitch::swShowLog:
    case TSwitch::swDirectory:
        Flags |= kPreScanBatch;
        break;
    case TSwitch::swAuto:
        Flags |= kPreScanAuto;
        break;
    case TSwitch::swEdit:
        Flags |= kPreScanEdit;
        break;
    case TSwitch::swIni:
    case TSwitch::swPortable:
        Flags |= kPreScanOwnIni;
        break;
    case TSwitch::swEnd:
        Flags |= kPreScanEnd;
        break;
    case TSwitch::swElevate:
        Flags |= kPreScanElevate;
        return QString();
    default:
        break;
    }
    return Arg;
}

uint8_t PreScanCommandLine(const QStringList &Args, QString &Joined)
{
    uint8_t flags = 0;
    Joined.clear();
    for (const QString &arg : ExpandArgumentFiles(Args)) {
        const QString kept = PreScanArgument(arg, flags);
        if (!kept.isEmpty())
            Joined += QLatin1Char(' ') + kept;
    }
    return flags;
}

QString FirstTaskArgument(const QStringList &Args)
{
    for (const QString &arg : Args)
        if (!arg.isEmpty() && !arg.startsWith(QLatin1Char('@')) && !IsSwitchArgument(arg))
            return arg;
    return QString();
}

// ---- Value parsers --------------------------------------------------------------

bool ParseDate8(QString &Text, TDateTime &Date)
{
    const QString part = Text.left(8);
    Text.remove(0, part.size());
    if (part.size() < 8 || !IsAllDigits(part))
        return false;
    return TryEncodeDate(part.left(4).toInt(), part.mid(4, 2).toInt(), part.mid(6, 2).toInt(), Date);
}

void ParseTimePeriod(const QString &Value, TTimePeriod &Period)
{
    const TDateTime today = std::floor(Now());
    Period.Mode = TTimeMode::tmOff;
    Period.TmRef = TTimeRef::trModify;
    Period.Dat1 = today - 1;
    Period.Dat2 = today;
    Period.DayTime = 0.25;
    Period.Days = 1;
    if (Value.isEmpty())
        return;
    QString s = Value;
    const QChar ref = s[0].toUpper();
    if (ref == QLatin1Char('C') || ref == QLatin1Char('B')) {
        Period.TmRef = ref == QLatin1Char('C') ? TTimeRef::trCreate : TTimeRef::trBoth;
        s.remove(0, 1);
        if (s.isEmpty()) {
            Period.Mode = TTimeMode::tmError;
            return;
        }
    }
    const QChar c = s[0].toUpper();
    bool ok = true;
    if (c.isDigit() && c.unicode() < 128) {
        ok = ParseDate8(s, Period.Dat1);
        if (ok) {
            if (s.isEmpty()) {
                Period.Dat2 = Period.Dat1;
            } else {
                s.remove(0, 1);
                ok = ParseDate8(s, Period.Dat2);
            }
        }
        Period.Mode = TTimeMode::tmSpan;
    } else if (c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('T')) {
        s.remove(0, 1);
        ok = ParseDate8(s, c == QLatin1Char('-') ? Period.Dat2 : Period.Dat1);
        Period.Mode = c == QLatin1Char('+') ? TTimeMode::tmNewer
                      : c == QLatin1Char('-') ? TTimeMode::tmOlder
                                              : TTimeMode::tmToday;
    } else if (c == QLatin1Char('D') || c == QLatin1Char('O')) {
        ok = ReadDays(s.mid(1), Period.Days);
        Period.Mode = c == QLatin1Char('D') ? TTimeMode::tmLastDays : TTimeMode::tmPrevDays;
    } else if (c == QLatin1Char('U')) {
        Period.Mode = TTimeMode::tmUpdate;
    } else {
        Period.Mode = TTimeMode::tmPrompt;
    }
    if (!ok)
        Period.Mode = TTimeMode::tmError;
}

int ParseStartDelay(const QString &Value, const TRandomSource &Random)
{
    qsizetype n = 0;
    while (n < Value.size() && Value[n] >= QLatin1Char('0') && Value[n] <= QLatin1Char('9'))
        ++n;
    // Digits beyond what a delay can sensibly be are held at the maximum.
    int64_t delay = 0;
    for (qsizetype i = 0; i < n; ++i)
        delay = std::min<int64_t>(delay * 10 + (Value[i].unicode() - '0'), INT_MAX);
    const QString unit = Value.mid(n, 2).toLower();
    if (unit.contains(QLatin1Char('m')))
        delay = std::min<int64_t>(delay * 60, INT_MAX);
    if (unit.contains(QLatin1Char('r')) && delay > 0) {
        const int max = int(delay);
        delay = Random ? Random(max) : QRandomGenerator::global()->bounded(max) + 1;
    }
    return int(delay);
}

// ---- Full parse -----------------------------------------------------------------

void TMainCommandLine::ParseCommandLine(const QStringList &Args)
{
    if (!CmdLineValid)
        return;
    // All files are read first, so a missing one leaves every field alone.
    const QStringList args = ExpandArgumentFiles(Args);
    if (!CmdLineValid)
        return;
    for (const QString &arg : args)
        ParseArgument(arg);
}

void TMainCommandLine::ParseArgument(const QString &Arg)
{
    // Empty items would only give empty task names; argument files are
    // expanded by ParseCommandLine and not nested.
    if (Arg.isEmpty() || Arg.startsWith(QLatin1Char('@')))
        return;
    if (!IsSwitchArgument(Arg)) {
        if (!CmdTasks.isEmpty())
            CmdTasks += QLatin1Char(',');
        // Quotes inside are doubled, so SplitNextQuotedToken gives the name
        // back as it was.
        CmdTasks += QuoteIfContainsChar(Arg, QStringLiteral(" ,\""));
        return;
    }
    QString value;
    const TSwitch sw = MatchSwitch(Arg.mid(1), value);
    switch (sw) {
    case TSwitch::swNone:
    case TSwitch::swLang:
    case TSwitch::swElevate:
        break;
    case TSwitch::swPortable: {
        IsPortable = true;
        const QString prog = QStringLiteral("%progpath%");
        if (IniName.isEmpty())
            IniName = prog + QLatin1Char('/') + ProgramName + QStringLiteral(".ini");
        if (DirName.isEmpty())
            DirName = prog + QStringLiteral("/tasks");
        if (LDir.isEmpty())
            LDir = prog + QStringLiteral("/logs");
        break;
    }
    case TSwitch::swEnd: {
        static const char *const modes[] = {"shutdown", "lockdown", "logoff",  "hybrid",   "restart",
                                            "poweroff", "idleoff",  "standby", "hibernate"};
        switch (MatchValue(value, modes)) {
        case 0: LogOffMode = TDownMode::dmShutdown; break;
        case 1: LogOffMode = TDownMode::dmShutdown; LockDown = true; break;
        case 2: LogOffMode = TDownMode::dmLogOff; break;
        case 3: LogOffMode = TDownMode::dmHybrid; break;
        case 4: LogOffMode = TDownMode::dmRestart; break;
        case 5: LogOffMode = TDownMode::dmPowerOff; break;
        case 6: LogOffMode = TDownMode::dmIdleOff; break;
        case 7: SuspendMode = TSuspendMode::smStandby; break;
        case 8: SuspendMode = TSuspendMode::smHibernate; break;
        default: break;
        }
        break;
    }
    case TSwitch::swSuspend: {
        static const char *const modes[] = {"standby", "hibernate"};
        const int m = MatchValue(value, modes);
        if (m >= 0)
            SuspendMode = m == 0 ? TSuspendMode::smStandby : TSuspendMode::smHibernate;
        break;
    }
    case TSwitch::swSched:
        StartedBy = 1;
        break;
    case TSwitch::swStartApp: {
        static const char *const apps[] = {"scheduler", "morvane", "vlstarter", "zuvivaze", "vavuz"};
        const int a = MatchValue(value, apps);
        if (a >= 0)
            StartedBy = a + 1;
        break;
    }
    case TSwitch::swSpeed: {
        static const char *const speeds[] = {"fast", "slow"};
        const int s = MatchValue(value, speeds);
        if (s >= 0)
            BuThPr = s == 0 ? TThreadPriority::tpHigher : TThreadPriority::tpLowest;
        break;
    }
    case TSwitch::swIni: IniName = ExpandEnvVariables(value); break;
    case TSwitch::swZipName: AltZip = ExpandEnvVariables(value); break;
    case TSwitch::swTaskDir: DirName = ExpandEnvVariables(value); break;
    case TSwitch::swBackupDir: SubDir = ExpandEnvVariables(value); break;
    case TSwitch::swDirectory:
        SDir = ExpandEnvVariables(value);
        ForceTask = true;
        break;
    case TSwitch::swTempDir: TDir = ExpandEnvVariables(value); break;
    case TSwitch::swDelay: StartDelay = ParseStartDelay(value, Random); break;
    case TSwitch::swTimeSlot:
    case TSwitch::swGap:
        ParseTimePeriod(value, tp);
        break;
    case TSwitch::swStatus: {
        static const char *const styles[] = {"normal", "behind", "ontop"};
        switch (MatchValue(value, styles)) {
        case 0: StatusStyle = TStatusStyle::ssNormal; break;
        case 1: StatusStyle = TStatusStyle::ssBehind; break;
        case 2: StatusStyle = TStatusStyle::ssOnTop; break;
        default: break;
        }
        break;
    }
    case TSwitch::swWait: Wt = NumberOrDefault(value, 5); break;
    case TSwitch::swXInst: VlInstance = NumberOrDefault(value, 0); break;
    case TSwitch::swMode: {
        static const char *const modes[] = {"full", "differential", "incremental"};
        const int m = MatchValue(value, modes);
        if (m >= 0)
            BuM = m + 1;
        break;
    }
    case TSwitch::swLogMode: Pm = NumberOrDefault(value, 0); break;
    case TSwitch::swLogDir: LDir = ExpandEnvVariables(value); break;
    case TSwitch::swNoAction: AllowAction = false; break;
    case TSwitch::swErrActions: {
        bool ok = false;
        const uint32_t mask = value.trimmed().toUInt(&ok);
        NoActionOnError = ok ? mask : 0;
        break;
    }
    case TSwitch::swEdit: DoEdit = true; break;
    case TSwitch::swPrompt: {
        static const char *const modes[] = {"wait", "quiet", "error", "silent"};
        switch (MatchValue(value, modes)) {
        case 0: InterActiveMode = TInteraction::iaPrompt; break;
        case 1: InterActiveMode = TInteraction::iaQuiet; break;
        case 2: InterActiveMode = TInteraction::iaErrorPrompt; break;
        case 3: InterActiveMode = TInteraction::iaQuietError; break;
        default: InterActiveMode = TInteraction::iaDelay; break;
        }
        break;
    }
    case TSwitch::swQuiet: InterActiveMode = TInteraction::iaQuiet; break;
    case TSwitch::swHide: NoSplash = true; break;
    case TSwitch::swNoSound: SoundOn = false; break;
    case TSwitch::swNoUpdate: UpdateCheck = false; break;
    case TSwitch::swDark: UseDarkMode = true; break;
    case TSwitch::swNoScale: AppTag = 1; break;
    case TSwitch::swStay: StayRun = true; break;
    case TSwitch::swDisable: NoAutoMenu = true; break;
    case TSwitch::swParallel: BuParallel = true; break;
    case TSwitch::swUser: {
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        User = colon < 0 ? value : value.left(colon);
        if (colon >= 0)
            Pwd = value.mid(colon + 1);
        break;
    }
    case TSwitch::swAuto:
    case TSwitch::swShowLog:
    case TSwitch::swForce:
    case TSwitch::swClean:
    case TSwitch::swVerify:
    case TSwitch::swRestore:
        // A later start mode replaces an earlier one.
        StartTask = sw == TSwitch::swAuto;
        ProtTask = sw == TSwitch::swShowLog;
        ForceTask = sw == TSwitch::swForce;
        CleanTask = sw == TSwitch::swClean;
        VerifyTask = sw == TSwitch::swVerify;
        RestTask = sw == TSwitch::swRestore;
        break;
    case TSwitch::swReplDrive: ReplSDrv = value; break;
    case TSwitch::swRetain: DelTemp = false; break;
    case TSwitch::swReset: ResetForm = true; break;
    }
}

} // namespace vl
