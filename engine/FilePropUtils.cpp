#include "engine/FilePropUtils.h"

#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

namespace vl {

// No file system here keeps property sets beside a file's data, so a file
// has none to read, and sets given for writing have nowhere to go: they are
// left out, as sets a destination cannot hold always are. A file that
// cannot be reached is still a failure, as an unopenable storage is.

namespace {

// The failure of a storage that cannot be opened, in the HRESULT form
// (facility 7) the callers keep unchanged.
uint32_t CheckFile(const QString &FileName)
{
    TStatInfo st;
    const uint32_t code = StatPath(FileName, true, st);
    if (code != ERROR_SUCCESS)
        return (code & 0x07FF0000u) != 0 || (code & ERROR_ERRNO_BIT) != 0 ? code : 0x80070000u | (code & 0xFFFFu);
    return 0;
}

} // namespace

uint32_t ReadFileSummary(const QString &FileName, TFileSummary &Summary)
{
    Summary.clear();
    return CheckFile(FileName);
}

uint32_t WriteFileSummary(const QString &FileName, const TFileSummary &Summary)
{
    // Nothing to write: nothing is opened.
    if (Summary.isEmpty())
        return 0;
    return CheckFile(FileName);
}

uint32_t CopyFileSummary(const QString &Source, const QString &Dest)
{
    TFileSummary summary;
    const uint32_t result = ReadFileSummary(Source, summary);
    return result != 0 ? result : WriteFileSummary(Dest, summary);
}

} // namespace vl
