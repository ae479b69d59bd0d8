#include "core/IniFile.h"

#include "common/TestUtils.h"
#include "core/Exceptions.h"
#include "platform/FileNames.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <cstdint>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vl {
namespace {

using test::ReadBytes;
using test::WriteBytes;

// UTF-16LE with its mark, as every task file is written (built from Qt's
// own code units on this little-endian host, not by the code under test).
QByteArray Utf16File(const QString &text)
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    return QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

// Every name in a folder, hidden ones included, by bytes.
QStringList Entries(const QString &dir)
{
    QStringList names;
    if (DIR *d = ::opendir(EncodeFileName(dir).constData())) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.append(DecodeFileName(QByteArray(e->d_name)));
        ::closedir(d);
    }
    names.sort();
    return names;
}

mode_t ModeOf(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(EncodeFileName(path).constData(), &st), 0);
    return st.st_mode & 07777;
}

class IniFileTest : public testing::Test {
protected:
    QString Dir = test::MakeTempDir(QStringLiteral("ini"));
    QString Path = Dir + QStringLiteral("/task.buj");
};

// ---- layout of written files ----

TEST_F(IniFileTest, NewTaskFileIsByteExact)
{
    {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, true);
        ini.WriteProgramInfo(QStringLiteral("Program"), QStringLiteral("Velkor"));
        ini.WriteProgramInfo(QStringLiteral("Version"), QStringLiteral("6.0.0"));
        ini.WriteString(QStringLiteral("Global"), QStringLiteral("Name"), QStringLiteral("\u00D6lkanne \u20AC"));
        ini.WriteInt64(QStringLiteral("Global"), QStringLiteral("Size"), -5000000000LL);
        EXPECT_FALSE(QFile::exists(Path)) << "nothing reaches the disk before Save";
        ini.Save();
    }
    const QByteArray bytes = ReadBytes(Path);
    EXPECT_TRUE(bytes.startsWith(QByteArray("\xFF\xFE[\0U\0", 6)));
    EXPECT_EQ(bytes, Utf16File(QStringLiteral("[Unicode]\r\n"
                                              "Encoding=UTF-16LE\r\n"
                                              "Program=Velkor\r\n"
                                              "Version=6.0.0\r\n"
                                              "\r\n"
                                              "[Global]\r\n"
                                              "Name=\u00D6lkanne \u20AC\r\n"
                                              "Size=-5000000000\r\n"
                                              "\r\n")));
}

TEST_F(IniFileTest, DestructorNeverWrites)
{
    WriteBytes(Path, "[A]\nx=1\n");
    {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, true);
        ini.WriteString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("2"));
    }
    EXPECT_EQ(ReadBytes(Path), QByteArray("[A]\nx=1\n"));
}

TEST_F(IniFileTest, Utf8FileGetsMarkerSectionLastAndBecomesUtf16)
{
    WriteBytes(Path, "; comment\r\n[Global]\nName=caf\xC3\xA9\n");
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, false);
    EXPECT_EQ(ini.ReadString(QStringLiteral("global"), QStringLiteral("NAME"), QString()), QStringLiteral("caf\u00E9"));
    ini.Save();
    EXPECT_EQ(ReadBytes(Path), Utf16File(QStringLiteral("[Global]\r\nName=caf\u00E9\r\n\r\n"
                                                         "[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n")));
}

TEST_F(IniFileTest, CreateForWriteHandlesExistingMarker)
{
    const QString u = QStringLiteral("Unicode"), enc = QStringLiteral("Encoding");
    // An existing Encoding value stays; a marker section without one gets it.
    WriteBytes(Path, "[Unicode]\nEncoding=Other\n[A]\nx=1\n");
    TUnicodeIniFile kept = TUnicodeIniFile::CreateForWrite(Path, false);
    EXPECT_EQ(kept.ReadString(u, enc, QString()), QStringLiteral("Other"));
    EXPECT_EQ(kept.ReadSections(), QStringList({u, QStringLiteral("A")}));

    WriteBytes(Path, "[A]\nx=1\n[Unicode]\nProgram=Velkor\n");
    TUnicodeIniFile added = TUnicodeIniFile::CreateForWrite(Path, false);
    EXPECT_EQ(added.ReadSectionValues(u), QStringList({QStringLiteral("Program=Velkor"), QStringLiteral("Encoding=UTF-16LE")}));

    // Clearing leaves only the marker, with the value reset.
    WriteBytes(Path, "[Unicode]\nEncoding=Other\n[A]\nx=1\n");
    TUnicodeIniFile cleared = TUnicodeIniFile::CreateForWrite(Path, true);
    cleared.WriteString(QStringLiteral("B"), QStringLiteral("y"), QStringLiteral("2"));
    EXPECT_EQ(cleared.Text(), QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n[B]\r\ny=2\r\n\r\n"));
}

TEST_F(IniFileTest, EraseSectionValuesKeepsHeader)
{
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, true);
    ini.WriteString(QStringLiteral("Dir000"), QStringLiteral("Path"), QStringLiteral("/home"));
    ini.WriteString(QStringLiteral("Dir001"), QStringLiteral("Path"), QStringLiteral("/srv"));
    ini.EraseSectionValues(QStringLiteral("dir000"));
    ini.EraseSectionValues(QStringLiteral("Missing"));
    EXPECT_EQ(ini.Text(), QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"
                                         "[Dir000]\r\n\r\n"
                                         "[Dir001]\r\nPath=/srv\r\n\r\n"));
}

// ---- reading ----

TEST(MemIniFileTest, ParsesLinesLeniently)
{
    TMemIniFile ini;
    ini.SetText(QStringLiteral("lost=before any section\r\n"
                               "[ First ]\r"
                               "  Name =  Value  \n"
                               "\t; a comment\n"
                               "\n"
                               "no equals sign  \r\n"
                               "Path=a=b\r\n"
                               "=empty name\x01\r\n"
                               "[]\n"
                               "k=v"));
    EXPECT_EQ(ini.ReadSections(), QStringList({QStringLiteral("First"), QString()}));
    EXPECT_EQ(ini.ReadSectionValues(QStringLiteral("first")),
              QStringList({QStringLiteral("Name=Value"), QStringLiteral("no equals sign"), QStringLiteral("Path=a=b"),
                           QStringLiteral("=empty name")}));
    EXPECT_EQ(ini.ReadString(QStringLiteral("First"), QStringLiteral("name"), QString()), QStringLiteral("Value"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("First"), QStringLiteral("Path"), QString()), QStringLiteral("a=b"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("First"), QStringLiteral("no equals sign"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadString(QString(), QStringLiteral("k"), QString()), QStringLiteral("v"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Nowhere"), QStringLiteral("lost"), QStringLiteral("d")), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadSection(QStringLiteral("First")),
              QStringList({QStringLiteral("Name"), QStringLiteral("Path"), QString()}));
}

TEST(MemIniFileTest, DuplicateSectionsStaySeparate)
{
    TMemIniFile ini;
    ini.SetText(QStringLiteral("[A]\nx=1\n[B]\ny=2\n[a]\nx=3\nz=4\n"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("A"), QStringLiteral("x"), QString()), QStringLiteral("1"));
    EXPECT_FALSE(ini.ValueExists(QStringLiteral("A"), QStringLiteral("z")));
    ini.WriteString(QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("5"));
    EXPECT_EQ(ini.Text(), QStringLiteral("[A]\r\nx=1\r\nz=5\r\n\r\n[B]\r\ny=2\r\n\r\n[a]\r\nx=3\r\nz=4\r\n\r\n"));
    // Erasing the first makes the second reachable.
    ini.EraseSection(QStringLiteral("a"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("A"), QStringLiteral("x"), QString()), QStringLiteral("3"));
}

TEST(MemIniFileTest, WritesDeletesAndLookups)
{
    TMemIniFile ini;
    ini.SetText(QStringLiteral("[S]\nKey=1\nOther=2\nkey=3\n"));
    ini.WriteString(QStringLiteral("s"), QStringLiteral("KEY"), QStringLiteral("x"));
    ini.WriteBool(QStringLiteral("New"), QStringLiteral("Flag"), true);
    ini.WriteInteger(QStringLiteral("New"), QStringLiteral("Count"), -7);
    EXPECT_EQ(ini.Text(), QStringLiteral("[S]\r\nKEY=x\r\nOther=2\r\nkey=3\r\n\r\n[New]\r\nFlag=1\r\nCount=-7\r\n\r\n"));
    ini.DeleteKey(QStringLiteral("S"), QStringLiteral("key"));
    EXPECT_EQ(ini.ReadSectionValues(QStringLiteral("S")), QStringList({QStringLiteral("Other=2"), QStringLiteral("key=3")}));
    EXPECT_TRUE(ini.SectionExists(QStringLiteral("NEW")));
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("new"), QStringLiteral("flag")));
    ini.EraseSection(QStringLiteral("New"));
    EXPECT_FALSE(ini.SectionExists(QStringLiteral("New")));
    EXPECT_FALSE(ini.ValueExists(QStringLiteral("New"), QStringLiteral("Flag")));
}

TEST(MemIniFileTest, ReadsNumbers)
{
    struct Case {
        const char *text;
        int64_t int64;  // ReadInt64, default 99
        int int32;      // ReadInteger, default 99
    } cases[] = {
        {"0x1F", 31, 31},
        {"0X1f", 31, 31},
        {"0x", 99, 99},
        {"$10", 16, 16},
        {"-$10", -16, -16},
        {"+42", 42, 42},
        {"-0", 0, 0},
        {"12a", 99, 99},
        {"1 ", 99, 99},
        {"", 99, 99},
        {"$", 99, 99},
        {"x1F", 99, 99},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", 2147483648LL, 99},
        {"-2147483648", -2147483648LL, INT32_MIN},
        {"$FFFFFFFF", 4294967295LL, -1},
        {"$100000000", 4294967296LL, 99},
        {"9223372036854775807", INT64_MAX, 99},
        {"9223372036854775808", 99, 99},
        {"-9223372036854775808", INT64_MIN, 99},
        {"0xFFFFFFFFFFFFFFFF", -1, 99},
        {"0x10000000000000000", 99, 99},
    };
    for (const Case &c : cases) {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(QString());
        ini.WriteString(QStringLiteral("S"), QStringLiteral("v"), QString::fromUtf8(c.text));
        EXPECT_EQ(ini.ReadInt64(QStringLiteral("S"), QStringLiteral("v"), 99), c.int64) << c.text;
        EXPECT_EQ(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("v"), 99), c.int32) << c.text;
    }
    TMemIniFile ini;
    ini.SetText(QStringLiteral("[S]\nTwo=2\nZero=0\nWord=yes\n"));
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Two"), false));
    EXPECT_FALSE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Zero"), true));
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Word"), true));
    EXPECT_FALSE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("Missing"), false));
}

TEST_F(IniFileTest, ReadsEveryEncoding)
{
    const QString text = QStringLiteral("[S]\r\nv=\u00E9\u20AC\r\n");
    for (TTextEncoding enc : {TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom, TTextEncoding::teUtf16LE,
                              TTextEncoding::teUtf16BE, TTextEncoding::teWindows1252}) {
        WriteBytes(Path, EncodeText(text, enc));
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(Path);
        EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("v"), QString()), QStringLiteral("\u00E9\u20AC"));
        EXPECT_EQ(ini.Encoding(), enc);
    }
}

TEST_F(IniFileTest, MissingAndUnreadableFiles)
{
    for (const QString &name : {QString(), Dir + QStringLiteral("/missing.ini"), Dir + QStringLiteral("/no/such/dir.ini")}) {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(name);
        EXPECT_TRUE(ini.ReadSections().isEmpty());
        ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
        ini.Save(); // opened for reading: writes nothing
    }
    EXPECT_TRUE(Entries(Dir).isEmpty());
    // A folder exists but is no readable file.
    EXPECT_THROW(TUnicodeIniFile::CreateForRead(Dir), EFOpenError);
    EXPECT_THROW(TMemIniFile{Dir}, EFOpenError);
}

TEST_F(IniFileTest, ReadOnlyObjectNeverWrites)
{
    WriteBytes(Path, "[S]\nk=1\n");
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(Path);
    EXPECT_TRUE(ini.ReadOnly());
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2"));
    ini.Save();
    EXPECT_EQ(ReadBytes(Path), QByteArray("[S]\nk=1\n"));
}

// ---- saving ----

TEST_F(IniFileTest, ReadOnlyFileFailsAndStaysIntact)
{
    const QByteArray old = Utf16File(QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n"));
    WriteBytes(Path, old);
    ASSERT_EQ(::chmod(EncodeFileName(Path).constData(), 0444), 0); // root too must not replace it
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, false);
    ini.WriteString(QStringLiteral("Global"), QStringLiteral("Name"), QStringLiteral("x"));
    try {
        ini.Save();
        ADD_FAILURE() << "no EWriteError";
    } catch (const EWriteError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Error writing to \"%1\"").arg(Path));
    }
    EXPECT_THROW(ini.UpdateFile(), EWriteError);
    EXPECT_THROW(WriteIniString(Path, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")), EWriteError);
    EXPECT_EQ(ReadBytes(Path), old);
    EXPECT_EQ(ModeOf(Path), mode_t(0444));
    EXPECT_EQ(Entries(Dir), QStringList({QStringLiteral("task.buj")}));
}

TEST_F(IniFileTest, FailedWriteLeavesOldFileAndNoTemporary)
{
    const QByteArray old = Utf16File(QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n[A]\r\nx=1\r\n\r\n"));
    WriteBytes(Path, old);
    // A file-size limit makes the write fail part-way, as a full disk does.
    // In a child process, so the limit touches nothing else.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 100;
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int rc = 1;
        try {
            TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, false);
            ini.WriteString(QStringLiteral("A"), QStringLiteral("Long"), QString(500, QLatin1Char('z')));
            ini.Save();
        } catch (const EWriteError &) {
            rc = 0;
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must fail with EWriteError";
    EXPECT_EQ(ReadBytes(Path), old);
    EXPECT_EQ(Entries(Dir), QStringList({QStringLiteral("task.buj")}));
}

// Replacing by rename needs only the folder's write permission; a user
// who may not write the file itself must still not replace it.
TEST_F(IniFileTest, UnwritableFileOfAnotherUserIsNotReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    const QByteArray old("[S]\r\nk=1\r\n\r\n");
    WriteBytes(Path, old);
    test::ChownTree(Dir); // the folder is the unprivileged user's ...
    ASSERT_EQ(::chown(EncodeFileName(Path).constData(), 0, 0), 0); // ... the file is not
    ASSERT_EQ(::chmod(EncodeFileName(Path).constData(), 0644), 0);
    test::RunUnprivileged([&] {
        EXPECT_THROW(WriteIniString(Path, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2")), EWriteError);
    });
    EXPECT_EQ(ReadBytes(Path), old);
    EXPECT_EQ(Entries(Dir), QStringList({QStringLiteral("task.buj")}));
}

TEST_F(IniFileTest, SaveKeepsModeAndSymlink)
{
    const QString realDir = test::MakeTempDir(QStringLiteral("real"));
    const QString real = realDir + QStringLiteral("/real.ini");
    WriteBytes(real, "[A]\nx=1\n");
    ASSERT_EQ(::chmod(EncodeFileName(real).constData(), 0640), 0);
    ASSERT_EQ(::symlink(EncodeFileName(real).constData(), EncodeFileName(Path).constData()), 0);

    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(Path, false);
    ini.WriteString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("2"));
    ini.Save();

    EXPECT_EQ(QFileInfo(Path).symLinkTarget(), real);
    EXPECT_EQ(ModeOf(real), mode_t(0640));
    EXPECT_EQ(ReadBytes(real), Utf16File(QStringLiteral("[A]\r\nx=2\r\n\r\n[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n")));
    EXPECT_EQ(Entries(realDir), QStringList({QStringLiteral("real.ini")}));

    // A dangling link gets its target created.
    const QString link2 = Dir + QStringLiteral("/dangling.ini");
    const QString target2 = realDir + QStringLiteral("/new.ini");
    const QByteArray relative = "../" + EncodeFileName(QFileInfo(realDir).fileName()) + "/new.ini";
    ASSERT_EQ(::symlink(relative.constData(), EncodeFileName(link2).constData()), 0);
    WriteIniString(link2, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_EQ(ReadBytes(target2), QByteArray("[S]\r\nk=v\r\n\r\n"));
    EXPECT_TRUE(QFileInfo(link2).isSymLink());
}

TEST_F(IniFileTest, NonUtf8FileNameAndEscapedValue)
{
    // File name and value hold the byte E9, which is no UTF-8.
    const QString name = Dir + QStringLiteral("/caf") + QChar(0xDCE9) + QStringLiteral(".buj");
    const QString value = QStringLiteral("/data/caf") + QChar(0xDCE9);
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(name, true);
    ini.WriteString(QStringLiteral("Dir000"), QStringLiteral("Path"), value);
    ini.Save();
    EXPECT_EQ(EncodeFileName(Entries(Dir).join(QLatin1Char('|'))), QByteArray("caf\xE9.buj"));
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(name).ReadString(QStringLiteral("Dir000"), QStringLiteral("Path"), QString()), value);
}

TEST(MemIniFileTest, SaveWithoutFileNameFails)
{
    TMemIniFile ini;
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_THROW(ini.UpdateFile(), EWriteError);
}

// ---- one-shot functions ----

TEST_F(IniFileTest, OneShotWritesKeepEncoding)
{
    const QString before = QStringLiteral("[S]\r\nName=caf\u00E9\r\n");
    const QString after = QStringLiteral("[S]\r\nName=caf\u00E9\r\nNew=\u20AC\r\n\r\n");
    for (TTextEncoding enc : {TTextEncoding::teUtf8, TTextEncoding::teUtf8Bom, TTextEncoding::teUtf16LE,
                              TTextEncoding::teUtf16BE, TTextEncoding::teWindows1252}) {
        WriteBytes(Path, EncodeText(before, enc));
        WriteIniString(Path, QStringLiteral("s"), QStringLiteral("New"), QStringLiteral("\u20AC"));
        EXPECT_EQ(ReadBytes(Path), EncodeText(after, enc)) << int(enc);
    }
    // 8-bit file: the euro sign is written as the code-page byte 80.
    EXPECT_EQ(ReadBytes(Path), QByteArray("[S]\r\nName=caf\xE9\r\nNew=\x80\r\n\r\n"));
}

TEST_F(IniFileTest, OneShotNewFileAndLegacyOverflow)
{
    WriteIniInteger(Path, QStringLiteral("S"), QStringLiteral("Count"), 12);
    WriteIniBool(Path, QStringLiteral("S"), QStringLiteral("On"), true);
    WriteIniString(Path, QStringLiteral("T"), QStringLiteral("Name"), QStringLiteral("\u00E9"));
    EXPECT_EQ(ReadBytes(Path), QByteArray("[S]\r\nCount=12\r\nOn=1\r\n\r\n[T]\r\nName=\xC3\xA9\r\n\r\n"));
    EXPECT_EQ(ReadIniInteger(Path, QStringLiteral("s"), QStringLiteral("count"), 0), 12);
    EXPECT_TRUE(ReadIniBool(Path, QStringLiteral("S"), QStringLiteral("On"), false));
    EXPECT_EQ(ReadIniString(Path, QStringLiteral("T"), QStringLiteral("Name"), QString()), QStringLiteral("\u00E9"));
    EXPECT_EQ(ReadIniString(Dir + QStringLiteral("/none.ini"), QStringLiteral("T"), QStringLiteral("Name"), QStringLiteral("d")),
              QStringLiteral("d"));

    // A character the legacy code page lacks is not lost: the file turns
    // into UTF-8.
    WriteBytes(Path, "[S]\r\nName=caf\xE9\r\n");
    WriteIniString(Path, QStringLiteral("S"), QStringLiteral("Greek"), QStringLiteral("\u03A9"));
    EXPECT_EQ(ReadBytes(Path), QByteArray("[S]\r\nName=caf\xC3\xA9\r\nGreek=\xCE\xA9\r\n\r\n"));
}

TEST_F(IniFileTest, OneShotKeepsEscapedFileNameBytes)
{
    // Byte E9 of a non-UTF-8 path has no UTF-8 form; the file turns into
    // UTF-16LE instead of storing '?'.
    const QString path = QStringLiteral("/data/caf") + QChar(0xDCE9);
    const QString after = QStringLiteral("[S]\r\nName=caf\u00E9\r\nPath=") + path + QStringLiteral("\r\n\r\n");
    const QByteArray before[] = {QByteArray(), QByteArray("[S]\r\nName=caf\xC3\xA9\r\n"),
                                 QByteArray("\xEF\xBB\xBF[S]\r\nName=caf\xC3\xA9\r\n"),
                                 QByteArray("[S]\r\nName=caf\xE9\r\n")};
    for (const QByteArray &bytes : before) {
        ::unlink(EncodeFileName(Path).constData());
        if (bytes.isEmpty())
            WriteIniString(Path, QStringLiteral("S"), QStringLiteral("Name"), QStringLiteral("caf\u00E9"));
        else
            WriteBytes(Path, bytes);
        WriteIniString(Path, QStringLiteral("S"), QStringLiteral("Path"), path);
        EXPECT_EQ(ReadBytes(Path), Utf16File(after)) << bytes.toHex().toStdString();
        EXPECT_EQ(ReadIniString(Path, QStringLiteral("S"), QStringLiteral("Path"), QString()), path);
    }
}

} // namespace
} // namespace vl
