#!/usr/bin/env bash
# Times the README's two builds from a clean clone, without a compiler cache:
#   (a) the run command's configure and build (the program only),
#   (b) the test command's configure and build (tests and benchmarks).
# The packages must be installed already (bash tools/install-deps.sh --test).
# Prints both wall times in seconds; run it on a quiet machine.
#
# Usage (from anywhere): bash tools/measure-build.sh [REVISION]   default: HEAD
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
rev=$(git -C "$repo" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/bukurea-measure.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The commands as the README gives them (without installing and starting).
run_build='cmake -S . -B build && cmake --build build -j2'
test_build='cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DBUKUREA_BENCH=ON && cmake --build build -j2'

# No compiler cache, whatever this shell has set up.
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

timed() { # label, command: builds in a fresh clone, prints the seconds
  local label=$1 command=$2 dir=$work/$1 start end
  git clone -q --no-checkout "$repo" "$dir"
  git -C "$dir" checkout -q "$rev"
  grep -qF "$command" "$dir/README.md" || { echo "measure-build.sh: the README no longer gives: $command" >&2; exit 1; }
  start=$(date +%s%N)
  (cd "$dir" && bash -c "$command") > "$work/$label.log" 2>&1 || { tail -30 "$work/$label.log"; exit 1; }
  end=$(date +%s%N)
  printf '%s build: %d s (%s)\n' "$label" $(((end - start + 500000000) / 1000000000)) "$command"
  rm -rf "$dir"
}

echo "revision $rev, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
timed run "$run_build"
timed test "$test_build"
