#!/bin/bash
# A backup of a large collection beside cp of the same file, in the same run.
#
# Usage (from the repository root, after building bench_backup and bukurea):
#   bench/run_backup.sh BUILD_DIR [BOOKS...]        default: 1000000
#   BEFORE=OTHER_BUILD_DIR bench/run_backup.sh ...  also an earlier build's
#
# Makes each collection with ../shared/tools/make_books.py (kept in
# $BENCH_DATA, default /tmp/bukurea-bench, and reused), then times, run by
# run in turns so that each sees the same machine (median of $RUNS, default
# 5, in ms):
#   cp + sync     cp of BR.mdb to a new file, then `sync FILE` (fsync): the
#                 floor, as durable as a backup
#   cp            the same without the sync
#   sqlite3       the sqlite3 command's .backup into a new file
#   --backup      `bukurea --backup`, the whole process (and the earlier
#                 build's, with BEFORE)
#   first save    the time the first save of a day adds on the registration
#                 screen over a later save the same day (bench_backup
#                 first-save: $RUNS days in one process, each right after
#                 cp + sync of the same file, its ratio the median of the
#                 days' ratios to those; then as many in the earlier build's)
# and then bench_backup copy in-process: the program's backup beside SQLite's
# online backup alone, without and with the sync.
set -euo pipefail

build=${1:?usage: bench/run_backup.sh BUILD_DIR [BOOKS...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000)
before=${BEFORE:-}
root=$(cd "$(dirname "$0")/.." && pwd)
maker=${MAKE_BOOKS:-$root/../shared/tools/make_books.py}
[ -f "$maker" ] || maker=$root/../../shared/tools/make_books.py
data=${BENCH_DATA:-/tmp/bukurea-bench}
runs=${RUNS:-5}

command -v sqlite3 >/dev/null || { echo "install the sqlite3 command (apt-get install sqlite3)" >&2; exit 1; }
for b in "$build" ${before:+"$before"}; do
    for t in bench_backup bukurea; do
        [ -x "$b/$t" ] || { echo "build $t first: cmake --build $b --target $t" >&2; exit 1; }
    done
done

collection() {
    local db=$data/$1/BR.mdb
    if [ ! -f "$db" ]; then
        mkdir -p "$data/$1"
        /usr/bin/python3 "$maker" "$db" "$1" >/dev/null
    fi
    echo "$db"
}

ms() { local s=$(date +%s%N); "$@" >/dev/null 2>&1; echo $((($(date +%s%N) - s) / 1000)); }
median() { printf '%s\n' "$@" | sort -n | awk -v m=$(($# / 2)) 'NR == m + 1 { printf "%.1f", $1 / 1000 }'; }
medianMs() { printf '%s\n' "$@" | sort -n | awk -v m=$(($# / 2)) 'NR == m + 1 { printf "%.1f", $1 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The program backs up the BR.mdb beside it: an application directory of
# its own for each build, each with a copy of the collection.
appdir() {
    local dir=$work/$1
    mkdir -p "$dir"
    cp "$2/bukurea" "$dir/"
    [ ! -f "$2/bukurea-windows.so" ] || cp "$2/bukurea-windows.so" "$dir/"
    cp "$3" "$dir/BR.mdb"
    echo "$dir"
}
# The time the first save of a day adds: $runs days in one process, the
# median of the days.
added() {
    rm -rf "$1/backup"
    "$2/bench_backup" first-save "$1" "$runs" 2>/dev/null | awk '$1 == "added_ms" { a = $2 } $1 == "added_over_floor" { r = $2 } END { print a, r }'
    rm -rf "$1/backup"
}

work=$(mktemp -d "$data/backup-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
for books in "${sizes[@]}"; do
    db=$(collection "$books")
    rm -rf "$work"/*
    app=$(appdir after "$build" "$db")
    [ -z "$before" ] || old=$(appdir before "$before" "$db")
    cat "$db" >/dev/null # the same warm page cache for every side

    cps=() syncs=() sqls=() ours=() olds=() saves=() oldsaves=()
    for ((i = 0; i < runs; i++)); do
        syncs+=($(ms sh -c "cp '$app/BR.mdb' '$work/copy.tmp' && sync '$work/copy.tmp'")); rm "$work/copy.tmp"
        ours+=($(ms "$app/bukurea" --backup)); rm -r "$app/backup"
        if [ -n "$before" ]; then olds+=($(ms "$old/bukurea" --backup)); rm -r "$old/backup"; fi
        cps+=($(ms cp "$app/BR.mdb" "$work/copy.tmp")); rm "$work/copy.tmp"
        sqls+=($(ms sqlite3 "$app/BR.mdb" ".backup '$work/copy.tmp'")); rm "$work/copy.tmp"
    done
    saves=($(added "$app" "$build"))
    [ -z "$before" ] || oldsaves=($(added "$old" "$before"))
    floor=$(median "${syncs[@]}")

    declare -A r=()
    while read -r key value; do r[$key]=$value; done < <("$build/bench_backup" copy "$app" "$runs")

    printf '\nhost: %s, %s CPUs, load %s; sqlite3 %s; %s books, %s bytes; median of %s runs\n' "$(uname -m)" "$(nproc)" \
        "$(cut -d' ' -f1-3 /proc/loadavg)" "$(sqlite3 --version | cut -d' ' -f1)" "$books" "$(stat -c %s "$db")" "$runs"
    printf '%10s %12s   %s\n' "ms" "x cp + sync" "what"
    row() { printf '%10s %12s   %s\n' "$1" "$(ratio "$1" "$floor")" "$2"; }
    row "$floor" "cp + sync FILE (the floor)"
    row "$(median "${cps[@]}")" "cp, not synced"
    row "$(median "${sqls[@]}")" "sqlite3 BR.mdb .backup, not synced"
    row "$(median "${ours[@]}")" "bukurea --backup (whole process)"
    [ -z "$before" ] || row "$(median "${olds[@]}")" "bukurea --backup (whole process), before"
    row "${r[backup_ms]}" "backup in-process (file copy under the read lock, sync, rename, retention)"
    row "${r[sqlite_copy_ms]}" "SQLite online backup alone, not synced"
    row "${r[sqlite_copy_sync_ms]}" "SQLite online backup alone, synced"
    # The first save's own ratio is to cp + sync timed just before each of
    # its days (an earlier bench_backup gives none: the floor above).
    saved() { printf '%10s %12s   %s\n' "$1" "${2:-$(ratio "$1" "$floor")}" "$3"; }
    saved "${saves[0]}" "${saves[1]:-}" "added by the first save of a day (registration screen; ratio to cp + sync before each day)"
    [ -z "$before" ] || saved "${oldsaves[0]}" "${oldsaves[1]:-}" "added by the first save of a day, before"
done
