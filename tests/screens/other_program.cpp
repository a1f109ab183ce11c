// Another program on the same collection, run as a process of its own by
// the tests: a second instance of the application, a tool that writes to
// the file, or one that rewrites it in place.
//
//   other_program sql FILE STATEMENTS      runs the statements, one transaction
//   other_program wal FILE STATEMENTS      the same in write-ahead-log mode, then back to a
//                                          rollback journal
//   other_program wal-kept FILE STATEMENTS the same, the file left in write-ahead-log mode
//   other_program rewrite FILE SOURCE      writes SOURCE's bytes over FILE in place (the same inode)
//   other_program instance FOLDER          holds the instance lock of FOLDER, prints "held",
//                                          and keeps it until its standard input closes
#include "app/instancelock.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <sqlite3.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && !(argc == 3 && std::strcmp(argv[1], "instance") == 0)) {
        std::fprintf(stderr,
                     "usage: other_program sql|wal|wal-kept FILE STATEMENTS | rewrite FILE SOURCE | instance FOLDER\n");
        return 2;
    }
    const QString target = QString::fromUtf8(argv[2]);
    const bool walKept = std::strcmp(argv[1], "wal-kept") == 0;
    const bool wal = walKept || std::strcmp(argv[1], "wal") == 0;
    if (std::strcmp(argv[1], "sql") == 0 || wal) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            return 1;
        sqlite3_busy_timeout(db, 5000);
        QByteArray sql = QByteArray("BEGIN IMMEDIATE;") + argv[3] + ";COMMIT;";
        if (wal)
            sql = "PRAGMA journal_mode = WAL;" + sql + (walKept ? "" : "PRAGMA journal_mode = DELETE;");
        char *error = nullptr;
        const int rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error);
        if (rc != SQLITE_OK)
            std::fprintf(stderr, "other_program: %s\n", error);
        sqlite3_free(error);
        sqlite3_close(db);
        return rc == SQLITE_OK ? 0 : 1;
    }
    if (std::strcmp(argv[1], "rewrite") == 0) {
        QFile source(QString::fromUtf8(argv[3])), file(target);
        if (!source.open(QIODevice::ReadOnly) || !file.open(QIODevice::ReadWrite))
            return 1;
        const QByteArray bytes = source.readAll();
        return file.write(bytes) == bytes.size() && file.resize(bytes.size()) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "instance") == 0) {
        const app::InstanceLock lock(target);
        std::printf("held%s\n", lock.otherInstance() ? " beside another" : "");
        std::fflush(stdout);
        char buffer[64];
        while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
        }
        return 0;
    }
    return 2;
}
