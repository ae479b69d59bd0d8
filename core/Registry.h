// Registry values of the suite, kept in small INI files of our own:
// per user $XDG_CONFIG_HOME/velkor-registry.ini (~/.config when the variable
// is not set), machine-wide /etc/velkor/registry.ini (the environment
// variable VELKOR_MACHINE_REGISTRY names another file, for tests).
//
// A key path such as "Software\Velkor6" is an INI section; "\" separates
// the levels of a path, and a key's subkeys are the sections whose names
// continue it with "\". Key paths and value names ignore case. The default
// value of a key (empty name) is stored under the name "@".
//
// Reads never raise: an unreadable file reads as empty. Writes go through
// a temporary file and an atomic rename; they return false when the file
// cannot be written (the machine-wide file needs root).
#pragma once

#include <QString>

namespace vl {

enum class TRegistryRoot { rrCurrentUser, rrLocalMachine };

// The file behind a root.
QString RegistryFileName(TRegistryRoot Root);

// Whether the key or one of its subkeys exists.
bool RegistryKeyExists(TRegistryRoot Root, const QString &Key);
bool RegistryValueExists(TRegistryRoot Root, const QString &Key, const QString &Name);

QString ReadRegistryString(TRegistryRoot Root, const QString &Key, const QString &Name, const QString &Default);
// Decimal or "$"/"0x" hexadecimal; Default when missing or no number.
int ReadRegistryInteger(TRegistryRoot Root, const QString &Key, const QString &Name, int Default);

// Writes the value, creating the key when needed.
bool WriteRegistryString(TRegistryRoot Root, const QString &Key, const QString &Name, const QString &Value);
bool WriteRegistryInteger(TRegistryRoot Root, const QString &Key, const QString &Name, int Value);

// Removes a value; true when it is gone (also when it never existed).
bool DeleteRegistryValue(TRegistryRoot Root, const QString &Key, const QString &Name);
// Removes a key with all its values and subkeys; true when it is gone.
bool DeleteRegistryKey(TRegistryRoot Root, const QString &Key);

} // namespace vl
