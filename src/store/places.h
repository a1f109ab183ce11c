#pragma once

#include <QProcessEnvironment>
#include <QString>

// Where the program's files are: beside the executable, or, for a program
// installed into the system, in the user's own folders.
//
// Portable: the executable's folder holds BR.mdb, or it is any folder that
// is not a system prefix's bin. Everything lies in that folder, as it always
// did, and the program never creates BR.mdb there.
//
// Installed: the executable lies in PREFIX/bin, PREFIX being /usr,
// /usr/local or a folder under /opt, and there is no BR.mdb beside it. The
// collection and its backups live in $XDG_DATA_HOME/bukurea (by default
// ~/.local/share/bukurea), the exported workbook goes to the user's
// documents folder, where people look for files they open themselves, and
// the help page and the Access reader come from PREFIX/share/bukurea and
// PREFIX/lib/bukurea.
namespace store {

enum class Mode { Portable, Installed };

struct Places {
    Mode mode = Mode::Portable;
    QString dataDirectory;   // BR.mdb and backup/
    QString exportDirectory; // ブクレア.xls
    QString helpDirectory;   // index.htm
    QString readerDirectory; // bukurea-jet
};

// Decides the places for a program whose executable lies in
// `programDirectory`, given the environment it runs in (HOME,
// XDG_DATA_HOME, XDG_CONFIG_HOME and the documents folder named in
// user-dirs.dirs). Throws store::Error when an installed program has no
// home folder to keep the collection in.
Places decidePlaces(const QString &programDirectory, const QProcessEnvironment &environment);
// The same, told whether the folder holds BR.mdb instead of looking.
Places decidePlaces(const QString &programDirectory, bool holdsCollection, const QProcessEnvironment &environment);

// The first start of an installed program: when the data folder does not
// exist yet, makes it with an empty collection in it and returns true. The
// folder is built under a temporary name and given its name only once the
// collection in it is complete, so an existing data folder always had its
// BR.mdb: one missing later was removed by someone, and is reported as any
// missing file is, never made again. Returns false, touching nothing, in
// portable mode or when the folder exists. Throws store::Error.
bool makeFirstDataFolder(const Places &places);

// Writes an empty collection (the book table and nothing else) at `path`,
// where no file may be yet. Throws store::Error.
void createEmptyCollection(const QString &path);

} // namespace store
