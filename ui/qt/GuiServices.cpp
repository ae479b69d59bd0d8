#include "ui/qt/GuiServices.h"

#include "core/MessageService.h"
#include "core/PasswordService.h"
#include "core/WindowServices.h"
#include "platform/Display.h"
#include "ui/ListDialogViews.h"
#include "ui/WindowMemory.h"
#include "ui/InputDialogViews.h"
#include "ui/ValueDialogViews.h"
#include "ui/DirDialogViews.h"
#include "ui/qt/ChoiceDialogs.h"
#include "ui/qt/DirDialogViews.h"
#include "ui/qt/InputDialogs.h"
#include "ui/qt/ValueDialogViews.h"
#include "ui/qt/MessageDialogs.h"
#include "ui/qt/PasswordDialogs.h"
#include "ui/qt/ProgressView.h"
#include "ui/qt/QtMainWindowServices.h"
#include "ui/qt/QtStyles.h"
#include "ui/qt/StatusView.h"
#include "ui/qt/TextViewer.h"
#include "ui/qt/WindowMemoryQt.h"

#include <QApplication>
#include <QCoreApplication>

namespace vl {

TProgramApplication::TProgramApplication(int &argc, char **argv, TGuiChoice AChoice)
{
    if (AChoice == TGuiChoice::gcHeadless)
        FHeadlessReason = QStringLiteral("started without a display");
    else
        FGui = DisplayAnswers(&FHeadlessReason);
    if (FGui) {
        FHeadlessReason.clear();
        FApp = std::make_unique<QApplication>(argc, argv);
        InstallGuiServices();
    } else {
        // Qt must not try a display of its own either.
        FApp = std::make_unique<QCoreApplication>(argc, argv);
    }
}

TProgramApplication::~TProgramApplication()
{
    if (FGui)
        RemoveGuiServices();
}

void TProgramApplication::InstallGuiServices()
{
    FStyles = std::make_unique<TQtStyleManager>();
    InstallStyleManager(FStyles.get());
    FMainWindow = std::make_unique<TQtMainWindowServices>();
    vl::SetMainWindowServices(FMainWindow.get());
    FMessages = CreateQtMessageService();
    SetMessageService(FMessages.get());
    FPasswords = CreateQtPasswordService();
    SetPasswordService(FPasswords.get());
    FStatus = CreateQtStatusWindow();
    SetStatusWindow(FStatus.get());
    InstallQtTextViewer();
    FListDialogs = CreateQtListDialogViews();
    SetListDialogViews(FListDialogs.get());
    InstallQtHelpViewer();
    FInputDialogs = CreateQtInputDialogViews();
    SetInputDialogViews(FInputDialogs.get());
    FValueDialogs = CreateQtValueDialogViews();
    SetValueDialogViews(FValueDialogs.get());
    FDirDialogs = CreateQtDirDialogViews();
    SetDirDialogViews(FDirDialogs.get());
    // The progress window keeps the application title it finds now.
    FProgress = CreateQtProgressWindow();
    SetProgressWindow(FProgress.get());
}

void TProgramApplication::RemoveGuiServices()
{
    SetProgressWindow(nullptr);
    SetDirDialogViews(nullptr);
    SetValueDialogViews(nullptr);
    SetInputDialogViews(nullptr);
    SetHelpOpener(nullptr);
    SetListDialogViews(nullptr);
    RemoveQtTextViewer();
    SetStatusWindow(nullptr);
    SetPasswordService(nullptr);
    SetMessageService(nullptr);
    vl::SetMainWindowServices(nullptr);
    InstallStyleManager(nullptr);
}

} // namespace vl
