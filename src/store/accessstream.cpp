#include "store/accessstream.h"

#include <cstring>

namespace store {

using namespace access;

namespace {

// Reads little-endian fields from the unparsed part of the buffer; every
// read says whether the bytes are there yet.
class Cursor {
public:
    Cursor(const QByteArray &b, qsizetype pos) : m_p(b.constData()), m_end(b.size()), m_pos(pos) {}
    qsizetype pos() const { return m_pos; }
    bool has(qsizetype n) const { return m_end - m_pos >= n; }
    template <typename T> bool read(T &v)
    {
        if (!has(qsizetype(sizeof(T))))
            return false;
        v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= T(static_cast<unsigned char>(m_p[m_pos + qsizetype(i)])) << (8 * i);
        m_pos += qsizetype(sizeof(T));
        return true;
    }
    bool bytes(qsizetype n, QByteArrayView &out)
    {
        if (!has(n))
            return false;
        out = QByteArrayView(m_p + m_pos, n);
        m_pos += n;
        return true;
    }

private:
    const char *m_p;
    qsizetype m_end;
    qsizetype m_pos;
};

bool isDecimal(QByteArrayView v)
{
    if (v.isEmpty())
        return false;
    qsizetype i = v.front() == '-' ? 1 : 0;
    bool digit = false, point = false;
    for (; i < v.size(); ++i) {
        if (v[i] >= '0' && v[i] <= '9')
            digit = true;
        else if (v[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

bool isDateText(QByteArrayView v)
{
    // YYYY-MM-DDTHH:MM:SS[.mmm]
    static const char shape[] = "0000-00-00T00:00:00.000";
    if (v.size() != 19 && v.size() != 23)
        return false;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (shape[i] == '0' ? (v[i] < '0' || v[i] > '9') : v[i] != shape[i])
            return false;
    }
    return true;
}

} // namespace

void AccessStreamParser::malformed(const char *what)
{
    throw AccessStreamError(AccessStreamError::Reason::Malformed, Failure::Internal, QString::fromLatin1(what));
}

void AccessStreamParser::feed(QByteArrayView data)
{
    if (data.isEmpty())
        return;
    if (m_state == State::Done)
        malformed("bytes after the end record");
    // Drop what was parsed before adding more, so the buffer holds at most
    // one incomplete record and the new bytes.
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(data);
    while (m_state != State::Done && parseRecord()) {
    }
    if (m_state == State::Done && m_pos != m_buffer.size())
        malformed("bytes after the end record");
    if (m_buffer.size() - m_pos > qsizetype(MaxRowBytes) + 16)
        malformed("a record larger than the limit");
}

void AccessStreamParser::finish() const
{
    if (m_state != State::Done)
        malformed(m_state == State::Magic && m_buffer.isEmpty() ? "no stream at all" : "the stream ended early");
}

bool AccessStreamParser::parseRecord()
{
    Cursor c(m_buffer, m_pos);
    if (m_state == State::Magic) {
        QByteArrayView magic;
        quint8 version;
        if (!c.bytes(sizeof Magic, magic))
            return false;
        if (std::memcmp(magic.data(), Magic, sizeof Magic) != 0)
            malformed("no stream header");
        if (!c.read(version))
            return false;
        if (version != Version)
            malformed("another version of the stream");
        m_pos = c.pos();
        m_state = State::Table;
        return true;
    }

    quint8 tag;
    if (!c.read(tag))
        return false;
    if (tag == FailureTag) {
        quint8 code;
        quint16 length;
        QByteArrayView detail;
        if (!c.read(code) || !c.read(length))
            return false;
        if (length > MaxDetailBytes)
            malformed("a failure record too long");
        if (!c.bytes(length, detail))
            return false;
        if (code < quint8(Failure::Usage) || code > quint8(Failure::Internal))
            malformed("a failure of unknown kind");
        throw AccessStreamError(AccessStreamError::Reason::ReaderFailed, Failure(code), QString::fromUtf8(detail));
    }

    if (m_state == State::Table) {
        if (tag != TableTag)
            malformed("a record before the table");
        quint16 count;
        if (!c.read(count))
            return false;
        if (count == 0 || count > MaxColumns)
            malformed("a table without columns or with too many");
        std::vector<AccessColumn> columns;
        columns.reserve(count);
        for (quint16 i = 0; i < count; ++i) {
            quint16 length;
            QByteArrayView name;
            AccessColumn column;
            if (!c.read(length))
                return false;
            if (length == 0 || length > MaxNameBytes)
                malformed("a column name empty or too long");
            if (!c.bytes(length, name) || !c.read(column.jetType) || !c.read(column.scale))
                return false;
            if (!isValidUtf8(name))
                malformed("a column name that is not UTF-8");
            column.name = QString::fromUtf8(name);
            columns.push_back(std::move(column));
        }
        quint64 hint;
        if (!c.read(hint))
            return false;
        m_pos = c.pos();
        m_columns = std::move(columns);
        m_values.assign(m_columns.size(), AccessValue());
        m_state = State::Rows;
        m_handler.columns(m_columns, hint);
        return true;
    }

    // State::Rows
    if (tag == EndTag) {
        quint64 written;
        if (!c.read(written))
            return false;
        if (written != m_rows)
            malformed("the end record counts other rows than arrived");
        m_pos = c.pos();
        m_state = State::Done;
        return true;
    }
    if (tag != RowTag)
        malformed("a record of unknown kind");
    for (AccessValue &v : m_values) {
        quint8 kind;
        if (!c.read(kind))
            return false;
        v.kind = Kind(kind);
        v.bytes = {};
        switch (v.kind) {
        case Kind::Null: break;
        case Kind::Integer: {
            quint64 bits;
            if (!c.read(bits))
                return false;
            v.integer = qint64(bits);
            break;
        }
        case Kind::Real: {
            quint64 bits;
            if (!c.read(bits))
                return false;
            std::memcpy(&v.real, &bits, sizeof bits);
            break;
        }
        case Kind::Decimal:
        case Kind::Text:
        case Kind::Date:
        case Kind::Blob: {
            quint32 length;
            if (!c.read(length))
                return false;
            if (length > MaxValueBytes)
                malformed("a value larger than the limit");
            if (c.pos() - m_pos > qsizetype(MaxRowBytes))
                malformed("a row larger than the limit");
            if (!c.bytes(length, v.bytes))
                return false;
            if ((v.kind == Kind::Decimal && !isDecimal(v.bytes)) || (v.kind == Kind::Date && !isDateText(v.bytes))
                || (v.kind == Kind::Text && !isValidUtf8(v.bytes)))
                malformed("a value that does not read as its kind");
            break;
        }
        default: malformed("a value of unknown kind");
        }
    }
    if (c.pos() - m_pos > qsizetype(MaxRowBytes))
        malformed("a row larger than the limit");
    m_pos = c.pos();
    ++m_rows;
    m_handler.row(m_values);
    return true;
}

} // namespace store
