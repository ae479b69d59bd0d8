#include "core/Progress.h"

#include <QByteArray>

#include <openssl/evp.h>

#include <memory>

namespace vl {

std::atomic<bool> HashCancel{false};

namespace {

// Block size when the caller gives none.
constexpr int32_t kDefaultDigestBufSize = 0x10000;

const EVP_MD *DigestType(uint8_t kind)
{
    switch (kind) {
    case dkSha1: return EVP_sha1();
    case dkSha256: return EVP_sha256();
    default: return EVP_md5();
    }
}

struct TDigestContextFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};

} // namespace

void StreamDigest(uint8_t AKind, TStream &AStream, int32_t ABufSize, QString &ADigest,
                  const TDigestProgressEvent &AProgress)
{
    ADigest.clear();
    HashCancel = false;
    std::unique_ptr<EVP_MD_CTX, TDigestContextFree> ctx(EVP_MD_CTX_new());
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), DigestType(AKind), nullptr) == 1;
    QByteArray buffer(ABufSize > 0 ? ABufSize : kDefaultDigestBufSize, Qt::Uninitialized);

    if (AProgress)
        AProgress(hpStart, AStream.Size());
    while (ok && !HashCancel) {
        const int64_t pos = AStream.Position();
        const int64_t size = AStream.Size();
        if (pos < 0 || size < 0) {
            ok = false;
            break;
        }
        if (pos >= size)
            break;
        const int64_t n = AStream.Read(buffer.data(), buffer.size());
        // A read error, or no data although the stream reports more: the
        // digest would not be that of the whole content, so there is none.
        if (n <= 0) {
            ok = false;
            break;
        }
        if (AProgress) {
            AProgress(hpBlock, n);
            AProgress(hpPosition, AStream.Position());
        }
        ok = EVP_DigestUpdate(ctx.get(), buffer.constData(), size_t(n)) == 1;
    }
    if (AProgress)
        AProgress(hpDone, AStream.Size());

    if (!ok || HashCancel)
        return;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), md, &len) != 1)
        return;
    ADigest = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(md), int(len)).toHex());
}

} // namespace vl
