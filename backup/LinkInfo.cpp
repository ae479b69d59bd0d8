#include "backup/LinkInfo.h"

#include "backup/BackupForm.h"
#include "core/Destinations.h"
#include "core/FileErrors.h"
#include "core/PathUtils.h"
#include "core/Stream.h"
#include "core/XlFileUtils.h"
#include "engine/FtpUtils.h"
#include "platform/AtomicFile.h"
#include "platform/FileNames.h"

namespace vl {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kLinkInfoHead("# Junction");

QString LinkInfoSuffix() { return QLatin1Char('.') + QLatin1String(kLinkInfoExt); }

} // namespace

QByteArray LinkInfoBytes(const QString &Target, uint8_t Kind)
{
    QByteArray data = kUtf8Bom;
    data += kLinkInfoHead + "\r\n";
    data += EncodeFileName(Target) + "\r\n";
    data += QByteArray::number(Kind) + "\r\n";
    return data;
}

bool ParseLinkInfo(const QByteArray &Data, QString &Target, int &Kind)
{
    QByteArray text = Data.startsWith(kUtf8Bom) ? Data.mid(kUtf8Bom.size()) : Data;
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() < 3 || lines[0] != kLinkInfoHead || lines[1].isEmpty())
        return false;
    bool ok = false;
    const int kind = lines[2].trimmed().toInt(&ok);
    if (!ok)
        return false;
    Target = DecodeFileName(lines[1]);
    Kind = kind;
    return true;
}

QString LinkInfoFileName(const QString &DestPath)
{
    QString path = DestPath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + LinkInfoSuffix();
}

QString LegacyLinkInfoFileName(const QString &DestPath)
{
    QString path = DestPath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return ReplaceExtension(path, QLatin1String(kLinkInfoExt));
}

QString FindLinkInfoFile(const QString &DestPath)
{
    for (const QString &name : {LinkInfoFileName(DestPath), LegacyLinkInfoFileName(DestPath)}) {
        if (XlFileExists(name, true))
            return name;
    }
    return QString();
}

QString LinkNameOfInfoFile(const QString &InfoFileName)
{
    return IsLinkInfoFile(InfoFileName) ? StripExtension(InfoFileName) : InfoFileName;
}

bool ReadLinkInfoFile(const QString &FileName, QString &Target, int &Kind)
{
    QByteArray data;
    if (ReadFileBytes(FileName, data) != 0)
        return false;
    return ParseLinkInfo(data, Target, Kind);
}

uint32_t WriteLinkInfoFile(const QString &DestPath, const QString &Target, uint8_t Kind)
{
    return WriteFileAtomically(LinkInfoFileName(DestPath), LinkInfoBytes(Target, Kind));
}

int32_t UploadLinkInfo(TExtFtp &AFtp, const QString &DestPath, const QString &Target, uint8_t Kind)
{
    TMemoryStream stream(LinkInfoBytes(Target, Kind));
    stream.Seek(0, TSeekOrigin::soBeginning);
    return AFtp.Flush(stream, LinkInfoFileName(LastPathElement(DestPath)), false);
}

// ---- TBackupForm ----

bool TBackupForm::WriteJunctionInfo(const QString &DestPath, const QString &Target, uint8_t Kind)
{
    // The folder error line comes from ForceDestDirectory.
    if (!ForceDestDirectory(ParentDirectory(DestPath), QStringLiteral("B"), true))
        return false;
    const uint32_t code = WriteLinkInfoFile(DestPath, Target, Kind);
    if (code == 0)
        return true;
    // A link file that cannot be written costs this one link, not the run.
    WriteErrorToLog(1, QStringLiteral("B"), FileErrorMessage(MakeFileError(feCreateFile), LinkInfoFileName(DestPath)),
                    int(code));
    ++ErrorCnt;
    return false;
}

void TBackupForm::WriteFtpJunctionInfo(TExtFtp &AFtp, const QString &DestPath, const QString &Target, uint8_t Kind)
{
    try {
        UploadLinkInfo(AFtp, DestPath, Target, Kind);
    } catch (const std::exception &) {
        // The link file is a convenience for a restore; the transfer of the
        // backed-up files goes on.
    }
}

} // namespace vl
