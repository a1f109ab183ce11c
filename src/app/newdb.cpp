// bukurea_newdb PATH: makes an empty book database at PATH unless a file
// is already there. An existing collection is never opened or changed.
#include "store/error.h"
#include "store/places.h"

#include <QFile>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bukurea_newdb PATH\n");
        return 2;
    }
    const std::filesystem::path path = argv[1];
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return 0;
    // Built under a temporary name and renamed, so an interrupted build
    // never leaves a half-made database behind.
    const std::filesystem::path temp = path.string() + ".new";
    std::filesystem::remove(temp, ec);
    try {
        store::createEmptyCollection(QFile::decodeName(temp.c_str()));
    } catch (const store::Error &e) {
        std::fprintf(stderr, "bukurea_newdb: %s\n", e.message().split(u'\n').join(u' ').toUtf8().constData());
        return 1;
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::fprintf(stderr, "bukurea_newdb: %s: %s\n", path.c_str(), ec.message().c_str());
        return 1;
    }
    return 0;
}
