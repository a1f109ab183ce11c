#!/usr/bin/env bash
# Export of 60,000 books: our writer beside the raw `sqlite3 -csv` dump of
# the same rows (the floor of reading and formatting them) and python3-xlwt.
# Usage: bench/run_export.sh BUILD_DIR   (needs sqlite3 and python3-xlwt)
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$root/../shared/tools/make_books.py" "$work/books.mdb" 60000 >/dev/null

ms() { local s=$(date +%s%N); "$@" >/dev/null; echo $(( ($(date +%s%N) - s) / 1000000 )); }
best() { local b=999999 t; for _ in 1 2 3; do t=$(ms "$@"); [ "$t" -lt "$b" ] && b=$t; done; echo "$b"; }

csv=$(best sqlite3 -csv "$work/books.mdb" "select * from tabel order by 蔵書番号 asc;")
peer=$(best /usr/bin/python3 "$root/bench/xlwt_peer.py" "$work/books.mdb" "$work/peer.xls")
ours=$(best "$build/bench_export" "$work/books.mdb" "$work/ours.xls")
"$build/bench_export" "$work/books.mdb" "$work/ours.xls"
echo "sqlite3 -csv dump: ${csv} ms"
echo "python3-xlwt:      ${peer} ms, $(stat -c %s "$work/peer.xls") bytes"
echo "bukurea export:    ${ours} ms, $(stat -c %s "$work/ours.xls") bytes"
awk -v o="$ours" -v c="$csv" -v p="$peer" 'BEGIN { printf "ratio to sqlite3 -csv: %.2fx   xlwt / ours: %.1fx\n", o / c, p / o }'
