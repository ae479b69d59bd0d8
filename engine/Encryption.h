// AES stream encryption in the framing of encrypted zip entries (AE-1/AE-2):
// salt and 2-byte password verifier before the data, the data in AES
// counter mode with a little-endian counter, and the first 10 bytes of an
// HMAC-SHA1 over the encrypted bytes after it. Keys come from PBKDF2 with
// HMAC-SHA1, 1000 iterations. The same framing serves encrypted zip
// entries, .enc and .gze files, encrypted entry names and stored passwords.
//
// Passwords are bytes. Built from text, the bytes are Windows-1252 when the
// text fits that code page, else UTF-8; when the verifier of a stored
// stream does not match the first form, the other form is tried, so data
// encrypted under either encoding opens.
//
// An object is used by one thread at a time and serves any number of
// streams one after the other, each with its own salt and keys. Nothing
// here raises: failures come back as false or orError.
#pragma once

#include "core/Progress.h"
#include "core/Stream.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vl {

enum class TOpResult { orOk, orError, orUserBreak };

// Blocks while the owning copy thread is paused (its pause gate).
using TPauseGate = std::function<void()>;

inline constexpr int kMaxPasswordBytes = 128;
inline constexpr int kAesTrailerSize = 10;

// Salt length of a key mode (1: 8, 2: 12, 3: 16; 0 for others).
int SaltLength(int32_t AKeyMode);

class TCrypt {
public:
    // Keeps the first 128 bytes of Password; KeyMode := AMode (1..3, or any
    // other value: chosen from the password length); FixedKey := true.
    // ABufSize is the work buffer of the stream operations (64 KiB when not
    // positive).
    TCrypt(const QByteArray &Password, int32_t AMode, int32_t ABufSize);
    // Password as text (see above for the encodings).
    TCrypt(const QString &Password, int32_t AMode, int32_t ABufSize);
    // Overwrites password, buffer and keys with zeros.
    virtual ~TCrypt();
    TCrypt(const TCrypt &) = delete;
    TCrypt &operator=(const TCrypt &) = delete;

    int32_t KeyMode() const { return FMode; }
    // 1..3 as given; any other value: FixedKey := false and the mode from
    // the password's byte length (< 32: 1, 32..47: 2, >= 48: 3).
    void SetKeyMode(int32_t Value);
    bool FixedKey() const { return FFixedKey; }

    int32_t GetHeaderSize() const { return SaltLength(FMode) + 2; }
    int32_t GetTrailerSize() const { return kAesTrailerSize; }

    // The pause gate of the copy thread that holds the object (none: empty).
    TPauseGate Event;

protected:
    struct TCryptCtx;
    int32_t FMode = 1;
    bool FFixedKey = true;
    std::unique_ptr<TCryptCtx> FCryptCtx;
    QByteArray FPwd;     // at most 128 bytes
    QByteArray FAltPwd;  // the other encoding of a text password, or empty
    uint32_t CBufSize = 0;
    QByteArray CBuffer;
};

class TEncryption : public TCrypt {
public:
    TEncryption(const QByteArray &Password, int32_t AMode, int32_t ABufSize);
    TEncryption(const QString &Password, int32_t AMode, int32_t ABufSize);
    ~TEncryption() override;

    // acEncrypt / acDecrypt with the bytes of the current stream so far.
    TFileProgressEvent OnProgress;

    // Draws a salt, derives the keys, writes salt and verifier; false when
    // writing failed.
    bool WriteHeader(TStream &sDest);
    // Encrypts in place and adds the encrypted bytes to the authentication code.
    void EncryptBlock(void *Buffer, int64_t BLen);
    // Writes the first 10 bytes of the authentication code.
    bool WriteTrailer(TStream &sDest);
    // Reads salt and verifier of the current key mode and derives the keys;
    // true when the verifier matches (under either password encoding).
    bool ReadHeader(TStream &sSource);
    // Adds the encrypted bytes to the authentication code, then decrypts in place.
    void DecryptBlock(void *Buffer, int64_t BLen);
    // Reads 10 bytes and compares them with the authentication code.
    bool ReadTrailer(TStream &sSource);

    // Encrypts the rest of sSource (from its position) to sDest.
    TOpResult EncryptStreamEx(TStream &sSource, TStream &sDest, bool SpeedLimit,
                              const TStatusEvent &CancelEncryption);
    bool EncryptStream(TStream &sSource, TStream &sDest, bool SpeedLimit);
    // Decrypts SLength bytes in all (header, data, trailer) from sSource's
    // position; sDest may be null: then only the password and the
    // authentication code are checked. A source that ends early is orError.
    TOpResult DecryptStreamEx(TStream &sSource, TStream *sDest, int64_t SLength, bool SpeedLimit,
                              const TStatusEvent &CancelDecryption);
    bool DecryptStream(TStream &sSource, TStream *sDest, int64_t SLength, bool SpeedLimit);

private:
    // Salt and keys of the next stream, derived ahead by a worker thread of
    // the object once it has written a second header: key derivation costs
    // about as much as compressing a small file, and a backup run encrypts
    // file after file with one object.
    class TKeyWorker;
    std::unique_ptr<TKeyWorker> FKeyWorker;
    int FHeadersWritten = 0;
};

} // namespace vl
