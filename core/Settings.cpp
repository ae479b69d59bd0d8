#include "core/Settings.h"

#include "core/Destinations.h"

#include "core/FormatSettings.h"
#include "core/Language.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"

#include <QSysInfo>

namespace vl {

namespace {

bool KernelIs64Bit()
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    return arch.contains(QStringLiteral("64")) || arch == QStringLiteral("s390x");
}

} // namespace

TVlSettings VlSettings;

bool IsWin64 = KernelIs64Bit();
bool Is64BitProgram = sizeof(void *) == 8;
bool KeyboardPreferred = false;
bool EventLogAvailable = false;
bool TaskSchedulerReady = false;
int StartedBy = 0;
const std::array<QString, 5> StarterCodes = {QString(), QStringLiteral("WS"), QStringLiteral("MV"),
                                             QStringLiteral("VS"), QStringLiteral("ZV")};
int ErrorCount = 0;
int ProgExitCode = 0;
QString SettingsFolder;
QString ProgDirIniName;
QString IniFileName;
QString ProgramTempDir;
QString WorkTempDir;
QString DocumentsDir;
QString TaskFolder;
QString ProgramLogName;
QString CurrentUserName;

QString DispDateFormat = QStringLiteral("yyyy-mm-dd");
QString DispTimeSecFormat = QStringLiteral("hh:nn:ss");
QString DispTimeFormat = QStringLiteral("hh:nn");
QString PickerDateFormat = QStringLiteral("yyyy-MM-dd");
QString PickerTimeFormat = QStringLiteral("HH:mm");

void TSecSettings::GetBDateSeparator()
{
    const int p = TextPos(QStringLiteral("%bdate%"), FileSuffix);
    if (p > 0 && FileSuffix.size() > p + 7)
        BDateSeparator = FileSuffix.at(p + 7 - 1);
    else
        BDateSeparator = QChar();
}

void TPrinterSettings::Init()
{
    PrtName.clear();
    Margins.Left = 200;
    Margins.Top = 150;
    Margins.Right = 100;
    Margins.Bottom = 150;
    FontName = QStringLiteral("Courier New");
    FontSize = 10;
    FontStyle = TFontStyles();
    Orientation = TPrinterOrientation::poPortrait;
}

QString DefaultTaskDir()
{
    QString docs = WithTrailingDelimiter(DocumentsDirectory());
    if (docs.isEmpty())
        docs = ProgramPath;
    return docs + QStringLiteral("Velkor/");
}

void SetDefaultSettings(TVlSettings &ASettings)
{
    TVlCopySettings &copy = ASettings.CopySettings;
    copy.NoCompress = QStringLiteral(
        "7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,odt,otp,ots,ott,"
        "pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx");
    copy.CompMode = 1;
    copy.BufferSize = 4 * 1024 * 1024;
    copy.FTPBufferSize = 256 * 1024;

    TVlSecCopySettings &sec = ASettings.SecCopySettings;
    sec.BakPrefix = QStringLiteral("~");
    sec.SyncPrefix = QStringLiteral("_");
    sec.BakSuffix = QStringLiteral("bak");
    sec.SyncSuffix = QStringLiteral("sync");

    TVlViewSettings &view = ASettings.ViewSettings;
    view.WindowActions = TWindowActions();
    view.SizeProgress = false;
    view.InstantShowTask = false;
    view.StatusOnTop = false;
    view.PlaySound = true;
    view.ShowNotifications = true;
    view.ShowToolTips = true;
    view.DarkMode = false;
    view.AutoWaitTime = 5;
    view.ComBgCol = 0xA0FFFF;
    view.ComFgCol = 0x0000FF;
    view.CustomCols.clear();

    TVlStartSettings &start = ASettings.StartSettings;
    start.NoSplashScreen = false;
    start.FailNotification = true;
    start.ScanOnStart = true;
    start.UpdateChg = false;
    start.CheckUpdates = true;
    start.ProxySettings = TProxyParams();
    start.ProxySettings.Port = 80;
    start.StartupDelay = 10;

    TVlShutdownSettings &down = ASettings.ShutdownSettings;
    down.DownMode = TDownMode::dmShutdown;
    down.LockComputer = false;
    down.ShutdownDelay = 0;

    ASettings.PrinterSettings.Init();

    TVlLogSettings &log = ASettings.LogSettings;
    log.LogMode = 57;
    log.LogSize = 1000;
    log.DecimalSizes = false;
    log.MailLogPrefix = QStringLiteral("VL");

    TVlOtherSettings &other = ASettings.OtherSettings;
    other.DefaultTask.clear();
    other.DefDriveId = GetDefaultDriveId();
    other.MinPwdLength = 8;
    other.MaxWaitTime = 2;
    other.ContextMenu = false;
    other.UseWizard = true;
    other.VssLog = false;
    other.SMTPLog = false;

    TVlDirectories &dirs = ASettings.Directories;
    dirs.TaskDir = DefaultTaskDir();
    dirs.LogDir.clear();
    dirs.TempDir.clear();
    dirs.IniLoc = TIniLoc::ilNormal;
    dirs.UseTaskDir = true;
    dirs.UseLogDir = true;
    dirs.UseTempDir = true;
}

void InitTimeFormats()
{
    InitTimeFormats(QLocale::system());
}

void InitTimeFormats(const QLocale &ALocale)
{
    bool hours24 = true; // what counts when the locale says nothing
    int dateOrder = 2;
    if (ALocale.language() != QLocale::C) {
        const QString time = ALocale.timeFormat(QLocale::ShortFormat);
        hours24 = !time.contains(QLatin1Char('a'), Qt::CaseInsensitive);
        const QString date = ALocale.dateFormat(QLocale::ShortFormat);
        const qsizetype d = date.indexOf(QLatin1Char('d'));
        const qsizetype m = date.indexOf(QLatin1Char('M'));
        const qsizetype y = date.indexOf(QLatin1Char('y'));
        if (d >= 0 && m >= 0 && y >= 0) {
            if (m < d && d < y)
                dateOrder = 0;
            else if (d < m && m < y)
                dateOrder = 1;
        }
    }
    if (hours24) {
        PickerTimeFormat = QStringLiteral("HH:mm");
        DispTimeFormat = QStringLiteral("hh:nn");
        DispTimeSecFormat = QStringLiteral("hh:nn:ss");
    } else {
        PickerTimeFormat = QStringLiteral("hh:mm tt");
        DispTimeFormat = QStringLiteral("hh:nn am/pm");
        DispTimeSecFormat = QStringLiteral("hh:nn:ss am/pm");
    }
    switch (dateOrder) {
    case 0:
        PickerDateFormat = QStringLiteral("MM/dd/yyyy");
        break;
    case 1:
        PickerDateFormat = QStringLiteral("dd.MM.yyyy");
        break;
    default:
        PickerDateFormat = QStringLiteral("yyyy-MM-dd");
        break;
    }
    DispDateFormat = PickerDateFormat;
}

namespace {

// FormatSettings() keeps the names Sunday first.
QString DayName(const QStringList &names, int Day)
{
    if (Day < 1 || Day > 7 || names.size() < 7)
        return QString();
    return names.at(Day % 7);
}

} // namespace

QString LongWeekDayName(int Day)
{
    return DayName(FormatSettings().LongDayNames, Day);
}

QString ShortWeekDayName(int Day)
{
    return DayName(FormatSettings().ShortDayNames, Day);
}

bool IsQuietInteraction(TInteraction I)
{
    return I == TInteraction::iaQuiet || I == TInteraction::iaQuietError;
}

bool IsPromptInteraction(TInteraction I)
{
    return I == TInteraction::iaPrompt || I == TInteraction::iaErrorPrompt || I == TInteraction::iaQuietError;
}

} // namespace vl
