// The backup task file: exact layout, round trips of its keys, the older
// keys still read, statistics written back after a run, and damaged files.
#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/DateTime.h"
#include "core/FormatSettings.h"
#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/TextEncoding.h"
#include "engine/PasswordCipher.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

#include <vector>

using namespace vl;
using namespace vl::test;

namespace {

class TRecordingMessages : public IMessageService {
public:
    TModalResult ShowMessageForm(QPoint, const QString &AHint, int32_t, TMsgDialogType DlgType, TMsgDlgBtn,
                                 TDefaultMonitor) override
    {
        Shown.append(AHint);
        return QuietAnswer(DlgType);
    }
    TModalResult PositionedMessageDlg(const QString &, const QString &AMsg, TMsgDlgType, TMsgDlgButtons Buttons,
                                      TMsgDlgBtn, QPoint, int32_t, TDefaultMonitor) override
    {
        Shown.append(AMsg);
        return QuietAnswer(Buttons);
    }
    void ShowTextWindow(const QString &, const QString &AText, int32_t) override { Shown.append(AText); }
    QStringList Shown;
};

QStringList L(std::initializer_list<const char *> AItems)
{
    QStringList out;
    for (const char *item : AItems)
        out.append(QString::fromUtf8(item));
    return out;
}

QString S(const char *AText)
{
    return QString::fromUtf8(AText);
}

QByteArray Key()
{
    return HexToCipherKey(kCipherKeyLiteral);
}

// A key to write (Value nullptr: delete it) or to expect (nullptr: absent).
struct TKV {
    const char *Section;
    const char *Key;
    const char *Value;
};

class TaskFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings(VlSettings);
        VlSettings.OtherSettings.DefDriveId = QStringLiteral("Drv?");
        VlSettings.CopySettings.NoCompress = QStringLiteral("zip,jpg");
        VlSettings.CopySettings.CompMode = 0;
        VlSettings.CopySettings.BufferSize = 262144;
        VlSettings.CopySettings.FTPBufferSize = 65536;
        VlSettings.LogSettings.LogMode = 0x142;
        TFormatSettings fs = TFormatSettings::Invariant();
        fs.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
        fs.DateSeparator = QLatin1Char('.');
        fs.LongTimeFormat = QStringLiteral("hh:nn:ss");
        fs.TimeSeparator = QLatin1Char(':');
        SetFormatSettings(fs);
        ProgramInfo.Version = QStringLiteral("6.0.0");
        SetMessageService(&Messages);
        Dir = MakeTempDir(QStringLiteral("task"));
        Src = MakeTempDir(QStringLiteral("src"));
    }
    void TearDown() override { SetMessageService(nullptr); }

    static void AddSource(TBackupForm &F, const QString &APath)
    {
        TExtensionList l(F.NewPeriod, TSubDirMode::sdmNormal);
        l.VPath = APath;
        l.SPath = APath;
        l.IsAvailable = true;
        F.SelectedDirBox.Add(APath, std::move(l));
    }

    // A new task with one source and fixed dates, saved as Name.
    QString SaveNewTask(const QString &Name)
    {
        TBackupForm f;
        f.InitNewTask();
        f.NewPeriod.Dat1 = EncodeDate(2021, 3, 4);
        f.NewPeriod.Dat2 = EncodeDate(2025, 3, 4);
        f.BuZiel.SetText(QStringLiteral("/srv/velkor-dest"));
        AddSource(f, Src);
        const QString file = Dir + QLatin1Char('/') + Name;
        EXPECT_TRUE(f.SaveTask(file));
        return file;
    }

    static void Apply(const QString &AFile, const std::vector<TKV> &AKeys)
    {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(AFile, false);
        for (const TKV &kv : AKeys) {
            if (kv.Value)
                ini.WriteString(QString::fromUtf8(kv.Section), QString::fromUtf8(kv.Key), QString::fromUtf8(kv.Value));
            else
                ini.DeleteKey(QString::fromUtf8(kv.Section), QString::fromUtf8(kv.Key));
        }
        ini.Save();
    }

    TRecordingMessages Messages;
    QString Dir;
    QString Src;
};

QStringList Lines(const QString &AFile, const QString &ASection)
{
    return TMemIniFile(AFile).ReadSectionValues(ASection);
}

QString Value(const QString &AFile, const char *ASection, const char *AKey)
{
    return TMemIniFile(AFile).ReadString(QString::fromUtf8(ASection), QString::fromUtf8(AKey), QStringLiteral("<absent>"));
}

} // namespace

// The layout others read: UTF-16LE with its mark, [Unicode] first, the
// [Global] keys in their fixed order, the Dir sections last.
TEST_F(TaskFileTest, NewTaskIsWrittenInTheFixedLayout)
{
    const QString file = SaveNewTask(QStringLiteral("new.buj"));
    const QByteArray bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 2);
    EXPECT_EQ(bytes.left(2), QByteArray("\xFF\xFE", 2));
    TTextEncoding enc;
    const QString text = DecodeText(bytes, &enc);
    EXPECT_EQ(enc, TTextEncoding::teUtf16LE);
    EXPECT_EQ(EncodeText(text, TTextEncoding::teUtf16LE), bytes);

    const QStringList global = L({
        "FtpBackup=0", "Destination=/srv/velkor-dest", "Note=", "TaskPwd=", "DriveId=Drv?", "Speed=0", "MaxLoad=1",
        "Priority=3", "SendMail=0", "DeleteFile=0", "DeleteDirs=0", "Verify=0", "UseVss=0", "Compress=0",
        "CompressAsZip=0", "NoCompTypes=jpg,zip", "Encrypt=0", "EncryptFilenames=0", "ChangedEnc=0", "FixPassword=0",
        "Password=", "ChangeNames=0", "BufferSize=262144", "Timeout=60", "TimeoutMax=5", "LogFile=66", "LogName=",
        "Timespan=2", "IgnoreDst=2", "CompareMode=0", "IgnoreJunctions=1", "AllowJunctions=0", "FollowJunctions=0",
        "ScanDirectories=0", "NoWriteCache=0", "TimestampFile=0", "SkipUnavailDir=0", "AllowDisplayOff=0",
        "NoVolumeCheck=0", "ReplMode=0", "ReplChar=126", "DestMode=0", "ZipDefault=VL-Zip-%date%",
        "ZipName=VL-Zip-%date%", "ZipSize=0", "SyncMode=0", "SyncBefore=0", "UseRecycler=0", "BakFiles=0",
        "BakSecMode=0", "BakPrefix=~", "BakSuffix=bak", "SyncFiles=0", "SyncSecMode=0", "SyncPrefix=_", "DirSuffix=",
        "SyncSuffix=sync", "CopySummary=0", "CopyAltStreams=0", "CopyPermissions=0", "CreationTime=1",
        "CopyNoAttributes=0", "EmptyDirs=0", "EncryptCommands=0", "PreCommand=", "PreWait=0", "PreErrorLevel=1",
        "PostCommand=", "PostWait=0", "PostConditions=1", "ClearDest=0", "ArchBit=0", "UseArch=0", "OnlyArch=0",
        "BackupCount=1", "LastBackup=", "DirCount=1"});
    QStringList dir = L({
        "Enabled=1", "Source=", "Volume=", "FileMode=0", "Regular=0", "FilterMode=0", "Filter=*",
        "ExtRegular=0", "ExtFilterMode=0", "ExtFilter=*", "TimeMode=0", "UseCreationTime=0", "Days=1",
        "DayTime=06:00:00", "DateFrom=04.03.2021", "DateTo=04.03.2025", "SizeMode=0", "MinSize=0",
        "MaxSize=17179869184", "Attributes=0", "FileCount=0", "ByteCountH=0", "ByteCountL=0", "SyncCount=0",
        "BackupMode=1", "Exclude=", "DirFilter=", "IncludeDirs=0", "SubCount=0"});
    dir[1] += Src;
    const QString crlf = QStringLiteral("\r\n");
    EXPECT_TRUE(text.startsWith(S("[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=Velkor\r\nVersion=6.0.0\r\n\r\n[Global]\r\n")
                                + global.join(crlf) + S("\r\n\r\n[Ftp]\r\n")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(S("\r\n\r\n[DirFilter]\r\nCount=0\r\n\r\n[Dir000]\r\n") + dir.join(crlf) + S("\r\n\r\n")))
        << text.toStdString();
    EXPECT_EQ(TMemIniFile(file).ReadSections(),
              L({"Unicode", "Global", "Ftp", "Proxy", "Mail", "User", "DirFilter", "Dir000"}));
}

// Every key: a hand-written value loads and saves as expected, and saving
// what was loaded again gives the same bytes.
TEST_F(TaskFileTest, KeysRoundTrip)
{
    const QString base = SaveNewTask(QStringLiteral("base.buj"));
    ASSERT_EQ(::mkdir((Src + QStringLiteral("/sub dir")).toUtf8().constData(), 0755), 0);
    const QByteArray taskPwd = EncryptPassword(Key(), "secret", 64, false);
    const QByteArray userPwd = EncryptPassword(Key(), "p\xE4ss", 64, false);
    const QByteArray preCmd = EncryptCommand(Key(), "/bin/run \"a b\"", true);

    struct TCase {
        const char *Name;
        std::vector<TKV> Written;
        std::vector<TKV> Expected;
    };
    const std::vector<TCase> cases = {
        {"ftp", {{"Global", "FtpBackup", "1"}}, {{"Global", "FtpBackup", "1"}}},
        {"note quotes", {{"Global", "Note", "say \"hi\" #1"}}, {{"Global", "Note", "say #hi# #1"}}},
        {"task password", {{"Global", "TaskPwd", taskPwd.constData()}}, {{"Global", "TaskPwd", taskPwd.constData()}}},
        {"drive id", {{"Global", "DriveId", "Disk?"}}, {{"Global", "DriveId", "Disk?"}}},
        {"drive id missing", {{"Global", "DriveId", nullptr}}, {{"Global", "DriveId", "Drv?"}}},
        {"speed", {{"Global", "Speed", "250"}, {"Global", "MaxLoad", "0"}, {"Global", "Priority", "1"}},
         {{"Global", "Speed", "250"}, {"Global", "MaxLoad", "0"}, {"Global", "Priority", "1"}}},
        {"old ftp speed", {{"Global", "Speed", "0"}, {"Ftp", "Speed", "100"}}, {{"Global", "Speed", "100"}}},
        {"mail without server", {{"Global", "SendMail", "1"}}, {{"Global", "SendMail", "0"}}},
        {"source deletion", {{"Global", "DeleteFile", "1"}, {"Global", "DeleteDirs", "3"}, {"Global", "Verify", "1"}},
         {{"Global", "DeleteFile", "1"}, {"Global", "DeleteDirs", "3"}, {"Global", "Verify", "1"}}},
        {"zip compression", {{"Global", "Compress", "1"}, {"Global", "CompressAsZip", "1"}},
         {{"Global", "Compress", "1"}, {"Global", "CompressAsZip", "1"}}},
        {"zip compression needs compression", {{"Global", "Compress", "0"}, {"Global", "CompressAsZip", "1"}},
         {{"Global", "CompressAsZip", "0"}}},
        {"no comp empty", {{"Global", "NoCompTypes", "#"}}, {{"Global", "NoCompTypes", "#"}}},
        {"no comp default", {{"Global", "NoCompTypes", ""}}, {{"Global", "NoCompTypes", "jpg,zip"}}},
        {"no comp sorted", {{"Global", "NoCompTypes", "zip,DOC,Zip"}}, {{"Global", "NoCompTypes", "DOC,zip"}}},
        {"encryption", {{"Global", "Encrypt", "2"}, {"Global", "ChangedEnc", "1"}},
         {{"Global", "Encrypt", "2"}, {"Global", "ChangedEnc", "1"}}},
        {"fixed password", {{"Global", "Encrypt", "3"}, {"Global", "FixPassword", "1"}, {"Global", "Password", taskPwd.constData()}},
         {{"Global", "Encrypt", "3"}, {"Global", "FixPassword", "1"}, {"Global", "Password", taskPwd.constData()}}},
        {"password without encryption", {{"Global", "Encrypt", "0"}, {"Global", "FixPassword", "1"}, {"Global", "Password", taskPwd.constData()}},
         {{"Global", "FixPassword", "0"}, {"Global", "Password", ""}}},
        {"fixed password empty", {{"Global", "Encrypt", "1"}, {"Global", "FixPassword", "1"}, {"Global", "Password", ""}},
         {{"Global", "Encrypt", "1"}, {"Global", "FixPassword", "0"}}},
        {"file names in zip", {{"Global", "DestMode", "4"}, {"Global", "Encrypt", "1"}, {"Global", "EncryptFilenames", "1"}},
         {{"Global", "EncryptFilenames", "1"}}},
        {"file names without zip", {{"Global", "Encrypt", "1"}, {"Global", "EncryptFilenames", "1"}},
         {{"Global", "EncryptFilenames", "0"}}},
        {"old file names key", {{"Global", "DestMode", "4"}, {"Global", "Encrypt", "1"}, {"Global", "EncryptFilenames", nullptr}, {"Global", "EncrypFilenames", "1"}},
         {{"Global", "EncryptFilenames", "1"}, {"Global", "EncrypFilenames", nullptr}}},
        {"copy settings", {{"Global", "ChangeNames", "2"}, {"Global", "BufferSize", "65536"}, {"Global", "Timeout", "30"}, {"Global", "TimeoutMax", "9"}},
         {{"Global", "ChangeNames", "2"}, {"Global", "BufferSize", "65536"}, {"Global", "Timeout", "30"}, {"Global", "TimeoutMax", "9"}}},
        {"log", {{"Global", "LogFile", "1219"}, {"Global", "LogName", "%taskname%.log"}},
         {{"Global", "LogFile", "1219"}, {"Global", "LogName", "%taskname%.log"}}},
        {"time stamps", {{"Global", "Timespan", "5"}, {"Global", "IgnoreDst", "1"}, {"Global", "CompareMode", "3"}},
         {{"Global", "Timespan", "5"}, {"Global", "IgnoreDst", "1"}, {"Global", "CompareMode", "3"}}},
        {"old compare exact size", {{"Global", "CompareMode", nullptr}, {"Global", "CompareExact", "1"}, {"Global", "CompareSize", "1"}},
         {{"Global", "CompareMode", "2"}, {"Global", "CompareExact", nullptr}, {"Global", "CompareSize", nullptr}}},
        {"old compare exact", {{"Global", "CompareMode", nullptr}, {"Global", "CompareExact", "1"}}, {{"Global", "CompareMode", "1"}}},
        {"old compare size alone", {{"Global", "CompareMode", nullptr}, {"Global", "CompareSize", "1"}}, {{"Global", "CompareMode", "0"}}},
        {"junctions ignored", {{"Global", "IgnoreJunctions", "1"}, {"Global", "AllowJunctions", "1"}, {"Global", "FollowJunctions", "1"}},
         {{"Global", "AllowJunctions", "0"}, {"Global", "FollowJunctions", "0"}}},
        {"junctions", {{"Global", "IgnoreJunctions", "0"}, {"Global", "AllowJunctions", "1"}},
         {{"Global", "IgnoreJunctions", "0"}, {"Global", "AllowJunctions", "1"}}},
        {"flags", {{"Global", "ScanDirectories", "1"}, {"Global", "NoWriteCache", "1"}, {"Global", "TimestampFile", "1"}, {"Global", "SkipUnavailDir", "1"}, {"Global", "AllowDisplayOff", "1"}, {"Global", "NoVolumeCheck", "1"}},
         {{"Global", "ScanDirectories", "1"}, {"Global", "NoWriteCache", "1"}, {"Global", "TimestampFile", "1"}, {"Global", "SkipUnavailDir", "1"}, {"Global", "AllowDisplayOff", "1"}, {"Global", "NoVolumeCheck", "1"}}},
        {"replacement", {{"Global", "ReplMode", "1"}, {"Global", "ReplChar", "95"}}, {{"Global", "ReplMode", "1"}, {"Global", "ReplChar", "95"}}},
        {"account", {{"User", "Username", "bob"}, {"User", "Password", userPwd.constData()}},
         {{"User", "Username", "bob"}, {"User", "Password", userPwd.constData()}}},
        {"method", {{"Global", "DestMode", "1"}, {"Global", "ZipDefault", "Z-%date%"}, {"Global", "ZipSize", "0x100000000"}},
         {{"Global", "DestMode", "1"}, {"Global", "ZipDefault", "Z-%date%"}, {"Global", "ZipSize", "4294967296"}}},
        {"zip per root", {{"Global", "DestMode", "5"}, {"Global", "ZipName", "-x"}}, {{"Global", "ZipName", "-x"}}},
        {"zip per root without dash", {{"Global", "DestMode", "5"}, {"Global", "ZipName", "nodash"}}, {{"Global", "ZipName", ""}}},
        {"sync", {{"Global", "SyncMode", "2"}, {"Global", "SyncBefore", "1"}}, {{"Global", "SyncMode", "2"}, {"Global", "SyncBefore", "1"}}},
        {"clear dest stops sync", {{"Global", "ClearDest", "1"}, {"Global", "SyncMode", "2"}}, {{"Global", "ClearDest", "1"}, {"Global", "SyncMode", "0"}}},
        {"clear dest not for zip", {{"Global", "ClearDest", "1"}, {"Global", "DestMode", "4"}}, {{"Global", "ClearDest", "0"}}},
        {"archive bit without use", {{"Global", "ArchBit", "1"}, {"Global", "OnlyArch", "1"}}, {{"Global", "ArchBit", "0"}, {"Global", "OnlyArch", "0"}}},
        {"security copies", {{"Global", "BakFiles", "1"}, {"Global", "BakSecMode", "2"}, {"Global", "BakPrefix", "#"}, {"Global", "BakSuffix", "bak-#12/4/2"}},
         {{"Global", "BakFiles", "1"}, {"Global", "BakSecMode", "2"}, {"Global", "BakPrefix", "#"}, {"Global", "BakSuffix", "bak-#12/4/2"}}},
        {"sync copies", {{"Global", "SyncSecMode", "3"}, {"Global", "SyncPrefix", "-"}, {"Global", "DirSuffix", "x"}, {"Global", "SyncSuffix", "s"}},
         {{"Global", "SyncSecMode", "3"}, {"Global", "SyncPrefix", "-"}, {"Global", "DirSuffix", "x"}, {"Global", "SyncSuffix", "s"}}},
        {"empty sync suffix", {{"Global", "SyncSecMode", "0"}, {"Global", "SyncSuffix", ""}}, {{"Global", "SyncSuffix", "sync"}}},
        {"copy options", {{"Global", "CreationTime", "0"}, {"Global", "CopyNoAttributes", "1"}, {"Global", "EmptyDirs", "1"}},
         {{"Global", "CreationTime", "0"}, {"Global", "CopyNoAttributes", "1"}, {"Global", "EmptyDirs", "1"}}},
        {"commands", {{"Global", "PreCommand", "run \"a b\""}, {"Global", "PreWait", "8197"}, {"Global", "PreErrorLevel", "3"}, {"Global", "PostCommand", "x#y"}, {"Global", "PostWait", "4096"}, {"Global", "PostConditions", "9"}},
         {{"Global", "PreCommand", "run #a b#"}, {"Global", "PreWait", "8197"}, {"Global", "PreErrorLevel", "3"}, {"Global", "PostCommand", "x#y"}, {"Global", "PostWait", "4096"}, {"Global", "PostConditions", "9"}}},
        {"enciphered commands", {{"Global", "EncryptCommands", "1"}, {"Global", "PreCommand", preCmd.constData()}},
         {{"Global", "EncryptCommands", "1"}, {"Global", "PreCommand", preCmd.constData()}}},
        {"statistics", {{"Global", "BackupCount", "7"}, {"Global", "LastBackup", "05.06.2024 13:14:15"}},
         {{"Global", "BackupCount", "7"}, {"Global", "LastBackup", "05.06.2024 13:14:15"}}},
        {"directory filters", {{"DirFilter", "Count", "3"}, {"DirFilter", "Mask000", "x|tmp*"}, {"DirFilter", "Mask001", "\"a b\""}, {"DirFilter", "Mask002", ""}},
         {{"DirFilter", "Count", "2"}, {"DirFilter", "Mask000", "tmp*"}, {"DirFilter", "Mask001", "\"a b\""}, {"DirFilter", "Mask002", nullptr}}},
        {"entry basics", {{"Dir000", "Enabled", "0"}, {"Dir000", "FileMode", "1"}, {"Dir000", "Volume", "STICK"}},
         {{"Dir000", "Enabled", "0"}, {"Dir000", "FileMode", "1"}, {"Dir000", "Volume", ""}}},
        {"name filter", {{"Dir000", "Regular", "1"}, {"Dir000", "FilterMode", "2"}, {"Dir000", "Filter", "^a.*"}},
         {{"Dir000", "Regular", "1"}, {"Dir000", "FilterMode", "2"}, {"Dir000", "Filter", "^a.*"}}},
        {"name filter all", {{"Dir000", "FilterMode", "1"}, {"Dir000", "Filter", "*.*"}}, {{"Dir000", "FilterMode", "0"}, {"Dir000", "Filter", "*.*"}}},
        {"name filter masks", {{"Dir000", "FilterMode", "1"}, {"Dir000", "Filter", "*.txt|a*"}}, {{"Dir000", "FilterMode", "1"}, {"Dir000", "Filter", "*.txt|a*.*"}}},
        {"bad expression", {{"Dir000", "Regular", "1"}, {"Dir000", "FilterMode", "1"}, {"Dir000", "Filter", "("}}, {{"Dir000", "Filter", "."}}},
        {"type filter", {{"Dir000", "ExtFilterMode", "1"}, {"Dir000", "ExtFilter", "D*"}}, {{"Dir000", "ExtFilterMode", "1"}, {"Dir000", "ExtFilter", "D*"}}},
        {"time", {{"Dir000", "TimeMode", "3"}, {"Dir000", "UseCreationTime", "1"}, {"Dir000", "Days", "10"}, {"Dir000", "DayTime", "07:30"}, {"Dir000", "DateFrom", "01.02.2020"}, {"Dir000", "DateTo", "31.12.2020"}},
         {{"Dir000", "TimeMode", "3"}, {"Dir000", "UseCreationTime", "1"}, {"Dir000", "Days", "10"}, {"Dir000", "DayTime", "07:30:00"}, {"Dir000", "DateFrom", "01.02.2020"}, {"Dir000", "DateTo", "31.12.2020"}}},
        {"time of another region", {{"Dir000", "TimeMode", "3"}, {"Dir000", "DateFrom", "2020/02/01"}}, {{"Dir000", "TimeMode", "0"}}},
        {"time mode out of range", {{"Dir000", "TimeMode", "8"}}, {{"Dir000", "TimeMode", "0"}}},
        {"sizes", {{"Dir000", "SizeMode", "3"}, {"Dir000", "MinSize", "100|junk"}, {"Dir000", "MaxSize", "0x10"}},
         {{"Dir000", "SizeMode", "3"}, {"Dir000", "MinSize", "100"}, {"Dir000", "MaxSize", "16"}}},
        {"bad sizes", {{"Dir000", "MinSize", "abc"}, {"Dir000", "MaxSize", ""}}, {{"Dir000", "MinSize", "0"}, {"Dir000", "MaxSize", "17179869184"}}},
        {"attributes", {{"Dir000", "Attributes", "153"}}, {{"Dir000", "Attributes", "153"}}},
        {"attributes of value 3", {{"Dir000", "Attributes", "255"}}, {{"Dir000", "Attributes", "0"}}},
        {"counts", {{"Dir000", "FileCount", "5"}, {"Dir000", "ByteCountH", "1"}, {"Dir000", "ByteCountL", "-1"}, {"Dir000", "SyncCount", "4000000000"}},
         {{"Dir000", "FileCount", "5"}, {"Dir000", "ByteCountH", "1"}, {"Dir000", "ByteCountL", "-1"}, {"Dir000", "SyncCount", "4000000000"}}},
        {"included types", {{"Dir000", "BackupMode", "0"}, {"Dir000", "Include", "DOC,TXT"}, {"Dir000", "Exclude", "JPG"}},
         {{"Dir000", "BackupMode", "0"}, {"Dir000", "Include", "DOC,TXT"}, {"Dir000", "Exclude", nullptr}}},
        {"excluded types", {{"Dir000", "BackupMode", "1"}, {"Dir000", "Include", "DOC"}, {"Dir000", "Exclude", "JPG,<ohne>"}},
         {{"Dir000", "Exclude", "JPG,<ohne>"}, {"Dir000", "Include", nullptr}}},
        {"subdirectories", {{"Dir000", "IncludeDirs", "1"}, {"Dir000", "SubCount", "3"}, {"Dir000", "SubDir000", "/etc"}, {"Dir000", "SubDir001", "\"sub dir\""}, {"Dir000", "SubDir002", "gone"}},
         {{"Dir000", "IncludeDirs", "1"}, {"Dir000", "SubCount", "1"}, {"Dir000", "SubDir000", "\"sub dir\""}, {"Dir000", "SubDir001", nullptr}}},
    };

    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString in = Dir + QStringLiteral("/in.buj");
        WriteBytes(in, ReadBytes(base));
        Apply(in, c.Written);
        const QString out1 = Dir + QStringLiteral("/out1.buj");
        const QString out2 = Dir + QStringLiteral("/out2.buj");
        {
            TBackupForm f;
            ASSERT_TRUE(f.LoadTask(in, true, TInteraction::iaNone));
            ASSERT_TRUE(f.SaveTask(out1));
        }
        for (const TKV &kv : c.Expected)
            EXPECT_EQ(Value(out1, kv.Section, kv.Key), QString::fromUtf8(kv.Value ? kv.Value : "<absent>"))
                << kv.Section << "/" << kv.Key;
        {
            TBackupForm f;
            ASSERT_TRUE(f.LoadTask(out1, true, TInteraction::iaNone));
            ASSERT_TRUE(f.SaveTask(out2));
        }
        EXPECT_EQ(ReadBytes(out2), ReadBytes(out1));
    }
    EXPECT_TRUE(Messages.Shown.isEmpty()) << Messages.Shown.join(QLatin1Char('\n')).toStdString();
}

// One hand-written task with every option set: what it loads is what it
// saves, key for key.
TEST_F(TaskFileTest, HandWrittenTaskSavesWhatItHolds)
{
    ASSERT_EQ(::mkdir((Src + QStringLiteral("/keep")).toUtf8().constData(), 0755), 0);
    const QByteArray pwd = EncryptPassword(Key(), "fixed", 64, false);
    const QString file = Dir + QStringLiteral("/hand.buj");
    const QString text = QStringLiteral(
        "[Global]\n"
        "FtpBackup=0\nDestination=/srv/b\nNote=n#1\nTaskPwd=\nDriveId=D?\nSpeed=10\nMaxLoad=0\nPriority=2\n"
        "SendMail=0\nDeleteFile=1\nDeleteDirs=1\nVerify=1\nUseVss=0\nCompress=1\nCompressAsZip=1\nNoCompTypes=mp3\n"
        "Encrypt=1\nEncryptFilenames=0\nChangedEnc=1\nFixPassword=1\nPassword=%1\nChangeNames=1\nBufferSize=4096\n"
        "Timeout=0\nTimeoutMax=2\nLogFile=1027\nLogName=x.log\nTimespan=3\nIgnoreDst=0\nCompareMode=2\n"
        "IgnoreJunctions=0\nAllowJunctions=1\nFollowJunctions=0\nScanDirectories=1\nNoWriteCache=1\n"
        "TimestampFile=1\nSkipUnavailDir=1\nAllowDisplayOff=1\nNoVolumeCheck=1\nReplMode=1\nReplChar=95\n"
        "DestMode=3\nZipDefault=Z\nZipName=Z\nZipSize=1000\nSyncMode=1\nSyncBefore=1\nUseRecycler=0\nBakFiles=1\n"
        "BakSecMode=1\nBakPrefix=#\nBakSuffix=old-#3\nSyncFiles=0\nSyncSecMode=1\nSyncPrefix=-\nDirSuffix=d\n"
        "SyncSuffix=s\nCopySummary=0\nCopyAltStreams=0\nCopyPermissions=0\nCreationTime=0\nCopyNoAttributes=1\n"
        "EmptyDirs=1\nEncryptCommands=0\nPreCommand=a\nPreWait=8192\nPreErrorLevel=2\nPostCommand=b\n"
        "PostWait=8193\nPostConditions=3\nClearDest=0\nArchBit=1\nUseArch=1\nOnlyArch=1\nBackupCount=4\n"
        "LastBackup=01.01.2024 10:00:00\nDirCount=1\n"
        "[DirFilter]\nCount=1\nMask000=cache\n"
        "[Dir000]\nEnabled=1\nSource=%2\nVolume=\nFileMode=0\nRegular=0\nFilterMode=2\nFilter=*.tmp\nExtRegular=0\n"
        "ExtFilterMode=1\nExtFilter=D*\nTimeMode=5\nUseCreationTime=2\nDays=30\nDayTime=08:15:00\n"
        "DateFrom=01.01.2023\nDateTo=02.01.2023\nSizeMode=1\nMinSize=0\nMaxSize=1000000\nAttributes=6\n"
        "FileCount=12\nByteCountH=2\nByteCountL=-5\nSyncCount=3\nBackupMode=0\nInclude=TXT\nDirFilter=keep\n"
        "IncludeDirs=0\nSubDir000=keep\nSubCount=1\n")
                             .arg(QString::fromLatin1(pwd), Src);
    WriteBytes(file, text.toUtf8());
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    EXPECT_EQ(f.CryptPwd, QByteArray("fixed"));
    EXPECT_EQ(f.TaskNote, QStringLiteral("n\"1"));
    ASSERT_EQ(f.SelectedDirBox.Count(), 1);
    EXPECT_EQ(f.SelectedDirBox.Objects(0).IBytes, (int64_t(2) << 32) + 0xFFFFFFFBLL);
    EXPECT_EQ(f.LastBackupTime, EncodeDateTime(2024, 1, 1, 10, 0, 0, 0));
    const QString out = Dir + QStringLiteral("/hand-out.buj");
    ASSERT_TRUE(f.SaveTask(out));

    TMemIniFile written;
    written.SetText(text);
    for (const QString &section : {QStringLiteral("Global"), QStringLiteral("DirFilter"), QStringLiteral("Dir000")}) {
        QStringList expected = written.ReadSectionValues(section);
        QStringList saved = Lines(out, section);
        expected.sort();
        saved.sort();
        EXPECT_EQ(saved, expected) << section.toStdString();
    }
}

// IBytes is stored as two signed 32-bit halves.
TEST_F(TaskFileTest, ByteCountsAreSplitIntoSignedHalves)
{
    struct TCase {
        int64_t Bytes;
        const char *High;
        const char *Low;
    };
    const TCase cases[] = {
        {0, "0", "0"},
        {(int64_t(5) << 30) + 3, "1", "1073741827"},
        {(int64_t(1) << 32) + (int64_t(1) << 31), "1", "-2147483648"},
        {0xFFFFFFFFLL, "0", "-1"},
        {-1, "-1", "-1"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Bytes);
        TBackupForm f;
        f.InitNewTask();
        AddSource(f, Src);
        f.SelectedDirBox.Objects(0).IBytes = c.Bytes;
        const QString file = Dir + QStringLiteral("/bytes.buj");
        ASSERT_TRUE(f.SaveTask(file));
        EXPECT_EQ(Value(file, "Dir000", "ByteCountH"), QString::fromUtf8(c.High));
        EXPECT_EQ(Value(file, "Dir000", "ByteCountL"), QString::fromUtf8(c.Low));
        TBackupForm g;
        ASSERT_TRUE(g.LoadTask(file, true, TInteraction::iaNone));
        EXPECT_EQ(g.SelectedDirBox.Objects(0).IBytes, c.Bytes);
    }
}

// From the first entry with unknown counts on, entries are rescanned.
TEST_F(TaskFileTest, UnknownCountsMarkThatAndLaterEntriesForRescan)
{
    const QString file = Dir + QStringLiteral("/rescan.buj");
    WriteBytes(file, QStringLiteral("[Global]\nDirCount=3\n[Dir000]\nSource=%1\nFileCount=1\nByteCountH=0\nByteCountL=1\n"
                                    "[Dir001]\nSource=%1\n[Dir002]\nSource=%1\nFileCount=1\nByteCountH=0\nByteCountL=1\n")
                         .arg(Src)
                         .toUtf8());
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    ASSERT_EQ(f.SelectedDirBox.Count(), 3);
    EXPECT_FALSE(f.SelectedDirBox.Objects(0).DoUpdate);
    EXPECT_TRUE(f.SelectedDirBox.Objects(1).DoUpdate);
    EXPECT_TRUE(f.SelectedDirBox.Objects(2).DoUpdate);
    EXPECT_EQ(f.EditStatus, TEditStatus::esSaved);
}

// A date written under one regional format does not read as another date
// under a different one: the entry falls back to all files.
TEST_F(TaskFileTest, RegionalDateFormatDecidesTimeMode)
{
    struct TCase {
        const char *Format;
        QChar Separator;
        TTimeMode Expected;
    };
    const TCase cases[] = {
        {"dd.mm.yyyy", QLatin1Char('.'), TTimeMode::tmSpan},
        {"mm/dd/yyyy", QLatin1Char('/'), TTimeMode::tmAll},
        {"yyyy.mm.dd", QLatin1Char('.'), TTimeMode::tmAll},
    };
    TBackupForm f;
    f.InitNewTask();
    AddSource(f, Src);
    TExtensionList &l = f.SelectedDirBox.Objects(0);
    l.TmPeriod.Mode = TTimeMode::tmSpan;
    l.TmPeriod.Dat1 = EncodeDate(2022, 1, 13);
    l.TmPeriod.Dat2 = EncodeDate(2022, 2, 14);
    const QString file = Dir + QStringLiteral("/dates.buj");
    ASSERT_TRUE(f.SaveTask(file));
    EXPECT_EQ(Value(file, "Dir000", "DateFrom"), QStringLiteral("13.01.2022"));
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Format);
        TFormatSettings fs = FormatSettings();
        fs.ShortDateFormat = QString::fromUtf8(c.Format);
        fs.DateSeparator = c.Separator;
        SetFormatSettings(fs);
        TBackupForm g;
        ASSERT_TRUE(g.LoadTask(file, true, TInteraction::iaNone));
        EXPECT_EQ(g.SelectedDirBox.Objects(0).TmPeriod.Mode, c.Expected);
        if (c.Expected == TTimeMode::tmSpan) {
            EXPECT_EQ(g.SelectedDirBox.Objects(0).TmPeriod.Dat1, EncodeDate(2022, 1, 13));
        }
    }
}

// Statistics go to the section each entry was read from, never by list
// position: a gap in the numbering, a reordered list and an entry added
// since the last save leave other sections alone.
TEST_F(TaskFileTest, StatisticsGoToEachEntrysOwnSection)
{
    const QString a = MakeTempDir(QStringLiteral("a"));
    const QString b = MakeTempDir(QStringLiteral("b"));
    const QString file = Dir + QStringLiteral("/stats.buj");
    WriteBytes(file, QStringLiteral("[Global]\nProgram=Old\nVersion=1\nBackupCount=4\nChangedEnc=1\nDirCount=3\n"
                                    "[Dir000]\nSource=%1\nFileCount=1\n[Dir001]\nVolume=x\n[Dir002]\nSource=%2\nFileCount=2\n")
                         .arg(a, b)
                         .toUtf8());
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    ASSERT_EQ(f.SelectedDirBox.Count(), 2);
    f.SelectedDirBox.Exchange(0, 1);
    AddSource(f, Src); // not saved yet
    f.SelectedDirBox.Objects(0).ICount = 20; // b
    f.SelectedDirBox.Objects(0).IBytes = int64_t(6) << 30;
    f.SelectedDirBox.Objects(1).ICount = 10; // a
    f.SelectedDirBox.Objects(2).ICount = 30;
    f.StartTime = EncodeDateTime(2024, 7, 8, 9, 10, 11, 0);
    f.WriteTaskStatistics(file);

    EXPECT_EQ(Value(file, "Dir000", "FileCount"), QStringLiteral("10"));
    EXPECT_EQ(Value(file, "Dir002", "FileCount"), QStringLiteral("20"));
    EXPECT_EQ(Value(file, "Dir002", "ByteCountH"), QStringLiteral("1"));
    EXPECT_EQ(Value(file, "Dir002", "ByteCountL"), QStringLiteral("-2147483648"));
    EXPECT_EQ(Lines(file, QStringLiteral("Dir001")), L({"Volume=x"}));
    EXPECT_EQ(Value(file, "Dir003", "FileCount"), QStringLiteral("<absent>"));
    EXPECT_EQ(Value(file, "Global", "BackupCount"), QStringLiteral("5"));
    EXPECT_EQ(Value(file, "Global", "ChangedEnc"), QStringLiteral("0"));
    EXPECT_EQ(Value(file, "Global", "LastBackup"), QStringLiteral("08.07.2024 09:10:11"));
    EXPECT_EQ(Value(file, "Global", "Program"), QStringLiteral("<absent>"));
    EXPECT_EQ(Value(file, "Unicode", "Program"), QStringLiteral("Velkor"));
    EXPECT_EQ(f.LastBuTime.Caption(), QStringLiteral("08.07.2024 09:10:11"));

    // After a save every entry has its section, in list order.
    ASSERT_TRUE(f.SaveTask(file));
    f.SelectedDirBox.Objects(2).ICount = 31;
    f.WriteTaskStatistics(file);
    EXPECT_EQ(Value(file, "Dir002", "FileCount"), QStringLiteral("31"));
    EXPECT_EQ(Value(file, "Dir002", "Source"), Src);
}

// A section that no longer holds the entry's source (the file was edited
// elsewhere) gets nothing.
TEST_F(TaskFileTest, StatisticsSkipSectionsOfAnotherSource)
{
    const QString file = SaveNewTask(QStringLiteral("other.buj"));
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    Apply(file, {{"Dir000", "Source", "/elsewhere"}});
    f.SelectedDirBox.Objects(0).ICount = 99;
    f.WriteTaskStatistics(file);
    EXPECT_EQ(Value(file, "Dir000", "FileCount"), QStringLiteral("0"));
    EXPECT_EQ(Value(file, "Global", "BackupCount"), QStringLiteral("2"));
}

TEST_F(TaskFileTest, StatisticsUpdateAReadOnlyFileAndKeepItReadOnly)
{
    const QString file = SaveNewTask(QStringLiteral("ro.buj"));
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    ASSERT_EQ(::chmod(file.toUtf8().constData(), 0444), 0);
    f.SelectedDirBox.Objects(0).ICount = 42;
    f.WriteTaskStatistics(file);
    EXPECT_EQ(Value(file, "Dir000", "FileCount"), QStringLiteral("42"));
    struct stat st {};
    ASSERT_EQ(::stat(file.toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// Damaged files: refused with a message, the editor and the file stay as
// they were, and a statistics update does not rewrite them.
TEST_F(TaskFileTest, DamagedFilesAreRefusedAndLeftAlone)
{
    const QString good = SaveNewTask(QStringLiteral("good.buj"));
    const QByteArray bytes = ReadBytes(good);
    struct TCase {
        const char *Name;
        QByteArray Data;
    };
    const TCase cases[] = {
        {"odd length", bytes.left(bytes.size() - 1)},
        {"cut in a line", bytes.left(bytes.size() - 20)},
        {"cut before the settings", bytes.left(60)},
        {"binary data", QByteArray("\x00\x01[Global]\x00\x00\xFF", 13)},
        {"empty", QByteArray()},
        {"no task", QByteArray("[Other]\r\nA=1\r\n")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Messages.Shown.clear();
        const QString file = Dir + QStringLiteral("/damaged.buj");
        WriteBytes(file, c.Data);
        TBackupForm f;
        f.BuZiel.SetText(QStringLiteral("/kept"));
        EXPECT_FALSE(f.LoadTask(file, true, TInteraction::iaNone));
        ASSERT_EQ(Messages.Shown.size(), 1);
        EXPECT_TRUE(Messages.Shown.first().contains(file)) << Messages.Shown.first().toStdString();
        EXPECT_EQ(f.BuZiel.Text(), QStringLiteral("/kept"));
        EXPECT_EQ(f.SelectedDirBox.Count(), 0);
        EXPECT_FALSE(f.UpdateBusy);
        f.WriteTaskStatistics(file);
        EXPECT_EQ(ReadBytes(file), c.Data);
    }
}

// A save that fails leaves the previous file and says so.
TEST_F(TaskFileTest, FailedSaveKeepsThePreviousFile)
{
    const QString file = SaveNewTask(QStringLiteral("keep.buj"));
    const QByteArray before = ReadBytes(file);
    ASSERT_EQ(::chmod(file.toUtf8().constData(), 0444), 0);
    TBackupForm f;
    ASSERT_TRUE(f.LoadTask(file, true, TInteraction::iaNone));
    f.BuZiel.SetText(QStringLiteral("/changed"));
    Messages.Shown.clear();
    EXPECT_FALSE(f.SaveTask(file));
    ASSERT_EQ(Messages.Shown.size(), 1);
    EXPECT_EQ(Messages.Shown.first(), QStringLiteral("Error saving task \"%1\"!").arg(file));
    EXPECT_EQ(ReadBytes(file), before);
}

// Exporting some entries writes only those, in the given order.
TEST_F(TaskFileTest, SavingSelectedEntriesWritesThemInOrder)
{
    const QString a = MakeTempDir(QStringLiteral("ea"));
    const QString b = MakeTempDir(QStringLiteral("eb"));
    TBackupForm f;
    f.InitNewTask();
    AddSource(f, a);
    AddSource(f, b);
    AddSource(f, Src);
    const QString file = Dir + QStringLiteral("/export.buj");
    ASSERT_TRUE(f.SaveTask(file, {2, 0}));
    EXPECT_EQ(Value(file, "Global", "DirCount"), QStringLiteral("2"));
    EXPECT_EQ(Value(file, "Dir000", "Source"), Src);
    EXPECT_EQ(Value(file, "Dir001", "Source"), a);
    EXPECT_EQ(Value(file, "Dir002", "Source"), QStringLiteral("<absent>"));
}

// Import appends the entries of another task and keeps the settings.
TEST_F(TaskFileTest, ImportAppendsEntriesOnly)
{
    const QString file = SaveNewTask(QStringLiteral("import.buj"));
    Apply(file, {{"Global", "Verify", "1"}});
    TBackupForm f;
    f.InitNewTask();
    AddSource(f, Dir);
    ASSERT_TRUE(f.LoadTask(file, false, TInteraction::iaNone));
    ASSERT_EQ(f.SelectedDirBox.Count(), 2);
    EXPECT_EQ(f.SelectedDirBox.Objects(1).VPath, Src);
    EXPECT_FALSE(f.cbVerify.Checked());
}

// A task without sources keeps only the few keys others read.
TEST_F(TaskFileTest, TaskWithoutSourcesWritesTheShortForm)
{
    TBackupForm f;
    f.InitNewTask();
    f.AktNoComp.clear();
    const QString file = Dir + QStringLiteral("/empty.buj");
    ASSERT_TRUE(f.SaveTask(file));
    EXPECT_EQ(Lines(file, QStringLiteral("Global")),
              L({"Destination=", "Compress=0", "CompressAsZip=0", "NoCompTypes=", "DestMode=0",
                 "ZipDefault=VL-Zip-%date%", "ZipName=VL-Zip-%date%", "LastBackup=", "DirCount=0"}));
}

// A run whose task file has gone says so in its log and writes nothing.
TEST_F(TaskFileTest, StatisticsOfAMissingFileAreLogged)
{
    const QString log = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
    TBackupForm f;
    ASSERT_EQ(f.OpenLogFile(0x83, log, false), 0);
    const QString file = Dir + QStringLiteral("/gone.buj");
    f.WriteTaskStatistics(file);
    f.CloseLogFile(false);
    EXPECT_TRUE(QString::fromUtf8(ReadBytes(log)).contains(QStringLiteral("  *** Could not update task file: \"%1\"").arg(file)));
    EXPECT_FALSE(QFile::exists(file));
}
