// What the windows need to know about a task without loading it: the log
// it writes, a summary of its sources and backup mode, the full name of a
// task file the user typed, and the task lists, which keep task files
// relative to the task folder (TaskFolder): a task inside it by its
// relative name, any other by its full name.
//
// Keys read from a backup task file (section, key, default):
//   [Global] LogName (""), Destination (""), BackupCount (1), DirCount (0),
//            ClearDest (false), ArchBit (false), UseArch (false), SyncMode (0)
//   [DirNNN] (source i as three digits: Dir000, Dir001, ...) Enabled (false),
//            Source (""), Volume (""), FileCount (0), ByteCountH (0),
//            ByteCountL (0, taken as unsigned 32 bits)
#pragma once

#include "core/IniFile.h"

#include <QString>

#include <concepts>

namespace vl {

// ---- Log names ----

// The log the backup task in TaskFile writes: ProgramLogName when the file
// is missing or has no LogName; else LogName with "%taskname%" and the log
// placeholders expanded for its destination (a volume-label destination
// resolved without asking when its volume is there), below the log folder
// unless it is absolute or still starts with "%dest%".
QString GetTaskLogFileName(const QString &TaskFile);
// The log named by LogName of Section in a task file of another kind
// (restore, verify, cleanup), expanded for an empty destination;
// ProgramLogName when the file is missing or the name is empty.
QString ReadLogFileName(const QString &Section, const QString &TaskFile);
// A log name from a template: empty for an empty template, and for a
// template with "%taskname%" when TaskFile is empty. A template that starts
// with "%dest%" needs a destination that is available (ProgramLogName
// otherwise). MakeAbsolute puts the log folder in front of a relative name.
QString ExpandLogName(const QString &Template, const QString &TaskFile, const QString &Dest, bool MakeAbsolute);
QString ExpandTaskLogName(const QString &Template, const QString &TaskFile);
QString ExpandTaskLogNameForDest(const QString &Template, const QString &TaskFile, const QString &Dest);
QString ExpandTaskLogNameAbs(const QString &Template, const QString &TaskFile, bool MakeAbsolute);

// ---- Summaries ----

// The enabled sources, one per line (CR LF), two blanks in front, then the
// number of files and their size; "No directory specified!" when the task
// has no source.
QString TaskSourcesSummary(const TUnicodeIniFile &IniFile);
// One line naming the backup mode.
QString TaskModeSummary(const TUnicodeIniFile &IniFile);

// ---- Task file names ----

// Name with its folder placeholders expanded, made absolute against
// TaskFolder, with "." + DefaultExt appended unless it already has that
// extension (ignoring case); a trailing "." is dropped first. Empty for an
// empty Name.
QString ExpandTaskFileName(const QString &Name, const QString &DefaultExt);
// "Verify task", "Restore task", "Cleanup task" or "Backup task" by the
// extension of the first comma-separated field of TaskFile.
QString TaskKindText(const QString &TaskFile);
// The comma-separated field of Text that holds the character at Position
// (1-based; 0 gives the first field).
QString CommaFieldAt(const QString &Text, int Position);
// "VL-Zip-%date%".
QString DefaultZipName();
// TaskFile as the task lists keep it: relative to TaskFolder when it lies
// inside, else unchanged.
QString TaskListName(const QString &TaskFile);

// ---- Task lists ----
//
// The lists belong to the windows; these functions need only the members
// below (a history list: the most recent entry first, entries unique).

template <class L>
concept HistoryListLike = requires(L &List, const QString &S) {
    List.AddString(S); // S to the top (an equal entry moves there)
    List.RemString(S);
    List.ClearAll();
};

// A string list whose entries may carry an object (a pointer, or anything
// that compares with nullptr).
template <class S>
concept TaskStringsLike = requires(S &Strings, const S &C, int I, const QString &T) {
    { C.Count() } -> std::convertible_to<int>;
    { C.Strings(I) } -> std::convertible_to<QString>;
    { C.Objects(I) == nullptr } -> std::convertible_to<bool>;
    Strings.Delete(I);
};

// Removes TaskFile from List and adds its list name at the top; returns
// that name.
template <HistoryListLike L>
QString MoveTaskToHistoryTop(L &List, const QString &TaskFile)
{
    List.RemString(TaskFile);
    const QString name = TaskListName(TaskFile);
    List.AddString(name);
    return name;
}

// Fills List from Strings: every entry without an object, the last entry
// of Strings added first (so the first ends on top).
template <TaskStringsLike S, HistoryListLike L>
void LoadHistoryList(const S &Strings, L &List)
{
    List.ClearAll();
    for (int i = Strings.Count() - 1; i >= 0; --i) {
        if (Strings.Objects(i) == nullptr)
            List.AddString(Strings.Strings(i));
    }
}

// Inserts the list name of TaskFile with Obj at Index (at 0 when Index < 0,
// at the end when Index is past it) when Strings does not hold it yet.
// When it holds it further down and Index < 0, the entry moves to the top
// with Obj. Otherwise nothing changes. Names compare exactly (they are
// file names).
template <TaskStringsLike S, class O>
    requires requires(S &Strings, int I, const QString &T, O Obj) { Strings.InsertObject(I, T, Obj); }
void InsertTaskIntoList(S &Strings, const QString &TaskFile, int Index, O Obj)
{
    const QString name = TaskListName(TaskFile);
    int found = -1;
    for (int i = 0; i < Strings.Count() && found < 0; ++i) {
        if (QString(Strings.Strings(i)) == name)
            found = i;
    }
    if (found < 0) {
        const int at = Index < 0 ? 0 : (Index > Strings.Count() ? Strings.Count() : Index);
        Strings.InsertObject(at, name, Obj);
    } else if (found > 0 && Index < 0) {
        Strings.Delete(found);
        Strings.InsertObject(0, name, Obj);
    }
}

} // namespace vl
