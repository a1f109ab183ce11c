#include "store/samebookindex.h"

#include "store/booktable.h"
#include "store/connection.h"
#include "store/error.h"
#include "store/fileformat.h"
#include "store/like.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <utility>

namespace store {

namespace {

// Raised whenever the key or the tables change shape: an index of another
// format is rebuilt.
constexpr int kFormat = 1;
// A transaction that changes more books than this (an import) leaves the
// index stale rather than keep a list of every change: the next question
// rebuilds it in one pass.
constexpr std::size_t kMaxChanges = 10000;

std::atomic<int> g_rebuilds{0};

const QString &failure()
{
    static const QString what = QStringLiteral("同じ本の索引を更新できませんでした。");
    return what;
}

void run(const Connection &connection, const QString &sql)
{
    Prepared st(connection.prepare(sql));
    const int rc = sqlite3_step(st.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        connection.fail(failure());
}

// The change counter at offset 24 of the file's header, read through the
// engine's own handle of the file (a descriptor of our own would, once
// closed, drop the engine's locks). Only meaningful while the transaction
// holds the file's read lock, when no one else can commit. False when the
// file keeps a write-ahead log (bytes 18 and 19 say 2), whose writes do not
// raise the counter, or when the header cannot be read.
bool readCounter(sqlite3 *db, quint32 &counter)
{
    sqlite3_file *file = mainFileHandle(db);
    if (!file)
        return false;
    unsigned char h[28];
    if (file->pMethods->xRead(file, h, sizeof h, 0) != SQLITE_OK)
        return false;
    if (h[18] != 1 || h[19] != 1)
        return false;
    counter = quint32(h[24]) << 24 | quint32(h[25]) << 16 | quint32(h[26]) << 8 | quint32(h[27]);
    return true;
}

struct Inspection {
    SameBookIndex::State state;
    quint32 counter;
    bool sameFormat; // the tables are there, in this program's format
};

// Inside a transaction: reads whether the state table is there first, which
// takes the read lock if the transaction holds none yet, then the counter.
Inspection inspect(const Connection &connection)
{
    const QString what = QStringLiteral("データベースを読めません。");
    bool present = false;
    {
        Prepared st(connection.prepare(QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'bukurea_samebook_state'")));
        if (sqlite3_step(st.get()) != SQLITE_ROW)
            connection.fail(what);
        present = sqlite3_column_int(st.get(), 0) > 0;
    }
    Inspection result{SameBookIndex::State::Unprovable, 0, false};
    if (!readCounter(connection.handle(), result.counter))
        return result;
    result.state = SameBookIndex::State::Stale;
    if (!present)
        return result;
    Prepared st(connection.prepare(QStringLiteral("SELECT format, counter FROM bukurea_samebook_state")));
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_ROW) {
        result.sameFormat = sqlite3_column_int64(st.get(), 0) == kFormat;
        const bool atCounter = sqlite3_column_int64(st.get(), 1) == qint64(result.counter);
        // One state row, no more.
        if (sqlite3_step(st.get()) != SQLITE_DONE)
            result.sameFormat = false;
        else if (result.sameFormat && atCounter)
            result.state = SameBookIndex::State::Current;
    } else if (rc != SQLITE_DONE) {
        connection.fail(what);
    }
    return result;
}

// The key of a row's title and author as the engine hands them over; false
// for a row that no question can find (no row number, no title, or one
// that is empty once folded).
bool keyOf(sqlite3_value *rid, sqlite3_value *title, sqlite3_value *author, qint64 &key, qint64 &rowid)
{
    if (sqlite3_value_type(rid) == SQLITE_NULL || sqlite3_value_type(title) == SQLITE_NULL)
        return false;
    rowid = sqlite3_value_int64(rid);
    // Kept from row to row, so that a pass over the table allocates nothing.
    thread_local std::u32string t, a;
    const auto fold = [](sqlite3_value *v, std::u32string &out) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
        if (!text && sqlite3_value_type(v) != SQLITE_NULL)
            throw std::bad_alloc();
        out.clear();
        if (text)
            foldWithoutBlanks(text, std::size_t(sqlite3_value_bytes(v)), out);
    };
    fold(title, t);
    if (t.empty())
        return false;
    fold(author, a);
    key = SameBookIndex::key(t, a);
    return true;
}

// bukurea_samebook_key(title, author): a row's key, or NULL (see keyOf).
void keyFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    try {
        qint64 key, rowid;
        if (keyOf(argv[0], argv[0], argv[1], key, rowid))
            sqlite3_result_int64(ctx, key);
        else
            sqlite3_result_null(ctx);
    } catch (const std::bad_alloc &) {
        // No exception may pass through SQLite's own frames.
        sqlite3_result_error_nomem(ctx);
    }
}

} // namespace

qint64 SameBookIndex::key(const std::u32string &title, const std::u32string &author)
{
    // FNV-1a over the characters, the title and author apart: 32 bits, which
    // the file keeps in four bytes; a collision costs one more comparison.
    quint32 h = 2166136261u;
    const auto add = [&h](char32_t c) {
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (c >> shift) & 0xFF;
            h *= 16777619u;
        }
    };
    for (char32_t c : title)
        add(c);
    add(0x110000); // no character
    for (char32_t c : author)
        add(c);
    return qint32(h);
}

std::shared_ptr<SameBookIndex> SameBookIndex::install(const Connection &connection)
{
    std::shared_ptr<SameBookIndex> index(new SameBookIndex);
    sqlite3 *db = connection.handle();
    // The engine owns a reference for as long as the function may be
    // called, which can outlast the connection object.
    auto *held = new std::shared_ptr<SameBookIndex>(index);
    if (sqlite3_create_function_v2(db, "bukurea_samebook_note", 6, SQLITE_UTF8, held, note, nullptr, nullptr,
                                   [](void *p) { delete static_cast<std::shared_ptr<SameBookIndex> *>(p); })
            != SQLITE_OK
        || sqlite3_create_function_v2(db, "bukurea_samebook_key", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                      keyFunction, nullptr, nullptr, nullptr)
               != SQLITE_OK)
        return nullptr;
    // Temporary triggers: kept by this connection only, never written to
    // the file, so other programs need nothing of ours to write the table.
    const QString rid = connection.rowid();
    const QString title = u'[' + fieldNames()[1] + u']', author = u'[' + fieldNames()[2] + u']';
    const QString oldRow = QStringLiteral("OLD.%1, OLD.%2, OLD.%3").arg(rid, title, author);
    const QString newRow = QStringLiteral("NEW.%1, NEW.%2, NEW.%3").arg(rid, title, author);
    const QString none = QStringLiteral("NULL, NULL, NULL");
    const struct {
        const char *name, *event;
        QString args;
    } triggers[] = {{"insert", "INSERT", none + u',' + newRow},
                    {"update", "UPDATE", oldRow + u',' + newRow},
                    {"delete", "DELETE", oldRow + u',' + none}};
    for (const auto &t : triggers) {
        const QString sql = QStringLiteral("CREATE TEMP TRIGGER bukurea_samebook_%1 AFTER %2 ON main.%3 "
                                           "BEGIN SELECT bukurea_samebook_note(%4); END")
                                .arg(QLatin1String(t.name), QLatin1String(t.event), tableName(), t.args);
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return nullptr;
    }
    return index;
}

SameBookIndex::~SameBookIndex() = default;

SameBookIndex::State SameBookIndex::check(const Connection &connection) { return inspect(connection).state; }

int SameBookIndex::rebuildsSoFar() { return g_rebuilds; }

// bukurea_samebook_note(old rid, title, author, new rid, title, author):
// one row of the book table changed by this connection; NULLs for the row
// before an insert and after a deletion.
void SameBookIndex::note(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_result_null(ctx);
    SameBookIndex &self = **static_cast<std::shared_ptr<SameBookIndex> *>(sqlite3_user_data(ctx));
    if (self.m_mode != Mode::Current)
        return;
    ++self.m_firings;
    try {
        Change c{};
        c.hadOld = keyOf(argv[0], argv[1], argv[2], c.oldKey, c.oldRid);
        c.hasNew = keyOf(argv[3], argv[4], argv[5], c.newKey, c.newRid);
        if (c.hadOld == c.hasNew && (!c.hadOld || (c.oldKey == c.newKey && c.oldRid == c.newRid)))
            return;
        if (self.m_changes.size() == kMaxChanges) {
            self.m_mode = Mode::Stale;
            self.m_changes.clear();
            return;
        }
        self.m_changes.push_back(c);
    } catch (const std::bad_alloc &) {
        // The change cannot be kept: the index is left to go stale.
        self.m_mode = Mode::Stale;
        self.m_changes.clear();
    }
}

void SameBookIndex::writeBegun(const Connection &connection) noexcept
{
    m_changes.clear();
    m_mode = Mode::Stale;
    m_provable = false;
    m_sameFormat = false;
    m_firings = 0;
    m_rowsBefore = sqlite3_total_changes64(connection.handle());
    try {
        const Inspection i = inspect(connection);
        m_counter = i.counter;
        m_provable = i.state != State::Unprovable;
        m_sameFormat = i.sameFormat;
        if (i.state == State::Current)
            m_mode = Mode::Current;
    } catch (...) {
        // Unreadable now: the index is not kept, and the write will meet
        // the same trouble.
    }
}

void SameBookIndex::writeCommitting(const Connection &connection) noexcept
{
    if (m_mode != Mode::Current)
        return;
    // Every row the transaction changed went through the triggers, or some
    // went past them (the table made anew by another program, with our
    // triggers gone with the old one): then the index is left stale.
    if (sqlite3_total_changes64(connection.handle()) - m_rowsBefore != m_firings)
        return;
    try {
        Prepared remove(connection.prepare(QStringLiteral("DELETE FROM bukurea_samebook WHERE key = ?1 AND rid = ?2")));
        Prepared add(
            connection.prepare(QStringLiteral("INSERT OR IGNORE INTO bukurea_samebook (key, rid) VALUES (?1, ?2)")));
        const auto step = [&](sqlite3_stmt *st, qint64 key, qint64 rid) {
            sqlite3_bind_int64(st, 1, key);
            sqlite3_bind_int64(st, 2, rid);
            if (sqlite3_step(st) != SQLITE_DONE)
                connection.fail(failure());
            sqlite3_reset(st);
        };
        for (const Change &c : m_changes) {
            if (c.hadOld)
                step(remove.get(), c.oldKey, c.oldRid);
            if (c.hasNew)
                step(add.get(), c.newKey, c.newRid);
        }
        // The commit raises the counter by one from where it stood when
        // the transaction began: the index is current at that number.
        Prepared state(
            connection.prepare(QStringLiteral("UPDATE bukurea_samebook_state SET format = ?1, counter = ?2")));
        sqlite3_bind_int(state.get(), 1, kFormat);
        sqlite3_bind_int64(state.get(), 2, qint64(quint32(m_counter + 1)));
        if (sqlite3_step(state.get()) != SQLITE_DONE)
            connection.fail(failure());
    } catch (...) {
        // The state keeps the counter of before, which the commit passes:
        // the index is stale, and the next question rebuilds it.
    }
}

void SameBookIndex::writeEnded() noexcept
{
    m_mode = Mode::Idle;
    m_changes.clear();
    m_changes.shrink_to_fit();
}

void SameBookIndex::rebuild(const Connection &connection)
{
    // Without the counter of the transaction's start nothing can prove the
    // index current once it is written.
    if (m_mode == Mode::Idle || !m_provable)
        throw Error(failure());
    const QStringList &f = fieldNames();
    if (!m_sameFormat) {
        const QString statements[] = {
            QStringLiteral("DROP TABLE IF EXISTS bukurea_samebook"),
            QStringLiteral("DROP TABLE IF EXISTS bukurea_samebook_state"),
            QStringLiteral("CREATE TABLE bukurea_samebook (key INTEGER NOT NULL, rid INTEGER NOT NULL, "
                           "PRIMARY KEY (key, rid)) WITHOUT ROWID"),
            QStringLiteral("CREATE TABLE bukurea_samebook_state (format INTEGER NOT NULL, counter INTEGER NOT NULL)"),
            QStringLiteral("INSERT INTO bukurea_samebook_state VALUES (0, 0)"),
            // In key order, so that the index is written from front to back.
            QStringLiteral("INSERT INTO bukurea_samebook (key, rid) SELECT k, r FROM (SELECT "
                           "bukurea_samebook_key([%1], [%2]) AS k, %3 AS r FROM %4 WHERE [%1] IS NOT NULL) "
                           "WHERE k IS NOT NULL ORDER BY k, r")
                .arg(f[1], f[2], connection.rowid(), tableName()),
        };
        for (const QString &sql : statements)
            run(connection, sql);
    } else {
        // The index of the right shape, only behind: every book's key is
        // worked out again (one pass over the table), and only the entries
        // that differ are written, so that a book another program added
        // costs one entry, not the whole index.
        using Entry = std::pair<qint64, qint64>;
        std::vector<Entry> wanted, gone, missing;
        const auto read = [&](const QString &sql, const std::function<void(const Entry &)> &take) {
            Prepared st(connection.prepare(sql));
            int rc;
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
                if (sqlite3_column_type(st.get(), 0) != SQLITE_NULL)
                    take({sqlite3_column_int64(st.get(), 0), sqlite3_column_int64(st.get(), 1)});
            }
            if (rc != SQLITE_DONE)
                connection.fail(failure());
        };
        read(QStringLiteral("SELECT bukurea_samebook_key([%1], [%2]), %3 FROM %4 WHERE [%1] IS NOT NULL")
                 .arg(f[1], f[2], connection.rowid(), tableName()),
             [&](const Entry &e) { wanted.push_back(e); });
        std::sort(wanted.begin(), wanted.end());
        auto next = wanted.cbegin();
        read(QStringLiteral("SELECT key, rid FROM bukurea_samebook ORDER BY key, rid"), [&](const Entry &e) {
            while (next != wanted.cend() && *next < e)
                missing.push_back(*next++);
            if (next != wanted.cend() && *next == e)
                ++next;
            else
                gone.push_back(e);
        });
        missing.insert(missing.end(), next, wanted.cend());
        for (const auto &[sql, entries] :
             {std::pair{QStringLiteral("DELETE FROM bukurea_samebook WHERE key = ?1 AND rid = ?2"), &gone},
              std::pair{QStringLiteral("INSERT OR IGNORE INTO bukurea_samebook (key, rid) VALUES (?1, ?2)"),
                        &missing}}) {
            Prepared st(connection.prepare(sql));
            for (const Entry &e : *entries) {
                sqlite3_bind_int64(st.get(), 1, e.first);
                sqlite3_bind_int64(st.get(), 2, e.second);
                if (sqlite3_step(st.get()) != SQLITE_DONE)
                    connection.fail(failure());
                sqlite3_reset(st.get());
            }
        }
    }
    m_changes.clear();
    m_mode = Mode::Current;
    m_firings = 0;
    m_rowsBefore = sqlite3_total_changes64(connection.handle());
    ++g_rebuilds;
}

} // namespace store
