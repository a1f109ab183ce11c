#!/usr/bin/env bash
# CSV both ways, as a user runs them without a window, beside the sqlite3
# command doing the same:
#   export of N books: `bukurea --export-csv FILE --force` (every book by
#     蔵書番号, every field quoted, UTF-8 with its mark) beside
#     `sqlite3 -csv BR.mdb "select * from tabel order by 蔵書番号 asc;" > FILE`;
#   import of N books: `bukurea --import-csv FILE` into an empty collection
#     (the encoding found, every line checked, the day's backup, then the
#     books added in one transaction) beside
#     `sqlite3 NEW.db "CREATE TABLE tabel (...)" ".import --csv --skip 1 FILE tabel"`.
# Process beside process, taking turns $PAIRS times (default 7): medians,
# the ratio the median of the pairs' ratios. Peak memory of our process
# from /usr/bin/time when it is installed.
# Usage: bench/run_csv.sh BUILD_DIR [EXPORT_SIZE [IMPORT_SIZE]]
#   (defaults 1000000 and 100000; needs sqlite3)
# Collections are made with make_books.py and kept in $BENCH_DATA (default
# /tmp/bukurea-bench).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
export_n=${2:-1000000}
import_n=${3:-100000}
root=$(cd "$(dirname "$0")/.." && pwd)
data=${BENCH_DATA:-/tmp/bukurea-bench}
maker=${MAKE_BOOKS:-$root/../shared/tools/make_books.py}
[ -f "$maker" ] || maker=$root/../../shared/tools/make_books.py
pairs=${PAIRS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ms() { local s=$(date +%s%N); "$@" >/dev/null; echo $(( ($(date +%s%N) - s) / 1000000 )); }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
collection() {
    local n=$1
    if [ ! -f "$data/$n/BR.mdb" ]; then
        mkdir -p "$data/$n"
        /usr/bin/python3 "$maker" "$data/$n/BR.mdb" "$n" >/dev/null
    fi
    echo "$data/$n/BR.mdb"
}
peak_kb() { if [ -x /usr/bin/time ]; then /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; else echo "?"; fi; }
schema="CREATE TABLE tabel (蔵書番号 INTEGER, 書名 TEXT, 著者名 TEXT, 出版社 TEXT, 出版年 INTEGER, 分類 TEXT, 保管場所 TEXT, 貸出 TEXT, キーワード TEXT);"
report() { # name pairs-file
    local c o r
    c=$(cut -d' ' -f1 "$2" | median)
    o=$(cut -d' ' -f2 "$2" | median)
    r=$(awk '{ printf "%.4f\n", $2 / $1 }' "$2" | median)
    echo "sqlite3: ${c} ms   bukurea: ${o} ms   (medians of $pairs)   ratio: $(printf %.2f "$r")x"
}

# Export: the program beside its collection.
db=$(collection "$export_n")
mkdir -p "$work/app"
cp "$build/bukurea" "$work/app/bukurea"
ln -s "$db" "$work/app/BR.mdb"
cat "$db" >/dev/null
: >"$work/pairs"
for _ in $(seq "$pairs"); do
    c=$(ms sh -c 'sqlite3 -csv "$1" "select * from tabel order by 蔵書番号 asc;" > "$2"' sh "$db" "$work/raw.csv")
    o=$(ms "$work/app/bukurea" --export-csv "$work/ours.csv" --force)
    echo "$c $o" >>"$work/pairs"
done
echo "== export of $export_n books =="
echo "sizes: sqlite3 $(stat -c %s "$work/raw.csv") bytes, bukurea $(stat -c %s "$work/ours.csv") bytes"
report export "$work/pairs"
echo "bukurea peak memory: $(peak_kb "$work/app/bukurea" --export-csv "$work/ours.csv" --force) KiB"

# Import: our own export of the smaller collection into an empty one.
src=$(collection "$import_n")
rm -f "$work/app/BR.mdb"
ln -s "$src" "$work/app/BR.mdb"
"$work/app/bukurea" --export-csv "$work/in.csv" --force >/dev/null
rm -f "$work/app/BR.mdb"
: >"$work/pairs"
for _ in $(seq "$pairs"); do
    rm -rf "$work/app/BR.mdb" "$work/app/backup" "$work/raw.db"
    sqlite3 "$work/app/BR.mdb" "$schema"
    c=$(ms sqlite3 "$work/raw.db" "$schema" ".import --csv --skip 1 $work/in.csv tabel")
    o=$(ms "$work/app/bukurea" --import-csv "$work/in.csv")
    echo "$c $o" >>"$work/pairs"
done
echo "== import of $import_n books ($(stat -c %s "$work/in.csv") bytes) =="
echo "rows: sqlite3 $(sqlite3 "$work/raw.db" 'select count(*) from tabel'), bukurea $(sqlite3 "$work/app/BR.mdb" 'select count(*) from tabel')"
report import "$work/pairs"
rm -rf "$work/app/BR.mdb" "$work/app/backup"
sqlite3 "$work/app/BR.mdb" "$schema"
echo "bukurea peak memory: $(peak_kb "$work/app/bukurea" --import-csv "$work/in.csv") KiB"
