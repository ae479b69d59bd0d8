#include "ui/CodePages.h"

#include "core/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace vl {

namespace {

struct TKnownCodePage {
    int CodePage;
    const char *Converter; // name the C library's iconv knows
    const char *Name;
};

// The code pages text files are commonly found in.
constexpr TKnownCodePage kKnownCodePages[] = {
    {437, "CP437", "DOS - United States"},
    {737, "CP737", "DOS - Greek"},
    {775, "CP775", "DOS - Baltic"},
    {850, "CP850", "DOS - Western European"},
    {852, "CP852", "DOS - Central European"},
    {855, "CP855", "DOS - Cyrillic"},
    {857, "CP857", "DOS - Turkish"},
    {858, "CP858", "DOS - Western European with Euro"},
    {860, "CP860", "DOS - Portuguese"},
    {861, "CP861", "DOS - Icelandic"},
    {862, "CP862", "DOS - Hebrew"},
    {863, "CP863", "DOS - Canadian French"},
    {864, "CP864", "DOS - Arabic"},
    {865, "CP865", "DOS - Nordic"},
    {866, "CP866", "DOS - Russian"},
    {869, "CP869", "DOS - Modern Greek"},
    {874, "CP874", "Thai"},
    {932, "CP932", "Japanese Shift-JIS"},
    {936, "CP936", "Simplified Chinese GBK"},
    {949, "CP949", "Korean"},
    {950, "CP950", "Traditional Chinese Big5"},
    {1250, "CP1250", "Central European"},
    {1251, "CP1251", "Cyrillic"},
    {1252, nullptr, "Western European"},
    {1253, "CP1253", "Greek"},
    {1254, "CP1254", "Turkish"},
    {1255, "CP1255", "Hebrew"},
    {1256, "CP1256", "Arabic"},
    {1257, "CP1257", "Baltic"},
    {1258, "CP1258", "Vietnamese"},
    {10000, "MACINTOSH", "Mac - Roman"},
    {10007, "MAC-CYRILLIC", "Mac - Cyrillic"},
    {10029, "MAC-CENTRALEUROPE", "Mac - Central European"},
    {20127, "ASCII", "US-ASCII"},
    {20866, "KOI8-R", "Russian KOI8-R"},
    {21866, "KOI8-U", "Ukrainian KOI8-U"},
    {28591, "ISO-8859-1", "ISO 8859-1 Latin 1"},
    {28592, "ISO-8859-2", "ISO 8859-2 Central European"},
    {28593, "ISO-8859-3", "ISO 8859-3 Latin 3"},
    {28594, "ISO-8859-4", "ISO 8859-4 Baltic"},
    {28595, "ISO-8859-5", "ISO 8859-5 Cyrillic"},
    {28596, "ISO-8859-6", "ISO 8859-6 Arabic"},
    {28597, "ISO-8859-7", "ISO 8859-7 Greek"},
    {28598, "ISO-8859-8", "ISO 8859-8 Hebrew"},
    {28599, "ISO-8859-9", "ISO 8859-9 Turkish"},
    {28603, "ISO-8859-13", "ISO 8859-13 Estonian"},
    {28605, "ISO-8859-15", "ISO 8859-15 Latin 9"},
    {65001, "UTF-8", "UTF-8"},
};

const TKnownCodePage *FindKnown(int CodePage)
{
    for (const TKnownCodePage &cp : kKnownCodePages)
        if (cp.CodePage == CodePage)
            return &cp;
    return nullptr;
}

QByteArray ConverterName(int CodePage)
{
    const TKnownCodePage *known = FindKnown(CodePage);
    return known ? QByteArray(known->Converter) : "CP" + QByteArray::number(CodePage);
}

class TIconv {
public:
    explicit TIconv(const char *From, const char *To = "UTF-8") : FHandle(iconv_open(To, From)) {}
    ~TIconv()
    {
        if (Valid())
            iconv_close(FHandle);
    }
    TIconv(const TIconv &) = delete;
    TIconv &operator=(const TIconv &) = delete;

    bool Valid() const { return FHandle != iconv_t(-1); }

    bool Convert(const QByteArray &Bytes, QByteArray &out)
    {
        char *in = const_cast<char *>(Bytes.constData());
        size_t inLeft = size_t(Bytes.size());
        char buffer[16384];
        while (inLeft > 0) {
            char *dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t rc = iconv(FHandle, &in, &inLeft, &dst, &dstLeft);
            out.append(buffer, qsizetype(dst - buffer));
            // E2BIG only asks for another round; anything else is a byte
            // sequence the code page does not have.
            if (rc == size_t(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t FHandle;
};

} // namespace

bool DecodeCodePage(const QByteArray &Bytes, int CodePage, QString &Text)
{
    Text.clear();
    if (CodePage == kAnsiCodePage) {
        Text = DecodeWindows1252(Bytes);
        return true;
    }
    if (CodePage <= 0)
        return false;
    const QByteArray name = ConverterName(CodePage);
    TIconv conv(name.constData());
    QByteArray utf8;
    if (!conv.Valid() || !conv.Convert(Bytes, utf8))
        return false;
    Text = QString::fromUtf8(utf8);
    return true;
}

bool EncodeCodePage(const QString &Text, int CodePage, QByteArray &Bytes)
{
    Bytes.clear();
    if (CodePage == kAnsiCodePage) {
        bool ok = true;
        QByteArray encoded = EncodeWindows1252(Text, &ok);
        if (ok)
            Bytes = encoded;
        return ok;
    }
    if (CodePage <= 0 || !Text.isValidUtf16())
        return false;
    const QByteArray name = ConverterName(CodePage);
    TIconv conv("UTF-8", name.constData());
    QByteArray encoded;
    if (!conv.Valid() || !conv.Convert(Text.toUtf8(), encoded))
        return false;
    Bytes = encoded;
    return true;
}

QList<TCodePageEntry> BuildCodePageList(const QString &FirstEntry)
{
    QList<TCodePageEntry> list;
    for (const TKnownCodePage &cp : kKnownCodePages) {
        if (cp.Converter && !TIconv(cp.Converter).Valid())
            continue;
        list.append({QStringLiteral("%1 - (%2)").arg(QString::fromLatin1(cp.Name)).arg(cp.CodePage), cp.CodePage});
    }
    std::sort(list.begin(), list.end(), [](const TCodePageEntry &a, const TCodePageEntry &b) {
        return QString::compare(a.Text, b.Text, Qt::CaseInsensitive) < 0;
    });
    if (!FirstEntry.isEmpty())
        list.prepend({FirstEntry, 0});
    return list;
}

} // namespace vl
