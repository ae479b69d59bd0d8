// The time stamp file "$TimeStamp.vlu" in a destination's base folder: the
// start time of the last run that wrote it, as the eight bytes of a
// TDateTime (IEEE double, little-endian, local time), nothing else. A local
// file also gets that moment as its last-write time.
#pragma once

#include "core/DateTime.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

class TExtFtp;

// The eight bytes of ATime.
QByteArray TimeStampBytes(TDateTime ATime);
// The value of up to eight bytes; missing bytes count as zero.
TDateTime TimeStampFromBytes(const QByteArray &AData);

// ADir + "$TimeStamp.vlu".
QString TimeStampFileName(const QString &ADir);
// Writes the file (an existing one is replaced atomically) and sets its
// last-write time; 0 or the error number. A file that cannot be replaced
// stays as it is.
uint32_t WriteTimeStampFile(const QString &ADir, TDateTime ATime);
// The stored value; 0 when the file does not exist or cannot be read.
TDateTime ReadTimeStampFile(const QString &ADir);
// Uploads the file into the current remote directory, replacing one that
// is there; the result of the transfer (0 on success).
int32_t WriteFtpTimeStamp(TExtFtp &AFtp, TDateTime ATime);
// The stored value in the current remote directory; 0 when the listing
// lacks the file or the download fails.
TDateTime ReadFtpTimeStamp(TExtFtp &AFtp);

} // namespace vl
