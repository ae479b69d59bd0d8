// Destination operations of a run: deleting, renaming, making folders and
// setting attributes with the retries slow network and removable
// destinations need, plus finding a source's medium and testing that the
// destination can be written.
#include "backup/BackupForm.h"

#include "backup/TimeStampFile.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/FileErrors.h"
#include "core/FileSearch.h"
#include "core/FileTimes.h"
#include "core/Format.h"
#include "core/NetShares.h"
#include "core/PathUtils.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"
#include "ui/ChoiceDialogs.h"

#include <chrono>
#include <thread>

namespace vl {

namespace {

const QString kSixBlanks = QStringLiteral("      ");

// Results of ResolveSourceVolume besides 0, ERROR_CANCELLED and the codes
// of a network connection.
constexpr int kDriveNotAvailable = 15;
constexpr int kEntrySkipped = 1246;

void PauseMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The pause between attempts on a destination that answers slowly.
int RetryPauseMs()
{
    return qMax(0, VlSettings.OtherSettings.MaxWaitTime) * 1000 / 5;
}

QString SystemErrorDetail(uint32_t code)
{
    return GuardedFormat(Tr("System error: %s"), SystemErrorText(code));
}

// The path of APath below Root on the volume found by its label. A source
// keeps its path below the medium's root, whatever folder the medium was
// mounted on when the task was made: the mount folder is found by the
// label (the usual name of a mount folder), else the longest tail of the
// path that exists below Root is taken. Empty when neither fits.
QString PathOnVolume(const QString &APath, const QString &AVolume, const QString &Root)
{
    if (DirContainsPath(Root, APath))
        return WithTrailingDelimiter(APath);
    const QStringList elements = APath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < elements.size(); ++i) {
        if (elements[i].compare(AVolume, Qt::CaseInsensitive) == 0)
            return WithTrailingDelimiter(Root + elements.mid(i + 1).join(QLatin1Char('/')));
    }
    for (int i = 1; i < elements.size(); ++i) {
        const QString candidate = WithTrailingDelimiter(Root + elements.mid(i).join(QLatin1Char('/')));
        if (XlDirectoryExists(candidate, true))
            return candidate;
    }
    return QString();
}

} // namespace

// ---- Deleting and renaming ----

bool TBackupForm::FileDelete(const QString &Dir, const QString &Filename)
{
    const uint32_t code = XlDeleteFileEx(Filename, true);
    if (code == ERROR_FILE_NOT_FOUND)
        return true;
    if (code == 0) {
        WriteToLog(3, kSixBlanks + GuardedFormat(Tr("File was deleted: \"%s\""), Filename));
        return true;
    }
    WriteErrorToLog(2, QStringLiteral("B"), GuardedFormat(Tr("Error deleting file: \"%s\""), RelativePathTo(Dir, Filename)),
                    int(code));
    return false;
}

void TBackupForm::DeleteOldFiles(const QString &APath, const QString &AMask, TDateTime ADate)
{
    const QString dir = WithTrailingDelimiter(APath);
    TSearchRec sr;
    if (FindFirst(dir + AMask, faAnyFileNoDirs, sr) != 0)
        return;
    do {
        if (sr.Attr & faDirectory)
            continue;
        TDateTime age = 0;
        if (!TryFileTimeToLocalDateTime(sr.FindData.LastWriteTime, age) || age >= ADate)
            continue;
        const QString name = dir + sr.Name;
        const uint32_t code = XlDeleteFileEx(name, true);
        if (code == 0)
            WriteToLog(3, kSixBlanks + GuardedFormat(Tr("File was deleted: \"%s\""), name));
        else if (code != ERROR_FILE_NOT_FOUND)
            WriteErrorToLog(2, QStringLiteral("B"), GuardedFormat(Tr("Error deleting file: \"%s\""), name), int(code));
    } while (FindNext(sr) == 0);
    FindClose(sr);
}

int TBackupForm::RenameDestFile(const QString &Dir, const QString &OldName, const QString &NewName, QString &ErrText,
                                int Mode, int Attr)
{
    int result = 0;
    int attempts = 0;
    // Only a file that was there can have been moved by a failed attempt.
    const bool oldExisted = XlFileExists(OldName, false);
    while (attempts < 5) {
        ++attempts;
        result = Attr >= 0 ? XlMoveFileSetAttr(OldName, NewName, uint32_t(Attr))
                           : int32_t(XlMoveFile(OldName, NewName));
        if (result == 0)
            break;
        PauseMs(200);
        if (result > 0) {
            // A destination may carry out a move it reported as failed.
            if (oldExisted && !XlFileExists(OldName, false) && XlFileExists(NewName, false)) {
                result = 0;
                break;
            }
            if (attempts < 5)
                PauseMs(RetryPauseMs());
            continue;
        }
        // Moved, but the attributes did not take: one more try on them.
        result = -int(XlFileSetAttr(NewName, uint32_t(Attr), false));
        break;
    }
    ErrText = result != 0 ? SystemErrorDetail(uint32_t(qAbs(result))) + QStringLiteral(" (%1)").arg(attempts)
                          : QString();
    if (result > 0) {
        WriteErrorToLog(Mode, QStringLiteral("B"),
                        GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), Tr("File"), OldName, NewName), ErrText,
                        QString());
    } else if (result < 0) {
        WriteErrorToLog(Mode + 4, QStringLiteral("B"),
                        FileErrorMessage(518, NewName, FileAttrToText(uint16_t(Attr))), ErrText, QString());
    } else {
        WriteToLog(3, kSixBlanks
                          + GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), Tr("File"), RelativePathTo(Dir, OldName),
                                          RelativePathTo(Dir, NewName)));
    }
    return result;
}

int TBackupForm::FileRename(const QString &Dir, const QString &u, const QString &s, int &ECnt, int &WCnt)
{
    int attr = -1;
    if (!cbNoAttributes.Checked()) {
        const uint32_t a = XlFileGetAttr(u, false);
        attr = a == faInvalid ? -1 : int(a);
    }
    QString errText;
    const int result = RenameDestFile(Dir, u, s, errText, 2, attr);
    if (result > 0)
        ++ECnt;
    else if (result < 0)
        ++WCnt;
    return result;
}

// ---- Folders and attributes ----

bool TBackupForm::ForceDestDirectory(const QString &Dir, const QString &GMsg, bool IsSubDir)
{
    bool exists = !Dir.isEmpty() && XlDirectoryExists(Dir, true);
    if (!exists && !Dir.isEmpty() && TargetType == TFileSystem::fsRemote) {
        PauseMs(100);
        exists = XlDirectoryExists(Dir, true);
    }
    if (exists)
        return true;
    // Folders are created with the names the caller gives: file names are
    // case-sensitive here, so a folder in another case would be one the
    // run never writes into (FnMode applies to the file names).
    uint32_t code = ERROR_PATH_NOT_FOUND;
    for (int attempt = 1; attempt <= 6 && !exists; ++attempt) {
        if (!Dir.isEmpty()) {
            code = MakeDirs(Dir);
            exists = XlDirectoryExists(Dir, true);
        }
        if (!exists && attempt < 6)
            PauseMs(RetryPauseMs());
    }
    if (exists) {
        if (IsSubDir)
            WriteToLog(3, kSixBlanks + GuardedFormat(Tr("Creating subdirectory: \"%s\""), Dir));
        else
            WriteToLog(2, QStringLiteral("  ") + GuardedFormat(Tr("Creating directory: \"%s\""), Dir));
    } else {
        WriteErrorToLog(1, GMsg, GuardedFormat(Tr("Could not create directory: \"%s\""), Dir),
                        int(code != 0 ? code : ERROR_PATH_NOT_FOUND));
    }
    return exists;
}

int TBackupForm::SetDestAttributes(const QString &Name, int Attr, const QString &GMsg, bool IsNew)
{
    int current = -1;
    if (!IsNew) {
        const uint32_t a = XlFileGetAttr(Name, false);
        if (a == faInvalid)
            return ERROR_FILE_NOT_FOUND;
        current = int(a);
        // A read-only folder stays read-only.
        if ((current & (faDirectory | faReadOnly)) == (faDirectory | faReadOnly))
            Attr |= faReadOnly;
    }
    if (current == Attr)
        return 0;
    uint32_t code = 0;
    int counter = 0;
    while (counter < 6) {
        ++counter;
        code = XlFileSetAttr(Name, uint32_t(Attr), false);
        if (code == 0)
            break;
        if (code == ERROR_ACCESS_DENIED) {
            counter = 6;
            break;
        }
        if (counter < 6)
            PauseMs(RetryPauseMs());
    }
    const QString attrText = FileAttrToText(uint16_t(Attr));
    if (code != 0) {
        WriteErrorToLog(6, GMsg, FileErrorMessage(518, Name, attrText),
                        SystemErrorDetail(code) + QStringLiteral(" (%1)").arg(counter), QString());
    } else {
        const QString text = GuardedFormat(Tr("Attributes of \"%s\" were changed to %s"), Name, attrText);
        if (CurrentLogMode() == 3)
            WriteToLog(1, QStringLiteral("     -> ") + text);
        else if (!IsNew)
            WriteToLog(2, kSixBlanks + text);
    }
    return int(code);
}

// ---- Source media and destination access ----

int TBackupForm::ResolveSourceVolume(const QString &ADir, const QString &AVolume, QString &ARelPath, QString &ADrive,
                                     QString &APath, bool Prompt)
{
    APath = WithTrailingDelimiter(ADir);
    ARelPath.clear();
    if (!AVolume.isEmpty() && !NoVolCheck) {
        QString root;
        FindDriveByLabel(AVolume, 0, root);
        while (root.isEmpty()) {
            if (!Prompt || SkipDir)
                return kDriveNotAvailable;
            // The folder the medium was mounted on names it best.
            QString drive = DriveOfPath(APath);
            const QStringList elements = APath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
            for (int i = 0; i < elements.size(); ++i) {
                if (elements[i].compare(AVolume, Qt::CaseInsensitive) == 0) {
                    drive = QLatin1Char('/') + elements.mid(0, i + 1).join(QLatin1Char('/'));
                    break;
                }
            }
            const QString text = GuardedFormat(Tr("Volume %s not found!\r\nPlease insert medium!"),
                                               QLatin1Char('"') + AVolume + QStringLiteral("\" (") + drive
                                                   + QLatin1Char(')'));
            const int choice = SelectChoiceAt(QPoint(-1, -1), Tr("Backup of ") + APath, text,
                                              TMsgDlgType::mtWarning, TFontStyles{}, {Tr("Skip"), Tr("Retry")});
            if (choice == 0)
                return kEntrySkipped;
            if (choice != 1)
                return ERROR_CANCELLED;
            FindDriveByLabel(AVolume, 0, root);
        }
        const QString path = PathOnVolume(APath, AVolume, root);
        if (path.isEmpty())
            return kDriveNotAvailable;
        APath = path;
        ADrive = DestMode == 0 || DestMode == 6 ? AVolume : root;
        ARelPath = RelativePathTo(root, APath);
        return 0;
    }
    int32_t kind = GetPathKind(APath);
    if (kind == pkUnknown) {
        ReconnectNetworkPath(APath);
        kind = GetPathKind(APath);
        if (kind == pkUnknown)
            return kDriveNotAvailable;
    }
    int result = 0;
    if (kind == pkNetwork) {
        TUserAccount account;
        MakeUserAccount(UserAccount, UserPwd, account);
        result = ConnectNetworkShare(APath, CurrentUserName, account, true, Prompt && !SkipDir);
    } else if (kind == pkRemovable) {
        QString label;
        if (!GetVolumeLabel(APath, label))
            return kDriveNotAvailable;
    }
    const QString drive = DriveOfPath(APath);
    ADrive = WithTrailingDelimiter(drive);
    const QString below = PathBelowDrive(APath);
    ARelPath = below.isEmpty() ? QString() : WithTrailingDelimiter(below);
    return result;
}

bool TBackupForm::TestDestinationAccess(const QString &ADest, const QString &ASource) const
{
    const QString rel = PathBelowDrive(ASource);
    QString dir;
    switch (DestMode) {
    case 2:
    case 4:
    case 5:
        dir = ADest;
        break;
    case 3:
        dir = JoinPath(ADest, LastPathElement(rel));
        break;
    case 1:
    case 7:
        dir = JoinPath(ADest, rel);
        break;
    default:
        dir = WithTrailingDelimiter(ADest) + DriveSubdirName(DriveId, ASource);
        break;
    }
    try {
        return TestWriteAccess(dir);
    } catch (const std::exception &) {
        return false;
    }
}

// ---- Information files ----

bool TBackupForm::WriteDestTimeStamp(const QString &ADir, TDateTime ATime)
{
    const uint32_t code = WriteTimeStampFile(ADir, ATime);
    if (code == 0)
        return true;
    // Without a fresh stamp the next full backup may clear once more; the
    // backup itself is complete, so the run goes on.
    WriteErrorToLog(1, QStringLiteral("B"), FileErrorMessage(MakeFileError(feCreateFile), TimeStampFileName(ADir)),
                    int(code));
    ++ErrorCnt;
    return false;
}

} // namespace vl
