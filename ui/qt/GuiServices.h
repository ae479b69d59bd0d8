// The start of every Velkor program: probe the display, then either a
// QApplication with the Qt windows installed as the services of core, or a
// QCoreApplication with the headless services (cron, ssh, systemd units,
// CI, a stale DISPLAY). A program never aborts for want of a display.
#pragma once

#include <QString>

#include <memory>

class QCoreApplication;

namespace vl {

class IDirDialogViews;
class IInputDialogViews;
class IListDialogViews;
class IValueDialogViews;
class IMessageService;
class IPasswordService;
class IProgressWindow;
class IStatusWindow;
class TQtMainWindowServices;
class TQtStyleManager;

// How a program may start.
enum class TGuiChoice : uint8_t {
    gcAuto,     // Qt windows when the display answers
    gcHeadless, // never a display (the program was told to run unattended)
};

class TProgramApplication {
public:
    // argc and argv must outlive the application (Qt keeps them).
    TProgramApplication(int &argc, char **argv, TGuiChoice AChoice = TGuiChoice::gcAuto);
    // Removes the installed services and closes the windows before the
    // application goes.
    ~TProgramApplication();
    TProgramApplication(const TProgramApplication &) = delete;
    TProgramApplication &operator=(const TProgramApplication &) = delete;

    bool Gui() const { return FGui; }
    // Why the program runs headless (empty with a display).
    const QString &HeadlessReason() const { return FHeadlessReason; }
    QCoreApplication &App() { return *FApp; }
    // The Qt main-window services (nullptr headless): the program shell
    // sets its switches there.
    TQtMainWindowServices *MainWindowServices() { return FMainWindow.get(); }

private:
    void InstallGuiServices();
    void RemoveGuiServices();

    std::unique_ptr<QCoreApplication> FApp;
    bool FGui = false;
    QString FHeadlessReason;
    std::unique_ptr<TQtStyleManager> FStyles;
    std::unique_ptr<TQtMainWindowServices> FMainWindow;
    std::unique_ptr<IMessageService> FMessages;
    std::unique_ptr<IPasswordService> FPasswords;
    std::unique_ptr<IStatusWindow> FStatus;
    std::unique_ptr<IListDialogViews> FListDialogs;
    std::unique_ptr<IInputDialogViews> FInputDialogs;
    std::unique_ptr<IValueDialogViews> FValueDialogs;
    std::unique_ptr<IDirDialogViews> FDirDialogs;
    std::unique_ptr<IProgressWindow> FProgress;
};

} // namespace vl
