// Lossless mapping between file names (bytes) and QString.
//
// Linux file names are byte strings that need not be UTF-8. Valid UTF-8
// decodes as usual; every byte that is not part of a valid sequence becomes
// the lone surrogate U+DC80+byte, and encoding turns it back into that byte.
// So every name read from the file system comes back byte for byte.
#pragma once

#include <QByteArray>
#include <QString>

namespace vl {

QString DecodeFileName(const char *data, qsizetype size);
inline QString DecodeFileName(const QByteArray &name) { return DecodeFileName(name.constData(), name.size()); }
QByteArray EncodeFileName(const QString &name);

// True when the name holds bytes that are not valid UTF-8 (escaped chars).
bool HasEscapedBytes(const QString &name);

// Strict UTF-8 validation: no overlong forms, no surrogates, nothing above
// U+10FFFF.
bool IsValidUtf8(const char *data, qsizetype size);
inline bool IsValidUtf8(const QByteArray &b) { return IsValidUtf8(b.constData(), b.size()); }

} // namespace vl
