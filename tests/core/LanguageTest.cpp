#include "core/Language.h"

#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "core/ProgramEnv.h"
#include "core/Translate.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <clocale>

namespace vl {
namespace {

using test::MakeTempDir;
using test::WriteBytes;

constexpr const char *kChildDirVar = "VELKOR_LANGUAGE_CHILD_DIR";
const char *const kText = "Language test text";
const char *const kDialogText = "Dialog test text";
const char *const kUnitText = "Unit test text";

// A small catalogue set made with msgfmt: German and French for the
// program's domain, German for the dialogs and for an added domain.
QString MakeCatalogues()
{
    const QString dir = MakeTempDir(QStringLiteral("lang"));
    const auto compile = [&](const QString &code, const QString &domain, const QList<std::pair<const char *, QString>> &entries) {
        QByteArray po = "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
        for (const auto &[id, str] : entries)
            po += "\nmsgid \"" + QByteArray(id) + "\"\nmsgstr \"" + str.toUtf8() + "\"\n";
        const QString out = dir + QStringLiteral("/locale/") + code + QStringLiteral("/LC_MESSAGES/");
        QDir().mkpath(out);
        const QString poFile = dir + QLatin1Char('/') + code + domain + QStringLiteral(".po");
        WriteBytes(poFile, po);
        EXPECT_EQ(QProcess::execute(QStringLiteral("msgfmt"), {QStringLiteral("-o"), out + domain + QStringLiteral(".mo"), poFile}), 0);
    };
    compile(QStringLiteral("de"), QStringLiteral("default"),
            {{kText, QStringLiteral("Sprachtest für Größen")}, {"&System default", QStringLiteral("&Systemstandard")}});
    compile(QStringLiteral("fr"), QStringLiteral("default"), {{kText, QStringLiteral("Test de langue")}});
    compile(QStringLiteral("de"), QStringLiteral("dialogs"), {{kDialogText, QStringLiteral("Dialogtest")}});
    compile(QStringLiteral("de"), QStringLiteral("units"),
            {{kUnitText, QStringLiteral("Einheitentest")}, {kText, QStringLiteral("Zweitrangig")}});
    return dir;
}

class LanguageTest : public testing::Test {
protected:
    void SetUp() override
    {
        FEnv.Set("LC_ALL", nullptr);
        FEnv.Set("LC_MESSAGES", nullptr);
        FEnv.Set("LANG", nullptr);
        FEnv.Set("LANGUAGE", nullptr);
    }
    // Later tests of this process see the English source texts again.
    void TearDown() override
    {
        SetRetranslateHandler(nullptr);
        UseLanguage(QStringLiteral("en"));
    }

    test::TScopedEnv FEnv;
};

TEST_F(LanguageTest, SwitchingTakesEffectAtOnce)
{
    const QString dir = MakeCatalogues();
    InitLanguage(dir + QLatin1Char('/'), QStringLiteral("Velkor.cfg"), {}, {});
    BindTextDomains(dir + QStringLiteral("/locale/"));
    int retranslated = 0;
    SetRetranslateHandler([&] { ++retranslated; });

    ChangeLanguage(QStringLiteral("de"));
    EXPECT_EQ(Tr(kText), QStringLiteral("Sprachtest für Größen"));
    EXPECT_EQ(TrDomain(kDialogsDomain, kDialogText), QStringLiteral("Dialogtest"));
    ChangeLanguage(QStringLiteral("fr"));
    EXPECT_EQ(Tr(kText), QStringLiteral("Test de langue"));
    EXPECT_EQ(TrDomain(kDialogsDomain, kDialogText), QLatin1String(kDialogText)) << "no French dialogs catalogue";
    EXPECT_EQ(ReadIniString(ConfigFileName(), QStringLiteral("Language"), QStringLiteral("LangID"), QString()),
              QStringLiteral("fr"));
    ChangeLanguage(QStringLiteral("en"));
    EXPECT_EQ(Tr(kText), QLatin1String(kText));
    EXPECT_EQ(retranslated, 3);

    // The session's language; the choice is stored as empty.
    FEnv.Set("LANG", "de_DE.UTF-8");
    ChangeLanguage(QString());
    EXPECT_EQ(Tr(kText), QStringLiteral("Sprachtest für Größen"));
    EXPECT_EQ(CurrentLangCode(), QString());
    TMemIniFile cfg(ConfigFileName());
    EXPECT_TRUE(cfg.ValueExists(QStringLiteral("Language"), QStringLiteral("LangID")));
    EXPECT_EQ(cfg.ReadString(QStringLiteral("Language"), QStringLiteral("LangID"), QStringLiteral("?")), QString());
}

TEST_F(LanguageTest, AddedDomainsServeTextsTheDefaultDomainLacks)
{
    const QString dir = MakeCatalogues();
    InitLanguage(dir + QLatin1Char('/'), QStringLiteral("Velkor.cfg"), {QStringLiteral("units")}, {QStringLiteral("/lang:de")});
    BindTextDomains(dir + QStringLiteral("/locale/"));
    EXPECT_EQ(Tr(kUnitText), QStringLiteral("Einheitentest"));
    EXPECT_EQ(Tr(kText), QStringLiteral("Sprachtest für Größen")) << "the default domain comes first";
    EXPECT_EQ(Tr(""), QString()) << "an empty text, not the catalogue's header";
}

TEST_F(LanguageTest, SystemLanguageFromLocaleVariables)
{
    struct TCase {
        const char *LcAll, *LcMessages, *Lang, *Expected;
    };
    const TCase cases[] = {
        {"de_AT.UTF-8@euro", "fr_FR.UTF-8", "it_IT.UTF-8", "de"},
        {nullptr, "fr_FR.UTF-8", "it_IT.UTF-8", "fr"},
        {nullptr, nullptr, "pt_BR", "pt"},
        {nullptr, nullptr, "he_IL.UTF-8", "en"}, // no Hebrew texts
        {nullptr, nullptr, "nb_NO.UTF-8", "no"},
        {"C", nullptr, "de_DE.UTF-8", "en"},
        {nullptr, nullptr, nullptr, "en"},
    };
    for (const TCase &c : cases) {
        FEnv.Set("LC_ALL", c.LcAll);
        FEnv.Set("LC_MESSAGES", c.LcMessages);
        FEnv.Set("LANG", c.Lang);
        EXPECT_EQ(SystemLanguageCode(), QLatin1String(c.Expected)) << c.LcAll << " " << c.LcMessages << " " << c.Lang;
    }
}

TEST_F(LanguageTest, ConfigFileFromCommandLine)
{
    const QString base = MakeTempDir(QStringLiteral("cfg")) + QLatin1Char('/');
    const QString cwd = QDir::currentPath() + QLatin1Char('/');
    FEnv.Set("VL_TEST_SETTINGS", base.toUtf8().constData());
    struct TCase {
        QString Path;
        QStringList Args;
        QString Expected;
    };
    const TCase cases[] = {
        {base, {}, base + QStringLiteral("Velkor.cfg")},
        {QStringLiteral("Velkor6/"), {}, AppDataDirectory() + QStringLiteral("/Velkor6/Velkor.cfg")},
        {base, {QStringLiteral("/portable")}, ProgramPath + QStringLiteral("Velkor.cfg")},
        {base, {QStringLiteral("-p")}, ProgramPath + QStringLiteral("Velkor.cfg")},
        {base, {QStringLiteral("/portable"), QStringLiteral("/ini:cfg/my.ini")}, ProgramPath + QStringLiteral("cfg/my.cfg")},
        {base, {QStringLiteral("/portable"), QStringLiteral("/ini:my.ini")}, ProgramPath + QStringLiteral("my.cfg")},
        {base, {QStringLiteral("/ini:/set/my.ini")}, QStringLiteral("/set/Velkor.cfg")},
        {base, {QStringLiteral("/INI:/set/dir/")}, QStringLiteral("/set/dir/Velkor.cfg")},
        {base, {QStringLiteral("/ini:my.ini")}, base + QStringLiteral("Velkor.cfg")},
        {base, {QStringLiteral("/ini:sub/../cfg/my.ini")}, cwd + QStringLiteral("cfg/Velkor.cfg")},
        {base, {QStringLiteral("/ini:%VL_TEST_SETTINGS%%VL_TEST_UNSET%x/my.ini")}, base + QStringLiteral("x/Velkor.cfg")},
        // A path argument is no option, even one that starts with "/".
        {base, {QStringLiteral("/tasks/p.buj")}, base + QStringLiteral("Velkor.cfg")},
    };
    for (const TCase &c : cases) {
        InitLanguage(c.Path, QStringLiteral("Velkor.cfg"), {}, c.Args);
        EXPECT_EQ(ConfigFileName(), c.Expected) << c.Args.join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_EQ(SettingsSubPath, QStringLiteral("Velkor6/"));

    // A stored choice is used and replaced by a later one.
    FEnv.Set("LANG", "fr_FR.UTF-8");
    WriteIniString(base + QStringLiteral("Velkor.cfg"), QStringLiteral("Language"), QStringLiteral("LangID"), QStringLiteral("itx"));
    InitLanguage(base, QStringLiteral("Velkor.cfg"), {}, {});
    EXPECT_EQ(CurrentLangCode(), QStringLiteral("it"));
    EXPECT_TRUE(SaveLanguageChoice());

    // "/lang:" wins over it and is not stored, nor is a later choice.
    InitLanguage(base, QStringLiteral("Velkor.cfg"), {}, {QStringLiteral("/lang:es_ES")});
    EXPECT_EQ(CurrentLangCode(), QStringLiteral("es"));
    EXPECT_FALSE(SaveLanguageChoice());
    ChangeLanguage(QStringLiteral("de"));
    EXPECT_EQ(CurrentLangCode(), QStringLiteral("de"));
    EXPECT_EQ(ReadIniString(base + QStringLiteral("Velkor.cfg"), QStringLiteral("Language"), QStringLiteral("LangID"), QString()),
              QStringLiteral("itx"));

    // Without any choice: the session's language.
    InitLanguage(MakeTempDir(QStringLiteral("none")), QStringLiteral("Velkor.cfg"), {}, {});
    EXPECT_EQ(CurrentLangCode(), QStringLiteral("fr"));

    // Without an application-data folder the settings folder is the
    // program folder, never one below the current folder.
    FEnv.Set("XDG_CONFIG_HOME", nullptr);
    FEnv.Set("HOME", nullptr);
    InitLanguage(QStringLiteral("Velkor6/"), QStringLiteral("Velkor.cfg"), {}, {});
    EXPECT_EQ(ConfigFileName(), ProgramPath + QStringLiteral("Velkor.cfg"));
}

// A menu whose items are plain records.
class TFakeMenu : public ILanguageMenu {
public:
    struct TItem {
        QString Caption;
        int Group = 0;
        int Tag = 0;
        bool Checked = false;
        std::function<void()> OnClick;
    };
    QList<TItem> Items;

    int ItemCount() const override { return int(Items.size()); }
    void DeleteItem(int Index) override { Items.removeAt(Index); }
    void AddSeparator() override
    {
        TItem separator;
        separator.Caption = QStringLiteral("-");
        Items.append(separator);
    }
    void AddRadioItem(const QString &Caption, int GroupIndex, int Tag, bool Checked, std::function<void()> OnClick) override
    {
        Items.append({Caption, GroupIndex, Tag, Checked, std::move(OnClick)});
    }
    void SetItemChecked(int Index, bool Checked) override
    {
        for (TItem &item : Items)
            if (Checked && item.Group != 0 && item.Group == Items[Index].Group)
                item.Checked = false;
        Items[Index].Checked = Checked;
    }
    QStringList Captions() const
    {
        QStringList list;
        for (const TItem &item : Items)
            list << (item.Checked ? QStringLiteral("*") : QString()) + item.Caption;
        return list;
    }
};

TEST_F(LanguageTest, LanguageListAndMenu)
{
    const QString dir = MakeCatalogues();
    WriteBytes(dir + QStringLiteral("/Language.cfg"),
               "# installed languages\r\n\r\nde=German\r\n  fr = French # comment\r\npt_BR=Portugu\xC3\xAAs (Brasil) # test\r\n"
               "=No code\r\nit=\r\n#es=Spanish\r\n");
    // The translated list, in UTF-16 with its mark.
    const QString translated = QStringLiteral("de=Deutsch\nfr=Französisch\nes=Spanisch\n");
    QByteArray utf16("\xFF\xFE", 2);
    for (QChar c : translated)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    WriteBytes(dir + QStringLiteral("/locale/de/LC_MESSAGES/Language.cfg"), utf16);

    TLanguageList list(dir, QStringLiteral("Language.cfg"));
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Name(3), QStringLiteral("Português (Brasil)"));
    EXPECT_EQ(list.GetLangCode(3), QStringLiteral("pt"));

    TFakeMenu menu;
    menu.AddRadioItem(QStringLiteral("Own"), 0, 0, false, {});
    list.SetMenu(&menu);
    EXPECT_EQ(menu.Captions(), (QStringList{QStringLiteral("Own"), QStringLiteral("-"), QStringLiteral("*&System default"),
                                            QStringLiteral("French"), QStringLiteral("German"), QStringLiteral("Português (Brasil)")}));

    // Names in German (the "&System default" item from the catalogue),
    // sorted again, the menu rebuilt in place, German checked.
    BindTextDomains(dir + QStringLiteral("/locale/"));
    UseLanguage(QStringLiteral("de"));
    EXPECT_TRUE(list.LoadLanguageNames(QStringLiteral("de")));
    EXPECT_EQ(menu.Captions(), (QStringList{QStringLiteral("Own"), QStringLiteral("-"), QStringLiteral("&Systemstandard"),
                                            QStringLiteral("*Deutsch"), QStringLiteral("Französisch"),
                                            QStringLiteral("Português (Brasil)")}));
    EXPECT_EQ(list.LanguageCode(), QStringLiteral("de"));
    EXPECT_EQ(list.CurrentLanguage(), QStringLiteral("Deutsch"));
    EXPECT_FALSE(list.LoadLanguageNames(QString()));
    EXPECT_EQ(list.LanguageCode(), QStringLiteral("de"));

    // A click reports the code with the menu and moves the check mark.
    ILanguageMenu *sender = nullptr;
    QString clicked;
    list.SetOnLanguageItemClick([&](ILanguageMenu *s, const TLangCodeString &code) { sender = s, clicked = code; });
    menu.Items[4].OnClick();
    EXPECT_EQ(sender, &menu);
    EXPECT_EQ(clicked, QStringLiteral("fr"));
    EXPECT_TRUE(menu.Items[4].Checked);
    EXPECT_FALSE(menu.Items[3].Checked);

    // No translated list: English names, and the code is still selected.
    EXPECT_FALSE(list.LoadLanguageNames(QStringLiteral("fr")));
    EXPECT_EQ(list.CurrentLanguage(), QStringLiteral("French"));

    list.SetMenu(nullptr);
    EXPECT_EQ(menu.Captions(), QStringList{QStringLiteral("Own")});
}

// Under cron or `env -i` the locale is "C", where gettext would ignore the
// chosen language. A child of this test program runs with an empty
// environment and checks that a stored choice still applies.
TEST_F(LanguageTest, ChosenLanguageAppliesInEmptyEnvironment)
{
    const QString dir = MakeCatalogues();
    WriteIniString(dir + QStringLiteral("/Velkor.cfg"), QStringLiteral("Language"), QStringLiteral("LangID"), QStringLiteral("de"));
    QProcess child;
    QProcessEnvironment env; // nothing inherited
    env.insert(QLatin1String(kChildDirVar), dir);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=LanguageTest.DISABLED_ChildInEmptyEnvironment")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[       OK ] LanguageTest.DISABLED_ChildInEmptyEnvironment")))
        << output.toStdString();
}

// Runs only as the child of the test above.
TEST_F(LanguageTest, DISABLED_ChildInEmptyEnvironment)
{
    const QString dir = qEnvironmentVariable(kChildDirVar);
    if (dir.isEmpty())
        GTEST_SKIP() << "runs as the child of ChosenLanguageAppliesInEmptyEnvironment";
    ASSERT_STREQ(std::setlocale(LC_MESSAGES, nullptr), "C") << "the child should start in the C locale";
    InitLanguage(dir + QLatin1Char('/'), QStringLiteral("Velkor.cfg"), {}, {});
    BindTextDomains(dir + QStringLiteral("/locale/"));
    EXPECT_EQ(CurrentLangCode(), QStringLiteral("de"));
    EXPECT_EQ(Tr(kText), QStringLiteral("Sprachtest für Größen"));
    EXPECT_EQ(TrDomain(kDialogsDomain, kDialogText), QStringLiteral("Dialogtest"));
}

} // namespace
} // namespace vl
