// Emptying a destination folder for a full backup, and the quiet form the
// synchronisation uses for stale folders. Nothing here follows a link, and
// no other file system mounted inside the folder is entered: its files are
// not the task's to delete.
#include "backup/BackupForm.h"

#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"
#include "platform/Thread.h"

#include <cmath>
#include <vector>

namespace vl {

namespace {

const QString kArrow = QStringLiteral("     -> ");

} // namespace

bool TBackupForm::ClearDirectory(const QString &ABase, const QString &ASubDir, int &AErrCount, int &ADelCount,
                                 int AStart, int ATotal, bool LogIt, bool DelFiles, bool DelRoot,
                                 const QString &GMsg)
{
    const QString dir = ASubDir.isEmpty() ? ABase : WithTrailingDelimiter(ABase) + ASubDir;
    TStatInfo dirStat;
    // A tree that is to go whole but is a link: the link goes, never the
    // folder it names (that one may lie anywhere).
    if (DelRoot && ASubDir.isEmpty() && StatPath(dir, false, dirStat) == 0 && dirStat.IsLink()) {
        const uint32_t err = XlDeleteFileEx(dir, false);
        if (err != 0) {
            ++AErrCount;
            if (LogIt)
                WriteErrorToLog(GMsg, GuardedFormat(Tr("Error deleting directory: \"%s\""), dir), int(err));
        }
        return err == 0;
    }
    if (StatPath(dir, true, dirStat) != 0 || !dirStat.IsDir())
        return true;
    IProgressWindow &progress = ProgressWindow();
    std::vector<TDirEntry> entries;
    const uint32_t listErr = ListDirectory(dir, entries);
    const QString prefix = WithTrailingDelimiter(dir);
    bool result = true;

    // Subdirectories: real folders of the same file system only.
    for (const TDirEntry &e : entries) {
        if (progress.Stopped() || !result)
            break;
        if (!e.Stat.IsDir())
            continue;
        const QString path = prefix + e.Name;
        if (e.Stat.Dev != dirStat.Dev || IsMountPoint(path)) {
            // Said even by the quiet form: a tree that stays for this
            // reason must not look like a silent success or a mystery.
            ++AErrCount;
            result = false;
            WriteErrorToLog(GMsg, GuardedFormat(Tr("Error deleting directory: \"%s\""), path),
                            Tr("Another file system is mounted there"), QString());
            break;
        }
        const QString sub = ASubDir.isEmpty() ? e.Name : WithTrailingDelimiter(ASubDir) + e.Name;
        result = ClearDirectory(ABase, sub, AErrCount, ADelCount, AStart, ATotal, LogIt, DelFiles, false, GMsg);
    }
    if (progress.Stopped() || !result)
        return result;
    // An unreadable folder is not empty as far as anyone knows.
    if (listErr != 0) {
        ++AErrCount;
        if (LogIt)
            WriteErrorToLog(GMsg, GuardedFormat(Tr("Error deleting directory: \"%s\""), dir), int(listErr));
        return false;
    }

    // Files (links included: a link goes as a name, its target stays).
    int counted = 0;
    int deleted = 0;
    for (const TDirEntry &e : entries) {
        if (e.Stat.IsDir())
            continue;
        ++counted;
        if (!DelFiles)
            continue;
        const QString path = prefix + e.Name;
        const uint32_t err = XlDeleteFileEx(path, true);
        if (err == 0) {
            ++deleted;
            ++ADelCount;
            progress.WriteStatus(2, DeletedFilesText(AStart + ADelCount));
            if (ATotal > 0)
                progress.SetStepProgress(int(std::lround(100.0 / ATotal * ADelCount)));
            if (LogIt)
                WriteToLog(3, kArrow + GuardedFormat(Tr("File was deleted: \"%s\""), RelativePathTo(ABase, path)));
        } else {
            ++AErrCount;
            result = false;
            if (LogIt)
                WriteErrorToLog(GMsg, GuardedFormat(Tr("Error deleting file: \"%s\""), path), int(err));
        }
        if (progress.Stopped())
            return false;
        ProcessMessages();
    }
    if (deleted != counted)
        return result;

    if (DelRoot || !ASubDir.isEmpty()) {
        const uint32_t err = XlDeleteDirectory(dir, true);
        if (err != 0) {
            result = false;
            if (LogIt)
                WriteErrorToLog(GMsg, GuardedFormat(Tr("Error deleting directory: \"%s\""), dir), int(err));
        } else if (LogIt) {
            WriteToLog(3, kArrow + GuardedFormat(Tr("Empty directory was deleted: \"%s\""), dir));
        }
    }
    return result;
}

bool TBackupForm::DeleteDirectoryTree(const QString &ABase, const QString &ASubDir, int &ADelCount, bool LogIt,
                                      bool DelFiles, bool DelRoot, const QString &GMsg)
{
    int errors = 0;
    return ClearDirectory(ABase, ASubDir, errors, ADelCount, 0, 0, LogIt, DelFiles, DelRoot, GMsg);
}

bool TBackupForm::CanClearDestination(const QString &ASource, int AIndex) const
{
    const int last = std::min(AIndex, SelectedDirBox.Count() - 1);
    for (int i = 0; i < last; ++i) {
        const QString earlier = SelectedDirBox.Objects(i).SPath;
        // Case ignored: a source on a case-insensitive volume may be
        // written either way.
        if (WithTrailingDelimiter(earlier).startsWith(WithTrailingDelimiter(ASource), Qt::CaseInsensitive))
            return false;
    }
    return true;
}

} // namespace vl
