#include "core/Language.h"

#include "core/CommandLine.h"
#include "core/Exceptions.h"
#include "core/IniFile.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"
#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <libintl.h>

#include <algorithm>
#include <clocale>
#include <cstring>

// gettext's catalogue generation counter: raising it makes every cached
// translation stale, so a new LANGUAGE takes effect at the next lookup.
extern "C" int _nl_msg_cat_cntr;

namespace vl {

namespace {

QString gConfigFileName;
TLangCodeString gCurrentLangCode;
bool gSaveLanguageChoice = true;
// The domains bound to the catalogues besides "default" and "dialogs".
QStringList gExtraDomains;
std::function<void()> gRetranslate;

// The part of a path up to and including its last delimiter.
QString FolderPart(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FileNamePart(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Replaces every "%NAME%" by the variable's value (empty when not set); a
// "%" without a closing "%" ends the replacement, keeping the rest as is.
QString ExpandIniArgument(const QString &s)
{
    QString result;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = s.indexOf(QLatin1Char('%'), pos);
        const qsizetype close = open < 0 ? -1 : s.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0)
            return result + s.mid(pos);
        result += s.mid(pos, open - pos);
        result += qEnvironmentVariable(s.mid(open + 1, close - open - 1).toLocal8Bit().constData());
        pos = close + 1;
    }
}

// Moves gConfigFileName as "/ini:" (iniArg) and "/portable" say.
void ApplyIniArgument(const QString &iniArg, bool portable)
{
    const QString cfgName = FileNamePart(gConfigFileName);
    if (iniArg.endsWith(QLatin1Char('/'))) {
        gConfigFileName = iniArg + cfgName;
        return;
    }
    const bool bare = !iniArg.contains(QLatin1Char('/'));
    const QString name = portable ? ReplaceExtension(FileNamePart(iniArg), QStringLiteral("cfg")) : cfgName;
    QString folder;
    if (HasAbsolutePath(iniArg))
        folder = FolderPart(iniArg);
    else if (portable)
        folder = bare ? ProgramPath : FolderPart(ProgramPath + iniArg);
    else
        folder = bare ? FolderPart(gConfigFileName) : FolderPart(CanonicalPath(QDir::currentPath(), iniArg));
    gConfigFileName = WithTrailingDelimiter(folder) + name;
}

bool IsCLocale(const char *name)
{
    return !name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// gettext ignores LANGUAGE while the message locale is "C" (cron, env -i):
// take the session's locale, else C.UTF-8, which leaves LANGUAGE in force.
void EnsureMessageLocale()
{
    if (!IsCLocale(std::setlocale(LC_MESSAGES, nullptr)))
        return;
    if (IsCLocale(std::setlocale(LC_MESSAGES, "")))
        std::setlocale(LC_MESSAGES, "C.UTF-8");
}

QStringList ProcessArguments()
{
    const QStringList args = QCoreApplication::arguments();
    return args.mid(1);
}

// One "code=name # comment" line; false for lines that carry no language.
bool ParseLanguageLine(QString line, QString &code, QString &name)
{
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return false;
    const qsizetype hash = line.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        line.truncate(hash);
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    code = line.left(eq).trimmed().left(2);
    name = line.mid(eq + 1).trimmed();
    return !code.isEmpty() && !name.isEmpty();
}

// The language lines of a list file; false when it cannot be read.
bool ReadLanguageFile(const QString &fileName, QList<std::pair<QString, QString>> &entries)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = DecodeText(file.readAll());
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        QString code, name;
        if (ParseLanguageLine(line, code, name))
            entries.append({code, name});
    }
    return true;
}

} // namespace

QString ConfigFileName()
{
    return gConfigFileName;
}

TLangCodeString CurrentLangCode()
{
    return gCurrentLangCode;
}

bool SaveLanguageChoice()
{
    return gSaveLanguageChoice;
}

void InitLanguage(const QString &Path, const QString &CfgName, const QStringList &Domains)
{
    InitLanguage(Path, CfgName, Domains, ProcessArguments());
}

void InitLanguage(const QString &Path, const QString &CfgName, const QStringList &Domains,
                  const QStringList &Args)
{
    const QString cfgName = CfgName.isEmpty() ? ProgramName + QStringLiteral(".cfg") : CfgName;
    QString folder = Path;
    if (!HasAbsolutePath(Path)) {
        // Without an application-data folder the settings live in the
        // program folder, never below the current folder.
        folder = UserSettingsDirectory(Path, false);
        SettingsSubPath = Path;
    }
    gConfigFileName = WithTrailingDelimiter(folder) + cfgName;
    for (const QString &domain : Domains)
        if (!domain.isEmpty() && !gExtraDomains.contains(domain))
            gExtraDomains.append(domain);
    BindTextDomains(ProgramPath + QStringLiteral("locale/"));
    UseLanguage(SelectLanguage(Args));
}

TLangCodeString SelectLanguage()
{
    return SelectLanguage(ProcessArguments());
}

TLangCodeString SelectLanguage(const QStringList &Args)
{
    TLangCodeString code;
    QString iniArg;
    bool portable = false;
    for (const QString &token : Args) {
        if (token.isEmpty() || !IsSwitchArgument(token))
            continue;
        const QString arg = token.mid(1);
        QString value = arg;
        if (IsOptionWithValue(value, QStringLiteral("lang"))) {
            code = value.left(2);
            continue;
        }
        value = arg;
        if (IsOptionWithValue(value, QStringLiteral("ini"))) {
            iniArg = ExpandIniArgument(value);
        } else if (IsOptionAbbrev(arg, QStringLiteral("portable"))) {
            portable = true;
            if (iniArg.isEmpty())
                iniArg = ProgramPath;
        }
    }
    if (!iniArg.isEmpty())
        ApplyIniArgument(iniArg, portable);
    gSaveLanguageChoice = code.isEmpty();
    if (code.isEmpty()) {
        try {
            code = ReadIniString(gConfigFileName, QLatin1String(kLanguageSection), QLatin1String(kLanguageIdent), QString())
                       .left(2);
        } catch (const Exception &) {
            code.clear(); // an unreadable file counts as missing
        }
    }
    if (code.isEmpty())
        code = SystemLanguageCode();
    gCurrentLangCode = code;
    return code;
}

TLangCodeString SystemLanguageCode()
{
    // The languages the program knows; any other gives "en".
    static const QStringList known = QStringLiteral(
        "ar bg ca zh cs da de el en es fi fr hu is it ja ko nl no pl pt rm ro ru hr sk sq sv th tr ur id uk be sl "
        "et lv lt fa vi hy mk st ve xh zu af ka fo hi mt se ga kk ky sw tk uz tt pa or ta sa mn bo cy lo gl ne fy "
        "ps yo lb om so ii ug mi co wo gd ku").split(QLatin1Char(' '));
    QString locale;
    for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(var);
        if (!locale.isEmpty())
            break;
    }
    // "de_AT.UTF-8@euro" gives "de".
    qsizetype end = 0;
    while (end < locale.size() && !QStringLiteral("_.@").contains(locale.at(end)))
        ++end;
    QString lang = locale.left(end).toLower();
    // Languages that share one number with another.
    if (lang == QLatin1String("nb") || lang == QLatin1String("nn"))
        lang = QStringLiteral("no");
    else if (lang == QLatin1String("sr") || lang == QLatin1String("bs"))
        lang = QStringLiteral("hr");
    else if (lang == QLatin1String("in"))
        lang = QStringLiteral("id");
    return known.contains(lang) ? lang : QStringLiteral("en");
}

bool SaveLanguage(const TLangCodeString &Code)
{
    gCurrentLangCode = Code;
    if (!gSaveLanguageChoice)
        return true;
    try {
        WriteIniString(gConfigFileName, QLatin1String(kLanguageSection), QLatin1String(kLanguageIdent), Code);
    } catch (const Exception &) {
        return false;
    }
    return true;
}

void UseLanguage(const TLangCodeString &Code)
{
    const QString effective = Code.isEmpty() ? SystemLanguageCode() : Code;
    qputenv("LANGUAGE", effective.toUtf8());
    EnsureMessageLocale();
    ++_nl_msg_cat_cntr;
}

void ChangeLanguage(const TLangCodeString &Code)
{
    SaveLanguage(Code);
    UseLanguage(Code);
    if (gRetranslate)
        gRetranslate();
}

void SetRetranslateHandler(std::function<void()> Handler)
{
    gRetranslate = std::move(Handler);
}

void BindTextDomains(const QString &LocaleDir)
{
    const QByteArray dir = EncodeFileName(LocaleDir);
    QStringList domains{QLatin1String(kDefaultDomain), QLatin1String(kDialogsDomain)};
    domains += gExtraDomains;
    for (const QString &domain : domains) {
        const QByteArray name = domain.toUtf8();
        bindtextdomain(name.constData(), dir.constData());
        // Tr decodes UTF-8, whatever the locale's character set.
        bind_textdomain_codeset(name.constData(), "UTF-8");
    }
    textdomain(kDefaultDomain);
    SetFallbackDomains(gExtraDomains);
    ++_nl_msg_cat_cntr;
}

// ---- TLanguageList ---------------------------------------------------------

TLanguageList::TLanguageList(const QString &APath, const QString &Filename)
    : FPath(WithTrailingDelimiter(APath)), FName(Filename)
{
    ReadList();
    Sort();
}

TLanguageList::~TLanguageList()
{
    SetMenu(nullptr);
}

void TLanguageList::ReadList()
{
    QList<std::pair<QString, QString>> entries;
    if (!ReadLanguageFile(FPath + FName, entries))
        return; // no list: left as it was
    FItems.clear();
    FItems.append({Tr("&System default"), QString()});
    for (const auto &[code, name] : entries)
        FItems.append({name, code});
}

void TLanguageList::Sort()
{
    std::stable_sort(FItems.begin(), FItems.end(), [](const TItem &a, const TItem &b) {
        return QString::compare(a.Name, b.Name, Qt::CaseInsensitive) < 0;
    });
    if (FMenu)
        SetMenu(FMenu);
}

bool TLanguageList::LoadLanguageNames(const TLangCodeString &LangCode)
{
    if (LangCode.isEmpty())
        return false;
    ReadList();
    QList<std::pair<QString, QString>> translated;
    const bool found = ReadLanguageFile(
        FPath + QStringLiteral("locale/") + LangCode + QStringLiteral("/LC_MESSAGES/") + FName, translated);
    for (const auto &[code, name] : translated)
        for (TItem &item : FItems)
            if (item.Code == code)
                item.Name = name;
    Sort();
    SetSelectedLanguageCode(LangCode);
    return found;
}

void TLanguageList::SetSelectedLanguageCode(const TLangCodeString &Code)
{
    for (int i = 0; i < Count(); ++i) {
        if (FItems.at(i).Code != Code)
            continue;
        if (FMenu)
            FMenu->SetItemChecked(MenuIndexOf(i), true);
        FLangCode = Code;
        FCurrentLanguage = FItems.at(i).Name;
        return;
    }
}

int TLanguageList::MenuIndexOf(int Index) const
{
    return MenuSizeBefore + (MenuSizeBefore > 0 ? 1 : 0) + Index;
}

void TLanguageList::SetMenu(ILanguageMenu *Value)
{
    if (FMenu)
        for (int i = FMenu->ItemCount() - 1; i >= MenuSizeBefore; --i)
            FMenu->DeleteItem(i);
    FMenu = Value;
    if (!FMenu)
        return;
    MenuSizeBefore = FMenu->ItemCount();
    if (MenuSizeBefore > 0)
        FMenu->AddSeparator();
    for (int i = 0; i < Count(); ++i) {
        const int menuIndex = MenuIndexOf(i);
        const int tag = i + 1;
        FMenu->AddRadioItem(FItems.at(i).Name, kMenuGroup, tag, FItems.at(i).Code == FLangCode,
                            [this, menuIndex, tag] { LanguageItemClick(menuIndex, tag); });
    }
}

void TLanguageList::LanguageItemClick(int MenuIndex, int Tag)
{
    if (!FOnLangItemClick)
        return;
    if (FMenu)
        FMenu->SetItemChecked(MenuIndex, true);
    if (Tag > 0 && Tag <= Count())
        FOnLangItemClick(FMenu, GetLangCode(Tag - 1));
}

} // namespace vl
