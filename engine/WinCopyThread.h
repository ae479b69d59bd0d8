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
