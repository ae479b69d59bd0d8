#include "core/CommandLine.h"

#include "common/TestUtils.h"

namespace vl {
namespace {

TEST(CommandLineTokens, PathsStartingWithSlashAreNoSwitches)
{
    const QString dir = test::MakeTempDir();
    test::WriteBytes(dir + QStringLiteral("/args"), "x");
    const struct {
        QString Token;
        bool Switch;
        bool Path;
    } cases[] = {
        {QStringLiteral("/force"), true, false},
        {QStringLiteral("-force"), true, false},
        {QStringLiteral("/"), true, false}, // the empty switch, not the root folder
        {QStringLiteral("-"), true, false},
        {QStringLiteral("/ini:/x/y.ini"), true, false},
        {QStringLiteral("/home/u/Daily.BUJ"), false, true},
        {QStringLiteral("/t/r.rsj"), false, true},
        {QStringLiteral("/t/v.vfj"), false, true},
        {QStringLiteral("/t/c.cuj"), false, true},
        {dir, false, true},
        {dir + QStringLiteral("/args"), false, true},
        {dir + QStringLiteral("/none"), true, false},
        {QStringLiteral("Daily"), false, false},
        {QStringLiteral("@args"), false, false},
        {QString(), false, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(IsSwitchArgument(c.Token), c.Switch) << c.Token.toStdString();
        EXPECT_EQ(IsPathArgument(c.Token), c.Path) << c.Token.toStdString();
    }
}

} // namespace
} // namespace vl
