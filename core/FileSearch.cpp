#include "core/FileSearch.h"

#include "core/Masks.h"
#include "platform/SysErrors.h"

#include <optional>
#include <vector>

namespace vl {

struct TSearchState {
    QString Prefix; // the folder part of the searched path, with its "/"
    std::vector<TDirEntry> Entries;
    size_t Next = 0;
    bool MatchAll = false;
    std::optional<TMask> Mask;
    uint32_t ExcludeAttr = 0;
    bool OnlyDirectories = false;
};

namespace {

// Only "*" and "?" are wildcards of a search: a "[" in a name is an
// ordinary character, written as a set holding just "[".
QString SearchMaskToMask(const QString &mask)
{
    QString m;
    m.reserve(mask.size());
    for (const QChar c : mask) {
        if (c == QLatin1Char('['))
            m += QStringLiteral("[[]");
        else
            m += c;
    }
    return m;
}

bool HasWildcards(const QString &mask)
{
    return mask.contains(QLatin1Char('*')) || mask.contains(QLatin1Char('?'));
}

void FillRec(TSearchRec &F, TFindData &&fd)
{
    F.FindData = std::move(fd);
    F.Time = FileTimeToLocalFileDate(F.FindData.LastWriteTime);
    F.Size = F.FindData.Size;
    F.Attr = F.FindData.Attr;
    F.Name = F.FindData.Name;
}

// The next entry of the state that matches name and attributes.
bool NextMatch(TSearchState &s, TFindData &fd)
{
    while (s.Next < s.Entries.size()) {
        const TDirEntry &e = s.Entries[s.Next++];
        if (e.Name == QLatin1String(".") || e.Name == QLatin1String(".."))
            continue;
        if (!s.MatchAll && !s.Mask->Matches(e.Name))
            continue;
        if (s.OnlyDirectories && !e.Stat.IsDir() && !e.Stat.IsLink())
            continue;
        StatToFindData(s.Prefix + e.Name, e.Name, e.Stat, fd);
        if (fd.Attr & s.ExcludeAttr)
            continue;
        return true;
    }
    return false;
}

} // namespace

void StatToFindData(const QString &path, const QString &name, const TStatInfo &st, TFindData &fd)
{
    fd.Name = name;
    fd.Attr = AttrFromStat(path, st, false);
    fd.Reserved0 = 0;
    if (fd.Attr != faInvalid && (fd.Attr & faReparsePoint))
        fd.Reserved0 = st.IsLink() ? kReparseTagSymlink : kReparseTagMountPoint;
    fd.LastWriteTime = TimespecToFileTime(st.MTime);
    fd.LastAccessTime = TimespecToFileTime(st.ATime);
    fd.CreationTime = st.HasBTime ? TimespecToFileTime(st.BTime) : fd.LastWriteTime;
    fd.Size = st.IsRegular() ? st.Size : 0;
}

uint32_t FindFirst(const QString &Path, uint32_t Attr, TSearchRec &F)
{
    FindClose(F);
    F.ExcludeAttr = ~Attr & (faHidden | faSysFile | faDirectory);

    const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
    const QString prefix = slash < 0 ? QString() : Path.left(slash + 1);
    const QString mask = Path.mid(slash + 1);
    if (mask.isEmpty() || mask == QLatin1String(".") || mask == QLatin1String(".."))
        return ERROR_FILE_NOT_FOUND;

    if (!HasWildcards(mask))
        return FindName(Path, Attr, F);

    auto state = std::make_shared<TSearchState>();
    state->Prefix = prefix;
    state->ExcludeAttr = F.ExcludeAttr;
    state->OnlyDirectories = (Attr & faOnlyDirectories) && (Attr & faDirectory);
    state->MatchAll = mask == QLatin1String("*") || mask == QLatin1String("*.*");
    if (!state->MatchAll) {
        state->Mask.emplace(SearchMaskToMask(mask));
        if (!state->Mask->IsValid())
            return ERROR_INVALID_NAME;
    }
    const QString dir = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : Path.left(slash);
    uint32_t err = ListDirectory(dir, state->Entries, state->OnlyDirectories);
    if (err == ERROR_FILE_NOT_FOUND)
        err = ERROR_PATH_NOT_FOUND; // the folder searched in is missing
    if (err != 0)
        return err;

    TFindData fd;
    if (!NextMatch(*state, fd))
        return ERROR_FILE_NOT_FOUND;
    FillRec(F, std::move(fd));
    F.FindHandle = std::move(state);
    return 0;
}

uint32_t FindName(const QString &Path, uint32_t Attr, TSearchRec &F)
{
    FindClose(F);
    F.ExcludeAttr = ~Attr & (faHidden | faSysFile | faDirectory);
    const QString name = Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return ERROR_FILE_NOT_FOUND;
    // Looked up directly, so the name compares exactly.
    TStatInfo st;
    const uint32_t err = StatPath(Path, false, st);
    if (err != 0)
        return err;
    TFindData fd;
    StatToFindData(Path, name, st, fd);
    if (fd.Attr & F.ExcludeAttr)
        return ERROR_FILE_NOT_FOUND;
    FillRec(F, std::move(fd));
    return 0;
}

uint32_t FindNext(TSearchRec &F)
{
    if (!F.FindHandle)
        return ERROR_NO_MORE_FILES;
    TFindData fd;
    if (!NextMatch(*F.FindHandle, fd))
        return ERROR_NO_MORE_FILES;
    FillRec(F, std::move(fd));
    return 0;
}

void FindClose(TSearchRec &F)
{
    F.FindHandle.reset();
}

} // namespace vl
