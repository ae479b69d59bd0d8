// Progress kinds and callback types through which the engine reports
// progress and asks its caller whether to stop, and the digest of a stream.
#pragma once

#include "core/Stream.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>

namespace vl {

// Kinds of progress; the progress window picks its action text by ordinal.
enum class TFileAction : uint8_t {
    acNone = 0,
    acCopy = 1,         // data is copied
    acCompress = 2,     // data is deflated
    acUnCompress = 3,   // data is inflated
    acEncrypt = 4,
    acDecrypt = 5,
    acVerify = 6,       // written data is read back or compared
    acZipVerify = 7,    // a zip entry is verified
    acAddVerify = 8,    // the current action is followed by a verification
    acFtpWrite = 9,
    acFtpRead = 10,
    acScan = 11,        // files are scanned
    acZipCopy = 12,     // data is added to a zip archive
    acSegmentCopy = 13, // a zip segment is copied
    acPrepare = 14,     // data is read in preparation (e.g. for a CRC)
};

// Progress of copy threads, zip archives and encryption. A negative ACount
// announces a new step of AAction with -ACount bytes in total (-1: total
// unknown); ACount >= 0 then reports the bytes of that step done so far.
// ASpeedLimit marks the calls of a main data pass that the receiver may
// slow down to keep a transfer-speed limit (false for temporary streams and,
// normally, for announcements). Calls arrive in the thread owning the window.
using TFileProgressEvent = std::function<void(TFileAction AAction, int64_t ACount, bool ASpeedLimit)>;
// Cancel query: true = stop.
using TStatusEvent = std::function<bool()>;
// Asked by a zip archive while it waits for its worker.
using TTimeOutEvent = std::function<bool()>;
// Asked by the zip writer when a new segment needs more free space.
using TConfirmEvent = std::function<bool()>;
// Status of the zip reader's directory scan.
using TGetNumStrProc = std::function<void(int32_t Value, const QString &s)>;
// Fills a list for an information dialog.
using TGetStrings = std::function<void(QStringList &AList)>;

// Steps reported by StreamDigest.
inline constexpr uint8_t hpStart = 0;    // AValue: stream size
inline constexpr uint8_t hpDone = 1;     // AValue: stream size
inline constexpr uint8_t hpPosition = 2; // AValue: position after a block
inline constexpr uint8_t hpBlock = 3;    // AValue: bytes read in a block
using TDigestProgressEvent = std::function<void(uint8_t AStep, int64_t AValue)>;

// Digest kinds of StreamDigest; any other value means MD5.
inline constexpr uint8_t dkMd5 = 0;
inline constexpr uint8_t dkSha1 = 1;
inline constexpr uint8_t dkSha256 = 2;

// Cleared when StreamDigest starts; setting it (from any thread, or from
// the progress callback) stops the digest before the next block.
extern std::atomic<bool> HashCancel;

// The digest of the stream from its current position to its end, read in
// blocks of ABufSize bytes (a default size when ABufSize <= 0), as
// lower-case hexadecimal text (32, 40 or 64 characters). ADigest is empty
// when HashCancel was set or the stream could not be read to its end (a
// read error, or no data before the size the stream reports).
void StreamDigest(uint8_t AKind, TStream &AStream, int32_t ABufSize, QString &ADigest,
                  const TDigestProgressEvent &AProgress = {});

} // namespace vl
