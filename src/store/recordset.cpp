#include "store/recordset.h"

#include "store/error.h"
#include "store/fieldvalue.h"

#include <sqlite3.h>

#include <algorithm>

namespace store {

namespace {

QString quotedField(const QString &name) { return u'[' + name + u']'; }

// The bracketed name of a field of the record source; a value outside the
// nine names no field of the table.
QString checkedField(Field field)
{
    const QString name = fieldName(field);
    if (name.isEmpty())
        throw missingFieldError(QString::number(int(field)));
    return quotedField(name);
}

// The statement of a record source: `columns` of its rows, in its order.
// `ordered`: rows without an order of their own come in the table's order.
QString selectRows(const RecordSource &source, const QString &rowid, const QString &columns, bool ordered)
{
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(columns, tableName());
    if (source.filter)
        sql += QStringLiteral(" WHERE %1 LIKE ?1").arg(checkedField(*source.filter));
    if (source.order) {
        // Ties keep the table's own order, so the same source always lists
        // the same rows the same way.
        sql +=
            QStringLiteral(" ORDER BY %1 %2, %3")
                .arg(checkedField(*source.order),
                     source.direction == Direction::Descending ? QStringLiteral("DESC") : QStringLiteral("ASC"), rowid);
    } else if (ordered) {
        sql += QStringLiteral(" ORDER BY %1").arg(rowid);
    }
    return sql;
}

// A field's value as typed: empty text is NULL; a number is written as the
// number it is where the column converts numbers, and refused where the
// column could not hold it exactly.
void bindField(sqlite3_stmt *st, int index, const QString &text, int field, const Connection &connection,
               const QString &what)
{
    if (text.isEmpty()) {
        sqlite3_bind_null(st, index);
        return;
    }
    const std::optional<FieldValue> v = fieldValue(text, connection.affinity(field));
    if (!v) {
        const QString shown = text.size() > 40 ? text.left(40) + u'…' : text;
        throw fileError(
            what, connection.path(),
            QStringLiteral("「%1」は項目「%2」に正確に入れられない数値です。範囲を超えているか、桁が多すぎます")
                .arg(shown, fieldNames()[field]));
    }
    switch (v->kind) {
    case FieldValue::Kind::Integer: sqlite3_bind_int64(st, index, v->integer); break;
    case FieldValue::Kind::Real: sqlite3_bind_double(st, index, v->real); break;
    case FieldValue::Kind::Text: bindText(st, index, text); break;
    }
}

// The nine fields, bracketed, in the table's order.
const QString &fieldList()
{
    static const QString list = [] {
        QStringList cols;
        for (const QString &f : fieldNames())
            cols << quotedField(f);
        return cols.join(u',');
    }();
    return list;
}

// One row's nine fields by its row number.
QString fetchStatement(const Connection &connection)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1").arg(fieldList(), tableName(), connection.rowid());
}

QVariant columnValue(sqlite3_stmt *st, int column)
{
    switch (sqlite3_column_type(st, column)) {
    case SQLITE_NULL: return {};
    case SQLITE_INTEGER: return qlonglong(sqlite3_column_int64(st, column));
    case SQLITE_FLOAT: return sqlite3_column_double(st, column);
    default: return columnText(st, column);
    }
}

StoredValue storedValue(sqlite3_stmt *st, int column)
{
    StoredValue v;
    v.type = sqlite3_column_type(st, column);
    switch (v.type) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 n = sqlite3_column_int64(st, column);
        v.bytes = QByteArray(reinterpret_cast<const char *>(&n), sizeof n);
        break;
    }
    case SQLITE_FLOAT: {
        const double d = sqlite3_column_double(st, column);
        v.bytes = QByteArray(reinterpret_cast<const char *>(&d), sizeof d);
        break;
    }
    case SQLITE_TEXT:
        v.bytes = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(st, column)),
                             sqlite3_column_bytes(st, column));
        break;
    case SQLITE_BLOB:
        v.bytes =
            QByteArray(static_cast<const char *>(sqlite3_column_blob(st, column)), sqlite3_column_bytes(st, column));
        break;
    default: break;
    }
    return v;
}

} // namespace

// Reads rows by row number: for the cache, and as the file holds them for
// the checks of a write.
class RecordSet::Fetch : public RowReader {
public:
    explicit Fetch(const Connection &connection) : m_connection(connection) {}

    void batch(const std::function<bool()> &reads) override
    {
        // One read transaction for the batch: the file is locked and checked
        // once, not once per row.
        ReadTransaction read(m_connection, QStringLiteral("データを読めません。"));
        if (reads())
            read.commit();
    }
    bool read(qint64 rowid, Row &row) override { return stored(rowid, &row).has_value(); }

    // The row as the file holds it now, within the caller's transaction, and
    // its fields into `fields`; nothing when there is no such row.
    std::optional<StoredRow> stored(qint64 rowid, Row *fields = nullptr)
    {
        // Prepared when first needed: a record set that never reads a row
        // by its number never asks the engine for the statement.
        if (!m_statement)
            m_statement = std::make_unique<Prepared>(m_connection.prepare(fetchStatement(m_connection)));
        sqlite3_stmt *q = m_statement->get();
        sqlite3_bind_int64(q, 1, rowid);
        const int rc = sqlite3_step(q);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            const Error failure = m_connection.error(QStringLiteral("データを読めません。"));
            sqlite3_reset(q);
            throw failure;
        }
        std::optional<StoredRow> found;
        if (rc == SQLITE_ROW) {
            found.emplace();
            for (int c = 0; c < FieldCount; ++c) {
                (*found)[c] = storedValue(q, c);
                if (fields)
                    (*fields)[c] = columnValue(q, c);
            }
        }
        sqlite3_reset(q);
        return found;
    }

private:
    const Connection &m_connection;
    std::unique_ptr<Prepared> m_statement;
};

RecordSet::RecordSet(std::shared_ptr<Connection> connection, const RecordSource &source,
                     const std::function<void()> &onceReadable)
    : m_connection(std::move(connection)), m_source(source), m_cursor(*m_connection)
{
    const QString &id = m_connection->rowid();
    m_version = m_connection->version();
    m_stream = selectRows(source, id, id + u',' + fieldList(), true);
    m_fetch = std::make_unique<Fetch>(*m_connection);
    if (!source.isWholeTable()) {
        list(onceReadable);
        m_current = m_rowids.empty() ? -1 : 0;
        return;
    }
    // The table in its own order: only where its first row is, and the
    // count if the connection still knows it.
    const QString what = QStringLiteral("データベースを読めません。");
    ReadTransaction read(*m_connection, what);
    if (m_cursor.start())
        m_current = 0;
    if (onceReadable)
        onceReadable();
    if (const std::optional<qint64> count = m_connection->knownCount())
        m_count = int(*count);
    read.commit();
}

RecordSet::~RecordSet() = default;

bool RecordSet::fileChanged() const { return m_connection->replaced() || m_connection->version() != m_version; }

int RecordSet::recordCount() const
{
    if (lazy()) {
        if (!m_count)
            m_count = int(m_connection->tableCount());
        return *m_count;
    }
    list();
    return int(m_rowids.size());
}

void RecordSet::list(const std::function<void()> &onceReadable) const
{
    if (m_rowids.listed())
        return;
    const QString &id = m_connection->rowid();
    // Room is made for as many row numbers as the table holds, where that
    // is known: no record source lists more.
    const std::optional<qint64> expected = m_count ? std::optional<qint64>(*m_count) : m_connection->knownCount();
    if (!m_source.isWholeTable()) {
        Prepared q(m_connection->prepare(selectRows(m_source, id, id, false)));
        if (m_source.filter)
            bindText(q.get(), 1, m_source.pattern);
        m_rowids.read(*m_connection, q.get(), QStringLiteral("データベースを読めません。"), RowidList::Order::Any,
                      expected, onceReadable);
        // Read again after a release: the current row keeps its position
        // where the list still reaches it.
        if (m_current >= int(m_rowids.size()))
            m_current = int(m_rowids.size()) - 1;
        return;
    }
    const qint64 current = m_current >= 0 ? currentRowid() : 0;
    Prepared q(m_connection->prepare(selectRows(RecordSource::wholeTable(), id, id, true)));
    m_rowids.read(*m_connection, q.get(), QStringLiteral("データを読めません。"), RowidList::Order::Ascending, expected,
                  onceReadable);
    m_count.reset();
    m_currentRow.reset();
    if (m_current >= 0) {
        // The current row keeps its place; gone meanwhile, the next one
        // takes it.
        m_current = m_rowids.empty() ? -1 : int(std::min(m_rowids.lowerBound(current), m_rowids.size() - 1));
    }
}

void RecordSet::releaseRows()
{
    if (!m_rowids.listed())
        return;
    if (m_source.isWholeTable() && m_current >= 0)
        m_cursor.setRow(m_rowids[m_current]);
    // The rows first: letting go of a large list hands the freed memory of
    // both back to the system.
    m_cache.clear();
    m_rowids.release();
}

qint64 RecordSet::currentRowid() const
{
    if (lazy())
        return m_cursor.rowid();
    list();
    return m_rowids[m_current];
}

void RecordSet::setCurrent(int position)
{
    list();
    if (m_rowids.empty())
        return;
    m_mode = EditMode::None; // moving away drops whatever was not written
    m_current = std::clamp(position, 0, recordCount() - 1);
    m_currentRow.reset();
    m_seen.reset();
    emit repositioned();
}

// A move within the table in its own order. The row moved to is looked for
// at once; when the file cannot be read now, the move is still made (the
// position is known) and the row is looked for when it is read.
void RecordSet::moveInTable(TableCursor::Step step)
{
    using Step = TableCursor::Step;
    if (m_current < 0 && (step == Step::Next || step == Step::Previous))
        step = Step::First;
    int position = m_current;
    switch (step) {
    case Step::First: position = 0; break;
    case Step::Last: position = recordCount() - 1; break;
    case Step::Next: ++position; break;
    case Step::Previous: --position; break;
    }
    // Past either end the current row stays, as in a list.
    const bool pastEnd = position < 0 || (m_count && position >= *m_count);
    if (!pastEnd) {
        switch (m_cursor.move(step)) {
        case TableCursor::Outcome::Moved:
        case TableCursor::Outcome::Deferred: m_current = position; break;
        case TableCursor::Outcome::NoRow:
            if (m_current < 0)
                return; // no rows at all
            break;
        }
        m_currentRow.reset();
        m_seen.reset();
    }
    m_mode = EditMode::None;
    emit repositioned();
}

void RecordSet::moveFirst() { lazy() ? moveInTable(TableCursor::Step::First) : setCurrent(0); }
void RecordSet::movePrevious() { lazy() ? moveInTable(TableCursor::Step::Previous) : setCurrent(m_current - 1); }
void RecordSet::moveNext() { lazy() ? moveInTable(TableCursor::Step::Next) : setCurrent(m_current + 1); }
void RecordSet::moveLast() { lazy() ? moveInTable(TableCursor::Step::Last) : setCurrent(recordCount() - 1); }
void RecordSet::moveTo(int position) { setCurrent(position); }

const RecordSet::Row &RecordSet::row(int position) const
{
    list();
    return m_cache.row(*m_fetch, m_rowids.all(), position);
}

QString RecordSet::text(int position, int column) const
{
    const QVariant &v = row(position)[column];
    return v.isNull() ? QString() : v.toString();
}

QString RecordSet::fieldText(const QString &name) const
{
    const int column = fieldNames().indexOf(name);
    if (column < 0)
        throw missingFieldError(name);
    if (!hasCurrent())
        return QString();
    if (!m_currentRow && m_rowids.listed())
        return text(m_current, column); // as the rows around it, from the rows already read
    if (!m_currentRow) {
        // Deleted by another program meanwhile, it reads as empty.
        Row row{};
        ReadTransaction read(*m_connection, QStringLiteral("データを読めません。"));
        m_fetch->stored(currentRowid(), &row);
        read.commit();
        m_currentRow = std::move(row);
    }
    const QVariant &v = (*m_currentRow)[column];
    return v.isNull() ? QString() : v.toString();
}

void RecordSet::readCurrent()
{
    m_seen.reset();
    m_currentRow.reset();
    if (!hasCurrent())
        return;
    Row row{};
    ReadTransaction read(*m_connection, QStringLiteral("データを読めません。"));
    const qint64 rowid = currentRowid();
    Seen seen{rowid, m_fetch->stored(rowid, &row)};
    read.commit();
    m_currentRow = std::move(row);
    m_seen = std::move(seen);
}

qint64 RecordSet::requireUnchanged(const QString &what) const
{
    if (!m_seen)
        throw fileError(what, m_connection->path(), QStringLiteral("現在のデータが読み込まれていません"));
    const std::optional<StoredRow> now = m_fetch->stored(m_seen->rowid);
    if (now == m_seen->fields)
        return m_seen->rowid;
    const QString reason =
        now ? QStringLiteral(
            "このデータは、表示した後で他のプログラムによって変更されています。何も書き込んでいません。"
            "今のデータを表示します")
            : QStringLiteral(
                "このデータは、表示した後で他のプログラムによって削除されています。何も書き込んでいません");
    throw RowChangedError(fileError(what, m_connection->path(), reason).message());
}

void RecordSet::requireCurrent(const QString &what) const
{
    if (!hasCurrent())
        throw Error(QStringLiteral("%1できません: 現在のデータがありません。").arg(what));
}

void RecordSet::readAll(const std::function<bool(const FieldReader &)> &visit) const
{
    const QString what = QStringLiteral("データを読めません。");
    // One pass of the record source's own statement, in its order: far
    // cheaper than a lookup per row. A listed record set checks each row
    // against its list; from the first row that differs (the table was
    // changed meanwhile by another program) the rest are read by their
    // rowids, as row() reads them.
    const bool checked = !lazy();
    if (checked)
        list();
    Prepared q(m_connection->prepare(m_stream));
    if (m_source.filter)
        bindText(q.get(), 1, m_source.pattern);
    const qsizetype listed = m_rowids.size();
    qsizetype position = 0;
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        if (checked && (position == listed || sqlite3_column_int64(q.get(), 0) != m_rowids[position]))
            break;
        if (!visit(FieldReader(q.get(), 1)))
            return;
        ++position;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        m_connection->fail(what);
    if (!checked || position == listed)
        return;
    Prepared fetch(m_connection->prepare(fetchStatement(*m_connection)));
    ReadTransaction read(*m_connection, what);
    for (; position < listed; ++position) {
        sqlite3_bind_int64(fetch.get(), 1, m_rowids[position]);
        rc = sqlite3_step(fetch.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            m_connection->fail(what);
        // Deleted meanwhile: an empty row.
        const bool more = visit(FieldReader(rc == SQLITE_ROW ? fetch.get() : nullptr, 0));
        sqlite3_reset(fetch.get());
        if (!more)
            return;
    }
    read.commit();
}

FieldReader::Type FieldReader::type(int column) const
{
    if (!m_statement)
        return Type::Null;
    switch (sqlite3_column_type(m_statement, m_first + column)) {
    case SQLITE_NULL: return Type::Null;
    case SQLITE_INTEGER: return Type::Integer;
    case SQLITE_FLOAT: return Type::Real;
    default: return Type::Text;
    }
}

qint64 FieldReader::integer(int column) const { return sqlite3_column_int64(m_statement, m_first + column); }
double FieldReader::real(int column) const { return sqlite3_column_double(m_statement, m_first + column); }
QByteArrayView FieldReader::utf8(int column) const
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, m_first + column));
    return {bytes, sqlite3_column_bytes(m_statement, m_first + column)};
}

void RecordSet::readAllByPosition(const std::function<bool(qsizetype, const FieldReader &)> &visit) const
{
    if (lazy() || !m_source.order) {
        qsizetype position = 0;
        readAll([&](const FieldReader &row) { return visit(position++, row); });
        return;
    }
    list();
    // The positions by row number, to meet the table's rows in its order.
    std::vector<std::pair<qint64, qsizetype>> byRowid;
    byRowid.reserve(size_t(m_rowids.size()));
    for (qsizetype i = 0; i < m_rowids.size(); ++i)
        byRowid.emplace_back(m_rowids[i], i);
    std::sort(byRowid.begin(), byRowid.end());
    const QString &id = m_connection->rowid();
    Prepared q(m_connection->prepare(selectRows(RecordSource::wholeTable(), id, id + u',' + fieldList(), true)));
    const FieldReader gone(nullptr, 0);
    auto next = byRowid.cbegin();
    int rc = SQLITE_DONE;
    while (next != byRowid.cend() && (rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        const qint64 rowid = sqlite3_column_int64(q.get(), 0);
        for (; next != byRowid.cend() && next->first < rowid; ++next) {
            if (!visit(next->second, gone))
                return;
        }
        if (next != byRowid.cend() && next->first == rowid && !visit((next++)->second, FieldReader(q.get(), 1)))
            return;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        m_connection->fail(QStringLiteral("データを読めません。"));
    for (; next != byRowid.cend(); ++next) {
        if (!visit(next->second, gone))
            return;
    }
}

void RecordSet::forgetCache() const
{
    m_cache.clear();
    m_currentRow.reset();
}

void RecordSet::checkOneRowChanged(const QString &what) const
{
    // A write is meant for exactly the current book; anything else is rolled
    // back by the caller's transaction.
    const qint64 changed = sqlite3_changes64(m_connection->handle());
    if (changed == 0)
        throw fileError(what, m_connection->path(), QStringLiteral("このデータは他のプログラムで削除されています"));
    if (changed != 1)
        throw fileError(what, m_connection->path(),
                        QStringLiteral("%1 件のデータが変わるところでした。何も変えていません").arg(changed));
}

void RecordSet::addNew()
{
    m_mode = EditMode::Adding;
    emit pendingChanged();
}

void RecordSet::edit()
{
    requireCurrent(QStringLiteral("修正"));
    // A row never read before (no screen showed it) is expected as it is now.
    if (!m_seen)
        readCurrent();
    m_mode = EditMode::Editing;
}

void RecordSet::cancelUpdate()
{
    if (m_mode == EditMode::None)
        return;
    m_mode = EditMode::None;
    emit pendingChanged();
}

void RecordSet::update(const QHash<QString, QString> &values)
{
    QStringList fields;
    for (const QString &f : fieldNames()) {
        if (values.contains(f))
            fields << f;
    }
    if (m_mode == EditMode::Adding) {
        QStringList cols, marks;
        for (int i = 0; i < fields.size(); ++i) {
            cols << quotedField(fields[i]);
            marks << QStringLiteral("?%1").arg(i + 1);
        }
        const QString sql =
            fields.isEmpty()
                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(tableName())
                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(tableName(), cols.join(u','), marks.join(u','));
        const QString what = QStringLiteral("データを登録できませんでした。");
        m_connection->writeTransaction(
            what,
            [&] {
                Prepared q(m_connection->prepare(sql));
                for (int i = 0; i < fields.size(); ++i)
                    bindField(q.get(), i + 1, values.value(fields[i]), fieldNames().indexOf(fields[i]), *m_connection,
                              what);
                if (sqlite3_step(q.get()) != SQLITE_DONE)
                    m_connection->fail(what);
            },
            +1);
        // Like a dynaset, the new row joins the end of the open rows (rows
        // not in memory are read afresh, the new one included if it belongs).
        if (lazy()) {
            if (m_count)
                ++*m_count;
        } else if (m_rowids.listed()) {
            m_rowids.append(sqlite3_last_insert_rowid(m_connection->handle()));
        }
    } else if (m_mode == EditMode::Editing) {
        requireCurrent(QStringLiteral("修正"));
        QStringList sets;
        for (int i = 0; i < fields.size(); ++i)
            sets << QStringLiteral("%1 = ?%2").arg(quotedField(fields[i])).arg(i + 1);
        const QString what = QStringLiteral("データを修正できませんでした。");
        Row written{};
        std::optional<StoredRow> stored;
        m_connection->writeTransaction(what, [&] {
            // Checked even when nothing is to be written: the user learns
            // that the book on screen is no longer the one in the file.
            const qint64 rowid = requireUnchanged(what);
            if (fields.isEmpty())
                return;
            Prepared q(m_connection->prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?%4")
                                                 .arg(tableName(), sets.join(u','), m_connection->rowid())
                                                 .arg(fields.size() + 1)));
            for (int i = 0; i < fields.size(); ++i)
                bindField(q.get(), i + 1, values.value(fields[i]), fieldNames().indexOf(fields[i]), *m_connection,
                          what);
            sqlite3_bind_int64(q.get(), fields.size() + 1, rowid);
            if (sqlite3_step(q.get()) != SQLITE_DONE)
                m_connection->fail(what);
            checkOneRowChanged(what);
            // The row as written is what the next correction expects.
            stored = m_fetch->stored(rowid, &written);
        });
        if (!fields.isEmpty()) {
            forgetCache();
            m_currentRow = std::move(written);
            m_seen->fields = std::move(stored);
        }
    } else {
        throw Error(QStringLiteral("書き込むデータがありません。"));
    }
    m_mode = EditMode::None;
}

void RecordSet::deleteCurrent()
{
    requireCurrent(QStringLiteral("削除"));
    if (!m_seen)
        readCurrent();
    const QString what = QStringLiteral("データを削除できませんでした。");
    qint64 rowid = 0;
    m_connection->writeTransaction(
        what,
        [&] {
            rowid = requireUnchanged(what);
            Prepared q(m_connection->prepare(
                QStringLiteral("DELETE FROM %1 WHERE %2 = ?1").arg(tableName(), m_connection->rowid())));
            sqlite3_bind_int64(q.get(), 1, rowid);
            if (sqlite3_step(q.get()) != SQLITE_DONE)
                m_connection->fail(what);
            checkOneRowChanged(what);
        },
        -1);
    if (lazy()) {
        if (m_count)
            --*m_count;
    } else if (m_rowids.listed()) {
        m_rowids.remove(rowid);
    }
    m_current = -1;
    m_mode = EditMode::None;
    m_seen.reset();
    forgetCache();
}

} // namespace store
