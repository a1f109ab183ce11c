#include "app/backupcommands.h"

#include "store/backup.h"
#include "store/error.h"
#include "store/module1.h"

#include <QDir>
#include <QTextStream>

namespace app {

namespace {

// Runs a command of the backups; its failure becomes one line on standard
// error: what failed, the file and the cause.
template <typename F> int run(QTextStream &out, QTextStream &err, F &&body)
{
    try {
        // Throws when the folder of the collection cannot be named.
        store::computeDatabasePath();
        const QString path = body(store::Backups(store::databasePath()));
        if (!path.isEmpty())
            out << QDir::toNativeSeparators(path) << Qt::endl;
        return 0;
    } catch (const store::Error &e) {
        err << "bukurea: " << e.message().split(u'\n').join(u' ') << Qt::endl;
        return 1;
    }
}

} // namespace

int backupCommand(const QStringList &, QTextStream &out, QTextStream &err)
{
    return run(out, err, [](store::Backups backups) { return backups.make(); });
}

int restoreCommand(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    return run(out, err, [&](store::Backups backups) { return backups.restore(arguments.at(0)); });
}

} // namespace app
