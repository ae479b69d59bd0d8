#include "backup/FileSelection.h"

#include "backup/BackupForm.h"
#include "core/FileInfo.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "platform/FileSystem.h"

#include <cmath>

namespace vl {

QString FileTypeKey(const QString &FileName)
{
    const QString ext = ExtensionOf(FileName);
    return ext.isEmpty() ? ExtensionText(ext) : ext.toUpper();
}

bool IsFileTypeSelected(const QString &FileName, const TExtensionList &List, QString &Ext)
{
    Ext = FileTypeKey(FileName);
    if (List.InclMode == TIncludeMode::buInclude)
        return List.Include.IndexOf(Ext) >= 0;
    return List.Exclude.IndexOf(Ext) < 0;
}

namespace {

bool AttrModeAllows(TAttrMode Mode, uint32_t Attr, uint32_t Bit)
{
    switch (Mode) {
    case TAttrMode::amInclude:
        return (Attr & Bit) != 0;
    case TAttrMode::amExclude:
        return (Attr & Bit) == 0;
    case TAttrMode::amIgnore:
        break;
    }
    return true;
}

bool IsSizeSelected(const TSizeLimits &Limits, int64_t Size)
{
    switch (Limits.Mode) {
    case TSizeMode::szSmaller:
        return Size < Limits.MaxSize;
    case TSizeMode::szLarger:
        return Size > Limits.MinSize;
    case TSizeMode::szBetween:
        return Limits.MinSize <= Size && Size <= Limits.MaxSize;
    case TSizeMode::szAll:
        break;
    }
    return true;
}

} // namespace

bool IsAttrSelected(const TAttributes &Attributes, uint32_t Attr)
{
    return AttrModeAllows(Attributes.Archive, Attr, faArchive) && AttrModeAllows(Attributes.ReadOnly, Attr, faReadOnly)
        && AttrModeAllows(Attributes.Hidden, Attr, faHidden) && AttrModeAllows(Attributes.System, Attr, faSysFile);
}

bool IsTimeInPeriod(TDateTime Time, const TTimePeriod &Period, const TSelectionTimes &Times)
{
    switch (Period.Mode) {
    case TTimeMode::tmAll:
        return true;
    case TTimeMode::tmNewer:
        return Time >= Period.Dat1;
    case TTimeMode::tmOlder:
        return Time < Period.Dat2;
    case TTimeMode::tmSpan:
        // The whole day of Dat2 belongs to the span.
        return Period.Dat1 <= Time && Time < Period.Dat2 + 1;
    case TTimeMode::tmToday:
        return Time >= Times.Heute + Period.DayTime;
    case TTimeMode::tmLastDays:
        return std::trunc(Time) >= Times.Heute - Period.Days;
    case TTimeMode::tmPrevDays:
        return std::trunc(Time) < Times.Heute - Period.Days;
    case TTimeMode::tmUpdate:
        return Time > Times.LastBackupTime;
    case TTimeMode::tmOff:
    case TTimeMode::tmError:
    case TTimeMode::tmPrompt:
        break;
    }
    return false;
}

bool IsFileTimeSelected(const TTimePeriod &Period, const TFileInfo &Info, const TSelectionTimes &Times)
{
    switch (Period.TmRef) {
    case TTimeRef::trCreate:
        return IsTimeInPeriod(Info.CreationTime, Period, Times);
    case TTimeRef::trBoth:
        return IsTimeInPeriod(Info.DateTime, Period, Times) || IsTimeInPeriod(Info.CreationTime, Period, Times);
    case TTimeRef::trModify:
        break;
    }
    return IsTimeInPeriod(Info.DateTime, Period, Times);
}

bool IsFileSelected(const QString &AText, const TFileInfo &Info, const TExtensionList &List,
                    const TSelectionTimes &Times)
{
    if (!List.FFilter.MatchesFilter(AText))
        return false;
    if (!IsAttrSelected(List.Attributes, Info.Attr))
        return false;
    if (!IsSizeSelected(List.SizeLimits, Info.Size))
        return false;
    switch (Times.CmdTmPeriod.Mode) {
    case TTimeMode::tmOff:
        return IsFileTimeSelected(List.TmPeriod, Info, Times);
    case TTimeMode::tmError:
        return false;
    default:
        return IsFileTimeSelected(Times.CmdTmPeriod, Info, Times);
    }
}

bool TBackupForm::IsFileInfoSelected(const TFileInfo &Info, const TExtensionList &List) const
{
    return IsFileSelected(Info.Name, Info, List, TSelectionTimes{CmdTmPeriod, Heute, LastBackupTime});
}

} // namespace vl
