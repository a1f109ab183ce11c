#pragma once

#include <QString>

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

inline bool isAccessFormat(FileFormat f) { return f == FileFormat::Jet3 || f == FileFormat::Jet4; }

} // namespace store
