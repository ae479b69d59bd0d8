#include "engine/FilePropUtils.h"

namespace vl {

// No file system here keeps property sets beside a file's data, so a file
// has none to read, and sets given for writing have nowhere to go: they are
// left out, as sets a destination cannot hold always are.

uint32_t ReadFileSummary(const QString &FileName, TFileSummary &Summary)
{
    Q_UNUSED(FileName);
    Summary.clear();
    return 0;
}

uint32_t WriteFileSummary(const QString &FileName, const TFileSummary &Summary)
{
    Q_UNUSED(FileName);
    Q_UNUSED(Summary);
    return 0;
}

uint32_t CopyFileSummary(const QString &Source, const QString &Dest)
{
    TFileSummary summary;
    const uint32_t result = ReadFileSummary(Source, summary);
    return result != 0 ? result : WriteFileSummary(Dest, summary);
}

} // namespace vl
