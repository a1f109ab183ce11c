#!/usr/bin/env bash
# Conversion of an Access collection of 100,000 books (jet4_100k.mdb of the
# shared test data) beside its floor in the same run: mdbtools' mdb-export of
# the table piped into the sqlite3 command's CSV import, the same work done
# by the command-line tools. Median of 5 runs each, process start included.
#
# Usage (from the repository root; needs the packages mdbtools and sqlite3):
#   bench/run_access.sh BUILD_DIR [JET_FILE]
set -euo pipefail
build=${1:?usage: bench/run_access.sh BUILD_DIR [JET_FILE]}
root=$(cd "$(dirname "$0")/.." && pwd)
jet=${2:-$root/../shared/fixtures/jet/jet4_100k.mdb}
runs=5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in mdb-export sqlite3; do
    command -v $tool >/dev/null || { echo "install $tool (apt-get install mdbtools sqlite3)" >&2; exit 1; }
done
[ -x "$build/bench_access" ] || { echo "build first: cmake --build $build --target bench_access bukurea bukurea-jet" >&2; exit 1; }
[ -f "$jet" ] || { echo "missing $jet" >&2; exit 1; }
cat "$jet" >/dev/null # the same warm page cache for every run

median() { sort -n | awk -v m=$((runs / 2)) 'NR == m + 1 { printf "%.0f", $1 }'; }
ms_of() { local s=$(date +%s%N); "$@"; echo $((($(date +%s%N) - s) / 1000000)); }

floor_once() {
    rm -f "$work/floor.db"
    mdb-export "$jet" tabel | sqlite3 "$work/floor.db" ".import --csv /dev/stdin tabel"
}
ours_once() {
    rm -f "$work/ours.db"
    "$build/bukurea" --convert-access "$jet" "$work/ours.db" >/dev/null
}

floor=$(for _ in $(seq $runs); do ms_of floor_once; done | median)
ours=$(for _ in $(seq $runs); do ms_of ours_once; done | median)
# The store's side alone, with the peak memory of each process.
declare -A r=()
while read -r key value; do r[$key]=$value; done < <(rm -f "$work/b.db"; "$build/bench_access" "$jet" "$work/b.db")

floor_rows=$(sqlite3 "$work/floor.db" "select count(*) from tabel")
ours_rows=$(sqlite3 "$work/ours.db" "select count(*) from tabel")
printf 'host: %s, %s CPUs; sqlite3 %s; %s\n' "$(uname -m)" "$(nproc)" "$(sqlite3 --version | cut -d' ' -f1)" "$(basename "$jet")"
printf 'floor, mdb-export | sqlite3 .import:  %6s ms  (%s rows)\n' "$floor" "$floor_rows"
printf 'bukurea --convert-access:             %6s ms  (%s rows)  ratio %s\n' "$ours" "$ours_rows" \
    "$(awk -v a="$ours" -v b="$floor" 'BEGIN { printf "%.2fx", a / b }')"
printf 'in process (bench_access):            %6s ms; peak resident: store %s MB, reader %s MB\n' \
    "${r[ms]}" "${r[parent_peak_mb]}" "${r[reader_peak_mb]}"
