#include "core/Settings.h"

#include "common/TestUtils.h"
#include "core/FormatSettings.h"
#include "core/ProgramEnv.h"

#include <QDir>

#include <gtest/gtest.h>

namespace vl {
namespace {

TEST(SettingsTest, DefaultsOfTheGlobalRecord)
{
    TVlSettings s;
    s.PrinterSettings.Feed = 7;
    s.LogSettings.LogDelSettings.Count = 3;
    SetDefaultSettings(s);

    EXPECT_EQ(s.CopySettings.BufferSize, 4 * 1024 * 1024);
    EXPECT_EQ(s.CopySettings.FTPBufferSize, 256 * 1024);
    EXPECT_EQ(s.CopySettings.CompMode, 1);
    EXPECT_TRUE(s.CopySettings.NoCompress.startsWith(QStringLiteral("7z,ace,")));
    EXPECT_TRUE(s.CopySettings.NoCompress.endsWith(QStringLiteral(",zip,zipx")));
    EXPECT_EQ(s.SecCopySettings.BakPrefix, QStringLiteral("~"));
    EXPECT_EQ(s.SecCopySettings.SyncPrefix, QStringLiteral("_"));
    EXPECT_EQ(s.SecCopySettings.BakSuffix, QStringLiteral("bak"));
    EXPECT_EQ(s.SecCopySettings.SyncSuffix, QStringLiteral("sync"));
    EXPECT_EQ(s.ViewSettings.AutoWaitTime, 5);
    EXPECT_TRUE(s.ViewSettings.ShowToolTips);
    EXPECT_EQ(s.ViewSettings.ComBgCol, 0xA0FFFF);
    EXPECT_EQ(s.StartSettings.StartupDelay, 10);
    EXPECT_EQ(s.StartSettings.ProxySettings.Port, 80);
    EXPECT_EQ(s.ShutdownSettings.DownMode, TDownMode::dmShutdown);
    EXPECT_EQ(s.LogSettings.LogMode, 57);
    EXPECT_EQ(s.LogSettings.LogSize, 1000);
    EXPECT_EQ(s.LogSettings.MailLogPrefix, QStringLiteral("VL"));
    EXPECT_EQ(s.OtherSettings.MinPwdLength, 8);
    EXPECT_EQ(s.OtherSettings.MaxWaitTime, 2);
    EXPECT_EQ(s.OtherSettings.DefDriveId, QStringLiteral("Drv?"));
    EXPECT_TRUE(s.OtherSettings.UseWizard);
    EXPECT_EQ(s.PrinterSettings.FontName, QStringLiteral("Courier New"));
    EXPECT_EQ(s.PrinterSettings.Margins.Left, 200);
    EXPECT_EQ(s.PrinterSettings.Margins.Right, 100);
    EXPECT_EQ(s.Directories.IniLoc, TIniLoc::ilNormal);
    EXPECT_TRUE(s.Directories.UseTaskDir && s.Directories.UseLogDir && s.Directories.UseTempDir);
    // Not part of the defaults: kept as they were.
    EXPECT_EQ(s.PrinterSettings.Feed, 7);
    EXPECT_EQ(s.LogSettings.LogDelSettings.Count, 3);
}

TEST(SettingsTest, DefaultTaskFolderLiesBelowTheXdgDocumentsFolder)
{
    const QString home = qEnvironmentVariable("HOME");
    const QString userDirs = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs");
    test::WriteBytes(userDirs, "XDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n");
    TVlSettings s;
    SetDefaultSettings(s);
    QFile::remove(userDirs);
    EXPECT_EQ(s.Directories.TaskDir, home + QStringLiteral("/Papiere/Velkor/"));
}

TEST(SettingsTest, DateSeparatorFollowsTheBackupDatePlaceholder)
{
    const struct {
        const char *suffix;
        QChar sep;
    } cases[] = {
        {"%BDATE%_x", QLatin1Char('_')},
        {"ab%bdate%-12", QLatin1Char('-')},
        {"%bdate%_", QChar()}, // nothing follows the separator
        {"abc", QChar()},
        {"", QChar()},
    };
    for (const auto &c : cases) {
        TSecSettings s;
        s.BDateSeparator = QLatin1Char('?');
        s.FileSuffix = QString::fromUtf8(c.suffix);
        s.GetBDateSeparator();
        EXPECT_EQ(s.BDateSeparator, c.sep) << c.suffix;
    }
}

TEST(SettingsTest, TimeFormatsFollowTheLocale)
{
    const struct {
        const char *locale;
        const char *pickerTime, *dispTime, *dispTimeSec, *date;
    } cases[] = {
        {"en_AU", "hh:mm tt", "hh:nn am/pm", "hh:nn:ss am/pm", "dd.MM.yyyy"},
        {"en_US", "hh:mm tt", "hh:nn am/pm", "hh:nn:ss am/pm", "MM/dd/yyyy"},
        {"de_DE", "HH:mm", "hh:nn", "hh:nn:ss", "dd.MM.yyyy"},
        {"sv_SE", "HH:mm", "hh:nn", "hh:nn:ss", "yyyy-MM-dd"},
        {"C", "HH:mm", "hh:nn", "hh:nn:ss", "yyyy-MM-dd"},
    };
    for (const auto &c : cases) {
        InitTimeFormats(QLocale(QString::fromUtf8(c.locale)));
        EXPECT_EQ(PickerTimeFormat, QString::fromUtf8(c.pickerTime)) << c.locale;
        EXPECT_EQ(DispTimeFormat, QString::fromUtf8(c.dispTime)) << c.locale;
        EXPECT_EQ(DispTimeSecFormat, QString::fromUtf8(c.dispTimeSec)) << c.locale;
        EXPECT_EQ(PickerDateFormat, QString::fromUtf8(c.date)) << c.locale;
        EXPECT_EQ(DispDateFormat, PickerDateFormat) << c.locale;
    }
    InitTimeFormats(QLocale::c());
}

TEST(SettingsTest, WeekDayNamesStartOnMonday)
{
    SetFormatSettings(TFormatSettings::Invariant());
    EXPECT_EQ(LongWeekDayName(1), QStringLiteral("Monday"));
    EXPECT_EQ(LongWeekDayName(7), QStringLiteral("Sunday"));
    EXPECT_EQ(ShortWeekDayName(6), QStringLiteral("Sat"));
    EXPECT_EQ(ShortWeekDayName(0), QString());
    EXPECT_EQ(LongWeekDayName(8), QString());
}

TEST(SettingsTest, QuietAndPromptingInteractions)
{
    using I = TInteraction;
    const struct {
        I mode;
        bool quiet, prompt;
    } cases[] = {
        {I::iaPrompt, false, true},     {I::iaDelay, false, false},     {I::iaQuiet, true, false},
        {I::iaErrorPrompt, false, true}, {I::iaQuietError, true, true}, {I::iaNone, false, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(IsQuietInteraction(c.mode), c.quiet) << int(c.mode);
        EXPECT_EQ(IsPromptInteraction(c.mode), c.prompt) << int(c.mode);
    }
}

} // namespace
} // namespace vl
