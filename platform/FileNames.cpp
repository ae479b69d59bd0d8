#include "platform/FileNames.h"

namespace vl {

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when invalid.
int ValidSequenceLength(const unsigned char *p, const unsigned char *end)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (end - p < len)
        return 0;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (int i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

} // namespace

bool IsValidUtf8(const char *data, qsizetype size)
{
    auto p = reinterpret_cast<const unsigned char *>(data);
    const auto end = p + size;
    while (p < end) {
        const int n = ValidSequenceLength(p, end);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

QString DecodeFileName(const char *data, qsizetype size)
{
    if (IsValidUtf8(data, size))
        return QString::fromUtf8(data, size);
    QString out;
    out.reserve(size);
    auto p = reinterpret_cast<const unsigned char *>(data);
    const auto end = p + size;
    while (p < end) {
        const int n = ValidSequenceLength(p, end);
        if (n == 0) {
            out.append(QChar(ushort(0xDC00 + *p)));
            ++p;
        } else {
            out.append(QString::fromUtf8(reinterpret_cast<const char *>(p), n));
            p += n;
        }
    }
    return out;
}

QByteArray EncodeFileName(const QString &name)
{
    if (!HasEscapedBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size() * 3);
    const QChar *s = name.constData();
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const ushort u = s[i].unicode();
        if (u >= 0xDC80 && u <= 0xDCFF) {
            out.append(char(u - 0xDC00));
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            out.append(QStringView(s + i, 2).toUtf8());
            ++i;
        } else {
            out.append(QStringView(s + i, 1).toUtf8());
        }
    }
    return out;
}

bool HasEscapedBytes(const QString &name)
{
    const QChar *s = name.constData();
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const ushort u = s[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (u >= 0xDC80 && u <= 0xDCFF)
            return true;
    }
    return false;
}

} // namespace vl
