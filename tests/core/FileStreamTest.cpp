#include "core/FileStream.h"

#include "common/TestUtils.h"
#include "core/Translate.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vl {
namespace {

using test::MakeTempDir;
using test::ReadBytes;
using test::WriteBytes;

QString SysText(uint32_t code)
{
    return Tr(SysErrorText(code));
}

// The error a constructor raises; ErrorCode -1 and an empty message when
// it raises nothing.
struct TOpenResult {
    int32_t Code = -1;
    QString Message;
};

TOpenResult TryOpen(const QString &name, uint16_t mode, uint32_t rights = 0)
{
    try {
        TExtFileStream s(name, mode, rights);
    } catch (const EExtFileStreamError &e) {
        return {e.ErrorCode(), e.Message()};
    }
    return {};
}

TEST(FileStreamTest, OpenAndCreateFailuresCarryCodeAndFullPath)
{
    const QString dir = MakeTempDir();
    struct Case {
        QString Name;
        uint16_t Mode;
        uint32_t Code;
        const char *Text;
    } cases[] = {
        {dir + QStringLiteral("/missing.txt"), kOpenReadShared, ERROR_FILE_NOT_FOUND, "Cannot open file \"%1\". %2"},
        {dir + QStringLiteral("/no/such.txt"), kOpenReadShared, ERROR_PATH_NOT_FOUND, "Cannot open file \"%1\". %2"},
        {dir + QStringLiteral("/no/such.txt"), kCreateExclusive, ERROR_PATH_NOT_FOUND, "Cannot create file \"%1\". %2"},
    };
    for (const Case &c : cases) {
        const TOpenResult r = TryOpen(c.Name, c.Mode);
        EXPECT_EQ(r.Code, int32_t(c.Code)) << c.Name.toStdString();
        EXPECT_EQ(r.Message, QString::fromUtf8(c.Text).arg(c.Name, SysText(c.Code)));
    }
}

TEST(FileStreamTest, RelativeNameKeptButMessageShowsFullPath)
{
    const QString dir = MakeTempDir();
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    const TOpenResult missing = TryOpen(QStringLiteral("./missing.txt"), kOpenReadShared);
    QString kept;
    try {
        TExtFileStream s(QStringLiteral("rel.txt"), kCreateExclusive);
        kept = s.FileName();
    } catch (const EExtFileStreamError &e) {
        ADD_FAILURE() << e.what();
    }
    QDir::setCurrent(saved);
    EXPECT_EQ(missing.Code, int32_t(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing.Message, QStringLiteral("Cannot open file \"%1/missing.txt\". %2").arg(QDir(dir).canonicalPath(), SysText(2)));
    EXPECT_EQ(kept, QStringLiteral("rel.txt"));
    EXPECT_TRUE(PathExists(dir + QStringLiteral("/rel.txt"), false));
}

TEST(FileStreamTest, InvalidModesFailWithoutTouchingTheFile)
{
    const QString dir = MakeTempDir();
    const QString existing = dir + QStringLiteral("/e.txt");
    WriteBytes(existing, "keep");
    const QString fresh = dir + QStringLiteral("/new.txt");
    // access 3; sharing above 0x40; the same sharing values when creating
    for (const uint16_t mode : {0x0003, 0x0043, 0x0050, 0x00F0, 0xFF50, 0xFFF0}) {
        EXPECT_EQ(TryOpen(existing, mode).Code, int32_t(ERROR_INVALID_PARAMETER)) << std::hex << mode;
        EXPECT_EQ(TryOpen(fresh, mode).Code, int32_t(ERROR_INVALID_PARAMETER)) << std::hex << mode;
    }
    EXPECT_FALSE(PathExists(fresh, false));
    EXPECT_EQ(ReadBytes(existing), QByteArray("keep"));
    // Every valid sharing value opens; bit 2 is ignored when opening.
    for (const uint16_t mode : {0x0000, 0x0010, 0x0020, 0x0030, 0x0040, 0x0044, 0x0042})
        EXPECT_EQ(TryOpen(existing, mode).Code, -1) << std::hex << mode;
}

// A folder opens for reading on Linux; as a file stream it must not, or a
// copy from it would truncate its destination before failing.
TEST(FileStreamTest, FolderIsRefusedAsAFile)
{
    const QString dir = MakeTempDir();
    for (const uint16_t mode : {kOpenReadShared, uint16_t(0x0000)}) {
        const TOpenResult r = TryOpen(dir, mode);
        EXPECT_EQ(r.Code, int32_t(ERROR_ACCESS_DENIED)) << std::hex << mode;
        EXPECT_EQ(r.Message, QStringLiteral("Cannot open file \"%1\". %2").arg(dir, SysText(5)));
    }
}

TEST(FileStreamTest, CreateModesAndRights)
{
    const QString dir = MakeTempDir();
    const QString name = dir + QStringLiteral("/f.bin");
    WriteBytes(name, "old contents");
    {
        TExtFileStream s(name, kCreateExclusive); // create or truncate
        EXPECT_EQ(s.Size(), 0);
    }
    EXPECT_EQ(TryOpen(name, 0xFF04).Code, int32_t(ERROR_FILE_EXISTS)); // new only
    EXPECT_EQ(TryOpen(name, 0xFFFF).Code, -1); // 0xFF stands for exclusive create-or-truncate

    const mode_t mask = umask(0);
    umask(mask);
    const QString withRights = dir + QStringLiteral("/r.bin");
    TryOpen(withRights, 0xFF04, 0640);
    const QString withDefault = dir + QStringLiteral("/d.bin");
    TryOpen(withDefault, 0xFF04);
    TStatInfo st;
    ASSERT_EQ(StatPath(withRights, true, st), 0u);
    EXPECT_EQ(st.Mode & 0777, 0640u & ~mask);
    ASSERT_EQ(StatPath(withDefault, true, st), 0u);
    EXPECT_EQ(st.Mode & 0777, 0666u & ~mask);
}

TEST(FileStreamTest, ReadAndWriteReturnCodesInsteadOfRaising)
{
    const QString name = MakeTempDir() + QStringLiteral("/data.bin");
    {
        TExtFileStream w(name, kCreateExclusive);
        int32_t n = 0;
        EXPECT_EQ(w.Write("abcdef", 6, n), 0);
        EXPECT_EQ(n, 6);
    }
    {
        TExtFileStream r(name, kOpenReadShared);
        char buf[16];
        int32_t n = 0;
        EXPECT_EQ(r.Read(buf, sizeof buf, n), 0);
        EXPECT_EQ(QByteArray(buf, n), QByteArray("abcdef"));
        EXPECT_EQ(r.Read(buf, sizeof buf, n), 0); // end of file
        EXPECT_EQ(n, 0);
        EXPECT_EQ(r.Write("x", 1, n), int32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(n, -1);
    }
    {
        TExtFileStream w(name, 0x0041); // write only
        char buf[4];
        int32_t n = 0;
        EXPECT_EQ(w.Read(buf, sizeof buf, n), int32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(n, -1);
        EXPECT_EQ(w.Write("XY", 2, n), 0); // the stream stays usable
    }
    EXPECT_EQ(ReadBytes(name), QByteArray("XYcdef"));
}

TEST(FileStreamTest, WorksAsAStream)
{
    const QString name = MakeTempDir() + QStringLiteral("/s.bin");
    TExtFileStream f(name, kCreateExclusive);
    TStream &s = f;
    EXPECT_EQ(s.Write("0123456789", 10), 10);
    EXPECT_EQ(s.Size(), 10);
    s.SetPosition(4);
    char buf[3];
    EXPECT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(QByteArray(buf, 3), QByteArray("456"));
    EXPECT_EQ(s.Position(), 7);
    EXPECT_TRUE(s.SetSize(5));
    EXPECT_EQ(s.Seek(0, TSeekOrigin::soEnd), 5);
}

TEST(FileStreamTest, PermissionDeniedIsCode5)
{
    const QString dir = MakeTempDir();
    const QString readOnly = dir + QStringLiteral("/ro.txt");
    const QString privateFile = dir + QStringLiteral("/private.txt");
    WriteBytes(readOnly, "r");
    WriteBytes(privateFile, "p");
    test::ChownTree(dir);
    ASSERT_EQ(Chmod(readOnly, 0444), 0u);
    ASSERT_EQ(Chmod(privateFile, 0600), 0u);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(privateFile.toUtf8().constData(), 0, 0), 0);
    } else {
        ASSERT_EQ(Chmod(privateFile, 0000), 0u);
    }
    test::RunUnprivileged([&] {
        const TOpenResult created = TryOpen(readOnly, kCreateExclusive);
        EXPECT_EQ(created.Code, int32_t(ERROR_ACCESS_DENIED));
        EXPECT_EQ(created.Message, QStringLiteral("Cannot create file \"%1\". %2").arg(readOnly, SysText(5)));
        EXPECT_EQ(TryOpen(privateFile, kOpenReadShared).Code, int32_t(ERROR_ACCESS_DENIED));
    });
    EXPECT_EQ(ReadBytes(readOnly), QByteArray("r"));
}

} // namespace
} // namespace vl
