#include "platform/OsInfo.h"

#include <QSysInfo>

#include <gtest/gtest.h>

using namespace vl;

TEST(OsInfo, PrettyNameFromOsRelease)
{
    const struct {
        QByteArray Text;
        QString Expected;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n", QStringLiteral("Debian GNU/Linux 12 (bookworm)")},
        {"PRETTY_NAME='Arch \"Linux\"'", QStringLiteral("Arch \"Linux\"")},
        {"  PRETTY_NAME=Plain\n", QStringLiteral("Plain")},
        {R"(PRETTY_NAME="a \"q\" \\ \$x \n")", QStringLiteral("a \"q\" \\ $x \\n")},
        {"PRETTY_NAME=\"Caf\xc3\xa9 OS\"", QStringLiteral(u"Café OS")},
        {"# PRETTY_NAME=commented\nNAME=Foo\n", QStringLiteral("Linux")},
        {"PRETTY_NAME=\"\"\n", QStringLiteral("Linux")},
        {"", QStringLiteral("Linux")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OsReleasePrettyName(c.Text), c.Expected) << c.Text.toStdString();
}

TEST(OsInfo, MachineBitness)
{
    for (const char *m : {"x86_64", "aarch64", "ppc64le", "riscv64", "s390x", "loongarch64"})
        EXPECT_TRUE(Is64BitMachine(QLatin1String(m))) << m;
    for (const char *m : {"i686", "armv7l", "s390", "mips", ""})
        EXPECT_FALSE(Is64BitMachine(QLatin1String(m))) << m;
}

TEST(OsInfo, DescribesThisSystem)
{
    TOsInfo info;
    ASSERT_TRUE(GetOsInfo(info));
    EXPECT_FALSE(info.PrettyName.isEmpty());
    EXPECT_EQ(info.KernelRelease, QSysInfo::kernelVersion());
    EXPECT_EQ(info.Is64Bit, QSysInfo::currentCpuArchitecture().contains(QLatin1String("64")));
    EXPECT_EQ(Is64BitProcess(), sizeof(void *) == 8 && info.Is64Bit);
}
