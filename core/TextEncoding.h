// Text file encodings: detection when reading, and the legacy 8-bit code
// page (Windows-1252) that older files may be written in.
//
// Reading: a byte-order mark decides (EF BB BF UTF-8, FF FE UTF-16LE,
// FE FF UTF-16BE); without one the bytes are UTF-8 when they are valid
// UTF-8, else Windows-1252.
#pragma once

#include <QByteArray>
#include <QString>

namespace vl {

enum class TTextEncoding {
    teUtf8,        // UTF-8 without a mark
    teUtf8Bom,     // UTF-8 preceded by EF BB BF
    teUtf16LE,     // UTF-16LE preceded by FF FE
    teUtf16BE,     // UTF-16BE preceded by FE FF
    teWindows1252, // 8-bit legacy text without a mark
};

// Windows-1252. The five bytes the code page leaves undefined (81 8D 8F 90
// 9D) map to the C1 controls of the same value, so every byte string
// survives decoding and encoding unchanged.
QString DecodeWindows1252(const QByteArray &bytes);
// Encodes text as Windows-1252; a character without a byte becomes '?'
// and clears *ok.
QByteArray EncodeWindows1252(const QString &text, bool *ok = nullptr);

// Decodes a whole text file's bytes (see above); *found receives the
// encoding used. The mark is not part of the text. UTF-16 is taken unit by
// unit, so lone surrogates (escaped bytes of file names) stay as they are.
QString DecodeText(const QByteArray &bytes, TTextEncoding *found = nullptr);
// Encodes text in the given encoding, with its mark where it has one.
// *ok is cleared when the encoding cannot hold a character of the text
// (Windows-1252 lacks it, or UTF-8 meets a lone surrogate); that character
// becomes '?'.
QByteArray EncodeText(const QString &text, TTextEncoding encoding, bool *ok = nullptr);

} // namespace vl
