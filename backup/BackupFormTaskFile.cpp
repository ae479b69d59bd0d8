// The backup task file (.buj): reading a task into the editor, writing it,
// and writing the run statistics back after a run.
//
// The file is UTF-16LE INI text written by TUnicodeIniFile, which saves
// through a temporary file and a rename: a failed save leaves the previous
// file. A file that is cut short or holds binary data is refused as a
// whole rather than read as far as it goes, so a damaged task never
// replaces the settings in the editor nor gets overwritten by a statistics
// update.
#include "backup/BackupForm.h"

#include "backup/FtpSettings.h"
#include "backup/SecCopyNames.h"
#include "core/DateTime.h"
#include "core/Destinations.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/FormatSettings.h"
#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/PasswordService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"
#include "core/TaskFiles.h"
#include "core/TextEncoding.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/PasswordCipher.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "ui/InputDialogs.h"
#include "ui/WindowMemory.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <set>

namespace vl {

namespace {

const QString kGlobal = QStringLiteral("Global");
const QString kFtp = QStringLiteral("Ftp");
const QString kMail = QStringLiteral("Mail");
const QString kUser = QStringLiteral("User");
const QString kDirFilter = QStringLiteral("DirFilter");
const QString kProgramName = QStringLiteral("Velkor");

QString DirSectionName(int AIndex)
{
    return QStringLiteral("Dir") + QStringLiteral("%1").arg(AIndex, 3, 10, QLatin1Char('0'));
}

QString NumberedKey(const QString &APrefix, int AIndex)
{
    return APrefix + QStringLiteral("%1").arg(AIndex, 3, 10, QLatin1Char('0'));
}

QString ProgramVersionText()
{
    return ProgramInfo.Version;
}

// ---- Regional dates and times ----

// The order of day, month and year in a short date pattern ("dmy").
QString DateOrderOf(const QString &APattern)
{
    QString order;
    for (QChar c : APattern) {
        const QChar l = c.toLower();
        if ((l == QLatin1Char('d') || l == QLatin1Char('m') || l == QLatin1Char('y')) && !order.contains(l))
            order += l;
    }
    return order.size() == 3 ? order : QStringLiteral("ymd");
}

bool AllDigits(const QString &S)
{
    if (S.isEmpty())
        return false;
    for (QChar c : S)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// A date in the locale's short date form: three numbers joined by its date
// separator, in its order. Text of another locale (other separator or
// order) is refused instead of being read as a different date.
bool TryRegionalTextToDate(const QString &AText, TDateTime &AValue)
{
    const TFormatSettings &fs = FormatSettings();
    const QStringList parts = AText.trimmed().split(fs.DateSeparator);
    if (parts.size() != 3)
        return false;
    const QString order = DateOrderOf(fs.ShortDateFormat);
    int year = 0, month = 0, day = 0;
    for (int i = 0; i < 3; ++i) {
        const QString &p = parts.at(i);
        if (!AllDigits(p))
            return false;
        const int n = p.toInt();
        switch (order.at(i).unicode()) {
        case 'y':
            if (p.size() != 2 && p.size() != 4)
                return false;
            year = p.size() == 2 ? (n < 50 ? 2000 + n : 1900 + n) : n;
            break;
        case 'm':
            if (p.size() > 2)
                return false;
            month = n;
            break;
        default:
            if (p.size() > 2)
                return false;
            day = n;
            break;
        }
    }
    return TryEncodeDate(year, month, day, AValue);
}

// A time of day: hours and minutes, optionally seconds, joined by the
// locale's time separator, optionally followed by its AM or PM text.
bool TryRegionalTextToTime(const QString &AText, TDateTime &AValue)
{
    const TFormatSettings &fs = FormatSettings();
    QString s = AText.trimmed();
    int pmShift = -1; // -1 no marker, 0 AM, 12 PM
    const qsizetype blank = s.indexOf(QLatin1Char(' '));
    if (blank >= 0) {
        const QString marker = s.mid(blank + 1).trimmed();
        s = s.left(blank);
        if (marker.compare(fs.TimePMString, Qt::CaseInsensitive) == 0 || marker.compare(QStringLiteral("PM"), Qt::CaseInsensitive) == 0)
            pmShift = 12;
        else if (marker.compare(fs.TimeAMString, Qt::CaseInsensitive) == 0 || marker.compare(QStringLiteral("AM"), Qt::CaseInsensitive) == 0)
            pmShift = 0;
        else
            return false;
    }
    const QStringList parts = s.split(fs.TimeSeparator);
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    int values[3] = {0, 0, 0};
    for (int i = 0; i < parts.size(); ++i) {
        if (!AllDigits(parts.at(i)) || parts.at(i).size() > 2)
            return false;
        values[i] = parts.at(i).toInt();
    }
    int hour = values[0];
    if (pmShift >= 0) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + pmShift;
    }
    return TryEncodeTime(hour, values[1], values[2], 0, AValue);
}

bool TryRegionalTextToDateTime(const QString &AText, TDateTime &AValue)
{
    const QString s = AText.trimmed();
    const qsizetype blank = s.indexOf(QLatin1Char(' '));
    TDateTime date = 0, time = 0;
    if (!TryRegionalTextToDate(blank < 0 ? s : s.left(blank), date))
        return false;
    if (blank >= 0 && !TryRegionalTextToTime(s.mid(blank + 1), time))
        return false;
    AValue = date + time;
    return true;
}

QString RegionalDateText(TDateTime AValue)
{
    return FormatDateTime(QStringLiteral("ddddd"), AValue);
}

QString RegionalTimeText(TDateTime AValue)
{
    return FormatDateTime(QStringLiteral("tt"), AValue);
}

QString RegionalDateTimeText(TDateTime AValue)
{
    return FormatDateTime(QStringLiteral("c"), AValue);
}

// ---- Value forms ----

// Double quotes of free texts are kept as "#" in the file.
QString QuotesToHash(const QString &S)
{
    return ReplaceChar(S, QLatin1Char('"'), QLatin1Char('#'));
}

QString HashToQuotes(const QString &S)
{
    return ReplaceChar(S, QLatin1Char('#'), QLatin1Char('"'));
}

// The value without its enclosing double quotes (inner doubled quotes
// made single); a value that does not start with one stays as it is.
QString DequotedValue(const QString &S)
{
    if (!S.startsWith(QLatin1Char('"')))
        return S;
    QString out;
    for (qsizetype i = 1; i < S.size(); ++i) {
        if (S[i] == QLatin1Char('"')) {
            if (i + 1 < S.size() && S[i + 1] == QLatin1Char('"')) {
                out += QLatin1Char('"');
                ++i;
                continue;
            }
            return out;
        }
        out += S[i];
    }
    return out;
}

// A decimal (or "0x"/"$" hexadecimal) 64-bit number up to a "|"; ADefault
// when it is empty or no number.
int64_t ReadSizeText(const QString &AText, int64_t ADefault)
{
    QString s = FirstTokenTrimmed(AText, QLatin1Char('|'));
    if (s.size() > 2 && s[0] == QLatin1Char('0') && (s[1] == QLatin1Char('x') || s[1] == QLatin1Char('X')))
        s = QLatin1Char('$') + s.mid(2);
    if (s.isEmpty())
        return ADefault;
    return FirstTokenInt64(s, QLatin1Char('|'), ADefault);
}

// Extensions never compressed: sorted, each once (case ignored).
QStringList NoCompressList(const QString &ACommaText)
{
    QStringList items = CommaTextToItems(ACommaText);
    // Stable: of names that differ only in case the first one stays.
    std::stable_sort(items.begin(), items.end(),
                     [](const QString &A, const QString &B) { return A.compare(B, Qt::CaseInsensitive) < 0; });
    QStringList out;
    for (const QString &item : items)
        if (!item.isEmpty() && (out.isEmpty() || out.last().compare(item, Qt::CaseInsensitive) != 0))
            out.append(item);
    return out;
}

// The program's drive identifier mask, the built-in one when none is set.
QString DefaultDriveIdMask()
{
    const QString &mask = VlSettings.OtherSettings.DefDriveId;
    return mask.isEmpty() ? GetDefaultDriveId() : mask;
}

// ---- Damaged files ----

// Reads a task file and makes sure it is whole. AError receives the text
// to show when it is not (unreadable, cut short, binary data, or no task).
bool ReadTaskFileText(const QString &AFileName, QString &AText, QString &AError)
{
    QByteArray data;
    const uint32_t code = ReadFileBytes(AFileName, data);
    if (code != ERROR_SUCCESS) {
        const char *reason = SysErrorText(code);
        AError = GuardedFormat(Tr("Cannot open file \"%s\". %s"), AFileName, reason ? Tr(reason) : QString::number(code));
        return false;
    }
    TTextEncoding encoding = TTextEncoding::teUtf8;
    AText = DecodeText(data, &encoding);
    const bool utf16 = encoding == TTextEncoding::teUtf16LE || encoding == TTextEncoding::teUtf16BE;
    // Task files are written whole, each line ending in CR LF: a UTF-16
    // file with an odd byte count or an unfinished last line was cut short.
    bool damaged = (utf16 && (data.size() % 2) != 0) || AText.contains(QChar(0));
    if (!damaged && utf16 && !AText.isEmpty() && !AText.endsWith(QLatin1Char('\n')) && !AText.endsWith(QLatin1Char('\r')))
        damaged = true;
    if (!damaged) {
        TMemIniFile probe;
        probe.SetText(AText);
        damaged = !probe.SectionExists(kGlobal);
    }
    if (damaged) {
        AError = GuardedFormat(Tr("The task file \"%s\" is damaged or incomplete!"), AFileName);
        return false;
    }
    return true;
}

// ---- Source entries ----

void ReadFilter(const TUnicodeIniFile &AIni, const QString &ASection, const QString &APrefix,
                TFilterMode ADefaultMode, TTextFilter &AFilter, bool AOffWhenAll)
{
    AFilter.SetRegular(AIni.ReadBool(ASection, APrefix + QStringLiteral("Regular"), false));
    int mode = AIni.ReadInteger(ASection, APrefix + QStringLiteral("FilterMode"), int(ADefaultMode));
    if (mode < int(TFilterMode::fmOff) || mode > int(TFilterMode::fmExclude))
        mode = int(ADefaultMode);
    AFilter.SetMode(TFilterMode(mode));
    QString text = AIni.ReadString(ASection, APrefix + QStringLiteral("Filter"), AFilter.GetMatchAll());
    if (!AFilter.Regular() && text == QStringLiteral("*.*"))
        text = AFilter.GetMatchAll();
    try {
        AFilter.SetFilter(text);
    } catch (const EFilterError &) {
        // An invalid stored filter keeps the filter as it was.
    }
    if (AOffWhenAll && !AFilter.Regular() && text == QStringLiteral("*"))
        AFilter.SetMode(TFilterMode::fmOff);
}

void WriteFilter(TUnicodeIniFile &AIni, const QString &ASection, const QString &APrefix, const TTextFilter &AFilter)
{
    AIni.WriteBool(ASection, APrefix + QStringLiteral("Regular"), AFilter.Regular());
    AIni.WriteInteger(ASection, APrefix + QStringLiteral("FilterMode"), int(AFilter.Mode()));
    AIni.WriteString(ASection, APrefix + QStringLiteral("Filter"), AFilter.GetFilter());
}

// Every key of a Dir section but Enabled, Source, Volume and FileMode,
// which decide whether and how the entry is created.
void ReadDirKeys(const TUnicodeIniFile &AIni, const QString &ASection, TExtensionList &AList)
{
    ReadFilter(AIni, ASection, QString(), TFilterMode::fmInclude, AList.FFilter, true);
    ReadFilter(AIni, ASection, QStringLiteral("Ext"), TFilterMode::fmOff, AList.EFilter, false);

    TTimePeriod &tp = AList.TmPeriod;
    int timeMode = AIni.ReadInteger(ASection, QStringLiteral("TimeMode"), 0);
    if (timeMode < 0 || timeMode > 7)
        timeMode = 0;
    const int ref = AIni.ReadInteger(ASection, QStringLiteral("UseCreationTime"), 0);
    tp.TmRef = ref >= 0 && ref <= int(TTimeRef::trBoth) ? TTimeRef(ref) : TTimeRef::trModify;
    tp.Days = AIni.ReadInteger(ASection, QStringLiteral("Days"), 1);
    const QString defTime = QStringLiteral("06") + FormatSettings().TimeSeparator + QStringLiteral("00");
    TDateTime value = 0;
    bool valid = TryRegionalTextToTime(AIni.ReadString(ASection, QStringLiteral("DayTime"), defTime), value);
    if (valid)
        tp.DayTime = value;
    if (TryRegionalTextToDate(AIni.ReadString(ASection, QStringLiteral("DateFrom"), QString()), value))
        tp.Dat1 = value;
    else
        valid = false;
    if (TryRegionalTextToDate(AIni.ReadString(ASection, QStringLiteral("DateTo"), QString()), value))
        tp.Dat2 = value;
    else
        valid = false;
    tp.Mode = valid ? TTimeMode(timeMode) : TTimeMode::tmAll;

    int sizeMode = AIni.ReadInteger(ASection, QStringLiteral("SizeMode"), 0);
    if (sizeMode < 0 || sizeMode > int(TSizeMode::szBetween))
        sizeMode = 0;
    AList.SizeLimits.Mode = TSizeMode(sizeMode);
    AList.SizeLimits.MinSize = ReadSizeText(AIni.ReadString(ASection, QStringLiteral("MinSize"), QString()), AList.SizeLimits.MinSize);
    AList.SizeLimits.MaxSize = ReadSizeText(AIni.ReadString(ASection, QStringLiteral("MaxSize"), QString()), AList.SizeLimits.MaxSize);
    AList.Attributes = UnpackAttributes(AIni.ReadInteger(ASection, QStringLiteral("Attributes"), 0));

    AList.ICount = AIni.ReadInteger(ASection, QStringLiteral("FileCount"), -1);
    const int high = AIni.ReadInteger(ASection, QStringLiteral("ByteCountH"), -1);
    const int low = AIni.ReadInteger(ASection, QStringLiteral("ByteCountL"), -1);
    AList.IBytes = int64_t((uint64_t(uint32_t(high)) << 32) | uint64_t(uint32_t(low)));
    AList.SyncCount = uint32_t(AIni.ReadInt64(ASection, QStringLiteral("SyncCount"), 0));

    AList.InclMode = (AIni.ReadInteger(ASection, QStringLiteral("BackupMode"), 0) & 1) ? TIncludeMode::buExclude
                                                                                        : TIncludeMode::buInclude;
    // Every name gets fresh counters with Index = its position.
    AList.Include.SetCommaText(AIni.ReadString(ASection, QStringLiteral("Include"), QString()));
    AList.Exclude.SetCommaText(AIni.ReadString(ASection, QStringLiteral("Exclude"), QString()));
    AList.DirMask = CommaTextToItems(AIni.ReadString(ASection, QStringLiteral("DirFilter"), QString()));
    AList.IncludeDirs = AIni.ReadBool(ASection, QStringLiteral("IncludeDirs"), false);

    const int subCount = AIni.ReadInteger(ASection, QStringLiteral("SubCount"), 0);
    for (int i = 0; i < subCount; ++i) {
        const QString sub = DequotedValue(AIni.ReadString(ASection, NumberedKey(QStringLiteral("SubDir"), i), QString()));
        // Only paths below the source are taken.
        if (sub.isEmpty() || HasAbsolutePath(sub))
            continue;
        AList.AddSubDir(JoinPath(AList.SPath, sub));
    }
}

void WriteDirSection(TUnicodeIniFile &AIni, const QString &ASection, const TExtensionList &AList)
{
    AIni.EraseSection(ASection);
    AIni.WriteBool(ASection, QStringLiteral("Enabled"), AList.Selected);
    AIni.WriteString(ASection, QStringLiteral("Source"), AList.VPath);
    AIni.WriteString(ASection, QStringLiteral("Volume"), AList.VName);
    AIni.WriteInteger(ASection, QStringLiteral("FileMode"), int(AList.SubDirMode));
    WriteFilter(AIni, ASection, QString(), AList.FFilter);
    WriteFilter(AIni, ASection, QStringLiteral("Ext"), AList.EFilter);
    const TTimePeriod &tp = AList.TmPeriod;
    AIni.WriteInteger(ASection, QStringLiteral("TimeMode"), int(tp.Mode));
    AIni.WriteInteger(ASection, QStringLiteral("UseCreationTime"), int(tp.TmRef));
    AIni.WriteInteger(ASection, QStringLiteral("Days"), tp.Days);
    AIni.WriteString(ASection, QStringLiteral("DayTime"), RegionalTimeText(tp.DayTime));
    AIni.WriteString(ASection, QStringLiteral("DateFrom"), RegionalDateText(tp.Dat1));
    AIni.WriteString(ASection, QStringLiteral("DateTo"), RegionalDateText(tp.Dat2));
    AIni.WriteInteger(ASection, QStringLiteral("SizeMode"), int(AList.SizeLimits.Mode));
    AIni.WriteString(ASection, QStringLiteral("MinSize"), QString::number(qlonglong(AList.SizeLimits.MinSize)));
    AIni.WriteString(ASection, QStringLiteral("MaxSize"), QString::number(qlonglong(AList.SizeLimits.MaxSize)));
    AIni.WriteInteger(ASection, QStringLiteral("Attributes"), PackAttributes(AList.Attributes));
    AIni.WriteInteger(ASection, QStringLiteral("FileCount"), AList.ICount);
    AIni.WriteInteger(ASection, QStringLiteral("ByteCountH"), int32_t(uint64_t(AList.IBytes) >> 32));
    AIni.WriteInteger(ASection, QStringLiteral("ByteCountL"), int32_t(uint32_t(uint64_t(AList.IBytes))));
    AIni.WriteString(ASection, QStringLiteral("SyncCount"), QString::number(AList.SyncCount));
    AIni.WriteInteger(ASection, QStringLiteral("BackupMode"), int(AList.InclMode));
    if (AList.InclMode == TIncludeMode::buInclude) {
        AIni.WriteString(ASection, QStringLiteral("Include"), AList.Include.CommaText());
        AIni.DeleteKey(ASection, QStringLiteral("Exclude"));
    } else {
        AIni.WriteString(ASection, QStringLiteral("Exclude"), AList.Exclude.CommaText());
        AIni.DeleteKey(ASection, QStringLiteral("Include"));
    }
    AIni.WriteString(ASection, QStringLiteral("DirFilter"), ItemsToCommaText(AList.DirMask));
    AIni.WriteBool(ASection, QStringLiteral("IncludeDirs"), AList.IncludeDirs);
    int n = 0;
    for (int i = 0; i < AList.SubDirList.Count(); ++i) {
        // Marks set by a directory filter are made again on load.
        if (AList.IsFilterMarked(i))
            continue;
        const QString &dir = AList.SubDirList.Strings(i);
        if (!XlDirectoryExists(dir, true))
            continue;
        AIni.WriteString(ASection, NumberedKey(QStringLiteral("SubDir"), n), QuoteIfHasBlank(RelativePathTo(AList.SPath, dir)));
        ++n;
    }
    AIni.WriteInteger(ASection, QStringLiteral("SubCount"), n);
}

void WriteStatistics(TUnicodeIniFile &AIni, const QString &ASection, const TExtensionList &AList)
{
    AIni.WriteInteger(ASection, QStringLiteral("FileCount"), AList.ICount);
    AIni.WriteInteger(ASection, QStringLiteral("ByteCountH"), int32_t(uint64_t(AList.IBytes) >> 32));
    AIni.WriteInteger(ASection, QStringLiteral("ByteCountL"), int32_t(uint32_t(uint64_t(AList.IBytes))));
    AIni.WriteString(ASection, QStringLiteral("SyncCount"), QString::number(AList.SyncCount));
}

// Restores the read-only attribute of a file when it goes out of scope.
class TReadOnlyGuard {
public:
    explicit TReadOnlyGuard(const QString &AFileName) : FFileName(AFileName)
    {
        const uint32_t attr = XlFileGetAttr(AFileName, true);
        FWasReadOnly = attr != faInvalid && (attr & faReadOnly) != 0;
        if (FWasReadOnly)
            XlChangeFileAttr(AFileName, faReadOnly, true, true);
    }
    ~TReadOnlyGuard()
    {
        if (FWasReadOnly)
            XlChangeFileAttr(FFileName, faReadOnly, false, true);
    }
    TReadOnlyGuard(const TReadOnlyGuard &) = delete;
    TReadOnlyGuard &operator=(const TReadOnlyGuard &) = delete;

private:
    QString FFileName;
    bool FWasReadOnly = false;
};

// Clears UpdateBusy however loading ends.
class TBusyGuard {
public:
    explicit TBusyGuard(bool &AFlag) : FFlag(AFlag) { FFlag = true; }
    ~TBusyGuard() { FFlag = false; }
    TBusyGuard(const TBusyGuard &) = delete;
    TBusyGuard &operator=(const TBusyGuard &) = delete;

private:
    bool &FFlag;
};

} // namespace

// ---- Secrets ----

namespace {

QString FindStoredCipher(const std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey,
                         const QByteArray &APlain)
{
    for (const TBackupForm::TStoredSecret &s : AStore)
        if (s.Key == AKey && s.Plain == APlain)
            return s.Cipher;
    return QString();
}

void RememberCipher(std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey, const QByteArray &APlain,
                    const QString &ACipher)
{
    for (TBackupForm::TStoredSecret &s : AStore)
        if (s.Key == AKey) {
            s.Plain = APlain;
            s.Cipher = ACipher;
            return;
        }
    AStore.push_back({AKey, APlain, ACipher});
}

// A password as stored: empty for an empty password.
QString StorePassword(std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey, const QByteArray &APlain)
{
    if (APlain.isEmpty())
        return QString();
    QString cipher = FindStoredCipher(AStore, AKey, APlain);
    if (cipher.isEmpty()) {
        cipher = StoredPasswordText(APlain);
        RememberCipher(AStore, AKey, APlain, cipher);
    }
    return cipher;
}

QByteArray LoadPassword(std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey, const QString &ACipher)
{
    if (ACipher.isEmpty())
        return QByteArray();
    const QByteArray plain = PasswordFromStoredText(ACipher);
    if (!plain.isEmpty())
        RememberCipher(AStore, AKey, plain, ACipher);
    return plain;
}

QString StoreCommand(std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey, const QString &ACommand,
                     bool AEnciphered)
{
    if (!AEnciphered)
        return QuotesToHash(ACommand);
    const QByteArray plain = PasswordToAnsi(ACommand);
    if (plain.isEmpty())
        return QString();
    QString cipher = FindStoredCipher(AStore, AKey, plain);
    if (cipher.isEmpty()) {
        cipher = StoredCommandText(plain);
        RememberCipher(AStore, AKey, plain, cipher);
    }
    return cipher;
}

QString LoadCommand(std::vector<TBackupForm::TStoredSecret> &AStore, const QString &AKey, const QString &AValue,
                    bool AEnciphered)
{
    if (!AEnciphered)
        return HashToQuotes(AValue);
    if (AValue.isEmpty())
        return QString();
    const QByteArray plain = CommandFromStoredText(AValue);
    if (!plain.isEmpty())
        RememberCipher(AStore, AKey, plain, AValue);
    return AnsiToPassword(plain);
}

} // namespace

// ---- Edit status and new tasks ----

void TBackupForm::SetEditStatus(TEditStatus AStatus)
{
    EditStatus = AStatus;
}

void TBackupForm::ResetTaskOptions()
{
    const TVlSettings &vs = VlSettings;

    TaskNote.clear();
    TaskPwd.clear();

    // Destination and account.
    BuFtp = false;
    rbWin.SetChecked(true);
    ResetFtpParams(FtpPar);
    edtFtp.SetText(QString());
    UserAccount = CmdAltUser.Username;
    UserPwd = CmdAltUser.Password;
    DriveId = DefaultDriveIdMask();
    ShowDriveIdentifier();

    // Method and mode.
    DestMode = 0;
    rbSingle.SetChecked(true);
    rbDrives.SetChecked(true);
    pcMethod.SetActivePage(kMethodPageFiles);
    if (UserZipName.isEmpty())
        UserZipName = DefaultZipName();
    ZipNameEdit.SetText(UserZipName);
    MaxZipSize = 0;
    cbZipSize.SetItemIndex(0);
    ClearDest = false;
    UseArchivCB.SetChecked(false);
    ResArchivCB.SetChecked(false);

    // File processing.
    cbCompress.SetChecked(vs.CopySettings.CompMode != 0);
    cbZipCompress.SetChecked(vs.CopySettings.CompMode == 1);
    AktNoComp = NoCompressList(vs.CopySettings.NoCompress);
    NoCompList.SetItems(AktNoComp);
    cbEncrypt.SetChecked(false);
    LastCrypt = 0;
    rbEncAuto.SetChecked(true);
    EncChg = false;
    cbFixPwd.SetChecked(false);
    CryptPwd.clear();
    UseVss = false;
    cbUseVss.SetChecked(false);

    // Copy options.
    cbVerify.SetChecked(false);
    cbSourceDelete.SetChecked(false);
    DelSourceDelDir = 0;
    cbCopySummary.SetChecked(false);
    cbAltStreams.SetChecked(false);
    cbCopyPerms.SetChecked(false);
    cbCreationTime.SetChecked(true);
    cbNoAttributes.SetChecked(false);
    cbDelDir.SetChecked(false);
    FnMode = TTextChange::tcNone;
    ReplMode = TCharRepl::cpNot;
    ReplChar = QLatin1Char('~');
    TaskBufferSize = vs.CopySettings.BufferSize;
    CopyTimeout = 60;
    TimeOutMax = 5;
    MaxRate = 0;
    FullSpeed = true;
    TaskPriority = TThreadPriority::tpNormal;
    NoWriteCache = false;
    DeltaTime = 2;
    DstIgnore = 2;
    CompareMode = 0;
    IgnoreJunctions = true;
    UseJunctions = false;
    FollowJunctions = false;
    ScanDirs = false;
    WriteTsFile = false;
    SkipDir = false;
    DisplayOff = false;
    NoVolCheck = false;

    // Synchronisation and security copies.
    SyncMode = 0;
    cbSync.SetItemIndex(0);
    SyncBefore = false;
    rbSyncAfter.SetChecked(true);
    cbSyncRecycle.SetChecked(false);
    cbSyncRecycle.SetEnabled(false);
    KeepBakCB.SetChecked(false);
    InitBakSecSettings(BakSec);
    KeepSyncCB.SetChecked(false);
    KeepSyncCB.SetEnabled(false);
    InitSyncSecSettings(SyncSec);
    BakNameBtn.SetEnabled(KeepBakCB.Checked());
    SyncNameBtn.SetEnabled(KeepSyncCB.Checked());

    // External programs, log, mail, statistics.
    ResetExternalProg(1, BuPreCmd);
    ResetExternalProg(1, BuPostCmd);
    cbPreC.SetChecked(false);
    cbPostC.SetChecked(false);
    CmdEnc = 0;
    TaskProtMode = vs.LogSettings.LogMode & 0x47;
    TaskLogName = (vs.LogSettings.LogMode & 0x200) ? QStringLiteral("%taskname%.log") : QString();
    ShowErrors = false;
    ErrorSummary = false;
    MailMode = TMailMode::mmNone;
    cbMail.SetChecked(false);
    ResetMailData(MailData);
    BackupCount = 1;
    LastBuTime.SetCaption(QString());
    lblLastSave.SetVisible(false);
    LastBackupTime = 0;
    MaskExprs.clear();
    DirFilterList.SetItems(QStringList());
    FilterBtn.SetEnabled(false);
    lblSum.SetCaption(QString());
    IncludeSumme.SetCaption(QString());
    ExcludeSumme.SetCaption(QString());

    SelectedDirBox.SetSorted(false);
    SortDirs = false;
    StoredSecrets.clear();
    UpdateCryptControls();
    SetEditStatus(TEditStatus::esNew);
}

void TBackupForm::InitNewTask()
{
    ResetTaskOptions();
    ClearDirList();
    IncludeItem = -1;
    ExcludeItem = -1;
    ActTaskName.clear();
    ACaptType = TACaptionType::ctNew;
    pcMethod.SetActivePage(kMethodPageFiles);
    ResetNewPeriod();
    BuModeCB.SetItemIndex(BackupModeIndex());
    UpdateOptionControls();
}

// ---- Loading ----

bool TBackupForm::LoadTask(const QString &AFileName, bool ARun, TInteraction AInterAct)
{
    if (AFileName.isEmpty() || !XlFileExists(AFileName, true))
        return false;

    // The whole file is checked before anything changes: a damaged file
    // leaves the editor as it was.
    QString text, error;
    if (!ReadTaskFileText(AFileName, text, error)) {
        ShowErrorBox(error, 0);
        return false;
    }
    TUnicodeIniFile ini = TUnicodeIniFile::CreateForRead(QString());
    ini.SetText(text);

    TBusyGuard busy(UpdateBusy);
    LoadedTaskName = AFileName;
    if (ARun)
        ResetTaskOptions();

    const TVlSettings &vs = VlSettings;
    if (ARun) {
        // ---- [Global], [Ftp], [Proxy], [Mail], [User], [DirFilter] ----
        BuFtp = ini.ReadBool(kGlobal, QStringLiteral("FtpBackup"), false);
        BuZiel.SetText(ini.ReadString(kGlobal, QStringLiteral("Destination"), QString()));
        UpdateComboHistory(BuZiel);
        TargetType = BuZiel.Text().isEmpty() ? TFileSystem::fsNotAvail : GetFileSystemType(BuZiel.Text());
        TaskNote = HashToQuotes(ini.ReadString(kGlobal, QStringLiteral("Note"), QString()));
        TaskPwd = LoadPassword(StoredSecrets, QStringLiteral("TaskPwd"), ini.ReadString(kGlobal, QStringLiteral("TaskPwd"), QString()));
        DriveId = ini.ReadString(kGlobal, QStringLiteral("DriveId"), DefaultDriveIdMask());
        ShowDriveIdentifier();
        LoadFtpParamsFromIni(ini, kFtp, FtpPar);
        edtFtp.SetText(FtpDestinationUrl(FtpPar));

        const int ftpSpeed = ini.ReadInteger(kFtp, QStringLiteral("Speed"), 0);
        MaxRate = ini.ReadInteger(kGlobal, QStringLiteral("Speed"), ftpSpeed);
        if (MaxRate == 0 && ftpSpeed > 0)
            MaxRate = ftpSpeed;
        FullSpeed = ini.ReadBool(kGlobal, QStringLiteral("MaxLoad"), true);
        int prio = ini.ReadInteger(kGlobal, QStringLiteral("Priority"), int(TThreadPriority::tpNormal));
        if (prio < int(TThreadPriority::tpIdle) || prio > int(TThreadPriority::tpTimeCritical))
            prio = int(TThreadPriority::tpNormal);
        TaskPriority = TThreadPriority(prio);
        int mailMode = ini.ReadInteger(kGlobal, QStringLiteral("SendMail"), 0);
        LoadMailDataFromIni(ini, kMail, MailData);
        if (mailMode < int(TMailMode::mmNone) || mailMode > int(TMailMode::mmError) || MailData.SMTP.isEmpty()
            || MailData.Recipients.isEmpty())
            mailMode = int(TMailMode::mmNone);
        MailMode = TMailMode(mailMode);
        cbMail.SetChecked(MailMode != TMailMode::mmNone);

        cbSourceDelete.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("DeleteFile"), false));
        DelSourceDelDir = ini.ReadInteger(kGlobal, QStringLiteral("DeleteDirs"), 0);
        cbVerify.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("Verify"), false));
        UseVss = ini.ReadBool(kGlobal, QStringLiteral("UseVss"), false);
        cbCompress.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("Compress"), vs.CopySettings.CompMode != 0));
        if (ini.ValueExists(kGlobal, QStringLiteral("CompressAsZip")))
            cbZipCompress.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CompressAsZip"), false) && cbCompress.Checked());
        const QString noComp = ini.ReadString(kGlobal, QStringLiteral("NoCompTypes"), QString());
        if (noComp == QStringLiteral("#"))
            AktNoComp.clear();
        else
            AktNoComp = NoCompressList(noComp.isEmpty() ? vs.CopySettings.NoCompress : noComp);
        NoCompList.SetItems(AktNoComp);

        DestMode = ini.ReadInteger(kGlobal, QStringLiteral("DestMode"), 0);
        if (DestMode < 0 || DestMode > 7)
            DestMode = 0;
        int crypt = ini.ReadInteger(kGlobal, QStringLiteral("Encrypt"), 0);
        if (crypt < 0 || crypt > 3)
            crypt = 0;
        LastCrypt = crypt;
        cbEncrypt.SetChecked(crypt > 0);
        (crypt == 2 ? rbEnc128 : crypt == 3 ? rbEnc256 : rbEncAuto).SetChecked(true);
        const QString encNamesKey = ini.ValueExists(kGlobal, QStringLiteral("EncrypFilenames")) ? QStringLiteral("EncrypFilenames")
                                                                                                : QStringLiteral("EncryptFilenames");
        cbEncNames.SetChecked(ini.ReadBool(kGlobal, encNamesKey, false) && cbEncrypt.Checked() && DestMode >= 4);
        EncChg = ini.ReadBool(kGlobal, QStringLiteral("ChangedEnc"), false);
        bool fixPwd = ini.ReadBool(kGlobal, QStringLiteral("FixPassword"), false) && cbEncrypt.Checked();
        QByteArray pwd = LoadPassword(StoredSecrets, QStringLiteral("Password"), ini.ReadString(kGlobal, QStringLiteral("Password"), QString()));
        if (!cbEncrypt.Checked())
            pwd.clear();
        if (fixPwd && pwd.isEmpty()) {
            cbEncrypt.SetChecked(true);
            fixPwd = false;
        }
        CryptPwd = pwd;
        cbFixPwd.SetChecked(fixPwd);
        UpdateCryptControls();

        int fnMode = ini.ReadInteger(kGlobal, QStringLiteral("ChangeNames"), 0);
        FnMode = fnMode >= 0 && fnMode <= int(TTextChange::tcUpper) ? TTextChange(fnMode) : TTextChange::tcNone;
        TaskBufferSize = ini.ReadInteger(kGlobal, QStringLiteral("BufferSize"),
                                         BuFtp ? vs.CopySettings.FTPBufferSize : vs.CopySettings.BufferSize);
        CopyTimeout = ini.ReadInteger(kGlobal, QStringLiteral("Timeout"), 60);
        TimeOutMax = ini.ReadInteger(kGlobal, QStringLiteral("TimeoutMax"), 5);
        TaskProtMode = ini.ReadInteger(kGlobal, QStringLiteral("LogFile"), vs.LogSettings.LogMode & 0x47);
        ShowErrors = (TaskProtMode & 0x400) != 0;
        TaskLogName = ini.ReadString(kGlobal, QStringLiteral("LogName"), QString());
        DeltaTime = ini.ReadInteger(kGlobal, QStringLiteral("Timespan"), 2);
        DstIgnore = ini.ReadInteger(kGlobal, QStringLiteral("IgnoreDst"), 2);
        if (ini.ValueExists(kGlobal, QStringLiteral("CompareMode"))) {
            CompareMode = ini.ReadInteger(kGlobal, QStringLiteral("CompareMode"), 0);
        } else if (ini.ReadBool(kGlobal, QStringLiteral("CompareExact"), false)) {
            CompareMode = ini.ReadBool(kGlobal, QStringLiteral("CompareSize"), false) ? 2 : 1;
        } else {
            CompareMode = 0;
        }
        if (CompareMode < 0 || CompareMode > 3)
            CompareMode = 0;
        IgnoreJunctions = ini.ReadBool(kGlobal, QStringLiteral("IgnoreJunctions"), true);
        UseJunctions = !IgnoreJunctions && ini.ReadBool(kGlobal, QStringLiteral("AllowJunctions"), false);
        FollowJunctions = !IgnoreJunctions && ini.ReadBool(kGlobal, QStringLiteral("FollowJunctions"), false);
        ScanDirs = ini.ReadBool(kGlobal, QStringLiteral("ScanDirectories"), false);
        NoWriteCache = ini.ReadBool(kGlobal, QStringLiteral("NoWriteCache"), false);
        WriteTsFile = ini.ReadBool(kGlobal, QStringLiteral("TimestampFile"), false);
        SkipDir = ini.ReadBool(kGlobal, QStringLiteral("SkipUnavailDir"), false);
        DisplayOff = ini.ReadBool(kGlobal, QStringLiteral("AllowDisplayOff"), false);
        NoVolCheck = ini.ReadBool(kGlobal, QStringLiteral("NoVolumeCheck"), false);
        ReplMode = ini.ReadInteger(kGlobal, QStringLiteral("ReplMode"), 0) == int(TCharRepl::cpSimple) ? TCharRepl::cpSimple
                                                                                                      : TCharRepl::cpNot;
        const int replChar = ini.ReadInteger(kGlobal, QStringLiteral("ReplChar"), 126);
        ReplChar = replChar > 0 && replChar <= 0xFFFF ? QChar(char16_t(replChar)) : QLatin1Char('~');

        if (CmdAltUser.Username.isEmpty()) {
            const QString user = ini.ReadString(kUser, QStringLiteral("Username"), QString());
            if (!user.isEmpty()) {
                UserAccount = user;
                UserPwd = AnsiToPassword(LoadPassword(StoredSecrets, QStringLiteral("UserPwd"),
                                                      ini.ReadString(kUser, QStringLiteral("Password"), QString())));
            }
        }

        UserZipName = ini.ReadString(kGlobal, QStringLiteral("ZipDefault"), DefaultZipName());
        QString zipName = ini.ReadString(kGlobal, QStringLiteral("ZipName"), UserZipName);
        if (DestMode == 5)
            zipName = Tr("<root directory>") + zipName;
        ZipNameEdit.SetText(zipName.isEmpty() ? UserZipName : zipName);
        MaxZipSize = ini.ReadInt64(kGlobal, QStringLiteral("ZipSize"), 0);

        SyncMode = ini.ReadInteger(kGlobal, QStringLiteral("SyncMode"), 0);
        if (SyncMode < 0 || SyncMode > 3)
            SyncMode = 0;
        cbSync.SetItemIndex(SyncMode);
        SyncBefore = ini.ReadBool(kGlobal, QStringLiteral("SyncBefore"), false);
        (SyncBefore ? rbSyncBefore : rbSyncAfter).SetChecked(true);
        cbSyncRecycle.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("UseRecycler"), false));
        KeepBakCB.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("BakFiles"), false));
        int secMode = ini.ReadInteger(kGlobal, QStringLiteral("BakSecMode"), 0);
        BakSec.DirMode = secMode >= 0 && secMode <= int(TSecDirMode::sdRootDrive) ? TSecDirMode(secMode) : TSecDirMode::sdNone;
        BakSec.DirPrefix = ini.ReadString(kGlobal, QStringLiteral("BakPrefix"), vs.SecCopySettings.BakPrefix);
        BakSec.FileSuffix = ini.ReadString(kGlobal, QStringLiteral("BakSuffix"), vs.SecCopySettings.BakSuffix);
        ParseBakSuffix(BakSec.FileSuffix, BakSec.MaxHist, BakSec.MinHist, BakSec.AgeInWeeks);
        BakSec.GetBDateSeparator();
        KeepSyncCB.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("SyncFiles"), false));
        secMode = ini.ReadInteger(kGlobal, QStringLiteral("SyncSecMode"), 0);
        SyncSec.DirMode = secMode >= 0 && secMode <= int(TSecDirMode::sdRootDrive) ? TSecDirMode(secMode) : TSecDirMode::sdNone;
        SyncSec.DirPrefix = ini.ReadString(kGlobal, QStringLiteral("SyncPrefix"), vs.SecCopySettings.SyncPrefix);
        SyncSec.DirSuffix = ini.ReadString(kGlobal, QStringLiteral("DirSuffix"), vs.SecCopySettings.SyncPrefix);
        SyncSec.FileSuffix = ini.ReadString(kGlobal, QStringLiteral("SyncSuffix"), vs.SecCopySettings.SyncSuffix);
        if (SyncSec.FileSuffix.isEmpty() && SyncSec.DirMode == TSecDirMode::sdNone)
            SyncSec.FileSuffix = vs.SecCopySettings.SyncSuffix;
        SyncSec.GetBDateSeparator();

        cbCopySummary.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CopySummary"), false));
        cbAltStreams.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CopyAltStreams"), false));
        cbCopyPerms.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CopyPermissions"), false));
        cbCreationTime.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CreationTime"), true));
        cbNoAttributes.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("CopyNoAttributes"), false));
        cbDelDir.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("EmptyDirs"), false));

        CmdEnc = ini.ReadInteger(kGlobal, QStringLiteral("EncryptCommands"), 0);
        const bool enc = CmdEnc == 1;
        BuPreCmd.Command = LoadCommand(StoredSecrets, QStringLiteral("PreCommand"),
                                       ini.ReadString(kGlobal, QStringLiteral("PreCommand"), QString()), enc);
        BuPreCmd.Wait = ini.ReadInteger(kGlobal, QStringLiteral("PreWait"), 0);
        BuPreCmd.ErrorLevel = ini.ReadInteger(kGlobal, QStringLiteral("PreErrorLevel"), 1);
        BuPostCmd.Command = LoadCommand(StoredSecrets, QStringLiteral("PostCommand"),
                                        ini.ReadString(kGlobal, QStringLiteral("PostCommand"), QString()), enc);
        BuPostCmd.Wait = ini.ReadInteger(kGlobal, QStringLiteral("PostWait"), 0);
        BuPostCmd.ErrorLevel = ini.ReadInteger(kGlobal, QStringLiteral("PostConditions"), 1);
        cbPreC.SetChecked((BuPreCmd.Wait & kWaitRun) != 0);
        cbPreC.SetHint(BuPreCmd.Command);
        cbPostC.SetChecked((BuPostCmd.Wait & kWaitRun) != 0);
        cbPostC.SetHint(BuPostCmd.Command);

        ClearDest = ini.ReadBool(kGlobal, QStringLiteral("ClearDest"), false) && DestMode <= 3;
        ResArchivCB.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("ArchBit"), false));
        UseArchivCB.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("UseArch"), false));
        cbArchFile.SetChecked(ini.ReadBool(kGlobal, QStringLiteral("OnlyArch"), false));
        if (!ClearDest && !UseArchivCB.Checked()) {
            if (DestMode <= 3)
                ResArchivCB.SetChecked(false);
            cbArchFile.SetChecked(false);
        }
        BackupCount = ini.ReadInteger(kGlobal, QStringLiteral("BackupCount"), 1);
        const QString lastBackup = ini.ReadString(kGlobal, QStringLiteral("LastBackup"), QString());
        LastBuTime.SetCaption(lastBackup);
        if (!TryRegionalTextToDateTime(lastBackup, LastBackupTime))
            LastBackupTime = 0;
        lblLastSave.SetVisible(true);

        // The log the viewer shows for this task.
        if (TaskLogName.isEmpty()) {
            LastLogFile = ProgramLogName;
        } else {
            QString dest = BuZiel.Text();
            QString label;
            ResolveVolumeLabelPath(dest, label, false);
            dest = ExpandDestPlaceHolders(dest, ini.ReadString(DirSectionName(0), QStringLiteral("Volume"), QString()), BackupCount);
            LastLogFile = ExpandLogName(TaskLogName, AFileName, dest, true);
        }

        MaskExprs.clear();
        const int maskCount = ini.ReadInteger(kDirFilter, QStringLiteral("Count"), 0);
        for (int i = 0; i < maskCount; ++i) {
            QString mask = DequotedValue(ini.ReadString(kDirFilter, NumberedKey(QStringLiteral("Mask"), i), QString()));
            const qsizetype bar = mask.indexOf(QLatin1Char('|'));
            if (bar >= 0)
                mask = mask.mid(bar + 1);
            MaskExprs.append(mask);
        }
        DirFilterList.SetItems(MaskExprs);
    }

    // ---- Source entries ----
    int dirCount = ini.ReadInteger(kGlobal, QStringLiteral("DirCount"), 0);
    if (ARun && DestMode == 2 && dirCount > 1)
        ClearDest = false;
    const bool replace = !ReplSourceDir.isEmpty();
    if (replace && dirCount > 1)
        dirCount = 1;
    const bool prompt = IsPromptInteraction(AInterAct) && !SkipDir;
    bool rescan = replace;
    bool stopped = false;
    for (int n = 0; n < dirCount && !stopped; ++n) {
        const QString section = DirSectionName(n);
        if (!ini.SectionExists(section))
            continue;
        const QString source = ini.ReadString(section, QStringLiteral("Source"), QString());
        if (source.isEmpty())
            continue;
        int fileMode = ini.ReadInteger(section, QStringLiteral("FileMode"), 0);
        if (fileMode < 0 || fileMode > int(TSubDirMode::sdmPortable))
            fileMode = 0;
        TExtensionList list(NewPeriod, TSubDirMode(fileMode));
        list.VPath = source;
        list.VName = ini.ReadString(section, QStringLiteral("Volume"), QString());
        if (replace) {
            list.VPath = ReplSourceDir;
            list.VName.clear();
        }
        list.SPath = ExpandFolderPlaceHolders(list.VPath);
        if (!IsRemovableDrive(list.SPath))
            list.VName.clear();
        list.SectionName = replace ? QString() : section;

        QString relPath, drive, path;
        const int code = ResolveSourceVolume(list.SPath, list.VName, relPath, drive, path, prompt);
        if (code == ERROR_CANCELLED || code == 1246) {
            // The user gave up on the medium: the entry stays with its
            // paths only, and no later entry is read.
            list.IsAvailable = false;
            stopped = true;
        } else {
            uint32_t access = 0;
            list.IsAvailable = code == 0 && XlCheckDirAccess(path, access);
            list.Selected = ini.ReadBool(section, QStringLiteral("Enabled"), true);
            ReadDirKeys(ini, section, list);
            if (list.ICount < 0 || list.IBytes < 0)
                rescan = true;
            list.DoUpdate = rescan;
        }
        QString entryText;
        GetDirEntryText(list, true, entryText, false);
        SelectedDirBox.Add(entryText, std::move(list));
        FilterBtn.SetEnabled(true);
    }
    if (stopped)
        return false;

    // ---- Directory filters of the entries ----
    bool anyFilters = false;
    for (int i = 0; i < SelectedDirBox.Count() && !anyFilters; ++i)
        anyFilters = SelectedDirBox.Checked(i) && !SelectedDirBox.Objects(i).DirMask.isEmpty();
    if (anyFilters) {
        OpenStatusWindow(QStringLiteral("Velkor - ") + Tr("Backup task") + QStringLiteral(": ")
                             + StripExtension(LastPathElement(AFileName)),
                         QString(), 0, false);
        StatusWindow().SetInfo(Tr("Applying directory filters"));
        for (int i = 0; i < SelectedDirBox.Count(); ++i) {
            TExtensionList &list = SelectedDirBox.Objects(i);
            if (!SelectedDirBox.Checked(i) || list.DirMask.isEmpty())
                continue;
            StatusWindow().SetStatus(list.SPath);
            ApplyDirFilters(list, true, false);
        }
        CloseStatusWindow();
    }

    // ---- The editor ----
    for (int i = 0; i < SelectedDirBox.Count(); ++i)
        if (SelectedDirBox.Objects(i).IsAvailable) {
            SelectedDirBox.SetItemIndex(i);
            break;
        }
    if (ARun) {
        static TRadioButtonState TBackupForm::*const kMethodButtons[] = {
            &TBackupForm::rbDrives, &TBackupForm::rbOrigin, &TBackupForm::rbOneDir, &TBackupForm::rbRoot,
            &TBackupForm::rbOneZip, &TBackupForm::rbZipRoot, &TBackupForm::rbZipDir, &TBackupForm::rbZipOrg};
        (DestMode > 3 ? rbZip : rbSingle).SetChecked(true);
        (this->*kMethodButtons[DestMode]).SetChecked(true);
        pcMethod.SetActivePage(DestMode > 3 ? kMethodPageZip : kMethodPageFiles);
        BuModeCB.SetItemIndex(BackupModeIndex());
        (BuFtp ? rbFtp : rbWin).SetChecked(true);
        UpdateOptionControls();
        if (cbUseVss.Enabled())
            cbUseVss.SetChecked(UseVss);
    }
    SetEditStatus(TEditStatus::esSaved);
    return true;
}

// ---- Saving ----

bool TBackupForm::SaveTask(const QString &AFileName, const std::vector<int> &DirOrder)
{
    UpdateComboHistory(BuZiel);
    LoadedTaskName = AFileName;

    std::vector<int> order = DirOrder;
    if (order.empty())
        for (int i = 0; i < SelectedDirBox.Count(); ++i)
            order.push_back(i);
    std::vector<QString> written(size_t(SelectedDirBox.Count()));

    bool saved = false;
    try {
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(AFileName, true);
        ini.WriteProgramInfo(QStringLiteral("Program"), kProgramName);
        ini.WriteProgramInfo(QStringLiteral("Version"), ProgramVersionText());

        const bool zipCompress = cbZipCompress.Checked() && cbCompress.Checked();
        // Mode 5 shows "<root directory>" in front of the name.
        QString zipName = ZipNameEdit.Text();
        if (DestMode == 5) {
            const qsizetype dash = zipName.indexOf(QLatin1Char('-'));
            zipName = dash < 0 ? QString() : zipName.mid(dash);
        }

        if (SelectedDirBox.Count() == 0) {
            ini.WriteString(kGlobal, QStringLiteral("Destination"), BuZiel.Text());
            ini.WriteBool(kGlobal, QStringLiteral("Compress"), cbCompress.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CompressAsZip"), zipCompress);
            ini.WriteString(kGlobal, QStringLiteral("NoCompTypes"), ItemsToCommaText(AktNoComp));
            ini.WriteInteger(kGlobal, QStringLiteral("DestMode"), DestMode);
            ini.WriteString(kGlobal, QStringLiteral("ZipDefault"), UserZipName);
            ini.WriteString(kGlobal, QStringLiteral("ZipName"), zipName);
            ini.WriteString(kGlobal, QStringLiteral("LastBackup"), LastBuTime.Caption());
            ini.WriteInteger(kGlobal, QStringLiteral("DirCount"), 0);
        } else {
            ini.WriteBool(kGlobal, QStringLiteral("FtpBackup"), BuFtp);
            ini.WriteString(kGlobal, QStringLiteral("Destination"), BuZiel.Text());
            ini.WriteString(kGlobal, QStringLiteral("Note"), QuotesToHash(TaskNote));
            ini.WriteString(kGlobal, QStringLiteral("TaskPwd"), StorePassword(StoredSecrets, QStringLiteral("TaskPwd"), TaskPwd));
            ini.WriteString(kGlobal, QStringLiteral("DriveId"), DriveId);
            SaveFtpParamsToIni(ini, kFtp, FtpPar);
            ini.WriteInteger(kGlobal, QStringLiteral("Speed"), MaxRate);
            ini.WriteBool(kGlobal, QStringLiteral("MaxLoad"), FullSpeed);
            ini.WriteInteger(kGlobal, QStringLiteral("Priority"), int(TaskPriority));
            ini.WriteInteger(kGlobal, QStringLiteral("SendMail"), int(MailMode));
            SaveMailDataToIni(ini, kMail, MailData);
            ini.WriteBool(kGlobal, QStringLiteral("DeleteFile"), cbSourceDelete.Checked());
            ini.WriteInteger(kGlobal, QStringLiteral("DeleteDirs"), DelSourceDelDir);
            ini.WriteBool(kGlobal, QStringLiteral("Verify"), cbVerify.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("UseVss"), UseVss);
            ini.WriteBool(kGlobal, QStringLiteral("Compress"), cbCompress.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CompressAsZip"), zipCompress);
            ini.WriteString(kGlobal, QStringLiteral("NoCompTypes"),
                            AktNoComp.isEmpty() ? QStringLiteral("#") : ItemsToCommaText(AktNoComp));
            const int crypt = !cbEncrypt.Checked() ? 0 : rbEnc128.Checked() ? 2 : rbEnc256.Checked() ? 3 : 1;
            ini.WriteInteger(kGlobal, QStringLiteral("Encrypt"), crypt);
            ini.WriteBool(kGlobal, QStringLiteral("EncryptFilenames"), cbEncNames.Checked() && cbEncrypt.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("ChangedEnc"), EncChg || cbEncrypt.Checked() != (LastCrypt > 0));
            ini.WriteBool(kGlobal, QStringLiteral("FixPassword"), cbFixPwd.Checked());
            ini.WriteString(kGlobal, QStringLiteral("Password"),
                            cbFixPwd.Checked() ? StorePassword(StoredSecrets, QStringLiteral("Password"), CryptPwd) : QString());
            ini.WriteInteger(kGlobal, QStringLiteral("ChangeNames"), int(FnMode));
            ini.WriteInteger(kGlobal, QStringLiteral("BufferSize"), TaskBufferSize);
            ini.WriteInteger(kGlobal, QStringLiteral("Timeout"), CopyTimeout);
            ini.WriteInteger(kGlobal, QStringLiteral("TimeoutMax"), TimeOutMax);
            ini.WriteInteger(kGlobal, QStringLiteral("LogFile"), ShowErrors ? (TaskProtMode | 0x400) : (TaskProtMode & ~0x400));
            ini.WriteString(kGlobal, QStringLiteral("LogName"), TaskLogName);
            ini.WriteInteger(kGlobal, QStringLiteral("Timespan"), DeltaTime);
            ini.WriteInteger(kGlobal, QStringLiteral("IgnoreDst"), DstIgnore);
            ini.WriteInteger(kGlobal, QStringLiteral("CompareMode"), CompareMode);
            ini.WriteBool(kGlobal, QStringLiteral("IgnoreJunctions"), IgnoreJunctions);
            ini.WriteBool(kGlobal, QStringLiteral("AllowJunctions"), UseJunctions);
            ini.WriteBool(kGlobal, QStringLiteral("FollowJunctions"), FollowJunctions);
            ini.WriteBool(kGlobal, QStringLiteral("ScanDirectories"), ScanDirs);
            ini.WriteBool(kGlobal, QStringLiteral("NoWriteCache"), NoWriteCache);
            ini.WriteBool(kGlobal, QStringLiteral("TimestampFile"), WriteTsFile);
            ini.WriteBool(kGlobal, QStringLiteral("SkipUnavailDir"), SkipDir);
            ini.WriteBool(kGlobal, QStringLiteral("AllowDisplayOff"), DisplayOff);
            ini.WriteBool(kGlobal, QStringLiteral("NoVolumeCheck"), NoVolCheck);
            ini.WriteInteger(kGlobal, QStringLiteral("ReplMode"), int(ReplMode));
            ini.WriteInteger(kGlobal, QStringLiteral("ReplChar"), ReplChar.unicode());
            // A command-line account is never stored.
            if (CmdAltUser.Username.isEmpty()) {
                ini.WriteString(kUser, QStringLiteral("Username"), UserAccount);
                ini.WriteString(kUser, QStringLiteral("Password"),
                                StorePassword(StoredSecrets, QStringLiteral("UserPwd"), PasswordToAnsi(UserPwd)));
            }
            ini.WriteInteger(kGlobal, QStringLiteral("DestMode"), DestMode);
            ini.WriteString(kGlobal, QStringLiteral("ZipDefault"), UserZipName);
            ini.WriteString(kGlobal, QStringLiteral("ZipName"), zipName);
            ini.WriteInt64(kGlobal, QStringLiteral("ZipSize"), MaxZipSize);
            if (ClearDest) {
                SyncMode = 0;
                cbSync.SetItemIndex(0);
            }
            ini.WriteInteger(kGlobal, QStringLiteral("SyncMode"), SyncMode);
            ini.WriteBool(kGlobal, QStringLiteral("SyncBefore"), SyncBefore);
            ini.WriteBool(kGlobal, QStringLiteral("UseRecycler"), cbSyncRecycle.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("BakFiles"), KeepBakCB.Checked());
            ini.WriteInteger(kGlobal, QStringLiteral("BakSecMode"), int(BakSec.DirMode));
            ini.WriteString(kGlobal, QStringLiteral("BakPrefix"), BakSec.DirPrefix);
            ini.WriteString(kGlobal, QStringLiteral("BakSuffix"),
                            ComposeBakSuffix(BakSec.FileSuffix, BakSec.MaxHist, BakSec.MinHist, BakSec.AgeInWeeks));
            ini.WriteBool(kGlobal, QStringLiteral("SyncFiles"), KeepSyncCB.Checked());
            ini.WriteInteger(kGlobal, QStringLiteral("SyncSecMode"), int(SyncSec.DirMode));
            ini.WriteString(kGlobal, QStringLiteral("SyncPrefix"), SyncSec.DirPrefix);
            ini.WriteString(kGlobal, QStringLiteral("DirSuffix"), SyncSec.DirSuffix);
            ini.WriteString(kGlobal, QStringLiteral("SyncSuffix"), SyncSec.FileSuffix);
            ini.WriteBool(kGlobal, QStringLiteral("CopySummary"), cbCopySummary.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CopyAltStreams"), cbAltStreams.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CopyPermissions"), cbCopyPerms.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CreationTime"), cbCreationTime.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("CopyNoAttributes"), cbNoAttributes.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("EmptyDirs"), cbDelDir.Checked());
            const bool enc = CmdEnc == 1;
            ini.WriteInteger(kGlobal, QStringLiteral("EncryptCommands"), CmdEnc);
            ini.WriteString(kGlobal, QStringLiteral("PreCommand"),
                            StoreCommand(StoredSecrets, QStringLiteral("PreCommand"), BuPreCmd.Command, enc));
            ini.WriteInteger(kGlobal, QStringLiteral("PreWait"), BuPreCmd.Wait);
            ini.WriteInteger(kGlobal, QStringLiteral("PreErrorLevel"), BuPreCmd.ErrorLevel);
            ini.WriteString(kGlobal, QStringLiteral("PostCommand"),
                            StoreCommand(StoredSecrets, QStringLiteral("PostCommand"), BuPostCmd.Command, enc));
            ini.WriteInteger(kGlobal, QStringLiteral("PostWait"), BuPostCmd.Wait);
            ini.WriteInteger(kGlobal, QStringLiteral("PostConditions"), BuPostCmd.ErrorLevel);
            ini.WriteBool(kGlobal, QStringLiteral("ClearDest"), ClearDest);
            ini.WriteBool(kGlobal, QStringLiteral("ArchBit"), ResArchivCB.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("UseArch"), UseArchivCB.Checked());
            ini.WriteBool(kGlobal, QStringLiteral("OnlyArch"), cbArchFile.Checked());
            ini.WriteInteger(kGlobal, QStringLiteral("BackupCount"), BackupCount);
            ini.WriteString(kGlobal, QStringLiteral("LastBackup"), LastBuTime.Caption());

            QStringList masks;
            for (const QString &mask : MaskExprs)
                if (!mask.isEmpty())
                    masks.append(mask);
            ini.WriteInteger(kDirFilter, QStringLiteral("Count"), int(masks.size()));
            for (int i = 0; i < masks.size(); ++i)
                ini.WriteString(kDirFilter, NumberedKey(QStringLiteral("Mask"), i), QuoteIfHasBlank(masks.at(i)));

            int n = 0;
            for (int index : order) {
                if (index < 0 || index >= SelectedDirBox.Count())
                    continue;
                const QString section = DirSectionName(n);
                WriteDirSection(ini, section, SelectedDirBox.Objects(index));
                written[size_t(index)] = section;
                ++n;
            }
            ini.WriteInteger(kGlobal, QStringLiteral("DirCount"), n);
        }

        ActTaskName = AFileName;
        ini.Save();
        saved = true;
    } catch (const std::exception &) {
        ActTaskName = AFileName;
    }
    if (!saved) {
        ShowErrorBox(GuardedFormat(Tr("Error saving task \"%s\"!"), AFileName), 0);
        return false;
    }
    // From now on the entries' statistics belong to the sections just
    // written; entries left out are not in this file.
    for (int i = 0; i < SelectedDirBox.Count(); ++i)
        SelectedDirBox.Objects(i).SectionName = written[size_t(i)];
    return true;
}

// ---- Run statistics ----

void TBackupForm::WriteTaskStatistics(const QString &AFileName)
{
    if (AFileName.isEmpty())
        return;
    const QString failed = QStringLiteral("  *** ") + GuardedFormat(Tr("Could not update task file: \"%s\""), AFileName);
    if (!XlFileExists(AFileName, true)) {
        WriteToLog(failed);
        return;
    }
    TReadOnlyGuard readOnly(AFileName);
    try {
        QString text, error;
        if (!ReadTaskFileText(AFileName, text, error)) {
            // Rewriting a damaged file would lose what it still holds.
            WriteToLog(QStringLiteral("  *** ") + error);
            return;
        }
        TUnicodeIniFile ini = TUnicodeIniFile::CreateForWrite(AFileName, false);
        ini.WriteProgramInfo(QStringLiteral("Program"), kProgramName);
        ini.WriteProgramInfo(QStringLiteral("Version"), ProgramVersionText());
        ini.DeleteKey(kGlobal, QStringLiteral("Program"));
        ini.DeleteKey(kGlobal, QStringLiteral("Version"));

        EncChg = false;
        LastCrypt = cbEncrypt.Checked() ? 1 : 0;
        ini.WriteBool(kGlobal, QStringLiteral("ChangedEnc"), false);
        ++BackupCount;
        ini.WriteInteger(kGlobal, QStringLiteral("BackupCount"), BackupCount);
        // The editor keeps the same text, so a later save does not undo it.
        LastBackupTime = StartTime;
        LastBuTime.SetCaption(RegionalDateTimeText(StartTime));
        ini.WriteString(kGlobal, QStringLiteral("LastBackup"), LastBuTime.Caption());

        // Each entry goes to the section it came from, and only while that
        // section still holds its source: a gap in the numbering, an entry
        // added since the last save or a file edited elsewhere never puts
        // one entry's counts into another's section.
        std::set<QString> done;
        for (int i = 0; i < SelectedDirBox.Count(); ++i) {
            const TExtensionList &list = SelectedDirBox.Objects(i);
            const QString &section = list.SectionName;
            if (section.isEmpty() || !ini.SectionExists(section) || done.count(section.toUpper()) != 0)
                continue;
            if (ini.ReadString(section, QStringLiteral("Source"), QString()) != list.VPath)
                continue;
            WriteStatistics(ini, section, list);
            done.insert(section.toUpper());
        }
        try {
            ini.Save();
        } catch (const EWriteError &) {
            WriteToLog(failed);
        }
    } catch (const Exception &e) {
        WriteToLog(QStringLiteral("  *** ") + e.Message());
    } catch (const std::exception &e) {
        WriteToLog(QStringLiteral("  *** ") + QString::fromUtf8(e.what()));
    }
}

} // namespace vl
