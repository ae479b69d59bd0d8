#include "app/CommandLine.h"

#include "common/MessageRecorder.h"
#include "common/TestUtils.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"

#include <cmath>

namespace vl {
namespace {

using test::MakeTempDir;
using test::TMessageRecorder;
using test::WriteBytes;

QStringList Args(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromUtf8(item);
    return list;
}

QString ArgText(const QStringList &args)
{
    return args.join(QLatin1Char(' '));
}

TMainCommandLine Parsed(const QStringList &args)
{
    TMainCommandLine cl;
    cl.ParseCommandLine(args);
    return cl;
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CmdLineValid = true;
        StartedBy = 0;
    }
};

TEST_F(CommandLineTest, StartModesFollowAbbreviationAndLastOneWins)
{
    enum : int { A = 1, L = 2, F = 4, C = 8, V = 16, R = 32 };
    struct TCase {
        QStringList Args;
        int Modes;
    } cases[] = {
        {Args({"/f"}), F},
        {Args({"/fo"}), F},
        {Args({"/forced"}), 0},
        {Args({"/FORCE"}), F},
        {Args({"-force"}), F},
        {Args({"/r"}), R},
        {Args({"/v"}), V},
        {Args({"/c"}), C},
        {Args({"/sh"}), L},
        {Args({"/s"}), 0}, // sched
        {Args({"/force", "/auto"}), A},
        {Args({"/directory:/src", "/auto"}), A},
        {Args({"/directory:/src"}), F},
        {Args({"/auto", "/restore"}), R},
    };
    for (const TCase &c : cases) {
        const TMainCommandLine cl = Parsed(c.Args);
        const int modes = (cl.StartTask ? A : 0) | (cl.ProtTask ? L : 0) | (cl.ForceTask ? F : 0)
                          | (cl.CleanTask ? C : 0) | (cl.VerifyTask ? V : 0) | (cl.RestTask ? R : 0);
        EXPECT_EQ(modes, c.Modes) << ArgText(c.Args).toStdString();
    }
}

TEST_F(CommandLineTest, EndModesMatchTheirValuesInOrder)
{
    struct TCase {
        const char *Arg;
        TDownMode Down;
        TSuspendMode Suspend;
        bool Lock;
    } cases[] = {
        {"/end:sh", TDownMode::dmShutdown, TSuspendMode::smNone, false},
        {"/end:", TDownMode::dmShutdown, TSuspendMode::smNone, false},
        {"/end:st", TDownMode::dmNone, TSuspendMode::smStandby, false},
        {"/e:LOCK", TDownMode::dmShutdown, TSuspendMode::smNone, true},
        {"/end:h", TDownMode::dmHybrid, TSuspendMode::smNone, false},
        {"/end:hi", TDownMode::dmNone, TSuspendMode::smHibernate, false},
        {"/end:idleoff", TDownMode::dmIdleOff, TSuspendMode::smNone, false},
        {"/end:x", TDownMode::dmNone, TSuspendMode::smNone, false},
        {"/end", TDownMode::dmNone, TSuspendMode::smNone, false},
        {"/su:h", TDownMode::dmNone, TSuspendMode::smHibernate, false},
    };
    for (const auto &c : cases) {
        const TMainCommandLine cl = Parsed(Args({c.Arg}));
        EXPECT_EQ(cl.LogOffMode, c.Down) << c.Arg;
        EXPECT_EQ(cl.SuspendMode, c.Suspend) << c.Arg;
        EXPECT_EQ(cl.LockDown, c.Lock) << c.Arg;
    }
}

TEST_F(CommandLineTest, PromptAndOtherKeywordValues)
{
    const struct {
        const char *Arg;
        TInteraction Mode;
    } prompts[] = {
        {"/prompt:", TInteraction::iaPrompt},  {"/prompt:x", TInteraction::iaDelay},
        {"/pr:Q", TInteraction::iaQuiet},      {"/prompt:e", TInteraction::iaErrorPrompt},
        {"/prompt:s", TInteraction::iaQuietError}, {"/q", TInteraction::iaQuiet},
        {"/prompt", TInteraction::iaNone},
    };
    for (const auto &c : prompts)
        EXPECT_EQ(Parsed(Args({c.Arg})).InterActiveMode, c.Mode) << c.Arg;

    const TMainCommandLine cl =
        Parsed(Args({"/speed:f", "/status:o", "/mode:d", "/wait:", "/xinst:x", "/logmode:2", "/erractions:12",
                     "/startapp:VL", "/h", "/d", "/nos", "/noscale", "/retain", "/rese"}));
    EXPECT_EQ(cl.BuThPr, TThreadPriority::tpHigher);
    EXPECT_EQ(cl.StatusStyle, TStatusStyle::ssOnTop);
    EXPECT_EQ(cl.BuM, 2);
    EXPECT_EQ(cl.Wt, 5);
    EXPECT_EQ(cl.VlInstance, 0);
    EXPECT_EQ(cl.Pm, 2);
    EXPECT_EQ(cl.NoActionOnError, 12u);
    EXPECT_EQ(StartedBy, 3);
    EXPECT_TRUE(cl.NoSplash);
    EXPECT_TRUE(cl.UseDarkMode);
    EXPECT_FALSE(cl.SoundOn);
    EXPECT_TRUE(cl.UpdateCheck);
    EXPECT_EQ(cl.AppTag, 1);
    EXPECT_FALSE(cl.DelTemp);
    EXPECT_TRUE(cl.ResetForm);
    EXPECT_FALSE(cl.RestTask);

    const TMainCommandLine other = Parsed(Args({"/speed:x", "/status:", "/wait:30", "/s"}));
    EXPECT_EQ(other.BuThPr, TThreadPriority::tpNormal);
    EXPECT_EQ(other.StatusStyle, TStatusStyle::ssNormal);
    EXPECT_EQ(other.Wt, 30);
    EXPECT_EQ(StartedBy, 1);
}

TEST_F(CommandLineTest, PortableFillsOnlyEmptyFields)
{
    const QString progIni = QStringLiteral("%progpath%/") + ProgramName + QStringLiteral(".ini");
    struct TCase {
        QStringList Args;
        QString Ini, Dir, Log;
    } cases[] = {
        {Args({"/p"}), progIni, QStringLiteral("%progpath%/tasks"), QStringLiteral("%progpath%/logs")},
        {Args({"/"}), progIni, QStringLiteral("%progpath%/tasks"), QStringLiteral("%progpath%/logs")},
        {Args({"/portable", "/ini:my.ini"}), QStringLiteral("my.ini"), QStringLiteral("%progpath%/tasks"),
         QStringLiteral("%progpath%/logs")},
        {Args({"/ini:my.ini", "/taskdir:/t", "/logdir:/l", "/portable"}), QStringLiteral("my.ini"), QStringLiteral("/t"),
         QStringLiteral("/l")},
    };
    for (const TCase &c : cases) {
        const TMainCommandLine cl = Parsed(c.Args);
        EXPECT_TRUE(cl.IsPortable) << ArgText(c.Args).toStdString();
        EXPECT_EQ(cl.IniName, c.Ini) << ArgText(c.Args).toStdString();
        EXPECT_EQ(cl.DirName, c.Dir) << ArgText(c.Args).toStdString();
        EXPECT_EQ(cl.LDir, c.Log) << ArgText(c.Args).toStdString();
    }
}

TEST_F(CommandLineTest, FolderValuesAreExpandedAndAccountSplitAtFirstColon)
{
    test::TScopedEnv env{{"VL_CMD_BASE", "/data"}, {"VL_CMD_UNSET", nullptr}};
    const TMainCommandLine cl =
        Parsed(Args({"/zipname:%VL_CMD_BASE%/Z.zip", "/tempdir:%VL_CMD_UNSET%/t", "/backupdir:Sub",
                     "/repldrive:%VL_CMD_BASE%", "/user:bob:pa:ss:x"}));
    EXPECT_EQ(cl.AltZip, QStringLiteral("/data/Z.zip"));
    EXPECT_EQ(cl.TDir, QStringLiteral("%VL_CMD_UNSET%/t"));
    EXPECT_EQ(cl.SubDir, QStringLiteral("Sub"));
    EXPECT_EQ(cl.ReplSDrv, QStringLiteral("%VL_CMD_BASE%"));
    EXPECT_EQ(cl.User, QStringLiteral("bob"));
    EXPECT_EQ(cl.Pwd, QStringLiteral("pa:ss:x"));

    const TMainCommandLine single = Parsed(Args({"/user:Bob"}));
    EXPECT_EQ(single.User, QStringLiteral("Bob"));
    EXPECT_TRUE(single.Pwd.isEmpty());
}

TEST_F(CommandLineTest, TaskArgumentsAreQuotedSoTheRunsGetThemBack)
{
    const QStringList names = {QStringLiteral("Daily"), QStringLiteral("Weekly job"), QStringLiteral("a,b"),
                               QStringLiteral("say \"hi\""), QStringLiteral("/tasks/p.buj")};
    TMainCommandLine cl = Parsed(QStringList(names) << QStringLiteral("/hide") << QString());
    EXPECT_TRUE(cl.CmdTasks.startsWith(QStringLiteral("Daily,\"Weekly job\",\"a,b\",")));
    QString rest = cl.CmdTasks;
    QStringList back;
    while (!rest.isEmpty())
        back << SplitNextQuotedToken(rest, QLatin1Char(','), QLatin1Char('"'));
    EXPECT_EQ(back, names);
    EXPECT_TRUE(cl.NoSplash);
}

TEST_F(CommandLineTest, TimePeriodValues)
{
    const TDateTime jan1 = EncodeDate(2024, 1, 1), jan31 = EncodeDate(2024, 1, 31), mar1 = EncodeDate(2024, 3, 1);
    struct TCase {
        const char *Value;
        TTimeMode Mode;
        TTimeRef Ref;
        TDateTime Dat1, Dat2; // 0: not checked
        int Days;
    } cases[] = {
        {"20240101-20240131", TTimeMode::tmSpan, TTimeRef::trModify, jan1, jan31, 1},
        {"20240101", TTimeMode::tmSpan, TTimeRef::trModify, jan1, jan1, 1},
        {"C+20240301", TTimeMode::tmNewer, TTimeRef::trCreate, mar1, 0, 1},
        {"b-20240301", TTimeMode::tmOlder, TTimeRef::trBoth, 0, mar1, 1},
        {"t20240101", TTimeMode::tmToday, TTimeRef::trModify, jan1, 0, 1},
        {"B", TTimeMode::tmError, TTimeRef::trBoth, 0, 0, 1},
        {"X", TTimeMode::tmPrompt, TTimeRef::trModify, 0, 0, 1},
        {"D7", TTimeMode::tmLastDays, TTimeRef::trModify, 0, 0, 7},
        {"co30", TTimeMode::tmPrevDays, TTimeRef::trCreate, 0, 0, 30},
        {"Dx", TTimeMode::tmError, TTimeRef::trModify, 0, 0, 1},
        {"u", TTimeMode::tmUpdate, TTimeRef::trModify, 0, 0, 1},
        {"20241301", TTimeMode::tmError, TTimeRef::trModify, 0, 0, 1},
        {"20240101-2024013", TTimeMode::tmError, TTimeRef::trModify, jan1, 0, 1},
        {"+2024", TTimeMode::tmError, TTimeRef::trModify, 0, 0, 1},
    };
    for (const TCase &c : cases) {
        TTimePeriod p;
        ParseTimePeriod(QString::fromUtf8(c.Value), p);
        EXPECT_EQ(p.Mode, c.Mode) << c.Value;
        EXPECT_EQ(p.TmRef, c.Ref) << c.Value;
        if (c.Dat1 != 0) {
            EXPECT_EQ(p.Dat1, c.Dat1) << c.Value;
        }
        if (c.Dat2 != 0) {
            EXPECT_EQ(p.Dat2, c.Dat2) << c.Value;
        }
        EXPECT_EQ(p.Days, c.Days) << c.Value;
    }

    // An empty value keeps the start values; "gap:" is the same switch.
    const TMainCommandLine empty = Parsed(Args({"/ti:"}));
    EXPECT_EQ(empty.tp.Mode, TTimeMode::tmOff);
    EXPECT_EQ(empty.tp.Dat2 - empty.tp.Dat1, 1);
    EXPECT_EQ(empty.tp.Dat2, std::floor(empty.tp.Dat2));
    EXPECT_EQ(empty.tp.DayTime, 0.25);
    EXPECT_EQ(Parsed(Args({"/g:D3"})).tp.Days, 3);
}

TEST_F(CommandLineTest, Date8AlwaysConsumesEightCharacters)
{
    struct TCase {
        const char *Text;
        bool Ok;
        const char *Rest;
    } cases[] = {
        {"20240229x", true, "x"}, {"20230229", false, ""}, {"2023ab011", false, "1"}, {"2024022", false, ""},
    };
    for (const TCase &c : cases) {
        QString text = QString::fromUtf8(c.Text);
        TDateTime date = 0;
        EXPECT_EQ(ParseDate8(text, date), c.Ok) << c.Text;
        EXPECT_EQ(text, QString::fromUtf8(c.Rest)) << c.Text;
        if (c.Ok) {
            EXPECT_EQ(date, EncodeDate(2024, 2, 29));
        }
    }
}

TEST_F(CommandLineTest, StartDelayUnitsAndRandomPart)
{
    int asked = 0;
    const TRandomSource highest = [&](int max) { return asked = max; };
    struct TCase {
        const char *Value;
        int Seconds;
        int RandomMax; // 0: no random part
    } cases[] = {
        {"90", 90, 0}, {"5m", 300, 0}, {"5M", 300, 0}, {"3xm", 180, 0}, {"3xxm", 3, 0}, {"x", 0, 0}, {"", 0, 0},
        {"10r", 10, 10}, {"2mr", 120, 120}, {"2RM", 120, 120}, {"0r", 0, 0},
    };
    for (const TCase &c : cases) {
        asked = 0;
        EXPECT_EQ(ParseStartDelay(QString::fromUtf8(c.Value), highest), c.Seconds) << c.Value;
        EXPECT_EQ(asked, c.RandomMax) << c.Value;
    }
    bool sawLow = false, sawHigh = false;
    for (int i = 0; i < 400; ++i) {
        const int d = ParseStartDelay(QStringLiteral("10r"));
        ASSERT_GE(d, 1);
        ASSERT_LE(d, 10);
        sawLow = sawLow || d == 1;
        sawHigh = sawHigh || d == 10;
        const int m = ParseStartDelay(QStringLiteral("2mr"));
        ASSERT_GE(m, 1);
        ASSERT_LE(m, 120);
    }
    EXPECT_TRUE(sawLow && sawHigh);

    TMainCommandLine cl;
    cl.Random = [](int) { return 7; };
    cl.ParseCommandLine(Args({"/delay:1mr"}));
    EXPECT_EQ(cl.StartDelay, 7);
}

// The pre-scan gives each argument exactly the class the full parse gives it.
TEST_F(CommandLineTest, PreScanAgreesWithFullParse)
{
    struct TCase {
        const char *Arg;
        uint8_t Flags;
    } cases[] = {
        {"/s", 0},           {"/", kPreScanOwnIni},      {"-", kPreScanOwnIni},  {"/p", kPreScanOwnIni},
        {"/ini:x.ini", kPreScanOwnIni}, {"/f", kPreScanBatch}, {"/SH", kPreScanBatch}, {"/r", kPreScanBatch},
        {"/v", kPreScanBatch}, {"/c", kPreScanBatch}, {"/dir:/src", kPreScanBatch}, {"/a", kPreScanAuto},
        {"/e", kPreScanEdit}, {"/end:", kPreScanEnd}, {"/d", 0},              {"/h", 0},
        {"/forced", 0},      {"/tasks/p.buj", 0},        {"Daily", 0},           {"/el", kPreScanElevate},
    };
    for (const TCase &c : cases) {
        const QString arg = QString::fromUtf8(c.Arg);
        uint8_t flags = 0;
        const QString kept = PreScanArgument(arg, flags);
        EXPECT_EQ(flags, c.Flags) << c.Arg;
        EXPECT_EQ(kept, flags & kPreScanElevate ? QString() : arg) << c.Arg;

        const TMainCommandLine cl = Parsed({arg});
        const bool batch = cl.ForceTask || cl.CleanTask || cl.RestTask || cl.VerifyTask || cl.ProtTask;
        EXPECT_EQ(bool(flags & kPreScanBatch), batch) << c.Arg;
        EXPECT_EQ(bool(flags & kPreScanAuto), cl.StartTask) << c.Arg;
        EXPECT_EQ(bool(flags & kPreScanOwnIni), !cl.IniName.isEmpty()) << c.Arg;
        EXPECT_EQ(bool(flags & kPreScanEnd), cl.LogOffMode != TDownMode::dmNone) << c.Arg;
        EXPECT_EQ(bool(flags & kPreScanEdit), cl.DoEdit) << c.Arg;
    }
}

TEST_F(CommandLineTest, PreScanJoinsArgumentsWithoutElevate)
{
    const QString dir = MakeTempDir();
    WriteBytes(dir + QStringLiteral("/args.txt"), "/end:st\n-elevate\n");
    QString joined;
    const uint8_t flags =
        PreScanCommandLine({QStringLiteral("/f"), QStringLiteral("-elevate"), QStringLiteral("Weekly job"),
                            QLatin1Char('@') + dir + QStringLiteral("/args.txt"), QStringLiteral("/a")},
                           joined);
    EXPECT_EQ(flags, kPreScanBatch | kPreScanElevate | kPreScanEnd | kPreScanAuto);
    EXPECT_EQ(joined, QStringLiteral(" /f Weekly job /end:st /a"));

    EXPECT_EQ(FirstTaskArgument(Args({"", "/f", "-x", "@a", "/tasks/p.buj", "Daily"})), QStringLiteral("/tasks/p.buj"));
    EXPECT_EQ(FirstTaskArgument(Args({"/f", "@Daily"})), QString());
}

TEST_F(CommandLineTest, ArgumentFileSkipsCommentsAndIsFoundInProgramFolder)
{
    const QString saved = ProgramPath;
    ProgramPath = MakeTempDir(QStringLiteral("prog")) + QLatin1Char('/');
    WriteBytes(ProgramPath + QStringLiteral("vl-cmd-args.txt"),
               "  /force \r\n; a whole comment line\n\nWeekly job ; the remark\n   ;\n");
    EXPECT_EQ(ReadArgumentFile(QStringLiteral("vl-cmd-args.txt")), QStringLiteral("/force|Weekly job"));
    const TMainCommandLine cl = Parsed({QStringLiteral("@vl-cmd-args.txt")});
    EXPECT_TRUE(cl.ForceTask);
    EXPECT_EQ(cl.CmdTasks, QStringLiteral("\"Weekly job\""));
    EXPECT_TRUE(CmdLineValid);
    ProgramPath = saved;
}

TEST_F(CommandLineTest, MissingArgumentFileDisablesTheParseWithOneBox)
{
    TMessageRecorder boxes;
    const QString missing = MakeTempDir() + QStringLiteral("/none.txt");
    QString joined;
    const uint8_t flags = PreScanCommandLine(
        {QStringLiteral("/a"), QLatin1Char('@') + missing, QStringLiteral("@") + missing, QStringLiteral("/e")}, joined);
    EXPECT_EQ(flags, kPreScanAuto | kPreScanEdit);
    EXPECT_FALSE(CmdLineValid);
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].contains(missing));

    const TMainCommandLine cl = Parsed(Args({"/f", "Daily"}));
    EXPECT_FALSE(cl.ForceTask);
    EXPECT_TRUE(cl.CmdTasks.isEmpty());
    EXPECT_EQ(boxes.Texts.size(), 1);

    // A file missing at the full parse leaves the arguments before it alone.
    CmdLineValid = true;
    const TMainCommandLine late = Parsed({QStringLiteral("/f"), QLatin1Char('@') + missing});
    EXPECT_FALSE(late.ForceTask);
    EXPECT_FALSE(CmdLineValid);
}

} // namespace
} // namespace vl
