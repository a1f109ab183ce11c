#include "store/connection.h"

#include "store/fileformat.h"
#include "store/like.h"
#include "store/samebookindex.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <atomic>
#include <charconv>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

namespace store {

namespace {

QByteArray toUtf8(QStringView text)
{
    // Stateless: a lone surrogate at the end is written as U+FFFD too,
    // instead of being kept back for a next call that never comes.
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString fromUtf8(const char *bytes, qsizetype size)
{
    // A leading U+FEFF is a character of the text, not a byte order mark.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes, size));
}

QString valueText(sqlite3_value *v)
{
    return fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

// like(pattern, value): the store's LIKE, in place of SQLite's own. A NULL
// on either side never matches; numbers match as their decimal text. Two
// entry points, UTF-8 and UTF-16: SQLite calls the one in its database's
// own text encoding, so values reach the matcher without being converted.
template <bool Utf8> void likeFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    try {
        // The pattern is the same for every row of a statement: compile it
        // once and keep it with the statement. It is read from its UTF-8
        // bytes, the form the store binds it in, character for character.
        auto *pattern = static_cast<LikePattern *>(sqlite3_get_auxdata(ctx, 0));
        std::unique_ptr<LikePattern> fresh;
        if (!pattern) {
            if (!sqlite3_value_text(argv[0])) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            fresh = std::make_unique<LikePattern>(valueText(argv[0]));
            pattern = fresh.get();
        }
        sqlite3_value *value = argv[1];
        bool hit;
        if (sqlite3_value_type(value) == SQLITE_INTEGER) {
            // The decimal text SQLite would make, without converting the value.
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, sqlite3_value_int64(value)).ptr;
            hit = pattern->matchesUtf8(digits, std::size_t(end - digits));
        } else if constexpr (Utf8) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
            if (!text) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            hit = pattern->matchesUtf8(text, std::size_t(sqlite3_value_bytes(value)));
        } else {
            const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(value));
            if (!text) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
            hit = pattern->matches(QStringView(text, sqlite3_value_bytes16(value) / 2));
        }
        sqlite3_result_int(ctx, hit);
        if (fresh)
            sqlite3_set_auxdata(ctx, 0, fresh.release(), [](void *d) { delete static_cast<LikePattern *>(d); });
    } catch (const std::bad_alloc &) {
        // No exception may pass through SQLite's own frames.
        sqlite3_result_error_nomem(ctx);
    }
}

// rows_in_order(rowid): the number of rows, or -1 when their row numbers do
// not come in ascending order. A table scan always yields them ascending;
// a damaged page whose keys are out of order reads without any error of
// the engine's own, but would make a lookup by row number find other rows
// than a scan, so that positions would show other books.
struct InOrder {
    sqlite3_int64 last;
    sqlite3_int64 count;
    bool disorder;
};

void inOrderStep(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    auto *s = static_cast<InOrder *>(sqlite3_aggregate_context(ctx, sizeof(InOrder)));
    if (!s)
        return sqlite3_result_error_nomem(ctx);
    const sqlite3_int64 rowid = sqlite3_value_int64(argv[0]);
    if (s->count > 0 && rowid <= s->last)
        s->disorder = true;
    s->last = rowid;
    ++s->count;
}

void inOrderFinal(sqlite3_context *ctx)
{
    auto *s = static_cast<InOrder *>(sqlite3_aggregate_context(ctx, 0));
    sqlite3_result_int64(ctx, !s ? 0 : s->disorder ? -1 : s->count);
}

using std::chrono::milliseconds;

milliseconds g_limit{1500};
std::function<void(bool)> g_observer;
std::atomic<int> g_waits{0};
thread_local BusyWait *t_operation = nullptr;
thread_local milliseconds t_statementLeft{0}; // a statement outside any operation
thread_local bool t_waiting = false;

void setWaiting(bool waiting)
{
    if (t_waiting == waiting)
        return;
    t_waiting = waiting;
    if (g_observer)
        g_observer(waiting);
}

} // namespace

Affinity affinityOf(const QString &declaredType)
{
    // The engine's own rules, in their order.
    const QString t = declaredType.toUpper();
    if (t.contains(QLatin1String("INT")))
        return Affinity::Integer;
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("TEXT")))
        return Affinity::Text;
    if (t.isEmpty() || t.contains(QLatin1String("BLOB")))
        return Affinity::None;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB")))
        return Affinity::Real;
    return Affinity::Numeric;
}

BusyWait::BusyWait(milliseconds allowance) : m_outer(t_operation), m_left(allowance)
{
    if (!m_outer)
        t_operation = this;
}

BusyWait::~BusyWait()
{
    if (!m_outer) {
        t_operation = nullptr;
        setWaiting(false);
    }
}

milliseconds BusyWait::limit() { return g_limit; }
void BusyWait::setLimit(milliseconds limit) { g_limit = limit; }
void BusyWait::setObserver(std::function<void(bool)> observer) { g_observer = std::move(observer); }
const std::function<void(bool)> &BusyWait::observer() { return g_observer; }
int BusyWait::waitsSoFar() { return g_waits; }

// Called by the engine while the file is locked; `count` is 0 on the first
// call for a statement. Returns nonzero to try again.
int busyHandler(void *, int count)
{
    if (count == 0 && !t_operation)
        t_statementLeft = g_limit;
    milliseconds &left = t_operation ? t_operation->m_left : t_statementLeft;
    if (left <= milliseconds::zero()) {
        setWaiting(false);
        return 0;
    }
    if (count == 0)
        ++g_waits;
    // Only an operation tells when its waiting is over, so only its waits
    // are shown.
    if (t_operation)
        setWaiting(true);
    // The time really spent counts, however long the system let us sleep.
    const milliseconds step = std::min(left, milliseconds(10));
    const auto before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(step);
    left -= std::max(step, std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - before));
    return 1;
}

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    const QByteArray utf8 = toUtf8(text);
    sqlite3_bind_text64(statement, index, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    return fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                    sqlite3_column_bytes(statement, column));
}

std::shared_ptr<Connection> Connection::open(const QString &path)
{
    const QString what = QStringLiteral("データベース ファイルを開けません。");
    // A folder, a device or a pipe in place of the file would be opened by
    // the engine as something else, or block: only a regular file is tried.
    const QFileInfo info(path);
    if (!info.exists())
        throw Error(QStringLiteral("データベース ファイルが見つかりません。\n%1").arg(path));
    if (info.isDir())
        throw fileError(what, path, QStringLiteral("ファイルではなくフォルダーです"));
    if (!info.isFile())
        throw fileError(what, path, QStringLiteral("通常のファイルではありません"));
    // The engine takes an empty file for an empty database.
    if (info.size() == 0)
        throw fileError(what, path, QStringLiteral("ファイルが空です（0 バイト）"));
    // An Access file is recognised before SQLite touches it.
    const FileFormat format = detectFileFormat(path);
    if (isAccessFormat(format))
        throw AccessFormatError(path, format);

    sqlite3 *db = nullptr;
    // Without SQLITE_OPEN_CREATE: the store never makes a database file.
    const int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::shared_ptr<Connection> c(new Connection(db, path));
    sqlite3_extended_result_codes(db, 1);
    if (rc != SQLITE_OK)
        c->fail(what);
    sqlite3_busy_handler(db, busyHandler, nullptr);
    if (sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeFunction<true>,
                                   nullptr, nullptr, nullptr)
            != SQLITE_OK
        || sqlite3_create_function_v2(db, "like", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr, likeFunction<false>,
                                      nullptr, nullptr, nullptr)
               != SQLITE_OK)
        c->fail(what);
    if (sqlite3_create_function_v2(db, "rows_in_order", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr,
                                   inOrderStep, inOrderFinal, nullptr)
        != SQLITE_OK)
        c->fail(what);
    c->readSchema();
    c->m_sameBook = SameBookIndex::install(*c);
    // The engine holds the file open from here on: what lies at the path
    // now is the file it reads.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        c->m_device = st.st_dev;
        c->m_inode = st.st_ino;
    }
    return c;
}

// Reading the schema tells a database from any other file, finds the book
// table and its fields, and how its rows are told apart.
void Connection::readSchema()
{
    const QString unreadable = QStringLiteral("データベース ファイルを読めません。");
    ReadTransaction read(*this, unreadable);
    QString type, sql;
    {
        Prepared st(prepare(QStringLiteral("SELECT type, sql FROM sqlite_master WHERE name = '%1' COLLATE NOCASE "
                                           "AND type IN ('table', 'view')")
                                .arg(tableName())));
        const int step = sqlite3_step(st.get());
        if (step == SQLITE_ROW) {
            type = columnText(st.get(), 0);
            sql = columnText(st.get(), 1);
        } else if (step != SQLITE_DONE) {
            fail(unreadable);
        }
    }
    if (type.isEmpty())
        throw fileError(QStringLiteral("データベース ファイルを開けません。"), m_path, missingTableReason());
    // The store reaches every row by its row number; a view and a table
    // without row numbers have none.
    const QString cannot = QStringLiteral("データベース ファイルを開けません。");
    if (type == QLatin1String("view"))
        throw fileError(cannot, m_path, QStringLiteral("蔵書の表が、表ではなくビューです"));
    if (sql.simplified().contains(QLatin1String("WITHOUT ROWID"), Qt::CaseInsensitive))
        throw fileError(cannot, m_path, QStringLiteral("蔵書の表に行番号（rowid）がありません"));

    QStringList columns, types;
    {
        // table_xinfo, not table_info: a generated column is a field of
        // its own too, and may take the name of the row number.
        Prepared st(prepare(QStringLiteral("PRAGMA table_xinfo(%1)").arg(tableName())));
        int step;
        while ((step = sqlite3_step(st.get())) == SQLITE_ROW) {
            columns << columnText(st.get(), 1);
            types << columnText(st.get(), 2);
        }
        if (step != SQLITE_DONE)
            fail(unreadable);
    }
    read.commit();
    for (int f = 0; f < FieldCount; ++f) {
        qsizetype at = columns.size();
        while (--at >= 0 && columns[at].compare(fieldNames()[f], Qt::CaseInsensitive) != 0) {
        }
        if (at < 0)
            throw missingFieldError(fieldNames()[f], m_path);
        m_affinity[f] = affinityOf(types[at]);
    }
    // A field of the table's own may take the name of the row number; the
    // row number then answers to one of its other names.
    m_rowid.clear();
    for (const char *name : {"rowid", "_rowid_", "oid"}) {
        if (!columns.contains(QLatin1String(name), Qt::CaseInsensitive)) {
            m_rowid = QLatin1String(name);
            break;
        }
    }
    if (m_rowid.isEmpty())
        throw fileError(
            cannot, m_path,
            QStringLiteral("蔵書の表に rowid、_rowid_、oid という名前の項目がすべてあり、行を区別できません"));
}

Connection::~Connection() { sqlite3_close_v2(m_db); }

sqlite3_stmt *Connection::prepare(const QString &sql) const
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare16_v2(m_db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK)
        fail(QStringLiteral("データベースの読み書きに失敗しました。"));
    return st;
}

Error Connection::error(const QString &what) const
{
    const QString reason = m_db ? engineReason(sqlite3_extended_errcode(m_db), sqlite3_system_errno(m_db),
                                               QString::fromUtf8(sqlite3_errmsg(m_db)))
                                : QStringLiteral("メモリが足りません");
    return fileError(what, m_path, reason);
}

void Connection::exec(const char *sql, const QString &what) const
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(what);
}

void Connection::rollback() const noexcept { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }

ReadTransaction::ReadTransaction(const Connection &connection, const QString &what)
    : m_connection(connection), m_what(what), m_open(sqlite3_get_autocommit(connection.handle()) != 0)
{
    if (m_open)
        m_connection.exec("BEGIN", m_what);
}

ReadTransaction::~ReadTransaction()
{
    if (m_open)
        m_connection.rollback();
}

void ReadTransaction::commit()
{
    if (!m_open)
        return;
    m_connection.exec("COMMIT", m_what);
    m_open = false;
}

qint64 Connection::dataVersion(const QString &what) const
{
    Prepared st(prepare(QStringLiteral("PRAGMA data_version")));
    if (sqlite3_step(st.get()) != SQLITE_ROW)
        fail(what);
    return sqlite3_column_int64(st.get(), 0);
}

bool Connection::replaced() const
{
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return true;
    return quint64(st.st_dev) != m_device || quint64(st.st_ino) != m_inode;
}

qint64 Connection::version() const
{
    const QString what = QStringLiteral("データベースを読めません。");
    ReadTransaction read(*this, what);
    const qint64 v = dataVersion(what);
    read.commit();
    return v;
}

void Connection::writeBegun() const noexcept
{
    if (m_sameBook)
        m_sameBook->writeBegun(*this);
}

void Connection::writeCommitting() const noexcept
{
    if (m_sameBook)
        m_sameBook->writeCommitting(*this);
}

void Connection::writeEnded() const noexcept
{
    if (m_sameBook)
        m_sameBook->writeEnded();
}

bool Connection::countStillRight(const QString &what) const { return m_count && dataVersion(what) == m_countVersion; }

std::optional<qint64> Connection::knownCount() const
{
    const QString what = QStringLiteral("データベースを読めません。");
    ReadTransaction read(*this, what);
    if (!countStillRight(what))
        m_count.reset();
    read.commit();
    return m_count;
}

qint64 Connection::tableCount() const
{
    const QString what = QStringLiteral("データベースを読めません。");
    ReadTransaction read(*this, what);
    if (!countStillRight(what)) {
        m_count.reset();
        m_countVersion = dataVersion(what);
        // Counted row by row, so that a table whose row numbers are out of
        // order (damaged without the engine noticing) is refused here, as a
        // screen that reads every row refuses it.
        Prepared st(prepare(QStringLiteral("SELECT rows_in_order(%1) FROM %2").arg(m_rowid, tableName())));
        if (sqlite3_step(st.get()) != SQLITE_ROW)
            fail(what);
        const qint64 counted = sqlite3_column_int64(st.get(), 0);
        if (counted < 0)
            throw outOfOrderError(what);
        m_count = counted;
    }
    read.commit();
    return *m_count;
}

Error Connection::outOfOrderError(const QString &what) const
{
    return fileError(what, m_path, QStringLiteral("ファイルが壊れています。行番号の順序が乱れています"));
}

Prepared::~Prepared() { sqlite3_finalize(m_stmt); }

} // namespace store
