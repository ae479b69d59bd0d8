// TExtFtp: listings, lookups, times, files, directories and the transfers.
#include "engine/FtpUtils.h"

#include "core/FileStream.h"
#include "core/Masks.h"
#include "core/PathUtils.h"
#include "core/XlFileUtils.h"
#include "platform/Thread.h"

#include <chrono>
#include <thread>

namespace vl {

namespace {

void Pause200()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Failures the reconnect-and-retry rule repairs.
bool IsConnectionError(const ENetError &e, bool ATimeoutToo)
{
    return e.Kind == ENetError::TKind::SocketError || e.Kind == ENetError::TKind::ConnClosed
        || (ATimeoutToo && e.Kind == ENetError::TKind::ReadTimeout);
}

bool IsDotName(const QString &AName)
{
    return !IsRegularDirName(AName);
}

// "YYYYMMDDHHMMSS[.fff]" as a date-time; false when it is none.



// Puts a value back on every way out.
template <typename T>
class TRestore {
public:
    explicit TRestore(T &AValue) : FValue(AValue), FOld(AValue) {}
    ~TRestore() { FValue = FOld; }
    TRestore(const TRestore &) = delete;
    TRestore &operator=(const TRestore &) = delete;
    const T &Old() const { return FOld; }

private:
    T &FValue;
    T FOld;
};

// The path quoted at the start of a reply line ("" inside stands for ").
QString QuotedPathOfReply(const QString &ALine)
{
    QString path;
    for (qsizetype i = 1; i < ALine.length(); ++i) {
        if (ALine.at(i) == QLatin1Char('"')) {
            if (i + 1 >= ALine.length() || ALine.at(i + 1) != QLatin1Char('"'))
                break;
            ++i;
        }
        path += ALine.at(i);
    }
    return path;
}

// Enters ADName for DeleteTree and DeleteEmptyDirs (nothing to do for an
// empty name). While they work below it, ACurrentDir (CurrentDir) names the
// directory entered, so that a reconnect (a failing PWD or listing) comes
// back there and not to the caller's directory, where a directory of the
// same name may be. A failure goes back to AStart and gives false.
bool EnterTreeDir(TExtFtp &AFtp, QString &ACurrentDir, const QString &ADName, const QString &AStart)
{
    if (ADName.isEmpty())
        return true;
    try {
        AFtp.FtpChangeDir(ADName);
        if (AFtp.ReadCurrentDir(ACurrentDir))
            return true;
    } catch (const ENetError &e) {
        AFtp.SetIndyError(e.Message);
    }
    if (!AStart.isEmpty()) {
        try {
            AFtp.FtpChangeDir(AStart);
        } catch (const ENetError &) {
        }
    }
    return false;
}

} // namespace

// ---- Listings ----------------------------------------------------------------

bool TExtFtp::RefreshListing()
{
    if (fValidDirectoryListing)
        return true;
    int32_t reconnects = 0;
    bool ok = false;
    for (;;) {
        bool retry = false;
        if (Connected()) {
            try {
                List();
                ok = true;
            } catch (const ENetError &e) {
                SetIndyError(e.Message);
                retry = IsConnectionError(e, true);
            } catch (const std::exception &) {
                SetIndyError(QStringLiteral("Unknown/unspecified error"));
            }
        } else {
            SetIndyError(QStringLiteral("FTP connection lost!"));
            retry = true;
        }
        if (ok || !retry || !ReconnectForRetry(reconnects, false))
            break;
    }
    fValidDirectoryListing = ok;
    return ok;
}

bool TExtFtp::GetFileList(TFileList &AFileList)
{
    if (!RefreshListing())
        return false;
    AFileList.Clear();
    for (const TFtpListItem &item : ListResult()) {
        if (item.ItemType == TFtpItemType::ditDirectory || IsDotName(item.FileName))
            continue;
        AFileList.Add(RetrieveName(item.FileName),
                      std::make_unique<TFtpFileInfo>(item.FileName, item.Size, item.ModifiedDate,
                                                     item.ModifiedDateGMT));
    }
    return true;
}

bool TExtFtp::GetDirList(TDirectoryList &ADirList)
{
    if (!RefreshListing())
        return false;
    ADirList.Clear();
    for (const TFtpListItem &item : ListResult()) {
        if (item.ItemType != TFtpItemType::ditDirectory || IsDotName(item.FileName))
            continue;
        ADirList.Add(RetrieveName(item.FileName),
                     std::make_unique<TFtpFileInfo>(item.FileName, item.Size, item.ModifiedDate,
                                                    item.ModifiedDateGMT));
    }
    return true;
}

bool TExtFtp::FtpDirExists(const QString &DName)
{
    TDirectoryList dirs;
    return GetDirList(dirs) && dirs.IndexOf(ListKey(DName)) >= 0;
}

bool TExtFtp::FtpFileExists(const QString &FName)
{
    return GetFileList() && FList.IndexOf(ListKey(FName)) >= 0;
}

int64_t TExtFtp::GetSize(const TFileList &AFileList, const QString &FName) const
{
    const int32_t i = AFileList.IndexOf(ListKey(FName));
    return i < 0 ? 0 : AFileList.Objects(i)->FSize;
}

bool TExtFtp::CheckSize(const QString &FName, int64_t ASize) const
{
    return GetSize(FName) != ASize;
}

// ---- Times -------------------------------------------------------------------

TDateTime TExtFtp::GetModTime(const QString &AFileName, bool AsGMT)
{
    try {
        if (SendCmd(QStringLiteral("MDTM ") + AFileName) != 213)
            return 0;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        return 0;
    } catch (const std::exception &) {
        return 0;
    }
    TDateTime t = 0;
    if (!ParseFtpTimeStamp(LastReplyFirstLine().trimmed(), t))
        return 0;
    if (AsGMT)
        return t;
    // Servers known to answer in UTC; the others are taken to answer in
    // their (unknown) local time, which is shown as it is.
    const bool utc = SupportsFeature(QStringLiteral("MFMT"))
                  || FeatureIndex(QStringLiteral("MDTM YYYYMMDDHHMMSS[+-TZ];filename")) > 0
                  || FeatureIndex(QStringLiteral("MDTM YYYYMMDDHHMMSS[+-TZ] filename")) > 0
                  || ServerDescription().startsWith(QStringLiteral("Serv-U "))
                  || ServerDescription().startsWith(QStringLiteral("BPFTP Server "));
    return utc ? FtpUtcToLocal(t) : t;
}

TDateTime TExtFtp::GetTimeStamp(const TFileList &AFileList, const QString &FName, bool AsGMT)
{
    const int32_t i = AFileList.IndexOf(ListKey(FName));
    if (i < 0)
        return 0;
    const TFtpFileInfo *info = AFileList.Objects(i);
    const TDateTime t = AsGMT ? info->FModifiedDateGMT : info->FModifiedDate;
    if (!HasFeatures() || !CanUseMLS() || t < 1.0)
        return GetModTime(info->FFileName, AsGMT);
    return t;
}

int32_t TExtFtp::CheckTimeStamp(const QString &FName, TDateTime tm, int32_t Delta, TDateTime &fdt, bool AsGMT)
{
    fdt = GetTimeStamp(FName, AsGMT);
    return CompareTimeStamps(fdt, tm, Delta);
}

int32_t TExtFtp::CheckTimeStamp(const QString &FName, TDateTime tm, int32_t Delta, bool AsGMT)
{
    TDateTime fdt = 0;
    return CheckTimeStamp(FName, tm, Delta, fdt, AsGMT);
}

TFileTime TExtFtp::GetLocalFileTime(const TFileList &AFileList, const QString &FName)
{
    TFileTime ft = 0;
    if (!UtcDateTimeToFileTime(ft, GetTimeStamp(AFileList, FName, false)))
        ft = 0;
    return ft;
}

bool TExtFtp::SetTimeStamp(const QString &FName, TDateTime ATime, bool UseGMT)
{
    const QString name = MakeQuotedPath(ModifyName(FName));
    try {
        if (UseGMT && HasFeatures() && CanUseMLS())
            SetModTimeUtc(name, ATime);
        else
            SetModTimeLocal(name, ATime + double(fTimeOffset) / 1440.0);
        return true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        return false;
    } catch (const std::exception &) {
        return false;
    }
}

bool TExtFtp::SetTimeStampFromFile(const QString &ASourceFile, const QString &FName, bool CheckTime)
{
    TDateTime t = XlFileAgeOrDefault(ASourceFile, 0);
    if (CheckTime) {
        const TDateTime now = Now();
        if (t > now + 1)
            t = now;
    }
    return SetTimeStamp(FName, t, false);
}

// ---- Files -------------------------------------------------------------------

bool TExtFtp::DeleteFile(const QString &FName, bool InitListing)
{
    if (InitListing)
        fValidDirectoryListing = false;
    const QString name = MakeQuotedPath(ModifyName(FName));
    int32_t reconnects = 0;
    for (;;) {
        try {
            Delete(name);
            // A reconnect on the way has listed the directory again, still
            // with the file.
            if (InitListing)
                fValidDirectoryListing = false;
            return true;
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            if (!IsConnectionError(e, false) || !ReconnectForRetry(reconnects, true))
                return false;
        } catch (const std::exception &) {
            return false;
        }
    }
}

int32_t TExtFtp::DeleteExistingFile(const QString &FName)
{
    if (!FtpFileExists(FName))
        return 0;
    return DeleteFile(FName, true) ? 1 : -1;
}

int32_t TExtFtp::DeleteSubDirFile(const QString &ADir, const QString &FName)
{
    // Every way out returns to the directory of the caller.
    QString back = fCurrentDir;
    if (back.isEmpty() && !ReadCurrentDir(back))
        return 0;
    int32_t result = 0;
    bool entered = false;
    try {
        FtpChangeDir(ADir);
        entered = true;
        // CurrentDir names the subdirectory while we are in it: a reconnect
        // during the listing must come back here, not to the directory we
        // came from, where a file of the same name would be deleted.
        TFileList files;
        if (ReadCurrentDir(fCurrentDir) && GetFileList(files)) {
            const int32_t i = files.IndexOf(ListKey(FName));
            if (i < 0) {
                result = 2;
            } else {
                fValidDirectoryListing = false;
                Delete(MakeQuotedPath(files.Objects(i)->FFileName));
                result = 1;
            }
        }
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        result = 0;
    } catch (const std::exception &) {
        result = 0;
    }
    if (entered) {
        fValidDirectoryListing = false;
        fCurrentDir = back;
        try {
            FtpChangeDir(back);
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            if (!ChangeToDir(back))
                result = 0;
        }
    }
    return result;
}

int32_t TExtFtp::DeleteMatchingFiles(const QString &AMask)
{
    const TMask mask(AMask);
    if (!mask.IsValid())
        return 0;
    QStringList names;
    for (int32_t i = 0; i < FList.Count(); ++i)
        if (mask.Matches(FList.Strings(i)))
            names << FList.Strings(i);
    for (const QString &name : names)
        DeleteFile(name, true);
    return int32_t(names.size());
}

bool TExtFtp::RenameFile(const QString &OldName, const QString &NewName, bool InitListing)
{
    if (InitListing)
        fValidDirectoryListing = false;
    const QString from = MakeQuotedPath(ModifyName(OldName));
    const QString to = MakeQuotedPath(ModifyName(NewName));
    int32_t reconnects = 0;
    for (;;) {
        try {
            Rename(from, to);
            // A reconnect on the way has listed the directory again, still
            // with the old name.
            if (InitListing)
                fValidDirectoryListing = false;
            return true;
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            if (!IsConnectionError(e, false) || !ReconnectForRetry(reconnects, true))
                return false;
            // The server may have renamed before the connection broke.
            if (FtpFileExists(NewName) && !FtpFileExists(OldName))
                return true;
        } catch (const std::exception &) {
            return false;
        }
    }
}

// ---- Directories -------------------------------------------------------------

bool TExtFtp::ReadCurrentDir(QString &Dir)
{
    for (int attempt = 1; attempt <= 2; ++attempt) {
        try {
            const QString d = Pwd();
            Dir = RetrieveName(d);
            return true;
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            Pause200();
            if (!IsConnectionError(e, false))
                return false;
        } catch (const std::exception &) {
            Pause200();
            return false;
        }
    }
    return false;
}

QString TExtFtp::GetCurrentDir()
{
    QString dir;
    if (ReadCurrentDir(dir))
        return dir;
    if (fInReconnect)
        return QString();
    LogReconnect(GetIndyError());
    Pause200();
    if (ReConnect(fCurrentDir, false, true) && ReadCurrentDir(dir))
        return dir;
    return QString();
}

void TExtFtp::FtpChangeDir(const QString &DName)
{
    fValidDirectoryListing = false;
    QString name = ModifyName(DName);
    // The login directory keeps its own letter case.
    if (!fDir.isEmpty() && name.startsWith(fDir, Qt::CaseInsensitive))
        name = fDir + name.mid(fDir.length());
    ChangeDir(MakeQuotedPath(name));
}

bool TExtFtp::ChangeOneDirUp()
{
    fValidDirectoryListing = false;
    bool result = false;
    try {
        ChangeDirUp();
        result = true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
    } catch (const std::exception &) {
    }
    FChangeDirResponse = QString::number(LastReplyCode()) + QLatin1Char(' ') + LastReplyFirstLine();
    fCurrentDir = GetCurrentDir();
    return result;
}

bool TExtFtp::ReconnectToDir(const QString &DName)
{
    if (fInReconnect)
        return false;
    const QString former = fCurrentDir;
    LogReconnect(GetIndyError());
    Pause200();
    TFlagGuard guard(fInReconnect);
    if (!DoConnect(1, false))
        return false;
    // Only a change that arrived counts: a reconnect lands in the login
    // directory.
    try {
        if (!HasLeadingSlash(DName) && !former.isEmpty())
            FtpChangeDir(former);
        FtpChangeDir(DName);
        return true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        return false;
    }
}

bool TExtFtp::ChangeToDir(const QString &DName)
{
    if (DName.isEmpty())
        return true;
    bool result = false;
    try {
        FtpChangeDir(DName);
        result = true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        result = IsConnectionError(e, false) && ReconnectToDir(DName);
    }
    if (result) {
        const int32_t code = LastReplyCode();
        if (code == 250 || code == 200) {
            QString s = LastReplyFirstLine();
            if (s.contains(QLatin1Char('"'))) {
                s = s.mid(s.indexOf(QLatin1Char('"')));
                s = SplitNextQuotedToken(s, QLatin1Char(' '), QLatin1Char('"'));
            } else if (s.contains(QLatin1Char('/'))) {
                s = s.mid(s.indexOf(QLatin1Char('/')));
            } else {
                s.clear();
            }
            s = s.trimmed();
            if (!s.isEmpty())
                fCurrentDir = RetrieveName(s);
            else if (HasLeadingSlash(DName))
                fCurrentDir = DName;
            else
                result = ReadCurrentDir(fCurrentDir);
        } else {
            LogError(QStringLiteral("Reported error: ") + QStringLiteral(" - ") + fIdError);
        }
    }
    FChangeDirResponse = QString::number(LastReplyCode()) + QLatin1Char(' ') + LastReplyFirstLine();
    return result;
}

int32_t TExtFtp::ChangeToNewDir(const QString &DName)
{
    if (DName.isEmpty())
        return 0;
    if (ChangeToDir(DName))
        return 0;
    try {
        MakeDir(MakeQuotedPath(ModifyName(DName)));
    } catch (const ENetError &) {
    }
    fValidDirectoryListing = false;
    fIdError.clear();
    const int32_t code = LastReplyCode();
    const QString line = LastReplyFirstLine();
    FChangeDirResponse = QString::number(code) + QLatin1Char(' ') + line;
    QString t = DName;
    if (code == 257 || code == 250 || code == 200) {
        // Only a reply that begins with the quoted path names the new
        // directory; text after its closing quote (which may quote more)
        // is no part of it.
        if (line.startsWith(QLatin1Char('"')) && line.lastIndexOf(QLatin1Char('"')) > 0) {
            t = QuotedPathOfReply(line);
            if (t.isEmpty() || t.contains(QChar(0xFFFD)) || !t.startsWith(fCurrentDir, Qt::CaseInsensitive))
                t = DName;
        }
    } else {
        fIdError = FChangeDirResponse;
    }
    return ChangeToDir(t) ? 1 : -1;
}

bool TExtFtp::ForceDir(const QString &DName)
{
    DCount = 0;
    bool result = true;
    if (!DName.isEmpty()) {
        QString p = ModifyName(DName);
        bool entered = false;
        try {
            FtpChangeDir(p);
            entered = true;
        } catch (const ENetError &) {
        }
        if (entered) {
            // Levels entered below the directory we came from; an absolute
            // path leaves nothing to climb back.
            if (!HasLeadingSlash(p))
                for (const QString &e : p.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
                    Q_UNUSED(e);
                    ++DCount;
                }
        } else {
            bool absolute = false;
            const bool belowLogin = fDir.length() >= 2 && p.startsWith(fDir, Qt::CaseInsensitive)
                                 && (p.length() == fDir.length() || p.at(fDir.length()) == QLatin1Char('/'));
            if (belowLogin) {
                absolute = true;
                try {
                    ChangeDir(MakeQuotedPath(fDir));
                    fValidDirectoryListing = false;
                    p = p.mid(fDir.length());
                    if (p.startsWith(QLatin1Char('/')))
                        p.remove(0, 1);
                } catch (const ENetError &e) {
                    SetIndyError(e.Message);
                    result = false;
                }
            } else {
                QString first = SplitNextToken(p, QLatin1Char('/'));
                if (first.isEmpty()) {
                    absolute = true;
                    first = QLatin1Char('/') + SplitNextToken(p, QLatin1Char('/'));
                }
                if (ChangeToNewDir(first) >= 0)
                    ++DCount;
                else
                    result = false;
            }
            while (result && !p.isEmpty()) {
                const QString e = SplitNextToken(p, QLatin1Char('/'));
                if (e.isEmpty())
                    continue; // "a//b" or a trailing "/"
                if (ChangeToNewDir(e) >= 0)
                    ++DCount;
                else
                    result = false;
            }
            if (absolute)
                DCount = 0;
        }
    }
    fCurrentDir = GetCurrentDir();
    return result;
}

bool TExtFtp::ForceDirUp()
{
    fValidDirectoryListing = false;
    for (int32_t i = 0; i < DCount; ++i) {
        try {
            ChangeDirUp();
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            return false;
        }
    }
    DCount = 0;
    fCurrentDir = GetCurrentDir();
    return true;
}

bool TExtFtp::SetRemoteDir(const QString &Dir)
{
    const bool result = ForceDir(Dir);
    fValidDirectoryListing = false;
    return result;
}

bool TExtFtp::DeleteDir(const QString &DName)
{
    fValidDirectoryListing = false;
    try {
        RemoveDir(MakeQuotedPath(ModifyName(DName)));
        return true;
    } catch (const ENetError &e) {
        SetIndyError(e.Message);
        return false;
    } catch (const std::exception &) {
        return false;
    }
}

bool TExtFtp::DeleteEmptyDirs(const QString &DName, bool DelRoot, int32_t &ADCount, const TStatusEvent &WasCanceled)
{
    fValidDirectoryListing = false;
    const QString start = GetCurrentDir();
    TRestore<QString> outer(fCurrentDir);
    if (!EnterTreeDir(*this, fCurrentDir, DName, start))
        return false;
    List();
    QStringList subDirs;
    for (const TFtpListItem &item : ListResult())
        if (item.ItemType == TFtpItemType::ditDirectory && !IsDotName(item.FileName))
            subDirs << RetrieveName(item.FileName);
    ProcessMessages();
    bool result = true;
    for (const QString &sub : subDirs) {
        if (!result)
            break;
        result = DeleteEmptyDirs(sub, true, ADCount, WasCanceled);
    }
    if (WasCanceled)
        result = !WasCanceled();
    ProcessMessages();
    if (!DName.isEmpty()) {
        int32_t count = -1;
        if (result) {
            List();
            count = 0;
            for (const TFtpListItem &item : ListResult())
                if (!IsDotName(item.FileName))
                    ++count;
        }
        fValidDirectoryListing = false;
        fCurrentDir = outer.Old();
        try {
            ChangeDirUp();
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            result = false;
        }
        if (result && count == 0 && DelRoot) {
            result = DeleteDir(DName);
            if (result)
                ++ADCount;
        }
    }
    GetFileList();
    return result;
}

bool TExtFtp::DeleteTree(const QString &DName, bool DelRoot, int32_t &FCount)
{
    fValidDirectoryListing = false;
    const QString start = GetCurrentDir();
    TRestore<QString> outer(fCurrentDir);
    if (!EnterTreeDir(*this, fCurrentDir, DName, start))
        return false;
    List();
    QStringList files, subDirs;
    for (const TFtpListItem &item : ListResult()) {
        if (IsDotName(item.FileName))
            continue;
        if (item.ItemType == TFtpItemType::ditDirectory)
            subDirs << RetrieveName(item.FileName);
        else
            files << item.FileName;
    }
    for (const QString &name : files) {
        try {
            Delete(MakeQuotedPath(name));
            ++FCount;
        } catch (const ENetError &) {
        }
        ProcessMessages();
    }
    fValidDirectoryListing = false;
    bool result = true;
    for (const QString &sub : subDirs) {
        if (!result)
            break;
        result = DeleteTree(sub, true, FCount);
    }
    if (!DName.isEmpty()) {
        fValidDirectoryListing = false;
        fCurrentDir = outer.Old();
        try {
            ChangeDirUp();
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            result = false;
        }
        if (result && DelRoot)
            result = DeleteDir(DName);
    }
    return result;
}

int32_t TExtFtp::DirFiles(const QString &DName)
{
    const QString d = ModifyName(DName);
    const QString outer = fCurrentDir;
    if (!d.isEmpty()) {
        try {
            FtpChangeDir(d);
        } catch (const ENetError &e) {
            SetIndyError(e.Message);
            return 0;
        }
    }
    int32_t count = 0;
    // CurrentDir names this directory while we list it, so that a
    // reconnect comes back here (as in EnterTreeDir).
    if ((d.isEmpty() || ReadCurrentDir(fCurrentDir)) && RefreshListing()) {
        for (const TFtpListItem &item : ListResult())
            if (item.ItemType != TFtpItemType::ditDirectory && !IsDotName(item.FileName))
                ++count;
        TDirectoryList dirs;
        if (GetDirList(dirs))
            for (int32_t i = 0; i < dirs.Count(); ++i)
                count += DirFiles(dirs.Strings(i));
    }
    // Also after a failed listing: the caller goes on where it was.
    if (!d.isEmpty()) {
        fCurrentDir = outer;
        try {
            ChangeOneDirUp();
        } catch (const std::exception &) {
        }
    }
    return count;
}

// ---- Transfers -----------------------------------------------------------------

int32_t TExtFtp::CopyFile(const QString &ASourceFile, const QString &ADestFile)
{
    if (!XlFileExists(ASourceFile, true))
        return ftpSourceMissing;
    if (ADestFile.isEmpty())
        return ftpNoDestName;
    std::unique_ptr<TExtFileStream> source;
    try {
        source = std::make_unique<TExtFileStream>(ASourceFile, kOpenReadShared);
    } catch (const std::exception &) {
        return ftpSourceMissing;
    }
    return Flush(*source, ADestFile, false);
}

int32_t TExtFtp::Flush(TStream &ASource, const QString &ADestFile, bool AAppend)
{
    if (!ReConnect(fCurrentDir, true, true))
        return ftpNoConnection;
    fAborted = false;
    NATKeepAliveUse = fUseKeepAlive;
    const QString name = MakeQuotedPath(ModifyName(ADestFile));
    int32_t code = ftpOk;
    int32_t reconnects = 0;
    for (;;) {
        bool retry = false;
        try {
            if (!AAppend)
                ASource.SetPosition(0);
            const int32_t reply = Put(ASource, name, AAppend);
            code = reply >= 400 ? ftpWriteError : ftpOk;
            // A permanent refusal stays one.
            retry = reply >= 400 && reply < 500;
        } catch (const ENetError &e) {
            const bool refused = e.ReplyCode == 425 || LastReplyCode() == 425;
            code = TransferErrorCode(e, refused ? ftpDataRefused : ftpWriteError, retry);
        } catch (const std::exception &) {
            code = ftpWriteError;
        }
        // An append that broke off may have left any part of the data on
        // the server: sending it again could double or skip bytes.
        if (AAppend)
            retry = false;
        if (!NextTransferAttempt(code, retry, reconnects))
            break;
    }
    NATKeepAliveUse = false;
    if (code == ftpOk && !ReConnect(fCurrentDir, true, true))
        return ftpConnectionLost;
    return code;
}

int32_t TExtFtp::TransferErrorCode(const ENetError &AError, int32_t AOther, bool &ARetry)
{
    SetIndyError(AError.Message);
    ARetry = true;
    if (AError.Kind == ENetError::TKind::ReadTimeout)
        return ftpReadTimeout;
    if (IsConnectionError(AError, false))
        return ftpConnectionLost;
    ARetry = false;
    return AOther;
}

bool TExtFtp::NextTransferAttempt(int32_t &ACode, bool ARetry, int32_t &AReconnects)
{
    if (ACode == ftpOk || !ARetry || fAborted)
        return false;
    bool failed = false;
    if (!ReconnectForRetry(AReconnects, true, &failed)) {
        if (failed)
            ACode = ftpNoConnection;
        return false;
    }
    return !fAborted;
}

int32_t TExtFtp::Fill(const QString &ASourceFile, TStream &ADest)
{
    if (!ReConnect(fCurrentDir, true, true))
        return ftpNoConnection;
    fAborted = false;
    NATKeepAliveUse = fUseKeepAlive;
    const QString name = MakeQuotedPath(ModifyName(ASourceFile));
    // A repeated attempt starts again where the first began, so the data
    // of a broken attempt is not kept in front of the new one.
    const int64_t start = ADest.Position();
    int32_t code = ftpOk;
    int32_t reconnects = 0;
    for (int attempt = 1;; ++attempt) {
        bool retry = false;
        if (attempt > 1 && (ADest.Seek(start, TSeekOrigin::soBeginning) != start || !ADest.SetSize(start)))
            break; // keeps the code of the failed attempt
        try {
            const int32_t reply = Get(name, ADest);
            code = reply >= 400 ? ftpReadError : ftpOk;
            retry = reply >= 400 && reply < 500;
        } catch (const ENetError &e) {
            code = TransferErrorCode(e, ftpReadError, retry);
        } catch (const std::exception &) {
            code = ftpReadError;
        }
        if (attempt == 1)
            NATKeepAliveUse = false;
        if (!NextTransferAttempt(code, retry, reconnects))
            break;
    }
    NATKeepAliveUse = false;
    if (code == ftpOk) {
        ADest.SetPosition(0);
        if (!ReConnect(fCurrentDir, true, true))
            return ftpConnectionLost;
    }
    return code;
}

} // namespace vl
