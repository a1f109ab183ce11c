#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

// The desktop shell: opens documents with the program the user's desktop
// associates with them. Tests replace the opener.
namespace screens::shell {

// Asks the shell to open `file` of `directory` and returns at once. A
// missing file or a desktop without a viewer shows nothing and changes
// nothing.
void open(QWidget *window, const QString &file, const QString &directory);

using Opener = std::function<bool(const QUrl &)>;
void setOpener(Opener opener); // an empty function restores the desktop's

// Opens the help document "index.htm": the one of the application
// directory, or the one installed with the program.
void openHelp(QWidget *window);

} // namespace screens::shell
