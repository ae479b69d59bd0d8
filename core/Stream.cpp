#include "core/Stream.h"

#include <algorithm>
#include <cstring>

namespace vl {

int64_t TStream::Size()
{
    const int64_t pos = Position();
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

int64_t TMemoryStream::Read(void *buffer, int64_t count)
{
    if (count <= 0 || FPos >= FData.size())
        return 0;
    const int64_t n = std::min<int64_t>(count, FData.size() - FPos);
    std::memcpy(buffer, FData.constData() + FPos, size_t(n));
    FPos += n;
    return n;
}

int64_t TMemoryStream::Write(const void *buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    if (FPos + count > FData.size())
        FData.resize(FPos + count);
    std::memcpy(FData.data() + FPos, buffer, size_t(count));
    FPos += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = FPos;
    else if (origin == TSeekOrigin::soEnd)
        base = FData.size();
    const int64_t pos = base + offset;
    if (pos < 0)
        return -1;
    FPos = pos;
    return FPos;
}

bool TMemoryStream::SetSize(int64_t newSize)
{
    if (newSize < 0)
        return false;
    FData.resize(newSize, '\0');
    FPos = std::min<int64_t>(FPos, newSize);
    return true;
}

bool ReadExact(TStream &AStream, QByteArray &ABytes, int64_t ACount)
{
    if (ACount < 0)
        return false;
    ABytes.resize(qsizetype(ACount));
    int64_t done = 0;
    while (done < ACount) {
        const int64_t n = AStream.Read(ABytes.data() + done, ACount - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace vl
