// The FTP side of the directory walk: the remote directory follows the
// walk, each selected file is compared with its remote copy, uploaded
// under a temporary name, verified and only then put in place (the old
// copy kept as a security copy or deleted first), and per-directory zip
// archives go up as whole sets.
#include "backup/BackupForm.h"
#include "backup/SecCopyNames.h"
#include "core/Destinations.h"
#include "core/FileErrors.h"
#include "core/Format.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "core/WindowServices.h"
#include "core/XlFileUtils.h"
#include "engine/ArchiveFiles.h"
#include "engine/FtpThreads.h"
#include "engine/WinCopyThread.h"
#include "platform/Thread.h"
#include "ui/WindowMemory.h"

#include <QDateTime>
#include <QLocale>

namespace vl {

namespace {

const QString kSix = QStringLiteral("      ");

// Low byte of a copy result.
int CodeOf(int ACode)
{
    return ACode & 0xFF;
}

QString NowText()
{
    return QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
}

QString RenameText(const QString &AKind, const QString &AFrom, const QString &ATo)
{
    return GuardedFormat(Tr("%s was renamed: \"%s\" to \"%s\""), AKind, AFrom, ATo);
}

QString RenameErrorText(const QString &AKind, const QString &AFrom, const QString &ATo)
{
    return GuardedFormat(Tr("Error renaming %s: \"%s\" to \"%s\""), AKind, AFrom, ATo);
}

} // namespace

QString TBackupForm::SegmentInfoText(int Segments, int64_t Size)
{
    QString s = QStringLiteral(" (") + ByteSizeText(false, Size);
    if (Segments > 1)
        s += QStringLiteral(" - ") + QString::number(Segments) + QLatin1Char(' ') + Tr("segments");
    return s + QLatin1Char(')');
}

int TBackupForm::EnterFtpDirectory(const QString &AFtpRoot, const QString &ASubDir, TFtpDirState &AState,
                                   int &ErrorCount)
{
    AState.CurFtp = FTP->CurrentDir();
    AState.Levels = 0;
    if (!FTP->ReConnect(AState.CurFtp, true, true)) {
        WriteToLog(1, QStringLiteral("  *** ") + Tr("FTP connection lost!"));
        ++ErrorCount;
        BuStatus = TBuStatus::bsBroken;
        ProgressWindow().SetStopped(true);
        return -1;
    }
    if (ASubDir.isEmpty()) {
        AState.RemoteDir = AState.CurFtp;
        return 1;
    }
    const QString target = WithTrailingSlash(AFtpRoot) + ToForwardSlashes(ASubDir);
    const QString rel = FtpRelativePath(WithTrailingSlash(AState.CurFtp), target);
    const QString last = TextAfterLastDelimiter(QStringLiteral("/"), rel);
    const QString parent = ExtractFtpDir(rel);
    bool ok = true;
    auto enter = [&](const QString &AElement) {
        const int r = FTP->ChangeToNewDir(AElement);
        if (r < 0) {
            WriteErrorToLog(QStringLiteral("B"), Tr("Error changing to subdirectory on FTP server: ") + AElement,
                            FTP->GetIndyError(), QString());
            ok = false;
            return;
        }
        ++AState.Levels;
        if (r == 1)
            WriteToLog(3, kSix + GuardedFormat(Tr("Creating subdirectory: \"%s\""), AElement));
    };
    for (const QString &element : parent.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        enter(element);
        if (!ok)
            break;
    }
    // The whole relative path: it is the last element alone when the walk
    // descends one level at a time, as it does.
    AState.RemoteDir = WithTrailingSlash(AState.CurFtp) + rel;
    if (ok && !last.isEmpty())
        enter(last);
    if (!ok) {
        WriteErrorToLog(QStringLiteral("B"), Tr("Error changing to subdirectory on FTP server: ") + AState.RemoteDir,
                        FTP->GetIndyError(), QString());
        ++ErrorCount;
        return 0;
    }
    return 1;
}

bool TBackupForm::LeaveFtpDirectory(TFtpDirState &AState, int &ErrorCount)
{
    bool ok = true;
    QString failure;
    if (AState.CurFtp.isEmpty()) {
        for (int i = 0; i < AState.Levels && ok; ++i)
            ok = FTP->ChangeOneDirUp();
        if (ok)
            AState.CurFtp = FTP->CurrentDir();
        failure = Tr("\"DirUp\" error on FTP server");
    } else {
        ok = FTP->ChangeToDir(AState.CurFtp);
        failure = Tr("Error changing to subdirectory on FTP server: ") + AState.CurFtp;
    }
    if (ok) {
        WriteToLog(3, QStringLiteral("      <- ") + GuardedFormat(Tr("Current FTP directory: \"%s\""), AState.CurFtp));
        return true;
    }
    WriteErrorToLog(QStringLiteral("B"), failure, FTP->GetIndyError(), QString());
    ++ErrorCount;
    ProgressWindow().SetStopped(true);
    BuStatus = TBuStatus::bsBroken;
    return false;
}

bool TBackupForm::MakeFtpSecurityCopy(const QString &AName, const QString &ARemoteName)
{
    FTP->SetValidDirectoryListing(false);
    const QString x = ARemoteName != AName ? ARemoteName.mid(AName.length()) : QString();
    const QString st = BakSec.DirMode != TSecDirMode::sdNone && BakSec.FileSuffix.isEmpty()
                           ? QString()
                           : QLatin1Char('.') + ExpandRemoteBakSuffix(BakSec.FileSuffix);
    QString pre;
    if (BakSec.DirMode != TSecDirMode::sdNone) {
        const QString d = BakSec.DirPrefix + BakSec.DirSuffix;
        const int r = FTP->ChangeToNewDir(d);
        if (r < 0) {
            WriteErrorToLog(QStringLiteral("B"), GuardedFormat(Tr("Could not create directory: \"%s\""), d),
                            FTP->GetIndyError(), QString());
        } else {
            pre = WithTrailingSlash(d);
            if (r == 1)
                WriteToLog(3, kSix + GuardedFormat(Tr("Creating subdirectory: \"%s\""), pre));
        }
    }
    QString copy;
    if (BakSec.MaxHist < 2) {
        copy = InsertNameSuffix(AName, st) + x;
        FTP->DeleteExistingFile(copy);
    } else {
        const int width = BakSec.MaxHist < 10 ? 1 : 2;
        auto numbered = [&](int n, int w) {
            QString digits = QString::number(n).rightJustified(w, QLatin1Char('0'));
            QString suffix = st;
            suffix.replace(QLatin1Char('#'), digits);
            return InsertNameSuffix(AName, suffix) + x;
        };
        struct TStep {
            QString Delete;
            QString From;
        };
        std::vector<TStep> steps(100);
        for (int n = 99; n >= 2; --n) {
            const QString cn = numbered(n, width);
            QString pred = n > 10 ? numbered(n - 1, 2) : numbered(n - 1, 1);
            if (n <= 10 && !FTP->FtpFileExists(pred))
                pred = numbered(n - 1, 2);
            if (n <= BakSec.MaxHist && FTP->FtpFileExists(pred)) {
                steps[n].From = pred;
                if (n == BakSec.MaxHist && FTP->FtpFileExists(cn))
                    steps[n].Delete = cn;
            } else if (FTP->FtpFileExists(cn)) {
                steps[n].Delete = cn;
            }
        }
        for (int n = 99; n >= 2; --n) {
            const QString cn = numbered(n, width);
            if (!steps[n].Delete.isEmpty()) {
                if (FTP->DeleteFile(steps[n].Delete, true))
                    WriteToLog(3, kSix + GuardedFormat(Tr("File was deleted: \"%s\""), pre + steps[n].Delete));
                else
                    WriteErrorToLog(QStringLiteral("B"),
                                    GuardedFormat(Tr("Error deleting file: \"%s\""), pre + steps[n].Delete),
                                    FTP->GetIndyError(), QString());
            }
            if (!steps[n].From.isEmpty()) {
                if (FTP->RenameFile(steps[n].From, cn, true))
                    WriteToLog(3, kSix + RenameText(Tr("File"), pre + steps[n].From, pre + cn));
                else
                    WriteErrorToLog(QStringLiteral("B"), RenameErrorText(Tr("File"), pre + steps[n].From, pre + cn),
                                    FTP->GetIndyError(), QString());
            }
        }
        copy = numbered(1, width);
    }
    if (!pre.isEmpty())
        FTP->ChangeOneDirUp();
    copy = pre + copy;
    if (!FTP->RenameFile(ARemoteName, copy, true)) {
        WriteErrorToLog(QStringLiteral("B"), RenameErrorText(Tr("File"), ARemoteName, copy), FTP->GetIndyError(),
                        QString());
        return false;
    }
    WriteToLog(3, kSix + RenameText(Tr("File"), ARemoteName, copy));
    return true;
}

int TBackupForm::FtpBackupFile(TFtpFileJob &AJob, int &FileCount, int64_t &TotalBytes,
                               [[maybe_unused]] int &ErrorCount)
{
    ++FileCount;
    TotalBytes += AJob.Size;
    const bool zip = cbZipCompress.Checked();
    const QString &n = AJob.Name;
    QString ext;
    if (zip)
        ext = QStringLiteral(".zip");
    else if (AJob.Compressed)
        ext = AJob.Encrypted ? QStringLiteral(".gze") : QStringLiteral(".gz");
    else if (AJob.Encrypted)
        ext = QStringLiteral(".enc");
    AJob.RemoteName = n + ext;
    const QString &r = AJob.RemoteName;
    AJob.Exists = FTP->FtpFileExists(r);

    // The decision.
    bool copy = true;
    int reason = 0;
    TDateTime remoteTime = 0;
    const bool packed = AJob.Compressed || zip || AJob.Encrypted;
    if (UseArchivCB.Checked()) {
        if (AJob.Exists) {
            reason = 4;
            copy = AJob.ArchiveBit;
        } else {
            copy = AJob.ArchiveBit || !(cbArchFile.Checked() || ClearDest);
        }
    } else if (AJob.Exists) {
        if (CompareMode == 3) {
            if (packed)
                copy = false;
            else
                reason = 2;
        } else {
            reason = FTP->CheckTimeStamp(r, AJob.SourceTime, DeltaTime, remoteTime, false);
        }
        if (copy) {
            if (reason == 2) {
                if (CompareMode < 2 || packed)
                    copy = false;
                else
                    copy = FTP->CheckSize(r, AJob.Size);
            } else if (CompareMode == 0) {
                copy = reason < 2;
            }
        }
    }
    const QString remoteDir = FTP->CurrentDir();
    WriteToLog(3, kSix + GuardedFormat(Tr("File at FTP destination is being examined: \"%s\""),
                                       WithTrailingSlash(remoteDir) + r));
    AJob.TempName = AJob.Exists ? r + QStringLiteral(".tmp") : r;
    AJob.ErrMsg.clear();
    const QString &temp = AJob.TempName;
    const QString srcTime = FormatTimeStamp(AJob.SourceTime);

    if (ProgressWindow().Stopped())
        return 1;
    if (!copy) {
        const QString upToDate = GuardedFormat(Tr("File at destination is up to date: \"%s\""), AJob.RelPath) +
                                 QStringLiteral(" (") + ByteSizeText(false, AJob.Size) + QLatin1Char(')');
        if (CurrentLogMode() >= 3) {
            if (reason == 4) {
                WriteToLog(3, kSix + GuardedFormat(Tr("Skipped - archive bit not set at source: \"%s\""),
                                                   AJob.RelPath));
            } else {
                WriteToLog(3, kSix + upToDate);
                WriteToLog(3, QStringLiteral("          ") + AJob.AttrText + QLatin1Char(' ') + srcTime +
                                  QStringLiteral(" <-> ") + FormatTimeStamp(remoteTime));
            }
        } else if (CurrentLogMode() == 2 && (ActMode & 4) != 0) {
            WriteToLog(2, QStringLiteral("      * ") + upToDate);
        }
        return 1;
    }

    // The copy.
    if (CurrentLogMode() >= 3) {
        QString flags = AJob.Compressed ? QStringLiteral("C") : QStringLiteral("N");
        const std::pair<bool, char> more[] = {{AJob.Encrypted, 'E'},          {cbVerify.Checked(), 'V'},
                                              {cbCopySummary.Checked(), 'S'}, {cbAltStreams.Checked(), 'A'},
                                              {cbCopyPerms.Checked(), 'P'},   {cbCreationTime.Checked(), 'T'},
                                              {cbNoAttributes.Checked(), 'X'}};
        for (const auto &[on, letter] : more)
            if (on)
                flags += QLatin1Char(letter);
        WriteToLog(3, kSix +
                          GuardedFormat(CopyOperationText(false, AJob.Compressed, AJob.Encrypted),
                                        AJob.RelPath, ByteSizeText(false, AJob.Size), temp) +
                          QStringLiteral(" [") + flags + QLatin1Char(']'));
        const QString head = AJob.AttrText + QLatin1Char(' ') + srcTime + QStringLiteral(" -> ");
        switch (reason) {
        case 4:
            WriteToLog(3, QStringLiteral("          ") + head + Tr("Archive bit is set"));
            break;
        case 2:
            WriteToLog(3, QStringLiteral("         ") + head + QLatin1Char('(') + ByteSizeText(false, AJob.Size) +
                              QLatin1Char(')'));
            break;
        case 0:
            WriteToLog(3, QStringLiteral("          ") + head + Tr("not present"));
            break;
        default:
            WriteToLog(3, QStringLiteral("          ") + head + FormatTimeStamp(remoteTime));
        }
    }
    ProgressWindow().UpdatePrompt(TSourceSelection::ssFile, QString(), AJob.Source, AJob.Size);

    // Only the current method's variant of the file stays.
    QStringList others;
    if (AJob.Compressed && zip)
        others = {n, n + QStringLiteral(".enc"), n + QStringLiteral(".gz"), n + QStringLiteral(".gze")};
    else if (AJob.Compressed && AJob.Encrypted)
        others = {n, n + QStringLiteral(".enc"), n + QStringLiteral(".zip"), n + QStringLiteral(".gz")};
    else if (AJob.Compressed)
        others = {n, n + QStringLiteral(".enc"), n + QStringLiteral(".zip"), n + QStringLiteral(".gze")};
    else if (zip && AJob.Encrypted)
        others = {n, n + QStringLiteral(".gz"), n + QStringLiteral(".gze")};
    else if (zip)
        others = {n, n + QStringLiteral(".gz"), n + QStringLiteral(".gze"), n + QStringLiteral(".enc")};
    else if (AJob.Encrypted)
        others = {n + QStringLiteral(".zip"), n + QStringLiteral(".gz"), n + QStringLiteral(".gze"), n};
    else
        others = {n + QStringLiteral(".zip"), n + QStringLiteral(".gz"), n + QStringLiteral(".gze"),
                  n + QStringLiteral(".enc")};
    for (const QString &other : others)
        if (other != r)
            FTP->DeleteExistingFile(other);
    if (AJob.Exists)
        FTP->DeleteExistingFile(temp);

    int rc = 0;
    if (!FTP->ReConnect(remoteDir, true, true)) {
        rc = 283;
    } else {
        TCopyOptions options = 0;
        if (AJob.Compressed)
            options |= CopyOptionBit(TCopyOption::coCompress);
        if (zip)
            options |= CopyOptionBit(TCopyOption::coZipCompress);
        const QString realSource = ApplyDriveMapping(AJob.Source, ReplSourceDrv);
        int64_t uploaded = 0;
        auto upload = [&] {
            CopyThread = std::make_shared<TWriteFtpThread>(FTP.get(), realSource, remoteDir, temp, Encryption.get(),
                                                           options, TaskBufferSize, CopyPriority);
            WaitForFtpThread(rc, AJob.ErrMsg, uploaded);
            // The upload changed the folder behind the client's listing.
            FTP->SetValidDirectoryListing(false);
        };
        upload();
        if (CodeOf(rc) == 27) {
            WaitSeconds(2);
            WriteToLog(3, QStringLiteral("   => ") + Tr("FTP connection broken - try to reconnect") +
                              QStringLiteral(" (") + NowText() + QLatin1Char(')'));
            if (FTP->ReConnect(remoteDir, true, true)) {
                FTP->DeleteExistingFile(temp);
                WriteToLog(3, QStringLiteral("   => ") + GuardedFormat(Tr("Current FTP directory: \"%s\""), remoteDir));
                upload();
            }
        }
        if (rc == 0 && cbVerify.Checked()) {
            CopyThread = std::make_shared<TCompareFtpThread>(FTP.get(), temp, realSource, uploaded, Encryption.get(),
                                                             AJob.Compressed, zip, TaskBufferSize, CopyPriority);
            WriteToLog(3, kSix + Tr("Verifying") + QStringLiteral(": \"") + temp + QLatin1Char('"'));
            WaitForFtpVerify(rc);
        }
    }
    int result = rc == 0 ? 2 : rc;
    // The completion step counts the failure; this line names its cause.
    if (CodeOf(rc) == 27)
        WriteErrorToLog(QStringLiteral("B"), Tr("FTP connection lost!"), AJob.ErrMsg, QString());

    if (rc == 0 || ((rc & 0x200) != 0 && (rc & 0x100) == 0)) {
        bool inPlace = true;
        if (AJob.Exists) {
            bool oldGone;
            if (KeepBakCB.Checked()) {
                oldGone = MakeFtpSecurityCopy(n, r);
            } else {
                oldGone = FTP->DeleteFile(r, false);
                if (!oldGone)
                    WriteErrorToLog(QStringLiteral("B"), GuardedFormat(Tr("Error deleting file: \"%s\""), r),
                                    FTP->GetIndyError(), QString());
            }
            if (!oldGone) {
                // The old version stays in place, the new one under its
                // temporary name: the file is not backed up.
                inPlace = false;
                result = 294;
            } else if (FTP->RenameFile(temp, r, false)) {
                WriteToLog(3, kSix + RenameText(Tr("File"), temp, r));
            } else {
                WriteErrorToLog(3, QStringLiteral("B"), RenameErrorText(Tr("File"), temp, r), FTP->GetIndyError(),
                                QString());
                inPlace = false;
                result = 291;
            }
        }
        if (inPlace && !FTP->SetTimeStampFromFile(AJob.Source, r, !UseArchivCB.Checked() && CompareMode == 0))
            WriteErrorToLog(6, QStringLiteral("B"), FileErrorMessage(4623, r), FTP->GetIndyError(), QString());
    } else if (FTP->DeleteExistingFile(temp) < 0) {
        WriteErrorToLog(QStringLiteral("B"), GuardedFormat(Tr("Error deleting file: \"%s\""), temp),
                        FTP->GetIndyError(), QString());
    }
    return result;
}

int TBackupForm::CopyToFtp(const QString &LocalZip, const QString &RemoteDir, const QString &RemoteName,
                           int &Segments, int64_t &Size, bool DeleteLocal)
{
    const int k = GetZipSegmentCount(LocalZip);
    Size = GetZipArchiveSize(LocalZip);
    Segments = k + 1;
    const QString tmpName = InsertNameSuffix(RemoteName, QStringLiteral(".tmp"));
    struct TPart {
        QString Local, Temp, Final;
    };
    std::vector<TPart> parts;
    for (int i = 0; i <= k; ++i) {
        if (i == k) {
            parts.push_back({LocalZip, tmpName, RemoteName});
        } else {
            const QString ext = QStringLiteral("z%1").arg(i + 1, 2, 10, QLatin1Char('0'));
            parts.push_back({ZipSegmentName(LocalZip, i), ReplaceExtension(tmpName, ext),
                             ReplaceExtension(RemoteName, ext)});
        }
    }
    auto failed = [&](int AErr, const QString &AName, const QString &AText) {
        WriteErrorToLog(QStringLiteral("B"), FileErrorMessage(AErr, AName), AText, QString());
    };

    // The new set goes up under temporary names; the old set is not touched
    // until every part is there.
    int err = 0;
    size_t uploaded = 0;
    for (const TPart &part : parts) {
        if (err == 0) {
            ProgressWindow().SetPrompt(part.Final);
            if (FTP->DeleteExistingFile(part.Temp) < 0)
                err = 294;
            QString text;
            if (err == 0) {
                int64_t size = 0;
                CopyThread = std::make_shared<TWriteFtpThread>(FTP.get(), part.Local, RemoteDir, part.Temp, nullptr,
                                                               TCopyOptions(0), TaskBufferSize, CopyPriority);
                WaitForFtpThread(err, text, size);
                FTP->SetValidDirectoryListing(false);
                if (err == 0 && cbVerify.Checked()) {
                    CopyThread = std::make_shared<TCompareFtpThread>(FTP.get(), part.Temp, part.Local, size, nullptr,
                                                                     false, false, TaskBufferSize, CopyPriority);
                    WaitForFtpVerify(err);
                }
            }
            if (err == 0) {
                ++uploaded;
            } else {
                failed(err, part.Temp, text.isEmpty() ? FTP->GetIndyError() : text);
                FTP->DeleteExistingFile(part.Temp);
            }
        }
        if (DeleteLocal)
            XlDeleteExistingFile(part.Local, true);
    }
    if (err != 0) {
        // A partial new set is of no use: the old archive stays as it was.
        for (size_t i = 0; i < uploaded; ++i)
            FTP->DeleteExistingFile(parts[i].Temp);
        return err;
    }

    // The old set goes, its surplus segments included; the archive file
    // first, as without it the segments are no archive.
    QStringList old;
    if (FTP->GetFileList()) {
        const QString base = StripExtension(RemoteName) + QStringLiteral(".z");
        TFileList &list = FTP->FileList();
        for (int i = 0; i < list.Count(); ++i) {
            const QString name = list.Strings(i);
            const QString rest = name.mid(base.length());
            if (name.compare(RemoteName, Qt::CaseInsensitive) == 0)
                old.prepend(name);
            else if (name.startsWith(base, Qt::CaseInsensitive) && rest.length() == 2 && rest[0].isDigit() &&
                     rest[1].isDigit())
                old.append(name);
        }
    }
    for (const QString &name : old) {
        if (!FTP->DeleteFile(name, true)) {
            failed(294, name, FTP->GetIndyError());
            return 294;
        }
    }
    // Segments first, the archive file last.
    for (const TPart &part : parts) {
        if (!FTP->RenameFile(part.Temp, part.Final, true)) {
            failed(291, part.Temp, FTP->GetIndyError());
            err = 291;
            break;
        }
    }
    return err;
}

} // namespace vl
