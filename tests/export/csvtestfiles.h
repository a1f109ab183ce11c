#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Files of the CSV tests, written and read back as bytes.
namespace csvtest {

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QString u(const char *utf8) { return QString::fromUtf8(utf8); }

} // namespace csvtest
