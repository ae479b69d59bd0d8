// Names of security copies: the suffixes of backup copies (replaced files)
// and synchronisation copies (removed files), their placeholders, masks
// that recognise them, and the numbered history of backup copies.
#pragma once

#include "core/DateTime.h"
#include "core/Settings.h"

#include <QString>

#include <cstdint>

namespace vl {

QString GetSecSuffixBase(const QString &ASuffix);
// Masks (core/Masks.h): placeholders become "?" runs, a "[" of the suffix
// is matched as itself.
QString BakSuffixToMask(const QString &ASuffix);
QString SyncSuffixToMask(const QString &ASuffix);
bool HasSecSuffix(const QString &AName, const QString &ASuffix, bool NoExt);
QString StripSecSuffix(const QString &AName, const QString &ASuffix);
void InitBakSecSettings(TSecSettings &BakSec);
void InitSyncSecSettings(TSecSettings &SyncSec);
// Splits a stored BakSuffix value; ASuffix becomes the in-memory suffix.
void ParseBakSuffix(QString &ASuffix, int &MaxHist, int &MinHist, int &AgeInWeeks);
QString ComposeBakSuffix(const QString &ASuffix, int MaxHist, int MinHist, int AgeInWeeks);
// AFileTime: UTC file time of the file (%fdate%).
QString ExpandBakSuffix(const QString &ASuffix, int64_t AFileTime);
QString ExpandRemoteBakSuffix(const QString &ASuffix);
QString ExpandSyncSuffix(const QString &ASuffix, int64_t AFileTime);
QString ExpandSyncDirSuffix(const QString &ASuffix, int64_t ADirTime);
QString ExpandFtpSyncDirSuffix(const QString &ASuffix);
QString MakeSyncCopyName(const QString &AName, const QString &ASuffix, int64_t AFileTime);
bool IsNoSyncCopy(const QString &AName, const QString &ASuffix, bool IsZip, bool IsGz, bool IsEnc);
// The date "yyyy?mm?dd" at the 0-based position APos of AName (separators
// not checked); false and 0 when it is no valid date.
bool ParseSecCopyDate(const QString &AName, int APos, TDateTime &ADate);
// The same as Unix seconds of that midnight; 0 on failure.
bool GetSecCopyUnixDate(const QString &AName, int APos, int64_t &ATime);

} // namespace vl
