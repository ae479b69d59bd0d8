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

#include "backup/BackupTypes.h"
#include "backup/MailSettings.h"
#include "core/NetShares.h"
#include "core/Settings.h"
#include "engine/ExtFileTools.h"
#include "engine/FtpUtils.h"
#include "ui/ControlState.h"
#include "ui/ExternalProgramsDialog.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

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
    // -- end: further engine members --

    // ---- Copy supervision (CopySupervision.cpp) ----
    // -- begin: further supervision members --
    // -- end: further supervision members --

    // ---- FTP side (BackupFtp.cpp, FtpSync.cpp) ----
    // -- begin: further FTP members --
    // -- end: further FTP members --

    // ---- Synchronisation, clearing, old security folders (Synchronize.cpp, ClearDest.cpp, OldSecDirs.cpp) ----
    // -- begin: further sync members --
    // -- end: further sync members --

    // ---- Run status lines and mail report (RunStatus.cpp, MailReport.cpp) ----
    // -- begin: further report members --
    // -- end: further report members --

    // ---- External programs (ExternalPrograms.cpp) ----
    // -- begin: further external-program members --
    // -- end: further external-program members --

private:
    std::unique_ptr<TLogWriter> fProt;
    std::unique_ptr<TLogWriter> fMail;
};

} // namespace vl
