#include "ui/FilesDialog.h"

#include "core/Format.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Translate.h"
#include "ui/DirDialogViews.h"

#include <algorithm>

namespace vl {

TShowFilesDialog::TShowFilesDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Show files"));
    btnDirUp.SetHint(TrDomain(kDialogsDomain, "One directory up"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "Close"));
    SetColumnWidths(32, 12, 13, 18);
    Position = kDefaultPos;

    lvFiles.OnOpen = [this](TControlState &) { FolderOpened(); };
    btnDirUp.OnClick = [this](TControlState &) { DirUpClick(); };
    OKBtn.OnClick = [this](TControlState &) { CloseModal(mrOk); };
}

bool TShowFilesDialog::Prepare(const QString &ATitle, const QString &Dir)
{
    Form.SetCaption(ATitle.isEmpty() ? TrDomain(kDialogsDomain, "Show files") : ATitle);
    if (!FolderExists(Dir)) {
        ShowErrorBox(GuardedFormat(TrDomain(kDialogsDomain, "Directory not found:\r\n%s!"), Dir), 0);
        return false;
    }
    const QString local = LocalFolderOf(Dir);
    FRootName = WithTrailingDelimiter(local);
    pnTop.SetCaption(Dir);
    lvFiles.SetFolder(local);
    lvFiles.SetHint(TrDomain(kDialogsDomain, "Directory:") + QLatin1Char(' ') + Dir);
    btnDirUp.SetEnabled(false);
    return true;
}

void TShowFilesDialog::Show(const QString &ATitle, const QString &Dir)
{
    if (Prepare(ATitle, Dir))
        DirDialogViews().ExecuteShowFiles(*this);
}

bool TShowFilesDialog::AwayFromRoot() const
{
    return WithTrailingDelimiter(lvFiles.Folder()).compare(FRootName, Qt::CaseInsensitive) != 0;
}

void TShowFilesDialog::FolderOpened()
{
    pnTop.SetCaption(lvFiles.Folder());
    btnDirUp.SetEnabled(AwayFromRoot());
}

void TShowFilesDialog::DirUpClick()
{
    // Never above the start directory, whatever the list shows.
    const QString folder = lvFiles.Folder();
    if (AwayFromRoot() && IsPathWithin(folder, FolderPath(FRootName)))
        ShowFolder(ParentDirectory(folder));
    btnDirUp.SetEnabled(AwayFromRoot());
}

void TShowFilesDialog::ShowFolder(const QString &AFolder)
{
    lvFiles.SetFolder(AFolder);
    pnTop.SetCaption(lvFiles.Folder());
    lvFiles.SetHint(TrDomain(kDialogsDomain, "Directory:") + QLatin1Char(' ') + lvFiles.Folder());
}

void TShowFilesDialog::SetColumnWidths(int AName, int ASize, int AType, int ADate)
{
    lvFiles.SetColumnWidths({AName, ASize, AType, ADate});
}

int TShowFilesDialog::NameColumnWidth(int AClientWidth)
{
    // (w - 272 1/3) * 75 / 475 = (3w - 817) / 19; a divisor of 19 never
    // leaves a half, so rounding to nearest needs no tie rule.
    const int64_t n = 3 * int64_t(AClientWidth) - 817;
    const int64_t q = n >= 0 ? (2 * n + 19) / 38 : -((-2 * n + 19) / 38);
    return int(std::max<int64_t>(q, 1));
}

void TShowFilesDialog::FormResize(int AClientWidth)
{
    QList<int> widths = lvFiles.ColumnWidths();
    if (widths.isEmpty())
        return;
    widths[0] = NameColumnWidth(AClientWidth);
    lvFiles.SetColumnWidths(widths);
}

void ShowDirectoryFiles(const QString &ATitle, const QString &Dir)
{
    TShowFilesDialog dialog;
    dialog.Show(ATitle, Dir);
}

} // namespace vl
