#include "core/LockFile.h"

#include "core/FileInfo.h"
#include "core/FileTimes.h"
#include "platform/File.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/SysErrors.h"

#include <QtEndian>

#include <mutex>

namespace vl {

namespace {

// The locked range: the first 10 bytes, also beyond a shorter file's end.
constexpr int64_t kLockStart = 0;
constexpr int64_t kLockLength = 10;

std::mutex gMutex;
QString gFileName;    // the lock file last used
TLockedFile gOwned;   // the lock file this process owns
QString gOwnedName;

QByteArray EncodeUtf16LE(const QString &text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<char16_t>(text.at(i).unicode(), bytes.data() + 2 * i);
    return bytes;
}

QString DecodeUtf16LE(const QByteArray &bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(qFromLittleEndian<char16_t>(bytes.constData() + 2 * i));
    return text;
}

// Deletes a lock file that no running process holds. Reading it needs no
// more than a shared lock: taking one proves no owner holds the file, and
// keeps one from taking it while we look.
void RemoveIfNotHeld(const QString &name)
{
    TFile file;
    if (file.Open(name, TFile::faRead) != ERROR_SUCCESS)
        return;
    if (TryLockRange(file.Handle(), kLockStart, kLockLength, false) == ERROR_SUCCESS)
        RemoveIfSameFile(name, file.Handle());
}

} // namespace

bool CreateLockFile(const QString &Folder, const QString &OwnerText)
{
    std::lock_guard lock(gMutex);
    gFileName = Folder + QLatin1String(kLockFileName);
    if (gOwned.IsOpen())
        return false;
    if (gOwned.Create(gFileName, EncodeUtf16LE(OwnerText), kLockStart, kLockLength) != ERROR_SUCCESS)
        return false;
    gOwnedName = gFileName;
    return true;
}

void ReleaseLockFile()
{
    std::lock_guard lock(gMutex);
    if (gOwned.IsOpen()) {
        // Deleted while still held, so no start ever finds it free and
        // takes it for a backup that did not end.
        RemoveIfSameFile(gOwnedName, gOwned.Handle());
        UnlockRange(gOwned.Handle(), kLockStart, kLockLength);
        gOwned.Close();
        if (gFileName == gOwnedName)
            return;
    }
    if (!gFileName.isEmpty())
        RemoveIfNotHeld(gFileName);
}

bool LockFileExists(const QString &Folder)
{
    return PathExists(Folder + QLatin1String(kLockFileName), false);
}

bool ReadLockFile(const QString &Folder, QString &OwnerText, TDateTime &LockTime)
{
    std::lock_guard lock(gMutex);
    OwnerText.clear();
    LockTime = Now();
    gFileName = Folder + QLatin1String(kLockFileName);

    TFile file;
    if (file.Open(gFileName, TFile::faRead) != ERROR_SUCCESS)
        return false; // missing, or not ours to judge: left alone
    // A running owner holds the lock: its backup is under way.
    if (TryLockRange(file.Handle(), kLockStart, kLockLength, false) != ERROR_SUCCESS)
        return false;

    TFileTime written = 0;
    LockTime = GetFileLastWriteTime(gFileName, written) ? FileTimeToLocalDateTime(written) : 0;

    bool ok = false;
    int64_t size = 0;
    if (file.Size(size) == ERROR_SUCCESS) {
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        int64_t done = 0;
        if (file.Read(bytes.data(), size, done) == ERROR_SUCCESS && done == size) {
            OwnerText = DecodeUtf16LE(bytes);
            ok = true;
        }
    }
    RemoveIfSameFile(gFileName, file.Handle());
    return ok;
}

} // namespace vl
