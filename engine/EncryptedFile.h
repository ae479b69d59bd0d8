// The encrypted-file form (.enc): "QVE", a flag byte (0x42 + 8 x key mode
// + 0x01), the source's last-write time (Unix seconds) and attributes, then
// the source's bytes in the AES framing of engine/Encryption.h. The copy
// thread writes and verifies it (TCopyThread::EncryptFile,
// VerifyEncrypted), TDecryptThread restores the source from it.
#pragma once

#include "engine/GzipThread.h"

#include <QString>

#include <cstdint>

namespace vl {

// Reads the header at the stream's position. Without the magic the stream
// returns to position 0 and AKeyMode is 0 (a bare encryption frame). False
// when reading failed.
bool ReadEncHeader(TStream &AStream, uint8_t &AKeyMode, uint32_t &ATime, uint16_t &AAttr);
// UnixTime, Attr and USize of an .enc file; false when it has no header.
// Raises EExtFileStreamError when the file cannot be opened.
bool ReadEncFileInfo(const QString &AFileName, TGzFileInfo &AInfo);

class TDecryptThread : public TCopyThread {
public:
    // With AEncryption: decrypts (ErrorType 0x6000); without: a plain copy
    // (ErrorType 0x1000).
    TDecryptThread(const QString &ASourceName, const QString &ADestName, TEncryption *AEncryption, int32_t ABufSize,
                   TThreadPriority APriority = TThreadPriority::tpNormal);

protected:
    void Execute() override;
};

} // namespace vl
