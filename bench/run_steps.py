#!/usr/bin/python3
"""The three data screens beside their floors, from 1,000 to 1,000,000 books.

Usage (from the repository root, after building bench_steps):
    bench/run_steps.py BUILD_DIR [SIZES...]     default sizes: 1000 10000 100000 1000000

For each size it makes a collection with ../shared/tools/make_books.py (kept
in $BENCH_DATA, default /tmp/bukurea-bench, and reused on later runs), copies
it to $BENCH_DATA/work/SIZE (the steps save, correct and delete books), times
the `sqlite3` command running the statements of each step on the copy, and
runs bench_steps on it, one process per screen. Each figure is the median of
$RUNS (default 5) iterations. Printed per size: every step in ms beside its
in-process floor and the sqlite3 command, with both ratios; at the end, how
each step grows with the collection.
"""
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# make_books.py: $MAKE_BOOKS, else shared/tools beside the checkout (or beside
# the folder of worktrees).
MAKER = os.environ.get("MAKE_BOOKS") or next(
    (p for p in (os.path.join(ROOT, "..", "shared", "tools", "make_books.py"),
                 os.path.join(ROOT, "..", "..", "shared", "tools", "make_books.py")) if os.path.exists(p)),
    os.path.join(ROOT, "..", "shared", "tools", "make_books.py"))
DATA = os.environ.get("BENCH_DATA", "/tmp/bukurea-bench")
RUNS = int(os.environ.get("RUNS", "5"))
# The screens to time (one process each), for a shorter run at large sizes.
GROUPS = os.environ.get("BENCH_GROUPS", "list registration edit").split()

OPEN_LIST = "select count(*) from tabel; select * from tabel order by 蔵書番号 asc;"
SEARCHES = [("search_title", "書名", "の"), ("search_author", "著者名", "田"), ("search_publisher", "出版社", "出版"),
            ("search_year", "出版年", "19"), ("search_category", "分類", "文学"), ("search_number", "蔵書番号", "7"),
            ("search_keyword", "キーワード", "猫"), ("search_lending", "貸出", "中"), ("search_place", "保管場所", "棚")]
FIRST = "(select min(rowid) from tabel)"
# Each step, what it is, and the statements the sqlite3 command runs for it.
STEPS = [
    ("registration_open_first", "registration: open, first in the process", "pragma table_info(tabel);"),
    ("registration_open", "registration: open", "pragma table_info(tabel);"),
    ("registration_save", "registration: save (新規登録)",
     "select rowid from tabel where 書名 = '計測の本'; insert into tabel values (999999999, '計測の本', '計測 太郎', '計測社', 2024, '9 文学', '書斎', '可', '計測');"),
    ("registration_save_after_another", "registration: save after another program added a book",
     "select rowid from tabel where 書名 = '計測の本'; insert into tabel values (999999999, '計測の本', '計測 太郎', '計測社', 2024, '9 文学', '書斎', '可', '計測');"),
    ("edit_open_first", "edit: open, first in the process", "select count(*) from tabel; select * from tabel limit 1;"),
    ("edit_open", "edit: open", "select count(*) from tabel; select * from tabel limit 1;"),
    ("edit_reopen", "edit: open again, file unchanged", "select count(*) from tabel; select * from tabel limit 1;"),
    ("edit_correct", "edit: correction (修正, Yes)", f"update tabel set 書名 = '修正した書名' where rowid = {FIRST};"),
    ("edit_delete", "edit: delete right after opening", f"delete from tabel where rowid = {FIRST};"),
    ("list_open_first", "list: open, first in the process", OPEN_LIST),
    ("list_open", "list: open", OPEN_LIST),
] + [(name, f"list: search {field} for {kw}", f"select * from tabel where {field} like '%{kw}%';")
     for name, field, kw in SEARCHES] + [
    ("sort_number_desc", "list: sort 蔵書番号 降順", "select * from tabel order by 蔵書番号 desc;"),
    ("sort_year_desc", "list: sort 出版年 降順", "select * from tabel order by 出版年 desc;"),
    ("sort_year_asc", "list: sort 出版年 昇順", "select * from tabel order by 出版年 asc;"),
    ("reset", "list: reset (昇順 under 蔵書番号)", OPEN_LIST),
    ("export", "list: export (Excelデータ変換)", "-csv select * from tabel order by 蔵書番号 asc;"),
    ("store_registration_open", "store alone: registration open", "pragma table_info(tabel);"),
    ("store_registration_save", "store alone: registration save",
     "insert into tabel values (999999999, '計測の本', '計測 太郎', '計測社', 2024, '9 文学', '書斎', '可', '計測');"),
    ("store_edit_open", "store alone: edit open", "select count(*) from tabel; select * from tabel limit 1;"),
    ("store_edit_delete", "store alone: delete", f"delete from tabel where rowid = {FIRST};"),
    ("store_count", "store alone: tabel, last row, count", "select count(*) from tabel;"),
    ("store_number_asc", "store alone: order by 蔵書番号 asc", "select * from tabel order by 蔵書番号 asc;"),
    ("store_search_title", "store alone: search 書名", "select * from tabel where 書名 like '%の%';"),
    ("store_search_year", "store alone: search 出版年", "select * from tabel where 出版年 like '%19%';"),
    ("store_number_desc", "store alone: order by 蔵書番号 desc", "select * from tabel order by 蔵書番号 desc;"),
    ("store_year_desc", "store alone: order by 出版年 desc", "select * from tabel order by 出版年 desc;"),
    ("store_year_asc", "store alone: order by 出版年 asc", "select * from tabel order by 出版年 asc;"),
]
GROWTH = ["registration_open", "registration_save", "edit_open", "edit_reopen", "edit_correct", "edit_delete", "list_open",
          "search_title", "search_year", "sort_number_desc", "sort_year_desc", "sort_year_asc", "reset", "export"]


def group_of(step):
    """The screen (bench_steps group) a step belongs to."""
    for group in ("registration", "edit"):
        if step.startswith(group) or step.startswith("store_" + group):
            return group
    return "list"


def cli_ms(db, sql):
    """Median wall time in ms of `sqlite3 DB SQL > /dev/null`, process start included."""
    args = ["sqlite3"]
    if sql.startswith("-csv "):
        args.append("-csv")
        sql = sql[5:]
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(args + [db, sql], stdout=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - start) * 1e3)
    return statistics.median(times)


def run_group(build, appdir, group):
    out = subprocess.run([os.path.join(build, "bench_steps"), appdir, group, str(RUNS)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    steps, infos = {}, {}
    for line in out.stdout.splitlines():
        parts = line.split()
        if parts[0] == "step":
            steps[parts[1]] = [float(x) for x in parts[2:]]
        elif parts[0] == "info":
            infos[parts[1]] = float(parts[2])
    if out.returncode != 0:
        sys.exit(f"bench_steps {group} failed on {appdir} (exit {out.returncode})")
    return steps, infos


def git(*args):
    try:
        return subprocess.run(["git", "-C", ROOT] + list(args), stdout=subprocess.PIPE, text=True).stdout.strip()
    except OSError:
        return "?"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    sizes = [int(s) for s in sys.argv[2:]] or [1000, 10000, 100000, 1000000]
    if not shutil.which("sqlite3"):
        sys.exit("install the sqlite3 command (apt-get install sqlite3)")
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    sqlite = subprocess.run(["sqlite3", "--version"], stdout=subprocess.PIPE, text=True).stdout.split()[0]
    print(f"host: {platform.machine()}, {os.cpu_count()} CPUs ({cpu}), {os.sysconf('SC_PHYS_PAGES') * os.sysconf('SC_PAGE_SIZE') >> 20} MB;"
          f" sqlite3 {sqlite}; load average {os.getloadavg()[0]:.1f}")
    print(f"code: {git('log', '-1', '--format=%h %s')}")
    print(f"LIKE: {git('log', '-1', '--format=%h %s', '--', 'src/store/like.cpp')}")
    print(f"{RUNS} iterations a step; ms are medians, ratios the medians of each iteration's ratio")
    growth = {}
    for n in sizes:
        source = os.path.join(DATA, str(n), "BR.mdb")
        if not os.path.exists(source):
            os.makedirs(os.path.dirname(source), exist_ok=True)
            subprocess.run(["/usr/bin/python3", MAKER, source, str(n)], stdout=subprocess.DEVNULL, check=True)
        work = os.path.join(DATA, "work", str(n))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        db = os.path.join(work, "BR.mdb")
        shutil.copyfile(source, db)
        with open(db, "rb") as f:  # the same warm file cache for every side
            while f.read(1 << 20):
                pass
        cli = {name: cli_ms(db, sql) for name, _, sql in STEPS if group_of(name) in GROUPS}
        steps, infos = {}, {}
        for group in GROUPS:
            s, i = run_group(build, work, group)
            steps.update(s)
            infos.update(i)
        print()
        print(f"== {n:,} books (list shows {int(infos.get('books', 0)):,}, {int(infos.get('visible_rows', 0))} rows visible) ==")
        print(f"{'step':<44} {'ms':>9} {'floor ms':>9} {'ratio':>6} {'cpu r.':>6} {'sqlite3':>9} {'ratio':>6}")
        for name, what, _ in STEPS:
            if name not in steps:
                continue
            ms, floor, ratio, _, _, cpu_ratio = steps[name]
            label = what
            if name.startswith("search_") and f"{name}_hits" in infos:
                label += f" ({int(infos[name + '_hits']):,} hits)"
            print(f"{label:<44} {ms:9.1f} {floor:9.2f} {ratio:6.2f} {cpu_ratio:6.2f} {cli[name]:9.1f} {ms / cli[name]:6.2f}")
            growth.setdefault(name, {})[n] = ms
        if "list" in GROUPS:
            print(f"memory: {infos.get('rss_before_open_mb', 0):.0f} MB before the list opens, "
              f"{infos.get('rss_open_mb', 0):.0f} MB with it open, {infos.get('rss_after_browse_mb', 0):.0f} MB after "
              f"200 jumps through it ({infos.get('browse_jump_ms', 0):.1f} ms a jump), peak {infos.get('rss_peak_mb', 0):.0f} MB; "
              f"peak {infos.get('rss_peak_open_mb', 0):.0f} MB opening the list, "
              f"{infos.get('rss_peak_search_sort_mb', 0):.0f} MB after its searches and sorts")
    if len(sizes) > 1:
        print()
        print("== growth: ms by collection size ==")
        print(f"{'step':<20}" + "".join(f"{n:>11,}" for n in sizes))
        for name in GROWTH:
            if name in growth:
                print(f"{name:<20}" + "".join(f"{growth[name].get(n, float('nan')):11.1f}" for n in sizes))
    print(f"\nload average at the end {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
