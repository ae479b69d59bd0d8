#include "ui/qt/DirDialogViews.h"

#include "ui/qt/DirectoryDialogView.h"

namespace vl {

namespace {

class TQtDirDialogViews : public IDirDialogViews {
public:
    void ExecuteShellDirDialog(TShellDirDialog &ADialog) override
    {
        TShellDirDialogView view(ADialog);
        view.Execute();
    }
    void ExecuteShowFiles(TShowFilesDialog &ADialog) override
    {
        TShowFilesDialogView view(ADialog);
        view.Run();
    }
};

} // namespace

std::unique_ptr<IDirDialogViews> CreateQtDirDialogViews()
{
    return std::make_unique<TQtDirDialogViews>();
}

} // namespace vl
