#pragma once

// Rows handed from the thread that reads them to a second thread that
// encodes them, in blocks: the reading (the database engine) and the
// encoding (finding each text, building the records) then take one core
// each instead of taking turns on one.

#include "export/biff8_writer.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace exporting {

// Rows of cells of the same width, each with its position in the list,
// copied out of whatever held them (the engine's row is gone once the next
// one is read). A text keeps the form it came in, UTF-8 or UTF-16, so the
// writer treats it exactly as it would have treated the original cell.
class RowBlock {
public:
    explicit RowBlock(size_t width) : m_width(width), m_views(width) {}

    void add(qint64 position, const CellView *cells);
    size_t rows() const { return m_positions.size(); }
    qint64 position(size_t i) const { return m_positions[i]; }
    size_t width() const { return m_width; }
    // Row i as views into this block, valid until the next call.
    const CellView *row(size_t i);
    // Empties the block, keeping its memory for the next rows.
    void clear();

private:
    struct Stored {
        Cell::Kind kind;
        bool utf16;
        double number;
        size_t offset, size;
    };
    size_t m_width;
    std::vector<qint64> m_positions;
    std::vector<Stored> m_cells;
    std::vector<char> m_utf8;
    std::vector<char16_t> m_utf16;
    std::vector<CellView> m_views;
};

// The encoding thread and the blocks on their way to it. add() copies a row
// into the block being filled and hands each full block over; at most a few
// blocks wait, so a reader faster than the encoder waits for it instead of
// holding the whole list in memory. `consume` runs on the encoding thread,
// block after block in order, and stops everything by returning false (or
// throwing). Nothing of the caller's thread is touched from there.
class RowPipeline {
public:
    // Rows per block, and blocks that may wait for the encoder.
    static constexpr size_t BlockRows = 1024, Waiting = 4;

    RowPipeline(size_t width, std::function<bool(RowBlock &)> consume);
    // Stops the encoder without waiting for the rows not yet encoded.
    ~RowPipeline();
    RowPipeline(const RowPipeline &) = delete;
    RowPipeline &operator=(const RowPipeline &) = delete;

    // Appends the row at `position`; false once the encoder has stopped
    // (then nothing more is taken).
    bool add(qint64 position, const CellView *cells);
    // Hands over the last rows and waits until every row is encoded. False
    // when the encoder stopped early; an exception it threw is thrown here.
    bool finish();

private:
    bool handOver();
    void run();
    void stop();

    std::function<bool(RowBlock &)> m_consume;
    std::unique_ptr<RowBlock> m_filling;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<RowBlock>> m_full;  // waiting for the encoder, in order
    std::vector<std::unique_ptr<RowBlock>> m_free; // encoded, ready to be filled again
    bool m_closed = false;                         // no more blocks will come
    bool m_stopped = false;                        // the encoder takes no more
    std::exception_ptr m_thrown;
    std::thread m_thread;
};

} // namespace exporting
