#pragma once

#include <QByteArray>
#include <QIODevice>
#include <string>
#include <vector>

namespace exporting {

// Reads the records of a CSV file one at a time, as RFC 4180 and Excel
// write them: fields separated by commas, a field in double quotes may
// hold commas, line breaks and doubled quotes; lines end in CR LF, LF or a
// lone CR. The file is read in blocks, so a file of any size takes little
// memory. The fields are the file's bytes, not decoded yet: in UTF-8 and in
// Shift_JIS no byte of a double-byte character is a comma, a quote or a
// line break, so the structure is found the same way in both.
class RecordReader {
public:
    enum class Status {
        Record,       // a record was read: fields(), line()
        End,          // no more records
        Unterminated, // the file ended inside a quoted field begun on line()
        ReadError,    // the device failed (QIODevice::errorString())
    };

    // `skipBom`: a UTF-8 byte order mark at the start is not part of the text.
    RecordReader(QIODevice &in, bool skipBom);

    Status next();
    // The fields of the record just read; only the first fieldCount() count.
    const std::vector<std::string> &fields() const { return m_fields; }
    size_t fieldCount() const { return m_count; }
    // The record has nothing in it: a line without any character, or only
    // commas (as spreadsheets write an empty row); "" counts as something.
    bool blank() const
    {
        for (size_t i = 0; i < m_count; ++i) {
            if (!m_fields[i].empty())
                return false;
        }
        return !m_quoted;
    }
    // Text stood between a closing quote and the next comma or line end.
    bool strayText() const { return m_stray; }
    // The line (counted from 1) on which the record just read begins.
    qint64 line() const { return m_recordLine; }
    // How many bytes of the file have been read.
    qint64 bytesRead() const { return m_consumed; }

private:
    bool fill();
    int peek();
    std::string &newField();

    QIODevice &m_in;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_consumed = 0;
    bool m_eof = false;
    bool m_failed = false;
    bool m_atStart;
    qint64 m_line = 1;
    qint64 m_recordLine = 1;
    std::vector<std::string> m_fields;
    size_t m_count = 0;
    bool m_quoted = false;
    bool m_stray = false;
};

} // namespace exporting
