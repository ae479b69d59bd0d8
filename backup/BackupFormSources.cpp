// Source entries of a task: scanning their trees into type lists and
// totals, the summary line of an entry, availability, and directory
// filters that tag subdirectories.
#include "backup/BackupForm.h"

#include "backup/FileSelection.h"
#include "core/DateTime.h"
#include "core/Destinations.h"
#include "core/FileInfo.h"
#include "core/FileSearch.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/TextFilter.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"
#include "platform/Thread.h"

#include <QPoint>

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

bool IsDirEntry(const TSearchRec &SR)
{
    return (SR.Attr & faDirectory) != 0 && IsRegularDirName(SR.Name);
}

QString ShortDateText(TDateTime ADate)
{
    return FormatDateTime(QStringLiteral("ddddd"), ADate);
}

// Restores an entry from its copy unless the scan completed, also when the
// selection test raises.
class TScanRollback {
public:
    TScanRollback(TExtensionList &AList) : FList(AList), FSaved(TExtensionList::CreateAssign(AList)) {}
    ~TScanRollback()
    {
        if (!FKeep)
            FList.Assign(FSaved);
    }
    void Keep() { FKeep = true; }

private:
    TExtensionList &FList;
    TExtensionList FSaved;
    bool FKeep = false;
};

} // namespace

// ---- Walk guard ----

bool TBackupForm::TWalkAncestors::Enter(const QString &ADir)
{
    TStatInfo st;
    if (StatPath(ADir, true, st) != 0)
        return false;
    const std::pair<uint64_t, uint64_t> id(st.Dev, st.Ino);
    if (std::find(FIds.begin(), FIds.end(), id) != FIds.end())
        return false;
    FIds.push_back(id);
    return true;
}

// ---- List and counters ----

void TBackupForm::ClearDirList()
{
    SelectedDirBox.Clear();
    SelectedDirBox.SetSorted(false);
    SortDirs = false;
}

void TBackupForm::SaveDirCounters()
{
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        TExtensionList &list = SelectedDirBox.Objects(i);
        list.SCount = list.ICount;
        list.SBytes = list.IBytes;
        list.SSyncCount = list.SyncCount;
    }
}

void TBackupForm::RestoreDirCounters()
{
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        TExtensionList &list = SelectedDirBox.Objects(i);
        list.ICount = list.SCount;
        list.IBytes = list.SBytes;
        list.SyncCount = list.SSyncCount;
    }
}

// ---- Status window ----

void TBackupForm::OpenStatusWindow(const QString &Title, const QString &Stat, int AInterval, bool AllowBreak)
{
    // A negative position centres the window.
    StatusWindow().ShowStatus(QPoint(-1, -1), Title, Stat, AllowBreak, AInterval);
}

void TBackupForm::CloseStatusWindow()
{
    if (StatusWindow().Visible())
        StatusWindow().Close();
}

// ---- Scanning ----

bool TBackupForm::ScanSourceDir(TExtensionList &AList, bool ShowStatus)
{
    TScanRollback rollback(AList);
    Heute = std::floor(Now());
    if (ShowStatus)
        OpenStatusWindow(WindowCaption(Tr("Scanning directories"), QString()), QString(), 10, true);
    bool result = false;
    try {
        ProcessMessages();
        if (AList.EFilter.Mode() != TFilterMode::fmOff) {
            // The extension filter sorts every type by itself: rebuild both
            // lists from what is on disk.
            AList.Include.Clear();
            AList.Exclude.Clear();
            AList.TCount = 0;
            AList.ICount = 0;
            AList.ECount = 0;
            AList.IBytes = 0;
            AList.EBytes = 0;
            AList.InclMode = TIncludeMode::buExclude;
        } else {
            AList.Reset();
        }
        if (XlDirectoryExists(AList.SPath, true)) {
            TWalkAncestors ancestors;
            result = CountFiles(AList.SPath, QString(), AList, ShowStatus, false, QString(), ancestors);
        }
    } catch (...) {
        if (ShowStatus)
            CloseStatusWindow();
        throw;
    }
    if (result)
        rollback.Keep();
    if (ShowStatus)
        CloseStatusWindow();
    ExDirChanged = false;
    return result;
}

bool TBackupForm::CountFiles(const QString &ABase, const QString &ASubDir, TExtensionList &AList, bool ShowStatus,
                             bool InTagged, const QString &ALinkPath, TWalkAncestors &AAncestors)
{
    const QString P = WithTrailingDelimiter(ABase) + WithTrailingDelimiter(ASubDir);
    if (!XlDirectoryExists(P, true))
        return true;
    // The entry itself, without the trailing "/" that would follow a link.
    uint32_t attr = faInvalid;
    GetFileAttr(WithTrailingDelimiter(ABase) + ASubDir, false, attr);
    QString R = P;
    if (!ASubDir.isEmpty() && HasReparseAttr(attr)) {
        if (!UseJunctions)
            return true;
        QString target;
        if (!ReadReparseTarget(P, attr, target) || target.isEmpty())
            return true;
        // A link to the parent or above would walk in a circle.
        if (DirContainsPath(target, ALinkPath))
            return true;
        R = target;
    }
    // Also catches cycles through several links and through real paths the
    // text test above cannot see.
    if (!AAncestors.Enter(P))
        return true;
    struct TLeave {
        TWalkAncestors &A;
        ~TLeave() { A.Leave(); }
    } leave{AAncestors};

    IStatusWindow &status = StatusWindow();
    if (ShowStatus)
        status.SetStatus(P);
    ProcessMessages();

    bool Counted;
    bool passTagged = InTagged;
    if (AList.IncludeDirs) {
        Counted = InTagged || AList.SubDirList.IndexOf(P) >= 0;
        passTagged = Counted;
    } else {
        Counted = AList.SubDirList.IndexOf(P) < 0;
    }

    bool cancelled = false;
    TSearchRec sr;
    if (AList.SubDirMode == TSubDirMode::sdmNormal && (Counted || AList.IncludeDirs)) {
        if (FindFirst(P + QStringLiteral("*.*"), faAnyFile, sr) == 0) {
            do {
                if (!IsDirEntry(sr))
                    continue;
                const bool ok =
                    CountFiles(ABase, JoinPath(ASubDir, sr.Name), AList, ShowStatus, passTagged, R, AAncestors);
                ProcessMessages();
                if (!ok) {
                    cancelled = true;
                    break;
                }
            } while (FindNext(sr) == 0);
            FindClose(sr);
        }
    }

    if (Counted && !cancelled && FindFirst(P + QStringLiteral("*.*"), faAnyFileNoDirs, sr) == 0) {
        do {
            if (ShowStatus && status.Stopped()) {
                cancelled = true;
                break;
            }
            if (!IsRegularDirName(sr.Name))
                continue;
            ++AList.TCount;
            TFileInfo info;
            SearchRecToFileInfo(sr, info);
            const bool sel = IsFileInfoSelected(info, AList);
            const QString key = FileTypeKey(sr.Name);
            bool toInclude;
            if (AList.EFilter.Mode() != TFilterMode::fmOff)
                toInclude = AList.EFilter.MatchesFilter(key);
            else if (AList.InclMode == TIncludeMode::buExclude)
                toInclude = AList.Exclude.IndexOf(key) < 0;
            else
                toInclude = AList.Include.IndexOf(key) >= 0;
            TTypeList &types = toInclude ? AList.Include : AList.Exclude;
            const int count = types.Count();
            const int index = types.Add(key);
            if (index == count) {
                types.Data(index).FileCount = sel ? 1 : 0;
                types.Data(index).SizeCount = sel ? info.Size : 0;
            } else if (sel) {
                types.Data(index).FileCount += 1;
                types.Data(index).SizeCount += info.Size;
            }
            if (sel) {
                if (toInclude) {
                    ++AList.ICount;
                    AList.IBytes += info.Size;
                } else {
                    ++AList.ECount;
                    AList.EBytes += info.Size;
                }
            }
            ProcessMessages();
        } while (FindNext(sr) == 0);
        FindClose(sr);
    }
    if (ShowStatus)
        status.SetInfo(Tr("Found: ") + FilesTotalText(AList.ICount, AList.IBytes));
    return !cancelled;
}

void TBackupForm::ScanSourceDirs(bool All, bool ShowStatus)
{
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        TExtensionList &list = SelectedDirBox.Objects(i);
        if (!(list.DoUpdate || (All && list.Selected)))
            continue;
        if (!ScanSourceDir(list, ShowStatus))
            break;
        list.SyncCount = 0;
        list.DoUpdate = false;
    }
    if (All)
        UpdateFileTotals();
}

// ---- Totals and texts ----

QString TBackupForm::FilesTotalText(int ACount, int64_t ABytes)
{
    return CountTextWithArg(Tr("No files"), Tr("1 file totaling %s"), Tr("%u files totaling %s"), ACount,
                            ByteSizeText(false, ABytes), true);
}

void TBackupForm::UpdateFileTotals()
{
    int count = 0;
    int64_t bytes = 0;
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        if (!SelectedDirBox.Checked(i))
            continue;
        const TExtensionList &list = SelectedDirBox.Objects(i);
        // A negative count is one not known yet (never scanned).
        count += std::max(list.ICount, 0);
        bytes += std::max<int64_t>(list.IBytes, 0);
    }
    lblSum.SetCaption(FilesTotalText(count, bytes));
    const int current = SelectedDirBox.ItemIndex();
    if (current < 0)
        return;
    const TExtensionList &list = SelectedDirBox.Objects(current);
    const QString included = FilesTotalText(list.ICount, list.IBytes);
    IncludeSumme.SetCaption(included);
    lblDirTotal.SetCaption(included);
    lblFilesTotal.SetCaption(included);
    NoAutoUpdate = list.TCount > 5000;
    btnUpdate.SetEnabled(NoAutoUpdate);
    btnFilesUpdate.SetEnabled(NoAutoUpdate);
    btnTypesUpdate.SetEnabled(NoAutoUpdate);
    ExcludeSumme.SetCaption(FilesTotalText(list.ECount, list.EBytes));
}

void TBackupForm::GetSelectionSummary(const TExtensionList &AList, bool Short, QString &AText) const
{
    const TTimePeriod &tp = AList.TmPeriod;
    const TTextFilter &filter = AList.FFilter;
    QString t;
    if (filter.Mode() == TFilterMode::fmOff && tp.Mode == TTimeMode::tmAll) {
        t = Tr("all");
    } else {
        switch (tp.Mode) {
        case TTimeMode::tmNewer: t = GuardedFormat(Tr("from %s"), ShortDateText(tp.Dat1)); break;
        case TTimeMode::tmOlder: t = GuardedFormat(Tr("to %s"), ShortDateText(tp.Dat2)); break;
        case TTimeMode::tmSpan:
            t = GuardedFormat(Tr("from %s to %s"), ShortDateText(tp.Dat1), ShortDateText(tp.Dat2));
            break;
        case TTimeMode::tmToday:
            t = GuardedFormat(Tr("today from %s"), FormatDateTime(QStringLiteral("tt"), tp.DayTime));
            break;
        case TTimeMode::tmLastDays:
            t = GuardedFormat(Tr("not older than %s"), CountWithNoun(Tr("day"), Tr("days"), tp.Days));
            break;
        case TTimeMode::tmPrevDays:
            t = GuardedFormat(Tr("older than %s"), CountWithNoun(Tr("day"), Tr("days"), tp.Days));
            break;
        case TTimeMode::tmUpdate: t = QStringLiteral("U"); break;
        default: break;
        }
        if (tp.TmRef == TTimeRef::trCreate)
            t += QStringLiteral("[C]");
        else if (tp.TmRef == TTimeRef::trBoth)
            t += QStringLiteral("[B]");
    }
    AText = QStringLiteral(" [") + t;

    if (filter.Mode() != TFilterMode::fmOff) {
        if (AText.length() > 2)
            AText += QStringLiteral(", ");
        QString f = filter.GetFilter();
        if (Short) {
            if (f.length() > 27)
                f = f.left(25) + QStringLiteral("..");
        } else if (AList.SubDirMode == TSubDirMode::sdmFiles) {
            // The names of a file entry are always marked as cut.
            f = f.left(75) + QStringLiteral("..");
        }
        if (filter.Regular())
            f = QStringLiteral("R:") + f;
        AText += GuardedFormat(filter.Mode() == TFilterMode::fmInclude ? Tr("only %s") : Tr("all except %s"), f);
    }

    QString a;
    const TAttributes &attrs = AList.Attributes;
    if (!(attrs == TAttributes())) {
        a = QStringLiteral("[");
        const std::pair<TAttrMode, char> parts[] = {
            {attrs.Archive, 'a'}, {attrs.ReadOnly, 'r'}, {attrs.Hidden, 'h'}, {attrs.System, 's'}};
        for (const auto &[mode, letter] : parts) {
            if (mode == TAttrMode::amIgnore)
                continue;
            a += QLatin1Char(mode == TAttrMode::amInclude ? '+' : '-');
            a += QLatin1Char(letter);
        }
        a += QStringLiteral("] ");
    }
    const TSizeLimits &sz = AList.SizeLimits;
    switch (sz.Mode) {
    case TSizeMode::szSmaller: a += QLatin1Char('<') + ByteSizeText(false, sz.MaxSize); break;
    case TSizeMode::szLarger: a += QLatin1Char('>') + ByteSizeText(false, sz.MinSize); break;
    case TSizeMode::szBetween:
        a += ByteSizeText(false, sz.MinSize) + QStringLiteral("..") + ByteSizeText(false, sz.MaxSize);
        break;
    default: break;
    }
    if (!a.isEmpty()) {
        while (a.endsWith(QLatin1Char(' ')))
            a.chop(1);
        AText += QLatin1Char(' ') + a;
    }
    AText += QLatin1Char(']');

    switch (AList.SubDirMode) {
    case TSubDirMode::sdmFiles: AText.prepend(QStringLiteral(" [F]")); break;
    case TSubDirMode::sdmPortable: AText.prepend(QStringLiteral(" [P]")); break;
    case TSubDirMode::sdmNormal:
        if (!AList.SubDirList.IsEmpty())
            AText.prepend((AList.IncludeDirs ? QStringLiteral(" [+") : QStringLiteral(" [-"))
                          + QString::number(AList.SubDirList.Count()) + QLatin1Char(']'));
        else if (AList.IncludeDirs)
            AText.prepend(QStringLiteral(" [+0]"));
        break;
    }
    if (AList.InclMode == TIncludeMode::buExclude && !AList.Exclude.IsEmpty())
        AText += QStringLiteral(" [E]");
    else if (AList.InclMode == TIncludeMode::buInclude)
        AText += QStringLiteral(" [I]");
}

void TBackupForm::GetDirEntryText(const TExtensionList &AList, bool Fit, QString &AText, bool WithCounts) const
{
    QString s;
    if (AList.IsAvailable)
        GetSelectionSummary(AList, Fit, s);
    else
        s = QStringLiteral(" (") + Tr("not available") + QLatin1Char(')');
    QString p = AList.VPath;
    if (!AList.VName.isEmpty() && !NoVolCheck)
        p = PathWithVolumeLabel(p, AList.VName);
    if (!Fit)
        p = ExpandFolderPlaceHolders(p);
    AText = p + s;
    if (WithCounts)
        AText += QStringLiteral("\n   ") + FilesTotalText(AList.ICount, AList.IBytes);
}

void TBackupForm::RefreshDirEntryTexts()
{
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        const TExtensionList &list = SelectedDirBox.Objects(i);
        QString text;
        GetDirEntryText(list, true, text, false);
        SelectedDirBox.SetItemEnabled(i, list.IsAvailable);
        SelectedDirBox.SetString(i, text);
    }
}

// ---- Availability ----

void TBackupForm::UpdateDirAvailability()
{
    QList<bool> before;
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        TExtensionList &list = SelectedDirBox.Objects(i);
        before.append(list.IsAvailable);
        QString relPath, drive, path;
        uint32_t code = 0;
        list.IsAvailable = ResolveSourceVolume(list.SPath, list.VName, relPath, drive, path, false) == 0
                           && XlCheckDirAccess(path, code);
    }
    RefreshDirEntryTexts();
    if (SelectedDirBox.Count() == 1 && before.at(0) != SelectedDirBox.Objects(0).IsAvailable) {
        // The one entry came or went with its medium: show it afresh.
        TExtensionList &list = SelectedDirBox.Objects(0);
        if (SelectedDirBox.ItemIndex() < 0 && list.IsAvailable)
            SelectedDirBox.SetItemIndex(0);
        if (list.IsAvailable && list.Selected && ScanSourceDir(list, true))
            list.DoUpdate = false;
        UpdateFileTotals();
        // An entry that went away cannot be edited.
        if (!list.IsAvailable)
            SelectedDirBox.SetItemIndex(-1);
    }
}

// ---- Directory filters ----

void TBackupForm::ApplyDirFilters(TExtensionList &AList, bool Add, bool RebuildTree)
{
    Q_UNUSED(RebuildTree); // no tree without a window
    for (const QString &pattern : std::as_const(AList.DirMask)) {
        if (pattern.isEmpty())
            continue;
        TTextFilter filter(false, true);
        filter.SetMode(TFilterMode::fmInclude);
        QString text = pattern;
        if (pattern.startsWith(QLatin1Char('#'))) {
            filter.SetRegular(pattern.length() > 1 && pattern.at(1) != QLatin1Char('#'));
            text = pattern.mid(1);
        }
        if (text.isEmpty())
            continue;
        try {
            filter.SetFilter(text);
        } catch (const EFilterError &) {
            continue; // a pattern the filter refuses is left out
        }
        try {
            MatchSubDirs(AList.SPath, QString(), AList.SubDirList, filter, Add);
        } catch (const ERegularExpressionError &) {
            continue; // an expression that fails while matching tags no more
        }
    }
}

void TBackupForm::MatchSubDirs(const QString &ABase, const QString &ASubDir, TStringList &ATags,
                               const TTextFilter &AFilter, bool Add)
{
    ProcessMessages();
    const QString D = WithTrailingDelimiter(JoinPath(ABase, ASubDir));
    if (IsReparsePoint(D.length() > 1 ? D.chopped(1) : D))
        return;
    // A pattern naming a path is matched against full paths.
    const bool fullPath = AFilter.GetFilter().contains(QLatin1Char('/'));
    TSearchRec sr;
    if (FindFirst(D + QStringLiteral("*.*"), faAnyFile, sr) != 0)
        return;
    do {
        if (!IsDirEntry(sr))
            continue;
        const QString P = D + sr.Name + QLatin1Char('/');
        if (AFilter.MatchesFilter(fullPath ? P : sr.Name)) {
            const int index = ATags.IndexOf(P);
            if (Add) {
                if (index < 0)
                    ATags.AddObject(P, QVariant(1));
                else
                    ATags.SetObject(index, QVariant(1));
            } else if (index >= 0) {
                ATags.Delete(index);
            }
        } else {
            MatchSubDirs(ABase, JoinPath(ASubDir, sr.Name), ATags, AFilter, Add);
        }
        ProcessMessages();
    } while (FindNext(sr) == 0);
    FindClose(sr);
}

} // namespace vl
