#include "core/ProgramEnv.h"

#include "core/DateTime.h"
#include "core/FileTimes.h"
#include "core/FileUtils.h"
#include "core/PathUtils.h"
#include "core/Registry.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/sysmacros.h>
#include <unistd.h>

#include <exception>

namespace vl {

namespace {

QString ExecutablePath()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || n >= ssize_t(sizeof buf))
        return QString();
    return DecodeFileName(buf, n);
}

QString ExecutableFolder()
{
    const QString exe = ExecutablePath();
    return exe.isEmpty() ? QString() : WithTrailingDelimiter(ParentDirectory(exe));
}

QString ReadSysfsText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

} // namespace

QString ProgramPath = ExecutableFolder();
QString ProgramName = StripExtension(LastPathElement(ExecutablePath()));
QString SettingsSubPath;
TFileVersionInfo ProgramInfo;
const char *OwnVersionRecord = nullptr;

QString AppDataDirectory()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.startsWith(QLatin1Char('/')))
        return config.size() > 1 ? StripTrailingChar(config, QLatin1Char('/')) : config;
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return QString();
    return JoinPath(home, QStringLiteral(".config"));
}

QString DocumentsDirectory()
{
    if (qEnvironmentVariableIsEmpty("HOME"))
        return QString();
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

QString ProgramFilesDirectory()
{
    return ProgramPath.isEmpty() ? QString() : ParentDirectory(ProgramPath);
}

QString UserSettingsDirectory(const QString &RelPath, bool CreateIt)
{
    const QString appData = AppDataDirectory();
    if (appData.isEmpty())
        return ProgramPath;
    const QString dir = WithTrailingDelimiter(appData) + RelPath;
    if (CreateIt && MakeDirs(dir) != 0)
        return ProgramPath;
    return dir;
}

QString VersionNumber(const QString &Version, int Parts)
{
    QString v = Version;
    const int dots = int(v.count(QLatin1Char('.')));
    if (dots >= Parts) {
        for (int i = 0; i < dots - Parts + 1; ++i) {
            const qsizetype p = v.lastIndexOf(QLatin1Char('.'));
            if (p < 0)
                break;
            v.truncate(p);
        }
    }
    return v;
}

QString VersionCaption(const QString &Version, int Parts)
{
    return Tr("Version") + QLatin1Char(' ') + VersionNumber(Version, Parts);
}

QString ProgramVersionNumber(int Parts, const QString &Default)
{
    QString version = ProgramInfo.Version;
    TFileVersionInfo own;
    if (version.isEmpty() && OwnVersionRecord && ParseVersionRecord(OwnVersionRecord, own))
        version = own.Version;
    if (version.isEmpty())
        version = ReadFileVersionText(ExecutablePath(), Default);
    return VersionNumber(version, Parts);
}

QString ProgramVersionCaption(int Parts, const QString &Default)
{
    return Tr("Version") + QLatin1Char(' ') + ProgramVersionNumber(Parts, Default);
}

void ProgramCaptionWithVersion(const QString &DefTitle, const QString &DefVersion, const QString &DefNotice,
                               QString &BuildDate, QString &Caption, int Parts)
{
    const QString exe = ExecutablePath();
    TFileVersionInfo info;
    if ((OwnVersionRecord && ParseVersionRecord(OwnVersionRecord, info)) || ReadFileVersionInfo(exe, info)) {
        if (info.InternalName.isEmpty())
            info.InternalName = DefTitle;
    } else {
        info.InternalName = DefTitle;
        info.Version = DefVersion;
        info.Copyright = DefNotice;
    }
    ProgramInfo = info;
    ProgramInfo.Comments = ProgramVersionCaption(Parts, QStringLiteral("0.0.0.0"));
    Caption = ProgramInfo.InternalName + QStringLiteral(" (") + ProgramInfo.Comments + QLatin1Char(')');

    BuildDate.clear();
    TStatInfo st;
    if (!exe.isEmpty() && StatPath(exe, true, st) == 0)
        BuildDate = FormatDateTime(QStringLiteral("ddddd"), FileTimeToLocalDateTime(TimespecToFileTime(st.MTime)));
}

void GetDefaultFolders(QString &SettingsDir, QString &DocsDir, QString &ProgFilesDir)
{
    SettingsDir = WithTrailingDelimiter(UserSettingsDirectory(QString::fromUtf8(kSettingsSubDir), false));
    DocsDir = WithTrailingDelimiter(DocumentsDirectory());
    ProgFilesDir = WithTrailingDelimiter(ProgramFilesDirectory());
}

QString ReadIniPathFromRegistry(const QString &Default)
{
    const QString path = ReadRegistryString(TRegistryRoot::rrCurrentUser, QString::fromUtf8(kIniPathKey),
                                            QString::fromUtf8(kIniPathValue), QString());
    return path.isEmpty() ? Default : path;
}

void ImportPreviousVersionFile(const QString &BaseFolder, const QString &FileName)
{
    // Without a base the old name would be relative to the current folder.
    if (BaseFolder.isEmpty() || FileName.isEmpty())
        return;
    const QString oldFile = WithTrailingDelimiter(BaseFolder) + QString::fromUtf8(kPreviousSettingsSubDir)
                            + LastPathElement(FileName);
    if (PathExists(FileName, false) || !PathExists(oldFile, true))
        return;
    try {
        CopyFileWithAttributes(oldFile, FileName, -1, 256 * 1024);
    } catch (const std::exception &) {
        // A settings file that cannot be imported is simply started afresh.
    }
}

QString ChooseFolder(const QString &Preferred, const QString &Fallback)
{
    const QString candidate = Preferred.isEmpty() ? Fallback : Preferred;
    if (MakeDirs(candidate) != 0)
        return Fallback;
    return candidate;
}

QString GetProgramTempDir()
{
    const QString temp = TempDirectory();
    const QString dir = temp + QStringLiteral("Vl/");
    return MakeDirs(dir) == 0 ? dir : temp;
}

QString GetLogFolder()
{
    if (!VlSettings.Directories.LogDir.isEmpty())
        return WithTrailingDelimiter(VlSettings.Directories.LogDir);
    if (!SettingsFolder.isEmpty())
        return WithTrailingDelimiter(SettingsFolder);
    return AppDataDirectory();
}

bool IsOnUsbDrive(const QString &path, const QString &sysfsRoot)
{
    TStatInfo st;
    if (path.isEmpty() || StatPath(path, true, st) != 0)
        return false;
    const QString link = sysfsRoot + QStringLiteral("/dev/block/%1:%2").arg(major(st.Dev)).arg(minor(st.Dev));
    const QString device = QFileInfo(link).canonicalFilePath();
    const QString root = QFileInfo(sysfsRoot).canonicalFilePath();
    if (device.isEmpty() || root.isEmpty() || !device.startsWith(root + QLatin1Char('/')))
        return false;
    // A USB host controller's root hubs are "usb1", "usb2", ... in the
    // device path of everything attached below them.
    const QStringList parts = device.mid(root.size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        if (part.startsWith(QStringLiteral("usb")))
            return true;
    // A partition's removable flag sits on its disk.
    QString disk = device;
    if (QFileInfo::exists(device + QStringLiteral("/partition")))
        disk = ParentDirectory(device);
    return ReadSysfsText(disk + QStringLiteral("/removable")) == QStringLiteral("1");
}

QString ChooseSettingsFolder(bool ProgramOnUsb, TIniLoc &IniLoc)
{
    IniLoc = TIniLoc::ilNormal;
    const QString appData = AppDataDirectory();
    if (appData.isEmpty() || ProgramOnUsb)
        return ProgramPath;
    const QString iniPath = ReadIniPathFromRegistry(QString());
    if (!iniPath.isEmpty()) {
        IniLoc = TIniLoc::ilRegistry;
        return WithTrailingDelimiter(AbsolutePath(appData, iniPath));
    }
    return WithTrailingDelimiter(UserSettingsDirectory(QString::fromUtf8(kSettingsSubDir), false));
}

QString ChooseIniFileName(const QString &SettingsFolder, const QString &IniName, TIniLoc &IniLoc)
{
    const QString folder = WithTrailingDelimiter(SettingsFolder);
    const QString baseName = ProgramName + QStringLiteral(".ini");
    const QString ext = QStringLiteral("ini");
    QString file;
    if (!IniName.isEmpty()) {
        IniLoc = TIniLoc::ilCommand;
        if (HasAbsolutePath(IniName)) {
            if (IniName.endsWith(QLatin1Char('/')))
                file = IniName + baseName;
            else
                file = ExtensionOf(IniName).isEmpty() ? IniName + QStringLiteral(".ini") : IniName;
        } else if (!IniName.contains(QLatin1Char('/'))) {
            file = BuildFileName(folder, IniName, ext);
        } else {
            const QString name = ExtensionOf(IniName).isEmpty() ? IniName + QStringLiteral(".ini") : IniName;
            file = CanonicalPath(QDir::currentPath(), name);
        }
    } else {
        file = folder + baseName;
        if (MakeDirs(folder) == 0)
            ImportPreviousVersionFile(AppDataDirectory(), file);
        else
            file = WithTrailingDelimiter(UserSettingsDirectory(QString::fromUtf8(kSettingsSubDir), false)) + baseName;
    }
    if (!PathExists(file, true) && MakeDirs(ParentDirectory(file)) != 0)
        file = folder + baseName;
    return file;
}

} // namespace vl
