#include "backup/FtpSettings.h"
#include "backup/MailSettings.h"

#include "common/TcpListener.h"
#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "core/PasswordService.h"
#include "core/ProgramEnv.h"
#include "engine/PasswordCipher.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

using namespace vl;
using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray Decipher(const QString &AStored)
{
    return DecryptPassword(HexToCipherKey(kCipherKeyLiteral), AStored.toLatin1(), false);
}

// Saves through a real file and loads it again, so trimming and encoding
// of the file take part.
TUnicodeIniFile ThroughFile(const TUnicodeIniFile &AIni)
{
    const QString name = test::MakeTempDir() + u"/task.vbt"_s;
    TUnicodeIniFile w = TUnicodeIniFile::CreateForWrite(name, true);
    w.SetText(AIni.Text());
    w.Save();
    return TUnicodeIniFile::CreateForRead(name);
}

TUnicodeIniFile IniWith(const QString &AText)
{
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(QString(), true);
    ini.SetText(AText);
    return ini;
}

// ---- Mail -------------------------------------------------------------------

TMailData FullMailData()
{
    TMailData d;
    d.SMTP = u"smtp.example.org"_s;
    d.Port = 587;
    d.Username = u"jo"_s;
    d.Password = u"pä ss=wörd"_s;
    d.Sender = u"Backup box"_s;
    d.ReplyTo = u"jo@example.org"_s;
    d.Recipients = u"a@example.org,#b@example.org,*c@example.org"_s;
    d.Subject = u"%title% - %status%"_s;
    d.Attachments = {u"/home/jo/My Files/report, final.txt"_s, u"/tmp/a.log"_s};
    d.CryptKey = "zip key";
    d.SecureMode = TSecTransfer::stRequired;
    d.LogMode = TMailMode::mmError;
    d.ZipMode = TZipMode::zmEncrypt;
    return d;
}

TEST(MailSettings, MissingSectionGivesTheDefaults)
{
    TMailData d = FullMailData();
    LoadMailDataFromIni(IniWith(u"[Other]\r\nSMTP=x\r\n"_s), u"Mail"_s, d);
    EXPECT_EQ(d, TMailData());
    EXPECT_EQ(d.Port, 25);
    EXPECT_EQ(d.SecureMode, TSecTransfer::stNone);
    EXPECT_EQ(d.LogMode, TMailMode::mmNone);
    EXPECT_EQ(d.ZipMode, TZipMode::zmNo);

    TMailData r = FullMailData();
    ResetMailData(r);
    EXPECT_EQ(r, TMailData());
}

TEST(MailSettings, EveryFieldSurvivesAFileInKeyOrder)
{
    TUnicodeIniFile ini = IniWith(u"[Mail]\r\nStale=1\r\nSendLog=1\r\n"_s);
    const TMailData d = FullMailData();
    SaveMailDataToIni(ini, u"Mail"_s, d);
    const TUnicodeIniFile back = ThroughFile(ini);
    EXPECT_EQ(back.ReadSection(u"Mail"_s),
              QStringList({u"SMTP"_s, u"Port"_s, u"Username"_s, u"Password"_s, u"Sender"_s, u"ReplyTo"_s,
                           u"Recipients"_s, u"Subject"_s, u"UseTLS"_s, u"AttachLog"_s, u"AsZip"_s, u"Encrypt"_s,
                           u"Attachment0"_s, u"Attachment1"_s}));
    EXPECT_EQ(back.ReadInteger(u"Mail"_s, u"UseTLS"_s, -1), 2);
    EXPECT_EQ(back.ReadInteger(u"Mail"_s, u"AttachLog"_s, -1), 2);
    EXPECT_EQ(back.ReadInteger(u"Mail"_s, u"AsZip"_s, -1), 2);
    // Secrets are only stored enciphered with the built-in key.
    const QString pwd = back.ReadString(u"Mail"_s, u"Password"_s, QString());
    EXPECT_FALSE(pwd.contains(u"ss=w"_s));
    EXPECT_EQ(Decipher(pwd), PasswordToAnsi(d.Password));
    const QString key = back.ReadString(u"Mail"_s, u"Encrypt"_s, QString());
    EXPECT_NE(key, u"zip key"_s);
    EXPECT_EQ(Decipher(key), d.CryptKey);

    TMailData loaded;
    LoadMailDataFromIni(back, u"Mail"_s, loaded);
    EXPECT_EQ(loaded, d);
}

TEST(MailSettings, OlderSendLogSwitch)
{
    struct TCase {
        const char *Keys;
        TMailMode Expected;
    };
    const TCase cases[] = {
        {"SendLog=1\r\n", TMailMode::mmAlways},
        {"SendLog=1\r\nAttachLog=2\r\n", TMailMode::mmError},
        {"SendLog=0\r\n", TMailMode::mmNone},
        {"AttachLog=1\r\n", TMailMode::mmAlways},
    };
    for (const TCase &c : cases) {
        TMailData d;
        LoadMailDataFromIni(IniWith(u"[Mail]\r\n"_s + QString::fromLatin1(c.Keys)), u"Mail"_s, d);
        EXPECT_EQ(d.LogMode, c.Expected) << c.Keys;
    }

    TUnicodeIniFile ini = IniWith(u"[Mail]\r\nSMTP=s\r\nSendLog=1\r\n"_s);
    TMailData d;
    LoadMailDataFromIni(ini, u"Mail"_s, d);
    SaveMailDataToIni(ini, u"Mail"_s, d);
    EXPECT_EQ(ini.ReadInteger(u"Mail"_s, u"AttachLog"_s, -1), 1);
    EXPECT_FALSE(ini.ValueExists(u"Mail"_s, u"SendLog"_s));
}

TEST(MailSettings, EncryptedZipNeedsAPassword)
{
    const QString key = QString::fromLatin1(EncryptPassword(HexToCipherKey(kCipherKeyLiteral), "k", 64, false));
    struct TCase {
        QString Keys;
        TZipMode Expected;
    };
    const TCase cases[] = {
        {u"AsZip=2\r\nEncrypt=\r\n"_s, TZipMode::zmYes},
        {u"AsZip=2\r\n"_s, TZipMode::zmYes},
        {u"AsZip=2\r\nEncrypt="_s + key + u"\r\n"_s, TZipMode::zmEncrypt},
        {u"AsZip=1\r\n"_s, TZipMode::zmYes},
        {u"AsZip=7\r\n"_s, TZipMode::zmNo}, // no such mode
    };
    for (const TCase &c : cases) {
        TMailData d;
        LoadMailDataFromIni(IniWith(u"[Mail]\r\n"_s + c.Keys), u"Mail"_s, d);
        EXPECT_EQ(d.ZipMode, c.Expected) << c.Keys.toStdString();
    }
}

TEST(MailSettings, AttachmentsWithBlanksCommasAndQuotesStayWhole)
{
    const QStringList paths = {u"/home/jo/My Files/a, b.txt"_s, u"/srv/x,y,z.pdf"_s, u"/tmp/say \"hi\".txt"_s,
                               u" leading and trailing "_s, u"\"enclosed\""_s, u"/plain"_s};
    TMailData d;
    d.Attachments = paths;
    d.Attachments.insert(2, QString()); // nothing to attach: not stored
    TUnicodeIniFile ini = IniWith(QString());
    SaveMailDataToIni(ini, u"Mail"_s, d);
    const TUnicodeIniFile back = ThroughFile(ini);
    // Plain paths are stored as they are, one key each, without gaps.
    EXPECT_EQ(back.ReadString(u"Mail"_s, u"Attachment0"_s, QString()), paths[0]);
    EXPECT_EQ(back.ReadString(u"Mail"_s, u"Attachment2"_s, QString()), paths[2]);
    EXPECT_EQ(back.ReadString(u"Mail"_s, u"Attachment5"_s, QString()), paths[5]);

    TMailData loaded;
    LoadMailDataFromIni(back, u"Mail"_s, loaded);
    EXPECT_EQ(loaded.Attachments, paths);
}

TEST(MailSettings, QuotedAttachmentsOfOlderVersionsLoseTheirQuotes)
{
    TMailData d;
    LoadMailDataFromIni(IniWith(u"[Mail]\r\nAttachment0=\"/home/jo/My Files/a.txt\"\r\n"
                                u"Attachment1=\"/tmp/say \"\"hi\"\".txt\"\r\n"
                                u"Attachment2=/tmp/\"odd\r\n"
                                u"Attachment3=\"/a\" and \"b\"\r\n"_s),
                        u"Mail"_s, d);
    EXPECT_EQ(d.Attachments, QStringList({u"/home/jo/My Files/a.txt"_s, u"/tmp/say \"hi\".txt"_s, u"/tmp/\"odd"_s,
                                          u"\"/a\" and \"b\""_s}));
}

TEST(MailSettings, AtMostTenAttachments)
{
    QString keys = u"[Mail]\r\n"_s;
    for (int i = 0; i < 12; ++i)
        keys += u"Attachment%1=/f%1\r\n"_s.arg(i);
    TMailData d;
    LoadMailDataFromIni(IniWith(keys), u"Mail"_s, d);
    ASSERT_EQ(d.Attachments.size(), kMaxMailAttachments);
    EXPECT_EQ(d.Attachments.first(), u"/f0"_s);
    EXPECT_EQ(d.Attachments.last(), u"/f9"_s);

    // Saving writes no more than are read back, and old surplus keys go.
    TUnicodeIniFile ini = IniWith(keys);
    for (int i = 10; i < 12; ++i)
        d.Attachments.append(u"/g%1"_s.arg(i));
    SaveMailDataToIni(ini, u"Mail"_s, d);
    EXPECT_TRUE(ini.ValueExists(u"Mail"_s, u"Attachment9"_s));
    EXPECT_FALSE(ini.ValueExists(u"Mail"_s, u"Attachment10"_s));
    EXPECT_FALSE(ini.ValueExists(u"Mail"_s, u"Attachment11"_s));
}

TEST(MailSettings, SecureModeTexts)
{
    EXPECT_EQ(SecureModeText(TSecTransfer::stNone), u"No"_s);
    EXPECT_EQ(SecureModeText(TSecTransfer::stExplicit), u"STARTTLS"_s);
    EXPECT_EQ(SecureModeText(TSecTransfer::stRequired), u"TLS"_s);
    EXPECT_EQ(SecureModeText(TSecTransfer::stImplicit), u"SSL"_s);
    EXPECT_EQ(SecureModeText(TSecTransfer(9)), u"No"_s);
}

// ---- FTP --------------------------------------------------------------------

TFtpParams ResetParams()
{
    TFtpParams p;
    ResetFtpParams(p);
    return p;
}

TEST(FtpSettings, Defaults)
{
    const test::TScopedTimeZone tz("XYZ-5:30"); // 5.5 hours east of UTC
    TFtpParams p;
    p.Host = u"h"_s;
    p.Password = "x";
    p.CaseMode = TTextChange::tcUpper;
    p.Proxy.Mode = TIdFtpProxyType::fpcmSite;
    p.Proxy.Port = 1;
    ResetFtpParams(p);
    EXPECT_TRUE(p.Host.isEmpty());
    EXPECT_TRUE(p.Password.isEmpty());
    EXPECT_EQ(p.Port, 21);
    EXPECT_EQ(p.TimeOffset, 330);
    EXPECT_FALSE(p.UseTimeOffset);
    EXPECT_EQ(p.ConnTimeout, 60000);
    EXPECT_EQ(p.ResponseTimeOut, 60000);
    EXPECT_EQ(p.ConnAttempts, 1);
    EXPECT_TRUE(p.Passive);
    EXPECT_EQ(p.CaseMode, TTextChange::tcNone);
    EXPECT_EQ(p.Proxy.Port, 2121);
    EXPECT_EQ(p.Proxy.Mode, TIdFtpProxyType::fpcmNone);

    TFtpParams f;
    f.Host = u"h"_s;
    LoadFtpParamsFromFile(test::TestRoot() + u"/missing.vbt"_s, f);
    EXPECT_TRUE(f.Host.isEmpty());
    EXPECT_EQ(f.ConnTimeout, 60000);
}

// One key: its stored text, the field it sets, and the text of that field.
struct TFtpKeyCase {
    QString Section;
    QString Key;
    QString Stored;
    std::function<QString(const TFtpParams &)> Field;
    QString Value;
};

QString Num(int64_t AValue)
{
    return QString::number(AValue);
}

TEST(FtpSettings, EveryKeyReadsAndWritesItsField)
{
    const test::TScopedTimeZone tz("UTC");
    const QString ftp = u"Ftp"_s, proxy = u"Proxy"_s;
    const TFtpKeyCase cases[] = {
        {ftp, u"Host"_s, u"ftp.example.org"_s, [](auto &p) { return p.Host; }, u"ftp.example.org"_s},
        {ftp, u"Port"_s, u"2100"_s, [](auto &p) { return Num(p.Port); }, u"2100"_s},
        {ftp, u"Username"_s, u"jo"_s, [](auto &p) { return p.Username; }, u"jo"_s},
        {ftp, u"SubDir"_s, u"back ups/daily"_s, [](auto &p) { return p.Directory; }, u"back ups/daily"_s},
        {ftp, u"UseFTPS"_s, u"3"_s, [](auto &p) { return Num(p.SecureMode); }, u"3"_s},
        {ftp, u"Passive"_s, u"0"_s, [](auto &p) { return Num(p.Passive); }, u"0"_s},
        {ftp, u"ForceUtf8"_s, u"1"_s, [](auto &p) { return Num(p.ForceUtf8); }, u"1"_s},
        {ftp, u"UseIPv6"_s, u"1"_s, [](auto &p) { return Num(p.UseIPv6); }, u"1"_s},
        {ftp, u"UseOpts"_s, u"1"_s, [](auto &p) { return Num(p.UseOpts); }, u"1"_s},
        {ftp, u"UseExtensions"_s, u"1"_s, [](auto &p) { return Num(p.UseExts); }, u"1"_s},
        {ftp, u"UseHost"_s, u"1"_s, [](auto &p) { return Num(p.UseHost); }, u"1"_s},
        {ftp, u"TimeOffset"_s, u"4876"_s, [](auto &p) { return Num(p.TimeOffset) + u"/"_s + Num(p.UseTimeOffset); },
         u"60/1"_s},
        {ftp, u"TimeOffset"_s, u"780"_s, [](auto &p) { return Num(p.TimeOffset) + u"/"_s + Num(p.UseTimeOffset); },
         u"60/0"_s},
        {ftp, u"TimeOffset"_s, u"0"_s, [](auto &p) { return Num(p.TimeOffset) + u"/"_s + Num(p.UseTimeOffset); },
         u"-720/0"_s},
        {ftp, u"Retry"_s, u"4"_s, [](auto &p) { return Num(p.ConnAttempts); }, u"4"_s},
        {ftp, u"ConnTimeout"_s, u"7000"_s, [](auto &p) { return Num(p.ConnTimeout); }, u"7000"_s},
        {ftp, u"Timeout"_s, u"30000"_s, [](auto &p) { return Num(p.ResponseTimeOut); }, u"30000"_s},
        {ftp, u"PeerVerify"_s, u"2"_s, [](auto &p) { return Num(p.CertVerify); }, u"2"_s},
        {ftp, u"PeerFingerprint"_s, u"ab:cd:ef"_s, [](auto &p) { return p.Fingerprint; }, u"ab:cd:ef"_s},
        {ftp, u"KeepAlive"_s, u"1"_s, [](auto &p) { return Num(p.KeepAlive); }, u"1"_s},
        {ftp, u"LogFile"_s, u"1"_s, [](auto &p) { return Num(p.WriteLog); }, u"1"_s},
        {ftp, u"ChangeNames"_s, u"2"_s, [](auto &p) { return Num(int(p.CaseMode)); }, u"2"_s},
        {ftp, u"ChangeNames"_s, u"0"_s, [](auto &p) { return Num(int(p.CaseMode)); }, u"0"_s},
        {ftp, u"ReplChar"_s, u":*?"_s, [](auto &p) { return p.InvalidChars; }, u":*?"_s},
        {ftp, u"Quotes"_s, u"1"_s, [](auto &p) { return Num(p.Quotes); }, u"1"_s},
        {proxy, u"Server"_s, u"proxy.example.org"_s, [](auto &p) { return p.Proxy.Server; }, u"proxy.example.org"_s},
        {proxy, u"Port"_s, u"8021"_s, [](auto &p) { return Num(p.Proxy.Port); }, u"8021"_s},
        {proxy, u"Username"_s, u"px"_s, [](auto &p) { return p.Proxy.Username; }, u"px"_s},
        {proxy, u"ProxyType"_s, u"5"_s, [](auto &p) { return Num(int(p.Proxy.Mode)); }, u"5"_s},
    };
    for (const TFtpKeyCase &c : cases) {
        SCOPED_TRACE((c.Section + u"/"_s + c.Key + u"="_s + c.Stored).toStdString());
        TFtpParams unset = ResetParams();
        LoadFtpParamsFromIni(IniWith(u"[Ftp]\r\n[Proxy]\r\n"_s), u"Ftp"_s, unset);
        ASSERT_NE(c.Field(unset), c.Value) << "the case must differ from the default";
        TFtpParams p = ResetParams();
        LoadFtpParamsFromIni(IniWith(u"["_s + c.Section + u"]\r\n"_s + c.Key + u"="_s + c.Stored + u"\r\n"_s),
                             u"Ftp"_s, p);
        EXPECT_EQ(c.Field(p), c.Value);
        TUnicodeIniFile out = IniWith(QString());
        SaveFtpParamsToIni(out, u"Ftp"_s, p);
        EXPECT_EQ(out.ReadString(c.Section, c.Key, u"<none>"_s), c.Stored);
    }
}

TEST(FtpSettings, WholeRecordInKeyOrderWithEncipheredPasswords)
{
    TFtpParams p = ResetParams();
    p.Host = u"ftp.example.org"_s;
    p.Username = u"jo"_s;
    p.Password = "s3cret pass";
    p.Proxy.Password = "proxy pass";
    p.UseTimeOffset = true;
    p.TimeOffset = -120;
    p.InvalidChars = u"a \"b"_s;
    TUnicodeIniFile ini = IniWith(u"[Ftp]\r\nStale=1\r\n[Proxy]\r\nKept=1\r\n"_s);
    SaveFtpParamsToIni(ini, u"Ftp"_s, p);
    const TUnicodeIniFile back = ThroughFile(ini);
    EXPECT_EQ(back.ReadSection(u"Ftp"_s),
              QStringList({u"Host"_s, u"Port"_s, u"Username"_s, u"Password"_s, u"SubDir"_s, u"UseFTPS"_s,
                           u"Passive"_s, u"ForceUtf8"_s, u"UseIPv6"_s, u"UseOpts"_s, u"UseExtensions"_s,
                           u"UseHost"_s, u"TimeOffset"_s, u"Retry"_s, u"ConnTimeout"_s, u"Timeout"_s,
                           u"PeerVerify"_s, u"PeerFingerprint"_s, u"KeepAlive"_s, u"LogFile"_s, u"ChangeNames"_s,
                           u"ReplChar"_s, u"Quotes"_s}));
    // [Proxy] is written over, not erased.
    EXPECT_EQ(back.ReadSection(u"Proxy"_s),
              QStringList({u"Kept"_s, u"Server"_s, u"Port"_s, u"Username"_s, u"Password"_s, u"ProxyType"_s}));
    const QString pwd = back.ReadString(u"Ftp"_s, u"Password"_s, QString());
    EXPECT_FALSE(pwd.contains(u"s3cret"_s));
    EXPECT_EQ(Decipher(pwd), p.Password);
    EXPECT_EQ(Decipher(back.ReadString(u"Proxy"_s, u"Password"_s, QString())), p.Proxy.Password);

    TFtpParams q = ResetParams();
    LoadFtpParamsFromIni(back, u"Ftp"_s, q);
    EXPECT_EQ(q.Password, p.Password);
    EXPECT_EQ(q.Proxy.Password, p.Proxy.Password);
    EXPECT_EQ(q.TimeOffset, -120);
    EXPECT_TRUE(q.UseTimeOffset);
    EXPECT_EQ(q.InvalidChars, p.InvalidChars);
}

TEST(FtpSettings, TimeOffsetStoredWithItsFlag)
{
    TFtpParams p = ResetParams();
    p.TimeOffset = 60;
    p.UseTimeOffset = true;
    TUnicodeIniFile ini = IniWith(QString());
    SaveFtpParamsToIni(ini, u"Ftp"_s, p);
    EXPECT_EQ(ini.ReadInteger(u"Ftp"_s, u"TimeOffset"_s, 0), 4876);

    // Without the key the record keeps its offset, but not the flag.
    TFtpParams q = ResetParams();
    q.TimeOffset = -300;
    q.UseTimeOffset = true;
    LoadFtpParamsFromIni(IniWith(u"[Ftp]\r\nHost=h\r\n"_s), u"Ftp"_s, q);
    EXPECT_EQ(q.TimeOffset, -300);
    EXPECT_FALSE(q.UseTimeOffset);
}

TEST(FtpSettings, OlderFilesWithoutNewerKeys)
{
    // No ChangeNames: file names were changed to lower case.
    TFtpParams p = ResetParams();
    LoadFtpParamsFromIni(IniWith(u"[Ftp]\r\nHost=h\r\nTimeout=30000\r\n"_s), u"Ftp"_s, p);
    EXPECT_EQ(p.CaseMode, TTextChange::tcLower);
    // No ConnTimeout: the response time-out the record had before.
    EXPECT_EQ(p.ConnTimeout, 60000);
    EXPECT_EQ(p.ResponseTimeOut, 30000);

    // A task file is read over the record as it is.
    const QString name = test::MakeTempDir() + u"/task.vbt"_s;
    TUnicodeIniFile w = TUnicodeIniFile::CreateForWrite(name, true);
    w.WriteString(u"Ftp"_s, u"Host"_s, u"h"_s);
    w.Save();
    TFtpParams f = ResetParams();
    f.ResponseTimeOut = 5000;
    LoadFtpParamsFromFile(name, f);
    EXPECT_EQ(f.ConnTimeout, 5000);
    EXPECT_EQ(f.ResponseTimeOut, 60000);
}

TEST(FtpSettings, ReplCharKeepsItsValueOverRepeatedSaves)
{
    struct TCase {
        QString Chars;
        QString Stored;
    };
    const TCase cases[] = {
        {u":*?"_s, u":*?"_s},
        {u"a b"_s, u"\"a b\""_s},
        {u" "_s, u"\" \""_s},
        {u"x\" y"_s, u"\"x\"\" y\""_s},
        {u"\" \""_s, u"\"\"\" \"\"\""_s},
        {u"\"*\""_s, u"\"*\""_s}, // no blank: stored and read as it is
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Chars.toStdString());
        TFtpParams p = ResetParams();
        p.InvalidChars = c.Chars;
        for (int round = 0; round < 3; ++round) {
            TUnicodeIniFile ini = IniWith(QString());
            SaveFtpParamsToIni(ini, u"Ftp"_s, p);
            const TUnicodeIniFile back = ThroughFile(ini);
            EXPECT_EQ(back.ReadString(u"Ftp"_s, u"ReplChar"_s, QString()), c.Stored);
            p = ResetParams();
            LoadFtpParamsFromIni(back, u"Ftp"_s, p);
            EXPECT_EQ(p.InvalidChars, c.Chars);
        }
    }
}

TEST(FtpSettings, ProxyKeysComeFromProxyWhateverTheSection)
{
    TFtpParams p = ResetParams();
    LoadFtpParamsFromIni(IniWith(u"[Ftp2]\r\nHost=h2\r\n[Ftp]\r\nHost=h\r\n[Proxy]\r\nServer=px\r\nProxyType=2\r\n"_s),
                         u"Ftp2"_s, p);
    EXPECT_EQ(p.Host, u"h2"_s);
    EXPECT_EQ(p.Proxy.Server, u"px"_s);
    EXPECT_EQ(p.Proxy.Mode, TIdFtpProxyType::fpcmSite);
}

TEST(FtpSettings, Urls)
{
    struct TCase {
        QString Host;
        bool IPv6;
        int32_t Secure;
        int32_t Port;
        QString Dir;
        QString Url;
    };
    const TCase cases[] = {
        {u"::1"_s, true, 0, 21, u"backup"_s, u"ftp://[::1]:21/backup"_s},
        {u"ftp.example.org"_s, false, 0, 21, u"backup"_s, u"ftp://ftp.example.org:21/backup"_s},
        {u"ftp.example.org"_s, false, 0, 21, QString(), u"ftp://ftp.example.org:21/"_s},
        {u"ftp.example.org"_s, false, 2, 990, u"/a/b"_s, u"ftps://ftp.example.org:990/a/b"_s},
        {u"ftp.example.org"_s, false, -1, 21, u"a"_s, u"ftp://ftp.example.org:21/a"_s},
        {QString(), false, 1, 21, u"a"_s, QString()},
    };
    for (const TCase &c : cases) {
        TFtpParams p = ResetParams();
        p.Host = c.Host;
        p.UseIPv6 = c.IPv6;
        p.SecureMode = c.Secure;
        p.Port = c.Port;
        p.Directory = u"ignored"_s;
        EXPECT_EQ(FtpUrl(p, c.Dir), c.Url);
        p.Directory = c.Dir;
        EXPECT_EQ(FtpDestinationUrl(p), c.Url);
    }

    const QString name = test::MakeTempDir() + u"/task.vbt"_s;
    TUnicodeIniFile w = TUnicodeIniFile::CreateForWrite(name, true);
    w.SetText(u"[Ftp]\r\nHost=h\r\nPort=2121\r\nSubDir=d\r\nUseFTPS=1\r\n"_s);
    w.Save();
    EXPECT_EQ(FtpUrlFromIni(TUnicodeIniFile::CreateForRead(name)), u"ftps://h:2121/d"_s);
    EXPECT_EQ(FtpUrlFromTaskFile(name), u"ftps://h:2121/d"_s);
    EXPECT_EQ(FtpUrlFromTaskFile(name + u".missing"_s), QString());
}

TEST(FtpSettings, CertificateFilesLieInTheProgramFolder)
{
    TCertInfos c;
    GetCertInfos(c);
    EXPECT_EQ(c.CertDir, ProgramPath);
    EXPECT_EQ(c.RootCertFile, u"velkorroot.pem"_s);
    EXPECT_EQ(c.CertFile, u"velkor.crt"_s);
    EXPECT_EQ(c.KeyFile, u"velkor.key"_s);
    EXPECT_EQ(c.Password.size(), 14);
}

TEST(FtpSettings, ConnectRefusesWithoutHostUserOrPassword)
{
    test::TListener server;
    // Without a password dialog the password questions are cancelled.
    struct TCase {
        const char *Name;
        std::function<void(TFtpParams &)> Change;
    };
    const TCase cases[] = {
        {"no host", [](TFtpParams &p) { p.Host.clear(); }},
        {"no user", [](TFtpParams &p) { p.Username.clear(); }},
        {"no password", [](TFtpParams &p) { p.Password.clear(); }},
        {"no proxy password",
         [&server](TFtpParams &p) {
             p.Proxy.Mode = TIdFtpProxyType::fpcmSite;
             p.Proxy.Server = u"127.0.0.1"_s;
             p.Proxy.Port = server.Port;
             p.Proxy.Username = u"px"_s;
         }},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFtpParams p = ResetParams();
        p.Host = u"127.0.0.1"_s;
        p.Port = server.Port;
        p.Username = u"jo"_s;
        p.Password = "pw";
        c.Change(p);
        const TFtpParams before = p;
        std::unique_ptr<TExtFtp> ftp = std::make_unique<TExtFtp>();
        EXPECT_FALSE(ConnectFtpServer(p, ftp));
        EXPECT_FALSE(ftp);
        EXPECT_FALSE(server.SomeoneConnected());
        EXPECT_EQ(p.Password, before.Password);
    }
}

TEST(FtpSettings, FailedConnectLeavesNoClient)
{
    uint16_t port;
    {
        test::TListener closed; // a port nobody listens on once it is gone
        port = closed.Port;
    }
    TFtpParams p = ResetParams();
    p.Host = u"127.0.0.1"_s;
    p.Port = port;
    p.Username = u"jo"_s;
    p.Password = "pw";
    p.ConnTimeout = 2000;
    std::unique_ptr<TExtFtp> ftp;
    EXPECT_FALSE(ConnectFtpServer(p, ftp));
    EXPECT_FALSE(ftp);
}

} // namespace
