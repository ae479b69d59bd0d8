// Little-endian numbers in the headers of the gzip, encrypted and zip
// formats: written into or appended to byte buffers, and read back.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace vl {

inline uint32_t GetLe16(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t GetLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t GetLe64(const uint8_t *p) { return uint64_t(GetLe32(p)) | uint64_t(GetLe32(p + 4)) << 32; }

inline void PutLe16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void PutLe64(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Read at byte position pos of b (the caller checks the bounds).
inline uint16_t Le16(const QByteArray &b, int pos)
{
    return uint16_t(GetLe16(reinterpret_cast<const uint8_t *>(b.constData()) + pos));
}
inline uint32_t Le32(const QByteArray &b, int pos)
{
    return GetLe32(reinterpret_cast<const uint8_t *>(b.constData()) + pos);
}
inline uint64_t Le64(const QByteArray &b, int pos)
{
    return GetLe64(reinterpret_cast<const uint8_t *>(b.constData()) + pos);
}

// Appended to b.
inline void PutLe16(QByteArray &b, uint32_t v)
{
    uint8_t bytes[2];
    PutLe16(bytes, v);
    b.append(reinterpret_cast<const char *>(bytes), 2);
}
inline void PutLe32(QByteArray &b, uint32_t v)
{
    uint8_t bytes[4];
    PutLe32(bytes, v);
    b.append(reinterpret_cast<const char *>(bytes), 4);
}
inline void PutLe64(QByteArray &b, uint64_t v)
{
    uint8_t bytes[8];
    PutLe64(bytes, v);
    b.append(reinterpret_cast<const char *>(bytes), 8);
}

// The bytes of a number.
inline QByteArray LeBytes32(uint32_t v)
{
    QByteArray b;
    PutLe32(b, v);
    return b;
}
inline QByteArray LeBytes64(uint64_t v)
{
    QByteArray b;
    PutLe64(b, v);
    return b;
}

} // namespace vl
