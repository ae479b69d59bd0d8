#include "core/FileErrors.h"

#include "core/Format.h"
#include "core/Translate.h"
#include "platform/SysErrors.h"

#include <algorithm>
#include <array>

namespace vl {

namespace {

// Texts of the error numbers 1 to 39.
constexpr std::array<const char *, 39> kErrorTexts = {
    VL_TR_NOOP("Could not create file"),
    VL_TR_NOOP("Could not open file"),
    VL_TR_NOOP("Could not close file"),
    VL_TR_NOOP("Could not read from file"),
    VL_TR_NOOP("Could not write to file"),
    VL_TR_NOOP("Attributes could not be set"),
    VL_TR_NOOP("Low disk space"),
    VL_TR_NOOP("Illegal file header"),
    VL_TR_NOOP("Corrupt file"),
    VL_TR_NOOP("Encryption failed"),
    VL_TR_NOOP("Decryption failed"),
    VL_TR_NOOP("Verification failed"),
    VL_TR_NOOP("Path too long"),
    VL_TR_NOOP("File not found"),
    VL_TR_NOOP("Timestamp could not be set"),
    VL_TR_NOOP("Error copying document summary"),
    VL_TR_NOOP("Timeout error on copying file"),
    VL_TR_NOOP("Undefined stream"),
    VL_TR_NOOP("Permissions could not be copied"),
    VL_TR_NOOP("File already exists"),
    VL_TR_NOOP("Size mismatch"),
    VL_TR_NOOP("Could not open destination file for verification"),
    VL_TR_NOOP("Could not create directory"),
    VL_TR_NOOP("Could not read from FTP"),
    VL_TR_NOOP("Could not write to FTP"),
    VL_TR_NOOP("Could not connect to FTP server"),
    VL_TR_NOOP("FTP connection was closed by server"),
    VL_TR_NOOP("Could not open FTP data connection"),
    VL_TR_NOOP("Timeout error on copying file via FTP"),
    VL_TR_NOOP("Different content"),
    VL_TR_NOOP("Error creating new zip segment"),
    VL_TR_NOOP("Illegal zip signature"),
    VL_TR_NOOP("Could not extract file"),
    VL_TR_NOOP("Unsupported file format"),
    VL_TR_NOOP("Could not rename temporary file"),
    VL_TR_NOOP("Error reading next zip segment"),
    VL_TR_NOOP("Error copying alternate data streams"),
    VL_TR_NOOP("Error deleting file"),
    VL_TR_NOOP("Error renaming file"),
};

// Errors that arise on the destination side of a copy. Low disk space and
// opening for verification concern the destination as well.
constexpr std::array<int32_t, 11> kDestinationErrors = {
    feCreateFile, feWriteFile, feSetAttributes, feLowDiskSpace, fePathTooLong, feSetTimestamp,
    feFileExists, feOpenForVerify, feCreateDirectory, feFtpWrite, feRenameTempFile,
};

QString ClassPrefix(int32_t code)
{
    switch (ErrorClass(code)) {
    case ecError: return Tr("Error - ");
    case ecWarning: return Tr("Warning - ");
    case ecSecondFile: return Tr("Error(2) - ");
    default: return QString();
    }
}

QString OperationName(int32_t code)
{
    switch (ErrorOperation(code)) {
    case eoCopy: return Tr("Copy");
    case eoGzip: return Tr("gzip");
    case eoGunzip: return Tr("gunzip");
    case eoZip: return Tr("Zip");
    case eoEncrypt: return Tr("Encrypt");
    case eoDecrypt: return Tr("Decrypt");
    case eoUnzip: return Tr("Unzip");
    default: return QString();
    }
}

// Prefix and error text.
QString ErrorText(int32_t code)
{
    const int32_t number = ErrorNumber(code);
    if (number == feOk)
        return Tr(SysErrorText(ERROR_SUCCESS));
    if (number >= 1 && number <= int32_t(kErrorTexts.size()))
        return ClassPrefix(code) + Tr(kErrorTexts[size_t(number - 1)]);
    if (number == feTerminated)
        return ClassPrefix(code) + Tr("Terminated by user");
    return ClassPrefix(code) + GuardedFormat(Tr("Unknown error code ($%.8x)"), uint32_t(code));
}

} // namespace

QString FileErrorMessage(int32_t ACode, const QString &AName, const QString &AInfo)
{
    // The text is kept out of the format patterns: a translation may
    // contain "%", and only the names are formatted into the endings.
    const QString text = ErrorText(ACode);
    const QString op = OperationName(ACode);
    if (!AName.isEmpty()) {
        if (!op.isEmpty()) {
            if (!AInfo.isEmpty())
                return text + GuardedFormat(QStringLiteral(": \"%s\" (%s) (-> %s)"), AName, AInfo, op);
            return text + GuardedFormat(QStringLiteral(": \"%s\" (-> %s)"), AName, op);
        }
        if (!AInfo.isEmpty())
            return text + GuardedFormat(QStringLiteral(": \"%s\" (%s)"), AName, AInfo);
        return text + GuardedFormat(QStringLiteral(": \"%s\""), AName);
    }
    if (!op.isEmpty())
        return text + QStringLiteral(" (-> ") + op + QLatin1Char(')');
    return text;
}

QString CopyErrorMessage(const QString &ASourceName, const QString &ADestName, int32_t ACode)
{
    const bool onDest = std::find(kDestinationErrors.begin(), kDestinationErrors.end(), ErrorNumber(ACode))
                        != kDestinationErrors.end();
    return FileErrorMessage(ACode, onDest ? ADestName : ASourceName, QString());
}

} // namespace vl
