#include "store/rowcache.h"

#include "store/error.h"

#include <algorithm>

namespace store {

RowCache::RowCache(int blockRows, std::size_t maxBlocks)
    : m_blockRows(std::max(1, blockRows)), m_maxBlocks(std::max<std::size_t>(1, maxBlocks))
{}

const Row &RowCache::row(RowReader &reader, std::span<const qint64> rowids, int position)
{
    static const Row empty{};
    const auto count = qsizetype(rowids.size());
    if (position < 0 || position >= count)
        return empty;
    const int number = position / m_blockRows;
    const qsizetype first = qsizetype(number) * m_blockRows;
    const auto size = std::size_t(std::min<qsizetype>(count - first, m_blockRows));
    auto it = m_blocks.find(number);
    if (it == m_blocks.end()) {
        if (m_blocks.size() >= m_maxBlocks) {
            const auto oldest = std::min_element(m_blocks.begin(), m_blocks.end(), [](const auto &a, const auto &b) {
                return a.second.lastUse < b.second.lastUse;
            });
            m_blocks.erase(oldest);
        }
        it = m_blocks.emplace(number, Block{}).first;
    }
    Block &block = it->second;
    // The list may have grown since the block was made (a row added at its
    // end): the block grows with it.
    if (block.rows.size() < size) {
        block.rows.resize(size);
        block.read.resize(size);
    }
    block.lastUse = ++m_useClock;
    const auto at = std::size_t(position - first);
    if (!block.read[at])
        readFrom(reader, block, rowids.subspan(std::size_t(first), size), at);
    return block.rows[at];
}

void RowCache::readFrom(RowReader &reader, Block &block, std::span<const qint64> rowids, std::size_t from)
{
    reader.batch([&] {
        for (std::size_t i = from; i < block.rows.size(); ++i) {
            if (block.read[i])
                continue;
            try {
                if (!reader.read(rowids[i], block.rows[i]))
                    block.rows[i] = Row{}; // deleted meanwhile
            } catch (const Error &) {
                if (i == from)
                    throw;
                // After a failure the batch cannot always be kept: it is
                // abandoned, and the rows from here on are read again later.
                return false;
            }
            block.read[i] = true;
        }
        return true;
    });
}

} // namespace store
