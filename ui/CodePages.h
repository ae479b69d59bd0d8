// Code pages a user can choose to read text files in: numbers as other
// programs and old settings know them (1252, 850, 65001, ...), decoded
// and encoded through the C library's converters.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vl {

// The 8-bit code page of text without a mark when nothing else is known.
inline constexpr int kAnsiCodePage = 1252;

// One entry of a code-page choice; CodePage 0 stands for "automatic".
struct TCodePageEntry {
    QString Text;
    int CodePage = 0;
};

// Decodes Bytes in the code page; false when the code page is unknown here
// or the bytes are no valid text in it (Text is then empty).
bool DecodeCodePage(const QByteArray &Bytes, int CodePage, QString &Text);
// Encodes Text in the code page; false when the code page is unknown here
// or cannot hold a character of the text (Bytes is then empty).
bool EncodeCodePage(const QString &Text, int CodePage, QByteArray &Bytes);

// The code pages this system can decode, as "<name> - (<number>)", sorted
// by text; a non-empty FirstEntry comes first with the value 0.
QList<TCodePageEntry> BuildCodePageList(const QString &FirstEntry);

} // namespace vl
