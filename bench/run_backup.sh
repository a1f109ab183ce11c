#!/bin/bash
# A backup of a large collection beside cp of the same file, in the same run.
#
# Usage (from the repository root, after building bench_backup and bukurea):
#   bench/run_backup.sh BUILD_DIR [BOOKS [SAVE_BOOKS]]
#                       defaults: 1000000 books, 100000 for the first save
#
# Makes the collection with ../shared/tools/make_books.py (kept in
# $BENCH_DATA, default /tmp/bukurea-bench, and reused), then times, run by
# run in turns so that each sees the same machine (median of 5, in ms):
#   cp            cp of BR.mdb to a new file (the kernel copies it; not synced)
#   cp + sync     the same, then `sync FILE` (fsync): as durable as a backup
#   sqlite3       the sqlite3 command's .backup into a new file
#   --backup      `bukurea --backup`, the whole process
# and then bench_backup in-process: the program's backup beside SQLite's
# online backup alone, without and with the sync. Last, on SAVE_BOOKS books,
# the time the first save of a day adds on the registration screen.
set -euo pipefail

build=${1:?usage: bench/run_backup.sh BUILD_DIR [BOOKS]}
books=${2:-1000000}
save_books=${3:-100000}
root=$(cd "$(dirname "$0")/.." && pwd)
maker=$root/../shared/tools/make_books.py
data=${BENCH_DATA:-/tmp/bukurea-bench}
runs=5

command -v sqlite3 >/dev/null || { echo "install the sqlite3 command (apt-get install sqlite3)" >&2; exit 1; }
for t in bench_backup bukurea; do
    [ -x "$build/$t" ] || { echo "build $t first: cmake --build $build --target $t" >&2; exit 1; }
done

collection() {
    local db=$data/$1/BR.mdb
    if [ ! -f "$db" ]; then
        mkdir -p "$data/$1"
        /usr/bin/python3 "$maker" "$db" "$1" >/dev/null
    fi
    echo "$db"
}
db=$(collection "$books")
# The program backs up the BR.mdb beside it: a scratch application directory
# holds a copy of it and of the collection.
app=$(mktemp -d "$data/backup-bench.XXXXXX")
trap 'rm -rf "$app"' EXIT
cp "$build/bukurea" "$app/"
cp "$db" "$app/BR.mdb"
cat "$app/BR.mdb" >/dev/null # the same warm page cache for every side

ms() { local s=$(date +%s%N); "$@" >/dev/null; echo $((($(date +%s%N) - s) / 1000)); }
median() { printf '%s\n' "$@" | sort -n | awk -v m=$(($# / 2)) 'NR == m + 1 { printf "%.1f", $1 / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

cps=() syncs=() sqls=() ours=()
for ((i = 0; i < runs; i++)); do
    cps+=($(ms cp "$app/BR.mdb" "$app/copy.tmp")); rm "$app/copy.tmp"
    syncs+=($(ms sh -c "cp '$app/BR.mdb' '$app/copy.tmp' && sync '$app/copy.tmp'")); rm "$app/copy.tmp"
    sqls+=($(ms sqlite3 "$app/BR.mdb" ".backup '$app/copy.tmp'")); rm "$app/copy.tmp"
    ours+=($(ms "$app/bukurea" --backup)); rm -r "$app/backup"
done
cp_ms=$(median "${cps[@]}")

declare -A r=()
while read -r key value; do r[$key]=$value; done < <("$build/bench_backup" copy "$app" $runs)

printf 'host: %s, %s CPUs; sqlite3 %s; %s books, %s bytes\n' "$(uname -m)" "$(nproc)" \
    "$(sqlite3 --version | cut -d' ' -f1)" "$books" "$(stat -c %s "$db")"
printf '%10s %7s   %s\n' "ms" "x cp" "what"
row() { printf '%10s %7s   %s\n' "$1" "$(ratio "$1" "$cp_ms")" "$2"; }
row "$cp_ms" "cp"
row "$(median "${syncs[@]}")" "cp + sync FILE"
row "$(median "${sqls[@]}")" "sqlite3 BR.mdb .backup"
row "$(median "${ours[@]}")" "bukurea --backup (whole process)"
row "${r[backup_ms]}" "backup in-process (file copy under the read lock, sync, rename, retention)"
row "${r[sqlite_copy_ms]}" "SQLite online backup alone, not synced"
row "${r[sqlite_copy_sync_ms]}" "SQLite online backup alone, synced"

# The first save of a day: the saves go into a scratch copy of the collection.
rm -rf "$app"/*
cp "$(collection "$save_books")" "$app/BR.mdb"
declare -A f=()
while read -r key value; do f[$key]=$value; done < <("$build/bench_backup" first-save "$app" $runs 2>/dev/null)
printf '\n%s books, "新規登録" on the registration screen (median of %s days):\n' "$save_books" $runs
printf '%10s   %s\n' "${f[first_save_ms]}" "first save of a day (makes the backup)"
printf '%10s   %s\n' "${f[later_save_ms]}" "later save the same day"
printf '%10s   %s\n' "${f[added_ms]}" "added by the backup"
