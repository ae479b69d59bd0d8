// Link information files: a directory link of a source tree that the
// backup does not descend into is recorded as a small file beside where the
// directory would be, so that a restore can recreate the link.
//
// Format (exact bytes): the UTF-8 byte order mark, "# Junction" CR LF, the
// link's target CR LF, the kind as a decimal number ("1" junction, "2"
// symbolic link) CR LF, nothing more. The target is stored as the bytes of
// its file name (UTF-8 for every valid name).
//
// Naming: the link's own name with ".vllink" appended, so "My.Docs" and
// "My.Pics" get files of their own. Older backups named the file by
// replacing the link's extension ("My.vllink"); readers accept both.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

class TExtFtp;

inline constexpr uint8_t kLinkKindJunction = 1;
inline constexpr uint8_t kLinkKindSymlink = 2;

// The content of a link information file.
QByteArray LinkInfoBytes(const QString &Target, uint8_t Kind);
// Target and kind from the content; false when it is no link information
// (missing first line, no target, or no number as kind). The byte order
// mark is optional and CR LF or LF end the lines.
bool ParseLinkInfo(const QByteArray &Data, QString &Target, int &Kind);

// The information file of the link directory DestPath: DestPath + ".vllink".
QString LinkInfoFileName(const QString &DestPath);
// The name older backups used: the extension of DestPath replaced.
QString LegacyLinkInfoFileName(const QString &DestPath);
// The information file that exists for DestPath, the current name first;
// empty when there is none.
QString FindLinkInfoFile(const QString &DestPath);
// The name of the link an information file describes (the file name
// without ".vllink").
QString LinkNameOfInfoFile(const QString &InfoFileName);

// Reads an information file; false when it cannot be read or parsed.
bool ReadLinkInfoFile(const QString &FileName, QString &Target, int &Kind);
// Writes the information file of DestPath (replacing an existing one
// atomically); the folder must exist. 0 or the error number.
uint32_t WriteLinkInfoFile(const QString &DestPath, const QString &Target, uint8_t Kind);
// Uploads the information file of DestPath's file name into the current
// remote directory; the result of the transfer (0 on success).
int32_t UploadLinkInfo(TExtFtp &AFtp, const QString &DestPath, const QString &Target, uint8_t Kind);

} // namespace vl
