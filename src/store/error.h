#pragma once

#include <QString>
#include <stdexcept>

namespace store {

// A failure of the book store. message() is the user-facing text, in
// Japanese, naming what failed and the database file involved.
class Error : public std::runtime_error {
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

} // namespace store
