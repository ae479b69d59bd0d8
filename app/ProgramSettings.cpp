#include "app/ProgramSettings.h"

#include "app/CommandLine.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Exceptions.h"
#include "core/IniFile.h"
#include "core/Language.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"
#include "core/TaskFiles.h"
#include "platform/FileSystem.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <optional>

namespace vl {

namespace {

const QString kConfig = QStringLiteral("Config");
const QString kBuiltInNoCompress = QStringLiteral(
    "7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,otp,ots,ott,pdf,png,"
    "pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx");
constexpr int kDefBufferSize = 0x400000;
constexpr int kDefFtpBufferSize = 0x40000;
constexpr int kMaxAutoTasks = 16;

bool FileExists(const QString &AName) { return !AName.isEmpty() && QFileInfo(AName).isFile(); }

QString HexText(int AValue) { return QStringLiteral("$") + QStringLiteral("%1").arg(AValue, 4, 16, QLatin1Char('0')).toUpper(); }

// A command-line folder: absolute as given, relative below the task folder.
QString CommandFolder(const QString &ADir)
{
    return WithTrailingDelimiter(CanonicalPath(TaskFolder, ADir));
}

bool CanCreate(const QString &ADir) { return !ADir.isEmpty() && MakeDirs(ADir) == 0; }

} // namespace

// ---- Task lists ------------------------------------------------------------------

void ReadTaskList(const TMemIniFile &AIni, const QString &ASection, const QString &ADefaultExt, TTaskList &AItems)
{
    AItems.clear();
    if (!AIni.SectionExists(ASection))
        return;
    const int count = AIni.ReadInteger(ASection, QStringLiteral("Count"), 0);
    for (int n = 0; n < count; ++n) {
        const QString value = AIni.ReadString(ASection, QStringLiteral("Task%1").arg(n), QString());
        if (value.isEmpty())
            continue;
        if (value.startsWith(QLatin1Char('&')))
            AItems.append({value.mid(1), true});
        else if (FileExists(ExpandTaskFileName(value, ADefaultExt)))
            AItems.append({value, false});
    }
}

void WriteTaskList(TUnicodeIniFile &AIni, const QString &ASection, const TTaskList &AItems)
{
    AIni.EraseSection(ASection);
    AIni.WriteInteger(ASection, QStringLiteral("Count"), int(AItems.size()));
    for (int n = 0; n < AItems.size(); ++n) {
        const TTaskListEntry &e = AItems.at(n);
        AIni.WriteString(ASection, QStringLiteral("Task%1").arg(n), e.Comment ? QLatin1Char('&') + e.Name : e.Name);
    }
}

// ---- Log deletion ----------------------------------------------------------------

int EncodeLogDelSettings(const TDateSelection &ASel)
{
    return (ASel.Count & 0xFFF) | ((ASel.Mode & 0xF) << 12) | (ASel.Auto == 2 ? 0x10000 : 0);
}

TDateSelection DecodeLogDelSettings(int AValue, TDateTime ADate)
{
    TDateSelection s;
    s.Count = AValue & 0xFFF;
    const int mode = (AValue >> 12) & 0xF;
    s.Mode = mode >= 1 && mode <= 4 ? mode : 0;
    s.Auto = (AValue & 0x10000) != 0 ? 2 : 1;
    s.Date = ADate;
    return s;
}

// ---- Reading ---------------------------------------------------------------------

bool TProgramSettings::ReadFromIni(const QString &AIniName, const TMainCommandLine &ACmd)
{
    IniFileName = AIniName;
    ReadFailed = false;
    // A settings file shipped beside the program is taken over; writing
    // always goes to AIniName.
    QString readName = AIniName;
    if (!QFileInfo::exists(AIniName) && FileExists(ProgDirIniName))
        readName = ProgDirIniName;
    std::optional<TUnicodeIniFile> ini;
    try {
        ini.emplace(TUnicodeIniFile::CreateForRead(readName));
    } catch (const EFOpenError &) {
        // Defaults for this run, but the file must survive it.
        ReadFailed = true;
        ini.emplace(TUnicodeIniFile::CreateForRead(QString()));
    }
    FileExisted = !ReadFailed && FileExists(readName);

    ReadConfig(*ini);
    DeriveFolders(ACmd);
    ReadAutoTasks(*ini);

    ReadTaskList(*ini, QStringLiteral("MyBackup"), QStringLiteral("buj"), BackupList);
    BackupLast = ini->ReadString(QStringLiteral("Backup"), QStringLiteral("LastFile"), QString());
    ReadTaskList(*ini, QStringLiteral("MyRestore"), QStringLiteral("rsj"), RestoreList);
    RestoreLast = ini->ReadString(QStringLiteral("MyRestore"), QStringLiteral("LastFile"), QString());
    ReadTaskList(*ini, QStringLiteral("MyVerify"), QStringLiteral("vfj"), VerifyList);
    VerifyLast = ini->ReadString(QStringLiteral("MyVerify"), QStringLiteral("LastFile"), QString());
    ReadTaskList(*ini, QStringLiteral("MyCleanup"), QStringLiteral("cuj"), CleanupList);
    CleanupLast = ini->ReadString(QStringLiteral("MyCleanup"), QStringLiteral("LastFile"), QString());

    // The window style lives in the configuration file; the default follows
    // the desktop's theme.
    VlSettings.ViewSettings.DarkMode = true;
    if (!ConfigFileName().isEmpty()) {
        try {
            VlSettings.ViewSettings.DarkMode =
                ReadIniBool(ConfigFileName(), QStringLiteral("Config"), QStringLiteral("DarkMode"), true);
        } catch (const EFOpenError &) {
        }
    }

    if (ACmd.ResetForm)
        ResetFormPos();
    return FileExisted;
}

void TProgramSettings::ReadConfig(const TMemIniFile &AIni)
{
    const auto readInt = [&](const char *AKey, int ADefault) {
        return AIni.ReadInteger(kConfig, QLatin1String(AKey), ADefault);
    };
    const auto readBool = [&](const char *AKey, bool ADefault) {
        return AIni.ReadBool(kConfig, QLatin1String(AKey), ADefault);
    };
    const auto readStr = [&](const char *AKey, const QString &ADefault) {
        return AIni.ReadString(kConfig, QLatin1String(AKey), ADefault);
    };
    TVlSettings &s = VlSettings;

    FormPos = TFormPos();
    FormPos.xprim = readInt("Left", CurLeft);
    FormPos.xmult = AIni.ValueExists(kConfig, QStringLiteral("MultLeft")) ? readInt("MultLeft", CurLeft)
                                                                          : readInt("DualMonPos", CurLeft);
    FormPos.yprim = readInt("Top", CurTop);
    FormPos.ymult = readInt("MultTop", FormPos.yprim);
    FormPos.w = readInt("Width", DefWidth);
    if (FormPos.w < MinWidth)
        FormPos.w = DefWidth;
    FormPos.h = readInt("Height", DefHeight);
    if (FormPos.h < MinHeight)
        FormPos.h = DefHeight;
    FormPos.dpi = readInt("PixelsPerInch", CurDpi);
    ErrorCount = std::max(0, readInt("ErrorCount", 0));
    LastError = readInt("LastError", 0);
    LastExpDir = readStr("LastExport", DocumentsDir.isEmpty() ? WithTrailingDelimiter(DocumentsDirectory()) : DocumentsDir);
    FStoredJobDir = readStr("JobDir", QString());

    TVlCopySettings &copy = s.CopySettings;
    const QString noCompress = readStr("NoCompress", QString());
    copy.NoCompress = SortCommaText(noCompress.isEmpty() ? kBuiltInNoCompress
                                                         : noCompress + QLatin1Char(',') + kBuiltInNoCompress);
    // A buffer of no bytes would stall every copy.
    copy.BufferSize = readInt("BufferSize", kDefBufferSize);
    if (copy.BufferSize <= 0)
        copy.BufferSize = kDefBufferSize;
    copy.FTPBufferSize = readInt("FtpBufferSize", kDefFtpBufferSize);
    if (copy.FTPBufferSize <= 0)
        copy.FTPBufferSize = kDefFtpBufferSize;
    copy.CompMode = readInt("CompPref", 0);
    if (copy.CompMode < 0 || copy.CompMode > 2)
        copy.CompMode = 0;

    TVlSecCopySettings &sec = s.SecCopySettings;
    sec.BakPrefix = readStr("BakPrefix", sec.BakPrefix);
    sec.SyncPrefix = readStr("SyncPrefix", sec.SyncPrefix);
    sec.BakSuffix = readStr("BakSuffix", sec.BakSuffix);
    sec.SyncSuffix = readStr("SyncSuffix", sec.SyncSuffix);

    TVlViewSettings &view = s.ViewSettings;
    view.WindowActions = TWindowActions();
    view.SizeProgress = readBool("SizeProgress", false);
    view.InstantShowTask = readBool("InstantShow", false);
    view.StatusOnTop = readBool("StatusOnTop", false);
    view.PlaySound = readBool("PlaySound", true);
    view.ShowToolTips = readBool("ShowHints", true);
    view.ShowNotifications = readBool("ShowNotifications", view.ShowToolTips);
    view.AutoWaitTime = readInt("WaitTime", view.AutoWaitTime);
    view.ComBgCol = readInt("CommentBgColor", view.ComBgCol);
    view.ComFgCol = readInt("CommentFgColor", view.ComFgCol);
    view.CustomCols = readStr("CustomColors", QString());

    TVlStartSettings &start = s.StartSettings;
    start.NoSplashScreen = readBool("NoSplash", false);
    start.FailNotification = readBool("NotifyFailure", true);
    start.ScanOnStart = readBool("ScanDir", true);
    start.StartupDelay = readInt("Startup", start.StartupDelay);

    // Power-off is a real action of logind here, so a stored dmPowerOff stays.
    TVlShutdownSettings &down = s.ShutdownSettings;
    const int downMode = readInt("Shutdown", int(down.DownMode));
    if (downMode >= int(TDownMode::dmNone) && downMode <= int(TDownMode::dmHybrid))
        down.DownMode = TDownMode(downMode);
    down.LockComputer = readBool("LockComputer", down.LockComputer);
    down.ShutdownDelay = readInt("ShutdownDelay", down.ShutdownDelay);

    TVlLogSettings &log = s.LogSettings;
    log.LogMode = readInt("Protocol", log.LogMode);
    log.LogSize = readInt("ProtocolSize", log.LogSize);
    log.DecimalSizes = readBool("DecimalSizes", false);
    log.MailLogPrefix = readStr("MailLogPrefix", log.MailLogPrefix);
    log.LogDelSettings = DecodeLogDelSettings(readInt("ProtocolDelete", 0x3006), std::floor(Now()));
    FStoredProtDir = readStr("ProtDir", QString());
    FStoredTempDir = readStr("TempDir", QString());

    TVlOtherSettings &other = s.OtherSettings;
    other.DefaultTask = readStr("DefaultTask", QString());
    other.DefDriveId = readStr("DriveId", GetDefaultDriveId());
    other.MinPwdLength = readInt("MinPwdLength", 6);
    other.MaxWaitTime = readInt("MaxWaitTime", 2);
    other.UseWizard = readBool("UseWizard", true);
    const int logFiles = readInt("LogFiles", 0);
    other.VssLog = (logFiles & 1) != 0;
    other.SMTPLog = (logFiles & 2) != 0;
    KeepRunning = readBool("SysTray", false);
    OldIcon = readInt("OldIcon", 0);
}

void TProgramSettings::DeriveFolders(const TMainCommandLine &ACmd)
{
    TVlDirectories &dirs = VlSettings.Directories;

    // Task folder.
    dirs.UseTaskDir = ACmd.DirName.isEmpty();
    QString taskDir = dirs.UseTaskDir ? FStoredJobDir : ACmd.DirName;
    if (!taskDir.isEmpty())
        taskDir = WithTrailingDelimiter(taskDir);
    if (taskDir.compare(DefTaskDir, Qt::CaseInsensitive) == 0)
        taskDir.clear();
    TaskDirUnavailable = dirs.UseTaskDir && !taskDir.isEmpty() && !CanCreate(taskDir);
    if (!TaskDirUnavailable && CanCreate(taskDir)) {
        dirs.TaskDir = taskDir;
        TaskFolder = taskDir;
    } else {
        dirs.TaskDir.clear();
        TaskFolder = DefTaskDir;
        MakeDirs(DefTaskDir);
    }

    // Log folder and default log file.
    ProgramLogName = ReplaceExtension(IniFileName, QStringLiteral("log"));
    // A folder from the command line (when it can be created) is used for
    // this run only; else the stored one.
    const auto chooseFolder = [](const QString &AStored, const QString &ACmdDir, QString &ADir, bool &AUseStored) {
        ADir = AStored;
        AUseStored = true;
        if (!ACmdDir.isEmpty()) {
            const QString d = CommandFolder(ACmdDir);
            if (CanCreate(d)) {
                ADir = d;
                AUseStored = false;
            }
        }
    };
    chooseFolder(FStoredProtDir, ACmd.LDir, dirs.LogDir, dirs.UseLogDir);
    if (CanCreate(dirs.LogDir))
        ProgramLogName = WithTrailingDelimiter(dirs.LogDir) + LastPathElement(ProgramLogName);

    // Temporary folder.
    chooseFolder(FStoredTempDir, ACmd.TDir, dirs.TempDir, dirs.UseTempDir);
    WorkTempDir = ChooseFolder(dirs.TempDir, ProgramTempDir.isEmpty() ? GetProgramTempDir() : ProgramTempDir);
}

void TProgramSettings::ReadAutoTasks(TMemIniFile &AIni)
{
    AutoActive = WaitActive = LogOffActive = false;
    for (TAutoTask &e : AutoTasks)
        e = TAutoTask();
    const int count = AIni.ReadInteger(kConfig, QStringLiteral("TaskCount"), 0);
    for (int n = 0; n < count; ++n) {
        if (n >= kMaxAutoTasks) {
            AIni.EraseSection(QStringLiteral("AutoTask%1").arg(n));
            continue;
        }
        const QString sect = AutoTaskSection(n);
        QString name = AIni.ReadString(sect, QStringLiteral("Name"), QString());
        if (!name.isEmpty() && IsLocalFixedPath(name) && !FileExists(name)) {
            const QString file = LastPathElement(name);
            if (FileExists(TaskFolder + file))
                name = TaskFolder + file;
            else if (FileExists(DefTaskDir + file))
                name = DefTaskDir + file;
        }
        TAutoTask &e = AutoTasks[n];
        e = name.isEmpty() ? TAutoTask() : TAutoTask(name);
        e.LoadFromIni(AIni, sect);
        const TAutoStart m = e.BuProcess;
        AutoActive = AutoActive || m != TAutoStart::asNone;
        WaitActive = WaitActive || m == TAutoStart::asDailyAt || m == TAutoStart::asLogoff ||
                     m == TAutoStart::asWeekDay || m == TAutoStart::asByRequest;
        LogOffActive = LogOffActive || m == TAutoStart::asLogoff || m == TAutoStart::asWeekDay;
    }
    if (WaitActive)
        KeepRunning = true;
}

void TProgramSettings::ResetFormPos()
{
    FormPos.xprim = FormPos.xmult = FormPos.yprim = FormPos.ymult = 50;
    FormPos.w = DefWidth;
    FormPos.h = DefHeight;
}

// ---- Writing ---------------------------------------------------------------------

void TProgramSettings::WriteConfig(TUnicodeIniFile &AIni)
{
    const auto writeInt = [&](const char *AKey, int AValue) { AIni.WriteInteger(kConfig, QLatin1String(AKey), AValue); };
    const auto writeBool = [&](const char *AKey, bool AValue) { AIni.WriteBool(kConfig, QLatin1String(AKey), AValue); };
    const auto writeStr = [&](const char *AKey, const QString &AValue) {
        AIni.WriteString(kConfig, QLatin1String(AKey), AValue);
    };
    const TVlSettings &s = VlSettings;
    const TVlDirectories &dirs = s.Directories;

    AIni.EraseSectionValues(kConfig);
    writeInt("PixelsPerInch", CurDpi);
    writeInt("Left", FormPos.xprim);
    writeInt("MultLeft", FormPos.xmult);
    writeInt("Top", FormPos.yprim);
    writeInt("MultTop", FormPos.ymult);
    writeInt("Width", FormPos.w - FormPos.wdiff);
    writeInt("Height", FormPos.h);
    writeInt("ErrorCount", ErrorCount);
    writeInt("LastError", LastError);
    writeStr("LastExport", LastExpDir);
    writeStr("NoCompress", s.CopySettings.NoCompress);
    writeInt("BufferSize", s.CopySettings.BufferSize);
    writeInt("FtpBufferSize", s.CopySettings.FTPBufferSize);
    writeInt("CompPref", s.CopySettings.CompMode);
    writeStr("BakPrefix", s.SecCopySettings.BakPrefix);
    writeStr("SyncPrefix", s.SecCopySettings.SyncPrefix);
    writeStr("BakSuffix", s.SecCopySettings.BakSuffix);
    writeStr("SyncSuffix", s.SecCopySettings.SyncSuffix);
    const TVlViewSettings &view = s.ViewSettings;
    writeBool("SizeProgress", view.SizeProgress);
    writeBool("InstantShow", view.InstantShowTask);
    writeBool("StatusOnTop", view.StatusOnTop);
    writeBool("PlaySound", view.PlaySound);
    writeBool("ShowHints", view.ShowToolTips);
    writeBool("ShowNotifications", view.ShowNotifications);
    writeInt("WaitTime", view.AutoWaitTime);
    writeInt("CommentBgColor", view.ComBgCol);
    writeInt("CommentFgColor", view.ComFgCol);
    writeStr("CustomColors", view.CustomCols);
    writeInt("Startup", s.StartSettings.StartupDelay);
    writeBool("NoSplash", s.StartSettings.NoSplashScreen);
    writeBool("NotifyFailure", s.StartSettings.FailNotification);
    writeBool("ScanDir", s.StartSettings.ScanOnStart);
    writeInt("Shutdown", int(s.ShutdownSettings.DownMode));
    writeInt("ShutdownDelay", s.ShutdownSettings.ShutdownDelay);
    writeBool("LockComputer", s.ShutdownSettings.LockComputer);
    writeStr("Protocol", HexText(s.LogSettings.LogMode));
    writeInt("ProtocolSize", s.LogSettings.LogSize);
    writeBool("DecimalSizes", s.LogSettings.DecimalSizes);
    writeStr("MailLogPrefix", s.LogSettings.MailLogPrefix);
    writeStr("ProtocolDelete", HexText(EncodeLogDelSettings(s.LogSettings.LogDelSettings)));
    // A folder given on the command line is for this run only: the stored one
    // is kept. So is a stored task folder that could not be created this time
    // (a drive not attached must not erase the choice).
    const bool keepStored = !dirs.UseTaskDir || (TaskDirUnavailable && dirs.TaskDir.isEmpty());
    writeStr("JobDir", keepStored ? FStoredJobDir : dirs.TaskDir);
    writeStr("ProtDir", dirs.UseLogDir ? dirs.LogDir : FStoredProtDir);
    writeStr("TempDir", dirs.UseTempDir ? dirs.TempDir : FStoredTempDir);
    const TVlOtherSettings &other = s.OtherSettings;
    writeStr("DefaultTask", other.DefaultTask);
    writeStr("DriveId", other.DefDriveId);
    writeInt("MinPwdLength", other.MinPwdLength);
    writeInt("MaxWaitTime", other.MaxWaitTime);
    writeBool("UseWizard", other.UseWizard);
    writeInt("LogFiles", (other.VssLog ? 1 : 0) | (other.SMTPLog ? 2 : 0));
    writeBool("SysTray", KeepRunning);
    writeInt("OldIcon", OldIcon);
    writeInt("TaskCount", kMaxAutoTasks);
}

bool TProgramSettings::SaveToIni()
{
    if (!CanWrite())
        return false;
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(IniFileName, false);
    ini.WriteProgramInfo(QStringLiteral("Program"), QStringLiteral("Velkor"));
    ini.WriteProgramInfo(QStringLiteral("Version"), ProgramInfo.Version);
    WriteConfig(ini);
    for (int n = 0; n < kMaxAutoTasks; ++n)
        AutoTasks[n].SaveToIni(ini, AutoTaskSection(n));
    // Entries beyond the sixteenth are never read again.
    static const QRegularExpression extraEntry(QStringLiteral("^AutoTask(\\d+)$"),
                                               QRegularExpression::CaseInsensitiveOption);
    for (const QString &sect : ini.ReadSections()) {
        const QRegularExpressionMatch m = extraEntry.match(sect);
        if (m.hasMatch() && m.captured(1).toInt() >= kMaxAutoTasks)
            ini.EraseSection(sect);
    }
    ini.WriteString(QStringLiteral("Backup"), QStringLiteral("LastFile"), BackupLast);
    WriteTaskList(ini, QStringLiteral("MyBackup"), BackupList);
    WriteTaskList(ini, QStringLiteral("MyRestore"), RestoreList);
    WriteTaskList(ini, QStringLiteral("MyVerify"), VerifyList);
    WriteTaskList(ini, QStringLiteral("MyCleanup"), CleanupList);
    ini.WriteString(QStringLiteral("MyRestore"), QStringLiteral("LastFile"), RestoreLast);
    ini.WriteString(QStringLiteral("MyVerify"), QStringLiteral("LastFile"), VerifyLast);
    ini.WriteString(QStringLiteral("MyCleanup"), QStringLiteral("LastFile"), CleanupLast);
    ini.Save();
    if (!ConfigFileName().isEmpty())
        WriteIniBool(ConfigFileName(), QStringLiteral("Config"), QStringLiteral("DarkMode"),
                     VlSettings.ViewSettings.DarkMode);
    return true;
}

bool TProgramSettings::SaveLastError()
{
    if (!CanWrite())
        return false;
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(IniFileName, false);
    ini.WriteInteger(kConfig, QStringLiteral("LastError"), LastError);
    ini.Save();
    return true;
}

bool TProgramSettings::SaveDefaultTask()
{
    if (!CanWrite())
        return false;
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(IniFileName, false);
    ini.WriteString(kConfig, QStringLiteral("DefaultTask"), VlSettings.OtherSettings.DefaultTask);
    ini.Save();
    return true;
}

bool TProgramSettings::SaveAutoTaskState(int AIndex, int AExitCode, bool ASucceeded)
{
    if (!CanWrite() || AIndex < 0 || AIndex >= kMaxAutoTasks)
        return false;
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(IniFileName, false);
    AutoTasks[AIndex].SaveScheduleToIni(ini, AutoTaskSection(AIndex), AExitCode, ASucceeded);
    ini.Save();
    return true;
}

} // namespace vl
