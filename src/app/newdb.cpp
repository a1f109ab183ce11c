// bukurea_newdb PATH: makes an empty book database at PATH unless a file
// is already there. An existing collection is never opened or changed.
#include "store/booktable.h"

#include <sqlite3.h>

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
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, store::createTableStatement().toUtf8().constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "bukurea_newdb: %s: %s\n", temp.c_str(), sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    sqlite3_close(db);
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::fprintf(stderr, "bukurea_newdb: %s: %s\n", path.c_str(), ec.message().c_str());
        return 1;
    }
    return 0;
}
