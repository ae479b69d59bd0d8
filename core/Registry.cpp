#include "core/Registry.h"

#include "core/Exceptions.h"
#include "core/IniFile.h"
#include "core/PathUtils.h"
#include "platform/FileSystem.h"

#include <QDir>

namespace vl {

namespace {

const QChar kKeySep = QLatin1Char('\\');

QString Section(const QString &Key)
{
    QString k = Key;
    while (k.startsWith(kKeySep))
        k.remove(0, 1);
    while (k.endsWith(kKeySep))
        k.chop(1);
    return k;
}

QString ValueName(const QString &Name)
{
    return Name.isEmpty() ? QStringLiteral("@") : Name;
}

TMemIniFile Load(TRegistryRoot Root)
{
    try {
        return TMemIniFile(RegistryFileName(Root));
    } catch (const Exception &) {
        TMemIniFile empty;
        return empty;
    }
}

bool Save(TRegistryRoot Root, TMemIniFile &Ini)
{
    const QString name = RegistryFileName(Root);
    if (Ini.FileName() != name)
        return false; // the file existed but could not be read: never overwrite it
    if (MakeDirs(ParentDirectory(name)) != 0)
        return false;
    try {
        Ini.UpdateFile();
        return true;
    } catch (const Exception &) {
        return false;
    }
}

bool IsKeyOrSubkey(const QString &Section, const QString &Key)
{
    return Section.compare(Key, Qt::CaseInsensitive) == 0
           || Section.startsWith(Key + kKeySep, Qt::CaseInsensitive);
}

} // namespace

QString RegistryFileName(TRegistryRoot Root)
{
    if (Root == TRegistryRoot::rrLocalMachine) {
        const QString over = qEnvironmentVariable("VELKOR_MACHINE_REGISTRY");
        return over.isEmpty() ? QStringLiteral("/etc/velkor/registry.ini") : over;
    }
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(QLatin1Char('/')))
        config = QDir::homePath() + QStringLiteral("/.config");
    return JoinPath(config, QStringLiteral("velkor-registry.ini"));
}

bool RegistryKeyExists(TRegistryRoot Root, const QString &Key)
{
    const QString key = Section(Key);
    if (key.isEmpty())
        return false;
    const QStringList sections = Load(Root).ReadSections();
    for (const QString &s : sections)
        if (IsKeyOrSubkey(s, key))
            return true;
    return false;
}

bool RegistryValueExists(TRegistryRoot Root, const QString &Key, const QString &Name)
{
    return Load(Root).ValueExists(Section(Key), ValueName(Name));
}

QString ReadRegistryString(TRegistryRoot Root, const QString &Key, const QString &Name, const QString &Default)
{
    return Load(Root).ReadString(Section(Key), ValueName(Name), Default);
}

int ReadRegistryInteger(TRegistryRoot Root, const QString &Key, const QString &Name, int Default)
{
    return Load(Root).ReadInteger(Section(Key), ValueName(Name), Default);
}

bool WriteRegistryString(TRegistryRoot Root, const QString &Key, const QString &Name, const QString &Value)
{
    const QString key = Section(Key);
    if (key.isEmpty())
        return false;
    TMemIniFile ini = Load(Root);
    ini.WriteString(key, ValueName(Name), Value);
    return Save(Root, ini);
}

bool WriteRegistryInteger(TRegistryRoot Root, const QString &Key, const QString &Name, int Value)
{
    return WriteRegistryString(Root, Key, Name, QString::number(Value));
}

bool DeleteRegistryValue(TRegistryRoot Root, const QString &Key, const QString &Name)
{
    TMemIniFile ini = Load(Root);
    const QString key = Section(Key);
    if (!ini.ValueExists(key, ValueName(Name)))
        return true;
    ini.DeleteKey(key, ValueName(Name));
    return Save(Root, ini);
}

bool DeleteRegistryKey(TRegistryRoot Root, const QString &Key)
{
    const QString key = Section(Key);
    if (key.isEmpty())
        return false;
    TMemIniFile ini = Load(Root);
    bool changed = false;
    const QStringList sections = ini.ReadSections();
    for (const QString &s : sections)
        if (IsKeyOrSubkey(s, key)) {
            ini.EraseSection(s);
            changed = true;
        }
    return !changed || Save(Root, ini);
}

} // namespace vl
