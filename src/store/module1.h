#pragma once

#include "store/places.h"
#include "store/recordsource.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

// The application-wide state: the database path and the list screen's last
// search. Nothing else is kept between screens.
namespace store {

// The directory of the executable (never the working directory). Throws
// store::Error when the directory's name cannot be read as text, so that no
// file is ever looked for or written anywhere else.
QString applicationDirectory();
// Lets tests run the screens on a directory of their own.
void setApplicationDirectory(const QString &directory);
// Lets tests run the program in an environment of their own (HOME,
// XDG_DATA_HOME...); an empty one restores the system's.
void setEnvironment(const QProcessEnvironment &environment);
// The running executable's path as the system's own bytes (links
// followed), whatever its encoding.
QByteArray executablePath();
// The directory of an executable named by the bytes the system gives for
// it; throws store::Error when they are not valid UTF-8, the encoding of
// file names.
QString directoryOf(const QByteArray &executablePath);

// Where the collection, the export, the help page and the Access reader
// are (see store/places.h): decided on the first call, at start-up, from
// the application directory and the environment, and kept. Throws
// store::Error like applicationDirectory(), or when an installed program
// has no home folder.
const store::Places &places();
// The Access reader bukurea-jet: installed with the program, or beside the
// running executable (tests move the collection's folder, never the
// program). Never throws.
QString readerProgram();

// Sets the database path to the data folder + "/BR.mdb": the application
// directory, or for an installed program the user's data folder. Throws
// like places().
void computeDatabasePath();
QString &databasePath();

// The latest field search of the list screen.
store::RecordSource &lastSearch();

} // namespace store
