#pragma once

#include "store/booktable.h"

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

// The book table lacks a field that a statement or a screen names; `where`
// is the file or the statement involved.
inline Error missingFieldError(const QString &field, const QString &where = QString())
{
    QString text = QStringLiteral("表 %1 に項目「%2」がありません。").arg(tableName(), field);
    if (!where.isEmpty())
        text += u'\n' + where;
    return Error(text);
}

} // namespace store
