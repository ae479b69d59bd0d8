// The small types of a backup task: the selection of one source entry
// (TExtensionList) with its file-type counters, the size and attribute
// selections, and the node data of the subdirectory tree.
#pragma once

#include "core/Settings.h"
#include "core/TextFilter.h"
#include "ui/StringList.h"
#include "ui/TimeSlotDialog.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace vl {

// A source entry: a folder with its subfolders, the files of one folder
// only, or a portable-program folder.
enum class TSubDirMode { sdmNormal, sdmFiles, sdmPortable };
enum class TAttrMode { amIgnore, amInclude, amExclude };

struct TSizeLimits {
    TSizeMode Mode = TSizeMode::szAll;
    int64_t MinSize = 0;
    int64_t MaxSize = int64_t(16) << 30;
    bool operator==(const TSizeLimits &) const = default;
};

struct TAttributes {
    TAttrMode Archive = TAttrMode::amIgnore;
    TAttrMode ReadOnly = TAttrMode::amIgnore;
    TAttrMode Hidden = TAttrMode::amIgnore;
    TAttrMode System = TAttrMode::amIgnore;
    bool operator==(const TAttributes &) const = default;
};
// The stored form: Archive + ReadOnly * 4 + Hidden * 16 + System * 64, each
// the ordinal of its mode; two-bit fields of value 3 read as amIgnore.
int PackAttributes(const TAttributes &A);
TAttributes UnpackAttributes(int AValue);

// Files and bytes of one file type in a source entry.
struct TExtListData {
    int Index = 0;      // position of the type in its list
    int FileCount = 0;
    int64_t SizeCount = 0;
    void Reset()
    {
        FileCount = 0;
        SizeCount = 0;
    }
    bool operator==(const TExtListData &) const = default;
};

// A list of file-type keys (extension without the dot, upper case; "<ohne>"
// for names without one), each with its counters. Keys are unique (an added
// duplicate gives the existing index); the list keeps the order of adding.
class TTypeList {
public:
    int Count() const { return int(FItems.size()); }
    bool IsEmpty() const { return FItems.isEmpty(); }
    const QString &Names(int AIndex) const { return FItems.at(AIndex).Name; }
    TExtListData &Data(int AIndex) { return FItems[AIndex].Data; }
    const TExtListData &Data(int AIndex) const { return FItems.at(AIndex).Data; }
    // Appends the key with fresh counters (Index = its position); an
    // existing key keeps its place and counters. Returns the key's index.
    int Add(const QString &AName);
    // Index of the key (case ignored), -1 when absent.
    int IndexOf(const QString &AName) const;
    void Delete(int AIndex);
    void Clear() { FItems.clear(); }
    QStringList NamesList() const;
    // Keys separated by commas (keys never hold commas or blanks).
    QString CommaText() const;
    // Replaces the list by the comma-separated keys (blank and empty
    // tokens dropped), each with fresh counters.
    void SetCommaText(const QString &AText);
    bool operator==(const TTypeList &) const = default;

private:
    struct TItem {
        QString Name;
        TExtListData Data;
        bool operator==(const TItem &) const = default;
    };
    QList<TItem> FItems;
};

// The whole selection of one source entry.
class TExtensionList {
public:
    TExtensionList(const TTimePeriod &NewPeriod, TSubDirMode ASubDirMode);
    // Init with the other entry's TmPeriod and SubDirMode, then Assign.
    static TExtensionList CreateAssign(const TExtensionList &AList);
    TExtensionList(TExtensionList &&) noexcept = default;
    TExtensionList &operator=(TExtensionList &&) noexcept = default;
    TExtensionList(const TExtensionList &) = delete;
    TExtensionList &operator=(const TExtensionList &) = delete;

    // New-entry values (Selected and IsAvailable are left alone).
    void Init(const TTimePeriod &NewPeriod, TSubDirMode ASubDirMode);
    // Everything but the filters' kind and case option.
    void Assign(const TExtensionList &AListe);
    // Empties the type lists and their counters, resets EFilter; paths,
    // FFilter and the time, size and attribute selections stay.
    void Clear();
    // Zeroes every counter; the type names stay.
    void Reset();
    // Clear, then takes AList's InclMode and the names of its active list;
    // FFilter is switched off.
    void CopyFilter(const TExtensionList &AList);
    // The active type list (Exclude for buExclude, else Include).
    TTypeList &ActiveList() { return InclMode == TIncludeMode::buExclude ? Exclude : Include; }

    TTypeList Include;
    TTypeList Exclude;
    TIncludeMode InclMode = TIncludeMode::buExclude;
    TSubDirMode SubDirMode = TSubDirMode::sdmNormal;
    int SCount = 0;
    int64_t SBytes = 0;
    uint32_t SSyncCount = 0;
    int TCount = 0;
    int ICount = 0; // negative: not known
    int64_t IBytes = 0;
    int ECount = 0;
    int64_t EBytes = 0;
    uint32_t SyncCount = 0;
    bool IsAvailable = false;
    bool Selected = true;
    bool IncludeDirs = false;
    bool DoUpdate = false;
    QString VName; // volume name of a source on a removable drive
    QString VPath; // the source as stored, placeholders unexpanded
    QString SPath; // VPath with folder placeholders expanded
    TTextFilter EFilter{false, true};
    TTextFilter FFilter{true, true};
    TTimePeriod TmPeriod;
    TSizeLimits SizeLimits;
    TAttributes Attributes;
    QStringList DirMask;
    // Full paths of the marked subdirectories, sorted, unique (names are
    // case-sensitive on Linux). An entry whose object is 1 was marked by a
    // directory filter and is not saved.
    TStringList SubDirList;
    // The Dir section it was read from or last saved to; empty for a new
    // entry.
    QString SectionName;
    // Adds a marked subdirectory unless it is there; AByFilter marks it as
    // set by a directory filter.
    void AddSubDir(const QString &APath, bool AByFilter = false);
    bool IsFilterMarked(int AIndex) const;
};

// Appends every name of Source to Dest with fresh counters.
void CopyTypeList(const TTypeList &Source, TTypeList &Dest);

// One node of the subdirectory tree.
struct TNodeData {
    QString Directory;
    QString LinkName; // target of a link, empty otherwise
    bool Locked = false;
};

} // namespace vl
