#include "export/csvreader.h"

#include <cstring>

namespace exporting {

namespace {
constexpr qint64 BlockSize = 1 << 16;
}

RecordReader::RecordReader(QIODevice &in, bool skipBom) : m_in(in), m_atStart(skipBom) {}

bool RecordReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (m_eof)
        return false;
    m_buffer.resize(BlockSize);
    const qint64 n = m_in.read(m_buffer.data(), BlockSize);
    if (n <= 0) {
        m_buffer.clear();
        m_pos = 0;
        m_eof = true;
        m_failed = n < 0;
        return false;
    }
    m_buffer.resize(n);
    m_pos = 0;
    m_consumed += n;
    return true;
}

// The next byte without taking it, or -1 at the end of the file.
int RecordReader::peek() { return fill() ? static_cast<unsigned char>(m_buffer[m_pos]) : -1; }

std::string &RecordReader::newField()
{
    if (m_count == m_fields.size())
        m_fields.emplace_back();
    std::string &f = m_fields[m_count++];
    f.clear();
    return f;
}

RecordReader::Status RecordReader::next()
{
    if (m_atStart) {
        m_atStart = false;
        // The mark may straddle nothing but the first block.
        if (fill() && m_buffer.startsWith(QByteArrayView("\xEF\xBB\xBF")))
            m_pos += 3;
    }
    m_count = 0;
    m_stray = false;
    m_quoted = false;
    if (peek() < 0)
        return m_failed ? Status::ReadError : Status::End;
    m_recordLine = m_line;
    for (;;) {
        std::string &field = newField();
        bool quoted = peek() == '"';
        if (quoted) {
            m_quoted = true;
            ++m_pos;
            for (;;) {
                if (!fill())
                    return m_failed ? Status::ReadError : Status::Unterminated;
                const char *begin = m_buffer.constData() + m_pos;
                const char *end = m_buffer.constData() + m_buffer.size();
                const char *quote = static_cast<const char *>(std::memchr(begin, '"', size_t(end - begin)));
                const char *stop = quote ? quote : end;
                for (const char *p = begin; p < stop; ++p) {
                    // Line breaks inside the field still count as lines of
                    // the file, so that later records are named rightly (a
                    // CR at the end of a block is taken as the start of CR LF).
                    if (*p == '\n' || (*p == '\r' && p + 1 < end && p[1] != '\n'))
                        ++m_line;
                }
                field.append(begin, size_t(stop - begin));
                m_pos += stop - begin;
                if (!quote)
                    continue;
                ++m_pos;
                if (peek() == '"') { // a doubled quote
                    field.push_back('"');
                    ++m_pos;
                    continue;
                }
                break;
            }
        }
        // Up to the comma or line end; after a closing quote only stray text.
        for (;;) {
            if (!fill()) {
                if (m_failed)
                    return Status::ReadError;
                return Status::Record;
            }
            const char *begin = m_buffer.constData() + m_pos;
            const char *end = m_buffer.constData() + m_buffer.size();
            const char *p = begin;
            while (p < end && *p != ',' && *p != '\n' && *p != '\r')
                ++p;
            if (p > begin) {
                if (quoted)
                    m_stray = true;
                else
                    field.append(begin, size_t(p - begin));
            }
            m_pos += p - begin;
            if (p == end)
                continue;
            ++m_pos;
            if (*p == ',')
                break;
            // A line end: CR LF counts as one.
            if (*p == '\r' && peek() == '\n')
                ++m_pos;
            ++m_line;
            return Status::Record;
        }
    }
}

} // namespace exporting
