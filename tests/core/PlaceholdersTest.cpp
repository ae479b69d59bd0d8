#include "core/Placeholders.h"

#include "FakeVolumes.h"
#include "common/QtPrinters.h"
#include "core/FormatSettings.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "platform/System.h"

#include "common/TestUtils.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace vl {
namespace {

QString S(const char *s)
{
    return QString::fromUtf8(s);
}

class PlaceholdersTest : public testing::Test {
protected:
    void SetUp() override
    {
        FSavedSettings = FormatSettings();
        SetFormatSettings(TFormatSettings::Invariant());
        SetDate(2024, 3, 5, 7, 8, 9);
    }
    void TearDown() override
    {
        SetPlaceholderClock({});
        SetFormatSettings(FSavedSettings);
    }
    static void SetDate(int y, int m, int d, int h = 12, int n = 0, int s = 0)
    {
        const TDateTime at = EncodeDateTime(y, m, d, h, n, s, 0);
        SetPlaceholderClock([at] { return at; });
    }

    TFormatSettings FSavedSettings;
};

// ---- Date and time tables ---------------------------------------------------------

TEST_F(PlaceholdersTest, DateAndTimeTablesOnAFixedDate)
{
    // Tuesday 5 March 2024, 07:08:09: day 65, ISO week 10.
    const QString user = LogonUserName();
    const QString host = LocalComputerName();
    const std::pair<const char *, QString> cases[] = {
        {"%date%", S("2024-03-05")},   {"%yaw%", S("2024-10")},   {"%DOW%", S("Tue")},
        {"%ldow%", S("Tuesday")},      {"%dnw%", S("2")},         {"%day%", S("065")},
        {"%week%", S("10")},           {"%dom%", S("05")},        {"%wom%", S("1")},
        {"%month%", S("03")},          {"%lmonth%", S("March")},  {"%Year%", S("2024")},
        {"%time%", S("070809")},       {"%hour%", S("07")},       {"%minute%", S("08")},
        {"%user%", user},              {"%computer%", host},      {"%username%", user},
        {"%computername%", host},
        {"BU_%date%_%DATE%-%time%", S("BU_2024-03-05_2024-03-05-070809")},
        {"%dates% %date", S("%dates% %date")},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ExpandDateTimePlaceHolders(S(text), 0), expected) << text;
}

TEST_F(PlaceholdersTest, NamesComeFromTheLocaleWithoutDots)
{
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.ShortDayNames[2] = S("Di.");
    fs.LongDayNames[2] = S("Diens.tag.");
    fs.LongMonthNames[2] = S("Mär.z");
    SetFormatSettings(fs);
    EXPECT_EQ(ExpandDateTimePlaceHolders(S("%dow%|%ldow%|%lmonth%"), 0), S("Di|Dienstag|März"));
}

TEST_F(PlaceholdersTest, WeeksFollowIso8601AtTheTurnOfTheYear)
{
    struct Case {
        int y, m, d;
        const char *yaw, *week, *wom;
    };
    const Case cases[] = {
        {2024, 12, 30, "2025-01", "01", "1"}, // Monday of ISO week 1 of 2025
        {2025, 12, 29, "2026-01", "01", "1"},
        {2027, 1, 2, "2026-53", "53", "5"},   // Saturday of ISO week 53 of 2026
        {2021, 1, 3, "2020-53", "53", "5"},
        {2026, 12, 31, "2026-53", "53", "5"},
        {2024, 1, 10, "2024-02", "02", "2"},
        {2024, 3, 1, "2024-09", "09", "5"},   // Friday: its Thursday is 29 February
        {2024, 3, 4, "2024-10", "10", "1"},
        {2024, 9, 30, "2024-40", "40", "1"},  // its Thursday is 3 October
    };
    for (const Case &c : cases) {
        SetDate(c.y, c.m, c.d);
        const QString at = QStringLiteral("%1-%2-%3").arg(c.y).arg(c.m).arg(c.d);
        EXPECT_EQ(ExpandDateTimePlaceHolders(S("%yaw%|%week%|%wom%"), 0),
                  S(c.yaw) + QLatin1Char('|') + S(c.week) + QLatin1Char('|') + S(c.wom))
            << at.toStdString();
        EXPECT_EQ(ExpandLogPlaceHolders(S("%yaw%"), QString()), S(c.yaw)) << at.toStdString();
    }
}

TEST_F(PlaceholdersTest, Cycles)
{
    struct Case {
        int y, m, d, counter;
        const char *text, *expected;
    };
    const Case cases[] = {
        {2024, 1, 10, 3, "%d#7%", "3"},          // day 10
        {2024, 1, 10, 13, "%v#12%", "01"},
        {2024, 1, 10, 5, "%v#100%", "005"},
        {2024, 1, 10, 5, "%v#1000%", "005"},
        {2024, 1, 10, 1000, "%v#3%", "1"},
        {2024, 3, 5, 1, "%w#4%", "2"},           // ISO week 10
        {2024, 12, 30, 1, "%w#2%", "1"},         // ISO week 1 of 2025
        {2024, 12, 5, 1, "%m#5%", "2"},
        {2024, 3, 5, 1, "%M#12%", "03"},
        {2024, 1, 10, 1, "%D#7%-%d#7%", "3-3"},
        {2024, 1, 10, 1, "Backup_%D#2%_%d#3%", "Backup_2_%d#3%"},
        {2024, 1, 10, 2, "%d#2%%w#3%%m#4%%v#5%", "2212"},
        // Lengths that give no value.
        {2024, 1, 10, 1, "a%d#x%b", "ab"},
        {2024, 1, 10, 1, "a%d#%b", "ab"},
        {2024, 1, 10, 1, "a%d#0%b", "ab"},
        {2024, 1, 10, 1, "a%v#-3%b", "ab"},
        {2024, 1, 10, 1, "a%d# 7%b", "ab"},
        // No closing "%": nothing is replaced.
        {2024, 1, 10, 1, "a%d#7", "a%d#7"},
        // Without a counter the cycles stay; the literal patterns go.
        {2024, 1, 10, 0, "%d#7%", "%d#7%"},
        {2024, 1, 10, -1, "%v#7%", "%v#7%"},
        {2024, 1, 10, 0, "a%d#?%%w#?%%m#?%%V#?%b", "ab"},
    };
    for (const Case &c : cases) {
        SetDate(c.y, c.m, c.d);
        EXPECT_EQ(ExpandDateTimePlaceHolders(S(c.text), c.counter), S(c.expected))
            << c.text << " counter " << c.counter;
    }
}

TEST_F(PlaceholdersTest, UnfilledVolumeAndModeDisappear)
{
    EXPECT_EQ(ExpandDateTimePlaceHolders(S("a%VOLUME%b%Mode%c"), 1), S("abc"));
}

TEST_F(PlaceholdersTest, HasDateTimePlaceHolder)
{
    const std::pair<const char *, bool> cases[] = {
        {"/x/%DATE%", true}, {"%lmonth%", true}, {"%computer%", true}, {"%minute%", true},
        {"%volume%", true},  {"%mode%", true},   {"x%D#", true},       {"%v#", true},
        {"%apppath%", false}, {"%evar(A)%", false}, {"%dest%", false}, {"%drive%", false},
        {"%d", false},       {"", false},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(HasDateTimePlaceHolder(S(text)), expected) << text;
}

TEST_F(PlaceholdersTest, UsesTheLocalClockWithoutAnInjectedOne)
{
    SetPlaceholderClock({});
    const TDateParts now = DecodeDateTime(Now());
    EXPECT_EQ(ExpandDateTimePlaceHolders(S("%year%-%month%"), 0),
              QStringLiteral("%1-%2").arg(now.Year, 4, 10, QLatin1Char('0')).arg(now.Month, 2, 10, QLatin1Char('0')));
}

// ---- Folders -------------------------------------------------------------------------

TEST_F(PlaceholdersTest, FolderPlaceholdersTakeTheXdgFolders)
{
    const QString home = qEnvironmentVariable("HOME");
    // A trailing "/" of a setting does not reach the expanded path.
    const test::TScopedEnv env{{"XDG_CONFIG_HOME", "/cfg/"}, {"XDG_DATA_HOME", "/dat"}};
    const QString progFiles = ParentDirectory(ProgramPath);
    QString progPath = ProgramPath;
    progPath.chop(1);
    ASSERT_FALSE(progFiles.isEmpty());
    const std::pair<const char *, QString> cases[] = {
        {"%perspath%", home + S("/Documents")},
        {"%apppath%", S("/cfg")},
        {"%APPDATA%", S("/cfg")},
        {"%localappdata%", S("/dat")},
        {"%profile%", home},
        {"%userprofile%", home},
        {"%desktop%", home + S("/Desktop")},
        {"%favorites%", QString()},
        {"%progfiles%|%programfiles%|%programfiles(x86)%", progFiles + QLatin1Char('|') + progFiles + QLatin1Char('|') + progFiles},
        {"%commonprogramfiles%|%commonprogramfiles(x86)%", progFiles + QLatin1Char('|') + progFiles},
        {"%progpath%", progPath},
        {"%allusersprofile%", S("/etc/xdg")},
        {"%public%", S("/srv")},
        {"%programdata%", S("/var/lib")},
        {"%username%@%computername%", LogonUserName() + QLatin1Char('@') + LocalComputerName()},
        {"/x/%user%/%computer%/y", S("/x///y")},
        {"%date%", S("%date%")},
        {"", QString()},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ExpandFolderPlaceHolders(S(text)), expected) << text;
    // The date expansion gives "%user%" the user's name instead.
    EXPECT_EQ(ExpandDateTimePlaceHolders(S("/x/%user%/y"), 0), S("/x/") + LogonUserName() + S("/y"));
}

TEST_F(PlaceholdersTest, RootFolderValueNeverMakesANetworkPath)
{
    const test::TScopedEnv env{{"HOME", "/"}};
    EXPECT_EQ(ExpandFolderPlaceHolders(S("%profile%/x")), S("/x"));
}

TEST_F(PlaceholdersTest, PathBeforePlaceHolder)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/data/%date%/x", "/data/"}, {"%date%/x", ""},          {"/backup", "/backup"},
        {"/backup/", "/backup/"},     {"/a/b%c/d", "/a/"},       {"//srv/share/%user%", "//srv/share/"},
        {"rel/%x%", "rel/"},          {"", ""},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(PathBeforePlaceHolder(S(path)), S(expected)) << path;
}

// ---- Environment -------------------------------------------------------------------

TEST_F(PlaceholdersTest, ExpandEnvVariables)
{
    const test::TScopedEnv env{{"VL_PH_A", "alpha"}, {"VL_PH_B", "x=y"}, {"VL_PH_EMPTY", ""}, {"VL_PH_UNSET", nullptr}};
    const std::pair<const char *, const char *> cases[] = {
        {"a%b", "a%b"},
        {"%VL_PH_UNSET%x", "%VL_PH_UNSET%x"},
        {"/t/%VL_PH_A%/x", "/t/alpha/x"},
        {"%VL_PH_A%%VL_PH_A%", "alphaalpha"},
        {"%VL_PH_EMPTY%", "%VL_PH_EMPTY%"},
        {"%vl_ph_a%", "%vl_ph_a%"}, // names are case-sensitive
        {"%%", "%%"},
        {"%VL_PH_UNSET%VL_PH_A%", "%VL_PH_UNSET%VL_PH_A%"}, // pairs from the left
        {"%VL_PH_A%x%VL_PH_A", "alphax%VL_PH_A"},
        {"%VL_PH_B=x%", "%VL_PH_B=x%"}, // no match on the tail of VL_PH_B's entry
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ExpandEnvVariables(S(text)), S(expected)) << text;
}

TEST_F(PlaceholdersTest, ExpandDestPlaceHolders)
{
    const test::TScopedEnv env{{"VL_PH_A", "alpha"}, {"VL_PH_EMPTY", ""}, {"VL_PH_UNSET", nullptr}};
    struct Case {
        const char *text, *volume;
        int counter;
        const char *expected;
    };
    const Case cases[] = {
        {"/b/%evar(VL_PH_A)%/%EVAR(VL_PH_A)%", "", 1, "/b/alpha/alpha"},
        {"/b/%evar(VL_PH_UNSET)%", "", 1, "/b/%evar(VL_PH_UNSET)%"},
        {"/b/%evar(VL_PH_EMPTY)%", "", 1, "/b/%evar(VL_PH_EMPTY)%"},
        {"/b/%evarVL_PH_A)%", "", 1, "/b/%evarVL_PH_A)%"},
        {"/b/%date%%evar(VL_PH_A)%", "", 1, "/b/2024-03-05alpha"},
        {"/b/%Volume%_%date%", "USB", 1, "/b/USB_2024-03-05"},
        {"/b/%volume%", "", 1, "/b/"},
        {"/b/v%v#3%", "", 4, "/b/v1"},
        {"/b/v%v#3%", "", 0, "/b/v%v#3%"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExpandDestPlaceHolders(S(c.text), S(c.volume), c.counter), S(c.expected)) << c.text;
}

// ---- Log names and drives ----------------------------------------------------------

TEST_F(PlaceholdersTest, LogPlaceholdersOfTheDestination)
{
    // "/" unlabelled, /home labelled "home", a vfat stick "USB", a USB hard
    // disk "My Disk", a cifs mount of //nas/data at /mnt/nas.
    const test::TFakeVolumes volumes;
    struct Case {
        const char *dest, *text, *expected;
    };
    const Case cases[] = {
        {"/media/ann/USB/bu", "%drive%/Logs/%VOLUME%.log", "/media/ann/USB/Logs/USB.log"},
        {"/media/ann/My Disk/bu", "%drive%/Logs/%volume%.log", "/media/ann/My Disk/Logs/My Disk.log"},
        {"/home/ann/bu", "%drive%/Logs/%volume%.log", "/Logs/home.log"},
        {"/srv/bu", "[%drive%][%volume%]", "[][]"},
        {"/mnt/nas/bu", "%drive%/Logs/[%volume%]", "/mnt/nas/Logs/[]"},
        {"//nas/data/bu", "[%drive%][%volume%]", "[//nas/data][]"},
        {":usb:/daily", "[%drive%][%volume%]", "[][usb]"},
        {":ABSENT:/daily", "[%drive%][%volume%]", "[][]"},
        {"relative/bu", "[%drive%][%volume%]", "[][]"},
        {"", "[%drive%][%volume%][%dest%]", "[][][]"},
        {"/srv/bu", "%dest%/%date%_%time%_%yam%_%year%", "/srv/bu/2024-03-05_070809_2024-03_2024"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExpandLogPlaceHolders(S(c.text), S(c.dest)), S(c.expected)) << c.dest << " " << c.text;
}

TEST_F(PlaceholdersTest, LogNameUserAndComputer)
{
    EXPECT_EQ(ExpandLogPlaceHolders(S("%username%@%computername%"), QString()),
              LogonUserName() + QLatin1Char('@') + LocalComputerName());
}

} // namespace
} // namespace vl
