#include "core/FileInfo.h"

#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

namespace vl {

namespace {

void FillAttributeData(const TStatInfo &st, uint32_t attr, TFileAttributeData &data)
{
    data.Attr = attr;
    data.LastWriteTime = TimespecToFileTime(st.MTime);
    data.LastAccessTime = TimespecToFileTime(st.ATime);
    data.CreationTime = st.HasBTime ? TimespecToFileTime(st.BTime) : data.LastWriteTime;
    data.Size = st.IsRegular() ? st.Size : 0;
}

bool IsDirAttr(uint32_t attr)
{
    return attr != faInvalid && (attr & faDirectory);
}

QString WithoutTrailingDelimiter(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

} // namespace

bool ResolveLinkTarget(const QString &Name, QString &Target)
{
    Target.clear();
    uint32_t attr = faInvalid;
    if (GetFileAttr(Name, false, attr) != 0 || !HasReparseAttr(attr))
        return false;
    QString resolved;
    if (RealPath(Name, resolved) != 0 || resolved.isEmpty())
        return false;
    Target = resolved;
    return true;
}

bool GetFileNameFromHandle(int fd, QString &Name)
{
    Name.clear();
    if (fd < 0)
        return false;
    QString target;
    if (ReadSymLink(QStringLiteral("/proc/self/fd/%1").arg(fd), target) != 0 || target.isEmpty())
        return false;
    Name = target;
    return true;
}

bool FindFileData(const QString &Name, TFindData &Data)
{
    TSearchRec sr;
    const bool found = FindName(Name, faAnyFile, sr) == 0 && !(sr.Attr & faDirectory);
    if (found)
        Data = sr.FindData;
    FindClose(sr);
    return found;
}

uint32_t GetFileAttributeData(const QString &Name, TFileAttributeData &Data, bool FollowLink)
{
    Data = TFileAttributeData();
    TStatInfo st;
    uint32_t err = StatPath(Name, false, st);
    if (err != 0)
        return err;
    FillAttributeData(st, AttrFromStat(Name, st, false), Data);
    if (FollowLink && HasReparseAttr(Data.Attr)) {
        // A link whose target is missing keeps its own data.
        QString target;
        if (ResolveLinkTarget(Name, target)) {
            Data = TFileAttributeData();
            err = StatPath(target, true, st);
            if (err != 0)
                return err;
            FillAttributeData(st, AttrFromStat(target, st, true), Data);
        }
    }
    return 0;
}

bool GetFileLastWriteTime(const QString &Name, TFileTime &FileTime)
{
    TFileAttributeData data;
    if (GetFileAttributeData(Name, data, true) != 0) {
        FileTime = 0;
        return false;
    }
    FileTime = data.LastWriteTime;
    return true;
}

TDateTime FileLastWriteUtc(const QString &Name)
{
    TFileTime ft;
    TDateTime value;
    if (!GetFileLastWriteTime(Name, ft) || !TryFileTimeToDateTime(ft, value))
        return 0;
    return value;
}

TDateTime GetFileAge(const QString &Name, bool FollowLink)
{
    TFileAttributeData data;
    TDateTime value;
    if (GetFileAttributeData(Name, data, FollowLink) != 0 || IsDirAttr(data.Attr)
        || !TryFileTimeToLocalDateTime(data.LastWriteTime, value))
        return 0;
    return value;
}

bool GetDirTimestamps(const QString &Name, bool FollowLink, TFileTimestamps &TS)
{
    TS.Reset();
    TFileAttributeData data;
    if (GetFileAttributeData(Name, data, FollowLink) != 0 || !IsDirAttr(data.Attr))
        return false;
    TS.Valid = true;
    TS.CreationTime = data.CreationTime;
    TS.LastAccessTime = data.LastAccessTime;
    TS.LastWriteTime = data.LastWriteTime;
    return true;
}

bool TryGetDirLocalTime(const QString &Name, TDateTime &Value)
{
    TFileAttributeData data;
    return GetFileAttributeData(Name, data, true) == 0 && IsDirAttr(data.Attr)
        && TryFileTimeToLocalDateTime(data.LastWriteTime, Value);
}

int32_t DirectoryAge(const QString &Name)
{
    TFileAttributeData data;
    if (GetFileAttributeData(Name, data, true) != 0 || !IsDirAttr(data.Attr))
        return -1;
    return FileTimeToLocalFileDate(data.LastWriteTime);
}

TDateTime DirectoryDateTime(const QString &Name)
{
    TDateTime value;
    return TryGetDirLocalTime(Name, value) ? value : 0;
}

bool GetFileInfo(const QString &Name, TFileInfo &Info, bool IncludeDirs)
{
    Info = TFileInfo();
    Info.CreationTime = Info.DateTime = Now();
    UtcDateTimeToFileTime(Info.FileTime, Info.DateTime);
    Info.Attr = faInvalid;

    TSearchRec sr;
    const bool found = FindName(Name, faAnyFile, sr) == 0 && (IncludeDirs || !(sr.Attr & faDirectory));
    if (found)
        SearchRecToFileInfo(sr, Info);
    FindClose(sr);
    return found;
}

void SearchRecToFileInfo(const TSearchRec &SR, TFileInfo &Info)
{
    Info.Name = SR.Name;
    Info.Attr = SR.Attr;
    Info.Size = SR.Size;
    Info.CreationTime = FileTimeToLocalDateTime(SR.FindData.CreationTime);
    Info.DateTime = FileTimeToLocalDateTime(SR.FindData.LastWriteTime);
    Info.FileTime = SR.FindData.LastWriteTime;
    Info.Res = SR.FindData.Reserved0;
}

int64_t FileSize64(const QString &Name)
{
    TFileAttributeData data;
    return GetFileAttributeData(Name, data, true) == 0 ? data.Size : 0;
}

bool IsFileNotFound(const QString &Name)
{
    uint32_t attr = faInvalid;
    const uint32_t err = GetFileAttr(Name, false, attr);
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME;
}

bool HasDirectoryAttr(const QString &Name)
{
    uint32_t attr = faInvalid;
    return GetFileAttr(Name, false, attr) == 0 && IsDirAttr(attr);
}

bool HasReparseAttr(uint32_t Attr)
{
    return Attr != faInvalid && (Attr & faReparsePoint);
}

bool IsReparsePoint(const QString &Name)
{
    uint32_t attr = faInvalid;
    return GetFileAttr(Name, false, attr) == 0 && HasReparseAttr(attr);
}

int ReparseKind(const QString &Name)
{
    TFileInfo info;
    if (!GetFileInfo(Name, info, true))
        return rkNone;
    switch (info.Res) {
    case kReparseTagMountPoint: return rkJunction;
    case kReparseTagSymlink: return rkSymbolicLink;
    default: return rkNone;
    }
}

bool GetLinkTarget(const QString &Name, QString &Target)
{
    if (ResolveLinkTarget(Name, Target))
        return true;
    Target.clear();
    return false;
}

bool ReadReparsePoint(const QString &Path, uint32_t Attr, QString &Target, int &Kind)
{
    Target.clear();
    Kind = rkNone;
    if (!HasReparseAttr(Attr))
        return false;
    const QString name = WithoutTrailingDelimiter(Path);
    Kind = ReparseKind(name);
    GetLinkTarget(name, Target);
    return Kind != rkNone;
}

bool ReadReparseTarget(const QString &Path, uint32_t Attr, QString &Target)
{
    int kind;
    return ReadReparsePoint(Path, Attr, Target, kind);
}

} // namespace vl
