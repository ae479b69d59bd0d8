// The selection test of a file in a source entry: its type (extension),
// then its name, attributes, size and time. The test only reads; callers
// apply the type test first and the rest only when it passes.
#pragma once

#include "backup/BackupTypes.h"
#include "core/DateTime.h"
#include "ui/TimeSlotDialog.h"

#include <QString>

#include <cstdint>

namespace vl {

struct TFileInfo;

// What the time test needs besides the period: the time period of the
// command line (tmOff: none given, so the entry's own period applies;
// tmError: the given one was invalid, so no file passes), the date of the
// run (midnight) and the time of the task's last backup (0: never ran).
struct TSelectionTimes {
    TTimePeriod CmdTmPeriod{TTimeMode::tmOff};
    TDateTime Heute = 0;
    TDateTime LastBackupTime = 0;
};

// The type key of a file name: the extension without its dot in upper
// case, "<ohne>" when there is none (also for a name ending in a dot).
QString FileTypeKey(const QString &FileName);

// The type test: with buInclude the key must be in Include, with buExclude
// it must not be in Exclude (case ignored). Ext receives the key.
bool IsFileTypeSelected(const QString &FileName, const TExtensionList &List, QString &Ext);

// Name (the entry's file-name filter applied to AText), attributes, size
// and time. A failing regular expression raises ERegularExpressionError
// (core/TextFilter.h).
bool IsFileSelected(const QString &AText, const TFileInfo &Info, const TExtensionList &List,
                    const TSelectionTimes &Times);

// Every amInclude attribute set and no amExclude attribute set (bits of
// platform/FileSystem.h: archive, read-only, hidden, system).
bool IsAttrSelected(const TAttributes &Attributes, uint32_t Attr);

// The period applied to the last-write time (trModify), the creation time
// (trCreate) or either of them (trBoth).
bool IsFileTimeSelected(const TTimePeriod &Period, const TFileInfo &Info, const TSelectionTimes &Times);

// Whether a local time lies in the period; tmOff, tmError and tmPrompt
// select nothing.
bool IsTimeInPeriod(TDateTime Time, const TTimePeriod &Period, const TSelectionTimes &Times);

} // namespace vl
