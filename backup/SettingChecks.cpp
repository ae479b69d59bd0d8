// Checks of a task's settings before it is saved or started from the
// editor, and the nesting and drive tests of source paths they rely on.
//
// "Drive" is that of core/Drives.h (DriveOfPath): all fixed local file
// systems are the one drive "/", a removable or network file system is a
// drive of its own. Nesting is DirContainsPath, which compares exactly, as
// paths do here; last folder names compare ignoring case, because the
// folders made of them may land on a destination that ignores case.
#include "backup/SettingChecks.h"

#include "backup/BackupForm.h"
#include "backup/FtpSettings.h"
#include "core/Destinations.h"
#include "core/Drives.h"
#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Placeholders.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/Translate.h"
#include "ui/DirectoryDialog.h"
#include "ui/WindowMemory.h"

#include <QStringList>

namespace vl {

namespace {

const QChar kSlash = QLatin1Char('/');

// A name with the text between pairs of percent signs left out: the
// placeholders are replaced before the name is ever used.
QString WithoutPlaceholders(const QString &AName)
{
    QString result;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = AName.indexOf(QLatin1Char('%'), pos);
        const qsizetype close = open < 0 ? -1 : AName.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0) {
            result += AName.mid(pos);
            return result;
        }
        result += AName.mid(pos, open - pos);
        pos = close + 1;
    }
}

QString WithoutTrailingBlanks(const QString &AName)
{
    qsizetype n = AName.size();
    while (n > 0 && AName.at(n - 1) == QLatin1Char(' '))
        --n;
    return AName.left(n);
}

// The caption a method radio button shows; its text in the task window
// when no view has set one.
QString CaptionOf(const TControlState &AControl, const char *AText)
{
    return AControl.Caption().isEmpty() ? Tr(AText) : AControl.Caption();
}

bool SameFolderName(const QString &A, const QString &B)
{
    return A.compare(B, Qt::CaseInsensitive) == 0;
}

} // namespace

// ---- Destination texts ----

bool IsValidDestinationPath(const QString &APath)
{
    if (APath.isEmpty())
        return true;
    QString path = APath;
    if (path.startsWith(QStringLiteral("//")))
        path.remove(0, 2);
    if (path.endsWith(kSlash))
        path.chop(1);
    if (path.startsWith(QLatin1Char(':'))) {
        const qsizetype close = path.indexOf(QLatin1Char(':'), 1);
        if (close < 0)
            return false;
        const QString label = path.mid(1, close - 1);
        if (label.isEmpty() || !HasValidFileNameChars(label))
            return false;
        path.remove(0, close + 1);
    }
    const QStringList elements = path.split(kSlash);
    for (const QString &element : elements) {
        if (!HasValidFileNameChars(WithoutPlaceholders(element)))
            return false;
    }
    return true;
}

QString TidyDestinationPath(const QString &APath)
{
    QString head;
    QString rest;
    if (APath.startsWith(QStringLiteral("//"))) {
        head = QStringLiteral("//");
        rest = APath.mid(2);
    } else {
        const qsizetype slash = APath.indexOf(kSlash);
        if (slash < 0)
            return APath;
        head = APath.left(slash + 1);
        rest = APath.mid(slash + 1);
    }
    if (rest.isEmpty())
        return head;
    QStringList elements = rest.split(kSlash);
    if (elements.size() > 1 && elements.last().isEmpty())
        elements.removeLast();
    for (QString &element : elements) {
        element = WithoutTrailingBlanks(element);
        if (element.isEmpty())
            element = QStringLiteral("NewDir");
    }
    return head + elements.join(kSlash);
}

// ---- Checks ----

bool TBackupForm::CheckBeforeSave(const QString &AQuestion)
{
    if (!BuFtp && !IsValidDestinationPath(BuZiel.Text())) {
        ShowErrorBoxAt(gbProcessPos, Tr("Illegal character in destination directory!"), TDefaultMonitor::dmActiveForm);
        return false;
    }
    if (DestinationIsSourceRoot()) {
        ShowErrorBoxAt(gbProcessPos,
                       GuardedFormat(Tr("Your destination is the root directory of the source drive!\r\n"
                                        "Select another destination path or the backup method \"%s\"!"),
                                     CaptionOf(rbDrives, "Separate directories for drives")),
                       TDefaultMonitor::dmActiveForm);
        return false;
    }
    if (!CheckSourcesForDestMode(QString(), QString(), -1) || !CheckTaskSettings())
        return false;
    return ConfirmDestructiveOptions(gbProcessPos, AQuestion);
}

bool TBackupForm::CheckTaskSettings()
{
    if (SelectedDirBox.Count() == 0) {
        ShowErrorBoxAt(gbProcessPos, Tr("You must select at least one directory for backup!"),
                       TDefaultMonitor::dmActiveForm);
        return false;
    }
    if (BuFtp) {
        if (!FtpPar.Host.isEmpty() && !FtpPar.Username.isEmpty())
            return true;
        if (!ConfirmBoxAt(gbProcessPos, Tr("Please specify FTP server and username"), TMsgDlgBtn::mbYes,
                          TDefaultMonitor::dmActiveForm))
            return false;
        if (!OnEditFtpSettings || !OnEditFtpSettings(FtpPar))
            return false;
        edtFtp.SetText(FtpDestinationUrl(FtpPar));
        SetEditStatus(TEditStatus::esChanged);
        return true;
    }
    if (!BuZiel.Text().isEmpty()) {
        // The tidied text stays, whatever the checks below find.
        BuZiel.SetText(TidyDestinationPath(BuZiel.Text()));
        const QString dest = ResolvedVolumePath(BuZiel.Text(), false);
        bool overlap = false;
        for (int i = 0; i < SelectedDirBox.Count() && !overlap; ++i) {
            const TExtensionList &entry = SelectedDirBox.Objects(i);
            // Methods 0 and 4 put every source below a folder (or into an
            // archive) of its own, so a source may hold the destination's
            // parent; a destination inside a source would be backed up
            // into itself, unless the entry takes only its own files.
            if (DestMode != 0 && DestMode != 4 && DirContainsPath(dest, entry.SPath))
                overlap = true;
            if (entry.SubDirMode != TSubDirMode::sdmFiles && DirContainsPath(entry.SPath, dest))
                overlap = true;
        }
        if (overlap) {
            ShowErrorBoxAt(gbProcessPos, Tr("Overlapping of source and destination directories is not allowed!"),
                           TDefaultMonitor::dmActiveForm);
            return false;
        }
        return true;
    }
    if (!ConfirmErrorBoxAt(gbProcessPos, Tr("Please select a destination directory for your backup!"),
                           TMsgDlgBtn::mbOK, TDefaultMonitor::dmActiveForm))
        return false;
    // The destination text is empty here, so there is no part of it to
    // start at: the dialog opens in the documents folder.
    const QString start = DocumentsDir.isEmpty() ? DocumentsDirectory() : DocumentsDir;
    QString dir;
    if (!SelectDirectory(Tr("Select destination directory"), false, true, start, dir) || dir.isEmpty())
        return false;
    AddToComboHistory(BuZiel, dir); // top entry, selected: the text
    SetEditStatus(TEditStatus::esChanged);
    return true;
}

bool TBackupForm::DestinationIsSourceRoot() const
{
    if (BuFtp || DestMode == 0 || DestMode == 6)
        return false;
    const QString dest = ResolvedVolumePath(BuZiel.Text(), false);
    const QString drive = DriveOfPath(dest);
    if (drive.isEmpty() || WithTrailingDelimiter(dest) != WithTrailingDelimiter(drive))
        return false;
    if (SelectedDirBox.ItemIndex() < 0)
        return false;
    for (int i = 0; i < SelectedDirBox.Count(); ++i) {
        if (DriveOfPath(SelectedDirBox.Objects(i).SPath) == drive)
            return true;
    }
    return false;
}

bool TBackupForm::CheckSourcesForDestMode(const QString &APath, const QString &AVolName, int AExcept)
{
    const int count = SelectedDirBox.Count();
    if (count == 0)
        return true;
    switch (DestMode) {
    case 3:
    case 5: {
        bool unique = true;
        if (APath.isEmpty()) {
            unique = !HasDuplicateLastDirNames();
        } else {
            const QString name = LastPathElement(APath);
            for (int i = 0; i < count && unique && !name.isEmpty(); ++i) {
                if (i != AExcept && SameFolderName(name, LastPathElement(SelectedDirBox.Objects(i).SPath)))
                    unique = false;
            }
        }
        if (!unique) {
            ShowErrorBoxAt(gbProcessPos,
                           GuardedFormat(Tr("The selected method \"%s\" requires\r\n"
                                            "unique names of the last subdirectory of each selected path!"),
                                         CaptionOf(rbRoot, "Separated by root directory")),
                           TDefaultMonitor::dmActiveForm);
        }
        return unique;
    }
    case 1:
    case 2:
    case 4:
    case 7: {
        QString refDrive;
        QString refVolume;
        int first = 0;
        if (APath.isEmpty()) {
            refDrive = DriveOfPath(SelectedDirBox.Objects(0).SPath);
            refVolume = SelectedDirBox.Objects(0).VName;
            first = 1;
        } else {
            refDrive = DriveOfPath(APath);
            refVolume = AVolName;
        }
        for (int i = first; i < count; ++i) {
            if (i == AExcept)
                continue;
            const TExtensionList &entry = SelectedDirBox.Objects(i);
            if (DriveOfPath(entry.SPath) == refDrive)
                continue;
            // Volume labels compare ignoring case, as the label paths do.
            if (!refVolume.isEmpty() && refVolume.compare(entry.VName, Qt::CaseInsensitive) == 0)
                continue;
            ShowErrorBoxAt(gbProcessPos,
                           GuardedFormat(Tr("If a task contains more than one source drive, you must use\r\n"
                                            "either the method \"%s\" and \"%s\"\r\nor \"%s\" and \"%s\"!"),
                                         CaptionOf(rbSingle, "Separate files"),
                                         CaptionOf(rbDrives, "Separate directories for drives"),
                                         CaptionOf(rbZip, "Zip archive(s)"),
                                         CaptionOf(rbZipDir, "Separated by drive and subdirectory")),
                           TDefaultMonitor::dmActiveForm);
            return false;
        }
        return true;
    }
    default: // 0 and 6 keep a subfolder per drive
        return true;
    }
}

bool TBackupForm::HasDuplicateLastDirNames() const
{
    const int count = SelectedDirBox.Count();
    if (DestMode != 3 && !(DestMode == 5 && count >= 2))
        return false;
    for (int i = 0; i < count; ++i) {
        const QString name = LastPathElement(SelectedDirBox.Objects(i).SPath);
        if (name.isEmpty())
            continue;
        for (int j = i + 1; j < count; ++j) {
            if (SameFolderName(name, LastPathElement(SelectedDirBox.Objects(j).SPath)))
                return true;
        }
    }
    return false;
}

int TBackupForm::IndexOfNestedSource(const QString &APath, bool BothWays, int AExcept) const
{
    const int count = SelectedDirBox.Count();
    for (int i = 0; i < count; ++i) {
        const TExtensionList &entry = SelectedDirBox.Objects(i);
        if (i != AExcept && entry.SubDirMode == TSubDirMode::sdmNormal && DirContainsPath(entry.SPath, APath))
            return i;
    }
    if (BothWays) {
        for (int i = 0; i < count; ++i) {
            if (i != AExcept && DirContainsPath(APath, SelectedDirBox.Objects(i).SPath))
                return i;
        }
    }
    return -1;
}

bool TBackupForm::ConfirmDestructiveOptions(QPoint APos, const QString &AText)
{
    if (cbSourceDelete.Checked()
        && !ConfirmBoxAt(APos,
                         Tr("You selected the option \"Delete source files after backup\"!\r\n"
                            "After a successful backup, the files will be deleted at source!\r\n")
                             + AText,
                         TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm))
        return false;
    if (BuModeCB.ItemIndex() > 0 && DestMode < 4)
        return ConfirmBoxAt(APos,
                            Tr("You selected one of the backup modes \"Full\", \"Differential\" or \"Incremental\"!\r\n"
                               "This will delete the destination directory before backup!\r\n")
                                + AText,
                            TMsgDlgBtn::mbYes, TDefaultMonitor::dmActiveForm);
    return true;
}

} // namespace vl
