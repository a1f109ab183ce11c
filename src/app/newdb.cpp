// bukurea_newdb PATH: makes an empty book database at PATH unless a file
// is already there. An existing collection is never opened or changed.
#include "store/durablefile.h"
#include "store/error.h"
#include "store/places.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bukurea_newdb PATH\n");
        return 2;
    }
    const QString path = QFile::decodeName(argv[1]);
    if (QFile::exists(path))
        return 0;
    // Built under a temporary name of our own and renamed without replacing,
    // so an interrupted build never leaves a half-made database behind and
    // a collection made meanwhile is kept.
    namespace durable = store::durable;
    durable::TempFile temp(path);
    int rc = temp.error();
    if (rc == 0)
        rc = temp.closeHandle();
    try {
        if (rc == 0)
            store::createEmptyCollection(temp.path());
    } catch (const store::Error &e) {
        std::fprintf(stderr, "bukurea_newdb: %s\n", e.message().split(u'\n').join(u' ').toUtf8().constData());
        return 1;
    }
    if (rc == 0)
        rc = temp.commit(durable::Replace::Never);
    if (rc != 0 && rc != EEXIST) {
        std::fprintf(stderr, "bukurea_newdb: %s: %s\n", argv[1], store::systemReason(rc).toUtf8().constData());
        return 1;
    }
    return 0;
}
