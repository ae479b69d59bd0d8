// The backup task: TBackupForm holds one task while it is edited or run.
// It is the task editor's logic and, later, the run engine; it has no
// widgets. Each setting lives either in a field or in the state object of
// the control that shows it (ui/ControlState.h): loading, saving and
// running all read the same objects, so a task run without a window
// behaves as one run from the editor.
//
// The methods are spread over several files by topic (task file, sources,
// option rules, log, destination operations); each section below names its
// file.
#pragma once

#include "backup/AutoTask.h"
#include "backup/BackupTypes.h"
#include "backup/ExternalPrograms.h"
#include "backup/MailSettings.h"
#include "core/NetShares.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"
#include "engine/FtpUtils.h"
#include "ui/ControlState.h"
#include "ui/ExternalProgramsDialog.h"

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <vector>

namespace vl {

class TCopyThread;
class TEncryption;
class TExtFtp;
class TLogWriter;
class TUnicodeIniFile;
class TZipWrite;
struct TFileInfo;

// The source list: a check-list box whose items each own the selection of
// one source entry. Item checks mirror TExtensionList::Selected; an item is
// enabled exactly when its entry IsAvailable. Code-side changes run no
// handler; the User* methods run OnClick (selection) and OnClickCheck.
class TSourceListState : public TControlState {
public:
    TNotifyEvent OnClick;
    TNotifyEvent OnClickCheck;

    int Count() const { return int(FItems.size()); }
    const QString &Strings(int AIndex) const { return FItems.at(AIndex).Text; }
    void SetString(int AIndex, const QString &AText);
    TExtensionList &Objects(int AIndex) { return *FItems.at(AIndex).List; }
    const TExtensionList &Objects(int AIndex) const { return *FItems.at(AIndex).List; }
    bool Checked(int AIndex) const { return FItems.at(AIndex).Checked; }
    void SetChecked(int AIndex, bool AValue);
    bool ItemEnabled(int AIndex) const { return FItems.at(AIndex).Enabled; }
    void SetItemEnabled(int AIndex, bool AValue);
    // Appends (or, while Sorted, inserts in order of the text, case
    // ignored) and returns the item's index.
    int Add(const QString &AText, TExtensionList AList);
    void Delete(int AIndex);
    void Clear();
    void Exchange(int AIndex1, int AIndex2);
    bool Sorted() const { return FSorted; }
    void SetSorted(bool AValue);
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int AValue);

    bool UserSelect(int AIndex);
    bool UserCheck(int AIndex, bool AValue);

private:
    struct TItem {
        QString Text;
        std::unique_ptr<TExtensionList> List;
        bool Checked = true;
        bool Enabled = true;
    };
    std::vector<TItem> FItems;
    int FItemIndex = -1;
    bool FSorted = false;
};

// A page control: which page is shown.
class TPageControlState : public TControlState {
public:
    TNotifyEvent OnChange;
    int ActivePage() const { return FActivePage; }
    // Runs no handler.
    void SetActivePage(int AValue);
    bool UserSelect(int AValue);

private:
    int FActivePage = 0;
};

// Pages of pcMethod.
inline constexpr int kMethodPageFiles = 0;
inline constexpr int kMethodPageZip = 1;

class TBackupForm {
public:
    TBackupForm();
    ~TBackupForm();
    TBackupForm(const TBackupForm &) = delete;
    TBackupForm &operator=(const TBackupForm &) = delete;

    // ---- Task identity and editor state ----
    QString ActTaskName;
    QString LoadedTaskName;
    QString TaskNote;
    QByteArray TaskPwd;
    TEditStatus EditStatus = TEditStatus::esNew;
    TACaptionType ACaptType = TACaptionType::ctNew;
    bool UpdateBusy = false;
    TTimePeriod NewPeriod;
    // NewPeriod of a new task.
    void ResetNewPeriod();
    int IncludeItem = -1;
    int ExcludeItem = -1;
    // Source replacement of the command line: only the first source entry
    // is read, with this path.
    QString ReplSourceDir;
    // Password of the run (fixed or asked at its start).
    QByteArray ActPwd;

    // ---- Destination and account ----
    bool BuFtp = false;
    TRadioButtonState rbFtp;
    TRadioButtonState rbWin;
    TComboBoxState BuZiel{true}; // items: the destination history
    TEditState edtFtp;
    TFtpParams FtpPar;
    QString UserAccount;
    QString UserPwd;
    TUserAccount CmdAltUser;
    QString DriveId;
    TFileSystem TargetType = TFileSystem::fsNotAvail;
    TFileSystem SourceType = TFileSystem::fsNotAvail;

    // ---- Backup method and mode ----
    int DestMode = 0;
    TEditState ZipNameEdit;
    QString UserZipName;
    int64_t MaxZipSize = 0;
    TComboBoxState cbZipSize{true};
    bool ClearDest = false;
    TCheckBoxState UseArchivCB;
    TCheckBoxState ResArchivCB;
    TCheckBoxState cbArchFile;
    TComboBoxState BuModeCB; // "Update", "Full (new)", "Differential", "Incremental"
    TRadioButtonState rbDrives, rbOrigin, rbOneDir, rbRoot; // DestMode 0..3
    TRadioButtonState rbOneZip, rbZipRoot, rbZipDir, rbZipOrg; // DestMode 4..7
    TRadioButtonState rbSingle;
    TRadioButtonState rbZip;
    TPageControlState pcMethod;

    // ---- File processing ----
    TCheckBoxState cbCompress;
    TCheckBoxState cbZipCompress;
    QStringList AktNoComp; // sorted, unique
    TListBoxState NoCompList;
    TCheckBoxState cbEncrypt;
    int LastCrypt = 0; // 0 none, 1 automatic, 2 AES 128, 3 AES 256
    TRadioButtonState rbEncAuto, rbEnc128, rbEnc256;
    TCheckBoxState cbEncNames;
    bool EncChg = false;
    TCheckBoxState cbFixPwd;
    QByteArray CryptPwd;
    bool UseVss = false;
    TCheckBoxState cbUseVss;

    // ---- Copy options ----
    TCheckBoxState cbVerify;
    TCheckBoxState cbSourceDelete;
    int DelSourceDelDir = 0; // bit 0 empty subdirectories, bit 1 empty roots
    TCheckBoxState cbCopySummary;
    TCheckBoxState cbAltStreams;
    TCheckBoxState cbCopyPerms;
    TCheckBoxState cbCreationTime;
    TCheckBoxState cbNoAttributes;
    TCheckBoxState cbDelDir;
    TTextChange FnMode = TTextChange::tcNone;
    TCharRepl ReplMode = TCharRepl::cpNot;
    QChar ReplChar = QLatin1Char('~');
    int TaskBufferSize = 0;
    int CopyTimeout = 60;
    int TimeOutMax = 5;
    int MaxRate = 0; // kByte/s, 0 unlimited
    bool FullSpeed = true;
    TThreadPriority TaskPriority = TThreadPriority::tpNormal;
    bool NoWriteCache = false;
    int DeltaTime = 2;
    int DstIgnore = 2;
    int CompareMode = 0;
    bool IgnoreJunctions = true;
    bool UseJunctions = false;
    bool FollowJunctions = false;
    bool ScanDirs = false;
    bool WriteTsFile = false;
    bool SkipDir = false;
    bool DisplayOff = false;
    bool NoVolCheck = false;

    // ---- Synchronisation and security copies ----
    int SyncMode = 0;
    TComboBoxState cbSync;
    bool SyncBefore = false;
    TRadioButtonState rbSyncBefore;
    TRadioButtonState rbSyncAfter;
    TCheckBoxState cbSyncRecycle;
    TCheckBoxState KeepBakCB;
    TSecSettings BakSec;
    TCheckBoxState KeepSyncCB;
    TSecSettings SyncSec;

    // ---- External programs, log, mail, statistics ----
    TExternalProg BuPreCmd;
    TExternalProg BuPostCmd;
    TCheckBoxState cbPreC; // shows kWaitRun of BuPreCmd
    TCheckBoxState cbPostC;
    int CmdEnc = 0;
    int TaskProtMode = 0;
    QString TaskLogName;
    bool ShowErrors = false;
    bool ErrorSummary = false;
    QString LastLogFile;
    TMailMode MailMode = TMailMode::mmNone;
    TCheckBoxState cbMail;
    TMailData MailData;
    int BackupCount = 1;
    TControlState LastBuTime; // caption: date and time of the last run
    TControlState lblLastSave;
    TDateTime LastBackupTime = 0;
    QStringList MaskExprs;
    TListBoxState DirFilterList;

    // ---- Source entries ----
    TSourceListState SelectedDirBox;
    bool SortDirs = false;
    TButtonState FilterBtn;

    // ---- Controls the option rules act on ----
    TControlState paTaskLog; // caption "Log: " + mode text
    TControlState pnCrypt;
    TControlState pnZip;
    TControlState pnZipEnc;
    TButtonState PhZipBtn;
    TButtonState btnCompare;
    TControlState miPreviewAll;     // "Show all files to be backed up ..."
    TControlState miPreviewAllSub;  // the same for the current entry
    TControlState miPreviewExcluded; // "Show all files not to be backed up ..."
    TControlState gbReplMode;
    TControlState gbOther;
    TControlState gbSync;
    TControlState gbSecure;
    TControlState paDriveId;
    TControlState lblDriveId; // caption: the drive identifier shown
    TButtonState BakNameBtn;
    TButtonState SyncNameBtn;
    TButtonState TypBtn;
    TControlState lblNoComp;
    TButtonState btnCryptPassword;
    TControlState laTaskName;

    // ---- Task file (BackupFormTaskFile.cpp) ----
    // Reads the task file. ARun: the whole task (settings reset first);
    // else only its source entries are appended. False when the file is
    // missing, unreadable, or loading stopped at a source whose medium
    // the user did not supply.
    bool LoadTask(const QString &AFileName, bool ARun, TInteraction AInterAct);
    // Writes the whole task; DirOrder, when not empty, names the list
    // positions of the entries to write, in that order. False when the
    // file could not be written (an error box said so).
    bool SaveTask(const QString &AFileName, const std::vector<int> &DirOrder = {});
    // After a run: counters, run number and time of the last run.
    void WriteTaskStatistics(const QString &AFileName);
    // Every task setting to its new-task value.
    void ResetTaskOptions();
    // An empty new task: settings reset, source list cleared, no file.
    void InitNewTask();
    void SetEditStatus(TEditStatus AStatus);
    // Enciphered values as last read or written, with their plain text:
    // saving an unchanged secret writes the same text again (the cipher is
    // randomly padded), so an unchanged task is saved byte for byte.
    struct TStoredSecret {
        QString Key;
        QByteArray Plain;
        QString Cipher;
    };
    std::vector<TStoredSecret> StoredSecrets;

    // ---- Option rules (BackupFormOptions.cpp) ----
    void UpdateOptionControls();
    void UpdateDestModeControls();
    void UpdateCompressionControls();
    void UpdateCryptControls();
    // Sources on one volume; sets SourceType from the first source.
    bool AllSourcesOnOneVolume();
    // AES key mode of a run: 1 (128 bit) or 3 (256 bit).
    int GetCryptKeyMode() const;
    // Shows DriveId (or the default) in lblDriveId.
    void ShowDriveIdentifier();
    // Index of BuModeCB from ClearDest and the archive-bit settings.
    int BackupModeIndex() const;
    // -- begin: further option-rule members --
    // Sets the method radio buttons (and the page of pcMethod) from
    // DestMode; a loaded or new task calls it once its fields are set.
    void ShowDestMode();
    // Separate files to a folder.
    bool IsLocalCopy() const;
    // Mode "Update" on a structure whose destination files belong to the
    // task alone (synchronisation and security copies are possible).
    bool IsFreeUpdate() const;
    // What a destination file system keeps (see BackupFormOptions.cpp).
    static bool KeepsUserXattrs(TFileSystem AType);
    static bool KeepsPosixPermissions(TFileSystem AType);
    // Permissions of a source on such a file system are copied ("Copy file
    // permissions"; Linux sources keep mode bits and ACLs as well).
    static bool KeepsPermissions(TFileSystem AType);
    // The trash can take files deleted on such a file system ("Use Recycle
    // Bin" of synchronisation; SetSyncMode asks the same).
    static bool RecycleBinAvailable(TFileSystem AType);
    // A snapshot provider can take the volume of APath (answer kept per
    // volume, as the providers run tools to decide).
    bool SnapshotPossible(const QString &APath);
    TControlState gbDestMode; // its hint heads the hints of rbDrives and rbZipDir
    QString SnapshotVolume; // the volume SnapshotFits answers for
    bool SnapshotFits = false;
    // -- end: further option-rule members --

    // ---- Source entries (BackupFormSources.cpp) ----
    void ClearDirList();
    void SaveDirCounters();
    void RestoreDirCounters();
    bool ScanSourceDir(TExtensionList &AList, bool ShowStatus);
    void ScanSourceDirs(bool All, bool ShowStatus);
    void UpdateFileTotals();
    void OpenStatusWindow(const QString &Title, const QString &Stat, int AInterval, bool AllowBreak);
    void CloseStatusWindow();
    void GetSelectionSummary(const TExtensionList &AList, bool Short, QString &AText) const;
    void UpdateDirAvailability();
    // Adds (or removes) the filter marks of the subdirectories matched by
    // the entry's directory filters; no tree exists without a window, so
    // RebuildTree only matters to a view.
    void ApplyDirFilters(TExtensionList &AList, bool Add, bool RebuildTree);
    // -- begin: further source members --
    // The current entry has more than 5000 files: edits leave its rescan
    // to the "Update view" buttons.
    bool NoAutoUpdate = false;
    // Subdirectory tags changed since the last scan.
    bool ExDirChanged = false;
    // Totals: of the ticked entries; of the current entry's included and
    // excluded files (also shown on the subdirectory and file pages).
    TControlState lblSum;
    TControlState IncludeSumme;
    TControlState ExcludeSumme;
    TControlState lblDirTotal;
    TControlState lblFilesTotal;
    TButtonState btnUpdate;
    TButtonState btnFilesUpdate;
    TButtonState btnTypesUpdate;
    // The line of an entry in the source list: the path (with its volume
    // label unless NoVolCheck) and the selection summary, or
    // " (not available)". Fit: the short summary and the path as stored
    // (a view elides it to its width); else placeholders expanded.
    // WithCounts appends a line with the totals.
    void GetDirEntryText(const TExtensionList &AList, bool Fit, QString &AText, bool WithCounts) const;
    // GetDirEntryText(Fit) of every item, and each item enabled as its
    // entry is available.
    void RefreshDirEntryTexts();
    // "No files", "1 file totaling %s", "%u files totaling %s".
    static QString FilesTotalText(int ACount, int64_t ABytes);

    // Directories on the path of a walk, by (device, inode): a followed
    // link leading to one of them closes a cycle, however many links the
    // cycle runs through.
    class TWalkAncestors {
    public:
        // Adds ADir (links followed); false when it cannot be read or is
        // on the path already (then nothing is added).
        bool Enter(const QString &ADir);
        void Leave() { FIds.pop_back(); }

    private:
        std::vector<std::pair<uint64_t, uint64_t>> FIds;
    };
    // The count of one directory and, below it, of its subdirectories;
    // false when cancelled. ALinkPath: the real path of the parent.
    bool CountFiles(const QString &ABase, const QString &ASubDir, TExtensionList &AList, bool ShowStatus,
                    bool InTagged, const QString &ALinkPath, TWalkAncestors &AAncestors);
    // Lists, as a run would take them, the directories and files of an
    // entry (Excluded: what it leaves out). Start with the entry's SPath,
    // empty SubDir and RealParent, ParentIncluded false, zero counters.
    // Lines: "#" + dir (files not listed), "*" + dir (object: the number
    // of file lines that follow), " " + name + "|" + time + "|" + size.
    void ScanPreview(const QString &SourceRoot, const QString &SubDir, const QString &RealParent,
                     bool ParentIncluded, bool Excluded, bool FullPaths, bool UseArchive, int &Count,
                     int64_t &Bytes, TStringList &Lines, const TExtensionList &List);
    void ScanPreviewDir(const QString &SourceRoot, const QString &SubDir, const QString &RealParent,
                        bool ParentIncluded, bool Excluded, bool FullPaths, bool UseArchive, int &Count,
                        int64_t &Bytes, TStringList &Lines, const TExtensionList &List,
                        TWalkAncestors &AAncestors);
    // Tags (Add) or untags the subdirectories below ABase/ASubDir whose
    // name (or, for a pattern holding "/", full path with trailing "/")
    // the filter matches; a match is not searched further, links and
    // pseudo mounts never.
    void MatchSubDirs(const QString &ABase, const QString &ASubDir, TStringList &ATags, const TTextFilter &AFilter,
                      bool Add);
    // -- end: further source members --

    // ---- Task log (BackupFormLog.cpp) ----
    int ActMode = 0;
    int TempMode = 0;
    int CmdProtMode = -1;
    QString TempLogName;
    QString LogHeader;
    QString LogBegin;
    bool TempProt = false;
    bool LogTime = false;
    QStringList LogErrorList;
    int OpenLogFile(int APm, const QString &ALogName, bool MailLog);
    void CheckLogError(int ErrorCode, bool Prompt);
    void InitLog(const QString &Action);
    void BeginLog(TDateTime dt, const QString &Desc);
    void WriteToLog(int Mode, const QString &AMsg);
    void WriteToLog(const QString &AMsg) { WriteToLog(1, AMsg); }
    void WriteToLog() { WriteToLog(1, QString()); }
    void WriteErrorToLog(int Mode, const QString &GMsg, const QString &AMsg, const QString &EMsg1,
                         const QString &EMsg2);
    void WriteErrorToLog(const QString &GMsg, const QString &AMsg, const QString &EMsg1, const QString &EMsg2)
    {
        WriteErrorToLog(1, GMsg, AMsg, EMsg1, EMsg2);
    }
    void WriteErrorToLog(int Mode, const QString &GMsg, const QString &AMsg, int ErrCode);
    void WriteErrorToLog(const QString &GMsg, const QString &AMsg, int ErrCode)
    {
        WriteErrorToLog(1, GMsg, AMsg, ErrCode);
    }
    void WriteErrorToLog(int Mode, const QString &GMsg, const QString &AMsg)
    {
        WriteErrorToLog(Mode, GMsg, AMsg, QString(), QString());
    }
    void WriteErrorToLog(const QString &GMsg, const QString &AMsg) { WriteErrorToLog(1, GMsg, AMsg); }
    void WriteErrorSummary();
    void FlushLogFile(int Mode);
    void ReleaseLogFile(int Mode);
    void ReopenLogFile(int Mode);
    int CurrentLogMode() const { return ActMode & 3; }
    // A line of level Mode would reach the task log or the mail's log.
    bool LogWants(int Mode) const;
    void CloseLogFile(bool ErrorLog);
    // -- begin: further log members --
    // LogErrorList is in use (from OpenLogFile to CloseLogFile).
    bool LogErrorListOpen = false;
    // The mode OpenLogFile was given: a run that asks for no error log
    // entry prints its log by this mode, not by TaskProtMode.
    int LogOpenMode = 0;
    // Closes the temporary log (before it is attached or printed); the
    // file stays until CloseLogFile.
    void CloseTempLog();
    // -- end: further log members --

    // ---- Destination operations (BackupFormDest.cpp) ----
    // Error and warning counters of the run.
    int ErrorCnt = 0;
    int WarningCnt = 0;
    int ResolveSourceVolume(const QString &ADir, const QString &AVolume, QString &ARelPath, QString &ADrive,
                            QString &APath, bool Prompt);
    // -- begin: further destination members --
    // Deletes a file (read-only cleared first); a missing file counts as
    // deleted. Failures are logged (Dir shortens the name) and give false.
    bool FileDelete(const QString &Dir, const QString &Filename);
    bool FileDelete(const QString &Filename) { return FileDelete(QString(), Filename); }
    // Renames (moves) u to s with the attributes of u (unless
    // cbNoAttributes); > 0 an error (ECnt + 1), < 0 the attributes could
    // not be set (WCnt + 1), 0 success.
    int FileRename(const QString &Dir, const QString &u, const QString &s, int &ECnt, int &WCnt);
    int FileRename(const QString &u, const QString &s, int &ECnt, int &WCnt)
    {
        return FileRename(QString(), u, s, ECnt, WCnt);
    }
    // Deletes the files of APath matching AMask last written before ADate.
    void DeleteOldFiles(const QString &APath, const QString &AMask, TDateTime ADate);
    // The rename with up to five attempts; Attr -1 leaves the attributes
    // alone. Logs with Mode (warnings Mode + 4); ErrText is the detail of a
    // failure. Result as FileRename.
    int RenameDestFile(const QString &Dir, const QString &OldName, const QString &NewName, QString &ErrText,
                       int Mode, int Attr);
    // Makes sure a destination folder exists (up to six attempts); logs a
    // creation and a failure (group GMsg).
    bool ForceDestDirectory(const QString &Dir, const QString &GMsg, bool IsSubDir);
    bool ForceDestDirectory(const QString &Dir, bool IsSubDir)
    {
        return ForceDestDirectory(Dir, QStringLiteral("B"), IsSubDir);
    }
    // Gives Name the attributes Attr (a read-only folder stays read-only);
    // 0, 2 when Name is missing, or the error of the last attempt.
    int SetDestAttributes(const QString &Name, int Attr, const QString &GMsg, bool IsNew);
    // Write test of the folder that ASource maps to under ADest by DestMode.
    bool TestDestinationAccess(const QString &ADest, const QString &ASource) const;
    // The link information file of the link directory DestPath (backup/
    // LinkInfo.cpp). A file that cannot be written is an error line of the
    // run (ErrorCnt + 1), never the end of it; false then.
    bool WriteJunctionInfo(const QString &DestPath, const QString &Target, uint8_t Kind);
    // The same uploaded into AFtp's current remote directory; failures are
    // ignored.
    void WriteFtpJunctionInfo(TExtFtp &AFtp, const QString &DestPath, const QString &Target, uint8_t Kind);
    // Writes the time stamp file into ADir; a failure is an error line of
    // the run (ErrorCnt + 1) and gives false.
    bool WriteDestTimeStamp(const QString &ADir, TDateTime ATime);
    // -- end: further destination members --

    // ---- File selection (FileSelection.cpp) ----
    // Time period of the command line: tmOff when none was given, tmError
    // when the given one was invalid (then no file is selected).
    TTimePeriod CmdTmPeriod{TTimeMode::tmOff};
    // Reference date of the selection test (midnight), set when a run or a
    // scan starts.
    TDateTime Heute = 0;
    // The name, attribute, size and time tests of backup/FileSelection.h
    // for Info.Name, with this task's command-line period, Heute and
    // LastBackupTime.
    bool IsFileInfoSelected(const TFileInfo &Info, const TExtensionList &List) const;

    // ---- Security copies (SecCopyNames.cpp) ----
    // -- begin: further security-copy members --
    // Before a zip archive of the run is replaced: keeps the current one as
    // a security copy by BakSec (numbered history "01".."99" when MaxHist
    // is 2 or more), in the archive's folder or its copy folder.
    // Failures count into ErrorCnt and WarningCnt and are logged.
    void RotateArchiveCopies(const QString &AArchive);
    // -- end: further security-copy members --

    // ---- Run state (set up by the run controller; read by the engine) ----
    TDateTime StartTime = 0;
    TDateTime EndTime = 0;
    TDateTime SavedSuspTime = 0;
    int64_t CopyVol = 0;
    int64_t SuspTime = 0;
    int64_t CopyTime = 0;
    int TimeOutCount = 5;
    int64_t TotalSize = 0;
    TBuStatus BuStatus = TBuStatus::bsOK;
    bool Encrypt = false;
    // Shared with workers, which may outlive an abandoned wait.
    std::shared_ptr<TEncryption> Encryption;
    std::shared_ptr<TExtFtp> FTP;
    std::shared_ptr<TZipWrite> ZipArchive;
    std::shared_ptr<TCopyThread> CopyThread;
    QString BaseDest;
    QString BaseDir;
    QString CurDir;
    QString ReplSourceDrv;
    QString ZipName; // name of the zip archive of this run
    TThreadPriority CopyPriority = TThreadPriority::tpNormal;
    // The run may ask the user (interaction iaPrompt or iaErrorPrompt).
    bool Prompting = false;

    // ---- Per-directory engine (BackupEngine.cpp, BackupCopy.cpp) ----
    // -- begin: further engine members --
    // Backs up one directory of a source entry and, recursively, the tree
    // below it (root call: empty SubDir and RealParent, ParentIncluded
    // false, the root's times and attributes, the run's counters).
    void BackupDirectory(const QString &SourceRoot, const QString &DestBase, const QString &FtpRoot,
                         const QString &SubDir, const QString &RealParent, TFileTimestamps DirTimes,
                         uint32_t DirAttr, bool ParentIncluded, bool Interactive, int &FileCount, int &CopiedCount,
                         int &ErrorCount, int &WarningCount, int64_t &CopiedBytes, int64_t &TotalBytes,
                         int64_t &ErrorBytes, TExtensionList &List);
    // Flag letters of a copy for the verbose log ("CEVT", ...).
    QString CopyFlagsText(bool Compressed, bool Encrypted) const;
    // TCopyOptions (engine/WinCopyThread.h) of a local and of an FTP copy.
    uint16_t LocalCopyOptions(bool Compressed) const;
    uint16_t FtpCopyOptions(bool Compressed) const;
    // Size of the source data a destination file holds (0 when its header
    // cannot be read).
    int64_t DestDataSize(const QString &AName, bool Compressed, bool AsZip, bool Encrypted, int64_t SizeOnDisk) const;
    // With EncChg: the single-file zip AName is encrypted otherwise than
    // the run would write it.
    bool ZipEncryptionChanged(const QString &AName) const;
    void ShowTotalProgress(int FileCount, int64_t TotalBytes);
    // The file whose copy is pending or being evaluated (BackupEngine.h).
    struct TCopyProps;
    std::shared_ptr<TCopyProps> CopyProps;
    // Waits for the pending local copy and puts it in place; the copy
    // result (2 copied, 3 destination full, else the error code).
    int CompleteLocalCopy();
    // Evaluates a copy result of the file in CopyProps: 1 the run stops,
    // 2 the same file is to be copied again (new medium), else 0.
    int FinishFileCopy(int Result);
    // Removes old security copies of the destination file AEName (plain
    // name ADName) that was not replaced.
    void CleanOldSecurityCopies(const QString &AEName, const QString &ADName, const QString &ADestDir);
    // Folder of the security copies of files in ADestDir (BakSec.DirMode).
    QString BakCopyLocation(const QString &ADestDir) const;
    // End of a source entry: one syncfs of the destinations written, then
    // the archive-bit resets and source deletions of the entry's copies,
    // which wait for it (a crash before leaves the sources marked as not
    // backed up). Nothing is reset or deleted when the sync fails (error
    // line, ErrorCount + 1; false). With methods 4 and 5 call it once the
    // archive is complete.
    bool CommitEntryCopies(int &ErrorCount);
    // Walk-wide state of the engine (BackupEngine.h).
    struct TEngineState;
    std::shared_ptr<TEngineState> EngineState;
    // Steps of the walk for one selected file (BackupEngine.h).
    struct TEngineFile;
    // Methods 0 to 3, local: compares and starts (or skips) the copy.
    void BackupLocalFile(const TEngineFile &AFile);
    // Methods 4 to 7: adds the file to ZipArchive; FinishFileCopy's result.
    int BackupZipEntry(const TEngineFile &AFile, int &FilesAdded);
    // Starts the copy described by CopyProps in a new copy thread.
    void StartCopyThread();
    // Writes, verifies and puts in place (or uploads) the archive of a
    // directory of methods 6 and 7; AKeep false drops an empty one.
    void FinishDirArchive(bool AKeep, const QString &ADestDir, const QString &ASubDir, int &ErrorCount);
    // -- end: further engine members --

    // ---- Copy supervision (CopySupervision.cpp) ----
    // -- begin: further supervision members --
    // Waits for the started local copy thread in CopyThread and releases
    // it: its error code (ErrMsg its system text), or 273 when it made no
    // progress for CopyTimeout seconds (the thread is then cancelled and
    // left to end on its own). CRatio: its compression ratio.
    int WaitForCopyThread(QString &ErrMsg, int &CRatio);
    // Starts the FTP thread in CopyThread (created, not started), waits for
    // it and releases it. Error: its code, or 285 when it made no progress
    // for CopyTimeout seconds (its transfer is then aborted and the thread
    // left to end on its own); ErrText: the FTP client's error text;
    // FileSize: the bytes the thread transferred.
    void WaitForFtpThread(int &Error, QString &ErrText, int64_t &FileSize);
    // The same for the compare thread that verifies an upload.
    void WaitForFtpVerify(int &Error);
    // The progress handler of every copy thread and zip writer of a run:
    // progress display, speed measurement and the speed limit MaxRate
    // (kByte/s of real time), which holds the copy thread in CopyThread at
    // its pause gate until the bytes it reported are due.
    void CopyProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit);
    // More than CopyTimeout seconds (0: never) without a progress report
    // while a wait for a copy thread runs; also the zip writer's OnTimeout
    // handler.
    bool CopyTimedOut();
    // What the progress window asks of the copy (RunControl below).
    // Pause (true) or resume the copy thread and the zip writer.
    void PauseBackup(bool APause);
    // Cancels the copy thread and the zip writer; BuStatus becomes
    // bsCancelAll (ACancelAll) or bsCanceled.
    void CancelBackup(bool ACancelAll);
    // Ends the wait for an external program (the program goes on).
    void CancelProgramWait();
    // Milliseconds of a monotonic clock: LastTick and the watchdog.
    static int64_t CurrentTick();

    int64_t FSize = 0;     // size of the item being copied
    int64_t LastTick = 0;  // CurrentTick of the last speed measurement
    int64_t LastCount = 0; // count of the item at the last measurement
    int64_t CopySpeed = 0; // measured speed, bytes per second of real time
    // On while a wait for a copy thread runs; LastProgressTick is the time
    // of the last progress report (or pause) it counts from.
    bool WatchdogEnabled = false;
    int64_t LastProgressTick = 0;
    // Speed limit: the tick (fractional) at which the bytes reported so
    // far are due. While it lies ahead the workers are held (RateHeld).
    double RateDue = 0;
    bool RateHeld = false;
    // Paused from the progress window.
    bool UserPaused = false;
    // The progress window's minimise button, for the task's display.
    std::function<void(bool APaused)> OnMinimizeRun;

    // The form's answer to the progress window (give &RunControl to
    // ShowProgress).
    class TRunControl : public IRunControl {
    public:
        explicit TRunControl(TBackupForm &AForm) : FForm(AForm) {}
        void PauseRun(bool APause) override { FForm.PauseBackup(APause); }
        void CancelRun(bool ACancelAll) override { FForm.CancelBackup(ACancelAll); }
        void MinimizeRun(bool APaused) override
        {
            if (FForm.OnMinimizeRun)
                FForm.OnMinimizeRun(APaused);
        }
        void StopWaiting() override { FForm.CancelProgramWait(); }

    private:
        TBackupForm &FForm;
    };
    TRunControl RunControl{*this};
    // -- end: further supervision members --

    // ---- FTP side (BackupFtp.cpp, FtpSync.cpp) ----
    // -- begin: further FTP members --
    // Remote directory state of one directory of the walk.
    struct TFtpDirState {
        QString CurFtp;    // the client's directory when the directory began
        QString RemoteDir; // remote directory of this directory
        int Levels = 0;    // remote directories entered or created for it
    };
    // Enters (or creates) the remote directory of ASubDir below AFtpRoot.
    // 1 entered; 0 it could not be entered (error line, ErrorCount + 1:
    // the directory is not OK); -1 the connection is lost (run stopped, the
    // walk returns at once).
    int EnterFtpDirectory(const QString &AFtpRoot, const QString &ASubDir, TFtpDirState &AState, int &ErrorCount);
    // Back to the parent remote directory at the end of a non-root
    // directory; a failure stops the run with bsBroken (false).
    bool LeaveFtpDirectory(TFtpDirState &AState, int &ErrorCount);
    // One selected file of methods 0 to 3 on the FTP destination.
    struct TFtpFileJob {
        QString Source;     // S, as found
        QString Name;       // N, the destination name part
        QString RelPath;    // relpath for the log
        QString AttrText;   // " " + attribute letters
        TDateTime SourceTime = 0; // last-write time, local
        int64_t Size = 0;
        bool ArchiveBit = false;
        bool Compressed = false;
        bool Encrypted = false;
        // Filled by FtpBackupFile for the completion step.
        QString RemoteName; // R
        QString TempName;   // Temp
        QString ErrMsg;
        bool Exists = false;
    };
    // Compares, uploads, verifies and puts in place one file (FileCount and
    // TotalBytes counted). The copy result for FinishFileCopy: 1 not copied,
    // 2 copied, else the error code (294: the old remote copy could be
    // neither kept nor deleted; the new one stays under its temporary name).
    // Failures are counted by the completion step, not into ErrorCount.
    int FtpBackupFile(TFtpFileJob &AJob, int &FileCount, int64_t &TotalBytes, int &ErrorCount);
    // Keeps the remote file R as a security copy by BakSec before Temp takes
    // its place; false when R is still there under its name.
    bool MakeFtpSecurityCopy(const QString &AName, const QString &ARemoteName);
    // Uploads a (possibly split) local zip archive into the current remote
    // directory as ARemoteName: all files go up under temporary names
    // first (verified with cbVerify), only then the old set is removed
    // (surplus old segments too) and the new one renamed, so a failure
    // leaves the old archive whole. 0 or the first error code.
    int CopyToFtp(const QString &LocalZip, const QString &RemoteDir, const QString &RemoteName, int &Segments,
                  int64_t &Size, bool DeleteLocal);
    static QString SegmentInfoText(int Segments, int64_t Size);
    // Synchronises the remote directory ASubDir (relative to the entry's
    // FTP destination) with ASource/ASubDir; ARemoteDir is where a
    // reconnect returns to. False when an error occurred.
    bool SyncFtpDirectory(const QString &ASource, const QString &ADest, TExtensionList &AList, int &ACount,
                          int &ADelCount, bool AllFiles, bool AParentIncluded, const QString &ARemoteDir,
                          const QString &ASubDir);
    // -- end: further FTP members --

    // ---- Synchronisation, clearing, old security folders (Synchronize.cpp, ClearDest.cpp, OldSecDirs.cpp) ----
    // -- begin: further sync members --
    // A destination file name mapped back to its source name: Name (M) with
    // the suffix of a backup security copy stripped, Unstripped before
    // that, Ext the extension the backup added (".gz", ".zip", ...; empty
    // when Name is the destination name).
    struct TSyncName {
        QString Name;
        QString Unstripped;
        QString Ext;
        bool Zip = false;
        bool Gz = false;
        bool Enc = false;
    };
    // ALocal: headers of compressed copies are read (with KeepBakCB) from
    // ADir + AFile.
    TSyncName MapSyncName(const QString &ADir, const QString &AFile, bool ALocal) const;
    // Whether a destination file goes: ASourceDir is S/ASubDir/; AtOnce
    // gives true without looking; RootOfIncludeList: the file lies directly
    // in the entry's destination root and the entry uses an include list
    // (local: mode 2 keeps such files).
    bool IsSyncDeletion(const QString &ASourceDir, const QString &AFile, const TSyncName &AName,
                        const TExtensionList &AList, bool RootOfIncludeList) const;
    // One synchronisation step for a source entry: ASource (S) and ADest
    // (D, inside BaseDir). False on any error (ErrorCnt counts a missing
    // source).
    bool SynchronizeLocal(TExtensionList &AList, const QString &ASource, const QString &ADest);
    void CountSyncFiles(const QString &ASource, const QString &ADest, TExtensionList &AList, const QString &ASubDir);
    // ASubDir relative to both roots, "" or "a/b". ACount: examined files;
    // ADelCount: files deleted or renamed.
    bool SyncLocalDirectory(const QString &ASource, const QString &ADest, TExtensionList &AList, int &ACount,
                            int &ADelCount, bool AllFiles, bool AParentIncluded, const QString &ASubDir);
    // The folder that copies by ASec take for the destination folder C
    // (ADest the entry's root, ASubDir C below it); ADirs: for renamed
    // folders (sdRootDrive then as sdRootDir). Empty when C is not below
    // BaseDir for a mode that needs that.
    QString SyncCopyDir(const QString &C, const QString &ADest, const QString &ASubDir, bool ADirs) const;
    // Mask and subpath of the backup copy folders of C (BakSec).
    void BakCopyDirMask(const QString &C, const QString &ADest, const QString &ASubDir, QString &AMask,
                        QString &ASubPath) const;

    // Clearing (ClearDest.cpp). ADelCount counts deleted files; a folder
    // that is another file system's mount point is never entered (an
    // error line). Links are removed as names.
    bool ClearDirectory(const QString &ABase, const QString &ASubDir, int &AErrCount, int &ADelCount, int AStart,
                        int ATotal, bool LogIt, bool DelFiles, bool DelRoot, const QString &GMsg);
    bool DeleteDirectoryTree(const QString &ABase, const QString &ASubDir, int &ADelCount, bool LogIt,
                             bool DelFiles, bool DelRoot, const QString &GMsg);
    bool CanClearDestination(const QString &ASource, int AIndex) const;

    // Old date-named backup copy folders (OldSecDirs.cpp).
    void DeleteOldSecurityDirs(const QString &ADir);
    // Files deleted or renamed by the synchronisation steps of the run
    // (reset by the run controller).
    int SyncDelCount = 0;
    // "No files deleted", "1 file deleted", "%u files deleted".
    static QString DeletedFilesText(int ACount);
    // The frame of a synchronisation step (SynchronizeLocal and
    // SynchronizeFtp): the source test (false: error box, mail and error
    // line, ErrorCnt + 1), the opening lines, and the status lines and
    // counts at its end (returns AResult).
    bool SyncSourceAvailable(const QString &ASource);
    void OpenSyncStep(const QString &ADest);
    bool EndSyncStep(TExtensionList &AList, int AExamined, int ADeleted, bool AResult);
    // -- end: further sync members --

    // ---- Run status lines and mail report (RunStatus.cpp, MailReport.cpp) ----
    // -- begin: further report members --
    // The lines that open an entry's part of the log and the mail report.
    // ANumber counts from 1, negated for an entry that is not ticked;
    // AVolume is the label of the source's volume (may be empty).
    void LogDirectoryHeader(int ANumber, const QString &ASource, const QString &AVolume);
    void LogDestination(const QString &ADest);
    // The final status page with the total amount; returns the page's
    // result code (pr...).
    TModalResult ShowRunStatus(TResultStatus Mode, const QString &Hinweis, int Wait, TColor AColor, int64_t ASize,
                               int64_t ACount, const QString &AStatus2, const QString &AStatus1);
    // Status messages of the snapshot thread, shown as the progress prompt.
    void VssStatusMessage(const QString &Value);

    // The mail report (MailReport.cpp). Its body is the body of the
    // program's mail sender (BuMainForm().Mailer()).
    // Bytes announced by the mail sender for the message being written.
    int64_t MSize = 0;
    void InitMail(TMailMode mm, TDateTime dt, const QString &Action, const QString &AText);
    void AddToMail(TMailMode mm, const QString &AText);
    // Closes the temporary log, then sends the report when mm asks for it:
    // ATime/ETime start and end of the run, ATask the task file, ASubj the
    // subject when none is configured, AText a last body line, AStat the
    // status text. Outcome and failures go to the log.
    void SendMail(TMailMode mm, const TMailData &AMailData, TDateTime ATime, TDateTime ETime, const QString &ATask,
                  const QString &ASubj, const QString &AText, const QString &AStat, bool Error,
                  TInteraction IaMode);
    void SendMail(TMailMode mm, const TMailData &AMailData, TDateTime ATime, TDateTime ETime, const QString &ATask,
                  const QString &ASubj, const QString &AText, const QString &AStat, bool Error, bool Prompt);
    // Work events of the mail sender while SendMail runs.
    void MailStart(TmMailer &ASender, TWorkMode AWorkMode, int64_t AWorkCountMax);
    void MailProgress(TmMailer &ASender, TWorkMode AWorkMode, int64_t AWorkCount);
    void MailEnd(TmMailer &ASender, TWorkMode AWorkMode);
    // -- end: further report members --

    // ---- External programs (ExternalPrograms.cpp) ----
    // -- begin: further external-program members --
    // Runs BuPreCmd (AStatus < 0) or BuPostCmd (AStatus: the run's status
    // number, for "%status%") and logs the outcome; boxes only when IaMode
    // prompts. A password asked for is never shown or logged.
    void RunExternalProgram(const TExternalProg &Prog, TInteraction IaMode, int AStatus, TExtProgResult &Result);
    // The placeholders of external command lines ("%password%" shows as
    // "<password prompt>"), then the date, time and cycle placeholders.
    QString ExpandExecPlaceHolders(const QString &ACommand, const QString &AStatus) const;
    // The progress window while a program runs (lock status 2: its Cancel
    // stops the wait; the run controller sets it back to 0).
    void ShowExtProgPrompt(const QString &AHint, const QString &APrompt);
    // The label of the volume holding the first source entry; empty when
    // there is none or it cannot be read.
    QString GetSourceVolumeName() const;
    // "Stop waiting" of the progress window (IRunControl::StopWaiting):
    // the wait for the running program ends as a time-out.
    void StopExternalProgramWait();
    // Set by StopExternalProgramWait during the current program's wait.
    std::atomic<bool> ExtProgWaitStopped{false};
    // -- end: further external-program members --

    // ---- A run from its task file to its result ----
    // Set by the caller before a run: what the command line and the main
    // window ask of it.
    bool DoBackup = false;
    QString CmdZip;  // zip name given on the command line (empty: none)
    int SpecMode = 0; // command-line mode: 0 none, 1 full, 2 differential, 3 incremental
    QString BuDir;   // backup subfolder given on the command line
    int BuAction = 0; // preset subsequent action: 0 none, 1 shut down, 2 log off, 3 standby, 4 hibernate
    // The task window is shown (a run from the editor); false for every
    // unattended start.
    bool Visible = false;
    // Raises the window the user worked in before the run (set by the
    // view; LastAppToFront calls it).
    std::function<void()> OnLastAppToFront;
    // Command-channel encoding of the FTP connection of the last run.
    QString LastFtpEncoding;

    // Entry points (RunEntry.cpp). Nr: the schedule entry (1..16) that
    // started the job, 0 or less for any other start.
    TBuResult DoBackupJob(int Nr, TInteraction InterAct, TThreadPriority Priority, const QString &ATaskPath);
    QString GetLogDestination() const;
    static bool ExtActive(int PreFlags, int PostFlags);
    void PhZipBtnClick();
    QString MakeZipName(const QString &zs) const;
    void LastAppToFront();
    // The text under which a command goes to log and mail (AStatus < -1:
    // unexpanded; -1: "%status%" empty).
    QString CommandLineForLog(const QString &ACommand, int AStatus) const;
    // Log display (LogView.cpp).
    bool ShowProt(const QString &LogName, bool AllowEdit);
    void ProtView(bool CheckMode, bool AllowEdit);

    // The run controller (RunController.cpp). Everything one run keeps
    // between its phases is in TRunContext (backup/RunContext.h).
    struct TRunContext;
    TBuResult RunBackup(int Nr, const QString &ATaskPath, TInteraction IaMode);
    // The schedule entry that started the run; nullptr for other starts.
    static TAutoTask *ScheduleEntry(int Nr);
    // -- begin: further run-controller members --
    // A task file that cannot be run: the default log (level 1) with its
    // header and the start line of the job.
    void OpenJobErrorLog(int Nr, const QString &ATaskPath, TInteraction InterAct);
    // A line a headless service answered, as the task log shows it.
    static QString ServiceLogLine(const QString &ALine) { return QStringLiteral("  --> ") + ALine; }
    // Inside a catch block: the text of the exception being handled (the
    // system's text for an error code, else its message).
    static QString CurrentExceptionText();
    // The phases of RunBackup up to the clean-up; step: the last phase
    // begun (the status page of an unexpected error needs step 8).
    void RunPhases(TRunContext &R, int &AStep);
    void HandleUnexpectedRunError(TRunContext &R, const QString &AText, bool AShowStatus);
    void CleanUpRun(TRunContext &R);
    // -- end: further run-controller members --

    // Start-up phases (RunStartup.cpp), in the order the controller calls
    // them.
    // "Automatic backup %u: <name>", "Backup task: <relative path>" or
    // "New backup task".
    QString RunDescription(int Nr, const QString &ATaskPath) const;
    // Fixed or asked password into ActPwd; false when the run ends (the
    // question was cancelled or refused).
    bool GetRunPassword(TRunContext &R);
    // Encrypt and Encryption from ActPwd.
    void SetUpRunEncryption(TRunContext &R);
    // Backup mode, mode name, mode letter and cycle flags; extends the run
    // description by the letter.
    void SetRunMode(TRunContext &R);
    // Mail body start, start line, header lines and the summaries.
    void WriteRunHeader(TRunContext &R);
    // The command line's time slot; sets R.Abort when cancelled or invalid.
    void CheckCmdTimeSlot(TRunContext &R);
    void ShowRunProgress(TRunContext &R);
    // BaseDest from the destination text.
    void ExpandRunDestination(TRunContext &R);
    // The program before the backup; may set R.Abort and R.ExtProgFailed.
    void RunProgramBefore(TRunContext &R);
    void CreateRunShadowCopy(TRunContext &R);
    // Resets the run counters and shows the total amount.
    void ShowRunTotal(TRunContext &R);
    // The encryption password dialog of an unattended start.
    bool EnterRunCryptPassword(const QString &ATitle, const QString &APrompt, QByteArray &APwd, int AMinLen);
    // -- begin: further start-up members --
    // -- end: further start-up members --

    // Destination set-up, cycle folder and certificate question
    // (RunDestination.cpp, CycleFolder.cpp).
    // Sets R.DestReady (and, when not ready, exit code 2, the failure
    // lines and the status text).
    void SetUpRunDestination(TRunContext &R);
    // The client's certificate question (answered through the question
    // service; unattended: No).
    bool ConfirmFtpCertificate(const TCerticateInfo &ACertInfo);
    // BaseDir, cycle folder, archive-bit switches, the backup-mode line and
    // the last full backup time.
    void SetUpCycleFolder(TRunContext &R);
    // -- begin: further run-destination members --
    void SetUpFtpDestination(TRunContext &R);
    void SetUpLocalDestination(TRunContext &R);
    // A password question of the FTP set-up; on Cancel the reason goes to
    // the log and the status text.
    bool AskFtpPassword(TRunContext &R, const QString &AText, QByteArray &APwd);
    // Retry/Cancel until the medium of APath can be read; true when it can.
    bool WaitForMedium(const QString &APath);
    // The drive of APath for messages (APath itself when it has none yet).
    static QString DestinationDriveText(const QString &APath);
    // "BD"/"BW" + step (2 digits, 3 from 100 steps on) + "F"/"D"/"I" for
    // an alternating schedule.
    static QString CycleFolderName(const TSchedule &ASched, bool AMFull, bool ABDiff);
    // "day 3", a weekday name, "2. Tuesday" or "week 4".
    static QString CycleStepText(const TSchedule &ASched);
    // Archive-bit options and clearing for the command line's mode 1..3.
    void ApplySpecialMode(int ASpecMode);
    // The same for a full, differential or incremental step of a cycle.
    void ApplyCycleStep(bool AMFull, bool ABDiff);
    // The second backup-mode line (selection by archive bit); may be empty.
    QString ArchiveBitLine() const;
    // -- end: further run-destination members --

    // Source entry loop and zip archives of methods 4 and 5
    // (RunSources.cpp, RunZip.cpp).
    // The loop over SelectedDirBox, then the error summary.
    void BackupSourceEntries(TRunContext &R);
    // The synchronisation step of an FTP destination for the current entry
    // (ASource: its directory; ADest: the displayed destination).
    bool SynchronizeFtp(TExtensionList &AList, const QString &ASource, const QString &ADest);
    // Completion of the method 4 archive after the loop.
    void FinishRunArchive(TRunContext &R);
    // -- begin: further source-loop members --
    // The run was cancelled, or stopped by a full volume or a lost link.
    bool RunCancelled() const { return BuStatus != TBuStatus::bsOK; }
    // The archive of the current entry (methods 4 and 5, RunZip.cpp):
    // names, writer and progress. APath: the resolved source (P), ADrive its
    // drive (V), ARelPath P below the drive (R). False when the writer
    // could not be created (the source loop ends).
    bool SetUpEntryArchive(TRunContext &R, const QString &APath, const QString &ADrive, const QString &ARelPath);
    // Name of the method 5 archive of an entry.
    QString EntryArchiveName(const QString &ADrive, const QString &ARelPath) const;
    // Writes, verifies and puts in place (or uploads) the entry's method 5
    // archive; commits the entry's copies only when it is in place.
    void CompleteEntryArchive(TRunContext &R);
    // Forgets the queued archive-bit resets and source deletions: what they
    // wait for never reached the destination.
    void DropEntryCommits();
    // Reopens the FTP connection into ADir for an archive upload; false,
    // with the "Connection to FTP server failed" lines, when it fails.
    bool ReconnectForUpload(const QString &ADir);
    // -- end: further source-loop members --

    // Run completion (RunCompletion.cpp).
    // Time-stamp file, snapshot document and an empty destination.
    void FinishRunDestination(TRunContext &R);
    // From the end of the work to the result (R.Result).
    void CompleteRun(TRunContext &R);
    // -- begin: further completion members --
    // -- end: further completion members --

    // Task setting checks (SettingChecks.cpp).
    bool CheckBeforeSave(const QString &AQuestion);
    bool CheckTaskSettings();
    bool ConfirmDestructiveOptions(QPoint APos, const QString &AText);
    bool CheckSourcesForDestMode(const QString &APath, const QString &AVolName, int AExcept);
    bool HasDuplicateLastDirNames() const;
    bool DestinationIsSourceRoot() const;
    int IndexOfNestedSource(const QString &APath, bool BothWays, int AExcept) const;
    int IndexOfOverlappingSource(const QString &APath, int AExcept) const
    {
        return IndexOfNestedSource(APath, true, AExcept);
    }
    // -- begin: further setting-check members --
    // The group box "File processing": the setting checks show their boxes
    // at its top-left corner, which a view stores in gbProcessPos (screen
    // coordinates); kDefaultPos centres them.
    TControlState gbProcess;
    QPoint gbProcessPos{-1, -1};
    // The FTP settings dialog for a backup task on its first page; true on
    // OK with FtpPar changed. A view sets it; without one the question is
    // answered as unattended (cancelled).
    std::function<bool(TFtpParams &AFtpPar)> OnEditFtpSettings;
    // -- end: further setting-check members --

private:
    std::unique_ptr<TLogWriter> fProt;
    std::unique_ptr<TLogWriter> fMail;
};

} // namespace vl
