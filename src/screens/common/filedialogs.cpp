#include "screens/common/filedialogs.h"

#include <QDir>
#include <QFileDialog>

namespace screens {

namespace {
FileDialogHandler g_handler;
}

void setFileDialogHandler(FileDialogHandler handler) { g_handler = std::move(handler); }

std::optional<FileAnswer> askForFile(const FileRequest &request)
{
    if (g_handler)
        return g_handler(request);
    QFileDialog dialog(request.parent, request.title, request.directory);
    // Qt's own dialog, translated with the rest of Qt, on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(request.filters);
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        if (!request.proposedName.isEmpty())
            dialog.selectFile(QDir(request.directory).filePath(request.proposedName));
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return FileAnswer{dialog.selectedFiles().constFirst(),
                      std::max<int>(0, int(request.filters.indexOf(dialog.selectedNameFilter())))};
}

} // namespace screens
