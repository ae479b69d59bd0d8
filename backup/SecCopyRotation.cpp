// Security copies of the zip archives a run replaces.
#include "backup/BackupForm.h"

#include "core/FileInfo.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/XlFileUtils.h"

#include <cmath>

namespace vl {

void TBackupForm::RotateArchiveCopies(const QString &AArchive)
{
    const qsizetype slash = AArchive.lastIndexOf(QLatin1Char('/'));
    const QString archiveDir = AArchive.left(slash + 1);
    const QString name = AArchive.mid(slash + 1);
    QString location = archiveDir;
    if (BakSec.DirMode != TSecDirMode::sdNone) {
        location = WithTrailingDelimiter(WithTrailingDelimiter(archiveDir) + BakSec.DirPrefix + BakSec.DirSuffix);
        if (!ForceDestDirectory(location, QStringLiteral("B"), true))
            return;
    }
    location = WithTrailingDelimiter(location);
    // A copy that cannot be deleted is an error of the run like a failed
    // rename.
    const auto deleteCopy = [this](const QString &AName) {
        if (!FileDelete(AName))
            ++ErrorCnt;
    };
    // Archive copies keep the suffix as stored: no placeholder is expanded.
    const QString suffix = QLatin1Char('.') + BakSec.FileSuffix;
    QString target;
    if (BakSec.MaxHist > 1) {
        const auto copyName = [&](int n) {
            QString s = suffix;
            return location + InsertNameSuffix(name, s.replace(QLatin1Char('#'), IntToStrZeroPad(2, n)));
        };
        const TDateTime limit = std::trunc(Now()) - 7.0 * BakSec.AgeInWeeks;
        for (int n = BakSec.MaxHist; n >= 2; --n) {
            const QString older = copyName(n - 1);
            const QString newer = copyName(n);
            if (!XlFileExists(older, false))
                continue;
            if (BakSec.AgeInWeeks > 0 && GetFileAge(older, false) <= limit && n > BakSec.MinHist) {
                deleteCopy(older);
                continue;
            }
            if (XlFileExists(newer, false))
                deleteCopy(newer);
            if (!XlFileExists(newer, false))
                FileRename(older, newer, ErrorCnt, WarningCnt);
        }
        // Copies beyond a lowered MaxHist.
        for (int n = BakSec.MaxHist + 1; n <= 99; ++n) {
            const QString extra = copyName(n);
            if (XlFileExists(extra, false))
                deleteCopy(extra);
        }
        target = copyName(1);
    } else {
        target = location + InsertNameSuffix(name, suffix);
    }
    if (!XlFileExists(AArchive, false))
        return;
    if (XlFileExists(target, false))
        deleteCopy(target);
    if (!XlFileExists(target, false))
        FileRename(AArchive, target, ErrorCnt, WarningCnt);
}

} // namespace vl
