// Removal of the date-named backup copy folders (one per backup day) once
// they are older than the task's age limit.
#include "backup/BackupForm.h"

#include "backup/SecCopyNames.h"
#include "core/DateTime.h"
#include "core/DirUtils.h"
#include "core/FileSearch.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "platform/FileSystem.h"

#include <cmath>

namespace vl {

void TBackupForm::DeleteOldSecurityDirs(const QString &ADir)
{
    if (BakSec.AgeInWeeks <= 0 || BakSec.DirMode != TSecDirMode::sdRootDate)
        return;
    WriteToLog(1, QStringLiteral("    ")
                      + GuardedFormat(Tr("Delete directories with security backups older than %u weeks"),
                                      BakSec.AgeInWeeks));
    const TDateTime limit = std::floor(Now()) - 7.0 * BakSec.AgeInWeeks;
    const QString folder = WithTrailingDelimiter(ADir);
    int count = 0;
    TSearchRec sr;
    if (FindFirst(folder + BakSec.DirPrefix + BakSec.DirSuffix + QStringLiteral("-????-??-??"), faDirectory, sr)
        == 0) {
        do {
            const QString path = folder + sr.Name;
            // A plain folder only: a link, or one the user marked, stays.
            if (XlFileGetAttr(path, false) != faDirectory)
                continue;
            const qsizetype dash = sr.Name.indexOf(QLatin1Char('-'));
            TDateTime date = 0;
            if (dash < 0 || !ParseSecCopyDate(sr.Name, int(dash + 1), date) || !(date < limit))
                continue;
            if (::vl::DeleteDirectoryTree(path, true)) {
                WriteToLog(2, QStringLiteral("  ->  ") + GuardedFormat(Tr("Directory was deleted: \"%s\""), path));
                ++count;
            } else {
                WriteErrorToLog(QStringLiteral("B"), GuardedFormat(Tr("Error deleting directory: \"%s\""), path));
            }
        } while (FindNext(sr) == 0);
    }
    FindClose(sr);
    if (count == 0) {
        WriteToLog(1, QStringLiteral("  ->  ") + Tr("No matching directories found"));
    } else if ((ActMode & 7) == 1) {
        const QString text = count == 1 ? Tr("1 directory deleted")
                                        : GuardedFormat(Tr("%u directories deleted"), count);
        WriteToLog(1, QStringLiteral("  ->  ") + text);
    }
}

} // namespace vl
