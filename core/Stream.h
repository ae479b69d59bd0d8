// Byte streams: the interface that files, memory buffers and the archive
// formats share, and an in-memory implementation.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace vl {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end,
    // -1 on an error).
    virtual int64_t Read(void *buffer, int64_t count) = 0;
    // Writes count bytes; returns how many were written (-1 on an error).
    virtual int64_t Write(const void *buffer, int64_t count) = 0;
    // Moves the position; returns the new position or -1.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    // Truncates or extends; false on failure.
    virtual bool SetSize(int64_t newSize) = 0;
    // The error number (platform/SysErrors.h) of the last failed or short
    // Read, Write or Seek; 0 when the stream keeps none.
    virtual uint32_t LastError() const { return 0; }

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
};

// Reads exactly ACount bytes from the stream's position into ABytes; false
// when the stream ends or fails first.
bool ReadExact(TStream &AStream, QByteArray &ABytes, int64_t ACount);

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(QByteArray data) : FData(std::move(data)) {}

    int64_t Read(void *buffer, int64_t count) override;
    int64_t Write(const void *buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return FData.size(); }
    bool SetSize(int64_t newSize) override;

    const QByteArray &Data() const { return FData; }
    void Clear() { FData.clear(); FPos = 0; }

private:
    QByteArray FData;
    int64_t FPos = 0;
};

} // namespace vl
