#include "ui/qt/ValueDialogViews.h"

#include "ui/qt/ExternalProgramsDialogView.h"
#include "ui/qt/FilterDialogView.h"
#include "ui/qt/LogonDialogView.h"
#include "ui/qt/TimeSlotDialogView.h"

#include <QDir>
#include <QFileDialog>

namespace vl {

QStringList QtNameFilters(const QString &AFilter)
{
    QStringList filters;
    const QStringList parts = AFilter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts[i + 1];
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + masks + QLatin1Char(')');
    }
    return filters;
}

namespace {

class TQtValueDialogViews : public IValueDialogViews {
public:
    void ExecuteTimeSlot(TTimeSlotDialog &ADialog) override
    {
        TTimeSlotDialogView view(ADialog);
        view.Run();
    }
    void ExecuteAddPrograms(TAddProgramsDialog &ADialog) override
    {
        TAddProgramsDialogView view(ADialog);
        view.Run();
    }
    void ExecuteLogon(TLogonDialog &ADialog) override
    {
        TLogonDialogView view(ADialog);
        view.Run();
    }
    void ExecuteFilter(TFilterDialog &ADialog) override
    {
        TFilterDialogView view(ADialog);
        view.Run();
    }
    bool OpenFile(const TOpenFileRequest &ARequest, QString &AFileName) override
    {
        QFileDialog dialog(nullptr, ARequest.Title, ARequest.InitialDir);
        dialog.setObjectName(QStringLiteral("OpenDialog"));
        // Our own dialog: the desktop's may ignore the executables filter.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::DontResolveSymlinks);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        const QStringList filters = QtNameFilters(ARequest.Filter);
        dialog.setNameFilters(filters);
        const auto apply = [&dialog, &ARequest, filters](const QString &AFilter) {
            QDir::Filters shown = QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDot;
            if (ARequest.ExecutablesFirst && !filters.isEmpty() && AFilter == filters.first())
                shown |= QDir::Executable;
            dialog.setFilter(shown);
        };
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, apply);
        if (ARequest.FilterIndex >= 1 && ARequest.FilterIndex <= filters.size()) {
            dialog.selectNameFilter(filters[ARequest.FilterIndex - 1]);
            apply(filters[ARequest.FilterIndex - 1]);
        } else if (!filters.isEmpty()) {
            apply(filters.first());
        }
        if (!ARequest.FileName.isEmpty())
            dialog.selectFile(ARequest.FileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        AFileName = dialog.selectedFiles().first();
        return true;
    }
};

} // namespace

std::unique_ptr<IValueDialogViews> CreateQtValueDialogViews()
{
    return std::make_unique<TQtValueDialogViews>();
}

} // namespace vl
