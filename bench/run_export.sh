#!/usr/bin/env bash
# The export of 60,000, 65,536 (a full worksheet) and 100,000 books (a second
# worksheet): our writer beside the `sqlite3 -csv` dump of the same rows
# (reading and formatting them, the process started as ours is) and
# python3-xlwt, a peer writer of the format. Process beside process: the dump
# and bench_export (which opens the record set, as the list has done before
# the click, exports and exits) take turns $PAIRS times (default 7); medians,
# the ratio the median of the pairs' ratios; xlwt best of 3. Then one more run
# of bench_export times the export alone from the open record set beside its
# in-process floor (SQLite reading every field of the same rows).
# Usage: bench/run_export.sh BUILD_DIR [SIZES...]   (needs sqlite3, python3-xlwt and python3-xlrd)
#   BEFORE=OTHER_BUILD_DIR: an earlier build's bench_export takes its turn
#   in every pair too (the same cells are checked, bench/same_cells.py).
# Collections are made with make_books.py and kept in $BENCH_DATA (default
# /tmp/bukurea-bench).
set -euo pipefail
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(60000 65536 100000)
root=$(cd "$(dirname "$0")/.." && pwd)
data=${BENCH_DATA:-/tmp/bukurea-bench}
# make_books.py: $MAKE_BOOKS, else shared/tools beside the checkout (or beside
# the folder of worktrees).
maker=${MAKE_BOOKS:-$root/../shared/tools/make_books.py}
[ -f "$maker" ] || maker=$root/../../shared/tools/make_books.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ms() { local s=$(date +%s%N); "$@" >/dev/null; echo $(( ($(date +%s%N) - s) / 1000000 )); }
best() { local b=999999 t; for _ in 1 2 3; do t=$(ms "$@"); [ "$t" -lt "$b" ] && b=$t; done; echo "$b"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
pairs=${PAIRS:-7}

for n in "${sizes[@]}"; do
    db=$data/$n/BR.mdb
    if [ ! -f "$db" ]; then
        mkdir -p "$data/$n"
        /usr/bin/python3 "$maker" "$db" "$n" >/dev/null
    fi
    cat "$db" >/dev/null
    # The dump and our process take turns, so that a busy moment of the
    # machine falls on both; the ratio is the median of the pairs' ratios.
    : >"$work/pairs"
    for _ in $(seq "$pairs"); do
        c=$(ms sqlite3 -csv "$db" "select * from tabel order by 蔵書番号 asc;")
        o=$(ms "$build/bench_export" "$db" "$work/ours.xls")
        b=$o
        [ -z "${BEFORE:-}" ] || b=$(ms "$BEFORE/bench_export" "$db" "$work/before.xls")
        echo "$c $o $b" >>"$work/pairs"
    done
    csv=$(cut -d' ' -f1 "$work/pairs" | median)
    ours=$(cut -d' ' -f2 "$work/pairs" | median)
    ratio=$(awk '{ printf "%.4f\n", $2 / $1 }' "$work/pairs" | median)
    before_line=
    if [ -n "${BEFORE:-}" ]; then
        # The same cells; the string tables may list the texts in another
        # order (a sorted list's rows are encoded in the table's order).
        cmp -s "$work/ours.xls" "$work/before.xls" || /usr/bin/python3 "$root/bench/same_cells.py" "$work/ours.xls" "$work/before.xls" \
            || echo "the workbooks of the two builds differ" >&2
        before_line="before (BEFORE's bench_export): $(cut -d' ' -f3 "$work/pairs" | median) ms (median of $pairs), process ratio to sqlite3 -csv: $(awk '{ printf "%.4f\n", $3 / $1 }' "$work/pairs" | median | awk '{ printf "%.2fx", $1 }')"
    fi
    # PEER=0 leaves xlwt out (it takes over a minute a run at 1,000,000 books).
    peer=0
    : >"$work/peer.xls"
    [ "${PEER:-1}" = 0 ] || peer=$(best /usr/bin/python3 "$root/bench/xlwt_peer.py" "$db" "$work/peer.xls")
    echo "== $n books =="
    "$build/bench_export" "$db" "$work/ours.xls" floor
    echo "sqlite3 -csv dump: ${csv} ms (median of $pairs)"
    echo "bukurea export:    ${ours} ms (median of $pairs), $(stat -c %s "$work/ours.xls") bytes"
    echo "python3-xlwt:      ${peer} ms (best of 3), $(stat -c %s "$work/peer.xls") bytes"
    awk -v r="$ratio" -v o="$ours" -v p="$peer" -v os="$(stat -c %s "$work/ours.xls")" -v ps="$(stat -c %s "$work/peer.xls")" \
        'BEGIN { printf "process ratio to sqlite3 -csv: %.2fx   xlwt / ours: %.1fx   size ours / xlwt: %.3f\n", r, p / o, ps ? os / ps : 0 }'
    [ -z "$before_line" ] || echo "$before_line"
done
