// The main program's settings file: reading it at start, the folders derived
// from it, and writing it back (all of it, or one value).
//
// The preferences themselves live in the program-wide VlSettings and the
// globals of core/Settings.h (IniFileName, TaskFolder, ProgramLogName,
// WorkTempDir, ErrorCount); TProgramSettings holds what belongs to the main
// window: its placement, states, schedule entries and task lists.
//
// Not kept here: the backup task window's and progress window's own
// sections, [Utilities] and [Printer] belong to their owners and are left
// untouched in the file. Of the configuration file (ConfigFileName) only
// [Config] DarkMode is read and written here.
#pragma once

#include "app/OwnSchedules.h"
#include "core/Settings.h"

#include <QList>
#include <QString>

namespace vl {

class TMemIniFile;
class TUnicodeIniFile;
struct TMainCommandLine;

// One line of a task list: a task file name as the list shows it, or a
// comment line.
struct TTaskListEntry {
    QString Name;
    bool Comment = false;
    bool operator==(const TTaskListEntry &) const = default;
};
using TTaskList = QList<TTaskListEntry>;

// Clears AItems and reads ASection ("Count", "Task<n>"): empty values are
// skipped, "&text" is a comment line, any other value is kept only when its
// task file (expanded with ADefaultExt) exists.
void ReadTaskList(const TMemIniFile &AIni, const QString &ASection, const QString &ADefaultExt, TTaskList &AItems);
// Replaces ASection with AItems (comment lines with a leading "&").
void WriteTaskList(TUnicodeIniFile &AIni, const QString &ASection, const TTaskList &AItems);

// "$" + at least four hexadecimal digits of the log-deletion setting, and back
// (bits 0-11 Count, 12-15 Mode, bit 16 Auto = 2; Date := ADate).
int EncodeLogDelSettings(const TDateSelection &ASel);
TDateSelection DecodeLogDelSettings(int AValue, TDateTime ADate);

struct TProgramSettings {
    // ---- Inputs set before reading ----
    QString DefTaskDir = DefaultTaskDir();
    int DefWidth = 800, DefHeight = 600, MinWidth = 400, MinHeight = 300;
    int CurLeft = 0, CurTop = 0, CurDpi = 96; // the window's and monitor's current values

    // ---- Values of the file ----
    TFormPos FormPos;
    int LastError = 0;
    QString LastExpDir;
    bool KeepRunning = false; // "Keep running in background"
    int OldIcon = 0;
    TAutoTaskArray AutoTasks;
    bool AutoActive = false, WaitActive = false, LogOffActive = false;
    TTaskList BackupList, RestoreList, VerifyList, CleanupList;
    QString BackupLast, RestoreLast, VerifyLast, CleanupLast;

    // The stored task folder could not be created at reading (a drive not
    // attached): the default one is in use, but the stored choice is written
    // back. Whoever lets the user confirm the folders clears it.
    bool TaskDirUnavailable = false;
    // True after ReadFromIni when the file read exists.
    bool FileExisted = false;
    // The file exists but could not be read: the defaults are in use and
    // every writer refuses, so the user's file is never replaced by them.
    bool ReadFailed = false;

    // Reads AIniName (or the fallback beside the program when AIniName does
    // not exist), derives the task, log and temporary folders taking the
    // command line's folders into account, and fills the fields above and
    // VlSettings. AIniName becomes IniFileName. True when a file was read.
    bool ReadFromIni(const QString &AIniName, const TMainCommandLine &ACmd);
    // Writes everything into IniFileName, then DarkMode into the
    // configuration file; raises EWriteError when a file cannot be written. False (nothing written) after ReadFailed.
    bool SaveToIni();
    // [Config] LastError alone.
    bool SaveLastError();
    // [Config] DefaultTask alone.
    bool SaveDefaultTask();
    // The run state of entry AIndex (exit code AExitCode; the last-run times
    // and cycle only when ASucceeded).
    bool SaveAutoTaskState(int AIndex, int AExitCode, bool ASucceeded);

    // Applies "/reset": default positions and size.
    void ResetFormPos();

private:
    void ReadConfig(const TMemIniFile &AIni);
    void ReadAutoTasks(TMemIniFile &AIni);
    void DeriveFolders(const TMainCommandLine &ACmd);
    void WriteConfig(TUnicodeIniFile &AIni);
    bool CanWrite() const { return !ReadFailed && !IniFileName.isEmpty(); }

    // The stored folders, written back unchanged while a command-line
    // folder is in use for this run.
    QString FStoredJobDir, FStoredProtDir, FStoredTempDir;
    // The folders as given on the command line, made absolute.
    QString FCmdLogDir, FCmdTempDir;
};

} // namespace vl
