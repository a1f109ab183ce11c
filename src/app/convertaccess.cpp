#include "app/convertaccess.h"

#include "store/accessconversion.h"

#include <QTextStream>

namespace app {

int convertAccessCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    qint64 books = 0;
    store::AccessConversionOptions options;
    options.progress = [&](qint64 done, qint64) { books = done; };
    // One line per problem, and nothing else, on standard error.
    options.log = [](const QByteArray &) {};
    try {
        store::convertAccessFile(arguments.at(0), arguments.at(1), options);
    } catch (const store::ConversionError &e) {
        err << "bukurea --convert-access: " << e.file() << ": " << e.reason() << Qt::endl;
        return 1;
    }
    out << arguments.at(1) << ": " << books << Qt::endl;
    return 0;
}

} // namespace app
