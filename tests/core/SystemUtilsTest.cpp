#include "core/SystemUtils.h"
#include "platform/OsInfo.h"

#include <QSysInfo>

#include <gtest/gtest.h>

using namespace vl;

TEST(SystemUtils, OsLineNamesSystemKernelAndBitness)
{
    TOsInfo info;
    ASSERT_TRUE(GetOsInfo(info));
    const QString line = WindowsVersionText();
    EXPECT_EQ(line, info.PrettyName + QStringLiteral(" (Kernel ") + QSysInfo::kernelVersion() + QStringLiteral(", ")
                        + (info.Is64Bit ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition"))
                        + QLatin1Char(')'));
}
