#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// The file dialogs of the application (Qt's own, so that they speak the
// language of Qt's translation) go through here, so that tests can choose
// files instead of a user.
namespace screens {

struct FileRequest {
    QWidget *parent = nullptr;
    bool save = false;
    QString title;
    QString directory;    // where the dialog starts
    QString proposedName; // the file name offered (save)
    QStringList filters;  // "CSV (*.csv)"...; the first is selected
};

struct FileAnswer {
    QString path;
    int filter = 0; // the index of the filter selected
};

// Shows the dialog; nullopt when the user cancelled it.
std::optional<FileAnswer> askForFile(const FileRequest &request);

// Replaces the dialogs (tests); an empty function restores them.
using FileDialogHandler = std::function<std::optional<FileAnswer>(const FileRequest &)>;
void setFileDialogHandler(FileDialogHandler handler);

} // namespace screens
