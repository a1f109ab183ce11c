#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each one for a bounded time from
# its seed corpus. Fails on any crash, sanitizer report or wrong answer.
#
# Usage (from anywhere): bash tools/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]
#   defaults: 10 seconds, build-fuzz. New inputs found go to a temporary
#   folder (the committed seeds stay as they are); a crashing input is
#   kept and its path printed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
build=${2:-build-fuzz}

clang=$(command -v clang++ || true)
if [ -z "$clang" ]; then
    echo "fuzz.sh: clang++ is not installed; libFuzzer needs it (bash tools/install-deps.sh --test installs it)" >&2
    exit 1
fi
CXX=$clang cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" \
    -DBUILD_TESTING=ON -DBUKUREA_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/bukurea-fuzz.XXXXXX")
failed=()
shopt -s nullglob
runs=("$build"/fuzz/*.run)
[ ${#runs[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets in $build/fuzz" >&2; exit 1; }
for run in "${runs[@]}"; do
    mapfile -t entry < "$run"
    program=${entry[0]} seeds=${entry[1]} options=${entry[2]:-}
    name=$(basename "$program")
    mkdir -p "$work/$name"
    echo "== $name: ${seconds} s from $(find "$seeds" -type f | wc -l) seeds"
    # shellcheck disable=SC2086 # the options are separate flags
    if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$work/$name-" $options "$work/$name" "$seeds" > "$work/$name.log" 2>&1; then
        tail -40 "$work/$name.log"
        failed+=("$name")
    else
        grep -E "^stat::number_of_executed_units|^Done" "$work/$name.log" || true
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: failed: ${failed[*]} (inputs and logs in $work)" >&2
    exit 1
fi
rm -rf "$work"
echo "fuzz.sh: every target ran ${seconds} s without a fault"
