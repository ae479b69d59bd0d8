#include "backup/DestPreparation.h"

#include "core/Destinations.h"
#include "core/FileSearch.h"
#include "core/PathUtils.h"

namespace vl {

QString ExpandModePlaceholder(const QString &AText, int AMode)
{
    static const char *const kModeWords[] = {"Updt", "Full", "Diff", "Incr"};
    if (AMode < 0 || AMode > 3)
        return AText;
    QString text = AText;
    return text.replace(QStringLiteral("%mode%"), QLatin1String(kModeWords[AMode]), Qt::CaseInsensitive);
}

bool IsDestinationEmpty(const QString &ADir)
{
    TSearchRec sr;
    const uint32_t code = FindFirst(WithTrailingDelimiter(ADir) + QStringLiteral("*.*"), faAnyFile, sr);
    if (code != 0) {
        // An empty or missing folder holds nothing; one that cannot be read
        // may hold anything, so the run must not clear it away.
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    bool empty = true;
    do {
        if (IsRegularDirName(sr.Name) && sr.Name != QLatin1String(kTimeStampFileName)) {
            empty = false;
            break;
        }
    } while (FindNext(sr) == 0);
    FindClose(sr);
    return empty;
}

} // namespace vl
