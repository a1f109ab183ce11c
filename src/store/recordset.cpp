#include "store/recordset.h"

#include "store/error.h"

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

QString selectRowids(const Statement &st, const QString &source)
{
    QString sql = QStringLiteral("SELECT rowid FROM ") + tableName();
    if (!st.filterField.isEmpty())
        sql += QStringLiteral(" WHERE %1 LIKE ?1").arg(quotedField(checkedField(st.filterField, source)));
    if (!st.orderField.isEmpty()) {
        // Ties keep the table's own order, so the same statement always
        // lists the same rows the same way.
        sql += QStringLiteral(" ORDER BY %1 %2, rowid")
                   .arg(quotedField(checkedField(st.orderField, source)),
                        st.descending ? QStringLiteral("DESC") : QStringLiteral("ASC"));
    }
    return sql;
}

void bindText(sqlite3_stmt *st, int index, const QString &text)
{
    if (text.isEmpty())
        sqlite3_bind_null(st, index);
    else
        sqlite3_bind_text16(st, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
}

QVariant columnValue(sqlite3_stmt *st, int column)
{
    switch (sqlite3_column_type(st, column)) {
    case SQLITE_NULL: return {};
    case SQLITE_INTEGER: return qlonglong(sqlite3_column_int64(st, column));
    case SQLITE_FLOAT: return sqlite3_column_double(st, column);
    default:
        return QString(reinterpret_cast<const QChar *>(sqlite3_column_text16(st, column)),
                       sqlite3_column_bytes16(st, column) / 2);
    }
}

} // namespace

RecordSet::RecordSet(std::shared_ptr<Connection> connection, const QString &source)
    : m_connection(std::move(connection))
{
    const Statement st = parseRecordSource(source);
    Prepared q(m_connection->prepare(selectRowids(st, source)));
    if (!st.filterField.isEmpty())
        sqlite3_bind_text16(q.get(), 1, st.pattern.utf16(), int(st.pattern.size() * 2), SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW)
        m_rowids.push_back(sqlite3_column_int64(q.get(), 0));
    if (rc != SQLITE_DONE)
        m_connection->fail(QStringLiteral("データベースを読めません。"));
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
    const int blockNo = position / BlockRows;
    auto it = m_cache.find(blockNo);
    if (it == m_cache.end()) {
        if (m_cache.size() >= MaxBlocks) {
            auto oldest = std::min_element(m_cache.begin(), m_cache.end(), [](const auto &a, const auto &b) {
                return a.second.lastUse < b.second.lastUse;
            });
            m_cache.erase(oldest);
        }
        if (!m_fetch) {
            QStringList cols;
            for (const QString &f : fieldNames())
                cols << quotedField(f);
            m_fetch = std::make_unique<Prepared>(m_connection->prepare(
                QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?1").arg(cols.join(u','), tableName())));
        }
        Block block;
        const int first = blockNo * BlockRows;
        const int last = std::min(recordCount(), first + BlockRows);
        block.rows.resize(last - first);
        sqlite3_stmt *q = m_fetch->get();
        // One read transaction for the block: the file is locked and checked
        // once, not once per row.
        sqlite3 *db = m_connection->handle();
        const bool ownTransaction = sqlite3_get_autocommit(db);
        if (ownTransaction)
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = first; i < last; ++i) {
            sqlite3_bind_int64(q, 1, m_rowids[i]);
            // A row deleted by another program meanwhile reads as empty.
            if (sqlite3_step(q) == SQLITE_ROW) {
                for (int c = 0; c < FieldCount; ++c)
                    block.rows[i - first][c] = columnValue(q, c);
            }
            sqlite3_reset(q);
        }
        if (ownTransaction)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        it = m_cache.emplace(blockNo, std::move(block)).first;
    }
    it->second.lastUse = ++m_useClock;
    return it->second.rows[position - blockNo * BlockRows];
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
                bindText(q.get(), i + 1, values.value(fields[i]));
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
                Prepared q(m_connection->prepare(
                    QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?%3").arg(tableName(), sets.join(u',')).arg(fields.size() + 1)));
                for (int i = 0; i < fields.size(); ++i)
                    bindText(q.get(), i + 1, values.value(fields[i]));
                sqlite3_bind_int64(q.get(), fields.size() + 1, m_rowids[m_current]);
                if (sqlite3_step(q.get()) != SQLITE_DONE)
                    m_connection->fail(what);
                if (sqlite3_changes(m_connection->handle()) != 1)
                    throw Error(QStringLiteral("%1\n%2\n(このデータは他のプログラムで削除されています)")
                                    .arg(what, m_connection->path()));
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
        Prepared q(m_connection->prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(tableName())));
        sqlite3_bind_int64(q.get(), 1, m_rowids[m_current]);
        if (sqlite3_step(q.get()) != SQLITE_DONE)
            m_connection->fail(what);
    });
    m_rowids.erase(m_rowids.begin() + m_current);
    m_current = -1;
    m_mode = EditMode::None;
    forgetCache();
}

} // namespace store
