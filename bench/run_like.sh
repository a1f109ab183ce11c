#!/bin/bash
# The store's LIKE: single comparisons on hostile inputs, then field searches
# over whole collections beside SQLite's own LIKE and instr() in the same
# process and the raw sqlite3 command.
#
# Usage (from the repository root, after building bench_like):
#   bench/run_like.sh BUILD_DIR [SIZES...]      default sizes: 100000 1000000
#
# Collections are made with ../shared/tools/make_books.py and kept in
# $BENCH_DATA (default /tmp/bukurea-bench), as for run_list.sh.
set -euo pipefail

build=${1:?usage: bench/run_like.sh BUILD_DIR [SIZES...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
root=$(cd "$(dirname "$0")/.." && pwd)
maker=$root/../shared/tools/make_books.py
data=${BENCH_DATA:-/tmp/bukurea-bench}
runs=9

command -v sqlite3 >/dev/null || { echo "install the sqlite3 command (apt-get install sqlite3)" >&2; exit 1; }
[ -x "$build/bench_like" ] || { echo "build bench_like first: cmake --build $build --target bench_like" >&2; exit 1; }

. "$(dirname "$0")/sqlite3_time.sh"

printf 'host: %s, %s CPUs; sqlite3 %s\n' "$(uname -m)" "$(nproc)" "$(sqlite3 --version | cut -d' ' -f1)"

echo
echo "== one comparison (compile + match), ms =="
printf '| %s | %s | %s | %s | %s | %s |\n' "pattern and text" "pattern chars" "store" "previous" "fold only" "result"
printf '|---|---:|---:|---:|---:|---|\n'
"$build/bench_like" worst 3 | while IFS='|' read -r name plen ms prev fold result; do
    printf '| %s | %s | %s | %s | %s | %s |\n' "$name" "$plen" "$ms" "$prev" "$fold" "$result"
done

for n in "${sizes[@]}"; do
    dir=$data/$n
    db=$dir/BR.mdb
    if [ ! -f "$db" ]; then
        mkdir -p "$dir"
        /usr/bin/python3 "$maker" "$db" "$n" >/dev/null
    fi
    cat "$db" >/dev/null # same warm page cache for every side
    echo
    echo "== $n books: SELECT rowid FROM tabel WHERE field LIKE '*keyword*', ms (median of $runs) =="
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "field" "keyword" "hits" "store (UTF-8)" \
        "UTF-16 entry" "previous" "SQLite LIKE" "instr()" "sqlite3 command" "store / SQLite LIKE"
    printf '|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n'
    "$build/bench_like" search "$db" $runs |
        while IFS='|' read -r field keyword what hits ms ms16 prev sqlite instr sqlitehits same; do
            # The same search with SQLite's own LIKE: % for any run, _ for one.
            kw=${keyword//\'/\'\'}
            kw=${kw//#/_}
            raw=$(raw_ms "$db" "select rowid from tabel where [$field] like '%$kw%';")
            [ "$instr" = "0.0" ] && instr="–"
            ratio=$(awk -v a="$ms" -v b="$sqlite" 'BEGIN { printf "%.2f", a / b }')
            printf '| %s | %s (%s) | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$field" "$keyword" "$what" "$hits" \
                "$ms" "$ms16" "$prev" "$sqlite" "$instr" "$raw" "$ratio"
            [ "$same" = "same hits" ] || echo "!! $field $keyword: $same (SQLite's LIKE: $sqlitehits)"
        done
done
