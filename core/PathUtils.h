// Functions on path texts: delimiters, extensions, joining, suffixes,
// relative and absolute forms, common bases, shortening for display and
// file-name character checks. Only ExistingParentDir touches the file
// system.
//
// - The delimiter is "/" only; "\" is an ordinary character.
// - Network paths are written "//server/share/dir".
// - Volume-label paths ":LABEL:/rest" (or ":LABEL:" alone) name a path below
//   the root of the volume with that label; they count as absolute. Apart
//   from that form ":" is an ordinary character.
// - The drive part of a path (ExtractFileDrive): "//server/share" for a
//   network path, "/" for every other path beginning with "/" (all fixed
//   local file systems together are one drive), empty for a relative path
//   and for a volume-label path, whose drive is known only once the label
//   is resolved.
// - The extension is the text after the last "." of the last element; a
//   name without "." has none.
// - Paths are compared exactly (names are case-sensitive); extensions and
//   masks ignore case, since they are no file identities.
#pragma once

#include <QChar>
#include <QString>

namespace vl {

// ---- Delimiters and directories ----

// s with a trailing "/" added when missing; an empty s stays empty.
QString WithTrailingDelimiter(const QString &s);
// Whether a and b with trailing delimiters are equal.
bool SameDirectory(const QString &a, const QString &b);
// False when a is empty; else SameDirectory.
bool SameDirectoryNonEmpty(const QString &a, const QString &b);
// dir when name is empty, name when dir is empty, else dir with trailing
// delimiter followed by name.
QString JoinPath(const QString &dir, const QString &name);
// s without its trailing delimiter and its last element: "/a/b/" gives
// "/a", "/a" gives "/" (the root), "/" stays "/". A relative s without
// delimiter is returned unchanged.
QString ParentDirectory(const QString &s);
// The last element after removing a trailing delimiter: "/a/b/" gives "b".
QString LastPathElement(const QString &s);

// ---- Extensions and names ----

// The extension without the dot; empty when there is none.
QString ExtensionOf(const QString &s);
// s without the last "." of its last element and what follows it (".cfg"
// becomes empty).
QString StripExtension(const QString &s);
// Empty for an empty s; else StripExtension(s) + "." + ext (a leading "."
// of ext is not doubled), or just the stripped name when ext is empty.
QString ReplaceExtension(const QString &s, const QString &ext);
// s when s or ext is empty; ext counts with or without its leading ".".
// mode 0: s when it has that extension already (ignoring case), else as
//         mode 2;
// mode 1: ReplaceExtension(s, ext);
// mode 2 (and any other value): a trailing "." of s is removed, then "."
//         and the extension are appended ("a.txt" gives "a.txt.zip").
QString ForceExtension(const QString &s, const QString &ext, int mode);
// name completed to a file in dir: defExt (without its leading ".") is
// appended to a non-empty name that contains no "." at all; an absolute
// name, or any name when dir is empty, is the result as it is, else dir and
// name joined with one "/".
QString BuildFileName(const QString &dir, const QString &name, const QString &defExt);
// StripExtension(name) + suffix + ext (with a "." put in front of a
// non-empty ext that lacks one).
QString InsertSuffixWithExt(const QString &name, const QString &suffix, const QString &ext);
// suffix inserted between the name and its extension: "a.txt" with "_1"
// gives "a_1.txt", "a" gives "a_1".
QString InsertNameSuffix(const QString &name, const QString &suffix);
// False for an empty mask, else the wildcard match of core/Masks.h (letters
// ignore case); raises EMaskException for an invalid mask.
bool MatchesFileMask(const QString &mask, const QString &fileName);

// ---- Drives, relative and absolute paths ----

// The drive part of s (see above).
QString ExtractFileDrive(const QString &s);
// Whether s is its own drive: "", "/", "//server/share" and
// "//server/share/".
bool IsDriveRoot(const QString &s);
// Whether s begins with "/" or is a volume-label path.
bool HasAbsolutePath(const QString &s);
// False for an empty dir; else whether path with trailing delimiter begins
// with dir with trailing delimiter (so also when both are equal).
bool DirContainsPath(const QString &dir, const QString &path);
// Empty when base and name are the same directory; name relative to base
// when base contains it ("/t" and "/t/x/y.buj" give "x/y.buj"); else name
// unchanged.
QString RelativePathTo(const QString &base, const QString &name);
// name relative to its drive part ("/home/a" gives "home/a"); unchanged
// when it has none.
QString DriveRelativePath(const QString &name);
// name when it is absolute, else base with trailing delimiter followed by
// name.
QString AbsolutePath(const QString &base, const QString &name);
// name when it is absolute; else base with trailing delimiter ("/" for an
// empty base) followed by name, with "." and ".." elements and empty
// elements resolved textually. The root ("/", "//server/share", ":LABEL:")
// is kept and ".." never climbs above it; a trailing delimiter is kept; a
// relative path that resolves to nothing gives ".". name unchanged when
// the path cannot be resolved (a ".." above the beginning of a relative
// base, a network path without server and share).
QString CanonicalPath(const QString &base, const QString &name);
// The beginning of a (in its own form) up to and including the last "/"
// up to which a and b, both with trailing delimiters, agree element by
// element; empty when not even the first element is common.
// "/data/photos/2020" and "/data/music" give "/data/".
QString CommonBasePath(const QString &a, const QString &b);
// name when it is an existing directory (links followed). A network path
// is shortened element by element down to its share, and the first
// existing directory is the result. defaultDir for an empty or relative
// name, a volume-label path, a missing local path (no search upwards) and
// a network path with nothing existing down to its share.
QString ExistingParentDir(const QString &name, const QString &defaultDir);

// ---- File-name characters ----

// Whether name holds none of the characters that are invalid in file names
// on some destination: below code 32, and " * / : < > ? \ |. The empty name
// counts as valid.
bool HasValidFileNameChars(const QString &name);
// name with every invalid file-name character replaced by ch.
QString ReplaceInvalidFileNameChars(const QString &name, QChar ch);
// False for "." and "..", true for every other name.
bool IsRegularDirName(const QString &name);

// ---- Display ----

// s shortened for display to at most maxLen characters: elements in front
// of the last one are replaced by "..." ("/dir1/dir2/dir3/file.txt" with 20
// gives "/dir1/.../file.txt"), or, when that is not enough, "..." followed
// by the end of s. s unchanged when maxLen is 3 or less or s is short
// enough.
QString ShortenPath(const QString &s, int maxLen);

} // namespace vl
