# Sourced by the benchmark scripts. raw_ms FILE SQL: the median wall time in
# ms of `sqlite3 FILE SQL > /dev/null` over $runs runs, process start
# included.
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
