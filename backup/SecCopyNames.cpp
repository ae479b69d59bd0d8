#include "backup/SecCopyNames.h"

#include "core/FileTimes.h"
#include "core/Masks.h"
#include "core/PathUtils.h"

#include <QStringView>

#include <cmath>

namespace vl {

namespace {

const QString kFDate = QStringLiteral("%fdate%");
const QString kBDate = QStringLiteral("%bdate%");
const QString kBTime = QStringLiteral("%btime%");

// A "[" of the suffix is a plain character of file names, not the start of
// a set: as a set holding only itself it matches just that character.
QString EscapeMaskSets(const QString &AText)
{
    QString s = AText;
    return s.replace(QLatin1Char('['), QStringLiteral("[[]"));
}

QString SuffixToMask(const QString &ASuffix)
{
    QString s = EscapeMaskSets(ASuffix);
    s.replace(kFDate, QStringLiteral("?\?\?\?-?\?-?\?-?\?-?\?"), Qt::CaseInsensitive);
    s.replace(kBDate, QStringLiteral("?\?\?\?-?\?-?\?"), Qt::CaseInsensitive);
    s.replace(kBTime, QStringLiteral("?\?-?\?-?\?"), Qt::CaseInsensitive);
    return s;
}

// The current date and time placeholders; %fdate% too when WithFileTime.
QString ExpandPlaceholders(const QString &ASuffix, bool WithFileTime, int64_t AFileTime)
{
    QString s = ASuffix;
    if (WithFileTime && s.contains(kFDate, Qt::CaseInsensitive)) {
        // The caller's time as it stands, without time-zone conversion.
        const TDateTime ft = FileTimeToUtcDateTime(TFileTime(AFileTime));
        s.replace(kFDate, FormatDateTime(QStringLiteral("yyyy-mm-dd-hh-nn"), ft), Qt::CaseInsensitive);
    }
    if (s.contains(kBDate, Qt::CaseInsensitive) || s.contains(kBTime, Qt::CaseInsensitive)) {
        const TDateTime now = Now();
        s.replace(kBDate, FormatDateTime(QStringLiteral("yyyy-mm-dd"), now), Qt::CaseInsensitive);
        s.replace(kBTime, FormatDateTime(QStringLiteral("hh-nn-ss"), now), Qt::CaseInsensitive);
    }
    return s;
}

bool IsAsciiDigit(QChar c, char AFirst)
{
    return c >= QLatin1Char(AFirst) && c <= QLatin1Char('9');
}

// A number of the stored suffix; ADefault when the text is none.
int ReadNumber(const QString &AText, int ADefault)
{
    bool ok = false;
    const int v = AText.trimmed().toInt(&ok);
    return ok ? v : ADefault;
}

// Only the digits 0-9, exactly ALength of them, at APos.
bool ReadDigits(const QString &AName, int APos, int ALength, int &AValue)
{
    if (APos < 0 || APos + ALength > AName.size())
        return false;
    AValue = 0;
    for (int i = APos; i < APos + ALength; ++i) {
        if (!IsAsciiDigit(AName.at(i), '0'))
            return false;
        AValue = AValue * 10 + (AName.at(i).unicode() - '0');
    }
    return true;
}

} // namespace

QString GetSecSuffixBase(const QString &ASuffix)
{
    qsizetype p = ASuffix.indexOf(QLatin1Char('%'));
    if (p < 0)
        p = ASuffix.indexOf(QLatin1Char('#'));
    return p < 0 ? ASuffix : ASuffix.left(p);
}

QString BakSuffixToMask(const QString &ASuffix)
{
    return ASuffix.isEmpty() ? QString() : SuffixToMask(ASuffix);
}

QString SyncSuffixToMask(const QString &ASuffix)
{
    return ASuffix.isEmpty() ? VlSettings.SecCopySettings.SyncSuffix : SuffixToMask(ASuffix);
}

bool HasSecSuffix(const QString &AName, const QString &ASuffix, bool NoExt)
{
    const QString base = GetSecSuffixBase(ASuffix);
    if (base.isEmpty())
        return false;
    const QString name = NoExt ? StripExtension(AName) : AName;
    return name.contains(QLatin1Char('.') + base, Qt::CaseInsensitive);
}

QString StripSecSuffix(const QString &AName, const QString &ASuffix)
{
    const QString base = GetSecSuffixBase(ASuffix);
    const qsizetype p = AName.indexOf(QLatin1Char('.') + base, 0, Qt::CaseInsensitive);
    if (p < 0)
        return AName;
    qsizetype q = AName.indexOf(QLatin1Char('.'), p + base.size() + 1);
    if (q < 0)
        q = AName.size();
    QString s = AName;
    return s.remove(p, q - p);
}

void InitBakSecSettings(TSecSettings &BakSec)
{
    const TVlSecCopySettings &cs = VlSettings.SecCopySettings;
    BakSec.DirMode = TSecDirMode::sdNone;
    BakSec.DirPrefix = cs.BakPrefix;
    BakSec.DirSuffix = cs.BakSuffix;
    BakSec.FileSuffix = cs.BakSuffix;
    BakSec.MaxHist = 1;
    BakSec.MinHist = 1;
    BakSec.AgeInWeeks = 0;
}

void InitSyncSecSettings(TSecSettings &SyncSec)
{
    const TVlSecCopySettings &cs = VlSettings.SecCopySettings;
    SyncSec.DirMode = TSecDirMode::sdNone;
    SyncSec.DirPrefix = cs.SyncPrefix;
    SyncSec.DirSuffix.clear();
    SyncSec.FileSuffix = cs.SyncSuffix;
    SyncSec.MaxHist = 1;
    SyncSec.MinHist = 1;
    SyncSec.AgeInWeeks = 0;
}

void ParseBakSuffix(QString &ASuffix, int &MaxHist, int &MinHist, int &AgeInWeeks)
{
    MaxHist = 1;
    MinHist = 1;
    AgeInWeeks = 0;
    const QString s = ASuffix;
    const qsizetype h = s.indexOf(QLatin1Char('#'));
    if (h < 0) {
        // "suffix/age/min": only the age is read.
        const qsizetype a = s.indexOf(QLatin1Char('/'));
        if (a >= 0) {
            const qsizetype b = s.indexOf(QLatin1Char('/'), a + 1);
            if (b >= 0)
                AgeInWeeks = ReadNumber(s.mid(a + 1, b - a - 1), 0);
            ASuffix = s.left(a);
        }
        return;
    }
    // "suffix#<count>[/<age>/<min>]": one or two digits, the first not 0.
    qsizetype i = h + 1;
    if (i < s.size() && IsAsciiDigit(s.at(i), '1')) {
        MaxHist = s.at(i).unicode() - '0';
        ++i;
        if (i < s.size() && IsAsciiDigit(s.at(i), '0')) {
            MaxHist = MaxHist * 10 + (s.at(i).unicode() - '0');
            ++i;
        }
        if (i < s.size() && s.at(i) >= QLatin1Char('/')) {
            const qsizetype j = s.indexOf(QLatin1Char('/'), i + 1);
            if (j >= 0) {
                AgeInWeeks = ReadNumber(s.mid(i + 1, j - i - 1), 0);
                if (j + 1 < s.size())
                    MinHist = ReadNumber(s.mid(j + 1), 1);
            }
        }
    }
    ASuffix = s.left(h + 1);
}

QString ComposeBakSuffix(const QString &ASuffix, int MaxHist, int MinHist, int AgeInWeeks)
{
    QString s = ASuffix;
    if (MaxHist >= 2)
        s += QString::number(MaxHist);
    if (AgeInWeeks > 0)
        s += QLatin1Char('/') + QString::number(AgeInWeeks) + QLatin1Char('/') + QString::number(MinHist);
    return s;
}

QString ExpandBakSuffix(const QString &ASuffix, int64_t AFileTime)
{
    if (ASuffix.isEmpty())
        return VlSettings.SecCopySettings.BakSuffix;
    return ExpandPlaceholders(ASuffix, true, AFileTime);
}

QString ExpandRemoteBakSuffix(const QString &ASuffix)
{
    if (ASuffix.isEmpty())
        return VlSettings.SecCopySettings.BakSuffix;
    return ExpandPlaceholders(ASuffix, false, 0);
}

QString ExpandSyncSuffix(const QString &ASuffix, int64_t AFileTime)
{
    if (ASuffix.isEmpty())
        return QString();
    return QLatin1Char('.') + ExpandPlaceholders(ASuffix, true, AFileTime);
}

QString ExpandSyncDirSuffix(const QString &ASuffix, int64_t ADirTime)
{
    if (ASuffix.isEmpty())
        return QString();
    return QLatin1Char('-') + ExpandPlaceholders(ASuffix, true, ADirTime);
}

QString ExpandFtpSyncDirSuffix(const QString &ASuffix)
{
    if (ASuffix.isEmpty())
        return QString();
    return QLatin1Char('-') + ExpandPlaceholders(ASuffix, false, 0);
}

QString MakeSyncCopyName(const QString &AName, const QString &ASuffix, int64_t AFileTime)
{
    if (ASuffix.startsWith(QLatin1Char('+')))
        return AName + ExpandSyncSuffix(ASuffix.mid(1), AFileTime);
    return InsertNameSuffix(AName, ExpandSyncSuffix(ASuffix, AFileTime));
}

bool IsNoSyncCopy(const QString &AName, const QString &ASuffix, bool IsZip, bool IsGz, bool IsEnc)
{
    if (ASuffix.startsWith(QLatin1Char('+'))) {
        QString mask = QStringLiteral("*.") + SyncSuffixToMask(ASuffix.mid(1));
        if (IsZip)
            mask += QStringLiteral(".zip");
        else if (IsGz)
            mask += QStringLiteral(".gz*");
        else if (IsEnc)
            mask += QStringLiteral(".enc");
        return !TMask(mask).Matches(AName);
    }
    const QString mask = QLatin1Char('.') + SyncSuffixToMask(ASuffix);
    const QString ext = ExtensionOf(AName);
    const bool isCopy = (!ext.isEmpty() && TMask(mask).Matches(QLatin1Char('.') + ext))
                        || TMask(QLatin1Char('*') + mask + QStringLiteral(".*")).Matches(AName);
    return !isCopy;
}

bool ParseSecCopyDate(const QString &AName, int APos, TDateTime &ADate)
{
    ADate = 0;
    int year = 0, month = 0, day = 0;
    if (!ReadDigits(AName, APos, 4, year) || !ReadDigits(AName, APos + 5, 2, month)
        || !ReadDigits(AName, APos + 8, 2, day))
        return false;
    TDateTime d = 0;
    if (!TryEncodeDate(year, month, day, d))
        return false;
    ADate = d;
    return true;
}

bool GetSecCopyUnixDate(const QString &AName, int APos, int64_t &ATime)
{
    TDateTime d = 0;
    ATime = 0;
    if (!ParseSecCopyDate(AName, APos, d))
        return false;
    ATime = DateTimeToUnixSeconds(d);
    return true;
}

} // namespace vl
