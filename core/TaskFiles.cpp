#include "core/TaskFiles.h"

#include "core/Destinations.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/ProgramTexts.h"
#include "core/Settings.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"

#include <QStringList>

#include <climits>

namespace vl {

namespace {

const QString kGlobal = QStringLiteral("Global");
const QString kTaskName = QStringLiteral("%taskname%");
const QString kDest = QStringLiteral("%dest%");
const QString kCrLf = QStringLiteral("\r\n");

// The task's name: its file name without folder and extension.
QString TaskNameOf(const QString &TaskFile)
{
    return StripExtension(LastPathElement(TaskFile));
}

QString ReplaceTaskName(const QString &s, const QString &TaskFile)
{
    return QString(s).replace(kTaskName, TaskNameOf(TaskFile), Qt::CaseInsensitive);
}

bool StartsWithDest(const QString &s)
{
    return s.startsWith(kDest, Qt::CaseInsensitive);
}

QString InLogFolder(const QString &name)
{
    return HasAbsolutePath(name) ? name : JoinPath(GetLogFolder(), name);
}

QString WithoutTrailingDelimiter(const QString &s)
{
    return s.size() > 1 && s.endsWith(QLatin1Char('/')) ? s.left(s.size() - 1) : s;
}

} // namespace

QString GetTaskLogFileName(const QString &TaskFile)
{
    if (TaskFile.isEmpty() || !XlFileExists(TaskFile, true))
        return ProgramLogName;
    const TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(TaskFile);
    QString name = ini.ReadString(kGlobal, QStringLiteral("LogName"), QString());
    if (name.isEmpty())
        return ProgramLogName;
    name = ReplaceTaskName(name, TaskFile);
    const QString dest = ini.ReadString(kGlobal, QStringLiteral("Destination"), QString());
    if (StartsWithDest(name) && IsVolumeLabelPathAvailable(dest)) {
        const int count = ini.ReadInteger(kGlobal, QStringLiteral("BackupCount"), 1);
        const QString volume = ini.ReadString(QStringLiteral("Dir000"), QStringLiteral("Volume"), QString());
        name = ExpandLogPlaceHolders(name, ExpandDestPlaceHolders(ResolvedVolumePath(dest, false), volume, count));
    } else {
        name = ExpandLogPlaceHolders(name, dest);
    }
    if (StartsWithDest(name))
        return name;
    return InLogFolder(name);
}

QString ReadLogFileName(const QString &Section, const QString &TaskFile)
{
    if (TaskFile.isEmpty() || !XlFileExists(TaskFile, true))
        return ProgramLogName;
    const QString name =
        TUnicodeIniFile::CreateForRead(TaskFile).ReadString(Section, QStringLiteral("LogName"), QString());
    if (name.isEmpty())
        return ProgramLogName;
    return InLogFolder(ReplaceTaskName(ExpandLogPlaceHolders(name, QString()), TaskFile));
}

QString ExpandLogName(const QString &Template, const QString &TaskFile, const QString &Dest, bool MakeAbsolute)
{
    if (Template.isEmpty())
        return QString();
    QString name = Template;
    if (name.contains(kTaskName, Qt::CaseInsensitive)) {
        if (TaskFile.isEmpty())
            return QString();
        name = ReplaceTaskName(name, TaskFile);
    }
    if (!StartsWithDest(name))
        name = ExpandLogPlaceHolders(name, Dest);
    else if (IsVolumeLabelPathAvailable(Dest))
        name = ExpandLogPlaceHolders(name, ResolvedVolumePath(Dest, false));
    else
        name = ProgramLogName;
    if (MakeAbsolute && !HasAbsolutePath(name))
        name = JoinPath(GetLogFolder(), name);
    return name;
}

QString ExpandTaskLogName(const QString &Template, const QString &TaskFile)
{
    return ExpandLogName(Template, TaskFile, QString(), false);
}

QString ExpandTaskLogNameForDest(const QString &Template, const QString &TaskFile, const QString &Dest)
{
    return ExpandLogName(Template, TaskFile, Dest, false);
}

QString ExpandTaskLogNameAbs(const QString &Template, const QString &TaskFile, bool MakeAbsolute)
{
    return ExpandLogName(Template, TaskFile, QString(), MakeAbsolute);
}

QString TaskSourcesSummary(const TUnicodeIniFile &IniFile)
{
    const int count = IniFile.ReadInteger(kGlobal, QStringLiteral("DirCount"), 0);
    if (count < 1)
        return Tr("No directory specified!");
    QStringList lines;
    int64_t files = 0;
    int64_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString section = GuardedFormat(QStringLiteral("Dir%.3d"), i);
        if (!IniFile.ReadBool(section, QStringLiteral("Enabled"), false))
            continue;
        const QString source = PathWithVolumeLabel(IniFile.ReadString(section, QStringLiteral("Source"), QString()),
                                                   IniFile.ReadString(section, QStringLiteral("Volume"), QString()));
        lines << QStringLiteral("  ") + WithoutTrailingDelimiter(source);
        files += IniFile.ReadInt64(section, QStringLiteral("FileCount"), 0);
        const int64_t high = IniFile.ReadInt64(section, QStringLiteral("ByteCountH"), 0);
        const int64_t low = IniFile.ReadInt64(section, QStringLiteral("ByteCountL"), 0) & 0xFFFFFFFF;
        bytes += high * (int64_t(1) << 32) + low;
    }
    QString text = lines.join(kCrLf);
    if (!lines.isEmpty())
        text += kCrLf;
    const int n = files > INT_MAX ? INT_MAX : int(files);
    return text + QStringLiteral("  ")
        + CountTextWithArg(Tr("No files"), Tr("1 file totaling %s"), Tr("%u files totaling %s"), n,
                           ByteSizeText(false, bytes), true);
}

QString TaskModeSummary(const TUnicodeIniFile &IniFile)
{
    const QString backupMode = Tr("Backup mode") + QStringLiteral(": ");
    if (IniFile.ReadBool(kGlobal, QStringLiteral("ClearDest"), false)) {
        const int mode = (IniFile.ReadBool(kGlobal, QStringLiteral("ArchBit"), false) ? 1 : 0)
            + (IniFile.ReadBool(kGlobal, QStringLiteral("UseArch"), false) ? 2 : 0);
        switch (mode) {
        case 1: return backupMode + Tr("Full (new)");
        case 2: return backupMode + Tr("Differential");
        case 3: return backupMode + Tr("Incremental");
        default: return backupMode + Tr("Update");
        }
    }
    const int sync = IniFile.ReadInteger(kGlobal, QStringLiteral("SyncMode"), 0);
    if (sync == 0)
        return backupMode + Tr("Update");
    QString syncText;
    switch (sync) {
    case 1: syncText = Tr("All files"); break;
    case 2: syncText = Tr("Selected files, retain other"); break;
    case 3: syncText = Tr("Selected files, delete other"); break;
    default: syncText = Tr("Off"); break;
    }
    return Tr("Update") + QLatin1Char('/') + Tr("Synchronize") + QStringLiteral(" - ") + syncText;
}

QString ExpandTaskFileName(const QString &Name, const QString &DefaultExt)
{
    if (Name.isEmpty())
        return QString();
    return ForceExtension(AbsolutePath(TaskFolder, ExpandFolderPlaceHolders(Name)), DefaultExt, 0);
}

QString TaskKindText(const QString &TaskFile)
{
    const QString ext = ExtensionOf(CommaFieldAt(TaskFile, 0));
    if (ext.compare(QLatin1String("vfj"), Qt::CaseInsensitive) == 0)
        return Tr("Verify task");
    if (ext.compare(QLatin1String("rsj"), Qt::CaseInsensitive) == 0)
        return Tr("Restore task");
    if (ext.compare(QLatin1String("cuj"), Qt::CaseInsensitive) == 0)
        return Tr("Cleanup task");
    return Tr("Backup task");
}

QString CommaFieldAt(const QString &Text, int Position)
{
    // 0-based index of the character at Position, kept inside the text.
    const qsizetype at = qBound(qsizetype(0), qsizetype(Position) - 1, Text.size());
    const qsizetype start = at == 0 ? 0 : Text.lastIndexOf(QLatin1Char(','), at - 1) + 1;
    qsizetype end = Text.indexOf(QLatin1Char(','), at);
    if (end < 0)
        end = Text.size();
    return Text.mid(start, end - start);
}

QString DefaultZipName()
{
    return QStringLiteral("VL-Zip-%date%");
}

QString TaskListName(const QString &TaskFile)
{
    return RelativePathTo(TaskFolder, TaskFile);
}

} // namespace vl
