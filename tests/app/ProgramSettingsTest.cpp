#include "app/ProgramSettings.h"

#include "app/CommandLine.h"
#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "core/Language.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

namespace vl {
namespace {

using namespace Qt::StringLiterals;

void Put(const QString &APath, const QByteArray &AData)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    test::WriteBytes(APath, AData);
}

class ProgramSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings(VlSettings);
        ErrorCount = 0;
        ProgDirIniName.clear();
        Dir = test::MakeTempDir(u"ps"_s);
        ProgramTempDir = Dir + u"/progtemp/"_s;
        Ini = Dir + u"/Velkor.ini"_s;
        P.DefTaskDir = Dir + u"/deftasks/"_s;
    }

    // A settings file in UTF-8 with the given text.
    void WriteIni(const QString &AText) { test::WriteBytes(Ini, AText.toUtf8()); }
    QString Stored(const QString &ASection, const QString &AKey) const
    {
        return TUnicodeIniFile::CreateForRead(Ini).ReadString(ASection, AKey, u"<none>"_s);
    }
    // Reads the file again into fresh settings.
    TProgramSettings Reread(const TMainCommandLine &ACmd = {})
    {
        SetDefaultSettings(VlSettings);
        TProgramSettings q;
        q.DefTaskDir = P.DefTaskDir;
        q.ReadFromIni(Ini, ACmd);
        return q;
    }

    QString Dir, Ini;
    TProgramSettings P;
    TMainCommandLine Cmd;
};

TEST_F(ProgramSettingsTest, MissingFileGivesTheDefaultsOfTheFile)
{
    EXPECT_FALSE(P.ReadFromIni(Ini, Cmd));
    const TVlSettings &s = VlSettings;
    // Where a missing key differs from the preferences' built-in value.
    EXPECT_EQ(s.OtherSettings.MinPwdLength, 6);
    EXPECT_EQ(s.CopySettings.CompMode, 0);
    EXPECT_EQ(s.CopySettings.BufferSize, 0x400000);
    EXPECT_EQ(s.CopySettings.FTPBufferSize, 0x40000);
    EXPECT_TRUE(s.ViewSettings.ShowNotifications);
    EXPECT_EQ(s.LogSettings.LogDelSettings.Mode, 3);
    EXPECT_EQ(s.LogSettings.LogDelSettings.Count, 6);
    EXPECT_EQ(s.LogSettings.LogDelSettings.Auto, 1);
    EXPECT_EQ(P.FormPos.w, P.DefWidth);
    EXPECT_EQ(P.FormPos.h, P.DefHeight);
    EXPECT_FALSE(P.KeepRunning);
    EXPECT_FALSE(P.AutoActive);
    EXPECT_EQ(IniFileName, Ini);
    EXPECT_EQ(TaskFolder, P.DefTaskDir);
    EXPECT_TRUE(QFileInfo(P.DefTaskDir).isDir());
    EXPECT_EQ(ProgramLogName, Dir + u"/Velkor.log"_s);
    EXPECT_EQ(WorkTempDir, ProgramTempDir);
    EXPECT_TRUE(s.CopySettings.NoCompress.startsWith(u"7z,ace,arc,"_s));
}

TEST_F(ProgramSettingsTest, SingleConfigValues)
{
    struct TCase {
        const char *Config;
        std::function<int()> Value;
        int Expected;
    };
    const TVlSettings &s = VlSettings;
    const TCase cases[] = {
        {"Width=100", [&] { return P.FormPos.w; }, 800},
        {"Height=5000", [&] { return P.FormPos.h; }, 5000},
        {"Left=3\nDualMonPos=7", [&] { return P.FormPos.xmult; }, 7},
        {"Left=3\nDualMonPos=7\nMultLeft=9", [&] { return P.FormPos.xmult; }, 9},
        {"Top=44", [&] { return P.FormPos.ymult; }, 44},
        {"ShowHints=0", [&] { return int(s.ViewSettings.ShowNotifications); }, 0},
        {"ProtocolDelete=$13005", [&] { return s.LogSettings.LogDelSettings.Mode; }, 3},
        {"ProtocolDelete=$13005", [&] { return s.LogSettings.LogDelSettings.Count; }, 5},
        {"ProtocolDelete=$13005", [&] { return s.LogSettings.LogDelSettings.Auto; }, 2},
        {"ProtocolDelete=$9007", [&] { return s.LogSettings.LogDelSettings.Mode; }, 0},
        {"Protocol=$0123", [&] { return s.LogSettings.LogMode; }, 0x123},
        {"LogFiles=2", [&] { return int(s.OtherSettings.SMTPLog) * 10 + int(s.OtherSettings.VssLog); }, 10},
        {"Shutdown=1", [&] { return int(s.ShutdownSettings.DownMode); }, int(TDownMode::dmPowerOff)},
        // Values that would break a run fall back.
        {"BufferSize=0", [&] { return s.CopySettings.BufferSize; }, 0x400000},
        {"FtpBufferSize=-5", [&] { return s.CopySettings.FTPBufferSize; }, 0x40000},
        {"CompPref=9", [&] { return s.CopySettings.CompMode; }, 0},
        {"Shutdown=42", [&] { return int(s.ShutdownSettings.DownMode); }, int(TDownMode::dmShutdown)},
        {"ErrorCount=-3", [&] { return ErrorCount; }, 0},
    };
    for (const TCase &c : cases) {
        SetDefaultSettings(VlSettings);
        WriteIni(u"[Config]\n"_s + QString::fromUtf8(c.Config) + u"\n"_s);
        P = TProgramSettings();
        P.DefTaskDir = Dir + u"/deftasks/"_s;
        ASSERT_TRUE(P.ReadFromIni(Ini, Cmd)) << c.Config;
        EXPECT_EQ(c.Value(), c.Expected) << c.Config;
    }
}

TEST_F(ProgramSettingsTest, RoundTripThroughTheFile)
{
    WriteIni(u"[Config]\nDualMonPos=5\n[Printer]\nFont=Mono\n"_s);
    P.ReadFromIni(Ini, Cmd);
    const QString tasks = Dir + u"/tasks/"_s;
    TVlSettings &s = VlSettings;
    s.Directories.TaskDir = tasks;
    s.Directories.LogDir = Dir + u"/logs/"_s;
    s.CopySettings.NoCompress = u"abc,zip"_s;
    s.CopySettings.CompMode = 2;
    s.OtherSettings.MinPwdLength = 12;
    s.OtherSettings.DefaultTask = u"daily"_s;
    s.ViewSettings.ShowNotifications = false;
    s.LogSettings.LogMode = 0x239;
    s.LogSettings.LogDelSettings = {3, 5, 2, 0};
    s.SecCopySettings.BakSuffix = u"old"_s;
    P.FormPos = {10, 1930, 20, 30, 900, 700, 0, 96};
    P.LastError = 203;
    ErrorCount = 4;
    P.OldIcon = 1;
    P.AutoTasks[1] = TAutoTask(tasks + u"nightly.buj"_s);
    P.AutoTasks[1].BuProcess = TAutoStart::asWeekly;
    P.AutoTasks[1].WeekDay = 5;
    Put(tasks + u"kept.buj"_s, "x");
    P.BackupList = {{u"kept"_s, false}, {u"-- weekly --"_s, true}, {u"gone"_s, false}};
    P.BackupLast = u"kept"_s;
    P.RestoreLast = u"r1"_s;
    ASSERT_TRUE(P.SaveToIni());

    const QByteArray raw = test::ReadBytes(Ini);
    EXPECT_TRUE(raw.startsWith("\xFF\xFE"));
    EXPECT_EQ(Stored(u"Unicode"_s, u"Program"_s), u"Velkor"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"ProtocolDelete"_s), u"$13005"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"Protocol"_s), u"$0239"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"TaskCount"_s), u"16"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"DualMonPos"_s), u"<none>"_s);
    EXPECT_EQ(Stored(u"Printer"_s, u"Font"_s), u"Mono"_s);

    const TProgramSettings q = Reread();
    EXPECT_EQ(TaskFolder, tasks);
    EXPECT_EQ(s.Directories.LogDir, Dir + u"/logs/"_s);
    EXPECT_EQ(ProgramLogName, Dir + u"/logs/Velkor.log"_s);
    EXPECT_EQ(s.CopySettings.CompMode, 2);
    EXPECT_EQ(s.OtherSettings.MinPwdLength, 12);
    EXPECT_EQ(s.OtherSettings.DefaultTask, u"daily"_s);
    EXPECT_FALSE(s.ViewSettings.ShowNotifications);
    EXPECT_EQ(s.LogSettings.LogMode, 0x239);
    EXPECT_EQ(EncodeLogDelSettings(s.LogSettings.LogDelSettings), 0x13005);
    EXPECT_EQ(s.SecCopySettings.BakSuffix, u"old"_s);
    EXPECT_TRUE(s.CopySettings.NoCompress.startsWith(u"7z,abc,ace,"_s));
    EXPECT_EQ(s.CopySettings.NoCompress.count(u"zip,"_s), 1);
    EXPECT_EQ(q.FormPos.xmult, 1930);
    EXPECT_EQ(q.FormPos.ymult, 30);
    EXPECT_EQ(q.FormPos.w, 900);
    EXPECT_EQ(q.LastError, 203);
    EXPECT_EQ(ErrorCount, 4);
    EXPECT_EQ(q.OldIcon, 1);
    EXPECT_EQ(q.AutoTasks[1].TaskPath, tasks + u"nightly.buj"_s);
    EXPECT_EQ(q.AutoTasks[1].BuProcess, TAutoStart::asWeekly);
    EXPECT_EQ(q.AutoTasks[1].WeekDay, 5u);
    EXPECT_TRUE(q.AutoTasks[0].TaskPath.isEmpty());
    // The entry whose task file is gone is dropped; the comment stays.
    const TTaskList expected{{u"kept"_s, false}, {u"-- weekly --"_s, true}};
    EXPECT_EQ(q.BackupList, expected);
    EXPECT_EQ(q.BackupLast, u"kept"_s);
    EXPECT_EQ(q.RestoreLast, u"r1"_s);
}

TEST_F(ProgramSettingsTest, FolderDerivations)
{
    const QString blocked = Dir + u"/plainfile"_s; // a file: nothing can be created below it
    test::WriteBytes(blocked, "x");
    struct TCase {
        const char *Name;
        QString Config;
        QString CmdTask, CmdLog, CmdTemp;
        QString Folder, LogName, Temp;        // in use
        QString JobDir, ProtDir, TempDirSaved; // written back
    };
    const QString def = Dir + u"/deftasks/"_s, tasks = Dir + u"/tasks/"_s;
    const TCase cases[] = {
        {"default folder counts as empty", u"JobDir="_s + def, {}, {}, {}, def, Dir + u"/Velkor.log"_s,
         ProgramTempDir, u""_s, u""_s, u""_s},
        {"stored folders", u"JobDir="_s + tasks + u"\nProtDir="_s + Dir + u"/l\nTempDir="_s + Dir + u"/tmp1/"_s, {},
         {}, {}, tasks, Dir + u"/l/Velkor.log"_s, Dir + u"/tmp1/"_s, tasks, Dir + u"/l"_s, Dir + u"/tmp1/"_s},
        {"uncreatable stored folders", u"JobDir="_s + blocked + u"/t\nProtDir="_s + blocked + u"/l\nTempDir="_s +
             blocked + u"/m"_s, {}, {}, {}, def, Dir + u"/Velkor.log"_s, ProgramTempDir, blocked + u"/t"_s,
         blocked + u"/l"_s, blocked + u"/m"_s},
        {"command line folders stay out of the file",
         u"JobDir="_s + tasks + u"\nProtDir="_s + Dir + u"/l\nTempDir="_s + Dir + u"/tmp1/"_s, Dir + u"/ct/"_s,
         u"clog"_s, Dir + u"/ctmp"_s, Dir + u"/ct/"_s, Dir + u"/ct/clog/Velkor.log"_s, Dir + u"/ctmp/"_s, tasks,
         Dir + u"/l"_s, Dir + u"/tmp1/"_s},
        {"uncreatable command-line log folder is not used", u"ProtDir="_s + Dir + u"/l"_s, {}, blocked + u"/x"_s,
         {}, def, Dir + u"/l/Velkor.log"_s, ProgramTempDir, u""_s, Dir + u"/l"_s, u""_s},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        SetDefaultSettings(VlSettings);
        WriteIni(u"[Config]\n"_s + c.Config + u"\n"_s);
        TMainCommandLine cmd;
        cmd.DirName = c.CmdTask;
        cmd.LDir = c.CmdLog;
        cmd.TDir = c.CmdTemp;
        P = TProgramSettings();
        P.DefTaskDir = def;
        P.ReadFromIni(Ini, cmd);
        EXPECT_EQ(TaskFolder, c.Folder);
        EXPECT_TRUE(QFileInfo(TaskFolder).isDir());
        EXPECT_EQ(ProgramLogName, c.LogName);
        EXPECT_EQ(WorkTempDir, c.Temp);
        ASSERT_TRUE(P.SaveToIni());
        EXPECT_EQ(Stored(u"Config"_s, u"JobDir"_s), c.JobDir);
        EXPECT_EQ(Stored(u"Config"_s, u"ProtDir"_s), c.ProtDir);
        EXPECT_EQ(Stored(u"Config"_s, u"TempDir"_s), c.TempDirSaved);
    }
}

TEST_F(ProgramSettingsTest, DarkModeLivesInTheConfigurationFile)
{
    InitLanguage(Dir, u"Velkor.cfg"_s, {}, {});
    ASSERT_EQ(ConfigFileName(), Dir + u"/Velkor.cfg"_s);
    P.ReadFromIni(Ini, Cmd);
    EXPECT_TRUE(VlSettings.ViewSettings.DarkMode);
    VlSettings.ViewSettings.DarkMode = false;
    ASSERT_TRUE(P.SaveToIni());
    EXPECT_EQ(Stored(u"Config"_s, u"DarkMode"_s), u"<none>"_s);
    Reread();
    EXPECT_FALSE(VlSettings.ViewSettings.DarkMode);
}

TEST_F(ProgramSettingsTest, FileBesideTheProgramIsTakenOverButNotWritten)
{
    ProgDirIniName = Dir + u"/prog/Velkor.ini"_s;
    Put(Dir + u"/prog/Velkor.ini"_s, "[Config]\nMinPwdLength=10\n");
    EXPECT_TRUE(P.ReadFromIni(Ini, Cmd));
    EXPECT_EQ(VlSettings.OtherSettings.MinPwdLength, 10);
    VlSettings.OtherSettings.MinPwdLength = 11;
    ASSERT_TRUE(P.SaveToIni());
    EXPECT_EQ(Stored(u"Config"_s, u"MinPwdLength"_s), u"11"_s);
    EXPECT_EQ(test::ReadBytes(ProgDirIniName), QByteArray("[Config]\nMinPwdLength=10\n"));
}

TEST_F(ProgramSettingsTest, ScheduleFlagsByKind)
{
    struct TCase {
        TAutoStart Kind;
        bool Auto, Wait, LogOff;
    };
    const TCase cases[] = {
        {TAutoStart::asNone, false, false, false},     {TAutoStart::asLogon, true, false, false},
        {TAutoStart::asDaily, true, false, false},     {TAutoStart::asDailyAt, true, true, false},
        {TAutoStart::asLogoff, true, true, true},      {TAutoStart::asWeekly, true, false, false},
        {TAutoStart::asWeekDay, true, true, true},     {TAutoStart::asByRequest, true, true, false},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(int(c.Kind));
        WriteIni(u"[Config]\nTaskCount=2\n[AutoTask1]\nName=/x/t.buj\nMode=%1\n"_s.arg(int(c.Kind)));
        P = TProgramSettings();
        P.DefTaskDir = Dir + u"/deftasks/"_s;
        P.ReadFromIni(Ini, Cmd);
        EXPECT_EQ(P.AutoTasks[1].BuProcess, c.Kind);
        EXPECT_EQ(P.AutoActive, c.Auto);
        EXPECT_EQ(P.WaitActive, c.Wait);
        EXPECT_EQ(P.LogOffActive, c.LogOff);
        EXPECT_EQ(P.KeepRunning, c.Wait);
    }
}

TEST_F(ProgramSettingsTest, ScheduleEntriesBeyondSixteenAreDropped)
{
    QString text = u"[Config]\nTaskCount=17\n"_s;
    for (int n = 0; n < 17; ++n)
        text += u"[AutoTask%1]\nName=%2/t%1.buj\nMode=1\n"_s.arg(n).arg(Dir);
    WriteIni(text);
    P.ReadFromIni(Ini, Cmd);
    EXPECT_EQ(P.AutoTasks[15].TaskPath, Dir + u"/t15.buj"_s);
    ASSERT_TRUE(P.SaveToIni());
    EXPECT_EQ(Stored(u"AutoTask16"_s, u"Name"_s), u"<none>"_s);
    EXPECT_EQ(Stored(u"AutoTask15"_s, u"Name"_s), Dir + u"/t15.buj"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"TaskCount"_s), u"16"_s);
}

TEST_F(ProgramSettingsTest, MissingScheduledTaskIsFoundInTheTaskFolder)
{
    const QString tasks = Dir + u"/tasks/"_s;
    Put(tasks + u"moved.buj"_s, "x");
    Put(P.DefTaskDir + u"other.buj"_s, "x");
    WriteIni(u"[Config]\nJobDir=%1\nTaskCount=3\n[AutoTask0]\nName=%2/old/moved.buj\n"
             "[AutoTask1]\nName=%2/old/other.buj\n[AutoTask2]\nName=%2/old/nowhere.buj\n"_s.arg(tasks, Dir));
    P.ReadFromIni(Ini, Cmd);
    EXPECT_EQ(P.AutoTasks[0].TaskPath, tasks + u"moved.buj"_s);
    EXPECT_EQ(P.AutoTasks[1].TaskPath, P.DefTaskDir + u"other.buj"_s);
    EXPECT_EQ(P.AutoTasks[2].TaskPath, Dir + u"/old/nowhere.buj"_s);
}

TEST_F(ProgramSettingsTest, SaveAutoTaskStateWritesOnlyTheRunState)
{
    WriteIni(u"[Config]\nMinPwdLength=9\nTaskCount=3\n[AutoTask2]\nName=/x/t.buj\nMode=2\nErrorStatus=0\n"_s);
    P.ReadFromIni(Ini, Cmd);
    VlSettings.OtherSettings.MinPwdLength = 20;
    TAutoTask &e = P.AutoTasks[2];
    e.BuProcess = TAutoStart::asWeekly;
    e.LastTime = EncodeDateTime(2026, 12, 1, 20, 0, 0, 0);

    ASSERT_TRUE(P.SaveAutoTaskState(2, 3, false));
    EXPECT_EQ(Stored(u"AutoTask2"_s, u"ErrorStatus"_s), u"3"_s);
    EXPECT_EQ(Stored(u"AutoTask2"_s, u"LastDate"_s), u"<none>"_s);

    ASSERT_TRUE(P.SaveAutoTaskState(2, 1, true));
    EXPECT_EQ(Stored(u"AutoTask2"_s, u"ErrorStatus"_s), u"1"_s);
    EXPECT_NE(Stored(u"AutoTask2"_s, u"LastDate"_s), u"<none>"_s);
    // Nothing else of the file changes.
    EXPECT_EQ(Stored(u"AutoTask2"_s, u"Mode"_s), u"2"_s);
    EXPECT_EQ(Stored(u"Config"_s, u"MinPwdLength"_s), u"9"_s);
    EXPECT_EQ(Stored(u"AutoTask0"_s, u"Name"_s), u"<none>"_s);
    EXPECT_FALSE(P.SaveAutoTaskState(16, 0, true));
}

TEST_F(ProgramSettingsTest, UnreadableFileIsNeverOverwritten)
{
    const QByteArray before = "[Config]\nMinPwdLength=9\n";
    test::WriteBytes(Ini, before);
    test::ChownTree(Dir);
    ASSERT_EQ(chmod(Ini.toLocal8Bit().constData(), 0), 0);
    test::RunUnprivileged([&] {
        EXPECT_FALSE(P.ReadFromIni(Ini, Cmd));
        EXPECT_TRUE(P.ReadFailed);
        EXPECT_EQ(VlSettings.OtherSettings.MinPwdLength, 6);
        // Readable again before the program ends: still not replaced by the
        // defaults of this run.
        ASSERT_EQ(chmod(Ini.toLocal8Bit().constData(), 0600), 0);
        EXPECT_FALSE(P.SaveToIni());
        EXPECT_FALSE(P.SaveLastError());
        EXPECT_FALSE(P.SaveDefaultTask());
        EXPECT_FALSE(P.SaveAutoTaskState(0, 1, true));
        EXPECT_EQ(test::ReadBytes(Ini), before);
    });
}

} // namespace
} // namespace vl
