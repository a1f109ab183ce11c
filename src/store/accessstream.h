#pragma once

#include "store/accessprotocol.h"
#include "store/utf8.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <stdexcept>
#include <vector>

namespace store {

// A column of the table the Access reader streams.
struct AccessColumn {
    QString name;
    unsigned char jetType = 0; // access::JetType
    unsigned char scale = 0;
};

// One value of a row. `bytes` (Decimal, Text, Date, Blob) points into the
// parser's buffer and is valid only during the row call.
struct AccessValue {
    access::Kind kind = access::Kind::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArrayView bytes;
};

// The stream broke its rules, or the reader reported a failure.
class AccessStreamError : public std::runtime_error {
public:
    enum class Reason { Malformed, ReaderFailed };
    AccessStreamError(Reason reason, access::Failure failure, const QString &detail)
        : std::runtime_error(detail.toStdString()), reason(reason), failure(failure), detail(detail)
    {}
    Reason reason;
    access::Failure failure; // for ReaderFailed
    QString detail;          // for the log, not for the user
};

// Reads the stream of the Access reader (store/accessprotocol.h) piece by
// piece as it arrives. It trusts nothing it reads: any byte sequence either
// parses or ends in AccessStreamError, and no length read from the stream
// makes it allocate more than the bytes that actually arrived, within the
// limits of the protocol.
class AccessStreamParser {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void columns(const std::vector<AccessColumn> &columns, quint64 rowCountHint) = 0;
        virtual void row(const std::vector<AccessValue> &values) = 0;
    };

    explicit AccessStreamParser(Handler &handler) : m_handler(handler) {}

    // Takes the next bytes and hands every complete record to the handler.
    // Throws AccessStreamError; exceptions of the handler pass through.
    void feed(QByteArrayView data);
    // The input has ended: throws AccessStreamError unless the stream was
    // complete, with its end record.
    void finish() const;

    bool complete() const { return m_state == State::Done; }
    quint64 rows() const { return m_rows; }

private:
    enum class State { Magic, Table, Rows, Done };
    // Parses one record from the buffer; false when it has not fully arrived.
    bool parseRecord();
    [[noreturn]] static void malformed(const char *what);

    Handler &m_handler;
    State m_state = State::Magic;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    std::vector<AccessColumn> m_columns;
    std::vector<AccessValue> m_values;
    quint64 m_rows = 0;
};

} // namespace store
