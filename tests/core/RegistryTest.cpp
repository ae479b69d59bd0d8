#include "core/Registry.h"

#include "common/TestUtils.h"

#include <QFile>

#include <gtest/gtest.h>

namespace vl {
namespace {

using R = TRegistryRoot;

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(RegistryFileName(R::rrCurrentUser));
        qputenv("VELKOR_MACHINE_REGISTRY", (Dir + QStringLiteral("/machine/registry.ini")).toUtf8());
    }
    void TearDown() override
    {
        QFile::remove(RegistryFileName(R::rrCurrentUser));
        qunsetenv("VELKOR_MACHINE_REGISTRY");
    }
    QString Dir = test::MakeTempDir(QStringLiteral("reg"));
};

TEST_F(RegistryTest, ValuesLiveInTheirOwnFiles)
{
    EXPECT_EQ(RegistryFileName(R::rrCurrentUser),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/velkor-registry.ini"));
    const QString key = QStringLiteral("Software\\Velkor6");
    ASSERT_TRUE(WriteRegistryString(R::rrCurrentUser, key, QStringLiteral("IniPath"), QStringLiteral("/data/set")));
    ASSERT_TRUE(WriteRegistryInteger(R::rrLocalMachine, key, QStringLiteral("Level"), 42));

    // Key paths and names ignore case; each root sees only its own file.
    EXPECT_EQ(ReadRegistryString(R::rrCurrentUser, QStringLiteral("software\\VELKOR6"), QStringLiteral("inipath"), {}),
              QStringLiteral("/data/set"));
    EXPECT_EQ(ReadRegistryString(R::rrLocalMachine, key, QStringLiteral("IniPath"), QStringLiteral("none")),
              QStringLiteral("none"));
    EXPECT_EQ(ReadRegistryInteger(R::rrLocalMachine, key, QStringLiteral("Level"), 0), 42);
    EXPECT_EQ(ReadRegistryInteger(R::rrCurrentUser, key, QStringLiteral("Level"), -1), -1);
    EXPECT_TRUE(test::ReadBytes(Dir + QStringLiteral("/machine/registry.ini")).contains("[Software\\Velkor6]"));

    // The default value has an empty name.
    ASSERT_TRUE(WriteRegistryString(R::rrCurrentUser, key, QString(), QStringLiteral("default")));
    EXPECT_EQ(ReadRegistryString(R::rrCurrentUser, key, QString(), {}), QStringLiteral("default"));
    EXPECT_EQ(ReadRegistryString(R::rrCurrentUser, key, QStringLiteral("IniPath"), {}), QStringLiteral("/data/set"));

    ASSERT_TRUE(DeleteRegistryValue(R::rrCurrentUser, key, QStringLiteral("IniPath")));
    EXPECT_FALSE(RegistryValueExists(R::rrCurrentUser, key, QStringLiteral("IniPath")));
    EXPECT_TRUE(RegistryValueExists(R::rrCurrentUser, key, QString()));
}

TEST_F(RegistryTest, DeletingAKeyTakesItsSubkeysButNotItsNamesakes)
{
    const QString base = QStringLiteral("Software\\Classes\\Folder\\shell\\Velkor");
    ASSERT_TRUE(WriteRegistryString(R::rrCurrentUser, base, QString(), QStringLiteral("Backup")));
    ASSERT_TRUE(WriteRegistryString(R::rrCurrentUser, base + QStringLiteral("\\command"), QString(), QStringLiteral("cmd")));
    ASSERT_TRUE(WriteRegistryString(R::rrCurrentUser, base + QStringLiteral("6"), QStringLiteral("x"), QStringLiteral("1")));
    EXPECT_TRUE(RegistryKeyExists(R::rrCurrentUser, QStringLiteral("Software\\Classes\\Folder\\shell")));

    ASSERT_TRUE(DeleteRegistryKey(R::rrCurrentUser, base));
    EXPECT_FALSE(RegistryKeyExists(R::rrCurrentUser, base));
    EXPECT_FALSE(RegistryKeyExists(R::rrCurrentUser, base + QStringLiteral("\\command")));
    EXPECT_TRUE(RegistryKeyExists(R::rrCurrentUser, base + QStringLiteral("6")));
    EXPECT_TRUE(DeleteRegistryKey(R::rrCurrentUser, QStringLiteral("Software\\Missing")));
}

TEST_F(RegistryTest, AFileThatCannotBeWrittenFailsTheWrite)
{
    // Its folder would lie below a regular file: not even root creates it.
    test::WriteBytes(Dir + QStringLiteral("/plain"), "x");
    qputenv("VELKOR_MACHINE_REGISTRY", (Dir + QStringLiteral("/plain/registry.ini")).toUtf8());
    EXPECT_FALSE(WriteRegistryString(R::rrLocalMachine, QStringLiteral("Software\\Velkor6"), QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_EQ(ReadRegistryString(R::rrLocalMachine, QStringLiteral("Software\\Velkor6"), QStringLiteral("a"), QStringLiteral("d")),
              QStringLiteral("d"));
}

} // namespace
} // namespace vl
