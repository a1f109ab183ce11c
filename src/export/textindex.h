#pragma once

// Distinct texts kept one after another in one buffer, each found again by
// its contents through an open-addressing hash table. Text i is the i-th
// one added.

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <vector>

namespace exporting {

// A hash of `size` bytes, 8 at a time.
inline quint32 hashBytes(const void *data, size_t size)
{
    constexpr quint64 Mix = 0xFF51AFD7ED558CCDull;
    const auto *p = static_cast<const unsigned char *>(data);
    quint64 h = 0x9E3779B97F4A7C15ull ^ size;
    for (; size >= 8; p += 8, size -= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * Mix;
        h ^= h >> 32;
    }
    if (size > 0) {
        quint64 word = 0;
        std::memcpy(&word, p, size);
        h = (h ^ word) * Mix;
    }
    h ^= h >> 29;
    h *= 0xC4CEB9FE1A85EC53ull;
    return quint32(h ^ (h >> 32));
}

template <typename Char> class TextIndex {
public:
    TextIndex()
    {
        m_starts.push_back(0);
        m_slots.assign(1024, 0);
    }

    static quint32 hash(const Char *text, size_t size) { return hashBytes(text, size * sizeof(Char)); }

    // The index of the text, or -1 when it is not held.
    qint64 find(const Char *text, size_t size, quint32 hash) const
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t slot = hash & mask; m_slots[slot] != 0; slot = (slot + 1) & mask) {
            const quint64 entry = m_slots[slot];
            if (quint32(entry >> 32) != hash)
                continue;
            const quint32 index = quint32(entry) - 1;
            if (holds(index, text, size))
                return index;
        }
        return -1;
    }

    // Whether text `index` is the given text.
    bool holds(quint32 index, const Char *text, size_t size) const
    {
        return length(index) == size && std::equal(text, text + size, data(index));
    }

    // Adds a text that is not held yet; returns its index.
    quint32 add(const Char *text, size_t size, quint32 hash)
    {
        const quint32 index = count();
        m_pool.insert(m_pool.end(), text, text + size);
        m_starts.push_back(quint32(m_pool.size()));
        if (size_t(index + 1) * 2 > m_slots.size()) {
            // At most half the slots in use: twice as many, every text placed anew.
            std::vector<quint64> old(m_slots.size() * 2, 0);
            old.swap(m_slots);
            for (const quint64 entry : old) {
                if (entry != 0)
                    place(entry);
            }
        }
        place(quint64(hash) << 32 | (index + 1));
        return index;
    }

    // Adds a text that its caller knows is not held, without making it
    // findable: find() knows only the texts added by add() until
    // indexAll() is called.
    quint32 append(const Char *text, size_t size)
    {
        m_pool.insert(m_pool.end(), text, text + size);
        m_starts.push_back(quint32(m_pool.size()));
        return count() - 1;
    }
    // Makes every text findable, those added by append() too.
    void indexAll()
    {
        size_t wanted = 1024;
        while (wanted < size_t(count()) * 2 + 2)
            wanted *= 2;
        m_slots.assign(wanted, 0);
        for (quint32 i = 0; i < count(); ++i)
            place(quint64(hash(data(i), length(i))) << 32 | (i + 1));
    }

    quint32 count() const { return quint32(m_starts.size() - 1); }
    size_t length(quint32 index) const { return m_starts[index + 1] - m_starts[index]; }
    const Char *data(quint32 index) const { return m_pool.data() + m_starts[index]; }
    // Every text one after another, and where each begins (count() + 1 entries).
    const std::vector<Char> &pool() const { return m_pool; }
    const std::vector<quint32> &starts() const { return m_starts; }

private:
    // A slot holds a text's hash (high half) beside its index + 1, so that
    // a search passes over other texts without reading anything else.
    void place(quint64 entry)
    {
        const size_t mask = m_slots.size() - 1;
        size_t slot = size_t(entry >> 32) & mask;
        while (m_slots[slot] != 0)
            slot = (slot + 1) & mask;
        m_slots[slot] = entry;
    }

    std::vector<Char> m_pool;
    std::vector<quint32> m_starts;
    std::vector<quint64> m_slots; // hash << 32 | (text index + 1); 0 is a free slot
};

} // namespace exporting
