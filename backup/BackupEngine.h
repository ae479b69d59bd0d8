// State of the per-directory engine (BackupEngine.cpp, BackupCopy.cpp):
// the file whose copy is pending and what the walk of one source entry
// keeps across its directories.
#pragma once

#include "backup/BackupForm.h"
#include "core/FileInfo.h"
#include "platform/FileSystem.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace vl {

struct TBackupForm::TCopyProps {
    QString SName; // source as found
    QString RName; // where the data are read from (drive mapping applied)
    QString DName; // plain destination path (no method extension); zip/FTP: the name
    QString EName; // destination file with the method extension
    QString TName; // name the thread writes
    QString DDir;  // destination directory
    QString ErrMsg;
    TFileInfo SInfo;
    TFileTimestamps Timestamps;
    bool DExist = false;
    bool Valid = false;
    TFileTime LwTime = 0;
    int CRatio = -1;
    // Also kept for the completion: the relative path for the log, how the
    // copy is written, and the source's stat before the copy (an archive-bit
    // reset must not hide a change made while it was copied).
    QString RelPath;
    bool Compressed = false;
    bool Encrypted = false;
    bool ArchiveBit = false;
    TStatInfo Before;
    bool HaveBefore = false;
    // Copies of the file in another method's form: removed once the new
    // copy is complete, so a failed copy leaves the old form in place.
    QStringList Variants;
};

// One selected file of the file loop.
struct TBackupForm::TEngineFile {
    QString Source;   // S
    QString Name;     // N, the destination name part
    QString RelPath;  // relpath for the log
    QString AttrText; // " " + attribute letters
    TFileInfo Info;
    TFileTimestamps Times;
    bool ArchiveBit = false;
    bool Compressed = false;
    bool Encrypted = false;
    QString DestDir; // T
};

struct TBackupForm::TEngineState {
    // The directory of the walk FinishFileCopy works for.
    struct TDir {
        QString SourceRoot;
        QString DestBase;
        QString SubDir;
        bool Interactive = false;
        int *FileCount = nullptr;
        int *CopiedCount = nullptr;
        int *ErrorCount = nullptr;
        int *WarningCount = nullptr;
        int64_t *CopiedBytes = nullptr;
        int64_t *TotalBytes = nullptr;
        int64_t *ErrorBytes = nullptr;
        bool ArchiveKept = false;
        bool StopLoop = false; // the file loop of the directory ends
        QString ZipPath;       // per-directory archive (methods 6 and 7)
    };
    TDir *Dir = nullptr;
    // A local copy is started and not yet completed.
    bool Pending = false;
    TWalkAncestors Ancestors;
    int Depth = 0;
    // Work that waits for the entry's copies to be on disk.
    struct TCommit {
        QString Path;
        TStatInfo Before;
        bool HaveBefore = false;
        bool IsDir = false;
        bool ResetArchive = false;
        bool DeleteSource = false;
        // The local copy the reset or deletion relies on; it must still be
        // there when the entry is committed.
        QString Dest;
    };
    std::vector<TCommit> Commits;
    // The destination's names ignore case (vfat, exfat, cifs).
    bool CaseInsensitive = false;
    QStringList DestDirs; // destinations written since the last commit
};

} // namespace vl
