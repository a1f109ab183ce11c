#pragma once

#include <QStringList>

class QTextStream;

// The windowless commands that back up and restore the collection beside
// the program.
namespace app {

// bukurea --backup: makes a backup now and prints its path.
int backupCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);
// bukurea --restore FILE: puts a checked copy of FILE in place of the
// collection, after a backup of it, and prints the path of that backup.
int restoreCommand(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace app
