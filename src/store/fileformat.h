#pragma once

#include <QString>

struct sqlite3;
struct sqlite3_file;

namespace store {

// What a collection file is, told from its first bytes before any engine
// opens it.
enum class FileFormat {
    Unreadable, // missing, not a regular file, or cannot be read
    Empty,      // zero bytes
    Sqlite,     // "SQLite format 3"
    Jet3,       // Access 97 ("Standard Jet DB", version byte 0)
    Jet4,       // Access 2000 and later ("Standard Jet DB" / "Standard ACE DB", version byte >= 1)
    Other,
};

FileFormat detectFileFormat(const QString &path);

// SQLite's own open handle of a connection's main file, for reading its bytes
// without a descriptor of our own (closing one would drop SQLite's locks on
// the file); null when the connection has none.
sqlite3_file *mainFileHandle(sqlite3 *db);

inline bool isAccessFormat(FileFormat f) { return f == FileFormat::Jet3 || f == FileFormat::Jet4; }

} // namespace store
