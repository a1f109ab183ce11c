#include "store/recordset.h"

#include "store/error.h"
#include "store/fieldvalue.h"

#include <sqlite3.h>

namespace store {

namespace {

QString quotedField(const QString &name) { return u'[' + name + u']'; }

// The table's own spelling of a field named in a statement.
QString checkedField(const QString &name, const QString &source)
{
    for (const QString &f : fieldNames()) {
        if (f.compare(name, Qt::CaseInsensitive) == 0)
            return f;
    }
    throw missingFieldError(name, source);
}

QString selectRowids(const Statement &st, const QString &source, const QString &rowid)
{
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(rowid, tableName());
    if (!st.filterField.isEmpty())
        sql += QStringLiteral(" WHERE %1 LIKE ?1").arg(quotedField(checkedField(st.filterField, source)));
    if (!st.orderField.isEmpty()) {
        // Ties keep the table's own order, so the same statement always
        // lists the same rows the same way.
        sql += QStringLiteral(" ORDER BY %1 %2, %3")
                   .arg(quotedField(checkedField(st.orderField, source)),
                        st.descending ? QStringLiteral("DESC") : QStringLiteral("ASC"), rowid);
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
        throw fileError(what, connection.path(),
                        QStringLiteral("「%1」は項目「%2」に正確に入れられない数値です。範囲を超えているか、桁が多すぎます")
                            .arg(shown, fieldNames()[field]));
    }
    switch (v->kind) {
    case FieldValue::Kind::Integer: sqlite3_bind_int64(st, index, v->integer); break;
    case FieldValue::Kind::Real: sqlite3_bind_double(st, index, v->real); break;
    case FieldValue::Kind::Text: bindText(st, index, text); break;
    }
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

} // namespace

RecordSet::RecordSet(std::shared_ptr<Connection> connection, const QString &source)
    : m_connection(std::move(connection))
{
    const Statement st = parseRecordSource(source);
    Prepared q(m_connection->prepare(selectRowids(st, source, m_connection->rowid())));
    if (!st.filterField.isEmpty())
        bindText(q.get(), 1, st.pattern);
    const QString what = QStringLiteral("データベースを読めません。");
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        if (sqlite3_column_type(q.get(), 0) != SQLITE_INTEGER)
            throw fileError(what, m_connection->path(), QStringLiteral("行番号のない行があります"));
        m_rowids.push_back(sqlite3_column_int64(q.get(), 0));
    }
    if (rc != SQLITE_DONE)
        m_connection->fail(what);
    m_current = m_rowids.empty() ? -1 : 0;
}

RecordSet::~RecordSet() = default;

void RecordSet::setCurrent(int position)
{
    if (m_rowids.empty())
        return;
    m_mode = EditMode::None; // moving away drops whatever was not written
    m_current = std::clamp(position, 0, recordCount() - 1);
    emit repositioned();
}

void RecordSet::moveFirst() { setCurrent(0); }
void RecordSet::movePrevious() { setCurrent(m_current - 1); }
void RecordSet::moveNext() { setCurrent(m_current + 1); }
void RecordSet::moveLast() { setCurrent(recordCount() - 1); }
void RecordSet::moveTo(int position) { setCurrent(position); }

const RecordSet::Row &RecordSet::row(int position) const
{
    static const Row empty{};
    if (position < 0 || position >= recordCount())
        return empty;
    const int blockNo = position / BlockRows, first = blockNo * BlockRows;
    auto it = m_cache.find(blockNo);
    if (it == m_cache.end()) {
        if (m_cache.size() >= MaxBlocks) {
            auto oldest = std::min_element(m_cache.begin(), m_cache.end(), [](const auto &a, const auto &b) {
                return a.second.lastUse < b.second.lastUse;
            });
            m_cache.erase(oldest);
        }
        Block fresh;
        fresh.rows.resize(std::min(recordCount() - first, BlockRows));
        fresh.read.resize(fresh.rows.size());
        it = m_cache.emplace(blockNo, std::move(fresh)).first;
    }
    Block &block = it->second;
    block.lastUse = ++m_useClock;
    if (!block.read[position - first])
        readRows(block, first, position);
    return block.rows[position - first];
}

void RecordSet::readRows(Block &block, int first, int from) const
{
    if (!m_fetch) {
        QStringList cols;
        for (const QString &f : fieldNames())
            cols << quotedField(f);
        m_fetch = std::make_unique<Prepared>(m_connection->prepare(
            QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1").arg(cols.join(u','), tableName(), m_connection->rowid())));
    }
    const QString what = QStringLiteral("データを読めません。");
    sqlite3_stmt *q = m_fetch->get();
    // One read transaction for the row asked for and the rest of its block:
    // the file is locked and checked once, not once per row. A row that
    // cannot be read (the file is locked, damaged or gone) ends the reading;
    // the rows read before it are kept, it and the rows after it are read
    // again when asked for. When it is the row asked for, its error is
    // thrown. Only a row that another program deleted meanwhile is found
    // missing, and reads as empty.
    ReadTransaction read(*m_connection, what);
    for (int i = from - first; i < int(block.rows.size()); ++i) {
        if (block.read[i])
            continue;
        sqlite3_bind_int64(q, 1, m_rowids[first + i]);
        const int rc = sqlite3_step(q);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            const Error failure = m_connection->error(what);
            sqlite3_reset(q);
            if (first + i == from)
                throw failure;
            return; // the transaction is rolled back: after a failure it cannot always be committed
        }
        if (rc == SQLITE_ROW) {
            for (int c = 0; c < FieldCount; ++c)
                block.rows[i][c] = columnValue(q, c);
        }
        block.read[i] = true;
        sqlite3_reset(q);
    }
    read.commit();
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
    return hasCurrent() ? text(m_current, column) : QString();
}

void RecordSet::requireCurrent(const QString &what) const
{
    if (!hasCurrent())
        throw Error(QStringLiteral("%1できません: 現在のデータがありません。").arg(what));
}

void RecordSet::forgetCache() const { m_cache.clear(); }

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
        const QString sql = fields.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(tableName())
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(tableName(), cols.join(u','), marks.join(u','));
        const QString what = QStringLiteral("データを登録できませんでした。");
        m_connection->writeTransaction(what, [&] {
            Prepared q(m_connection->prepare(sql));
            for (int i = 0; i < fields.size(); ++i)
                bindField(q.get(), i + 1, values.value(fields[i]), fieldNames().indexOf(fields[i]), *m_connection, what);
            if (sqlite3_step(q.get()) != SQLITE_DONE)
                m_connection->fail(what);
        });
        // Like a dynaset, the new row joins the end of the open rows.
        m_rowids.push_back(sqlite3_last_insert_rowid(m_connection->handle()));
    } else if (m_mode == EditMode::Editing) {
        requireCurrent(QStringLiteral("修正"));
        if (!fields.isEmpty()) {
            QStringList sets;
            for (int i = 0; i < fields.size(); ++i)
                sets << QStringLiteral("%1 = ?%2").arg(quotedField(fields[i])).arg(i + 1);
            const QString what = QStringLiteral("データを修正できませんでした。");
            m_connection->writeTransaction(what, [&] {
                Prepared q(m_connection->prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?%4")
                                                     .arg(tableName(), sets.join(u','), m_connection->rowid())
                                                     .arg(fields.size() + 1)));
                for (int i = 0; i < fields.size(); ++i)
                    bindField(q.get(), i + 1, values.value(fields[i]), fieldNames().indexOf(fields[i]), *m_connection,
                              what);
                sqlite3_bind_int64(q.get(), fields.size() + 1, m_rowids[m_current]);
                if (sqlite3_step(q.get()) != SQLITE_DONE)
                    m_connection->fail(what);
                checkOneRowChanged(what);
            });
            forgetCache();
        }
    } else {
        throw Error(QStringLiteral("書き込むデータがありません。"));
    }
    m_mode = EditMode::None;
}

void RecordSet::deleteCurrent()
{
    requireCurrent(QStringLiteral("削除"));
    const QString what = QStringLiteral("データを削除できませんでした。");
    m_connection->writeTransaction(what, [&] {
        Prepared q(m_connection->prepare(
            QStringLiteral("DELETE FROM %1 WHERE %2 = ?1").arg(tableName(), m_connection->rowid())));
        sqlite3_bind_int64(q.get(), 1, m_rowids[m_current]);
        if (sqlite3_step(q.get()) != SQLITE_DONE)
            m_connection->fail(what);
        checkOneRowChanged(what);
    });
    m_rowids.erase(m_rowids.begin() + m_current);
    m_current = -1;
    m_mode = EditMode::None;
    forgetCache();
}

} // namespace store
