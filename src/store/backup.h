#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

namespace store {

// Dated backups of a collection file: complete copies of it in the folder
// "backup" beside it, named after the local time they were made
// ("BR-20240131-093005.mdb" for BR.mdb). A copy is written under a temporary
// name, synced, and only then given its name, so a file that carries a
// backup's name is always complete. The newest ones are kept (ten by
// default); older ones are removed once a new one is complete.
//
// Every failure throws store::Error with a message of three lines: what
// failed, the file or folder concerned, and the cause in brackets.
class Backups {
public:
    struct Options {
        // The local time; the clock set by setClock(), or the system's, when empty.
        std::function<QDateTime()> now;
        // How long a file in use by another program is waited for.
        int busyWaitMs = 2000;
        // How many backups are kept.
        int kept = 10;
    };

    explicit Backups(const QString &databasePath);
    Backups(const QString &databasePath, Options options);

    QString folder() const;
    // Every backup of the collection, oldest first (full paths).
    QStringList files() const;
    // True while no backup of today's date exists yet.
    bool dueToday() const;

    // How a backup was copied: the file's bytes under SQLite's read lock
    // (a collection in rollback-journal mode), SQLite's online backup (in
    // WAL mode, or where the bytes could not be taken), or as it is (a
    // file that is no collection SQLite can read).
    enum class Copy { None, FileBytes, OnlineBackup, AsIs };

    // Makes a backup now and returns its path.
    QString make();
    // Makes a backup when one is due today; returns its path, or an empty
    // string when today's backup already exists.
    QString makeIfDue();

    // Replaces the collection with a copy of `file`, once that copy has
    // passed checkCollection(): first the current collection is backed up
    // (when there is one), then the copy is renamed over it. On any
    // failure the collection file stays exactly as it was. Returns the path
    // of the backup made, or an empty string when there was no collection.
    QString restore(const QString &file);

    // Replaces the system clock for every Backups without a clock of its own
    // (tests); an empty function restores it.
    static void setClock(std::function<QDateTime()> clock);
    // How the last backup made here was copied; None before the first.
    Copy lastCopy() const { return m_lastCopy; }

private:
    QDateTime now() const;
    QString nameFor(const QDateTime &time) const;
    // Makes a backup; `spared` is never removed to keep the number.
    QString makeSparing(const QString &spared);
    void prune(const QString &made, const QString &spared) const;

    QString m_databasePath;
    Options m_options;
    Copy m_lastCopy = Copy::None;
};

// Checks that `file` is a collection this program can open: an SQLite
// database whose integrity check passes, holding the table tabel with its
// nine fields. Throws store::Error naming `shownAs` and the reason.
void checkCollection(const QString &file, const QString &shownAs);

} // namespace store
