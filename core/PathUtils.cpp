#include "core/PathUtils.h"

#include "core/Masks.h"
#include "platform/FileSystem.h"

#include <QStringList>

namespace vl {

namespace {

constexpr QChar kDelimiter = QLatin1Char('/');

QString WithoutTrailingDelimiter(const QString &s)
{
    return s.endsWith(kDelimiter) ? s.left(s.size() - 1) : s;
}

// Index of the "." that starts the extension of the last element; -1 when
// there is none.
qsizetype ExtensionDot(const QString &s)
{
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    return dot > s.lastIndexOf(kDelimiter) ? dot : -1;
}

QString WithoutLeadingDot(const QString &ext)
{
    return ext.startsWith(QLatin1Char('.')) ? ext.mid(1) : ext;
}

bool IsNetworkPath(const QString &s)
{
    return s.size() > 2 && s.startsWith(QStringLiteral("//")) && s.at(2) != kDelimiter;
}

// Length of the ":LABEL:" part of a volume-label path; 0 for any other path.
qsizetype VolumeLabelRootLength(const QString &s)
{
    if (!s.startsWith(QLatin1Char(':')))
        return 0;
    const qsizetype close = s.indexOf(QLatin1Char(':'), 1);
    if (close < 2 || s.left(close).contains(kDelimiter))
        return 0;
    if (close + 1 < s.size() && s.at(close + 1) != kDelimiter)
        return 0;
    return close + 1;
}

bool IsInvalidFileNameChar(QChar c)
{
    switch (c.unicode()) {
    case u'"':
    case u'*':
    case u'/':
    case u':':
    case u'<':
    case u'>':
    case u'?':
    case u'\\':
    case u'|':
        return true;
    default:
        return c.unicode() < 32;
    }
}

bool IsExistingDir(const QString &path)
{
    TStatInfo st;
    return StatPath(path, true, st) == 0 && st.IsDir();
}

} // namespace

// ---- Delimiters and directories ----

QString WithTrailingDelimiter(const QString &s)
{
    if (s.isEmpty() || s.endsWith(kDelimiter))
        return s;
    return s + kDelimiter;
}

bool SameDirectory(const QString &a, const QString &b)
{
    return WithTrailingDelimiter(a) == WithTrailingDelimiter(b);
}

bool SameDirectoryNonEmpty(const QString &a, const QString &b)
{
    return !a.isEmpty() && SameDirectory(a, b);
}

QString JoinPath(const QString &dir, const QString &name)
{
    if (name.isEmpty())
        return dir;
    if (dir.isEmpty())
        return name;
    return WithTrailingDelimiter(dir) + name;
}

QString ParentDirectory(const QString &s)
{
    if (s == kDelimiter)
        return s;
    const QString path = WithoutTrailingDelimiter(s);
    const qsizetype last = path.lastIndexOf(kDelimiter);
    if (last < 0)
        return path;
    // The parent of a top-level folder is the root itself.
    return last == 0 ? QString(kDelimiter) : path.left(last);
}

QString LastPathElement(const QString &s)
{
    const QString path = WithoutTrailingDelimiter(s);
    return path.mid(path.lastIndexOf(kDelimiter) + 1);
}

// ---- Extensions and names ----

QString ExtensionOf(const QString &s)
{
    const qsizetype dot = ExtensionDot(s);
    return dot < 0 ? QString() : s.mid(dot + 1);
}

QString StripExtension(const QString &s)
{
    const qsizetype dot = ExtensionDot(s);
    return dot < 0 ? s : s.left(dot);
}

QString ReplaceExtension(const QString &s, const QString &ext)
{
    if (s.isEmpty())
        return s;
    const QString bare = WithoutLeadingDot(ext);
    if (bare.isEmpty())
        return StripExtension(s);
    return StripExtension(s) + QLatin1Char('.') + bare;
}

QString ForceExtension(const QString &s, const QString &ext, int mode)
{
    const QString bare = WithoutLeadingDot(ext);
    if (s.isEmpty() || bare.isEmpty())
        return s;
    if (mode == 0 && ExtensionOf(s).compare(bare, Qt::CaseInsensitive) == 0)
        return s;
    if (mode == 1)
        return ReplaceExtension(s, bare);
    const QString base = s.endsWith(QLatin1Char('.')) ? s.left(s.size() - 1) : s;
    return base + QLatin1Char('.') + bare;
}

QString BuildFileName(const QString &dir, const QString &name, const QString &defExt)
{
    QString file = name;
    const QString ext = WithoutLeadingDot(defExt);
    // An empty name stays empty: a file named only ".ext" is never meant.
    if (!file.isEmpty() && !file.contains(QLatin1Char('.')) && !ext.isEmpty())
        file += QLatin1Char('.') + ext;
    if (HasAbsolutePath(file) || dir.isEmpty())
        return file;
    return WithTrailingDelimiter(dir) + file;
}

QString InsertSuffixWithExt(const QString &name, const QString &suffix, const QString &ext)
{
    QString result = StripExtension(name) + suffix;
    if (!ext.isEmpty() && !ext.startsWith(QLatin1Char('.')))
        result += QLatin1Char('.');
    return result + ext;
}

QString InsertNameSuffix(const QString &name, const QString &suffix)
{
    const qsizetype dot = ExtensionDot(name);
    if (dot < 0)
        return name + suffix;
    QString result = name;
    return result.insert(dot, suffix);
}

bool MatchesFileMask(const QString &mask, const QString &fileName)
{
    return !mask.isEmpty() && MatchesMask(fileName, mask);
}

// ---- Drives, relative and absolute paths ----

QString ExtractFileDrive(const QString &s)
{
    if (IsNetworkPath(s)) {
        const qsizetype serverEnd = s.indexOf(kDelimiter, 2);
        if (serverEnd < 0)
            return s;
        qsizetype shareEnd = s.indexOf(kDelimiter, serverEnd + 1);
        if (shareEnd < 0)
            shareEnd = s.size();
        // "//server/" has no share: the server alone is the drive.
        return shareEnd == serverEnd + 1 ? s.left(serverEnd) : s.left(shareEnd);
    }
    if (s.startsWith(kDelimiter))
        return QString(kDelimiter);
    return QString();
}

bool IsDriveRoot(const QString &s)
{
    return WithTrailingDelimiter(ExtractFileDrive(s)) == WithTrailingDelimiter(s);
}

bool HasAbsolutePath(const QString &s)
{
    return s.startsWith(kDelimiter) || VolumeLabelRootLength(s) > 0;
}

bool DirContainsPath(const QString &dir, const QString &path)
{
    return !dir.isEmpty() && WithTrailingDelimiter(path).startsWith(WithTrailingDelimiter(dir));
}

QString RelativePathTo(const QString &base, const QString &name)
{
    if (SameDirectory(base, name))
        return QString();
    if (DirContainsPath(base, name))
        return name.mid(WithTrailingDelimiter(base).size());
    return name;
}

QString DriveRelativePath(const QString &name)
{
    const QString drive = ExtractFileDrive(name);
    return drive.isEmpty() ? name : RelativePathTo(drive, name);
}

QString AbsolutePath(const QString &base, const QString &name)
{
    if (HasAbsolutePath(name))
        return name;
    return WithTrailingDelimiter(base) + name;
}

QString CanonicalPath(const QString &base, const QString &name)
{
    if (HasAbsolutePath(name))
        return name;
    const QString path = (base.isEmpty() ? QString(kDelimiter) : WithTrailingDelimiter(base)) + name;

    // The root is kept as it is; everything after it is resolved.
    QString root;
    if (IsNetworkPath(path)) {
        root = ExtractFileDrive(path);
        const QStringList parts = root.mid(2).split(kDelimiter);
        for (const QString &part : {parts.value(0), parts.value(1)}) {
            if (part.isEmpty() || part == QStringLiteral(".") || part == QStringLiteral(".."))
                return name;
        }
    } else if (const qsizetype labelLen = VolumeLabelRootLength(path); labelLen > 0) {
        root = path.left(labelLen);
    } else if (path.startsWith(kDelimiter)) {
        root = kDelimiter;
    }
    const bool relative = root.isEmpty();

    QStringList elements;
    const QStringList parts = path.mid(root.size()).split(kDelimiter, Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QStringLiteral("."))
            continue;
        if (part == QStringLiteral("..")) {
            if (!elements.isEmpty())
                elements.removeLast();
            else if (relative)
                return name;
            continue;
        }
        elements.append(part);
    }

    if (elements.isEmpty()) {
        if (relative)
            return QStringLiteral(".");
        return root == kDelimiter || !path.endsWith(kDelimiter) ? root : root + kDelimiter;
    }
    QString result = root;
    if (!relative && root != kDelimiter)
        result += kDelimiter;
    result += elements.join(kDelimiter);
    if (path.endsWith(kDelimiter))
        result += kDelimiter;
    return result;
}

QString CommonBasePath(const QString &a, const QString &b)
{
    const QString pa = WithTrailingDelimiter(a);
    const QString pb = WithTrailingDelimiter(b);
    qsizetype common = 0;
    for (;;) {
        const qsizetype end = pa.indexOf(kDelimiter, common);
        if (end < 0 || end != pb.indexOf(kDelimiter, common))
            break;
        if (QStringView(pa).mid(common, end - common) != QStringView(pb).mid(common, end - common))
            break;
        common = end + 1;
    }
    return pa.left(common);
}

QString ExistingParentDir(const QString &name, const QString &defaultDir)
{
    // A volume-label path is no file-system path until its label is
    // resolved; probing it would look below the current folder.
    if (!name.startsWith(kDelimiter))
        return defaultDir;
    if (IsExistingDir(name))
        return name;
    if (IsNetworkPath(name)) {
        const qsizetype shareLen = ExtractFileDrive(name).size();
        QString path = name;
        for (;;) {
            const QString parent = ParentDirectory(path);
            if (parent.size() >= path.size() || parent.size() < shareLen)
                break;
            path = parent;
            if (IsExistingDir(path))
                return path;
        }
    }
    return defaultDir;
}

// ---- File-name characters ----

bool HasValidFileNameChars(const QString &name)
{
    for (const QChar c : name) {
        if (IsInvalidFileNameChar(c))
            return false;
    }
    return true;
}

QString ReplaceInvalidFileNameChars(const QString &name, QChar ch)
{
    QString result = name;
    for (QChar &c : result) {
        if (IsInvalidFileNameChar(c))
            c = ch;
    }
    return result;
}

bool IsRegularDirName(const QString &name)
{
    return name != QStringLiteral(".") && name != QStringLiteral("..");
}

// ---- Display ----

QString ShortenPath(const QString &s, int maxLen)
{
    const qsizetype len = s.size();
    if (maxLen <= 3 || len <= maxLen)
        return s;
    const QString ellipsis = QStringLiteral("...");
    const auto tail = [&]() {
        qsizetype start = len - (maxLen - 3);
        // Never cut a surrogate pair in two.
        if (s.at(start).isLowSurrogate() && s.at(start - 1).isHighSurrogate())
            ++start;
        return ellipsis + s.mid(start);
    };

    const qsizetype last = s.lastIndexOf(kDelimiter, len - 2);
    if (last < 0)
        return tail();
    // Qt counts a negative start from the end, so index 0 is handled apart.
    for (qsizetype d = last > 0 ? s.lastIndexOf(kDelimiter, last - 1) : -1; d >= 0;
         d = d > 0 ? s.lastIndexOf(kDelimiter, d - 1) : -1) {
        if (len - (last - d - 1) + 3 <= maxLen)
            return s.left(d + 1) + ellipsis + s.mid(last);
    }
    return tail();
}

} // namespace vl
