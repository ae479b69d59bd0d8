#include "backup/BackupTypes.h"

namespace vl {

int PackAttributes(const TAttributes &A)
{
    return int(A.Archive) + int(A.ReadOnly) * 4 + int(A.Hidden) * 16 + int(A.System) * 64;
}

TAttributes UnpackAttributes(int AValue)
{
    auto Field = [AValue](int AShift) {
        const int v = (AValue >> AShift) & 3;
        return v <= int(TAttrMode::amExclude) ? TAttrMode(v) : TAttrMode::amIgnore;
    };
    TAttributes a;
    a.Archive = Field(0);
    a.ReadOnly = Field(2);
    a.Hidden = Field(4);
    a.System = Field(6);
    return a;
}

// ---- TTypeList ----

int TTypeList::Add(const QString &AName)
{
    const int i = IndexOf(AName);
    if (i >= 0)
        return i;
    TItem item;
    item.Name = AName;
    item.Data.Index = int(FItems.size());
    FItems.append(item);
    return item.Data.Index;
}

int TTypeList::IndexOf(const QString &AName) const
{
    for (int i = 0; i < FItems.size(); ++i)
        if (FItems.at(i).Name.compare(AName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TTypeList::Delete(int AIndex)
{
    FItems.removeAt(AIndex);
    // Index always equals the position.
    for (int i = AIndex; i < FItems.size(); ++i)
        FItems[i].Data.Index = i;
}

QStringList TTypeList::NamesList() const
{
    QStringList names;
    names.reserve(FItems.size());
    for (const TItem &item : FItems)
        names.append(item.Name);
    return names;
}

QString TTypeList::CommaText() const
{
    return NamesList().join(QLatin1Char(','));
}

void TTypeList::SetCommaText(const QString &AText)
{
    Clear();
    const QStringList tokens = AText.split(QLatin1Char(','));
    for (const QString &token : tokens) {
        const QString name = token.trimmed();
        if (!name.isEmpty())
            Add(name);
    }
}

void CopyTypeList(const TTypeList &Source, TTypeList &Dest)
{
    for (int i = 0; i < Source.Count(); ++i)
        Dest.Add(Source.Names(i));
}

// ---- TExtensionList ----

TExtensionList::TExtensionList(const TTimePeriod &NewPeriod, TSubDirMode ASubDirMode)
    : FFilter(ASubDirMode == TSubDirMode::sdmNormal, true)
{
    Selected = true;
    IsAvailable = false;
    Init(NewPeriod, ASubDirMode);
}

TExtensionList TExtensionList::CreateAssign(const TExtensionList &AList)
{
    TExtensionList list(AList.TmPeriod, AList.SubDirMode);
    list.Assign(AList);
    return list;
}

void TExtensionList::Init(const TTimePeriod &NewPeriod, TSubDirMode ASubDirMode)
{
    SubDirMode = ASubDirMode;
    Include.Clear();
    Exclude.Clear();
    InclMode = TIncludeMode::buExclude;
    SCount = 0;
    SBytes = 0;
    SSyncCount = 0;
    TCount = 0;
    ICount = 0;
    IBytes = 0;
    ECount = 0;
    EBytes = 0;
    SyncCount = 0;
    VName.clear();
    VPath.clear();
    SPath.clear();
    DoUpdate = false;
    IncludeDirs = false;
    FFilter = TTextFilter(ASubDirMode == TSubDirMode::sdmNormal, true);
    EFilter = TTextFilter(false, true);
    TmPeriod = TTimePeriod();
    TmPeriod.Mode = TTimeMode::tmAll;
    TmPeriod.Days = 1;
    TmPeriod.TmRef = NewPeriod.TmRef;
    TmPeriod.DayTime = NewPeriod.DayTime;
    TmPeriod.Dat1 = NewPeriod.Dat1;
    TmPeriod.Dat2 = NewPeriod.Dat2;
    SizeLimits = TSizeLimits();
    Attributes = TAttributes();
    SubDirList = TStringList();
    SubDirList.SetCaseSensitive(true);
    SubDirList.SetSorted(true);
    DirMask.clear();
}

void TExtensionList::Assign(const TExtensionList &AListe)
{
    if (&AListe == this)
        return;
    Clear();
    Include = AListe.Include;
    Exclude = AListe.Exclude;
    Selected = AListe.Selected;
    IsAvailable = AListe.IsAvailable;
    SubDirMode = AListe.SubDirMode;
    InclMode = AListe.InclMode;
    SCount = AListe.SCount;
    SBytes = AListe.SBytes;
    SSyncCount = AListe.SSyncCount;
    TCount = AListe.TCount;
    ICount = AListe.ICount;
    IBytes = AListe.IBytes;
    ECount = AListe.ECount;
    EBytes = AListe.EBytes;
    SyncCount = AListe.SyncCount;
    IncludeDirs = AListe.IncludeDirs;
    DoUpdate = AListe.DoUpdate;
    VName = AListe.VName;
    VPath = AListe.VPath;
    SPath = AListe.SPath;
    EFilter.Assign(AListe.EFilter);
    FFilter.Assign(AListe.FFilter);
    TmPeriod = AListe.TmPeriod;
    SizeLimits = AListe.SizeLimits;
    Attributes = AListe.Attributes;
    DirMask = AListe.DirMask;
    SubDirList = AListe.SubDirList;
    SectionName = AListe.SectionName;
}

void TExtensionList::Clear()
{
    InclMode = TIncludeMode::buExclude;
    Include.Clear();
    Exclude.Clear();
    EFilter.Reset();
    ICount = 0;
    ECount = 0;
    TCount = 0;
    IBytes = 0;
    EBytes = 0;
}

void TExtensionList::Reset()
{
    for (int i = 0; i < Include.Count(); ++i)
        Include.Data(i).Reset();
    for (int i = 0; i < Exclude.Count(); ++i)
        Exclude.Data(i).Reset();
    ICount = 0;
    ECount = 0;
    TCount = 0;
    IBytes = 0;
    EBytes = 0;
}

void TExtensionList::CopyFilter(const TExtensionList &AList)
{
    Clear();
    InclMode = AList.InclMode;
    if (InclMode == TIncludeMode::buExclude)
        CopyTypeList(AList.Exclude, Exclude);
    else
        CopyTypeList(AList.Include, Include);
    FFilter.SetMode(TFilterMode::fmOff);
}

void TExtensionList::AddSubDir(const QString &APath, bool AByFilter)
{
    if (SubDirList.IndexOf(APath) >= 0)
        return;
    SubDirList.AddObject(APath, AByFilter ? QVariant(1) : QVariant());
}

bool TExtensionList::IsFilterMarked(int AIndex) const
{
    const QVariant &o = SubDirList.Objects(AIndex);
    return o.isValid() && o.toInt() == 1;
}

} // namespace vl
