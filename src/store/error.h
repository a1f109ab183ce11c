#pragma once

#include "store/booktable.h"
#include "store/fileformat.h"

#include <QString>
#include <stdexcept>

namespace store {

// A failure of the book store. message() is the user-facing text, in
// Japanese, naming what failed and the database file involved.
class Error : public std::runtime_error {
public:
    explicit Error(const QString &message, const QString &reason = QString())
        : std::runtime_error(message.toStdString()), m_message(message), m_reason(reason)
    {}
    const QString &message() const { return m_message; }
    // The cause alone (without what failed and the file), where the message
    // has one; empty otherwise.
    const QString &reason() const { return m_reason; }

private:
    QString m_message;
    QString m_reason;
};

// Opening found a collection in the older Access (Jet) format, before any
// engine touched the file: it must be converted first.
class AccessFormatError : public Error {
public:
    AccessFormatError(const QString &path, FileFormat format)
        : Error(QStringLiteral("データベース ファイルは古い Access 形式です。\n%1").arg(path)),
          m_path(path),
          m_format(format)
    {}
    const QString &path() const { return m_path; }
    FileFormat format() const { return m_format; }

private:
    QString m_path;
    FileFormat m_format;
};

// The message of every failure that concerns a file: what failed, the file,
// and the reason in parentheses.
inline Error fileError(const QString &what, const QString &path, const QString &reason)
{
    return Error(QStringLiteral("%1\n%2\n（%3）").arg(what, path, reason), reason);
}

// Reasons about the book table, worded once. The user never sees the
// table's stored name, only what it holds.
QString missingTableReason();
QString missingFieldReason(const QString &field);
// A file that is a database but whose pages do not hold together.
QString damagedReason();

// The book table lacks a field that a statement or a screen names; `where`
// is the file or the statement involved.
inline Error missingFieldError(const QString &field, const QString &where = QString())
{
    QString text = missingFieldReason(field) + u'。';
    if (!where.isEmpty())
        text += u'\n' + where;
    return Error(text, missingFieldReason(field));
}

// The reason, in Japanese, for a failure of the database engine: its
// extended result code, the system's error number behind it (0 when none)
// and its own English message, which only tells apart some generic errors.
QString engineReason(int extendedCode, int systemError, const QString &engineMessage);

// The reason, in Japanese, for a failed system call (an errno value). Every
// message of the program words a system error through this one function.
QString systemReason(int systemError);

} // namespace store
