// What the backup task needs of the main window and the program shell.
// The shell installs its implementation; until then (and in programs
// without a main window) a null one answers as a program started without
// switches would, and keeps the exit code in ProgExitCode.
#pragma once

#include "backup/AutoTask.h"
#include "core/Settings.h"

#include <QChar>
#include <QString>

#include <array>

namespace vl {

class TmMailer;

class IBuMainForm {
public:
    virtual ~IBuMainForm() = default;
    // Settings, tasks and logs are kept in the program folder.
    virtual bool IsPortable() const = 0;
    // Temporary files of failed copies are deleted (not "retain").
    virtual bool DelTemp() const = 0;
    // The task window does not bring the previously active window back.
    virtual bool DownTask() const = 0;
    virtual bool IsAdmin() const = 0;
    // The program's one mail sender; never null.
    virtual TmMailer &Mailer() = 0;
    // A printer is configured (enables printing logs after a run).
    virtual bool PrinterAvailable() const = 0;
    virtual TStatusStyle StatusStyle() const = 0;
    virtual void AddBackupTask(const QString &AFileName) = 0;
    // Shut down, log off, standby or hibernate for those results.
    virtual void PerformAction(TBuResult ABr) = 0;
    // Open dialog for a log file; false when none was chosen.
    virtual bool SelectLogFile(QString &AName) = 0;
    // Stores the program's exit code and the number of the failed task.
    virtual void SetExitCode(int AExitCode, int ATaskNr) = 0;
    virtual void SetProgressInfo(const QString &AAction, const QString &AName, int AProgress) = 0;
    virtual void ShowAutoBackups(int AIndex) = 0;
    virtual void ShowVersionInfo() = 0;
    virtual void StartIconAnimate(QChar AId) = 0;
    virtual void StopIconAnimate(bool AIsBackup) = 0;
    // Schedule entry AIndex (0..15, shown as 1..16); nullptr outside.
    virtual TAutoTask *AutoTask(int AIndex) = 0;
};

class TNullBuMainForm : public IBuMainForm {
public:
    TNullBuMainForm();
    ~TNullBuMainForm() override;
    bool IsPortable() const override { return false; }
    bool DelTemp() const override { return true; }
    bool DownTask() const override { return false; }
    bool IsAdmin() const override;
    TmMailer &Mailer() override;
    bool PrinterAvailable() const override { return false; }
    TStatusStyle StatusStyle() const override { return TStatusStyle::ssDefault; }
    void AddBackupTask(const QString &) override {}
    void PerformAction(TBuResult) override {}
    bool SelectLogFile(QString &) override { return false; }
    void SetExitCode(int AExitCode, int ATaskNr) override;
    void SetProgressInfo(const QString &, const QString &, int) override {}
    void ShowAutoBackups(int) override {}
    void ShowVersionInfo() override {}
    void StartIconAnimate(QChar) override {}
    void StopIconAnimate(bool) override {}
    TAutoTask *AutoTask(int AIndex) override
    {
        return AIndex >= 0 && AIndex < int(AutoTasks.size()) ? &AutoTasks[size_t(AIndex)] : nullptr;
    }
    int FailedTask() const { return FFailedTask; }
    // Unused entries until a caller (a test, a program without a main
    // window) fills them.
    std::array<TAutoTask, 16> AutoTasks;

private:
    TmMailer *FMailer = nullptr;
    int FFailedTask = 0;
};

// The installed main window (a TNullBuMainForm until one is installed);
// nullptr restores the null one. The caller keeps ownership.
IBuMainForm &BuMainForm();
void SetBuMainForm(IBuMainForm *AForm);

} // namespace vl
