// The program's environment: where it runs from, its title and version
// texts, the settings folder (with the registry value that may move it and
// the import from the previous version's folder), and the folders for
// temporary files and logs.
//
// Folders on Linux: application data is $XDG_CONFIG_HOME (~/.config), so
// the settings folder is ~/.config/Velkor6/ and that of the previous
// version ~/.config/Velkor5/; documents is the XDG documents folder;
// program files is the parent of the program folder; the program's
// temporary folder is "Vl/" below $TMPDIR (else /tmp).
//
// None of these functions raises.
#pragma once

#include "core/Settings.h"
#include "platform/System.h"

#include <QString>

namespace vl {

// Folder of the executable with trailing delimiter (from /proc/self/exe).
extern QString ProgramPath;
// File name of the executable without folder and extension.
extern QString ProgramName;
// The settings folder given to the language selection when it was
// relative; empty otherwise.
extern QString SettingsSubPath;
// Version texts of the program: InternalName is the program title, Version
// the version text, Comments the version caption.
extern TFileVersionInfo ProgramInfo;
// The running program's own version record (VL_VERSION_RECORD), set by its
// main() before anything asks for the version; null: read from the binary.
extern const char *OwnVersionRecord;

// Settings-folder names below the application-data folder.
inline constexpr const char *kSettingsSubDir = "Velkor6/";
inline constexpr const char *kPreviousSettingsSubDir = "Velkor5/";
// The per-user registry key and value that move the settings folder.
inline constexpr const char *kIniPathKey = "Software\\Velkor6";
inline constexpr const char *kIniPathValue = "IniPath";

// $XDG_CONFIG_HOME, else ~/.config; empty when there is neither (no home).
// No trailing delimiter.
QString AppDataDirectory();
// The XDG documents folder; empty without a home.
QString DocumentsDirectory();
// The parent of the program folder.
QString ProgramFilesDirectory();
// AppDataDirectory + "/" + RelPath; ProgramPath when there is no
// application-data folder, or when CreateIt is set and the folder cannot
// be created (with its parents).
QString UserSettingsDirectory(const QString &RelPath, bool CreateIt);

// "Version" + " " + Version cut to Parts dot-separated parts:
// "6.3.24" with Parts 2 gives "Version 6.3".
QString VersionCaption(const QString &Version, int Parts);
// The same without the word "Version" (log headers show the bare number).
QString VersionNumber(const QString &Version, int Parts);
QString ProgramVersionNumber(int Parts, const QString &Default);
// VersionCaption of the program's version text (Default when there is
// none).
QString ProgramVersionCaption(int Parts, const QString &Default);
// Fills ProgramInfo (the Def... texts where the program has none), sets its
// Comments to the version caption; Caption = title + " (" + caption + ")",
// BuildDate = the executable's last-write date as the locale's short date.
void ProgramCaptionWithVersion(const QString &DefTitle, const QString &DefVersion, const QString &DefNotice,
                               QString &BuildDate, QString &Caption, int Parts);

// The default settings folder (not created), the documents folder and the
// program files folder, each with trailing delimiter (an empty one stays
// empty).
void GetDefaultFolders(QString &SettingsDir, QString &DocsDir, QString &ProgFilesDir);
// The per-user registry value IniPath; Default when missing or empty.
QString ReadIniPathFromRegistry(const QString &Default);
// When FileName does not exist and BaseFolder + "Velkor5/" + its file name
// does, copies that file to FileName with attributes and time stamp;
// failures are ignored.
void ImportPreviousVersionFile(const QString &BaseFolder, const QString &FileName);
// Preferred (created when missing), Fallback when Preferred is empty or
// cannot be created.
QString ChooseFolder(const QString &Preferred, const QString &Fallback);
// The temporary folder ($TMPDIR, else /tmp) + "Vl/", created; the
// temporary folder itself when that fails.
QString GetProgramTempDir();
// The configured log folder, else SettingsFolder (each with trailing
// delimiter), else AppDataDirectory.
QString GetLogFolder();

// ---- Start-up choice of the settings folder and file -----------------------

// Whether path lies on a removable file system or on a device on the USB
// bus: the block device of its file system is looked up under
// sysfsRoot/dev/block, and counts when its device path passes through a
// USB controller or its disk has the removable flag.
bool IsOnUsbDrive(const QString &path, const QString &sysfsRoot = QStringLiteral("/sys"));

// The settings folder with trailing delimiter: the program folder when
// there is no application-data folder or ProgramOnUsb (a program carried on
// a stick keeps its settings with it); else the per-user registry value
// IniPath (IniLoc ilRegistry; a relative value lies below the
// application-data folder); else the default settings folder (ilNormal).
QString ChooseSettingsFolder(bool ProgramOnUsb, TIniLoc &IniLoc);

// The program INI. IniName is the file named on the command line
// ("/ini:", or the program folder's INI for "/portable"), with its
// placeholders expanded; empty when none was named.
// - With IniName (IniLoc becomes ilCommand): an absolute name ending in "/"
//   is a folder holding ProgramName + ".ini"; another absolute name gets
//   ".ini" unless it has an extension; a name without "/" lies in
//   SettingsFolder (".ini" added when it has no "."); a relative name with
//   folders gets ".ini" unless it has an extension and is taken from the
//   current folder.
// - Without: SettingsFolder + ProgramName + ".ini", created with its folder
//   and imported from the previous version's folder when missing; when the
//   folder cannot be created, the default settings folder's file.
// A chosen file that does not exist and whose folder cannot be created
// falls back to SettingsFolder + ProgramName + ".ini".
QString ChooseIniFileName(const QString &SettingsFolder, const QString &IniName, TIniLoc &IniLoc);

} // namespace vl
