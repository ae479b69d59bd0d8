// Short texts that windows, logs and mail reports build in many places:
// byte sizes, time stamps, counts of files, weekday lists, the wording of a
// copy operation, run results, window captions, the destination layout and
// the log mode. Texts shown to the user are translated.
#pragma once

#include "core/DateTime.h"

#include <QString>

#include <cstdint>

namespace vl {

class TTextFilter;

// The byte size with units of 1000 when VlSettings.LogSettings.DecimalSizes
// is set, else 1024; Trim drops the decimals of a whole number.
QString ByteSizeText(bool Trim, int64_t Size);
// "yyyy-mm-dd hh:nn:ss"; "Invalid timestamp" for T < 1 or T from
// 2500-01-01 on.
QString FormatTimeStamp(TDateTime T);
// DispDateFormat + " " + DispTimeFormat; empty before 2000-01-01.
QString DateTimeText(TDateTime T);
// " ; " + "yyyy-mm-dd"; empty for T <= 0.
QString DateSuffixText(TDateTime T);
// Short weekday names of the bits 0 (Monday) to 6 (Sunday), joined by ",".
QString WeekdaysText(int Days);
// "%u of %u files copied (%s of %s)", the counts with thousands separators
// when either exceeds 9999.
QString FilesCopiedText(int Copied, int Total, int64_t CopiedSize, int64_t TotalSize);
// The English ordinal followed by a blank ("1st ", "11th ", "21st ",
// "102nd "), "no " for 0. The suffixes are translatable.
QString OrdinalText(int N);
// " /" + Name.
QString CmdLineSwitch(const QString &Name);
// " " + "/Name:Value", the switch in double quotes (inner quotes doubled)
// when it holds a blank.
QString CmdLineTextSwitch(const QString &Name, const QString &Value);
QString CmdLineIntSwitch(const QString &Name, int Value);
// "RE: " for a regular expression, then "only %s" (include) or
// "all except %s" (exclude) with the filter text; "All files" when off.
QString FilterDescription(const TTextFilter &Filter);
// "Copying", "Compressing and encrypting", "Decrypting", ... followed by
// " of \"%s\" (%s) to \"%s\"" (source file, size, destination).
QString CopyOperationText(bool Restore, bool Compress, bool Encrypt);
// A format with one "%s" for the folder: "Directory \"%s\" not found!" for
// codes 2 and 3, else "Error accessing directory: \"%s\"".
QString DirectoryErrorText(int Code);
// The text of a task result code, with "!".
QString TaskErrorText(int Code);
// Ext without a leading "."; "<ohne>" for "" and ".".
QString ExtensionText(const QString &Ext);
// A and B read as date-times of the locale (unreadable: 0); -1, 0 or 1 as
// B is earlier than, equal to or later than A.
int CompareDateTimeTexts(const QString &A, const QString &B);
// "No files", "1 file", "%u files" (thousands separators above 9999), in
// " (" and ")" when InParens.
QString FileCountText(int Count, bool InParens);
// VlSettings.LogSettings.LogMode and $47 when Flag and LogMode share a
// bit, else 0.
int HasLogOption(int Flag);
// Program title + " - " + Text (when not empty) + " [" + file name of
// FileName + "]" (when not empty).
QString WindowCaption(const QString &Text, const QString &FileName);
// "User name: " + CurrentUserName.
QString UserNameText();
// " - 64-bit" or " - 32-bit" for this program.
QString BitnessText();
// Program title + BitnessText, then " (" + version caption + ")" when
// Parts > 0.
QString TitleWithVersion(int Parts);
// The maker line of the information box, and the same with the maker's
// address on a new line.
QString CopyrightText();
QString CopyrightAddressText();
// "     -> " for level 3, else six blanks.
QString LogIndentText(int Level);
// Text of a destination layout mode (0-3 separate files, 4-7 zip), with
// the split size when above 0.
QString DestinationLayoutText(int Mode, int64_t SplitSize);
// "Off", or "Short", "Long", "Verbose" with the option letters in
// parentheses: P print ($40), E ($80), S skipped files (long, bit 4),
// W warnings (short, bit 4).
QString LogModeText(uint8_t Mode);

} // namespace vl
