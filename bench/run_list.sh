#!/bin/bash
# The list screen beside the raw sqlite3 command on the same collections.
#
# Usage (from the repository root, after building bench_list):
#   bench/run_list.sh BUILD_DIR [SIZES...]      default sizes: 1000 10000 100000
#
# For each size it makes a collection with ../shared/tools/make_books.py
# (kept in $BENCH_DATA, default /tmp/bukurea-bench, and reused on later
# runs), times the raw sqlite3 command running the statements the screen
# runs (median of 5 runs, process start included, output to /dev/null),
# runs bench_list on the same file and prints each figure with its ratio.
set -euo pipefail

build=${1:?usage: bench/run_list.sh BUILD_DIR [SIZES...]}
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000)
root=$(cd "$(dirname "$0")/.." && pwd)
maker=$root/../shared/tools/make_books.py
data=${BENCH_DATA:-/tmp/bukurea-bench}
runs=5

command -v sqlite3 >/dev/null || { echo "install the sqlite3 command (apt-get install sqlite3)" >&2; exit 1; }
[ -x "$build/bench_list" ] || { echo "build bench_list first: cmake --build $build --target bench_list" >&2; exit 1; }
[ -f "$maker" ] || { echo "missing $maker" >&2; exit 1; }

# Median wall time in ms of `sqlite3 FILE SQL > /dev/null`.
raw_ms() {
    local file=$1 sql=$2 i start end
    local times=()
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s%N)
        sqlite3 "$file" "$sql" >/dev/null
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v m=$((runs / 2)) 'NR == m + 1 { printf "%.1f", $1 / 1000 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf 'host: %s, %s CPUs; sqlite3 %s\n' "$(uname -m)" "$(nproc)" "$(sqlite3 --version | cut -d' ' -f1)"
for n in "${sizes[@]}"; do
    dir=$data/$n
    db=$dir/BR.mdb
    if [ ! -f "$db" ]; then
        mkdir -p "$dir"
        /usr/bin/python3 "$maker" "$db" "$n" >/dev/null
    fi
    cat "$db" >/dev/null # same warm page cache for both sides

    count=$(raw_ms "$db" "select count(*) from tabel;")
    ordered=$(raw_ms "$db" "select * from tabel order by 蔵書番号 asc;")
    search=$(raw_ms "$db" "select * from tabel where 書名 like '%の%';")
    numdesc=$(raw_ms "$db" "select * from tabel order by 蔵書番号 desc;")
    yeardesc=$(raw_ms "$db" "select * from tabel order by 出版年 desc;")
    yearasc=$(raw_ms "$db" "select * from tabel order by 出版年 asc;")
    openraw=$(awk -v a="$count" -v b="$ordered" 'BEGIN { printf "%.1f", a + b }')

    declare -A r=()
    while read -r key value; do r[$key]=$value; done < <(QT_QPA_PLATFORM=offscreen "$build/bench_list" "$dir" $runs 2>/dev/null)

    echo
    echo "== $n books: ${r[books]} listed, ${r[search_hits]} hits for the search =="
    printf '%10s %10s %7s   %s\n' "list ms" "raw ms" "ratio" "what (raw statement)"
    row() { printf '%10s %10s %7s   %s\n' "$1" "$2" "$(ratio "$1" "$2")" "$3"; }
    row "${r[open_ms]}" "$openraw" "open until painted (count + order by 蔵書番号 asc)"
    row "${r[search_title_no_ms]}" "$search" "search 書名 for の (where 書名 like '%の%')"
    row "${r[sort_number_desc_ms]}" "$numdesc" "sort 蔵書番号 降順 (order by 蔵書番号 desc)"
    row "${r[sort_year_desc_ms]}" "$yeardesc" "sort 出版年 降順 (order by 出版年 desc)"
    row "${r[sort_year_asc_ms]}" "$yearasc" "sort 出版年 昇順 (order by 出版年 asc)"
    row "${r[reset_number_asc_ms]}" "$openraw" "reset 昇順 (count + order by 蔵書番号 asc)"
    printf 'raw: count %s ms, ordered select %s ms; first open of the list %s ms\n' "$count" "$ordered" "${r[open_first_ms]}"
    printf 'store alone (one refresh): tabel %s, asc %s, search %s, desc %s, year desc %s, year asc %s ms\n' \
        "${r[store_tabel_ms]}" "${r[store_number_asc_ms]}" "${r[store_search_title_no_ms]}" "${r[store_number_desc_ms]}" \
        "${r[store_year_desc_ms]}" "${r[store_year_asc_ms]}"
    printf 'resident: %s MB before opening, %s MB open, %s MB after scrolling through all rows (%s pages, %s ms a page), peak %s MB\n' \
        "${r[rss_before_open_mb]}" "${r[rss_open_mb]}" "${r[rss_after_scroll_mb]}" "${r[scroll_pages]}" "${r[scroll_page_ms]}" "${r[rss_peak_mb]}"
done
