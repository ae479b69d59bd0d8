#include "backup/TimeStampFile.h"

#include "core/Destinations.h"
#include "core/FileTimes.h"
#include "core/PathUtils.h"
#include "core/Stream.h"
#include "core/XlFileUtils.h"
#include "engine/FtpUtils.h"
#include "engine/LittleEndian.h"
#include "platform/AtomicFile.h"

#include <cstring>

namespace vl {

QByteArray TimeStampBytes(TDateTime ATime)
{
    uint64_t bits = 0;
    static_assert(sizeof(bits) == sizeof(ATime));
    std::memcpy(&bits, &ATime, sizeof(bits));
    QByteArray data(8, '\0');
    PutLe64(reinterpret_cast<uint8_t *>(data.data()), bits);
    return data;
}

TDateTime TimeStampFromBytes(const QByteArray &AData)
{
    uint8_t buf[8] = {};
    std::memcpy(buf, AData.constData(), size_t(qMin<qsizetype>(AData.size(), 8)));
    const uint64_t bits = GetLe64(buf);
    TDateTime value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

QString TimeStampFileName(const QString &ADir)
{
    return WithTrailingDelimiter(ADir) + QLatin1String(kTimeStampFileName);
}

uint32_t WriteTimeStampFile(const QString &ADir, TDateTime ATime)
{
    const QString name = TimeStampFileName(ADir);
    if (const uint32_t code = WriteFileAtomically(name, TimeStampBytes(ATime)))
        return code;
    // The stored time is local wall-clock time; the file shows the same.
    // A time that cannot be set leaves a valid stamp; the content counts.
    TFileTime ft = 0;
    if (UtcDateTimeToFileTime(ft, ATime))
        XlSetFileTime(name, ft, true);
    return 0;
}

TDateTime ReadTimeStampFile(const QString &ADir)
{
    QByteArray data;
    if (ReadFileBytes(TimeStampFileName(ADir), data) != 0)
        return 0;
    return TimeStampFromBytes(data);
}

int32_t WriteFtpTimeStamp(TExtFtp &AFtp, TDateTime ATime)
{
    TMemoryStream stream(TimeStampBytes(ATime));
    try {
        return AFtp.Flush(stream, QLatin1String(kTimeStampFileName), false);
    } catch (const std::exception &) {
        return -1;
    }
}

TDateTime ReadFtpTimeStamp(TExtFtp &AFtp)
{
    TMemoryStream stream;
    try {
        if (!AFtp.FtpFileExists(QLatin1String(kTimeStampFileName)))
            return 0;
        AFtp.Fill(QLatin1String(kTimeStampFileName), stream);
    } catch (const std::exception &) {
        // What arrived before the failure is used, as a short file is.
    }
    return TimeStampFromBytes(stream.Data());
}

} // namespace vl
