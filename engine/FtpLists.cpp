// Remote listings as lists of local names, and the path helpers for
// remote paths (always "/" separated).
#include "engine/FtpUtils.h"

namespace vl {

int32_t TFtpEntryList::IndexOf(const QString &AName) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].first == AName)
            return int32_t(i);
    return -1;
}

void TFtpEntryList::Add(const QString &AName, std::unique_ptr<TFtpFileInfo> AInfo)
{
    FItems.emplace_back(AName, std::move(AInfo));
}

QString WithTrailingSlash(const QString &Path)
{
    if (Path.isEmpty() || Path.endsWith(QLatin1Char('/')))
        return Path;
    return Path + QLatin1Char('/');
}

QString WithLeadingSlash(const QString &Path)
{
    if (Path.startsWith(QLatin1Char('/')))
        return Path;
    return QLatin1Char('/') + Path;
}

QString WithoutTrailingSlash(const QString &Path)
{
    if (Path.endsWith(QLatin1Char('/')))
        return Path.left(Path.length() - 1);
    return Path;
}

bool HasLeadingSlash(const QString &Path)
{
    return Path.startsWith(QLatin1Char('/'));
}

QString ToSlashPath(const QString &Path)
{
    QString s = Path;
    return s.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString TextAfterLastDelimiter(const QString &Delimiters, const QString &Text)
{
    for (qsizetype i = Text.length() - 1; i >= 0; --i)
        if (Delimiters.contains(Text.at(i)))
            return Text.mid(i + 1);
    return Text;
}

QString ExtractFtpDir(const QString &Path)
{
    const qsizetype i = std::max(Path.lastIndexOf(QLatin1Char('/')), Path.lastIndexOf(QLatin1Char('\\')));
    return i < 0 ? QString() : Path.left(i);
}

QString JoinFtpPath(const QString &Dir, const QString &Name)
{
    if (Dir.isEmpty())
        return Name;
    return Dir + QLatin1Char('/') + Name;
}

QString FtpRelativePath(const QString &Base, const QString &Path)
{
    const QString b = ToSlashPath(Base);
    const QString p = ToSlashPath(Path);
    if (p.startsWith(b, Qt::CaseInsensitive))
        return p.mid(b.length());
    return QString();
}

} // namespace vl
