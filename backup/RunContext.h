// What one backup run keeps between its phases (RunController.cpp and the
// phase files). Created by RunBackup, gone when it returns.
#pragma once

#include "backup/BackupForm.h"
#include "core/WindowServices.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace vl {

class TVssThread;

struct TBackupForm::TRunContext {
    // ---- The start ----
    int Nr = 0;                        // schedule entry 1..16, else 0 or less
    QString TaskPath;
    TInteraction IaMode = TInteraction::iaPrompt;
    TAutoTask *AutoTask = nullptr;     // entry Nr - 1 when Nr > 0
    QString Description;               // run description (+ mode letter once set)
    bool LockTaken = false;            // Velkor.lock created by this run
    int AutoClose = 0;                 // wait argument of the progress window
    bool MayAsk = false;               // prompting, or iaQuietError
    bool SyncOnly = false;             // synchronisation-only run
    bool Alternating = false;          // started by an alternating schedule
    bool Abort = false;                // a start-up phase failed
    bool DestReady = false;
    QString StatusText;                // first failure that leaves no complete backup

    // ---- Mode (start-up) ----
    int BackupMode = 0;                // index into BuModeCB
    QString ModeName;
    QString ModeLetter;
    bool MFull = false;                // this run is the full one of its cycle
    bool BDiff = false;                // the partial runs of the cycle are differential

    // ---- Counters over all entries, and at the end of the previous one ----
    struct TCounters {
        int FileCount = 0;     // files selected
        int CopiedCount = 0;
        int ErrorCount = 0;
        int WarningCount = 0;
        int64_t CopiedBytes = 0;
        int64_t TotalBytes = 0; // bytes selected
        int64_t ErrorBytes = 0; // bytes of failed files
        int ClearDelCount = 0;  // files deleted by clearing the destination
    };
    TCounters Count;
    TCounters Prev;
    bool SyncErrors = false;
    bool ExtProgFailed = false;

    // ---- Snapshot ----
    std::shared_ptr<TVssThread> VssThread;
    QString VssDrive;
    QString VssDocument; // saved components document, empty when none

    // ---- Destination ----
    // Local: the destination directory X of the set-up; FTP: the displayed
    // destination.
    QString DestDir;
    QString FtpBaseDir;      // the client's directory after the set-up / cycle folder
    QString CycleDesc;       // " (day 3)", shown after destination names
    bool CycleFolderFailed = false;
    TDateTime LastFullTime = 0;
    QString EntryDestBase;   // destination base of the last entry processed
    QString LastEntryDest;   // destination directory E of the last entry

    // ---- Zip archives of methods 4 and 5 ----
    bool ZipCreationFailed = false;
    QString ZipArchiveName;  // name of the archive being written
    QString ZipFinalPath;    // local: BaseDir + name
    QString ZipTempPath;     // where the writer writes
    QString EntryFtpDir;     // FTP directory of the entry

    // ---- The end ----
    int State = 0;                          // exit-code-like state of the finished run
    TModalResult SubAction = prNoAction;    // subsequent action (progress window code)
    TBuResult Result = TBuResult::brError;  // intermediate result, then the final one

    // -- begin: further context members --
    // -- end: further context members --
};

} // namespace vl
