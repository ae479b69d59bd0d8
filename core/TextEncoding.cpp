#include "core/TextEncoding.h"

#include "platform/FileNames.h"

#include <QHash>

namespace vl {

namespace {

// Windows-1252 bytes 80..9F; the rest of the code page equals Latin-1.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

const QHash<char16_t, char> &Reverse1252()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> t;
        for (int i = 0; i < 32; ++i)
            t.insert(kHigh1252[i], char(0x80 + i));
        return t;
    }();
    return table;
}

QString DecodeUtf16(const char *data, qsizetype size, bool bigEndian)
{
    // Unit by unit, without validation: lone surrogates are kept.
    const qsizetype n = size / 2;
    QString out(n, Qt::Uninitialized);
    QChar *dst = out.data();
    auto p = reinterpret_cast<const unsigned char *>(data);
    for (qsizetype i = 0; i < n; ++i, p += 2)
        dst[i] = QChar(bigEndian ? char16_t(p[0] << 8 | p[1]) : char16_t(p[1] << 8 | p[0]));
    return out;
}

QByteArray EncodeUtf16(const QString &text, bool bigEndian)
{
    QByteArray out;
    out.reserve(2 + text.size() * 2);
    out.append(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const char lo = char(u & 0xFF), hi = char(u >> 8);
        if (bigEndian) {
            out.append(hi);
            out.append(lo);
        } else {
            out.append(lo);
            out.append(hi);
        }
    }
    return out;
}

} // namespace

QString DecodeWindows1252(const QByteArray &bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        dst[i] = (b >= 0x80 && b < 0xA0) ? QChar(kHigh1252[b - 0x80]) : QChar(char16_t(b));
    }
    return out;
}

QByteArray EncodeWindows1252(const QString &text, bool *ok)
{
    if (ok)
        *ok = true;
    QByteArray out;
    out.reserve(text.size());
    const auto &reverse = Reverse1252();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.append(char(u));
            continue;
        }
        const auto it = reverse.constFind(u);
        if (it != reverse.constEnd()) {
            out.append(*it);
        } else {
            out.append('?');
            if (ok)
                *ok = false;
        }
    }
    return out;
}

QString DecodeText(const QByteArray &bytes, TTextEncoding *found)
{
    TTextEncoding enc;
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        enc = TTextEncoding::teUtf8Bom;
        text = QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    } else if (bytes.startsWith("\xFF\xFE")) {
        enc = TTextEncoding::teUtf16LE;
        text = DecodeUtf16(bytes.constData() + 2, bytes.size() - 2, false);
    } else if (bytes.startsWith("\xFE\xFF")) {
        enc = TTextEncoding::teUtf16BE;
        text = DecodeUtf16(bytes.constData() + 2, bytes.size() - 2, true);
    } else if (IsValidUtf8(bytes)) {
        enc = TTextEncoding::teUtf8;
        text = QString::fromUtf8(bytes);
    } else {
        enc = TTextEncoding::teWindows1252;
        text = DecodeWindows1252(bytes);
    }
    if (found)
        *found = enc;
    return text;
}

QByteArray EncodeText(const QString &text, TTextEncoding encoding, bool *ok)
{
    if (ok)
        *ok = true;
    switch (encoding) {
    case TTextEncoding::teUtf8Bom:
        if (ok)
            *ok = text.isValidUtf16();
        return QByteArray("\xEF\xBB\xBF", 3) + text.toUtf8();
    case TTextEncoding::teUtf16LE:
        return EncodeUtf16(text, false);
    case TTextEncoding::teUtf16BE:
        return EncodeUtf16(text, true);
    case TTextEncoding::teWindows1252:
        return EncodeWindows1252(text, ok);
    case TTextEncoding::teUtf8:
        break;
    }
    // A lone surrogate (an escaped file-name byte) has no UTF-8 form.
    if (ok)
        *ok = text.isValidUtf16();
    return text.toUtf8();
}

} // namespace vl
