#!/usr/bin/env bash
# Export of 60,000 and 100,000 books: our writer beside the raw `sqlite3 -csv`
# dump of the same rows (the floor of reading and formatting them) and
# python3-xlwt. Beyond 65,536 rows both writers go on in a second worksheet.
# Usage: bench/run_export.sh BUILD_DIR [BOOKS...]   (needs sqlite3 and python3-xlwt)
# MAKE_BOOKS names make_books.py where it is not ../shared/tools beside the checkout.
set -euo pipefail
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(60000 100000)
root=$(cd "$(dirname "$0")/.." && pwd)
make_books=${MAKE_BOOKS:-$root/../shared/tools/make_books.py}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ms() { local s=$(date +%s%N); "$@" >/dev/null; echo $(( ($(date +%s%N) - s) / 1000000 )); }
best() { local b=999999 t; for _ in 1 2 3; do t=$(ms "$@"); [ "$t" -lt "$b" ] && b=$t; done; echo "$b"; }

for n in "${sizes[@]}"; do
  /usr/bin/python3 "$make_books" "$work/books.mdb" "$n" >/dev/null
  csv=$(best sqlite3 -csv "$work/books.mdb" "select * from tabel order by 蔵書番号 asc;")
  peer=$(best /usr/bin/python3 "$root/bench/xlwt_peer.py" "$work/books.mdb" "$work/peer.xls")
  ours=$(best "$build/bench_export" "$work/books.mdb" "$work/ours.xls")
  echo "== $n books"
  "$build/bench_export" "$work/books.mdb" "$work/ours.xls"
  echo "sqlite3 -csv dump: ${csv} ms"
  echo "python3-xlwt:      ${peer} ms, $(stat -c %s "$work/peer.xls") bytes"
  echo "bukurea export:    ${ours} ms, $(stat -c %s "$work/ours.xls") bytes"
  awk -v o="$ours" -v c="$csv" -v p="$peer" 'BEGIN { printf "ratio to sqlite3 -csv: %.2fx   xlwt / ours: %.1fx\n", o / c, p / o }'
  rm -f "$work/books.mdb" "$work/peer.xls" "$work/ours.xls"
done
