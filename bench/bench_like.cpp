// Times the store's LIKE. See BENCHMARKS.md and run_like.sh.
//
// Usage:
//   bench_like worst [RUNS]          single comparisons on hostile inputs of up
//                                    to 100,000 characters
//   bench_like search BR.mdb [RUNS]  field searches over a whole collection
//
// Each figure is the median of RUNS (default 5) runs in milliseconds; the
// previous matcher, quadratic on the hostile inputs, runs once. Output: one
// line per row, fields separated by '|'.

#include "like_reference.h"
#include "store/connection.h"
#include "store/like.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <sqlite3.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double timeMs(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

double medianMs(int runs, const std::function<void()> &f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(timeMs(f));
    return median(times);
}

// ---- single comparisons -------------------------------------------------

struct Pair {
    const char *name;
    QString pattern, text;
};

QString repeat(const char *piece, int times) { return QString::fromUtf8(piece).repeated(times); }

std::vector<Pair> hostilePairs()
{
    const QString a100k = repeat("a", 100000);
    // 100,000 different characters: CJK ideographs and on, surrogates skipped.
    QString distinct;
    for (char32_t c = 0x4E00, n = 0; n < 100000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        distinct += QString::fromUcs4(&c, 1);
        ++n;
    }
    // 16,000 classes of six neighbouring ideographs each, all different.
    QString classes = QStringLiteral("*");
    QRandomGenerator rng(1);
    for (int i = 0; i < 16000; ++i) {
        const char32_t lo = 0x4E00 + rng.bounded(20000), hi = lo + 5;
        classes += u'[' + QString::fromUcs4(&lo, 1) + u'-' + QString::fromUcs4(&hi, 1) + u']';
    }
    classes += QStringLiteral("#*");
    // 25,000 classes each refusing one different ideograph: every block of
    // the search stays busy on every character.
    QString refusing = QStringLiteral("*");
    for (char32_t c = 0x4E00; c < 0x4E00 + 25000; ++c)
        refusing += QStringLiteral("[!") + QString::fromUcs4(&c, 1) + u']';
    refusing += QStringLiteral("\u3042*");
    return {
        {"keyword of 30,000 a + b in 100,000 a (no hit)", u'*' + repeat("a", 30000) + QStringLiteral("b*"), a100k},
        {"the same, text in upper case (folded)", u'*' + repeat("a", 30000) + QStringLiteral("b*"),
         repeat("A", 100000)},
        {"keyword of 30,000 a + ?b in 100,000 a", u'*' + repeat("a", 30000) + QStringLiteral("?b*"), a100k},
        {"keyword of 99,998 a + ?b in 100,000 a", u'*' + repeat("a", 99998) + QStringLiteral("?b*"), a100k},
        {"20,000 classes [a-c] + # in 100,000 a", u'*' + repeat("[a-c]", 20000) + QStringLiteral("#*"), a100k},
        {"25,000 classes [!b] + b in 100,000 a", u'*' + repeat("[!b]", 25000) + QStringLiteral("b*"), a100k},
        {"16,000 different classes in 100,000 different characters", classes, distinct},
        {"25,000 classes [!x] (all different) + あ in 100,000 different characters", refusing, distinct},
        {"keyword of 49,999 ? + b in 100,000 different characters", u'*' + repeat("?", 49999) + QStringLiteral("b*"),
         distinct},
        {"30,000 stars *a then *b in 100,000 a", repeat("*a", 30000) + QStringLiteral("*b"), a100k},
        {"20,000 pieces *?a then *b in 100,000 a", repeat("*?a", 20000) + QStringLiteral("*b"), a100k},
        {"100,000 unclosed [ against 100,000 [", repeat("[", 100000), repeat("[", 100000)},
    };
}

void runWorst(int runs)
{
    for (const Pair &p : hostilePairs()) {
        const QByteArray utf8 = p.text.toUtf8();
        bool now = false, before = false;
        // One comparison as a statement's first row makes it: compile, match.
        const double ms = medianMs(runs, [&] {
            store::LikePattern like(p.pattern);
            now = like.matchesUtf8(utf8.constData(), size_t(utf8.size()));
        });
        const double foldMs = medianMs(runs, [&] { (void)store::foldForMatch(p.text).size(); });
        const double previousMs = timeMs([&] { before = likeref::Pattern(p.pattern).matches(p.text); });
        std::printf("%s|%d|%.1f|%.1f|%.1f|%s\n", p.name, int(p.pattern.size()), ms, previousMs, foldMs,
                    now == before ? (now ? "hit" : "no hit") : "DIFFERENT");
        std::fflush(stdout);
    }
}

// ---- searches over a collection ----------------------------------------

// A LIKE through UTF-16 only, so that SQLite converts every value: with
// likeref::Pattern the previous matcher as it was registered (text folded
// into a new string per row), with store::LikePattern what registering
// today's matcher for UTF-16 alone would cost.
template <typename Pattern> void utf16Like(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    auto text = [](sqlite3_value *v) {
        return QStringView(static_cast<const char16_t *>(sqlite3_value_text16(v)), sqlite3_value_bytes16(v) / 2);
    };
    auto *pattern = static_cast<Pattern *>(sqlite3_get_auxdata(ctx, 0));
    std::unique_ptr<Pattern> fresh;
    if (!pattern) {
        fresh = std::make_unique<Pattern>(text(argv[0]));
        pattern = fresh.get();
    }
    sqlite3_result_int(ctx, pattern->matches(text(argv[1])));
    if (fresh)
        sqlite3_set_auxdata(ctx, 0, fresh.release(), [](void *d) { delete static_cast<Pattern *>(d); });
}

sqlite3 *openPlain(const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        std::exit(1);
    }
    sqlite3_exec(db, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
    return db;
}

// Runs the statement with `bound` as ?1 to the end; returns the rows.
int countRows(sqlite3 *db, const QString &sql, const QString &bound)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(sql), sqlite3_errmsg(db));
        std::exit(1);
    }
    sqlite3_bind_text16(st, 1, bound.utf16(), int(bound.size() * 2), SQLITE_TRANSIENT);
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
        ++rows;
    sqlite3_finalize(st);
    return rows;
}

void runSearch(const QString &path, int runs)
{
    const auto store = store::Connection::open(path);
    sqlite3 *utf16 = openPlain(path), *previous = openPlain(path), *plain = openPlain(path);
    sqlite3_create_function_v2(utf16, "like", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                               utf16Like<store::LikePattern>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(previous, "like", 2, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                               utf16Like<likeref::Pattern>, nullptr, nullptr, nullptr);
    struct Search {
        const char *field, *keyword, *what;
    };
    const Search searches[] = {
        {"書名", "の", "hiragana: bytes when the title needs no folding"},
        {"書名", "ハンドブック", "katakana: folded to hiragana"},
        {"著者名", "O'Brien", "ASCII letters: folded where the name has capitals"},
        {"出版年", "198", "numbers: their decimal text"},
        {"書名", "第#巻", "a wildcard: folded, Shift-And"},
        {"キーワード", "zz", "no hit"},
    };
    for (const Search &s : searches) {
        const QString field = QString::fromUtf8(s.field), keyword = QString::fromUtf8(s.keyword);
        const QString like = QStringLiteral("SELECT rowid FROM tabel WHERE [%1] LIKE ?1").arg(field);
        const QString pattern = u'*' + keyword + u'*';
        // SQLite's own LIKE ('%' for any run; ASCII case only) and instr().
        QString sqlitePattern = QStringLiteral("%") + keyword + QStringLiteral("%");
        sqlitePattern.replace(u'#', u'_');
        const QString instr = QStringLiteral("SELECT rowid FROM tabel WHERE instr([%1], ?1) > 0").arg(field);
        int hits = 0, hits16 = 0, hitsBefore = 0, hitsSqlite = 0;
        const bool hasInstr = !keyword.contains(u'#');
        countRows(store->handle(), like, pattern); // warm the page cache
        // The variants take turns, so that the machine's ups and downs fall
        // on all of them alike.
        std::vector<double> t, t16, tBefore, tSqlite, tInstr;
        for (int r = 0; r < runs; ++r) {
            t.push_back(timeMs([&] { hits = countRows(store->handle(), like, pattern); }));
            t16.push_back(timeMs([&] { hits16 = countRows(utf16, like, pattern); }));
            tBefore.push_back(timeMs([&] { hitsBefore = countRows(previous, like, pattern); }));
            tSqlite.push_back(timeMs([&] { hitsSqlite = countRows(plain, like, sqlitePattern); }));
            if (hasInstr)
                tInstr.push_back(timeMs([&] { (void)countRows(plain, instr, keyword); }));
        }
        const double ms = median(t), ms16 = median(t16), msBefore = median(tBefore), msSqlite = median(tSqlite),
                     msInstr = median(tInstr);
        std::printf("%s|%s|%s|%d|%.1f|%.1f|%.1f|%.1f|%.1f|%d|%s\n", s.field, s.keyword, s.what, hits, ms, ms16,
                    msBefore, msSqlite, msInstr, hitsSqlite,
                    hits == hits16 && hits == hitsBefore ? "same hits" : "DIFFERENT HITS");
        std::fflush(stdout);
    }
    sqlite3_close(utf16);
    sqlite3_close(previous);
    sqlite3_close(plain);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 2 && args[1] == QStringLiteral("worst")) {
        runWorst(args.size() > 2 ? args[2].toInt() : 5);
        return 0;
    }
    if (args.size() >= 3 && args[1] == QStringLiteral("search")) {
        runSearch(args[2], args.size() > 3 ? args[3].toInt() : 5);
        return 0;
    }
    std::fprintf(stderr, "usage: bench_like worst [RUNS] | bench_like search BR.mdb [RUNS]\n");
    return 2;
}
