// Passwords and command lines kept in task and settings files are stored
// only enciphered: a length-prefixed, randomly padded record in the AES
// framing of engine/Encryption.h under a key text derived at run time, as
// base-85 text (passwords) or hexadecimal text (commands). Values are 8-bit
// strings (see PasswordToAnsi for the encoding of text). Nothing raises; a
// text that does not decipher gives an empty value. Values longer than 8191
// bytes do not fit the length prefix and are refused with an empty result.
#pragma once

#include <QByteArray>
#include <QString>

namespace vl {

// The built-in key literal every caller passes through HexToCipherKey.
extern const char kCipherKeyLiteral[];

QByteArray HexToCipherKey(const QByteArray &Literal);
// Callers pass Len 64 and AsHex false.
QByteArray EncryptPassword(const QByteArray &Key, const QByteArray &S, int Len, bool AsHex);
// Callers pass AsHex true.
QByteArray EncryptCommand(const QByteArray &Key, const QByteArray &S, bool AsHex);
QByteArray DecryptPassword(const QByteArray &Key, const QByteArray &S, bool AsHex);
QByteArray DecryptCommand(const QByteArray &Key, const QByteArray &S, bool AsHex);

// The stored forms of task and settings files under the built-in key:
// passwords as base-85 text (length 64), command lines as hexadecimal text.
QString StoredPasswordText(const QByteArray &APassword);
QByteArray PasswordFromStoredText(const QString &AText);
QString StoredCommandText(const QByteArray &ACommand);
QByteArray CommandFromStoredText(const QString &AText);

} // namespace vl
