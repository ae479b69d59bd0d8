#include "engine/Encryption.h"

#include "core/PasswordService.h"
#include "core/TextEncoding.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <system_error>

namespace vl {

namespace {

constexpr int kPbkdf2Iterations = 1000;
constexpr int kVerifierSize = 2;
constexpr int kMaxKeyLength = 32;
constexpr int kAesBlock = 16;
// Key-stream blocks made per AES call: one call over many counter blocks
// lets the cipher run at full speed instead of paying its overhead per block.
constexpr int kStreamBlocks = 256;
constexpr int kStreamBytes = kStreamBlocks * kAesBlock;
// Work buffer for a non-positive size, so the stream loops always advance.
constexpr int32_t kDefaultBufSize = 64 * 1024;

int KeyLength(int32_t mode)
{
    switch (mode) {
    case 1: return 16;
    case 2: return 24;
    case 3: return 32;
    default: return 0;
    }
}

const EVP_CIPHER *EcbCipher(int32_t mode)
{
    switch (mode) {
    case 1: return EVP_aes_128_ecb();
    case 2: return EVP_aes_192_ecb();
    case 3: return EVP_aes_256_ecb();
    default: return nullptr;
    }
}

// Reads until count bytes are in or the source ends; -1 on a read error.
int64_t ReadFull(TStream &s, void *buffer, int64_t count)
{
    auto *p = static_cast<unsigned char *>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = s.Read(p + done, count - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool WriteAll(TStream &s, const void *buffer, int64_t count)
{
    return count == 0 || s.Write(buffer, count) == count;
}

void XorInto(unsigned char *data, const unsigned char *key, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, data + i, 8);
        std::memcpy(&b, key + i, 8);
        a ^= b;
        std::memcpy(data + i, &a, 8);
    }
    for (; i < n; ++i)
        data[i] ^= key[i];
}

} // namespace

int SaltLength(int32_t AKeyMode)
{
    return KeyLength(AKeyMode) / 2;
}

// The per-stream state: AES and HMAC contexts (made once per object and
// re-keyed by every header), the little-endian counter and the key stream.
struct TCrypt::TCryptCtx {
    EVP_CIPHER_CTX *Aes = nullptr;
    EVP_MAC *Mac = nullptr;
    EVP_MAC_CTX *Hmac = nullptr;
    uint64_t Counter = 0;
    int KsPos = 0;
    int KsLen = 0;
    bool Keyed = false;
    // Only the first 8 bytes of each counter block change; the rest stay 0.
    unsigned char CounterBlocks[kStreamBytes] = {};
    unsigned char KeyStream[kStreamBytes] = {};

    TCryptCtx()
    {
        Aes = EVP_CIPHER_CTX_new();
        Mac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
        if (Mac) {
            Hmac = EVP_MAC_CTX_new(Mac);
            if (Hmac) {
                char digest[] = "SHA1";
                OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                       OSSL_PARAM_construct_end()};
                if (EVP_MAC_CTX_set_params(Hmac, params) != 1) {
                    EVP_MAC_CTX_free(Hmac);
                    Hmac = nullptr;
                }
            }
        }
    }

    ~TCryptCtx()
    {
        EVP_CIPHER_CTX_free(Aes);
        EVP_MAC_CTX_free(Hmac);
        EVP_MAC_free(Mac);
        OPENSSL_cleanse(KeyStream, sizeof KeyStream);
        OPENSSL_cleanse(CounterBlocks, sizeof CounterBlocks);
        Counter = 0;
    }

    // PBKDF2-HMAC-SHA1 over password and salt: AES key, HMAC key, verifier.
    static bool Derive(const QByteArray &pwd, const unsigned char *salt, int32_t mode, unsigned char *out)
    {
        const int keyLen = KeyLength(mode);
        return keyLen > 0 &&
               PKCS5_PBKDF2_HMAC(pwd.constData(), int(pwd.size()), salt, SaltLength(mode), kPbkdf2Iterations,
                                 EVP_sha1(), 2 * keyLen + kVerifierSize, out) == 1;
    }

    bool Init(const unsigned char *keys, int32_t mode)
    {
        Keyed = false;
        const int keyLen = KeyLength(mode);
        if (!Aes || !Hmac || keyLen == 0)
            return false;
        if (EVP_EncryptInit_ex(Aes, EcbCipher(mode), nullptr, keys, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(Aes, 0) != 1)
            return false;
        if (EVP_MAC_init(Hmac, keys + keyLen, size_t(keyLen), nullptr) != 1)
            return false;
        Counter = 0;
        KsPos = KsLen = 0; // the next byte starts a new key-stream block
        Keyed = true;
        return true;
    }

    bool Refill(int64_t wanted)
    {
        const int blocks = int(std::min<int64_t>(kStreamBlocks, (wanted + kAesBlock - 1) / kAesBlock));
        for (int i = 0; i < blocks; ++i) {
            ++Counter;
            unsigned char *b = CounterBlocks + i * kAesBlock;
            uint64_t c = Counter;
            for (int j = 0; j < 8; ++j, c >>= 8)
                b[j] = static_cast<unsigned char>(c);
        }
        int outLen = 0;
        if (EVP_EncryptUpdate(Aes, KeyStream, &outLen, CounterBlocks, blocks * kAesBlock) != 1 ||
            outLen != blocks * kAesBlock) {
            Keyed = false;
            return false;
        }
        KsPos = 0;
        KsLen = outLen;
        return true;
    }

    // Encrypt: key stream, then authenticate; decrypt: the other way round.
    // Works in key-stream sized pieces so each stays in cache for both steps.
    void Process(unsigned char *data, int64_t len, bool encrypt)
    {
        if (!Keyed || len <= 0)
            return;
        while (len > 0) {
            if (KsPos == KsLen && !Refill(len))
                return;
            const int64_t n = std::min<int64_t>(len, KsLen - KsPos);
            if (!encrypt && EVP_MAC_update(Hmac, data, size_t(n)) != 1) {
                Keyed = false;
                return;
            }
            XorInto(data, KeyStream + KsPos, size_t(n));
            if (encrypt && EVP_MAC_update(Hmac, data, size_t(n)) != 1) {
                Keyed = false;
                return;
            }
            KsPos += int(n);
            data += n;
            len -= n;
        }
    }

    // The first 10 bytes of the authentication code; false when the stream
    // was never keyed or a step failed.
    bool Finish(unsigned char *code)
    {
        if (!Keyed)
            return false;
        Keyed = false;
        unsigned char full[EVP_MAX_MD_SIZE];
        size_t outLen = 0;
        if (EVP_MAC_final(Hmac, full, &outLen, sizeof full) != 1 || outLen < size_t(kAesTrailerSize))
            return false;
        std::memcpy(code, full, kAesTrailerSize);
        OPENSSL_cleanse(full, sizeof full);
        return true;
    }
};

TCrypt::TCrypt(const QByteArray &Password, int32_t AMode, int32_t ABufSize)
    : FCryptCtx(std::make_unique<TCryptCtx>())
{
    FPwd = Password.left(kMaxPasswordBytes);
    FPwd.detach();
    CBufSize = uint32_t(ABufSize > 0 ? ABufSize : kDefaultBufSize);
    CBuffer = QByteArray(qsizetype(CBufSize), '\0');
    SetKeyMode(AMode);
    FFixedKey = true;
}

TCrypt::TCrypt(const QString &Password, int32_t AMode, int32_t ABufSize)
    : TCrypt(PasswordToAnsi(Password), AMode, ABufSize)
{
    // A text that fits Windows-1252 may have been encrypted elsewhere under
    // its UTF-8 bytes; keep those as the second form to try.
    bool fits = true;
    EncodeWindows1252(Password, &fits);
    if (fits) {
        const QByteArray utf8 = Password.toUtf8().left(kMaxPasswordBytes);
        if (utf8 != FPwd)
            FAltPwd = utf8;
    }
}

TCrypt::~TCrypt()
{
    if (!FPwd.isEmpty())
        OPENSSL_cleanse(FPwd.data(), size_t(FPwd.size()));
    if (!FAltPwd.isEmpty())
        OPENSSL_cleanse(FAltPwd.data(), size_t(FAltPwd.size()));
    if (!CBuffer.isEmpty())
        OPENSSL_cleanse(CBuffer.data(), size_t(CBuffer.size()));
}

void TCrypt::SetKeyMode(int32_t Value)
{
    if (Value >= 1 && Value <= 3) {
        FMode = Value;
        return;
    }
    FFixedKey = false;
    const qsizetype len = FPwd.size();
    FMode = len < 32 ? 1 : (len >= 48 ? 3 : 2);
}

TEncryption::TEncryption(const QByteArray &Password, int32_t AMode, int32_t ABufSize)
    : TCrypt(Password, AMode, ABufSize)
{
}

TEncryption::TEncryption(const QString &Password, int32_t AMode, int32_t ABufSize)
    : TCrypt(Password, AMode, ABufSize)
{
}

// One thread that derives the keys of the next stream while the current one
// is being written. It holds its own deep copy of the password, wiped when
// it ends.
class TEncryption::TKeyWorker {
public:
    explicit TKeyWorker(const QByteArray &pwd) : FPwd(pwd.constData(), size_t(pwd.size()))
    {
        FThread = std::thread([this] { Run(); });
    }

    ~TKeyWorker()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FStop = true;
        }
        FChanged.notify_all();
        FThread.join();
        OPENSSL_cleanse(FKeys, sizeof FKeys);
        OPENSSL_cleanse(FPwd.data(), FPwd.size());
    }

    // Starts the derivation for a new random salt of the mode.
    void Request(int32_t mode)
    {
        std::lock_guard<std::mutex> lock(FLock);
        FReady = FOk = false;
        ++FGeneration; // a derivation still under way is for an older salt
        FPending = RAND_bytes(FSalt, SaltLength(mode)) == 1;
        FMode = mode;
        if (FPending)
            FChanged.notify_all();
    }

    // The salt and keys made for mode; false when none were asked for that
    // mode or the derivation failed (the caller then derives them itself).
    bool Take(int32_t mode, unsigned char *salt, unsigned char *keys)
    {
        std::unique_lock<std::mutex> lock(FLock);
        if (FMode != mode || (!FPending && !FReady))
            return false;
        FChanged.wait(lock, [this] { return FReady; });
        const bool ok = FOk;
        if (ok) {
            std::memcpy(salt, FSalt, size_t(SaltLength(mode)));
            std::memcpy(keys, FKeys, sizeof FKeys);
        }
        OPENSSL_cleanse(FKeys, sizeof FKeys);
        FReady = FOk = false;
        return ok;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FChanged.wait(lock, [this] { return FStop || FPending; });
            if (FStop)
                return;
            const int32_t mode = FMode;
            const uint64_t generation = FGeneration;
            unsigned char salt[kMaxKeyLength / 2];
            std::memcpy(salt, FSalt, sizeof salt);
            lock.unlock();
            unsigned char keys[sizeof FKeys];
            const QByteArray pwd = QByteArray::fromRawData(FPwd.data(), qsizetype(FPwd.size()));
            const bool ok = TCrypt::TCryptCtx::Derive(pwd, salt, mode, keys);
            lock.lock();
            if (generation != FGeneration) { // asked again meanwhile: start over
                OPENSSL_cleanse(keys, sizeof keys);
                continue;
            }
            std::memcpy(FKeys, keys, sizeof keys);
            OPENSSL_cleanse(keys, sizeof keys);
            FOk = ok;
            FPending = false;
            FReady = true;
            FChanged.notify_all();
        }
    }

    std::string FPwd;
    std::thread FThread;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FStop = false;
    bool FPending = false;
    bool FReady = false;
    bool FOk = false;
    int32_t FMode = 0;
    uint64_t FGeneration = 0;
    unsigned char FSalt[kMaxKeyLength / 2] = {};
    unsigned char FKeys[2 * kMaxKeyLength + kVerifierSize] = {};
};

TEncryption::~TEncryption() = default;

bool TEncryption::WriteHeader(TStream &sDest)
{
    FCryptCtx->Keyed = false;
    const int saltLen = SaltLength(FMode);
    unsigned char header[kMaxKeyLength / 2 + kVerifierSize];
    unsigned char keys[2 * kMaxKeyLength + kVerifierSize];
    if (saltLen == 0)
        return false;
    bool ok = FKeyWorker && FKeyWorker->Take(FMode, header, keys);
    if (!ok) {
        if (RAND_bytes(header, saltLen) != 1)
            return false;
        ok = TCryptCtx::Derive(FPwd, header, FMode, keys);
    }
    ok = ok && FCryptCtx->Init(keys, FMode);
    if (++FHeadersWritten == 2) {
        try {
            FKeyWorker = std::make_unique<TKeyWorker>(FPwd);
        } catch (const std::system_error &) {
            // no thread to spare: every header derives its keys itself
        }
    }
    if (FKeyWorker)
        FKeyWorker->Request(FMode);
    if (ok) {
        std::memcpy(header + saltLen, keys + 2 * KeyLength(FMode), kVerifierSize);
        ok = WriteAll(sDest, header, saltLen + kVerifierSize);
    }
    OPENSSL_cleanse(keys, sizeof keys);
    if (!ok)
        FCryptCtx->Keyed = false;
    return ok;
}

void TEncryption::EncryptBlock(void *Buffer, int64_t BLen)
{
    FCryptCtx->Process(static_cast<unsigned char *>(Buffer), BLen, true);
}

bool TEncryption::WriteTrailer(TStream &sDest)
{
    unsigned char code[kAesTrailerSize];
    return FCryptCtx->Finish(code) && WriteAll(sDest, code, kAesTrailerSize);
}

bool TEncryption::ReadHeader(TStream &sSource)
{
    FCryptCtx->Keyed = false;
    const int saltLen = SaltLength(FMode);
    unsigned char header[kMaxKeyLength / 2 + kVerifierSize];
    if (saltLen == 0 || ReadFull(sSource, header, saltLen + kVerifierSize) != saltLen + kVerifierSize)
        return false;
    const unsigned char *stored = header + saltLen;
    const int verifierAt = 2 * KeyLength(FMode);
    unsigned char keys[2 * kMaxKeyLength + kVerifierSize];
    bool ok = false;
    for (const QByteArray *pwd : {&FPwd, &FAltPwd}) {
        if (pwd == &FAltPwd && FAltPwd.isEmpty())
            break;
        if (!TCryptCtx::Derive(*pwd, header, FMode, keys))
            break;
        // Constant time, like the authentication code: the verifier is
        // key material.
        if (CRYPTO_memcmp(keys + verifierAt, stored, kVerifierSize) == 0) {
            ok = FCryptCtx->Init(keys, FMode);
            break;
        }
    }
    OPENSSL_cleanse(keys, sizeof keys);
    return ok;
}

void TEncryption::DecryptBlock(void *Buffer, int64_t BLen)
{
    FCryptCtx->Process(static_cast<unsigned char *>(Buffer), BLen, false);
}

bool TEncryption::ReadTrailer(TStream &sSource)
{
    unsigned char code[kAesTrailerSize];
    unsigned char stored[kAesTrailerSize];
    if (!FCryptCtx->Finish(code))
        return false;
    return ReadFull(sSource, stored, kAesTrailerSize) == kAesTrailerSize &&
           CRYPTO_memcmp(code, stored, kAesTrailerSize) == 0;
}

TOpResult TEncryption::EncryptStreamEx(TStream &sSource, TStream &sDest, bool SpeedLimit,
                                       const TStatusEvent &CancelEncryption)
{
    if (!WriteHeader(sDest))
        return TOpResult::orError;
    auto *buffer = reinterpret_cast<unsigned char *>(CBuffer.data());
    int64_t total = 0;
    for (;;) {
        int64_t n = 0;
        try {
            if (Event)
                Event();
            n = ReadFull(sSource, buffer, CBufSize);
            if (n < 0)
                return TOpResult::orError;
            total += n;
            if (OnProgress)
                OnProgress(TFileAction::acEncrypt, total, SpeedLimit);
            EncryptBlock(buffer, n);
            if (!WriteAll(sDest, buffer, n))
                return TOpResult::orError;
            if (CancelEncryption && CancelEncryption()) {
                FCryptCtx->Keyed = false;
                return TOpResult::orUserBreak;
            }
        } catch (...) {
            FCryptCtx->Keyed = false;
            return TOpResult::orError;
        }
        if (n < int64_t(CBufSize))
            break;
    }
    return WriteTrailer(sDest) ? TOpResult::orOk : TOpResult::orError;
}

bool TEncryption::EncryptStream(TStream &sSource, TStream &sDest, bool SpeedLimit)
{
    return EncryptStreamEx(sSource, sDest, SpeedLimit, {}) == TOpResult::orOk;
}

TOpResult TEncryption::DecryptStreamEx(TStream &sSource, TStream *sDest, int64_t SLength, bool SpeedLimit,
                                       const TStatusEvent &CancelDecryption)
{
    // Shorter than header and trailer cannot hold a stream; nothing is read.
    if (SLength < int64_t(GetHeaderSize()) + GetTrailerSize())
        return TOpResult::orError;
    if (!ReadHeader(sSource))
        return TOpResult::orError;
    int64_t remaining = SLength - GetHeaderSize() - GetTrailerSize();
    auto *buffer = reinterpret_cast<unsigned char *>(CBuffer.data());
    int64_t total = 0;
    while (remaining > 0) {
        try {
            if (Event)
                Event();
            const int64_t want = std::min<int64_t>(CBufSize, remaining);
            const int64_t n = ReadFull(sSource, buffer, want);
            // A source that ends early fails here instead of waiting.
            if (n != want) {
                FCryptCtx->Keyed = false;
                return TOpResult::orError;
            }
            total += n;
            if (OnProgress)
                OnProgress(TFileAction::acDecrypt, total, SpeedLimit);
            DecryptBlock(buffer, n);
            if (sDest && !WriteAll(*sDest, buffer, n)) {
                FCryptCtx->Keyed = false;
                return TOpResult::orError;
            }
            remaining -= n;
            if (CancelDecryption && CancelDecryption()) {
                FCryptCtx->Keyed = false;
                return TOpResult::orUserBreak;
            }
        } catch (...) {
            FCryptCtx->Keyed = false;
            return TOpResult::orError;
        }
    }
    return ReadTrailer(sSource) ? TOpResult::orOk : TOpResult::orError;
}

bool TEncryption::DecryptStream(TStream &sSource, TStream *sDest, int64_t SLength, bool SpeedLimit)
{
    return DecryptStreamEx(sSource, sDest, SLength, SpeedLimit, {}) == TOpResult::orOk;
}

} // namespace vl
