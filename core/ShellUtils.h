// The desktop shell for the rest of the program: special and known
// folders, shortcuts (desktop entry files), notification-area icons,
// copying, moving and deleting through one set of item operations (with the
// Trash as the recycle bin), and the kind of an executable file.
//
// Every operation returns a plain value, an HRESULT (negative on failure)
// or an error number of platform/SysErrors.h; none raises.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>

namespace vl {

// ---------------------------------------------------------------------------
// Result codes of the link and item operations

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
// 0 for 0, else the failure code that carries the error number
// (0x80070000 | number).
HRESULT HResultFromError(uint32_t Code);

// Opaque handles of the view layer: an owner window and an icon. 0 = none.
using TWindowHandle = uintptr_t;
using TIconHandle = uintptr_t;

// ---------------------------------------------------------------------------
// Folders (no trailing delimiter). The folders a user may switch off in
// user-dirs.dirs (desktop, documents, music, pictures, videos, downloads)
// are empty when switched off; no folder is checked for existence.

enum : int {
    CSIDL_DESKTOP = 0,                  // XDG desktop folder
    CSIDL_PERSONAL = 5,                 // XDG documents folder
    CSIDL_FAVORITES = 6,                // none: empty
    CSIDL_STARTUP = 7,                  // $XDG_CONFIG_HOME/autostart
    CSIDL_MYMUSIC = 13,                 // XDG music folder
    CSIDL_MYVIDEO = 14,                 // XDG videos folder
    CSIDL_DESKTOPDIRECTORY = 16,        // XDG desktop folder
    CSIDL_APPDATA = 26,                 // $XDG_CONFIG_HOME
    CSIDL_LOCAL_APPDATA = 28,           // $XDG_DATA_HOME
    CSIDL_COMMON_APPDATA = 35,          // /var/lib
    CSIDL_SYSTEM = 37,                  // /usr/bin
    CSIDL_PROGRAM_FILES = 38,           // parent of the program folder
    CSIDL_MYPICTURES = 39,              // XDG pictures folder
    CSIDL_PROFILE = 40,                 // home folder
    CSIDL_PROGRAM_FILESX86 = 42,        // as 38
    CSIDL_PROGRAM_FILES_COMMON = 43,    // as 38
    CSIDL_PROGRAM_FILES_COMMONX86 = 44, // as 38
};

// The folder of a CSIDL number above; empty for any other number.
QString ShellFolderPath(int Csidl);

// Known folders with a counterpart on Linux; any other id gives an empty
// path (saved games, contacts, links, searches, favourites, libraries).
inline constexpr QUuid FOLDERID_Desktop{0xB4BFCC3A, 0xDB2C, 0x424C, 0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41};
inline constexpr QUuid FOLDERID_Documents{0xFDD39AD0, 0x238F, 0x46AF, 0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7};
inline constexpr QUuid FOLDERID_Downloads{0x374DE290, 0x123F, 0x4565, 0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B};
inline constexpr QUuid FOLDERID_Music{0x4BD8D571, 0x6D19, 0x48D3, 0xBE, 0x97, 0x42, 0x22, 0x20, 0x08, 0x0E, 0x43};
inline constexpr QUuid FOLDERID_Pictures{0x33E28130, 0x4E1E, 0x4676, 0x83, 0x5A, 0x98, 0x39, 0x5C, 0x3B, 0xC3, 0xBB};
inline constexpr QUuid FOLDERID_Videos{0x18989B1D, 0x99B5, 0x455B, 0x84, 0x1C, 0xAB, 0x7C, 0x74, 0xE4, 0xDD, 0xFC};
inline constexpr QUuid FOLDERID_RoamingAppData{0x3EB685DB, 0x65F9, 0x4CF6, 0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D};
inline constexpr QUuid FOLDERID_LocalAppData{0xF1B32785, 0x6FBA, 0x4FCF, 0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91};
inline constexpr QUuid FOLDERID_Profile{0x5E6C858F, 0x0E22, 0x4760, 0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73};
inline constexpr QUuid FOLDERID_ProgramData{0x62AB5D82, 0xFDC1, 0x4DC3, 0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97};
inline constexpr QUuid FOLDERID_ProgramFiles{0x905E63B6, 0xC1BF, 0x494E, 0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A};
inline constexpr QUuid FOLDERID_Startup{0xB97D20BB, 0xF46A, 0x4C97, 0xBA, 0x10, 0x5E, 0x36, 0x08, 0x43, 0x08, 0x54};

QString KnownFolderPath(const QUuid &FolderId);

// Linux has one program files folder for every processor width: kinds 0
// to 5 all give the parent of the program folder; other kinds are empty.
QString ProgramFilesFolder(uint8_t Kind);

// File managers watch the folders themselves: nothing to tell them.
void NotifyShellOfChanges();
// There is no task bar that every desktop reports: Edge -1, empty Rect.
void GetTaskbarPos(int &Edge, QRect &Rect);
// There are no shell libraries: false, List unchanged.
bool GetLibraryFolders(const QString &LibraryName, QStringList &List);

// Kinds of GetExeKind (2 to 4 do not occur on Linux).
enum : int { ekNone = 0, ekShellLink = 1, ekDosProgram = 2, ekWin16Program = 3, ekGuiProgram = 4, ekConsoleProgram = 5 };
// ekShellLink for a ".desktop" file; ekConsoleProgram for an executable
// (any execute bit) regular file that is an ELF binary or a script
// starting with "#!"; else ekNone. Links are followed.
int GetExeKind(const QString &FileName);
bool IsConsoleProgram(const QString &FileName);

// ---------------------------------------------------------------------------
// Shortcuts: desktop entry files (Type=Application) with Name (the link's
// file name without extension), Exec (target and arguments), Path (working
// folder), Icon and Comment (description). The file is written through a
// temporary file and a rename, with execute bits (as the umask allows), so
// desktops treat it as a trusted launcher; name it "*.desktop" and put it
// in the desktop folder or the autostart folder (CSIDL_STARTUP).
//
// Arguments is a command-line text: blanks separate the arguments, '...'
// and "..." group them, and in "..." and outside quotes a backslash takes
// the next character literally. Read back, each argument that needs it is
// written in double quotes with \ " $ ` escaped by a backslash, so a text
// in that form reads back unchanged.
// Run as administrator puts pkexec in front of the target.
// The icon index has no meaning for desktop entries and is ignored.

// E_INVALIDARG for an empty target or a text that is not valid UTF-8;
// HResultFromError of the write error.
HRESULT CreateShellLink(const QString &LinkName, const QString &Target, const QString &IconFile,
                        const QString &Arguments, const QString &WorkDir, const QString &Description,
                        int IconIndex, bool RunAsAdmin);
// CreateShellLink with the target as icon.
HRESULT CreateShellLinkSimple(const QString &LinkName, const QString &Target, const QString &Arguments,
                              const QString &WorkDir, const QString &Description, bool RunAsAdmin);
// Every output starts empty. 2 when LinkName does not exist; the read
// error as HRESULT; E_FAIL when the file is no application entry with a
// command; else S_OK with the outputs filled (IconFile when asked for).
HRESULT ReadShellLinkEx(const QString &LinkName, QString &Target, QString &Arguments, QString &WorkDir,
                        QString &Description, bool &RunAsAdmin, QString *IconFile = nullptr);
// True only when the link was read; a missing link gives false, with every
// output empty.
bool ReadShellLink(const QString &LinkName, QString &Target, QString &Arguments, QString &WorkDir,
                   QString &Description);

// ---------------------------------------------------------------------------
// Notification-area icons. The functions below build the requests; the
// view layer carries them out through the installed ITrayIcon. Without one
// (no GUI, no tray) every call fails softly: false, nothing happens.

// Balloon flags.
enum : uint32_t { tbfInfo = 0x1, tbfUser = 0x4, tbfNoSound = 0x10, tbfLargeIcon = 0x20 };
// Longest texts (UTF-16 units); longer texts are cut, never split inside a
// surrogate pair.
inline constexpr int kTrayTipMax = 127;
inline constexpr int kTrayBalloonTitleMax = 63;
inline constexpr int kTrayBalloonTextMax = 255;

// One add or modify request; only the fields marked as set change.
struct TTrayIconRequest {
    TWindowHandle Wnd = 0;
    uint32_t ID = 0;
    bool SetCallback = false;
    uint32_t CallbackMessage = 0;
    bool SetIcon = false;
    TIconHandle Icon = 0;
    bool SetTip = false;
    QString Tip;
    bool ShowBalloon = false; // title and text set: the balloon is shown
    QString BalloonTitle;
    QString BalloonText;
    TIconHandle BalloonIcon = 0;
    uint32_t BalloonFlags = 0; // tbf...
};

class ITrayIcon {
public:
    virtual ~ITrayIcon() = default;
    // True when the desktop accepted the request.
    virtual bool AddIcon(const TTrayIconRequest &Request) = 0;
    virtual bool ModifyIcon(const TTrayIconRequest &Request) = 0;
    virtual bool DeleteIcon(TWindowHandle Wnd, uint32_t ID) = 0;
};

// The installed implementation, else one that refuses every request.
ITrayIcon &TrayIconService();
// nullptr goes back to the refusing one. The caller keeps ownership.
void SetTrayIconService(ITrayIcon *Service);

bool AddTrayIconEx(TWindowHandle Wnd, uint32_t ID, uint32_t CallbackMessage, TIconHandle Icon,
                   TIconHandle BalloonIcon, const QString &BalloonTitle, const QString &BalloonText,
                   const QString &Tip, bool Sound);
bool AddTrayIcon(TWindowHandle Wnd, uint32_t ID, uint32_t CallbackMessage, TIconHandle Icon,
                 const QString &BalloonTitle, const QString &BalloonText, const QString &Tip, bool Sound);
bool ShowTrayBalloon(TWindowHandle Wnd, uint32_t ID, const QString &Title, const QString &Text, bool Sound);
bool UpdateTrayIcon(TWindowHandle Wnd, uint32_t ID, TIconHandle Icon, const QString &Tip, bool Sound);
bool UpdateTrayIconImage(TWindowHandle Wnd, uint32_t ID, TIconHandle Icon, bool Sound);
bool DeleteTrayIcon(TWindowHandle Wnd, uint32_t ID);

// ---------------------------------------------------------------------------
// Item operations. Velkor carries them out itself, without progress windows
// or questions: an existing destination file is replaced, a folder is
// copied with its content, a move across file systems copies and then
// removes. A trailing delimiter of a name is dropped (a link named with one
// is still the link itself). Deletion with FOF_ALLOWUNDO moves the item to
// the Trash (platform/Shell.h); when that fails the error is returned and
// nothing is deleted. Owner, the progress title and the other flags change
// nothing.

enum : int { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3, FO_RENAME = 4 };
enum : uint32_t {
    FOF_MULTIDESTFILES = 0x1,
    FOF_SILENT = 0x4,
    FOF_NOCONFIRMATION = 0x10,
    FOF_ALLOWUNDO = 0x40,
    FOF_FILESONLY = 0x80,
    FOF_SIMPLEPROGRESS = 0x100,
    FOF_NOCONFIRMMKDIR = 0x200,
    FOF_NOERRORUI = 0x400,
    FOF_NO_CONNECTED_ELEMENTS = 0x2000,
    FOFX_EARLYFAILURE = 0x100000,
};

// Op 3 deletes Source; Op 2 copies and any other Op moves it into the
// folder of DestFile (which must exist) under the file name of DestFile.
HRESULT ShellItemOperation(TWindowHandle Owner, const QString &Source, const QString &DestFile, int Op,
                           uint32_t Flags);
HRESULT ShellCopyItem(TWindowHandle Owner, const QString &Source, const QString &DestFile, bool Silent);
HRESULT ShellDeleteFileItem(TWindowHandle Owner, const QString &FileName, bool ToRecycleBin, bool Silent);
HRESULT ShellDeleteDirItem(TWindowHandle Owner, const QString &DirName, bool ToRecycleBin, bool Silent);

// FromList and ToList hold names separated by #0 characters (a final #0
// and empty names are ignored); names are taken literally (no wildcards).
// With FOF_MULTIDESTFILES ToList names one destination per source; else
// its first name is the destination folder, or, for a single source when
// it is no existing folder, the destination name. Stops at the first
// failure: 0 or its error number (ERROR_INVALID_PARAMETER for empty or
// unequal lists and an unknown Func).
uint32_t ShellFileOperation(TWindowHandle Owner, const QString &FromList, const QString &ToList,
                            const QString &ProgressTitle, int Func, uint32_t Flags);
uint32_t ShellCopyFiles(TWindowHandle Owner, const QString &FromList, const QString &ToList,
                        const QString &ProgressTitle, bool Silent);
uint32_t ShellDeleteFiles(TWindowHandle Owner, const QString &FromList, const QString &ProgressTitle,
                          bool ToRecycleBin, bool Silent);
uint32_t ShellDeleteDirs(TWindowHandle Owner, const QString &FromList, const QString &ProgressTitle,
                         bool ToRecycleBin, bool Silent);

} // namespace vl
