#pragma once

#include "store/connection.h"
#include "store/statement.h"

#include <QHash>
#include <QObject>
#include <QVariant>
#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

namespace store {

// The rows of one record source, opened on a connection.
//
// On opening, only the rowids of the result are read, in the result's
// order: that gives the true count at once and lets any row be reached,
// however large the result. Row contents are fetched by rowid in blocks as
// they are needed and kept in a small cache.
//
// Operations without a current row: moves are no-ops, field texts read as
// empty, and edit(), update() of an edited row and deleteCurrent() throw
// store::Error (the screens check hasCurrent() first).
class RecordSet : public QObject {
    Q_OBJECT
public:
    enum class EditMode { None, Editing, Adding };
    using Row = std::array<QVariant, FieldCount>;

    // Runs the record source; throws store::Error.
    RecordSet(std::shared_ptr<Connection> connection, const QString &source);
    ~RecordSet() override;

    int recordCount() const { return int(m_rowids.size()); }
    int absolutePosition() const { return m_current; } // zero-based; -1 without a current row
    bool hasCurrent() const { return m_current >= 0; }

    void moveFirst();
    void movePrevious();
    void moveNext();
    void moveLast();
    void moveTo(int position);

    // A field of any row: a null QVariant for NULL, qlonglong or double for
    // numbers, QString for text. A row that cannot be read (the file is
    // locked by another program, damaged or gone) throws store::Error and
    // is tried again on the next call; a row that another program deleted
    // since the record set opened reads as empty.
    const Row &row(int position) const;
    QString text(int position, int column) const;
    // A field of the current row by name; NULL and no current row read "".
    // Throws like row().
    QString fieldText(const QString &name) const;

    EditMode editMode() const { return m_mode; }
    // Starts a new empty pending row; bound controls are emptied.
    void addNew();
    // Makes the current row editable.
    void edit();
    // Writes the pending row (new or edited) with the values given by
    // field name, as one transaction: when it returns the change is on
    // disk. Fields not given keep their value (a new row: NULL); empty
    // texts are stored as NULL; a number the column cannot hold exactly is
    // refused (see fieldValue()). A refused write leaves the row pending.
    void update(const QHash<QString, QString> &values);
    // Drops the pending row; nothing is written.
    void cancelUpdate();
    // Removes the current row from the table; afterwards there is no
    // current row until the next move. Exactly that row or nothing.
    void deleteCurrent();

signals:
    // Another row became current (every move that leaves a current row).
    void repositioned();
    // The pending row started or was dropped: bound controls must redisplay.
    void pendingChanged();

private:
    struct Block;
    void readRows(Block &block, int first, int from) const;
    void checkOneRowChanged(const QString &what) const;
    void requireCurrent(const QString &what) const;
    void setCurrent(int position);
    void forgetCache() const;

    std::shared_ptr<Connection> m_connection;
    std::vector<qint64> m_rowids;
    int m_current = -1;
    EditMode m_mode = EditMode::None;

    static constexpr int BlockRows = 256;
    static constexpr size_t MaxBlocks = 64;
    struct Block {
        std::vector<Row> rows;
        std::vector<bool> read; // rows not read yet, or not readable, are false
        quint64 lastUse = 0;
    };
    mutable std::unordered_map<int, Block> m_cache;
    mutable quint64 m_useClock = 0;
    mutable std::unique_ptr<Prepared> m_fetch;
};

} // namespace store
