#pragma once

#include "store/error.h"

#include <QString>
#include <QStringList>
#include <functional>

// Conversion of a book collection that the Access (Jet) engine wrote into
// the store's own format, once, keeping the original.
//
// The Access file is read by the separate program bukurea-jet (see
// store/accessprotocol.h), run as a child process with a time limit: a file
// that makes the Jet library hang or crash costs the conversion, never the
// program. Its table `tabel` must hold the nine fields; every column is
// carried across in the old column order with the type its values need:
//   Byte, Integer, Long, Yes/No        INTEGER (Yes is 1)
//   Single, Double                     REAL, the same binary value
//   Currency, Decimal                  TEXT, the exact decimal digits
//                                      (Currency with its four decimals)
//   Text, Memo                         TEXT
//   Date/Time                          TEXT, "YYYY-MM-DDTHH:MM:SS[.mmm]"
//   anything else                      BLOB, the stored bytes
// NULL stays NULL, "" stays "", the rows keep the old table's order.
namespace store {

// A conversion that failed. message() is the user-facing text (what
// failed, the file, why); file() and reason() are its parts, for a command
// line's one line per problem.
class ConversionError : public Error {
public:
    ConversionError(const QString &file, const QString &reason);
    const QString &file() const { return m_file; }
    const QString &reason() const { return m_reason; }

private:
    QString m_file;
    QString m_reason;
};

// The user stopped the conversion; nothing was changed.
class ConversionCancelled : public ConversionError {
public:
    explicit ConversionCancelled(const QString &file);
};

struct AccessConversionOptions {
    // The reader program and the arguments before the file; empty: the
    // bukurea-jet beside the running program.
    QString readerProgram;
    QStringList readerArguments;
    // The reader is stopped when it sends nothing for this long.
    int stallTimeoutMs = 20000;
    // The reader is stopped when the whole reading takes longer than this,
    // however steadily it sends rows; 0: defaultTimeLimitMs() of the file.
    qint64 timeLimitMs = 0;
    // Asked while the reader works; true stops it, and the conversion ends
    // with ConversionCancelled, leaving every file as it was.
    std::function<bool()> cancelled;
    // Told the rows done and the rows expected, every few rows and at least
    // every tenth of a second while the reader works (a window can process
    // its events here). `total` is the old table's own count.
    std::function<void(qint64 done, qint64 total)> progress;
    // Where the reader's own diagnostics go (lines in English, for a
    // developer, never for the user); empty: standard error.
    std::function<void(const QByteArray &text)> log;

    // Tests: called after each step of replacing a file in place.
    enum class Step { NewFileWritten, OriginalKept, Replaced };
    std::function<void(Step)> afterStep;
};

// Converts the Access file `source` into a new book database `target`.
// `target` must not exist and is never overwritten: the database is
// written to a temporary file in its folder, synced, and then given its
// name. On failure nothing is left behind. Throws ConversionError.
void convertAccessFile(const QString &source, const QString &target, const AccessConversionOptions &options = {});

// Converts the Access file at `path` in place. The new database is
// written to a temporary file in the same folder and synced; the original
// is copied to keptOriginalPath(path) and synced; only then is the new file
// renamed over `path`. Killed at any moment, `path` is either the old file
// or the complete new one; on failure it is unchanged and nothing is left
// behind. Returns the path of the kept original. Throws ConversionError.
QString convertAccessFileInPlace(const QString &path, const AccessConversionOptions &options = {});

// The time a reader is given for a file of `bytes`: two minutes, and ten
// seconds more per MiB (a million books, about 200 MiB, get some 35
// minutes, many times what reading them takes).
qint64 defaultTimeLimitMs(qint64 bytes);

// Tests: the reader run when the options name none (a slow or failing one
// in place of bukurea-jet); an empty program restores bukurea-jet.
void setDefaultReader(const QString &program, const QStringList &arguments = {});

// Where convertAccessFileInPlace keeps the original: path + ".access", or,
// when that exists, ".access.1", ".access.2" and so on; never an existing
// file.
QString keptOriginalPath(const QString &path);

} // namespace store
