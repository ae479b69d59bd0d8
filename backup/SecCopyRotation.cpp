// Security copies of the zip archives a run replaces.
#include "backup/BackupForm.h"

#include "core/FileInfo.h"
#include "core/NumberUtils.h"
#include "core/PathUtils.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"

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
    // A split archive is one copy: its segments (".z01", ...) go with its
    // ".zip" part, or the copy would be broken and old segments would sit
    // beside the new archive.
    const auto segmentCount = [](const QString &AName) {
        try {
            return GetZipSegmentCount(AName);
        } catch (const std::exception &) {
            return 0; // unreadable: only its ".zip" part is known
        }
    };
    // A copy that cannot be deleted is an error of the run like a failed
    // rename.
    const auto deleteCopy = [&](const QString &AName) {
        const int count = segmentCount(AName);
        for (int i = 0; i < count; ++i) {
            if (!FileDelete(ZipSegmentName(AName, i))) {
                ++ErrorCnt;
                return; // the ".zip" part stays, so the set stays whole
            }
        }
        if (!FileDelete(AName))
            ++ErrorCnt;
    };
    // Segments first: a failure leaves the ".zip" part, and so the set,
    // under its old name.
    const auto renameCopy = [&](const QString &AOld, const QString &ANew) {
        const int count = segmentCount(AOld);
        for (int i = 0; i < count; ++i)
            if (FileRename(ZipSegmentName(AOld, i), ZipSegmentName(ANew, i), ErrorCnt, WarningCnt) > 0)
                return;
        FileRename(AOld, ANew, ErrorCnt, WarningCnt);
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
                renameCopy(older, newer);
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
        renameCopy(AArchive, target);
}

} // namespace vl
