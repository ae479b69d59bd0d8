// The backup copy of one file in the form the task asks for: plain, per-file
// gzip (.gz/.gze), single-file zip, or encrypted (.enc), optionally verified,
// then given the source's times, attributes, permissions and extended
// attributes as the options say.
#pragma once

#include "engine/GzipThread.h"

#include <cstdint>

namespace vl {

enum class TCopyOption {
    coCompress, coZipCompress, coVerify, coOverwrite, coStorage, coAltStreams, coPermissions,
    coAttributes, coTimeStamp, coCreationTime, coCheckTime, coNoCache, coResetArchive
};
// Bit i stands for the option of ordinal i.
using TCopyOptions = uint16_t;
constexpr TCopyOptions CopyOptionBit(TCopyOption o) { return TCopyOptions(1u << unsigned(o)); }
constexpr bool HasOption(TCopyOptions AOptions, TCopyOption AOption)
{
    return (AOptions & CopyOptionBit(AOption)) != 0;
}
// The error type (eo...) of a backup written in the form AOptions and the
// encryption ask for: zip before gzip before encryption.
constexpr int32_t BackupErrorType(TCopyOptions AOptions, bool AEncrypted)
{
    return HasOption(AOptions, TCopyOption::coZipCompress) ? eoZip
           : HasOption(AOptions, TCopyOption::coCompress)  ? eoGzip
           : AEncrypted                                    ? eoEncrypt
                                                           : eoCopy;
}

class TWinCopyThread : public TGZipThread {
public:
    TWinCopyThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption,
                   TCopyOptions AOptions, int32_t ABufSize, TThreadPriority APriority = TThreadPriority::tpNormal);

protected:
    void Execute() override;

private:
    bool FZipCompress = false;
};

} // namespace vl
