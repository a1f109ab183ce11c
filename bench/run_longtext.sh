#!/bin/bash
# Long fields on the screens beside the raw sqlite3 command reading the
# same field from the same file.
#
# Usage (from the repository root, after building bench_longtext):
#   bench/run_longtext.sh BUILD_DIR [CHARS...]     default: 1000 1000000 5000000
#
# For each length it makes a collection of three books, the second titled
# with that many characters (in $BENCH_DATA, default /tmp/bukurea-bench),
# runs bench_longtext on it and times `sqlite3 BR.mdb "select 書名 from tabel
# where rowid = 2;"` (median of 5 runs, process start included, output to
# /dev/null).
set -euo pipefail

build=${1:?usage: bench/run_longtext.sh BUILD_DIR [CHARS...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 1000000 5000000)
data=${BENCH_DATA:-/tmp/bukurea-bench}
runs=5

command -v sqlite3 >/dev/null || { echo "install the sqlite3 command (apt-get install sqlite3)" >&2; exit 1; }
[ -x "$build/bench_longtext" ] || { echo "build bench_longtext first: cmake --build $build --target bench_longtext" >&2; exit 1; }

. "$(dirname "$0")/sqlite3_time.sh"

printf 'host: %s, %s CPUs; sqlite3 %s\n' "$(uname -m)" "$(nproc)" "$(sqlite3 --version | cut -d' ' -f1)"
for n in "${sizes[@]}"; do
    dir=$data/longtext-$n
    mkdir -p "$dir"
    declare -A r=()
    while read -r key value; do r[$key]=$value; done < <("$build/bench_longtext" "$dir" "$n" 2>/dev/null)
    raw=$(raw_ms "$dir/BR.mdb" "select 書名 from tabel where rowid = 2;")
    echo
    echo "== a title of $n characters =="
    printf 'floor: sqlite3 command %s ms, SQLite in-process %s ms (reading the title)\n' "$raw" "${r[sqlite_read_ms]}"
    printf 'plain line edit: setText %s ms, idle with the focus %s %% of a core\n' \
        "${r[plain_lineedit_set_ms]:--}" "${r[plain_lineedit_idle_cpu_pct]:--}"
    printf 'edit screen: open %s ms, step onto the book %s ms, idle with the title box focused %s %%, typing 3 keys elsewhere %s ms, step off %s ms\n' \
        "${r[edit_open_ms]}" "${r[edit_step_onto_long_ms]}" "${r[edit_idle_cpu_pct]}" "${r[edit_type_author_ms]}" "${r[edit_step_off_ms]}"
    printf 'registration: paste %s ms, idle %s %%\n' "${r[register_paste_ms]}" "${r[register_idle_cpu_pct]}"
    printf 'list: paint %s ms, idle %s %%\n' "${r[list_paint_ms]}" "${r[list_idle_cpu_pct]}"
done
