#include "ui/Styles.h"

#include "tests/common/TestUtils.h"

#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace vl;
using vl::test::TScopedEnv;

namespace vl {
void PrintTo(TColorScheme Scheme, std::ostream *Os)
{
    *Os << int(Scheme);
}
} // namespace vl

namespace {

// Switches by name, or fails when told to; records what it was asked.
class TFakeStyleManager : public TStyleManager {
public:
    QString Active = kSystemStyleName;
    bool Fail = false;
    QStringList Switches;
    QStringList Errors;

    QString ActiveStyleName() const override { return Active; }
    bool TrySetStyle(const QString &Name, QString &Error) override
    {
        Switches << Name;
        if (Fail) {
            Error = QStringLiteral("Style '%1' not found").arg(Name);
            return false;
        }
        Active = Name;
        return true;
    }
    void ShowStyleError(const QString &Message) override { Errors << Message; }
};

class StylesTest : public ::testing::Test {
protected:
    TFakeStyleManager Manager;

    void SetUp() override { InstallStyleManager(&Manager); }
    void TearDown() override
    {
        InstallStyleManager(nullptr);
        SetColorSchemeReader(nullptr);
    }
};

TColor PaletteColor(const char *Group, const char *Role)
{
    for (const TPaletteColor &c : DarkPalette())
        if (std::string(c.Group) == Group && std::string(c.Role) == Role)
            return c.Color;
    ADD_FAILURE() << Group << "/" << Role << " missing from the dark palette";
    return 0;
}

} // namespace

TEST(ColorDistanceTest, Table)
{
    struct TCase {
        TColor A, B;
        int Expected;
    };
    const TCase cases[] = {
        {RGBColor(0, 0, 0), RGBColor(255, 255, 255), 255},
        {RGBColor(10, 20, 30), RGBColor(13, 24, 30), 3},
        {RGBColor(13, 24, 30), RGBColor(10, 20, 30), 3},
        {RGBColor(0, 0, 0), RGBColor(0, 0, 3), 2},  // sqrt(3) rounds up
        {RGBColor(7, 7, 7), RGBColor(7, 7, 7), 0},
        {clBtnFace, RGBColor(0, 0, 0), 255},
        {RGBColor(240, 240, 240), clWindow, 255},
        {clBtnFace, clBtnFace, 0},
        {clBtnFace, clWindow, 6},  // both special: the bytes still count
    };
    for (const TCase &c : cases)
        EXPECT_EQ(ColorDistance(c.A, c.B), c.Expected) << std::hex << c.A << " " << c.B;
}

TEST_F(StylesTest, DarkModeNeedsADarkStyleName)
{
    ApplyDarkMode(true);
    EXPECT_TRUE(Manager.Switches.isEmpty());
    EXPECT_EQ(DarkStyleName(), kSystemStyleName);

    SetDarkStyleName(kDarkStyleName);
    ApplyDarkMode(true);
    EXPECT_EQ(Manager.Switches, QStringList{kDarkStyleName});
    EXPECT_TRUE(IsVclStyleActive());

    ApplyDarkMode(false);
    EXPECT_EQ(Manager.Switches, (QStringList{kDarkStyleName, kSystemStyleName}));
    EXPECT_FALSE(IsVclStyleActive());
}

TEST_F(StylesTest, NamesCompareCaseInsensitively)
{
    Manager.Active = QStringLiteral("fusion dark");
    InstallStyleManager(&Manager);
    SetDarkStyleName(QStringLiteral("FUSION DARK"));
    ApplyDarkMode(true);
    EXPECT_TRUE(Manager.Switches.isEmpty());
    // The light style is the start style, even when that is a styled one.
    EXPECT_EQ(LightStyleName(), QStringLiteral("fusion dark"));
}

TEST_F(StylesTest, FailedSwitchShowsTheErrorAndKeepsTheStyle)
{
    Manager.Fail = true;
    SetDarkStyleName(kDarkStyleName);
    ApplyDarkMode(true);
    EXPECT_EQ(Manager.Errors, QStringList{QStringLiteral("Style 'Fusion Dark' not found")});
    EXPECT_EQ(ActiveStyleName(), kSystemStyleName);
}

TEST_F(StylesTest, SystemDarkModeFollowsTheDesktopPreference)
{
    struct TCase {
        TColorScheme Scheme;
        QString StartActive;
        QString Expected;
        int SwitchCount;
    };
    const TCase cases[] = {
        {TColorScheme::csPreferDark, kSystemStyleName, kDarkStyleName, 1},
        {TColorScheme::csPreferDark, kDarkStyleName, kDarkStyleName, 0},
        {TColorScheme::csPreferLight, kDarkStyleName, kSystemStyleName, 1},
        {TColorScheme::csNoPreference, kDarkStyleName, kSystemStyleName, 1},
        {TColorScheme::csNoPreference, kSystemStyleName, kSystemStyleName, 0},
    };
    for (const TCase &c : cases) {
        Manager.Active = kSystemStyleName;
        Manager.Switches.clear();
        InstallStyleManager(&Manager);
        SetDarkStyleName(kDarkStyleName);
        Manager.Active = c.StartActive;
        SetColorSchemeReader([&c] { return c.Scheme; });
        ApplySystemDarkMode();
        EXPECT_EQ(Manager.Active, c.Expected) << int(c.Scheme);
        EXPECT_EQ(Manager.Switches.size(), c.SwitchCount) << int(c.Scheme);
    }
}

TEST_F(StylesTest, ColoursFollowTheActiveStyle)
{
    const TColor def = RGBColor(1, 2, 3);
    EXPECT_EQ(StyledColor(TStyleColor::scPanel, def), def);
    EXPECT_EQ(StyledFontColor(TStyleFont::sfComboBoxItemSelected, def), def);
    EXPECT_EQ(StyledSystemColor(clBtnFace), clBtnFace);

    SetDarkStyleName(kDarkStyleName);
    ApplyDarkMode(true);
    EXPECT_EQ(StyledColor(TStyleColor::scPanel, def), PaletteColor("All", "Window"));
    EXPECT_EQ(StyledColor(TStyleColor::scComboBox, def), PaletteColor("All", "Base"));
    EXPECT_EQ(StyledColor(TStyleColor::scComboBoxDisabled, def), PaletteColor("Disabled", "Base"));
    EXPECT_EQ(StyledFontColor(TStyleFont::sfComboBoxItemDisabled, def), PaletteColor("Disabled", "Text"));
    EXPECT_EQ(StyledFontColor(TStyleFont::sfComboBoxItemSelected, def), PaletteColor("All", "HighlightedText"));
    EXPECT_EQ(StyledSystemColor(clBtnFace), PaletteColor("All", "Button"));
    EXPECT_EQ(StyledSystemColor(clGrayText), PaletteColor("Disabled", "Text"));
    // Plain colours are not the style's to change.
    EXPECT_EQ(StyledSystemColor(def), def);
    // A dark style paints text far from its backgrounds.
    EXPECT_GT(ColorDistance(StyledColor(TStyleColor::scEdit, def),
                            StyledFontColor(TStyleFont::sfEditBoxTextNormal, def)), 128);
}

TEST(StylesHeadlessTest, WithoutAManagerNothingSwitches)
{
    InstallStyleManager(nullptr);
    SetDarkStyleName(kDarkStyleName);
    ApplyDarkMode(true);
    EXPECT_EQ(ActiveStyleName(), kSystemStyleName);
    EXPECT_FALSE(IsVclStyleActive());
    EXPECT_EQ(StyledColor(TStyleColor::scPanel, RGBColor(9, 9, 9)), RGBColor(9, 9, 9));
}

TEST(DarkPaletteTest, OneColourPerRoleAndGroupAllFirst)
{
    std::set<std::string> seen;
    bool disabledSeen = false;
    for (const TPaletteColor &c : DarkPalette()) {
        const std::string group = c.Group;
        ASSERT_TRUE(group == "All" || group == "Disabled") << group;
        EXPECT_FALSE(disabledSeen && group == "All") << c.Role;
        disabledSeen = disabledSeen || group == "Disabled";
        EXPECT_TRUE(seen.insert(group + "/" + c.Role).second) << c.Role;
        EXPECT_EQ(uint32_t(c.Color) >> 24, 0u) << c.Role;
    }
}

TEST(PortalColorSchemeTest, ValueTable)
{
    using C = TColorScheme;
    const auto wrap = [](const QVariant &v) { return QVariant::fromValue(QDBusVariant(v)); };
    struct TCase {
        QVariant Value;
        TColorScheme Expected;
    };
    const TCase cases[] = {
        {QVariant(uint(0)), C::csNoPreference},
        {QVariant(uint(1)), C::csPreferDark},
        {QVariant(uint(2)), C::csPreferLight},
        {QVariant(uint(3)), C::csNoPreference},
        {wrap(QVariant(uint(1))), C::csPreferDark},
        {wrap(wrap(QVariant(uint(2)))), C::csPreferLight},
        {QVariant(int(1)), C::csPreferDark},
        {QVariant(QStringLiteral("1")), C::csNoPreference},
        {QVariant(true), C::csNoPreference},
        {QVariant(), C::csNoPreference},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(ColorSchemeFromPortalValue(c.Value), c.Expected) << c.Value.typeName();
}

TEST(PortalColorSchemeTest, NoBusMeansNoPreference)
{
    TScopedEnv env{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velkor-bus"}};
    EXPECT_EQ(ReadPortalColorScheme(), TColorScheme::csNoPreference);
    EXPECT_FALSE(SystemUsesDarkTheme());
}

namespace {

// A settings portal on a private bus. Modes: "new" answers ReadOne,
// "old" knows only Read (a variant in a variant), "missing" has no such
// setting.
const char kFakePortal[] = R"(
import sys, dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib
mode, value = sys.argv[1], int(sys.argv[2])
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(sys.argv[3])
IFACE = 'org.freedesktop.portal.Settings'
class NotFound(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.portal.Error.NotFound'
class Old(dbus.service.Object):
    @dbus.service.method(IFACE, in_signature='ss', out_signature='v')
    def Read(self, ns, key):
        if mode == 'missing' or (ns, key) != ('org.freedesktop.appearance', 'color-scheme'):
            raise NotFound('no such setting')
        return dbus.UInt32(value, variant_level=1)
class New(Old):
    @dbus.service.method(IFACE, in_signature='ss', out_signature='v')
    def ReadOne(self, ns, key):
        if mode == 'missing' or (ns, key) != ('org.freedesktop.appearance', 'color-scheme'):
            raise NotFound('no such setting')
        return dbus.UInt32(value)
name = dbus.service.BusName('org.freedesktop.portal.Desktop', bus)
(Old if mode == 'old' else New)(bus, '/org/freedesktop/portal/desktop')
print('ready', flush=True)
GLib.MainLoop().run()
)";

class TPrivateBus {
public:
    QString Address;
    QProcess Daemon;
    QProcess Portal;

    TPrivateBus()
    {
        Daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (Daemon.waitForReadyRead(5000))
            Address = QString::fromUtf8(Daemon.readLine()).trimmed();
    }
    bool StartPortal(const QString &Mode, int Value)
    {
        const QString script = vl::test::MakeTempDir() + QStringLiteral("/portal.py");
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly) || f.write(kFakePortal) < 0)
            return false;
        f.close();
        Portal.start(QStringLiteral("/usr/bin/python3"), {script, Mode, QString::number(Value), Address});
        return Portal.waitForReadyRead(10000) && Portal.readLine().startsWith("ready");
    }
    ~TPrivateBus()
    {
        for (QProcess *p : {&Portal, &Daemon}) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
};

} // namespace

TEST(PortalColorSchemeTest, ReadsThePortalOnTheBus)
{
    struct TCase {
        const char *Mode;
        int Value;
        TColorScheme Expected;
    };
    const TCase cases[] = {
        {"new", 1, TColorScheme::csPreferDark},
        {"new", 2, TColorScheme::csPreferLight},
        {"old", 1, TColorScheme::csPreferDark},
        {"missing", 1, TColorScheme::csNoPreference},
        {"none", 1, TColorScheme::csNoPreference},
    };
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    int n = 0;
    for (const TCase &c : cases) {
        TPrivateBus bus;
        ASSERT_FALSE(bus.Address.isEmpty());
        if (QByteArray(c.Mode) != "none") {
            ASSERT_TRUE(bus.StartPortal(QLatin1String(c.Mode), c.Value)) << c.Mode;
        }
        const QString name = QStringLiteral("vl-styles-test-%1").arg(++n);
        {
            QDBusConnection conn = QDBusConnection::connectToBus(bus.Address, name);
            ASSERT_TRUE(conn.isConnected());
            EXPECT_EQ(ReadPortalColorScheme(conn), c.Expected) << c.Mode << " " << c.Value;
        }
        QDBusConnection::disconnectFromBus(name);
    }
}
