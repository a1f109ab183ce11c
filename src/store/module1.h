#pragma once

#include <QByteArray>
#include <QString>

// The application-wide state: the database path and the list screen's last
// search statement. Nothing else is kept between screens.
namespace Module1 {

// The directory of the executable (never the working directory). Throws
// store::Error when the directory's name cannot be read as text, so that no
// file is ever looked for or written anywhere else.
QString applicationDirectory();
// Lets tests run the screens on a directory of their own.
void setApplicationDirectory(const QString &directory);
// The directory of an executable named by the bytes the system gives for
// it; throws store::Error when they are not valid UTF-8, the encoding of
// file names.
QString directoryOf(const QByteArray &executablePath);

// Sets the database path to the application directory + "/BR.mdb"; throws
// like applicationDirectory().
void computeDatabasePath();
QString &databasePath();

// The latest field search of the list screen.
QString &lastSearch();

} // namespace Module1
