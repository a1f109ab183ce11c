#include "export/rowpipeline.h"

namespace exporting {

void RowBlock::add(qint64 position, const CellView *cells)
{
    m_positions.push_back(position);
    for (size_t c = 0; c < m_width; ++c) {
        const CellView &cell = cells[c];
        Stored s{cell.kind, false, cell.number, 0, 0};
        if (cell.kind == Cell::Kind::Text) {
            // A UTF-8 text is the writer's usual form; a text without one came as UTF-16.
            s.utf16 = cell.utf8.isEmpty();
            if (s.utf16) {
                s.offset = m_utf16.size();
                s.size = size_t(cell.text.size());
                m_utf16.insert(m_utf16.end(), cell.text.utf16(), cell.text.utf16() + cell.text.size());
            } else {
                s.offset = m_utf8.size();
                s.size = size_t(cell.utf8.size());
                m_utf8.insert(m_utf8.end(), cell.utf8.data(), cell.utf8.data() + cell.utf8.size());
            }
        }
        m_cells.push_back(s);
    }
}

const CellView *RowBlock::row(size_t i)
{
    for (size_t c = 0; c < m_width; ++c) {
        const Stored &s = m_cells[i * m_width + c];
        CellView &view = m_views[c];
        view = {s.kind, {}, s.number, {}};
        if (s.kind != Cell::Kind::Text)
            continue;
        if (s.utf16)
            view.text = QStringView(m_utf16.data() + s.offset, qsizetype(s.size));
        else
            view.utf8 = QByteArrayView(m_utf8.data() + s.offset, qsizetype(s.size));
    }
    return m_views.data();
}

void RowBlock::clear()
{
    m_positions.clear();
    m_cells.clear();
    m_utf8.clear();
    m_utf16.clear();
}

RowPipeline::RowPipeline(size_t width, std::function<bool(RowBlock &)> consume)
    : m_consume(std::move(consume)), m_filling(std::make_unique<RowBlock>(width))
{
    for (size_t i = 0; i < Waiting + 1; ++i)
        m_free.push_back(std::make_unique<RowBlock>(width));
    m_thread = std::thread([this] { run(); });
}

RowPipeline::~RowPipeline()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool RowPipeline::add(qint64 position, const CellView *cells)
{
    m_filling->add(position, cells);
    return m_filling->rows() < BlockRows || handOver();
}

bool RowPipeline::finish()
{
    if (m_filling->rows() > 0)
        handOver();
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
    m_thread.join();
    if (m_thrown)
        std::rethrow_exception(m_thrown);
    return !m_stopped;
}

bool RowPipeline::handOver()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || !m_free.empty(); });
    if (m_stopped)
        return false;
    m_full.push_back(std::move(m_filling));
    m_filling = std::move(m_free.back());
    m_free.pop_back();
    lock.unlock();
    m_changed.notify_all();
    return true;
}

void RowPipeline::run()
{
    for (;;) {
        std::unique_ptr<RowBlock> block;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopped || m_closed || !m_full.empty(); });
            if (m_stopped || m_full.empty())
                return;
            block = std::move(m_full.front());
            m_full.pop_front();
        }
        bool more = false;
        try {
            more = m_consume(*block);
        } catch (...) {
            m_thrown = std::current_exception();
        }
        block->clear();
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(std::move(block));
            m_stopped = m_stopped || !more;
        }
        m_changed.notify_all();
    }
}

void RowPipeline::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

} // namespace exporting
