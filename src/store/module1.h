#pragma once

#include <QString>

// The application-wide state: the database path and the list screen's last
// search statement. Nothing else is kept between screens.
namespace Module1 {

// The directory of the executable (never the working directory).
QString applicationDirectory();
// Lets tests run the screens on a directory of their own.
void setApplicationDirectory(const QString &directory);

// Sets the database path to the application directory + "/BR.mdb".
void computeDatabasePath();
QString &databasePath();

// The latest field search of the list screen.
QString &lastSearch();

} // namespace Module1
