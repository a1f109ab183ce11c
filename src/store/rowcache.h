#pragma once

#include "store/booktable.h"

#include <QVariant>
#include <array>
#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

namespace store {

// One book's nine fields: a null QVariant for NULL, qlonglong or double for
// numbers, QString for text.
using Row = std::array<QVariant, FieldCount>;

// Reads rows by their row numbers, for a RowCache.
class RowReader {
public:
    virtual ~RowReader() = default;
    // Runs `reads` as one batch (one read transaction of the file): kept
    // when `reads` returns true, abandoned when it returns false or throws.
    virtual void batch(const std::function<bool()> &reads) = 0;
    // Reads one row into `row`: false when there is no such row (another
    // program deleted it); throws store::Error when it cannot be read.
    virtual bool read(qint64 rowid, Row &row) = 0;
};

// The rows of a list of row numbers, read in blocks as they are asked for
// and kept, a bounded number of blocks at a time: a list of any length
// costs the memory of the blocks seen last.
//
// Asking for a row reads it and the rows after it in its block, in one
// batch. A row that cannot be read ends the batch: the rows read before it
// are kept; it and the rows after it are read again when next asked for,
// and when it is the row asked for its error is thrown. A row deleted
// meanwhile reads as empty.
class RowCache {
public:
    explicit RowCache(int blockRows = 256, std::size_t maxBlocks = 64);

    // The row at `position` of `rowids`; an empty row outside it. Throws
    // store::Error (see above).
    const Row &row(RowReader &reader, std::span<const qint64> rowids, int position);
    // Forgets every row read (after a write, or when the list changes).
    void clear() { m_blocks.clear(); }

private:
    struct Block {
        std::vector<Row> rows;
        std::vector<bool> read; // rows not read yet, or not readable, are false
        quint64 lastUse = 0;
    };
    void readFrom(RowReader &reader, Block &block, std::span<const qint64> rowids, std::size_t from);

    int m_blockRows;
    std::size_t m_maxBlocks;
    std::unordered_map<int, Block> m_blocks;
    quint64 m_useClock = 0;
};

} // namespace store
