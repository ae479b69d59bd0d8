// Language selection: which language a program shows (command line,
// configuration file, or the session's language), the stored choice,
// switching at run time, and the list of installed languages as radio
// items of a menu.
//
// Texts are English source texts looked up with GNU gettext (core/Translate.h)
// in catalogues beside the program: ProgramPath + "locale/<code>/LC_MESSAGES/
// <domain>.mo", domain "default" for the program's own texts and "dialogs"
// for the common dialogs. A language is put into effect through the
// environment variable LANGUAGE, and gettext's caches are invalidated so
// the next lookup already uses it. When the message locale is "C" (cron,
// `env -i`), gettext would ignore LANGUAGE; the message category then
// falls back to "C.UTF-8", so a chosen language applies there too.
//
// Configuration file: an INI file, by default ProgramName + ".cfg" in the
// settings folder (Velkor passes "Velkor.cfg"); [Language] LangID holds the
// chosen two-letter code, empty or missing for the session's language.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace vl {

// A language code of at most 2 characters (ISO 639-1, such as "de"); empty
// means the session's language.
using TLangCodeString = QString;

// The program's own text domain and the file name of the configuration
// file's language section.
inline constexpr const char *kDefaultDomain = "default";
inline constexpr const char *kLanguageSection = "Language";
inline constexpr const char *kLanguageIdent = "LangID";
// The language list file Velkor passes to TLanguageList.
inline constexpr const char *kLanguageListFile = "Language.cfg";

// ---- Module state ----------------------------------------------------------

// Full name of the configuration file.
QString ConfigFileName();
// The language in use.
TLangCodeString CurrentLangCode();
// True when no "/lang:" option was given, so a choice is stored.
bool SaveLanguageChoice();

// ---- Operations ------------------------------------------------------------

// At program start, before any window: sets the configuration file
// (CfgName, or ProgramName + ".cfg" when empty) in the settings folder Path
// (a relative Path lies below AppDataDirectory, or is the program folder
// when there is none, and becomes SettingsSubPath), adds Domains (each
// once) to the domains bound to the catalogues, where Tr also looks for
// texts, binds them all below ProgramPath + "locale/", and puts
// SelectLanguage into effect. Args are the command-line arguments without
// the program name; the first form takes those of the running process.
void InitLanguage(const QString &Path, const QString &CfgName, const QStringList &Domains);
void InitLanguage(const QString &Path, const QString &CfgName, const QStringList &Domains,
                  const QStringList &Args);

// The code to use: "/lang:xx" on the command line, else [Language] LangID
// of the configuration file, else SystemLanguageCode. Also adjusts
// ConfigFileName to "/ini:" and "/portable" and sets CurrentLangCode and
// SaveLanguageChoice.
//
// Arguments are the tokens that start with "/" or "-" (a token starting
// with "/" that ends in a task-file extension or names an existing file or
// folder is a path, not an option); without that character:
// - "key:value" with key a leading part of "lang" (ignoring case): the
//   code is the first two characters of value;
// - "key:value" with key a leading part of "ini": the INI argument is
//   value with every "%NAME%" replaced by the environment variable NAME
//   (empty when not set; a "%" without a closing "%" ends the replacement);
// - a leading part of "portable" (the empty argument included): portable
//   mode, and the program folder is the INI argument unless one was given.
// With an INI argument ending in "/", ConfigFileName moves into that
// folder. Otherwise it names the program INI: the configuration file is
// its name with extension ".cfg" in portable mode, else the configured
// name; its folder is that of an absolute argument; in portable mode the
// program folder for a bare name, else the argument's folder below the
// program folder; otherwise the configuration file's folder for a bare
// name, else the argument's folder below the current folder.
TLangCodeString SelectLanguage();
TLangCodeString SelectLanguage(const QStringList &Args);

// The session's language: the language part of the first of LC_ALL,
// LC_MESSAGES and LANG that is set, when it is one the program knows
// (Norwegian "nb" and "nn" count as "no"); "en" for every other language,
// Hebrew included, and for the "C" and "POSIX" locales.
TLangCodeString SystemLanguageCode();

// Sets CurrentLangCode; when SaveLanguageChoice is set, writes [Language]
// LangID = Code (empty for the session's language) at once. False when
// that write failed (the language is still set).
bool SaveLanguage(const TLangCodeString &Code);

// Puts Code into effect for every later lookup (empty: the session's
// language).
void UseLanguage(const TLangCodeString &Code);

// SaveLanguage, UseLanguage, then the retranslation handler, which the GUI
// installs to retranslate every open window.
void ChangeLanguage(const TLangCodeString &Code);
void SetRetranslateHandler(std::function<void()> Handler);

// Binds the program's domains ("default", "dialogs" and those added by
// InitLanguage) to the catalogues below LocaleDir (which holds
// "<code>/LC_MESSAGES/<domain>.mo") as UTF-8, and makes "default" the
// domain of Tr, with the added domains searched after it. InitLanguage calls it with ProgramPath + "locale/".
void BindTextDomains(const QString &LocaleDir);

// ---- The language menu -----------------------------------------------------

// The menu that carries the language items, implemented by the view over
// its real menu. Items are addressed by position.
class ILanguageMenu {
public:
    virtual ~ILanguageMenu() = default;
    virtual int ItemCount() const = 0;
    virtual void DeleteItem(int Index) = 0;
    virtual void AddSeparator() = 0;
    // Appends a radio item of group GroupIndex; checking one item of a group
    // clears the others. A click calls OnClick.
    virtual void AddRadioItem(const QString &Caption, int GroupIndex, int Tag, bool Checked,
                              std::function<void()> OnClick) = 0;
    virtual void SetItemChecked(int Index, bool Checked) = 0;
};

// Called with the menu and the code of the language item clicked.
using TLanguageMenuEvent = std::function<void(ILanguageMenu *Sender, const TLangCodeString &LangCode)>;

// The installed languages: one item per language with its display name and
// code, read from a list file (Velkor: "Language.cfg" in the program
// folder). The file's text is UTF-8 or UTF-16 when a byte-order mark says
// so, else UTF-8 when valid, else Windows-1252. One language per line:
// code "=" display name, optionally followed by "#" and a comment; empty
// lines and lines starting with "#" are skipped, codes are cut to 2
// characters, lines without code or name are skipped. A translated list of
// the same form may lie in APath + "locale/<code>/LC_MESSAGES/" under the
// list's file name.
class TLanguageList {
public:
    // The radio group of the language items.
    static constexpr int kMenuGroup = 123;

    TLanguageList(const QString &APath, const QString &Filename);
    // Takes the language items out of the menu: the menu must outlive the
    // list or be unset first.
    virtual ~TLanguageList();
    TLanguageList(const TLanguageList &) = delete;
    TLanguageList &operator=(const TLanguageList &) = delete;

    int Count() const { return int(FItems.size()); }
    QString Name(int Index) const { return FItems.at(Index).Name; }
    // The code of item Index (empty for "&System default").
    TLangCodeString GetLangCode(int Index) const { return FItems.at(Index).Code; }

    // Reads the list again with the names of the translated list of LangCode
    // where it has them, and selects LangCode. False (and nothing changes)
    // for an empty LangCode; else whether the translated list exists.
    bool LoadLanguageNames(const TLangCodeString &LangCode);

    // The selected code and its display name.
    TLangCodeString LanguageCode() const { return FLangCode; }
    QString CurrentLanguage() const { return FCurrentLanguage; }
    // Selects the first item with that code: its menu item is checked; no
    // change when no item has it.
    void SetSelectedLanguageCode(const TLangCodeString &Code);

    ILanguageMenu *Menu() const { return FMenu; }
    // Moves the language items to Value (nullptr: none): after its own
    // items a separator (when it has any) and one radio item per language
    // in list order, Tag = index + 1, the selected one checked.
    void SetMenu(ILanguageMenu *Value);

    void SetOnLanguageItemClick(TLanguageMenuEvent Handler) { FOnLangItemClick = std::move(Handler); }

protected:
    // A click on the language item at MenuIndex with Tag: when a handler
    // is set, the item gets the check mark and, for Tag > 0, the handler
    // is called with the menu and the code of item Tag - 1.
    virtual void LanguageItemClick(int MenuIndex, int Tag);

private:
    struct TItem {
        QString Name;
        TLangCodeString Code;
    };

    void ReadList();
    void Sort();
    // The menu position of the item with list index Index.
    int MenuIndexOf(int Index) const;

    QList<TItem> FItems;
    ILanguageMenu *FMenu = nullptr;
    int MenuSizeBefore = 0;
    TLangCodeString FLangCode;
    TLanguageMenuEvent FOnLangItemClick;
    QString FCurrentLanguage;
    QString FPath;
    QString FName;
};

} // namespace vl
